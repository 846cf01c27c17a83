#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

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

// The key itself as its hash (keys 17 apart share a home slot while the table
// has 17), and an equality that counts how often a probe compares keys.
std::uint32_t ownValue(const int* k) { return static_cast<std::uint32_t>(*k); }
int g_compared = 0;
bool countedEqual(const int* a, const int* b)
{
    ++g_compared;
    return *a == *b;
}

} // namespace

TEST(DynamicArray, CopiesAreElementWise)
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

    QELXDynamicArray<QELXDynamicArray<int>> outer;
    QELXDynamicArray<int> inner;
    inner.Add(1);
    outer.Add(inner);
    outer.Append(outer); // appending itself doubles it once
    ASSERT_EQ(outer.Count(), 2);
    QELXDynamicArray<QELXDynamicArray<int>> nested = outer;
    nested[0].Add(2);
    EXPECT_EQ(outer[0].Count(), 1);
    EXPECT_EQ(outer[1].Count(), 1);
    EXPECT_EQ(nested[0].Count(), 2);

    // Adding an own element while the storage grows under it.
    for (int i = 0; i < 40; ++i)
        original.Add(original[1]);
    ASSERT_EQ(original.Count(), 43);
    EXPECT_STREQ(original[42].c_str(), "beta");

    QELXDynamicArray<QELXString> moved(std::move(original));
    EXPECT_EQ(original.Count(), 0);
    original.Add("y"); // the moved-from array is usable again
    EXPECT_EQ(original.Count(), 1);
    EXPECT_STREQ(moved[0].c_str(), "alpha");
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
        // One past the end is no element: nothing is destroyed twice or moved.
        a.RemoveAt(a.Count());
        EXPECT_EQ(Tracked::live, 2);
        EXPECT_EQ(a.Count(), 2);
        EXPECT_EQ(a[1]->GetReferenceCount(), 1);
        a.InsertAt(0, TrackedHandle(new Tracked));
        EXPECT_EQ(Tracked::live, 3);
        a.Clear();
        EXPECT_EQ(Tracked::live, 0);
        a.Add(TrackedHandle(new Tracked));
    }
    EXPECT_EQ(Tracked::live, 0);
}

TEST(DynamicArray, SortedInsertKeepsOrderRefusesDuplicatesAndSortsPointersUnsigned)
{
    QELXDynamicArray<int> a;
    for (int v : {5, -3, 9, 7, 0})
        EXPECT_TRUE(a.InsertSorted(v));
    EXPECT_FALSE(a.InsertSorted(7));
    ASSERT_EQ(a.Count(), 5);
    const int expected[] = {-3, 0, 5, 7, 9};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(a[i], expected[i]);
    int index = -1;
    EXPECT_TRUE(a.FindSorted(5, index));
    EXPECT_EQ(index, 2);
    EXPECT_FALSE(a.FindSorted(6, index));
    EXPECT_EQ(index, 3); // insertion point

    auto* high = reinterpret_cast<int*>(std::uintptr_t{0x8000000000001000ull});
    auto* low = reinterpret_cast<int*>(std::uintptr_t{0x1000});
    QELXDynamicArray<int*> p;
    p.InsertSorted(high);
    p.InsertSorted(low);
    EXPECT_EQ(p[0], low);
    EXPECT_EQ(p.Find(high), 1);
    EXPECT_FALSE(p.AddUnique(low));
    EXPECT_EQ(p.Count(), 2);
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

TEST(HashMap, CollidingKeysWrapFromLastSlotAndSurviveRemoval)
{
    QELXHashMap<int, int> map(lastBucket);
    for (int k = 1; k <= 3; ++k)
        map.Add(k, 10 * k);
    EXPECT_EQ(map.FindIndex(1), 16);
    EXPECT_EQ(map.FindIndex(2), 0);
    EXPECT_EQ(map.FindIndex(3), 1);
    EXPECT_EQ(map.FindIndex(4), -1);

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

TEST(HashMap, AProbeComparesKeysOnlyWhereTheHashesAgree)
{
    QELXHashMap<int, int> map(ownValue, countedEqual);
    for (int k : {1, 18, 35, 52})
        map.Add(k, 10 * k);
    g_compared = 0;
    int v = 0;
    EXPECT_TRUE(map.Get(52, v));
    EXPECT_EQ(v, 520);
    EXPECT_EQ(g_compared, 1) << "the three keys before it in the run share its home, not its hash";
    g_compared = 0;
    EXPECT_EQ(map.FindIndex(69), -1);
    EXPECT_FALSE(map.Add(35, 0));
    EXPECT_EQ(g_compared, 1);
    // Past the regrowth every key is found again in one comparison, and the
    // removal that re-places a run keeps each key's hash with it.
    for (int k = 100; k < 120; ++k)
        map.Add(k, k);
    EXPECT_EQ(map.Capacity(), 34);
    EXPECT_TRUE(map.Remove(18));
    g_compared = 0;
    for (int k : {1, 35, 52, 100, 119}) {
        EXPECT_TRUE(map.Get(k, v)) << k;
        EXPECT_EQ(v, k < 100 ? 10 * k : k);
    }
    EXPECT_EQ(g_compared, 5);
    EXPECT_FALSE(map.Get(18, v));
    // Keys of one hash are still told apart by the equality.
    QELXHashMap<int, int> same(lastBucket, countedEqual);
    for (int k = 1; k <= 3; ++k)
        same.Add(k, k);
    EXPECT_EQ(same.FindIndex(3), 1);
    EXPECT_EQ(same.FindIndex(4), -1);
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

TEST(HashMap, PointerHashUsesBothHalvesAndPointsCompareAtKernelResolution)
{
    EXPECT_NE(QELXHashTraits<void*>::Hash(reinterpret_cast<void*>(std::uintptr_t{0x100000000ull})),
              QELXHashTraits<void*>::Hash(reinterpret_cast<void*>(std::uintptr_t{0x200000000ull})));
    const QELposition a(1.0, 2.0, 3.0);
    const QELposition near(1.0 + 0.5 * QELresabs, 2.0, 3.0);
    const QELposition far(1.0 + 10.0 * QELresabs, 2.0, 3.0);
    EXPECT_EQ(QELXComparePoints(&a, &near), 0);
    EXPECT_EQ(QELXComparePoints(&a, &far), 1);
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
    for (int k; set.Next(k); ++seen)
        sum += k;
    EXPECT_EQ(seen, 30);
    EXPECT_EQ(sum, 3L * 29 * 30 / 2);
}

// The members a set would list after a run of adds, worked out without the
// set, come in the set's own slot order: keys in runs as entities lie in
// memory, repeats among them, and runs that end on a repeated key just past a
// growth threshold (that add still doubles the set).
TEST(HashList, MembersAfterAddingMatchTheSetsSlotOrder)
{
    using Key = const int*;
    const auto key = [](std::uintptr_t address) { return reinterpret_cast<Key>(address); };
    std::vector<std::vector<Key>> runs;
    runs.push_back({});
    std::vector<Key> slab;
    for (int i = 0; i < 3000; ++i) // each key four times, as the ends of a sheet's edges
        for (int k : {i, i + 1, i, i + 41})
            slab.push_back(key(0x7f0000001000u + 96u * static_cast<std::uintptr_t>(k)));
    runs.push_back(slab);
    std::uint64_t state = 12345;
    std::vector<Key> scattered;
    for (int i = 0; i < 6000; ++i) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        scattered.push_back(key(0x10000u + 8u * ((state >> 33) % 2500u)));
    }
    runs.push_back(scattered);
    for (int members : {12, 25, 51}) { // the next add doubles 17, 34 and 68 slots
        std::vector<Key> edge;
        for (int i = 0; i < members; ++i)
            edge.push_back(key(0x2000u + 16u * static_cast<std::uintptr_t>(i)));
        edge.push_back(edge.front());
        runs.push_back(edge);
    }
    for (const std::vector<Key>& adds : runs) {
        QELXHashList<Key> set;
        for (Key k : adds)
            set.Add(k);
        std::vector<Key> expected;
        for (Key k; set.Next(k);)
            expected.push_back(k);
        const QELXDynamicArray<Key> members =
            QELXHashList<Key>::MembersAfterAdding(adds.data(), static_cast<int>(adds.size()));
        EXPECT_EQ(std::vector<Key>(members.begin(), members.end()), expected) << adds.size() << " adds";
    }
}
