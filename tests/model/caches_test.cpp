// The document's body and shell caches.
#include <gtest/gtest.h>

#include "model/document.hxx"
#include "support/model_builders.hxx"

namespace {

template <class View, class Kernel>
View* as(Kernel* e)
{
    return reinterpret_cast<View*>(e);
}

class DocumentCaches : public ::testing::Test {
protected:
    void SetUp() override { Ve_DocumentTag::ClearCaches(); }
    void TearDown() override { Ve_DocumentTag::ClearCaches(); }
};

TEST_F(DocumentCaches, FillingTwiceKeepsTheFirstRecord)
{
    BODY* box = testkit::make_box();
    Ve_DocumentTag::FillCache(as<Ve_BodyTag>(box));
    const Ve_BodyCache* record = Ve_DocumentTag::bodyCacheMap.Find(as<Ve_BodyTag>(box));
    ASSERT_NE(record, nullptr);
    Ve_DocumentTag::FillCache(as<Ve_BodyTag>(box));
    EXPECT_EQ(Ve_DocumentTag::bodyCacheMap.Find(as<Ve_BodyTag>(box)), record);
    EXPECT_EQ(Ve_DocumentTag::bodyCacheMap.Count(), 1);
    EXPECT_EQ(Ve_DocumentTag::shellCacheMap.Count(), 1);

    EXPECT_EQ(record->faces().Count(), 6);
    EXPECT_EQ(record->edges().Count(), 12);
    EXPECT_EQ(record->vertices().Count(), 8);
    EXPECT_EQ(record->wireEdges().Count(), 0);
    EXPECT_EQ(record->lumps().Count(), 1);
    const QELXDynamicArray<Ve_FaceTag*>* shellFaces =
        Ve_DocumentTag::shellCacheMap.Find(as<Ve_ShellTag>(box->lump()->shell()));
    ASSERT_NE(shellFaces, nullptr);
    EXPECT_EQ(shellFaces->Count(), 6);
    api_del_entity(box);
}

TEST_F(DocumentCaches, SolidWithWireEdgeSplitsEdgeKinds)
{
    BODY* box = testkit::make_box();
    BODY* carrier = testkit::make_wire_body(1);
    WIRE* w = carrier->wire();
    carrier->set_wire(nullptr);
    w->set_body(box);
    box->set_wire(w);
    api_del_entity(carrier);

    Ve_DocumentTag::FillCache(as<Ve_BodyTag>(box));
    const Ve_BodyCache* record = Ve_DocumentTag::bodyCacheMap.Find(as<Ve_BodyTag>(box));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->edges().Count(), 12);
    ASSERT_EQ(record->wireEdges().Count(), 1);
    EXPECT_EQ(as<EDGE>(record->wireEdges()[0]), w->coedge()->edge());
    EXPECT_EQ(record->wireVertices().Count(), 2);
    EXPECT_EQ(record->dotVertices().Count(), 0);
    api_del_entity(box);
}

TEST_F(DocumentCaches, FreePointIsADotVertexNotAWireEdge)
{
    BODY* dot = testkit::make_vertex_body();
    Ve_DocumentTag::FillCache(as<Ve_BodyTag>(dot));
    const Ve_BodyCache* record = Ve_DocumentTag::bodyCacheMap.Find(as<Ve_BodyTag>(dot));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->wireEdges().Count(), 0);
    ASSERT_EQ(record->dotVertices().Count(), 1);
    EXPECT_EQ(as<VERTEX>(record->dotVertices()[0]), dot->wire()->coedge()->edge()->start());
    EXPECT_EQ(record->lumps().Count(), 0);
    EXPECT_EQ(Ve_DocumentTag::shellCacheMap.Count(), 0);
    api_del_entity(dot);
}

TEST_F(DocumentCaches, NullBodyGetsAnEmptyRecord)
{
    Ve_DocumentTag::FillCache(nullptr);
    ASSERT_EQ(Ve_DocumentTag::bodyCacheMap.Count(), 1);
    EXPECT_GE(Ve_DocumentTag::bodyCacheMap.FindIndex(nullptr), 0);
    EXPECT_EQ(Ve_DocumentTag::bodyCacheMap.Find(nullptr)->faces().Count(), 0);
    EXPECT_EQ(Ve_DocumentTag::shellCacheMap.Count(), 0);
}

TEST_F(DocumentCaches, ReleasedBodyLeavesNoStaleRecord)
{
    BODY* box = testkit::make_two_lump_body();
    Ve_DocumentTag::FillCache(as<Ve_BodyTag>(box));
    EXPECT_EQ(Ve_DocumentTag::shellCacheMap.Count(), 2);
    as<Ve_BodyTag>(box)->release();
    EXPECT_EQ(Ve_DocumentTag::bodyCacheMap.Find(as<Ve_BodyTag>(box)), nullptr);
    EXPECT_EQ(Ve_DocumentTag::bodyCacheMap.Count(), 0);
    EXPECT_EQ(Ve_DocumentTag::shellCacheMap.Count(), 0);
    // Whatever the allocator puts at the old address next is asked of the kernel.
    BODY* next = testkit::make_sheet(1, 1);
    EXPECT_EQ(as<Ve_BodyTag>(next)->getNumberOfFaces(), 1);
    api_del_entity(next);
}

TEST_F(DocumentCaches, FillingReplacesAShellArrayLeftByAnEarlierRecord)
{
    // A body deleted behind the caches' back left a face array under an
    // address that a new body's shell now has.
    BODY* sheet = testkit::make_sheet(2, 1);
    SHELL* shell = sheet->lump()->shell();
    auto* left = new QELXDynamicArray<Ve_FaceTag*>;
    left->Add(nullptr); // a face long gone
    Ve_DocumentTag::shellCacheMap.Put(as<Ve_ShellTag>(shell), left);

    Ve_DocumentTag::FillCache(as<Ve_BodyTag>(sheet));
    Ve_ShellTag* s = as<Ve_ShellTag>(shell);
    ASSERT_EQ(s->getNumberOfFaces(), 2);
    EXPECT_EQ(as<FACE>(s->getFaceAt(0)), shell->face());
    EXPECT_EQ(as<FACE>(s->getFaceAt(1)), shell->face()->next());
    EXPECT_EQ(Ve_DocumentTag::shellCacheMap.Count(), 1);
    Ve_DocumentTag::RemoveFromCache(as<Ve_BodyTag>(sheet));
    EXPECT_EQ(Ve_DocumentTag::shellCacheMap.Count(), 0);
    api_del_entity(sheet);
}

TEST_F(DocumentCaches, RemovingFromAProbeClusterKeepsTheOthersFindable)
{
    // Keys are only compared, never dereferenced: fake addresses will do.
    QELXVECacheMap& map = Ve_DocumentTag::bodyCacheMap;
    const int n = 40;
    auto key = [](int i) { return reinterpret_cast<Ve_BodyTag*>(static_cast<std::uintptr_t>(0x1000 + 16 * i)); };
    for (int i = 0; i < n; ++i)
        map.Put(key(i), new Ve_BodyCache);
    EXPECT_EQ(map.Count(), n);
    EXPECT_GT(map.Capacity(), 17);
    for (int i = 0; i < n; i += 3)
        EXPECT_TRUE(map.Remove(key(i)));
    EXPECT_FALSE(map.Remove(key(0)));
    for (int i = 0; i < n; ++i)
        EXPECT_EQ(map.Find(key(i)) != nullptr, i % 3 != 0) << i;

    int seen = 0;
    Ve_BodyTag* k = nullptr;
    Ve_BodyCache* v = nullptr;
    map.ResetCursor();
    while (map.Next(k, v))
        ++seen;
    EXPECT_EQ(seen, map.Count());
}

TEST_F(DocumentCaches, NewDocumentStartsWithEmptyCaches)
{
    BODY* box = testkit::make_box();
    Ve_DocumentTag::FillCache(as<Ve_BodyTag>(box));
    ASSERT_EQ(Ve_DocumentTag::bodyCacheMap.Count(), 1);
    {
        Ve_DocumentTag document;
        EXPECT_EQ(Ve_DocumentTag::bodyCacheMap.Count(), 0);
        EXPECT_EQ(Ve_DocumentTag::bodyCacheMap.Capacity(), 17);
        EXPECT_EQ(Ve_DocumentTag::shellCacheMap.Count(), 0);
        EXPECT_EQ(Ve_DocumentTag::shellCacheMap.Capacity(), 17);

        ENTITY_LIST solids;
        solids.add(box);
        document.appendSolids(solids);
        document.FillCache();
        EXPECT_EQ(Ve_DocumentTag::bodyCacheMap.Count(), 1);
        EXPECT_EQ(document.GetSolidAt(0), static_cast<void*>(box));
        EXPECT_EQ(document.GetSolidAt(1), nullptr);
    }
    // The document's end empties them again.
    EXPECT_EQ(Ve_DocumentTag::bodyCacheMap.Count(), 0);
    api_del_entity(box);
}

} // namespace

// A record keyed by an address that now holds another body (the first one was
// deleted behind the caches' back) is recognised and never read.
TEST_F(DocumentCaches, RecordOfAnEarlierEntityAtTheSameAddressIsNotRead)
{
    BODY* box = testkit::make_box();
    BODY* sheet = testkit::make_sheet(1, 1);
    auto* stale = new Ve_BodyCache;
    stale->fill(as<Ve_BodyTag>(box));
    Ve_DocumentTag::bodyCacheMap.Put(as<Ve_BodyTag>(sheet), stale);
    auto* staleFaces = new QELXDynamicArray<Ve_FaceTag*>;
    staleFaces->Add(as<Ve_FaceTag>(box->lump()->shell()->face()));
    staleFaces->Add(as<Ve_FaceTag>(box->lump()->shell()->face()->next()));
    Ve_DocumentTag::shellCacheMap.Put(as<Ve_ShellTag>(sheet->lump()->shell()), staleFaces);

    EXPECT_EQ(as<Ve_BodyTag>(sheet)->getNumberOfFaces(), 1);
    EXPECT_EQ(as<Ve_ShellTag>(sheet->lump()->shell())->getNumberOfFaces(), 1);
    EXPECT_EQ(Ve_DocumentTag::bodyCacheMap.Count(), 0);
    EXPECT_EQ(Ve_DocumentTag::shellCacheMap.Count(), 0);

    // Filled properly, the same body answers from its own record.
    Ve_DocumentTag::FillCache(as<Ve_BodyTag>(sheet));
    EXPECT_NE(Ve_DocumentTag::CachedBody(as<Ve_BodyTag>(sheet)), nullptr);
    EXPECT_NE(Ve_DocumentTag::CachedShellFaces(as<Ve_ShellTag>(sheet->lump()->shell())), nullptr);
    api_del_entity(box);
    Ve_DocumentTag::RemoveFromCache(as<Ve_BodyTag>(sheet));
    api_del_entity(sheet);
}
