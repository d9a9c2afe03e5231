// Writing a raw value the way a link program does: value, status, write time
// and expiry, in that order, inside the (marking) cycle lock.  Used by the
// demo feeder and by the system tests, which stand in for the links.
#pragma once

#include <cstdint>
#include <cstring>
#include <ctime>
#include <string_view>

#include "qx.h"

namespace qx_tools {

// validity_seconds <= 0 makes the value never expire.  Slots outside
// 1..n_roh-1 are left alone, as a link leaves them.
inline void WriteRawLikeLink(const VelmoSystem* sys, Rohwerte* roh, int32_t validity_seconds, int32_t index,
                             double value, uint32_t status) {
    if (sys == nullptr || roh == nullptr || index <= 0 || index >= sys->n_roh) return;
    const int32_t lock = GetAndWaitTaktMutex();
    const uint32_t now = static_cast<uint32_t>(std::time(nullptr));
    Rohwerte& slot = roh[index];
    slot.Ist = value;
    slot.Status = status;
    slot.WriteTime = now;
    slot.ValidUntil = validity_seconds > 0 ? now + static_cast<uint32_t>(validity_seconds) : QX_VALID_FOREVER;
    ReleaseTaktMutex(lock);
}

// The short text of a slot (a unit): at most 15 characters, NUL-padded.
inline void WriteRawInfoLikeLink(const VelmoSystem* sys, Rohwerte* roh, int32_t index, std::string_view text) {
    if (sys == nullptr || roh == nullptr || index <= 0 || index >= sys->n_roh) return;
    const int32_t lock = GetAndWaitTaktMutex();
    Rohwerte& slot = roh[index];
    std::memset(slot.Info, 0, sizeof slot.Info);
    std::memcpy(slot.Info, text.data(), text.size() < sizeof slot.Info ? text.size() : sizeof slot.Info - 1);
    ReleaseTaktMutex(lock);
}

}  // namespace qx_tools
