#include <gtest/gtest.h>

#include <cstring>

#include "entity_test_node.hxx"
#include "velm/testkit.hxx"

namespace {

TEST(TrackedMemory, CountsLiveObjectsAndRecordsTrackedSites) {
  reset_kernel_for_test();
  velm_test_record_object_sites(true);
  long before = velm_live_object_count();
  ENTITY_LIST* plain = new ENTITY_LIST;
  int line = __LINE__ + 1;
  ENTITY_LIST* tracked = VELM_NEW ENTITY_LIST;
  EXPECT_EQ(velm_live_object_count(), before + 2);
  std::vector<std::pair<const char*, int>> where;
  velm_live_objects(where);
  bool found = false;
  for (auto& [file, l] : where) found |= file && std::strstr(file, "memory_test") && l == line;
  EXPECT_TRUE(found);
  delete plain;
  delete tracked;
  ENTITY_LIST* array = new ENTITY_LIST[3];
  EXPECT_EQ(velm_live_object_count(), before + 1);
  delete[] array;
  EXPECT_EQ(velm_live_object_count(), before);
  velm_live_objects(where);
  for (auto& [file, l] : where) EXPECT_FALSE(file && std::strstr(file, "memory_test") && l == line);

  // Off, the count goes on but no site is kept.
  velm_test_reset();
  tracked = VELM_NEW ENTITY_LIST;
  EXPECT_EQ(velm_live_object_count(), before + 1);
  velm_live_objects(where);
  for (auto& [file, l] : where) EXPECT_FALSE(file && std::strstr(file, "memory_test"));
  delete tracked;
  EXPECT_EQ(velm_live_object_count(), before);
}

TEST(TrackedMemory, InjectedFailureByFileGivesNullOnTheNthTrackedAllocation) {
  reset_kernel_for_test();
  velm_test_fail_alloc("memory_test", 2);
  ENTITY_LIST* untracked = new ENTITY_LIST;  // no file: not counted against the filter
  TNODE* first = VELM_NEW TNODE;
  TNODE* second = VELM_NEW TNODE;  // fails: no constructor runs, the expression is null
  TNODE* third = VELM_NEW TNODE;
  EXPECT_NE(untracked, nullptr);
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(second, nullptr);
  EXPECT_NE(third, nullptr);
  delete untracked;
  first->lose();
  third->lose();
}

TEST(TrackedMemory, AnyAllocationFailureAndOutOfMemoryError) {
  reset_kernel_for_test();
  velm_test_fail_alloc_after(1);
  EXPECT_EQ(new ENTITY_LIST, nullptr);
  ENTITY_LIST* ok = new ENTITY_LIST;
  EXPECT_NE(ok, nullptr);
  delete ok;
  velm_test_fail_alloc_after(1);
  try {
    velm_require(new TNODE);
    FAIL();
  } catch (const velm_exception& e) {
    EXPECT_EQ(e.error_number(), qelbase_mmgr_errmod.message_code(8));
  }
}

TEST(TrackedMemory, ManagerStartAndStopAreCounted) {
  int users = mmgr_system_users();
  EXPECT_GE(users, 1);  // the kernel's own
  initialize_mmgr_system();
  initialize_mmgr_system();
  EXPECT_EQ(mmgr_system_users(), users + 2);
  terminate_mmgr_system();
  terminate_mmgr_system();
  EXPECT_EQ(mmgr_system_users(), users);
}

}  // namespace
