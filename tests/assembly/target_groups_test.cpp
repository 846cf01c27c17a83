// The target document's own groups: the placed bodies join the layer the
// target already holds rather than a layer of the same number made beside
// it, whether a part is placed once or its copies are placed again.
#include <algorithm>

#include "assembly_test_support.hxx"
#include "docfeature_support.hxx"

using namespace asmtest;
using qelx_test::KindBody;
using qelx_test::wordOf;

namespace {

class TargetGroupsTest : public AssemblyTest {};

std::vector<ENTITY*> layersOf(AssemblyRun& run)
{
    std::vector<ENTITY*> out;
    for (ENTITY* e : run.entities()) {
        bool flag = false;
        if (is_QELGROUP(e) && Ve_AttribTransfer::isLayer(e, flag) && flag)
            out.push_back(e);
    }
    return out;
}

} // namespace

TEST_F(TargetGroupsTest, PlacedBodiesJoinTheTargetsOwnLayer)
{
    qelx_test::OptionScope options;
    options.on(Ve_OptionDoc::keyOf("TransferLayer"));
    options.on(Ve_OptionDoc::keyOf("TransferAttribute"));
    for (const int uses : {1, 3}) {
        SCOPED_TRACE(std::to_string(uses) + " uses of the part");
        TestModel block = TestModel::block(1, 1, 1);
        block.attributes[wordOf(KindBody, 0)].layer = 7;
        block.layers[7] = qelx_test::TestLayer{"seven", {0, 0, 0, 0}, true};
        TestAssembly a;
        const int brick = a.addPart("brick", std::move(block));
        for (int i = 0; i < uses; ++i)
            a.place(-1, brick, "brick-" + std::to_string(i), qelx_test::placementTranslation(2.0 * i, 0, 0));
        QELGROUP* ownLayer = nullptr;
        AssemblyRun run(std::move(a),
                        [&](QELXVelmDocument& target) { ownLayer = dftest::newLayer(target, 7, "seven"); });
        ASSERT_EQ(run.run(), QELI_OK);
        const std::vector<BODY*> bodies = run.bodies();
        ASSERT_EQ(bodies.size(), static_cast<std::size_t>(uses));
        EXPECT_EQ(layersOf(run), (std::vector<ENTITY*>{ownLayer}));
        for (BODY* b : bodies)
            EXPECT_TRUE(ownLayer->is_member(b)) << nameOf(b);
    }
}

// The groups the target holds before the import are sorted as the importer
// meets them: selection sets with the assembly's selection sets, layers with
// its layers, whatever else neither; they stay the result's, once each. The
// copies a part placed three times makes fold back into the part's own layer,
// never into a group of the target's that is not that layer.
TEST_F(TargetGroupsTest, TheTargetsOwnGroupsAreSortedAndCopiesFoldOnlyIntoTheirOwnLayer)
{
    qelx_test::OptionScope options;
    options.on(Ve_OptionDoc::keyOf("TransferLayer"));
    QELGROUP* set = nullptr;
    QELGROUP* layer = nullptr;
    QELGROUP* filter = nullptr;
    TestModel block = TestModel::block(1, 1, 1);
    block.attributes[wordOf(KindBody, 0)].layer = 5;
    block.layers[5] = qelx_test::TestLayer{"five", {0, 0, 0, 0}, true};
    TestAssembly a;
    const int brick = a.addPart("brick", std::move(block));
    for (int i = 0; i < 3; ++i)
        a.place(-1, brick, "brick-" + std::to_string(i), qelx_test::placementTranslation(2.0 * i, 1, 3));
    AssemblyRun run(std::move(a), [&](QELXVelmDocument& target) {
        set = dftest::newSelectionSet(target, "Own set", false, {});
        layer = dftest::newLayer(target, 4, "four");
        filter = dftest::newLayerFilter(target, "Filter", 0, false, {layer});
    });
    const auto listed = [](const ENTITY_LIST& list) {
        std::vector<ENTITY*> out;
        for (int i = 0; i < list.count(); ++i)
            if (list[i])
                out.push_back(list[i]);
        return out;
    };
    EXPECT_EQ(listed(run.importer().GetSelectionSets()), (std::vector<ENTITY*>{set}));
    EXPECT_EQ(listed(run.importer().GetLayers()), (std::vector<ENTITY*>{layer}));
    ASSERT_EQ(run.run(), QELI_OK);
    EXPECT_EQ(listed(run.importer().GetSelectionSets()), (std::vector<ENTITY*>{set}));
    const std::vector<ENTITY*> result = run.entities();
    for (ENTITY* group : {static_cast<ENTITY*>(set), static_cast<ENTITY*>(layer), static_cast<ENTITY*>(filter)})
        EXPECT_EQ(std::count(result.begin(), result.end(), group), 1);
    EXPECT_EQ(set->members().iteration_count(), 0);
    EXPECT_EQ(layer->members().iteration_count(), 0);
    QELGROUP* five = nullptr;
    for (ENTITY* e : layersOf(run)) {
        int number = -1;
        if (Ve_AttribTransfer::getID(e, number) && number == 5)
            five = static_cast<QELGROUP*>(e);
    }
    ASSERT_NE(five, nullptr);
    const std::vector<BODY*> bodies = run.bodies();
    ASSERT_EQ(bodies.size(), 3u);
    for (BODY* b : bodies)
        EXPECT_TRUE(five->is_member(b)) << nameOf(b);
}
