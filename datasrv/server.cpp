// The server loop: archive-write messages into the archive files, commands
// from the clients (attach, write-back, stop), and an idle wait that ends as
// soon as either queue has a message.
#include <sys/ipc.h>
#include <sys/msg.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <algorithm>
#include <array>
#include <string>

#include "archive_message.hpp"
#include "attach_protocol.hpp"
#include "fixed_path.hpp"
#include "shm_data.hpp"
#include "step_assembly.hpp"

namespace datasrv {
namespace {

// Room asked for in the archive-write queue: several full steps of all four
// kinds, so a producer's step in many parts never waits for the disk.  The
// kernel grants more than msgmnb only to a privileged server.
constexpr uint64_t kArchivQueueBytes = 1u << 20;
constexpr int kIdleWaitMs = 1000;
// One look at the queues per slice while idle: a new message is taken within
// this time, and an idle server wakes 100 times a second for two msgctl calls.
constexpr int kIdleSliceMs = 10;
// Right after a message the next one is usually the following part of the
// same step, which the producer sends as soon as the queue has room: look
// more often then, so a step in many parts drains without stalls.
constexpr int kBurstSliceMs = 1;
constexpr int64_t kBurstMs = 50;
// A gathered step is written once its queue has been quiet this long: the
// producer sends the parts of one step back to back.
constexpr int64_t kStepQuietMs = 20;

struct KindTexts {
    const char* failed;
    const char* written;
};
constexpr KindTexts kKindTexts[4] = {
    {"Schreiben von Archiv: nErr=%d", "WriteArchiv: Tags: %d Datum: %2.2d:%2.2d:%2.2d"},
    {"Schreiben von Status-Archiv: nErr=%d", "WriteArchivStatus: Tags: %d Datum: %2.2d:%2.2d:%2.2d"},
    {"Schreiben von Detail: nErr=%d", "WriteDetail: Tags: %d Datum: %2.2d:%2.2d:%2.2d"},
    {"Schreiben von Detail-Status: nErr=%d", "WriteDetailStatus: Tags: %d Datum: %2.2d:%2.2d:%2.2d"},
};

// A text on standard error in the manner of perror, for the given error.
void ReportError(const char* text, int error) {
    errno = error;
    std::perror(text);
}

// Receive buffers: room for the body the receive accepts (length - 4 bytes)
// behind the 8-byte type, so nothing a client sends lands outside them.
struct alignas(8) ArchivRecord {
    uint8_t bytes[kArchivRecordLength + 4];
};
struct CommandRecord {
    QX_CommandMsg message;
    char slack[kCommandRecordLength + 4 - sizeof(QX_CommandMsg)];
};

// The answer to the pointer request: four addresses that mean something
// only inside this process.
struct PointerAnswer {
    int64_t mtype;
    uint64_t addresses[4];
};
constexpr int32_t kPointerAnswerLength = 32 + 4;

void SendAnswer(const QX_CommandMsg& request, void* answer, int32_t length) {
    sMsq queue{-1, qx::parse_answer_key(std::span<const char, QX_CMD_TEXT_SIZE>(request.text))};
    const int opened = openMsg(&queue);
    if (opened < 0) {
        ReportError("SHM_DATA: msgget Sender fehler", -opened);
        return;
    }
    const int sent = sndMsg(&queue, answer, &length);
    if (sent < 0) ReportError("SHM_DATA: msgsend fehler", sent == -1 ? EBADF : -sent);
}

void SaveConfiguration() {
    const Database& db = database();
    const std::string path = qx::fixed_path(QX_CONFIG_FILE);
    QX_SaveConfig2(QX_CONFIG_NAME, path.c_str(), db.system, db.tags, db.info);
}

bool MessageWaiting(int msq_id) {
    msqid_ds ds{};
    return msq_id >= 0 && msgctl(msq_id, IPC_STAT, &ds) == 0 && ds.msg_qnum > 0;
}

int64_t MonotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t{ts.tv_sec} * 1000 + ts.tv_nsec / 1000000;
}

// One assembly per kind: values and status of a step arrive interleaved
// by kind, never mixed within a kind.
using StepAssemblies = std::array<StepAssembly, 4>;

void FlushStep(ArchivHandles& handles, StepAssembly& assembly) {
    if (assembly.empty()) return;
    WriteArchiveStep(handles, assembly.View());
    assembly.Clear();
}

void FlushSteps(ArchivHandles& handles, StepAssemblies& assemblies) {
    for (StepAssembly& assembly : assemblies) FlushStep(handles, assembly);
}

// A received message joins the step of its kind being gathered; a part of
// another step first sends the gathered one to its file.
void TakeArchiveMessage(ArchivHandles& handles, StepAssemblies& assemblies, int64_t mtype,
                        std::span<const uint8_t> body) {
    qx::archive::StepView part;
    if (!DecodeArchiveMessage(mtype, body, part)) return;
    StepAssembly& assembly = assemblies[size_t(part.kind - 1)];
    if (!assembly.Accepts(part)) FlushStep(handles, assembly);
    if (assembly.Accepts(part))
        assembly.Add(part);
    else
        WriteArchiveStep(handles, part);  // larger than any assembly: as it came
}

}  // namespace

bool DecodeArchiveMessage(int64_t mtype, std::span<const uint8_t> body, qx::archive::StepView& step) {
    const int received = static_cast<int>(body.size());
    if (mtype < 1 || mtype > 4) {
        writeMsg(&rMsq, PMS_ERROR, 0, "Unbekannter Message-Typ: nErr=%d, msg_typ=%d, nBufLen=%d", received,
                 static_cast<int>(mtype), received);
        return false;
    }
    if (!qx::archive::decode_step(static_cast<long>(mtype), body, step)) {
        // A tag count the body does not hold would make the writers read
        // beyond the message.
        writeMsg(&rMsq, PMS_ERROR, 0, "Archiv-Message unvollstaendig, verworfen: msg_typ=%d, nBufLen=%d",
                 static_cast<int>(mtype), received);
        return false;
    }
    if (!std::isfinite(step.time)) {
        writeMsg(&rMsq, PMS_ERROR, 0, "Archiv-Message ohne gueltige Zeit, verworfen: msg_typ=%d, Tags: %u",
                 static_cast<int>(mtype), step.n);
        return false;
    }
    return true;
}

int HandleArchiveMessage(ArchivHandles& handles, int64_t mtype, std::span<const uint8_t> body) {
    qx::archive::StepView step;
    if (!DecodeArchiveMessage(mtype, body, step)) return -1;
    return WriteArchiveStep(handles, step);
}

int WriteArchiveStep(ArchivHandles& handles, const qx::archive::StepView& step) {
    const int64_t mtype = step.kind;
    const KindTexts& texts = kKindTexts[mtype - 1];
    const int result = qx::archive::write_step(handles, step, archive_system());
    if (result < 0) {
        writeMsg(&rMsq, PMS_ERROR, 0, texts.failed, result);
        return result;
    }
    time_velmo tv{};
    JulToTime(step.time, &tv);
    if (tv.sec != 0) return result;
    writeMsg(&rMsq, PMS_OK, 0, texts.written, static_cast<int>(step.n), tv.hour, tv.min, tv.sec);
    if (Info* info = database().info) {
        if (mtype == QX_ARCHIV_VALUES) info->TimeLastArchiv = step.time;
        if (mtype == QX_DETAIL_VALUES) info->TimeLastDetail = step.time;
    }
    return result;
}

void HandleCommand(const QX_CommandMsg& message, int /*body_length*/) {
    switch (message.mtype) {
        case QX_CMD_POINTERS: {
            const Database& db = database();
            PointerAnswer answer{};
            answer.mtype = QX_CMD_POINTERS;
            answer.addresses[0] = reinterpret_cast<uintptr_t>(&db.system);
            answer.addresses[1] = reinterpret_cast<uintptr_t>(db.tags);
            answer.addresses[2] = reinterpret_cast<uintptr_t>(db.roh);
            answer.addresses[3] = reinterpret_cast<uintptr_t>(&db.info);
            SendAnswer(message, &answer, kPointerAnswerLength);
            break;
        }
        case QX_CMD_ATTACH: {
            QX_AttachAnswer answer = database().answer;
            SendAnswer(message, &answer, QX_ATTACH_ANSWER_SIZE + 4);
            break;
        }
        case QX_CMD_SAVECONFIG:
            SaveConfiguration();
            break;
        case QX_CMD_STOP:
            DoWork = 0;
            break;
        default:
            std::perror("SHM_DATA: Unbekanntes Kommando");
            break;
    }
}

bool WaitForMessage(int command_id, int archive_id, int max_ms, int slice_ms) {
    const int64_t deadline = MonotonicMs() + max_ms;
    for (;;) {
        if (DoWork == 0) return false;
        if (MessageWaiting(archive_id) || MessageWaiting(command_id)) return true;
        const int64_t left = deadline - MonotonicMs();
        if (left <= 0) return false;
        const int64_t slice = left < slice_ms ? left : slice_ms;
        const timespec pause{static_cast<time_t>(slice / 1000), static_cast<long>(slice % 1000) * 1000000L};
        // A signal cuts the pause short; the next look sees DoWork.
        nanosleep(&pause, nullptr);
    }
}

uint64_t RaiseQueueBytes(int msq_id, uint64_t wanted) {
    msqid_ds ds{};
    if (msgctl(msq_id, IPC_STAT, &ds) != 0) return 0;
    if (ds.msg_qbytes < wanted) {
        ds.msg_qbytes = static_cast<msglen_t>(wanted);
        // Refused (EPERM) above msgmnb without privilege: the queue keeps
        // what it has, and the producers split and wait for room.
        msgctl(msq_id, IPC_SET, &ds);
        if (msgctl(msq_id, IPC_STAT, &ds) != 0) return 0;
    }
    return ds.msg_qbytes;
}

}  // namespace datasrv

int shm_dataServer() {
    using namespace datasrv;
    sMsq command{-1, QX_KEY_CMD_QUEUE};
    sMsq archive{-1, QX_KEY_ARCHIVE_QUEUE};
    const int command_open = openMsg(&command);
    const int archive_open = openMsg(&archive);
    if (command_open < 0 || archive_open < 0) {
        const int error = command_open < 0 ? -command_open : -archive_open;
        ReportError("SHM_DATA: MSQ kann nicht ge\xEF\xBF\xBD" "ffnet werden", error);
        return error;
    }
    const uint64_t room = RaiseQueueBytes(archive.msqId, kArchivQueueBytes);
    ux_print_moni("SHM_DATA: Server bereit, Archiv-Queue %llu Bytes\n", static_cast<unsigned long long>(room));

    ArchivHandles handles{};
    static StepAssemblies assemblies;
    static ArchivRecord archive_record;
    CommandRecord command_record{};
    int exit_status = 0;
    int64_t last_delivery = MonotonicMs();
    int64_t last_archive = last_delivery;
    while (DoWork != 0) {
        bool delivered = false;
        bool archive_delivered = false;

        int32_t length = kArchivRecordLength;
        const int got = rcvMsg(&archive, archive_record.bytes, &length);
        if (got > 0) {
            delivered = archive_delivered = true;
            int64_t type = 0;
            std::memcpy(&type, archive_record.bytes, sizeof type);
            TakeArchiveMessage(handles, assemblies, type,
                               std::span<const uint8_t>(archive_record.bytes + 8, size_t(got)));
        } else if (got < 0) {
            writeMsg(&rMsq, PMS_ERROR, 0, "Fehler beim Lesen von Message-Queue: errno=%d (%s)", -got,
                     std::strerror(-got));
            // An oversized message has been taken out; what follows it is served at once.
            delivered = got == -E2BIG;
        }

        // Cleared each time: a short command must not pick up the text of
        // the previous one.
        std::memset(&command_record, 0, sizeof command_record);
        length = kCommandRecordLength;
        const int taken = rcvMsg(&command, &command_record, &length);
        if (taken > 0) {
            delivered = true;
            HandleCommand(command_record.message, taken);
        } else if (taken == -E2BIG) {
            // Longer than any command: taken out of the queue and dropped, so
            // no client can stop the server by sending one.
            delivered = true;
            ReportError("SHM_DATA: Kommando zu lang, verworfen", E2BIG);
            writeMsg(&rMsq, PMS_ERROR, 0, "SHM_DATA: Kommando zu lang, verworfen");
        } else if (taken < 0) {
            ReportError("SHM_DATA: MSQ kann nicht gelesen werden", -taken);
            exit_status = -taken;
            break;
        }

        const int64_t now = MonotonicMs();
        if (archive_delivered) last_archive = now;
        const bool gathering = std::any_of(assemblies.begin(), assemblies.end(),
                                           [](const StepAssembly& a) { return !a.empty(); });
        if (gathering && !archive_delivered && now - last_archive >= kStepQuietMs) FlushSteps(handles, assemblies);
        if (delivered) {
            last_delivery = now;
        } else {
            const bool burst = now - last_delivery < kBurstMs;
            // While a step is gathered, wake in time to write it.
            const int wait_ms = gathering ? int(kStepQuietMs) : kIdleWaitMs;
            WaitForMessage(command.msqId, archive.msqId, wait_ms, burst ? kBurstSliceMs : kIdleSliceMs);
        }
    }

    FlushSteps(handles, assemblies);
    for (QXDB& handle : handles) QXDBClose2(&handle, 0);
    if (exit_status != 0) return exit_status;
    closeMsg(&command);
    closeMsg(&archive);
    return 0;
}
