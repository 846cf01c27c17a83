// A pcurve turned round against its edge is found and rebuilt on curved
// edges too, whichever way the coedge runs along its edge and the edge
// along its curve.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/entity_views.hxx"
#include "support/connector_test.hxx"
#include "support/geometry_builders.hxx"
#include "support/query_builders.hxx"
#include "support/repair_builders.hxx"
#include "support/repair_sweep.hxx"
#include "velm/bspline.hxx"
#include "velm/geometry.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/pcurves.hxx"
#include "velm/testkit.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

namespace {

class PcurveSense : public testkit::ConnectorTest {};

// A planar wavy quadratic B-spline in z = 0 from (0, 0) to (4, 0) over
// [start, start + 4].
intcurve wavyCurve(double start)
{
    const QELposition points[5] = {{0, 0, 0}, {1, -0.3, 0}, {2, 0.3, 0}, {3, -0.3, 0}, {4, 0, 0}};
    const double knots[8] = {start, start, start, start + 1.5, start + 2.5, start + 4, start + 4, start + 4};
    return intcurve(bs3_curve_from_ctrlpts(2, 0, 0, 0, 5, points, nullptr, QELresabs, 8, knots, 1e-10));
}

// A quad sheet in z = 0 (u = x, v = y) whose loop runs from (0, 0) to
// (4, 0) along the wavy curve first, with pcurves on every coedge. The
// coedge runs along its edge or against it, the edge along its curve or
// against it; the curve is turned to fit.
BODY* sheetWithWavySide(bool coedgeReversed, bool edgeReversed, COEDGE*& wavy, double start = 0.0)
{
    intcurve eq = wavyCurve(start);
    const QELposition p = eq.eval_position(start), q = eq.eval_position(start + 4.0);
    BODY* sheet = testkit::make_polygon_sheet({{p.x(), p.y()}, {q.x(), q.y()}, {q.x(), 3.0}, {p.x(), 3.0}});
    ENTITY_LIST edges;
    api_get_edges(sheet, edges);
    EDGE* edge = nullptr;
    for (int i = 0; i < edges.count(); ++i)
        if (EDGE* e = static_cast<EDGE*>(edges[i]); distance(e->start_pos(), p) < 1e-9 && distance(e->end_pos(), q) < 1e-9)
            edge = e;
    wavy = edge ? edge->coedge() : nullptr;
    if (!edge)
        return sheet;
    if (coedgeReversed) {
        VERTEX* a = edge->start();
        edge->set_start(edge->end());
        edge->set_end(a);
        wavy->set_sense(REVERSED);
    }
    // The curve runs from (0, 0) to (4, 0) when the two turns cancel.
    if (coedgeReversed != edgeReversed)
        eq.negate();
    const QELinterval onCurve = eq.param_range();
    const QELinterval range = edgeReversed ? -onCurve : onCurve;
    edge->set_geometry(make_curve(eq));
    edge->set_sense(edgeReversed ? REVERSED : FORWARD);
    edge->set_param_range(&range);
    ENTITY_LIST coedges;
    api_get_coedges(sheet, coedges);
    for (int i = 0; i < coedges.count(); ++i)
        sg_add_pcurve_to_coedge(static_cast<COEDGE*>(coedges[i]));
    return sheet;
}

} // namespace

TEST_F(PcurveSense, APcurveTurnedRoundOnACurvedEdgeIsRebuiltWhicheverWayItRuns)
{
    for (const bool coedgeReversed : {false, true})
        for (const bool edgeReversed : {false, true}) {
            SCOPED_TRACE(std::string(coedgeReversed ? "coedge against its edge" : "coedge along its edge") +
                         (edgeReversed ? ", edge against its curve" : ", edge along its curve"));
            COEDGE* c = nullptr;
            BODY* sheet = sheetWithWavySide(coedgeReversed, edgeReversed, c);
            ASSERT_NE(c, nullptr);
            ASSERT_EQ(testkit::check_findings(sheet), "");
            // The wavy side's pcurve turned round: the same points, run the other way.
            const pcurve& own = c->geometry()->def();
            bs2_curve turned = bs2_curve_copy(own.cur());
            bs2_curve_reverse(turned);
            c->set_geometry(new PCURVE(pcurve(turned, QELresfit, c->loop()->face()->geometry()->equation())));
            ASSERT_NE(testkit::check_findings(sheet), "");
            bool changed = false;
            reinterpret_cast<Ve_BodyTag*>(sheet)->FixTTIErrors(changed);
            EXPECT_EQ(testkit::check_findings(sheet), "");
            ENTITY_LIST after;
            api_get_coedges(sheet, after);
            for (int i = 0; i < after.count(); ++i)
                EXPECT_LT(testkit::worst_pcurve_gap(static_cast<COEDGE*>(after[i])), 1e-4) << "coedge " << i;
            api_del_entity(sheet);
        }
}

TEST_F(PcurveSense, APcurveOffItsEdgeIsRebuiltWhicheverWayItRuns)
{
    // The curve runs over [1, 5]: turned, over [-5, -1], so an edge read on
    // the wrong one of the two ranges has no sample on its pcurve at all.
    for (const bool coedgeReversed : {false, true})
        for (const bool edgeReversed : {false, true}) {
            SCOPED_TRACE(std::string(coedgeReversed ? "coedge against its edge" : "coedge along its edge") +
                         (edgeReversed ? ", edge against its curve" : ", edge along its curve"));
            COEDGE* c = nullptr;
            BODY* sheet = sheetWithWavySide(coedgeReversed, edgeReversed, c, 1.0);
            ASSERT_NE(c, nullptr);
            ASSERT_EQ(testkit::check_findings(sheet), "");
            testkit::shift_pcurve(c, 0.0, 0.05);
            ASSERT_GT(testkit::worst_pcurve_gap(c), 0.01);
            bool changed = false;
            reinterpret_cast<Ve_BodyTag*>(sheet)->FixTTIErrors(changed);
            EXPECT_EQ(testkit::check_findings(sheet), "");
            ENTITY_LIST after;
            api_get_coedges(sheet, after);
            for (int i = 0; i < after.count(); ++i)
                EXPECT_LT(testkit::worst_pcurve_gap(static_cast<COEDGE*>(after[i])), 1e-4) << "coedge " << i;
            api_del_entity(sheet);
        }
}
