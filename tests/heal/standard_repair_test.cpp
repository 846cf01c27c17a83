// The standard repair sequence: its steps' order and events, clean bodies
// left alone, inside-out bodies turned, gaps tolerised, and what kernel
// failures leave behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "model/body_set.hxx"
#include "model/entity_views.hxx"
#include "qelx/qelx_test.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "support/connector_test.hxx"
#include "support/geometry_builders.hxx"
#include "support/heal_builders.hxx"
#include "support/loop_builders.hxx"
#include "support/model_builders.hxx"
#include "support/query_builders.hxx"
#include "support/repair_builders.hxx"
#include "support/repair_sweep.hxx"
#include "velm/bspline.hxx"
#include "velm/build.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/errors.hxx"
#include "velm/options.hxx"
#include "velm/spline_conversion.hxx"
#include "velm/testkit.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology_api.hxx"

namespace {

class StandardRepair : public testkit::ConnectorTest {};

Ve_BodyTag* repairTag(BODY* b) { return reinterpret_cast<Ve_BodyTag*>(b); }

// Every end closes the latest open start of the same task.
void expectPaired(const std::vector<std::string>& trace)
{
    std::vector<std::string> open;
    for (const std::string& t : trace) {
        const std::string base = t.substr(1, t.rfind(t[0] == '+' ? "Start" : "End") - 1);
        if (t[0] == '+') {
            open.push_back(base);
        } else {
            ASSERT_FALSE(open.empty()) << t;
            EXPECT_EQ(open.back(), base) << t;
            open.pop_back();
        }
    }
    EXPECT_TRUE(open.empty());
}

} // namespace

TEST_F(StandardRepair, StepsFireTheirEventsInOrderAndInPairs)
{
    on("_checkAndFixReverseBody");
    on("RemoveSliver");
    on("FixTedgeErrors");
    set("DoSplineResurface", QELXValue(1));
    BODY* box = testkit::make_plane_box();
    qelx_test::EventRecorder events;
    repairTag(box)->doStandardRepair();
    const std::vector<std::string> trace = testkit::task_trace(events.records());
    const std::vector<std::string> expected = {
        "+StandardRepairStart",
        "+RemoveSliverFacesAndRedundantVerticesStart",
        "+RemoveSliverFacesStart",
        "-RemoveSliverFacesEnd",
        "-RemoveSliverFacesAndRedundantVerticesEnd",
        "+TrimFacesStart",
        "-TrimFacesEnd",
        "+TolerizeEdgesVerticesOfFacesStart",
        "-TolerizeEdgesVerticesOfFacesEnd",
        "+CorrectPlanarFaceSenseStart",
        "-CorrectPlanarFaceSenseEnd",
        "+FixTTIErrorsByVELMAPIStart",
        "-FixTTIErrorsByVELMAPIEnd",
        "+FixTTIErrorsStart",
        "-FixTTIErrorsEnd",
        "+ResurfacingStart",
        "-ResurfacingEnd",
        "-StandardRepairEnd",
    };
    EXPECT_EQ(trace, expected);
    expectPaired(trace);
    for (const qelx_test::EventRecord& r : events.records())
        if (r.kind == "StartTask" || r.kind == "EndTask") {
            EXPECT_EQ(r.level, 50) << r.name;
            if (r.kind == "EndTask") {
                EXPECT_EQ(r.result, 0u) << r.name;
                EXPECT_TRUE(r.flag) << r.name;
            }
        }
    api_del_entity(box);
}

// With every switch off only the steps that always run fire their events;
// a body of wires (open, closed, a lone point) gets no face tolerising, and
// comes out as sound as it went in.
TEST_F(StandardRepair, OnlyTheAlwaysStepsRunWithEverySwitchOff)
{
    const std::vector<std::string> faces = {
        "+StandardRepairStart",     "+TrimFacesStart",
        "-TrimFacesEnd",            "+TolerizeEdgesVerticesOfFacesStart",
        "-TolerizeEdgesVerticesOfFacesEnd", "+CorrectPlanarFaceSenseStart",
        "-CorrectPlanarFaceSenseEnd",       "-StandardRepairEnd",
    };
    const std::vector<std::string> wires = {
        "+StandardRepairStart", "+TrimFacesStart", "-TrimFacesEnd", "+CorrectPlanarFaceSenseStart",
        "-CorrectPlanarFaceSenseEnd", "-StandardRepairEnd",
    };
    struct Case {
        const char* what;
        BODY* (*make)();
        const std::vector<std::string>* expected;
    };
    const Case cases[] = {
        {"a box", [] { return testkit::make_plane_box(); }, &faces},
        {"an open wire", [] { return testkit::make_wire_body(3, false); }, &wires},
        {"a closed wire", [] { return testkit::make_wire_body(3, true); }, &wires},
        {"a point", [] { return testkit::make_vertex_body(QELposition(1.0, 2.0, 3.0)); }, &wires},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BODY* body = c.make();
        qelx_test::EventRecorder events;
        repairTag(body)->doStandardRepair();
        EXPECT_EQ(testkit::task_trace(events.records()), *c.expected);
        EXPECT_EQ(testkit::model_problems(body), "");
        api_del_entity(body);
    }
}

TEST_F(StandardRepair, ACleanBodyIsUnchangedInEveryFrame)
{
    on("_checkAndFixReverseBody");
    on("RemoveSliver");
    on("FixTedgeErrors");
    on("SplitEdgesAtPoles");
    on("FixCurveSense");
    on("CheckVelmTolerizeUsability");
    for (const QELtransf& frame : testkit::heal_frames()) {
        BODY* box = testkit::make_framed_box(frame);
        const std::string before = testkit::body_text(box);
        repairTag(box)->doStandardRepair();
        EXPECT_EQ(testkit::body_text(box), before);
        EXPECT_EQ(testkit::check_findings(box), "");
        api_del_entity(box);
    }
}

// A sliver narrower than the resolution across a box's top goes, in every
// frame, whether no sliver tolerance is given or one of 0 (each then means
// the resolution); a sliver tolerance a tenth of the width leaves it.
TEST_F(StandardRepair, ASliverUnderTheResolutionGoesWhenNoSliverToleranceIsGiven)
{
    on("RemoveSliver");
    struct Case {
        const char* what;
        double tolerance; // negative: not given
        bool goes;
    };
    const Case cases[] = {{"none given", -1.0, true}, {"0 given", 0.0, true}, {"a fifth of the width", 1e-7, false}};
    for (const Case& c : cases)
        for (const QELtransf& frame : testkit::heal_frames()) {
            SCOPED_TRACE(std::string(c.what) + (frame.identity() ? ", identity" : ", framed"));
            qelx_test::OptionScope scope;
            if (c.tolerance >= 0.0)
                scope.set(Ve_OptionDoc::keyOf("RemoveSliverTolerance"), QELXValue(c.tolerance));
            // Half the resolution wide across a top 1 deep: a sliver at the resolution.
            BODY* box = testkit::make_box_with_sliver(5e-7, 4.0, 10.0, 1.0, 3.0);
            if (!frame.identity()) {
                ASSERT_TRUE(api_apply_transf(box, frame).ok());
                ASSERT_TRUE(api_change_body_trans(box, nullptr).ok());
            }
            const int faces = testkit::count_faces(box);
            repairTag(box)->RemoveSliverFacesAndRedundantVertices();
            EXPECT_EQ(testkit::count_faces(box), c.goes ? faces - 1 : faces);
            EXPECT_EQ(testkit::check_findings(box), "");
            api_del_entity(box);
        }
}

TEST_F(StandardRepair, AnInsideOutBodyIsTurnedOnlyWhenTheSwitchIsOn)
{
    for (const bool fix : {false, true}) {
        qelx_test::OptionScope scope;
        if (fix)
            scope.on(Ve_OptionDoc::keyOf("_checkAndFixReverseBody"));
        for (const QELtransf& frame : testkit::heal_frames()) {
            BODY* box = testkit::make_framed_box(frame);
            const std::string good = testkit::body_text(box);
            EXPECT_EQ(repairTag(box)->CheckContainmentOf(), 3) << "outside a sound body";
            ASSERT_TRUE(api_reverse_body(box).ok());
            const std::string turned = testkit::body_text(box);
            EXPECT_EQ(repairTag(box)->CheckContainmentOf(), 1) << "inside an inside-out body";
            repairTag(box)->doStandardRepair();
            EXPECT_EQ(testkit::body_text(box), fix ? good : turned);
            api_del_entity(box);
        }
    }
}

TEST_F(StandardRepair, AFailedReversalLeavesTheBodyInsideOut)
{
    const long runs = testkit::sweep_kernel_calls(
        [] {
            BODY* box = testkit::make_plane_box();
            api_reverse_body(box);
            return box;
        },
        [](BODY* b) { repairTag(b)->CheckAndFixReverseBody(); });
    EXPECT_GT(runs, 0);
}

TEST_F(StandardRepair, AVertexOffItsEdgesGoesWhereTheirCurvesMeetAndTheCheckerIsSatisfied)
{
    for (const double offset : {2e-5, 1e-3}) {
        BODY* box = testkit::make_box_with_moved_vertex(offset);
        // The edges bounded between their vertices' feet, as a STEP file
        // bounds them: their lines still meet at the corner.
        ENTITY_LIST edges;
        api_get_edges(box, edges);
        for (int i = 0; i < edges.count(); ++i)
            static_cast<EDGE*>(edges[i])->set_param_range(nullptr);
        EXPECT_NE(testkit::check_findings(box), "") << "the model is built faulty";
        const int faces = testkit::count_faces(box);
        repairTag(box)->doStandardRepair();
        EXPECT_EQ(testkit::check_findings(box), "") << offset;
        EXPECT_EQ(testkit::count_faces(box), faces);
        ENTITY_LIST vertices;
        api_get_vertices(box, vertices);
        int tolerant = 0;
        for (int i = 0; i < vertices.count(); ++i)
            tolerant += is_TVERTEX(vertices[i]) ? 1 : 0;
        EXPECT_EQ(tolerant, 0);
        EXPECT_NEAR(testkit::body_area(box), 2200.0, 1e-6);
        api_del_entity(box);
    }
}

// A face whose plane lies off its neighbours (a sender's surfaces that do not
// meet, as a trimmed-surface file's may): its edges become tolerant, and so
// do its vertices, each wide enough for where every pcurve at it ends, not
// only its edges' curves; the checker at its strictest (tolerant vertices
// held to their coedges' ends) finds nothing, in every frame, by either
// tolerising method.
TEST_F(StandardRepair, AFaceOffItsNeighboursIsToleratedWithVerticesCoveringItsPcurveEnds)
{
    option_header* level = find_option("check_level");
    ASSERT_NE(level, nullptr);
    for (const bool usability : {false, true})
        for (const QELtransf& frame : testkit::heal_frames())
            for (const double gap : {2e-3, 0.05}) {
                SCOPED_TRACE(std::to_string(usability) + " " + std::to_string(gap));
                qelx_test::OptionScope scope;
                if (usability)
                    scope.on(Ve_OptionDoc::keyOf("CheckVelmTolerizeUsability"));
                BODY* box = testkit::make_framed_box(frame);
                ENTITY_LIST faces;
                api_get_faces(box, faces);
                FACE* moved = static_cast<FACE*>(faces[0]);
                plane shifted = static_cast<const plane&>(moved->geometry()->equation());
                shifted.root_point = shifted.root_point + gap * shifted.normal;
                moved->set_geometry(make_surface(shifted));
                repairTag(box)->doStandardRepair();
                level->set(30);
                EXPECT_EQ(testkit::check_findings(box), "");
                level->reset();
                EXPECT_EQ(testkit::count_faces(box), 6);
                ENTITY_LIST vertices;
                api_get_vertices(moved, vertices);
                ASSERT_EQ(vertices.count(), 4);
                for (int i = 0; i < vertices.count(); ++i) {
                    const VERTEX* v = static_cast<const VERTEX*>(vertices[i]);
                    EXPECT_TRUE(is_TVERTEX(v));
                    EXPECT_GE(v->get_tolerance(), gap * (1.0 - 1e-9));
                }
                api_del_entity(box);
            }
}

TEST_F(StandardRepair, AKernelFailureAnywhereLeavesASoundBodyAndLeaksNothing)
{
    on("RemoveSliver");
    on("FixTedgeErrors");
    on("_checkAndFixReverseBody");
    long n = 1;
    for (;; ++n) {
        BODY* box = testkit::make_box_with_moved_vertex(1e-3);
        const int faces = testkit::count_faces(box);
        velm_test_fail_call("*", n, qelvelm_api_errmod.message_code(VELM_API_FAILED));
        {
            qelx_test::EventRecorder events;
            repairTag(box)->doStandardRepair();
            expectPaired(testkit::task_trace(events.records()));
        }
        const bool injected = !velm_test_injection_pending();
        velm_test_reset();
        EXPECT_EQ(testkit::model_problems(box), "") << "failure at call " << n;
        EXPECT_EQ(testkit::count_faces(box), faces) << "failure at call " << n;
        api_del_entity(box);
        if (!injected)
            break;
    }
    EXPECT_GT(n, 10);
}

TEST_F(StandardRepair, TheSetRepairsEachBody)
{
    on("_checkAndFixReverseBody");
    BODY* a = testkit::make_plane_box();
    BODY* b = testkit::make_plane_box(3.0, 4.0, 5.0);
    const std::string goodA = testkit::body_text(a);
    const std::string goodB = testkit::body_text(b);
    api_reverse_body(a);
    api_reverse_body(b);
    QELXDynamicArray<Ve_BodyTag*> bodies;
    bodies.Add(repairTag(a));
    bodies.Add(repairTag(b));
    Ve_CocoonTag set(bodies);
    set.repairBodies();
    EXPECT_EQ(testkit::body_text(a), goodA);
    EXPECT_EQ(testkit::body_text(b), goodB);
    api_del_entity(a);
    api_del_entity(b);
}

TEST_F(StandardRepair, TheTolerantEdgeStepPutsBackTheKernelOptionsItChanges)
{
    option_header* level = find_option("check_level");
    option_header* pcurve = find_option("new_pcurve");
    ASSERT_NE(level, nullptr);
    ASSERT_NE(pcurve, nullptr);
    level->set(7);
    for (const int was : {0, 1}) {
        pcurve->set(was);
        BODY* box = testkit::make_plane_box();
        bool changed = false;
        repairTag(box)->FixTTIErrors(changed);
        EXPECT_FALSE(changed);
        EXPECT_EQ(level->count(), 7);
        EXPECT_EQ(pcurve->count(), was);
        api_del_entity(box);
    }
    level->reset();
    pcurve->reset();
}

// Whichever way the edge runs along its curve: pcurves that agree with it are
// left, one turned round is rebuilt.
TEST_F(StandardRepair, APcurveRunningAgainstItsEdgeIsRebuiltAndAgreeingOnesAreLeft)
{
    for (const bool edgeReversed : {false, true}) {
        SCOPED_TRACE(edgeReversed ? "edge against its curve" : "edge along its curve");
        BODY* box = testkit::make_plane_box();
        ENTITY_LIST coedges;
        api_get_coedges(box, coedges);
        auto* c = static_cast<COEDGE*>(coedges[0]);
        if (edgeReversed) {
            // The same line run the other way, under a reversed edge: the
            // edge's points and range stay, its coedges get fresh pcurves.
            EDGE* e = c->edge();
            const QELinterval r = e->param_range();
            const straight& line = static_cast<const straight&>(e->geometry()->equation());
            e->set_geometry(make_curve(straight(line.root_point, -line.direction, line.param_scale)));
            e->set_sense(REVERSED);
            e->set_param_range(&r);
            for (COEDGE* co : {e->coedge(), e->coedge()->partner()}) {
                co->set_geometry(nullptr);
                sg_add_pcurve_to_coedge(co);
            }
            ASSERT_EQ(testkit::check_findings(box), "");
        }
        const std::string sound = testkit::body_text(box);
        bool changed = false;
        repairTag(box)->FixTTIErrors(changed);
        EXPECT_EQ(testkit::body_text(box), sound) << "pcurves that agree stay untouched";

        // One coedge's pcurve is turned round: it now runs against its edge.
        const pcurve& own = c->geometry()->def();
        bs2_curve turned = bs2_curve_copy(own.cur());
        bs2_curve_reverse(turned);
        const FACE* face = c->loop()->face();
        c->set_geometry(new PCURVE(pcurve(turned, QELresfit, face->geometry()->equation())));
        EXPECT_NE(testkit::check_findings(box), "");
        repairTag(box)->FixTTIErrors(changed);
        EXPECT_FALSE(changed);
        EXPECT_EQ(testkit::check_findings(box), "");
        EXPECT_EQ(testkit::count_faces(box), 6);
        api_del_entity(box);
    }
}

TEST_F(StandardRepair, ASplineFaceIsResurfacedAndItsEdgesMadeToFit)
{
    set("DoSplineResurface", QELXValue(1));
    BODY* sheet = testkit::make_spline_sheet();
    qelx_test::EventRecorder events;
    repairTag(sheet)->doStandardRepair();
    const std::vector<std::string> trace = testkit::task_trace(events.records());
    EXPECT_NE(std::find(trace.begin(), trace.end(), "+ResurfacingStart"), trace.end());
    EXPECT_NE(std::find(trace.begin(), trace.end(), "+FixTTIErrorsByVELMAPIStart"), trace.end())
        << "a new surface asks for the kernel's tolerant-edge fix";
    expectPaired(trace);
    EXPECT_EQ(testkit::check_findings(sheet), "");
    api_del_entity(sheet);
}

// A pcurve that runs along its edge but strays from it by more than the
// resolution (here 1e-4, well inside the fit tolerance) disagrees with it:
// the tolerant-edge step rebuilds it, and the box comes out sound.
TEST_F(StandardRepair, APcurveStrayingFromItsEdgeByMoreThanTheResolutionIsRebuilt)
{
    for (const double stray : {1e-4, 1e-5}) {
        SCOPED_TRACE(stray);
        BODY* box = testkit::make_plane_box();
        ENTITY_LIST coedges;
        api_get_coedges(box, coedges);
        auto* c = static_cast<COEDGE*>(coedges[0]);
        const pcurve& own = c->geometry()->def();
        bs2_curve moved = bs2_curve_copy(own.cur());
        bs2_curve_par_trans(moved, QELpar_transf(1.0, 1.0, stray, stray));
        const FACE* face = c->loop()->face();
        pcurve shifted(moved, QELresfit, face->geometry()->equation());
        if (own.reversed())
            shifted.negate();
        c->set_geometry(new PCURVE(shifted));
        ASSERT_GT(testkit::worst_pcurve_gap(c), stray);
        bool changed = false;
        repairTag(box)->FixTTIErrors(changed);
        EXPECT_EQ(testkit::check_findings(box), "");
        ENTITY_LIST after;
        api_get_coedges(box, after);
        for (int i = 0; i < after.count(); ++i)
            EXPECT_LT(testkit::worst_pcurve_gap(static_cast<COEDGE*>(after[i])), QELresabs);
        EXPECT_EQ(testkit::count_faces(box), 6);
        api_del_entity(box);
    }
}

namespace {

// The box's far corner, moved off by `offset` in x and y; with `feet` each of
// its edges is bounded anew by the corner's foot on its line, so that the
// edges' ends stray from one another about as far as from the corner.
BODY* boxWithMovedCorner(double offset, bool feet, VERTEX*& corner)
{
    BODY* b = testkit::make_box_with_moved_vertex(offset);
    corner = nullptr;
    ENTITY_LIST vertices;
    api_get_vertices(b, vertices);
    for (int i = 0; i < vertices.count() && !corner; ++i) {
        auto* v = static_cast<VERTEX*>(vertices[i]);
        if (v->geometry()->coords().z() > 29.0 && v->geometry()->coords().x() > 9.0 && v->geometry()->coords().y() > 19.0)
            corner = v;
    }
    if (!corner || !feet)
        return b;
    const QELposition at = corner->geometry()->coords();
    ENTITY_LIST edges;
    api_get_edges(corner, edges);
    for (int i = 0; i < edges.count(); ++i) {
        auto* e = static_cast<EDGE*>(edges[i]);
        const curve& eq = e->geometry()->equation();
        const double sign = e->sense() == REVERSED ? -1.0 : 1.0;
        const double foot = sign * eq.param(at);
        const QELinterval r = e->param_range();
        const QELinterval bounded = e->start() == corner ? QELinterval(foot, r.end_pt()) : QELinterval(r.start_pt(), foot);
        e->set_param_range(&bounded);
    }
    return b;
}

} // namespace

// A corner moved off goes back where its edges' curves meet, whether the
// edges still end there or are bounded by the corner's feet on their lines;
// curves that pass through no one point (one line moved off the others)
// tell nothing of where the corner is, and it stays where it was written.
TEST_F(StandardRepair, AMovedCornerGoesWhereItsEdgesCurvesMeetOnlyWhenTheyMeet)
{
    const double offset = 1e-4;
    enum Edges { endTogether, atItsFeet, curvesApart };
    for (const Edges kind : {endTogether, atItsFeet, curvesApart}) {
        SCOPED_TRACE(kind == endTogether ? "edges ending together"
                     : kind == atItsFeet ? "edges bounded by the corner's feet"
                                         : "one line moved off the others");
        VERTEX* corner = nullptr;
        BODY* b = boxWithMovedCorner(offset, kind != endTogether, corner);
        ASSERT_NE(corner, nullptr);
        if (kind == curvesApart) {
            EDGE* e = corner->edge(0);
            const straight& line = static_cast<const straight&>(e->geometry()->equation());
            const QELvector across = QELvector(1e-3, 1e-3, 1e-3) - ((QELvector(1e-3, 1e-3, 1e-3) % line.direction) * line.direction);
            e->set_geometry(new STRAIGHT(straight(line.root_point + across, line.direction, line.param_scale)));
        }
        const QELposition written = corner->geometry()->coords();
        repairTag(b)->TolerizeEdgesVerticesOfFaces();
        ENTITY_LIST vertices;
        api_get_vertices(b, vertices);
        double nearestToWritten = 1e9, nearestToCorner = 1e9;
        for (int i = 0; i < vertices.count(); ++i) {
            const QELposition p = static_cast<VERTEX*>(vertices[i])->geometry()->coords();
            nearestToWritten = std::min(nearestToWritten, distance(p, written));
            nearestToCorner = std::min(nearestToCorner, distance(p, QELposition(10, 20, 30)));
        }
        if (kind == curvesApart) {
            EXPECT_LT(nearestToWritten, 1e-12);
        } else {
            EXPECT_LT(nearestToCorner, 1e-9);
        }
        api_del_entity(b);
    }
}

// The resurfacing measures the edges of each face it gives a new surface
// there and then: an edge whose curve strays from the face by more than the
// resolution comes out tolerant and the sheet checks clean, with no later
// step's help; by less than the resolution, nothing is made tolerant.
TEST_F(StandardRepair, AResurfacedFacesEdgesAreMadeTolerantWhereTheyStray)
{
    for (const double stray : {1e-4, 1e-8}) {
        SCOPED_TRACE(stray);
        BODY* sheet = testkit::make_spline_sheet();
        const FACE* face = testkit::faces_of(sheet).front();
        EDGE* edge = face->loop()->start()->edge();
        const curve& eq = edge->geometry()->equation();
        const QELposition mid = eq.eval_position(eq.param_range().mid_pt());
        const surface& srf = face->geometry()->equation();
        const QELvector off = stray * QELvector(srf.eval_normal(srf.param(mid)));
        std::unique_ptr<curve> moved(eq.make_copy());
        *moved *= translate_transf(off);
        edge->set_geometry(make_curve(*moved));
        const bool faulty = stray > QELresabs;
        ASSERT_EQ(testkit::check_findings(sheet) != "", faulty) << "the model is built as meant";

        bool changed = false;
        repairTag(sheet)->ResurfaceBadSurfaces(changed);
        ASSERT_TRUE(changed) << "the face has a new surface";
        EXPECT_EQ(testkit::check_findings(sheet), "");
        ENTITY_LIST edges;
        api_get_edges(sheet, edges);
        int tolerant = 0;
        for (int i = 0; i < edges.count(); ++i)
            tolerant += is_TEDGE(edges[i]) ? 1 : 0;
        EXPECT_EQ(tolerant, faulty ? 1 : 0);
        api_del_entity(sheet);
    }
}

// A spline face whose control points cannot be read is left as it is: the
// kernel runs out of memory making the B-spline of a surface of revolution
// (which it makes on first asking), or has none to make (a revolved line
// without ends). Read, the face is resurfaced.
TEST_F(StandardRepair, ASplineFaceWhoseControlPointsCannotBeReadIsNotResurfaced)
{
    enum Case { readable, outOfMemory, noBSpline };
    for (const Case c : {readable, outOfMemory, noBSpline}) {
        SCOPED_TRACE(c == readable ? "control points read" : c == outOfMemory ? "out of memory" : "no B-spline");
        const straight line(QELposition(1.0, 0.0, 0.0), normalise(QELvector(1.0, 0.0, 1.0)));
        const intcurve profile(bs3_curve_make_cur(line, 0.0, 1.0, QELresabs), QELresabs);
        const curve& revolving = c == noBSpline ? static_cast<const curve&>(line) : profile;
        const spline revolved(VELM_NEW rot_spl_sur(revolving, QELposition(0.0, 0.0, 0.0), QELvector(0.0, 0.0, 1.0)));
        BODY* sheet = testkit::make_iso_rect_sheet(revolved, {testkit::rect(0.1, 0.9, 0.2, 1.2, true)});
        FACE* face = testkit::faces_of(sheet).front();
        const SURFACE* before = face->geometry();
        if (c == outOfMemory)
            velm_test_fail_alloc("bspline_core", 1);
        bool changed = false;
        repairTag(sheet)->ResurfaceBadSurfaces(changed);
        EXPECT_FALSE(velm_test_injection_pending());
        velm_test_reset();
        EXPECT_EQ(changed, c == readable);
        EXPECT_EQ(face->geometry() != before, c == readable);
        EXPECT_EQ(testkit::check_findings(sheet), "");
        api_del_entity(sheet);
    }
}

// With the usability check on, the edges and vertices are tolerised the new
// way (the vertices after the kernel's vertex check) only where every loop
// joins up both ways: a loop whose one coedge names as its next a coedge
// that does not start where it ends (the links back all sound) does not
// join, and no vertex is checked.
TEST_F(StandardRepair, ALoopWhoseNextLinkSkipsACoedgeIsTolerisedTheOldWay)
{
    on("CheckVelmTolerizeUsability");
    for (const bool skipping : {false, true}) {
        SCOPED_TRACE(skipping ? "a next link skipping a coedge" : "sound links");
        BODY* box = testkit::make_plane_box();
        COEDGE* first = testkit::faces_of(box).front()->loop()->start();
        COEDGE* skipped = first->next();
        if (skipping)
            first->set_next(skipped->next());
        velm_test_record_calls(true);
        repairTag(box)->TolerizeEdgesVerticesOfFaces();
        const long checks = velm_test_call_count("api_check_vertex_errors");
        velm_test_reset();
        first->set_next(skipped);
        if (skipping)
            EXPECT_EQ(checks, 0);
        else
            EXPECT_GT(checks, 0);
        EXPECT_EQ(testkit::check_findings(box), "");
        api_del_entity(box);
    }
}

// A body of one face with a hundred loops or more is not resurfaced (its
// task never starts); one loop fewer and it is.
TEST_F(StandardRepair, AOneFaceBodyOfAHundredLoopsIsNotResurfaced)
{
    for (const int loops : {99, 100}) {
        SCOPED_TRACE(loops);
        std::vector<testkit::iso_rect> rects = {testkit::rect(0, 400, 0, 4, true)};
        for (int k = 1; k < loops; ++k)
            rects.push_back(testkit::rect(4.0 * k, 4.0 * k + 1.0, 1, 2, false));
        BODY* sheet = testkit::make_iso_rect_sheet(testkit::test_plane(), rects);
        qelx_test::EventRecorder events;
        bool changed = false;
        repairTag(sheet)->ResurfaceBadSurfaces(changed);
        const std::vector<std::string> starts = events.names("StartTask");
        EXPECT_EQ(std::count(starts.begin(), starts.end(), "ResurfacingStart"), loops < 100 ? 1 : 0);
        api_del_entity(sheet);
    }
}

// The pcurves of an edge run over its curve's whole period (a circle round
// a cylinder band) are marked periodic when the body's edges are tolerized.
TEST_F(StandardRepair, PcurvesOfAWholePeriodEdgeAreMarkedPeriodic)
{
    BODY* band = testkit::make_cylinder_band();
    sg_add_pcurves_to_entity(band);
    std::vector<COEDGE*> round;
    ENTITY_LIST coedges;
    api_get_coedges(band, coedges);
    for (int i = 0; i < coedges.count(); ++i) {
        auto* c = static_cast<COEDGE*>(coedges[i]);
        if (c->edge()->geometry()->equation().periodic() && c->geometry())
            round.push_back(c);
    }
    ASSERT_FALSE(round.empty());
    for (COEDGE* c : round)
        ASSERT_EQ(bs2_curve_periodic(c->geometry()->def().cur()), 0);
    repairTag(band)->TolerizeEdgesVerticesOfFaces();
    for (COEDGE* c : round) {
        ASSERT_NE(c->geometry(), nullptr);
        EXPECT_NE(bs2_curve_periodic(c->geometry()->def().cur()), 0);
    }
    api_del_entity(band);
}
