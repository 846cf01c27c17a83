// An IGES file holding an empty solid beside sound ones (the peer's writer
// writes a solid of no shell as a manifold solid whose shell pointer is 0):
// the file reads as its sound solids, in every frame; a solid whose shell
// pointer names something other than a shell is still refused.
#include "../support/in_turn.hxx"
#include "cad_frames.hxx"
#include "cad_samples.hxx"
#include "qelx/qelx_test.hxx"
#include "qelx_formats/cad_file.hxx"

#include <BRepBuilderAPI_Transform.hxx>
#include <BRepGProp.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeSphere.hxx>
#include <BRep_Builder.hxx>
#include <GProp_GProps.hxx>
#include <IGESControl_Controller.hxx>
#include <IGESControl_Writer.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Solid.hxx>
#include <gp_Trsf.hxx>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <unistd.h>
#include <vector>

using namespace qelx_formats;
namespace fs = std::filesystem;

namespace {

fs::path scratch(const std::string& name)
{
    return fs::temp_directory_path() / ("iges_empty_solid_" + std::to_string(::getpid()) + "_" + name);
}

// A box, a whole sphere and an empty solid, moved by `frame`, written by the
// peer's IGES writer in its B-rep mode.
std::string peerIges(const gp_Trsf& frame)
{
    IGESControl_Controller::Init();
    BRep_Builder builder;
    TopoDS_Solid empty;
    builder.MakeSolid(empty);
    TopoDS_Compound all;
    builder.MakeCompound(all);
    builder.Add(all, BRepPrimAPI_MakeBox(2.0, 3.0, 4.0).Shape());
    builder.Add(all, BRepPrimAPI_MakeSphere(gp_Pnt(8.0, 1.0, 2.0), 1.5).Shape());
    builder.Add(all, empty);
    IGESControl_Writer writer("MM", 1);
    writer.AddShape(BRepBuilderAPI_Transform(all, frame, Standard_True).Shape());
    writer.ComputeModel();
    const fs::path path = scratch("peer.igs");
    EXPECT_TRUE(writer.Write(path.c_str()));
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    fs::remove(path);
    return text;
}

// The volumes of the solids a file reads as, written again as BREP and
// measured by the peer, smallest first.
std::vector<double> solidVolumes(const std::string& text, std::string& error)
{
    const fs::path in = scratch("in.igs"), out = scratch("out.brep");
    std::ofstream(in, std::ios::binary) << text;
    qelx_test::TestModel model;
    std::vector<double> volumes;
    if (readCadFile(in.string(), model, error) == QELI_OK && writeCadFile(model, out.string(), error) == QELI_OK)
        for (TopExp_Explorer s(cad_samples::peerRead(out.string()), TopAbs_SOLID); s.More(); s.Next()) {
            GProp_GProps props;
            BRepGProp::VolumeProperties(s.Current(), props, 1e-8);
            volumes.push_back(props.Mass());
        }
    fs::remove(in);
    fs::remove(out);
    std::sort(volumes.begin(), volumes.end());
    return volumes;
}

} // namespace

TEST(IgesEmptySolid, AnEmptySolidBesideABoxAndASphereReadsAsTheTwoInEveryFrame)
{
    const auto frames = cad_frames::threeFrames();
    const double sphere = 4.0 / 3.0 * M_PI * 1.5 * 1.5 * 1.5;
    for (std::size_t f = 0; f < frames.size(); ++f) {
        if (!in_turn::taken(0, f, frames.size()))
            continue;
        SCOPED_TRACE(frames[f].first);
        const std::string text = peerIges(frames[f].second);
        // The empty solid is there, as a solid whose shell pointer is 0.
        ASSERT_TRUE(std::regex_search(text, std::regex("\n186,0,")));
        std::string error;
        const std::vector<double> volumes = solidVolumes(text, error);
        ASSERT_EQ(volumes.size(), 2u) << error;
        EXPECT_NEAR(volumes[0], sphere, sphere * 1e-6);
        EXPECT_NEAR(volumes[1], 24.0, 24.0 * 1e-6);
    }
}

// The empty solid's shell pointer made to name an even entry, an entry past
// the directory, or the box's solid: refused naming the solid's entry.
TEST(IgesEmptySolid, ASolidWhoseShellPointerNamesNoShellIsRefusedNamingItsEntry)
{
    const std::string sound = peerIges(gp_Trsf());
    std::smatch solid, other;
    // The empty solid's parameter line, and the directory entry it belongs to.
    ASSERT_TRUE(std::regex_search(sound, solid, std::regex("\n186,0,([^\n]{40,}?)(\\d{7})P(\\d{7})")));
    ASSERT_TRUE(std::regex_search(sound, other, std::regex("\n186,[1-9]\\d*,[^\n]*?(\\d{7})P\\d{7}")));
    const std::string entry = std::to_string(std::stol(solid[2].str()));
    const std::string otherSolid = std::to_string(std::stol(other[1].str()));
    for (const std::string& pointer : {std::string("2"), std::string("99999"), otherSolid}) {
        SCOPED_TRACE("shell pointer " + pointer);
        std::string line = "186," + pointer + "," + solid[1].str();
        // Kept to its columns: the shell pointer widened, the blanks after the data narrowed.
        const std::size_t wider = pointer.size() - 1;
        const std::size_t blanks = line.find_last_not_of(' ') + 1;
        ASSERT_LE(wider, line.size() - blanks);
        line.erase(blanks, wider);
        std::string damaged = sound;
        damaged.replace(static_cast<std::size_t>(solid.position(0)) + 1, line.size(), line);
        std::string error;
        EXPECT_TRUE(solidVolumes(damaged, error).empty());
        EXPECT_NE(error.find("directory entry D" + entry + " (parameter line P"), std::string::npos) << error;
        EXPECT_NE(error.find("a solid whose shells are not shells"), std::string::npos) << error;
    }
}
