// The watch over the repair steps takes back a step that raises a tolerance
// past what closing the body's gaps needed (a vertex off its edges' curves,
// an edge's curve off its faces' surfaces), even where the checker then finds
// nothing: such a tolerance hides the body's shape rather than mending it.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "heal/step_watch.hxx"
#include "model/entity_views.hxx"
#include "qelx/qelx_test.hxx"
#include "support/connector_test.hxx"
#include "support/geometry_builders.hxx"
#include "support/heal_builders.hxx"
#include "support/model_builders.hxx"
#include "support/query_builders.hxx"
#include "support/repair_builders.hxx"
#include "support/repair_sweep.hxx"
#include "velm/bspline.hxx"
#include "velm/build.hxx"
#include "velm/geometry.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/pcurves.hxx"
#include "velm/query.hxx"
#include "velm/testkit.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology_api.hxx"

namespace {

class ToleranceBound : public testkit::ConnectorTest {};

// The widest edge or vertex tolerance of the body.
double boundWidest(BODY* body)
{
    ENTITY_LIST edges, vertices;
    api_get_edges(body, edges);
    api_get_vertices(body, vertices);
    double widest = 0.0;
    for (int i = 0; i < edges.count(); ++i)
        widest = std::max(widest, static_cast<EDGE*>(edges[i])->get_tolerance());
    for (int i = 0; i < vertices.count(); ++i)
        widest = std::max(widest, static_cast<VERTEX*>(vertices[i])->get_tolerance());
    return widest;
}

// The edges at the vertex nearest `at` made tolerant by `tolerance`.
void widenEdgesAt(BODY* body, const QELposition& at, double tolerance)
{
    ENTITY_LIST vertices, edges;
    api_get_vertices(body, vertices);
    VERTEX* nearest = nullptr;
    for (int i = 0; i < vertices.count(); ++i) {
        auto* v = static_cast<VERTEX*>(vertices[i]);
        if (!nearest || distance(v->geometry()->coords(), at) < distance(nearest->geometry()->coords(), at))
            nearest = v;
    }
    api_get_edges(nearest, edges);
    for (int i = 0; i < edges.count(); ++i)
        replace_edge_with_tedge(static_cast<EDGE*>(edges[i]))->set_tolerance(tolerance);
}

} // namespace

// The rule itself: twice the widest gap, or the tolerance the body already
// held, and the kernel's resolution.
TEST(ToleranceBoundRule, ARaiseIsKeptWithinTwiceTheWidestGapOrToleranceHeld)
{
    const struct {
        double held, gap, raised;
        bool kept;
    } rows[] = {
        {0.0, 0.05, 0.1, true},   {0.0, 0.05, 0.1001, false}, {0.08, 0.01, 0.15, true},
        {0.08, 0.01, 0.2, false}, {0.0, 0.0, 1e-6, true},     {0.0, 0.0, 16.0, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.held) + " held, gap " + std::to_string(row.gap) + ", raised to " +
                     std::to_string(row.raised));
        const std::string verdict = ve_heal::tooTolerant(row.held, row.gap, row.raised);
        EXPECT_EQ(verdict.empty(), row.kept) << verdict;
    }
}

// A box 10 x 20 x 30 (37.4 across, so that every tolerance here is below a
// hundredth of it), clean or with a corner moved off its edges, in every
// frame: a step that makes the corner's edges tolerant is kept only within
// twice the corner's distance from the edges' curves; the standard repair of
// the moved corner (which puts it back) is kept and leaves the body clean.
TEST_F(ToleranceBound, AStepWideningEdgesPastTheGapsIsTakenBackNamingBodyAndStep)
{
    const struct {
        const char* what;
        double offset;    // the corner moved by (offset, offset, 0): 1.41 offset off its edges
        double tolerance; // the corner's edges made this tolerant; 0: the standard repair
        bool kept;
    } cases[] = {
        {"a clean box, edges made tolerant by a tenth", 0.0, 0.1, false},
        {"a clean box, edges made tolerant within what a fit costs", 0.0, 1e-3, true},
        {"a moved corner, edges made tolerant within twice its distance", 0.05, 0.1, true},
        {"a moved corner, edges made tolerant by four times its distance", 0.05, 0.3, false},
        {"a moved corner mended by the standard repair", 0.05, 0.0, true},
    };
    const std::vector<QELtransf> frames = testkit::heal_frames();
    for (const auto& c : cases)
        for (std::size_t f = 0; f < frames.size(); ++f) {
            SCOPED_TRACE(std::string(c.what) + ", frame " + std::to_string(f));
            BODY* body = testkit::make_box_with_moved_vertex(c.offset);
            if (!frames[f].identity()) {
                api_apply_transf(body, frames[f]);
                api_change_body_trans(body, nullptr);
            }
            const QELposition corner = QELposition(10.0 + c.offset, 20.0 + c.offset, 30.0) * frames[f];
            const std::string before = testkit::body_text(body);
            qelx_test::EventRecorder events;
            ve_heal::StepWatch watch(body, "body 7");
            const char* step = c.tolerance > 0.0 ? "widenEdges" : "doStandardRepair";
            const bool kept = watch.step(step, [&] {
                if (c.tolerance > 0.0)
                    widenEdgesAt(body, corner, c.tolerance);
                else
                    reinterpret_cast<Ve_BodyTag*>(body)->doStandardRepair();
            });
            EXPECT_EQ(kept, c.kept);
            const std::vector<std::string> warnings = events.names("Warning");
            if (c.kept) {
                EXPECT_TRUE(warnings.empty()) << warnings.front();
                if (c.tolerance > 0.0)
                    EXPECT_DOUBLE_EQ(boundWidest(body), c.tolerance) << "the step was not kept";
                else
                    EXPECT_EQ(testkit::check_findings(body), "");
            } else {
                EXPECT_EQ(testkit::body_text(body), before) << "the step was not taken back whole";
                ASSERT_EQ(warnings.size(), 1u);
                EXPECT_NE(warnings[0].find("body 7"), std::string::npos) << warnings[0];
                EXPECT_NE(warnings[0].find(step), std::string::npos) << warnings[0];
                EXPECT_NE(warnings[0].find("tolerance raised"), std::string::npos) << warnings[0];
            }
            api_del_entity(body);
        }
}

namespace {

// Each edge at `v` made a quadratic B-spline over its curve's parameters
// between its vertices as they were (bowed by `bulge` midway where the edge
// is `bowed`), then cut `shortBy` short of `v`: the edge keeps its range and
// so runs past its curve's end there, as a reader leaves an edge whose
// spline the sender cut short. `pastStart`: each curve runs so that `v`
// lies past its start, else past its end.
void stopSplinesShortOf(VERTEX* v, double shortBy, bool pastStart, const EDGE* bowed, const QELvector& bulge)
{
    ENTITY_LIST edges;
    api_get_edges(v, edges);
    for (int i = 0; i < edges.count(); ++i) {
        auto* e = static_cast<EDGE*>(edges[i]);
        const curve& eq = e->geometry()->equation();
        const double sign = e->sense() == REVERSED ? -1.0 : 1.0;
        const QELinterval r = e->param_range();
        const QELinterval c = sign < 0.0 ? -r : r;
        const double at = sign * (e->start() == v ? r.start_pt() : r.end_pt());
        const bool atHigh = std::fabs(at - c.end_pt()) < std::fabs(at - c.start_pt());
        const QELposition p0 = eq.eval_position(c.start_pt()), p2 = eq.eval_position(c.end_pt());
        const QELposition ctrl[3] = {p0, p0 + 0.5 * (p2 - p0) + 2.0 * (e == bowed ? bulge : QELvector()), p2};
        const double knots[6] = {c.start_pt(), c.start_pt(), c.start_pt(), c.end_pt(), c.end_pt(), c.end_pt()};
        const intcurve whole(bs3_curve_from_ctrlpts(2, 0, 0, 0, 3, ctrl, nullptr, QELresabs, 6, knots, 1e-10));
        intcurve cut(bs3_curve_make_cur(whole, atHigh ? c.start_pt() : c.start_pt() + shortBy,
                                        atHigh ? c.end_pt() - shortBy : c.end_pt(), QELresabs),
                     QELresabs);
        if (atHigh == pastStart) {
            cut.negate();
            e->set_sense(e->sense() == FORWARD ? REVERSED : FORWARD);
        }
        e->set_geometry(make_curve(cut));
        e->set_param_range(&r);
    }
}

// The farthest `v` stands from the curves of its edges (each bounded at its
// own ends).
double farthestFromCurves(VERTEX* v)
{
    ENTITY_LIST edges;
    api_get_edges(v, edges);
    double far = 0.0;
    for (int i = 0; i < edges.count(); ++i) {
        const curve& eq = static_cast<EDGE*>(edges[i])->geometry()->equation();
        const QELinterval own = eq.param_range();
        const QELposition at = v->geometry()->coords();
        double nearest = HUGE_VAL;
        for (int k = 0; k <= 1000; ++k)
            nearest = std::min(nearest, distance(at, eq.eval_position(own.interpolate(k / 1000.0))));
        far = std::max(far, nearest);
    }
    return far;
}

} // namespace

// A box's corner whose three edges are B-splines cut short of it (the edges
// ranged on to the corner, past their curves' ends), moved a seeded random
// way off, or with the edge along x bowed 0.2 off one of its faces; and a
// clean corner moved off in the very step that widens its edges. A step
// widening the corner's edges is kept within twice the widest gap the body
// had before the step (the corner from its curves, which end short of it,
// and a curve from its faces) and taken back past that, in every frame,
// with the corner past the curves' starts and past their ends.
TEST_F(ToleranceBound, AStepWideningEdgesIsJudgedByTheGapsTheBodyHadBeforeIt)
{
    const struct {
        const char* what;
        double shortBy;   // the splines cut this far short of the corner; 0: edges kept as they are
        double offset;    // the corner moved this far (a seeded random way) before the step
        double bulge;     // the edge along x bowed this far off its face z = 30 midway
        double stepMove;  // the corner moved by (stepMove, stepMove, 0) in the step
        double widen;     // the edges made tolerant by this many times the corner's distance from its curves, or this
        bool kept;
    } cases[] = {
        {"the corner off its curves, widened within twice its distance", 0.05, 0.02, 0.0, 0.0, 1.8, true},
        {"the corner off its curves, widened past twice its distance", 0.05, 0.02, 0.0, 0.0, 2.2, false},
        {"an edge bowed off its face, widened within twice the bow", 0.05, 0.0, 0.2, 0.0, 0.3, true},
        {"an edge bowed off its face, widened past twice the bow", 0.05, 0.0, 0.2, 0.0, 0.45, false},
        {"a clean corner moved off in the step, made as tolerant as its edges", 0.0, 0.0, 0.0, 0.05, 0.1, false},
    };
    const std::vector<QELtransf> frames = testkit::heal_frames();
    std::mt19937 random(20261209);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    for (const auto& c : cases)
        for (const bool pastStart : {true, false})
            for (std::size_t f = 0; f < frames.size(); ++f) {
                const QELvector way = normalise(QELvector(unit(random), unit(random), unit(random)));
                SCOPED_TRACE(std::string(c.what) + (pastStart ? ", past the curves' starts" : ", past their ends") +
                             ", frame " + std::to_string(f) + ", moved along (" + std::to_string(way.x()) + ", " +
                             std::to_string(way.y()) + ", " + std::to_string(way.z()) + ")");
                BODY* body = testkit::make_framed_box(frames[f]);
                const QELposition corner = QELposition(10.0, 20.0, 30.0) * frames[f];
                ENTITY_LIST vertices;
                api_get_vertices(body, vertices);
                VERTEX* v = nullptr;
                for (int i = 0; i < vertices.count(); ++i)
                    if (distance(static_cast<VERTEX*>(vertices[i])->geometry()->coords(), corner) < 1e-9)
                        v = static_cast<VERTEX*>(vertices[i]);
                ENTITY_LIST around;
                if (v)
                    api_get_edges(v, around);
                const EDGE* alongX = nullptr;
                for (int i = 0; i < around.count(); ++i) {
                    const auto* e = static_cast<const EDGE*>(around[i]);
                    if (std::fabs(distance(e->start()->geometry()->coords(), e->end()->geometry()->coords()) - 10.0) <
                        1e-9)
                        alongX = e;
                }
                EXPECT_TRUE(v && alongX) << "the model is built faulty";
                if (c.shortBy > 0.0 && v)
                    stopSplinesShortOf(v, c.shortBy, pastStart, alongX,
                                       c.bulge * (QELvector(0.0, 0.0, -1.0) * frames[f]));
                if (v)
                    v->geometry()->set_coords(corner + c.offset * (way * frames[f]));
                const double tolerance = c.offset > 0.0 ? c.widen * farthestFromCurves(v) : c.widen;
                const QELposition at = v ? v->geometry()->coords() : corner;
                const std::string before = testkit::body_text(body);
                qelx_test::EventRecorder events;
                ve_heal::StepWatch watch(body, "body 7");
                const bool kept = watch.step("widenEdges", [&] {
                    widenEdgesAt(body, at, tolerance);
                    if (c.stepMove > 0.0) {
                        TVERTEX* moved = nullptr;
                        api_replace_vertex_with_tvertex(v, moved);
                        moved->set_tolerance(tolerance);
                        moved->geometry()->set_coords(at + c.stepMove * (QELvector(1.0, 1.0, 0.0) * frames[f]));
                    }
                });
                EXPECT_EQ(kept, c.kept);
                const std::vector<std::string> warnings = events.names("Warning");
                if (c.kept) {
                    EXPECT_TRUE(warnings.empty()) << warnings.front();
                    EXPECT_DOUBLE_EQ(boundWidest(body), tolerance) << "the step was not kept";
                } else {
                    EXPECT_EQ(testkit::body_text(body), before) << "the step was not taken back whole";
                    EXPECT_EQ(warnings.size(), 1u);
                    for (const std::string& w : warnings)
                        EXPECT_NE(w.find("tolerance raised"), std::string::npos) << w;
                }
                api_del_entity(body);
            }
}

// A cylinder whose lower circle is ranged over the next turn of its curve
// (the circle is periodic: the same circle, no edge past an end) and whose
// pcurve on the side is lifted off it: the gap is the pcurve's, and a step
// widening the circle's edges is kept within twice it and taken back past
// that, in every frame.
TEST_F(ToleranceBound, AnEdgeOverItsCirclesNextTurnCountsItsPcurvesGap)
{
    const std::vector<QELtransf> frames = testkit::heal_frames();
    for (const double widen : {1.5, 2.5})
        for (std::size_t f = 0; f < frames.size(); ++f) {
            SCOPED_TRACE("widened to " + std::to_string(widen) + " times the gap, frame " + std::to_string(f));
            BODY* body = testkit::make_cylinder(5.0, 8.0);
            if (!frames[f].identity()) {
                api_apply_transf(body, frames[f]);
                api_change_body_trans(body, nullptr);
            }
            const QELposition seam = QELposition(-5.0, 0.0, 0.0) * frames[f];
            ENTITY_LIST edges;
            api_get_edges(body, edges);
            EDGE* circle = nullptr;
            for (int i = 0; i < edges.count(); ++i) {
                auto* e = static_cast<EDGE*>(edges[i]);
                if (e->start() == e->end() && distance(e->start()->geometry()->coords(), seam) < 1e-9)
                    circle = e;
            }
            ASSERT_NE(circle, nullptr);
            const double turn = circle->sense() == REVERSED ? -2.0 * M_PI : 2.0 * M_PI;
            const QELinterval next(circle->param_range().start_pt() + turn, circle->param_range().end_pt() + turn);
            circle->set_param_range(&next);
            COEDGE* lifted = nullptr;
            for (COEDGE* c = circle->coedge(); c; c = c->partner() == circle->coedge() ? nullptr : c->partner()) {
                c->set_geometry(nullptr);
                sg_add_pcurve_to_coedge(c);
                if (c->geometry() && !lifted)
                    lifted = c;
            }
            ASSERT_NE(lifted, nullptr);
            testkit::shift_pcurve(lifted, 0.0, 0.01);
            const double gap = testkit::worst_pcurve_gap(lifted);
            ASSERT_GT(gap, 1e-3);
            const std::string before = testkit::body_text(body);
            qelx_test::EventRecorder events;
            ve_heal::StepWatch watch(body, "body 7");
            const bool kept = watch.step("widenEdges", [&] { widenEdgesAt(body, seam, widen * gap); });
            EXPECT_EQ(kept, widen < 2.0);
            if (!kept)
                EXPECT_EQ(testkit::body_text(body), before) << "the step was not taken back whole";
            api_del_entity(body);
        }
}
