// Faces of sources that carry only pcurves, only 3-D curves, or both in
// disagreement, with kinks and backwards pcurves, on every kind of surface and
// in turned and mirrored frames: each face is built and passes the kernel's
// checker, is built with its open loop said, or is dropped with the warning
// of an invalid loop.
#include "trim_test_support.hxx"

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <string>
#include <utility>

#include "qelx_velm/ve_option_doc.hxx"

using qelx_test::TestModel;

namespace {

struct ShowSource {
    const char* what;
    TestModel model;
    bool flat = false; // lies in the plane z = 0
};

std::vector<ShowSource> sources()
{
    return {{"plane", TestModel::planeFace(), true},
            {"plane with hole", TestModel::sheetWithHole(), true},
            {"block", TestModel::block(2, 3, 4)},
            {"cylinder", TestModel::cylinder(1.5, 2)},
            {"cone", TestModel::coneWithApexLoop(1.0, 0.5)},
            {"sphere", TestModel::sphereFace(2.0)},
            {"torus", TestModel::torusFace(3.0, 1.0)},
            {"b-spline", TestModel::nurbsSheet(5, 5)}};
}

void setCategory(TestModel& m, int category)
{
    for (qelx_test::TestFace& f : m.faces)
        f.category = category;
}

void dropCurves(TestModel& m)
{
    for (int e = 0; e < static_cast<int>(m.edges.size()); ++e)
        m.dropCurve(e);
}

// Every edge stored against its curve (sense false, domain negated, ends
// swapped) and every coedge turned with it: the same model.
void reverseEdges(TestModel& m)
{
    for (qelx_test::TestEdge& e : m.edges) {
        e.sense = !e.sense;
        const double d0 = e.domain[0];
        e.domain[0] = -e.domain[1];
        e.domain[1] = -d0;
        std::swap(e.start, e.end);
    }
    for (qelx_test::TestCoedge& c : m.coedges)
        c.sense = !c.sense;
}

struct Variant {
    const char* what;
    std::function<void(TestModel&)> edit;
    bool mustBuild; // consistent data: every face with loops is built
    bool flatOnly = false; // for sources in the plane z = 0 only
    bool sameFace = false; // bounds the face the source does (its area)
};

std::vector<Variant> variants()
{
    return {
        {"pcurves and curves", [](TestModel&) {}, true, false, true},
        {"pcurves only", [](TestModel& m) { dropCurves(m); }, true, false, true},
        {"curves only",
         [](TestModel& m) {
             for (int c = 0; c < static_cast<int>(m.coedges.size()); ++c)
                 m.dropPCurve(c);
         },
         true, false, true},
        {"edges stored against their curves", reverseEdges, true, false, true},
        {"edges stored against their curves, pcurves only",
         [](TestModel& m) {
             reverseEdges(m);
             dropCurves(m);
         },
         true, false, true},
        {"edges stored against their curves, pcurves preferred",
         [](TestModel& m) {
             reverseEdges(m);
             setCategory(m, 0);
         },
         true, false, true},
        {"curves off their pcurves, pcurves preferred",
         [](TestModel& m) {
             setCategory(m, 0);
             for (int c = 0; c < static_cast<int>(m.curves.size()); ++c)
                 m.shiftCurve(c, {0.15, 0.25, 0.4});
         },
         true, false, true},
        // Moved along their plane: the faces stay sound, bounded by the curves.
        {"curves moved off their pcurves in their plane, curves preferred",
         [](TestModel& m) {
             setCategory(m, 2);
             for (int c = 0; c < static_cast<int>(m.curves.size()); ++c)
                 m.shiftCurve(c, {0.15, 0.25, 0.0});
         },
         true, true},
        {"kinked pcurves only",
         [](TestModel& m) {
             dropCurves(m);
             for (int p = 0; p < static_cast<int>(m.pcurves.size()); ++p)
                 m.kinkPCurve(p, 0.2);
         },
         false},
        {"backwards pcurves that say so",
         [](TestModel& m) {
             setCategory(m, 0);
             for (int c = 0; c < static_cast<int>(m.coedges.size()); ++c)
                 m.turnPCurve(c);
         },
         true, false, true},
        {"backwards pcurves that do not say so",
         [](TestModel& m) {
             for (int c = 0; c < static_cast<int>(m.coedges.size()); ++c)
                 m.reversePCurve(c);
         },
         false},
        {"pcurve senses that are wrong",
         [](TestModel& m) {
             for (int c = 0; c < static_cast<int>(m.coedges.size()); ++c)
                 m.flipPCurveSense(c);
         },
         true, false, true},
    };
}

} // namespace

class TrimShow : public trimtest::TrimTest {};

TEST_F(TrimShow, EveryFaceIsBuiltCleanOrSaidOrDroppedWithTheWarning)
{
    int built = 0, dropped = 0;
    // The area of each face as the consistent source builds it, by source,
    // frame and face: a variant that bounds the same face has it too.
    std::map<std::string, double> areas;
    for (const Variant& variant : variants())
        for (ShowSource& s : sources())
            for (const importtest::Frame& frame : stitchtest::allFrames()) {
                if (variant.flatOnly && !s.flat)
                    continue;
                SCOPED_TRACE(std::string(s.what) + ", " + variant.what + ", " + frame.name);
                TestModel model = s.model;
                variant.edit(model);
                // Turning the edges keeps what coincides coinciding.
                if (std::string(variant.what).find("against their curves") != std::string::npos) {
                    EXPECT_LT(model.maxGap(), 1e-9);
                }
                qelx_test::EventRecorder events;
                trimtest::TrimSource trim(model, frame.morph);
                for (int f = 0; f < static_cast<int>(model.faces.size()); ++f) {
                    const int warningsBefore = events.count("Warning");
                    FACE* face = trim.build(f);
                    if (!face) {
                        ++dropped;
                        EXPECT_FALSE(variant.mustBuild && !model.faces[f].loops.empty()) << "face " << f;
                        EXPECT_EQ(events.names("Warning").size(), static_cast<std::size_t>(warningsBefore + 1));
                        continue;
                    }
                    ++built;
                    // A loop left open by its source is built closed and said,
                    // for healing to judge; consistent data says nothing.
                    const bool open = events.count("Warning") > warningsBefore;
                    EXPECT_FALSE(open && variant.mustBuild) << "face " << f;
                    // Every edge with a curve has its pcurve, so the checker
                    // measures the curve against the surface.
                    for (const std::vector<COEDGE*>& loop : trimtest::loopsOf(face))
                        for (COEDGE* c : loop)
                            EXPECT_TRUE(!c->edge()->geometry() || c->geometry()) << "face " << f;
                    BODY* body = trim.sheet(face);
                    ASSERT_NE(body, nullptr);
                    if (!open) {
                        EXPECT_EQ(importtest::findingsOf(body), std::vector<std::string>{}) << "face " << f;
                    }
                    double area = 0.0, accuracy = 0.0;
                    if (variant.sameFace && api_ent_area(body, 1e-8, area, accuracy).ok()) {
                        const std::string key = std::string(s.what) + "/" + frame.name + "/" + std::to_string(f);
                        const auto [known, first] = areas.emplace(key, area);
                        EXPECT_GT(area, 0.0) << "face " << f << " turned inside out";
                        // Lifted from pcurves, a circle is a fitted curve: 1e-5 allows for it.
                        EXPECT_NEAR(area, known->second, 1e-5 * std::max(1.0, std::fabs(known->second)))
                            << "face " << f;
                        static_cast<void>(first);
                    }
                }
            }
    std::printf("built %d, dropped %d\n", built, dropped);
}
