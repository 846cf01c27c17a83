// Face splits at surface discontinuities, on the iso-line splitter.
#include "velm/api.hxx"
#include "velm/geometry.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/query.hxx"
#include "velm/split.hxx"
#include "velm/split_disc.hxx"

#include <vector>

namespace {

// Values of the list strictly inside (lo, hi), away from both ends.
std::vector<double> inside(const double* values, int n, double lo, double hi) {
  std::vector<double> out;
  for (int i = 0; i < n; ++i)
    if (values[i] > lo + QELresnor && values[i] < hi - QELresnor) out.push_back(values[i]);
  return out;
}

// Splits every piece whose parameter box the line crosses; new pieces join the list.
void split_pieces(std::vector<FACE*>& pieces, bool along_u, double at) {
  const size_t n = pieces.size();
  for (size_t i = 0; i < n; ++i) {
    QELpar_box box;
    if (!sg_get_face_par_box(pieces[i], box)) continue;
    const QELinterval& range = along_u ? box.u_range() : box.v_range();
    if (at <= range.start_pt() + QELresnor || at >= range.end_pt() - QELresnor) continue;
    if (FACE* made = sg_split_face_at_parameter(pieces[i], along_u ? 1 : 0, at)) pieces.push_back(made);
  }
}

}  // namespace

outcome api_split_face_at_disc(FACE* face, ENTITY_LIST& faces, int continuity) {
  return velm_api("api_split_face_at_disc", [&] {
    if (!face || face->is_lost()) velm_api_error_throw(VELM_NULL_ENTITY);
    if (!face->geometry() || !face->geometry()->has_equation()) return;
    const surface& srf = face->geometry()->equation();
    if (srf.type() != 10) return;
    QELpar_box box;
    if (!sg_get_face_par_box(face, box)) return;
    int nu = 0, nv = 0;
    const double* du = srf.discontinuities_u(nu, continuity);
    const std::vector<double> us = inside(du, nu, box.u_range().start_pt(), box.u_range().end_pt());
    const double* dv = srf.discontinuities_v(nv, continuity);
    const std::vector<double> vs = inside(dv, nv, box.v_range().start_pt(), box.v_range().end_pt());
    if (us.empty() && vs.empty()) return;
    std::vector<FACE*> pieces{face};
    for (double u : us) split_pieces(pieces, true, u);
    for (double v : vs) split_pieces(pieces, false, v);
    for (FACE* f : pieces) faces.add(f);
  });
}
