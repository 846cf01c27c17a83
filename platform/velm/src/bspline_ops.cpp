// B-spline operations that change shape or build new B-splines: subsets, joins,
// degree and knot work, interpolation, exact forms of analytic curves, iso-curves.
// Open CASCADE does the knot arithmetic; the kernel's own arrays stay the record.
#include <GeomAPI_Interpolate.hxx>
#include <GeomConvert.hxx>
#include <Geom_BSplineCurve.hxx>
#include <Geom_BSplineSurface.hxx>
#include <Geom_Ellipse.hxx>
#include <Geom_TrimmedCurve.hxx>
#include <BSplCLib.hxx>
#include <Standard_Failure.hxx>
#include <TColStd_HArray1OfBoolean.hxx>
#include <TColgp_HArray1OfPnt.hxx>
#include <TColgp_Array1OfVec.hxx>
#include <TColStd_HArray1OfReal.hxx>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>

#include "bspline_data.hxx"
#include "occ_bridge.hxx"
#include "geom_numeric.hxx"
#include "velm/check.hxx"
#include "velm/geometry.hxx"
#include "velm/surface_build.hxx"

namespace {

curve_evaluator bs_evaluator(const bs_curve_data& c) {
  return [&c](double t, int nd, QELvector out[3]) { c.eval(t, nd, out, 0); };
}

// Subset of any curve data; null when the range misses the domain.
template <class C>
C* subset_of(const C* c, const QELinterval& range) {
  if (!c || range.empty() || !range.finite()) return nullptr;
  const QELinterval dom = c->range();
  const QELinterval r = dom & range;
  if (r.empty() || r.length() <= bs3_curve_knottol() || !(dom >> range)) return nullptr;
  C* out = VELM_MAKE(C, *c);
  if (r == dom && c->dir.clamped()) return out;
  try {
    Handle(Geom_BSplineCurve) h = to_occ(*c);
    h->Segment(r.start_pt(), r.end_pt());
    from_occ(h, *out, c->rational);
  } catch (const Standard_Failure&) {
    delete out;
    return nullptr;
  }
  out->dir.form = bs_curve_form(*out, out->point_tol);
  return out;
}

}  // namespace

// ---- subsets ----

bs3_curve bs3_curve_subset(bs3_curve c, const QELinterval& range, double, double* actual_fit) {
  if (actual_fit) *actual_fit = 0.0;
  return subset_of(c, range);
}

bs2_curve bs2_curve_subset(bs2_curve c, const QELinterval& range, double) { return subset_of(c, range); }

bs3_surface bs3_surface_subset(bs3_surface s, const QELpar_box& box) {
  if (!s || box.empty()) return nullptr;
  const QELpar_box dom = bs3_surface_range(s);
  const QELinterval u = dom.u_range() & box.u_range(), v = dom.v_range() & box.v_range();
  if (u.empty() || v.empty() || u.length() <= bs3_curve_knottol() || v.length() <= bs3_curve_knottol()) return nullptr;
  bs3_surface out = VELM_MAKE(bs3_surf_def, *s);
  try {
    Handle(Geom_BSplineSurface) h = to_occ(*s);
    h->Segment(u.start_pt(), u.end_pt(), v.start_pt(), v.end_pt());
    from_occ(h, *out);
  } catch (const Standard_Failure&) {
    delete out;
    return nullptr;
  }
  bs3_surface_determine_form_u(out);
  bs3_surface_determine_form_v(out);
  set_poles(out, out->point_tol);
  return out;
}

// ---- measures ----

double bs3_curve_length(bs3_curve c, const QELinterval* range) {
  const QELinterval r = range ? *range : c->range();
  return curve_length(bs_evaluator(*c), r.start_pt(), r.end_pt());
}

double bs3_curve_invert(const QELposition& p, double, bs3_curve c, const double* guess) {
  const QELinterval r = c->range();
  return curve_project(bs_evaluator(*c), r.start_pt(), r.end_pt(), c->dir.form == 2,
                       std::max(64, 8 * (c->n() - c->dir.degree)), p, guess);
}

// ---- degree and knots ----

bs3_curve bs3_curve_degree_elevate(bs3_curve c) {
  if (!c) return nullptr;
  bs3_curve r = VELM_MAKE(bs3_curve_def, *c);
  try {
    Handle(Geom_BSplineCurve) h = to_occ(*c);
    h->IncreaseDegree(c->dir.degree + 1);
    from_occ(h, *r, c->rational);
  } catch (const Standard_Failure&) {
    bs3_curve_delete(r);
  }
  return r;
}

bool bs3_curve_fix_extra_knots(bs3_curve c, double tol) {
  try {
    Handle(Geom_BSplineCurve) h = to_occ(*c);
    bool changed = false;
    for (int i = h->NbKnots() - 1; i >= 2; --i)
      while (i <= h->NbKnots() - 1 && h->RemoveKnot(i, h->Multiplicity(i) - 1, tol)) changed = true;
    if (changed) from_occ(h, *c, c->rational);
    return changed;
  } catch (const Standard_Failure&) {
    return false;
  }
}

void bs3_curve_compat(bs3_curve& a, bs3_curve& b) {
  if (!a || !b) return;
  const QELinterval ra = a->range();
  bs_direction_reparam(b->dir, ra.start_pt(), ra.end_pt());
  try {
    Handle(Geom_BSplineCurve) ha = to_occ(*a), hb = to_occ(*b);
    const int p = std::max(ha->Degree(), hb->Degree());
    ha->IncreaseDegree(p);
    hb->IncreaseDegree(p);
    const double tol = bs3_curve_knottol();
    for (int pass = 0; pass < 2; ++pass) {
      Handle(Geom_BSplineCurve) from = pass ? hb : ha, to = pass ? ha : hb;
      for (int i = 1; i <= from->NbKnots(); ++i) to->InsertKnot(from->Knot(i), from->Multiplicity(i), tol, Standard_False);
    }
    from_occ(ha, *a, a->rational);
    from_occ(hb, *b, b->rational);
  } catch (const Standard_Failure&) {
  }
}

bool bs3_curve_mergeable(bs3_curve first, bs3_curve second, double tol) {
  if (!first || !second) return false;
  const QELinterval r1 = first->range(), r2 = second->range();
  const QELposition end = first->position(r1.end_pt());
  if (distance(end, second->position(r2.start_pt())) > 10 * tol) return false;
  if (second->dir.clamped()) second->pts.front() = end;
  bs_direction_reparam(second->dir, r1.end_pt(), r1.end_pt() + r2.length());
  return same_point(end, second->position(second->range().start_pt()));
}

bs3_curve bs3_curve_join(bs3_curve first, bs3_curve second) {
  if (!first || !second) return nullptr;
  if (!same_point(first->position(first->range().end_pt()), second->position(second->range().start_pt())))
    return nullptr;
  // Clamp both, bring them to one degree, and splice the knot vectors at the joint.
  // The copies are held: a copy, an elevation or the joined curve that cannot
  // be allocated raises the error, and the copies made before it go.
  held_bs3 a(bs3_curve_subset(first, first->range()));
  held_bs3 b(bs3_curve_subset(second, second->range()));
  while (a.get() && b.get() && a.get()->dir.degree < b.get()->dir.degree) a.reset(bs3_curve_degree_elevate(a.get()));
  while (a.get() && b.get() && b.get()->dir.degree < a.get()->dir.degree) b.reset(bs3_curve_degree_elevate(b.get()));
  if (!a.get() || !b.get()) return nullptr;
  const bs3_curve_def& x = *a.get();
  bs3_curve_def& y = *b.get();
  const int p = x.dir.degree;
  const double e = x.range().end_pt();
  bs_direction_reparam(y.dir, e, e + y.range().length());
  bs3_curve r = VELM_MAKE(bs3_curve_def, x);
  r->rational = x.rational || y.rational;
  r->weights.clear();
  const double scale = x.weight(x.n() - 1) / y.weight(0);
  for (int i = 0; i < x.n(); ++i) r->weights.push_back(x.weight(i));
  for (int i = 1; i < y.n(); ++i) {
    r->pts.push_back(y.pts[i]);
    r->weights.push_back(scale * y.weight(i));
  }
  if (!r->rational) r->weights.clear();
  r->dir.knots.assign(x.dir.knots.begin(), x.dir.knots.end() - 1);
  r->dir.knots.insert(r->dir.knots.end(), y.dir.knots.begin() + p + 1, y.dir.knots.end());
  r->dir.form = bs_curve_form(*r, r->point_tol);
  return r;
}

// ---- interpolation ----

namespace {

// With `derivatives` the end vectors are the curve's derivatives in the given
// parameters, taken as they are; otherwise directions, scaled by the solver.
bs3_curve interpolate(int n, const QELposition pts[], const double* params, const QELvector* start,
                      const QELvector* end, bool derivatives = false) {
  if (n < 2 || !pts) return nullptr;
  try {
    Handle(TColgp_HArray1OfPnt) hp = new TColgp_HArray1OfPnt(1, n);
    for (int i = 0; i < n; ++i) hp->SetValue(i + 1, to_gp(pts[i]));
    std::unique_ptr<GeomAPI_Interpolate> in;
    if (params) {
      Handle(TColStd_HArray1OfReal) hk = new TColStd_HArray1OfReal(1, n);
      for (int i = 0; i < n; ++i) hk->SetValue(i + 1, params[i]);
      in = std::make_unique<GeomAPI_Interpolate>(hp, hk, Standard_False, QELresabs / 10);
    } else {
      in = std::make_unique<GeomAPI_Interpolate>(hp, Standard_False, QELresabs / 10);
    }
    const bool has_start = start && start->len() > 0.0, has_end = end && end->len() > 0.0;
    if (has_start || has_end) {
      TColgp_Array1OfVec tangents(1, n);
      Handle(TColStd_HArray1OfBoolean) flags = new TColStd_HArray1OfBoolean(1, n);
      flags->Init(Standard_False);
      for (int i = 1; i <= n; ++i) tangents(i) = gp_Vec(0, 0, 0);
      if (has_start) {
        const QELvector s = derivatives ? *start : QELvector(normalise(*start));
        tangents(1) = gp_Vec(s.x(), s.y(), s.z());
        flags->SetValue(1, Standard_True);
      }
      if (has_end) {
        const QELvector e = derivatives ? *end : QELvector(normalise(*end));
        tangents(n) = gp_Vec(e.x(), e.y(), e.z());
        flags->SetValue(n, Standard_True);
      }
      in->Load(tangents, flags, derivatives ? Standard_False : Standard_True);
    }
    in->Perform();
    if (!in->IsDone()) return nullptr;
    bs3_curve r = VELM_MAKE(bs3_curve_def);
    from_occ(in->Curve(), *r, false);
    r->dir.form = bs_curve_form(*r, r->point_tol);
    return r;
  } catch (const Standard_Failure&) {
    return nullptr;
  }
}

}  // namespace

bs3_curve bs3_curve_interp(int n, const QELposition pts[], const QELvector& start_dir, const QELvector& end_dir,
                           double, double* actual_fit) {
  if (actual_fit) *actual_fit = 0.0;
  return interpolate(n, pts, nullptr, &start_dir, &end_dir);
}

bs3_curve bs3_curve_interp_knots(int n, const QELposition pts[], const double params[], const QELvector* start_dir,
                                 const QELvector* end_dir) {
  return interpolate(n, pts, params, start_dir, end_dir, params != nullptr);
}

// ---- exact and approximate forms of curves ----

bs3_curve bs3_curve_make_str(const straight& s, double t0, double t1, double, double* actual_fit) {
  if (actual_fit) *actual_fit = 0.0;
  if (!(t1 > t0)) return nullptr;
  const QELposition pts[2] = {s.eval_position(t0), s.eval_position(t1)};
  const double knots[4] = {t0, t0, t1, t1};
  return bs3_curve_from_ctrlpts(1, 0, 0, 0, 2, pts, nullptr, QELresabs, 4, knots, bs3_curve_knottol());
}

bs3_curve bs3_curve_make_ell(const ellipse& e, double t0, double t1, double, double* actual_fit) {
  if (actual_fit) *actual_fit = 0.0;
  if (!(t1 > t0) || t1 - t0 > 2 * std::numbers::pi + QELresnor) return nullptr;
  QELvector a = e.major_axis, b = e.minor_axis();
  double shift = e.param_offset;
  if (b.len() > a.len()) {
    // The framework of the conversion wants the longer axis first: turn a quarter.
    const QELvector a0 = a;
    a = b;
    b = -a0;
    shift -= std::numbers::pi / 2;
  }
  if (a.len() <= QELresabs || b.len() <= QELresabs) return nullptr;
  const QELunit_vector z = normalise(a * b), x = normalise(a);
  try {
    const gp_Ax2 axes(to_gp(e.centre), gp_Dir(z.x(), z.y(), z.z()), gp_Dir(x.x(), x.y(), x.z()));
    Handle(Geom_Ellipse) el = new Geom_Ellipse(axes, a.len(), b.len());
    Handle(Geom_TrimmedCurve) tr = new Geom_TrimmedCurve(el, t0 + shift, t1 + shift);
    Handle(Geom_BSplineCurve) h = GeomConvert::CurveToBSplineCurve(tr, Convert_TgtThetaOver2);
    bs3_curve r = VELM_MAKE(bs3_curve_def);
    from_occ(h, *r, true);
    bs_direction_reparam(r->dir, t0, t1);
    r->dir.form = bs_curve_form(*r, r->point_tol);
    return r;
  } catch (const Standard_Failure&) {
    return nullptr;
  }
}

bs3_curve bs3_curve_make_cur(const curve& c, double t0, double t1, double fit, double* actual_fit) {
  if (actual_fit) *actual_fit = 0.0;
  if (c.type() == 1) return bs3_curve_make_str(static_cast<const straight&>(c), t0, t1, fit, actual_fit);
  if (c.type() == 2) return bs3_curve_make_ell(static_cast<const ellipse&>(c), t0, t1, fit, actual_fit);
  if (c.type() == 11) {
    const intcurve& ic = static_cast<const intcurve&>(c);
    if (ic.cur()) {
      const held_bs3 own(bs3_curve_copy(ic.cur()));
      if (ic.reversed()) bs3_curve_reverse(own.get());
      return bs3_curve_subset(own.get(), QELinterval(t0, t1));
    }
  }
  // Anything else: interpolation at the curve's own parameters.
  return bs_interpolate_curve(c, t0, t1, std::max(fit, QELresabs), actual_fit);
}

bs3_curve bs_interpolate_curve(const curve& c, double t0, double t1, double goal, double* actual_fit) {
  if (actual_fit) *actual_fit = 0.0;
  if (!(t1 > t0)) return nullptr;
  // Refined until the midpoints of the samples lie within the goal.
  for (int n = 9; n <= 2049; n = 2 * n - 1) {
    std::vector<QELposition> pts(n);
    std::vector<double> ts(n);
    for (int i = 0; i < n; ++i) {
      ts[i] = t0 + (t1 - t0) * i / (n - 1);
      pts[i] = c.eval_position(ts[i]);
    }
    bs3_curve r = bs3_curve_interp_knots(n, pts.data(), ts.data());
    if (!r) return nullptr;
    double err = 0.0;
    for (int i = 0; i + 1 < n; ++i) {
      const double tm = 0.5 * (ts[i] + ts[i + 1]);
      err = std::max(err, distance(r->position(tm), c.eval_position(tm)));
    }
    if (err <= goal || n > 1025) {
      if (actual_fit) *actual_fit = err;
      return r;
    }
    bs3_curve_delete(r);
  }
  return nullptr;
}

// ---- iso-curves of surfaces ----

namespace {

bs3_curve iso_curve(bs3_surface s, bool along_u, double x) {
  if (!s) return nullptr;
  const bs_direction& across = along_u ? s->v : s->u;
  const int span = across.span(x, 0);
  std::vector<double> N(static_cast<std::size_t>(across.degree + 1));
  across.basis(span, x, 0, N.data());
  bs3_curve r = VELM_MAKE(bs3_curve_def);
  r->dir = along_u ? s->u : s->v;
  r->dir.pole = 0;
  r->rational = s->rational;
  const int n = along_u ? s->nu() : s->nv();
  for (int k = 0; k < n; ++k) {
    QELvector sum;
    double w = 0.0;
    for (int j = 0; j <= across.degree; ++j) {
      const int a = span - across.degree + j;
      const int i = along_u ? k : a, jj = along_u ? a : k;
      const double nw = N[j] * s->weight(i, jj);
      sum += nw * to_vec(s->pt(i, jj));
      w += nw;
    }
    r->pts.push_back(to_pos(sum / w));
    if (r->rational) r->weights.push_back(w);
  }
  r->dir.form = bs_curve_form(*r, r->point_tol);
  return r;
}

}  // namespace

bs3_curve bs3_curve_u_param_line(bs3_surface s, double v) { return iso_curve(s, true, v); }
bs3_curve bs3_curve_v_param_line(bs3_surface s, double u) { return iso_curve(s, false, u); }

// ---- surfaces of any kind ----

namespace {

bs3_surface make_sur_in_own_parameters(const surface& srf, const QELbox& region, double fit, double* actual_fit);

}  // namespace

bs3_surface bs3_surface_make_sur(const surface& srf, const QELbox& region, double fit, double* actual_fit,
                                 QELpar_transf* par_transf_out) {
  if (par_transf_out) *par_transf_out = QELpar_transf();
  bs3_surface made = make_sur_in_own_parameters(srf, region, fit, actual_fit);
  if (!made || !par_transf_out || srf.type() == 10) return made;
  // A caller that takes the transform gets any surface but a spline over the
  // unit square, and the map from the surface's parameters onto it.
  const QELpar_box own = bs3_surface_range(made);
  const QELinterval& u = own.u_range();
  const QELinterval& v = own.v_range();
  if (u.length() <= 0.0 || v.length() <= 0.0) return made;
  bs3_surface_reparam_u(0.0, 1.0, made);
  bs3_surface_reparam_v(0.0, 1.0, made);
  *par_transf_out = QELpar_transf(1.0 / u.length(), 1.0 / v.length(), -u.start_pt() / u.length(),
                                  -v.start_pt() / v.length());
  return made;
}

namespace {

bs3_surface make_sur_in_own_parameters(const surface& srf, const QELbox& region, double fit, double* actual_fit) {
  if (actual_fit) *actual_fit = 0.0;
  const QELpar_box box = srf.param_range(&region);
  if (box.empty() || !box.u_range().finite() || !box.v_range().finite()) return nullptr;
  if (srf.type() == 10) {
    // A box inside the B-spline's domain is a plain subset; one that runs over
    // the seam of a periodic direction is fitted like any other surface below.
    const spline& sp = static_cast<const spline&>(srf);
    const QELpar_box dom = bs3_surface_range(sp.sur());
    if ((dom.u_range() << box.u_range()) && (dom.v_range() << box.v_range()))
      return bs3_surface_subset(sp.sur(), box);
    if (!bs3_surface_periodic_u(sp.sur()) && !bs3_surface_periodic_v(sp.sur()))
      return bs3_surface_subset(sp.sur(), box);
  }
  const QELinterval& u = box.u_range();
  const QELinterval& v = box.v_range();
  if (srf.type() == 1) {
    const QELposition pts[4] = {srf.eval_position(box.low()), srf.eval_position(QELpar_pos(u.start_pt(), v.end_pt())),
                                srf.eval_position(QELpar_pos(u.end_pt(), v.start_pt())), srf.eval_position(box.high())};
    const double uk[4] = {u.start_pt(), u.start_pt(), u.end_pt(), u.end_pt()};
    const double vk[4] = {v.start_pt(), v.start_pt(), v.end_pt(), v.end_pt()};
    return bs3_surface_from_ctrlpts(1, 0, 0, 0, 2, 1, 0, 0, 0, 2, pts, nullptr, QELresabs, 4, uk, 4, vk,
                                    bs3_curve_knottol());
  }
  // An exact conversion asked for: the rational form, exact at the arc ends. Its
  // parameter follows the angle only at its knots, so an approximation that
  // pcurves must stay on keeps to interpolation below.
  if (fit <= 0.0)
    if (bs3_surface exact = bs3_surface_exact_form(srf, box)) return exact;
  // Tensor interpolation at the surface's own parameters: rows first, then the rows'
  // control points across; refined until cell centres lie within the fit.
  const double goal = std::max(fit, QELresabs);
  // Interpolates every point set at the same parameters; a set collapsed to one point
  // (a pole row) becomes a constant curve on the knots of the others.
  // The curves are held: one that cannot be allocated frees those made before it.
  auto interpolate_all = [](const std::vector<std::vector<QELposition>>& sets, std::vector<double>& ts) {
    held_bs3_list out(sets.size());
    const bs3_curve_def* model = nullptr;
    for (size_t i = 0; i < sets.size(); ++i) {
      const bool collapsed = std::all_of(sets[i].begin(), sets[i].end(),
                                         [&](const QELposition& p) { return same_point(p, sets[i][0], QELresabs); });
      if (!collapsed) {
        out[i] = bs3_curve_interp_knots(static_cast<int>(ts.size()), sets[i].data(), ts.data());
        if (!out[i]) return out;
        model = out[i];
      }
    }
    for (size_t i = 0; i < sets.size(); ++i)
      if (!out[i] && model) {
        out[i] = VELM_MAKE(bs3_curve_def, *model);
        std::fill(out[i]->pts.begin(), out[i]->pts.end(), sets[i][0]);
      }
    return out;
  };
  for (int n = 9; n <= 129; n = 2 * n - 1) {
    std::vector<double> us(n), vs(n);
    for (int i = 0; i < n; ++i) us[i] = u.interpolate(double(i) / (n - 1)), vs[i] = v.interpolate(double(i) / (n - 1));
    std::vector<std::vector<QELposition>> grid(n, std::vector<QELposition>(n));
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) grid[i][j] = srf.eval_position(QELpar_pos(us[i], vs[j]));
    held_bs3_list rows = interpolate_all(grid, vs);
    bs3_surface out = nullptr;
    if (rows.complete()) {
      const int nv = rows[0]->n();
      std::vector<std::vector<QELposition>> across(nv, std::vector<QELposition>(n));
      for (int j = 0; j < nv; ++j)
        for (int i = 0; i < n; ++i) across[j][i] = rows[i]->pts[j];
      held_bs3_list cols = interpolate_all(across, us);
      if (cols.complete()) {
        out = VELM_MAKE(bs3_surf_def);
        out->u = cols[0]->dir;
        out->v = rows[0]->dir;
        out->pts.resize(out->u.count() * nv);
        for (int i = 0; i < out->u.count(); ++i)
          for (int j = 0; j < nv; ++j) out->pts[i * nv + j] = cols[j]->pts[i];
      }
    }
    if (!out) return nullptr;
    double err = 0.0;
    for (int i = 0; i + 1 < n; ++i)
      for (int j = 0; j + 1 < n; ++j) {
        const QELpar_pos m(0.5 * (us[i] + us[i + 1]), 0.5 * (vs[j] + vs[j + 1]));
        QELposition p;
        out->eval(m, p, 0, nullptr);
        err = std::max(err, distance(p, srf.eval_position(m)));
      }
    if (err <= goal || n >= 129) {
      out->u.form = bs_surface_form(*out, true, out->point_tol);
      out->v.form = bs_surface_form(*out, false, out->point_tol);
      set_poles(out, QELresabs);
      if (actual_fit) *actual_fit = err;
      return out;
    }
    delete out;
  }
  return nullptr;
}

}  // namespace
