// Whole closed surfaces handed over as loose faces (each face alone, as
// unsewn writers give them): a sphere, a ring torus, and B-spline forms of
// both (the torus periodic both ways, the sphere closed round and ending in
// poles), each turned so that its seam lies at a seeded place, placed in
// every frame and written by Open CASCADE as STEP, IGES and BREP. A reader
// holds such a face by no loop (its seams, walked both ways, bound nothing),
// and the face goes down the trim road as a one-face sheet: under every
// recipe it comes back one face, valid, of its whole surface's area.
#include <gtest/gtest.h>

#include <BRep_Builder.hxx>
#include <GeomConvert.hxx>
#include <Geom_BSplineSurface.hxx>
#include <Geom_SphericalSurface.hxx>
#include <Geom_ToroidalSurface.hxx>
#include <TopoDS_Compound.hxx>
#include <gp_Ax3.hxx>

#include <cstddef>
#include <filesystem>
#include <random>
#include <string>

#include "convert_run.hxx"
#include "occ_shapes.hxx"
#include "qelx_formats/cad_samples.hxx"
#include "support/in_turn.hxx"

namespace fs = std::filesystem;

namespace {

const char* const kLooseSources[] = {".step", ".igs", ".brep"};
const char* const kLooseRecipes[] = {"step", "iges", "proe", "v4",   "v5",       "ug",
                                     "vda",  "ps",   "ideas", "inventor", "standard"};
const char* const kClosedKinds[] = {"sphere", "torus", "spline torus", "spline sphere"};

// The kind's closed surface about a seeded centre and axis, turned about its
// axis by a seeded angle (the seam goes with it), one face bounded by its
// seams alone, in a compound of its own.
TopoDS_Shape looseClosedFace(const std::string& kind, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> coordinate(-5.0, 5.0), turn(0.0, 6.283185307179586), size(1.0, 3.0);
    const gp_Pnt centre(coordinate(random), coordinate(random), coordinate(random));
    gp_Dir axis(coordinate(random), coordinate(random), coordinate(random) + 0.01);
    const gp_Ax3 frame = gp_Ax3(centre, axis).Rotated(gp_Ax1(centre, axis), turn(random));
    const double minor = size(random), major = minor + size(random);
    Handle(Geom_Surface) surface;
    if (kind == "sphere" || kind == "spline sphere")
        surface = new Geom_SphericalSurface(frame, major);
    else
        surface = new Geom_ToroidalSurface(frame, major, minor);
    if (kind == "spline torus") {
        Handle(Geom_BSplineSurface) spline = GeomConvert::SurfaceToBSplineSurface(surface);
        spline->SetUPeriodic();
        spline->SetVPeriodic();
        surface = spline;
    } else if (kind == "spline sphere") {
        surface = GeomConvert::SurfaceToBSplineSurface(surface);
    }
    TopoDS_Compound loose;
    BRep_Builder builder;
    builder.MakeCompound(loose);
    builder.Add(loose, BRepBuilderAPI_MakeFace(surface, 1e-7).Face());
    return loose;
}

} // namespace

// Each kind at two seeded places is a group; its members are the frames
// times the source files, one taken a run in turn, under a recipe that turns
// with them (every frame, source and recipe met).
TEST(LooseClosedFaces, AWholeSphereTorusOrClosedSplineAloneComesBackWholeUnderEveryRecipe)
{
    const fs::path dir = convert_run::convertScratch();
    const std::size_t members = std::size(occ_shapes::Frames) * std::size(kLooseSources);
    std::size_t group = 0;
    for (const char* kind : kClosedKinds)
        for (const unsigned seed : {5u, 23u}) {
            for (std::size_t m = 0; m < members; ++m) {
                if (!in_turn::taken(group, m, members))
                    continue;
                const char* frame = occ_shapes::Frames[m / std::size(kLooseSources)];
                const char* source = kLooseSources[m % std::size(kLooseSources)];
                const char* recipe = kLooseRecipes[(group + m + in_turn::turn()) % std::size(kLooseRecipes)];
                SCOPED_TRACE(std::string(kind) + " seeded " + std::to_string(seed) + ", " + frame + ", from " + source +
                             " under " + recipe);
                const TopoDS_Shape shape = occ_shapes::placed(looseClosedFace(kind, seed), frame);
                const cad_samples::Measures given = cad_samples::measure(shape);
                ASSERT_TRUE(given.valid);
                ASSERT_EQ(given.faces, 1);
                const fs::path in = dir / (std::string("loose_closed") + source), out = dir / "loose_closed_out.step";
                ASSERT_TRUE(occ_shapes::writeFile(shape, in.string()));
                const convert_run::ConvertRun run = convert_run::runConvert(in.string(), out.string(), recipe);
                fs::remove(in);
                ASSERT_EQ(run.status, 0) << convert_run::lastLine(run.err);
                EXPECT_EQ(run.err.find("could not be"), std::string::npos) << run.err;
                const cad_samples::Measures back = cad_samples::measure(cad_samples::peerRead(out.string()));
                fs::remove(out);
                EXPECT_TRUE(back.valid);
                EXPECT_EQ(back.faces, 1);
                EXPECT_LE(cad_samples::relativeGap(back.area, given.area), 1e-6) << back.area << " where " << given.area;
            }
            ++group;
        }
    fs::remove_all(dir);
}
