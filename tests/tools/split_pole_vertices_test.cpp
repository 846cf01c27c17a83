// Corners on a sphere's pole whose vertex was moved a little (seeded), as STEP
// files in every frame: Open CASCADE's reader cuts the edge that runs through
// the pole there, leaving the moved vertex bridged to the pole by a short
// piece of that edge's curve on the pole's far side. Healing joins the two at
// the pole and the bridge goes, under every recipe: the model is written,
// valid, with each face and its area. Left, the bridge took the face's loop
// round the pole: the writer made the face twice its area (and refused it),
// or wrote a pcurve no reader could take.
#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <iterator>
#include <string>

#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedMapOfShape.hxx>

#include "convert_run.hxx"
#include "qelx_formats/cad_damage.hxx"
#include "qelx_formats/cad_samples.hxx"
#include "support/in_turn.hxx"
#include "tools/occ_shapes.hxx"

namespace fs = std::filesystem;

namespace {

const char* const kOtherRecipes[] = {"iges", "proe", "v4", "vda", "v5", "ug", "ps", "ideas", "inventor", "standard"};

int vertexCount(const TopoDS_Shape& shape)
{
    TopTools_IndexedMapOfShape vertices;
    TopExp::MapShapes(shape, TopAbs_VERTEX, vertices);
    return vertices.Extent();
}

} // namespace

// The sample chair's first solid: rounded corners, each an octant of a sphere
// whose pole is one of its corners. Every vertex is moved by a fraction of
// the solid's size in a seeded direction; each case's moves put some pole's
// vertex where the reader bridges it. Each case in every frame under the STEP
// recipe, and in one frame under one other recipe a run, in turn.
TEST(SplitPoleVertices, APoleVertexBridgedToThePoleIsJoinedThereUnderEveryRecipe)
{
    const fs::path chair = fs::path(cad_samples::SampleFolder) / "occ" / "MODERN_Chair_1.brep";
    if (!fs::exists(chair))
        GTEST_SKIP() << chair << " missing (Debian package occt-misc)";
    const TopExp_Explorer first(cad_samples::peerRead(chair.string()), TopAbs_SOLID);
    ASSERT_TRUE(first.More());
    const TopoDS_Shape solid = first.Current();
    const cad_samples::Measures source = cad_samples::measure(solid);
    ASSERT_TRUE(source.valid);
    const double size = cad_damage::sizeOf(solid);
    const fs::path dir = convert_run::convertScratch();
    struct Move {
        double fraction;
        unsigned seed;
    };
    const Move moves[] = {{5e-4, 1}, {1e-3, 1}};
    const std::size_t ways = std::size(occ_shapes::Frames) * std::size(kOtherRecipes);
    for (std::size_t m = 0; m < std::size(moves); ++m) {
        const TopoDS_Shape moved = cad_damage::movedVertices(solid, moves[m].fraction, size, moves[m].seed);
        for (std::size_t f = 0; f < std::size(occ_shapes::Frames); ++f) {
            const char* frame = occ_shapes::Frames[f];
            const fs::path in = dir / (std::string("split_pole_") + frame + ".step");
            ASSERT_TRUE(occ_shapes::writeFile(occ_shapes::placed(moved, frame, size), in.string()));
            // The reader bridged a pole: the case is the one meant.
            ASSERT_GT(vertexCount(cad_samples::peerRead(in.string())), vertexCount(solid))
                << "moved by " << moves[m].fraction << ", seed " << moves[m].seed << ", " << frame;
            for (std::size_t r = 0; r <= std::size(kOtherRecipes); ++r) {
                const char* recipe = r == 0 ? "step" : kOtherRecipes[r - 1];
                if (r > 0 && !in_turn::taken(m, f * std::size(kOtherRecipes) + r - 1, ways))
                    continue;
                SCOPED_TRACE(std::string("moved by ") + std::to_string(moves[m].fraction) + ", seed " +
                             std::to_string(moves[m].seed) + ", " + frame + ", " + recipe);
                const fs::path out = dir / "split_pole_out.step";
                const convert_run::ConvertRun run = convert_run::runConvert(in.string(), out.string(), recipe);
                ASSERT_EQ(run.status, 0) << convert_run::lastLine(run.err);
                const cad_samples::Measures back = cad_samples::measure(cad_samples::peerRead(out.string()));
                fs::remove(out);
                EXPECT_TRUE(back.valid);
                EXPECT_EQ(back.solids, 1);
                EXPECT_EQ(back.faces, source.faces);
                EXPECT_LE(cad_samples::relativeGap(back.area, source.area), 1e-4)
                    << back.area << " where " << source.area;
                EXPECT_LE(cad_samples::relativeGap(back.volume, source.volume), 1e-4)
                    << back.volume << " where " << source.volume;
            }
        }
    }
    fs::remove_all(dir);
}
