// A child process for system tests: started with extra environment entries,
// its standard output and standard error captured in memory files (so a
// child never blocks on a full pipe the test does not read), waited for with
// a deadline, and killed and reaped on destruction so no test leaves a
// process behind.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace qx_test {

class Process {
public:
    // Starts program with args (argv[0] is the program path).  env holds
    // "NAME=value" entries added to, or replacing, this process's
    // environment.  Throws std::runtime_error when the start fails.
    Process(const std::filesystem::path& program, const std::vector<std::string>& args = {},
            const std::vector<std::string>& env = {});
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t pid() const { return pid_; }

    // True while the child has not ended (reaps it when it has).
    bool Running();
    // Waits up to timeout for the end; the raw waitpid status, or nothing
    // when the child still runs.
    std::optional<int> WaitFor(std::chrono::milliseconds timeout);
    // Sends a signal (no effect once the child has been reaped).
    void Signal(int signal_number);
    // SIGKILL and reap.
    void Kill();

    // Everything the child wrote so far.
    std::string Stdout() const;
    std::string Stderr() const;
    // Waits up to timeout until the standard output contains text; false on
    // timeout or when the child ended without writing it.
    bool WaitForStdout(std::string_view text, std::chrono::milliseconds timeout);

private:
    pid_t pid_ = -1;
    int stdout_ = -1;
    int stderr_ = -1;
    std::optional<int> status_;
};

// Polls condition every few milliseconds until it is true or timeout passed;
// returns its last value.
template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// A file of this process's descriptor read from its start (for memory files).
std::string ReadWholeDescriptor(int fd);

}  // namespace qx_test

