// Rewriting INI files: what each write leaves in the file, what it refuses,
// and that a failed write keeps the old file.
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "ini_fixture.hpp"

namespace {

using qx_ini_test::Bytes;
using qx_ini_test::IniTest;

constexpr const char* kDelete = nullptr;

TEST_F(IniTest, WritePrivateProfileStringRewritesTheFileAsAsked) {
    struct Case {
        const char* what;
        const char* before;
        const char* section;
        const char* key;
        const char* value;
        const char* after;
    };
    const Case cases[] = {
        {"replace a key with the caller's spelling",
         "[A]\n  takt = 5 # old\nb=1\n[B]\ntakt=7\n", "a", "Takt", "6",
         "[A]\nTakt=6\nb=1\n[B]\ntakt=7\n"},
        {"replace every entry of the key",
         "[A]\nk=1\nx=2\nk=3\n", "A", "k", "9", "[A]\nk=9\nx=2\nk=9\n"},
        {"new key before the next header, after the section's blank lines",
         "[A]\nx=1\n\n[B]\ny=2\n", "A", "k", "v", "[A]\nx=1\n\nk=v\n[B]\ny=2\n"},
        {"new key in the last section goes to the end",
         "[A]\nx=1\n[B]\ny=2\n\n", "B", "k", "v", "[A]\nx=1\n[B]\ny=2\n\nk=v\n"},
        {"new key of a missing section",
         "[A]\nx=1\n", "New", "k", "v", "[A]\nx=1\n\n[New]\nk=v\n"},
        {"new key after an unterminated last line",
         "[A]\nx=1\ny=2", "A", "k", "v", "[A]\nx=1\ny=2\nk=v\n"},
        {"delete a key, comments stay",
         "[A]\n# note\nk=1\nx=2\n[B]\nk=3\n", "A", "k", kDelete, "[A]\n# note\nx=2\n[B]\nk=3\n"},
        {"delete a key that is not there",
         "[A]\nx=1\n[B]\ny=2\n", "A", "k", kDelete, "[A]\nx=1\n[B]\ny=2\n"},
        {"delete every block of a section with its comments",
         "[A]\nx=1\n[B]\n# b\ny=2\n[C]\nz=3\n[b]\nw=4\n", "B", nullptr, kDelete, "[A]\nx=1\n[C]\nz=3\n"},
        {"a header with a comment ends the section",
         "[A]\nx=1\n[B] # second\nk=2\n", "A", "k", "v", "[A]\nx=1\nk=v\n[B] # second\nk=2\n"},
        {"a section whose name starts like the wanted one is another section",
         "[MBUS2]\nk=1\n[MBUS]\nk=2\n", "MBUS", "k", "3", "[MBUS2]\nk=1\n[MBUS]\nk=3\n"},
        {"regular-expression characters in names are plain characters",
         "[S(1)]\na.b=1\naxb=2\n[S1]\na.b=3\n", "S(1)", "a.b", "4", "[S(1)]\na.b=4\naxb=2\n[S1]\na.b=3\n"},
        {"a name holding '$' and brackets",
         "[x$[y]]\nk$=1\n", "x$[y]", "k$", "2", "[x$[y]]\nk$=2\n"},
        {"CR LF lines: the next header still ends the section",
         "[A]\r\nk=1\r\n[B]\r\nk=2\r\n", "A", "k", "3", "[A]\r\nk=3\n[B]\r\nk=2\r\n"},
        {"a TAB-indented key line is the key line",
         "[A]\n\tk\t= 1\nx=1\n", "A", "K", "2", "[A]\nK=2\nx=1\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string file = Ini(c.before);
        EXPECT_EQ(WritePrivateProfileString(c.section, c.key, c.value, file.c_str()), 1);
        EXPECT_EQ(Content(file), c.after);
    }
}

TEST_F(IniTest, WrittenKeysReadBack) {
    const std::string file = Ini("[Server (Halle 1)]\nLastDate=1.5\n[Server (Halle 10)]\nLastDate=2.5\n");
    for (int round = 0; round < 3; ++round) {
        const std::string value = std::to_string(45000 + round) + ".25";
        ASSERT_EQ(WritePrivateProfileString("Server (Halle 1)", "LastDate", value.c_str(), file.c_str()), 1);
        char buffer[32];
        GetPrivateProfileString("server (halle 1)", "lastdate", "", buffer, sizeof buffer, file.c_str());
        EXPECT_EQ(std::string(buffer), value);
    }
    // No block was added, and the neighbouring section kept its value.
    EXPECT_EQ(Content(file), "[Server (Halle 1)]\nLastDate=45002.25\n[Server (Halle 10)]\nLastDate=2.5\n");
}

TEST_F(IniTest, LongLinesAndNulBytesAreCopiedByteForByte) {
    const std::string long_value(9000, 'x');
    const std::string before = Bytes("[A]\nbin=1\0\x01\x02\nk=1\n") + "other=" + long_value + "\nk" +
                               "=" + long_value + "\n[B]\ny=2\n";
    const std::string file = Ini(before);
    ASSERT_EQ(WritePrivateProfileString("A", "k", "2", file.c_str()), 1);
    // Both k lines are replaced, the second as a whole, not only its first piece.
    EXPECT_EQ(Content(file), Bytes("[A]\nbin=1\0\x01\x02\nk=2\n") + "other=" + long_value + "\nk=2\n[B]\ny=2\n");
}

TEST_F(IniTest, WritesThatWouldLeaveATinyFileAreRefused) {
    const std::string file = Ini("[A]\nb=1\nc=2\n");
    testing::internal::CaptureStdout();
    EXPECT_EQ(WritePrivateProfileString("A", "c", nullptr, file.c_str()), 0);  // would leave "[A]\nb=1\n"
    const std::string monitor = testing::internal::GetCapturedStdout();
    EXPECT_EQ(Content(file), "[A]\nb=1\nc=2\n");
    EXPECT_NE(monitor.find("B WritePrivateProfileString: Loesche Key: A, c\n"), std::string::npos);
    EXPECT_NE(monitor.find("WritePrivateProfileString: Datei zu klein (B): Filename: " +
                           sandbox_.path("/home/kwz/log/temp.ini").string() + ", size=8\n"),
              std::string::npos);
}

TEST_F(IniTest, WritePrivateProfileStringDoesNotCreateFiles) {
    const std::string file = sandbox_.path("/home/kwz/absent.ini").string();
    testing::internal::CaptureStdout();
    EXPECT_EQ(WritePrivateProfileString("A", "k", "v", file.c_str()), 0);
    const std::string monitor = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_NE(monitor.find("WritePrivateProfileString: Datei oeffnen: szFileNew="), std::string::npos);
    EXPECT_NE(monitor.find("Datei zu klein (B)"), std::string::npos);
    EXPECT_EQ(WritePrivateProfileString("A", "k", "v", nullptr), 0);
    EXPECT_EQ(WritePrivateProfileString("A", "k", "v", ""), 0);
}

TEST_F(IniTest, WritePrivateProfileSectionMovesTheSectionToTheEnd) {
    const std::string file = Ini("[A]\nx=1\n# about B\n[B]\nold=1\n# gone\n[C]\nz=3\n[b]\nold=2\n");
    EXPECT_EQ(WritePrivateProfileSection("B", Bytes("n1=1\0n2=2\0\0").c_str(), file.c_str()), 1);
    EXPECT_EQ(Content(file), "[A]\nx=1\n# about B\n[C]\nz=3\n\n[B]\nn1=1\nn2=2\n\n");
    EXPECT_EQ(WritePrivateProfileSection("B", nullptr, file.c_str()), 1);
    EXPECT_EQ(Content(file), "[A]\nx=1\n# about B\n[C]\nz=3\n\n");
}

TEST_F(IniTest, WritePrivateProfileSectionCreatesAMissingFileButNeverReplacesAnUnreadableOne) {
    const std::string file = sandbox_.path("/home/kwz/new.ini").string();
    EXPECT_EQ(WritePrivateProfileSection("Counter", Bytes("StartVal1=17\0\0").c_str(), file.c_str()), 1);
    EXPECT_EQ(Content(file), "\n[Counter]\nStartVal1=17\n\n");
    EXPECT_EQ(GetPrivateProfileInt("Counter", "StartVal1", 0, file.c_str()), 17);

    // A directory opens for reading but not for writing: it must survive.
    const auto directory = sandbox_.path("/home/kwz/dir.ini");
    std::filesystem::create_directories(directory / "inside");
    testing::internal::CaptureStdout();
    EXPECT_EQ(WritePrivateProfileSection("Counter", Bytes("StartVal1=17\0\0").c_str(), directory.c_str()), 0);
    const std::string monitor = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(std::filesystem::is_directory(directory / "inside"));
    EXPECT_NE(monitor.find("B WritePrivateProfileSection: Datei oeffnen fehlgeschlage: lpFileName="), std::string::npos);
}

TEST_F(IniTest, NamesTooLongForTheWriteBuffersAreRefused) {
    const std::string original = "[A]\nx=1\ny=2\n";
    const std::string file = Ini(original);
    struct Case { std::string section; std::string key; int result; };
    const Case cases[] = {
        {std::string(176, 'S'), "k", 1},      // the longest section pattern that fits 200 bytes
        {std::string(177, 'S'), "k", 0},
        {"A", std::string(184, 'k'), 1},      // the longest key pattern
        {"A", std::string(185, 'k'), 0},
        {"A", std::string(93, '.'), 0},       // escaped it doubles
        {std::string(4000, '['), "k", 0},     // far beyond the 210-byte name buffer
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.section.size() * 1000 + c.key.size());
        const std::string before = Content(file);
        testing::internal::CaptureStdout();
        EXPECT_EQ(WritePrivateProfileString(c.section.c_str(), c.key.c_str(), "v", file.c_str()), c.result);
        const std::string monitor = testing::internal::GetCapturedStdout();
        if (c.result == 0) {
            EXPECT_EQ(Content(file), before);
            EXPECT_NE(monitor.find("zu lang"), std::string::npos);
        } else {
            char buffer[8];
            GetPrivateProfileString(c.section.c_str(), c.key.c_str(), "", buffer, sizeof buffer, file.c_str());
            EXPECT_STREQ(buffer, "v");
        }
    }
    EXPECT_EQ(WritePrivateProfileSection(std::string(177, 'S').c_str(), "", file.c_str()), 0);
}

TEST_F(IniTest, LineEndsInNamesOrValuesAreRefused) {
    const std::string file = Ini("[A]\nx=1\ny=2\n");
    struct Case { const char* section; const char* key; const char* value; };
    const Case cases[] = {
        {"A", "x", "5\n[B]\nforged=1"},
        {"A", "x", "5\r"},
        {"A", "x\nz", "5"},
        {"A\n[B", "x", "5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        const std::string before = Content(file);
        testing::internal::CaptureStdout();
        EXPECT_EQ(WritePrivateProfileString(c.section, c.key, c.value, file.c_str()), 0);
        EXPECT_NE(testing::internal::GetCapturedStdout().find("mit Zeilenende"), std::string::npos);
        EXPECT_EQ(Content(file), before);
    }
    EXPECT_EQ(WritePrivateProfileSection("A\r", "x=1", file.c_str()), 0);
}

TEST_F(IniTest, AMissingLogDirectoryIsCreated) {
    std::filesystem::remove_all(sandbox_.path("/home/kwz/log"));
    const std::string file = Ini("[A]\nx=1\ny=2\n");
    EXPECT_EQ(WritePrivateProfileString("A", "x", "5", file.c_str()), 1);
    EXPECT_EQ(Content(file), "[A]\nx=5\ny=2\n");
    EXPECT_TRUE(std::filesystem::exists(sandbox_.path("/home/kwz/log/w32ini.log")));
}

TEST_F(IniTest, AFailedRenameKeepsTheOldFileAndIsLogged) {
    // An INI file on another file system: the temporary file can't be renamed onto it.
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        GTEST_SKIP() << "no private mount namespace: " << std::strerror(errno);
    const auto other = sandbox_.path("/other");
    std::filesystem::create_directories(other);
    ASSERT_EQ(mount("tmpfs", other.c_str(), "tmpfs", 0, "size=1m"), 0) << std::strerror(errno);
    const std::string file = (other / "x.ini").string();
    qx_test::WriteFile(file, "[A]\nx=1\ny=2\n");

    EXPECT_EQ(WritePrivateProfileString("A", "x", "2", file.c_str()), 0);
    EXPECT_EQ(Content(file), "[A]\nx=1\ny=2\n");
    EXPECT_NE(WriteLog().find("WritePrivateProfileString: rename(), szFileNew: " +
                              sandbox_.path("/home/kwz/log/temp.ini").string() + ", lpFileName: " + file +
                              ", errno=18(" + std::strerror(EXDEV) + ")\n"),
              std::string::npos);
    umount(other.c_str());
}

TEST_F(IniTest, TheReplacedFileKeepsItsPermissions) {
    const std::string file = Ini("[A]\nx=1\ny=2\n");
    ASSERT_EQ(chmod(file.c_str(), 0640), 0);
    ASSERT_EQ(WritePrivateProfileString("A", "x", "2", file.c_str()), 1);
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

}  // namespace
