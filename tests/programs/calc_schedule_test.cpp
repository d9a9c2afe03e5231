// The scheduler: which steps are due at an epoch second, and one pass
// running the due steps in their order.
#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "calc_tables.hpp"
#include "schedule.hpp"

namespace {

using calc::DecideDueSteps;
using calc::DueSteps;
using calc::ScheduleState;
using calc::StepPeriods;

// Runs passes every 200 ms from second `from` to `to` (exclusive) and counts,
// per second, how often each step ran.
struct PassLog {
    std::map<int64_t, int> cycles, trends, details, archives;
    std::vector<DueSteps> gaps;
};

PassLog Passes(const StepPeriods& p, ScheduleState& state, int64_t from, int64_t to) {
    PassLog run;
    for (int64_t t = from; t < to; ++t) {
        for (int pass = 0; pass < 5; ++pass) {
            const DueSteps due = DecideDueSteps(t, p, state);
            if (due.cycle) ++run.cycles[t];
            if (due.trend) ++run.trends[t];
            if (due.detail) ++run.details[t];
            if (due.archive) ++run.archives[t];
            if (due.archive_gap) run.gaps.push_back(due);
        }
    }
    return run;
}

constexpr int64_t kT0 = 1704067200;  // 2024-01-01 00:00:00 UTC

TEST(CalcSchedule, StepsRunOnceAtTheMultiplesOfTheirPeriod) {
    ScheduleState state;
    const PassLog run = Passes({5, 60, 10}, state, kT0 + 1, kT0 + 121);
    EXPECT_EQ(24u, run.cycles.size());
    for (auto [t, count] : run.cycles) {
        EXPECT_EQ(0, t % 5) << t;
        EXPECT_EQ(1, count) << t;
    }
    EXPECT_EQ((std::map<int64_t, int>{{kT0 + 60, 1}, {kT0 + 120, 1}}), run.trends);
    EXPECT_EQ(run.trends, run.archives);
    EXPECT_EQ(12u, run.details.size());
    EXPECT_TRUE(run.gaps.empty());
}

TEST(CalcSchedule, PeriodZeroNeverRuns) {
    for (const StepPeriods p : {StepPeriods{0, 60, 0}, StepPeriods{5, 0, 0}}) {
        ScheduleState state;
        const PassLog run = Passes(p, state, kT0, kT0 + 300);
        EXPECT_EQ(p.takt == 0, run.cycles.empty());
        EXPECT_EQ(p.inter == 0, run.archives.empty());
        EXPECT_TRUE(run.details.empty());
        EXPECT_EQ(5u, run.trends.size());  // the minute trend runs regardless
    }
}

TEST(CalcSchedule, NegativePeriodActsLikeItsAbsoluteValue) {
    EXPECT_EQ(-2, calc::PositionIn(11, -5).number);
    EXPECT_EQ(1, calc::PositionIn(11, -5).remainder);
    EXPECT_EQ(0, calc::PositionIn(11, 0).number);
    EXPECT_EQ(11, calc::PositionIn(11, 0).remainder);
    ScheduleState state;
    const PassLog run = Passes({-5, 60, 0}, state, kT0 + 1, kT0 + 31);
    EXPECT_EQ(6u, run.cycles.size());
}

TEST(CalcSchedule, ClockJumpReportsTheMissedIntervals) {
    const StepPeriods p{1, 60, 0};
    ScheduleState state;
    PassLog run = Passes(p, state, kT0 - 30, kT0 + 10);  // archive at interval n
    ASSERT_EQ(1u, run.archives.size());
    EXPECT_TRUE(run.gaps.empty());  // the first archive after start never reports a gap
    const int64_t n = kT0 / 60;

    run = Passes(p, state, kT0 + 120, kT0 + 130);  // jumped: interval n+1 was skipped
    ASSERT_EQ(1u, run.gaps.size());
    EXPECT_EQ(n, run.gaps[0].gap_last);
    EXPECT_EQ(n + 2, run.gaps[0].gap_current);
    EXPECT_EQ(1, run.gaps[0].gap_missing);

    run = Passes(p, state, kT0 + 170, kT0 + 190);  // the next one follows directly
    EXPECT_EQ(1u, run.archives.size());
    EXPECT_TRUE(run.gaps.empty());

    run = Passes(p, state, kT0 + 359, kT0 + 361);  // over three boundaries
    ASSERT_EQ(1u, run.gaps.size());
    EXPECT_EQ(2, run.gaps[0].gap_missing);
}

TEST(CalcSchedule, FirstPassRunsOnlyWhatIsDueInIt) {
    ScheduleState state;
    const DueSteps due = DecideDueSteps(kT0 + 4, {5, 60, 7}, state);  // a multiple of 7 only
    EXPECT_FALSE(due.cycle);
    EXPECT_FALSE(due.trend);
    EXPECT_FALSE(due.archive);
    EXPECT_TRUE(due.detail);
}

TEST(CalcSchedulerPass, ArchiveSeesTheCycleOfTheSameSecond) {
    calc_test::Tables db;
    calc_test::Recorder rec(db.internal.data());
    db.sys.takt = 5;
    db.sys.inter = 60;
    db.Value(100, 4.0);
    Tags& t = db.Configure(10, 10);
    t.Zeiger[0] = 100;
    t.Arch[0] = 1;
    Tags& stat = db.Configure(11, 50);
    stat.Mittel = 9.0;
    stat.Arch[0] = 1;
    stat.Zeiger[0] = 100;
    stat.Hint[9] = 3600;

    ScheduleState state;
    const int64_t t_archive = kT0 + 60;
    const DueSteps due = DecideDueSteps(t_archive, {5, 60, 0}, state);
    ASSERT_TRUE(due.cycle && due.trend && due.archive);
    calc::RunDueSteps(due, t_archive, calc_test::UtcDays(static_cast<uint32_t>(t_archive)), &db.sys,
                      db.tags.data(), db.roh.data(), &db.alarm_count, db.alarms.data());
    EXPECT_EQ(4.0, t.Mittel);  // the one value of this cycle
    EXPECT_TRUE(std::isnan(t.Summe));
    EXPECT_EQ(0.0, t.Anz);
    EXPECT_EQ(9.0, stat.Mittel);  // statistics keep their own
    EXPECT_EQ(4.0, db.internal[10].Trend[1]);
    ASSERT_FALSE(rec.sent.empty());
    EXPECT_EQ((std::vector<int32_t>{10, 11}), rec.sent[0].tags);
    EXPECT_EQ((std::vector<double>{4.0, 9.0}), rec.sent[0].values);
}

TEST(CalcSchedulerPass, IntervalMeansAndGapMessage) {
    calc_test::Tables db;
    calc_test::Recorder rec(db.internal.data());
    Tags& summed = db.Configure(1, 1);
    summed.Summe = 9;
    summed.Anz = 3;
    Tags& empty = db.Configure(2, 1);
    empty.Ist = 5;
    calc::FormIntervalMeans(&db.sys, db.tags.data());
    EXPECT_EQ(3.0, summed.Mittel);
    EXPECT_EQ(5.0, empty.Mittel);

    DueSteps due;
    due.archive = true;
    due.archive_gap = true;
    due.gap_last = 28401120;
    due.gap_current = 28401122;
    due.gap_missing = 1;
    calc::RunDueSteps(due, kT0, calc_test::kDay, &db.sys, db.tags.data(), db.roh.data(), &db.alarm_count,
                      db.alarms.data());
    ASSERT_FALSE(rec.logged.empty());
    EXPECT_EQ("ARCHIV AUSGELASSEN: LastArchiv= 28401120, AktArchiv: 28401122, fehlend: 1", rec.logged[0].text);
    EXPECT_EQ(calc::kLogError, rec.logged[0].severity);
    EXPECT_EQ(0, db.sys.anzahl);  // no cycle was due
}

TEST(CalcSchedulerPass, SecondOfDay) {
    EXPECT_EQ(0, calc::SecondOfDay(kT0));
    EXPECT_EQ(86399, calc::SecondOfDay(kT0 - 1));
    EXPECT_EQ(3723, calc::SecondOfDay(kT0 + 3723));
}

}  // namespace
