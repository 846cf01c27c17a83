// Topology entities, kernel-order queries, save round trip and roll-back.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "support/model_builders.hxx"
#include "velm/api.hxx"
#include "velm/bb.hxx"
#include "velm/query.hxx"
#include "velm/save.hxx"
#include "velm_test_support.hxx"

using namespace testkit;
using namespace velm_test;

namespace {
std::vector<ENTITY*> as_vector(const ENTITY_LIST& l) {
  std::vector<ENTITY*> v;
  for (int i = 0; i < l.count(); ++i)
    if (l[i]) v.push_back(l[i]);
  return v;
}

std::vector<ENTITY*> get(outcome (*q)(const ENTITY*, ENTITY_LIST&), const ENTITY* e) {
  ENTITY_LIST l;
  EXPECT_TRUE(q(e, l).ok());
  return as_vector(l);
}
}  // namespace

TEST(TopologyQueries, BoxHasItsCountsAndIsClosed) {
  BODY* box = make_box();
  EXPECT_EQ(count_lumps(box), 1);
  EXPECT_EQ(count_shells(box), 1);
  EXPECT_EQ(count_faces(box), 6);
  EXPECT_EQ(count_loops(box), 6);
  EXPECT_EQ(count_coedges(box), 24);
  EXPECT_EQ(count_edges(box), 12);
  EXPECT_EQ(count_vertices(box), 8);
  EXPECT_EQ(box->lump()->shell()->is_closed(), 1);
  EXPECT_FALSE(is_wire_body(box));
  EXPECT_TRUE(api_del_entity(box).ok());
}

TEST(TopologyQueries, BoxListsFollowKernelOrder) {
  BODY* box = make_box();
  std::vector<ENTITY*> faces = get(api_get_faces, box);
  FACE* f = box->lump()->shell()->face();
  for (ENTITY* e : faces) {
    EXPECT_EQ(e, f);
    f = f->next();
  }
  // Edges and vertices come in order of first encounter from the first loop.
  std::vector<ENTITY*> edges = get(api_get_edges, box);
  std::vector<ENTITY*> vertices = get(api_get_vertices, box);
  COEDGE* c = box->lump()->shell()->face()->loop()->start();
  for (int k = 0; k < 4; ++k, c = c->next()) EXPECT_EQ(edges[k], c->edge());
  auto* first = static_cast<EDGE*>(edges[0]);
  EXPECT_EQ(vertices[0], first->start());
  EXPECT_EQ(vertices[1], first->end());
  // A face's list starts at the face; an edge's faces follow its partner ring.
  EXPECT_EQ(get(api_get_faces, faces[2]), std::vector<ENTITY*>{faces[2]});
  std::vector<ENTITY*> around = get(api_get_faces, first);
  ASSERT_EQ(around.size(), 2u);
  EXPECT_EQ(around[0], first->coedge()->loop()->face());
  EXPECT_EQ(around[1], first->coedge()->partner()->loop()->face());
  EXPECT_TRUE(api_del_entity(box).ok());
}

// The edge query that hands each edge over as it is listed: every edge once,
// in list order, down from a body with faces and wires and up from a vertex;
// an injected failure fails it like the plain query.
TEST(TopologyQueries, ListedEdgesAreHandedOverOnceEachInListOrder) {
  BODY* two = make_two_lump_body();
  BODY* wire = make_wire_body(3, false);
  BODY* dot = make_vertex_body();
  VERTEX* corner = static_cast<EDGE*>(get(api_get_edges, two)[0])->start();
  for (const ENTITY* from : {static_cast<const ENTITY*>(two), static_cast<const ENTITY*>(wire),
                             static_cast<const ENTITY*>(dot), static_cast<const ENTITY*>(corner)}) {
    ENTITY_LIST listed;
    std::vector<ENTITY*> handed;
    ASSERT_TRUE(api_get_edges(from, listed, [&](EDGE* e) { handed.push_back(e); }).ok());
    EXPECT_EQ(handed, get(api_get_edges, from));
    EXPECT_EQ(handed, as_vector(listed));
    EXPECT_FALSE(handed.empty());
  }
  velm_test_fail_next("api_get_edges", qelvelm_api_errmod.message_code(VELM_API_FAILED));
  ENTITY_LIST none;
  EXPECT_FALSE(api_get_edges(two, none, [](EDGE*) {}).ok());
  velm_test_reset();
  for (BODY* b : {two, wire, dot}) EXPECT_TRUE(api_del_entity(b).ok());
}

TEST(TopologyQueries, VertexSeesThreeEdgesThreeFacesSixCoedges) {
  BODY* box = make_box();
  VERTEX* v = static_cast<EDGE*>(get(api_get_edges, box)[0])->start();
  EXPECT_EQ(v->count_edges(), 1);  // one reference: one edge group
  EXPECT_EQ(count_edges(v), 3);
  EXPECT_EQ(count_faces(v), 3);
  EXPECT_EQ(count_coedges(v), 6);
  EXPECT_EQ(get(api_get_lumps, v), std::vector<ENTITY*>{box->lump()});
  EXPECT_TRUE(api_del_entity(box).ok());
}

TEST(TopologyQueries, SheetWireVertexAndTwoLumpBodies) {
  BODY* sheet = make_sheet(2, 2);
  EXPECT_EQ(count_faces(sheet), 4);
  EXPECT_EQ(count_edges(sheet), 12);
  EXPECT_EQ(count_vertices(sheet), 9);
  EXPECT_EQ(sheet->lump()->shell()->is_closed(), 0);

  BODY* wire = make_wire_body(3, false);
  EXPECT_TRUE(is_wire_body(wire));
  EXPECT_EQ(count_faces(wire), 0);
  EXPECT_EQ(count_wires(wire), 1);
  EXPECT_EQ(count_edges(wire), 3);
  EXPECT_EQ(count_vertices(wire), 4);
  EXPECT_EQ(wire->wire()->coedge()->previous(), nullptr);

  BODY* ring = make_wire_body(4, true);
  COEDGE* first = ring->wire()->coedge();
  EXPECT_EQ(first->previous()->next(), first);
  EXPECT_EQ(count_vertices(ring), 4);

  BODY* dot = make_vertex_body();
  COEDGE* c = dot->wire()->coedge();
  EXPECT_EQ(c->next(), c);
  EXPECT_EQ(c->previous(), c);
  EXPECT_EQ(c->edge()->start(), c->edge()->end());
  EXPECT_EQ(c->edge()->geometry(), nullptr);
  EXPECT_EQ(count_vertices(dot), 1);

  BODY* two = make_two_lump_body();
  EXPECT_EQ(count_lumps(two), 2);
  EXPECT_EQ(count_faces(two), 12);
  EXPECT_EQ(count_faces(two->lump()->next()), 6);

  for (BODY* b : {sheet, wire, ring, dot, two}) EXPECT_TRUE(api_del_entity(b).ok());
}

TEST(Topology, OwnersFollowTheClassRules) {
  BODY* box = make_box();
  BODY* wire = make_wire_body(2);
  FACE* f = box->lump()->shell()->face();
  COEDGE* c = f->loop()->start();
  EXPECT_EQ(c->owner(), f->loop());
  EXPECT_EQ(f->loop()->owner(), f);
  EXPECT_EQ(f->owner(), box->lump()->shell());
  EXPECT_EQ(box->lump()->owner(), box);
  EXPECT_EQ(c->edge()->owner(), c->edge());
  EXPECT_EQ(c->start()->owner(), c->start());
  EXPECT_EQ(box->owner(), box);
  EXPECT_EQ(wire->wire()->coedge()->owner(), wire->wire());
  EXPECT_EQ(wire->wire()->owner(), wire);
  EXPECT_EQ(wire->wire()->coedge()->loop(), nullptr);
  EXPECT_TRUE(api_del_entity(box).ok());
  EXPECT_TRUE(api_del_entity(wire).ok());
}

TEST(Topology, CoedgeSenseDecidesEndsAndRange) {
  auto* a = new VERTEX(new APOINT(0, 0, 0));
  auto* b = new VERTEX(new APOINT(3, 4, 0));
  QELinterval range(0.0, 5.0);
  auto* e = new EDGE(a, b, new CURVE, FORWARD, EDGE_cvty_unknown, &range);
  auto* fwd = new COEDGE(e, FORWARD);
  auto* rev = new COEDGE(e, REVERSED);
  EXPECT_EQ(e->coedge(), fwd);  // the first coedge stays the edge's
  EXPECT_EQ(rev->start(), b);
  EXPECT_EQ(rev->end(), a);
  EXPECT_EQ(rev->param_range().start_pt(), -5.0);
  EXPECT_EQ(rev->param_range().end_pt(), 0.0);
  EXPECT_EQ(rev->start_pos().x(), 3.0);
  EXPECT_EQ(a->edge(0), e);
  EXPECT_EQ(b->edge(0), e);
  // An edge with neither stored range nor curve equation has no range to give.
  auto* bare = new EDGE(a, b, nullptr, FORWARD);
  EXPECT_THROW(bare->param_range(), velm_exception);
  EXPECT_NEAR(bare->mid_pos().y(), 2.0, 1e-12);
  EXPECT_FALSE(bare->closed());
  for (ENTITY* x : {static_cast<ENTITY*>(fwd), static_cast<ENTITY*>(rev)}) x->lose();
  EXPECT_TRUE(api_del_entity(bare).ok());  // b keeps e, a keeps e
  EXPECT_TRUE(api_del_entity(e).ok());
  EXPECT_FALSE(velm_is_live_entity(a));
}

TEST(Topology, GeometrySettersMoveUses) {
  BODY* box = make_box();
  FACE* f = box->lump()->shell()->face();
  SURFACE* old = f->geometry();
  EXPECT_EQ(old->use_count(), 1);
  auto* shared = new SURFACE;
  f->set_geometry(shared);
  f->next()->set_geometry(shared);
  EXPECT_EQ(shared->use_count(), 2);
  EXPECT_FALSE(velm_is_live_entity(old));  // its last use went
  EXPECT_EQ(model_problems(box), "");
  EXPECT_TRUE(api_del_entity(box).ok());
  EXPECT_FALSE(velm_is_live_entity(shared));
}

TEST(Topology, LoopReverseSwapsRingAndSenses) {
  BODY* box = make_box();
  LOOP* loop = box->lump()->shell()->face()->loop();
  COEDGE* start = loop->start();
  COEDGE* second = start->next();
  sense_type s = start->sense();
  auto* pc = new PCURVE;
  start->set_geometry(pc);
  loop->reverse();
  EXPECT_EQ(loop->start(), start);
  EXPECT_EQ(start->previous(), second);
  EXPECT_NE(start->sense(), s);
  EXPECT_TRUE(pc->reversed());
  loop->reverse();
  EXPECT_EQ(start->next(), second);
  EXPECT_EQ(model_problems(box), "");
  EXPECT_TRUE(api_del_entity(box).ok());
}

TEST(TopologyRollBack, FailedOuterBoardRestoresFaceChain) {
  BODY* box = make_box();
  SHELL* shell = box->lump()->shell();
  FACE* first = shell->face();
  FACE* second = first->next();
  long live = velm_live_entity_count();

  api_bb_begin(true);
  shell->set_face(second);
  first->set_next(nullptr);
  auto* extra = new FACE(nullptr, nullptr, new SURFACE, REVERSED);
  second->set_next(extra);
  first->set_sense(REVERSED);
  first->lose();  // lost inside the board: only unlinked
  api_bb_end(outcome(qelvelm_api_errmod.message_code(VELM_API_FAILED)), true, false);

  EXPECT_EQ(shell->face(), first);
  EXPECT_EQ(first->next(), second);
  EXPECT_NE(second->next(), extra);
  EXPECT_EQ(first->sense(), FORWARD);
  EXPECT_TRUE(velm_is_live_entity(first));
  EXPECT_EQ(velm_live_entity_count(), live);
  EXPECT_EQ(count_faces(box), 6);
  EXPECT_EQ(model_problems(box), "");
  EXPECT_TRUE(api_del_entity(box).ok());
}

TEST(TopologySave, BodyRoundTripKeepsCountsSensesAttributesAndIds) {
  BODY* box = make_box(1.0 / 3.0, 2.0, 3.0);
  FACE* top = box->lump()->shell()->face()->next();
  top->set_sense(REVERSED);
  EDGE* e = top->loop()->start()->edge();
  // A tolerant vertex rides along, where the edge starts; structure checks are
  // not the point here, but the vertex the edge left names it no more (the
  // restore refuses that).
  VERTEX* left = e->start();
  auto* tv = new TVERTEX(new APOINT(left->geometry()->coords()), 1e-4);
  e->set_start(tv);
  tv->add_edge(e);
  left->delete_edge(e);
  ENTITY_LIST edges;
  ASSERT_TRUE(api_get_edges(box, edges).ok());
  for (int i = 0; i < edges.count() && left->count_edges() == 0; ++i)
    if (auto* other = static_cast<EDGE*>(edges[i]); other->start() == left || other->end() == left) left->add_edge(other);
  ASSERT_TRUE(api_add_generic_named_attribute(top, "ATTRIB_XVELM_NAME", "top face").ok());
  ASSERT_TRUE(api_add_generic_named_attribute(e, "weight", 2.5).ok());
  new ATTRIB_RGB(box, 1.0, 0.5, 0.0);
  int id = 0;
  ASSERT_TRUE(api_get_entity_id(top, id).ok());

  ENTITY_LIST out, in;
  out.add(box);
  ASSERT_TRUE(round_trip(out, in).ok());
  ASSERT_EQ(in.iteration_count(), 1);
  auto* back = static_cast<BODY*>(in[0]);
  ASSERT_TRUE(is_BODY(back));

  ENTITY_LIST a, b;
  velm_topology_walk(box, a);
  velm_topology_walk(back, b);
  ASSERT_EQ(a.count(), b.count());
  for (int i = 0; i < a.count(); ++i) {
    ASSERT_EQ(a[i]->identity(0), b[i]->identity(0)) << i;
    if (is_COEDGE(a[i])) {
      EXPECT_EQ(static_cast<COEDGE*>(a[i])->sense(), static_cast<COEDGE*>(b[i])->sense());
    }
    if (is_FACE(a[i])) {
      EXPECT_EQ(static_cast<FACE*>(a[i])->sense(), static_cast<FACE*>(b[i])->sense());
      EXPECT_EQ(static_cast<FACE*>(b[i])->geometry()->use_count(), 1);
    }
    if (is_VERTEX(a[i])) {
      auto* va = static_cast<VERTEX*>(a[i]);
      auto* vb = static_cast<VERTEX*>(b[i]);
      EXPECT_EQ(va->geometry()->coords().x(), vb->geometry()->coords().x());  // bit-exact
      EXPECT_EQ(va->get_tolerance(), vb->get_tolerance());
      EXPECT_EQ(vb->geometry()->use_count(), 1);
    }
    if (is_EDGE(a[i])) {
      EXPECT_EQ(static_cast<EDGE*>(a[i])->param_range().end_pt(),
                static_cast<EDGE*>(b[i])->param_range().end_pt());
    }
  }
  FACE* top_back = back->lump()->shell()->face()->next();
  EXPECT_EQ(top_back->entity_id(), id);
  ATTRIB_GEN_NAME* name = named(top_back, "ATTRIB_XVELM_NAME");
  ASSERT_NE(name, nullptr);
  EXPECT_STREQ(static_cast<ATTRIB_GEN_STRING*>(name)->value(), "top face");
  ATTRIB* rgb = find_attrib(back, ATTRIB_ST_TYPE, ATTRIB_RGB_TYPE);
  ASSERT_NE(rgb, nullptr);
  EXPECT_EQ(static_cast<ATTRIB_RGB*>(rgb)->green(), 0.5);
  EXPECT_EQ(rgb->entity(), back);

  EXPECT_TRUE(api_del_entity(box).ok());
  EXPECT_TRUE(api_del_entity(back).ok());
}

// ---------------------------------------------------------------------------
// One entity of every topology class, with what rides along: a body transform,
// a tolerant wire body, a working coordinate system, a group, an entity list
// and attributes of every value kind.
namespace {
struct every_class_model {
  BODY* box = make_box(1.0 / 3.0, 2.0, 3.0);
  FACE* face = box->lump()->shell()->face();
  LOOP* loop = face->loop();
  COEDGE* coedge = loop->start();
  EDGE* edge = coedge->edge();
  VERTEX* vertex = edge->start();
  TVERTEX* tv0 = new TVERTEX(new APOINT(0.1, 0.2, 0.3), 1e-4);
  TVERTEX* tv1 = new TVERTEX(new APOINT(1.0 / 7.0, 0.0, 0.0), 2e-4);
  TEDGE* tedge = nullptr;
  TCOEDGE* tcoedge = nullptr;
  WIRE* wire = nullptr;
  BODY* wire_body = nullptr;
  WCS* wcs = new WCS(QELposition(1, 2, 3), QELunit_vector(0, 1, 0), QELunit_vector(-1, 0, 0));
  QELGROUP* group = new QELGROUP;
  EE_LIST* list = new EE_LIST(0);
  ENTITY_LIST top;

  every_class_model() {
    box->set_transform(new TRANSFORM(rotate_transf(0.3, QELvector(1, 2, 3)) * scale_transf(1.5)));
    const QELinterval range(0.0, 1.0 / 9.0);
    // The line from tv0 to tv1 over the range (the restore holds an edge's vertices to its curve).
    const QELposition from = tv0->geometry()->coords(), to = tv1->geometry()->coords();
    auto* line = new STRAIGHT(straight(from, QELunit_vector(to - from), distance(from, to) / range.end_pt()));
    tedge = new TEDGE(tv0, tv1, line, FORWARD, EDGE_cvty_unknown, &range, 3e-5);
    tcoedge = new TCOEDGE(tedge, FORWARD);
    tcoedge->set_3D_curve(new CURVE);
    tcoedge->set_param_range(QELinterval(0.25, 1.0 / 3.0));
    wire = new WIRE(tcoedge, nullptr);
    wire_body = new BODY(wire);
    group->add_ent(face);
    group->add_ent(tedge);
    list->add(wcs);
    list->add(tv1);
    EXPECT_TRUE(api_add_generic_named_attribute(face, "s", "text").ok());
    EXPECT_TRUE(api_add_generic_named_attribute(face, "w", L"wide").ok());
    EXPECT_TRUE(api_add_generic_named_attribute(face, "i", -7).ok());
    EXPECT_TRUE(api_add_generic_named_attribute(edge, "r", 0.1).ok());
    EXPECT_TRUE(api_add_generic_named_attribute(vertex, "v", QELvector(1.0 / 3.0, 0, -1), split_keep,
                                                merge_keep_survivor, trans_apply, copy_copy)
                    .ok());
    new ATTRIB_GEN_POINTER(edge, "p", this);
    new ATTRIB_RGB(box, 1.0, 0.5, 1.0 / 3.0);
    new ATTRIB_COL(tedge, -3);
    new ATTRIB_RENDER(vertex, rgb_color(0.2, 0.4, 0.6));
    new NO_MERGE_ATTRIB(edge);
    for (ENTITY* e : {static_cast<ENTITY*>(box), static_cast<ENTITY*>(wire_body),
                      static_cast<ENTITY*>(wcs), static_cast<ENTITY*>(group),
                      static_cast<ENTITY*>(list)})
      top.add(e);
  }
  ~every_class_model() { lose_model(top); }

  static void lose_model(ENTITY_LIST& top) {
    for (int i = top.count() - 1; i >= 0; --i)
      if (ENTITY* e = top[i]; e && velm_is_live_entity(e)) {
        if (is_BODY(e))
          EXPECT_TRUE(api_del_entity(e).ok());
        else
          e->lose();
      }
  }
};

// Fields of the first record of the class ("-3 face 1 $-1 0 ...").
std::vector<std::string> first_record(const std::string& text, const std::string& cls) {
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream in(line);
    std::vector<std::string> fields;
    for (std::string f; in >> f;) fields.push_back(f);
    if (fields.size() > 2 && fields[0][0] == '-' && fields[1] == cls) return fields;
  }
  ADD_FAILURE() << "no " << cls << " record";
  return {"-0", cls};
}

// The file with field `field` of the first `cls` record pointing at the first `target` record.
std::string relinked(const std::string& text, const std::string& cls, std::size_t field,
                     const std::string& target) {
  std::vector<std::string> rec = first_record(text, cls);
  std::string line;
  for (std::size_t k = 0; k < rec.size(); ++k)
    line += (k ? " " : "") + (k == field ? "$" + first_record(text, target)[0].substr(1) : rec[k]);
  std::string whole;
  for (std::size_t k = 0; k < rec.size(); ++k) whole += (k ? " " : "") + rec[k];
  std::string out = text;
  out.replace(out.find(whole), whole.size(), line);
  return out;
}
}  // namespace

TEST(TopologySave, EveryClassFieldSurvivesARoundTripBitExact) {
  long live = velm_live_entity_count();
  {
    every_class_model m;
    std::string first = saved_records(m.top);
    for (const char* cls : {"body", "lump", "shell", "face", "loop", "coedge", "tcoedge", "edge",
                            "tedge", "vertex", "tvertex", "wire", "point", "transform", "wcs",
                            "eelist", "group", "collection_attrib", "render", "col", "no_merge"})
      EXPECT_NE(first.find(std::string(" ") + cls + " "), std::string::npos) << cls;
    ENTITY_LIST back;
    ASSERT_TRUE(restore_text(saved_file(m.top), back).ok());
    ASSERT_EQ(back.count(), m.top.count());
    // Saving what came back gives the same records: every saved field came back exactly.
    EXPECT_EQ(saved_records(back), first);
    auto* wb = static_cast<BODY*>(back[1]);
    EXPECT_EQ(model_problems(wb), "");
    EXPECT_EQ(wb->wire()->coedge()->edge()->start()->geometry()->use_count(), 1);
    every_class_model::lose_model(back);
  }
  EXPECT_EQ(velm_live_entity_count(), live);
}

TEST(TopologySave, LinkToAnEntityOfTheWrongClassIsDamage) {
  long live = velm_live_entity_count();
  std::string text;
  {
    every_class_model m;
    text = saved_file(m.top);
  }
  const int damaged = qelvelm_api_errmod.message_code(VELM_SAVE_FILE_DAMAGED);
  ENTITY_LIST ok;
  ASSERT_TRUE(restore_text(text, ok).ok());
  every_class_model::lose_model(ok);
  struct { const char* cls; std::size_t field; const char* target; } cases[] = {
      {"face", 8, "vertex"},    // the surface
      {"coedge", 9, "edge"},    // the owner (a loop or a wire)
      {"vertex", 3, "face"},    // the attribute chain
      {"wcs", 5, "point"},      // the transform
      {"edge", 5, "coedge"},    // the start vertex
  };
  for (const auto& c : cases) {
    ENTITY_LIST out;
    outcome o = restore_text(relinked(text, c.cls, c.field, c.target), out);
    EXPECT_EQ(o.error_number(), damaged) << c.cls << " field " << c.field;
    EXPECT_EQ(out.count(), 0);
  }
  EXPECT_EQ(velm_live_entity_count(), live);
}

TEST(TopologyRollBack, EverySetterIsUndoneByAFailedFrame) {
  long live = velm_live_entity_count();
  {
    every_class_model m;
    FACE* f2 = m.face->next();
    LOOP* l2 = f2->loop();
    COEDGE* c2 = m.coedge->next();
    EDGE* e2 = c2->edge();
    VERTEX* v2 = m.edge->end();
    LUMP* lump = m.box->lump();
    SHELL* shell = lump->shell();
    ATTRIB* rgb = find_attrib(m.box, ATTRIB_ST_TYPE, ATTRIB_RGB_TYPE);
    const QELinterval range(-1.0, 2.0);
    const QELtransf shift = translate_transf(QELvector(1, 0, 0));
    struct setter {
      const char* name;
      std::function<void()> change;
    };
    const setter setters[] = {
        {"BODY::set_lump", [&] { m.box->set_lump(nullptr); }},
        {"BODY::set_wire", [&] { m.box->set_wire(m.wire); }},
        {"BODY::set_transform", [&] { m.box->set_transform(nullptr); }},
        {"LUMP::set_next", [&] { lump->set_next(new LUMP); }},
        {"LUMP::set_shell", [&] { lump->set_shell(nullptr); }},
        {"LUMP::set_body", [&] { lump->set_body(m.wire_body); }},
        {"SHELL::set_next", [&] { shell->set_next(new SHELL); }},
        {"SHELL::set_face", [&] { shell->set_face(f2); }},
        {"SHELL::set_wire", [&] { shell->set_wire(m.wire); }},
        {"SHELL::set_lump", [&] { shell->set_lump(nullptr); }},
        {"FACE::set_next", [&] { m.face->set_next(nullptr); }},
        {"FACE::set_loop", [&] { m.face->set_loop(l2); }},
        {"FACE::set_shell", [&] { m.face->set_shell(nullptr); }},
        {"FACE::set_geometry", [&] { m.face->set_geometry(nullptr); }},
        {"FACE::set_sense", [&] { m.face->set_sense(REVERSED); }},
        {"FACE::set_sides", [&] { m.face->set_sides(1); }},
        {"FACE::set_cont", [&] { m.face->set_cont(1); }},
        {"FACE::set_bound", [&] { m.face->set_bound(new QELbox(QELposition(), QELposition(1, 1, 1))); }},
        {"LOOP::set_start", [&] { m.loop->set_start(c2); }},
        {"LOOP::set_next", [&] { m.loop->set_next(l2); }},
        {"LOOP::set_face", [&] { m.loop->set_face(f2); }},
        {"LOOP::set_classification", [&] { m.loop->set_classification(2); }},
        {"LOOP::reverse", [&] { m.loop->reverse(); }},
        {"COEDGE::set_next", [&] { m.coedge->set_next(m.coedge); }},
        {"COEDGE::set_previous", [&] { m.coedge->set_previous(m.coedge); }},
        {"COEDGE::set_partner", [&] { m.coedge->set_partner(nullptr); }},
        {"COEDGE::set_edge", [&] { m.coedge->set_edge(e2); }},
        {"COEDGE::set_sense", [&] { m.coedge->set_sense(REVERSED); }},
        {"COEDGE::set_loop", [&] { m.coedge->set_loop(l2); }},
        {"COEDGE::set_wire", [&] { m.coedge->set_wire(m.wire); }},
        {"COEDGE::set_owner", [&] { m.coedge->set_owner(nullptr); }},
        {"COEDGE::set_geometry", [&] { m.coedge->set_geometry(new PCURVE); }},
        {"TCOEDGE::set_param_range", [&] { m.tcoedge->set_param_range(range); }},
        {"TCOEDGE::set_3D_curve", [&] { m.tcoedge->set_3D_curve(nullptr); }},
        {"EDGE::set_start", [&] { m.edge->set_start(v2); }},
        {"EDGE::set_end", [&] { m.edge->set_end(nullptr); }},
        {"EDGE::set_coedge", [&] { m.edge->set_coedge(c2); }},
        {"EDGE::set_geometry", [&] { m.edge->set_geometry(nullptr); }},
        {"EDGE::set_sense", [&] { m.edge->set_sense(REVERSED); }},
        {"EDGE::set_param_range", [&] { m.edge->set_param_range(&range); }},
        {"EDGE::set_bound", [&] { m.edge->set_bound(new QELbox(QELposition(), QELposition(1, 1, 1))); }},
        {"TEDGE::set_tolerance", [&] { m.tedge->set_tolerance(0.5); }},
        {"TEDGE::set_update", [&] { m.tedge->set_update(1); }},
        {"VERTEX::set_geometry", [&] { m.vertex->set_geometry(new APOINT(9, 9, 9)); }},
        {"VERTEX::add_edge", [&] { m.vertex->add_edge(e2); }},
        {"VERTEX::delete_edge", [&] { m.vertex->delete_edge(m.vertex->edge(0)); }},
        {"VERTEX::set_edge", [&] { m.vertex->set_edge(nullptr); }},
        {"VERTEX::set_bound", [&] { m.vertex->set_bound(new QELbox(QELposition(), QELposition(1, 1, 1))); }},
        {"TVERTEX::set_tolerance", [&] { m.tv0->set_tolerance(0.5); }},
        {"TVERTEX::set_update", [&] { m.tv0->set_update(1); }},
        {"WIRE::set_coedge", [&] { m.wire->set_coedge(nullptr); }},
        {"WIRE::set_next", [&] { m.wire->set_next(new WIRE); }},
        {"WIRE::set_body", [&] { m.wire->set_body(m.box); }},
        {"WIRE::set_shell", [&] { m.wire->set_shell(shell); }},
        {"APOINT::set_coords", [&] { m.vertex->geometry()->set_coords(QELposition(5, 5, 5)); }},
        {"TRANSFORM::set_transform", [&] { m.box->transform()->set_transform(shift); }},
        {"TRANSFORM::operator*=", [&] { *m.box->transform() *= shift; }},
        {"WCS::apply_transform", [&] { ENTITY_LIST done; m.wcs->apply_transform(shift, done); }},
        {"EE_LIST::add", [&] { m.list->add(m.box); }},
        {"EE_LIST::remove", [&] { m.list->remove(m.wcs); }},
        {"QELCOLLECTION::add_ent", [&] { m.group->add_ent(m.wcs); }},
        {"QELCOLLECTION::remove_ent", [&] { m.group->remove_ent(m.face); }},
        {"QELCOLLECTION::set_collection_save_behavior", [&] { m.group->set_collection_save_behavior(1); }},
        {"QELCOLLECTION::set_collection_empty_behavior", [&] { m.group->set_collection_empty_behavior(1); }},
        {"ATTRIB::unhook", [&] { rgb->unhook(); }},
        {"ATTRIB::move", [&] { rgb->move(m.wire_body); }},
        {"ATTRIB::lose", [&] { rgb->lose(); }},
        {"ATTRIB_GEN_STRING::set_value", [&] { static_cast<ATTRIB_GEN_STRING*>(named(m.face, "s"))->set_value("x"); }},
        {"ATTRIB_GEN_WSTRING::set_value", [&] { static_cast<ATTRIB_GEN_WSTRING*>(named(m.face, "w"))->set_value(L"x"); }},
        {"ATTRIB_GEN_INTEGER::set_value", [&] { static_cast<ATTRIB_GEN_INTEGER*>(named(m.face, "i"))->set_value(1); }},
        {"ATTRIB_GEN_REAL::set_value", [&] { static_cast<ATTRIB_GEN_REAL*>(named(m.edge, "r"))->set_value(1.0); }},
        {"ATTRIB_GEN_VECTOR::set_value", [&] { static_cast<ATTRIB_GEN_VECTOR*>(named(m.vertex, "v"))->set_value(QELvector(1, 1, 1)); }},
        {"trans_attrib", [&] { trans_attrib(m.vertex, scale_transf(2.0)); }},
        {"api_add_generic_named_attribute", [&] { api_add_generic_named_attribute(m.face, "s", 1.5); }},
        {"api_remove_generic_named_attribute", [&] { api_remove_generic_named_attribute(m.face, "i"); }},
    };
    // The model's records as saved; a change the save refuses (an edge taken
    // off its curve, a face's surface taken away) shows as the refusal.
    const auto state = [&] {
      memfile f;
      if (!api_save_entity_list(f.fp, 1, m.top).ok()) {
        set_global_error_info(nullptr);
        return std::string("refused: ") + velm_last_save_refusal();
      }
      const std::string text = f.text();
      return text.substr(text.find('\n', text.find('\n') + 1) + 1);
    };
    const std::string before = state();
    ASSERT_EQ(before.rfind("refused: ", 0), std::string::npos) << before;
    const outcome failed(qelvelm_api_errmod.message_code(VELM_API_FAILED));
    for (const setter& s : setters) {
      api_bb_begin(true);
      s.change();
      EXPECT_TRUE(state() != before) << s.name << " changed nothing";
      api_bb_end(failed, true, false);
      EXPECT_TRUE(state() == before) << s.name << " was not rolled back";
    }
    EXPECT_EQ(model_problems(m.box), "");
  }
  EXPECT_EQ(velm_live_entity_count(), live);
}

// A box handed to an entity is the entity's at once: when the before-image
// cannot be made, the box goes too (the leak check of the run sees it).
TEST(Topology, ABoundWhoseBeforeImageFailsIsFreed) {
  BODY* box = make_box();
  FACE* face = box->lump()->shell()->face();
  EDGE* edge = face->loop()->start()->edge();
  VERTEX* vertex = edge->start();
  for (ENTITY* e : {static_cast<ENTITY*>(face), static_cast<ENTITY*>(edge), static_cast<ENTITY*>(vertex)}) {
    api_bb_begin(true);
    velm_test_fail_alloc(nullptr, 1);
    bool refused = false;
    try {
      auto* bound = new QELbox(QELposition(0, 0, 0), QELposition(1, 1, 1));
      if (is_FACE(e)) static_cast<FACE*>(e)->set_bound(bound);
      if (is_EDGE(e)) static_cast<EDGE*>(e)->set_bound(bound);
      if (is_VERTEX(e)) static_cast<VERTEX*>(e)->set_bound(bound);
    } catch (const velm_exception&) {
      refused = true;
    }
    velm_test_reset();
    api_bb_end(outcome(VELM_API_FAILED), true, false);
    EXPECT_TRUE(refused) << e->type_name();
  }
  EXPECT_TRUE(api_del_entity(box).ok());
}

// Two squares touching at one corner: the corner keeps one edge of each fan,
// whatever references it held before; a vertex already so referenced keeps
// its references in their order.
TEST(TopologyQueries, VertexKeepsOneEdgeReferencePerFan) {
  std::vector<VERTEX*> v;
  for (auto [x, y] : {std::pair{0, 0}, {1, 0}, {1, 1}, {0, 1}, {2, 1}, {2, 2}, {1, 2}})
    v.push_back(new VERTEX(new APOINT(x, y, 0)));
  VERTEX* corner = v[2];
  std::vector<EDGE*> edges;
  FACE* faces[2] = {};
  const int rings[2][4] = {{0, 1, 2, 3}, {2, 4, 5, 6}};
  for (int f = 0; f < 2; ++f) {
    COEDGE* ring[4];
    for (int k = 0; k < 4; ++k) {
      EDGE* e = new EDGE(v[rings[f][k]], v[rings[f][(k + 1) % 4]], nullptr, FORWARD);
      edges.push_back(e);
      ring[k] = new COEDGE(e, FORWARD);
    }
    for (int k = 0; k < 4; ++k) {
      ring[k]->set_next(ring[(k + 1) % 4]);
      ring[(k + 1) % 4]->set_previous(ring[k]);
    }
    faces[f] = new FACE(new LOOP(ring[0]), nullptr, nullptr, FORWARD);
  }
  faces[0]->set_next(faces[1]);
  BODY* body = new BODY(new LUMP(new SHELL(faces[0])));
  // Every edge at the corner referenced, the second fan's first.
  corner->set_edge(edges[4]);
  for (EDGE* e : {edges[7], edges[1], edges[2]}) corner->add_edge(e);
  minimize_vertex_edges(corner);
  ASSERT_EQ(corner->count_edges(), 2);
  EXPECT_EQ(corner->edge(0), edges[4]);
  EXPECT_EQ(corner->edge(1), edges[1]);
  ENTITY_LIST around;
  sg_q_edges_around_vertex(corner, &around);
  EXPECT_EQ(around.iteration_count(), 4);
  minimize_vertex_edges(corner);
  EXPECT_EQ(corner->edge(0), edges[4]);
  EXPECT_EQ(corner->edge(1), edges[1]);
  // A plain corner of one square keeps a single reference.
  v[0]->add_edge(edges[3]);
  minimize_vertex_edges(v[0]);
  EXPECT_EQ(v[0]->count_edges(), 1);
  EXPECT_EQ(model_problems(body), "");
  api_del_entity(body);
}

// A box lives beside the entity only once set, shared with the entity's
// before-images and copies: a change replaces it for the changed entity alone,
// a roll-back brings the old one back, and a face without one computes its box.
TEST(Topology, BoxesAreKeptOnlyWhenSetAndSharedSafely) {
  BODY* box = make_box();
  FACE* face = box->lump()->shell()->face();
  ASSERT_EQ(face->bound(), nullptr);
  const QELbox computed = get_face_box(face);
  EXPECT_FALSE(computed.empty());
  EXPECT_GT(computed.diagonal(), 9.0);

  const QELbox first(QELposition(-5, -5, -5), QELposition(50, 50, 50));
  const QELbox second(QELposition(1, 2, 3), QELposition(4, 5, 6));
  const auto same = [](const QELbox* b, const QELbox& want) {
    return b && distance(b->low(), want.low()) == 0.0 && distance(b->high(), want.high()) == 0.0;
  };
  face->set_bound(new QELbox(first));
  EXPECT_TRUE(same(face->bound(), first));
  EXPECT_EQ(distance(get_face_box(face).high(), first.high()), 0.0);

  BODY* copy = nullptr;
  ASSERT_TRUE(api_copy_body(box, copy).ok());
  FACE* copied = copy->lump()->shell()->face();
  EXPECT_TRUE(same(copied->bound(), first));
  copied->set_bound(new QELbox(second));
  EXPECT_TRUE(same(face->bound(), first)) << "changing the copy's box reached the original";

  for (QELbox* replacement : {new QELbox(second), static_cast<QELbox*>(nullptr)}) {
    api_bb_begin(true);
    face->set_bound(replacement);
    EXPECT_EQ(face->bound() != nullptr, replacement != nullptr);
    api_bb_end(outcome(qelvelm_api_errmod.message_code(VELM_API_FAILED)), true, false);
    EXPECT_TRUE(same(face->bound(), first)) << "the box was not rolled back";
  }
  EXPECT_TRUE(same(copied->bound(), second));

  // Cleared for good: computed again from the geometry.
  face->set_bound(nullptr);
  EXPECT_EQ(distance(get_face_box(face).high(), computed.high()), 0.0);
  EXPECT_TRUE(api_del_entity(copy).ok());
  EXPECT_TRUE(api_del_entity(box).ok());
}

// A vertex with several edge references keeps them in order through changes
// made and rolled back, a copy whose references change alone, and a save.
TEST(Topology, VertexEdgeReferencesSurviveChangeCopyAndSave) {
  BODY* box = make_box();
  ENTITY_LIST edge_list;
  ASSERT_TRUE(api_get_edges(box, edge_list).ok());
  VERTEX* v = static_cast<EDGE*>(edge_list[0])->start();
  std::vector<EDGE*> around;
  for (int i = 0; i < edge_list.count(); ++i) {
    auto* e = static_cast<EDGE*>(edge_list[i]);
    if (e->start() == v || e->end() == v) around.push_back(e);
  }
  ASSERT_EQ(around.size(), 3u);
  v->set_edge(around[2]);
  v->add_edge(around[0]);
  v->add_edge(around[1]);
  v->add_edge(around[0]);  // present already
  const auto refs = [](const VERTEX* x) {
    std::vector<EDGE*> out;
    for (int i = 0; i < x->count_edges(); ++i) out.push_back(x->edge(i));
    return out;
  };
  const std::vector<EDGE*> three = {around[2], around[0], around[1]};
  ASSERT_EQ(refs(v), three);

  ENTITY_LIST top;
  top.add(box);
  const std::string before = saved_records(top);
  BODY* copy = nullptr;
  ASSERT_TRUE(api_copy_body(box, copy).ok());
  ENTITY_LIST copy_top;
  copy_top.add(copy);
  EXPECT_EQ(saved_records(copy_top), before);

  const std::vector<std::function<void()>> changes = {
      [&] { v->delete_edge(around[0]); }, [&] { v->set_edge(around[1]); }, [&] { v->set_edge(nullptr); },
      [&] { v->delete_edge(around[2]); v->delete_edge(around[0]); v->add_edge(around[2]); }};
  for (const auto& change : changes) {
    api_bb_begin(true);
    change();
    EXPECT_NE(refs(v), three);
    api_bb_end(outcome(qelvelm_api_errmod.message_code(VELM_API_FAILED)), true, false);
    EXPECT_EQ(refs(v), three);
  }
  v->delete_edge(around[0]);
  EXPECT_EQ(refs(v), (std::vector<EDGE*>{around[2], around[1]}));
  EXPECT_EQ(saved_records(copy_top), before) << "a change to the original reached the copy";

  ENTITY_LIST restored;
  ASSERT_TRUE(restore_text(saved_file(copy_top), restored).ok());
  EXPECT_EQ(saved_records(restored), before);
  EXPECT_TRUE(api_del_entity_list(restored).ok());
  EXPECT_TRUE(api_del_entity(copy).ok());
  EXPECT_TRUE(api_del_entity(box).ok());
}
