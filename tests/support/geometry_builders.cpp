// Kernel models with real geometry for tests.
#include "support/geometry_builders.hxx"

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <numbers>
#include <vector>

#include "velm/bspline.hxx"
#include "velm/geometry.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology_api.hxx"

namespace testkit {
namespace {
using std::numbers::pi;

// Faces over shared edges; coedges of one edge join its partner ring.
class shape_builder {
 public:
  VERTEX* vertex(const QELposition& p) {
    vertices_.push_back(new VERTEX(new APOINT(p)));
    return vertices_.back();
  }
  EDGE* edge(VERTEX* a, VERTEX* b, CURVE* c, const QELinterval& range) {
    edges_.push_back(new EDGE(a, b, c, FORWARD, EDGE_cvty_unknown, &range));
    return edges_.back();
  }
  struct use {
    EDGE* edge;
    sense_type sense;
    PCURVE* pcurve = nullptr;
  };
  // One loop of coedges in order, material on the left seen from outside.
  FACE* face(SURFACE* s, const std::vector<use>& loop) { return face_of_loops(s, {loop}); }
  // Loops in order (none: the face is its whole surface).
  FACE* face_of_loops(SURFACE* s, const std::vector<std::vector<use>>& loops, sense_type sense = FORWARD) {
    LOOP* first = nullptr;
    LOOP* last = nullptr;
    for (const std::vector<use>& uses : loops) {
      LOOP* l = ring(uses);
      if (last)
        last->set_next(l);
      else
        first = l;
      last = l;
    }
    return new FACE(first, nullptr, s, sense);
  }
  BODY* body(const std::vector<FACE*>& faces) {
    for (std::size_t k = 0; k + 1 < faces.size(); ++k) faces[k]->set_next(faces[k + 1]);
    for (EDGE* e : edges_) {
      e->start()->add_edge(e);
      e->end()->add_edge(e);
    }
    for (VERTEX* v : vertices_) minimize_vertex_edges(v);
    return new BODY(new LUMP(new SHELL(faces.front(), nullptr), nullptr));
  }

 private:
  LOOP* ring(const std::vector<use>& loop) {
    std::vector<COEDGE*> ring;
    for (const use& u : loop) {
      auto* c = new COEDGE(u.edge, u.sense, nullptr, nullptr);
      if (COEDGE* first = u.edge->coedge(); first != c) {
        c->set_partner(first->partner() ? first->partner() : first);
        first->set_partner(c);
      }
      if (u.pcurve) c->set_geometry(u.pcurve);
      ring.push_back(c);
    }
    for (std::size_t k = 0; k < ring.size(); ++k) {
      ring[k]->set_next(ring[(k + 1) % ring.size()]);
      ring[(k + 1) % ring.size()]->set_previous(ring[k]);
    }
    return new LOOP(ring.front(), nullptr);
  }

  std::vector<VERTEX*> vertices_;
  std::vector<EDGE*> edges_;
};

// A pcurve along the edge's range, reversed for a reversed coedge.
PCURVE* iso_pcurve(const surface& s, const QELpar_pos& at_start, const QELpar_pos& at_end,
                   const QELinterval& edge_range, sense_type sense) {
  auto* p = new PCURVE(pcurve(linear_bs2(at_start, at_end, edge_range), 0.0, s));
  if (sense == REVERSED) p->negate();
  return p;
}
}  // namespace

double worst_pcurve_gap(const COEDGE* c) {
  const EDGE* e = c->edge();
  const curve& eq = e->geometry()->equation();
  const pcurve& p = c->geometry()->def();
  const QELinterval r = edge_curve_range(e);
  const double sign = c->sense() == e->sense() ? 1.0 : -1.0;
  double worst = 0.0;
  for (int k = 0; k <= 16; ++k) {
    const double t = r.interpolate(k / 16.0);
    worst = std::max(worst, distance(eq.eval_position(t), p.surface().eval_position(p.eval_position(sign * t))));
  }
  return worst;
}

bs2_curve linear_bs2(const QELpar_pos& a, const QELpar_pos& b, const QELinterval& r) {
  const QELposition pts[2] = {QELposition(a.u, a.v, 0.0), QELposition(b.u, b.v, 0.0)};
  const double knots[4] = {r.start_pt(), r.start_pt(), r.end_pt(), r.end_pt()};
  return bs2_curve_from_ctrlpts(1, 0, 0, 0, 2, pts, nullptr, QELresabs, 4, knots, QELresnor);
}

void flatten_loop_pcurves(FACE* face, bool acrossU) {
  const COEDGE* first = face->loop()->start();
  const COEDGE* c = first;
  do {
    auto* coedge = const_cast<COEDGE*>(c);
    const QELinterval range = coedge->param_range();
    const pcurve& old = coedge->geometry()->def();
    QELpar_pos a = old.eval_position(range.start_pt()), b = old.eval_position(range.end_pt());
    (acrossU ? a.u : a.v) = 0.5;
    (acrossU ? b.u : b.v) = 0.5;
    coedge->set_geometry(new PCURVE(pcurve(linear_bs2(a, b, range), 0.0, face->geometry()->equation())));
    c = c->next();
  } while (c != first);
}

BODY* make_plane_box(double dx, double dy, double dz) {
  shape_builder b;
  std::vector<VERTEX*> v;
  const double corners[4][2] = {{0.0, 0.0}, {dx, 0.0}, {dx, dy}, {0.0, dy}};
  for (double z : {0.0, dz})
    for (const auto& c : corners) v.push_back(b.vertex(QELposition(c[0], c[1], z)));
  std::map<std::pair<int, int>, EDGE*> edges;
  auto point = [&](int i) { return v[i]->geometry()->coords(); };
  std::vector<FACE*> faces;
  const std::vector<std::vector<int>> loops = {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4},
                                               {1, 2, 6, 5}, {2, 3, 7, 6}, {3, 0, 4, 7}};
  for (const std::vector<int>& loop : loops) {
    const QELvector n = (point(loop[1]) - point(loop[0])) * (point(loop[2]) - point(loop[1]));
    plane pl(point(loop[0]), QELunit_vector(n));
    auto* surf = new PLANE(pl);
    std::vector<shape_builder::use> uses;
    for (std::size_t k = 0; k < loop.size(); ++k) {
      const int a = loop[k], c = loop[(k + 1) % loop.size()];
      EDGE*& e = edges[{std::min(a, c), std::max(a, c)}];
      if (!e) {
        const int s = std::min(a, c), t = std::max(a, c);
        const double len = distance(point(s), point(t));
        e = b.edge(v[s], v[t], new STRAIGHT(straight(point(s), QELunit_vector(point(t) - point(s)))),
                   QELinterval(0.0, len));
      }
      const sense_type sense = e->start() == v[a] ? FORWARD : REVERSED;
      PCURVE* p = iso_pcurve(pl, pl.param(e->start_pos()), pl.param(e->end_pos()), e->param_range(), sense);
      uses.push_back({e, sense, p});
    }
    faces.push_back(b.face(surf, uses));
  }
  return b.body(faces);
}

BODY* make_cylinder(double radius, double height) {
  shape_builder b;
  VERTEX* low = b.vertex(QELposition(-radius, 0.0, 0.0));
  VERTEX* high = b.vertex(QELposition(-radius, 0.0, height));
  const QELunit_vector z(0.0, 0.0, 1.0);
  const QELvector major(radius, 0.0, 0.0);
  const QELinterval turn(-pi, pi);
  EDGE* bottom = b.edge(low, low, new ELLIPSE(ellipse(QELposition(), z, major, 1.0)), turn);
  EDGE* top = b.edge(high, high, new ELLIPSE(ellipse(QELposition(0.0, 0.0, height), z, major, 1.0)), turn);
  EDGE* seam = b.edge(low, high, new STRAIGHT(straight(QELposition(-radius, 0.0, 0.0), z)),
                      QELinterval(0.0, height));
  const cone side(QELposition(), z, major, 1.0, 0.0, 1.0, 0.0);
  const double u_top = height / radius;
  FACE* wall = b.face(new CONE(side), {{bottom, FORWARD, iso_pcurve(side, {0.0, -pi}, {0.0, pi}, turn, FORWARD)},
                                       {seam, FORWARD, iso_pcurve(side, {0.0, pi}, {u_top, pi}, seam->param_range(), FORWARD)},
                                       {top, REVERSED, iso_pcurve(side, {u_top, -pi}, {u_top, pi}, turn, REVERSED)},
                                       {seam, REVERSED, iso_pcurve(side, {0.0, -pi}, {u_top, -pi}, seam->param_range(), REVERSED)}});
  FACE* floor = b.face(new PLANE(plane(QELposition(), -z)), {{bottom, REVERSED}});
  FACE* roof = b.face(new PLANE(plane(QELposition(0.0, 0.0, height), z)), {{top, FORWARD}});
  return b.body({wall, floor, roof});
}

BODY* make_cylinder_sector(double radius, double height, double angle) {
  shape_builder b;
  const QELunit_vector z(0.0, 0.0, 1.0);
  const QELposition rim(radius * std::cos(angle), radius * std::sin(angle), 0.0);
  VERTEX* o0 = b.vertex(QELposition());
  VERTEX* a0 = b.vertex(QELposition(radius, 0.0, 0.0));
  VERTEX* b0 = b.vertex(rim);
  VERTEX* o1 = b.vertex(QELposition(0.0, 0.0, height));
  VERTEX* a1 = b.vertex(QELposition(radius, 0.0, height));
  VERTEX* b1 = b.vertex(rim + height * z);
  const auto line = [&](VERTEX* from, VERTEX* to) {
    const QELposition p = from->geometry()->coords(), q = to->geometry()->coords();
    return b.edge(from, to, new STRAIGHT(straight(p, QELunit_vector(q - p))), QELinterval(0.0, distance(p, q)));
  };
  const auto arc = [&](VERTEX* from, VERTEX* to, double at) {
    return b.edge(from, to, new ELLIPSE(ellipse(QELposition(0.0, 0.0, at), z, QELvector(radius, 0.0, 0.0), 1.0)),
                  QELinterval(0.0, angle));
  };
  EDGE* arc0 = arc(a0, b0, 0.0);
  EDGE* arc1 = arc(a1, b1, height);
  EDGE* oa0 = line(o0, a0);
  EDGE* ob0 = line(o0, b0);
  EDGE* oa1 = line(o1, a1);
  EDGE* ob1 = line(o1, b1);
  EDGE* axis = line(o0, o1);
  EDGE* up_a = line(a0, a1);
  EDGE* up_b = line(b0, b1);
  const QELunit_vector side_b(-std::sin(angle), std::cos(angle), 0.0);
  FACE* wall = b.face(new CONE(cone(QELposition(), z, QELvector(radius, 0.0, 0.0), 1.0, 0.0, 1.0, 0.0)),
                      {{arc0, FORWARD}, {up_b, FORWARD}, {arc1, REVERSED}, {up_a, REVERSED}});
  FACE* floor = b.face(new PLANE(plane(QELposition(), -z)), {{ob0, FORWARD}, {arc0, REVERSED}, {oa0, REVERSED}});
  FACE* roof = b.face(new PLANE(plane(QELposition(0.0, 0.0, height), z)),
                      {{oa1, FORWARD}, {arc1, FORWARD}, {ob1, REVERSED}});
  FACE* side_a = b.face(new PLANE(plane(QELposition(), QELunit_vector(0.0, -1.0, 0.0))),
                        {{oa0, FORWARD}, {up_a, FORWARD}, {oa1, REVERSED}, {axis, REVERSED}});
  FACE* side = b.face(new PLANE(plane(QELposition(), side_b)),
                      {{axis, FORWARD}, {ob1, FORWARD}, {up_b, REVERSED}, {ob0, REVERSED}});
  return b.body({wall, floor, roof, side_a, side});
}

std::vector<BODY*> make_loose_cylinder_sheets(double radius, double height) {
  const QELunit_vector z(0.0, 0.0, 1.0);
  const QELvector major(radius, 0.0, 0.0);
  const QELinterval turn(-pi, pi);
  const auto circle = [&](shape_builder& b, VERTEX* v, double at) {
    return b.edge(v, v, new ELLIPSE(ellipse(QELposition(0.0, 0.0, at), z, major, 1.0)), turn);
  };
  shape_builder wall_b;
  VERTEX* low = wall_b.vertex(QELposition(-radius, 0.0, 0.0));
  VERTEX* high = wall_b.vertex(QELposition(-radius, 0.0, height));
  EDGE* bottom = circle(wall_b, low, 0.0);
  EDGE* top = circle(wall_b, high, height);
  EDGE* seam = wall_b.edge(low, high, new STRAIGHT(straight(QELposition(-radius, 0.0, 0.0), z)), QELinterval(0.0, height));
  const cone side(QELposition(), z, major, 1.0, 0.0, 1.0, 0.0);
  const double u_top = height / radius;
  FACE* wall = wall_b.face(new CONE(side), {{bottom, FORWARD, iso_pcurve(side, {0.0, -pi}, {0.0, pi}, turn, FORWARD)},
                                            {seam, FORWARD, iso_pcurve(side, {0.0, pi}, {u_top, pi}, seam->param_range(), FORWARD)},
                                            {top, REVERSED, iso_pcurve(side, {u_top, -pi}, {u_top, pi}, turn, REVERSED)},
                                            {seam, REVERSED, iso_pcurve(side, {0.0, -pi}, {u_top, -pi}, seam->param_range(), REVERSED)}});
  shape_builder floor_b;
  EDGE* floor_edge = circle(floor_b, floor_b.vertex(QELposition(-radius, 0.0, 0.0)), 0.0);
  FACE* floor = floor_b.face(new PLANE(plane(QELposition(), -z)), {{floor_edge, REVERSED}});
  shape_builder roof_b;
  EDGE* roof_edge = circle(roof_b, roof_b.vertex(QELposition(-radius, 0.0, height)), height);
  FACE* roof = roof_b.face(new PLANE(plane(QELposition(0.0, 0.0, height), z)), {{roof_edge, FORWARD}});
  std::vector<BODY*> sheets = {wall_b.body({wall}), floor_b.body({floor}), roof_b.body({roof})};
  for (BODY* sheet : sheets) sheet->lump()->shell()->face()->set_sides(1);
  return sheets;
}

BODY* make_hemisphere(double radius) {
  shape_builder b;
  VERTEX* v = b.vertex(QELposition(-radius, 0.0, 0.0));
  const QELinterval turn(-pi, pi);
  EDGE* equator = b.edge(v, v, new ELLIPSE(ellipse(QELposition(), QELunit_vector(0.0, 0.0, 1.0),
                                                   QELvector(radius, 0.0, 0.0), 1.0)), turn);
  const sphere ball(QELposition(), radius);
  // The equator runs counter-clockwise about +z, the sphere's v clockwise: v = -t.
  FACE* f = b.face(new SPHERE(ball), {{equator, FORWARD, iso_pcurve(ball, {0.0, pi}, {0.0, -pi}, turn, FORWARD)}});
  return b.body({f});
}

BODY* make_torus_slice(double major, double minor, double v0, double v1) {
  shape_builder b;
  const torus ring(QELposition(), QELunit_vector(0.0, 0.0, 1.0), major, minor);
  const QELinterval turn(-pi, pi);
  // The tube circle at v runs up u, from the inner equator round; the
  // face lies on the side of higher v, so runs with the first, against the
  // second. Each disk faces away from the slice (along -dv at v0, +dv at v1).
  const auto tube = [&](double v) {
    const std::unique_ptr<curve> line(ring.u_param_line(v));
    CURVE* circle = new ELLIPSE(static_cast<const ellipse&>(*line));
    VERTEX* at = b.vertex(line->eval_position(-pi));
    return b.edge(at, at, circle, turn);
  };
  EDGE* first = tube(v0);
  EDGE* second = tube(v1);
  const QELvector W = ring.origin_dir * ring.normal;
  const auto along = [&](double v) { return std::cos(v) * ring.origin_dir + std::sin(v) * W; };
  const auto across = [&](double v) { return -std::sin(v) * ring.origin_dir + std::cos(v) * W; };
  FACE* band = b.face_of_loops(new TORUS(ring), {{{first, FORWARD}}, {{second, REVERSED}}});
  FACE* start = b.face(new PLANE(plane(QELposition() + major * along(v0), QELunit_vector(-1.0 * across(v0)))),
                       {{first, REVERSED}});
  FACE* end = b.face(new PLANE(plane(QELposition() + major * along(v1), QELunit_vector(across(v1)))),
                     {{second, FORWARD}});
  return b.body({band, start, end});
}

BODY* make_torus_half_ring(double major, double minor, bool outer) {
  shape_builder b;
  const torus ring(QELposition(), QELunit_vector(0.0, 0.0, 1.0), major, minor);
  const QELinterval turn(-pi, pi);
  // The circles at the tube's bottom (u = -pi/2) and top (u = pi/2), both
  // of the major radius, running up v (clockwise about +z).
  const auto level = [&](double u) {
    const std::unique_ptr<curve> line(ring.v_param_line(u));
    CURVE* circle = new ELLIPSE(static_cast<const ellipse&>(*line));
    VERTEX* at = b.vertex(line->eval_position(-pi));
    return b.edge(at, at, circle, turn);
  };
  EDGE* bottom = level(-pi / 2);
  EDGE* top = level(pi / 2);
  // A band of the torus lies on the side of lower u from a circle it runs
  // along: the outer half from the top down, the inner half from the bottom
  // (u = 3 pi / 2) down across the seam at u = pi to the top.
  const sense_type up = outer ? FORWARD : REVERSED, down = outer ? REVERSED : FORWARD;
  FACE* band = b.face_of_loops(new TORUS(ring), {{{top, up}}, {{bottom, down}}});
  // The cylinder of the major radius closes it, facing the axis from the
  // outer half and away from it from the inner.
  const cone wall(QELposition(0.0, 0.0, -minor), QELunit_vector(0.0, 0.0, 1.0), QELvector(major, 0.0, 0.0), 1.0, 0.0,
                  1.0, 0.0);
  FACE* side = b.face_of_loops(new CONE(wall), {{{top, down}}, {{bottom, up}}}, outer ? REVERSED : FORWARD);
  return b.body({band, side});
}

BODY* make_whole_torus(double major, double minor) {
  shape_builder b;
  return b.body({b.face_of_loops(new TORUS(torus(QELposition(), QELunit_vector(0.0, 0.0, 1.0), major, minor)), {})});
}

BODY* make_quarter_sphere(bool above, bool split) {
  const double R = 4.0, s = above ? 1.0 : -1.0;
  auto* a = new VERTEX(new APOINT(QELposition(R, 0, 0)));
  auto* b = new VERTEX(new APOINT(QELposition(-R, 0, 0)));
  auto arc = [](VERTEX* from, VERTEX* to, const ellipse& circle, double t0, double t1) {
    const QELinterval range(t0, t1);
    auto* e = new EDGE(from, to, new ELLIPSE(circle), FORWARD, EDGE_cvty_unknown, &range);
    from->add_edge(e);
    to->add_edge(e);
    return e;
  };
  EDGE* equator = arc(a, b, ellipse(QELposition(), QELunit_vector(0, 0, 1), QELvector(R, 0, 0), 1.0), 0.0, pi);
  const ellipse meridian(QELposition(), QELunit_vector(0, s, 0), QELvector(-R, 0, 0), 1.0);
  std::vector<EDGE*> over;
  if (split) {
    auto* pole = new VERTEX(new APOINT(QELposition(0, 0, s * R)));
    over = {arc(b, pole, meridian, 0.0, pi / 2), arc(pole, a, meridian, pi / 2, pi)};
  } else {
    over = {arc(b, a, meridian, 0.0, pi)};
  }
  // Above, the loop runs along the edges; below, against them.
  std::vector<COEDGE*> ring;
  ring.push_back(new COEDGE(equator, above ? FORWARD : REVERSED, nullptr, nullptr));
  for (EDGE* e : over) ring.push_back(new COEDGE(e, above ? FORWARD : REVERSED, nullptr, nullptr));
  if (!above) std::reverse(ring.begin(), ring.end());
  for (std::size_t k = 0; k < ring.size(); ++k) {
    ring[k]->set_next(ring[(k + 1) % ring.size()]);
    ring[(k + 1) % ring.size()]->set_previous(ring[k]);
  }
  auto* face = new FACE(new LOOP(ring.front(), nullptr), nullptr, new SPHERE(sphere(QELposition(), R)), FORWARD);
  return new BODY(new LUMP(new SHELL(face, nullptr), nullptr));
}

BODY* make_spline_half_square_to_pole(bool pole_high) {
  const QELposition centre(0, 0, 0);
  const std::vector<QELposition> rim = {{-5, 0, 0}, {-5, -5, 0}, {5, -5, 0}, {5, 0, 0},
                                        {5, 5, 0},  {-5, 5, 0},  {-5, 0, 0}};
  std::vector<QELposition> pts;
  for (const QELposition& p : rim) {
    pts.push_back(pole_high ? p : centre);
    pts.push_back(pole_high ? centre : p);
  }
  const double uknots[9] = {0, 0, 1, 2, 3, 4, 5, 6, 6}, vknots[4] = {0, 0, 1, 1};
  bs3_surface net = bs3_surface_from_ctrlpts(1, 0, 1, 0, 7, 1, 0, 0, pole_high ? 2 : 1, 2, pts.data(), nullptr,
                                             QELresabs, 9, uknots, 4, vknots, QELresnor);
  const spline s(net);
  bs3_surface_delete(net);
  // Towards the pole the normal is +z with v rising to the pole and -z the
  // other way, which the face's sense turns back.
  const double rimV = pole_high ? 0.0 : 1.0, poleV = 1.0 - rimV;
  shape_builder b;
  const QELposition at[5] = {rim[0], rim[1], rim[2], rim[3], centre};
  const QELpar_pos uv_from[5] = {{0, rimV}, {1, rimV}, {2, rimV}, {3, rimV}, {0, poleV}};
  const QELpar_pos uv_to[5] = {{1, rimV}, {2, rimV}, {3, rimV}, {3, poleV}, {0, rimV}};
  VERTEX* v[5];
  for (int k = 0; k < 5; ++k) v[k] = b.vertex(at[k]);
  std::vector<shape_builder::use> loop;
  for (int k = 0; k < 5; ++k) {
    const QELposition from = at[k], to = at[(k + 1) % 5];
    const QELinterval range(0.0, distance(from, to));
    EDGE* e = b.edge(v[k], v[(k + 1) % 5], new STRAIGHT(straight(from, QELunit_vector(to - from))), range);
    loop.push_back({e, FORWARD, iso_pcurve(s, uv_from[k], uv_to[k], range, FORWARD)});
  }
  FACE* face = b.face_of_loops(new SPLINE(s), {loop}, pole_high ? FORWARD : REVERSED);
  return b.body({face});
}

BODY* make_circle_wire(double radius) {
  auto* v = new VERTEX(new APOINT(QELposition(-radius, 0.0, 0.0)));
  const QELinterval turn(-pi, pi);
  EDGE* circle = new EDGE(v, v, new ELLIPSE(ellipse(QELposition(), QELunit_vector(0.0, 0.0, 1.0),
                                                    QELvector(radius, 0.0, 0.0), 1.0)),
                          FORWARD, EDGE_cvty_unknown, &turn);
  BODY* body = nullptr;
  if (!api_make_ewire(1, &circle, body).ok()) return nullptr;
  return body;
}

bs3_surface make_test_bs3_surface() {
  QELposition pts[16];
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      pts[i * 4 + j] = QELposition(i * 3.0, j * 3.0, (i == 1 || i == 2) && (j == 1 || j == 2) ? 2.0 : 0.0);
  const double knots[8] = {0, 0, 0, 0, 1, 1, 1, 1};
  return bs3_surface_from_ctrlpts(3, 0, 0, 0, 4, 3, 0, 0, 0, 4, pts, nullptr, QELresabs, 8, knots, 8, knots,
                                  QELresnor);
}

bs3_surface make_tube_bs3_surface(bool periodic) {
  std::vector<QELposition> ring;
  if (periodic)
    for (int j = 0; j < 9; ++j) ring.emplace_back(2.0 * std::cos(j * pi / 3), 2.0 * std::sin(j * pi / 3), 0.0);
  else
    ring = {{1, -1, 0}, {1, 1, 0}, {-1, 1, 0}, {-1, -1, 0}, {1, -1, 0}};
  const int nv = static_cast<int>(ring.size()), pv = periodic ? 3 : 1;
  std::vector<QELposition> pts;
  for (double z : {0.0, 4.0})
    for (const QELposition& p : ring) pts.emplace_back(p.x(), p.y(), z);
  std::vector<double> vknots;
  if (periodic)
    for (int k = 0; k < nv + pv + 1; ++k) vknots.push_back(k);
  else
    vknots = {0, 0, 1, 2, 3, 4, 4};
  const double uknots[4] = {0, 0, 1, 1};
  return bs3_surface_from_ctrlpts(1, 0, 0, 0, 2, pv, 0, periodic ? 2 : 1, 0, nv, pts.data(), nullptr, QELresabs, 4,
                                  uknots, static_cast<int>(vknots.size()), vknots.data(), QELresnor);
}

BODY* make_spline_sheet() { return make_spline_sheet(make_test_bs3_surface(), false); }

namespace {
// The sheet over [0, 1] x [0, 1]; with 0 < split < 1 its side along u at
// v = 0 is two edges, the first with a pcurve over the whole side.
BODY* spline_sheet(bs3_surface bs, bool skin, double split) {
  shape_builder b;
  const spline s = skin ? spline(new skin_spl_sur(bs3_surface_copy(bs))) : spline(bs);
  bs3_surface_delete(bs);
  VERTEX* c[4];
  const QELpar_pos uv[4] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  for (int k = 0; k < 4; ++k) c[k] = b.vertex(s.eval_position(uv[k]));
  const QELinterval unit(0.0, 1.0);
  // Edges along u at v = 0 and 1, along v at u = 0 and 1; each runs with its parameter.
  auto iso = [&](bool along_u, double at) {
    return new INTCURVE(intcurve(along_u ? bs3_curve_u_param_line(s.sur(), at) : bs3_curve_v_param_line(s.sur(), at)));
  };
  std::vector<shape_builder::use> loop;
  if (split > 0.0 && split < 1.0) {
    VERTEX* m = b.vertex(s.eval_position(QELpar_pos(split, 0.0)));
    const QELinterval first(0.0, split), second(split, 1.0);
    loop.push_back({b.edge(c[0], m, iso(true, 0.0), first), FORWARD, iso_pcurve(s, uv[0], uv[1], unit, FORWARD)});
    loop.push_back({b.edge(m, c[1], iso(true, 0.0), second), FORWARD,
                    iso_pcurve(s, QELpar_pos(split, 0.0), uv[1], second, FORWARD)});
  } else {
    loop.push_back({b.edge(c[0], c[1], iso(true, 0.0), unit), FORWARD, iso_pcurve(s, uv[0], uv[1], unit, FORWARD)});
  }
  EDGE* u1 = b.edge(c[1], c[2], iso(false, 1.0), unit);
  EDGE* v1 = b.edge(c[3], c[2], iso(true, 1.0), unit);
  EDGE* u0 = b.edge(c[0], c[3], iso(false, 0.0), unit);
  loop.push_back({u1, FORWARD, iso_pcurve(s, uv[1], uv[2], unit, FORWARD)});
  loop.push_back({v1, REVERSED, iso_pcurve(s, uv[3], uv[2], unit, REVERSED)});
  loop.push_back({u0, REVERSED, iso_pcurve(s, uv[0], uv[3], unit, REVERSED)});
  return b.body({b.face(new SPLINE(s), loop)});
}
}  // namespace

BODY* make_spline_sheet(bs3_surface bs, bool skin) { return spline_sheet(bs, skin, 0.0); }

BODY* make_spline_sheet_split(double split) { return spline_sheet(make_test_bs3_surface(), false, split); }

std::vector<KernelFrame> kernel_frames() {
  const QELtransf mirror = restore_transf(QELmatrix(QELvector(1, 0, 0), QELvector(0, -1, 0), QELvector(0, 0, 1)),
                                          QELvector(), 1.0, 1, 1, 0);
  return {{"identity", QELtransf()},
          {"rotated", rotate_transf(2 * std::numbers::pi / 3, QELvector(1, 1, 1)) * translate_transf(QELvector(1, 2, 3))},
          {"mirrored", rotate_transf(0.7, QELvector(1, -2, 0.5)) * mirror * translate_transf(QELvector(-4, 1, 2))}};
}

void shift_pcurve(COEDGE* c, double du, double dv) {
  const pcurve& def = c->geometry()->def();
  bs2_curve copy = bs2_curve_copy(def.cur());
  if (def.reversed()) bs2_curve_reverse(copy);
  bs2_curve_par_trans(copy, QELpar_transf(1.0, 1.0, du, dv));
  c->set_geometry(new PCURVE(pcurve(copy, def.fitol(), def.surface())));
}

COEDGE* seam_use(FACE* face) {
  for (LOOP* loop = face->loop(); loop; loop = loop->next()) {
    COEDGE* first = loop->start();
    for (COEDGE* c = first; c; c = c->next() == first ? nullptr : c->next())
      if (c->geometry() && c->partner() && c->partner() != c && c->partner()->geometry() && c->partner()->loop() &&
          c->partner()->loop()->face() == face)
        return c;
  }
  return nullptr;
}

std::vector<COEDGE*> loop_uses(FACE* face) {
  std::vector<COEDGE*> out;
  for (LOOP* loop = face->loop(); loop; loop = loop->next()) {
    COEDGE* first = loop->start();
    for (COEDGE* c = first; c; c = c->next() == first ? nullptr : c->next()) out.push_back(c);
  }
  return out;
}

double widest_loop_join_step(const FACE* face, bool& allPCurved) {
  allPCurved = true;
  const surface& s = face->geometry()->equation();
  const auto at = [](const COEDGE* c, bool start) {
    const QELinterval r = c->param_range();
    return c->geometry()->def().eval_position(start ? r.start_pt() : r.end_pt());
  };
  double widest = 0.0;
  for (const LOOP* loop = face->loop(); loop; loop = loop->next()) {
    const COEDGE* first = loop->start();
    for (const COEDGE* c = first; c; c = c->next() == first ? nullptr : c->next()) {
      if (!c->geometry() || !c->next()->geometry()) {
        allPCurved = false;
        continue;
      }
      const QELpar_pos a = at(c, false), b = at(c->next(), true);
      // At (or within a thousandth of the parameter's speed of) a pole or
      // apex, the parameter along its line says nothing.
      QELposition p;
      QELvector d[2];
      s.eval(a, p, d);
      const bool freeU = s.singular_v(a.v) || d[0].len() < 1e-3, freeV = s.singular_u(a.u) || d[1].len() < 1e-3;
      widest = std::max({widest, freeU ? 0.0 : std::abs(a.u - b.u), freeV ? 0.0 : std::abs(a.v - b.v)});
    }
  }
  return widest;
}

void reverse_edge_curves(ENTITY* body, const std::function<bool(int)>& which)
{
    ENTITY_LIST edges;
    api_get_edges(body, edges);
    for (int i = 0; i < edges.count(); ++i) {
        if (which && !which(i))
            continue;
        auto* edge = static_cast<EDGE*>(edges[i]);
        const QELinterval range = edge->param_range();
        std::unique_ptr<curve> turned(edge->geometry()->equation().make_copy());
        turned->negate();
        edge->set_geometry(make_curve(*turned));
        edge->set_sense(edge->sense() == FORWARD ? REVERSED : FORWARD);
        edge->set_param_range(&range);
    }
}

}  // namespace testkit
