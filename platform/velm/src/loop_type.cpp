// Parameter-space polygons of loops and the loop types built on them.
#include <algorithm>
#include <cmath>

#include "query_internal.hxx"
#include "velm/api.hxx"

namespace velm_query {
namespace {

struct raw_sample {
  QELpar_pos uv;
  bool free_u = false;  // at a singular v: u says nothing
  bool free_v = false;  // at a singular u (pole, apex): v says nothing
};

// Samples per coedge; straight edges need few.
int sample_count(const COEDGE* c) {
  const EDGE* e = c->edge();
  if (!c->geometry() && e && e->geometry() && e->geometry()->type() == 1) return 4;
  return 32;
}

bool coedge_range(const COEDGE* c, QELinterval& r) {
  try {
    r = c->param_range();
  } catch (const velm_exception&) {
    return false;
  }
  return r.finite() && !r.empty();
}

class sampler {
 public:
  sampler(const surface& s, int density) : s_(s), density_(std::max(1, density)) {}

  void coedge(const COEDGE* c, std::vector<raw_sample>& out) {
    const int n = sample_count(c) * density_;
    QELinterval r;
    const bool ranged = coedge_range(c, r);
    if (const PCURVE* pc = c->geometry(); pc && pc->has_equation()) {
      const pcurve& p = pc->def();
      QELinterval pr = p.param_range();
      if (!ranged || !(pr << r)) r = pr;
      if (!r.finite()) velm_api_error_throw(VELM_BAD_ARGUMENT);
      for (int k = 0; k < n; ++k) {
        raw_sample rs;
        rs.uv = p.eval_position(r.interpolate(double(k) / n));
        out.push_back(rs);
      }
      guess_ = out.back().uv;
      have_guess_ = true;
      return;
    }
    const EDGE* e = c->edge();
    const CURVE* cu = e ? e->geometry() : nullptr;
    if (!cu || !cu->has_equation() || !ranged) {
      out.push_back(project(c->start_pos()));
      return;
    }
    const double sign = (e->sense() == c->sense()) ? 1.0 : -1.0;
    const curve& eq = cu->equation();
    for (int k = 0; k < n; ++k) out.push_back(project(eq.eval_position(sign * r.interpolate(double(k) / n))));
  }

 private:
  raw_sample project(const QELposition& p) {
    QELposition foot;
    raw_sample rs;
    // Closed forms first (planes, cones, spheres, ring tori); projection
    // only where the surface has none.
    if (!s_.exact_param(p, rs.uv, have_guess_ ? &guess_ : nullptr))
      s_.point_perp(p, foot, have_guess_ ? &guess_ : nullptr, &rs.uv);
    rs.free_v = s_.singular_u(rs.uv.u);
    rs.free_u = s_.singular_v(rs.uv.v);
    // Keep guessing from the last regular point; a pole says nothing about v.
    if (!rs.free_u && !rs.free_v) {
      guess_ = rs.uv;
      have_guess_ = true;
    }
    return rs;
  }

  const surface& s_;
  int density_;
  QELpar_pos guess_;
  bool have_guess_ = false;
};

double nearest_copy(double x, double ref, double period) {
  return period > 0.0 ? x + period * std::round((ref - x) / period) : x;
}

QELpar_pos nearest_copy(const QELpar_pos& p, const QELpar_pos& ref, double pu, double pv) {
  return {nearest_copy(p.u, ref.u, pu), nearest_copy(p.v, ref.v, pv)};
}

QELpar_box box_of(const std::vector<QELpar_pos>& pts) {
  double lo_u = pts[0].u, hi_u = pts[0].u, lo_v = pts[0].v, hi_v = pts[0].v;
  for (const QELpar_pos& p : pts) {
    lo_u = std::min(lo_u, p.u), hi_u = std::max(hi_u, p.u);
    lo_v = std::min(lo_v, p.v), hi_v = std::max(hi_v, p.v);
  }
  return {QELinterval(lo_u, hi_u), QELinterval(lo_v, hi_v)};
}

loop_type type_of(const par_loop& pl, double orient) {
  if (pl.turns_u != 0 && pl.turns_v != 0) return loop_type_uv_sep;
  if (std::abs(pl.turns_u) == 1) return loop_type_u_sep;
  if (std::abs(pl.turns_v) == 1) return loop_type_v_sep;
  if (pl.turns_u != 0 || pl.turns_v != 0) return loop_type_other_sep;
  if (pl.pts.size() < 3) return loop_type_unknown;
  const QELpar_box& b = pl.box;
  double scale = b.u_range().length() * b.v_range().length();
  double a = orient * pl.area;
  if (std::abs(a) <= 1e-9 * scale || std::abs(a) < 1e-300) return loop_type_unknown;
  return a > 0.0 ? loop_type_periphery : loop_type_hole;
}

par_loop sample_loop(const LOOP* loop, const surface& s, double pu, double pv, double orient, int density) {
  std::vector<raw_sample> raw;
  sampler sm(s, density);
  for (const COEDGE* c : loop_coedges(loop)) sm.coedge(c, raw);
  par_loop pl;
  pl.loop = loop;
  if (raw.empty()) return pl;

  // Start at a regular sample so that free coordinates can follow their neighbours.
  auto first = std::find_if(raw.begin(), raw.end(), [](const raw_sample& r) { return !r.free_u && !r.free_v; });
  if (first == raw.end()) {
    // Only a singular point: a loop round the collapsed direction.
    pl.pts.push_back(raw[0].uv);
    pl.box = box_of(pl.pts);
    pl.type = raw[0].free_v ? loop_type_v_sep : loop_type_u_sep;
    return pl;
  }
  std::rotate(raw.begin(), first, raw.end());

  QELpar_pos prev = raw[0].uv;
  pl.pts.push_back(prev);
  for (std::size_t k = 1; k < raw.size(); ++k) {
    QELpar_pos q = raw[k].uv;
    if (raw[k].free_u) q.u = prev.u;
    if (raw[k].free_v) q.v = prev.v;
    q = nearest_copy(q, prev, pu, pv);
    if (std::abs(q.u - prev.u) + std::abs(q.v - prev.v) > 1e-13) pl.pts.push_back(q);
    prev = q;
  }
  QELpar_pos close = nearest_copy(raw[0].uv, prev, pu, pv);
  pl.shift = close - pl.pts[0];
  pl.turns_u = pu > 0.0 ? int(std::lround(pl.shift.du / pu)) : 0;
  pl.turns_v = pv > 0.0 ? int(std::lround(pl.shift.dv / pv)) : 0;
  if (pl.turns_u == 0 && pl.turns_v == 0) {
    double a = 0.0;
    for (std::size_t k = 0; k < pl.pts.size(); ++k) {
      const QELpar_pos& p = pl.pts[k];
      const QELpar_pos& q = pl.pts[(k + 1) % pl.pts.size()];
      a += p.u * q.v - q.u * p.v;
    }
    pl.area = 0.5 * a;
  }
  pl.box = box_of(pl.pts);
  pl.type = type_of(pl, orient);
  return pl;
}

// Moves the loop by whole periods so that its box is nearest the reference box.
void align(par_loop& pl, const QELpar_box& ref, double pu, double pv) {
  if (pl.pts.empty()) return;
  QELpar_pos mid = pl.box.mid(), target = ref.mid();
  QELpar_vec d(nearest_copy(mid.u, target.u, pu) - mid.u, nearest_copy(mid.v, target.v, pv) - mid.v);
  if (d.du == 0.0 && d.dv == 0.0) return;
  for (QELpar_pos& p : pl.pts) p = p + d;
  pl.box = box_of(pl.pts);
}

// The length by which loops are unwrapped in a direction: the period, or the
// whole range of a direction that is closed without being periodic (its two
// ends are one line of points, so a loop may run round across them just the
// same). A direction whose ends collapse (poles) does not wrap.
double wrap_length(const surface& s, bool along_u) {
  const double period = along_u ? s.param_period_u() : s.param_period_v();
  if (period > 0.0 || !(along_u ? s.closed_u() : s.closed_v())) return period;
  const QELinterval r = along_u ? s.param_range_u() : s.param_range_v();
  if (!r.finite() || (along_u ? s.singular_u(r.start_pt()) : s.singular_v(r.start_pt()))) return 0.0;
  return r.length();
}

}  // namespace

QELpar_pos par_loop::at(long j) const {
  const long n = static_cast<long>(pts.size());
  long turns = j >= 0 ? j / n : -((-j + n - 1) / n);
  const QELpar_pos& p = pts[static_cast<std::size_t>(j - turns * n)];
  return p + double(turns) * shift;
}

face_frame face_polygons(const FACE* face, const LOOP* only, int density) {
  face_frame fr;
  fr.face = face;
  fr.srf = face_surface(face);
  if (!fr.srf) velm_api_error_throw(VELM_NULL_ENTITY);
  fr.period_u = wrap_length(*fr.srf, true);
  fr.period_v = wrap_length(*fr.srf, false);
  fr.orient = (fr.srf->left_handed_uv() ? -1.0 : 1.0) * (face->sense() == REVERSED ? -1.0 : 1.0);
  if (only && only->face() == face) {
    // One loop of a face with thousands: no walk of the whole chain.
    fr.loops.push_back(sample_loop(only, *fr.srf, fr.period_u, fr.period_v, fr.orient, density));
    return fr;
  }
  for (LOOP* l : chain(face->loop())) {
    if (only && l != only) continue;
    fr.loops.push_back(sample_loop(l, *fr.srf, fr.period_u, fr.period_v, fr.orient, density));
  }
  if (!fr.loops.empty())
    for (std::size_t k = 1; k < fr.loops.size(); ++k)
      align(fr.loops[k], fr.loops[0].box, fr.period_u, fr.period_v);
  return fr;
}

bool plane_face_par_box(const FACE* face, QELpar_box& box) {
  const surface* s = face_surface(face);
  if (!s || s->type() != 1 || !face->loop()) return false;
  // No period and no singular point: the box is the samples' box, without
  // unwrapping loops or typing them.
  std::vector<raw_sample> raw;
  sampler sm(*s, 1);
  for (LOOP* l : chain(face->loop()))
    for (const COEDGE* c : loop_coedges(l)) {
      // A plane's parameters are affine in space: a straight edge spans the
      // box of its ends.
      const EDGE* e = c->edge();
      if (!c->geometry() && e && e->geometry() && e->geometry()->type() == 1 && e->start() && e->end() &&
          e->start()->geometry() && e->end()->geometry()) {
        for (const VERTEX* v : {e->start(), e->end()}) {
          raw_sample rs;
          s->exact_param(v->geometry()->coords(), rs.uv);
          raw.push_back(rs);
        }
      } else {
        sm.coedge(c, raw);
      }
    }
  if (raw.empty()) return false;
  std::vector<QELpar_pos> pts;
  pts.reserve(raw.size());
  for (const raw_sample& r : raw) pts.push_back(r.uv);
  box = box_of(pts);
  return true;
}

QELpar_box frame_par_box(const face_frame& fr) {
  bool any = false, round_u = false, round_v = false;
  QELpar_box box;
  for (const par_loop& pl : fr.loops) {
    if (pl.pts.empty()) continue;
    box = any ? (box | pl.box) : pl.box;
    any = true;
    round_u = round_u || pl.turns_u != 0;
    round_v = round_v || pl.turns_v != 0;
  }
  if (!any) return fr.srf->param_range();
  QELinterval u = round_u ? fr.srf->param_range_u() : box.u_range();
  QELinterval v = round_v ? fr.srf->param_range_v() : box.v_range();
  return {u, v};
}

}  // namespace velm_query

using namespace velm_query;

ps_polygon::ps_polygon(const LOOP* loop) {
  if (!loop || !loop->face()) velm_api_error_throw(VELM_NULL_ENTITY);
  face_frame fr = face_polygons(loop->face(), loop);
  const par_loop& pl = fr.loops.at(0);
  type_ = pl.type;
  area_ = fr.orient * pl.area;
  winding_ = type_ == loop_type_periphery ? 1.0 : type_ == loop_type_hole ? -1.0 : 0.0;
}

loop_type get_loop_type(const LOOP* loop) {
  velm_check_call("get_loop_type");
  return ps_polygon(loop).get_type();
}

outcome api_loop_type(const LOOP* loop, int& type) {
  return velm_api("api_loop_type", [&] { type = ps_polygon(loop).get_type(); });
}

outcome api_loop_external(const LOOP* loop, int& external) {
  return velm_api("api_loop_external", [&] {
    if (!loop || !loop->face()) velm_api_error_throw(VELM_NULL_ENTITY);
    face_frame fr = face_polygons(loop->face());
    const par_loop* outer = nullptr;
    for (const par_loop& pl : fr.loops)
      if (pl.type == loop_type_periphery) outer = &pl;
    if (!outer)
      for (const par_loop& pl : fr.loops)
        if (pl.type >= loop_type_u_sep) {
          outer = &pl;
          break;
        }
    external = (outer && outer->loop == loop) ? 1 : 0;
  });
}

namespace {
// A surface end where the loops round the other direction can close up.
bool has_singular_end(const surface& s, bool round_v) {
  QELinterval r = round_v ? s.param_range_u() : s.param_range_v();
  if (s.type() == 2) return round_v && !static_cast<const cone&>(s).is_cylinder();
  auto singular = [&](double x) { return round_v ? s.singular_u(x) : s.singular_v(x); };
  return (r.bounded_below() && singular(r.start_pt())) || (r.bounded_above() && singular(r.end_pt()));
}
}  // namespace

bool velm_query::surface_boundless(const surface& s) {
  const QELpar_box r = s.param_range();
  auto bounded_off = [](bool closed, const QELinterval& i, auto singular) {
    return closed || (i.finite() && singular(i.start_pt()) && singular(i.end_pt()));
  };
  return bounded_off(s.closed_u(), r.u_range(), [&s](double u) { return s.singular_u(u); }) &&
         bounded_off(s.closed_v(), r.v_range(), [&s](double v) { return s.singular_v(v); });
}

outcome api_check_face_loops(const FACE* face, int counts[5]) {
  return velm_api("api_check_face_loops", [&] {
    if (!face || !counts) velm_api_error_throw(VELM_NULL_ENTITY);
    face_frame fr = face_polygons(face);
    for (int k = 0; k < 5; ++k) counts[k] = 0;
    const par_loop* periphery = nullptr;
    for (const par_loop& pl : fr.loops) {
      switch (pl.type) {
        case loop_type_periphery: ++counts[0], periphery = &pl; break;
        case loop_type_hole: ++counts[1]; break;
        case loop_type_v_sep: ++counts[2]; break;
        case loop_type_u_sep: ++counts[3]; break;
        default: ++counts[4]; break;
      }
    }
    const surface& s = *fr.srf;
    bool bad = counts[0] > 1 || counts[4] > 0;
    // Holes alone bound a face only on a surface that closes up all round
    // (a sphere, a torus); on any other (a plane, a cylinder, a cone) the
    // face would run on without end outside them.
    if (counts[0] == 0 && counts[1] > 0 && counts[2] == 0 && counts[3] == 0 && !velm_query::surface_boundless(s))
      bad = true;
    if (counts[2] % 2 == 1 && !has_singular_end(s, true)) bad = true;
    if (counts[3] % 2 == 1 && !has_singular_end(s, false)) bad = true;
    if (periphery && !bad) {
      // Every hole must lie inside the periphery.
      face_frame outer = fr;
      outer.loops = {*periphery};
      for (const par_loop& pl : fr.loops)
        if (pl.type == loop_type_hole && classify(outer, pl.pts[0]) != pfc_inside) bad = true;
    }
    if (bad) velm_api_error_throw(VELM_BAD_FACE_LOOPS);
  });
}

namespace {
// LOOP::get_classification asks this for a loop with no stored type; the answer
// is not stored, since nothing tells the loop when its edges, pcurves or face
// change (see platform/README.md).
int classification_of(const LOOP* loop) {
  try {
    return ps_polygon(loop).get_type();
  } catch (const velm_exception&) {
    return loop_type_unknown;
  }
}
const bool hook_installed = (velm_loop_type_hook = &classification_of, true);
}  // namespace
