// Writing side of the tag-database configuration file: a buffered text
// output with the number renderings of the file, and the replacement of the
// file through a temporary file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qx::dbconfig {

// Formats into one buffer and hands it to the file in large writes.
class Output {
public:
    explicit Output(int fd);
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    Output& text(std::string_view s);
    Output& ch(char c);
    // "%ld" of an int32 as the file writes it: the unsigned decimal of its bits.
    Output& u32(uint32_t value);
    // "%d"
    Output& i32(int32_t value);
    // "%.<precision>g"
    Output& g(double value, int precision);
    // "%-<width>.<precision>s" of a text that need not be NUL-terminated
    // within precision bytes.
    Output& padded(const char* s, std::size_t precision, std::size_t width);
    // "%2.2X"
    Output& hex2(uint8_t value);
    Output& eol() { return ch('\n'); }

    // Writes what is buffered; false when any write failed.
    bool finish();

private:
    char* room(std::size_t n);  // at least n free bytes at the end of the buffer
    void flush();

    int fd_;
    bool failed_ = false;
    std::vector<char> buffer_;
    std::size_t used_ = 0;
};

// Writes a file through a temporary file in the same directory, synced to
// disk and renamed over the old file: readers see either the old or the new
// content, never a part.  render(fd) writes the content and returns false on
// failure.  Returns false when anything failed (the old file is then kept and
// the temporary file removed).
template <class Render>
bool replace_file(const char* path, Render&& render);

// Pieces of replace_file, out of line.
bool open_temp_file(const char* path, std::string& target, std::string& temp, int& fd);
bool commit_temp_file(int fd, const std::string& target, const std::string& temp);
void discard_temp_file(int fd, const std::string& temp);

template <class Render>
bool replace_file(const char* path, Render&& render) {
    std::string target;
    std::string temp;
    int fd = -1;
    if (!open_temp_file(path, target, temp, fd)) return false;
    if (!render(fd)) {
        discard_temp_file(fd, temp);
        return false;
    }
    return commit_temp_file(fd, target, temp);
}

}  // namespace qx::dbconfig
