// The real qx_datasrv in a sandbox: built from a configuration file, attached
// with QXInit, fed archive steps through the queue writers and stopped by
// command or signal.  Archive files are checked byte for byte against images
// built here from the file layout.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <numeric>
#include <ostream>
#include <string>
#include <vector>

#include "attach_state.hpp"
#include "process.hpp"
#include "../programs/datasrv_sandbox.hpp"
#include "qx.h"
#include "sandbox.hpp"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const fs::path kServer = fs::path(QX_BINARY_DIR) / "datasrv" / "qx_datasrv";

using datasrv_test::Utc;

template <typename T>
void Put(std::string& out, size_t offset, T value) {
    std::memcpy(out.data() + offset, &value, sizeof value);
}

template <typename T>
std::string Cells(const std::vector<T>& cells) {
    std::string out(cells.size() * sizeof(T), '\0');
    for (size_t i = 0; i < cells.size(); ++i) Put(out, i * sizeof(T), cells[i]);
    return out;
}

const double kEmpty = GetNan();
constexpr uint32_t kNoStatus = 0xFFFFFFFFu;

// The bytes of a time-major archive file as the store lays it out: header,
// rows of slots (empty pattern where no row is given), index.
std::string ArchiveImage(int kind, int inter, int period, const std::vector<int32_t>& tags,
                         const std::map<int, std::string>& rows) {
    const size_t width = kind % 2 == 1 ? 8 : 4;
    const int ninter = period / inter + (period % inter != 0 ? 1 : 0);
    const size_t ntags = tags.size();
    std::string out(QX_ARCHIV_HEADER_SIZE, '\0');
    Put<int32_t>(out, 8, int32_t(ntags));
    Put<int32_t>(out, 12, inter);
    Put<int32_t>(out, 16, ninter);
    Put<int32_t>(out, 20, 1);
    Put<uint32_t>(out, 24, uint32_t(QX_ARCHIV_HEADER_SIZE + ntags * size_t(ninter) * width));
    Put<int32_t>(out, 28, 3);
    Put<uint32_t>(out, 208, 0xAFFEAFFEu);
    Put<uint32_t>(out, 212, 0xBEEFBEEFu);
    std::string data(ntags * size_t(ninter) * width, '\xFF');
    for (const auto& [row, bytes] : rows) {
        EXPECT_EQ(bytes.size(), ntags * width) << "row " << row << " of the expected image";
        data.replace(size_t(row) * ntags * width, bytes.size(), bytes);
    }
    out += data;
    for (size_t j = 0; j < ntags; ++j) {
        std::string entry(QX_ARCHIV_INDEX_ENTRY, '\0');
        Put<uint32_t>(entry, 0, uint32_t(tags[j]));
        Put<uint32_t>(entry, 4, uint32_t(QX_ARCHIV_HEADER_SIZE + j * width));
        Put<int16_t>(entry, 8, int16_t(kind));
        Put<int16_t>(entry, 10, int16_t(width));
        out += entry;
    }
    return out;
}

std::string FileOrEmpty(const fs::path& file) {
    std::error_code ec;
    if (!fs::exists(file, ec)) return {};
    try {
        return qx_test::ReadFile(file);
    } catch (const std::exception&) {
        return {};
    }
}

// Where two images first differ, for a readable failure.
std::string FirstDifference(const std::string& got, const std::string& want) {
    if (got.size() != want.size())
        return "size " + std::to_string(got.size()) + " instead of " + std::to_string(want.size());
    const auto mismatch = std::mismatch(got.begin(), got.end(), want.begin());
    if (mismatch.first == got.end()) return "equal";
    return "first difference at byte " + std::to_string(mismatch.first - got.begin());
}

bool QueueExists(int32_t key) { return msgget(static_cast<key_t>(key), 0) >= 0; }

// Sends a raw message with a body of the given bytes.
void SendRaw(int32_t key, int64_t type, const std::string& body) {
    const int id = msgget(static_cast<key_t>(key), 0);
    ASSERT_GE(id, 0) << "queue " << std::hex << key << " missing";
    std::vector<char> record(8 + body.size());
    std::memcpy(record.data(), &type, 8);
    std::memcpy(record.data() + 8, body.data(), body.size());
    ASSERT_EQ(msgsnd(id, record.data(), body.size(), IPC_NOWAIT), 0) << std::strerror(errno);
}

class DataServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(qx_test::EnterPrivateIpcNamespace());
        archive_ = datasrv_test::WriteConfiguration(sandbox_);
    }

    fs::path ConfigPath() const { return sandbox_.path(QX_CONFIG_FILE); }

    void Start() {
        server_ = std::make_unique<qx_test::Process>(kServer);
        ASSERT_TRUE(server_->WaitForStdout("SHM_DATA: Server bereit", 20s))
            << "stdout:\n" << server_->Stdout() << "\nstderr:\n" << server_->Stderr();
    }

    void Attach() {
        ASSERT_EQ(QXInit(0, nullptr, 0, nullptr, &sys_, &roh_, &tags_), 1);
        info_ = qx::attach_state().info;
    }

    // Waits until the file holds exactly the image.
    void ExpectFile(const fs::path& file, const std::string& want) {
        qx_test::WaitUntil([&] { return FileOrEmpty(file) == want; }, 20s);
        const std::string got = FileOrEmpty(file);
        EXPECT_TRUE(got == want) << file << ": " << FirstDifference(got, want);
    }

    // Texts of the log messages received so far (the server logs to the log
    // queue, which no supervisor reads here).
    const std::vector<std::string>& Log() {
        sMsq queue{-1, QX_KEY_LOG_QUEUE};
        if (openMsg(&queue) != 0) return log_;
        QX_LogMsg message{};
        int32_t length = QX_LOG_RECORD_LEN;
        while (rcvMsg(&queue, &message, &length) > 0) {
            log_.emplace_back(message.text, strnlen(message.text, sizeof message.text));
            length = QX_LOG_RECORD_LEN;
        }
        return log_;
    }
    bool Logged(const std::string& text) {
        const auto& log = Log();
        return std::any_of(log.begin(), log.end(), [&](const std::string& l) { return l.find(text) != std::string::npos; });
    }

    qx_test::Sandbox sandbox_;
    fs::path archive_;
    std::unique_ptr<qx_test::Process> server_;  // killed first, before the sandbox goes
    VelmoSystem* sys_ = nullptr;
    Rohwerte* roh_ = nullptr;
    Tags* tags_ = nullptr;
    Info* info_ = nullptr;
    std::vector<std::string> log_;
};

TEST_F(DataServerTest, StartBuildsTheDatabaseFromTheConfigurationFile) {
    // Queues of an earlier run: their messages must not reach the new server.
    const int stale_archive = msgget(static_cast<key_t>(QX_KEY_ARCHIVE_QUEUE), IPC_CREAT | 0666);
    const int stale_answer = msgget(static_cast<key_t>(QX_KEY_ANSWER_BASE), IPC_CREAT | 0666);
    ASSERT_GE(stale_archive, 0);
    ASSERT_NO_FATAL_FAILURE(SendRaw(QX_KEY_ARCHIVE_QUEUE, 1, std::string(40, 'x')));

    ASSERT_NO_FATAL_FAILURE(Start());
    msqid_ds ds{};
    EXPECT_NE(msgctl(stale_archive, IPC_STAT, &ds), 0) << "the old archive queue survived";
    EXPECT_NE(msgctl(stale_answer, IPC_STAT, &ds), 0) << "the old answer queue survived";

    const std::string out = server_->Stdout();
    for (const char* line : {"VelmoSystem : 216\n", "Rohwerte : 40\n", "Tags : 368\n", "TagAdd : 16\n",
                             "TagsInternal : 496\n", "UserFieldDSC : 116\n", "Info : 45832\n",
                             " USERFIELDSIZE 131104:\n"})
        EXPECT_NE(out.find(line), std::string::npos) << "missing monitor line " << line;
    // Written back at once: the file now carries the server's own banner.
    EXPECT_NE(qx_test::ReadFile(ConfigPath()).find("RA_Vuvuvizi INIT File"), std::string::npos);

    ASSERT_NO_FATAL_FAILURE(Attach());
    EXPECT_EQ(sys_->takt, 1);
    EXPECT_EQ(sys_->inter, 900);
    EXPECT_EQ(sys_->stoer_takt, 60);
    EXPECT_EQ(sys_->n_tag, 4096) << "N_Tag=17 must not shrink the table";
    EXPECT_STREQ(sys_->dir_archiv, archive_.c_str());
    EXPECT_EQ(std::string(sys_->bezeichnung).rfind("Pruefanlage Datenserver", 0), 0u);

    EXPECT_STREQ(info_->PathArchiv, "/mnt/a;/mnt/b");
    EXPECT_TRUE(std::isnan(info_->TimeLastArchiv));
    EXPECT_TRUE(std::isnan(info_->TimeLastDetail));
    EXPECT_TRUE(std::isnan(info_->TimeLastTag));
    EXPECT_TRUE(std::isnan(info_->TimeLastTrend));
    EXPECT_EQ(info_->TagAddMax, QX_TAGADD_MAX);
    EXPECT_EQ(info_->UserFieldCount, 2);
    EXPECT_EQ(info_->UserFieldRecLen, 32);

    const Tags& t1 = tags_[1];
    EXPECT_EQ(std::string(t1.Bez, sizeof t1.Bez), "Kessel Vorlauf" + std::string(18, ' '));
    EXPECT_EQ(t1.Fkt, 3);
    EXPECT_EQ(t1.Status, 0u);
    EXPECT_EQ(t1.Ist, 71.25);
    EXPECT_TRUE(std::isnan(t1.Dba)) << "a key not in the file keeps the fill";
    EXPECT_EQ(t1.Hint[0], 17);
    EXPECT_EQ(t1.Arch[0], 1);
    EXPECT_STREQ(t1.Text, "Vorlauftemperatur");
    EXPECT_EQ(t1.HLog[0], 0x00);
    EXPECT_EQ(t1.HLog[1], 0xFF);
    EXPECT_EQ(t1.HLog[2], 0x00);
    EXPECT_EQ(tags_[2].Zeiger[0], -1);
    EXPECT_EQ(tags_[2].Status, 0xFFFFFFFFu);

    TagAdd* entries = nullptr;
    ASSERT_EQ(SumGetAnzEntries(2, &entries), 2);
    EXPECT_EQ(entries[0].AddTag, 1);
    EXPECT_EQ(entries[0].Factor, 2.5);
    EXPECT_EQ(entries[1].AddTag, 3);
    EXPECT_EQ(entries[1].Factor, 1.0);

    // An unconfigured tag: the fill, its default name, no archive, no function.
    const Tags& t100 = tags_[100];
    EXPECT_EQ(std::string(t100.Bez, 20), std::string("Frei           100 ") + '\0');
    EXPECT_EQ(static_cast<unsigned char>(t100.Bez[20]), 0xFF);
    EXPECT_EQ(t100.Fkt, 0);
    EXPECT_EQ(t100.Status, 0xFFFFFFFFu);
    EXPECT_TRUE(std::isnan(t100.Ist));
    EXPECT_EQ(t100.Arch[0] | t100.Arch[1] | t100.Arch[2] | t100.Arch[3], 0);
    EXPECT_EQ(t100.HByte[0], 0xFF);
    EXPECT_EQ(t100.Hint[9], -1);
    EXPECT_TRUE(std::isnan(roh_[1].Ist));

    const qx::AttachState& st = qx::attach_state();
    EXPECT_EQ(st.tags_internal[5].Trend[0], 0.0);
    EXPECT_EQ(st.tags_internal[5].Aux[1], 0.0);
    const unsigned char* record1 = st.user_fields + 1 * 32;
    EXPECT_STREQ(reinterpret_cast<const char*>(record1), "Kessel, Haus 3");
    double limit = 0;
    std::memcpy(&limit, st.user_fields + 2 * 32 + 24, sizeof limit);
    EXPECT_EQ(limit, -12.5);
    std::memcpy(&limit, st.user_fields + 3 * 32 + 24, sizeof limit);
    EXPECT_TRUE(std::isnan(limit));
}

TEST_F(DataServerTest, ArchiveStepsReachDayAndHourFilesAndReadBack) {
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_NO_FATAL_FAILURE(Attach());
    const double t = Utc(2024, 3, 15, 10, 15, 0);
    const std::vector<int32_t> given{5, 1, 3};
    ASSERT_EQ(WriteArchiv(3, sys_, given.data(), std::vector<double>{5.5, 1.5, 3.5}.data(), t), 0);
    ASSERT_EQ(WriteArchivStatus(3, sys_, given.data(), std::vector<uint32_t>{5, 1, 0x4000}.data(), t), 0);
    ASSERT_EQ(WriteDetail(3, sys_, given.data(), std::vector<double>{-5.0, -1.0, -3.0}.data(), t), 0);
    // Half a minute late: written into its slot, but not reported.
    const double late = Utc(2024, 3, 15, 10, 15, 30);
    ASSERT_EQ(WriteDetailStatus(3, sys_, given.data(), std::vector<uint32_t>{50, 10, 30}.data(), late), 0);

    const std::vector<int32_t> sorted{1, 3, 5};
    ExpectFile(archive_ / "20240315.DATA",
               ArchiveImage(1, 900, 86400, sorted, {{41, Cells<double>({1.5, 3.5, 5.5})}}));
    ExpectFile(archive_ / "20240315.DATA.ST",
               ArchiveImage(2, 900, 86400, sorted, {{41, Cells<uint32_t>({1, 0x4000, 5})}}));
    ExpectFile(archive_ / "2024031510.DETAIL",
               ArchiveImage(3, 60, 3600, sorted, {{15, Cells<double>({-1.0, -3.0, -5.0})}}));
    ExpectFile(archive_ / "2024031510.DETAIL.ST",
               ArchiveImage(4, 60, 3600, sorted, {{15, Cells<uint32_t>({10, 30, 50})}}));

    EXPECT_EQ(info_->TimeLastArchiv, t);
    EXPECT_EQ(info_->TimeLastDetail, t);
    ASSERT_TRUE(qx_test::WaitUntil([&] { return Logged("WriteDetail: Tags: 3 Datum: 10:15:00"); }, 10s));
    EXPECT_TRUE(Logged("WriteArchiv: Tags: 3 Datum: 10:15:00"));
    EXPECT_TRUE(Logged("WriteArchivStatus: Tags: 3 Datum: 10:15:00"));
    EXPECT_FALSE(Logged("WriteDetailStatus:")) << "a step off the full minute is not reported";

    // An interval step 20 s late lands in row 42, unreported, and leaves
    // TimeLastArchiv where it was.
    const double late_archive = Utc(2024, 3, 15, 10, 30, 20);
    ASSERT_EQ(WriteArchiv(2, sys_, std::vector<int32_t>{3, 1}.data(), std::vector<double>{33.0, 11.0}.data(),
                          late_archive),
              0);
    ExpectFile(archive_ / "20240315.DATA",
               ArchiveImage(1, 900, 86400, sorted,
                            {{41, Cells<double>({1.5, 3.5, 5.5})}, {42, Cells<double>({11.0, 33.0, kEmpty})}}));
    EXPECT_EQ(info_->TimeLastArchiv, t);
    EXPECT_FALSE(Logged("Datum: 10:30:20"));

    // Read back: 10:07 is rounded down to 10:00; tag 99 is in no file.
    double* values = nullptr;
    int32_t rows = -1;
    const std::vector<int32_t> wanted{5, 99, 1};
    ASSERT_EQ(ReadArchivUTC(Utc(2024, 3, 15, 10, 7, 0), Utc(2024, 3, 15, 11, 0, 0), sys_, tags_, 3, wanted.data(),
                            &rows, &values),
              0);
    ASSERT_EQ(rows, 3);
    const std::vector<double> row1(values + 3, values + 6);
    const std::vector<double> row2(values + 6, values + 9);
    EXPECT_TRUE(std::isnan(values[0]) && std::isnan(values[1]) && std::isnan(values[2])) << "10:00 holds nothing";
    EXPECT_EQ(row1[0], 5.5);
    EXPECT_TRUE(std::isnan(row1[1]));
    EXPECT_EQ(row1[2], 1.5);
    EXPECT_TRUE(std::isnan(row2[0]));
    EXPECT_EQ(row2[2], 11.0);
    std::free(values);
}

TEST_F(DataServerTest, NewTagExtendsTheDayFileAndKeepsTheOldOne) {
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_NO_FATAL_FAILURE(Attach());
    const fs::path day = archive_ / "20240316.DATA";
    const double midnight = Utc(2024, 3, 16, 0, 0, 0);
    ASSERT_EQ(WriteArchiv(2, sys_, std::vector<int32_t>{1, 2}.data(), std::vector<double>{10, 20}.data(), midnight), 0);
    const std::string before = ArchiveImage(1, 900, 86400, {1, 2}, {{0, Cells<double>({10, 20})}});
    ExpectFile(day, before);

    ASSERT_EQ(WriteArchiv(3, sys_, std::vector<int32_t>{3, 2, 1}.data(), std::vector<double>{31, 21, 11}.data(),
                          Utc(2024, 3, 16, 0, 15, 0)),
              0);
    ExpectFile(day, ArchiveImage(1, 900, 86400, {1, 2, 3},
                                 {{0, Cells<double>({10, 20, kEmpty})}, {1, Cells<double>({11, 21, 31})}}));
    EXPECT_EQ(FileOrEmpty(archive_ / "20240316.DATA.OLD"), before);
    EXPECT_FALSE(fs::exists(archive_ / "20240316.DATA.NEW"));
}

// With the queue at the kernel's default size a full step travels in many
// parts; the server must drain them as they come so that the producer,
// which waits for room only briefly, loses nothing and is not held up.
TEST_F(DataServerTest, FullStepsThroughTheDefaultSizedQueueAllArrive) {
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_NO_FATAL_FAILURE(Attach());
    const int queue = msgget(static_cast<key_t>(QX_KEY_ARCHIVE_QUEUE), 0);
    ASSERT_GE(queue, 0);
    msqid_ds ds{};
    ASSERT_EQ(msgctl(queue, IPC_STAT, &ds), 0);
    ds.msg_qbytes = 16384;
    ASSERT_EQ(msgctl(queue, IPC_SET, &ds), 0) << std::strerror(errno);

    constexpr int kSteps = 20;
    constexpr int kTags = QX_N_TAG;
    std::vector<int32_t> tags(kTags);
    std::iota(tags.begin(), tags.end(), 1);
    std::vector<double> values(kTags);
    std::vector<uint32_t> status(kTags);
    std::map<int, std::string> value_rows;
    std::map<int, std::string> status_rows;
    auto slowest = std::chrono::steady_clock::duration::zero();
    for (int step = 0; step < kSteps; ++step) {
        for (int k = 0; k < kTags; ++k) {
            values[size_t(k)] = step * 10000.0 + k + 1;
            status[size_t(k)] = uint32_t(step) << 16 | uint32_t(k + 1);
        }
        value_rows[step] = Cells(values);
        status_rows[step] = Cells(status);
        const double t = Utc(2024, 3, 17, 0, 0, 0) + step * 900.0 / 86400.0;
        const auto begin = std::chrono::steady_clock::now();
        ASSERT_EQ(WriteArchiv(kTags, sys_, tags.data(), values.data(), t), 0) << "step " << step;
        ASSERT_EQ(WriteArchivStatus(kTags, sys_, tags.data(), status.data(), t), 0) << "step " << step;
        slowest = std::max(slowest, std::chrono::steady_clock::now() - begin);
    }
    ExpectFile(archive_ / "20240317.DATA", ArchiveImage(1, 900, 86400, tags, value_rows));
    ExpectFile(archive_ / "20240317.DATA.ST", ArchiveImage(2, 900, 86400, tags, status_rows));
    // The parts of the first step were gathered: the new files were created
    // with every tag at once, never extended part by part.
    EXPECT_FALSE(fs::exists(archive_ / "20240317.DATA.OLD"));
    EXPECT_FALSE(fs::exists(archive_ / "20240317.DATA.ST.OLD"));
    const auto slowest_ms = std::chrono::duration_cast<std::chrono::milliseconds>(slowest).count();
    std::printf("slowest step sent in %lld ms\n", static_cast<long long>(slowest_ms));
    // The core's cycle must never wait for the disk: a server that wrote
    // while the parts waited, or slept a second, would hold it far longer.
    EXPECT_LT(slowest_ms, 200);
}

TEST_F(DataServerTest, CommandThreeWritesTheConfigurationBack) {
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_NO_FATAL_FAILURE(Attach());
    Tags& t5 = tags_[5];
    t5.Fkt = 4;
    t5.Ist = 42.5;
    std::memset(t5.Bez, ' ', sizeof t5.Bez);
    std::memcpy(t5.Bez, "Neu", 3);
    fs::remove(ConfigPath());

    EXPECT_EQ(QX_SaveConfig(), -1);
    ASSERT_TRUE(qx_test::WaitUntil([&] { return FileOrEmpty(ConfigPath()).find("TagNr=5\n") != std::string::npos; }, 10s));
    const std::string file = qx_test::ReadFile(ConfigPath());
    const std::string block = file.substr(file.find("TagNr=5\n"));
    EXPECT_EQ(block.rfind("TagNr=5\nBez=Neu" + std::string(29, ' ') + "\nFkt=4\n", 0), 0u) << block.substr(0, 80);
    EXPECT_NE(block.find("Ist=42.5\n"), std::string::npos);
    EXPECT_NE(file.find("Dir_Archiv=" + archive_.string()), std::string::npos);
    EXPECT_NE(file.find("TagAdd=1,2.5\n"), std::string::npos);
}

// An attach request from a client that has gone: the answer queue it names
// is made, and the answer waits in it.
TEST_F(DataServerTest, AttachAnswerReachesTheQueueOfAGoneClient) {
    ASSERT_NO_FATAL_FAILURE(Start());
    const int32_t key = static_cast<int32_t>(QX_KEY_ANSWER_BASE + 999999u);
    char text[QX_CMD_TEXT_SIZE] = {};
    std::snprintf(text, sizeof text, QX_ATTACH_REQUEST_FORMAT, static_cast<long>(key));
    ASSERT_NO_FATAL_FAILURE(SendRaw(QX_KEY_CMD_QUEUE, QX_CMD_ATTACH, std::string(text, sizeof text)));

    ASSERT_TRUE(qx_test::WaitUntil(
        [&] {
            msqid_ds ds{};
            const int id = msgget(static_cast<key_t>(key), 0);
            return id >= 0 && msgctl(id, IPC_STAT, &ds) == 0 && ds.msg_qnum == 1;
        },
        10s));
    QX_AttachAnswer answer{};
    const ssize_t got = msgrcv(msgget(static_cast<key_t>(key), 0), &answer, 1024, 0, IPC_NOWAIT | MSG_NOERROR);
    ASSERT_EQ(got, QX_ATTACH_ANSWER_SIZE);
    EXPECT_EQ(answer.mtype, QX_CMD_ATTACH);
    EXPECT_EQ(answer.keySegment1, QX_KEY_SEGMENT1);
    EXPECT_EQ(answer.keySegment2, QX_KEY_SEGMENT2);
    EXPECT_EQ(answer.sizeSegment1, QX_SEG1_SIZE);
    EXPECT_EQ(answer.sizeSegment2, QX_SEG2_FIXED_SIZE + 4097 * 32);
    EXPECT_EQ(answer.offSystem, 0);
    EXPECT_EQ(answer.offTags, 216);
    EXPECT_EQ(answer.offRoh, 1507912);
    EXPECT_EQ(answer.offInfo, 1671792);
    EXPECT_EQ(answer.offTagAdd, 0);
    EXPECT_EQ(answer.offTagsInternal, 131104);
    EXPECT_EQ(answer.offUserFields, 2163216);

    // The pointer request is answered too: four addresses, useful to no one
    // outside the server but still delivered in the asked layout.
    const int32_t pointer_key = static_cast<int32_t>(QX_KEY_ANSWER_BASE + 999998u);
    std::snprintf(text, sizeof text, "%ld", static_cast<long>(pointer_key));
    ASSERT_NO_FATAL_FAILURE(SendRaw(QX_KEY_CMD_QUEUE, QX_CMD_POINTERS, std::string(text, sizeof text)));
    ASSERT_TRUE(qx_test::WaitUntil([&] { return QueueExists(pointer_key); }, 10s));
    struct {
        int64_t mtype;
        uint64_t addresses[8];
    } pointers{};
    ASSERT_TRUE(qx_test::WaitUntil(
        [&] {
            return msgrcv(msgget(static_cast<key_t>(pointer_key), 0), &pointers, sizeof pointers.addresses, 0,
                          IPC_NOWAIT | MSG_NOERROR) == 32;
        },
        10s));
    EXPECT_EQ(pointers.mtype, QX_CMD_POINTERS);
    EXPECT_NE(pointers.addresses[1], 0u) << "the tag table's address";
}

// A command longer than the server's buffer used to end the server; now it
// is dropped.  Type 9999 makes sure it is not taken as a cut-off command.
TEST_F(DataServerTest, OversizedCommandIsDroppedAndTheServerGoesOn) {
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_NO_FATAL_FAILURE(SendRaw(QX_KEY_CMD_QUEUE, QX_CMD_STOP, std::string(200, '7')));
    ASSERT_TRUE(qx_test::WaitUntil([&] { return server_->Stderr().find("Kommando zu lang") != std::string::npos; }, 10s))
        << server_->Stderr();
    EXPECT_TRUE(server_->Running());
    ASSERT_NO_FATAL_FAILURE(Attach());
    EXPECT_TRUE(Logged("SHM_DATA: Kommando zu lang, verworfen"));

    // An unknown command is reported, and the server goes on as well.
    ASSERT_NO_FATAL_FAILURE(SendRaw(QX_KEY_CMD_QUEUE, 77, std::string(QX_CMD_TEXT_SIZE, '\0')));
    EXPECT_TRUE(qx_test::WaitUntil(
        [&] { return server_->Stderr().find("SHM_DATA: Unbekanntes Kommando") != std::string::npos; }, 10s));
    EXPECT_TRUE(server_->Running());
}

struct StopCase {
    const char* name;
    bool by_signal;
};

void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }

class DataServerStopTest : public DataServerTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(DataServerStopTest, EndsAndRemovesBothQueues) {
    ASSERT_NO_FATAL_FAILURE(Start());
    if (GetParam().by_signal)
        server_->Signal(SIGUSR1);
    else
        ASSERT_NO_FATAL_FAILURE(SendRaw(QX_KEY_CMD_QUEUE, QX_CMD_STOP, std::string(QX_CMD_TEXT_SIZE, '\0')));
    const auto status = server_->WaitFor(10s);
    ASSERT_TRUE(status.has_value()) << "still running";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "status " << *status;
    EXPECT_FALSE(QueueExists(QX_KEY_CMD_QUEUE));
    EXPECT_FALSE(QueueExists(QX_KEY_ARCHIVE_QUEUE));
    if (GetParam().by_signal) {
        const std::string line = "qx_datasrv: sigUsr1(): " + std::to_string(server_->pid());
        EXPECT_NE(server_->Stdout().find(line), std::string::npos) << server_->Stdout();
    }
}

INSTANTIATE_TEST_SUITE_P(Stops, DataServerStopTest,
                         ::testing::Values(StopCase{"Command9999", false}, StopCase{"SigUsr1", true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
