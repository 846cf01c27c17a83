// The surface approximator on faces of either handedness in every frame: a
// non-rational request must keep the face's outward side and its loops.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "geometry/surface_approximator.hxx"
#include "qelx/qelx_test.hxx"
#include "repair/post_process_support.hxx"
#include "support/geometry_builders.hxx"
#include "support/query_builders.hxx"
#include "support/repair_sweep.hxx"
#include "velm/build.hxx"
#include "velm/geometry.hxx"
#include "velm/law.hxx"
#include "velm/spline_conversion.hxx"
#include "velm/topology_api.hxx"

namespace {

using Approximator = post_process_test::PostProcess;
using namespace post_process_test;

// The face on a surface other than a plane.
FACE* curvedFace(BODY* b)
{
    for (FACE* f : faces(b))
        if (f->geometry()->equation().type() != 1)
            return f;
    return nullptr;
}

double signedArea(FACE* f)
{
    double a = 0.0, acc = 0.0;
    EXPECT_TRUE(api_ent_area(f, 0.001, a, acc).ok());
    return a;
}

// The surface turned over and the face with it: the same outward side on a
// surface of the other handedness.
void turnOver(FACE* f)
{
    f->geometry()->equation_for_update().negate();
    flipSense(f);
}

struct Source {
    const char* name;
    std::function<BODY*()> build;
    bool toSpline; // the curved face first made an exact rational spline
};

} // namespace

TEST_F(Approximator, NonRationalFitKeepsTheOutwardSideOfEitherHandednessInEveryFrame)
{
    const std::vector<Source> sources = {
        {"cylinder side as a spline", [] { return testkit::make_cylinder(5.0, 8.0); }, true},
        {"cylinder band", [] { return testkit::make_cylinder_band(4.0, 6.0); }, false},
        {"cylinder band as a spline", [] { return testkit::make_cylinder_band(4.0, 6.0); }, true},
    };
    const Gk_ApproxInfo nonRational(1e-4, Gk_ApproxInfo::NonRational);
    const std::vector<testkit::KernelFrame> frames = testkit::kernel_frames();
    int leftHanded = 0, rightHanded = 0;
    // A law fit takes seconds under the sanitizers: each source in one frame
    // (every frame once), all of them with XVELM_SWEEP_RUNS.
    for (std::size_t i = 0; i < sources.size(); ++i)
        for (std::size_t f = 0; f < frames.size(); ++f)
            for (bool turned : {false, true}) {
                if (f != i % frames.size() && !testkit::whole_sweep_asked())
                    continue;
                const Source& s = sources[i];
                const testkit::KernelFrame& frame = frames[f];
                SCOPED_TRACE(std::string(s.name) + " " + frame.name + (turned ? " turned over" : ""));
                BODY* b = keep(s.build());
                ASSERT_TRUE(api_apply_transf(b, frame.transform).ok());
                ASSERT_TRUE(api_change_body_trans(b).ok());
                FACE* face = curvedFace(b);
                ASSERT_NE(face, nullptr);
                if (s.toSpline) {
                    ENTITY* out = nullptr;
                    ASSERT_TRUE(api_convert_to_spline(face, out).ok());
                }
                if (turned)
                    turnOver(face);
                ASSERT_EQ(findings(b), "");
                (face->geometry()->equation().left_handed_uv() ? leftHanded : rightHanded)++;
                const double before = signedArea(face);
                const double total = area(b);
                Gk_SurfApproxInfoHandle info;
                ASSERT_EQ(Ve_SurfaceApproximator(face, &nonRational).bspline(Gk_Span(), &info), face);
                const surface& now = face->geometry()->equation();
                ASSERT_EQ(now.type(), 10);
                const bs3_surface net = static_cast<const spline&>(now).sur();
                EXPECT_FALSE(bs3_surface_rational_u(net) || bs3_surface_rational_v(net));
                EXPECT_NEAR(signedArea(face), before, 1e-3 * std::abs(before));
                EXPECT_NEAR(area(b), total, 1e-3 * total);
                EXPECT_EQ(findings(b), "");
            }
    // Both handednesses were met.
    EXPECT_GT(leftHanded, 0);
    EXPECT_GT(rightHanded, 0);
    // The laws the fits registered do not outlive the test.
    EXPECT_NE(law_find(surface_law::id()), nullptr);
    qelx_test::resetFramework();
    EXPECT_EQ(law_find(surface_law::id()), nullptr);
}
