/* Filled by its concern; see qx.h. */
#ifndef QX_TIMEZONE_H
#define QX_TIMEZONE_H

#include "qx/records.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif /* QX_TIMEZONE_H */
