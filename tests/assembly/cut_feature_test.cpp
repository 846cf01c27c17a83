// Assembly cut features become collections of their tools and target bodies,
// one filled collection per placement of the assembly; and the commit's
// whole-assembly repair stage.
#include "assembly_test_support.hxx"

#include "support/model_builders.hxx"

#include <algorithm>
#include <tuple>

using namespace asmtest;

namespace {

class CutFeatureTest : public AssemblyTest {};

struct Cell {
    TestAssembly assembly;
    int base = -1; // the target instance inside the cell
};

// A cell of a base plate and a lid with a drill acting on the base, placed twice.
Cell cell()
{
    Cell c;
    TestAssembly& a = c.assembly;
    const int plate = a.addPart("plate", TestModel::block(4, 4, 1));
    const int cellDef = a.addAssembly("cell");
    c.base = a.place(cellDef, plate, "base", qelx_test::placementTranslation(0, 0, 0));
    a.place(cellDef, plate, "lid", qelx_test::placementTranslation(0, 0, 1));
    a.addCutFeature(cellDef, TestModel::block(1, 1, 3), {c.base});
    a.place(-1, cellDef, "cell-1", qelx_test::placementTranslation(0, 0, 0));
    a.place(-1, cellDef, "cell-2", qelx_test::placementTranslation(10, 0, 0));
    return c;
}

std::vector<QELCOLLECTION*> cutCollections(AssemblyRun& run)
{
    std::vector<QELCOLLECTION*> out;
    for (ENTITY* e : run.entities()) {
        int type = -1;
        if (is_QELCOLLECTION(e) && !is_QELGROUP(e) &&
            Ve_AttribTransfer::GetIntegerAttrib(e, Ve_AttribTransfer::GroupTypeName, type) && type == 4)
            out.push_back(static_cast<QELCOLLECTION*>(e));
    }
    return out;
}

} // namespace

TEST_F(CutFeatureTest, EachPlacementOfTheAssemblyGetsItsOwnFilledCollection)
{
    qelx_test::OptionScope options;
    options.on(Ve_OptionDoc::keyOf("_translateAssemblyFeatures"));
    Cell c = cell();
    AssemblyRun run(std::move(c.assembly));
    ASSERT_EQ(run.run(), QELI_OK);
    const std::vector<QELCOLLECTION*> cuts = cutCollections(run);
    ASSERT_EQ(cuts.size(), 2u);
    std::vector<double> toolOffsets;
    for (QELCOLLECTION* cut : cuts) {
        std::vector<ENTITY*> tools, targets;
        const ENTITY_LIST& members = cut->members();
        for (int i = 0; i < members.count(); ++i)
            if (ENTITY* m = members[i])
                (Ve_AttribTransfer::IsAssemblyCutTool(m) ? tools : targets).push_back(m);
        ASSERT_EQ(tools.size(), 1u);
        ASSERT_EQ(targets.size(), 1u);
        // Each placement baked into the geometry, a copied tool's too.
        for (ENTITY* m : {tools[0], targets[0]})
            EXPECT_EQ(static_cast<BODY*>(m)->transform(), nullptr) << nameOf(m);
        // The tool moved with its cell; the target is that cell's base plate.
        const Box tool = boxOf(tools[0]);
        const Box target = boxOf(targets[0]);
        EXPECT_NEAR(tool.high[2], 3.0, 1e-9);
        EXPECT_NEAR(target.high[2], 1.0, 1e-9);
        EXPECT_NEAR(tool.low[0], target.low[0], 1e-9);
        EXPECT_EQ(nameOf(tools[0]), nameOf(targets[0]));
        toolOffsets.push_back(tool.low[0]);
    }
    std::sort(toolOffsets.begin(), toolOffsets.end());
    EXPECT_NEAR(toolOffsets[0], 0.0, 1e-9);
    EXPECT_NEAR(toolOffsets[1], 10.0, 1e-9);
    // Plates and lids of both cells, and the two tools as ordinary bodies.
    EXPECT_EQ(run.bodies().size(), 6u);
    EXPECT_EQ(run.source().openDefinitionDocuments(), 0);
    // A second import records its own cuts, with the bodies it placed.
    ASSERT_EQ(run.importer().Import(&run.source()), QELI_OK);
    const std::vector<QELCOLLECTION*> again = cutCollections(run);
    ASSERT_EQ(again.size(), 4u);
    ENTITY_LIST targets;
    for (QELCOLLECTION* cut : again) {
        EXPECT_EQ(cut->members().iteration_count(), 2);
        for (int i = 0; i < cut->members().count(); ++i)
            if (ENTITY* m = cut->members()[i]; m && !Ve_AttribTransfer::IsAssemblyCutTool(m))
                targets.add(m);
    }
    EXPECT_EQ(targets.iteration_count(), 4);
    EXPECT_EQ(run.bodies().size(), 12u);
}

TEST_F(CutFeatureTest, OptionOffMakesNoCollectionAndAbsentKeepsOnlyTheTools)
{
    {
        qelx_test::OptionScope options;
        options.off(Ve_OptionDoc::keyOf("_translateAssemblyFeatures"));
        AssemblyRun run(cell().assembly);
        ASSERT_EQ(run.run(), QELI_OK);
        EXPECT_TRUE(cutCollections(run).empty());
        EXPECT_EQ(run.bodies().size(), 4u);
        EXPECT_EQ(run.source().calls("LoadFeatureTools"), 0);
    }
    {
        AssemblyRun run(cell().assembly);
        ASSERT_EQ(run.run(), QELI_OK);
        const std::vector<QELCOLLECTION*> cuts = cutCollections(run);
        ASSERT_EQ(cuts.size(), 2u);
        for (QELCOLLECTION* cut : cuts) {
            ASSERT_EQ(cut->members().iteration_count(), 1);
            EXPECT_TRUE(Ve_AttribTransfer::IsAssemblyCutTool(cut->members()[0]));
        }
    }
}

TEST_F(CutFeatureTest, RepairStageHealsOnlyTheBodiesTheImportAdded)
{
    qelx_test::OptionScope options;
    options.on(Ve_OptionDoc::keyOf("HealAssemBodiesAfterCompleteTranslation"));
    options.off(Ve_OptionDoc::keyOf("_translateAssemblyFeatures"));
    AssemblyRun run(cell().assembly);
    // The document already holds a body and a group before the import.
    BODY* before = testkit::make_box(1, 1, 1);
    auto* group = VELM_NEW QELGROUP();
    ENTITY_LIST existing;
    existing.add(before);
    existing.add(group);
    run.target().AppendNativeEntityList(existing);
    qelx_test::EventRecorder events;
    ASSERT_EQ(run.run(), QELI_OK);

    std::vector<ENTITY*> after = run.entities();
    ASSERT_GE(after.size(), 2u);
    EXPECT_EQ(after[0], before);
    EXPECT_EQ(after[1], group);
    EXPECT_EQ(run.bodies().size(), 5u);
    // Inside the assembly stage (the part imports have stages of their own
    // before it): one repair event per entity of the document, numbered on,
    // and one "ToVelmRepair" stage per body the import added.
    std::vector<int> numbers;
    int bodyStages = 0;
    bool inStage = false;
    for (const auto& r : events.records()) {
        if (r.kind == "Stage" && r.name == "ToVelmRepairAssembly")
            inStage = !r.finished;
        if (!inStage)
            continue;
        if (r.kind == "StartRepair" && r.name == "ToVelmRepairAssembly")
            numbers.push_back(r.number);
        if (r.kind == "Stage" && r.name == "ToVelmRepair" && !r.finished)
            ++bodyStages;
    }
    ASSERT_EQ(numbers.size(), after.size());
    for (std::size_t i = 0; i < numbers.size(); ++i)
        EXPECT_EQ(numbers[i], static_cast<int>(i) + 1);
    EXPECT_EQ(bodyStages, 4);
}

TEST_F(CutFeatureTest, RepairStageRunsTheHealingRecipeOnEveryBodyTheImportAdded)
{
    // With healing on, each added body goes through the recipe inside its
    // own repair stage (the recipe numbers its bodies), and only there.
    qelx_test::OptionScope options;
    options.on(Ve_OptionDoc::keyOf("HealAssemBodiesAfterCompleteTranslation"));
    options.off(Ve_OptionDoc::keyOf("_translateAssemblyFeatures"));
    options.on(Ve_OptionDoc::keyOf("HealBody"));
    options.on(Ve_OptionDoc::keyOf("HealBodyPostProcessPs"));
    AssemblyRun run(cell().assembly);
    qelx_test::EventRecorder events;
    ASSERT_EQ(run.run(), QELI_OK);
    int healed = 0;
    bool inBody = false;
    for (const auto& r : events.records()) {
        if (r.kind == "Stage" && r.name == "ToVelmRepair")
            inBody = !r.finished;
        if (inBody && r.kind == "StartRepair" && r.name == "ToVelmRepair") {
            ++healed;
            EXPECT_EQ(r.number, 1);
        }
    }
    EXPECT_EQ(healed, 4);
    EXPECT_EQ(run.bodies().size(), 4u);
}

TEST_F(CutFeatureTest, EveryFeatureOfAnAssemblyRecordsEachOfItsTargets)
{
    // Two drills in a cell of three plates: the first acts on the lowest two
    // plates, the second on the top one; the cell placed twice. Each
    // placement gets a collection per drill holding its tool and exactly the
    // plates it acts on, in that placement.
    qelx_test::OptionScope options;
    options.on(Ve_OptionDoc::keyOf("_translateAssemblyFeatures"));
    TestAssembly a;
    const int plate = a.addPart("plate", TestModel::block(4, 4, 1));
    const int cellDef = a.addAssembly("cell");
    std::vector<int> plates;
    for (int k = 0; k < 3; ++k)
        plates.push_back(a.place(cellDef, plate, "plate-" + std::to_string(k),
                                 qelx_test::placementTranslation(0, 0, 2.0 * k)));
    a.addCutFeature(cellDef, TestModel::block(1, 1, 3), {plates[0], plates[1]});
    a.addCutFeature(cellDef, TestModel::block(2, 2, 7), {plates[2]});
    a.place(-1, cellDef, "cell-1", qelx_test::placementTranslation(0, 0, 0));
    a.place(-1, cellDef, "cell-2", qelx_test::placementTranslation(10, 0, 0));
    AssemblyRun run(std::move(a));
    ASSERT_EQ(run.run(), QELI_OK);
    const std::vector<QELCOLLECTION*> cuts = cutCollections(run);
    ASSERT_EQ(cuts.size(), 4u);
    // (tool's top, the tops of its targets) per collection, the cell's x.
    std::vector<std::tuple<double, double, std::vector<double>>> seen;
    for (QELCOLLECTION* cut : cuts) {
        std::vector<ENTITY*> tools;
        std::vector<double> targetTops;
        const ENTITY_LIST& members = cut->members();
        for (int i = 0; i < members.count(); ++i)
            if (ENTITY* m = members[i]) {
                ASSERT_TRUE(is_BODY(m));
                if (Ve_AttribTransfer::IsAssemblyCutTool(m))
                    tools.push_back(m);
                else
                    targetTops.push_back(boxOf(m).high[2]);
            }
        ASSERT_EQ(tools.size(), 1u);
        std::sort(targetTops.begin(), targetTops.end());
        seen.emplace_back(boxOf(tools[0]).low[0], boxOf(tools[0]).high[2], targetTops);
    }
    std::sort(seen.begin(), seen.end());
    const std::vector<std::tuple<double, double, std::vector<double>>> want = {
        {0.0, 3.0, {1.0, 3.0}}, {0.0, 7.0, {5.0}}, {10.0, 3.0, {1.0, 3.0}}, {10.0, 7.0, {5.0}}};
    ASSERT_EQ(seen.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(std::get<0>(seen[i]), std::get<0>(want[i]), 1e-9);
        EXPECT_NEAR(std::get<1>(seen[i]), std::get<1>(want[i]), 1e-9);
        ASSERT_EQ(std::get<2>(seen[i]).size(), std::get<2>(want[i]).size());
        for (std::size_t k = 0; k < std::get<2>(want[i]).size(); ++k)
            EXPECT_NEAR(std::get<2>(seen[i])[k], std::get<2>(want[i])[k], 1e-9);
    }
    EXPECT_EQ(run.source().openDefinitionDocuments(), 0);
}

TEST_F(CutFeatureTest, ACutOnASubAssemblyTakesItsBodiesAndNotItsOwnCuts)
{
    // The cell (its own drill on its base) placed in a rack, where a second
    // drill acts on the whole cell: the rack's collection holds its tool and
    // the cell's plates, never the cell's collection placed with them.
    qelx_test::OptionScope options;
    options.on(Ve_OptionDoc::keyOf("_translateAssemblyFeatures"));
    Cell c = cell();
    TestAssembly& a = c.assembly;
    int cellDef = -1;
    for (std::size_t d = 0; d < a.definitions.size(); ++d)
        if (a.definitions[d].name == "cell")
            cellDef = static_cast<int>(d);
    ASSERT_GE(cellDef, 0);
    const int rack = a.addAssembly("rack");
    const int placed = a.place(rack, cellDef, "cell-in-rack", qelx_test::placementTranslation(0, 20, 0));
    a.addCutFeature(rack, TestModel::block(2, 2, 5), {placed});
    a.place(-1, rack, "rack-1", qelx_test::placementTranslation(0, 0, 0));
    AssemblyRun run(std::move(a));
    ASSERT_EQ(run.run(), QELI_OK);
    int rackCuts = 0;
    for (QELCOLLECTION* cut : cutCollections(run)) {
        const ENTITY_LIST& members = cut->members();
        int tools = 0, targets = 0;
        for (int i = 0; i < members.count(); ++i)
            if (ENTITY* m = members[i]) {
                EXPECT_TRUE(is_BODY(m)) << m->type_name();
                (Ve_AttribTransfer::IsAssemblyCutTool(m) ? tools : targets) += 1;
            }
        EXPECT_EQ(tools, 1);
        if (targets == 2)
            ++rackCuts;
    }
    EXPECT_EQ(rackCuts, 1) << "the rack's drill on both plates of its cell";
}

TEST_F(CutFeatureTest, ACutInAnAssemblyThatPlacesNothingLeavesNoToolBehind)
{
    // An assembly whose only component cannot be placed (its transform
    // flattens space), with a drill: nothing holds the drill's tools, which go.
    // Or the assembly itself cannot be placed: its cut is never placed, its
    // tools go and its target, the assembly's own, goes with the assembly.
    // Or its only component is a part of nothing: placed, it places nothing,
    // and the assembly gets no document for the drill's collection.
    // A drill on a layer brings the layer along, which goes with its tools.
    qelx_test::OptionScope options;
    options.on(Ve_OptionDoc::keyOf("_translateAssemblyFeatures"));
    options.on(Ve_OptionDoc::keyOf("TransferLayer"));
    for (const bool cellFlat : {false, true})
      for (const bool layered : {false, true})
        for (const bool emptyPart : {false, true}) {
        if (emptyPart && cellFlat)
            continue;
        SCOPED_TRACE(std::string(emptyPart ? "its component empty" : cellFlat ? "the assembly flat" : "its component flat") +
                     (layered ? ", the drill on a layer" : ""));
        const long live = velm_live_object_count();
        {
            TestAssembly a;
            const int plate = a.addPart("plate", emptyPart ? TestModel() : TestModel::block(4, 4, 1));
            const int cellDef = a.addAssembly("cell");
            qelx_test::TestPlacement flat = qelx_test::placementTranslation(0, 0, 0);
            std::fill(flat.begin(), flat.begin() + 9, 0.0);
            const qelx_test::TestPlacement still = qelx_test::placementTranslation(0, 0, 0);
            const int base = a.place(cellDef, plate, "base", cellFlat || emptyPart ? still : flat);
            TestModel drill = TestModel::block(1, 1, 3);
            if (layered) {
                drill.attributes[qelx_test::wordOf(qelx_test::KindBody, 0)].layer = 5;
                drill.layers[5] = qelx_test::TestLayer{"drills", {0, 0, 0, 0}, true};
            }
            a.addCutFeature(cellDef, std::move(drill), {base});
            a.place(-1, cellDef, "cell-1", cellFlat ? flat : still);
            AssemblyRun run(std::move(a));
            run.run();
            EXPECT_TRUE(cutCollections(run).empty());
            EXPECT_TRUE(run.bodies().empty());
            EXPECT_EQ(run.source().calls("LoadFeatureTools"), 1);
        }
        EXPECT_EQ(velm_live_object_count(), live) << "left behind";
    }
}

// A cell modelled in inches: its plates and its drill's tool come in
// millimetres alike, the tool standing on its target plate in each
// placement of the cell.
TEST_F(CutFeatureTest, ACutsToolsComeInTheUnitOfThePartsTheyCut)
{
    qelx_test::OptionScope options;
    options.on(Ve_OptionDoc::keyOf("_translateAssemblyFeatures"));
    Cell c = cell();
    c.assembly.unit = QELX_UNIT_INCH;
    for (qelx_test::TestDefinition& d : c.assembly.definitions)
        d.part.unit = QELX_UNIT_INCH;
    for (qelx_test::TestCutFeature& f : c.assembly.features)
        f.tools.unit = QELX_UNIT_INCH;
    AssemblyRun run(std::move(c.assembly));
    ASSERT_EQ(run.run(), QELI_OK);
    const std::vector<QELCOLLECTION*> cuts = cutCollections(run);
    ASSERT_EQ(cuts.size(), 2u);
    std::vector<double> toolOffsets;
    for (QELCOLLECTION* cut : cuts) {
        std::vector<ENTITY*> tools, targets;
        for (int i = 0; i < cut->members().count(); ++i)
            if (ENTITY* m = cut->members()[i])
                (Ve_AttribTransfer::IsAssemblyCutTool(m) ? tools : targets).push_back(m);
        ASSERT_EQ(tools.size(), 1u);
        ASSERT_EQ(targets.size(), 1u);
        const Box tool = boxOf(tools[0]), target = boxOf(targets[0]);
        EXPECT_NEAR(tool.high[2] - tool.low[2], 3.0 * 25.4, 1e-6);
        EXPECT_NEAR(tool.high[0] - tool.low[0], 25.4, 1e-6);
        EXPECT_NEAR(target.high[2], 25.4, 1e-6);
        EXPECT_NEAR(tool.low[0], target.low[0], 1e-6);
        toolOffsets.push_back(tool.low[0]);
    }
    std::sort(toolOffsets.begin(), toolOffsets.end());
    EXPECT_NEAR(toolOffsets[0], 0.0, 1e-6);
    EXPECT_NEAR(toolOffsets[1], 254.0, 1e-6);
}

// A cut's tool document that holds a layer: the layer is a member of the cut
// like its tool, so every placement's collection holds it beside its own tool
// and targets, the copies made for earlier uses of the cell as the last use.
TEST_F(CutFeatureTest, EveryPlacementsCollectionHoldsTheGroupsOfTheCutsTools)
{
    qelx_test::OptionScope options;
    options.on(Ve_OptionDoc::keyOf("_translateAssemblyFeatures"));
    options.on(Ve_OptionDoc::keyOf("TransferLayer"));
    for (const int uses : {2, 3}) {
        SCOPED_TRACE(std::to_string(uses) + " placements of the cell");
        TestAssembly a;
        const int plate = a.addPart("plate", TestModel::block(4, 4, 1));
        const int cellDef = a.addAssembly("cell");
        const int base = a.place(cellDef, plate, "base", qelx_test::placementTranslation(0, 0, 0));
        TestModel drill = TestModel::block(1, 1, 3);
        drill.attributes[qelx_test::wordOf(qelx_test::KindBody, 0)].layer = 5;
        drill.layers[5] = qelx_test::TestLayer{"drills", {0, 0, 0, 0}, true};
        a.addCutFeature(cellDef, std::move(drill), {base});
        for (int k = 0; k < uses; ++k)
            a.place(-1, cellDef, "cell-" + std::to_string(k), qelx_test::placementTranslation(10.0 * k, 0, 0));
        AssemblyRun run(std::move(a));
        ASSERT_EQ(run.run(), QELI_OK);
        const std::vector<QELCOLLECTION*> cuts = cutCollections(run);
        ASSERT_EQ(cuts.size(), static_cast<std::size_t>(uses));
        std::vector<double> toolOffsets;
        for (QELCOLLECTION* cut : cuts) {
            int tools = 0, targets = 0;
            std::vector<int> layers;
            const ENTITY_LIST& members = cut->members();
            for (int i = 0; i < members.count(); ++i) {
                ENTITY* m = members[i];
                if (!m)
                    continue;
                int number = -1;
                bool layer = false;
                if (is_QELGROUP(m) && Ve_AttribTransfer::isLayer(m, layer) && layer &&
                    Ve_AttribTransfer::getID(m, number))
                    layers.push_back(number);
                else if (is_BODY(m) && Ve_AttribTransfer::IsAssemblyCutTool(m)) {
                    ++tools;
                    toolOffsets.push_back(boxOf(m).low[0]);
                } else if (is_BODY(m))
                    ++targets;
            }
            EXPECT_EQ(tools, 1);
            EXPECT_EQ(targets, 1);
            EXPECT_EQ(layers, std::vector<int>{5});
        }
        // Each placement's own tool, where its cell was placed.
        std::sort(toolOffsets.begin(), toolOffsets.end());
        ASSERT_EQ(toolOffsets.size(), static_cast<std::size_t>(uses));
        for (int k = 0; k < uses; ++k)
            EXPECT_NEAR(toolOffsets[static_cast<std::size_t>(k)], 10.0 * k, 1e-9);
    }
}
