// The body view and the owning-body walk over the test kit's bodies.
#include <gtest/gtest.h>

#include "model/document.hxx"
#include "model/entity_views.hxx"
#include "qelx/qelx_errors.hxx"
#include "support/model_builders.hxx"
#include "velm/attrib.hxx"
#include "velm/testkit.hxx"

namespace {

Ve_BodyTag* view(BODY* b) { return reinterpret_cast<Ve_BodyTag*>(b); }

ENTITY_LIST kernelList(outcome (*query)(const ENTITY*, ENTITY_LIST&), const ENTITY* e)
{
    ENTITY_LIST list;
    EXPECT_TRUE(query(e, list).ok());
    return list;
}

// Runs each check once from the kernel and once from a filled body cache.
class BodyViewCached : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { Ve_DocumentTag::ClearCaches(); }
    void TearDown() override { Ve_DocumentTag::ClearCaches(); }
    void maybeCache(BODY* b)
    {
        if (GetParam())
            Ve_DocumentTag::FillCache(view(b));
    }
};

TEST_P(BodyViewCached, BoxFacesEdgesAndLumpsFollowKernelOrder)
{
    BODY* box = testkit::make_box();
    maybeCache(box);
    Ve_BodyTag* b = view(box);

    const ENTITY_LIST faces = kernelList(api_get_faces, box);
    ASSERT_EQ(b->getNumberOfFaces(), 6);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(reinterpret_cast<ENTITY*>(b->getFaceAt(i)), faces[i]);
    EXPECT_EQ(b->getFaceAt(6), nullptr);
    EXPECT_EQ(b->getFaceAt(-1), nullptr);

    const ENTITY_LIST edges = kernelList(api_get_edges, box);
    ASSERT_EQ(b->getNumberOfEdges(), 12);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(reinterpret_cast<ENTITY*>(b->getEdgeAt(i)), edges[i]);
    EXPECT_EQ(b->getEdgeAt(12), nullptr);
    EXPECT_EQ(b->getNumberOfWireEdges(), 0);
    EXPECT_EQ(b->getWireEdgeAt(0), nullptr);

    EXPECT_EQ(b->getNumberOfLumps(), 1);
    EXPECT_EQ(reinterpret_cast<LUMP*>(b->getLumpAt(0)), box->lump());
    EXPECT_EQ(b->getLumpAt(1), nullptr);
    EXPECT_EQ(b->getNumberOfDotVertices(), 0);
    EXPECT_EQ(b->getDotVertexAt(0), nullptr);
    api_del_entity(box);
}

TEST_P(BodyViewCached, VertexBodyHasOneDotVertex)
{
    BODY* dot = testkit::make_vertex_body(QELposition(1, 2, 3));
    maybeCache(dot);
    Ve_BodyTag* b = view(dot);
    const VERTEX* v = dot->wire()->coedge()->edge()->start();

    EXPECT_TRUE(b->isWireBody());
    EXPECT_TRUE(b->isVertexBody());
    ASSERT_EQ(b->getNumberOfDotVertices(), 1);
    EXPECT_EQ(reinterpret_cast<VERTEX*>(b->getDotVertexAt(0)), v);
    EXPECT_EQ(b->getDotVertexAt(1), nullptr);
    // The list form finds the point edge even when the cached record keeps it
    // out of the wire edges.
    const QELXDynamicArray<Ve_VertexTag*> dots = b->getDotVertices();
    ASSERT_EQ(dots.Count(), 1);
    EXPECT_EQ(reinterpret_cast<VERTEX*>(dots[0]), v);
    api_del_entity(dot);
}

TEST_P(BodyViewCached, WireBodyHasWireEdgesOnly)
{
    BODY* wire = testkit::make_wire_body(3);
    maybeCache(wire);
    Ve_BodyTag* b = view(wire);
    EXPECT_EQ(b->getNumberOfEdges(), 0);
    EXPECT_EQ(b->getNumberOfWireEdges(), 3);
    EXPECT_NE(b->getWireEdgeAt(2), nullptr);
    EXPECT_EQ(b->getWireEdgeAt(3), nullptr);
    EXPECT_EQ(b->getNumberOfLumps(), 0);
    EXPECT_FALSE(b->isVertexBody());
    EXPECT_EQ(b->getNumberOfDotVertices(), 0);
    api_del_entity(wire);
}

TEST_P(BodyViewCached, LumpWithoutFacesIsNotCounted)
{
    BODY* body = testkit::make_two_lump_body();
    // A third lump whose shell has no face, at the head of the chain.
    auto* empty = new LUMP(new SHELL(nullptr), body->lump());
    empty->set_body(body);
    body->set_lump(empty);
    maybeCache(body);
    Ve_BodyTag* b = view(body);
    EXPECT_EQ(b->getNumberOfLumps(), 2);
    EXPECT_EQ(reinterpret_cast<LUMP*>(b->getLumpAt(0)), empty->next());
    EXPECT_EQ(reinterpret_cast<LUMP*>(b->getLumpAt(1)), empty->next()->next());
    EXPECT_EQ(b->getLumpAt(2), nullptr);
    EXPECT_EQ(b->getLumps().Count(), 2);
    // The solid test looks only at the first lump.
    EXPECT_FALSE(b->isSolidBody());
    api_del_entity(body);
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutCache, BodyViewCached, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Cached" : "Kernel"; });

TEST(BodyView, BoxGivesEightDistinctVertices)
{
    BODY* box = testkit::make_box();
    const QELXDynamicArray<Ve_VertexTag*> vertices = view(box)->getVertices();
    ASSERT_EQ(vertices.Count(), 8);
    const ENTITY_LIST kernel = kernelList(api_get_vertices, box);
    for (Ve_VertexTag* v : vertices)
        EXPECT_TRUE(kernel.contains(reinterpret_cast<VERTEX*>(v)));
    QELXHashList<Ve_VertexTag*> distinct;
    for (Ve_VertexTag* v : vertices)
        EXPECT_TRUE(distinct.Add(v));
    EXPECT_EQ(view(box)->getWireVertices().Count(), 0);
    api_del_entity(box);
}

TEST(BodyView, WireBodyVerticesAreTheWireEnds)
{
    BODY* wire = testkit::make_wire_body(3);
    EXPECT_EQ(view(wire)->getWireVertices().Count(), 4);
    EXPECT_EQ(view(wire)->getVertices().Count(), 0);
    api_del_entity(wire);
}

TEST(BodyView, EdgeWithoutCoedgeCountsAsWireEdge)
{
    BODY* box = testkit::make_box();
    auto* a = new VERTEX(new APOINT(100, 0, 0));
    auto* b = new VERTEX(new APOINT(101, 0, 0));
    EDGE* loose = new EDGE(a, b, nullptr, FORWARD);
    // A wire coedge of the loose edge hangs off the box's body.
    BODY* carrier = nullptr;
    ASSERT_TRUE(api_make_ewire(1, &loose, carrier).ok());
    WIRE* w = carrier->wire();
    carrier->set_wire(nullptr);
    w->set_body(box);
    box->set_wire(w);
    api_del_entity(carrier);

    Ve_BodyTag* body = view(box);
    EXPECT_TRUE(body->isWireBody());
    EXPECT_EQ(body->getNumberOfEdges(), 12);
    EXPECT_EQ(body->getNumberOfWireEdges(), 1);
    EXPECT_EQ(reinterpret_cast<EDGE*>(body->getWireEdgeAt(0)), loose);
    EXPECT_EQ(body->getEdges().Count(), 12);
    EXPECT_EQ(body->getWireEdges().Count(), 1);
    api_del_entity(box);
}

TEST(BodyView, TrimBodyLooksAtFirstShellOnly)
{
    BODY* single = testkit::make_sheet(1, 1);
    BODY* four = testkit::make_sheet(2, 2);
    BODY* box = testkit::make_box();
    EXPECT_TRUE(view(single)->isTrimBody());
    EXPECT_FALSE(view(four)->isTrimBody());
    EXPECT_FALSE(view(box)->isTrimBody());
    EXPECT_TRUE(view(box)->isSolidBody());
    EXPECT_FALSE(view(box)->isWireBody());
    EXPECT_EQ(view(box)->getNumberOfTrimFaces(), 0);
    EXPECT_EQ(view(box)->getTrimFaceAt(0), nullptr);
    for (BODY* b : {single, four, box})
        api_del_entity(b);
}

TEST(BodyView, CopyHasTheSameTopologyAndReleaseDeletesIt)
{
    BODY* box = testkit::make_box();
    Ve_BodyTag* copy = view(box)->Copy();
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(reinterpret_cast<BODY*>(copy), box);
    EXPECT_EQ(copy->getNumberOfFaces(), 6);
    EXPECT_EQ(copy->getVertices().Count(), 8);
    EXPECT_EQ(testkit::model_problems(reinterpret_cast<BODY*>(copy)), "");
    copy->release();
    EXPECT_FALSE(velm_is_live_entity(copy));
    EXPECT_TRUE(velm_is_live_entity(box));
    api_del_entity(box);
}

TEST(BodyView, FailedCopyAssertsAndGivesNull)
{
    BODY* box = testkit::make_box();
    Gk_ErrMgr::clearAssertions();
    velm_test_fail_next("api_copy_body", qelvelm_api_errmod.message_code(VELM_API_FAILED));
    EXPECT_EQ(view(box)->Copy(), nullptr);
    EXPECT_EQ(Gk_ErrMgr::assertions().size(), 1u);
    Gk_ErrMgr::clearAssertions();
    velm_test_reset();
    api_del_entity(box);
}

TEST(BodyView, PendingAbortDoesNotLoseASuccessfulCopy)
{
    // Only a failed kernel call is a place to stop; a copy made must reach the caller.
    BODY* box = testkit::make_box();
    QELXCallbackShared::RequestAbort(true);
    Ve_BodyTag* copy = nullptr;
    EXPECT_NO_THROW(copy = view(box)->Copy());
    EXPECT_NO_THROW(if (copy) copy->release());
    QELXCallbackShared::RequestAbort(false);
    ASSERT_NE(copy, nullptr);
    EXPECT_FALSE(velm_is_live_entity(copy));
    api_del_entity(box);
}

// ---------------------------------------------------------------------------

TEST(OwningBody, EveryTopologyKindOfABoxLeadsToIt)
{
    BODY* box = testkit::make_box();
    const LUMP* lump = box->lump();
    const SHELL* shell = lump->shell();
    const FACE* face = shell->face();
    const LOOP* loop = face->loop();
    const COEDGE* coedge = loop->start();
    const EDGE* edge = coedge->edge();
    const VERTEX* vertex = edge->end();
    for (const ENTITY* e : std::initializer_list<const ENTITY*>{box, lump, shell, face, loop, coedge, edge, vertex})
        EXPECT_EQ(reinterpret_cast<const Ve_EntityTag*>(e)->getBody(), view(box)) << e->type_name();
    api_del_entity(box);
}

TEST(OwningBody, WireVertexGoesThroughEdgeCoedgeAndWire)
{
    BODY* wire = testkit::make_wire_body(2);
    const VERTEX* v = wire->wire()->coedge()->edge()->start();
    EXPECT_EQ(reinterpret_cast<const Ve_EntityTag*>(v)->getBody(), view(wire));
    api_del_entity(wire);
}

TEST(OwningBody, ShellWireWithoutBodyUsesTheShellsLump)
{
    BODY* box = testkit::make_box();
    BODY* carrier = testkit::make_wire_body(1);
    WIRE* w = carrier->wire();
    carrier->set_wire(nullptr);
    w->set_body(nullptr);
    SHELL* shell = box->lump()->shell();
    w->set_shell(shell);
    shell->set_wire(w);
    api_del_entity(carrier);

    EXPECT_EQ(reinterpret_cast<const Ve_EntityTag*>(w)->getBody(), view(box));
    const VERTEX* v = w->coedge()->edge()->start();
    EXPECT_EQ(reinterpret_cast<const Ve_EntityTag*>(v)->getBody(), view(box));
    // A free shell gives nothing.
    shell->set_wire(nullptr);
    auto* free = new SHELL(nullptr);
    free->set_wire(w);
    w->set_shell(free);
    EXPECT_EQ(reinterpret_cast<const Ve_EntityTag*>(w)->getBody(), nullptr);
    free->set_wire(nullptr);
    w->set_shell(shell);
    shell->set_wire(w);
    api_del_entity(free);
    api_del_entity(box);
}

TEST(OwningBody, GeometryAndAttributesHaveNone)
{
    BODY* box = testkit::make_box();
    const CURVE* curve = box->lump()->shell()->face()->loop()->start()->edge()->geometry();
    ASSERT_NE(curve, nullptr);
    EXPECT_EQ(reinterpret_cast<const Ve_EntityTag*>(curve)->getBody(), nullptr);
    auto* transform = new TRANSFORM(QELtransf());
    EXPECT_EQ(reinterpret_cast<const Ve_EntityTag*>(transform)->getBody(), nullptr);
    api_del_entity(transform);
    api_del_entity(box);
}

} // namespace
