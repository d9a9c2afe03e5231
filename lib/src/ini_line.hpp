// Line access shared by the INI readers and writers: a descriptor owner, the
// reader that cuts a file into lines the way the INI layer sees them, and the
// scoped INI lock.
#pragma once

#include <array>
#include <cstddef>
#include <span>

#include "qx/ini.h"

namespace qx::ini {

// Owns one file descriptor.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = other.release();
        }
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset();

private:
    int fd_ = -1;
};

// Hands out a file's lines, each at most QX_INI_LINE_SIZE - 1 bytes including
// its line feed: a longer line comes out as several consecutive pieces.  The
// piece is NUL-terminated in a buffer of QX_INI_LINE_SIZE bytes and may be
// changed in place until the next call.
class LineReader {
public:
    static constexpr std::size_t kMaxPiece = QX_INI_LINE_SIZE - 1;

    explicit LineReader(int fd) : fd_(fd) {}
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // The next piece with its exact byte count (NUL bytes included), or an
    // empty span at the end of the file or after a read error.
    std::span<char> next();
    // True when a read failed (the pieces handed out so far are incomplete).
    bool failed() const { return failed_; }

private:
    bool fill();

    int fd_;
    bool eof_ = false;
    bool failed_ = false;
    std::size_t pos_ = 0;
    std::size_t len_ = 0;
    std::array<char, 16384> chunk_;  // not cleared: only bytes read are used
    std::array<char, QX_INI_LINE_SIZE> line_;
};

// Holds the machine-wide INI lock for its lifetime.
class IniLock {
public:
    IniLock() { lockIniFile(nullptr, 1); }
    ~IniLock() { lockIniFile(nullptr, 0); }
    IniLock(const IniLock&) = delete;
    IniLock& operator=(const IniLock&) = delete;
};

// FormIniString of a line of the given string length; returns the new length.
std::size_t normalise(char* line, std::size_t length);

inline bool missing_name(const char* file) { return file == nullptr || *file == '\0'; }

}  // namespace qx::ini
