// The paths inside the recipes that the set-level tests pass over: wires
// split at kinks and not at curvature breaks, small wires, wire bodies and
// faces of small area in the Ug recipe, the loop repairs of one-face and
// many-face bodies in the IGES and V4 recipes, the V4 trim under
// UseSurfaceLimits and double-sided open shells.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "heal/body_processor.hxx"
#include "heal/repair_utils.hxx"
#include "model/body_set.hxx"
#include "model/entity_views.hxx"
#include "qelx/qelx_math.hxx"
#include "qelx/qelx_test.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "support/connector_test.hxx"
#include "support/geometry_builders.hxx"
#include "support/heal_builders.hxx"
#include "support/loop_builders.hxx"
#include "support/model_builders.hxx"
#include "support/query_builders.hxx"
#include "support/repair_builders.hxx"
#include "velm/bspline.hxx"
#include "velm/build.hxx"
#include "velm/errors.hxx"
#include "velm/geometry.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/groups.hxx"
#include "velm/query.hxx"
#include "velm/testkit.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

namespace {

class RecipePaths : public testkit::ConnectorTest {};

Ve_BodyTag* pathView(BODY* b) { return reinterpret_cast<Ve_BodyTag*>(b); }
BODY* pathBody(Ve_BodyTag* b) { return reinterpret_cast<BODY*>(b); }

// The set's bodies after the recipe of the switch healed them, and the
// numbers of its repair events.
struct Healed {
    std::vector<BODY*> bodies;
    std::vector<int> events;
};

Healed healBy(const char* member, const std::vector<BODY*>& bodies)
{
    qelx_test::OptionScope scope;
    scope.on(Ve_OptionDoc::keyOf(member));
    Ve_CocoonTagHandle set(new Ve_CocoonTag);
    for (BODY* b : bodies)
        set->appendBody(pathView(b));
    qelx_test::EventRecorder events;
    QELXVeRepairUtils::postProcessHeal(static_cast<Ve_CocoonTag*>(set));
    Healed out;
    for (Ve_BodyTag* b : set->getBodies()) {
        EXPECT_NE(b, nullptr);
        if (b) {
            EXPECT_EQ(testkit::model_problems(pathBody(b)), "") << member;
            out.bodies.push_back(pathBody(b));
        }
    }
    for (const qelx_test::EventRecord& r : events.records())
        if (r.kind == "StartRepair")
            out.events.push_back(r.number);
    return out;
}

void deleteAll(const std::vector<BODY*>& bodies)
{
    for (BODY* b : bodies)
        api_del_entity(b);
}

// A wire of two straight edges meeting at (4, 0, 0) through two distinct
// vertices there, as a file of loose curves gives them.
BODY* twoEdgeWireWithTwinVertex()
{
    BODY* wire = testkit::make_polyline_wire({{0, 0, 0}, {4, 0, 0}, {4, 3, 0}});
    ENTITY_LIST edges;
    api_get_edges(wire, edges);
    for (int i = 0; i < edges.count(); ++i) {
        EDGE* e = static_cast<EDGE*>(edges[i]);
        if ((e->start_pos() - QELposition(4, 0, 0)).len() > 1e-12)
            continue;
        VERTEX* shared = e->start();
        auto* twin = new VERTEX(new APOINT(QELposition(4, 0, 0)));
        e->set_start(twin);
        twin->set_edge(e);
        if (shared->edge() == e)
            shared->set_edge(static_cast<EDGE*>(edges[1 - i]));
    }
    return wire;
}

// A wire of one cubic edge that is smooth in its tangent but jumps in its
// curvature at the double knot 1.
BODY* curvatureBreakWire()
{
    const QELposition points[6] = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {4, 1, 0}, {5, 3, 0}};
    const double knots[10] = {0, 0, 0, 0, 1, 1, 2, 2, 2, 2};
    bs3_curve bs = bs3_curve_from_ctrlpts(3, 0, 0, 0, 6, points, nullptr, QELresabs, 10, knots, 1e-10);
    intcurve ic(bs);
    EDGE* edge = new EDGE(new VERTEX(new APOINT(ic.eval_position(0.0))), new VERTEX(new APOINT(ic.eval_position(2.0))),
                          new INTCURVE(ic), FORWARD);
    BODY* wire = nullptr;
    api_make_ewire(1, &edge, wire);
    return wire;
}

BODY* lineWire(double length, int edges = 1)
{
    std::vector<QELposition> points;
    for (int i = 0; i <= edges; ++i)
        points.push_back(QELposition(i * length / edges, 2.0, 3.0));
    return testkit::make_polyline_wire(points);
}

// A plane sheet of one face whose two loops both run as peripheries: two
// separate unit squares that the loop repair makes into two bodies.
BODY* twoPeripheriesSheet()
{
    return testkit::make_iso_rect_sheet(testkit::test_plane(),
                                        {testkit::rect(0, 1, 0, 1, true), testkit::rect(2, 3, 0, 1, true)});
}

BODY* threePeripheriesSheet()
{
    return testkit::make_iso_rect_sheet(testkit::test_plane(), {testkit::rect(0, 1, 0, 1, true),
                                                                testkit::rect(2, 3, 0, 1, true),
                                                                testkit::rect(4, 5, 0, 1, true)});
}

// Two plane faces side by side in one shell, the first (4 x 4) with a unit
// hole whose loop runs the periphery's way: the area the face truly covers is
// 15, the second face's 4.
BODY* wrongHoleSheet()
{
    return testkit::make_iso_rect_faces(testkit::test_plane(),
                                        {{testkit::rect(0, 4, 0, 4, true), testkit::rect(1, 2, 1, 2, true)},
                                         {testkit::rect(4, 5, 0, 4, true)}},
                                        {FORWARD, FORWARD});
}

} // namespace

// The recipes that split wires split them at their kinks (tangent breaks)
// and not where only the curvature jumps; the VDA recipe merges the
// vertices that meet after the split.
TEST_F(RecipePaths, WiresAreSplitAtKinksAndNotAtCurvatureBreaks)
{
    on("HealBody");
    for (const char* member : {"HealBodyPostProcessUg", "HealBodyPostProcessVda", "HealBodyPostProcessIges"}) {
        SCOPED_TRACE(member);
        BODY* kinked = testkit::make_kinked_wire({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {2, 1, 1}}, FORWARD);
        BODY* smooth = curvatureBreakWire();
        const Healed healed = healBy(member, {kinked, smooth});
        ASSERT_EQ(healed.bodies.size(), 2u);
        EXPECT_EQ(testkit::count_edges(healed.bodies[0]), 3) << "one edge per straight stretch";
        EXPECT_EQ(testkit::count_vertices(healed.bodies[0]), 4) << "the pieces share their vertices";
        EXPECT_EQ(testkit::count_edges(healed.bodies[1]), 1) << "a curvature break is no kink";
        deleteAll(healed.bodies);
    }
}

// The VDA recipe drops a wire of one edge no longer than the positional
// tolerance, and keeps a longer one and one of two edges however short.
TEST_F(RecipePaths, OnlyAWireOfOneEdgeWithinThePositionalToleranceIsSmall)
{
    on("HealBody");
    const struct {
        const char* name;
        double length;
        int edges;
        bool kept;
    } cases[] = {
        {"one edge of the tolerance", Gk_Def::FuzzPos, 1, false},
        {"one edge of half the tolerance", 0.5 * Gk_Def::FuzzPos, 1, false},
        {"one edge of twice the tolerance", 2.0 * Gk_Def::FuzzPos, 1, true},
        {"two edges of the tolerance", 2.0 * Gk_Def::FuzzPos, 2, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BODY* box = testkit::make_plane_box();
        BODY* wire = lineWire(c.length, c.edges);
        const Healed healed = healBy("HealBodyPostProcessVda", {box, wire});
        EXPECT_EQ(healed.bodies.size(), c.kept ? 2u : 1u);
        EXPECT_EQ(healed.events, c.kept ? (std::vector<int>{1, 2}) : (std::vector<int>{1}));
        deleteAll(healed.bodies);
    }
}

// The Ug recipe keeps a wire body, which has no face to lose, with its twin
// vertices made one; it keeps faces of small but real area (a square of
// 1e-4, area 1e-8, far above the resolution's square) and their bodies.
TEST_F(RecipePaths, UgKeepsWireBodiesAndFacesOfSmallButRealArea)
{
    on("HealBody");
    BODY* wire = twoEdgeWireWithTwinVertex();
    ASSERT_EQ(testkit::count_vertices(wire), 4);
    std::vector<BODY*> small = testkit::make_loose_sheets({{0, 0, 0}, {1e-4, 0, 0}, {1e-4, 1e-4, 0}, {0, 1e-4, 0}},
                                                          {{0, 1, 2, 3}});
    ASSERT_EQ(small.size(), 1u);
    BODY* box = testkit::make_plane_box();
    const Healed healed = healBy("HealBodyPostProcessUg", {wire, small[0], box});
    ASSERT_EQ(healed.bodies.size(), 3u);
    EXPECT_EQ(healed.events, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(healed.bodies[0], wire);
    EXPECT_EQ(testkit::count_edges(wire), 2);
    EXPECT_EQ(testkit::count_vertices(wire), 3) << "the twin vertices become one";
    EXPECT_EQ(testkit::count_faces(healed.bodies[1]), 1);
    EXPECT_NEAR(testkit::body_area(healed.bodies[1]), 1e-8, 1e-12);
    EXPECT_EQ(testkit::count_faces(healed.bodies[2]), 6);
    deleteAll(healed.bodies);
}

// The recipes that join a wire's pieces (Ug and VDA) make a wire's twin
// vertices one whether or not it has a kink to split at, in every frame.
TEST_F(RecipePaths, RecipesThatJoinWiresMakeTheirTwinVerticesOneInEveryFrame)
{
    on("HealBody");
    for (const char* member : {"HealBodyPostProcessUg", "HealBodyPostProcessVda"})
        for (const QELtransf& frame : testkit::heal_frames()) {
            SCOPED_TRACE(std::string(member) + (frame.identity() ? "" : ", framed"));
            BODY* wire = twoEdgeWireWithTwinVertex();
            if (!frame.identity()) {
                ASSERT_TRUE(api_apply_transf(wire, frame).ok());
                ASSERT_TRUE(api_change_body_trans(wire, nullptr).ok());
            }
            ASSERT_EQ(testkit::count_vertices(wire), 4);
            const Healed healed = healBy(member, {wire});
            ASSERT_EQ(healed.bodies.size(), 1u);
            EXPECT_EQ(testkit::count_edges(healed.bodies[0]), 2);
            EXPECT_EQ(testkit::count_vertices(healed.bodies[0]), 3) << "the twin vertices become one";
            EXPECT_EQ(testkit::model_problems(healed.bodies[0]), "");
            deleteAll(healed.bodies);
        }
}

namespace {

// The kinked wire of make_kinked_wire moved from its body into a shell of
// its own, the body's only lump: a body whose wire its shell holds, as a
// body of faces and a wire is left when healing removes its faces.
BODY* kinkedWireInAShell(const std::vector<QELposition>& points)
{
    BODY* body = testkit::make_kinked_wire(points, FORWARD);
    WIRE* wire = body->wire();
    if (!wire)
        return body;
    body->set_wire(nullptr);
    auto* shell = new SHELL();
    shell->set_wire(wire);
    wire->set_shell(shell);
    wire->set_body(nullptr);
    auto* lump = new LUMP(shell);
    body->set_lump(lump);
    lump->set_body(body);
    return body;
}

} // namespace

// Every recipe takes a wire its body's shell holds as it takes one the body
// holds: the same bodies kept, split at the same kinks, in every frame (the
// Inventor recipe hands wire bodies back to the model without healing them,
// the others keep them).
TEST_F(RecipePaths, EveryRecipeTakesAWireItsShellHoldsAsOneItsBodyHolds)
{
    on("HealBody");
    const std::vector<QELposition> points{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {2, 1, 1}};
    for (const char* member : {"HealBodyPostProcessProE", "HealBodyPostProcessV4", "HealBodyPostProcessV5",
                               "HealBodyPostProcessUg", "HealBodyPostProcessVda", "HealBodyPostProcessPs",
                               "HealBodyPostProcessStep", "HealBodyPostProcessIges", "HealBodyPostProcessIdeas",
                               "HealBodyPostProcessInventor"})
        for (const QELtransf& frame : testkit::heal_frames()) {
            SCOPED_TRACE(std::string(member) + (frame.identity() ? "" : ", framed"));
            std::vector<int> edges[2];
            for (const bool inShell : {false, true}) {
                BODY* wire = inShell ? kinkedWireInAShell(points) : testkit::make_kinked_wire(points, FORWARD);
                ASSERT_EQ(wire->wire() == nullptr, inShell);
                ASSERT_EQ(testkit::model_problems(wire), "");
                if (!frame.identity()) {
                    ASSERT_TRUE(api_apply_transf(wire, frame).ok());
                    ASSERT_TRUE(api_change_body_trans(wire, nullptr).ok());
                }
                const Healed healed = healBy(member, {wire});
                for (BODY* b : healed.bodies)
                    edges[inShell ? 1 : 0].push_back(testkit::count_edges(b));
                if (std::find(healed.bodies.begin(), healed.bodies.end(), wire) == healed.bodies.end() &&
                    velm_is_live_entity(wire))
                    api_del_entity(wire);
                deleteAll(healed.bodies);
            }
            EXPECT_EQ(edges[1], edges[0]);
            EXPECT_EQ(edges[0].empty(), std::string(member) == "HealBodyPostProcessInventor") << "the wire is kept";
        }
}

// The duplicate-vertex merge by replacement works on a wire body, which has
// no shell, and on every shell of a body that has them.
TEST_F(RecipePaths, TwinVerticesAreReplacedInWiresAndInEveryShell)
{
    BODY* wire = twoEdgeWireWithTwinVertex();
    pathView(wire)->remDuplVerticesByReplaceVert();
    EXPECT_EQ(testkit::count_vertices(wire), 3);
    EXPECT_EQ(testkit::model_problems(wire), "");
    api_del_entity(wire);

    // A box one of whose edges ends at a twin of its corner.
    BODY* box = testkit::make_plane_box();
    ENTITY_LIST edges;
    api_get_edges(box, edges);
    EDGE* edge = static_cast<EDGE*>(edges[0]);
    VERTEX* corner = edge->end();
    auto* twin = new VERTEX(new APOINT(corner->geometry()->coords()));
    edge->set_end(twin);
    twin->set_edge(edge);
    if (corner->edge() == edge)
        for (int i = 1; i < edges.count(); ++i)
            if (static_cast<EDGE*>(edges[i])->start() == corner || static_cast<EDGE*>(edges[i])->end() == corner) {
                corner->set_edge(static_cast<EDGE*>(edges[i]));
                break;
            }
    ASSERT_EQ(testkit::count_vertices(box), 9);
    pathView(box)->remDuplVerticesByReplaceVert();
    EXPECT_EQ(testkit::count_vertices(box), 8);
    EXPECT_EQ(testkit::model_problems(box), "");
    api_del_entity(box);
}

// The loops of a one-face body are mended by the simple loop repair (two
// peripheries become two bodies, healed in turn), those of a many-face body
// by classification (a hole running the periphery's way is turned), in the
// IGES and in the V4 recipe; the IGES recipe numbers only the bodies the set
// came with.
TEST_F(RecipePaths, OneFaceAndManyFaceLoopsAreMendedByTheirOwnRepair)
{
    on("HealBody");
    const struct {
        const char* member;
        std::vector<int> events;
    } recipes[] = {{"HealBodyPostProcessIges", {1, 2}}, {"HealBodyPostProcessV4", {1, 2, 3}}};
    for (const auto& r : recipes) {
        SCOPED_TRACE(r.member);
        BODY* one = twoPeripheriesSheet();
        BODY* many = wrongHoleSheet();
        ASSERT_EQ(testkit::count_faces(many), 2);
        const Healed healed = healBy(r.member, {one, many});
        EXPECT_EQ(healed.events, r.events);
        ASSERT_EQ(healed.bodies.size(), 3u) << "the second periphery became a body of its own";
        EXPECT_EQ(healed.bodies[0], one);
        EXPECT_EQ(healed.bodies[1], many);
        EXPECT_EQ(testkit::count_faces(healed.bodies[0]), 1);
        EXPECT_EQ(testkit::count_faces(healed.bodies[2]), 1);
        EXPECT_NEAR(testkit::body_area(healed.bodies[0]) + testkit::body_area(healed.bodies[2]), 2.0, 1e-9);
        EXPECT_NEAR(testkit::body_area(healed.bodies[1]), 19.0, 1e-9) << "the hole is a hole";
        EXPECT_EQ(testkit::check_findings(healed.bodies[1]), "");
        deleteAll(healed.bodies);
    }
}

// A kernel call failing anywhere in the V4 recipe's healing of a one-face
// body with three peripheries, each call in turn: whatever the loop repair
// had built before a failure took its step back (the first periphery's body,
// say, when the second's could not be made) went with it, and the set holds
// only live bodies, nothing of them left over once they are deleted.
TEST_F(RecipePaths, AV4HealingThatFailsPartWayLeavesOnlyLiveBodiesInTheSet)
{
    on("HealBody");
    on("HealBodyPostProcessV4");
    const auto heal = [](BODY* sheet) {
        Ve_CocoonTagHandle set(new Ve_CocoonTag);
        set->appendBody(pathView(sheet));
        QELXVeRepairUtils::postProcessHeal(static_cast<Ve_CocoonTag*>(set));
        std::vector<BODY*> out;
        for (Ve_BodyTag* b : set->getBodies())
            out.push_back(pathBody(b));
        return out;
    };
    std::vector<std::string> calls;
    {
        velm_test_reset();
        velm_test_record_calls(true);
        const std::vector<BODY*> clean = heal(threePeripheriesSheet());
        calls = velm_test_failable_calls();
        velm_test_reset();
        ASSERT_EQ(clean.size(), 3u) << "each further periphery became a body of its own";
        deleteAll(clean);
    }
    ASSERT_GT(calls.size(), 10u);
    for (long n = 1; n <= static_cast<long>(calls.size()); ++n) {
        SCOPED_TRACE(testing::Message() << "call " << n << " (" << calls[static_cast<std::size_t>(n - 1)] << ")");
        velm_test_reset();
        const long objects = velm_live_object_count();
        BODY* sheet = threePeripheriesSheet();
        velm_test_fail_call("*", n, qelvelm_api_errmod.message_code(VELM_API_FAILED));
        const std::vector<BODY*> bodies = heal(sheet);
        velm_test_reset();
        ASSERT_FALSE(bodies.empty());
        EXPECT_EQ(bodies[0], sheet);
        ASSERT_LE(bodies.size(), 3u);
        for (BODY* b : bodies) {
            ASSERT_NE(b, nullptr);
            ASSERT_FALSE(b->is_lost());
            EXPECT_GE(testkit::count_faces(b), 1);
        }
        deleteAll(bodies);
        set_global_error_info(nullptr);
        EXPECT_EQ(velm_live_object_count(), objects) << "kernel objects left alive";
    }
}

// The V4 recipe cuts spline surfaces down to their faces unless
// UseSurfaceLimits asks for the surfaces as they came.
TEST_F(RecipePaths, V4TrimsSplineSurfacesUnlessTheirLimitsAreToBeUsed)
{
    for (const bool limits : {false, true}) {
        SCOPED_TRACE(limits ? "UseSurfaceLimits" : "trimmed");
        qelx_test::OptionScope scope;
        if (limits)
            scope.on(Ve_OptionDoc::keyOf("UseSurfaceLimits"));
        BODY* sheet = testkit::make_iso_rect_sheet(testkit::test_spline(), {testkit::rect(0.2, 0.6, 0.3, 0.8, true)});
        const double area = testkit::body_area(sheet);
        const Healed healed = healBy("HealBodyPostProcessV4", {sheet});
        ASSERT_EQ(healed.bodies.size(), 1u);
        const FACE* face = sheet->lump()->shell()->face();
        const QELpar_box range = face->geometry()->equation().param_range();
        EXPECT_NEAR(range.u_range().length(), limits ? 1.0 : 0.4, 0.02);
        EXPECT_NEAR(range.v_range().length(), limits ? 1.0 : 0.5, 0.02);
        EXPECT_NEAR(testkit::body_area(sheet), area, 1e-6 * area);
        deleteAll(healed.bodies);
    }
}

// The ProE, V5 and Ideas recipes make the faces of an open sheet
// double-sided and leave a closed solid's faces single-sided.
TEST_F(RecipePaths, OpenShellsBecomeDoubleSidedAndClosedOnesStaySingleSided)
{
    for (const char* member : {"HealBodyPostProcessProE", "HealBodyPostProcessV5", "HealBodyPostProcessIdeas"}) {
        SCOPED_TRACE(member);
        BODY* sheet = testkit::make_iso_rect_sheet(testkit::test_plane(), {testkit::rect(0, 2, 0, 3, true)});
        BODY* box = testkit::make_plane_box();
        const Healed healed = healBy(member, {sheet, box});
        ASSERT_EQ(healed.bodies.size(), 2u);
        EXPECT_EQ(sheet->lump()->shell()->face()->sides(), 1);
        for (const FACE* f = box->lump()->shell()->face(); f; f = f->next())
            EXPECT_EQ(f->sides(), 0);
        deleteAll(healed.bodies);
    }
}

namespace {

// The spline sheet with its loop's pcurves all along v = 0.5: a one-face
// body whose face has an empty parameter range in v, which the IGES recipe
// removes, losing the body.
BODY* sheetOfNoParameterWidth()
{
    BODY* b = testkit::make_spline_sheet();
    testkit::flatten_loop_pcurves(b->lump()->shell()->face(), false);
    return b;
}

} // namespace

// Bodies the IGES recipe loses leave the set, and the bodies after them are
// healed and listed once each, in their order, with the events of their own
// positions: the entities made while healing them (in an allocator that
// hands a freed body's address to the next entity) are never taken for the
// bodies lost before.
TEST_F(RecipePaths, IgesBodiesLostOnTheWayLeaveTheSetAndNothingTakesTheirPlace)
{
    on("HealBody");
    std::vector<BODY*> kept;
    std::vector<BODY*> given;
    for (int k = 0; k < 5; ++k) {
        if (k % 2 == 1) {
            given.push_back(sheetOfNoParameterWidth());
        } else {
            kept.push_back(testkit::make_box_with_moved_vertex(1e-4));
            given.push_back(kept.back());
        }
    }
    const Healed healed = healBy("HealBodyPostProcessIges", given);
    EXPECT_EQ(healed.bodies, kept);
    EXPECT_EQ(healed.events, (std::vector<int>{1, 3, 5}));
    for (BODY* b : healed.bodies)
        EXPECT_EQ(testkit::count_faces(b), 6);
    deleteAll(healed.bodies);
}

// Under AcceptBadData the IGES recipe keeps a one-face body whose face has
// no width in its parameters; without it the face goes and the body with it.
TEST_F(RecipePaths, IgesKeepsAFaceOfBadParametersWhenBadDataIsAccepted)
{
    on("HealBody");
    for (const bool accept : {false, true}) {
        SCOPED_TRACE(accept ? "AcceptBadData" : "bad data refused");
        qelx_test::OptionScope scope;
        if (accept)
            scope.on(Ve_OptionDoc::keyOf("AcceptBadData"));
        BODY* box = testkit::make_plane_box();
        BODY* flat = sheetOfNoParameterWidth();
        qelx_test::OptionScope recipe;
        recipe.on(Ve_OptionDoc::keyOf("HealBodyPostProcessIges"));
        Ve_CocoonTagHandle set(new Ve_CocoonTag);
        set->appendBody(pathView(box));
        set->appendBody(pathView(flat));
        QELXVeRepairUtils::postProcessHeal(static_cast<Ve_CocoonTag*>(set));
        std::vector<BODY*> left;
        for (Ve_BodyTag* b : set->getBodies())
            left.push_back(pathBody(b));
        EXPECT_EQ(left, accept ? (std::vector<BODY*>{box, flat}) : (std::vector<BODY*>{box}));
        if (accept) {
            EXPECT_EQ(testkit::count_faces(flat), 1);
        }
        deleteAll(left);
    }
}

// The IGES recipe cuts a spline surface down to its face only when the
// surface is periodic in neither direction: a face on part of a tube
// periodic in v keeps the whole tube, a face on an open patch is cut.
TEST_F(RecipePaths, IgesCutsOnlySurfacesPeriodicInNeitherDirection)
{
    on("HealBody");
    bs3_surface tube = testkit::make_tube_bs3_surface(true);
    const spline periodicTube(tube);
    bs3_surface_delete(tube);
    const QELinterval around = periodicTube.param_range().v_range();
    ASSERT_TRUE(periodicTube.periodic_v() && !periodicTube.periodic_u());
    const struct {
        const char* name;
        const surface& srf;
        testkit::iso_rect r;
        bool cut;
    } cases[] = {
        {"tube periodic in v", periodicTube, testkit::rect(0.2, 0.8, around.interpolate(0.2), around.interpolate(0.5), true),
         false},
        {"open patch", testkit::test_spline(), testkit::rect(0.2, 0.6, 0.3, 0.8, true), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BODY* sheet = testkit::make_iso_rect_sheet(c.srf, {c.r});
        const QELpar_box before = sheet->lump()->shell()->face()->geometry()->equation().param_range();
        const double area = testkit::body_area(sheet);
        const Healed healed = healBy("HealBodyPostProcessIges", {sheet});
        ASSERT_EQ(healed.bodies.size(), 1u);
        const surface& now = sheet->lump()->shell()->face()->geometry()->equation();
        const QELpar_box after = now.param_range();
        EXPECT_EQ(now.periodic_v(), c.srf.periodic_v());
        if (c.cut) {
            EXPECT_LT(after.u_range().length(), before.u_range().length() - 0.1);
        } else {
            EXPECT_NEAR(after.v_range().length(), before.v_range().length(), 1e-9);
            EXPECT_NEAR(after.u_range().length(), before.u_range().length(), 1e-9);
        }
        EXPECT_NEAR(testkit::body_area(sheet), area, 1e-6 * area);
        deleteAll(healed.bodies);
    }
}

// The V5 recipe separates lumps that touch at a vertex into bodies of their
// own: every piece stays in the set after the bodies it came with, whether
// the touching body comes first or last, and no face is lost.
TEST_F(RecipePaths, V5KeepsEveryPieceOfLumpsTouchingAtAVertex)
{
    for (const bool touchingFirst : {true, false}) {
        SCOPED_TRACE(touchingFirst ? "the touching lumps first" : "the touching lumps last");
        BODY* box = testkit::make_plane_box(2.0, 2.0, 2.0);
        BODY* touching = testkit::make_corner_touching_lumps(0.0);
        const Healed healed = healBy("HealBodyPostProcessV5", touchingFirst ? std::vector<BODY*>{touching, box}
                                                                            : std::vector<BODY*>{box, touching});
        ASSERT_EQ(healed.bodies.size(), 3u);
        int faces = 0;
        for (BODY* b : healed.bodies) {
            EXPECT_EQ(testkit::count_lumps(b), 1);
            faces += testkit::count_faces(b);
        }
        EXPECT_EQ(faces, 18);
        EXPECT_EQ(healed.bodies[touchingFirst ? 1 : 0], box);
        // The separated pieces are grouped together, the box alone is not.
        ENTITY_LIST groups;
        for (BODY* b : healed.bodies)
            api_ct_return_groups(b, groups);
        ASSERT_EQ(groups.count(), 1);
        ENTITY_LIST members;
        api_ct_return_ents(static_cast<QELGROUP*>(groups[0]), members);
        EXPECT_EQ(members.count(), 2);
        EXPECT_LT(members.lookup(box), 0);
        api_ct_lose_group(static_cast<QELGROUP*>(groups[0]));
        deleteAll(healed.bodies);
    }
}

// The VDA recipe cuts a spline surface singular inside (a row of control
// points collapsed to one point) down to its face: a face clear of the
// collapsed row, on either side of it, keeps its area on a surface whose u
// range is the face's.
TEST_F(RecipePaths, VdaCutsASurfaceSingularInsideDownToItsFace)
{
    on("HealBody");
    // Two flat strips meeting at a point lifted between them.
    const QELposition points[6] = {{0, 0, 0}, {0, 1, 0}, {0.5, 0.5, 1}, {0.5, 0.5, 1}, {1, 0, 0}, {1, 1, 0}};
    const double uknots[] = {0, 0, 0.5, 1, 1};
    const double vknots[] = {0, 0, 1, 1};
    bs3_surface net =
        bs3_surface_from_ctrlpts(1, 0, 0, 0, 3, 1, 0, 0, 0, 2, points, nullptr, QELresabs, 5, uknots, 4, vknots, 1e-10);
    const spline pinched(net);
    bs3_surface_delete(net);
    for (const auto& [u0, u1] : {std::pair{0.05, 0.4}, std::pair{0.6, 0.9}}) {
        SCOPED_TRACE("u from " + std::to_string(u0) + " to " + std::to_string(u1));
        BODY* sheet = testkit::make_iso_rect_sheet(pinched, {testkit::rect(u0, u1, 0.2, 0.8, true)});
        const double area = testkit::body_area(sheet);
        const Healed healed = healBy("HealBodyPostProcessVda", {sheet});
        ASSERT_EQ(healed.bodies.size(), 1u);
        const std::vector<FACE*> faces = testkit::faces_of(healed.bodies[0]);
        ASSERT_EQ(faces.size(), 1u);
        const QELpar_box after = faces[0]->geometry()->equation().param_range();
        EXPECT_NEAR(after.u_range().length(), u1 - u0, 1e-6);
        EXPECT_NEAR(testkit::body_area(healed.bodies[0]), area, 1e-6 * area);
        deleteAll(healed.bodies);
    }
}
