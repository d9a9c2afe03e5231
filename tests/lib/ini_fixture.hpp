// Fixture of the INI tests: every INI call takes the machine-wide semaphore,
// so each test runs in a private IPC namespace and a sandboxed QX_ROOT.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "qx.h"
#include "sandbox.hpp"

namespace qx_ini_test {

// All bytes of a literal, embedded zero bytes included.
template <std::size_t N>
std::string Bytes(const char (&literal)[N]) {
    return std::string(literal, N - 1);
}

class IniTest : public ::testing::Test {
protected:
    void SetUp() override { qx_test::EnterPrivateIpcNamespace(); }

    // An INI file below the sandbox with the given bytes.
    std::string Ini(std::string_view content, std::string_view name = "test.ini") {
        const std::filesystem::path file = sandbox_.path("/home/kwz") / name;
        qx_test::WriteFile(file, content);
        return file.string();
    }
    std::string Content(const std::string& file) { return qx_test::ReadFile(file); }
    std::string WriteLog() {
        const auto log = sandbox_.path("/home/kwz/log/w32ini.log");
        return std::filesystem::exists(log) ? qx_test::ReadFile(log) : std::string();
    }

    qx_test::Sandbox sandbox_;
};

}  // namespace qx_ini_test
