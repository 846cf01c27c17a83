// Damaged STEP, IGES, BREP files and neutral documents that once crashed the
// conversion, made a file the kernel refused to read back or a file Open
// CASCADE's reader finds not valid (reproducers of scripts/fuzz.py, one edit
// each to a sound file): each is now refused with one line naming it, or
// converted to a file that restores.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "convert_run.hxx"
#include "../../tools/xvelm/info.hxx"
#include "../../tools/xvelm/roundtrip_verb.hxx"
#include "support/model_builders.hxx"
#include "velm/errors.hxx"
#include "velm/memory.hxx"
#include "velm/save.hxx"
#include "velm/topology_api.hxx"
#include "qelx_formats/cad_samples.hxx"

namespace {

namespace fs = std::filesystem;
using convert_run::ConvertRun;
using convert_run::fileText;

} // namespace

// One edit of a sound file: the first `from` replaced by `to`.
struct Edit {
    std::string from, to;
};

// A run that must be refused: status 1, one driver line naming the input and
// saying `refusal`, no output file, nothing on standard output.
void expectRefused(const fs::path& in, const fs::path& out, const char* refusal)
{
    std::ostringstream spoken;
    std::streambuf* const saved = std::cout.rdbuf(spoken.rdbuf());
    const ConvertRun run = convert_run::runConvert(in.string(), out.string());
    std::cout.rdbuf(saved);
    EXPECT_EQ(spoken.str(), "");
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_EQ(convert_run::driverMessages(run.err), 1) << run.err;
    const std::string line = convert_run::lastLine(run.err);
    EXPECT_TRUE(line.rfind("xvelm: " + in.string() + ": ", 0) == 0 ||
                line.rfind("xvelm: converting " + in.string() + " failed: ", 0) == 0 ||
                line.rfind("xvelm: importing " + in.string() + " failed: ", 0) == 0)
        << line;
    EXPECT_NE(line.find(refusal), std::string::npos) << line;
    EXPECT_FALSE(fs::exists(out));
}

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
    // The bracket as a neutral document (its sixth vertex at (55, 0, 12)).
    const std::string json = (dir / "bracket.json").string();
    ASSERT_EQ(convert_run::runConvert(bracket, json).status, 0);
    // Two bodies as a neutral document (coedge 14, of a sheet's loop, on edge 11).
    const std::string twoBodies = (dir / "two_bodies.json").string();
    ASSERT_EQ(convert_run::runConvert(std::string(XVELM_EXAMPLES_DIR) + "/two_bodies.vlt", twoBodies).status, 0);
    // The wedge and a face of a cylinder as Open CASCADE writes them in IGES
    // (the face's pcurves as degree-one spline curves), and the face as a
    // neutral document (its third curve an arc of the cylinder's) and in
    // STEP (its last pcurve's end point #85).
    const std::string wedge = (dir / "wedge.igs").string(), face = (dir / "face.igs").string();
    const std::string faceDoc = (dir / "face.json").string(), faceStep = (dir / "face.step").string();
    if (fs::exists(samples + "wedge_ok.brep")) {
        ASSERT_EQ(convert_run::runConvert(samples + "wedge_ok.brep", wedge).status, 0);
        ASSERT_EQ(convert_run::runConvert(samples + "face1.brep", face).status, 0);
        ASSERT_EQ(convert_run::runConvert(samples + "face1.brep", faceDoc).status, 0);
        ASSERT_EQ(convert_run::runConvert(samples + "face1.brep", faceStep).status, 0);
    }
    struct Case {
        const char* what;
        std::string seed;
        Edit edit;
        const char* refusal;      // null: converts
        const char* out = ".vlt"; // the kind written
        bool cutAfter = false;    // the text after the edit dropped (a file cut short)
        bool asTheSeed = false;   // converted, it measures as the undamaged seed does
    };
    const Case cases[] = {
        // Open CASCADE's own checks followed the edge's references for ever.
        {"an oriented edge that is its own edge element", bracket,
         {"#20 = ORIENTED_EDGE('',*,*,#21,", "#20 = ORIENTED_EDGE('',*,*,#20,"},
         "entity #20 refers to itself through its references"},
        // Open CASCADE's transfer of the edge went through a null (the process ended).
        {"a surface curve on no pcurve or surface", bracket,
         {"#26 = SURFACE_CURVE('',#27,(#31,#43),", "#26 = SURFACE_CURVE('',#27,(),"},
         "entity #26 is a surface curve that names no pcurve or surface it lies on"},
        // Open CASCADE's healing of the read loop grew with a power of its length.
        {"a loop listing one edge twice", bracket, {"#139 = EDGE_LOOP('',(#140,", "#139 = EDGE_LOOP('',(#140,#140,"},
         "entity #139 lists one of its parts more than once"},
        // A surface model listing its shell thousands of times: the transfer
        // made a shell of each and sewed them, for longer than any limit.
        {"a STEP surface model listing its shell many times", faceStep,
         {"#15 = SHELL_BASED_SURFACE_MODEL('',(#16));", "#15 = SHELL_BASED_SURFACE_MODEL('',(#16,#16,#16));"},
         "entity #15 lists one of its parts more than once"},
        // Open CASCADE's reader read (and reported missing) as many edges as
        // the loop's count said.
        {"an IGES loop counting millions of edges", iges,
         {"\n508,4,0,17,1,0,0,0,17,2,0,0,0,17,3,1,0,0,17,4,1,0;        ",
          "\n508,5000000,0,17,1,0,0,0,17,2,0,0,0,17,3,1,0,0,17,4,1,0;  "},
         "directory entry D15 (parameter line P9): an integer 5000000"},
        // Open CASCADE's transfer read through the null it got for the 43rd
        // edge of a list of 16, and what it had made leaked as its fault
        // was thrown.
        {"an IGES loop naming an edge its list does not hold", iges, {"\n508,4,0,17,1,0,0,0,17,2,0,0,0,17,3,1,0,0,17,4,1,0;        ",
          "\n508,4,0,17,43,0,0,0,17,2,0,0,0,17,3,1,0,0,17,4,1,0;       "},
         "names an edge or vertex its list does not hold"},
        // A text where a face's loop count belongs: Open CASCADE's reader
        // made the face without its loop array and read it (the process
        // ended).
        {"an IGES face whose loop count is a text", iges,
         {"\n510,7,1,1,15;                                                    0000005P0000004",
          "\n510,7,3Hab,1,15;                                                 0000005P0000004"},
         "directory entry D5 (parameter line P4): a text in the parameter data of a type that holds none"},
        // A loop edge's list pointer of 0: Open CASCADE's parameter reader
        // asked the null for its kind (the process ended).
        {"an IGES loop edge in no list", iges,
         {"\n508,4,0,17,1,0,0,0,17,2,0,0,0,17,3,1,0,0,17,4,1,0;        ",
          "\n508,4,0,17,1,0,0,0,17,2,0,0,0,0,3,1,0,0,17,4,1,0;         "},
         "a loop whose edges do not each name the list they are in"},
        // A loop edge's list pointer past the directory: as with 0, the
        // parameter reader asked the null it got for its kind.
        {"an IGES loop edge in a list past the directory", iges,
         {"\n508,4,0,17,1,0,0,0,17,2,0,0,0,17,3,1,0,0,17,4,1,0;        ",
          "\n508,4,0,17,1,0,0,0,17,2,0,0,0,901,3,1,0,0,17,4,1,0;       "},
         "a loop whose edges do not each name the list they are in"},
        // An even pointer names the second line of a directory entry: the
        // same null.
        {"an IGES loop edge in a list an even pointer names", face,
         {"\n508,4,0,15,1,0,1,0,29,0,15,2,0,1,0,31,0,15,3,1,1,0,33,0,15,4,1,  ",
          "\n508,4,0,2,1,0,1,0,29,0,15,2,0,1,0,31,0,15,3,1,1,0,33,0,15,4,1,   "},
         "a loop whose edges do not each name the list they are in"},
        // Cut short after the face's first pcurve: the reader built the
        // other three spline entries of no parameters over arrays it never
        // made (it read through them in a surface's, and leaked them here).
        {"an IGES file cut short in its parameter data", face,
         {"4.459708725,0.,0.,1.;                                            0000029P",
          "4.459708725,0.,0.,1.;                                            0000029P"},
         "directory entry D31 ", ".vlt", true},
        // A parameter line's pointer pushed left out of its columns: the
        // reader gives the line to no entity, so its spline is short of the
        // values the check counted for it (in a longer spline, the reader
        // built it over arrays it never made and the process ended).
        {"an IGES parameter line naming no entry", face,
         {"-104.477512186,-0.8,0.,1.823476582, 0000029P", "-104.48,-0.8,0.,1.823476582,0000029        P"},
         "parameter line P18 names no directory entry"},
        // The edge list's entry made the null type over its data: a loop
        // naming it read through what the reader made of it.
        {"an IGES edge list's entry of the null type", face,
         {"     504       9       0       0       0       0       0       000010001D0000015\n     504",
          "       0       9       0       0       0       0       0       000010001D0000015\n       0"},
         "directory entry D13 (parameter line P8): a loop whose edges do not each name the list they are in"},
        // A pcurve point billions of turns round the cylinder: Open
        // CASCADE's transfer projected onto it span by span (for ever in
        // one frame; in this one it gave up and leaked what it had made).
        {"a STEP pcurve billions of turns round its cylinder", faceStep,
         {"#85 = CARTESIAN_POINT('',(-4.459708725243,-0.8));", "#85 = CARTESIAN_POINT('',(2147483647,-0.8));"},
         "is a pcurve more turns round its surface than any model makes"},
        // Open CASCADE's transfer of the face broke off, and the 2-D splines
        // it had made of the face's other pcurves leaked.
        {"a STEP pcurve whose representation holds no curve", bracket,
         {"#37 = DEFINITIONAL_REPRESENTATION('',(#38),", "#37 = DEFINITIONAL_REPRESENTATION('',(),"},
         "entity #31 is a pcurve whose representation holds no curve"},
        {"a STEP pcurve whose representation holds a point", bracket,
         {"#37 = DEFINITIONAL_REPRESENTATION('',(#38),", "#37 = DEFINITIONAL_REPRESENTATION('',(#28),"},
         "entity #31 is a pcurve whose representation holds no curve"},
        // A spline curve's degree beyond its values: Open CASCADE's parameter
        // reader left its arrays null and built the curve over them (a fault
        // outside any handler of its own: the process ended).
        {"an IGES spline curve of degree 65536", face,
         {"\n126,1,1,1,0,1,0,1.823476582,1.823476582,4.459708725,4.459708725, 0000029P",
          "\n126,1,65536,1,0,1,0,1.823476582,1.823476582,4.459708725,4.4597,  0000029P"},
         "directory entry D29 (parameter line P19): a spline whose degree or counts its values do not fill"},
        // A coordinate written past the largest real: Open CASCADE's readers
        // took it as infinite and its curve constructions never ended.
        {"an IGES line ending at an infinite coordinate", iges,
         {"\n110,0.,5.,12.,0.,35.,12.;        ", "\n110,0.,5.,12.,0.,1.E999,12.;     "},
         "directory entry D19 (parameter line P17): a real 1.E999 that is not a finite number"},
        // A circle's end near the largest real: Open CASCADE's healing of
        // the wire overflowed and leaked the splines it had made.
        {"an IGES arc ending near the largest real", iges,
         {"\n100,0.,0.,0.,-5.,0.,0.,-5.;     ", "\n100,0.,0.,0.,-5.,1.0D200,0.,-5.;"},
         "directory entry D41 (parameter line P33): a real 1.0D200 beyond any model", ".brep"},
        {"a STEP point at an infinite coordinate", bracket,
         {"#28 = CARTESIAN_POINT('',(0.,0.,12.));", "#28 = CARTESIAN_POINT('',(0.,0.,-1.E999));"},
         "a real -1.E999 that is not a finite number"},
        // Open CASCADE's reader built a trimmed curve over the null it made of
        // an unknown curve type and read through it.
        {"a trimmed curve over a curve of no known type", samples + "wedge_ok.brep",
         {"\n1 0 0 0 1 0 0 \n", "\n8 0 1\n99 0 0 0 1 0 0 \n"}, "damaged: "},
        // Open CASCADE's reader made each array as long as its count before
        // reading a value of it: tens of gigabytes for these files of a few
        // kilobytes.
        {"a BREP spline curve of two billion knots", samples + "wing.brep",
         {"\n7 0 0  1 2 2  3.35", "\n7 0 0  1 2 2147483647  3.35"},
         "a count 2147483647 in the BREP Curves table, more values than the rest of the file holds"},
        {"a BREP spline surface of 60,000 by 60,000 poles", samples + "wing.brep",
         {"\n9 0 0 0 0 7 1 8 2 2 2 3.35", "\n9 0 0 0 0 7 1 60000 60000 2 2 3.35"},
         "more values than the rest of the file holds"},
        {"a BREP triangulation of two billion nodes", samples + "Room.brep",
         {"\nTriangulations 6\n4 2 1 ", "\nTriangulations 6\n2147483647 2 1 "},
         "a count 2147483647 in the BREP Triangulations table, more values than the rest of the file holds"},
        // An edge's range to the largest real: imported whole, and written
        // into a neutral document whose reader refuses it.
        {"a BREP edge range to the largest real", samples + "face1.brep",
         {"\n1  2 0 0 0.8\n", "\n1  2 0 0 1.7976931348623157e308\n"},
         "a real 1.7976931348623157e308 in the BREP text beyond any model", ".json"},
        // The same written out in digits, without an exponent.
        {"a BREP edge range of 120 digits", samples + "face1.brep",
         {"\n1  2 0 0 0.8\n", "\n1  2 0 0 1" + std::string(119, '0') + "\n"},
         "in the BREP text beyond any model", ".json"},
        // Open CASCADE's reader told what it missed on standard output, and
        // stopped where the table should begin.
        {"a BREP file without its curve table", samples + "face1.brep", {"\nCurves 4\n", "\nCurvez 4\n"},
         "damaged: line 32: "},
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
        // The export wrote the range into a document its reader refuses.
        {"a save file's edge range that runs backwards", shapes,
         {"-49 edge 1 $-1 0 $51 $71 $32 $72 0 9 1 0 7.0710678118654755 0 #",
          "-49 edge 1 $-1 0 $51 $71 $32 $72 0 9 1 0 -2147483648 0 #"},
         "record 49 (edge), field 14: a parameter range that runs backwards", ".json"},
        {"a plane whose normal is not a unit", shapes, {"-27 plane 2 surface 1 $-1 0 0 0 30 0 0 1 ",
                                                         "-27 plane 2 surface 1 $-1 0 0 0 30 0 0 2 "},
         "record 27 (plane), field 13: a direction that is not of unit length"},
        // A vertex far off its edges: the tolerance repair replaced a closed
        // edge's vertex and then read the one it had freed. Then the healing
        // left the vertex that far off with a tolerance of a thousandth (its
        // step was taken back: the tolerant vertices it made fell short of
        // their pcurves' ends) and the verdict refused the body; now the
        // vertex goes back where its edges end and the STEP file is valid.
        {"a vertex far off its edges", bracket,
         {"#602 = CARTESIAN_POINT('',(28.,20.,0.));", "#602 = CARTESIAN_POINT('',(28.,9999999,0.));"}, nullptr,
         ".step"},
        // Past ten kilometres, beyond any model (the writers' tolerances are
        // finer than the doubles there).
        {"a vertex beyond any model", bracket,
         {"#602 = CARTESIAN_POINT('',(28.,20.,0.));", "#602 = CARTESIAN_POINT('',(28.,2147483647,0.));"},
         "entity #602: a point at y = 2147483647, beyond any model", ".step"},
        // The healing widened the vertex's tolerance to its distance: valid as
        // the kernel and a BREP file hold it, but IGES holds no tolerances and
        // its face came back unorientable, the file written as a success. Now
        // the vertex goes back to where its edges' curves end.
        {"a neutral vertex far off its edges", json,
         {"{\"id\":6,\"xyz\":[55.0,-8.881784197001e-16,12.0]}", "{\"id\":6,\"xyz\":[55.0,9999999,12.0]}"},
         nullptr},
        {"a neutral vertex beyond any model", json,
         {"{\"id\":6,\"xyz\":[55.0,-8.881784197001e-16,12.0]}", "{\"id\":6,\"xyz\":[55.0,2147483647,12.0]}"},
         "/points/5/xyz/1: a point at y = 2147483647, beyond any model"},
        // An edge's pcurve record swapped for another edge's curve: the
        // healing left a face's wires crossing (each other, or one itself
        // once its jump at a pole is closed), and the IGES and BREP files
        // were written; then the writers refused the face. The edge's curve
        // runs a unit from its pcurve on a model about a hundred across:
        // refused as it is read, naming the edge.
        {"a BREP edge on another edge's curve, into IGES", samples + "fuse.brep",
         {"\n1  6 0 0 1\n2  11 2 0 0 1\n", "\n1  6 0 0 1\n1  17 0 0 1\n"},
         "damaged: edge 6 (line 292): its curve runs 1 from its curve on the surface of face 3", ".igs"},
        {"a BREP edge on another edge's curve, into BREP", samples + "fuse.brep",
         {"\n1  6 0 0 1\n2  11 2 0 0 1\n", "\n1  6 0 0 1\n1  17 0 0 1\n"},
         "damaged: edge 6 (line 292): its curve runs ", ".brep"},
        // A line or a spline pole of a holed plate's edge moved across the
        // plate (along it, or off it): the edge's curve ran far from its
        // pcurve, which the file says shares its parameter. The healing
        // could not bring them together: the STEP text written of the
        // line's plate read back held other faces than the one written, and
        // was refused by the total area alone, naming no face (into BREP
        // too, the healed body judged as the STEP writer judges it); the
        // spline's STEP and IGES files were written, and Open CASCADE's
        // reader found them invalid. Moved a thousandth, a pole converts.
        {"a BREP plate's line moved across the plate, into STEP", samples + "face2.brep",
         {"\n1 177.897713052136 -105.059642617236 56 -1 0 0 \n", "\n1 177.897713052136 1e-320 56 -1 0 0 \n"},
         "damaged: edge 12 (line 463): its curve runs 105.06 from its curve on the surface of face 1", ".step"},
        {"a BREP plate's line moved across the plate, into BREP", samples + "face2.brep",
         {"\n1 177.897713052136 -105.059642617236 56 -1 0 0 \n", "\n1 177.897713052136 1e-320 56 -1 0 0 \n"},
         "damaged: edge 12 (line 463): its curve runs ", ".brep"},
        {"a BREP plate's other line moved off the plate, into IGES", samples + "face2.brep",
         {"\n1 255.73201357081 96.7582907449097 56 0 -1 0 \n", "\n1 -1e-300 96.7582907449097 56 0 -1 0 \n"},
         "damaged: edge 15 (line 511): its curve runs ", ".igs"},
        {"a BREP spline's pole moved across its plate, into STEP", samples + "face2.brep",
         {" 160.869696691339 31.9715933207095 55.9999999999998 ", " -4.9406564584124654e-324 31.9715933207095 55.9999999999998 "},
         "damaged: edge 21 (line 619): its curve runs ", ".step"},
        {"a BREP spline's pole moved off its plate, into IGES", samples + "face2.brep",
         {" 160.869696691339 31.9715933207095 55.9999999999998 ", " 160.869696691339 31.9715933207095 -55.9999999999998 "},
         "damaged: edge 21 (line 619): its curve runs ", ".igs"},
        {"a BREP spline's pole moved a thousandth, into STEP", samples + "face2.brep",
         {" 160.869696691339 31.9715933207095 55.9999999999998 ", " 160.870696691339 31.9715933207095 55.9999999999998 "},
         nullptr, ".step"},
        // The plate's outer wire emptied: the face of its holes alone came
        // back from the STEP text as six faces, and the refusal, by the total
        // area alone, named none; such a face on a plane is the rest of the
        // plane, and every writer refuses it before writing, naming it.
        {"a BREP plate whose outer wire is emptied, into STEP", samples + "face2.brep",
         {"\n0101000\n-66 2 -64 0 -62 2 -60 2 -58 20 -56 0 -54 20 -52 2 -50 20 -48 2 \n"
          "-46 2 +44 15 +42 15 +40 15 +38 15 +36 15 +35 15 *\n",
          "\n0101101\n*\n"},
         "body 0, face 0: its loops run round it as holes alone", ".step"},
        {"a BREP plate whose outer wire is emptied, into BREP", samples + "face2.brep",
         {"\n0101000\n-66 2 -64 0 -62 2 -60 2 -58 20 -56 0 -54 20 -52 2 -50 20 -48 2 \n"
          "-46 2 +44 15 +42 15 +40 15 +38 15 +36 15 +35 15 *\n",
          "\n0101101\n*\n"},
         "body 0, face 0: its loops run round it as holes alone", ".brep"},
        // A parameter line pointing back at another entity: the reader gave
        // it to that entity, and the healing widened a vertex's tolerance to
        // 12 on a wedge of 10, which a STEP file cannot carry; its reader's
        // face failed the check, the file written as a success. The line
        // lies in the lines its own entry's directory gives it, so it is
        // refused as the damage it is, naming the line.
        {"an IGES parameter line of another entity", wedge,
         {"0.,7.,10.,5.,7.,10.;                                             0000021P0000014",
          "0.,7.,10.,5.,7.,10.;                                             0000001P0000014"},
         "parameter line P14 names directory entry D1, whose lines are P1 to P1"},
        // An edge's range turned round: its pcurve's knots fell, and the save
        // file written as a success could not be read back.
        {"a neutral edge range that runs backwards", json,
         {"{\"id\":2,\"curve\":2,\"sense\":true,\"domain\":[5.0,35.0]",
          "{\"id\":2,\"curve\":2,\"sense\":true,\"domain\":[35.0,5.0]"},
         "/edges/1/domain: a parameter range that runs backwards"},
        // A coedge moved onto an edge whose partner ring does not hold it:
        // separating its face read the front of the empty ring it left.
        {"a neutral coedge on an edge that does not list it", twoBodies,
         {"{\"id\":14,\"loop\":4,\"edge\":11,", "{\"id\":14,\"loop\":4,\"edge\":5,"},
         "/edges/10/coedges/0: a coedge that does not name it back"},
        // A coedge twice in its loop: the conversion was written as a success
        // and what the import had made of the second leaked.
        {"a neutral coedge listed twice by its loop", json,
         {"\"vertex\":null,\"coedges\":[13]}", "\"vertex\":null,\"coedges\":[13,13]}"},
         "/coedges/12: listed 2 times by the loop it names"},
        // A curve's parameter scale near the largest real: fitting the pcurve
        // of its coedge onto the cylinder stepped through whole periods by
        // adding one to a count that adding one no longer changed, for ever;
        // then the whole import ran and only the kernel's save refused the
        // curve's overflowed numbers. Now the reading refuses it.
        {"a neutral curve scaled near the largest real", faceDoc,
         {"{\"id\":3,\"type\":\"ellipse\",\"parameterization\":{\"scale\":1.0,",
          "{\"id\":3,\"type\":\"ellipse\",\"parameterization\":{\"scale\":1e308,"},
         "/curves/2/parameterization: a number beyond any model"},
        // An edge running 65,535 times past its spline's knots: its length,
        // asked by the stitching, halved every piece of the range 20 times
        // over as the rounding of the spline far outside its knots never let
        // the sum settle. Now the length gives up, naming the edge, and
        // healing puts the edge's vertices back where its curve meets its
        // neighbours', bounding it anew there: the wing comes back whole.
        {"a BREP edge range 65,535 times its spline's", samples + "wing.brep", {"\n1  2 0 0 1\n", "\n1  2 0 0 65535\n"},
         nullptr, ".brep", false, true},
        // A line turned a little off its faces: the healing widened a vertex
        // to cover it, and the building closed each of two plane faces'
        // loops, jumping by that much in the parameter plane, with a
        // degenerate edge as if at a pole. The BREP file was written as a
        // success; a reader building its space curves made lines of them,
        // which its analyser refused. Now degenerate edges stand only where
        // the surface collapses.
        {"a BREP line turned off its faces, into BREP", samples + "Room.brep",
         {"\n1 0 400 0 1 0 -0 \n", "\n1 0 400 0 0.996544 0.00168 -0.004608 \n"}, nullptr, ".brep"},
        // A knot count written as a real: the count scan took the word for
        // no integer and left the file to Open CASCADE's reader, which read
        // its digits and asked for 16 GiB of knots.
        {"a BREP knot count written as a real", samples + "wing.brep",
         {"\n7 0 0  1 2 2  3.3500000000000001 ", "\n7 0 0  1 2 2147483647.0  3.3500000000000001 "},
         "a count 2147483647 in the BREP Curves table"},
        // The unit code was cast into the framework's unit as it stood.
        {"a neutral document of no known unit", json, {"\"unit\":1,", "\"unit\":65536,"},
         "/unit: unit 65536 is not a unit code"},
        // An edge between two vertices with no curve: the body was refused
        // naming the body alone.
        {"a neutral edge between two vertices with no curve", json,
         {"{\"id\":4,\"curve\":4,", "{\"id\":4,\"curve\":null,"},
         "body 0: not imported, entity has no geometry at edge 3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string text = fileText(c.seed);
        if (text.empty() && (c.seed.rfind(cad_samples::SampleFolder, 0) == 0 || c.seed == wedge || c.seed == face ||
                             c.seed == faceDoc || c.seed == faceStep))
            continue; // the samples are not installed
        const std::size_t at = text.find(c.edit.from);
        ASSERT_NE(at, std::string::npos) << c.seed;
        text.replace(at, c.edit.from.size(), c.edit.to);
        if (c.cutAfter)
            text.resize(text.find('\n', at + c.edit.to.size()) + 1);
        const fs::path in = dir / ("damaged" + fs::path(c.seed).extension().string());
        const fs::path out = dir / (std::string("out") + c.out);
        std::ofstream(in, std::ios::binary) << text;
        if (c.refusal) {
            expectRefused(in, out, c.refusal);
        } else {
            // Nothing reaches standard output but the driver's summary.
            std::ostringstream spoken;
            std::streambuf* const saved = std::cout.rdbuf(spoken.rdbuf());
            const ConvertRun run = convert_run::runConvert(in.string(), out.string());
            std::cout.rdbuf(saved);
            EXPECT_EQ(spoken.str(), "");
            ASSERT_EQ(run.status, 0) << run.err;
            if (std::string(c.out) == ".vlt") {
                // The file written restores.
                xvelm::restored_model back;
                std::FILE* sink = std::tmpfile();
                EXPECT_TRUE(xvelm::restore_file(out.string().c_str(), back.top, back.every, sink));
                std::fclose(sink);
                EXPECT_GT(back.top.count(), 0);
            } else {
                // Open CASCADE's reading of the file written finds it valid.
                const cad_samples::Measures m = cad_samples::measure(cad_samples::peerRead(out.string()));
                EXPECT_TRUE(m.valid);
                EXPECT_GT(m.faces, 0);
                if (c.asTheSeed) {
                    const cad_samples::Measures seed = cad_samples::measure(cad_samples::peerRead(c.seed));
                    EXPECT_EQ(m.faces, seed.faces);
                    EXPECT_LE(cad_samples::relativeGap(m.area, seed.area), 1e-6) << m.area << " " << seed.area;
                }
            }
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

namespace {

// The wing sample as a neutral document in a scratch folder; nothing when
// the samples are not installed.
struct WingDocument {
    fs::path dir, doc;
    nlohmann::json sound;
};

std::optional<WingDocument> wingDocument()
{
    const std::string wing = std::string(cad_samples::SampleFolder) + "/occ/wing.brep";
    if (!fs::exists(wing))
        return std::nullopt;
    WingDocument w{convert_run::convertScratch(), {}, {}};
    w.doc = w.dir / "wing.json";
    // Unhealed, the wing's four faces stay loose, each with its own edges.
    EXPECT_EQ(convert_run::runConvert(wing, w.doc.string(), "off").status, 0);
    w.sound = nlohmann::json::parse(fileText(w.doc.string()));
    return w;
}

} // namespace

// An edge moved onto another vertex: the vertex the edge left still listed
// it, and the healing read the edge through that list after it had replaced
// it (when a spline's multiplicity, made negative, had the healing replace
// it; the reader now refuses that spline itself). Refused as the reader
// meets either vertex.
TEST(DamagedInputs, ANeutralEdgeOnAVertexThatDoesNotListItIsRefused)
{
    const std::optional<WingDocument> wing = wingDocument();
    if (!wing)
        GTEST_SKIP() << "the samples are not installed";
    const fs::path &dir = wing->dir, &doc = wing->doc;
    const nlohmann::json& sound = wing->sound;
    ASSERT_GT(sound["edges"].size(), 14u);
    ASSERT_EQ(sound["edges"][14]["start"], 15);
    ASSERT_EQ(sound["vertices"][14]["edges"], nlohmann::json::parse("[14, 15]"));
    nlohmann::json model = sound;
    model["edges"][14]["start"] = 16;
    std::ofstream(doc, std::ios::binary) << model.dump();
    expectRefused(doc, dir / "out.igs", "/vertices/14/edges/1: an edge that does not start or end at it");
    // The edge left where it was, but taken off its start's list.
    model = sound;
    model["vertices"][14]["edges"].erase(1);
    std::ofstream(doc, std::ios::binary) << model.dump();
    expectRefused(doc, dir / "out.igs", "/edges/14/start: a vertex that does not list it");
    fs::remove_all(dir);
}

// A spline whose knots do not fit its degree and control points: the reader
// counted only that every knot had a multiplicity, and the spline went on to
// be evaluated with knots it does not have.
TEST(DamagedInputs, ANeutralSplineWhoseKnotsDoNotFitIsRefused)
{
    const std::optional<WingDocument> wing = wingDocument();
    if (!wing)
        GTEST_SKIP() << "the samples are not installed";
    const fs::path &dir = wing->dir, &doc = wing->doc;
    const nlohmann::json& sound = wing->sound;
    const nlohmann::json& curve = sound["curves"][1];
    ASSERT_EQ(curve["type"], "nurbs") << curve;
    ASSERT_EQ(curve["mults"].size(), 2u) << curve;
    const int degree = curve["degree"];
    struct Case {
        const char* what;
        const char* field;
        nlohmann::json value;
        const char* refusal;
    };
    const Case cases[] = {
        {"a multiplicity of no use", "mults", nlohmann::json::array({0, degree + 1}), "/curves/1/mults: a multiplicity outside"},
        {"one knot too few in all", "mults", nlohmann::json::array({degree, degree + 1}),
         "/curves/1/mults: multiplicities that do not add up"},
        {"knots that fall", "knots", nlohmann::json::array({1.0, 0.0}), "/curves/1/knots: knots that do not rise"},
        {"degree 0", "degree", 0, "/curves/1: a spline degree outside 1 .. 64"},
        {"a weight of 0", "weights", nullptr, "/curves/1/weights: a weight that is not positive"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        nlohmann::json model = sound;
        if (std::string(c.field) == "weights")
            model["curves"][1]["weights"] = std::vector<double>(curve["count"].get<std::size_t>(), 0.0);
        else
            model["curves"][1][c.field] = c.value;
        std::ofstream(doc, std::ios::binary) << model.dump();
        expectRefused(doc, dir / "out.vlt", c.refusal);
    }
    fs::remove_all(dir);
}

namespace {

// An IGES file of a line held by `depth` composite curves, each the only
// segment of the next.
std::string nestedCompositeCurves(int depth)
{
    std::vector<std::string> params = {"110,0.,0.,0.,1.,0.,0.;"};
    for (int i = 0; i < depth; ++i)
        params.push_back("102,1," + std::to_string(2 * i + 1) + ";");
    auto field = [](long v) {
        std::string f = std::to_string(v);
        return std::string(8 - f.size(), ' ') + f;
    };
    auto seq = [](char section, std::size_t n) {
        std::string f = std::to_string(n);
        return section + std::string(7 - f.size(), '0') + f + "\n";
    };
    const std::string global = ",,4Hdeep,9Hdeep.iges,4Hdeep,4Hdeep,32,308,15,308,15,,1.,2,2HMM,1,0.01,"
                               "15H20261207.174010,1E-07,60.,4Hroot,,11,0,15H20261207.174010,;";
    std::string text = std::string(72, ' ') + seq('S', 1);
    std::size_t g = 0;
    for (std::size_t at = 0; at < global.size(); at += 72)
        text += (global.substr(at, 72) + std::string(72, ' ')).substr(0, 72) + seq('G', ++g);
    for (std::size_t i = 0; i < params.size(); ++i) {
        const int type = i == 0 ? 110 : 102;
        // Every entity but the outermost is another's segment (subordinate).
        const std::string status = i + 1 < params.size() ? "00010000" : "00000000";
        text += field(type) + field(static_cast<long>(i) + 1) + field(0) + field(0) + field(0) + field(0) + field(0) +
                field(0) + status + seq('D', 2 * i + 1);
        text += field(type) + field(0) + field(0) + field(1) + field(0) + std::string(24, ' ') + field(0) +
                seq('D', 2 * i + 2);
    }
    for (std::size_t i = 0; i < params.size(); ++i)
        text += (params[i] + std::string(64, ' ')).substr(0, 64) + field(static_cast<long>(2 * i + 1)) + seq('P', i + 1);
    std::string terminate = "S      1G" + field(static_cast<long>(g)).substr(1) + "D" +
                            field(static_cast<long>(2 * params.size())).substr(1) + "P" +
                            field(static_cast<long>(params.size())).substr(1);
    return text + terminate + std::string(72 - terminate.size(), ' ') + seq('T', 1);
}

// A BREP file of a vertex held by `depth` compounds, each holding the one
// before; `topIsVertex` makes the file's shape the vertex alone (the chain
// is then held only by the reader's table of shapes).
std::string nestedCompounds(int depth, bool topIsVertex)
{
    std::string text = "DBRep_DrawableShape\n\nCASCADE Topology V1, (c) Matra-Datavision\nLocations 0\nCurve2ds 0\n"
                       "Curves 0\nPolygon3D 0\nPolygonOnTriangulations 0\nSurfaces 0\nTriangulations 0\n\nTShapes " +
                       std::to_string(depth + 1) + "\nVe\n1e-07\n0 0 0\n0 0\n\n0101101\n*\n";
    for (int i = 0; i < depth; ++i)
        text += "Co\n\n1100000\n+" + std::to_string(depth + 1 - i) + " 0 *\n";
    return text + "\n+" + std::to_string(topIsVertex ? depth + 1 : 1) + " 0 \n0\n";
}

// A STEP assembly `depth` levels deep: product k placed once in product
// k - 1, the innermost a part of one point.
std::string nestedAssembly(int depth)
{
    std::string text = "ISO-10303-21;\nHEADER;\nFILE_DESCRIPTION(('nested'),'2;1');\nFILE_NAME('nested.step',"
                       "'2026-12-07T00:00:00',(''),(''),'','','');\nFILE_SCHEMA(('AUTOMOTIVE_DESIGN { 1 0 10303 214 "
                       "1 1 1 1 }'));\nENDSEC;\nDATA;\n";
    int next = 100;
    const auto add = [&](const std::string& entity) {
        text += "#" + std::to_string(++next) + "=" + entity + ";\n";
        return "#" + std::to_string(next);
    };
    const std::string app = add("APPLICATION_CONTEXT('automotive design')");
    add("APPLICATION_PROTOCOL_DEFINITION('international standard','automotive_design',2000," + app + ")");
    const std::string product = add("PRODUCT_CONTEXT(''," + app + ",'mechanical')");
    const std::string definition = add("PRODUCT_DEFINITION_CONTEXT('part definition'," + app + ",'design')");
    const std::string mm = add("(LENGTH_UNIT() NAMED_UNIT(*) SI_UNIT(.MILLI.,.METRE.))");
    const std::string rad = add("(NAMED_UNIT(*) PLANE_ANGLE_UNIT() SI_UNIT($,.RADIAN.))");
    const std::string sr = add("(NAMED_UNIT(*) SI_UNIT($,.STERADIAN.) SOLID_ANGLE_UNIT())");
    const std::string accuracy =
        add("UNCERTAINTY_MEASURE_WITH_UNIT(LENGTH_MEASURE(1.E-07)," + mm + ",'distance_accuracy_value','')");
    const std::string context = add("(GEOMETRIC_REPRESENTATION_CONTEXT(3) GLOBAL_UNCERTAINTY_ASSIGNED_CONTEXT((" +
                                    accuracy + ")) GLOBAL_UNIT_ASSIGNED_CONTEXT((" + mm + "," + rad + "," + sr +
                                    ")) REPRESENTATION_CONTEXT('',''))");
    const std::string origin = add("CARTESIAN_POINT('',(0.,0.,0.))");
    const std::string frame = add("AXIS2_PLACEMENT_3D(''," + origin + "," + add("DIRECTION('',(0.,0.,1.))") + "," +
                                  add("DIRECTION('',(1.,0.,0.))") + ")");
    std::string outerDefinition, outerShape;
    for (int k = 0; k <= depth; ++k) {
        const std::string name = "'P" + std::to_string(k) + "'";
        const std::string formation =
            add("PRODUCT_DEFINITION_FORMATION('',''," + add("PRODUCT(" + name + "," + name + ",'',(" + product + "))") + ")");
        const std::string pd = add("PRODUCT_DEFINITION('design',''," + formation + "," + definition + ")");
        const std::string shape = add("PRODUCT_DEFINITION_SHAPE('',''," + pd + ")");
        const std::string rep =
            k < depth ? add("SHAPE_REPRESENTATION('',(" + frame + ")," + context + ")")
                      : add("GEOMETRICALLY_BOUNDED_WIREFRAME_SHAPE_REPRESENTATION('',(" + frame + "," +
                            add("GEOMETRIC_SET('',(" + add("CARTESIAN_POINT('',(1.,2.,3.))") + "))") + ")," + context +
                            ")");
        add("SHAPE_DEFINITION_REPRESENTATION(" + shape + "," + rep + ")");
        if (k > 0) {
            const std::string usage =
                add("NEXT_ASSEMBLY_USAGE_OCCURRENCE(" + name + ",'',''," + outerDefinition + "," + pd + ",$)");
            const std::string placement = add("ITEM_DEFINED_TRANSFORMATION('',''," + frame + "," + frame + ")");
            const std::string relation = add("(REPRESENTATION_RELATIONSHIP('',''," + rep + "," + outerShape +
                                             ") REPRESENTATION_RELATIONSHIP_WITH_TRANSFORMATION(" + placement +
                                             ") SHAPE_REPRESENTATION_RELATIONSHIP())");
            add("CONTEXT_DEPENDENT_SHAPE_REPRESENTATION(" + relation + "," +
                add("PRODUCT_DEFINITION_SHAPE('',''," + usage + ")") + ")");
        }
        outerDefinition = pd;
        outerShape = rep;
    }
    return text + "ENDSEC;\nEND-ISO-10303-21;\n";
}

} // namespace

// Chains far deeper than any model nests: Open CASCADE's transfer followed
// the IGES curves and the STEP assembly's levels, and freeing the BREP compounds freed each level by
// recursion, until the stack ran out and the process ended; the neutral
// document's nested value was copied by recursion. Each is now refused with
// one line before anything walks it.
TEST(DamagedInputs, ChainsDeeperThanAnyModelAreRefusedBeforeTheyAreWalked)
{
    const fs::path dir = convert_run::convertScratch();
    const std::string bracket = std::string(XVELM_EXAMPLES_DIR) + "/bracket.step";
    const std::string json = (dir / "bracket.json").string();
    ASSERT_EQ(convert_run::runConvert(bracket, json).status, 0);
    std::string nested = fileText(json);
    const std::size_t layers = nested.find("\"layers\":[");
    ASSERT_NE(layers, std::string::npos);
    nested.insert(layers + 10, std::string(100000, '[') + std::string(100000, ']') + ",");
    struct Case {
        const char* what;
        const char* name;
        std::string text;
        const char* refusal;
    };
    const Case cases[] = {
        {"IGES composite curves nested 20,000 deep", "curves.igs", nestedCompositeCurves(20000),
         "begins a chain of more than 200 references"},
        {"BREP compounds nested 100,000 deep", "nested.brep", nestedCompounds(100000, false),
         "shapes nested more than 200 deep"},
        {"BREP compounds nested 100,000 deep beside the file's shape", "beside.brep", nestedCompounds(100000, true),
         "shapes nested more than 200 deep"},
        {"a neutral document's layer nested 100,000 deep", "nested.json", nested,
         "nested more than 64 levels deep"},
        // Open CASCADE's transfer takes a product's components by recursion.
        {"a STEP assembly nested 5,000 levels deep", "nested.step", nestedAssembly(5000),
         "products placed in one another more than 100 levels deep"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path in = dir / c.name;
        std::ofstream(in, std::ios::binary) << c.text;
        expectRefused(in, dir / "out.vlt", c.refusal);
        fs::remove(in);
    }
    // At the bounds, a chain still converts.
    for (const auto& [name, text] : {std::pair<std::string, std::string>{"deepest.brep", nestedCompounds(199, false)},
                                     {"deepest.step", nestedAssembly(100)}}) {
        SCOPED_TRACE(name);
        const fs::path in = dir / name;
        std::ofstream(in, std::ios::binary) << text;
        const ConvertRun run = convert_run::runConvert(in.string(), (dir / "out.vlt").string());
        EXPECT_EQ(run.status, 0) << run.err;
    }
    fs::remove_all(dir);
}

// A save file a verb refuses (cut short at a seeded place, or a word made
// another) leaves no kernel object behind: the kernel's record of the failed
// restore went with the run's model. It was kept until the next kernel call
// in the process, so that a later test counting live objects from its start
// saw one freed.
TEST(DamagedInputs, ARefusedSaveFileLeavesNoKernelObjectBehind)
{
    ENTITY_LIST list;
    list.add(testkit::make_box(1, 2, 3));
    FILE* fp = std::tmpfile();
    ASSERT_TRUE(api_save_entity_list(fp, 1, list).ok());
    std::rewind(fp);
    std::string text;
    for (int c; (c = std::fgetc(fp)) != EOF;)
        text.push_back(static_cast<char>(c));
    std::fclose(fp);
    ASSERT_TRUE(api_del_entity_list(list).ok());
    const fs::path path = fs::temp_directory_path() / ("refused_restore_" + std::to_string(::getpid()) + ".vlt");
    std::mt19937 random(40);
    using Verb = int (*)(const char*, FILE*, FILE*);
    for (const Verb verb : {Verb(&xvelm::info), Verb(&xvelm::roundtrip)})
        for (int round = 0; round < 6; ++round) {
            std::string damaged = text;
            const std::size_t at = std::uniform_int_distribution<std::size_t>(text.size() / 4, text.size() - 2)(random);
            if (round % 2 == 0)
                damaged.resize(at);
            else
                damaged.replace(at, 1, "@");
            std::ofstream(path, std::ios::binary) << damaged;
            set_global_error_info(nullptr);
            const long objects = velm_live_object_count();
            std::unique_ptr<FILE, int (*)(FILE*)> out(std::tmpfile(), &std::fclose);
            std::unique_ptr<FILE, int (*)(FILE*)> err(std::tmpfile(), &std::fclose);
            const int status = verb(path.c_str(), out.get(), err.get());
            SCOPED_TRACE("round " + std::to_string(round) + ", status " + std::to_string(status));
            EXPECT_EQ(get_global_error_info(), nullptr);
            EXPECT_EQ(velm_live_object_count(), objects) << "a kernel object left behind";
        }
    fs::remove(path);
}

// A save file of no entities (a damaged one's counts set to nothing): the
// STEP and IGES writers could not transfer an empty model and the driver
// said so naming no place; it is refused as a file of nothing. A BREP file,
// a neutral document and a save file hold an empty model, and are written.
TEST(DamagedInputs, ASaveFileOfNothingIsRefusedAsSuchWhereTheFileCannotBeEmpty)
{
    const fs::path dir = convert_run::convertScratch();
    ENTITY_LIST none;
    FILE* fp = std::tmpfile();
    ASSERT_TRUE(api_save_entity_list(fp, 1, none).ok());
    std::rewind(fp);
    std::string text;
    for (int c; (c = std::fgetc(fp)) != EOF;)
        text.push_back(static_cast<char>(c));
    std::fclose(fp);
    const fs::path in = dir / "nothing.vlt";
    std::ofstream(in, std::ios::binary) << text;
    for (const char* kind : {".step", ".igs"}) {
        SCOPED_TRACE(kind);
        expectRefused(in, dir / (std::string("out") + kind), "failed: nothing in the file to write into ");
    }
    for (const char* kind : {".brep", ".json", ".vlt"}) {
        SCOPED_TRACE(kind);
        const fs::path out = dir / (std::string("out") + kind);
        EXPECT_EQ(convert_run::runConvert(in.string(), out.string()).status, 0);
        EXPECT_TRUE(fs::exists(out));
    }
    fs::remove_all(dir);
}
