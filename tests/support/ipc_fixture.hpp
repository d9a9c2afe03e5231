// The project's test peers from tools/ (the attach responder, probe
// programs), started in the test's IPC namespace and never left behind.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "process.hpp"

namespace qx_test {

// A program built into the tools/ folder of the build tree.
std::filesystem::path ToolPath(const std::string& name);

// The attach responder, ready (command queue and segments exist) once the
// constructor returns; stopped with command 9999 on Stop or destruction.
class AttachResponder {
public:
    explicit AttachResponder(const std::vector<std::string>& args = {});
    ~AttachResponder();
    AttachResponder(const AttachResponder&) = delete;
    AttachResponder& operator=(const AttachResponder&) = delete;

    // Sends 9999 and waits for the end; true when it ended normally.
    bool Stop();

private:
    Process child_;
    bool stopped_ = false;
};

}  // namespace qx_test
