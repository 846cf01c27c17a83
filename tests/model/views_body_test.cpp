// The body view and the owning-body walk over the test kit's bodies.
#include <gtest/gtest.h>

#include "model_test_support.hxx"
#include "qelx/qelx_errors.hxx"

namespace {

Ve_BodyTag* view(BODY* b) { return as<Ve_BodyTag>(b); }
const Ve_EntityTag* entity(const ENTITY* e) { return reinterpret_cast<const Ve_EntityTag*>(e); }

Seq kernelSeq(outcome (*query)(const ENTITY*, ENTITY_LIST&), const ENTITY* e)
{
    ENTITY_LIST list;
    EXPECT_TRUE(query(e, list).ok());
    return seqOf(list);
}

// Runs each check once from the kernel and once from a filled body cache.
class BodyViewCached : public CachesCleared, public ::testing::WithParamInterface<bool> {
protected:
    Ve_BodyTag* maybeCached(BODY* b)
    {
        if (GetParam())
            Ve_DocumentTag::FillCache(view(b));
        return view(b);
    }
};

using V = Ve_BodyTag;

} // namespace

TEST_P(BodyViewCached, BoxFacesEdgesLumpsAndDistinctVerticesFollowKernelOrder)
{
    const Owned box{testkit::make_box()};
    Ve_BodyTag* b = maybeCached(box);
    expectIndexed(b, &V::getNumberOfFaces, &V::getFaceAt, &V::getFaces, kernelSeq(api_get_faces, box));
    expectIndexed(b, &V::getNumberOfEdges, &V::getEdgeAt, &V::getEdges, kernelSeq(api_get_edges, box));
    expectIndexed(b, &V::getNumberOfWireEdges, &V::getWireEdgeAt, &V::getWireEdges, {});
    expectIndexed(b, &V::getNumberOfLumps, &V::getLumpAt, &V::getLumps, {box->lump()});
    expectIndexed(b, &V::getNumberOfDotVertices, &V::getDotVertexAt, &V::getDotVertices, {});
    // Eight distinct vertices, all of the kernel's.
    const QELXDynamicArray<Ve_VertexTag*> vertices = b->getVertices();
    ASSERT_EQ(vertices.Count(), 8);
    const Seq kernel = kernelSeq(api_get_vertices, box);
    QELXHashList<Ve_VertexTag*> distinct;
    for (Ve_VertexTag* v : vertices) {
        EXPECT_NE(std::find(kernel.begin(), kernel.end(), v), kernel.end());
        EXPECT_TRUE(distinct.Add(v));
    }
    EXPECT_EQ(b->getWireVertices().Count(), 0);
    EXPECT_TRUE(b->isSolidBody());
    EXPECT_FALSE(b->isWireBody());
}

TEST_P(BodyViewCached, WireBodiesHaveWireEdgesAndVertexBodiesOneDotVertex)
{
    const Owned wire{testkit::make_wire_body(3)};
    Ve_BodyTag* b = maybeCached(wire);
    EXPECT_EQ(b->getNumberOfEdges(), 0);
    expectIndexed(b, &V::getNumberOfWireEdges, &V::getWireEdgeAt, &V::getWireEdges, kernelSeq(api_get_edges, wire));
    EXPECT_EQ(b->getNumberOfLumps(), 0);
    EXPECT_FALSE(b->isVertexBody());
    EXPECT_EQ(b->getNumberOfDotVertices(), 0);
    EXPECT_EQ(b->getWireVertices().Count(), 4); // the wire ends
    EXPECT_EQ(b->getVertices().Count(), 0);

    // The list form finds the point edge even when the cached record keeps it
    // out of the wire edges.
    const Owned dot{testkit::make_vertex_body(QELposition(1, 2, 3))};
    b = maybeCached(dot);
    EXPECT_TRUE(b->isWireBody());
    EXPECT_TRUE(b->isVertexBody());
    expectIndexed(b, &V::getNumberOfDotVertices, &V::getDotVertexAt, &V::getDotVertices,
                  {dot->wire()->coedge()->edge()->start()});
}

TEST_P(BodyViewCached, SolidWithAWireEdgeCountsItApart)
{
    const Owned box{testkit::make_box()};
    EDGE* loose = addWire(box, takeWire(testkit::make_wire_body(1)))->coedge()->edge();
    Ve_BodyTag* b = maybeCached(box);
    EXPECT_TRUE(b->isWireBody());
    EXPECT_EQ(b->getNumberOfEdges(), 12);
    EXPECT_EQ(b->getEdges().Count(), 12);
    expectIndexed(b, &V::getNumberOfWireEdges, &V::getWireEdgeAt, &V::getWireEdges, {loose});
    EXPECT_EQ(b->getWireVertices().Count(), 2);
    EXPECT_EQ(b->getNumberOfDotVertices(), 0);
}

TEST_P(BodyViewCached, LumpWithoutFacesIsNotCounted)
{
    const Owned body{testkit::make_two_lump_body()};
    // A third lump whose shell has no face, at the head of the chain.
    auto* empty = new LUMP(new SHELL(nullptr), body->lump());
    empty->set_body(body);
    body->set_lump(empty);
    Ve_BodyTag* b = maybeCached(body);
    expectIndexed(b, &V::getNumberOfLumps, &V::getLumpAt, &V::getLumps, {empty->next(), empty->next()->next()});
    EXPECT_FALSE(b->isSolidBody()); // the solid test looks only at the first lump
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutCache, BodyViewCached, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Cached" : "Kernel"; });

TEST(BodyView, TrimBodyLooksAtFirstShellOnly)
{
    const Owned single{testkit::make_sheet(1, 1)}, four{testkit::make_sheet(2, 2)}, box{testkit::make_box()};
    EXPECT_TRUE(view(single)->isTrimBody());
    EXPECT_FALSE(view(four)->isTrimBody());
    EXPECT_FALSE(view(box)->isTrimBody());
    // A second lump of many faces behind a one-face first lump changes nothing,
    // and a trim body still hands out no trim faces.
    const Owned both{testkit::make_sheet(1, 1)};
    LUMP* boxLump = box->lump();
    box->set_lump(nullptr);
    boxLump->set_body(both);
    both->lump()->set_next(boxLump);
    EXPECT_TRUE(view(both)->isTrimBody());
    EXPECT_EQ(view(both)->getNumberOfTrimFaces(), 0);
    EXPECT_EQ(view(both)->getTrimFaceAt(0), nullptr);
    EXPECT_EQ(testkit::model_problems(both), "");
}

TEST(BodyView, CopyIsSoundAFailedOneNullAndAPendingAbortLosesNone)
{
    const Owned box{testkit::make_box()};
    Ve_BodyTag* copy = view(box)->Copy();
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(as<BODY>(copy), box);
    EXPECT_EQ(copy->getNumberOfFaces(), 6);
    EXPECT_EQ(copy->getVertices().Count(), 8);
    EXPECT_EQ(testkit::model_problems(as<BODY>(copy)), "");
    copy->release();
    EXPECT_FALSE(velm_is_live_entity(copy));
    EXPECT_TRUE(velm_is_live_entity(box));

    Gk_ErrMgr::clearAssertions();
    velm_test_fail_next("api_copy_body", apiFailure());
    EXPECT_EQ(view(box)->Copy(), nullptr);
    EXPECT_EQ(Gk_ErrMgr::assertions().size(), 1u);
    Gk_ErrMgr::clearAssertions();
    velm_test_reset();

    // Only a failed kernel call is a place to stop; a copy made must reach the caller.
    QELXCallbackShared::RequestAbort(true);
    copy = nullptr;
    EXPECT_NO_THROW(copy = view(box)->Copy());
    EXPECT_NO_THROW(if (copy) copy->release());
    QELXCallbackShared::RequestAbort(false);
    ASSERT_NE(copy, nullptr);
    EXPECT_FALSE(velm_is_live_entity(copy));
}

TEST(OwningBody, EveryTopologyKindLeadsToItAndGeometryToNone)
{
    const Owned box{testkit::make_box()};
    const FACE* face = firstFace(box);
    const EDGE* edge = face->loop()->start()->edge();
    for (const ENTITY* e : std::initializer_list<const ENTITY*>{box, box->lump(), face->shell(), face, face->loop(),
                                                                 face->loop()->start(), edge, edge->end()})
        EXPECT_EQ(entity(e)->getBody(), view(box)) << e->type_name();
    EXPECT_EQ(entity(edge->geometry())->getBody(), nullptr);
    auto* transform = new TRANSFORM(QELtransf());
    EXPECT_EQ(entity(transform)->getBody(), nullptr);
    api_del_entity(transform);
    // A wire vertex goes through edge, coedge and wire.
    const Owned wire{testkit::make_wire_body(2)};
    EXPECT_EQ(entity(wire->wire()->coedge()->edge()->start())->getBody(), view(wire));
}

TEST(OwningBody, ShellWireWithoutBodyUsesTheShellsLump)
{
    const Owned box{testkit::make_box()};
    WIRE* w = takeWire(testkit::make_wire_body(1));
    SHELL* shell = box->lump()->shell();
    w->set_shell(shell);
    shell->set_wire(w);
    EXPECT_EQ(entity(w)->getBody(), view(box));
    EXPECT_EQ(entity(w->coedge()->edge()->start())->getBody(), view(box));
    // A free shell gives nothing.
    shell->set_wire(nullptr);
    auto* free = new SHELL(nullptr);
    free->set_wire(w);
    w->set_shell(free);
    EXPECT_EQ(entity(w)->getBody(), nullptr);
    free->set_wire(nullptr);
    w->set_shell(shell);
    shell->set_wire(w);
    api_del_entity(free);
}
