// A vertex moved off the corner its edges' curves still bound (the edges
// keep the bounds the file gave them) goes back to the corner in the
// repair, rather than being tolerated as wide as its distance, in every
// frame. (Edges bounded by the vertex's own feet tell nothing of where the
// corner is: standard_repair_test has that vertex tolerated where it lies.)
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "model/entity_views.hxx"
#include "support/connector_test.hxx"
#include "support/geometry_builders.hxx"
#include "support/heal_builders.hxx"
#include "support/in_turn.hxx"
#include "support/model_builders.hxx"
#include "support/query_builders.hxx"
#include "support/repair_builders.hxx"
#include "velm/bspline.hxx"
#include "velm/build.hxx"
#include "velm/geometry.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/query.hxx"
#include "velm/testkit.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology_api.hxx"

namespace {

class VertexReposition : public testkit::ConnectorTest {};

VERTEX* vertexNearest(BODY* body, const QELposition& at)
{
    ENTITY_LIST vertices;
    api_get_vertices(body, vertices);
    VERTEX* best = nullptr;
    for (int i = 0; i < vertices.count(); ++i) {
        auto* v = static_cast<VERTEX*>(vertices[i]);
        if (!best || distance(v->geometry()->coords(), at) < distance(best->geometry()->coords(), at))
            best = v;
    }
    return best;
}

int tolerantVertices(BODY* body)
{
    ENTITY_LIST vertices;
    api_get_vertices(body, vertices);
    int tolerant = 0;
    for (int i = 0; i < vertices.count(); ++i)
        tolerant += is_TVERTEX(vertices[i]) ? 1 : 0;
    return tolerant;
}

} // namespace

TEST_F(VertexReposition, AVertexOffTheCornerItsEdgesBoundGoesBackInEveryFrame)
{
    const std::vector<QELtransf> frames = testkit::heal_frames();
    for (const double offset : {2e-5, 1e-3, 0.5})
        for (std::size_t f = 0; f < frames.size(); ++f) {
            SCOPED_TRACE("moved " + std::to_string(offset) + ", frame " + std::to_string(f));
            const QELtransf& frame = frames[f];
            BODY* box = testkit::make_framed_box(frame);
            const QELposition corner = QELposition(10.0, 20.0, 30.0) * frame;
            const QELposition moved = QELposition(10.0 + offset, 20.0 + offset, 30.0 - offset) * frame;
            VERTEX* v = vertexNearest(box, corner);
            ASSERT_LT(distance(v->geometry()->coords(), corner), 1e-9);
            v->geometry()->set_coords(moved);
            ASSERT_NE(testkit::check_findings(box), "") << "the model is built faulty";

            reinterpret_cast<Ve_BodyTag*>(box)->doStandardRepair();
            EXPECT_EQ(testkit::check_findings(box), "");
            EXPECT_EQ(testkit::count_faces(box), 6);
            EXPECT_LT(distance(vertexNearest(box, corner)->geometry()->coords(), corner), QELresabs);
            EXPECT_EQ(tolerantVertices(box), 0);
            api_del_entity(box);
        }
}

namespace {

// Every use of `e` given its pcurve fitted afresh over the edge's bounds.
void refitPcurves(EDGE* e)
{
    COEDGE* first = e->coedge();
    for (COEDGE* c = first; c;) {
        c->set_geometry(nullptr);
        sg_add_pcurve_to_coedge(c);
        c = c->partner();
        if (c == first)
            break;
    }
}

// Each edge at `v` bounded anew by the vertex's foot on its curve, as a STEP
// file bounds edges by their vertices (a closed edge keeps its turn), and
// its pcurves fitted over those bounds, as the import fits them.
void boundByFeet(VERTEX* v)
{
    const QELposition at = v->geometry()->coords();
    ENTITY_LIST edges;
    api_get_edges(v, edges);
    for (int i = 0; i < edges.count(); ++i) {
        auto* e = static_cast<EDGE*>(edges[i]);
        const curve& eq = e->geometry()->equation();
        const double sign = e->sense() == REVERSED ? -1.0 : 1.0;
        const QELinterval r = e->param_range();
        auto footNear = [&](double edgeParam) {
            const double guess = sign * edgeParam;
            double t = eq.param(at, &guess);
            if (eq.param_period() > 0.0)
                t += eq.param_period() * std::round((guess - t) / eq.param_period());
            return sign * t;
        };
        const QELinterval bounded(e->start() == v ? footNear(r.start_pt()) : r.start_pt(),
                                  e->end() == v ? footNear(r.end_pt()) : r.end_pt());
        e->set_param_range(&bounded);
        refitPcurves(e);
    }
}

} // namespace

// The seam vertex of a cylinder moved off, its circle and seam bounded by its
// feet (the circle's turn then starts off the seam, which a STEP file read
// back cannot orient): the vertex goes back onto the seam where the circle
// crosses it, the circle runs one whole turn from there, nothing is made
// tolerant and the volume is the cylinder's, in every frame, and with the
// circle's edge turned against its curve.
TEST_F(VertexReposition, AMovedSeamVertexGoesBackAndItsCircleTurnsFromTheSeam)
{
    const std::vector<QELtransf> frames = testkit::heal_frames();
    const double radius = 5.0, height = 8.0;
    for (const bool turned : {false, true})
        for (const double offset : {1e-4, 2e-3})
            for (std::size_t f = 0; f < frames.size(); ++f) {
                SCOPED_TRACE("moved " + std::to_string(offset) + ", frame " + std::to_string(f) +
                             (turned ? ", the circle's edge against its curve" : ""));
                BODY* cylinder = testkit::make_cylinder(radius, height);
                if (!frames[f].identity()) {
                    api_apply_transf(cylinder, frames[f]);
                    api_change_body_trans(cylinder, nullptr);
                }
                const QELposition seamEnd = QELposition(-radius, 0.0, 0.0) * frames[f];
                VERTEX* v = vertexNearest(cylinder, seamEnd);
                ASSERT_LT(distance(v->geometry()->coords(), seamEnd), 1e-9);
                if (turned) {
                    ENTITY_LIST around;
                    api_get_edges(v, around);
                    for (int i = 0; i < around.count(); ++i) {
                        auto* e = static_cast<EDGE*>(around[i]);
                        if (e->start() != e->end())
                            continue;
                        const QELinterval against = -e->param_range();
                        e->set_sense(e->sense() == FORWARD ? REVERSED : FORWARD);
                        e->set_param_range(&against);
                        COEDGE* first = e->coedge();
                        for (COEDGE* c = first; c;) {
                            c->set_sense(c->sense() == FORWARD ? REVERSED : FORWARD);
                            c = c->partner();
                            if (c == first)
                                break;
                        }
                    }
                }
                v->geometry()->set_coords(seamEnd + offset * (normalise(QELvector(0.3, -0.5, 0.8)) * frames[f]));
                boundByFeet(v);
                ASSERT_NE(testkit::check_findings(cylinder), "") << "the model is built faulty";

                reinterpret_cast<Ve_BodyTag*>(cylinder)->doStandardRepair();
                EXPECT_EQ(testkit::check_findings(cylinder), "");
                EXPECT_EQ(tolerantVertices(cylinder), 0);
                v = vertexNearest(cylinder, seamEnd);
                EXPECT_LT(distance(v->geometry()->coords(), seamEnd), QELresabs);
                ENTITY_LIST edges;
                api_get_edges(v, edges);
                for (int i = 0; i < edges.count(); ++i) {
                    auto* e = static_cast<EDGE*>(edges[i]);
                    if (e->start() == e->end()) {
                        EXPECT_NEAR(e->param_range().length(), 2.0 * M_PI, 1e-9);
                    }
                    // Each pcurve runs over the edge's new bounds, not the feet's
                    // (a pcurve evaluated past its own ends is another curve to
                    // a reader that takes it as it is).
                    const COEDGE* first = e->coedge();
                    for (const COEDGE* c = first; c;) {
                        if (c->geometry()) {
                            const QELinterval own = c->geometry()->def().param_range();
                            const QELinterval r = c->sense() == FORWARD ? e->param_range() : -e->param_range();
                            EXPECT_TRUE(own.start_pt() <= r.start_pt() + 1e-9 && own.end_pt() >= r.end_pt() - 1e-9)
                                << "a pcurve over [" << own.start_pt() << ", " << own.end_pt() << "] on an edge over ["
                                << r.start_pt() << ", " << r.end_pt() << "]";
                        }
                        c = c->partner();
                        if (c == first)
                            break;
                    }
                }
                double volume = 0.0, achieved = 0.0;
                ASSERT_TRUE(api_body_volume(cylinder, 1e-9, volume, achieved).ok());
                // To what the pcurves fitted over the new bounds integrate.
                EXPECT_NEAR(volume, M_PI * radius * radius * height, 1e-5 * M_PI * radius * radius * height);
                api_del_entity(cylinder);
            }
}

namespace {

// A triangular sheet in z = 0 with its corner at the origin between the
// x axis and a line `angle` above it (the far side 10 away), in `frame`.
BODY* wedgeSheet(double angle, const QELtransf& frame)
{
    BODY* wedge = testkit::make_polygon_sheet({{0.0, 0.0}, {10.0, 0.0}, {10.0, 10.0 * std::tan(angle)}}, {});
    if (!frame.identity()) {
        api_apply_transf(wedge, frame);
        api_change_body_trans(wedge, nullptr);
    }
    return wedge;
}

} // namespace

// The wedge's corner moved off, its edges bounded by its feet: the corner is
// found where the lines cross, however sharp (along the bisector of a sharp
// wedge the lines run nearly along one another, and averaging the vertex's
// feet on them creeps), when that is within four times the vertex's
// distance from the lines. Moved along the bisector alone, a sharp corner
// lies farther off than that and the curves say nothing of where the corner
// is: the vertex is tolerated where it lies.
TEST_F(VertexReposition, AMovedCornerGoesBackWhereItsLinesCrossWithinFourTimesItsDistanceFromThem)
{
    struct Case {
        const char* name;
        double angle;                // of the wedge, in radians
        double along, across, up;    // the move, in thousandths: out along the bisector, across it, off the plane
        bool goesBack;
    };
    const Case cases[] = {
        // The crossing 3.5 times as far as the farther line, the feet apart.
        {"5 degrees, along and a quarter as far across", 5.0 * M_PI / 180.0, 1.0, 0.25, 0.0, true},
        {"40 degrees, along and as far off the plane", 40.0 * M_PI / 180.0, 1.0, 0.0, 1.0, true},
        // Along the bisector: the crossing 1 / sin(angle / 2) times as far as the lines.
        {"40 degrees, along (2.9 times)", 40.0 * M_PI / 180.0, 1.0, 0.0, 0.0, true},
        {"24 degrees, along (4.8 times)", 24.0 * M_PI / 180.0, 1.0, 0.0, 0.0, false},
        {"10 degrees, along (11.5 times)", 10.0 * M_PI / 180.0, 1.0, 0.0, 0.0, false},
    };
    const std::vector<QELtransf> frames = testkit::heal_frames();
    const double d = 1e-3;
    for (const Case& c : cases)
        for (std::size_t f = 0; f < frames.size(); ++f) {
            SCOPED_TRACE(std::string(c.name) + ", frame " + std::to_string(f));
            BODY* wedge = wedgeSheet(c.angle, frames[f]);
            const QELposition corner = QELposition(0.0, 0.0, 0.0) * frames[f];
            const QELvector out(-std::cos(0.5 * c.angle), -std::sin(0.5 * c.angle), 0.0);
            const QELvector across(-out.y(), out.x(), 0.0);
            const QELvector off = d * (c.along * out + c.across * across + QELvector(0.0, 0.0, c.up));
            VERTEX* v = vertexNearest(wedge, corner);
            ASSERT_LT(distance(v->geometry()->coords(), corner), 1e-9);
            const QELposition moved = corner + off * frames[f];
            v->geometry()->set_coords(moved);
            boundByFeet(v);
            ASSERT_NE(testkit::check_findings(wedge), "") << "the model is built faulty";

            reinterpret_cast<Ve_BodyTag*>(wedge)->doStandardRepair();
            EXPECT_EQ(testkit::check_findings(wedge), "");
            v = vertexNearest(wedge, moved);
            if (c.goesBack) {
                EXPECT_LT(distance(v->geometry()->coords(), corner), QELresabs);
                EXPECT_EQ(tolerantVertices(wedge), 0);
            } else {
                EXPECT_LT(distance(v->geometry()->coords(), moved), QELresabs);
                EXPECT_EQ(tolerantVertices(wedge), 1);
            }
            api_del_entity(wedge);
        }
}

// The wedge's two edges cut short of its corner by `cut` (their curves go on
// to cross there) and the vertex lifted `lift` off the sheet above their
// ends' mean: the ends come near one another, not together. Where the lines
// cross within four times the ends' spread of their mean the vertex goes to
// the crossing and the edges reach it; where they cross farther off (a
// sharper wedge, the ends' spread small against the way to the corner) the
// crossing is another place the curves meet, and the vertex goes to the
// ends' mean, tolerated.
TEST_F(VertexReposition, EndsComingNearGiveTheCrossingOnlyNearTheirMean)
{
    struct Case {
        const char* name;
        double angle, cut, lift;
        bool toCrossing;
    };
    const Case cases[] = {
        {"40 degrees, crossing 2.7 spreads off", 40.0 * M_PI / 180.0, 1e-3, 5e-3, true},
        {"10 degrees, crossing 11.4 spreads off", 10.0 * M_PI / 180.0, 1e-2, 1e-2, false},
        // Ends a few resolutions apart under a lift two thousand times as
        // far: still apart, so the crossing is asked for, not the ends' mean.
        {"40 degrees, ends 7e-6 apart lifted 2e-2", 40.0 * M_PI / 180.0, 1e-5, 2e-2, true},
    };
    const std::vector<QELtransf> frames = testkit::heal_frames();
    for (const Case& c : cases)
        for (std::size_t f = 0; f < frames.size(); ++f) {
            SCOPED_TRACE(std::string(c.name) + ", frame " + std::to_string(f));
            BODY* wedge = wedgeSheet(c.angle, frames[f]);
            const QELposition corner = QELposition(0.0, 0.0, 0.0) * frames[f];
            const QELposition ends[2] = {QELposition(c.cut, 0.0, 0.0) * frames[f],
                                         QELposition(c.cut * std::cos(c.angle), c.cut * std::sin(c.angle), 0.0) *
                                             frames[f]};
            VERTEX* v = vertexNearest(wedge, corner);
            ASSERT_LT(distance(v->geometry()->coords(), corner), 1e-9);
            ENTITY_LIST edges;
            api_get_edges(v, edges);
            ASSERT_EQ(edges.count(), 2);
            for (int i = 0; i < 2; ++i) {
                auto* e = static_cast<EDGE*>(edges[i]);
                const curve& eq = e->geometry()->equation();
                const QELposition& end = distance(eq.eval_position(eq.param(ends[0])), ends[0]) < 1e-9 ? ends[0]
                                                                                                       : ends[1];
                const double sign = e->sense() == REVERSED ? -1.0 : 1.0;
                const double at = sign * eq.param(end);
                const QELinterval r = e->param_range();
                const QELinterval shorter = e->start() == v ? QELinterval(at, r.end_pt()) : QELinterval(r.start_pt(), at);
                e->set_param_range(&shorter);
            }
            const QELposition mean = ends[0] + 0.5 * (ends[1] - ends[0]);
            v->geometry()->set_coords(mean + c.lift * (QELvector(0.0, 0.0, 1.0) * frames[f]));
            ASSERT_NE(testkit::check_findings(wedge), "") << "the model is built faulty";

            reinterpret_cast<Ve_BodyTag*>(wedge)->doStandardRepair();
            EXPECT_EQ(testkit::check_findings(wedge), "");
            v = vertexNearest(wedge, mean);
            EXPECT_LT(distance(v->geometry()->coords(), c.toCrossing ? corner : mean), QELresabs);
            EXPECT_EQ(tolerantVertices(wedge), c.toCrossing ? 0 : 1);
            api_del_entity(wedge);
        }
}

namespace {

// Each edge at `v` made a B-spline of its curve that runs only between the
// edge's bounds, bounded at `v` by the vertex's foot: as a reader leaves a
// spline edge whose vertex a sender moved in along it, the curve cut short
// of the corner. `turned`, each curve runs against its B-spline and the
// edge against its curve, the edge's own bounds the same.
void splinesCutAtFeet(VERTEX* v, bool turned = false)
{
    boundByFeet(v);
    ENTITY_LIST edges;
    api_get_edges(v, edges);
    for (int i = 0; i < edges.count(); ++i) {
        auto* e = static_cast<EDGE*>(edges[i]);
        const curve& eq = e->geometry()->equation();
        const QELinterval bounds = e->param_range();
        const QELinterval r = e->sense() == REVERSED ? -bounds : bounds;
        intcurve cut(bs3_curve_make_cur(eq, r.start_pt(), r.end_pt(), QELresabs), QELresabs);
        if (turned) {
            cut.negate();
            e->set_sense(e->sense() == FORWARD ? REVERSED : FORWARD);
        }
        e->set_geometry(make_curve(cut));
        e->set_param_range(&bounds);
        refitPcurves(e);
    }
}

} // namespace

// A block's corner moved in by up to a thousandth of its size, its three
// edges B-splines cut at the vertex's feet: the vertex goes back to the
// corner, each spline following its own last piece there, and nothing is
// left tolerant, in every frame; with the curves run against their
// B-splines too.
TEST_F(VertexReposition, AVertexMovedInAlongSplinesCutAtItsFeetGoesBackInEveryFrame)
{
    const std::vector<QELtransf> frames = testkit::heal_frames();
    for (const bool turned : {false, true})
    for (const double offset : {2e-3, 0.03})
        for (std::size_t f = 0; f < frames.size(); ++f) {
            SCOPED_TRACE("moved " + std::to_string(offset) + ", frame " + std::to_string(f) +
                         (turned ? ", curves against their B-splines" : ""));
            const QELtransf& frame = frames[f];
            BODY* box = testkit::make_framed_box(frame);
            const QELposition corner = QELposition(10.0, 20.0, 30.0) * frame;
            const QELposition moved = QELposition(10.0 - offset, 20.0 - 0.7 * offset, 30.0 - 0.4 * offset) * frame;
            VERTEX* v = vertexNearest(box, corner);
            ASSERT_LT(distance(v->geometry()->coords(), corner), 1e-9);
            v->geometry()->set_coords(moved);
            splinesCutAtFeet(v, turned);
            ASSERT_NE(testkit::check_findings(box), "") << "the model is built faulty";

            reinterpret_cast<Ve_BodyTag*>(box)->doStandardRepair();
            EXPECT_EQ(testkit::check_findings(box), "");
            EXPECT_EQ(testkit::count_faces(box), 6);
            EXPECT_LT(distance(vertexNearest(box, corner)->geometry()->coords(), corner), QELresabs);
            EXPECT_EQ(tolerantVertices(box), 0);
            double volume = 0.0, achieved = 0.0;
            ASSERT_TRUE(api_body_volume(box, 1e-9, volume, achieved).ok());
            EXPECT_NEAR(volume, 6000.0, 1e-6 * 6000.0);
            api_del_entity(box);
        }
}

namespace {

std::vector<EDGE*> edgesAt(VERTEX* v)
{
    ENTITY_LIST edges;
    api_get_edges(v, edges);
    std::vector<EDGE*> out;
    for (int i = 0; i < edges.count(); ++i)
        out.push_back(static_cast<EDGE*>(edges[i]));
    return out;
}

// The B-spline of a spline edge's curve, as its control points in order.
std::vector<QELposition> controlPoints(const EDGE* e)
{
    const auto* ic = dynamic_cast<const intcurve*>(&e->geometry()->equation());
    if (!ic)
        return {};
    int dim = 0, degree = 0, rational = 0, n = 0, nk = 0;
    QELposition* points = nullptr;
    double* weights = nullptr;
    double* knots = nullptr;
    bs3_curve_to_array(ic->cur(), dim, degree, rational, n, points, weights, nk, knots);
    std::vector<QELposition> out(points, points + n);
    delete[] points;
    delete[] weights;
    delete[] knots;
    return out;
}

} // namespace

// A block's corner moved off square to one of its three edges, the edges
// B-splines cut at the vertex's feet: the two it moved along are cut short
// of the corner, the third ends on it (its foot is the corner, give or take
// a rounding). The vertex goes back to the corner, the two short splines
// follow their last pieces there, and the third is left as it was: its end
// is the corner already. In every frame, for each edge square to the move,
// with the curves run against their B-splines too.
TEST_F(VertexReposition, ASplineEndingOnTheCornerKeepsItsCurveWhenTheVertexGoesBack)
{
    const std::vector<QELtransf> frames = testkit::heal_frames();
    const double offset = 2e-3;
    const QELvector moves[3] = {QELvector(0.0, -0.7, -0.4), QELvector(-0.7, 0.0, -0.4), QELvector(-0.7, -0.4, 0.0)};
    for (const bool turned : {false, true})
        for (int square = 0; square < 3; ++square)
            for (std::size_t f = 0; f < frames.size(); ++f) {
                if (!in_turn::taken(square + (turned ? 3 : 0), f, frames.size()))
                    continue;
                SCOPED_TRACE("square to axis " + std::to_string(square) + ", frame " + std::to_string(f) +
                             (turned ? ", curves against their B-splines" : ""));
                const QELtransf& frame = frames[f];
                BODY* box = testkit::make_framed_box(frame);
                const QELposition corner = QELposition(10.0, 20.0, 30.0) * frame;
                const QELposition moved = (QELposition(10.0, 20.0, 30.0) + offset * moves[square]) * frame;
                VERTEX* v = vertexNearest(box, corner);
                ASSERT_LT(distance(v->geometry()->coords(), corner), 1e-9);
                v->geometry()->set_coords(moved);
                splinesCutAtFeet(v, turned);
                ASSERT_NE(testkit::check_findings(box), "") << "the model is built faulty";
                // The edge the vertex moved square to: the one whose curve ends on the corner.
                EDGE* ending = nullptr;
                for (EDGE* e : edgesAt(v)) {
                    const curve& eq = e->geometry()->equation();
                    const QELinterval own = eq.param_range();
                    for (const double t : {own.start_pt(), own.end_pt()})
                        if (distance(eq.eval_position(t), corner) < 1e-9)
                            ending = e;
                }
                ASSERT_NE(ending, nullptr);
                const QELposition along = ending->mid_pos();
                const std::vector<QELposition> before = controlPoints(ending);
                ASSERT_FALSE(before.empty());

                reinterpret_cast<Ve_BodyTag*>(box)->doStandardRepair();
                EXPECT_EQ(testkit::check_findings(box), "");
                EXPECT_LT(distance(vertexNearest(box, corner)->geometry()->coords(), corner), QELresabs);
                EXPECT_EQ(tolerantVertices(box), 0);
                // The same edge, found again (the repair may have replaced entities).
                EDGE* again = nullptr;
                for (EDGE* e : edgesAt(vertexNearest(box, corner)))
                    if (!again || distance(e->mid_pos(), along) < distance(again->mid_pos(), along))
                        again = e;
                ASSERT_LT(distance(again->mid_pos(), along), 1e-3);
                const std::vector<QELposition> after = controlPoints(again);
                ASSERT_EQ(after.size(), before.size()) << "the curve ending on the corner was made anew";
                for (std::size_t k = 0; k < before.size(); ++k)
                    EXPECT_EQ(distance(after[k], before[k]), 0.0) << "control point " << k;
                api_del_entity(box);
            }
}

// A block's corner moved in along its three edges, each a B-spline cut at
// the vertex's foot, one of them ending in a short piece that bends off its
// face by less than the resolution over its span: followed on past its end
// that piece comes back through the corner, but leaves the face by some
// forty resolutions on the way. It makes no corner of the faces there: the
// vertex is tolerated where it lies, in every frame.
TEST_F(VertexReposition, ASplineWhoseLastPieceLeavesItsFaceIsNotFollowedToTheCorner)
{
    const std::vector<QELtransf> frames = testkit::heal_frames();
    const double offset = 2e-3, piece = offset / 10.0, bend = 1e-6;
    for (std::size_t f = 0; f < frames.size(); ++f) {
        SCOPED_TRACE("frame " + std::to_string(f));
        const QELtransf& frame = frames[f];
        BODY* box = testkit::make_framed_box(frame);
        const QELposition corner = QELposition(10.0, 20.0, 30.0) * frame;
        const QELposition moved = QELposition(10.0 - offset, 20.0 - 0.7 * offset, 30.0 - 0.4 * offset) * frame;
        VERTEX* v = vertexNearest(box, corner);
        ASSERT_LT(distance(v->geometry()->coords(), corner), 1e-9);
        v->geometry()->set_coords(moved);
        splinesCutAtFeet(v);
        // The edge along x: from (0, 20, 30) to the vertex's foot, its last
        // piece bent towards +y (off the face y = 20) by control points whose
        // bends put the piece's other root where the line meets the corner.
        EDGE* along = nullptr;
        for (EDGE* e : edgesAt(v))
            if (distance(e->mid_pos(), QELposition(5.0, 20.0, 30.0) * frame) < 1.0)
                along = e;
        ASSERT_NE(along, nullptr);
        const double end = 10.0 - offset, joint = end - piece, s = offset / piece;
        auto at = [&](double x, double up) { return QELposition(x, 20.0 + up, 30.0) * frame; };
        const QELposition points[7] = {at(0.0, 0.0),
                                       at(joint / 3.0, 0.0),
                                       at(2.0 * joint / 3.0, 0.0),
                                       at(joint, 0.0),
                                       at(joint + piece / 3.0, bend),
                                       at(joint + 2.0 * piece / 3.0, bend * s / (1.0 + s)),
                                       at(end, 0.0)};
        const double knots[11] = {0.0, 0.0, 0.0, 0.0, joint, joint, joint, end, end, end, end};
        bs3_curve bent = bs3_curve_from_ctrlpts(3, 0, 0, 0, 7, points, nullptr, QELresabs, 11, knots, QELresnor);
        ASSERT_NE(bent, nullptr);
        along->set_geometry(make_curve(intcurve(bent, QELresabs)));
        const bool fromCorner = along->start() == v;
        along->set_sense(fromCorner ? REVERSED : FORWARD);
        const QELinterval bounds = fromCorner ? QELinterval(-end, 0.0) : QELinterval(0.0, end);
        along->set_param_range(&bounds);
        refitPcurves(along);
        ASSERT_NE(testkit::check_findings(box), "") << "the model is built faulty";

        reinterpret_cast<Ve_BodyTag*>(box)->doStandardRepair();
        EXPECT_EQ(testkit::check_findings(box), "");
        VERTEX* after = vertexNearest(box, moved);
        EXPECT_LT(distance(after->geometry()->coords(), moved), 1e-9);
        EXPECT_TRUE(is_TVERTEX(after));
        api_del_entity(box);
    }
}

// A corner of two B-spline edges only, cut at the moved vertex's feet: two
// curves followed past their ends may run on along one another, and where
// they meet says nothing of a corner. The vertex is tolerated where it lies,
// in every frame, along splines run either way.
TEST_F(VertexReposition, ACornerOfTwoSplinesCutAtItsFeetIsToleratedWhereItLies)
{
    const std::vector<QELtransf> frames = testkit::heal_frames();
    for (const bool turned : {false, true})
        for (std::size_t f = 0; f < frames.size(); ++f) {
            SCOPED_TRACE("frame " + std::to_string(f) + (turned ? ", curves against their B-splines" : ""));
            const QELtransf& frame = frames[f];
            BODY* wedge = wedgeSheet(0.5, frame);
            const QELposition corner = QELposition(0.0, 0.0, 0.0) * frame;
            const QELposition moved = QELposition(0.02, 0.004, 0.0) * frame;
            VERTEX* v = vertexNearest(wedge, corner);
            ASSERT_LT(distance(v->geometry()->coords(), corner), 1e-9);
            v->geometry()->set_coords(moved);
            splinesCutAtFeet(v, turned);

            reinterpret_cast<Ve_BodyTag*>(wedge)->doStandardRepair();
            EXPECT_EQ(testkit::check_findings(wedge), "");
            VERTEX* after = vertexNearest(wedge, moved);
            EXPECT_LT(distance(after->geometry()->coords(), moved), 1e-9);
            EXPECT_TRUE(is_TVERTEX(after));
            api_del_entity(wedge);
        }
}

namespace {

// Whether each edge at `v` runs within its curve's own range (no edge past a
// B-spline's end that its curve does not reach).
::testing::AssertionResult edgesWithinTheirCurves(VERTEX* v)
{
    ENTITY_LIST edges;
    api_get_edges(v, edges);
    for (int i = 0; i < edges.count(); ++i) {
        const auto* e = static_cast<const EDGE*>(edges[i]);
        const curve& eq = e->geometry()->equation();
        if (eq.periodic())
            continue;
        const QELinterval own = eq.param_range();
        const QELinterval r = edge_curve_range(e);
        const double slack = 1e-9 * (1.0 + own.length());
        if (r.start_pt() < own.start_pt() - slack || r.end_pt() > own.end_pt() + slack)
            return ::testing::AssertionFailure() << "an edge over [" << r.start_pt() << ", " << r.end_pt()
                                                 << "] of a curve over [" << own.start_pt() << ", " << own.end_pt()
                                                 << "]";
    }
    return ::testing::AssertionSuccess();
}

} // namespace

// A cylinder's seam vertex on its corner, the circle through it a cubic
// B-spline fitted short of a whole turn by `gap` radians on either side of
// the seam (the edge ranged over the spline, its ends both off the vertex):
// followed past
// both its ends the spline would close at the corner, but one curve made
// anew reaches past one end only, so the vertex is tolerated where it lies
// rather than leaving the circle's edge ranged past its new curve; in every
// frame, with the circle's edge along and against its curve.
TEST_F(VertexReposition, AClosedSplineShortOfATurnAtBothEndsIsLeftAndItsVertexTolerated)
{
    const std::vector<QELtransf> frames = testkit::heal_frames();
    const double radius = 5.0, height = 8.0;
    for (const double gap : {1e-4, 1e-3})
        for (const bool turned : {false, true})
            for (std::size_t f = 0; f < frames.size(); ++f) {
                SCOPED_TRACE("short by " + std::to_string(gap) + ", frame " + std::to_string(f) +
                             (turned ? ", the circle's edge against its curve" : ""));
                BODY* cylinder = testkit::make_cylinder(radius, height);
                if (!frames[f].identity()) {
                    api_apply_transf(cylinder, frames[f]);
                    api_change_body_trans(cylinder, nullptr);
                }
                const QELposition seamEnd = QELposition(-radius, 0.0, 0.0) * frames[f];
                VERTEX* v = vertexNearest(cylinder, seamEnd);
                ASSERT_LT(distance(v->geometry()->coords(), seamEnd), 1e-9);
                ENTITY_LIST around;
                api_get_edges(v, around);
                EDGE* circle = nullptr;
                for (int i = 0; i < around.count(); ++i)
                    if (static_cast<EDGE*>(around[i])->start() == static_cast<EDGE*>(around[i])->end())
                        circle = static_cast<EDGE*>(around[i]);
                ASSERT_NE(circle, nullptr);
                const curve& eq = circle->geometry()->equation();
                const double sign = circle->sense() == REVERSED ? -1.0 : 1.0;
                const double from = sign * circle->param_range().start_pt();
                const double to = sign * circle->param_range().end_pt();
                const double low = std::min(from, to), high = std::max(from, to);
                // A cubic through points of the circle (a reader's fit), not an exact rational arc.
                std::vector<QELposition> points(121);
                std::vector<double> params(points.size());
                for (std::size_t i = 0; i < points.size(); ++i) {
                    params[i] = low + gap + (high - low - 2.0 * gap) * static_cast<double>(i) / (points.size() - 1);
                    points[i] = eq.eval_position(params[i]);
                }
                intcurve shorter(bs3_curve_interp_knots(static_cast<int>(points.size()), points.data(), params.data()),
                                 QELresabs);
                if (turned) {
                    shorter.negate();
                    circle->set_sense(circle->sense() == FORWARD ? REVERSED : FORWARD);
                }
                circle->set_geometry(make_curve(shorter));
                const QELinterval own = shorter.param_range();
                const QELinterval ranged = circle->sense() == REVERSED ? -own : own;
                circle->set_param_range(&ranged);
                refitPcurves(circle);
                ASSERT_NE(testkit::check_findings(cylinder), "") << "the model is built faulty";

                reinterpret_cast<Ve_BodyTag*>(cylinder)->doStandardRepair();
                EXPECT_EQ(testkit::check_findings(cylinder), "");
                v = vertexNearest(cylinder, seamEnd);
                EXPECT_LT(distance(v->geometry()->coords(), seamEnd), QELresabs);
                EXPECT_TRUE(edgesWithinTheirCurves(v));
                api_del_entity(cylinder);
            }
}

namespace {

// The arc of the circle of `radius` about +z in z = 0 from the angle 0 to
// `end`, as a rational quadratic B-spline of `pieces` arcs meeting at double
// knots. Each piece's weights are those of the circle reparametrised by a
// seeded factor c (1, c cos(phi / 2), c^2, and scaled on from the last
// piece's end): the same arc, its speed unlike from piece to piece.
bs3_curve rationalArc(double radius, double end, int pieces, std::mt19937& random)
{
    std::uniform_real_distribution<double> factor(0.5, 2.0);
    const double phi = end / pieces, middle = std::cos(0.5 * phi);
    std::vector<QELposition> points;
    std::vector<double> weights, knots = {0.0, 0.0, 0.0};
    double scale = 1.0;
    for (int i = 0; i < pieces; ++i) {
        const double from = i * phi, c = factor(random);
        if (i == 0) {
            points.emplace_back(radius * std::cos(from), radius * std::sin(from), 0.0);
            weights.push_back(scale);
        }
        const double half = from + 0.5 * phi, to = from + phi;
        points.emplace_back(radius / middle * std::cos(half), radius / middle * std::sin(half), 0.0);
        weights.push_back(scale * c * middle);
        points.emplace_back(radius * std::cos(to), radius * std::sin(to), 0.0);
        weights.push_back(scale * c * c);
        scale *= c * c;
        knots.insert(knots.end(), i + 1 < pieces ? 2 : 3, static_cast<double>(i + 1));
    }
    return bs3_curve_from_ctrlpts(2, 1, 0, 0, static_cast<int>(points.size()), points.data(), weights.data(),
                                  QELresabs, static_cast<int>(knots.size()), knots.data(), 0.0);
}

int tolerantEdges(BODY* body)
{
    ENTITY_LIST edges;
    api_get_edges(body, edges);
    int tolerant = 0;
    for (int i = 0; i < edges.count(); ++i)
        tolerant += is_TEDGE(edges[i]) ? 1 : 0;
    return tolerant;
}

} // namespace

// A cylinder sector's rim corner moved in by seeded amounts, its rim arc an
// exact rational B-spline (circle arcs at double knots, weights varied from
// piece to piece) cut at the vertex's foot and its two lines bounded by their
// feet: the vertex goes back to the corner, the arc's spline continued past
// its end to it (on the circle still), nothing made tolerant and the volume
// the sector's, in every frame, with the arc's curve along and against its
// B-spline.
TEST_F(VertexReposition, AVertexMovedInAlongARationalArcGoesBackWithTheArcContinued)
{
    const std::vector<QELtransf> frames = testkit::heal_frames();
    const double radius = 10.0, height = 6.0, angle = 1.9;
    std::mt19937 random(47);
    std::uniform_real_distribution<double> share(0.3, 1.0), magnitude(std::log(1e-3), std::log(3e-2));
    for (const int pieces : {1, 2, 3})
        for (const bool turned : {false, true})
            for (std::size_t f = 0; f < frames.size(); ++f) {
                const double by = std::exp(magnitude(random));
                SCOPED_TRACE(std::to_string(pieces) + " pieces, moved " + std::to_string(by) + ", frame " +
                             std::to_string(f) + (turned ? ", the arc against its B-spline" : ""));
                BODY* sector = testkit::make_cylinder_sector(radius, height, angle);
                const QELposition rim(radius * std::cos(angle), radius * std::sin(angle), 0.0);
                const QELvector outward(std::cos(angle), std::sin(angle), 0.0), on(-std::sin(angle), std::cos(angle), 0.0);
                const double in = share(random), back = share(random), up = share(random);
                const QELposition moved = rim + by * (-in * outward - back * on + up * QELvector(0, 0, 1));
                VERTEX* v = vertexNearest(sector, rim);
                ASSERT_LT(distance(v->geometry()->coords(), rim), 1e-9);
                ENTITY_LIST around;
                api_get_edges(v, around);
                EDGE* arc = nullptr;
                for (int i = 0; i < around.count(); ++i)
                    if (static_cast<EDGE*>(around[i])->geometry()->equation().type() != 1)
                        arc = static_cast<EDGE*>(around[i]);
                ASSERT_NE(arc, nullptr);
                v->geometry()->set_coords(moved);
                // The arc cut where the moved vertex's foot is on the circle.
                intcurve cut(rationalArc(radius, std::atan2(moved.y(), moved.x()), pieces, random), QELresabs);
                if (turned) {
                    cut.negate();
                    arc->set_sense(arc->sense() == FORWARD ? REVERSED : FORWARD);
                }
                arc->set_geometry(make_curve(cut));
                const QELinterval own = cut.param_range();
                const QELinterval ranged = arc->sense() == REVERSED ? -own : own;
                arc->set_param_range(&ranged);
                boundByFeet(v);
                // As the STEP healing leaves coedges on analytic surfaces:
                // without pcurves (a fit of the arc's would stray up to the
                // kernel's fit tolerance from it, whatever its vertex does).
                ENTITY_LIST uses;
                api_get_coedges(sector, uses);
                for (int i = 0; i < uses.count(); ++i)
                    static_cast<COEDGE*>(uses[i])->set_geometry(nullptr);
                if (!frames[f].identity()) {
                    api_apply_transf(sector, frames[f]);
                    api_change_body_trans(sector, nullptr);
                }
                ASSERT_NE(testkit::check_findings(sector), "") << "the model is built faulty";

                reinterpret_cast<Ve_BodyTag*>(sector)->doStandardRepair();
                EXPECT_EQ(testkit::check_findings(sector), "");
                const QELposition corner = rim * frames[f];
                v = vertexNearest(sector, corner);
                EXPECT_LT(distance(v->geometry()->coords(), corner), QELresabs);
                EXPECT_EQ(tolerantVertices(sector), 0);
                EXPECT_EQ(tolerantEdges(sector), 0);
                // The arc's edge reaches the vertex along its curve, which
                // stays on the circle past where it was cut.
                ENTITY_LIST meeting;
                api_get_edges(v, meeting);
                for (int i = 0; i < meeting.count(); ++i) {
                    const auto* e = static_cast<const EDGE*>(meeting[i]);
                    const curve& eq = e->geometry()->equation();
                    const QELinterval r = edge_curve_range(e);
                    const double at = (e->start() == v) == (e->sense() == FORWARD) ? r.start_pt() : r.end_pt();
                    EXPECT_LT(distance(eq.eval_position(at), v->geometry()->coords()), QELresabs);
                    if (eq.type() == 1)
                        continue;
                    EXPECT_EQ(eq.type(), 11);
                    for (int k = 0; k <= 8; ++k) {
                        const QELposition p = eq.eval_position(r.interpolate(k / 8.0)) * frames[f].inverse();
                        EXPECT_NEAR(std::hypot(p.x(), p.y()), radius, QELresabs);
                        EXPECT_NEAR(p.z(), 0.0, QELresabs);
                    }
                }
                double volume = 0.0, achieved = 0.0;
                ASSERT_TRUE(api_body_volume(sector, 1e-9, volume, achieved).ok());
                EXPECT_NEAR(volume, 0.5 * angle * radius * radius * height, 1e-6 * radius * radius * height);
                api_del_entity(sector);
            }
}
