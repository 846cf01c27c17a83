// Post-import processing of a document: the check of its solids, the
// healing stage and its switches, and the write-back of healed bodies into
// the parts that place them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/document.hxx"
#include "model/entity_views.hxx"
#include "persist/ve_part.hxx"
#include "qelx/qelx_test.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "support/connector_test.hxx"
#include "support/geometry_builders.hxx"
#include "support/heal_builders.hxx"
#include "support/model_builders.hxx"
#include "support/repair_sweep.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/insanity.hxx"
#include "velm/memory.hxx"
#include "velm/topology_api.hxx"

namespace {

class PostProcess : public testkit::ConnectorTest {};

Ve_BodyTag* postProcessView(BODY* b) { return reinterpret_cast<Ve_BodyTag*>(b); }

int postProcessInsaneCount(BODY* b)
{
    ENTITY_LIST insane;
    api_check_entity(b, &insane);
    return insane.count();
}

int postProcessStarts(const qelx_test::EventRecorder& events, const std::string& name)
{
    int n = 0;
    for (const qelx_test::EventRecord& r : events.records())
        n += r.kind == "StartTask" && r.name == name;
    return n;
}

// One assembly placing each body (moved by the morph given).
Ve_AssemblyTag* placeAllInOneAssembly(Ve_DocumentTag& document, const std::vector<BODY*>& bodies, const QELXMorph3D& morph)
{
    QELXDynamicArray<QELXDynamicArray<Ve_BodyTag*>> parts;
    QELXDynamicArray<QELXMorph3D> morphs;
    for (BODY* b : bodies) {
        parts.Add(QELXDynamicArray<Ve_BodyTag*>(1, postProcessView(b)));
        morphs.Add(morph);
    }
    Ve_AssemblyTag* assembly = document.createAssembly(QELXMorph3D(), morphs, parts, {}, {});
    document.appendAssembly(assembly);
    return assembly;
}

} // namespace

TEST_F(PostProcess, ValidationCountsNullAndFaultySolidsAsBad)
{
    on("CheckBody");
    Ve_DocumentTag document;
    BODY* removed = testkit::make_plane_box();
    document.AddBody(testkit::make_plane_box());
    document.AddBody(removed);
    document.AddBody(testkit::make_box_with_moved_vertex(1e-3));
    document.RemoveBody(postProcessView(removed), false); // its slot stays, null
    api_del_entity(removed);
    qelx_test::EventRecorder events;
    EXPECT_EQ(document.PostProcess(), 0);
    int summaries = 0;
    for (const qelx_test::EventRecord& r : events.records())
        if (r.kind == "Summary") {
            ++summaries;
            EXPECT_EQ(r.total, 3);
            EXPECT_EQ(r.good, 1);
            EXPECT_EQ(r.text, "XVelm");
        }
    EXPECT_EQ(summaries, 1);
    document.empty();
}

TEST_F(PostProcess, HealingFollowsItsSwitchAndTheStageIsFiredTwice)
{
    for (const bool heal : {false, true}) {
        qelx_test::OptionScope scope;
        if (heal)
            scope.on(Ve_OptionDoc::keyOf("HealBody"));
        BODY* faulty = testkit::make_box_with_moved_vertex(1e-4);
        Ve_DocumentTag document;
        document.AddBody(faulty);
        qelx_test::EventRecorder events;
        document.PostProcess();
        const std::vector<qelx_test::StageRecord> stages = events.stages();
        ASSERT_EQ(stages.size(), 1u);
        EXPECT_EQ(stages[0].name, "ToVelmRepair");
        EXPECT_EQ(stages[0].count, 1);
        EXPECT_DOUBLE_EQ(stages[0].weight, 0.4);
        EXPECT_TRUE(stages[0].lastStage);
        EXPECT_TRUE(stages[0].finished);
        ASSERT_EQ(document.GetNumberOfSolids(), 1);
        EXPECT_EQ(document.GetSolidAt(0), faulty);
        EXPECT_EQ(postProcessInsaneCount(faulty) == 0, heal) << (heal ? "healed" : "left as it came");
        document.empty();
    }
}

// A body placed by an assembly is healed once, and only when healing is on,
// however many parts and solids refer to it.
TEST_F(PostProcess, PlacedBodiesAreHealedOnceAndOnlyWhenHealingIsOn)
{
    for (const bool heal : {false, true}) {
        qelx_test::OptionScope scope;
        if (heal)
            scope.on(Ve_OptionDoc::keyOf("HealBody"));
        BODY* placedSolid = testkit::make_box_with_moved_vertex(1e-4);
        BODY* placedOnly = testkit::make_box_with_moved_vertex(1e-4);
        Ve_DocumentTag document;
        document.AddBody(placedSolid);
        placeAllInOneAssembly(document, {placedSolid, placedOnly}, QELXMorph3D());
        placeAllInOneAssembly(document, {placedOnly}, QELXMorph3D());
        qelx_test::EventRecorder events;
        document.PostProcess();
        EXPECT_EQ(postProcessStarts(events, "StandardRepairStart"), heal ? 2 : 0);
        EXPECT_EQ(postProcessInsaneCount(placedSolid) == 0, heal);
        EXPECT_EQ(postProcessInsaneCount(placedOnly) == 0, heal);
        document.empty();
    }
}

// A placed body that healing splits: its part places the first piece and a
// new part, with the same placement, the other; the solids hold both.
TEST_F(PostProcess, PiecesOfAPlacedBodyAreWrittenBackIntoItsAssembly)
{
    on("HealBody");
    on("HealBodyPostProcessProE");
    BODY* apart = testkit::make_corner_touching_lumps(5.0);
    Ve_DocumentTag document;
    document.AddBody(apart);
    const QELXMorph3D shifted(QELXAffine(), QELXPoint3D(1.0, 2.0, 3.0), 1.0);
    Ve_AssemblyTag* assembly = placeAllInOneAssembly(document, {apart}, shifted);
    document.PostProcess();
    ASSERT_EQ(document.GetNumberOfSolids(), 2);
    ASSERT_EQ(assembly->getNumberOfPlacements(), 2);
    EXPECT_EQ(assembly->getPlacement(0)->getSolid(), postProcessView(apart));
    BODY* piece = reinterpret_cast<BODY*>(assembly->getPlacement(1)->getSolid());
    EXPECT_EQ(piece, document.GetSolidAt(1));
    EXPECT_NE(piece, apart);
    EXPECT_DOUBLE_EQ(assembly->getPlacement(1)->getMorph().GetTranslation()[2], 3.0);
    EXPECT_EQ(testkit::count_faces(apart) + testkit::count_faces(piece), 12);
    document.empty();
}

// A placed body that healing loses leaves its part without a body rather
// than pointing at a deleted one.
TEST_F(PostProcess, APlacedBodyHealingLosesLeavesItsPartEmpty)
{
    on("HealBody");
    on("HealBodyPostProcessVda");
    const QELinterval range(0.0, 5e-7);
    auto* edge = new EDGE(new VERTEX(new APOINT(0.0, 0.0, 0.0)), new VERTEX(new APOINT(5e-7, 0.0, 0.0)),
                          new STRAIGHT(straight(QELposition(0.0, 0.0, 0.0), QELunit_vector(1.0, 0.0, 0.0))),
                          FORWARD, EDGE_cvty_unknown, &range);
    BODY* tiny = nullptr;
    ASSERT_TRUE(api_make_ewire(1, &edge, tiny).ok());
    BODY* box = testkit::make_plane_box();
    Ve_DocumentTag document;
    Ve_AssemblyTag* assembly = placeAllInOneAssembly(document, {tiny, box}, QELXMorph3D());
    document.PostProcess();
    ASSERT_EQ(assembly->getNumberOfPlacements(), 2);
    EXPECT_EQ(assembly->getPlacement(0)->getSolid(), nullptr);
    EXPECT_EQ(assembly->getPlacement(1)->getSolid(), postProcessView(box));
    document.empty();
}

// The import road hands each recipe the bodies as they were built: two sheets
// lying on one another stay two bodies through every recipe (sewing a file's
// loose faces is the reader's work, not the healing's).
TEST_F(PostProcess, CoincidentSheetsReachEveryRecipeAsTwoBodies)
{
    const char* const recipes[] = {"",
                                   "HealBodyPostProcessProE",
                                   "HealBodyPostProcessV4",
                                   "HealBodyPostProcessV5",
                                   "HealBodyPostProcessUg",
                                   "HealBodyPostProcessVda",
                                   "HealBodyPostProcessPs",
                                   "HealBodyPostProcessStep",
                                   "HealBodyPostProcessIges",
                                   "HealBodyPostProcessIdeas",
                                   "HealBodyPostProcessInventor"};
    int frameNumber = 0;
    for (const QELtransf& frame : testkit::heal_frames()) {
        SCOPED_TRACE("frame " + std::to_string(frameNumber++));
        for (const char* recipe : recipes) {
            SCOPED_TRACE(recipe);
            qelx_test::OptionScope scope;
            scope.on(Ve_OptionDoc::keyOf("HealBody"));
            if (*recipe)
                scope.on(Ve_OptionDoc::keyOf(recipe));
            // The bottom side of two loose boxes: the same square twice.
            std::vector<BODY*> sheets;
            for (int copy = 0; copy < 2; ++copy) {
                std::vector<BODY*> box = testkit::make_loose_box_sheets(frame);
                sheets.push_back(box[0]);
                for (std::size_t k = 1; k < box.size(); ++k)
                    api_del_entity(box[k]);
            }
            Ve_DocumentTag document;
            for (BODY* b : sheets)
                document.AddBody(b);
            qelx_test::EventRecorder events;
            document.PostProcess();
            std::vector<int> numbers;
            for (const qelx_test::EventRecord& r : events.records())
                if (r.kind == "StartRepair")
                    numbers.push_back(r.number);
            if (std::string(recipe) == "HealBodyPostProcessIges") {
                EXPECT_EQ(numbers, (std::vector<int>{1, 2})) << "the recipe walked two bodies";
            }
            ASSERT_EQ(document.GetNumberOfSolids(), 2);
            for (int k = 0; k < 2; ++k) {
                EXPECT_EQ(document.GetSolidAt(k), sheets[k]);
                EXPECT_EQ(testkit::count_faces(sheets[k]), 1);
                EXPECT_EQ(postProcessInsaneCount(sheets[k]), 0);
            }
            document.empty();
        }
    }
}
