/* Filled by its concern; see qx.h. */
#ifndef QX_MSQ_H
#define QX_MSQ_H

#include "qx/records.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif /* QX_MSQ_H */
