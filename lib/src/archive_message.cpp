// The queue writers (producer side of the archive-write queue) and the
// decoding of a received step (data-server side).
//
// A step larger than one queue message travels as several messages of the
// same type and time, and a full queue is waited on for a bounded time, so
// steps of 4096 tags reach the data server instead of being dropped.
#include "archive_message.hpp"

#include <sys/msg.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "archive_file.hpp"
#include "qx/msq.h"

namespace qx::archive {
namespace {

constexpr uint64_t kDefaultMsgmax = 8192;
constexpr uint64_t kDefaultMsgmnb = 16384;
constexpr int kSendWaitMs = 2000;   // longest wait for room in a full queue
constexpr int kSendSliceUs = 2000;  // one wait slice

uint64_t kernel_limit(const char* path, uint64_t fallback) {
    FILE* f = std::fopen(path, "r");
    if (f == nullptr) return fallback;
    unsigned long long value = 0;
    const bool ok = std::fscanf(f, "%llu", &value) == 1 && value > 0;
    std::fclose(f);
    return ok ? value : fallback;
}

struct WriterTexts {
    const char* empty;      // warning for n <= 0, or null for none
    const char* no_memory;
    const char* open_failed;
    const char* send_failed;
};

constexpr WriterTexts kTexts[4] = {
    {"WriteArchiv: Keine Archiv-Werte: NArchiv: %d", "WriteArchivMsq: malloc()", "WriteArchivMsq: openMsg() nErr=%d",
     "WriteArchivMsq: sndMsg() nErr=%d"},
    {nullptr, "WriteArchivStatus: malloc()", "WriteArchivStatus: openMsg() nErr=%d",
     "WriteArchivStatus: sndMsg() nErr=%d"},
    {"WriteDetail: Keine Archiv-Werte: NArchiv: %d", "WriteDetailMsq: malloc()", "WriteDetailMsq: openMsg() nErr=%d",
     "WriteDetailMsq: sndMsg() nErr=%d"},
    {nullptr, "WriteDetailStatus: malloc()", "WriteDetailStatus: openMsg() nErr=%d",
     "WriteDetailStatus: sndMsg() nErr=%d"},
};

// One queue handle per writer, opened on first use and kept.
sMsq g_queues[4] = {{-1, -1}, {-1, -1}, {-1, -1}, {-1, -1}};

int64_t now_ms() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// True when the queue has room for a body of this size now (or when its
// state can't be read: the send itself then reports what is wrong).
bool queue_has_room(const sMsq& q, uint64_t body) {
    msqid_ds ds{};
    if (q.msqId < 0 || msgctl(q.msqId, IPC_STAT, &ds) != 0) return true;
    return ds.msg_cbytes + body <= ds.msg_qbytes && ds.msg_qnum + 1 <= ds.msg_qbytes;
}

// Sends one record, waiting in short slices while the queue is full, until
// the deadline.  Returns the result of the last sndMsg.
int send_waiting(sMsq& q, void* record, int32_t length, int64_t deadline) {
    const uint64_t body = uint64_t(length) - 4;
    for (;;) {
        while (!queue_has_room(q, body) && now_ms() < deadline) {
            const timespec slice{0, kSendSliceUs * 1000L};
            nanosleep(&slice, nullptr);
        }
        int32_t len = length;
        const int result = sndMsg(&q, record, &len);
        if (result != -EAGAIN || now_ms() >= deadline) return result;
    }
}

int queue_write(int kind, int n, const int32_t* tags, const void* data, double time) {
    const WriterTexts& texts = kTexts[kind - 1];
    if (n <= 0) {
        if (texts.empty != nullptr) log_warning(texts.empty, n);
        return 0;
    }
    sMsq& q = g_queues[kind - 1];
    if (q.msqId < 0) {
        q.msqKey = QX_ARCHIV_MSG_KEY;
        const int opened = openMsg(&q);
        if (opened < 0) log_error(texts.open_failed, opened);
    }
    uint64_t qbytes = kernel_limit("/proc/sys/kernel/msgmnb", kDefaultMsgmnb);
    msqid_ds ds{};
    if (q.msqId >= 0 && msgctl(q.msqId, IPC_STAT, &ds) == 0) qbytes = ds.msg_qbytes;
    uint32_t per_message = tags_per_message(kind, kernel_limit("/proc/sys/kernel/msgmax", kDefaultMsgmax), qbytes);
    if (per_message == 0) per_message = 1;  // the send reports why it can't go
    const uint32_t largest = std::min<uint32_t>(uint32_t(n), per_message);
    const size_t width = per_tag_bytes(kind) - 4;
    // One zeroed buffer, 4 bytes longer than the largest part's record.
    auto* record = static_cast<uint8_t*>(std::calloc(1, record_length(kind, largest) + 4));
    if (record == nullptr) {
        log_error("%s", texts.no_memory);
        return -12;
    }
    const auto* values = static_cast<const uint8_t*>(data);
    const int64_t deadline = now_ms() + kSendWaitMs;
    int result = 0;
    for (uint32_t first = 0; first < uint32_t(n) && result == 0; first += per_message) {
        const uint32_t m = std::min<uint32_t>(uint32_t(n) - first, per_message);
        const int64_t type = kind;
        const int64_t count = m;
        std::memcpy(record, &type, 8);
        std::memcpy(record + 8, &time, 8);
        std::memcpy(record + 16, &count, 8);
        std::memcpy(record + QX_ARCHIV_MSG_HEAD, tags + first, 4 * size_t(m));
        std::memcpy(record + QX_ARCHIV_MSG_HEAD + 4 * size_t(m), values + width * first, width * m);
        std::memset(record + record_length(kind, m), 0, 4);
        result = send_waiting(q, record, int32_t(record_length(kind, m)), deadline);
        if (result < 0) log_error(texts.send_failed, result);
    }
    std::free(record);
    return result;
}

}  // namespace

uint32_t tags_per_message(int kind, uint64_t msgmax, uint64_t qbytes) {
    // The receiver's buffer takes a record of 24 + 12 x 4096 bytes.
    const uint64_t body_limit = std::min<uint64_t>({msgmax, qbytes, QX_ARCHIV_MSG_MAX - 4});
    constexpr uint64_t fixed = QX_ARCHIV_MSG_HEAD - 4;  // time, count, 4 zero bytes
    if (body_limit <= fixed) return 0;
    return uint32_t((body_limit - fixed) / per_tag_bytes(kind));
}

int32_t StepView::tag(uint32_t i) const {
    int32_t v;
    std::memcpy(&v, tags + 4 * size_t(i), sizeof v);
    return v;
}
double StepView::value(uint32_t i) const {
    double v;
    std::memcpy(&v, data + 8 * size_t(i), sizeof v);
    return v;
}
uint32_t StepView::status(uint32_t i) const {
    uint32_t v;
    std::memcpy(&v, data + 4 * size_t(i), sizeof v);
    return v;
}

bool decode_step(long mtype, std::span<const uint8_t> body, StepView& out) {
    if (mtype < 1 || mtype > 4 || body.size() < QX_ARCHIV_MSG_HEAD - 8) return false;
    int64_t count = 0;
    std::memcpy(&out.time, body.data(), 8);
    std::memcpy(&count, body.data() + 8, 8);
    const int64_t n = int32_t(uint32_t(uint64_t(count)));  // the low 32 bits count
    const int kind = int(mtype);
    if (n < 0 || uint64_t(n) * per_tag_bytes(kind) > body.size() - 16) return false;
    out.kind = kind;
    out.n = uint32_t(n);
    out.tags = body.data() + 16;
    out.data = out.tags + 4 * size_t(n);
    return true;
}

int write_step(QXDB (&handles)[4], const StepView& step, const VelmoSystem* sys) {
    if (step.kind < 1 || step.kind > 4 || step.n == 0) return 0;
    // Copies, so the writers get aligned arrays.
    thread_local std::vector<int32_t> tags;
    thread_local std::vector<double> values;
    thread_local std::vector<uint32_t> status;
    tags.resize(step.n);
    std::memcpy(tags.data(), step.tags, 4 * size_t(step.n));
    QXDB* db = &handles[step.kind - 1];
    const int n = int(step.n);
    if (is_status(step.kind)) {
        status.resize(step.n);
        std::memcpy(status.data(), step.data, 4 * size_t(step.n));
        return step.kind == 2 ? WriteArchivStatusQX2(db, step.time, n, sys, tags.data(), status.data())
                              : WriteDetailStatusQX2(db, step.time, n, sys, tags.data(), status.data());
    }
    values.resize(step.n);
    std::memcpy(values.data(), step.data, 8 * size_t(step.n));
    return step.kind == 1 ? WriteArchivQX2(db, step.time, n, sys, tags.data(), values.data())
                          : WriteDetailQX2(db, step.time, n, sys, tags.data(), values.data());
}

}  // namespace qx::archive

extern "C" {

int WriteArchiv(int n, const VelmoSystem*, const int32_t* tagNrs, const double* values, double time) {
    return qx::archive::queue_write(1, n, tagNrs, values, time);
}
int WriteArchivStatus(int n, const VelmoSystem*, const int32_t* tagNrs, const uint32_t* status, double time) {
    return qx::archive::queue_write(2, n, tagNrs, status, time);
}
int WriteDetail(int n, const VelmoSystem*, const int32_t* tagNrs, const double* values, double time) {
    return qx::archive::queue_write(3, n, tagNrs, values, time);
}
int WriteDetailStatus(int n, const VelmoSystem*, const int32_t* tagNrs, const uint32_t* status, double time) {
    return qx::archive::queue_write(4, n, tagNrs, status, time);
}

}  // extern "C"
