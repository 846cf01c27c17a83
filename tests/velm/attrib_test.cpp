// Attributes: chains, lookups, generic named attributes and their actions.
#include <gtest/gtest.h>

#include <cmath>

#include "support/model_builders.hxx"
#include "velm_test_support.hxx"

using namespace testkit;

using velm_test::named;

TEST(Attributes, ChainUnhookAndMove) {
  auto* p = new APOINT(0, 0, 0);
  auto* q = new APOINT(1, 0, 0);
  auto* a = new ATTRIB_RGB(p, 1, 0, 0);
  auto* b = new NO_MERGE_ATTRIB(p);
  auto* c = new ATTRIB_COL(p, 5);
  EXPECT_EQ(p->attrib(), a);
  EXPECT_EQ(a->next(), b);
  EXPECT_EQ(c->previous(), b);
  EXPECT_EQ(b->owner(), p);
  b->unhook();
  EXPECT_EQ(a->next(), c);
  EXPECT_EQ(c->previous(), a);
  EXPECT_EQ(b->entity(), nullptr);
  b->move(q);
  EXPECT_EQ(q->attrib(), b);
  a->move(q);
  EXPECT_EQ(p->attrib(), c);
  EXPECT_EQ(b->next(), a);
  EXPECT_EQ(a->identity(1), ATTRIB_TYPE);
  EXPECT_EQ(a->identity(2), ATTRIB_ST_TYPE);
  EXPECT_EQ(a->identity(0), ATTRIB_RGB_TYPE);
  p->lose();
  q->lose();
}

TEST(Attributes, FindByTypeLevelsWithWildcards) {
  auto* p = new APOINT(0, 0, 0);
  auto* col = new ATTRIB_COL(p, 2);
  auto* rgb = new ATTRIB_RGB(p, 0, 1, 0);
  auto* no_merge = new NO_MERGE_ATTRIB(p);
  EXPECT_EQ(find_attrib(p), col);
  EXPECT_EQ(find_attrib(p, ATTRIB_ST_TYPE), rgb);
  EXPECT_EQ(find_next_attrib(rgb, ATTRIB_ST_TYPE), no_merge);
  EXPECT_EQ(find_attrib(p, ATTRIB_ST_TYPE, NO_MERGE_ATTRIB_TYPE), no_merge);
  EXPECT_EQ(find_attrib(p, -1, ATTRIB_COL_TYPE), col);
  EXPECT_EQ(find_attrib(p, ATTRIB_RH_TYPE), nullptr);
  ENTITY_LIST list;
  list.add(p);
  EXPECT_TRUE(api_remove_no_merge_attrib(list).ok());
  EXPECT_EQ(find_attrib(p, ATTRIB_ST_TYPE, NO_MERGE_ATTRIB_TYPE), nullptr);
  EXPECT_EQ(rgb->next(), nullptr);
  p->lose();
}

TEST(GenericAttributes, AddReplacesByNameAndKeepsValueTypes) {
  auto* p = new APOINT(0, 0, 0);
  ASSERT_TRUE(api_add_generic_named_attribute(p, "n", 1).ok());
  ASSERT_TRUE(api_add_generic_named_attribute(p, "n", 2.5).ok());
  ASSERT_TRUE(api_add_generic_named_attribute(p, "w", L"wide").ok());
  ASSERT_TRUE(api_add_generic_named_attribute(p, "v", QELvector(1, 2, 3)).ok());
  ATTRIB_GEN_NAME* n = named(p, "n");
  ASSERT_TRUE(is_ATTRIB_GEN_REAL(n));
  EXPECT_EQ(static_cast<ATTRIB_GEN_REAL*>(n)->value(), 2.5);
  EXPECT_EQ(find_next_attrib(n, ATTRIB_GENERIC_TYPE)->identity(0), ATTRIB_GEN_WSTRING_TYPE);
  EXPECT_EQ(std::wstring(static_cast<ATTRIB_GEN_WSTRING*>(named(p, "w"))->value()), L"wide");
  EXPECT_EQ(named(p, "v")->value_text(), "(1, 2, 3)");
  EXPECT_EQ(named(p, "missing"), nullptr);
  EXPECT_TRUE(api_remove_generic_named_attribute(p, "n").ok());
  EXPECT_TRUE(api_remove_generic_named_attribute(p, "n").ok());  // nothing left: still fine
  EXPECT_EQ(named(p, "n"), nullptr);
  EXPECT_FALSE(api_add_generic_named_attribute(nullptr, "x", 1).ok());
  p->lose();
}

TEST(GenericAttributes, ActionsDecideSplitMergeTransformAndCopy) {
  auto* a = new APOINT(0, 0, 0);
  auto* b = new APOINT(1, 0, 0);
  new ATTRIB_GEN_INTEGER(a, "split_copy", 1, split_copy);
  new ATTRIB_GEN_INTEGER(a, "split_lose", 1, split_lose);
  new ATTRIB_GEN_INTEGER(a, "keep", 1);
  split_attrib(a, b);
  EXPECT_NE(named(b, "split_copy"), nullptr);
  EXPECT_NE(named(a, "split_copy"), nullptr);
  EXPECT_EQ(named(a, "split_lose"), nullptr);
  EXPECT_EQ(named(b, "keep"), nullptr);

  new ATTRIB_GEN_STRING(b, "all", "from b", split_keep, merge_keep_all);
  new ATTRIB_GEN_STRING(b, "lost_wins", "from b", split_keep, merge_keep_lost);
  new ATTRIB_GEN_STRING(a, "lost_wins", "from a", split_keep, merge_keep_lost);
  new ATTRIB_GEN_STRING(a, "gone", "x", split_keep, merge_lose);
  merge_attrib(a, b);  // a survives, b is merged away
  EXPECT_STREQ(static_cast<ATTRIB_GEN_STRING*>(named(a, "all"))->value(), "from b");
  EXPECT_STREQ(static_cast<ATTRIB_GEN_STRING*>(named(a, "lost_wins"))->value(), "from b");
  EXPECT_EQ(named(a, "gone"), nullptr);

  new ATTRIB_GEN_VECTOR(a, "dir", QELvector(1, 0, 0), split_keep, merge_keep_survivor, trans_apply);
  new ATTRIB_GEN_VECTOR(a, "fixed", QELvector(1, 0, 0));
  new ATTRIB_GEN_REAL(a, "scale", 1.0, split_keep, merge_keep_survivor, trans_lose);
  trans_attrib(a, rotate_transf(std::acos(0.0), QELvector(0, 0, 1)));
  EXPECT_NEAR(static_cast<ATTRIB_GEN_VECTOR*>(named(a, "dir"))->value().y(), 1.0, 1e-12);
  EXPECT_EQ(static_cast<ATTRIB_GEN_VECTOR*>(named(a, "fixed"))->value().y(), 0.0);
  EXPECT_EQ(named(a, "scale"), nullptr);

  auto* c = new APOINT(2, 0, 0);
  new ATTRIB_GEN_INTEGER(a, "private", 1, split_keep, merge_keep_survivor, trans_ignore, copy_lose);
  new ATTRIB_RENDER(a, rgb_color(0.2, 0.4, 0.6));
  copy_attrib(a, c);
  EXPECT_NE(named(c, "dir"), nullptr);
  EXPECT_EQ(named(c, "private"), nullptr);
  ATTRIB* render = find_attrib(c, ATTRIB_RH_TYPE, ATTRIB_RENDER_TYPE);
  ASSERT_NE(render, nullptr);
  double r = 0, g = 0, bl = 0;
  EXPECT_TRUE(rh_get_material_color(static_cast<ATTRIB_RENDER*>(render)->material(), r, g, bl));
  EXPECT_EQ(g, 0.4);
  EXPECT_FALSE(rh_get_material_color(nullptr, r, g, bl));
  for (APOINT* p : {a, b, c}) p->lose();
}
