/* Filled by its concern; see qx.h. */
#ifndef QX_FRAME_H
#define QX_FRAME_H

#include "qx/records.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif /* QX_FRAME_H */
