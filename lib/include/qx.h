/*
 * qx.h - the common library of the gateway runtime.
 *
 * One header for programs and link programs written in C or C++: the shared
 * records of the tag database, attach and program frame, tag, raw-value and
 * user-field access, message queues and the log client, the archive store,
 * calendar and time, the time-zone table, INI files and small utilities.
 */
#ifndef QX_H
#define QX_H

#include "qx/records.h"
#include "qx/util.h"

#endif /* QX_H */
