// A writer handed a model alone (no measures of its bodies from elsewhere)
// must still see a face turned against its loops (its sense turned, its
// loops not: it bounds the rest of its surface): every writer refuses it
// naming the face, and writes the model as it was into a file Open CASCADE
// reads back valid with the source's area and volume. So too where a seam's
// two pcurves lie on one side of the period, which says nothing of the
// side the face is on: the loops' winding does.
#include "cad_samples.hxx"
#include "qelx_formats/cad_file.hxx"

#include <BRepAlgoAPI_Cut.hxx>
#include <BRepBuilderAPI_Transform.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeCone.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRepPrimAPI_MakeSphere.hxx>
#include <BRepPrimAPI_MakeTorus.hxx>
#include <BRepTools.hxx>
#include <gp_Ax2.hxx>
#include <gp_Trsf.hxx>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

const char* const kTurnedWriters[] = {".step", ".igs", ".brep"};

fs::path turnedScratch(const std::string& name)
{
    return fs::temp_directory_path() / ("turned_faces_" + std::to_string(::getpid()) + "_" + name);
}

std::vector<std::pair<const char*, gp_Trsf>> turnedFrames()
{
    gp_Trsf turn, mirror;
    turn.SetRotation(gp_Ax1(gp_Pnt(1, -2, 3), gp_Dir(1, 2, 2)), 0.7);
    turn.SetTranslationPart(gp_Vec(3, -1, 2));
    mirror.SetMirror(gp_Ax2(gp_Pnt(0, 0, 1), gp_Dir(1, 1, 0)));
    return {{"identity", gp_Trsf()}, {"rotated", turn}, {"mirrored", mirror}};
}

// A solid placed in a frame, read as a model from Open CASCADE's BREP file
// of it, with Open CASCADE's measures of it.
struct TurnedSource {
    qelx_test::TestModel model;
    cad_samples::Measures measures;
};

TurnedSource turnedSource(const TopoDS_Shape& solid, const gp_Trsf& place)
{
    TurnedSource out;
    const TopoDS_Shape shape = BRepBuilderAPI_Transform(solid, place, Standard_True).Shape();
    out.measures = cad_samples::measure(shape);
    EXPECT_TRUE(out.measures.valid);
    const fs::path in = turnedScratch("in.brep");
    EXPECT_TRUE(BRepTools::Write(shape, in.c_str()));
    std::string error;
    EXPECT_EQ(qelx_formats::readCadFile(in.string(), out.model, error), QELI_OK) << error;
    EXPECT_EQ(out.model.bodies.size(), 1u);
    fs::remove(in);
    return out;
}

// Written by `writer`, the file holds the source's solid.
void expectWrittenAsTheSource(const qelx_test::TestModel& model, const char* writer,
                              const cad_samples::Measures& source)
{
    const fs::path out = turnedScratch(std::string("out") + writer);
    std::string error;
    ASSERT_EQ(qelx_formats::writeCadFile(model, out.string(), error), QELI_OK) << error;
    const cad_samples::Measures back = cad_samples::measure(cad_samples::peerRead(out.string()));
    fs::remove(out);
    EXPECT_TRUE(back.valid);
    EXPECT_EQ(back.solids, 1);
    EXPECT_LT(cad_samples::relativeGap(back.area, source.area), 1e-5) << back.area << " where " << source.area;
    EXPECT_LT(cad_samples::relativeGap(back.volume, source.volume), 1e-5)
        << back.volume << " where " << source.volume;
}

// With its face `f` turned against its loops, the model is refused by
// `writer` naming that face, and no file is left.
void expectTurnedFaceRefused(const qelx_test::TestModel& model, std::size_t f, const char* writer)
{
    SCOPED_TRACE("face " + std::to_string(f));
    qelx_test::TestModel turned = model;
    turned.faces[f].sense = !turned.faces[f].sense;
    const fs::path out = turnedScratch(std::string("out") + writer);
    fs::remove(out);
    std::string error;
    EXPECT_NE(qelx_formats::writeCadFile(turned, out.string(), error), QELI_OK);
    const std::string name = "body 0, face " + std::to_string(f) + ":";
    EXPECT_NE(error.find(name), std::string::npos) << error << "\nnot " << name;
    EXPECT_FALSE(fs::exists(out));
}

// Wedges on a cylinder's and cone's sides, a sphere's (less a nick, which a
// meridian face holds) and a torus's, a whole cylinder, a block with a
// torus's tube dipping into its top and a piece of a torus (patches of the
// torus clear of its seams): every face, whatever its surface, turned in
// turn.
TEST(TurnedFaces, EveryWriterRefusesAFaceTurnedAgainstItsLoopsNamingIt)
{
    const double wedge = 1.5 * M_PI;
    const TopoDS_Shape nick = BRepPrimAPI_MakeBox(gp_Pnt(2.5, -0.5, -0.5), 1.0, 1.0, 1.0).Shape();
    // Tilted half a right angle, its lowest point a quarter turn round the
    // ring from its seam and an eighth round the tube from the seam there.
    const TopoDS_Shape ring = BRepPrimAPI_MakeTorus(
        gp_Ax2(gp_Pnt(-1.5 - 3.0 * std::cos(M_PI / 4), 0.5, 3.0 * std::sin(M_PI / 4) + 0.9),
               gp_Dir(std::sin(M_PI / 4), 0, std::cos(M_PI / 4)), gp_Dir(0, -1, 0)),
        3.0, 1.0).Shape();
    const TopoDS_Shape block = BRepPrimAPI_MakeBox(gp_Pnt(-4, -3, -3), 7.0, 6.0, 3.0).Shape();
    const std::pair<const char*, TopoDS_Shape> solids[] = {
        {"cylinder", BRepPrimAPI_MakeCylinder(2.0, 4.0).Shape()},
        {"cone wedge", BRepPrimAPI_MakeCone(2.0, 0.5, 4.0, wedge).Shape()},
        {"sphere wedge less a nick", BRepAlgoAPI_Cut(BRepPrimAPI_MakeSphere(3.0, wedge).Shape(), nick).Shape()},
        {"torus wedge", BRepPrimAPI_MakeTorus(5.0, 1.5, wedge).Shape()},
        {"torus dimple in a block", BRepAlgoAPI_Cut(block, ring).Shape()},
        // Its face a patch filling its box, bounded by two tube arcs and two
        // arcs round the axis.
        {"torus patch", BRepPrimAPI_MakeTorus(5.0, 1.5, -0.4 * M_PI, 0.7 * M_PI, wedge).Shape()},
    };
    int refusals = 0;
    for (const auto& [name, solid] : solids)
        for (const auto& [frame, place] : turnedFrames()) {
            const TurnedSource source = turnedSource(solid, place);
            for (const char* writer : kTurnedWriters) {
                SCOPED_TRACE(std::string(name) + ", " + frame + ", " + writer);
                expectWrittenAsTheSource(source.model, writer, source.measures);
                for (std::size_t f = 0; f < source.model.faces.size(); ++f, ++refusals)
                    expectTurnedFaceRefused(source.model, f, writer);
            }
        }
    EXPECT_GT(refusals, 0);
}

// The model's face holding a seam whose two pcurves are one period apart,
// the first moved by `firstBy` and the second by `secondBy` times the period
// from the first to the second; the face, or none. So the second moved onto
// the first's side (0, -1: both at u = 0, as an import that loses the period
// leaves them), or the two traded (1, -1: each a period from where its loop
// runs on, as a refit of a loop's pcurves can leave them).
// `skip` seams of such faces are passed over first (a torus face holding
// both of its seams).
std::optional<std::size_t> seamMoved(qelx_test::TestModel& m, double firstBy, double secondBy, int skip = 0)
{
    for (std::size_t e = 0; e < m.edges.size(); ++e) {
        const std::vector<int>& uses = m.edges[e].coedges;
        if (uses.size() != 2)
            continue;
        const qelx_test::TestCoedge &a = m.coedges.at(static_cast<std::size_t>(uses[0])),
                                    &b = m.coedges.at(static_cast<std::size_t>(uses[1]));
        if (a.pcurve < 0 || b.pcurve < 0 || a.pcurve == b.pcurve ||
            m.loops.at(static_cast<std::size_t>(a.loop)).face != m.loops.at(static_cast<std::size_t>(b.loop)).face)
            continue;
        std::vector<double>& from = m.pcurves.at(static_cast<std::size_t>(a.pcurve)).nurbs.ctrl;
        std::vector<double>& to = m.pcurves.at(static_cast<std::size_t>(b.pcurve)).nurbs.ctrl;
        if (from.size() < 4 || to.size() < 4)
            continue;
        // The period between them: along one parameter, the same at both
        // ends whichever way the second runs.
        for (const std::size_t end : {std::size_t{0}, from.size() - 2}) {
            const double du = to[0] - from[end], dv = to[1] - from[end + 1];
            const double du2 = to[to.size() - 2] - from[from.size() - 2 - end],
                         dv2 = to[to.size() - 1] - from[from.size() - 1 - end];
            if (std::hypot(du - du2, dv - dv2) > 1e-9 || std::hypot(du, dv) < 1e-3 ||
                std::min(std::abs(du), std::abs(dv)) > 1e-9)
                continue;
            if (skip-- > 0)
                break;
            for (std::size_t k = 0; k + 1 < from.size(); k += 2)
                from[k] += firstBy * du, from[k + 1] += firstBy * dv;
            for (std::size_t k = 0; k + 1 < to.size(); k += 2)
                to[k] += secondBy * du, to[k + 1] += secondBy * dv;
            return static_cast<std::size_t>(m.loops.at(static_cast<std::size_t>(a.loop)).face);
        }
    }
    return std::nullopt;
}

// Solids on periodic surfaces, a face's seam planted on one side:
// written as the body the loops bound, and refused turned.
TEST(TurnedFaces, ASeamHeldOnOneSideLeavesTheSideToTheLoopsWinding)
{
    const std::pair<const char*, TopoDS_Shape> solids[] = {
        {"cylinder", BRepPrimAPI_MakeCylinder(2.0, 4.0).Shape()},
        {"cone", BRepPrimAPI_MakeCone(2.0, 0.5, 4.0).Shape()},
        {"sphere band", BRepPrimAPI_MakeSphere(3.0, -0.5, 0.8).Shape()},
        {"torus wedge", BRepPrimAPI_MakeTorus(5.0, 1.5, 1.5 * M_PI).Shape()},
    };
    for (const auto& [name, solid] : solids)
        for (const auto& [frame, place] : turnedFrames()) {
            TurnedSource source = turnedSource(solid, place);
            const std::optional<std::size_t> face = seamMoved(source.model, 0.0, -1.0);
            ASSERT_TRUE(face) << name << ", " << frame << ": no seam with two pcurves";
            for (const char* writer : kTurnedWriters) {
                SCOPED_TRACE(std::string(name) + ", " + frame + ", " + writer);
                expectWrittenAsTheSource(source.model, writer, source.measures);
                expectTurnedFaceRefused(source.model, *face, writer);
            }
        }
}

// Solids on periodic surfaces, a face's seam pcurves traded between its
// uses, or one of them thrown two periods across (any of which, joining
// up, would say the face is turned): written as the body the loops bound,
// and refused turned.
TEST(TurnedFaces, ASeamsPCurvesOffTheirLoopLeaveTheSideToTheLoopsWinding)
{
    const std::pair<const char*, TopoDS_Shape> solids[] = {
        {"cylinder", BRepPrimAPI_MakeCylinder(2.0, 4.0).Shape()},
        {"cone", BRepPrimAPI_MakeCone(2.0, 0.5, 4.0).Shape()},
        {"sphere band", BRepPrimAPI_MakeSphere(3.0, -0.5, 0.8).Shape()},
        {"torus wedge", BRepPrimAPI_MakeTorus(5.0, 1.5, 1.5 * M_PI).Shape()},
    };
    const std::pair<const char*, std::pair<double, double>> moves[] = {
        {"traded", {1.0, -1.0}}, {"first thrown across", {2.0, 0.0}}, {"second thrown across", {0.0, -2.0}}};
    for (const auto& [name, solid] : solids)
        for (const auto& [frame, place] : turnedFrames())
            for (const auto& [how, by] : moves) {
                TurnedSource source = turnedSource(solid, place);
                const std::optional<std::size_t> face = seamMoved(source.model, by.first, by.second);
                ASSERT_TRUE(face) << name << ", " << frame << ": no seam with two pcurves";
                for (const char* writer : kTurnedWriters) {
                    SCOPED_TRACE(std::string(name) + ", " + frame + ", " + how + ", " + writer);
                    expectWrittenAsTheSource(source.model, writer, source.measures);
                    expectTurnedFaceRefused(source.model, *face, writer);
                }
            }
}

// A torus less a seeded bite out of its tube where its two seams cross:
// its torus face's loop holds both seams, each split by the bite, and the
// bite's edges. Each seam's two pcurves, in turn and together, are left as
// an import may leave them (both on one side, traded, one thrown two periods
// across, at seeded choices): the face is written as the body its loops
// bound, and refused turned, in every frame and by every writer.
TEST(TurnedFaces, ALoopHoldingBothSeamsOfATorusLeavesTheSideToTheLoopsWinding)
{
    const std::pair<double, double> moves[] = {{0.0, 0.0}, {0.0, -1.0}, {1.0, -1.0}, {2.0, 0.0}, {0.0, -2.0}};
    std::mt19937 random(47);
    std::uniform_real_distribution<double> near(-0.2, 0.2), turn(-0.3, 0.3);
    std::uniform_int_distribution<std::size_t> pick(0, std::size(moves) - 1);
    int cases = 0;
    for (int bite = 0; bite < 2; ++bite) {
        // A small block over the point where the seams cross (the outside
        // of the tube at the start of the ring), moved and turned a seeded
        // little.
        gp_Trsf where;
        where.SetRotation(gp_Ax1(gp_Pnt(0, 0, 0), gp_Dir(near(random), near(random), 1.0)), turn(random));
        where.SetTranslationPart(gp_Vec(6.5 + near(random), near(random), near(random)));
        const TopoDS_Shape block = BRepBuilderAPI_Transform(
            BRepPrimAPI_MakeBox(gp_Pnt(-0.6, -0.6, -0.6), 1.2, 1.2, 1.2).Shape(), where, Standard_True).Shape();
        const TopoDS_Shape solid = BRepAlgoAPI_Cut(BRepPrimAPI_MakeTorus(5.0, 1.5).Shape(), block).Shape();
        for (const auto& [frame, place] : turnedFrames()) {
            // Each seam alone, then both, each by a seeded move.
            for (const int which : {0, 1, 2}) {
                const auto first = moves[pick(random)], second = moves[pick(random)];
                TurnedSource source = turnedSource(solid, place);
                // The second seam first: the first, moved, may no longer
                // look like one.
                std::optional<std::size_t> face;
                if (which != 0) {
                    face = seamMoved(source.model, second.first, second.second, 1);
                    ASSERT_TRUE(face) << frame << ": the torus face holds one seam";
                }
                if (which != 1) {
                    const std::optional<std::size_t> other = seamMoved(source.model, first.first, first.second, 0);
                    ASSERT_TRUE(other) << frame << ": no seam with two pcurves";
                    ASSERT_TRUE(!face || *face == *other);
                    face = other;
                }
                for (const char* writer : kTurnedWriters) {
                    SCOPED_TRACE("bite " + std::to_string(bite) + ", " + frame + ", seams " + std::to_string(which) +
                                 " moved by (" + std::to_string(first.first) + ", " + std::to_string(first.second) +
                                 ") and (" + std::to_string(second.first) + ", " + std::to_string(second.second) +
                                 "), " + writer);
                    expectWrittenAsTheSource(source.model, writer, source.measures);
                    expectTurnedFaceRefused(source.model, *face, writer);
                    ++cases;
                }
            }
        }
    }
    EXPECT_GT(cases, 0);
}

} // namespace
