// Deep deletion: what goes, what stays, and that nothing leaks.
#include <gtest/gtest.h>

#include "support/model_builders.hxx"
#include "velm/entity.hxx"
#include "velm/memory.hxx"
#include "velm/topology_api.hxx"

using namespace testkit;

TEST(DeleteEntity, BodyWithAttributesAndGroupLeavesNothingAlive) {
  long entities = velm_live_entity_count();
  long objects = velm_live_object_count();
  BODY* box = make_box();
  auto* group = new QELGROUP;
  FACE* f = box->lump()->shell()->face();
  ASSERT_TRUE(api_ct_add_to_group(f, group).ok());
  ASSERT_TRUE(api_add_generic_named_attribute(f->loop()->start()->edge(), "n", 1).ok());
  new ATTRIB_RGB(box, 0, 0, 1);
  ASSERT_TRUE(api_del_entity(box).ok());
  EXPECT_EQ(group->members().iteration_count(), 0);  // the member left its group
  ASSERT_TRUE(api_ct_lose_group(group).ok());
  EXPECT_EQ(velm_live_entity_count(), entities);
  EXPECT_EQ(velm_live_object_count(), objects);
}

TEST(DeleteEntity, FaceGoesAndSharedEdgesStay) {
  BODY* box = make_box();
  FACE* top = box->lump()->shell()->face()->next();
  ASSERT_TRUE(api_del_entity(top).ok());
  EXPECT_EQ(count_faces(box), 5);
  EXPECT_EQ(count_edges(box), 12);
  EXPECT_EQ(count_vertices(box), 8);
  EXPECT_EQ(model_problems(box), "");
  EXPECT_EQ(box->lump()->shell()->is_closed(), 0);

  // The front face shared one edge with the top: that edge now goes with it.
  FACE* front = box->lump()->shell()->face()->next();
  ASSERT_TRUE(api_del_entity(front).ok());
  EXPECT_EQ(count_faces(box), 4);
  EXPECT_EQ(count_edges(box), 11);
  EXPECT_EQ(count_vertices(box), 8);
  EXPECT_EQ(model_problems(box), "");
  EXPECT_TRUE(api_del_entity(box).ok());
}

TEST(DeleteEntity, UsedEdgesVerticesAndGeometryAreRefused) {
  BODY* box = make_box();
  COEDGE* c = box->lump()->shell()->face()->loop()->start();
  EXPECT_FALSE(api_del_entity(c->edge()).ok());
  EXPECT_FALSE(api_del_entity(c->start()).ok());
  EXPECT_FALSE(api_del_entity(box->lump()->shell()->face()->geometry()).ok());
  EXPECT_EQ(model_problems(box), "");
  EXPECT_TRUE(api_delent(box).ok());
  EXPECT_FALSE(api_del_entity(box).ok());  // no longer live
}

TEST(DeleteEntity, ListSkipsWhatEarlierEntriesTookAlong) {
  long entities = velm_live_entity_count();
  BODY* wire = make_wire_body(3);
  BODY* dot = make_vertex_body();
  ENTITY_LIST list;
  list.add(wire);
  list.add(wire->wire()->coedge()->edge());
  list.add(dot);
  EXPECT_TRUE(api_del_entity_list(list).ok());
  EXPECT_EQ(velm_live_entity_count(), entities);
}

TEST(DeleteEntity, LoopOfFaceLeavesFaceWithoutIt) {
  BODY* sheet = make_sheet(1, 1);
  FACE* f = sheet->lump()->shell()->face();
  ASSERT_TRUE(api_del_entity(f->loop()).ok());
  EXPECT_EQ(f->loop(), nullptr);
  EXPECT_EQ(count_edges(sheet), 0);
  EXPECT_TRUE(api_del_entity(sheet).ok());
}

// A plain lose outside any roll-back frame takes attributes on shared edges and
// vertices along without touching freed memory.
TEST(DeleteEntity, LoseOutsideFrameWithAttributesOnVerticesAndEdges) {
  long entities = velm_live_entity_count();
  long objects = velm_live_object_count();
  BODY* box = make_box();
  COEDGE* c = box->lump()->shell()->face()->loop()->start();
  ASSERT_TRUE(api_add_generic_named_attribute(c->start(), "v", 1).ok());
  ASSERT_TRUE(api_add_generic_named_attribute(c->end(), "w", 2).ok());
  ASSERT_TRUE(api_add_generic_named_attribute(c->edge(), "e", 3).ok());
  box->lose();
  EXPECT_EQ(velm_live_entity_count(), entities);
  EXPECT_EQ(velm_live_object_count(), objects);
}

// Deleting many models in one scope (a damaged file's entities, some outside
// the body whose deletion frees what they link to) frees nothing until the
// scope ends: a deletion through the API commits its board inside the scope
// and hands what it lost to it. The kernel's own object count shows it in
// every build, whatever a freed entity's memory then holds.
TEST(DeleteEntity, ADeletionInsideALoseScopeFreesNothingBeforeTheScopeEnds) {
  const long objects = velm_live_object_count(), entities = velm_live_entity_count();
  BODY* first = testkit::make_box();
  BODY* second = testkit::make_box(1.0, 2.0, 3.0);
  const long made = velm_live_object_count();
  {
    velm_lose_scope scope;
    ASSERT_TRUE(api_del_entity(first).ok());
    ASSERT_TRUE(api_del_entity(second).ok());
    EXPECT_EQ(velm_live_object_count(), made) << "freed while the scope is open";
    EXPECT_EQ(velm_live_entity_count(), entities) << "lost, not live";
  }
  EXPECT_EQ(velm_live_object_count(), objects);
  // Outside a scope the deletion frees at once, as before.
  BODY* alone = testkit::make_box();
  ASSERT_TRUE(api_del_entity(alone).ok());
  EXPECT_EQ(velm_live_object_count(), objects);
}
