// The trim roads: every source face built alone and made a sheet body, the
// events and attributes that go with them, and a kernel failure inside the
// road that takes back what it made and nothing else.
#include "importer_support.hxx"

#include "qelx_velm/ve_attrib_transfer.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "velm/attrib.hxx"
#include "velm/groups.hxx"
#include "support/model_builders.hxx"
#include "support/query_builders.hxx"
#include "support/quilt_builders.hxx"

#include <string>
#include <vector>

using namespace importtest;
using qelx_test::TestModel;

namespace {

bool hasNamed(const ENTITY* e, const char* name)
{
    ATTRIB_GEN_NAME* found = nullptr;
    return api_find_named_attribute(e, name, found).ok() && found;
}

std::vector<ENTITY*> groupMembers(QELGROUP* group)
{
    ENTITY_LIST list;
    api_ct_return_ents(group, list);
    std::vector<ENTITY*> out;
    for (int i = 0; i < list.count(); ++i)
        out.push_back(list[i]);
    return out;
}

std::vector<int> faceNumbers(const qelx_test::EventRecorder& events)
{
    std::vector<int> out;
    for (const qelx_test::EventRecord& r : events.records())
        if (r.kind == "StartTranslate" && r.name == "TrimFace")
            out.push_back(r.number);
    return out;
}

// The end-translate events' target counts, in firing order, per source kind.
std::vector<int> translatedCounts(const qelx_test::EventRecorder& events, qelx_test::EntityKind kind)
{
    std::vector<int> out;
    for (const qelx_test::EventRecord& r : events.records())
        if (r.kind == "EndTranslate" && qelx_test::kindOfWord(r.source.word) == kind)
            out.push_back(static_cast<int>(r.targets.size()));
    return out;
}

} // namespace

class TrimRoad : public ImportTest {};

TEST_F(TrimRoad, ASolidBecomesOneSheetPerFaceOrOneBodyOfThem)
{
    for (bool single : {false, true}) {
        SCOPED_TRACE(single ? "one body" : "sheet per face");
        qelx_test::OptionScope options;
        if (single)
            options.on(Ve_OptionDoc::keyOf("AllSheetsInSingleBody"));
        for (const Frame& frame : frames()) {
            SCOPED_TRACE(frame.name);
            ImporterRun run(TestModel::block(1, 2, 3));
            Gk_ImportContext context(&run.target(), &run.sourceDocument());
            context.SetMorph(frame.morph);
            qelx_test::EventRecorder events;
            EXPECT_EQ(run.importer().ImportSolidAsTrim(&run.source(), run.id(qelx_test::KindBody, 0), &context),
                      QELI_OK);
            const std::vector<BODY*> sheets = run.result();
            ASSERT_EQ(sheets.size(), single ? 1u : 6u);
            int faces = 0;
            for (BODY* b : sheets) {
                faces += testkit::count_faces(b);
                EXPECT_EQ(testkit::model_problems(b), "");
                EXPECT_TRUE(findingsOf(b).empty()) << ::testing::PrintToString(findingsOf(b));
            }
            EXPECT_EQ(faces, 6);
            EXPECT_EQ(faceNumbers(events), (std::vector<int>{1, 2, 3, 4, 5, 6}));
            EXPECT_EQ(translatedCounts(events, qelx_test::KindFace), std::vector<int>(6, 1));
            EXPECT_EQ(translatedCounts(events, qelx_test::KindBody), std::vector<int>{single ? 1 : 6});
            const std::vector<qelx_test::StageRecord> stages = events.stages();
            ASSERT_EQ(stages.size(), 1u);
            EXPECT_EQ(stages[0].name, "TrimFace");
            EXPECT_EQ(stages[0].count, 6);
            EXPECT_TRUE(stages[0].finished);
            EXPECT_TRUE(stages[0].lastStage);
        }
    }
}

TEST_F(TrimRoad, SplinePatchesComeThroughCleanInEveryFrame)
{
    for (bool repair : {false, true}) {
        SCOPED_TRACE(repair ? "trim repair" : "plain faces");
        qelx_test::OptionScope options;
        if (repair)
            options.on(Ve_OptionDoc::keyOf("RepairTrim"));
        for (const Frame& frame : frames()) {
            SCOPED_TRACE(frame.name);
            ImporterRun run(testkit::lens_quilt(3, 2));
            Gk_ImportContext context(&run.target(), &run.sourceDocument());
            context.SetMorph(frame.morph);
            ASSERT_EQ(run.importer().ImportSolidAsTrim(&run.source(), run.id(qelx_test::KindBody, 0), &context),
                      QELI_OK);
            const std::vector<BODY*> sheets = run.result();
            ASSERT_EQ(sheets.size(), 12u);
            for (BODY* b : sheets)
                EXPECT_TRUE(findingsOf(b).empty()) << ::testing::PrintToString(findingsOf(b));
            // The lens is convex and its corners lie evenly about its centre:
            // each face's outward normal, in the middle of its patch, points
            // away from that centre.
            QELvector sum;
            int corners = 0;
            for (BODY* b : sheets) {
                ENTITY_LIST vertices;
                api_get_vertices(b, vertices);
                for (int i = 0; i < vertices.count(); ++i, ++corners)
                    sum += static_cast<VERTEX*>(vertices[i])->geometry()->coords() - QELposition();
            }
            ASSERT_GT(corners, 0);
            const QELposition centre = QELposition() + sum / corners;
            for (BODY* b : sheets)
                for (FACE* f : testkit::faces_of(b)) {
                    const surface& s = f->geometry()->equation();
                    const QELpar_pos mid = s.param_range().mid();
                    const QELvector outward =
                        (f->sense() == REVERSED ? -1.0 : 1.0) * QELvector(s.eval_normal(mid));
                    EXPECT_GT(outward % (s.eval_position(mid) - centre), 0.0);
                }
        }
    }
}

TEST_F(TrimRoad, SheetFacesAllCountAsOneAndLooplessFacesComeFromTheirPlane)
{
    struct Case {
        const char* what;
        TestModel model;
        int faces;
    };
    for (const Case& c : {Case{"two faces", TestModel::twoFacesSharingEdge(), 2},
                          Case{"a face without loops", TestModel::planeFace(true), 1}}) {
        SCOPED_TRACE(c.what);
        ImporterRun run(c.model);
        Gk_ImportContext context(&run.target(), &run.sourceDocument());
        qelx_test::EventRecorder events;
        EXPECT_EQ(run.importer().ImportSheetAsTrim(&run.source(), run.id(qelx_test::KindBody, 0), &context), QELI_OK);
        EXPECT_EQ(run.result().size(), static_cast<std::size_t>(c.faces));
        EXPECT_EQ(faceNumbers(events), std::vector<int>(c.faces, 1));
        for (BODY* b : run.result())
            EXPECT_EQ(testkit::model_problems(b), "");
    }
}

TEST_F(TrimRoad, ABodyWithoutFacesStillReportsItsStageAndItself)
{
    TestModel model;
    int shell = -1;
    model.addSolidBody(shell);
    ImporterRun run(model);
    Gk_ImportContext context(&run.target(), &run.sourceDocument());
    qelx_test::EventRecorder events;
    EXPECT_EQ(run.importer().ImportSolidAsTrim(&run.source(), run.id(qelx_test::KindBody, 0), &context), QELI_OK);
    EXPECT_TRUE(run.result().empty());
    ASSERT_EQ(events.stages().size(), 1u);
    EXPECT_EQ(events.stages()[0].count, 0);
    EXPECT_EQ(translatedCounts(events, qelx_test::KindBody), std::vector<int>{0});
}

TEST_F(TrimRoad, FacesAndSheetsCarryTheirSourcesAttributes)
{
    qelx_test::OptionScope options;
    options.on(Ve_OptionDoc::keyOf("TransferAttribute"));
    TestModel model = TestModel::block(1, 2, 3);
    model.attributes[qelx_test::wordOf(qelx_test::KindFace, 2)].name = "side";
    model.attributes[qelx_test::wordOf(qelx_test::KindFace, 2)].surfaceUnbounded = true;
    model.attributes[qelx_test::wordOf(qelx_test::KindBody, 0)].name = "block";
    ImporterRun run(model);
    Gk_ImportContext context(&run.target(), &run.sourceDocument());
    ASSERT_EQ(run.importer().ImportSolidAsTrim(&run.source(), run.id(qelx_test::KindBody, 0), &context), QELI_OK);
    const std::vector<BODY*> sheets = run.result();
    ASSERT_EQ(sheets.size(), 6u);
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        ENTITY_LIST faces;
        api_get_faces(sheets[i], faces);
        ASSERT_EQ(faces.count(), 1);
        const bool named = hasNamed(faces[0], Ve_AttribTransfer::LabelName);
        EXPECT_EQ(named, i == 2);
        EXPECT_EQ(hasNamed(faces[0], Ve_AttribTransfer::UnboundedSurfaceName), i == 2);
        EXPECT_TRUE(hasNamed(sheets[i], Ve_AttribTransfer::LabelName));
    }
}

TEST_F(TrimRoad, AKernelFailureInsideTheRoadLeavesOnlyWholeSheets)
{
    // Each kernel call of the road fails in turn, until one run gets through;
    // a face it lost is never lost in silence.
    for (long nth = 1;; ++nth) {
        SCOPED_TRACE(nth);
        ImporterRun run(TestModel::block(1, 2, 3));
        Gk_ImportContext context(&run.target(), &run.sourceDocument());
        qelx_test::EventRecorder events;
        velm_test_fail_call("*", nth, VELM_NOT_IMPLEMENTED);
        EXPECT_EQ(run.importer().ImportSolidAsTrim(&run.source(), run.id(qelx_test::KindBody, 0), &context), QELI_OK);
        const bool fired = !velm_test_injection_pending();
        const std::string failedCall = velm_test_last_injected_call();
        velm_test_reset();
        for (BODY* b : run.result()) {
            ASSERT_TRUE(velm_is_live_entity(b));
            EXPECT_EQ(testkit::model_problems(b), "");
        }
        if (run.result().size() < 6u) {
            EXPECT_GE(events.count("Warning"), 1) << "a face lost without a warning: " << failedCall;
        }
        if (!fired) {
            EXPECT_EQ(run.result().size(), 6u);
            break;
        }
    }
}

TEST_F(TrimRoad, SheetsTakeTheBodysLayerAndFacesTheirOwnOnlyWhenCut)
{
    for (bool repair : {false, true}) {
        SCOPED_TRACE(repair ? "trim repair" : "plain faces");
        qelx_test::OptionScope options;
        options.on(Ve_OptionDoc::keyOf("TransferLayer"));
        if (repair)
            options.on(Ve_OptionDoc::keyOf("RepairTrim"));
        TestModel model = TestModel::block(1, 2, 3);
        model.layers[5] = qelx_test::TestLayer{"body", {0.1, 0.2, 0.3, 1.0}, true};
        model.layers[8] = qelx_test::TestLayer{"face", {0.3, 0.2, 0.1, 1.0}, true};
        model.attributes[qelx_test::wordOf(qelx_test::KindBody, 0)].layer = 5;
        model.attributes[qelx_test::wordOf(qelx_test::KindFace, 1)].layer = 8;
        ImporterRun run(model);
        Gk_ImportContext context(&run.target(), &run.sourceDocument());
        qelx_test::EventRecorder events;
        ASSERT_EQ(run.importer().ImportSolidAsTrim(&run.source(), run.id(qelx_test::KindBody, 0), &context), QELI_OK);
        const std::vector<BODY*> sheets = run.result();
        ASSERT_EQ(sheets.size(), 6u);
        QELXVelmLayerImporter* layers = run.importer().GetLayerImporter();
        QELGROUP* bodyLayer = nullptr;
        ASSERT_EQ(layers->FindLayerById(5, bodyLayer), QELI_OK);
        EXPECT_EQ(groupMembers(bodyLayer), std::vector<ENTITY*>(sheets.begin(), sheets.end()));
        QELGROUP* faceLayer = nullptr;
        layers->FindLayerById(8, faceLayer);
        ENTITY_LIST second;
        api_get_faces(sheets[1], second);
        if (repair) {
            ASSERT_NE(faceLayer, nullptr);
            EXPECT_EQ(groupMembers(faceLayer), std::vector<ENTITY*>{second[0]});
        } else {
            EXPECT_TRUE(faceLayer == nullptr || groupMembers(faceLayer).empty());
        }
        // One end-translate per source face either way.
        EXPECT_EQ(translatedCounts(events, qelx_test::KindFace), std::vector<int>(6, 1));
        for (QELGROUP* g : layers->GetLayers())
            api_del_entity(g);
    }
}

TEST_F(TrimRoad, EveryShellOfASheetBodyGivesItsFaces)
{
    // A sheet body of two 2-D shells (the faces of two blocks): the road
    // makes a sheet of every face of both.
    TestModel model = TestModel::block(1, 2, 3);
    const int second = model.append(TestModel::block(2, 2, 2));
    for (const int b : {0, second}) {
        const int shell = model.volumes[model.lumps[model.bodies[b].lumps[0]].volumes[0]].shells[0];
        model.shells[shell].closed = false;
        model.bodies[0].shells2D.push_back(shell);
    }
    model.bodies[0].lumps.clear();
    model.bodies.erase(model.bodies.begin() + second);
    ASSERT_EQ(model.bodies[0].shells2D.size(), 2u);
    ImporterRun run(model);
    Gk_ImportContext context(&run.target(), &run.sourceDocument());
    EXPECT_EQ(run.importer().ImportSheetAsTrim(&run.source(), run.id(qelx_test::KindBody, 0), &context), QELI_OK);
    int made = 0;
    for (BODY* b : run.result())
        made += testkit::count_faces(b);
    EXPECT_EQ(made, 12);
}

// A face the road makes nothing of, without a word from the face factory
// (a face without loops on a cylinder, which no loop bounds), is warned of
// naming its body by the body's place in the source, from 0, and the face
// by its place in the body; the faces beside it are made.
TEST_F(TrimRoad, AFaceItCannotMakeIsNamedByItsBodysPlace)
{
    TestModel model = TestModel::planeFace(true);
    TestModel unbounded;
    int shell = -1;
    unbounded.addSheetBody(shell);
    unbounded.addFace(shell, unbounded.addPlane({0, 0, 0}, {1, 0, 0}, {0, 0, 1}));
    unbounded.addFace(shell, unbounded.addCone({0, 0, 0}, {1, 0, 0}, {0, 0, 1}, 2.0, 0.0));
    model.append(TestModel::planeFace(true));
    const int third = model.append(unbounded);
    ASSERT_EQ(third, 2);
    for (int body = 0; body <= third; ++body) {
        SCOPED_TRACE("body " + std::to_string(body));
        ImporterRun run(model);
        Gk_ImportContext context(&run.target(), &run.sourceDocument());
        qelx_test::EventRecorder events;
        EXPECT_EQ(run.importer().ImportSheetAsTrim(&run.source(), run.id(qelx_test::KindBody, body), &context),
                  QELI_OK);
        std::vector<std::string> warnings;
        for (const qelx_test::EventRecord& r : events.records())
            if (r.kind == "Warning")
                warnings.push_back(r.name);
        EXPECT_EQ(run.result().size(), 1u);
        if (body == third)
            EXPECT_EQ(warnings, std::vector<std::string>{"body 2, face 1: could not be made"});
        else
            EXPECT_TRUE(warnings.empty()) << warnings.front();
    }
}
