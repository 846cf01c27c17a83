// The curves a loop containment pass makes, made while the kernel runs out of
// memory: the stand-in it sets on a face's edge (a 3-D B-spline with a pcurve
// fitted on the face's surface) and the free edge along the iso-parameter
// line it runs across two loops. Each allocation fails in turn, on lines,
// circles and iso-curves of a plane, a cylinder and a sphere in every frame:
// nothing the making held is left alive, whichever allocation failed.
#include <gtest/gtest.h>

#include <memory>
#include <functional>
#include <string>

#include "loops/loop_containment.hxx"
#include "loops/replace_by_surf_int.hxx"
#include "support/connector_test.hxx"
#include "support/heal_builders.hxx"
#include "support/loop_builders.hxx"
#include "support/query_builders.hxx"
#include "velm/errors.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/memory.hxx"
#include "velm/testkit.hxx"
#include "velm/topology_api.hxx"

namespace {

struct ContainmentSurfaceCase {
    const char* name;
    testkit::iso_rect outer, hole;
    bool sphere, cylinder;
};

std::unique_ptr<surface> framedSurface(const ContainmentSurfaceCase& c, const QELtransf& frame)
{
    std::unique_ptr<surface> s(c.sphere     ? testkit::test_sphere().make_copy()
                               : c.cylinder ? testkit::test_cylinder().make_copy()
                                            : testkit::test_plane().make_copy());
    *s *= frame;
    return s;
}


// Runs `make` over a fresh sheet of the outer loop and the hole with the nth
// allocation failing, n = 1, 2, ... until none fails; whatever it makes is
// given back to `discard`. Nothing may stay alive. Gives the runs in which an
// allocation failed.
long sweepAllocations(const surface& srf, const ContainmentSurfaceCase& c, const std::function<ENTITY*(BODY*)>& make)
{
    long failed = 0;
    for (long n = 1;; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n));
        velm_test_reset();
        velm_test_record_object_sites(true);
        const long objects = velm_live_object_count();
        BODY* body = testkit::make_iso_rect_sheet(srf, {c.outer, c.hole});
        velm_test_fail_alloc(nullptr, n);
        ENTITY* made = nullptr;
        try {
            made = make(body);
        } catch (...) {
            made = nullptr;
        }
        const bool fired = !velm_test_injection_pending();
        velm_test_reset();
        if (made)
            api_del_entity(made);
        api_del_entity(body);
        set_global_error_info(nullptr);
        EXPECT_EQ(velm_live_object_count(), objects) << "left alive " << testkit::live_object_sites();
        if (!fired) {
            EXPECT_NE(made, nullptr) << "nothing failing, the curve is made";
            break;
        }
        ++failed;
        if (::testing::Test::HasFailure())
            break;
    }
    return failed;
}

} // namespace

TEST(ContainmentCurveFailures, EachAllocationFailingWhileAContainmentCurveIsMadeLeavesNothingAliveInEveryFrame)
{
    const ContainmentSurfaceCase cases[] = {
        {"straight sides on a plane", testkit::rect(0, 4, 0, 2, true), testkit::rect(1, 2, 0.5, 1.5, false), false,
         false},
        {"circles and meridians on a sphere", testkit::rect(-0.5, 0.5, 0.2, 1.4, true),
         testkit::rect(-0.2, 0.2, 0.5, 1.0, false), true, false},
        {"circles and lines on a cylinder", testkit::rect(0, 3, 0.3, 2.0, true), testkit::rect(1, 2, 0.8, 1.4, false),
         false, true},
    };
    const std::vector<QELtransf> frames = testkit::heal_frames();
    for (const ContainmentSurfaceCase& c : cases)
        for (std::size_t f = 0; f < frames.size(); ++f) {
            SCOPED_TRACE(std::string(c.name) + ", frame " + std::to_string(f));
            const std::unique_ptr<surface> srf = framedSurface(c, frames[f]);
            // The stand-in of the outer loop's first edge.
            const long standIns = sweepAllocations(*srf, c, [&](BODY* body) -> ENTITY* {
                EDGE* edge = testkit::faces_of(body).front()->loop()->start()->edge();
                return Ve_ReplaceBySurfInt::makeSurfaceIntersectionCurve(edge, srf.get());
            });
            EXPECT_GT(standIns, 2) << "allocations failed in turn making the stand-in";
            // The iso-parameter edge across both loops, either way.
            for (bool flip : {false, true}) {
                const long lines = sweepAllocations(*srf, c, [&](BODY* body) -> ENTITY* {
                    FACE* face = testkit::faces_of(body).front();
                    QELXDynamicArray<LOOP*> loops;
                    loops.Add(face->loop()->next());
                    loops.Add(face->loop());
                    return ve_loops::makeIsoParameterEdge(loops, ve_loops::chooseIsoParameterLine(loops, flip));
                });
                EXPECT_GT(lines, 0) << "allocations failed in turn making the iso-parameter edge";
            }
        }
}
