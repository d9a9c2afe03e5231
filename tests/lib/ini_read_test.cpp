// Reading INI files: line normalisation, section and key lookup, buffer
// limits, and the bad input a file on a gateway may hold.
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "ini_fixture.hpp"

namespace {

using qx_ini_test::Bytes;
using qx_ini_test::IniTest;

std::string Normalised(std::string line) {
    line.push_back('\0');
    FormIniString(line.data());
    return line.c_str();
}

TEST(IniLine, FormIniStringNormalisesAsTheReaderSeesLines) {
    struct Case { const char* input; const char* expected; };
    const Case cases[] = {
        {"Cycle = 10 # seconds", "Cycle=10"},
        {"Name=a#b", "Name=a"},
        {"  Takt = 5  \r\n", "Takt=5"},
        {"\tCycle\t=10", "\tCycle\t=10"},  // TABs are not blanks here
        {"a = b = c", "a=b = c"},           // later '=' belong to the value
        {"# whole-line comment", ""},
        {"[ MBUS ]  ", "[ MBUS ]"},
        {"x =", "x="},
        {" = v", "=v"},
        {"  ", ""},
        {"", ""},
        {"k=v\rjunk", "k=v"},  // a CR ends the line
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(Normalised(c.input), c.expected);
    }
    FormIniString(nullptr);  // tolerated
}

TEST(IniLine, HelpersWorkOnTheirOwnBytesOnly) {
    char crlf[] = "a\rb\nc\r";
    NoCrLf(crlf, 3);  // only the first three bytes
    EXPECT_EQ(std::string(crlf, sizeof crlf - 1), Bytes("a\0b\nc\r"));

    char comment[] = "x=1#2#3";
    NoComment(comment);
    EXPECT_STREQ(comment, "x=1");

    char blanks[] = "  a b \t ";
    StrTrim1(blanks);
    EXPECT_STREQ(blanks, "a b \t");

    char escaped[32];
    maskiereRegExpr("a$b.$", 5, escaped);
    EXPECT_STREQ(escaped, "a\\$b.\\$");
    maskiereRegExpr("ab$cd", 2, escaped);
    EXPECT_STREQ(escaped, "ab");
}

TEST_F(IniTest, GetPrivateProfileStringFindsKeysAsTheRulesSay) {
    const std::string file = qx_test::DataFile("ini/sample.ini").string();
    struct Case { const char* section; const char* key; const char* expected; };
    const Case cases[] = {
        {"MBUS", "Cycle", "10"},            // first of two entries, first block only
        {"mbus", "COM", "1"},               // names compare without case
        {"MBUS", "Name", "a"},
        {"MBUS", "Takt", "5"},              // "Takt Max=5": the key is followed by a blank
        {"MBUS", "Takt Max", "5"},
        {"MBUS", "Tabbed", "dflt"},         // a TAB before '=' stays
        {"MBUS", "Formula", "x = y + 1"},
        {"MBUS", "JustAWord", "dflt"},      // an entry without '=' never matches
        {"MBUS", "Cyc", "dflt"},            // a prefix alone does not match
        {"MBUS", "Late", "dflt"},           // only in the second block
        {"MBUS", "Inner", "dflt"},
        {" MBUS ", "Inner", "blank"},       // inner blanks belong to the name
        {"second", "KEY", "value with  two  blanks"},
        {"Missing", "Cycle", "dflt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key);
        char buffer[64];
        std::memset(buffer, 'Z', sizeof buffer);
        const int length = GetPrivateProfileString(c.section, c.key, "dflt", buffer, sizeof buffer, file.c_str());
        EXPECT_STREQ(buffer, c.expected);
        EXPECT_EQ(length, static_cast<int>(std::strlen(c.expected)));
        EXPECT_EQ(buffer[sizeof buffer - 1], '\0');  // the rest is zero-filled
    }
}

TEST_F(IniTest, GetPrivateProfileStringTruncatesToTheBuffer) {
    const std::string file = qx_test::DataFile("ini/sample.ini").string();
    char buffer[4];
    EXPECT_EQ(GetPrivateProfileString("MBUS", "Formula", "", buffer, sizeof buffer, file.c_str()), 3);
    EXPECT_STREQ(buffer, "x =");
    EXPECT_EQ(GetPrivateProfileString("MBUS", "none", "abcdef", buffer, sizeof buffer, file.c_str()), 3);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(GetPrivateProfileString("MBUS", "none", nullptr, buffer, sizeof buffer, file.c_str()), 0);
    EXPECT_STREQ(buffer, "");
}

TEST_F(IniTest, GetPrivateProfileIntReadsLikeAtoi) {
    const std::string file = qx_test::DataFile("ini/sample.ini").string();
    struct Case { const char* section; const char* key; int expected; };
    const Case cases[] = {
        {"MBUS", "Count", 12},   {"MBUS", "Hex", 0},         {"MBUS", "Neg", -42},
        {"MBUS", "Text", 0},     {"MBUS", "Big", INT_MAX},   {"MBUS", "Cycle", 10},
        {"MBUS", "missing", 7},  {"Missing", "Cycle", 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(GetPrivateProfileInt(c.section, c.key, 7, file.c_str()), c.expected);
    }
    EXPECT_EQ(GetPrivateProfileInt("MBUS", "Cycle", -5, Ini("", "absent.ini").c_str()), -5);
}

TEST_F(IniTest, SectionReadingReturnsTheFirstBlockAsAZeroSeparatedList) {
    const std::string file = qx_test::DataFile("ini/sample.ini").string();
    std::vector<char> buffer(512, 'Z');
    const int stored = GetPrivateProfileSection("mbus", buffer.data(), static_cast<int>(buffer.size()), file.c_str());
    const std::string expected = Bytes("Cycle=10\0com=1\0Name=a\0Takt Max=5\0\tTabbed\t=10\0Formula=x = y + 1\0"
                                             "JustAWord\0Count=12abc\0Hex=0x10\0Neg=-42\0Big=99999999999\0Text=abc\0"
                                             "Cycle=20\0");
    EXPECT_EQ(std::string(buffer.data(), static_cast<size_t>(stored)), expected);
    EXPECT_EQ(std::string(buffer.begin() + stored, buffer.end()), std::string(buffer.size() - stored, '\0'));

    char names[64];
    std::memset(names, 'Z', sizeof names);
    const int named = GetPrivateProfileSectionNames(names, sizeof names, file.c_str());
    EXPECT_EQ(std::string(names, static_cast<size_t>(named)), Bytes("MBUS\0 MBUS \0Second\0mbus\0"));
    EXPECT_EQ(names[named], '\0');

    EXPECT_EQ(GetPrivateProfileSection("Missing", buffer.data(), 512, file.c_str()), 0);
    EXPECT_EQ(buffer[0], '\0');
}

TEST_F(IniTest, SmallBuffersSkipWhatDoesNotFitAndKeepLaterShorterEntries) {
    const std::string file = Ini("[LongSectionName]\nlong_entry=xxxxxxxx\nk=1\n[S]\n");
    char buffer[10];
    std::memset(buffer, 'Z', sizeof buffer);
    EXPECT_EQ(GetPrivateProfileSection("LongSectionName", buffer, sizeof buffer, file.c_str()), 4);
    EXPECT_EQ(std::string(buffer, sizeof buffer), Bytes("k=1\0\0\0\0\0\0\0"));

    std::memset(buffer, 'Z', sizeof buffer);
    EXPECT_EQ(GetPrivateProfileSectionNames(buffer, sizeof buffer, file.c_str()), 2);
    EXPECT_EQ(std::string(buffer, sizeof buffer), Bytes("S\0\0\0\0\0\0\0\0\0"));

    EXPECT_EQ(GetPrivateProfileSection("S", buffer, 2, file.c_str()), 0);
    EXPECT_EQ(GetPrivateProfileSectionNames(buffer, 1, file.c_str()), 0);
}

TEST_F(IniTest, OverlongLinesAreReadAsSeveralLines) {
    const std::string whole(8188, 'v');          // "k=" + 8188 = 8190 characters: read whole
    const std::string split(8187, 'x');          // "pad=" + 8187 = 8191: the rest is a line of its own
    const std::string file = Ini("[S]\nk=" + whole + "\npad=" + split + "tail=1\nlast=2\n");
    std::vector<char> buffer(9000);
    const int size = static_cast<int>(buffer.size());
    EXPECT_EQ(GetPrivateProfileString("S", "k", "", buffer.data(), size, file.c_str()), 8188);
    EXPECT_EQ(std::string(buffer.data()), whole);
    EXPECT_EQ(GetPrivateProfileString("S", "pad", "", buffer.data(), size, file.c_str()), 8187);
    EXPECT_EQ(std::string(buffer.data()), split);
    GetPrivateProfileString("S", "tail", "", buffer.data(), size, file.c_str());
    EXPECT_STREQ(buffer.data(), "1");
    GetPrivateProfileString("S", "last", "", buffer.data(), size, file.c_str());
    EXPECT_STREQ(buffer.data(), "2");
}

TEST_F(IniTest, NulBytesEndTheirLineAndCrLfLinesReadLikeLf) {
    const std::string file = Ini(Bytes("[S]\r\nk=1\0junk=9\r\nm = 2\r\n[T]\r\nk=w\r\n"));
    char buffer[16];
    const auto value = [&](const char* section, const char* key) {
        GetPrivateProfileString(section, key, "-", buffer, sizeof buffer, file.c_str());
        return std::string(buffer);
    };
    EXPECT_EQ(value("S", "k"), "1");
    EXPECT_EQ(value("S", "junk"), "-");
    EXPECT_EQ(value("S", "m"), "2");
    EXPECT_EQ(value("T", "k"), "w");
    EXPECT_EQ(GetPrivateProfileSectionNames(buffer, sizeof buffer, file.c_str()), 4);
    EXPECT_EQ(std::string(buffer, 4), Bytes("S\0T\0"));
}

TEST_F(IniTest, MissingNamesAndUnreadableFilesGiveEmptyResults) {
    const std::string directory = sandbox_.path("/home/kwz").string();  // opens, but can't be read
    const std::string absent = sandbox_.path("/home/kwz/absent.ini").string();
    for (const char* file : {static_cast<const char*>(nullptr), "", directory.c_str(), absent.c_str()}) {
        SCOPED_TRACE(file == nullptr ? "(null)" : file);
        const bool named = file != nullptr && *file != '\0';
        char buffer[8];
        std::memset(buffer, 'Z', sizeof buffer);
        EXPECT_EQ(GetPrivateProfileSectionNames(buffer, sizeof buffer, file), 0);
        EXPECT_EQ(buffer[0], named ? '\0' : 'Z');  // a missing name touches nothing
        EXPECT_EQ(GetPrivateProfileSection("S", buffer, sizeof buffer, file), 0);
        EXPECT_EQ(GetPrivateProfileString("S", "k", "def", buffer, sizeof buffer, file), named ? 3 : 0);
        EXPECT_EQ(GetPrivateProfileInt("S", "k", 5, file), named ? 5 : 0);
    }
}

}  // namespace
