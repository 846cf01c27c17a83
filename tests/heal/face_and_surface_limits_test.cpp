// The bounds the recipes' clean-ups measure against: which faces are too
// small to keep, and which spline surfaces are too broken to trim by.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "heal/repair_utils.hxx"
#include "heal/repair_utils_internal.hxx"
#include "heal/step_healer.hxx"
#include "support/connector_test.hxx"
#include "support/geometry_builders.hxx"
#include "support/loop_builders.hxx"
#include "velm/bspline.hxx"
#include "velm/geometry.hxx"
#include "velm/query.hxx"
#include "velm/testkit.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

namespace {

class FaceAndSurfaceLimits : public testkit::ConnectorTest {};

std::vector<double> faceAreas(BODY* body)
{
    ENTITY_LIST faces;
    api_get_faces(body, faces);
    std::vector<double> areas;
    for (int i = 0; i < faces.count(); ++i) {
        double area = 0.0, achieved = 0.0;
        EXPECT_TRUE(api_ent_area(faces[i], 0.001, area, achieved).ok());
        areas.push_back(area);
    }
    std::sort(areas.begin(), areas.end());
    return areas;
}

// A spline sheet standing on z over a closed quadratic that crosses itself in
// the xy-plane: every iso-line along u loops over its own path, yet the
// surface is regular everywhere.
spline selfCrossingSpline()
{
    const QELposition ring[4] = {{0, 0, 0}, {4, 4, 0}, {4, 0, 0}, {0, 4, 0}};
    QELposition points[8];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 2; ++j)
            points[i * 2 + j] = ring[i] + QELvector(0, 0, j);
    const double uknots[] = {0, 0, 0, 0.5, 1, 1, 1};
    const double vknots[] = {0, 0, 1, 1};
    bs3_surface net =
        bs3_surface_from_ctrlpts(2, 0, 0, 0, 4, 1, 0, 0, 0, 2, points, nullptr, QELresabs, 7, uknots, 4, vknots, 1e-10);
    spline made(net);
    bs3_surface_delete(net);
    return made;
}

} // namespace

TEST_F(FaceAndSurfaceLimits, FacesBelowTheSquaredResolutionGoAndLargerOnesStay)
{
    // Areas 1, 1e-11 (between the resolution's square and the resolution)
    // and 1e-13 (below the square): only the last is nothing.
    BODY* sheet = testkit::make_iso_rect_faces(testkit::test_plane(),
                                               {{testkit::rect(0, 1, 0, 1, true)},
                                                {testkit::rect(5, 5.001, 0, 1e-8, true)},
                                                {testkit::rect(10, 10.001, 0, 1e-10, true)}},
                                               {FORWARD, FORWARD, FORWARD});
    const std::vector<double> before = faceAreas(sheet);
    ASSERT_EQ(before.size(), 3u);
    ASSERT_NEAR(before[0], 1e-13, 1e-15);
    ASSERT_NEAR(before[1], 1e-11, 1e-13);
    ve_recipes::removeFacesWithoutSurface(reinterpret_cast<Ve_BodyTag*>(sheet), false);
    EXPECT_EQ(faceAreas(sheet).size(), 3u) << "faces with a surface stay unless their area is asked for";
    ve_recipes::removeFacesWithoutSurface(reinterpret_cast<Ve_BodyTag*>(sheet), true);
    const std::vector<double> after = faceAreas(sheet);
    ASSERT_EQ(after.size(), 2u);
    EXPECT_NEAR(after[0], 1e-11, 1e-13);
    EXPECT_NEAR(after[1], 1.0, 1e-9);
    api_del_entity(sheet);
}

TEST_F(FaceAndSurfaceLimits, ASelfCrossingSplineIsNoValidSurfaceToEitherHealer)
{
    const spline crossing = selfCrossingSpline();
    const spline plain = testkit::test_spline();
    EXPECT_FALSE(QELXVeRepairUtils::isSurfValid(crossing));
    EXPECT_FALSE(QELXStepVelmHealer::isSurfValid(crossing));
    EXPECT_TRUE(QELXVeRepairUtils::isSurfValid(plain));
    EXPECT_TRUE(QELXStepVelmHealer::isSurfValid(plain));
}

// A surface check that fails finds the surface no valid one: whether the
// check for irregularities or the one for self-intersections fails, the
// recipe's trim does not take an unchecked surface for sound.
TEST_F(FaceAndSurfaceLimits, ASurfaceWhoseCheckFailedIsNoValidSurface)
{
    const spline plain = testkit::test_spline();
    for (const long nth : {1L, 2L}) {
        SCOPED_TRACE(nth == 1 ? "the irregularity check fails" : "the self-intersection check fails");
        velm_test_fail_alloc("check_geometry", nth);
        EXPECT_FALSE(QELXVeRepairUtils::isSurfValid(plain));
        EXPECT_FALSE(velm_test_injection_pending()) << "the check made fewer allocations than meant";
        velm_test_reset();
    }
    EXPECT_TRUE(QELXVeRepairUtils::isSurfValid(plain));
}
