/* Filled by its concern; see qx.h. */
#ifndef QX_USERFIELD_H
#define QX_USERFIELD_H

#include "qx/records.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif /* QX_USERFIELD_H */
