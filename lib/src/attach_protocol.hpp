// The attach handshake as both sides see it: the client's answer-queue key,
// the request text, the answer the data server sends and the checks a
// client applies to it.  Shared by QXInit and the data server.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <span>

#include "qx/attach.h"

namespace qx {

// 0xBEEF0000 + process id in 32-bit arithmetic: negative as int32 for every
// process id below 0x41110000.
int32_t answer_queue_key(pid_t pid);

// A type-2 command message asking for the attach answer on answer_key.
QX_CommandMsg make_attach_request(int32_t answer_key);

// The answer-queue key at the start of a command text, read like atol.  The
// text need not be terminated within its 80 bytes.
int32_t parse_answer_key(std::span<const char, QX_CMD_TEXT_SIZE> text);

// The answer for the fixed segment layout with the given user-field record
// length.
QX_AttachAnswer make_attach_answer(int32_t user_field_rec_len);

// Whether an answer's sizes and offsets place every record, suitably
// aligned, inside its segment; the user-field records are checked once Info
// can be read (user_fields_fit).
bool answer_layout_fits(const QX_AttachAnswer& answer);

// Whether 4097 user-field records of rec_len bytes fit behind the offset.
bool user_fields_fit(const QX_AttachAnswer& answer, int32_t rec_len);

}  // namespace qx
