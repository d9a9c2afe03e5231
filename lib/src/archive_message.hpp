// The archive-write message: one step of one kind (time, tag numbers and
// their values or status words), as the queue writers send it and the data
// server takes it apart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "qx/archive.h"

namespace qx::archive {

// Bytes per tag in a message: tag number plus value (12) or status word (8).
inline constexpr uint32_t per_tag_bytes(int kind) { return kind == 2 || kind == 4 ? 8u : 12u; }

// Record length of a message with n tags (type field counted as 4 bytes, so
// the body on the queue is this minus 4: the fields plus 4 zero bytes).
inline constexpr uint32_t record_length(int kind, uint32_t n) { return QX_ARCHIV_MSG_HEAD + per_tag_bytes(kind) * n; }

// Most tags one message may carry when the kernel takes messages of at most
// msgmax bytes into a queue of qbytes bytes; the data server's receive buffer
// bounds it too.  0 when not even one tag fits.
uint32_t tags_per_message(int kind, uint64_t msgmax, uint64_t qbytes);

// A received step, pointing into the message body.  Values and status words
// may lie unaligned; copy them out with memcpy (or use value()/status()).
struct StepView {
    int kind = 0;
    double time = 0;
    uint32_t n = 0;
    const uint8_t* tags = nullptr;   // int32[n]
    const uint8_t* data = nullptr;   // double[n] or uint32[n]

    int32_t tag(uint32_t i) const;
    double value(uint32_t i) const;
    uint32_t status(uint32_t i) const;
};

// Takes apart the body (the bytes after the 8-byte type) of a message of the
// given type.  False when the type is not 1 to 4 or the body is shorter than
// its tag count says.
bool decode_step(long mtype, std::span<const uint8_t> body, StepView& out);

// Writes a decoded step with the direct writer of its kind into handles[kind-1].
// A step may carry only part of a row: the other tags' slots keep their values.
int write_step(QXDB (&handles)[4], const StepView& step, const VelmoSystem* sys);

}  // namespace qx::archive
