// The document-feature exporter over a kernel document: what DoPreProcess
// finds, the answers for indices outside the lists, and copies.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "assembly/docfeature_support.hxx"
#include "export/attribute_exporter.hxx"
#include "support/connector_test.hxx"

namespace {

class DocFeatureExporter : public testkit::ConnectorTest {};

} // namespace

TEST_F(DocFeatureExporter, LayersAloneAreKnownByNumberAndTheFirstOfANumberWins)
{
    QELXVelmDocument doc;
    dftest::addBodies(doc, 1);
    QELGROUP* first = dftest::newLayer(doc, 5, "First");
    dftest::newLayer(doc, 5, "Second");
    dftest::newLayer(doc, 6, "Other");
    QELXVelmDocFeatureExporter exporter(&doc);
    EXPECT_EQ(exporter.PreProcess(), QELI_OK);
    int n = -1;
    EXPECT_EQ(exporter.GetNumberOfLocalCoordinateSystems(n), QELI_OK);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(exporter.GetNumberOfSelectionSets(n), QELI_OK);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(exporter.GetNumberLayerFilters(n), QELI_OK);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(exporter.GetNumberOfGroups(n), QELI_FAIL) << "no group at all";
    QELXAttributeExporter* attributes = nullptr;
    ASSERT_EQ(exporter.GetAttributeExporter(attributes), QELI_OK);
    QELXString name;
    ASSERT_EQ(attributes->GetLayerName(5, name), QELI_OK);
    EXPECT_EQ(std::string(name.c_str()), dftest::labelOf(first));
    ASSERT_EQ(attributes->GetLayerName(6, name), QELI_OK);
    EXPECT_EQ(std::string(name.c_str()), "Other");

    QELXVelmDocument bare;
    dftest::addBodies(bare, 1);
    QELXVelmDocFeatureExporter nothing(&bare);
    EXPECT_EQ(nothing.PreProcess(), QELI_NOTHING);
}

TEST_F(DocFeatureExporter, IndicesOutsideTheListsAnswerFailureAndLeaveTheOutputAlone)
{
    QELXVelmDocument doc;
    const std::vector<BODY*> b = dftest::addBodies(doc, 2);
    dftest::newCoordinateSystem(doc, QELtransf(), "Only", false);
    dftest::newSelectionSet(doc, "Set", false, {b[0]});
    dftest::newLayerFilter(doc, "Filter", QELX_LayerFilterListed, false, {dftest::newLayer(doc, 1, "L")});
    dftest::newCollection(doc, {b[1]}, true);
    QELXVelmDocFeatureExporter exporter(&doc);
    ASSERT_EQ(exporter.PreProcess(), QELI_OK);
    void* const untouched = reinterpret_cast<void*>(0x5a5a);
    for (const int i : {-1, 1, 1000}) {
        SCOPED_TRACE(i);
        void* handle = untouched;
        EXPECT_EQ(exporter.GetLocalCoordinateSystemAt(i, handle), QELI_FAIL);
        EXPECT_EQ(exporter.GetIthSelectionSet(i, handle), QELI_FAIL);
        EXPECT_EQ(exporter.GetIthLayerFilter(i, handle), QELI_FAIL);
        EXPECT_EQ(handle, untouched);
        QELXIdentifier group;
        EXPECT_EQ(exporter.GetIthGroup(i, group), QELI_FAIL);
        EXPECT_FALSE(group.IsValid());
    }
    void* handle = nullptr;
    ASSERT_EQ(exporter.GetIthSelectionSet(0, handle), QELI_OK);
    void* member = untouched;
    EXPECT_EQ(exporter.GetIthEntityFromSelectionSet(handle, 1, member), QELI_OK);
    EXPECT_EQ(member, untouched);
    EXPECT_EQ(exporter.GetIthEntityFromSelectionSet(handle, 0, member), QELI_OK);
    EXPECT_EQ(dftest::entityOfHandle(member), b[0]);
    int layer = 0;
    EXPECT_EQ(exporter.GetCurrentLayer(layer), QELI_FAIL);
    EXPECT_EQ(layer, 0);
}

TEST_F(DocFeatureExporter, ASecondPreProcessDoesNotCountTheFeaturesTwice)
{
    QELXVelmDocument doc;
    const std::vector<BODY*> b = dftest::addBodies(doc, 2);
    dftest::newCoordinateSystem(doc, QELtransf(), "Only", true);
    dftest::newSelectionSet(doc, "Set", false, {b[0], b[1]});
    dftest::newCollection(doc, {b[0]}, true);
    QELXVelmDocFeatureExporter exporter(&doc);
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass);
        ASSERT_EQ(exporter.PreProcess(), QELI_OK);
        int n = 0;
        exporter.GetNumberOfLocalCoordinateSystems(n);
        EXPECT_EQ(n, 1);
        exporter.GetNumberOfSelectionSets(n);
        EXPECT_EQ(n, 1);
        exporter.GetNumberOfGroups(n);
        EXPECT_EQ(n, 1);
    }
}

// A copy has an attribute exporter of its own: deleting both deletes each
// once, and the copy answers as the original did.
TEST_F(DocFeatureExporter, ACopyAnswersAsTheOriginalAndEachIsDeletedOnce)
{
    QELXVelmDocument doc;
    const std::vector<BODY*> b = dftest::addBodies(doc, 1);
    dftest::newLayer(doc, 3, "Three");
    dftest::newCoordinateSystem(doc, translate_transf(QELvector(4, 5, 6)), "Moved", true);
    auto* original = new QELXVelmDocFeatureExporter(&doc);
    ASSERT_EQ(original->PreProcess(), QELI_OK);
    auto* copy = new QELXVelmDocFeatureExporter(*original);
    QELXAttributeExporter* mine = nullptr;
    QELXAttributeExporter* theirs = nullptr;
    original->GetAttributeExporter(mine);
    copy->GetAttributeExporter(theirs);
    EXPECT_NE(mine, theirs);
    delete original;
    QELXString name;
    ASSERT_EQ(theirs->GetLayerName(3, name), QELI_OK);
    EXPECT_EQ(std::string(name.c_str()), "Three");
    void* wcs = nullptr;
    ASSERT_EQ(copy->GetLocalCoordinateSystemAt(0, wcs), QELI_OK);
    QELXMorph3D morph;
    ASSERT_EQ(copy->GetMorphFromLocalCoordinateSystem(wcs, morph), QELI_OK);
    EXPECT_DOUBLE_EQ(morph.GetTranslation()[2], 6.0);
    bool current = false;
    EXPECT_EQ(copy->GetStateFromLocalCoordinateSystem(wcs, current), QELI_OK);
    EXPECT_TRUE(current);
    delete copy;
}

TEST_F(DocFeatureExporter, GroupsHandOutTheirMembersAndNestedGroupsAsIdentifiers)
{
    QELXVelmDocument doc;
    const std::vector<BODY*> b = dftest::addBodies(doc, 2);
    QELCOLLECTION* inner = dftest::newCollection(doc, {b[1]}, false);
    QELCOLLECTION* outer = dftest::newCollection(doc, {b[0], inner}, true);
    QELXVelmDocFeatureExporter exporter(&doc);
    ASSERT_EQ(exporter.PreProcess(), QELI_OK);
    int n = 0;
    ASSERT_EQ(exporter.GetNumberOfGroups(n), QELI_OK);
    ASSERT_EQ(n, 1);
    QELXIdentifier group;
    ASSERT_EQ(exporter.GetIthGroup(0, group), QELI_OK);
    EXPECT_EQ(QELXVelmEntityUtils::GetEntity(group), outer);
    EXPECT_STREQ(group.GetTypeName(), "QELCOLLECTION");
    EXPECT_TRUE(exporter.IsGroup(group));
    ASSERT_EQ(exporter.GetNoEntitiesInGroup(group, n), QELI_OK);
    ASSERT_EQ(n, 2);
    QELXIdentifier first, second, beyond;
    ASSERT_EQ(exporter.GetIthEntityFromGroup(group, 0, first), QELI_OK);
    ASSERT_EQ(exporter.GetIthEntityFromGroup(group, 1, second), QELI_OK);
    EXPECT_EQ(exporter.GetIthEntityFromGroup(group, 2, beyond), QELI_FAIL);
    EXPECT_EQ(QELXVelmEntityUtils::GetEntity(first), b[0]);
    EXPECT_STREQ(first.GetTypeName(), "ENTITY");
    EXPECT_FALSE(exporter.IsGroup(first));
    EXPECT_TRUE(exporter.IsGroup(second));
    EXPECT_EQ(exporter.GetNoEntitiesInGroup(QELXIdentifier(), n), QELI_FAIL);
}
