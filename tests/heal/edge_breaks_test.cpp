// Where the STEP healer finds the breaks of an edge's curve and how it splits
// the edge there: knots of the degree's multiplicity that kink, breaks inside
// the edge's own part of the curve only, intcurves running against their
// B-spline, position jumps, breaks at a vertex and pieces too short to keep;
// and which faces its loop rules remove or leave alone.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "heal/step_healer.hxx"
#include "support/connector_test.hxx"
#include "support/heal_builders.hxx"
#include "support/loop_builders.hxx"
#include "support/query_builders.hxx"
#include "support/model_builders.hxx"
#include "support/repair_builders.hxx"
#include "support/repair_sweep.hxx"
#include "velm/bspline.hxx"
#include "velm/geometry.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/query.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"
#include "velm/topology_edit.hxx"

namespace {

class EdgeBreaks : public testkit::ConnectorTest {};

// A cubic through seven control points whose middle knot 1 has multiplicity
// three: the curve passes through (3, 0, 0) and turns there by a right angle.
std::vector<QELposition> kinkedCubicPoints()
{
    return {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {3, 1, 0}, {3, 2, 0}, {3, 3, 0}};
}
// The same knots with the control points on either side of the middle one
// in line and equally spaced: a knot of full multiplicity, and no kink.
std::vector<QELposition> smoothCubicPoints()
{
    return {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {4, 0, 0}, {5, 1, 0}, {6, 3, 0}};
}
const std::vector<double> kinkKnots{0, 0, 0, 0, 1, 1, 1, 2, 2, 2, 2};
// Three spans: a kink at knot 1 as above, then a knot 2 of full
// multiplicity through (3, 3, 0) across which the curve runs on smoothly.
std::vector<QELposition> kinkThenSmoothPoints()
{
    return {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {3, 1, 0}, {3, 2, 0}, {3, 3, 0}, {3, 4, 0}, {4, 5, 0}, {5, 5, 0}};
}
const std::vector<double> kinkThenSmoothKnots{0, 0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 3};
// A cubic of two halves that do not meet: knot 1 of multiplicity four, the
// second half starting `gap` above where the first ends.
std::vector<QELposition> gappedCubicPoints(double gap)
{
    return {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {3, gap, 0}, {4, 1, 0}, {5, 1, 0}, {6, 2, 0}};
}
const std::vector<double> gapKnots{0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2};

// A wire body of one edge on an intcurve of the cubic, the intcurve negated
// when `negated` (its parameters then run from -2 to 0 against its
// B-spline), over the curve parameters [from, to] when given (else the whole
// curve), the edge running along the curve or against it. The end vertex is
// tolerant when `endTolerance` is set.
BODY* cubicWire(const std::vector<QELposition>& points, const std::vector<double>& knots, bool negated, sense_type sense,
                std::optional<QELinterval> part = std::nullopt, double endTolerance = 0.0)
{
    bs3_curve bs = bs3_curve_from_ctrlpts(3, 0, 0, 0, static_cast<int>(points.size()), points.data(), nullptr,
                                          QELresabs, static_cast<int>(knots.size()), knots.data(), 1e-10);
    intcurve ic(bs);
    if (negated)
        ic.negate();
    const QELinterval range = part ? *part : ic.param_range();
    const QELposition from = ic.eval_position(range.start_pt()), to = ic.eval_position(range.end_pt());
    const QELposition& a = sense == FORWARD ? from : to;
    const QELposition& b = sense == FORWARD ? to : from;
    VERTEX* start = new VERTEX(new APOINT(a));
    VERTEX* end = endTolerance > 0.0 ? new TVERTEX(new APOINT(b), endTolerance) : new VERTEX(new APOINT(b));
    EDGE* edge = new EDGE(start, end, new INTCURVE(ic), sense);
    BODY* wire = nullptr;
    api_make_ewire(1, &edge, wire);
    return wire;
}

// A closed edge of one vertex at `at` on a closed cubic with a kink at its
// middle knot, its last control point moved by `gap` (the curve's ends then
// part there), the B-spline marked periodic when asked whether its ends meet
// or not.
BODY* closedCubicWire(double gap, bool periodic, const QELposition& at = QELposition(0, 0, 0))
{
    std::vector<QELposition> points = kinkedCubicPoints();
    points.back() = points.front() + QELvector(0, gap, 0);
    points[4] = QELposition(3, 1, 0);
    points[5] = QELposition(1, 1, 0);
    bs3_curve bs = bs3_curve_from_ctrlpts(3, 0, 1, 0, static_cast<int>(points.size()), points.data(), nullptr,
                                          QELresabs, static_cast<int>(kinkKnots.size()), kinkKnots.data(), 1e-10);
    if (periodic)
        bs3_curve_set_periodic(bs);
    auto* vertex = new VERTEX(new APOINT(at));
    EDGE* edge = new EDGE(vertex, vertex, new INTCURVE(intcurve(bs)), FORWARD, EDGE_cvty_unknown, nullptr);
    BODY* wire = nullptr;
    api_make_ewire(1, &edge, wire);
    return wire;
}

EDGE* firstEdge(BODY* body)
{
    ENTITY_LIST edges;
    api_get_edges(body, edges);
    return edges.count() > 0 ? static_cast<EDGE*>(edges[0]) : nullptr;
}

std::vector<double> asVector(const QELXDynamicArray<double>& a)
{
    std::vector<double> out;
    for (int i = 0; i < a.Count(); ++i)
        out.push_back(a[i]);
    return out;
}

bool hasVertexAt(BODY* body, const QELposition& p, double tol)
{
    ENTITY_LIST vertices;
    api_get_vertices(body, vertices);
    for (int i = 0; i < vertices.count(); ++i)
        if ((static_cast<VERTEX*>(vertices[i])->geometry()->coords() - p).len() < tol)
            return true;
    return false;
}

struct BreakCase {
    const char* name;
    std::vector<QELposition> points;
    std::vector<double> knots;
    bool negated;
    sense_type sense;
    std::optional<QELinterval> part;
    std::vector<double> tangentBreaks;  // curve parameters, as getG1Discont lists them
    bool extraKnots;
    std::vector<double> positionBreaks; // as getG0Discont lists them
};

std::vector<BreakCase> breakCases()
{
    const QELposition noGap;
    return {
        {"kink", kinkedCubicPoints(), kinkKnots, false, FORWARD, std::nullopt, {1.0}, false, {}},
        {"kink on a reversed edge", kinkedCubicPoints(), kinkKnots, false, REVERSED, std::nullopt, {1.0}, false, {}},
        {"kink of a negated intcurve", kinkedCubicPoints(), kinkKnots, true, FORWARD, std::nullopt, {-1.0}, false, {}},
        {"kink of a negated intcurve on a reversed edge", kinkedCubicPoints(), kinkKnots, true, REVERSED, std::nullopt,
         {-1.0}, false, {}},
        {"kink past the edge's end", kinkedCubicPoints(), kinkKnots, false, FORWARD, QELinterval(0.0, 0.8), {}, false, {}},
        {"kink before the edge's start", kinkedCubicPoints(), kinkKnots, false, REVERSED, QELinterval(1.2, 2.0), {},
         false, {}},
        {"kink outside a negated intcurve's edge", kinkedCubicPoints(), kinkKnots, true, FORWARD, QELinterval(-0.7, 0.0),
         {}, false, {}},
        {"full knot without a kink", smoothCubicPoints(), kinkKnots, false, FORWARD, std::nullopt, {}, false, {}},
        {"kink, then a full knot without one", kinkThenSmoothPoints(), kinkThenSmoothKnots, false, FORWARD,
         std::nullopt, {1.0}, false, {}},
        {"kink, then a full knot without one, of a negated intcurve on a reversed edge", kinkThenSmoothPoints(),
         kinkThenSmoothKnots, true, REVERSED, std::nullopt, {-1.0}, false, {}},
        {"position jump", gappedCubicPoints(0.01), gapKnots, false, FORWARD, std::nullopt, {}, true, {1.0}},
        {"position jump of a negated intcurve", gappedCubicPoints(0.01), gapKnots, true, FORWARD, std::nullopt, {}, true,
         {-1.0}},
    };
}

} // namespace

// What the break searches list for each curve, and that an edge is split at
// exactly those breaks: a vertex at the kink, sound pieces, none outside the
// edge's part of the curve.
TEST_F(EdgeBreaks, BreaksAreListedAndSplitOnlyWhereTheEdgesOwnCurveKinksOrJumps)
{
    for (const BreakCase& c : breakCases()) {
        SCOPED_TRACE(c.name);
        BODY* wire = cubicWire(c.points, c.knots, c.negated, c.sense, c.part);
        ASSERT_EQ(testkit::model_problems(wire), "");
        EDGE* edge = firstEdge(wire);
        QELXDynamicArray<double> tangent;
        bool extra = false;
        QELXStepVelmHealer::getG1Discont(edge, tangent, extra);
        const std::vector<double> found = asVector(tangent);
        ASSERT_EQ(found.size(), c.tangentBreaks.size());
        for (std::size_t i = 0; i < found.size(); ++i)
            EXPECT_NEAR(found[i], c.tangentBreaks[i], 1e-9);
        EXPECT_EQ(extra, c.extraKnots);
        QELXDynamicArray<double> position;
        EXPECT_EQ(QELXStepVelmHealer::getG0Discont(edge, position), !c.positionBreaks.empty());
        const std::vector<double> jumps = asVector(position);
        ASSERT_EQ(jumps.size(), c.positionBreaks.size());
        for (std::size_t i = 0; i < jumps.size(); ++i)
            EXPECT_NEAR(jumps[i], c.positionBreaks[i], 1e-9);

        const double length = edge->length();
        const std::string before = testkit::body_text(wire);
        QELXStepVelmHealer::fixCurveG0Errors(edge);
        const bool breaks = !c.tangentBreaks.empty() || !c.positionBreaks.empty();
        if (!breaks) {
            EXPECT_EQ(testkit::body_text(wire), before) << "an edge without breaks of its own stays as it was";
        } else {
            EXPECT_EQ(testkit::count_edges(wire), 2);
            // At a jump the vertex lies on one side of it.
            EXPECT_TRUE(hasVertexAt(wire, QELposition(3, 0, 0), c.positionBreaks.empty() ? 1e-6 : 0.0101))
                << "a vertex where the curve breaks";
            EXPECT_EQ(testkit::model_problems(wire), "");
            ENTITY_LIST edges;
            api_get_edges(wire, edges);
            double total = 0.0;
            for (int i = 0; i < edges.count(); ++i)
                total += static_cast<EDGE*>(edges[i])->length();
            // A jump is bridged by the tolerance of the vertex at it.
            EXPECT_NEAR(total, length, c.positionBreaks.empty() ? 1e-6 : 0.02);
        }
        api_del_entity(wire);
    }
}

// A kink that lies at an end vertex, within the vertex's tolerance, adds no
// vertex; one just past the resolution from a plain end splits off a piece
// shorter than 0.0001, and that piece is removed again: one edge is left,
// ending at a tolerant vertex.
TEST_F(EdgeBreaks, NoPieceIsLeftAtAVertexOrShorterThanATenThousandth)
{
    for (const sense_type sense : {FORWARD, REVERSED}) {
        SCOPED_TRACE(sense == FORWARD ? "forward" : "reversed");
        {
            // The kink lies 0.009 from the end, within its tolerance of 0.01.
            BODY* wire = cubicWire(kinkedCubicPoints(), kinkKnots, false, sense, QELinterval(0.0, 1.003),
                                   sense == FORWARD ? 0.01 : 0.0);
            if (sense == REVERSED) {
                // The far end of the curve is the edge's start: give it the tolerance.
                EDGE* edge = firstEdge(wire);
                TVERTEX* made = nullptr;
                ASSERT_TRUE(api_replace_vertex_with_tvertex(edge->start(), made).ok());
                made->set_tolerance(0.01);
            }
            EDGE* edge = firstEdge(wire);
            QELXDynamicArray<double> breaks;
            ASSERT_TRUE(QELXStepVelmHealer::getG0G1DiscCont(edge, breaks)) << "the kink is inside the edge";
            QELXStepVelmHealer::fixCurveG0Errors(edge);
            EXPECT_EQ(testkit::count_edges(wire), 1) << "the kink is at the vertex";
            api_del_entity(wire);
        }
        {
            BODY* wire = cubicWire(kinkedCubicPoints(), kinkKnots, false, sense, QELinterval(0.0, 1.00003));
            EDGE* edge = firstEdge(wire);
            const double length = edge->length();
            QELXStepVelmHealer::fixCurveG0Errors(edge);
            EXPECT_EQ(testkit::count_edges(wire), 1) << "the short piece is removed";
            EDGE* left = firstEdge(wire);
            ASSERT_NE(left, nullptr);
            EXPECT_NEAR(left->length(), length, 2e-4);
            EXPECT_TRUE(is_TVERTEX(left->start()) || is_TVERTEX(left->end())) << "the vertex left bridges the piece";
            EXPECT_EQ(testkit::model_problems(wire), "");
            api_del_entity(wire);
        }
    }
}

// A closed edge of one vertex that a sender moved off the curve's ends, on a
// curve that is closed or periodic: the kink between is still found, the
// window running one period on from the vertex whichever end of the curve
// the vertex lies nearer.
TEST_F(EdgeBreaks, AClosedEdgeAtAMovedVertexIsStillSplitAtItsKink)
{
    for (const bool periodic : {false, true})
        for (const QELposition& at : {QELposition(0, 0, 0), QELposition(0, 1e-3, 0), QELposition(1e-3, -1e-3, 0),
                                      QELposition(-1e-3, 2e-3, 0)}) {
            SCOPED_TRACE(std::string(periodic ? "periodic" : "closed") + ", vertex at " + std::to_string(at.x()) + " " +
                         std::to_string(at.y()));
            BODY* wire = closedCubicWire(0.0, periodic, at);
            ASSERT_NE(wire, nullptr);
            QELXDynamicArray<double> breaks;
            bool extra = false;
            QELXStepVelmHealer::getG1Discont(firstEdge(wire), breaks, extra);
            ASSERT_EQ(breaks.Count(), 1);
            EXPECT_NEAR(breaks[0], 1.0, 1e-9);
            api_del_entity(wire);
        }
}

// A closed edge of one vertex on a periodic curve runs a period from its
// vertex, wherever round the curve that lies: the kink is inside the edge
// unless the vertex sits on it, where the edge's ends meet anyway.
TEST_F(EdgeBreaks, AClosedEdgeRunsAPeriodFromItsVertexWhereverItLies)
{
    BODY* probe = closedCubicWire(0.0, true);
    ASSERT_NE(probe, nullptr);
    const curve& along = firstEdge(probe)->geometry()->equation();
    for (const double at : {0.25, 0.5, 1.0, 1.5, 1.75}) {
        SCOPED_TRACE(testing::Message() << "vertex at curve parameter " << at);
        BODY* wire = closedCubicWire(0.0, true, along.eval_position(at));
        ASSERT_NE(wire, nullptr);
        QELXDynamicArray<double> breaks;
        bool extra = false;
        QELXStepVelmHealer::getG1Discont(firstEdge(wire), breaks, extra);
        if (at == 1.0) {
            EXPECT_EQ(breaks.Count(), 0) << "the kink is at the vertex";
        } else {
            ASSERT_EQ(breaks.Count(), 1);
            EXPECT_NEAR(breaks[0], 1.0, 1e-9);
        }
        api_del_entity(wire);
    }
    api_del_entity(probe);
}

// The face-loop rules: a cylinder is left alone for one periodic count in
// its second place, a torus for one in its second or third, nothing else and
// nothing with a first count.
TEST_F(EdgeBreaks, OnlyCylindersAndToriWithOneSeamCountAreLeftAlone)
{
    BODY* cylinder = testkit::make_iso_rect_sheet(testkit::test_cylinder(), {testkit::rect(0.5, 2.0, 0.0, 3.0, true)});
    BODY* torus = testkit::make_iso_rect_sheet(testkit::test_torus(), {testkit::rect(0.5, 2.0, 0.5, 2.0, true)});
    BODY* plane = testkit::make_iso_rect_sheet(testkit::test_plane(), {testkit::rect(0.0, 1.0, 0.0, 1.0, true)});
    FACE* onCylinder = cylinder->lump()->shell()->face();
    FACE* onTorus = torus->lump()->shell()->face();
    FACE* onPlane = plane->lump()->shell()->face();
    const struct {
        FACE* face;
        int counts[5];
        bool leftAlone;
    } cases[] = {
        {onCylinder, {0, 0, 1, 0, 0}, true},  {onCylinder, {0, 0, 0, 1, 0}, false}, {onCylinder, {1, 0, 1, 0, 0}, false},
        {onCylinder, {0, 0, 2, 0, 0}, false}, {onTorus, {0, 0, 1, 0, 0}, true},     {onTorus, {0, 0, 0, 1, 0}, true},
        {onTorus, {0, 0, 2, 2, 0}, false},    {onTorus, {1, 0, 0, 1, 0}, false},    {onPlane, {0, 0, 1, 0, 0}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(QELXStepVelmHealer::removeFaceIfNeeded(c.face, c.counts), c.leftAlone)
            << (c.face == onCylinder ? "cylinder" : c.face == onTorus ? "torus" : "plane") << " " << c.counts[0]
            << c.counts[1] << c.counts[2] << c.counts[3] << c.counts[4];
    for (BODY* b : {cylinder, torus, plane})
        api_del_entity(b);
}

// The area rule of the face-loop repair: a planar face is removed only when
// its area is below the square of the resolution; a face a hundred-millionth
// of a square unit in area is small but real and stays, in every frame.
TEST_F(EdgeBreaks, APlanarFaceGoesOnlyBelowTheSquareOfTheResolution)
{
    const struct {
        const char* name;
        std::vector<QELposition> corners;
        bool kept;
    } cases[] = {
        {"square of 1e-4", {{0, 0, 0}, {1e-4, 0, 0}, {1e-4, 1e-4, 0}, {0, 1e-4, 0}}, true},
        {"strip of 1e-3 by 1e-6", {{0, 0, 0}, {1e-3, 0, 0}, {1e-3, 2e-6, 0}, {0, 2e-6, 0}}, true},
        {"unit square", {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, true},
        {"needle of area 5e-14", {{0, 0, 0}, {1, 0, 0}, {0.5, 1e-13, 0}}, false},
    };
    // A face measured inside out (its plane turned against its loop) is
    // turned back, not taken for a face without area.
    for (const auto& c : cases)
    for (const bool insideOut : {false, true}) {
        SCOPED_TRACE(std::string(c.name) + (insideOut ? ", inside out" : ""));
        std::vector<int> face;
        for (int i = 0; i < static_cast<int>(c.corners.size()); ++i)
            face.push_back(i);
        std::vector<BODY*> sheets = testkit::make_loose_sheets(c.corners, {face});
        ASSERT_EQ(sheets.size(), 1u);
        BODY* sheet = sheets[0];
        const double area = testkit::body_area(sheet);
        if (insideOut)
            sheet->lump()->shell()->face()->geometry()->equation_for_update().negate();
        QELXStepVelmHealer::ve_repair_face_loops(sheet);
        EXPECT_EQ(testkit::count_faces(sheet), c.kept ? 1 : 0);
        if (c.kept) {
            EXPECT_NEAR(testkit::body_area(sheet), area, 1e-9 * area) << "kept as it faced";
        }
        api_del_entity(sheet);
    }
}

namespace {

// A plane face whose only loop is a slit: two straight edges from (3, 4) to
// (6, 5) and back, nothing around them.
BODY* slitOnlySheet()
{
    BODY* sheet = testkit::make_polygon_sheet({{0, 0}, {10, 0}, {10, 10}, {0, 10}});
    FACE* face = sheet->lump()->shell()->face();
    LOOP* outer = face->loop();
    extract_loop(outer);
    api_del_entity(outer);
    testkit::add_slit_loop(face, new VERTEX(new APOINT(QELposition(3, 4, 0))), QELposition(6, 5, 0));
    return sheet;
}

// The coedge of the sheet along v = 0 from u = 0 to u = 3.
COEDGE* bottomCoedge(BODY* sheet)
{
    ENTITY_LIST coedges;
    api_get_coedges(sheet, coedges);
    for (int i = 0; i < coedges.count(); ++i) {
        auto* c = static_cast<COEDGE*>(coedges[i]);
        if ((c->start_pos() - QELposition(0, 0, 0)).len() < 1e-12 && (c->end_pos() - QELposition(3, 0, 0)).len() < 1e-12)
            return c;
    }
    return nullptr;
}

} // namespace

// A face whose every loop is a retracing pair keeps them: removing them
// would leave the face without a boundary.
TEST_F(EdgeBreaks, AFaceOfWireLoopsAloneKeepsThem)
{
    BODY* sheet = slitOnlySheet();
    FACE* face = sheet->lump()->shell()->face();
    const std::string before = testkit::body_text(sheet);
    EXPECT_FALSE(QELXStepVelmHealer::checkAndRemoveWireLoops(face));
    EXPECT_EQ(testkit::body_text(sheet), before);
    api_del_entity(sheet);
}

// A pcurve that meets its edge at all four samples but runs against it at
// the one at a third is in error; the pcurve the sheet was made with is not.
TEST_F(EdgeBreaks, APcurveRunningBackAtASampleIsInErrorThoughItsPointsMeet)
{
    BODY* sheet = testkit::make_iso_rect_sheet(testkit::test_plane(), {testkit::rect(0, 3, 0, 1, true)});
    COEDGE* bottom = bottomCoedge(sheet);
    ASSERT_NE(bottom, nullptr);
    FACE* face = sheet->lump()->shell()->face();
    EXPECT_FALSE(QELXStepVelmHealer::hasPCurveErrors(bottom, face));
    // Through (0, 0) at 0, (1, 0) at 1 running back, (2, 0) at 2 and (3, 0) at 3.
    const QELposition points[5] = {{0, 0, 0}, {1.2, 0, 0}, {0.8, 0, 0}, {2, 0, 0}, {3, 0, 0}};
    const double knots[7] = {0, 0, 0.9, 1.1, 2, 3, 3};
    bs2_curve zigzag = bs2_curve_from_ctrlpts(1, 0, 0, 0, 5, points, nullptr, QELresabs, 7, knots, 1e-10);
    bottom->set_geometry(new PCURVE(pcurve(zigzag, QELresfit, face->geometry()->equation())));
    EXPECT_TRUE(QELXStepVelmHealer::hasPCurveErrors(bottom, face));
    api_del_entity(sheet);
}

// Position breaks: the first knot of a periodic spline is where its end must
// meet its start again, so a gap there is a break (an open spline's ends are
// no break); a spline whose knots all coincide has no span and is broken
// through, with no parameter to list.
TEST_F(EdgeBreaks, APeriodicSplinesFirstKnotAndASplineOfOneKnotArePositionBreaks)
{
    const struct {
        const char* name;
        double gap;
        bool periodic;
        bool collapsed;
        bool broken;
        std::vector<double> params;
    } cases[] = {
        {"periodic, ends apart", 0.01, true, false, true, {0.0}},
        {"periodic, ends meeting", 0.0, true, false, false, {}},
        {"open, ends apart", 0.01, false, false, false, {}},
        {"knots collapsed to one", 0.0, false, true, true, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BODY* wire = c.collapsed ? cubicWire(kinkedCubicPoints(), kinkKnots, false, FORWARD)
                                 : closedCubicWire(c.gap, c.periodic);
        EDGE* edge = firstEdge(wire);
        ASSERT_NE(edge, nullptr);
        const auto& ic = static_cast<const intcurve&>(edge->geometry()->equation());
        if (c.collapsed)
            bs3_curve_reparam(0.0, 0.0, ic.cur(-1.0));
        ASSERT_EQ(bs3_curve_periodic(ic.cur(-1.0)) != 0, c.periodic);
        QELXDynamicArray<double> params;
        EXPECT_EQ(QELXStepVelmHealer::getG0Discont(edge, params), c.broken);
        const std::vector<double> found = asVector(params);
        ASSERT_EQ(found.size(), c.params.size());
        for (std::size_t i = 0; i < found.size(); ++i)
            EXPECT_NEAR(found[i], c.params[i], 1e-12);
        api_del_entity(wire);
    }
}

// Each piece of a split edge gets its own part of the curve; when the curve
// has no part for some piece (the edge runs past the curve's end), the split
// is taken back whole: one edge, on its curve as it was.
TEST_F(EdgeBreaks, SplitPiecesTakeTheirPartOfTheCurveOrTheSplitIsTakenBack)
{
    for (const bool pastTheEnd : {false, true}) {
        SCOPED_TRACE(pastTheEnd ? "edge running past the curve's end" : "edge inside its curve");
        BODY* wire = cubicWire(kinkedCubicPoints(), kinkKnots, false, FORWARD);
        EDGE* edge = firstEdge(wire);
        if (pastTheEnd) {
            const QELinterval longer(0.0, 2.5);
            edge->set_param_range(&longer);
        }
        const std::string curveBefore = testkit::body_text(wire);
        QELXStepVelmHealer::fixCurveG0Errors(edge);
        ENTITY_LIST edges;
        api_get_edges(wire, edges);
        if (pastTheEnd) {
            ASSERT_EQ(edges.count(), 1);
            EXPECT_FALSE(hasVertexAt(wire, QELposition(3, 0, 0), 1e-6)) << "no vertex left at the kink";
            const auto& kept = static_cast<const intcurve&>(firstEdge(wire)->geometry()->equation());
            EXPECT_FALSE(kept.subsetted()) << "the edge keeps its whole curve";
        } else {
            ASSERT_EQ(edges.count(), 2);
            for (int i = 0; i < edges.count(); ++i) {
                auto* piece = static_cast<EDGE*>(edges[i]);
                const auto& own = static_cast<const intcurve&>(piece->geometry()->equation());
                EXPECT_TRUE(own.subsetted()) << "piece " << i;
                const QELinterval part = own.param_range(), range = piece->param_range();
                EXPECT_NEAR(part.start_pt(), range.start_pt(), 1e-9) << "piece " << i;
                EXPECT_NEAR(part.end_pt(), range.end_pt(), 1e-9) << "piece " << i;
            }
            EXPECT_EQ(testkit::model_problems(wire), "");
        }
        api_del_entity(wire);
    }
}

// A pcurve that ends short of its edge says nothing past its end: the
// samples there are not judged, while the ones it covers still are.
TEST_F(EdgeBreaks, APcurveIsJudgedOnlyOverItsOwnRange)
{
    BODY* sheet = testkit::make_iso_rect_sheet(testkit::test_plane(), {testkit::rect(0, 3, 0, 1, true)});
    COEDGE* bottom = bottomCoedge(sheet);
    ASSERT_NE(bottom, nullptr);
    FACE* face = sheet->lump()->shell()->face();
    // Along the edge up to 2, then a last span 1e-4 long that turns off it
    // steeply: carried on past its end the pcurve would leave the edge far
    // behind by 3.
    const struct {
        const char* name;
        std::vector<QELposition> points;
        std::vector<double> knots;
        bool error;
    } cases[] = {
        {"ending at 2.0001, true up to it", {{0, 0, 0}, {2, 0, 0}, {2, 5, 0}}, {0, 0, 2, 2.0001, 2.0001}, false},
        {"ending at 2.0001, off at 1", {{0, 0, 0}, {1, 0.5, 0}, {2, 0, 0}, {2, 5, 0}}, {0, 0, 1, 2, 2.0001, 2.0001},
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        bs2_curve short_ = bs2_curve_from_ctrlpts(1, 0, 0, 0, static_cast<int>(c.points.size()), c.points.data(),
                                                  nullptr, QELresabs, static_cast<int>(c.knots.size()),
                                                  c.knots.data(), 1e-10);
        ASSERT_NE(short_, nullptr);
        bottom->set_geometry(new PCURVE(pcurve(short_, QELresfit, face->geometry()->equation())));
        EXPECT_EQ(QELXStepVelmHealer::hasPCurveErrors(bottom, face), c.error);
    }
    api_del_entity(sheet);
}
