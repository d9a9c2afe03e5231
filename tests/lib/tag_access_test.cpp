// Tag and raw-value access over a database in process memory.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "attach_fixture.hpp"
#include "qx.h"

namespace {

using qx_test::LocalDatabase;

Tags SampleTag(double ist) {
    Tags tag;
    std::memset(&tag, 0x5A, sizeof tag);
    std::snprintf(tag.Bez, sizeof tag.Bez, "T%.0f", ist);
    tag.Ist = ist;
    return tag;
}

TEST(TagAccessTest, TagNumbersOutsideOneTo4096FailAndTouchNothing) {
    LocalDatabase db;
    const struct {
        int number;
        bool valid;
    } cases[] = {{1, true}, {4096, true}, {0, false}, {4097, false}, {-1, false}, {-4096, false}, {INT32_MIN, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.number);
        const Tags written = SampleTag(c.number);
        EXPECT_EQ(WriteTag(c.number, &written), c.valid ? 0 : -1);
        Tags read;
        std::memset(&read, 0x11, sizeof read);
        EXPECT_EQ(ReadTag(c.number, &read), c.valid ? 0 : -1);
        if (c.valid) {
            EXPECT_EQ(std::memcmp(&read, &written, sizeof read), 0);
            EXPECT_EQ(std::memcmp(&db.tags()[c.number], &written, sizeof written), 0);
        } else {
            Tags untouched;
            std::memset(&untouched, 0x11, sizeof untouched);
            EXPECT_EQ(std::memcmp(&read, &untouched, sizeof read), 0) << "destination left as it was";
        }
    }
    // Element 0 and the neighbours of a written record keep their bytes.
    Tags fresh;
    std::memset(&fresh, 0xFF, sizeof fresh);
    EXPECT_EQ(std::memcmp(&db.tags()[0], &fresh, sizeof fresh), 0);
    EXPECT_EQ(std::memcmp(&db.tags()[2], &fresh, sizeof fresh), 0);
    EXPECT_EQ(std::memcmp(&db.tags()[4095], &fresh, sizeof fresh), 0);
}

TEST(TagAccessTest, WriteTagPrintsTheDefaultFunctionBeforeAndAfter) {
    LocalDatabase db;
    db.system().TagDefaultFkt = 17;
    const Tags tag = SampleTag(2);
    testing::internal::CaptureStdout();
    EXPECT_EQ(WriteTag(2, &tag), 0);
    EXPECT_EQ(WriteTag(4097, &tag), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "(A) WriteTag: TagDefaultFkt: 17(B) WriteTag: TagDefaultFkt: 17");
}

TEST(TagAccessTest, RawValuesByNumber) {
    LocalDatabase db;
    db.roh()[4096].Status = 0x02000000;
    db.roh()[4096].WriteTime = 1234;
    db.roh()[4096].ValidUntil = 5678;
    const struct {
        int number;
        bool valid;
    } cases[] = {{1, true}, {4096, true}, {0, false}, {4097, false}, {-2, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.number);
        const double value = 0.5 + c.number;
        const double written = WriteRoh(c.number, value);
        const double read = ReadRoh(c.number);
        if (c.valid) {
            EXPECT_EQ(written, value);
            EXPECT_EQ(read, value);
        } else {
            EXPECT_TRUE(IsNan(written));
            EXPECT_TRUE(IsNan(read));
        }
    }
    EXPECT_EQ(db.roh()[4096].Status, 0x02000000u) << "WriteRoh sets only Ist";
    EXPECT_EQ(db.roh()[4096].WriteTime, 1234u);
    EXPECT_EQ(db.roh()[4096].ValidUntil, 5678u);
    EXPECT_TRUE(IsNan(db.roh()[0].Ist));

    Rohwerte record{};
    record.Ist = 3.5;
    record.Status = 4;
    std::strcpy(record.Info, "kWh");
    EXPECT_EQ(WriteRohInfo(4096, &record), 0);
    EXPECT_EQ(WriteRohInfo(4097, &record), -1);
    EXPECT_EQ(WriteRohInfo(0, &record), -1);
    Rohwerte back;
    std::memset(&back, 0x22, sizeof back);
    EXPECT_EQ(ReadRohInfo(0, &back), -1);
    EXPECT_EQ(back.Status, 0x22222222u);
    EXPECT_EQ(ReadRohInfo(4096, &back), 0);
    EXPECT_EQ(std::memcmp(&back, &record, sizeof back), 0);
    EXPECT_EQ(ReadRohInfo(1, nullptr), -1);
}

TEST(TagAccessTest, WriteVelmoSystemTrimsTheArchiveDirectoryOfTheSource) {
    LocalDatabase db;
    std::strcpy(db.system().dir_archiv, "/alt");
    VelmoSystem source = db.system();
    source.takt = 10;
    std::strcpy(source.dir_archiv, "\t /home/kwz/A");
    testing::internal::CaptureStdout();
    WriteVelmoSystem(&source);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "(5-A) Archiv: /alt / \t /home/kwz/A"
              "(5-B) Archiv: /alt / /home/kwz/A"
              "(5-Z) Archiv: /home/kwz/A / /home/kwz/A");
    EXPECT_STREQ(source.dir_archiv, "/home/kwz/A") << "trimmed in place";
    EXPECT_EQ(db.system().takt, 10);
    EXPECT_STREQ(db.system().dir_archiv, "/home/kwz/A");

    VelmoSystem copy{};
    EXPECT_EQ(ReadVelmoSystem(&copy), &copy);
    EXPECT_EQ(std::memcmp(&copy, &db.system(), sizeof copy), 0);
}

TEST(TagAccessTest, InfoTimeStampsAndArchivePath) {
    {
        // Before an attach.
        EXPECT_TRUE(IsNan(GetTimeLastArchiv()));
        EXPECT_TRUE(IsNan(SetTimeLastTrend(1.0)));
        EXPECT_EQ(SetArchivPath("x"), -1);
        char buffer[4] = {'a', 'b', 'c', 'd'};
        EXPECT_EQ(GetArchivPath(buffer, sizeof buffer), 0);
        EXPECT_EQ(std::string(buffer, 4), std::string(4, '\0'));
        EXPECT_EQ(GetTagsInternal(), nullptr);
    }
    LocalDatabase db;
    using Getter = double (*)();
    using Setter = double (*)(double);
    const struct {
        Getter get;
        Setter set;
        double Info::*field;
    } stamps[] = {
        {GetTimeLastArchiv, SetTimeLastArchiv, &Info::TimeLastArchiv},
        {GetTimeLastDetail, SetTimeLastDetail, &Info::TimeLastDetail},
        {GetTimeLastTag, SetTimeLastTag, &Info::TimeLastTag},
        {GetTimeLastTrend, SetTimeLastTrend, &Info::TimeLastTrend},
    };
    double value = 45000.25;
    for (const auto& s : stamps) {
        EXPECT_TRUE(IsNan(s.get()));
        EXPECT_EQ(s.set(value), value);
        EXPECT_EQ(db.info().*s.field, value);
        EXPECT_EQ(s.get(), value);
        value += 1.0;
    }

    EXPECT_EQ(SetArchivPath("/home/kwz/QX_ARCHIV"), 0);
    char buffer[8];
    std::memset(buffer, 'z', sizeof buffer);
    EXPECT_EQ(GetArchivPath(buffer, 1), 0);
    EXPECT_EQ(buffer[0], '\0') << "length 1 gives an empty string";
    EXPECT_EQ(buffer[1], 'z');
    EXPECT_EQ(GetArchivPath(buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "/home/k");

    const std::string long_path(20000, 'p');
    EXPECT_EQ(SetArchivPath(long_path.c_str()), 0);
    EXPECT_EQ(std::strlen(db.info().PathArchiv), 16384u);
    EXPECT_EQ(SetArchivPath("kurz"), 0);
    EXPECT_STREQ(db.info().PathArchiv, "kurz");
    EXPECT_EQ(db.info().PathArchiv[5], '\0') << "the rest is cleared";

    EXPECT_EQ(GetTagsInternal(), db.tags_internal());
    EXPECT_EQ(WriteArchivAdd(), 0);
}

TEST(TagAccessTest, NothingBeforeAnAttach) {
    QX_ClearAttachState();
    Tags tag = SampleTag(1);
    EXPECT_EQ(ReadTag(1, &tag), -1);
    EXPECT_EQ(WriteTag(1, &tag), -1);
    EXPECT_TRUE(IsNan(ReadRoh(1)));
    EXPECT_TRUE(IsNan(WriteRoh(1, 2.0)));
    VelmoSystem system{};
    system.takt = 99;
    EXPECT_EQ(ReadVelmoSystem(&system), &system);
    EXPECT_EQ(system.takt, 99);
    WriteVelmoSystem(&system);
}

TEST(TagAccessTest, TimeConversionUsesTheProcessZone) {
    std::memset(&KWZ_TimeZone, 0, sizeof KWZ_TimeZone);
    KWZ_TimeZone.Bias = -60;  // one hour east of UTC, no daylight time
    const double local = 45000.5;
    EXPECT_DOUBLE_EQ(QXTimeToUTC(local), local - 1.0 / 24.0);
    EXPECT_DOUBLE_EQ(QXUTCToTime(local - 1.0 / 24.0), local);
    std::memset(&KWZ_TimeZone, 0, sizeof KWZ_TimeZone);
    EXPECT_DOUBLE_EQ(QXTimeToUTC(local), local);
}

}  // namespace
