// One reset for the whole plant: the framework's reset clears the kernel's
// injected failures and counters as well.
#include <gtest/gtest.h>

#include "qelx/qelx_test.hxx"
#include "support/model_builders.hxx"
#include "velm/errors.hxx"
#include "velm/testkit.hxx"
#include "velm/topology_api.hxx"

TEST(FrameworkReset, ClearsKernelFailuresAndCounters) {
  ASSERT_TRUE(testkit::framework_reset_includes_kernel());
  BODY* box = testkit::make_box();
  velm_test_record_calls(true);
  ENTITY_LIST faces;
  velm_test_fail_next("api_get_faces", qelvelm_api_errmod.message_code(0));
  EXPECT_FALSE(api_get_faces(box, faces).ok());
  velm_test_fail_next("api_get_faces", qelvelm_api_errmod.message_code(0));
  EXPECT_GT(velm_test_call_count("api_get_faces"), 0);

  qelx_test::resetFramework();
  EXPECT_EQ(velm_test_call_count("api_get_faces"), 0);
  EXPECT_FALSE(velm_test_recording_calls());
  EXPECT_TRUE(api_get_faces(box, faces).ok());
  EXPECT_EQ(faces.iteration_count(), 6);
  api_del_entity(box);
}
