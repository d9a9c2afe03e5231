// The queue layer: open, remove, send and receive on SysV message queues,
// never blocking, with one re-open and retry when the queue was removed.
#include "qx/msq.h"

#include <sys/ipc.h>
#include <sys/msg.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace {

// The type field counts as 4 bytes in the callers' lengths.
constexpr int32_t kTypeCountedAs = 4;
// Where a log message's text starts in the record, and how much of it the
// diagnostics show.
constexpr std::size_t kLogTextOffset = offsetof(QX_LogMsg, text);
constexpr std::size_t kShownTextMax = QX_LOG_TEXT_SIZE - 1;

// The log text of a record about to be sent, for the diagnostics.  Records
// of other queues are shorter than a log message, so the text is bounded by
// the record the caller actually handed over (length + 4 bytes).
struct ShownText {
    const char* text;
    int length;
};

ShownText shown_text(const void* record, int32_t length) {
    const std::size_t record_size = static_cast<std::size_t>(length) + kTypeCountedAs;
    if (record_size <= kLogTextOffset) return {"", 0};
    const std::size_t available = std::min(record_size - kLogTextOffset, kShownTextMax);
    const char* text = static_cast<const char*>(record) + kLogTextOffset;
    return {text, static_cast<int>(strnlen(text, available))};
}

void print_lost(const void* record, int32_t length, int error) {
    const ShownText shown = shown_text(record, length);
    std::printf("sndMsq: msgsnd(): MSQ Fehler; pid=%d, errno=%d (%s)\nMsg:%.*s\n", static_cast<int>(getpid()), error,
                std::strerror(error), shown.length, shown.text);
    std::fflush(stdout);
}

// A message larger than the caller accepts would stay at the head of the
// queue and fail every later receive; take it out so the queue keeps flowing.
void discard_oversized(int msq_id, void* record, std::size_t body) {
    msgrcv(msq_id, record, body, 0, IPC_NOWAIT | MSG_NOERROR);
}

}  // namespace

extern "C" {

sMsq rMsq = {-1, QX_KEY_LOG_QUEUE};

int openMsg(sMsq* msq) {
    if (msq == nullptr) return -EINVAL;
    const int id = msgget(static_cast<key_t>(msq->msqKey), IPC_CREAT | 0666);
    if (id < 0) {
        msq->msqId = -1;
        return -errno;
    }
    msq->msqId = id;
    return 0;
}

int closeMsg(sMsq* msq) {
    if (msq == nullptr) return -EINVAL;
    if (msgctl(msq->msqId, IPC_RMID, nullptr) != 0) return -errno;
    return 0;
}

int rcvMsg(sMsq* msq, void* record, int32_t* length) {
    if (msq == nullptr || record == nullptr || length == nullptr || *length < kTypeCountedAs) return -EINVAL;
    const std::size_t body = static_cast<std::size_t>(*length - kTypeCountedAs);

    ssize_t got = msgrcv(msq->msqId, record, body, 0, IPC_NOWAIT);
    if (got >= 0) {
        *length = static_cast<int32_t>(got);
        return static_cast<int>(got);
    }
    int error = errno;
    if (error == ENOMSG) return 0;

    if (error == EIDRM || error == EINVAL) {
        std::printf("rcvMsq: msgrcv(): Re-Open von MSQ; pid=%d, msqId=%d, errno=%d (%s)\n", static_cast<int>(getpid()),
                    msq->msqId, error, std::strerror(error));
        const int opened = openMsg(msq);
        if (opened != 0) {
            std::printf("rcvMsq: msgget(): Re-Open failed; errno=%d (%s)\n", -opened, std::strerror(-opened));
            std::fflush(stdout);
            return opened;
        }
        got = msgrcv(msq->msqId, record, body, 0, IPC_NOWAIT);
        if (got >= 0) {
            *length = static_cast<int32_t>(got);
            return static_cast<int>(got);
        }
        error = errno;
        if (error == ENOMSG) return 0;
        std::printf("rcvMsq: msgrcv(): Re-Rcv failed; errno=%d (%s)\n", error, std::strerror(error));
        std::fflush(stdout);
        if (error == E2BIG) discard_oversized(msq->msqId, record, body);
        return -error;
    }

    std::printf("rcvMsq: msgrcv(): pid=%d, errno=%d (%s)\n", static_cast<int>(getpid()), error, std::strerror(error));
    std::fflush(stdout);
    if (error == E2BIG) discard_oversized(msq->msqId, record, body);
    return -error;
}

int sndMsg(sMsq* msq, void* record, int32_t* length) {
    if (msq == nullptr || record == nullptr || length == nullptr || *length < kTypeCountedAs) return -EINVAL;
    if (msq->msqId < 0) {
        const ShownText shown = shown_text(record, *length);
        std::printf("sndMsq: pid=%d, Msg:%.*s\n", static_cast<int>(getpid()), shown.length, shown.text);
        std::fflush(stdout);
        return -1;
    }
    const std::size_t body = static_cast<std::size_t>(*length - kTypeCountedAs);

    if (msgsnd(msq->msqId, record, body, IPC_NOWAIT) == 0) {
        *length = 0;
        return 0;
    }
    int error = errno;
    if (error == EIDRM || error == EINVAL) {
        std::printf("sndMsq: msgsnd(): Re-Open von MSQ; errno=%d (%s)\n", error, std::strerror(error));
        const int opened = openMsg(msq);
        if (opened != 0) {
            std::printf("sndMsq: msgget(): Re-Open failed; errno=%d (%s)\n", -opened, std::strerror(-opened));
            std::fflush(stdout);
            return opened;
        }
        if (msgsnd(msq->msqId, record, body, IPC_NOWAIT) == 0) {
            std::fflush(stdout);
            *length = 0;
            return 0;
        }
        error = errno;
        std::printf("sndMsq: msgsnd(): Re-Send failed; errno=%d (%s)\n", error, std::strerror(error));
    } else {
        // The line names msgrcv; operators know it in this wording.
        std::printf("sndMsq: msgrcv(): errno=%d (%s)\n", error, std::strerror(error));
    }
    print_lost(record, *length, error);
    return -error;
}

}  // extern "C"
