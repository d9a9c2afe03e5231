// Writers of the configuration file: exact bytes (golden files), the round
// trip through both writers, and the replacement that never leaves a partial
// file.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "dbconfig_database.hpp"
#include "qx.h"
#include "sandbox.hpp"

namespace {

namespace fs = std::filesystem;
using qx::dbconfig::Database;

uint64_t Bits(double v) {
    uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

enum class Writer { DataServer, Library };

class ConfigWriter : public ::testing::Test {
protected:
    void TearDown() override { QX_ClearAttachState(); }

    int Save(Writer writer, const std::string& path, Database& db) {
        db.attach();
        return writer == Writer::DataServer
                   ? QX_SaveConfig2(QX_CONFIG_NAME, path.c_str(), &db.system, db.tags.data(), db.info.get())
                   : VelmoSaveConfig(QX_CONFIG_NAME, path.c_str(), &db.system, db.tags.data());
    }
    // Loads the rich fixture, optionally with another TagDefaultFkt.
    void LoadRich(Database& db, const char* default_fkt = nullptr) {
        std::string text = qx_test::ReadFile(qx_test::DataFile("dbconfig/rich.ini"));
        if (default_fkt != nullptr) {
            const std::string key = "TagDefaultFkt=0";
            text.replace(text.find(key), key.size(), std::string("TagDefaultFkt=") + default_fkt);
        }
        const std::string path = Path("rich.ini");
        qx_test::WriteFile(path, text);
        ASSERT_EQ(db.load(path.c_str()), 0);
    }
    std::string Path(const char* name) const { return (sandbox_.root() / name).string(); }

    qx_test::Sandbox sandbox_;
};

// The fixture's values, as the readers must have taken them.
TEST_F(ConfigWriter, RichFixtureLoadsEveryFieldKind) {
    Database db;
    LoadRich(db);
    EXPECT_STREQ(db.system.bezeichnung, "Anlage Nord");
    EXPECT_STREQ(db.info->PathArchiv, "/data/archiv;/mnt/usb/archiv");
    EXPECT_STREQ(db.system.TagDefaultBez, "Frei");
    EXPECT_EQ(db.system.time_archiv, -1);
    EXPECT_EQ(db.system.refresh, 3);
    EXPECT_EQ(db.info->UserFieldCount, 5);

    const Tags& t = db.tags[1];
    EXPECT_EQ(std::string(t.Bez, 32), "  Kessel 1 Vorlauf              ");
    EXPECT_EQ(t.Status, 0xFFFFFFFFu);
    EXPECT_EQ(Bits(t.Ist), ~uint64_t{0});   // "#QNAN"
    EXPECT_EQ(Bits(t.Dba), ~uint64_t{0});   // the writer's own "-nan"
    EXPECT_EQ(Bits(t.Summe), ~uint64_t{0}); // "1.#QNAN"
    EXPECT_EQ(t.Arch[1], 254);
    EXPECT_EQ(t.Nach, -7);
    EXPECT_EQ(t.Zeiger[0], -2);
    EXPECT_EQ(t.Zeiger[4], -1);
    EXPECT_EQ(t.Hint[1], -1);
    EXPECT_EQ(t.Hint[8], INT32_MIN);
    EXPECT_EQ(t.Hdouble[1], 0.0);
    EXPECT_TRUE(std::signbit(t.Hdouble[1]));
    EXPECT_STREQ(t.Text, "   links eingerueckt");
    EXPECT_EQ(t.HLog[0], 0x00);
    EXPECT_EQ(t.HLog[3], 0xAB);
    EXPECT_EQ(t.HLog[63], 0x3B);  // at most 64 pairs are read
    EXPECT_EQ(std::string(db.tags[3].Bez, 9), "Grenzwert");
    EXPECT_STREQ(db.tags[3].Text, "Grenze oben");
    EXPECT_EQ(db.tags[4096].Fkt, 1);
    EXPECT_EQ(db.tags[4096].Ist, 7.5);

    TagAdd* e = nullptr;
    ASSERT_EQ(SumGetAnzEntries(2, &e), 2);  // addend 3 removed by "#QNAN"
    EXPECT_EQ(e[0].AddTag, 1);
    EXPECT_EQ(e[0].Factor, 0.25);
    EXPECT_EQ(e[1].AddTag, 4096);
    EXPECT_EQ(SumGetAnzEntries(3, &e), -1);
    EXPECT_EQ(db.info->TagAddCount, 2);
}

// Golden files pin the exact bytes of both writers.
TEST_F(ConfigWriter, GoldenBytes) {
    struct Case { Writer writer; const char* golden; };
    for (const Case& c : {Case{Writer::DataServer, "dbconfig/rich_datasrv.ini"},
                          Case{Writer::Library, "dbconfig/rich_library.ini"}}) {
        SCOPED_TRACE(c.golden);
        Database db;
        LoadRich(db);
        const std::string out = Path("out.ini");
        ASSERT_EQ(Save(c.writer, out, db), 0);
        EXPECT_EQ(qx_test::ReadFile(out), qx_test::ReadFile(qx_test::DataFile(c.golden)));
    }
}

bool SameUserValues(Database& a, Database& b) {
    for (int j = 1; j <= QX_N_TAG; ++j) {
        if (a.tags[j].Fkt == 0) continue;
        if (std::memcmp(a.user_record(j), b.user_record(j), static_cast<size_t>(a.info->UserFieldRecLen)) != 0) {
            ADD_FAILURE() << "user fields of tag " << j;
            return false;
        }
    }
    return true;
}

// A text as the file keeps it: up to its NUL, without trailing blanks.
std::string FileText(const char* text, size_t size) {
    std::string s(text, strnlen(text, size));
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

// Every byte of the records is equal, except that texts compare as the file
// keeps them (an unconfigured tag's name ends in a NUL and 0xFF bytes before,
// in blanks after the round trip).
bool SameTag(const Tags& a, const Tags& b) {
    if (FileText(a.Bez, sizeof a.Bez - 1) != FileText(b.Bez, sizeof b.Bez - 1)) return false;
    if (FileText(a.Text, sizeof a.Text - 1) != FileText(b.Text, sizeof b.Text - 1)) return false;
    Tags x = a, y = b;
    std::memset(x.Bez, 0, sizeof x.Bez);
    std::memset(y.Bez, 0, sizeof y.Bez);
    std::memset(x.Text, 0, sizeof x.Text);
    std::memset(y.Text, 0, sizeof y.Text);
    return std::memcmp(&x, &y, sizeof x) == 0;
}

// Writing and reading again restores every field of every configured tag;
// unconfigured tags come back unconfigured.
TEST_F(ConfigWriter, RoundTripRestoresEveryField) {
    for (const char* default_fkt : {"0", "3"}) {
        for (Writer writer : {Writer::DataServer, Writer::Library}) {
            SCOPED_TRACE(std::string("TagDefaultFkt ") + default_fkt +
                         (writer == Writer::DataServer ? " data server" : " library"));
            Database first;
            LoadRich(first, default_fkt);
            const std::string out = Path("roundtrip.ini");
            ASSERT_EQ(Save(writer, out, first), 0);
            Database second;
            ASSERT_EQ(second.load(out.c_str()), 0);

            EXPECT_EQ(std::memcmp(&first.system, &second.system, sizeof(VelmoSystem)), 0);
            EXPECT_STREQ(first.info->PathArchiv, second.info->PathArchiv);
            EXPECT_EQ(std::memcmp(first.info->UserFieldDsc, second.info->UserFieldDsc, sizeof first.info->UserFieldDsc), 0);
            EXPECT_EQ(first.info->UserFieldRecLen, second.info->UserFieldRecLen);
            for (int j = 0; j <= QX_N_TAG; ++j) ASSERT_TRUE(SameTag(first.tags[j], second.tags[j])) << "tag " << j;
            ASSERT_EQ(first.info->TagAddCount, second.info->TagAddCount);
            EXPECT_EQ(std::memcmp(first.tag_add.data(), second.tag_add.data(),
                                  sizeof(TagAdd) * static_cast<size_t>(first.info->TagAddCount)),
                      0);
            EXPECT_TRUE(SameUserValues(first, second));
            // The file reproduces itself from the second write on.
            const std::string again = Path("again.ini");
            ASSERT_EQ(Save(writer, again, second), 0);
            EXPECT_EQ(qx_test::ReadFile(again), qx_test::ReadFile(out));
            if (std::string(default_fkt) == "3") {
                EXPECT_EQ(second.tags[4000].Fkt, 3);
                EXPECT_EQ(second.tags[4000].Hint[0], 4000);
            }
        }
    }
}

TEST_F(ConfigWriter, WritersDifferInSumTagsTwoTwelve) {
    Database db;
    LoadRich(db);
    db.tags[2].Fkt = QX_FKT_SUM_ALT;
    for (Writer writer : {Writer::DataServer, Writer::Library}) {
        const std::string out = Path("212.ini");
        ASSERT_EQ(Save(writer, out, db), 0);
        const bool has_entries = qx_test::ReadFile(out).find("Fkt=212\nTagAdd=1,0.25\nTagAdd=4096,-0.5\n") != std::string::npos;
        EXPECT_EQ(has_entries, writer == Writer::Library);
    }
}

TEST_F(ConfigWriter, LibraryWriterUsesTheAttachedRecordsAndReportsItsSteps) {
    Database db;
    LoadRich(db);
    const std::string a = Path("a.ini");
    const std::string b = Path("b.ini");
    db.attach();
    ::testing::internal::CaptureStdout();
    ASSERT_EQ(VelmoSaveConfig(nullptr, a.c_str(), nullptr, nullptr), 0);
    const std::string moni = ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(VelmoSaveConfig(nullptr, b.c_str(), &db.system, db.tags.data()), 0);
    EXPECT_EQ(qx_test::ReadFile(a), qx_test::ReadFile(b));
    EXPECT_EQ(moni,
              "(4-A) TagDefaultFkt: 0\n(4-B) TagDefaultFkt: 0\n(4-C) TagDefaultFkt: 0\n"
              "(4-H) TagDefaultFkt: 0\n(4-O) TagDefaultFkt: 0\n(4-Z) TagDefaultFkt: 0\n");

    QX_ClearAttachState();
    EXPECT_EQ(VelmoSaveConfig(nullptr, a.c_str(), nullptr, nullptr), -2);
    EXPECT_EQ(QX_SaveConfig2(nullptr, a.c_str(), nullptr, db.tags.data(), db.info.get()), -2);
    EXPECT_EQ(QX_SaveConfig2(nullptr, a.c_str(), &db.system, nullptr, db.info.get()), -2);
}

// Without user-field area or Info the data server's writer still writes
// the system and the tags.
TEST_F(ConfigWriter, NoUserFieldsWithoutTheirArea) {
    Database db;
    LoadRich(db);
    QX_SetAttachState(&db.system, db.tags.data(), nullptr, db.info.get(), nullptr, nullptr, nullptr);
    const std::string out = Path("nofields.ini");
    ASSERT_EQ(QX_SaveConfig2(nullptr, out.c_str(), &db.system, db.tags.data(), nullptr), 0);
    const std::string text = qx_test::ReadFile(out);
    EXPECT_EQ(text.find("[UserFields]"), std::string::npos);
    EXPECT_EQ(text.find("TagAdd="), std::string::npos);
    EXPECT_NE(text.find("Path_Archiv=\nTagDefaultBez="), std::string::npos);
    EXPECT_NE(text.find("TagNr=4096\n"), std::string::npos);
}

// ---- Replacing the file ------------------------------------------------------

class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);  // a write beyond the limit fails with EFBIG instead
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }

private:
    rlimit saved_{};
    void (*previous_)(int) = nullptr;
};

std::vector<std::string> DirectoryEntries(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(ConfigWriter, AFailedWriteLeavesTheOldFile) {
    Database db;
    LoadRich(db);
    const fs::path dir = sandbox_.root() / "db";
    fs::create_directories(dir);
    const std::string target = (dir / "ra_vuvuvizi.ini").string();
    const std::string old_content = "[Init]\nTakt=9\n";
    qx_test::WriteFile(target, old_content);

    for (Writer writer : {Writer::DataServer, Writer::Library}) {
        {
            FileSizeLimit limit(4096);  // the disk is full after 4 KiB
            EXPECT_EQ(Save(writer, target, db), -1);
        }
        EXPECT_EQ(qx_test::ReadFile(target), old_content);
        EXPECT_EQ(DirectoryEntries(dir), std::vector<std::string>{"ra_vuvuvizi.ini"}) << "temporary file left behind";
    }
    // Into a directory that does not exist: nothing written, nothing created.
    EXPECT_EQ(Save(Writer::DataServer, (dir / "missing" / "x.ini").string(), db), -1);
    EXPECT_FALSE(fs::exists(dir / "missing"));
}

TEST_F(ConfigWriter, ReplacementKeepsPermissionsAndFollowsALink) {
    Database db;
    LoadRich(db);
    const fs::path dir = sandbox_.root() / "db";
    fs::create_directories(dir);
    const fs::path real = dir / "real.ini";
    const fs::path link = dir / "link.ini";
    qx_test::WriteFile(real, "old\n");
    ASSERT_EQ(chmod(real.c_str(), 0640), 0);
    fs::create_symlink("real.ini", link);

    ASSERT_EQ(Save(Writer::DataServer, link.string(), db), 0);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(qx_test::ReadFile(real), qx_test::ReadFile(qx_test::DataFile("dbconfig/rich_datasrv.ini")));
    struct stat st {};
    ASSERT_EQ(stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(DirectoryEntries(dir), (std::vector<std::string>{"link.ini", "real.ini"}));
}

}  // namespace
