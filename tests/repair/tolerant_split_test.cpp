// Splitting an edge whose coedges are tolerant, each with a range of its own.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "post_process_support.hxx"
#include "qelx/qelx_test.hxx"
#include "repair/fix_pcurve.hxx"
#include "support/geometry_builders.hxx"
#include "support/heal_builders.hxx"
#include "velm/api.hxx"
#include "velm/build.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/memory.hxx"
#include "velm/query.hxx"
#include "velm/spline_conversion.hxx"
#include "velm/split.hxx"
#include "velm/testkit.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology_api.hxx"

namespace {

class TolerantSplit : public ::testing::Test {
protected:
    void SetUp() override
    {
        qelx_test::resetFramework();
        m_live = velm_live_object_count();
    }
    void TearDown() override
    {
        EXPECT_EQ(velm_live_object_count(), m_live);
        qelx_test::resetFramework();
    }
    long m_live = 0;
};

using post_process_test::coedges;
using post_process_test::edges;

double bodyArea(BODY* b)
{
    double area = 0.0, achieved = 0.0;
    EXPECT_TRUE(api_ent_area(b, 1e-6, area, achieved).ok());
    return area;
}

// How the tolerant coedges hold their own ranges.
enum class Own {
    edges,        // set to the edge's, as a carried-over pcurve leaves it
    ownCurve,     // on a 3-D curve of their own (a copy of the edge's, run their way)
};

// A cylinder in the frame, pcurves on every coedge, its top circle (closed)
// or its seam made a tolerant edge of tolerant coedges holding ranges of
// their own.
BODY* cylinderWithTolerantEdge(const QELtransf& frame, bool seam, Own own, EDGE*& edge)
{
    BODY* b = testkit::make_cylinder(5.0, 8.0);
    edge = nullptr;
    for (EDGE* e : edges(b)) {
        const bool circle = e->geometry()->equation().type() == 2;
        if (seam ? !circle : (circle && e->start()->geometry()->coords().z() > 4.0))
            edge = e;
    }
    if (!frame.identity()) {
        api_apply_transf(b, frame);
        api_change_body_trans(b, nullptr);
    }
    sg_add_pcurves_to_entity(b);
    TEDGE* tolerant = nullptr;
    if (!edge || !api_replace_edge_with_tedge(edge, tolerant).ok())
        return b;
    edge = tolerant;
    for (COEDGE* c : coedges(edge)) {
        TCOEDGE* t = testkit::make_coedge_tolerant(c);
        const QELinterval range = t->param_range();
        if (own == Own::edges) {
            t->set_param_range(range);
            continue;
        }
        std::unique_ptr<curve> copy(edge->geometry()->equation().make_copy());
        if (t->sense() != edge->sense())
            copy->negate();
        t->set_3D_curve(make_curve(*copy));
        t->set_param_range(range);
    }
    return b;
}

} // namespace

// An edge of tolerant coedges splits as any other: each coedge keeps its own
// range up to where its own curve passes the new vertex and its piece on
// the new edge takes the rest, tolerant too, so that both meet the vertex
// and the body stays sound with its area, for the closed circle and the
// seam, coedges holding the edge's range or a curve of their own, in every
// frame.
TEST_F(TolerantSplit, EachCoedgeKeepsItsOwnRangeUpToTheSplitAndItsPieceTakesTheRest)
{
    for (const QELtransf& frame : testkit::heal_frames())
        for (const bool seam : {false, true})
            for (const Own own : {Own::edges, Own::ownCurve}) {
                SCOPED_TRACE(std::string(seam ? "seam" : "circle") + (own == Own::edges ? ", edge's range" : ", own curve") +
                             (frame.identity() ? ", identity" : ", framed"));
                EDGE* edge = nullptr;
                BODY* b = cylinderWithTolerantEdge(frame, seam, own, edge);
                ASSERT_TRUE(edge && is_TEDGE(edge));
                std::string report;
                ASSERT_TRUE(velm_test_check_model(b, &report)) << report;
                const double area = bodyArea(b);
                const std::vector<COEDGE*> ring = coedges(edge);
                std::vector<QELinterval> ranges;
                for (COEDGE* c : ring) {
                    ASSERT_TRUE(is_TCOEDGE(c));
                    ranges.push_back(c->param_range());
                }
                const QELinterval r = edge->param_range();
                const double t = r.interpolate(0.3);
                const QELposition at =
                    edge->geometry()->equation().eval_position(edge->sense() == REVERSED ? -t : t);
                EDGE* rest = nullptr;
                ASSERT_TRUE(velm_api("split", [&] {
                                rest = sg_split_edge_at_vertex(edge, new TVERTEX(new APOINT(at), 0.0), t);
                            }).ok());
                ASSERT_NE(rest, nullptr);
                for (std::size_t k = 0; k < ring.size(); ++k) {
                    auto* c = static_cast<TCOEDGE*>(ring[k]);
                    COEDGE* piece = c->sense() == FORWARD ? c->next() : c->previous();
                    ASSERT_EQ(piece->edge(), rest);
                    ASSERT_TRUE(is_TCOEDGE(piece));
                    auto* p = static_cast<TCOEDGE*>(piece);
                    EXPECT_EQ(p->get_3D_curve(), c->get_3D_curve());
                    EXPECT_EQ(p->geometry(), c->geometry());
                    // The two ranges are the old one cut at one parameter,
                    // in the coedge's order along the loop.
                    const TCOEDGE* first = c->sense() == FORWARD ? c : p;
                    const TCOEDGE* second = c->sense() == FORWARD ? p : c;
                    EXPECT_NEAR(first->param_range().start_pt(), ranges[k].start_pt(), 1e-12);
                    EXPECT_NEAR(second->param_range().end_pt(), ranges[k].end_pt(), 1e-12);
                    EXPECT_NEAR(first->param_range().end_pt(), second->param_range().start_pt(), 1e-12);
                    EXPECT_LT(first->param_range().end_pt(), ranges[k].end_pt());
                    EXPECT_GT(first->param_range().end_pt(), ranges[k].start_pt());
                    // Where they meet is the split's point, on the pcurve as on the own curve.
                    const double s = first->param_range().end_pt();
                    const surface& srf = c->loop()->face()->geometry()->equation();
                    EXPECT_LT(distance(srf.eval_position(c->geometry()->def().eval_position(s)), at), 1e-6);
                    EXPECT_LT(distance(first->end_pos(), at), 1e-6);
                    EXPECT_LT(distance(second->start_pos(), at), 1e-6);
                }
                EXPECT_TRUE(velm_test_check_model(b, &report)) << report;
                EXPECT_NEAR(bodyArea(b), area, 1e-6 * area);
                api_del_entity(b);
            }
}

// The closed-edge step of the periodic split halves a closed edge of
// tolerant coedges, which the kernel's split took before only when the
// coedges were plain: the circle comes out as two edges meeting at a
// tolerant vertex, the body sound, in every frame.
TEST_F(TolerantSplit, AClosedEdgeOfTolerantCoedgesIsHalved)
{
    for (const QELtransf& frame : testkit::heal_frames()) {
        SCOPED_TRACE(frame.identity() ? "identity" : "framed");
        EDGE* edge = nullptr;
        BODY* b = cylinderWithTolerantEdge(frame, false, Own::edges, edge);
        ASSERT_TRUE(edge && edge->start() == edge->end());
        const std::size_t before = edges(b).size();
        const double area = bodyArea(b);
        splitClosedLoopEdges(b);
        EXPECT_NE(edge->start(), edge->end());
        EXPECT_TRUE(is_TVERTEX(edge->end()));
        EXPECT_GE(edges(b).size(), before + 1);
        std::string report;
        EXPECT_TRUE(velm_test_check_model(b, &report)) << report;
        EXPECT_NEAR(bodyArea(b), area, 1e-6 * area);
        api_del_entity(b);
    }
}
