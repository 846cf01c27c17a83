// Groups and collections: membership, back-links, behaviours, persistence.
#include <gtest/gtest.h>

#include "support/model_builders.hxx"
#include "velm_test_support.hxx"

using namespace testkit;

TEST(Groups, MembershipIsOrderedAndBackLinked) {
  BODY* box = make_box();
  FACE* f = box->lump()->shell()->face();
  auto* layer = new QELGROUP;
  auto* filter = new QELGROUP;
  auto* plain = new QELCOLLECTION;
  ASSERT_TRUE(api_ct_add_to_group(f, layer).ok());
  ASSERT_TRUE(api_ct_add_to_group(f, layer).ok());  // twice is harmless
  ASSERT_TRUE(api_ct_add_to_group(box, layer).ok());
  ASSERT_TRUE(api_ct_add_to_group(layer, filter).ok());  // groups hold groups
  ENTITY_LIST list;
  list.add(f);
  ASSERT_TRUE(api_add_to_collection(list, plain).ok());
  ASSERT_TRUE(api_ct_add_to_group(f, filter).ok());

  ENTITY_LIST members;
  ASSERT_TRUE(api_ct_return_ents(layer, members).ok());
  ASSERT_EQ(members.iteration_count(), 2);
  EXPECT_EQ(members[0], f);
  EXPECT_EQ(members[1], box);
  ENTITY_LIST groups, collections;
  ASSERT_TRUE(api_ct_return_groups(f, groups).ok());
  ASSERT_TRUE(api_return_collections(f, collections).ok());
  ASSERT_EQ(groups.iteration_count(), 2);
  EXPECT_EQ(groups[0], layer);
  EXPECT_EQ(groups[1], filter);
  EXPECT_EQ(collections.iteration_count(), 3);
  EXPECT_TRUE(is_QELGROUP(layer));
  EXPECT_FALSE(is_QELGROUP(plain));
  EXPECT_EQ(layer->identity(1), QELCOLLECTION_TYPE);

  ASSERT_TRUE(api_ct_remove_from_group(f, filter).ok());
  EXPECT_FALSE(api_ct_remove_from_group(f, filter).ok());  // not a member any more
  EXPECT_EQ(find_collection_link(f, filter), nullptr);

  // Losing a group leaves its members and takes their back-links.
  ASSERT_TRUE(api_ct_lose_group(layer).ok());
  EXPECT_TRUE(velm_is_live_entity(f));
  EXPECT_EQ(find_attrib(box, ATTRIB_ST_TYPE, ATTRIB_QELCOLLECTION_TYPE), nullptr);
  EXPECT_EQ(filter->members().iteration_count(), 0);  // the layer left the filter
  EXPECT_TRUE(api_ct_remove(list).ok());
  for (ENTITY* e : {static_cast<ENTITY*>(box), static_cast<ENTITY*>(filter),
                    static_cast<ENTITY*>(plain)})
    EXPECT_TRUE(api_del_entity(e).ok());
}

TEST(Groups, EmptyBehaviourOneLosesTheCollectionWithItsLastMember) {
  auto* p = new APOINT(0, 0, 0);
  auto* kept = new QELCOLLECTION;
  auto* fleeting = new QELCOLLECTION;
  fleeting->set_collection_empty_behavior(1);
  ENTITY_LIST list;
  list.add(p);
  ASSERT_TRUE(api_add_to_collection(list, kept).ok());
  ASSERT_TRUE(api_add_to_collection(list, fleeting).ok());
  ASSERT_TRUE(api_remove_from_collection(p, fleeting).ok());
  EXPECT_FALSE(velm_is_live_entity(fleeting));
  ASSERT_TRUE(api_del_entity(p).ok());
  EXPECT_TRUE(velm_is_live_entity(kept));
  EXPECT_EQ(kept->members().iteration_count(), 0);
  EXPECT_TRUE(api_del_entity(kept).ok());
}

TEST(Groups, MembersSurviveSaveAndRestore) {
  BODY* box = make_box();
  auto* layer = new QELGROUP;
  layer->set_collection_save_behavior(1);
  FACE* f = box->lump()->shell()->face();
  ASSERT_TRUE(api_ct_add_to_group(f->next(), layer).ok());
  ASSERT_TRUE(api_ct_add_to_group(f, layer).ok());

  ENTITY_LIST out, in;
  out.add(box);
  out.add(layer);
  ASSERT_TRUE(velm_test::round_trip(out, in).ok());
  ASSERT_EQ(in.iteration_count(), 2);
  auto* body = static_cast<BODY*>(in[0]);
  auto* group = static_cast<QELGROUP*>(in[1]);
  ASSERT_TRUE(is_QELGROUP(group));
  EXPECT_EQ(group->get_collection_save_behavior(), 1);
  FACE* g = body->lump()->shell()->face();
  ASSERT_EQ(group->members().iteration_count(), 2);
  EXPECT_EQ(group->members()[0], g->next());
  EXPECT_EQ(group->members()[1], g);
  EXPECT_NE(find_collection_link(g, group), nullptr);
  EXPECT_EQ(model_problems(body), "");

  for (ENTITY* e : {static_cast<ENTITY*>(box), static_cast<ENTITY*>(layer),
                    static_cast<ENTITY*>(body), static_cast<ENTITY*>(group)})
    EXPECT_TRUE(api_del_entity(e).ok());
}
