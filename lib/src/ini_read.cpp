// Reading INI files: section names, the first block of a section, single keys.
// Every lookup reads the file anew under the INI lock.
#include <fcntl.h>
#include <strings.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>

#include "ini_line.hpp"

namespace {

using qx::ini::Fd;
using qx::ini::LineReader;

// The name between the brackets of a normalised header line, NUL-terminated
// in place; null for any other line.
char* header_name(char* line, std::size_t length) {
    if (length < 2 || line[0] != '[' || line[length - 1] != ']') return nullptr;
    line[length - 1] = '\0';
    return line + 1;
}

// Appends an entry and its zero byte when it leaves room for the closing zero.
void append_entry(std::span<char> out, int& stored, const char* entry, std::size_t entry_length) {
    const int length = static_cast<int>(entry_length);
    if (length + stored >= static_cast<int>(out.size()) - 2) return;
    std::memcpy(out.data() + stored, entry, static_cast<std::size_t>(length) + 1);
    stored += length + 1;
}

Fd open_for_reading(const char* file) { return Fd(open(file, O_RDONLY | O_CLOEXEC)); }

// The normalised entries of the first block of the section; the caller clears
// the buffer as far as it needs to.
int read_section(const char* section, std::span<char> out, const char* file) {
    qx::ini::IniLock lock;
    const Fd fd = open_for_reading(file);
    if (!fd || section == nullptr) return 0;
    LineReader reader(fd.get());
    int stored = 0;
    bool inside = false;
    for (std::span<char> piece = reader.next(); !piece.empty(); piece = reader.next()) {
        char* line = piece.data();
        const std::size_t length = qx::ini::normalise(line, std::strlen(line));
        if (const char* name = header_name(line, length)) {
            if (inside) break;  // only the first block of a section counts
            inside = strcasecmp(name, section) == 0;
            continue;
        }
        if (inside && length > 0) append_entry(out, stored, line, length);
    }
    return stored;
}

// The value of the first entry that starts with the key followed by '=' or a
// blank, or null.
const char* find_value(std::span<const char> entries, const char* key) {
    const std::size_t key_length = std::strlen(key);
    std::size_t pos = 0;
    while (pos < entries.size() && entries[pos] != '\0') {
        const char* entry = entries.data() + pos;
        const std::size_t length = strnlen(entry, entries.size() - pos);
        const char* equals = static_cast<const char*>(std::memchr(entry, '=', length));
        if (equals != nullptr && length > key_length && strncasecmp(entry, key, key_length) == 0 &&
            (entry[key_length] == '=' || entry[key_length] == ' '))
            return equals + 1;
        pos += length + 1;
    }
    return nullptr;
}

// Clears the caller's buffer and copies text into it, truncated so that it
// always ends with a zero byte.
int copy_result(char* buffer, int size, const char* text) {
    std::memset(buffer, 0, static_cast<std::size_t>(size));
    const std::size_t length = strnlen(text, static_cast<std::size_t>(size) - 1);
    std::memcpy(buffer, text, length);
    return static_cast<int>(length);
}

}  // namespace

extern "C" {

int GetPrivateProfileSectionNames(char* lpszReturnBuffer, int nSize, const char* lpFileName) {
    if (qx::ini::missing_name(lpFileName) || lpszReturnBuffer == nullptr || nSize <= 0) return 0;
    const std::span<char> out(lpszReturnBuffer, static_cast<std::size_t>(nSize));
    qx::ini::IniLock lock;
    std::memset(out.data(), 0, out.size());
    const Fd fd = open_for_reading(lpFileName);
    if (!fd) return 0;
    LineReader reader(fd.get());
    int stored = 0;
    for (std::span<char> piece = reader.next(); !piece.empty(); piece = reader.next()) {
        char* line = piece.data();
        const std::size_t length = qx::ini::normalise(line, std::strlen(line));
        if (const char* name = header_name(line, length)) append_entry(out, stored, name, length - 2);
    }
    return stored;
}

int GetPrivateProfileSection(const char* lpAppName, char* lpReturnedString, int nSize,
                             const char* lpFileName) {
    if (qx::ini::missing_name(lpFileName) || lpReturnedString == nullptr || nSize <= 0) return 0;
    const std::span<char> out(lpReturnedString, static_cast<std::size_t>(nSize));
    std::memset(out.data(), 0, out.size());
    return read_section(lpAppName, out, lpFileName);
}

int GetPrivateProfileString(const char* lpAppName, const char* lpKeyName, const char* lpDefault,
                            char* lpReturnedString, int nSize, const char* lpFileName) {
    if (qx::ini::missing_name(lpFileName) || lpReturnedString == nullptr || nSize <= 0) return 0;
    std::array<char, QX_INI_SECTION_SIZE> entries;
    const int stored = read_section(lpAppName, entries, lpFileName);
    entries[static_cast<std::size_t>(stored)] = '\0';  // the list's closing zero
    const char* value = lpKeyName != nullptr ? find_value({entries.data(), static_cast<std::size_t>(stored)}, lpKeyName)
                                             : nullptr;
    if (value != nullptr) return copy_result(lpReturnedString, nSize, value);
    return copy_result(lpReturnedString, nSize, lpDefault != nullptr ? lpDefault : "");
}

int GetPrivateProfileInt(const char* lpAppName, const char* lpKeyName, int nDefault, const char* lpFileName) {
    if (qx::ini::missing_name(lpFileName)) return 0;
    std::array<char, 16> fallback{};
    std::snprintf(fallback.data(), fallback.size(), "%d", nDefault);
    std::array<char, QX_INI_LINE_SIZE> value{};
    GetPrivateProfileString(lpAppName, lpKeyName, fallback.data(), value.data(), static_cast<int>(value.size()),
                            lpFileName);
    // atoi's reading, without its undefined behaviour on overflow.
    const long number = std::strtol(value.data(), nullptr, 10);
    if (number > INT_MAX) return INT_MAX;
    if (number < INT_MIN) return INT_MIN;
    return static_cast<int>(number);
}

}  // extern "C"
