// The scaled-box B-spline conversion of cylinder walls of every span.
#include <gtest/gtest.h>

#include <string>

#include "model/entity_views.hxx"
#include "support/connector_test.hxx"
#include "support/heal_builders.hxx"
#include "support/loop_builders.hxx"
#include "support/model_builders.hxx"
#include "support/query_builders.hxx"
#include "support/repair_builders.hxx"
#include "velm/build.hxx"
#include "velm/insanity.hxx"
#include "velm/query.hxx"
#include "velm/testkit.hxx"
#include "velm/topology_api.hxx"

namespace {

class WallConversion : public testkit::ConnectorTest {};

// The coedges of the body without a pcurve.
int coedgesWithoutPcurve(BODY* b)
{
    ENTITY_LIST coedges;
    api_get_coedges(b, coedges);
    int n = 0;
    for (int i = 0; i < coedges.count(); ++i)
        n += static_cast<COEDGE*>(coedges[i])->geometry() == nullptr ? 1 : 0;
    return n;
}

} // namespace

// A wall of the cylinder between two of its circles, spanning anything from
// half a radian to all but a sliver of its turn, becomes one spline face
// whose every coedge has its pcurve, the sheet sound and its area kept, in
// every frame.
TEST_F(WallConversion, EveryCoedgeOfAWallOfAnySpanGetsItsPcurve)
{
    on("ScaleBndBoxCnvrtToSpline");
    on("SplineAsRational");
    for (const double span : {0.5, 1.5, 3.0, 4.5, 5.0, 5.4, 5.5, 5.7, 6.0, 6.2, 2.0 * testkit::kPi - 0.02})
        for (const QELtransf& frame : testkit::heal_frames()) {
            SCOPED_TRACE("span " + std::to_string(span) + (frame.identity() ? ", identity" : ", framed"));
            BODY* b = testkit::make_iso_rect_sheet(testkit::test_cylinder(), {testkit::rect(0, 1, 0.3, 0.3 + span, false)});
            if (!frame.identity()) {
                api_apply_transf(b, frame);
                api_change_body_trans(b, nullptr);
            }
            ASSERT_EQ(testkit::check_findings(b), "");
            ASSERT_EQ(coedgesWithoutPcurve(b), 0);
            const double area = testkit::body_area(b);
            reinterpret_cast<Ve_BodyTag*>(b)->bspline(false, false);
            EXPECT_EQ(testkit::faces_of(b).front()->geometry()->equation().type(), 10);
            EXPECT_EQ(coedgesWithoutPcurve(b), 0);
            EXPECT_EQ(testkit::check_findings(b), "");
            EXPECT_NEAR(testkit::body_area(b), area, 1e-4 * area);
            api_del_entity(b);
        }
}
