// Shared pieces of the archive tests: a sandboxed archive directory, a
// system record pointing at it, Jul times from dates, and little-endian byte
// access to files (independent of the library's own records).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "qx.h"
#include "sandbox.hpp"

namespace archive_test {

inline double Jul(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    time_velmo tv{y, mo, d, h, mi, s};
    return TimeToJul(tv);
}

inline uint32_t U32(const std::string& bytes, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | uint8_t(bytes.at(at + size_t(i)));
    return v;
}
inline uint16_t U16(const std::string& bytes, size_t at) {
    return uint16_t(uint8_t(bytes.at(at)) | (uint8_t(bytes.at(at + 1)) << 8));
}
inline double F64(const std::string& bytes, size_t at) {
    double v;
    std::memcpy(&v, bytes.data() + at, sizeof v);
    return v;
}
inline void PutU32(std::string& bytes, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes.at(at + size_t(i)) = char(v >> (8 * i));
}

class ArchiveTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = sandbox_.root() / "arc";
        std::filesystem::create_directories(dir_);
        std::memset(&sys_, 0, sizeof sys_);
        sys_.inter = 900;
        sys_.stoer_takt = 60;
        std::snprintf(sys_.dir_archiv, sizeof sys_.dir_archiv, "%s", dir_.c_str());
    }
    std::string File(const char* name) const { return (dir_ / name).string(); }
    std::string Bytes(const char* name) const { return qx_test::ReadFile(dir_ / name); }
    bool Exists(const char* name) const { return std::filesystem::exists(dir_ / name); }

    qx_test::Sandbox sandbox_;
    std::filesystem::path dir_;
    VelmoSystem sys_;
};

// Frees a result table on scope exit.
template <typename T>
struct Table {
    T* data = nullptr;
    ~Table() { std::free(data); }
};

}  // namespace archive_test
