/* Filled by its concern; see qx.h. */
#ifndef QX_INI_H
#define QX_INI_H

#include "qx/records.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif /* QX_INI_H */
