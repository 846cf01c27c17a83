// The graph of face regions and loop groups: connected parts, walks that
// enter every region once, loops that belong to no group.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>

#include "loops/axon_heap.hxx"

namespace {

LOOP* LoopAt(int i) { return reinterpret_cast<LOOP*>(static_cast<std::uintptr_t>(0x2000 + 16 * i)); }

// A region whose loops never contain each other, filled without the kernel.
class FlatRegion : public Ve_PlanarFaceRegion {
 public:
  explicit FlatRegion(std::initializer_list<int> loops) : Ve_PlanarFaceRegion(nullptr) {
    for (int i : loops) {
      Ve_BoundaryElement e(LoopAt(i));
      e.first().setType(1);
      insert(e);
    }
  }
  // One separation pair: the first loop and its partner.
  FlatRegion(int first, int partner) : Ve_PlanarFaceRegion(nullptr) {
    Ve_BoundaryElement e(LoopAt(first));
    e.first().setType(1);
    e.setPartner(Ve_LoopElement(LoopAt(partner)));
    insert(e);
  }
  int compare(const Ve_BoundaryElement&, const Ve_BoundaryElement&) override { return 1; }
};

QELXDynamicArray<LOOP*> group(std::initializer_list<int> loops) {
  QELXDynamicArray<LOOP*> g;
  for (int i : loops) g.Add(LoopAt(i));
  return g;
}

struct CountVisits : Ve_AxonHeap::Ve_AxonHeapVisitor {
  std::map<Ve_AxonHeapEntity*, int> regions;
  int dendrites = 0;
  bool visitDendrite(Ve_Dendrite*, Ve_AxonHeapEntity*) override { return ++dendrites, true; }
  bool visitEntity(Ve_AxonHeapEntity* e) override { return ++regions[e], true; }
};

}  // namespace

TEST(AxonHeap, RegionsSharingNoGroupAreSeparateParts) {
  QELXDynamicArray<Ve_FaceRegionHandle> regions;
  regions.Add(Ve_FaceRegionHandle(new FlatRegion({1, 2})));
  regions.Add(Ve_FaceRegionHandle(new FlatRegion({3, 4})));
  QELXDynamicArray<QELXDynamicArray<LOOP*>> groups;
  for (int i : {1, 2, 3, 4}) groups.Add(group({i}));
  groups.Add(group({9}));  // loops of no region: dropped
  Ve_RepairLoopAxonHeap heap(groups, regions);
  ASSERT_EQ(heap.entities().Count(), 2);
  EXPECT_EQ(heap.entities()[0]->region(), regions[0]);
  EXPECT_EQ(heap.entities()[1]->region(), regions[1]);
  EXPECT_EQ(heap.entities()[0]->dendrites().Count(), 2);
}

TEST(AxonHeap, WalkEntersEachRegionOnceThoughTheyShareSeveralGroups) {
  QELXDynamicArray<Ve_FaceRegionHandle> regions;
  regions.Add(Ve_FaceRegionHandle(new FlatRegion({1, 2})));
  regions.Add(Ve_FaceRegionHandle(new FlatRegion({3, 4})));
  regions.Add(Ve_FaceRegionHandle(new FlatRegion({5})));
  QELXDynamicArray<QELXDynamicArray<LOOP*>> groups;
  groups.Add(group({1, 3}));
  groups.Add(group({2, 4, 5}));
  Ve_RepairLoopAxonHeap heap(groups, regions);
  ASSERT_EQ(heap.entities().Count(), 1);
  CountVisits visits;
  EXPECT_TRUE(heap.walk(visits, heap.entities()[0]));
  EXPECT_EQ(visits.regions.size(), 3u);
  for (const auto& [entity, n] : visits.regions) EXPECT_EQ(n, 1);
  EXPECT_EQ(visits.dendrites, 2);
  // Cleared, the part can be walked again.
  heap.clearVisited(heap.entities()[0]);
  CountVisits again;
  EXPECT_TRUE(heap.walkAll(again));
  EXPECT_EQ(again.regions.size(), 3u);
}

// A loop found in no group ties nothing: no dendrite, and the walk goes on.
TEST(AxonHeap, LoopInNoGroupMakesNoDendrite) {
  QELXDynamicArray<Ve_FaceRegionHandle> regions;
  regions.Add(Ve_FaceRegionHandle(new FlatRegion({1, 7})));
  QELXDynamicArray<QELXDynamicArray<LOOP*>> groups;
  groups.Add(group({1}));
  Ve_RepairLoopAxonHeap heap(groups, regions);
  ASSERT_EQ(heap.entities().Count(), 1);
  EXPECT_EQ(heap.entities()[0]->dendrites().Count(), 1);
  CountVisits visits;
  EXPECT_TRUE(heap.walkAll(visits));
  EXPECT_EQ(visits.dendrites, 1);
}

// Both loops of a separation pair tie their region to the groups they are
// in: a region reached only through the pair's second loop is in the same
// part.
TEST(AxonHeap, ASeparationPairsSecondLoopTiesItsRegionToo) {
  QELXDynamicArray<Ve_FaceRegionHandle> regions;
  regions.Add(Ve_FaceRegionHandle(new FlatRegion(1, 2)));
  regions.Add(Ve_FaceRegionHandle(new FlatRegion({3})));
  QELXDynamicArray<QELXDynamicArray<LOOP*>> groups;
  groups.Add(group({1}));
  groups.Add(group({2, 3}));
  Ve_RepairLoopAxonHeap heap(groups, regions);
  ASSERT_EQ(heap.entities().Count(), 1);
  EXPECT_EQ(heap.entities()[0]->dendrites().Count(), 2);
  CountVisits visits;
  EXPECT_TRUE(heap.walkAll(visits));
  EXPECT_EQ(visits.regions.size(), 2u);
}
