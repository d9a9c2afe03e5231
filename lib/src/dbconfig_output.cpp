// Buffered output of the configuration file and its replacement through a
// temporary file.
#include "dbconfig_output.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace qx::dbconfig {

namespace {

constexpr std::size_t kBufferSize = 64 * 1024;
constexpr std::size_t kNumberMax = 64;  // longest rendered number, with room

bool write_all(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

Output::Output(int fd) : fd_(fd), buffer_(kBufferSize) {}

void Output::flush() {
    if (used_ > 0 && !failed_ && !write_all(fd_, buffer_.data(), used_)) failed_ = true;
    used_ = 0;
}

char* Output::room(std::size_t n) {
    if (buffer_.size() - used_ < n) flush();
    return buffer_.data() + used_;
}

Output& Output::text(std::string_view s) {
    while (!s.empty()) {
        const std::size_t n = std::min(s.size(), buffer_.size() - used_);
        std::memcpy(buffer_.data() + used_, s.data(), n);
        used_ += n;
        s.remove_prefix(n);
        if (!s.empty()) flush();
    }
    return *this;
}

Output& Output::ch(char c) {
    *room(1) = c;
    ++used_;
    return *this;
}

Output& Output::u32(uint32_t value) {
    char* p = room(kNumberMax);
    used_ += static_cast<std::size_t>(std::to_chars(p, p + kNumberMax, value).ptr - p);
    return *this;
}

Output& Output::i32(int32_t value) {
    char* p = room(kNumberMax);
    used_ += static_cast<std::size_t>(std::to_chars(p, p + kNumberMax, value).ptr - p);
    return *this;
}

Output& Output::g(double value, int precision) {
    if (std::isnan(value)) return text(std::signbit(value) ? "-nan" : "nan");  // as printf writes it
    // to_chars with a precision renders exactly as printf("%.*g") does, several times faster.
    char* p = room(kNumberMax);
    used_ += static_cast<std::size_t>(
        std::to_chars(p, p + kNumberMax, value, std::chars_format::general, precision).ptr - p);
    return *this;
}

Output& Output::padded(const char* s, std::size_t precision, std::size_t width) {
    const std::size_t n = strnlen(s, precision);
    text(std::string_view(s, n));
    for (std::size_t i = n; i < width; ++i) ch(' ');
    return *this;
}

Output& Output::hex2(uint8_t value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    char* p = room(2);
    p[0] = kDigits[value >> 4];
    p[1] = kDigits[value & 0x0F];
    used_ += 2;
    return *this;
}

bool Output::finish() {
    flush();
    return !failed_;
}

// ---- Replacing the file -----------------------------------------------------------

bool open_temp_file(const char* path, std::string& target, std::string& temp, int& fd) {
    if (path == nullptr || *path == '\0') return false;
    target = path;
    // Writing in place went through a symbolic link to its target; so does
    // the replacement, instead of replacing the link by a plain file.
    struct stat st {};
    if (::lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(path, nullptr)) {
            target = real;
            std::free(real);
        }
    }
    const bool exists = ::stat(target.c_str(), &st) == 0;

    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = target + ".tmp" + std::to_string(::getpid()) + "." + std::to_string(counter++);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) break;
        if (errno != EEXIST) return false;
    }
    if (fd < 0) return false;
    if (exists) {
        // The new file keeps the old one's permissions and owner, as a
        // rewrite in place would.
        if (::fchmod(fd, st.st_mode & 07777) != 0 || ::fchown(fd, st.st_uid, st.st_gid) != 0) {
            // Not fatal: the content matters more than its permissions.
        }
    }
    return true;
}

bool commit_temp_file(int fd, const std::string& target, const std::string& temp) {
    const bool synced = ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!synced || !closed || ::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    // Make the rename itself durable.
    const std::size_t slash = target.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
    const int dir_fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd >= 0) {
        if (::fsync(dir_fd) != 0) {
            // The file is complete either way; only the rename may be redone.
        }
        ::close(dir_fd);
    }
    return true;
}

void discard_temp_file(int fd, const std::string& temp) {
    ::close(fd);
    ::unlink(temp.c_str());
}

}  // namespace qx::dbconfig
