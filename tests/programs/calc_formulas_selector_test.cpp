// Selector, set-value and power-factor formulas through VelmoFormel.
#include <gtest/gtest.h>

#include <cmath>

#include "calc_formula_call.hpp"
#include "formulas_selector.hpp"

namespace {

using calc::kNan;
using calc_test::Evaluate;
using calc_test::FormulaTag;
using calc_test::Inputs;
using calc_test::SameValue;
using calc_test::Tables;

constexpr int kF = 50;  // the formula tag

// ---- Selectors 145 and 147 --------------------------------------------------

// Three positions: values in tags 100..102, push buttons raw 200..202,
// indicators raw 300..302.
struct SelectorBench {
    Tables db;
    explicit SelectorBench(int number, double positions = 3, double outputs = 300) {
        Tags& t = FormulaTag(db, kF, number, {positions, 100, 200, outputs});
        t.Hdouble[7] = kNan;  // nothing selected yet
        for (int k = 0; k < 3; ++k) {
            db.Value(100 + k, 10.0 * (k + 1));
            db.Raw(200 + k, 0.0);
        }
    }
    double Output(int j) const { return db.roh[static_cast<size_t>(300 + j)].Ist; }
};

TEST(CalcFormulasSelector, ChangedInputSelectsItsValueAndDrivesOneHotOutputs) {
    SelectorBench s(145);
    EXPECT_EQ(0u, Evaluate(s.db, kF));
    EXPECT_EQ(777.0, s.db[kF].Ist) << "no change, no selection";
    EXPECT_TRUE(std::isnan(s.Output(0))) << "no outputs before the first selection";

    s.db.Raw(201, 1.0);
    EXPECT_EQ(0u, Evaluate(s.db, kF));
    EXPECT_EQ(20.0, s.db[kF].Ist);
    EXPECT_EQ(1.0, s.db[kF].Hdouble[7]);
    EXPECT_EQ((std::array{0.0, 1.0, 0.0}), (std::array{s.Output(0), s.Output(1), s.Output(2)}));

    // Both others change in one cycle: the highest position wins.
    s.db.Raw(200, 1.0);
    s.db.Raw(202, 1.0);
    Evaluate(s.db, kF);
    EXPECT_EQ(30.0, s.db[kF].Ist);
    EXPECT_EQ((std::array{0.0, 0.0, 1.0}), (std::array{s.Output(0), s.Output(1), s.Output(2)}));

    // A change while the value is missing is not remembered: it selects once
    // the value is there.
    s.db.Raw(201, 2.0);
    s.db[101].Ist = kNan;
    Evaluate(s.db, kF);
    EXPECT_EQ(30.0, s.db[kF].Ist);
    s.db[101].Ist = 21.0;
    Evaluate(s.db, kF);
    EXPECT_EQ(21.0, s.db[kF].Ist);
}

TEST(CalcFormulasSelector, BadSelectorParametersReportConfigAndWriteNothing) {
    for (int number : {145, 147}) {
        for (double positions : {10.0, 0.0, -1.0, kNan}) {
            SelectorBench s(number, positions);
            s.db.Raw(201, 1.0);
            EXPECT_EQ(ST_CONFIG, Evaluate(s.db, kF)) << number << " " << positions;
            EXPECT_EQ(777.0, s.db[kF].Ist);
            for (int j = 0; j < 9; ++j) EXPECT_TRUE(std::isnan(s.Output(j))) << j;
        }
    }
}

TEST(CalcFormulasSelector, RangesRunningPastTheTablesAreSkipped) {
    // Outputs 4095, 4096 and (not) 4097; inputs likewise.
    SelectorBench s(145, 3, 4095);
    s.db[kF].Hdouble[2] = 4095;
    s.db.Raw(4095, 0.0);
    s.db.Raw(4096, 1.0);
    EXPECT_EQ(ST_CONFIG, Evaluate(s.db, kF));
    EXPECT_EQ(20.0, s.db[kF].Ist);
    EXPECT_EQ(0.0, s.db.roh[4095].Ist);
    EXPECT_EQ(1.0, s.db.roh[4096].Ist);
}

TEST(CalcFormulasSelector, MomentarySelectorDefaultsToTheLastPosition) {
    SelectorBench s(147);
    EXPECT_EQ(0u, Evaluate(s.db, kF));
    EXPECT_EQ(30.0, s.db[kF].Ist);
    EXPECT_EQ(2.0, s.db[kF].Hdouble[7]);
    EXPECT_EQ(1.0, s.Output(2));
    EXPECT_EQ(0.0, s.Output(0));

    s.db.Raw(200, 1.0);
    Evaluate(s.db, kF);
    EXPECT_EQ(10.0, s.db[kF].Ist);
    EXPECT_EQ((std::array{1.0, 0.0, 0.0}), (std::array{s.Output(0), s.Output(1), s.Output(2)}));

    s.db.Raw(201, 1.0);  // two active: the highest wins
    Evaluate(s.db, kF);
    EXPECT_EQ(20.0, s.db[kF].Ist);
}

// ---- Selector 146 -----------------------------------------------------------

TEST(CalcFormulasSelector, ThreeModesWithSplitRangeCharacteristic) {
    Tables db;
    // offset tag 90, curve tags 100..105, mode inputs raw 200..202, outputs raw
    // 300..302, controlled tags 110..112.
    FormulaTag(db, kF, 146, {90, 100, 200, 300, 110});
    db[kF].Hdouble[7] = kNan;
    db.Value(90, 0.05);
    const double curve[] = {10, 20, 30, 40, 0.8, -0.6};
    for (int k = 0; k < 6; ++k) db.Value(100 + k, curve[k]);
    for (int k = 0; k < 3; ++k) {
        db.Raw(200 + k, 0.0);
        db.Value(110 + k, -5.0);
    }
    EXPECT_EQ(0u, Evaluate(db, kF));
    EXPECT_EQ(777.0, db[kF].Ist);

    db.Raw(200, 1.0);
    Evaluate(db, kF);
    EXPECT_EQ(0.8, db[kF].Ist);
    db.Raw(201, 1.0);
    Evaluate(db, kF);
    EXPECT_EQ(-0.6, db[kF].Ist);
    EXPECT_EQ(1.0, db.roh[301].Ist);

    db.Raw(202, 1.0);
    struct Case {
        double x, expected;
    } cases[] = {{-5, -0.6}, {10, -0.6}, {15, -0.3}, {25, 0.0}, {35, 0.4}, {40, 0.8}, {50, 0.8}};
    for (const Case& c : cases) {
        db[111].Ist = c.x;  // the largest of the three
        EXPECT_EQ(0u, Evaluate(db, kF)) << c.x;
        EXPECT_TRUE(SameValue(c.expected + 0.05, db[kF].Ist)) << c.x;
        EXPECT_EQ((std::array{0.0, 0.0, 1.0}), (std::array{db.roh[300].Ist, db.roh[301].Ist, db.roh[302].Ist}));
    }

    db[101].Ist = 10;  // x1 = x0
    EXPECT_EQ(ST_CONFIG, Evaluate(db, kF));
    db[101].Ist = 20;
    db[kF].Hdouble[7] = 3;  // no such mode
    EXPECT_EQ(ST_CONFIG, Evaluate(db, kF));
    db[kF].Hdouble[2] = 4095;  // mode inputs past the table
    EXPECT_EQ(ST_CONFIG, Evaluate(db, kF));
}

// ---- Set values 148, 149, 150 -----------------------------------------------

// Trigger raw 10, source tag 20; the first call gives the default.
struct SetValueBench {
    Tables db;
    SetValueBench(int number, std::initializer_list<double> h) {
        FormulaTag(db, kF, number, h);
        db[kF].Hint[0] = db[kF].Hint[1] = -1;
        db.Raw(10, 1.0);
        db.Value(20, 0.0);
    }
    // Takes x over by changing the trigger.
    uint32_t TakeOver(double x, Inputs in = calc_test::NoInputs()) {
        db[20].Ist = x;
        db.roh[10].Ist += 1.0;
        return Evaluate(db, kF, in);
    }
};

TEST(CalcFormulasSelector, SetValueRoundsToTheStepAndLimits) {
    // a = -100, b = -500 (limited to -100), limits -100..100, step 0.5
    SetValueBench s(148, {10, 20, -100, -500, -100, 100, 0.5});
    EXPECT_EQ(0u, Evaluate(s.db, kF));
    EXPECT_EQ(-100.0, s.db[kF].Ist) << "first call: the default, limited";
    EXPECT_EQ(1.0 + 1000.0 * 1.0, s.db[kF].Hdouble[7]);

    struct Case {
        double x, expected;
    } cases[] = {{150.0, 100.0}, {-101.0, -100.0}, {2.75, 3.0}, {-2.74, -2.5}, {-2.75, -2.5}, {2.25, 2.5}, {2.74, 2.5}};
    for (const Case& c : cases) {
        EXPECT_EQ(0u, s.TakeOver(c.x)) << c.x;
        EXPECT_EQ(c.expected, s.db[kF].Ist) << c.x;
    }

    // The source changes, the trigger does not: the value stays.
    s.db[20].Ist = 7.0;
    Evaluate(s.db, kF);
    EXPECT_EQ(2.5, s.db[kF].Ist);
    s.db.roh[10].Ist += 0.5;  // the same integer value
    Evaluate(s.db, kF);
    EXPECT_EQ(2.5, s.db[kF].Ist);

    s.db[kF].Hdouble[2] = 5.0;  // below the threshold: the default
    s.TakeOver(4.0);
    EXPECT_EQ(-100.0, s.db[kF].Ist);
}

TEST(CalcFormulasSelector, SetValueCheckFailureKeepsTheValueButNotesTheTrigger) {
    for (double source : {0.0, 4097.0, kNan}) {
        SetValueBench s(148, {10, source, 0, 1, 0, 10, 0});
        s.db.roh[10].Ist = 42.0;
        EXPECT_EQ(ST_CONFIG, Evaluate(s.db, kF)) << source;
        EXPECT_EQ(777.0, s.db[kF].Ist);
        EXPECT_EQ(1, s.db[kF].Hint[1]);
        EXPECT_EQ(42, s.db[kF].Hint[3]);
        EXPECT_EQ(-1, s.db[kF].Hint[0]) << "the value's first call is still to come";
    }
    SetValueBench s(148, {4097, 20, 0, 1, 0, 10, 0});  // trigger past the table
    EXPECT_EQ(ST_CONFIG, Evaluate(s.db, kF));
    EXPECT_EQ(-1, s.db[kF].Hint[1]);
}

TEST(CalcFormulasSelector, SetValueAsAngleInHundredthsOfADegree) {
    SetValueBench s(149, {10, 20, -100, 0.25, -20000, 20000, 0});
    Evaluate(s.db, kF);
    EXPECT_EQ(0.25, s.db[kF].Ist) << "the first-call default is not converted";
    struct Case {
        double x, expected;
    } cases[] = {{0.5, 6000.0}, {-0.5, -6000.0}, {1.0, 9000.0}, {0.0, 0.0}, {2.5, 0.25}};
    for (const Case& c : cases) {
        s.TakeOver(c.x);
        EXPECT_TRUE(SameValue(c.expected, s.db[kF].Ist)) << c.x;
    }
}

TEST(CalcFormulasSelector, PowerFactorSetValueFromInput) {
    // a = -10, default 0.95, negative limit -0.8, positive limit 0.8, no step
    SetValueBench s(150, {10, -10, 0.95, -0.8, 0.8, 0});
    Inputs in = calc_test::NoInputs();
    in[0] = 0.0;
    EXPECT_EQ(0u, Evaluate(s.db, kF, in));
    EXPECT_EQ(0.95, s.db[kF].Ist);
    struct Case {
        double x, expected;
    } cases[] = {{0.1, 0.9}, {0.5, 0.8}, {-0.05, -0.95}, {-0.5, -0.8}, {-2.5, 1.0}, {2.5, 1.0}, {-11, 0.95}};
    for (const Case& c : cases) {
        in[0] = c.x;
        EXPECT_EQ(0u, s.TakeOver(0.0, in)) << c.x;
        EXPECT_TRUE(SameValue(c.expected, s.db[kF].Ist)) << c.x;
    }
    in[0] = kNan;
    EXPECT_EQ(ST_CONFIG, s.TakeOver(0.0, in));
    EXPECT_EQ(0.95, s.db[kF].Ist);
}

TEST(CalcFormulasSelector, InitVelmoFormelArmsTheFirstCallMarkers) {
    calc_test::Recorder recorder;
    SetValueBench s(148, {10, 20, -100, 4.0, -100, 100, 0});
    s.db[kF].Hint[0] = s.db[kF].Hint[1] = 0;
    s.db[kF].Hint[2] = s.db[kF].Hint[3] = 0;
    Evaluate(s.db, kF);
    EXPECT_EQ(0.0, s.db[kF].Ist) << "trigger 1 against a remembered 0 is a change";

    InitVelmoFormel(&s.db.sys, s.db.tags.data());
    EXPECT_EQ(-1, s.db[kF].Hint[0]);
    Evaluate(s.db, kF);
    EXPECT_EQ(4.0, s.db[kF].Ist);
}

// ---- Power factor 151, 152 ----------------------------------------------------

TEST(CalcFormulasSelector, PhiHysteresisAreaFollowsTheBand) {
    struct Case {
        double p0, p1, p2, cmax, P, g, expected;
    } cases[] = {
        {100, 200, 20, 0.9, 150, 1.0, 0.95},   // rising: onto the upper line
        {100, 200, 20, 0.9, 140, 0.95, 0.95},  // falling inside the band: stays
        {100, 200, 20, 0.9, 100, 0.95, 0.98},  // falling: the shifted line lifts it
        {100, 200, 20, -0.9, 150, -1.0, -0.95},
        {100, 200, 20, 0.9, 150, -0.5, 0.95},  // wrong sign counts as 1
        {100, 200, 20, 0.9, 150, kNan, 0.95},
        {100, 100, 20, 0.9, 150, 1.0, kNan},   // no span
        {100, 200, -20, 0.9, 150, 1.0, kNan},  // negative band
    };
    for (const Case& c : cases)
        EXPECT_TRUE(SameValue(c.expected, PhiHysteresisArea(c.p0, c.p1, c.p2, c.cmax, c.P, c.g))) << c.P << " " << c.g;
}

TEST(CalcFormulasSelector, PowerFactorFollowsActivePowerWithHysteresis) {
    Tables db;
    FormulaTag(db, kF, 151, {100, 200, 20, 0.9});
    db[kF].Hint[1] = -1;
    auto run = [&](double P, double c = 0.97) {
        Inputs in = calc_test::NoInputs();
        in[0] = P;
        in[1] = c;
        return Evaluate(db, kF, in);
    };
    const auto angle = [](double v) { return -std::acos(v) * 180.0 / M_PI * 100.0; };

    EXPECT_EQ(0u, run(50));  // inactive: the given power factor
    EXPECT_TRUE(SameValue(angle(0.97), db[kF].Ist));
    EXPECT_EQ(0.0, db[kF].Hdouble[5]);
    run(150);
    EXPECT_TRUE(SameValue(angle(0.95), db[kF].Ist));
    EXPECT_EQ(1.0, db[kF].Hdouble[5]);
    run(140);
    EXPECT_TRUE(SameValue(angle(0.95), db[kF].Ist)) << "inside the band";
    run(90);  // below p0 but within p2 of it: still active
    EXPECT_TRUE(SameValue(angle(0.99), db[kF].Ist));
    run(250);
    EXPECT_NEAR(-2584.19, db[kF].Ist, 0.005);
    EXPECT_EQ(0.9, db[kF].Hdouble[6]);

    // A failed check keeps the value and the previous power factor.
    EXPECT_EQ(ST_CONFIG, run(kNan));
    EXPECT_NEAR(-2584.19, db[kF].Ist, 0.005);
    EXPECT_EQ(0.9, db[kF].Hdouble[6]);
    EXPECT_EQ(ST_CONFIG, run(150, 1.5));
    db[kF].Hdouble[3] = -0.9;
    run(250);
    EXPECT_NEAR(2584.19, db[kF].Ist, 0.005);
    db[kF].Hdouble[1] = 100;  // no span: the characteristic fails, 1.0 is used
    run(100);
    EXPECT_EQ(0.0, db[kF].Ist);
}

TEST(CalcFormulasSelector, PowerFactorInSetValueForm) {
    struct Case {
        double source, angle, P, Q, expected;
    } cases[] = {
        {0, 6000, kNan, 0, kNan},  // missing P: rejected
        {0, 6000, 1, 0, -0.5},
        {0, -6000, 1, 0, 0.5},
        {1, 0, 3, -4, 0.4},
        {1, 0, 3, 4, -0.4},
    };
    for (const Case& c : cases) {
        Tables db;
        FormulaTag(db, kF, 152, {c.source});
        Inputs in{c.angle, c.P, c.Q, 0, 0};
        const uint32_t status = Evaluate(db, kF, in);
        if (std::isnan(c.expected)) {
            EXPECT_EQ(ST_CONFIG, status);
            EXPECT_EQ(777.0, db[kF].Ist);
        } else {
            EXPECT_EQ(0u, status);
            EXPECT_TRUE(SameValue(c.expected, db[kF].Ist)) << c.angle << " " << c.Q;
        }
    }
    Tables db;
    FormulaTag(db, kF, 152, {0});
    Evaluate(db, kF, Inputs{0, 1, 1, 0, 0});
    EXPECT_EQ(0.0, db[kF].Ist);
    EXPECT_TRUE(std::signbit(db[kF].Ist)) << "a negative zero";
    EXPECT_EQ(1.0, db[kF].Hdouble[6]);
    EXPECT_TRUE(SameValue(std::sqrt(0.5), db[kF].Hdouble[7]));
}

}  // namespace
