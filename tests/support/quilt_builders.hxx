// Source models of closed solids made of many B-spline patches, for the
// stitching tests and benchmarks.
#pragma once

#include "qelx/test_model.hxx"

namespace testkit {

// A lens over the unit square: the top z = h f(x, y) and the bottom
// z = -h f(x, y), f = 16 x (1 - x) y (1 - y), each cut into nx by ny
// biquadratic B-spline patches that hold f exactly, every patch a face with
// iso-line pcurves and quadratic B-spline edges; top and bottom meet at the
// square's rim. One solid of 2 nx ny faces.
qelx_test::TestModel lens_quilt(int nx, int ny, double h = 0.5);
// Its volume, 8 h / 9.
inline double lens_volume(double h = 0.5) { return 8.0 * h / 9.0; }

}  // namespace testkit
