// The steps that leave the cycle: which tags the interval, detail and daily
// steps select, what they send, the log pacing, the time and value kept in
// TagsInternal.Aux, and the minute trend.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "calc_tables.hpp"

namespace {

using calc_test::Recorder;
using calc_test::Tables;
using Sent = Recorder::Sent;

constexpr double kSecond = 1.0 / 86400.0;

Tags& Archived(Tables& db, int i, int fkt, uint8_t a0, uint8_t a1, uint8_t a2, uint8_t a3) {
    Tags& t = db.Configure(i, fkt);
    t.Arch[0] = a0;
    t.Arch[1] = a1;
    t.Arch[2] = a2;
    t.Arch[3] = a3;
    t.Ist = 100.0 + i;
    t.Mittel = 200.0 + i;
    t.Status = 0x1000u + static_cast<uint32_t>(i);
    return t;
}

TEST(CalcArchiveSteps, IntervalSelectionValuesAndStatus) {
    Tables db;
    Recorder rec(db.internal.data());
    Archived(db, 1, 10, 254, 0, 0, 0);   // Mittel with status
    Archived(db, 2, 10, 0, 0, 1, 0);     // Ist without status
    Archived(db, 3, 10, 0, 0, 254, 0);   // Ist with status
    Archived(db, 4, 0, 1, 1, 1, 1);      // not in use: never archived
    Archived(db, 5, 2, 254, 254, 0, 1);  // function 2: never archived
    Archived(db, 6, 10, 0, 1, 0, 1);     // detail and daily only
    Archived(db, 7, 10, 7, 0, 0, 0);     // any non-zero byte switches on
    const double now = calc_test::kDay + 0.5;
    VelmoArchiv(43200, &db.sys, db.tags.data(), db.roh.data(), now);

    ASSERT_EQ(2u, rec.sent.size());
    const Sent& values = rec.sent[0];
    EXPECT_EQ(1, values.kind);
    EXPECT_EQ((std::vector<int32_t>{1, 2, 3, 7}), values.tags);
    EXPECT_EQ((std::vector<double>{201, 102, 103, 207}), values.values);
    EXPECT_EQ(now, values.time);
    const Sent& status = rec.sent[1];
    EXPECT_EQ(2, status.kind);
    EXPECT_EQ((std::vector<int32_t>{1, 3}), status.tags);
    EXPECT_EQ((std::vector<uint32_t>{0x1001, 0x1003}), status.status);

    // The time and value of each sent tag are kept for the archive formulas.
    for (int i : {1, 2, 3, 7}) {
        EXPECT_EQ(now, db.internal[static_cast<size_t>(i)].Aux[0]) << i;
        EXPECT_EQ(values.values[i == 7 ? 3 : static_cast<size_t>(i - 1)], db.internal[static_cast<size_t>(i)].Aux[1]);
    }
    for (int i : {4, 5, 6}) EXPECT_EQ(0.0, db.internal[static_cast<size_t>(i)].Aux[0]) << i;
    EXPECT_EQ(1, calc::CountDailyValues(&db.sys, db.tags.data()));  // tag 6; 4 and 5 are never archived
}

TEST(CalcArchiveSteps, CountersAreArchivedAtTheirOwnPeriod) {
    Tables db;
    Recorder rec(db.internal.data());
    db.sys.inter = 300;
    Tags& counter = Archived(db, 1, 7, 1, 0, 0, 0);
    counter.Hint[9] = 900;
    Archived(db, 2, 10, 1, 0, 0, 0);
    std::vector<size_t> counted;
    for (int32_t sec = 0; sec < 3600; sec += 300) {
        rec.sent.clear();
        VelmoArchiv(sec, &db.sys, db.tags.data(), db.roh.data(), calc_test::kDay + sec * kSecond);
        ASSERT_FALSE(rec.sent.empty());
        if (rec.sent[0].tags.front() == 1) counted.push_back(static_cast<size_t>(sec));
    }
    EXPECT_EQ((std::vector<size_t>{0, 900, 1800, 2700}), counted);
}

TEST(CalcArchiveSteps, NothingSelectedWritesNothing) {
    Tables db;
    Recorder rec(db.internal.data());
    Archived(db, 1, 10, 0, 0, 0, 1);
    VelmoArchiv(0, &db.sys, db.tags.data(), db.roh.data(), calc_test::kDay);
    VelmoDetail(&db.sys, db.tags.data(), db.roh.data(), calc_test::kDay);
    EXPECT_TRUE(rec.sent.empty());
    EXPECT_TRUE(rec.logged.empty());
}

TEST(CalcArchiveSteps, StatusMessageIsSentEvenWhenEmpty) {
    Tables db;
    Recorder rec(db.internal.data());
    Archived(db, 1, 10, 1, 0, 0, 0);
    VelmoArchiv(0, &db.sys, db.tags.data(), db.roh.data(), calc_test::kDay);
    ASSERT_EQ(2u, rec.sent.size());
    EXPECT_EQ(2, rec.sent[1].kind);
    EXPECT_TRUE(rec.sent[1].tags.empty());
    EXPECT_EQ((std::vector<std::string>{"WriteArchiv: 0000", "WriteArchivStatus: 0000"}), rec.Texts());
}

TEST(CalcArchiveSteps, DetailSelection) {
    Tables db;
    Recorder rec(db.internal.data());
    Archived(db, 1, 10, 0, 254, 0, 0);
    Archived(db, 2, 7, 0, 1, 0, 0).Hint[9] = 900;  // no counter rule for details
    Archived(db, 3, 2, 0, 1, 0, 0);
    Archived(db, 4, 10, 1, 0, 1, 0);
    VelmoDetail(&db.sys, db.tags.data(), db.roh.data(), calc_test::kDay + 7 * kSecond);
    ASSERT_EQ(2u, rec.sent.size());
    EXPECT_EQ(3, rec.sent[0].kind);
    EXPECT_EQ((std::vector<int32_t>{1, 2}), rec.sent[0].tags);
    EXPECT_EQ((std::vector<double>{101, 102}), rec.sent[0].values);
    EXPECT_EQ(4, rec.sent[1].kind);
    EXPECT_EQ((std::vector<int32_t>{1}), rec.sent[1].tags);
    EXPECT_EQ((std::vector<std::string>{"WriteDetail: 0000", "WriteDetailStatus: 0000"}), rec.Texts());
    EXPECT_EQ(0.0, db.internal[1].Aux[0]);  // only the interval archive keeps its values
}

TEST(CalcArchiveSteps, SuccessMessagesArePacedFailuresAreNot) {
    Tables db;
    Recorder rec(db.internal.data());
    Archived(db, 1, 10, 254, 254, 0, 0);
    const double t0 = calc_test::kDay;
    const int offsets[] = {0, 30, 48, 60, 96};
    for (int s : offsets) {
        VelmoArchiv(0, &db.sys, db.tags.data(), db.roh.data(), t0 + s * kSecond);
        VelmoDetail(&db.sys, db.tags.data(), db.roh.data(), t0 + s * kSecond);
    }
    // Logged at 0, 48 and 96 seconds: each kind on its own clock.
    EXPECT_EQ(12u, rec.logged.size());
    for (const auto& l : rec.logged) EXPECT_EQ(calc::kLogOk, l.severity);

    rec.logged.clear();
    rec.result = -22;
    VelmoArchiv(0, &db.sys, db.tags.data(), db.roh.data(), t0 + 100 * kSecond);
    VelmoArchiv(0, &db.sys, db.tags.data(), db.roh.data(), t0 + 101 * kSecond);
    ASSERT_EQ(4u, rec.logged.size());
    EXPECT_EQ("WriteArchiv: 0016", rec.logged[0].text);
    EXPECT_EQ(calc::kLogError, rec.logged[0].severity);
    EXPECT_EQ("WriteArchivStatus: 0016", rec.logged[3].text);
    EXPECT_EQ(0.0, db.internal[1].Aux[0] - (t0 + 96 * kSecond));  // a failed send keeps the last sent value
}

TEST(CalcArchiveSteps, TrendFillsTheMinuteOfTheHour) {
    Tables db;
    Recorder rec(db.internal.data());
    db.internal[5].Aux[0] = 3.0;
    DelVelmoTrend(&db.sys);
    for (int i : {0, 5, 4096}) {
        for (double v : db.internal[static_cast<size_t>(i)].Trend) {
            uint64_t bits;
            std::memcpy(&bits, &v, sizeof bits);
            EXPECT_EQ(~uint64_t{0}, bits);
        }
    }
    EXPECT_EQ(3.0, db.internal[5].Aux[0]);

    db.Value(5, 42.0);
    VelmoTrend(13 * 3600 + 59 * 60 + 59, &db.sys, db.tags.data(), db.roh.data());
    EXPECT_EQ(42.0, db.internal[5].Trend[59]);
    db[5].Ist = 43.0;
    VelmoTrend(14 * 3600, &db.sys, db.tags.data(), db.roh.data());
    EXPECT_EQ(43.0, db.internal[5].Trend[0]);
    EXPECT_TRUE(std::isnan(db.internal[5].Trend[1]));
    VelmoTrend(-1, &db.sys, db.tags.data(), db.roh.data());  // no minute: nothing written
    VelmoTrend(86400, &db.sys, db.tags.data(), db.roh.data());
    EXPECT_EQ(43.0, db.internal[5].Trend[0]);
}

}  // namespace
