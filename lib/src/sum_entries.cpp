// Sum entries: the addends of sum tags in the attached TagAdd table.
#include "sum_entries.hpp"

#include <algorithm>
#include <cstring>

#include "attach_state.hpp"
#include "qx/dbconfig.h"

namespace qx::sum {

namespace {

bool tag_in_range(int32_t tag) { return tag >= 1 && tag <= QX_N_TAG; }

bool before(const TagAdd& a, const TagAdd& b) {
    return a.SumTag != b.SumTag ? a.SumTag < b.SumTag : a.AddTag < b.AddTag;
}

// The entries of a sum tag with the checks every operation shares: -4 out of
// range, -1 not a sum tag or nothing attached, else 0 and the entries.
int32_t lookup(int32_t tag, std::span<TagAdd>& entries) {
    entries = {};
    if (!tag_in_range(tag)) return -4;
    const AttachState& st = attach_state();
    if (st.tags == nullptr) return -1;
    const int32_t fkt = st.tags[tag].Fkt;
    if (fkt != QX_FKT_SUM && fkt != QX_FKT_SUM_ALT) return -1;
    entries = entries_of(used_entries(st.tag_add, st.info), tag);
    return 0;
}

// An entry index of a sum tag: 0 and the entry, or the error to return.
int32_t lookup_entry(int32_t tag, int32_t index, TagAdd*& entry) {
    std::span<TagAdd> entries;
    const int32_t rc = lookup(tag, entries);
    if (rc < 0) return rc;
    if (index < 0 || static_cast<std::size_t>(index) >= entries.size()) return -2;
    entry = &entries[static_cast<std::size_t>(index)];
    return 0;
}

}  // namespace

std::span<TagAdd> used_entries(TagAdd* table, const Info* info) {
    if (table == nullptr || info == nullptr) return {};
    const int32_t count = std::clamp<int32_t>(info->TagAddCount, 0, QX_TAGADD_MAX);
    return {table, static_cast<std::size_t>(count)};
}

std::span<TagAdd> entries_of(std::span<TagAdd> used, int32_t sum_tag) {
    const auto first = std::lower_bound(used.begin(), used.end(), sum_tag,
                                        [](const TagAdd& e, int32_t s) { return e.SumTag < s; });
    auto last = first;
    while (last != used.end() && last->SumTag == sum_tag) ++last;
    return {first, last};
}

}  // namespace qx::sum

extern "C" {

int32_t CompareVelmoTagAddS1(const void* a, const void* b) {
    TagAdd x, y;
    std::memcpy(&x, a, sizeof x);
    std::memcpy(&y, b, sizeof y);
    // In 64 bits, so extreme numbers cannot overflow; the sign is what counts.
    const int64_t d = int64_t{x.SumTag} - int64_t{y.SumTag};
    return static_cast<int32_t>(std::clamp<int64_t>(d, INT32_MIN, INT32_MAX));
}

int32_t CompareVelmoTagAdd(const void* a, const void* b) {
    if (const int32_t d = CompareVelmoTagAddS1(a, b); d != 0) return d;
    TagAdd x, y;
    std::memcpy(&x, a, sizeof x);
    std::memcpy(&y, b, sizeof y);
    const int64_t d = int64_t{x.AddTag} - int64_t{y.AddTag};
    return static_cast<int32_t>(std::clamp<int64_t>(d, INT32_MIN, INT32_MAX));
}

int32_t SumGetAnzEntries(int32_t tag, TagAdd** entries) {
    if (entries != nullptr) *entries = nullptr;
    std::span<TagAdd> found;
    const int32_t rc = qx::sum::lookup(tag, found);
    if (rc < 0) return rc;
    if (!found.empty() && entries != nullptr) *entries = found.data();
    return static_cast<int32_t>(found.size());
}

int32_t SumAddEntry(int32_t sumTag, int32_t addTag, double factor) {
    if (!qx::sum::tag_in_range(sumTag) || !qx::sum::tag_in_range(addTag)) return -4;
    const qx::AttachState& st = qx::attach_state();
    if (st.tags == nullptr || st.tags[sumTag].Fkt != QX_FKT_SUM) return -1;
    if (st.tag_add == nullptr || st.info == nullptr) return -3;
    const std::span<TagAdd> used = qx::sum::used_entries(st.tag_add, st.info);
    const int32_t capacity = std::clamp<int32_t>(st.info->TagAddMax, 0, QX_TAGADD_MAX);
    if (static_cast<int64_t>(used.size()) >= capacity) return -3;

    const TagAdd entry{factor, addTag, sumTag};
    const auto at = std::lower_bound(used.begin(), used.end(), entry, qx::sum::before);
    if (at != used.end() && at->SumTag == sumTag && at->AddTag == addTag) return -5;
    const std::size_t pos = static_cast<std::size_t>(at - used.begin());
    std::memmove(st.tag_add + pos + 1, st.tag_add + pos, (used.size() - pos) * sizeof(TagAdd));
    st.tag_add[pos] = entry;
    st.info->TagAddCount = static_cast<int32_t>(used.size() + 1);

    std::size_t first = pos;
    while (first > 0 && st.tag_add[first - 1].SumTag == sumTag) --first;
    return static_cast<int32_t>(pos - first);
}

int32_t SumDelEntry(int32_t sumTag, int32_t index) {
    TagAdd* entry = nullptr;
    const int32_t rc = qx::sum::lookup_entry(sumTag, index, entry);
    if (rc < 0) return rc;
    const qx::AttachState& st = qx::attach_state();
    const std::span<TagAdd> used = qx::sum::used_entries(st.tag_add, st.info);
    const std::size_t pos = static_cast<std::size_t>(entry - used.data());
    std::memmove(entry, entry + 1, (used.size() - pos - 1) * sizeof(TagAdd));
    st.info->TagAddCount = static_cast<int32_t>(used.size() - 1);
    return 0;
}

int32_t SumGetEntry(int32_t sumTag, int32_t index, int32_t* addTag, double* factor) {
    TagAdd* entry = nullptr;
    const int32_t rc = qx::sum::lookup_entry(sumTag, index, entry);
    if (rc < 0) return rc;
    if (addTag != nullptr) *addTag = entry->AddTag;
    if (factor != nullptr) *factor = entry->Factor;
    return 0;
}

int32_t SumSetEntry(int32_t sumTag, int32_t index, int32_t addTag, double factor) {
    TagAdd* entry = nullptr;
    const int32_t rc = qx::sum::lookup_entry(sumTag, index, entry);
    if (rc < 0) return rc;
    if (entry->AddTag != addTag) {
        // A new addend keeps the table sorted and every pair unique, which
        // the binary searches of all other operations rely on.
        if (!qx::sum::tag_in_range(addTag)) return -4;
        std::span<TagAdd> entries;
        qx::sum::lookup(sumTag, entries);
        for (const TagAdd& e : entries)
            if (e.AddTag == addTag) return -5;
        entry->AddTag = addTag;
        std::sort(entries.begin(), entries.end(), qx::sum::before);
        for (TagAdd& e : entries)
            if (e.AddTag == addTag) entry = &e;
    }
    entry->Factor = factor;
    return 0;
}

}  // extern "C"
