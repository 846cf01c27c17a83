#pragma once
// Framework B-spline definitions in every form, and the comparison of a
// kernel curve with the framework curve it was made from, parameter for
// parameter.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "qelx/qelx_curve.hxx"
#include "velm/geometry.hxx"

namespace curvetest {

struct DefSpec {
    const char* name;
    int degree;
    std::vector<QELXPoint3D> points;
    std::vector<double> knots; // full vector
    std::vector<double> weights;
    bool periodic;
};

inline QELXBSplineDef3D makeDef(const DefSpec& s)
{
    QELXPolygonWeight3D polygon;
    for (std::size_t i = 0; i < s.points.size(); ++i)
        polygon.Add(QELXWeightPoint3D(s.points[i], s.weights.empty() ? 1.0 : s.weights[i]));
    const bool clamped = s.knots.size() > std::size_t(s.degree) && s.knots[0] == s.knots[s.degree];
    return QELXBSplineDef3D(Gk_Partition(s.degree, s.knots.data(), int(s.knots.size()), clamped, Gk_Def::FuzzKnot),
                            polygon, s.periodic);
}

// Open, rational, closed (clamped periodic with a corner at the seam),
// periodic clamped (smooth seam) and periodic wrapped definitions.
inline std::vector<DefSpec> definitionForms()
{
    const double r = std::sqrt(0.5);
    return {
        {"open", 3, {{0, 0, 0}, {1, 2, 0}, {3, 3, 1}, {4, 1, 2}, {6, 0, 1}, {7, 2, 0}}, {0, 0, 0, 0, 1, 2, 3, 3, 3, 3}, {}, false},
        {"rational", 2, {{1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {0, 0, 0, 1, 1, 1}, {1.0, r, 1.0}, false},
        {"closed", 3, {{0, 0, 0}, {4, 0, 0}, {5, 4, 0}, {1, 5, 1}, {-1, 3, 0}, {0, 0, 0}}, {0, 0, 0, 0, 1, 2, 3, 3, 3, 3}, {}, true},
        {"periodic clamped", 3, {{2, 0, 0}, {2, 2, 0}, {-1, 3, 0}, {-3, 0, 1}, {-1, -3, 0}, {2, -2, 0}, {2, 0, 0}},
         {0, 0, 0, 0, 1, 2, 3, 4, 4, 4, 4}, {}, true},
        {"periodic wrapped", 3, {{2, 0, 0}, {1, 2, 0}, {-1, 2, 1}, {-2, 0, 0}, {2, 0, 0}, {1, 2, 0}, {-1, 2, 1}},
         {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, {}, true},
    };
}

// The kernel curve at t against the framework curve at t over the domain.
inline double worstGap(const curve& kernel, const QELXCurve3D& source, const Gk_Domain& d, int samples = 24)
{
    double worst = 0.0;
    for (int i = 0; i <= samples; ++i) {
        const double t = d.low() + (d.high() - d.low()) * i / samples;
        const QELposition k = kernel.eval_position(t);
        const QELXPoint3D s = source.eval(t, nullptr);
        worst = std::max(worst, std::hypot(k.x() - s[0], k.y() - s[1], k.z() - s[2]));
    }
    return worst;
}

// Scale of a curve's points, for relative comparisons.
inline double sizeOf(const QELXCurve3D& c, const Gk_Domain& d)
{
    double size = 1.0;
    for (int i = 0; i <= 8; ++i) {
        const QELXPoint3D p = c.eval(d.low() + (d.high() - d.low()) * i / 8, nullptr);
        size = std::max(size, p.Length());
    }
    return size;
}

} // namespace curvetest
