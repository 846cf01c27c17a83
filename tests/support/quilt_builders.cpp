// B-spline patch quilts as source models.
#include "support/quilt_builders.hxx"

#include <array>
#include <vector>

namespace testkit {
namespace {

// Bernstein coefficients of g(t) = t (1 - t) on [a, b].
std::array<double, 3> bernstein(double a, double b) {
  const auto g = [](double t) { return t * (1.0 - t); };
  return {g(a), g(a) + 0.5 * (b - a) * (1.0 - 2.0 * a), g(b)};
}

}  // namespace

qelx_test::TestModel lens_quilt(int nx, int ny, double h) {
  using qelx_test::TestNurbs;
  qelx_test::TestModel m;
  int shell = -1;
  m.addSolidBody(shell);
  std::vector<double> xs, ys;
  for (int i = 0; i <= nx; ++i) xs.push_back(double(i) / nx);
  for (int j = 0; j <= ny; ++j) ys.push_back(double(j) / ny);
  const auto g = [](double t) { return t * (1.0 - t); };
  const auto rim_x = [&](int i) { return i == 0 || i == nx; };
  const auto rim_y = [&](int j) { return j == 0 || j == ny; };

  // Side 0 the top (+h), 1 the bottom (-h); rim vertices and edges are shared.
  std::vector<int> vertex[2];
  for (int side = 0; side < 2; ++side)
    for (int j = 0; j <= ny; ++j)
      for (int i = 0; i <= nx; ++i) {
        if (side == 1 && (rim_x(i) || rim_y(j))) {
          vertex[1].push_back(vertex[0][j * (nx + 1) + i]);
          continue;
        }
        const double z = (side == 0 ? h : -h) * 16.0 * g(xs[i]) * g(ys[j]);
        vertex[side].push_back(m.addVertex({xs[i], ys[j], z}));
      }
  const auto vat = [&](int side, int i, int j) { return vertex[side][j * (nx + 1) + i]; };
  // A quadratic Bezier edge along x at y_j from x_i, or along y at x_i from y_j.
  const auto edge_curve = [&](int side, bool along_x, int i, int j) {
    const double s = (side == 0 ? h : -h) * 16.0;
    TestNurbs n;
    n.degree = 2;
    n.count = 3;
    const double a = along_x ? xs[i] : ys[j], b = along_x ? xs[i + 1] : ys[j + 1];
    n.knots = {a, b};
    n.mults = {3, 3};
    const std::array<double, 3> c = bernstein(a, b);
    for (int k = 0; k < 3; ++k) {
      const double t = a + 0.5 * k * (b - a);
      const double x = along_x ? t : xs[i], y = along_x ? ys[j] : t;
      n.ctrl.insert(n.ctrl.end(), {x, y, s * c[k] * (along_x ? g(ys[j]) : g(xs[i]))});
    }
    return m.addNurbsCurve(n);
  };
  std::vector<int> horizontal[2], vertical[2];
  for (int side = 0; side < 2; ++side) {
    for (int j = 0; j <= ny; ++j)
      for (int i = 0; i < nx; ++i) {
        if (side == 1 && rim_y(j)) {
          horizontal[1].push_back(horizontal[0][j * nx + i]);
          continue;
        }
        horizontal[side].push_back(
            m.addEdge(edge_curve(side, true, i, j), vat(side, i, j), vat(side, i + 1, j), xs[i], xs[i + 1]));
      }
    for (int i = 0; i <= nx; ++i)
      for (int j = 0; j < ny; ++j) {
        if (side == 1 && rim_x(i)) {
          vertical[1].push_back(vertical[0][i * ny + j]);
          continue;
        }
        vertical[side].push_back(
            m.addEdge(edge_curve(side, false, i, j), vat(side, i, j), vat(side, i, j + 1), ys[j], ys[j + 1]));
      }
  }

  for (int side = 0; side < 2; ++side)
    for (int j = 0; j < ny; ++j)
      for (int i = 0; i < nx; ++i) {
        const double x0 = xs[i], x1 = xs[i + 1], y0 = ys[j], y1 = ys[j + 1];
        const std::array<double, 3> cx = bernstein(x0, x1), cy = bernstein(y0, y1);
        const double s = (side == 0 ? h : -h) * 16.0;
        std::vector<double> ctrl;
        for (int a = 0; a < 3; ++a)
          for (int b = 0; b < 3; ++b)
            ctrl.insert(ctrl.end(), {x0 + 0.5 * a * (x1 - x0), y0 + 0.5 * b * (y1 - y0), s * cx[a] * cy[b]});
        const int surface = m.addNurbsSurface(2, 2, 3, 3, ctrl, {x0, x1}, {3, 3}, {y0, y1}, {3, 3});
        // The surface's normal points up: the bottom faces run against it.
        const int face = m.addFace(shell, surface, side == 0);
        m.faces[face].uDomain[0] = x0, m.faces[face].uDomain[1] = x1;
        m.faces[face].vDomain[0] = y0, m.faces[face].vDomain[1] = y1;
        const int loop = m.addLoop(face);
        const int below = horizontal[side][j * nx + i], above = horizontal[side][(j + 1) * nx + i];
        const int left = vertical[side][i * ny + j], right = vertical[side][(i + 1) * ny + j];
        if (side == 0) {
          m.addCoedge(loop, below, true, m.addLinePCurve({x0, y0}, {x1, y0}, x0, x1));
          m.addCoedge(loop, right, true, m.addLinePCurve({x1, y0}, {x1, y1}, y0, y1));
          m.addCoedge(loop, above, false, m.addLinePCurve({x1, y1}, {x0, y1}, -x1, -x0));
          m.addCoedge(loop, left, false, m.addLinePCurve({x0, y1}, {x0, y0}, -y1, -y0));
        } else {
          m.addCoedge(loop, left, true, m.addLinePCurve({x0, y0}, {x0, y1}, y0, y1));
          m.addCoedge(loop, above, true, m.addLinePCurve({x0, y1}, {x1, y1}, x0, x1));
          m.addCoedge(loop, right, false, m.addLinePCurve({x1, y1}, {x1, y0}, -y1, -y0));
          m.addCoedge(loop, below, false, m.addLinePCurve({x1, y0}, {x0, y0}, -x1, -x0));
        }
      }
  return m;
}

}  // namespace testkit
