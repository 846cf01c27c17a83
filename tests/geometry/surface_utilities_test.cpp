// Surface equality, the spline checks and rebuilds of the repair toolbox,
// and the kernel law over a framework surface.
#include <memory>

#include "geometry/surface_approximator.hxx"
#include "geometry/surface_law.hxx"
#include "geometry/surface_utilities.hxx"
#include "qelx/qelx_events.hxx"
#include "support/geometry_builders.hxx"
#include "surface_import_fixtures.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

using namespace geomtest;

namespace {

struct SurfacePair {
    const char* what;
    std::unique_ptr<surface> a, b;
    bool same;
};

cone coneAt(double z, double radius)
{
    const double s = std::sin(0.3), c = std::cos(0.3);
    return cone(QELposition(0, 0, z), QELunit_vector(0, 0, 1), QELvector(radius, 0, 0), 1.0, s, c, 0.0);
}

} // namespace

class SurfaceUtilities : public GeometryTest {};

TEST_F(SurfaceUtilities, SameSurfaceComparesEachKindWithinTheResolutions)
{
    const double d = 2.0;
    const double grown = 3.0 - d * std::sin(0.3) / std::cos(0.3);
    std::vector<SurfacePair> cases;
    cases.push_back({"planes half a resolution apart",
                     std::make_unique<plane>(QELposition(0, 0, 0), QELunit_vector(0, 0, 1)),
                     std::make_unique<plane>(QELposition(5, 1, 0.5 * QELresabs), QELunit_vector(0, 0, 1)), true});
    cases.push_back({"planes two resolutions apart",
                     std::make_unique<plane>(QELposition(0, 0, 0), QELunit_vector(0, 0, 1)),
                     std::make_unique<plane>(QELposition(0, 0, 2 * QELresabs), QELunit_vector(0, 0, 1)), false});
    cases.push_back({"one cone from two bases", std::make_unique<cone>(coneAt(0.0, 3.0)),
                     std::make_unique<cone>(coneAt(-d, grown)), true});
    cases.push_back({"cones with equal radii at other heights", std::make_unique<cone>(coneAt(0.0, 3.0)),
                     std::make_unique<cone>(coneAt(-d, 3.0)), false});
    cases.push_back({"plane and sphere", std::make_unique<plane>(QELposition(0, 0, 0), QELunit_vector(0, 0, 1)),
                     std::make_unique<sphere>(QELposition(0, 0, 0), 1.0), false});
    cases.push_back({"spheres", std::make_unique<sphere>(QELposition(1, 2, 3), 2.0),
                     std::make_unique<sphere>(QELposition(1, 2, 3), 2.0 + 0.5 * QELresabs), true});
    cases.push_back({"tori with other minor radii",
                     std::make_unique<torus>(QELposition(0, 0, 0), QELunit_vector(0, 0, 1), 5.0, 1.0),
                     std::make_unique<torus>(QELposition(0, 0, 0), QELunit_vector(0, 0, 1), 5.0, 1.1), false});
    for (const SurfacePair& c : cases)
        EXPECT_EQ(isSameSurface(*c.a, *c.b), c.same) << c.what;
}

TEST_F(SurfaceUtilities, IsoCurveRebuildReplacesBothOrNeither)
{
    const long before = velm_live_object_count();
    Ve_SurfApproxUtil util;
    for (bool acrossU : {true, false}) {
        bs3_surface definition = bicubicSurface(wavyNet());
        surface* srf = VELM_MAKE(spline, definition);
        const std::unique_ptr<surface> original(srf->make_copy());
        bs3_surface oldDefinition = definition;
        const bool rebuilt = acrossU ? util.makeUsingUisoparams(srf, definition, 10)
                                     : util.makeUsingVisoparams(srf, definition, 10);
        ASSERT_TRUE(rebuilt);
        EXPECT_NE(definition, oldDefinition);
        // The grid interpolation follows the smooth sheet (6 x 6, waves of 0.3).
        for (double u : {0.1, 0.45, 0.9})
            for (double v : {0.05, 0.5, 0.95})
                EXPECT_LT((srf->eval_position(QELpar_pos(u, v)) - original->eval_position(QELpar_pos(u, v))).len(),
                          0.02);
        delete srf;
        bs3_surface_delete(definition);
    }
    // A surface whose every iso-curve loops is found self-intersecting, by
    // checks inside their task events, and stays as it was.
    qelx_test::EventRecorder events;
    bs3_surface definition = bicubicSurface(loopingNet());
    surface* srf = VELM_MAKE(spline, definition);
    surface* const kept = srf;
    const bs3_surface keptDefinition = definition;
    EXPECT_TRUE(Ve_SurfApproxUtil::srfSelfIntersects(srf));
    EXPECT_FALSE(util.replaceSurface(definition, srf, 10));
    EXPECT_EQ(srf, kept);
    EXPECT_EQ(definition, keptDefinition);
    EXPECT_TRUE(events.tasksNested());
    EXPECT_GE(events.names("StartTask").size(), 3u);
    delete srf;
    bs3_surface_delete(definition);
    EXPECT_EQ(velm_live_object_count(), before);
}

TEST_F(SurfaceUtilities, ReplacementSplineFollowsTheSourceWithItsSense)
{
    torus source(QELposition(0, 0, 0), QELunit_vector(0, 0, 1), 5.0, -1.0);
    source.limit_u(QELinterval(-1.0, 1.0));
    source.limit_v(QELinterval(0.0, 2.0));
    spline target;
    ASSERT_TRUE(replaceSplineSurface(source, target));
    for (double u : {-0.8, 0.1, 0.9})
        for (double v : {0.2, 1.0, 1.8}) {
            const QELpar_pos uv(u, v);
            EXPECT_LT((target.eval_position(uv) - source.eval_position(uv)).len(), QELresfit);
            EXPECT_GT(target.eval_normal(uv) % source.eval_normal(uv), 0.99);
        }
}

// A fit that fails assigns nothing: the target keeps its surface, and the
// source's sense does not turn it either.
TEST_F(SurfaceUtilities, AFailedReplacementLeavesTheTargetAsItWas)
{
    torus source(QELposition(0, 0, 0), QELunit_vector(0, 0, 1), 5.0, 1.0);
    source.limit_u(QELinterval(-1.0, 1.0));
    source.limit_v(QELinterval(0.0, 2.0));
    spline target;
    ASSERT_TRUE(replaceSplineSurface(source, target));
    ASSERT_FALSE(target.left_handed_uv());
    const QELpar_pos uv(0.1, 1.0);
    const QELposition at = target.eval_position(uv);
    const QELunit_vector normal = target.eval_normal(uv);
    // A cylinder without ends: no fit covers it. Its (u, v) frame is
    // left-handed, so a sense carried over regardless would turn the target.
    const cone endless(QELposition(), QELunit_vector(0, 0, 1), QELvector(5, 0, 0), 1.0, 0.0, 1.0, 0.0);
    ASSERT_TRUE(endless.left_handed_uv());
    EXPECT_FALSE(replaceSplineSurface(endless, target));
    EXPECT_LT((target.eval_position(uv) - at).len(), 1e-12);
    EXPECT_GT(target.eval_normal(uv) % normal, 0.99) << "turned by a fit that failed";
}

namespace {

// A framework plane z = u + 2v that counts its evaluations.
class CountingSurface : public Gk_BaseSurface3 {
public:
    explicit CountingSurface(int* count) : m_count(count) {}
    Gk_BaseSurface3Handle clone() const override { return new CountingSurface(m_count); }
    QELXPoint3D eval(const QELXPoint2D& uv, Gk_Flat3* flat) const override
    {
        ++*m_count;
        const QELXPoint3D p(uv.u() * uv.u(), uv.v(), uv.u() + 2 * uv.v());
        if (flat) {
            for (int i = 0; i < flat->size(); ++i)
                for (int j = 0; j < flat->size(); ++j)
                    flat->derivative(i, j) = QELXPoint3D();
            flat->derivative(0, 0) = p;
            if (flat->size() > 1) {
                flat->derivative(1, 0) = QELXPoint3D(2 * uv.u(), 0, 1);
                flat->derivative(0, 1) = QELXPoint3D(0, 1, 2);
            }
            if (flat->size() > 2)
                flat->derivative(2, 0) = QELXPoint3D(2, 0, 0);
        }
        return p;
    }
    QELXPoint2D invert(const QELXPoint3D&, Gk_Flat3*) const override { return {}; }

private:
    int* m_count;
};

} // namespace

TEST_F(SurfaceUtilities, SurfaceLawSharesOneEvaluationWithItsDerivatives)
{
    int evaluations = 0;
    const Gk_Surface3Handle srf = Gk_Surface3::Create(new CountingSurface(&evaluations), true, Gk_BiLinMap());
    Ve_GkSurfaceLaw* top = VELM_NEW Ve_GkSurfaceLaw(srf);
    const double at[2] = {1.5, 0.25};
    double answer[3];
    top->evaluate(at, answer);
    EXPECT_EQ(answer[2], 2.0);
    law* du = top->deriv(0);
    du->evaluate(at, answer);
    EXPECT_EQ(answer[0], 3.0);
    const double near[2] = {1.5 + 0.1 * Gk_Def::FuzzPos, 0.25};
    du->evaluate(near, answer);
    EXPECT_EQ(evaluations, 1);
    // Order (2, 0) grows the shared flat, which costs one more evaluation.
    law* duu = du->deriv(0);
    duu->evaluate(at, answer);
    EXPECT_EQ(answer[0], 2.0);
    EXPECT_EQ(evaluations, 2);
    EXPECT_EQ(top->deriv(2), nullptr);
    // A derivative of a law never evaluated does not trust the empty cache.
    Ve_GkSurfaceLaw* fresh = VELM_NEW Ve_GkSurfaceLaw(srf);
    law* dv = fresh->deriv(1);
    const double origin[2] = {0.0, 0.0};
    dv->evaluate(origin, answer);
    EXPECT_EQ(answer[2], 2.0);
    dv->remove();
    fresh->remove();
    EXPECT_TRUE(duu->isa(Ve_GkSurfaceLaw::id()));
    EXPECT_EQ(Ve_GkSurfaceLaw::id(), duu->type());
    duu->remove();
    du->remove();
    top->remove();
}

namespace {

FACE* firstFace(BODY* body) { return body->lump()->shell()->face(); }

} // namespace

TEST_F(SurfaceUtilities, ApproximatorKeepsAPlainSplineAndConvertsOtherFaces)
{
    BODY* sheet = testkit::make_spline_sheet();
    FACE* face = firstFace(sheet);
    SURFACE* before = face->geometry();
    const Gk_ApproxInfo nonRational(0.01, Gk_ApproxInfo::NonRational);
    Gk_SurfApproxInfoHandle info;
    EXPECT_EQ(Ve_SurfaceApproximator(face, &nonRational).bspline(Gk_Span(), &info), face);
    EXPECT_EQ(face->geometry(), before);
    ASSERT_TRUE(info.IsValid());
    EXPECT_EQ(info->getTolerance(), QELresabs);
    EXPECT_EQ(info->getForm(), Gk_ApproxInfo::Any);

    // Without a request a plane face is converted, and the handle left alone.
    BODY* box = testkit::make_plane_box();
    FACE* planar = firstFace(box);
    const QELposition corner = planar->loop()->start()->start()->geometry()->coords();
    Gk_SurfApproxInfoHandle untouched;
    EXPECT_EQ(Ve_SurfaceApproximator(planar, nullptr).bspline(Gk_Span(), &untouched), planar);
    EXPECT_FALSE(untouched.IsValid());
    ASSERT_EQ(planar->geometry()->equation().type(), 10);
    EXPECT_TRUE(planar->geometry()->equation().test_point_tol(corner, QELresabs));
    // The refitted pcurves keep the coedges on their edges.
    std::string report;
    EXPECT_TRUE(velm_test_check_model(box, &report)) << report;
    api_del_entity(box);
    api_del_entity(sheet);
}
