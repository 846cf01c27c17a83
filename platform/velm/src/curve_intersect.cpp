// Intersections of two edges' curves, and the contacts of an edge with an
// edge or a face's edges.
//
// Both curves are sampled into polylines; every pair of segments that comes
// within a segment's length of the other seeds a Gauss-Newton search for the
// nearest pair of parameters, accepted within the edges' tolerance (at least
// QELresabs). Hits closer than the tolerance merge; consecutive hits whose
// midpoint also lies on both curves are the ends of an overlap.
#include <algorithm>
#include <cmath>
#include <vector>

#include "query_internal.hxx"
#include "velm/api.hxx"
#include "velm/bspline.hxx"

namespace {
using namespace velm_query;

struct ranged_curve {
  const curve* eq = nullptr;
  double lo = 0.0, hi = 0.0;
  double tol = QELresabs;
};

ranged_curve ranged(const EDGE* e, bool bounded) {
  if (!e) velm_api_error_throw(VELM_NULL_ENTITY);
  const CURVE* cu = e->geometry();
  if (!cu || !cu->has_equation()) velm_api_error_throw(VELM_NULL_ENTITY);
  ranged_curve r;
  r.eq = &cu->equation();
  double s = 0.0, t = 0.0;
  sg_get_params(e, s, t);
  r.lo = std::min(s, t), r.hi = std::max(s, t);
  if (!bounded) {
    // The whole curve where it is finite; an unbounded one reaches ten edge
    // lengths beyond each end.
    const QELinterval full = r.eq->full_range();
    const double reach = 10.0 * std::max(r.hi - r.lo, 1.0);
    r.lo = full.bounded_below() ? full.start_pt() : r.lo - reach;
    r.hi = full.bounded_above() ? full.end_pt() : r.hi + reach;
  }
  r.tol = std::max(QELresabs, e->get_tolerance());
  return r;
}

double seg_distance(const QELposition& a0, const QELposition& a1, const QELposition& b0, const QELposition& b1,
                    double& sa, double& sb) {
  // Nearest points of two segments (clamped least squares).
  const QELvector d1 = a1 - a0, d2 = b1 - b0, r = a0 - b0;
  const double a = d1 % d1, e = d2 % d2, f = d2 % r;
  double s = 0.0, t = 0.0;
  if (a <= 1e-300 && e <= 1e-300) {
  } else if (a <= 1e-300) {
    t = std::clamp(f / e, 0.0, 1.0);
  } else {
    const double c = d1 % r;
    if (e <= 1e-300) {
      s = std::clamp(-c / a, 0.0, 1.0);
    } else {
      const double b = d1 % d2, den = a * e - b * b;
      s = den > 1e-300 ? std::clamp((b * f - c * e) / den, 0.0, 1.0) : 0.0;
      t = (b * s + f) / e;
      if (t < 0.0) t = 0.0, s = std::clamp(-c / a, 0.0, 1.0);
      else if (t > 1.0) t = 1.0, s = std::clamp((b - c) / a, 0.0, 1.0);
    }
  }
  sa = s, sb = t;
  return distance(a0 + s * d1, b0 + t * d2);
}

// Gauss-Newton on |A(s) - B(t)|^2 inside both ranges.
double refine(const ranged_curve& A, const ranged_curve& B, double& s, double& t) {
  for (int it = 0; it < 40; ++it) {
    QELposition pa, pb;
    QELvector da, db;
    A.eq->eval(s, pa, &da);
    B.eq->eval(t, pb, &db);
    const QELvector r = pa - pb;
    const double a11 = da % da, a12 = -(da % db), a22 = db % db;
    const double g1 = da % r, g2 = -(db % r);
    const double det = a11 * a22 - a12 * a12;
    double ds, dt;
    if (std::abs(det) > 1e-14 * (a11 * a22 + 1e-300)) {
      ds = -(a22 * g1 - a12 * g2) / det;
      dt = -(a11 * g2 - a12 * g1) / det;
    } else {  // parallel tangents: move one curve only
      ds = a11 > 0.0 ? -g1 / a11 : 0.0;
      dt = 0.0;
    }
    const double ns = std::clamp(s + ds, A.lo, A.hi), nt = std::clamp(t + dt, B.lo, B.hi);
    const bool done = std::abs(ns - s) <= 1e-14 * (1.0 + std::abs(s)) && std::abs(nt - t) <= 1e-14 * (1.0 + std::abs(t));
    s = ns, t = nt;
    if (done) break;
  }
  return distance(A.eq->eval_position(s), B.eq->eval_position(t));
}

struct hit {
  double s, t;
  QELposition p;
  int rel;
};

std::vector<hit> intersect(const ranged_curve& A, const ranged_curve& B) {
  const int n = 64;
  std::vector<QELposition> pa(n + 1), pb(n + 1);
  for (int k = 0; k <= n; ++k) {
    pa[k] = A.eq->eval_position(A.lo + (A.hi - A.lo) * k / n);
    pb[k] = B.eq->eval_position(B.lo + (B.hi - B.lo) * k / n);
  }
  const double tol = std::max(A.tol, B.tol);
  std::vector<hit> hits;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      double fa, fb;
      const double reach = std::max(distance(pa[i], pa[i + 1]), distance(pb[j], pb[j + 1]));
      if (seg_distance(pa[i], pa[i + 1], pb[j], pb[j + 1], fa, fb) > reach + tol) continue;
      double s = A.lo + (A.hi - A.lo) * (i + fa) / n, t = B.lo + (B.hi - B.lo) * (j + fb) / n;
      if (refine(A, B, s, t) > tol) continue;
      QELposition p = A.eq->eval_position(s);
      const bool known = std::any_of(hits.begin(), hits.end(), [&](const hit& h) { return distance(h.p, p) <= tol; });
      if (!known) hits.push_back({s, t, p, 1});
    }
  std::sort(hits.begin(), hits.end(), [](const hit& a, const hit& b) { return a.s < b.s; });
  // Tangency where the directions agree; an overlap where the curves also
  // meet between two consecutive hits.
  for (hit& h : hits) {
    const QELvector da = A.eq->eval_deriv(h.s), db = B.eq->eval_deriv(h.t);
    const double sine = (da * db).len() / std::max(da.len() * db.len(), 1e-300);
    if (sine < 1e-6) h.rel = 2;
  }
  std::vector<hit> out;
  for (std::size_t k = 0; k < hits.size(); ++k) {
    std::size_t m = k;
    while (m + 1 < hits.size()) {
      double s = 0.5 * (hits[m].s + hits[m + 1].s), t = 0.5 * (hits[m].t + hits[m + 1].t);
      if (refine(A, B, s, t) > tol || std::abs(s - 0.5 * (hits[m].s + hits[m + 1].s)) > 1e-6 * (A.hi - A.lo)) break;
      ++m;
    }
    if (m == k) {
      out.push_back(hits[k]);
      continue;
    }
    hit first = hits[k], last = hits[m];
    first.rel = last.rel = 3;
    out.push_back(first);
    out.push_back(last);
    k = m;
  }
  return out;
}
}  // namespace

outcome api_intersect_curves(EDGE* first, EDGE* second, bool bounded, cc_intersection*& intersections) {
  intersections = nullptr;
  return velm_api("api_intersect_curves", [&] {
    const std::vector<hit> hits = intersect(ranged(first, bounded), ranged(second, bounded));
    cc_intersection** tail = &intersections;
    for (const hit& h : hits) {
      cc_intersection* x = VELM_MAKE(cc_intersection);
      x->int_point = h.p;
      x->param1 = h.s;
      x->param2 = h.t;
      x->rel = h.rel;
      *tail = x;
      tail = &x->next;
    }
  });
}

edge_entity_rel::edge_entity_rel(EDGE* first, ENTITY* second) {
  try {
    velm_check_call("edge_entity_rel");
    std::vector<EDGE*> others;
    if (is_EDGE(second)) {
      others.push_back(static_cast<EDGE*>(second));
    } else if (is_FACE(second)) {
      ENTITY_LIST seen;
      for (LOOP* l : chain(static_cast<FACE*>(second)->loop()))
        for (COEDGE* c : loop_coedges(l))
          if (c->edge() && seen.add(c->edge()) == seen.count() - 1) others.push_back(c->edge());
    } else {
      velm_api_error_throw(VELM_BAD_ARGUMENT);
    }
    const ranged_curve A = ranged(first, true);
    for (EDGE* other : others) {
      const ranged_curve B = ranged(other, true);
      for (const hit& h : intersect(A, B)) {
        contact_record rec{1, other, h.s};
        for (VERTEX* v : {other->start(), other->end()})
          if (v && v->geometry() && distance(v->geometry()->coords(), h.p) <= std::max(B.tol, v->get_tolerance()))
            rec.kind = 0, rec.entity = v;
        if (h.rel != 1) rec.kind = 0;
        // A vertex shared by two edges of the face is one contact.
        const bool dup = std::any_of(contacts_.begin(), contacts_.end(), [&](const contact_record& c) {
          return c.entity == rec.entity && std::abs(c.param - rec.param) <= 1e-9 * (1.0 + std::abs(rec.param));
        });
        if (!dup) contacts_.push_back(rec);
      }
    }
    std::sort(contacts_.begin(), contacts_.end(),
              [](const contact_record& a, const contact_record& b) { return a.param < b.param; });
  } catch (const velm_exception& e) {
    status_ = e.error_number() ? e.error_number() : -1;
    contacts_.clear();
  }
}

void edge_entity_rel::lose() { delete this; }
