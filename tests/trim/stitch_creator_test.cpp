// The trim road's face factory: faces with edges and vertices of their own,
// faces of free surfaces, sheet bodies; and loose faces of closed solids
// stitched back into them in every frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <set>

#include "qelx/qelx_test.hxx"
#include "qelx_velm/default_geometry_importer.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "support/arc_models.hxx"
#include "support/model_builders.hxx"
#include "support/quilt_builders.hxx"
#include "support/repair_builders.hxx"
#include "trim/stitch_test_support.hxx"
#include "trim/trim_face_cntl.hxx"
#include "velm/memory.hxx"
#include "velm/testkit.hxx"

namespace {

using qelx_test::KindFace;
using qelx_test::TestModel;

class StitchCreator : public ::testing::Test {
protected:
    void SetUp() override
    {
        qelx_test::resetFramework();
        m_live = velm_live_object_count();
    }
    void TearDown() override
    {
        for (BODY* b : m_bodies)
            api_del_entity(b);
        testkit::delete_loose_faces(m_loose);
        EXPECT_EQ(velm_live_object_count(), m_live);
        qelx_test::resetFramework();
    }
    void keepBodies(const std::vector<BODY*>& bodies) { m_bodies.insert(m_bodies.end(), bodies.begin(), bodies.end()); }
    void keepBodies(Ve_BaseStitchCreator& creator)
    {
        for (Ve_BodyTag* b : creator.getCocoon()->getBodies())
            m_bodies.push_back(reinterpret_cast<BODY*>(b));
    }

    std::vector<BODY*> m_bodies;
    std::vector<FACE*> m_loose;
    long m_live = 0;
};

TEST_F(StitchCreator, EveryFaceOwnsItsEdgesAndVertices)
{
    stitchtest::StitchSource source(TestModel::block(1.0, 2.0, 3.0));
    const std::vector<FACE*> faces = source.createFaces();
    m_loose = faces;
    ASSERT_EQ(faces.size(), 6u);
    std::set<const VERTEX*> seen;
    for (FACE* f : faces) {
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->shell(), nullptr);
        EXPECT_EQ(f->sides(), 1);
        ASSERT_NE(f->loop(), nullptr);
        COEDGE* c = f->loop()->start();
        int n = 0;
        do {
            // Each edge runs from its coedge's start to the next coedge's start.
            EXPECT_EQ(c->edge()->start(), c->start());
            EXPECT_EQ(c->end(), c->next()->start());
            EXPECT_EQ(c->partner(), nullptr);
            EXPECT_TRUE(seen.insert(c->start()).second) << "a vertex shared";
            EXPECT_NE(c->geometry(), nullptr) << "pcurve";
            EXPECT_NE(c->edge()->geometry(), nullptr) << "curve";
            c = c->next();
            ++n;
        } while (c != f->loop()->start());
        EXPECT_EQ(n, 4);
    }
}

TEST_F(StitchCreator, LooseFacesStitchBackIntoTheSolidInEveryFrame)
{
    struct Case {
        const char* name;
        TestModel model;
        double volume;
        double tolerance;
        bool everyFrame;
    };
    // The quilt of 100 patches in the identity frame; a smaller one turned and mirrored.
    const Case cases[] = {
        {"block", TestModel::block(1.0, 2.0, 3.0), 6.0, 1e-9, true},
        {"cylinder", TestModel::cylinder(1.5, 2.0), std::numbers::pi * 1.5 * 1.5 * 2.0, 1e-6, true},
        {"quilt of 100 patches", testkit::lens_quilt(10, 5), testkit::lens_volume(), 1e-6, false},
        {"quilt of 24 patches", testkit::lens_quilt(4, 3), testkit::lens_volume(), 1e-6, true},
    };
    for (const Case& c : cases)
        for (const importtest::Frame& frame : stitchtest::allFrames()) {
            if (!c.everyFrame && std::string(frame.name) != "identity")
                continue;
            SCOPED_TRACE(std::string(c.name) + " " + frame.name);
            stitchtest::StitchSource source(c.model, frame.morph);
            const std::vector<BODY*> bodies = stitchtest::stitchIntoBodies(source.createFaces());
            keepBodies(bodies);
            ASSERT_EQ(bodies.size(), 1u);
            EXPECT_TRUE(stitchtest::closedOnceSingleSided(bodies[0]));
            EXPECT_NEAR(stitchtest::volumeOf(bodies[0]), c.volume, c.tolerance * c.volume);
            EXPECT_EQ(testkit::check_findings(bodies[0]), "");
            for (BODY* b : m_bodies)
                api_del_entity(b);
            m_bodies.clear();
        }
}

TEST_F(StitchCreator, FacesThatDoNotMeetStaySheets)
{
    // Every other face of the quilt's top: no two share an edge.
    TestModel quilt = testkit::lens_quilt(4, 2);
    stitchtest::StitchSource source(quilt);
    std::vector<FACE*> chosen;
    for (int i = 0; i < 8; ++i) {
        const int col = i % 4, row = i / 4;
        FACE* f = reinterpret_cast<FACE*>(source.creator().CreateFace(source.id(KindFace, i), &source.exporter()));
        if ((col + row) % 2 == 0)
            chosen.push_back(f);
        else
            m_loose.push_back(f);
    }
    const std::vector<BODY*> bodies = stitchtest::stitchIntoBodies(chosen);
    keepBodies(bodies);
    EXPECT_EQ(bodies.size(), chosen.size());
    for (BODY* b : bodies)
        EXPECT_FALSE(stitchtest::closedOnceSingleSided(b));
}

TEST_F(StitchCreator, LoopsWithoutCoedgesAreDropped)
{
    TestModel model = TestModel::block(1.0, 1.0, 1.0);
    model.addEmptyLoop(0);
    stitchtest::StitchSource source(model);
    FACE* face = reinterpret_cast<FACE*>(source.creator().CreateFace(source.id(KindFace, 0), &source.exporter()));
    ASSERT_NE(face, nullptr);
    m_loose.push_back(face);
    ASSERT_NE(face->loop(), nullptr);
    EXPECT_EQ(face->loop()->next(), nullptr);
    EXPECT_NE(face->loop()->start(), nullptr);
}

TEST_F(StitchCreator, NoContextMakesNothingAndKeepsNothing)
{
    stitchtest::StitchSource source(TestModel::block(1.0, 1.0, 1.0), QELXMorph3D(), false);
    const long before = velm_live_object_count();
    EXPECT_EQ(source.creator().CreateFace(source.id(KindFace, 0), &source.exporter()), nullptr);
    EXPECT_EQ(source.creator().CreateFace(source.id(KindFace, 0), nullptr), nullptr);
    EXPECT_EQ(velm_live_object_count(), before);
}

TEST_F(StitchCreator, LooplessSourceFacesOnPlanesAreSquares)
{
    // A square as wide as the frame's scale (at least one).
    for (double scale : {0.5, 1.0, 10.0}) {
        SCOPED_TRACE(scale);
        stitchtest::StitchSource plane(TestModel::planeFace(true), QELXMorph3D(QELXAffine(), QELXPoint3D(0, 0, 0), scale));
        Ve_FaceTag* square = plane.creator().CreateFaceFromFreeFaceSurface(plane.id(KindFace, 0), &plane.exporter());
        ASSERT_NE(square, nullptr);
        m_loose.push_back(reinterpret_cast<FACE*>(square));
        double area = 0.0, achieved = 0.0;
        ASSERT_TRUE(api_ent_area(reinterpret_cast<FACE*>(square), 1e-9, area, achieved).ok());
        EXPECT_NEAR(area, std::max(1.0, scale) * std::max(1.0, scale), 1e-9);
    }
}

// A source face without loops on a surface that closes on itself (a whole
// sphere or ring torus, as a file's reader gives a face bounded only by its
// seams) is made whole, of the surface's area, in every frame, and listed
// for the sheets; on a surface that does not close (a cylinder, an open
// spline sheet) nothing is made and nothing is left behind.
TEST_F(StitchCreator, LooplessSourceFacesOnClosedSurfacesAreMadeWhole)
{
    using std::numbers::pi;
    struct Case {
        const char* name;
        TestModel model;
        double area; // 0: no face
    };
    const auto unbounded = [] {
        TestModel m;
        int shell = -1;
        m.addSheetBody(shell);
        m.addFace(shell, m.addCone({0, 0, 0}, {1, 0, 0}, {0, 0, 1}, 2.0, 0.0));
        return m;
    };
    const auto openSheet = [] {
        TestModel m = TestModel::nurbsSheet();
        m.faces[0].loops.clear();
        return m;
    };
    for (const importtest::Frame& frame : stitchtest::allFrames()) {
        const Case cases[] = {{"sphere", TestModel::sphereFace(1.5), 4 * pi * 1.5 * 1.5},
                              {"ring torus", TestModel::torusFace(3.0, 1.0), 4 * pi * pi * 3.0},
                              {"cylinder", unbounded(), 0.0},
                              {"open spline sheet", openSheet(), 0.0}};
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + ", " + frame.name);
            stitchtest::StitchSource source(c.model, frame.morph);
            ASSERT_EQ(source.model().faces.size(), 1u);
            int loops = -1;
            source.exporter().GetNumberOfLoopsFromFace(source.id(KindFace, 0), loops);
            ASSERT_EQ(loops, 0);
            const long before = velm_live_object_count();
            Ve_FaceTag* made = source.creator().CreateFaceFromFreeFaceSurface(source.id(KindFace, 0), &source.exporter());
            if (c.area == 0.0) {
                EXPECT_EQ(made, nullptr);
                EXPECT_EQ(velm_live_object_count(), before);
                continue;
            }
            ASSERT_NE(made, nullptr);
            FACE* face = reinterpret_cast<FACE*>(made);
            m_loose.push_back(face);
            EXPECT_EQ(face->loop(), nullptr);
            double area = 0.0, achieved = 0.0;
            ASSERT_TRUE(api_ent_area(face, 1e-9, area, achieved).ok());
            EXPECT_NEAR(area, c.area, 1e-6 * c.area);
            // Listed, as every face the creator makes: the sheets hold it.
            source.creator().MakeSheets();
            const QELXDynamicArray<Ve_BodyTag*> sheets = source.creator().getCocoon()->getBodies();
            ASSERT_EQ(sheets.Count(), 1);
            m_loose.pop_back();
            keepBodies({reinterpret_cast<BODY*>(sheets[0])});
        }
    }
}

TEST_F(StitchCreator, FreeSurfacesGiveBoundedFacesAndOnlyMadeOnesAreReported)
{
    TestModel model;
    const int torus = model.freeSurface(model.addTorus({0, 0, 0}, {1, 0, 0}, {0, 0, 1}, 3.0, 1.0, false));
    const int lemon = model.freeSurface(model.addTorus({0, 0, 0}, {1, 0, 0}, {0, 0, 1}, 1.0, 2.0, true));
    const int cylinder = model.freeSurface(model.addCone({0, 0, 0}, {1, 0, 0}, {0, 0, 1}, 2.0, 0.0));
    const int broken = model.freeSurface(model.addCone({0, 0, 0}, {1, 0, 0}, {0, 0, 1}, 0.0, 0.0));
    const int peaked = model.freeSurface(model.addCone({0, 0, 0}, {1, 0, 0}, {0, 0, 1}, 2.0, 0.5));
    stitchtest::StitchSource source(model);
    qelx_test::EventRecorder events;
    auto make = [&](int surface) {
        FACE* f = source.creator().CreateFaceFromFreeSurface(&source.exporter().geometry(),
                                                             source.id(qelx_test::KindSurface, surface));
        if (f)
            m_loose.push_back(f);
        return f;
    };
    FACE* ring = make(torus);
    ASSERT_NE(ring, nullptr);
    EXPECT_EQ(ring->loop(), nullptr);
    FACE* spindle = make(lemon);
    ASSERT_NE(spindle, nullptr);
    ASSERT_NE(spindle->loop(), nullptr);
    ASSERT_NE(spindle->loop()->next(), nullptr);
    // The apex on the axis's side first.
    const QELposition first = spindle->loop()->start()->start()->geometry()->coords();
    const QELposition second = spindle->loop()->next()->start()->start()->geometry()->coords();
    EXPECT_GT(first.z(), 0.0);
    EXPECT_LT(second.z(), 0.0);
    EXPECT_NEAR(first.z(), -second.z(), 1e-12);
    FACE* tube = make(cylinder);
    ASSERT_NE(tube, nullptr);
    EXPECT_EQ(tube->loop(), nullptr);
    ASSERT_NE(tube->bound(), nullptr);
    EXPECT_EQ(tube->bound()->high().x(), 1.0);
    EXPECT_EQ(make(broken), nullptr);
    // A cone that narrows to an apex: one loop of one curveless edge there.
    FACE* cone = make(peaked);
    ASSERT_NE(cone, nullptr);
    ASSERT_NE(cone->loop(), nullptr);
    EXPECT_EQ(cone->loop()->next(), nullptr);
    const COEDGE* apex = cone->loop()->start();
    ASSERT_TRUE(apex && apex->edge() && apex->start());
    EXPECT_EQ(apex->edge()->geometry(), nullptr);
    const QELposition tip = apex->start()->geometry()->coords();
    EXPECT_NEAR(tip.x(), 0.0, 1e-9);
    EXPECT_NEAR(tip.y(), 0.0, 1e-9);
    EXPECT_NEAR(std::fabs(tip.z()), 2.0 / std::tan(0.5), 1e-9);
    // One end-translate per face made, none for the surface that made none.
    EXPECT_EQ(events.count("EndTranslate"), 4);
    EXPECT_TRUE(events.targetsOf(source.id(qelx_test::KindSurface, broken).GetValue()).empty());
}

TEST_F(StitchCreator, SheetsOnePerFaceOrOneBodyAndASecondCallKeepsThem)
{
    for (bool single : {false, true}) {
        SCOPED_TRACE(single ? "single body" : "body per face");
        qelx_test::OptionScope options;
        if (single)
            options.on(Ve_OptionDoc::keyOf("AllSheetsInSingleBody"));
        stitchtest::StitchSource source(TestModel::block(1.0, 2.0, 3.0));
        for (FACE* f : source.createFaces())
            ASSERT_NE(f, nullptr);
        source.creator().MakeSheets();
        const QELXDynamicArray<Ve_BodyTag*> first = source.creator().getCocoon()->getBodies();
        ASSERT_EQ(first.Count(), single ? 1 : 6);
        if (single) {
            EXPECT_EQ(testkit::count_lumps(reinterpret_cast<BODY*>(first[0])), 6);
        }
        // Again: the same bodies, every face still where the first call put it.
        source.creator().MakeSheets();
        const QELXDynamicArray<Ve_BodyTag*> again = source.creator().getCocoon()->getBodies();
        ASSERT_EQ(again.Count(), first.Count());
        for (int i = 0; i < first.Count(); ++i) {
            EXPECT_EQ(again[i], first[i]);
            EXPECT_EQ(testkit::count_faces(reinterpret_cast<BODY*>(first[i])), single ? 6 : 1);
            EXPECT_EQ(testkit::model_problems(reinterpret_cast<BODY*>(first[i])), "");
        }
        keepBodies(source.creator());
        for (BODY* b : m_bodies)
            api_del_entity(b);
        m_bodies.clear();
    }
    qelx_test::OptionScope options;
    options.on(Ve_OptionDoc::keyOf("AllSheetsInSingleBody"));
    stitchtest::StitchSource empty(TestModel::block(1.0, 2.0, 3.0));
    empty.creator().MakeSheets();
    EXPECT_EQ(empty.creator().getCocoon()->getNumberOfBodies(), 0);
}

TEST_F(StitchCreator, ConvertedPlanesAreNotKept)
{
    qelx_test::OptionScope options;
    options.on(Ve_OptionDoc::keyOf("UseDefaultGeomImporter"));
    stitchtest::StitchSource source(TestModel::planeFace(true));
    source.importer().SetGeometryImporter(new QELXDefaultGeometryImporter(&source.exporter().geometry(), 1.0));
    Ve_FaceTag* square = source.creator().CreateFaceFromFreeFaceSurface(source.id(KindFace, 0), &source.exporter());
    ASSERT_NE(square, nullptr);
    m_loose.push_back(reinterpret_cast<FACE*>(square));
    FACE* free = source.creator().CreateFaceFromFreeSurface(&source.exporter().geometry(),
                                                            source.id(qelx_test::KindSurface, 0));
    ASSERT_NE(free, nullptr);
    m_loose.push_back(free);
    // The fixture finds any surface the conversions left behind.
}

TEST_F(StitchCreator, AStitchShellStartsWithItsFace)
{
    stitchtest::StitchSource source(TestModel::block(1.0, 1.0, 1.0));
    FACE* face = reinterpret_cast<FACE*>(source.creator().CreateFace(source.id(KindFace, 0), &source.exporter()));
    ASSERT_NE(face, nullptr);
    const Ve_StitchShell stitched(ve_view<Ve_FaceTag>(face));
    SHELL* shell = reinterpret_cast<SHELL*>(stitched.getShell());
    ASSERT_NE(shell, nullptr);
    EXPECT_EQ(shell->face(), face);
    EXPECT_EQ(shell->lump(), nullptr);
    EXPECT_EQ(shell->next(), nullptr);
    // A body takes the face out of that shell and the shell goes.
    shell->set_face(nullptr);
    shell->lose();
    m_loose.push_back(face);
}

TEST_F(StitchCreator, ACylindersSeamClosesWhenItsCoverIsBuilt)
{
    stitchtest::StitchSource source(TestModel::cylinder(1.5, 2.0), importtest::rotation(0.7, true));
    m_loose = source.createFaces();
    FACE* lateral = m_loose[0];
    ASSERT_NE(lateral, nullptr);
    QELXDynamicArray<Ve_CoedgeTag*> coedges;
    for (Ve_CoedgeTag* c : ve_view<Ve_FaceTag>(lateral)->getCoedges())
        coedges.Add(c);
    ASSERT_EQ(coedges.Count(), 4);
    const Ve_StCover cover(coedges);
    // The two seam coedges are partners on one edge; the circles stay free.
    COEDGE* seam = reinterpret_cast<COEDGE*>(coedges[0]);
    EXPECT_EQ(seam->partner(), reinterpret_cast<COEDGE*>(coedges[2]));
    EXPECT_EQ(seam->edge(), seam->partner()->edge());
    QELXDynamicArray<Ve_CoedgeTag*> free;
    cover.fetchCoedges(free);
    ASSERT_EQ(free.Count(), 2);
    EXPECT_EQ(free[0], coedges[1]);
    EXPECT_EQ(free[1], coedges[3]);
}

// A circle's edge whose domain lies a period past the first keeps it, and
// its pcurve runs over the same range: the range the vertices give on the
// circle is a period away, and the pcurve must not be moved there.
TEST_F(StitchCreator, AnArcAPeriodOnKeepsItsPCurveOnTheEdgesRangeInEveryFrame)
{
    for (bool arcReversed : {false, true})
        for (const importtest::Frame& frame : stitchtest::allFrames()) {
            SCOPED_TRACE(std::string(arcReversed ? "arc reversed, " : "arc forward, ") + frame.name);
            stitchtest::StitchSource source(arcmodels::halfEllipsePastAPeriod(1.0, 1.0, arcReversed).model, frame.morph);
            const std::vector<FACE*> faces = source.createFaces();
            m_loose.insert(m_loose.end(), faces.begin(), faces.end());
            ASSERT_EQ(faces.size(), 1u);
            ASSERT_NE(faces[0], nullptr);
            const SURFACE* surface = faces[0]->geometry();
            ASSERT_NE(surface, nullptr);
            COEDGE* c = faces[0]->loop()->start();
            int arcs = 0;
            do {
                ASSERT_NE(c->geometry(), nullptr);
                const QELinterval range = c->param_range();
                const pcurve& pc = c->geometry()->def();
                EXPECT_TRUE(pc.param_range() == range)
                    << "pcurve [" << pc.param_range().start_pt() << ", " << pc.param_range().end_pt() << "], coedge ["
                    << range.start_pt() << ", " << range.end_pt() << "]";
                if (std::abs(range.length() - std::numbers::pi) < 1e-9) {
                    ++arcs;
                    const double edgeMiddle = std::abs(c->edge()->param_range().mid_pt());
                    EXPECT_NEAR(edgeMiddle, 2.0 * std::numbers::pi, 1e-9) << "the edge left its domain";
                }
                // The pcurve's ends are the coedge's vertices.
                for (const auto& [t, at] : {std::pair{range.start_pt(), c->start_pos()}, {range.end_pt(), c->end_pos()}})
                    EXPECT_LT((surface->equation().eval_position(pc.eval_position(t)) - at).len(), 1e-9);
                c = c->next();
            } while (c != faces[0]->loop()->start());
            EXPECT_EQ(arcs, 1);
        }
}

// An edge along the first side of a closed (not periodic) polyline round
// its face's square: the edge is open, so its curve is cut to the edge's
// range, not left running round the whole square, in every frame.
TEST_F(StitchCreator, AClosedCurveOnAnOpenEdgeIsCutToTheEdgeInEveryFrame)
{
    for (const importtest::Frame& frame : stitchtest::allFrames()) {
        SCOPED_TRACE(frame.name);
        TestModel model = TestModel::planeFace();
        const int edge = model.coedges[0].edge;
        ASSERT_TRUE(model.coedges[0].sense && model.edges[edge].sense);
        qelx_test::TestCurve& source = model.curves[model.edges[edge].curve];
        ASSERT_LT(model.edgePoint(edge, model.edges[edge].domain[0]).Distance(QELXPoint3D(0, 0, 0)), 1e-12);
        ASSERT_LT(model.edgePoint(edge, model.edges[edge].domain[1]).Distance(QELXPoint3D(1, 0, 0)), 1e-12);
        source = qelx_test::TestCurve();
        source.type = qelx_test::CurvNurbs;
        source.domain[0] = 0.0;
        source.domain[1] = 4.0;
        source.nurbs.degree = 1;
        source.nurbs.count = 5;
        source.nurbs.ctrl = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, 0, 0, 0};
        source.nurbs.knots = {0, 1, 2, 3, 4};
        source.nurbs.mults = {2, 1, 1, 1, 2};
        source.nurbs.form = 1;
        ASSERT_NEAR(model.edges[edge].domain[0], 0.0, 1e-12);
        ASSERT_NEAR(model.edges[edge].domain[1], 1.0, 1e-12);
        stitchtest::StitchSource stitched(model, frame.morph);
        const std::vector<FACE*> faces = stitched.createFaces();
        m_loose.insert(m_loose.end(), faces.begin(), faces.end());
        ASSERT_EQ(faces.size(), 1u);
        ASSERT_NE(faces[0], nullptr);
        // The one side whose curve is not a straight line.
        const EDGE* side = nullptr;
        const COEDGE* c0 = faces[0]->loop()->start();
        const COEDGE* at = c0;
        do {
            if (at->edge()->geometry() && at->edge()->geometry()->equation().type() != 1)
                side = at->edge();
            at = at->next();
        } while (at != c0);
        ASSERT_NE(side, nullptr);
        ASSERT_NE(side->start(), side->end());
        QELinterval range = side->param_range();
        if (side->sense() == REVERSED)
            range = -range;
        const curve& c = side->geometry()->equation();
        EXPECT_NEAR(c.param_range().start_pt(), range.start_pt(), 1e-9);
        EXPECT_NEAR(c.param_range().end_pt(), range.end_pt(), 1e-9);
        EXPECT_NEAR(range.length(), 1.0, 1e-9);
    }
}

// The parameter maps of an ellipse whose source parameter is not its angle:
// scaled, scaled and reversed, reversed, shrunk.
struct ArcMap {
    double scale, offset;
};
const ArcMap kArcMaps[] = {{2.0, 0.5}, {-2.0, 0.3}, {-1.0, 0.5}, {0.5, -1.0}};

// An ellipse whose parameter is scaled (or reversed) against its angle
// bounds the face over its own arc, the face built as it comes or cut by the
// trimmed face controller: the edge's range is the image of the edge's
// domain on the kernel ellipse, and every pcurve runs with its curve (the
// diameter's line, its parameter scaled or reversed alike, too).
TEST_F(StitchCreator, AScaledEllipseBoundsItsFaceOverItsOwnArcInEveryFrame)
{
    for (bool repaired : {false, true})
        for (const ArcMap& map : kArcMaps)
            for (bool arcReversed : {false, true})
                for (const importtest::Frame& frame : stitchtest::allFrames()) {
                    SCOPED_TRACE(testing::Message() << (repaired ? "cut, " : "as it comes, ") << "map " << map.scale
                                                    << ", " << map.offset
                                                    << (arcReversed ? ", arc reversed, " : ", arc forward, ") << frame.name);
                    arcmodels::HalfEllipse half = arcmodels::halfEllipsePastAPeriod(2.0, 1.0, arcReversed);
                    half.model.reparametriseCurve(half.arc, map.scale, map.offset);
                    half.model.reparametriseCurve(half.line, map.scale, map.offset);
                    stitchtest::StitchSource source(half.model, frame.morph);
                    std::vector<FACE*> faces;
                    if (repaired) {
                        for (Ve_FaceTag* f : source.creator().CreateSheets(source.id(KindFace, half.face), &source.exporter()))
                            faces.push_back(reinterpret_cast<FACE*>(f));
                    } else {
                        faces = source.createFaces();
                    }
                    m_loose.insert(m_loose.end(), faces.begin(), faces.end());
                    if (faces.size() != 1 || !faces[0]) {
                        ADD_FAILURE() << faces.size() << " faces";
                        continue;
                    }
                    const QELXPoint3D apex = frame.morph.Apply(QELXPoint3D(2.0, 0.0, 0.0));
                    COEDGE* c = faces[0]->loop()->start();
                    int arcs = 0;
                    do {
                        EXPECT_LT(arcmodels::pcurveCurveGap(c), 1e-9);
                        EXPECT_TRUE(arcmodels::curveHoldsEdgeRange(c->edge()));
                        const CURVE* on = c->edge()->geometry();
                        if (on && on->has_equation() && !is_STRAIGHT(&on->equation())) {
                            ++arcs;
                            EXPECT_LT(arcmodels::edgeArcGap(c->edge(), QELposition(apex[0], apex[1], apex[2])), 1e-9);
                        }
                        c = c->next();
                    } while (c != faces[0]->loop()->start());
                    EXPECT_EQ(arcs, 1);
                }
}

TEST_F(StitchCreator, SheetsOfTheTrimmedFaceControllerJoinTheListAndTheMapIsCleared)
{
    stitchtest::StitchSource source(TestModel::block(1.0, 2.0, 3.0));
    int made = 0;
    for (int i = 0; i < 6; ++i)
        made += source.creator().CreateSheets(source.id(KindFace, i), &source.exporter()).Count();
    EXPECT_EQ(made, 6);
    EXPECT_EQ(Ve_TrimFaceCntl::_velmCurveSourceEdgeMap.Count(), 0);
    // A face the controller cannot build: nothing listed, the map cleared all the same.
    EXPECT_EQ(source.creator().CreateSheets(QELXIdentifier(), &source.exporter()).Count(), 0);
    EXPECT_EQ(Ve_TrimFaceCntl::_velmCurveSourceEdgeMap.Count(), 0);
    source.creator().MakeSheets();
    keepBodies(source.creator());
    ASSERT_EQ(m_bodies.size(), 6u);
    for (BODY* b : m_bodies)
        EXPECT_EQ(testkit::model_problems(b), "");
}

} // namespace
