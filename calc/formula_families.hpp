// The plug-in shape of the formula families.  Each family lives in its own
// file and lists the formula numbers it computes; the engine builds its
// dispatch table from these lists and treats any number that no family has
// (yet) implemented as an unknown number.
#pragma once

#include <span>

#include "formula_engine.hpp"

namespace calc {

// One formula: returns the tag's new value; writes the status word through
// call.status.
using FormulaFn = double (*)(FormulaCall& call);

struct FormulaEntry {
    int number;
    FormulaFn compute;
};

enum class FormulaFamily {
    Switching,    // switching, timing and actuator formulas
    Selector,     // selector, set-value and power-factor formulas
    Arithmetic,   // arithmetic and physical value formulas
    Time,         // time, period and archive formulas
    Text,         // text and tag-table formulas
};

// The entry points of the families, one file each (formulas_<family>.cpp).
std::span<const FormulaEntry> SwitchingFormulas();
std::span<const FormulaEntry> SelectorFormulas();
std::span<const FormulaEntry> ArithmeticFormulas();
std::span<const FormulaEntry> TimeFormulas();
std::span<const FormulaEntry> TextFormulas();

// The complete list of formula numbers with the family that owns each.
struct KnownFormula {
    int number;
    FormulaFamily family;
};
std::span<const KnownFormula> KnownFormulas();

// The function that computes `number`, or null for an unknown number.
FormulaFn FindFormula(int number);

}  // namespace calc
