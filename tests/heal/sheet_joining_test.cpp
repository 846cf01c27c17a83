// Loose faces joined before a recipe heals them: an unsewn closed model
// comes out one solid facing outwards, in every frame and recipe; what does
// not meet stays as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "heal/repair_utils.hxx"
#include "model/body_set.hxx"
#include "model/kernel_call_bracket.hxx"
#include "qelx/qelx_test.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "support/connector_test.hxx"
#include "support/heal_builders.hxx"
#include "support/model_builders.hxx"
#include "support/geometry_builders.hxx"
#include "support/repair_builders.hxx"
#include "velm/build.hxx"
#include "velm/errors.hxx"
#include "velm/query.hxx"
#include "velm/testkit.hxx"
#include "velm/topology_api.hxx"

namespace {

class SheetJoining : public testkit::ConnectorTest {};

Ve_CocoonTag* joiningSetOf(const std::vector<BODY*>& bodies)
{
    auto* set = new Ve_CocoonTag();
    for (BODY* b : bodies)
        set->appendBody(reinterpret_cast<Ve_BodyTag*>(b));
    return set;
}

std::vector<BODY*> joinedBodies(const Ve_CocoonTag& set)
{
    std::vector<BODY*> out;
    for (Ve_BodyTag* b : set.getBodies()) {
        BODY* body = reinterpret_cast<BODY*>(b);
        EXPECT_EQ(testkit::model_problems(body), "");
        EXPECT_EQ(testkit::check_findings(body), "");
        out.push_back(body);
    }
    return out;
}

void deleteJoined(const std::vector<BODY*>& bodies)
{
    for (BODY* b : bodies)
        api_del_entity(b);
}

TEST_F(SheetJoining, LooseBoxFacesBecomeOneOutwardSolidInEveryFrame)
{
    int frameNumber = 0;
    for (const QELtransf& frame : testkit::heal_frames()) {
        SCOPED_TRACE("frame " + std::to_string(frameNumber++));
        Ve_CocoonTagHandle set(joiningSetOf(testkit::make_loose_box_sheets(frame)));
        QELXVeRepairUtils::stitchSheetBodies(static_cast<Ve_CocoonTag*>(set));
        const std::vector<BODY*> bodies = joinedBodies(*set);
        ASSERT_EQ(bodies.size(), 1u);
        EXPECT_TRUE(is_closed_solid_body(bodies[0]));
        EXPECT_EQ(testkit::count_faces(bodies[0]), 6);
        EXPECT_EQ(testkit::count_edges(bodies[0]), 12);
        EXPECT_EQ(testkit::count_vertices(bodies[0]), 8);
        EXPECT_NEAR(testkit::polyhedron_volume(bodies[0]), 6000.0, 1e-6);
        deleteJoined(bodies);
    }
}

// Sewing loose faces belongs to the file reader: the healing recipes take
// the sheets as they come, each recipe as its own steps say.
TEST_F(SheetJoining, NoRecipeJoinsLooseSheetsOnItsOwn)
{
    for (const char* recipe : {"", "HealBodyPostProcessStep", "HealBodyPostProcessIges", "HealBodyPostProcessUg",
                               "HealBodyPostProcessProE"}) {
        SCOPED_TRACE(recipe);
        qelx_test::OptionScope scope;
        if (*recipe)
            scope.on(Ve_OptionDoc::keyOf(recipe));
        scope.on(Ve_OptionDoc::keyOf("HealBody"));
        const std::vector<BODY*> sheets = testkit::make_loose_box_sheets(QELtransf());
        Ve_CocoonTagHandle set(joiningSetOf(sheets));
        QELXVeRepairUtils::postProcessHeal(static_cast<Ve_CocoonTag*>(set));
        const std::vector<BODY*> bodies = joinedBodies(*set);
        EXPECT_EQ(bodies.size(), sheets.size());
        for (BODY* b : bodies)
            EXPECT_FALSE(is_closed_solid_body(b));
        deleteJoined(bodies);
    }
}

TEST_F(SheetJoining, AnOpenBoxStaysOneSheetAndFarSheetsStayApart)
{
    for (const QELtransf& frame : testkit::heal_frames()) {
        std::vector<BODY*> sheets = testkit::make_loose_box_sheets(frame);
        api_del_entity(sheets.back()); // the box without its last side
        sheets.pop_back();
        std::vector<BODY*> farBox = testkit::make_loose_box_sheets(translate_transf(QELvector(500.0, 0.0, 0.0)) * frame);
        BODY* far = farBox[0];
        deleteJoined(std::vector<BODY*>(farBox.begin() + 1, farBox.end()));
        BODY* solid = testkit::make_framed_box(frame);
        std::vector<BODY*> all = sheets;
        all.push_back(far);
        all.push_back(solid);
        Ve_CocoonTagHandle set(joiningSetOf(all));
        QELXVeRepairUtils::stitchSheetBodies(static_cast<Ve_CocoonTag*>(set));
        const std::vector<BODY*> bodies = joinedBodies(*set);
        ASSERT_EQ(bodies.size(), 3u);
        EXPECT_EQ(bodies[0], sheets[0]);
        EXPECT_FALSE(is_closed_solid_body(bodies[0]));
        EXPECT_EQ(testkit::count_faces(bodies[0]), 5);
        EXPECT_EQ(testkit::count_edges(bodies[0]), 12);
        EXPECT_EQ(bodies[1], far);
        EXPECT_EQ(testkit::count_edges(far), 4);
        EXPECT_EQ(bodies[2], solid);
        deleteJoined(bodies);
    }
}

// The triangles of a band given a half twist (a Moebius band) meet along
// every inner side, but no way of facing them all agrees across each: some
// pair of sides cannot be joined running opposite ways. The joining makes
// one open sheet the checker finds nothing wrong with, in every frame.
TEST_F(SheetJoining, TheTrianglesOfAOneSidedBandBecomeOneSoundOpenSheet)
{
    constexpr int kSteps = 12;
    std::vector<QELposition> rail;
    for (int k = 0; k < kSteps; ++k) {
        const double turn = 2.0 * M_PI * k / kSteps, twist = 0.5 * turn;
        const QELvector radial(std::cos(turn), std::sin(turn), 0.0);
        const QELvector across = std::cos(twist) * radial + std::sin(twist) * QELvector(0, 0, 1);
        const QELposition centre = QELposition(0, 0, 0) + 10.0 * radial;
        rail.push_back(centre + across); // 2k: one edge of the band
        rail.push_back(centre - across); // 2k + 1: the other
    }
    // After a whole turn each edge of the band runs on as the other.
    const auto a = [](int k) { return k < kSteps ? 2 * k : 1; };
    const auto b = [](int k) { return k < kSteps ? 2 * k + 1 : 0; };
    std::vector<std::vector<int>> triangles;
    for (int k = 0; k < kSteps; ++k) {
        triangles.push_back({a(k), b(k), b(k + 1)});
        triangles.push_back({a(k), b(k + 1), a(k + 1)});
    }
    for (const QELtransf& frame : testkit::heal_frames()) {
        std::vector<QELposition> placed;
        for (const QELposition& p : rail)
            placed.push_back(p * frame);
        const std::vector<BODY*> sheets = testkit::make_loose_sheets(placed, triangles);
        ASSERT_EQ(sheets.size(), triangles.size());
        Ve_CocoonTagHandle set(joiningSetOf(sheets));
        QELXVeRepairUtils::stitchSheetBodies(static_cast<Ve_CocoonTag*>(set));
        const std::vector<BODY*> bodies = joinedBodies(*set);
        ASSERT_EQ(bodies.size(), 1u);
        EXPECT_EQ(bodies[0], sheets[0]);
        EXPECT_EQ(testkit::count_faces(bodies[0]), static_cast<int>(triangles.size()));
        EXPECT_FALSE(is_closed_solid_body(bodies[0]));
        deleteJoined(bodies);
    }
}

// A side whose coordinates close the box but whose transform places it far
// away is no loose side of that box: it stays apart, the other five join.
TEST_F(SheetJoining, ASheetPlacedElsewhereByItsTransformStaysApart)
{
    std::vector<BODY*> sheets = testkit::make_loose_box_sheets(QELtransf());
    const QELtransf away = translate_transf(QELvector(500.0, 0.0, 0.0));
    ASSERT_TRUE(api_apply_transf(sheets.back(), away).ok());
    ASSERT_NE(sheets.back()->transform(), nullptr);
    Ve_CocoonTagHandle set(joiningSetOf(sheets));
    QELXVeRepairUtils::stitchSheetBodies(static_cast<Ve_CocoonTag*>(set));
    const std::vector<BODY*> bodies = joinedBodies(*set);
    ASSERT_EQ(bodies.size(), 2u);
    EXPECT_EQ(testkit::count_faces(bodies[0]), 5);
    EXPECT_FALSE(is_closed_solid_body(bodies[0]));
    EXPECT_EQ(bodies[1], sheets.back());
    EXPECT_EQ(testkit::count_faces(bodies[1]), 1);
    deleteJoined(bodies);
}

// Loose faces placed in the frame, some turned over as a file without face
// senses hands them: the sheets of a builder and the indices to turn.
struct LooseModel {
    const char* name;
    std::vector<BODY*> (*build)(const QELtransf& frame);
    std::vector<int> turned;
    int faces;
    double volume;
    double gap; // the widest gap the joining bridges
    // The least tolerance the joined edges must reach (a join whose kept
    // edge lies on both faces needs none).
    double tolerant;
};

std::vector<BODY*> looseBox(const QELtransf& frame) { return testkit::make_loose_box_sheets(frame); }
std::vector<BODY*> gappedBox(const QELtransf& frame) { return testkit::make_gapped_box_sheets(frame, 3e-4); }
// Wider than the pass after the first: bridged only when the passes go on
// past one that joined nothing.
std::vector<BODY*> widerGappedBox(const QELtransf& frame) { return testkit::make_gapped_box_sheets(frame, 2e-3); }
// The x = 10 side stands 3e-4 out from the box on corners of its own: no
// edge of it meets a neighbour closer than the first stitch tolerance.
std::vector<BODY*> sideApartBox(const QELtransf& frame)
{
    const double dx = 10, dy = 20, dz = 30, out = 3e-4;
    std::vector<QELposition> corners = {{0, 0, 0},      {dx, 0, 0},       {dx, dy, 0},       {0, dy, 0},
                                        {0, 0, dz},     {dx, 0, dz},      {dx, dy, dz},      {0, dy, dz},
                                        {dx + out, 0, 0}, {dx + out, dy, 0}, {dx + out, dy, dz}, {dx + out, 0, dz}};
    for (QELposition& p : corners)
        p = p * frame;
    return testkit::make_loose_sheets(corners,
                                      {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4}, {8, 9, 10, 11}, {2, 3, 7, 6}, {3, 0, 4, 7}});
}
std::vector<BODY*> looseCylinder(const QELtransf& frame)
{
    std::vector<BODY*> sheets = testkit::make_loose_cylinder_sheets(5.0, 8.0);
    for (BODY* sheet : sheets) {
        EXPECT_TRUE(api_apply_transf(sheet, frame).ok());
        EXPECT_TRUE(api_change_body_trans(sheet, nullptr).ok());
    }
    return sheets;
}

std::vector<BODY*> buildLoose(const LooseModel& model, const QELtransf& frame)
{
    std::vector<BODY*> sheets = model.build(frame);
    for (int k : model.turned)
        EXPECT_TRUE(api_reverse_body(sheets[k]).ok());
    return sheets;
}

double widestEdgeTolerance(BODY* body)
{
    ENTITY_LIST edges;
    api_get_edges(body, edges);
    double widest = 0.0;
    for (int k = 0; k < edges.count(); ++k)
        widest = std::max(widest, static_cast<EDGE*>(edges[k])->get_tolerance());
    return widest;
}

const double kPi = 3.14159265358979323846;
const LooseModel kLooseModels[] = {
    {"box, one side turned", looseBox, {1}, 6, 6000.0, 0.0, 0.0},
    {"box, three sides turned", looseBox, {0, 2, 4}, 6, 6000.0, 0.0, 0.0},
    {"cylinder", looseCylinder, {}, 3, kPi * 25.0 * 8.0, 0.0, 0.0},
    {"cylinder, floor turned", looseCylinder, {1}, 3, kPi * 25.0 * 8.0, 0.0, 0.0},
    {"cylinder, wall turned", looseCylinder, {0}, 3, kPi * 25.0 * 8.0, 0.0, 0.0},
    {"box with a gap", gappedBox, {}, 6, 6000.0, 3e-4, 1.5e-4},
    {"box with a gap, gapped side turned", gappedBox, {3}, 6, 6000.0, 3e-4, 1.5e-4},
    {"box with a wider gap", widerGappedBox, {}, 6, 6000.0, 2e-3, 0.0},
    {"box with a wider gap, gapped side turned", widerGappedBox, {3}, 6, 6000.0, 2e-3, 0.0},
    {"box with a side apart all round", sideApartBox, {}, 6, 6000.0, 3e-4, 1.5e-4},
    {"box with a side apart all round, that side turned", sideApartBox, {3}, 6, 6000.0, 3e-4, 1.5e-4},
};

// Faces turned either way, closed circles on both sides of an edge, a side
// meeting its neighbours across a gap: one solid facing outwards, which the
// checker finds nothing wrong with, its edges no more tolerant than the gap.
TEST_F(SheetJoining, LooseFacesAsFilesHandThemOverBecomeOneOutwardSolid)
{
    for (const LooseModel& model : kLooseModels) {
        int frameNumber = 0;
        for (const QELtransf& frame : testkit::heal_frames()) {
            SCOPED_TRACE(std::string(model.name) + " frame " + std::to_string(frameNumber++));
            Ve_CocoonTagHandle set(joiningSetOf(buildLoose(model, frame)));
            QELXVeRepairUtils::stitchSheetBodies(static_cast<Ve_CocoonTag*>(set));
            const std::vector<BODY*> bodies = joinedBodies(*set);
            ASSERT_EQ(bodies.size(), 1u);
            EXPECT_TRUE(is_closed_solid_body(bodies[0]));
            EXPECT_EQ(testkit::count_faces(bodies[0]), model.faces);
            double volume = 0.0, achieved = 0.0;
            EXPECT_TRUE(api_body_volume(bodies[0], 1e-6, volume, achieved).ok());
            EXPECT_NEAR(volume, model.volume, 1e-3 * model.volume);
            const double widest = widestEdgeTolerance(bodies[0]);
            EXPECT_LE(widest, model.gap * 1.01);
            if (model.tolerant > 0.0) {
                EXPECT_GT(widest, model.tolerant);
            }
            deleteJoined(bodies);
        }
    }
}

// The sheets joined with one failure injected: nothing is raised, one
// warning names what failed, and the sheets are as they came.
void expectTakenBackAndWarned(const std::vector<BODY*>& sheets, const std::function<void()>& inject, const char* named)
{
    std::vector<std::string> before;
    for (BODY* sheet : sheets)
        before.push_back(testkit::saved_text(sheet));
    Ve_CocoonTagHandle set(joiningSetOf(sheets));
    qelx_test::EventRecorder events;
    velm_test_reset();
    inject();
    const outcome joined =
        velmInnerCall([&] { QELXVeRepairUtils::stitchSheetBodies(static_cast<Ve_CocoonTag*>(set)); });
    EXPECT_FALSE(velm_test_injection_pending());
    velm_test_reset();
    EXPECT_TRUE(joined.ok());
    const std::vector<std::string> warnings = events.names("Warning");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].rfind(QELXVeRepairUtils::SheetJoiningFailed, 0), 0u) << warnings[0];
    EXPECT_NE(warnings[0].find(named), std::string::npos) << warnings[0];
    EXPECT_EQ(joinedBodies(*set), sheets);
    for (std::size_t i = 0; i < sheets.size(); ++i)
        EXPECT_EQ(testkit::saved_text(sheets[i]), before[i]);
    deleteJoined(sheets);
}

// A failure anywhere in the joining takes all of it back: the sheets are as
// they came, nothing is raised, and one warning names what failed.
TEST_F(SheetJoining, AFailureWhileJoiningTakesItAllBackAndIsWarnedOf)
{
    // The allocations of an undisturbed joining, to fail one half way.
    long allocations = 0;
    {
        const std::vector<BODY*> sheets = testkit::make_loose_box_sheets(QELtransf());
        Ve_CocoonTagHandle set(joiningSetOf(sheets));
        velm_test_reset();
        velm_test_record_calls(true);
        QELXVeRepairUtils::stitchSheetBodies(static_cast<Ve_CocoonTag*>(set));
        allocations = velm_test_allocation_count();
        velm_test_reset();
        deleteJoined(joinedBodies(*set));
    }
    ASSERT_GT(allocations, 10);
    struct Case {
        const char* call; // null: the allocation half way
        int nth;
        const char* named;
    };
    const Case cases[] = {
        {"api_check_entity", 1, "api_check_entity"},   {"api_check_entity", 7, "api_check_entity"},
        {"api_flatten_body", 1, "api_flatten_body"},   {"api_body_volume", 1, "api_body_volume"},
        {"api_copy_body", 1, "api_copy_body"},         {"api_body_volume", 2, "api_body_volume"},
        {"api_reverse_body", 1, "api_reverse_body"},   {nullptr, 0, "failed"},
    };
    int frameNumber = 0;
    for (const QELtransf& frame : testkit::heal_frames()) {
        ++frameNumber;
        for (const Case& c : cases) {
            // Only the mirrored frame leaves the closed faces facing inwards.
            if (c.call && std::string(c.call) == "api_reverse_body" && frameNumber != 3)
                continue;
            SCOPED_TRACE(std::string(c.call ? c.call : "allocation") + " " + std::to_string(c.nth) + " frame " +
                         std::to_string(frameNumber));
            expectTakenBackAndWarned(
                testkit::make_loose_box_sheets(frame),
                [&] {
                    if (c.call)
                        velm_test_fail_call(c.call, c.nth, VELM_BAD_ARGUMENT);
                    else
                        velm_test_fail_alloc(nullptr, allocations / 2);
                },
                c.named);
        }
    }
}

// Turning faces over and making joined edges tolerant are part of the
// joining: a failure in either takes it all back too.
TEST_F(SheetJoining, AFailureWhileTurningOrToleratingTakesItAllBack)
{
    const LooseModel& model = kLooseModels[6]; // gapped, the gapped side turned
    int frameNumber = 0;
    for (const QELtransf& frame : testkit::heal_frames()) {
        ++frameNumber;
        for (const char* call : {"api_reverse_face", "api_replace_edge_with_tedge", "api_replace_vertex_with_tvertex"}) {
            SCOPED_TRACE(std::string(call) + " frame " + std::to_string(frameNumber));
            expectTakenBackAndWarned(buildLoose(model, frame), [&] { velm_test_fail_call(call, 1, VELM_BAD_ARGUMENT); },
                                     call);
        }
    }
}

// Two spline sheets side by side, their meeting edges on intersection
// curves, placed in the frame.
std::vector<BODY*> splineSheetsSideBySide(const QELtransf& frame)
{
    BODY* first = testkit::make_spline_sheet();
    BODY* second = nullptr;
    EXPECT_TRUE(api_copy_body(first, second).ok());
    EXPECT_TRUE(api_apply_transf(second, translate_transf(QELvector(9.0, 0.0, 0.0))).ok());
    std::vector<BODY*> sheets = {first, second};
    for (BODY* sheet : sheets) {
        EXPECT_TRUE(api_apply_transf(sheet, frame).ok());
        EXPECT_TRUE(api_change_body_trans(sheet, nullptr).ok());
    }
    return sheets;
}

// Joining edges on intersection curves rebuilds them as such, which notes
// that the option switching that on is absent (as a converter that never
// set it runs): the sheets are joined all the same.
TEST_F(SheetJoining, SplineSheetsJoinWithoutTheIntersectionCurveOption)
{
    ASSERT_EQ(Ve_OptionDoc::CreateIntCurve, nullptr);
    int frameNumber = 0;
    for (const QELtransf& frame : testkit::heal_frames()) {
        SCOPED_TRACE("frame " + std::to_string(frameNumber++));
        Ve_CocoonTagHandle set(joiningSetOf(splineSheetsSideBySide(frame)));
        QELXVeRepairUtils::stitchSheetBodies(static_cast<Ve_CocoonTag*>(set));
        const std::vector<BODY*> bodies = joinedBodies(*set);
        ASSERT_EQ(bodies.size(), 1u);
        EXPECT_EQ(testkit::count_faces(bodies[0]), 2);
        EXPECT_EQ(testkit::count_edges(bodies[0]), 7);
        deleteJoined(bodies);
    }
}

TEST_F(SheetJoining, SwitchedOffLeavesTheSheetsLoose)
{
    // Off, the sheets stay as they came; absent, it is on.
    for (const bool off : {true, false}) {
        qelx_test::OptionScope scope;
        if (off)
            scope.off(Ve_OptionDoc::keyOf("StitchSheetBodies"));
        const std::vector<BODY*> sheets = testkit::make_loose_box_sheets(QELtransf());
        Ve_CocoonTagHandle set(joiningSetOf(sheets));
        QELXVeRepairUtils::stitchSheetBodies(static_cast<Ve_CocoonTag*>(set));
        const std::vector<BODY*> bodies = joinedBodies(*set);
        EXPECT_EQ(bodies.size(), off ? sheets.size() : 1u);
        deleteJoined(bodies);
    }
}

} // namespace
