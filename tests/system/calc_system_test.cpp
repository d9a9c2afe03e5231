// The computing core against the real data server, in a sandbox: qx_datasrv
// builds the database from tests/data/calc_system (cycle 1 s, interval 3 s),
// qx_calc computes it on the real clock, the test writes raw values as a link
// does and checks the tags in shared memory and the rows in the archive files.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "attach_state.hpp"
#include "calc_server_fixture.hpp"
#include "link_write.hpp"
#include "process.hpp"
#include "qx.h"
#include "sandbox.hpp"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const fs::path kInspect = fs::path(QX_BINARY_DIR) / "tools" / "qx_inspect";

constexpr int kInter = 3;  // Inter of the fixture
const double kNan = GetNan();

// Raw slots and tags of the fixture.
enum Raw { kRawCopy = 1, kRawScaled = 2, kRawDivisor = 3, kRawMeter = 4, kRawShortLived = 5, kRawLimit = 7 };
enum Tag {
    kCopy = 1, kScaled = 2, kQuotient = 4, kSum = 5, kShortLived = 6, kSubstituted = 7, kCounter = 8,
    kLimitInput = 9, kLimit = 10, kSwitchedOff = 11, kMean = 12, kProduct = 13, kExternal = 14,
};

// A value written with a status bit that no function adds, so it shows
// where the raw status travels.
constexpr uint32_t kRawStatus = 0x10;

double JulOfEpoch(int64_t epoch) {
    const time_t t = static_cast<time_t>(epoch);
    tm utc{};
    gmtime_r(&t, &utc);
    return TimeToJul(time_velmo{utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec});
}

int64_t EpochOfJul(double jul) { return std::llround((jul - 25569.0) * 86400.0); }

int64_t Now() { return static_cast<int64_t>(std::time(nullptr)); }

bool SameValue(double got, double want) { return std::isnan(want) ? std::isnan(got) : got == want; }

struct Expected {
    int tag;
    double ist;
    uint32_t status;
};

// The interval archive of some tags over a range: values and status words
// by row, and the slot time of each row.
struct ArchiveRows {
    std::vector<int32_t> tags;
    int64_t first = 0;
    int32_t value_rows = 0;
    int32_t status_rows = 0;
    std::vector<double> values;
    std::vector<uint32_t> status;

    int32_t rows() const { return value_rows > status_rows ? value_rows : status_rows; }
    int64_t time(int32_t row) const { return first + int64_t{row} * kInter; }
    size_t column(int tag) const {
        for (size_t k = 0; k < tags.size(); ++k)
            if (tags[k] == tag) return k;
        ADD_FAILURE() << "tag " << tag << " not read";
        return 0;
    }
    double value(int32_t row, int tag) const {
        return row < value_rows ? values[size_t(row) * tags.size() + column(tag)] : kNan;
    }
    uint32_t status_of(int32_t row, int tag) const {
        return row < status_rows ? status[size_t(row) * tags.size() + column(tag)] : ST_NONE;
    }
};

class CalcSystemTest : public qx_test::CalcServerTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(StartServer("calc_system/ra_vuvuvizi.ini"));
        ASSERT_EQ(sys_->takt, 1);
        ASSERT_EQ(sys_->inter, kInter);

        StartCore();
        ASSERT_TRUE(core_->WaitForStdout("SCHED_SETSCHEDULER", 20s))
            << "stdout:\n" << core_->Stdout() << "\nstderr:\n" << core_->Stderr();
        ASSERT_NO_FATAL_FAILURE(WaitCycles(1));
    }

    void WriteRaw(int slot, double value, uint32_t status = 0, int validity = 0) {
        qx_tools::WriteRawLikeLink(sys_, roh_, validity, slot, value, status);
    }

    // Waits until n more cycles have started: the cycle that began before a
    // write may have missed it, the next one has not.
    void WaitCycles(int n) {
        const int32_t start = sys_->anzahl;
        ASSERT_TRUE(qx_test::WaitUntil([&] { return sys_->anzahl - start >= n; }, std::chrono::seconds(5 + 2 * n)))
            << "the core ran " << sys_->anzahl - start << " of " << n << " cycles; its output:\n" << core_->Stdout();
    }

    void ExpectTags(const std::vector<Expected>& expected, const std::string& when) {
        for (const Expected& e : expected) {
            const Tags& t = tags_[e.tag];
            EXPECT_TRUE(SameValue(t.Ist, e.ist)) << when << ": tag " << e.tag << " Ist " << t.Ist << ", want " << e.ist;
            EXPECT_EQ(t.Status, e.status) << when << ": tag " << e.tag << " Status " << std::hex << t.Status;
        }
    }

    ArchiveRows ReadArchive(int64_t from, int64_t to, std::vector<int32_t> tags) {
        ArchiveRows rows;
        rows.tags = std::move(tags);
        const double start = JulOfEpoch(from);
        const double end = JulOfEpoch(to);
        const int32_t n = static_cast<int32_t>(rows.tags.size());
        double* values = nullptr;
        uint32_t* status = nullptr;
        EXPECT_EQ(ReadArchivUTC(start, end, sys_, tags_, n, rows.tags.data(), &rows.value_rows, &values), 0);
        EXPECT_EQ(ReadArchivStatusUTC(start, end, sys_, tags_, n, rows.tags.data(), &rows.status_rows, &status), 0);
        if (values != nullptr) rows.values.assign(values, values + size_t(rows.value_rows) * size_t(n));
        if (status != nullptr) rows.status.assign(status, status + size_t(rows.status_rows) * size_t(n));
        std::free(values);
        std::free(status);
        rows.first = EpochOfJul(TrimTime(kInter, start));
        return rows;
    }

};

TEST_F(CalcSystemTest, CycleCopiesScalesComputesAndLetsRawValuesExpire) {
    WriteRaw(kRawCopy, 42.5, kRawStatus);
    WriteRaw(kRawScaled, 2048.0);
    WriteRaw(kRawDivisor, 0.0);
    WriteRaw(kRawShortLived, 7.0, 0, 2);
    const uint32_t written = roh_[kRawShortLived].WriteTime;
    // Three cycles: the sum and the product read tag 6, which lies after
    // them, from the cycle before.
    ASSERT_NO_FATAL_FAILURE(WaitCycles(3));
    ExpectTags({{kCopy, 42.5, kRawStatus},
                {kScaled, 50.0, 0},  // 2048 of 0..4096 onto 0..100
                {kQuotient, 42.5, kRawStatus | ST_DIVZERO},  // divisor 0: the dividend passes
                {kSum, 49.5, kRawStatus},
                {kShortLived, 7.0, 0},
                {kSubstituted, 7.0, 0},
                {kProduct, 297.5, kRawStatus},
                {kSwitchedOff, -7.5, kRawStatus | ST_OFF}},  // Hdouble[9], whatever was computed
               "fresh raw values");

    WriteRaw(kRawDivisor, 4.0);
    ASSERT_NO_FATAL_FAILURE(WaitCycles(2));
    ExpectTags({{kQuotient, 10.625, kRawStatus}}, "divisor 4");

    // Valid for 2 s: expired by the first cycle that ends after that.
    ASSERT_TRUE(qx_test::WaitUntil([&] { return roh_[kRawShortLived].Status == ST_EXPIRED; }, 10s))
        << "raw value still " << roh_[kRawShortLived].Ist << " status " << std::hex << roh_[kRawShortLived].Status;
    EXPECT_GE(Now(), int64_t{written} + 3) << "expired before its validity ran out";
    const Rohwerte& expired = roh_[kRawShortLived];
    EXPECT_TRUE(std::isnan(expired.Ist));
    EXPECT_EQ(expired.ValidUntil, QX_VALID_FOREVER);
    EXPECT_EQ(expired.WriteTime, written);
    EXPECT_EQ(std::string(expired.Info, sizeof expired.Info), std::string(sizeof expired.Info, '\0'));
    EXPECT_EQ(roh_[kRawCopy].Ist, 42.5) << "a value written without validity expired";

    ASSERT_NO_FATAL_FAILURE(WaitCycles(3));
    ExpectTags({{kShortLived, kNan, ST_EXPIRED},
                {kSubstituted, -1.0, ST_EXPIRED | ST_SUBST},  // faulty and not kept: Hdouble[8]
                {kSum, kNan, ST_CONFIG},                      // a NaN addend spoils the sum
                {kProduct, kNan, kRawStatus | ST_EXPIRED},
                {kCopy, 42.5, kRawStatus}},
               "after the expiry");
}

TEST_F(CalcSystemTest, LimitAlarmFollowsItsHysteresis) {
    // Limits HH 90, H 80, L 20, LL 10, hysteresis 2; each step starts from
    // the alarm state the step before left.
    const struct {
        double input;
        double ist;
        uint32_t status;
    } steps[] = {
        {50.0, 0.0, 0},
        {80.0, 0.0, 0},                          // at the limit: no alarm
        {81.0, 1.0, ST_ALARM_H},
        {79.0, 1.0, ST_ALARM_H},                 // within the hysteresis: stays
        {78.0, 0.0, 0},                          // at limit - hysteresis: cleared
        {95.0, 3.0, ST_ALARM_H | ST_ALARM_HH},
        {5.0, -3.0, ST_ALARM_L | ST_ALARM_LL},
        {21.0, -1.0, ST_ALARM_L},                // LL cleared, L held by the hysteresis
        {kNan, kNan, ST_IRREGULAR},
    };
    for (const auto& step : steps) {
        WriteRaw(kRawLimit, step.input);
        ASSERT_NO_FATAL_FAILURE(WaitCycles(2));
        ExpectTags({{kLimit, step.ist, step.status}}, "limit input " + std::to_string(step.input));
    }
}

TEST_F(CalcSystemTest, CounterTakesRatesAndRunsOverItsModulus) {
    WriteRaw(kRawMeter, 100.0);
    // The meter: the first due second after the start only stored the
    // reading (the restart flag HLog[41] is set), the following ones give
    // the rate per second over Hint[9] = 2 s.
    // Each state is waited for as a whole: the next due second with the same
    // reading gives a rate of 0 again.
    const Tags& counter = tags_[kCounter];
    const auto counter_state = [&] {
        return "I7 " + std::to_string(counter.Hint[7]) + ", H4 " + std::to_string(counter.Hdouble[4]) + ", H5 " +
               std::to_string(counter.Hdouble[5]) + ", H6 " + std::to_string(counter.Hdouble[6]) + ", Ist " +
               std::to_string(counter.Ist);
    };
    EXPECT_TRUE(qx_test::WaitUntil(
        [&] { return counter.Hint[7] == 2 && counter.Hdouble[4] == 100.0 && counter.Ist == 0.0; }, 10s))
        << "no rate over an unchanged reading: " << counter_state();

    WriteRaw(kRawMeter, 130.0);
    EXPECT_TRUE(qx_test::WaitUntil(
        [&] { return counter.Hdouble[4] == 130.0 && counter.Hdouble[5] == 100.0 && counter.Ist == 15.0; }, 10s))
        << "30 in 2 s: " << counter_state();

    WriteRaw(kRawMeter, 10.0);  // ran over its modulus of 1000
    EXPECT_TRUE(qx_test::WaitUntil(
        [&] { return counter.Hdouble[4] == 10.0 && counter.Hdouble[6] == 880.0 && counter.Ist == 440.0; }, 10s))
        << "880 past the modulus in 2 s: " << counter_state();
}

TEST_F(CalcSystemTest, IntervalMeansAndStatusReachTheArchiveAndBothProgramsStopOnRequest) {
    const int64_t start = Now();
    WriteRaw(kRawCopy, 42.5, kRawStatus);
    WriteRaw(kRawScaled, 1024.0);
    WriteRaw(kRawLimit, 85.0);
    const std::vector<int32_t> read{kCopy, kScaled, kCounter, kLimit, kSwitchedOff, kMean, kExternal};

    // Every row that holds the copy holds 42.5: before the write its value
    // was NaN, which is neither summed nor archived as a value.  Two such
    // rows give one slot at a multiple of 6 s and one between.
    ArchiveRows rows;
    const auto copies = [&] {
        int count = 0;
        for (int32_t r = 0; r < rows.rows(); ++r) count += std::isnan(rows.value(r, kCopy)) ? 0 : 1;
        return count;
    };
    // Polled every 200 ms: each read opens both day files.
    ASSERT_TRUE(qx_test::WaitUntil(
        [&] {
            rows = ReadArchive(start - kInter, Now(), read);
            if (copies() >= 2) return true;
            std::this_thread::sleep_for(200ms);
            return false;
        },
        25s))
        << "archive rows holding the copy: " << copies();

    int counter_rows = 0, rows_without_counter = 0;
    for (int32_t r = 0; r < rows.rows(); ++r) {
        if (std::isnan(rows.value(r, kCopy))) continue;
        const std::string at = "row at epoch " + std::to_string(rows.time(r));
        EXPECT_EQ(rows.value(r, kCopy), 42.5) << at;
        EXPECT_EQ(rows.status_of(r, kCopy), kRawStatus) << at;
        EXPECT_EQ(rows.value(r, kScaled), 25.0) << at << ": the Ist of Arch[2]";
        EXPECT_EQ(rows.status_of(r, kScaled), ST_NONE) << at << ": Arch[2] = 1 archives no status";
        EXPECT_EQ(rows.value(r, kLimit), 1.0) << at;
        EXPECT_EQ(rows.status_of(r, kLimit), ST_ALARM_H) << at;
        EXPECT_EQ(rows.value(r, kSwitchedOff), -7.5) << at;
        EXPECT_EQ(rows.status_of(r, kSwitchedOff), kRawStatus | ST_OFF) << at;
        const double mean = rows.value(r, kMean);  // function 50's own result over 3 s
        EXPECT_TRUE(std::isnan(mean) || mean == 42.5) << at << ": mean " << mean;
        EXPECT_TRUE(std::isnan(rows.value(r, kExternal))) << at << ": function 2 archived";
        EXPECT_EQ(rows.status_of(r, kExternal), ST_NONE) << at << ": function 2 archived";
        // The counter is archived at its own period only (Hint[9] = 2 s).
        const bool counter_due = rows.time(r) % 86400 % 2 == 0;
        EXPECT_EQ(!std::isnan(rows.value(r, kCounter)), counter_due) << at << ": counter " << rows.value(r, kCounter);
        (counter_due ? counter_rows : rows_without_counter) += 1;
    }
    EXPECT_GE(counter_rows, 1);
    EXPECT_GE(rows_without_counter, 1);
    EXPECT_EQ(tags_[kMean].Mittel, 42.5) << "function 50 over a constant input";

    // qx_inspect shows the same: the tag in shared memory and the rows as
    // CSV, each under its slot time.
    qx_test::Process tag_table(kInspect, {"tags", "1"});
    ASSERT_TRUE(tag_table.WaitFor(20s).has_value());
    EXPECT_NE(tag_table.Stdout().find("    1  Kopie"), std::string::npos) << tag_table.Stdout();
    EXPECT_NE(tag_table.Stdout().find("42.5   00000010"), std::string::npos) << tag_table.Stdout();
    qx_test::Process csv(kInspect, {"archive", "--status", "--last", std::to_string(Now() - start + 2 * kInter),
                                    std::to_string(kCopy), std::to_string(kSwitchedOff)});
    ASSERT_TRUE(csv.WaitFor(20s).has_value());
    EXPECT_EQ(csv.Stdout().rfind("time_utc,1,1.status,11,11.status\n", 0), 0u) << csv.Stdout();
    for (int32_t r = 0; r < rows.rows(); ++r) {
        if (std::isnan(rows.value(r, kCopy))) continue;
        const time_t t = static_cast<time_t>(rows.time(r));
        tm utc{};
        gmtime_r(&t, &utc);
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &utc);
        const std::string line = std::string("\n") + stamp + ",42.5,00000010,-7.5,01000010\n";
        EXPECT_NE(csv.Stdout().find(line), std::string::npos) << "missing" << line << "in\n" << csv.Stdout();
    }

    // Stop ends the core with its end event; the stop command ends the server.
    qx::attach_state().info->Stop = 1;
    const auto core_end = core_->WaitFor(10s);
    ASSERT_TRUE(core_end.has_value()) << "the core did not stop";
    EXPECT_TRUE(WIFEXITED(*core_end) && WEXITSTATUS(*core_end) == 0) << "core status " << *core_end;
    EXPECT_NE(core_->Stdout().find("Ende SaveConfi"), std::string::npos);
    EXPECT_NE(qx_test::ReadFile(sandbox_.path("/home/kwz/ra_vuvuvizi.log")).find("VelmoKern"), std::string::npos);

    sMsq command{-1, QX_KEY_CMD_QUEUE};
    ASSERT_EQ(openMsg(&command), 0);
    QX_CommandMsg stop{};
    stop.mtype = QX_CMD_STOP;
    int32_t length = QX_CMD_TEXT_SIZE + 4;
    ASSERT_EQ(sndMsg(&command, &stop, &length), 0);
    const auto server_end = server_->WaitFor(10s);
    ASSERT_TRUE(server_end.has_value()) << "the data server did not stop";
    EXPECT_TRUE(WIFEXITED(*server_end) && WEXITSTATUS(*server_end) == 0) << "server status " << *server_end;
}

}  // namespace
