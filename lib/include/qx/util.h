/*
 * Small utilities every program carries: monitor output, the missing value
 * (NaN with all bits set) and its text form, string trimming, byte-order
 * swapping, upper-casing, a millisecond sleep, and the mapping of the
 * system's fixed paths below QX_ROOT.
 */
#ifndef QX_UTIL_H
#define QX_UTIL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The missing value: a double with all 64 bits set. */
double GetNan(void);
/* 1 when the value is a NaN (it differs from itself), else 0. */
int IsNan(double value);
/* The number sscanf reads with "%lg"; the missing value when the text holds
 * "#QNAN", holds no number, or the number read is a NaN. */
double atofnan(const char* text);

/* Trim in place: tabs to blanks, trailing CR/LF and blanks removed, leading
 * blanks removed, the rest of the length zeroed.  Never reads past length. */
void StrTrim(char* text, int length);
int StrTrimLen(char* text, int length);
/* Every CR among the first count bytes becomes '~'. */
void nocr(char* buffer, int count);

uint32_t swab_long(uint32_t value);
uint16_t swab_short(uint16_t value);
/* Converts the text to upper case in place and returns it. */
char* _strupr(char* text);

/* printf-formatted monitor line on standard output (at most 8191 characters). */
int ux_print_moni(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
/* Suspends the calling thread for the given milliseconds. */
int Sleep(int milliseconds);

/* Maps one of the system's fixed absolute paths (/home/kwz/..., /tmp/...,
 * /sys/...) below the directory named by the environment variable QX_ROOT,
 * when it is set and not empty; otherwise copies the path unchanged.
 * Returns the length written, or -1 when the result does not fit outsize. */
int QX_FixedPath(const char* path, char* out, size_t outsize);

#ifdef __cplusplus
}
#endif

#endif /* QX_UTIL_H */
