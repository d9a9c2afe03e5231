// The data server's core in this process: the database it builds, refusal of
// malformed archive-write messages, the idle wait, the queue room, and the
// heap staying flat over many steps.
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/shm.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "datasrv_sandbox.hpp"
#include "qx.h"
#include "sandbox.hpp"
#include "shm_data.hpp"

namespace {

namespace fs = std::filesystem;

using datasrv_test::Utc;

// The body of an archive-write message (what follows the type field).
std::vector<uint8_t> StepBody(double time, int64_t count, const std::vector<int32_t>& tags,
                              const std::vector<double>& values) {
    std::vector<uint8_t> body(16 + 4 * tags.size() + 8 * values.size() + 4, 0);
    std::memcpy(body.data(), &time, 8);
    std::memcpy(body.data() + 8, &count, 8);
    std::memcpy(body.data() + 16, tags.data(), 4 * tags.size());
    std::memcpy(body.data() + 16 + 4 * tags.size(), values.data(), 8 * values.size());
    return body;
}

class DataServerCoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(qx_test::EnterPrivateIpcNamespace());
        archive_ = datasrv_test::WriteConfiguration(sandbox_);
        rMsq = sMsq{-1, QX_KEY_LOG_QUEUE};
        ASSERT_EQ(openMsg(&rMsq), 0);
        DoWork = 1;
    }
    void TearDown() override {
        for (QXDB& handle : handles_) QXDBClose2(&handle, 0);
    }

    void Init() { Qx_Init(QX_CONFIG_NAME, sandbox_.path(QX_CONFIG_FILE).c_str()); }

    std::vector<std::string> TakeLog() {
        std::vector<std::string> texts;
        QX_LogMsg message{};
        int32_t length = QX_LOG_RECORD_LEN;
        while (rcvMsg(&rMsq, &message, &length) > 0) {
            texts.emplace_back(message.text, strnlen(message.text, sizeof message.text));
            length = QX_LOG_RECORD_LEN;
        }
        return texts;
    }

    qx_test::Sandbox sandbox_;
    fs::path archive_;
    datasrv::ArchivHandles handles_{};
};

// Segment 2 left by an earlier run with fewer user fields: the system refuses
// the larger size for the key, so it is replaced instead of left out.
TEST_F(DataServerCoreTest, TooSmallSegmentOfAnEarlierRunIsReplaced) {
    const int old = shmget(static_cast<key_t>(QX_KEY_SEGMENT2), QX_SEG2_FIXED_SIZE, IPC_CREAT | 0666);
    ASSERT_GE(old, 0);
    Init();
    const datasrv::Database& db = datasrv::database();
    ASSERT_NE(db.user_fields, nullptr);
    ASSERT_NE(db.tag_add, nullptr);
    const int now = shmget(static_cast<key_t>(QX_KEY_SEGMENT2), 0, 0);
    shmid_ds ds{};
    ASSERT_EQ(shmctl(now, IPC_STAT, &ds), 0);
    EXPECT_EQ(ds.shm_segsz, size_t{QX_SEG2_FIXED_SIZE} + 4097 * 32);
    EXPECT_EQ(db.answer.sizeSegment2, static_cast<int32_t>(ds.shm_segsz));
    EXPECT_EQ(db.info->TagAddCount, 2) << "the sum entries were loaded into the new segment";
    EXPECT_STREQ(reinterpret_cast<const char*>(db.user_fields + 32), "Kessel, Haus 3");
}

struct BadMessage {
    const char* name;
    int64_t type;
    std::vector<uint8_t> body;
    const char* logged;
};

// Messages that would make the writers read beyond the body, or name no file,
// are refused with a log line and write nothing.
TEST_F(DataServerCoreTest, MalformedArchiveMessagesAreRefused) {
    Init();
    const double t = Utc(2024, 3, 15, 10, 15, 0);
    const std::vector<BadMessage> cases = {
        {"unknown type", 7, StepBody(t, 1, {1}, {1.0}), "Unbekannter Message-Typ: nErr=32, msg_typ=7, nBufLen=32"},
        {"count beyond the body", 1, StepBody(t, 100, {1, 2, 3}, {1, 2, 3}), "Archiv-Message unvollstaendig"},
        {"negative count", 1, StepBody(t, -1, {1}, {1.0}), "Archiv-Message unvollstaendig"},
        {"no room for the head", 3, std::vector<uint8_t>(10, 0), "Archiv-Message unvollstaendig"},
        {"time without value", 1, StepBody(GetNan(), 1, {1}, {1.0}), "ohne gueltige Zeit"},
    };
    for (const BadMessage& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_LT(datasrv::HandleArchiveMessage(handles_, c.type, c.body), 0);
        const std::vector<std::string> log = TakeLog();
        ASSERT_EQ(log.size(), 1u);
        EXPECT_NE(log[0].find(c.logged), std::string::npos) << log[0];
    }
    EXPECT_TRUE(fs::is_empty(archive_));
    EXPECT_TRUE(std::isnan(datasrv::database().info->TimeLastArchiv));
}

// Steps of every kind on and off the full minute: the success line and the
// time stamps follow the minute; the file is written either way.
TEST_F(DataServerCoreTest, SuccessLineAndTimeStampOnlyOnTheFullMinute) {
    Init();
    Info* info = datasrv::database().info;
    struct Case {
        int64_t type;
        double time;
        const char* logged;  // null: nothing logged
        double Info::*stamp;
    };
    const double on = Utc(2024, 3, 15, 10, 16, 0);
    const double off = Utc(2024, 3, 15, 10, 17, 1);
    const Case cases[] = {
        {1, on, "WriteArchiv: Tags: 2 Datum: 10:16:00", &Info::TimeLastArchiv},
        {1, off, nullptr, &Info::TimeLastArchiv},
        {3, on, "WriteDetail: Tags: 2 Datum: 10:16:00", &Info::TimeLastDetail},
        {3, off, nullptr, &Info::TimeLastDetail},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type * 100 + (c.logged != nullptr));
        const double before = info->*c.stamp;
        ASSERT_EQ(datasrv::HandleArchiveMessage(handles_, c.type, StepBody(c.time, 2, {4, 9}, {4.5, 9.5})), 0);
        const std::vector<std::string> log = TakeLog();
        bool reported = false;
        for (const std::string& line : log) reported = reported || (c.logged != nullptr && line.find(c.logged) == 0);
        EXPECT_EQ(reported, c.logged != nullptr);
        if (c.logged != nullptr)
            EXPECT_EQ(info->*c.stamp, c.time);
        else
            EXPECT_TRUE(std::memcmp(&before, &(info->*c.stamp), sizeof before) == 0);
    }
    // Written either way: the off-minute detail step lands in row 17 of the hour file.
    double* values = nullptr;
    int32_t rows = 0;
    const int32_t tag = 9;
    ASSERT_EQ(ReadDetailUTC(off, off, datasrv::database().system, nullptr, 1, &tag, &rows, &values), 0);
    ASSERT_EQ(rows, 1);
    EXPECT_EQ(values[0], 9.5);
    std::free(values);
}

TEST_F(DataServerCoreTest, IdleWaitEndsOnAMessageOrAStop) {
    sMsq command{-1, QX_KEY_CMD_QUEUE};
    sMsq archive{-1, QX_KEY_ARCHIVE_QUEUE};
    ASSERT_EQ(openMsg(&command), 0);
    ASSERT_EQ(openMsg(&archive), 0);
    EXPECT_FALSE(datasrv::WaitForMessage(command.msqId, archive.msqId, 20, 5)) << "nothing waiting";

    // A message sent while the server waits ends the wait long before its limit.
    std::thread sender([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        QX_CommandMsg message{QX_CMD_SAVECONFIG, {}};
        int32_t length = 84;
        sndMsg(&archive, &message, &length);
    });
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_TRUE(datasrv::WaitForMessage(command.msqId, archive.msqId, 60000, 10));
    sender.join();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(30));

    DoWork = 0;
    EXPECT_FALSE(datasrv::WaitForMessage(command.msqId, -1, 60000, 10)) << "a stop ends the wait";
    closeMsg(&command);
    closeMsg(&archive);
}

TEST_F(DataServerCoreTest, QueueRoomIsNeverShrunkAndReportedAsItIs) {
    sMsq archive{-1, QX_KEY_ARCHIVE_QUEUE};
    ASSERT_EQ(openMsg(&archive), 0);
    msqid_ds ds{};
    ASSERT_EQ(msgctl(archive.msqId, IPC_STAT, &ds), 0);
    const uint64_t initial = ds.msg_qbytes;
    EXPECT_EQ(datasrv::RaiseQueueBytes(archive.msqId, initial / 2), initial);
    const uint64_t raised = datasrv::RaiseQueueBytes(archive.msqId, initial * 64);
    ASSERT_EQ(msgctl(archive.msqId, IPC_STAT, &ds), 0);
    EXPECT_EQ(raised, ds.msg_qbytes);
    EXPECT_TRUE(raised == initial || raised == initial * 64) << raised;
    closeMsg(&archive);
}

#if !defined(__SANITIZE_ADDRESS__)
// Thousands of full steps through the server's write path, over several day
// files: the heap in use afterwards is what it was after the first files.
TEST_F(DataServerCoreTest, HeapDoesNotGrowOverManySteps) {
    Init();
    std::vector<int32_t> tags(QX_N_TAG);
    std::iota(tags.begin(), tags.end(), 1);
    std::vector<double> values(tags.size(), 1.25);
    const double day0 = Utc(2024, 3, 15, 0, 0, 0);
    auto run = [&](int first, int count) {
        for (int i = first; i < first + count; ++i) {
            // Three day files in turn, so files are closed and opened too.
            const double t = day0 + (i % 3) + (i % 96) * 900.0 / 86400.0;
            ASSERT_EQ(datasrv::HandleArchiveMessage(handles_, 1, StepBody(t, QX_N_TAG, tags, values)), 0);
            TakeLog();
        }
    };
    ASSERT_NO_FATAL_FAILURE(run(0, 300));
    const size_t in_use = mallinfo2().uordblks;
    ASSERT_NO_FATAL_FAILURE(run(300, 2000));
    EXPECT_LE(mallinfo2().uordblks, in_use + 4096) << "heap in use grew over 2000 steps";
}
#endif

}  // namespace
