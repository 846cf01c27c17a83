#include <gtest/gtest.h>

#include "entity_test_node.hxx"
#include "velm/bb.hxx"
#include "velm/testkit.hxx"

// The leaf registers before its parent, as the connector's AttDV_Mark does.
int TLEAF_TYPE = 0;
restore_def* TLEAF_subclasses = nullptr;
VELM_ENTITY_DEF_EXTERNAL(TLEAF, TNODE, 2, "tleaf")
int TNODE_TYPE = 0;
restore_def* TNODE_subclasses = nullptr;
VELM_ENTITY_DEF_EXTERNAL(TNODE, ENTITY, 1, "tnode")

void reset_kernel_for_test() {
  velm_test_reset();
  ASSERT_EQ(bb_depth(), 0);
}

namespace {

struct ARGS_A : METHOD_ARGS {
  int payload = 5;
  const char* id() const override { return "ARGS_A"; }
};
struct ARGS_B : METHOD_ARGS {
  const char* id() const override { return "ARGS_B"; }
};

int node_method(void* object, const METHOD_ARGS& args) {
  return static_cast<TNODE*>(object)->tag() + static_cast<const ARGS_A&>(args).payload;
}
int entity_method(void*, const METHOD_ARGS&) { return 99; }

TEST(ClassRegistry, ExternalClassesGetNumbersFromThousandInRegistrationOrder) {
  EXPECT_GE(TLEAF_TYPE, VELM_FIRST_EXTERNAL_TYPE);
  EXPECT_EQ(TNODE_TYPE, TLEAF_TYPE + 1);  // registered later in this file
  EXPECT_EQ(restore_def::find("tnode")->type_number(), TNODE_TYPE);
  // The child registered first still sits in the parent's subclass list.
  ASSERT_NE(TNODE_subclasses, nullptr);
  EXPECT_STREQ(TNODE_subclasses->identifier(), "tleaf");
  bool found = false;
  for (restore_def* d = ENTITY_subclasses; d; d = d->next_sibling()) found |= d->type_number() == TNODE_TYPE;
  EXPECT_TRUE(found);
}

TEST(ClassRegistry, UnloadUnlinksAndClearsTheNumber) {
  int type = 0;
  restore_def* head = nullptr;
  {
    restore_def def(&TNODE_subclasses, "tnode_child", &type, nullptr, &head);
    EXPECT_GT(type, TNODE_TYPE);
    EXPECT_EQ(TNODE_subclasses, &def);
    EXPECT_EQ(restore_def::find("tnode_child"), &def);
  }
  EXPECT_EQ(type, 0);
  EXPECT_EQ(restore_def::find("tnode_child"), nullptr);
  EXPECT_STREQ(TNODE_subclasses->identifier(), "tleaf");
}

// Saving asks for a kernel class by number once a record: the answer is the
// first registered definition of the number, and one that went is never given.
TEST(ClassRegistry, KernelNumbersFindTheirFirstDefinitionAndForgetOnesThatWent) {
  EXPECT_STREQ(restore_def::find_type(BODY_TYPE)->identifier(), "body");
  constexpr int unused = 500;  // no kernel class has it
  EXPECT_EQ(restore_def::find_type(unused), nullptr);
  {
    restore_def second_body(nullptr, "body_again", BODY_TYPE, nullptr, nullptr);
    restore_def first(nullptr, "numbered", unused, nullptr, nullptr);
    EXPECT_STREQ(restore_def::find_type(BODY_TYPE)->identifier(), "body");
    EXPECT_EQ(restore_def::find_type(unused), &first);
    {
      restore_def later(nullptr, "numbered_later", unused, nullptr, nullptr);
      EXPECT_EQ(restore_def::find_type(unused), &first);
    }
    EXPECT_EQ(restore_def::find_type(unused), &first);
  }
  EXPECT_EQ(restore_def::find_type(unused), nullptr);
  restore_def again(nullptr, "numbered_again", unused, nullptr, nullptr);
  EXPECT_EQ(restore_def::find_type(unused), &again);
  EXPECT_EQ(restore_def::find_type(TNODE_TYPE)->type_number(), TNODE_TYPE);
}

TEST(Identity, LevelsClimbAndStopAtTheClassLevel) {
  reset_kernel_for_test();
  TLEAF* leaf = new TLEAF;
  EXPECT_EQ(leaf->identity(0), TLEAF_TYPE);
  EXPECT_EQ(leaf->identity(1), TNODE_TYPE);
  EXPECT_EQ(leaf->identity(2), TLEAF_TYPE);
  EXPECT_EQ(leaf->identity(3), -1);
  EXPECT_EQ(leaf->identity(-1), TNODE_TYPE);
  EXPECT_EQ(leaf->identity(-2), ENTITY_TYPE);
  EXPECT_TRUE(is_TNODE(leaf));
  EXPECT_TRUE(is_TLEAF(leaf));
  EXPECT_FALSE(is_TLEAF(nullptr));
  EXPECT_STREQ(leaf->type_name(), "tleaf");
  EXPECT_EQ(leaf->size(), static_cast<int>(sizeof(TLEAF)));
  EE_LIST* list = new EE_LIST;
  EXPECT_EQ(list->identity(1), EE_LIST_TYPE);
  EXPECT_TRUE(is_EE_LIST(list));
  EXPECT_FALSE(is_EE_LIST(leaf));
  list->lose();
  leaf->lose();
}

TEST(MethodCalls, ArgumentTypeOwnTableThenBase) {
  reset_kernel_for_test();
  METHOD_ID own("weigh", "ARGS_A");
  METHOD_ID inherited("ping", "ARGS_A");
  METHOD_TABLE table;
  EXPECT_EQ(table.add(own, node_method), 1);
  EXPECT_EQ(table.add(METHOD_ID("weigh", "ARGS_A"), entity_method), 0);  // replaced, not added twice
  EXPECT_EQ(table.count(), 1);
  EXPECT_EQ(table.find(own), entity_method);
  TNODE::add_method(own, node_method);
  ENTITY::add_method(inherited, entity_method);
  TLEAF* leaf = new TLEAF;
  TNODE* node = new TNODE(1.0, 3);
  ARGS_A a;
  ARGS_B b;
  EXPECT_EQ(node->call_method(own, a), 8);
  EXPECT_EQ(leaf->call_method(own, a), 5);  // TLEAF's table is empty: TNODE's answers
  EXPECT_EQ(node->call_method(inherited, a), 99);
  EXPECT_EQ(node->call_method(own, b), 0);  // argument type differs
  EXPECT_EQ(node->call_method(METHOD_ID("unknown", "ARGS_A"), a), 0);
  node->lose();
  leaf->lose();
}

TEST(EntityId, AssignedOnceOnFirstRequest) {
  reset_kernel_for_test();
  TNODE* a = new TNODE;
  TNODE* b = new TNODE;
  int ia = 0, ib = 0, again = 0;
  EXPECT_EQ(a->entity_id(), 0);
  ASSERT_TRUE(api_get_entity_id(a, ia).ok());
  ASSERT_TRUE(api_get_entity_id(b, ib).ok());
  ASSERT_TRUE(api_get_entity_id(a, again).ok());
  EXPECT_GT(ia, 0);
  EXPECT_EQ(ib, ia + 1);
  EXPECT_EQ(again, ia);
  EXPECT_FALSE(api_get_entity_id(nullptr, ia).ok());
  a->lose();
  EXPECT_FALSE(api_get_entity_id(a, ia).ok());  // never dereferenced: not live
  b->lose();
}

TEST(DebugNumbers, PerClassInOrderOfFirstLookup) {
  reset_kernel_for_test();
  TNODE* a = new TNODE;
  TNODE* b = new TNODE;
  EE_LIST* l = new EE_LIST;
  int na = a->debug_number();
  EXPECT_EQ(b->debug_number(), na + 1);
  EXPECT_EQ(a->lookup(0), na);
  l->debug_number();  // another class's list does not move this one
  TNODE* c = new TNODE;
  EXPECT_EQ(c->debug_number(), na + 2);
  c->lose();
  a->lose();
  b->lose();
  l->lose();
}

}  // namespace
