// Free curves and points: each a marked wire body of its own, in the frame of
// the import, with its attributes, layer and point-set names; an item that
// cannot be read fails alone.
#include "importer_support.hxx"

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "persist/brep_attrib_transfer.hxx"
#include "qelx/qelx_options.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "support/query_builders.hxx"
#include "velm/errors.hxx"
#include "velm/groups.hxx"
#include "velm/testkit.hxx"

using namespace importtest;
using qelx_test::TestModel;

namespace {

TestModel curvesAndPoints()
{
    TestModel m;
    m.freeCurve(m.addLine({0, 0, 0}, {1, 2, 2}));
    m.freeCurve(m.addEllipse({1, 1, 1}, {0, 1, 0}, {1, 0, 0}, 3.0, 1.0, -1.0, 2.0));
    m.freePoint({1, 2, 3});
    return m;
}

QELXPoint3D at(const QELposition& p) { return QELXPoint3D(p.x(), p.y(), p.z()); }

} // namespace

class FreeGeometry : public ImportTest {};

TEST_F(FreeGeometry, CurvesAndPointsBecomeMarkedBodiesInTheImportFrame)
{
    for (const Frame& frame : frames()) {
        SCOPED_TRACE(frame.name);
        ImporterRun run(curvesAndPoints(), frame.morph);
        EXPECT_EQ(run.import(), QELI_OK);
        const std::vector<BODY*> bodies = run.result();
        ASSERT_EQ(bodies.size(), 3u);
        const TestModel& m = run.sourceDocument().model();
        for (int i = 0; i < 2; ++i) {
            SCOPED_TRACE("curve " + std::to_string(i));
            EXPECT_TRUE(QELXVelmBRepAttribTransfer::IsFreeCurve(bodies[i]));
            EXPECT_EQ(findingsOf(bodies[i]), std::vector<std::string>());
            ENTITY_LIST edges;
            api_get_edges(bodies[i], edges);
            ASSERT_EQ(edges.count(), 1);
            // The edge runs where the source curve does, end to end.
            const auto* edge = static_cast<EDGE*>(edges[0]);
            const qelx_test::TestCurve& c = m.curves[m.freeCurves[i]];
            EXPECT_LT((at(edge->start_pos()) - frame.morph.Apply(m.curvePoint(m.freeCurves[i], c.domain[0]))).Length(),
                      1e-9);
            EXPECT_LT((at(edge->end_pos()) - frame.morph.Apply(m.curvePoint(m.freeCurves[i], c.domain[1]))).Length(),
                      1e-9);
        }
        EXPECT_TRUE(QELXVelmBRepAttribTransfer::IsFreePoint(bodies[2]));
        EXPECT_TRUE(ve_view<Ve_BodyTag>(bodies[2])->isVertexBody());
        EXPECT_EQ(findingsOf(bodies[2]), std::vector<std::string>());
        ENTITY_LIST vertices;
        api_get_vertices(bodies[2], vertices);
        ASSERT_EQ(vertices.count(), 1);
        EXPECT_LT((at(static_cast<VERTEX*>(vertices[0])->geometry()->coords()) -
                   frame.morph.Apply(QELXPoint3D(1, 2, 3)))
                      .Length(),
                  1e-12);
    }
}

TEST_F(FreeGeometry, AttributesLayersAndPointSets)
{
    // A curve takes its layer only with attributes on; a point takes it
    // either way, and its point-set names from an exporter that knows them.
    for (bool attributes : {true, false}) {
        SCOPED_TRACE(attributes ? "attributes on" : "attributes off");
        qelx_test::OptionScope options;
        options.on("/XVelm/TransferLayer");
        if (attributes)
            options.on("/XVelm/TransferAttribute");
        TestModel m = curvesAndPoints();
        m.attributes[qelx_test::wordOf(qelx_test::KindCurve, m.freeCurves[0])].layer = 6;
        m.attributes[qelx_test::wordOf(qelx_test::KindCurve, m.freeCurves[0])].name = "line";
        auto& point = m.attributes[qelx_test::wordOf(qelx_test::KindPoint, m.freePoints[0])];
        point.layer = 8;
        point.pset = "PS";
        point.mdi = "MD";
        ImporterRun run(m);
        EXPECT_EQ(run.import(), QELI_OK);
        const std::vector<BODY*> bodies = run.result();
        ASSERT_EQ(bodies.size(), 3u);
        EXPECT_EQ(layersOf(run.importer().GetLayerImporter(), bodies[0]), attributes ? std::vector<int>{6} : std::vector<int>());
        QELXString name;
        EXPECT_EQ(Ve_AttribTransfer::GetStringAttrib(bodies[0], Ve_AttribTransfer::LabelName, name), attributes);
        EXPECT_EQ(layersOf(run.importer().GetLayerImporter(), bodies[2]), std::vector<int>{8});
        QELXString pset, mdi;
        EXPECT_TRUE(Ve_AttribTransfer::GetStringAttrib(bodies[2], "PSET", pset));
        EXPECT_TRUE(Ve_AttribTransfer::GetStringAttrib(bodies[2], "MDI", mdi));
        EXPECT_STREQ(pset.c_str(), "PS");
    }
}

TEST_F(FreeGeometry, AnItemThatCannotBeReadFailsAlone)
{
    // Each item is warned of with its reason; a stage whose item failed
    // says so, one whose item was only left out does not.
    struct Case {
        const char* what;
        void (*spoil)(TestModel&);
        const char* why;
        bool pointsFail, curvesFail;
        const char* failingCall = nullptr; // a kernel call made to fail once
    };
    const Case cases[] = {
        {"a point that is not a number", [](TestModel& m) { m.points[m.freePoints[0]][1] = std::nan(""); },
         "not numbers", true, false},
        {"a point whose z is infinite", [](TestModel& m) { m.points[m.freePoints[0]][2] = HUGE_VAL; }, "not numbers",
         true, false},
        {"a point whose z is not a number", [](TestModel& m) { m.points[m.freePoints[0]][2] = std::nan(""); },
         "not numbers", true, false},
        {"a curve of no known kind", [](TestModel& m) { m.curves[m.freeCurves[1]].type = qelx_test::CurvUnknown; },
         "no curve could be made", false, false},
        {"a line that runs nowhere", [](TestModel& m) { m.curves[m.freeCurves[0]].d1 = {0, 0, 0}; },
         "no curve could be made", false, false},
        {"a curve the kernel fails on", [](TestModel&) {}, "the kernel failed", false, true,
         "api_make_edge_from_curve"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestModel m = curvesAndPoints();
        c.spoil(m);
        const auto injectFailure = [&] {
            if (c.failingCall)
                velm_test_fail_next(c.failingCall, qelvelm_api_errmod.message_code(VELM_API_FAILED));
        };
        qelx_test::EventRecorder events;
        ImporterRun run(m);
        injectFailure();
        EXPECT_EQ(run.import(), QELI_OK) << "the other items were made";
        EXPECT_EQ(run.result().size(), 2u);
        const std::vector<std::string> warnings = events.names("Warning");
        ASSERT_EQ(warnings.size(), 1u);
        EXPECT_NE(warnings[0].find("not imported"), std::string::npos);
        EXPECT_NE(warnings[0].find(c.why), std::string::npos) << warnings[0];
        ImporterRun stage(m);
        Gk_ImportContext context(&stage.target(), &stage.sourceDocument());
        EXPECT_EQ(stage.importer().ImportFreePoints(&stage.source(), &context), c.pointsFail ? QELI_FAIL : QELI_OK);
        injectFailure();
        EXPECT_EQ(stage.importer().ImportFreeCurves(&stage.source(), &context), c.curvesFail ? QELI_FAIL : QELI_OK);
        stage.result();
    }
    // Without a frame to carry it into the other coordinates, a z that is no
    // number is caught as it is read.
    {
        TestModel spoilt = curvesAndPoints();
        spoilt.points[spoilt.freePoints[0]][2] = std::nan("");
        ImporterRun stage(spoilt);
        QELXGeometryExporter* geometry = nullptr;
        stage.source().GetGeometryExporter(geometry);
        qelx_test::EventRecorder events;
        EXPECT_EQ(stage.importer().ImportFreePoint(geometry, stage.id(qelx_test::KindPoint, spoilt.freePoints[0]),
                                                   nullptr),
                  QELI_FAIL);
        const std::vector<std::string> warnings = events.names("Warning");
        ASSERT_EQ(warnings.size(), 1u);
        EXPECT_NE(warnings[0].find("not numbers"), std::string::npos) << warnings[0];
        stage.result();
    }
    // Without a geometry exporter nothing can be read: each item fails.
    ImporterRun run(curvesAndPoints());
    for (auto item : {&QELXVelmBRepImporter::ImportFreeCurve, &QELXVelmBRepImporter::ImportFreePoint})
        EXPECT_EQ((run.importer().*item)(nullptr, run.id(qelx_test::KindCurve, 0), nullptr), QELI_FAIL);
}

// A free surface no face can be made of is warned about and hands on no body.
TEST_F(FreeGeometry, ASurfaceNoFaceCanBeMadeOfHandsOnNothing)
{
    TestModel m = TestModel::freeGeometry();
    m.freeCurves.clear();
    m.freePoints.clear();
    m.surfaces[m.freeSurfaces[0]].type = qelx_test::SurfUnknown;
    qelx_test::EventRecorder events;
    ImporterRun run(m);
    EXPECT_EQ(run.import(), QELI_OK);
    const std::vector<BODY*> bodies = run.result();
    const std::vector<std::string> warnings = events.names("Warning");
    EXPECT_EQ(bodies.size() + warnings.size(), m.freeSurfaces.size()) << ::testing::PrintToString(warnings);
    for (BODY* b : bodies)
        EXPECT_NE(b, nullptr);
    ASSERT_FALSE(warnings.empty());
    EXPECT_NE(warnings[0].find("no face could be made of it"), std::string::npos) << warnings[0];
}

TEST_F(FreeGeometry, SurfacesBecomeOneFaceSheetsAndPlanesAreMarkedUnbounded)
{
    // Every free surface of the source's kinds, in every frame: a sheet of
    // one bounded face on the source's surface, marked free; only a plane's
    // face carries the unbounded-plane mark and takes attributes itself.
    qelx_test::OptionScope options;
    options.on("/XVelm/TransferAttribute");
    for (const Frame& frame : frames()) {
        SCOPED_TRACE(frame.name);
        TestModel m = TestModel::freeGeometry();
        m.freeCurves.clear();
        m.freePoints.clear();
        const int plane = m.freeSurfaces[0], cylinder = m.freeSurfaces[1];
        m.attributes[qelx_test::wordOf(qelx_test::KindSurface, plane)].name = "ground";
        m.attributes[qelx_test::wordOf(qelx_test::KindSurface, cylinder)].name = "pipe";
        qelx_test::EventRecorder events;
        ImporterRun run(m, frame.morph);
        EXPECT_EQ(run.import(), QELI_OK);
        const std::vector<BODY*> bodies = run.result();
        // Which surfaces give a sheet, in the source's order, on what kind
        // of kernel surface; the extruded arc and the offset cylinder are
        // refused by the kernel, each warned of by name.
        const std::vector<std::string> warnings = events.names("Warning");
        ASSERT_EQ(warnings.size(), 2u) << ::testing::PrintToString(warnings);
        for (int k = 0; k < 2; ++k) {
            char name[32];
            std::snprintf(name, sizeof name, "%llx", static_cast<unsigned long long>(qelx_test::wordOf(
                                                          qelx_test::KindSurface, m.freeSurfaces[8 + k])));
            EXPECT_NE(warnings[k].find(std::string("free surface ") + name + ": not imported"), std::string::npos)
                << warnings[k];
        }
        ASSERT_EQ(bodies.size(), m.freeSurfaces.size() - 2);
        // plane, cylinder, cone, sphere, torus, lemon, spline, revolved
        // line, and the surface of no known kind read as the spline it holds.
        const std::vector<int> kinds{PLANE_TYPE,  CONE_TYPE,   CONE_TYPE,   SPHERE_TYPE, TORUS_TYPE,
                                     TORUS_TYPE,  SPLINE_TYPE, SPLINE_TYPE, SPLINE_TYPE};
        for (std::size_t i = 0; i < kinds.size(); ++i) {
            const std::vector<FACE*> faces = testkit::faces_of(bodies[i]);
            ASSERT_EQ(faces.size(), 1u);
            EXPECT_EQ(faces[0]->geometry()->identity(), kinds[i]) << "sheet " << i;
            // Of the closed surfaces, the cone's face is bounded at its apex
            // and the lemon's at both of its apexes, the others by nothing.
            int loops = 0;
            for (const LOOP* l = faces[0]->loop(); l; l = l->next())
                ++loops;
            if (i >= 1 && i <= 5) {
                EXPECT_EQ(loops, i == 2 ? 1 : i == 5 ? 2 : 0) << "sheet " << i;
            }
        }
        for (std::size_t i = 0; i < bodies.size(); ++i) {
            SCOPED_TRACE("sheet " + std::to_string(i));
            EXPECT_TRUE(QELXVelmBRepAttribTransfer::IsFreeSurface(bodies[i]));
            EXPECT_EQ(countsOf(bodies[i]).faces, 1);
        }
        const std::vector<FACE*> ground = testkit::faces_of(bodies[0]), pipe = testkit::faces_of(bodies[1]);
        EXPECT_TRUE(QELXVelmBRepAttribTransfer::GetPlaneUnboundedness(ground[0]));
        EXPECT_FALSE(QELXVelmBRepAttribTransfer::GetPlaneUnboundedness(pipe[0]));
        QELXString name;
        EXPECT_TRUE(Ve_AttribTransfer::GetStringAttrib(ground[0], Ve_AttribTransfer::LabelName, name));
        EXPECT_FALSE(Ve_AttribTransfer::GetStringAttrib(pipe[0], Ve_AttribTransfer::LabelName, name));
        EXPECT_TRUE(Ve_AttribTransfer::GetStringAttrib(bodies[1], Ve_AttribTransfer::LabelName, name));
        // The plane's face lies on the source's plane.
        const QELposition c = testkit::faces_of(bodies[0])[0]->geometry()->equation().eval_position(QELpar_pos(0, 0));
        const QELXPoint3D n = frame.morph.Apply(QELXPoint3D(0, 0, 1), true);
        const QELXPoint3D o = frame.morph.Apply(QELXPoint3D(0, 0, 1));
        EXPECT_NEAR((QELXPoint3D(c.x(), c.y(), c.z()) - o) * n, 0.0, 1e-9);
    }
}

TEST_F(FreeGeometry, AFreeSurfacesFaceAndSheetTakeItsMarksSourceIdsAndLayer)
{
    // With attributes off: the sheet of a free surface joins the surface's
    // layer; its face takes the surface's source id only under the faces'
    // bit of the switch; only a plane's face is marked an unbounded surface.
    for (const int bits : {2, 4, 6}) {
        SCOPED_TRACE("source id switch " + std::to_string(bits));
        qelx_test::OptionScope options;
        options.on("/XVelm/TransferLayer");
        options.set(Ve_OptionDoc::keyOf("TransferAttributePID"), QELXValue(bits));
        TestModel m = TestModel::freeGeometry();
        m.freeCurves.clear();
        m.freePoints.clear();
        for (const int k : {0, 1}) {
            qelx_test::TestAttributes& a = m.attributes[qelx_test::wordOf(qelx_test::KindSurface, m.freeSurfaces[k])];
            a.layer = 5 + k;
            a.pid = "id";
        }
        ImporterRun run(m);
        EXPECT_EQ(run.import(), QELI_OK);
        const std::vector<BODY*> bodies = run.result();
        ASSERT_GE(bodies.size(), 2u);
        for (const int k : {0, 1}) {
            SCOPED_TRACE(k == 0 ? "plane" : "cylinder");
            EXPECT_EQ(layersOf(run.importer().GetLayerImporter(), bodies[static_cast<std::size_t>(k)]),
                      std::vector<int>{5 + k});
            const std::vector<FACE*> faces = testkit::faces_of(bodies[static_cast<std::size_t>(k)]);
            ASSERT_EQ(faces.size(), 1u);
            QELXString id;
            EXPECT_EQ(Ve_AttribTransfer::GetStringAttrib(faces[0], "ATTRIB_XVELM_PID", id), (bits & 4) != 0);
            int unbounded = 0;
            EXPECT_EQ(Ve_AttribTransfer::GetIntegerAttrib(faces[0], Ve_AttribTransfer::UnboundedSurfaceName, unbounded),
                      k == 0);
        }
    }
}
