// Fuzzes the INI reader: the input is an INI file; every section it names is
// read whole and key by key with buffers of several sizes, and every line is
// normalised on its own.  Nothing may crash, hang or touch memory out of bounds.
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "qx.h"

namespace {

constexpr size_t kKeysPerSection = 4;
constexpr size_t kSections = 4;

std::string g_file;
std::string g_tmp;

void write_input(const uint8_t* data, size_t size) {
    std::FILE* out = std::fopen(g_file.c_str(), "wb");
    if (out == nullptr) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, out) != size) std::abort();
    std::fclose(out);
}

// The zero-separated entries of a result list.
std::vector<std::string> entries(const char* list, int stored) {
    std::vector<std::string> out;
    for (int pos = 0; pos < stored;) {
        const std::string entry(list + pos);
        out.push_back(entry);
        pos += static_cast<int>(entry.size()) + 1;
    }
    return out;
}

void read_keys(const std::string& section, const std::vector<std::string>& lines) {
    std::array<char, 64> small{};
    std::array<char, 9000> large{};
    // A few keys per section keep the run fast; the rest repeat the same paths.
    for (size_t i = 0; i < lines.size() && i < kKeysPerSection; ++i) {
        const std::string& line = lines[i];
        const std::string key = line.substr(0, line.find('='));
        const int length = GetPrivateProfileString(section.c_str(), key.c_str(), "d", large.data(),
                                                   static_cast<int>(large.size()), g_file.c_str());
        if (length != static_cast<int>(std::strlen(large.data()))) std::abort();
        GetPrivateProfileString(section.c_str(), key.c_str(), "default value", small.data(), 3, g_file.c_str());
        if (small[2] != '\0') std::abort();
        GetPrivateProfileInt(section.c_str(), key.c_str(), -1, g_file.c_str());
    }
}

// FormIniString as its steps read one by one.
std::string normalised_stepwise(std::vector<char> line) {
    NoCrLf(line.data(), static_cast<int>(std::strlen(line.data())));
    NoComment(line.data());
    StrTrim1(line.data());
    std::string text(line.data());
    const size_t equals = text.find('=');
    if (equals == std::string::npos) return text;
    std::vector<char> name(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(equals));
    std::vector<char> value(text.begin() + static_cast<std::ptrdiff_t>(equals) + 1, text.end());
    name.push_back('\0');
    value.push_back('\0');
    StrTrim1(name.data());
    StrTrim1(value.data());
    return std::string(name.data()) + "=" + value.data();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The reader takes the INI semaphore: keep it away from the machine's.
    unshare(CLONE_NEWIPC);
    // Memory-backed when possible: every input is written to a file.
    static char root[] = "/dev/shm/qx-ini-fuzz-XXXXXX";
    static char fallback[] = "/tmp/qx-ini-fuzz-XXXXXX";
    if (mkdtemp(root) == nullptr) {
        if (mkdtemp(fallback) == nullptr) std::abort();
        std::memcpy(root, fallback, sizeof fallback);
    }
    setenv("QX_ROOT", root, 1);
    g_tmp = std::string(root) + "/tmp";
    mkdir(g_tmp.c_str(), 0700);
    g_file = std::string(root) + "/fuzz.ini";
    std::atexit([] {
        std::remove(g_file.c_str());
        std::remove((g_tmp + "/ini.sema").c_str());
        rmdir(g_tmp.c_str());
        rmdir(root);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    write_input(data, size);

    std::array<char, 4096> names{};
    const int stored = GetPrivateProfileSectionNames(names.data(), static_cast<int>(names.size()), g_file.c_str());
    if (stored < 0 || stored > static_cast<int>(names.size()) - 2) std::abort();
    std::array<char, 7> tiny{};
    GetPrivateProfileSectionNames(tiny.data(), static_cast<int>(tiny.size()), g_file.c_str());

    std::vector<char> section(2048);
    const std::vector<std::string> sections = entries(names.data(), stored);
    for (size_t i = 0; i < sections.size() && i < kSections; ++i) {
        const std::string& name = sections[i];
        const int got = GetPrivateProfileSection(name.c_str(), section.data(), static_cast<int>(section.size()),
                                                 g_file.c_str());
        if (got < 0 || got > static_cast<int>(section.size()) - 2) std::abort();
        read_keys(name, entries(section.data(), got));
        GetPrivateProfileSection(name.c_str(), tiny.data(), static_cast<int>(tiny.size()), g_file.c_str());
    }

    // Each line normalised alone, in a buffer exactly its size.
    const auto* text = reinterpret_cast<const char*>(data);
    for (size_t start = 0; start < size;) {
        const void* lf = std::memchr(text + start, '\n', size - start);
        const size_t end = lf != nullptr ? static_cast<size_t>(static_cast<const char*>(lf) - text) + 1 : size;
        std::vector<char> line(text + start, text + end);
        line.push_back('\0');
        const std::string expected = normalised_stepwise(line);
        FormIniString(line.data());
        if (expected != line.data()) std::abort();
        start = end;
    }
    return 0;
}
