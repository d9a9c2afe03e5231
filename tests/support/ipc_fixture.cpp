#include "ipc_fixture.hpp"

#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/wait.h>

#include <stdexcept>

#include "qx/attach.h"

namespace qx_test {

std::filesystem::path ToolPath(const std::string& name) {
    return std::filesystem::path(QX_BINARY_DIR) / "tools" / name;
}

AttachResponder::AttachResponder(const std::vector<std::string>& args)
    : child_(ToolPath("attach_responder"), args) {
    if (!child_.WaitForStdout("ready\n", std::chrono::seconds(10)))
        throw std::runtime_error("attach_responder did not start");
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
        child_.Kill();  // cannot be asked: do not wait for it
        return false;
    }
    const std::optional<int> status = child_.WaitFor(std::chrono::seconds(10));
    if (!status) child_.Kill();
    return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
}

}  // namespace qx_test
