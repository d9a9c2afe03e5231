// Value conventions of the tag database as the core uses them.
#pragma once

#include <bit>
#include <cstdint>
#include <limits>

namespace calc {

// The missing value: all 64 bits set, the same bytes as GetNan() and a record
// filled with 0xFF, so that files and peers see the one NaN pattern.
inline constexpr double kNan = std::bit_cast<double>(~uint64_t{0});
inline constexpr double kMax = std::numeric_limits<double>::max();

inline bool IsMissing(double value) { return value != value; }

}  // namespace calc
