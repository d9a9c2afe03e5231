// The data server: builds the tag database in shared memory from the
// configuration file and serves the command queue (attach, write-back, stop)
// and the archive-write queue until it is told to stop.
#pragma once

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <span>

#include "archive_message.hpp"
#include "qx.h"

// The server loop runs while this is not 0; SIGUSR1 and command 9999 clear it.
extern volatile sig_atomic_t DoWork;

// SIGUSR1: prints the monitor line and ends the loop after the current turn.
extern "C" void sigUsr1(int signal_number);

// Installs sigUsr1, reads the configuration at path into fresh segments and
// points this process's attach state at them.  The name is not used.
void Qx_Init(const char* name, const char* path);

// Serves both queues until DoWork is 0, then removes them.  Returns 0, or the
// errno that made the server give up (the program's exit status).
int shm_dataServer();

namespace datasrv {

// What Qx_Init built: the records in the segments (null for a segment that
// could not be attached) and the layout sent in every attach answer.
struct Database {
    VelmoSystem* system = nullptr;
    Tags* tags = nullptr;
    Rohwerte* roh = nullptr;
    Info* info = nullptr;
    TagAdd* tag_add = nullptr;
    TagsInternal* tags_internal = nullptr;
    unsigned char* user_fields = nullptr;
    QX_AttachAnswer answer{};
};
const Database& database();

// The system record the archive writers use: the segment's, or the private
// copy read from the file when segment 1 is missing.
const VelmoSystem* archive_system();

// Size of the archive-write receive buffer: type, time, count and 4096 tag
// numbers with 4096 doubles (or 6144 status words).
inline constexpr int32_t kArchivRecordLength = QX_ARCHIV_MSG_MAX;
// Command messages: the type and 80 text bytes; the receive accepts up to
// 84 body bytes, as the clients have always been allowed to send.
inline constexpr int32_t kCommandRecordLength = 88;

// The four archive file handles, one per kind, each keeping its file open
// from one message to the next.
using ArchivHandles = QXDB[4];

// Writes one received archive-write message (body = the bytes after the
// type field) and logs the outcome.  Returns the write result, or a
// negative code for a message that is refused unwritten.
int HandleArchiveMessage(ArchivHandles& handles, int64_t mtype, std::span<const uint8_t> body);

// Takes one received archive-write message apart: true and the step when it
// is well formed; false when it is refused (the refusal is logged).
bool DecodeArchiveMessage(int64_t mtype, std::span<const uint8_t> body, qx::archive::StepView& step);

// Writes one decoded step with the direct writer of its kind, logs the
// outcome and moves TimeLastArchiv / TimeLastDetail.  The write result.
int WriteArchiveStep(ArchivHandles& handles, const qx::archive::StepView& step);

// Serves one received command.  body_length is the received body size.
void HandleCommand(const QX_CommandMsg& message, int body_length);

// Waits at most max_ms for a message on either queue, checking every slice_ms;
// true as soon as one is waiting.  Ends early (false) when DoWork is cleared.
bool WaitForMessage(int command_id, int archive_id, int max_ms, int slice_ms);

// Asks for wanted bytes of room in the queue; the kernel allows more than
// msgmnb only to a privileged process.  Returns the queue's room afterwards
// (0 when it can't be read).
uint64_t RaiseQueueBytes(int msq_id, uint64_t wanted);

}  // namespace datasrv
