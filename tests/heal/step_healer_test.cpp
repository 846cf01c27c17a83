// The STEP healing sequence and recipe: what a set of damaged bodies becomes,
// the events on the way, retracing wire loops, and kernel failures in one
// body of a set.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "heal/repair_utils.hxx"
#include "heal/step_healer.hxx"
#include "model/body_set.hxx"
#include "model/entity_views.hxx"
#include "qelx/qelx_options.hxx"
#include "qelx/qelx_test.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "support/connector_test.hxx"
#include "support/geometry_builders.hxx"
#include "support/heal_builders.hxx"
#include "support/model_builders.hxx"
#include "support/query_builders.hxx"
#include "support/repair_builders.hxx"
#include "support/repair_sweep.hxx"
#include "velm/bspline.hxx"
#include "velm/build.hxx"
#include "velm/errors.hxx"
#include "velm/geometry.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/attrib.hxx"
#include "velm/testkit.hxx"
#include "velm/topology_api.hxx"

// An attribute that asks the kernel for an interrupt when its body is copied
// from (the split of touching shells into bodies copies the body's
// attributes to each new one): a user's cancel arriving in the middle of a
// healing step.
class TINTERRUPT_ON_COPY : public ATTRIB {
    VELM_ENTITY_DECL(TINTERRUPT_ON_COPY, ATTRIB, 2)
    TINTERRUPT_ON_COPY() = default;
    explicit TINTERRUPT_ON_COPY(ENTITY* owner) : ATTRIB(owner) {}
    TINTERRUPT_ON_COPY(const TINTERRUPT_ON_COPY&) = default;
    TINTERRUPT_ON_COPY& operator=(const TINTERRUPT_ON_COPY&) = default;
    void copy_owner(ENTITY* copy) override
    {
        if (armed && is_BODY(copy)) {
            armed = false;
            velm_test_request_interrupt();
        }
    }
    void save_common(ENTITY_LIST& list) const { ATTRIB::save_common(list); }
    void restore_common() { ATTRIB::restore_common(); }
    void copy_common(ENTITY_LIST& list, const TINTERRUPT_ON_COPY* from, pointer_map* pm = nullptr, int skip = 0,
                     SCAN_TYPE reason = scan_copy)
    {
        ATTRIB::copy_common(list, from, pm, skip, reason);
    }
    static inline bool armed = false;
};
int TINTERRUPT_ON_COPY_TYPE = 0;
restore_def* TINTERRUPT_ON_COPY_subclasses = nullptr;
VELM_ENTITY_DEF_EXTERNAL(TINTERRUPT_ON_COPY, ATTRIB, 2, "tinterrupt_on_copy")

namespace {

class StepHealer : public testkit::ConnectorTest {};

Ve_BodyTag* stepTag(BODY* b) { return reinterpret_cast<Ve_BodyTag*>(b); }
BODY* stepBody(Ve_BodyTag* b) { return reinterpret_cast<BODY*>(b); }

int facesOf(const QELXDynamicArray<Ve_BodyTag*>& bodies)
{
    int n = 0;
    for (int i = 0; i < bodies.Count(); ++i)
        n += testkit::count_faces(stepBody(bodies[i]));
    return n;
}

void deleteStepBodies(const QELXDynamicArray<Ve_BodyTag*>& bodies)
{
    for (int i = 0; i < bodies.Count(); ++i)
        api_del_entity(stepBody(bodies[i]));
}

// Every end closes the latest open start of its task.
void expectTasksPaired(const std::vector<std::string>& trace)
{
    std::vector<std::string> open;
    for (const std::string& t : trace) {
        const std::string base = t.substr(1, t.rfind(t[0] == '+' ? "Start" : "End") - 1);
        if (t[0] == '+') {
            open.push_back(base);
            continue;
        }
        ASSERT_FALSE(open.empty()) << t;
        EXPECT_EQ(open.back(), base) << t;
        open.pop_back();
    }
    EXPECT_TRUE(open.empty());
}

std::vector<int> repairNumbers(const std::vector<qelx_test::EventRecord>& records)
{
    std::vector<int> numbers;
    for (const qelx_test::EventRecord& r : records)
        if (r.kind == "StartRepair") {
            EXPECT_EQ(r.name, "ToVelmRepair");
            numbers.push_back(r.number);
        }
    return numbers;
}

// A square sheet whose face also holds a two-edge loop running from A to B
// and straight back: a slit, no area.
BODY* makeSquareWithSlit(const QELtransf& frame)
{
    BODY* sheet = testkit::make_polygon_sheet({{0, 0}, {10, 0}, {10, 10}, {0, 10}});
    FACE* face = sheet->lump()->shell()->face();
    testkit::add_slit_loop(face, new VERTEX(new APOINT(QELposition(3, 4, 0))), QELposition(6, 5, 0));
    if (!frame.identity()) {
        api_apply_transf(sheet, frame);
        api_change_body_trans(sheet, nullptr);
    }
    return sheet;
}

int loopsOf(FACE* face)
{
    int n = 0;
    for (LOOP* l = face->loop(); l; l = l->next())
        ++n;
    return n;
}

// The set the STEP recipe runs on: a box with a vertex off its edges (to be
// tolerised), a one-face sheet (the loop repair's road), two boxes touching
// at a corner in one lump (split into two bodies) and a plain box.
QELXDynamicArray<Ve_BodyTag*> stepSet()
{
    QELXDynamicArray<Ve_BodyTag*> bodies;
    bodies.Add(stepTag(testkit::make_box_with_moved_vertex(1e-3)));
    bodies.Add(stepTag(testkit::make_polygon_sheet({{0, 0}, {4, 0}, {4, 3}, {0, 3}})));
    bodies.Add(stepTag(testkit::make_two_shell_body(QELposition(10, 10, 10))));
    bodies.Add(stepTag(testkit::make_plane_box()));
    return bodies;
}

// The number of kernel calls that can fail which healing the body makes: the
// first n at which an injected failure is still pending afterwards, less one.
long healingCalls(BODY* (*build)())
{
    auto reaches = [&](long n) {
        BODY* b = build();
        QELXDynamicArray<Ve_BodyTag*> out;
        velm_test_reset();
        velm_test_fail_call("*", n, qelvelm_api_errmod.message_code(VELM_API_FAILED));
        QELXStepVelmHealer::xstep_heal_body(stepTag(b), out, true);
        const bool fired = !velm_test_injection_pending();
        velm_test_reset();
        deleteStepBodies(out);
        return fired;
    };
    long hi = 1;
    while (reaches(hi))
        hi *= 2;
    long lo = hi / 2; // reaches(lo) or lo == 0
    while (hi - lo > 1) {
        const long mid = (lo + hi) / 2;
        (reaches(mid) ? lo : hi) = mid;
    }
    return lo;
}

BODY* firstOfThree() { return testkit::make_box_with_moved_vertex(1e-3); }
BODY* secondOfThree() { return testkit::make_box_with_moved_vertex(2e-3); }
BODY* thirdOfThree() { return testkit::make_two_shell_body(QELposition(10, 10, 10)); }

} // namespace

TEST_F(StepHealer, TheRecipeHealsEveryBodyAccountsForItsFacesAndNumbersItsEventsFromZero)
{
    QELXDynamicArray<Ve_BodyTag*> bodies = stepSet();
    EXPECT_NE(testkit::check_findings(stepBody(bodies[0])), "") << "the first body is built faulty";
    const int faces = facesOf(bodies);
    Ve_CocoonTag set(bodies);
    qelx_test::EventRecorder events;
    QELXVeRepairUtils::PostProcessRepairStep(&set);
    const QELXDynamicArray<Ve_BodyTag*> healed = set.getBodies();
    // The two-shell body leaves its second shell as a body of its own right
    // after itself.
    ASSERT_EQ(healed.Count(), 5);
    EXPECT_EQ(healed[0], bodies[0]);
    EXPECT_EQ(healed[1], bodies[1]);
    EXPECT_EQ(healed[2], bodies[2]);
    EXPECT_EQ(healed[4], bodies[3]);
    EXPECT_EQ(testkit::count_faces(stepBody(healed[2])), 6);
    EXPECT_EQ(testkit::count_faces(stepBody(healed[3])), 6);
    EXPECT_EQ(facesOf(healed), faces);
    for (int i = 0; i < healed.Count(); ++i)
        EXPECT_EQ(testkit::check_findings(stepBody(healed[i])), "") << "body " << i;
    EXPECT_EQ(repairNumbers(events.records()), (std::vector<int>{0, 1, 2, 3}));
    expectTasksPaired(testkit::task_trace(events.records()));
    const std::vector<std::string> trace = testkit::task_trace(events.records());
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "+RemDuplVerticesByChangeVertGeomStart"), 4);
    deleteStepBodies(healed);
}

TEST_F(StepHealer, NullBodiesAndSetsChangeNothing)
{
    QELXDynamicArray<Ve_BodyTag*> result;
    EXPECT_EQ(QELXStepVelmHealer::xstep_heal_body(nullptr, result, true), 0);
    EXPECT_EQ(result.Count(), 0);
    qelx_test::EventRecorder events;
    QELXVeRepairUtils::PostProcessRepairStep(nullptr);
    EXPECT_TRUE(events.records().empty());
}

TEST_F(StepHealer, AFaultyWireBodyIsExplodedOnlyWhileBothExplodeOptionsAllow)
{
    for (const bool allowed : {true, false}) {
        SCOPED_TRACE(allowed);
        qelx_test::OptionScope options;
        if (!allowed) {
            options.set(QELXOptionName::XStep_Import_Explode_Class2Wires, QELXValue(true));
            options.set(QELXOptionName::XStep_Import_Explode_Class3Wires, QELXValue(false));
        }
        BODY* wire = testkit::make_wire_body(3);
        // The first edge's curve without an equation: the check fails, and no
        // step of the healing mends it (a gap at a vertex the healing would
        // close with a tolerant vertex).
        ENTITY_LIST edges;
        api_get_edges(wire, edges);
        static_cast<EDGE*>(edges[0])->set_geometry(new CURVE);
        ASSERT_NE(testkit::check_findings(wire), "");
        QELXDynamicArray<Ve_BodyTag*> result;
        EXPECT_EQ(QELXStepVelmHealer::xstep_heal_body(stepTag(wire), result, false), 1);
        if (allowed) {
            ASSERT_EQ(result.Count(), 3);
            for (int i = 0; i < result.Count(); ++i)
                EXPECT_EQ(testkit::count_edges(stepBody(result[i])), 1);
        } else {
            ASSERT_EQ(result.Count(), 1);
            EXPECT_EQ(result[0], stepTag(wire));
        }
        deleteStepBodies(result);
    }
}

TEST_F(StepHealer, ARetracingPairOfStraightEdgesIsTakenOutOfItsFaceInEveryFrame)
{
    for (const QELtransf& frame : testkit::heal_frames()) {
        BODY* sheet = makeSquareWithSlit(frame);
        FACE* face = sheet->lump()->shell()->face();
        ASSERT_EQ(loopsOf(face), 2);
        EXPECT_TRUE(QELXStepVelmHealer::checkAndRemoveWireLoops(face));
        EXPECT_EQ(loopsOf(face), 1);
        EXPECT_EQ(testkit::count_edges(sheet), 4);
        EXPECT_EQ(testkit::model_problems(sheet), "");
        api_del_entity(sheet);
    }
}

TEST_F(StepHealer, SplineFacesSplitAtTangentBreaksExactOnesOnlyWhenAllAreAsked)
{
    struct Case {
        bool skin, skipExact;
        int faces;
    };
    for (const Case& c : {Case{true, true, 2}, Case{false, true, 1}, Case{false, false, 2}}) {
        SCOPED_TRACE(std::to_string(c.skin) + " " + std::to_string(c.skipExact));
        BODY* sheet = testkit::make_folded_sheet(c.skin);
        ASSERT_EQ(testkit::check_findings(sheet), "");
        QELXStepVelmHealer::splitG1DiscFaces(stepTag(sheet), c.skipExact);
        EXPECT_EQ(testkit::count_faces(sheet), c.faces);
        EXPECT_EQ(testkit::check_findings(sheet), "");
        api_del_entity(sheet);
    }
}

TEST_F(StepHealer, AnEdgeIsSplitAtTheBreaksOfItsCurveEitherWayRound)
{
    const std::vector<QELposition> points{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {2, 1, 1}};
    for (const sense_type sense : {FORWARD, REVERSED}) {
        SCOPED_TRACE(sense == FORWARD ? "forward" : "reversed");
        BODY* wire = testkit::make_kinked_wire(points, sense);
        ENTITY_LIST edges;
        api_get_edges(wire, edges);
        EDGE* edge = static_cast<EDGE*>(edges[0]);
        QELXDynamicArray<double> breaks;
        ASSERT_TRUE(QELXStepVelmHealer::getG0G1DiscCont(edge, breaks));
        EXPECT_EQ(breaks.Count(), 2);
        QELXStepVelmHealer::fixCurveG0Errors(edge);
        EXPECT_EQ(testkit::count_edges(wire), 3);
        EXPECT_EQ(testkit::model_problems(wire), "");
        // Every inner point of the curve is now a vertex.
        ENTITY_LIST vertices;
        api_get_vertices(wire, vertices);
        for (const QELposition& p : points) {
            bool found = false;
            for (int i = 0; i < vertices.count(); ++i)
                found = found || (static_cast<VERTEX*>(vertices[i])->geometry()->coords() - p).len() < 1e-9;
            EXPECT_TRUE(found) << p.x() << " " << p.y() << " " << p.z();
        }
        api_del_entity(wire);
    }
}

TEST_F(StepHealer, AKernelFailureInTheMiddleBodyLeavesTheOthersHealedAndLeaksNothing)
{
    auto build = [] {
        QELXDynamicArray<Ve_BodyTag*> bodies;
        bodies.Add(stepTag(firstOfThree()));
        bodies.Add(stepTag(secondOfThree()));
        bodies.Add(stepTag(thirdOfThree()));
        return bodies;
    };
    // Undisturbed: what each body becomes, and how many kernel calls the
    // first body's healing makes before the middle one starts.
    const long before = healingCalls(firstOfThree), middle = healingCalls(secondOfThree);
    std::vector<std::string> expected;
    {
        QELXDynamicArray<Ve_BodyTag*> bodies = build();
        QELXDynamicArray<Ve_BodyTag*> out, first, second, third;
        velm_test_reset();
        QELXStepVelmHealer::xstep_heal_body(bodies[0], first, true);
        QELXStepVelmHealer::xstep_heal_body(bodies[1], second, true);
        QELXStepVelmHealer::xstep_heal_body(bodies[2], third, true);
        velm_test_reset();
        for (const auto* part : {&first, &second, &third})
            for (int i = 0; i < part->Count(); ++i)
                out.Add((*part)[i]);
        for (int i = 0; i < out.Count(); ++i)
            expected.push_back(testkit::body_text(stepBody(out[i])));
        deleteStepBodies(out);
    }
    ASSERT_EQ(expected.size(), 4u);
    ASSERT_GT(middle, 20);
    for (long n = 1; n <= middle; ++n) {
        SCOPED_TRACE("failure at call " + std::to_string(n) + " of the middle body");
        QELXDynamicArray<Ve_BodyTag*> bodies = build();
        Ve_CocoonTag set(bodies);
        velm_test_reset();
        velm_test_fail_call("*", before + n, qelvelm_api_errmod.message_code(VELM_API_FAILED));
        QELXVeRepairUtils::PostProcessRepairStep(&set);
        velm_test_reset();
        const QELXDynamicArray<Ve_BodyTag*> healed = set.getBodies();
        ASSERT_EQ(healed.Count(), 4);
        EXPECT_EQ(testkit::body_text(stepBody(healed[0])), expected[0]);
        EXPECT_EQ(testkit::body_text(stepBody(healed[2])), expected[2]);
        EXPECT_EQ(testkit::body_text(stepBody(healed[3])), expected[3]);
        EXPECT_EQ(healed[1], bodies[1]);
        for (int i = 0; i < healed.Count(); ++i)
            EXPECT_EQ(testkit::model_problems(stepBody(healed[i])), "") << "body " << i;
        deleteStepBodies(healed);
    }
}

// Two boxes' shells in one lump, touching at a corner: the STEP healing
// lists the body, then splits the second shell off into a body of its own.
// An interrupt that comes during that split (after the body was listed)
// ends the body's healing: the set holds the body once, as it came, and the
// interrupt is spent. Undisturbed, the set holds both boxes.
TEST_F(StepHealer, AnInterruptAfterTheBodyIsListedLeavesItInTheSetOnceAsItCame)
{
    for (const bool interrupted : {false, true}) {
        SCOPED_TRACE(interrupted ? "interrupted" : "undisturbed");
        BODY* b = testkit::make_corner_touching_lumps(0.0);
        LUMP* second = b->lump()->next();
        SHELL* moved = second->shell();
        second->set_shell(nullptr);
        b->lump()->set_next(nullptr);
        b->lump()->shell()->set_next(moved);
        moved->set_lump(b->lump());
        second->lose();
        new TINTERRUPT_ON_COPY(b);
        ASSERT_EQ(testkit::count_shells(b), 2);
        ASSERT_EQ(testkit::model_problems(b), "");
        const std::string before = testkit::body_text(b);
        QELXDynamicArray<Ve_BodyTag*> bodies;
        bodies.Add(stepTag(b));
        Ve_CocoonTag set(bodies);
        TINTERRUPT_ON_COPY::armed = interrupted;
        QELXVeRepairUtils::PostProcessRepairStep(&set);
        EXPECT_FALSE(TINTERRUPT_ON_COPY::armed) << "the split copied the body's attributes";
        TINTERRUPT_ON_COPY::armed = false;
        EXPECT_FALSE(velm_interrupted());
        const QELXDynamicArray<Ve_BodyTag*> healed = set.getBodies();
        ASSERT_GE(healed.Count(), 1);
        EXPECT_EQ(healed[0], stepTag(b));
        if (interrupted) {
            EXPECT_EQ(healed.Count(), 1);
            EXPECT_EQ(testkit::body_text(b), before);
        } else {
            EXPECT_EQ(healed.Count(), 2);
            EXPECT_EQ(facesOf(healed), 12);
        }
        std::vector<BODY*> distinct;
        for (int i = 0; i < healed.Count(); ++i)
            if (std::find(distinct.begin(), distinct.end(), stepBody(healed[i])) == distinct.end())
                distinct.push_back(stepBody(healed[i]));
        EXPECT_EQ(distinct.size(), static_cast<std::size_t>(healed.Count())) << "a body listed twice";
        for (BODY* body : distinct) {
            EXPECT_EQ(testkit::model_problems(body), "");
            api_del_entity(body);
        }
    }
}
