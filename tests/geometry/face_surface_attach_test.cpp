// A kernel face gets its surface (and pcurves) from a source face, keeping
// its outward side.
#include "model/entity_views.hxx"
#include "qelx/test_exporters.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "surface_import_fixtures.hxx"
#include "velm/topology.hxx"
#include "velm/spline_conversion.hxx"
#include "velm/surface_build.hxx"
#include "velm/topology_api.hxx"

using namespace geomtest;
using qelx_test::TestModel;

namespace {

struct FaceCase {
    const char* what;
    TestModel model;
};

// The kernel face's outward normal at the source face's parameters.
QELXPoint3D kernelNormal(FACE* face, const Gk_BiLinMap& map, double u, double v)
{
    const QELXPoint2D k = map.apply(QELXPoint2D(u, v));
    const QELunit_vector n = face->geometry()->equation().eval_normal(QELpar_pos(k.u(), k.v()));
    const double side = face->sense() == FORWARD ? 1.0 : -1.0;
    return QELXPoint3D(n.x(), n.y(), n.z()) * side;
}

} // namespace

class FaceSurface : public GeometryTest {};

TEST_F(FaceSurface, FacesKeepTheirOutwardSideOnEveryAnalyticKind)
{
    std::vector<FaceCase> cases = {{"block", TestModel::block(2, 3, 4)},
                                   {"cylinder", TestModel::cylinder(1.5, 2)},
                                   {"sphere", TestModel::sphereFace(2.0)},
                                   {"torus", TestModel::torusFace(3.0, 1.0)},
                                   {"lemon", TestModel::lemonTorus(0.5, 1.0)}};
    int checked = 0;
    for (FaceCase& c : cases)
        for (bool reversedMap : {false, true}) {
            TestModel model = c.model;
            if (reversedMap)
                for (int s = 0; s < static_cast<int>(model.surfaces.size()); ++s)
                    model.reparametriseSurface(s, -1.0, 0.0, 1.0, 0.0);
            qelx_test::TestDocument document(model);
            qelx_test::TestBRepExporter source(&document);
            for (int f = 0; f < static_cast<int>(model.faces.size()); ++f) {
                SCOPED_TRACE(std::string(c.what) + " face " + std::to_string(f) + (reversedMap ? ", reversed" : ""));
                FACE* face = VELM_NEW FACE(nullptr, nullptr, nullptr, FORWARD);
                Gk_SurfApproxInfoHandle approx;
                Gk_BiLinMap map;
                ASSERT_TRUE(ve_view<Ve_FaceTag>(face)->addSurface(source.id(qelx_test::KindFace, f), &source,
                                                                   QELXMorph3D(), &approx, &map));
                const qelx_test::TestFace& tf = document.model().faces[f];
                const double u = tf.uDomain[0] + 0.3 * (tf.uDomain[1] - tf.uDomain[0]);
                const double v = tf.vDomain[0] + 0.6 * (tf.vDomain[1] - tf.vDomain[0]);
                const QELXPoint3D want = document.model().surfaceNormal(tf.surface, u, v) * (tf.sense ? 1.0 : -1.0);
                EXPECT_GT(want * kernelNormal(face, map, u, v), 0.99);
                api_del_entity(face);
                ++checked;
            }
        }
    EXPECT_GE(checked, 2 * 10);
}

namespace {

// Coedges of the face that carry a pcurve.
int coedgesWithPCurves(FACE* face)
{
    int n = 0;
    for (LOOP* loop = face->loop(); loop; loop = loop->next()) {
        COEDGE* ce = loop->start();
        do {
            n += ce->geometry() ? 1 : 0;
            ce = ce->next();
        } while (ce && ce != loop->start());
    }
    return n;
}

} // namespace

// A planar face of four coedges, paired by position with the source's square.
TEST_F(FaceSurface, PCurvesComeForAnalyticFacesOnlyWhenAskedAndOneBadPCurveSkipsOneCoedge)
{
    TestModel model = TestModel::planeFace();
    qelx_test::TestDocument document(model);
    qelx_test::TestBRepExporter source(&document);
    const QELXIdentifier faceId = source.id(qelx_test::KindFace, 0);
    const auto attach = [&] {
        FACE* face = nullptr;
        api_face_plane(QELposition(0.5, 0.5, 0), 1.0, 1.0, nullptr, face);
        sg_rm_pcurves_from_entity(face);
        EXPECT_TRUE(ve_view<Ve_FaceTag>(face)->attachSurface(faceId, &source, QELXMorph3D()));
        const int n = coedgesWithPCurves(face);
        api_del_entity(face);
        return n;
    };
    EXPECT_EQ(attach(), 0);
    qelx_test::OptionScope options;
    options.on(Ve_OptionDoc::keyOf("AcceptPCurvesForAnalytics"));
    EXPECT_EQ(attach(), 4);
    const int firstPCurve = document.model().coedges[document.model().loops[0].coedges[0]].pcurve;
    document.model().forceAnswer("GetPCurveType", QELI_FAIL, true, source.geometry().pcurveId(firstPCurve).GetValue());
    EXPECT_EQ(attach(), 3);
}
