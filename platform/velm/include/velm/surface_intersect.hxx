// Intersection curves of two surfaces.
//
// The stand-in intersects two planes exactly (an unbounded straight along
// n1 x n2, parameter speed 1, root the point of the line nearest the
// region's centre); every other pair gives no curve.
#pragma once

#include "velm/bspline.hxx"
#include "velm/geometry.hxx"
#include "velm/math.hxx"
#include "velm/memory.hxx"

// One curve of a list of curves (intersections and iso-lines). The record owns
// its curve and pcurves and frees them with itself; a list is freed with
// `sg_delete_ss_list`. Intersections and iso-lines share this one definition.
struct ss_curve_record : public VELM_OBJECT {
  ss_curve_record* next = nullptr;
  curve* cur = nullptr;
  bs2_curve pcur1 = nullptr;
  bs2_curve pcur2 = nullptr;
  QELinterval range;
  // Iso-lines know where they run: 1 along u at v = iso_value, 2 along v at
  // u = iso_value; 0 for other curves (their points are inverted onto the surface).
  int iso_dir = 0;
  double iso_value = 0.0;

  ss_curve_record() = default;
  ss_curve_record(const ss_curve_record&) = delete;
  ss_curve_record& operator=(const ss_curve_record&) = delete;
  ~ss_curve_record();
};

// Curves of the intersection inside the region; null when none.
ss_curve_record* d3_sf_sf_int(const surface& a, const surface& b, const QELbox& region, double fitol = QELresfit);
// Frees the whole list and nulls it.
void sg_delete_ss_list(ss_curve_record*& curves);
