// The source model's attribute records: kept compactly when they hold only
// flags, yet read, written, looked up and changed as whole records, in word
// order, through the neutral document and back.
#include "qelx_formats/neutral_document.hxx"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

using namespace qelx_test;

namespace {

TestAttributes flags(std::optional<bool> show, std::optional<bool> pick = std::nullopt,
                     std::optional<bool> planeUnbounded = std::nullopt)
{
    TestAttributes a;
    a.show = show;
    a.pick = pick;
    a.planeUnbounded = planeUnbounded;
    return a;
}

TestAttributes named(const char* name, std::optional<bool> show = std::nullopt)
{
    TestAttributes a = flags(show);
    a.name = name;
    return a;
}

// What a record says, in one line.
std::string textOf(const TestAttributes& a)
{
    auto flag = [](const char* key, const std::optional<bool>& f) {
        return f ? std::string(key) + (*f ? "+" : "-") : std::string();
    };
    return flag("show", a.show) + flag("pick", a.pick) + flag("plane", a.planeUnbounded) +
           flag("surface", a.surfaceUnbounded) + (a.name ? "name:" + *a.name : std::string()) +
           (a.layer ? "layer:" + std::to_string(*a.layer) : std::string());
}

using Listing = std::vector<std::pair<std::uint64_t, std::string>>;

Listing listingOf(const TestAttributeTable& table)
{
    Listing out;
    for (const auto& [word, a] : table)
        out.emplace_back(word, textOf(a));
    return out;
}

std::uint64_t face(int i) { return wordOf(KindFace, i); }
std::uint64_t edge(int i) { return wordOf(KindEdge, i); }

} // namespace

// Records set in any order, flags only or not, and records changed after:
// the table lists each once, in word order, as last set, and a record made
// whole through operator[] keeps the flags it had.
TEST(AttributeTable, ListsEveryRecordOnceInWordOrderAsLastSet)
{
    struct Case {
        const char* name;
        std::function<void(TestAttributeTable&)> fill;
        Listing expected;
    };
    const std::vector<Case> cases = {
        {"flags in rising order",
         [](TestAttributeTable& t) {
             t.set(face(0), flags(true));
             t.set(face(1), flags(true, false));
             t.set(edge(0), flags(false, std::nullopt, true));
         },
         {{face(0), "show+"}, {face(1), "show+pick-"}, {edge(0), "show-plane+"}}},
        {"an empty record is a record",
         [](TestAttributeTable& t) { t.set(face(2), TestAttributes()); },
         {{face(2), ""}}},
        {"flags out of order and whole records between",
         [](TestAttributeTable& t) {
             t.set(edge(3), flags(true));
             t.set(face(5), named("lid", true));
             t.set(face(1), flags(false));
             t.set(edge(1), flags(true));
         },
         {{face(1), "show-"}, {face(5), "show+name:lid"}, {edge(1), "show+"}, {edge(3), "show+"}}},
        {"a flags record set again, as flags and as a whole record",
         [](TestAttributeTable& t) {
             t.set(face(0), flags(true));
             t.set(face(1), flags(true));
             t.set(face(2), flags(true));
             t.set(face(0), flags(false));
             t.set(face(1), named("side"));
             t.set(face(1), flags(std::nullopt, true));
         },
         {{face(0), "show-"}, {face(1), "pick+"}, {face(2), "show+"}}},
        {"a flags record made whole through operator[] keeps its flags",
         [](TestAttributeTable& t) {
             t.set(face(0), flags(true));
             t.set(face(1), flags(false, true));
             t[face(1)].layer = 7;
             t[face(3)].name = "new";
         },
         {{face(0), "show+"}, {face(1), "show-pick+layer:7"}, {face(3), "name:new"}}},
        {"records erased while walking, compact and whole",
         [](TestAttributeTable& t) {
             t.set(face(0), flags(true));
             t.set(face(1), named("gone"));
             t.set(face(2), flags(false));
             t.set(edge(0), flags(true));
             t.set(edge(1), named("kept"));
             for (auto it = t.begin(); it != t.end();)
                 it = it->first == face(1) || it->first == face(2) || it->first == edge(0) ? t.erase(it) : std::next(it);
         },
         {{face(0), "show+"}, {edge(1), "name:kept"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestAttributeTable table;
        c.fill(table);
        EXPECT_EQ(listingOf(table), c.expected);
        EXPECT_EQ(table.size(), c.expected.size());
        for (const auto& [word, text] : c.expected) {
            EXPECT_EQ(table.count(word), 1u);
            EXPECT_EQ(textOf(table.at(word)), text);
            const auto found = table.find(word);
            ASSERT_NE(found, table.end());
            EXPECT_EQ(found->first, word);
            EXPECT_EQ(textOf(found->second), text);
            // Iterating on from a found record reaches the end in order.
            std::size_t after = 0;
            for (auto it = found; it != table.end(); ++it)
                ++after;
            EXPECT_EQ(after, static_cast<std::size_t>(c.expected.end() -
                                                      std::find(c.expected.begin(), c.expected.end(),
                                                                std::make_pair(word, text))));
        }
        EXPECT_EQ(table.count(wordOf(KindVertex, 0)), 0u);
        EXPECT_EQ(table.find(wordOf(KindVertex, 0)), table.end());
        EXPECT_THROW(table.at(wordOf(KindVertex, 0)), std::out_of_range);
        const TestAttributeTable copy = table;
        EXPECT_EQ(listingOf(copy), c.expected);
    }
}

// A model whose every entity carries a flags record, and some a name or a
// layer, goes through the neutral text and back with every record as it was,
// and its text written again is the same.
TEST(AttributeTable, RecordsComeBackThroughTheNeutralDocument)
{
    TestModel m = TestModel::block(1, 2, 3);
    for (std::size_t f = 0; f < m.faces.size(); ++f)
        m.attributes.set(face(static_cast<int>(f)), flags(true, std::nullopt, false));
    for (std::size_t e = 0; e < m.edges.size(); ++e)
        m.attributes.set(edge(static_cast<int>(e)), flags(e % 2 == 0));
    m.attributes[face(2)].name = "top";
    m.attributes[edge(5)].layer = 3;
    m.attributes.set(wordOf(KindBody, 0), TestAttributes());
    const Listing before = listingOf(m.attributes);

    const std::string text = qelx_formats::writeNeutralText(m);
    const TestModel back = qelx_formats::readNeutralText(text, "block.json");
    EXPECT_EQ(listingOf(back.attributes), before);
    EXPECT_EQ(qelx_formats::writeNeutralText(back), text);
}
