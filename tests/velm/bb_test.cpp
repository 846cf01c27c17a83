#include <gtest/gtest.h>

#include "entity_test_node.hxx"
#include "support/model_builders.hxx"
#include "velm/groups.hxx"
#include "velm/api.hxx"
#include "velm/bb.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/testkit.hxx"
#include "velm_test_support.hxx"

namespace {

const outcome failure(4711);

using BulletinBoard = velm_test::KernelTest;

TEST_F(BulletinBoard, FailedOuterFrameRestoresChangedFieldsAndUseCounts) {
  TNODE* a = new TNODE(1.5, 1);
  TNODE* b = new TNODE(2.5, 2);
  a->set_link(b);
  api_bb_begin(true);
  a->set_value(10.0);
  a->set_value(20.0);  // second change: the first before-image stays
  a->set_name("changed");
  a->set_link(nullptr);  // b's use count drops to zero: b is lost
  EXPECT_FALSE(velm_is_live_entity(b));
  api_bb_end(failure, true, false);
  EXPECT_EQ(a->value(), 1.5);
  EXPECT_STREQ(a->name(), "");
  EXPECT_EQ(a->link(), b);
  EXPECT_TRUE(velm_is_live_entity(b));
  EXPECT_EQ(b->use_count(), 1);
  EXPECT_FALSE(b->is_lost());
  a->lose();  // releases b as well
  EXPECT_FALSE(velm_is_live_entity(b));
}

// Looking back shows the frame's entities as they were, then as they are,
// and the frame still commits or fails as it would have; a change while
// looking back is refused.
TEST_F(BulletinBoard, LookingBackShowsTheStateTheFrameOpenedOn) {
  for (const bool fail : {false, true}) {
    SCOPED_TRACE(fail ? "frame fails after" : "frame commits after");
    TNODE* a = new TNODE(1.5, 1);
    TNODE* b = new TNODE(2.5, 2);
    a->set_link(b);
    api_bb_begin(true);
    a->set_value(10.0);
    a->set_link(nullptr);  // b is lost
    TNODE* made = new TNODE(7.0, 3);
    bool looked = false;
    bb_frame_look_back([&] {
      looked = true;
      EXPECT_EQ(a->value(), 1.5);
      EXPECT_EQ(a->link(), b);
      EXPECT_FALSE(b->is_lost());
      EXPECT_EQ(made->value(), 7.0);  // made in the frame: there, but unreached
      EXPECT_THROW(a->set_value(3.0), velm_exception);
    });
    EXPECT_TRUE(looked);
    EXPECT_EQ(a->value(), 10.0);
    EXPECT_EQ(a->link(), nullptr);
    EXPECT_TRUE(b->is_lost());
    api_bb_end(fail ? failure : outcome(0), true, false);
    EXPECT_EQ(a->value(), fail ? 1.5 : 10.0);
    EXPECT_EQ(velm_is_live_entity(made), !fail);
    if (!fail) made->lose();
    a->lose();
  }
}

// A use given back by an entity that holds none changes nothing.
TEST_F(BulletinBoard, FailedFrameRestoresACurveEquationAndUsesStopAtZero) {
  CURVE* c = make_curve(straight(QELposition(1, 2, 3), QELunit_vector(1, 0, 0)));
  c->remove();
  EXPECT_TRUE(velm_is_live_entity(c));
  EXPECT_EQ(c->use_count(), 0);
  c->add();
  const QELposition atTwo = c->curve_point(2.0);
  api_bb_begin(true);
  c->equation_for_update().negate();
  ENTITY_LIST done;
  c->apply_transform(translate_transf(QELvector(0, 0, 5)), done);
  EXPECT_FALSE(same_point(c->curve_point(2.0), atTwo));
  api_bb_end(failure, true, false);
  EXPECT_TRUE(same_point(c->curve_point(2.0), atTwo));
  c->remove();
  EXPECT_FALSE(velm_is_live_entity(c));
}

TEST_F(BulletinBoard, FailedFrameDestroysWhatItCreated) {
  TNODE* keep = new TNODE(1.0);
  long entities = velm_live_entity_count();
  api_bb_begin(true);
  TNODE* made = new TNODE(2.0);
  made->set_value(3.0);  // created here: no before-image needed
  keep->set_link(made);
  EXPECT_TRUE(velm_is_live_entity(made));
  api_bb_end(failure, true, false);
  EXPECT_FALSE(velm_is_live_entity(made));
  EXPECT_EQ(keep->link(), nullptr);
  EXPECT_EQ(velm_live_entity_count(), entities);
  keep->lose();
}

TEST_F(BulletinBoard, LostEntitiesAreFreedOnlyWhenTheOutermostFrameCommits) {
  TNODE* a = new TNODE(1.0);
  long objects = velm_live_object_count();
  api_bb_begin(true);
  api_bb_begin(false);
  a->lose();
  EXPECT_FALSE(velm_is_live_entity(a));
  api_bb_end(outcome(), true, false);
  EXPECT_EQ(velm_live_object_count(), objects) << "freed at the inner commit";
  api_bb_end(outcome(), true, false);
  EXPECT_LT(velm_live_object_count(), objects);
}

TEST_F(BulletinBoard, NestedCommitIsUndoneByTheOuterFailure) {
  TNODE* a = new TNODE(1.0);
  api_bb_begin(true);
  a->set_value(2.0);
  api_bb_begin(false);
  a->set_value(3.0);
  TNODE* inner = new TNODE(9.0);
  a->set_link(inner);
  api_bb_end(outcome(), true, false);
  EXPECT_EQ(a->value(), 3.0);
  api_bb_end(failure, true, false);
  EXPECT_EQ(a->value(), 1.0);  // the outer frame kept its older before-image
  EXPECT_EQ(a->link(), nullptr);
  EXPECT_FALSE(velm_is_live_entity(inner));
  a->lose();
}

TEST_F(BulletinBoard, InnerFailureRollsBackOnlyTheInnerFrame) {
  TNODE* a = new TNODE(1.0);
  TNODE* b = new TNODE(5.0);
  api_bb_begin(true);
  a->set_value(2.0);
  api_bb_begin(false);
  a->set_value(3.0);
  b->lose();
  api_bb_end(failure, true, false);
  EXPECT_EQ(a->value(), 2.0);
  EXPECT_TRUE(velm_is_live_entity(b));
  api_bb_end(outcome(), true, false);
  EXPECT_EQ(a->value(), 2.0);
  a->lose();
  b->lose();
}

TEST_F(BulletinBoard, DiscardDropsRecordsButHandsLostEntitiesUp) {
  TNODE* a = new TNODE(1.0);
  TNODE* b = new TNODE(2.0);
  api_bb_begin(true);
  api_bb_begin(false);
  a->set_value(7.0);
  TNODE* made = new TNODE(3.0);
  b->lose();
  api_bb_end(outcome(), true, true);
  EXPECT_FALSE(velm_is_live_entity(b));
  api_bb_end(failure, true, false);
  // Logging was off in the inner frame: its change and creation stay, but the
  // loss was kept by the outer frame and is undone with it.
  EXPECT_EQ(a->value(), 7.0);
  EXPECT_TRUE(velm_is_live_entity(made));
  EXPECT_TRUE(velm_is_live_entity(b));
  a->lose();
  b->lose();
  made->lose();
}

TEST_F(BulletinBoard, OutsideAFrameOrWithoutRollbackChangesStay) {
  TNODE* a = new TNODE(1.0);
  long objects = velm_live_object_count();
  a->set_value(2.0);
  EXPECT_EQ(velm_live_object_count(), objects);  // no before-image
  api_bb_begin(true);
  a->set_value(3.0);
  api_bb_end(failure, false, false);
  EXPECT_EQ(a->value(), 3.0);
  a->lose();
  EXPECT_EQ(velm_live_object_count(), objects - 1);
}

TEST_F(BulletinBoard, EntityCreatedAndLostInAFailedFrameIsDestroyedOnce) {
  api_bb_begin(true);
  TNODE* made = new TNODE(1.0);
  made->lose();
  api_bb_end(failure, true, false);
  EXPECT_FALSE(velm_is_live_entity(made));
}

TEST_F(BulletinBoard, ApiFrameRollsBackItsOwnFailure) {
  TNODE* a = new TNODE(1.0);
  outcome o = velm_api("api_test_change", [&] {
    a->set_value(5.0);
    new TNODE(6.0);
    sys_error(123);
  });
  EXPECT_EQ(o.error_number(), 123);
  EXPECT_EQ(a->value(), 1.0);
  EXPECT_EQ(get_global_error_info(), o.get_error_info());
  outcome ok = velm_api("api_test_change", [&] { a->set_value(5.0); });
  EXPECT_TRUE(ok.ok());
  EXPECT_EQ(a->value(), 5.0);
  a->lose();
}

TEST_F(BulletinBoard, CallLogRecordsTheBracketProtocol) {
  int saved = logging_opt_on();
  velm_test_record_calls(true);
  api_bb_begin(true);
  update_from_bb();
  api_bb_end(outcome(), true, saved == 0);
  set_logging(0);
  EXPECT_EQ(logging_opt_on(), 0);
  api_bb_begin(false);
  api_bb_end(failure, true, true);
  set_logging(saved);
  std::vector<std::string> expected = {"api_bb_begin(1)",          "update_from_bb",
                                       "api_bb_end(ok,rollback,keep)", "set_logging(0)",
                                       "api_bb_begin(0)",          "api_bb_end(failed,rollback,discard)",
                                       "set_logging(1)"};
  EXPECT_EQ(velm_test_call_log(), expected);
  EXPECT_EQ(velm_test_call_count("update_from_bb"), 1);
}

// Off (the state a reset leaves), the kit keeps no record of any call.
TEST_F(BulletinBoard, CallRecordIsKeptOnlyWhileSwitchedOn) {
  velm_test_reset();
  EXPECT_FALSE(velm_test_recording_calls());
  api_bb_begin(true);
  update_from_bb();
  api_bb_end(outcome(), true, false);
  EXPECT_TRUE(velm_test_call_log().empty());
  EXPECT_EQ(velm_test_call_count("update_from_bb"), 0);
  velm_test_record_calls(true);
  update_from_bb();
  velm_test_record_calls(false);
  update_from_bb();
  EXPECT_EQ(velm_test_call_log(), std::vector<std::string>{"update_from_bb"});
  EXPECT_EQ(velm_test_call_count("update_from_bb"), 1);
  velm_test_reset();
}

}  // namespace

// Copy and deletion of a body in a failed frame: the saved model is what it
// was, to the text. The body carries attributes on a face, an edge and a vertex,
// shares a surface with another body and has faces in a group that stays and in
// one that goes with its last member.
TEST_F(BulletinBoard, FailedFrameAroundCopyOrDeleteLeavesTheSavedModelUnchanged) {
  using testkit::make_box;
  using testkit::model_problems;
  for (bool deleting : {false, true}) {
    SCOPED_TRACE(deleting ? "delete" : "copy");
    BODY* box = make_box();
    BODY* other = make_box(1.0, 2.0, 3.0);
    FACE* f = box->lump()->shell()->face();
    COEDGE* c = f->loop()->start();
    other->lump()->shell()->face()->set_geometry(f->geometry());
    for (ENTITY* e : {static_cast<ENTITY*>(f), static_cast<ENTITY*>(c->edge()), static_cast<ENTITY*>(c->start())})
      ASSERT_TRUE(api_add_generic_named_attribute(e, "tag", e->type_name()).ok());
    auto* layer = new QELGROUP;
    auto* selection = new QELGROUP;
    selection->set_collection_empty_behavior(1);
    ASSERT_TRUE(api_ct_add_to_group(f, layer).ok());
    ASSERT_TRUE(api_ct_add_to_group(other->lump()->shell()->face(), layer).ok());
    ASSERT_TRUE(api_ct_add_to_group(f->next(), selection).ok());
    ENTITY_LIST top;
    for (ENTITY* e : {static_cast<ENTITY*>(box), static_cast<ENTITY*>(other), static_cast<ENTITY*>(layer),
                      static_cast<ENTITY*>(selection)})
      top.add(e);
    const std::string before = velm_test::saved_records(top);
    const long live = velm_live_entity_count();
    const std::string problems = model_problems(box);  // the shared surface's count

    api_bb_begin(true);
    BODY* copy = nullptr;
    ASSERT_TRUE((deleting ? api_del_entity(box) : api_copy_body(box, copy)).ok());
    EXPECT_NE(velm_live_entity_count(), live);
    api_bb_end(failure, true, false);

    EXPECT_EQ(velm_live_entity_count(), live);
    EXPECT_EQ(velm_test::saved_records(top), before);
    EXPECT_EQ(model_problems(box), problems);
    ASSERT_TRUE(api_del_entity(box).ok());
    EXPECT_FALSE(velm_is_live_entity(selection));
    for (ENTITY* e : {static_cast<ENTITY*>(other), static_cast<ENTITY*>(layer)}) EXPECT_TRUE(api_del_entity(e).ok());
  }
}
