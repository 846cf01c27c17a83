// The document-feature importer's road: the switches, the scale of the
// source, selection sets met twice or made impossible, separated bodies,
// groups that contain themselves, and notes without parameters.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "assembly/docfeature_support.hxx"
#include "qelx/qelx_test.hxx"
#include "qelx/test_doc_features.hxx"
#include "qelx/test_exporters.hxx"
#include "support/connector_test.hxx"
#include "velm/attrib.hxx"
#include "velm/testkit.hxx"

namespace {

using qelx_test::KindBody;
using qelx_test::KindGroup;
using qelx_test::wordOf;

class DocFeatureImporter : public testkit::ConnectorTest {};

// A source model over three bodies, read through the framework's exporters.
struct ModelSource {
    explicit ModelSource(const qelx_test::TestModel& model)
        : document(model), attributes(document.model(), log), exporter(&document, document.model(), &attributes)
    {
    }
    void linkTo(const std::vector<BODY*>& bodies)
    {
        std::vector<std::uint64_t> words;
        for (int i = 0; i < static_cast<int>(bodies.size()); ++i)
            words.push_back(wordOf(KindBody, i));
        dftest::linkBodies(document, words, bodies);
    }
    qelx_test::TestDocument document;
    qelx_test::TestCallLog log;
    qelx_test::TestAttributeExporter attributes;
    qelx_test::TestDocFeatureExporter exporter;
};

} // namespace

TEST_F(DocFeatureImporter, ASourceWithoutFeaturesImportsNothingYetTheTargetsOwnAreListed)
{
    on("TransferSelectionSets");
    on("TransferLayer");
    on("TransferAttribute");
    QELXVelmDocument target;
    const std::vector<BODY*> bodies = dftest::addBodies(target, 1);
    QELGROUP* own = dftest::newSelectionSet(target, "Own", false, {bodies[0]});
    QELGROUP* layer = dftest::newLayer(target, 9, "Nine");
    ModelSource source{qelx_test::TestModel()};
    ENTITY_LIST* native = target.GetNativeEntityList();
    const int before = native->count();
    dftest::ImportRun run(target, source.exporter);
    EXPECT_EQ(run.imported, QELI_NOTHING);
    EXPECT_EQ(run.count("Selection Sets"), 1) << "the target's own set counts";
    EXPECT_EQ(run.count("Layer Filters"), 0);
    EXPECT_EQ(run.count("Local Coordinate Systems"), 0);
    EXPECT_EQ(run.count("Associative Groups"), 0);
    EXPECT_EQ(native->count(), before) << "the target's own features are listed once";
    EXPECT_EQ(dftest::describeFeatures(target), (std::vector<std::string>{"layer9 Nine", "selection set Own {body0 }"}));
    EXPECT_TRUE(own && layer);
}

TEST_F(DocFeatureImporter, GroupsAreNeitherReadNorCountedWhenTheyBecomeAssemblies)
{
    on("TranslateGroupAsAssemblies");
    qelx_test::TestModel model;
    model.groups = {{"G", {wordOf(KindBody, 0)}, true}};
    ModelSource source(model);
    QELXVelmDocument target;
    source.linkTo(dftest::addBodies(target, 1));
    dftest::ImportRun run(target, source.exporter);
    EXPECT_EQ(run.imported, QELI_NOTHING);
    EXPECT_EQ(run.count("Associative Groups"), 0);
    EXPECT_TRUE(dftest::describeFeatures(target).empty());
}

TEST_F(DocFeatureImporter, ACoordinateSystemMovesWithTheSourcesScaleAndKeepsItsAxes)
{
    qelx_test::TestModel model;
    QELXAffine turned;
    turned.SetRow(0, 0, 1, 0);
    turned.SetRow(1, -1, 0, 0);
    model.addCoordinateSystem(QELXMorph3D(turned, QELXPoint3D(1, 2, 3), 1.0), false, "Turned");
    ModelSource source(model);
    QELXConverter conversion;
    conversion.SetScaleFactor(10.0);
    source.document.SetTranslationContext(&conversion);
    QELXVelmDocument target;
    qelx_test::EventRecorder events;
    dftest::ImportRun run(target, source.exporter);
    EXPECT_EQ(run.imported, QELI_OK);
    ENTITY_LIST* native = target.GetNativeEntityList();
    ASSERT_EQ(native->count(), 1);
    ASSERT_TRUE(is_WCS((*native)[0]));
    const QELtransf placed = static_cast<WCS*>((*native)[0])->to_model();
    const QELposition origin = QELposition(0, 0, 0) * placed;
    const QELvector x = QELvector(1, 0, 0) * placed, y = QELvector(0, 1, 0) * placed;
    EXPECT_LT((origin - QELposition(10, 20, 30)).len(), 1e-12);
    EXPECT_LT((x - QELvector(0, -1, 0)).len(), 1e-12) << "the morph's first column";
    EXPECT_LT((y - QELvector(1, 0, 0)).len(), 1e-12) << "the morph's second column";
    EXPECT_EQ(events.count("EndTranslate"), 1);
    EXPECT_EQ(dftest::labelOf((*native)[0]), "Turned");
}

TEST_F(DocFeatureImporter, SelectionSetsOfOneNameMeetInOneGroupTheTargetsOwnIncluded)
{
    on("TransferSelectionSets");
    qelx_test::TestModel model;
    model.addSelectionSet("Shared", false, {wordOf(KindBody, 0)});
    model.addSelectionSet("Shared", true, {wordOf(KindBody, 1)});
    model.addSelectionSet("Kept", false, {wordOf(KindBody, 2)});
    ModelSource source(model);
    QELXVelmDocument target;
    const std::vector<BODY*> bodies = dftest::addBodies(target, 3);
    source.linkTo(bodies);
    QELGROUP* kept = dftest::newSelectionSet(target, "Kept", false, {});
    dftest::ImportRun run(target, source.exporter);
    EXPECT_EQ(run.count("Selection Sets"), 2);
    EXPECT_EQ(dftest::describeFeatures(target),
              (std::vector<std::string>{"selection set Kept {body2 }", "selection set Shared current {body0 body1 }"}));
    EXPECT_TRUE(kept->is_member(bodies[2]));
}

// A body that healing separated stands for all its pieces: the selection
// set takes every piece, and the marker group is emptied when the import ends.
TEST_F(DocFeatureImporter, ASeparatedBodyBringsEveryPieceIntoTheSelectionSet)
{
    on("TransferSelectionSets");
    qelx_test::TestModel model;
    model.addSelectionSet("Pieces", false, {wordOf(KindBody, 0)});
    ModelSource source(model);
    QELXVelmDocument target;
    const std::vector<BODY*> bodies = dftest::addBodies(target, 3);
    source.linkTo({bodies[0]});
    QELGROUP* separated = new QELGROUP;
    Ve_AttribTransfer::SetIntegerAttrib(separated, "ATTRIB_XVELM_SEPARATED_BODIES", 1, true);
    for (BODY* b : bodies)
        api_ct_add_to_group(b, separated);
    {
        dftest::ImportRun run(target, source.exporter);
        EXPECT_EQ(dftest::describeFeatures(target),
                  (std::vector<std::string>{"selection set Pieces {body0 body1 body2 }"}));
        EXPECT_EQ(dftest::membersOf(separated), 3);
    }
    EXPECT_EQ(dftest::membersOf(separated), 0) << "emptied with the importer";
    api_del_entity(separated);
}

// A selection set the kernel cannot make is left out: no empty entry in
// the list and the summary, the next set made as usual.
TEST_F(DocFeatureImporter, ASelectionSetThatCannotBeMadeIsSkipped)
{
    on("TransferSelectionSets");
    qelx_test::TestModel model;
    model.addSelectionSet("Lost", false, {wordOf(KindBody, 0)});
    model.addSelectionSet("Made", false, {wordOf(KindBody, 1)});
    ModelSource source(model);
    QELXVelmDocument target;
    source.linkTo(dftest::addBodies(target, 2));
    velm_test_fail_alloc("doc_feature_groups", 1);
    dftest::ImportRun run(target, source.exporter);
    EXPECT_FALSE(velm_test_injection_pending());
    EXPECT_EQ(run.count("Selection Sets"), 1);
    EXPECT_EQ(dftest::describeFeatures(target), (std::vector<std::string>{"selection set Made {body1 }"}));
}

// A group met again inside itself is left out where it recurs.
TEST_F(DocFeatureImporter, AGroupContainingItselfEndsWhereItRecurs)
{
    qelx_test::TestModel model;
    model.groups = {{"A", {wordOf(KindBody, 0), wordOf(KindGroup, 1)}, true},
                    {"B", {wordOf(KindBody, 1), wordOf(KindGroup, 0)}, false}};
    ModelSource source(model);
    QELXVelmDocument target;
    source.linkTo(dftest::addBodies(target, 2));
    dftest::ImportRun run(target, source.exporter);
    EXPECT_EQ(run.count("Associative Groups"), 1);
    EXPECT_EQ(dftest::describeFeatures(target), (std::vector<std::string>{"group {body0 {body1 } }"}));
}

// A group met twice, through two groups that are not inside each other, is
// no cycle: both hold it.
TEST_F(DocFeatureImporter, AGroupHeldByTwoOthersIsInBoth)
{
    qelx_test::TestModel model;
    model.groups = {{"A", {wordOf(KindGroup, 1), wordOf(KindGroup, 2)}, true},
                    {"B", {wordOf(KindBody, 0), wordOf(KindGroup, 3)}, false},
                    {"C", {wordOf(KindBody, 1), wordOf(KindGroup, 3)}, false},
                    {"D", {wordOf(KindBody, 2)}, false}};
    ModelSource source(model);
    QELXVelmDocument target;
    source.linkTo(dftest::addBodies(target, 3));
    dftest::ImportRun run(target, source.exporter);
    EXPECT_EQ(run.count("Associative Groups"), 1);
    EXPECT_EQ(dftest::describeFeatures(target), (std::vector<std::string>{"group {{body0 {body2 } } {body1 {body2 } } }"}));
}

TEST_F(DocFeatureImporter, ANoteWithoutParametersMakesNoCollection)
{
    on("TransferAttribute");
    qelx_test::TestModel model;
    model.notes = {{"Empty", {}}, {"One", {{"weight", "3", 2}}}};
    ModelSource source(model);
    QELXVelmDocument target;
    dftest::ImportRun run(target, source.exporter);
    EXPECT_EQ(run.imported, QELI_NOTHING) << "notes do not count for the result";
    EXPECT_EQ(dftest::describeFeatures(target), (std::vector<std::string>{"note One [weight=3:2 ]"}));
}

// A source without attribute exporter names nothing, and one without a
// document has no linker to find members by: the steps that need them are
// passed over, the others run.
TEST_F(DocFeatureImporter, ASourceWithoutAttributesOrDocumentImportsWhatItCan)
{
    on("TransferSelectionSets");
    qelx_test::TestModel model;
    model.addCoordinateSystem(QELXMorph3D(), false, "Named");
    model.addSelectionSet("One", false, {wordOf(KindBody, 0)});
    model.addSelectionSet("Two", false, {wordOf(KindBody, 1)});
    model.groups = {{"G", {wordOf(KindBody, 0)}, true}};
    qelx_test::TestDocument document(model);
    {
        qelx_test::TestDocFeatureExporter unnamed(&document, document.model(), nullptr);
        QELXVelmDocument target;
        const std::vector<BODY*> bodies = dftest::addBodies(target, 2);
        dftest::linkBodies(document, {wordOf(KindBody, 0), wordOf(KindBody, 1)}, bodies);
        dftest::ImportRun run(target, unnamed);
        EXPECT_EQ(run.imported, QELI_OK);
        EXPECT_EQ(dftest::describeFeatures(target),
                  (std::vector<std::string>{"group {body0 }", "selection set  {body0 }", "selection set  {body1 }",
                                            "wcs  " + dftest::describeTransform(QELtransf())}))
            << "sets of unknown names are not taken for one";
    }
    {
        qelx_test::TestDocFeatureExporter homeless(nullptr, document.model(), nullptr);
        QELXVelmDocument target;
        dftest::addBodies(target, 2);
        dftest::ImportRun run(target, homeless);
        EXPECT_EQ(run.count("Selection Sets"), 0);
        EXPECT_EQ(run.count("Associative Groups"), 0);
        EXPECT_EQ(run.count("Local Coordinate Systems"), 1);
    }
}
