// The framework's warnings of a run that did not fail: each told once on the
// error stream as "xvelm: warning: IN: ...", with how often it came, the
// exit status unchanged.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "../../tools/xvelm/import_verb.hxx"
#include "qelx/test_model.hxx"
#include "qelx_formats/neutral_document.hxx"
#include "../../tools/xvelm/run_warnings.hxx"
#include "convert_run.hxx"

namespace {

namespace fs = std::filesystem;

// The lines of `err` that are the driver's warnings.
std::string warningLines(const std::string& err)
{
    std::string lines;
    for (std::size_t at = 0; at < err.size();) {
        const std::size_t next = std::min(err.find('\n', at), err.size());
        if (err.compare(at, 16, "xvelm: warning: ") == 0)
            lines += err.substr(at, next - at) + "\n";
        at = next + 1;
    }
    return lines;
}

using convert_run::fileText;

// The retired variable's warning fires while it is set.
struct RetiredVariableSet {
    RetiredVariableSet() { ::setenv("QEL_ExtendSplSurf", "1", 1); }
    ~RetiredVariableSet() { ::unsetenv("QEL_ExtendSplSurf"); }
};

} // namespace

TEST(RunWarnings, EachTextOnceWithItsCountOnOneLineOfItsOwn)
{
    const xvelm::RunWarnings warnings;
    for (const char* text : {"face 3: kept", "two\nlines", "face 3: kept", "face 3: kept"})
        QELXWarningEvent::Fire(text);
    EXPECT_EQ(warnings.lines("in.json"), "xvelm: warning: in.json: face 3: kept (3 times)\n"
                                         "xvelm: warning: in.json: two\\nlines\n");
    // Only while it lives.
    const xvelm::RunWarnings later;
    EXPECT_EQ(later.lines("in.json"), "");
}

// A name IGES cannot carry whole is written as much as it can be, and the
// conversion says so (the warning reached no one); STEP carries it whole.
TEST(RunWarnings, ConvertTellsOfANameIgesCouldNotCarry)
{
    const fs::path dir = convert_run::convertScratch();
    const fs::path doc = dir / "named.json";
    {
        ASSERT_EQ(convert_run::runConvert(std::string(XVELM_EXAMPLES_DIR) + "/bracket.step", doc.string()).status, 0);
        std::string text = fileText(doc);
        const std::string from = "\"name\":\"Bracket\"";
        const std::size_t at = text.find(from);
        ASSERT_NE(at, std::string::npos);
        text.replace(at, from.size(), "\"name\":\"Bracket \xe2\x86\x92 A\"");
        std::ofstream(doc, std::ios::binary) << text;
    }
    const convert_run::ConvertRun iges = convert_run::runConvert(doc.string(), (dir / "named.igs").string());
    EXPECT_EQ(iges.status, 0) << iges.err;
    EXPECT_EQ(warningLines(iges.err), "xvelm: warning: " + doc.string() +
                                          ": body 0: the name \"Bracket \xe2\x86\x92 A\" holds characters IGES "
                                          "cannot carry; written as \"Bracket ? A\"\n")
        << iges.err;
    const convert_run::ConvertRun step = convert_run::runConvert(doc.string(), (dir / "named.step").string());
    EXPECT_EQ(step.status, 0) << step.err;
    EXPECT_EQ(warningLines(step.err), "");
    fs::remove_all(dir);
}

// A healing note of an import that succeeded: told once a run, for the
// import verb and the conversion alike.
TEST(RunWarnings, ImportAndConvertTellTheHealingsNotes)
{
    const fs::path dir = convert_run::convertScratch();
    const fs::path doc = dir / "bodies.json", saved = dir / "bodies.vlt";
    ASSERT_EQ(convert_run::runConvert(std::string(XVELM_EXAMPLES_DIR) + "/shapes.vlt", doc.string()).status, 0);
    const RetiredVariableSet retired;
    const std::string note = "xvelm: warning: " + doc.string() + ": The deprecated environment variable "
                             "QEL_ExtendSplSurf has been omitted.";
    {
        std::unique_ptr<FILE, int (*)(FILE*)> out(std::tmpfile(), &std::fclose), err(std::tmpfile(), &std::fclose);
        EXPECT_EQ(xvelm::importNeutral(doc.c_str(), saved.c_str(), out.get(), err.get()), 0);
        const std::string told = warningLines(convert_run::streamText(err.get()));
        EXPECT_EQ(told.rfind(note, 0), 0u) << told;
        EXPECT_EQ(std::count(told.begin(), told.end(), '\n'), 1) << told;
    }
    const convert_run::ConvertRun run = convert_run::runConvert(doc.string(), (dir / "healed.vlt").string());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(warningLines(run.err).rfind(note, 0), 0u) << run.err;
    // Not healed, no note.
    const convert_run::ConvertRun plain = convert_run::runConvert(doc.string(), (dir / "plain.vlt").string(), "off");
    EXPECT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(warningLines(plain.err), "");
    fs::remove_all(dir);
}

// A document's groups and layer filters reach a kernel save file, but a
// B-rep export (a neutral document, a STEP file) hands on bodies alone: it
// says what it left behind rather than dropping them without a word.
TEST(RunWarnings, ExportsTellOfTheGroupsAndFiltersTheyLeaveBehind)
{
    using qelx_test::wordOf;
    const fs::path dir = convert_run::convertScratch();
    qelx_test::TestModel m = qelx_test::TestModel::block(1, 2, 3);
    m.attributes[wordOf(qelx_test::KindBody, 0)].layer = 4;
    m.layers[4] = qelx_test::TestLayer{"Glass", {0, 0, 1, 1}, false};
    m.layerFilters = {{"Seen", 1, {4}, true}};
    m.groups = {{"Sides", {wordOf(qelx_test::KindFace, 0), wordOf(qelx_test::KindFace, 1)}, true}};
    const fs::path doc = dir / "grouped.json", saved = dir / "grouped.vlt";
    std::ofstream(doc, std::ios::binary) << qelx_formats::writeNeutralText(m);
    const std::string left = "not carried by the B-rep export, left behind: the document's 1 group or note, 1 layer filter\n";

    const convert_run::ConvertRun kept = convert_run::runConvert(doc.string(), saved.string());
    ASSERT_EQ(kept.status, 0) << kept.err;
    EXPECT_EQ(warningLines(kept.err), "");
    const convert_run::ConvertRun step = convert_run::runConvert(doc.string(), (dir / "grouped.step").string());
    EXPECT_EQ(step.status, 0) << step.err;
    EXPECT_EQ(warningLines(step.err), "xvelm: warning: " + doc.string() + ": " + left);
    std::unique_ptr<FILE, int (*)(FILE*)> out(std::tmpfile(), &std::fclose), err(std::tmpfile(), &std::fclose);
    EXPECT_EQ(xvelm::exportNeutral(saved.c_str(), (dir / "back.json").c_str(), out.get(), err.get()), 0);
    EXPECT_EQ(warningLines(convert_run::streamText(err.get())), "xvelm: warning: " + saved.string() + ": " + left);
    fs::remove_all(dir);
}

// Names and colours of edges and vertices reach a kernel save file and a
// neutral document, but a STEP or IGES file carries those of bodies and
// faces alone: the conversion says how many it left out, once a kind.
TEST(RunWarnings, ConvertTellsOfEdgeAndVertexAttributesCadFilesLeaveOut)
{
    using qelx_test::wordOf;
    const fs::path dir = convert_run::convertScratch();
    qelx_test::TestModel m = qelx_test::TestModel::block(1, 2, 3);
    m.attributes[wordOf(qelx_test::KindEdge, 0)].name = "Rim";
    m.attributes[wordOf(qelx_test::KindEdge, 3)].color = std::array<double, 4>{1.0, 0.0, 0.0, 0.0};
    m.attributes[wordOf(qelx_test::KindVertex, 2)].name = "Corner";
    m.attributes[wordOf(qelx_test::KindFace, 1)].name = "Lid"; // carried
    const fs::path doc = dir / "marked.json";
    std::ofstream(doc, std::ios::binary) << qelx_formats::writeNeutralText(m);
    for (const char* format : {"STEP", "IGES"}) {
        SCOPED_TRACE(format);
        const fs::path out = dir / (std::string("marked.") + (format[0] == 'S' ? "step" : "igs"));
        const convert_run::ConvertRun run = convert_run::runConvert(doc.string(), out.string());
        EXPECT_EQ(run.status, 0) << run.err;
        const std::string in = "xvelm: warning: " + doc.string() + ": the names, colours and layers of ";
        const std::string carries = std::string(" are not written: ") + format + " carries those of bodies and faces only\n";
        EXPECT_EQ(warningLines(run.err), in + "2 edges" + carries + in + "1 vertex" + carries) << run.err;
    }
    for (const char* kept : {"marked.vlt", "again.json"}) {
        const convert_run::ConvertRun run = convert_run::runConvert(doc.string(), (dir / kept).string());
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(warningLines(run.err), "") << kept;
    }
    fs::remove_all(dir);
}
