// Geometry the healing mends in place: inexact spline surfaces refitted when
// any weight of their net differs from one, nearly closed one-vertex curves
// closed within their gap only, and wire edges turned only when they truly
// run backwards.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/entity_views.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "support/connector_test.hxx"
#include "support/geometry_builders.hxx"
#include "support/heal_builders.hxx"
#include "support/model_builders.hxx"
#include "support/repair_builders.hxx"
#include "velm/bspline.hxx"
#include "velm/build.hxx"
#include "velm/geometry.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/query.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

namespace {

class GeometryFixes : public testkit::ConnectorTest {};

Ve_BodyTag* fixView(BODY* b) { return reinterpret_cast<Ve_BodyTag*>(b); }

EDGE* onlyEdgeOf(BODY* body)
{
    ENTITY_LIST edges;
    api_get_edges(body, edges);
    return edges.count() == 1 ? static_cast<EDGE*>(edges[0]) : nullptr;
}

// A sheet on an inexact (skin) spline surface over a rational net of 3 x 2
// control points with the given weights (u-major, six of them).
BODY* weightedSkinSheet(const std::vector<double>& weights)
{
    const QELposition points[6] = {{0, 0, 0}, {0, 1, 0}, {0.5, 0, 0.1}, {0.5, 1, 0.1}, {1, 0, 0}, {1, 1, 0}};
    const double uknots[] = {0, 0, 0, 1, 1, 1};
    const double vknots[] = {0, 0, 1, 1};
    bs3_surface net = bs3_surface_from_ctrlpts(2, 1, 0, 0, 3, 1, 1, 0, 0, 2, points, weights.data(), QELresabs, 6,
                                               uknots, 4, vknots, 1e-10);
    return testkit::make_spline_sheet(net, true);
}

bool rationalSurface(BODY* sheet)
{
    const FACE* face = sheet->lump()->shell()->face();
    const auto* spl = dynamic_cast<const spline*>(&face->geometry()->equation());
    if (!spl)
        return false;
    bs3_surface bs = spl->sur(-1.0);
    return bs3_surface_rational_u(bs) || bs3_surface_rational_v(bs);
}

// A wire body of one edge at one vertex on a cubic intcurve whose last
// control point lies `gap` from its first: a loop left open by the gap.
BODY* nearlyClosedWire(double gap, double firstWeight, bool negated)
{
    const QELposition points[5] = {{0, 0, 0}, {2, 0, 0}, {2, 2, 0}, {0, 2, 0}, {0, gap, 0}};
    const double weights[5] = {firstWeight, 1.0, 1.0, 1.0, 1.0};
    const double knots[9] = {0, 0, 0, 0, 1, 2, 2, 2, 2};
    const bool rational = firstWeight != 1.0;
    bs3_curve bs = bs3_curve_from_ctrlpts(3, rational ? 1 : 0, 0, 0, 5, points, rational ? weights : nullptr,
                                          QELresabs, 9, knots, 1e-10);
    intcurve ic(bs);
    if (negated)
        ic.negate();
    auto* vertex = new VERTEX(new APOINT(QELposition(0, 0, 0)));
    EDGE* edge = new EDGE(vertex, vertex, new INTCURVE(ic), FORWARD);
    BODY* wire = nullptr;
    api_make_ewire(1, &edge, wire);
    return wire;
}

} // namespace

// The refit of inexact spline surfaces: a net whose weights are all one is
// copied as it is; one with any other weight, anywhere in the net and above
// or below one, is refitted as a plain spline unless rational splines are
// wanted. The face keeps its shape either way.
TEST_F(GeometryFixes, AnInexactSurfaceIsRefittedWhenAnyWeightIsNotOne)
{
    const struct {
        const char* name;
        std::vector<double> weights;
        bool truly;
    } cases[] = {
        {"all one", {1, 1, 1, 1, 1, 1}, false},
        {"first above one", {1.5, 1, 1, 1, 1, 1}, true},
        {"last above one", {1, 1, 1, 1, 1, 1.5}, true},
        {"middle row below one", {1, 1, 0.6, 0.6, 1, 1}, true},
        {"last below one", {1, 1, 1, 1, 1, 0.6}, true},
    };
    for (const bool keepRational : {false, true}) {
        qelx_test::OptionScope scope;
        if (keepRational)
            scope.on(Ve_OptionDoc::keyOf("SplineAsRational"));
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (keepRational ? ", rational wanted" : ""));
            BODY* sheet = weightedSkinSheet(c.weights);
            ASSERT_TRUE(rationalSurface(sheet));
            const double area = testkit::body_area(sheet);
            fixView(sheet)->replaceInexactSurf();
            EXPECT_EQ(rationalSurface(sheet), keepRational || !c.truly);
            EXPECT_NEAR(testkit::body_area(sheet), area, 1e-3 * area);
            EXPECT_EQ(testkit::model_problems(sheet), "");
            api_del_entity(sheet);
        }
    }
}

// On a file of the current version the pcurves of an inexact surface are
// rebuilt only when its net is truly rational (its parameters move when the
// weights go, whether the surface is refitted or kept rational): every
// coedge then has a pcurve lying on its edge, the one that had lost its
// pcurve too; on a net of unit weights the coedges are left as they were.
// In every frame.
TEST_F(GeometryFixes, PcurvesAreRebuiltOnATrulyRationalInexactSurfaceOnly)
{
    for (const bool keepRational : {false, true}) {
        qelx_test::OptionScope scope;
        if (keepRational)
            scope.on(Ve_OptionDoc::keyOf("SplineAsRational"));
        for (const bool truly : {false, true})
            for (const QELtransf& frame : testkit::heal_frames()) {
                SCOPED_TRACE(std::string(truly ? "truly rational" : "unit weights") +
                             (keepRational ? ", rational wanted" : "") + (frame.identity() ? "" : ", framed"));
                BODY* sheet = weightedSkinSheet(truly ? std::vector<double>{1, 1, 0.6, 0.6, 1, 1}
                                                      : std::vector<double>{1, 1, 1, 1, 1, 1});
                if (!frame.identity()) {
                    api_apply_transf(sheet, frame);
                    api_change_body_trans(sheet, nullptr);
                }
                COEDGE* bare = sheet->lump()->shell()->face()->loop()->start()->next();
                ASSERT_NE(bare->geometry(), nullptr);
                bare->set_geometry(static_cast<PCURVE*>(nullptr));
                fixView(sheet)->replaceInexactSurf();
                ENTITY_LIST coedges;
                api_get_coedges(sheet, coedges);
                for (int i = 0; i < coedges.count(); ++i) {
                    const auto* c = static_cast<const COEDGE*>(coedges[i]);
                    EXPECT_EQ(c->geometry() != nullptr, truly || c != bare) << "coedge " << i;
                    if (c->geometry()) {
                        EXPECT_LT(testkit::worst_pcurve_gap(c), 1e-4) << "coedge " << i;
                    }
                }
                EXPECT_EQ(testkit::model_problems(sheet), "");
                api_del_entity(sheet);
            }
    }
}

// A one-vertex intcurve edge whose curve ends 0.0001 short of its start is
// closed exactly, keeping its first weight and its direction; at 0.0002 it
// is left open.
TEST_F(GeometryFixes, ANearlyClosedCurveIsClosedWithinItsGapOnlyAndKeepsItsRun)
{
    const struct {
        double gap;
        double firstWeight;
        bool negated;
        bool closes;
    } cases[] = {
        {1e-4, 1.0, false, true}, {1e-4, 1.0, true, true},   {1e-4, 2.0, false, true},
        {2e-4, 1.0, false, false}, {2e-4, 1.0, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("gap " + std::to_string(c.gap) + ", weight " + std::to_string(c.firstWeight) +
                     (c.negated ? ", negated" : ""));
        BODY* wire = nearlyClosedWire(c.gap, c.firstWeight, c.negated);
        EDGE* edge = onlyEdgeOf(wire);
        const QELinterval range = edge->param_range();
        const QELposition quarter = edge->geometry()->equation().eval_position(range.interpolate(0.25));
        bool changed = false;
        fixView(wire)->FixTTIErrors(changed);
        edge = onlyEdgeOf(wire);
        ASSERT_NE(edge, nullptr);
        const auto& ic = static_cast<const intcurve&>(edge->geometry()->equation());
        EXPECT_EQ(bs3_curve_closed(ic.cur()) != 0, c.closes);
        EXPECT_EQ(ic.reversed(), c.negated);
        EXPECT_LT((ic.eval_position(range.interpolate(0.25)) - quarter).len(), 1e-3) << "the curve runs as it ran";
        if (c.closes) {
            QELposition* points = nullptr;
            double* weights = nullptr;
            double* knots = nullptr;
            int dim = 0, rational = 0, count = 0, degree = 0, knotCount = 0;
            bs3_curve_to_array(ic.cur(), dim, degree, rational, count, points, weights, knotCount, knots);
            ASSERT_GT(count, 1);
            EXPECT_EQ((points[count - 1] - points[0]).len(), 0.0);
            if (weights) {
                EXPECT_EQ(weights[count - 1], weights[0]);
            }
            delete[] points;
            delete[] weights;
            delete[] knots;
        }
        api_del_entity(wire);
    }
}

// A closed wire edge (one vertex at both ends) is never turned, however its
// curve runs; an open one running from its end vertex to its start is.
TEST_F(GeometryFixes, AClosedWireEdgeIsNeverTurned)
{
    BODY* ring = testkit::make_circle_wire();
    EDGE* edge = onlyEdgeOf(ring);
    ASSERT_NE(edge, nullptr);
    ASSERT_EQ(edge->start(), edge->end());
    const std::string before = testkit::saved_text(ring);
    EXPECT_TRUE(fixView(ring)->FixWireEdgeSense());
    EXPECT_EQ(testkit::saved_text(ring), before);
    api_del_entity(ring);
}
