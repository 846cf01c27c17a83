// Geometry handles and their caches, iso-parameter lines and the pointer road.
#include "export_test_support.hxx"

#include "persist/brep_attrib_transfer.hxx"
#include "support/model_builders.hxx"
#include "support/geometry_builders.hxx"
#include "support/query_builders.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/query.hxx"
#include "velm/spline_conversion.hxx"

namespace {

FACE* firstFace(const BODY* b) { return b->lump()->shell()->face(); }

} // namespace

TEST_F(ExportTest, GeometryIsCachedUntilReleasedAndAnEmptyAnswerIsNotKept)
{
    BODY* sheet = testkit::make_square_with_hole();
    FACE* face = firstFace(sheet);
    SURFACE* own = face->geometry();
    QELXBRepExporter& x = exporterOf({sheet});
    const int uses = own->use_count();
    QELXIdentifier first, second;
    ASSERT_EQ(x.GetFaceSurface(idOf(face), first), 0u);
    EXPECT_EQ(own->use_count(), uses + 1) << "the cached adapter holds one use";
    ASSERT_EQ(x.GetFaceSurface(idOf(face), second), 0u);
    EXPECT_EQ(second.GetValue(), first.GetValue());
    EXPECT_EQ(own->use_count(), uses + 1) << "the view was asked once";
    QELXGeometryExporter* geometry = nullptr;
    x.GetGeometryExporter(geometry);
    EXPECT_EQ(first.GetOwner(), geometry);
    for (int kind : {3, 7, 0, 1, 2})
        x.ReleaseGeometry(idOf(face), kind);
    EXPECT_EQ(own->use_count(), uses + 1);
    x.ReleaseGeometry(idOf(face), 4);
    EXPECT_EQ(own->use_count(), uses);

    // Without a surface the face has nothing; once it has one, that one is kept.
    own->add();
    face->set_geometry(nullptr);
    QELXIdentifier none(QELXVelmEntityUtils::GetIdentifier(sheet), "", nullptr, "untouched");
    EXPECT_EQ(x.GetFaceSurface(idOf(face), none), 0x1000001u);
    EXPECT_STREQ(none.GetTypeName(), "untouched");
    face->set_geometry(own);
    own->remove();
    EXPECT_EQ(x.GetFaceSurface(idOf(face), second), 0u);
    EXPECT_EQ(own->use_count(), uses + 1);

    QELXIdentifier point;
    VERTEX* vertex = face->loop()->start()->start();
    ASSERT_EQ(x.GetVertexPoint(idOf(vertex), point), 0u);
    EXPECT_EQ(point.GetOwner(), &x);
    QELXIdentifier again;
    x.GetVertexPoint(idOf(vertex), again);
    EXPECT_EQ(again.GetValue(), point.GetValue());
}

TEST_F(ExportTest, AnalyticSurfaceAnswersAgainAfterItsRecordIsGone)
{
    BODY* sheet = testkit::make_square_with_hole();
    FACE* face = firstFace(sheet);
    BODY* other = testkit::make_cylinder_band();
    SURFACE* analytic = firstFace(other)->geometry();
    QELXVelmBRepAttribTransfer::setAnalyticSurface(face, analytic);
    QELXBRepExporter& x = exporterOf({sheet, other});
    QELXIdentifier first, second;
    ASSERT_EQ(x.GetFaceAnalyticSurface(idOf(face), first), 0u);
    EXPECT_EQ(first.GetOwner(), &x);
    EXPECT_STREQ(first.GetTypeName(), "Ve_Surface");
    ENTITY* surface = nullptr;
    ASSERT_TRUE(QELXVelmBRepAttribTransfer::getAnalyticSurface(face, surface));
    QELXVelmBRepAttribTransfer::setAnalyticSurface(face, nullptr);
    ASSERT_EQ(x.GetFaceAnalyticSurface(idOf(face), second), 0u);
    EXPECT_EQ(second.GetValue(), first.GetValue());
}

TEST_F(ExportTest, IsoLinesStepInsideTheRangeAndSplitAtHoles)
{
    // u over [0, 4] with a hole at [1.5, 2.5] x [0.5, 1.5].
    BODY* sheet = testkit::make_polygon_sheet({{0, 0}, {4, 0}, {4, 2}, {0, 2}},
                                              {{{1.5, 0.5}, {1.5, 1.5}, {2.5, 1.5}, {2.5, 0.5}}});
    QELXBRepExporter& x = exporterOf({sheet});
    const QELXIdentifier face = idOf(firstFace(sheet));
    int n = -1;
    double* lines = nullptr;
    ASSERT_EQ(x.GetIsoParametricCurves(face, true, 3, n, lines), 0u);
    ASSERT_EQ(n, 4);
    const double expected[4][3] = {{1, 0, 2}, {2, 0, 0.5}, {2, 1.5, 2}, {3, 0, 2}};
    for (int i = 0; i < n; ++i)
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(lines[3 * i + k], expected[i][k], 1e-6) << i << " " << k;
    EXPECT_EQ(x.ReleaseIsoParametricCurves(lines), 0u);
    EXPECT_EQ(lines, nullptr);

    double marker = 0.0;
    double* untouched = &marker;
    n = -1;
    EXPECT_EQ(x.GetIsoParametricCurvesPtr(firstFace(sheet), false, 0, n, untouched), 0x1000001u);
    EXPECT_EQ(n, -1);
    EXPECT_EQ(untouched, &marker);
    EXPECT_EQ(x.GetIsoParametricCurvesPtr(firstFace(sheet), false, 1, n, lines), 0u);
    EXPECT_EQ(n, 2) << "the v-line at v = 1 passes the hole";
    x.ReleaseIsoParametricCurvesPtr(lines);
}

TEST_F(ExportTest, PointerRoadAnswersFromTheDocumentAndNullGivesNothing)
{
    BODY* box = testkit::make_box();
    BODY* dot = testkit::make_vertex_body();
    QELXBRepExporter& x = exporterOf({box, dot});
    ASSERT_EQ(x.PreProcess(), 0u);
    ASSERT_EQ(x.GetNumberOfBodiesPtr(), 2);
    EXPECT_EQ(x.GetBodyPtr(-1), nullptr);
    EXPECT_EQ(x.GetBodyPtr(2), nullptr);
    void* body = x.GetBodyPtr(0);
    EXPECT_EQ(body, box);
    EXPECT_EQ(x.GetNumberOfFacesFromBodyPtr(body), 6);
    EXPECT_EQ(x.GetNumberOfEdgesFromBodyPtr(body), 12);
    EXPECT_TRUE(x.IsOwnerClosedSolidPtr(x.GetLumpFromBodyPtr(body, 0)));
    EXPECT_TRUE(x.HasBoundedFacesPtr(body));
    void* face = x.GetFaceFromBodyPtr(body, 0);
    void* loop = x.GetLoopFromFacePtr(face, 0);
    EXPECT_EQ(x.GetFaceFromLoopPtr(loop), face);
    EXPECT_EQ(x.GetNumberOfCoedgesFromLoopPtr(loop), 4);
    void* coedge = x.GetCoedgeFromLoopPtr(loop, 0);
    void* edge = x.GetEdgeFromCoedgePtr(coedge);
    EXPECT_EQ(x.GetNumberOfCoedgesFromEdgePtr(edge), 2);
    EXPECT_EQ(x.GetCoedgeFromEdgePtr(edge, 1), x.GetPartnerCoedgePtr(coedge));
    double xyz[3];
    EXPECT_EQ(x.GetVertexPointPtr(x.GetStartVertexFromEdgePtr(edge), xyz), 0u);
    int id = 0, again = 0;
    EXPECT_EQ(x.GetPersistentIdPtr(face, id), 0u);
    x.GetPersistentIdPtr(face, again);
    EXPECT_GT(id, 0);
    EXPECT_EQ(again, id);

    void* vertexBody = x.GetBodyPtr(1);
    EXPECT_TRUE(x.IsVertexBodyPtr(vertexBody));
    EXPECT_FALSE(x.IsWireBodyPtr(vertexBody)) << "it holds a wire, yet is a vertex body";
    EXPECT_EQ(x.GetNumberOfDotVerticesFromBodyPtr(vertexBody), 1);

    int code = 0;
    EXPECT_EQ(x.GetTypeCodePtr(nullptr, code), 0x1000001u);
    EXPECT_EQ(code, 2);
    EXPECT_EQ(x.GetNumberOfLoopsFromFacePtr(nullptr), 0);
    EXPECT_TRUE(x.IsLoopDegeneratePtr(nullptr));
    EXPECT_TRUE(x.GetFaceSensePtr(nullptr));
    EXPECT_FALSE(x.GetCoedgeSensePtr(nullptr));
    EXPECT_EQ(x.GetVertexPointPtr(nullptr, xyz), 0x1000001u);
    EXPECT_EQ(x.GetPersistentIdPtr(nullptr, id), 0x1000001u);
}

// A face's parameter box is worked out once per body walk: the same answer by
// identifier and by pointer, kept while the walk lasts, and afresh when the
// next walk of the body starts.
TEST_F(ExportTest, FaceDomainIsWorkedOutOncePerBodyWalk)
{
    BODY* box = testkit::make_plane_box(4, 5, 6);
    // Without pcurves the box comes from the edges on the face's plane.
    sg_rm_pcurves_from_entity(box);
    QELXBRepExporter& x = exporterOf({box});
    ASSERT_EQ(x.PreProcess(), 0u);
    QELXIdentifier body;
    ASSERT_EQ(x.GetBody(0, body), 0u);
    ASSERT_EQ(x.PrepareBody(body), 0u);
    FACE* f = box->lump()->shell()->face();
    const QELXIdentifier face = idOf(f);
    double u[2] = {}, v[2] = {}, pu[2] = {}, pv[2] = {};
    ASSERT_EQ(x.GetFaceDomain(face, u, v), 0u);
    QELpar_box kernel;
    ASSERT_TRUE(sg_get_face_par_box(f, kernel));
    EXPECT_DOUBLE_EQ(u[1] - u[0], kernel.u_range().length());
    EXPECT_DOUBLE_EQ(v[1] - v[0], kernel.v_range().length());
    ASSERT_EQ(x.GetFaceDomainPtr(f, pu, pv), 0u);
    EXPECT_EQ(std::vector<double>({pu[0], pu[1], pv[0], pv[1]}), std::vector<double>({u[0], u[1], v[0], v[1]}));

    // The face's plane moves one unit along its own u: the box moves back by one.
    plane moved = static_cast<const plane&>(f->geometry()->equation());
    moved.root_point = moved.root_point + moved.u_axis() / moved.u_axis().len_sq();
    f->set_geometry(new PLANE(moved));
    ASSERT_EQ(x.GetFaceDomain(face, pu, pv), 0u);
    EXPECT_EQ(pu[0], u[0]) << "within one walk the box is not worked out again";
    ASSERT_EQ(x.ReleaseBody(body), 0u);
    ASSERT_TRUE(velm_is_live_entity(f));
    ASSERT_EQ(x.PrepareBody(body), 0u);
    ASSERT_EQ(x.GetFaceDomain(face, pu, pv), 0u);
    EXPECT_NEAR(pu[0], u[0] - 1.0, 1e-9);
    EXPECT_NEAR(pu[1], u[1] - 1.0, 1e-9);
    EXPECT_NEAR(pv[0], v[0], 1e-9);
}
