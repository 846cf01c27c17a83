// The target document's own groups: the placed bodies join the layer the
// target already holds rather than a layer of the same number made beside
// it, whether a part is placed once or its copies are placed again.
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
