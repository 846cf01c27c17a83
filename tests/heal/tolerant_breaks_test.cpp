// A tolerant edge whose rebuilt pcurve still leaves a tolerant vertex
// reaching a neighbouring vertex is split at its curve's breaks: kinks first,
// breaks in curvature alone when there are none, and only those inside the
// edge's own part of the curve; every piece, the first too, gets a pcurve
// rebuilt on its part of the curve, whichever way the edge runs along it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/entity_views.hxx"
#include "support/connector_test.hxx"
#include "support/geometry_builders.hxx"
#include "support/heal_builders.hxx"
#include "support/query_builders.hxx"
#include "support/repair_builders.hxx"
#include "velm/bspline.hxx"
#include "velm/geometry.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/pcurves.hxx"
#include "velm/testkit.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

namespace {

class TolerantBreaks : public testkit::ConnectorTest {};

// The short side next to the curved one: its length is what the tolerant
// vertex's tolerance is measured against.
constexpr double kReachedSide = 0.002;

// A wavy B-spline in z = 0 over [0, 4] from (0, 0) to (4, 0). Quadratic with
// simple knots at 1.5 and 2.5 it kinks in curvature's lower order there (its
// second derivative jumps); cubic with one simple knot at 2 only its third
// derivative jumps.
intcurve breaksCurve(bool cubic)
{
    const QELposition points[5] = {{0, 0, 0}, {1, -0.3, 0}, {2, 0.3, 0}, {3, -0.3, 0}, {4, 0, 0}};
    const double quadratic[8] = {0, 0, 0, 1.5, 2.5, 4, 4, 4};
    const double third[9] = {0, 0, 0, 0, 2, 4, 4, 4, 4};
    return cubic ? intcurve(bs3_curve_from_ctrlpts(3, 0, 0, 0, 5, points, nullptr, QELresabs, 9, third, 1e-10))
                 : intcurve(bs3_curve_from_ctrlpts(2, 0, 0, 0, 5, points, nullptr, QELresabs, 8, quadratic, 1e-10));
}

std::vector<EDGE*> breaksSheetEdges(BODY* sheet)
{
    ENTITY_LIST list;
    api_get_edges(sheet, list);
    std::vector<EDGE*> out;
    for (int i = 0; i < list.count(); ++i)
        out.push_back(static_cast<EDGE*>(list[i]));
    return out;
}

struct BreaksSheet {
    BODY* sheet = nullptr;
    TCOEDGE* wavy = nullptr;
    TVERTEX* corner = nullptr;
};

// A sheet in z = 0 whose loop runs along the wavy curve over `range` from p
// to q, up to y = 3, back, and down to p by a side kReachedSide long. The
// wavy edge is tolerant (to a thousandth, more than a pcurve fitted to it is
// off), of a tolerant coedge whose pcurve is lifted off it by 0.05; p is a
// tolerant vertex of the given tolerance. A reversed edge runs from q to p
// against its curve, its coedge against it. `below`, a second face down to
// y = -3 shares the wavy edge, its coedge tolerant and lifted too.
BreaksSheet breaksSheet(bool cubic, const QELinterval& range, double tolerance, bool reversed, bool below = false)
{
    BreaksSheet out;
    const intcurve eq = breaksCurve(cubic);
    const QELposition p = eq.eval_position(range.start_pt()), q = eq.eval_position(range.end_pt());
    if (below)
        out.sheet = testkit::make_polyhedron({p, q, {q.x(), 3.0, 0}, {p.x(), 3.0, 0}, {p.x(), p.y() + kReachedSide, 0},
                                              {p.x(), -3.0, 0}, {q.x(), -3.0, 0}},
                                             {{0, 1, 2, 3, 4}, {1, 0, 5, 6}});
    else
        out.sheet = testkit::make_polygon_sheet(
            {{p.x(), p.y()}, {q.x(), q.y()}, {q.x(), 3.0}, {p.x(), 3.0}, {p.x(), p.y() + kReachedSide}});
    EDGE* edge = nullptr;
    for (EDGE* e : breaksSheetEdges(out.sheet))
        if (distance(e->start_pos(), p) < 1e-9 && distance(e->end_pos(), q) < 1e-9)
            edge = e;
    if (!edge)
        return out;
    edge->set_geometry(make_curve(eq));
    if (reversed) {
        VERTEX* atP = edge->start();
        edge->set_start(edge->end());
        edge->set_end(atP);
        edge->set_sense(REVERSED);
        ENTITY_LIST uses;
        api_get_coedges(edge, uses);
        for (int i = 0; i < uses.count(); ++i) {
            auto* c = static_cast<COEDGE*>(uses[i]);
            c->set_sense(c->sense() == FORWARD ? REVERSED : FORWARD);
        }
        const QELinterval against = -range;
        edge->set_param_range(&against);
    } else {
        edge->set_param_range(&range);
    }
    ENTITY_LIST coedges;
    api_get_coedges(out.sheet, coedges);
    for (int i = 0; i < coedges.count(); ++i)
        sg_add_pcurve_to_coedge(static_cast<COEDGE*>(coedges[i]));
    TEDGE* tolerant = nullptr;
    if (!api_replace_edge_with_tedge(edge, tolerant).ok() || !tolerant)
        return out;
    tolerant->set_tolerance(1e-3);
    COEDGE* other = tolerant->coedge()->partner();
    out.wavy = testkit::make_coedge_tolerant(tolerant->coedge());
    if (below && other && other != out.wavy)
        testkit::shift_pcurve(testkit::make_coedge_tolerant(other), 0.0, 0.05);
    TVERTEX* tv = nullptr;
    if (!api_replace_vertex_with_tvertex(reversed ? tolerant->end() : tolerant->start(), tv).ok() || !tv)
        return out;
    tv->set_tolerance(tolerance);
    out.corner = tv;
    testkit::shift_pcurve(out.wavy, 0.0, 0.05);
    return out;
}

// The edges of the sheet along the wavy curve (those neither on the three
// straight sides).
int piecesOnTheCurve(BODY* sheet)
{
    int n = 0;
    for (EDGE* e : breaksSheetEdges(sheet))
        if (e->geometry() && e->geometry()->equation().type() != 1)
            ++n;
    return n;
}

} // namespace

TEST_F(TolerantBreaks, SplitOnlyWhereAReachingVertexCallsForItAtTheBreaksInsideTheEdge)
{
    struct Case {
        const char* name;
        bool cubic;
        QELinterval range;
        double tolerance;  // of the tolerant vertex, in short sides
        int pieces;
    };
    const Case cases[] = {
        {"kinks inside, reaching by half as much again", false, QELinterval(0.0, 4.0), 1.5, 3},
        {"kinks inside, reaching not", false, QELinterval(0.0, 4.0), 0.5, 1},
        {"curvature break only", true, QELinterval(0.0, 4.0), 1.5, 2},
        {"one kink past the edge's end", false, QELinterval(0.0, 2.0), 1.5, 2},
        {"one kink before the edge's start", false, QELinterval(2.0, 4.0), 1.5, 2},
    };
    for (const Case& c : cases) {
        for (const bool reversed : {false, true})
        for (const bool below : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (reversed ? ", the edge against its curve" : "") +
                         (below ? ", a face on either side" : ""));
            BreaksSheet b = breaksSheet(c.cubic, c.range, c.tolerance * kReachedSide, reversed, below);
            ASSERT_NE(b.corner, nullptr);
            ASSERT_GT(testkit::worst_pcurve_gap(b.wavy), 0.01);
            if (below) {
                ASSERT_TRUE(b.wavy->partner() && b.wavy->partner() != b.wavy &&
                            testkit::worst_pcurve_gap(b.wavy->partner()) > 0.01);
            }
            // The kernel's own tolerance update is refused: the tolerances stay
            // as built, below the lifted pcurve's gap.
            velm_test_fail_call("stch_check_and_fix_tedges_in_entity", 1, VELM_BAD_ARGUMENT);
            bool changed = false;
            reinterpret_cast<Ve_BodyTag*>(b.sheet)->FixTTIErrors(changed);
            EXPECT_EQ(piecesOnTheCurve(b.sheet), c.pieces);
            EXPECT_EQ(changed, c.pieces > 1);
            ENTITY_LIST after;
            api_get_coedges(b.sheet, after);
            for (int i = 0; i < after.count(); ++i)
                EXPECT_LT(testkit::worst_pcurve_gap(static_cast<COEDGE*>(after[i])), 1e-4) << "coedge " << i;
            api_del_entity(b.sheet);
        }
    }
}
