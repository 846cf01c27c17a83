// A kernel model with every surface and curve kind, pcurves, colours, layers,
// names, groups and a selection set, read by the framework walk through the
// connector's exporter: what the framework was told evaluates to the kernel's
// own geometry, with the kernel's counts, senses and relations.
#include "export_test_support.hxx"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "persist/brep_attrib_transfer.hxx"
#include "qelx/framework_walk.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "support/geometry_builders.hxx"
#include "support/query_builders.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/build.hxx"
#include "velm/groups.hxx"
#include "velm/query.hxx"
#include "velm/surface_build.hxx"

namespace {

constexpr double kWalkPi = std::numbers::pi;

double distance(const QELXPoint3D& a, const QELposition& b)
{
    return std::hypot(a[0] - b.x(), a[1] - b.y(), a[2] - b.z());
}

// Relative to the point's size, at least to 1.
void expectSame(const QELXPoint3D& a, const QELposition& b, double relative, const char* what)
{
    const double size = std::max(1.0, std::hypot(b.x(), b.y(), b.z()));
    EXPECT_LE(distance(a, b), relative * size) << what;
}

// The model: free faces and bodies of every kind the kernel makes.
struct EveryKind {
    EveryKind()
    {
        box = testkit::make_plane_box(10, 20, 30);
        cylinder = testkit::make_cylinder(5, 8);
        hemisphere = testkit::make_hemisphere(4);
        patch = testkit::make_spline_sheet();
        torus = testkit::make_torus_band(true);
        const double c = std::cos(kWalkPi / 6), s = std::sin(kWalkPi / 6);
        coneFace = make_face_cone(cone(QELposition(20, 0, 0), QELunit_vector(0, 0, 1), QELvector(3, 0, 0), 1.0, -s, c, 0.0),
                                  -kWalkPi / 2, kWalkPi / 2, 2.0);
        const ellipse profile(QELposition(34, 0, 0), QELunit_vector(0, 1, 0), QELvector(1, 0, 0), 1.0, 0.0);
        const QELinterval arc(0.0, kWalkPi / 2), turn(0.0, kWalkPi);
        revolvedFace = make_face_spline(
            spline(VELM_NEW rot_spl_sur(profile, QELposition(30, 0, 0), QELvector(0, 0, 1), &arc, &turn)));
        bs3_surface wavy = testkit::make_test_bs3_surface();
        const spline base(wavy);
        bs3_surface_delete(wavy);
        const QELpar_box box01(QELinterval(0, 1), QELinterval(0, 1));
        offsetFace = make_face_spline(spline(VELM_NEW off_spl_sur(base, 0.5, &box01)), &box01);
        for (ENTITY* f : {static_cast<ENTITY*>(coneFace), static_cast<ENTITY*>(revolvedFace),
                          static_cast<ENTITY*>(offsetFace)})
            api_apply_transf(f, translate_transf(QELvector(0, 40, 0)));

        FACE* top = box->lump()->shell()->face();
        new ATTRIB_RGB(top, 1.0, 0.0, 0.0);
        api_add_generic_named_attribute(box, "ATTRIB_XVELM_NAME", "box");
        layer = new QELGROUP;
        Ve_AttribTransfer::setGroupType(layer, Ve_GroupLayer);
        Ve_AttribTransfer::setID(layer, 7);
        api_ct_add_to_group(top, layer);
        selection = new QELGROUP;
        Ve_AttribTransfer::setGroupType(selection, Ve_GroupSelectionSet);
        api_ct_add_to_group(cylinder, selection);
        group = new QELCOLLECTION;
        group->add_ent(hemisphere);
    }
    std::vector<ENTITY*> entities() const
    {
        return {box, cylinder, hemisphere, patch, torus, coneFace, revolvedFace, offsetFace, layer, selection, group};
    }

    BODY *box, *cylinder, *hemisphere, *patch, *torus;
    FACE *coneFace, *revolvedFace, *offsetFace;
    QELGROUP *layer, *selection;
    QELCOLLECTION* group;
};

bool exactSurfaceKind(const SURFACE* s)
{
    const int type = s->type();
    if (type != 10)
        return true;
    const int kind = static_cast<const spline&>(s->equation()).get_spl_sur().id();
    return kind == exact_spl_sur::id;
}

} // namespace

TEST_F(ExportTest, TheFrameworkIsToldWhatTheKernelHolds)
{
    EveryKind model;
    QELXBRepExporter& x = exporterOf(model.entities());
    ASSERT_EQ(x.PreProcess(), 0u);
    qelx_test::TestModel told;
    qelx_test::WalkSummary summary;
    ASSERT_EQ(qelx_test::walkExporter(&x, told, &summary), 0u);
    ASSERT_EQ(told.bodies.size(), 8u) << "five bodies and three free faces made sheets";

    const std::vector<const FACE*> faces = kernelFaces(x);
    ASSERT_EQ(told.faces.size(), faces.size());
    int pcurvesChecked = 0;
    for (std::size_t f = 0; f < faces.size(); ++f) {
        const FACE* kernel = faces[f];
        const qelx_test::TestFace& face = told.faces[f];
        const surface& srf = kernel->geometry()->equation();
        const double tol = exactSurfaceKind(kernel->geometry()) ? 1e-9 : 1e-6;
        EXPECT_EQ(face.sense, kernel->sense() == FORWARD);
        for (double a : {0.1, 0.5, 0.9})
            for (double b : {0.2, 0.7}) {
                const double u = face.uDomain[0] + a * (face.uDomain[1] - face.uDomain[0]);
                const double v = face.vDomain[0] + b * (face.vDomain[1] - face.vDomain[0]);
                expectSame(told.surfacePoint(face.surface, u, v), srf.eval_position(QELpar_pos(u, v)), tol, "surface");
            }
        ASSERT_EQ(face.loops.size(), static_cast<std::size_t>(ve_view<Ve_FaceTag>(kernel)->getNumberOfLoops()));
        const LOOP* loop = kernel->loop();
        for (int l : face.loops) {
            const qelx_test::TestLoop& told_loop = told.loops[l];
            ASSERT_EQ(told_loop.coedges.size(), static_cast<std::size_t>(ve_view<Ve_LoopTag>(loop)->getNumberOfCoedges()));
            const COEDGE* coedge = loop->start();
            for (int c : told_loop.coedges) {
                const qelx_test::TestCoedge& co = told.coedges[c];
                const qelx_test::TestEdge& edge = told.edges[co.edge];
                const EDGE* kernelEdge = coedge->edge();
                EXPECT_EQ(co.sense, coedge->sense() == FORWARD);
                EXPECT_EQ(edge.sense, kernelEdge->sense() == FORWARD);
                EXPECT_EQ(edge.coedges.size(), static_cast<std::size_t>(ve_view<Ve_EdgeTag>(kernelEdge)->getNumberOfCoedges()));
                expectSame(told.point(told.vertices[edge.start].point), kernelEdge->start()->geometry()->coords(), 1e-12,
                           "vertex");
                if (edge.curve >= 0) {
                    const double sign = kernelEdge->sense() == FORWARD ? 1.0 : -1.0;
                    const curve& crv = kernelEdge->geometry()->equation();
                    for (double a : {0.0, 0.3, 1.0}) {
                        const double t = edge.domain[0] + a * (edge.domain[1] - edge.domain[0]);
                        expectSame(told.curvePoint(edge.curve, t), crv.eval_position(sign * t), tol, "curve");
                    }
                    if (co.pcurve >= 0) {
                        // The pcurve runs on the surface where the edge's curve does.
                        const double t = 0.5 * (co.domain[0] + co.domain[1]);
                        const QELXPoint2D uv = told.pcurvePoint(co.pcurve, t);
                        const double edgeT = co.sense == edge.sense ? t : -t;
                        expectSame(told.surfacePoint(face.surface, uv[0], uv[1]),
                                   crv.eval_position(sign * edgeT), 1e-6, "pcurve");
                        ++pcurvesChecked;
                    }
                }
                coedge = coedge->next();
            }
            loop = loop->next();
        }
    }
    EXPECT_GT(pcurvesChecked, 20);

    // Attributes as the walk collected them, under the model's own words.
    const FACE* top = model.box->lump()->shell()->face();
    const int topIndex = static_cast<int>(std::find(faces.begin(), faces.end(), top) - faces.begin());
    const qelx_test::TestAttributes& topFacts = told.attributes[qelx_test::wordOf(qelx_test::KindFace, topIndex)];
    ASSERT_TRUE(topFacts.color.has_value());
    EXPECT_EQ((*topFacts.color)[0], 1.0);
    ASSERT_TRUE(topFacts.layer.has_value());
    EXPECT_EQ(*topFacts.layer, 7);
    ASSERT_EQ(x.GetBodyPtr(0), model.box);
    const qelx_test::TestAttributes& boxFacts = told.attributes[qelx_test::wordOf(qelx_test::KindBody, 0)];
    ASSERT_TRUE(boxFacts.name.has_value());
    EXPECT_EQ(*boxFacts.name, "box");
    QELXIdentifiers linked;
    EXPECT_EQ(document().GetRepLinker()->GetLinks(idOf(model.cylinder), linked), 0u);
    EXPECT_EQ(linked.Count(), 2) << "a selection set is a collection as well";
}
