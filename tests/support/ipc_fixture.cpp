#include "ipc_fixture.hpp"

#include <signal.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "qx/attach.h"

namespace qx_test {

std::filesystem::path ToolPath(const std::string& name) {
    return std::filesystem::path(QX_BINARY_DIR) / "tools" / name;
}

ChildProcess::ChildProcess(const std::filesystem::path& program, const std::vector<std::string>& args) {
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0) throw std::runtime_error("pipe failed");
    std::vector<std::string> argv_text{program.string()};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argv_text) argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        dup2(pipe_ends[1], STDOUT_FILENO);
        close(pipe_ends[0]);
        close(pipe_ends[1]);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipe_ends[1]);
    output_ = pipe_ends[0];
}

ChildProcess::~ChildProcess() {
    if (!reaped_ && pid_ > 0) {
        kill(pid_, SIGKILL);
        Wait();
    }
    if (output_ >= 0) close(output_);
}

std::string ChildProcess::ReadLine() {
    for (;;) {
        const size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return line;
        }
        char buffer[4096];
        const ssize_t got = read(output_, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            std::string rest;
            rest.swap(pending_);
            return rest;
        }
        pending_.append(buffer, static_cast<size_t>(got));
    }
}

std::string ChildProcess::ReadAll() {
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(output_, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        pending_.append(buffer, static_cast<size_t>(got));
    }
    std::string all;
    all.swap(pending_);
    return all;
}

int ChildProcess::Wait() {
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
    return status;
}

void ChildProcess::Signal(int signal_number) {
    kill(pid_, signal_number);
}

AttachResponder::AttachResponder(const std::vector<std::string>& args)
    : child_(ToolPath("attach_responder"), args) {
    if (child_.ReadLine() != "ready") throw std::runtime_error("attach_responder did not start");
}

AttachResponder::~AttachResponder() {
    Stop();
}

bool AttachResponder::Stop() {
    if (stopped_) return true;
    stopped_ = true;
    const int queue = msgget(QX_KEY_CMD_QUEUE, 0);
    QX_CommandMsg stop{};
    stop.mtype = QX_CMD_STOP;
    if (queue < 0 || msgsnd(queue, &stop, QX_CMD_TEXT_SIZE, IPC_NOWAIT) != 0) {
        child_.Signal(SIGKILL);  // cannot be asked: do not wait for it
        child_.Wait();
        return false;
    }
    const int status = child_.Wait();
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace qx_test
