// A STEP spline lists each distinct knot once: knots a rounding apart in
// memory printed as one make a list that no longer rises, and a reader given
// such a closed spline (or one whose knots span next to nothing) looped for
// ever bringing a parameter into its period. The STEP reader refuses such a
// text naming the entity, before anything is built of it.
#include "cad_samples.hxx"
#include "cad_frames.hxx"
#include "qelx_formats/cad_file.hxx"

#include <BRepBuilderAPI_Transform.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRepTools.hxx>
#include <gp_Ax2.hxx>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

fs::path knotsScratch(const std::string& name)
{
    return fs::temp_directory_path() / ("step_knots_" + std::to_string(::getpid()) + "_" + name);
}

// The model of a shape as read from its BREP file (its pcurves splines).
qelx_test::TestModel modelOf(const TopoDS_Shape& shape)
{
    const fs::path in = knotsScratch("in.brep");
    EXPECT_TRUE(BRepTools::Write(shape, in.c_str()));
    qelx_test::TestModel model;
    std::string error;
    EXPECT_EQ(qelx_formats::readCadFile(in.string(), model, error), QELI_OK) << error;
    fs::remove(in);
    return model;
}

} // namespace

TEST(StepKnotsRise, ATextWhoseKnotsRepeatOrFallIsRefusedNamingTheEntity)
{
    // A line's pcurve in a STEP text of a cylinder, its two knots made four
    // with the middle two repeated (as a writer's knots a rounding apart
    // print) or falling, and marked closed as the looping one was.
    const std::regex line(R"(B_SPLINE_CURVE_WITH_KNOTS\('',1,\((#\d+),\s*(#\d+)\),\s*\.UNSPECIFIED\.,\s*\.F\.,\s*\.F\.,\s*)"
                          R"(\(2,\s*2\),\s*\(([-0-9.E]+),\s*([-0-9.E]+)\),\s*\.PIECEWISE_BEZIER_KNOTS\.\))");
    // Or its knots rise but span a few trillionths: the peer made it
    // periodic and looped for ever bringing a parameter into the period.
    const char* const notRising = " is a spline whose knots do not rise";
    const std::tuple<const char*, const char*, const char*> edits[] = {
        {"repeated", "(1,1,1,1),($3,1.5,1.5,$4)", notRising},
        {"falling", "(1,1,1,1),($3,2.,1.,$4)", notRising},
        {"spanning next to nothing", "(1,1,1,1),(4.712388980384,4.712388980385,4.712388980386,4.712388980387)",
         " is a spline marked closed whose knots span next to nothing"},
    };
    for (const auto& [frame, place] : cad_frames::threeFrames())
        for (const auto& [edit, knots, why] : edits) {
            SCOPED_TRACE(std::string(frame) + ", " + edit);
            const TopoDS_Shape shape = BRepBuilderAPI_Transform(
                BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(0.3, -0.2, 0.1), gp_Dir(1, 2, 2)), 1.5, 3.0).Shape(), place,
                Standard_True).Shape();
            const fs::path step = knotsScratch("sound.step");
            std::string error;
            ASSERT_EQ(qelx_formats::writeCadFile(modelOf(shape), step.string(), error), QELI_OK) << error;
            std::string text = (std::ostringstream() << std::ifstream(step, std::ios::binary).rdbuf()).str();
            std::smatch found;
            ASSERT_TRUE(std::regex_search(text, found, line));
            // The entity the spline is, as the text numbers it.
            const std::size_t start = text.rfind('#', static_cast<std::size_t>(found.position(0)));
            const std::string entity = text.substr(start, text.find(' ', start) - start);
            const std::string edited = found.format(std::string("B_SPLINE_CURVE_WITH_KNOTS('',1,($1,$2),"
                                                                ".UNSPECIFIED.,.T.,.F.,") +
                                                    knots + ",.UNSPECIFIED.)");
            text.replace(static_cast<std::size_t>(found.position(0)), static_cast<std::size_t>(found.length(0)),
                         edited);
            std::ofstream(step, std::ios::binary | std::ios::trunc) << text;
            qelx_test::TestModel back;
            EXPECT_NE(qelx_formats::readCadFile(step.string(), back, error), QELI_OK);
            fs::remove(step);
            EXPECT_NE(error.find("damaged: entity " + entity + why),
                      std::string::npos)
                << error;
        }
}
