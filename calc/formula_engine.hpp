// The formula engine: the calling contract of VelmoFormel, the reference
// rules every formula family shares, and the start-up reset.
#pragma once

#include <cstdint>

#include "qx/records.h"

// Computes formula `formel` for tag i.  `inputs` are the five input values
// (filled by the cycle for Fkt 60), `hd` is &tags[i].Hdouble[0], `status` the
// status word (passed in as 0).  Returns the tag's new value.
double VelmoFormel(int i, int formel, int secOfDay, double* inputs, double* hd, uint32_t* status,
                   VelmoSystem* sys, Tags* tags, Rohwerte* roh);

// Once at start, before the first cycle: time zone, log lines, state resets.
void InitVelmoFormel(VelmoSystem* sys, Tags* tags);

namespace calc {

inline constexpr int kFormulaInputs = 5;
inline constexpr uint32_t kUnknownFormulaStatus = 0xFFFFFFFFu;

// Everything one formula call sees.  `tag` is &tags[i].
struct FormulaCall {
    int i;
    int number;
    int sec_of_day;
    double* inputs;       // kFormulaInputs values
    double* hd;           // the tag's Hdouble[0..9]
    uint32_t* status;     // status word, in and out
    VelmoSystem* sys;
    Tags* tags;           // element 0 of the tag table
    Rohwerte* roh;        // element 0 of the raw-value table
    Tags* tag;
};

// Highest tag and raw-value numbers, bounded by the tables' fixed size so that
// a damaged system record can never send a loop past the tables.
int TagLimit(const VelmoSystem* sys);
int RohLimit(const VelmoSystem* sys);

// Reference rules of the formulas: a tag reference is valid in 1..n_tag; a
// raw-value reference in 1..n_roh-1 (most formulas), or 1..n_roh for the
// formulas that accept the last one.
bool ValidTagRef(const VelmoSystem* sys, long number);
bool ValidRohRef(const VelmoSystem* sys, long number);
bool ValidRohRefInclusive(const VelmoSystem* sys, long number);

// The inputs of an Fkt 60 tag: input k is Ist of tag Zeiger[k] when that
// reference is valid, else NaN.
void FillFormulaInputs(const VelmoSystem* sys, const Tags* tags, const Tags& tag, double* inputs);

// A reference kept in a Hdouble: truncated toward zero; NaN, infinities and
// values beyond the int range give 0, which no rule accepts.
long RefFromDouble(double value);

}  // namespace calc
