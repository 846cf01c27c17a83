// Edge steps after periodic faces were split.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <numbers>
#include <set>
#include <string>
#include <vector>

#include "qelx/qelx_test.hxx"
#include "repair/fix_pcurve.hxx"
#include "support/geometry_builders.hxx"
#include "velm/bspline.hxx"
#include "velm/build.hxx"
#include "velm/errors.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/memory.hxx"
#include "velm/query.hxx"
#include "velm/split.hxx"
#include "velm/testkit.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology_api.hxx"

namespace {

class SplitSteps : public ::testing::Test {
protected:
    void SetUp() override
    {
        qelx_test::resetFramework();
        m_live = velm_live_object_count();
    }
    void TearDown() override
    {
        if (m_body)
            api_del_entity(m_body);
        EXPECT_EQ(velm_live_object_count(), m_live);
        qelx_test::resetFramework();
    }
    std::vector<EDGE*> edges() const
    {
        ENTITY_LIST list;
        api_get_edges(m_body, list);
        std::vector<EDGE*> out;
        list.init();
        while (ENTITY* e = list.next())
            out.push_back(static_cast<EDGE*>(e));
        return out;
    }
    void expectSound() const
    {
        std::string report;
        EXPECT_TRUE(velm_test_check_model(m_body, &report)) << report;
    }

    BODY* m_body = nullptr;
    long m_live = 0;
};

// A wire body of one edge over the whole curve.
BODY* singleEdgeWire(CURVE* made, const QELinterval& range)
{
    const curve& eq = made->equation();
    auto* a = new VERTEX(new APOINT(eq.eval_position(range.start_pt())));
    auto* b = eq.closed() ? a : new VERTEX(new APOINT(eq.eval_position(range.end_pt())));
    EDGE* edge = new EDGE(a, b, made, FORWARD, EDGE_cvty_unknown, &range);
    BODY* body = nullptr;
    EXPECT_TRUE(api_make_ewire(1, &edge, body).ok());
    return body;
}

BODY* circleWire()
{
    const ellipse circle(QELposition(), QELunit_vector(0.0, 0.0, 1.0), QELvector(3.0, 0.0, 0.0), 1.0);
    return singleEdgeWire(new ELLIPSE(circle), QELinterval(-std::numbers::pi, std::numbers::pi));
}

// Degree one through (0,0,0), (4,0,0), (4,3,0), (8,3,0): kinks at 1 and 2.
BODY* polylineWire(int degree)
{
    const QELposition pts[4] = {{0, 0, 0}, {4, 0, 0}, {4, 3, 0}, {8, 3, 0}};
    const std::vector<double> knots = degree == 1 ? std::vector<double>{0, 0, 1, 2, 3, 3}
                                                  : std::vector<double>{0, 0, 0, 0, 3, 3, 3, 3};
    bs3_curve spline = bs3_curve_from_ctrlpts(degree, 0, 0, 0, 4, pts, nullptr, QELresabs, int(knots.size()),
                                              knots.data(), bs3_curve_knottol());
    return singleEdgeWire(new INTCURVE(intcurve(spline)), QELinterval(0.0, 3.0));
}

} // namespace

TEST_F(SplitSteps, ClosedLoopEdgesAreCutInTwoWireEdgesStay)
{
    struct Case {
        const char* name;
        std::function<BODY*()> make;
        bool trimAll;
        std::size_t edgesAfter;
        bool straightTrimmed;
    };
    const Case cases[] = {
        {"cylinder", [] { return testkit::make_cylinder(); }, false, 5, false},
        {"cylinder, trim all", [] { return testkit::make_cylinder(); }, true, 5, true},
        {"closed wire", circleWire, false, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        qelx_test::OptionScope options;
        options.set("/XVelm/TrimAllEdgesAfterSplit", QELXValue(c.trimAll));
        m_body = c.make();
        splitClosedLoopEdges(m_body);
        const std::vector<EDGE*> after = edges();
        EXPECT_EQ(after.size(), c.edgesAfter);
        expectSound();
        std::set<const CURVE*> circles;
        for (const EDGE* e : after) {
            const curve& eq = e->geometry()->equation();
            if (eq.type() == 1) {
                EXPECT_EQ(eq.subsetted(), c.straightTrimmed);
                continue;
            }
            // Each half has a circle of its own, limited to the half.
            EXPECT_TRUE(circles.insert(e->geometry()).second);
            EXPECT_TRUE(eq.param_range() == e->param_range());
            EXPECT_NEAR(e->param_range().length(), 2.0 * std::numbers::pi / double(c.edgesAfter == 1 ? 1 : 2),
                        1e-12);
        }
        api_del_entity(m_body);
        m_body = nullptr;
    }
}

TEST_F(SplitSteps, DegreeOneIntcurveEdgeIsSplitAtItsKinksThenTrimmedOnlyWhenAllAre)
{
    for (bool trimAll : {false, true}) {
        SCOPED_TRACE(trimAll);
        qelx_test::OptionScope options;
        options.set("/XVelm/TrimAllEdgesAfterSplit", QELXValue(trimAll));
        m_body = polylineWire(3);
        splitDegreeOneEdgesAtDiscontinuities(m_body);
        EXPECT_EQ(edges().size(), 1u) << "a smooth cubic has no kinks";
        api_del_entity(m_body);

        m_body = polylineWire(1);
        splitDegreeOneEdgesAtDiscontinuities(m_body);
        const std::vector<EDGE*> pieces = edges();
        ASSERT_EQ(pieces.size(), 3u);
        expectSound();
        const QELposition kinks[2] = {{4, 0, 0}, {4, 3, 0}};
        for (const QELposition& k : kinks) {
            bool met = false;
            for (const EDGE* e : pieces)
                met = met || distance(e->end_pos(), k) < QELresabs;
            EXPECT_TRUE(met);
        }
        // The pieces' intcurve is neither closed nor periodic: only the switch trims it.
        splitClosedLoopEdges(m_body);
        std::set<const CURVE*> curves;
        for (const EDGE* e : pieces) {
            curves.insert(e->geometry());
            if (trimAll) {
                const bs3_curve own = static_cast<const intcurve&>(e->geometry()->equation()).cur();
                EXPECT_TRUE(bs3_curve_range(own) == e->param_range());
                EXPECT_LT(distance(bs3_curve_position(e->param_range().start_pt(), own), e->start_pos()), QELresabs);
                EXPECT_LT(distance(bs3_curve_position(e->param_range().end_pt(), own), e->end_pos()), QELresabs);
            }
        }
        EXPECT_EQ(curves.size(), trimAll ? 3u : 1u);
        expectSound();
        api_del_entity(m_body);
        m_body = nullptr;
    }
}

namespace {

// nu x nv poles over [0, 1]^2 (degree one less than the count, at most 3), bulged in the middle.
bs3_surface patch(int nu, int nv)
{
    std::vector<QELposition> pts;
    for (int i = 0; i < nu; ++i)
        for (int j = 0; j < nv; ++j)
            pts.emplace_back(3.0 * i, 3.0 * j, (i == 1 && j == 1) ? 2.0 : 0.0);
    auto knots = [](int n) {
        const int p = std::min(n - 1, 3);
        std::vector<double> k(std::size_t(p + 1), 0.0);
        for (int i = 1; i < n - p; ++i)
            k.push_back(double(i) / (n - p));
        k.insert(k.end(), std::size_t(p + 1), 1.0);
        return k;
    };
    const std::vector<double> ku = knots(nu), kv = knots(nv);
    return bs3_surface_from_ctrlpts(std::min(nu - 1, 3), 0, 0, 0, nu, std::min(nv - 1, 3), 0, 0, 0, nv, pts.data(),
                                    nullptr, QELresabs, int(ku.size()), ku.data(), int(kv.size()), kv.data(), QELresnor);
}

} // namespace

TEST_F(SplitSteps, SkinFacesOfThreePolesAreHalvedInUFirst)
{
    struct Case {
        int nu, nv;
        bool skin;
        int halved; // 0 none, 1 in u, 2 in v
    };
    const Case cases[] = {{3, 4, true, 1}, {3, 3, true, 1}, {4, 3, true, 2}, {3, 3, false, 0}, {4, 4, true, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.nu << "x" << c.nv << (c.skin ? " skin" : " exact"));
        m_body = testkit::make_spline_sheet(patch(c.nu, c.nv), c.skin);
        splitThreePoleSkinFaces(m_body);
        expectSound();
        ENTITY_LIST faces;
        api_get_faces(m_body, faces);
        ASSERT_EQ(faces.count(), c.halved ? 2 : 1);
        std::vector<QELpar_box> boxes(std::size_t(faces.count()));
        for (int k = 0; k < faces.count(); ++k)
            ASSERT_TRUE(sg_get_face_par_box(static_cast<FACE*>(faces[k]), boxes[std::size_t(k)]));
        const auto at = [&](const QELpar_box& b) { return c.halved == 2 ? b.v_range() : b.u_range(); };
        std::sort(boxes.begin(), boxes.end(),
                  [&](const QELpar_box& x, const QELpar_box& y) { return at(x).start_pt() < at(y).start_pt(); });
        for (std::size_t k = 0; k < boxes.size(); ++k) {
            const QELinterval half = k == 0 ? QELinterval(0.0, 0.5) : QELinterval(0.5, 1.0);
            for (const auto& [range, split] : {std::pair{boxes[k].u_range(), c.halved == 1},
                                               std::pair{boxes[k].v_range(), c.halved == 2}}) {
                const QELinterval want = split ? half : QELinterval(0.0, 1.0);
                EXPECT_NEAR(range.start_pt(), want.start_pt(), 1e-9);
                EXPECT_NEAR(range.end_pt(), want.end_pt(), 1e-9);
            }
        }
        api_del_entity(m_body);
        m_body = nullptr;
    }
}

TEST_F(SplitSteps, FaceSplitMissingTheFaceDoesNothingAndThroughAVertexFails)
{
    m_body = testkit::make_plane_box();
    ENTITY_LIST faces;
    api_get_faces(m_body, faces);
    auto* face = static_cast<FACE*>(faces[0]);
    EXPECT_TRUE(api_split_face(face, true, true, 2.0).ok());
    EXPECT_FALSE(api_split_face(face, true, true, 0.0).ok());
    set_global_error_info(nullptr); // the kernel keeps its last error
    ENTITY_LIST after;
    api_get_faces(m_body, after);
    EXPECT_EQ(after.count(), 6);
    expectSound();
}

// Only degree-one intcurves are split at their kinks: a cubic with a kink
// stays whole.
TEST_F(SplitSteps, ACubicWithAKinkIsNotSplit)
{
    const QELposition pts[7] = {{0, 0, 0}, {1, 1, 0}, {2, 1, 0}, {3, 0, 0}, {4, 1, 0}, {5, 1, 0}, {6, 0, 0}};
    const std::vector<double> knots{0, 0, 0, 0, 1, 1, 1, 2, 2, 2, 2};
    bs3_curve spline = bs3_curve_from_ctrlpts(3, 0, 0, 0, 7, pts, nullptr, QELresabs, int(knots.size()), knots.data(),
                                              bs3_curve_knottol());
    m_body = singleEdgeWire(new INTCURVE(intcurve(spline)), QELinterval(0.0, 2.0));
    splitDegreeOneEdgesAtDiscontinuities(m_body);
    EXPECT_EQ(edges().size(), 1u);
    expectSound();
}

// An edge over part of a closed curve that is not periodic is trimmed to its
// edge with the switch off too.
TEST_F(SplitSteps, EdgeOnAClosedCurveIsTrimmedWithoutTheSwitch)
{
    qelx_test::OptionScope options;
    options.set("/XVelm/TrimAllEdgesAfterSplit", QELXValue(false));
    const QELposition pts[6] = {{0, 0, 0}, {4, 0, 0}, {5, 4, 0}, {1, 5, 1}, {-1, 3, 0}, {0, 0, 0}};
    const std::vector<double> knots{0, 0, 0, 0, 1, 2, 3, 3, 3, 3};
    bs3_curve spline = bs3_curve_from_ctrlpts(3, 0, 1, 0, 6, pts, nullptr, QELresabs, int(knots.size()), knots.data(),
                                              bs3_curve_knottol());
    ASSERT_TRUE(bs3_curve_closed(spline));
    ASSERT_FALSE(bs3_curve_periodic(spline));
    const QELinterval part(0.5, 2.0);
    m_body = singleEdgeWire(new INTCURVE(intcurve(spline)), part);
    splitClosedLoopEdges(m_body);
    const std::vector<EDGE*> after = edges();
    ASSERT_EQ(after.size(), 1u);
    EXPECT_TRUE(after[0]->geometry()->equation().param_range() == part);
    expectSound();
}

// Halving a closed tolerant edge puts a tolerant vertex between the halves.
TEST_F(SplitSteps, ClosedTolerantEdgeIsHalvedAtATolerantVertex)
{
    m_body = testkit::make_cylinder();
    EDGE* circle = nullptr;
    for (EDGE* e : edges())
        if (e->start() == e->end() && e->geometry()->equation().type() == 2)
            circle = e;
    ASSERT_NE(circle, nullptr);
    TEDGE* tolerant = nullptr;
    ASSERT_TRUE(api_replace_edge_with_tedge(circle, tolerant).ok());
    VERTEX* seam = tolerant->start();
    splitClosedLoopEdges(m_body);
    int tolerantVertices = 0;
    for (const EDGE* e : edges())
        if (is_TEDGE(e))
            for (const VERTEX* v : {e->start(), e->end()})
                tolerantVertices += v != seam && is_TVERTEX(v);
    EXPECT_EQ(tolerantVertices, 2); // the new vertex, met from both halves
    expectSound();
}

namespace {

// A flat disk of radius 3 facing -z whose one edge runs against its circle
// over [1, 1 + 2 pi] (the circle's [-1 - 2 pi, -1]): a range not centred on
// a multiple of pi, so the curve's middle and the edge's differ.
BODY* reversedCircleDisk()
{
    const ellipse circle(QELposition(), QELunit_vector(0.0, 0.0, 1.0), QELvector(3.0, 0.0, 0.0), 1.0);
    const QELinterval range(1.0, 1.0 + 2.0 * std::numbers::pi);
    auto* v = new VERTEX(new APOINT(circle.eval_position(-1.0)));
    EDGE* edge = new EDGE(v, v, new ELLIPSE(circle), REVERSED, EDGE_cvty_unknown, &range);
    v->add_edge(edge);
    auto* c = new COEDGE(edge, FORWARD, nullptr, nullptr);
    c->set_next(c);
    c->set_previous(c);
    FACE* face = new FACE(new LOOP(c, nullptr), nullptr,
                          new PLANE(plane(QELposition(), QELunit_vector(0.0, 0.0, -1.0))), FORWARD);
    return new BODY(new LUMP(new SHELL(face, nullptr), nullptr));
}

} // namespace

// An edge against its curve is halved at its own middle, in every frame.
TEST_F(SplitSteps, ReversedClosedEdgeIsHalvedAtItsMiddle)
{
    for (const testkit::KernelFrame& frame : testkit::kernel_frames()) {
        SCOPED_TRACE(frame.name);
        m_body = reversedCircleDisk();
        ASSERT_TRUE(api_apply_transf(m_body, frame.transform).ok());
        ASSERT_TRUE(api_change_body_trans(m_body).ok());
        expectSound();
        const QELposition start = edges().front()->start_pos();
        splitClosedLoopEdges(m_body);
        const std::vector<EDGE*> halves = edges();
        ASSERT_EQ(halves.size(), 2u);
        for (const EDGE* e : halves) {
            EXPECT_EQ(e->sense(), REVERSED);
            EXPECT_NEAR(e->param_range().length(), std::numbers::pi, 1e-12);
            // The new vertex is across the circle from the old one.
            const QELposition other = same_point(e->start_pos(), start) ? e->end_pos() : e->start_pos();
            EXPECT_NEAR(distance(other, start), 6.0, 1e-9);
        }
        expectSound();
        api_del_entity(m_body);
        m_body = nullptr;
    }
}
