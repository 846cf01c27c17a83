// Intersection curves of two surfaces.
//
// The stand-in intersects two planes exactly (an unbounded straight along
// n1 x n2, parameter speed 1, root the point of the line nearest the
// region's centre); every other pair gives no curve.
#pragma once

#include "velm/geometry.hxx"
#include "velm/math.hxx"
#include "velm/memory.hxx"

struct ss_curve_record : VELM_OBJECT {
  ss_curve_record* next = nullptr;
  curve* cur = nullptr;  // owned by the record
  ~ss_curve_record();
};

// Curves of the intersection inside the region; null when none.
ss_curve_record* d3_sf_sf_int(const surface& a, const surface& b, const QELbox& region, double fitol = QELresfit);
void delete_ss_curve_records(ss_curve_record*& list);
