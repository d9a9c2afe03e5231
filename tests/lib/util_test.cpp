// Missing value, trimming, byte order, upper-casing, monitor output, fixed paths.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "qx.h"
#include "sandbox.hpp"

namespace {

uint64_t Bits(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

TEST(MissingValue, IsAllBitsSetAndUnequalToItself) {
    const double nan = GetNan();
    EXPECT_EQ(Bits(nan), ~uint64_t{0});
    EXPECT_EQ(IsNan(nan), 1);
    EXPECT_FALSE(nan == nan);
    EXPECT_EQ(IsNan(0.0), 0);
    EXPECT_EQ(IsNan(-1e308), 0);
}

TEST(MissingValue, AtofnanReadsNumbersAndMissingTexts) {
    struct Case { const char* text; bool missing; double value; };
    const Case cases[] = {
        {"1.#QNAN", true, 0}, {"#QNAN", true, 0}, {"  #QNAN  ", true, 0}, {"abc", true, 0},
        {"", true, 0}, {"-nan", true, 0}, {"nan", true, 0},
        {"3.5e2x", false, 350.0}, {"  -12.25", false, -12.25}, {"0", false, 0.0},
        {"1e-300", false, 1e-300},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const double v = atofnan(c.text);
        if (c.missing) EXPECT_EQ(Bits(v), ~uint64_t{0});
        else EXPECT_DOUBLE_EQ(v, c.value);
    }
    EXPECT_EQ(IsNan(atofnan(nullptr)), 1);
}

TEST(StrTrim, TrimsAsTheCallerAsks) {
    struct Case { std::string input; int field; int length; std::string expected; };
    const Case cases[] = {
        // tab, "ab" and two blanks with the text's own length
        {"\tab  ", 0, 5, "ab"},
        // leading blanks removed, trailing blanks kept when the field is longer than the text
        {"  ab  ", 64, 64, "ab  "},
        {"ab \r\n", 0, 5, "ab"},
        {"a\tb", 0, 3, "a b"},
        {"   ", 0, 3, ""},
        {"x", 0, 1, "x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        std::string buffer(static_cast<size_t>(c.field > 0 ? c.field : c.length) + 1, '\0');
        std::memcpy(buffer.data(), c.input.data(), c.input.size());
        StrTrim(buffer.data(), c.length);
        EXPECT_STREQ(buffer.c_str(), c.expected.c_str());
        // Everything behind the text up to the length is zero.
        for (int i = static_cast<int>(c.expected.size()); i < c.length; ++i) EXPECT_EQ(buffer[i], '\0') << i;
    }
}

TEST(StrTrim, NeverReadsPastTheLength) {
    // No NUL inside the given length: the trim must stay within it.
    char field[4] = {' ', 'a', ' ', ' '};
    StrTrim(field, 4);
    EXPECT_EQ(field[0], 'a');
    EXPECT_EQ(field[1], '\0');
    char untouched[2] = {'q', 'z'};
    StrTrim(untouched, 0);
    StrTrim(nullptr, 5);
    EXPECT_EQ(StrTrimLen(untouched, 1), 0);
    EXPECT_EQ(untouched[0], 'q');
    EXPECT_EQ(untouched[1], 'z');
}

TEST(SmallUtilities, ByteOrderCaseAndCarriageReturns) {
    EXPECT_EQ(swab_long(0x12345678u), 0x78563412u);
    EXPECT_EQ(swab_short(0x1234u), 0x3412u);
    char text[] = "Abc-z9ä";
    EXPECT_EQ(_strupr(text), text);
    EXPECT_STREQ(text, "ABC-Z9ä");
    char line[] = "a\rb\r\rc\r";
    nocr(line, 6);  // the last CR lies beyond the count
    EXPECT_STREQ(line, "a~b~~c\r");
}

TEST(MonitorOutput, WritesTheFormattedTextAndCutsAt8191) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(ux_print_moni("QXInit-ERROR: %d\n", -5), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "QXInit-ERROR: -5\n");

    const std::string long_text(9000, 'x');
    testing::internal::CaptureStdout();
    ux_print_moni("%s", long_text.c_str());
    EXPECT_EQ(testing::internal::GetCapturedStdout().size(), 8191u);
}

TEST(FixedPath, ResolvesBelowQxRootOnlyWhenSet) {
    char out[256];
    unsetenv("QX_ROOT");
    EXPECT_EQ(QX_FixedPath("/home/kwz/ra_vuvuvizi.ini", out, sizeof out), 25);
    EXPECT_STREQ(out, "/home/kwz/ra_vuvuvizi.ini");
    setenv("QX_ROOT", "", 1);
    QX_FixedPath("/tmp/ini.sema", out, sizeof out);
    EXPECT_STREQ(out, "/tmp/ini.sema");
    setenv("QX_ROOT", "/tmp/s/", 1);
    QX_FixedPath("/sys/class/gpio/export", out, sizeof out);
    EXPECT_STREQ(out, "/tmp/s/sys/class/gpio/export");
    EXPECT_EQ(QX_FixedPath("/sys/class/gpio/export", out, 10), -1);
    unsetenv("QX_ROOT");
}

}  // namespace
