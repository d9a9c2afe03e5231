/*
 * Attach: where this process finds the records of the tag database.
 *
 * QXInit asks the data server on its command queue for the segment keys,
 * sizes and record offsets, attaches both segments and points the attach
 * state at the records.  A tool that works on a database of its own (for
 * example to load or write a configuration file without a data server)
 * points the state at memory it provides with QX_SetAttachState.
 *
 * The command messages and the attach answer are defined here as well, so
 * that the data server and the clients share one layout.
 */
#ifndef QX_ATTACH_H
#define QX_ATTACH_H

#include "qx/records.h"
#include "qx/msq.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Command queue of the data server ----------------------------------- */

#define QX_CMD_POINTERS     1     /* pointer request (answer useless outside the server) */
#define QX_CMD_ATTACH       2     /* attach request, answered with QX_AttachAnswer       */
#define QX_CMD_SAVECONFIG   3     /* write the configuration file back; no answer        */
#define QX_CMD_STOP         9999  /* stop the data server; no answer                     */

#define QX_CMD_TEXT_SIZE    80    /* message size given to the queue                     */
/* Text of an attach request: the answer queue's key as a signed decimal. */
#define QX_ATTACH_REQUEST_FORMAT "%ld # MSG Key answer queu"

/* One message on the command queue (88 bytes). */
typedef struct QX_CommandMsg {
    int64_t mtype;                    /* QX_CMD_...                                 */
    char    text[QX_CMD_TEXT_SIZE];   /* attach: QX_ATTACH_REQUEST_FORMAT; else zero */
} QX_CommandMsg;

#define QX_ATTACH_ANSWER_SIZE 56      /* body bytes of an attach answer */

/* The answer to an attach request, sent with type QX_CMD_ATTACH on the
 * client's answer queue (key QX_KEY_ANSWER_BASE + process id). */
typedef struct QX_AttachAnswer {
    int64_t mtype;
    int32_t keySegment1;          /* body  0: QX_KEY_SEGMENT1                    */
    int32_t keySegment2;          /* body  4: QX_KEY_SEGMENT2                    */
    int32_t sizeSegment1;         /* body  8                                     */
    int32_t sizeSegment2;         /* body 12: fixed part + 4097 * UserFieldRecLen */
    int32_t offSystem;            /* body 16: in segment 1                       */
    int32_t offTags;              /* body 20                                     */
    int32_t offRoh;               /* body 24                                     */
    int32_t offInfo;              /* body 28                                     */
    int32_t offTagAdd;            /* body 32: in segment 2                       */
    int32_t offTagsInternal;      /* body 36                                     */
    int32_t offUserFields;        /* body 40                                     */
    char    reserved[12];         /* body 44: ignored by clients                 */
} QX_AttachAnswer;

QX_CHECK_SIZE(QX_CommandMsg, 8 + QX_CMD_TEXT_SIZE);
QX_CHECK_FIELD(QX_CommandMsg, text, 8);
QX_CHECK_SIZE(QX_AttachAnswer, 8 + QX_ATTACH_ANSWER_SIZE);
QX_CHECK_FIELD(QX_AttachAnswer, keySegment1, 8 + 0);
QX_CHECK_FIELD(QX_AttachAnswer, keySegment2, 8 + 4);
QX_CHECK_FIELD(QX_AttachAnswer, sizeSegment1, 8 + 8);
QX_CHECK_FIELD(QX_AttachAnswer, sizeSegment2, 8 + 12);
QX_CHECK_FIELD(QX_AttachAnswer, offSystem, 8 + 16);
QX_CHECK_FIELD(QX_AttachAnswer, offTags, 8 + 20);
QX_CHECK_FIELD(QX_AttachAnswer, offRoh, 8 + 24);
QX_CHECK_FIELD(QX_AttachAnswer, offInfo, 8 + 28);
QX_CHECK_FIELD(QX_AttachAnswer, offTagAdd, 8 + 32);
QX_CHECK_FIELD(QX_AttachAnswer, offTagsInternal, 8 + 36);
QX_CHECK_FIELD(QX_AttachAnswer, offUserFields, 8 + 40);
QX_CHECK_FIELD(QX_AttachAnswer, reserved, 8 + 44);

/* ---- Attach ---------------------------------------------------------------- */

/* Attaches this process to the tag database of the running data server.
 * The first four arguments are accepted and not used.  On success the three
 * pointers receive VelmoSystem, Rohwerte[0] and Tags[0]; result 1.  Failure:
 * -5 no command queue, -4 no answer queue, -3 request not sent, -2 no valid
 * answer, -1 segments not attached.  Waits without limit for the answer; a
 * SIGTERM or SIGINT during the wait removes the answer queue before the
 * program ends. */
int QXInit(int argc, char** argv, int bufferLength, char* buffer,
           VelmoSystem** system, Rohwerte** roh, Tags** tags);

/* Asks the data server to write the configuration file back.  -1 when the
 * request was sent, -5 no command queue, -3 request not sent. */
int QX_SaveConfig(void);

/* Points the attach state at records the caller owns.  Any pointer may be
 * null; functions that need a missing record then fail as before an attach.
 * userFields is the start of the user-field records (4097 records of
 * info->UserFieldRecLen bytes). */
void QX_SetAttachState(VelmoSystem* system, Tags* tags, Rohwerte* roh, Info* info,
                       TagAdd* tagAdd, TagsInternal* tagsInternal, unsigned char* userFields);

/* Clears the attach state, as before the first attach. */
void QX_ClearAttachState(void);

#ifdef __cplusplus
}
#endif

#endif /* QX_ATTACH_H */
