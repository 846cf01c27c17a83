// A restore at the outermost frame keeps the list of what it makes itself
// instead of the bulletin board: a class that makes an entity beside its own
// when restored leaves the record array in order and the extra entity listed.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "entity_test_node.hxx"
#include "velm_test_support.hxx"

// An outside class whose restore makes a node of its own beside itself, as a
// connector class might make a companion it does not save.
class TTWIN : public ENTITY {
  VELM_ENTITY_DECL(TTWIN, ENTITY, 1)
  TTWIN() = default;
  TTWIN(const TTWIN&) = default;
  TTWIN& operator=(const TTWIN&) = default;
  TNODE* companion() const { return companion_; }
  void save_common(ENTITY_LIST& list) const { ENTITY::save_common(list); }
  void restore_common() {
    ENTITY::restore_common();
    companion_ = new TNODE(7.0, 7);
  }
  void copy_common(ENTITY_LIST& list, const TTWIN* from, pointer_map* pm = nullptr, int skip = 0,
                   SCAN_TYPE reason = scan_copy) {
    ENTITY::copy_common(list, from, pm, skip, reason);
  }

 private:
  TNODE* companion_ = nullptr;  // not saved
};
int TTWIN_TYPE = 0;
restore_def* TTWIN_subclasses = nullptr;
VELM_ENTITY_DEF_EXTERNAL(TTWIN, ENTITY, 1, "ttwin")

namespace {

using RestoreCreations = velm_test::KernelTest;

void lose_all(const std::vector<ENTITY*>& entities) {
  velm_lose_scope once;
  for (ENTITY* e : entities)
    if (velm_is_live_entity(e)) e->lose();
}

TEST_F(RestoreCreations, AnEntityMadeBesideARecordsOwnIsListedAndLinksLandInPlace) {
  // Records: the twin, the node linking, the node linked to.
  auto* twin = new TTWIN;
  auto* linked = new TNODE(1.0, 1);
  auto* linking = new TNODE(2.0, 2);
  linking->set_link(linked);
  ENTITY_LIST top;
  top.add(twin);
  top.add(linking);
  const std::string text = velm_test::saved_file(top);
  lose_all({twin, linking, linked});
  const long entities = velm_live_entity_count();

  velm_test::memfile file = velm_test::memfile::of(text);
  ENTITY_LIST restored;
  std::vector<ENTITY*> every;
  ASSERT_TRUE(api_restore_entity_list(file.fp, 1, restored, &every).ok());
  ASSERT_EQ(restored.count(), 2);
  const auto* back = static_cast<const TNODE*>(restored[1]);
  EXPECT_EQ(back->tag(), 2);
  ASSERT_NE(back->link(), nullptr);
  EXPECT_EQ(back->link()->tag(), 1);
  const TNODE* companion = static_cast<const TTWIN*>(restored[0])->companion();
  ASSERT_NE(companion, nullptr);
  EXPECT_EQ(every.size(), 4u);
  EXPECT_NE(std::find(every.begin(), every.end(), companion), every.end());
  EXPECT_EQ(velm_live_entity_count(), entities + 4);
  lose_all(every);
  EXPECT_EQ(velm_live_entity_count(), entities);

  // Cut short after the twin's record: refused, and the companion goes too.
  const std::string cut = text.substr(0, text.rfind("tnode"));
  velm_test::memfile short_file = velm_test::memfile::of(cut);
  ENTITY_LIST none;
  std::vector<ENTITY*> nothing;
  EXPECT_FALSE(api_restore_entity_list(short_file.fp, 1, none, &nothing).ok());
  set_global_error_info(nullptr);
  EXPECT_TRUE(nothing.empty());
  EXPECT_EQ(velm_live_entity_count(), entities);
}

}  // namespace
