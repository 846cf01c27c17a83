#pragma once
// Kernel B-spline surfaces for the surface import and repair tests.
#include <vector>

#include "qelx/gk_maps.hxx"

#include "geometry_fixtures.hxx"  // after the framework types it uses

#include "velm/bspline.hxx"

namespace geomtest {

// Clamped bicubic net over [0, 1] x [0, 1] from rows of points (u-major).
inline bs3_surface bicubicSurface(const std::vector<std::vector<QELposition>>& rows)
{
    const int nu = static_cast<int>(rows.size());
    const int nv = static_cast<int>(rows.front().size());
    const auto knots = [](int n) {
        std::vector<double> k(4, 0.0);
        for (int i = 1; i < n - 3; ++i)
            k.push_back(static_cast<double>(i) / (n - 3));
        k.insert(k.end(), 4, 1.0);
        return k;
    };
    std::vector<QELposition> pts;
    for (const auto& row : rows)
        pts.insert(pts.end(), row.begin(), row.end());
    const std::vector<double> uk = knots(nu), vk = knots(nv);
    return bs3_surface_from_ctrlpts(3, 0, 0, 0, nu, 3, 0, 0, 0, nv, pts.data(), nullptr, QELresabs,
                                   static_cast<int>(uk.size()), uk.data(), static_cast<int>(vk.size()), vk.data(),
                                   QELresnor);
}

// A gently curved sheet: z = f(x, y) over a 4 x 5 net.
inline std::vector<std::vector<QELposition>> wavyNet()
{
    std::vector<std::vector<QELposition>> rows;
    for (int i = 0; i < 4; ++i) {
        std::vector<QELposition> row;
        for (int j = 0; j < 5; ++j)
            row.emplace_back(i * 2.0, j * 1.5, 0.3 * std::sin(i + 0.7 * j));
        rows.push_back(row);
    }
    return rows;
}

// Every u line is a loop that crosses itself (an alpha), repeated along x.
inline std::vector<std::vector<QELposition>> loopingNet()
{
    const std::vector<std::pair<double, double>> alpha = {{0, 0}, {8, 0}, {8, 6}, {2, 6}, {2, -6}, {2, -9}};
    std::vector<std::vector<QELposition>> rows;
    for (auto [y, z] : alpha) {
        std::vector<QELposition> row;
        for (int j = 0; j < 4; ++j)
            row.emplace_back(j * 2.0, y, z);
        rows.push_back(row);
    }
    return rows;
}

} // namespace geomtest
