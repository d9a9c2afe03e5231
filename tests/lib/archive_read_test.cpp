// Reading archive ranges: rounding, row counts, missing and too-small files,
// tags a file lacks, local versus UTC, table ownership, detail reads across
// hours, the minute trend, and agreement with a plain slot-by-slot reading.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "archive_fixture.hpp"
#include "attach_state.hpp"

using namespace archive_test;

namespace {

class ArchiveReadTest : public ArchiveTest {
protected:
    // Writes value = tag * 1000 + slot into the given slots of a day.
    void FillDay(int y, int mo, int d, const std::vector<int32_t>& tags, int first_slot, int last_slot) {
        QXDB db{};
        std::vector<double> values(tags.size());
        for (int slot = first_slot; slot <= last_slot; ++slot) {
            for (size_t k = 0; k < tags.size(); ++k) values[k] = tags[k] * 1000.0 + slot;
            const double t = Jul(y, mo, d) + slot * sys_.inter / 86400.0;
            ASSERT_EQ(WriteArchivQX2(&db, t, int(tags.size()), &sys_, tags.data(), values.data()), 0);
        }
        QXDBClose2(&db, 0);
    }
    int32_t Read(double start, double end, std::vector<int32_t> tags, Table<double>& table) {
        int32_t rows = -1;
        EXPECT_EQ(ReadArchivUTC(start, end, &sys_, nullptr, int32_t(tags.size()), tags.data(), &rows, &table.data), 0);
        return rows;
    }
};

TEST_F(ArchiveReadTest, RangeIsRoundedToTheInterval) {
    FillDay(2024, 3, 15, {1, 2}, 38, 50);
    Table<double> table;
    // 10:07 .. 11:00 gives 10:00, 10:15, 10:30, 10:45, 11:00.
    ASSERT_EQ(Read(Jul(2024, 3, 15, 10, 7), Jul(2024, 3, 15, 11), {2, 1}, table), 5);
    for (int r = 0; r < 5; ++r) {
        EXPECT_EQ(table.data[r * 2 + 0], 2000.0 + 40 + r);
        EXPECT_EQ(table.data[r * 2 + 1], 1000.0 + 40 + r);
    }
    // One slot time: row count 1 with a value, 0 when the slot is empty.
    EXPECT_EQ(Read(Jul(2024, 3, 15, 10, 14), Jul(2024, 3, 15, 10, 14), {1}, table), 1);
    EXPECT_EQ(table.data[0], 1040.0);
    EXPECT_EQ(Read(Jul(2024, 3, 15, 3), Jul(2024, 3, 15, 3), {1}, table), 0);
    // End several intervals before the start: nothing.
    EXPECT_EQ(Read(Jul(2024, 3, 15, 11), Jul(2024, 3, 15, 10), {1}, table), 0);
}

// A day file laid out by hand (tests/data/archive): tags 1, 2, 3 and 5,
// value tag x 100 + row in rows 0 to 3 and 95, tag 3 empty in row 2.
TEST_F(ArchiveReadTest, ReadsAFileWrittenElsewhere) {
    std::filesystem::copy_file(qx_test::DataFile("archive/20240315.DATA"), dir_ / "20240315.DATA");
    Table<double> table;
    ASSERT_EQ(Read(Jul(2024, 3, 15), Jul(2024, 3, 15, 1), {5, 3, 4}, table), 4);
    for (int r = 0; r < 4; ++r) {
        EXPECT_EQ(table.data[r * 3], 500.0 + r);
        if (r == 2)
            EXPECT_TRUE(std::isnan(table.data[r * 3 + 1]));
        else
            EXPECT_EQ(table.data[r * 3 + 1], 300.0 + r);
        EXPECT_TRUE(std::isnan(table.data[r * 3 + 2]));  // tag 4 is not in the file
    }
    ASSERT_EQ(Read(Jul(2024, 3, 15), Jul(2024, 3, 15, 23, 59), {1, 2, 3, 5}, table), 96);
    EXPECT_EQ(table.data[95 * 4 + 1], 295.0);
}

TEST_F(ArchiveReadTest, MissingDayAndMissingTagStayEmpty) {
    FillDay(2024, 3, 15, {1, 2}, 90, 95);
    FillDay(2024, 3, 17, {2}, 0, 1);  // the 16th has no file; tag 1 is not in the 17th
    Table<double> table;
    const int32_t rows = Read(Jul(2024, 3, 15, 22, 30), Jul(2024, 3, 17, 0, 15), {1, 2}, table);
    // 22:30 on the 15th is row 0; 00:15 on the 17th is row 6 + 96 + 1.
    ASSERT_EQ(rows, 6 + 96 + 2);
    EXPECT_EQ(table.data[0], 1090.0);
    EXPECT_EQ(table.data[5 * 2 + 1], 2095.0);
    for (int r = 6; r < 6 + 96; ++r) EXPECT_TRUE(std::isnan(table.data[r * 2]) && std::isnan(table.data[r * 2 + 1]));
    EXPECT_TRUE(std::isnan(table.data[(6 + 96) * 2]));
    EXPECT_EQ(table.data[(6 + 96) * 2 + 1], 2000.0);
    EXPECT_EQ(table.data[(6 + 97) * 2 + 1], 2001.0);

    // Without the 17th, the count ends at the last value of the 15th.
    std::filesystem::remove(dir_ / "20240317.DATA");
    EXPECT_EQ(Read(Jul(2024, 3, 15, 22, 30), Jul(2024, 3, 17, 0, 15), {1, 2}, table), 6);
}

TEST_F(ArchiveReadTest, TooSmallFileEndsTheRead) {
    FillDay(2024, 3, 15, {1}, 94, 95);
    qx_test::WriteFile(dir_ / "20240316.DATA", std::string(500, '\0'));
    FillDay(2024, 3, 17, {1}, 0, 3);
    Table<double> table;
    EXPECT_EQ(Read(Jul(2024, 3, 15, 23, 30), Jul(2024, 3, 17, 1), {1}, table), 2);
    EXPECT_EQ(table.data[1], 1095.0);
}

TEST_F(ArchiveReadTest, StatusCountEndsAtTheLastWord) {
    QXDB db{};
    const int32_t tags[] = {3};
    for (int slot = 0; slot < 4; ++slot) {
        const uint32_t word = uint32_t(slot) << 8;
        ASSERT_EQ(WriteArchivStatusQX2(&db, Jul(2024, 3, 15) + slot * 900 / 86400.0, 1, &sys_, tags, &word), 0);
    }
    QXDBClose2(&db, 0);
    Table<uint32_t> table;
    int32_t rows = -1;
    ASSERT_EQ(ReadArchivStatusUTC(Jul(2024, 3, 15), Jul(2024, 3, 15, 23, 45), &sys_, nullptr, 1, tags, &rows,
                                  &table.data), 0);
    EXPECT_EQ(rows, 4);
    EXPECT_EQ(table.data[3], 0x300u);
    EXPECT_EQ(table.data[4], 0xFFFFFFFFu);
}

TEST_F(ArchiveReadTest, LocalReadCoversTheSameInstants) {
    FillDay(2024, 3, 15, {1}, 0, 95);
    FillDay(2024, 3, 16, {1}, 0, 95);
    std::memset(&KWZ_TimeZone, 0, sizeof KWZ_TimeZone);
    KWZ_TimeZone.Bias = -60;  // local = UTC + 1 h, no daylight rule
    const int32_t tag = 1;
    Table<double> local, utc;
    int32_t local_rows = 0, utc_rows = 0;
    ASSERT_EQ(ReadArchiv(Jul(2024, 3, 16, 0, 30), Jul(2024, 3, 16, 3), &sys_, nullptr, 1, &tag, &local_rows,
                         &local.data), 0);
    ASSERT_EQ(ReadArchivUTC(Jul(2024, 3, 15, 23, 30), Jul(2024, 3, 16, 2), &sys_, nullptr, 1, &tag, &utc_rows,
                            &utc.data), 0);
    ASSERT_EQ(local_rows, 11);
    ASSERT_EQ(local_rows, utc_rows);
    for (int r = 0; r < local_rows; ++r) EXPECT_EQ(local.data[r], utc.data[r]) << r;
    EXPECT_EQ(local.data[0], 1094.0);
    EXPECT_EQ(local.data[2], 1000.0);
}

TEST_F(ArchiveReadTest, PreviousTableIsReleasedAndUnknownKindsTouchNothing) {
    FillDay(2024, 3, 15, {1}, 0, 0);
    Table<double> table;
    table.data = static_cast<double*>(std::malloc(64));  // a previous result
    Read(Jul(2024, 3, 15), Jul(2024, 3, 15), {1}, table);  // ASan reports a leak if not freed
    ASSERT_NE(table.data, nullptr);
    EXPECT_EQ(table.data[0], 1000.0);

    double* before = table.data;
    uint32_t* status = nullptr;
    int32_t rows = 77;
    QXDB db{};
    const int32_t tag = 1;
    EXPECT_EQ(ReadArchivSortTime(&db, 5, 0, 1, &sys_, nullptr, 1, &tag, &rows, &table.data, &status), -12);
    EXPECT_EQ(rows, 77);
    EXPECT_EQ(table.data, before);

    // No tags: no table, row count 0.
    EXPECT_EQ(ReadArchivUTC(Jul(2024, 3, 15), Jul(2024, 3, 15), &sys_, nullptr, 0, &tag, &rows, &table.data), 0);
    EXPECT_EQ(rows, 0);
    EXPECT_EQ(table.data, nullptr);
}

TEST_F(ArchiveReadTest, DetailReadFollowsTheHourFiles) {
    sys_.stoer_takt = 600;
    const int32_t tags[] = {4};
    QXDB db{};
    // 10:00-10:50 exists, 11:xx is missing, 12:00-12:50 exists.
    for (int hour : {10, 12})
        for (int m = 0; m < 60; m += 10) {
            const double v = hour * 100 + m;
            ASSERT_EQ(WriteDetailQX2(&db, Jul(2024, 3, 15, hour, m), 1, &sys_, tags, &v), 0);
        }
    QXDBClose2(&db, 0);
    Table<double> table;
    int32_t rows = 0;
    ASSERT_EQ(ReadDetailUTC(Jul(2024, 3, 15, 10, 40), Jul(2024, 3, 15, 12, 20), &sys_, nullptr, 1, tags, &rows,
                            &table.data), 0);
    ASSERT_EQ(rows, 11);
    const double want[] = {1040, 1050, NAN, NAN, NAN, NAN, NAN, NAN, 1200, 1210, 1220};
    for (int r = 0; r < 11; ++r) {
        if (std::isnan(want[r]))
            EXPECT_TRUE(std::isnan(table.data[r])) << r;
        else
            EXPECT_EQ(table.data[r], want[r]) << r;
    }
    // A day whose first hour file is missing still gives its later hours.
    ASSERT_EQ(ReadDetailUTC(Jul(2024, 3, 15, 11, 0), Jul(2024, 3, 15, 12, 0), &sys_, nullptr, 1, tags, &rows,
                            &table.data), 0);
    EXPECT_EQ(rows, 7);
    EXPECT_EQ(table.data[6], 1200.0);
}

// The plain reading: one seek and one read per element, as the file layout
// defines positions.  The library reads whole rows; both must agree.
std::vector<double> PlainRead(const VelmoSystem& sys, double start, double end, const std::vector<int32_t>& tags,
                              int32_t& rows) {
    const int I = sys.inter;
    start = TrimTime(I, start);
    const double end2 = TrimTime(I, end) + I / 172800.0;
    const int64_t capacity = std::max<int64_t>(0, int64_t(std::ceil((end2 - start) * 86400 / I)) + 2);
    std::vector<double> table(size_t(capacity) * tags.size(), GetNan());
    int64_t highest = -1;
    for (int64_t day = int64_t(start); day <= int64_t(end2); ++day) {
        QXDB db{};
        MakeReadArchivName2(&db, 1, ".DATA", &sys, double(day));
        if (QXDBOpen2(&db) != 0 || db.Header == nullptr) continue;
        const ArchivHeader& h = *db.Header;
        for (size_t k = 0; k < tags.size(); ++k) {
            const ArchivIndexEntry* e = nullptr;
            for (int j = 0; j < h.NTags; ++j)
                if (int32_t(db.Index[j].TagNr) == tags[k]) e = &db.Index[j];
            if (e == nullptr) continue;
            double t = day == int64_t(start) ? start - double(day) : 0;
            const double limit = day < int64_t(end2) ? 1.0 : end2 - double(day);
            for (; t < limit; t += I / 86400.0) {
                time_velmo tv;
                JulToTime(double(day) + t, &tv);
                const int slot = (tv.hour * 3600 + tv.min * 60 + tv.sec) / h.Inter;
                if (slot >= h.NInter) break;
                double v;
                pread(db.fd, &v, 8, e->Offset + off_t(slot) * h.NTags * 8);
                const int64_t row = std::llround((double(day) + t - start) * 86400) / I;
                if (!std::isnan(v)) highest = std::max(highest, row);
                table[size_t(row) * tags.size() + k] = v;
            }
        }
        QXDBClose2(&db, 0);
    }
    rows = int32_t(highest + 1);
    return table;
}

TEST_F(ArchiveReadTest, RowReadingAgreesWithSlotBySlotReading) {
    std::mt19937 rng(7);
    std::vector<int32_t> file_tags;
    for (int32_t tag = 1; tag <= 300; tag += 3) file_tags.push_back(tag);
    FillDay(2024, 3, 15, file_tags, 0, 95);
    FillDay(2024, 3, 16, file_tags, 10, 60);
    struct Case { int read_inter; double start, end; };
    const Case cases[] = {
        {900, Jul(2024, 3, 15), Jul(2024, 3, 16, 23, 45)},
        {900, Jul(2024, 3, 15, 13, 7), Jul(2024, 3, 16, 4, 1)},
        {300, Jul(2024, 3, 15, 22), Jul(2024, 3, 16, 6)},   // configuration finer than the files
        {1800, Jul(2024, 3, 15, 1), Jul(2024, 3, 16, 20)},  // and coarser
        {7, Jul(2024, 3, 16, 2, 29, 50), Jul(2024, 3, 16, 2, 45)},
    };
    for (const Case& c : cases) {
        sys_.inter = c.read_inter;
        for (int pick = 0; pick < 3; ++pick) {
            std::vector<int32_t> want = file_tags;  // pick 0: the file's own order
            if (pick > 0) {
                want.clear();
                for (int i = 0; i < 40; ++i) want.push_back(int32_t(rng() % 310));
            }
            int32_t plain_rows = 0;
            const std::vector<double> plain = PlainRead(sys_, c.start, c.end, want, plain_rows);
            Table<double> table;
            const int32_t rows = Read(c.start, c.end, want, table);
            ASSERT_EQ(rows, plain_rows) << c.read_inter << " pick " << pick;
            for (size_t i = 0; i < size_t(rows) * want.size(); ++i) {
                uint64_t a, b;
                std::memcpy(&a, &plain[i], 8);
                std::memcpy(&b, &table.data[i], 8);
                ASSERT_EQ(a, b) << "element " << i << " inter " << c.read_inter << " pick " << pick;
            }
        }
    }
}

TEST(ArchiveTrend, RowsStartAfterTheCurrentMinute) {
    std::vector<TagsInternal> internal(QX_TAG_RECORDS);
    for (int m = 0; m < 60; ++m) {
        internal[7].Trend[m] = 700 + m;
        internal[9].Trend[m] = 900 + m;
    }
    qx::attach_state().tags_internal = internal.data();
    const int32_t tags[] = {9, 7};
    double start = 0, end = 0;
    int32_t rows = 0;
    Table<double> table;
    ASSERT_EQ(ReadTrendUTC(&start, &end, nullptr, nullptr, 2, tags, &rows, &table.data), 0);
    qx::attach_state().tags_internal = nullptr;
    ASSERT_EQ(rows, 60);
    EXPECT_NEAR(end - start, 1 / 24.0, 1e-9);
    time_velmo tv;
    JulToTime(end, &tv);
    EXPECT_EQ(tv.sec, 0);
    for (int j = 0; j < 60; ++j) {
        EXPECT_EQ(table.data[j * 2], 900 + (tv.min + j) % 60) << j;
        EXPECT_EQ(table.data[j * 2 + 1], 700 + (tv.min + j) % 60) << j;
    }
}

}  // namespace
