// Test sandbox: a temporary QX_ROOT and a private IPC namespace, so tests
// never meet a real installation and can run in parallel.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace qx_test {

// Moves this process into a private SysV IPC namespace (once per process).
// Fails the calling test when the kernel refuses.
void EnterPrivateIpcNamespace();

// A temporary directory set as QX_ROOT for the lifetime of the object, with
// home/kwz/log and tmp made below it.  Removed again on destruction.
class Sandbox {
public:
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    const std::filesystem::path& root() const { return root_; }
    // A path below the sandbox root; "/home/kwz/x.ini" -> "<root>/home/kwz/x.ini".
    std::filesystem::path path(std::string_view fixed) const;

private:
    std::filesystem::path root_;
    std::string previous_root_;
    bool had_previous_root_ = false;
};

// Whole-file helpers for fixtures and golden comparisons.
std::string ReadFile(const std::filesystem::path& file);
void WriteFile(const std::filesystem::path& file, std::string_view content);

// The path of a fixture file below tests/data.
std::filesystem::path DataFile(std::string_view relative);

}  // namespace qx_test
