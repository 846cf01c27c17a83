// Loop, coedge and edge views: ring walks, sense rules, degenerate loops and
// the in-place loop reversal.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "model_test_support.hxx"
#include "support/geometry_builders.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/query.hxx"

namespace {

// A free face of one loop over the coedges, linked in a ring.
FACE* faceOf(const std::vector<COEDGE*>& coedges, SURFACE* surface)
{
    for (std::size_t k = 0; k < coedges.size(); ++k) {
        coedges[k]->set_next(coedges[(k + 1) % coedges.size()]);
        coedges[(k + 1) % coedges.size()]->set_previous(coedges[k]);
    }
    return new FACE(new LOOP(coedges.front()), nullptr, surface, FORWARD);
}

} // namespace

TEST(LoopView, CoedgesRingFromTheStartAndASingleLoopIsOuter)
{
    const Owned box{testkit::make_box()};
    LOOP* loop = firstFace(box)->loop();
    Ve_LoopTag* l = as<Ve_LoopTag>(loop);
    Seq ring;
    COEDGE* c = loop->start();
    do
        ring.push_back(c);
    while ((c = c->next()) != loop->start());
    expectIndexed(l, &Ve_LoopTag::getNumberOfCoedges, &Ve_LoopTag::getCoedgeAt, &Ve_LoopTag::getCoedges, ring);
    // A face with one loop: outer without asking the kernel.
    velm_test_fail_next("api_loop_type", apiFailure());
    EXPECT_TRUE(l->isOuterLoop());
    velm_test_reset();
    EXPECT_FALSE(l->isDegenerate());
    EXPECT_EQ(l->getVertex(), nullptr);
}

TEST(CoedgeView, ReversedCoedgeRunsAgainstItsEdgeAndItsPartnerWithIt)
{
    const Owned box{testkit::make_box(10.0, 20.0, 30.0)};
    COEDGE* c = firstFace(box)->loop()->start();
    if (c->sense() != REVERSED)
        c = c->partner(); // the kit's partners run opposite ways
    EDGE* e = c->edge();
    Ve_CoedgeTag* view = as<Ve_CoedgeTag>(c);
    EXPECT_FALSE(view->isForward());
    EXPECT_EQ(as<VERTEX>(view->startVertex()), e->end());
    EXPECT_EQ(as<VERTEX>(view->endVertex()), e->start());
    EXPECT_EQ(as<VERTEX>(as<Ve_EdgeTag>(e)->getStartVertex()), e->start());
    const Gk_Domain edgeDomain = as<Ve_EdgeTag>(e)->getDomain();
    const Gk_Domain coedgeDomain = view->getDomain();
    EXPECT_DOUBLE_EQ(edgeDomain.low(), 0.0);
    EXPECT_GT(edgeDomain.high(), 0.0);
    EXPECT_DOUBLE_EQ(coedgeDomain.low(), -edgeDomain.high());
    EXPECT_DOUBLE_EQ(coedgeDomain.high(), -edgeDomain.low());
    EXPECT_TRUE(coedgeDomain.isFinite());
    Ve_CoedgeTag* partner = view->getPartner();
    ASSERT_NE(partner, nullptr);
    EXPECT_TRUE(partner->isForward());
    EXPECT_EQ(partner->startVertex(), view->endVertex());
    EXPECT_EQ(partner->getEdge(), view->getEdge());
    EXPECT_EQ(view->getNext(), as<Ve_CoedgeTag>(c->next()));
    EXPECT_EQ(view->getPrevious(), as<Ve_CoedgeTag>(c->previous()));
    EXPECT_EQ(view->getFace(), as<Ve_FaceTag>(c->loop()->face()));
}

TEST(EdgeView, PartnerRingWireTestAndEmptyDomain)
{
    const Owned box{testkit::make_box()}, wire{testkit::make_wire_body(1)};
    EDGE* e = firstFace(box)->loop()->start()->edge();
    Ve_EdgeTag* edge = as<Ve_EdgeTag>(e);
    expectIndexed(edge, &Ve_EdgeTag::getNumberOfCoedges, &Ve_EdgeTag::getCoedgeAt, &Ve_EdgeTag::getCoedges,
                  {e->coedge(), e->coedge()->partner()});
    EXPECT_FALSE(edge->isWire());
    EXPECT_TRUE(as<Ve_EdgeTag>(wire->wire()->coedge()->edge())->isWire());
    EDGE* loose = new EDGE(new VERTEX(new APOINT(0, 0, 0)), new VERTEX(new APOINT(1, 0, 0)), nullptr, FORWARD);
    EXPECT_TRUE(as<Ve_EdgeTag>(loose)->isWire());
    expectIndexed(as<Ve_EdgeTag>(loose), &Ve_EdgeTag::getNumberOfCoedges, &Ve_EdgeTag::getCoedgeAt, nullptr, {});
    // No stored range and no curve: the empty starting interval comes back.
    const Gk_Domain none = as<Ve_EdgeTag>(loose)->getDomain();
    EXPECT_DOUBLE_EQ(none.low(), 1.0);
    EXPECT_DOUBLE_EQ(none.high(), 0.0);
    api_del_entity(loose);
}

TEST(DegenerateLoop, OneCoedgeWithoutCurveOrAtTheConeApex)
{
    const cone apexCone(QELposition(0, 0, 0), QELunit_vector(0, 0, 1), QELvector(2, 0, 0), 1.0, 0.6, 0.8, 0.0);
    const cone cylinder(QELposition(0, 0, 0), QELunit_vector(0, 0, 1), QELvector(2, 0, 0), 1.0, 0.0, 1.0, 0.0);
    ASSERT_FALSE(apexCone.is_cylinder());
    ASSERT_TRUE(cylinder.is_cylinder());
    const QELposition apex = apexCone.get_apex();
    const struct {
        std::optional<QELposition> at; // none: a vertex without point
        bool curve;
        const cone* surface;           // null: a bare surface
        bool degenerate;
    } cases[] = {{QELposition(1, 2, 3), false, nullptr, true},
                 {QELposition(1, 2, 3), true, nullptr, false},
                 {apex + QELvector(0.1 * QELresabs, 0, 0), true, &apexCone, true}, // even with a curve
                 {apex + QELvector(1, 0, 0), true, &apexCone, false},
                 {QELposition(0, 0, 0), true, &cylinder, false}, // no apex: only the curve counts
                 {std::nullopt, true, &apexCone, false}};
    for (const auto& c : cases) {
        auto* v = new VERTEX(c.at ? new APOINT(*c.at) : nullptr);
        SURFACE* surface = c.surface ? new CONE(*c.surface) : new SURFACE;
        FACE* face = faceOf({new COEDGE(new EDGE(v, v, c.curve ? new CURVE : nullptr, FORWARD), FORWARD)}, surface);
        Ve_LoopTag* loop = as<Ve_LoopTag>(face->loop());
        const int k = static_cast<int>(&c - cases);
        EXPECT_EQ(loop->isDegenerate(), c.degenerate) << k;
        if (!c.surface) {
            EXPECT_EQ(as<VERTEX>(loop->getVertex()), c.degenerate ? v : nullptr) << k;
        }
        api_del_entity(face);
    }
}

TEST(LoopReversal, SwapsLinksAndFlipsSensesTwiceRestores)
{
    struct CoedgeState {
        COEDGE *self, *next, *previous;
        sense_type sense;
    };
    const Owned box{testkit::make_box()};
    LOOP* loop = firstFace(box)->loop();
    COEDGE* start = loop->start();
    std::vector<CoedgeState> before;
    COEDGE* c = start;
    do {
        before.push_back({c, c->next(), c->previous(), c->sense()});
        c = c->next();
    } while (c != start);

    as<Ve_LoopTag>(loop)->reverse();
    EXPECT_EQ(loop->start(), start);
    for (const CoedgeState& s : before) {
        EXPECT_EQ(s.self->next(), s.previous);
        EXPECT_EQ(s.self->previous(), s.next);
        EXPECT_NE(s.self->sense(), s.sense);
        // The start vertex follows the sense: the reversed ring still closes.
        EXPECT_EQ(as<Ve_CoedgeTag>(s.self)->endVertex(), as<Ve_CoedgeTag>(s.self->next())->startVertex());
    }
    as<Ve_LoopTag>(loop)->reverse();
    for (const CoedgeState& s : before) {
        EXPECT_EQ(s.self->next(), s.next);
        EXPECT_EQ(s.self->previous(), s.previous);
        EXPECT_EQ(s.self->sense(), s.sense);
    }
}

namespace {
using Reverse = void (*)(LOOP*);
// The connector's reversal and the kernel's own.
const Reverse reversals[] = {[](LOOP* l) { as<Ve_LoopTag>(l)->reverse(); }, [](LOOP* l) { l->reverse(); }};
} // namespace

// A stored type belongs to the old direction: the reversed periphery is a hole.
TEST(LoopReversal, StoredLoopTypeIsForgotten)
{
    for (const Reverse reverse : reversals) {
        const Owned box{testkit::make_plane_box()};
        LOOP* loop = firstFace(box)->loop();
        loop->set_classification(loop_type_periphery);
        reverse(loop);
        EXPECT_EQ(loop->get_classification(), loop_type_hole);
    }
}

TEST(LoopReversal, TolerantCoedgesNegateRangeCurveAndPcurve)
{
    for (const Reverse reverse : reversals) {
        auto* a = new VERTEX(new APOINT(0, 0, 0));
        auto* b = new VERTEX(new APOINT(4, 0, 0));
        auto* c = new VERTEX(new APOINT(0, 3, 0));
        const QELinterval ab(0.0, 4.0), bc(0.0, 5.0), ca(0.0, 3.0);
        auto* t1 = new TCOEDGE(new EDGE(a, b, new CURVE, FORWARD, EDGE_cvty_unknown, &ab), FORWARD);
        t1->set_param_range(QELinterval(1.0, 5.0));
        t1->set_3D_curve(new STRAIGHT(straight(QELposition(0, 0, 0), QELunit_vector(1, 0, 0))));
        t1->set_geometry(new PCURVE());
        FACE* face = faceOf({t1, new COEDGE(new EDGE(b, c, new CURVE, FORWARD, EDGE_cvty_unknown, &bc), FORWARD),
                             new COEDGE(new EDGE(c, a, new CURVE, FORWARD, EDGE_cvty_unknown, &ca), FORWARD)},
                            new SURFACE);
        const QELposition atOne = t1->get_3D_curve()->curve_point(1.0);
        reverse(face->loop());
        EXPECT_EQ(t1->param_range(), QELinterval(-5.0, -1.0));
        EXPECT_TRUE(same_point(t1->get_3D_curve()->curve_point(-1.0), atOne));
        EXPECT_TRUE(t1->geometry()->reversed());
        EXPECT_EQ(t1->sense(), REVERSED);
        reverse(face->loop());
        EXPECT_EQ(t1->param_range(), QELinterval(1.0, 5.0));
        EXPECT_TRUE(same_point(t1->get_3D_curve()->curve_point(1.0), atOne));
        EXPECT_FALSE(t1->geometry()->reversed());
        EXPECT_EQ(t1->sense(), FORWARD);
        api_del_entity(face);
    }
}

// The hull check reads a coedge's pcurve against its edge's curve; a coedge
// whose edge lost its curve, or that has no pcurve, is left as it is.
TEST(CoedgeView, HullCheckWithoutCurveOrPcurveChangesNothing)
{
    const Owned box{testkit::make_plane_box()};
    COEDGE* c = firstFace(box.body)->loop()->start();
    const PCURVE* pcurve = c->geometry();
    ASSERT_NE(pcurve, nullptr);
    ASSERT_NE(c->edge()->geometry(), nullptr);
    as<Ve_CoedgeTag>(c)->fixHullDistance(); // with both: runs the check, changes nothing
    EXPECT_EQ(c->geometry(), pcurve);

    c->edge()->set_geometry(nullptr);
    as<Ve_CoedgeTag>(c)->fixHullDistance();
    EXPECT_EQ(c->geometry(), pcurve);
    EXPECT_EQ(c->edge()->geometry(), nullptr);

    c->set_geometry(nullptr);
    as<Ve_CoedgeTag>(c)->fixHullDistance();
    EXPECT_EQ(c->geometry(), nullptr);
}
