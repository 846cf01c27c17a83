// A face's loop pcurves after they are (re)made: each continues the one
// before it in the surface's parameters, a seam's two uses a period apart,
// whatever whole periods the pcurves were handed over at.
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "geometry/seam_pcurves.hxx"
#include "model/kernel_call_bracket.hxx"
#include "surface_import_fixtures.hxx"
#include "support/geometry_builders.hxx"
#include "velm/build.hxx"
#include "velm/geometry.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

using namespace geomtest;

namespace {

// The cylinder's side: the face whose surface closes round.
FACE* closingFace(BODY* body)
{
    ENTITY_LIST faces;
    api_get_faces(body, faces);
    for (int i = 0; i < faces.count(); ++i) {
        FACE* f = static_cast<FACE*>(faces[i]);
        if (f->geometry() && f->geometry()->equation().type() == 2)
            return f;
    }
    return nullptr;
}

QELpar_pos pcurveAt(const COEDGE* c, bool start)
{
    const QELinterval r = c->param_range();
    return c->geometry()->def().eval_position(start ? r.start_pt() : r.end_pt());
}

double widestJoinStep(FACE* face, bool& allPCurved) { return testkit::widest_loop_join_step(face, allPCurved); }

// A cylinder placed by `frame` (its transform baked in) and its side.
void placedCylinder(const testkit::KernelFrame& frame, BODY*& body, FACE*& side)
{
    body = testkit::make_cylinder();
    ASSERT_TRUE(api_apply_transf(body, frame.transform).ok());
    ASSERT_TRUE(api_change_body_trans(body).ok());
    side = closingFace(body);
    ASSERT_NE(side, nullptr);
}

} // namespace

class LoopPCurvePlacement : public GeometryTest {};

// Pcurves handed over whole periods off (a seeded sample of shifts, each
// use its own), or left out for the kernel to project, come out joined up
// in every frame.
TEST_F(LoopPCurvePlacement, LoopsJoinUpWhateverPeriodsTheirPCurvesCameAt)
{
    std::mt19937 random(36);
    std::uniform_int_distribution<int> periods(-2, 2);
    for (const testkit::KernelFrame& frame : testkit::kernel_frames())
        for (int round = 0; round < 6; ++round) {
            SCOPED_TRACE(std::string(frame.name) + ", round " + std::to_string(round));
            BODY* body = nullptr;
            FACE* face = nullptr;
            ASSERT_NO_FATAL_FAILURE(placedCylinder(frame, body, face));
            const double period = ve_closing_period(face->geometry()->equation(), false);
            ASSERT_GT(period, 0.0);
            bool pcurved = false;
            ASSERT_LT(widestJoinStep(face, pcurved), 1e-6);
            bool moved = false;
            for (COEDGE* c : testkit::loop_uses(face)) {
                if (round == 0) {
                    // Left out: the kernel projects each use on its own.
                    c->set_geometry(nullptr);
                    continue;
                }
                if (const int k = periods(random); k != 0) {
                    testkit::shift_pcurve(c, 0.0, k * period);
                    moved = true;
                }
            }
            if (round > 0 && !moved)
                testkit::shift_pcurve(testkit::loop_uses(face).front(), 0.0, period);
            ve_add_loop_pcurves(face);
            EXPECT_LT(widestJoinStep(face, pcurved), 1e-6);
            EXPECT_TRUE(pcurved);
            api_del_entity(body);
        }
}

namespace {

// Each use's pcurve ends, in loop order.
std::vector<QELpar_pos> pcurveEnds(FACE* face)
{
    std::vector<QELpar_pos> ends;
    for (COEDGE* c : testkit::loop_uses(face))
        if (c->geometry()) {
            ends.push_back(pcurveAt(c, true));
            ends.push_back(pcurveAt(c, false));
        }
    return ends;
}

bool sameEnds(const std::vector<QELpar_pos>& a, const std::vector<QELpar_pos>& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].u != b[i].u || a[i].v != b[i].v)
            return false;
    return true;
}

} // namespace

// A placement the kernel refuses part way (the nth move's new pcurve cannot
// be made) is taken back whole: every use keeps the pcurve it had, the
// placement answers false and, given the face's name, warns naming it; the
// refit that places after fitting raises it, so that its caller's bracket
// takes the fit back too. Before, each move had a bracket of its own and a
// loop was left partly moved: some uses a period from their neighbours.
// Seeded shifts, every frame, a failure at every move in turn.
TEST_F(LoopPCurvePlacement, AMoveTheKernelRefusesTakesBackTheWholePlacement)
{
    std::mt19937 random(40);
    std::uniform_int_distribution<int> periods(1, 3);
    for (const testkit::KernelFrame& frame : testkit::kernel_frames())
        for (const bool refit : {false, true})
            for (long n = 1;; ++n) {
                SCOPED_TRACE(std::string(frame.name) + (refit ? ", refit" : ", placement") + ", move " + std::to_string(n));
                BODY* body = nullptr;
                FACE* face = nullptr;
                ASSERT_NO_FATAL_FAILURE(placedCylinder(frame, body, face));
                const double period = ve_closing_period(face->geometry()->equation(), false);
                // Every use off by its own whole periods: all but one must move.
                const std::vector<COEDGE*> uses = testkit::loop_uses(face);
                ASSERT_GE(uses.size(), 3u);
                for (std::size_t i = 0; i < uses.size(); ++i)
                    testkit::shift_pcurve(uses[i], 0.0, (static_cast<double>(i) + 4.0 * periods(random)) * period);
                const std::vector<QELpar_pos> before = pcurveEnds(face);
                qelx_test::EventRecorder events;
                velm_test_fail_alloc("seam_pcurves.cpp", n);
                bool placed = false;
                outcome raised(0, nullptr);
                if (refit)
                    raised = velmCall([&] { ve_add_loop_pcurves(face); });
                else
                    placed = ve_place_loop_pcurves(face, "face 7");
                const bool failed = !velm_test_injection_pending();
                velm_test_reset();
                bool pcurved = false;
                if (!failed) {
                    // Past the last move: placed whole.
                    EXPECT_TRUE(refit ? raised.ok() : placed);
                    EXPECT_LT(widestJoinStep(face, pcurved), 1e-6);
                    api_del_entity(body);
                    if (!refit) {
                        EXPECT_GE(n, 3) << "fewer moves than uses shifted";
                    }
                    break;
                }
                EXPECT_TRUE(sameEnds(pcurveEnds(face), before)) << "a move was kept";
                if (refit) {
                    EXPECT_FALSE(raised.ok()) << "the refused placement was not raised";
                } else {
                    EXPECT_FALSE(placed);
                    const std::vector<std::string> warnings = events.names("Warning");
                    ASSERT_EQ(warnings.size(), 1u);
                    EXPECT_EQ(warnings[0].rfind("face 7: its loops' pcurves could not be moved", 0), 0u) << warnings[0];
                }
                api_del_entity(body);
            }
}

// A use the kernel could fit no pcurve to (a closed edge on a spline it
// approximates) says nothing of where the loop runs on: the use after it is
// placed from its other neighbour. It was taken as placed where it lay, and
// a seam use after it stayed on its partner's side, the face then zero wide
// in a writer's reading. Every frame, each use in turn without pcurve, the
// others seeded periods off.
TEST_F(LoopPCurvePlacement, AUseWithoutPCurveLeavesTheNextPlacedFromItsOtherSide)
{
    std::mt19937 random(41);
    std::uniform_int_distribution<int> periods(-2, 2);
    for (const testkit::KernelFrame& frame : testkit::kernel_frames())
        for (std::size_t bare = 0;; ++bare) {
            BODY* body = nullptr;
            FACE* face = nullptr;
            ASSERT_NO_FATAL_FAILURE(placedCylinder(frame, body, face));
            const std::vector<COEDGE*> uses = testkit::loop_uses(face);
            if (bare == uses.size()) {
                api_del_entity(body);
                break;
            }
            SCOPED_TRACE(std::string(frame.name) + ", use " + std::to_string(bare) + " without pcurve");
            const double period = ve_closing_period(face->geometry()->equation(), false);
            for (std::size_t i = 0; i < uses.size(); ++i) {
                // The use after the bare one always off, the others by chance.
                const int k = i == (bare + 1) % uses.size() ? 1 + std::abs(periods(random)) : periods(random);
                if (i != bare && k != 0)
                    testkit::shift_pcurve(uses[i], 0.0, k * period);
            }
            uses[bare]->set_geometry(nullptr);
            EXPECT_TRUE(ve_place_loop_pcurves(face));
            bool pcurved = true;
            EXPECT_LT(widestJoinStep(face, pcurved), 1e-6);
            EXPECT_FALSE(pcurved);
            api_del_entity(body);
        }
}
