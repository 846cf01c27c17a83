#include "persist_test_support.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "qelx_velm/velm_entity_utils.hxx"
#include "velm/groups.hxx"
#include "velm/topology.hxx"

class AttribFacts : public persist_test::PersistTest {};

TEST_F(AttribFacts, GroupKindsLabelsIdsAndColour)
{
    auto* group = new QELGROUP();
    auto* body = new BODY();
    bool flag = true;
    EXPECT_FALSE(Ve_AttribTransfer::isLayer(nullptr, flag));
    EXPECT_TRUE(Ve_AttribTransfer::isLayer(group, flag));
    EXPECT_FALSE(flag);  // no group type yet
    ASSERT_TRUE(Ve_AttribTransfer::setGroupType(group, Ve_GroupLayerFilter));
    EXPECT_TRUE(Ve_AttribTransfer::isLayerFilter(group, flag));
    EXPECT_TRUE(flag);
    EXPECT_TRUE(Ve_AttribTransfer::isLayer(group, flag));
    EXPECT_FALSE(flag);
    Ve_AttribTransfer::setGroupType(body, Ve_GroupLayer);
    EXPECT_TRUE(Ve_AttribTransfer::isLayer(body, flag));
    EXPECT_FALSE(flag);  // only groups are layers
    EXPECT_TRUE(Ve_AttribTransfer::isQELCollection(group));
    EXPECT_FALSE(Ve_AttribTransfer::isQELCollection(body));

    int id = 0;
    EXPECT_FALSE(Ve_AttribTransfer::getID(group, id));
    Ve_AttribTransfer::setID(group, 12);
    Ve_AttribTransfer::setID(group, 13);
    EXPECT_TRUE(Ve_AttribTransfer::getID(group, id));
    EXPECT_EQ(id, 13);
    Ve_AttribTransfer::SetStringAttrib(body, Ve_AttribTransfer::IdTextName, "DE:4");
    char* text = nullptr;
    ASSERT_TRUE(Ve_AttribTransfer::getID(body, text));
    EXPECT_STREQ(text, "DE:4");
    delete[] text;

    QELXString label;
    Ve_AttribTransfer::setLabel(group, QELXString("Layer 13"));
    ASSERT_TRUE(Ve_AttribTransfer::getLabel(group, label));
    EXPECT_STREQ(label.c_str(), "Layer 13");

    ASSERT_TRUE(Ve_AttribTransfer::setColor(body, 2.0, -1.0, 0.25));
    ASSERT_TRUE(Ve_AttribTransfer::setColor(body, 0.5, 0.5, 0.5));
    EXPECT_EQ(persist_test::attribCount(body, ATTRIB_ST_TYPE, ATTRIB_RGB_TYPE), 1);
    Ve_AttribTransfer::setColor(body, 2.0, -1.0, 0.25);
    auto* rgb = static_cast<ATTRIB_RGB*>(find_attrib(body, ATTRIB_ST_TYPE, ATTRIB_RGB_TYPE));
    EXPECT_EQ(rgb->red(), 1.0);
    EXPECT_EQ(rgb->green(), 0.0);

    EXPECT_FALSE(Ve_AttribTransfer::SetIntegerAttrib(body, "K", 1, true) &&
                 Ve_AttribTransfer::SetIntegerAttrib(body, "K", 2, false));
    int k = 0;
    Ve_AttribTransfer::GetIntegerAttrib(body, "K", k);
    EXPECT_EQ(k, 1);
    EXPECT_TRUE(Ve_AttribTransfer::IsAttribPresent(body, "K"));

    // An identifier word finds its entity while it lives, and nothing after.
    const std::uint64_t word = QELXVelmEntityUtils::GetIdentifier(body);
    EXPECT_EQ(QELXVelmEntityUtils::GetEntity(word), body);
    group->lose();
    body->lose();
    EXPECT_EQ(QELXVelmEntityUtils::GetEntity(word), nullptr);
    EXPECT_EQ(QELXVelmEntityUtils::GetEntity(std::uint64_t(0)), nullptr);
    EXPECT_EQ(QELXVelmEntityUtils::GetIdentifier(nullptr), 0u);
}
