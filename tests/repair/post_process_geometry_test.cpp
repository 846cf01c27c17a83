// The toolbox's geometry repairs: B-spline forms, curve self-intersections and
// irregularities, and spline surfaces extended over their pcurves.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "model/kernel_call_bracket.hxx"
#include "repair/post_process_support.hxx"
#include "repair/post_process_util.hxx"
#include "support/geometry_builders.hxx"
#include "support/model_builders.hxx"
#include "support/repair_sweep.hxx"
#include "velm/bspline.hxx"
#include "velm/surface_build.hxx"

namespace {

using namespace post_process_test;

// ---- fault editors ----

// The spline sheet whose surface says it closes in u though its seam is open.
BODY* sheetFlaggedClosedInU()
{
    BODY* b = testkit::make_spline_sheet();
    auto& sp = static_cast<spline&>(faces(b)[0]->geometry()->equation_for_update());
    bs3_surface s = bs3_surface_copy(sp.sur());
    bs3_surface_set_closed_u(s);
    sp.set_sur(s);
    return b;
}

// The spline sheet with an edge curve flagged closed though its ends are apart.
BODY* sheetWithCurveFlaggedClosed()
{
    BODY* b = testkit::make_spline_sheet();
    auto& ic = static_cast<intcurve&>(edges(b)[1]->geometry()->equation_for_update());
    bs3_curve c = bs3_curve_copy(ic.cur());
    bs3_curve_set_closed(c);
    ic.set_cur(c);
    return b;
}

// A sheet on the periodic hexagonal tube: closed round v, loops of one closed edge each.
BODY* periodicTube()
{
    bs3_surface s = testkit::make_tube_bs3_surface(true);
    const spline sp(s);
    bs3_surface_delete(s);
    FACE* face = make_face_spline(sp);
    BODY* b = nullptr;
    EXPECT_TRUE(api_mk_by_faces(nullptr, 1, &face, b).ok());
    return b;
}

TEST_F(PostProcess, SurfaceFlaggedClosedOverAnOpenSeamBecomesOpen)
{
    const std::string clean = testkit::body_text(keep(testkit::make_spline_sheet()));
    BODY* b = keep(sheetFlaggedClosedInU());
    EXPECT_NE(findings(b), "");
    Ve_PostProcessUtil(view(b)).fixSurfaceForms();
    EXPECT_EQ(findings(b), "");
    EXPECT_EQ(testkit::body_text(b), clean);
}

TEST_F(PostProcess, CurveFlaggedClosedWithItsEndsApartBecomesOpen)
{
    const std::string clean = testkit::body_text(keep(testkit::make_spline_sheet()));
    BODY* b = keep(sheetWithCurveFlaggedClosed());
    EXPECT_NE(findings(b), "");
    Ve_PostProcessUtil(view(b)).fixCurveForms();
    EXPECT_EQ(findings(b), "");
    EXPECT_EQ(testkit::body_text(b), clean);
}

// Its control net wraps round, so its first and last rows differ: still periodic.
TEST_F(PostProcess, PeriodicSurfaceKeepsItsForms)
{
    BODY* b = keep(periodicTube());
    ASSERT_EQ(findings(b), "");
    const std::string before = testkit::body_text(b);
    Ve_PostProcessUtil tool(view(b));
    tool.fixSurfaceForms();
    tool.fixCurveForms();
    tool.MakeCurvesClosed();
    EXPECT_EQ(testkit::body_text(b), before);
    EXPECT_TRUE(bs3_surface_periodic_v(static_cast<const spline&>(faces(b)[0]->geometry()->equation()).sur()));
}

TEST_F(PostProcess, FormFixesFailingAtAnyKernelCallLeaveTheModelRepairedOrAsItWas)
{
    for (auto [name, build, step] :
         {std::tuple{"fixSurfaceForms", &sheetFlaggedClosedInU, +[](Ve_PostProcessUtil& t) { t.fixSurfaceForms(); }},
          std::tuple{"fixCurveForms", &sheetWithCurveFlaggedClosed, +[](Ve_PostProcessUtil& t) { t.fixCurveForms(); }}}) {
        SCOPED_TRACE(name);
        testkit::sweep_kernel_calls(build, [&](BODY* b) {
            velmInnerCall([&] {
                Ve_PostProcessUtil tool(view(b));
                step(tool);
            });
        });
    }
}

} // namespace
