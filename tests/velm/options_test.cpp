#include <gtest/gtest.h>

#include "velm/bb.hxx"
#include "velm/options.hxx"
#include "velm/testkit.hxx"

namespace {

TEST(KernelOptions, DefaultsKindsAndReset) {
  velm_test_reset();
  ASSERT_NE(find_option("new_pcurve"), nullptr);
  EXPECT_TRUE(find_option("new_pcurve")->on());
  EXPECT_FALSE(find_option("new_pcurve_fit")->on());
  EXPECT_EQ(find_option("check_level")->count(), 20);
  EXPECT_FALSE(find_option("merge_spline_vertex")->on());
  EXPECT_TRUE(find_option("trim_faces")->on());
  EXPECT_EQ(logging_opt_on(), 1);

  option_header* pcurve = find_option("new_pcurve");
  pcurve->set(5);
  EXPECT_EQ(pcurve->count(), 1);  // a logical stores 0/1
  find_option("check_level")->set(30.7);
  EXPECT_EQ(find_option("check_level")->count(), 30);
  set_logging(0);
  EXPECT_EQ(logging_opt_on(), 0);

  velm_test_unregister_option("check_level");
  EXPECT_EQ(find_option("check_level"), nullptr);
  option_header* text = register_option("test_text", option_string, 0.0, "abc");
  EXPECT_EQ(text->count(), 0);  // not of integer kind
  text->set("xyz");
  velm_test_reset();
  EXPECT_EQ(find_option("check_level")->count(), 20);
  EXPECT_EQ(find_option("new_pcurve")->count(), 1);
  EXPECT_EQ(logging_opt_on(), 1);
  EXPECT_STREQ(find_option("test_text")->string(), "abc");
  unregister_option("test_text");
}

}  // namespace
