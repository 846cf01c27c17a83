// Document features carried from one document into another: a kernel
// document's own through the connector's exporter, and a source model's
// (notes included) through the framework's; what arrives reads the same as
// what left, with the importer summary's counts.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "assembly/docfeature_support.hxx"
#include "model/math_types.hxx"
#include "qelx/qelx_test.hxx"
#include "qelx/test_doc_features.hxx"
#include "qelx/test_exporters.hxx"
#include "support/heal_builders.hxx"
#include "support/connector_test.hxx"

namespace {

class DocFeatureRoundTrip : public testkit::ConnectorTest {
protected:
    void SetUp() override
    {
        ConnectorTest::SetUp();
        on("TransferSelectionSets");
        on("TransferLayer");
        on("TransferAttribute");
    }
};

// Every kind of feature over three bodies: two coordinate systems (one
// current, in the frame), three layers, a filter of each type, two
// selection sets and groups nested two deep, one holding an empty group.
void addKernelFeatures(QELXVelmDocument& doc, const std::vector<BODY*>& b, const QELtransf& frame)
{
    dftest::newCoordinateSystem(doc, frame, "Top", true);
    dftest::newCoordinateSystem(doc, translate_transf(QELvector(1, 2, 3)) * frame, "Side", false);
    QELGROUP* one = dftest::newLayer(doc, 1, "Walls");
    QELGROUP* two = dftest::newLayer(doc, 2, "Doors");
    QELGROUP* three = dftest::newLayer(doc, 3, "Roof");
    dftest::newLayerFilter(doc, "Everything", QELX_LayerFilterAll, false, {one, two, three});
    dftest::newLayerFilter(doc, "Outside", QELX_LayerFilterListed, true, {one, three});
    dftest::newLayerFilter(doc, "Unknown", QELX_LayerFilterNone, false, {two});
    dftest::newSelectionSet(doc, "Picked", true, {b[0], b[1]});
    dftest::newSelectionSet(doc, "Spare", false, {b[2]});
    QELCOLLECTION* inner = dftest::newCollection(doc, {b[1], b[2]}, false);
    QELCOLLECTION* empty = dftest::newCollection(doc, {}, false);
    dftest::newCollection(doc, {b[0], inner}, true);
    dftest::newCollection(doc, {b[2], empty}, true);
}

} // namespace

TEST_F(DocFeatureRoundTrip, AKernelDocumentsFeaturesComeBackEqualInEveryFrame)
{
    for (const QELtransf& frame : testkit::heal_frames()) {
        SCOPED_TRACE(frame.identity() ? "identity" : "framed");
        QELXVelmDocument source, target;
        const std::vector<BODY*> from = dftest::addBodies(source, 3);
        const std::vector<BODY*> to = dftest::addBodies(target, 3);
        dftest::linkBodies(source, dftest::wordsOf(from), to);
        addKernelFeatures(source, from, frame);

        QELXVelmDocFeatureExporter* exporter = nullptr;
        ASSERT_EQ(QELXCreateVelmDocFeatureExporter(&source, &exporter), QELI_OK);
        EXPECT_EQ(exporter->PreProcess(), QELI_OK);
        {
            dftest::ImportRun run(target, *exporter);
            EXPECT_EQ(run.imported, QELI_OK);
            EXPECT_EQ(run.count("Selection Sets"), 2);
            EXPECT_EQ(run.count("Layer Filters"), 3);
            EXPECT_EQ(run.count("Local Coordinate Systems"), 2);
            EXPECT_EQ(run.count("Associative Groups"), 2);
        }
        // The empty group is left out of the copy.
        std::vector<std::string> expected = dftest::describeFeatures(source);
        std::replace(expected.begin(), expected.end(), std::string("group {body2 {} }"), std::string("group {body2 }"));
        EXPECT_EQ(dftest::describeFeatures(target), expected);
        delete exporter;
    }
}

// The framework's source model has notes too: they come as collections of
// their parameters.
TEST_F(DocFeatureRoundTrip, ASourceModelsFeaturesAndNotesArriveAsTheModelSays)
{
    using qelx_test::KindBody;
    using qelx_test::KindGroup;
    using qelx_test::wordOf;
    qelx_test::TestModel model;
    const std::vector<QELtransf> frames = testkit::heal_frames();
    const Ve_Morph mirrored(frames[2]);
    model.addCoordinateSystem(mirrored, true, "Mirror");
    model.layers[4] = qelx_test::TestLayer{"Glass", {0, 0, 1, 1}, false};
    model.layers[7] = qelx_test::TestLayer{"Steel", {1, 0, 0, 1}, true};
    model.layerFilters = {{"All", QELX_LayerFilterAll, {}, false}, {"Metal", QELX_LayerFilterListed, {7}, true},
                          {"Odd", QELX_LayerFilterNone, {4}, false}};
    model.addSelectionSet("Front", false, {wordOf(KindBody, 0), wordOf(KindBody, 2)});
    model.groups = {{"Outer", {wordOf(KindBody, 0), wordOf(KindGroup, 1)}, true},
                    {"Inner", {wordOf(KindBody, 1), wordOf(KindGroup, 2)}, false},
                    {"Empty", {}, false}};
    model.notes = {{"Check", {{"mass", "12.5", 2}, {"material", "steel", 1}}}, {"Blank", {}}};
    qelx_test::TestDocument source(model);
    qelx_test::TestCallLog log;
    qelx_test::TestAttributeExporter attributes(source.model(), log);
    qelx_test::TestDocFeatureExporter exporter(&source, source.model(), &attributes);

    QELXVelmDocument target;
    const std::vector<BODY*> to = dftest::addBodies(target, 3);
    dftest::linkBodies(source, {wordOf(KindBody, 0), wordOf(KindBody, 1), wordOf(KindBody, 2)}, to);
    {
        dftest::ImportRun run(target, exporter);
        EXPECT_EQ(run.imported, QELI_OK);
        EXPECT_EQ(run.count("Selection Sets"), 1);
        EXPECT_EQ(run.count("Layer Filters"), 3);
        EXPECT_EQ(run.count("Local Coordinate Systems"), 1);
        EXPECT_EQ(run.count("Associative Groups"), 1);
    }
    std::vector<std::string> expected = {
        "group {body0 {body1 } }",
        "layer filter All type 0 {layer4 layer7 }",
        "layer filter Metal type 1 current {layer7 }",
        "layer filter Odd type 2 {layer4 }",
        "layer4 Glass",
        "layer7 Steel",
        "note Check [mass=12.5:2 material=steel:1 ]",
        "selection set Front {body0 body2 }",
        "wcs Mirror current " + dftest::describeTransform(frames[2]),
    };
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(dftest::describeFeatures(target), expected);
}

// Only the all-layers filter (type 0) takes every layer the import made;
// without one no filter is filled beyond what it lists. One listed after
// another filter is found.
TEST_F(DocFeatureRoundTrip, OnlyAnAllLayersFilterGathersEveryLayer)
{
    struct Case {
        const char* what;
        std::vector<qelx_test::TestLayerFilter> filters;
        std::vector<std::string> described;
    };
    const std::vector<Case> cases{
        {"no filter of type 0",
         {{"Metal", QELX_LayerFilterListed, {7}, true}, {"Odd", QELX_LayerFilterNone, {4}, false}},
         {"layer filter Metal type 1 current {layer7 }", "layer filter Odd type 2 {layer4 }"}},
        {"the filter of type 0 listed second",
         {{"Metal", QELX_LayerFilterListed, {7}, true}, {"All", QELX_LayerFilterAll, {}, false}},
         {"layer filter All type 0 {layer7 }", "layer filter Metal type 1 current {layer7 }"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        qelx_test::TestModel model;
        model.layers[4] = qelx_test::TestLayer{"Glass", {0, 0, 1, 1}, false};
        model.layers[7] = qelx_test::TestLayer{"Steel", {1, 0, 0, 1}, true};
        model.attributes[qelx_test::wordOf(qelx_test::KindBody, 0)].layer = 4;
        model.layerFilters = c.filters;
        qelx_test::TestDocument source(model);
        qelx_test::TestCallLog log;
        qelx_test::TestAttributeExporter attributes(source.model(), log);
        qelx_test::TestDocFeatureExporter exporter(&source, source.model(), &attributes);
        QELXVelmDocument target;
        const std::vector<BODY*> to = dftest::addBodies(target, 1);
        dftest::linkBodies(source, {qelx_test::wordOf(qelx_test::KindBody, 0)}, to);
        {
            dftest::ImportRun run(target, exporter);
            EXPECT_EQ(run.imported, QELI_OK);
            EXPECT_EQ(run.count("Layer Filters"), 2);
        }
        std::vector<std::string> filters;
        for (const std::string& d : dftest::describeFeatures(target))
            if (d.rfind("layer filter", 0) == 0)
                filters.push_back(d);
        EXPECT_EQ(filters, c.described);
    }
}
