// Loops on periodic surfaces as the writers lay them out in the parameter
// plane: a model's pcurve may lie any whole number of periods away from its
// neighbours (each sender picks its own period), and a loop may jump at a
// pole or apex, where the next pcurve may start at any angle. Whatever the
// loop's first coedge, the written solid is the same.
#include "cad_samples.hxx"
#include "qelx_formats/cad_file.hxx"

#include <BRepBuilderAPI_Transform.hxx>
#include <BRepPrimAPI_MakeCone.hxx>
#include <BRepPrimAPI_MakeSphere.hxx>
#include <BRepPrimAPI_MakeTorus.hxx>
#include <BRepTools.hxx>
#include <gp_Trsf.hxx>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

fs::path periodsScratch(const std::string& name)
{
    return fs::temp_directory_path() / ("cad_periods_" + std::to_string(::getpid()) + "_" + name);
}

// The shape as a BREP file reads into a model.
qelx_test::TestModel modelOfShape(const TopoDS_Shape& shape)
{
    const fs::path in = periodsScratch("in.brep");
    qelx_test::TestModel model;
    EXPECT_TRUE(BRepTools::Write(shape, in.c_str()));
    std::string error;
    EXPECT_EQ(qelx_formats::readCadFile(in.string(), model, error), QELI_OK) << error;
    fs::remove(in);
    return model;
}

// The one face of the model on a surface of `type`.
int faceOn(const qelx_test::TestModel& model, int type)
{
    int found = -1;
    for (std::size_t f = 0; f < model.faces.size(); ++f)
        if (model.surfaces[static_cast<std::size_t>(model.faces[f].surface)].type == type) {
            EXPECT_EQ(found, -1) << "two faces of the kind";
            found = static_cast<int>(f);
        }
    EXPECT_GE(found, 0);
    return found;
}

// The model written as a BREP file and measured by the peer against the
// source solid.
void expectWrittenAsTheSource(const qelx_test::TestModel& model, const cad_samples::Measures& source)
{
    const fs::path out = periodsScratch("out.brep");
    std::string error;
    ASSERT_EQ(qelx_formats::writeCadFile(model, out.string(), error), QELI_OK) << error;
    const cad_samples::Measures back = cad_samples::measure(cad_samples::peerRead(out.string()));
    fs::remove(out);
    EXPECT_TRUE(back.valid);
    EXPECT_EQ(back.solids, 1);
    EXPECT_LT(cad_samples::relativeGap(back.volume, source.volume), 1e-6);
    EXPECT_LT(cad_samples::relativeGap(back.area, source.area), 1e-6);
}

// A turned frame and its mirror image.
std::vector<std::pair<const char*, gp_Trsf>> frames()
{
    gp_Trsf turn, mirror;
    turn.SetRotation(gp_Ax1(gp_Pnt(1, -2, 3), gp_Dir(1, 2, 2)), 0.7);
    mirror.SetMirror(gp_Ax2(gp_Pnt(0, 0, 2), gp_Dir(1, 1, 0)));
    return {{"turned", turn}, {"mirrored", mirror * turn}};
}

} // namespace

// Part tori, open round the axis or round the tube: each coedge of the
// toroidal face that is not its seam has its pcurve moved by one period
// along u, then along v, of the model's parameters, and the solid is
// written as the source, whichever coedge the loop starts at.
TEST(CadLoopPeriods, PCurvesAPeriodAwayAreBroughtBackBesideTheirNeighbours)
{
    struct Torus {
        const char* name;
        TopoDS_Shape shape;
    };
    const Torus tori[] = {
        {"open round the axis", BRepPrimAPI_MakeTorus(3.0, 1.0, 1.5 * M_PI).Shape()},
        {"open round the tube", BRepPrimAPI_MakeTorus(3.0, 1.0, -0.4 * M_PI, 0.7 * M_PI).Shape()},
    };
    int written = 0;
    for (const Torus& torus : tori)
        for (const auto& [frameName, place] : frames()) {
            const TopoDS_Shape solid = BRepBuilderAPI_Transform(torus.shape, place, Standard_True).Shape();
            const cad_samples::Measures source = cad_samples::measure(solid);
            ASSERT_TRUE(source.valid);
            const qelx_test::TestModel read = modelOfShape(solid);
            const int face = faceOn(read, qelx_test::SurfTorus);
            ASSERT_GE(face, 0);
            const qelx_test::TestFace& f = read.faces[static_cast<std::size_t>(face)];
            const qelx_test::TestSurface& s = read.surfaces[static_cast<std::size_t>(f.surface)];
            ASSERT_EQ(f.loops.size(), 1u);
            const std::vector<int>& coedges = read.loops[static_cast<std::size_t>(f.loops[0])].coedges;
            std::map<int, int> uses;
            for (int c : coedges)
                ++uses[read.coedges[static_cast<std::size_t>(c)].edge];
            // A period of the canonical angles in the model's own parameters.
            const double periods[2] = {2.0 * M_PI / (s.uA * s.uB), 2.0 * M_PI / (s.vA * s.vB)};
            for (std::size_t k = 0; k < coedges.size(); ++k) {
                const qelx_test::TestCoedge& moved = read.coedges[static_cast<std::size_t>(coedges[k])];
                if (uses[moved.edge] > 1)
                    continue;
                for (int along : {0, 1})
                    for (std::size_t first = 0; first < coedges.size(); ++first) {
                        SCOPED_TRACE(std::string(torus.name) + ", " + frameName + ", coedge " + std::to_string(k) +
                                     " moved along " + (along ? "v" : "u") + ", loop from " + std::to_string(first));
                        qelx_test::TestModel model = read;
                        std::vector<double>& ctrl = model.pcurves[static_cast<std::size_t>(moved.pcurve)].nurbs.ctrl;
                        for (std::size_t i = static_cast<std::size_t>(along); i < ctrl.size(); i += 2)
                            ctrl[i] += periods[along];
                        std::vector<int>& loop = model.loops[static_cast<std::size_t>(f.loops[0])].coedges;
                        std::rotate(loop.begin(), loop.begin() + static_cast<long>(first), loop.end());
                        expectWrittenAsTheSource(model, source);
                        ++written;
                    }
            }
        }
    EXPECT_GE(written, 16);
}

// Sectors of a sphere up to its pole and of a cone up to its apex, three
// quarters round: the loop jumps at the point from the last meridian to
// the first, three quarters of a period apart, and the written solid is the
// source's whichever coedge the loop starts at.
TEST(CadLoopPeriods, LoopsJumpingAtAPoleOrApexAreNotAlignedThroughIt)
{
    struct Sector {
        const char* name;
        TopoDS_Shape shape;
        int surface;
    };
    const Sector sectors[] = {
        {"sphere", BRepPrimAPI_MakeSphere(2.0, 0.0, 0.5 * M_PI, 1.5 * M_PI).Shape(), qelx_test::SurfSphere},
        {"cone", BRepPrimAPI_MakeCone(0.0, 2.0, 3.0, 1.5 * M_PI).Shape(), qelx_test::SurfCone},
    };
    for (const Sector& sector : sectors)
        for (const auto& [frameName, place] : frames()) {
            const TopoDS_Shape solid = BRepBuilderAPI_Transform(sector.shape, place, Standard_True).Shape();
            const cad_samples::Measures source = cad_samples::measure(solid);
            ASSERT_TRUE(source.valid);
            const qelx_test::TestModel read = modelOfShape(solid);
            const int face = faceOn(read, sector.surface);
            ASSERT_GE(face, 0);
            const int loop = read.faces[static_cast<std::size_t>(face)].loops.at(0);
            const std::size_t n = read.loops[static_cast<std::size_t>(loop)].coedges.size();
            EXPECT_GE(n, 3u);
            for (std::size_t first = 0; first < n; ++first) {
                SCOPED_TRACE(std::string(sector.name) + ", " + frameName + ", loop from " + std::to_string(first));
                qelx_test::TestModel model = read;
                std::vector<int>& coedges = model.loops[static_cast<std::size_t>(loop)].coedges;
                std::rotate(coedges.begin(), coedges.begin() + static_cast<long>(first), coedges.end());
                expectWrittenAsTheSource(model, source);
            }
        }
}
