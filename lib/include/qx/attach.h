/*
 * Attach state: where this process finds the records of the tag database.
 *
 * QXInit points the state at the two shared-memory segments of the data
 * server.  A tool that works on a database of its own (for example to load or
 * write a configuration file without a data server) points it at memory it
 * provides with QX_SetAttachState.
 */
#ifndef QX_ATTACH_H
#define QX_ATTACH_H

#include "qx/records.h"

#ifdef __cplusplus
extern "C" {
#endif

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
