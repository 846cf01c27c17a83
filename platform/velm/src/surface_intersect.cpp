#include "velm/surface_intersect.hxx"

#include <memory>

#include "velm/api.hxx"

ss_curve_record::~ss_curve_record() {
  delete cur;
  if (pcur1) bs2_curve_delete(pcur1);
  if (pcur2) bs2_curve_delete(pcur2);
}

ss_curve_record* d3_sf_sf_int(const surface& a, const surface& b, const QELbox& region, double) {
  velm_check_call("d3_sf_sf_int");
  if (a.type() != 1 || b.type() != 1) return nullptr;
  const plane& pa = static_cast<const plane&>(a);
  const plane& pb = static_cast<const plane&>(b);
  const QELvector u = pa.normal * pb.normal;
  if (u.len() < QELresnor) return nullptr;  // parallel planes meet in no line
  const QELvector n1 = pa.normal, n2 = pb.normal;
  const double h1 = n1 % QELvector(pa.root_point.x(), pa.root_point.y(), pa.root_point.z());
  const double h2 = n2 % QELvector(pb.root_point.x(), pb.root_point.y(), pb.root_point.z());
  const QELvector p = (1.0 / u.len_sq()) * (h1 * (n2 * u) + h2 * (u * n1));
  const QELunit_vector dir(u);
  QELposition root(p.x(), p.y(), p.z());
  // The root nearest the region's centre keeps parameters small.
  const QELposition centre = region.mid();
  root = root + ((centre - root) % dir) * dir;
  // The record is held while its curve is made: a curve that cannot be frees it.
  std::unique_ptr<ss_curve_record> rec(VELM_MAKE(ss_curve_record));
  rec->cur = VELM_MAKE(straight, root, dir, 1.0);
  return rec.release();
}

void sg_delete_ss_list(ss_curve_record*& curves) {
  while (curves) {
    ss_curve_record* next = curves->next;
    delete curves;
    curves = next;
  }
}
