#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "entity_test_node.hxx"
#include "velm/address_table.hxx"
#include "velm/bb.hxx"
#include "velm/testkit.hxx"
#include "velm_test_support.hxx"

namespace {

class Lists : public velm_test::KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    for (auto*& n : nodes_) n = new TNODE;
  }
  void TearDown() override {
    // In a frame: a node may still hold a use of one lost before it.
    api_bb_begin(true);
    for (auto* n : nodes_)
      if (velm_is_live_entity(n)) n->lose();
    api_bb_end(outcome(), true, false);
    KernelTest::TearDown();
  }
  TNODE* nodes_[4] = {};
};

// Where the allocator puts entities (one dense block, objects of mixed size,
// blocks a megabyte apart, page-aligned) must not build long probe runs: the
// mean distance of a key from its home slot stays that of a well-spread table,
// before and after half the keys go.
TEST(AddressTables, ProbeRunsStayShortWhateverTheHeapLooksLike) {
  struct layout {
    std::uintptr_t stride, gap_every, gap;
  };
  const layout layouts[] = {{16, 0, 0}, {48, 0, 0}, {96, 1000, 1u << 20}, {32, 5000, 3u << 20}, {1u << 20, 0, 0},
                            {4096, 0, 0}};
  for (const layout& l : layouts) {
    SCOPED_TRACE(l.stride);
    velm_address_set set;
    std::vector<const void*> keys;
    std::uintptr_t a = 0x7f3a12340000u;
    for (int i = 0; i < 200000; ++i) {
      keys.push_back(reinterpret_cast<const void*>(a));
      a += l.stride + (l.gap_every && i % l.gap_every == 0 ? l.gap : 0);
    }
    for (const void* k : keys) ASSERT_TRUE(set.insert(k));
    EXPECT_LT(static_cast<double>(set.displacement()) / static_cast<double>(set.size()), 2.0);
    for (std::size_t i = 0; i < keys.size(); i += 2) ASSERT_TRUE(set.erase(keys[i]));
    EXPECT_EQ(set.size(), keys.size() / 2);
    EXPECT_LT(static_cast<double>(set.displacement()) / static_cast<double>(set.size()), 2.0);
    for (std::size_t i = 0; i < keys.size(); ++i) ASSERT_EQ(set.contains(keys[i]), i % 2 == 1);
  }
}

TEST_F(Lists, AddIsDuplicateCheckedAndNullIsAddedOnce) {
  ENTITY_LIST l;
  EXPECT_EQ(l.add(nodes_[0]), 0);
  EXPECT_EQ(l.add(nodes_[1]), 1);
  EXPECT_EQ(l.add(nodes_[0]), 0);
  EXPECT_EQ(l.add(nullptr), 2);
  EXPECT_EQ(l.add(nullptr), 2);
  EXPECT_EQ(l.count(), 3);
  EXPECT_EQ(l.add(nodes_[0], false), 3);  // unchecked: appended again
  EXPECT_EQ(l.lookup(nodes_[0]), 0);
  EXPECT_TRUE(l.contains(nullptr));
  EXPECT_FALSE(l.contains(nodes_[2]));
  // Removing the first of two unchecked entries leaves the second findable and removable.
  EXPECT_EQ(l.remove(nodes_[0]), 0);
  EXPECT_EQ(l.lookup(nodes_[0]), 3);
  EXPECT_EQ(l.remove(nodes_[0]), 3);
  EXPECT_EQ(l.iteration_count(), 2);
  EXPECT_FALSE(l.contains(nodes_[0]));
}

// Long lists search an index: checked and unchecked adds and removals over
// a few hundred addresses (never dereferenced) agree with a plain scan for the
// first live entry, through every growth of the index.
TEST(ListIndex, AgreesWithAScanForTheFirstLiveEntry) {
  alignas(16) static char pool[300 * 16];
  auto key = [](unsigned k) { return k == 0 ? nullptr : reinterpret_cast<ENTITY*>(pool + 16 * k); };
  ENTITY* const gone = reinterpret_cast<ENTITY*>(pool);  // the scan's tombstone
  std::vector<ENTITY*> scan;
  auto first = [&](ENTITY* e) {
    for (std::size_t k = 0; k < scan.size(); ++k)
      if (scan[k] == e) return static_cast<int>(k);
    return -1;
  };
  ENTITY_LIST l;
  unsigned seed = 12345;
  for (int step = 0; step < 4000; ++step) {
    seed = seed * 1103515245u + 12345u;
    ENTITY* e = key((seed >> 8) % 300);
    switch ((seed >> 20) % 4) {
      case 0:
      case 1: {
        int at = first(e);
        EXPECT_EQ(l.add(e), at >= 0 ? at : static_cast<int>(scan.size()));
        if (at < 0) scan.push_back(e);
        break;
      }
      case 2:
        EXPECT_EQ(l.add(e, false), static_cast<int>(scan.size()));
        scan.push_back(e);
        break;
      default: {
        int at = first(e);
        EXPECT_EQ(l.remove(e), at);
        if (at >= 0) scan[static_cast<std::size_t>(at)] = gone;
      }
    }
    if (step % 500 != 0) continue;
    for (unsigned k = 0; k < 300; ++k) ASSERT_EQ(l.lookup(key(k)), first(key(k))) << "step " << step;
  }
  EXPECT_EQ(l.count(), static_cast<int>(scan.size()));
  EXPECT_EQ(l.iteration_count(), static_cast<int>(scan.size() - std::count(scan.begin(), scan.end(), gone)));
}

// A list that finds its entries through the entities' scratch answers as the
// hashed one does (the first live entry; null once; unchecked duplicates found
// in turn as earlier ones go), also inside another such pass, where it hashes,
// and afterwards, when it builds its index. Entities of an earlier pass carry a
// stale slot that must not be taken for an entry.
TEST(ListStamps, AgreeWithAScanInsideNestedPassesAndAfter) {
  std::vector<TNODE*> nodes;
  for (int i = 0; i < 120; ++i) nodes.push_back(new TNODE(i));
  auto key = [&](unsigned k) { return k == 0 ? nullptr : static_cast<ENTITY*>(nodes[k - 1]); };
  auto firstIn = [](const std::vector<ENTITY*>& scan, const ENTITY* e) {
    for (std::size_t k = 0; k < scan.size(); ++k)
      if (scan[k] == e) return static_cast<int>(k);
    return -1;
  };
  auto run = [&](ENTITY_LIST& l, std::vector<ENTITY*>& scan, unsigned seed) {
    ENTITY* const gone = reinterpret_cast<ENTITY*>(&scan);  // the scan's tombstone
    auto first = [&](ENTITY* e) { return firstIn(scan, e); };
    for (int step = 0; step < 1500; ++step) {
      seed = seed * 1103515245u + 12345u;
      ENTITY* e = key((seed >> 8) % 121);
      switch ((seed >> 20) % 4) {
        case 0:
        case 1: {
          const int at = first(e);
          ASSERT_EQ(l.add(e), at >= 0 ? at : static_cast<int>(scan.size()));
          if (at < 0) scan.push_back(e);
          break;
        }
        case 2:
          ASSERT_EQ(l.add(e, false), static_cast<int>(scan.size()));
          scan.push_back(e);
          break;
        default: {
          const int at = first(e);
          ASSERT_EQ(l.remove(e), at);
          if (at >= 0) scan[static_cast<std::size_t>(at)] = gone;
        }
      }
    }
    for (unsigned k = 0; k <= 120; ++k) ASSERT_EQ(l.lookup(key(k)), first(key(k))) << k;
  };
  ENTITY_LIST outer, inner, earlier;
  std::vector<ENTITY*> outerScan, innerScan, earlierScan;
  // A first pass leaves slots on every entity.
  velm_test_with_stamped_list(earlier, [&] { run(earlier, earlierScan, 7u); });
  velm_test_with_stamped_list(outer, [&] {
    run(outer, outerScan, 11u);
    velm_test_with_stamped_list(inner, [&] { run(inner, innerScan, 23u); });
    // The inner list hashed: the outer one's entries are still found.
    for (unsigned k = 0; k <= 120; ++k) ASSERT_EQ(outer.lookup(key(k)), firstIn(outerScan, key(k))) << k;
  });
  // After their passes the lists hash, and go on agreeing.
  run(outer, outerScan, 31u);
  run(earlier, earlierScan, 37u);
  ENTITY_LIST copy = outer;
  for (unsigned k = 0; k <= 120; ++k) EXPECT_EQ(copy.lookup(key(k)), outer.lookup(key(k)));
  for (TNODE* n : nodes) n->lose();
}

// A stamped list reads an entity's slot without checking it against the
// list, so every way out of a stamped list takes the stamp along: a clear, an
// assignment over the list, and the epochs coming round after 65,535 passes
// (an entity stamped 65,536 passes ago carries the epoch of the pass now).
TEST(ListStamps, NoStaleSlotAfterClearAssignmentOrEpochsComingRound) {
  std::vector<TNODE*> nodes;
  for (int i = 0; i < 8; ++i) nodes.push_back(new TNODE(i));
  ENTITY_LIST l;
  velm_test_with_stamped_list(l, [&] {
    for (TNODE* n : nodes) l.add(n);
    l.clear();
    l.add(nodes[5]);
    EXPECT_EQ(l.lookup(nodes[5]), 0);
    EXPECT_EQ(l.lookup(nodes[1]), -1);  // its stamp named slot 1, now cleared
    EXPECT_EQ(l.add(nodes[1]), 1);
    EXPECT_EQ(l.add(nodes[7]), 2);
    ENTITY_LIST other;
    other.add(nodes[6]);
    other.add(nodes[2]);
    l = other;
    EXPECT_EQ(l.lookup(nodes[7]), -1);
    EXPECT_EQ(l.lookup(nodes[2]), 1);
  });
  // The last pass to stamp nodes[3] at slot 3; then the epochs come round.
  ENTITY_LIST first;
  velm_test_with_stamped_list(first, [&] {
    for (TNODE* n : nodes) first.add(n);
  });
  for (int pass = 0; pass < 65534; ++pass) {
    ENTITY_LIST empty;
    velm_test_with_stamped_list(empty, [] {});
  }
  ENTITY_LIST again;
  velm_test_with_stamped_list(again, [&] {
    for (int i : {0, 1, 2, 4}) again.add(nodes[static_cast<std::size_t>(i)]);
    EXPECT_EQ(again.lookup(nodes[3]), -1);
    EXPECT_EQ(again.add(nodes[3]), 4);
    EXPECT_EQ(again.lookup(nodes[5]), -1);
  });
  for (TNODE* n : nodes) n->lose();
}

TEST_F(Lists, RemoveLeavesATombstoneAndTheWalkSkipsNothing) {
  ENTITY_LIST l;
  for (auto* n : nodes_) l.add(n);
  l.init();
  EXPECT_EQ(l.next(), nodes_[0]);
  EXPECT_EQ(l.remove(nodes_[1]), 1);
  EXPECT_EQ(l.remove(nodes_[1]), -1);
  EXPECT_EQ(l.next(), nodes_[2]);  // the cursor survived the removal
  EXPECT_EQ(l.count(), 4);
  EXPECT_EQ(l.iteration_count(), 3);
  EXPECT_EQ(l[1], nullptr);
  EXPECT_EQ(l[3], nodes_[3]);
  EXPECT_EQ(l.lookup(nodes_[3]), 3);  // later indices did not move
  EXPECT_EQ(l[-1], nullptr);
  EXPECT_EQ(l[4], nullptr);
  EXPECT_EQ(l.next(), nodes_[3]);
  EXPECT_EQ(l.next(), nullptr);
  EXPECT_EQ(l.add(nodes_[1]), 4);  // re-added at the end
}

TEST_F(Lists, IndexWalkWhileGrowingAndAppendingLists) {
  ENTITY_LIST a, b;
  a.add(nodes_[0]);
  for (int i = 0; i < a.count(); ++i)
    if (i + 1 < 4) a.add(nodes_[i + 1]);
  EXPECT_EQ(a.count(), 4);
  b.add(nodes_[3]);
  b.add(nodes_[2]);
  b.remove(nodes_[3]);
  a.remove(nodes_[0]);
  b.add(a);
  EXPECT_EQ(b.iteration_count(), 3);  // n2, n1, n3 (n2 not twice)
  EXPECT_EQ(b[2], nodes_[1]);
  ENTITY_LIST c = b;
  c.init();
  EXPECT_EQ(c.next(), nodes_[2]);
  c.clear();
  EXPECT_EQ(c.count(), 0);
  EXPECT_EQ(c.next(), nullptr);
}

TEST_F(Lists, EeListWithOwnershipLosesItsEntries) {
  EE_LIST* owning = new EE_LIST(1);
  EE_LIST* plain = new EE_LIST;
  owning->add(nodes_[0]);
  owning->add(nodes_[1]);
  owning->add(nodes_[0]);
  plain->add(nodes_[2]);
  EXPECT_EQ(owning->count(), 2);
  owning->lose();
  plain->lose();
  EXPECT_FALSE(velm_is_live_entity(nodes_[0]));
  EXPECT_FALSE(velm_is_live_entity(nodes_[1]));
  EXPECT_TRUE(velm_is_live_entity(nodes_[2]));
}

TEST_F(Lists, EeListChangesRollBack) {
  EE_LIST* l = new EE_LIST;
  l->add(nodes_[0]);
  api_bb_begin(true);
  l->add(nodes_[1]);
  l->remove(nodes_[0]);
  api_bb_end(outcome(1), true, false);
  EXPECT_EQ(l->list().iteration_count(), 1);
  EXPECT_EQ((*l)[0], nodes_[0]);
  l->lose();
}

TEST_F(Lists, DeepCopyResolvesLinksAndUseCounts) {
  // a -> b -> c, d -> b: copying a and d copies b and c once.
  nodes_[0]->set_link(nodes_[1]);
  nodes_[1]->set_link(nodes_[2]);
  nodes_[3]->set_link(nodes_[1]);
  nodes_[1]->set_value(0.1);
  ENTITY_LIST roots, copies;
  roots.add(nodes_[0]);
  roots.add(nodes_[3]);
  pointer_map pm;
  long entities = velm_live_entity_count();
  copy_entity_list(roots, copies, &pm);
  EXPECT_EQ(velm_live_entity_count(), entities + 4);
  ASSERT_EQ(copies.iteration_count(), 2);
  auto* a = static_cast<TNODE*>(copies[0]);
  auto* d = static_cast<TNODE*>(copies[1]);
  EXPECT_EQ(pm.find(nodes_[0]), a);
  ASSERT_NE(a->link(), nullptr);
  EXPECT_NE(a->link(), nodes_[1]);
  EXPECT_EQ(a->link(), d->link());
  EXPECT_EQ(a->link()->value(), 0.1);
  EXPECT_EQ(a->link()->use_count(), 2);
  EXPECT_EQ(a->link()->link()->use_count(), 1);
  EXPECT_EQ(a->link()->link(), pm.find(nodes_[2]));
  a->lose();
  d->lose();  // releases the shared copies
  EXPECT_EQ(velm_live_entity_count(), entities);
}

TEST_F(Lists, DeepCopyFailureLeavesNothingBehind) {
  nodes_[0]->set_link(nodes_[1]);
  ENTITY_LIST roots, copies;
  roots.add(nodes_[0]);
  long objects = velm_live_object_count();
  velm_test_fail_alloc("entity_test.cpp", 2);  // the second copy (copy_data is defined there)
  EXPECT_THROW(copy_entity_list(roots, copies), velm_exception);
  EXPECT_EQ(copies.count(), 0);
  EXPECT_EQ(velm_live_object_count(), objects);
}

}  // namespace
