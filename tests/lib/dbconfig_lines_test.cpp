// Line preparation of the configuration file: trimming, comments, CSV pieces,
// and the number readers and renderings the file relies on.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "dbconfig_lines.hpp"
#include "dbconfig_output.hpp"
#include "qx.h"

namespace {

std::string Trim2(std::string text, int length, bool comment) {
    std::vector<char> buffer(static_cast<size_t>(length) + 1, 'X');
    std::memcpy(buffer.data(), text.c_str(), std::min<size_t>(text.size() + 1, buffer.size()));
    buffer[static_cast<size_t>(length)] = 'Z';  // guard byte just past the length
    if (comment) StrTrim2Comment(buffer.data(), length);
    else StrTrim2(buffer.data(), length);
    EXPECT_EQ(buffer[static_cast<size_t>(length)], 'Z') << "wrote past the length";
    for (size_t i = std::strlen(buffer.data()); i < static_cast<size_t>(length); ++i)
        EXPECT_EQ(buffer[i], '\0') << "rest of the length not cleared at " << i;
    return buffer.data();
}

TEST(StrTrim2, TrimsTabsLineEndsAndBlanks) {
    struct Case { const char* in; const char* out; };
    const Case cases[] = {
        {"  key = value \r\n", "key = value"},
        {"\tTakt\t=5\t\n", "Takt =5"},
        {"ab\r \n", "ab\r"},  // line ends first, then blanks
        {"   ", ""},
        {"", ""},
        {"x", "x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(Trim2(c.in, 32, false), c.out);
    }
}

TEST(StrTrim2Comment, CutsAtTheLastHashExceptQnan) {
    struct Case { const char* in; const char* out; };
    const Case cases[] = {
        {"Takt=5 # cycle\n", "Takt=5"},
        {"# ******\n", ""},
        {"Ist=#QNAN\n", "Ist=#QNAN"},
        {"Ist=1.#QNAN # old\n", "Ist=1.#QNAN"},
        {"Text=a#b#c\n", "Text=a#b"},  // only the last "#" starts the comment
        {"Text=ab#\n", "Text=ab"},
        {"Text=ab#", "Text=ab#"},     // the final character never counts
        {"#", "#"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(Trim2(c.in, 64, true), c.out);
    }
}

struct Split {
    int result;
    std::vector<std::string> slots;
};

Split CsvSplit(const char* line, int slots, int slot_size) {
    std::vector<char> dest(static_cast<size_t>(slots * slot_size) + 1, 'Q');
    dest.back() = 'Z';
    Split split{CsvSplitLine(dest.data(), slots, slot_size, line, ','), {}};
    EXPECT_EQ(dest.back(), 'Z') << "wrote past the slots";
    for (int k = 0; k < slots; ++k) {
        const char* slot = dest.data() + k * slot_size;
        split.slots.emplace_back(slot, strnlen(slot, static_cast<size_t>(slot_size)));
    }
    return split;
}

TEST(CsvSplitLine, SplitsTrimsAndCountsPieces) {
    const Split s = CsvSplit(" Kessel , TEXT,40 ,TRUE,JA, %s", 20, 128);
    EXPECT_EQ(s.result, 7);
    EXPECT_EQ(s.slots[0], "");
    EXPECT_EQ(s.slots[1], "Kessel");
    EXPECT_EQ(s.slots[2], "TEXT");
    EXPECT_EQ(s.slots[3], "40");
    EXPECT_EQ(s.slots[6], "%s");
    EXPECT_EQ(s.slots[7], "");
}

TEST(CsvSplitLine, EdgeCases) {
    struct Case { const char* line; int slots; int slot_size; int result; std::vector<std::string> first; };
    const Case cases[] = {
        {"no separator", 4, 16, -1, {"", "", "", ""}},
        {",", 4, 16, -1, {"", "", "", ""}},           // a leading separator belongs to the first piece
        {",a,b", 4, 16, 3, {"", ",a", "b", ""}},
        {"a,,b,", 5, 16, 5, {"", "a", "", "b", ""}},  // empty pieces count
        {"1,2,3,4,5", 3, 16, 6, {"", "1", "2"}},      // pieces beyond the slots are counted only
        {"abcdefgh,x", 3, 4, 3, {"", "abc", "x"}},    // cut to slot size - 1
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const Split s = CsvSplit(c.line, c.slots, c.slot_size);
        EXPECT_EQ(s.result, c.result);
        for (size_t k = 0; k < c.first.size(); ++k) EXPECT_EQ(s.slots[k], c.first[k]) << "slot " << k;
    }
    const std::string long_piece = std::string(300, 'a') + ",b";
    const Split s = CsvSplit(long_piece.c_str(), 3, 512);
    EXPECT_EQ(s.result, 3);
    EXPECT_EQ(s.slots[1].size(), 254u);  // every piece is cut to 254 characters
    char dest[8];
    EXPECT_EQ(CsvSplitLine(dest, 0, 8, "a,b", ','), -2);
    EXPECT_EQ(CsvSplitLine(nullptr, 2, 8, "a,b", ','), -2);
}

TEST(NumberReaders, KeepTheLowBitsAndReadNanTexts) {
    using qx::dbconfig::read_double;
    using qx::dbconfig::read_long32;
    EXPECT_EQ(read_long32("4294967295"), -1);
    EXPECT_EQ(read_long32("2147483648"), INT32_MIN);
    EXPECT_EQ(read_long32("-7"), -7);
    EXPECT_EQ(read_long32(" 12abc"), 12);
    EXPECT_EQ(read_long32("abc"), 0);
    EXPECT_EQ(read_long32("99999999999999999999999"), -1);  // saturates, never undefined

    for (const char* text : {"-nan", "nan", "#QNAN", "1.#QNAN", "", "x"}) EXPECT_TRUE(std::isnan(read_double(text))) << text;
    // Whatever takes the fast path must agree with atofnan.
    for (const char* text : {"1.5", "-0", "1e+20", "0x10", "+3", " 4", "3.5e2x", "1e999", ".5", "-.25e-3", "0.1"}) {
        SCOPED_TRACE(text);
        const double a = read_double(text);
        const double b = atofnan(text);
        EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0) << a << " vs " << b;
    }
}

// The writer renders numbers with to_chars; the file's format is printf's.
TEST(OutputNumbers, RenderExactlyAsPrintf) {
    FILE* tmp = std::tmpfile();
    ASSERT_NE(tmp, nullptr);
    std::string expected;
    {
        qx::dbconfig::Output out(fileno(tmp));
        std::mt19937_64 rng(42);
        char buffer[64];
        const auto add = [&](double v) {
            out.g(v, 15).ch('|').g(static_cast<double>(static_cast<float>(v)), 8).ch('|');
            std::snprintf(buffer, sizeof buffer, "%.15g|%.8g|", v, static_cast<double>(static_cast<float>(v)));
            expected += buffer;
        };
        for (double v : {0.0, -0.0, 1e15, 1e16, 0.1, 1.0 / 3, 5e-324, 1e300, -1234.5678, GetNan(), -GetNan(),
                         HUGE_VAL, -HUGE_VAL})
            add(v);
        for (int i = 0; i < 20000; ++i) {
            uint64_t bits = rng();
            double v;
            std::memcpy(&v, &bits, sizeof v);
            add(v);
            add(static_cast<double>(static_cast<int64_t>(rng() % 2000001) - 1000000) / 1000.0);
        }
        for (uint32_t v : {0u, 1u, 4294967295u, 2147483648u}) {
            out.u32(v).ch('|');
            std::snprintf(buffer, sizeof buffer, "%u|", v);
            expected += buffer;
        }
        for (int32_t v : {0, -1, INT32_MIN, INT32_MAX}) {
            out.i32(v).ch('|');
            std::snprintf(buffer, sizeof buffer, "%d|", v);
            expected += buffer;
        }
        const char not_terminated[4] = {'a', 'b', 'c', 'd'};
        out.padded(not_terminated, 3, 6).ch('|').padded("xy", 32, 4).ch('|').hex2(0x0A).hex2(0xF0);
        expected += "abc   |xy  |0AF0";
        ASSERT_TRUE(out.finish());
    }
    std::string written(expected.size() + 16, '\0');
    std::rewind(tmp);
    written.resize(std::fread(written.data(), 1, written.size(), tmp));
    std::fclose(tmp);
    EXPECT_EQ(written, expected);
}

}  // namespace
