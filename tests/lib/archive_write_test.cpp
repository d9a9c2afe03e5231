// Writing archive steps: the direct writers and their slot positions, the
// tag-major writer, and the queue writers with their message layout,
// including steps that need several messages.
#include <gtest/gtest.h>
#include <sys/msg.h>

#include <cmath>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "archive_fixture.hpp"
#include "archive_message.hpp"

using namespace archive_test;

namespace {

double Slot(const std::string& bytes, uint32_t ntags, uint32_t row, uint32_t column) {
    return F64(bytes, 544 + (row * ntags + column) * 8);
}

TEST_F(ArchiveTest, StepsLandInTheRowOfTheirTime) {
    QXDB db{};
    const int32_t tags[] = {10, 20};
    struct Step { double time; double a, b; uint32_t row; const char* file; };
    const Step steps[] = {
        {Jul(2024, 3, 16, 0, 0, 0), 1, 2, 0, "20240316.DATA"},   // first step after midnight
        {Jul(2024, 3, 16, 10, 15, 0), 3, 4, 41, "20240316.DATA"},
        {Jul(2024, 3, 16, 10, 30, 1), 5, 6, 42, "20240316.DATA"},  // a second late: same row
        {Jul(2024, 3, 15, 23, 45, 0), 7, 8, 95, "20240315.DATA"},  // back to the previous day's file
    };
    for (const Step& s : steps) {
        const double values[] = {s.a, s.b};
        ASSERT_EQ(WriteArchivQX2(&db, s.time, 2, &sys_, tags, values), 0);
    }
    QXDBClose2(&db, 0);
    for (const Step& s : steps) {
        const std::string bytes = Bytes(s.file);
        EXPECT_EQ(Slot(bytes, 2, s.row, 0), s.a) << s.file << " row " << s.row;
        EXPECT_EQ(Slot(bytes, 2, s.row, 1), s.b) << s.file << " row " << s.row;
    }
}

TEST_F(ArchiveTest, PartialRepeatedAndDuplicateStepsKeepTheRightValues) {
    QXDB db{};
    const double t = Jul(2024, 3, 15, 10, 15);
    const int32_t all[] = {1, 2, 3};
    const double first[] = {1, 2, 3};
    ASSERT_EQ(WriteArchivQX2(&db, t, 3, &sys_, all, first), 0);
    const int32_t part[] = {2, 2};  // tag 2 twice: the later value wins
    const double second[] = {20, 21};
    ASSERT_EQ(WriteArchivQX2(&db, t, 2, &sys_, part, second), 0);
    const int32_t again[] = {3};
    const double third[] = {30};
    ASSERT_EQ(WriteArchivQX2(&db, t, 1, &sys_, again, third), 0);
    QXDBClose2(&db, 0);
    const std::string bytes = Bytes("20240315.DATA");
    EXPECT_EQ(Slot(bytes, 3, 41, 0), 1);
    EXPECT_EQ(Slot(bytes, 3, 41, 1), 21);
    EXPECT_EQ(Slot(bytes, 3, 41, 2), 30);
    EXPECT_TRUE(std::isnan(Slot(bytes, 3, 40, 0)));
}

// The writer remembers the tag list that last filled a whole row of an open
// file.  When the handle moves on to another file with as many tags but other
// ones, that list must not pass for its row: the file is extended instead.
TEST_F(ArchiveTest, AWholeRowListIsCheckedAgainInTheNextFile) {
    QXDB other{};
    const int32_t next_day_tags[] = {1, 2, 4};
    const double next_day_values[] = {1, 2, 4};
    ASSERT_EQ(WriteArchivQX2(&other, Jul(2024, 3, 16, 0, 0), 3, &sys_, next_day_tags, next_day_values), 0);
    QXDBClose2(&other, 0);

    QXDB db{};
    const int32_t tags[] = {1, 2, 3};
    const double values[] = {11, 12, 13};
    ASSERT_EQ(WriteArchivQX2(&db, Jul(2024, 3, 15, 23, 30), 3, &sys_, tags, values), 0);
    ASSERT_EQ(WriteArchivQX2(&db, Jul(2024, 3, 15, 23, 45), 3, &sys_, tags, values), 0);
    ASSERT_EQ(WriteArchivQX2(&db, Jul(2024, 3, 16, 0, 15), 3, &sys_, tags, values), 0);
    QXDBClose2(&db, 0);
    const std::string bytes = Bytes("20240316.DATA");
    ASSERT_EQ(U32(bytes, 8), 4u) << "tag 3 joins the next day's file";
    EXPECT_EQ(Slot(bytes, 4, 0, 3), 4);   // tag 4 keeps its value of 00:00
    EXPECT_EQ(Slot(bytes, 4, 1, 2), 13);  // tag 3 of 00:15 in its own column
    EXPECT_TRUE(std::isnan(Slot(bytes, 4, 1, 3)));
}

TEST_F(ArchiveTest, StatusAndDetailWritersUseTheirFiles) {
    const int32_t tags[] = {5};
    const uint32_t words[] = {0x4000};
    const double values[] = {2.25};
    QXDB handles[4] = {};
    const double t = Jul(2024, 3, 15, 7, 42, 30);
    ASSERT_EQ(WriteArchivStatusQX2(&handles[1], t, 1, &sys_, tags, words), 0);
    ASSERT_EQ(WriteDetailQX2(&handles[2], t, 1, &sys_, tags, values), 0);
    ASSERT_EQ(WriteDetailStatusQX2(&handles[3], t, 1, &sys_, tags, words), 0);
    for (QXDB& h : handles) QXDBClose2(&h, 0);
    EXPECT_EQ(U32(Bytes("20240315.DATA.ST"), 544 + 30 * 4), 0x4000u);  // 07:42:30 / 900 s = row 30
    EXPECT_EQ(F64(Bytes("2024031507.DETAIL"), 544 + 42 * 8), 2.25);   // minute 42 of 60 s slots
    EXPECT_EQ(U32(Bytes("2024031507.DETAIL.ST"), 544 + 42 * 4), 0x4000u);
}

TEST_F(ArchiveTest, WriterThatFindsNoFileWritesNothing) {
    QXDB db{};
    MakeReadArchivName2(&db, 1, ".DATA", &sys_, Jul(2024, 3, 15));
    const int32_t tag = 1;
    const double v = 1;
    EXPECT_EQ(WriteArchivSortTime(&db, Jul(2024, 3, 15), 1, 1, &tag, &v, nullptr), 0);
    EXPECT_FALSE(Exists("20240315.DATA"));
    qx_test::WriteFile(dir_ / "20240315.DATA", std::string(555, 'x'));
    EXPECT_EQ(WriteArchivSortTime(&db, Jul(2024, 3, 15), 1, 1, &tag, &v, nullptr), 0);
    EXPECT_EQ(Bytes("20240315.DATA"), std::string(555, 'x'));
}

TEST_F(ArchiveTest, TagMajorFilesStoreAddAndExtend) {
    QXDB db{};
    MakeReadArchivName2(&db, 1, ".DATA", &sys_, Jul(2024, 3, 15));
    const int32_t tags[] = {8, 2};
    const double values[] = {1.0, 2.5};
    const double t = Jul(2024, 3, 15, 0, 30);  // slot 2
    ASSERT_EQ(WriteArchivSortTags(&db, 0, 2, tags, values, t), 0);
    const double nan_value = GetNan();
    ASSERT_EQ(WriteArchivSortTags(&db, 1, 1, tags + 1, &values[1], Jul(2024, 3, 15, 0, 45)), 0);  // empty + 2.5
    ASSERT_EQ(WriteArchivSortTags(&db, 1, 1, tags + 1, &nan_value, Jul(2024, 3, 15, 0, 45)), 0);  // NaN: unchanged
    ASSERT_EQ(WriteArchivSortTags(&db, 1, 1, tags + 1, &values[1], t), 0);  // 2.5 + 2.5
    const int32_t added = 5;
    const double five = 5;
    ASSERT_EQ(WriteArchivSortTags(&db, 0, 1, &added, &five, t), 0);
    QXDBClose2(&db, 0);
    const std::string bytes = Bytes("20240315.DATA");
    // Blocks: tag 2 at 544, tag 8 after it, tag 5 appended after the old index.
    EXPECT_EQ(F64(bytes, 544 + 2 * 8), 5.0);
    EXPECT_EQ(F64(bytes, 544 + 3 * 8), 2.5);
    EXPECT_EQ(F64(bytes, 544 + 96 * 8 + 2 * 8), 1.0);
    EXPECT_EQ(U32(bytes, 8), 3u);
    const uint32_t index = U32(bytes, 24);
    EXPECT_EQ(index, 544u + 3 * 96 * 8);
    EXPECT_EQ(U32(bytes, index + 12), 5u);
    EXPECT_EQ(U32(bytes, index + 16), 544u + 2 * 96 * 8);
    EXPECT_EQ(F64(bytes, 544 + 2 * 96 * 8 + 2 * 8), 5.0);

    const int32_t want[] = {2, 5, 8, 99};
    Table<double> table;
    int32_t rows = 0;
    QXDB reader{};
    MakeReadArchivName2(&reader, 1, ".DATA", &sys_, Jul(2024, 3, 15));
    ASSERT_EQ(ReadArchivSortTags(&reader, Jul(2024, 3, 15), Jul(2024, 3, 15, 1), &sys_, nullptr, 4, want, &rows,
                                 &table.data), 0);
    ASSERT_EQ(rows, 4);
    EXPECT_EQ(table.data[2 * 4 + 0], 5.0);
    EXPECT_EQ(table.data[2 * 4 + 1], 5.0);
    EXPECT_EQ(table.data[2 * 4 + 2], 1.0);
    EXPECT_TRUE(std::isnan(table.data[2 * 4 + 3]));
    EXPECT_EQ(table.data[3 * 4 + 0], 2.5);
}

// ---- messages ---------------------------------------------------------------

struct Received {
    long type;
    std::vector<uint8_t> body;
};

std::vector<Received> Drain(int id) {
    std::vector<Received> out;
    std::vector<uint8_t> buffer(8 + QX_ARCHIV_MSG_MAX);
    for (;;) {
        const ssize_t got = msgrcv(id, buffer.data(), QX_ARCHIV_MSG_MAX, 0, IPC_NOWAIT);
        if (got < 0) break;
        long type;
        std::memcpy(&type, buffer.data(), sizeof type);
        out.push_back({type, std::vector<uint8_t>(buffer.begin() + 8, buffer.begin() + 8 + got)});
    }
    return out;
}

TEST(ArchiveMessage, LayoutOfSmallSteps) {
    qx_test::EnterPrivateIpcNamespace();
    const int id = msgget(QX_ARCHIV_MSG_KEY, IPC_CREAT | 0666);
    ASSERT_GE(id, 0);
    const int32_t tags[] = {1, 2, 3};
    const double values[] = {1.5, 2.5, 3.5};
    const uint32_t words[] = {7, 8, 9};
    const double t = 45366.5;
    ASSERT_EQ(WriteArchiv(3, nullptr, tags, values, t), 0);
    ASSERT_EQ(WriteArchivStatus(3, nullptr, tags, words, t), 0);
    ASSERT_EQ(WriteDetail(0, nullptr, tags, values, t), 0);  // nothing to send
    const auto got = Drain(id);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].type, 1);
    EXPECT_EQ(got[0].body.size(), 56u);  // record length 60
    EXPECT_EQ(got[1].type, 2);
    EXPECT_EQ(got[1].body.size(), 44u);  // record length 48
    EXPECT_EQ(qx::archive::record_length(1, 3), 60u);
    EXPECT_EQ(qx::archive::record_length(2, 3), 48u);
    const std::vector<uint8_t> zeros(4, 0);
    EXPECT_TRUE(std::equal(zeros.begin(), zeros.end(), got[0].body.end() - 4));

    qx::archive::StepView step;
    ASSERT_TRUE(qx::archive::decode_step(got[0].type, got[0].body, step));
    EXPECT_EQ(step.time, t);
    ASSERT_EQ(step.n, 3u);
    EXPECT_EQ(step.tag(2), 3);
    EXPECT_EQ(step.value(1), 2.5);
    ASSERT_TRUE(qx::archive::decode_step(got[1].type, got[1].body, step));
    EXPECT_EQ(step.status(2), 9u);
}

TEST(ArchiveMessage, DecodeRefusesShortOrForeignBodies) {
    std::vector<uint8_t> body(56, 0);
    int64_t n = 3;
    std::memcpy(body.data() + 8, &n, 8);
    qx::archive::StepView step;
    EXPECT_TRUE(qx::archive::decode_step(1, body, step));
    EXPECT_FALSE(qx::archive::decode_step(5, body, step));
    EXPECT_FALSE(qx::archive::decode_step(1, std::span(body).first(40), step));
    n = 0x7FFFFFFF;
    std::memcpy(body.data() + 8, &n, 8);
    EXPECT_FALSE(qx::archive::decode_step(1, body, step));
    n = -1;
    std::memcpy(body.data() + 8, &n, 8);
    EXPECT_FALSE(qx::archive::decode_step(2, body, step));
    EXPECT_FALSE(qx::archive::decode_step(1, std::span(body).first(10), step));
}

TEST(ArchiveMessage, PartSizesFollowTheKernelLimits) {
    EXPECT_EQ(qx::archive::tags_per_message(1, 8192, 16384), 681u);
    EXPECT_EQ(qx::archive::tags_per_message(2, 8192, 16384), 1021u);
    EXPECT_EQ(qx::archive::tags_per_message(1, 1 << 20, 1 << 20), 4096u);  // the receiver's buffer
    EXPECT_EQ(qx::archive::tags_per_message(4, 1 << 20, 1 << 20), 6144u);
    EXPECT_EQ(qx::archive::tags_per_message(3, 8192, 4000), 331u);
    EXPECT_EQ(qx::archive::tags_per_message(1, 16, 16384), 0u);
}

// A full step of 4096 values and status words under the default limits:
// it travels in parts that each fit the kernel's limit, and the data server
// side (decode + direct writer) puts all of it into one row.
TEST(ArchiveMessage, LargeStepsArriveCompleteInParts) {
    qx_test::EnterPrivateIpcNamespace();
    qx_test::Sandbox sandbox;
    const auto dir = sandbox.root() / "arc";
    std::filesystem::create_directories(dir);
    VelmoSystem sys{};
    sys.inter = 900;
    sys.stoer_takt = 60;
    std::snprintf(sys.dir_archiv, sizeof sys.dir_archiv, "%s", dir.c_str());

    const int id = msgget(QX_ARCHIV_MSG_KEY, IPC_CREAT | 0666);
    ASSERT_GE(id, 0);
    std::vector<int32_t> tags(4096);
    std::vector<double> values(4096);
    std::vector<uint32_t> words(4096);
    for (int i = 0; i < 4096; ++i) {
        tags[size_t(i)] = 4096 - i;
        values[size_t(i)] = i * 0.5;
        words[size_t(i)] = uint32_t(i);
    }
    const double t = Jul(2024, 3, 15, 10, 15);
    std::vector<Received> got;
    std::atomic<bool> done{false};
    std::thread receiver([&] {
        // A slow receiver: the senders must wait for room, not drop parts.
        while (!done.load()) {
            for (auto& r : Drain(id)) got.push_back(std::move(r));
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        for (auto& r : Drain(id)) got.push_back(std::move(r));
    });
    const int r1 = WriteArchiv(4096, &sys, tags.data(), values.data(), t);
    const int r2 = WriteArchivStatus(4096, &sys, tags.data(), words.data(), t);
    done = true;
    receiver.join();
    ASSERT_EQ(r1, 0);
    ASSERT_EQ(r2, 0);

    msqid_ds ds{};
    ASSERT_EQ(msgctl(id, IPC_STAT, &ds), 0);
    QXDB handles[4] = {};
    std::map<long, uint32_t> tags_of_type;
    for (const Received& r : got) {
        EXPECT_LE(r.body.size(), 8192u);
        qx::archive::StepView step;
        ASSERT_TRUE(qx::archive::decode_step(r.type, r.body, step));
        EXPECT_EQ(step.time, t);
        tags_of_type[r.type] += step.n;
        qx::archive::write_step(handles, step, &sys);
    }
    for (QXDB& h : handles) QXDBClose2(&h, 0);
    EXPECT_EQ(got.size(), 7u + 5u);  // 681 values or 1021 status words a part
    EXPECT_EQ(tags_of_type[1], 4096u);
    EXPECT_EQ(tags_of_type[2], 4096u);

    const std::string data = qx_test::ReadFile(dir / "20240315.DATA");
    const std::string status = qx_test::ReadFile(dir / "20240315.DATA.ST");
    for (int i = 0; i < 4096; ++i) {
        // Tag 4096 - i sits in column 4095 - i of row 41.
        ASSERT_EQ(F64(data, 544 + (41 * 4096 + uint32_t(4095 - i)) * 8), i * 0.5) << i;
        ASSERT_EQ(U32(status, 544 + (41 * 4096 + uint32_t(4095 - i)) * 4), uint32_t(i)) << i;
    }
}

TEST(ArchiveMessage, FullQueueFailsAfterWaiting) {
    qx_test::EnterPrivateIpcNamespace();
    const int id = msgget(QX_ARCHIV_MSG_KEY, IPC_CREAT | 0666);
    ASSERT_GE(id, 0);
    std::vector<int32_t> tags(681, 1);
    std::vector<double> values(681, 1.0);
    ASSERT_EQ(WriteArchiv(681, nullptr, tags.data(), values.data(), 1.0), 0);
    ASSERT_EQ(WriteArchiv(681, nullptr, tags.data(), values.data(), 1.0), 0);
    // Nobody drains the queue: the third step is reported as lost.
    EXPECT_EQ(WriteArchiv(681, nullptr, tags.data(), values.data(), 1.0), -EAGAIN);
    EXPECT_EQ(Drain(id).size(), 2u);
}

}  // namespace
