#include <gtest/gtest.h>

#include <cstdint>

#include "model/containers.hxx"
#include "qelx/qelx_refcount.hxx"
#include "qelx/qelx_string.hxx"

namespace {

// A shared object that counts how many of it are alive.
struct Tracked : QELXReferenceCount {
    static inline int live = 0;
    Tracked() { ++live; }
    ~Tracked() override { --live; }
};
using TrackedHandle = QELXTypedHandle<Tracked>;

// Every key lands in the last bucket, so probes collide and wrap.
std::uint32_t lastBucket(const int*) { return 16; }

} // namespace

TEST(DynamicArray, CopyOfStringsIsElementWise)
{
    QELXDynamicArray<QELXString> original;
    for (const char* text : {"alpha", "beta", "gamma"})
        original.Add(QELXString(text));
    {
        QELXDynamicArray<QELXString> copy(original);
        copy[0] += "-changed";
        QELXDynamicArray<QELXString> assigned;
        assigned.Add("dropped");
        assigned = copy;
        EXPECT_STREQ(assigned[0].c_str(), "alpha-changed");
    } // the copies die first; a shared buffer would be freed twice here
    ASSERT_EQ(original.Count(), 3);
    EXPECT_STREQ(original[0].c_str(), "alpha");
    EXPECT_STREQ(original[2].c_str(), "gamma");
}

TEST(DynamicArray, InnerArraysAreCopiedNotShared)
{
    QELXDynamicArray<QELXDynamicArray<int>> outer;
    QELXDynamicArray<int> inner;
    inner.Add(1);
    outer.Add(inner);
    outer.Append(outer); // appending itself doubles it once
    ASSERT_EQ(outer.Count(), 2);

    QELXDynamicArray<QELXDynamicArray<int>> copy = outer;
    copy[0].Add(2);
    EXPECT_EQ(outer[0].Count(), 1);
    EXPECT_EQ(outer[1].Count(), 1);
    EXPECT_EQ(copy[0].Count(), 2);
}

TEST(DynamicArray, AddingOwnElementSurvivesGrowth)
{
    QELXDynamicArray<QELXString> a;
    a.Add("seed");
    for (int i = 0; i < 40; ++i)
        a.Add(a[0]); // the source lies in the storage that grows
    ASSERT_EQ(a.Count(), 41);
    EXPECT_STREQ(a[40].c_str(), "seed");
}

TEST(DynamicArray, HandleElementsReleaseOnRemoveClearAndDestruction)
{
    {
        QELXDynamicArray<TrackedHandle> a;
        for (int i = 0; i < 3; ++i)
            a.Add(TrackedHandle(new Tracked));
        EXPECT_EQ(Tracked::live, 3);
        {
            QELXDynamicArray<TrackedHandle> copy(a);
            EXPECT_EQ(a[0]->GetReferenceCount(), 2);
        }
        EXPECT_EQ(a[0]->GetReferenceCount(), 1);
        a.RemoveAt(1);
        EXPECT_EQ(Tracked::live, 2);
        a.InsertAt(0, TrackedHandle(new Tracked));
        EXPECT_EQ(Tracked::live, 3);
        a.Clear();
        EXPECT_EQ(Tracked::live, 0);
        a.Add(TrackedHandle(new Tracked));
    }
    EXPECT_EQ(Tracked::live, 0);
}

TEST(DynamicArray, MovedFromArrayIsUsableAgain)
{
    QELXDynamicArray<QELXString> a;
    a.Add("x");
    QELXDynamicArray<QELXString> b(std::move(a));
    EXPECT_EQ(a.Count(), 0);
    a.Add("y");
    EXPECT_EQ(a.Count(), 1);
    EXPECT_STREQ(b[0].c_str(), "x");
}

TEST(DynamicArray, SortedInsertKeepsOrderAndRefusesDuplicates)
{
    QELXDynamicArray<int> a;
    EXPECT_TRUE(a.InsertSorted(5));
    int index = -1;
    EXPECT_TRUE(a.FindSorted(5, index));
    EXPECT_EQ(index, 0);
    for (int v : {-3, 9, 7, 0})
        EXPECT_TRUE(a.InsertSorted(v));
    EXPECT_FALSE(a.InsertSorted(7));
    ASSERT_EQ(a.Count(), 5);
    const int expected[] = {-3, 0, 5, 7, 9};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(a[i], expected[i]);
    EXPECT_FALSE(a.FindSorted(6, index));
    EXPECT_EQ(index, 3); // insertion point
}

TEST(DynamicArray, PointersSortAsUnsignedAddresses)
{
    auto* high = reinterpret_cast<int*>(std::uintptr_t{0x8000000000001000ull});
    auto* low = reinterpret_cast<int*>(std::uintptr_t{0x1000});
    QELXDynamicArray<int*> a;
    a.InsertSorted(high);
    a.InsertSorted(low);
    EXPECT_EQ(a[0], low);
    EXPECT_EQ(a.Find(high), 1);
    EXPECT_FALSE(a.AddUnique(low));
    EXPECT_EQ(a.Count(), 2);
}

TEST(HashMap, GrowsOnThirteenthKeyAndKeepsEveryKey)
{
    QELXHashMap<int, int> map;
    for (int k = 0; k < 12; ++k)
        EXPECT_TRUE(map.Add(k * 7, k));
    EXPECT_EQ(map.Capacity(), 17);
    EXPECT_TRUE(map.Add(1000, 12));
    EXPECT_EQ(map.Capacity(), 34);
    EXPECT_EQ(map.Count(), 13);
    for (int k = 0; k < 12; ++k) {
        int v = -1;
        EXPECT_TRUE(map.Get(k * 7, v));
        EXPECT_EQ(v, k);
    }
}

TEST(HashMap, DuplicateKeyKeepsFirstValueAndMissingKeyLeavesOutput)
{
    QELXHashMap<void*, int> map;
    int a = 0;
    EXPECT_TRUE(map.Add(&a, 1));
    EXPECT_FALSE(map.Add(&a, 2));
    int v = 99;
    EXPECT_FALSE(map.Get(&v, v));
    EXPECT_EQ(v, 99);
    EXPECT_TRUE(map.Get(&a, v));
    EXPECT_EQ(v, 1);
    EXPECT_TRUE(map.Set(&a, 3));
    EXPECT_FALSE(map.Set(&v, 3));
    map = map;
    EXPECT_TRUE(map.Get(&a, v));
    EXPECT_EQ(v, 3);
    EXPECT_EQ(map.Count(), 1);
}

TEST(HashMap, ProbeWrapsFromLastSlotToFirst)
{
    QELXHashMap<int, int> map(lastBucket);
    map.Add(1, 10);
    map.Add(2, 20);
    map.Add(3, 30);
    EXPECT_EQ(map.FindIndex(1), 16);
    EXPECT_EQ(map.FindIndex(2), 0);
    EXPECT_EQ(map.FindIndex(3), 1);
    EXPECT_EQ(map.FindIndex(4), -1);
}

TEST(HashMap, RemovalKeepsCollidingKeysFindable)
{
    QELXHashMap<int, int> map(lastBucket);
    for (int k = 1; k <= 3; ++k)
        map.Add(k, 10 * k);
    EXPECT_TRUE(map.Remove(1));
    EXPECT_FALSE(map.Remove(1));
    EXPECT_EQ(map.Count(), 2);
    int v = 0;
    EXPECT_TRUE(map.Get(2, v));
    EXPECT_EQ(v, 20);
    EXPECT_TRUE(map.Get(3, v));
    EXPECT_EQ(v, 30);
    EXPECT_EQ(map.FindIndex(2), 16); // moved into the gap
    EXPECT_TRUE(map.Remove(3));
    EXPECT_TRUE(map.Get(2, v));
    EXPECT_EQ(map.Count(), 1);
}

TEST(HashMap, ClearAndRemoveReleaseHandleValues)
{
    {
        QELXHashMap<int, TrackedHandle> map;
        for (int k = 0; k < 20; ++k)
            map.Add(k, TrackedHandle(new Tracked));
        EXPECT_EQ(Tracked::live, 20);
        EXPECT_EQ(map.Capacity(), 34);
        QELXHashMap<int, TrackedHandle> copy(map);
        EXPECT_TRUE(map.Remove(4));
        EXPECT_EQ(Tracked::live, 20); // the copy still holds it
        copy.Clear();
        EXPECT_EQ(Tracked::live, 19);
        EXPECT_EQ(copy.Capacity(), 17);
        EXPECT_EQ(copy.Count(), 0);
        map.Clear();
        EXPECT_EQ(Tracked::live, 0);
        map.Add(1, TrackedHandle(new Tracked));
    }
    EXPECT_EQ(Tracked::live, 0);
}

TEST(HashMap, PointerHashUsesBothHalves)
{
    const auto h1 = QELXHashTraits<void*>::Hash(reinterpret_cast<void*>(std::uintptr_t{0x100000000ull}));
    const auto h2 = QELXHashTraits<void*>::Hash(reinterpret_cast<void*>(std::uintptr_t{0x200000000ull}));
    EXPECT_NE(h1, h2);
}

TEST(HashList, NextYieldsEachElementOnceAfterGrowth)
{
    QELXHashList<int> set;
    for (int k = 0; k < 30; ++k)
        EXPECT_TRUE(set.Add(k * 3));
    EXPECT_FALSE(set.Add(9));
    EXPECT_TRUE(set.Contains(27));
    EXPECT_FALSE(set.Contains(28));
    EXPECT_EQ(set.Capacity(), 68);
    int seen = 0;
    long sum = 0;
    for (int k; set.Next(k);) {
        ++seen;
        sum += k;
    }
    EXPECT_EQ(seen, 30);
    EXPECT_EQ(sum, 3L * 29 * 30 / 2);
}

TEST(HashMap, PointComparatorUsesKernelResolution)
{
    const QELposition a(1.0, 2.0, 3.0);
    const QELposition near(1.0 + 0.5 * QELresabs, 2.0, 3.0);
    const QELposition far(1.0 + 10.0 * QELresabs, 2.0, 3.0);
    EXPECT_EQ(QELXComparePoints(&a, &near), 0);
    EXPECT_EQ(QELXComparePoints(&a, &far), 1);
}
