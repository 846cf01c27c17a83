#pragma once
// What a strict reader of a neutral document checks of its faces' loops:
// each coedge's pcurve starts where the one before it ends. Between two
// pcurve ends the surface may only close up at a single point (a pole, an
// apex); a seam's use placed a period off joins at the same point of space
// but runs across the whole face between.
#include "qelx/test_model.hxx"

#include <algorithm>
#include <cmath>
#include <string>

namespace neutral_checks {

// The diagonal of the box of the model's points.
inline double pointsSize(const qelx_test::TestModel& m)
{
    double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
    for (std::size_t i = 0; i < m.points.size(); ++i) {
        const QELXPoint3D p = m.point(static_cast<int>(i));
        for (int k = 0; k < 3; ++k) {
            lo[k] = std::min(lo[k], p[k]);
            hi[k] = std::max(hi[k], p[k]);
        }
    }
    return m.points.empty() ? 1.0 : std::hypot(hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]);
}

// "" when every loop joins up, else the first face and loop that does not.
inline std::string firstOpenLoop(const qelx_test::TestModel& m, double tol)
{
    for (std::size_t l = 0; l < m.loops.size(); ++l) {
        const qelx_test::TestLoop& loop = m.loops[l];
        if (loop.face < 0 || m.faces[loop.face].surface < 0 || loop.coedges.size() < 2)
            continue;
        const int surface = m.faces[loop.face].surface;
        const auto end = [&](int c, bool atStart, QELXPoint2D& uv) {
            const qelx_test::TestCoedge& e = m.coedges[c];
            if (e.pcurve < 0)
                return false;
            // A hair inside the domain: its ends may lie a rounding past the pcurve's knots.
            const double inward = 1e-9 * (e.domain[1] - e.domain[0]);
            const double t = atStart ? e.domain[0] + inward : e.domain[1] - inward;
            uv = m.pcurvePoint(e.pcurve, e.pcurveSense ? t : -t);
            return true;
        };
        for (std::size_t k = 0; k < loop.coedges.size(); ++k) {
            QELXPoint2D a, b;
            if (!end(loop.coedges[k], false, a) || !end(loop.coedges[(k + 1) % loop.coedges.size()], true, b))
                continue;
            const QELXPoint3D at = m.surfacePoint(surface, a.u(), a.v());
            for (double f : {0.25, 0.5, 0.75}) {
                const QELXPoint3D p =
                    m.surfacePoint(surface, a.u() + f * (b.u() - a.u()), a.v() + f * (b.v() - a.v()));
                if (p.Distance(at) > tol)
                    return "face " + std::to_string(loop.face + 1) + ", loop " + std::to_string(l + 1) +
                           ": coedge " + std::to_string(loop.coedges[(k + 1) % loop.coedges.size()] + 1) +
                           " does not start where the one before it ends";
            }
        }
    }
    return "";
}

} // namespace neutral_checks
