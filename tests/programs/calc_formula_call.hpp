// Running one formula as the cycle does, for the formula family tests: the
// engine is called with the tag's own parameters and the result and status
// land in the tag.
#pragma once

#include <array>
#include <cstring>
#include <string>

#include "calc_tables.hpp"
#include "formula_engine.hpp"

namespace calc_test {

using Inputs = std::array<double, 5>;
inline Inputs NoInputs() { return {calc::kNan, calc::kNan, calc::kNan, calc::kNan, calc::kNan}; }

// A formula tag reached through Fkt 60 with its parameters H0.. set.
inline Tags& FormulaTag(Tables& db, int i, int number, std::initializer_list<double> h = {}) {
    Tags& t = db.Configure(i, 60);
    t.Hint[9] = number;
    int k = 0;
    for (double v : h) t.Hdouble[k++] = v;
    return t;
}

// One evaluation: returns the status word; the tag holds result and status.
inline uint32_t Evaluate(Tables& db, int i, Inputs in = NoInputs(), int sec_of_day = 0) {
    Tags& t = db[i];
    const int number = t.Fkt == 6 ? t.Hint[7] : t.Hint[9];
    uint32_t status = 0;
    const double r =
        VelmoFormel(i, number, sec_of_day, in.data(), t.Hdouble, &status, &db.sys, db.tags.data(), db.roh.data());
    t.Ist = r;
    t.Status = status;
    return status;
}

// The Text field up to its first zero byte (all 64 bytes when there is none).
inline std::string TextOf(const Tags& t) { return std::string(t.Text, strnlen(t.Text, sizeof t.Text)); }

inline void PutText(Tags& t, const char* text) {
    std::memset(t.Text, 0, sizeof t.Text);
    std::memcpy(t.Text, text, strnlen(text, sizeof t.Text));
}

}  // namespace calc_test
