// Iso-parameter lines and their trimming to a face.
#include "velm/iso_lines.hxx"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "query_internal.hxx"
#include "velm/errors.hxx"
#include "velm/geometry_entity.hxx"

namespace {

// The parameter interval in which the straight through c(t) = p + t d lies
// inside the box; empty when it misses it.
QELinterval clip_to_box(const curve& c, const QELbox& box) {
  if (box.empty()) return QELinterval();
  const QELposition p = c.eval_position(0.0);
  const QELvector d = c.eval_position(1.0) - p;
  double lo = -std::numeric_limits<double>::max(), hi = std::numeric_limits<double>::max();
  const double pc[3] = {p.x(), p.y(), p.z()}, dc[3] = {d.x(), d.y(), d.z()};
  const double bl[3] = {box.low().x(), box.low().y(), box.low().z()};
  const double bh[3] = {box.high().x(), box.high().y(), box.high().z()};
  for (int k = 0; k < 3; ++k) {
    if (std::fabs(dc[k]) < 1e-300) {
      if (pc[k] < bl[k] - QELresabs || pc[k] > bh[k] + QELresabs) return QELinterval();
      continue;
    }
    double a = (bl[k] - pc[k]) / dc[k], b = (bh[k] - pc[k]) / dc[k];
    if (a > b) std::swap(a, b);
    lo = std::max(lo, a);
    hi = std::min(hi, b);
  }
  if (lo > hi) return QELinterval();
  return QELinterval(lo, hi);
}

ss_curve_record* iso_line(const surface& srf, int dir, double value, const QELbox& region) {
  curve* c = dir == 1 ? srf.u_param_line(value) : srf.v_param_line(value);
  if (!c) return nullptr;
  QELinterval range = dir == 1 ? srf.param_range_u() : srf.param_range_v();
  const QELinterval own = c->param_range();
  if (own.finite()) range = range.finite() ? (range & own) : own;
  if (!range.finite()) {
    // Only straights run unbounded in the kernel's surfaces.
    range = c->type() == 1 ? clip_to_box(*c, region) : QELinterval();
  }
  if (range.empty() || !range.finite()) {
    delete c;
    return nullptr;
  }
  auto* rec = VELM_NEW ss_curve_record;
  if (!rec) {
    delete c;
    velm_out_of_memory();
  }
  rec->cur = c;
  rec->range = range;
  rec->iso_dir = dir;
  rec->iso_value = value;
  return rec;
}

// Where the record's curve runs in the face's parameter space.
QELpar_pos par_of(const ss_curve_record& r, const surface& srf, double t, QELpar_pos& guess, bool& have_guess) {
  if (r.iso_dir == 1) return {t, r.iso_value};
  if (r.iso_dir == 2) return {r.iso_value, t};
  QELpar_pos uv = srf.param(r.cur->eval_position(t), have_guess ? &guess : nullptr);
  guess = uv;
  have_guess = true;
  return uv;
}

}  // namespace

ss_curve_record* sg_surface_u_param_line(const surface& srf, double v, const QELbox& region) {
  return iso_line(srf, 1, v, region);
}

ss_curve_record* sg_surface_v_param_line(const surface& srf, double u, const QELbox& region) {
  return iso_line(srf, 2, u, region);
}

ff_header* sg_trim_curves_to_face(ss_curve_record*& curves, const FACE* face) {
  const velm_query::face_frame frame = velm_query::face_polygons(face);
  const surface& srf = *frame.srf;
  auto* header = velm_require(VELM_NEW ff_header);
  ss_curve_record* out = nullptr;
  ss_curve_record** tail = &out;
  // Samples find the crossings; bisection puts each at the boundary to a
  // millionth of the sample step.
  constexpr int samples = 256;
  constexpr int halvings = 40;
  try {
    for (ss_curve_record* r = curves; r; r = r->next) {
      ++header->curves_in;
      QELpar_pos guess;
      bool have_guess = false;
      auto inside = [&](double t) {
        return velm_query::classify(frame, par_of(*r, srf, t, guess, have_guess)) != pfc_outside;
      };
      const double a = r->range.start_pt(), b = r->range.end_pt();
      const double step = (b - a) / samples;
      auto boundary = [&](double in_t, double out_t) {
        for (int k = 0; k < halvings; ++k) {
          const double mid = 0.5 * (in_t + out_t);
          (inside(mid) ? in_t : out_t) = mid;
        }
        return in_t;
      };
      bool was_in = inside(a);
      double start = a;
      for (int i = 1; i <= samples; ++i) {
        const double t = i == samples ? b : a + i * step;
        const double prev = i == 1 ? a : a + (i - 1) * step;
        const bool now_in = inside(t);
        if (now_in && !was_in) start = boundary(t, prev);
        const bool piece_ends = (was_in && !now_in) || (now_in && i == samples);
        if (piece_ends) {
          const double end = now_in ? b : boundary(prev, t);
          if (end - start > QELresnor * std::max(1.0, std::fabs(b - a))) {
            auto* piece = velm_require(VELM_NEW ss_curve_record);
            *tail = piece;
            tail = &piece->next;
            piece->cur = velm_require(r->cur->make_copy());
            piece->range = QELinterval(start, end);
            piece->iso_dir = r->iso_dir;
            piece->iso_value = r->iso_value;
            ++header->pieces_out;
          }
        }
        was_in = now_in;
      }
    }
  } catch (...) {
    sg_delete_ss_list(out);
    delete header;
    throw;
  }
  sg_delete_ss_list(curves);
  curves = out;
  return header;
}

void sg_make_curve_edges(ss_curve_record* curves, ENTITY_LIST& edges) {
  for (ss_curve_record* r = curves; r; r = r->next) {
    const QELposition p0 = r->cur->eval_position(r->range.start_pt());
    const QELposition p1 = r->cur->eval_position(r->range.end_pt());
    auto* v0 = velm_require(VELM_NEW VERTEX(velm_require(VELM_NEW APOINT(p0))));
    auto* v1 = velm_require(VELM_NEW VERTEX(velm_require(VELM_NEW APOINT(p1))));
    edges.add(velm_require(VELM_NEW EDGE(v0, v1, make_curve(*r->cur), FORWARD, EDGE_cvty_unknown, &r->range)));
  }
}

void sg_delete_ff_header(ff_header*& header) {
  delete header;
  header = nullptr;
}
