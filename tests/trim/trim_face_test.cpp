// The trimmed face controller: loops in source order, each reported; faces
// without loops kept only on closed surfaces; the curve-to-source-edge map
// filled for the face being built and emptied with the controller.
#include "trim_test_support.hxx"

#include "qelx_velm/ve_option_doc.hxx"
#include "support/arc_models.hxx"
#include "support/repair_builders.hxx"
#include "trim/trim_internal.hxx"
#include "velm/attrib.hxx"
#include "velm/query.hxx"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

using qelx_test::TestModel;

namespace {

// A square plate 6 x 6 with two square holes, loops in that order.
TestModel plateWithTwoHoles()
{
    TestModel m;
    int shell = -1;
    m.addSheetBody(shell);
    std::vector<std::vector<int>> loops(3);
    for (const qelx_test::Vec3& p : {qelx_test::Vec3{0, 0, 0}, {6, 0, 0}, {6, 6, 0}, {0, 6, 0}})
        loops[0].push_back(m.addVertex(p));
    for (double x : {1.0, 4.0})
        for (const qelx_test::Vec3& p : {qelx_test::Vec3{x, 1, 0}, {x, 2, 0}, {x + 1, 2, 0}, {x + 1, 1, 0}})
            loops[x < 2 ? 1 : 2].push_back(m.addVertex(p));
    m.addPolygonFace(shell, m.addPlane({0, 0, 0}, {1, 0, 0}, {0, 0, 1}), loops);
    return m;
}

std::string textOf(const ENTITY* e, const char* name)
{
    ATTRIB_GEN_NAME* found = nullptr;
    if (!api_find_named_attribute(e, name, found).ok() || !found)
        return "";
    return found->value_text();
}

std::uint64_t wordOfEntity(const void* e) { return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(e)); }

// A face without loops on a B-spline round a square: closed one way (its
// first and last rows of control points one), its other rows running from
// a pole over the square's corners to a pole, or from a pole to an open
// square when `bothPoles` is off. `poleAlongU` swaps the two directions.
TestModel looplessSquareSpline(bool poleAlongU, bool bothPoles)
{
    TestModel m;
    int shell = -1;
    m.addSheetBody(shell);
    const std::vector<qelx_test::Vec3> round{{1, 0, 0}, {0, 1, 0}, {-1, 0, 0}, {0, -1, 0}, {1, 0, 0}};
    const auto across = [&](int k, const qelx_test::Vec3& p) {
        const double z = k - 1.0;
        if (k == 0 || (k == 2 && bothPoles))
            return qelx_test::Vec3{0, 0, z};
        return qelx_test::Vec3{p[0], p[1], z};
    };
    // The closed direction: 5 points of degree one; the poles' direction: 3 of degree two.
    const int nClosed = 5, nPoles = 3;
    std::vector<double> ctrl;
    const int nu = poleAlongU ? nPoles : nClosed, nv = poleAlongU ? nClosed : nPoles;
    for (int i = 0; i < nu; ++i)
        for (int j = 0; j < nv; ++j) {
            const qelx_test::Vec3 p = poleAlongU ? across(i, round[j]) : across(j, round[i]);
            ctrl.insert(ctrl.end(), {p[0], p[1], p[2]});
        }
    const std::vector<double> closedKnots{0, 1, 2, 3, 4}, poleKnots{0, 1};
    const std::vector<int> closedMults{2, 1, 1, 1, 2}, poleMults{3, 3};
    const int surface = poleAlongU ? m.addNurbsSurface(2, 1, nu, nv, ctrl, poleKnots, poleMults, closedKnots, closedMults)
                                   : m.addNurbsSurface(1, 2, nu, nv, ctrl, closedKnots, closedMults, poleKnots, poleMults);
    m.addFace(shell, surface);
    return m;
}

} // namespace

class TrimFace : public trimtest::TrimTest {};

TEST_F(TrimFace, LoopsFollowTheSourceOrderAndALoopThatCannotBeReadIsLeftOut)
{
    for (bool breakMiddle : {false, true}) {
        SCOPED_TRACE(breakMiddle ? "middle loop unreadable" : "all loops readable");
        TestModel model = plateWithTwoHoles();
        if (breakMiddle)
            for (int c : model.loops[1].coedges) {
                model.dropPCurve(c);
                model.dropCurve(model.coedges[c].edge);
            }
        qelx_test::EventRecorder events;
        trimtest::TrimSource trim(model);
        FACE* face = trim.build(0);
        ASSERT_NE(face, nullptr);
        const std::vector<std::vector<COEDGE*>> loops = trimtest::loopsOf(face);
        const std::vector<int> sourceLoops = breakMiddle ? std::vector<int>{0, 2} : std::vector<int>{0, 1, 2};
        ASSERT_EQ(loops.size(), sourceLoops.size());
        for (std::size_t k = 0; k < loops.size(); ++k) {
            const qelx_test::TestLoop& source = model.loops[sourceLoops[k]];
            ASSERT_EQ(loops[k].size(), source.coedges.size());
            // Each kernel loop starts where its source loop does, and the
            // event of its source loop names it.
            const QELXPoint3D want = model.point(model.vertices[model.edges[model.coedges[source.coedges[0]].edge].start].point);
            const QELposition at = loops[k][0]->start_pos();
            EXPECT_LT((QELXPoint3D(at.x(), at.y(), at.z()) - want).Length(), 1e-9);
            const std::vector<std::uint64_t> targets =
                events.targetsOf(qelx_test::wordOf(qelx_test::KindLoop, sourceLoops[k]));
            EXPECT_EQ(targets, std::vector<std::uint64_t>{wordOfEntity(loops[k][0]->loop())});
        }
        if (breakMiddle) {
            EXPECT_TRUE(events.targetsOf(qelx_test::wordOf(qelx_test::KindLoop, 1)).empty());
        }
        EXPECT_EQ(importtest::findingsOf(trim.sheet(face)), std::vector<std::string>{});
    }
}

TEST_F(TrimFace, AFaceWithoutLoopsStaysOnlyOnASurfaceThatClosesItself)
{
    struct Case {
        const char* what;
        TestModel model;
        bool kept;
    };
    for (const Case& c :
         {Case{"sphere", TestModel::sphereFace(2.0), true}, Case{"torus", TestModel::torusFace(3.0, 1.0), true},
          Case{"plane", TestModel::planeFace(true), false},
          Case{"spline closed round u, poles at both ends of v", looplessSquareSpline(false, true), true},
          Case{"spline closed round v, poles at both ends of u", looplessSquareSpline(true, true), true},
          Case{"spline closed round u, a pole at one end of v only", looplessSquareSpline(false, false), false},
          Case{"spline closed round v, a pole at one end of u only", looplessSquareSpline(true, false), false}}) {
        SCOPED_TRACE(c.what);
        qelx_test::EventRecorder events;
        trimtest::TrimSource trim(c.model);
        FACE* face = trim.build(0);
        EXPECT_EQ(face != nullptr, c.kept);
        EXPECT_EQ(events.names("Warning"),
                  c.kept ? std::vector<std::string>{} : std::vector<std::string>{"Ignoring face with invalid loop"});
        if (face) {
            EXPECT_EQ(face->loop(), nullptr);
        }
    }
}

TEST_F(TrimFace, WithoutAnImportContextNothingIsMadeOrLeftBehind)
{
    qelx_test::AssertRecorder asserts;
    qelx_test::EventRecorder events;
    TestModel model = TestModel::planeFace();
    qelx_test::TestDocument document(model);
    qelx_test::TestBRepExporter source(&document);
    Ve_TrimFaceCntl controller(nullptr);
    EXPECT_TRUE(asserts.has(kTrimSource, 2352));
    EXPECT_FALSE(controller.seed(source.id(qelx_test::KindFace, 0), &source));
    EXPECT_EQ(controller.getSheets().Count(), 0);
    // Dropped silently: the face never had a surface.
    EXPECT_EQ(events.count("Warning"), 0);
}

TEST_F(TrimFace, EdgesTakeTheirSourceEdgesAttributesThroughTheCurveMap)
{
    enum Mode { Off, All, PidOnly };
    for (Mode mode : {Off, All, PidOnly}) {
        SCOPED_TRACE(mode == Off ? "transfer off" : mode == All ? "transfer on" : "edge PID only");
        qelx_test::OptionScope options;
        if (mode == All)
            options.on(Ve_OptionDoc::keyOf("TransferAttribute"));
        if (mode == PidOnly)
            options.set(Ve_OptionDoc::keyOf("TransferAttributePID"), QELXValue(2));
        TestModel model = TestModel::planeFace();
        for (int e = 0; e < static_cast<int>(model.edges.size()); ++e) {
            qelx_test::TestAttributes& a = model.attributes[qelx_test::wordOf(qelx_test::KindEdge, e)];
            a.name = "edge " + std::to_string(e);
            a.pid = "pid " + std::to_string(e);
        }
        model.attributes[qelx_test::wordOf(qelx_test::KindLoop, 0)].name = "loop 0";
        qelx_test::EventRecorder events;
        trimtest::TrimSource trim(model);
        {
            Ve_TrimFaceCntl controller(&trim.context());
            ASSERT_TRUE(controller.seed(trim.id(qelx_test::KindFace, 0), &trim.source()));
            FACE* face = reinterpret_cast<FACE*>(controller.getSheets()[0]);
            // The map holds the face's curves until the controller goes.
            EXPECT_EQ(Ve_TrimFaceCntl::_velmCurveSourceEdgeMap.Count(), mode == Off ? 0 : 4);
            const std::vector<COEDGE*> coedges = trimtest::loopsOf(face)[0];
            for (int k = 0; k < 4; ++k) {
                const int sourceEdge = model.coedges[model.loops[0].coedges[k]].edge;
                EDGE* edge = coedges[k]->edge();
                EXPECT_EQ(textOf(edge, "ATTRIB_XVELM_NAME"), mode == All ? "edge " + std::to_string(sourceEdge) : "");
                EXPECT_EQ(textOf(edge, "ATTRIB_XVELM_PID"), mode == PidOnly ? "pid " + std::to_string(sourceEdge) : "");
                EXPECT_EQ(events.targetsOf(qelx_test::wordOf(qelx_test::KindEdge, sourceEdge)),
                          mode == Off ? std::vector<std::uint64_t>{} : std::vector<std::uint64_t>{wordOfEntity(edge)});
            }
            // Loops are reported whatever the switches, and take their names with the rest.
            EXPECT_EQ(events.targetsOf(qelx_test::wordOf(qelx_test::KindLoop, 0)).size(), 1u);
            EXPECT_EQ(textOf(face->loop(), "ATTRIB_XVELM_NAME"), mode == All ? "loop 0" : "");
            api_del_entity(face);
        }
        EXPECT_EQ(Ve_TrimFaceCntl::_velmCurveSourceEdgeMap.Count(), 0);
        EXPECT_EQ(Ve_TrimFaceCntl::_velmCurveSourceEdgeMap.Capacity(), 17);
    }
}

class TrimContour : public trimtest::TrimTest {};

TEST_F(TrimFace, VerticesLieWhereThePcurvesEndAndPreferredPcurvesWin)
{
    // The unit square with its first edge's curve moved: far off (the two
    // disagree, and faces of category 0 or 1 prefer the pcurve), or a little
    // off the plane (they agree, and the vertex goes where the pcurve ends).
    // Either way every vertex is a corner of the square and the face has
    // the square's area.
    struct Case {
        const char* what;
        int category;
        qelx_test::Vec3 move;
    };
    for (const Case& c : {Case{"category 0, curve moved away", 0, {0.0, 0.3, 0.0}},
                          Case{"category 1, curve moved away", 1, {0.0, 0.3, 0.0}},
                          Case{"curves preferred, curve a little off the plane", 2, {0.0, 0.0, 5e-4}}}) {
        SCOPED_TRACE(c.what);
        TestModel m = TestModel::planeFace();
        m.faces[0].category = c.category;
        m.shiftCurve(m.edges[m.coedges[m.loops[0].coedges[0]].edge].curve, c.move);
        trimtest::TrimSource trim(m);
        FACE* face = trim.build(0);
        ASSERT_NE(face, nullptr);
        const std::vector<std::vector<COEDGE*>> loops = trimtest::loopsOf(face);
        ASSERT_EQ(loops.size(), 1u);
        for (COEDGE* coedge : loops[0]) {
            const QELposition at = coedge->start()->geometry()->coords();
            double nearest = INFINITY;
            for (const qelx_test::Vec3& corner : {qelx_test::Vec3{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}})
                nearest = std::min(nearest, distance(at, QELposition(corner[0], corner[1], corner[2])));
            EXPECT_LT(nearest, 1e-9);
        }
        BODY* sheet = trim.sheet(face);
        ASSERT_NE(sheet, nullptr);
        EXPECT_NEAR(trimtest::areaOf(sheet), 1.0, 1e-6);
    }
}

TEST_F(TrimContour, AClosedCurveMakesOneEdgeOnOneVertexAndAnOpenLineNoLoop)
{
    // The cylinder's top: one circle, its vertex where the circle ends.
    TestModel cylinder = TestModel::cylinder(1.5, 2);
    trimtest::TrimSource top(cylinder);
    FACE* face = top.build(2);
    ASSERT_NE(face, nullptr);
    const std::vector<std::vector<COEDGE*>> loops = trimtest::loopsOf(face);
    ASSERT_EQ(loops.size(), 1u);
    ASSERT_EQ(loops[0].size(), 1u);
    EDGE* edge = loops[0][0]->edge();
    EXPECT_EQ(edge->start(), edge->end());
    const QELXPoint3D want = cylinder.point(cylinder.vertices[cylinder.edges[cylinder.coedges[cylinder.loops[
                                                                              cylinder.faces[2].loops[0]].coedges[0]].edge].start].point);
    const QELposition at = edge->start()->geometry()->coords();
    EXPECT_LT((QELXPoint3D(at.x(), at.y(), at.z()) - want).Length(), 1e-9);
    // The coedge's pcurve closes as its curve does: periodic with it.
    const PCURVE* pc = loops[0][0]->geometry();
    ASSERT_TRUE(pc && pc->has_equation() && edge->geometry());
    EXPECT_TRUE(edge->geometry()->equation().periodic());
    EXPECT_TRUE(bs2_curve_periodic(pc->def().cur()));
    EXPECT_EQ(importtest::findingsOf(top.sheet(face)), std::vector<std::string>{});

    // A plane bounded by nothing but one open line: no loop, so no face.
    TestModel m;
    int shell = -1;
    m.addSheetBody(shell);
    const int a = m.addVertex({0, 0, 0}), b = m.addVertex({2, 0, 0});
    const int line = m.addEdge(m.addLine({0, 0, 0}, {2, 0, 0}), a, b, 0.0, 2.0);
    const int f = m.addFace(shell, m.addPlane({0, 0, 0}, {1, 0, 0}, {0, 0, 1}));
    m.addCoedge(m.addLoop(f), line, true, m.addLinePCurve({0, 0}, {2, 0}, 0.0, 2.0));
    qelx_test::EventRecorder events;
    trimtest::TrimSource open(m);
    EXPECT_EQ(open.build(f), nullptr);
    EXPECT_EQ(events.names("Warning"), std::vector<std::string>{"Ignoring face with invalid loop"});
}

TEST_F(TrimContour, ALoopOfPolesBecomesOneCurvelessEdgeOnOneVertex)
{
    TestModel m = TestModel::planeFace();
    const int v = m.addVertex({0.5, 0.25, 0.0});
    const int point = m.addEdge(-1, v, v, 0.0, 1.0);
    m.addCoedge(m.addLoop(0), point, true, m.addLinePCurve({0.5, 0.25}, {0.5, 0.25}, 0.0, 1.0));
    trimtest::TrimSource trim(m);
    FACE* face = trim.build(0);
    ASSERT_NE(face, nullptr);
    const std::vector<std::vector<COEDGE*>> loops = trimtest::loopsOf(face);
    ASSERT_EQ(loops.size(), 2u);
    ASSERT_EQ(loops[1].size(), 1u);
    COEDGE* coedge = loops[1][0];
    EXPECT_EQ(coedge->next(), coedge);
    EXPECT_EQ(coedge->edge()->geometry(), nullptr);
    EXPECT_EQ(coedge->edge()->start(), coedge->edge()->end());
    const QELposition at = coedge->edge()->start()->geometry()->coords();
    EXPECT_LT((QELXPoint3D(at.x(), at.y(), at.z()) - QELXPoint3D(0.5, 0.25, 0.0)).Length(), 1e-12);
}

TEST_F(TrimContour, ALoopThatOnlyStartsOnAPoleKeepsItsEdges)
{
    // The square's own loop with a pole at its first corner put first or
    // last: a loop with real edges is no vertex loop wherever its pole sits.
    for (bool poleFirst : {true, false}) {
        SCOPED_TRACE(poleFirst ? "pole first" : "pole last");
        TestModel m = TestModel::planeFace();
        qelx_test::TestLoop& loop = m.loops[0];
        const int corner = m.edges[m.coedges[loop.coedges[0]].edge].start;
        const int point = m.addEdge(-1, corner, corner, 0.0, 1.0);
        m.addCoedge(0, point, true, m.addLinePCurve({0.0, 0.0}, {0.0, 0.0}, 0.0, 1.0));
        if (poleFirst)
            std::rotate(loop.coedges.begin(), loop.coedges.end() - 1, loop.coedges.end());
        trimtest::TrimSource trim(m);
        FACE* face = trim.build(0);
        ASSERT_NE(face, nullptr);
        const std::vector<std::vector<COEDGE*>> loops = trimtest::loopsOf(face);
        ASSERT_EQ(loops.size(), 1u);
        int curved = 0;
        for (COEDGE* c : loops[0])
            curved += c->edge()->geometry() ? 1 : 0;
        EXPECT_EQ(curved, 4);
        BODY* sheet = trim.sheet(face);
        ASSERT_NE(sheet, nullptr);
        EXPECT_NEAR(trimtest::areaOf(sheet), 1.0, 1e-6);
    }
}

TEST_F(TrimContour, AnOpenArcsCurveIsLimitedToItsEdgeStoredEitherWay)
{
    // A half disc: the arc of the unit circle from (1, 0) to (-1, 0), then
    // the line back, pcurves or curves preferred, the arc's edge stored with
    // its circle or against it. The circle of the arc's edge holds the arc
    // and no more, and the face has the half disc's area.
    for (int category : {0, 2})
        for (bool reversed : {false, true}) {
            SCOPED_TRACE(std::string(category == 0 ? "pcurves preferred" : "curves preferred") +
                         (reversed ? ", arc against its circle" : ", arc along its circle"));
            // The arc without a pcurve: the loop takes its circle.
            TestModel m = arcmodels::halfDisc(reversed);
            const int face = 0;
            m.faces[face].category = category;
            ASSERT_LT(m.maxGap(), 1e-9);
            const auto expectArcLimited = [](FACE* built) {
                EDGE* edge = nullptr;
                const std::vector<std::vector<COEDGE*>> loops = trimtest::loopsOf(built);
                for (COEDGE* c : loops[0])
                    if (c->edge()->geometry() && c->edge()->geometry()->equation().type() != 1)
                        edge = c->edge();
                ASSERT_NE(edge, nullptr);
                QELinterval onCurve = edge->param_range();
                if (edge->sense() == REVERSED)
                    onCurve = -onCurve;
                const QELinterval own = edge->geometry()->equation().param_range();
                ASSERT_TRUE(own.finite());
                EXPECT_NEAR(own.start_pt(), onCurve.start_pt(), 1e-9);
                EXPECT_NEAR(own.end_pt(), onCurve.end_pt(), 1e-9);
            };
            {
                // The plain trim road's face factory limits it as well.
                stitchtest::StitchSource stitch(m);
                const std::vector<FACE*> made = stitch.createFaces();
                ASSERT_EQ(made.size(), 1u);
                ASSERT_NE(made[0], nullptr);
                expectArcLimited(made[0]);
                testkit::delete_loose_faces(made);
            }
            trimtest::TrimSource trim(m);
            FACE* built = trim.build(face);
            ASSERT_NE(built, nullptr);
            expectArcLimited(built);
            BODY* sheet = trim.sheet(built);
            EXPECT_EQ(importtest::findingsOf(sheet), std::vector<std::string>{});
            // Measured over the arc's fitted pcurve: the fit's accuracy, not
            // the other half of the circle.
            EXPECT_NEAR(trimtest::areaOf(sheet), M_PI / 2.0, 1e-3);
        }
}

TEST_F(TrimContour, ASegmentTooShortForAnEdgeIsLeftOutOfItsLoop)
{
    // A unit square whose left side is cut 1e-9 below its top corner: the
    // piece of 1e-9 makes no edge, and the loop closes over it.
    for (int category : {0, 2}) {
        SCOPED_TRACE(category == 0 ? "pcurves preferred" : "curves preferred");
        TestModel m;
        int shell = -1;
        m.addSheetBody(shell);
        std::vector<int> ring;
        for (const qelx_test::Vec3& p :
             {qelx_test::Vec3{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 1 - 1e-9, 0}})
            ring.push_back(m.addVertex(p));
        const int face = m.addPolygonFace(shell, m.addPlane({0, 0, 0}, {1, 0, 0}, {0, 0, 1}), {ring});
        m.faces[face].category = category;
        trimtest::TrimSource trim(m);
        FACE* built = trim.build(face);
        ASSERT_NE(built, nullptr);
        EXPECT_EQ(trimtest::loopsOf(built)[0].size(), 4u);
        BODY* sheet = trim.sheet(built);
        EXPECT_EQ(importtest::findingsOf(sheet), std::vector<std::string>{});
        EXPECT_NEAR(trimtest::areaOf(sheet), 1.0, 1e-8);
    }
}

namespace {

// A W x H rectangle on the plane z = 0, one loop a -> b -> c -> d.
TestModel rectangle(double w, double h)
{
    TestModel m;
    int shell = -1;
    m.addSheetBody(shell);
    const int a = m.addVertex({0, 0, 0}), b = m.addVertex({w, 0, 0}), c = m.addVertex({w, h, 0}),
              d = m.addVertex({0, h, 0});
    m.addPolygonFace(shell, m.addPlane({0, 0, 0}, {1, 0, 0}, {0, 0, 1}), {{a, b, c, d}});
    return m;
}

// The loop's coedge i ends `by` short of where it did, at a vertex of its
// own: its edge and its domain end there too, and the loop is open.
void endEarly(TestModel& m, int i, double by)
{
    const int coedge = m.loops[0].coedges[static_cast<std::size_t>(i)];
    qelx_test::TestCoedge& c = m.coedges[coedge];
    qelx_test::TestEdge& e = m.edges[c.edge];
    ASSERT_TRUE(c.sense && e.sense);
    e.domain[1] -= by;
    c.domain[1] -= by;
    const QELXPoint3D p = m.edgePoint(c.edge, e.domain[1]);
    std::erase(m.vertices[e.end].edges, c.edge);
    e.end = m.addVertex({p.x(), p.y(), p.z()});
    m.vertices[e.end].edges.push_back(c.edge);
}

} // namespace

TEST_F(TrimFace, AnOpenLoopIsWarnedOfWithItsWidestGapOnBothRoads)
{
    // The gap may close the ring (last to first), lie between a long piece
    // and a much shorter one (judged by the shorter), or be one of several
    // (the widest is named). The trimmed face controller and the stitch
    // creator each say so. A gap within the trim gap tolerance the user set
    // leaves the loop closed on both roads.
    struct Case {
        const char* what;
        std::function<TestModel()> make;
        const char* gap; // null: closed
        double gapTolerance = 0.0; // the trim gap tolerance the user set
    };
    const std::vector<Case> cases{
        {"closed", [] { return rectangle(1, 1); }, nullptr},
        {"the last coedge left out",
         [] {
             TestModel m = rectangle(1, 1);
             m.loops[0].coedges.pop_back();
             return m;
         },
         "1"},
        // Two pieces only, the bottom and the top side: a gap after each.
        {"two opposite sides alone",
         [] {
             TestModel m = rectangle(1, 1);
             m.loops[0].coedges = {m.loops[0].coedges[0], m.loops[0].coedges[2]};
             return m;
         },
         "1"},
        {"a long coedge ending short of a short one",
         [] {
             TestModel m = rectangle(10, 0.4);
             endEarly(m, 0, 1.0);
             return m;
         },
         "1"},
        {"two gaps, the first the wider",
         [] {
             TestModel m = rectangle(1, 1);
             endEarly(m, 0, 0.45);
             endEarly(m, 3, 0.4);
             return m;
         },
         "0.45"},
        {"a gap within the trim gap tolerance",
         [] {
             TestModel m = rectangle(10, 0.4);
             endEarly(m, 0, 0.3);
             return m;
         },
         nullptr, 0.5},
    };
    for (const Case& c : cases)
        for (bool controller : {true, false}) {
            SCOPED_TRACE(std::string(c.what) + (controller ? ", trimmed face controller" : ", stitch creator"));
            qelx_test::OptionScope options;
            if (c.gapTolerance > 0.0)
                options.set(Ve_OptionDoc::keyOf("TrimCurveGapTolerance"), QELXValue(c.gapTolerance));
            qelx_test::EventRecorder events;
            std::vector<std::string> warnings;
            if (controller) {
                trimtest::TrimSource trim(c.make());
                EXPECT_NE(trim.build(0), nullptr);
                warnings = events.names("Warning");
            } else {
                stitchtest::StitchSource stitch(c.make());
                const std::vector<FACE*> faces = stitch.createFaces();
                ASSERT_EQ(faces.size(), 1u);
                EXPECT_NE(faces[0], nullptr);
                warnings = events.names("Warning");
                testkit::delete_loose_faces(faces);
            }
            if (!c.gap) {
                EXPECT_EQ(warnings, std::vector<std::string>{});
                continue;
            }
            ASSERT_EQ(warnings.size(), 1u);
            EXPECT_NE(warnings[0].find(std::string("is open (its edges lie ") + c.gap + " apart)"), std::string::npos)
                << warnings[0];
        }
}

namespace {

// A 10 x 1 rectangle on z = 0 whose right side is a half circle bulging
// out, from (10, 0) round to (10, 1), cut `shortBy` (radians) short of its
// end: the gap to the top side's start is a chord of the circle.
TestModel stadiumEndCutShort(double shortBy)
{
    TestModel m;
    int shell = -1;
    m.addSheetBody(shell);
    const int face = m.addFace(shell, m.addPlane({0, 0, 0}, {1, 0, 0}, {0, 0, 1}));
    const int loop = m.addLoop(face);
    const int a = m.addVertex({0, 0, 0}), b = m.addVertex({10, 0, 0}), c = m.addVertex({10, 1, 0}),
              d = m.addVertex({0, 1, 0});
    const double end = M_PI - shortBy;
    const int arc = m.addEllipse({10, 0.5, 0}, {0, -1, 0}, {0, 0, 1}, 0.5, 0.5, 0.0, end);
    const QELXPoint3D cut = m.curvePoint(arc, end);
    const int e = m.addVertex({cut.x(), cut.y(), cut.z()});
    m.addCoedge(loop, m.addEdge(m.addLine({0, 0, 0}, {10, 0, 0}), a, b, 0.0, 10.0), true, -1);
    m.addCoedge(loop, m.addEdge(arc, b, e, 0.0, end), true, -1);
    m.addCoedge(loop, m.addEdge(m.addLine({10, 1, 0}, {0, 1, 0}), c, d, 0.0, 10.0), true, -1);
    m.addCoedge(loop, m.addEdge(m.addLine({0, 1, 0}, {0, 0, 0}), d, a, 0.0, 1.0), true, -1);
    return m;
}

} // namespace

TEST_F(TrimFace, ACurvedPieceIsJudgedOpenByItsReachThroughItsMiddleNotItsChord)
{
    // The half circle cut one radian short leaves a gap (0.479) wider than
    // half its chord (0.439) but within half its reach through its middle
    // (0.510): the loop closes over it. Cut 1.3 radians short the gap
    // (0.605) is wider than half its reach (0.444): open. In every frame.
    for (const importtest::Frame& frame : stitchtest::allFrames())
        for (const double shortBy : {1.0, 1.3}) {
            SCOPED_TRACE(std::string(frame.name) + (shortBy < 1.2 ? ", closed over the gap" : ", open"));
            TestModel m = stadiumEndCutShort(shortBy);
            ASSERT_LT(m.curvePoint(m.edges[1].curve, 0.0).Distance(QELXPoint3D(10, 0, 0)), 1e-12);
            qelx_test::EventRecorder events;
            trimtest::TrimSource trim(std::move(m), frame.morph);
            EXPECT_NE(trim.build(0), nullptr);
            const std::vector<std::string> warnings = events.names("Warning");
            if (shortBy < 1.2) {
                EXPECT_EQ(warnings, std::vector<std::string>{});
                continue;
            }
            ASSERT_EQ(warnings.size(), 1u);
            EXPECT_NE(warnings[0].find("is open"), std::string::npos) << warnings[0];
        }
}

TEST_F(TrimFace, AVertexBesideAClosedPieceLiesWhereItsCurveCloses)
{
    // The side of a cylinder whose curves are preferred: the seam's pcurve
    // and the top circle's each end a ten-millionth up the axis past their
    // curves. The vertex between the seam and the closed circle, and the one
    // after the circle, lie where the circle's curve closes, not where either
    // pcurve ends. In every frame.
    const double r = 1.5, h = 2.0, off = 1e-7;
    for (const importtest::Frame& frame : stitchtest::allFrames()) {
        SCOPED_TRACE(frame.name);
        TestModel m = TestModel::cylinder(r, h);
        m.faces[0].category = 2;
        for (const int coedge : {0, 1}) {
            qelx_test::TestNurbs& n = m.pcurves[m.coedges[coedge].pcurve].nurbs;
            n.ctrl[2 * (n.count - 1)] += off / r;
        }
        trimtest::TrimSource trim(std::move(m), frame.morph);
        FACE* built = trim.build(0);
        ASSERT_NE(built, nullptr);
        const QELXPoint3D top = frame.morph.Apply(QELXPoint3D(r, 0, h));
        const QELXPoint3D bottom = frame.morph.Apply(QELXPoint3D(r, 0, 0));
        const std::vector<std::vector<COEDGE*>> loops = trimtest::loopsOf(built);
        ASSERT_EQ(loops.size(), 1u);
        ASSERT_EQ(loops[0].size(), 4u);
        for (std::size_t i = 0; i < loops[0].size(); ++i) {
            const QELposition p = loops[0][i]->end()->geometry()->coords();
            const QELXPoint3D at(p.x(), p.y(), p.z());
            EXPECT_LT(std::min(at.Distance(top), at.Distance(bottom)), 1e-10) << "the end of coedge " << i;
        }
    }
}

TEST_F(TrimFace, TheSidesLoopClosesInTheSurfacesParametersInEveryFrame)
{
    // The side of a cylinder: its seam is used twice, a period apart round
    // the axis. Each coedge's pcurve ends where the next one's starts, so the
    // loop closes in the surface's parameters as it does in space.
    for (const importtest::Frame& frame : stitchtest::allFrames()) {
        SCOPED_TRACE(frame.name);
        trimtest::TrimSource trim(TestModel::cylinder(1.5, 2.0), frame.morph);
        FACE* built = trim.build(0);
        ASSERT_NE(built, nullptr);
        const std::vector<std::vector<COEDGE*>> loops = trimtest::loopsOf(built);
        ASSERT_EQ(loops.size(), 1u);
        const std::vector<COEDGE*>& ring = loops[0];
        ASSERT_EQ(ring.size(), 4u);
        for (std::size_t i = 0; i < ring.size(); ++i) {
            const COEDGE* c = ring[i];
            const COEDGE* next = ring[(i + 1) % ring.size()];
            ASSERT_TRUE(c->geometry() && next->geometry());
            const QELpar_pos end = c->geometry()->def().eval_position(c->param_range().end_pt());
            const QELpar_pos start = next->geometry()->def().eval_position(next->param_range().start_pt());
            EXPECT_LT(std::hypot(end.u - start.u, end.v - start.v), 1e-6) << "after coedge " << i;
        }
    }
}

TEST_F(TrimFace, AVertexOrDomainThatIsNoNumberRefusesItsFaceNamingIt)
{
    // Any one coordinate of a vertex (at either end of an edge), or either end
    // of a coedge's domain, infinite or not a number: the face is not built, and the warning
    // names what was not finite. Both trim roads refuse alike.
    const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* what;
        std::function<void(TestModel&)> spoil;
        const char* named;
    };
    const std::vector<Case> cases{
        {"x infinite", [&](TestModel& m) { m.points[m.vertices[1].point][0] = inf; }, "the point of"},
        {"y not a number", [&](TestModel& m) { m.points[m.vertices[1].point][1] = nan; }, "the point of"},
        {"z infinite", [&](TestModel& m) { m.points[m.vertices[1].point][2] = -inf; }, "the point of"},
        {"domain's low end", [&](TestModel& m) { m.coedges[m.loops[0].coedges[1]].domain[0] = -inf; }, "the domain of"},
        {"domain's high end", [&](TestModel& m) { m.coedges[m.loops[0].coedges[1]].domain[1] = nan; }, "the domain of"},
        // A vertex no edge starts at: the first edge ends there, off its ring.
        {"an edge's end alone", [&](TestModel& m) {
             const int edge = m.coedges[m.loops[0].coedges[0]].edge, end = m.addVertex({1.0, inf, 0.0});
             m.edges[edge].end = end;
             m.vertices[end].edges.push_back(edge);
         }, "the point of"},
    };
    for (const Case& c : cases)
        for (bool controller : {true, false}) {
            SCOPED_TRACE(std::string(c.what) + (controller ? ", trimmed face controller" : ", stitch creator"));
            TestModel m = TestModel::planeFace();
            c.spoil(m);
            qelx_test::EventRecorder events;
            if (controller) {
                trimtest::TrimSource trim(m);
                EXPECT_EQ(trim.build(0), nullptr);
            } else {
                stitchtest::StitchSource stitch(m);
                const std::vector<FACE*> made = stitch.createFaces();
                ASSERT_EQ(made.size(), 1u);
                EXPECT_EQ(made[0], nullptr);
                if (made[0])
                    testkit::delete_loose_faces(made);
            }
            const std::vector<std::string> warnings = events.names("Warning");
            ASSERT_EQ(warnings.size(), 1u);
            EXPECT_NE(warnings[0].find(std::string("not imported, ") + c.named), std::string::npos) << warnings[0];
            EXPECT_NE(warnings[0].find("is not finite"), std::string::npos) << warnings[0];
        }
}

TEST_F(TrimContour, AClosedSplineThatIsNotPeriodicGivesAClosedPcurve)
{
    // A plane bounded by one quadratic spline whose ends meet (not periodic):
    // the coedge's pcurve closes as its curve does, and is not made periodic.
    const std::vector<double> xy = {0, -1, 2, -1, 2, 1, -2, 1, -2, -1, 0, -1};
    qelx_test::TestNurbs space, flat;
    for (qelx_test::TestNurbs* n : {&space, &flat}) {
        n->degree = 2;
        n->count = 6;
        n->knots = {0, 1, 2, 3, 4};
        n->mults = {3, 1, 1, 1, 3};
        n->form = 1;
    }
    for (std::size_t i = 0; i < xy.size(); i += 2) {
        space.ctrl.insert(space.ctrl.end(), {xy[i], xy[i + 1], 0.0});
        flat.ctrl.insert(flat.ctrl.end(), {xy[i], xy[i + 1]});
    }
    TestModel m;
    int shell = -1;
    m.addSheetBody(shell);
    const int v = m.addVertex({0, -1, 0});
    const int edge = m.addEdge(m.addNurbsCurve(space), v, v, 0.0, 4.0);
    const int f = m.addFace(shell, m.addPlane({0, 0, 0}, {1, 0, 0}, {0, 0, 1}));
    m.addCoedge(m.addLoop(f), edge, true, m.addPCurve(flat));
    trimtest::TrimSource trim(m);
    FACE* face = trim.build(f);
    ASSERT_NE(face, nullptr);
    const std::vector<std::vector<COEDGE*>> loops = trimtest::loopsOf(face);
    ASSERT_EQ(loops.size(), 1u);
    ASSERT_EQ(loops[0].size(), 1u);
    const EDGE* built = loops[0][0]->edge();
    const PCURVE* pc = loops[0][0]->geometry();
    ASSERT_TRUE(pc && pc->has_equation() && built->geometry());
    ASSERT_TRUE(built->geometry()->equation().closed());
    ASSERT_FALSE(built->geometry()->equation().periodic());
    EXPECT_TRUE(bs2_curve_closed(pc->def().cur()));
    EXPECT_FALSE(bs2_curve_periodic(pc->def().cur()));
}
