// The watch over the repair steps takes back a step that raises a tolerance
// past what closing the body's gaps needed (a vertex off its edges' curves,
// an edge's curve off its faces' surfaces), even where the checker then finds
// nothing: such a tolerance hides the body's shape rather than mending it.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "heal/step_watch.hxx"
#include "model/entity_views.hxx"
#include "qelx/qelx_test.hxx"
#include "support/connector_test.hxx"
#include "support/heal_builders.hxx"
#include "support/model_builders.hxx"
#include "support/query_builders.hxx"
#include "support/repair_builders.hxx"
#include "support/repair_sweep.hxx"
#include "velm/build.hxx"
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
