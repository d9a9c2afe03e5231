// The attach handshake against the attach responder in a private IPC
// namespace, and a program on the common main that attaches and works.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>

#include "attach_protocol.hpp"
#include "attach_state.hpp"
#include "ipc_fixture.hpp"
#include "qx.h"
#include "sandbox.hpp"

namespace {

using qx_test::AttachResponder;

const std::vector<std::string> kFields = {"--field", "Kunde,TEXT,16,%s", "--field", "Export,LONG,4,%ld"};

bool QueueExists(int32_t key) {
    return msgget(static_cast<key_t>(key), 0) >= 0;
}

size_t SegmentSize(int32_t key) {
    const int id = shmget(static_cast<key_t>(key), 0, 0);
    shmid_ds ds{};
    if (id < 0 || shmctl(id, IPC_STAT, &ds) != 0) return 0;
    return ds.shm_segsz;
}

int Attach(VelmoSystem** system = nullptr, Rohwerte** roh = nullptr, Tags** tags = nullptr) {
    return QXInit(0, nullptr, 0, nullptr, system, roh, tags);
}

class AttachTest : public ::testing::Test {
protected:
    void SetUp() override {
        qx_test::EnterPrivateIpcNamespace();
        QX_ClearAttachState();
    }
};

TEST_F(AttachTest, AnswerKeysTravelAsSignedDecimalsAndParseBack) {
    const struct {
        pid_t pid;
        int32_t key;
        const char* text;
    } cases[] = {
        {1, -1091633151, "-1091633151 # MSG Key answer queu"},
        {0x41110000 - 1, -1, "-1 # MSG Key answer queu"},
        {0x41110000, 0, "0 # MSG Key answer queu"},
        {0x41110001, 1, "1 # MSG Key answer queu"},
        {0x41000000, static_cast<int32_t>(0xFFEF0000u), "-1114112 # MSG Key answer queu"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(qx::answer_queue_key(c.pid), c.key) << c.pid;
        const QX_CommandMsg request = qx::make_attach_request(c.key);
        EXPECT_EQ(request.mtype, QX_CMD_ATTACH);
        EXPECT_STREQ(request.text, c.text);
        EXPECT_EQ(qx::parse_answer_key(request.text), c.key);
    }
    // A text filling all 80 bytes is read without running past them.
    QX_CommandMsg full{};
    std::memset(full.text, '7', sizeof full.text);
    EXPECT_EQ(qx::parse_answer_key(full.text), static_cast<int32_t>(static_cast<uint32_t>(std::strtoll(
                                                   std::string(80, '7').c_str(), nullptr, 10))));
}

TEST_F(AttachTest, AttachSetsPointersStateAndMonitorLines) {
    AttachResponder responder(kFields);
    VelmoSystem* system = nullptr;
    Rohwerte* roh = nullptr;
    Tags* tags = nullptr;
    testing::internal::CaptureStdout();
    ASSERT_EQ(Attach(&system, &roh, &tags), 1);
    const std::string out = testing::internal::GetCapturedStdout();

    const qx::AttachState& s = qx::attach_state();
    ASSERT_NE(system, nullptr);
    EXPECT_EQ(system, s.system);
    EXPECT_EQ(roh, s.roh);
    EXPECT_EQ(tags, s.tags);
    auto* seg1 = reinterpret_cast<unsigned char*>(system);
    EXPECT_EQ(reinterpret_cast<unsigned char*>(tags), seg1 + 216);
    EXPECT_EQ(reinterpret_cast<unsigned char*>(roh), seg1 + 1507912);
    EXPECT_EQ(reinterpret_cast<unsigned char*>(s.info), seg1 + 1671792);
    auto* seg2 = reinterpret_cast<unsigned char*>(s.tag_add);
    EXPECT_EQ(reinterpret_cast<unsigned char*>(s.tags_internal), seg2 + 131104);
    EXPECT_EQ(s.user_fields, seg2 + 2163216);
    EXPECT_EQ(system->n_tag, 4096);
    EXPECT_EQ(s.info->UserFieldRecLen, 20);
    EXPECT_EQ(SegmentSize(QX_KEY_SEGMENT2), 2163216u + 4097u * 20u);

    EXPECT_STREQ(s.info->VelmoName, "ra_vuvuvizi");
    EXPECT_EQ(s.info->Stop, 0);
    EXPECT_GE(rMsq.msqId, 0) << "the log queue is open";
    EXPECT_TRUE(QueueExists(QX_KEY_LOG_QUEUE));
    EXPECT_FALSE(QueueExists(qx::answer_queue_key(getpid()))) << "the answer queue is removed";

    const std::string title = "----\nKWZ GmbH 2013 RA-Vuvuvizi" + std::string(40 - 25, ' ') + "\n------\n";
    for (const std::string& line : {
             std::string("QXInit nach Zeiger Zuweisungen\n"),
             std::string(
             "Size 1717624 Size1 2245156 Offsets: SYS 0  TAG 216 ROH 1507912 INFO 1671792 TAGADD 0 TAGINT 131104 "
             "USERFIELD 2163216\n"),
             std::string("AnzField 2\n"),
             title,
             std::string("DBFILE:: /home/kwz/QX_ARCHIV/\n"),
         })
        EXPECT_NE(out.find(line), std::string::npos) << "missing: " << line << "\nin:\n" << out;
    EXPECT_EQ(out.rfind("QXInit entry ", 0), 0u) << out;
    char address[64];
    std::snprintf(address, sizeof address, "MUserField = %lX\n", reinterpret_cast<unsigned long>(s.user_fields));
    EXPECT_NE(out.find(address), std::string::npos) << out;
}

TEST_F(AttachTest, EveryAttachClearsStopAndRewritesTheName) {
    AttachResponder responder;
    ASSERT_EQ(Attach(), 1);
    Info* first = qx::attach_state().info;
    first->Stop = 3;
    std::memset(first->VelmoName, 'x', sizeof first->VelmoName);
    EXPECT_EQ(GetStopVelmo(), 3);

    pid_t child = fork();  // another program attaching
    ASSERT_GE(child, 0);
    if (child == 0) _exit(Attach() == 1 ? 0 : 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    EXPECT_EQ(first->Stop, 0);
    EXPECT_EQ(std::string(first->VelmoName, sizeof first->VelmoName), std::string("ra_vuvuvizi") + std::string(189, '\0'));
    EXPECT_EQ(GetStopVelmo(), 0);
}

TEST_F(AttachTest, NoUserFieldsGiveTheFixedSecondSegment) {
    AttachResponder responder;
    ASSERT_EQ(Attach(), 1);
    const qx::AttachState& s = qx::attach_state();
    EXPECT_EQ(SegmentSize(QX_KEY_SEGMENT2), 2163216u);
    EXPECT_EQ(s.user_fields, reinterpret_cast<unsigned char*>(s.tag_add) + 2163216) << "points at the segment's end";
    EXPECT_EQ(GetUserfieldCount(), 0);
    char text[8];
    EXPECT_EQ(GetUserfieldText(1, 0, text, sizeof text), -1);
}

TEST_F(AttachTest, NoDataServerFailsAtOnce) {
    VelmoSystem bogus_system{};
    VelmoSystem* system = &bogus_system;
    Rohwerte* roh = reinterpret_cast<Rohwerte*>(&bogus_system);
    Tags* tags = reinterpret_cast<Tags*>(&bogus_system);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(Attach(&system, &roh, &tags), -5);
    const std::string err = testing::internal::GetCapturedStderr();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(err, std::string("icp_module :: MSG Sendqueue geht nicht auf: ") + std::strerror(ENOENT) + "\n");
    EXPECT_NE(out.find("QXInit-ERROR: -5\n"), std::string::npos) << out;
    EXPECT_EQ(system, nullptr);
    EXPECT_EQ(roh, nullptr);
    EXPECT_EQ(tags, nullptr);
    EXPECT_FALSE(QueueExists(QX_KEY_CMD_QUEUE)) << "the command queue is not created";
    EXPECT_EQ(GetStopVelmo(), -1);
    EXPECT_EQ(GetVelmoName(), nullptr);
}

TEST_F(AttachTest, AnswerOfUnexpectedLengthIsRefused) {
    const struct {
        const char* size;
        int error;
    } cases[] = {{"40", EBADMSG}, {"0", EBADMSG}, {"64", E2BIG}};
    for (const auto& c : cases) {
        AttachResponder responder({"--answer-size", c.size});
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        EXPECT_EQ(Attach(), -2) << c.size;
        const std::string err = testing::internal::GetCapturedStderr();
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(err, std::string("icp_module :: MSG Zeiger nicht angekommen !!!: ") + std::strerror(c.error) + "\n");
        EXPECT_EQ(qx::attach_state().info, nullptr) << "nothing attached";
        EXPECT_FALSE(QueueExists(qx::answer_queue_key(getpid()))) << "no answer queue left behind";
    }
}

TEST_F(AttachTest, AnswerWithOffsetsOutsideTheSegmentsIsRefused) {
    QX_AttachAnswer answer = qx::make_attach_answer(0);
    EXPECT_TRUE(qx::answer_layout_fits(answer));
    EXPECT_TRUE(qx::user_fields_fit(answer, 0));
    EXPECT_FALSE(qx::user_fields_fit(answer, 1));
    EXPECT_FALSE(qx::user_fields_fit(answer, -1));
    EXPECT_TRUE(qx::user_fields_fit(qx::make_attach_answer(12), 12));

    const struct {
        int32_t QX_AttachAnswer::*field;
        int32_t value;
    } bad[] = {
        {&QX_AttachAnswer::offInfo, QX_SEG1_OFF_INFO + 8},   // Info runs past segment 1
        {&QX_AttachAnswer::offTags, -216},                     // before the segment
        {&QX_AttachAnswer::offRoh, QX_SEG1_OFF_ROH + 4},       // misaligned doubles
        {&QX_AttachAnswer::sizeSegment1, 4096},                // segment too small
        {&QX_AttachAnswer::sizeSegment2, 0},
        {&QX_AttachAnswer::offTagsInternal, 2163216},
        {&QX_AttachAnswer::offUserFields, 2163217},
    };
    for (const auto& b : bad) {
        QX_AttachAnswer changed = answer;
        changed.*b.field = b.value;
        EXPECT_FALSE(qx::answer_layout_fits(changed)) << b.value;
    }
}

// Waits (with a generous deadline, not a timing assertion) until the
// command queue holds a request.
bool WaitForRequest(int queue) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        msqid_ds ds{};
        if (msgctl(queue, IPC_STAT, &ds) == 0 && ds.msg_qnum > 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

TEST_F(AttachTest, ProgramWaitingForAnAbsentServerEndsOnSigtermWithoutLeftovers) {
    const int commands = msgget(QX_KEY_CMD_QUEUE, IPC_CREAT | 0666);  // a queue nobody serves
    ASSERT_GE(commands, 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        Attach();
        _exit(0);  // not reached: nobody answers
    }
    ASSERT_TRUE(WaitForRequest(commands));
    const int32_t child_key = qx::answer_queue_key(child);
    EXPECT_TRUE(QueueExists(child_key)) << "the child waits on its answer queue";
    kill(child, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_FALSE(QueueExists(child_key)) << "the answer queue went with the program";

    // The next program attaches once a server reads the queue, the dead
    // program's request notwithstanding.
    AttachResponder responder;
    ASSERT_EQ(Attach(), 1);
}

TEST_F(AttachTest, StaleAnswerQueueOfAKilledProgramWithTheSameIdIsNotTakenForTheAnswer) {
    // What a program killed (SIGKILL) while waiting leaves behind, found by a
    // later process that got the same process id.
    const int stale = msgget(static_cast<key_t>(qx::answer_queue_key(getpid())), IPC_CREAT | 0666);
    ASSERT_GE(stale, 0);
    QX_AttachAnswer old = qx::make_attach_answer(0);
    old.offInfo = 8;  // a wrong answer: taken for ours it would misplace Info
    ASSERT_EQ(msgsnd(stale, &old, QX_ATTACH_ANSWER_SIZE, IPC_NOWAIT), 0);

    AttachResponder responder;
    ASSERT_EQ(Attach(), 1);
    EXPECT_EQ(reinterpret_cast<unsigned char*>(qx::attach_state().info),
              reinterpret_cast<unsigned char*>(qx::attach_state().system) + QX_SEG1_OFF_INFO);
}

TEST_F(AttachTest, SaveConfigSendsCommandThree) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(QX_SaveConfig(), -1) << "a sent request reports -1";
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    const int commands = msgget(QX_KEY_CMD_QUEUE, 0);
    ASSERT_GE(commands, 0) << "created when absent";
    QX_CommandMsg message;
    std::memset(&message, 0x55, sizeof message);
    ASSERT_EQ(msgrcv(commands, &message, sizeof message.text, 0, IPC_NOWAIT), QX_CMD_TEXT_SIZE);
    EXPECT_EQ(message.mtype, QX_CMD_SAVECONFIG);
    EXPECT_EQ(std::string(message.text, sizeof message.text), std::string(80, '\0'));
}

TEST_F(AttachTest, ProgramOnTheCommonMainAttachesWorksLogsAndEnds) {
    AttachResponder responder(kFields);
    sMsq log{-1, QX_KEY_LOG_QUEUE};
    ASSERT_EQ(openMsg(&log), 0);

    qx_test::Process probe(qx_test::ToolPath("attach_responder_probe"));
    const std::optional<int> ended = probe.WaitFor(std::chrono::seconds(30));
    const std::string out = probe.Stdout();
    ASSERT_TRUE(ended) << out;
    const int status = *ended;
    ASSERT_TRUE(WIFEXITED(status)) << out;
    EXPECT_EQ(WEXITSTATUS(status), 0) << "main returns 0 whatever KWZServiceMain returned";
    EXPECT_NE(out.find("probe: QXInit 1\n"), std::string::npos) << out;
    EXPECT_NE(out.find("probe: WriteRoh 1.25 40.96 "), std::string::npos) << out;
    EXPECT_NE(out.find("(A) WriteTag: TagDefaultFkt: 0(B) WriteTag: TagDefaultFkt: 0probe: WriteTag 0 -1\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("probe: Userfield 0 0\n"), std::string::npos) << out;

    QX_LogMsg message{};
    int32_t length = QX_LOG_RECORD_LEN;
    ASSERT_EQ(rcvMsg(&log, &message, &length), QX_LOG_BODY_SIZE);
    EXPECT_EQ(message.pid, probe.pid());
    EXPECT_EQ(message.severity, PMS_INFO);
    EXPECT_EQ(message.code, 7);
    EXPECT_STREQ(message.text, "probe: Stop=0 Name=ra_vuvuvizi\n");

    // What the probe left in the database, seen through an attach of our own.
    ASSERT_EQ(Attach(), 1);
    EXPECT_EQ(ReadRoh(1), 1.25);
    EXPECT_EQ(ReadRoh(4096), 40.96);
    EXPECT_TRUE(IsNan(ReadRoh(4097)));
    Tags tag{};
    ASSERT_EQ(ReadTag(4096, &tag), 0);
    EXPECT_STREQ(tag.Bez, "PROBE");
    EXPECT_EQ(tag.Ist, 7.5);
    char text[32];
    EXPECT_EQ(GetUserfieldText(4096, GetUserfieldNbr("Kunde"), text, sizeof text), 10);
    EXPECT_STREQ(text, "Probe GmbH");
    int32_t export_flag = 0;
    EXPECT_EQ(GetUserfieldLong(4096, 1, &export_flag), 0);
    EXPECT_EQ(export_flag, 3);
    EXPECT_TRUE(responder.Stop());
}

}  // namespace
