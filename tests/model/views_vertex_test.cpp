// Vertex view: neighbourhood gathering and the reduction of edge references.
#include <gtest/gtest.h>

#include "model/math_types.hxx"
#include "model_test_support.hxx"

namespace {

VERTEX* firstVertex(BODY* box) { return firstFace(box)->loop()->start()->edge()->start(); }

template <class T>
void expectDistinct(const QELXDynamicArray<T*>& list)
{
    QELXHashList<T*> seen;
    for (T* e : list)
        EXPECT_TRUE(seen.Add(e));
}

} // namespace

TEST(VertexView, BoxCornerMeetsThreeEdgesAndFacesAndAWireVertexNoFaces)
{
    const Owned box{testkit::make_box()};
    VERTEX* corner = firstVertex(box);
    Ve_VertexTag* v = as<Ve_VertexTag>(corner);
    const QELXDynamicArray<Ve_EdgeTag*> edges = v->getEdges();
    ASSERT_EQ(edges.Count(), 3);
    ENTITY_LIST kernel;
    api_get_edges(corner, kernel);
    for (Ve_EdgeTag* e : edges) {
        EXPECT_TRUE(kernel.contains(as<EDGE>(e)));
        EXPECT_TRUE(as<EDGE>(e)->start() == corner || as<EDGE>(e)->end() == corner);
    }
    expectDistinct(edges);
    EXPECT_EQ(v->getNumberOfEdges(), 3);
    EXPECT_EQ(v->getEdgeAt(2), edges[2]);
    EXPECT_EQ(v->getEdgeAt(3), nullptr);
    EXPECT_EQ(v->getEdgeAt(-1), nullptr);
    ASSERT_EQ(v->getFaces().Count(), 3);
    expectDistinct(v->getFaces());
    // Six coedges start or end at a box corner.
    QELXHashList<Ve_CoedgeTag*> coedges;
    v->fetchIncidentCoedgeList(coedges);
    EXPECT_EQ(coedges.Count(), 6);

    const Owned wire{testkit::make_wire_body(3)};
    Ve_VertexTag* middle = as<Ve_VertexTag>(wire->wire()->coedge()->edge()->end());
    EXPECT_EQ(middle->getEdges().Count(), 2);
    EXPECT_EQ(middle->getFaces().Count(), 0);
}

TEST(VertexView, PointlessVertexIsAtTheOriginAndAMorphMovesAVertex)
{
    auto* bare = new VERTEX(nullptr);
    const QELXPoint3D origin = as<Ve_VertexTag>(bare)->getPoint();
    EXPECT_TRUE(origin.x() == 0.0 && origin.y() == 0.0 && origin.z() == 0.0);
    api_del_entity(bare);
    auto* v = new VERTEX(new APOINT(1, 2, 3));
    as<Ve_VertexTag>(v)->apply(QELXMorph3D(QELXAffine(), QELXPoint3D(1, 0, 0), 1.0));
    EXPECT_TRUE(same_point(v->geometry()->coords(), QELposition(2, 2, 3)));
    api_del_entity(v);
}

TEST(VertexReferences, OneGroupKeepsOnlyItsFirstReference)
{
    const Owned box{testkit::make_box()};
    VERTEX* corner = firstVertex(box);
    EDGE* first = corner->edge(0);
    ENTITY_LIST around;
    api_get_edges(corner, around);
    for (int i = 0; i < around.count(); ++i)
        corner->add_edge(static_cast<EDGE*>(around[i]));
    ASSERT_EQ(corner->count_edges(), 3);
    as<Ve_VertexTag>(corner)->minimizeReferals();
    EXPECT_EQ(corner->count_edges(), 1);
    EXPECT_EQ(corner->edge(0), first);
    EXPECT_EQ(testkit::model_problems(box), "");
}

TEST(VertexReferences, TwoGroupsTouchingAtTheVertexKeepBoth)
{
    // Two boxes in one body, the second's corner welded onto the first's.
    const Owned body{testkit::make_box(1, 1, 1)};
    const Owned other{testkit::make_box(1, 1, 1, QELposition(-1, -1, -1))};
    LUMP* moved = other->lump();
    other->set_lump(nullptr);
    moved->set_body(body);
    body->lump()->set_next(moved);

    VERTEX* shared = firstVertex(body);
    ASSERT_TRUE(same_point(shared->geometry()->coords(), QELposition(0, 0, 0)));
    VERTEX* twin = nullptr;
    ENTITY_LIST verts;
    api_get_vertices(moved, verts);
    for (int i = 0; i < verts.count(); ++i)
        if (same_point(static_cast<VERTEX*>(verts[i])->geometry()->coords(), QELposition(0, 0, 0)))
            twin = static_cast<VERTEX*>(verts[i]);
    ASSERT_NE(twin, nullptr);
    ENTITY_LIST twinEdges;
    api_get_edges(twin, twinEdges);
    for (int i = 0; i < twinEdges.count(); ++i) {
        auto* e = static_cast<EDGE*>(twinEdges[i]);
        if (e->start() == twin)
            e->set_start(shared);
        if (e->end() == twin)
            e->set_end(shared);
    }
    EDGE* fromOther = static_cast<EDGE*>(twinEdges[0]);
    shared->add_edge(fromOther);
    twin->set_edge(nullptr);
    api_del_entity(twin);

    Ve_VertexTag* v = as<Ve_VertexTag>(shared);
    EXPECT_EQ(v->getEdges().Count(), 6);
    EXPECT_EQ(v->getFaces().Count(), 6);
    EXPECT_EQ(as<Ve_BodyTag>(body)->isNonManifold(), Ve_BodyTag::NonManifoldVertices);
    v->minimizeReferals();
    ASSERT_EQ(shared->count_edges(), 2);
    EXPECT_EQ(shared->edge(1), fromOther);
}
