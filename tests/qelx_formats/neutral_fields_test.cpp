// The neutral document's head and attribute values read to the letter: a
// version other than the one written, either way, a unit code outside the
// codes, and a colour of other than four numbers are refused where they
// stand; the document as written is read.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>

#include <nlohmann/json.hpp>

#include "qelx/qelx_units.hxx"
#include "qelx/test_model.hxx"
#include "qelx_formats/neutral_document.hxx"

namespace {

// The refusal of reading the text ("" when it is read).
std::string fieldsRefusal(const std::string& text)
{
    try {
        qelx_formats::readNeutralText(text, "fields.json");
        return std::string();
    } catch (const qelx_formats::NeutralDocumentError& e) {
        return e.what();
    }
}

} // namespace

TEST(NeutralFields, AVersionUnitOrColourOutsideWhatIsWrittenIsRefusedWhereItStands)
{
    using Json = nlohmann::json;
    qelx_test::TestModel model = qelx_test::TestModel::block(1, 2, 3);
    model.attributes[qelx_test::wordOf(qelx_test::KindFace, 0)].color = std::array<double, 4>{0.1, 0.2, 0.3, 1.0};
    const Json good = Json::parse(qelx_formats::writeNeutralText(model));
    ASSERT_EQ(fieldsRefusal(good.dump()), "");
    // The path of the colour written.
    std::string colourPath;
    const Json& attributes = good["attributes"];
    for (std::size_t i = 0; i < attributes.size() && colourPath.empty(); ++i)
        if (attributes[i].contains("color"))
            colourPath = "/attributes/" + std::to_string(i) + "/color";
    ASSERT_FALSE(colourPath.empty()) << attributes.dump();
    const Json::json_pointer colour(colourPath);
    struct Case {
        const char* what;
        std::function<void(Json&)> spoil;
        std::string path, why;
    };
    const int version = qelx_formats::NeutralFormatVersion;
    const Case cases[] = {
        {"an older version", [&](Json& d) { d["version"] = version - 1; }, "/version",
         "version " + std::to_string(version - 1) + " is not supported"},
        {"a newer version", [&](Json& d) { d["version"] = version + 1; }, "/version",
         "version " + std::to_string(version + 1) + " is not supported"},
        {"a unit below the codes", [](Json& d) { d["unit"] = QELX_UNIT_NONE - 1; }, "/unit",
         "unit " + std::to_string(QELX_UNIT_NONE - 1) + " is not a unit code"},
        {"a unit above the codes", [](Json& d) { d["unit"] = QELX_UNIT_MILE + 1; }, "/unit",
         "unit " + std::to_string(QELX_UNIT_MILE + 1) + " is not a unit code"},
        {"a colour of five numbers", [&](Json& d) { d[colour].push_back(0.5); }, colourPath, "expected 4 numbers"},
        {"a colour of three numbers", [&](Json& d) { d[colour].erase(3); }, colourPath, "expected 4 numbers"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Json damaged = good;
        c.spoil(damaged);
        const std::string refusal = fieldsRefusal(damaged.dump());
        EXPECT_EQ(refusal.substr(0, std::string("fields.json: " + c.path).size()), "fields.json: " + c.path)
            << refusal;
        EXPECT_NE(refusal.find(c.why), std::string::npos) << refusal;
    }
}
