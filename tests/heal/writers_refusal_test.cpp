// What a file writer would refuse in a healed body, measured on the body as
// the writers measure it: an edge known by how far its curve strays from its
// vertices (whatever tolerance it claims), the extent its closed edges reach
// round, a spline edge ranged past its curve's end, and places exact below
// the kernel's resolution however small the body. Seeded, in every frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "support/geometry_builders.hxx"
#include "heal/step_watch.hxx"
#include "support/heal_builders.hxx"
#include "velm/build.hxx"
#include "velm/query.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

namespace {

void placeRefusalBody(BODY* body, const QELtransf& frame)
{
    if (!frame.identity()) {
        ASSERT_TRUE(api_apply_transf(body, frame).ok());
        ASSERT_TRUE(api_change_body_trans(body, nullptr).ok());
    }
}

std::vector<VERTEX*> refusalVertices(BODY* body)
{
    ENTITY_LIST list;
    api_get_vertices(body, list);
    std::vector<VERTEX*> out;
    for (int i = 0; i < list.count(); ++i)
        out.push_back(static_cast<VERTEX*>(list[i]));
    return out;
}

std::vector<EDGE*> refusalEdges(BODY* body)
{
    ENTITY_LIST list;
    api_get_edges(body, list);
    std::vector<EDGE*> out;
    for (int i = 0; i < list.count(); ++i)
        out.push_back(static_cast<EDGE*>(list[i]));
    return out;
}

// The diagonal of the box, along the frame's axes, of the points placed in it.
double refusalBoxDiagonal(const std::vector<QELposition>& points, const QELtransf& frame)
{
    QELposition low(1e300, 1e300, 1e300), high(-1e300, -1e300, -1e300);
    for (const QELposition& p : points) {
        const QELposition q = p * frame;
        low = QELposition(std::min(low.x(), q.x()), std::min(low.y(), q.y()), std::min(low.z(), q.z()));
        high = QELposition(std::max(high.x(), q.x()), std::max(high.y(), q.y()), std::max(high.z(), q.z()));
    }
    return (high - low).len();
}

struct RefusalBody {
    explicit RefusalBody(BODY* b) : body(b) {}
    ~RefusalBody()
    {
        if (body)
            api_del_entity(body);
    }
    RefusalBody(const RefusalBody&) = delete;
    RefusalBody& operator=(const RefusalBody&) = delete;
    BODY* body;
};

} // namespace

// A vertex moved off its edges' ends leaves the edges claiming no tolerance
// but straying by the move: the body is known as loosely as that, and a
// move wider than a thousandth of the box's diagonal is refused naming an
// edge, a narrower one carried.
TEST(WritersRefusal, AVertexMovedOffItsEdgesIsMeasuredByTheirCurvesInEveryFrame)
{
    std::mt19937 random(20261209);
    std::uniform_real_distribution<double> scale(-4.0, 0.0);
    for (const QELtransf& frame : testkit::heal_frames())
        for (int turn = 0; turn < 8; ++turn) {
            std::vector<QELposition> corners;
            for (int k = 0; k < 8; ++k)
                corners.emplace_back(k & 1 ? 10.0 : 0.0, k & 2 ? 20.0 : 0.0, k & 4 ? 30.0 : 0.0);
            const double extent = refusalBoxDiagonal(corners, frame);
            const double move = std::pow(10.0, scale(random));
            // Far enough from the bound that the box's growth by the move
            // does not decide it.
            if (std::fabs(move - 1e-3 * extent) < 0.2 * 1e-3 * extent)
                continue;
            SCOPED_TRACE("move " + std::to_string(move) + (frame.identity() ? "" : ", framed"));
            RefusalBody box(testkit::make_framed_box(frame));
            ASSERT_NE(box.body, nullptr);
            const QELvector away = QELvector(1.0, -2.0, 2.0) * (move / 3.0) * frame;
            VERTEX* moved = refusalVertices(box.body).front();
            moved->geometry()->set_coords(moved->geometry()->coords() + away);
            for (EDGE* e : refusalEdges(box.body))
                ASSERT_LT(e->get_tolerance(), 1e-3 * move);
            const ve_heal::WidestTolerance widest = ve_heal::widestTolerance(box.body);
            EXPECT_NEAR(widest.tolerance, move, 1e-9 + 1e-9 * move);
            EXPECT_FALSE(widest.atVertex);
            EXPECT_GT(widest.index, 0);
            EXPECT_NEAR(widest.extent, extent, 2.0 * move);
            const std::string refusal = ve_heal::writersRefusal(box.body);
            if (move > 1e-3 * extent) {
                EXPECT_NE(refusal.find("known only within"), std::string::npos) << refusal;
                EXPECT_NE(refusal.find("at edge " + std::to_string(widest.index)), std::string::npos) << refusal;
            } else {
                EXPECT_EQ(refusal, "");
            }
        }
}

// A closed edge has one vertex: the extent reaches round its curve (its
// middle), or a circle would be taken as a body of no size and any
// tolerance refused on it. In any frame the extent is at least as far as
// the vertex lies from the middle of the farthest closed edge, and no more
// than the box of the body's points.
TEST(WritersRefusal, TheExtentReachesRoundClosedEdgesInEveryFrame)
{
    struct Case {
        const char* what;
        BODY* (*make)();
        double across; // from a vertex to the farthest closed edge's middle
        double widest; // the body's diameter
    };
    const std::vector<Case> cases{
        {"a circle wire of radius 3", [] { return testkit::make_circle_wire(3.0); }, 6.0, 6.0},
        // One vertex on each rim, at the seam: the rims' middles lie across.
        {"a cylinder of radius 5 and height 8", [] { return testkit::make_cylinder(5.0, 8.0); },
         std::sqrt(10.0 * 10.0 + 8.0 * 8.0), std::sqrt(10.0 * 10.0 + 8.0 * 8.0)}};
    for (const Case& c : cases)
        for (const QELtransf& frame : testkit::heal_frames()) {
            SCOPED_TRACE(std::string(c.what) + (frame.identity() ? "" : ", framed"));
            RefusalBody body(c.make());
            ASSERT_NE(body.body, nullptr);
            placeRefusalBody(body.body, frame);
            const ve_heal::WidestTolerance widest = ve_heal::widestTolerance(body.body);
            EXPECT_GT(widest.extent, c.across - 1e-6);
            EXPECT_LT(widest.extent, std::sqrt(3.0) * c.widest + 1e-6);
            EXPECT_EQ(ve_heal::writersRefusal(body.body), "");
        }
}

// A spline edge ranged past its curve's end (its vertex there on the
// curve's extension, so the edge keeps to it) is refused past a thousandth
// of the curve's span, naming the edge; within it, held in. Along and
// against its curve, past either end, in every frame.
TEST(WritersRefusal, ASplineEdgeRangedPastItsCurveIsRefusedInEveryFrame)
{
    const std::vector<QELposition> points{{0, 0, 0}, {4, 0, 0}, {4, 3, 0}, {4, 3, 5}};
    for (const sense_type sense : {FORWARD, REVERSED})
        for (const bool atEnd : {true, false})
            for (const double past : {0.2, 1e-2, 1e-4})
                for (const QELtransf& frame : testkit::heal_frames()) {
                    SCOPED_TRACE(std::string(sense == FORWARD ? "along" : "against") + " its curve, past its " +
                                 (atEnd ? "end" : "start") + " by " + std::to_string(past) +
                                 (frame.identity() ? "" : ", framed"));
                    RefusalBody wire(testkit::make_kinked_wire(points, sense));
                    ASSERT_NE(wire.body, nullptr);
                    placeRefusalBody(wire.body, frame);
                    const std::vector<EDGE*> edges = refusalEdges(wire.body);
                    ASSERT_EQ(edges.size(), 1u);
                    EDGE* edge = edges[0];
                    const curve& along = edge->geometry()->equation();
                    const QELinterval own = along.param_range();
                    // In the curve's parameters, then back to the edge's.
                    QELinterval range = own;
                    const double by = past * own.length();
                    range = atEnd ? QELinterval(own.start_pt(), own.end_pt() + by)
                                  : QELinterval(own.start_pt() - by, own.end_pt());
                    const QELinterval edgeRange = sense == REVERSED ? -range : range;
                    edge->set_param_range(&edgeRange);
                    ASSERT_NEAR(edge_curve_range(edge).start_pt(), range.start_pt(), 1e-12);
                    // The vertex at that end put where the curve runs on to.
                    const bool endVertex = (sense == FORWARD) == atEnd;
                    VERTEX* v = endVertex ? edge->end() : edge->start();
                    v->geometry()->set_coords(along.eval_position(atEnd ? range.end_pt() : range.start_pt()));
                    ASSERT_LT(edge_deviation(edge), 1e-9);
                    const std::string refusal = ve_heal::writersRefusal(wire.body);
                    if (past > 1e-3) {
                        EXPECT_NE(refusal.find("edge 1 ranged past its curve's end by"), std::string::npos)
                            << refusal;
                    } else {
                        EXPECT_EQ(refusal, "");
                    }
                }
}

// Below the kernel's resolution a place is exact: a body smaller than a
// thousand resolutions, whose vertex is off its edges by less than the
// resolution, is no loosely known body; the same body with its vertex off
// by more than the resolution is.
TEST(WritersRefusal, APlaceWithinTheResolutionIsExactHoweverSmallTheBody)
{
    for (const QELtransf& frame : testkit::heal_frames())
        for (const double move : {0.4 * QELresabs, 3.0 * QELresabs}) {
            SCOPED_TRACE("moved by " + std::to_string(move / QELresabs) + " resolutions" +
                         (frame.identity() ? "" : ", framed"));
            RefusalBody box(testkit::make_framed_box(frame, 1e-5, 2e-5, 3e-5));
            ASSERT_NE(box.body, nullptr);
            VERTEX* moved = refusalVertices(box.body).front();
            moved->geometry()->set_coords(moved->geometry()->coords() + QELvector(0.0, 0.0, move) * frame);
            const ve_heal::WidestTolerance widest = ve_heal::widestTolerance(box.body);
            ASSERT_GT(widest.tolerance, 1e-3 * widest.extent);
            const std::string refusal = ve_heal::writersRefusal(box.body);
            if (move < QELresabs)
                EXPECT_EQ(refusal, "");
            else
                EXPECT_NE(refusal.find("known only within"), std::string::npos) << refusal;
        }
}
