// Topology entities, kernel-order queries, save round trip and roll-back.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "support/model_builders.hxx"
#include "velm/api.hxx"
#include "velm/bb.hxx"
#include "velm/save.hxx"

using namespace testkit;

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
  auto* tv = new TVERTEX(new APOINT(0.1, 0.2, 0.3), 1e-4);
  e->set_start(tv);  // a tolerant vertex rides along; structure checks are not the point here
  tv->add_edge(e);
  ASSERT_TRUE(api_add_generic_named_attribute(top, "ATTRIB_XVELM_NAME", "top face").ok());
  ASSERT_TRUE(api_add_generic_named_attribute(e, "weight", 2.5).ok());
  new ATTRIB_RGB(box, 1.0, 0.5, 0.0);
  int id = 0;
  ASSERT_TRUE(api_get_entity_id(top, id).ok());

  std::unique_ptr<FILE, int (*)(FILE*)> file(std::tmpfile(), &std::fclose);
  ENTITY_LIST out;
  out.add(box);
  ASSERT_TRUE(api_save_entity_list(file.get(), 1, out).ok());
  std::rewind(file.get());
  ENTITY_LIST in;
  ASSERT_TRUE(api_restore_entity_list(file.get(), 1, in).ok());
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
  ATTRIB_GEN_NAME* name = nullptr;
  ASSERT_TRUE(api_find_named_attribute(top_back, "ATTRIB_XVELM_NAME", name).ok());
  ASSERT_NE(name, nullptr);
  EXPECT_STREQ(static_cast<ATTRIB_GEN_STRING*>(name)->value(), "top face");
  ATTRIB* rgb = find_attrib(back, ATTRIB_ST_TYPE, ATTRIB_RGB_TYPE);
  ASSERT_NE(rgb, nullptr);
  EXPECT_EQ(static_cast<ATTRIB_RGB*>(rgb)->green(), 0.5);
  EXPECT_EQ(rgb->entity(), back);

  EXPECT_TRUE(api_del_entity(box).ok());
  EXPECT_TRUE(api_del_entity(back).ok());
}
