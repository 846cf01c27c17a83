// Reader-side round trip: kernel models with every surface kind, under the
// identity, a rotation and a mirror, exported as neutral documents, read back
// and rebuilt from the document alone (surface points and normals, vertices
// from curve ends, pcurves through their surfaces), then compared with the
// kernel.
#include "export_test_support.hxx"

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <string>

#include "geometry/surface_view.hxx"
#include "model/entity_views.hxx"
#include "qelx/framework_walk.hxx"
#include "qelx_formats/neutral_document.hxx"
#include "support/geometry_builders.hxx"
#include "support/query_builders.hxx"
#include "velm/build.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/query.hxx"
#include "velm/surface_build.hxx"

namespace {

constexpr double kPi = std::numbers::pi;

QELXPoint3D fw(const QELposition& p)
{
    return QELXPoint3D(p.x(), p.y(), p.z());
}

QELXPoint3D fw(const QELvector& v)
{
    return QELXPoint3D(v.x(), v.y(), v.z());
}

using Frame = testkit::KernelFrame;

std::vector<Frame> frames() { return testkit::kernel_frames(); }

// Moves a body or a free face into the frame, the transform baked in.
void place(ENTITY* e, const QELtransf& t)
{
    ASSERT_TRUE(api_apply_transf(e, t).ok());
    if (is_BODY(e)) {
        ASSERT_TRUE(api_change_body_trans(static_cast<BODY*>(e)).ok());
    }
}

FACE* offsetFace(const surface& base, double distance, const QELpar_box& box)
{
    return make_face_spline(spline(VELM_NEW off_spl_sur(base, distance, &box)), &box);
}

// The models of one frame: every analytic kind, offsets over right- and
// left-handed bases, reversed edges, a swept face and a cone cap.
std::vector<ENTITY*> models(const QELtransf& t)
{
    BODY* reversedBox = testkit::make_plane_box(4, 5, 6);
    BODY* reversedCylinder = testkit::make_cylinder(2, 3);
    testkit::reverse_edge_curves(reversedBox);
    testkit::reverse_edge_curves(reversedCylinder);
    std::vector<ENTITY*> all = {testkit::make_plane_box(10, 20, 30), testkit::make_cylinder(5, 8), reversedBox,
                                reversedCylinder,
                                testkit::make_hemisphere(3), testkit::make_torus_band(true),
                                testkit::make_torus_band(false), testkit::make_cone_cap(), testkit::make_spline_sheet()};
    const double c = std::cos(kPi / 6), s = std::sin(kPi / 6);
    all.push_back(make_face_cone(cone(QELposition(20, 0, 0), QELunit_vector(0, 0, 1), QELvector(3, 0, 0), 1.0, -s, c, 0.0),
                                 -kPi / 2, kPi / 2, 2.0));
    // An elliptical cone has no exact form in the document: it is replaced.
    all.push_back(make_face_cone(cone(QELposition(0, -20, 0), QELunit_vector(0, 0, 1), QELvector(3, 0, 0), 0.6, -s, c, 0.0),
                                 -kPi / 2, kPi, 2.0));
    const QELpar_box square(QELinterval(-2, 2), QELinterval(-3, 3));
    plane flat(QELposition(0, 0, 0), QELunit_vector(0, 0, 1));
    all.push_back(offsetFace(flat, 2.0, square));
    flat.reverse_v = 1;
    all.push_back(offsetFace(flat, 2.0, square));
    const cone tube(QELposition(0, 0, 0), QELunit_vector(0, 0, 1), QELvector(3, 0, 0), 1.0, 0.0, 1.0, 0.0);
    all.push_back(offsetFace(tube, 2.0, QELpar_box(QELinterval(0, 1), QELinterval(0, 3))));
    // A half circle of radius 3 swept 7 along +z.
    const ellipse half(QELposition(0, 0, 0), QELunit_vector(0, 0, 1), QELvector(3, 0, 0), 1.0, 0.0);
    const straight rail(QELposition(0, 0, 0), QELunit_vector(0, 0, 1), 1.0);
    all.push_back(make_face_spline(spline(VELM_NEW sweep_spl_sur(half, rail, nullptr, nullptr, nullptr,
                                                                 QELinterval(0, kPi), QELinterval(0, 7)))));
    for (ENTITY* e : all)
        place(e, t);
    return all;
}

// The u of each singular point (a cone's apex, a sphere's pole) that the
// face holds inside every loop.
std::vector<double> singularPointsInside(const FACE* face)
{
    const surface& srf = face->geometry()->equation();
    std::vector<double> at;
    if (srf.type() == 2 && !static_cast<const cone&>(srf).is_cylinder())
        at.push_back(static_cast<const cone&>(srf).apex_u());
    if (srf.type() == 3)
        at = {-kPi / 2, kPi / 2};
    std::vector<double> inside;
    for (double u : at) {
        const QELposition p = srf.eval_position(QELpar_pos(u, 0.0));
        bool in = face->loop() != nullptr;
        for (const LOOP* l = face->loop(); l && in; l = l->next())
            in = point_in_loop(p, l) == pfc_inside;
        if (in)
            inside.push_back(u);
    }
    return inside;
}

bool hasPCurve(const COEDGE* c)
{
    return c->geometry() && c->geometry()->has_equation();
}

class DocumentRoundTrip : public ExportTest {
protected:
    // The document of the entities, written and read back as text.
    qelx_test::TestModel document(const std::vector<ENTITY*>& entities)
    {
        QELXBRepExporter& x = exporterOf(entities);
        EXPECT_EQ(x.PreProcess(), 0u);
        qelx_test::TestModel walked;
        EXPECT_EQ(qelx_test::walkExporter(&x, walked), 0u);
        m_faces = kernelFaces(x);
        return qelx_formats::readNeutralText(qelx_formats::writeNeutralText(walked), "round-trip.json");
    }
    std::vector<const FACE*> m_faces;
};

} // namespace

TEST_F(DocumentRoundTrip, PointsNormalsVerticesAndPCurvesRebuildTheKernelModel)
{
    for (const Frame& frame : frames()) {
        SCOPED_TRACE(frame.name);
        const qelx_test::TestModel doc = document(models(frame.transform));
        ASSERT_EQ(doc.faces.size(), m_faces.size());
        int exactFaces = 0, pcurves = 0, vertexEnds = 0, againstCurve = 0, singularFaces = 0;
        for (std::size_t f = 0; f < m_faces.size(); ++f) {
            const FACE* kernel = m_faces[f];
            const qelx_test::TestFace& face = doc.faces[f];
            const surface& srf = kernel->geometry()->equation();
            const std::string what = std::string(srf.type_name()) + " face " + std::to_string(f);
            ASSERT_GE(face.surface, 0) << what;
            // A surface replaced by an approximation says how far it lies
            // from the kernel's; every other is exact.
            const bool exact = !ve_view<Ve_SurfaceTag>(kernel->geometry())->isApproximated();
            const double deviation = doc.surfaces[face.surface].deviation;
            EXPECT_EQ(deviation == 0.0, exact) << what;
            const double off = exact ? 1e-9 : 1.5 * deviation;
            exactFaces += exact;
            const double side = kernel->sense() == FORWARD ? 1.0 : -1.0, told = face.sense ? 1.0 : -1.0;
            for (double a : {0.1, 0.5, 0.9})
                for (double b : {0.2, 0.7}) {
                    const double u = face.uDomain[0] + a * (face.uDomain[1] - face.uDomain[0]);
                    const double v = face.vDomain[0] + b * (face.vDomain[1] - face.vDomain[0]);
                    const QELXPoint3D p = fw(srf.eval_position(QELpar_pos(u, v)));
                    EXPECT_LT(doc.surfacePoint(face.surface, u, v).Distance(p), off)
                        << what << " at " << u << ", " << v;
                    // The face's outward side as the document says it.
                    const QELXPoint3D n = fw(static_cast<const QELvector&>(srf.eval_normal(QELpar_pos(u, v))));
                    EXPECT_GT((doc.surfaceNormal(face.surface, u, v) * (n * side)) * told, exact ? 1.0 - 1e-6 : 0.99)
                        << what << " normal at " << u << ", " << v;
                }
            // A singular point that closes the face lies in its box.
            for (const double at : singularPointsInside(kernel)) {
                ++singularFaces;
                EXPECT_TRUE(at >= face.uDomain[0] - 1e-12 && at <= face.uDomain[1] + 1e-12)
                    << what << " reaches u = " << at << " beyond [" << face.uDomain[0] << ", " << face.uDomain[1] << "]";
            }
            const LOOP* loop = kernel->loop();
            for (int l : face.loops) {
                ASSERT_NE(loop, nullptr) << what;
                const COEDGE* coedge = loop->start();
                for (int c : doc.loops[l].coedges) {
                    const qelx_test::TestCoedge& co = doc.coedges[c];
                    const qelx_test::TestEdge& edge = doc.edges[co.edge];
                    EXPECT_EQ(co.pcurve >= 0, hasPCurve(coedge)) << what << " coedge " << c;
                    if (edge.curve >= 0) {
                        // Vertices from the curve's ends, by the edge's parameter and sense alone.
                        EXPECT_LT(doc.edgePoint(co.edge, edge.domain[0]).Distance(doc.point(doc.vertices[edge.start].point)), 1e-9)
                            << what << " edge " << co.edge;
                        EXPECT_LT(doc.edgePoint(co.edge, edge.domain[1]).Distance(doc.point(doc.vertices[edge.end].point)), 1e-9)
                            << what << " edge " << co.edge;
                        EXPECT_LT(doc.point(doc.vertices[edge.start].point).Distance(fw(coedge->edge()->start_pos())), 1e-9);
                        ++vertexEnds;
                        againstCurve += !edge.sense;
                        if (co.pcurve >= 0) {
                            for (double a : {0.0, 0.3, 1.0}) {
                                const double t = co.domain[0] + a * (co.domain[1] - co.domain[0]);
                                const QELXPoint2D uv = doc.pcurvePoint(co.pcurve, co.pcurveSense ? t : -t);
                                EXPECT_LT(doc.surfacePoint(face.surface, uv[0], uv[1])
                                              .Distance(doc.edgePoint(co.edge, co.sense ? t : -t)),
                                          1e-5 + off)
                                    << what << " pcurve of coedge " << c;
                            }
                            ++pcurves;
                        }
                    }
                    coedge = coedge->next();
                }
                loop = loop->next();
            }
        }
        EXPECT_GT(exactFaces, 15);
        EXPECT_GT(pcurves, 40);
        EXPECT_GT(vertexEnds, 40);
        EXPECT_GT(againstCurve, 20);
        EXPECT_GE(singularFaces, 2) << "a cone cap and a hemisphere";
        double worstDeviation = 0.0;
        for (const qelx_test::TestSurface& surface : doc.surfaces)
            worstDeviation = std::max(worstDeviation, surface.deviation);
        EXPECT_LT(worstDeviation, 1e-4) << "a surface handed out in place of another keeps close to it";
        EXPECT_LT(doc.maxGap(), 1e-5 + 1.5 * worstDeviation);
        // Shells: the solids closed, the sheets open.
        for (const qelx_test::TestBody& body : doc.bodies) {
            for (int lump : body.lumps)
                for (int volume : doc.lumps[lump].volumes)
                    for (int shell : doc.volumes[volume].shells)
                        EXPECT_TRUE(doc.shells[shell].closed);
            for (int shell : body.shells2D)
                EXPECT_FALSE(doc.shells[shell].closed);
        }
        m_exporter = QELXBRepExporterHandle();
        m_document = QELXDocumentHandle();
        Ve_DocumentTag::ClearCaches();
    }
}
