// The TagAdd table of sum entries: used entries sorted by SumTag, then AddTag.
#pragma once

#include <cstdint>
#include <span>

#include "qx/records.h"

namespace qx::sum {

// The used entries of a TagAdd table of QX_TAGADD_MAX entries, as Info counts
// them (a count outside the table is clamped to it).  Empty without a table or
// an Info.
std::span<TagAdd> used_entries(TagAdd* table, const Info* info);

// The contiguous entries of one sum tag among the used entries.
std::span<TagAdd> entries_of(std::span<TagAdd> used, int32_t sum_tag);

}  // namespace qx::sum
