// The formula engine's contract: which numbers exist, what an unknown number
// yields, how the cycle calls the engine, the reference rules and the
// start-up reset.
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "calc_tables.hpp"
#include "formula_engine.hpp"
#include "formula_families.hpp"

namespace {

using calc::kNan;
using calc_test::Tables;

// The numbers that are not formulas, as ranges.
bool Unassigned(int n) {
    const std::pair<int, int> ranges[] = {{5, 9},     {15, 18},   {24, 28},   {32, 32},   {37, 37},
                                          {39, 39},   {41, 49},   {51, 99},   {102, 109}, {117, 144},
                                          {153, 199}, {202, 500}, {503, 503}, {505, 509}, {512, 599},
                                          {607, 749}};
    if (n <= 0 || n > 750) return true;
    for (auto [lo, hi] : ranges)
        if (n >= lo && n <= hi) return true;
    return false;
}

TEST(CalcFormulaEngine, KnownNumbersAreExactlyTheAssignedOnes) {
    std::set<int> known;
    for (const calc::KnownFormula& k : calc::KnownFormulas()) EXPECT_TRUE(known.insert(k.number).second) << k.number;
    for (int n = -5; n <= 800; ++n) EXPECT_EQ(!Unassigned(n), known.count(n) == 1) << n;
}

TEST(CalcFormulaEngine, FamiliesOnlyProvideTheirOwnNumbers) {
    using F = calc::FormulaFamily;
    const std::pair<F, std::span<const calc::FormulaEntry>> families[] = {
        {F::Switching, calc::SwitchingFormulas()}, {F::Selector, calc::SelectorFormulas()},
        {F::Arithmetic, calc::ArithmeticFormulas()}, {F::Time, calc::TimeFormulas()},
        {F::Text, calc::TextFormulas()}};
    for (const auto& [family, entries] : families) {
        for (const calc::FormulaEntry& e : entries) {
            bool owned = false;
            for (const calc::KnownFormula& k : calc::KnownFormulas())
                if (k.number == e.number) owned = k.family == family;
            EXPECT_TRUE(owned) << "formula " << e.number << " listed by the wrong family";
            EXPECT_EQ(e.compute, calc::FindFormula(e.number)) << e.number;
        }
    }
    for (int n = -5; n <= 800; ++n) {
        if (!Unassigned(n)) continue;
        EXPECT_EQ(nullptr, calc::FindFormula(n)) << n;
    }
}

TEST(CalcFormulaEngine, UnknownNumberYieldsZeroAndNoStatus) {
    Tables db;
    for (int number : {5, 0, -1, 37, 503, 751, 100000}) {
        Tags& t = db.Configure(3, 60);
        uint32_t status = 0;
        double inputs[5] = {};
        const double r = VelmoFormel(3, number, 0, inputs, t.Hdouble, &status, &db.sys, db.tags.data(), db.roh.data());
        EXPECT_EQ(0.0, r) << number;
        EXPECT_EQ(0.0, t.Ist) << number;
        EXPECT_EQ(0xFFFFFFFFu, status) << number;
    }
}

TEST(CalcFormulaEngine, CycleCallsTheEngineOnlyWithAPositiveNumber) {
    Tables db;
    Tags& f60 = db.Configure(3, 60);
    f60.Hint[9] = 5;  // not a formula
    Tags& f6 = db.Configure(4, 6);
    f6.Hint[7] = 5;
    Tags& idle60 = db.Configure(5, 60);
    idle60.Hint[9] = 0;
    Tags& idle6 = db.Configure(6, 6);
    idle6.Hint[7] = -2;
    idle6.Hint[9] = 5;  // Fkt 6 takes its number from Hint[7] only
    db.Cycle();
    for (Tags* t : {&f60, &f6}) {
        EXPECT_EQ(0.0, t->Ist);
        EXPECT_EQ(0xFFFFFFFFu, t->Status);
    }
    for (Tags* t : {&idle60, &idle6}) {
        EXPECT_EQ(777.0, t->Ist);
        EXPECT_EQ(5u, t->Status);
    }
}

TEST(CalcFormulaEngine, Fkt60InputsComeFromValidReferencesOnly) {
    Tables db;
    db.Value(1, 1.5);
    db.Value(4096, 4.5);
    Tags& t = db.Configure(10, 60);
    const int32_t refs[5] = {1, 0, 4097, 4096, -3};
    for (int k = 0; k < 5; ++k) t.Zeiger[k] = refs[k];
    double inputs[5] = {};
    calc::FillFormulaInputs(&db.sys, db.tags.data(), t, inputs);
    EXPECT_EQ(1.5, inputs[0]);
    EXPECT_TRUE(std::isnan(inputs[1]));
    EXPECT_TRUE(std::isnan(inputs[2]));
    EXPECT_EQ(4.5, inputs[3]);
    EXPECT_TRUE(std::isnan(inputs[4]));
}

TEST(CalcFormulaEngine, ReferenceRules) {
    VelmoSystem sys{};
    sys.n_tag = QX_N_TAG;
    sys.n_roh = QX_N_ROH;
    struct Ref {
        long n;
        bool tag, roh, roh_inclusive;
    };
    const Ref refs[] = {{0, false, false, false},      {-1, false, false, false}, {1, true, true, true},
                        {4095, true, true, true},      {4096, true, false, true}, {4097, false, false, false}};
    for (const Ref& r : refs) {
        EXPECT_EQ(r.tag, calc::ValidTagRef(&sys, r.n)) << r.n;
        EXPECT_EQ(r.roh, calc::ValidRohRef(&sys, r.n)) << r.n;
        EXPECT_EQ(r.roh_inclusive, calc::ValidRohRefInclusive(&sys, r.n)) << r.n;
    }
    EXPECT_EQ(12, calc::RefFromDouble(12.9));
    EXPECT_EQ(-3, calc::RefFromDouble(-3.7));
    EXPECT_EQ(0, calc::RefFromDouble(kNan));
    EXPECT_EQ(0, calc::RefFromDouble(1e300));
    EXPECT_EQ(0, calc::RefFromDouble(-INFINITY));
}

TEST(CalcFormulaEngine, InitResetsFormulaStateOfFkt60Tags) {
    Tables db;
    calc_test::Recorder rec;
    calc::core_io().load_time_zone = [](long* bias, long* standard, long* daylight) {
        *bias = -60;
        *standard = 0;
        *daylight = -60;
    };
    for (int i : {3, 4, 5, 6}) {
        Tags& t = db.Configure(i, 60);
        for (int32_t& h : t.Hint) h = 77;
        for (double& h : t.Hdouble) h = 7.0;
    }
    db[3].Hint[9] = 2;
    db[4].Hint[9] = 149;
    db[5].Hint[9] = 152;
    db[6].Fkt = 6;  // formula 2 through Fkt 6: not reset
    db[6].Hint[7] = 2;
    db[6].Hint[9] = 2;
    InitVelmoFormel(&db.sys, db.tags.data());

    const Tags& two = db[3];
    EXPECT_EQ(0, two.Hint[0]);
    EXPECT_EQ(0, two.Hint[1]);
    EXPECT_EQ(-1, two.Hint[2]);
    EXPECT_EQ(1, two.Hint[3]);
    EXPECT_EQ(77, two.Hint[4]);
    EXPECT_EQ(0, two.Hint[5]);
    EXPECT_TRUE(std::isnan(two.Hdouble[8]));
    EXPECT_TRUE(std::isnan(two.Hdouble[9]));
    EXPECT_EQ(7.0, two.Hdouble[7]);
    EXPECT_EQ(-1, db[4].Hint[0]);
    EXPECT_EQ(-1, db[4].Hint[1]);
    EXPECT_EQ(77, db[4].Hint[2]);
    EXPECT_EQ(77, db[5].Hint[0]);
    EXPECT_EQ(77, db[6].Hint[0]);
    EXPECT_EQ(7.0, db[6].Hdouble[8]);

    const std::vector<std::string> expected = {"InitVelmoFormel !!", "TimeZone: Bias=-60", "TimeZone: StandardBias=0",
                                               "TimeZone: DaylightBias=-60"};
    EXPECT_EQ(expected, rec.Texts());
    for (const auto& l : rec.logged) EXPECT_EQ(calc::kLogInfo, l.severity);
}

}  // namespace
