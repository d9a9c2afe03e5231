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

void blanks_for_tabs(char* text, std::size_t n) {
    char* const end = text + n;
    for (char* p = text; p < end && (p = static_cast<char*>(std::memchr(p, '\t', static_cast<std::size_t>(end - p)))) != nullptr;)
        *p++ = ' ';
}

// Trailing CR and LF, then trailing blanks, then leading blanks of a text
// without tabs: returns the new start, n becomes the trimmed length.
char* trim_range(char* text, std::size_t& n) {
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n')) --n;
    while (n > 0 && text[n - 1] == ' ') --n;
    std::size_t start = 0;
    while (start < n && text[start] == ' ') ++start;
    n -= start;
    return text + start;
}

// Cuts a text of length n at its last "#" before the final character,
// unless "#QNAN" stands there; returns the new length.
std::size_t cut_comment(char* text, std::size_t n) {
    if (n < 2) return n;
    char* hash = static_cast<char*>(::memrchr(text, '#', n - 1));
    if (hash == nullptr) return n;
    const std::size_t at = static_cast<std::size_t>(hash - text);
    if (n - at >= 5 && std::memcmp(hash, "#QNAN", 5) == 0) return n;
    *hash = '\0';
    return at;
}

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
    max_chars = std::clamp<std::size_t>(max_chars, 1, QX_CONFIG_INIT_LINE_MAX);  // what the buffer holds
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
    std::size_t n = std::min(raw.size(), text_.size() - 1);
    // A NUL byte in the line ends it, as for any C text.
    if (const void* nul = std::memchr(raw.data(), '\0', n)) n = static_cast<std::size_t>(static_cast<const char*>(nul) - raw.data());
    char* text = text_.data();
    std::memcpy(text, raw.data(), n);
    text[n] = '\0';
    // StrTrim2Comment, on a text whose length is known.
    n = cut_comment(text, n);
    blanks_for_tabs(text, n);
    const char* start = trim_range(text, n);
    std::memmove(text, start, n);
    text[n] = '\0';
    return n;
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

bool split_key_value(char* line, std::size_t length, bool trim_value, char*& key, char*& value,
                     std::size_t* value_length) {
    char* eq = static_cast<char*>(std::memchr(line, '=', length));
    if (eq == nullptr) return false;
    // A prepared line holds no tab any more, so trimming is cutting.
    std::size_t key_length = static_cast<std::size_t>(eq - line);
    key = trim_range(line, key_length);
    key[key_length] = '\0';
    value = eq + 1;
    std::size_t n = static_cast<std::size_t>(line + length - value);
    if (trim_value) trim_text(value, n);
    if (value_length != nullptr) *value_length = n;
    return true;
}

void trim_text(char*& text, std::size_t& length) {
    text = trim_range(text, length);
    text[length] = '\0';
}

int32_t read_long32(const char* text) {
    // strtol saturates instead of overflowing; the low 32 bits are kept as
    // the file writes every int32 as the unsigned decimal of its bits.
    const long value = std::strtol(text, nullptr, 10);
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long>(value)));
}

double read_double(const char* text) { return read_double(text, std::strlen(text)); }

double read_double(const char* text, std::size_t length) {
    // The writer's own numbers ("-12.5", "1e+20", "-nan") take the fast path:
    // when from_chars takes the whole text, strtod would read the same.
    // Everything else (blanks, "+", hex, "#QNAN", trailing text) goes
    // through atofnan.
    const char first = text[0];
    if ((first >= '0' && first <= '9') || first == '-' || first == '.') {
        const char* end = text + length;
        double value = 0.0;
        const auto [ptr, ec] = std::from_chars(text, end, value, std::chars_format::general);
        if (ec == std::errc() && ptr == end) return std::isnan(value) ? GetNan() : value;
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
    qx::dbconfig::blanks_for_tabs(text, n);
    const char* start = qx::dbconfig::trim_range(text, n);
    std::memmove(text, start, n);
    std::memset(text + n, 0, size - n);
}

extern "C" void StrTrim2Comment(char* text, int length) {
    if (text == nullptr || length <= 0) return;
    const std::size_t n = strnlen(text, static_cast<std::size_t>(length));
    qx::dbconfig::cut_comment(text, n);
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
