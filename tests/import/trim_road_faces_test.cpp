// The trim road's faces as its face factory builds them, in every frame:
// every source loop with coedges bounds its face, with the pcurves as the
// source gives them, stored along their coedges or against them; a loop of
// no coedges (a cone's apex) bounds nothing and is passed over; a face
// without loops on a surface closed both ways is that whole surface.
#include "importer_support.hxx"

#include "support/model_builders.hxx"
#include "support/query_builders.hxx"
#include "velm/testkit.hxx"

#include <cmath>
#include <string>
#include <vector>

using namespace importtest;
using qelx_test::TestModel;

namespace {

// The model with every coedge's pcurve stored against its coedge, the
// sense saying so.
TestModel turnedPCurves(TestModel m)
{
    for (int c = 0; c < static_cast<int>(m.coedges.size()); ++c)
        if (m.coedges[c].pcurve >= 0)
            m.turnPCurve(c);
    return m;
}

int loopsOf(const FACE* face)
{
    int n = 0;
    for (const LOOP* l = face->loop(); l; l = l->next())
        ++n;
    return n;
}

// The sheets the road makes of the model's first body, solid or sheet.
std::vector<BODY*> roadSheets(ImporterRun& run, const Frame& frame, bool solid)
{
    Gk_ImportContext context(&run.target(), &run.sourceDocument());
    context.SetMorph(frame.morph);
    const QELXIdentifier body = run.id(qelx_test::KindBody, 0);
    const QELIResult done = solid ? run.importer().ImportSolidAsTrim(&run.source(), body, &context)
                                  : run.importer().ImportSheetAsTrim(&run.source(), body, &context);
    EXPECT_EQ(done, QELI_OK);
    return run.result();
}

} // namespace

class TrimRoadFaces : public ImportTest {};

TEST_F(TrimRoadFaces, EverySourceLoopBoundsItsFaceWithItsPCurvesEitherWayRound)
{
    struct Case {
        const char* what;
        TestModel model;
        bool solid;
        std::vector<int> loops; // of each face made, in order
    };
    const std::vector<Case> cases{
        {"a face with a hole", TestModel::sheetWithHole(), false, {2}},
        {"a face with a hole, its pcurves stored against", turnedPCurves(TestModel::sheetWithHole()), false, {2}},
        {"a block, its pcurves stored against", turnedPCurves(TestModel::block(1, 2, 3)), true, std::vector<int>(6, 1)},
        {"a cone's face and its apex loop of no coedges", TestModel::coneWithApexLoop(), false, {1}},
    };
    for (const Case& c : cases)
        for (const Frame& frame : frames()) {
            SCOPED_TRACE(std::string(c.what) + ", " + frame.name);
            ImporterRun run(c.model);
            qelx_test::EventRecorder events;
            const std::vector<BODY*> sheets = roadSheets(run, frame, c.solid);
            std::vector<int> loops;
            for (BODY* b : sheets)
                for (FACE* f : testkit::faces_of(b))
                    loops.push_back(loopsOf(f));
            EXPECT_EQ(loops, c.loops);
            for (BODY* b : sheets) {
                EXPECT_EQ(testkit::model_problems(b), "");
                EXPECT_TRUE(findingsOf(b).empty()) << ::testing::PrintToString(findingsOf(b));
            }
            EXPECT_EQ(events.names("Warning"), std::vector<std::string>());
        }
}

// A sphere's or a torus's face without loops, as a solid of that one face:
// the face made is the whole surface, bounded by nothing, its area the
// surface's.
TEST_F(TrimRoadFaces, ALooplessFaceOnASurfaceClosedBothWaysIsTheWholeSurface)
{
    struct Case {
        const char* what;
        TestModel model;
        double area;
    };
    const std::vector<Case> cases{
        {"sphere", TestModel::sphereFace(2.0), 4.0 * M_PI * 4.0},
        {"torus", TestModel::torusFace(3.0, 1.0), 4.0 * M_PI * M_PI * 3.0 * 1.0},
    };
    for (const Case& c : cases)
        for (const Frame& frame : frames()) {
            SCOPED_TRACE(std::string(c.what) + ", " + frame.name);
            ImporterRun run(c.model);
            const std::vector<BODY*> sheets = roadSheets(run, frame, true);
            ASSERT_EQ(sheets.size(), 1u);
            const std::vector<FACE*> faces = testkit::faces_of(sheets[0]);
            ASSERT_EQ(faces.size(), 1u);
            EXPECT_EQ(loopsOf(faces[0]), 0);
            EXPECT_TRUE(findingsOf(sheets[0]).empty()) << ::testing::PrintToString(findingsOf(sheets[0]));
            double area = 0.0;
            double error = 0.0;
            ASSERT_TRUE(api_ent_area(faces[0], 1e-4, area, error).ok());
            EXPECT_NEAR(area, c.area, 1e-3 * c.area);
        }
}
