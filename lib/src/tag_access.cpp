// Tag and raw-value access: checked copies of shared records and the fields
// of Info, all through this process's attach state.
#include <algorithm>
#include <cstring>

#include "attach_state.hpp"
#include "qx/calendar.h"
#include "qx/tagaccess.h"
#include "qx/util.h"

namespace {

// Numbers are checked as unsigned values, so 0 and negative numbers fail
// together with numbers above the table.
template <typename Record>
Record* numbered(Record* table, int number, int highest) {
    if (table == nullptr) return nullptr;
    if (static_cast<unsigned>(number) - 1u >= static_cast<unsigned>(highest)) return nullptr;
    return table + number;
}

Tags* tag_record(int tag) {
    return numbered(qx::attach_state().tags, tag, QX_N_TAG);
}

Rohwerte* roh_record(int roh) {
    return numbered(qx::attach_state().roh, roh, QX_N_ROH);
}

void print_tag_default_fkt(const char* step) {
    const VelmoSystem* system = qx::attach_state().system;
    if (system != nullptr) ux_print_moni("(%s) WriteTag: TagDefaultFkt: %d", step, system->TagDefaultFkt);
}

// dir_archiv need not be terminated within its 64 bytes.
void print_archiv(const char* step, const VelmoSystem& shared, const VelmoSystem& source) {
    const int shared_length = static_cast<int>(strnlen(shared.dir_archiv, sizeof shared.dir_archiv));
    const int source_length = static_cast<int>(strnlen(source.dir_archiv, sizeof source.dir_archiv));
    ux_print_moni("(%s) Archiv: %.*s / %.*s", step, shared_length, shared.dir_archiv, source_length,
                  source.dir_archiv);
}

double info_time(double Info::*field) {
    const Info* info = qx::attach_state().info;
    return info != nullptr ? info->*field : GetNan();
}

double set_info_time(double Info::*field, double time) {
    Info* info = qx::attach_state().info;
    if (info == nullptr) return GetNan();
    info->*field = time;
    return time;
}

}  // namespace

extern "C" {

int ReadTag(int tag, Tags* destination) {
    const Tags* record = tag_record(tag);
    if (record == nullptr || destination == nullptr) return -1;
    std::memcpy(destination, record, sizeof(Tags));
    return 0;
}

int WriteTag(int tag, const Tags* source) {
    Tags* record = tag_record(tag);
    if (record == nullptr || source == nullptr) return -1;
    print_tag_default_fkt("A");
    std::memmove(record, source, sizeof(Tags));
    print_tag_default_fkt("B");
    return 0;
}

double ReadRoh(int roh) {
    const Rohwerte* record = roh_record(roh);
    return record != nullptr ? record->Ist : GetNan();
}

double WriteRoh(int roh, double value) {
    Rohwerte* record = roh_record(roh);
    if (record == nullptr) return GetNan();
    record->Ist = value;
    return value;
}

int ReadRohInfo(int roh, Rohwerte* destination) {
    const Rohwerte* record = roh_record(roh);
    if (record == nullptr || destination == nullptr) return -1;
    std::memcpy(destination, record, sizeof(Rohwerte));
    return 0;
}

int WriteRohInfo(int roh, const Rohwerte* source) {
    Rohwerte* record = roh_record(roh);
    if (record == nullptr || source == nullptr) return -1;
    std::memmove(record, source, sizeof(Rohwerte));
    return 0;
}

VelmoSystem* ReadVelmoSystem(VelmoSystem* destination) {
    const VelmoSystem* system = qx::attach_state().system;
    if (system != nullptr && destination != nullptr) std::memmove(destination, system, sizeof(VelmoSystem));
    return destination;
}

void WriteVelmoSystem(VelmoSystem* source) {
    VelmoSystem* system = qx::attach_state().system;
    if (system == nullptr || source == nullptr) return;
    print_archiv("5-A", *system, *source);
    StrTrim(source->dir_archiv, sizeof source->dir_archiv);
    print_archiv("5-B", *system, *source);
    std::memmove(system, source, sizeof(VelmoSystem));
    print_archiv("5-Z", *system, *source);
}

double GetTimeLastArchiv(void) { return info_time(&Info::TimeLastArchiv); }
double GetTimeLastDetail(void) { return info_time(&Info::TimeLastDetail); }
double GetTimeLastTag(void) { return info_time(&Info::TimeLastTag); }
double GetTimeLastTrend(void) { return info_time(&Info::TimeLastTrend); }
double SetTimeLastArchiv(double time) { return set_info_time(&Info::TimeLastArchiv, time); }
double SetTimeLastDetail(double time) { return set_info_time(&Info::TimeLastDetail, time); }
double SetTimeLastTag(double time) { return set_info_time(&Info::TimeLastTag, time); }
double SetTimeLastTrend(double time) { return set_info_time(&Info::TimeLastTrend, time); }

int GetArchivPath(char* buffer, int length) {
    if (buffer == nullptr || length <= 0) return 0;
    std::memset(buffer, 0, static_cast<size_t>(length));
    const Info* info = qx::attach_state().info;
    if (info == nullptr) return 0;
    const size_t stored = strnlen(info->PathArchiv, sizeof info->PathArchiv - 1);
    std::memcpy(buffer, info->PathArchiv, std::min(stored, static_cast<size_t>(length) - 1));
    return 0;
}

int SetArchivPath(const char* text) {
    Info* info = qx::attach_state().info;
    if (info == nullptr) return -1;
    std::memset(info->PathArchiv, 0, sizeof info->PathArchiv);
    if (text != nullptr) std::memcpy(info->PathArchiv, text, strnlen(text, sizeof info->PathArchiv - 1));
    return 0;
}

TagsInternal* GetTagsInternal(void) {
    return qx::attach_state().tags_internal;
}

int WriteArchivAdd(void) {
    return 0;
}

double QXTimeToUTC(double localTime) {
    return LocalTimeToUTC(KWZ_TimeZone, 0, localTime);
}

double QXUTCToTime(double utcTime) {
    return UTCToLocalTime(KWZ_TimeZone, nullptr, utcTime);
}

}  // extern "C"
