// Save files the kernel's checker would refuse are refused by the restore,
// naming the record: an edge between two vertices whose curve record is gone
// or carries no equation, an edge whose vertices lie off its curve (curve
// links traded), and a point beyond any model on one axis (every file reader
// holds a point within 1e7 of the origin on each axis).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "support/geometry_builders.hxx"
#include "support/heal_builders.hxx"
#include "support/model_builders.hxx"
#include "support/save_file_words.hxx"
#include "velm/build.hxx"
#include "velm/insanity.hxx"
#include "velm/tolerant.hxx"
#include "velm_test_support.hxx"

using namespace velm_test;
using testkit::SaveFileWords;

namespace restore_refusals {

// A box of planes, an open three-edge wire and a spline sheet (intcurve
// edges), each placed in `frame`, saved.
std::string framed_models(const QELtransf& frame) {
  ENTITY_LIST list;
  for (BODY* b : {testkit::make_plane_box(), testkit::make_wire_body(3, false), testkit::make_spline_sheet()}) {
    EXPECT_TRUE(api_apply_transf(b, frame).ok());
    EXPECT_TRUE(api_change_body_trans(b).ok());
    list.add(b);
  }
  std::string text = saved_file(list);
  api_bb_begin(true);
  for (int i = 0; i < list.count(); ++i) api_del_entity(list[i]);
  api_bb_end(outcome(), true, false);
  return text;
}

// Restores the text and deletes what it made; "" when restored, else the damage reported.
std::string restore_refusal(const std::string& text) {
  api_bb_begin(true);
  ENTITY_LIST restored;
  const outcome r = restore_text(text, restored);
  std::string said = r.ok() ? "" : std::string(velm_last_restore_damage());
  if (!r.ok()) {
    EXPECT_EQ(r.error_number(), qelvelm_api_errmod.message_code(VELM_SAVE_FILE_DAMAGED));
    EXPECT_NE(said, "");
    set_global_error_info(nullptr);
  }
  api_bb_end(outcome(VELM_SAVE_FILE_DAMAGED), true, false);
  return said;
}

const std::vector<std::string> curve_classes = {"straight", "intcurve", "ellipse"};

bool is_curve_record(const SaveFileWords& f, int r) {
  for (const std::string& c : curve_classes)
    if (f.records[r][1] == c) return true;
  return false;
}

class RestoreRefusals : public KernelTest {};

}  // namespace restore_refusals

using namespace restore_refusals;

TEST_F(RestoreRefusals, AnEdgeWhoseCurveRecordIsGoneOrBareIsRefusedNamingTheEdgeInEveryFrame) {
  int curves = 0;
  for (const QELtransf& frame : testkit::heal_frames()) {
    const std::string text = framed_models(frame);
    ASSERT_EQ(restore_refusal(text), "");
    const SaveFileWords sound = SaveFileWords::parse(text);
    for (int r = 0; r < static_cast<int>(sound.records.size()); ++r) {
      if (!is_curve_record(sound, r)) continue;
      // The first edge linking to the curve: the one the report names.
      int edge = -1;
      for (int e = 0; e < static_cast<int>(sound.records.size()) && edge < 0; ++e)
        if (sound.records[e][1] == "edge")
          for (std::size_t at : sound.links(e))
            if (SaveFileWords::target(sound.records[e][at]) == r) edge = e;
      if (edge < 0) continue;  // a curve of a coedge or a surface, not an edge's
      ++curves;
      SaveFileWords dropped = sound;
      dropped.erase_record(r);
      const std::string at = "record " + std::to_string(edge - (edge > r)) + " (edge)";
      EXPECT_EQ(restore_refusal(dropped.text()), at + ": has no curve, though it runs between two vertices")
          << "curve record " << r << " (" << sound.records[r][1] << ") dropped";
      // The record made the base class's alone: "-30 curve 1 $-1 0 #", its
      // attribute link and entity number kept.
      SaveFileWords bare = sound;
      const std::vector<std::string>& was = sound.records[r];
      const auto base = std::find(was.begin(), was.end(), "curve");
      ASSERT_LE(base + 4, was.end());
      bare.records[r] = {was[0], "curve", "1", base[2], base[3], "#"};
      EXPECT_EQ(restore_refusal(bare.text()), "record " + std::to_string(edge) + " (edge): its curve (record " +
                                                   std::to_string(r) +
                                                   ") carries no equation, though it runs between two vertices")
          << "curve record " << r << " (" << sound.records[r][1] << ") made bare";
    }
  }
  EXPECT_GE(curves, 3 * 12);
}

// Two edges' curves traded (each curve record holding the other's curve, as
// two edges' curve links traded would, the writer's record order kept) put
// the vertices of the first of them off its curve: the restore refuses the
// file naming that edge, the vertex and how far it lies off (beyond the
// tolerance the kernel's check holds it to), for every pair of edges of the
// box, the wire and the spline sheet, in every frame.
TEST_F(RestoreRefusals, EdgesWhoseCurvesAreTradedAreRefusedNamingTheEdgeAndTheDistance) {
  static const std::regex said(
      R"(record (\d+) \(edge\): its (start|end) vertex \(record (\d+)\) lies (\S+) off its curve's (start|end), )"
      R"(beyond the tolerance of (\S+))");
  int pairs = 0;
  for (const QELtransf& frame : testkit::heal_frames()) {
    const SaveFileWords sound = SaveFileWords::parse(framed_models(frame));
    // Each edge record with its curve's record, which no other edge shares.
    std::vector<std::pair<int, int>> edges;
    std::vector<int> users(sound.records.size(), 0);
    for (int e = 0; e < static_cast<int>(sound.records.size()); ++e)
      if (sound.records[e][1] == "edge")
        for (std::size_t at : sound.links(e))
          if (const int t = SaveFileWords::target(sound.records[e][at]); t >= 0 && is_curve_record(sound, t)) {
            edges.emplace_back(e, t);
            ++users[static_cast<std::size_t>(t)];
          }
    ASSERT_EQ(edges.size(), 12u + 3u + 4u);
    for (const auto& [e, curve] : edges) {
      ASSERT_EQ(users[static_cast<std::size_t>(curve)], 1) << "edge " << e;
      for (std::size_t at : sound.links(curve)) ASSERT_EQ(sound.records[curve][at], "$-1");
    }
    for (std::size_t i = 0; i < edges.size(); ++i)
      for (std::size_t j = i + 1; j < edges.size(); ++j) {
        const auto [a, curve_a] = edges[i];
        const auto [b, curve_b] = edges[j];
        SaveFileWords traded = sound;
        std::vector<std::string>& ca = traded.records[curve_a];
        std::vector<std::string>& cb = traded.records[curve_b];
        std::swap(ca, cb);
        std::swap(ca[0], cb[0]);
        const std::string refusal = restore_refusal(traded.text());
        // A box edge and a wire edge on one line: the same curve either way.
        if (std::equal(ca.begin() + 1, ca.end(), cb.begin() + 1, cb.end())) {
          EXPECT_EQ(refusal, "") << "edges " << a << " and " << b;
          continue;
        }
        ++pairs;
        std::smatch m;
        ASSERT_TRUE(std::regex_match(refusal, m, said)) << "edges " << a << " and " << b << ": " << refusal;
        // The first of the two in the file, at the named end.
        EXPECT_EQ(std::stoi(m[1]), std::min(a, b)) << refusal;
        EXPECT_EQ(m[2], m[5]) << refusal;
        const std::vector<std::size_t> links = sound.links(std::min(a, b));
        EXPECT_EQ(sound.records[std::min(a, b)][links[m[2] == "start" ? 1 : 2]], SaveFileWords::link_to(std::stoi(m[3])))
            << refusal;
        EXPECT_GT(std::stod(m[4]), std::stod(m[6])) << refusal;
        EXPECT_EQ(std::stod(m[6]), QELresabs) << refusal;
      }
  }
  EXPECT_GE(pairs, static_cast<int>(testkit::heal_frames().size()) * (19 * 18 / 2 - 2));
}

TEST_F(RestoreRefusals, APointBeyondAnyModelOnOneAxisIsRefusedNamingItsRecord) {
  const SaveFileWords sound = SaveFileWords::parse(framed_models(testkit::heal_frames().back()));
  // A vertex's point ("point": its three coordinates last before "#") and a
  // spline surface's first control point.
  const int point = sound.find("point");
  ASSERT_GE(point, 0);
  const std::size_t first = sound.records[point].size() - 4;
  const struct {
    double value;
    bool refused;
  } values[] = {{1.0000001e7, true}, {-1.0000001e7, true}, {2147483647.0, true}, {-7.35e12, true},
                {9999999.0, false},  {-1e7, false},         {1e7, false}};
  for (int axis = 0; axis < 3; ++axis)
    for (const auto& v : values) {
      SaveFileWords damaged = sound;
      char number[40];
      std::snprintf(number, sizeof number, "%.17g", v.value);
      damaged.records[point][first + axis] = number;
      const std::string said = restore_refusal(damaged.text());
      if (!v.refused) {
        // Within any model; moved off the ends of the curves of its edges, though.
        EXPECT_EQ(said.find("beyond any model"), std::string::npos) << "axis " << axis << " at " << number;
        EXPECT_NE(said.find(" off its curve's "), std::string::npos) << "axis " << axis << " at " << number;
        continue;
      }
      // "record 47 (point), field 8: a point at z = -7.35e+12, beyond any model"
      const std::string head = ": a point at " + std::string(1, "xyz"[axis]) + " = ", tail = ", beyond any model";
      EXPECT_EQ(said.rfind("record " + std::to_string(point) + " (point), field ", 0), 0u) << said;
      const std::size_t at = said.find(head);
      ASSERT_NE(at, std::string::npos) << said;
      ASSERT_GE(said.size(), tail.size());
      EXPECT_EQ(said.substr(said.size() - tail.size()), tail) << said;
      EXPECT_EQ(std::stod(said.substr(at + head.size())), v.value) << said;
    }
}

// A parameter curve's points are parameters, bounded as lengths are: a
// pcurve point beyond 1e7 is no point of the model and restores.
TEST_F(RestoreRefusals, APcurvePointBeyondTheModelsPointsRestores) {
  const SaveFileWords sound = SaveFileWords::parse(framed_models(testkit::heal_frames().back()));
  const int pcurve = sound.find("pcurve");
  ASSERT_GE(pcurve, 0);
  // Its curve's first control point: "-<n> pcurve 1 $-1 0 0 1 0 <tolerance> <count> <x> <y> 0 ...".
  const std::size_t first = sound.links(pcurve).back() + 7;
  for (double value : {5e7, -2147483647.0}) {
    SaveFileWords damaged = sound;
    damaged.records[pcurve][first] = std::to_string(value);
    EXPECT_EQ(restore_refusal(damaged.text()), "") << value;
  }
  SaveFileWords beyond = sound;
  beyond.records[pcurve][first] = "2e10";
  const std::string said = restore_refusal(beyond.text());
  EXPECT_EQ(said.rfind("record " + std::to_string(pcurve) + " (pcurve), field ", 0), 0u) << said;
  EXPECT_NE(said.find(": a coordinate or length beyond any model"), std::string::npos) << said;
}

// What the restore refuses the save does not write: a model moved beyond any
// model's extent is refused by the save, not written to be refused on reading.
TEST_F(RestoreRefusals, TheSaveRefusesAPointTheRestoreWouldRefuse) {
  for (double offset : {2e7, -2e7}) {
    BODY* box = testkit::make_plane_box();
    ASSERT_TRUE(api_apply_transf(box, translate_transf(QELvector(0, offset, 0))).ok());
    ASSERT_TRUE(api_change_body_trans(box).ok());
    ENTITY_LIST list;
    list.add(box);
    memfile f;
    EXPECT_FALSE(api_save_entity_list(f.fp, 1, list).ok()) << offset;
    set_global_error_info(nullptr);
    api_del_entity(box);
  }
}

// A vertex set at the tolerance's border off its edge's end lies on the edge,
// however far the model is from the origin: the checker passes it and the
// restore reads back what the save wrote (an imported hammer 2e4 from the
// origin measured 1.0000003e-06 off against a tolerance of 1e-06 and its
// save file was refused). A vertex a hundredth past the border is off,
// at every distance. Seeded lines at four distances from the origin, in
// every frame.
TEST_F(RestoreRefusals, AVertexAtItsToleranceFromItsCurvesEndIsOnItAtEveryDistanceFromTheOrigin) {
  std::mt19937 random(4801);
  std::uniform_real_distribution<double> unit(-1.0, 1.0), length(1.0, 100.0);
  const auto direction = [&] {
    for (;;) {
      const QELvector d(unit(random), unit(random), unit(random));
      if (d.len() > 0.1) return QELunit_vector(d);
    }
  };
  int border = 0, past = 0;
  for (const QELtransf& frame : testkit::heal_frames())
    for (double far : {1.0, 1e3, 3e4, 1e6})
      for (int k = 0; k < 24; ++k)
        for (const double beyond : {1.0, 1.01}) {
          const QELunit_vector along = direction();
          const QELposition from = QELposition(0, 0, 0) + direction() * far;
          auto* a = new VERTEX(new APOINT(from));
          const double span = length(random);
          auto* b = new VERTEX(new APOINT(from + along * span));
          const QELinterval range(0.0, span);
          EDGE* e = new EDGE(a, b, new STRAIGHT(straight(from, along)), FORWARD, EDGE_cvty_unknown, &range);
          BODY* body = nullptr;
          ASSERT_TRUE(api_make_ewire(1, &e, body).ok());
          ASSERT_TRUE(api_apply_transf(body, frame).ok());
          ASSERT_TRUE(api_change_body_trans(body).ok());
          // The end vertex moved square to the line, to the tolerance's border or past it.
          const curve& line = e->geometry()->equation();
          const QELposition end = line.eval_position(edge_curve_range(e).end_pt());
          const QELunit_vector aside = QELunit_vector(direction() * line.eval_deriv(0.0));
          e->end()->geometry()->set_coords(end + aside * (QELresabs * beyond));
          insanity_list* findings = nullptr;
          ASSERT_TRUE(api_check_entity(body, findings).ok());
          const int problems = findings ? findings->count() : 0;
          delete findings;
          ENTITY_LIST list;
          list.add(body);
          // Refused by the save, as the restore would refuse it; else read back.
          memfile f;
          const bool saved = api_save_entity_list(f.fp, 1, list).ok();
          const std::string refusal = saved ? restore_refusal(f.text()) : std::string(velm_last_save_refusal());
          if (!saved) set_global_error_info(nullptr);
          if (beyond == 1.0) {
            ++border;
            EXPECT_EQ(problems, 0) << far << " case " << k;
            EXPECT_EQ(refusal, "") << far << " case " << k;
          } else {
            ++past;
            EXPECT_GE(problems, 1) << far << " case " << k;
            EXPECT_NE(refusal.find("off its curve's end, beyond the tolerance of 1e-06"), std::string::npos)
                << far << " case " << k << ": " << refusal;
          }
          api_del_entity(body);
        }
  EXPECT_EQ(border, past);
  EXPECT_GE(border, 3 * 4 * 24);
}

namespace restore_refusals {

// The box, the wire and the spline sheet of framed_models, each placed in `frame`.
std::vector<BODY*> framed_bodies(const QELtransf& frame) {
  std::vector<BODY*> bodies{testkit::make_plane_box(), testkit::make_wire_body(3, false), testkit::make_spline_sheet()};
  for (BODY* b : bodies) {
    EXPECT_TRUE(api_apply_transf(b, frame).ok());
    EXPECT_TRUE(api_change_body_trans(b).ok());
  }
  return bodies;
}

// Their edges: the box's, the wire's and the sheet's.
const std::size_t edge_counts[3] = {12, 3, 4};

void delete_bodies(const std::vector<BODY*>& bodies) {
  for (BODY* b : bodies) EXPECT_TRUE(api_del_entity(b).ok());
}

// The body's entities of a kind, as the kernel lists them.
template <class T>
std::vector<T*> listed(outcome (*query)(const ENTITY*, ENTITY_LIST&), const BODY* body) {
  ENTITY_LIST list;
  EXPECT_TRUE(query(body, list).ok());
  std::vector<T*> out;
  for (int i = 0; i < list.count(); ++i) out.push_back(static_cast<T*>(list[i]));
  return out;
}
std::vector<EDGE*> body_edges(const BODY* body) { return listed<EDGE>(api_get_edges, body); }
std::vector<VERTEX*> body_vertices(const BODY* body) { return listed<VERTEX>(api_get_vertices, body); }

// A save of the bodies together: whether it was made, the place its refusal
// names ("" when saved) and what it wrote.
struct saved {
  bool ok = false;
  std::string said;
  std::string text;
};
saved save_bodies(const std::vector<BODY*>& bodies) {
  ENTITY_LIST list;
  for (BODY* b : bodies) list.add(b);
  memfile f;
  const outcome r = api_save_entity_list(f.fp, 1, list);
  saved out{r.ok(), velm_last_save_refusal(), f.text()};
  if (!r.ok()) {
    EXPECT_EQ(r.error_number(), qelvelm_api_errmod.message_code(VELM_SAVE_IO));
    set_global_error_info(nullptr);
  }
  return out;
}

}  // namespace restore_refusals

// An edge between two vertices whose curve is made bare, or taken away, is
// refused by the save (as its restore would refuse it), naming the body by
// its place among those saved and the edge by its place in the body's edges;
// nothing is written. Every edge of the box, the wire and the sheet, saved
// together, in every frame.
TEST_F(RestoreRefusals, TheSaveRefusesAnEdgeWithoutCurveEquationNamingBodyAndEdge) {
  const struct {
    const char* what;
    bool bare;
    const char* said;
  } damages[] = {{"bare curve", true, "its curve carries no equation, though it runs between two vertices"},
                 {"no curve", false, "has no curve, though it runs between two vertices"}};
  int refused = 0;
  for (const QELtransf& frame : testkit::heal_frames())
    for (const auto& damage : damages)
      for (std::size_t b = 0; b < 3; ++b)
        for (std::size_t k = 0; k < edge_counts[b]; ++k) {
          const std::vector<BODY*> bodies = framed_bodies(frame);
          const std::vector<EDGE*> edges = body_edges(bodies[b]);
          ASSERT_EQ(edges.size(), edge_counts[b]);
          EDGE* edge = edges[k];
          ASSERT_NE(edge->start(), edge->end());
          edge->set_geometry(damage.bare ? new CURVE : nullptr);
          const saved s = save_bodies(bodies);
          EXPECT_FALSE(s.ok) << damage.what << ", body " << b << ", edge " << k;
          EXPECT_EQ(s.said, "body " + std::to_string(b) + ", edge " + std::to_string(k) + ": " + damage.said);
          EXPECT_EQ(s.text, "") << damage.what << ", body " << b << ", edge " << k;
          refused += !s.ok;
          delete_bodies(bodies);
        }
  EXPECT_EQ(refused, 3 * 2 * (12 + 3 + 4));
}

namespace restore_refusals {

// The vertex's point moved `by` along a slant that no edge of the models
// runs along, turned with the frame.
void move_vertex(VERTEX* v, const QELtransf& frame, double by) {
  const QELvector slant = QELvector(1.0, 2.0, 2.0) * (by / 3.0) * frame;
  v->geometry()->set_coords(v->geometry()->coords() + slant);
}

}  // namespace restore_refusals

// A vertex moved off the ends of its edges' curves is refused by the save,
// naming the body and each edge of the vertex, the end and how far it lies off,
// and nothing is written: every vertex of the box, the wire and the sheet,
// saved together, in every frame.
TEST_F(RestoreRefusals, TheSaveRefusesAVertexOffItsEdgesCurveNamingBodyEdgeAndDistance) {
  static const std::regex said(
      R"(body (\d), edge (\d+): its (start|end) vertex lies (\S+) off its curve's (start|end), beyond the tolerance of (\S+))");
  const std::size_t vertex_counts[3] = {8, 4, 4};
  int refused = 0;
  for (const QELtransf& frame : testkit::heal_frames())
    for (std::size_t b = 0; b < 3; ++b)
      for (std::size_t k = 0; k < vertex_counts[b]; ++k) {
        const std::vector<BODY*> bodies = framed_bodies(frame);
        const std::vector<VERTEX*> vertices = body_vertices(bodies[b]);
        ASSERT_EQ(vertices.size(), vertex_counts[b]);
        move_vertex(vertices[k], frame, 0.25);
        const saved s = save_bodies(bodies);
        EXPECT_FALSE(s.ok) << "body " << b << ", vertex " << k;
        EXPECT_EQ(s.text, "") << "body " << b << ", vertex " << k;
        // Each edge of the vertex is named, once.
        const std::vector<EDGE*> edges = body_edges(bodies[b]);
        std::size_t of_vertex = 0;
        for (const EDGE* e : edges) of_vertex += e->start() == vertices[k] || e->end() == vertices[k];
        std::vector<std::string> places;
        for (std::size_t from = 0, at; from <= s.said.size(); from = at + 2) {
          at = std::min(s.said.find("; ", from), s.said.size());
          places.push_back(s.said.substr(from, at - from));
        }
        EXPECT_EQ(places.size(), of_vertex) << s.said;
        bool all = true;
        std::vector<std::size_t> named_edges;
        for (const std::string& place : places) {
          std::smatch m;
          if (!std::regex_match(place, m, said)) {
            ADD_FAILURE() << "body " << b << ", vertex " << k << ": " << s.said;
            all = false;
            continue;
          }
          EXPECT_EQ(std::stoul(m[1]), b) << s.said;
          EXPECT_EQ(m[3], m[5]) << s.said;
          ASSERT_LT(std::stoul(m[2]), edges.size()) << s.said;
          named_edges.push_back(std::stoul(m[2]));
          const EDGE* named = edges[std::stoul(m[2])];
          EXPECT_EQ(m[3] == "start" ? named->start() : named->end(), vertices[k]) << s.said;
          EXPECT_NEAR(std::stod(m[4]), 0.25, 1e-9) << s.said;
          EXPECT_EQ(std::stod(m[6]), QELresabs) << s.said;
        }
        EXPECT_TRUE(std::is_sorted(named_edges.begin(), named_edges.end()) &&
                    std::adjacent_find(named_edges.begin(), named_edges.end()) == named_edges.end())
            << s.said;
        refused += all;
        delete_bodies(bodies);
      }
  EXPECT_EQ(refused, 3 * (8 + 4 + 4));
}

// Whatever the save writes, the restore reads back; whatever the restore
// would refuse, the save refuses naming its place: seeded vertices moved by
// distances about the tolerance (1e-8 to 1e-4), every frame.
TEST_F(RestoreRefusals, WhatTheSaveWritesTheRestoreReadsBack) {
  std::mt19937 random(20261209);
  int written = 0, refused = 0;
  for (int round = 0; round < 60; ++round) {
    const QELtransf frame = testkit::heal_frames()[static_cast<std::size_t>(round) % 3];
    const std::vector<BODY*> bodies = framed_bodies(frame);
    const std::size_t b = random() % 3;
    const std::vector<VERTEX*> vertices = body_vertices(bodies[b]);
    const double by = std::pow(10.0, std::uniform_real_distribution<double>(-8.0, -4.0)(random));
    move_vertex(vertices[random() % vertices.size()], frame, by);
    const saved s = save_bodies(bodies);
    if (s.ok) {
      ++written;
      EXPECT_EQ(s.said, "");
      EXPECT_EQ(restore_refusal(s.text), "") << "round " << round << ", moved " << by;
    } else {
      ++refused;
      EXPECT_EQ(s.said.rfind("body " + std::to_string(b) + ", edge ", 0), 0u) << s.said;
      EXPECT_EQ(s.text, "") << "round " << round;
    }
    delete_bodies(bodies);
  }
  // Both sides of the tolerance met.
  EXPECT_GT(written, 10);
  EXPECT_GT(refused, 10);
}

// A face whose surface record carries no equation (made the base class's
// alone) is refused by the restore, naming the face and the record, as an
// edge's bare curve is: every face of the box and the sheet, in every frame.
// The save refuses such a face naming the body and the face, writing nothing.
TEST_F(RestoreRefusals, AFaceWhoseSurfaceCarriesNoEquationIsRefusedByRestoreAndSave) {
  int faces = 0;
  for (const QELtransf& frame : testkit::heal_frames()) {
    const SaveFileWords sound = SaveFileWords::parse(framed_models(frame));
    for (int f = 0; f < static_cast<int>(sound.records.size()); ++f) {
      if (sound.records[f][1] != "face") continue;
      // The face's surface: its link after owner, next, loop and shell ("-8 face 1 $attr 0 $next $loop $shell $surface ...").
      const std::vector<std::size_t> links = sound.links(f);
      ASSERT_GE(links.size(), 5u);
      const int s = SaveFileWords::target(sound.records[f][links[4]]);
      ASSERT_GE(s, 0);
      SaveFileWords bare = sound;
      const std::vector<std::string>& was = sound.records[static_cast<std::size_t>(s)];
      const auto base = std::find(was.begin(), was.end(), "surface");
      ASSERT_LE(base + 4, was.end()) << "record " << s;
      bare.records[static_cast<std::size_t>(s)] = {was[0], "surface", "1", base[2], base[3], "#"};
      ++faces;
      EXPECT_EQ(restore_refusal(bare.text()), "record " + std::to_string(f) + " (face): its surface (record " +
                                                  std::to_string(s) + ") carries no equation");
    }
    for (std::size_t b : {0u, 2u})
      for (std::size_t k = 0; k < (b == 0 ? 6u : 1u); ++k) {
        const std::vector<BODY*> bodies = framed_bodies(frame);
        ENTITY_LIST list;
        ASSERT_TRUE(api_get_faces(bodies[b], list).ok());
        static_cast<FACE*>(list[static_cast<int>(k)])->set_geometry(new SURFACE);
        const saved s = save_bodies(bodies);
        EXPECT_FALSE(s.ok);
        EXPECT_EQ(s.said, "body " + std::to_string(b) + ", face " + std::to_string(k) +
                              ": its surface carries no equation");
        EXPECT_EQ(s.text, "");
        delete_bodies(bodies);
      }
  }
  EXPECT_EQ(faces, 3 * (6 + 1));
}

namespace restore_refusals {

// An entity's place among its body's entities of its kind, as `xvelm info`
// numbers them: in one walk of the body's whole topology, from 0.
int info_number(const BODY* body, const ENTITY* e) {
  ENTITY_LIST all;
  velm_topology_walk(body, all);
  int number = 0;
  for (int i = 0; i < all.count(); ++i) {
    if (all[i] == e) return number;
    number += all[i]->identity(1) == e->identity(1);
  }
  return -1;
}

}  // namespace restore_refusals

// The save's refusal names every face and edge the restore would refuse (up
// to three, the rest counted), each by its body and its place as `xvelm info`
// numbers it, not only the first met: seeded sets of the three bodies' edges
// made bare and faces of the box and the sheet made bare, every frame.
TEST_F(RestoreRefusals, TheSaveNamesEachFaultyFaceAndEdgeAsInfoNumbersThem) {
  std::mt19937 random(48017);
  for (int round = 0; round < 24; ++round) {
    const QELtransf frame = testkit::heal_frames()[static_cast<std::size_t>(round) % 3];
    const std::vector<BODY*> bodies = framed_bodies(frame);
    // The places expected, body by body, faces before edges.
    std::vector<std::string> expected;
    const int faults = 1 + static_cast<int>(random() % 5);
    std::vector<std::pair<int, ENTITY*>> damaged;  // (body, face or edge)
    while (static_cast<int>(damaged.size()) < faults) {
      const int b = static_cast<int>(random() % 3);
      const bool face = b != 1 && random() % 3 == 0;
      const std::vector<ENTITY*> of = face ? listed<ENTITY>(api_get_faces, bodies[b])
                                           : listed<ENTITY>(api_get_edges, bodies[b]);
      ENTITY* e = of[random() % of.size()];
      if (std::any_of(damaged.begin(), damaged.end(), [&](const auto& d) { return d.second == e; })) continue;
      damaged.emplace_back(b, e);
      if (face)
        static_cast<FACE*>(e)->set_geometry(new SURFACE);
      else
        static_cast<EDGE*>(e)->set_geometry(new CURVE);
    }
    std::sort(damaged.begin(), damaged.end(), [&](const auto& x, const auto& y) {
      const auto key = [&](const auto& d) {
        return std::make_tuple(d.first, is_EDGE(d.second), info_number(bodies[d.first], d.second));
      };
      return key(x) < key(y);
    });
    for (const auto& [b, e] : damaged)
      expected.push_back("body " + std::to_string(b) + (is_FACE(e) ? ", face " : ", edge ") +
                         std::to_string(info_number(bodies[b], e)) + ": " +
                         (is_FACE(e) ? "its surface carries no equation"
                                     : "its curve carries no equation, though it runs between two vertices"));
    std::string said;
    for (std::size_t i = 0; i < expected.size() && i < 3; ++i) said += (i ? "; " : "") + expected[i];
    if (expected.size() > 3) said += " (and " + std::to_string(expected.size() - 3) + " more)";
    const saved s = save_bodies(bodies);
    EXPECT_FALSE(s.ok) << "round " << round;
    EXPECT_EQ(s.said, said) << "round " << round;
    EXPECT_EQ(s.text, "") << "round " << round;
    delete_bodies(bodies);
  }
}

// An edge whose end overflows on its curve (a range out to 1e300 on a line
// scaled by 1e10 ends at infinity) has its vertex at no distance the
// tolerance holds: the save refuses it naming body and edge, as its restore
// would. Its gap, infinite or not a number, passed every comparison. Every
// edge of the wire, in every frame.
TEST_F(RestoreRefusals, TheSaveRefusesAnEdgeWhoseEndOverflowsOnItsCurve) {
  int refused = 0;
  for (const QELtransf& frame : testkit::heal_frames())
    for (std::size_t k = 0; k < edge_counts[1]; ++k) {
      const std::vector<BODY*> bodies = framed_bodies(frame);
      EDGE* edge = body_edges(bodies[1])[k];
      const QELposition from = edge->start()->geometry()->coords(), to = edge->end()->geometry()->coords();
      edge->set_geometry(new STRAIGHT(straight(from, QELunit_vector(to - from), 1e10)));
      const QELinterval far(0.0, 1e300);
      edge->set_param_range(&far);
      const saved s = save_bodies(bodies);
      EXPECT_FALSE(s.ok) << "edge " << k;
      EXPECT_EQ(s.said.rfind("body 1, edge " + std::to_string(k) + ": its end vertex lies ", 0), 0u) << s.said;
      EXPECT_EQ(s.text, "") << "edge " << k;
      refused += !s.ok;
      delete_bodies(bodies);
    }
  EXPECT_EQ(refused, 3 * 3);
}
