// Sum entries in the attached TagAdd table.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <utility>
#include <vector>

#include "dbconfig_database.hpp"
#include "qx.h"

namespace {

class SumEntries : public ::testing::Test {
protected:
    void SetUp() override {
        db_.info->TagAddMax = QX_TAGADD_MAX;
        db_.tags[10].Fkt = QX_FKT_SUM;
        db_.tags[20].Fkt = QX_FKT_SUM;
        db_.tags[30].Fkt = QX_FKT_SUM_ALT;
        db_.tags[4096].Fkt = QX_FKT_SUM;
        db_.attach();
    }
    void TearDown() override { QX_ClearAttachState(); }

    // The used table as (SumTag, AddTag) pairs.
    std::vector<std::pair<int, int>> Table() const {
        std::vector<std::pair<int, int>> t;
        for (int i = 0; i < db_.info->TagAddCount; ++i) t.emplace_back(db_.tag_add[i].SumTag, db_.tag_add[i].AddTag);
        return t;
    }

    qx::dbconfig::Database db_;
};

TEST_F(SumEntries, AddKeepsTheTableSortedAndReturnsThePosition) {
    EXPECT_EQ(SumAddEntry(20, 5, 1.0), 0);
    EXPECT_EQ(SumAddEntry(10, 7, 2.0), 0);
    EXPECT_EQ(SumAddEntry(10, 3, 3.0), 0);   // before 7
    EXPECT_EQ(SumAddEntry(10, 9, 4.0), 2);
    EXPECT_EQ(SumAddEntry(20, 1, 5.0), 0);
    EXPECT_EQ(SumAddEntry(4096, 4096, 6.0), 0);
    EXPECT_EQ(SumAddEntry(10, 3, 9.0), -5);  // pair exists
    EXPECT_EQ(Table(), (std::vector<std::pair<int, int>>{{10, 3}, {10, 7}, {10, 9}, {20, 1}, {20, 5}, {4096, 4096}}));

    TagAdd* e = nullptr;
    ASSERT_EQ(SumGetAnzEntries(10, &e), 3);
    EXPECT_EQ(e, &db_.tag_add[0]);
    ASSERT_EQ(SumGetAnzEntries(20, &e), 2);
    EXPECT_EQ(e, &db_.tag_add[3]);
    EXPECT_EQ(e[1].Factor, 1.0);
}

TEST_F(SumEntries, Checks) {
    TagAdd* e = reinterpret_cast<TagAdd*>(&db_);  // must be reset to null
    EXPECT_EQ(SumGetAnzEntries(10, &e), 0);       // a sum tag without entries
    EXPECT_EQ(e, nullptr);
    EXPECT_EQ(SumGetAnzEntries(30, &e), 0);       // 212 counts as a sum tag for lookups
    struct Case { int sum, add, expected; };
    for (const Case& c : {Case{0, 1, -4}, Case{4097, 1, -4}, Case{10, 0, -4}, Case{10, 4097, -4}, Case{-1, 1, -4},
                          Case{11, 1, -1}, Case{30, 1, -1}}) {
        EXPECT_EQ(SumAddEntry(c.sum, c.add, 1.0), c.expected) << c.sum << "," << c.add;
    }
    EXPECT_EQ(SumGetAnzEntries(0, &e), -4);
    EXPECT_EQ(SumGetAnzEntries(4097, &e), -4);
    EXPECT_EQ(SumGetAnzEntries(11, &e), -1);
    EXPECT_EQ(SumDelEntry(11, 0), -1);
    EXPECT_EQ(SumDelEntry(10, 0), -2);
    int32_t add = 0;
    double factor = 0;
    EXPECT_EQ(SumGetEntry(0, 0, &add, &factor), -4);
    ASSERT_EQ(SumAddEntry(10, 1, 0.5), 0);
    EXPECT_EQ(SumGetEntry(10, 1, &add, &factor), -2);
    EXPECT_EQ(SumGetEntry(10, -1, &add, &factor), -2);
    EXPECT_EQ(SumSetEntry(10, 1, 2, 1.0), -2);
}

TEST_F(SumEntries, FullTable) {
    db_.info->TagAddMax = 3;
    EXPECT_EQ(SumAddEntry(10, 1, 1), 0);
    EXPECT_EQ(SumAddEntry(10, 2, 1), 1);
    EXPECT_EQ(SumAddEntry(10, 3, 1), 2);
    EXPECT_EQ(SumAddEntry(10, 4, 1), -3);
    // A corrupt capacity beyond the table is never trusted.
    db_.info->TagAddMax = 1 << 30;
    db_.info->TagAddCount = QX_TAGADD_MAX;
    EXPECT_EQ(SumAddEntry(10, 5, 1), -3);
}

TEST_F(SumEntries, DeleteGetAndSet) {
    for (int add : {4, 2, 8, 6}) ASSERT_GE(SumAddEntry(10, add, add * 1.5), 0);
    ASSERT_EQ(SumAddEntry(20, 1, 1.0), 0);
    EXPECT_EQ(SumDelEntry(10, 1), 0);  // addend 4
    EXPECT_EQ(Table(), (std::vector<std::pair<int, int>>{{10, 2}, {10, 6}, {10, 8}, {20, 1}}));

    int32_t add = 0;
    double factor = 0;
    ASSERT_EQ(SumGetEntry(10, 2, &add, &factor), 0);
    EXPECT_EQ(add, 8);
    EXPECT_EQ(factor, 12.0);
    EXPECT_EQ(SumGetEntry(10, 0, nullptr, nullptr), 0);

    ASSERT_EQ(SumSetEntry(10, 0, 2, -1.0), 0);  // factor only
    EXPECT_EQ(db_.tag_add[0].Factor, -1.0);
    // A new addend must not duplicate a pair and keeps the order.
    EXPECT_EQ(SumSetEntry(10, 0, 6, 0.0), -5);
    EXPECT_EQ(SumSetEntry(10, 0, 4097, 0.0), -4);
    ASSERT_EQ(SumSetEntry(10, 0, 7, 7.0), 0);
    EXPECT_EQ(Table(), (std::vector<std::pair<int, int>>{{10, 6}, {10, 7}, {10, 8}, {20, 1}}));
    EXPECT_EQ(db_.tag_add[1].Factor, 7.0);
    EXPECT_EQ(SumAddEntry(10, 2, 1.0), 0);  // the binary search still finds its place
    EXPECT_EQ(db_.info->TagAddCount, 5);
}

TEST_F(SumEntries, CompareFunctionsOrderBySumTagThenAddend) {
    TagAdd a{1.0, 5, 10}, b{1.0, 1, 11}, c{1.0, 9, 10}, low{0, 0, INT32_MIN}, high{0, 0, INT32_MAX};
    EXPECT_EQ(CompareVelmoTagAddS1(&a, &b), -1);
    EXPECT_EQ(CompareVelmoTagAddS1(&a, &c), 0);
    EXPECT_LT(CompareVelmoTagAdd(&a, &c), 0);
    EXPECT_GT(CompareVelmoTagAdd(&b, &a), 0);
    EXPECT_LT(CompareVelmoTagAddS1(&low, &high), 0);  // no overflow
    EXPECT_GT(CompareVelmoTagAddS1(&high, &low), 0);
    // Usable with qsort/bsearch.
    std::vector<TagAdd> v{b, c, a};
    std::qsort(v.data(), v.size(), sizeof(TagAdd),
               [](const void* x, const void* y) { return static_cast<int>(CompareVelmoTagAdd(x, y)); });
    EXPECT_EQ(v[0].AddTag, 5);
    EXPECT_EQ(v[2].SumTag, 11);
}

TEST(SumEntriesUnattached, FailWithoutRecords) {
    QX_ClearAttachState();
    TagAdd* e = nullptr;
    EXPECT_EQ(SumGetAnzEntries(1, &e), -1);
    EXPECT_EQ(SumAddEntry(1, 2, 1.0), -1);
    // Tags but no TagAdd table (no segment 2): nothing to add to.
    std::vector<Tags> tags(QX_TAG_RECORDS);
    tags[1].Fkt = QX_FKT_SUM;
    QX_SetAttachState(nullptr, tags.data(), nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(SumAddEntry(1, 2, 1.0), -3);
    EXPECT_EQ(SumGetAnzEntries(1, &e), 0);
    QX_ClearAttachState();
}

}  // namespace
