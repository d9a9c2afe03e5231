// The substitute-value check: a switched-off tag shows Hdouble[9], a faulty
// one Hdouble[8] unless it is set to keep its value on fault.
#include "kern.hpp"

int32_t VelmoErsatzwerte(int32_t kind, uint32_t* status, Tags* tag) {
    if (kind != 1 && kind != 2) return 255;
    if (status == nullptr || tag == nullptr) return 0;
    // Alarm collectors (100, 101) carry no value of their own.
    if (kind == 1 && (tag->Fkt == 100 || tag->Fkt == 101)) return 0;
    if (tag->HLog[HLOG_IN_SERVICE] == 0) {
        tag->Ist = tag->Hdouble[9];
        tag->Status |= ST_OFF;
        *status |= ST_OFF;
        return 1;
    }
    const uint32_t tested = kind == 1 ? tag->Status : *status;
    if (tag->HLog[HLOG_KEEP_ON_FAULT] == 0 && (tested & ST_FAULT_MASK) != 0) {
        tag->Ist = tag->Hdouble[8];
        tag->Status |= ST_SUBST;
        *status |= ST_SUBST;
        return 2;
    }
    return 0;
}
