#include "process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace qx_test {
namespace {

std::string EnvName(const std::string& entry) { return entry.substr(0, entry.find('=')); }

std::vector<std::string> MergedEnvironment(const std::vector<std::string>& extra) {
    std::vector<std::string> merged;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry(*e);
        bool replaced = false;
        for (const std::string& x : extra) replaced = replaced || EnvName(x) == EnvName(entry);
        if (!replaced) merged.push_back(entry);
    }
    merged.insert(merged.end(), extra.begin(), extra.end());
    return merged;
}

std::vector<char*> CStrings(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings) pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

std::string ReadWholeDescriptor(int fd) {
    std::string content;
    if (fd < 0) return content;
    char buffer[65536];
    off_t offset = 0;
    for (;;) {
        const ssize_t n = pread(fd, buffer, sizeof buffer, offset);
        if (n <= 0) break;
        content.append(buffer, static_cast<size_t>(n));
        offset += n;
    }
    return content;
}

Process::Process(const std::filesystem::path& program, const std::vector<std::string>& args,
                 const std::vector<std::string>& env) {
    stdout_ = memfd_create("child-stdout", MFD_CLOEXEC);
    stderr_ = memfd_create("child-stderr", MFD_CLOEXEC);
    if (stdout_ < 0 || stderr_ < 0) throw std::runtime_error("memfd_create failed");

    std::vector<std::string> argv_strings{program.string()};
    argv_strings.insert(argv_strings.end(), args.begin(), args.end());
    std::vector<std::string> env_strings = MergedEnvironment(env);
    std::vector<char*> argv = CStrings(argv_strings);
    std::vector<char*> envp = CStrings(env_strings);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, stdout_, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, stderr_, STDERR_FILENO);
    const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        pid_ = -1;
        throw std::runtime_error("posix_spawn " + program.string() + ": " + std::strerror(rc));
    }
}

Process::~Process() {
    Kill();
    if (stdout_ >= 0) close(stdout_);
    if (stderr_ >= 0) close(stderr_);
}

bool Process::Running() {
    if (pid_ < 0 || status_) return false;
    int status = 0;
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
        status_ = status;
        return false;
    }
    return r == 0;
}

std::optional<int> Process::WaitFor(std::chrono::milliseconds timeout) {
    WaitUntil([this] { return !Running(); }, timeout);
    return status_;
}

void Process::Signal(int signal_number) {
    if (Running()) kill(pid_, signal_number);
}

void Process::Kill() {
    if (!Running()) return;
    kill(pid_, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    status_ = status;
}

std::string Process::Stdout() const { return ReadWholeDescriptor(stdout_); }
std::string Process::Stderr() const { return ReadWholeDescriptor(stderr_); }

bool Process::WaitForStdout(std::string_view text, std::chrono::milliseconds timeout) {
    return WaitUntil(
        [&] {
            const bool seen = Stdout().find(text) != std::string::npos;
            return seen || !Running();
        },
        timeout) &&
           Stdout().find(text) != std::string::npos;
}

}  // namespace qx_test
