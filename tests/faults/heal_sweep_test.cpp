// Failure injection over each healing recipe run on a set of damaged bodies:
// a box with a vertex off its edges, a box of loose faces in a rotated frame,
// a mirrored box whose edge and vertex carry inflated tolerances and the
// faces of a mirrored box each a sheet body of its own (which no recipe
// joins). One kernel call (or, separately, one allocation) fails in turn: no
// error leaves the recipe, every body of the set is live and sound, all but
// the one the failure stopped are as the undisturbed recipe leaves them, and
// deleting the set leaves nothing alive. A sample in an ordinary run; every
// call and allocation when XVELM_SWEEP_RUNS asks for a whole sweep.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "heal/repair_utils.hxx"
#include "heal/step_watch.hxx"
#include "model/body_set.hxx"
#include "model/kernel_call_bracket.hxx"
#include "repair/fix_pcurve.hxx"
#include "qelx/qelx_test.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "support/connector_test.hxx"
#include "support/geometry_builders.hxx"
#include "support/heal_builders.hxx"
#include "support/model_builders.hxx"
#include "support/repair_builders.hxx"
#include "support/repair_sweep.hxx"
#include "velm/build.hxx"
#include "velm/errors.hxx"
#include "velm/memory.hxx"
#include "velm/testkit.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology_api.hxx"

namespace {

// The loose faces of a 2 x 3 x 4 box, each with edges and vertices of its
// own, made one sheet body.
BODY* makeLooseFaceBox(const QELtransf& frame)
{
    std::vector<QELposition> p;
    for (double z : {0.0, 4.0})
        for (auto [x, y] : {std::pair(0.0, 0.0), std::pair(2.0, 0.0), std::pair(2.0, 3.0), std::pair(0.0, 3.0)})
            p.push_back(QELposition(x, y, z) * frame);
    std::vector<FACE*> faces =
        testkit::make_loose_polygon_faces(p, {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4}, {1, 2, 6, 5}, {2, 3, 7, 6},
                                              {3, 0, 4, 7}});
    BODY* body = nullptr;
    EXPECT_TRUE(api_mk_by_faces(nullptr, static_cast<int>(faces.size()), faces.data(), body).ok());
    return body;
}

// A box whose first edge and its start vertex are tolerant with tolerances
// far above the gaps they cover (none).
BODY* makeInflatedBox(const QELtransf& frame)
{
    BODY* box = testkit::make_framed_box(frame, 4.0, 5.0, 6.0);
    EDGE* edge = box->lump()->shell()->face()->loop()->start()->edge();
    TEDGE* tedge = nullptr;
    EXPECT_TRUE(api_replace_edge_with_tedge(edge, tedge).ok());
    tedge->set_tolerance(0.05);
    TVERTEX* tvertex = nullptr;
    EXPECT_TRUE(api_replace_vertex_with_tvertex(tedge->start(), tvertex).ok());
    tvertex->set_tolerance(0.05);
    return box;
}

std::vector<BODY*> damagedBodies()
{
    const std::vector<QELtransf> frames = testkit::heal_frames();
    std::vector<BODY*> bodies = {testkit::make_box_with_moved_vertex(1e-4), makeLooseFaceBox(frames[1]),
                                 makeInflatedBox(frames[2])};
    for (BODY* sheet : testkit::make_loose_box_sheets(frames[2], 3.0, 2.0, 1.0))
        bodies.push_back(sheet);
    return bodies;
}

Ve_CocoonTag* damagedSet()
{
    auto* set = new Ve_CocoonTag();
    for (BODY* b : damagedBodies())
        set->appendBody(reinterpret_cast<Ve_BodyTag*>(b));
    return set;
}

BODY* kernelBody(Ve_BodyTag* b) { return reinterpret_cast<BODY*>(b); }

// The set's bodies' texts, sorted; each body also checked for soundness,
// and no two sharing a vertex.
std::vector<std::string> setTexts(const Ve_CocoonTag& set, const std::string& where)
{
    std::vector<std::string> texts;
    std::set<ENTITY*> vertices;
    for (Ve_BodyTag* b : set.getBodies()) {
        EXPECT_NE(b, nullptr) << where;
        if (!b)
            continue;
        EXPECT_TRUE(velm_is_live_entity(kernelBody(b))) << where;
        EXPECT_EQ(testkit::model_problems(kernelBody(b)), "") << where;
        ENTITY_LIST own;
        api_get_vertices(kernelBody(b), own);
        for (int i = 0; i < own.count(); ++i)
            EXPECT_TRUE(vertices.insert(own[i]).second) << where << ": a vertex in two bodies";
        texts.push_back(testkit::body_text(kernelBody(b)));
    }
    std::sort(texts.begin(), texts.end());
    return texts;
}

void deleteSet(Ve_CocoonTag& set)
{
    for (Ve_BodyTag* b : set.getBodies())
        if (b && velm_is_live_entity(kernelBody(b)))
            api_del_entity(kernelBody(b));
    set.setBodies(QELXDynamicArray<Ve_BodyTag*>());
}

struct HealSweepCase {
    const char* name;
    const char* member; // the recipe's switch; empty for the standard repair
    long ciRuns;
};

const HealSweepCase kHealSweepCases[] = {
    {"Standard", "", 8},          {"Step", "HealBodyPostProcessStep", 8}, {"Iges", "HealBodyPostProcessIges", 8},
    {"ProE", "HealBodyPostProcessProE", 4}, {"V4", "HealBodyPostProcessV4", 4}, {"V5", "HealBodyPostProcessV5", 4},
    {"Ug", "HealBodyPostProcessUg", 4},     {"Vda", "HealBodyPostProcessVda", 4}, {"Ps", "HealBodyPostProcessPs", 4},
    {"Ideas", "HealBodyPostProcessIdeas", 4}, {"Inventor", "HealBodyPostProcessInventor", 4},
};

class HealSweep : public testkit::ConnectorTest, public ::testing::WithParamInterface<HealSweepCase> {
protected:
    void SetUp() override
    {
        ConnectorTest::SetUp();
        on("HealBody");
        if (*GetParam().member)
            on(GetParam().member);
        // Undisturbed: what the recipe leaves, how many calls and allocations it makes.
        {
            Ve_CocoonTagHandle set(damagedSet());
            m_asBuilt = setTexts(*set, "as built");
            velm_test_reset();
            velm_test_record_calls(true);
            QELXVeRepairUtils::postProcessHeal(static_cast<Ve_CocoonTag*>(set));
            m_calls = static_cast<long>(velm_test_failable_calls().size());
            m_allocations = velm_test_allocation_count();
            velm_test_reset();
            m_healed = setTexts(*set, "undisturbed");
            deleteSet(*set);
        }
    }

    // One run with the nth call (or allocation) failing; false once it no longer fires.
    bool failedRun(bool call, long n)
    {
        const std::string what = (call ? "call " : "allocation ") + std::to_string(n);
        SCOPED_TRACE(what);
        const long objects = velm_live_object_count();
        Ve_CocoonTag set;
        for (BODY* b : damagedBodies())
            set.appendBody(reinterpret_cast<Ve_BodyTag*>(b));
        velm_test_reset();
        velm_test_record_object_sites(true);
        if (call)
            velm_test_fail_call("*", n, qelvelm_api_errmod.message_code(VELM_API_FAILED));
        else
            velm_test_fail_alloc(nullptr, n);
        bool escaped = false;
        qelx_test::EventRecorder events;
        try {
            QELXVeRepairUtils::postProcessHeal(&set);
        } catch (...) {
            escaped = true;
        }
        const bool fired = !velm_test_injection_pending();
        const std::string failedCall = velm_test_last_injected_call();
        const std::string where = what + " (" + failedCall + ")";
        velm_test_reset();
        EXPECT_FALSE(escaped) << where << ": an error left the recipe";
        const std::vector<std::string> texts = setTexts(set, where);
        // The failure stops the healing of one body at most: every other
        // body the undisturbed recipe makes is there (with nothing failing,
        // all are and nothing else). A body whose healing was undone may
        // still be separated into its pieces.
        int missing = 0;
        for (const std::string& text : m_healed)
            missing += !std::binary_search(texts.begin(), texts.end(), text);
        EXPECT_LE(missing, fired ? 1 : 0) << where << ": bodies not healed as undisturbed";
        if (!fired) {
            EXPECT_EQ(texts, m_healed) << where;
        }
        deleteSet(set);
        set_global_error_info(nullptr);
        EXPECT_EQ(velm_live_object_count(), objects) << where << ": left alive " << testkit::live_object_sites();
        return fired;
    }

    // Fails the calls (or allocations) the sample picks; the runs made.
    long sweep(bool calls)
    {
        const long count = calls ? m_calls : m_allocations;
        const long runs = testkit::sweep_runs(GetParam().ciRuns);
        const long every = testkit::whole_sweep_asked() ? 1 : std::max(1L, count / std::max(1L, runs));
        long made = 0;
        for (long n = 1; n <= count + 1; n += every) {
            if (!failedRun(calls, n))
                break;
            ++made;
        }
        testkit::report_sweep(calls ? "kernel calls" : "allocations", made, count);
        return made;
    }

    std::vector<std::string> m_asBuilt, m_healed;
    long m_calls = 0, m_allocations = 0;
};

} // namespace

TEST_P(HealSweep, EachKernelCallFailingInTurn)
{
    ASSERT_NE(m_asBuilt, m_healed) << "the recipe must change the damaged set";
    EXPECT_GT(sweep(true), 0);
}

TEST_P(HealSweep, EachAllocationFailingInTurn)
{
    EXPECT_GT(sweep(false), 0);
}

INSTANTIATE_TEST_SUITE_P(Recipes, HealSweep, ::testing::ValuesIn(kHealSweepCases),
                         [](const ::testing::TestParamInfo<HealSweepCase>& info) { return info.param.name; });

namespace {

VERTEX* vertexAt(ENTITY* owner, const QELposition& at)
{
    ENTITY_LIST vertices;
    api_get_vertices(owner, vertices);
    for (int i = 0; i < vertices.count(); ++i) {
        auto* v = static_cast<VERTEX*>(vertices[i]);
        if (distance(v->geometry()->coords(), at) < QELresabs)
            return v;
    }
    return nullptr;
}

// Three unit cubes in one lump, a shell each, in a rotated frame: the second
// meets the first at a corner vertex both use, the third touches the first
// at its opposite corner through a vertex of its own.
BODY* makeShellsMeetingAtCorners(const QELtransf& frame)
{
    BODY* body = testkit::make_plane_box(1.0, 1.0, 1.0);
    SHELL* last = body->lump()->shell();
    for (const QELvector& shift : {QELvector(1, 1, 1), QELvector(-1, -1, -1)}) {
        BODY* other = testkit::make_plane_box(1.0, 1.0, 1.0);
        api_apply_transf(other, translate_transf(shift));
        api_change_body_trans(other, nullptr);
        SHELL* moved = other->lump()->shell();
        other->lump()->set_shell(nullptr);
        moved->set_lump(body->lump());
        last->set_next(moved);
        last = moved;
        api_del_entity(other);
    }
    SHELL* second = body->lump()->shell()->next();
    VERTEX* kept = vertexAt(body->lump()->shell(), QELposition(1, 1, 1));
    VERTEX* gone = vertexAt(second, QELposition(1, 1, 1));
    ENTITY_LIST edges;
    api_get_edges(gone, edges);
    for (int i = 0; i < edges.count(); ++i) {
        auto* e = static_cast<EDGE*>(edges[i]);
        if (e->start() == gone)
            e->set_start(kept);
        if (e->end() == gone)
            e->set_end(kept);
    }
    for (int i = 0; EDGE* e = gone->edge(i); ++i)
        kept->add_edge(e);
    gone->set_edge(nullptr);
    gone->lose();
    api_apply_transf(body, frame);
    api_change_body_trans(body, nullptr);
    return body;
}

class ShellSeparation : public testkit::ConnectorTest {};

} // namespace

// Shells that touch through distinct vertices go to bodies of their own; two
// that use one vertex entity stay in one body, for a body must not reach into
// another's topology (deleting the one would leave the other a freed vertex).
TEST_F(ShellSeparation, ShellsSharingAVertexStayInOneBody)
{
    for (const QELtransf& frame : testkit::heal_frames()) {
        BODY* body = makeShellsMeetingAtCorners(frame);
        ASSERT_EQ(testkit::model_problems(body), "");
        ENTITY_LIST in, out;
        in.add(body);
        QELXVeRepairUtils::ve_separate_shells(in, out);
        ASSERT_EQ(out.count(), 1) << "the touching cube alone leaves";
        std::set<ENTITY*> seen;
        for (ENTITY* b : {static_cast<ENTITY*>(body), out[0]}) {
            EXPECT_EQ(testkit::model_problems(static_cast<BODY*>(b)), "");
            ENTITY_LIST vertices;
            api_get_vertices(b, vertices);
            for (int i = 0; i < vertices.count(); ++i)
                EXPECT_TRUE(seen.insert(vertices[i]).second) << "a vertex in two bodies";
        }
        EXPECT_EQ(seen.size(), 23u);
        api_del_entity(out[0]);
        api_del_entity(body);
    }
}

namespace {

class TolerizingWarning : public testkit::ConnectorTest, public ::testing::WithParamInterface<HealSweepCase> {
protected:
    void SetUp() override
    {
        ConnectorTest::SetUp();
        on("HealBody");
        if (*GetParam().member)
            on(GetParam().member);
    }
};

// Three boxes of a set, one in each frame: the set's bodies in order.
void addFramedBoxes(Ve_CocoonTag& set)
{
    const std::vector<QELtransf> frames = testkit::heal_frames();
    for (std::size_t i = 0; i < frames.size(); ++i)
        set.appendBody(reinterpret_cast<Ve_BodyTag*>(
            testkit::make_framed_box(frames[i], 1.0 + static_cast<double>(i), 2.0, 3.0)));
}

} // namespace

// The tolerising of a body's edges that the kernel refuses for one edge is
// said naming that body as every healing warning does ("body 2"), not by
// its count of faces (the same for every box here), whichever recipe runs
// it and whichever body of the set it falls on.
TEST_P(TolerizingWarning, NamesTheBodyItFellShortOnByItsPlaceInTheSet)
{
    long sorts = 0;
    {
        Ve_CocoonTag set;
        addFramedBoxes(set);
        velm_test_reset();
        velm_test_record_calls(true);
        QELXVeRepairUtils::postProcessHeal(&set);
        for (const std::string& name : velm_test_failable_calls())
            sorts += name == "sort_coedges";
        velm_test_reset();
        deleteSet(set);
    }
    if (sorts == 0)
        GTEST_SKIP() << "the recipe tolerises no edge of a sound box";
    const long bodies = static_cast<long>(testkit::heal_frames().size());
    ASSERT_EQ(sorts % bodies, 0) << sorts << " sorts over " << bodies << " alike boxes";
    for (long b = 0; b < bodies; ++b) {
        SCOPED_TRACE("body " + std::to_string(b + 1));
        Ve_CocoonTag set;
        addFramedBoxes(set);
        velm_test_reset();
        velm_test_fail_call("sort_coedges", b * (sorts / bodies) + 1, qelvelm_api_errmod.message_code(VELM_API_FAILED));
        qelx_test::EventRecorder events;
        QELXVeRepairUtils::postProcessHeal(&set);
        EXPECT_FALSE(velm_test_injection_pending());
        velm_test_reset();
        std::string said, named;
        for (const std::string& w : events.names("Warning")) {
            said += "\n  " + w;
            if (w.rfind("Tolerizing the edges of ", 0) == 0)
                named = w;
        }
        EXPECT_EQ(named.rfind("Tolerizing the edges of body " + std::to_string(b + 1) + " could not be done for 1 of its ", 0),
                  0u)
            << "warnings:" << said;
        deleteSet(set);
        set_global_error_info(nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(Recipes, TolerizingWarning, ::testing::ValuesIn(kHealSweepCases),
                         [](const ::testing::TestParamInfo<HealSweepCase>& info) { return info.param.name; });

namespace {

class PassedOverFailure : public testkit::ConnectorTest {};

} // namespace

// A watched step that goes on past a kernel failure (a call refused, an
// error a guard kept) is taken back whole and said, naming the body and the
// step, however harmless what it did before; the same step meeting none is
// kept and says nothing. Each kind in every frame.
TEST_F(PassedOverFailure, UndoesTheStepAndSaysSoNamingBodyAndStep)
{
    enum class Met { nothing, refusedCall, guardedError };
    for (const QELtransf& frame : testkit::heal_frames())
        for (Met met : {Met::nothing, Met::refusedCall, Met::guardedError}) {
            SCOPED_TRACE(static_cast<int>(met));
            BODY* body = testkit::make_framed_box(frame, 1.0, 2.0, 3.0);
            const std::string asBuilt = testkit::body_text(body);
            qelx_test::EventRecorder events;
            ve_heal::StepWatch watch(body, "body 2");
            const bool kept = watch.step("tolerantCorner", [&] {
                TVERTEX* made = nullptr;
                ASSERT_TRUE(api_replace_vertex_with_tvertex(body->lump()->shell()->face()->loop()->start()->start(), made).ok());
                if (met == Met::refusedCall) {
                    ENTITY_LIST none;
                    EXPECT_FALSE(api_get_edges(nullptr, none).ok());
                }
                if (met == Met::guardedError) {
                    EXPECT_NE(velmGuard([] { sys_error(qelvelm_api_errmod.message_code(VELM_API_FAILED)); }), 0);
                }
            });
            const std::vector<std::string> said = events.names("Warning");
            EXPECT_EQ(kept, met == Met::nothing);
            EXPECT_EQ(testkit::body_text(body) == asBuilt, met != Met::nothing);
            EXPECT_EQ(testkit::model_problems(body), "");
            if (met == Met::nothing) {
                EXPECT_TRUE(said.empty()) << said.front();
            } else {
                ASSERT_EQ(said.size(), 1u);
                EXPECT_EQ(said[0].rfind("Healing step tolerantCorner on body 2 could not be done (", 0), 0u) << said[0];
                EXPECT_NE(said[0].find("the step was undone and the body's healing went on"), std::string::npos) << said[0];
            }
            api_del_entity(body);
            set_global_error_info(nullptr);
        }
}

// A member that meets a kernel failure on purpose and answers it in full has
// done its step's work: the pcurve fit that fails on a spline face falls
// back to fitting the edge's B-spline on the surface's own, and the step is
// kept, saying nothing, with the pcurve made, in every frame. Only that
// failure is answered: one met later in the same step still takes the step
// back and is said.
TEST_F(PassedOverFailure, AFirstFitItsFallbackAnswersIsNoFailureButOneMetAfterIs)
{
    enum class Met { nothing, firstFitFails, firstFitFailsThenARefusal };
    for (const QELtransf& frame : testkit::heal_frames())
        for (Met met : {Met::nothing, Met::firstFitFails, Met::firstFitFailsThenARefusal}) {
            SCOPED_TRACE(static_cast<int>(met));
            BODY* sheet = testkit::make_spline_sheet();
            if (!frame.identity()) {
                api_apply_transf(sheet, frame);
                api_change_body_trans(sheet, nullptr);
            }
            COEDGE* coedge = sheet->lump()->shell()->face()->loop()->start();
            coedge->set_geometry(nullptr);
            const std::string asGiven = testkit::body_text(sheet);
            qelx_test::EventRecorder events;
            ve_heal::StepWatch watch(sheet, "body 1");
            if (met != Met::nothing)
                velm_test_fail_next("sg_add_pcurve_to_coedge", qelvelm_api_errmod.message_code(VELM_API_FAILED));
            const bool kept = watch.step("addPCurve", [&] {
                Ve_FixPCurve::addPCurve(coedge);
                if (met == Met::firstFitFailsThenARefusal) {
                    ENTITY_LIST none;
                    EXPECT_FALSE(api_get_edges(nullptr, none).ok());
                }
            });
            EXPECT_FALSE(velm_test_injection_pending());
            const std::vector<std::string> said = events.names("Warning");
            EXPECT_EQ(kept, met != Met::firstFitFailsThenARefusal);
            EXPECT_EQ(testkit::model_problems(sheet), "");
            if (kept) {
                EXPECT_TRUE(said.empty()) << said.front();
                EXPECT_NE(coedge->geometry(), nullptr);
                EXPECT_EQ(testkit::check_findings(sheet), "");
            } else {
                EXPECT_EQ(testkit::body_text(sheet), asGiven);
                ASSERT_EQ(said.size(), 1u);
                EXPECT_EQ(said[0].rfind("Healing step addPCurve on body 1 could not be done (", 0), 0u) << said[0];
            }
            api_del_entity(sheet);
            set_global_error_info(nullptr);
        }
}
