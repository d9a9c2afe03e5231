// Time, period and archive formulas through VelmoFormel, on a clock, a zone
// rule and an interval archive of the test's choosing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <numeric>
#include <vector>

#include "archive_source.hpp"
#include "calc_formula_call.hpp"
#include "clock.hpp"
#include "formulas_time.hpp"
#include "qx.h"

namespace {

using calc::kNan;
using calc_test::Evaluate;
using calc_test::FormulaTag;
using calc_test::SameValue;
using calc_test::Tables;
using calc_test::TextOf;

constexpr int kF = 50;    // the formula tag
constexpr int kSrc = 60;  // its source tag

// 2024-03-05 00:00:00 UTC as a Jul time and an epoch second.
constexpr double kMar5 = 45356.0;
constexpr int64_t kMar5Epoch = 1709596800;

double Hms(int h, int m, int s) { return (h * 3600 + m * 60 + s) / 86400.0; }

// Everything a time formula reads from outside: the pass time (zeit_kern),
// the system clock, the zone rule (one hour ahead of UTC, no daylight time),
// the archive and the core's record of archived values.
class TimeBench {
public:
    Tables db;
    calc_test::Recorder recorder{nullptr};

    struct Read {
        double start, end;
    };
    std::vector<Read> reads;
    std::map<int64_t, double> archive;  // epoch second of a slot -> value
    double last_archiv = kNan;

    TimeBench() : saved_zone_(KWZ_TimeZone), saved_clock_(calc::clock_source()), saved_archive_(calc::archive_source()) {
        Active() = this;
        recorder.internal = db.internal.data();
        db.sys.inter = 900;
        std::memset(&KWZ_TimeZone, 0, sizeof KWZ_TimeZone);
        KWZ_TimeZone.Bias = -60;
        calc::clock_source().epoch_now = [] { return static_cast<std::time_t>(Active()->epoch_); };
        calc::archive_source() = calc::ArchiveSource{ReadFake, [] { return Active()->last_archiv; }};
    }
    ~TimeBench() {
        KWZ_TimeZone = saved_zone_;
        calc::clock_source() = saved_clock_;
        calc::archive_source() = saved_archive_;
        Active() = nullptr;
    }
    TimeBench(const TimeBench&) = delete;
    TimeBench& operator=(const TimeBench&) = delete;

    // The pass and the clock at UTC Jul time `utc`; returns its second of the day.
    int At(double utc) {
        db.sys.zeit_kern = utc;
        epoch_ = kMar5Epoch + std::llround((utc - kMar5) * 86400.0);
        return SecondOf(utc);
    }
    static int SecondOf(double utc) { return static_cast<int>(std::llround((utc - std::floor(utc)) * 86400.0)) % 86400; }
    void SetClock(int64_t epoch) { epoch_ = epoch; }

    void Archive(double utc, double value) { archive[kMar5Epoch + std::llround((utc - kMar5) * 86400.0)] = value; }

private:
    static TimeBench*& Active() {
        static TimeBench* active = nullptr;
        return active;
    }
    // Rows from the slot of start through the slot of end, as the store gives
    // them: empty slots NaN, the count up to the last slot that holds a value.
    static int32_t ReadFake(double start, double end, const VelmoSystem* sys, const Tags*, int32_t n,
                            const int32_t*, int32_t* rows, double** values) {
        TimeBench& b = *Active();
        b.reads.push_back({start, end});
        const int inter = sys->inter;
        const double first = TrimTime(inter, start), last = TrimTime(inter, end);
        const double span = (last - first) * 86400.0 / inter;
        // A day at most; anything else (or no number) reads nothing.
        const int slots = std::isfinite(first) && span >= 0.0 && span <= 96.0 ? static_cast<int>(std::llround(span)) + 1 : 0;
        const int capacity = slots + 2;
        *values = static_cast<double*>(std::malloc(sizeof(double) * static_cast<size_t>(capacity * n)));
        std::memset(*values, 0xFF, sizeof(double) * static_cast<size_t>(capacity * n));
        *rows = 0;
        for (int r = 0; r < slots; ++r) {
            const int64_t slot = kMar5Epoch + std::llround((first - kMar5) * 86400.0) + int64_t{r} * inter;
            if (auto it = b.archive.find(slot); it != b.archive.end()) {
                (*values)[r * n] = it->second;
                if (it->second == it->second) *rows = r + 1;
            }
        }
        return 0;
    }

    KWZ_TimeZoneRecord saved_zone_;
    calc::ClockSource saved_clock_;
    calc::ArchiveSource saved_archive_;
    int64_t epoch_ = kMar5Epoch;
};

// ---- 110, 111, 113 -------------------------------------------------------------

TEST(CalcFormulasTime, SecondOfDayInUtcOrLocalTime) {
    TimeBench b;
    const int sec = b.At(kMar5 - Hms(0, 30, 0));  // 23:30 UTC, 00:30 local
    FormulaTag(b.db, kF, 110, {0});
    EXPECT_EQ(0u, Evaluate(b.db, kF, calc_test::NoInputs(), sec));
    EXPECT_EQ(84600.0, b.db[kF].Ist);
    b.db[kF].Hdouble[0] = 1;
    Evaluate(b.db, kF, calc_test::NoInputs(), sec);
    EXPECT_EQ(1800.0, b.db[kF].Ist);
    b.db[kF].Hdouble[0] = kNan;
    Evaluate(b.db, kF, calc_test::NoInputs(), sec);
    EXPECT_EQ(84600.0, b.db[kF].Ist);
}

TEST(CalcFormulasTime, LocalDateOrTimeIntoTheName) {
    TimeBench b;
    const int sec = b.At(kMar5 - Hms(0, 30, 0));
    struct Case {
        double h0, h1;
        const char* name;
        double result;
    } cases[] = {{1, 0, "05.03.2024", 1800}, {1, 1, "00:30:00", 1800}, {1, kNan, "Pumpe", 1800}, {0, 0, "Pumpe", 84600}};
    for (const Case& c : cases) {
        Tags& t = FormulaTag(b.db, kF, 113, {c.h0, c.h1});
        std::memset(t.Bez, 0, sizeof t.Bez);
        std::memcpy(t.Bez, "Pumpe", 5);
        EXPECT_EQ(0u, Evaluate(b.db, kF, calc_test::NoInputs(), sec));
        EXPECT_STREQ(c.name, t.Bez) << c.h0 << " " << c.h1;
        EXPECT_EQ(c.result, t.Ist);
    }
}

TEST(CalcFormulasTime, SystemClockWithLogLine) {
    TimeBench b;
    b.SetClock(1709600000);
    FormulaTag(b.db, kF, 111);
    EXPECT_EQ(0u, Evaluate(b.db, kF));
    EXPECT_EQ(1709600000.0, b.db[kF].Ist);
    ASSERT_EQ(1u, b.recorder.logged.size());
    EXPECT_EQ("ret =1.7096e+09", b.recorder.logged[0].text);
    EXPECT_EQ(PMS_INFO, b.recorder.logged[0].severity);
}

// ---- 101 ------------------------------------------------------------------------

TEST(CalcFormulasTime, RawMinutesSince1980) {
    struct Case {
        double h0, raw;
        uint32_t raw_status;
        double expected;
        uint32_t status;
        const char* text;
    } cases[] = {
        {5, 60, 0, 29221.0 + 60 / 1440.0, 0, "1980.01.01 01:00:00"},
        {5, 60.9, 0x10, 29221.0 + 60 / 1440.0, 0x10, "1980.01.01 01:00:00"},
        {5, 4294967295.0, 0, 29221.0 + 4294967295.0 / 1440.0, 0, nullptr},
        {5, -5, 0, 29221.0, 0, "1980.01.01 00:00:00"},
        {5, kNan, 0x10, 29221.0, 0, "1980.01.01 00:00:00"},
        {4096, 60, 0x10, 29221.0, 0, nullptr},  // n_roh itself is not taken
        {kNan, 60, 0x10, 777.0, ST_CONFIG, "alt"},
    };
    for (const Case& c : cases) {
        Tables db;
        Tags& t = FormulaTag(db, kF, 101, {c.h0, 1});
        calc_test::PutText(t, "alt");
        db.Raw(5, c.raw, c.raw_status);
        db.Raw(4096, c.raw, c.raw_status);
        EXPECT_EQ(c.status, Evaluate(db, kF)) << c.h0 << " " << c.raw;
        EXPECT_TRUE(SameValue(c.expected, t.Ist)) << c.raw;
        if (c.text != nullptr) {
            EXPECT_EQ(c.text, TextOf(t)) << c.raw;
        }
    }
    Tables db;
    Tags& t = FormulaTag(db, kF, 101, {5, 0});  // no text wanted
    calc_test::PutText(t, "alt");
    db.Raw(5, 60);
    Evaluate(db, kF);
    EXPECT_EQ("alt", TextOf(t));
}

// ---- 115, 116 -----------------------------------------------------------------------

// An archived source tag with value 50.
Tags& ArchivedSource(Tables& db) {
    Tags& z = db.Value(kSrc, 50.0);
    z.Arch[0] = 1;
    return z;
}

TEST(CalcFormulasTime, IncreaseReadsTheSlotOnceAQuarterHour) {
    TimeBench b;
    ArchivedSource(b.db);
    Tags& t = FormulaTag(b.db, kF, 115, {3600});
    t.Zeiger[0] = kSrc;
    t.Hdouble[6] = t.Hdouble[7] = kNan;
    b.Archive(kMar5 + Hms(9, 0, 0), 20.0);
    b.Archive(kMar5 + Hms(9, 15, 0), 30.0);

    for (int s : {30, 35, 40, 55, 59}) {  // 10:07:30 .. 10:07:59, then 10:14:59
        const double now = kMar5 + Hms(10, 7, s) + (s == 59 ? Hms(0, 7, 0) : 0.0);
        EXPECT_EQ(0u, Evaluate(b.db, kF, calc_test::NoInputs(), b.At(now)));
        EXPECT_EQ(30.0, t.Ist);
    }
    ASSERT_EQ(1u, b.reads.size());
    EXPECT_TRUE(SameValue(kMar5 + Hms(9, 0, 0), b.reads[0].start));
    EXPECT_EQ(b.reads[0].start, b.reads[0].end);

    Evaluate(b.db, kF, calc_test::NoInputs(), b.At(kMar5 + Hms(10, 15, 0)));
    ASSERT_EQ(2u, b.reads.size());
    EXPECT_EQ(20.0, t.Ist);

    // No archive value: reported in the reading cycle only, counted as 0.
    EXPECT_EQ(ST_NOARCHIVE, Evaluate(b.db, kF, calc_test::NoInputs(), b.At(kMar5 + Hms(10, 30, 0))));
    EXPECT_EQ(50.0, t.Ist);
    EXPECT_EQ(0u, Evaluate(b.db, kF, calc_test::NoInputs(), b.At(kMar5 + Hms(10, 30, 5))));
    EXPECT_EQ(50.0, t.Ist);
    EXPECT_EQ(3u, b.reads.size());
}

TEST(CalcFormulasTime, CycleTimeBeforeMidnightWhenTheClockHasPassedIt) {
    TimeBench b;
    ArchivedSource(b.db);
    Tags& t = FormulaTag(b.db, kF, 115, {900});
    t.Zeiger[0] = kSrc;
    t.Hdouble[6] = kNan;
    b.Archive(kMar5 - Hms(0, 30, 0), 10.0);  // 23:30 the day before
    b.At(kMar5 + Hms(0, 0, 2));              // the clock: 00:00:02
    Evaluate(b.db, kF, calc_test::NoInputs(), 86395);  // the cycle: 23:59:55
    ASSERT_EQ(1u, b.reads.size());
    EXPECT_TRUE(SameValue(kMar5 - Hms(0, 30, 0), b.reads[0].start));
    EXPECT_EQ(40.0, t.Ist);
}

TEST(CalcFormulasTime, ArchiveFormulasRefuseUnusableSources) {
    struct Case {
        int number;
        int32_t ref;
        int fkt;
        int arch;
        double value, span;
        uint32_t status;
    } cases[] = {
        {115, kSrc, 999, 0, 50, 3600, 0},         // not archived
        {115, kSrc, 2, 1, 50, 3600, 0},           // function 2
        {115, kSrc, 0, 1, 50, 3600, 0},           // not in use
        {115, kSrc, 999, 1, kNan, 3600, ST_CONFIG},
        {115, 4097, 999, 1, 50, 3600, 0},
        {115, kSrc, 999, 1, 50, 0, 0},
        {116, kSrc, 999, 0, 50, 3600, 0},
        {116, 4097, 999, 1, 50, 3600, ST_CONFIG},
        {116, 0, 999, 1, 50, 3600, ST_CONFIG},
        {116, kSrc, 999, 1, 50, 0, ST_CONFIG},
        {116, kSrc, 999, 1, 50, 90000, ST_CONFIG},
        {116, kSrc, 999, 1, 50, kNan, ST_CONFIG},
    };
    for (const Case& c : cases) {
        TimeBench b;
        Tags& z = ArchivedSource(b.db);
        z.Fkt = c.fkt;
        z.Arch[0] = static_cast<uint8_t>(c.arch);
        z.Ist = c.value;
        Tags& t = FormulaTag(b.db, kF, c.number, {c.span});
        t.Zeiger[0] = c.ref;
        EXPECT_EQ(c.status, Evaluate(b.db, kF, calc_test::NoInputs(), b.At(kMar5 + Hms(10, 7, 30))))
            << c.number << " " << c.ref << " " << c.span;
        EXPECT_TRUE(std::isnan(t.Ist));
        EXPECT_TRUE(b.reads.empty());
    }
}

TEST(CalcFormulasTime, MeanOverTheSpanWithTheCurrentValue) {
    TimeBench b;
    Tags& z = ArchivedSource(b.db);
    z.Arch[0] = 0;
    z.Arch[2] = 1;
    Tags& t = FormulaTag(b.db, kF, 116, {3600, 1});
    t.Zeiger[0] = kSrc;
    t.Hdouble[6] = kNan;
    b.Archive(kMar5 + Hms(9, 0, 0), 1000.0);  // before the window
    b.Archive(kMar5 + Hms(9, 15, 0), 10.0);
    b.Archive(kMar5 + Hms(9, 30, 0), kNan);
    b.Archive(kMar5 + Hms(9, 45, 0), 30.0);

    EXPECT_EQ(0u, Evaluate(b.db, kF, calc_test::NoInputs(), b.At(kMar5 + Hms(10, 7, 30))));
    EXPECT_EQ(30.0, t.Ist);  // (10 + 30 + 50) / 3
    EXPECT_EQ(3.0, t.Hdouble[5]);
    EXPECT_EQ("09:15:00  09:52:30", TextOf(t));
    ASSERT_EQ(1u, b.reads.size());
    EXPECT_TRUE(SameValue(kMar5 + Hms(9, 15, 0), b.reads[0].start));
    EXPECT_TRUE(SameValue(kMar5 + Hms(9, 52, 30), b.reads[0].end));

    z.Ist = 1e6;  // cached for the slot: the new value waits for the next read
    Evaluate(b.db, kF, calc_test::NoInputs(), b.At(kMar5 + Hms(10, 10, 0)));
    EXPECT_EQ(30.0, t.Ist);
    EXPECT_EQ(1u, b.reads.size());

    // Nothing archived: the current value alone, and the report.
    b.archive.clear();
    z.Ist = 8.0;
    EXPECT_EQ(ST_NOARCHIVE, Evaluate(b.db, kF, calc_test::NoInputs(), b.At(kMar5 + Hms(10, 15, 0))));
    EXPECT_EQ(8.0, t.Ist);
    z.Ist = kNan;
    EXPECT_EQ(ST_NOARCHIVE, Evaluate(b.db, kF, calc_test::NoInputs(), b.At(kMar5 + Hms(10, 30, 0))));
    EXPECT_TRUE(std::isnan(t.Ist));
}

// ---- 112 ----------------------------------------------------------------------------

// One local day (2024-03-05, zone UTC+1) of quarter-hour means of the source,
// written by the core's interval archive step; the formula tag aggregates it.
struct DayRun {
    TimeBench b;
    std::vector<double> means;

    explicit DayRun(double kind) {
        Tags& z = ArchivedSource(b.db);
        z.Fkt = 999;
        Tags& t = FormulaTag(b.db, kF, 112, {kind, 3, 1, kNan, 0});
        t.Status = 0;  // the formula carries its own status on
        t.Zeiger[0] = kSrc;
        t.Zeiger[1] = 61;
        t.Zeiger[2] = 62;
        b.db.Value(61, 4.0);  // divisor
        b.db.Value(62, 1.0);  // period text on
        for (int k = 0; k < 96; ++k) means.push_back(-100.0 + std::fmod(k * 37.0, 90.0));
        Archive(kMar5 - Hms(1, 0, 0), 500.0);  // local midnight: the previous period's last value
    }
    // The interval archive step at UTC time `utc` sends `mean` for the source.
    void Archive(double utc, double mean) {
        b.db[kSrc].Mittel = mean;
        VelmoArchiv(TimeBench::SecondOf(utc), &b.db.sys, b.db.tags.data(), b.db.roh.data(), utc);
        b.last_archiv = utc;
    }
    uint32_t Cycle(double utc) { return Evaluate(b.db, kF, calc_test::NoInputs(), b.At(utc)); }
};

TEST(CalcFormulasTime, PeriodAggregateOverALocalDay) {
    struct Case {
        double kind;
        double (*expected)(const std::vector<double>&);
    } cases[] = {
        {4, [](const std::vector<double>& m) { return *std::max_element(m.begin(), m.end()); }},
        {3, [](const std::vector<double>& m) { return *std::min_element(m.begin(), m.end()); }},
        {2, [](const std::vector<double>& m) { return std::accumulate(m.begin(), m.end(), 0.0) / 96.0; }},
        {1, [](const std::vector<double>& m) { return std::accumulate(m.begin(), m.end(), 0.0) / 4.0; }},
        {0, [](const std::vector<double>& m) { return m.back(); }},
    };
    for (const Case& c : cases) {
        DayRun run(c.kind);
        const double start = kMar5 - Hms(1, 0, 0);  // local midnight in UTC
        EXPECT_EQ(0u, run.Cycle(start + Hms(0, 0, 5)));
        Tags& t = run.b.db[kF];
        EXPECT_EQ(1.0, t.Hdouble[4]);
        EXPECT_TRUE(SameValue(kMar5, t.Hdouble[6]));
        EXPECT_TRUE(SameValue(kMar5 + 1.0, t.Hdouble[7]));
        EXPECT_EQ("Start 2024.03.05 00:00:00, Ende 2024.03.06 00:00:00", TextOf(t));
        for (int k = 0; k < 96; ++k) {
            const double slot = start + (k + 1) * Hms(0, 15, 0);
            run.Archive(slot, run.means[static_cast<size_t>(k)]);
            for (int s : {5, 10}) {  // two cycles per slot: each value counts once
                if (k == 95 && s == 10) break;
                EXPECT_EQ(0u, run.Cycle(slot + Hms(0, 0, s)));
                if (k < 95) {
                    EXPECT_EQ(777.0, t.Ist) << "no result before the period end, slot " << k;
                }
            }
        }
        EXPECT_TRUE(SameValue(c.expected(run.means), t.Ist)) << "kind " << c.kind;
        EXPECT_EQ(0.0, t.Hdouble[4]);
        // The next period starts on the next cycle and keeps the result meanwhile.
        const double result = t.Ist;
        run.Cycle(kMar5 + Hms(23, 0, 20));
        EXPECT_EQ(result, t.Ist);
        EXPECT_TRUE(SameValue(kMar5 + 1.0, t.Hdouble[6]));
    }
}

TEST(CalcFormulasTime, PeriodAggregateOfMinutesAndMissedEnds) {
    DayRun run(4);
    Tags& t = run.b.db[kF];
    t.Hdouble[1] = 1;  // minutes
    t.Hdouble[2] = 30;
    run.Cycle(kMar5 + Hms(9, 40, 0));  // 10:40 local
    EXPECT_EQ(1800, t.Hint[3]);
    EXPECT_TRUE(SameValue(kMar5 + Hms(10, 30, 0), t.Hdouble[6]));
    EXPECT_TRUE(SameValue(kMar5 + Hms(11, 0, 0), t.Hdouble[7]));

    // The archive moves past the end without a value of the source: restart.
    run.b.db.internal[kSrc].Aux[1] = kNan;
    run.b.last_archiv = kMar5 + Hms(10, 15, 0);
    run.Cycle(kMar5 + Hms(10, 15, 5));
    EXPECT_EQ(0.0, t.Hdouble[4]);
    EXPECT_EQ(777.0, t.Ist);
    run.Cycle(kMar5 + Hms(10, 15, 10));
    EXPECT_TRUE(SameValue(kMar5 + Hms(11, 0, 0), t.Hdouble[6]));

    // A maximum that took nothing in gives no value at its end.
    run.b.db.internal[kSrc].Aux[0] = kMar5 + Hms(10, 30, 0);
    run.b.last_archiv = kMar5 + Hms(10, 30, 0);
    run.Cycle(kMar5 + Hms(10, 30, 5));
    EXPECT_TRUE(std::isnan(t.Ist));
    EXPECT_EQ(0.0, t.Hdouble[4]);
}

TEST(CalcFormulasTime, PeriodAggregateWithoutStateOrSourceIsAConfigurationError) {
    for (int32_t ref : {0, -1, 4097}) {
        DayRun run(4);
        run.b.db[kF].Zeiger[0] = ref;
        EXPECT_EQ(ST_CONFIG, run.Cycle(kMar5));
        EXPECT_TRUE(std::isnan(run.b.db[kF].Ist));
    }
    DayRun run(4);
    run.b.db[kF].Hdouble[4] = kNan;  // never configured
    for (int k = 0; k < 3; ++k) EXPECT_EQ(ST_CONFIG, run.Cycle(kMar5 + k * Hms(0, 15, 0)));
    EXPECT_EQ(-1.0, run.b.db[kF].Hdouble[4]);
}

// ---- 201 ------------------------------------------------------------------------------

TEST(CalcFormulasTime, TimeValueAndCompareZeiten) {
    EXPECT_TRUE(SameValue(45356.25, TimeValue(45356.9, 3.25)));
    EXPECT_TRUE(SameValue(45355.75, TimeValue(45356.9, -0.25)));
    const double one = 1.0, two = 2.0, nan = kNan;
    EXPECT_EQ(-1, CompareZeiten(&one, &two));
    EXPECT_EQ(1, CompareZeiten(&two, &one));
    EXPECT_EQ(0, CompareZeiten(&one, &one));
    EXPECT_EQ(0, CompareZeiten(&nan, &one));
}

TEST(CalcFormulasTime, MeasuringScheduleAroundTen) {
    TimeBench b;
    Tags& t = FormulaTag(b.db, kF, 201, {100, 7, 0});
    t.Zeiger[0] = 61;  // warm-up and switch-off times 0: the defaults
    t.Zeiger[1] = 62;
    t.Zeiger[2] = 63;
    t.Zeiger[3] = 64;
    b.db.Value(61, 0);
    b.db.Value(62, 0);
    b.db.Value(63, 42.0);
    b.db.Value(64, -1.0);
    b.db.Value(100, 50400);  // 14:00 given first, sorted behind 10:00
    b.db.Value(101, kNan);
    b.db.Value(102, 36000);
    b.db.Raw(7, 0.0);
    calc_test::PutText(t, "");

    struct Step {
        int h, m, s;
        double output;
        const char* phase;
        double measured;
    } steps[] = {
        {9, 0, 0, 0.0, "", kNan},           {9, 15, 0, 1.0, "Aufwaermen", kNan},
        {9, 44, 59, 1.0, "Aufwaermen", kNan}, {9, 45, 0, 1.0, "Messen", 42.0},
        {10, 15, 0, 1.0, "Messen", 42.0},   {10, 15, 1, 0.0, "Ausschalten", kNan},
        {10, 45, 0, 0.0, "Ausschalten", kNan}, {10, 45, 1, 0.0, "Ausschalten", kNan},
        {13, 15, 0, 1.0, "Aufwaermen", kNan},
    };
    for (const Step& s : steps) {
        const double local = kMar5 + Hms(s.h, s.m, s.s);
        b.At(local - Hms(1, 0, 0));
        EXPECT_EQ(0u, Evaluate(b.db, kF)) << s.h << ":" << s.m << ":" << s.s;
        EXPECT_TRUE(SameValue(local, t.Ist));
        EXPECT_EQ(s.output, b.db.roh[7].Ist) << s.h << ":" << s.m << ":" << s.s;
        std::string phase = TextOf(t);
        const std::string padded = *s.phase != '\0' ? s.phase + std::string(64 - strlen(s.phase), ' ') : "";
        EXPECT_EQ(padded, phase);
        EXPECT_TRUE(SameValue(s.measured, b.db[64].Ist)) << s.h << ":" << s.m;
    }
    EXPECT_TRUE(SameValue(900 / 86400.0, t.Hdouble[6]));

    t.Hdouble[1] = 4097;  // no such raw output
    EXPECT_EQ(ST_CONFIG, Evaluate(b.db, kF));
    EXPECT_TRUE(std::isnan(t.Ist));
    t.Hdouble[1] = 7;
    t.Zeiger[0] = 0;  // missing warm-up reference: defaults, reported
    EXPECT_EQ(ST_CONFIG, Evaluate(b.db, kF));
}

// ---- Any configuration ------------------------------------------------------------

// Every formula of the three families with parameters, references, state and
// inputs drawn from edge values, at the first and the last tags: nothing may
// be touched outside the tables (the sanitizer build sees any stray access),
// and element 0 of each table, which no reference names, stays as it was.
TEST(CalcFormulasTime, EveryFamilyFormulaStaysInsideTheTables) {
    const int numbers[] = {11,  12,  13,  14,  22,  23,  29,  38,  101, 110, 111, 112, 113,
                           115, 116, 145, 146, 147, 148, 149, 150, 151, 152, 201};
    const double doubles[] = {kNan, -1e300, -4097, -1, 0, 0.5, 1, 2, 9, 10, 4095, 4096, 4097, 86400, 1e10, 1e300,
                              INFINITY, -INFINITY};
    const int32_t ints[] = {-1, 0, 1, 2, 4095, 4096, 4097, 2147483647, -2147483647 - 1};
    uint64_t seed = 12345;
    const auto next = [&seed](size_t n) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<size_t>((seed >> 33) % n);
    };
    TimeBench b;
    for (int k = 1; k <= 4096; k += 37) b.db.Raw(k, doubles[next(std::size(doubles))]);
    const Tags tag0 = b.db[0];
    const Rohwerte roh0 = b.db.roh[0];
    for (int number : numbers) {
        for (int position : {1, 4095, 4096}) {
            for (int round = 0; round < 300; ++round) {
                Tags& t = FormulaTag(b.db, position, number);
                for (double& h : t.Hdouble) h = doubles[next(std::size(doubles))];
                for (int32_t& z : t.Zeiger) z = ints[next(std::size(ints))];
                for (int32_t& i : t.Hint) i = ints[next(std::size(ints))];
                t.Hint[9] = number;
                b.db.internal[static_cast<size_t>(position)].Aux[0] = doubles[next(std::size(doubles))];
                const calc_test::Inputs in{doubles[next(std::size(doubles))], doubles[next(std::size(doubles))],
                                           doubles[next(std::size(doubles))], 0, 0};
                const int sec = b.At(kMar5 + Hms(10, 0, 0) + round * Hms(0, 7, 13));
                Evaluate(b.db, position, in, sec);
                ASSERT_EQ(0, std::memcmp(&tag0, &b.db[0], sizeof tag0)) << number << " wrote tag 0";
                ASSERT_EQ(0, std::memcmp(&roh0, &b.db.roh[0], sizeof roh0)) << number << " wrote raw value 0";
            }
        }
    }
}

}  // namespace
