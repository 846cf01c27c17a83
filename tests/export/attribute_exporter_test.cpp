// Attribute answers read from kernel entities.
#include <gtest/gtest.h>

#include "export/attribute_exporter.hxx"
#include "model/document.hxx"
#include "model/result_mapping.hxx"
#include "qelx/qelx_test.hxx"
#include "qelx_velm/velm_entity_utils.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "support/model_builders.hxx"
#include "velm/attrib.hxx"
#include "velm/groups.hxx"
#include "velm/topology_api.hxx"

namespace {

QELXIdentifier idOf(const ENTITY* e) { return QELXIdentifier(QELXVelmEntityUtils::GetIdentifier(e), "", nullptr, ""); }

class AttributeExporter : public ::testing::Test {
protected:
    void SetUp() override
    {
        qelx_test::resetFramework();
        body = testkit::make_box();
        face = body->lump()->shell()->face();
    }
    void TearDown() override { api_del_entity(body); }

    // Red, green and blue the exporter answers, or {-1} when it answers nothing.
    std::vector<double> colour(const ENTITY* e)
    {
        double rgba[4] = {-1, -1, -1, -1};
        if (exporter.GetColor(idOf(e), rgba) != 0)
            return {-1};
        EXPECT_EQ(rgba[3], 0.0);
        return {rgba[0], rgba[1], rgba[2]};
    }

    QELXVelmAttributeExporter exporter{nullptr};
    BODY* body = nullptr;
    FACE* face = nullptr;
};

} // namespace

TEST_F(AttributeExporter, ColourIndexWinsAndFacesInheritButEdgesOfSolidsDoNot)
{
    using C = std::vector<double>;
    struct Row {
        int number;
        C rgb;
    };
    for (const Row& row : {Row{9, {1, 0, 0}}, Row{-3, {0, 0, 1}}, Row{8, {0, 0, 0}}, Row{-2147483647 - 1, {0, 0, 0}}}) {
        double rgb[3];
        QELXVelmAttributeExporter::colourOfIndex(row.number, rgb);
        EXPECT_EQ(C(rgb, rgb + 3), row.rgb) << row.number;
    }
    EXPECT_EQ(colour(face), C{-1});
    new ATTRIB_RGB(body, 0.25, 0.5, 0.75);
    EXPECT_EQ(colour(face), (C{0.25, 0.5, 0.75})) << "through shell and lump";
    EDGE* edge = face->loop()->start()->edge();
    EXPECT_EQ(colour(edge), C{-1}) << "an edge's owner is not the body";
    new ATTRIB_RGB(face, 0.0, 1.0, 0.0);
    new ATTRIB_COL(face, 6);
    EXPECT_EQ(colour(face), (C{1, 0, 1}));
    EXPECT_EQ(exporter.GetColor(QELXIdentifier(), nullptr), 0x100000bu);
}

TEST_F(AttributeExporter, VisibilityPickThicknessAndTheOldAttributesSwitch)
{
    bool flag = false;
    EXPECT_EQ(exporter.GetShow(idOf(face), flag), 0u);
    EXPECT_TRUE(flag);
    EXPECT_EQ(exporter.GetPick(idOf(face), flag), 0x1000002u);
    EXPECT_FALSE(flag);
    double thickness = 0.0;
    EXPECT_EQ(exporter.GetThickness(idOf(face), thickness), 0x1000002u);
    EXPECT_EQ(thickness, -1.0);

    api_add_generic_named_attribute(face, "AttDV_Ps_Show", 0);
    EXPECT_EQ(exporter.GetShow(idOf(face), flag), 0u);
    EXPECT_TRUE(flag) << "old attributes are ignored while the switch is off";
    qelx_test::OptionScope options;
    options.on(Ve_OptionDoc::keyOf("TranslateOldVelmGenericAttributes"));
    EXPECT_EQ(exporter.GetShow(idOf(face), flag), 0u);
    EXPECT_FALSE(flag);
    api_add_generic_named_attribute(face, "ATTRIB_XVELM_SHOW", 1);
    api_add_generic_named_attribute(face, "QELX_PICK", 1);
    api_add_generic_named_attribute(face, "ATTRIB_XVELM_THICKNESS", 0.5);
    EXPECT_EQ(exporter.GetShow(idOf(face), flag), 0u);
    EXPECT_TRUE(flag) << "the connector's attribute comes before the old one";
    EXPECT_EQ(exporter.GetPick(idOf(face), flag), 0u);
    EXPECT_TRUE(flag);
    EXPECT_EQ(exporter.GetThickness(idOf(face), thickness), 0u);
    EXPECT_EQ(thickness, 0.5);
}

TEST_F(AttributeExporter, NamesAliasesAndTheWideSwitch)
{
    QELXString name;
    EXPECT_EQ(exporter.GetName(idOf(face), name), 0x1000002u);
    api_add_generic_named_attribute(face, "QELX_NAME", "front");
    EXPECT_EQ(exporter.GetName(idOf(face), name), 0u);
    EXPECT_STREQ(name.c_str(), "front");
    {
        qelx_test::OptionScope options;
        options.on(Ve_OptionDoc::keyOf("EnableWideCharAttribute"));
        EXPECT_EQ(exporter.GetName(idOf(face), name), 0x1000002u);
    }
    QELXIdentifier first, second;
    int count = -1;
    QELXString* texts = nullptr;
    EXPECT_EQ(exporter.GetAlias(idOf(face), first, second, count, texts), 0x1000001u);
    EXPECT_EQ(count, 0);
    // Two names on one entity: the generic add replaces, so hang the second directly.
    new ATTRIB_GEN_STRING(face, "ATTRIB_XVELM_NAME", "a");
    new ATTRIB_GEN_STRING(face, "ATTRIB_XVELM_NAME", "b");
    ASSERT_EQ(exporter.GetAlias(idOf(face), first, second, count, texts), 0u);
    ASSERT_EQ(count, 2);
    EXPECT_STREQ(texts[1].c_str(), "b");
    exporter.ReleaseAlias(count, texts);

    QELXDynamicArray<ENTITY*> entities;
    entities.Add(body);
    entities.Add(face);
    ENTITY* found = body;
    EXPECT_EQ(findEntityByName(entities, QELXString("front"), found), 0u);
    EXPECT_EQ(found, face);
    EXPECT_EQ(findEntityByName(entities, QELXString("back"), found), 0x1000001u);
    EXPECT_EQ(found, nullptr);
}

TEST_F(AttributeExporter, LayersAreFoundUpTheOwnersUnlessSwitchedOff)
{
    auto* layer = new QELGROUP;
    Ve_AttribTransfer::setGroupType(layer, Ve_GroupLayer);
    Ve_AttribTransfer::setID(layer, 42);
    Ve_AttribTransfer::setLabel(layer, QELXString("walls"));
    Ve_AttribTransfer::setColor(layer, 0.0, 0.0, 1.0);
    api_ct_add_to_group(face->shell(), layer);
    Ve_DocumentTag document;
    document.AddLayer(layer);
    QELXVelmAttributeExporter withDocument(&document);

    int number = -1;
    EXPECT_EQ(withDocument.GetLayer(idOf(face), number), 0u);
    EXPECT_EQ(number, 42);
    QELXString name;
    EXPECT_EQ(withDocument.GetLayerName(42, name), 0u);
    EXPECT_STREQ(name.c_str(), "walls");
    double rgba[4];
    EXPECT_EQ(withDocument.GetLayerColor(idOf(face), rgba), 0u);
    EXPECT_EQ(rgba[2], 1.0);
    EXPECT_EQ(withDocument.GetLayerColor(7, rgba), 0x1000001u);
    {
        qelx_test::OptionScope options;
        options.off(Ve_OptionDoc::keyOf("SearchLayersThruMultipleLevels"));
        EXPECT_EQ(withDocument.GetLayer(idOf(face), number), 0x1000001u);
        EXPECT_EQ(number, 0);
    }
    api_add_generic_named_attribute(face, "ATTRIB_XVELM_LAYER", 5);
    EXPECT_EQ(withDocument.GetLayer(idOf(face), number), 0u);
    EXPECT_EQ(number, 5);
    api_del_entity(layer);
}
