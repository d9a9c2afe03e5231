// Rewriting INI files: a key set or deleted, a section deleted or replaced.
// The file is copied line by line into the one temporary file of the INI layer
// (guarded by the INI lock), lines being recognised by POSIX regular
// expressions, and the temporary file then replaces the INI file in a single
// rename, so the file's name always holds either the old or the new content.
#include <fcntl.h>
#include <regex.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>

#include "fixed_path.hpp"
#include "ini_line.hpp"

namespace {

using qx::ini::Fd;
using qx::ini::LineReader;

constexpr long kMinFileSize = QX_INI_MIN_FILE_SIZE;

enum class Mode { kSetKey, kDeleteKey, kDeleteSection, kReplaceSection };

bool drops_section(Mode mode) { return mode == Mode::kDeleteSection || mode == Mode::kReplaceSection; }

// Where a message goes: the monitor (standard output), the write log, or both.
enum class Sink { kMonitor, kLog, kBoth };

// The texts one write function reports with; each takes the arguments its
// format names.
struct Messages {
    const char* caller;
    const char* too_small_before;  // file, size
    const char* open_failed;       // temporary file and file, or the file alone for sections
    const char* rename_failed;     // temporary file, file, errno, text
    Sink rename_sink;
    const char* too_small_after;   // file, size
    Sink after_sink;
    const char* refused;           // temporary file, size
};

constexpr Messages kStringMessages{
    "WritePrivateProfileString",
    "WritePrivateProfileString: Datei zu klein(A): Filename: %s, size=%d\n",
    "WritePrivateProfileString: Datei oeffnen: szFileNew=%s, lpFileName=%s\n",
    "WritePrivateProfileString: rename(), szFileNew: %s, lpFileName: %s, errno=%d(%s)\n",
    Sink::kLog,
    "WritePrivateProfileString: Datei zu klein(C): Filename: %s, size=%d\n",
    Sink::kLog,
    "WritePrivateProfileString: Datei zu klein (B): Filename: %s, size=%d\n",
};

constexpr Messages kSectionMessages{
    "WritePrivateProfileSection",
    "A WritePrivateProfileSection: Datei zu klein(A): Filename: %s, size=%d\n",
    "B WritePrivateProfileSection: Datei oeffnen fehlgeschlage: lpFileName=%s\n",
    "E WritePrivateProfileSection: rename(), szFileNew: %s, lpFileName: %s, errno=%d(%s)\n",
    Sink::kBoth,
    "F WritePrivateProfileSection: Datei zu klein(C): Filename: %s, size=%d\n",
    Sink::kMonitor,
    "C WritePrivateProfileSection: Datei zu klein (B): Filename: %s, size=%d\n",
};

// The write log, opened for appending for one write; standard output when
// it can't be opened.
class WriteLog {
public:
    WriteLog() {
        // Without its directory every write would fail for good.
        std::error_code ignored;
        std::filesystem::create_directories(qx::fixed_path("/home/kwz/log"), ignored);
        file_ = std::fopen(qx::fixed_path("/home/kwz/log/w32ini.log").c_str(), "ae");
        if (file_ == nullptr) file_ = stdout;
    }
    ~WriteLog() {
        if (file_ != stdout) std::fclose(file_);
    }
    WriteLog(const WriteLog&) = delete;
    WriteLog& operator=(const WriteLog&) = delete;

    __attribute__((format(printf, 3, 4))) void report(Sink sink, const char* format, ...) {
        std::array<char, 1024> text{};
        va_list args;
        va_start(args, format);
        std::vsnprintf(text.data(), text.size(), format, args);
        va_end(args);
        if (sink != Sink::kLog) ux_print_moni("%s", text.data());
        if (sink != Sink::kMonitor && !(sink == Sink::kBoth && file_ == stdout)) {
            std::fputs(text.data(), file_);
            std::fflush(file_);
        }
    }

private:
    std::FILE* file_ = nullptr;
};

// One compiled extended, case-insensitive, newline-mode expression.
class Pattern {
public:
    Pattern() = default;
    ~Pattern() {
        if (compiled_) regfree(&regex_);
    }
    Pattern(const Pattern&) = delete;
    Pattern& operator=(const Pattern&) = delete;

    bool compile(const char* text) {
        compiled_ = regcomp(&regex_, text, REG_EXTENDED | REG_ICASE | REG_NEWLINE | REG_NOSUB) == 0;
        return compiled_;
    }
    bool matches(const char* line) const { return compiled_ && regexec(&regex_, line, 0, nullptr, 0) == 0; }

private:
    regex_t regex_{};
    bool compiled_ = false;
};

// A name made a literal part of an expression: it must match itself and
// nothing else, as names compare on the reading side.  False when the
// escaped name does not fit the name buffer.
bool escape_name(const char* name, std::span<char> out) {
    std::size_t used = 0;
    for (const char* p = name; *p != '\0'; ++p) {
        const bool special = std::strchr("\\^$.[]|()*+?{}", *p) != nullptr;
        if (used + (special ? 2 : 1) >= out.size()) return false;
        if (special) out[used++] = '\\';
        out[used++] = *p;
    }
    out[used] = '\0';
    return true;
}

// The expression around an escaped name; false when it does not fit.
bool form_pattern(std::span<char> out, const char* before, const char* name, const char* after) {
    const int length = std::snprintf(out.data(), out.size(), "%s%s%s", before, name, after);
    return length >= 0 && static_cast<std::size_t>(length) < out.size();
}

// A section header of the given name, optionally followed by further text.
bool form_section_pattern(const char* section, std::span<char> out) {
    std::array<char, QX_INI_NAME_SIZE> escaped;
    return escape_name(section, escaped) && form_pattern(out, "^[ \t]*\\[[ \t]*", escaped.data(), "[ \t]*\\].*$");
}

bool form_key_pattern(const char* key, std::span<char> out) {
    std::array<char, QX_INI_NAME_SIZE> escaped;
    return escape_name(key, escaped) && form_pattern(out, "^[ \t]*", escaped.data(), "[ \t]*=.*$");
}

// The patterns every rewrite uses besides the section's.
struct LinePatterns {
    Pattern comment;
    Pattern header;
    Pattern section;
    Pattern key;
};

bool compile_common(LinePatterns& patterns, const char* section_pattern) {
    return patterns.comment.compile("^[ \t]*#.*$") &&
           patterns.header.compile("^[ \t]*\\[.*\\][ \t]*(#.*)?$") && patterns.section.compile(section_pattern);
}

long file_size(const char* path) {
    struct stat st {};
    return stat(path, &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

// Copies the INI file into the temporary file, changing what the mode asks.
class Rewriter {
public:
    Rewriter(std::FILE* out, Mode mode, const LinePatterns& patterns, const char* key, const char* value)
        : out_(out), mode_(mode), patterns_(patterns), key_(key), value_(value) {}

    // Copies every line of the file; false when reading failed.
    bool copy(int fd) {
        LineReader reader(fd);
        bool keep_piece = true;
        bool at_line_start = true;
        for (std::span<char> piece = reader.next(); !piece.empty(); piece = reader.next()) {
            // The rest of a line longer than the line buffer shares its first piece's fate.
            if (at_line_start) keep_piece = keep_line(piece);
            if (keep_piece) put(piece.data(), piece.size());
            at_line_start = piece.back() == '\n';
        }
        return !reader.failed();
    }

    // What a key setting leaves to add at the end of the file.
    void finish(const char* section) {
        if (mode_ != Mode::kSetKey || key_written_) return;
        if (!found_) {
            print("\n[%s]\n", section);
            put_key_line();
        } else if (inside_) {
            if (!ends_with_lf_) put("\n", 1);  // never glue the key to an unterminated last line
            put_key_line();
        }
    }

    void put(const char* data, std::size_t size) {
        if (size == 0) return;
        if (std::fwrite(data, 1, size, out_) != size) failed_ = true;
        ends_with_lf_ = data[size - 1] == '\n';
    }
    void print(const char* format, const char* text) {
        if (std::fprintf(out_, format, text) < 0) failed_ = true;
        ends_with_lf_ = true;
    }
    bool failed() const { return failed_; }

private:
    // Decides for a whole line whether it is copied as read.
    bool keep_line(std::span<char> piece) {
        // Match the line as the reader sees it: without its CR LF or LF.
        std::size_t end = piece.size();
        if (end > 0 && piece[end - 1] == '\n') --end;
        if (end > 0 && piece[end - 1] == '\r') --end;
        char* line = piece.data();  // the reader's buffer holds a byte past the piece
        const char saved = line[end];
        line[end] = '\0';
        const bool keep = classify(line);
        line[end] = saved;
        return keep;
    }

    bool classify(const char* line) {
        if (patterns_.comment.matches(line)) return !(inside_ && drops_section(mode_));
        if (inside_) {
            if (!patterns_.header.matches(line)) return keep_in_section(line);
            inside_ = false;
            if (mode_ == Mode::kSetKey && !key_written_) put_key_line();
            // The next header may open another block of the same section.
        }
        if (patterns_.section.matches(line)) {
            inside_ = true;
            found_ = true;
            return !drops_section(mode_);
        }
        return true;
    }

    bool keep_in_section(const char* line) {
        if (drops_section(mode_)) return false;
        if (!patterns_.key.matches(line)) return true;
        if (mode_ == Mode::kSetKey) put_key_line();
        return false;
    }

    void put_key_line() {
        if (std::fprintf(out_, "%s=%s\n", key_, value_) < 0) failed_ = true;
        ends_with_lf_ = true;
        key_written_ = true;
    }

    std::FILE* out_;
    Mode mode_;
    const LinePatterns& patterns_;
    const char* key_;
    const char* value_;
    bool inside_ = false;
    bool found_ = false;
    bool key_written_ = false;
    bool ends_with_lf_ = true;
    bool failed_ = false;
};

// fsync of the directory that holds the file, so that the rename is stored too.
void sync_directory_of(const char* file) {
    const std::filesystem::path parent = std::filesystem::path(file).parent_path();
    const Fd dir(open(parent.empty() ? "." : parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir) fsync(dir.get());
}

// One rewrite of one INI file under the INI lock.
struct WriteRequest {
    const Messages& messages;
    Mode mode;
    const char* section;
    const char* key;
    const char* value;
    const char* content;  // lines of a replaced section, or null
    const char* file;
};

// Writes the temporary file; returns its size (0 when nothing could be
// copied), or -1 when writing it failed.
long write_temporary(const WriteRequest& request, const LinePatterns& patterns, const std::string& temporary,
                     WriteLog& log) {
    // Only a section write may create the file; any other failure to open it
    // would replace an existing file that could not be read.
    const bool may_create = request.mode == Mode::kReplaceSection;
    Fd ini(open(request.file, O_RDWR | O_CLOEXEC));
    if (!ini) {
        const bool creating = may_create && errno == ENOENT;
        if (may_create) log.report(Sink::kMonitor, request.messages.open_failed, request.file);
        else log.report(Sink::kMonitor, request.messages.open_failed, temporary.c_str(), request.file);
        if (!creating) return 0;
    }
    std::FILE* out = std::fopen(temporary.c_str(), "we");
    if (out == nullptr) {
        if (may_create)
            log.report(Sink::kMonitor, "B1 WritePrivateProfileSection: Datei oeffnen fehlgeschlagen: szFileNew=%s\n",
                       temporary.c_str());
        else log.report(Sink::kMonitor, request.messages.open_failed, temporary.c_str(), request.file);
        return 0;
    }

    Rewriter rewriter(out, request.mode, patterns, request.key, request.value);
    bool read_ok = true;
    if (ini) read_ok = rewriter.copy(ini.get());
    if (request.mode == Mode::kReplaceSection) {
        if (request.content != nullptr) {
            rewriter.print("\n[%s]\n", request.section);
            for (const char* line = request.content; *line != '\0'; line += std::strlen(line) + 1) {
                rewriter.put(line, std::strlen(line));
                rewriter.put("\n", 1);
            }
            rewriter.put("\n", 1);
        }
    } else {
        rewriter.finish(request.section);
    }

    // The new file keeps the old one's permissions.
    struct stat st {};
    if (ini && fstat(ini.get(), &st) == 0) fchmod(fileno(out), st.st_mode & 07777);
    const bool flushed = std::fflush(out) == 0 && fsync(fileno(out)) == 0;
    const int flush_errno = errno;
    const bool closed = std::fclose(out) == 0;
    if (!read_ok || rewriter.failed() || !flushed || !closed) {
        const int error = !read_ok ? EIO : (flushed ? errno : flush_errno);
        log.report(Sink::kBoth, "%s: write(), szFileNew: %s, lpFileName: %s, errno=%d(%s)\n",
                   request.messages.caller, temporary.c_str(), request.file, error, std::strerror(error));
        return -1;
    }
    return file_size(temporary.c_str());
}

int rewrite(const WriteRequest& request, const char* section_pattern, const char* key_pattern) {
    LinePatterns patterns;
    if (!compile_common(patterns, section_pattern) || (key_pattern != nullptr && !patterns.key.compile(key_pattern))) {
        ux_print_moni("%s: regcomp() fehlgeschlagen: Sektion=%.64s\n", request.messages.caller, request.section);
        return 0;
    }
    const std::string temporary = qx::fixed_path("/home/kwz/log/temp.ini");

    qx::ini::IniLock lock;
    WriteLog log;
    if (request.mode == Mode::kDeleteSection)
        ux_print_moni("A WritePrivateProfileString: Loesche Sektion: %s\n", request.section);
    else if (request.mode == Mode::kDeleteKey)
        ux_print_moni("B WritePrivateProfileString: Loesche Key: %s, %s\n", request.section, request.key);

    const long old_size = file_size(request.file);
    if (old_size >= 0 && old_size < kMinFileSize)
        log.report(Sink::kMonitor, request.messages.too_small_before, request.file, static_cast<int>(old_size));

    const long new_size = write_temporary(request, patterns, temporary, log);
    if (new_size < 0) return 0;
    if (new_size < kMinFileSize) {
        // Never empty an INI file: the old content stays.
        log.report(Sink::kMonitor, request.messages.refused, temporary.c_str(), static_cast<int>(new_size));
        return 0;
    }
    if (std::rename(temporary.c_str(), request.file) != 0) {
        const int error = errno;
        log.report(request.messages.rename_sink, request.messages.rename_failed, temporary.c_str(), request.file,
                   error, std::strerror(error));
        return 0;
    }
    const long written = file_size(request.file);
    if (written < kMinFileSize)
        log.report(request.messages.after_sink, request.messages.too_small_after, request.file,
                   static_cast<int>(written));
    sync_directory_of(request.file);
    return 1;
}

void refuse_name(const char* caller, const char* what, const char* name) {
    ux_print_moni("%s: %s zu lang: %.64s\n", caller, what, name);
}

// A line end inside a name or value would write lines of its own into the
// file (a forged key or section) and could never be read back as written.
bool accept_one_line(const char* caller, const char* what, const char* text) {
    if (text == nullptr || std::strpbrk(text, "\r\n") == nullptr) return true;
    ux_print_moni("%s: %s mit Zeilenende: %.64s\n", caller, what, text);
    return false;
}

// Forms the section pattern; refuses, with a message, a missing section name
// or one too long for the write buffers.
bool accept_section(const char* caller, const char* section, const char* file, std::span<char> pattern) {
    if (section == nullptr) {
        ux_print_moni("%s: keine Sektion: lpFileName=%s\n", caller, file);
        return false;
    }
    if (!accept_one_line(caller, "Sektion", section)) return false;
    if (!form_section_pattern(section, pattern)) {
        refuse_name(caller, "Sektion", section);
        return false;
    }
    return true;
}

}  // namespace

extern "C" {

int WritePrivateProfileString(const char* lpAppName, const char* lpKeyName, const char* lpString,
                              const char* lpFileName) {
    if (qx::ini::missing_name(lpFileName)) return 0;
    std::array<char, QX_INI_PATTERN_SIZE> section_pattern;
    if (!accept_section(kStringMessages.caller, lpAppName, lpFileName, section_pattern)) return 0;
    std::array<char, QX_INI_PATTERN_SIZE> key_pattern;
    if (lpKeyName != nullptr && !form_key_pattern(lpKeyName, key_pattern)) {
        refuse_name(kStringMessages.caller, "Key", lpKeyName);
        return 0;
    }
    if (!accept_one_line(kStringMessages.caller, "Key", lpKeyName) ||
        !accept_one_line(kStringMessages.caller, "Wert", lpString))
        return 0;
    const Mode mode = lpKeyName == nullptr ? Mode::kDeleteSection
                      : lpString == nullptr ? Mode::kDeleteKey
                                            : Mode::kSetKey;
    const WriteRequest request{kStringMessages, mode, lpAppName, lpKeyName, lpString, nullptr, lpFileName};
    return rewrite(request, section_pattern.data(), lpKeyName != nullptr ? key_pattern.data() : nullptr);
}

int WritePrivateProfileSection(const char* lpAppName, const char* lpString, const char* lpFileName) {
    if (qx::ini::missing_name(lpFileName)) return 0;
    std::array<char, QX_INI_PATTERN_SIZE> section_pattern;
    if (!accept_section(kSectionMessages.caller, lpAppName, lpFileName, section_pattern)) return 0;
    const WriteRequest request{kSectionMessages, Mode::kReplaceSection, lpAppName, nullptr, nullptr, lpString,
                               lpFileName};
    return rewrite(request, section_pattern.data(), nullptr);
}

}  // extern "C"
