// Switching, timing and actuator formulas, driven through VelmoFormel the way
// the cycle calls it, with the seconds since boot and the clock set by hand
// and the shell replaced by a recorder.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "calc_formulas_cases.hpp"
#include "formula_families.hpp"
#include "formulas_switching.hpp"

namespace {

using calc::kNan;
using calc_test::Evaluate;
using calc_test::FormulaTag;
using calc_test::ManualClock;
using calc_test::Recorder;
using calc_test::SameValue;
using calc_test::Tables;

constexpr int kSelf = 100;

TEST(CalcFormulasSwitching, EveryNumberOfTheFamilyIsDispatched) {
    for (int number : {2, 3, 21, 31, 33, 36, 40, 504, 510}) EXPECT_NE(nullptr, calc::FindFormula(number)) << number;
}

// ---- Two-point switch (2, 3) -------------------------------------------------------------------

constexpr int kMeasured = 10, kCounter = 11, kMaximum = 12, kOutput = 5;

// A switch on tag kSelf after the start-up reset: thresholds 10 and 20,
// raw output 5, no mean, the given delays.
Tags& Switch(Tables& db, int number, double on_delay, double off_delay) {
    Tags& t = FormulaTag(db, kSelf, number);
    t.Zeiger[0] = kMeasured;
    t.Zeiger[1] = kCounter;
    t.Zeiger[2] = kMaximum;
    t.Hdouble[0] = 10;
    t.Hdouble[1] = 20;
    t.Hdouble[2] = kOutput;
    t.Hdouble[3] = 0;
    t.Hdouble[4] = on_delay;
    t.Hdouble[5] = off_delay;
    db.Value(kMeasured, 15.0, ST_ALARM_L);
    db.Value(kCounter, kNan);
    db.Value(kMaximum, 0.0);
    Rohwerte& out = db.Raw(kOutput, 0.0, ST_EXPIRED);
    out.WriteTime = 123;
    Recorder quiet;
    InitVelmoFormel(&db.sys, db.tags.data());
    return t;
}

struct SwitchStep {
    const char* what;
    long uptime;
    double value;
    double output;
    int32_t on_timer, off_timer;
    double switch_ons;  // Z1
};

void RunSteps(Tables& db, const std::vector<SwitchStep>& steps) {
    Tags& t = db[kSelf];
    for (const SwitchStep& s : steps) {
        SCOPED_TRACE(s.what);
        ManualClock::Uptime() = s.uptime;
        db[kMeasured].Ist = s.value;
        const calc_test::Outcome out = Evaluate(db, kSelf);
        EXPECT_EQ(s.output, out.value);
        EXPECT_EQ(ST_ALARM_L, out.status) << "status of the measured tag";
        EXPECT_EQ(s.on_timer, t.Hint[0]);
        EXPECT_EQ(s.off_timer, t.Hint[1]);
        EXPECT_TRUE(SameValue(s.switch_ons, db[kCounter].Ist));
        EXPECT_EQ(s.output, db.roh[kOutput].Ist) << "raw output";
    }
}

TEST(CalcFormulasSwitching, SwitchOnDelayZeroActsInTheNextSecond) {
    ManualClock clock;
    Tables db;
    Tags& t = Switch(db, 2, 0, 3);
    RunSteps(db,
             {
                 {"idle", 999, 15, 0, 0, 0, kNan},
                 {"low value starts the on-timer", 1000, 5, 0, 1000, 0, kNan},
                 {"same second: not yet", 1000, 5, 0, 1000, 0, kNan},
                 {"next second: on, counted", 1001, 5, 1, 0, 0, 1},
                 {"still low: no second timer", 1006, 5, 1, 0, 0, 1},
                 {"high value starts the off-timer", 1010, 25, 1, 0, 1013, 1},
                 {"deadline second: still on", 1013, 25, 1, 0, 1013, 1},
                 {"off", 1014, 25, 0, 0, 0, 1},
             });
    EXPECT_EQ(1, t.Hint[5]) << "switch-offs";
    EXPECT_EQ(1.0, t.Hdouble[8]) << "off demanded";
    EXPECT_EQ(ST_EXPIRED, db.roh[kOutput].Status) << "status of the raw output untouched";
    EXPECT_EQ(123u, db.roh[kOutput].WriteTime);
}

TEST(CalcFormulasSwitching, PendingSwitchOnBlocksTheOffDelay) {
    ManualClock clock;
    Tables db;
    Switch(db, 2, 10, 3);
    RunSteps(db,
             {
                 {"low value", 1000, 5, 0, 1010, 0, kNan},
                 {"high while the on-timer runs", 1005, 25, 0, 1010, 0, kNan},
                 {"on; now the off-delay starts", 1011, 25, 1, 0, 1014, 1},
                 {"off after the off-delay", 1015, 25, 0, 0, 0, 1},
             });
}

TEST(CalcFormulasSwitching, MinimumOnTimeSwitchesOnAtOnce) {
    ManualClock clock;
    Tables db;
    Tags& t = Switch(db, 3, 10, 3);
    RunSteps(db,
             {
                 {"low value: on and counted at once", 1000, 5, 1, 1010, 0, 1},
                 {"high during the minimum on-time", 1005, 25, 1, 1010, 0, 1},
                 {"minimum time over: off-delay starts", 1011, 25, 1, 0, 1014, 1},
                 {"off", 1015, 25, 0, 0, 0, 1},
                 {"low again: on, counted again", 1020, 5, 1, 1030, 0, 2},
             });
    EXPECT_EQ(1, t.Hint[5]);
}

TEST(CalcFormulasSwitching, SwitchReferenceRules) {
    ManualClock clock;
    Tables db;
    Tags& t = Switch(db, 2, 0, 0);
    // The highest tag number is no measured value: status ST_CONFIG, input 0 switches.
    t.Zeiger[0] = QX_N_TAG;
    t.Zeiger[1] = QX_N_TAG;
    db.Value(QX_N_TAG, 5.0, ST_ALARM_H);
    calc_test::Outcome out = Evaluate(db, kSelf);
    EXPECT_EQ(ST_CONFIG, out.status);
    EXPECT_EQ(1000, t.Hint[0]);
    clock.Advance(1);
    out = Evaluate(db, kSelf);
    EXPECT_EQ(1.0, out.value);
    EXPECT_EQ(5.0, db[QX_N_TAG].Ist) << "the highest tag is no counter either";

    // No raw output: H2 NaN, or the last raw number.
    for (double number : {kNan, double(QX_N_ROH)}) {
        db.Raw(QX_N_ROH, 7.0);
        t.Hdouble[2] = number;
        Evaluate(db, kSelf);
        EXPECT_EQ(7.0, db.roh[QX_N_ROH].Ist);
    }
}

TEST(CalcFormulasSwitching, SwitchOnTheRunningMean) {
    ManualClock clock;
    Tables db;
    Tags& t = Switch(db, 2, 0, 0);
    Tags& z0 = db[kMeasured];
    t.Hdouble[3] = 1.0;
    z0.Ist = 50;  // the value itself would demand "off"
    z0.Summe = 20;
    z0.Anz = 4;
    Evaluate(db, kSelf);
    EXPECT_EQ(5.0, t.Hdouble[6]);
    EXPECT_EQ(1000, t.Hint[0]) << "the mean 5 is low";

    z0.Anz = 0;  // nothing summed: the value, H6 kept
    z0.Ist = 15;
    Evaluate(db, kSelf);
    EXPECT_EQ(5.0, t.Hdouble[6]);

    t.Hdouble[3] = 0;
    Evaluate(db, kSelf);
    EXPECT_TRUE(std::isnan(t.Hdouble[6]));
}

TEST(CalcFormulasSwitching, IntervalMaximumFollowsTheQuarterHour) {
    ManualClock clock;
    Tables db;
    db.sys.inter = 900;
    Switch(db, 2, 0, 0);
    struct Step {
        int sec;
        long uptime;
        double value;
        double output, maximum;
    };
    const Step steps[] = {
        {1000, 1000, 15, 0, 0},  // from -1 to the output
        {1005, 1001, 5, 0, 0},   // on-timer starts
        {1010, 1002, 5, 1, 1},   // on
        {1015, 1003, 25, 1, 1},  // off-timer starts
        {1020, 1004, 25, 0, 1},  // off, the maximum stays
        {1795, 1005, 25, 0, 1},
        {1800, 1006, 25, 0, 0},  // next quarter hour: the output of that cycle
    };
    for (const Step& s : steps) {
        ManualClock::Uptime() = s.uptime;
        db[kMeasured].Ist = s.value;
        EXPECT_EQ(s.output, Evaluate(db, kSelf, s.sec).value) << s.sec;
        EXPECT_EQ(s.maximum, db[kMaximum].Ist) << s.sec;
        EXPECT_EQ(s.maximum, db[kSelf].Hint[2]) << s.sec;
    }
}

// The cycle reaches the switch with Fkt 60 and filled inputs; the raw output follows.
TEST(CalcFormulasSwitching, SwitchInTheCycle) {
    ManualClock clock;
    Tables db;
    Tags& t = Switch(db, 2, 0, 0);
    db[kMeasured].Ist = 5;
    db.Cycle();
    EXPECT_EQ(0.0, t.Ist);
    clock.Advance(5);
    db.Cycle();
    EXPECT_EQ(1.0, t.Ist);
    EXPECT_EQ(1.0, db.roh[kOutput].Ist);
    EXPECT_EQ(ST_ALARM_L, t.Status);
}

// ---- SekHeute and formula 21 -------------------------------------------------------------------

TEST(CalcFormulasSwitching, SecondOfTheDayRounded) {
    ManualClock clock;
    struct Case {
        int h, m, s, n, expected;
    };
    const Case cases[] = {
        {12, 0, 2, 5, 43200}, {12, 0, 3, 5, 43205}, {12, 0, 2, 1, 43202}, {12, 0, 2, 0, 0}, {23, 59, 58, 5, 86400},
    };
    for (const Case& c : cases) {
        clock.SetTimeOfDay(c.h, c.m, c.s);
        EXPECT_EQ(c.expected, SekHeute(c.n)) << c.h << ":" << c.m << ":" << c.s << " n " << c.n;
    }
}

TEST(CalcFormulasSwitching, DelayedPassThroughAcrossMidnight) {
    ManualClock clock;
    Tables db;
    Tags& t = FormulaTag(db, kSelf, 21);
    Tags& in0 = db.Value(10, 1.0);
    db.Value(11, 10.0);  // minutes
    t.Zeiger[0] = 10;
    t.Zeiger[1] = 11;
    t.Ist = 0;
    struct Step {
        const char* what;
        long day_second;  // from the first day's midnight
        double in0;
        double value;
        double h0;
    };
    const Step steps[] = {
        {"start at 23:55", 86100, 1, 0, 86700},
        {"waiting before midnight", 86395, 1, 0, 86700},
        {"first seconds after midnight", 86400, 1, 0, 300},
        {"00:04:55", 86400 + 295, 1, 0, 300},
        {"00:05:00 passes", 86400 + 300, 1, 1, 300},
        {"in 0 drops: idle", 86400 + 305, 0, 0, 300},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        ManualClock::Epoch() = calc_test::kDayEpoch + s.day_second;
        in0.Ist = s.in0;
        const calc_test::Outcome out = Evaluate(db, kSelf);
        EXPECT_EQ(s.value, out.value);
        EXPECT_EQ(0u, out.status);
        EXPECT_EQ(s.h0, t.Hdouble[0]);
        EXPECT_EQ(static_cast<double>(s.day_second % 86400), t.Hdouble[4]);
    }
    EXPECT_EQ(0.0, t.Hdouble[6]) << "cleared when idle";
    EXPECT_EQ(0.0, t.Hdouble[7]);
}

TEST(CalcFormulasSwitching, DelayedPassThroughFreshTagAndMissingReferences) {
    ManualClock clock;
    clock.SetTimeOfDay(8, 0, 0);
    Tables db;
    Tags& t = FormulaTag(db, kSelf, 21);
    Tags& in0 = db.Value(10, 1.0);
    db.Value(11, 0.0);
    t.Zeiger[0] = 10;
    t.Zeiger[1] = 11;
    for (double& h : t.Hdouble) h = kNan;
    t.Ist = 5.0;
    EXPECT_EQ(5.0, Evaluate(db, kSelf).value) << "fresh tag keeps its value";
    EXPECT_EQ(5.0, Evaluate(db, kSelf).value);
    in0.Ist = 0;
    EXPECT_EQ(0.0, Evaluate(db, kSelf).value);
    in0.Ist = 1;
    EXPECT_EQ(0.0, Evaluate(db, kSelf).value) << "start";
    EXPECT_EQ(1.0, Evaluate(db, kSelf).value) << "no delay: passes";

    t.Zeiger[1] = 0;
    clock.SetTimeOfDay(8, 0, 7);
    const calc_test::Outcome out = Evaluate(db, kSelf);
    EXPECT_EQ(0.0, out.value);
    EXPECT_EQ(3u, out.status);
    EXPECT_EQ(28805.0, t.Hdouble[4]) << "H4 is set in every case";
}

// ---- Actuators (31, 33) ------------------------------------------------------------------------

TEST(CalcFormulasSwitching, TwoCoilActuatorHoldsTheCoilTwoCycles) {
    Tables db;
    Tags& t = FormulaTag(db, kSelf, 31, 6);
    for (int k = 0; k < 5; ++k) t.Hdouble[k] = k + 1;  // K=1 J=2 V=3 W=4 X=5
    t.Hdouble[5] = kNan;
    t.Hdouble[7] = kNan;
    Rohwerte& k = db.Raw(1, 0, ST_EXPIRED);
    Rohwerte& j = db.Raw(2, 0, ST_EXPIRED);
    db.Raw(3, 0);  // feedback of K stays 0
    Rohwerte& w = db.Raw(4, 0, ST_ALARM_H);
    db.Raw(5, 1.0);  // ready
    j.WriteTime = 1000;
    t.Ist = 1.0;

    struct Step {
        const char* what;
        double command;  // written from outside before the cycle (NaN: none)
        double w_feedback;
        double value, k, j;
        uint32_t status;
    };
    const Step steps[] = {
        {"fresh tag releases first", kNan, 0, -1, 0, 0, ST_ALARM_H},
        {"command 1 executes", 1, 0, 1, 0, 1, ST_ALARM_H | ST_FEEDBACK},
        {"held, feedback matches", kNan, 1, 1, 0, 1, ST_ALARM_H},
        {"released", kNan, 1, -1, 0, 0, ST_ALARM_H | ST_FEEDBACK},
        {"ready, no command", kNan, 0, -1, 0, 0, ST_ALARM_H},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        if (!std::isnan(s.command)) t.Ist = s.command;
        w.Ist = s.w_feedback;
        const calc_test::Outcome out = Evaluate(db, kSelf);
        EXPECT_EQ(s.value, out.value);
        EXPECT_EQ(s.k, k.Ist);
        EXPECT_EQ(s.j, j.Ist);
        EXPECT_EQ(s.status, out.status);
        EXPECT_EQ(0u, k.Status);
        EXPECT_EQ(0u, j.Status);
    }

    // Command 0 drives K; a write of R(J) by a link releases one cycle early.
    t.Ist = 0;
    Evaluate(db, kSelf);
    EXPECT_EQ(1.0, k.Ist);
    EXPECT_EQ(0.0, j.Ist);
    j.WriteTime = 2000;
    EXPECT_EQ(-1.0, Evaluate(db, kSelf).value);
    EXPECT_EQ(0.0, k.Ist);

    // Not ready.
    db.roh[5].Ist = 0;
    EXPECT_NE(0u, Evaluate(db, kSelf).status & ST_NOTREADY);
}

TEST(CalcFormulasSwitching, TwoCoilActuatorWithAnInvalidNumberExecutesNothing) {
    Tables db;
    Tags& t = FormulaTag(db, kSelf, 31, 6);
    for (int k = 0; k < 5; ++k) t.Hdouble[k] = k + 1;
    t.Hdouble[3] = QX_N_ROH;  // W not valid
    t.Hdouble[4] = kNan;      // no ready input
    t.Hdouble[5] = 0;
    t.Hdouble[7] = 0;
    db.Raw(1, 0);
    db.Raw(2, 0).WriteTime = 0;
    t.Ist = 1;
    const calc_test::Outcome out = Evaluate(db, kSelf);
    EXPECT_EQ(1.0, out.value);
    EXPECT_EQ(0u, out.status);
    EXPECT_EQ(0.0, db.roh[2].Ist);
}

TEST(CalcFormulasSwitching, OneCoilActuatorReleasedByAForeignWrite) {
    Tables db;
    Tags& t = FormulaTag(db, kSelf, 33, 6);
    t.Hdouble[0] = 1;  // coil
    t.Hdouble[2] = 2;  // feedback
    t.Hdouble[3] = kNan;
    t.Hdouble[4] = kNan;
    t.Hdouble[7] = kNan;
    Rohwerte& coil = db.Raw(1, 0);
    coil.WriteTime = 500;
    Rohwerte& feedback = db.Raw(2, 0.5);
    t.Ist = 1;

    EXPECT_EQ(0.0, Evaluate(db, kSelf).value) << "fresh tag is released first";
    EXPECT_EQ(0.5, t.Hdouble[4]);
    t.Ist = 1;
    EXPECT_EQ(1.0, Evaluate(db, kSelf).value);
    EXPECT_EQ(1.0, coil.Ist);
    feedback.Ist = 1;
    const calc_test::Outcome held = Evaluate(db, kSelf);
    EXPECT_EQ(1.0, held.value);
    EXPECT_EQ(0u, held.status);
    EXPECT_EQ(1.0, t.Hdouble[4]);
    coil.WriteTime = 600;  // written by someone else
    EXPECT_EQ(0.0, Evaluate(db, kSelf).value);
    EXPECT_EQ(0.0, coil.Ist);
    EXPECT_EQ(600.0, t.Hdouble[7]);

    // Without a valid feedback number nothing is switched on.
    t.Hdouble[2] = 0;
    t.Ist = 1;
    EXPECT_EQ(1.0, Evaluate(db, kSelf).value);
    EXPECT_EQ(0.0, coil.Ist);
}

// ---- Enable chain (36) and one-shot command (504) ------------------------------------------------

struct ShellRecorder {
    static std::vector<std::string>& Commands() {
        static std::vector<std::string> commands;
        return commands;
    }
    static std::vector<std::pair<uint32_t, std::string>>& Events() {
        static std::vector<std::pair<uint32_t, std::string>> events;
        return events;
    }
    static int& Result() {
        static int result = 0;
        return result;
    }
    ShellRecorder() {
        Commands().clear();
        Events().clear();
        Result() = 0;
        calc::switching_commands() = calc::SwitchingCommands{
            [](const char* command) {
                Commands().emplace_back(command);
                return Result();
            },
            [](uint32_t number, const char* text) {
                Events().emplace_back(number, text);
                return 0;
            }};
    }
    ~ShellRecorder() { calc::ResetSwitchingCommands(); }
    ShellRecorder(const ShellRecorder&) = delete;
    ShellRecorder& operator=(const ShellRecorder&) = delete;
};

constexpr int kJ = 20, kL = 21, kM = 22, kA = 23, kK = 24;

Tags& EnableChain(Tables& db) {
    Tags& t = FormulaTag(db, kSelf, 36, 6);
    const int refs[] = {kJ, kL, kM, kA, kK};
    for (int k = 0; k < 5; ++k) {
        t.Hdouble[k] = refs[k];
        db.Value(refs[k], kNan);
    }
    return t;
}

TEST(CalcFormulasSwitching, EnableChainRunsTheRestartOnce) {
    ShellRecorder shell;
    Tables db;
    EnableChain(db);
    const std::string command = "start /home/kwz\\Neustart.exe";
    // Nothing set yet: missing flags are read as 0 in their tags.
    EXPECT_EQ(0.0, Evaluate(db, kSelf).value);
    for (int flag : {kJ, kL, kM, kA, kK}) EXPECT_EQ(0.0, db[flag].Ist) << flag;
    struct Step {
        const char* what;
        double j, l;
        int shell_result;
        double value, m, a, k;
        size_t commands;
    };
    const Step steps[] = {
        {"first enable latches", 1, 0, 0, 2, 1, 0, 0, 0},
        {"all set: restart", 1, 5, 0, 8, 1, 1, 1, 1},
        {"done flag holds", 1, 5, 0, 9, 1, 1, 1, 1},
        {"second enable drops", 1, 0, 0, 3, 1, 0, 0, 1},
        {"set again: restart again, which fails", 1, 2, 7, 5, 1, 1, 1, 2},
        {"first enable drops", 0, 2, 0, 4, 0, 1, 0, 2},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        if (!std::isnan(s.j)) db[kJ].Ist = s.j;
        if (!std::isnan(s.l)) db[kL].Ist = s.l;
        ShellRecorder::Result() = s.shell_result;
        const calc_test::Outcome out = Evaluate(db, kSelf);
        EXPECT_EQ(s.value, out.value);
        EXPECT_EQ(0u, out.status);
        EXPECT_EQ(s.m, db[kM].Ist);
        EXPECT_EQ(s.a, db[kA].Ist);
        EXPECT_EQ(s.k, db[kK].Ist);
        EXPECT_EQ(s.commands, ShellRecorder::Commands().size());
    }
    const std::vector<std::string> commands{command, command};
    EXPECT_EQ(commands, ShellRecorder::Commands());
    const std::vector<std::pair<uint32_t, std::string>> events{
        {0x61000001u, command},
        {0x61000001u, "Neustart erfolgreich"},
        {0x61000001u, command},
        {0xE100000Au, "Neustart fehlgeschlagen!"},
    };
    EXPECT_EQ(events, ShellRecorder::Events());
}

TEST(CalcFormulasSwitching, EnableChainReferenceRules) {
    ShellRecorder shell;
    for (int slot = 0; slot < 4; ++slot) {  // -1 in J, L, M or A: no value, nothing touched
        Tables db;
        Tags& t = EnableChain(db);
        db[kJ].Ist = 1;
        db[kL].Ist = 1;
        t.Hdouble[slot] = -1;
        const calc_test::Outcome out = Evaluate(db, kSelf);
        EXPECT_TRUE(std::isnan(out.value)) << slot;
        EXPECT_TRUE(std::isnan(db[kK].Ist)) << slot;
        EXPECT_TRUE(std::isnan(db[kM].Ist)) << slot;
    }
    {
        Tables db;  // J out of range: counts as 0, M untouched, the done flag cleared
        Tags& t = EnableChain(db);
        t.Hdouble[0] = QX_N_TAG + 1;
        db[kL].Ist = 1;
        db[kM].Ist = 1;
        db[kK].Ist = 1;
        EXPECT_EQ(0.0 + 1 + 0 + 1 + 1, Evaluate(db, kSelf).value);
        EXPECT_EQ(1.0, db[kM].Ist);
        EXPECT_EQ(0.0, db[kK].Ist);
    }
    {
        Tables db;  // no done flag: nothing could stop a repeat, so no restart
        Tags& t = EnableChain(db);
        t.Hdouble[4] = 0;
        db[kJ].Ist = 1;
        db[kL].Ist = 1;
        EXPECT_EQ(4.0, Evaluate(db, kSelf).value);
        EXPECT_EQ(4.0, Evaluate(db, kSelf).value);
    }
    EXPECT_TRUE(ShellRecorder::Commands().empty());
}

TEST(CalcFormulasSwitching, OneShotCommand) {
    ShellRecorder shell;
    Tables db;
    Tags& t = FormulaTag(db, kSelf, 504, 6);
    t.Hdouble[0] = 1;
    ShellRecorder::Result() = 1;  // not used
    calc_test::Outcome out = Evaluate(db, kSelf);
    EXPECT_EQ(0.0, out.value);
    EXPECT_EQ(0u, out.status);
    EXPECT_EQ(0.0, t.Hdouble[0]);
    Evaluate(db, kSelf);
    t.Hdouble[0] = 2;
    Evaluate(db, kSelf);
    EXPECT_EQ(std::vector<std::string>{"start dir c:\\velmont\\*.*"}, ShellRecorder::Commands());
    EXPECT_TRUE(ShellRecorder::Events().empty());
}

// ---- Debounce (40) ------------------------------------------------------------------------------

TEST(CalcFormulasSwitching, DebounceTakesOverAStableSample) {
    Tables db;
    Tags& t = FormulaTag(db, kSelf, 40, 6);
    t.Hdouble[0] = 3;
    t.Hdouble[1] = 2;  // every second cycle a sample
    t.Hdouble[2] = 3;  // three equal samples
    t.Hint[0] = -1;    // never evaluated
    t.Ist = 0;
    Rohwerte& raw = db.Raw(3, 1);
    struct Step {
        double raw;
        double value;
        int32_t cycles, equal, last;
    };
    const Step steps[] = {
        {1, 0, 1, 0, 1},  // reset takes the first sample as the last one
        {1, 0, 0, 1, 1}, {1, 0, 1, 1, 1}, {1, 0, 0, 2, 1}, {0, 0, 1, 2, 1},
        {1, 1, 0, 0, 1},  // third equal sample: taken over
        {0, 1, 1, 0, 1}, {0, 1, 0, 0, 0},  // a different sample restarts the count
        {1, 1, 1, 0, 0}, {0, 1, 0, 1, 0}, {0, 1, 1, 1, 0}, {0, 1, 0, 2, 0}, {0, 1, 1, 2, 0},
        {0, 0, 0, 0, 0},
    };
    int n = 0;
    for (const Step& s : steps) {
        raw.Ist = s.raw;
        const calc_test::Outcome out = Evaluate(db, kSelf);
        EXPECT_EQ(s.value, out.value) << "step " << n;
        EXPECT_EQ(0, t.Hint[0]) << "step " << n;
        EXPECT_EQ(s.cycles, t.Hint[1]) << "step " << n;
        EXPECT_EQ(s.equal, t.Hint[2]) << "step " << n;
        EXPECT_EQ(s.last, t.Hint[3]) << "step " << n;
        ++n;
    }

    // A marker set from outside resets the counting.
    t.Hint[0] = 1;
    t.Hint[2] = 2;
    raw.Ist = 1;
    Evaluate(db, kSelf);
    EXPECT_EQ(0, t.Hint[0]);
    EXPECT_EQ(1, t.Hint[1]);
    EXPECT_EQ(0, t.Hint[2]);
    EXPECT_EQ(1, t.Hint[3]);
}

TEST(CalcFormulasSwitching, DebounceWithoutParameters) {
    Tables db;
    Tags& t = FormulaTag(db, kSelf, 40, 6);
    t.Hdouble[0] = 3;
    t.Hdouble[1] = kNan;
    t.Hdouble[2] = 3;
    t.Hint[1] = 4;
    t.Hint[2] = 2;
    db.Raw(3, 7.9);
    EXPECT_TRUE(std::isnan(Evaluate(db, kSelf).value));
    EXPECT_EQ(0, t.Hint[1]);
    EXPECT_EQ(0, t.Hint[2]);
    EXPECT_EQ(7, t.Hint[3]);
    t.Hdouble[0] = QX_N_ROH;  // not a valid number: nothing read
    t.Hdouble[1] = 1;
    EXPECT_TRUE(std::isnan(Evaluate(db, kSelf).value));
    EXPECT_EQ(0, t.Hint[3]);
}

// ---- Pulse output (510) -------------------------------------------------------------------------

TEST(CalcFormulasSwitching, PulseOutputHoldsForTheReloadedCycles) {
    Tables db;
    Tags& t = FormulaTag(db, kSelf, 510, 6);
    t.Hdouble[0] = QX_N_ROH;  // the last raw value is a valid output here
    t.Hdouble[1] = 0;         // a completed pulse
    t.Hdouble[2] = 3;
    Rohwerte& out = db.Raw(QX_N_ROH, 0.5, ST_EXPIRED);
    out.WriteTime = 99;
    out.ValidUntil = 1234;
    t.Ist = 1;
    EXPECT_EQ(0.0, Evaluate(db, kSelf).value) << "completing: reload";
    EXPECT_EQ(3.0, t.Hdouble[1]);
    EXPECT_EQ(0.0, out.Ist);
    EXPECT_EQ(0u, out.Status);
    EXPECT_EQ(0xFFFFFFFFu, out.WriteTime);
    EXPECT_EQ(0xFFFFFFFFu, out.ValidUntil);

    EXPECT_EQ(0.0, Evaluate(db, kSelf).value) << "no command";
    t.Ist = 1;
    for (int cycle = 0; cycle < 3; ++cycle) {
        const calc_test::Outcome o = Evaluate(db, kSelf);
        EXPECT_EQ(1.0, o.value) << cycle;
        EXPECT_EQ(0u, o.status);
        EXPECT_EQ(1.0, out.Ist) << cycle;
    }
    EXPECT_EQ(0.0, Evaluate(db, kSelf).value);
    EXPECT_EQ(0.0, out.Ist);
    EXPECT_EQ(3.0, t.Hdouble[1]);

    t.Hdouble[0] = kNan;  // no output: nothing happens
    t.Ist = 1;
    out.Ist = 0.5;
    EXPECT_EQ(0.0, Evaluate(db, kSelf).value);
    EXPECT_EQ(0.5, out.Ist);
}

}  // namespace
