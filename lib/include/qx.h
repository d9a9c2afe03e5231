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

#include "qx/records.h"     /* shared records, segment layout, status bits   */
#include "qx/util.h"        /* missing value, trimming, monitor output, paths */
#include "qx/ini.h"         /* INI files under the system-wide lock          */
#include "qx/calendar.h"    /* Jul time, calendar, daylight rules            */
#include "qx/timezone.h"    /* the time-zone table                           */
#include "qx/msq.h"         /* message queues and the log client             */
#include "qx/attach.h"      /* attach state and the attach handshake         */
#include "qx/frame.h"       /* program frame                                 */
#include "qx/tagaccess.h"   /* tag and raw-value access                      */
#include "qx/userfield.h"   /* user fields                                   */
#include "qx/dbconfig.h"    /* configuration file of the tag database        */
#include "qx/archive.h"     /* archive files: naming, writing, reading       */

#endif /* QX_H */
