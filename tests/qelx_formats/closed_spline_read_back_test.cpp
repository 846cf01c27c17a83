// A face on a spline surface closed round one way but not periodic, whose
// pcurves run past the surface's parameters there (the sink sample's solid
// with its tolerances inflated, as read from a STEP file of it): built, it
// closes within its vertices' tolerances; read back from STEP or IGES, whose
// readers make the surface periodic, it may not. Every frame must give a file
// that a strict reader reads back valid, or a refusal naming the face.
#include "cad_damage.hxx"
#include "cad_frames.hxx"
#include "cad_samples.hxx"
#include "qelx_formats/cad_file.hxx"
#include "../support/in_turn.hxx"
#include "../tools/occ_shapes.hxx"

#include <BRep_Tool.hxx>
#include <BRepBuilderAPI_MakeEdge.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_MakeWire.hxx>
#include <BRepBuilderAPI_NurbsConvert.hxx>
#include <BRepBuilderAPI_Transform.hxx>
#include <BRepCheck_Analyzer.hxx>
#include <BRepMesh_IncrementalMesh.hxx>
#include <BRepPrimAPI_MakePrism.hxx>
#include <BRepTools.hxx>
#include <Geom_BSplineSurface.hxx>
#include <GeomAPI_Interpolate.hxx>
#include <gp_Ax2.hxx>
#include <gp_Ax3.hxx>
#include <gp_Dir.hxx>
#include <gp_Pln.hxx>
#include <gp_Pnt.hxx>
#include <gp_Trsf.hxx>
#include <gp_Vec.hxx>
#include <gp_XYZ.hxx>
#include <Poly_Triangulation.hxx>
#include <TColgp_Array2OfPnt.hxx>
#include <TColgp_HArray1OfPnt.hxx>
#include <TColStd_Array1OfInteger.hxx>
#include <TColStd_Array1OfReal.hxx>
#include <TColStd_Array2OfReal.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopLoc_Location.hxx>
#include <TopoDS.hxx>
#include <TopTools_IndexedMapOfShape.hxx>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <random>
#include <regex>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

fs::path closedSplineScratch(const std::string& name)
{
    return fs::temp_directory_path() / ("closed_spline_" + std::to_string(::getpid()) + "_" + name);
}

// The file read without the reader's own healing (STEP) or as it comes
// (IGES), as a strict reader reads it.
TopoDS_Shape strictRead(const fs::path& path)
{
    if (path.extension() != ".step")
        return cad_samples::peerRead(path.string());
    Interface_Static::SetCVal("read.step.resource.name", "");
    if (!Interface_Static::IsPresent("NoHealing.exec.op"))
        Interface_Static::Init("XSTEP", "NoHealing.exec.op", 't', "");
    Interface_Static::SetCVal("read.step.sequence", "NoHealing");
    STEPControl_Reader reader;
    TopoDS_Shape shape;
    if (reader.ReadFile(path.c_str()) == IFSelect_RetDone && reader.TransferRoots() > 0)
        shape = reader.OneShape();
    Interface_Static::SetCVal("read.step.resource.name", "STEP");
    Interface_Static::SetCVal("read.step.sequence", "FromSTEP");
    return shape;
}

} // namespace

TEST(ClosedSplineReadBack, PCurvesPastTheSurfacesKnotsReadBackValidOrAreRefusedNamingTheFace)
{
    const fs::path sample = fs::path(cad_samples::SampleFolder) / "occ" / "MODERN_Sink_1.brep";
    if (!fs::exists(sample))
        GTEST_SKIP() << sample << " is not installed";
    const TopoDS_Shape whole = cad_samples::peerRead(sample.string());
    ASSERT_FALSE(whole.IsNull());
    const double size = cad_damage::sizeOf(whole);
    TopTools_IndexedMapOfShape solids;
    TopExp::MapShapes(whole, TopAbs_SOLID, solids);
    ASSERT_GE(solids.Extent(), 1);
    // Its first solid, whose face 96 lies on such a surface.
    const TopoDS_Shape solid = cad_damage::inflatedTolerances(solids(1), size, 8);
    const char* const frames[] = {"identity", "rotated", "mirrored"};
    const char* const writers[] = {".step", ".igs"};
    // Each surface as read (closed splines open), and as the kernel hands
    // them over (closed splines periodic).
    for (std::size_t w = 0; w < 4; ++w)
        for (std::size_t f = 0; f < 3; ++f) {
            if (!in_turn::taken(w, f, 3))
                continue;
            const bool periodic = w >= 2;
            SCOPED_TRACE(std::string(frames[f]) + writers[w % 2] + (periodic ? ", periodic" : ""));
            const fs::path in = closedSplineScratch("in.step"),
                           out = closedSplineScratch(std::string("out") + writers[w % 2]);
            ASSERT_TRUE(occ_shapes::writeFile(occ_shapes::placed(solid, frames[f], size), in.string()));
            qelx_test::TestModel model;
            std::string error;
            ASSERT_EQ(qelx_formats::readCadFile(in.string(), model, error), QELI_OK) << error;
            fs::remove(in);
            for (qelx_test::TestSurface& s : model.surfaces)
                if (periodic && s.type == qelx_test::SurfNurbs) {
                    s.uClosure = s.uClosure == 1 ? 2 : s.uClosure;
                    s.vClosure = s.vClosure == 1 ? 2 : s.vClosure;
                }
            fs::remove(out);
            if (qelx_formats::writeCadFile(model, out.string(), error) != QELI_OK) {
                EXPECT_TRUE(std::regex_search(error, std::regex("body 0[,:] face [0-9]+"))) << error;
                EXPECT_FALSE(fs::exists(out));
                continue;
            }
            const TopoDS_Shape back = strictRead(out);
            fs::remove(out);
            ASSERT_FALSE(back.IsNull());
            EXPECT_TRUE(BRepCheck_Analyzer(back).IsValid()) << "written with success, read back invalid";
        }
}

namespace {

// A direction of the model's spline surface `s` moved on by `delta` of its
// period: the same points, the knots' start where `delta` of the way round
// was (the surface made periodic, a knot put there as the seam's, started
// there and opened again).
void reorigined(qelx_test::TestSurface& s, bool alongU, double delta)
{
    TColgp_Array2OfPnt poles(1, s.uCount, 1, s.vCount);
    TColStd_Array2OfReal weights(1, s.uCount, 1, s.vCount);
    for (int i = 0; i < s.uCount; ++i)
        for (int j = 0; j < s.vCount; ++j) {
            const std::size_t k = static_cast<std::size_t>(i * s.vCount + j);
            poles(i + 1, j + 1) = gp_Pnt(s.ctrl[3 * k], s.ctrl[3 * k + 1], s.ctrl[3 * k + 2]);
            weights(i + 1, j + 1) = s.weights.empty() ? 1.0 : s.weights[k];
        }
    const auto array = [](const auto& values, auto out) {
        for (std::size_t i = 0; i < values.size(); ++i)
            out(static_cast<int>(i) + 1) = values[i];
        return out;
    };
    const Handle(Geom_BSplineSurface) spline = new Geom_BSplineSurface(
        poles, weights, array(s.uKnots, TColStd_Array1OfReal(1, static_cast<int>(s.uKnots.size()))),
        array(s.vKnots, TColStd_Array1OfReal(1, static_cast<int>(s.vKnots.size()))),
        array(s.uMults, TColStd_Array1OfInteger(1, static_cast<int>(s.uMults.size()))),
        array(s.vMults, TColStd_Array1OfInteger(1, static_cast<int>(s.vMults.size()))), s.uDegree, s.vDegree);
    double u0 = 0.0, u1 = 0.0, v0 = 0.0, v1 = 0.0;
    spline->Bounds(u0, u1, v0, v1);
    if (alongU) {
        const double at = u0 + delta * (u1 - u0);
        spline->SetUPeriodic();
        spline->InsertUKnot(at, spline->UDegree(), 1e-12);
        int index = 1;
        while (index < spline->NbUKnots() && std::abs(spline->UKnot(index) - at) > 1e-9)
            ++index;
        EXPECT_NEAR(spline->UKnot(index), at, 1e-9) << "no knot where the surface is to start";
        spline->SetUOrigin(index);
        spline->SetUNotPeriodic();
    } else {
        const double at = v0 + delta * (v1 - v0);
        spline->SetVPeriodic();
        spline->InsertVKnot(at, spline->VDegree(), 1e-12);
        int index = 1;
        while (index < spline->NbVKnots() && std::abs(spline->VKnot(index) - at) > 1e-9)
            ++index;
        EXPECT_NEAR(spline->VKnot(index), at, 1e-9) << "no knot where the surface is to start";
        spline->SetVOrigin(index);
        spline->SetVNotPeriodic();
    }
    qelx_test::TestModel scratch;
    std::vector<double> ctrl, w, uk, vk;
    std::vector<int> um, vm;
    for (int i = 1; i <= spline->NbUPoles(); ++i)
        for (int j = 1; j <= spline->NbVPoles(); ++j) {
            const gp_Pnt p = spline->Pole(i, j);
            ctrl.insert(ctrl.end(), {p.X(), p.Y(), p.Z()});
            w.push_back(spline->Weight(i, j));
        }
    for (int i = 1; i <= spline->NbUKnots(); ++i) {
        uk.push_back(spline->UKnot(i));
        um.push_back(spline->UMultiplicity(i));
    }
    for (int j = 1; j <= spline->NbVKnots(); ++j) {
        vk.push_back(spline->VKnot(j));
        vm.push_back(spline->VMultiplicity(j));
    }
    const int made = scratch.addNurbsSurface(spline->UDegree(), spline->VDegree(), spline->NbUPoles(),
                                             spline->NbVPoles(), std::move(ctrl), std::move(uk), std::move(um),
                                             std::move(vk), std::move(vm), s.weights.empty() ? std::vector<double>() : w);
    qelx_test::TestSurface moved = scratch.surfaces[static_cast<std::size_t>(made)];
    moved.flag = s.flag;
    moved.uClosure = s.uClosure;
    moved.vClosure = s.vClosure;
    s = moved;
}

// The faces on spline surface `surface` moved on by `periods` whole periods
// in the direction `alongU`: their pcurves and domains.
void facesMovedOn(qelx_test::TestModel& m, int surface, bool alongU, double period, int periods)
{
    const double by = period * periods;
    for (qelx_test::TestFace& f : m.faces) {
        if (f.surface != surface)
            continue;
        double* domain = alongU ? f.uDomain : f.vDomain;
        domain[0] += by;
        domain[1] += by;
        for (const int l : f.loops)
            for (const int co : m.loops[static_cast<std::size_t>(l)].coedges) {
                const int pc = m.coedges[static_cast<std::size_t>(co)].pcurve;
                if (pc < 0)
                    continue;
                std::vector<double>& ctrl = m.pcurves[static_cast<std::size_t>(pc)].nurbs.ctrl;
                for (std::size_t i = alongU ? 0 : 1; i < ctrl.size(); i += 2)
                    ctrl[i] += by;
            }
    }
}

// A solid's area and volume from its faces' triangulation: Open CASCADE's
// integration of a face whose pcurves lie past its periodic spline's knots
// strays by some 1e-3, its meshing does not.
struct MeshedMeasures {
    double area = 0.0, volume = 0.0;
};

MeshedMeasures meshed(const TopoDS_Shape& shape, double size)
{
    MeshedMeasures m;
    BRepMesh_IncrementalMesh(shape, 1e-5 * size, Standard_False, 0.1);
    for (TopExp_Explorer f(shape, TopAbs_FACE); f.More(); f.Next()) {
        TopLoc_Location at;
        const Handle(Poly_Triangulation) mesh = BRep_Tool::Triangulation(TopoDS::Face(f.Current()), at);
        if (mesh.IsNull())
            continue;
        const bool reversed = f.Current().Orientation() == TopAbs_REVERSED;
        for (int t = 1; t <= mesh->NbTriangles(); ++t) {
            int n1 = 0, n2 = 0, n3 = 0;
            mesh->Triangle(t).Get(n1, n2, n3);
            if (reversed)
                std::swap(n2, n3);
            const gp_XYZ a = mesh->Node(n1).Transformed(at.Transformation()).XYZ(),
                         b = mesh->Node(n2).Transformed(at.Transformation()).XYZ(),
                         c = mesh->Node(n3).Transformed(at.Transformation()).XYZ();
            m.area += 0.5 * ((b - a) ^ (c - a)).Modulus();
            m.volume += a.Dot(b ^ c) / 6.0;
        }
    }
    return m;
}

// A tube whose section is a closed spline through seeded points round an
// axis, its faces made splines (a plain spline, which, unlike a circle's,
// leaves its surface evaluated past its knots), of seeded size and place,
// placed in `place`.
TopoDS_Shape splineTube(std::mt19937& random, const gp_Trsf& place)
{
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const gp_Ax2 axis(gp_Pnt(10.0 * unit(random) - 5.0, 10.0 * unit(random) - 5.0, 10.0 * unit(random) - 5.0),
                      gp_Dir(unit(random) - 0.5, unit(random) - 0.5, 1.0));
    const double radius = 0.5 + 10.0 * unit(random), height = 1.0 + 10.0 * unit(random);
    const int count = 7;
    const Handle(TColgp_HArray1OfPnt) points = new TColgp_HArray1OfPnt(1, count);
    for (int i = 0; i < count; ++i) {
        const double turn = 2.0 * M_PI * i / count, r = radius * (0.8 + 0.4 * unit(random));
        points->SetValue(i + 1, axis.Location().Translated(r * std::cos(turn) * gp_Vec(axis.XDirection()) +
                                                           r * std::sin(turn) * gp_Vec(axis.YDirection())));
    }
    GeomAPI_Interpolate section(points, Standard_True, 1e-9);
    section.Perform();
    const TopoDS_Face base =
        BRepBuilderAPI_MakeFace(gp_Pln(gp_Ax3(axis)), BRepBuilderAPI_MakeWire(BRepBuilderAPI_MakeEdge(section.Curve()).Edge()).Wire())
            .Face();
    const TopoDS_Shape tube = BRepPrimAPI_MakePrism(base, height * gp_Vec(axis.Direction())).Shape();
    const TopoDS_Shape splines = BRepBuilderAPI_NurbsConvert(tube, Standard_True).Shape();
    return BRepBuilderAPI_Transform(splines, place, Standard_True).Shape();
}

} // namespace

// A spline surface the model holds periodic (as the kernel hands its closed
// splines over), its faces' pcurves a whole period past its knots, or running
// across its knots' start (the surface started part of the way round, its
// faces as they were): every writer writes the solid, and it reads back valid
// with its volume and area, in every frame. Built open, such a surface was
// evaluated past its knots, its edges as wide as the tube.
TEST(ClosedSplineReadBack, FacesOnAPeriodicSplinePastItsKnotsAreWrittenWhole)
{
    const std::vector<std::pair<const char*, gp_Trsf>> frames = cad_frames::threeFrames();
    const char* const writers[] = {".brep", ".step", ".igs"};
    std::mt19937 random(50);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    int written = 0;
    for (std::size_t seed = 0; seed < 4; ++seed)
        for (std::size_t f = 0; f < 3; ++f) {
            const TopoDS_Shape solid = splineTube(random, frames[f].second);
            // A whole period back or on, or started a little, about half or
            // nearly all the way round.
            const int periods = seed == 0 ? -1 : seed == 1 ? 1 : 0;
            const double delta = seed == 2 ? 0.01 + 0.1 * unit(random) : 0.5 + 0.45 * unit(random);
            if (!in_turn::taken(seed, f, 3))
                continue;
            SCOPED_TRACE(std::string(frames[f].first) + ", " +
                         (periods != 0 ? std::to_string(periods) + " periods" : "started at " + std::to_string(delta)));
            const cad_samples::Measures before = cad_samples::measure(solid);
            ASSERT_TRUE(before.valid);
            const double size = cad_damage::sizeOf(solid);
            const MeshedMeasures whole = meshed(solid, size);
            const fs::path in = closedSplineScratch("tube.brep");
            ASSERT_TRUE(BRepTools::Write(solid, in.c_str()));
            qelx_test::TestModel model;
            std::string error;
            ASSERT_EQ(qelx_formats::readCadFile(in.string(), model, error), QELI_OK) << error;
            fs::remove(in);
            int closed = 0;
            for (std::size_t s = 0; s < model.surfaces.size(); ++s) {
                qelx_test::TestSurface& surface = model.surfaces[s];
                if (surface.type != qelx_test::SurfNurbs || surface.uClosure + surface.vClosure != 1)
                    continue;
                const bool alongU = surface.uClosure == 1;
                (alongU ? surface.uClosure : surface.vClosure) = 2;
                if (periods != 0)
                    facesMovedOn(model, static_cast<int>(s),
                                 alongU, alongU ? surface.uSpan[1] - surface.uSpan[0] : surface.vSpan[1] - surface.vSpan[0],
                                 periods);
                else
                    reorigined(surface, alongU, delta);
                ++closed;
            }
            ASSERT_EQ(closed, 1);
            // Every face on it now lies past its knots, in part or whole.
            for (const qelx_test::TestFace& face : model.faces) {
                const qelx_test::TestSurface& on = model.surfaces[static_cast<std::size_t>(face.surface)];
                if (on.uClosure != 2 && on.vClosure != 2)
                    continue;
                const double* domain = on.uClosure == 2 ? face.uDomain : face.vDomain;
                const double* span = on.uClosure == 2 ? on.uSpan : on.vSpan;
                EXPECT_TRUE(domain[0] < span[0] - 1e-9 || domain[1] > span[1] + 1e-9);
            }
            for (const char* writer : writers) {
                SCOPED_TRACE(writer);
                const fs::path out = closedSplineScratch(std::string("tube") + writer);
                ASSERT_EQ(qelx_formats::writeCadFile(model, out.string(), error), QELI_OK) << error;
                const TopoDS_Shape read = strictRead(out);
                fs::remove(out);
                const cad_samples::Measures back = cad_samples::measure(read);
                EXPECT_TRUE(back.valid);
                EXPECT_EQ(back.solids, 1);
                EXPECT_EQ(back.faces, before.faces);
                const MeshedMeasures kept = meshed(read, size);
                EXPECT_LT(cad_samples::relativeGap(kept.volume, whole.volume), 1e-7) << kept.volume << " of " << whole.volume;
                EXPECT_LT(cad_samples::relativeGap(kept.area, whole.area), 1e-7) << kept.area << " of " << whole.area;
                ++written;
            }
        }
    EXPECT_GE(written, 3 * (in_turn::allTurns() ? 12 : 4));
}
