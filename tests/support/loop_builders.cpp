#include "support/loop_builders.hxx"

#include <cmath>
#include <memory>
#include <stdexcept>

#include "support/geometry_builders.hxx"
#include "velm/bspline.hxx"
#include "velm/geometry_entity.hxx"

namespace testkit {
namespace {

// Corners and sides shared by the faces of one sheet: a side whose corners
// another loop used already lies on that loop's edge, as its partner.
class sheet_builder {
 public:
  // `weld`: corners at one point of the surface (a whole period apart) are
  // one vertex.
  explicit sheet_builder(const surface& srf, bool weld = false) : srf_(srf), weld_(weld) {}

  // A loop through the corners in order, back to the first; a closing side
  // between corners at one point is left out.
  LOOP* polygon_loop(const std::vector<QELpar_pos>& corners) {
    std::vector<COEDGE*> ring;
    for (std::size_t k = 0; k < corners.size(); ++k) {
      const QELpar_pos& a = corners[k];
      const QELpar_pos& b = corners[(k + 1) % corners.size()];
      if (k + 1 == corners.size() && vertex(a) == vertex(b)) break;
      ring.push_back(side(a, b));
    }
    for (std::size_t k = 0; k < ring.size(); ++k) {
      ring[k]->set_next(ring[(k + 1) % ring.size()]);
      ring[(k + 1) % ring.size()]->set_previous(ring[k]);
    }
    return new LOOP(ring.front(), nullptr);
  }

  LOOP* rect_loop(const iso_rect& r) {
    const QELpar_pos lo = r.box.low(), hi = r.box.high();
    std::vector<QELpar_pos> corners = {lo, {hi.u, lo.v}, hi, {lo.u, hi.v}};
    if (!r.ccw) std::swap(corners[1], corners[3]);
    std::vector<COEDGE*> ring;
    for (std::size_t k = 0; k < 4; ++k) ring.push_back(side(corners[k], corners[(k + 1) % 4]));
    for (std::size_t k = 0; k < 4; ++k) {
      ring[k]->set_next(ring[(k + 1) % 4]);
      ring[(k + 1) % 4]->set_previous(ring[k]);
    }
    return new LOOP(ring.front(), nullptr);
  }

 private:
  VERTEX* vertex(const QELpar_pos& p) {
    const QELposition here = srf_.eval_position(p);
    for (auto& [at, v] : vertices_)
      if ((at.u == p.u && at.v == p.v) || (weld_ && (v->geometry()->coords() - here).len() < 1e-9)) return v;
    VERTEX* v = new VERTEX(new APOINT(here));
    vertices_.emplace_back(p, v);
    return v;
  }

  // The coedge of one side from corner a to corner b (an iso-line of the surface).
  COEDGE* side(const QELpar_pos& a, const QELpar_pos& b) {
    const bool along_u = std::fabs(a.v - b.v) < 1e-15;
    const bool increasing = along_u ? a.u < b.u : a.v < b.v;
    const QELpar_pos lo = increasing ? a : b, hi = increasing ? b : a;
    VERTEX* vlo = vertex(lo);
    VERTEX* vhi = vertex(hi);
    const QELinterval range = along_u ? QELinterval(lo.u, hi.u) : QELinterval(lo.v, hi.v);
    COEDGE* other = nullptr;
    for (COEDGE* c : coedges_)
      if (c->edge()->start() == vlo && c->edge()->end() == vhi) other = c;
    EDGE* edge = other ? other->edge() : nullptr;
    if (!edge) {
      std::unique_ptr<curve> iso(along_u ? srf_.u_param_line(a.v) : srf_.v_param_line(a.u));
      if (!iso) throw std::runtime_error("no iso-line");
      edge = new EDGE(vlo, vhi, make_curve(*iso), FORWARD, EDGE_cvty_unknown, &range);
    }
    auto* coedge = new COEDGE(edge, increasing ? FORWARD : REVERSED, nullptr, nullptr);
    const QELposition ends[2] = {QELposition(lo.u, lo.v, 0.0), QELposition(hi.u, hi.v, 0.0)};
    const double knots[4] = {range.start_pt(), range.start_pt(), range.end_pt(), range.end_pt()};
    auto* pc = new PCURVE(pcurve(bs2_curve_from_ctrlpts(1, 0, 0, 0, 2, ends, nullptr, QELresabs, 4, knots, QELresnor), 0.0, srf_));
    if (!increasing) pc->negate();
    coedge->set_geometry(pc);
    if (other) {
      other->set_partner(coedge);
      coedge->set_partner(other);
    }
    coedges_.push_back(coedge);
    return coedge;
  }

  const surface& srf_;
  bool weld_ = false;
  std::vector<std::pair<QELpar_pos, VERTEX*>> vertices_;
  std::vector<COEDGE*> coedges_;
};

}  // namespace

BODY* make_iso_rect_faces(const surface& srf, const std::vector<std::vector<iso_rect>>& faces,
                          const std::vector<sense_type>& senses) {
  sheet_builder builder(srf);
  SURFACE* geometry = make_surface(srf);
  FACE* first_face = nullptr;
  FACE* last_face = nullptr;
  for (std::size_t f = 0; f < faces.size(); ++f) {
    LOOP* first = nullptr;
    LOOP* last = nullptr;
    for (const iso_rect& r : faces[f]) {
      LOOP* l = builder.rect_loop(r);
      if (last)
        last->set_next(l);
      else
        first = l;
      last = l;
    }
    FACE* face = new FACE(first, nullptr, geometry, f < senses.size() ? senses[f] : FORWARD);
    if (last_face)
      last_face->set_next(face);
    else
      first_face = face;
    last_face = face;
  }
  return new BODY(new LUMP(new SHELL(first_face, nullptr), nullptr));
}

BODY* make_iso_rect_sheet(const surface& srf, const std::vector<iso_rect>& loops, sense_type sense) {
  return make_iso_rect_faces(srf, {loops}, {sense});
}

BODY* make_iso_polygon_sheet(const surface& srf, const std::vector<std::vector<QELpar_pos>>& loops) {
  sheet_builder builder(srf, true);
  LOOP* first = nullptr;
  LOOP* last = nullptr;
  for (const std::vector<QELpar_pos>& corners : loops) {
    LOOP* l = builder.polygon_loop(corners);
    if (last)
      last->set_next(l);
    else
      first = l;
    last = l;
  }
  return new BODY(new LUMP(new SHELL(new FACE(first, nullptr, make_surface(srf), FORWARD), nullptr), nullptr));
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
