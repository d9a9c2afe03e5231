/*
 * Message queues and the log client.
 *
 * A thin layer over SysV message queues that every program uses for the log
 * queue, the data server's command and archive-write queues and the answer
 * queues: open, remove, send and receive without waiting, with one re-open
 * and retry when the queue vanished underneath the handle.
 *
 * Length convention: a caller passes the length of its record (type field
 * included, counted as 4 bytes); the body sent or accepted is length - 4
 * bytes.  A record therefore holds at least length + 4 bytes: the 8-byte
 * type and a body of length - 4 bytes.
 */
#ifndef QX_MSQ_H
#define QX_MSQ_H

#include <stdint.h>

#include "qx/records.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A queue handle. */
typedef struct sMsq {
    int32_t msqId;   /* identifier from msgget; -1 after a failed open */
    int32_t msqKey;  /* SysV key of the queue                          */
} sMsq;

/* Severity of a log message. */
typedef enum ePMSeverity {
    PMS_DEBUG   = 1,
    PMS_OK      = 2,
    PMS_INFO    = 3,
    PMS_WARNING = 4,
    PMS_ERROR   = 5
} ePMSeverity;

/* ---- The log message ------------------------------------------------------ */

#define QX_LOG_MSG_TYPE    1     /* queue message type of every log message         */
#define QX_LOG_RECORD_LEN  536   /* record length passed to sndMsg/rcvMsg           */
#define QX_LOG_BODY_SIZE   532   /* bytes after the type field                      */
#define QX_LOG_TEXT_SIZE   500   /* text field, zero-terminated                     */
#define QX_LOG_TEXT_MAX    498   /* characters of the caller's text that are kept    */

/* One message of the log queue (key QX_KEY_LOG_QUEUE).  Offsets of the body
 * count from pid; integers in the processor's own byte order. */
typedef struct QX_LogMsg {
    int64_t mtype;                    /* QX_LOG_MSG_TYPE                       */
    int32_t pid;                      /* body  0: sender's process id         */
    int32_t ppid;                     /* body  4: sender's parent process id  */
    int32_t severity;                 /* body  8: an ePMSeverity value        */
    int32_t code;                     /* body 12: caller's code (error bits)  */
    int64_t time;                     /* body 16: epoch seconds of sending     */
    char    text[QX_LOG_TEXT_SIZE];   /* body 24: text ending in a line feed  */
    char    reserved[8];              /* body 524: zero, ignored by receivers */
} QX_LogMsg;

#define QX_CHECK_LOG_BODY(field, off) \
    QX_STATIC_ASSERT(offsetof(QX_LogMsg, field) == 8 + (off), "QX_LogMsg." #field " must lie at body offset " #off)
QX_CHECK_LOG_BODY(pid, 0);
QX_CHECK_LOG_BODY(ppid, 4);
QX_CHECK_LOG_BODY(severity, 8);
QX_CHECK_LOG_BODY(code, 12);
QX_CHECK_LOG_BODY(time, 16);
QX_CHECK_LOG_BODY(text, 24);
QX_CHECK_LOG_BODY(reserved, 524);
QX_STATIC_ASSERT(offsetof(QX_LogMsg, reserved) + 8 == 8 + QX_LOG_BODY_SIZE, "the log body is 532 bytes");
QX_STATIC_ASSERT(sizeof(QX_LogMsg) >= QX_LOG_RECORD_LEN + 4, "a log record holds length + 4 bytes");
QX_STATIC_ASSERT(QX_LOG_BODY_SIZE == QX_LOG_RECORD_LEN - 4, "body = length - 4");

/* This program's handle of the log queue (key QX_KEY_LOG_QUEUE), opened by
 * QXInit; closed (msqId -1) until then. */
extern sMsq rMsq;

/* ---- Queue layer --------------------------------------------------------- */

/* msgget of msqKey with IPC_CREAT and mode 0666: 0 (identifier in msqId), or
 * the negated errno (msqId is then -1). */
int openMsg(sMsq* msq);

/* Removes the queue for all processes: 0, or the negated errno. */
int closeMsg(sMsq* msq);

/* Takes the first waiting message of any type, accepting at most *length - 4
 * body bytes, without waiting.  Returns the body bytes received (also stored
 * in *length), 0 when the queue is empty, or the negated errno. */
int rcvMsg(sMsq* msq, void* record, int32_t* length);

/* Sends *length - 4 body bytes without waiting: 0 (also stored in *length),
 * -1 when the handle is not open (the text is printed instead), or the
 * negated errno (the message is printed and lost). */
int sndMsg(sMsq* msq, void* record, int32_t* length);

/* ---- Log client ---------------------------------------------------------- */

/* Sends one log message with the text cut to 498 characters and ending in a
 * line feed; returns the result of sndMsg. */
int writeMsg2(sMsq* msq, ePMSeverity severity, int32_t code, const char* text);

/* printf-formatted log message (at most 8191 characters formatted, 498 sent).
 * Always returns 0. */
int writeMsg(sMsq* msq, ePMSeverity severity, int32_t code, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 4, 5)))
#endif
    ;

#ifdef __cplusplus
}
#endif

#endif /* QX_MSQ_H */
