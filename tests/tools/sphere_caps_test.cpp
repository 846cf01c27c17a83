// Sphere caps (a sphere face bounded by one circle, with its seam and pole)
// of seeded radius and height, on the sphere itself and on its rational and
// non-rational spline forms, with their vertices moved off their curves by a
// ten-thousandth and a thousandth of their size, placed in every frame and
// handed over as STEP files. Under each recipe in turn (and unhealed), each
// is written to STEP and IGES with the area Open CASCADE reads of the file
// or of the cap, or refused in the writers' own words naming the body and
// the face or edge. A seam that splits a face into pieces once ended the
// writing with the peer library's own cast failure, naming nothing; a
// periodic spline circle read from just before its first knot round a whole
// turn lay a period past the end of the spline it was opened to, and the
// healing bounded it at that end, leaving a sliver of the cap written as
// the cap.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iterator>
#include <random>
#include <string>

#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepGProp.hxx>
#include <GProp_GProps.hxx>
#include <GeomConvert.hxx>
#include <GeomConvert_ApproxSurface.hxx>
#include <Geom_BSplineSurface.hxx>
#include <Geom_SphericalSurface.hxx>
#include <ShapeFix_Shape.hxx>
#include <gp_Ax3.hxx>

#include "convert_run.hxx"
#include "occ_shapes.hxx"
#include "qelx_formats/cad_damage.hxx"
#include "qelx_formats/cad_samples.hxx"
#include "support/in_turn.hxx"

namespace fs = std::filesystem;

namespace {

// The cap of `kind` ("sphere", "rational", "non-rational") above a seeded
// height of a sphere of seeded radius about the origin.
TopoDS_Shape seededCap(const std::string& kind, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> radius(1.0, 5.0), height(-0.8, 0.8);
    const double r = radius(random), h = height(random) * r;
    Handle(Geom_Surface) surface = new Geom_SphericalSurface(gp_Ax3(gp_Pnt(0, 0, 0), gp_Dir(0, 0, 1)), r);
    if (kind == "rational")
        surface = GeomConvert::SurfaceToBSplineSurface(surface);
    else if (kind == "non-rational")
        surface = GeomConvert_ApproxSurface(surface, 1e-6, GeomAbs_C1, GeomAbs_C1, 9, 9, 40, 1).Surface();
    const TopoDS_Shape face =
        BRepBuilderAPI_MakeFace(surface, 0.0, 2.0 * M_PI, std::asin(h / r), M_PI / 2, 1e-7).Face();
    // The seam and the pole's collapsed edge as Open CASCADE's own tools close them.
    ShapeFix_Shape fix(face);
    fix.Perform();
    return fix.Shape();
}

double areaOf(const TopoDS_Shape& shape)
{
    GProp_GProps props;
    BRepGProp::SurfaceProperties(shape, props);
    return props.Mass();
}

} // namespace

TEST(SphereCaps, AMovedCapIsWrittenWithItsAreaOrRefusedNamingBodyAndFace)
{
    const fs::path dir = convert_run::convertScratch();
    const char* const kinds[] = {"sphere", "rational", "non-rational"};
    const unsigned seeds[] = {5, 6};
    const double moves[] = {1e-4, 1e-3};
    const char* const recipes[] = {"off", "step", "iges", "proe",  "v4",       "ug",
                                   "v5",  "vda",  "ps",   "ideas", "inventor", "standard"};
    // One case of each cap in a run: the moves, recipes and frames taken in turn.
    const std::size_t members = std::size(moves) * std::size(recipes) * std::size(occ_shapes::Frames);
    std::size_t group = 0;
    for (const char* kind : kinds)
        for (const unsigned seed : seeds) {
            const TopoDS_Shape cap = seededCap(kind, seed);
            ASSERT_FALSE(cap.IsNull()) << kind;
            const double size = cad_damage::sizeOf(cap), area = areaOf(cap);
            const std::size_t here = group++;
            for (std::size_t member = 0; member < members; ++member) {
                if (!in_turn::taken(here, member, members))
                    continue;
                const char* recipe = recipes[member % std::size(recipes)];
                const char* frame = occ_shapes::Frames[member / std::size(recipes) % std::size(occ_shapes::Frames)];
                const double move = moves[member / (std::size(recipes) * std::size(occ_shapes::Frames))];
                SCOPED_TRACE(std::string(kind) + " cap, seed " + std::to_string(seed) + ", moved by " +
                             std::to_string(move) + ", " + frame + ", recipe " + recipe);
                const fs::path in = dir / "cap.step";
                ASSERT_TRUE(occ_shapes::writeFile(
                    occ_shapes::placed(cad_damage::movedVertices(cap, move, size, seed), frame, size), in.string()));
                const double given = cad_samples::measure(cad_samples::peerRead(in.string())).area;
                for (const char* ext : {".step", ".igs"}) {
                    SCOPED_TRACE(ext);
                    const fs::path out = dir / (std::string("written") + ext);
                    const convert_run::ConvertRun run = convert_run::runConvert(in.string(), out.string(), recipe);
                    const std::string last = convert_run::lastLine(run.err);
                    if (run.status != 0) {
                        EXPECT_EQ(run.status, 1) << last;
                        EXPECT_NE(last.find("body 0"), std::string::npos) << last;
                        EXPECT_TRUE(last.find("face ") != std::string::npos || last.find("edge ") != std::string::npos)
                            << last;
                        EXPECT_EQ(last.find("TopoDS"), std::string::npos) << last;
                        EXPECT_FALSE(fs::exists(out));
                        continue;
                    }
                    const double back = cad_samples::measure(cad_samples::peerRead(out.string())).area;
                    fs::remove(out);
                    // The move shifts the cap's rim by its share of the size: the
                    // area read between the cap's and the file's is as near as
                    // the damage lets either reading come.
                    const double within = std::max(1e-3, 4.0 * move);
                    EXPECT_TRUE(cad_samples::relativeGap(back, area) <= within ||
                                cad_samples::relativeGap(back, given) <= within ||
                                run.err.find("warning") != std::string::npos)
                        << "written covering " << back << ", the cap " << area << ", as given " << given;
                }
            }
        }
    fs::remove_all(dir);
}
