// User fields of all five types over a database in process memory.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "attach_fixture.hpp"
#include "qx.h"

namespace {

using qx_test::FieldSpec;
using qx_test::LocalDatabase;

enum Field { kKunde, kNummer, kExport, kFaktor, kWert };

const std::vector<FieldSpec> kFields = {
    {"Kunde", UF_TEXT, 8, "<%s>"},
    {"Nummer", UF_INT, 2, "%05d"},
    {"Export", UF_LONG, 4, "%ld"},
    {"Faktor", UF_FLOAT, 4, "%.2f"},
    {"Wert", UF_DOUBLE, 8, "%.3e V"},
};

std::string Text(int tag, int field, bool default_format = false) {
    char buffer[64];
    const int n = default_format ? GetUserfieldTextDefault(tag, field, buffer, sizeof buffer)
                                 : GetUserfieldText(tag, field, buffer, sizeof buffer);
    return n < 0 ? "<refused>" : std::string(buffer);
}

TEST(UserfieldTest, DescriptionsAndNames) {
    LocalDatabase db(kFields);
    EXPECT_EQ(GetUserfieldCount(), 5);
    UserFieldDSC d{};
    EXPECT_EQ(GetUserfieldInfo(kFaktor, &d), 0);
    EXPECT_STREQ(d.FieldName, "Faktor");
    EXPECT_EQ(d.FieldOffset, 14);
    EXPECT_EQ(GetUserfieldInfo(5, &d), -1);
    EXPECT_EQ(GetUserfieldInfo(-1, &d), -1);
    EXPECT_EQ(GetUserfieldInfo(0, nullptr), -1);

    EXPECT_EQ(GetUserfieldNbr("export"), kExport);
    EXPECT_EQ(GetUserfieldNbr("WERT"), kWert);
    EXPECT_EQ(GetUserfieldNbr("Wer"), -1);
    EXPECT_EQ(GetUserfieldNbr("Werte"), -1);
    EXPECT_EQ(GetUserfieldNbr("Unbekannt"), -1);
    EXPECT_EQ(GetUserfieldNbr(nullptr), -1);
}

TEST(UserfieldTest, TypedValuesWithTheirChecks) {
    LocalDatabase db(kFields);
    for (int tag : {1, 4096}) {
        EXPECT_EQ(SetUserfieldInt(tag, kNummer, 70000), 0);  // low 16 bits
        EXPECT_EQ(SetUserfieldLong(tag, kExport, -123456), 0);
        EXPECT_EQ(SetUserfieldFloat(tag, kFaktor, 1.5f), 0);
        EXPECT_EQ(SetUserfieldDouble(tag, kWert, 230.25), 0);
        int16_t i = 0;
        int32_t l = 0;
        float f = 0;
        double d = 0;
        EXPECT_EQ(GetUserfieldInt(tag, kNummer, &i), 0);
        EXPECT_EQ(i, 70000 - 65536);
        EXPECT_EQ(GetUserfieldLong(tag, kExport, &l), 0);
        EXPECT_EQ(l, -123456);
        EXPECT_EQ(GetUserfieldFloat(tag, kFaktor, &f), 0);
        EXPECT_EQ(f, 1.5f);
        EXPECT_EQ(GetUserfieldDouble(tag, kWert, &d), 0);
        EXPECT_EQ(d, 230.25);
    }
    // The values lie packed and unaligned at their offsets.
    int32_t raw = 0;
    std::memcpy(&raw, db.user_fields() + 4096 * 26 + 10, sizeof raw);
    EXPECT_EQ(raw, -123456);

    int32_t l = 99;
    const struct {
        int tag;
        int field;
        int expected;
    } checks[] = {
        {0, kExport, -1},    {4097, kExport, -1}, {-1, kExport, -1}, {1, 5, -1},
        {1, -1, -1},         {1, kKunde, -2},     {1, kNummer, -2},  {1, kWert, -2},
    };
    for (const auto& c : checks) {
        EXPECT_EQ(GetUserfieldLong(c.tag, c.field, &l), c.expected) << c.tag << "/" << c.field;
        EXPECT_EQ(SetUserfieldLong(c.tag, c.field, 5), c.expected) << c.tag << "/" << c.field;
    }
    EXPECT_EQ(l, 99) << "failed reads store nothing";
    EXPECT_EQ(GetUserfieldLong(1, kExport, nullptr), -1);
    EXPECT_EQ(db.value(0, kExport)[0], 0) << "tag 0 is never written";
}

TEST(UserfieldTest, ValuesFromText) {
    LocalDatabase db(kFields);
    const struct {
        int field;
        const char* text;
        const char* formatted;
    } cases[] = {
        {kKunde, "ABCDEFGH", "<ABCDEFG>"},  // 8 bytes hold 7 characters
        {kKunde, "AB", "<AB>"},
        {kNummer, "70000", "04464"},
        {kNummer, "-7", "-0007"},
        {kExport, "2147483647", "2147483647"},
        {kExport, "12abc", "12"},
        {kFaktor, "0.126", "0.13"},
        {kWert, "1.5e3", "1.500e+03 V"},
        {kWert, "#QNAN", "-nan"},  // no value: formatted with "%g"
        {kFaktor, "1.#QNAN", "-nan"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SetUserfieldText(7, c.field, c.text), 0) << c.text;
        EXPECT_EQ(Text(7, c.field), c.formatted) << c.text;
    }
    EXPECT_EQ(std::string(reinterpret_cast<char*>(db.value(7, kKunde)), 8), std::string("AB\0\0\0\0\0\0", 8))
        << "the whole text field is cleared first";
    float f = 0;
    EXPECT_EQ(GetUserfieldFloat(7, kFaktor, &f), 0);
    uint32_t bits = 0;
    std::memcpy(&bits, &f, sizeof bits);
    EXPECT_EQ(bits, 0xFFFFFFFFu) << "a FLOAT without value has all bits set";

    EXPECT_EQ(SetUserfieldText(7, kKunde, nullptr), -1);
    EXPECT_EQ(SetUserfieldText(0, kKunde, "x"), -1);
    EXPECT_EQ(SetUserfieldText(4097, kKunde, "x"), -1);
    EXPECT_EQ(SetUserfieldText(4096, kKunde, "x"), 0);
}

TEST(UserfieldTest, FormattedTextAndItsBufferSizes) {
    LocalDatabase db(kFields);
    // Never valued: FLOAT and DOUBLE have no value, the others are zero.
    EXPECT_EQ(Text(3, kKunde), "<>");
    EXPECT_EQ(Text(3, kNummer), "00000");
    EXPECT_EQ(Text(3, kFaktor), "-nan");
    EXPECT_EQ(Text(3, kWert), "-nan");
    SetUserfieldLong(3, kExport, 42);
    SetUserfieldDouble(3, kWert, 0.5);
    SetUserfieldText(3, kKunde, "Firma");
    EXPECT_EQ(Text(3, kExport, true), "42");
    EXPECT_EQ(Text(3, kWert, true), "0.5");
    EXPECT_EQ(Text(3, kKunde, true), "Firma");
    EXPECT_EQ(Text(3, kNummer, true), "0");

    char buffer[4];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(GetUserfieldText(3, kKunde, buffer, 0), -1);
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(GetUserfieldText(3, kKunde, buffer, 1), 7) << "the length without cutting";
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(GetUserfieldText(3, kKunde, buffer, sizeof buffer), 7);
    EXPECT_STREQ(buffer, "<Fi");
    EXPECT_EQ(GetUserfieldText(3, kKunde, nullptr, 4), -1);
    EXPECT_EQ(GetUserfieldText(0, kKunde, buffer, sizeof buffer), -1);
    EXPECT_EQ(GetUserfieldText(3, 5, buffer, sizeof buffer), -1);
}

TEST(UserfieldTest, FormatsThatDoNotFitTheTypeAreRefused) {
    const struct {
        int type;
        int length;
        const char* format;
        const char* expected;
    } cases[] = {
        {UF_TEXT, 8, "%d", "<refused>"},
        {UF_TEXT, 8, "%ls", "<refused>"},
        {UF_TEXT, 8, "%s und %s", "<refused>"},
        {UF_TEXT, 8, "%n", "<refused>"},
        {UF_TEXT, 8, "%-6.3s|", "abc   |"},
        {UF_TEXT, 8, "100%% %s", "100% abcdefg"},
        {UF_INT, 2, "%s", "<refused>"},
        {UF_INT, 2, "%f", "<refused>"},
        {UF_INT, 2, "%*d", "<refused>"},
        {UF_INT, 2, "%1$d", "<refused>"},
        {UF_INT, 2, "%hx", "fffe"},
        {UF_INT, 2, "%ld", "-2"},
        {UF_LONG, 4, "%lld", "-2"},
        {UF_LONG, 4, "%p", "<refused>"},
        {UF_LONG, 4, "%d %", "<refused>"},
        {UF_LONG, 4, "fest", "fest"},
        {UF_FLOAT, 4, "%d", "<refused>"},
        {UF_FLOAT, 4, "%s", "<refused>"},
        {UF_DOUBLE, 8, "%s", "<refused>"},
        {UF_DOUBLE, 8, "%Lg", "-2"},
        {UF_DOUBLE, 8, "%+.1lf", "-2.0"},
    };
    for (const auto& c : cases) {
        LocalDatabase db({{"F", c.type, c.length, c.format}});
        if (c.type == UF_TEXT) std::memcpy(db.value(1, 0), "abcdefg", 8);
        else SetUserfieldText(1, 0, "-2");
        EXPECT_EQ(Text(1, 0), c.expected) << c.format;
    }
}

TEST(UserfieldTest, NeverReadsPastAFieldOrRecord) {
    // A text that fills its field without a terminating NUL.
    LocalDatabase db({{"Name", UF_TEXT, 4, "%s"}, {"Zahl", UF_LONG, 4, "%ld"}});
    std::memcpy(db.value(4096, 0), "ABCD", 4);
    SetUserfieldLong(4096, 1, 0x41414141);
    EXPECT_EQ(Text(4096, 0), "ABCD");

    // Descriptions that do not fit the record or their type are refused.
    const struct {
        int offset;
        int length;
        int type;
        int typed_result;  // of GetUserfieldDouble
    } broken[] = {{6, 4, UF_LONG, -1}, {-1, 4, UF_LONG, -1}, {0, 0, UF_TEXT, -1}, {0, 2, UF_DOUBLE, -1},
                  {0, 4, 9, -2}};
    for (const auto& b : broken) {
        UserFieldDSC& d = db.info().UserFieldDsc[1];
        d.FieldOffset = b.offset;
        d.FieldLength = b.length;
        d.FieldType = b.type;
        double value = 0;
        EXPECT_EQ(GetUserfieldDouble(4096, 1, &value), b.typed_result) << b.offset << "/" << b.length;
        EXPECT_EQ(SetUserfieldText(4096, 1, "1"), -1);
        EXPECT_EQ(Text(4096, 1), "<refused>");
    }
    // A count beyond the 64 descriptions is not followed.
    db.info().UserFieldCount = 1000;
    EXPECT_EQ(GetUserfieldCount(), 64);
    EXPECT_EQ(GetUserfieldInfo(64, nullptr), -1);
    UserFieldDSC d{};
    EXPECT_EQ(GetUserfieldInfo(100, &d), -1);
}

TEST(UserfieldTest, NothingBeforeAnAttach) {
    QX_ClearAttachState();
    EXPECT_EQ(GetUserfieldCount(), 0);
    EXPECT_EQ(GetUserfieldNbr("Kunde"), -1);
    int32_t l = 0;
    EXPECT_EQ(GetUserfieldLong(1, 0, &l), -1);
    EXPECT_EQ(SetUserfieldText(1, 0, "x"), -1);
    EXPECT_EQ(Text(1, 0), "<refused>");
}

}  // namespace
