// Save files whose structure is damaged: refused with the record and what was
// wrong, nothing left alive, and never a walk that loops.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "support/geometry_builders.hxx"
#include "support/model_builders.hxx"
#include "support/save_file_words.hxx"
#include "velm/groups.hxx"
#include "velm_test_support.hxx"

using namespace velm_test;
using testkit::SaveFileWords;

namespace {

const int damaged_code = qelvelm_api_errmod.message_code(VELM_SAVE_FILE_DAMAGED);

// Every kind of entity a body has, attribute chains, a group membership and
// intcurves: a box of planes whose top face is named, coloured and in a
// group, a three-edge wire and a spline sheet.
std::string model_file() {
  BODY* box = testkit::make_plane_box();
  FACE* top = box->lump()->shell()->face()->next();
  EXPECT_TRUE(api_add_generic_named_attribute(top, "ATTRIB_XVELM_NAME", "top").ok());
  new ATTRIB_RGB(top, 1.0, 0.0, 0.0);
  auto* group = new QELGROUP;
  EXPECT_TRUE(api_ct_add_to_group(top, group).ok());
  ENTITY_LIST list;
  for (ENTITY* e : {static_cast<ENTITY*>(box), static_cast<ENTITY*>(testkit::make_wire_body(3, false)),
                    static_cast<ENTITY*>(testkit::make_spline_sheet()), static_cast<ENTITY*>(group)})
    list.add(e);
  std::string text = saved_file(list);
  api_bb_begin(true);
  for (int i = 0; i < list.count(); ++i)
    if (velm_is_live_entity(list[i])) {
      EXPECT_TRUE(api_del_entity(list[i]).ok());
    }
  api_bb_end(outcome(), true, false);
  return text;
}

// Positions among a record's links, in the order its class saves them.
enum { coedge_next = 1, coedge_partner = 3, coedge_owner = 5, attrib_next = 2, face_next = 1, loop_start = 2 };

std::string& link(SaveFileWords& f, int record, int nth) { return f.records[record][f.links(record)[nth]]; }
int follow(SaveFileWords& f, int record, int nth) { return SaveFileWords::target(link(f, record, nth)); }
void relink(SaveFileWords& f, int record, int nth, int to) { link(f, record, nth) = SaveFileWords::link_to(to); }
// The last of the records a chain of links reaches from `first`.
int last_of(SaveFileWords& f, int first, int nth) {
  while (follow(f, first, nth) >= 0) first = follow(f, first, nth);
  return first;
}
// The start coedge of the first loop (the first coedge records are the wire's).
int loop_coedge(SaveFileWords& f) { return follow(f, f.find("loop"), loop_start); }

class RestoreDamage : public KernelTest {
 protected:
  // Restores inside a frame that is then rolled back, so that whatever a
  // damaged file manages to build goes again. Returns the error number (0: restored).
  int restore_and_discard(const std::string& text, std::string* report = nullptr) {
    api_bb_begin(true);
    const long entities = velm_live_entity_count(), objects = velm_live_object_count();
    ENTITY_LIST restored;
    int error = 0;
    {
      outcome r = restore_text(text, restored);
      error = r.ok() ? 0 : r.error_number();
    }
    if (error) {
      set_global_error_info(nullptr);  // the failure's error record is the caller's to drop
      EXPECT_EQ(velm_live_entity_count(), entities) << "left alive by a refused restore";
      EXPECT_EQ(velm_live_object_count(), objects) << "left alive by a refused restore";
      EXPECT_EQ(restored.iteration_count(), 0);
    }
    for (int i = 0; report && i < restored.count(); ++i)
      if (is_BODY(restored[i])) velm_test_check_model(restored[i], report);
    api_bb_end(outcome(VELM_SAVE_FILE_DAMAGED), true, false);
    return error;
  }
};

TEST_F(RestoreDamage, EachClassOfDamageIsRefusedWithItsRecordAndLeavesNothing) {
  const std::string text = model_file();
  ASSERT_EQ(restore_and_discard(text), 0);
  const struct {
    const char* name;
    void (*damage)(SaveFileWords&);
    const char* reported;
  } cases[] = {
      {"attribute chain back to itself",
       [](SaveFileWords& f) {
         const int last = last_of(f, f.find("string"), attrib_next);
         relink(f, last, attrib_next, last);
       },
       "attribute chain loops back on itself"},
      {"attribute chain ring",
       [](SaveFileWords& f) { relink(f, last_of(f, f.find("string"), attrib_next), attrib_next, f.find("string")); },
       "attribute chain loops back on itself"},
      {"coedge ring back into its middle",
       [](SaveFileWords& f) {
         const int second = follow(f, loop_coedge(f), coedge_next);
         relink(f, follow(f, follow(f, second, coedge_next), coedge_next), coedge_next, second);
       },
       "next coedge's previous is not this coedge"},
      {"face list in a circle",
       [](SaveFileWords& f) { relink(f, last_of(f, f.find("face"), face_next), face_next, f.find("face")); },
       "face list loops back on itself"},
      {"partner ring broken",  // from the later of the two, so that the earlier still links to it
       [](SaveFileWords& f) {
         link(f, std::max(loop_coedge(f), follow(f, loop_coedge(f), coedge_partner)), coedge_partner) = "$-1";
       },
       "partner ring"},
      {"coedge owned by another loop",
       [](SaveFileWords& f) {
         relink(f, loop_coedge(f), coedge_owner, f.find("loop", follow(f, loop_coedge(f), coedge_owner)));
       },
       "coedge ring of a loop that is not its owner"},
      {"file saved twice", [](SaveFileWords& f) { f.trailer = f.text(); }, "after the last record"},
      {"trailing garbage", [](SaveFileWords& f) { f.trailer = "garbage\n"; }, "after the last record"},
      {"top-level count larger than saved", [](SaveFileWords& f) { f.header[3] = std::to_string(f.top_level() + 1); },
       "counted top-level but belongs to an earlier top-level record"},
      {"intcurve record with a bad final flag",
       [](SaveFileWords& f) { f.records[f.find("intcurve")].end()[-5] = "7"; }, "flag (0 or 1) 7 outside 0 .. 1"},
  };
  for (const auto& c : cases) {
    SaveFileWords f = SaveFileWords::parse(text);
    c.damage(f);
    ASSERT_NE(f.text(), text) << c.name;
    EXPECT_EQ(restore_and_discard(f.text()), damaged_code) << c.name;
    EXPECT_NE(std::string(velm_last_restore_damage()).find(c.reported), std::string::npos)
        << c.name << ": " << velm_last_restore_damage();
  }
}

TEST_F(RestoreDamage, GroupsHoldingEachOtherAreRefused) {
  auto* outer = new QELGROUP;
  auto* inner = new QELGROUP;
  ASSERT_TRUE(api_ct_add_to_group(inner, outer).ok());
  ASSERT_TRUE(api_ct_add_to_group(outer, inner).ok());
  ENTITY_LIST list;
  list.add(outer);
  const std::string text = saved_file(list);
  api_bb_begin(true);
  outer->lose();
  inner->lose();
  api_bb_end(outcome(), true, false);
  EXPECT_EQ(restore_and_discard(text), damaged_code);
  EXPECT_NE(std::string(velm_last_restore_damage()).find("holds itself through its members"), std::string::npos)
      << velm_last_restore_damage();
}

TEST_F(RestoreDamage, AllocationFailingAnywhereInARestoreLeavesNothing) {
  const std::string text = model_file();
  int refused = 0;
  for (long nth = 1; nth < 5000; ++nth) {
    velm_test_fail_alloc(nullptr, nth);
    const bool ok = restore_and_discard(text) == 0;
    velm_test_reset();
    if (ok) break;
    ++refused;
  }
  EXPECT_GT(refused, 100);
}

// Links redirected to the record itself, to its neighbours or anywhere,
// rings broken, records dropped or copied, extreme numbers, header counts:
// a restore either refuses or builds a model whose rings and links the
// kernel's own check finds sound.
TEST_F(RestoreDamage, StructureAwareMutationsAreRefusedOrSound) {
  const std::string text = model_file();
  const SaveFileWords original = SaveFileWords::parse(text);
  const int records = static_cast<int>(original.records.size());
  std::mt19937 random(20261207u);
  const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  const char* const extremes[] = {"2147483647", "-2147483648", "9223372036854775807", "-1", "0",
                                  "1e308",      "-1e308",      "4.9e-324",            "3"};
  int accepted = 0;
  for (int round = 0; round < 1500; ++round) {
    SaveFileWords f = original;
    for (int edits = 1 + pick(2); edits > 0; --edits) {
      const int r = pick(static_cast<int>(f.records.size()));
      const std::vector<std::size_t> links = f.links(r);
      std::string* word = links.empty() ? nullptr : &f.records[r][links[pick(static_cast<int>(links.size()))]];
      const int n = static_cast<int>(f.records.size());
      switch (pick(8)) {
        case 0: if (word) *word = SaveFileWords::link_to(r); break;
        case 1: if (word) *word = SaveFileWords::link_to(std::clamp(SaveFileWords::target(*word) + (pick(2) ? 1 : -1), 0, n - 1)); break;
        case 2: if (word) *word = "$-1"; break;
        case 3: if (word) *word = SaveFileWords::link_to(pick(n)); break;
        case 4: if (n > 1) f.erase_record(r); break;
        case 5: if (int copy = f.duplicate_record(r); word) *word = SaveFileWords::link_to(copy); break;
        case 6: {
          std::string& w = f.records[r][1 + pick(static_cast<int>(f.records[r].size()) - 1)];
          if (w[0] != '$' && w[0] != '@' && w != "#") w = extremes[pick(std::size(extremes))];
          break;
        }
        default: f.header[2 + pick(2)] = std::to_string(pick(2) ? records + pick(3) - 1 : f.top_level() + 1); break;
      }
    }
    std::string report;
    if (restore_and_discard(f.text(), &report) == 0) {
      ++accepted;
      for (const char* broken : {"ring", "link broken", "previous", "not a live", "no edge", "no start coedge"})
        ASSERT_EQ(report.find(broken), std::string::npos) << report << f.text();
    }
  }
  EXPECT_GT(accepted, 0);
  EXPECT_LT(accepted, 1500);
}

}  // namespace
