// Entity slabs: slots come back and are taken again, a failed or rolled-back
// creation leaves none taken, before-images stay out. Sanitizer builds hand out
// plain blocks instead; there only what holds for every allocator is checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "support/model_builders.hxx"
#include "velm/api.hxx"
#include "velm/bb.hxx"
#include "velm/memory.hxx"
#include "velm/testkit.hxx"
#include "velm_test_support.hxx"

namespace {

using EntitySlabs = velm_test::KernelTest;
using namespace testkit;

std::vector<ENTITY*> topology_of(const ENTITY* body) {
  ENTITY_LIST all;
  EXPECT_TRUE(api_get_faces(body, all).ok());
  EXPECT_TRUE(api_get_edges(body, all).ok());
  EXPECT_TRUE(api_get_vertices(body, all).ok());
  std::vector<ENTITY*> out;
  for (int k = 0; k < all.count(); ++k) out.push_back(all[k]);
  return out;
}

// A face's address and its coedges', sorted.
std::vector<const void*> face_and_coedges(const FACE* f) {
  std::vector<const void*> out = {f};
  for (COEDGE* c = f->loop()->start();;) {
    out.push_back(c);
    c = c->next();
    if (c == f->loop()->start()) break;
  }
  std::sort(out.begin(), out.end());
  return out;
}

void expect_same_slabs(const velm_slab_figures& a, const velm_slab_figures& b) {
  EXPECT_EQ(a.slots_in_use, b.slots_in_use);
  EXPECT_EQ(a.chunks, b.chunks);
  EXPECT_EQ(a.bytes, b.bytes);
}

TEST_F(EntitySlabs, NewEntitiesTakeTheLowestFreedSlotsAndEmptyChunksGoBack) {
  if (!velm_entity_slab_figures().on) GTEST_SKIP() << "entities are plain blocks here";
  const velm_slab_figures empty = velm_entity_slab_figures();
  BODY* sheet = make_sheet(6, 5);
  BODY* other = make_sheet(6, 5);
  EXPECT_GT(velm_entity_slab_figures().slots_in_use, empty.slots_in_use);
  // The sheet's first face: its slot, its loop's and its coedges' are the
  // lowest taken since the sheet was built.
  FACE* corner = sheet->lump()->shell()->face();
  const std::vector<const void*> freed = face_and_coedges(corner);
  ASSERT_TRUE(api_del_entity(corner).ok());
  BODY* square = make_sheet(1, 1);
  EXPECT_EQ(face_and_coedges(square->lump()->shell()->face()), freed);
  // Whole bodies gone, every chunk is back on the heap.
  for (BODY* b : {sheet, other, square}) ASSERT_TRUE(api_del_entity(b).ok());
  expect_same_slabs(velm_entity_slab_figures(), empty);
}

// The largest chunks are page mappings of their own: with the C heap's header
// of the block (two words, rounded to 16 bytes) a chunk fills its 64 pages
// and not a byte of a 65th.
TEST_F(EntitySlabs, TheLargestChunksFitTheirPagesWithTheHeapsHeader) {
  if (!velm_entity_slab_figures().on) GTEST_SKIP() << "entities are plain blocks here";
  BODY* sheet = make_sheet(60, 50);
  const std::size_t largest = velm_entity_slab_figures().largest_chunk;
  EXPECT_GT(largest, std::size_t(255) << 10);
  EXPECT_LE(largest + 32, std::size_t(256) << 10);
  ASSERT_TRUE(api_del_entity(sheet).ok());
}

TEST_F(EntitySlabs, RolledBackCreationGivesEverySlotBack) {
  const velm_slab_figures before = velm_entity_slab_figures();
  const long objects = velm_live_object_count();
  api_bb_begin(true);
  BODY* made = make_sheet(5, 4);
  EXPECT_GT(velm_live_object_count(), objects + 100);
  if (before.on) {
    EXPECT_GT(velm_entity_slab_figures().slots_in_use, before.slots_in_use + 100);
  }
  api_bb_end(outcome(4711), true, false);
  EXPECT_FALSE(velm_is_live_entity(made));
  EXPECT_EQ(velm_live_object_count(), objects);
  expect_same_slabs(velm_entity_slab_figures(), before);
}

// Copying is one body made entity by entity: wherever an allocation fails, the
// copy is refused and nothing of it stays, in the slabs or anywhere.
TEST_F(EntitySlabs, AllocationFailingAnywhereInACopyLeavesNothing) {
  BODY* sheet = make_sheet(3, 2);
  const velm_slab_figures before = velm_entity_slab_figures();
  const long objects = velm_live_object_count();
  int refused = 0;
  for (long nth = 1; nth < 2000; ++nth) {
    velm_test_fail_alloc(nullptr, nth);
    BODY* copy = nullptr;
    const bool ok = api_copy_body(sheet, copy).ok();
    velm_test_reset();  // lets go of the error record
    if (ok) {
      ASSERT_TRUE(api_del_entity(copy).ok());
      break;
    }
    ++refused;
    EXPECT_EQ(copy, nullptr);
    ASSERT_EQ(velm_live_object_count(), objects) << "allocation " << nth;
    expect_same_slabs(velm_entity_slab_figures(), before);
  }
  // Every entity of the copy is an allocation that can fail.
  EXPECT_GE(refused, count_faces(sheet) + count_edges(sheet) + count_vertices(sheet));
  ASSERT_TRUE(api_del_entity(sheet).ok());
}

TEST_F(EntitySlabs, BeforeImagesTakeNoSlot) {
  BODY* sheet = make_sheet(2, 2);
  const velm_slab_figures before = velm_entity_slab_figures();
  const long objects = velm_live_object_count();
  api_bb_begin(true);
  std::size_t changed = 0;
  for (ENTITY* e : topology_of(sheet)) {
    if (auto* f = dynamic_cast<FACE*>(e)) {
      f->set_sense(REVERSED);
      ++changed;
    }
  }
  EXPECT_EQ(velm_live_object_count(), objects + static_cast<long>(changed));  // one image each
  expect_same_slabs(velm_entity_slab_figures(), before);
  api_bb_end(outcome(4711), true, false);
  for (ENTITY* e : topology_of(sheet)) {
    if (auto* f = dynamic_cast<FACE*>(e)) {
      EXPECT_EQ(f->sense(), FORWARD);
    }
  }
  ASSERT_TRUE(api_del_entity(sheet).ok());
}

}  // namespace
