// A file's vertex may lie off its edge's curve (moved by the sender, or
// rounded): the edge keeps the domain the file gives it, and so do the
// pcurves the import fits for it, in every frame. A pcurve fitted over the
// range the vertices gave instead ran on to their feet, and past a sphere's
// pole its end swung round the pole, so that the cap's loop no longer closed.
#include "import_test_support.hxx"

#include "support/geometry_builders.hxx"
#include "velm/query.hxx"
#include "velm/tolerant.hxx"

#include <cmath>
#include <string>
#include <vector>

using namespace importtest;
using qelx_test::TestModel;

namespace {

constexpr double Radius = 2.0;
constexpr double Base = 0.6; // the cap's latitude

// A sheet: the sphere's cap above latitude Base, bounded by its base circle
// and a meridian seam from the circle up to the pole, used both ways; the
// coedges carry no pcurves, so the import fits them. The vertices are moved
// by the given offsets (the seam's curve and domain stay as they were).
TestModel sphereCap(const qelx_test::Vec3& baseMove, const qelx_test::Vec3& poleMove, double turns = 0.0)
{
    TestModel m;
    int shell = -1;
    m.addSheetBody(shell);
    const int sphere = m.addSphere({0, 0, 0}, Radius);
    const double rho = Radius * std::cos(Base), h = Radius * std::sin(Base);
    const int base = m.addVertex({rho + baseMove[0], baseMove[1], h + baseMove[2]});
    const int pole = m.addVertex({poleMove[0], poleMove[1], Radius + poleMove[2]});
    // The circle runs round the pole's axis; the seam's angle is the latitude.
    const double from = 2 * M_PI * turns, to = from + 2 * M_PI;
    const int circle =
        m.addEdge(m.addEllipse({0, 0, h}, {1, 0, 0}, {0, 0, 1}, rho, rho, from, to), base, base, from, to);
    const int seam = m.addEdge(m.addEllipse({0, 0, 0}, {1, 0, 0}, {0, -1, 0}, Radius, Radius, Base, M_PI / 2), base,
                               pole, Base, M_PI / 2);
    const int loop = m.addLoop(m.addFace(shell, sphere));
    m.addCoedge(loop, circle, true, -1);
    m.addCoedge(loop, seam, true, -1);
    m.addCoedge(loop, seam, false, -1);
    return m;
}

} // namespace

class VertexOffCurve : public ImportTest {};

TEST_F(VertexOffCurve, PCurvesKeepTheEdgesDomainInEveryFrame)
{
    const double d = 3e-3 * Radius;
    struct Case {
        const char* what;
        qelx_test::Vec3 baseMove, poleMove;
        double turns = 0.0; // the base circle's domain so many turns on
    };
    const std::vector<Case> cases = {
        {"as drawn", {0, 0, 0}, {0, 0, 0}},
        // Its foot on the seam's curve lies past the pole.
        {"pole vertex past the pole", {0, 0, 0}, {-d, 0, 0}},
        {"pole vertex short of the pole", {0, 0, 0}, {d, 0, 0}},
        {"base vertex above the circle", {0, 0, d}, {0, 0, 0}},
        {"both moved", {0, 0, -d}, {-d, d, 0}},
        // Its vertices bound a turn from 0; the file's domain lies a period on.
        {"base circle a turn on", {0, 0, 0}, {0, 0, 0}, 1.0},
        {"base circle a turn on, pole vertex past the pole", {0, 0, 0}, {-d, 0, 0}, 1.0},
    };
    const double area = 2 * M_PI * Radius * Radius * (1.0 - std::sin(Base));
    for (const Case& c : cases)
        for (const Frame& frame : frames()) {
            SCOPED_TRACE(std::string(c.what) + " in the " + frame.name + " frame");
            qelx_test::EventRecorder events;
            Import import(sphereCap(c.baseMove, c.poleMove, c.turns), frame.morph);
            import.creator().CreateSheetBody(import.id(qelx_test::KindBody, 0));
            ASSERT_EQ(import.bodies().size(), 1u) << ::testing::PrintToString(events.names("Warning"));
            BODY* body = import.bodies()[0];
            EDGE* seam = import.creator().GetEdge(import.id(qelx_test::KindEdge, 1), false);
            ASSERT_NE(seam, nullptr);
            const QELinterval range = edge_curve_range(seam);
            EXPECT_NEAR(range.start_pt(), Base, 1e-9);
            EXPECT_NEAR(range.end_pt(), M_PI / 2, 1e-9);
            ENTITY_LIST coedges;
            ASSERT_TRUE(api_get_coedges(body, coedges).ok());
            int fitted = 0;
            for (int i = 0; i < coedges.count(); ++i)
                if (const auto* co = static_cast<const COEDGE*>(coedges[i]); co->geometry()) {
                    ++fitted;
                    EXPECT_LT(testkit::worst_pcurve_gap(co), QELresfit);
                }
            EXPECT_EQ(fitted, 3);
            double measured = 0.0, accuracy = 0.0;
            ASSERT_TRUE(api_ent_area(body, 1e-6, measured, accuracy).ok());
            EXPECT_NEAR(std::fabs(measured), area, 1e-4 * area);
        }
}
