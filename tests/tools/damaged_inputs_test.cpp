// Damaged STEP and BREP files that once crashed the conversion or made a
// file the kernel refused to read back (reproducers of scripts/fuzz.py, one
// edit each to a sound file): each is now refused with one line naming it,
// or converted to a file that restores.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include <nlohmann/json.hpp>

#include "convert_run.hxx"
#include "qelx_formats/cad_samples.hxx"

namespace {

namespace fs = std::filesystem;
using convert_run::ConvertRun;

std::string fileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

// One edit of a sound file: the first `from` replaced by `to`.
struct Edit {
    std::string from, to;
};

TEST(DamagedInputs, AreRefusedWithOneLineOrConvertedWhole)
{
    const fs::path dir = convert_run::convertScratch();
    const std::string bracket = std::string(XVELM_EXAMPLES_DIR) + "/bracket.step";
    const std::string shapes = std::string(XVELM_EXAMPLES_DIR) + "/shapes.vlt";
    const std::string samples = std::string(cad_samples::SampleFolder) + "/occ/";
    // The bracket as Open CASCADE writes it in IGES (its faces' loops are
    // entities 508, the first of four edges).
    const std::string iges = (dir / "bracket.igs").string();
    ASSERT_EQ(convert_run::runConvert(bracket, iges).status, 0);
    struct Case {
        const char* what;
        std::string seed;
        Edit edit;
        const char* refusal; // null: converts
    };
    const Case cases[] = {
        // Open CASCADE's own checks followed the edge's references for ever.
        {"an oriented edge that is its own edge element", bracket,
         {"#20 = ORIENTED_EDGE('',*,*,#21,", "#20 = ORIENTED_EDGE('',*,*,#20,"},
         "entity #20 refers to itself through its references"},
        // Open CASCADE's healing of the read loop grew with a power of its length.
        {"a loop listing one edge twice", bracket, {"#139 = EDGE_LOOP('',(#140,", "#139 = EDGE_LOOP('',(#140,#140,"},
         "entity #139 lists one of its parts more than once"},
        // Open CASCADE's reader read (and reported missing) as many edges as
        // the loop's count said.
        {"an IGES loop counting millions of edges", iges,
         {"\n508,4,0,17,1,0,0,0,17,2,0,0,0,17,3,1,0,0,17,4,1,0;        ",
          "\n508,5000000,0,17,1,0,0,0,17,2,0,0,0,17,3,1,0,0,17,4,1,0;  "},
         "an integer 5000000 in the parameter data"},
        // Open CASCADE's reader built a trimmed curve over the null it made of
        // an unknown curve type and read through it.
        {"a trimmed curve over a curve of no known type", samples + "wedge_ok.brep",
         {"\n1 0 0 0 1 0 0 \n", "\n8 0 1\n99 0 0 0 1 0 0 \n"}, "damaged: "},
        // Open CASCADE's reader told what it missed on standard output.
        {"a BREP file without its curve table", samples + "face1.brep", {"\nCurves 4\n", "\nCurvez 4\n"},
         "not a readable BREP file"},
        // A face record without its surface line: the reader's walk read the
        // face's surface through the null it got.
        {"a BREP face that lost its surface", samples + "solid.brep", {"Fa\n0  1e-007 1 0\n2  9\n", "Fa\n2  9\n"},
         "a face without a surface"},
        // The pcurve's range ran backwards: its spline's knots fell, and the
        // save file written could not be read back.
        {"a pcurve range that runs backwards", samples + "Room.brep", {"\n1  1 0 0 300\n", "\n1  1 0 0 -2147483648\n"},
         "whose parameter range does not run forwards"},
        // A plane's u direction near the largest real: trimming the curves on
        // it for an IGES file never ended; a normal twice as long as a unit.
        {"a plane scaled beyond any model", shapes, {"-27 plane 2 surface 1 $-1 0 0 0 30 0 0 1 1 0 0 ",
                                                      "-27 plane 2 surface 1 $-1 0 0 0 30 0 0 1 -1e308 0 0 "},
         "record 27 (plane), field 16: a scaling vector of no length or beyond any model"},
        {"a plane whose normal is not a unit", shapes, {"-27 plane 2 surface 1 $-1 0 0 0 30 0 0 1 ",
                                                         "-27 plane 2 surface 1 $-1 0 0 0 30 0 0 2 "},
         "record 27 (plane), field 13: a direction that is not of unit length"},
        // A vertex far off its edges: the tolerance repair replaced a closed
        // edge's vertex and then read the one it had freed.
        {"a vertex far off its edges", bracket,
         {"#602 = CARTESIAN_POINT('',(28.,20.,0.));", "#602 = CARTESIAN_POINT('',(28.,2147483647,0.));"}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string text = fileText(c.seed);
        if (text.empty() && c.seed.rfind(cad_samples::SampleFolder, 0) == 0)
            continue; // the samples are not installed
        const std::size_t at = text.find(c.edit.from);
        ASSERT_NE(at, std::string::npos) << c.seed;
        text.replace(at, c.edit.from.size(), c.edit.to);
        const fs::path in = dir / ("damaged" + fs::path(c.seed).extension().string());
        const fs::path out = dir / "out.vlt";
        std::ofstream(in, std::ios::binary) << text;
        // Nothing reaches standard output but the driver's summary.
        std::ostringstream spoken;
        std::streambuf* const saved = std::cout.rdbuf(spoken.rdbuf());
        const ConvertRun run = convert_run::runConvert(in.string(), out.string());
        std::cout.rdbuf(saved);
        EXPECT_EQ(spoken.str(), "");
        if (c.refusal) {
            EXPECT_EQ(run.status, 1) << run.out;
            EXPECT_EQ(convert_run::driverMessages(run.err), 1) << run.err;
            const std::string line = convert_run::lastLine(run.err);
            EXPECT_EQ(line.rfind("xvelm: " + in.string() + ": ", 0), 0u) << line;
            EXPECT_NE(line.find(c.refusal), std::string::npos) << line;
            EXPECT_FALSE(fs::exists(out));
        } else {
            ASSERT_EQ(run.status, 0) << run.err;
            // The file written restores.
            xvelm::restored_model back;
            std::FILE* sink = std::tmpfile();
            EXPECT_TRUE(xvelm::restore_file(out.string().c_str(), back.top, back.every, sink));
            std::fclose(sink);
            EXPECT_GT(back.top.count(), 0);
        }
        fs::remove(in);
        fs::remove(out);
    }
    fs::remove_all(dir);
}

// A control point near the largest real: the tolerances healing works out
// overflow. The conversion fails with one line, or what it saves restores.
TEST(DamagedInputs, ANeutralDocumentWhoseTolerancesOverflowIsNeverSavedUnreadable)
{
    const fs::path dir = convert_run::convertScratch();
    const std::string doc = (dir / "shapes.json").string();
    ASSERT_EQ(convert_run::runConvert(std::string(XVELM_EXAMPLES_DIR) + "/shapes.vlt", doc).status, 0);
    nlohmann::json model = nlohmann::json::parse(fileText(doc));
    ASSERT_GT(model["curves"].size(), 19u);
    model["curves"][19]["controlPoints"][6] = -1e308;
    std::ofstream(doc, std::ios::binary) << model.dump();
    const fs::path out = dir / "out.vlt";
    const ConvertRun run = convert_run::runConvert(doc, out.string());
    if (run.status == 0) {
        xvelm::restored_model back;
        std::FILE* sink = std::tmpfile();
        EXPECT_TRUE(xvelm::restore_file(out.string().c_str(), back.top, back.every, sink));
        std::fclose(sink);
    } else {
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(convert_run::driverMessages(run.err), 1) << run.err;
        EXPECT_NE(convert_run::lastLine(run.err).find(doc), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(out));
    }
    fs::remove_all(dir);
}
