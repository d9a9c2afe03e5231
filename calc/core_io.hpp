// What the computing core needs from outside its own tables: the log queue,
// the four archive queue writers and the trend store.  The program uses the
// library's functions; tests put recorders in their place.
#pragma once

#include <cstdint>

#include "qx/records.h"

namespace calc {

struct CoreIo {
    // The archive-write queue writers; 0 when sent, negative when not.
    using ValueWriter = int (*)(int n, const VelmoSystem* sys, const int32_t* tags, const double* values, double time);
    using StatusWriter = int (*)(int n, const VelmoSystem* sys, const int32_t* tags, const uint32_t* status, double time);
    ValueWriter write_archiv;
    StatusWriter write_archiv_status;
    ValueWriter write_detail;
    StatusWriter write_detail_status;
    // One log message (severity PMS_*, message number, finished text).
    void (*log)(int severity, int code, const char* text);
    // TagsInternal record 0 of the attached database, or null.
    TagsInternal* (*tags_internal)();
    // Loads the process's time zone (KWZ_TimeZone) and reports its biases.
    void (*load_time_zone)(long* bias, long* standard_bias, long* daylight_bias);
};

// The process's I/O hooks; the library's functions unless a test replaced them.
CoreIo& core_io();
// Puts the library's functions back.
void ResetCoreIo();

// Log severities (the log client's ePMSeverity values).
inline constexpr int kLogOk = 2;
inline constexpr int kLogInfo = 3;
inline constexpr int kLogError = 5;

// printf-formatted log message through core_io().log; nothing when no log hook is set.
void LogMessage(int severity, int code, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

}  // namespace calc
