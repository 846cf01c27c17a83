// Which attribute answers when several could: an RGB colour over a rendering
// material's, and only a group of the layer kind as a layer.
#include <gtest/gtest.h>

#include <vector>

#include "export/attribute_exporter.hxx"
#include "qelx/qelx_test.hxx"
#include "qelx_velm/velm_entity_utils.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "support/model_builders.hxx"
#include "velm/attrib.hxx"
#include "velm/groups.hxx"
#include "velm/topology_api.hxx"

namespace {

QELXIdentifier idOfEntity(const ENTITY* e)
{
    return QELXIdentifier(QELXVelmEntityUtils::GetIdentifier(e), "", nullptr, "");
}

std::vector<double> colourOf(QELXVelmAttributeExporter& exporter, const ENTITY* e)
{
    double rgba[4] = {-1, -1, -1, -1};
    if (exporter.GetColor(idOfEntity(e), rgba) != 0)
        return {-1};
    return {rgba[0], rgba[1], rgba[2]};
}

} // namespace

TEST(AttributeChoices, RgbWinsOverARenderingMaterial)
{
    qelx_test::resetFramework();
    BODY* body = testkit::make_box();
    FACE* face = body->lump()->shell()->face();
    QELXVelmAttributeExporter exporter(nullptr);
    new ATTRIB_RENDER(face, rgb_color(0.2, 0.4, 0.6));
    EXPECT_EQ(colourOf(exporter, face), (std::vector<double>{0.2, 0.4, 0.6}));
    new ATTRIB_RGB(face, 1.0, 0.0, 0.0);
    EXPECT_EQ(colourOf(exporter, face), (std::vector<double>{1.0, 0.0, 0.0}));
    api_del_entity(body);
}

TEST(AttributeChoices, OnlyAGroupOfTheLayerKindIsALayer)
{
    qelx_test::resetFramework();
    BODY* body = testkit::make_box();
    FACE* face = body->lump()->shell()->face();
    auto* filter = new QELGROUP;
    Ve_AttribTransfer::setGroupType(filter, Ve_GroupLayerFilter);
    api_ct_add_to_group(face, filter);
    Ve_AttribTransfer::setID(filter, 7);
    QELXVelmAttributeExporter exporter(nullptr);
    int number = -1;
    EXPECT_NE(exporter.GetLayer(idOfEntity(face), number), 0u);
    auto* layer = new QELGROUP;
    Ve_AttribTransfer::setGroupType(layer, Ve_GroupLayer);
    Ve_AttribTransfer::setID(layer, 42);
    api_ct_add_to_group(face, layer);
    EXPECT_EQ(exporter.GetLayer(idOfEntity(face), number), 0u);
    EXPECT_EQ(number, 42);
    api_del_entity(filter);
    api_del_entity(layer);
    api_del_entity(body);
}
