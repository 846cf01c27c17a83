// Stitching loose faces: matching and joining free coedges, covers merged
// pairwise, and envelopes that stitch whole sets of faces in every frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "model/body_set.hxx"
#include "model/entity_views.hxx"
#include "model/kernel_call_bracket.hxx"
#include "qelx/qelx_test.hxx"
#include "support/geometry_builders.hxx"
#include "support/heal_builders.hxx"
#include "support/model_builders.hxx"
#include "support/repair_builders.hxx"
#include "trim/stitch_coedges.hxx"
#include "trim/stitch_node.hxx"
#include "velm/build.hxx"
#include "velm/geometry.hxx"
#include "velm/memory.hxx"
#include "velm/pcurves.hxx"
#include "velm/query.hxx"
#include "velm/testkit.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology_api.hxx"

namespace {

using testkit::delete_loose_faces;
using testkit::make_loose_polygon_faces;
using testkit::heal_frames;
using testkit::count_edges;
using testkit::count_vertices;

class Stitching : public ::testing::Test {
protected:
    void SetUp() override
    {
        qelx_test::resetFramework();
        m_live = velm_live_object_count();
    }
    void TearDown() override
    {
        for (Ve_BodyTag* b : m_bodies)
            api_del_entity(reinterpret_cast<BODY*>(b));
        delete_loose_faces(m_faces);
        EXPECT_EQ(velm_live_object_count(), m_live);
        qelx_test::resetFramework();
    }

    std::vector<FACE*> keep(std::vector<FACE*> faces)
    {
        m_faces.insert(m_faces.end(), faces.begin(), faces.end());
        return faces;
    }

    // The kept faces as bodies, one per connected set.
    QELXDynamicArray<Ve_BodyTag*> intoBodies()
    {
        QELXDynamicArray<Ve_FaceTag*> faces;
        for (FACE* f : m_faces)
            faces.Add(ve_view<Ve_FaceTag>(f));
        Ve_BodyCntl cntl;
        cntl.createFromFaceData(faces, true);
        m_faces.clear();
        m_bodies = cntl.getCocoon()->getBodies();
        return m_bodies;
    }

    std::vector<FACE*> m_faces;
    QELXDynamicArray<Ve_BodyTag*> m_bodies;
    long m_live = 0;
};

QELXDynamicArray<Ve_FaceTag*> faceTags(const std::vector<FACE*>& faces)
{
    QELXDynamicArray<Ve_FaceTag*> out;
    for (FACE* f : faces)
        out.Add(ve_view<Ve_FaceTag>(f));
    return out;
}

COEDGE* nthCoedge(FACE* f, int i)
{
    COEDGE* c = f->loop()->start();
    while (i-- > 0)
        c = c->next();
    return c;
}

Ve_CoedgeTag* coedgeTag(COEDGE* c) { return ve_view<Ve_CoedgeTag>(c); }

// Every loop of the faces runs on: each coedge ends where the next starts.
bool loopsContinuous(const std::vector<FACE*>& faces)
{
    for (FACE* f : faces)
        for (LOOP* l = f->loop(); l; l = l->next()) {
            COEDGE* c = l->start();
            do {
                if (c->end() != c->next()->start())
                    return false;
                c = c->next();
            } while (c != l->start());
        }
    return true;
}

// Two unit squares in z = 0, the second `gap` beyond x = 1.
std::vector<FACE*> twoSquares(double gap)
{
    const double x = 1.0 + gap;
    return make_loose_polygon_faces({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {x, 0, 0}, {x + 1, 0, 0},
                                     {x + 1, 1, 0}, {x, 1, 0}},
                                    {{0, 1, 2, 3}, {4, 5, 6, 7}});
}

// A frame to build in: identity, turned, mirrored.
struct PointFrame {
    const char* name;
    QELtransf transform;
    bool mirrored;
};

std::vector<PointFrame> pointFrames()
{
    const std::vector<QELtransf> t = heal_frames();
    return {{"identity", t[0], false}, {"turned", t[1], false}, {"mirrored", t[2], true}};
}

// The loose faces of a box dx x dy x dz at `origin`, in the frame.
std::vector<FACE*> looseBox(const PointFrame& frame, const QELposition& origin = QELposition(), double dx = 2.0,
                            double dy = 3.0, double dz = 4.0)
{
    std::vector<QELposition> p;
    for (double z : {0.0, dz})
        for (auto [x, y] : {std::pair(0.0, 0.0), std::pair(dx, 0.0), std::pair(dx, dy), std::pair(0.0, dy)})
            p.push_back((origin + QELvector(x, y, z)) * frame.transform);
    std::vector<std::vector<int>> faces = {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4},
                                           {1, 2, 6, 5}, {2, 3, 7, 6}, {3, 0, 4, 7}};
    // A mirror turns every polygon inside out.
    if (frame.mirrored)
        for (auto& f : faces)
            std::reverse(f.begin(), f.end());
    return make_loose_polygon_faces(p, faces);
}

TEST_F(Stitching, OppositeCoedgesMatchAndJoinOntoOneEdge)
{
    const std::vector<FACE*> f = keep(twoSquares(0.0));
    // A third square over the second, running the other way round.
    const std::vector<FACE*> g = keep(make_loose_polygon_faces({{1, 0, 0}, {1, 1, 0}, {2, 1, 0}, {2, 0, 0}}, {{0, 1, 2, 3}}));
    COEDGE* a = nthCoedge(f[0], 1); // (1,0) -> (1,1)
    COEDGE* b = nthCoedge(f[1], 3); // (1,1) -> (1,0)
    EXPECT_FALSE(matchCoedges(coedgeTag(a), coedgeTag(a), 1e-6));
    EXPECT_FALSE(matchCoedges(coedgeTag(a), coedgeTag(nthCoedge(g[0], 0)), 1e-6)) << "same way round";
    ASSERT_TRUE(matchCoedges(coedgeTag(a), coedgeTag(b), 1e-6));
    ASSERT_TRUE(matchCoedges(coedgeTag(b), coedgeTag(a), 1e-6));

    const long before = velm_live_object_count();
    EDGE* target = b->edge();
    ASSERT_TRUE(joinCoedges(coedgeTag(a), coedgeTag(b)));
    EXPECT_EQ(a->edge(), target);
    EXPECT_EQ(a->partner(), b);
    EXPECT_EQ(b->partner(), a);
    EXPECT_EQ(a->sense(), REVERSED);
    EXPECT_TRUE(loopsContinuous(f));
    // a's edge (and its curve) and both its vertices (and their points) are gone.
    EXPECT_EQ(velm_live_object_count(), before - 6);

    // Joining them again changes nothing.
    ASSERT_TRUE(joinCoedges(coedgeTag(a), coedgeTag(b)));
    EXPECT_EQ(velm_live_object_count(), before - 6);
    EXPECT_TRUE(isInPartnerRing(a, b));

    delete_loose_faces(g);
    m_faces.resize(2);
    const QELXDynamicArray<Ve_BodyTag*> bodies = intoBodies();
    ASSERT_EQ(bodies.Count(), 1);
    EXPECT_EQ(count_edges(reinterpret_cast<BODY*>(bodies[0])), 7);
    EXPECT_EQ(count_vertices(reinterpret_cast<BODY*>(bodies[0])), 6);
    EXPECT_EQ(testkit::check_findings(reinterpret_cast<BODY*>(bodies[0])), "");
}

TEST_F(Stitching, CoedgesWithMatchingEndsButApartBetweenDoNotMatch)
{
    const std::vector<FACE*> f = keep(twoSquares(0.0));
    COEDGE* a = nthCoedge(f[0], 1);
    COEDGE* b = nthCoedge(f[1], 3);
    // b bulges out to x = 1.3 on an arc between the same two points.
    const double c = 0.44 / 0.6, r = 1.3 - c;
    b->edge()->set_geometry(
        make_curve(ellipse(QELposition(c, 0.5, 0.0), QELunit_vector(0, 0, -1), QELvector(r, 0.0, 0.0), 1.0)));
    b->edge()->set_param_range(nullptr);
    EXPECT_FALSE(matchCoedges(coedgeTag(a), coedgeTag(b), 0.1));
    EXPECT_FALSE(matchCoedges(coedgeTag(b), coedgeTag(a), 0.1));
    EXPECT_TRUE(matchCoedges(coedgeTag(a), coedgeTag(b), 0.31));
}

TEST_F(Stitching, PcurveFollowsOntoTheLongerRange)
{
    const std::vector<FACE*> f = keep(twoSquares(0.0));
    const std::vector<FACE*> twin = keep(twoSquares(0.0));
    COEDGE* a = nthCoedge(f[0], 1);
    COEDGE* b = nthCoedge(f[1], 3);
    // b's edge runs over [0, 10] for its unit length.
    EDGE* eb = b->edge();
    const QELposition from = eb->start()->geometry()->coords(), to = eb->end()->geometry()->coords();
    eb->set_geometry(make_curve(straight(from, normalise(to - from), 0.1)));
    const QELinterval ten(0.0, 10.0);
    eb->set_param_range(&ten);
    ASSERT_TRUE(sg_add_pcurve_to_coedge(a));
    // a's pcurve is shared by the same side of a twin square on the same
    // plane: that coedge keeps it as it was, a is moved on a copy.
    COEDGE* sharer = nthCoedge(twin[0], 1);
    sharer->set_geometry(a->geometry());
    const QELinterval before = sharer->geometry()->equation().param_range();
    ASSERT_TRUE(joinCoedges(coedgeTag(a), coedgeTag(b)));
    ASSERT_NE(sharer->geometry(), a->geometry());
    EXPECT_NEAR(sharer->geometry()->equation().param_range().start_pt(), before.start_pt(), 1e-12);
    EXPECT_NEAR(sharer->geometry()->equation().param_range().end_pt(), before.end_pt(), 1e-12);
    const pcurve pc = a->geometry()->equation();
    EXPECT_NEAR(pc.param_range().start_pt(), -10.0, 1e-9);
    EXPECT_NEAR(pc.param_range().end_pt(), 0.0, 1e-9);
    // The pcurve still lies on the edge, start to start.
    const surface& s = f[0]->geometry()->equation();
    EXPECT_LT(distance(s.eval_position(pc.eval_position(-10.0)), a->start()->geometry()->coords()), 1e-9);
    EXPECT_LT(distance(s.eval_position(pc.eval_position(-5.0)), QELposition(1.0, 0.5, 0.0)), 1e-9);
}

TEST_F(Stitching, CurvelessCoedgesJoinWithoutBreakingTheirLoops)
{
    const std::vector<FACE*> f = keep(twoSquares(0.0));
    COEDGE* a = nthCoedge(f[0], 1);
    COEDGE* b = nthCoedge(f[1], 3);
    a->edge()->set_geometry(nullptr);
    b->edge()->set_geometry(nullptr);
    ASSERT_TRUE(matchCoedges(coedgeTag(a), coedgeTag(b), 1e-6));
    ASSERT_TRUE(joinCoedges(coedgeTag(a), coedgeTag(b)));
    EXPECT_TRUE(loopsContinuous(f));
    EXPECT_LT(distance(a->start()->geometry()->coords(), QELposition(1, 0, 0)), 1e-12);
}

TEST_F(Stitching, AMergedVertexTakesEveryEdgeGroupAlong)
{
    // A and C touch only at (1, 1) and share their vertex there; B lies
    // between them with its own vertices.
    const std::vector<FACE*> f = keep(make_loose_polygon_faces(
        {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {1, 1, 0}, {2, 1, 0}, {2, 2, 0}, {1, 2, 0}, {1, 0, 0}, {2, 0, 0},
         {2, 1, 0}, {1, 1, 0}},
        {{0, 1, 2, 3}, {4, 5, 6, 7}, {8, 9, 10, 11}}));
    VERTEX* shared = nthCoedge(f[0], 2)->start();
    VERTEX* gone = nthCoedge(f[1], 0)->start();
    for (COEDGE* c : {nthCoedge(f[1], 0), nthCoedge(f[1], 3)}) {
        EDGE* e = c->edge();
        if (e->start() == gone)
            e->set_start(shared);
        if (e->end() == gone)
            e->set_end(shared);
    }
    shared->add_edge(nthCoedge(f[1], 0)->edge());
    gone->lose();
    // A's side up x = 1 goes onto B's: its end vertex, with C's group, merges into B's.
    COEDGE* a = nthCoedge(f[0], 1);
    COEDGE* b = nthCoedge(f[2], 3);
    ASSERT_EQ(a->end(), shared);
    ASSERT_TRUE(joinCoedges(coedgeTag(a), coedgeTag(b)));
    EXPECT_TRUE(loopsContinuous(f));
    for (COEDGE* c : {nthCoedge(f[1], 0), nthCoedge(f[1], 3)})
        EXPECT_TRUE(c->edge()->start() == b->start() || c->edge()->end() == b->start());
    const QELXDynamicArray<Ve_BodyTag*> bodies = intoBodies();
    ASSERT_EQ(bodies.Count(), 1);
    EXPECT_EQ(testkit::check_findings(reinterpret_cast<BODY*>(bodies[0])), "");
}

TEST_F(Stitching, CoversMergeAndTheOtherIsEmptied)
{
    const std::vector<FACE*> f = keep(twoSquares(0.0));
    QELXDynamicArray<Ve_CoedgeTag*> first, second;
    for (Ve_CoedgeTag* c : ve_view<Ve_FaceTag>(f[0])->getCoedges())
        first.Add(c);
    for (Ve_CoedgeTag* c : ve_view<Ve_FaceTag>(f[1])->getCoedges())
        second.Add(c);
    Ve_StCover mine(first), theirs(second);
    ASSERT_TRUE(mine.isValid());
    ASSERT_TRUE(mine.mergeCover(theirs));
    EXPECT_FALSE(theirs.isValid());
    QELXDynamicArray<Ve_CoedgeTag*> left;
    mine.fetchCoedges(left);
    EXPECT_EQ(left.Count(), 6);
    EXPECT_EQ(nthCoedge(f[0], 1)->partner(), nthCoedge(f[1], 3));
    // Nothing more to join.
    Ve_StCover empty;
    EXPECT_FALSE(mine.mergeCover(empty));
}

TEST_F(Stitching, CoedgesOfOneCoverPairAtFiveTimesTheFirstTolerance)
{
    // Both squares' coedges in one cover: the sides facing each other pair
    // while the cover is built when they lie within five times the first
    // stitch tolerance (1e-4), three of them apart; six apart they stay free.
    for (const double gap : {3e-4, 6e-4}) {
        SCOPED_TRACE(gap);
        const std::vector<FACE*> f = keep(twoSquares(gap));
        QELXDynamicArray<Ve_CoedgeTag*> both;
        for (FACE* face : f)
            for (Ve_CoedgeTag* c : ve_view<Ve_FaceTag>(face)->getCoedges())
                both.Add(c);
        const Ve_StCover cover(both);
        QELXDynamicArray<Ve_CoedgeTag*> left;
        cover.fetchCoedges(left);
        const bool paired = gap < 5e-4;
        EXPECT_EQ(left.Count(), paired ? 6 : 8);
        EXPECT_EQ(nthCoedge(f[0], 1)->partner() == nthCoedge(f[1], 3), paired);
        delete_loose_faces(m_faces);
        m_faces.clear();
    }
}

TEST_F(Stitching, GapsJoinUpToTheLastTolerance)
{
    struct Case {
        double gap;
        bool joined;
    };
    for (const Case& c : {Case{5e-5, true}, Case{3e-3, true}, Case{0.05, true}, Case{0.2, false}}) {
        SCOPED_TRACE(c.gap);
        const std::vector<FACE*> f = keep(twoSquares(c.gap));
        Ve_StEnvelope envelope(faceTags(f));
        EXPECT_TRUE(envelope.doMerge());
        EXPECT_EQ(nthCoedge(f[0], 1)->partner() == nthCoedge(f[1], 3), c.joined);
        EXPECT_TRUE(loopsContinuous(f));
    }
}

// Three squares of side `side` in a row in the frame: the first two meet,
// the third lies `gap` beyond the second.
std::vector<FACE*> squaresInARow(const PointFrame& frame, double side, double gap)
{
    std::vector<QELposition> p;
    for (double x : {0.0, side, 2.0 * side + gap})
        for (auto [dx, dy] : {std::pair(0.0, 0.0), std::pair(side, 0.0), std::pair(side, side), std::pair(0.0, side)})
            p.push_back(QELposition(x + dx, dy, 0.0) * frame.transform);
    std::vector<std::vector<int>> faces = {{0, 1, 2, 3}, {4, 5, 6, 7}, {8, 9, 10, 11}};
    if (frame.mirrored)
        for (auto& f : faces)
            std::reverse(f.begin(), f.end());
    return make_loose_polygon_faces(p, faces);
}

// A gap wider than the pass after the first joins is bridged when the
// passes widen past a pass that joined nothing, but not where the squares
// are hardly longer than the gap; the plain merge stops at the quiet pass.
TEST_F(Stitching, WideningPassesBridgeAGapLeftAfterAQuietPass)
{
    struct Case {
        double side, gap;
        bool widening, joined;
    };
    for (const PointFrame& frame : pointFrames())
        for (const Case& c : {Case{1.0, 2e-3, true, true}, Case{1.0, 2e-3, false, false},
                              Case{1.0, 0.05, true, true}, Case{0.1, 0.02, true, false}}) {
            SCOPED_TRACE(std::string(frame.name) + " side " + std::to_string(c.side) + " gap " +
                         std::to_string(c.gap) + (c.widening ? " widening" : ""));
            const std::vector<FACE*> f = keep(squaresInARow(frame, c.side, c.gap));
            Ve_StEnvelope envelope(faceTags(f));
            EXPECT_TRUE(c.widening ? envelope.doMergeWidening() : envelope.doMerge());
            // The first two always meet; the second's right side and the
            // third's left side by the case (either way round a square, its
            // right side is its second coedge and its left its fourth).
            const int right = 1, left = 3;
            EXPECT_NE(nthCoedge(f[0], right)->partner(), nullptr);
            EXPECT_EQ(nthCoedge(f[1], right)->partner() == nthCoedge(f[2], left), c.joined);
            EXPECT_TRUE(loopsContinuous(f));
        }
}

TEST_F(Stitching, BoxFacesBecomeOneClosedSolidInEveryFrame)
{
    for (const PointFrame& frame : pointFrames()) {
        SCOPED_TRACE(frame.name);
        const std::vector<FACE*> f = keep(looseBox(frame));
        Ve_StEnvelope envelope(faceTags(f));
        envelope.doMerge();
        const QELXDynamicArray<Ve_BodyTag*> bodies = intoBodies();
        ASSERT_EQ(bodies.Count(), 1);
        BODY* body = reinterpret_cast<BODY*>(bodies[0]);
        EXPECT_TRUE(is_closed_solid_body(body));
        EXPECT_EQ(count_edges(body), 12);
        EXPECT_EQ(count_vertices(body), 8);
        EXPECT_NEAR(testkit::polyhedron_volume(body), 24.0, 24.0 * 1e-9);
        EXPECT_EQ(testkit::check_findings(body), "");
        for (Ve_BodyTag* b : m_bodies)
            api_del_entity(reinterpret_cast<BODY*>(b));
        m_bodies = QELXDynamicArray<Ve_BodyTag*>();
    }
}

TEST_F(Stitching, FacesThatDoNotMeetStaySeparate)
{
    const PointFrame identity = pointFrames()[0];
    keep(looseBox(identity));
    keep(looseBox(identity, QELposition(10, 0, 0)));
    // A square far from both.
    keep(make_loose_polygon_faces({{0, 0, 20}, {1, 0, 20}, {1, 1, 20}, {0, 1, 20}}, {{0, 1, 2, 3}}));
    Ve_StEnvelope envelope(faceTags(m_faces));
    envelope.doMerge();
    const QELXDynamicArray<Ve_BodyTag*> bodies = intoBodies();
    ASSERT_EQ(bodies.Count(), 3);
    int solids = 0;
    for (Ve_BodyTag* b : bodies)
        solids += is_closed_solid_body(reinterpret_cast<BODY*>(b)) ? 1 : 0;
    EXPECT_EQ(solids, 2);
}

TEST_F(Stitching, ShuffledGridStitchesWhole)
{
    const int n = 8;
    std::vector<QELposition> p;
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i)
            p.emplace_back(i, j, 0.1 * std::sin(i + 2.0 * j));
    std::vector<std::vector<int>> quads;
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const int k = j * (n + 1) + i;
            // Two triangles: the points need not lie in one plane.
            quads.push_back({k, k + 1, k + n + 2});
            quads.push_back({k, k + n + 2, k + n + 1});
        }
    std::shuffle(quads.begin(), quads.end(), std::mt19937(7));
    keep(make_loose_polygon_faces(p, quads));
    Ve_StEnvelope envelope(faceTags(m_faces));
    envelope.doMerge();
    const QELXDynamicArray<Ve_BodyTag*> bodies = intoBodies();
    ASSERT_EQ(bodies.Count(), 1);
    BODY* body = reinterpret_cast<BODY*>(bodies[0]);
    EXPECT_EQ(count_vertices(body), (n + 1) * (n + 1));
    EXPECT_EQ(count_edges(body), 2 * n * (n + 1) + n * n);
    EXPECT_EQ(testkit::check_findings(body), "");
}

TEST_F(Stitching, ALaterEnvelopeGroupsAtTheFirstTolerance)
{
    // One envelope that finds nothing to join runs every pass...
    const std::vector<FACE*> f = keep(make_loose_polygon_faces({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{0, 1, 2, 3}}));
    Ve_StEnvelope(faceTags(f)).doMerge();
    // ...leaves a thin face built afterwards alone: its long sides lie half a
    // unit apart, far beyond what one face's coedges are paired at.
    const std::vector<FACE*> thin = keep(make_loose_polygon_faces({{0, 0, 5}, {3, 0, 5}, {3, 0.5, 5}, {0, 0.5, 5}}, {{0, 1, 2, 3}}));
    Ve_StEnvelope later(faceTags(thin));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(nthCoedge(thin[0], i)->partner(), nullptr) << i;
    EXPECT_TRUE(loopsContinuous(thin));
}

// An envelope whose passes an abort cuts short, at whichever check, leaves
// no raised tolerance behind for the next one (a later conversion's).
TEST_F(Stitching, AnEnvelopeCutShortLeavesTheNextAtTheFirstTolerance)
{
    int cut = 0;
    for (int checks = 0; checks < 6; ++checks) {
        SCOPED_TRACE(checks);
        // With pcurves: a join moves them, checking for an abort first.
        const std::vector<FACE*> f = keep(twoSquares(3e-3));
        for (FACE* face : f)
            for (COEDGE* c = face->loop()->start(); !c->geometry(); c = c->next())
                ASSERT_TRUE(sg_add_pcurve_to_coedge(c));
        {
            qelx_test::AbortPlan abort;
            abort.after(checks);
            try {
                Ve_StEnvelope(faceTags(f)).doMerge();
            } catch (const QELXAbortException&) {
                ++cut;
            }
        }
        const std::vector<FACE*> thin =
            keep(make_loose_polygon_faces({{0, 0, 5}, {3, 0, 5}, {3, 0.05, 5}, {0, 0.05, 5}}, {{0, 1, 2, 3}}));
        Ve_StEnvelope later(faceTags(thin));
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(nthCoedge(thin[0], i)->partner(), nullptr) << i;
    }
    EXPECT_GT(cut, 0);
}

// An intcurve edge rebuilt over its face, its pcurve running on past the edge
// (to the whole side of the surface, as a file's may), gets the pcurve cut to
// it, not squeezed onto it: the coedge's new pcurve lies on the edge, the new
// curve spans the edge alone and the face keeps its area, in every frame.
TEST_F(Stitching, IntcurveRebuildCutsAPCurveRunningPastItsEdgeInEveryFrame)
{
    qelx_test::OptionScope options;
    options.set("/XVelm/CreateIntCurve", QELXValue(true));
    for (bool turned : {false, true})
    for (const testkit::KernelFrame& frame : testkit::kernel_frames()) {
        SCOPED_TRACE(std::string(frame.name) + (turned ? ", edge stored against its reversed intcurve" : ""));
        double before = 0.0, accuracy = 0.0;
        BODY* plain = testkit::make_spline_sheet();
        ASSERT_TRUE(api_apply_transf(plain, frame.transform).ok());
        ASSERT_TRUE(api_change_body_trans(plain).ok());
        ASSERT_TRUE(api_ent_area(plain, 1e-6, before, accuracy).ok());
        api_del_entity(plain);

        BODY* sheet = testkit::make_spline_sheet_split(0.6);
        ASSERT_TRUE(api_apply_transf(sheet, frame.transform).ok());
        ASSERT_TRUE(api_change_body_trans(sheet).ok());
        COEDGE* c = sheet->lump()->shell()->face()->loop()->start();
        ASSERT_TRUE(bs2_curve_range(c->geometry()->def().cur()) == QELinterval(0.0, 1.0));
        if (turned) {
            // The same edge: its curve negated, the edge running against it.
            EDGE* e = c->edge();
            ASSERT_EQ(e->geometry()->equation().type(), 11);
            e->geometry()->equation_for_update().negate();
            e->set_sense(e->sense() == FORWARD ? REVERSED : FORWARD);
            ASSERT_LT(testkit::worst_pcurve_gap(c), QELresfit);
        }
        ASSERT_TRUE(velmCall([&] { rebuildIntcurveEdge(c->edge()); }).ok());
        const curve& rebuilt = c->edge()->geometry()->equation();
        ASSERT_EQ(rebuilt.type(), 11);
        EXPECT_NE(static_cast<const intcurve&>(rebuilt).surf1(), nullptr);
        // The rebuilt curve is the edge's stretch of the old one, read the way
        // the edge runs along it, not the whole side.
        const QELinterval own = rebuilt.param_range(), edgeRange = c->edge()->param_range();
        const QELinterval along = c->edge()->sense() == REVERSED ? -own : own;
        EXPECT_NEAR(along.start_pt(), edgeRange.start_pt(), 1e-9);
        EXPECT_NEAR(along.end_pt(), edgeRange.end_pt(), 1e-9);
        EXPECT_LT(testkit::worst_pcurve_gap(c), QELresfit);
        double after = 0.0;
        EXPECT_TRUE(api_ent_area(sheet, 1e-6, after, accuracy).ok());
        EXPECT_NEAR(after, before, 1e-6 * std::fabs(before));
        api_del_entity(sheet);
    }
}

// Two coedges between the same ends that lie together at their middles but
// apart at their quarters, or whose samples lie on the other one way only,
// are not on one boundary; a reversed coedge and an arc whose range lies a
// period on are read where they lie.
TEST_F(Stitching, CoedgesAreComparedAtQuartersAndMiddlesBothWays)
{
    // b runs (1, 1) -> (1, 0) on a polyline through the points; a is the
    // straight (1, 0) -> (1, 1).
    struct Case {
        const char* what;
        std::vector<QELposition> b;
        bool match;
    };
    const std::vector<Case> cases{
        {"straight", {{1, 1, 0}, {1, 0.75, 0}, {1, 0.5, 0}, {1, 0.25, 0}, {1, 0, 0}}, true},
        {"together at the middle, apart at the quarters",
         {{1, 1, 0}, {1.3, 0.75, 0}, {1, 0.5, 0}, {0.7, 0.25, 0}, {1, 0, 0}}, false},
        {"b's samples on a, a's off b", {{1, 1, 0}, {1, 0.9, 0}, {1, 0.8, 0}, {1.5, 0.4, 0}, {1, 0, 0}}, false},
    };
    for (const Case& c : cases)
        for (bool reversed : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (reversed ? ", b against its edge" : ""));
            const std::vector<FACE*> f = keep(twoSquares(0.0));
            COEDGE* a = nthCoedge(f[0], 1);
            COEDGE* b = nthCoedge(f[1], 3);
            ASSERT_EQ(b->sense(), FORWARD);
            std::vector<QELposition> pts = c.b;
            EDGE* e = b->edge();
            if (reversed) {
                // The edge runs (1, 0) -> (1, 1); b runs against it.
                std::reverse(pts.begin(), pts.end());
                VERTEX* start = e->start();
                e->set_start(e->end());
                e->set_end(start);
                b->set_sense(REVERSED);
            }
            std::vector<double> knots{0.0};
            for (std::size_t i = 0; i < pts.size(); ++i)
                knots.push_back(static_cast<double>(i));
            knots.push_back(static_cast<double>(pts.size() - 1));
            e->set_geometry(make_curve(intcurve(bs3_curve_from_ctrlpts(1, 0, 0, 0, static_cast<int>(pts.size()),
                                                                       pts.data(), nullptr, QELresabs,
                                                                       static_cast<int>(knots.size()), knots.data(),
                                                                       1e-10))));
            const QELinterval range(0.0, static_cast<double>(pts.size() - 1));
            e->set_param_range(&range);
            ASSERT_LT(distance(b->start()->geometry()->coords(), QELposition(1, 1, 0)), 1e-12);
            EXPECT_EQ(matchCoedges(coedgeTag(a), coedgeTag(b), 0.1), c.match);
            EXPECT_EQ(matchCoedges(coedgeTag(b), coedgeTag(a), 0.1), c.match);
            // Within the bulges, they are one boundary.
            EXPECT_TRUE(matchCoedges(coedgeTag(a), coedgeTag(b), 0.31));
            delete_loose_faces(m_faces);
            m_faces.clear();
        }
}

TEST_F(Stitching, AnArcWhoseRangeLiesAPeriodOnMatchesItsPartner)
{
    // Both sides bulge to x = 1.5 on the circle through (1, 0) and (1, 1);
    // a reads it over [2 pi, 3 pi], b over [0, pi].
    const std::vector<FACE*> f = keep(twoSquares(0.0));
    COEDGE* a = nthCoedge(f[0], 1);
    COEDGE* b = nthCoedge(f[1], 3);
    a->edge()->set_geometry(
        make_curve(ellipse(QELposition(1, 0.5, 0), QELunit_vector(0, 0, 1), QELvector(0, -0.5, 0), 1.0)));
    const QELinterval later(2.0 * M_PI, 3.0 * M_PI);
    a->edge()->set_param_range(&later);
    b->edge()->set_geometry(
        make_curve(ellipse(QELposition(1, 0.5, 0), QELunit_vector(0, 0, -1), QELvector(0, 0.5, 0), 1.0)));
    const QELinterval first(0.0, M_PI);
    b->edge()->set_param_range(&first);
    ASSERT_LT(distance(a->edge()->geometry()->equation().eval_position(2.5 * M_PI), QELposition(1.5, 0.5, 0)), 1e-12);
    EXPECT_TRUE(matchCoedges(coedgeTag(a), coedgeTag(b), 1e-6));
    EXPECT_TRUE(matchCoedges(coedgeTag(b), coedgeTag(a), 1e-6));
}

TEST_F(Stitching, ArcsOfOneCircleBetweenTheSameEndsAreOneBoundaryOnlyOnTheSameSide)
{
    // a is the half of the circle through (1, 0) and (1, 1) that bulges to
    // x = 1.5, read over [0, pi] or a period on; b runs (1, 1) -> (1, 0) on
    // the same half, or on the other half (bulging to x = 0.5), whose points
    // lie on a's circle but off a's stretch of it.
    const QELposition centre(1, 0.5, 0);
    for (const double shift : {0.0, 2.0 * M_PI})
        for (const bool sameHalf : {true, false}) {
            SCOPED_TRACE(std::string(sameHalf ? "the same half" : "the other half") +
                         (shift > 0.0 ? ", a read a period on" : ""));
            const std::vector<FACE*> f = keep(twoSquares(0.0));
            COEDGE* a = nthCoedge(f[0], 1);
            COEDGE* b = nthCoedge(f[1], 3);
            a->edge()->set_geometry(make_curve(ellipse(centre, QELunit_vector(0, 0, 1), QELvector(0, -0.5, 0), 1.0)));
            const QELinterval ra(shift, shift + M_PI);
            a->edge()->set_param_range(&ra);
            b->edge()->set_geometry(make_curve(
                ellipse(centre, QELunit_vector(0, 0, sameHalf ? -1 : 1), QELvector(0, 0.5, 0), 1.0)));
            const QELinterval rb(0.0, M_PI);
            b->edge()->set_param_range(&rb);
            const QELposition bMiddle = b->edge()->geometry()->equation().eval_position(0.5 * M_PI);
            ASSERT_LT(distance(bMiddle, QELposition(sameHalf ? 1.5 : 0.5, 0.5, 0)), 1e-12);
            const CoedgeWays want = sameHalf ? CoedgeWays::Opposite : CoedgeWays::Apart;
            EXPECT_EQ(coedgesOnOneBoundary(coedgeTag(a), coedgeTag(b), 1e-6), want);
            EXPECT_EQ(coedgesOnOneBoundary(coedgeTag(b), coedgeTag(a), 1e-6), want);
            delete_loose_faces(m_faces);
            m_faces.clear();
        }
}

TEST_F(Stitching, CoedgesMeetingAtOneEndOnlyAreApart)
{
    // a runs (1, 0) -> (1, 1); b runs along the same line over half of it,
    // from a's start or up to a's end: every sample of b lies on a, but the
    // ends meet only at one end.
    struct Case {
        const char* what;
        QELposition from, to;
    };
    for (const Case& c : {Case{"from a's start", {1, 0, 0}, {1, 0.5, 0}}, Case{"up to a's end", {1, 0.5, 0}, {1, 1, 0}},
                          Case{"from a's end back", {1, 1, 0}, {1, 0.5, 0}},
                          Case{"up to a's start from halfway", {1, 0.5, 0}, {1, 0, 0}}}) {
        SCOPED_TRACE(c.what);
        const std::vector<FACE*> f = keep(make_loose_polygon_faces(
            {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, c.from, c.to, c.to + QELvector(1, 0, 0),
             c.from + QELvector(1, 0, 0)},
            {{0, 1, 2, 3}, {4, 5, 6, 7}}));
        COEDGE* a = nthCoedge(f[0], 1);
        COEDGE* b = nthCoedge(f[1], 0);
        ASSERT_LT(distance(a->start()->geometry()->coords(), QELposition(1, 0, 0)), 1e-12);
        ASSERT_LT(distance(b->start()->geometry()->coords(), c.from), 1e-12);
        ASSERT_LT(distance(b->end()->geometry()->coords(), c.to), 1e-12);
        EXPECT_EQ(coedgesOnOneBoundary(coedgeTag(a), coedgeTag(b), 1e-6), CoedgeWays::Apart);
        EXPECT_EQ(coedgesOnOneBoundary(coedgeTag(b), coedgeTag(a), 1e-6), CoedgeWays::Apart);
        delete_loose_faces(m_faces);
        m_faces.clear();
    }
}

TEST_F(Stitching, ClosedCoedgesOnOneCircleAreOneBoundaryOnlyRunningOppositeWays)
{
    // Each a disc bounded by one closed coedge on the unit circle, its vertex
    // at (1, 0, 0); the second runs with the first or against it, on an edge
    // of its own running either way.
    const auto disc = [&](bool edgeForward, bool coedgeForward) {
        VERTEX* v = new VERTEX(new APOINT(QELposition(1, 0, 0)));
        const QELinterval r(0.0, 2.0 * M_PI);
        const QELunit_vector normal(0, 0, edgeForward ? 1 : -1);
        auto* e = new EDGE(v, v, make_curve(ellipse(QELposition(0, 0, 0), normal, QELvector(1, 0, 0), 1.0)), FORWARD,
                           EDGE_cvty_unknown, &r);
        v->add_edge(e);
        auto* c = new COEDGE(e, coedgeForward ? FORWARD : REVERSED, nullptr, nullptr);
        c->set_next(c);
        c->set_previous(c);
        const bool up = edgeForward == coedgeForward;
        FACE* face = new FACE(new LOOP(c, nullptr), nullptr,
                              make_surface(plane(QELposition(0, 0, 0), QELunit_vector(0, 0, up ? 1 : -1))), FORWARD);
        keep({face});
        return c;
    };
    COEDGE* a = disc(true, true);
    struct Case {
        bool edgeForward, coedgeForward;
        CoedgeWays ways;
    };
    for (const Case& c : {Case{true, true, CoedgeWays::Along}, Case{true, false, CoedgeWays::Opposite},
                          Case{false, true, CoedgeWays::Opposite}, Case{false, false, CoedgeWays::Along}}) {
        SCOPED_TRACE(std::string(c.edgeForward ? "edge with a" : "edge against a") +
                     (c.coedgeForward ? ", coedge along its edge" : ", coedge against its edge"));
        COEDGE* b = disc(c.edgeForward, c.coedgeForward);
        EXPECT_EQ(coedgesOnOneBoundary(coedgeTag(a), coedgeTag(b), 1e-6), c.ways);
        EXPECT_EQ(coedgesOnOneBoundary(coedgeTag(b), coedgeTag(a), 1e-6), c.ways);
        EXPECT_EQ(matchCoedges(coedgeTag(a), coedgeTag(b), 1e-6), c.ways == CoedgeWays::Opposite);
    }
}

TEST_F(Stitching, ACoedgeWithOnlyAPcurveIsComparedAlongItNotAtItsSamples)
{
    // The side x = 1 of the first square keeps only a pcurve, straight but
    // running slowly at its start and fast at its end (a quadratic whose
    // middle control point lies a tenth along): its partner's quarter and
    // middle points lie on it between its samples, a hundredth or more from
    // the nearest. The two are one boundary, either compared with the other,
    // at the first stitch tolerance and at a millionth.
    const std::vector<FACE*> f = keep(twoSquares(0.0));
    COEDGE* a = nthCoedge(f[0], 1);
    COEDGE* b = nthCoedge(f[1], 3);
    ASSERT_TRUE(sg_add_pcurve_to_coedge(a));
    const pcurve straight = a->geometry()->equation();
    const QELinterval r = a->param_range();
    const QELpar_pos from = straight.eval_position(r.start_pt()), to = straight.eval_position(r.end_pt());
    const QELposition ctrl[3] = {QELposition(from.u, from.v, 0),
                                 QELposition(from.u + 0.1 * (to.u - from.u), from.v + 0.1 * (to.v - from.v), 0),
                                 QELposition(to.u, to.v, 0)};
    const double knots[6] = {r.start_pt(), r.start_pt(), r.start_pt(), r.end_pt(), r.end_pt(), r.end_pt()};
    bs2_curve slow = bs2_curve_from_ctrlpts(2, 0, 0, 0, 3, ctrl, nullptr, QELresabs, 6, knots, 1e-10);
    ASSERT_NE(slow, nullptr);
    a->set_geometry(velm_make_pcurve(slow, QELresfit, f[0]->geometry()->equation()));
    a->edge()->set_geometry(nullptr);
    for (const double t : {1e-4, 1e-6})
        for (const bool aFirst : {true, false}) {
            SCOPED_TRACE(std::string(aFirst ? "pcurve coedge first" : "pcurve coedge second") + ", tolerance " +
                         std::to_string(t));
            EXPECT_EQ(coedgesOnOneBoundary(coedgeTag(aFirst ? a : b), coedgeTag(aFirst ? b : a), t),
                      CoedgeWays::Opposite);
        }
}

TEST_F(Stitching, ACoedgeOfNoLengthIsNotPairedInAGroupWithAClosedCoedgeItsEndsMeet)
{
    // A disc bounded by one closed coedge on a unit circle, and a curveless
    // coedge of no length (a pole) standing at the disc's vertex: their ends
    // meet both ways and, with no geometry on one side, the ends alone would
    // pair them; a coedge of no length stays out of a group's pairing, met
    // first or last, in every frame.
    for (const PointFrame& frame : pointFrames()) {
        for (const bool closedFirst : {true, false}) {
            SCOPED_TRACE(std::string(frame.name) + (closedFirst ? ", closed coedge first" : ", pole first"));
            const QELposition centre = QELposition(0, 0, 0) * frame.transform;
            const QELposition at = QELposition(1, 0, 0) * frame.transform;
            const QELunit_vector normal = QELunit_vector(0, 0, 1) * frame.transform;
            const auto oneCoedgeFace = [&](CURVE* curve, const QELinterval* range) {
                VERTEX* v = new VERTEX(new APOINT(at));
                auto* e = new EDGE(v, v, curve, FORWARD, EDGE_cvty_unknown, range);
                v->add_edge(e);
                auto* c = new COEDGE(e, FORWARD, nullptr, nullptr);
                c->set_next(c);
                c->set_previous(c);
                keep({new FACE(new LOOP(c, nullptr), nullptr, make_surface(plane(centre, normal)), FORWARD)});
                return c;
            };
            const QELinterval turn(0.0, 2.0 * M_PI);
            COEDGE* closed = oneCoedgeFace(make_curve(ellipse(centre, normal, at - centre, 1.0)), &turn);
            COEDGE* pole = oneCoedgeFace(nullptr, nullptr);
            ASSERT_TRUE(matchCoedges(coedgeTag(pole), coedgeTag(closed), 1e-3));
            QELXDynamicArray<Ve_CoedgeTag*> coedges;
            coedges.Add(coedgeTag(closedFirst ? closed : pole));
            coedges.Add(coedgeTag(closedFirst ? pole : closed));
            Ve_StCover cover(coedges);
            EXPECT_EQ(closed->partner(), nullptr);
            EXPECT_EQ(pole->partner(), nullptr);
            EXPECT_NE(closed->edge(), pole->edge());
            QELXDynamicArray<Ve_CoedgeTag*> left;
            cover.fetchCoedges(left);
            EXPECT_EQ(left.Count(), 2);
        }
    }
}

} // namespace

namespace {

// The four sides of a unit cube (no top or bottom), loose, outward; the
// left side's edge at the front seam stands `gap` off the front side's.
std::vector<FACE*> squareTube(double gap)
{
    return make_loose_polygon_faces({{0, 0, 0}, {1, 0, 0}, {1, 0, 1}, {0, 0, 1},     // front, y = 0
                                     {1, 0, 0}, {1, 1, 0}, {1, 1, 1}, {1, 0, 1},     // right, x = 1
                                     {1, 1, 0}, {0, 1, 0}, {0, 1, 1}, {1, 1, 1},     // back, y = 1
                                     {0, 1, 0}, {0, -gap, 0}, {0, -gap, 1}, {0, 1, 1}}, // left, x = 0
                                    {{0, 1, 2, 3}, {4, 5, 6, 7}, {8, 9, 10, 11}, {12, 13, 14, 15}});
}

int freeCoedges(const std::vector<FACE*>& faces)
{
    int n = 0;
    for (FACE* f : faces)
        for (int i = 0; i < 4; ++i)
            n += nthCoedge(f, i)->partner() ? 0 : 1;
    return n;
}

} // namespace

TEST_F(Stitching, AGapLeftInsideOneGroupIsBridgedByAWideningPass)
{
    // Three seams of the tube meet and join its sides into one group at the
    // first pass; the fourth is wider than the passes before the quiet one,
    // and only a widened pass, pairing what the group left within itself,
    // closes it. The plain merge stops at the quiet pass.
    for (bool widening : {true, false}) {
        SCOPED_TRACE(widening ? "widening" : "plain");
        const std::vector<FACE*> f = keep(squareTube(2e-3));
        Ve_StEnvelope envelope(faceTags(f));
        EXPECT_TRUE(widening ? envelope.doMergeWidening() : envelope.doMerge());
        // Top and bottom stay free; the four seams are two coedges each.
        EXPECT_EQ(freeCoedges(f), widening ? 8 : 10);
        EXPECT_TRUE(loopsContinuous(f));
    }
}

TEST_F(Stitching, APcurveFollowsOntoAnEdgeThatRunsItsWay)
{
    // b runs against its edge, which runs from (1, 0) to (1, 1) over
    // [0, 10]: a, running that way too, keeps its sense on b's edge, and its
    // pcurve follows onto [0, 10] start to start.
    const std::vector<FACE*> f = keep(twoSquares(0.0));
    COEDGE* a = nthCoedge(f[0], 1);
    COEDGE* b = nthCoedge(f[1], 3);
    EDGE* eb = b->edge();
    VERTEX* first = eb->start();
    VERTEX* last = eb->end();
    const QELposition from = last->geometry()->coords(), to = first->geometry()->coords();
    eb->set_start(last);
    eb->set_end(first);
    eb->set_geometry(make_curve(straight(from, normalise(to - from), 0.1)));
    const QELinterval ten(0.0, 10.0);
    eb->set_param_range(&ten);
    b->set_sense(REVERSED);
    ASSERT_TRUE(sg_add_pcurve_to_coedge(a));
    ASSERT_TRUE(matchCoedges(coedgeTag(a), coedgeTag(b), 1e-6));
    ASSERT_TRUE(joinCoedges(coedgeTag(a), coedgeTag(b)));
    EXPECT_EQ(a->edge(), eb);
    EXPECT_EQ(a->sense(), FORWARD);
    const pcurve pc = a->geometry()->equation();
    EXPECT_NEAR(pc.param_range().start_pt(), 0.0, 1e-9);
    EXPECT_NEAR(pc.param_range().end_pt(), 10.0, 1e-9);
    const surface& s = f[0]->geometry()->equation();
    EXPECT_LT(distance(s.eval_position(pc.eval_position(0.0)), QELposition(1.0, 0.0, 0.0)), 1e-9);
    EXPECT_LT(distance(s.eval_position(pc.eval_position(2.5)), QELposition(1.0, 0.25, 0.0)), 1e-9);
}

TEST_F(Stitching, TwoJoinedPairsJoinIntoOnePartnerRing)
{
    // Four fins round the line x = 0, z = 0: the flat pair joined, the upright
    // pair joined, then one of each. Every coedge's ring holds all four, on
    // one edge, and a pcurve another coedge shares is not moved for it.
    const std::vector<FACE*> f = keep(make_loose_polygon_faces(
        {{0, 0, 0}, {0, 1, 0}, {-1, 1, 0}, {-1, 0, 0}, {0, 1, 0}, {0, 0, 0}, {1, 0, 0}, {1, 1, 0},
         {0, 0, 0}, {0, 1, 0}, {0, 1, 1}, {0, 0, 1}, {0, 1, 0}, {0, 0, 0}, {0, 0, -1}, {0, 1, -1}},
        {{0, 1, 2, 3}, {4, 5, 6, 7}, {8, 9, 10, 11}, {12, 13, 14, 15}}));
    std::vector<COEDGE*> fins;
    for (FACE* face : f)
        fins.push_back(nthCoedge(face, 0));
    ASSERT_TRUE(joinCoedges(coedgeTag(fins[0]), coedgeTag(fins[1])));
    ASSERT_TRUE(joinCoedges(coedgeTag(fins[3]), coedgeTag(fins[2])));
    ASSERT_TRUE(joinCoedges(coedgeTag(fins[1]), coedgeTag(fins[2])));
    for (COEDGE* from : fins) {
        std::vector<COEDGE*> ring{from};
        for (COEDGE* x = from->partner(); x && x != from && ring.size() <= fins.size(); x = x->partner())
            ring.push_back(x);
        std::sort(ring.begin(), ring.end());
        std::vector<COEDGE*> all = fins;
        std::sort(all.begin(), all.end());
        EXPECT_EQ(ring, all);
        EXPECT_EQ(from->edge(), fins[0]->edge());
    }
    EXPECT_TRUE(loopsContinuous(f));
}
