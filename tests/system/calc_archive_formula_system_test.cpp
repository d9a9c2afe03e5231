// Archive formulas inside the running core: the real qx_datasrv writes the
// interval archive of a tag for the last hours from archive-write messages;
// qx_calc's formula 115 (increase over an hour) and 116 (mean over an hour)
// read it back from the day files, seen in shared memory.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <ctime>

#include "calc_server_fixture.hpp"
#include "process.hpp"
#include "qx.h"

namespace {

using namespace std::chrono_literals;

constexpr int kSource = 1, kIncrease = 2, kMean = 3;
constexpr int kInter = 900;
constexpr double kSourceValue = 100.0;

double JulOfEpoch(int64_t epoch) { return 25569.0 + static_cast<double>(epoch) / 86400.0; }
int64_t EpochOfJul(double jul) { return std::llround((jul - 25569.0) * 86400.0); }

// The archived value of the slot that starts at `epoch`: distinct per slot.
double SlotValue(int64_t epoch) { return static_cast<double>(epoch / kInter % 1000) + 0.25; }

class CalcArchiveFormulaSystemTest : public qx_test::CalcServerTest {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(StartServer("calc_formulas8/ra_vuvuvizi.ini")); }

    // The source's interval values of the last three hours, one archive-write
    // message per slot, written by the data server.
    void ArchiveLastHours() {
        const int64_t now = std::time(nullptr);
        const int64_t last = now / kInter * kInter;
        double time = 0.0;
        for (int64_t slot = last - 3 * 3600; slot <= last; slot += kInter) {
            const int32_t tag = kSource;
            const double value = SlotValue(slot);
            time = JulOfEpoch(slot);
            ASSERT_EQ(0, WriteArchiv(1, sys_, &tag, &value, time)) << "slot " << slot;
        }
        ASSERT_TRUE(qx_test::WaitUntil([&] { return GetTimeLastArchiv() == time; }, 15s))
            << "the data server did not write the archive\n" << server_->Stdout();
    }
};

TEST_F(CalcArchiveFormulaSystemTest, IncreaseAndMeanReadTheArchiveTheServerWrote) {
    ASSERT_NO_FATAL_FAILURE(ArchiveLastHours());
    StartCore();

    // 115: the current value less the archived value of the slot an hour ago
    // (H6 names the slot it read).
    const Tags& increase = tags_[kIncrease];
    const bool increase_ok = qx_test::WaitUntil(
        [&] {
            const double slot = increase.Hdouble[6];
            return slot == slot && increase.Status == 0 &&
                   increase.Ist == kSourceValue - SlotValue(EpochOfJul(slot));
        },
        20s);
    ASSERT_TRUE(increase_ok) << "115: Ist " << increase.Ist << " status " << increase.Status << " slot "
                             << increase.Hdouble[6] << "\n" << core_->Stdout();
    const int64_t slot = EpochOfJul(increase.Hdouble[6]);
    EXPECT_EQ(0, slot % kInter);
    const int64_t age = std::time(nullptr) - slot;
    EXPECT_GE(age, 3600);
    EXPECT_LT(age, 3600 + kInter + 60);

    // 116: the three archived slots after that one and the current value.
    const Tags& mean = tags_[kMean];
    const bool mean_ok = qx_test::WaitUntil(
        [&] {
            const double h6 = mean.Hdouble[6];
            if (h6 != h6 || mean.Hdouble[5] != 4.0) return false;
            const int64_t t0 = EpochOfJul(h6);
            const double expected = (SlotValue(t0 + kInter) + SlotValue(t0 + 2 * kInter) +
                                     SlotValue(t0 + 3 * kInter) + kSourceValue) / 4.0;
            return mean.Status == 0 && std::fabs(mean.Ist - expected) < 1e-9;
        },
        20s);
    ASSERT_TRUE(mean_ok) << "116: Ist " << mean.Ist << " status " << mean.Status << " count " << mean.Hdouble[5]
                         << "\n" << core_->Stdout();
    EXPECT_EQ(18u, strnlen(mean.Text, sizeof mean.Text)) << "the window as text";
}

}  // namespace
