// Body-level healing calls: box resets, radial coedge order, pole and
// periodic splits, tolerant-coedge checks, the reverse tolerant replacement
// and whole-body spline conversions.
#include "velm/body_heal.hxx"

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

#include "query_internal.hxx"
#include "velm/api.hxx"
#include "velm/attrib.hxx"
#include "velm/geometry.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/heal.hxx"
#include "velm/query.hxx"
#include "velm/resurface.hxx"
#include "velm/spline_conversion.hxx"
#include "velm/split.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology_api.hxx"

using namespace velm_query;

namespace {

constexpr int kCheckSamples = 32;

const FACE* heal_loop_face(const COEDGE* c) { return c && c->loop() ? c->loop()->face() : nullptr; }

std::vector<FACE*> faces_in(ENTITY* e) {
  ENTITY_LIST list;
  if (is_FACE(e)) {
    list.add(e);
  } else {
    velm_topology_walk(e, FACE_TYPE, list);
  }
  std::vector<FACE*> out;
  for (int k = 0; k < list.count(); ++k) out.push_back(static_cast<FACE*>(list[k]));
  return out;
}

std::vector<EDGE*> face_edges(const FACE* f) {
  std::vector<EDGE*> out;
  for (LOOP* l : chain(f->loop()))
    for (COEDGE* c : loop_coedges(l))
      if (c->edge() && std::find(out.begin(), out.end(), c->edge()) == out.end()) out.push_back(c->edge());
  return out;
}

// The face's own direction at the edge's middle: into the face, across the
// coedge (outward normal x coedge direction).
bool heal_into_face(const COEDGE* c, const QELposition& at, const QELvector& edge_dir, QELvector& out) {
  const FACE* f = heal_loop_face(c);
  const surface* s = f ? face_surface(f) : nullptr;
  if (!s) return false;
  QELposition foot;
  QELpar_pos uv;
  s->point_perp(at, foot, nullptr, &uv);
  QELvector n = s->eval_normal(uv);
  if (f->sense() == REVERSED) n = -n;
  const QELvector along = c->sense() == c->edge()->sense() ? edge_dir : -edge_dir;
  out = n * along;
  return out.len() > QELresmch;
}

// One split of the edge at the pole when the curve passes through it away
// from the edge's ends; true when it split.
bool split_at_pole(EDGE* e, const QELposition& pole) {
  const CURVE* cu = e->geometry();
  if (!cu || !cu->has_equation()) return false;
  const curve& eq = cu->equation();
  QELinterval r = e->param_range();
  if (e->sense() == REVERSED) r = -r;
  if (!r.finite()) return false;
  QELposition foot;
  double t = 0.0;
  eq.point_perp(pole, foot, nullptr, &t);
  if (distance(foot, pole) > QELresabs) return false;
  if (t - r.start_pt() <= QELresabs || r.end_pt() - t <= QELresabs) return false;
  const QELposition a = e->start_pos(), b = e->end_pos();
  if (distance(a, pole) <= QELresabs || distance(b, pole) <= QELresabs) return false;
  auto* v = velm_require(VELM_NEW VERTEX(velm_require(VELM_NEW APOINT(pole))));
  sg_split_edge_at_vertex(e, v, t);
  return true;
}

bool face_wraps_round(const FACE* f, bool in_u, double& seam_low, double& period) {
  const surface* s = face_surface(f);
  if (!s) return false;
  const bool closes = in_u ? (s->periodic_u() || s->closed_u()) : (s->periodic_v() || s->closed_v());
  if (!closes) return false;
  QELpar_box box;
  if (!sg_get_face_par_box(f, box)) return false;
  const QELinterval full = in_u ? s->param_range().u_range() : s->param_range().v_range();
  const QELinterval have = in_u ? box.u_range() : box.v_range();
  if (!have.finite() || !full.finite()) return false;
  period = in_u ? s->param_period_u() : s->param_period_v();
  if (period <= 0.0) period = full.length();
  seam_low = have.start_pt();
  return have.length() >= period - 10.0 * QELresnor;
}

// Separation loops: loops of the face none of whose edges is used twice by it.
bool has_seam(const FACE* f) {
  for (LOOP* l : chain(f->loop()))
    for (COEDGE* c : loop_coedges(l))
      for (COEDGE* p : edge_coedges(c->edge()))
        if (p != c && heal_loop_face(p) == f) return true;
  return false;
}

void split_wrapping_face(FACE* f) {
  for (bool in_u : {true, false}) {
    double low = 0.0, period = 0.0;
    if (!face_wraps_round(f, in_u, low, period)) continue;
    const int direction = in_u ? 1 : 0;
    if (!has_seam(f)) sg_split_face_at_parameter(f, direction, low);  // adds the seam
    sg_split_face_at_parameter(f, direction, low + 0.5 * period);
  }
}

double worst_pcurve_gap(const TCOEDGE* c, const curve& eq, const QELinterval& edge_range) {
  const FACE* f = heal_loop_face(c);
  const surface* s = f ? face_surface(f) : nullptr;
  const PCURVE* pc = c->geometry();
  if (!s || !pc || !pc->has_equation()) return 0.0;
  const pcurve p = pc->def();
  const QELinterval own = c->param_range();
  if (!own.finite() || !edge_range.finite()) return 0.0;
  double worst = 0.0;
  for (int k = 0; k <= kCheckSamples; ++k) {
    const double f_ = double(k) / kCheckSamples;
    const QELposition on = s->eval_position(p.eval_position(own.interpolate(f_)));
    QELposition foot;
    eq.point_perp(on, foot);
    worst = std::max(worst, distance(on, foot));
  }
  return worst;
}

COEDGE* plain_coedge(TCOEDGE* t, EDGE* edge) {
  auto* c = velm_require(VELM_NEW COEDGE(edge, t->sense()));
  c->set_geometry(t->geometry());
  ENTITY* owner = t->owner();
  COEDGE* prev = t->previous();
  COEDGE* next = t->next();
  c->set_owner(owner);
  if (prev == t || next == t) {
    c->set_next(c);
    c->set_previous(c);
  } else {
    if (prev) {
      prev->set_next(c);
      c->set_previous(prev);
    }
    if (next) {
      next->set_previous(c);
      c->set_next(next);
    }
  }
  if (t->loop() && t->loop()->start() == t) t->loop()->set_start(c);
  if (t->wire() && t->wire()->coedge() == t) t->wire()->set_coedge(c);
  t->set_next(nullptr);
  t->set_previous(nullptr);
  t->set_geometry(nullptr);
  std::vector<ATTRIB*> attribs;
  for (ATTRIB* a = t->attrib(); a; a = a->next()) attribs.push_back(a);
  for (ATTRIB* a : attribs) a->replace_owner(c);
  return c;
}

}  // namespace

void reset_boxes(ENTITY* entity) {
  velm_check_call("reset_boxes");
  if (!entity) return;
  ENTITY_LIST all;
  velm_topology_walk(entity, all);
  all.add(entity);
  for (int k = 0; k < all.count(); ++k) {
    ENTITY* e = all[k];
    if (is_FACE(e)) {
      static_cast<FACE*>(e)->set_bound(nullptr);
    } else if (is_EDGE(e)) {
      static_cast<EDGE*>(e)->set_bound(nullptr);
    } else if (is_VERTEX(e)) {
      static_cast<VERTEX*>(e)->set_bound(nullptr);
    }
  }
}

outcome api_reset_boxes(ENTITY* entity) {
  return velm_api("api_reset_boxes", [&] {
    if (!entity) velm_api_error_throw(VELM_NULL_ENTITY);
    reset_boxes(entity);
  });
}

outcome api_minimize_entities(ENTITY_LIST& entities, const void*) {
  return velm_api("api_minimize_entities", [&] {
    for (int k = 0; k < entities.count(); ++k)
      if (entities[k]) reset_boxes(entities[k]);
  });
}

void sort_coedges(EDGE* edge) {
  velm_check_call("sort_coedges");
  if (!edge || !edge->coedge()) return;
  std::vector<COEDGE*> ring = edge_coedges(edge);
  if (ring.size() < 3) return;
  const CURVE* cu = edge->geometry();
  if (!cu || !cu->has_equation()) return;
  QELinterval r = edge->param_range();
  if (edge->sense() == REVERSED) r = -r;
  if (!r.finite()) return;
  const double t = r.mid_pt();
  const QELposition at = cu->equation().eval_position(t);
  QELvector dir = cu->equation().eval_deriv(t);
  if (edge->sense() == REVERSED) dir = -dir;
  if (dir.len() <= QELresmch) return;
  const QELvector axis = dir / dir.len();
  QELvector ref;
  if (!heal_into_face(ring[0], at, dir, ref)) return;
  std::vector<std::pair<double, COEDGE*>> keyed;
  for (std::size_t k = 1; k < ring.size(); ++k) {
    QELvector d;
    double angle = 7.0;  // wires and faces without direction go last, in ring order
    if (heal_into_face(ring[k], at, dir, d)) {
      angle = std::atan2((ref * d) % axis, ref % d);
      if (angle < 0.0) angle += 2.0 * std::numbers::pi;
    }
    keyed.emplace_back(angle, ring[k]);
  }
  std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<COEDGE*> sorted{ring[0]};
  for (auto& [a, c] : keyed) sorted.push_back(c);
  for (std::size_t k = 0; k < sorted.size(); ++k) sorted[k]->set_partner(sorted[(k + 1) % sorted.size()]);
}

void sg_split_edges_at_poles(ENTITY* entity) {
  velm_check_call("sg_split_edges_at_poles");
  if (!entity) velm_api_error_throw(VELM_NULL_ENTITY);
  for (FACE* f : faces_in(entity)) {
    const surface* s = face_surface(f);
    if (!s) continue;
    QELposition poles[2];
    const int n = sg_surface_get_poles(*s, poles);
    for (int k = 0; k < n; ++k)
      for (EDGE* e : face_edges(f)) split_at_pole(e, poles[k]);
  }
}

outcome api_split_edges_at_poles(BODY* body) {
  return velm_api("api_split_edges_at_poles", [&] { sg_split_edges_at_poles(body); });
}

void sg_split_periodic_faces(ENTITY* entity) {
  velm_check_call("sg_split_periodic_faces");
  if (!entity) velm_api_error_throw(VELM_NULL_ENTITY);
  for (FACE* f : faces_in(entity)) split_wrapping_face(f);
}

outcome api_split_periodic_faces(BODY* body) {
  return velm_api("api_split_periodic_faces", [&] { sg_split_periodic_faces(body); });
}

tm_check_result* tm_check_tcoedge_bs2_outside_sf(const COEDGE* coedge) {
  velm_check_call("tm_check_tcoedge_bs2_outside_sf");
  if (!coedge || !is_TCOEDGE(coedge) || !coedge->geometry() || !coedge->geometry()->has_equation()) return nullptr;
  const FACE* f = heal_loop_face(coedge);
  const surface* s = f ? face_surface(f) : nullptr;
  if (!s) return nullptr;
  const QELpar_box range = s->param_range();
  const QELinterval own = coedge->param_range();
  if (!own.finite()) return nullptr;
  const pcurve p = coedge->geometry()->def();
  double worst = 0.0, at = 0.0;
  for (int k = 0; k <= kCheckSamples; ++k) {
    const double t = own.interpolate(double(k) / kCheckSamples);
    const QELpar_pos uv = p.eval_position(t);
    double out = 0.0;
    if (!s->periodic_u() && range.u_range().finite())
      out = std::max({out, range.u_range().start_pt() - uv.u, uv.u - range.u_range().end_pt()});
    if (!s->periodic_v() && range.v_range().finite())
      out = std::max({out, range.v_range().start_pt() - uv.v, uv.v - range.v_range().end_pt()});
    if (out > worst) worst = out, at = t;
  }
  if (worst <= QELresnor) return nullptr;
  return velm_require(new tcoedge_bs2_outside_sf(at));
}

tm_check_result* tm_check_tedge_tcoedge_bad_geom(const COEDGE* coedge) {
  velm_check_call("tm_check_tedge_tcoedge_bad_geom");
  if (!coedge || !is_TCOEDGE(coedge) || !coedge->edge()) return nullptr;
  const auto* tc = static_cast<const TCOEDGE*>(coedge);
  const EDGE* e = tc->edge();
  const QELinterval edge_range = e->param_range();
  const QELinterval own = tc->param_range();
  const QELinterval expected = tc->sense() == REVERSED ? -edge_range : edge_range;
  if (own.finite() && expected.finite() &&
      (std::fabs(own.start_pt() - expected.start_pt()) > QELresabs ||
       std::fabs(own.end_pt() - expected.end_pt()) > QELresabs))
    return velm_require(new tedge_tcoedge_ranges());
  const CURVE* cu = e->geometry();
  if (!cu || !cu->has_equation()) return nullptr;
  if (worst_pcurve_gap(tc, cu->equation(), edge_range) > std::max(e->get_tolerance(), QELresabs))
    return velm_require(new tedge_tcoedge_bad_geom());
  return nullptr;
}

outcome api_replace_tedge_with_edge(TEDGE* tedge, EDGE*& edge) {
  edge = nullptr;
  return velm_api("api_replace_tedge_with_edge", [&] {
    if (!tedge) velm_api_error_throw(VELM_NULL_ENTITY);
    const QELinterval range = tedge->param_range();
    auto* e = velm_require(VELM_NEW EDGE(tedge->start(), tedge->end(), tedge->geometry(), tedge->sense(),
                                         tedge->get_convexity(), &range));
    for (VERTEX* v : {tedge->start(), tedge->end()})
      if (v) {
        v->delete_edge(tedge);
        v->add_edge(e);
      }
    std::vector<COEDGE*> ring = edge_coedges(tedge);
    for (COEDGE*& c : ring) {
      if (is_TCOEDGE(c)) {
        COEDGE* plain = plain_coedge(static_cast<TCOEDGE*>(c), e);
        c->set_edge(nullptr);
        c->set_partner(nullptr);
        c->lose();
        c = plain;
      }
      c->set_edge(e);
    }
    e->set_coedge(ring.empty() ? nullptr : ring.front());
    for (std::size_t k = 0; k < ring.size(); ++k) ring[k]->set_partner(ring.size() > 1 ? ring[(k + 1) % ring.size()] : nullptr);
    tedge->set_coedge(nullptr);
    std::vector<ATTRIB*> attribs;
    for (ATTRIB* a = tedge->attrib(); a; a = a->next()) attribs.push_back(a);
    for (ATTRIB* a : attribs) a->replace_owner(e);
    tedge->lose();
    edge = e;
  });
}

void check_edge_error(const FACE* face, ENTITY_LIST& bad_edges, double tol) {
  velm_check_call("check_edge_error");
  if (!face) velm_api_error_throw(VELM_NULL_ENTITY);
  for (EDGE* e : face_edges(face))
    if (edge_deviation(e) > tol) bad_edges.add(e);
}

int convert_to_spline(ENTITY* entity) {
  velm_check_call("convert_to_spline");
  ENTITY* out = nullptr;
  return api_convert_to_spline(entity, out).ok() ? 1 : 0;
}

bool convert_face(FACE* face) {
  velm_check_call("convert_face");
  ENTITY* out = nullptr;
  return api_convert_to_spline(face, out).ok();
}

outcome api_clean_body(BODY* body) {
  return velm_api("api_clean_body", [&] {
    if (!body) velm_api_error_throw(VELM_NULL_ENTITY);
    const outcome r = api_clean_entity(body);
    if (!r.ok()) sys_error(r.error_number());
  });
}

void sg_convert_to_spline_quintic_nub(ENTITY* entity, double tol) {
  velm_check_call("sg_convert_to_spline_quintic_nub");
  if (!entity) velm_api_error_throw(VELM_NULL_ENTITY);
  ENTITY* converted = nullptr;
  if (const outcome r = api_convert_to_spline(entity, converted); !r.ok()) sys_error(r.error_number());
  // Rational or high-degree surfaces are refitted as non-rational bicubics.
  for (FACE* f : faces_in(entity)) {
    const auto* s = dynamic_cast<const spline*>(face_surface(f));
    if (!s) continue;
    bs3_surface bs = s->sur(-1.0);
    if (!bs || (!bs3_surface_rational_u(bs) && !bs3_surface_rational_v(bs) && bs3_surface_degree_u(bs) <= 5 &&
                bs3_surface_degree_v(bs) <= 5))
      continue;
    FACE* refit = nullptr;
    if (const outcome r = api_spline_resurface(refit, f); !r.ok()) sys_error(r.error_number());
  }
  // Edge curves become non-rational approximations within tol.
  ENTITY_LIST edges;
  velm_topology_walk(entity, EDGE_TYPE, edges);
  for (int k = 0; k < edges.count(); ++k) {
    auto* e = static_cast<EDGE*>(edges[k]);
    const CURVE* cu = e ? e->geometry() : nullptr;
    if (!cu || !cu->has_equation()) continue;
    const auto* ic = dynamic_cast<const intcurve*>(&cu->equation());
    if (ic && !bs3_curve_rational(ic->cur(-1.0)) && bs3_curve_degree(ic->cur(-1.0)) <= 5) continue;
    QELinterval r = e->param_range();
    if (e->sense() == REVERSED) r = -r;
    if (!r.finite()) continue;
    bs3_curve fit = bs3_curve_make_cur(cu->equation(), r.start_pt(), r.end_pt(), tol);
    if (!fit) velm_api_error_throw(VELM_API_FAILED);
    if (bs3_curve_rational(fit)) {
      bs3_curve_delete(fit);
      velm_api_error_throw(VELM_API_FAILED);
    }
    e->set_geometry(make_curve(intcurve(fit, tol)), 1);
  }
}

namespace {

// A plane through the surface when a 9 x 9 grid over its box lies within tol
// of the plane through three of its corners; null otherwise.
surface* planar_form(const surface& s, const QELpar_box& box, double tol) {
  if (!box.u_range().finite() || !box.v_range().finite()) return nullptr;
  const QELposition a = s.eval_position(box.low());
  const QELposition b = s.eval_position(QELpar_pos(box.u_range().end_pt(), box.v_range().start_pt()));
  const QELposition c = s.eval_position(QELpar_pos(box.u_range().start_pt(), box.v_range().end_pt()));
  QELvector n = (b - a) * (c - a);
  if (n.len() <= QELresabs * QELresabs) return nullptr;
  n = n / n.len();
  for (int i = 0; i <= 8; ++i)
    for (int j = 0; j <= 8; ++j) {
      const QELpar_pos uv(box.u_range().interpolate(i / 8.0), box.v_range().interpolate(j / 8.0));
      if (std::fabs((s.eval_position(uv) - a) % n) > tol) return nullptr;
    }
  // The plane keeps the side the spline's normal points to.
  const QELvector mid = s.eval_normal(box.mid());
  return VELM_MAKE(plane, a, QELunit_vector(mid % n < 0.0 ? -n : n));
}

}  // namespace

outcome api_simplify_entity(ENTITY* entity, const simplify_options* options) {
  return velm_api("api_simplify_entity", [&] {
    if (!entity) velm_api_error_throw(VELM_NULL_ENTITY);
    const simplify_options defaults;
    const simplify_options& o = options ? *options : defaults;
    if (o.do_surface_simplification())
      for (FACE* f : faces_in(entity)) {
        const auto* s = dynamic_cast<const spline*>(face_surface(f));
        QELpar_box box;
        if (!s || !sg_get_face_par_box(f, box)) continue;
        std::unique_ptr<surface> flat(planar_form(*s, box, o.simplification_tol()));
        if (!flat) continue;
        sg_rm_pcurves_from_entity(f);
        f->set_geometry(make_surface(*flat));
        sg_add_pcurves_to_entity(f);
      }
    if (o.do_curve_simplification()) {
      ENTITY_LIST edges;
      velm_topology_walk(entity, EDGE_TYPE, edges);
      for (int k = 0; k < edges.count(); ++k) {
        auto* e = static_cast<EDGE*>(edges[k]);
        const CURVE* cu = e ? e->geometry() : nullptr;
        if (!cu || !cu->has_equation() || cu->equation().type() == 1) continue;
        QELinterval r = e->param_range();
        if (e->sense() == REVERSED) r = -r;
        if (!r.finite()) continue;
        const QELposition a = cu->equation().eval_position(r.start_pt());
        const QELposition b = cu->equation().eval_position(r.end_pt());
        const double len = distance(a, b);
        if (len <= QELresabs) continue;
        const QELvector dir = (b - a) / len;
        bool straight_enough = true;
        for (int i = 1; i < 16 && straight_enough; ++i) {
          const QELvector d = cu->equation().eval_position(r.interpolate(i / 16.0)) - a;
          straight_enough = (d - dir * (d % dir)).len() <= o.simplification_tol();
        }
        if (!straight_enough) continue;
        // Parameter runs over [r.start, r.end] as before, so the edge's range stays.
        straight line(a - dir * (len * r.start_pt() / r.length()), QELunit_vector(dir), len / r.length());
        ENTITY_LIST around;
        for (COEDGE* c : edge_coedges(e)) around.add(c);
        for (int i = 0; i < around.count(); ++i) static_cast<COEDGE*>(around[i])->set_geometry(nullptr);
        e->set_geometry(make_curve(line), 1);
        for (int i = 0; i < around.count(); ++i) sg_add_pcurve_to_coedge(static_cast<COEDGE*>(around[i]));
      }
    }
  });
}
