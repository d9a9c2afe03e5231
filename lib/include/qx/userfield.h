/*
 * User fields: up to 64 typed attributes per tag, described in Info and
 * valued in one packed record per tag in segment 2.  Value functions check
 * the field index (0..count - 1), the tag number (1..4096), the attach and
 * their pointers; a failed check gives -1, a field of another type -2.
 */
#ifndef QX_USERFIELD_H
#define QX_USERFIELD_H

#include <stdint.h>

#include "qx/records.h"

#ifdef __cplusplus
extern "C" {
#endif

/* UserFieldCount, or 0 before an attach. */
int GetUserfieldCount(void);
/* Copies the field's description: 0, or -1. */
int GetUserfieldInfo(int field, UserFieldDSC* destination);
/* Index of the first field named so (case ignored), or -1. */
int GetUserfieldNbr(const char* name);

/* Formats the value with the field's FormatString into at most size - 1
 * characters: the untruncated length, or -1 (also when the format does not
 * fit the field's type).  A FLOAT or DOUBLE without value uses "%g". */
int GetUserfieldText(int tag, int field, char* buffer, int size);
/* As GetUserfieldText with "%s", "%d", "%ld", "%g", "%g". */
int GetUserfieldTextDefault(int tag, int field, char* buffer, int size);
/* Sets the value from text (TEXT cut to FieldLength - 1; numbers as atoi,
 * atol, atofnan): 0, or -1. */
int SetUserfieldText(int tag, int field, const char* text);

int GetUserfieldInt(int tag, int field, int16_t* value);
int GetUserfieldLong(int tag, int field, int32_t* value);
int GetUserfieldFloat(int tag, int field, float* value);
int GetUserfieldDouble(int tag, int field, double* value);
/* SetUserfieldInt keeps the low 16 bits. */
int SetUserfieldInt(int tag, int field, int value);
int SetUserfieldLong(int tag, int field, int32_t value);
int SetUserfieldFloat(int tag, int field, float value);
int SetUserfieldDouble(int tag, int field, double value);

#ifdef __cplusplus
}
#endif

#endif /* QX_USERFIELD_H */
