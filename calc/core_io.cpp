#include "core_io.hpp"

#include <cstdarg>
#include <cstdio>

#include "qx.h"

namespace calc {
namespace {

void LogToQueue(int severity, int code, const char* text) {
    writeMsg(&rMsq, static_cast<ePMSeverity>(severity), code, "%s", text);
}

void LoadProcessTimeZone(long* bias, long* standard_bias, long* daylight_bias) {
    GetTimeZoneInformation(&KWZ_TimeZone);
    *bias = KWZ_TimeZone.Bias;
    *standard_bias = KWZ_TimeZone.StandardBias;
    *daylight_bias = KWZ_TimeZone.DaylightBias;
}

constexpr CoreIo LibraryIo() {
    return CoreIo{WriteArchiv, WriteArchivStatus, WriteDetail, WriteDetailStatus,
                  LogToQueue,  GetTagsInternal,   LoadProcessTimeZone};
}

CoreIo g_io = LibraryIo();

}  // namespace

CoreIo& core_io() { return g_io; }

void ResetCoreIo() { g_io = LibraryIo(); }

void LogMessage(int severity, int code, const char* format, ...) {
    if (g_io.log == nullptr) return;
    // The log client cuts texts at 498 characters; this buffer holds more.
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    g_io.log(severity, code, text);
}

}  // namespace calc
