/* Filled by its concern; see qx.h. */
#ifndef QX_TAGACCESS_H
#define QX_TAGACCESS_H

#include "qx/records.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif /* QX_TAGACCESS_H */
