// The kernel-style group queries and the group helpers of the exporter.
#include <gtest/gtest.h>

#include <string>

#include "model/kernel_functions.hxx"
#include "model_test_support.hxx"
#include "qelx/qelx_test.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "velm/groups.hxx"

namespace {

QELGROUP* groupOfType(int type)
{
    auto* g = new QELGROUP;
    Ve_AttribTransfer::setGroupType(g, type);
    return g;
}

} // namespace

TEST(KernelFunctions, GroupQueriesAnswerEveryKindAndRefuseWhatIsNotAFilter)
{
    qelx_test::resetFramework();
    QELGROUP* layer = groupOfType(Ve_GroupLayer);
    QELGROUP* filter = groupOfType(Ve_GroupLayerFilter);
    QELGROUP* selection = groupOfType(Ve_GroupSelectionSet);
    Ve_AttribTransfer::setLayerFilterType(filter, 0);
    struct Row {
        outcome (*query)(ENTITY*, int&);
        int layer, filter, selection;
    };
    for (const Row& row : {Row{api_is_layer_entity, 1, 0, 0}, Row{api_is_layer_filter_entity, 0, 1, 0},
                           Row{api_is_selection_set_entity, 0, 0, 1}}) {
        int answers[3] = {-1, -1, -1};
        int i = 0;
        for (QELGROUP* g : {layer, filter, selection})
            EXPECT_TRUE(row.query(g, answers[i++]).ok());
        EXPECT_EQ(answers[0], row.layer);
        EXPECT_EQ(answers[1], row.filter);
        EXPECT_EQ(answers[2], row.selection);
    }
    int answer = 7;
    EXPECT_EQ(api_is_all_layer_filter(layer, answer).error_number(), apiFailure());
    EXPECT_EQ(answer, 7);
    EXPECT_TRUE(api_is_all_layer_filter(filter, answer).ok());
    EXPECT_EQ(answer, 1);
    EXPECT_TRUE(api_set_current(layer, 1).ok());
    EXPECT_TRUE(api_get_current(layer, answer).ok());
    EXPECT_EQ(answer, 1);
    EXPECT_FALSE(api_is_layer_entity(nullptr, answer).ok());
    EXPECT_EQ(answer, 0);

    ENTITY_LIST in, others, layers, filters;
    const Owned box{testkit::make_box()};
    for (ENTITY* e : {static_cast<ENTITY*>(box.body), static_cast<ENTITY*>(filter), static_cast<ENTITY*>(layer)})
        in.add(e);
    QELXVelmLayerUtil().SeperateLayersAndLayerFilters(in, others, layers, filters);
    EXPECT_EQ(seqOf(others), Seq{box.body});
    EXPECT_EQ(seqOf(layers), Seq{layer});
    EXPECT_EQ(seqOf(filters), Seq{filter});
    for (ENTITY* g : {layer, filter, selection})
        api_del_entity(g);
}

TEST(KernelFunctions, CollectionsLetGoOfABodyAndItsFacesWithoutDying)
{
    qelx_test::resetFramework();
    const Owned box{testkit::make_box()};
    auto* layer = groupOfType(Ve_GroupLayer);
    auto* keeper = new QELCOLLECTION;
    keeper->set_collection_empty_behavior(1);
    FACE* face = firstFace(box);
    api_ct_add_to_group(face, layer);
    api_ct_add_to_group(box.body, layer);
    ENTITY_LIST one;
    one.add(face);
    api_add_to_collection(one, keeper);

    ENTITY_LIST groups;
    EXPECT_TRUE(getGroupsOfEntity(box.body, groups));
    EXPECT_EQ(seqOf(groups), Seq{layer});
    EXPECT_TRUE(removeFromCollections(box.body));
    EXPECT_EQ(layer->members().iteration_count(), 0);
    // Emptied, yet alive: its empty behaviour was set aside and then restored.
    EXPECT_FALSE(keeper->is_lost());
    EXPECT_EQ(keeper->get_collection_empty_behavior(), 1);
    EXPECT_FALSE(removeFromCollections(nullptr));
    api_del_entity(layer);
    api_del_entity(keeper);
}

namespace {
std::string passed[3];
bool passedNull[3];
void recordProductData(ENTITY_LIST*, const char* a, const char* b, const char* c, bool)
{
    const char* texts[3] = {a, b, c};
    for (int i = 0; i < 3; ++i) {
        passedNull[i] = texts[i] == nullptr;
        passed[i] = texts[i] ? texts[i] : "";
    }
}
} // namespace

TEST(KernelFunctions, ProductDataReachesTheCallbackWithEmptyTextsAsNull)
{
    QELXString name("bracket"), empty, revision("B");
    QELXVelmSetProductDataCallback(recordProductData);
    EXPECT_EQ(QELXVelmProductDataCallbackWrapper(nullptr, name, empty, revision, true), 0);
    QELXVelmSetProductDataCallback(nullptr);
    EXPECT_EQ(passed[0], "bracket");
    EXPECT_TRUE(passedNull[1]);
    EXPECT_EQ(passed[2], "B");
}
