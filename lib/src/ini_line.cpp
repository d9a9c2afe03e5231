// Line normalisation of the INI reader and the line source both sides share.
#include "ini_line.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace qx::ini {

void Fd::reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool LineReader::fill() {
    if (eof_) return false;
    for (;;) {
        const ssize_t got = ::read(fd_, chunk_.data(), chunk_.size());
        if (got > 0) {
            pos_ = 0;
            len_ = static_cast<std::size_t>(got);
            return true;
        }
        if (got < 0 && errno == EINTR) continue;
        failed_ = got < 0;
        eof_ = true;
        return false;
    }
}

std::span<char> LineReader::next() {
    std::size_t used = 0;
    while (used < kMaxPiece) {
        if (pos_ == len_ && !fill()) break;
        const char* from = chunk_.data() + pos_;
        const std::size_t want = std::min(len_ - pos_, kMaxPiece - used);
        const auto* lf = static_cast<const char*>(std::memchr(from, '\n', want));
        const std::size_t take = lf != nullptr ? static_cast<std::size_t>(lf - from) + 1 : want;
        std::memcpy(line_.data() + used, from, take);
        used += take;
        pos_ += take;
        if (lf != nullptr) break;
    }
    line_[used] = '\0';
    return {line_.data(), used};
}

std::size_t normalise(char* line, std::size_t length) {
    // NoCrLf, NoComment and StrTrim1 in one pass: CR, LF and '#' end the line.
    std::size_t end = 0;
    while (end < length && line[end] != '#' && line[end] != '\r' && line[end] != '\n') ++end;
    NoCrLf(line + end, static_cast<int>(length - end));
    line[end] = '\0';
    std::size_t start = 0;
    while (start < end && line[start] == ' ') ++start;
    while (end > start && line[end - 1] == ' ') --end;

    const auto* equals = static_cast<const char*>(std::memchr(line + start, '=', end - start));
    std::size_t name_end = equals != nullptr ? static_cast<std::size_t>(equals - line) : end;
    std::size_t value = name_end;  // first byte after the '=' and its blanks
    if (equals != nullptr) {
        while (name_end > start && line[name_end - 1] == ' ') --name_end;
        ++value;
        while (value < end && line[value] == ' ') ++value;
    }
    const std::size_t name_length = name_end - start;
    std::memmove(line, line + start, name_length);
    std::size_t total = name_length;
    if (equals != nullptr) {
        line[total++] = '=';
        std::memmove(line + total, line + value, end - value);
        total += end - value;
    }
    line[total] = '\0';
    return total;
}

}  // namespace qx::ini

extern "C" {

void NoCrLf(char* string, int length) {
    if (string == nullptr) return;
    for (int i = 0; i < length; ++i)
        if (string[i] == '\r' || string[i] == '\n') string[i] = '\0';
}

void NoComment(char* string) {
    if (string == nullptr) return;
    if (char* hash = std::strchr(string, '#')) *hash = '\0';
}

void StrTrim1(char* string) {
    if (string == nullptr) return;
    std::size_t end = std::strlen(string);
    while (end > 0 && string[end - 1] == ' ') --end;
    string[end] = '\0';
    std::size_t start = 0;
    while (string[start] == ' ') ++start;
    if (start > 0) std::memmove(string, string + start, end - start + 1);
}

void FormIniString(char* line) {
    if (line != nullptr) qx::ini::normalise(line, std::strlen(line));
}

void maskiereRegExpr(const char* source, int length, char* destination) {
    if (destination == nullptr) return;
    char* out = destination;
    for (int i = 0; source != nullptr && i < length && source[i] != '\0'; ++i) {
        if (source[i] == '$') *out++ = '\\';
        *out++ = source[i];
    }
    *out = '\0';
}

}  // extern "C"
