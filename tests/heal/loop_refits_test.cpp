// Pcurves made afresh on a face of a surface that closes round (a refit by
// healing or repair) join the loop they bound end to start, wherever whole
// periods the loop lay at: the kernel fits a pcurve into the surface's
// principal range, a whole period from a loop that lies beyond it.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "geometry/seam_pcurves.hxx"
#include "heal/heal_internal.hxx"
#include "heal/step_healer.hxx"
#include "repair/fix_pcurve.hxx"
#include "support/connector_test.hxx"
#include "support/geometry_builders.hxx"
#include "support/loop_builders.hxx"
#include "support/repair_builders.hxx"
#include "velm/bspline.hxx"
#include "velm/build.hxx"
#include "velm/geometry.hxx"
#include "velm/query.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

namespace {

class LoopRefits : public testkit::ConnectorTest {};

// A surface of each kind that closes round, and the rectangle of its
// parameters a face is laid on: `u` and `v` its extent, the start of a
// closing direction seeded within `starts` (so that the principal range's
// edge falls anywhere across the face, or nowhere: a spline's edge curves,
// its iso-lines, are laid within its range).
struct ClosingSurface {
    const char* name;
    std::function<std::unique_ptr<surface>()> make;
    QELinterval u, v, starts;
};

std::vector<ClosingSurface> closingSurfaces()
{
    const double turn = 2.0 * testkit::kPi;
    const auto copy = [](const surface& s) { return std::unique_ptr<surface>(s.make_copy()); };
    return {
        {"cylinder", [=] { return copy(testkit::test_cylinder()); }, {0.5, 3.0}, {0.0, 2.5}, {0.0, turn}},
        {"cone", [=] { return copy(testkit::test_cone()); }, {0.5, 2.5}, {0.0, 2.5}, {0.0, turn}},
        {"sphere", [=] { return copy(testkit::test_sphere()); }, {-1.0, 1.0}, {0.0, 2.5}, {0.0, turn}},
        {"torus", [=] { return copy(testkit::test_torus()); }, {0.0, 2.0}, {0.0, 2.5}, {0.0, turn}},
        {"periodic spline",
         [=] {
             bs3_surface bs = testkit::make_tube_bs3_surface(true);
             const spline tube(bs);
             bs3_surface_delete(bs);
             return copy(tube);
         },
         {0.2, 0.8}, {0.0, 3.5}, {3.0, 5.5}},
    };
}

// The rectangle's range in one direction: from a seeded start where the
// surface closes.
QELinterval placedRange(const QELinterval& extent, const QELinterval& starts, double period, std::mt19937& random)
{
    if (!(period > 0.0))
        return extent;
    const double start = std::uniform_real_distribution<double>(starts.start_pt(), starts.end_pt())(random);
    return {start, start + extent.length()};
}

double faceArea(FACE* face)
{
    double a = 0.0, accuracy = 0.0;
    EXPECT_TRUE(api_ent_area(face, 1e-9, a, accuracy).ok());
    return a;
}

// The refits of a loop use's pcurve that heal and repair make.
struct Refit {
    const char* name;
    std::function<void(COEDGE*)> run;
};

const Refit kRefits[] = {
    {"the STEP healer's regeneration", [](COEDGE* c) { QELXStepVelmHealer::regenPCurve(c); }},
    {"the tolerant-edge fixes' rebuild", [](COEDGE* c) { ve_heal::rebuildCoedgePCurve(c); }},
    {"the repair's added pcurve",
     [](COEDGE* c) {
         c->set_geometry(nullptr);
         Ve_FixPCurve::addPCurve(c);
     }},
};

} // namespace

// Every closing surface kind, every frame, loops at seeded places moved whole
// periods away in either direction (both directions of a torus), each use
// refitted in turn by every refit: the loop joins up after each refit and
// the face's area stays. (The refit put the use back in the principal range,
// a whole period from the others: the loop then jumped there twice.)
TEST_F(LoopRefits, EveryRefitOnEveryClosingSurfaceLeavesTheLoopJoinedAndTheAreaKept)
{
    std::mt19937 random(48);
    const int offsets[] = {-2, -1, 1, 2};
    for (const ClosingSurface& kind : closingSurfaces())
        for (const testkit::KernelFrame& frame : testkit::kernel_frames())
            for (const Refit& refit : kRefits)
                for (const int periods : offsets) {
                    const std::unique_ptr<surface> s = kind.make();
                    const double pu = ve_closing_period(*s, true), pv = ve_closing_period(*s, false);
                    ASSERT_TRUE(pu > 0.0 || pv > 0.0) << kind.name;
                    const QELinterval u = placedRange(kind.u, kind.starts, pu, random);
                    const QELinterval v = placedRange(kind.v, kind.starts, pv, random);
                    SCOPED_TRACE(std::string(kind.name) + ", " + frame.name + ", " + refit.name + ", u from " +
                                 std::to_string(u.start_pt()) + ", v from " + std::to_string(v.start_pt()) + ", " +
                                 std::to_string(periods) + " periods away");
                    // The loop round the face's periphery: counter-clockwise
                    // in parameters that are right-handed about the normal.
                    const auto laid = [&](bool ccw) {
                        BODY* b = testkit::make_iso_rect_sheet(
                            *s, {testkit::rect(u.start_pt(), u.end_pt(), v.start_pt(), v.end_pt(), ccw)});
                        EXPECT_TRUE(api_apply_transf(b, frame.transform).ok());
                        EXPECT_TRUE(api_change_body_trans(b).ok());
                        return b;
                    };
                    BODY* body = laid(true);
                    if (faceArea(body->lump()->shell()->face()) < 0.0) {
                        api_del_entity(body);
                        body = laid(false);
                    }
                    FACE* face = body->lump()->shell()->face();
                    ASSERT_EQ(testkit::check_findings(body), "");
                    const double area = faceArea(face);
                    ASSERT_GT(area, 0.0);
                    // The loop moved whole periods away, the other way round a torus's tube.
                    const std::vector<COEDGE*> uses = testkit::loop_uses(face);
                    for (COEDGE* c : uses)
                        testkit::shift_pcurve(c, periods * pu, -periods * pv);
                    bool pcurved = false;
                    ASSERT_LT(testkit::widest_loop_join_step(face, pcurved), 1e-9);
                    ASSERT_NEAR(faceArea(face), area, 1e-9 * area);
                    for (std::size_t i = 0; i < uses.size(); ++i) {
                        SCOPED_TRACE("use " + std::to_string(i));
                        refit.run(uses[i]);
                        EXPECT_LE(pcurve_deviation(uses[i]), QELresabs);
                        EXPECT_LT(testkit::widest_loop_join_step(face, pcurved), 1e-6);
                        EXPECT_TRUE(pcurved);
                        EXPECT_NEAR(faceArea(face), area, 1e-6 * area);
                    }
                    api_del_entity(body);
                }
}
