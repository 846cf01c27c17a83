// The watch over a loop repair: choosing the side of a loop is what the step
// is for, so a face that changes its area by it is kept as long as it keeps
// its curves; a lost face, a new checker finding, changed curves or the
// volume of a sound solid still take the step back. Any other step that
// turns a loop is taken back.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "heal/repair_utils.hxx"
#include "heal/step_watch.hxx"
#include "model/body_set.hxx"
#include "model/kernel_call_bracket.hxx"
#include "qelx/qelx_test.hxx"
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
#include "velm/errors.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/insanity.hxx"
#include "velm/testkit.hxx"
#include "velm/topology_api.hxx"
#include "velm/topology_edit.hxx"

namespace {

class StepWatchOfLoops : public testkit::ConnectorTest {};

FACE* watchedFace(BODY* b) { return b->lump()->shell()->face(); }

// A one-loop cap on the sphere: on a closed surface either side of the loop
// is a face the checker accepts.
BODY* sphereCap() { return testkit::make_iso_rect_sheet(testkit::test_sphere(), {testkit::rect(-0.5, 0.5, -1, 1, true)}); }
BODY* planeSheet() { return testkit::make_polygon_sheet({{0, 0}, {10, 0}, {10, 10}, {0, 10}}); }
BODY* box() { return testkit::make_plane_box(10, 20, 30); }

void turnTheLoop(BODY* b) { reverse_loop(watchedFace(b)->loop()); }
void scaleUp(BODY* b)
{
    api_apply_transf(b, scale_transf(2.0));
    api_change_body_trans(b, nullptr);
}
// Grown by a thousandth: every face's area moves ten times what a step may
// move it.
void growALittle(BODY* b)
{
    api_apply_transf(b, scale_transf(1.001));
    api_change_body_trans(b, nullptr);
}
void removeAFace(BODY* b) { api_remove_face(watchedFace(b)); }
void turnAFace(BODY* b) { watchedFace(b)->set_sense(REVERSED); }

TEST_F(StepWatchOfLoops, ALoopRepairIsKeptOnlyWhileItKeepsTheCurvesAndTheSolid)
{
    const struct {
        const char* what;
        BODY* (*build)();
        const char* step;
        void (*work)(BODY*);
        bool harms;
    } cases[] = {
        {"the cap's loop turned by the one-face loop repair", sphereCap, "QELXVelmLoopRepair", turnTheLoop, false},
        {"the cap's loop turned by the classifying loop repair", sphereCap, "Ve_RepairLoops", turnTheLoop, false},
        {"the cap's loop turned by another step", sphereCap, "turnTheLoop", turnTheLoop, true},
        {"the cap's curves changed by a loop repair", sphereCap, "QELXVelmLoopRepair", scaleUp, true},
        {"a plane's only loop turned the wrong way", planeSheet, "QELXVelmLoopRepair", turnTheLoop, true},
        {"a face removed from a closed solid", box, "Ve_RepairLoops", removeAFace, true},
        {"a sheet grown by a thousandth by another step", planeSheet, "growALittle", growALittle, true},
        {"a face of a sound solid turned inside out", box, "Ve_RepairLoops", turnAFace, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        BODY* body = c.build();
        const std::string before = testkit::body_text(body);
        const double area = testkit::body_area(body);
        qelx_test::EventRecorder events;
        ve_heal::StepWatch watch(body, "body 4");
        EXPECT_EQ(watch.step(c.step, [&] { c.work(body); }), !c.harms);
        const auto warnings = events.names("Warning");
        if (c.harms) {
            EXPECT_EQ(testkit::body_text(body), before) << "the step was not taken back whole";
            ASSERT_EQ(warnings.size(), 1u);
            EXPECT_NE(warnings[0].find(c.step), std::string::npos) << warnings[0];
        } else {
            EXPECT_TRUE(warnings.empty());
            EXPECT_GT(std::fabs(testkit::body_area(body) - area), 0.1 * area) << "the loop was not turned";
            EXPECT_EQ(testkit::check_findings(body), "");
        }
        api_del_entity(body);
    }
}

// The watch checks each face again after every step that touched it and
// keeps the checker's verdict on each B-spline by its data: a curve changed
// in place is checked anew, both ways.
TEST_F(StepWatchOfLoops, ACurveChangedInPlaceIsCheckedAnewWhileTheChecksAreKept)
{
    BODY* sheet = testkit::make_spline_sheet();
    EDGE* edge = watchedFace(sheet)->loop()->start()->edge();
    ASSERT_TRUE(edge && edge->geometry() && edge->geometry()->equation().type() == 11);
    bs3_curve b = static_cast<intcurve&>(edge->geometry()->equation_for_update()).cur();
    int n = 0;
    QELposition* points = nullptr;
    bs3_curve_control_points(b, n, points);
    ASSERT_GE(n, 3);
    const QELposition first = points[0], second = points[1];
    delete[] points;
    const int badCurve = qelvelm_insanity_errmod.message_code(insanity_bad_curve);
    auto curveFound = [&] {
        insanity_list* findings = nullptr;
        EXPECT_TRUE(api_check_entity(sheet, findings).ok());
        const bool found = findings && findings->exist(badCurve);
        delete findings;
        return found;
    };
    check_geometry_memo kept;
    EXPECT_FALSE(curveFound());
    bs3_curve_set_ctrlpt(b, 1, first, 1.0); // two control points on one another
    EXPECT_TRUE(curveFound());
    bs3_curve_set_ctrlpt(b, 1, second, 1.0);
    EXPECT_FALSE(curveFound());
    api_del_entity(sheet);
}

// A loop check that cannot run (a kernel call failing inside it) leaves the
// step's effect unknown, not harmful: the step is kept and nothing is said.
TEST_F(StepWatchOfLoops, ACheckThatCannotRunIsNoFinding)
{
    BODY* sheet = planeSheet();
    qelx_test::EventRecorder events;
    ve_heal::StepWatch watch(sheet, "body 1");
    EXPECT_TRUE(watch.step("turnTheLoopTwice", [&] {
        turnTheLoop(sheet);
        turnTheLoop(sheet);
        velm_test_fail_call("api_check_face_loops", 1, qelvelm_api_errmod.message_code(VELM_API_FAILED));
    }));
    EXPECT_TRUE(events.names("Warning").empty()) << ::testing::PrintToString(events.names("Warning"));
    api_del_entity(sheet);
}

// A kernel error out of a step inside another is said by the step it left
// first: the innermost names where healing stopped, not the outer step it
// passed through after.
TEST_F(StepWatchOfLoops, AnErrorThroughNestedStepsNamesTheInnermost)
{
    BODY* sheet = planeSheet();
    ve_heal::StepWatch::takeFailedStep();
    ve_heal::StepWatch outer(sheet, "body 2");
    const outcome r = velmInnerCall([&] {
        outer.step("outerStep", [&] {
            ve_heal::StepWatch inner(sheet, "body 2");
            inner.step("innerStep", [&] { sys_error(qelvelm_api_errmod.message_code(VELM_API_FAILED)); });
        });
    });
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(ve_heal::StepWatch::takeFailedStep(), "step innerStep on body 2");
    EXPECT_EQ(ve_heal::StepWatch::takeFailedStep(), "");
    api_del_entity(sheet);
}

// A refused call a step inside another passed over is said and taken back
// by that step alone: the outer step is kept, with a refusal met before
// either step still unsaid.
TEST_F(StepWatchOfLoops, ARefusalANestedStepWasTakenBackForIsNotTheOuterStepsToo)
{
    BODY* sheet = planeSheet();
    const int refused = qelvelm_api_errmod.message_code(VELM_API_FAILED);
    ENTITY_LIST faces;
    velm_test_fail_call("api_get_faces", 1, refused);
    EXPECT_FALSE(api_get_faces(sheet, faces).ok());
    qelx_test::EventRecorder events;
    ve_heal::StepWatch outer(sheet, "body 2");
    bool innerKept = true;
    EXPECT_TRUE(outer.step("outerStep", [&] {
        ve_heal::StepWatch inner(sheet, "body 2");
        innerKept = inner.step("innerStep", [&] {
            velm_test_fail_call("api_get_faces", 1, refused);
            ENTITY_LIST again;
            api_get_faces(sheet, again);
        });
    }));
    EXPECT_FALSE(innerKept);
    const auto warnings = events.names("Warning");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("innerStep"), std::string::npos) << warnings[0];
    api_del_entity(sheet);
}

// The set's own standard repair is watched like a recipe's step: one that
// makes a body worse is taken back and named, one that leaves it better is
// kept, a tolerance raise that satisfies the checker included.
class StandardRepairWatch : public testkit::ConnectorTest {};

// A box and a small cube by its far corner, turned inside out: the body's
// reversal test looks from beyond that corner, meets the cube's inward side
// and turns the whole body inside out, the box with it.
BODY* boxAndInsideOutCube()
{
    BODY* big = testkit::make_plane_box(10, 20, 30);
    BODY* cube = testkit::make_plane_box(2, 2, 2);
    api_reverse_body(cube);
    api_apply_transf(cube, translate_transf(QELvector(12, 22, 32)));
    api_change_body_trans(cube, nullptr);
    LUMP* moved = cube->lump();
    cube->set_lump(nullptr);
    big->lump()->set_next(moved);
    moved->set_body(big);
    api_del_entity(cube);
    return big;
}

// A box whose far corner lies well off its edges, bounded between their
// vertices' feet: only a tolerance as wide as the move closes it.
BODY* boxWithCornerFarOff()
{
    BODY* box = testkit::make_box_with_moved_vertex(0.5);
    ENTITY_LIST edges;
    api_get_edges(box, edges);
    for (int i = 0; i < edges.count(); ++i)
        static_cast<EDGE*>(edges[i])->set_param_range(nullptr);
    return box;
}

TEST_F(StandardRepairWatch, TheSetsRepairIsKeptOnlyOnABodyNoWorse)
{
    const struct {
        const char* what;
        BODY* (*build)();
        bool harms;
    } cases[] = {
        {"a sound box turned inside out with its faulty lump", boxAndInsideOutCube, true},
        {"a corner far off its edges tolerated until the checker is satisfied", boxWithCornerFarOff, false},
    };
    on("_checkAndFixReverseBody");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        BODY* other = testkit::make_plane_box(5, 5, 5);
        BODY* body = c.build();
        const std::string before = testkit::body_text(body);
        const double volume = testkit::polyhedron_volume(body);
        Ve_CocoonTagHandle set(new Ve_CocoonTag);
        set->appendBody(reinterpret_cast<Ve_BodyTag*>(other));
        set->appendBody(reinterpret_cast<Ve_BodyTag*>(body));
        qelx_test::EventRecorder events;
        QELXVeRepairUtils::postProcessHeal(static_cast<Ve_CocoonTag*>(set));
        const auto warnings = events.names("Warning");
        if (c.harms) {
            EXPECT_TRUE(testkit::body_text(body) == before) << "the repair was not taken back whole";
            EXPECT_EQ(warnings.size(), 1u) << ::testing::PrintToString(warnings);
            if (!warnings.empty()) {
                EXPECT_NE(warnings[0].find("Healing step doStandardRepair made body 2 worse"), std::string::npos)
                    << warnings[0];
            }
        } else {
            EXPECT_TRUE(warnings.empty()) << ::testing::PrintToString(warnings);
            EXPECT_EQ(testkit::check_findings(body), "");
            EXPECT_EQ(testkit::count_faces(body), 6);
            EXPECT_FALSE(testkit::body_text(body) == before) << "the repair was not kept";
        }
        EXPECT_GT(testkit::polyhedron_volume(body), 0.9 * volume) << "turned inside out";
        api_del_entity(body);
        api_del_entity(other);
    }
}

} // namespace
