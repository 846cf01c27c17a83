#include <gtest/gtest.h>

#include <cstdint>

#include "model/containers.hxx"
#include "model/message_module.hxx"
#include "model/result_mapping.hxx"
#include "model_test_support.hxx"
#include "qelx/qelx_units.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "velm/groups.hxx"
#include "velm/save.hxx"

namespace {

int ours(int index) { return xvelm2k_errorcode_errmod.message_code(index); }

QELIResult forward(const outcome& o)
{
    QELIResult r = 0xdead;
    mapOutcomeToQELXResult(o, r);
    return r;
}

int forwardInt(const outcome& o)
{
    int r = -7;
    mapOutcomeToInt(o, r);
    return r;
}

} // namespace

TEST(StartUp, RegistersPersistentClassesAndTheMessagesVerbatim)
{
    EXPECT_NE(restore_def::find("ve_assembly"), nullptr);
    EXPECT_NE(restore_def::find("ve_part"), nullptr);
    EXPECT_STREQ(xvelm2k_errorcode_errmod.name(), "xvelm2k/src");
    EXPECT_EQ(xvelm2k_errorcode_errmod.count(), 22);
    EXPECT_EQ(xvelm2k_errorcode_errmod.message_code(22), -1);
    EXPECT_STREQ(message_module::find_message(ours(QELX_VELM_S_PARTIAL)),
                 "API is partially successful,some entities not translated");
    EXPECT_STREQ(message_module::find_message(ours(QELX_VELM_E_SOLID_OUTPUT_AS_SHEETS)),
                 "Unstitch on non-manifold velm body was unsuccessful. Exploded into sheets");
    EXPECT_STREQ(message_module::find_message_name(ours(QELX_VELM_S_NO_TRANSLATABLE_GEOMETRY)),
                 "QELX_VELM_S_NO_TRANSLATABLE_GEOMETRY");
    EXPECT_STREQ(message_module::find_message(ours(QELX_VELM_E_FILE_ENCRYPTED)), "Encrypted File");
}

TEST(ResultMapping, OutcomesMapToFrameworkCodesAndUnknownErrorsFail)
{
    const struct {
        int error;
        QELIResult code;
    } cases[] = {{0, 0u},
                 {apiFailure(), 0x1000001u},
                 {ours(QELX_VELM_E_ERROR), 0x1000002u},
                 {ours(QELX_VELM_E_ABORT), 0x2000003u},
                 {ours(QELX_VELM_E_FILE_ENCRYPTED), 0x1000010u},
                 {ours(QELX_VELM_S_NO_ENTITIES), 2u},
                 // Registered but produced by neither mapping.
                 {ours(QELX_VELM_E_FAIL), 0x1000001u},
                 {ours(QELX_VELM_E_BREP_JOIN_FAILED), 0x1000001u},
                 // An unknown kernel error never reads as success (2) in either form.
                 {apiError(VELM_BAD_ARGUMENT), 0x1000001u}};
    for (const auto& c : cases) {
        const outcome o = c.error ? outcome(c.error) : outcome();
        EXPECT_EQ(forward(o), c.code) << c.error;
        EXPECT_EQ(forwardInt(o), static_cast<int>(c.code)) << c.error;
    }
}

TEST(ResultMapping, EveryCodeTheForwardTableKnowsRoundTripsAndUnknownCodesLeaveTheOutcome)
{
    const std::uint32_t lost[] = {3, 0x1000005, 0x1000014, 0x1010002, 0x3000006};
    const std::uint32_t kept[] = {0,         1,         2,         0x1000001, 0x1000002, 0x1000007,
                                  0x1000009, 0x100000a, 0x100000b, 0x100000d, 0x100000e, 0x100000f,
                                  0x1000010, 0x1000011, 0x1000012, 0x1000013, 0x2000003};
    for (std::uint32_t code : lost) {
        outcome o;
        mapQELXResultToOutcome(code, o);
        EXPECT_FALSE(o.ok()) << std::hex << code;
        EXPECT_EQ(forward(o), 0x1000001u) << std::hex << code;
    }
    for (std::uint32_t code : kept) {
        outcome o(ours(QELX_VELM_E_FAIL));
        mapQELXResultToOutcome(code, o);
        EXPECT_EQ(forward(o), code) << std::hex << code;
        EXPECT_EQ(forwardInt(o), static_cast<int>(code)) << std::hex << code;
    }
    outcome special;
    mapQELXResultToOutcome(0x3000006, special);
    EXPECT_EQ(special.error_number(), 0x3000006);

    outcome ok;
    mapQELXResultToOutcome(0x1234, ok);
    EXPECT_TRUE(ok.ok());
    outcome failed(ours(QELX_VELM_E_INVALID_OBJECT));
    mapQELXResultToOutcome(0x1000003, failed);
    EXPECT_EQ(failed.error_number(), ours(QELX_VELM_E_INVALID_OBJECT));
    // Strings order byte-wise.
    EXPECT_TRUE(QELXString("abc") < QELXString("abd"));
    EXPECT_FALSE(QELXString("abc") < QELXString("abc"));
    EXPECT_TRUE(QELXString("Z") < QELXString("a"));
}

TEST(ReadFileUnit, FileUnitsBecomeTheReadUnitAndMissingFileInformationKeepsIt)
{
    const struct {
        double mmPerUnit;
        QELXUnit unit;
    } cases[] = {{25.4, QELX_UNIT_INCH}, {-1.0, QELX_UNIT_UNSPECIFIED}, {3.7, QELX_UNIT_NONE}}; // no unit is 3.7 mm
    for (const auto& c : cases) {
        FileInfo info;
        info.set_units(c.mmPerUnit);
        ASSERT_TRUE(api_set_file_info(FileInfo_units, info).ok());
        setVelmReadFileUnit();
        EXPECT_EQ(QELXUnitValue::GetReadUnit(), c.unit) << c.mmPerUnit;
    }
    FileInfo* const saved = save_info;
    QELXUnitValue::SetReadUnit(QELX_UNIT_METER);
    save_info = nullptr;
    setVelmReadFileUnit();
    save_info = saved;
    EXPECT_EQ(QELXUnitValue::GetReadUnit(), QELX_UNIT_METER);
}

namespace {

// Kernel groups that carry the searched facts; lost again at the end.
class EntitySearch : public ::testing::Test {
protected:
    ENTITY* group()
    {
        auto* g = new QELGROUP();
        m_groups.Add(g);
        return g;
    }
    void TearDown() override
    {
        for (ENTITY* g : m_groups)
            api_ct_lose_group(static_cast<QELGROUP*>(g));
    }
    QELXDynamicArray<ENTITY*> m_groups;
};

} // namespace

TEST_F(EntitySearch, LabelAndIdentifierNumberFindTheFirstExactMatch)
{
    ENTITY* found = nullptr;
    EXPECT_FALSE(findEntityById(5, m_groups, found)); // empty array
    group();                                                // neither label nor number
    ASSERT_TRUE(Ve_AttribTransfer::setLabel(group(), "")); // empty label
    ENTITY* near = group();
    ASSERT_TRUE(Ve_AttribTransfer::setLabel(near, "Layer 7x"));
    ASSERT_TRUE(Ve_AttribTransfer::setID(near, 4));
    ENTITY* first = group();
    ASSERT_TRUE(Ve_AttribTransfer::setLabel(first, "Layer 7"));
    ASSERT_TRUE(Ve_AttribTransfer::setID(first, 5));
    ENTITY* second = group();
    ASSERT_TRUE(Ve_AttribTransfer::setLabel(second, "Layer 7"));
    ASSERT_TRUE(Ve_AttribTransfer::setID(second, 5));
    EXPECT_TRUE(findEntityByLabel("Layer 7", m_groups, found));
    EXPECT_EQ(found, first);
    found = nullptr;
    EXPECT_TRUE(findEntityById(5, m_groups, found));
    EXPECT_EQ(found, first);
    found = nullptr;
    for (const char* label : {"Layer", "", static_cast<const char*>(nullptr)})
        EXPECT_FALSE(findEntityByLabel(label, m_groups, found));
    EXPECT_FALSE(findEntityById(0, m_groups, found)); // absent is not 0
    EXPECT_EQ(found, nullptr);
}

TEST(DeleteEntityList, DeletesBodiesAndKeepsGroups)
{
    const long liveBefore = velm_live_object_count();
    BODY* body = testkit::make_box(); // deleted by the list
    auto* layer = new QELGROUP();
    ASSERT_TRUE(api_ct_add_to_group(body, layer).ok());
    ENTITY_LIST list;
    list.add(layer);
    list.add(body);
    EXPECT_EQ(DeleteEntityListProperly(list), 0u);
    EXPECT_FALSE(velm_is_live_entity(body));
    EXPECT_TRUE(velm_is_live_entity(layer));
    EXPECT_EQ(layer->members().iteration_count(), 0); // the body left its layer
    api_ct_lose_group(layer);
    EXPECT_EQ(velm_live_object_count(), liveBefore);
}
