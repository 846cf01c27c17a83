// Honest geometry checks: every status is found by measuring the geometry.
#include <algorithm>
#include <cmath>

#include "bspline_data.hxx"
#include "geom_numeric.hxx"
#include "velm/check.hxx"
#include "velm/geometry.hxx"

check_status_list::~check_status_list() {
  // Iteratively, so long chains cannot exhaust the stack.
  check_status_list* n = next_;
  next_ = nullptr;
  while (n) {
    check_status_list* after = n->next_;
    n->next_ = nullptr;
    delete n;
    n = after;
  }
}

check_status_list* check_status_list::add_error(int status) {
  if (status_ == -1) {
    status_ = status;
    return this;
  }
  check_status_list* last = this;
  for (check_status_list* l = this; l; l = l->next_) {
    if (l->status_ == status) return this;
    last = l;
  }
  last->next_ = VELM_MAKE(check_status_list, status);
  return this;
}

bool check_status_list::contains(int status) const {
  for (const check_status_list* l = this; l; l = l->next_)
    if (l->status_ == status) return true;
  return false;
}

check_status_list* add_status(check_status_list* list, int status) {
  if (!list) return VELM_MAKE(check_status_list, status);
  // The list is the caller's result in the making: a status that cannot be
  // added takes it along, or the error would leave it behind.
  try {
    return list->add_error(status);
  } catch (...) {
    delete list;
    throw;
  }
}

namespace {

bool wants(const check_status_list* wanted, int status) { return !wanted || wanted->contains(status); }

struct poly_point {
  QELposition p;
  double t;
};

std::vector<poly_point> polyline(const bs_curve_data& c, int per_span) {
  std::vector<poly_point> r;
  const std::vector<double>& k = c.dir.knots;
  for (int i = c.dir.degree; i < c.n(); ++i) {
    if (k[i + 1] <= k[i]) continue;
    for (int s = 0; s < per_span; ++s) {
      const double t = k[i] + (k[i + 1] - k[i]) * s / per_span;
      r.push_back({c.position(t), t});
    }
  }
  const double end = c.range().end_pt();
  r.push_back({c.position(end), end});
  return r;
}

// Closest parameters of two segments [a0, a1] and [b0, b1].
void segment_closest(const QELposition& a0, const QELposition& a1, const QELposition& b0, const QELposition& b1,
                     double& s, double& t) {
  const QELvector d1 = a1 - a0, d2 = b1 - b0, r = a0 - b0;
  const double a = d1 % d1, e = d2 % d2, f = d2 % r;
  if (a <= 1e-300 && e <= 1e-300) {
    s = t = 0.0;
    return;
  }
  if (a <= 1e-300) {
    s = 0.0;
    t = std::clamp(f / e, 0.0, 1.0);
    return;
  }
  const double c = d1 % r;
  if (e <= 1e-300) {
    t = 0.0;
    s = std::clamp(-c / a, 0.0, 1.0);
    return;
  }
  const double b = d1 % d2, den = a * e - b * b;
  s = den > 1e-300 ? std::clamp((b * f - c * e) / den, 0.0, 1.0) : 0.0;
  t = (b * s + f) / e;
  if (t < 0.0) t = 0.0, s = std::clamp(-c / a, 0.0, 1.0);
  else if (t > 1.0) t = 1.0, s = std::clamp((b - c) / a, 0.0, 1.0);
}

// Gauss-Newton on |C(s) - C(t)|^2 from a start.
void refine_pair(const bs_curve_data& c, double& s, double& t) {
  const QELinterval r = c.range();
  for (int it = 0; it < 40; ++it) {
    QELvector cs[2], ct[2];
    c.eval(s, 1, cs);
    c.eval(t, 1, ct);
    const QELvector d = cs[0] - ct[0];
    const double a = cs[1] % cs[1], b = -(cs[1] % ct[1]), e = ct[1] % ct[1];
    const double g0 = d % cs[1], g1 = -(d % ct[1]);
    const double det = a * e - b * b;
    if (det <= 1e-300) break;
    const double ds = -(e * g0 - b * g1) / det, dt = -(a * g1 - b * g0) / det;
    s = std::clamp(s + ds, r.start_pt(), r.end_pt());
    t = std::clamp(t + dt, r.start_pt(), r.end_pt());
    if (std::fabs(ds) + std::fabs(dt) < 1e-15 * (1.0 + r.length())) break;
  }
}

}  // namespace

cc_intersection* bs3_curve_self_int(bs3_curve c, double tol) {
  if (!c) return nullptr;
  const std::vector<poly_point> poly = polyline(*c, 24);
  const int m = static_cast<int>(poly.size()) - 1;
  const QELinterval range = c->range();
  const bool closed = same_point(poly.front().p, poly.back().p, c->point_tol);
  double longest = 0.0;
  std::vector<double> run(m + 1, 0.0);  // polyline length up to each sample
  for (int i = 0; i < m; ++i) {
    longest = std::max(longest, distance(poly[i].p, poly[i + 1].p));
    run[i + 1] = run[i] + distance(poly[i].p, poly[i + 1].p);
  }
  auto run_at = [&](double t) {
    const auto it = std::upper_bound(poly.begin(), poly.end(), t, [](double x, const poly_point& q) { return x < q.t; });
    const int k = std::clamp(static_cast<int>(it - poly.begin()) - 1, 0, m - 1);
    const double f = poly[k + 1].t > poly[k].t ? (t - poly[k].t) / (poly[k + 1].t - poly[k].t) : 0.0;
    return run[k] + f * (run[k + 1] - run[k]);
  };
  // Only segments whose boxes come within reach of each other can pass the
  // distance test below: a sweep along x finds those pairs, which are then
  // taken in the order of a plain double loop, so the findings do not depend
  // on the sweep.
  const double reach = 0.5 * longest + tol;
  struct seg_box {
    double lo[3], hi[3];
  };
  std::vector<seg_box> boxes(m);
  for (int i = 0; i < m; ++i)
    for (int k = 0; k < 3; ++k) {
      const double a = poly[i].p[k], b = poly[i + 1].p[k];
      boxes[i].lo[k] = std::min(a, b);
      boxes[i].hi[k] = std::max(a, b);
    }
  std::vector<int> by_x(m);
  for (int i = 0; i < m; ++i) by_x[i] = i;
  std::sort(by_x.begin(), by_x.end(), [&](int a, int b) { return boxes[a].lo[0] < boxes[b].lo[0]; });
  std::vector<std::pair<int, int>> near;
  for (int a = 0; a < m; ++a) {
    const seg_box& p = boxes[by_x[a]];
    for (int b = a + 1; b < m && boxes[by_x[b]].lo[0] <= p.hi[0] + reach; ++b) {
      const seg_box& q = boxes[by_x[b]];
      if (q.lo[1] > p.hi[1] + reach || p.lo[1] > q.hi[1] + reach || q.lo[2] > p.hi[2] + reach ||
          p.lo[2] > q.hi[2] + reach)
        continue;
      near.emplace_back(std::min(by_x[a], by_x[b]), std::max(by_x[a], by_x[b]));
    }
  }
  std::sort(near.begin(), near.end());
  std::vector<std::pair<double, double>> found;
  for (const auto& [i, j] : near) {
      if (j < i + 2) continue;
      if (closed && i == 0 && j == m - 1) continue;
      double s, t;
      segment_closest(poly[i].p, poly[i + 1].p, poly[j].p, poly[j + 1].p, s, t);
      const QELposition a = interpolate(s, poly[i].p, poly[i + 1].p), b = interpolate(t, poly[j].p, poly[j + 1].p);
      if (distance(a, b) > 0.5 * longest + tol) continue;
      double ps = poly[i].t + s * (poly[i + 1].t - poly[i].t), pt = poly[j].t + t * (poly[j + 1].t - poly[j].t);
      refine_pair(*c, ps, pt);
      if (ps > pt) std::swap(ps, pt);
      if (distance(c->position(ps), c->position(pt)) > tol) continue;
      // Two parameters of one point with real curve between them: not a seam, not a touch of neighbours.
      if (run_at(pt) - run_at(ps) <= 10 * tol + longest) continue;
      // The closure itself: measured along the curve, as the search stops
      // short of the very ends where the curve turns back on its start.
      if (closed && run_at(ps) - run_at(range.start_pt()) <= 10 * tol &&
          run_at(range.end_pt()) - run_at(pt) <= 10 * tol)
        continue;
      const bool dup = std::any_of(found.begin(), found.end(), [&](const auto& f) {
        return same_point(c->position(f.first), c->position(ps), 10 * tol) &&
               same_point(c->position(f.second), c->position(pt), 10 * tol);
      });
      if (!dup) found.emplace_back(ps, pt);
    }
  std::sort(found.begin(), found.end());
  // A record that cannot be allocated frees the records made before it.
  cc_intersection* head = nullptr;
  try {
    for (auto it = found.rbegin(); it != found.rend(); ++it) {
      cc_intersection* x = VELM_MAKE(cc_intersection);
      x->param1 = it->first;
      x->param2 = it->second;
      x->int_point = c->position(it->first);
      x->next = head;
      head = x;
    }
  } catch (...) {
    delete_cc_intersections(head);
    throw;
  }
  return head;
}

void delete_cc_intersections(cc_intersection*& list) {
  while (list) {
    cc_intersection* n = list->next;
    delete list;
    list = n;
  }
}

namespace {

bool has_coincident_points(const std::vector<QELposition>& pts, double tol) {
  for (size_t i = 0; i + 1 < pts.size(); ++i)
    if (same_point(pts[i], pts[i + 1], tol)) return true;
  return false;
}

bool irregular(const bs_curve_data& c) {
  const std::vector<double>& k = c.dir.knots;
  QELvector prev;
  bool have_prev = false;
  double scale = 0.0;
  for (size_t i = 0; i + 1 < c.pts.size(); ++i) scale = std::max(scale, distance(c.pts[i], c.pts[i + 1]));
  for (int i = c.dir.degree; i < c.n(); ++i) {
    if (k[i + 1] <= k[i]) continue;
    for (int s = 0; s <= 8; ++s) {
      const double t = k[i] + (k[i + 1] - k[i]) * s / 8;
      QELvector d[2];
      c.eval(t, 1, d, s == 0 ? 1 : -1);
      // Vanishing speed, or a turn of more than 170 degrees between neighbouring samples.
      if (d[1].len() * (k[c.n()] - k[c.dir.degree]) <= 1e-9 * std::max(scale, 1e-300)) return true;
      if (have_prev && (prev % d[1]) < std::cos(170.0 * std::acos(-1.0) / 180.0) * prev.len() * d[1].len())
        return true;
      prev = d[1];
      have_prev = true;
    }
  }
  return false;
}

}  // namespace

check_status_list* bs3_curve_check(bs3_curve c, const intcurve*, const check_status_list* wanted) {
  if (!c) return nullptr;
  check_status_list* r = nullptr;
  if (wants(wanted, status_coincident_points) && has_coincident_points(c->pts, QELresabs))
    r = add_status(r, status_coincident_points);
  if (wants(wanted, status_bad_closure) && c->dir.form > bs_curve_form(*c, c->point_tol))
    r = add_status(r, status_bad_closure);
  if (wants(wanted, status_irregular) && irregular(*c)) r = add_status(r, status_irregular);
  if (wants(wanted, status_self_intersecting)) {
    cc_intersection* x = bs3_curve_self_int(c);
    if (x) r = add_status(r, status_self_intersecting);
    delete_cc_intersections(x);
  }
  return r;
}

check_status_list* d3_cu_check(const curve& c, const check_fix&, check_fix& result, const check_status_list* wanted,
                               double) {
  result.fixed = 0;
  if (c.type() == 11) return bs3_curve_check(static_cast<const intcurve&>(c).cur(), nullptr, wanted);
  // Analytic curves: only a vanishing derivative can be wrong with them.
  bool bad = false;
  if (c.type() == 1) bad = static_cast<const straight&>(c).param_scale == 0.0;
  if (c.type() == 2) {
    const ellipse& e = static_cast<const ellipse&>(c);
    bad = e.major_axis.len() <= QELresabs || e.minor_axis().len() <= QELresabs;
  }
  return bad && wants(wanted, status_irregular) ? VELM_MAKE(check_status_list, status_irregular) : nullptr;
}

int bs3_curve_fix_coi_verts(bs3_curve c, const check_fix& input, check_fix* result) {
  if (!c || input.mask == 0) return 0;
  const double tol = std::max(input.tol2, QELresabs);
  // Where the pair ends up: a little over the tolerance apart, so that the
  // check at the same tolerance (in any frame) no longer finds it.
  const double apart = 1.01 * tol;
  int fixed = 0;
  const int n = c->n();
  for (int i = 0; i + 1 < n; ++i) {
    if (!same_point(c->pts[i], c->pts[i + 1], tol)) continue;
    // Spread the pair: the inner point moves towards its other neighbour just
    // far enough that the pair lies apart (half the way at most). A point
    // moved by s moves the curve by s times its basis function at most, so
    // the curve keeps its shape and its parameter within the tolerance; a
    // tenth of the way to the neighbour moved a curve whose speed vanishes
    // at an end (its first two points one) by a tenth of its first span.
    const int mover = i + 1 < n - 1 ? i + 1 : i;
    const int stayer = mover == i + 1 ? i : i + 1;
    const int towards = mover == i + 1 ? i + 2 : i - 1;
    if (towards < 0 || towards >= n) continue;
    const QELvector way = c->pts[towards] - c->pts[mover];
    const double room = way.len();
    if (!(room > 0.0)) continue;
    const QELvector dir = way / room, off = c->pts[mover] - c->pts[stayer];
    // The step s along dir with |off + s dir| = apart (off is shorter than apart).
    const double b = off % dir, gap = off % off - apart * apart;
    const double step = std::min(-b + std::sqrt(std::max(0.0, b * b - gap)), 0.5 * room);
    c->pts[mover] = c->pts[mover] + step * dir;
    ++fixed;
  }
  if (result) result->fixed = fixed;
  return fixed;
}

// ---- surfaces ----

namespace {

bool row_collapsed(const bs3_surf_def& s, bool u_row, int index, double tol) {
  const int n = u_row ? s.nv() : s.nu();
  const QELposition& first = u_row ? s.pt(index, 0) : s.pt(0, index);
  for (int k = 1; k < n; ++k)
    if (!same_point(u_row ? s.pt(index, k) : s.pt(k, index), first, tol)) return false;
  return true;
}

bool surface_coincident(const bs3_surf_def& s, double tol) {
  for (int i = 0; i < s.nu(); ++i) {
    if (row_collapsed(s, true, i, tol)) continue;
    for (int j = 0; j + 1 < s.nv(); ++j)
      if (same_point(s.pt(i, j), s.pt(i, j + 1), tol)) return true;
  }
  for (int j = 0; j < s.nv(); ++j) {
    if (row_collapsed(s, false, j, tol)) continue;
    for (int i = 0; i + 1 < s.nu(); ++i)
      if (same_point(s.pt(i, j), s.pt(i + 1, j), tol)) return true;
  }
  return false;
}

bool surface_singular(const bs3_surf_def& s, double tol) {
  for (int i = 0; i < s.nu(); ++i) {
    if (!row_collapsed(s, true, i, tol)) continue;
    if (i == 0 ? !(s.u.pole & 1) : i == s.nu() - 1 ? !(s.u.pole & 2) : true) return true;
  }
  for (int j = 0; j < s.nv(); ++j) {
    if (!row_collapsed(s, false, j, tol)) continue;
    if (j == 0 ? !(s.v.pole & 1) : j == s.nv() - 1 ? !(s.v.pole & 2) : true) return true;
  }
  return false;
}

// Samples of the normal; irregular when it vanishes inside, folded when neighbours oppose.
void normal_samples(const bs3_surf_def& s, bool& irregular, bool& folded) {
  const int n = 12;
  const QELpar_box r = bs3_surface_range(const_cast<bs3_surface>(&s));
  std::vector<QELvector> nrm((n + 1) * (n + 1));
  double scale = 0.0;
  irregular = folded = false;
  for (int i = 0; i <= n; ++i)
    for (int j = 0; j <= n; ++j) {
      QELposition p;
      QELvector d[5];
      s.eval(QELpar_pos(r.u_range().interpolate(double(i) / n), r.v_range().interpolate(double(j) / n)), p, 1, d);
      nrm[i * (n + 1) + j] = d[0] * d[1];
      scale = std::max(scale, d[0].len() * d[1].len());
    }
  for (int i = 1; i < n; ++i)
    for (int j = 1; j < n; ++j)
      if (nrm[i * (n + 1) + j].len() <= 1e-9 * scale) irregular = true;
  // A normal that vanishes (at a pole) has no direction to oppose its neighbour's.
  const auto opposed = [&](const QELvector& a, const QELvector& b) {
    return a.len() > 1e-9 * scale && b.len() > 1e-9 * scale && (a % b) < 0.0;
  };
  for (int i = 0; i <= n; ++i)
    for (int j = 0; j <= n; ++j) {
      const QELvector& a = nrm[i * (n + 1) + j];
      if (i < n && opposed(a, nrm[(i + 1) * (n + 1) + j])) folded = true;
      if (j < n && opposed(a, nrm[i * (n + 1) + j + 1])) folded = true;
    }
}

// Bounded self-intersection test: each u iso-curve against itself and against the others.
bool surface_self_intersects(const bs3_surf_def& s, double tol) {
  const QELpar_box r = bs3_surface_range(const_cast<bs3_surface>(&s));
  const int lines = 9, samples = 48;
  std::vector<std::vector<QELposition>> poly(lines);
  for (int i = 0; i < lines; ++i) {
    const double u = r.u_range().interpolate((i + 0.5) / lines);
    const held_bs3 iso(bs3_curve_u_param_line(const_cast<bs3_surface>(&s), u));
    if (!iso.get()) continue;
    cc_intersection* x = bs3_curve_self_int(iso.get(), tol);
    const bool hit = x != nullptr;
    delete_cc_intersections(x);
    if (hit) return true;
    // Away from pole ends, where iso-curves meet by design.
    for (int k = 1; k < samples; ++k)
      poly[i].push_back([&] {
        QELposition p;
        s.eval(QELpar_pos(u, r.v_range().interpolate(double(k) / samples)), p, 0, nullptr);
        return p;
      }());
  }
  for (int a = 0; a < lines; ++a)
    for (int b = a + 1; b < lines; ++b)
      for (const QELposition& p : poly[a])
        for (const QELposition& q : poly[b])
          if (same_point(p, q, tol)) return true;
  return false;
}

}  // namespace

check_status_list* bs3_surface_check(bs3_surface s, const spline*, const check_fix& input, check_fix& result,
                                     const check_status_list* wanted) {
  if (!s) return nullptr;
  result.fixed = 0;
  const double tol = std::max(input.tol2, QELresabs);
  check_status_list* r = nullptr;
  if (wants(wanted, status_coincident_points) && surface_coincident(*s, tol)) r = add_status(r, status_coincident_points);
  if (wants(wanted, status_bad_closure) &&
      (s->u.form > bs_surface_form(*s, true, s->point_tol) || s->v.form > bs_surface_form(*s, false, s->point_tol)))
    r = add_status(r, status_bad_closure);
  if (wants(wanted, status_singular) && surface_singular(*s, tol)) r = add_status(r, status_singular);
  const bool bad_pole = ((s->u.pole & 1) && !row_collapsed(*s, true, 0, tol)) ||
                        ((s->u.pole & 2) && !row_collapsed(*s, true, s->nu() - 1, tol)) ||
                        ((s->v.pole & 1) && !row_collapsed(*s, false, 0, tol)) ||
                        ((s->v.pole & 2) && !row_collapsed(*s, false, s->nv() - 1, tol));
  bool irregular = false, folded = false;
  if (wants(wanted, status_irregular) || wants(wanted, status_bad_pole)) normal_samples(*s, irregular, folded);
  if (wants(wanted, status_irregular) && irregular) r = add_status(r, status_irregular);
  if (wants(wanted, status_bad_pole) && (bad_pole || folded)) r = add_status(r, status_bad_pole);
  if (wants(wanted, status_self_intersecting) && surface_self_intersects(*s, tol))
    r = add_status(r, status_self_intersecting);
  return r;
}

void bs3_surface_fix_degeneracy(bs3_surface s, const check_fix& input, check_fix* result) {
  if (!s) return;
  const double tol = std::max(input.tol2, QELresabs);
  int fixed = 0;
  // Boundary rows that nearly collapse become exact poles.
  auto collapse = [&](bool u_row, int index) {
    const int n = u_row ? s->nv() : s->nu();
    QELvector sum;
    for (int k = 0; k < n; ++k) sum += to_vec(u_row ? s->pt(index, k) : s->pt(k, index));
    const QELposition c = to_pos(sum / n);
    bool near = true, exact = true;
    for (int k = 0; k < n; ++k) {
      const QELposition& p = u_row ? s->pt(index, k) : s->pt(k, index);
      near = near && same_point(p, c, 10 * tol);
      exact = exact && same_point(p, c, 0.0);
    }
    if (!near || exact) return;
    for (int k = 0; k < n; ++k) s->pts[u_row ? index * s->nv() + k : k * s->nv() + index] = c;
    ++fixed;
  };
  collapse(true, 0);
  collapse(true, s->nu() - 1);
  collapse(false, 0);
  collapse(false, s->nv() - 1);
  set_poles(s, tol);
  // Coincident neighbours inside a live row are spread along the row.
  for (int i = 0; i < s->nu(); ++i) {
    if (row_collapsed(*s, true, i, tol)) continue;
    for (int j = 1; j + 1 < s->nv(); ++j)
      if (same_point(s->pt(i, j), s->pt(i, j - 1), tol)) {
        s->pts[i * s->nv() + j] = interpolate(0.1, s->pt(i, j), s->pt(i, j + 1));
        ++fixed;
      }
  }
  if (result) result->fixed = fixed;
}

check_status_list* d3_sf_check(surface& srf, const check_fix& input, check_fix& result,
                               const check_status_list* wanted) {
  result.fixed = 0;
  if (srf.type() == 10) {
    spline& sp = static_cast<spline&>(srf);
    bs3_surface s = sp.sur();
    if (input.fix && input.mask && s) {
      check_fix done;
      bs3_surface_fix_degeneracy(s, input, &done);
      if (s->u.form > bs_surface_form(*s, true, s->point_tol)) bs3_surface_determine_form_u(s), ++done.fixed;
      if (s->v.form > bs_surface_form(*s, false, s->point_tol)) bs3_surface_determine_form_v(s), ++done.fixed;
      result.fixed = done.fixed;
      srf.change_event();
    }
    const int fixed = result.fixed;
    check_status_list* found = bs3_surface_check(s, &sp, input, result, wanted);
    result.fixed = fixed;
    return found;
  }
  // Analytic surfaces: a vanishing normal over the bounded part is the only fault they can have.
  const QELpar_box r = srf.param_range();
  const QELinterval u = r.u_range().finite() ? r.u_range() : QELinterval(-1, 1);
  const QELinterval v = r.v_range().finite() ? r.v_range() : QELinterval(-1, 1);
  for (int i = 1; i < 8; ++i)
    for (int j = 1; j < 8; ++j) {
      const QELpar_pos uv(u.interpolate(i / 8.0), v.interpolate(j / 8.0));
      if (srf.singular_u(uv.u) || srf.singular_v(uv.v)) continue;
      QELposition p;
      QELvector d[2];
      srf.eval(uv, p, d);
      if ((d[0] * d[1]).len() <= 1e-12 * (d[0].len_sq() + d[1].len_sq()) && wants(wanted, status_irregular))
        return VELM_MAKE(check_status_list, status_irregular);
    }
  return nullptr;
}
