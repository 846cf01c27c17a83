// Pcurve simplification and face trimming.
#include "velm/pcurves.hxx"

#include <algorithm>
#include <cstring>

#include "query_internal.hxx"
#include "velm/api.hxx"

using namespace velm_query;

namespace {
bool is_line(bs2_curve c) {
  int n = 0;
  double* knots = nullptr;
  bs2_curve_knots(c, n, knots);
  delete[] knots;
  return bs2_curve_degree(c) == 1 && n == 4;
}

// A degree-1 pcurve from a to b over the range, on a copy of the surface.
pcurve line_pcurve(const QELpar_pos& a, const QELpar_pos& b, const QELinterval& r, double fitol,
                   const surface& s) {
  const QELposition pts[2] = {QELposition(a.u, a.v, 0.0), QELposition(b.u, b.v, 0.0)};
  const double knots[4] = {r.start_pt(), r.start_pt(), r.end_pt(), r.end_pt()};
  bs2_curve line = bs2_curve_from_ctrlpts(1, 0, 0, 0, 2, pts, nullptr, QELresabs, 4, knots, bs3_curve_knottol());
  if (!line) velm_api_error_throw(VELM_BAD_ARGUMENT);
  return pcurve(line, fitol, s);
}
}  // namespace

outcome api_simplify_pcurve(COEDGE* coedge, double tol) {
  return velm_api("api_simplify_pcurve", [&] {
    if (!coedge) velm_api_error_throw(VELM_NULL_ENTITY);
    const PCURVE* pc = coedge->geometry();
    if (!pc || !pc->has_equation() || !pc->def().has_surface() || is_line(pc->def().cur())) return;
    const pcurve& p = pc->def();
    const surface& s = p.surface();
    QELinterval r = p.param_range();
    if (!r.finite() || r.length() <= 0.0) return;
    QELpar_pos a = p.eval_position(r.start_pt()), b = p.eval_position(r.end_pt());
    const int n = 32;
    for (int k = 0; k <= n; ++k) {
      double f = double(k) / n;
      QELpar_pos on_line = a + f * (b - a);
      if (distance(s.eval_position(p.eval_position(r.interpolate(f))), s.eval_position(on_line)) > tol) return;
    }
    coedge->set_geometry(velm_require(VELM_NEW PCURVE(line_pcurve(a, b, r, std::max(p.fitol(), tol), s))));
  });
}

void trim_face(FACE* face, const char* option) {
  velm_check_call("trim_face");
  if (!face) velm_api_error_throw(VELM_NULL_ENTITY);
  const surface* s = face_surface(face);
  if (!s || s->type() != 10) return;
  QELpar_box box;
  if (!sg_get_face_par_box(face, box)) return;
  QELinterval u = box.u_range(), v = box.v_range();
  const QELpar_box full = s->param_range();
  // In a periodic direction the box of a face's loops may lie whole periods
  // away from the surface's own range, or across its seam (a face round a
  // seam, walked either way): cutting there would fall inside the face, so
  // such a direction keeps its whole range.
  const auto keeps_whole = [](const QELinterval& r, const QELinterval& own, double period) {
    return period > 0.0 && r.finite() &&
           (r.start_pt() < own.start_pt() - QELresnor || r.end_pt() > own.end_pt() + QELresnor);
  };
  const bool whole_u = keeps_whole(u, full.u_range(), s->param_period_u());
  const bool whole_v = keeps_whole(v, full.v_range(), s->param_period_v());
  if (!option || std::strcmp(option, "none") != 0) {
    for (QELinterval* r : {&u, &v})
      if (r->finite()) *r = QELinterval(r->start_pt() - 0.01 * r->length(), r->end_pt() + 0.01 * r->length());
  }
  u = whole_u ? full.u_range() : u & full.u_range();
  v = whole_v ? full.v_range() : v & full.v_range();
  if (u.empty() || v.empty() || (u == full.u_range() && v == full.v_range())) return;
  spline* piece = static_cast<const spline*>(s)->subset(QELpar_box(u, v));
  if (!piece) velm_api_error_throw(VELM_BAD_ARGUMENT);
  SURFACE* trimmed = nullptr;
  try {
    trimmed = make_surface(*piece);
  } catch (...) {
    delete piece;
    throw;
  }
  delete piece;
  face->set_geometry(trimmed);
  if (face->bound()) face->set_bound(nullptr);
}

void trim_body_faces(BODY* body, const char* option) {
  if (!body) velm_api_error_throw(VELM_NULL_ENTITY);
  for (const FACE* f : body_faces(body)) trim_face(const_cast<FACE*>(f), option);
}

void surface_limit(surface& srf, const QELpar_box& box) {
  srf.limit_u(box.u_range());
  srf.limit_v(box.v_range());
}
