// Geometry entities: kinds, use counts, save/restore/copy of every equation
// bit-exact, roll-back and transforms, and the hooks topology asks edges through.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>

#include "support/geometry_builders.hxx"
#include "support/model_builders.hxx"
#include "velm/api.hxx"
#include "velm/save.hxx"
#include "velm/testkit.hxx"
#include "velm_test_support.hxx"

using namespace testkit;
using namespace velm_test;

namespace {
using std::numbers::pi;

std::string records(const ENTITY_LIST& list) { return saved_records(list); }
std::string records(ENTITY* e) {
  ENTITY_LIST l;
  l.add(e);
  return saved_records(l);
}

outcome restore(const std::string& records_text, ENTITY_LIST& out, int top_count) {
  const int n_records = static_cast<int>(std::count(records_text.begin(), records_text.end(), '#'));
  return restore_text("VELM-TEXT " + std::to_string(VELM_SAVE_VERSION) + " " + std::to_string(n_records) + " " +
                          std::to_string(top_count) + "\n@4 test @4 date 1 @4 test\n" + records_text,
                      out);
}

int count_kind(const ENTITY* root, int type) {
  ENTITY_LIST all;
  velm_topology_walk(root, all);
  ENTITY_LIST geometry;
  for (int i = 0; i < all.count(); ++i) {
    ENTITY* e = all[i];
    if (is_FACE(e)) geometry.add(static_cast<FACE*>(e)->geometry());
    if (is_EDGE(e)) geometry.add(static_cast<EDGE*>(e)->geometry());
    if (is_COEDGE(e) && static_cast<COEDGE*>(e)->geometry()) geometry.add(static_cast<COEDGE*>(e)->geometry());
  }
  int n = 0;
  for (int i = 0; i < geometry.count(); ++i) n += geometry[i]->identity(geometry[i]->identity(0) == PCURVE_TYPE ? 1 : 2) == type;
  return n;
}

using GeometryEntities = KernelTest;
}  // namespace

TEST_F(GeometryEntities, BuildersCarryTheExpectedKinds) {
  struct {
    BODY* body;
    int kind;
    int count;
  } cases[] = {{make_plane_box(), PLANE_TYPE, 6},       {make_plane_box(), STRAIGHT_TYPE, 12},
               {make_plane_box(), PCURVE_TYPE, 24},     {make_cylinder(), CONE_TYPE, 1},
               {make_cylinder(), ELLIPSE_TYPE, 2},      {make_cylinder(), PCURVE_TYPE, 4},
               {make_hemisphere(), SPHERE_TYPE, 1},     {make_spline_sheet(), SPLINE_TYPE, 1},
               {make_spline_sheet(), INTCURVE_TYPE, 4}, {make_spline_sheet(), PCURVE_TYPE, 4}};
  for (auto& c : cases) {
    EXPECT_EQ(model_problems(c.body), "");
    EXPECT_EQ(count_kind(c.body, c.kind), c.count) << c.kind;
    EXPECT_TRUE(api_del_entity(c.body).ok());
  }
}

// Each pcurve, mapped through its surface, follows its coedge's edge curve.
TEST_F(GeometryEntities, BuilderPcurvesLieOnTheirEdges) {
  for (BODY* body : {make_plane_box(), make_cylinder(), make_hemisphere(), make_spline_sheet()}) {
    ENTITY_LIST coedges;
    ASSERT_TRUE(api_get_coedges(body, coedges).ok());
    for (int i = 0; i < coedges.count(); ++i) {
      auto* c = static_cast<COEDGE*>(coedges[i]);
      if (!c->geometry()) continue;
      const pcurve p = c->geometry()->equation();
      const EDGE* e = c->edge();
      const QELinterval r = e->param_range();
      for (double f : {0.0, 0.3, 1.0}) {
        // Coedge parameter in the coedge's direction; the edge curve at the same place.
        const double t = c->sense() == FORWARD ? r.interpolate(f) : -r.interpolate(f);
        const QELposition on_edge = e->geometry()->curve_point(r.interpolate(f));
        EXPECT_LT(distance(p.surface().eval_position(p.eval_position(t)), on_edge), 1e-9)
            << e->geometry()->type_name() << " at " << f;
      }
    }
    EXPECT_TRUE(api_del_entity(body).ok());
  }
}

TEST_F(GeometryEntities, BodiesSaveRestoreAndCopyBitExact) {
  for (BODY* body : {make_plane_box(1.0 / 3.0, 0.1, 7.0), make_cylinder(std::sqrt(2.0), 3.3), make_hemisphere(),
                     make_spline_sheet()}) {
    const std::string saved = records(body);
    ENTITY_LIST restored;
    ASSERT_TRUE(restore(saved, restored, 1).ok()) << saved;
    ASSERT_EQ(restored.count(), 1);
    EXPECT_EQ(model_problems(restored[0]), "");
    EXPECT_EQ(records(restored[0]), saved);

    BODY* copy = nullptr;
    ASSERT_TRUE(api_copy_body(body, copy).ok());
    EXPECT_EQ(records(copy), saved);
    EXPECT_EQ(model_problems(copy), "");
    for (ENTITY* e : {static_cast<ENTITY*>(body), restored[0], static_cast<ENTITY*>(copy)})
      EXPECT_TRUE(api_del_entity(e).ok());
  }
}

// Standalone entities with every field away from its default.
TEST_F(GeometryEntities, EveryKindRoundTripsWithAllItsFields) {
  const double third = 1.0 / 3.0;
  plane pl(QELposition(third, 2, 3), QELunit_vector(1, 1, third));
  pl.u_deriv = QELvector(0.1, -0.7, third);
  pl.reverse_v = 1;
  pl.limit_u(QELinterval(-1.0, third));
  cone co(QELposition(1, 2, 3), QELunit_vector(0, third, 1), QELvector(3, 0, 0), 0.7, -0.6, -0.8, 1.5);
  co.reverse_u = 1;
  sphere sp(QELposition(0.1, 0.2, 0.3), -2.5);
  sp.origin_dir = QELunit_vector(0, 1, 0);
  torus to(QELposition(1, 1, 1), QELunit_vector(third, 0, 1), -1.0, 2.0);
  straight st(QELposition(third, 0, 0), QELunit_vector(1, 2, 3), 2.5);
  st.limit(QELinterval(-third, 4.0));
  ellipse el(QELposition(1, 2, 3), QELunit_vector(0, 0, 1), QELvector(2, 1, 0), 0.4, 0.3);
  el.negate();
  bs3_surface bs = make_test_bs3_surface();
  spline spl(bs);
  spl.reverse_v = 1;
  skin_spl_sur* skin = new skin_spl_sur(bs3_surface_copy(bs));
  spline skinned(skin);
  const QELposition pts[3] = {QELposition(0, 0, 0), QELposition(1, third, 0), QELposition(2, 0, 1)};
  const double w[3] = {1.0, 0.7, 1.0};
  const double knots[6] = {0, 0, 0, 1, 1, 1};
  bs3_curve rational = bs3_curve_from_ctrlpts(2, 1, 0, 0, 3, pts, w, QELresabs, 6, knots, QELresnor);
  intcurve exact(bs3_curve_copy(rational), 1e-4);
  exact.negate();
  intcurve crossing(bs3_curve_copy(rational), 0.01, &pl, &sp, linear_bs2({0, 0}, {1, third}, {0, 1}), nullptr);
  intcurve on_surface(new par_int_cur(nullptr, 0.0, spl, linear_bs2({0, 0}, {1, third}, {0, 1})));
  pcurve pc(linear_bs2({0.1, 0.2}, {third, 0.9}, {-1, 2}), 1e-5, to);
  pc.negate();
  pc.set_offset(QELpar_vec(2 * pi, -third));

  ENTITY_LIST list;
  for (ENTITY* e : std::initializer_list<ENTITY*>{
           make_surface(pl), make_surface(co), make_surface(sp), make_surface(to), make_surface(spl),
           make_surface(skinned), make_curve(st), make_curve(el), make_curve(exact), make_curve(crossing),
           make_curve(on_surface), make_curve(degenerate_curve(QELposition(third, third, 0))), new PCURVE(pc),
           new PCURVE(crossing, -1)})
    list.add(e);
  for (int i = 0; i < list.count(); ++i) EXPECT_EQ(list[i]->use_count(), 0) << list[i]->type_name();
  const std::string saved = records(list);
  ENTITY_LIST restored;
  ASSERT_TRUE(restore(saved, restored, list.count()).ok()) << saved;
  ASSERT_EQ(restored.count(), list.count());
  EXPECT_EQ(records(restored), saved);
  for (int i = 0; i < list.count(); ++i) EXPECT_EQ(restored[i]->identity(), list[i]->identity());

  // The restored equations evaluate as the originals.
  const QELpar_pos uv(0.3, -0.4);
  for (int i = 0; i < 6; ++i) {
    const surface& a = static_cast<SURFACE*>(list[i])->equation();
    const surface& b = static_cast<SURFACE*>(restored[i])->equation();
    EXPECT_EQ(a.type(), b.type());
    EXPECT_EQ(distance(a.eval_position(uv), b.eval_position(uv)), 0.0) << a.type_name();
    EXPECT_EQ(a.param_range_u(), b.param_range_u());
    EXPECT_EQ(a.left_handed_uv(), b.left_handed_uv());
  }
  for (int i = 6; i < 12; ++i) {
    const curve& a = static_cast<CURVE*>(list[i])->equation();
    const curve& b = static_cast<CURVE*>(restored[i])->equation();
    EXPECT_EQ(a.param_range(), b.param_range()) << a.type_name();
    const double t = a.param_range().finite() ? a.param_range().interpolate(0.3) : 0.7;
    EXPECT_EQ(distance(a.eval_position(t), b.eval_position(t)), 0.0) << a.type_name();
  }
  auto* p = static_cast<PCURVE*>(restored[13]);
  EXPECT_EQ(p->index(), -1);
  EXPECT_TRUE(p->reversed());
  EXPECT_EQ(static_cast<PCURVE*>(restored[12])->equation().offset().dv, -third);

  bs3_surface_delete(bs);
  bs3_curve_delete(rational);
  for (ENTITY_LIST* l : {&list, &restored})
    for (int i = 0; i < l->count(); ++i) (*l)[i]->lose();
}

TEST_F(GeometryEntities, DamagedSplineDataFailsTheRestore) {
  SURFACE* s = make_surface(spline_from(make_test_bs3_surface()));
  std::string saved = records(s);
  s->lose();
  // The u knot vector "8 0 0 0 0 1 1 1 1" loses a knot: the count no longer fits.
  const std::size_t at = saved.find(" 8 0 0 0 0 1 1 1 1");
  ASSERT_NE(at, std::string::npos) << saved;
  // Decreasing knots are damage too.
  for (const char* knots : {" 7 0 0 0 1 1 1 1", " 8 0 0 0 0 1 0 1 1"}) {
    std::string damaged = saved;
    damaged.replace(at, 18, knots);
    ENTITY_LIST out;
    EXPECT_EQ(restore(damaged, out, 1).error_number(), qelvelm_api_errmod.message_code(VELM_SAVE_FILE_DAMAGED)) << knots;
    EXPECT_EQ(out.count(), 0);
  }
}

// Bare entities have no equation; the makers give the kind of theirs.
TEST_F(GeometryEntities, BareEntitiesHaveNoEquationMadeOnesTheirKind) {
  auto* bare_c = new CURVE;
  auto* bare_s = new SURFACE;
  EXPECT_FALSE(bare_c->has_equation());
  EXPECT_EQ(bare_c->type(), -1);
  EXPECT_THROW(bare_c->equation(), velm_exception);
  EXPECT_THROW(bare_s->equation(), velm_exception);
  EXPECT_EQ(bare_c->curve_length(QELinterval(0, 1)), 0.0);
  EXPECT_EQ(bare_c->curve_range().type(), interval_unset);
  CURVE* c = make_curve(straight(QELposition(), QELunit_vector(1, 0, 0)));
  EXPECT_TRUE(is_STRAIGHT(c));
  EXPECT_EQ(c->type(), 1);
  EXPECT_EQ(c->identity(1), CURVE_TYPE);
  SURFACE* s = make_surface(torus(QELposition(), QELunit_vector(0, 0, 1), 3, 1));
  EXPECT_TRUE(is_TORUS(s));
  EXPECT_EQ(s->type(), 4);
  EXPECT_EQ(s->identity(1), SURFACE_TYPE);
  for (ENTITY* e : {static_cast<ENTITY*>(bare_c), static_cast<ENTITY*>(bare_s), static_cast<ENTITY*>(c),
                    static_cast<ENTITY*>(s)})
    e->lose();
}

TEST_F(GeometryEntities, FailedFrameRollsBackAnEquationChange) {
  SURFACE* s = make_surface(sphere(QELposition(), 2.0));
  SPLINE* spl = new SPLINE(spline_from(make_test_bs3_surface()));
  const QELposition before = spl->equation().eval_position({0.5, 0.5});
  api_bb_begin(true);
  static_cast<sphere&>(s->equation_for_update()).radius = 5.0;
  bs3_surface moved = make_test_bs3_surface();
  bs3_surface_reparam_u(0.0, 2.0, moved);
  spl->equation_for_update().set_sur(moved);
  ASSERT_GT(distance(spl->equation().eval_position({0.5, 0.5}), before), 0.1);
  api_bb_end(outcome(qelvelm_api_errmod.message_code(VELM_API_FAILED)), true, false);
  EXPECT_EQ(static_cast<const sphere&>(s->equation()).radius, 2.0);
  EXPECT_EQ(distance(spl->equation().eval_position({0.5, 0.5}), before), 0.0);
  s->lose();
  spl->lose();
}

TEST_F(GeometryEntities, MirrorKeepsPcurvesOnTheirSurfaces) {
  // x -> -x, then a shift: a mirror that moves the surfaces too.
  const QELtransf mirror = restore_transf(QELmatrix(QELvector(-1, 0, 0), QELvector(0, 1, 0), QELvector(0, 0, 1)),
                                          QELvector(0.5, 0, 0), 1.0, 1, 1, 0);
  ASSERT_TRUE(mirror.reflect());
  for (bool on_sphere : {true, false}) {
    surface* srf = on_sphere ? static_cast<surface*>(new sphere(QELposition(1, 2, 3), 2.0))
                             : static_cast<surface*>(new cone(QELposition(), QELunit_vector(0, 0, 1),
                                                              QELvector(2, 0, 0), 1.0, 0.5, std::sqrt(0.75), 0.0));
    auto* p = new PCURVE(pcurve(linear_bs2({0.2, 0.3}, {0.5, 1.5}, {0, 1}), 0.0, *srf));
    SURFACE* s = make_surface(*srf);
    ENTITY_LIST done;
    const QELposition at = srf->eval_position(p->equation().eval_position(0.4));
    ASSERT_TRUE(p->apply_transform(mirror, done));
    ASSERT_TRUE(s->apply_transform(mirror, done));
    const pcurve image = p->equation();
    EXPECT_LT(distance(image.surface().eval_position(image.eval_position(0.4)), at * mirror), 1e-12);
    EXPECT_LT(distance(s->equation().eval_position(image.eval_position(0.4)), at * mirror), 1e-12);
    delete srf;
    p->lose();
    s->lose();
  }
}

TEST_F(GeometryEntities, EdgeLengthAndMidPointComeFromTheCurve) {
  BODY* cyl = make_cylinder(2.0, 5.0);
  ENTITY_LIST edges;
  ASSERT_TRUE(api_get_edges(cyl, edges).ok());
  int circles = 0;
  for (int i = 0; i < edges.count(); ++i) {
    auto* e = static_cast<EDGE*>(edges[i]);
    if (e->geometry()->type() == 2) {
      ++circles;
      EXPECT_NEAR(e->length(), 4 * pi, 1e-9);
      EXPECT_LT(distance(e->mid_pos(), QELposition(2, 0, e->start_pos().z())), 1e-12);
    } else {
      EXPECT_NEAR(e->length(), 5.0, 1e-12);
      EXPECT_LT(distance(e->mid_pos(), QELposition(-2, 0, 2.5)), 1e-12);
    }
  }
  EXPECT_EQ(circles, 2);
  EXPECT_TRUE(api_del_entity(cyl).ok());

  // A reversed edge on a straight: its range is the curve's negated, it still
  // runs from its start vertex to its end vertex.
  auto* a = new VERTEX(new APOINT(QELposition(4, 0, 0)));
  auto* b = new VERTEX(new APOINT(QELposition(1, 0, 0)));
  auto* e = new EDGE(a, b, make_curve(straight(QELposition(), QELunit_vector(1, 0, 0))), REVERSED);
  e->set_param_range(nullptr);
  EXPECT_EQ(e->param_range(), QELinterval(-4.0, -1.0));
  EXPECT_NEAR(e->length(), 3.0, 1e-12);
  EXPECT_LT(distance(e->mid_pos(), QELposition(2.5, 0, 0)), 1e-12);
  EXPECT_EQ(e->geometry()->use_count(), 1);
  e->lose();
  a->lose();
  b->lose();

  // A full circle from a vertex back to it, with no stored range: one turn,
  // negated when reversed.
  for (const sense_type sense : {FORWARD, REVERSED}) {
    auto* v = new VERTEX(new APOINT(QELposition(2, 0, 0)));
    auto* circle = new EDGE(
        v, v, make_curve(ellipse(QELposition(), QELunit_vector(0, 0, 1), QELvector(2, 0, 0), 1.0)), sense);
    const QELinterval turn = circle->param_range();
    EXPECT_NEAR(turn.length(), 2 * pi, 1e-12) << sense;
    EXPECT_NEAR(sense == FORWARD ? turn.start_pt() : -turn.end_pt(), 0.0, 1e-12) << sense;
    EXPECT_NEAR(circle->length(), 4 * pi, 1e-9) << sense;
    circle->lose();
    v->lose();
  }
}
