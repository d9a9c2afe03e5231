// The per-process attach state: pointers to the records of the tag database,
// set by QXInit (or QX_SetAttachState), null before an attach.
#pragma once

#include "qx/records.h"

namespace qx {

struct AttachState {
    VelmoSystem* system = nullptr;
    Tags* tags = nullptr;               // Tags[0..4096]
    Rohwerte* roh = nullptr;            // Rohwerte[0..4096]
    Info* info = nullptr;
    TagAdd* tag_add = nullptr;          // TagAdd[8194]
    TagsInternal* tags_internal = nullptr;  // TagsInternal[0..4096]
    unsigned char* user_fields = nullptr;   // 4097 records of info->UserFieldRecLen bytes
};

// The one attach state of this process.
AttachState& attach_state();

}  // namespace qx
