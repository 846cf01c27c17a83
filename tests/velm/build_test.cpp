// Manifold classification, separation into bodies, transforms and reversal.
#include <gtest/gtest.h>

#include <numbers>

#include "support/geometry_builders.hxx"
#include "support/model_builders.hxx"
#include "support/query_builders.hxx"
#include "velm/build.hxx"
#include "velm/query.hxx"
#include "velm/testkit.hxx"
#include "velm_test_support.hxx"

using namespace testkit;
using velm_test::loop_type;

namespace {
std::vector<QELposition> vertex_points(const ENTITY* e) {
  ENTITY_LIST vs;
  EXPECT_TRUE(api_get_vertices(e, vs).ok());
  std::vector<QELposition> out;
  for (ENTITY* v = (vs.init(), vs.next()); v; v = vs.next())
    out.push_back(static_cast<VERTEX*>(v)->geometry()->coords());
  return out;
}

QELposition face_centre(const FACE* f) {
  QELbox b;
  for (const QELposition& p : vertex_points(f)) b |= p;
  return b.mid();
}

// Every face's outward normal at its centre points away from the solid's centre,
// every pcurve and edge curve passes through its coedge's ends, and every loop
// still bounds its face the right way.
void expect_sound_solid(BODY* body, const QELposition& centre) {
  EXPECT_EQ(model_problems(body), "");
  EXPECT_TRUE(is_closed_solid_body(body));
  for (FACE* f : faces_of(body)) {
    const surface& s = f->geometry()->equation();
    QELposition c = face_centre(f);
    QELpar_pos uv = s.param(c);
    QELvector n = s.eval_normal(uv);
    if (f->sense() == REVERSED) n = -n;
    EXPECT_GT((c - centre) % n, 0.0) << "face normal points inward";
    EXPECT_EQ(loop_type(f->loop()), loop_type_periphery);
    ENTITY_LIST coedges;
    api_get_coedges(f, coedges);
    for (ENTITY* e = (coedges.init(), coedges.next()); e; e = coedges.next()) {
      auto* ce = static_cast<COEDGE*>(e);
      QELinterval r = ce->param_range();
      const EDGE* ed = ce->edge();
      double t = (ed->sense() == ce->sense() ? 1.0 : -1.0) * r.start_pt();
      EXPECT_LT(distance(ed->geometry()->equation().eval_position(t), ce->start_pos()), 1e-6);
      if (const PCURVE* p = ce->geometry()) {
        EXPECT_LT(distance(s.eval_position(p->def().eval_position(r.start_pt())), ce->start_pos()), 1e-6);
      }
    }
  }
}

// The groups of a manifold classification, freed with it.
struct manifold {
  int n = 0;
  ENTITY_LIST *solid = nullptr, *sheet = nullptr, *lamina = nullptr, *wire = nullptr;
  ENTITY_LIST edges, vertices;
  explicit manifold(BODY* b) { EXPECT_TRUE(api_manifold_class(b, n, solid, sheet, lamina, edges, vertices, wire).ok()); }
  ~manifold() {
    for (ENTITY_LIST* a : {solid, sheet, lamina, wire}) delete[] a;
  }
};

// Applies the transform and bakes it into the geometry.
void bake(BODY* b, const QELtransf& t) {
  ASSERT_TRUE(api_apply_transf(b, t).ok());
  ASSERT_TRUE(api_change_body_trans(b).ok());
}

int count_faces_in(const ENTITY_LIST& bodies) {
  int n = 0;
  for (ENTITY* b = (bodies.init(), bodies.next()); b; b = bodies.next()) n += count_faces(b);
  return n;
}
}  // namespace

TEST(BuildManifold, GroupsByKind) {
  BODY* two = make_two_shell_body(QELposition(20, 0, 0));
  BODY* open = make_sheet(2, 1);
  faces_of(open)[1]->set_sides(1);  // still edge-joined to the first: one group, mixed
  BODY* w = make_wire_body(3);
  {
    manifold m(two);
    ASSERT_EQ(m.n, 2);
    EXPECT_EQ(m.solid[0].iteration_count(), 6);
    EXPECT_EQ(m.solid[1].iteration_count(), 6);
    EXPECT_EQ(m.sheet[0].iteration_count() + m.sheet[1].iteration_count(), 0);
    EXPECT_EQ(m.edges.iteration_count() + m.vertices.iteration_count(), 0);
  }
  {
    manifold m(open);
    ASSERT_EQ(m.n, 1);
    EXPECT_EQ(m.sheet[0].iteration_count(), 2);
    EXPECT_EQ(m.solid[0].iteration_count() + m.lamina[0].iteration_count(), 0);
  }
  {
    manifold m(w);
    ASSERT_EQ(m.n, 1);
    EXPECT_EQ(m.wire[0].iteration_count(), 3);
  }
  for (BODY* b : {two, open, w}) EXPECT_TRUE(api_del_entity(b).ok());
}

TEST(BuildManifold, EdgeOfThreeFacesAndTheVertexWhereTwoFansMeet) {
  BODY* sheet = make_sheet(2, 1);  // two squares sharing the edge x = 1
  std::vector<FACE*> faces = faces_of(sheet);
  // A third face on the shared edge: a copy of the first square's loop would do,
  // but a single extra coedge in the partner ring is what makes the edge non-manifold.
  COEDGE* shared = nullptr;
  for (COEDGE* c = faces[0]->loop()->start();; c = c->next()) {
    if (c->partner()) {
      shared = c;
      break;
    }
  }
  ASSERT_NE(shared, nullptr);
  auto* extra = new COEDGE(shared->edge(), shared->sense(), nullptr, nullptr);
  extra->set_next(extra);
  extra->set_previous(extra);
  extra->set_partner(shared->partner());
  shared->set_partner(extra);
  auto* loop = new LOOP(extra, nullptr);
  faces[1]->loop()->set_next(loop);
  loop->set_face(faces[1]);
  {
    manifold m(sheet);
    EXPECT_EQ(m.edges.iteration_count(), 1);
    EXPECT_TRUE(m.edges.contains(shared->edge()));
  }
  EXPECT_TRUE(api_del_entity(sheet).ok());
}

TEST(BuildSeparate, TwoDisjointShellsBecomeTwoBodies) {
  const long live = velm_live_entity_count();
  BODY* body = make_two_shell_body(QELposition(20, 0, 0));
  ENTITY_LIST more;
  ASSERT_NO_THROW(separate_body_shells(body, more));
  ASSERT_EQ(more.iteration_count(), 1);
  BODY* second = static_cast<BODY*>(more[0]);
  EXPECT_EQ(count_faces(body), 6);
  EXPECT_EQ(count_faces(second), 6);
  EXPECT_EQ(count_lumps(body), 1);
  EXPECT_EQ(model_problems(body), "");
  EXPECT_EQ(model_problems(second), "");
  expect_box(get_body_box(second), {20, 0, 0}, {22, 2, 2});
  ENTITY_LIST none;
  ASSERT_NO_THROW(separate_body_lumps(body, none));
  EXPECT_EQ(none.iteration_count(), 0);
  EXPECT_TRUE(api_del_entity(body).ok());
  EXPECT_TRUE(api_del_entity(second).ok());
  EXPECT_EQ(velm_live_entity_count(), live);  // nothing leaked
}

TEST(BuildSeparate, VoidStaysWithItsSolidAndLumpsSplit) {
  BODY* body = make_two_shell_body(QELposition(4, 4, 4));
  ENTITY_LIST more;
  separate_body_shells(body, more);
  EXPECT_EQ(more.iteration_count(), 0);
  EXPECT_EQ(count_shells(body), 2);

  BODY* lumps = make_two_lump_body();
  separate_body_lumps(lumps, more);
  ASSERT_EQ(more.iteration_count(), 1);
  EXPECT_EQ(count_lumps(lumps), 1);
  EXPECT_EQ(count_faces(lumps) + count_faces_in(more), 12);
  EXPECT_EQ(model_problems(more[0]), "");
  for (ENTITY* b : {static_cast<ENTITY*>(body), static_cast<ENTITY*>(lumps), more[0]})
    EXPECT_TRUE(api_del_entity(b).ok());

  velm_test_fail_call("separate_body_shells", 1, qelvelm_api_errmod.message_code(VELM_API_FAILED));
  EXPECT_THROW(separate_body_shells(nullptr, more), velm_exception);
  velm_test_reset();
}

TEST(BuildSeparate, FacesOfOneShellThatDoNotTouchGetShellsOfTheirOwn) {
  BODY* a = make_plane_box_at(QELposition(), 1, 1, 1);
  BODY* b = make_plane_box_at(QELposition(5, 0, 0), 1, 1, 1);
  // Put b's faces into a's shell: one shell, two edge-connected groups.
  SHELL* s = a->lump()->shell();
  std::vector<FACE*> extra = faces_of(b);
  b->lump()->shell()->set_face(nullptr);
  FACE* last = faces_of(a).back();
  last->set_next(extra.front());
  for (FACE* f : extra) f->set_shell(s);
  EXPECT_TRUE(api_del_entity(b).ok());
  ENTITY_LIST more;
  separate_body_shells(a, more);
  ASSERT_EQ(more.iteration_count(), 1);
  EXPECT_EQ(count_faces(a), 6);
  EXPECT_EQ(count_faces(more[0]), 6);
  EXPECT_EQ(model_problems(a), "");
  EXPECT_TRUE(api_del_entity(a).ok());
  EXPECT_TRUE(api_del_entity(more[0]).ok());
}

TEST(BuildTransform, ApplyThenBakeMovesEveryPoint) {
  BODY* box = make_plane_box(10, 20, 30);
  const std::vector<QELposition> before = vertex_points(box);
  QELtransf t = rotate_transf(std::numbers::pi / 2, QELvector(0, 0, 1)) * translate_transf(QELvector(5, 6, 7));
  ASSERT_TRUE(api_apply_transf(box, t).ok());
  EXPECT_EQ(vertex_points(box)[1].x(), before[1].x());  // only the body transform changed
  ASSERT_NE(box->transform(), nullptr);
  EXPECT_TRUE(same_point(QELposition(1, 0, 0) * get_owner_transf(faces_of(box)[0]->loop()->start()->edge()),
                         QELposition(1, 0, 0) * t));
  ASSERT_TRUE(api_change_body_trans(box).ok());
  EXPECT_EQ(box->transform(), nullptr);
  const std::vector<QELposition> after = vertex_points(box);
  for (std::size_t k = 0; k < before.size(); ++k) EXPECT_LT(distance(after[k], before[k] * t), 1e-9);
  expect_sound_solid(box, QELposition(5, 6, 7) + (QELposition(-10, 5, 15) - QELposition()));
  EXPECT_TRUE(api_del_entity(box).ok());
}

// A new transform leaves the body where it is; negated, the body holds its
// inverse, and the given transform stays unattached and unchanged.
TEST(BuildTransform, ChangingTheTransformKeepsTheBodyInPlaceEitherWay) {
  const QELtransf t = rotate_transf(std::numbers::pi / 3, QELvector(1, 1, 0)) * translate_transf(QELvector(2, -3, 4));
  for (const bool negate : {false, true}) {
    BODY* box = make_plane_box(10, 20, 30);
    const std::vector<QELposition> before = vertex_points(box);
    auto* placement = new TRANSFORM(t);
    ASSERT_TRUE(api_change_body_trans(box, placement, negate).ok());
    ASSERT_NE(box->transform(), nullptr);
    EXPECT_EQ(box->transform() == placement, !negate);
    const QELtransf held = negate ? t.inverse() : t;
    EXPECT_LT(distance(QELposition(1, 2, 3) * box->transform()->transform(), QELposition(1, 2, 3) * held), 1e-9)
        << negate;
    EXPECT_LT(distance(QELposition(1, 2, 3) * placement->transform(), QELposition(1, 2, 3) * t), 1e-12);
    // Where the body is: its points through its transform, as before the change.
    const std::vector<QELposition> stored = vertex_points(box);
    for (std::size_t k = 0; k < before.size(); ++k)
      EXPECT_LT(distance(stored[k] * held, before[k]), 1e-9) << negate;
    EXPECT_TRUE(api_del_entity(box).ok());
    if (negate) placement->lose();
  }
}

// A body's own attributes follow it when the transform is composed; those of
// what it owns follow when the transform is baked in; neither moves twice.
TEST(BuildTransform, VectorAttributesFollowTheBodyOnce) {
  BODY* box = make_plane_box(10, 20, 30);
  FACE* f = faces_of(box)[0];
  auto* on_body = new ATTRIB_GEN_VECTOR(box, "dir", QELvector(1, 0, 0), split_keep, merge_keep_survivor, trans_apply);
  auto* on_face = new ATTRIB_GEN_VECTOR(f, "dir", QELvector(1, 0, 0), split_keep, merge_keep_survivor, trans_apply);
  const QELtransf quarter = rotate_transf(std::numbers::pi / 2, QELvector(0, 0, 1));
  ASSERT_TRUE(api_apply_transf(box, quarter).ok());
  EXPECT_LT(distance(QELposition() + on_body->value(), QELposition(0, 1, 0)), 1e-12);
  EXPECT_LT(distance(QELposition() + on_face->value(), QELposition(1, 0, 0)), 1e-12);
  ASSERT_TRUE(api_change_body_trans(box).ok());
  EXPECT_LT(distance(QELposition() + on_body->value(), QELposition(0, 1, 0)), 1e-12);
  EXPECT_LT(distance(QELposition() + on_face->value(), QELposition(0, 1, 0)), 1e-12);
  EXPECT_TRUE(api_del_entity(box).ok());
}

TEST(BuildTransform, MirrorKeepsFacesPointingOutward) {
  QELtransf mirror = restore_transf(QELmatrix(QELvector(-1, 0, 0), QELvector(0, 1, 0), QELvector(0, 0, 1)),
                                    QELvector(), 1.0, 1, 0, 0);
  ASSERT_TRUE(mirror.reflect());
  BODY* box = make_plane_box(10, 20, 30);
  bake(box, mirror);
  expect_sound_solid(box, QELposition(-5, 10, 15));
  BODY* cyl = make_cylinder(5.0, 8.0);
  bake(cyl, mirror);
  expect_sound_solid(cyl, QELposition(0, 0, 4));
  BODY* cap = make_hemisphere(4.0);
  bake(cap, mirror * translate_transf(QELvector(0, 0, 1)));
  FACE* f = faces_of(cap)[0];
  EXPECT_EQ(loop_type(f->loop()), loop_type_v_sep);
  EXPECT_EQ(point_in_face(QELposition(0, 0, 5), f), pfc_inside);
  EXPECT_EQ(point_in_face(QELposition(0, 0, -3), f), pfc_outside);
  for (BODY* b : {box, cyl, cap}) EXPECT_TRUE(api_del_entity(b).ok());
}

TEST(BuildTransform, FreeEntitiesMoveAtOnce) {
  BODY* sheet = make_square_with_hole();
  FACE* f = faces_of(sheet)[0];
  ASSERT_TRUE(api_apply_transf(f, translate_transf(QELvector(0, 0, 3))).ok());
  EXPECT_EQ(sheet->transform(), nullptr);
  for (const QELposition& p : vertex_points(f)) EXPECT_NEAR(p.z(), 3.0, 1e-12);
  EXPECT_EQ(point_in_face(QELposition(2, 2, 3), f), pfc_inside);
  EXPECT_TRUE(api_del_entity(sheet).ok());
}

TEST(BuildTransform, FailureLeavesTheBodyAsItWas) {
  BODY* box = make_plane_box(10, 20, 30);
  ASSERT_TRUE(api_apply_transf(box, translate_transf(QELvector(1, 2, 3))).ok());
  const std::vector<QELposition> before = vertex_points(box);
  TRANSFORM* held = box->transform();
  velm_test_reset();
  velm_test_fail_alloc(nullptr, 40);  // well inside the walk over the geometry
  outcome o = api_change_body_trans(box);
  velm_test_reset();
  EXPECT_FALSE(o.ok());
  EXPECT_EQ(box->transform(), held);
  const std::vector<QELposition> after = vertex_points(box);
  for (std::size_t k = 0; k < before.size(); ++k) EXPECT_TRUE(same_point(after[k], before[k]));
  EXPECT_EQ(model_problems(box), "");

  velm_test_fail_call("api_change_body_trans", 1, qelvelm_api_errmod.message_code(VELM_API_FAILED));
  EXPECT_EQ(api_change_body_trans(box).error_number(), qelvelm_api_errmod.message_code(VELM_API_FAILED));
  velm_test_reset();
  EXPECT_EQ(box->transform(), held);
  EXPECT_TRUE(api_change_body_trans(box).ok());
  EXPECT_TRUE(same_point(vertex_points(box)[0], before[0] + QELvector(1, 2, 3)));
  EXPECT_TRUE(api_del_entity(box).ok());
}

TEST(BuildReverse, ReversedBodyTurnsInsideOut) {
  BODY* box = make_plane_box();
  ASSERT_TRUE(api_reverse_body(box).ok());
  for (FACE* f : faces_of(box)) {
    EXPECT_EQ(f->sense(), REVERSED);
    EXPECT_EQ(loop_type(f->loop()), loop_type_periphery);
  }
  EXPECT_EQ(model_problems(box), "");
  EXPECT_TRUE(api_del_entity(box).ok());
}
