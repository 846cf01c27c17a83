// The PID and PName switches count which kinds take their source entity's
// value: 1 vertices, 2 edges, 4 faces, any sum of them. On the topology road
// each kind takes it only under its own bit.
#include "import_test_support.hxx"

#include "qelx/qelx_options.hxx"
#include "qelx_velm/ve_option_doc.hxx"

#include <array>
#include <string>

using namespace importtest;
using qelx_test::TestModel;

namespace {

std::string textOf(const ENTITY* e, const char* name)
{
    ATTRIB_GEN_NAME* found = nullptr;
    if (!api_find_named_attribute(e, name, found).ok() || !found)
        return "";
    return found->value_text();
}

// How many of the body's vertices, edges and faces carry the named text.
std::array<int, 3> carrying(BODY* body, const char* name)
{
    std::array<int, 3> n{0, 0, 0};
    ENTITY_LIST lists[3];
    api_get_vertices(body, lists[0]);
    api_get_edges(body, lists[1]);
    api_get_faces(body, lists[2]);
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < lists[k].count(); ++i)
            n[static_cast<std::size_t>(k)] += textOf(lists[k][i], name).empty() ? 0 : 1;
    return n;
}

} // namespace

class AttributeBits : public ImportTest {};

TEST_F(AttributeBits, EachKindTakesItsPidAndPNameOnlyUnderItsOwnBit)
{
    TestModel model = TestModel::block(1, 2, 3);
    const auto give = [&model](qelx_test::EntityKind kind, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            qelx_test::TestAttributes& a = model.attributes[qelx_test::wordOf(kind, static_cast<int>(i))];
            a.pid = "pid";
            a.pname = "pname";
        }
    };
    give(qelx_test::KindVertex, model.vertices.size());
    give(qelx_test::KindEdge, model.edges.size());
    give(qelx_test::KindFace, model.faces.size());
    for (const char* option : {"TransferAttributePID", "TransferAttributePName"})
        for (int bits : {1, 2, 4, 5}) {
            SCOPED_TRACE(std::string(option) + " " + std::to_string(bits));
            qelx_test::OptionScope options;
            options.set(Ve_OptionDoc::keyOf(option), QELXValue(bits));
            Import import(model);
            import.creator().CreateSolidBody(import.id(qelx_test::KindBody, 0));
            ASSERT_EQ(import.bodies().size(), 1u);
            const char* name = std::string(option) == "TransferAttributePID" ? "ATTRIB_XVELM_PID" : "ATTRIB_XVELM_PNAME";
            EXPECT_EQ(carrying(import.bodies()[0], name),
                      (std::array<int, 3>{bits & 1 ? 8 : 0, bits & 2 ? 12 : 0, bits & 4 ? 6 : 0}));
        }
}
