// Readers of the configuration file: defaults, keys, tags, sum entries and
// user-field values, and what they do with bad input.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "dbconfig_database.hpp"
#include "qx.h"
#include "sandbox.hpp"

namespace {

using qx::dbconfig::Database;

uint64_t Bits(double v) {
    uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

std::string Bez(const Tags& t) { return std::string(t.Bez, sizeof t.Bez); }

class ConfigReader : public ::testing::Test {
protected:
    // Writes text as the configuration file and loads it.
    int Load(std::string_view text) {
        qx_test::WriteFile(file_, text);
        return db_.load(file_.c_str());
    }
    const Tags& Tag(int n) const { return db_.tags[static_cast<size_t>(n)]; }

    qx_test::Sandbox sandbox_;
    std::string file_ = sandbox_.path(QX_CONFIG_FILE).string();
    Database db_;
};

TEST_F(ConfigReader, MissingFileGivesDefaultsAndUnconfiguredTags) {
    EXPECT_EQ(db_.load(sandbox_.path("/home/kwz/none.ini").c_str()), -1);
    const VelmoSystem& s = db_.system;
    EXPECT_EQ(s.takt, 5);
    EXPECT_EQ(s.inter, 180);
    EXPECT_EQ(s.abr_zeit, 86400);
    EXPECT_EQ(s.refresh, 5);
    EXPECT_EQ(s.n_tag, 4096);
    EXPECT_EQ(s.n_roh, 4096);
    EXPECT_EQ(s.roh_skal, 1.0);
    EXPECT_EQ(s.n_fkt, 3);
    EXPECT_EQ(s.k_anz, 1000);
    EXPECT_EQ(s.TagDefaultFkt, 0);
    EXPECT_EQ(std::string(s.bezeichnung), "KWZ GmbH 2013 RA-Vuvuvizi              ");  // 39 characters
    EXPECT_EQ(std::string(s.dir_archiv), "/home/kwz/QX_ARCHIV");
    EXPECT_EQ(std::string(s.TagDefaultBez), "** Undef **             ");  // 24 characters
    EXPECT_TRUE(std::isnan(db_.info->TimeLastArchiv));
    EXPECT_EQ(db_.info->TagAddMax, QX_TAGADD_MAX);
    EXPECT_EQ(db_.info->TagAddCount, 0);

    // Unconfigured: 0xFF everywhere except the name, Arch and Fkt.
    const Tags& t = Tag(4096);
    EXPECT_EQ(std::memcmp(t.Bez, "** Undef **   4096 \0", 20), 0);
    EXPECT_EQ(static_cast<unsigned char>(t.Bez[20]), 0xFF);
    EXPECT_EQ(t.Fkt, 0);
    EXPECT_EQ(t.Status, 0xFFFFFFFFu);
    EXPECT_EQ(Bits(t.Ist), ~uint64_t{0});
    EXPECT_EQ(t.Arch[0] | t.Arch[3], 0);
    EXPECT_EQ(t.Hint[0], -1);
    EXPECT_EQ(t.HLog[63], 0xFF);
    EXPECT_EQ(std::memcmp(Tag(0).Bez, "** Undef **      0 ", 19), 0);
}

TEST_F(ConfigReader, DefaultFunctionThreeNumbersTheRawValues) {
    ASSERT_EQ(Load("[Init]\nTagDefaultBez=Kanal-Nummer-lang\nTagDefaultFkt=3\n"), 0);
    EXPECT_EQ(Tag(17).Fkt, 3);
    EXPECT_EQ(Tag(17).Hint[0], 17);
    EXPECT_EQ(Tag(4096).Hint[0], 4096);
    EXPECT_EQ(std::memcmp(Tag(17).Bez, "Kanal-Nummer    17 \0", 20), 0);  // first 12 characters of the prefix
}

TEST_F(ConfigReader, InitKeysAreCutAndNTagIsFixed) {
    const std::string long_title(60, 't');
    const std::string long_dir = std::string(62, 'd') + "  xyz";
    const std::string long_path(20000, 'p');
    ASSERT_EQ(Load("[INIT]\nbezeichnung=" + long_title + "\nDir_Archiv=" + long_dir + "\nPath_Archiv=" + long_path +
                   "\nN_Tag=12\nN_Roh=0\nTakt=4294967295\n[Other]\nTakt=1\n[Init]\nInter=1\n"),
              0);
    EXPECT_EQ(std::string(db_.system.bezeichnung), std::string(39, 't'));
    EXPECT_EQ(std::string(db_.system.dir_archiv), std::string(62, 'd'));  // cut to 63, then trimmed
    // "[Init]" lines are at most 16385 characters: the key takes 12 of them.
    EXPECT_EQ(std::string(db_.info->PathArchiv), std::string(16385 - 12, 'p'));
    EXPECT_EQ(db_.system.n_tag, 4096);
    EXPECT_EQ(db_.system.n_roh, 4096);
    EXPECT_EQ(db_.system.takt, -1);
    EXPECT_EQ(db_.system.inter, 180);  // only the first [Init] section counts
}

TEST_F(ConfigReader, UserFieldDefinitions) {
    ASSERT_EQ(Load("[UserFields]\n"
                   "Field=Name,text,12,ja,Unique,%s\n"
                   "Field=Kurz,INT,99,x,TRUE,%d\n"
                   "Field=,LONG,4,TRUE,TRUE,%ld\n"          // no name
                   "Field=Null,TEXT,0,TRUE,TRUE,%s\n"       // no length
                   "Field=Fuenf,TEXT,5,TRUE,TRUE\n"          // five pieces
                   "Field=Sieben,TEXT,5,TRUE,TRUE,%s,x\n"    // seven pieces
                   "Field=Riesig,TEXT,2000000000,F,F,%s\n"  // record would overflow the segment size
                   "field = D , double , 1 , false , true , %.3f\n"),
              0);
    const Info& info = *db_.info;
    ASSERT_EQ(info.UserFieldCount, 3);
    EXPECT_EQ(info.UserFieldRecLen, 12 + 2 + 8);
    const UserFieldDSC& a = info.UserFieldDsc[0];
    EXPECT_STREQ(a.FieldName, "Name");
    EXPECT_EQ(a.FieldType, UF_TEXT);
    EXPECT_EQ(a.FieldLength, 12);
    EXPECT_EQ(a.FieldOffset, 0);
    EXPECT_EQ(a.UniqueFlag, 1);
    EXPECT_EQ(a.EditFlag, 1);
    const UserFieldDSC& b = info.UserFieldDsc[1];
    EXPECT_EQ(b.FieldType, UF_INT);
    EXPECT_EQ(b.FieldLength, 2);  // the length is used for TEXT only
    EXPECT_EQ(b.FieldOffset, 12);
    EXPECT_EQ(b.UniqueFlag, 0);
    const UserFieldDSC& d = info.UserFieldDsc[2];
    EXPECT_STREQ(d.FieldName, "D");
    EXPECT_EQ(d.FieldOffset, 14);
    EXPECT_STREQ(d.FormatString, "%.3f");
}

TEST_F(ConfigReader, AtMostSixtyFourUserFields) {
    std::string text = "[UserFields]\n";
    for (int i = 0; i < 70; ++i) text += "Field=F" + std::to_string(i) + ",LONG,4,FALSE,FALSE,%ld\n";
    ASSERT_EQ(Load(text), 0);
    EXPECT_EQ(db_.info->UserFieldCount, 64);
    EXPECT_EQ(db_.info->UserFieldRecLen, 256);
}

TEST_F(ConfigReader, TagKeysApplyToTheCurrentTagInRange) {
    ASSERT_EQ(Load("[TagDef]\n"
                   "Fkt=8\n"                   // before any TagNr: tag 0
                   "TagNr=5\nBez=   eingerueckt\nFkt=1\nHLog=0aFfz1A\nText=  t # c\n"
                   "TagNr=4097\nFkt=9\n"      // out of range: ignored
                   "TagNr=-1\nFkt=9\n"
                   "TagNr=6\nBez=" + std::string(40, 'b') + "\nText=" + std::string(80, 'x') + "\n"
                   "Unbekannt=4\nHint[10]=5\nHint[ 1]=5\nHint=5\nFkt[0]=5\nohne Wert\n"
                   "hDOUBLE[9]=2.5\nZEIGER[4]=4294967295\n"),
              0);
    EXPECT_EQ(Tag(0).Fkt, 8);
    const Tags& t = Tag(5);
    EXPECT_EQ(Bez(t), "   eingerueckt                  ");  // leading blanks kept, blank padded, no NUL
    EXPECT_EQ(t.Fkt, 1);
    EXPECT_EQ(t.HLog[0], 0x0A);
    EXPECT_EQ(t.HLog[1], 0xFF);
    EXPECT_EQ(t.HLog[2], 0x00);  // "z1": no hexadecimal digit at its start
    EXPECT_EQ(t.HLog[3], 0x00);  // the odd last character is ignored, the rest cleared
    EXPECT_STREQ(t.Text, "  t");
    EXPECT_EQ(Tag(4096).Fkt, 0);
    EXPECT_EQ(Bez(Tag(6)), std::string(31, 'b') + " ");
    EXPECT_EQ(std::string(Tag(6).Text), std::string(63, 'x'));
    EXPECT_EQ(Tag(6).Hint[0], -1);  // unknown keys left the unconfigured values
    EXPECT_EQ(Tag(6).Hint[1], -1);
    EXPECT_EQ(Tag(6).Fkt, 0);
    EXPECT_EQ(Tag(6).Hdouble[9], 2.5);  // keys compare without regard to case
    EXPECT_EQ(Tag(6).Zeiger[4], -1);
}

TEST_F(ConfigReader, SumEntriesFromTheFile) {
    ASSERT_EQ(Load("[TagDef]\n"
                   "TagNr=10\nFkt=210\nTagAdd=3,2\nTagAdd=1\nTagAdd=2,-1\nTagAdd=3,#QNAN\nTagAdd=2,0.5\n"
                   "TagAdd=0,1\nTagAdd=4097,1\n"
                   "TagNr=11\nFkt=45\nTagAdd=1,1\n"
                   "TagNr=9\nFkt=210\nTagAdd=5,#QNAN\n"),
              0);
    TagAdd* e = nullptr;
    ASSERT_EQ(SumGetAnzEntries(10, &e), 2);
    EXPECT_EQ(e[0].AddTag, 1);
    EXPECT_EQ(e[0].Factor, 1.0);  // no factor: 1
    EXPECT_EQ(e[1].AddTag, 2);
    EXPECT_EQ(e[1].Factor, 0.5);  // second line for the pair replaced the factor
    EXPECT_EQ(SumGetAnzEntries(11, &e), -1);
    // A first "#QNAN" entry is simply added; only a repeated pair is removed.
    ASSERT_EQ(SumGetAnzEntries(9, &e), 1);
    EXPECT_TRUE(std::isnan(e[0].Factor));
    EXPECT_EQ(db_.info->TagAddCount, 3);
}

TEST_F(ConfigReader, UserFieldValues) {
    ASSERT_EQ(Load("[UserFields]\n"
                   "Field=T,TEXT,8,F,F,%s\nField=I,INT,2,F,F,%d\nField=L,LONG,4,F,F,%ld\n"
                   "Field=F,FLOAT,4,F,F,%g\nField=D,DOUBLE,8,F,F,%g\n"
                   "[Field=T]\nVal=1,a, b,c\nVal=2,zu lang fuer acht\nVal=3\nVal=0,null\nVal=4097,x\n"
                   "[Field=i]\nVal=1,-2\nVal=2,65537\nVal=3\n"
                   "[Field=L]\nVal=1,4294967295\n"
                   "[Field=F]\nVal=1,0.5\nVal=2,#QNAN\n"
                   "[Field=D]\nVal=1,-1e300\n"
                   "[TagDef]\nTagNr=1\nFkt=1\n"),
              0);
    const auto text = [&](int t) { return std::string(reinterpret_cast<char*>(db_.user_record(t))); };
    EXPECT_EQ(text(1), "a, b,c");      // commas belong to the text
    EXPECT_EQ(text(2), "zu lang");     // FieldLength - 1 characters
    EXPECT_EQ(text(3), "");
    EXPECT_EQ(text(0), "");
    int16_t i1, i2;
    std::memcpy(&i1, db_.user_record(1) + 8, 2);
    std::memcpy(&i2, db_.user_record(2) + 8, 2);
    EXPECT_EQ(i1, -2);
    EXPECT_EQ(i2, 1);  // low 16 bits
    int32_t l;
    std::memcpy(&l, db_.user_record(1) + 10, 4);
    EXPECT_EQ(l, -1);
    float f1, f2;
    std::memcpy(&f1, db_.user_record(1) + 14, 4);
    std::memcpy(&f2, db_.user_record(3) + 14, 4);
    EXPECT_EQ(f1, 0.5f);
    EXPECT_TRUE(std::isnan(f2));  // never valued: all bits set
    uint32_t f2_bits;
    std::memcpy(&f2_bits, &f2, 4);
    EXPECT_EQ(f2_bits, 0xFFFFFFFFu);
    double d;
    std::memcpy(&d, db_.user_record(1) + 18, 8);
    EXPECT_EQ(d, -1e300);
    std::memcpy(&d, db_.user_record(4096) + 18, 8);
    EXPECT_EQ(Bits(d), ~uint64_t{0});
}

TEST_F(ConfigReader, UserFieldAreaTooSmall) {
    qx_test::WriteFile(file_, "[UserFields]\nField=L,LONG,4,F,F,%ld\n[Field=L]\nVal=1,5\n[TagDef]\nTagNr=1\nFkt=7\n");
    std::vector<unsigned char> small(100);
    EXPECT_EQ(QX_LoadConfig(file_.c_str(), &db_.system, db_.tags.data(), db_.info.get(), db_.tag_add.data(),
                            small.data(), small.size()),
              -3);
    EXPECT_EQ(db_.info->UserFieldRecLen, 4);
    EXPECT_EQ(Tag(1).Fkt, 7);  // everything else is loaded
    EXPECT_EQ(QX_LoadConfig(nullptr, nullptr, db_.tags.data(), db_.info.get(), db_.tag_add.data(), nullptr, 0), -2);
}

TEST_F(ConfigReader, ReadUserFieldValRefusesADescriptionOutsideItsRecord) {
    ASSERT_EQ(Load("[Field=X]\nVal=1,5\n"), 0);
    std::vector<unsigned char> area(QX_TAG_RECORDS * 4);
    UserFieldDSC field{};
    field.FieldType = UF_DOUBLE;
    field.FieldLength = 8;
    EXPECT_EQ(QX_ReadUserFieldVal(file_.c_str(), "[Field=X]", 4, &field, area.data()), -2);
    field.FieldType = UF_LONG;
    field.FieldLength = 4;
    field.FieldOffset = 1;
    EXPECT_EQ(QX_ReadUserFieldVal(file_.c_str(), "[Field=X]", 4, &field, area.data()), -2);
    field.FieldOffset = 0;
    EXPECT_EQ(QX_ReadUserFieldVal(file_.c_str(), "[Field=X]", 4, &field, area.data()), 1);
}

// Malformed lines are skipped; nothing after them is lost and nothing is
// read from a tail of an over-long line.
TEST_F(ConfigReader, BadLinesAreSkipped) {
    std::string text = "[Init]\nTakt=7\n[TagDef]\nTagNr=1\n";
    text += "Text=" + std::string(600, 'x') + "Fkt=99\n";  // the tail would be a line "...Fkt=99"
    text += std::string("Fkt=2\0Fkt=3\n", 12);              // NUL ends the line
    text += "Hint[0]\n=5\n  \n\t\n";
    text += "TagNr=2\nFkt=4";                                 // last line without LF
    ASSERT_EQ(Load(text), 0);
    EXPECT_EQ(db_.system.takt, 7);
    EXPECT_EQ(Tag(1).Fkt, 2);
    EXPECT_EQ(std::string(Tag(1).Text), std::string(63, 'x'));
    EXPECT_EQ(Tag(1).Hint[0], -1);
    EXPECT_EQ(Tag(2).Fkt, 4);
}

TEST_F(ConfigReader, AnOverLongLineEndsWithoutLosingTheNext) {
    // Lines of exactly 511 characters (and one more) around the limit.
    const std::string exact = "Text=" + std::string(511 - 5 - 1, 'y');  // 510 characters + LF = 511
    const std::string over = "Text=" + std::string(511 - 5, 'z');       // 511 characters + LF = 512
    ASSERT_EQ(Load("[TagDef]\nTagNr=1\n" + exact + "\nFkt=5\nTagNr=2\n" + over + "\nFkt=6\n"), 0);
    EXPECT_EQ(Tag(1).Fkt, 5);
    EXPECT_EQ(Tag(2).Fkt, 6);
}

TEST_F(ConfigReader, ADirectoryReadsAsMissing) {
    EXPECT_EQ(db_.load(sandbox_.root().c_str()), -1);
    EXPECT_EQ(db_.system.takt, 5);
}

}  // namespace
