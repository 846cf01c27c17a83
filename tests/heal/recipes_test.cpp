// The post-import recipes: which one a switch chooses, what each leaves in
// the set, the events they fire, and what a kernel failure in one body of a
// set leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "heal/body_processor.hxx"
#include "heal/repair_utils.hxx"
#include "model/body_set.hxx"
#include "model/entity_views.hxx"
#include "qelx/qelx_test.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "support/connector_test.hxx"
#include "support/geometry_builders.hxx"
#include "support/heal_builders.hxx"
#include "support/in_turn.hxx"
#include "support/model_builders.hxx"
#include "support/query_builders.hxx"
#include "support/repair_builders.hxx"
#include "support/repair_sweep.hxx"
#include "velm/build.hxx"
#include "velm/errors.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/insanity.hxx"
#include "velm/memory.hxx"
#include "velm/testkit.hxx"
#include "velm/topology_api.hxx"

namespace {

Ve_BodyTag* recipeView(BODY* b) { return reinterpret_cast<Ve_BodyTag*>(b); }
BODY* recipeBody(Ve_BodyTag* b) { return reinterpret_cast<BODY*>(b); }

class Recipes : public testkit::ConnectorTest {};

// The numbers of the repair events fired, in order.
std::vector<int> recipeRepairNumbers(const qelx_test::EventRecorder& events)
{
    std::vector<int> out;
    for (const qelx_test::EventRecord& r : events.records())
        if (r.kind == "StartRepair") {
            EXPECT_EQ(r.name, "ToVelmRepair");
            EXPECT_EQ(r.text, "BRep");
            out.push_back(r.number);
        }
    return out;
}

// The set's bodies, each live and structurally whole.
std::vector<BODY*> recipeLiveBodies(const Ve_CocoonTag& set)
{
    std::vector<BODY*> out;
    for (Ve_BodyTag* b : set.getBodies()) {
        EXPECT_NE(b, nullptr);
        if (!b)
            continue;
        EXPECT_TRUE(velm_is_live_entity(reinterpret_cast<ENTITY*>(b)));
        EXPECT_EQ(testkit::model_problems(recipeBody(b)), "");
        out.push_back(recipeBody(b));
    }
    return out;
}

// The same, each also passing the kernel's checker.
std::vector<BODY*> recipeCheckedBodies(const Ve_CocoonTag& set)
{
    const std::vector<BODY*> out = recipeLiveBodies(set);
    for (BODY* b : out) {
        ENTITY_LIST insane;
        EXPECT_TRUE(api_check_entity(b, &insane).ok());
        EXPECT_EQ(insane.count(), 0) << "a healed body fails the kernel's checker";
    }
    return out;
}

int recipeFaceCount(const std::vector<BODY*>& bodies)
{
    int n = 0;
    for (BODY* b : bodies)
        n += testkit::count_faces(b);
    return n;
}

void deleteRecipeBodies(const std::vector<BODY*>& bodies)
{
    for (BODY* b : bodies)
        api_del_entity(b);
}

// A wire body of one straight edge.
BODY* makeRecipeLineWire(const QELposition& from, const QELposition& to)
{
    const QELinterval range(0.0, distance(from, to));
    auto* edge = new EDGE(new VERTEX(new APOINT(from)), new VERTEX(new APOINT(to)),
                          new STRAIGHT(straight(from, normalise(to - from))), FORWARD, EDGE_cvty_unknown, &range);
    return recipeBody(Ve_BodyProcessor::bodyFromEntity(edge));
}

// One body of one lump holding two boxes' shells that touch at a corner
// through distinct vertices.
BODY* makeRecipeTouchingShells()
{
    BODY* b = testkit::make_corner_touching_lumps(0.0);
    LUMP* second = b->lump()->next();
    SHELL* moved = second->shell();
    second->set_shell(nullptr);
    b->lump()->set_next(nullptr);
    b->lump()->shell()->set_next(moved);
    moved->set_lump(b->lump());
    second->lose();
    return b;
}

// A box with a vertex off its edges (the standard repair makes it tolerant),
// and two boxes in a rotated and in a mirrored frame.
std::vector<BODY*> threeRecipeBoxes()
{
    const std::vector<QELtransf> frames = testkit::heal_frames();
    return {testkit::make_box_with_moved_vertex(1e-4), testkit::make_framed_box(frames[1]),
            testkit::make_framed_box(frames[2])};
}

Ve_CocoonTag* recipeSetOf(const std::vector<BODY*>& bodies)
{
    auto* set = new Ve_CocoonTag;
    for (BODY* b : bodies)
        set->appendBody(recipeView(b));
    return set;
}

struct RecipeCase {
    const char* name;
    const char* member;           // the switch; empty for the standard repair
    std::vector<int> events;      // repair events over the three boxes
};

const std::vector<RecipeCase>& recipeCases()
{
    static const std::vector<RecipeCase> cases = {
        {"Standard", "", {}},
        {"Ps", "HealBodyPostProcessPs", {1, 2, 3}},
        {"Inventor", "HealBodyPostProcessInventor", {}},
        {"ProE", "HealBodyPostProcessProE", {1, 2, 3}},
        {"V4", "HealBodyPostProcessV4", {1, 2, 3}},
        {"V5", "HealBodyPostProcessV5", {1, 2, 3}},
        {"Ideas", "HealBodyPostProcessIdeas", {}},
        {"Ug", "HealBodyPostProcessUg", {1, 2, 3}},
        {"Vda", "HealBodyPostProcessVda", {1, 2, 3}},
        {"Iges", "HealBodyPostProcessIges", {1, 2, 3}},
    };
    return cases;
}

class EachRecipe : public Recipes, public ::testing::WithParamInterface<RecipeCase> {
protected:
    void SetUp() override
    {
        Recipes::SetUp();
        on("HealBody");
        if (*GetParam().member)
            on(GetParam().member);
    }
};

// The number of failable kernel calls made when each repair event fired:
// where the work on one body ended.
class BodyEnds : public qelx_test::EventRecorder {
public:
    void OnEvent(const QELXEvent& event) override
    {
        if (dynamic_cast<const QELXStartTranslateRepairEvent*>(&event))
            ends.push_back(static_cast<long>(velm_test_failable_calls().size()));
        EventRecorder::OnEvent(event);
    }
    std::vector<long> ends;
};

std::string recipeCaseName(const ::testing::TestParamInfo<RecipeCase>& info) { return info.param.name; }

} // namespace

TEST_P(EachRecipe, HealsEveryBodyOfTheSetWithItsEventsInOrder)
{
    const std::vector<BODY*> built = threeRecipeBoxes();
    {
        ENTITY_LIST insane;
        api_check_entity(built[0], &insane);
        ASSERT_GT(insane.count(), 0) << "the first box must need the repair";
    }
    Ve_CocoonTagHandle set(recipeSetOf(built));
    qelx_test::EventRecorder events;
    QELXVeRepairUtils::postProcessHeal(static_cast<Ve_CocoonTag*>(set));
    EXPECT_EQ(recipeRepairNumbers(events), GetParam().events);
    const std::vector<BODY*> healed = recipeCheckedBodies(*set);
    EXPECT_EQ(healed, built) << "the three boxes stay, in their order";
    EXPECT_EQ(recipeFaceCount(healed), 18);
    EXPECT_TRUE(events.tasksNested());
    deleteRecipeBodies(healed);
}

// A kernel failure at each call of the recipe in turn, in one body of three:
// the set keeps three live, sound bodies, at least two of them exactly as
// an undisturbed run leaves them, and nothing is left alive afterwards.
TEST_P(EachRecipe, AFailureStopsOneBodyOnly)
{
    std::vector<std::string> undisturbed;
    {
        Ve_CocoonTagHandle set(recipeSetOf(threeRecipeBoxes()));
        QELXVeRepairUtils::postProcessHeal(static_cast<Ve_CocoonTag*>(set));
        const std::vector<BODY*> bodies = recipeCheckedBodies(*set);
        for (BODY* b : bodies)
            undisturbed.push_back(testkit::body_text(b));
        deleteRecipeBodies(bodies);
    }
    ASSERT_EQ(undisturbed.size(), 3u);
    // The calls worth failing: a body whose calls repeat the body's before it
    // fails the same way at each of them.
    std::vector<long> toFail;
    std::vector<std::string> calls;
    {
        Ve_CocoonTagHandle set(recipeSetOf(threeRecipeBoxes()));
        velm_test_reset();
        velm_test_record_calls(true);
        BodyEnds ends;
        QELXVeRepairUtils::postProcessHeal(static_cast<Ve_CocoonTag*>(set));
        calls = velm_test_failable_calls();
        toFail = testkit::calls_worth_failing(calls, ends.ends);
        velm_test_reset();
        deleteRecipeBodies(recipeCheckedBodies(*set));
    }
    ASSERT_GT(toFail.size(), 10u);
    // Each kernel call fails at its first place in every run; its later places
    // are alike cases, taken in turn (every other one, the recipes starting
    // one apart), so that a run fails every call somewhere and two runs fail
    // every place.
    const auto recipe = static_cast<std::size_t>(std::find_if(recipeCases().begin(), recipeCases().end(),
                                                              [](const RecipeCase& c) {
                                                                  return std::string(c.name) == GetParam().name;
                                                              }) -
                                                 recipeCases().begin());
    std::map<std::string, std::size_t> placesSoFar;
    long injected = 0;
    for (const long n : toFail) {
        const std::size_t place = placesSoFar[calls[static_cast<std::size_t>(n - 1)]]++;
        if (place > 0 && !in_turn::taken(recipe, place % 2, 2))
            continue;
        velm_test_reset();
        const long objects = velm_live_object_count();
        Ve_CocoonTagHandle set(recipeSetOf(threeRecipeBoxes()));
        velm_test_fail_call("*", n, qelvelm_api_errmod.message_code(VELM_API_FAILED));
        QELXVeRepairUtils::postProcessHeal(static_cast<Ve_CocoonTag*>(set));
        const bool fired = !velm_test_injection_pending();
        const std::string where = "call " + std::to_string(n) + " (" + velm_test_last_injected_call() + ")";
        velm_test_reset();
        // The body the failure stopped may stay as it came; the others are healed.
        const std::vector<BODY*> bodies = recipeLiveBodies(*set);
        ASSERT_EQ(bodies.size(), 3u) << where;
        int same = 0;
        for (std::size_t i = 0; i < bodies.size(); ++i)
            same += testkit::body_text(bodies[i]) == undisturbed[i];
        EXPECT_GE(same, 2) << where << ": the failure reached beyond its body";
        deleteRecipeBodies(bodies);
        set_global_error_info(nullptr);
        EXPECT_EQ(velm_live_object_count(), objects) << where << ": kernel objects left alive";
        EXPECT_TRUE(fired) << where;
        ++injected;
    }
    EXPECT_GT(injected, 10);
}

// Kernel memory running out at allocations spread over the recipe: the
// error that ends a body's healing does not leave the recipe, and the set
// still holds three live bodies.
TEST_P(EachRecipe, RunningOutOfKernelMemoryStopsOneBodyOnly)
{
    for (long n = 1;; n += 23) {
        velm_test_reset();
        const long objects = velm_live_object_count();
        Ve_CocoonTagHandle set(recipeSetOf(threeRecipeBoxes()));
        velm_test_fail_alloc(nullptr, n);
        EXPECT_NO_THROW(QELXVeRepairUtils::postProcessHeal(static_cast<Ve_CocoonTag*>(set))) << "allocation " << n;
        const bool fired = !velm_test_injection_pending();
        velm_test_reset();
        const std::vector<BODY*> bodies = recipeLiveBodies(*set);
        ASSERT_EQ(bodies.size(), 3u) << "allocation " << n;
        deleteRecipeBodies(bodies);
        set_global_error_info(nullptr);
        EXPECT_EQ(velm_live_object_count(), objects) << "allocation " << n << ": kernel objects left alive";
        if (!fired)
            break;
    }
}

// Points and straight wires, at seeded places in every frame: a recipe finds
// nothing to mend in them and says nothing of them. A point body's edge has
// no curve; a recipe that splits wires at their discontinuities must pass it
// by rather than fail on it (the step watch warns of any kernel failure met,
// and a driver refuses a file whose heal warned so). The Inventor recipe
// leaves wire bodies out of the set, points among them.
TEST_P(EachRecipe, HealsPointsAndWiresWithoutAWarning)
{
    std::mt19937 seeded(4711);
    std::uniform_real_distribution<double> place(-50.0, 50.0);
    const auto seededPosition = [&] {
        const double x = place(seeded), y = place(seeded);
        return QELposition(x, y, place(seeded));
    };
    std::vector<BODY*> points, wires;
    std::vector<QELposition> at;
    for (const QELtransf& frame : testkit::heal_frames())
        for (int k = 0; k < 2; ++k) {
            at.push_back(seededPosition() * frame);
            points.push_back(recipeBody(Ve_BodyProcessor::bodyFromEntity(new VERTEX(new APOINT(at.back())))));
            ASSERT_TRUE(recipeView(points.back())->isVertexBody());
            const QELposition from = seededPosition() * frame;
            wires.push_back(makeRecipeLineWire(from, from + QELvector(3.0, -4.0, 12.0) * frame));
        }
    std::vector<BODY*> all;
    for (std::size_t k = 0; k < points.size(); ++k)
        all.insert(all.end(), {points[k], wires[k]});
    Ve_CocoonTagHandle set(recipeSetOf(all));
    qelx_test::EventRecorder events;
    QELXVeRepairUtils::postProcessHeal(static_cast<Ve_CocoonTag*>(set));
    EXPECT_EQ(events.names("Warning"), std::vector<std::string>{});
    const std::vector<BODY*> healed = recipeCheckedBodies(*set);
    if (std::string(GetParam().name) == "Inventor") {
        EXPECT_EQ(healed, std::vector<BODY*>{}) << "every body here has a wire";
    } else {
        EXPECT_EQ(healed, all) << "every point and wire stays, in its order";
        for (std::size_t k = 0; k < points.size(); ++k) {
            SCOPED_TRACE("point " + std::to_string(k));
            EXPECT_TRUE(recipeView(points[k])->isVertexBody());
            ENTITY_LIST vertices, edges;
            ASSERT_TRUE(api_get_vertices(points[k], vertices).ok());
            ASSERT_EQ(vertices.count(), 1);
            EXPECT_LT(distance(static_cast<VERTEX*>(vertices[0])->geometry()->coords(), at[k]), 1e-12);
            ASSERT_TRUE(api_get_edges(wires[k], edges).ok());
            ASSERT_EQ(edges.count(), 1);
            EXPECT_NEAR(static_cast<EDGE*>(edges[0])->length(), 13.0, 1e-9);
        }
    }
    deleteRecipeBodies(all);
}

INSTANTIATE_TEST_SUITE_P(Recipes, EachRecipe, ::testing::ValuesIn(recipeCases()), recipeCaseName);

TEST_F(Recipes, RetiredVariableWarnsForItsThreeSetForms)
{
    const char* const text = "The deprecated environment variable QEL_ExtendSplSurf has been omitted. Please use "
                             "'DoSplineResurface'  option or API to set spline resurface option instead\x94\n";
    const struct {
        const char* value;
        int warnings;
    } cases[] = {{"1", 1}, {"true", 1}, {"TRUE", 1}, {"True", 0}, {"0", 0}, {"", 0}, {nullptr, 0}};
    for (const auto& c : cases) {
        if (c.value)
            setenv("QEL_ExtendSplSurf", c.value, 1);
        else
            unsetenv("QEL_ExtendSplSurf");
        Ve_CocoonTag set;
        qelx_test::EventRecorder events;
        QELXVeRepairUtils::postProcessHeal(&set);
        int warnings = 0;
        for (const qelx_test::EventRecord& r : events.records())
            if (r.kind == "Warning") {
                ++warnings;
                EXPECT_EQ(r.name, text);
            }
        EXPECT_EQ(warnings, c.warnings) << (c.value ? c.value : "(unset)");
    }
    unsetenv("QEL_ExtendSplSurf");
}

TEST_F(Recipes, TheFirstSwitchInTheDispatchOrderDecides)
{
    on("HealBody");
    // Ug before Iges: Ug drops the null entry and numbers every position;
    // Iges would keep it and skip its number.
    on("HealBodyPostProcessUg");
    on("HealBodyPostProcessIges");
    BODY* a = testkit::make_plane_box();
    BODY* b = testkit::make_plane_box();
    Ve_CocoonTag set;
    set.appendBody(recipeView(a));
    set.appendBody(nullptr);
    set.appendBody(recipeView(b));
    qelx_test::EventRecorder events;
    QELXVeRepairUtils::postProcessHeal(&set);
    EXPECT_EQ(recipeRepairNumbers(events), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(recipeCheckedBodies(set), (std::vector<BODY*>{a, b}));
    deleteRecipeBodies({a, b});
}

TEST_F(Recipes, VdaBeforePsDropsASmallWireAndTheNextBodyTakesItsNumber)
{
    on("HealBody");
    on("HealBodyPostProcessVda");
    on("HealBodyPostProcessPs");
    BODY* box = testkit::make_plane_box();
    BODY* tiny = makeRecipeLineWire(QELposition(1.0, 2.0, 3.0), QELposition(1.0 + 5e-7, 2.0, 3.0));
    BODY* last = testkit::make_plane_box();
    Ve_CocoonTagHandle set(recipeSetOf({box, tiny, last}));
    qelx_test::EventRecorder events;
    QELXVeRepairUtils::postProcessHeal(static_cast<Ve_CocoonTag*>(set));
    EXPECT_EQ(recipeRepairNumbers(events), (std::vector<int>{1, 2}));
    EXPECT_EQ(recipeCheckedBodies(*set), (std::vector<BODY*>{box, last}));
    deleteRecipeBodies({box, last});
}

TEST_F(Recipes, ProeKeepsEveryPieceItSeparatesInTheSet)
{
    on("HealBodyPostProcessProE");
    BODY* apart = testkit::make_corner_touching_lumps(5.0);
    BODY* box = testkit::make_plane_box();
    Ve_CocoonTagHandle set(recipeSetOf({apart, box}));
    qelx_test::EventRecorder events;
    QELXVeRepairUtils::postProcessHeal(static_cast<Ve_CocoonTag*>(set));
    // The piece is not healed again, but the count passes it.
    EXPECT_EQ(recipeRepairNumbers(events), (std::vector<int>{2, 3}));
    const std::vector<BODY*> bodies = recipeCheckedBodies(*set);
    ASSERT_EQ(bodies.size(), 3u);
    EXPECT_EQ(bodies[0], apart);
    EXPECT_EQ(bodies[2], box);
    EXPECT_EQ(recipeFaceCount(bodies), 18);
    deleteRecipeBodies(bodies);
}

TEST_F(Recipes, TouchingShellsBecomeTwoBodiesInEachCadRecipe)
{
    for (const char* member : {"HealBodyPostProcessProE", "HealBodyPostProcessV4", "HealBodyPostProcessV5",
                               "HealBodyPostProcessIdeas"}) {
        qelx_test::OptionScope scope;
        scope.on(Ve_OptionDoc::keyOf(member));
        BODY* touching = makeRecipeTouchingShells();
        ASSERT_EQ(testkit::count_shells(touching), 2);
        Ve_CocoonTagHandle set(recipeSetOf({touching}));
        QELXVeRepairUtils::postProcessHeal(static_cast<Ve_CocoonTag*>(set));
        const std::vector<BODY*> bodies = recipeCheckedBodies(*set);
        ASSERT_EQ(bodies.size(), 2u) << member;
        EXPECT_EQ(bodies[0], touching) << member;
        EXPECT_EQ(testkit::count_shells(bodies[0]), 1) << member;
        EXPECT_EQ(recipeFaceCount(bodies), 12) << member;
        deleteRecipeBodies(bodies);
    }
}

TEST_F(Recipes, InventorLeavesWireBodiesOutUnlessEveryStateIsWantedAndKeepsEveryFace)
{
    on("HealBodyPostProcessInventor");
    for (const bool allStates : {false, true}) {
        qelx_test::OptionScope scope;
        if (allStates)
            scope.on(Ve_OptionDoc::keyOf("TranslateAllStates"));
        BODY* solid = testkit::make_plane_box();
        BODY* wire = makeRecipeLineWire(QELposition(0.0, 0.0, 50.0), QELposition(7.0, 0.0, 50.0));
        BODY* sheet = testkit::make_plane_box();
        // A face with a wire beside it in its shell is model: it stays.
        BODY* faceAndWire = testkit::make_sheet_with_shell_wire();
        Ve_CocoonTagHandle set(recipeSetOf({solid, wire, sheet, faceAndWire}));
        QELXVeRepairUtils::postProcessHeal(static_cast<Ve_CocoonTag*>(set));
        const std::vector<BODY*> expected = allStates ? std::vector<BODY*>{solid, wire, sheet, faceAndWire}
                                                      : std::vector<BODY*>{solid, sheet, faceAndWire};
        EXPECT_EQ(recipeCheckedBodies(*set), expected);
        deleteRecipeBodies({solid, wire, sheet, faceAndWire});
    }
}

TEST_F(Recipes, IgesWithoutHealingOnlyCountsTheBodies)
{
    on("HealBodyPostProcessIges");
    BODY* box = testkit::make_box_with_moved_vertex(1e-4);
    const std::string before = testkit::body_text(box);
    Ve_CocoonTagHandle set(recipeSetOf({box, testkit::make_plane_box()}));
    qelx_test::EventRecorder events;
    QELXVeRepairUtils::postProcessHeal(static_cast<Ve_CocoonTag*>(set));
    EXPECT_EQ(recipeRepairNumbers(events), (std::vector<int>{1, 2}));
    EXPECT_EQ(testkit::body_text(box), before);
    for (Ve_BodyTag* b : set->getBodies())
        api_del_entity(recipeBody(b));
}

TEST_F(Recipes, UgKeepsVertexBodiesWithTheirEvents)
{
    on("HealBodyPostProcessUg");
    BODY* point = recipeBody(Ve_BodyProcessor::bodyFromEntity(new VERTEX(new APOINT(1.0, 2.0, 3.0))));
    ASSERT_TRUE(recipeView(point)->isVertexBody());
    BODY* box = testkit::make_plane_box();
    Ve_CocoonTagHandle set(recipeSetOf({point, box}));
    qelx_test::EventRecorder events;
    QELXVeRepairUtils::postProcessHeal(static_cast<Ve_CocoonTag*>(set));
    EXPECT_EQ(recipeRepairNumbers(events), (std::vector<int>{1, 2}));
    EXPECT_EQ(recipeCheckedBodies(*set), (std::vector<BODY*>{point, box}));
    deleteRecipeBodies({point, box});
}

// The Ps recipe turns a plane face whose one loop bounds it from the wrong
// side; a face of several loops whose area comes out negative because its
// loops disagree (here a square run backwards beside one run forwards) says
// nothing by that sign about its side, and keeps its sense and its area.
TEST_F(Recipes, PsTurnsOnlyFacesOfOneLoopByTheirArea)
{
    on("HealBody");
    on("HealBodyPostProcessPs");
    const std::vector<QELpar_pos> backwards = {{0, 0}, {0, 4}, {4, 4}, {4, 0}};
    const struct {
        const char* name;
        std::vector<std::vector<QELpar_pos>> more;
        double area;
    } cases[] = {
        {"one loop run backwards", {}, 16.0},
        {"a loop run backwards beside one run forwards", {{{6, 0}, {7, 0}, {7, 1}, {6, 1}}}, -15.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BODY* b = testkit::make_polygon_sheet(backwards, c.more);
        ASSERT_NEAR(testkit::body_area(b), c.more.empty() ? -16.0 : -15.0, 1e-9);
        Ve_CocoonTagHandle set(recipeSetOf({b}));
        QELXVeRepairUtils::postProcessHeal(static_cast<Ve_CocoonTag*>(set));
        const std::vector<BODY*> healed = recipeLiveBodies(*set);
        ASSERT_EQ(healed.size(), 1u);
        EXPECT_EQ(testkit::count_faces(healed[0]), 1);
        EXPECT_NEAR(testkit::body_area(healed[0]), c.area, 1e-9);
        if (!c.more.empty()) {
            EXPECT_EQ(testkit::faces_of(healed[0]).front()->sense(), FORWARD);
        }
        deleteRecipeBodies(healed);
    }
}
