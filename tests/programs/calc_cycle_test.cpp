// The cycle step on tables in memory: every function number by a table of
// cases, the stateful functions by sequences of cycles, then substitute
// values, interval sums, raw-value expiry and evaluation order.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

#include "calc_tables.hpp"

namespace {

using calc::kMax;
using calc::kNan;
using calc_test::SameValue;
using calc_test::Tables;

constexpr int kTag = 10;        // the tag under test
constexpr int kFirstInput = 100;  // input k is tag 100 + k

struct In {
    double value;
    uint32_t status = 0;
};

struct Case {
    const char* what;
    int fkt;
    std::vector<std::optional<In>> inputs;  // nullopt: reference not valid
    std::vector<std::pair<int, double>> hdouble;
    double ist;
    uint32_t status;
    uint8_t b0 = 0;
};

void RunCase(const Case& c) {
    SCOPED_TRACE(c.what);
    Tables db;
    Tags& t = db.Configure(kTag, c.fkt);
    t.HByte[0] = c.b0;
    for (auto [k, v] : c.hdouble) t.Hdouble[k] = v;
    for (size_t k = 0; k < c.inputs.size(); ++k) {
        if (!c.inputs[k]) continue;
        const int ref = kFirstInput + static_cast<int>(k);
        db.Value(ref, c.inputs[k]->value, c.inputs[k]->status);
        t.Zeiger[k] = ref;
    }
    db.Cycle();
    EXPECT_TRUE(SameValue(c.ist, t.Ist));
    EXPECT_EQ(c.status, t.Status) << std::hex << "status 0x" << t.Status;
}

const std::nullopt_t none = std::nullopt;

TEST(CalcCycleFunctions, Arithmetic) {
    const std::vector<Case> cases = {
        {"10 copies", 10, {In{3.5, 0x80}}, {}, 3.5, 0x80},
        {"10 without input keeps its value", 10, {none}, {}, 777, 5},
        {"11 sum with OR of statuses", 11, {In{1, 1}, In{2, 0x100}, In{3}}, {}, 6, 0x101},
        {"11 invalid inputs count 0", 11, {In{1}, none, In{3}}, {}, 4, 0},
        {"11 a NaN input is a configuration error", 11, {In{1}, In{kNan}}, {}, kNan, ST_CONFIG},
        {"12 difference", 12, {In{10}, In{3}, In{2}}, {}, 5, 0},
        {"12 NaN", 12, {In{10}, none, In{kNan}}, {}, kNan, ST_CONFIG},
        {"13 product", 13, {In{3, 1}, In{4, 2}}, {}, 12, 3},
        {"14 quotient", 14, {In{6, 1}, In{3, 2}}, {}, 2, 3},
        {"14 divisor 0 passes the dividend", 14, {In{6, 1}, In{0, 2}}, {}, 6, 1 | ST_DIVZERO},
        {"14 divisor missing reference is 0", 14, {In{6}}, {}, 6, ST_DIVZERO},
        {"14 divisor NaN", 14, {In{6}, In{kNan, 4}}, {}, kNan, 4},
        {"15 reciprocal", 15, {In{4, 8}}, {}, 0.25, 8},
        {"15 of 0 keeps the value", 15, {In{0, 8}}, {}, 777, 5},
        {"15 without input", 15, {none}, {}, 0, 0},
        {"16 negation", 16, {In{2, 1}}, {}, -2, 1},
        {"17 absolute", 17, {In{-2}}, {}, 2, 0},
        {"18 square", 18, {In{-3}}, {}, 9, 0},
        {"19 root", 19, {In{16}}, {}, 4, 0},
        {"19 root of a negative value", 19, {In{-1}}, {}, kNan, 0},
        {"22 log10", 22, {In{1000}}, {}, 3, 0},
        {"23 ln", 23, {In{std::exp(2.0)}}, {}, 2, 0},
        {"24 10^x", 24, {In{2}}, {}, 100, 0},
        {"25 e^x", 25, {In{1}}, {}, std::exp(1.0), 0},
        {"26 sin", 26, {In{M_PI / 2}}, {}, 1, 0},
        {"27 cos", 27, {In{0}}, {}, 1, 0},
        {"28 tan", 28, {In{M_PI / 4}}, {}, std::tan(M_PI / 4), 0},
        {"29 asin", 29, {In{1}}, {}, M_PI / 2, 0},
        {"30 acos", 30, {In{1}}, {}, 0, 0},
        {"31 atan", 31, {In{1}}, {}, M_PI / 4, 0},
        {"31 without input", 31, {none}, {}, 0, 0},
        {"20 power", 20, {In{2, 1}, In{3, 2}}, {}, 8, 3},
        {"21 root of degree", 21, {In{27}, In{3}}, {}, 3, 0},
        {"32 remainder keeps the dividend's sign", 32, {In{-7}, In{3}}, {}, -1, 0},
        {"33 maximum", 33, {In{1, 1}, In{2, 2}}, {}, 2, 2},
        {"33 only input 0", 33, {In{1, 1}}, {}, 1, 1},
        {"33 only input 1", 33, {none, In{4, 2}}, {}, 4, 2},
        {"33 NaN second input", 33, {In{1, 1}, In{kNan, 2}}, {}, 1, 1},
        {"33 tie takes input 1", 33, {In{1, 1}, In{1, 2}}, {}, 1, 2},
        {"34 minimum", 34, {In{1, 1}, In{2, 2}}, {}, 1, 1},
        {"34 NaN first input", 34, {In{kNan, 1}, In{2, 2}}, {}, 2, 2},
        {"38 percentage of inputs", 38, {In{5, 1}, In{10, 2}, In{0, 4}}, {}, 50, 7},
        {"38 percentage of parameters", 38, {In{5}}, {{0, 20}, {1, 10}}, -50, 0},
        {"39 mean skips NaN", 39, {In{1, 1}, In{kNan, 2}, In{3}}, {}, 2, 3},
        {"39 nothing to average", 39, {none, In{kNan, 2}}, {}, kNan, 0},
        {"42 polynomial", 42, {In{2, 4}}, {{0, 1}, {1, 2}, {2, 3}, {3, 0}, {4, 1}}, 1 + 4 + 12 + 16, 4},
        {"42 without input", 42, {none}, {{0, 1}}, 0, 0},
        {"211 all present", 211, {In{5, 1}, In{1}, none, In{2}}, {}, 5, 1},
        {"211 a NaN input", 211, {In{5, 1}, In{1}, In{kNan}}, {}, kNan, 1},
        {"211 no first input", 211, {none, In{1}}, {}, kNan, ST_NONE},
    };
    for (const Case& c : cases) RunCase(c);
}

TEST(CalcCycleFunctions, LimitsAndFuzzy) {
    const std::vector<Case> cases = {
        {"35 below the limit", 35, {In{5, 1}}, {{5, 10}}, 5, 1},
        {"35 above, clamped", 35, {In{15, 1}}, {{5, 10}}, 10, 1, 1},
        {"35 above, no value", 35, {In{15, 1}}, {{5, 10}}, kNan, 1, 0},
        {"35 limit NaN passes", 35, {In{15}}, {{5, kNan}}, 15, 0},
        {"35 no input with B0", 35, {none}, {}, 0, 0, 1},
        {"35 no input without B0", 35, {none}, {}, kNan, ST_NONE, 0},
        {"36 above the lower limit", 36, {In{5}}, {{6, 1}}, 5, 0},
        {"36 below, clamped", 36, {In{0}}, {{6, 1}}, 1, 0, 1},
        {"37 within the band", 37, {In{5}}, {{5, 10}, {6, 0}}, 5, 0, 1},
        {"37 under the band", 37, {In{-5}}, {{5, 10}, {6, 0}}, 0, 0, 1},
        {"37 over the band", 37, {In{50}}, {{5, 10}, {6, 0}}, kNan, 0, 0},
        {"44 selector above the switch point", 44, {In{1, 1}, In{2, 2}, In{10}}, {{0, 2}, {1, 5}, {2, 0}}, 1, 1},
        {"44 selector below", 44, {In{1, 1}, In{2, 2}, In{3}}, {{0, 2}, {1, 5}, {2, 0}}, 2, 2},
        {"44 parameters instead of inputs", 44, {none, none, none}, {{1, 5}, {3, 7}, {4, 8}, {5, 9}}, 7, 0},
        {"71 shape 0 singleton", 71, {In{2, 1}}, {{1, 2}}, 1, 1, 0},
        {"71 falling", 71, {In{1.5}}, {{1, 1}, {2, 2}}, 0.5, 0, 1},
        {"71 triangle rising edge", 71, {In{1.5}}, {{0, 1}, {1, 2}, {2, 4}}, 0.5, 0, 2},
        {"71 triangle falling edge", 71, {In{3}}, {{0, 1}, {1, 2}, {2, 4}}, 0.5, 0, 2},
        {"71 rising above", 71, {In{5}}, {{0, 1}, {1, 2}}, 1, 0, 3},
        {"71 trapezoid top", 71, {In{2.5}}, {{0, 1}, {1, 2}, {2, 3}, {3, 4}}, 1, 0, 4},
        {"71 trapezoid falling", 71, {In{3.25}}, {{0, 1}, {1, 2}, {2, 3}, {3, 4}}, 0.75, 0, 4},
        {"71 parameter H4 as input", 71, {none}, {{0, 1}, {1, 2}, {4, 1.5}}, 0.5, 0, 3},
        {"71 unknown shape", 71, {In{1}}, {}, kNan, 0, 9},
        {"72 NOT", 72, {In{0.25, 2}}, {}, 0.75, 2},
        {"72 without input", 72, {none}, {}, kNan, 0},
        {"73 maximum rule", 73, {In{0.5}, In{0.8, 4}}, {{0, 1}, {1, 1}, {5, -1}}, 0.8, 1},
        {"73 weighted", 73, {In{0.5}, In{1}}, {{0, 1}, {1, 1}, {5, 2}}, 0.75, 0},
        {"73 minimum rule", 73, {In{0.5}, In{0.8}}, {{0, 1}, {1, 1}, {5, 3}}, 0.5, 0},
        {"73 product mix", 73, {In{0.5}, In{0.5}}, {{0, 1}, {1, 1}, {5, 1}}, 0.25, 0},
        {"73 limited to 1", 73, {In{4}}, {{0, 1}, {5, -1}}, 1, 0},
    };
    for (const Case& c : cases) RunCase(c);
}

// 75 chooses its mode by Hint[9]: below 1 centroid, 1 weighted mean, above weighted sum.
TEST(CalcCycleFunctions, DefuzzificationModes) {
    struct Mode {
        int32_t hint9;
        double ist;
    };
    for (const Mode m : {Mode{1, 17.5}, Mode{2, 70.0}}) {
        Tables db;
        Tags& t = db.Configure(kTag, 75);
        t.Hint[9] = m.hint9;
        t.Hdouble[0] = 10;
        t.Hdouble[1] = 20;
        db.Value(100, 1);
        db.Value(101, 3);
        t.Zeiger[0] = 100;
        t.Zeiger[1] = 101;
        db.Cycle();
        EXPECT_TRUE(SameValue(m.ist, t.Ist)) << "mode " << m.hint9;
    }
    // Centroid of one symmetric triangle 0..1..2 is its peak.
    Tables db;
    Tags& t = db.Configure(kTag, 75);
    t.Hint[9] = 0;
    t.Hdouble[0] = 0;
    t.Hdouble[1] = 1;
    t.Hdouble[2] = 2;
    db.Value(100, 1);
    t.Zeiger[0] = 100;
    db.Cycle();
    EXPECT_TRUE(SameValue(1.0, t.Ist));
}

TEST(CalcCycleFunctions, NoComputation) {
    Tables db;
    for (int fkt : {0, 5, 46, 48, 49, 56, 57, 58}) {
        Tags& t = db.Configure(kTag, fkt);
        t.Summe = 3;
        t.Anz = 2;
        db.Cycle();
        EXPECT_TRUE(std::isnan(t.Ist)) << fkt;
        EXPECT_TRUE(std::isnan(t.Summe)) << fkt;
        EXPECT_EQ(0.0, t.Anz) << fkt;
        EXPECT_EQ(0u, t.Status) << fkt;
    }
    // 1 and 2: the value belongs to another program; the interval sum holds only it.
    for (int fkt : {1, 2}) {
        Tags& t = db.Configure(kTag, fkt);
        t.Summe = 3;
        t.Anz = 2;
        db.Cycle();
        EXPECT_EQ(777.0, t.Ist);
        EXPECT_EQ(0u, t.Status);
        EXPECT_EQ(777.0, t.Summe);
        EXPECT_EQ(1.0, t.Anz);
    }
    Tags& text = db.Configure(kTag, 59);
    const double packed = 3.25;
    std::memcpy(text.Text, &packed, sizeof packed);
    db.Cycle();
    EXPECT_EQ(3.25, text.Ist);
    EXPECT_EQ(0u, text.Status);

    Tags& present = db.Configure(kTag, 150);
    db.Cycle();
    EXPECT_TRUE(std::isnan(present.Ist));
    EXPECT_EQ(ST_NOINPUT, present.Status);
    present.Zeiger[0] = 4096;
    db.Cycle();
    EXPECT_EQ(0.0, present.Ist);
    EXPECT_EQ(0u, present.Status);
}

TEST(CalcCycleFunctions, AlarmListIsRebuiltEveryCycle) {
    Tables db;
    db.Configure(7, 100);
    db.Configure(9, 101).HLog[HLOG_IN_SERVICE] = 0;  // alarm tags are never substituted
    db.Cycle();
    ASSERT_EQ(2, db.alarm_count);
    EXPECT_EQ(7, db.alarms[0]);
    EXPECT_EQ(9, db.alarms[1]);
    EXPECT_EQ(777.0, db[9].Ist);
    db.Configure(7, 10);
    db.Cycle();
    ASSERT_EQ(1, db.alarm_count);
    EXPECT_EQ(9, db.alarms[0]);
}

TEST(CalcCycleFunctions, AlarmListNeverOverflows) {
    // Every tag 0..4096 an alarm tag: one more than the list holds.
    Tables db;
    for (int i = 0; i <= QX_N_TAG; ++i) db.Configure(i, 100);
    db.Cycle();
    EXPECT_EQ(QX_N_TAG, db.alarm_count);
}

TEST(CalcCycleFunctions, RawValues) {
    Tables db;
    db.Raw(5, 0.25, 0x40);
    Tags& copy = db.Configure(kTag, 3);
    copy.Hint[0] = 5;
    copy.HByte[0] = 1;
    db.Cycle();
    EXPECT_EQ(0.25, copy.Ist);
    EXPECT_EQ(0x40u, copy.Status);

    copy.HByte[0] = 0;  // input switched off: value kept
    copy.Ist = 1.5;
    db.Cycle();
    EXPECT_EQ(1.5, copy.Ist);
    EXPECT_EQ(ST_OFF, copy.Status);

    for (int32_t bad : {0, -1, 4097}) {
        copy.Hint[0] = bad;
        db.Cycle();
        EXPECT_TRUE(std::isnan(copy.Ist)) << bad;
        EXPECT_EQ(ST_CONFIG, copy.Status) << bad;
    }
    copy.Hint[0] = 4096;  // the last raw value is valid
    db.Raw(4096, 2.0);
    copy.HByte[0] = 1;
    db.Cycle();
    EXPECT_EQ(2.0, copy.Ist);
}

TEST(CalcCycleFunctions, ScaledRawValue) {
    struct Scale {
        const char* what;
        double raw, h1, h2, h3, h4;
        double ist;
        uint32_t status;
    };
    const Scale cases[] = {
        {"0..1 to 0..100", 0.25, 0, 0, 100, 1, 25, 0x40},
        {"high end NaN takes roh_skal", 0.5, kNan, 0, 10, kNan, 5, 0x40},
        {"high end 0 takes roh_skal", 0.5, 0, 0, 10, 0, 5, 0x40},
        {"offset span 4..20", 12, 4, 0, 100, 20, 50, 0x40},
        {"zero span", 5, 1, 0, 100, 1, kNan, 0x40 | ST_CONFIG},
        {"raw NaN", kNan, 0, 0, 100, 1, kNan, 0x40},
    };
    for (const Scale& s : cases) {
        SCOPED_TRACE(s.what);
        Tables db;
        db.Raw(3, s.raw, 0x40);
        Tags& t = db.Configure(kTag, 4);
        t.Hint[0] = 3;
        t.HByte[0] = 1;
        t.Hdouble[1] = s.h1;
        t.Hdouble[2] = s.h2;
        t.Hdouble[3] = s.h3;
        t.Hdouble[4] = s.h4;
        db.Cycle();
        EXPECT_TRUE(SameValue(s.ist, t.Ist));
        EXPECT_EQ(s.status, t.Status);
    }
}

TEST(CalcCycleFunctions, CounterWithRestartOnFault) {
    Tables db;
    db.sys.takt = 5;
    db.Raw(2, 1000);
    Tags& t = db.Configure(kTag, 7);
    t.Hint[0] = 2;
    t.Hint[9] = 60;  // rate every minute
    t.Hint[8] = 1;   // per minute
    t.Hdouble[1] = 1;
    t.Hdouble[2] = 10000;  // modulus
    t.HLog[41] = 1;

    db.Cycle(30);  // not due: nothing
    EXPECT_EQ(777.0, t.Ist);
    EXPECT_EQ(0, t.Hint[7]);

    db.Cycle(60);  // first due second only stores the reading
    EXPECT_EQ(777.0, t.Ist);
    EXPECT_EQ(1000.0, t.Hdouble[4]);
    EXPECT_EQ(ST_START, t.Status);
    EXPECT_EQ(1, t.Hint[7]);

    db.Raw(2, 1030);
    db.Cycle(120);  // 30 counts in 60 s, per minute: 30
    EXPECT_EQ(30.0, t.Ist);
    EXPECT_EQ(0u, t.Status);
    EXPECT_EQ(2, t.Hint[7]);

    db.Raw(2, 20);  // wrapped: 20 + 10000 - 1030
    db.Cycle(180);
    EXPECT_EQ(8990.0, t.Ist);
    EXPECT_EQ(ST_IRREGULAR, t.Status);

    db.Raw(2, 50, ST_EXPIRED);  // a faulty reading restarts the counter
    db.Cycle(240);
    EXPECT_EQ(ST_EXPIRED | ST_START, t.Status);
    EXPECT_EQ(0, t.Hint[7]);
}

TEST(CalcCycleFunctions, CounterWithoutRestartUsesStoredReading) {
    Tables db;
    db.Raw(2, 1100);
    Tags& t = db.Configure(kTag, 7);
    t.Hint[0] = 2;
    t.Hint[9] = 100;
    t.Hint[8] = 7;  // not a unit: reset to 0 (per second)
    t.Hdouble[1] = 2;
    t.Hdouble[4] = 1000;  // reading kept in the configuration
    t.HLog[41] = 0;
    db.Cycle(200);
    EXPECT_EQ(100.0 * 2 / 100, t.Ist);
    EXPECT_EQ(0, t.Hint[8]);
    EXPECT_EQ(0u, t.Status);

    t.HLog[HLOG_INPUT_ENABLED] = 0;
    db.Cycle(300);
    EXPECT_EQ(ST_OFF, t.Status);

    t.Hint[9] = 4;  // period below takt
    db.Cycle(300);
    EXPECT_TRUE(std::isnan(t.Ist));
    EXPECT_EQ(ST_CONFIG, t.Status);
}

TEST(CalcCycleFunctions, ScaledTagWithWriteBack) {
    const uint32_t epoch = calc_test::kDayEpoch + 3600;
    Tables db;
    db.Value(100, 5, 0x80);
    Tags& t = db.Configure(kTag, 8);
    t.Zeiger[0] = 100;
    t.Hint[4] = 7;
    t.Hdouble[0] = 0;
    t.Hdouble[1] = 10;
    t.Hdouble[2] = 0;
    t.Hdouble[3] = 1;
    db.Cycle(3600, calc_test::UtcDays(epoch));
    EXPECT_EQ(0.5, t.Ist);
    EXPECT_EQ(0x80u, t.Status);
    EXPECT_EQ(0.5, db.roh[7].Ist);
    EXPECT_EQ(0x80u, db.roh[7].Status);
    EXPECT_EQ(epoch, db.roh[7].WriteTime);
    EXPECT_EQ(epoch + 360u, db.roh[7].ValidUntil);

    db[100].Ist = -1;  // below the span: the low output end
    db.Cycle(3600, calc_test::UtcDays(epoch));
    EXPECT_EQ(0.0, t.Ist);

    t.Hint[4] = 0;  // no write-back target: configuration error
    db.Cycle(3600, calc_test::UtcDays(epoch));
    EXPECT_EQ(0x80u | ST_CONFIG, t.Status);

    t.Zeiger[0] = 0;  // no input: NaN, and still written back
    t.Hint[4] = 7;
    db.Cycle(3600, calc_test::UtcDays(epoch));
    EXPECT_TRUE(std::isnan(t.Ist));
    EXPECT_EQ(ST_CONFIG, t.Status);
    EXPECT_TRUE(std::isnan(db.roh[7].Ist));
}

TEST(CalcCycleFunctions, GatedIntegrator) {
    Tables db;
    db.sys.takt = 5;
    db.Value(100, 2, 0x80);   // rate
    db.Value(101, 42, 0x100);  // bypass value
    db.Value(102, 1);        // gate
    Tags& t = db.Configure(kTag, 9);
    t.Zeiger[0] = 100;
    t.Zeiger[1] = 101;
    t.Zeiger[2] = 102;
    t.Ist = 0;
    t.Hint[4] = 8;
    t.Hdouble[2] = kNan;
    t.Hdouble[3] = 25;
    db.Cycle();
    EXPECT_EQ(10.0, t.Ist);
    EXPECT_EQ(0x80u, t.Status);
    EXPECT_EQ(10.0, db.roh[8].Ist);
    db.Cycle();
    db.Cycle();  // 30 clamps to 25
    EXPECT_EQ(25.0, t.Ist);

    t.Hint[1] = 1;  // per minute
    t.Ist = 0;
    db.Cycle();
    EXPECT_TRUE(SameValue(10.0 / 60, t.Ist));

    db[102].Ist = 0;  // gate closed: the bypass value
    db.Cycle();
    EXPECT_EQ(25.0, t.Ist);  // 42 clamped
    EXPECT_EQ(0x100u | ST_BYPASS, t.Status);

    t.Hdouble[2] = 30;  // lo >= hi
    db.Cycle();
    EXPECT_EQ(42.0, t.Ist);
    EXPECT_EQ(0x100u | ST_BYPASS | ST_CONFIG, t.Status);

    t.Hdouble[2] = kNan;
    t.Hint[4] = 5000;  // beyond the raw table
    db.Cycle();
    EXPECT_EQ(0x100u | ST_BYPASS | ST_CONFIG, t.Status);
    t.Hint[4] = 0;  // none: no error
    db.Cycle();
    EXPECT_EQ(0x100u | ST_BYPASS, t.Status);
}

TEST(CalcCycleFunctions, DelayLineAndMovingMean) {
    Tables db;
    db.Value(100, 0);
    Tags& delay = db.Configure(kTag, 40);
    delay.Zeiger[0] = 100;
    delay.HByte[0] = 2;  // two cycles late
    delay.HByte[1] = 0;
    Tags& mean = db.Configure(kTag + 1, 43);
    mean.Zeiger[0] = 100;
    mean.HByte[0] = 2;  // mean of three
    mean.HByte[1] = 0;
    std::vector<double> delayed, means;
    for (int k = 1; k <= 12; ++k) {
        db[100].Ist = k;
        db.Cycle();
        delayed.push_back(delay.Ist);
        means.push_back(mean.Ist);
    }
    for (size_t k = 3; k < delayed.size(); ++k) {
        EXPECT_EQ(static_cast<double>(k - 2), delayed[k]) << k;  // the value of three cycles before
        EXPECT_EQ(static_cast<double>(k), means[k]) << k;        // (k-1 + k + k+1) / 3
    }
    delay.HByte[0] = 200;  // a negative length as a signed byte becomes 0
    db.Cycle();
    EXPECT_EQ(0, delay.HByte[0]);
    mean.HByte[0] = 50;  // too long: 9
    db.Cycle();
    EXPECT_EQ(9, mean.HByte[0]);
}

TEST(CalcCycleFunctions, Filter) {
    Tables db;
    db.sys.takt = 5;
    db.Value(100, 10);
    Tags& t = db.Configure(kTag, 41);
    t.Zeiger[0] = 100;
    t.Hint[0] = 20;  // time constant above takt
    t.Ist = 0;
    t.Hdouble[1] = kNan;
    db.Cycle();
    EXPECT_EQ(2.5, t.Ist);  // 0 + 10 * 5 / 20
    db.Cycle();
    EXPECT_EQ(2.5 + 7.5 * 5 / 20, t.Ist);
    t.Hint[0] = 5;  // no filtering
    db.Cycle();
    EXPECT_EQ(10.0, t.Ist);
    db[100].Ist = kNan;
    db[100].Status = 0x80;
    db.Cycle();
    EXPECT_EQ(10.0, t.Ist);
    EXPECT_EQ(0x80u, t.Status);
}

TEST(CalcCycleFunctions, LimitAlarmWithHysteresis) {
    Tables db;
    db.Value(100, 0);
    Tags& t = db.Configure(kTag, 45);
    t.Zeiger[0] = 100;
    t.Status = 0;
    t.Hdouble[0] = 90;  // HH
    t.Hdouble[1] = 80;  // H
    t.Hdouble[3] = 20;  // L
    t.Hdouble[4] = 10;  // LL
    t.Hdouble[5] = 2;   // hysteresis
    struct Step {
        double x;
        double level;
        uint32_t status;
    };
    const Step steps[] = {
        {50, 0, 0},
        {80, 0, 0},                               // exactly H: no alarm
        {81, 1, ST_ALARM_H},
        {78.5, 1, ST_ALARM_H},                    // within the hysteresis
        {78, 0, 0},                               // at H - hysteresis: gone
        {95, 3, ST_ALARM_H | ST_ALARM_HH},
        {15, -1, ST_ALARM_L},
        {5, -3, ST_ALARM_L | ST_ALARM_LL},
        {11, -3, ST_ALARM_L | ST_ALARM_LL},       // LL held by hysteresis
        {kNan, kNan, ST_IRREGULAR},
    };
    for (const Step& s : steps) {
        db[100].Ist = s.x;
        db.Cycle();
        EXPECT_TRUE(SameValue(s.level, t.Ist)) << "x " << s.x;
        EXPECT_EQ(s.status, t.Status) << "x " << s.x;
    }
}

TEST(CalcCycleFunctions, LimitAlarmStatusBits) {
    Tables db;
    db.Value(100, 50, 0x00030010);  // high bits pass, low 16 bits do not
    Tags& t = db.Configure(kTag, 45);
    t.Zeiger[0] = 100;
    t.Status = 0;
    t.Hdouble[1] = 40;
    t.HLog[24] = t.HLog[26] = t.HLog[27] = 0;  // only the H limit enabled
    db.Cycle();
    EXPECT_EQ(1.0, t.Ist);
    EXPECT_EQ(0x00030000u | ST_ALARM_H, t.Status);
    EXPECT_EQ(0x00030010u | ST_ALARM_H, db[100].Status);  // the alarm travels back to the input

    t.HLog[HLOG_KEEP_ON_FAULT] = 0;  // previous status not 0: substitute bit
    t.Hdouble[8] = -9;
    db.Cycle();
    EXPECT_TRUE(t.Status & ST_SUBST);

    t.Zeiger[0] = 0;
    t.Status = 0x40;
    t.HLog[HLOG_KEEP_ON_FAULT] = 1;
    db.Cycle();
    EXPECT_EQ(0.0, t.Ist);
    EXPECT_EQ(0x40u, t.Status);
}

TEST(CalcCycleFunctions, EnabledIntegrator) {
    Tables db;
    db.sys.takt = 5;
    db.Value(100, 2, 0x80);
    db.Value(101, 1);
    Tags& t = db.Configure(kTag, 47);
    t.Zeiger[0] = 100;
    t.Zeiger[1] = 101;
    t.Hdouble[2] = 0;  // enable was off: the first cycle starts anew
    t.Hdouble[4] = 123;
    db.Cycle();
    EXPECT_EQ(10.0, t.Ist);
    EXPECT_EQ(0x80u, t.Status);
    db.Cycle();
    EXPECT_EQ(20.0, t.Ist);
    db[101].Ist = 0;  // gate closed: held
    db.Cycle();
    EXPECT_EQ(20.0, t.Ist);
    EXPECT_EQ(0x80u | ST_GATE_OFF, t.Status);
    db[100].Ist = kNan;  // NaN counts 0, irregular
    db[101].Ist = 0.5;
    db.Cycle();
    EXPECT_EQ(20.0, t.Ist);
    EXPECT_EQ(0x80u | ST_IRREGULAR, t.Status);
    db[100].Ist = 1;
    db[101].Ist = 1;  // 0.5 -> 1 is not a rising edge from 0 or below
    db.Cycle();
    EXPECT_EQ(25.0, t.Ist);
    t.Zeiger[0] = 0;
    db.Cycle();
    EXPECT_EQ(0.0, t.Ist);
    EXPECT_EQ(0.0, t.Hdouble[4]);
}

// Statistics collect every cycle and report at their own period (Hint[9]).
TEST(CalcCycleFunctions, IntervalStatistics) {
    Tables db;
    db.sys.takt = 5;
    db.Value(100, 0, 0x80);
    db.Value(101, 0);
    const int first = 20;
    for (int fkt = 50; fkt <= 55; ++fkt) {
        Tags& t = db.Configure(first + fkt - 50, fkt);
        t.Zeiger[0] = 100;
        t.Zeiger[1] = 101;
        t.Hint[9] = 15;
        t.Hdouble[0] = fkt == 51 ? kMax : (fkt == 52 ? -kMax : 0.0);
        t.Status = 0;
        t.Mittel = -1;
    }
    const double xs[] = {1, 5, 3};
    const double ys[] = {2, 10, 6};
    for (int k = 0; k < 3; ++k) {
        db[100].Ist = xs[k];
        db[101].Ist = ys[k];
        db.Cycle(5 + 5 * k);  // seconds 5, 10, 15: due at 15
        if (k < 2) {
            EXPECT_EQ(-1.0, db[first].Mittel);
        }
    }
    EXPECT_EQ(3.0, db[first].Ist);  // mean
    EXPECT_EQ(3.0, db[first].Mittel);
    EXPECT_EQ(0x80u, db[first].Status);
    EXPECT_EQ(1.0, db[first + 1].Ist);  // minimum
    EXPECT_EQ(0x80u, db[first + 1].Status);
    EXPECT_EQ(kMax, db[first + 1].Hdouble[0]);
    EXPECT_EQ(5.0, db[first + 2].Ist);  // maximum
    EXPECT_EQ(45.0, db[first + 3].Ist);  // integral: 9 * 5 s
    EXPECT_EQ(-1.0, db[first + 3].Mittel);  // the integral leaves Mittel alone
    EXPECT_TRUE(SameValue(std::sqrt(8.0 / 3.0), db[first + 4].Ist));  // standard deviation
    EXPECT_TRUE(SameValue(1.0, db[first + 5].Ist));  // y = 2x: correlation 1
    for (int k = 0; k < 6; ++k) {
        EXPECT_TRUE(std::isnan(db[first + k].Summe)) << "no interval sums for " << 50 + k;
    }

    // A missing input resets.
    for (int fkt = 50; fkt <= 55; ++fkt) db[first + fkt - 50].Zeiger[0] = 0;
    db.Cycle(20);
    EXPECT_EQ(0.0, db[first].Ist);
    EXPECT_EQ(kMax, db[first + 1].Ist);
    EXPECT_EQ(-kMax, db[first + 2].Mittel);
    EXPECT_EQ(0.0, db[first + 5].Mittel);
}

TEST(CalcCycleFunctions, Expressions) {
    struct Expr {
        const char* what;
        int fkt;
        std::vector<std::optional<double>> inputs;
        const char* ops;
        double ist;
    };
    const Expr cases[] = {
        {"61 a + b * c", 61, {2, 3, 4}, "+*", 14},
        {"61 a - b * c", 61, {20, 3, 4}, "-*", 8},
        {"61 a * b + c", 61, {2, 3, 4}, "*+", 10},
        {"61 a / b - c", 61, {12, 3, 4}, "/-", 0},
        {"61 a - b - c", 61, {10, 3, 2}, "--", 5},
        {"61 skips invalid references", 61, {2, std::nullopt, 3}, "+?+", 5},
        {"61 one input gives no value", 61, {2}, "+", kNan},
        {"61 maximum", 61, {2, 7}, "V", 7},
        {"61 minimum", 61, {2, 7}, "&", 2},
        {"62 left to right", 62, {2, 3, 4}, "+*", 20},
        {"62 maximum and minimum", 62, {2, 7, 5}, "V&", 5},
        {"62 unknown operator skips", 62, {2, 3, 4}, "x-", -2},
    };
    for (const Expr& e : cases) {
        SCOPED_TRACE(e.what);
        Tables db;
        Tags& t = db.Configure(kTag, e.fkt);
        std::memset(t.HLog, 0, 5);
        for (size_t k = 0; k < std::strlen(e.ops); ++k) t.HLog[k] = static_cast<uint8_t>(e.ops[k]);
        for (size_t k = 0; k < e.inputs.size(); ++k) {
            if (!e.inputs[k]) continue;
            db.Value(100 + static_cast<int>(k), *e.inputs[k], 1u << k);
            t.Zeiger[k] = 100 + static_cast<int>(k);
        }
        db.Cycle();
        EXPECT_TRUE(SameValue(e.ist, t.Ist));
    }
    Tables db;  // status: OR of the inputs; 62 without a first input has no status
    Tags& t = db.Configure(kTag, 62);
    t.HLog[0] = '+';
    db.Value(101, 1, 0x10);
    t.Zeiger[1] = 101;
    db.Cycle();
    EXPECT_EQ(ST_NONE, t.Status);
    t.Fkt = 61;
    t.Zeiger[0] = 101;
    db.Cycle();
    EXPECT_EQ(0x10u, t.Status);
}

TEST(CalcCycleSubstitutes, ErsatzwerteKinds) {
    struct Sub {
        const char* what;
        int32_t kind;
        int fkt;
        uint8_t in_service, keep;
        uint32_t tag_status, word;
        int32_t result;
        double ist;
        uint32_t tag_status_after, word_after;
    };
    const Sub cases[] = {
        {"switched off", 1, 3, 0, 1, 0x1, 0x1, 1, 9, 0x1 | ST_OFF, 0x1 | ST_OFF},
        {"fault replaced", 1, 3, 1, 0, 0x8, 0, 2, 8, 0x8 | ST_SUBST, ST_SUBST},
        {"fault kept", 1, 3, 1, 1, 0x8, 0, 0, 1, 0x8, 0},
        {"bits outside the fault mask", 1, 3, 1, 0, 0x4, 0, 0, 1, 0x4, 0},
        {"alarm tags untouched", 1, 100, 0, 0, 0x8, 0, 0, 1, 0x8, 0},
        {"kind 2 tests the word", 2, 100, 1, 0, 0, 0x8, 2, 8, ST_SUBST, 0x8 | ST_SUBST},
        {"kind 2 good word", 2, 3, 1, 0, 0x8, 0, 0, 1, 0x8, 0},
        {"unknown kind", 3, 3, 0, 0, 0, 0, 255, 1, 0, 0},
    };
    for (const Sub& s : cases) {
        SCOPED_TRACE(s.what);
        Tags tag{};
        tag.Fkt = s.fkt;
        tag.Ist = 1;
        tag.Hdouble[8] = 8;
        tag.Hdouble[9] = 9;
        tag.HLog[HLOG_IN_SERVICE] = s.in_service;
        tag.HLog[HLOG_KEEP_ON_FAULT] = s.keep;
        tag.Status = s.tag_status;
        uint32_t word = s.word;
        EXPECT_EQ(s.result, VelmoErsatzwerte(s.kind, &word, &tag));
        EXPECT_EQ(s.ist, tag.Ist);
        EXPECT_EQ(s.tag_status_after, tag.Status);
        EXPECT_EQ(s.word_after, word);
    }
}

TEST(CalcCycleSubstitutes, SwitchedOffTagShowsSubstituteEveryCycle) {
    Tables db;
    db.Value(100, 5);
    Tags& t = db.Configure(kTag, 10);
    t.Zeiger[0] = 100;
    t.HLog[HLOG_IN_SERVICE] = 0;
    t.Hdouble[9] = -3;
    for (int k = 0; k < 2; ++k) {
        db.Cycle();
        EXPECT_EQ(-3.0, t.Ist);
        EXPECT_EQ(ST_OFF, t.Status);
    }
    EXPECT_EQ(-6.0, t.Summe);  // the substitute is what is summed

    // A faulty input replaced by Hdouble[8] unless the tag keeps its value.
    t.HLog[HLOG_IN_SERVICE] = 1;
    t.HLog[HLOG_KEEP_ON_FAULT] = 0;
    t.Hdouble[8] = 42;
    db[100].Status = ST_EXPIRED;
    db.Cycle();
    EXPECT_EQ(42.0, t.Ist);
    EXPECT_EQ(ST_EXPIRED | ST_SUBST, t.Status);
}

TEST(CalcCycleSums, SumsCountEveryValueButNaNAndStatistics) {
    Tables db;
    db.Value(100, 2);
    Tags& copy = db.Configure(kTag, 10);
    copy.Zeiger[0] = 100;
    Tags& stat = db.Configure(kTag + 1, 50);
    stat.Zeiger[0] = 100;
    stat.Hint[9] = 3600;
    Tags& gone = db.Configure(kTag + 2, 10);
    gone.Zeiger[0] = 101;
    db.Value(101, kNan);
    db.Cycle();
    db[100].Ist = 4;
    db.Cycle();
    EXPECT_EQ(6.0, copy.Summe);
    EXPECT_EQ(2.0, copy.Anz);
    EXPECT_TRUE(std::isnan(stat.Summe));
    EXPECT_EQ(0.0, stat.Anz);
    EXPECT_TRUE(std::isnan(gone.Summe));
    EXPECT_EQ(0.0, gone.Anz);
}

TEST(CalcCycleSums, CycleCounterAndOrderOfEvaluation) {
    Tables db;
    db.sys.anzahl = 0x7FFFFFFF;  // wraps instead of overflowing
    db.Value(50, 1);
    Tags& low = db.Configure(40, 10);  // reads tag 50 (computed later)
    low.Zeiger[0] = 60;
    Tags& source = db.Configure(50, 10);
    source.Zeiger[0] = 51;
    db.Value(51, 7);
    Tags& high = db.Configure(60, 10);  // reads tag 50 (computed earlier)
    high.Zeiger[0] = 50;
    db.Cycle();
    EXPECT_EQ(static_cast<int32_t>(0x80000000u), db.sys.anzahl);
    EXPECT_EQ(7.0, high.Ist);  // this cycle's value of a lower tag
    EXPECT_EQ(777.0, low.Ist);  // last cycle's value of a higher tag
    db.Cycle();
    EXPECT_EQ(7.0, low.Ist);
}

TEST(CalcCycleExpiry, RawValuesExpireAfterTheirValidity) {
    Tables db;
    const uint32_t written = calc_test::kDayEpoch;
    Rohwerte& r = db.Raw(1, 3.5, 0x10);
    r.WriteTime = written;
    r.ValidUntil = written + 10;
    std::strcpy(r.Info, "kWh");
    Rohwerte& forever = db.Raw(2, 1.0);
    Rohwerte& zero = db.Raw(3, 1.0);
    zero.ValidUntil = 0;  // expired long ago
    db.Cycle(0, calc_test::UtcDays(written + 10));
    EXPECT_EQ(3.5, r.Ist);  // at its last valid second
    db.Cycle(0, calc_test::UtcDays(written + 11));
    EXPECT_TRUE(std::isnan(r.Ist));
    EXPECT_EQ(ST_EXPIRED, r.Status);
    EXPECT_EQ(QX_VALID_FOREVER, r.ValidUntil);
    EXPECT_EQ(written, r.WriteTime);
    EXPECT_EQ(std::string(16, '\0'), std::string(r.Info, 16));
    EXPECT_EQ(1.0, forever.Ist);
    EXPECT_TRUE(std::isnan(zero.Ist));
    uint64_t bits;
    std::memcpy(&bits, &r.Ist, sizeof bits);
    EXPECT_EQ(~uint64_t{0}, bits);  // the system's one NaN pattern
}

TEST(CalcCycleExpiry, DamagedSystemRecordStaysInsideTheTables) {
    Tables db;
    db.sys.n_tag = 1 << 30;
    db.sys.n_roh = 1 << 30;
    Tags& t = db.Configure(kTag, 10);
    t.Zeiger[0] = 5000;  // beyond the table although below n_tag
    db.Cycle();
    EXPECT_EQ(777.0, t.Ist);
}

}  // namespace
