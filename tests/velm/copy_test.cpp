// Copies: equal structure, independent entities, attributes by copy action,
// groups duplicated.
#include <gtest/gtest.h>

#include <set>

#include "support/model_builders.hxx"
#include "velm/testkit.hxx"
#include "velm_test_support.hxx"

using namespace testkit;
using velm_test::named;

namespace {
std::set<ENTITY*> everything(const ENTITY* root) {
  ENTITY_LIST l;
  velm_topology_walk(root, l);
  std::set<ENTITY*> out;
  for (int i = 0; i < l.count(); ++i) {
    out.insert(l[i]);
    if (is_FACE(l[i])) out.insert(static_cast<FACE*>(l[i])->geometry());
    if (is_EDGE(l[i])) out.insert(static_cast<EDGE*>(l[i])->geometry());
    if (is_VERTEX(l[i])) out.insert(static_cast<VERTEX*>(l[i])->geometry());
  }
  out.erase(nullptr);
  return out;
}
}  // namespace

TEST(CopyBody, GivesAnEqualIndependentBody) {
  BODY* box = make_box();
  FACE* f = box->lump()->shell()->face();
  // Two faces on one surface: shared in the original, shared in the copy.
  f->next()->set_geometry(f->geometry());
  ASSERT_TRUE(api_add_generic_named_attribute(f, "kept", "yes").ok());
  ASSERT_TRUE(api_add_generic_named_attribute(f, "dropped", 7, split_keep, merge_keep_survivor,
                                              trans_ignore, copy_lose)
                  .ok());
  new ATTRIB_COL(f, -3);

  BODY* copy = nullptr;
  ASSERT_TRUE(api_copy_body(box, copy).ok());
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(model_problems(copy), "");
  EXPECT_EQ(model_problems(box), "");
  EXPECT_EQ(count_faces(copy), 6);
  EXPECT_EQ(count_edges(copy), 12);
  EXPECT_EQ(count_vertices(copy), 8);

  std::set<ENTITY*> a = everything(box), b = everything(copy);
  for (ENTITY* e : b) EXPECT_EQ(a.count(e), 0u) << e->type_name();

  FACE* g = copy->lump()->shell()->face();
  EXPECT_EQ(g->geometry(), g->next()->geometry());
  EXPECT_EQ(g->geometry()->use_count(), 2);
  EXPECT_EQ(f->geometry()->use_count(), 2);
  ATTRIB_GEN_NAME* found = named(g, "kept");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->entity(), g);
  EXPECT_EQ(named(g, "dropped"), nullptr);
  ATTRIB* col = find_attrib(g, ATTRIB_TSL_TYPE, ATTRIB_COL_TYPE);
  ASSERT_NE(col, nullptr);
  EXPECT_EQ(static_cast<ATTRIB_COL*>(col)->colour(), -3);

  // Independent: the original can go, the copy stays sound.
  ASSERT_TRUE(api_del_entity(box).ok());
  EXPECT_EQ(model_problems(copy), "");
  EXPECT_TRUE(api_del_entity(copy).ok());
}

// The duplicate belongs to the copy alone: deleting the copy leaves no empty
// group behind.
TEST(CopyBody, GroupsOfTheOriginalGetOneDuplicateHoldingTheCopies) {
  BODY* box = make_box();
  auto* layer = new QELGROUP;
  ASSERT_TRUE(api_add_generic_named_attribute(layer, "layer", 4).ok());
  FACE* f = box->lump()->shell()->face();
  ASSERT_TRUE(api_ct_add_to_group(f, layer).ok());
  ASSERT_TRUE(api_ct_add_to_group(f->next(), layer).ok());
  const long before = velm_live_entity_count();

  BODY* copy = nullptr;
  ASSERT_TRUE(api_copy_body(box, copy).ok());
  FACE* g = copy->lump()->shell()->face();
  ENTITY_LIST groups;
  ASSERT_TRUE(api_ct_return_groups(g, groups).ok());
  ASSERT_EQ(groups.iteration_count(), 1);
  auto* dup = static_cast<QELGROUP*>(groups[0]);
  EXPECT_NE(dup, layer);
  EXPECT_EQ(dup->members().iteration_count(), 2);
  EXPECT_TRUE(dup->is_member(g->next()));
  EXPECT_NE(named(dup, "layer"), nullptr);
  EXPECT_EQ(layer->members().iteration_count(), 2);

  ASSERT_TRUE(api_del_entity(copy).ok());
  EXPECT_FALSE(velm_is_live_entity(dup));
  EXPECT_EQ(velm_live_entity_count(), before);
  EXPECT_EQ(layer->members().iteration_count(), 2);
  for (ENTITY* e : {static_cast<ENTITY*>(box), static_cast<ENTITY*>(layer)}) EXPECT_TRUE(api_del_entity(e).ok());
}

TEST(CopyEntity, FaceCopyStandsOnItsOwn) {
  BODY* box = make_box();
  FACE* f = box->lump()->shell()->face();
  ENTITY* copy = nullptr;
  ASSERT_TRUE(api_copy_entity(f, copy).ok());
  ASSERT_TRUE(is_FACE(copy));
  auto* g = static_cast<FACE*>(copy);
  EXPECT_EQ(g->shell(), nullptr);
  EXPECT_EQ(g->next(), nullptr);
  EXPECT_EQ(count_edges(g), 4);
  EXPECT_EQ(model_problems(g), "");
  EXPECT_EQ(g->loop()->start()->partner(), nullptr);
  EXPECT_TRUE(api_del_entity(g).ok());
  EXPECT_EQ(model_problems(box), "");

  ENTITY* wcs = nullptr;
  auto* original = new WCS(QELposition(1, 2, 3), QELunit_vector(0, 1, 0), QELunit_vector(-1, 0, 0));
  ASSERT_TRUE(api_copy_entity(original, wcs).ok());
  EXPECT_EQ((QELposition(1, 0, 0) * static_cast<WCS*>(wcs)->to_model()).y(), 3.0);
  EXPECT_TRUE(api_del_entity(wcs).ok());
  EXPECT_TRUE(api_del_entity(original).ok());
  EXPECT_TRUE(api_del_entity(box).ok());
}

TEST(CopyBody, InjectedFailureLeavesNoCopy) {
  BODY* box = make_box();
  long live = velm_live_entity_count();
  velm_test_fail_next("api_copy_body", qelvelm_api_errmod.message_code(VELM_API_FAILED));
  BODY* copy = nullptr;
  EXPECT_FALSE(api_copy_body(box, copy).ok());
  EXPECT_EQ(copy, nullptr);
  EXPECT_EQ(velm_live_entity_count(), live);
  velm_test_reset();
  EXPECT_TRUE(api_del_entity(box).ok());
}
