/* Filled by its concern; see qx.h. */
#ifndef QX_ARCHIVE_H
#define QX_ARCHIVE_H

#include "qx/records.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif /* QX_ARCHIVE_H */
