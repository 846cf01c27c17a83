#include "qelx/qelx_array.hxx"
#include "qelx/qelx_string.hxx"

#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

namespace {

std::vector<int> contents(const QELXArrayHeader* h)
{
    std::vector<int> out;
    for (int i = 0; i < qelxArrayCount(h); ++i)
        out.push_back(reinterpret_cast<const int*>(h->data)[i]);
    return out;
}

QELXArrayHeader* intArray(std::initializer_list<int> values, int capacity = 2)
{
    QELXArrayHeader* h = qelxArrayAllocate(capacity, sizeof(int));
    for (int v : values)
        qelxArrayAdd(h, &v);
    return h;
}

} // namespace

TEST(QelxArray, AllocateGivesEmptyArrayWithCapacity)
{
    QELXArrayHeader* h = qelxArrayAllocate(10, sizeof(double));
    EXPECT_EQ(qelxArrayCount(h), 0);
    EXPECT_EQ(h->capacity, 10);
    EXPECT_EQ(h->elemSize, sizeof(double));
    EXPECT_FALSE(h->noDestroy);
    qelxArrayFree(h);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(qelxArrayCount(nullptr), 0);
}

TEST(QelxArray, AddGrowsPastCapacityKeepingOrder)
{
    QELXArrayHeader* h = qelxArrayAllocate(1, sizeof(int));
    for (int i = 0; i < 100; ++i) {
        void* slot = qelxArrayAdd(h, &i);
        EXPECT_EQ(*static_cast<int*>(slot), i);
    }
    ASSERT_EQ(qelxArrayCount(h), 100);
    EXPECT_GE(h->capacity, 100);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(reinterpret_cast<int*>(h->data)[i], i);
    qelxArrayFree(h);
}

TEST(QelxArray, ZeroCapacityArrayGrows)
{
    QELXArrayHeader* h = qelxArrayAllocate(0, sizeof(int));
    const int v = 7;
    qelxArrayAdd(h, &v);
    qelxArrayAdd(h, nullptr); // a null value gives a zeroed slot
    EXPECT_EQ(contents(h), (std::vector<int>{7, 0}));
    qelxArrayFree(h);
}

TEST(QelxArray, AddOfOwnElementSurvivesReallocation)
{
    QELXArrayHeader* h = intArray({5, 6}, 2); // full: the next add reallocates
    qelxArrayAdd(h, h->data);                 // its own first element
    EXPECT_EQ(contents(h), (std::vector<int>{5, 6, 5}));
    qelxArrayFree(h);
}

TEST(QelxArray, InsertAtFrontMiddleEndAndClamped)
{
    QELXArrayHeader* h = intArray({1, 2, 3});
    int v = 0;
    qelxArrayInsertAt(h, 0, &v);
    v = 9;
    qelxArrayInsertAt(h, 2, &v);
    v = 4;
    qelxArrayInsertAt(h, 5, &v);
    EXPECT_EQ(contents(h), (std::vector<int>{0, 1, 9, 2, 3, 4}));
    v = -1;
    qelxArrayInsertAt(h, -3, &v);
    v = 99;
    qelxArrayInsertAt(h, 1000, &v);
    EXPECT_EQ(contents(h), (std::vector<int>{-1, 0, 1, 9, 2, 3, 4, 99}));
    qelxArrayFree(h);
}

TEST(QelxArray, InsertOfOwnElementBehindTheGapReadsTheRightValue)
{
    QELXArrayHeader* h = intArray({1, 2, 3}, 8);
    // Slot 2 moves up one place before the value is copied.
    qelxArrayInsertAt(h, 0, reinterpret_cast<int*>(h->data) + 2);
    EXPECT_EQ(contents(h), (std::vector<int>{3, 1, 2, 3}));
    qelxArrayFree(h);
}

TEST(QelxArray, RemoveAtEndsMiddleAndOutOfRange)
{
    QELXArrayHeader* h = intArray({1, 2, 3, 4, 5});
    qelxArrayRemoveAt(h, 0);
    qelxArrayRemoveAt(h, 3);
    qelxArrayRemoveAt(h, 1);
    EXPECT_EQ(contents(h), (std::vector<int>{2, 4}));
    qelxArrayRemoveAt(h, 2);
    qelxArrayRemoveAt(h, -1);
    EXPECT_EQ(contents(h), (std::vector<int>{2, 4}));
    qelxArrayFree(h);
}

TEST(QelxArray, CopyIsIndependentAndClearKeepsStorage)
{
    QELXArrayHeader* h = intArray({1, 2, 3});
    h->noDestroy = true;
    QELXArrayHeader* copy = qelxArrayCopy(h);
    ASSERT_NE(copy, h);
    EXPECT_NE(copy->data, h->data);
    EXPECT_FALSE(copy->noDestroy) << "a copy owns its elements";
    EXPECT_EQ(copy->capacity, h->capacity);
    EXPECT_EQ(contents(copy), (std::vector<int>{1, 2, 3}));

    const int capacity = h->capacity;
    qelxArrayClear(h);
    EXPECT_EQ(qelxArrayCount(h), 0);
    EXPECT_EQ(h->capacity, capacity);
    EXPECT_TRUE(h->noDestroy) << "clearing leaves the flag alone";
    EXPECT_EQ(contents(copy), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(qelxArrayCopy(nullptr), nullptr);
    qelxArrayFree(h);
    qelxArrayFree(copy);
}

// The typed array copy-constructs class elements into the slots the raw
// functions hand out; growth then moves them byte for byte. Framework strings
// must survive that move.
TEST(QelxArray, ClassElementsSurviveGrowthAndInsertion)
{
    QELXArrayHeader* h = qelxArrayAllocate(1, sizeof(QELXString));
    for (int i = 0; i < 20; ++i) {
        QELXString text(("element " + std::to_string(i)).c_str());
        new (qelxArrayAdd(h, &text)) QELXString(text);
    }
    QELXString front("front");
    new (qelxArrayInsertAt(h, 0, &front)) QELXString(front);
    auto* items = reinterpret_cast<QELXString*>(h->data);
    ASSERT_EQ(qelxArrayCount(h), 21);
    EXPECT_STREQ(items[0].c_str(), "front");
    EXPECT_STREQ(items[1].c_str(), "element 0");
    EXPECT_STREQ(items[20].c_str(), "element 19");
    EXPECT_STREQ(items[5].getWChars(), qelxUtf8ToWide("element 4").c_str());

    items[3].~QELXString();
    qelxArrayRemoveAt(h, 3);
    EXPECT_STREQ(reinterpret_cast<QELXString*>(h->data)[3].c_str(), "element 3");
    for (int i = 0; i < qelxArrayCount(h); ++i)
        reinterpret_cast<QELXString*>(h->data)[i].~QELXString();
    qelxArrayFree(h);
}
