// qx_calc as a whole: started against a stand-in data server (the command
// queue answering the attach request, the two segments, the archive-write
// queue), it computes tags on the real clock, sends interval archives, and
// ends with its event when Stop is set.
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
#include <ctime>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "attach_protocol.hpp"
#include "qx.h"
#include "sandbox.hpp"

namespace {

using Clock = std::chrono::steady_clock;

bool WaitFor(const std::function<bool()>& condition, std::chrono::seconds limit) {
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return condition();
}

// The two segments and the queues a data server would provide.
class StandInServer {
public:
    StandInServer() {
        command_ = msgget(QX_KEY_CMD_QUEUE, IPC_CREAT | 0666);
        archive_ = msgget(QX_KEY_ARCHIVE_QUEUE, IPC_CREAT | 0666);
        seg1_id_ = shmget(QX_KEY_SEGMENT1, QX_SEG1_SIZE, IPC_CREAT | 0666);
        seg2_id_ = shmget(QX_KEY_SEGMENT2, QX_SEG2_FIXED_SIZE, IPC_CREAT | 0666);
        if (command_ < 0 || archive_ < 0 || seg1_id_ < 0 || seg2_id_ < 0) return;
        seg1_ = static_cast<char*>(shmat(seg1_id_, nullptr, 0));
        seg2_ = static_cast<char*>(shmat(seg2_id_, nullptr, 0));
        std::memset(seg1_, 0xFF, QX_SEG1_SIZE);
        std::memset(seg2_, 0, QX_SEG2_FIXED_SIZE);
        sys = reinterpret_cast<VelmoSystem*>(seg1_ + QX_SEG1_OFF_SYSTEM);
        tags = reinterpret_cast<Tags*>(seg1_ + QX_SEG1_OFF_TAGS);
        roh = reinterpret_cast<Rohwerte*>(seg1_ + QX_SEG1_OFF_ROH);
        info = reinterpret_cast<Info*>(seg1_ + QX_SEG1_OFF_INFO);
        internal = reinterpret_cast<TagsInternal*>(seg2_ + QX_SEG2_OFF_TAGINT);
        std::memset(sys, 0, sizeof *sys);
        sys->takt = 1;
        sys->inter = 2;
        sys->refresh = 5;
        sys->n_tag = QX_N_TAG;
        sys->n_roh = QX_N_ROH;
        sys->roh_skal = 1.0;
        std::strcpy(sys->bezeichnung, "Pruefanlage");
        std::strcpy(sys->dir_archiv, "/tmp/archiv");
        std::memset(info, 0, sizeof *info);
        for (int i = 0; i <= QX_N_TAG; ++i) {
            tags[i].Fkt = 0;
            std::memset(tags[i].Arch, 0, sizeof tags[i].Arch);
        }
    }
    ~StandInServer() {
        if (seg1_ != nullptr) shmdt(seg1_);
        if (seg2_ != nullptr) shmdt(seg2_);
        for (int seg : {seg1_id_, seg2_id_})
            if (seg >= 0) shmctl(seg, IPC_RMID, nullptr);
        for (int queue : {command_, archive_})
            if (queue >= 0) msgctl(queue, IPC_RMID, nullptr);
        const int log = msgget(QX_KEY_LOG_QUEUE, 0);
        if (log >= 0) msgctl(log, IPC_RMID, nullptr);
    }
    bool ok() const { return seg1_ != nullptr && seg2_ != nullptr && seg1_ != reinterpret_cast<char*>(-1); }

    // Answers one attach request; false when none came in time.
    bool ServeAttach(std::chrono::seconds limit) {
        QX_CommandMsg request{};
        const bool got = WaitFor([&] {
            return msgrcv(command_, &request, QX_CMD_TEXT_SIZE, QX_CMD_ATTACH, IPC_NOWAIT) >= 0;
        }, limit);
        if (!got) return false;
        const int32_t key = qx::parse_answer_key(std::span<const char, QX_CMD_TEXT_SIZE>(request.text));
        const int answer_queue = msgget(key, IPC_CREAT | 0666);
        QX_AttachAnswer answer = qx::make_attach_answer(0);
        return answer_queue >= 0 && msgsnd(answer_queue, &answer, QX_ATTACH_ANSWER_SIZE, 0) == 0;
    }

    struct ArchiveMsg {
        int64_t type;
        double time;
        std::vector<int32_t> tags;
        std::vector<double> values;
        std::vector<uint32_t> status;
    };
    bool ReceiveArchive(ArchiveMsg& out) {
        std::vector<char> buffer(8 + 49176);
        const ssize_t got = msgrcv(archive_, buffer.data(), 49176, 0, IPC_NOWAIT);
        if (got < 16) return false;
        int64_t n = 0;
        std::memcpy(&out.type, buffer.data(), 8);
        std::memcpy(&out.time, buffer.data() + 8, 8);
        std::memcpy(&n, buffer.data() + 16, 8);
        out.tags.assign(static_cast<size_t>(n), 0);
        std::memcpy(out.tags.data(), buffer.data() + 24, static_cast<size_t>(4 * n));
        const char* payload = buffer.data() + 24 + 4 * n;
        if (out.type == 1 || out.type == 3) {
            out.values.assign(static_cast<size_t>(n), 0.0);
            std::memcpy(out.values.data(), payload, static_cast<size_t>(8 * n));
        } else {
            out.status.assign(static_cast<size_t>(n), 0);
            std::memcpy(out.status.data(), payload, static_cast<size_t>(4 * n));
        }
        return true;
    }

    VelmoSystem* sys = nullptr;
    Tags* tags = nullptr;
    Rohwerte* roh = nullptr;
    Info* info = nullptr;
    TagsInternal* internal = nullptr;

private:
    int command_ = -1;
    int archive_ = -1;
    int seg1_id_ = -1;
    int seg2_id_ = -1;
    char* seg1_ = nullptr;
    char* seg2_ = nullptr;
};

void ConfigureRawCopy(Tags& t, int raw, uint8_t arch0) {
    std::memset(&t, 0, sizeof t);
    t.Fkt = 3;
    t.Hint[0] = raw;
    t.HByte[0] = 1;
    std::memset(t.HLog, 1, sizeof t.HLog);
    t.Summe = GetNan();
    t.Arch[0] = arch0;
}

TEST(CalcProgram, ComputesArchivesAndStopsOnRequest) {
    qx_test::EnterPrivateIpcNamespace();
    qx_test::Sandbox sandbox;
    StandInServer server;
    ASSERT_TRUE(server.ok());

    ConfigureRawCopy(server.tags[1], 1, ARCH_WITH_STATUS);
    ConfigureRawCopy(server.tags[2], 2, 0);
    server.roh[1] = Rohwerte{2.5, 0, 0, QX_VALID_FOREVER, {}};
    const uint32_t start = static_cast<uint32_t>(std::time(nullptr));
    server.roh[2] = Rohwerte{7.0, 0, start, start + 1, "kWh"};

    const std::string program = std::string(QX_BINARY_DIR) + "/calc/qx_calc";
    const std::string out = (sandbox.root() / "qx_calc.out").string();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        FILE* f = std::freopen(out.c_str(), "w", stdout);
        if (f == nullptr) _exit(127);
        execl(program.c_str(), program.c_str(), "/saveconfig=1", "extra", static_cast<char*>(nullptr));
        _exit(127);
    }
    struct Reaper {
        pid_t pid;
        ~Reaper() {
            if (pid > 0) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
            }
        }
    } reaper{child};

    ASSERT_TRUE(server.ServeAttach(std::chrono::seconds(10)));
    const int32_t cycles_at_attach = 0;
    ASSERT_TRUE(WaitFor([&] { return server.sys->anzahl >= cycles_at_attach + 4; }, std::chrono::seconds(15)));
    EXPECT_EQ(2.5, server.tags[1].Ist);
    EXPECT_EQ(0u, server.tags[1].Status);
    // The raw value that expired.
    EXPECT_TRUE(std::isnan(server.roh[2].Ist));
    EXPECT_EQ(ST_EXPIRED, server.roh[2].Status);
    EXPECT_TRUE(std::isnan(server.tags[2].Ist));
    EXPECT_EQ(ST_EXPIRED, server.tags[2].Status);
    EXPECT_GT(server.sys->zeit_kern, 45000.0);

    StandInServer::ArchiveMsg values, status;
    ASSERT_TRUE(WaitFor([&] { return server.ReceiveArchive(values); }, std::chrono::seconds(10)));
    ASSERT_TRUE(WaitFor([&] { return server.ReceiveArchive(status); }, std::chrono::seconds(5)));
    EXPECT_EQ(1, values.type);
    EXPECT_EQ(std::vector<int32_t>{1}, values.tags);
    EXPECT_EQ(std::vector<double>{2.5}, values.values);
    EXPECT_EQ(2, status.type);
    EXPECT_EQ(std::vector<int32_t>{1}, status.tags);
    EXPECT_EQ(std::vector<uint32_t>{0}, status.status);
    // Archive times lie on the interval grid.
    const double seconds = (values.time - 25569.0) * 86400.0;
    EXPECT_EQ(0, static_cast<int64_t>(std::llround(seconds)) % 2);
    EXPECT_TRUE(std::isnan(server.internal[5].Trend[0]));  // cleared at start

    server.info->Stop = 1;
    int wstatus = 0;
    ASSERT_TRUE(WaitFor([&] { return waitpid(child, &wstatus, WNOHANG) == child; }, std::chrono::seconds(10)));
    reaper.pid = 0;
    ASSERT_TRUE(WIFEXITED(wstatus));
    EXPECT_EQ(0, WEXITSTATUS(wstatus));

    // The newest interval value sent is kept with its time for the archive formulas.
    StandInServer::ArchiveMsg newest = values, any;
    while (server.ReceiveArchive(any))
        if (any.type == 1) newest = any;
    EXPECT_EQ(newest.time, server.internal[1].Aux[0]);
    EXPECT_EQ(2.5, server.internal[1].Aux[1]);

    const std::string monitor = qx_test::ReadFile(out);
    for (const char* line : {"Kern TAG 1: ", "vor InitVelmoFormel()", "nach InitVelmoFormel()", "<Pruefanlage>\n",
                             "Archiv </tmp/archiv>\n", "Tag 4096\n", "Roh 4096\n", "Takt 1\n", "Inter 2\n",
                             "Refresh 5\n", "Name ra_vuvuvizi\n", "###864###\n", "GetUserfieldCount() == 0\n",
                             "---- PARAMETERS -----\n", "001 :: <</saveconfig=1>>\n", "002 :: <<extra>>\n",
                             "SCHED_SETSCHEDULER(SCHED_FIFO / 60) AKTIV !!!!", "Ende SaveConfi \n"}) {
        EXPECT_NE(std::string::npos, monitor.find(line)) << line;
    }
    const std::string events = qx_test::ReadFile(sandbox.path("/home/kwz/ra_vuvuvizi.log"));
    EXPECT_NE(std::string::npos, events.find("warning     \t---\t4\t---\tVelmoKern\n")) << events;
}

TEST(CalcProgram, EndsAtOnceWithoutDataServer) {
    qx_test::EnterPrivateIpcNamespace();
    qx_test::Sandbox sandbox;
    const std::string program = std::string(QX_BINARY_DIR) + "/calc/qx_calc";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (std::freopen("/dev/null", "w", stdout) == nullptr || std::freopen("/dev/null", "w", stderr) == nullptr)
            _exit(127);
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int wstatus = 0;
    const bool ended = WaitFor([&] { return waitpid(child, &wstatus, WNOHANG) == child; }, std::chrono::seconds(10));
    if (!ended) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
    ASSERT_TRUE(ended);
    EXPECT_TRUE(WIFEXITED(wstatus));
    EXPECT_EQ(0, WEXITSTATUS(wstatus));  // main returns 0 whatever KWZServiceMain returned
}

}  // namespace
