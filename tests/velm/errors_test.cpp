#include <gtest/gtest.h>

#include <set>

#include "entity_test_node.hxx"
#include "velm/api.hxx"
#include "velm/testkit.hxx"

namespace {

TEST(ErrorRecords, OutcomeCopiesShareOneCountedRecord) {
  long before = velm_live_object_count();
  error_info* info = new error_info(1234, "text");
  {
    outcome a(1234, info);
    EXPECT_EQ(info->references(), 1);
    outcome b = a;
    outcome c;
    c = b;
    EXPECT_EQ(info->references(), 3);
    EXPECT_EQ(c.get_error_info(), info);
    EXPECT_EQ(c.error_number(), 1234);
    EXPECT_FALSE(c.ok());
    c = outcome();
    EXPECT_TRUE(c.ok());
    EXPECT_EQ(info->references(), 2);
    velm_exception e(1234, info);
    velm_exception f = e;
    EXPECT_EQ(info->references(), 4);
    EXPECT_STREQ(f.get_error_info()->text(), "text");
  }
  // The last holder deleted the record.
  EXPECT_EQ(velm_live_object_count(), before);
}

TEST(ErrorRecords, ExceptionSaveRestoresMarkAndGlobalRecord) {
  set_global_error_info(nullptr);
  get_error_mark() = 0;
  {
    exception_save save;
    save.begin();
    get_error_mark() = 1;
    error_info* inner = new error_info(7);
    set_global_error_info(inner);
    EXPECT_EQ(get_global_error_info(), inner);
  }
  EXPECT_EQ(get_error_mark(), 0);
  EXPECT_EQ(get_global_error_info(), nullptr);
}

TEST(MessageModules, BasesAreDistinctThousandsAndCodesLookUp) {
  std::set<int> bases;
  for (const message_module* m : {&qelvelm_api_errmod, &qelbase_mmgr_errmod, &qelvelm_insanity_errmod,
                                  &qelvelm_splsur_errmod}) {
    EXPECT_EQ(m->base() % 1000, 0);
    EXPECT_GE(m->base(), 1000);
    bases.insert(m->base());
  }
  EXPECT_EQ(bases.size(), 4u);
  int oom = qelbase_mmgr_errmod.message_code(8);
  EXPECT_STREQ(message_module::find_message(oom), "out of memory");
  EXPECT_STREQ(message_module::find_message(qelvelm_insanity_errmod.message_code(138)),
               "coedge start not at start vertex");
  EXPECT_STREQ(message_module::find_message(qelvelm_splsur_errmod.message_code(10)),
               "offset surface degenerate");
  EXPECT_STREQ(message_module::find_message_name(qelvelm_api_errmod.message_code(0)), "API_FAILED");
  EXPECT_EQ(qelbase_mmgr_errmod.message_code(9), -1);
  EXPECT_EQ(qelbase_mmgr_errmod.message_code(-1), -1);
  EXPECT_EQ(message_module::find_message(0), nullptr);
  EXPECT_LT(qelvelm_insanity_errmod.message_code(140), 0x3000006);

  static const message_list extra[] = {{"ONE", "one"}, {"TWO", "two"}, {nullptr, nullptr}};
  int base = 0;
  {
    message_module mine("test module", extra);
    base = mine.base();
    EXPECT_EQ(bases.count(base), 0u);
    EXPECT_EQ(mine.count(), 2);
    EXPECT_STREQ(message_module::find_message(mine.message_code(1)), "two");
  }
  EXPECT_EQ(message_module::find_message(base + 1), nullptr);
  message_module again("test module again", extra);
  EXPECT_EQ(again.base(), base);  // the freed slot is the next free one
}

TEST(Interrupts, SysErrorRaisesAPendingInterruptOnce) {
  velm_test_reset();
  velm_test_request_interrupt();
  EXPECT_TRUE(velm_interrupted());
  try {
    sys_error(0);
    FAIL();
  } catch (const velm_exception& e) {
    EXPECT_EQ(e.error_number(), qelvelm_api_errmod.message_code(VELM_INTERRUPTED));
  }
  EXPECT_FALSE(velm_interrupted());
  try {
    sys_error(4711);
    FAIL();
  } catch (const velm_exception& e) {
    EXPECT_EQ(e.error_number(), 4711);  // without an interrupt the number stands
  }
}

TEST(FailureInjection, NthApiCallReturnsTheErrorAndSetsTheGlobalRecord) {
  reset_kernel_for_test();
  velm_test_record_calls(true);
  set_global_error_info(nullptr);
  TNODE* n = new TNODE;
  int id = 0;
  velm_test_fail_call("api_get_entity_id", 2, 4242);
  EXPECT_TRUE(api_get_entity_id(n, id).ok());
  outcome failed = api_get_entity_id(n, id);
  EXPECT_EQ(failed.error_number(), 4242);
  ASSERT_NE(failed.get_error_info(), nullptr);
  EXPECT_EQ(get_global_error_info(), failed.get_error_info());
  EXPECT_TRUE(api_get_entity_id(n, id).ok());  // one failure only
  EXPECT_EQ(velm_test_call_count("api_get_entity_id"), 3);
  const auto& log = velm_test_call_log();
  EXPECT_EQ(std::count(log.begin(), log.end(), "api_get_entity_id"), 3);
  set_global_error_info(nullptr);
  n->lose();
}

TEST(FailureInjection, InnerRoutineThrowsOnItsNthCall) {
  reset_kernel_for_test();
  velm_test_record_calls(true);
  velm_test_fail_next("sg_inner_routine", 77);
  EXPECT_THROW(velm_check_call("sg_inner_routine"), velm_exception);
  EXPECT_NO_THROW(velm_check_call("sg_inner_routine"));
  EXPECT_EQ(velm_test_call_count("sg_inner_routine"), 2);
  // Inside an API frame the thrown error becomes the outcome.
  velm_test_fail_next("sg_inner_routine", 78);
  outcome o = velm_api("api_test_wrapper", [] { velm_check_call("sg_inner_routine"); });
  EXPECT_EQ(o.error_number(), 78);
  set_global_error_info(nullptr);
  velm_test_reset();
  EXPECT_EQ(velm_test_call_count("sg_inner_routine"), 0);
}

}  // namespace
