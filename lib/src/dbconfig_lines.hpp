// Reading side of the tag-database configuration file: a streaming line
// reader with the file's line-length limits, the section walk, key/value
// splitting and the number readers the keys use.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "qx/dbconfig.h"

namespace qx::dbconfig {

// Longest piece CsvSplitLine keeps before trimming.
inline constexpr std::size_t kCsvPieceMax = 254;

// Reads a file line by line through one buffer, without a heap allocation
// per line.  A line is at most max_chars characters including its LF; the
// rest of a longer line is dropped.
class LineReader {
public:
    explicit LineReader(const char* path);
    ~LineReader();
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    bool is_open() const { return fd_ >= 0; }
    // The next raw line (LF included when it fits), valid until the next
    // call; false at end of file or on a read error.
    bool next(std::size_t max_chars, std::string_view& line);

private:
    bool fill();  // moves the unread rest to the front and reads more
    bool skip_rest_of_line();

    int fd_ = -1;
    bool eof_ = false;
    bool skip_pending_ = false;  // the rest of an over-long line is still to drop
    std::vector<char> buffer_;
    std::size_t begin_ = 0;  // unread bytes are [begin_, end_)
    std::size_t end_ = 0;
};

// A prepared line: comment cut, trimmed, NUL-terminated, in a buffer of
// max_chars + 1 bytes.
class PreparedLine {
public:
    explicit PreparedLine(std::size_t max_chars) : text_(max_chars + 1) {}
    // Copies raw (at most max_chars bytes) and prepares it; returns its length.
    std::size_t prepare(std::string_view raw);
    char* data() { return text_.data(); }

private:
    std::vector<char> text_;
};

// Walks the lines of one section (the first section whose header equals
// header without regard to case) and calls on_line(text, length) for every
// non-empty prepared line in it.  Returns false when the file cannot be read.
template <class OnLine>
bool for_each_line_in_section(const char* path, std::string_view header, std::size_t max_chars, OnLine&& on_line);

// Splits a prepared line at its first "=".  The key is trimmed; the value is
// trimmed unless trim_value is false.  False for a line without "=".
// value_length, when given, receives the value's length.
bool split_key_value(char* line, std::size_t length, bool trim_value, char*& key, char*& value,
                     std::size_t* value_length = nullptr);
// Trims a text of a prepared line in place: text moves to its first
// character, length shrinks, a NUL ends it.
void trim_text(char*& text, std::size_t& length);

// atol/atoi of the file: the decimal at the start (after blanks), keeping the
// low 32 bits, so "4294967295" reads as -1.  Never undefined on overflow.
int32_t read_long32(const char* text);
// atofnan with a fast path for plain decimal numbers; same results.
double read_double(const char* text);
double read_double(const char* text, std::size_t length);

// Copies at most max_chars characters of text into dest (dest_size bytes,
// cleared first).
void copy_text(char* dest, std::size_t dest_size, const char* text, std::size_t max_chars);

bool header_equals(const char* line, std::size_t length, std::string_view header);
bool may_be_header(std::string_view raw);

template <class OnLine>
bool for_each_line_in_section(const char* path, std::string_view header, std::size_t max_chars, OnLine&& on_line) {
    LineReader reader(path);
    if (!reader.is_open()) return false;
    PreparedLine prepared(max_chars);
    bool inside = false;
    std::string_view raw;
    while (reader.next(max_chars, raw)) {
        if (!inside) {
            // Only a line whose first visible character is "[" can be a
            // header; everything else before the section is skipped unread.
            if (!may_be_header(raw)) continue;
            const std::size_t length = prepared.prepare(raw);
            inside = header_equals(prepared.data(), length, header);
            continue;
        }
        const std::size_t length = prepared.prepare(raw);
        if (length == 0) continue;
        if (prepared.data()[0] == '[') break;  // the next section ends the pass
        on_line(prepared.data(), length);
    }
    return true;
}

}  // namespace qx::dbconfig
