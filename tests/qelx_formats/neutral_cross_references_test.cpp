// What one element of a neutral document says of another is read to the
// letter: a layer number or an entity's attribute record given twice, a loop
// listing a coedge that names another loop, a vertex listing an edge that
// neither starts nor ends at it, and a surface's deviation of zero are each
// refused at the element that says it.
#include "qelx/test_model.hxx"
#include "qelx_formats/neutral_document.hxx"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include <nlohmann/json.hpp>

namespace {

using CrossJson = nlohmann::json;

// A cylinder with a layer and an attribute record, written.
CrossJson crossReferencedDocument()
{
    qelx_test::TestModel m = qelx_test::TestModel::cylinder(2, 5);
    m.layers[7] = qelx_test::TestLayer{"parts", {1, 0, 0, 0}, true};
    m.attributes[qelx_test::wordOf(qelx_test::KindFace, 0)].layer = 7;
    return CrossJson::parse(qelx_formats::writeNeutralText(m));
}

// The first element of `table` (a list of ids) that `keep` accepts; the
// table's size when none does.
std::size_t firstWhere(const CrossJson& table, const std::function<bool(const CrossJson&)>& keep)
{
    for (std::size_t i = 0; i < table.size(); ++i)
        if (keep(table[i]))
            return i;
    return table.size();
}

} // namespace

TEST(NeutralCrossReferences, AnElementThatContradictsAnotherIsRefusedWhereItStands)
{
    const CrossJson good = crossReferencedDocument();
    ASSERT_NO_THROW(qelx_formats::readNeutralText(good.dump(), "good.json"));
    ASSERT_GE(good["loops"].size(), 2u);
    ASSERT_EQ(good["layers"].size(), 1u);
    ASSERT_EQ(good["attributes"].size(), 1u);
    const CrossJson vertex = good["vertices"][0];
    // An edge that neither starts nor ends at the first vertex.
    const std::size_t away = firstWhere(good["edges"], [&](const CrossJson& e) {
        return e["start"] != vertex["id"] && e["end"] != vertex["id"];
    });
    ASSERT_LT(away, good["edges"].size());
    struct Case {
        const char* what;
        std::function<void(CrossJson&)> spoil;
        std::string path;
        std::string refusal;
    };
    const Case cases[] = {
        {"a layer number given twice", [](CrossJson& d) { d["layers"].push_back(d["layers"][0]); }, "/layers/1/number",
         "duplicate layer 7"},
        {"an entity's attributes given twice", [](CrossJson& d) { d["attributes"].push_back(d["attributes"][0]); },
         "/attributes/1/entity", "a second attribute record for one entity"},
        {"a loop listing another loop's coedge",
         [](CrossJson& d) { d["loops"][0]["coedges"][0] = d["loops"][1]["coedges"][0]; }, "/loops/0/coedges/0",
         "a coedge that does not name it back"},
        {"a vertex listing an edge away from it",
         [&](CrossJson& d) { d["vertices"][0]["edges"].push_back(good["edges"][away]["id"]); },
         "/vertices/0/edges/" + std::to_string(vertex["edges"].size()), "an edge that does not start or end at it"},
        {"a surface deviating by zero", [](CrossJson& d) { d["surfaces"][0]["deviation"] = 0.0; },
         "/surfaces/0/deviation", "a deviation is positive"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CrossJson damaged = good;
        c.spoil(damaged);
        try {
            qelx_formats::readNeutralText(damaged.dump(), "damaged.json");
            ADD_FAILURE() << "accepted";
        } catch (const qelx_formats::NeutralDocumentError& e) {
            const std::string message = e.what(), head = "damaged.json: " + c.path + ": " + c.refusal;
            EXPECT_EQ(message.substr(0, head.size()), head) << message;
        }
    }
    // A deviation above zero is read and kept.
    CrossJson deviating = good;
    deviating["surfaces"][0]["deviation"] = 1e-6;
    EXPECT_EQ(qelx_formats::readNeutralText(deviating.dump(), "deviating.json").surfaces[0].deviation, 1e-6);
}
