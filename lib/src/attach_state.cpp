#include "attach_state.hpp"

#include "qx/attach.h"

namespace qx {

AttachState& attach_state() {
    static AttachState state;  // constant-initialised: no start-up side effect
    return state;
}

}  // namespace qx

extern "C" void QX_SetAttachState(VelmoSystem* system, Tags* tags, Rohwerte* roh, Info* info,
                                  TagAdd* tagAdd, TagsInternal* tagsInternal, unsigned char* userFields) {
    qx::attach_state() = qx::AttachState{system, tags, roh, info, tagAdd, tagsInternal, userFields};
}

extern "C" void QX_ClearAttachState(void) {
    qx::attach_state() = qx::AttachState{};
}
