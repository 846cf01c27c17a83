// Constructions that take several B-splines at once (an intcurve over its
// curve and the pcurves on its two surfaces) with an allocation failing at
// each point along the way: the failure is the kernel's error, the B-splines
// are freed exactly once, and nothing made on the way stays alive.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "geometry/curve_creator.hxx"
#include "geometry/surface_approximator.hxx"
#include "model/kernel_call_bracket.hxx"
#include "support/connector_test.hxx"
#include "support/geometry_builders.hxx"
#include "support/model_builders.hxx"
#include "trim/stitch_coedges.hxx"
#include "trim/trim_internal.hxx"
#include "velm/bspline.hxx"
#include "velm/geometry.hxx"
#include "velm/law.hxx"
#include "velm/memory.hxx"
#include "velm/pcurves.hxx"
#include "velm/surface_intersect.hxx"
#include "velm/testkit.hxx"
#include "velm/topology.hxx"

namespace {

// The x axis as the meeting line of the planes z = 0 and y = 0, with the
// pcurve of the line on each plane, over [0, 4].
struct MeetingLine {
    const QELinterval range{0.0, 4.0};
    const plane floor{QELposition(0, 0, 0), QELunit_vector(0, 0, 1)};
    const plane wall{QELposition(0, 0, 0), QELunit_vector(0, 1, 0)};
    bs3_curve curve() const
    {
        return bs3_curve_make_str(straight(QELposition(0, 0, 0), QELunit_vector(1, 0, 0)), range.start_pt(),
                                  range.end_pt());
    }
    bs2_curve on(const plane& p) const
    {
        return testkit::linear_bs2(p.param(QELposition(range.start_pt(), 0, 0)),
                                   p.param(QELposition(range.end_pt(), 0, 0)), range);
    }
};

// Allocations along an intcurve's making: the intcurve itself, its data, the
// copies of the surfaces it keeps.
const char* const kIntcurveSites[] = {"spline_curve_build.cpp", "geom_curves.cpp", "geometry.hxx"};

class OwningConstructions : public testkit::ConnectorTest {
protected:
    void SetUp() override
    {
        ConnectorTest::SetUp();
        on("CreateIntCurve");
    }
    // Armed with the allocation to fail, sites recorded for a leak's report.
    static void failAllocation(const char* site, long nth)
    {
        velm_test_reset();
        velm_test_record_object_sites(true);
        velm_test_fail_alloc(site, nth);
    }
};

TEST_F(OwningConstructions, IntcurveOverTwoSplinesLeaksNothingWhenAnAllocationFails)
{
    const MeetingLine line;
    // Both surfaces with their pcurves, one surface with its pcurve, the curve alone.
    for (int surfaces = 2; surfaces >= 0; --surfaces)
        for (const char* site : kIntcurveSites)
            for (long nth = 1; nth <= 2; ++nth) {
                const std::string where = std::to_string(surfaces) + " surfaces, " + site + " allocation " +
                                          std::to_string(nth);
                SCOPED_TRACE(where);
                const long objects = velm_live_object_count();
                intcurve* made = nullptr;
                failAllocation(site, nth);
                const int answer = ::buildIntcurve(
                    line.curve(), 0.0, surfaces > 0 ? &line.floor : nullptr, surfaces > 1 ? &line.wall : nullptr,
                    surfaces > 0 ? line.on(line.floor) : nullptr, surfaces > 1 ? line.on(line.wall) : nullptr, made);
                const bool fired = !velm_test_injection_pending();
                velm_test_reset();
                if (fired) {
                    EXPECT_EQ(answer, -1);
                    EXPECT_EQ(made, nullptr);
                } else {
                    // Fewer allocations there than asked: the undisturbed making.
                    ASSERT_EQ(answer, 0);
                    ASSERT_NE(made, nullptr);
                    EXPECT_EQ(made->pcur_present(1), surfaces > 0);
                    EXPECT_EQ(made->pcur_present(2), surfaces > 1);
                    delete made;
                }
                EXPECT_EQ(velm_live_object_count(), objects) << "left alive " << testkit::live_object_sites();
            }
}

// Cutting an edge's intcurve to the edge cuts its curve and both pcurves,
// then makes the intcurve of the pieces.
TEST_F(OwningConstructions, TrimmingAnIntcurveEdgeLeaksNothingWhenAnAllocationFails)
{
    const MeetingLine line;
    const QELinterval inner(1.0, 3.0);
    const intcurve whole(line.curve(), 0.0, &line.floor, &line.wall, line.on(line.floor), line.on(line.wall));
    int fired = 0;
    for (const char* site : {"bspline_ops.cpp", "split.cpp", "geom_curves.cpp", "geometry.hxx"})
        for (long nth = 1; nth <= 3; ++nth) {
            SCOPED_TRACE(std::string(site) + " allocation " + std::to_string(nth));
            EDGE* edge = new EDGE(new VERTEX(new APOINT(inner.start_pt(), 0, 0)),
                                  new VERTEX(new APOINT(inner.end_pt(), 0, 0)), make_curve(whole), FORWARD,
                                  EDGE_cvty_unknown, &inner);
            const CURVE* before = edge->geometry();
            const long objects = velm_live_object_count();
            failAllocation(site, nth);
            const int err = velmGuard([&] { trim_edge_geom(edge); });
            const bool failed = !velm_test_injection_pending();
            velm_test_reset();
            if (failed) {
                ++fired;
                EXPECT_NE(err, 0);
                EXPECT_EQ(edge->geometry(), before);
                EXPECT_EQ(velm_live_object_count(), objects) << "left alive " << testkit::live_object_sites();
            } else {
                ASSERT_EQ(err, 0);
                const auto& cut = static_cast<const intcurve&>(edge->geometry()->equation());
                EXPECT_TRUE(cut.pcur_present(1) && cut.pcur_present(2));
                EXPECT_EQ(bs3_curve_range(cut.cur()), inner);
            }
            api_del_entity(edge);
        }
    // The three cuts and the intcurve's own allocations all failed somewhere.
    EXPECT_GE(fired, 7);
}

// A translation surface copies its profile and then its rail, made alone or
// copied: the profile's copy goes when the rail's cannot be made.
TEST_F(OwningConstructions, SweptSurfaceLeaksNothingWhenAnAllocationFails)
{
    const straight profile(QELposition(0, 0, 0), QELunit_vector(1, 0, 0));
    const straight rail(QELposition(0, 0, 0), QELunit_vector(0, 0.6, 0.8));
    const QELinterval u(0.0, 2.0), v(0.0, 3.0);
    const sweep_spl_sur whole(profile, rail, nullptr, nullptr, nullptr, u, v);
    int fired = 0;
    // The surface (copied only), its profile's copy, its rail's.
    for (long nth = 1; nth <= 3; ++nth)
        for (const bool copied : {false, true}) {
            SCOPED_TRACE((copied ? "copy, allocation " : "made, allocation ") + std::to_string(nth));
            const long objects = velm_live_object_count();
            failAllocation("geometry.hxx", nth);
            const int err = velmGuard([&] {
                if (copied)
                    whole.copy()->remove();
                else
                    sweep_spl_sur(profile, rail, nullptr, nullptr, nullptr, u, v);
            });
            const bool failed = !velm_test_injection_pending();
            velm_test_reset();
            fired += failed;
            EXPECT_EQ(err != 0, failed);
            EXPECT_EQ(velm_live_object_count(), objects) << "left alive " << testkit::live_object_sites();
        }
    EXPECT_EQ(fired, 5);
}

// A space curve lifted from a pcurve alone (joined from pieces, then made an
// intcurve with the pcurve's copy): every allocation failing in turn.
TEST_F(OwningConstructions, LiftingACurveFromItsPCurveLeaksNothingWhenAnAllocationFails)
{
    const MeetingLine line;
    // A slanting line on the floor: no parameter line, so the lift fits it.
    const pcurve slant(testkit::linear_bs2(QELpar_pos(0.0, 0.0), QELpar_pos(3.0, 2.0), line.range), 0.0, line.floor);
    long nth = 1;
    for (bool fired = true; fired; ++nth) {
        SCOPED_TRACE("allocation " + std::to_string(nth));
        const long objects = velm_live_object_count();
        failAllocation(nullptr, nth);
        intcurve* lifted = nullptr;
        const int err = velmGuard([&] { lifted = trimSpaceCurveFromPCurve(slant); });
        fired = !velm_test_injection_pending();
        velm_test_reset();
        if (!fired) {
            ASSERT_EQ(err, 0);
            ASSERT_NE(lifted, nullptr);
            EXPECT_LT((lifted->eval_position(line.range.end_pt()) - line.floor.eval_position(QELpar_pos(3.0, 2.0))).len(),
                      QELresfit);
        }
        delete lifted;
        EXPECT_EQ(velm_live_object_count(), objects) << "left alive " << testkit::live_object_sites();
    }
    EXPECT_GT(nth, 5);
}

// A face converted to a spline through a law over its surface: the law's
// data, the law and the law surface are each freed when the next cannot be
// made, and the face keeps its surface.
TEST_F(OwningConstructions, FaceConversionThroughALawLeaksNothingWhenAnAllocationFails)
{
    BODY* box = testkit::make_plane_box();
    FACE* face = box->lump()->shell()->face();
    // A plane face asked for a non-rational spline goes through a law.
    const Gk_ApproxInfo nonRational(0.01, Gk_ApproxInfo::NonRational);
    // The law table keeps the last law of each kind: one is there before the counts.
    BODY* other = testkit::make_plane_box();
    Gk_SurfApproxInfoHandle info;
    ASSERT_NE(Ve_SurfaceApproximator(other->lump()->shell()->face(), &nonRational).bspline(Gk_Span(), &info), nullptr);
    api_del_entity(other);
    // The law's data, the law, the law surface; the data's copy of the surface.
    const std::pair<const char*, long> allocations[] = {
        {"surface_approximator.cpp", 1}, {"surface_approximator.cpp", 2}, {"surface_approximator.cpp", 3},
        {"geometry.hxx", 1}};
    for (const auto& [site, nth] : allocations) {
        SCOPED_TRACE(std::string(site) + " allocation " + std::to_string(nth));
        const SURFACE* before = face->geometry();
        const long objects = velm_live_object_count();
        failAllocation(site, nth);
        ENTITY* converted = Ve_SurfaceApproximator(face, &nonRational).bspline(Gk_Span(), &info);
        const bool failed = !velm_test_injection_pending();
        velm_test_reset();
        EXPECT_TRUE(failed) << "no such allocation";
        EXPECT_EQ(converted, nullptr);
        EXPECT_EQ(face->geometry(), before);
        EXPECT_EQ(velm_live_object_count(), objects) << "left alive " << testkit::live_object_sites();
    }
    api_del_entity(box);
    law_clear_table();
}

// The stitcher rebuilds an edge's intcurve over its faces from copies of the
// curve and pcurves, which are its own until the intcurve takes them: a
// construction that fails has freed them already, and they must not be freed
// again.
TEST_F(OwningConstructions, RebuildingAnEdgesIntcurveFreesItsCopiesOnceWhenAnAllocationFails)
{
    int fired = 0;
    for (const char* site : kIntcurveSites)
        for (long nth = 1; nth <= 3; ++nth) {
            SCOPED_TRACE(std::string(site) + " allocation " + std::to_string(nth));
            const long objects = velm_live_object_count();
            BODY* sheet = testkit::make_spline_sheet_split(0.6);
            EDGE* edge = sheet->lump()->shell()->face()->loop()->start()->edge();
            failAllocation(site, nth);
            const outcome rebuilt = velmCall([&] { rebuildIntcurveEdge(edge); });
            fired += !velm_test_injection_pending();
            velm_test_reset();
            EXPECT_EQ(testkit::model_problems(sheet), "") << rebuilt.ok();
            api_del_entity(sheet);
            EXPECT_EQ(velm_live_object_count(), objects) << "left alive " << testkit::live_object_sites();
        }
    EXPECT_GE(fired, 5);
}

} // namespace

namespace {

// Every allocation of `make` failing in turn, each run checked to leave no
// kernel object alive; the number of runs in which a failure was injected.
long failEachAllocationOf(const std::function<void()>& make)
{
    long fired = 0;
    for (long nth = 1;; ++nth) {
        SCOPED_TRACE("allocation " + std::to_string(nth));
        const long objects = velm_live_object_count();
        velm_test_reset();
        velm_test_record_object_sites(true);
        velm_test_fail_alloc(nullptr, nth);
        const int err = velmGuard(make);
        const bool failed = !velm_test_injection_pending();
        velm_test_reset();
        EXPECT_EQ(velm_live_object_count(), objects) << "left alive " << testkit::live_object_sites();
        if (!failed) {
            EXPECT_EQ(err, 0) << "the undisturbed run fails";
            return fired;
        }
        ++fired;
    }
}

} // namespace

// Joining clamps copies of both curves and raises the first to the second's
// degree before the joined curve is made: copies made before the failing
// allocation go with it.
TEST_F(OwningConstructions, JoiningCurvesLeaksNothingWhenAnAllocationFails)
{
    const MeetingLine line;
    const QELposition through[] = {QELposition(4, 0, 0), QELposition(5, 1, 0), QELposition(6, 0, 1),
                                   QELposition(7, 1, 1)};
    const double at[] = {4.0, 5.0, 6.0, 7.0};
    bs3_curve first = line.curve();
    bs3_curve second = bs3_curve_interp_knots(4, through, at);
    ASSERT_LT(bs3_curve_degree(first), bs3_curve_degree(second));
    EXPECT_GE(failEachAllocationOf([&] {
                  bs3_curve joined = bs3_curve_join(first, second);
                  ASSERT_NE(joined, nullptr);
                  EXPECT_EQ(bs3_curve_range(joined), QELinterval(0.0, 7.0));
                  bs3_curve_delete(joined);
              }),
              3);
    bs3_curve_delete(first);
    bs3_curve_delete(second);
}

// A law over a surface copied: its storage comes first, so a law that cannot
// be allocated copies no data, and data that cannot be copied frees the law's
// storage.
TEST_F(OwningConstructions, CopyingASurfaceLawLeaksNothingWhenAnAllocationFails)
{
    const QELpar_box box(QELinterval(0.0, 1.0), QELinterval(0.0, 1.0));
    law* original = new surface_law(new surface_law_data(sphere(QELposition(1, 2, 3), 2.0), box));
    EXPECT_GE(failEachAllocationOf([&] { original->deep_copy()->remove(); }), 3);
    original->remove();
}

// A surface fitted by interpolating rows and then columns of its points holds
// every curve made before the one that cannot be.
TEST_F(OwningConstructions, FittingASurfaceLeaksNothingWhenAnAllocationFails)
{
    const torus ring(QELposition(1, 0, 0), QELunit_vector(0, 0.6, 0.8), 3.0, 1.0);
    const QELbox region(QELposition(-5, -5, -5), QELposition(5, 5, 5));
    EXPECT_GE(failEachAllocationOf([&] {
                  bs3_surface fitted = bs3_surface_make_sur(ring, region, 0.05, nullptr, nullptr);
                  ASSERT_NE(fitted, nullptr);
                  bs3_surface_delete(fitted);
              }),
              18);
}

// Splitting a pcurve cuts two pieces, each a copy of the pcurve with the
// B-spline's piece.
TEST_F(OwningConstructions, SplittingAPCurveLeaksNothingWhenAnAllocationFails)
{
    const MeetingLine line;
    EXPECT_GE(failEachAllocationOf([&] {
                  pcurve whole(line.on(line.floor), 0.0, line.floor);
                  std::unique_ptr<pcurve> before(whole.split(1.5));
                  ASSERT_NE(before, nullptr);
                  EXPECT_EQ(whole.param_range(), QELinterval(1.5, 4.0));
              }),
              4);
}

// The meeting line of two planes is a record holding its curve.
TEST_F(OwningConstructions, IntersectingPlanesLeaksNothingWhenAnAllocationFails)
{
    const MeetingLine line;
    const QELbox region(QELposition(-1, -1, -1), QELposition(5, 1, 1));
    EXPECT_EQ(failEachAllocationOf([&] {
                  ss_curve_record* met = d3_sf_sf_int(line.floor, line.wall, region, QELresabs);
                  ASSERT_NE(met, nullptr);
                  EXPECT_NE(met->cur, nullptr);
                  sg_delete_ss_list(met);
              }),
              2);
}

// A pentagram's crossings come as a chain of records, one allocated at a time.
TEST_F(OwningConstructions, FindingSelfIntersectionsLeaksNothingWhenAnAllocationFails)
{
    std::vector<QELposition> star;
    for (int k = 0; k <= 5; ++k) {
        const double angle = 0.5 * M_PI + 0.8 * M_PI * k;
        star.emplace_back(std::cos(angle), std::sin(angle), 0.0);
    }
    const double knots[] = {0, 0, 1, 2, 3, 4, 5, 5};
    bs3_curve polygon = bs3_curve_from_ctrlpts(1, 0, 1, 0, 6, star.data(), nullptr, QELresabs, 8, knots, 1e-10);
    ASSERT_NE(polygon, nullptr);
    EXPECT_GE(failEachAllocationOf([&] {
                  cc_intersection* crossings = bs3_curve_self_int(polygon, QELresabs);
                  int n = 0;
                  for (const cc_intersection* x = crossings; x; x = x->next)
                      ++n;
                  EXPECT_EQ(n, 5);
                  delete_cc_intersections(crossings);
              }),
              5);
    bs3_curve_delete(polygon);
}

// The B-spline of a piece of a reversed intcurve is cut from a turned copy.
TEST_F(OwningConstructions, ApproximatingAReversedIntcurveLeaksNothingWhenAnAllocationFails)
{
    const MeetingLine line;
    intcurve reversed(line.curve(), 0.0, nullptr, nullptr, nullptr, nullptr);
    reversed.negate();
    EXPECT_EQ(failEachAllocationOf([&] {
                  bs3_curve piece = bs3_curve_make_cur(reversed, -3.0, -1.0, 0.0);
                  ASSERT_NE(piece, nullptr);
                  EXPECT_EQ(bs3_curve_range(piece), QELinterval(-3.0, -1.0));
                  bs3_curve_delete(piece);
              }),
              2);
}
