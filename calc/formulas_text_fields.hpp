// Small rules the selector, time and text formulas share: the 64-byte text
// field of a tag, and turning parameter doubles into whole numbers without
// the undefined conversions of NaN or out-of-range values.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "qx/records.h"

namespace calc {

inline constexpr size_t kTextBytes = sizeof(Tags{}.Text);

// A double as int, truncated toward zero; NaN gives 0 and values beyond the
// int range stop at its ends.
inline int IntOf(double value) {
    if (value != value) return 0;
    if (value >= 2147483647.0) return 2147483647;
    if (value <= -2147483648.0) return -2147483647 - 1;
    return static_cast<int>(value);
}

// Copies a text into a Text field: the rest is zero-filled, and a text of 64
// characters or more fills the field without a terminator.
inline void SetText(Tags& tag, const char* text) {
    size_t n = 0;
    while (n < kTextBytes && text[n] != '\0') ++n;
    std::memcpy(tag.Text, text, n);
    std::memset(tag.Text + n, 0, kTextBytes - n);
}

// Text of one tag into another with the same rule; the source is taken first,
// so a tag may copy onto itself.
inline void CopyText(Tags& to, const Tags& from) {
    char copy[kTextBytes + 1];
    std::memcpy(copy, from.Text, kTextBytes);
    copy[kTextBytes] = '\0';
    SetText(to, copy);
}

inline void ClearText(Tags& tag) { std::memset(tag.Text, 0, kTextBytes); }

// |value| with the sign of `sign` (negative only when sign < 0).
inline double WithSignOf(double value, double sign) { return sign < 0.0 ? -std::fabs(value) : std::fabs(value); }

}  // namespace calc
