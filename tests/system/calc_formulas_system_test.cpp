// Formulas inside the running core: the real qx_datasrv builds the tag
// database from a configuration file with a scaled raw value (formula 4)
// feeding a two-point switch (formula 2); qx_calc computes them every second
// and the switch drives a raw output, all seen in shared memory.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <string>

#include "calc_server_fixture.hpp"
#include "qx.h"

namespace {

using namespace std::chrono_literals;

constexpr int kInputRaw = 10, kOutputRaw = 11;
constexpr int kScaled = 1, kSwitch = 2, kCounter = 3;

class CalcFormulasSystemTest : public qx_test::CalcServerTest {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(StartServer("calc_formulas/ra_vuvuvizi.ini")); }

    void SetInput(double value) {
        Rohwerte& raw = roh_[kInputRaw];
        raw.Ist = value;
        raw.Status = 0;
        raw.WriteTime = static_cast<uint32_t>(std::time(nullptr));
        raw.ValidUntil = QX_VALID_FOREVER;
    }

    // Waits for the value of an expression read from shared memory.
    template <typename Read>
    bool Becomes(double expected, Read read) {
        return qx_test::WaitUntil([&] { return read() == expected; }, 15s);
    }
};

TEST_F(CalcFormulasSystemTest, ScaledRawValueDrivesTheSwitchOutput) {
    SetInput(2.0);  // scaled: 2 x 2.5 + 1 = 6, below the switch's lower threshold 10
    roh_[kOutputRaw].Ist = -1.0;
    StartCore();

    ASSERT_TRUE(Becomes(6.0, [&] { return tags_[kScaled].Ist; }))
        << "scaled value " << tags_[kScaled].Ist << "\n" << core_->Stdout();
    EXPECT_EQ(0u, tags_[kScaled].Status);
    EXPECT_EQ(6.0, tags_[kScaled].Hdouble[7]) << "the scaled value is kept in H7";

    // The low value switches on a second later (no on-delay) and is counted.
    ASSERT_TRUE(Becomes(1.0, [&] { return roh_[kOutputRaw].Ist; })) << "output " << roh_[kOutputRaw].Ist;
    EXPECT_EQ(1.0, tags_[kSwitch].Ist);
    EXPECT_EQ(0u, tags_[kSwitch].Status);
    EXPECT_EQ(1.0, tags_[kCounter].Ist);
    EXPECT_EQ(0, tags_[kSwitch].Hint[5]);

    // A high value switches off again; the switch-off is counted in Hint[5].
    SetInput(10.0);  // 26, at or above the upper threshold 20
    ASSERT_TRUE(Becomes(26.0, [&] { return tags_[kScaled].Ist; }));
    ASSERT_TRUE(Becomes(0.0, [&] { return roh_[kOutputRaw].Ist; })) << "output " << roh_[kOutputRaw].Ist;
    EXPECT_EQ(0.0, tags_[kSwitch].Ist);
    EXPECT_EQ(1, tags_[kSwitch].Hint[5]);
    EXPECT_EQ(1.0, tags_[kCounter].Ist) << "switch-offs are not switch-ons";

    // A faulty input status travels through both formulas.
    roh_[kInputRaw].Status = ST_ALARM_H;
    ASSERT_TRUE(Becomes(ST_ALARM_H, [&] { return tags_[kSwitch].Status; }));
    EXPECT_EQ(ST_ALARM_H, tags_[kScaled].Status);
    EXPECT_EQ(0xFFFFFFFFu, roh_[kOutputRaw].WriteTime) << "the switch writes only the output value";
}

}  // namespace
