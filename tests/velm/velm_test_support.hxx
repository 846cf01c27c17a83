// Helpers shared by the kernel stand-in's tests: closeness checks, save files
// in memory and a fixture that watches for leaks and open frames.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "velm/api.hxx"
#include "velm/attrib.hxx"
#include "velm/bspline.hxx"
#include "velm/bb.hxx"
#include "velm/geometry.hxx"
#include "velm/query.hxx"
#include "velm/save.hxx"
#include "velm/testkit.hxx"

namespace velm_test {

inline void expect_close(const QELposition& a, const QELposition& b, double tol = 1e-12) { EXPECT_LE(distance(a, b), tol); }
inline void expect_close(const QELvector& a, const QELvector& b, double tol = 1e-12) { EXPECT_LE((a - b).len(), tol); }

inline int loop_type(const LOOP* l) {
  int type = -1;
  EXPECT_TRUE(api_loop_type(l, type).ok());
  return type;
}

// The generic attribute of that name on the entity, or null.
inline ATTRIB_GEN_NAME* named(const ENTITY* e, const char* name) {
  ATTRIB_GEN_NAME* a = nullptr;
  EXPECT_TRUE(api_find_named_attribute(e, name, a).ok());
  return a;
}

// A spline over the B-spline surface, which it deletes.
inline spline spline_from(bs3_surface bs) {
  spline s(bs);
  bs3_surface_delete(bs);
  return s;
}

// A temporary file for the FILE* interface.
struct memfile {
  FILE* fp = std::tmpfile();
  memfile() = default;
  memfile(memfile&& o) noexcept : fp(o.fp) { o.fp = nullptr; }
  ~memfile() {
    if (fp) std::fclose(fp);
  }
  std::string text() {
    std::fflush(fp);
    std::rewind(fp);
    std::string s;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, fp)) > 0;) s.append(buf, n);
    return s;
  }
  static memfile of(const std::string& s) {
    memfile m;
    std::fwrite(s.data(), 1, s.size(), m.fp);
    std::rewind(m.fp);
    return m;
  }
};

inline std::string saved_file(const ENTITY_LIST& top) {
  memfile f;
  EXPECT_TRUE(api_save_entity_list(f.fp, 1, top).ok());
  return f.text();
}

// A save of the list without its header (which carries the date).
inline std::string saved_records(const ENTITY_LIST& top) {
  std::string text = saved_file(top);
  return text.substr(text.find('\n', text.find('\n') + 1) + 1);
}

inline outcome restore_text(const std::string& text, ENTITY_LIST& out) {
  memfile f = memfile::of(text);
  return api_restore_entity_list(f.fp, 1, out);
}

// Saves `out` and restores it into `in`.
inline outcome round_trip(const ENTITY_LIST& out, ENTITY_LIST& in) { return restore_text(saved_file(out), in); }

// A test that must leave no frame open and no kernel object behind.
class KernelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    velm_test_reset();
    ASSERT_EQ(bb_depth(), 0);
    objects_ = velm_live_object_count();
  }
  void TearDown() override {
    EXPECT_EQ(bb_depth(), 0);
    set_global_error_info(nullptr);
    EXPECT_EQ(velm_live_object_count(), objects_) << "kernel objects leaked";
  }
  long objects_ = 0;
};

}  // namespace velm_test
