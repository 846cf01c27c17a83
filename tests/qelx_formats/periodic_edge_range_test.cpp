// A closed spline edge on a periodic curve whose range runs across the
// curve's start (a healed vertex moved it there; lawful on a periodic
// curve): every writer writes it, and the file reads back as the disc it
// bounds, its area and its rim's length kept, in every frame.
#include "cad_samples.hxx"
#include "cad_frames.hxx"
#include "qelx_formats/cad_file.hxx"
#include "../support/in_turn.hxx"

#include <BRepBuilderAPI_MakeEdge.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_MakeWire.hxx>
#include <BRepBuilderAPI_Transform.hxx>
#include <BRepGProp.hxx>
#include <BRepTools.hxx>
#include <GProp_GProps.hxx>
#include <GeomConvert.hxx>
#include <Geom_BSplineCurve.hxx>
#include <Geom_Circle.hxx>
#include <gp_Ax3.hxx>
#include <gp_Pln.hxx>
#include <TColStd_Array1OfInteger.hxx>
#include <TColStd_Array1OfReal.hxx>
#include <TColgp_Array1OfPnt.hxx>
#include <TopExp_Explorer.hxx>
#include <gp_Ax2.hxx>
#include <gp_Circ.hxx>
#include <gp_Trsf.hxx>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <random>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

fs::path periodicScratch(const std::string& name)
{
    return fs::temp_directory_path() / ("periodic_range_" + std::to_string(::getpid()) + "_" + name);
}

// The model's spline curve as Open CASCADE evaluates it.
Handle(Geom_BSplineCurve) splineOf(const qelx_test::TestNurbs& n)
{
    TColgp_Array1OfPnt poles(1, n.count);
    TColStd_Array1OfReal weights(1, n.count);
    for (int i = 0; i < n.count; ++i) {
        poles(i + 1) = gp_Pnt(n.ctrl[3 * i], n.ctrl[3 * i + 1], n.ctrl[3 * i + 2]);
        weights(i + 1) = n.weights.empty() ? 1.0 : n.weights[static_cast<std::size_t>(i)];
    }
    const int nk = static_cast<int>(n.knots.size());
    TColStd_Array1OfReal knots(1, nk);
    TColStd_Array1OfInteger mults(1, nk);
    for (int i = 0; i < nk; ++i) {
        knots(i + 1) = n.knots[static_cast<std::size_t>(i)];
        mults(i + 1) = n.mults[static_cast<std::size_t>(i)];
    }
    return new Geom_BSplineCurve(poles, weights, knots, mults, n.degree);
}

// A flat disc of radius `radius` bounded by one closed spline edge (the
// circle's exact rational spline), placed in
// `place`, as a model read from Open CASCADE's BREP file of it; its rim's
// curve marked periodic and the rim's range moved on by `shift` of its
// period (past its curve's end: across the start where it is not whole),
// the rim's vertex moved to the curve's point where the range now starts.
// The rim's pcurve is left to the writer to project.
qelx_test::TestModel shiftedDisc(double radius, const gp_Pnt& centre, const gp_Trsf& place, double shift)
{
    const gp_Ax2 frame(centre, gp_Dir(0.3, -0.2, 1.0));
    const Handle(Geom_Curve) rim = GeomConvert::CurveToBSplineCurve(new Geom_Circle(frame, radius));
    const TopoDS_Face disc =
        BRepBuilderAPI_MakeFace(gp_Pln(gp_Ax3(frame)), BRepBuilderAPI_MakeWire(BRepBuilderAPI_MakeEdge(rim).Edge()).Wire())
            .Face();
    const TopoDS_Shape placed = BRepBuilderAPI_Transform(disc, place, Standard_True).Shape();
    const fs::path in = periodicScratch("in.brep");
    EXPECT_TRUE(BRepTools::Write(placed, in.c_str()));
    qelx_test::TestModel m;
    std::string error;
    EXPECT_EQ(qelx_formats::readCadFile(in.string(), m, error), QELI_OK) << error;
    fs::remove(in);
    int shifted = 0;
    for (qelx_test::TestEdge& e : m.edges) {
        if (e.curve < 0 || e.start < 0 || e.start != e.end)
            continue;
        qelx_test::TestCurve& c = m.curves[static_cast<std::size_t>(e.curve)];
        if (c.type != qelx_test::CurvNurbs)
            continue;
        c.nurbs.form = 2;
        const double span = e.domain[1] - e.domain[0];
        e.domain[0] += shift * span;
        e.domain[1] += shift * span;
        // The point a period on: the spline is evaluated within its knots.
        const Handle(Geom_BSplineCurve) spline = splineOf(c.nurbs);
        const double first = spline->FirstParameter(), period = spline->LastParameter() - first;
        const double s = c.scale * (e.sense ? e.domain[0] : -e.domain[0]) + c.offset;
        const gp_Pnt at = spline->Value(s - std::floor((s - first) / period) * period);
        const int point = m.vertices[static_cast<std::size_t>(e.start)].point;
        m.points[static_cast<std::size_t>(point)] = qelx_test::Vec3{at.X(), at.Y(), at.Z()};
        for (int co : e.coedges)
            m.coedges[static_cast<std::size_t>(co)].pcurve = -1;
        ++shifted;
    }
    EXPECT_EQ(shifted, 1);
    return m;
}

// The faces' area integrated to a billionth (the plain integration of a
// spline disc strays by some 1e-5).
double facesArea(const TopoDS_Shape& shape)
{
    GProp_GProps props;
    BRepGProp::SurfaceProperties(shape, props, 1e-9);
    return props.Mass();
}

double edgesLength(const TopoDS_Shape& shape)
{
    GProp_GProps props;
    BRepGProp::LinearProperties(shape, props);
    return props.Mass();
}

} // namespace

// Seeded discs, the rim's range moved on by part of a period (across the
// start) or by more than a whole one, in three frames, through every writer.
TEST(PeriodicEdgeRanges, RangeAcrossTheCurvesStartIsWrittenAndReadsBackWhole)
{
    const std::vector<std::pair<const char*, gp_Trsf>> frames = cad_frames::threeFrames();
    const char* const writers[] = {".brep", ".step", ".igs"};
    std::mt19937 random(49);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    int written = 0;
    for (std::size_t seed = 0; seed < 4; ++seed) {
        const double radius = 0.5 + 20.0 * unit(random);
        const gp_Pnt centre(10.0 * unit(random) - 5.0, 10.0 * unit(random) - 5.0, 10.0 * unit(random) - 5.0);
        // Across the start (a little, about half, nearly all), then a whole
        // period and part of another.
        const double shift = seed == 3 ? 1.0 + 0.05 + 0.9 * unit(random) : seed * 0.45 + 0.01 + 0.04 * unit(random);
        for (std::size_t f = 0; f < 3; ++f) {
            if (!in_turn::taken(seed, f, 3))
                continue;
            const auto& [frame, place] = frames[f];
            SCOPED_TRACE(std::string(frame) + ", radius " + std::to_string(radius) + ", shift " + std::to_string(shift));
            const qelx_test::TestModel model = shiftedDisc(radius, centre, place, shift);
            for (const char* writer : writers) {
                SCOPED_TRACE(writer);
                const fs::path out = periodicScratch(std::string("out") + writer);
                std::string error;
                ASSERT_EQ(qelx_formats::writeCadFile(model, out.string(), error), QELI_OK) << error;
                const TopoDS_Shape back = cad_samples::peerRead(out.string());
                fs::remove(out);
                const cad_samples::Measures m = cad_samples::measure(back);
                EXPECT_TRUE(m.valid);
                EXPECT_EQ(m.faces, 1);
                EXPECT_LT(cad_samples::relativeGap(facesArea(back), M_PI * radius * radius), 1e-6) << facesArea(back);
                EXPECT_LT(cad_samples::relativeGap(edgesLength(back), 2.0 * M_PI * radius), 1e-6) << edgesLength(back);
                ++written;
            }
        }
    }
    EXPECT_GE(written, 12);
}
