// Healing that never harms: what the recipes and the STEP healer leave when a
// step would make a body worse, faces a sign alone would condemn, bodies that
// two steps both hand back, and a vertex shared with a removed wire loop.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "heal/repair_utils.hxx"
#include "heal/step_healer.hxx"
#include "heal/step_watch.hxx"
#include "model/body_set.hxx"
#include "model/entity_views.hxx"
#include "qelx/qelx_test.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "support/connector_test.hxx"
#include "support/geometry_builders.hxx"
#include "support/heal_builders.hxx"
#include "support/model_builders.hxx"
#include "support/query_builders.hxx"
#include "support/repair_builders.hxx"
#include "support/repair_sweep.hxx"
#include "velm/build.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/query.hxx"
#include "velm/testkit.hxx"
#include "velm/topology_api.hxx"
#include "velm/topology_edit.hxx"
#include "velm/tolerant.hxx"

namespace {

class RecipeSoundness : public testkit::ConnectorTest {};

Ve_BodyTag* soundTag(BODY* b) { return reinterpret_cast<Ve_BodyTag*>(b); }
BODY* soundBody(Ve_BodyTag* b) { return reinterpret_cast<BODY*>(b); }

FACE* firstFace(BODY* b) { return b->lump()->shell()->face(); }

// A square sheet whose slit (there and back) leaves its corner (0, 0), where
// two outer edges meet as well; the slit's first edge is listed at the
// corner after an outer edge.
BODY* makeSquareWithCornerSlit()
{
    BODY* sheet = testkit::make_polygon_sheet({{0, 0}, {10, 0}, {10, 10}, {0, 10}});
    FACE* face = firstFace(sheet);
    VERTEX* corner = nullptr;
    for (COEDGE* c = face->loop()->start();; c = c->next()) {
        if (distance(c->start()->geometry()->coords(), QELposition(0, 0, 0)) == 0.0)
            corner = c->start();
        if (corner || c->next() == face->loop()->start())
            break;
    }
    EXPECT_NE(corner, nullptr);
    testkit::add_slit_loop(face, corner, QELposition(4, 3, 0));
    return sheet;
}

TEST_F(RecipeSoundness, TheStepHealerListsAOneFaceSheetWithAWireOnce)
{
    BODY* sheet = testkit::make_sheet_with_shell_wire();
    ASSERT_TRUE(soundTag(sheet)->isWireBody());
    QELXDynamicArray<Ve_BodyTag*> result;
    ASSERT_EQ(QELXStepVelmHealer::xstep_heal_body(soundTag(sheet), result, true), 1);
    int listed = 0;
    for (int i = 0; i < result.Count(); ++i) {
        for (int j = i + 1; j < result.Count(); ++j)
            EXPECT_NE(result[i], result[j]) << "one body listed twice";
        listed += result[i] == soundTag(sheet) ? 1 : 0;
    }
    EXPECT_EQ(listed, 1);
    for (int i = 0; i < result.Count(); ++i)
        if (result[i] != soundTag(sheet))
            api_del_entity(soundBody(result[i]));
    api_del_entity(sheet);
}

TEST_F(RecipeSoundness, ARemovedWireLoopLeavesItsCornerNamingLiveEdgesOnly)
{
    for (const bool slitFirst : {false, true}) {
        SCOPED_TRACE(slitFirst ? "slit edge listed first" : "slit edge listed after an outer edge");
        BODY* sheet = makeSquareWithCornerSlit();
        FACE* face = firstFace(sheet);
        VERTEX* corner = face->loop()->next()->start()->start();
        ASSERT_EQ(distance(corner->geometry()->coords(), QELposition(0, 0, 0)), 0.0);
        if (slitFirst) {
            EDGE* slitEdge = face->loop()->next()->start()->edge();
            std::vector<EDGE*> others;
            for (int i = 0; corner->edge(i); ++i)
                if (corner->edge(i) != slitEdge)
                    others.push_back(corner->edge(i));
            corner->set_edge(slitEdge);
            for (EDGE* e : others)
                corner->add_edge(e);
        }
        ASSERT_GE(corner->count_edges(), 2);
        EXPECT_TRUE(QELXStepVelmHealer::checkAndRemoveWireLoops(face));
        EXPECT_EQ(face->loop()->next(), nullptr);
        EXPECT_EQ(testkit::count_edges(sheet), 4);
        for (int i = 0; corner->edge(i); ++i)
            EXPECT_TRUE(velm_is_live_entity(corner->edge(i)) && !corner->edge(i)->is_lost());
        EXPECT_EQ(testkit::model_problems(sheet), "");
        EXPECT_EQ(testkit::check_findings(sheet), "");
        api_del_entity(sheet);
    }
}

// A face whose area comes out negative (its loop runs the wrong way) is
// still a face: the Ug recipe removes faces of no area only.
TEST_F(RecipeSoundness, UgKeepsAFaceWhoseAreaComesOutNegative)
{
    qelx_test::OptionScope scope;
    scope.on(Ve_OptionDoc::keyOf("HealBodyPostProcessUg"));
    BODY* sheet = testkit::make_polygon_sheet({{0, 0}, {10, 0}, {10, 10}, {0, 10}});
    reverse_loop(firstFace(sheet)->loop());
    double area = 0.0, achieved = 0.0;
    ASSERT_TRUE(api_ent_area(sheet, 1e-3, area, achieved).ok());
    ASSERT_LT(area, -1.0);
    QELXDynamicArray<Ve_BodyTag*> bodies;
    bodies.Add(soundTag(sheet));
    Ve_CocoonTagHandle set(new Ve_CocoonTag(bodies));
    QELXVeRepairUtils::postProcessHeal(static_cast<Ve_CocoonTag*>(set));
    ASSERT_EQ(set->getBodies().Count(), 1);
    EXPECT_EQ(set->getBodies()[0], soundTag(sheet));
    EXPECT_EQ(testkit::count_faces(sheet), 1);
    api_del_entity(sheet);
}

// The body twice as large, in its own geometry (no transform left to undo).
void scaleIntoGeometry(BODY* b)
{
    api_apply_transf(b, scale_transf(2.0));
    api_change_body_trans(b, nullptr);
}

// The first face's plane replaced by an equal one: a new surface, no change.
void planeAnew(BODY* b)
{
    FACE* face = firstFace(b);
    face->set_geometry(make_surface(face->geometry()->equation()));
}

// The watch keeps a step that leaves the body no worse, and takes back one
// that makes it worse, with a warning naming the body and the step.
TEST_F(RecipeSoundness, AStepThatHarmsItsBodyIsTakenBackAndNamed)
{
    struct Case {
        const char* step;
        void (*work)(BODY*);
        bool harms;
    };
    const Case cases[] = {
        {"nothing", [](BODY*) {}, false},
        {"moveTheWholeBody", [](BODY* b) { api_apply_transf(b, translate_transf(QELvector(1, 2, 3))); }, false},
        {"loseAFace",
         [](BODY* b) {
             BODY* alone = nullptr;
             api_unhook_face(firstFace(b), alone);
             api_del_entity(alone);
         },
         true},
        {"moveAVertexOffItsEdges",
         [](BODY* b) {
             VERTEX* v = firstFace(b)->loop()->start()->start();
             v->geometry()->set_coords(v->geometry()->coords() + QELvector(0, 0, 0.5));
         },
         true},
        {"raiseATolerance",
         [](BODY* b) {
             TVERTEX* t = nullptr;
             api_replace_vertex_with_tvertex(firstFace(b)->loop()->start()->start(), t);
             t->set_tolerance(2.0);
         },
         true},
        {"turnAFaceInsideOut", [](BODY* b) { firstFace(b)->set_sense(REVERSED); }, true},
        {"scaleTheGeometry", scaleIntoGeometry, true},
        {"aPlaneAnew", planeAnew, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.step);
        BODY* box = testkit::make_plane_box(10, 20, 30);
        const std::string before = testkit::body_text(box);
        qelx_test::EventRecorder events;
        ve_heal::StepWatch watch(box, "body 7");
        const bool kept = watch.step(c.step, [&] { c.work(box); });
        EXPECT_EQ(kept, !c.harms);
        const std::vector<std::string> warnings = events.names("Warning");
        if (c.harms) {
            EXPECT_EQ(testkit::body_text(box), before) << "the step was not taken back whole";
            ASSERT_EQ(warnings.size(), 1u);
            EXPECT_NE(warnings[0].find("body 7"), std::string::npos) << warnings[0];
            EXPECT_NE(warnings[0].find(c.step), std::string::npos) << warnings[0];
        } else {
            EXPECT_TRUE(warnings.empty());
        }
        EXPECT_EQ(testkit::check_findings(box), "");
        api_del_entity(box);
    }
}

// A sheet has no volume to lose: a face grown or shrunk shows in its area
// alone, and so does a face mended by its own loops (a wrong-way hole) not.
TEST_F(RecipeSoundness, AStepThatChangesAFaceAreaOnASheetIsTakenBack)
{
    const struct {
        const char* step;
        void (*work)(BODY*);
        bool harms;
    } cases[] = {
        {"scaleTheGeometry", scaleIntoGeometry, true},
        {"turnTheLoop", [](BODY* b) { reverse_loop(firstFace(b)->loop()); }, true},
        {"aPlaneAnew", planeAnew, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.step);
        BODY* sheet = testkit::make_polygon_sheet({{0, 0}, {10, 0}, {10, 10}, {0, 10}});
        qelx_test::EventRecorder events;
        ve_heal::StepWatch watch(sheet, "body 2");
        EXPECT_EQ(watch.step(c.step, [&] { c.work(sheet); }), !c.harms);
        EXPECT_EQ(events.names("Warning").size(), c.harms ? 1u : 0u);
        EXPECT_NEAR(testkit::body_area(sheet), 100.0, 1e-9);
        api_del_entity(sheet);
    }
}

// Every recipe runs its steps under the watch: harm done inside any of its
// steps is taken back with a warning naming the body (by its place in the
// set) and the step, and the recipe goes on; a harmless change inside a step
// is kept.
TEST_F(RecipeSoundness, EveryRecipeTakesBackAStepThatHarmsAndKeepsOneThatDoesNot)
{
    const char* const recipes[] = {"",
                                   "HealBodyPostProcessPs",
                                   "HealBodyPostProcessInventor",
                                   "HealBodyPostProcessProE",
                                   "HealBodyPostProcessV4",
                                   "HealBodyPostProcessV5",
                                   "HealBodyPostProcessIdeas",
                                   "HealBodyPostProcessUg",
                                   "HealBodyPostProcessVda",
                                   "HealBodyPostProcessIges",
                                   "HealBodyPostProcessStep"};
    const struct {
        const char* name;
        void (*work)(BODY*);
        bool harms;
    } doubles[] = {
        {"turnAFaceInsideOut", [](BODY* b) { firstFace(b)->set_sense(REVERSED); }, true},
        {"scaleTheGeometry", scaleIntoGeometry, true},
        {"moveTheBodyAndAPlaneAnew",
         [](BODY* b) {
             api_apply_transf(b, translate_transf(QELvector(1, 2, 3)));
             planeAnew(b);
         },
         false},
    };
    for (const char* recipe : recipes) {
        for (const auto& d : doubles) {
            SCOPED_TRACE(std::string(*recipe ? recipe : "standard repair") + " / " + d.name);
            qelx_test::OptionScope scope;
            scope.on(Ve_OptionDoc::keyOf("HealBody"));
            if (*recipe)
                scope.on(Ve_OptionDoc::keyOf(recipe));
            // The body harmed is the second of the set.
            BODY* other = testkit::make_plane_box(5, 5, 5);
            BODY* box = testkit::make_plane_box(10, 20, 30);
            std::string doubled;
            ve_heal::StepWatch::setStepDouble([&](BODY* b, const char* step) {
                if (b != box || !doubled.empty())
                    return;
                doubled = step;
                d.work(b);
            });
            Ve_CocoonTagHandle set(new Ve_CocoonTag);
            set->appendBody(soundTag(other));
            set->appendBody(soundTag(box));
            qelx_test::EventRecorder events;
            QELXVeRepairUtils::postProcessHeal(static_cast<Ve_CocoonTag*>(set));
            ve_heal::StepWatch::setStepDouble(nullptr);
            if (doubled.empty()) {
                ADD_FAILURE() << "no step of the recipe ran under the watch";
                api_del_entity(box);
                api_del_entity(other);
                continue;
            }
            ASSERT_EQ(set->getBodies().Count(), 2);
            ASSERT_EQ(set->getBodies()[1], soundTag(box));
            std::vector<std::string> undone;
            for (const std::string& w : events.names("Warning"))
                if (w.find("the step was undone") != std::string::npos)
                    undone.push_back(w);
            if (d.harms) {
                ASSERT_EQ(undone.size(), 1u);
                EXPECT_NE(undone[0].find("Healing step " + doubled + " made "), std::string::npos) << undone[0];
                EXPECT_NE(undone[0].find(" body 2 worse"), std::string::npos) << undone[0];
                EXPECT_EQ(box->transform(), nullptr);
            } else {
                EXPECT_TRUE(undone.empty()) << undone[0];
                ASSERT_NE(box->transform(), nullptr) << "the harmless step was not kept";
            }
            EXPECT_EQ(testkit::count_faces(box), 6);
            EXPECT_EQ(testkit::check_findings(box), "");
            const double scale = box->transform() ? box->transform()->transform().scaling() : 1.0;
            EXPECT_NEAR(testkit::body_area(box), 2200.0 * scale * scale, 1e-6);
            api_del_entity(box);
            api_del_entity(other);
        }
    }
}

} // namespace
