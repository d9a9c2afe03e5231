/* Filled by its concern; see qx.h. */
#ifndef QX_CALENDAR_H
#define QX_CALENDAR_H

#include "qx/records.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif /* QX_CALENDAR_H */
