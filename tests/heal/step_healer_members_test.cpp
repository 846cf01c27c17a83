// What the STEP healer offers beside its sequence: surfaces cut down to their
// faces, the surface check, degree-1 curves shortened, wire bodies made of a
// copy of an edge, and the debug saves.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "heal/step_healer.hxx"
#include "qelx/qelx_test.hxx"
#include "support/geometry_builders.hxx"
#include "support/heal_builders.hxx"
#include "support/connector_test.hxx"
#include "support/loop_builders.hxx"
#include "support/model_builders.hxx"
#include "support/repair_builders.hxx"
#include "support/repair_sweep.hxx"
#include "velm/bspline.hxx"
#include "velm/build.hxx"
#include "velm/check.hxx"
#include "velm/geometry.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/save.hxx"
#include "velm/testkit.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology_api.hxx"

namespace {

class StepHealerMembers : public testkit::ConnectorTest {};

int checkStarts(const qelx_test::EventRecorder& events)
{
    const std::vector<std::string> trace = testkit::task_trace(events.records());
    return static_cast<int>(std::count(trace.begin(), trace.end(), "+SplineSurfaceCheck"));
}

EDGE* onlyEdge(BODY* body)
{
    ENTITY_LIST edges;
    api_get_edges(body, edges);
    return edges.count() == 1 ? static_cast<EDGE*>(edges[0]) : nullptr;
}

// The files of the folder, by name.
std::vector<std::string> filesIn(const std::filesystem::path& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The bodies a save file holds, restored; empty when it cannot be read.
std::vector<BODY*> restoredBodies(const std::filesystem::path& file)
{
    std::vector<BODY*> bodies;
    FILE* fp = std::fopen(file.c_str(), "r");
    if (!fp)
        return bodies;
    ENTITY_LIST restored;
    if (api_restore_entity_list(fp, 1, restored).ok())
        for (int i = 0; i < restored.count(); ++i)
            if (is_BODY(restored[i]))
                bodies.push_back(static_cast<BODY*>(restored[i]));
    std::fclose(fp);
    return bodies;
}

// The current directory moved to a fresh folder for the test's length.
class InFreshFolder {
public:
    InFreshFolder()
        : m_was(std::filesystem::current_path()),
          m_dir(std::filesystem::temp_directory_path() / ("xvelm-dumps-" + std::to_string(::getpid())))
    {
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
        std::filesystem::current_path(m_dir);
    }
    InFreshFolder(const InFreshFolder&) = delete;
    InFreshFolder& operator=(const InFreshFolder&) = delete;
    ~InFreshFolder()
    {
        std::filesystem::current_path(m_was);
        std::filesystem::remove_all(m_dir);
    }
    const std::filesystem::path& dir() const { return m_dir; }

private:
    std::filesystem::path m_was, m_dir;
};

} // namespace

TEST_F(StepHealerMembers, SplineSurfacesAreCutToTheirFacesInEveryFrame)
{
    for (const QELtransf& frame : testkit::heal_frames()) {
        SCOPED_TRACE(frame.identity() ? "identity" : "framed");
        BODY* sheet = testkit::make_iso_rect_sheet(testkit::test_spline(), {testkit::rect(0.2, 0.6, 0.3, 0.8, true)});
        BODY* box = testkit::make_framed_box(frame);
        if (!frame.identity()) {
            api_apply_transf(sheet, frame);
            api_change_body_trans(sheet, nullptr);
        }
        FACE* curved = sheet->lump()->shell()->face();
        FACE* flat = box->lump()->shell()->face();
        const SURFACE* flatSurface = flat->geometry();
        QELXDynamicArray<FACE*> faces;
        faces.Add(curved);
        faces.Add(flat);
        qelx_test::EventRecorder events;
        QELXStepVelmHealer::subsetFaces(faces);
        EXPECT_EQ(checkStarts(events), 1) << "one check, for the one spline face";
        const QELpar_box range = curved->geometry()->equation().param_range();
        EXPECT_NEAR(range.u_range().length(), 0.4, 0.01);
        EXPECT_NEAR(range.v_range().length(), 0.5, 0.01);
        EXPECT_EQ(flat->geometry(), flatSurface);
        EXPECT_EQ(testkit::check_findings(sheet), "");
        api_del_entity(sheet);
        api_del_entity(box);
    }
}

TEST_F(StepHealerMembers, TheSurfaceCheckStopsAtTheFirstStatusFound)
{
    {
        qelx_test::EventRecorder events;
        EXPECT_TRUE(QELXStepVelmHealer::isSurfValid(testkit::test_spline()));
        EXPECT_EQ(checkStarts(events), 3);
    }
    // Two equal control points side by side in u.
    const QELposition points[6] = {{0, 0, 0}, {0, 1, 0}, {0, 0, 0}, {0, 1, 0}, {1, 0, 0}, {1, 1, 0}};
    const double uknots[] = {0, 0, 0, 1, 1, 1};
    const double vknots[] = {0, 0, 1, 1};
    bs3_surface net =
        bs3_surface_from_ctrlpts(2, 0, 0, 0, 3, 1, 0, 0, 0, 2, points, nullptr, QELresabs, 6, uknots, 4, vknots, 1e-10);
    const spline doubled(net);
    bs3_surface_delete(net);
    qelx_test::EventRecorder events;
    EXPECT_FALSE(QELXStepVelmHealer::isSurfValid(doubled));
    EXPECT_EQ(checkStarts(events), 1);
}

// A check that fails finds the surface no valid one, whichever of the three
// it is: a sound spline whose second or third check cannot be made is not
// vouched for by the checks that could.
TEST_F(StepHealerMembers, ASurfaceCheckThatFailsFindsTheSurfaceNotValid)
{
    const spline plain = testkit::test_spline();
    for (const long nth : {1L, 2L, 3L}) {
        SCOPED_TRACE("check " + std::to_string(nth) + " fails");
        velm_test_fail_alloc("check_geometry", nth);
        EXPECT_FALSE(QELXStepVelmHealer::isSurfValid(plain));
        EXPECT_FALSE(velm_test_injection_pending()) << "the checks made fewer allocations than meant";
        velm_test_reset();
    }
    EXPECT_TRUE(QELXStepVelmHealer::isSurfValid(plain));
}

TEST_F(StepHealerMembers, AThreePointDegreeOneCurveLosesItsMiddlePointEitherWayRound)
{
    const std::vector<QELposition> line{{0, 0, 0}, {1.5, 0.5, 0.5}, {3, 1, 1}};
    for (const sense_type sense : {FORWARD, REVERSED})
        for (bool turnedCurve : {false, true}) {
            SCOPED_TRACE(std::string(sense == FORWARD ? "forward" : "reversed") + (turnedCurve ? ", turned curve" : ""));
            BODY* wire = testkit::make_kinked_wire(line, sense);
            EDGE* edge = onlyEdge(wire);
            if (turnedCurve) {
                // The same curve as a reversed B-spline marked reversed.
                bs3_curve back = bs3_curve_copy(static_cast<const intcurve&>(edge->geometry()->equation()).cur());
                bs3_curve_reverse(back);
                intcurve same(back);
                same.negate();
                edge->set_geometry(make_curve(same));
            }
            const QELposition start = edge->start_pos(), end = edge->end_pos();
            ASSERT_TRUE(QELXStepVelmHealer::changeGeomIfReqdForDeg1(edge));
            edge = onlyEdge(wire);
            const auto& ic = static_cast<const intcurve&>(edge->geometry()->equation());
            EXPECT_EQ(bs3_curve_num_ctrlpts(ic.cur()), 2);
            EXPECT_LT((edge->start_pos() - start).len(), 1e-9);
            EXPECT_LT((edge->end_pos() - end).len(), 1e-9);
            const double atEnd = edge->sense() == FORWARD ? edge->param_range().end_pt() : -edge->param_range().end_pt();
            EXPECT_LT((edge->geometry()->equation().eval_position(atEnd) - end).len(), 1e-9);
            EXPECT_EQ(testkit::check_findings(wire), "");
            api_del_entity(wire);
        }
    // Four points, or a straight edge: nothing to drop.
    BODY* longer = testkit::make_kinked_wire({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}}, FORWARD);
    BODY* straight = testkit::make_wire_body(1);
    const std::string before = testkit::body_text(longer);
    EXPECT_FALSE(QELXStepVelmHealer::changeGeomIfReqdForDeg1(onlyEdge(longer)));
    EXPECT_FALSE(QELXStepVelmHealer::changeGeomIfReqdForDeg1(onlyEdge(straight)));
    EXPECT_EQ(testkit::body_text(longer), before);
    api_del_entity(longer);
    api_del_entity(straight);
}

TEST_F(StepHealerMembers, AWireBodyIsMadeOfACopyOfTheEdgeWithItsCoedgesKindAndSense)
{
    BODY* none = reinterpret_cast<BODY*>(1);
    EXPECT_EQ(QELXStepVelmHealer::CreateNewWireBody(nullptr, none).error_number(), 1);
    EXPECT_EQ(none, nullptr);

    BODY* box = testkit::make_plane_box();
    ENTITY_LIST edges;
    api_get_edges(box, edges);
    TEDGE* tolerant = nullptr;
    ASSERT_TRUE(api_replace_edge_with_tedge(static_cast<EDGE*>(edges[1]), tolerant).ok());
    const std::string boxBefore = testkit::body_text(box);
    for (EDGE* edge : {static_cast<EDGE*>(edges[0]), static_cast<EDGE*>(tolerant)}) {
        SCOPED_TRACE(is_TEDGE(edge) ? "tolerant" : "plain");
        BODY* wire = nullptr;
        ASSERT_TRUE(QELXStepVelmHealer::CreateNewWireBody(edge, wire).ok());
        ASSERT_NE(wire, nullptr);
        EDGE* copy = onlyEdge(wire);
        ASSERT_NE(copy, nullptr);
        ASSERT_NE(copy, edge);
        ASSERT_NE(copy->coedge(), nullptr);
        EXPECT_EQ(copy->coedge()->sense(), edge->coedge()->sense());
        EXPECT_EQ(is_TCOEDGE(copy->coedge()), is_TCOEDGE(edge->coedge()));
        EXPECT_LT((copy->start_pos() - edge->start_pos()).len(), 1e-12);
        EXPECT_EQ(testkit::model_problems(wire), "");
        api_del_entity(wire);
    }
    EXPECT_EQ(testkit::body_text(box), boxBefore) << "the edge copied stays as it was";
    api_del_entity(box);
}

TEST_F(StepHealerMembers, DumpsAreNumberedAcrossTheProcessAndRestoreAsSaved)
{
    InFreshFolder folder;
    BODY* box = testkit::make_plane_box();
    QELXStepVelmHealer::dump_body(box, nullptr);
    const std::vector<std::string> first = filesIn(folder.dir());
    ASSERT_EQ(first.size(), 1u);
    ASSERT_EQ(first[0].rfind("Body", 0), 0u);
    const int n = std::stoi(first[0].substr(4));
    QELXStepVelmHealer::dump_body(box, nullptr);
    QELXStepVelmHealer::dump_body(box, "pre");
    QELXStepVelmHealer::dump_body(nullptr, nullptr);
    const ellipse circle(QELposition(1, 2, 3), QELunit_vector(0, 0, 1), QELvector(2, 0, 0), 1.0);
    QELXStepVelmHealer::debug_wire_body_dump(&circle);
    QELXStepVelmHealer::debug_wire_body_dump(nullptr);
    const auto name = [&](const char* prefix, int k) { return prefix + std::to_string(n + k) + ".vlt"; };
    std::vector<std::string> expected{name("Body", 0), name("Body", 1), name("pre", 2), name("wire", 3)};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(filesIn(folder.dir()), expected);

    const std::vector<BODY*> boxes = restoredBodies(folder.dir() / name("Body", 1));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(testkit::body_text(boxes[0]), testkit::body_text(box));
    const std::vector<BODY*> wires = restoredBodies(folder.dir() / name("wire", 3));
    ASSERT_EQ(wires.size(), 1u);
    ASSERT_NE(onlyEdge(wires[0]), nullptr);
    EXPECT_NEAR(onlyEdge(wires[0])->length(), 4.0 * 3.14159265358979323846, 1e-9);
    for (BODY* b : {boxes[0], wires[0], box})
        api_del_entity(b);
}

// A tolerant vertex is widened to reach where its tolerant coedge starts,
// never narrowed to it.
TEST_F(StepHealerMembers, ATolerantVertexIsWidenedToItsTolerantCoedgeButNeverNarrowed)
{
    const struct {
        double tolerance, expected;
    } cases[] = {{1e-4, 1e-3}, {1e-2, 1e-2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tolerance);
        BODY* box = testkit::make_plane_box();
        ENTITY_LIST coedges;
        api_get_coedges(box, coedges);
        TCOEDGE* tc = testkit::make_coedge_tolerant(static_cast<COEDGE*>(coedges[0]));
        TVERTEX* tv = nullptr;
        ASSERT_TRUE(api_replace_vertex_with_tvertex(tc->start(), tv).ok());
        ASSERT_EQ(tc->start(), tv);
        // The coedge's own curve from the corner, the vertex moved 1e-3 off it.
        const QELposition from = tc->start_pos(), to = tc->end_pos();
        tc->set_3D_curve(make_curve(straight(from, normalise(to - from), 1.0)));
        tc->set_param_range(QELinterval(0.0, distance(from, to)));
        tv->geometry()->set_coords(from + QELvector(1e-3, 0.0, 0.0));
        tv->set_tolerance(c.tolerance);
        QELXStepVelmHealer::fixCoedgeStartEndTolErrors(tc);
        EXPECT_NEAR(tv->get_tolerance(), c.expected, 1e-9);
        api_del_entity(box);
    }
}

// A disc bounded by one closed edge at one vertex, with a slit (there and
// back) from that vertex: the vertex meets three edges. Removing the slit
// leaves the vertex naming the circle alone.
TEST_F(StepHealerMembers, ARemovedSlitLeavesAVertexOfThreeEdgesNamingTheLiveOne)
{
    auto* v = new VERTEX(new APOINT(QELposition(-1.0, 0.0, 0.0)));
    const QELinterval turn(-3.14159265358979323846, 3.14159265358979323846);
    auto* circle = new EDGE(v, v, new ELLIPSE(ellipse(QELposition(), QELunit_vector(0, 0, 1), QELvector(-1, 0, 0), 1.0)),
                            FORWARD, EDGE_cvty_unknown, &turn);
    v->add_edge(circle);
    auto* c = new COEDGE(circle, FORWARD, nullptr, nullptr);
    c->set_next(c);
    c->set_previous(c);
    auto* face = new FACE(new LOOP(c, nullptr), nullptr, new PLANE(plane(QELposition(), QELunit_vector(0, 0, 1))), FORWARD);
    BODY* disc = nullptr;
    ASSERT_TRUE(api_mk_by_faces(nullptr, 1, &face, disc).ok());
    testkit::add_slit_loop(face, v, QELposition(-0.5, 0.2, 0.0));
    ENTITY_LIST around;
    api_get_edges(v, around);
    ASSERT_EQ(around.count(), 3);
    EXPECT_TRUE(QELXStepVelmHealer::checkAndRemoveWireLoops(face));
    EXPECT_EQ(face->loop()->next(), nullptr);
    EXPECT_EQ(testkit::count_edges(disc), 1);
    for (int i = 0; v->edge(i); ++i)
        EXPECT_TRUE(velm_is_live_entity(v->edge(i)) && !v->edge(i)->is_lost());
    EXPECT_EQ(testkit::model_problems(disc), "");
    api_del_entity(disc);
}
