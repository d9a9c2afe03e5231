// Queue layer and log client against real SysV queues in a private IPC
// namespace.
#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "qx.h"
#include "sandbox.hpp"

namespace {

constexpr int32_t kTestKey = 0x51000001;

struct SmallRecord {
    int64_t mtype;
    char body[40];
};

class MsqTest : public ::testing::Test {
protected:
    void SetUp() override {
        qx_test::EnterPrivateIpcNamespace();
        ASSERT_EQ(openMsg(&queue_), 0);
    }

    // Receives one log message through a second handle, as the supervisor does.
    QX_LogMsg ReceiveLog() {
        sMsq reader{-1, queue_.msqKey};
        EXPECT_EQ(openMsg(&reader), 0);
        QX_LogMsg message{};
        int32_t length = QX_LOG_RECORD_LEN;
        EXPECT_EQ(rcvMsg(&reader, &message, &length), QX_LOG_BODY_SIZE);
        EXPECT_EQ(length, QX_LOG_BODY_SIZE);
        return message;
    }

    sMsq queue_{-1, kTestKey};
};

TEST_F(MsqTest, SendAndReceiveUseLengthMinusFourBodyBytes) {
    SmallRecord out{7, {}};
    std::memcpy(out.body, "0123456789", 10);
    int32_t length = 14;  // body of 10 bytes
    ASSERT_EQ(sndMsg(&queue_, &out, &length), 0);
    EXPECT_EQ(length, 0);

    SmallRecord in{};
    std::memset(in.body, '#', sizeof in.body);
    length = 44;
    EXPECT_EQ(rcvMsg(&queue_, &in, &length), 10);
    EXPECT_EQ(length, 10);
    EXPECT_EQ(in.mtype, 7);
    EXPECT_EQ(std::string(in.body, 10), "0123456789");
    EXPECT_EQ(in.body[10], '#') << "nothing beyond the received body is written";

    length = 44;
    EXPECT_EQ(rcvMsg(&queue_, &in, &length), 0) << "an empty queue answers 0 at once";
}

TEST_F(MsqTest, LogMessageCarriesSenderSeverityCodeAndTime) {
    const int64_t before = std::time(nullptr);
    EXPECT_EQ(writeMsg(&queue_, PMS_WARNING, 0x24, "Wert %d von %s", 42, "T1"), 0);
    const QX_LogMsg m = ReceiveLog();
    EXPECT_EQ(m.mtype, QX_LOG_MSG_TYPE);
    EXPECT_EQ(m.pid, getpid());
    EXPECT_EQ(m.ppid, getppid());
    EXPECT_EQ(m.severity, PMS_WARNING);
    EXPECT_EQ(m.code, 0x24);
    EXPECT_GE(m.time, before);
    EXPECT_LE(m.time, std::time(nullptr));
    EXPECT_STREQ(m.text, "Wert 42 von T1\n");
    EXPECT_EQ(std::vector<char>(m.reserved, m.reserved + 8), std::vector<char>(8, 0));
}

TEST_F(MsqTest, LogTextIsCutTo498CharactersAndEndsInOneLineFeed) {
    const std::string exact(498, 'a');
    const struct {
        std::string text;
        std::string sent;
    } cases[] = {
        {exact, exact + "\n"},
        {std::string(1000, 'b'), std::string(498, 'b') + "\n"},
        {exact + "\n", exact + "\n"},  // the 499th character, the line feed, is cut and put back
        {std::string(497, 'c') + "\n", std::string(497, 'c') + "\n"},
        {"ende\n", "ende\n"},
        {"", "\n"},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(writeMsg2(&queue_, PMS_INFO, 0, c.text.c_str()), 0);
        const QX_LogMsg m = ReceiveLog();
        EXPECT_EQ(std::string(m.text), c.sent) << "text of " << c.text.size() << " characters";
        EXPECT_EQ(std::strlen(m.text), c.sent.size());
    }
    // writeMsg formats long texts whole and cuts them the same way.
    writeMsg(&queue_, PMS_ERROR, 1, "%s", std::string(5000, 'd').c_str());
    EXPECT_EQ(std::string(ReceiveLog().text), std::string(498, 'd') + "\n");
}

TEST_F(MsqTest, QueueRemovedByAnotherProcessIsRecreatedByTheNextSend) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        sMsq other{-1, kTestKey};
        _exit(openMsg(&other) == 0 && closeMsg(&other) == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_EQ(status, 0);
    const int old_id = queue_.msqId;

    testing::internal::CaptureStdout();
    EXPECT_EQ(writeMsg2(&queue_, PMS_INFO, 0, "nach dem Entfernen"), 0);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("sndMsq: msgsnd(): Re-Open von MSQ; errno="), std::string::npos) << out;
    EXPECT_NE(queue_.msqId, old_id);
    EXPECT_STREQ(ReceiveLog().text, "nach dem Entfernen\n");
}

TEST_F(MsqTest, ReceiveOnARemovedQueueReopensIt) {
    sMsq other = queue_;
    ASSERT_EQ(closeMsg(&other), 0);
    EXPECT_EQ(closeMsg(&other), -EINVAL) << "removing twice reports the negated errno";

    testing::internal::CaptureStdout();
    SmallRecord in{};
    int32_t length = 44;
    EXPECT_EQ(rcvMsg(&queue_, &in, &length), 0);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("rcvMsq: msgrcv(): Re-Open von MSQ; pid=" + std::to_string(getpid())), std::string::npos) << out;
    EXPECT_GE(msgget(kTestKey, 0), 0) << "the queue exists again";
}

TEST_F(MsqTest, FullLogQueueLosesTheMessageButPrintsIt) {
    msqid_ds ds{};
    ASSERT_EQ(msgctl(queue_.msqId, IPC_STAT, &ds), 0);
    ds.msg_qbytes = QX_LOG_BODY_SIZE;  // room for exactly one log message
    ASSERT_EQ(msgctl(queue_.msqId, IPC_SET, &ds), 0);
    ASSERT_EQ(writeMsg2(&queue_, PMS_INFO, 0, "erste"), 0);

    testing::internal::CaptureStdout();
    EXPECT_EQ(writeMsg2(&queue_, PMS_ERROR, 3, "zweite"), -EAGAIN);
    EXPECT_EQ(writeMsg(&queue_, PMS_ERROR, 3, "dritte %d", 3), 0) << "writeMsg goes on";
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string reason = "errno=" + std::to_string(EAGAIN) + " (" + std::strerror(EAGAIN) + ")";
    EXPECT_NE(out.find("sndMsq: msgrcv(): " + reason + "\n"), std::string::npos) << out;
    EXPECT_NE(out.find("sndMsq: msgsnd(): MSQ Fehler; pid=" + std::to_string(getpid()) + ", " + reason +
                       "\nMsg:zweite\n\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Msg:dritte 3\n"), std::string::npos) << out;
    EXPECT_STREQ(ReceiveLog().text, "erste\n") << "the queued message is untouched";
}

TEST_F(MsqTest, ClosedHandlePrintsTheTextInsteadOfSending) {
    sMsq closed{-1, QX_KEY_LOG_QUEUE};
    testing::internal::CaptureStdout();
    EXPECT_EQ(writeMsg2(&closed, PMS_INFO, 0, "ohne Queue"), -1);
    // A short record of another queue: the printed text stops at its end.
    std::vector<char> command(88, 'x');
    int32_t length = 84;
    EXPECT_EQ(sndMsg(&closed, command.data(), &length), -1);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string pid = std::to_string(getpid());
    EXPECT_EQ(out, "sndMsq: pid=" + pid + ", Msg:ohne Queue\n\n" + "sndMsq: pid=" + pid + ", Msg:" +
                       std::string(88 - 32, 'x') + "\n");
    EXPECT_LT(msgget(QX_KEY_LOG_QUEUE, 0), 0) << "nothing was created";
}

TEST_F(MsqTest, OversizedMessageIsReportedAndDoesNotBlockTheQueue) {
    struct {
        int64_t mtype;
        char body[600];
    } big{1, {}};
    ASSERT_EQ(msgsnd(queue_.msqId, &big, sizeof big.body, IPC_NOWAIT), 0);
    ASSERT_EQ(writeMsg2(&queue_, PMS_INFO, 0, "danach"), 0);

    QX_LogMsg m{};
    int32_t length = QX_LOG_RECORD_LEN;
    testing::internal::CaptureStdout();
    EXPECT_EQ(rcvMsg(&queue_, &m, &length), -E2BIG);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("rcvMsq: msgrcv(): pid=" + std::to_string(getpid()) + ", errno=" + std::to_string(E2BIG)),
              std::string::npos)
        << out;
    length = QX_LOG_RECORD_LEN;
    EXPECT_EQ(rcvMsg(&queue_, &m, &length), QX_LOG_BODY_SIZE);
    EXPECT_STREQ(m.text, "danach\n");
}

TEST_F(MsqTest, BadArgumentsAreRefused) {
    SmallRecord r{1, {}};
    int32_t length = 3;
    EXPECT_EQ(sndMsg(&queue_, &r, &length), -EINVAL);
    EXPECT_EQ(rcvMsg(&queue_, &r, &length), -EINVAL);
    EXPECT_EQ(sndMsg(nullptr, &r, &length), -EINVAL);
    EXPECT_EQ(rcvMsg(&queue_, nullptr, &length), -EINVAL);
    EXPECT_EQ(openMsg(nullptr), -EINVAL);
}

}  // namespace
