#include <limits>

#include "persist/brep_attrib_transfer.hxx"
#include "persist/iges_husk_attributes.hxx"
#include "persist_test_support.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "support/model_builders.hxx"

using namespace persist_test;

namespace {

int huskCount(const ENTITY* e)
{
    return attribCount(e, ATTRIB_DOVA_IGES_TYPE);
}

int intAttrib(const ENTITY* e, const char* name)
{
    int v = -999;
    Ve_AttribTransfer::GetIntegerAttrib(e, name, v);
    return v;
}

std::string textAttrib(const ENTITY* e, const char* name)
{
    QELXString v;
    return Ve_AttribTransfer::GetStringAttrib(e, name, v) ? std::string(v.c_str()) : std::string("<none>");
}

const ATTRIB_RGB* colourOf(const ENTITY* e)
{
    return static_cast<const ATTRIB_RGB*>(find_attrib(e, ATTRIB_ST_TYPE, ATTRIB_RGB_TYPE));
}

}  // namespace

class HuskTransfer : public PersistTest {};

TEST_F(HuskTransfer, EveryKindOnFacesEdgesAndVerticesBecomesGeneric)
{
    BODY* box = testkit::make_box();
    ENTITY_LIST faces, edges, vertices;
    api_get_faces(box, faces);
    api_get_edges(box, edges);
    api_get_vertices(box, vertices);
    addAllHusks(box, 1, 1, "BODY", 0.5, 0.5, 0.5, 1, 1.0);
    addAllHusks(faces[0], 42, 7, "FACE", 1.5, -0.2, 0.5, 2, 2.9);
    addAllHusks(edges[0], 0, 3, "", 0.1, 0.2, 0.3, -1, -0.5);
    addAllHusks(vertices[0], 5, 4, "VTX", 0, 0, 1, 0, 0.0);
    auto* range = new ATTRIB_DOVA_IGES_SURF_RANGE(faces[1]);
    int multi[3] = {12, 13, 14};
    (new ATTRIB_DOVA_IGES_LAYER(faces[2]))->set_mult_layer(3, multi);

    ASSERT_TRUE(QELXVelmBRepAttribTransfer::transferOldIgesHuskAttributesRecursively(box));

    EXPECT_EQ(textAttrib(faces[0], "ATTRIB_XVELM_ID"), "DE:42");
    EXPECT_EQ(intAttrib(faces[0], "ATTRIB_XVELM_LAYER"), 7);
    EXPECT_EQ(textAttrib(faces[0], "ATTRIB_XVELM_NAME"), "FACE");
    EXPECT_EQ(intAttrib(faces[0], "ATTRIB_XVELM_LINEFONT"), 2);
    EXPECT_EQ(intAttrib(faces[0], "ATTRIB_XVELM_LINEWEIGHT"), 2);
    const ATTRIB_RGB* c = colourOf(faces[0]);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->red(), 1.0);
    EXPECT_EQ(c->green(), 0.0);
    EXPECT_EQ(c->blue(), 0.5);

    // Conditions that fail leave no generic attribute, but the husk still goes.
    EXPECT_EQ(textAttrib(edges[0], "ATTRIB_XVELM_ID"), "<none>");
    EXPECT_EQ(textAttrib(edges[0], "ATTRIB_XVELM_NAME"), "<none>");
    EXPECT_EQ(intAttrib(edges[0], "ATTRIB_XVELM_LINEFONT"), -999);
    EXPECT_EQ(intAttrib(edges[0], "ATTRIB_XVELM_LINEWEIGHT"), 0);
    EXPECT_EQ(intAttrib(vertices[0], "ATTRIB_XVELM_LAYER"), 4);
    EXPECT_EQ(textAttrib(box, "ATTRIB_XVELM_ID"), "DE:1");

    // A multi-valued layer husk gives its first layer, not its count.
    EXPECT_EQ(intAttrib(faces[2], "ATTRIB_XVELM_LAYER"), 12);

    for (ENTITY* e : {static_cast<ENTITY*>(box), faces[0], edges[0], vertices[0], faces[2]})
        EXPECT_EQ(huskCount(e), 0);
    // Range husks are neither converted nor lost.
    EXPECT_EQ(find_attrib(faces[1], ATTRIB_DOVA_IGES_TYPE), range);
    EXPECT_EQ(testkit::model_problems(box), "");
    api_del_entity(box);
}

TEST_F(HuskTransfer, SingleEntityFormLeavesHusksInTheCallersList)
{
    BODY* b = new BODY();
    auto* label = new ATTRIB_DOVA_IGES_LABEL(b);
    label->set_label(0, "KEEP");
    QELXHashList<ATTRIB*> lose;
    ASSERT_TRUE(QELXVelmBRepAttribTransfer::transferOldIgesHuskAttributes(b, lose));
    EXPECT_EQ(lose.Count(), 1);
    EXPECT_TRUE(lose.Contains(label));
    EXPECT_EQ(find_attrib(b, ATTRIB_DOVA_IGES_TYPE), label);
    // Met twice, listed once.
    QELXVelmBRepAttribTransfer::transferOldIgesHuskLabels(b, lose);
    EXPECT_EQ(lose.Count(), 1);
    EXPECT_FALSE(QELXVelmBRepAttribTransfer::transferOldIgesHuskLabels(nullptr, lose));
    EXPECT_FALSE(QELXVelmBRepAttribTransfer::transferOldIgesHuskAttributesRecursively(nullptr));
    b->lose();
}

// The husk whose conversion failed stays with its data, and the answer says so.
TEST_F(HuskTransfer, KernelFailureOnOneHuskKeepsItAndDoesNotStopTheOthersAndNoNumberColourIsZero)
{
    BODY* b = new BODY();
    new ATTRIB_DOVA_IGES_DE_ENTRY(b, 9);
    (new ATTRIB_DOVA_IGES_LINEFONT(b))->set_line_font(3);
    // A damaged file may hold "nan" or "inf" where a component stands.
    (new ATTRIB_DOVA_IGES_COLOR(b))
        ->set_color(0, std::numeric_limits<double>::quiet_NaN(), 0.25, std::numeric_limits<double>::infinity(), "");
    velm_test_fail_next("api_add_generic_named_attribute", 1);
    EXPECT_FALSE(QELXVelmBRepAttribTransfer::transferOldIgesHuskAttributesRecursively(b));
    EXPECT_EQ(textAttrib(b, "ATTRIB_XVELM_ID"), "<none>");
    EXPECT_EQ(intAttrib(b, "ATTRIB_XVELM_LINEFONT"), 3);
    ASSERT_EQ(huskCount(b), 1);
    EXPECT_EQ(static_cast<ATTRIB_DOVA_IGES_DE_ENTRY*>(find_attrib(b, ATTRIB_DOVA_IGES_TYPE))->get_de_entry(), 9);
    const ATTRIB_RGB* c = colourOf(b);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->red(), 0.0);
    EXPECT_EQ(c->green(), 0.25);
    EXPECT_EQ(c->blue(), 1.0);
    b->lose();
}

