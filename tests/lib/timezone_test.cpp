// The time-zone table: loading /home/kwz/MS_TZInfo.ini, the default zone,
// the ignored sections and keys, and the log lines.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "qx.h"
#include "calendar_example_zone.hpp"
#include "sandbox.hpp"

namespace {

using qx_test::ExampleZone;

bool SameBytes(const KWZ_TimeZoneRecord& a, const KWZ_TimeZoneRecord& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

struct LogLine {
    int severity;
    int code;
    std::string text;
};

class TimeZoneTable : public ::testing::Test {
protected:
    void SetUp() override {
        // The table is process-wide; start every case unloaded.
        TZ_TZInfo = nullptr;
        TZ_AnzTz = 0;
        TZ_DefaultId = 0;
    }

    void InstallTable(const char* fixture) {
        qx_test::WriteFile(sandbox_.path(QX_TZ_FILE), qx_test::ReadFile(qx_test::DataFile(fixture)));
    }

    // A record that differs from every outcome, to see what was written.
    static KWZ_TimeZoneRecord Marked() {
        KWZ_TimeZoneRecord zone{};
        zone.Bias = 12345;
        zone.StandardDate.wMilliseconds = 77;
        return zone;
    }

    qx_test::Sandbox sandbox_;
};

TEST_F(TimeZoneTable, DefaultZoneGivesTheExampleRule) {
    InstallTable("timezone/example.ini");
    KWZ_TimeZoneRecord zone = Marked();
    EXPECT_EQ(GetTimeZoneInformation(&zone), -1);
    EXPECT_TRUE(SameBytes(zone, ExampleZone()));
    ASSERT_NE(TZ_TZInfo, nullptr);
    EXPECT_EQ(TZ_AnzTz, 2);
    EXPECT_EQ(TZ_DefaultId, 1);

    const TZ_ZoneEntry& europe = TZ_TZInfo[1];
    EXPECT_STREQ(europe.Display, "(UTC+01:00) Central Europe");
    EXPECT_STREQ(europe.Dlt, "Central Europe Daylight Time");
    EXPECT_STREQ(europe.Std, "Central Europe Standard Time");
    EXPECT_EQ(europe.Index, 95);
    EXPECT_EQ(europe.DstOffset, 60);
    EXPECT_STREQ(TZ_TZInfo[0].Display, "(UTC) Coordinated Universal Time");
    // [TZ_ID=2] and [TZ_ID=-1] lie outside the table and changed nothing.
    EXPECT_EQ(TZ_TZInfo[0].TimeZone.Bias, 0);

    // The rule read from the file converts as the rule it describes.
    int dst = -1;
    time_velmo local;
    JulToTime(UTCToLocalTime(zone, &dst, TimeToJul({2024, 7, 1, 12, 0, 0})), &local);
    EXPECT_EQ(local.hour, 14);
    EXPECT_EQ(dst, 1);
}

TEST_F(TimeZoneTable, DefaultIdWithTheUsualSpellingIsNotTheKey) {
    InstallTable("timezone/default_misspelt_right.ini");
    KWZ_TimeZoneRecord zone = Marked();
    GetTimeZoneInformation(&zone);
    EXPECT_EQ(TZ_DefaultId, 0);
    EXPECT_EQ(zone.Bias, -330);
}

TEST_F(TimeZoneTable, CommonSectionAfterTheZonesGivesAClearedZone) {
    InstallTable("timezone/common_last.ini");
    KWZ_TimeZoneRecord zone = Marked();
    GetTimeZoneInformation(&zone);
    EXPECT_TRUE(SameBytes(zone, KWZ_TimeZoneRecord{}));
}

TEST_F(TimeZoneTable, KeysMatchWithoutCaseAndNamesAppend) {
    InstallTable("timezone/entries.ini");
    KWZ_TimeZoneRecord zone = Marked();
    GetTimeZoneInformation(&zone);
    ASSERT_NE(TZ_TZInfo, nullptr);
    EXPECT_STREQ(TZ_TZInfo[0].Display, "ZoneOneTwo");
    EXPECT_STREQ(TZ_TZInfo[0].Std, "S");
    EXPECT_EQ(zone.Bias, -120);
    EXPECT_EQ(zone.DaylightDate.wMonth, 3);     // 65539 in a 16-bit field
    EXPECT_EQ(zone.DaylightDate.wDayOfWeek, 6);
    EXPECT_EQ(zone.DaylightDate.wDay, 2);
    EXPECT_EQ(zone.StandardDate.wMonth, 10);    // -65526 in a 16-bit field
    EXPECT_EQ(zone.StandardDate.wMinute, 30);
    EXPECT_EQ(zone.StandardBias, 0);
}

TEST_F(TimeZoneTable, OverlongNamesAreCutTo249Characters) {
    const std::string part(200, 'x');
    qx_test::WriteFile(sandbox_.path(QX_TZ_FILE),
                       "[Common]\nAnzTz=1\nDeafultID=0\n[TZ_ID=0]\nDisplay=" + part + "\nDisplay=" + part +
                           "\nDlt=" + std::string(5000, 'd') + "\nMS_TZI_Bias=-60\n");
    KWZ_TimeZoneRecord zone{};
    GetTimeZoneInformation(&zone);
    ASSERT_NE(TZ_TZInfo, nullptr);
    EXPECT_EQ(std::string(TZ_TZInfo[0].Display), std::string(249, 'x'));
    EXPECT_EQ(std::string(TZ_TZInfo[0].Dlt), std::string(249, 'd'));
    EXPECT_EQ(zone.Bias, -60);
}

TEST_F(TimeZoneTable, AbsurdZoneCountsLoadNothing) {
    for (const char* count : {"2000000000", "-3", "0"}) {
        SCOPED_TRACE(count);
        SetUp();
        qx_test::WriteFile(sandbox_.path(QX_TZ_FILE),
                           std::string("[Common]\nAnzTz=") + count + "\nDeafultID=0\n[TZ_ID=0]\nMS_TZI_Bias=-60\n");
        KWZ_TimeZoneRecord zone = Marked();
        EXPECT_EQ(GetTimeZoneInformation(&zone), -1);
        EXPECT_TRUE(SameBytes(zone, Marked()));
    }
}

TEST_F(TimeZoneTable, MissingFileIsReportedAndTriedAgain) {
    KWZ_TimeZoneRecord zone = Marked();
    testing::internal::CaptureStdout();
    EXPECT_EQ(GetTimeZoneInformation(&zone), -1);
    std::fflush(stdout);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("KWZTimeZone could not open file " + sandbox_.path(QX_TZ_FILE).string() + " \n"),
              std::string::npos)
        << printed;
    EXPECT_TRUE(SameBytes(zone, Marked()));
    EXPECT_EQ(TZ_TZInfo, nullptr);
    EXPECT_LT(TZ_ReadKonfi(sandbox_.path("/home/kwz/none.ini").c_str()), 0);

    InstallTable("timezone/example.ini");
    GetTimeZoneInformation(&zone);
    EXPECT_TRUE(SameBytes(zone, ExampleZone()));
}

std::vector<LogLine> DrainLog() {
    std::vector<LogLine> lines;
    for (;;) {
        QX_LogMsg msg{};
        int32_t length = QX_LOG_RECORD_LEN;
        if (rcvMsg(&rMsq, &msg, &length) <= 0) break;
        std::string text(msg.text, strnlen(msg.text, sizeof msg.text));
        if (!text.empty() && text.back() == '\n') text.pop_back();
        lines.push_back({msg.severity, msg.code, text});
    }
    return lines;
}

TEST_F(TimeZoneTable, LoadingAndEveryLookupAreLogged) {
    qx_test::EnterPrivateIpcNamespace();
    ASSERT_EQ(openMsg(&rMsq), 0);
    InstallTable("timezone/example.ini");
    KWZ_TimeZoneRecord zone{};
    GetTimeZoneInformation(&zone);
    GetTimeZoneInformation(&zone);  // loaded once: no second Start/Ende

    const std::vector<std::string> expected = {
        "KWZInitTimeZoneInfo Start",     "DefaultId: =1",           "AnzTZ: =2",
        "KWZInitTimeZoneInfo Ende",      "GetTimeZoneInfo DefaultId: =1", "GetTimeZoneInfo TZ_AnzTz: =2",
        "GetTimeZoneInfo Bias: =-60",    "GetTimeZoneInfo DefaultId: =1", "GetTimeZoneInfo TZ_AnzTz: =2",
        "GetTimeZoneInfo Bias: =-60",
    };
    const std::vector<LogLine> lines = DrainLog();
    std::vector<std::string> texts;
    for (const LogLine& line : lines) {
        texts.push_back(line.text);
        EXPECT_EQ(line.severity, PMS_INFO) << line.text;
        EXPECT_EQ(line.code, 0) << line.text;
    }
    EXPECT_EQ(texts, expected);
    closeMsg(&rMsq);
}

}  // namespace
