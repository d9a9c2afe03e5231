#include "sandbox.hpp"

#include <gtest/gtest.h>
#include <sched.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace qx_test {

void EnterPrivateIpcNamespace() {
    static bool entered = false;
    if (entered) return;
    if (unshare(CLONE_NEWIPC) != 0) {
        FAIL() << "unshare(CLONE_NEWIPC) failed: " << std::strerror(errno)
               << " (the IPC tests need root or a user namespace)";
    }
    entered = true;
}

Sandbox::Sandbox() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qx-sandbox-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    std::filesystem::create_directories(root_ / "home/kwz/log");
    std::filesystem::create_directories(root_ / "tmp");
    if (const char* old = std::getenv("QX_ROOT")) {
        had_previous_root_ = true;
        previous_root_ = old;
    }
    setenv("QX_ROOT", root_.c_str(), 1);
}

Sandbox::~Sandbox() {
    if (had_previous_root_) setenv("QX_ROOT", previous_root_.c_str(), 1);
    else unsetenv("QX_ROOT");
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

std::filesystem::path Sandbox::path(std::string_view fixed) const {
    while (!fixed.empty() && fixed.front() == '/') fixed.remove_prefix(1);
    return root_ / fixed;
}

std::string ReadFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + file.string());
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void WriteFile(const std::filesystem::path& file, std::string_view content) {
    if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + file.string());
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::filesystem::path DataFile(std::string_view relative) {
    return std::filesystem::path(QX_TEST_SOURCE_DIR) / "data" / relative;
}

}  // namespace qx_test
