// Child processes for IPC tests: the project's test peers from tools/ (the
// attach responder, probe programs), started in the test's IPC namespace
// and never left behind.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace qx_test {

// A program built into the tools/ folder of the build tree.
std::filesystem::path ToolPath(const std::string& name);

// A child running a program, its standard output read through a pipe.  The
// destructor kills (SIGKILL) and reaps it when it still runs.
class ChildProcess {
public:
    ChildProcess(const std::filesystem::path& program, const std::vector<std::string>& args);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    // One line of standard output without its line feed; empty at the end.
    std::string ReadLine();
    // All remaining standard output, up to the child's end.
    std::string ReadAll();
    // Waits for the end; the raw waitpid status.
    int Wait();
    void Signal(int signal_number);

private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::string pending_;
    bool reaped_ = false;
};

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
    ChildProcess child_;
    bool stopped_ = false;
};

}  // namespace qx_test
