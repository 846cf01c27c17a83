// An edge whose range runs past its spline's end knot: a little past (up to
// a thousandth of the span) it is held in and every writer writes the solid
// it bounds, read back valid with its volume; further past, every writer
// refuses the model naming body and edge and leaves no file. The BREP file
// keeps the range as written, so it alone would read back invalid (or as
// another solid) were the range written as it came.
#include "cad_samples.hxx"
#include "qelx_formats/cad_file.hxx"

#include <BRepBuilderAPI_NurbsConvert.hxx>
#include <BRepBuilderAPI_Transform.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepTools.hxx>
#include <gp_Ax2.hxx>
#include <gp_Trsf.hxx>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

fs::path pastKnotsScratch(const std::string& name)
{
    return fs::temp_directory_path() / ("past_knots_" + std::to_string(::getpid()) + "_" + name);
}

std::vector<std::pair<const char*, gp_Trsf>> pastKnotsFrames()
{
    gp_Trsf turn, mirror;
    turn.SetRotation(gp_Ax1(gp_Pnt(1, -2, 3), gp_Dir(1, 2, 2)), 0.7);
    turn.SetTranslationPart(gp_Vec(3, -1, 2));
    mirror.SetMirror(gp_Ax2(gp_Pnt(0, 0, 1), gp_Dir(1, 1, 0)));
    return {{"identity", gp_Trsf()}, {"rotated", turn}, {"mirrored", mirror}};
}

// A 4 x 5 x 6 box placed in `place`, every curve and surface a spline, read
// as a model from Open CASCADE's BREP file of it.
qelx_test::TestModel splineBox(const gp_Trsf& place)
{
    const TopoDS_Shape box = BRepPrimAPI_MakeBox(gp_Pnt(1, 2, 3), 4.0, 5.0, 6.0).Shape();
    const TopoDS_Shape placed = BRepBuilderAPI_Transform(box, place, Standard_True).Shape();
    const fs::path in = pastKnotsScratch("in.brep");
    EXPECT_TRUE(BRepTools::Write(BRepBuilderAPI_NurbsConvert(placed).Shape(), in.c_str()));
    qelx_test::TestModel model;
    std::string error;
    EXPECT_EQ(qelx_formats::readCadFile(in.string(), model, error), QELI_OK) << error;
    fs::remove(in);
    return model;
}

bool onSpline(const qelx_test::TestModel& m, const qelx_test::TestEdge& e)
{
    return e.curve >= 0 && m.curves[static_cast<std::size_t>(e.curve)].type == qelx_test::CurvNurbs;
}

// Whether the edge runs against its curve in the built shape (its domain's
// first end then lies at the curve's last knot).
bool againstItsCurve(const qelx_test::TestModel& m, const qelx_test::TestEdge& e)
{
    return (m.curves[static_cast<std::size_t>(e.curve)].scale < 0.0) == e.sense;
}

// The model with each spline edge's curve run the other way (its knots and
// control points turned round, its parameter map negated): the same points
// at each edge parameter, the built edges now running against their curves.
qelx_test::TestModel curvesTurnedRound(qelx_test::TestModel m)
{
    for (qelx_test::TestCurve& c : m.curves) {
        if (c.type != qelx_test::CurvNurbs)
            continue;
        qelx_test::TestNurbs& n = c.nurbs;
        std::vector<double> ctrl;
        for (int i = n.count - 1; i >= 0; --i)
            ctrl.insert(ctrl.end(), n.ctrl.begin() + 3 * i, n.ctrl.begin() + 3 * i + 3);
        n.ctrl = std::move(ctrl);
        std::reverse(n.weights.begin(), n.weights.end());
        std::reverse(n.knots.begin(), n.knots.end());
        for (double& k : n.knots)
            k = -k;
        std::reverse(n.mults.begin(), n.mults.end());
        c.scale = -c.scale;
        c.offset = -c.offset;
    }
    return m;
}

const char* const kPastKnotsWriters[] = {".brep", ".step", ".igs"};

// One model written by every writer: a model whose edges ran `offset` of
// their span past their curves' knots is written and reads back as the box;
// with `named` (an edge pushed further than can be held in), every writer
// refuses it naming body and edge and leaves no file.
void expectBoxOrRefusal(const qelx_test::TestModel& model, int named)
{
    for (const char* writer : kPastKnotsWriters) {
        SCOPED_TRACE(writer);
        const fs::path out = pastKnotsScratch(std::string("out") + writer);
        fs::remove(out);
        std::string error;
        const int status = qelx_formats::writeCadFile(model, out.string(), error);
        if (named >= 0) {
            EXPECT_NE(status, QELI_OK);
            const std::string name = "body 0: edge " + std::to_string(named) + ": its range runs past";
            EXPECT_NE(error.find(name), std::string::npos) << error << "\nnot " << name;
            EXPECT_FALSE(fs::exists(out));
            continue;
        }
        ASSERT_EQ(status, QELI_OK) << error;
        const cad_samples::Measures back = cad_samples::measure(cad_samples::peerRead(out.string()));
        fs::remove(out);
        EXPECT_TRUE(back.valid);
        EXPECT_EQ(back.solids, 1);
        EXPECT_EQ(back.faces, 6);
        EXPECT_LT(cad_samples::relativeGap(back.volume, 120.0), 1e-6) << back.volume;
    }
}

} // namespace

// Each spline edge of the box pushed past its curve at its domain's start or
// end (the curve's first or last knot, as the edge runs along or against
// it), in three frames.
TEST(EdgeRangesPastKnots, HeldInUpToAThousandthOfTheSpanAndRefusedNamingTheEdgeBeyond)
{
    const double offsets[] = {1e-8, 1e-6, 1e-4, 1e-2};
    int along = 0, against = 0;
    for (const auto& [frame, place] : pastKnotsFrames()) {
        const qelx_test::TestModel asRead = splineBox(place);
        for (const bool turned : {false, true}) {
            const qelx_test::TestModel box = turned ? curvesTurnedRound(asRead) : asRead;
            for (const double offset : offsets)
                for (int end = 0; end < 2; ++end) {
                    SCOPED_TRACE(std::string(frame) + (turned ? ", curves turned round" : "") + ", offset " +
                                 std::to_string(offset) + ", domain end " + std::to_string(end));
                    qelx_test::TestModel model = box;
                    int pushed = 0, last = -1;
                    for (std::size_t i = 0; i < model.edges.size(); ++i) {
                        qelx_test::TestEdge& e = model.edges[i];
                        if (!onSpline(model, e))
                            continue;
                        (againstItsCurve(model, e) ? against : along) += 1;
                        e.domain[end] += (end ? 1.0 : -1.0) * offset * (e.domain[1] - e.domain[0]);
                        ++pushed;
                        last = static_cast<int>(i);
                    }
                    ASSERT_EQ(pushed, 12);
                    if (offset < 1e-3) {
                        expectBoxOrRefusal(model, -1);
                    } else {
                        // One edge alone pushed so far.
                        qelx_test::TestModel one = box;
                        one.edges[static_cast<std::size_t>(last)] = model.edges[static_cast<std::size_t>(last)];
                        expectBoxOrRefusal(one, last);
                    }
                }
        }
    }
    // Both ways of running along a curve were met.
    EXPECT_GT(along, 0);
    EXPECT_GT(against, 0);
}

// The bound is a thousandth of the curve's own span at every scale: a box a
// thousandth and a thousand times the size has one spline edge pushed past
// its curve by a ten-thousandth of its span (held in, the box written) or a
// hundredth (refused), at either end of its domain, along or against its
// curve; a refusal names the curve's end the range runs past.
TEST(EdgeRangesPastKnots, TheBoundScalesWithTheCurveAndTheRefusalNamesTheEndPassed)
{
    for (const double scale : {1e-3, 1e3}) {
        gp_Trsf place;
        place.SetScale(gp_Pnt(0, 0, 0), scale);
        const qelx_test::TestModel asRead = splineBox(place);
        for (const bool turned : {false, true}) {
            const qelx_test::TestModel box = turned ? curvesTurnedRound(asRead) : asRead;
            std::size_t first = 0;
            while (first < box.edges.size() && !onSpline(box, box.edges[first]))
                ++first;
            ASSERT_LT(first, box.edges.size());
            for (const double offset : {1e-4, 1e-2})
                for (int end = 0; end < 2; ++end) {
                    SCOPED_TRACE("scale " + std::to_string(scale) + (turned ? ", curves turned round" : "") +
                                 ", offset " + std::to_string(offset) + ", domain end " + std::to_string(end));
                    qelx_test::TestModel model = box;
                    qelx_test::TestEdge& e = model.edges[first];
                    e.domain[end] += (end ? 1.0 : -1.0) * offset * (e.domain[1] - e.domain[0]);
                    // The domain's first end lies at the curve's last knot when
                    // the edge runs against its curve.
                    const char* passed = (end == 1) != againstItsCurve(model, e) ? "end" : "start";
                    for (const char* writer : kPastKnotsWriters) {
                        SCOPED_TRACE(writer);
                        const fs::path out = pastKnotsScratch(std::string("scaled") + writer);
                        fs::remove(out);
                        std::string error;
                        const int status = qelx_formats::writeCadFile(model, out.string(), error);
                        if (offset > 1e-3) {
                            EXPECT_NE(status, QELI_OK);
                            const std::string words = std::string("its range runs past its curve's ") + passed;
                            EXPECT_NE(error.find(words), std::string::npos) << error << "\nnot " << words;
                            EXPECT_FALSE(fs::exists(out));
                            continue;
                        }
                        ASSERT_EQ(status, QELI_OK) << error;
                        const cad_samples::Measures back = cad_samples::measure(cad_samples::peerRead(out.string()));
                        fs::remove(out);
                        EXPECT_TRUE(back.valid);
                        EXPECT_EQ(back.solids, 1);
                        EXPECT_LT(cad_samples::relativeGap(back.volume, 120.0 * scale * scale * scale), 1e-6)
                            << back.volume;
                    }
                }
        }
    }
}

// An edge whose whole range lies past its spline's end (from the end, or
// from a little past it), by less than the thousandth that is held in: held
// in, it would be of no length. Every writer
// refuses the model naming body and edge and leaves no file, at either end
// of the curve, along or against it.
TEST(EdgeRangesPastKnots, ARangeLyingWhollyPastItsCurvesEndIsRefusedNamingTheEdge)
{
    const qelx_test::TestModel asRead = splineBox(gp_Trsf());
    for (const bool turned : {false, true}) {
        const qelx_test::TestModel box = turned ? curvesTurnedRound(asRead) : asRead;
        std::size_t first = 0;
        while (first < box.edges.size() && !onSpline(box, box.edges[first]))
            ++first;
        ASSERT_LT(first, box.edges.size());
        for (int end = 0; end < 2; ++end)
            for (const double from : {0.0, 1e-4}) {
                SCOPED_TRACE(std::string(turned ? "curves turned round" : "curves as read") + ", past domain end " +
                             std::to_string(end) + ", from " + std::to_string(from) + " of the span past it");
                qelx_test::TestModel model = box;
                qelx_test::TestEdge& e = model.edges[first];
                const double span = e.domain[1] - e.domain[0];
                const double at = e.domain[end];
                // A ten-thousandth of the span long, from the end or a
                // ten-thousandth past it.
                e.domain[0] = end ? at + from * span : at - (from + 1e-4) * span;
                e.domain[1] = end ? at + (from + 1e-4) * span : at - from * span;
                for (const char* writer : kPastKnotsWriters) {
                    SCOPED_TRACE(writer);
                    const fs::path out = pastKnotsScratch(std::string("wholly") + writer);
                    fs::remove(out);
                    std::string error;
                    EXPECT_NE(qelx_formats::writeCadFile(model, out.string(), error), QELI_OK);
                    const std::string name = "body 0: edge " + std::to_string(first) + ": its range lies outside its curve";
                    EXPECT_NE(error.find(name), std::string::npos) << error << "\nnot " << name;
                    EXPECT_FALSE(fs::exists(out));
                    fs::remove(out);
                }
            }
    }
}
