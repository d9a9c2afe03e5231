/* Filled by its concern; see qx.h. */
#ifndef QX_DBCONFIG_H
#define QX_DBCONFIG_H

#include "qx/records.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif /* QX_DBCONFIG_H */
