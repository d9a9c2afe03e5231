// The formula engine's dispatcher.  The formulas themselves live in one file
// per family (formulas_*.cpp); this file only routes a number to its family
// and applies the rules every call shares.
#include "formula_engine.hpp"

#include <array>
#include <cmath>
#include <ctime>

#include "core_io.hpp"
#include "formula_families.hpp"
#include "values.hpp"

namespace calc {
namespace {

using F = FormulaFamily;

// Every formula number the system knows.  Any other number is unknown.
constexpr KnownFormula kKnown[] = {
    {1, F::Arithmetic},   {2, F::Switching},    {3, F::Switching},    {4, F::Arithmetic},
    {10, F::Arithmetic},  {11, F::Text},        {12, F::Text},        {13, F::Text},
    {14, F::Text},        {19, F::Arithmetic},  {20, F::Arithmetic},  {21, F::Switching},
    {22, F::Text},        {23, F::Text},        {29, F::Text},        {30, F::Arithmetic},
    {31, F::Switching},   {33, F::Switching},   {34, F::Arithmetic},  {35, F::Arithmetic},
    {36, F::Switching},   {38, F::Text},        {40, F::Switching},   {50, F::Arithmetic},
    {100, F::Arithmetic}, {101, F::Time},       {110, F::Time},       {111, F::Time},
    {112, F::Time},       {113, F::Time},       {114, F::Arithmetic}, {115, F::Time},
    {116, F::Time},       {145, F::Selector},   {146, F::Selector},   {147, F::Selector},
    {148, F::Selector},   {149, F::Selector},   {150, F::Selector},   {151, F::Selector},
    {152, F::Selector},   {200, F::Arithmetic}, {201, F::Time},       {501, F::Arithmetic},
    {502, F::Arithmetic}, {504, F::Switching},  {510, F::Switching},  {511, F::Arithmetic},
    {600, F::Arithmetic}, {601, F::Arithmetic}, {602, F::Arithmetic}, {603, F::Arithmetic},
    {604, F::Arithmetic}, {605, F::Arithmetic}, {606, F::Arithmetic}, {750, F::Arithmetic},
};

constexpr int kHighestFormula = 750;
using DispatchTable = std::array<FormulaFn, kHighestFormula + 1>;

bool IsKnownFor(int number, FormulaFamily family) {
    for (const KnownFormula& known : kKnown)
        if (known.number == number) return known.family == family;
    return false;
}

// A family contributes only the numbers that belong to it; anything else it
// lists is ignored, so a slip in one family cannot shadow another.
void AddFamily(DispatchTable& table, FormulaFamily family, std::span<const FormulaEntry> entries) {
    for (const FormulaEntry& entry : entries)
        if (entry.compute != nullptr && IsKnownFor(entry.number, family)) table[static_cast<size_t>(entry.number)] = entry.compute;
}

DispatchTable BuildDispatchTable() {
    DispatchTable table{};
    AddFamily(table, F::Switching, SwitchingFormulas());
    AddFamily(table, F::Selector, SelectorFormulas());
    AddFamily(table, F::Arithmetic, ArithmeticFormulas());
    AddFamily(table, F::Time, TimeFormulas());
    AddFamily(table, F::Text, TextFormulas());
    return table;
}

}  // namespace

std::span<const KnownFormula> KnownFormulas() { return kKnown; }

FormulaFn FindFormula(int number) {
    static const DispatchTable table = BuildDispatchTable();
    if (number < 1 || number > kHighestFormula) return nullptr;
    return table[static_cast<size_t>(number)];
}

int TagLimit(const VelmoSystem* sys) {
    if (sys == nullptr || sys->n_tag < 0) return 0;
    return sys->n_tag > QX_N_TAG ? QX_N_TAG : sys->n_tag;
}

int RohLimit(const VelmoSystem* sys) {
    if (sys == nullptr || sys->n_roh < 0) return 0;
    return sys->n_roh > QX_N_ROH ? QX_N_ROH : sys->n_roh;
}

bool ValidTagRef(const VelmoSystem* sys, long number) { return number >= 1 && number <= TagLimit(sys); }

bool ValidRohRef(const VelmoSystem* sys, long number) { return number >= 1 && number < RohLimit(sys); }

bool ValidRohRefInclusive(const VelmoSystem* sys, long number) { return number >= 1 && number <= RohLimit(sys); }

void FillFormulaInputs(const VelmoSystem* sys, const Tags* tags, const Tags& tag, double* inputs) {
    for (int k = 0; k < kFormulaInputs; ++k) {
        const int32_t ref = tag.Zeiger[k];
        inputs[k] = ValidTagRef(sys, ref) ? tags[ref].Ist : kNan;
    }
}

long RefFromDouble(double value) {
    if (!std::isfinite(value) || value <= -2147483648.0 || value >= 2147483648.0) return 0;
    return static_cast<long>(value);
}

}  // namespace calc

double VelmoFormel(int i, int formel, int secOfDay, double* inputs, double* hd, uint32_t* status,
                   VelmoSystem* sys, Tags* tags, Rohwerte* roh) {
    Tags* tag = (tags != nullptr && i >= 0 && i <= calc::TagLimit(sys)) ? &tags[i] : nullptr;
    calc::FormulaFn compute = calc::FindFormula(formel);
    if (compute == nullptr || tag == nullptr || status == nullptr) {
        if (tag != nullptr) tag->Ist = 0.0;
        if (status != nullptr) *status = calc::kUnknownFormulaStatus;
        return 0.0;
    }
    calc::FormulaCall call{i, formel, secOfDay, inputs, hd, status, sys, tags, roh, tag};
    return compute(call);
}

void InitVelmoFormel(VelmoSystem* sys, Tags* tags) {
    tzset();
    long bias = 0, standard_bias = 0, daylight_bias = 0;
    if (calc::core_io().load_time_zone != nullptr) calc::core_io().load_time_zone(&bias, &standard_bias, &daylight_bias);
    calc::LogMessage(calc::kLogInfo, 0, "InitVelmoFormel !!");
    calc::LogMessage(calc::kLogInfo, 0, "TimeZone: Bias=%ld", bias);
    calc::LogMessage(calc::kLogInfo, 0, "TimeZone: StandardBias=%ld", standard_bias);
    calc::LogMessage(calc::kLogInfo, 0, "TimeZone: DaylightBias=%ld", daylight_bias);
    if (tags == nullptr) return;

    const int n_tag = calc::TagLimit(sys);
    for (int i = 0; i <= n_tag; ++i) {
        Tags& tag = tags[i];
        if (tag.Fkt != 60) continue;  // formulas reached through Fkt 6 keep their state
        const int formula = tag.Hint[9];
        if (formula == 2 || formula == 3) {
            tag.Hdouble[8] = calc::kNan;
            tag.Hdouble[9] = calc::kNan;
            tag.Hint[5] = 0;
            tag.Hint[3] = 1;
            tag.Hint[2] = -1;
            tag.Hint[1] = 0;
            tag.Hint[0] = 0;
        } else if (formula >= 148 && formula <= 151) {
            tag.Hint[0] = -1;  // first-call markers
            tag.Hint[1] = -1;
        }
    }
}
