// Spline data a reader would refuse is refused where it stands: by every CAD
// writer before the peer's constructors see it (they throw after
// allocating), whether it is an edge's curve or a coedge's pcurve, and by the
// neutral reader naming the spline's place.
#include "cad_samples.hxx"
#include "qelx/qelx_test.hxx"
#include "qelx/test_model.hxx"
#include "qelx_formats/cad_file.hxx"
#include "qelx_formats/neutral_document.hxx"

#include <BRepTools.hxx>
#include <BRep_Tool.hxx>
#include <Geom2d_Curve.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <gp_Ax2.hxx>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <numeric>
#include <string>
#include <unistd.h>
#include <vector>

#include <nlohmann/json.hpp>

namespace {

namespace fs = std::filesystem;

fs::path splineScratch(const std::string& name)
{
    return fs::temp_directory_path() / ("spline_checks_" + std::to_string(::getpid()) + "_" + name);
}

// A spline of `dim`-dimensional control points over [a, b] with the knots'
// inner values at the given fractions: as many control points as the knots
// ask for, unless `count` says otherwise.
qelx_test::TestNurbs splineOver(int dim, int degree, double a, double b, const std::vector<double>& fractions,
                                const std::vector<int>& mults, int count = -1)
{
    qelx_test::TestNurbs n;
    n.degree = degree;
    for (double f : fractions)
        n.knots.push_back(a + f * (b - a));
    n.mults = mults;
    n.count = count >= 0 ? count : std::accumulate(mults.begin(), mults.end(), 0) - degree - 1;
    for (int i = 0; i < dim * n.count; ++i)
        n.ctrl.push_back(0.5 + 0.01 * i);
    return n;
}

struct SplineFault {
    const char* what;
    std::vector<double> fractions;
    std::vector<int> mults;
    int count;                  // -1: as the knots ask
    std::vector<double> weights; // empty: none
    const char* refusal;
    bool thirdKnotARoundingPast = false; // the third knot moved to a rounding past the second
};

// Quadratics, each wrong in one way only, and how a writer refuses them
// (after "a curve's" or "a pcurve's").
const std::vector<SplineFault>& splineFaults()
{
    constexpr double m = 0.5;
    static const std::vector<SplineFault> faults = {
        {"an end multiplicity of degree + 2", {0.0, m, 1.0}, {4, 1, 3}, -1, {},
         "spline data is not valid: a multiplicity out of range"},
        {"an inner multiplicity of degree + 1", {0.0, m, 1.0}, {3, 3, 3}, -1, {},
         "spline data is not valid: a multiplicity out of range"},
        {"a knot given twice", {0.0, m, m, 1.0}, {3, 1, 1, 3}, -1, {}, "knots do not rise"},
        {"two knots a rounding apart", {0.0, m, 0.75, 1.0}, {3, 1, 1, 3}, -1, {},
         "spline data is not valid: knots that do not rise", true},
        {"a control point more than the knots ask for", {0.0, m, 1.0}, {3, 1, 3}, 5, {}, "spline data is not valid"},
        {"a control point fewer than the knots ask for", {0.0, m, 1.0}, {3, 1, 3}, 3, {}, "spline data is not valid"},
        {"a weight of zero", {0.0, m, 1.0}, {3, 1, 3}, -1, {1.0, 0.0, 1.0, 1.0},
         "spline data is not valid: a weight that is not positive"},
        // Knots and multiplicities that agree with it: only the count refuses it.
        {"a single control point", {0.0, 1.0}, {3, 1}, -1, {}, "spline data is not valid"},
    };
    return faults;
}

} // namespace

TEST(SplineDataChecks, EveryWriterRefusesACurveOrPcurveItsReaderWouldRefuseBeforeBuildingIt)
{
    const fs::path in = splineScratch("cylinder.brep");
    ASSERT_TRUE(BRepTools::Write(BRepPrimAPI_MakeCylinder(gp_Ax2(), 1.5, 4.0).Shape(), in.c_str()));
    qelx_test::TestModel sound;
    std::string error;
    ASSERT_EQ(qelx_formats::readCadFile(in.string(), sound, error), QELI_OK) << error;
    fs::remove(in);
    ASSERT_FALSE(sound.curves.empty());
    ASSERT_FALSE(sound.pcurves.empty());
    for (const char* writer : {".brep", ".step", ".igs"})
        for (const bool onCurve : {true, false})
            for (const SplineFault& fault : splineFaults()) {
                SCOPED_TRACE(testing::Message() << writer << ", " << (onCurve ? "curve" : "pcurve") << ", "
                                                << fault.what);
                qelx_test::TestModel model = sound;
                qelx_test::TestNurbs* n = nullptr;
                double a = 0.0, b = 1.0;
                if (onCurve) {
                    qelx_test::TestCurve& c = model.curves[0];
                    a = c.domain[0], b = c.domain[1];
                    c.type = qelx_test::CurvNurbs;
                    c.scale = 1.0, c.offset = 0.0;
                    n = &c.nurbs;
                } else {
                    n = &model.pcurves[0].nurbs;
                    a = n->knots.front(), b = n->knots.back();
                }
                *n = splineOver(onCurve ? 3 : 2, 2, a, b, fault.fractions, fault.mults, fault.count);
                if (fault.thirdKnotARoundingPast)
                    n->knots[2] = std::nextafter(n->knots[1], n->knots[3]);
                n->weights = fault.weights;
                const fs::path out = splineScratch(std::string("refused") + writer);
                EXPECT_NE(qelx_formats::writeCadFile(model, out.string(), error), QELI_OK);
                const std::string want = std::string(onCurve ? "a curve's " : "a pcurve's ") + fault.refusal;
                EXPECT_NE(error.find(want), std::string::npos) << error << "\nnot " << want;
                EXPECT_FALSE(fs::exists(out));
            }
}

// The neutral reader: multiplicities adding up to more than the control
// points and the degree ask for are refused at the spline's multiplicities,
// as are fewer; as many are read.
TEST(SplineDataChecks, NeutralSplinesWhoseMultiplicitiesDoNotAddUpAreRefusedAtThem)
{
    using Json = nlohmann::json;
    const Json good = Json::parse(qelx_formats::writeNeutralText(qelx_test::TestModel::nurbsSheet(5, 5)));
    std::size_t nurbs = good["curves"].size();
    for (std::size_t i = 0; i < good["curves"].size() && nurbs == good["curves"].size(); ++i)
        if (good["curves"][i].contains("count"))
            nurbs = i;
    ASSERT_LT(nurbs, good["curves"].size());
    const std::string path = "/curves/" + std::to_string(nurbs) + "/mults";
    const struct {
        const char* what;
        int count;
        bool read;
    } cases[] = {{"one control point fewer", 4, false}, {"as many", 5, true}, {"one control point more", 6, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Json doc = good;
        Json& curve = doc["curves"][nurbs];
        // A quadratic whose knots 0, 0.5, 1 (multiplicities 3, 2, 3) ask for five control points.
        curve["degree"] = 2;
        curve["count"] = c.count;
        std::vector<double> ctrl;
        for (int i = 0; i < c.count; ++i)
            ctrl.insert(ctrl.end(), {double(i), 0.1 * i * i, 0.0});
        curve["controlPoints"] = ctrl;
        curve["weights"] = nullptr;
        curve["knots"] = std::vector<double>{0.0, 0.5, 1.0};
        curve["mults"] = std::vector<int>{3, 2, 3};
        try {
            qelx_formats::readNeutralText(doc.dump(), "spline.json");
            EXPECT_TRUE(c.read) << "accepted";
        } catch (const qelx_formats::NeutralDocumentError& x) {
            EXPECT_FALSE(c.read) << x.what();
            const std::string head = "spline.json: " + path + ": multiplicities that do not add up";
            EXPECT_EQ(std::string(x.what()).substr(0, head.size()), head) << x.what();
        }
    }
}

// A kernel's fit falls up to a few millionths of its range short of the edge
// it was fitted for: such a pcurve is stretched onto the edge's range, and
// the file reads back valid, the same solid; a pcurve a thousandth short is
// no rounding and is left as it is.
TEST(SplineDataChecks, PcurvesAFewMillionthsShortOfTheirEdgesAreStretchedOntoThem)
{
    const TopoDS_Shape cylinder = BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(3, -2, 1), gp_Dir(1, 2, 2)), 1.5, 4.0).Shape();
    const cad_samples::Measures source = cad_samples::measure(cylinder);
    const fs::path in = splineScratch("fitted.brep"), out = splineScratch("fitted_out.brep");
    ASSERT_TRUE(BRepTools::Write(cylinder, in.c_str()));
    qelx_test::TestModel model;
    std::string error;
    ASSERT_EQ(qelx_formats::readCadFile(in.string(), model, error), QELI_OK) << error;
    fs::remove(in);
    for (const double shortBy : {2e-6, 8e-6}) {
        SCOPED_TRACE(shortBy);
        qelx_test::TestModel fitted = model;
        // Every other pcurve starts late, the rest end early.
        bool late = true;
        for (qelx_test::TestPCurve& p : fitted.pcurves) {
            std::vector<double>& knots = p.nurbs.knots;
            const double length = knots.back() - knots.front();
            if (late)
                knots.front() += shortBy * length;
            else
                knots.back() -= shortBy * length;
            late = !late;
        }
        ASSERT_EQ(qelx_formats::writeCadFile(fitted, out.string(), error), QELI_OK) << error;
        const TopoDS_Shape back = cad_samples::peerRead(out.string());
        fs::remove(out);
        const cad_samples::Measures written = cad_samples::measure(back);
        EXPECT_TRUE(written.valid);
        EXPECT_EQ(written.solids, 1);
        EXPECT_LE(cad_samples::relativeGap(source.volume, written.volume), 1e-6);
        // Stretched, not merely valid: every pcurve covers its edge's range.
        int pcurves = 0;
        for (TopExp_Explorer f(back, TopAbs_FACE); f.More(); f.Next())
            for (TopExp_Explorer e(f.Current(), TopAbs_EDGE); e.More(); e.Next()) {
                double w0 = 0.0, w1 = 0.0;
                const Handle(Geom2d_Curve) pc =
                    BRep_Tool::CurveOnSurface(TopoDS::Edge(e.Current()), TopoDS::Face(f.Current()), w0, w1);
                if (pc.IsNull())
                    continue;
                ++pcurves;
                const double rounding = 1e-9 * (w1 - w0);
                EXPECT_LE(pc->FirstParameter(), w0 + rounding) << "pcurve " << pcurves;
                EXPECT_GE(pc->LastParameter(), w1 - rounding) << "pcurve " << pcurves;
            }
        EXPECT_GT(pcurves, 0);
    }
}
