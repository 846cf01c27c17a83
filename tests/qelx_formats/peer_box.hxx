#pragma once
// A box as Open CASCADE writes it in each format: the sound file the
// damaged-file tests spoil.
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepTools.hxx>
#include <IGESControl_Controller.hxx>
#include <IGESControl_Writer.hxx>
#include <STEPControl_Writer.hxx>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace cad_samples {

// The box written at `dir`/`name` in the format the name ends with
// (.brep, .step, else IGES); its text.
inline std::string peerBox(const std::filesystem::path& dir, const std::string& name)
{
    const TopoDS_Shape box = BRepPrimAPI_MakeBox(gp_Pnt(1, 2, 3), 4.0, 5.0, 6.0).Shape();
    const std::string path = (dir / name).string();
    if (name.ends_with(".brep")) {
        EXPECT_TRUE(BRepTools::Write(box, path.c_str()));
    } else if (name.ends_with(".step")) {
        STEPControl_Writer writer;
        EXPECT_EQ(writer.Transfer(box, STEPControl_AsIs), IFSelect_RetDone);
        EXPECT_EQ(writer.Write(path.c_str()), IFSelect_RetDone);
    } else {
        IGESControl_Controller::Init();
        IGESControl_Writer writer("MM", 1);
        writer.AddShape(box);
        writer.ComputeModel();
        EXPECT_TRUE(writer.Write(path.c_str()));
    }
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace cad_samples
