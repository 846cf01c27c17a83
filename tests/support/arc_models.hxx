#pragma once
// Source models bounded by an elliptic arc, for the import roads' tests.
#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>
#include <vector>

#include "qelx/test_model.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/topology.hxx"

namespace arcmodels {

struct HalfEllipse {
    qelx_test::TestModel model;
    int arc = -1;     // the ellipse's curve
    int arcEdge = -1; // its edge
    int line = -1;    // the diameter's curve
    int face = -1;
};

// A half ellipse of radii a (along x) and b (along y) on the plane z = 0, as
// a sheet: the arc from (0, -b) round (a, 0) to (0, b) on an ellipse whose
// domain lies a period past the first, [3 pi / 2, 5 pi / 2], and the
// diameter back. With `arcReversed` the arc's edge runs the other way round
// the loop (and the face turns with it). The pcurves run on the coedges'
// domains: two rational quarter arcs, exact at their knots, and a line.
inline HalfEllipse halfEllipsePastAPeriod(double a, double b, bool arcReversed)
{
    HalfEllipse out;
    qelx_test::TestModel& m = out.model;
    int shell = -1;
    m.addSheetBody(shell);
    const int plane = m.addPlane({0, 0, 0}, {1, 0, 0}, {0, 0, 1});
    const double pi = std::numbers::pi, a0 = 1.5 * pi, a1 = 2.5 * pi;
    const int low = m.addVertex({0, -b, 0}), high = m.addVertex({0, b, 0});
    out.arc = m.addEllipse({0, 0, 0}, {1, 0, 0}, {0, 0, 1}, a, b, a0, a1);
    const int arc = out.arcEdge = m.addEdge(out.arc, low, high, a0, a1);
    out.line = m.addLine({0, b, 0}, {0, -b, 0});
    const int diameter = m.addEdge(out.line, high, low, 0.0, 2.0 * b);
    qelx_test::TestNurbs quarters;
    quarters.degree = 2;
    quarters.count = 5;
    const double w = std::sqrt(0.5);
    for (int k = 0; k < 5; ++k) {
        // Along the coedge: from a0 up, or from a1 down.
        const double angle = arcReversed ? a1 - k * pi / 4 : a0 + k * pi / 4;
        const double reach = (k % 2) ? 1.0 / w : 1.0;
        quarters.ctrl.insert(quarters.ctrl.end(), {a * reach * std::cos(angle), b * reach * std::sin(angle)});
        quarters.weights.push_back((k % 2) ? w : 1.0);
    }
    quarters.knots = arcReversed ? std::vector<double>{-a1, -2.0 * pi, -a0} : std::vector<double>{a0, 2.0 * pi, a1};
    quarters.mults = {3, 2, 3};
    out.face = m.addFace(shell, plane, !arcReversed);
    m.faces[out.face].uDomain[0] = 0.0;
    m.faces[out.face].uDomain[1] = a;
    m.faces[out.face].vDomain[0] = -b;
    m.faces[out.face].vDomain[1] = b;
    const int loop = m.addLoop(out.face);
    if (arcReversed) {
        m.addCoedge(loop, diameter, false, m.addLinePCurve({0, -b}, {0, b}, -2.0 * b, 0.0));
        m.addCoedge(loop, arc, false, m.addPCurve(quarters));
    } else {
        m.addCoedge(loop, arc, true, m.addPCurve(quarters));
        m.addCoedge(loop, diameter, true, m.addLinePCurve({0, b}, {0, -b}, 0.0, 2.0 * b));
    }
    return out;
}

// A half disc in z = 0 as a sheet (face 0): the arc from (1, 0) round to
// (-1, 0) over [0, pi] of the unit circle, without a pcurve, then the line
// back; the arc edge (edge 0) stored against its curve when asked (its
// coedge then runs against it).
inline qelx_test::TestModel halfDisc(bool arcReversed)
{
    qelx_test::TestModel m;
    int shell = -1;
    m.addSheetBody(shell);
    const int a = m.addVertex({1, 0, 0}), b = m.addVertex({-1, 0, 0});
    const int arc =
        m.addEdge(m.addEllipse({0, 0, 0}, {1, 0, 0}, {0, 0, 1}, 1.0, 1.0, 0.0, std::numbers::pi), a, b, 0.0,
                  std::numbers::pi);
    const int line = m.addEdge(m.addLine({-1, 0, 0}, {1, 0, 0}), b, a, 0.0, 2.0);
    const int face = m.addFace(shell, m.addPlane({0, 0, 0}, {1, 0, 0}, {0, 0, 1}));
    const int loop = m.addLoop(face);
    const int arcCoedge = m.addCoedge(loop, arc, true, -1);
    m.addCoedge(loop, line, true, m.addLinePCurve({-1, 0}, {1, 0}, 0.0, 2.0));
    if (arcReversed) {
        qelx_test::TestEdge& e = m.edges[static_cast<std::size_t>(arc)];
        e.sense = false;
        e.domain[0] = -std::numbers::pi;
        e.domain[1] = 0.0;
        std::swap(e.start, e.end);
        m.coedges[static_cast<std::size_t>(arcCoedge)].sense = false;
    }
    return m;
}

// The edge turned against its curve, running the same way round its loops:
// its ends swap, its domain is negated and every coedge's sense on it turns
// (so the coedges' parameters, domains and pcurves stay as they were).
inline void turnEdgeAgainstItsCurve(qelx_test::TestModel& m, int edge)
{
    qelx_test::TestEdge& e = m.edges[static_cast<std::size_t>(edge)];
    std::swap(e.start, e.end);
    e.sense = !e.sense;
    const double low = e.domain[0];
    e.domain[0] = -e.domain[1];
    e.domain[1] = -low;
    for (int c : e.coedges)
        m.coedges[static_cast<std::size_t>(c)].sense = !m.coedges[static_cast<std::size_t>(c)].sense;
}

// How far the edge's curve, over the edge's range, misses the edge's
// vertices at its ends and `middle` half way (in the curve's parameter):
// infinite without a curve.
inline double edgeArcGap(const EDGE* edge, const QELposition& middle)
{
    const CURVE* on = edge->geometry();
    if (!on || !on->has_equation())
        return INFINITY;
    const curve& c = on->equation();
    const QELinterval range = edge->sense() == REVERSED ? -edge->param_range() : edge->param_range();
    const bool forward = edge->sense() == FORWARD;
    const QELposition start = c.eval_position(forward ? range.start_pt() : range.end_pt());
    const QELposition end = c.eval_position(forward ? range.end_pt() : range.start_pt());
    return std::max({distance(start, edge->start()->geometry()->coords()), distance(end, edge->end()->geometry()->coords()),
                     distance(c.eval_position(range.mid_pt()), middle)});
}

// Whether the edge's curve, where it is bounded, holds the edge's range
// (negated when the edge runs against it): a curve limited to the unturned
// range evaluates on past its bounds but fails the kernel's check.
inline bool curveHoldsEdgeRange(const EDGE* edge)
{
    const CURVE* on = edge->geometry();
    if (!on || !on->has_equation())
        return true;
    const QELinterval own = on->equation().param_range();
    const QELinterval range = edge->sense() == REVERSED ? -edge->param_range() : edge->param_range();
    if (!own.finite() || !range.finite())
        return own.finite() == range.finite() || !own.finite();
    return own.start_pt() <= range.start_pt() + 1e-9 && range.end_pt() <= own.end_pt() + 1e-9;
}

// How far the coedge's pcurve on its face's surface strays from its edge's
// curve at the start, middle and end of the coedge's range, where the
// quarter arcs above run as the ellipse does (the curve's parameter there is
// the coedge's, negated when the coedge runs against the curve): infinite
// without either.
inline double pcurveCurveGap(const COEDGE* c)
{
    const CURVE* on = c->edge()->geometry();
    const SURFACE* s = c->loop()->face()->geometry();
    if (!on || !on->has_equation() || !c->geometry() || !s)
        return INFINITY;
    const QELinterval range = c->param_range();
    const double sign = c->sense() == c->edge()->sense() ? 1.0 : -1.0;
    double worst = 0.0;
    for (int k = 0; k <= 2; ++k) {
        const double t = range.start_pt() + range.length() * k / 2;
        const QELposition fromPCurve = s->equation().eval_position(c->geometry()->def().eval_position(t));
        worst = std::max(worst, distance(fromPCurve, on->equation().eval_position(sign * t)));
    }
    return worst;
}

} // namespace arcmodels
