// The log client: one message on the log queue per call, never blocking.
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "qx/msq.h"

extern "C" {

int writeMsg2(sMsq* msq, ePMSeverity severity, int32_t code, const char* text) {
    QX_LogMsg message;
    std::memset(&message, 0, sizeof message);
    message.mtype = QX_LOG_MSG_TYPE;
    message.pid = static_cast<int32_t>(getpid());
    message.ppid = static_cast<int32_t>(getppid());
    message.severity = static_cast<int32_t>(severity);
    message.code = code;
    message.time = static_cast<int64_t>(std::time(nullptr));

    // At most 498 characters, and always one line feed at the end: the log
    // sink writes the text as one line.
    const std::size_t kept = text != nullptr ? strnlen(text, QX_LOG_TEXT_MAX) : 0;
    if (kept > 0) std::memcpy(message.text, text, kept);
    if (kept == 0 || message.text[kept - 1] != '\n') message.text[kept] = '\n';

    int32_t length = QX_LOG_RECORD_LEN;
    return sndMsg(msq, &message, &length);
}

int writeMsg(sMsq* msq, ePMSeverity severity, int32_t code, const char* format, ...) {
    char text[8192];
    text[0] = '\0';
    if (format != nullptr) {
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
    }
    writeMsg2(msq, severity, code, text);
    return 0;
}

}  // extern "C"
