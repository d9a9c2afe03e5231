// Text and tag-table formulas.
//
// Texts are the 64-byte Text fields of tags, copied with the zero-fill rule
// of formulas_text_fields.hpp.  Every tag number taken from a parameter or a
// reference is range-checked before it is touched: a number outside the
// table skips the step that would use it.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "formula_families.hpp"
#include "formulas_text_fields.hpp"
#include "values.hpp"

namespace calc {
namespace {

constexpr uint32_t kMissingReference = 3;  // small status code of 22 and 23

double* Params(FormulaCall& call) { return call.hd != nullptr ? call.hd : call.tag->Hdouble; }

double Input(const FormulaCall& call, int k) { return call.inputs != nullptr ? call.inputs[k] : kNan; }

// The tag a reference names, or null when it is outside 1..n_tag.
Tags* TagAt(FormulaCall& call, long ref) { return ValidTagRef(call.sys, ref) ? &call.tags[ref] : nullptr; }

// 11: the text in groups of four characters, each group's characters as hex
// digits read back as one number, into Z0..Z4.
double TextToNumbers(FormulaCall& call) {
    const double* h = Params(call);
    Tags& tag = *call.tag;
    if (h[0] > 0.0) {
        if (const Tags* from = TagAt(call, RefFromDouble(h[0]))) CopyText(tag, *from);
    }
    const void* end = std::memchr(tag.Text, '\0', kTextBytes);
    const size_t length = end != nullptr ? static_cast<size_t>(static_cast<const char*>(end) - tag.Text) : kTextBytes;
    for (size_t k = 0; k < 5; ++k) {
        Tags* target = TagAt(call, tag.Zeiger[k]);
        if (target == nullptr) continue;
        char digits[4 * 2 + 1] = {};
        size_t used = 0;
        for (size_t c = 4 * k; c < 4 * k + 4 && c < length; ++c) {
            const unsigned bits = static_cast<unsigned char>(tag.Text[c]) & 0x7Fu;
            used += static_cast<size_t>(std::snprintf(digits + used, sizeof digits - used, "%X", bits));
        }
        target->Ist = static_cast<double>(std::strtoul(digits, nullptr, 16));
    }
    *call.status = 0;
    return 0.0;
}

// 12: the first text among Z0, Z1, Z2 that does not begin with "0".
double FirstSetText(FormulaCall& call) {
    Tags& tag = *call.tag;
    const Tags* first = TagAt(call, tag.Zeiger[0]);
    if (first == nullptr) {
        *call.status = ST_NOINPUT;
        return 0.0;
    }
    CopyText(tag, *first);
    *call.status = 0;
    for (int k = 1; k <= 2; ++k) {
        const Tags* next = TagAt(call, tag.Zeiger[k]);
        if (next != nullptr && tag.Text[0] == '0') CopyText(tag, *next);
    }
    return 0.0;
}

// 13: clears the text on a rising edge of input 0.
double ClearOnEdge(FormulaCall& call) {
    double* h = Params(call);
    if (call.tag->Zeiger[0] < 1) {
        *call.status = ST_NOINPUT;
        return 0.0;
    }
    const double in = Input(call, 0);
    if (in > 0.0 && h[6] == 0.0) ClearText(*call.tag);
    h[6] = in;
    *call.status = 0;
    return 0.0;
}

// 14: message latch; reports the latched flag to tag H0.
double MessageLatch(FormulaCall& call) {
    double* h = Params(call);
    Tags& tag = *call.tag;
    const double in1 = Input(call, 1), in2 = Input(call, 2);
    if (in1 == 0.0 && in2 == 0.0) {
        h[1] = 0.0;
        SetText(tag, "0");
        *call.status = 0;
        return 0.0;
    }
    if (tag.Zeiger[0] >= 1 && tag.Zeiger[1] >= 1) {
        if (const Tags* source = TagAt(call, tag.Zeiger[0])) CopyText(tag, *source);
    }
    if (in2 > 0.0) h[1] = 1.0;
    if (Tags* flag = TagAt(call, IntOf(h[0]))) flag->Ist = h[1];
    *call.status = ST_NOINPUT;  // marks an active message
    return 0.0;
}

void SetRangeText(Tags& tag, double smallest, double largest) {
    char text[700];  // room for the widest %4.0f of two doubles
    std::snprintf(text, sizeof text, "%4.0lf -%4.0lf", smallest, largest);
    SetText(tag, text);
}

// 22: batch sum: input 0 is added whenever input 1 changes while input 2
// (the batch) is positive; the text shows input 1's range.
double BatchSum(FormulaCall& call) {
    double* h = Params(call);
    Tags& tag = *call.tag;
    if (tag.Zeiger[0] < 1 || tag.Zeiger[1] < 1 || tag.Zeiger[2] < 1) {
        *call.status = kMissingReference;
        return 0.0;
    }
    const double in0 = Input(call, 0), in1 = Input(call, 1), in2 = Input(call, 2);
    double result = 0.0;
    if (in2 > 0.0) {
        if (in2 != h[4]) {
            ClearText(tag);
            h[5] = 9999.0;
            h[6] = 0.0;
        }
        if (in1 == h[7]) {
            result = tag.Ist;
        } else {
            result = tag.Ist + in0;
            h[7] = in1;
            if (in1 < h[5]) h[5] = in1;
            if (in1 > h[6]) h[6] = in1;
            SetRangeText(tag, h[5], h[6]);
        }
    } else {
        if (in2 != h[4]) SetRangeText(tag, h[5], h[6]);
        h[7] = 0.0;
    }
    h[4] = in2;
    *call.status = 0;
    return result;
}

// 23: makes Z0 a held tag (function 1), shows input 0 as text, returns Z1.
double HandOver(FormulaCall& call) {
    double* h = Params(call);
    Tags& tag = *call.tag;
    Tags* held = TagAt(call, tag.Zeiger[0]);
    const Tags* source = TagAt(call, tag.Zeiger[1]);
    if (held == nullptr || source == nullptr) {
        h[7] = 0.0;
        *call.status = kMissingReference;
        return h[7];
    }
    held->Fkt = 1;
    char text[16];
    std::snprintf(text, sizeof text, "%d", IntOf(Input(call, 0)));
    SetText(tag, text);
    h[7] = source->Ist;
    *call.status = 0;
    return h[7];
}

// 29: input 1 goes into the target tag of the block whose key tag holds
// input 0; the target of the block selected before is reset.
double BlockSelection(FormulaCall& call) {
    double* h = Params(call);
    Tags& tag = *call.tag;
    const int n_tag = TagLimit(call.sys);
    if (!(h[5] == h[5])) h[5] = 0.0;
    if (!(h[6] == h[6])) h[6] = 0.0;
    int m = 1;
    for (int k = 0; k < 2; ++k)
        if (tag.Zeiger[k] < 0 || tag.Zeiger[k] > n_tag) m = -k;
    h[7] = m;
    if (m != 1) {
        *call.status = ST_NOINPUT;
        return n_tag;
    }
    h[6] = h[5];
    h[5] = 0.0;
    const long x = IntOf(h[0]), y = IntOf(h[1]), w = IntOf(h[2]);
    const double key = Input(call, 0), value = Input(call, 1);
    for (long block = 0; block < 10; ++block) {
        const Tags* key_tag = TagAt(call, 20 * block + x + y);
        if (key_tag == nullptr || key_tag->Ist != key) continue;
        const long target = 20 * block + x + w;
        if (Tags* t = TagAt(call, target); t != nullptr && t->Fkt == 1) {
            t->Ist = value;
            h[5] = static_cast<double>(target);
        }
    }
    const int selected = IntOf(h[5]), previous = IntOf(h[6]);
    if (selected != previous && TagAt(call, selected) != nullptr) {
        Tags* old = TagAt(call, previous);
        if (old != nullptr && old->Fkt == 1)
            old->Ist = 0.0;
        else
            h[6] = -h[6];
    }
    return h[7];  // the status word stays as passed
}

// 38: the text of tag H0 + n, where n is the value of the next tag, whose own
// text becomes "CM-NR" whenever n changes.
double TextByNumber(FormulaCall& call) {
    Tags& tag = *call.tag;
    double* h = Params(call);
    const int base = IntOf(tag.Hdouble[0]);
    Tags* next = TagAt(call, static_cast<long>(call.i) + 1);
    if (base < 1 || next == nullptr) {
        h[7] = 0.0;
        *call.status = ST_NOINPUT;
        return h[7];
    }
    if (!(h[6] == h[6])) h[6] = 0.0;
    const double n = next->Ist;
    if (n != h[6]) {
        const long shown = static_cast<long>(base) + IntOf(n);
        h[5] = static_cast<double>(shown);
        if (const Tags* from = TagAt(call, shown)) CopyText(tag, *from);
        SetText(*next, "CM-NR");
    }
    h[6] = n;
    h[7] = h[6];
    *call.status = 0;
    return h[7];
}

constexpr FormulaEntry kTextFormulas[] = {
    {11, TextToNumbers}, {12, FirstSetText}, {13, ClearOnEdge},    {14, MessageLatch},
    {22, BatchSum},      {23, HandOver},     {29, BlockSelection}, {38, TextByNumber},
};

}  // namespace

std::span<const FormulaEntry> TextFormulas() { return kTextFormulas; }

}  // namespace calc
