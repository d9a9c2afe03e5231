// Arithmetic and physical value formulas, driven through VelmoFormel the way
// the cycle calls it.  Expected values of the plant formulas were worked out
// independently from their definitions.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>

#include "calc_formulas_cases.hpp"
#include "formula_families.hpp"

namespace {

using calc::kNan;
using calc_test::Evaluate;
using calc_test::FormulaTag;
using calc_test::SameValue;
using calc_test::Tables;

constexpr int kSelf = 100;      // the formula tag
constexpr int kFirstInput = 10;  // input tags 10..14
constexpr double kNoRef = -1e300;  // marks an input without a reference (Zeiger -1)

TEST(CalcFormulasArithmetic, EveryNumberOfTheFamilyIsDispatched) {
    for (int number : {1, 4, 10, 19, 20, 30, 34, 35, 50, 100, 114, 200, 501, 502, 511, 600, 601, 602, 603, 604,
                       605, 606, 750})
        EXPECT_NE(nullptr, calc::FindFormula(number)) << number;
}

// ---- 600..606: inputs from Zeiger, parameters in H0..H7 ------------------------------------

struct PlantCase {
    std::string name;
    int number;
    std::array<double, 5> in;  // Ist of Z0..Z4, or kNoRef
    std::array<double, 8> h;
    double value;
    uint32_t status;
};

TEST(CalcFormulasArithmetic, PlantValuesFromReferencedTags) {
    const std::array<double, 8> p600{0.8, 0.02, -0.0001, 0.05, 2, 0, 0, 0};
    const std::array<double, 8> p601{300, 0.7, 0.01, -0.0002, 0.05, 0.001, 0.1, 2};
    const std::array<double, 8> p602{10, 0.5, 0.2, 0.1, 293.15, 40, 0, 0};
    const PlantCase cases[] = {
        {"600 worked value", 600, {120, 15, 0.5, 7, kNoRef}, p600, 3.4956203142537654, 0},
        {"600 equal pressures", 600, {120, 15, 2, 2, kNoRef}, p600, 0.0, 0},
        {"600 outlet p2 = 0", 600, {120, 15, 2, -1.013, kNoRef}, p600, kNan, ST_DIVZERO},
        {"600 inlet p1 = 0", 600, {120, 15, -1.013, 2, kNoRef}, p600, kNan, ST_DIVZERO},
        {"600 H4 = 0", 600, {120, 15, 0.5, 7, kNoRef}, {0.8, 0.02, -0.0001, 0.05, 0, 0, 0, 0}, kNan, ST_DIVZERO},
        {"600 polynomial 0", 600, {0, 15, 0, 0, kNoRef}, {-1, 0, 0, 1, 1, 0, 0, 0}, kNan, ST_DIVZERO},
        {"600 no outlet reference", 600, {120, 15, 0.5, kNoRef, kNoRef}, p600, kNan, ST_CONFIG},
        {"600 flow NaN", 600, {kNan, 15, 0.5, 7, kNoRef}, p600, kNan, ST_CONFIG},
        {"600 H2 NaN", 600, {120, 15, 0.5, 7, kNoRef}, {0.8, 0.02, kNan, 0.05, 2, 0, 0, 0}, kNan, ST_CONFIG},
        {"601 worked value", 601, {120, 15, 0.5, 7, kNoRef}, p601, 50.153170874107744, 0},
        {"601 H7 = 0", 601, {120, 15, 0.5, 7, kNoRef}, {300, 0.7, 0.01, -0.0002, 0.05, 0.001, 0.1, 0}, kNan,
         ST_DIVZERO},
        {"601 H6 NaN", 601, {120, 15, 0.5, 7, kNoRef}, {300, 0.7, 0.01, -0.0002, 0.05, 0.001, kNan, 2}, kNan,
         ST_CONFIG},
        {"601 ratio negative", 601, {120, 15, 0.5, -3, kNoRef}, p601, kNan, ST_DIVZERO},
        {"602 worked value", 602, {50, 30, 2, 3, 4}, p602, 19.870561146170903, 0},
        {"602 fifth input NaN", 602, {50, 30, 2, 3, kNan}, p602, kNan, ST_CONFIG},
        {"602 fifth input missing", 602, {50, 30, 2, 3, kNoRef}, p602, kNan, ST_CONFIG},
        {"602 H5 = 0", 602, {50, 30, 2, 3, 4}, {10, 0.5, 0.2, 0.1, 293.15, 0, 0, 0}, kNan, ST_DIVZERO},
        {"603 difference", 603, {5, 9, 4, kNoRef, kNoRef}, {5, 2, 0, 0, 0, 0, 0, 0}, 5.0, 0},
        {"603 a below H0", 603, {4.9, 9, 4, kNoRef, kNoRef}, {5, 2, 0, 0, 0, 0, 0, 0}, 0.0, 0},
        {"603 difference below H1", 603, {5, 9, 8, kNoRef, kNoRef}, {5, 2, 0, 0, 0, 0, 0, 0}, 0.0, 0},
        {"603 H1 NaN", 603, {5, 9, 4, kNoRef, kNoRef}, {5, kNan, 0, 0, 0, 0, 0, 0}, kNan, ST_CONFIG},
        {"604 passes b", 604, {3, 8, kNoRef, kNoRef, kNoRef}, {3, 0, 0, 0, 0, 0, 0, 0}, 8.0, 0},
        {"604 a below H0", 604, {2, 8, kNoRef, kNoRef, kNoRef}, {3, 0, 0, 0, 0, 0, 0, 0}, 0.0, 0},
        {"604 b missing", 604, {3, kNoRef, kNoRef, kNoRef, kNoRef}, {3, 0, 0, 0, 0, 0, 0, 0}, kNan, ST_CONFIG},
        {"605 sum", 605, {1, 2, 3, 4, kNoRef}, {2, 0, 0, 0, 0, 0, 0, 0}, 2.0, 0},
        {"605 below H0", 605, {1, 2, 3, 4, kNoRef}, {2.5, 0, 0, 0, 0, 0, 0, 0}, 0.0, 0},
        {"605 H0 NaN", 605, {1, 2, 3, 4, kNoRef}, {kNan, 0, 0, 0, 0, 0, 0, 0}, kNan, ST_CONFIG},
        {"606 worked value", 606, {200, 0.2, 1.5, kNoRef, kNoRef}, {}, 11515.812431842967, 0},
        {"606 c = 0", 606, {200, 0.2, 0, kNoRef, kNoRef}, {}, kNan, ST_DIVZERO},
        {"606 c missing", 606, {200, 0.2, kNoRef, kNoRef, kNoRef}, {}, kNan, ST_CONFIG},
    };
    // These formulas read their references themselves: Fkt 6 works as Fkt 60.
    for (int fkt : {60, 6}) {
        for (const PlantCase& pc : cases) {
            SCOPED_TRACE(pc.name + " Fkt " + std::to_string(fkt));
            Tables db;
            Tags& t = FormulaTag(db, kSelf, pc.number, fkt);
            for (int k = 0; k < 5; ++k) {
                if (pc.in[static_cast<size_t>(k)] == kNoRef) {
                    t.Zeiger[k] = -1;
                } else {
                    db.Value(kFirstInput + k, pc.in[static_cast<size_t>(k)], ST_EXPIRED);  // input status is not passed on
                    t.Zeiger[k] = kFirstInput + k;
                }
            }
            for (size_t k = 0; k < pc.h.size(); ++k) t.Hdouble[k] = pc.h[k];
            const calc_test::Outcome out = Evaluate(db, kSelf);
            EXPECT_TRUE(SameValue(pc.value, out.value));
            EXPECT_EQ(pc.status, out.status);
        }
    }
}

TEST(CalcFormulasArithmetic, PolynomialOfTheTwoInputValues) {
    struct Case {
        double a, b, value;
        uint32_t status;
    };
    const Case cases[] = {
        {0, 0, -6.205298, 0},
        {10, 20, 7.224092960000001, 0},
        {kNan, 20, kNan, ST_CONFIG},
        {10, kNan, kNan, ST_CONFIG},
    };
    for (const Case& c : cases) {
        Tables db;
        Tags& t = FormulaTag(db, kSelf, 750);
        db.Value(10, c.a);
        db.Value(11, c.b);
        t.Zeiger[0] = 10;
        t.Zeiger[1] = 11;
        const calc_test::Outcome out = Evaluate(db, kSelf);
        EXPECT_TRUE(SameValue(c.value, out.value)) << c.a << ", " << c.b;
        EXPECT_EQ(c.status, out.status) << c.a << ", " << c.b;
    }
}

// ---- 19, 20: normal volume -------------------------------------------------------------------

TEST(CalcFormulasArithmetic, NormalVolumeWithIntermediates) {
    struct Case {
        std::string name;
        int number;
        double flow, temperature, pressure;
        std::array<double, 3> h;
        bool all_refs;
        double value;
        uint32_t status;
        std::array<double, 3> h345;  // expected H3..H5 when computed
    };
    const Case cases[] = {
        {"19 worked example", 19, 100, 0, 1.013, {1.0, 273.15, 1.013}, true, 100.0, 0, {1, 1, 1}},
        {"19 linear signal", 19, 50, 0, 2, {0.0, 273.15, 1}, true, 100.0, 0, {1, 2, 2}},
        {"20 gauge pressure", 20, 10, 0, 3, {0.0, 273.15, 2}, true, 20.0, 0, {1, 2, 2}},
        {"20 root signal", 20, 10, 0, 1, {1.0, 546.3, 2}, true, 14.142135623730951, 0, {2, 1, 1.4142135623730951}},
        {"19 reference missing", 19, 100, 0, 1.013, {1.0, 273.15, 1.013}, false, 0.0, 3, {kNan, kNan, kNan}},
        {"19 no flow", 19, 0, 0, 1.013, {1.0, 273.15, 1.013}, true, 0.0, 3, {kNan, kNan, kNan}},
        {"20 negative flow", 20, -1, 0, 1.013, {1.0, 273.15, 1.013}, true, 0.0, 3, {kNan, kNan, kNan}},
        {"19 normal pressure 0", 19, 100, 0, 1.013, {0.0, 273.15, 0}, true, kNan, ST_DIVZERO, {1, INFINITY, INFINITY}},
        {"19 temperature missing", 19, 100, kNan, 1.013, {0.0, 273.15, 1.013}, true, kNan, ST_CONFIG,
         {kNan, 1, kNan}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Tables db;
        Tags& t = FormulaTag(db, kSelf, c.number);
        db.Value(10, c.flow);
        db.Value(11, c.temperature);
        db.Value(12, c.pressure);
        t.Zeiger[0] = 10;
        t.Zeiger[1] = 11;
        t.Zeiger[2] = c.all_refs ? 12 : 0;
        for (double& h : t.Hdouble) h = kNan;
        for (size_t k = 0; k < 3; ++k) t.Hdouble[k] = c.h[k];
        const calc_test::Outcome out = Evaluate(db, kSelf);
        EXPECT_TRUE(SameValue(c.value, out.value));
        EXPECT_EQ(c.status, out.status);
        for (size_t k = 0; k < 3; ++k) EXPECT_TRUE(SameValue(c.h345[k], t.Hdouble[3 + k])) << "H" << 3 + k;
    }
}

// ---- Raw values: 4, 200, 50, 34/35, 30 -------------------------------------------------------

TEST(CalcFormulasArithmetic, ScaledRawValue) {
    struct Case {
        std::string name;
        int32_t raw_number;
        double raw;
        double h0, h1, h6;
        double value;
        uint32_t status;
    };
    const Case cases[] = {
        {"all steps", 7, 10, 2, 4, 1, 6.0, ST_ALARM_H},
        {"no parameters", 7, 10, kNan, kNan, kNan, 10.0, ST_ALARM_H},
        {"offset only", 7, 10, kNan, kNan, 1, 11.0, ST_ALARM_H},
        {"raw NaN", 7, kNan, 2, 4, 1, kNan, ST_ALARM_H},
        {"divisor 0", 7, 10, 2, 0, 1, kNan, ST_ALARM_H | ST_DIVZERO},
        {"last raw number refused", QX_N_ROH, 10, 2, 4, 1, kNan, ST_CONFIG},
        {"no raw number", 0, 10, 2, 4, 1, kNan, ST_CONFIG},
    };
    for (int fkt : {60, 6}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name + " Fkt " + std::to_string(fkt));
            Tables db;
            Tags& t = FormulaTag(db, kSelf, 4, fkt);
            t.Zeiger[0] = c.raw_number;
            if (c.raw_number > 0) db.Raw(c.raw_number, c.raw, ST_ALARM_H);
            t.Hdouble[0] = c.h0;
            t.Hdouble[1] = c.h1;
            t.Hdouble[6] = c.h6;
            t.Hdouble[7] = -3;
            const calc_test::Outcome out = Evaluate(db, kSelf);
            EXPECT_TRUE(SameValue(c.value, out.value));
            EXPECT_EQ(c.status, out.status);
            if (c.status != ST_CONFIG) {
                EXPECT_TRUE(SameValue(c.value, t.Hdouble[7])) << "H7 holds the value";
            }
        }
    }
}

TEST(CalcFormulasArithmetic, LinearScalingWithSubstituteAndSwitch) {
    struct Case {
        std::string name;
        double raw;
        uint32_t raw_status;
        std::array<double, 7> h;  // H0..H6
        double substitute;
        double value;
        uint32_t status;
    };
    const std::array<double, 7> scale{5, 20, 0, 10, 0, 100, 1};
    const Case cases[] = {
        {"inside the range", 5, 0, scale, 42, 50.0, 0},
        {"no upper limit", 15, 0, scale, 42, 150.0, 0},
        {"below x0", -1, 0, scale, 42, 0.0, 0},
        {"raw NaN takes the substitute", kNan, ST_EXPIRED, scale, 42, 42.0, ST_EXPIRED},
        {"substitute NaN counts as -1", kNan, ST_EXPIRED, scale, kNan, -1.0, ST_EXPIRED},
        {"raw status passed on", 5, ST_ALARM_L, scale, 42, 50.0, ST_ALARM_L},
        {"switched off keeps the value", 5, 0, {5, 20, 0, 10, 0, 100, 0}, 42, 777.0, ST_OFF},
        {"switch NaN counts as on", 5, 0, {5, 20, 0, 10, 0, 100, kNan}, 42, 50.0, 0},
        {"x1 = 0 takes roh_skal", 5, 0, {5, 20, 0, 0, 0, 100, 1}, 42, 25.0, 0},
        {"empty span", 5, ST_ALARM_L, {5, 20, 2, 2, 0, 100, 1}, 42, kNan, ST_ALARM_L},
        {"last raw number accepted", 5, 0, {QX_N_ROH, 20, 0, 10, 0, 100, 1}, 42, 50.0, 0},
        {"raw number beyond the table", 5, 0, {QX_N_ROH + 1, 20, 0, 10, 0, 100, 1}, 42, kNan, ST_CONFIG},
        {"substitute tag invalid", 5, 0, {5, 0, 0, 10, 0, 100, 1}, 42, kNan, ST_CONFIG},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Tables db;
        db.sys.roh_skal = 20.0;
        Tags& t = FormulaTag(db, kSelf, 200, 6);
        for (size_t k = 0; k < c.h.size(); ++k) t.Hdouble[k] = c.h[k];
        const long raw_number = calc::RefFromDouble(c.h[0]);
        if (raw_number >= 1 && raw_number <= QX_N_ROH) db.Raw(static_cast<int>(raw_number), c.raw, c.raw_status);
        db.Value(20, c.substitute);
        const calc_test::Outcome out = Evaluate(db, kSelf);
        EXPECT_TRUE(SameValue(c.value, out.value));
        EXPECT_EQ(c.status, out.status);
        if (std::isnan(c.h[6])) {
            EXPECT_EQ(1.0, t.Hdouble[6]);
        }
    }
}

TEST(CalcFormulasArithmetic, LimitCheckWithSubstitute) {
    struct Case {
        std::string name;
        int32_t zeiger;  // source tag 10 holds `value`; raw 3 holds `value` too
        double h0;       // raw number used without a source tag
        double value;
        uint32_t source_status;
        double h1, h2;
        double result;
        uint32_t status;
    };
    const Case cases[] = {
        {"above H2", 10, 0, 12, 0, 0, 10, 5.0, ST_IRREGULAR},
        {"inside", 10, 0, 7, 0, 0, 10, 7.0, 0},
        {"below H1", 10, 0, -1, ST_ALARM_L, 0, 10, 5.0, ST_ALARM_L | ST_IRREGULAR},
        {"source NaN stays NaN", 10, 0, kNan, ST_EXPIRED, 0, 10, kNan, ST_EXPIRED},
        {"limit NaN", 10, 0, 7, 0, kNan, 10, kNan, ST_CONFIG},
        {"raw source", 0, 3, 12, ST_ALARM_H, 0, 10, 5.0, ST_ALARM_H | ST_IRREGULAR},
        {"highest tag falls back to the raw value", QX_N_TAG, 3, 7, 0, 0, 10, 7.0, 0},
        {"no source", 0, -1, 7, 0, 0, 10, kNan, ST_CONFIG},
        {"raw number out of range", 0, QX_N_ROH, 7, 0, 0, 10, kNan, ST_CONFIG},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Tables db;
        Tags& t = FormulaTag(db, kSelf, 50, 6);
        t.Zeiger[0] = c.zeiger;
        db.Value(10, c.value, c.source_status);
        db.Value(QX_N_TAG, 99.0);
        db.Raw(3, c.value, c.source_status);
        t.Hdouble[0] = c.h0;
        t.Hdouble[1] = c.h1;
        t.Hdouble[2] = c.h2;
        t.Hdouble[3] = 5;
        const calc_test::Outcome out = Evaluate(db, kSelf);
        EXPECT_TRUE(SameValue(c.result, out.value));
        EXPECT_EQ(c.status, out.status);
    }
}

TEST(CalcFormulasArithmetic, NoValueCodeOfARawValue) {
    struct Case {
        std::string name;
        double h0, h1, raw;
        double value;
        double raw_after;
    };
    const Case cases[] = {
        {"code gives 0", 65535, 3, 65535, 0.0, 65535},
        {"other value passes", 65535, 3, 7, 7.0, 7},
        {"NaN becomes 0 in the raw value", 65535, 3, kNan, 0.0, 0},
        {"code -1 gives no value", -1, 3, 7, kNan, 7},
        {"raw number invalid", 65535, QX_N_ROH, 7, kNan, 7},
    };
    for (int number : {34, 35}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name + " formula " + std::to_string(number));
            Tables db;
            Tags& t = FormulaTag(db, kSelf, number, 6);
            t.Hdouble[0] = c.h0;
            t.Hdouble[1] = c.h1;
            db.Raw(3, c.raw);
            db.Raw(QX_N_ROH, c.raw);
            const calc_test::Outcome out = Evaluate(db, kSelf);
            EXPECT_TRUE(SameValue(c.value, out.value));
            EXPECT_EQ(0u, out.status);
            EXPECT_TRUE(SameValue(c.raw_after, db.roh[3].Ist));
        }
    }
}

TEST(CalcFormulasArithmetic, EqualityOfTwoRawValues) {
    struct Case {
        double j, k, h1, value;
    };
    const Case cases[] = {{4, 4, 3, 1.0}, {4, 5, 3, 0.0}, {kNan, kNan, 3, 0.0}, {4, 4, 0, kNan}, {4, 4, QX_N_ROH, kNan}};
    for (const Case& c : cases) {
        Tables db;
        Tags& t = FormulaTag(db, kSelf, 30, 6);
        t.Hdouble[0] = 2;
        t.Hdouble[1] = c.h1;
        db.Raw(2, c.j);
        db.Raw(3, c.k);
        db.Raw(QX_N_ROH, c.k);
        const calc_test::Outcome out = Evaluate(db, kSelf);
        EXPECT_TRUE(SameValue(c.value, out.value)) << c.j << " " << c.k << " " << c.h1;
        EXPECT_EQ(0u, out.status);
    }
}

// ---- 10, 100 ---------------------------------------------------------------------------------

TEST(CalcFormulasArithmetic, LevelClassification) {
    struct Case {
        double in0, h0, h1, h2, value;
        uint32_t status;
    };
    const Case cases[] = {
        {50, 10, 5, 40, 2.0, 1},  {50, 10, 5, 0, 1.0, 2},    {15, 10, 5, 40, 0.0, 3},
        {16, 10, 5, 40, 1.0, 2},  {50, 0, 5, 0, 0.0, 3},     {kNan, 10, 5, 40, 0.0, 3},
    };
    for (const Case& c : cases) {
        Tables db;
        Tags& t = FormulaTag(db, kSelf, 10);
        db.Value(10, c.in0);
        t.Zeiger[0] = 10;
        t.Hdouble[0] = c.h0;
        t.Hdouble[1] = c.h1;
        t.Hdouble[2] = c.h2;
        t.Hdouble[7] = kNan;
        const calc_test::Outcome out = Evaluate(db, kSelf);
        EXPECT_EQ(c.value, out.value) << c.in0 << " " << c.h0 << " " << c.h2;
        EXPECT_EQ(c.status, out.status) << c.in0 << " " << c.h0 << " " << c.h2;
        EXPECT_EQ(0.0, t.Hdouble[7]) << "input tag is no integrator";
    }
}

TEST(CalcFormulasArithmetic, LevelShowsTheIntegratorsInput) {
    Tables db;
    Tags& t = FormulaTag(db, kSelf, 10);
    Tags& integrator = db.Value(10, 50.0);
    integrator.Fkt = 47;
    integrator.Zeiger[0] = 30;
    db.Value(30, 8.5);
    t.Zeiger[0] = 10;
    t.Hdouble[2] = 40;
    EXPECT_EQ(2.0, Evaluate(db, kSelf).value);
    EXPECT_EQ(8.5, t.Hdouble[7]);

    integrator.Zeiger[0] = QX_N_TAG + 1;  // not readable: nothing shown
    Evaluate(db, kSelf);
    EXPECT_EQ(0.0, t.Hdouble[7]);
}

TEST(CalcFormulasArithmetic, DifferenceOverAPeriod) {
    Tables db;
    Tags& t = FormulaTag(db, kSelf, 100);
    Tags& input = db.Value(10, 5.0);
    t.Zeiger[0] = 10;
    t.Hdouble[0] = kNan;
    t.Hdouble[1] = kNan;
    t.Hdouble[2] = 60;
    struct Step {
        int sec;
        double input, value, h0, h1;
    };
    const Step steps[] = {
        {3600, 5, 0, 0, 5},    // samples shift at the period
        {3630, 9, 5, 0, 5},    // not between
        {3660, 12, 5, 5, 12},
        {3661, 20, 7, 5, 12},
    };
    for (const Step& s : steps) {
        input.Ist = s.input;
        const calc_test::Outcome out = Evaluate(db, kSelf, s.sec);
        EXPECT_EQ(s.value, out.value) << s.sec;
        EXPECT_EQ(0u, out.status) << s.sec;
        EXPECT_EQ(s.h0, t.Hdouble[0]) << s.sec;
        EXPECT_EQ(s.h1, t.Hdouble[1]) << s.sec;
    }
    for (double period : {kNan, 0.0, 0.5}) {
        t.Hdouble[2] = period;  // invalid: every second is a period
        t.Hdouble[0] = 1;
        t.Hdouble[1] = 4;
        input.Ist = 6;
        const calc_test::Outcome out = Evaluate(db, kSelf, 3661);
        EXPECT_EQ(3.0, out.value);
        EXPECT_EQ(ST_CONFIG, out.status);
        EXPECT_EQ(6.0, t.Hdouble[1]);
    }
}

// ---- Small utilities -------------------------------------------------------------------------

TEST(CalcFormulasArithmetic, SmallUtilities) {
    Tables db;
    db.sys.anzahl = 17;
    Tags& keep = FormulaTag(db, 100, 1, 6);
    Tags& hint = FormulaTag(db, 101, 114, 6);
    db.Value(20, 0).Hint[0] = 42;
    hint.Zeiger[0] = 20;
    Tags& no_hint = FormulaTag(db, 102, 114, 6);
    Tags& sum = FormulaTag(db, 103, 501, 6);
    for (int k = 0; k < 5; ++k) sum.Hdouble[k] = k + 1;
    sum.Hdouble[5] = 1000;
    FormulaTag(db, 104, 502, 6);
    Tags& ramp = FormulaTag(db, 105, 511, 6);
    ramp.Ist = 19800;
    ramp.Status = ST_ALARM_H;

    calc_test::Outcome out = Evaluate(db, 100);
    EXPECT_EQ(777.0, out.value);
    EXPECT_EQ(5u, out.status);
    EXPECT_EQ(777.0, keep.Ist);

    out = Evaluate(db, 101);
    EXPECT_EQ(42.0, out.value);
    EXPECT_EQ(0u, out.status);
    no_hint.Zeiger[0] = QX_N_TAG + 1;
    out = Evaluate(db, 102);
    EXPECT_TRUE(std::isnan(out.value));
    EXPECT_EQ(ST_CONFIG, out.status);

    EXPECT_EQ(15.0, Evaluate(db, 103).value);
    EXPECT_EQ(17.0, Evaluate(db, 104).value);

    out = Evaluate(db, 105);
    EXPECT_EQ(19900.0, out.value);
    EXPECT_EQ(ST_ALARM_H, out.status);
    out = Evaluate(db, 105);
    EXPECT_EQ(0.0, out.value) << "back to 0 at 20000";
    EXPECT_EQ(100.0, Evaluate(db, 105).value);
}

// The cycle itself reaches the family: a scaled raw value as an Fkt 60 tag.
TEST(CalcFormulasArithmetic, ComputedInTheCycle) {
    Tables db;
    Tags& t = FormulaTag(db, kSelf, 4);
    t.Zeiger[0] = 9;
    t.Hdouble[0] = 3;
    t.Hdouble[1] = kNan;
    t.Hdouble[6] = kNan;
    db.Raw(9, 2.5, ST_ALARM_L);
    db.Cycle();
    EXPECT_EQ(7.5, t.Ist);
    EXPECT_EQ(ST_ALARM_L, t.Status);
    EXPECT_EQ(7.5, t.Summe);
}

}  // namespace
