// Sphere faces judged against their own boxes. A patch turned against its
// loops covers the rest of its sphere, more than its box holds: every writer
// refuses it naming the face, however near its area comes to the box's (a
// patch just short of a hemisphere, a band all but round, one reaching a
// pole); as it is, it is written and read back with its area. A face holding
// a pole whose box as its source holds it spans only a stretch of longitude
// (a box reaching a pole widens to the pole alone) covers every longitude
// all the same: every writer writes the solid it bounds, at either pole. In
// every frame.
#include "cad_samples.hxx"
#include "qelx_formats/cad_file.hxx"

#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_Transform.hxx>
#include <BRepGProp.hxx>
#include <BRepPrimAPI_MakeSphere.hxx>
#include <BRepTools.hxx>
#include <GProp_GProps.hxx>
#include <Geom_SphericalSurface.hxx>
#include <gp_Ax3.hxx>
#include <gp_Ax2.hxx>
#include <gp_Trsf.hxx>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

fs::path spherePatchScratch(const std::string& name)
{
    return fs::temp_directory_path() / ("sphere_patch_" + std::to_string(::getpid()) + "_" + name);
}

std::vector<std::pair<const char*, gp_Trsf>> spherePatchFrames()
{
    gp_Trsf turn, mirror;
    turn.SetRotation(gp_Ax1(gp_Pnt(1, -2, 3), gp_Dir(1, 2, 2)), 0.7);
    turn.SetTranslationPart(gp_Vec(3, -1, 2));
    mirror.SetMirror(gp_Ax2(gp_Pnt(0, 0, 1), gp_Dir(1, 1, 0)));
    return {{"identity", gp_Trsf()}, {"rotated", turn}, {"mirrored", mirror}};
}

// The model read from Open CASCADE's file of `shape` placed in `place`.
qelx_test::TestModel readPlaced(const TopoDS_Shape& shape, const gp_Trsf& place)
{
    const fs::path in = spherePatchScratch("in.brep");
    EXPECT_TRUE(BRepTools::Write(BRepBuilderAPI_Transform(shape, place, Standard_True).Shape(), in.c_str()));
    qelx_test::TestModel model;
    std::string error;
    EXPECT_EQ(qelx_formats::readCadFile(in.string(), model, error), QELI_OK) << error;
    fs::remove(in);
    return model;
}

const char* const kSpherePatchWriters[] = {".brep", ".step", ".igs"};

} // namespace

// Patches of a sphere of radius 2 (longitude and latitude ranges clear of its
// seam), as one-face sheets.
TEST(SpherePatchBoxes, APatchTurnedAgainstItsLoopsIsRefusedHoweverNearItsBoxsArea)
{
    const double radius = 2.0;
    struct Patch {
        const char* what;
        double u0, u1, v0, v1;
    };
    // Turned round, each covers from a twentieth to twice its box's bound over.
    const Patch patches[] = {{"just short of a hemisphere", 0.5, 3.6, -1.4, 1.4},
                             {"a band all but round", 0.1, 6.1, 0.5, 1.0},
                             {"a third of the longitudes", 0.5, 2.5, -1.2, 1.2},
                             {"reaching the north pole", 0.5, 2.5, 0.5, M_PI / 2}};
    for (const auto& [frame, place] : spherePatchFrames())
        for (const Patch& p : patches) {
            SCOPED_TRACE(std::string(frame) + ", " + p.what);
            const Handle(Geom_SphericalSurface) sphere =
                new Geom_SphericalSurface(gp_Ax3(gp_Pnt(1, -2, 0.5), gp_Dir(0, 0, 1), gp_Dir(1, 0, 0)), radius);
            const TopoDS_Shape face = BRepBuilderAPI_MakeFace(sphere, p.u0, p.u1, p.v0, p.v1, 1e-7).Shape();
            const double area = radius * radius * (p.u1 - p.u0) * (std::sin(p.v1) - std::sin(p.v0));
            const qelx_test::TestModel model = readPlaced(face, place);
            ASSERT_EQ(model.faces.size(), 1u);
            qelx_test::TestModel turned = model;
            turned.faces[0].sense = !turned.faces[0].sense;
            for (const char* writer : kSpherePatchWriters) {
                SCOPED_TRACE(writer);
                const fs::path out = spherePatchScratch(std::string("out") + writer);
                std::string error;
                ASSERT_EQ(qelx_formats::writeCadFile(model, out.string(), error), QELI_OK) << error;
                const cad_samples::Measures back = cad_samples::measure(cad_samples::peerRead(out.string()));
                fs::remove(out);
                EXPECT_TRUE(back.valid);
                EXPECT_EQ(back.faces, 1);
                EXPECT_LT(cad_samples::relativeGap(back.area, area), 1e-4) << back.area << " not " << area;
                error.clear();
                EXPECT_NE(qelx_formats::writeCadFile(turned, out.string(), error), QELI_OK);
                EXPECT_NE(error.find("than its own box holds"), std::string::npos) << error;
                EXPECT_FALSE(fs::exists(out));
                fs::remove(out);
            }
        }
}

TEST(SpherePatchBoxes, ACapWhoseBoxSpansAStretchOfLongitudeIsWrittenAsTheCap)
{
    const double radius = 2.0;
    struct Cap {
        const char* what;
        double from, to; // latitudes
    };
    const Cap caps[] = {{"south cap", -M_PI / 2, -0.6}, {"north cap", 0.6, M_PI / 2}};
    for (const auto& [frame, place] : spherePatchFrames())
        for (const Cap& cap : caps) {
            const TopoDS_Shape solid =
                BRepPrimAPI_MakeSphere(gp_Ax2(gp_Pnt(1, 2, 3), gp_Dir(0, 0, 1)), radius, cap.from, cap.to).Shape();
            GProp_GProps props;
            BRepGProp::VolumeProperties(solid, props);
            const double volume = props.Mass();
            const qelx_test::TestModel model = readPlaced(solid, place);
            std::string error;
            // The sphere face's longitude (the domain a whole turn long) cut
            // to a stretch of one radian, placed at a few longitudes.
            for (const double at : {0.0, 2.0, 5.0}) {
                SCOPED_TRACE(std::string(frame) + ", " + cap.what + ", box from " + std::to_string(at));
                qelx_test::TestModel narrowed = model;
                int cut = 0;
                for (qelx_test::TestFace& f : narrowed.faces) {
                    if (narrowed.surfaces[static_cast<std::size_t>(f.surface)].type != qelx_test::SurfSphere)
                        continue;
                    for (double* domain : {f.uDomain, f.vDomain})
                        if (std::abs(domain[1] - domain[0] - 2.0 * M_PI) < 1e-6) {
                            domain[0] += at;
                            domain[1] = domain[0] + 1.0;
                            ++cut;
                        }
                }
                ASSERT_EQ(cut, 1);
                for (const char* writer : kSpherePatchWriters) {
                    SCOPED_TRACE(writer);
                    const fs::path out = spherePatchScratch(std::string("out") + writer);
                    ASSERT_EQ(qelx_formats::writeCadFile(narrowed, out.string(), error), QELI_OK) << error;
                    const cad_samples::Measures back = cad_samples::measure(cad_samples::peerRead(out.string()));
                    fs::remove(out);
                    EXPECT_TRUE(back.valid);
                    EXPECT_EQ(back.solids, 1);
                    EXPECT_EQ(back.faces, 2);
                    EXPECT_LT(cad_samples::relativeGap(back.volume, volume), 1e-4) << back.volume << " not " << volume;
                }
            }
        }
}
