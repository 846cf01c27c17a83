// Every healing recipe over sample models, as they are and damaged (vertices
// moved off their curves, faces turned inside out), converted to STEP and
// judged by Open CASCADE: no crash, a valid result, no solid or face lost
// from a closed model, area and volume kept, or a warning saying what
// changed. CI takes three small models; XVELM_RECIPE_SAMPLES=1 takes every
// sample model (scripts/recipe_judge.py runs the whole table outside).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include <BRepAlgoAPI_Cut.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeSphere.hxx>
#include <BRepPrimAPI_MakeTorus.hxx>
#include <Message.hxx>
#include <Message_Messenger.hxx>
#include <Message_PrinterOStream.hxx>
#include <STEPControl_Writer.hxx>

#include "convert_run.hxx"
#include "occ_shapes.hxx"
#include "qelx_formats/cad_damage.hxx"
#include "qelx_formats/cad_samples.hxx"
#include "support/in_turn.hxx"

namespace fs = std::filesystem;

namespace {

using convert_run::ConvertRun;
using convert_run::convertScratch;
using convert_run::runConvert;

const char* const kRecipes[] = {"step", "iges", "proe", "v4",       "v5",      "ug",
                                "vda",  "ps",   "ideas", "inventor", "standard"};

std::vector<std::string> recipeSampleModels()
{
    if (std::getenv("XVELM_RECIPE_SAMPLES"))
        return cad_samples::sampleFiles();
    std::vector<std::string> small;
    for (const char* name : {"occ/wedge_ok.brep", "occ/face1.brep", "occ/Room.brep"}) {
        const fs::path path = fs::path(cad_samples::SampleFolder) / name;
        if (fs::exists(path))
            small.push_back(path.string());
    }
    return small;
}

bool writeStepFile(const TopoDS_Shape& shape, const fs::path& path)
{
    // The writer's statistics are not wanted in the test's output.
    Message::DefaultMessenger()->RemovePrinters(STANDARD_TYPE(Message_PrinterOStream));
    STEPControl_Writer writer;
    return writer.Transfer(shape, STEPControl_AsIs) == IFSelect_RetDone &&
           writer.Write(path.c_str()) == IFSelect_RetDone;
}

struct Variant {
    std::string name;
    fs::path file;
};

// The model itself and its damaged variants as STEP files in `dir`.
std::vector<Variant> variantsOf(const std::string& model, const TopoDS_Shape& shape, const fs::path& dir)
{
    std::vector<Variant> out{{"as it is", model}};
    const double size = cad_damage::sizeOf(shape);
    const struct {
        const char* name;
        TopoDS_Shape shape;
    } damaged[] = {
        {"vertices moved by 1e-5 of its size", cad_damage::movedVertices(shape, 1e-5, size, 7)},
        {"faces turned inside out", cad_damage::reversedFaces(shape)},
    };
    int k = 0;
    for (const auto& d : damaged) {
        const fs::path file = dir / ("damaged" + std::to_string(k++) + ".step");
        if (writeStepFile(d.shape, file))
            out.push_back({d.name, file});
    }
    return out;
}

bool warned(const ConvertRun& run) { return run.err.find("warning") != std::string::npos; }

// The peer's measures of a written file, which is then removed.
cad_samples::Measures measuredAndRemoved(const fs::path& out)
{
    const cad_samples::Measures m = cad_samples::measure(cad_samples::peerRead(out.string()));
    fs::remove(out);
    return m;
}

// The written model covers the reference's area, and encloses its volume
// when it holds as many solids, within 1e-4.
void expectSameMeasures(const cad_samples::Measures& m, const cad_samples::Measures& ref)
{
    if (ref.solids > 0 && m.solids == ref.solids) {
        EXPECT_LE(cad_samples::relativeGap(m.volume, ref.volume), 1e-4) << m.volume << " " << ref.volume;
    }
    EXPECT_LE(cad_samples::relativeGap(m.area, ref.area), 1e-4) << m.area << " " << ref.area;
}

// `in` converted under `recipe` into `out` must be written, valid, with the
// reference's solids, faces, area and volume.
void expectConvertedAsTheReference(const fs::path& in, const fs::path& out, const char* recipe,
                                   const cad_samples::Measures& ref)
{
    const ConvertRun run = runConvert(in.string(), out.string(), recipe);
    ASSERT_EQ(run.status, 0) << run.err;
    const cad_samples::Measures m = measuredAndRemoved(out);
    EXPECT_TRUE(m.valid);
    EXPECT_EQ(m.solids, ref.solids);
    EXPECT_EQ(m.faces, ref.faces);
    expectSameMeasures(m, ref);
}

} // namespace

TEST(RecipeSamples, EveryRecipeKeepsWhatASampleModelHoldsOrSaysWhatChanged)
{
    const fs::path dir = convertScratch();
    int judged = 0;
    for (const std::string& model : recipeSampleModels()) {
        const TopoDS_Shape shape = cad_samples::peerRead(model);
        if (shape.IsNull())
            continue;
        const cad_samples::Measures ref = cad_samples::measure(shape);
        for (const Variant& v : variantsOf(model, shape, dir)) {
            for (const char* recipe : kRecipes) {
                SCOPED_TRACE(fs::path(model).filename().string() + ", " + v.name + ", recipe " + recipe);
                const fs::path out = dir / "healed.step";
                const ConvertRun run = runConvert(v.file.string(), out.string(), recipe);
                ASSERT_EQ(run.status, 0) << run.err;
                const cad_samples::Measures m = cad_samples::measure(cad_samples::peerRead(out.string()));
                fs::remove(out);
                EXPECT_TRUE(m.valid);
                if (ref.solids > 0) {
                    EXPECT_GE(m.solids, ref.solids) << "a solid was lost";
                    EXPECT_GE(m.faces, ref.faces) << "a face was lost from a closed model";
                    if (!warned(run) && m.solids == ref.solids) {
                        EXPECT_LE(cad_samples::relativeGap(m.volume, ref.volume), 1e-4) << run.out;
                    }
                }
                if (!warned(run)) {
                    EXPECT_LE(cad_samples::relativeGap(m.area, ref.area), 1e-4) << run.out;
                }
                ++judged;
            }
        }
    }
    fs::remove_all(dir);
    if (judged == 0)
        GTEST_SKIP() << "no sample models under " << cad_samples::SampleFolder;
}

// The recipes that repair loops by classifying them (IGES, V4) over every
// sample model as it is (up to the size cap outside the optimised build):
// a face a file bounds by holes alone on a sphere (Ball.brep's ball, a
// sphere less a cap) is no wrong-way loop to be turned into its complement.
// A run takes each model under one of the two recipes, in turn (both met;
// XVELM_ALL_TURNS: each model under both).
TEST(RecipeSamples, TheLoopClassifyingRecipesKeepEverySampleModelsVolumeAndArea)
{
    const fs::path dir = convertScratch();
    int judged = 0;
    std::size_t group = 0;
    const char* const recipes[] = {"iges", "v4"};
    for (const std::string& model : cad_samples::sampleFilesWithinCap()) {
        // Two recipes over the models past 200 KB take many minutes in the
        // unoptimised build; the conversion test judges those models whole.
        if (fs::file_size(model) > 200000 && !std::getenv("XVELM_ALL_SAMPLES"))
            continue;
        const TopoDS_Shape shape = cad_samples::peerRead(model);
        if (shape.IsNull())
            continue;
        const cad_samples::Measures ref = cad_samples::measure(shape);
        const std::size_t modelGroup = group++;
        for (std::size_t r = 0; r < std::size(recipes); ++r) {
            if (!in_turn::taken(modelGroup, r, std::size(recipes)))
                continue;
            const char* recipe = recipes[r];
            SCOPED_TRACE(fs::path(model).filename().string() + ", recipe " + recipe);
            const fs::path out = dir / "healed.step";
            const ConvertRun run = runConvert(model, out.string(), recipe);
            if (run.status != 0) {
                // A refusal is one line naming why, and no file.
                EXPECT_EQ(run.status, 1) << run.err;
                EXPECT_FALSE(fs::exists(out));
                continue;
            }
            const cad_samples::Measures m = measuredAndRemoved(out);
            if (warned(run))
                continue;
            expectSameMeasures(m, ref);
            ++judged;
        }
    }
    fs::remove_all(dir);
    if (judged == 0)
        GTEST_SKIP() << "no sample models under " << cad_samples::SampleFolder;
}

// A sphere and a torus less a piece cut off by a box turned every which way
// (the sphere's cap around no pole: its face is bounded by a hole alone),
// in every frame, through the recipes that classify loops: each keeps its
// side of the cut, the volume and area of the model as it came to the
// recipe (the same conversion unhealed). A run takes each body and tilt in
// one frame, in turn (every frame met by each body; XVELM_ALL_TURNS: all).
TEST(RecipeSamples, FacesBoundedByHolesOnClosedSurfacesKeepTheirSide)
{
    const fs::path dir = convertScratch();
    const TopoDS_Shape bodies[] = {BRepPrimAPI_MakeSphere(10.0).Shape(), BRepPrimAPI_MakeTorus(10.0, 3.0).Shape()};
    const gp_Dir tilts[] = {gp_Dir(1, 0.3, 0.2), gp_Dir(-0.4, 1, 0.5), gp_Dir(0.2, -0.3, -1)};
    const fs::path out = dir / "healed.step";
    auto converted = [&](const fs::path& in, const char* recipe) {
        const ConvertRun run = runConvert(in.string(), out.string(), recipe);
        EXPECT_EQ(run.status, 0) << run.err;
        const cad_samples::Measures m = cad_samples::measure(cad_samples::peerRead(out.string()));
        fs::remove(out);
        return m;
    };
    int k = 0;
    std::size_t group = 0;
    for (const TopoDS_Shape& whole : bodies)
        for (const gp_Dir& tilt : tilts) {
            // A box 40 wide whose face towards the centre lies 6 from it.
            const gp_Ax2 beyond(gp_Pnt(0, 0, 0).Translated(6.0 * gp_Vec(tilt)), tilt);
            gp_Ax2 corner = beyond;
            corner.SetLocation(beyond.Location().Translated(-20.0 * gp_Vec(beyond.XDirection()) -
                                                            20.0 * gp_Vec(beyond.YDirection())));
            const TopoDS_Shape cut = BRepAlgoAPI_Cut(whole, BRepPrimAPI_MakeBox(corner, 40.0, 40.0, 40.0).Shape()).Shape();
            // One frame of each body and tilt a run, every frame and tilt of each body met.
            const std::size_t cutGroup = group++;
            for (std::size_t f = 0; f < std::size(occ_shapes::Frames); ++f) {
                if (!in_turn::taken(cutGroup, f, std::size(occ_shapes::Frames)))
                    continue;
                const char* frame = occ_shapes::Frames[f];
                const fs::path in = dir / ("cut" + std::to_string(k++) + ".brep");
                ASSERT_TRUE(BRepTools::Write(occ_shapes::placed(cut, frame), in.c_str()));
                SCOPED_TRACE(in.filename().string() + " " + frame);
                const cad_samples::Measures given = converted(in, "off");
                ASSERT_TRUE(given.valid);
                ASSERT_EQ(given.solids, 1);
                for (const char* recipe : {"iges", "v4"}) {
                    SCOPED_TRACE(std::string("recipe ") + recipe);
                    const cad_samples::Measures m = converted(in, recipe);
                    EXPECT_TRUE(m.valid);
                    EXPECT_EQ(m.solids, 1);
                    EXPECT_LE(cad_samples::relativeGap(m.volume, given.volume), 1e-6) << m.volume << " " << given.volume;
                    EXPECT_LE(cad_samples::relativeGap(m.area, given.area), 1e-6) << m.area << " " << given.area;
                }
            }
        }
    fs::remove_all(dir);
}

// Vertices moved off their corners by a ten-thousandth and a thousandth of
// the model's size (a STEP file bounds the edges by the moved vertices): the
// gaps healing exists for. Every recipe writes the healed model, as STEP and
// as BREP, valid and holding the model's volume and area within 1e-4 (the
// corners go back where the edges' curves meet), not a refusal and not a
// file another reader finds invalid. CI takes three recipes and writes
// BREP; XVELM_RECIPE_SAMPLES=1 takes every recipe, both files and more models.
TEST(RecipeSamples, EveryRecipeWritesAModelWhoseVerticesWereMovedOffAndKeepsItsMeasures)
{
    const fs::path dir = convertScratch();
    const bool all = std::getenv("XVELM_RECIPE_SAMPLES") != nullptr;
    std::vector<std::pair<std::string, double>> cases = {{"occ/mal_vis.brep", 1e-4}, {"step/screw.step", 1e-3}};
    if (all)
        for (const char* more : {"occ/mal_tige.brep", "occ/MODERN_Sink_1_opened.brep", "occ/MODERN_Cooker_1_opened.brep"})
            for (const double fraction : {1e-4, 1e-3})
                cases.emplace_back(more, fraction);
    std::vector<const char*> recipes = {"standard", "iges", "v4"};
    std::vector<const char*> kinds = {".brep"};
    if (all) {
        recipes.assign(std::begin(kRecipes), std::end(kRecipes));
        kinds.push_back(".step");
    }
    int judged = 0;
    for (const auto& [name, fraction] : cases) {
        const fs::path model = fs::path(cad_samples::SampleFolder) / name;
        if (!fs::exists(model))
            continue;
        const TopoDS_Shape shape = cad_samples::peerRead(model.string());
        ASSERT_FALSE(shape.IsNull()) << name;
        const cad_samples::Measures ref = cad_samples::measure(shape);
        const fs::path moved = dir / "moved.step";
        // The seed the recipe table's damage of that size takes.
        ASSERT_TRUE(writeStepFile(cad_damage::movedVertices(shape, fraction, cad_damage::sizeOf(shape),
                                                            fraction < 5e-4 ? 4u : 5u),
                                  moved));
        for (const char* recipe : recipes)
            for (const char* kind : kinds) {
                SCOPED_TRACE(name + " moved by " + std::to_string(fraction) + ", recipe " + recipe + " into " + kind);
                expectConvertedAsTheReference(moved, dir / (std::string("healed") + kind), recipe, ref);
                ++judged;
            }
    }
    fs::remove_all(dir);
    if (judged == 0)
        GTEST_SKIP() << "no sample models under " << cad_samples::SampleFolder;
}

// Solids handed over as loose faces, each in a shell of its own as unsewn
// writers give them (the faces of two solids that touch among them), in
// every frame: the reader sews each solid closed again and apart from the
// other, and every recipe keeps them, each whole. CI takes the model of two
// touching solids and one recipe; XVELM_RECIPE_SAMPLES=1 every recipe over
// more models.
TEST(RecipeSamples, SolidsHandedOverAsLooseFacesComeBackWholeAndApartInEveryFrame)
{
    const fs::path dir = convertScratch();
    const bool all = std::getenv("XVELM_RECIPE_SAMPLES") != nullptr;
    std::vector<std::string> names = {"occ/MODERN_Refrigerator_1.brep"};
    std::vector<const char*> recipes = {"standard"};
    if (all) {
        names.insert(names.end(), {"occ/wedge_ok.brep", "occ/mal_ecrou.brep", "occ/MODERN_MVCooker_1.brep"});
        recipes.assign(std::begin(kRecipes), std::end(kRecipes));
    }
    int judged = 0;
    for (const std::string& name : names) {
        const fs::path model = fs::path(cad_samples::SampleFolder) / name;
        if (!fs::exists(model))
            continue;
        const TopoDS_Shape shape = cad_samples::peerRead(model.string());
        ASSERT_FALSE(shape.IsNull()) << name;
        for (const char* frame : occ_shapes::Frames) {
            const TopoDS_Shape placed = occ_shapes::placed(shape, frame, cad_damage::sizeOf(shape));
            const cad_samples::Measures ref = cad_samples::measure(placed);
            const fs::path loose = dir / "loose.step";
            ASSERT_TRUE(writeStepFile(cad_damage::looseFaces(placed), loose));
            for (const char* recipe : recipes) {
                SCOPED_TRACE(name + " in the " + frame + " frame, recipe " + recipe);
                expectConvertedAsTheReference(loose, dir / "sewn.brep", recipe, ref);
                ++judged;
            }
        }
    }
    fs::remove_all(dir);
    if (judged == 0)
        GTEST_SKIP() << "no sample models under " << cad_samples::SampleFolder;
}

// Vertices moved off (by 1e-3 of the model's size) where the edges' curves
// still meet (at some corners of the exhaust averaging the curves' feet
// stopped short of where they meet; at others the curves' ends, cut short
// of the corner by less than the vertex was moved, were taken for it): the healed model holds the volume and area the model had, to
// the accuracy of its exact geometry (1e-6; 1e-4 where a face is
// approximated), in every frame, or a warning says what changed. Such a
// corner must not be left where the damage put it and tolerated there (the
// exhaust came back 1.7e-4 off in volume); nor moved to where the curves
// cross far from their ends, another place they meet (the pump nut came back
// 2.9e-3 off in volume, where it is refused naming the face its corners
// leave the STEP writer unable to hold). CI takes the exhaust and the nut
// under one recipe; XVELM_RECIPE_SAMPLES=1 every recipe and more sample
// models.
TEST(RecipeSamples, VerticesMovedOffCornersGoBackWhereTheCurvesMeetInEveryFrame)
{
    const fs::path dir = convertScratch();
    const bool all = std::getenv("XVELM_RECIPE_SAMPLES") != nullptr;
    // Each model, the bound its measures are held to, whether a refusal
    // naming the body may stand for them (the nut's healed corners leave a
    // face the STEP writer cannot hold), and the recipe CI takes it under.
    struct Model {
        std::string name;
        double bound;
        bool mayBeRefused;
        const char* recipe = "step";
        unsigned seed = 5; // of the damage
    };
    std::vector<Model> models = {{"occ/MODERN_Exhaust_1.brep", 1e-6, false},
                                 {"occ/Pump_Nut.brep", 1e-4, true, "standard"}};
    if (all)
        models.insert(models.end(), {{"occ/MODERN_Sink_1.brep", 1e-4, false},
                                     {"occ/mal_vis.brep", 1e-4, false},
                                     {"occ/CrankArm.brep", 1e-4, true},
                                     {"step/screw.step", 1e-4, false}});
    int judged = 0;
    for (const auto& [name, bound, mayBeRefused, ciRecipe, seed] : models) {
        std::vector<const char*> recipes = {ciRecipe};
        if (all)
            recipes.assign(std::begin(kRecipes), std::end(kRecipes));
        const fs::path model = fs::path(cad_samples::SampleFolder) / name;
        if (!fs::exists(model))
            continue;
        const TopoDS_Shape shape = cad_samples::peerRead(model.string());
        ASSERT_FALSE(shape.IsNull()) << name;
        const double size = cad_damage::sizeOf(shape);
        // The damage made once in the model's own frame, then placed.
        const TopoDS_Shape moved = cad_damage::movedVertices(shape, 1e-3, size, seed);
        for (const char* frame : {"identity", "rotated", "mirrored"}) {
            const cad_samples::Measures ref = cad_samples::measure(occ_shapes::placed(shape, frame, size));
            const fs::path in = dir / "moved.step";
            ASSERT_TRUE(writeStepFile(occ_shapes::placed(moved, frame, size), in));
            for (const char* recipe : recipes) {
                SCOPED_TRACE(name + ", frame " + frame + ", recipe " + recipe);
                const fs::path out = dir / "healed.step";
                const ConvertRun run = runConvert(in.string(), out.string(), recipe);
                ++judged;
                if (run.status != 0) {
                    // Refused, naming the body, with nothing written.
                    EXPECT_TRUE(mayBeRefused) << run.err;
                    EXPECT_NE(run.err.find("body "), std::string::npos) << run.err;
                    EXPECT_FALSE(fs::exists(out));
                    continue;
                }
                const cad_samples::Measures m = measuredAndRemoved(out);
                EXPECT_TRUE(m.valid);
                EXPECT_EQ(m.solids, ref.solids);
                EXPECT_EQ(m.faces, ref.faces);
                if (warned(run))
                    continue;
                EXPECT_LE(cad_samples::relativeGap(m.volume, ref.volume), bound) << m.volume << " " << ref.volume;
                EXPECT_LE(cad_samples::relativeGap(m.area, ref.area), bound) << m.area << " " << ref.area;
            }
        }
    }
    fs::remove_all(dir);
    if (judged == 0)
        GTEST_SKIP() << "no sample models under " << cad_samples::SampleFolder;
}
