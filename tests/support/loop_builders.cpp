#include "support/loop_builders.hxx"

#include <cmath>
#include <memory>
#include <stdexcept>

#include "support/geometry_builders.hxx"
#include "velm/bspline.hxx"
#include "velm/geometry_entity.hxx"

namespace testkit {
namespace {

// The coedge of one side from corner a to corner b (an iso-line of the surface).
COEDGE* side(const surface& srf, VERTEX* va, VERTEX* vb, const QELpar_pos& a, const QELpar_pos& b) {
  const bool along_u = std::fabs(a.v - b.v) < 1e-15;
  const bool forward = along_u ? a.u < b.u : a.v < b.v;
  const QELpar_pos lo = forward ? a : b, hi = forward ? b : a;
  std::unique_ptr<curve> iso(along_u ? srf.u_param_line(a.v) : srf.v_param_line(a.u));
  if (!iso) throw std::runtime_error("no iso-line");
  const QELinterval range = along_u ? QELinterval(lo.u, hi.u) : QELinterval(lo.v, hi.v);
  auto* edge = new EDGE(forward ? va : vb, forward ? vb : va, make_curve(*iso), FORWARD, EDGE_cvty_unknown, &range);
  auto* coedge = new COEDGE(edge, forward ? FORWARD : REVERSED, nullptr, nullptr);
  const QELposition ends[2] = {QELposition(lo.u, lo.v, 0.0), QELposition(hi.u, hi.v, 0.0)};
  const double knots[4] = {range.start_pt(), range.start_pt(), range.end_pt(), range.end_pt()};
  auto* pc = new PCURVE(pcurve(bs2_curve_from_ctrlpts(1, 0, 0, 0, 2, ends, nullptr, QELresabs, 4, knots, QELresnor), 0.0, srf));
  if (!forward) pc->negate();
  coedge->set_geometry(pc);
  return coedge;
}

LOOP* rect_loop(const surface& srf, const iso_rect& r) {
  const QELpar_pos lo = r.box.low(), hi = r.box.high();
  std::vector<QELpar_pos> corners = {lo, {hi.u, lo.v}, hi, {lo.u, hi.v}};
  if (!r.ccw) std::swap(corners[1], corners[3]);
  std::vector<VERTEX*> v;
  for (const QELpar_pos& c : corners) v.push_back(new VERTEX(new APOINT(srf.eval_position(c))));
  std::vector<COEDGE*> ring;
  for (std::size_t k = 0; k < 4; ++k) ring.push_back(side(srf, v[k], v[(k + 1) % 4], corners[k], corners[(k + 1) % 4]));
  for (std::size_t k = 0; k < 4; ++k) {
    ring[k]->set_next(ring[(k + 1) % 4]);
    ring[(k + 1) % 4]->set_previous(ring[k]);
  }
  return new LOOP(ring.front(), nullptr);
}

}  // namespace

BODY* make_iso_rect_sheet(const surface& srf, const std::vector<iso_rect>& loops, sense_type sense) {
  LOOP* first = nullptr;
  LOOP* last = nullptr;
  for (const iso_rect& r : loops) {
    LOOP* l = rect_loop(srf, r);
    if (last)
      last->set_next(l);
    else
      first = l;
    last = l;
  }
  SURFACE* geometry = make_surface(srf);
  return new BODY(new LUMP(new SHELL(new FACE(first, nullptr, geometry, sense), nullptr), nullptr));
}

plane test_plane() { return plane(QELposition(), QELunit_vector(0.0, 0.0, 1.0)); }
plane turned_plane() { return plane(QELposition(3.0, -2.0, 1.0), normalise(QELvector(1.0, 2.0, 2.0))); }
plane mirrored_plane() {
  plane p(QELposition(0.0, 0.0, 5.0), QELunit_vector(0.0, 0.0, 1.0));
  p.reverse_v = 1;
  return p;
}
cone test_cylinder() {
  return cone(QELposition(), QELunit_vector(0.0, 0.0, 1.0), QELvector(5.0, 0.0, 0.0), 1.0, 0.0, 1.0, 0.0);
}
cone test_cone() {
  return cone(QELposition(), QELunit_vector(0.0, 0.0, 1.0), QELvector(5.0, 0.0, 0.0), 1.0, -0.6, 0.8, 0.0);
}
sphere test_sphere() { return sphere(QELposition(1.0, 2.0, 3.0), 4.0); }
torus test_torus() { return torus(QELposition(), QELunit_vector(0.0, 0.0, 1.0), 10.0, 2.0); }
spline test_spline() {
  bs3_surface bs = make_test_bs3_surface();
  spline s(bs);
  bs3_surface_delete(bs);
  return s;
}

}  // namespace testkit
