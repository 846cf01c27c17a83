// Save files whose structure is damaged: refused with the record and what was
// wrong, nothing left alive, and never a walk that loops.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>

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
  // Restores at the outermost frame, where the restore keeps the list of
  // what it makes itself, not the bulletin board: refused, it leaves nothing
  // alive; restored, that list holds every entity it made (deleting them
  // through it leaves nothing). Returns the error number (0: restored).
  int restore_outermost(const std::string& text) {
    memfile f = memfile::of(text);
    const long entities = velm_live_entity_count(), objects = velm_live_object_count();
    ENTITY_LIST restored;
    std::vector<ENTITY*> every;
    int error = 0;
    {
      outcome r = api_restore_entity_list(f.fp, 1, restored, &every);
      error = r.ok() ? 0 : r.error_number();
    }
    EXPECT_EQ(bb_depth(), 0);
    if (error) {
      set_global_error_info(nullptr);
      EXPECT_TRUE(every.empty());
    } else {
      EXPECT_GT(velm_live_entity_count(), entities);
      velm_lose_scope once;
      for (ENTITY* e : every)
        if (velm_is_live_entity(e)) e->lose();
    }
    EXPECT_EQ(velm_live_entity_count(), entities) << (error ? "left alive by a refused restore" : "not listed");
    EXPECT_EQ(velm_live_object_count(), objects) << (error ? "left alive by a refused restore" : "not listed");
    return error;
  }

  // Restores inside a frame that is then rolled back, so that whatever a
  // damaged file manages to build goes again, and at the outermost frame
  // too (the same answer). Returns the error number (0: restored).
  int restore_and_discard(const std::string& text, std::string* report = nullptr, bool outermost_too = true) {
    const int outermost = outermost_too ? restore_outermost(text) : -1;
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
    if (outermost_too) {
      EXPECT_EQ(outermost, error) << "answered otherwise at the outermost frame";
    }
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
      {"coedge sense 64", [](SaveFileWords& f) { f.records[loop_coedge(f)].end()[-2] = "64"; },
       "(coedge), field 12: a sense that is neither forward (0) nor reversed (1)"},
      {"body id 2147483647", [](SaveFileWords& f) { f.records[f.find("body")][4] = "2147483647"; },
       "(body), field 5: an entity id outside 0 .. "},
      {"attribute flag 255", [](SaveFileWords& f) { f.records[f.find("string")].end()[-5] = "255"; },
       "(string), field 17: its merge action 255 is outside 0 .. 3"},
      {"edge ending at another body's vertex",
       [](SaveFileWords& f) {
         // The last edge whose start an earlier record links too (so no record
         // is left unlinked), turned to the box's first vertex.
         enum { edge_start = 1 };
         int last = -1;
         for (int r = f.find("edge"); r >= 0; r = f.find("edge", r))
           if (follow(f, r, edge_start) < r) last = r;
         relink(f, last, edge_start, f.find("vertex"));
       },
       "belongs to two bodies"},
      {"coedge owned by a vertex",  // the loop is still linked from its face, the vertex from its edges
       [](SaveFileWords& f) { relink(f, loop_coedge(f), coedge_owner, f.find("vertex")); },
       "a link points at an entity of the wrong class"},
      // The first control point of the spline sheet's surface, and the first
      // knot along u after its 16 points: ten words after the record's
      // attribute link come its definition's flags, fit, row count and count.
      {"control point beyond any model",
       [](SaveFileWords& f) {
         const int r = f.find("spline");
         f.records[r][f.links(r)[0] + 10] = "1e101";
       },
       "(spline), field 16: a point at x = 1e+101, beyond any model"},
      {"knot beyond any model",
       [](SaveFileWords& f) {
         const int r = f.find("spline");
         f.records[r][f.links(r)[0] + 10 + 48 + 4] = "-1e11";
       },
       "(spline), field 68: a knot beyond any model"},
      {"vertex point beyond any model",
       [](SaveFileWords& f) { f.records[f.find("point")].end()[-2] = "-2e10"; },
       "(point), field 8: a point at z = -2e+10, beyond any model"},
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

// Link positions of an attribute record: its own chain, owner, next, previous.
enum { attrib_owner = 1, attrib_previous = 3, coedge_previous = 2, coedge_edge = 4, lump_next = 1, loop_face = 3,
       face_shell = 3, shell_face = 2, face_loop = 2, face_surface = 4, vertex_point = 1, vertex_first_edge = 2, edge_start = 1,
       edge_end = 2 };

// The group record made to hold one more member.
void holdMember(SaveFileWords& f, int group, int member) {
  std::vector<std::string>& words = f.records[group];
  const std::size_t last = f.links(group).back();
  std::string& count = words[f.links(group)[1] - 1];
  count = std::to_string(std::stoi(count) + 1);
  words.insert(words.begin() + static_cast<long>(last) + 1, SaveFileWords::link_to(member));
}

// The top face's chain holds its name, its colour and its group link, in that order.
struct TopChain {
  int face, name, colour, link, group;
  explicit TopChain(SaveFileWords& f)
      : face(follow(f, f.find("string"), attrib_owner)), name(f.find("string")), colour(f.find("rgb")),
        link(f.find("collection_attrib")), group(f.find("group")) {}
};

// Each structural damage is refused at the record at fault (or at the header,
// where no one record is), with what is wrong with it.
TEST_F(RestoreDamage, EachDamageIsReportedAtTheEntityAtFault) {
  BODY* ring = testkit::make_wire_body(3, true);
  ENTITY_LIST list;
  list.add(ring);
  list.add(testkit::make_plane_box());
  const std::string closed = saved_file(list);
  api_bb_begin(true);
  api_del_entity(list[0]);
  api_del_entity(list[1]);
  api_bb_end(outcome(), true, false);
  const std::string text = model_file();
  ASSERT_EQ(restore_and_discard(closed), 0);
  struct Case {
    const char* name;
    const std::string* file;
    // Damages the file; returns the expected place of the report ("record 3 (lump)", "header").
    std::string (*damage)(SaveFileWords&);
    const char* reported;
  };
  const auto at = [](SaveFileWords& f, int r) { return "record " + std::to_string(r) + " (" + f.records[r][1] + ")"; };
  static std::string (*place)(SaveFileWords&, int) = nullptr;
  place = at;
  const Case cases[] = {
      {"lump list of the first body in a circle", &text,
       [](SaveFileWords& f) {
         const int lump = follow(f, 0, 1);
         relink(f, lump, lump_next, lump);
         return place(f, 0);
       },
       "lump list loops back on itself"},
      // Copies of attributes, reached first through the group, an earlier record.
      {"attribute owning nothing and in no chain", &text,
       [](SaveFileWords& f) {
         const TopChain t(f);
         const int lost = f.duplicate_record(t.name);
         holdMember(f, t.group, lost);
         for (int k : {static_cast<int>(attrib_owner), static_cast<int>(attrib_next), static_cast<int>(attrib_previous)})
           link(f, lost, k) = "$-1";
         return place(f, lost);
       },
       "is an attribute of nothing"},
      {"two attributes owning each other", &text,
       [](SaveFileWords& f) {
         const TopChain t(f);
         const int a = f.duplicate_record(t.name), b = f.duplicate_record(t.colour);
         holdMember(f, t.group, a);
         relink(f, a, 0, b);
         relink(f, a, attrib_owner, b);
         relink(f, b, 0, a);
         relink(f, b, attrib_owner, a);
         for (int x : {a, b}) {
           link(f, x, attrib_next) = "$-1";
           link(f, x, attrib_previous) = "$-1";
         }
         return place(f, a);
       },
       "its owners lead back to itself"},
      {"chain head with a previous attribute", &text,
       [](SaveFileWords& f) {
         const TopChain t(f);
         relink(f, t.name, attrib_previous, t.link);
         return place(f, t.name);
       },
       "heads an attribute chain but has a previous attribute"},
      {"attribute whose next does not lead back", &text,
       [](SaveFileWords& f) {
         const TopChain t(f);
         relink(f, t.colour, attrib_previous, t.link);
         return place(f, t.name);
       },
       "its next attribute's previous is not this attribute"},
      // A copy of the group link, on another face the group does not hold.
      {"group link on an entity the group does not hold", &text,
       [](SaveFileWords& f) {
         const TopChain t(f);
         const int other = follow(f, t.face, face_next);
         const int copy = f.duplicate_record(t.link);
         EXPECT_EQ(follow(f, other, 0), -1);
         relink(f, other, 0, copy);
         relink(f, copy, attrib_owner, other);
         link(f, copy, attrib_next) = "$-1";
         link(f, copy, attrib_previous) = "$-1";
         return place(f, copy);
       },
       "links its owner to a group that does not hold it"},
      {"group member without its back-link", &text,
       [](SaveFileWords& f) {
         const TopChain t(f);
         link(f, t.colour, attrib_next) = "$-1";
         f.erase_record(t.link);
         return place(f, t.group);
       },
       "holds a face that has no link back to it"},
      {"loop naming no face", &text,
       [](SaveFileWords& f) {
         const int loop = f.find("loop");
         link(f, loop, loop_face) = "$-1";
         return place(f, loop);
       },
       "is in the loop list of a face it does not name"},
      // The top face is reached first through the group, so the file can leave it out of the list.
      {"face left out of its shell's list", &text,
       [](SaveFileWords& f) {
         const TopChain t(f);
         const int first = follow(f, follow(f, t.face, face_shell), shell_face);
         EXPECT_EQ(follow(f, first, face_next), t.face);
         link(f, first, face_next) = link(f, t.face, face_next);
         return place(f, t.face);
       },
       "is not in its shell's face list"},
      // Links to the dropped loop become null: the coedge it alone linked to
      // is refused by its number and class.
      {"loop record deleted", &text,
       [](SaveFileWords& f) {
         const int loop = f.find("loop");
         const int start = follow(f, loop, loop_start);
         f.erase_record(loop);
         const int at = start > loop ? start - 1 : start;
         return place(f, at) + ", field 1";
       },
       "no record before it links to it"},
      {"coedge without edge", &text,
       [](SaveFileWords& f) {
         const int c = loop_coedge(f);
         link(f, c, coedge_edge) = "$-1";
         return place(f, c);
       },
       "has no edge"},
      {"wire coedge whose previous does not lead back", &text,
       [](SaveFileWords& f) {
         const int first = f.find("coedge");
         relink(f, first, coedge_previous, last_of(f, first, coedge_next));
         return place(f, first);
       },
       "its previous coedge's next is not this coedge"},
      {"wire coedge owned by a loop", &text,
       [](SaveFileWords& f) {
         const int first = f.find("coedge");
         const int second = follow(f, first, coedge_next);
         relink(f, second, coedge_owner, f.find("loop"));
         return place(f, second);
       },
       "coedge list of a wire that is not its owner"},
      {"closed wire coedge owned by a loop", &closed,
       [](SaveFileWords& f) {
         const int first = f.find("coedge");
         relink(f, first, coedge_owner, f.find("loop"));
         return place(f, first);
       },
       "coedge list of a wire that is not its owner"},
      {"text length with no space after it", &text,
       [](SaveFileWords& f) {
         const int name = f.find("string");
         for (std::string& w : f.records[name])
           if (w.rfind("@17 ", 0) == 0) w.erase(3, 1);
         return place(f, name);
       },
       "text length"},
      // Links to a dropped geometry record become null.
      {"face whose surface record is dropped", &text,
       [](SaveFileWords& f) {
         const int face = f.find("face");
         f.erase_record(follow(f, face, face_surface));
         return place(f, face);
       },
       "has no surface"},
      {"vertex whose point record is dropped", &text,
       [](SaveFileWords& f) {
         const int vertex = f.find("vertex");
         f.erase_record(follow(f, vertex, vertex_point));
         return place(f, vertex);
       },
       "has no point"},
      // An edge whose end vertex, an earlier record, does not list it: that
      // vertex stays linked from elsewhere and names no edge without an end.
      {"edge without its end vertex", &text,
       [](SaveFileWords& f) {
         for (int e = f.find("edge"); e >= 0; e = f.find("edge", e)) {
           const int v = follow(f, e, edge_end);
           bool listed = false;
           for (std::size_t k = vertex_first_edge; k < f.links(v).size(); ++k) listed = listed || follow(f, v, static_cast<int>(k)) == e;
           if (v < e && !listed) {
             link(f, e, edge_end) = "$-1";
             return place(f, e);
           }
         }
         ADD_FAILURE() << "no edge whose end vertex comes first and does not list it";
         return std::string();
       },
       "has no start or no end vertex"},
      // Replacing or losing an edge updates only the vertices at its ends: one
      // named elsewhere would be read after it had gone.
      {"vertex naming an edge that does not end at it", &text,
       [](SaveFileWords& f) {
         const int vertex = f.find("vertex");
         for (int e = f.find("edge"); e >= 0; e = f.find("edge", e))
           if (follow(f, e, edge_start) != vertex && follow(f, e, edge_end) != vertex) {
             relink(f, vertex, vertex_first_edge, e);
             break;
           }
         return place(f, vertex);
       },
       "names an edge that does not end at it"},
      {"header counting more records than the file has", &text,
       [](SaveFileWords& f) {
         f.header[2] = std::to_string(f.records.size() + 1);
         return std::string("record ") + std::to_string(f.records.size());
       },
       "the file ends"},
  };
  for (const Case& c : cases) {
    SaveFileWords f = SaveFileWords::parse(*c.file);
    const std::string expected = c.damage(f);
    ASSERT_NE(f.text(), *c.file) << c.name;
    EXPECT_EQ(restore_and_discard(f.text()), damaged_code) << c.name;
    const std::string report = velm_last_restore_damage();
    EXPECT_EQ(report.rfind(expected + ":", 0) == 0 || report.rfind(expected + ",", 0) == 0, true)
        << c.name << ": " << report;
    EXPECT_NE(report.find(c.reported), std::string::npos) << c.name << ": " << report;
  }
}

// Records of classes this process does not know fall back to their known
// base, each skipping its own fields, however many there are.
// A face whose loop record is gone has no loop, and the loop's coedges are
// in no loop, still on edges the box's other faces use: a plane face so left
// would be unbounded (the kernel's check refuses it), and the coedges would
// reach their edges after the box's deletion freed them. Every loop record
// of a box is dropped in turn: each file is refused, naming the face or a
// coedge.
TEST_F(RestoreDamage, AFileWithALoopRecordDroppedIsRefused) {
  ENTITY_LIST list;
  list.add(testkit::make_plane_box());
  const std::string box = saved_file(list);
  api_del_entity(list[0]);
  const SaveFileWords whole = SaveFileWords::parse(box);
  int loops = 0;
  for (int r = whole.find("loop"); r >= 0; r = whole.find("loop", r)) {
    SaveFileWords f = whole;
    f.erase_record(r);
    ++loops;
    EXPECT_EQ(restore_and_discard(f.text()), damaged_code) << "loop record " << r;
    const std::string report = velm_last_restore_damage();
    EXPECT_TRUE(report.find("(face)") != std::string::npos || report.find("(coedge)") != std::string::npos)
        << "loop record " << r << ": " << report;
  }
  EXPECT_EQ(loops, 6);
}

TEST_F(RestoreDamage, TwoRecordsOfUnknownClassesWithFieldsEachSkipTheirOwn) {
  SaveFileWords f = SaveFileWords::parse(model_file());
  for (const char* known : {"string", "rgb"})
    f.records[f.find(known)][1] = std::string(known) + "_unknown";
  api_bb_begin(true);
  ENTITY_LIST restored;
  ASSERT_TRUE(restore_text(f.text(), restored).ok()) << velm_last_restore_damage();
  ASSERT_TRUE(is_BODY(restored[0]));
  const FACE* top = static_cast<BODY*>(restored[0])->lump()->shell()->face()->next();
  int attributes = 0;
  for (const ATTRIB* a = top->attrib(); a; a = a->next()) ++attributes;
  EXPECT_EQ(attributes, 3);
  std::string report;
  EXPECT_TRUE(velm_test_check_model(restored[0], &report)) << report;
  api_bb_end(outcome(VELM_SAVE_FILE_DAMAGED), true, false);
}

// Sound files the checks must not refuse: a closed wire, an open wire whose
// list is entered in its middle, two attributes on one attribute.
TEST_F(RestoreDamage, SoundButUnusualStructuresAreAccepted) {
  BODY* ring = testkit::make_wire_body(3, true);
  BODY* open = testkit::make_wire_body(3, false);
  open->wire()->set_coedge(open->wire()->coedge()->next());
  BODY* box = testkit::make_plane_box();
  FACE* top = box->lump()->shell()->face()->next();
  ASSERT_TRUE(api_add_generic_named_attribute(top, "ATTRIB_XVELM_NAME", "top").ok());
  ATTRIB* name = top->attrib();
  new ATTRIB_RGB(name, 1.0, 0.0, 0.0);
  new ATTRIB_RGB(name, 0.0, 1.0, 0.0);
  ENTITY_LIST list;
  for (BODY* b : {ring, open, box}) {
    std::string report;
    EXPECT_TRUE(velm_test_check_model(b, &report)) << report;
    list.add(b);
  }
  const std::string text = saved_file(list);
  api_bb_begin(true);
  for (BODY* b : {ring, open, box}) api_del_entity(b);
  api_bb_end(outcome(), true, false);
  std::string report;
  EXPECT_EQ(restore_and_discard(text, &report), 0) << velm_last_restore_damage();
  EXPECT_EQ(report, "");
}

// A model the kernel saves must restore: groups holding each other are
// refused when made, however long the chain; a file that has them anyway
// (made by hand) is refused on restore.
TEST_F(RestoreDamage, GroupsHoldingEachOtherAreRefusedWhenMadeAndWhenRestored) {
  auto* outer = new QELGROUP;
  auto* middle = new QELGROUP;
  auto* inner = new QELGROUP;
  ASSERT_TRUE(api_ct_add_to_group(middle, outer).ok());
  ASSERT_TRUE(api_ct_add_to_group(inner, middle).ok());
  EXPECT_FALSE(api_ct_add_to_group(outer, outer).ok());
  EXPECT_FALSE(api_ct_add_to_group(outer, middle).ok());
  EXPECT_FALSE(api_ct_add_to_group(outer, inner).ok());
  ENTITY_LIST itself;
  itself.add(inner);
  EXPECT_FALSE(api_add_to_collection(itself, inner).ok());
  EXPECT_EQ(inner->members().iteration_count(), 0);
  set_global_error_info(nullptr);  // the refusals' error record
  ENTITY_LIST list;
  list.add(middle);
  const std::string text = saved_file(list);
  api_bb_begin(true);
  outer->lose();
  middle->lose();
  inner->lose();
  api_bb_end(outcome(), true, false);
  EXPECT_EQ(restore_and_discard(text), 0);

  // By hand: the inner group (record 2, holding nothing) made to hold the
  // middle one (record 0), with the link back a member carries at the head
  // of the middle group's attribute chain.
  SaveFileWords f = SaveFileWords::parse(text);
  const int holder = f.find("group"), held = f.find("group", holder);
  ASSERT_EQ(holder, 0) << text;
  ASSERT_GT(held, holder);
  std::vector<std::string>& words = f.records[held];
  ASSERT_EQ(words.end()[-2], "0") << "no members yet";
  words.end()[-2] = "1";
  words.insert(words.end() - 1, SaveFileWords::link_to(holder));
  const int chain = follow(f, holder, 0);
  const int back = f.duplicate_record(chain);
  enum { attrib_collection = 4 };
  ASSERT_EQ(link(f, chain, attrib_next), "$-1");
  relink(f, back, attrib_owner, holder);
  relink(f, back, attrib_previous, chain);
  relink(f, back, attrib_collection, held);
  relink(f, chain, attrib_next, back);
  EXPECT_EQ(restore_and_discard(f.text()), damaged_code);
  EXPECT_NE(std::string(velm_last_restore_damage()).find("holds itself through its members"), std::string::npos)
      << velm_last_restore_damage() << "\n" << f.text();
}

TEST_F(RestoreDamage, AllocationFailingAnywhereInARestoreLeavesNothing) {
  const std::string text = model_file();
  int refused = 0;
  for (long nth = 1; nth < 5000; ++nth) {
    velm_test_fail_alloc(nullptr, nth);
    const bool ok = restore_and_discard(text, nullptr, false) == 0;
    velm_test_reset();
    if (ok) break;
    ++refused;
  }
  EXPECT_GT(refused, 100);
  // At the outermost frame the restore destroys what it made itself.
  int refusedOutermost = 0;
  for (long nth = 1; nth < 5000; ++nth) {
    velm_test_fail_alloc(nullptr, nth);
    const bool ok = restore_outermost(text) == 0;
    velm_test_reset();
    if (ok) break;
    ++refusedOutermost;
  }
  EXPECT_EQ(refusedOutermost, refused);
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

namespace {

// A file of `size` bytes, sparse where `head` ends, restored; `read` receives
// how far the reader got.
int restore_sparse(const std::string& head, long long size, long long& read, std::string& damage) {
  const std::string path = ::testing::TempDir() + "velm_sparse_" + std::to_string(::getpid()) + ".vlt";
  FILE* fp = std::fopen(path.c_str(), "w+b");
  EXPECT_NE(fp, nullptr);
  std::fwrite(head.data(), 1, head.size(), fp);
  EXPECT_EQ(::ftruncate(::fileno(fp), static_cast<off_t>(size)), 0);
  std::rewind(fp);
  ENTITY_LIST restored;
  const outcome r = api_restore_entity_list(fp, 1, restored);
  read = std::ftell(fp);
  damage = velm_last_restore_damage();
  std::fclose(fp);
  std::remove(path.c_str());
  set_global_error_info(nullptr);
  return r.ok() ? 0 : r.error_number();
}

}  // namespace

// Holes and zeros are refused from the little that was read: a file above
// the limit before anything is read, a run of zeros within a word's length.
TEST_F(RestoreDamage, SparseFilesAreRefusedEarly) {
  long long read = 0;
  std::string damage;
  EXPECT_EQ(restore_sparse("", 4LL << 30, read, damage), damaged_code);
  EXPECT_NE(damage.find("larger than the 1 GiB"), std::string::npos) << damage;
  EXPECT_EQ(read, 0);
  const std::string header = "VELM-TEXT 2000 1000000 1 @0  @0  -1 @0  -0 body 1 $-1 ";
  for (const std::string& head : {std::string(), header}) {
    EXPECT_EQ(restore_sparse(head, 200LL << 20, read, damage), damaged_code);
    EXPECT_NE(damage.find("a word longer than the 1024 bytes"), std::string::npos) << damage;
    EXPECT_LE(read, 4LL << 20) << "read on after a word could no longer be one";
  }
}
