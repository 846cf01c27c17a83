// A face on a sphere or torus turned against its loops (its sense turned,
// its loops not) bounds the rest of its surface: where it is a small patch
// of a large body (a dimple in a block) the solid that makes stays valid
// with a positive volume, so neither validity nor the sign of the volume
// gives it away, and a patch clear of its surface's seams holds no seam
// whose two curves would. Every writer refuses
// such a face naming it, handed the model alone and handed the kernel's
// measures too, whether the model is Open CASCADE's file of the solid or the
// kernel's body walked as the driver walks it; in every frame.
#include <gtest/gtest.h>

#include <BRepAlgoAPI_Cut.hxx>
#include <BRepBuilderAPI_Transform.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeSphere.hxx>
#include <BRepPrimAPI_MakeTorus.hxx>
#include <BRepTools.hxx>
#include <gp_Ax2.hxx>
#include <gp_Trsf.hxx>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "../../tools/xvelm/body_measures.hxx"
#include "../../tools/xvelm/import_verb.hxx"
#include "qelx_formats/cad_file.hxx"
#include "qelx_formats/cad_samples.hxx"
#include "support/in_turn.hxx"

namespace {

namespace fs = std::filesystem;

fs::path patchScratch(const std::string& name)
{
    return fs::temp_directory_path() / ("turned_patches_" + std::to_string(::getpid()) + "_" + name);
}

// Small dimples pressed into a block's top and side (caps less than half
// their spheres). The spheres' axes lie level with their seams pointing
// away: Open CASCADE's faces of the dimples hold no seam and no pole.
std::vector<std::pair<const char*, TopoDS_Shape>> patchedSolids()
{
    const TopoDS_Shape block = BRepPrimAPI_MakeBox(gp_Pnt(-5, -5, -4), 10.0, 10.0, 4.0).Shape();
    const TopoDS_Shape top =
        BRepPrimAPI_MakeSphere(gp_Ax2(gp_Pnt(0.5, -0.5, 0.8), gp_Dir(1, 0, 0), gp_Dir(0, 0, 1)), 1.5).Shape();
    const TopoDS_Shape side =
        BRepPrimAPI_MakeSphere(gp_Ax2(gp_Pnt(5.6, 1.0, -2.0), gp_Dir(0, 0, 1), gp_Dir(1, 0, 0)), 1.2).Shape();
    // A ring tilted half a right angle off upright, its tube dipping 0.1 into
    // the block's top at its lowest point: a quarter turn round the ring from
    // its seam and an eighth of a turn round the tube from the seam there.
    const double tilt = M_PI / 4, major = 3.0, minor = 1.0, dip = 0.1;
    const gp_Dir axis(std::sin(tilt), 0, std::cos(tilt)), seam(0, -1, 0);
    const gp_Pnt centre(-1.5 - major * std::cos(tilt), 1.0, major * std::sin(tilt) + minor - dip);
    const TopoDS_Shape ring = BRepPrimAPI_MakeTorus(gp_Ax2(centre, axis, seam), major, minor).Shape();
    return {{"sphere dimple in a block's top", BRepAlgoAPI_Cut(block, top).Shape()},
            {"two sphere dimples in a block", BRepAlgoAPI_Cut(BRepAlgoAPI_Cut(block, top).Shape(), side).Shape()},
            {"torus dimple in a block's top", BRepAlgoAPI_Cut(block, ring).Shape()},
            {"sphere and torus dimples in a block", BRepAlgoAPI_Cut(BRepAlgoAPI_Cut(block, top).Shape(), ring).Shape()}};
}

std::vector<std::pair<const char*, gp_Trsf>> patchFrames()
{
    gp_Trsf turn, mirror;
    turn.SetRotation(gp_Ax1(gp_Pnt(2, 1, -1), gp_Dir(2, -1, 2)), 1.1);
    turn.SetTranslationPart(gp_Vec(-4, 2, 7));
    mirror.SetMirror(gp_Ax2(gp_Pnt(1, 0, 0), gp_Dir(1, 0, 1)));
    return {{"identity", gp_Trsf()}, {"rotated", turn}, {"mirrored", mirror}};
}

// A model of the placed solid: `kernel`, its kernel body walked as the
// driver walks it for a file, with the kernel's measures; else Open
// CASCADE's BREP file of it read as it is, with no measures.
struct PatchModel {
    qelx_test::TestModel model;
    qelx_formats::CadSourceMeasures measures;
};

PatchModel patchModel(const TopoDS_Shape& placed, bool kernel)
{
    PatchModel out;
    const fs::path in = patchScratch("in.brep");
    EXPECT_TRUE(BRepTools::Write(placed, in.c_str()));
    qelx_test::TestModel read;
    std::string error;
    EXPECT_EQ(qelx_formats::readCadFile(in.string(), read, error), QELI_OK) << error;
    fs::remove(in);
    if (!kernel) {
        out.model = std::move(read);
        return out;
    }
    QELXVelmDocument target;
    xvelm::ImportCounts imported;
    xvelm::ExportCounts counts;
    std::vector<const BODY*> bodies;
    EXPECT_TRUE(xvelm::prepare_import_target(target, read.xType, error)) << error;
    EXPECT_TRUE(xvelm::import_model(std::move(read), target, imported, error)) << error;
    EXPECT_TRUE(target.GetNativeEntityList());
    if (target.GetNativeEntityList() && xvelm::walk_document(*target.GetNativeEntityList(), out.model, counts, error,
                                                             qelx_test::kWalkAllAttributes, &bodies))
        out.measures = xvelm::kernel_measures(bodies, out.model);
    EXPECT_EQ(out.model.bodies.size(), 1u) << error;
    return out;
}

// The faces of the model's one body on a sphere or torus.
std::vector<std::size_t> curvedPatches(const qelx_test::TestModel& m)
{
    std::vector<std::size_t> out;
    for (std::size_t f = 0; f < m.faces.size(); ++f) {
        const int type = m.surfaces.at(static_cast<std::size_t>(m.faces[f].surface)).type;
        if (type == qelx_test::SurfSphere || type == qelx_test::SurfTorus)
            out.push_back(f);
    }
    return out;
}

// Written (handed `measures` or not), the file holds the source's solid.
void expectPatchedWrittenWhole(const qelx_test::TestModel& model, const char* writer,
                               const qelx_formats::CadSourceMeasures* measures, const cad_samples::Measures& source)
{
    const fs::path out = patchScratch(std::string("out") + writer);
    std::string error;
    ASSERT_EQ(qelx_formats::writeCadFile(model, out.string(), error, nullptr, measures), QELI_OK) << error;
    const cad_samples::Measures back = cad_samples::measure(cad_samples::peerRead(out.string()));
    fs::remove(out);
    EXPECT_TRUE(back.valid);
    EXPECT_EQ(back.solids, 1);
    EXPECT_LT(cad_samples::relativeGap(back.area, source.area), 1e-5) << back.area << " where " << source.area;
    EXPECT_LT(cad_samples::relativeGap(back.volume, source.volume), 1e-5)
        << back.volume << " where " << source.volume;
}

TEST(TurnedPatches, EveryWriterRefusesASphereOrTorusPatchTurnedInALargeBodyNamingIt)
{
    int refusals = 0;
    const auto solids = patchedSolids();
    const auto frames = patchFrames();
    for (std::size_t s = 0; s < solids.size(); ++s)
        for (std::size_t k = 0; k < frames.size(); ++k) {
            if (!in_turn::taken(s, k, frames.size()))
                continue;
            const auto& [name, solid] = solids[s];
            const auto& [frame, place] = frames[k];
            const TopoDS_Shape placed = BRepBuilderAPI_Transform(solid, place, Standard_True).Shape();
            const cad_samples::Measures source = cad_samples::measure(placed);
            ASSERT_TRUE(source.valid);
            for (const bool kernel : {false, true}) {
                const PatchModel patched = patchModel(placed, kernel);
                const std::vector<std::size_t> patches = curvedPatches(patched.model);
                ASSERT_FALSE(patches.empty()) << name;
                // The kernel's measures where there are some.
                for (const bool measured : {false, kernel})
                    for (const char* writer : {".step", ".igs", ".brep"}) {
                        SCOPED_TRACE(std::string(name) + ", " + frame + ", " + writer +
                                     (kernel ? ", the kernel's body" : ", Open CASCADE's file") +
                                     (measured ? ", measured" : ""));
                        const qelx_formats::CadSourceMeasures* measures = measured ? &patched.measures : nullptr;
                        expectPatchedWrittenWhole(patched.model, writer, measures, source);
                        for (const std::size_t f : patches) {
                            qelx_test::TestModel turned = patched.model;
                            turned.faces[f].sense = !turned.faces[f].sense;
                            const fs::path out = patchScratch(std::string("turned") + writer);
                            std::string error;
                            EXPECT_NE(qelx_formats::writeCadFile(turned, out.string(), error, nullptr, measures),
                                      QELI_OK)
                                << "face " << f;
                            // One body: a face's place among its faces is its index.
                            const std::string said = "body 0, face " + std::to_string(f) + ":";
                            EXPECT_NE(error.find(said), std::string::npos) << error << "\nnot " << said;
                            EXPECT_FALSE(fs::exists(out));
                            fs::remove(out);
                            ++refusals;
                        }
                    }
            }
        }
    EXPECT_GT(refusals, 0);
}

} // namespace
