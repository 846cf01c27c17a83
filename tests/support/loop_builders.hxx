// Faces with loops of chosen orientation on every kind of surface, for the
// loop classification and repair tests.
#pragma once

#include <vector>

#include "velm/geometry.hxx"
#include "velm/topology.hxx"

namespace testkit {

inline constexpr double kPi = 3.14159265358979323846;

// A loop round a rectangle of the surface's parameter space, counter-clockwise
// in (u, v) when ccw (the periphery way on a forward face of right-handed
// parameters), clockwise otherwise.
struct iso_rect {
  QELpar_box box;
  bool ccw = true;
};
inline iso_rect rect(double u0, double u1, double v0, double v1, bool ccw) {
  return {QELpar_box(QELinterval(u0, u1), QELinterval(v0, v1)), ccw};
}

// A one-face sheet on a copy of the surface: one loop per rectangle, in
// order, each side an edge on the surface's iso-line (the edge parameter is
// the surface parameter along it) with a straight pcurve.
BODY* make_iso_rect_sheet(const surface& srf, const std::vector<iso_rect>& loops, sense_type sense = FORWARD);
// A sheet of several such faces on one surface, in one shell: rectangle sides
// with the same corners lie on one edge, the coedges partners.
BODY* make_iso_rect_faces(const surface& srf, const std::vector<std::vector<iso_rect>>& faces,
                          const std::vector<sense_type>& senses);
// A one-face sheet whose loops run through the corners given, in order, each
// side on an iso-line (consecutive corners differ in u or in v alone); corners
// at one point of the surface (a whole period apart) are one vertex, so a loop
// may run round a closed surface.
BODY* make_iso_polygon_sheet(const surface& srf, const std::vector<std::vector<QELpar_pos>>& loops);

// The surfaces the tests run on: the plane z = 0 (u = x, v = y), turned and
// mirrored planes, a cylinder and a cone about +z (v the angle), a sphere
// (u latitude, v longitude), a torus (major 10, minor 2) and a bicubic
// spline patch over [0, 1]^2.
plane test_plane();
plane turned_plane();    // tilted normal, rotated frame
plane mirrored_plane();  // left-handed frame: (u, v) seen from the normal runs clockwise
cone test_cylinder();
cone test_cone();
sphere test_sphere();
torus test_torus();
spline test_spline();

}  // namespace testkit
