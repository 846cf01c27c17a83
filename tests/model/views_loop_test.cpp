// Loop, coedge and edge views: ring walks, sense rules, degenerate loops and
// the in-place loop reversal.
#include <gtest/gtest.h>

#include <vector>

#include "model/entity_views.hxx"
#include "qelx/qelx_errors.hxx"
#include "qelx/qelx_stream.hxx"
#include "support/model_builders.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/testkit.hxx"

namespace {

template <class View, class Kernel>
View* as(Kernel* e)
{
    return reinterpret_cast<View*>(e);
}

// The first reversed coedge of the box's first face.
COEDGE* reversedCoedge(BODY* box)
{
    for (FACE* f = box->lump()->shell()->face(); f; f = f->next()) {
        COEDGE* c = f->loop()->start();
        do {
            if (c->sense() == REVERSED)
                return c;
            c = c->next();
        } while (c != f->loop()->start());
    }
    return nullptr;
}

// A free face of one loop over the coedges, linked in a ring.
FACE* faceOf(const std::vector<COEDGE*>& coedges, SURFACE* surface)
{
    for (std::size_t k = 0; k < coedges.size(); ++k) {
        coedges[k]->set_next(coedges[(k + 1) % coedges.size()]);
        coedges[(k + 1) % coedges.size()]->set_previous(coedges[k]);
    }
    return new FACE(new LOOP(coedges.front()), nullptr, surface, FORWARD);
}

// A face whose only loop is one coedge on an edge from v back to v.
FACE* oneCoedgeFace(VERTEX* v, CURVE* curve, SURFACE* surface)
{
    EDGE* e = new EDGE(v, v, curve, FORWARD);
    return faceOf({new COEDGE(e, FORWARD)}, surface);
}

TEST(LoopView, CoedgesRingFromTheStart)
{
    BODY* box = testkit::make_box();
    LOOP* loop = box->lump()->shell()->face()->loop();
    Ve_LoopTag* l = as<Ve_LoopTag>(loop);
    ASSERT_EQ(l->getNumberOfCoedges(), 4);
    const QELXDynamicArray<Ve_CoedgeTag*> ring = l->getCoedges();
    COEDGE* c = loop->start();
    for (int i = 0; i < 4; ++i, c = c->next()) {
        EXPECT_EQ(as<COEDGE>(l->getCoedgeAt(i)), c);
        EXPECT_EQ(as<COEDGE>(ring[i]), c);
    }
    EXPECT_EQ(l->getCoedgeAt(4), nullptr);
    EXPECT_EQ(l->getCoedgeAt(-1), nullptr);
    EXPECT_EQ(l->getFace(), as<Ve_FaceTag>(loop->face()));
    // A face with one loop: outer without asking the kernel.
    EXPECT_TRUE(l->isOuterLoop());
    EXPECT_FALSE(l->isDegenerate());
    EXPECT_EQ(l->getVertex(), nullptr);
    api_del_entity(box);
}

TEST(CoedgeView, ReversedCoedgeRunsAgainstItsEdge)
{
    BODY* box = testkit::make_box(10.0, 20.0, 30.0);
    COEDGE* c = reversedCoedge(box);
    ASSERT_NE(c, nullptr);
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

    // The partner runs the other way, from the same edge.
    Ve_CoedgeTag* partner = view->getPartner();
    ASSERT_NE(partner, nullptr);
    EXPECT_TRUE(partner->isForward());
    EXPECT_EQ(partner->startVertex(), view->endVertex());
    EXPECT_EQ(partner->getEdge(), view->getEdge());
    EXPECT_EQ(view->getNext(), as<Ve_CoedgeTag>(c->next()));
    EXPECT_EQ(view->getPrevious(), as<Ve_CoedgeTag>(c->previous()));
    EXPECT_EQ(view->getLoop(), as<Ve_LoopTag>(c->loop()));
    EXPECT_EQ(view->getFace(), as<Ve_FaceTag>(c->loop()->face()));
    api_del_entity(box);
}

TEST(EdgeView, PartnerRingAndWireTest)
{
    BODY* box = testkit::make_box();
    EDGE* e = box->lump()->shell()->face()->loop()->start()->edge();
    Ve_EdgeTag* edge = as<Ve_EdgeTag>(e);
    ASSERT_EQ(edge->getNumberOfCoedges(), 2);
    EXPECT_EQ(as<COEDGE>(edge->getCoedgeAt(0)), e->coedge());
    EXPECT_EQ(as<COEDGE>(edge->getCoedgeAt(1)), e->coedge()->partner());
    EXPECT_EQ(edge->getCoedgeAt(2), nullptr);
    EXPECT_EQ(edge->getCoedgeAt(-1), nullptr);
    EXPECT_EQ(edge->getCoedges().Count(), 2);
    EXPECT_EQ(edge->getCoedge(), as<Ve_CoedgeTag>(e->coedge()));
    EXPECT_FALSE(edge->isWire());
    EXPECT_TRUE(edge->isForward());

    BODY* wire = testkit::make_wire_body(1);
    EXPECT_TRUE(as<Ve_EdgeTag>(wire->wire()->coedge()->edge())->isWire());
    auto* a = new VERTEX(new APOINT(0, 0, 0));
    auto* b = new VERTEX(new APOINT(1, 0, 0));
    EDGE* loose = new EDGE(a, b, nullptr, FORWARD);
    EXPECT_TRUE(as<Ve_EdgeTag>(loose)->isWire());
    EXPECT_EQ(as<Ve_EdgeTag>(loose)->getNumberOfCoedges(), 0);
    EXPECT_EQ(as<Ve_EdgeTag>(loose)->getCoedgeAt(0), nullptr);
    // No stored range and no curve: the empty starting interval comes back.
    const Gk_Domain none = as<Ve_EdgeTag>(loose)->getDomain();
    EXPECT_DOUBLE_EQ(none.low(), 1.0);
    EXPECT_DOUBLE_EQ(none.high(), 0.0);
    api_del_entity(loose);
    api_del_entity(wire);
    api_del_entity(box);
}

TEST(EdgeView, DistanceToTheWholeCurve)
{
    auto* a = new VERTEX(new APOINT(0, 0, 0));
    auto* b = new VERTEX(new APOINT(1, 0, 0));
    EDGE* onLine = new EDGE(a, b, new STRAIGHT(straight(QELposition(0, 0, 0), QELunit_vector(1, 0, 0))), FORWARD);
    // Beyond the edge's end the line still counts.
    EXPECT_NEAR(as<Ve_EdgeTag>(onLine)->getDistance(QELXPoint3D(5, 3, 4)), 5.0, 1e-9);
    EXPECT_EQ(as<Ve_CurveTag>(onLine->geometry()), as<Ve_EdgeTag>(onLine)->getCurve());

    auto* c = new VERTEX(new APOINT(0, 0, 0));
    auto* d = new VERTEX(new APOINT(1, 0, 0));
    EDGE* bare = new EDGE(c, d, nullptr, FORWARD);
    EXPECT_EQ(as<Ve_EdgeTag>(bare)->getDistance(QELXPoint3D(0, 0, 0)), Ve_EdgeTag::NoDistance);
    bare->set_geometry(new CURVE);
    EXPECT_EQ(as<Ve_EdgeTag>(bare)->getDistance(QELXPoint3D(0, 0, 0)), Ve_EdgeTag::NoDistance);
    api_del_entity(onLine);
    api_del_entity(bare);
}

TEST(EdgeView, DumpIsAnAssertion)
{
    BODY* box = testkit::make_box();
    COEDGE* c = box->lump()->shell()->face()->loop()->start();
    Gk_ErrMgr::clearAssertions();
    QELXStreamFormatter out(nullptr);
    as<Ve_EdgeTag>(c->edge())->dump(out);
    as<Ve_CoedgeTag>(c)->dump(out);
    EXPECT_EQ(Gk_ErrMgr::assertions().size(), 2u);
    Gk_ErrMgr::clearAssertions();
    api_del_entity(box);
}

TEST(DegenerateLoop, OneCoedgeWithoutCurve)
{
    auto* v = new VERTEX(new APOINT(1, 2, 3));
    FACE* face = oneCoedgeFace(v, nullptr, new SURFACE);
    Ve_LoopTag* loop = as<Ve_LoopTag>(face->loop());
    EXPECT_TRUE(loop->isDegenerate());
    EXPECT_EQ(as<VERTEX>(loop->getVertex()), v);

    auto* w = new VERTEX(new APOINT(1, 2, 3));
    FACE* withCurve = oneCoedgeFace(w, new CURVE, new SURFACE);
    EXPECT_FALSE(as<Ve_LoopTag>(withCurve->loop())->isDegenerate());
    EXPECT_EQ(as<Ve_LoopTag>(withCurve->loop())->getVertex(), nullptr);
    api_del_entity(face);
    api_del_entity(withCurve);
}

TEST(DegenerateLoop, ConeApexLoopEvenWithCurve)
{
    const cone apexCone(QELposition(0, 0, 0), QELunit_vector(0, 0, 1), QELvector(2, 0, 0), 1.0, 0.6, 0.8, 0.0);
    ASSERT_FALSE(apexCone.is_cylinder());
    const QELposition apex = apexCone.get_apex();
    auto* atApex = new VERTEX(new APOINT(apex + QELvector(0.1 * QELresabs, 0, 0)));
    FACE* face = oneCoedgeFace(atApex, new CURVE, new CONE(apexCone));
    EXPECT_TRUE(as<Ve_LoopTag>(face->loop())->isDegenerate());

    auto* away = new VERTEX(new APOINT(apex + QELvector(1, 0, 0)));
    FACE* elsewhere = oneCoedgeFace(away, new CURVE, new CONE(apexCone));
    EXPECT_FALSE(as<Ve_LoopTag>(elsewhere->loop())->isDegenerate());

    // A cylinder has no apex to compare with: only the curve counts.
    const cone cylinder(QELposition(0, 0, 0), QELunit_vector(0, 0, 1), QELvector(2, 0, 0), 1.0, 0.0, 1.0, 0.0);
    ASSERT_TRUE(cylinder.is_cylinder());
    auto* onCylinder = new VERTEX(new APOINT(0, 0, 0));
    FACE* cylinderFace = oneCoedgeFace(onCylinder, new CURVE, new CONE(cylinder));
    EXPECT_FALSE(as<Ve_LoopTag>(cylinderFace->loop())->isDegenerate());

    // A vertex without point is not at the apex.
    auto* pointless = new VERTEX(nullptr);
    FACE* noPoint = oneCoedgeFace(pointless, new CURVE, new CONE(apexCone));
    EXPECT_FALSE(as<Ve_LoopTag>(noPoint->loop())->isDegenerate());
    for (FACE* f : {face, elsewhere, cylinderFace, noPoint})
        api_del_entity(f);
}

struct CoedgeState {
    COEDGE* next;
    COEDGE* previous;
    sense_type sense;
};

std::vector<CoedgeState> stateOf(LOOP* loop)
{
    std::vector<CoedgeState> out;
    COEDGE* c = loop->start();
    do {
        out.push_back({c->next(), c->previous(), c->sense()});
        c = out.back().next;
    } while (c && c != loop->start());
    return out;
}

TEST(LoopReversal, SwapsLinksAndFlipsSensesTwiceRestores)
{
    BODY* box = testkit::make_box();
    LOOP* loop = box->lump()->shell()->face()->loop();
    COEDGE* start = loop->start();
    const std::vector<CoedgeState> before = stateOf(loop);
    std::vector<COEDGE*> ring;
    for (COEDGE* c = start; ring.size() < before.size(); c = c->next())
        ring.push_back(c);

    as<Ve_LoopTag>(loop)->reverse();
    EXPECT_EQ(loop->start(), start);
    for (std::size_t k = 0; k < ring.size(); ++k) {
        EXPECT_EQ(ring[k]->next(), before[k].previous);
        EXPECT_EQ(ring[k]->previous(), before[k].next);
        EXPECT_NE(ring[k]->sense(), before[k].sense);
        // The start vertex follows the sense: the reversed ring still closes.
        EXPECT_EQ(as<Ve_CoedgeTag>(ring[k])->endVertex(), as<Ve_CoedgeTag>(ring[k]->next())->startVertex());
    }
    as<Ve_LoopTag>(loop)->reverse();
    for (std::size_t k = 0; k < ring.size(); ++k) {
        EXPECT_EQ(ring[k]->next(), before[k].next);
        EXPECT_EQ(ring[k]->previous(), before[k].previous);
        EXPECT_EQ(ring[k]->sense(), before[k].sense);
    }
    api_del_entity(box);
}

TEST(LoopReversal, TolerantCoedgesNegateRangeCurveAndPcurve)
{
    auto* a = new VERTEX(new APOINT(0, 0, 0));
    auto* b = new VERTEX(new APOINT(4, 0, 0));
    auto* c = new VERTEX(new APOINT(0, 3, 0));
    const QELinterval ab(0.0, 4.0), bc(0.0, 5.0), ca(0.0, 3.0);
    EDGE* e1 = new EDGE(a, b, new CURVE, FORWARD, EDGE_cvty_unknown, &ab);
    EDGE* e2 = new EDGE(b, c, new CURVE, FORWARD, EDGE_cvty_unknown, &bc);
    EDGE* e3 = new EDGE(c, a, new CURVE, FORWARD, EDGE_cvty_unknown, &ca);
    auto* t1 = new TCOEDGE(e1, FORWARD);
    t1->set_param_range(QELinterval(1.0, 5.0));
    t1->set_3D_curve(new STRAIGHT(straight(QELposition(0, 0, 0), QELunit_vector(1, 0, 0))));
    t1->set_geometry(new PCURVE());
    FACE* face = faceOf({t1, new COEDGE(e2, FORWARD), new COEDGE(e3, FORWARD)}, new SURFACE);

    const QELposition atOne = t1->get_3D_curve()->curve_point(1.0);
    as<Ve_LoopTag>(face->loop())->reverse();
    EXPECT_EQ(t1->param_range(), QELinterval(-5.0, -1.0));
    EXPECT_TRUE(same_point(t1->get_3D_curve()->curve_point(-1.0), atOne));
    EXPECT_TRUE(t1->geometry()->reversed());
    EXPECT_EQ(t1->sense(), REVERSED);
    as<Ve_LoopTag>(face->loop())->reverse();
    EXPECT_EQ(t1->param_range(), QELinterval(1.0, 5.0));
    EXPECT_TRUE(same_point(t1->get_3D_curve()->curve_point(1.0), atOne));
    EXPECT_FALSE(t1->geometry()->reversed());
    EXPECT_EQ(t1->sense(), FORWARD);
    api_del_entity(face);
}

} // namespace
