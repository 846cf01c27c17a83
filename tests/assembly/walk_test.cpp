// The import entry, the option mapping and the walk: results, events, the
// definition documents released, and what a failing source leaves.
#include "assembly_test_support.hxx"

using namespace asmtest;

namespace {

// One brick part placed by `roots` root instances side by side.
TestAssembly bricks(int roots)
{
    TestAssembly a;
    const int brick = a.addPart("brick", TestModel::block(1, 1, 1));
    for (int i = 0; i < roots; ++i)
        a.place(-1, brick, "b" + std::to_string(i), qelx_test::placementTranslation(2.0 * i, 0, 0));
    return a;
}

// An exporter of another representation type.
class HeaderOnly : public QELXExportRepresentation {
public:
    using QELXExportRepresentation::QELXExportRepresentation;
    QELXRepType GetType() const override { return QELXRepType("Header"); }
};

// A source that has no document to tell its unit.
class Documentless : public qelx_test::TestAssemblyExporter {
public:
    using TestAssemblyExporter::TestAssemblyExporter;
    QELXDocument* GetDocument() const override { return nullptr; }
};

class WalkTest : public AssemblyTest {};

} // namespace

TEST_F(WalkTest, ForeignOrMissingSourceIsRefusedAndChangesNothing)
{
    AssemblyRun run(bricks(1));
    qelx_test::TestDocument other{TestModel()};
    HeaderOnly header(&other);
    EXPECT_EQ(run.importer().Import(nullptr), QELI_INVALID_ARG);
    EXPECT_EQ(run.importer().Import(&header), QELI_INVALID_ARG);
    EXPECT_TRUE(run.entities().empty());
    EXPECT_EQ(run.source().calls("GetRootCount"), 0);
}

TEST_F(WalkTest, SolidsAsSheetsSetsTheTwoTopologyOptionsOppositeWays)
{
    for (const bool sheets : {true, false}) {
        AssemblyRun run(bricks(1));
        run.importer().UserOptions().AddOption("TranslateSolidAsSheets", sheets);
        run.importer().UserOptions().AddOption("Healing", true);
        QELXOptions ignored;
        EXPECT_EQ(run.importer().ProcessUserOptions(ignored), QELI_OK);
        QELXOption* option = nullptr;
        bool value = sheets;
        ASSERT_EQ(run.importer().GetOption(QELXOptionName::Import_Mode_Solid_Tplgy, option), QELI_OK);
        option->GetValue(value);
        EXPECT_EQ(value, !sheets);
        ASSERT_EQ(run.importer().GetOption(QELXOptionName::Import_Mode_Solid_Tplgy_false_Trim, option), QELI_OK);
        option->GetValue(value);
        EXPECT_EQ(value, sheets);
        // Published where the switches read them.
        EXPECT_TRUE(Ve_OptionDoc::isOn(Ve_OptionDoc::HealBody));
    }
}

TEST_F(WalkTest, EveryRootFiresItsEventAndTheStagesCarryTheirWeights)
{
    qelx_test::OptionScope options;
    options.on(Ve_OptionDoc::keyOf("HealAssemBodiesAfterCompleteTranslation"));
    options.on(Ve_OptionDoc::keyOf("HealBody"));
    TestAssembly a = bricks(3);
    a.definitions[0].sourceName.clear();
    a.forceAnswer("GetDefinitionSourceName", QELI_FAIL);
    AssemblyRun run(std::move(a));
    // The second root names a definition that does not exist.
    run.source().assembly().instances[1].definition = -1;
    qelx_test::EventRecorder events;
    EXPECT_EQ(run.run(false), QELI_OK);
    EXPECT_EQ(run.bodies().size(), 2u);

    std::vector<int> roots;
    for (const auto& r : events.records())
        if (r.kind == "StartTranslate" && r.name == "AssemblyRoot")
            roots.push_back(r.number);
    EXPECT_EQ(roots, (std::vector<int>{1, 2, 3}));
    const auto stages = events.stages();
    ASSERT_FALSE(stages.empty());
    EXPECT_EQ(stages.front().name, "AssemblyRoot");
    EXPECT_DOUBLE_EQ(stages.front().weight, 0.6);
    EXPECT_TRUE(stages.front().finished);
    int unknown = 0;
    for (const auto& r : events.records())
        if (r.kind == "StartTranslation" && r.name == "UNKNOWN" && r.text == "VELM")
            ++unknown;
    EXPECT_EQ(unknown, 1); // the part converted once, under the fallback name
}

TEST_F(WalkTest, ImportFailsUnlessARootWasPlaced)
{
    struct Case {
        const char* name;
        void (*spoil)(TestAssembly&);
        QELIResult expected;
    };
    const Case cases[] = {
        {"no roots", [](TestAssembly& a) { a.roots.clear(); }, QELI_NOTHING},
        {"every root query fails", [](TestAssembly& a) { a.forceAnswer("GetRoot", QELI_FAIL); }, QELI_FAIL},
        {"no root names a definition",
         [](TestAssembly& a) {
             for (auto& i : a.instances)
                 i.definition = -1;
         },
         QELI_FAIL},
        {"the part cannot be loaded", [](TestAssembly& a) { a.forceAnswer("LoadDefinition", QELI_FAIL); }, QELI_FAIL},
        {"no empty document for the part",
         [](TestAssembly& a) { a.forceAnswer("CreateDefinitionEmptyDocument", QELI_FAIL); }, QELI_FAIL},
    };
    for (const Case& c : cases) {
        TestAssembly a = bricks(2);
        c.spoil(a);
        AssemblyRun run(std::move(a));
        EXPECT_EQ(run.run(), c.expected) << c.name;
        EXPECT_TRUE(run.bodies().empty()) << c.name;
        EXPECT_EQ(run.importer().GetNumberOfPlacedRoots(), 0) << c.name;
        EXPECT_EQ(run.source().openDefinitionDocuments(), 0) << c.name;
    }
}

// A root placed makes the walk a success though a root after it failed:
// what was placed stands, the failure is that root's alone.
TEST_F(WalkTest, ARootPlacedBeforeOneThatFailedMakesTheImportSucceed)
{
    TestAssembly a;
    const int kept = a.addPart("kept", TestModel::block(1, 1, 1));
    const int lost = a.addPart("lost", TestModel::block(1, 1, 1));
    a.place(-1, kept, "first", qelx_test::placementTranslation(0, 0, 0));
    a.place(-1, lost, "second", qelx_test::placementTranslation(3, 0, 0));
    a.forceAnswer("LoadDefinition", QELI_FAIL, qelx_test::assemblyWord(qelx_test::KindDefinition, lost));
    AssemblyRun run(std::move(a));
    EXPECT_EQ(run.run(), QELI_OK);
    EXPECT_EQ(run.importer().GetNumberOfPlacedRoots(), 1);
    EXPECT_EQ(run.bodies().size(), 1u);
    EXPECT_EQ(run.source().openDefinitionDocuments(), 0);
}

TEST_F(WalkTest, DefinitionDocumentsAreReleasedWhenTheNestedConversionFails)
{
    QELXRepresentationRegistry::Clear(); // no importer for the parts
    AssemblyRun run(bricks(2));
    EXPECT_EQ(run.run(), QELI_FAIL);
    EXPECT_EQ(run.source().calls("CreateDefinitionEmptyDocument"), 1);
    EXPECT_EQ(run.source().calls("ReleaseDefinitionDocument"), 1);
    EXPECT_EQ(run.source().openDefinitionDocuments(), 0);
}

TEST_F(WalkTest, ImporterWithoutDocumentPlacesNothingAndSaysSo)
{
    qelx_test::TestAssemblyDocument source(bricks(2));
    qelx_test::TestAssemblyExporter exporter(&source);
    QELXTypedHandle<QELXFlatVelmAssemblyImporter> importer(new QELXFlatVelmAssemblyImporter(nullptr));
    EXPECT_EQ(importer->Import(&exporter), QELI_FAIL);
    EXPECT_EQ(exporter.openDefinitionDocuments(), 0);
}

TEST_F(WalkTest, MissingAttributeExporterOrSourceDocumentStillPlacesEveryInstance)
{
    qelx_test::OptionScope options;
    options.on(Ve_OptionDoc::keyOf("TransferAttribute"));
    TestAssembly a = bricks(2);
    a.instances[0].color = std::array<double, 4>{1, 0, 0, 1};
    a.forceAnswer("GetAttributeExporter", QELI_FAIL);
    qelx_test::TestAssemblyDocument sourceDocument(std::move(a));
    Documentless exporter(&sourceDocument);
    QELXTypedHandle<QELXVelmDocument> target(new QELXVelmDocument());
    target->SetUnit(QELX_UNIT_MILLIMETER);
    {
        QELXTypedHandle<QELXFlatVelmAssemblyImporter> importer(new QELXFlatVelmAssemblyImporter(target.get()));
        EXPECT_EQ(importer->Import(&exporter), QELI_OK);
    }
    int bodies = 0;
    ENTITY_LIST* list = target->GetNativeEntityList();
    for (ENTITY* e = list->next(); e; e = list->next())
        if (is_BODY(e)) {
            ++bodies;
            EXPECT_EQ(find_attrib(e, ATTRIB_ST_TYPE, ATTRIB_RGB_TYPE), nullptr);
        }
    EXPECT_EQ(bodies, 2);
}

TEST_F(WalkTest, ASecondImportConvertsAfreshAndPlacesEveryInstanceAgain)
{
    AssemblyRun run(bricks(3));
    ASSERT_EQ(run.run(false), QELI_OK);
    velm_test_record_calls(true);
    ASSERT_EQ(run.importer().Import(&run.source()), QELI_OK);
    const long copies = velm_test_call_count("api_copy_body");
    velm_test_record_calls(false);
    // Each import converted the brick once and placed all three instances,
    // the second copying for the first two uses and taking the last over as
    // the first did (it counts the uses afresh).
    EXPECT_EQ(copies, 2);
    EXPECT_EQ(run.source().loads(0), 2);
    const std::vector<BODY*> bodies = run.bodies();
    ASSERT_EQ(bodies.size(), 6u);
    for (std::size_t i = 0; i < bodies.size(); ++i)
        for (std::size_t j = i + 1; j < bodies.size(); ++j)
            EXPECT_NE(bodies[i], bodies[j]);
}
