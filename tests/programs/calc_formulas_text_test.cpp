// Text and tag-table formulas through VelmoFormel.
#include <gtest/gtest.h>

#include <cstring>

#include "calc_formula_call.hpp"

namespace {

using calc::kNan;
using calc_test::Evaluate;
using calc_test::FormulaTag;
using calc_test::Inputs;
using calc_test::PutText;
using calc_test::Tables;
using calc_test::TextOf;

constexpr int kF = 50;  // the formula tag

Inputs In(double a, double b = kNan, double c = kNan) { return {a, b, c, kNan, kNan}; }

TEST(CalcFormulasText, TextToNumbersPacksGroupsOfFourCharacters) {
    struct Case {
        const char* text;
        double expected[5];
    } cases[] = {
        {"HELLO", {1212501068.0, 79.0, 0, 0, 0}},
        {"AB", {16706.0, 0, 0, 0, 0}},
        {"", {0, 0, 0, 0, 0}},
        {"\xC1\x05", {0x415, 0, 0, 0, 0}},  // top bit cleared, no leading zeros
    };
    for (const Case& c : cases) {
        Tables db;
        Tags& t = FormulaTag(db, kF, 11);
        PutText(t, c.text);
        for (int k = 0; k < 5; ++k) t.Zeiger[k] = 60 + k;
        t.Zeiger[4] = 0;  // not a tag: skipped
        db.Value(64, -1.0);
        EXPECT_EQ(0u, Evaluate(db, kF)) << c.text;
        EXPECT_EQ(0.0, t.Ist);
        for (int k = 0; k < 4; ++k) EXPECT_EQ(c.expected[k], db[60 + k].Ist) << c.text << " group " << k;
        EXPECT_EQ(-1.0, db[64].Ist);
    }

    // The text comes from tag H0 first; a 64-character text has no end mark.
    Tables db;
    Tags& t = FormulaTag(db, kF, 11, {70});
    t.Zeiger[0] = 60;
    Tags& from = db.Value(70, 0);
    std::memset(from.Text, 'A', sizeof from.Text);
    Evaluate(db, kF);
    EXPECT_EQ(std::string(64, 'A'), TextOf(t));
    EXPECT_EQ(double(0x41414141), db[60].Ist);

    t.Hdouble[0] = 4097;  // past the table: the copy is skipped
    PutText(t, "B");
    Evaluate(db, kF);
    EXPECT_EQ("B", TextOf(t));
    EXPECT_EQ(66.0, db[60].Ist);
}

TEST(CalcFormulasText, FirstTextThatIsNotZero) {
    struct Case {
        const char *z0, *z1, *z2, *expected;
    } cases[] = {
        {"0", "0", "ABC", "ABC"},
        {"0", "ABC", "0", "ABC"},
        {"ABC", "0", "0", "ABC"},
        {"0X", "0", "0", "0"},
    };
    for (const Case& c : cases) {
        Tables db;
        Tags& t = FormulaTag(db, kF, 12);
        const char* texts[] = {c.z0, c.z1, c.z2};
        for (int k = 0; k < 3; ++k) {
            t.Zeiger[k] = 60 + k;
            PutText(db.Value(60 + k, 0), texts[k]);
        }
        EXPECT_EQ(0u, Evaluate(db, kF));
        EXPECT_EQ(c.expected, TextOf(t)) << c.z0 << "," << c.z1 << "," << c.z2;
    }

    // Z1 missing: Z2 is still tried; Z0 missing or past the table: no input.
    Tables db;
    Tags& t = FormulaTag(db, kF, 12);
    t.Zeiger[0] = 60;
    t.Zeiger[1] = 5000;
    t.Zeiger[2] = 62;
    PutText(db.Value(60, 0), "0");
    PutText(db.Value(62, 0), "XY");
    Evaluate(db, kF);
    EXPECT_EQ("XY", TextOf(t));
    for (int32_t ref : {0, 4097, -3}) {
        t.Zeiger[0] = ref;
        PutText(t, "keep");
        EXPECT_EQ(ST_NOINPUT, Evaluate(db, kF));
        EXPECT_EQ("keep", TextOf(t));
    }
}

TEST(CalcFormulasText, ClearOnRisingEdge) {
    Tables db;
    Tags& t = FormulaTag(db, kF, 13);
    t.Zeiger[0] = 1;
    PutText(t, "msg");
    Evaluate(db, kF, In(0));
    EXPECT_EQ("msg", TextOf(t));
    EXPECT_EQ(0u, Evaluate(db, kF, In(1)));
    EXPECT_EQ("", TextOf(t));
    for (char b : t.Text) EXPECT_EQ(0, b);
    PutText(t, "again");
    Evaluate(db, kF, In(1));  // still high: no edge
    EXPECT_EQ("again", TextOf(t));
    t.Zeiger[0] = 0;
    EXPECT_EQ(ST_NOINPUT, Evaluate(db, kF, In(0)));
}

TEST(CalcFormulasText, MessageLatch) {
    Tables db;
    Tags& t = FormulaTag(db, kF, 14, {70});
    t.Zeiger[0] = 60;
    t.Zeiger[1] = 61;
    PutText(db.Value(60, 0), "Stoerung Pumpe");
    db.Value(70, -1);

    EXPECT_EQ(ST_NOINPUT, Evaluate(db, kF, In(0, 1, 0)));
    EXPECT_EQ("Stoerung Pumpe", TextOf(t));
    EXPECT_EQ(0.0, db[70].Ist);
    Evaluate(db, kF, In(0, 0, 2));
    EXPECT_EQ(1.0, db[70].Ist);
    Evaluate(db, kF, In(0, 1, 0));  // latched until both are 0
    EXPECT_EQ(1.0, db[70].Ist);
    EXPECT_EQ(0u, Evaluate(db, kF, In(0, 0, 0)));
    EXPECT_EQ("0", TextOf(t));
    EXPECT_EQ(0.0, t.Hdouble[1]);

    // Flag tag and source past the table are skipped.
    t.Hdouble[0] = 4097;
    t.Zeiger[0] = 4097;
    EXPECT_EQ(ST_NOINPUT, Evaluate(db, kF, In(0, 0, 1)));
    EXPECT_EQ("0", TextOf(t));
}

TEST(CalcFormulasText, BatchSumWithRangeText) {
    Tables db;
    Tags& t = FormulaTag(db, kF, 22);
    t.Zeiger[0] = t.Zeiger[1] = t.Zeiger[2] = 1;
    t.Ist = 0.0;
    struct Step {
        double in1, in2, sum;
    } steps[] = {{10, 5, 2.5}, {10, 5, 2.5}, {12, 5, 5.0}, {8, 5, 7.5}, {8, 0, 0.0}};
    for (const Step& s : steps) {
        EXPECT_EQ(0u, Evaluate(db, kF, In(2.5, s.in1, s.in2)));
        EXPECT_EQ(s.sum, t.Ist) << s.in1 << " " << s.in2;
    }
    EXPECT_EQ("   8 -  12", TextOf(t));

    Evaluate(db, kF, In(1, 100, 6));  // a new batch starts afresh
    EXPECT_EQ(1.0, t.Ist);
    EXPECT_EQ(" 100 - 100", TextOf(t));
    Evaluate(db, kF, In(1, 1e300, 6));  // a range text too long for the field is cut
    EXPECT_EQ(64u, TextOf(t).size());

    t.Zeiger[1] = 0;
    EXPECT_EQ(3u, Evaluate(db, kF, In(1, 2, 6)));
    EXPECT_EQ(0.0, t.Ist);
}

TEST(CalcFormulasText, HandOverMakesTheTagHeld) {
    Tables db;
    Tags& t = FormulaTag(db, kF, 23);
    t.Zeiger[0] = 60;
    t.Zeiger[1] = 61;
    db.Value(60, 0);
    db.Value(61, 12.5);
    EXPECT_EQ(0u, Evaluate(db, kF, In(-42.9)));
    EXPECT_EQ(12.5, t.Ist);
    EXPECT_EQ(1, db[60].Fkt);
    EXPECT_EQ("-42", TextOf(t));
    t.Zeiger[1] = 4097;
    EXPECT_EQ(3u, Evaluate(db, kF, In(1)));
    EXPECT_EQ(0.0, t.Ist);
}

TEST(CalcFormulasText, BlockSelectionWritesTheTargetOfTheMatchingKey) {
    Tables db;
    Tags& t = FormulaTag(db, kF, 29, {100, 0, 10});
    t.Hdouble[5] = t.Hdouble[6] = kNan;
    for (int k = 0; k < 10; ++k) {
        db.Value(100 + 20 * k, 100 + k);  // key tags 100, 120, ..., 280
        db.Configure(110 + 20 * k, 1).Ist = -1;  // held targets
    }
    db.Value(140, 7);

    EXPECT_EQ(0u, Evaluate(db, kF, In(7, 3.5)));
    EXPECT_EQ(1.0, t.Ist);
    EXPECT_EQ(3.5, db[150].Ist);
    EXPECT_EQ(150.0, t.Hdouble[5]);

    // The key moves to block 4: its target is written, the old one reset.
    EXPECT_EQ(0u, Evaluate(db, kF, In(104, 9.0)));
    EXPECT_EQ(9.0, db[190].Ist);
    EXPECT_EQ(0.0, db[150].Ist);

    // A target that is not held is not written; the previous one is marked.
    db[190].Fkt = 6;
    db.Value(240, 8);
    Evaluate(db, kF, In(8, 1.0));
    EXPECT_EQ(1.0, db[250].Ist);
    EXPECT_EQ(-190.0, t.Hdouble[6]);

    for (int32_t ref : {-1, 4097}) {
        t.Zeiger[1] = ref;
        EXPECT_EQ(ST_NOINPUT, Evaluate(db, kF, In(8, 1.0)));
        EXPECT_EQ(4096.0, t.Ist);
    }

    // Keys and targets past the table are skipped.
    t.Zeiger[1] = 0;
    t.Hdouble[0] = 4090;
    Evaluate(db, kF, In(8, 1.0));
    EXPECT_EQ(1.0, t.Ist);
}

TEST(CalcFormulasText, TextByNumberFromTheNextTag) {
    Tables db;
    Tags& t = FormulaTag(db, kF, 38, {200});
    t.Hdouble[6] = kNan;
    Tags& next = db.Value(kF + 1, 3);
    PutText(db.Value(203, 0), "Produkt drei");

    EXPECT_EQ(0u, Evaluate(db, kF));
    EXPECT_EQ(3.0, t.Ist);
    EXPECT_EQ("Produkt drei", TextOf(t));
    EXPECT_EQ("CM-NR", TextOf(next));
    EXPECT_EQ(203.0, t.Hdouble[5]);

    PutText(next, "kept");
    Evaluate(db, kF);  // no change of the number
    EXPECT_EQ("kept", TextOf(next));

    next.Ist = 9000;  // text tag past the table: nothing copied
    Evaluate(db, kF);
    EXPECT_EQ("Produkt drei", TextOf(t));
    EXPECT_EQ("CM-NR", TextOf(next));

    t.Hdouble[0] = 0;
    EXPECT_EQ(ST_NOINPUT, Evaluate(db, kF));
    EXPECT_EQ(0.0, t.Ist);

    // The last tag has no next tag.
    FormulaTag(db, 4096, 38, {200});
    EXPECT_EQ(ST_NOINPUT, Evaluate(db, 4096));
}

}  // namespace
