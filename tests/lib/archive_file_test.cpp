// Archive files: names, slot widths, the byte layout of new files, extension
// by new tags, and refusal of corrupt or cut files.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <string>

#include "archive_fixture.hpp"

using namespace archive_test;

namespace {

TEST_F(ArchiveTest, NamingGivesPathPeriodAndSlotCount) {
    struct Case { int kind; const char* ext; double time; int inter; int stoer; const char* name; int period, ninter; };
    const Case cases[] = {
        {1, ".DATA", Jul(2024, 3, 15, 10, 15), 900, 60, "20240315.DATA", 86400, 96},
        {2, ".DATA.ST", Jul(2024, 3, 15, 23, 59, 59), 7, 60, "20240315.DATA.ST", 86400, 12343},
        {1, ".DATA", Jul(2024, 3, 16), 900, 60, "20240316.DATA", 86400, 96},           // midnight: new day
        {3, ".DETAIL", Jul(2024, 3, 15, 7, 0, 0), 900, 60, "2024031507.DETAIL", 3600, 60},
        {4, ".DETAIL.ST", Jul(2024, 3, 15, 7, 59, 59), 900, 7, "2024031507.DETAIL.ST", 3600, 515},
        {1, ".DATA", Jul(2024, 3, 15, 23, 59, 59) + 0.6 / 86400, 900, 60, "20240316.DATA", 86400, 96},
    };
    for (const Case& c : cases) {
        sys_.inter = c.inter;
        sys_.stoer_takt = c.stoer;
        QXDB db{};
        ASSERT_EQ(MakeReadArchivName2(&db, c.kind, c.ext, &sys_, c.time), 0);
        EXPECT_EQ(std::string(db.Path), File(c.name));
        EXPECT_STREQ(db.Ext, c.ext);
        EXPECT_EQ(db.Period, c.period) << c.name;
        EXPECT_EQ(db.NInter, c.ninter) << c.name;
        EXPECT_EQ(db.fd, 0);  // naming opens nothing
    }
}

TEST_F(ArchiveTest, NamingRefusesUnknownKindsAndKeepsTheHandle) {
    QXDB db{};
    ASSERT_EQ(MakeReadArchivName2(&db, 1, ".DATA", &sys_, Jul(2024, 1, 2)), 0);
    const std::string before = db.Path;
    for (int kind : {0, 5, -1}) {
        EXPECT_EQ(MakeReadArchivName2(&db, kind, ".X", &sys_, Jul(2025, 5, 5)), -13);
        EXPECT_EQ(std::string(db.Path), before);
        EXPECT_EQ(db.NInter, 96);
    }
}

TEST(ArchiveTypes, SlotWidthsAndComparisons) {
    const short expected[] = {0, 8, 4, 8, 4, 24, 0, 0};
    for (short code = 0; code < 8; ++code) EXPECT_EQ(getTypeCodeLen(code), expected[code]) << code;
    const int32_t small = -2000000000, big = 2000000000;
    // Far-apart numbers must not overflow into the wrong order.
    EXPECT_LT(DBCompareLong2(&small, &big), 0);
    EXPECT_GT(DBCompareTagList2(&big, &small), 0);
    EXPECT_EQ(CompareVelmoTagList2(&big, &big), 0);
}

// Expected bytes of a new time-major file, built by hand.
std::string ExpectedFile(int kind, int inter, int ninter, std::vector<uint32_t> tags) {
    const uint32_t width = kind == 1 || kind == 3 ? 8 : 4;
    const uint32_t index_offset = 544 + uint32_t(tags.size()) * uint32_t(ninter) * width;
    std::string bytes(544, '\0');
    PutU32(bytes, 8, uint32_t(tags.size()));
    PutU32(bytes, 12, uint32_t(inter));
    PutU32(bytes, 16, uint32_t(ninter));
    PutU32(bytes, 20, 1);
    PutU32(bytes, 24, index_offset);
    PutU32(bytes, 28, 3);
    bytes.replace(208, 8, "\xFE\xAF\xFE\xAF\xEF\xBE\xEF\xBE", 8);
    bytes.append(size_t(index_offset - 544), '\xFF');
    for (size_t j = 0; j < tags.size(); ++j) {
        std::string entry(12, '\0');
        PutU32(entry, 0, tags[j]);
        PutU32(entry, 4, 544 + uint32_t(j) * width);
        entry[8] = char(kind);
        entry[10] = char(width);
        bytes += entry;
    }
    return bytes;
}

TEST_F(ArchiveTest, CreatedFilesMatchTheLayoutByteForByte) {
    struct Case { int kind; const char* ext; double time; const char* name; int inter, ninter; };
    const Case cases[] = {
        {1, ".DATA", Jul(2024, 3, 15, 10), "20240315.DATA", 900, 96},
        {2, ".DATA.ST", Jul(2024, 3, 15, 10), "20240315.DATA.ST", 900, 96},
        {3, ".DETAIL", Jul(2024, 3, 15, 7, 30), "2024031507.DETAIL", 60, 60},
        {4, ".DETAIL.ST", Jul(2024, 3, 15, 7, 30), "2024031507.DETAIL.ST", 60, 60},
    };
    const int32_t tags[] = {7, 3, 7, 5};
    for (const Case& c : cases) {
        QXDB db{};
        ASSERT_EQ(MakeReadArchivName2(&db, c.kind, c.ext, &sys_, c.time), 0);
        ASSERT_EQ(QXDBCreateSortTime(&db, short(c.kind), 4, tags), 0);
        EXPECT_LE(db.fd, 0);
        const std::string got = Bytes(c.name);
        const std::string want = ExpectedFile(c.kind, c.inter, c.ninter, {3, 5, 7});
        ASSERT_EQ(got.size(), want.size()) << c.name;
        EXPECT_TRUE(got == want) << c.name;
    }
    // Index of the day file at 544 + 3 x 96 x 8.
    EXPECT_EQ(U32(Bytes("20240315.DATA"), 24), 2848u);
}

TEST_F(ArchiveTest, HeaderCarriesTheDefaultTimeZone) {
    std::filesystem::copy_file(qx_test::DataFile("timezone/example.ini"), sandbox_.path("/home/kwz/MS_TZInfo.ini"));
    QXDB db{};
    const int32_t tag = 1;
    MakeReadArchivName2(&db, 1, ".DATA", &sys_, Jul(2024, 3, 15));
    ASSERT_EQ(QXDBCreateSortTime(&db, 1, 1, &tag), 0);
    const std::string bytes = Bytes("20240315.DATA");
    EXPECT_EQ(U32(bytes, 32), uint32_t(-60));       // Bias
    EXPECT_EQ(U16(bytes, 32 + 68 + 2), 10u);        // StandardDate.wMonth
    EXPECT_EQ(U16(bytes, 32 + 152 + 2), 3u);        // DaylightDate.wMonth
    EXPECT_EQ(U32(bytes, 32 + 168), uint32_t(-60));  // DaylightBias
    EXPECT_EQ(U32(bytes, 208), QX_ARCHIV_LITTLE_ENDIAN);
}

TEST_F(ArchiveTest, CreationWithoutTagsCreatesNothing) {
    QXDB db{};
    MakeReadArchivName2(&db, 1, ".DATA", &sys_, Jul(2024, 3, 15));
    EXPECT_EQ(QXDBCreateSortTime(&db, 1, 0, nullptr), 0);
    EXPECT_FALSE(Exists("20240315.DATA"));
    sys_.inter = 0;  // a slot length of 0 names a file that can't be made
    MakeReadArchivName2(&db, 1, ".DATA", &sys_, Jul(2024, 3, 15));
    const int32_t tag = 1;
    EXPECT_LT(QXDBCreateSortTime(&db, 1, 1, &tag), 0);
    EXPECT_FALSE(Exists("20240315.DATA"));
}

TEST_F(ArchiveTest, OpenReadsHeaderAndIndexViews) {
    QXDB db{};
    const int32_t tags[] = {9, 4};
    MakeReadArchivName2(&db, 2, ".DATA.ST", &sys_, Jul(2024, 3, 15));
    ASSERT_EQ(QXDBCreateSortTime(&db, 2, 2, tags), 0);
    ASSERT_EQ(QXDBOpen2(&db), 0);
    ASSERT_NE(db.Header, nullptr);
    ASSERT_NE(db.Index, nullptr);
    EXPECT_GT(db.fd, 0);
    EXPECT_EQ(db.Header->NTags, 2);
    EXPECT_EQ(db.IndexOffset, 544u + 2 * 96 * 4);
    EXPECT_EQ(db.IndexSize, 24u);
    EXPECT_EQ(db.Index[1].TagNr, 9u);
    EXPECT_EQ(db.Index[1].Offset, 548u);
    QXDBClose2(&db, 0);
    EXPECT_EQ(db.fd, -1);
    EXPECT_EQ(db.Header, nullptr);
    EXPECT_EQ(db.Index, nullptr);

    QXDB missing{};
    MakeReadArchivName2(&missing, 1, ".DATA", &sys_, Jul(2020, 1, 1));
    EXPECT_EQ(QXDBOpen2(&missing), 0);  // no file: open, but no views
    EXPECT_EQ(missing.Header, nullptr);
}

TEST_F(ArchiveTest, ExtensionByANewTagKeepsOldRowsAndLeavesOldFile) {
    const double t = Jul(2024, 3, 15, 10, 15);
    QXDB db{};
    const int32_t tags[] = {3, 5};
    const double values[] = {1.5, 2.5};
    ASSERT_EQ(WriteArchivQX2(&db, t, 2, &sys_, tags, values), 0);
    const std::string before = Bytes("20240315.DATA");

    // Present tags only: nothing changes, the file stays open.
    ASSERT_GT(db.fd, 0);
    EXPECT_EQ(QXDBExtendSortTime(&db, &sys_, 1, 1, tags + 1, t), 0);
    EXPECT_GT(db.fd, 0);
    EXPECT_FALSE(Exists("20240315.DATA.OLD"));

    const int32_t more[] = {4, 4, 5};
    EXPECT_EQ(QXDBExtendSortTime(&db, &sys_, 1, 3, more, t), 0);
    EXPECT_LE(db.fd, 0);  // the next operation opens the new file
    EXPECT_TRUE(Bytes("20240315.DATA.OLD") == before);
    EXPECT_FALSE(Exists("20240315.DATA.NEW"));
    const std::string after = Bytes("20240315.DATA");
    EXPECT_TRUE(after.substr(0, 8) == std::string(8, '\0'));
    EXPECT_EQ(U32(after, 8), 3u);
    const uint32_t row41 = 544 + 41 * 3 * 8;
    EXPECT_EQ(F64(after, row41), 1.5);
    EXPECT_TRUE(std::isnan(F64(after, row41 + 8)));  // the new tag 4 starts empty
    EXPECT_EQ(F64(after, row41 + 16), 2.5);
    const uint32_t index = U32(after, 24);
    EXPECT_EQ(index, 544u + 3 * 96 * 8);
    EXPECT_EQ(U32(after, index + 12), 4u);
    EXPECT_EQ(U32(after, index + 16), 552u);
    EXPECT_EQ(after.size(), index + 36u);
    // Every other row of the old tags stayed empty.
    size_t filled = 0;
    for (uint32_t pos = 544; pos < index; pos += 8) filled += !std::isnan(F64(after, pos));
    EXPECT_EQ(filled, 2u);
}

TEST_F(ArchiveTest, ExtensionAfterAChangedSlotLengthPlacesOldValuesByTime) {
    const int32_t tag = 1;
    const double v = 7.0;
    QXDB db{};
    // Old rows 42 (10:30) and 43 (10:45) both fall into new slot 21: the
    // later one is what the new slot keeps.
    ASSERT_EQ(WriteArchivQX2(&db, Jul(2024, 3, 15, 10, 45), 1, &sys_, &tag, &v), 0);
    QXDBClose2(&db, 0);
    sys_.inter = 1800;  // configuration changed: the new file gets 48 slots
    const int32_t two = 2;
    const double w = 8.0;
    ASSERT_EQ(WriteArchivQX2(&db, Jul(2024, 3, 15, 11), 1, &sys_, &two, &w), 0);
    QXDBClose2(&db, 0);
    const std::string bytes = Bytes("20240315.DATA");
    EXPECT_EQ(U32(bytes, 16), 48u);
    EXPECT_EQ(F64(bytes, 544 + 21 * 16), 7.0);      // 10:45 is in slot 21 of 1800 s
    EXPECT_EQ(F64(bytes, 544 + 22 * 16 + 8), 8.0);  // 11:00 is slot 22
}

// Corrupt files: each mutation of a good file must be refused at open, and
// readers and writers must skip the file without touching it.
TEST_F(ArchiveTest, CorruptFilesAreRefused) {
    const double t = Jul(2024, 3, 15, 10);
    const int32_t tags[] = {1, 2, 3};
    const double values[] = {1, 2, 3};
    QXDB db{};
    ASSERT_EQ(WriteArchivQX2(&db, t, 3, &sys_, tags, values), 0);
    QXDBClose2(&db, 0);
    const std::string good = Bytes("20240315.DATA");
    const uint32_t index = U32(good, 24);
    struct Mutation { const char* what; size_t at; uint32_t value; size_t cut; };
    const Mutation mutations[] = {
        {"NTags huge", 8, 0x7FFFFFFF, 0},
        {"NTags zero", 8, 0, 0},
        {"NTags negative", 8, 0xFFFFFFFF, 0},
        {"IndexOffset beyond file", 24, 0xFFFFFF00, 0},
        {"IndexOffset inside header", 24, 100, 0},
        {"IndexOffset off the data size", 24, index - 8, 0},
        {"Inter does not match NInter", 12, 600, 0},
        {"Inter zero", 12, 0, 0},
        {"NInter huge", 16, 0x40000000, 0},
        {"entry offset beyond data", index + 4, index, 0},
        {"entry offset in header", index + 16, 8, 0},
        {"index unsorted", index + 12, 9, 0},
        {"wrong slot width", index + 10, 4, 0},
        {"file cut short", 0, 0, 20},
        {"file cut into data", 0, 0, good.size() - 700},
    };
    for (const Mutation& m : mutations) {
        std::string bad = good;
        if (m.cut)
            bad.resize(bad.size() - m.cut);
        else if (m.what == std::string("wrong slot width"))
            bad[m.at] = char(m.value);
        else
            PutU32(bad, m.at, m.value);
        qx_test::WriteFile(dir_ / "20240315.DATA", bad);

        QXDB probe{};
        MakeReadArchivName2(&probe, 1, ".DATA", &sys_, t);
        EXPECT_EQ(QXDBOpen2(&probe), -9) << m.what;
        EXPECT_EQ(probe.Header, nullptr) << m.what;
        EXPECT_EQ(probe.Index, nullptr) << m.what;
        EXPECT_EQ(probe.fd, -1) << m.what;

        Table<double> table;
        int32_t rows = -1;
        EXPECT_EQ(ReadArchivUTC(Jul(2024, 3, 15), Jul(2024, 3, 15, 23, 45), &sys_, nullptr, 3, tags, &rows,
                                &table.data), 0) << m.what;
        EXPECT_EQ(rows, 0) << m.what;

        QXDB writer{};
        const int32_t four = 4;
        const double v = 4;
        EXPECT_EQ(WriteArchivQX2(&writer, t, 1, &sys_, &four, &v), 0) << m.what;
        QXDBClose2(&writer, 0);
        EXPECT_TRUE(Bytes("20240315.DATA") == bad) << m.what;
        EXPECT_FALSE(Exists("20240315.DATA.OLD")) << m.what;
    }
}

TEST_F(ArchiveTest, ViewsMapAndWriteBack) {
    const int32_t tags[] = {1};
    QXDB db{};
    MakeReadArchivName2(&db, 1, ".DATA", &sys_, Jul(2024, 3, 15));
    ASSERT_EQ(QXDBCreateSortTime(&db, 1, 1, tags), 0);
    const int fd = open(db.Path, O_RDWR);
    ASSERT_GE(fd, 0);
    auto* view = static_cast<uint8_t*>(MapViewOfFile2(fd, 544, 8));
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view[0], 0xFF);
    view[0] = 0x11;
    EXPECT_EQ(UnmapViewOfFile2(fd, 544, view, 8, 1), 1);
    EXPECT_EQ(MapViewOfFile2(fd, 544 + 96 * 8, 100), nullptr);  // past the end
    close(fd);
    EXPECT_EQ(uint8_t(Bytes("20240315.DATA")[544]), 0x11);
}

}  // namespace
