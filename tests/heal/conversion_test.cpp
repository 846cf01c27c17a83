// B-spline conversion of bodies and the periodic face split.
#include <gtest/gtest.h>

#include <string>

#include "heal/periodic_split.hxx"
#include "model/entity_views.hxx"
#include "qelx/qelx_test.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "support/kernel_test.hxx"
#include "support/geometry_builders.hxx"
#include "support/heal_builders.hxx"
#include "support/model_builders.hxx"
#include "support/repair_builders.hxx"
#include "support/repair_sweep.hxx"
#include "velm/bspline.hxx"
#include "velm/errors.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/spline_conversion.hxx"
#include "velm/surface_build.hxx"
#include "velm/testkit.hxx"
#include "velm/topology_api.hxx"

namespace {

class Conversion : public testkit::KernelTest {};

Ve_BodyTag* convTag(BODY* b) { return reinterpret_cast<Ve_BodyTag*>(b); }

// Faces whose surface is a spline with some weight off 1.
int rationalFaces(BODY* b)
{
    ENTITY_LIST faces;
    api_get_faces(b, faces);
    int n = 0;
    for (int i = 0; i < faces.count(); ++i) {
        const SURFACE* s = static_cast<FACE*>(faces[i])->geometry();
        const auto* spl = s ? dynamic_cast<const spline*>(&s->equation()) : nullptr;
        if (!spl)
            continue;
        bs3_surface bs = spl->sur(-1.0);
        n += bs3_surface_rational_u(bs) || bs3_surface_rational_v(bs) ? 1 : 0;
    }
    return n;
}

// A body of one face on a whole sphere, without loops.
BODY* loopless_sphere()
{
    sphere ball(QELposition(1.0, 2.0, 3.0), 4.0);
    auto* face = new FACE(nullptr, nullptr, make_surface(ball), FORWARD);
    return new BODY(new LUMP(new SHELL(face)));
}

// A sheet of one face round the whole of a periodic tube: two separation loops.
BODY* wholeTube()
{
    bs3_surface bs = testkit::make_tube_bs3_surface(true);
    const spline tube(bs);
    bs3_surface_delete(bs);
    FACE* faces[1] = {make_face_spline(tube)};
    BODY* b = nullptr;
    api_mk_by_faces(nullptr, 1, faces, b);
    return b;
}

} // namespace

TEST_F(Conversion, ALooplessFaceOnAClosedSurfaceIsKeptWhenItsSurfaceIsRefitted)
{
    BODY* b = loopless_sphere();
    ENTITY* out = nullptr;
    ASSERT_TRUE(api_convert_to_spline(b, out).ok());
    ASSERT_EQ(rationalFaces(b), 1);
    convTag(b)->replaceRationalSurf();
    EXPECT_EQ(testkit::count_faces(b), 1);
    EXPECT_EQ(rationalFaces(b), 0);
    EXPECT_EQ(testkit::model_problems(b), "");
    api_del_entity(b);
}

TEST_F(Conversion, RationalSurfacesStayOnlyWhenAskedAndNotForced)
{
    m_options.on(Ve_OptionDoc::keyOf("SplineAsRational"));
    m_options.on(Ve_OptionDoc::keyOf("UseSurfaceLimits"));
    for (const bool force : {false, true}) {
        BODY* b = testkit::make_cylinder();
        const int faces = testkit::count_faces(b);
        qelx_test::EventRecorder events;
        EXPECT_EQ(convTag(b)->bspline(false, force), convTag(b));
        const std::vector<std::string> expected = {"+PreprocessBsplineConvStart", "-PreprocessBsplineConvEnd"};
        std::vector<std::string> trace = testkit::task_trace(events.records());
        ASSERT_GE(trace.size(), 2u);
        EXPECT_EQ(trace.front(), expected.front());
        EXPECT_EQ(trace.back(), expected.back());
        EXPECT_EQ(testkit::count_faces(b), faces);
        if (force)
            EXPECT_EQ(rationalFaces(b), 0);
        else
            EXPECT_GT(rationalFaces(b), 0);
        EXPECT_EQ(testkit::model_problems(b), "") << force;
        api_del_entity(b);
    }
}

TEST_F(Conversion, AClosedSplineFaceIsSplitSoThatNoFaceWraps)
{
    m_options.on(Ve_OptionDoc::keyOf("SplitPeriodicPreProcess"));
    BODY* b = wholeTube();
    const double area = testkit::body_area(b);
    qelx_test::EventRecorder events;
    convTag(b)->splitPeriodics();
    EXPECT_EQ(testkit::task_trace(events.records()).front(), "+PreprocessSplitPeriodicStart");
    EXPECT_EQ(testkit::task_trace(events.records()).back(), "-PreprocessSplitPeriodicEnd");
    EXPECT_GT(testkit::count_faces(b), 1);
    EXPECT_NEAR(testkit::body_area(b), area, 1e-6 * area);
    EXPECT_EQ(testkit::model_problems(b), "");
    api_del_entity(b);
}

TEST_F(Conversion, EachSplitThatFailsIsDroppedAloneAndTheSheetStaysSound)
{
    // The seam and the split run in brackets of their own: a failure in one
    // undoes that one only.
    long n = 1;
    for (;; ++n) {
        BODY* b = wholeTube();
        const double area = testkit::body_area(b);
        velm_test_fail_call("*", n, qelvelm_api_errmod.message_code(VELM_API_FAILED));
        ENTITY_LIST faces;
        api_get_faces(b, faces);
        if (faces.count() > 0)
            splitFaceAtMidParameter(static_cast<FACE*>(faces[0]), false);
        const bool injected = !velm_test_injection_pending();
        velm_test_reset();
        EXPECT_EQ(testkit::model_problems(b), "") << "failure at call " << n;
        EXPECT_NEAR(testkit::body_area(b), area, 1e-6 * area) << "failure at call " << n;
        api_del_entity(b);
        if (!injected)
            break;
    }
    EXPECT_GT(n, 2);
}

TEST_F(Conversion, ThePreExportSplitOnlyFiresItsEventsWhenSwitchedOff)
{
    BODY* b = testkit::make_spline_sheet(testkit::make_tube_bs3_surface(true), false);
    const std::string before = testkit::body_text(b);
    qelx_test::EventRecorder events;
    convTag(b)->splitPeriodics();
    EXPECT_EQ(testkit::task_trace(events.records()),
              (std::vector<std::string>{"+PreprocessSplitPeriodicStart", "-PreprocessSplitPeriodicEnd"}));
    EXPECT_EQ(testkit::body_text(b), before);
    api_del_entity(b);
}
