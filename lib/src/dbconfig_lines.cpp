// Line preparation of the tag-database configuration file and the streaming
// line reader the readers share.
#include "dbconfig_lines.hpp"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "qx/util.h"

namespace qx::dbconfig {

namespace {

constexpr std::size_t kReadChunk = 64 * 1024;

bool is_blank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

LineReader::LineReader(const char* path) {
    if (path == nullptr) return;
    fd_ = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return;
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        return;
    }
    // Room for a chunk plus the longest line that may straddle two chunks.
    buffer_.resize(kReadChunk + QX_CONFIG_INIT_LINE_MAX + 1);
}

LineReader::~LineReader() {
    if (fd_ >= 0) ::close(fd_);
}

bool LineReader::fill() {
    if (eof_) return false;
    if (begin_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    const std::size_t room = std::min(kReadChunk, buffer_.size() - end_);
    for (;;) {
        const ssize_t n = ::read(fd_, buffer_.data() + end_, room);
        if (n > 0) {
            end_ += static_cast<std::size_t>(n);
            return true;
        }
        if (n < 0 && errno == EINTR) continue;
        eof_ = true;  // end of file, or a read error: the rest is not read
        return false;
    }
}

bool LineReader::skip_rest_of_line() {
    for (;;) {
        const char* start = buffer_.data() + begin_;
        const void* lf = std::memchr(start, '\n', end_ - begin_);
        if (lf != nullptr) {
            begin_ += static_cast<std::size_t>(static_cast<const char*>(lf) - start) + 1;
            return true;
        }
        begin_ = end_;
        if (!fill()) return false;
    }
}

bool LineReader::next(std::size_t max_chars, std::string_view& line) {
    if (fd_ < 0) return false;
    if (skip_pending_) {
        skip_pending_ = false;
        if (!skip_rest_of_line()) return false;
    }
    for (;;) {
        const std::size_t available = end_ - begin_;
        const std::size_t window = std::min(available, max_chars);
        const char* start = buffer_.data() + begin_;
        if (const void* lf = std::memchr(start, '\n', window)) {
            const std::size_t length = static_cast<std::size_t>(static_cast<const char*>(lf) - start) + 1;
            line = std::string_view(start, length);
            begin_ += length;
            return true;
        }
        if (available >= max_chars) {
            // An over-long line: its first max_chars characters count; the
            // rest up to the line end is dropped on the next call, so that it
            // is never taken for a line of its own.
            line = std::string_view(start, max_chars);
            begin_ += max_chars;
            skip_pending_ = true;
            return true;
        }
        if (!fill()) {
            if (end_ == begin_) return false;
            line = std::string_view(buffer_.data() + begin_, end_ - begin_);  // last line without LF
            begin_ = end_;
            return true;
        }
    }
}

std::size_t PreparedLine::prepare(std::string_view raw) {
    const std::size_t n = std::min(raw.size(), text_.size() - 1);
    std::memcpy(text_.data(), raw.data(), n);
    text_[n] = '\0';
    // A NUL byte in the line ends it, as for any C text.
    const std::size_t length = std::strlen(text_.data());
    StrTrim2Comment(text_.data(), static_cast<int>(length + 1));
    return std::strlen(text_.data());
}

bool may_be_header(std::string_view raw) {
    for (char c : raw) {
        if (!is_blank(c)) return c == '[';
    }
    return false;
}

bool header_equals(const char* line, std::size_t length, std::string_view header) {
    return length == header.size() && ::strncasecmp(line, header.data(), length) == 0;
}

bool split_key_value(char* line, std::size_t length, bool trim_value, char*& key, char*& value) {
    char* eq = static_cast<char*>(std::memchr(line, '=', length));
    if (eq == nullptr) return false;
    *eq = '\0';
    key = line;
    StrTrim2(key, static_cast<int>(eq - line));
    value = eq + 1;
    if (trim_value) StrTrim2(value, static_cast<int>(line + length - value) + 1);
    return true;
}

int32_t read_long32(const char* text) {
    // strtol saturates instead of overflowing; the low 32 bits are kept as
    // the file writes every int32 as the unsigned decimal of its bits.
    const long value = std::strtol(text, nullptr, 10);
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long>(value)));
}

double read_double(const char* text) {
    // The writer's own numbers ("-12.5", "1e+20", "-nan") take the fast path;
    // everything else (blanks, "+", hex, "#QNAN") goes through atofnan.
    const char first = text[0];
    if ((first >= '0' && first <= '9') || first == '-' || first == '.') {
        const char* end = text + std::strlen(text);
        double value = 0.0;
        const auto [ptr, ec] = std::from_chars(text, end, value, std::chars_format::general);
        const bool hex_like = std::strpbrk(text, "xX") != nullptr;
        if (ec == std::errc() && ptr == end && !hex_like) return std::isnan(value) ? GetNan() : value;
    }
    return atofnan(text);
}

void copy_text(char* dest, std::size_t dest_size, const char* text, std::size_t max_chars) {
    std::memset(dest, 0, dest_size);
    const std::size_t n = strnlen(text, std::min(max_chars, dest_size - 1));
    std::memcpy(dest, text, n);
}

}  // namespace qx::dbconfig

// ---- Public line preparation ---------------------------------------------------

extern "C" void StrTrim2(char* text, int length) {
    if (text == nullptr || length <= 0) return;
    const std::size_t size = static_cast<std::size_t>(length);
    std::size_t n = strnlen(text, size);
    for (std::size_t i = 0; i < n; ++i)
        if (text[i] == '\t') text[i] = ' ';
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n')) --n;
    while (n > 0 && text[n - 1] == ' ') --n;
    std::size_t start = 0;
    while (start < n && text[start] == ' ') ++start;
    if (start > 0) std::memmove(text, text + start, n - start);
    n -= start;
    std::memset(text + n, 0, size - n);
}

extern "C" void StrTrim2Comment(char* text, int length) {
    if (text == nullptr || length <= 0) return;
    const std::size_t n = strnlen(text, static_cast<std::size_t>(length));
    if (n >= 2) {
        // The line's final character does not count (normally its LF).
        if (void* hash = ::memrchr(text, '#', n - 1)) {
            char* at = static_cast<char*>(hash);
            if (std::strncmp(at, "#QNAN", 5) != 0) *at = '\0';
        }
    }
    StrTrim2(text, length);
}

extern "C" int CsvSplitLine(char* dest, int slots, int slotSize, const char* line, char separator) {
    if (dest == nullptr || line == nullptr || slots <= 0 || slotSize <= 0) return -2;
    std::memset(dest, 0, static_cast<std::size_t>(slots) * static_cast<std::size_t>(slotSize));
    const std::size_t length = std::strlen(line);
    // A separator in the first position is part of the first piece.
    if (length < 2 || std::memchr(line + 1, separator, length - 1) == nullptr) return -1;

    int pieces = 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t from = pieces == 0 ? 1 : start;
        const char* sep = from <= length ? static_cast<const char*>(std::memchr(line + from, separator, length - from)) : nullptr;
        const std::size_t stop = sep != nullptr ? static_cast<std::size_t>(sep - line) : length;
        ++pieces;
        if (pieces < slots) {
            char piece[qx::dbconfig::kCsvPieceMax + 1];
            const std::size_t n = std::min(stop - start, qx::dbconfig::kCsvPieceMax);
            std::memcpy(piece, line + start, n);
            piece[n] = '\0';
            StrTrim2(piece, static_cast<int>(n + 1));
            char* slot = dest + static_cast<std::size_t>(pieces) * static_cast<std::size_t>(slotSize);
            const std::size_t keep = strnlen(piece, static_cast<std::size_t>(slotSize) - 1);
            std::memcpy(slot, piece, keep);
        }
        if (sep == nullptr) break;
        start = stop + 1;
    }
    return pieces + 1;
}
