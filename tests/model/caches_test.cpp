// The document's body and shell caches.
#include <gtest/gtest.h>

#include <set>

#include "model_test_support.hxx"

using DocumentCaches = CachesCleared;

namespace {

const Ve_BodyCache* filled(BODY* b)
{
    Ve_DocumentTag::FillCache(as<Ve_BodyTag>(b));
    return Ve_DocumentTag::bodyCacheMap.Find(as<Ve_BodyTag>(b));
}

} // namespace

TEST_F(DocumentCaches, FillingTwiceKeepsTheFirstRecordAndANullBodyGetsAnEmptyOne)
{
    const Owned box{testkit::make_box()};
    const Ve_BodyCache* record = filled(box);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(filled(box), record);
    EXPECT_EQ(Ve_DocumentTag::bodyCacheMap.Count(), 1);
    EXPECT_EQ(Ve_DocumentTag::shellCacheMap.Count(), 1);
    EXPECT_EQ(record->faces().Count(), 6); // the rest is seen through the views
    const QELXDynamicArray<Ve_FaceTag*>* shellFaces =
        Ve_DocumentTag::shellCacheMap.Find(as<Ve_ShellTag>(box->lump()->shell()));
    ASSERT_NE(shellFaces, nullptr);
    EXPECT_EQ(shellFaces->Count(), 6);

    Ve_DocumentTag::ClearCaches();
    Ve_DocumentTag::FillCache(nullptr);
    ASSERT_EQ(Ve_DocumentTag::bodyCacheMap.Count(), 1);
    ASSERT_NE(Ve_DocumentTag::bodyCacheMap.Find(nullptr), nullptr);
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
    const Owned next{testkit::make_sheet(1, 1)};
    EXPECT_EQ(as<Ve_BodyTag>(next)->getNumberOfFaces(), 1);
}

TEST_F(DocumentCaches, RecordsOfAnEarlierEntityAtTheSameAddressAreNeverRead)
{
    // A body deleted behind the caches' back left records under addresses
    // that a new body and its shell now have.
    const Owned box{testkit::make_box()};
    const Owned sheet{testkit::make_sheet(2, 1)};
    SHELL* shell = sheet->lump()->shell();
    auto* stale = new Ve_BodyCache;
    stale->fill(as<Ve_BodyTag>(box));
    Ve_DocumentTag::bodyCacheMap.Put(as<Ve_BodyTag>(sheet), stale);
    auto* staleFaces = new QELXDynamicArray<Ve_FaceTag*>;
    staleFaces->Add(as<Ve_FaceTag>(firstFace(box)));
    Ve_DocumentTag::shellCacheMap.Put(as<Ve_ShellTag>(shell), staleFaces);
    EXPECT_EQ(as<Ve_BodyTag>(sheet)->getNumberOfFaces(), 2);
    EXPECT_EQ(as<Ve_ShellTag>(shell)->getNumberOfFaces(), 2);
    EXPECT_EQ(Ve_DocumentTag::bodyCacheMap.Count(), 0);
    EXPECT_EQ(Ve_DocumentTag::shellCacheMap.Count(), 0);

    // A shell array left without its body record is replaced on filling.
    auto* left = new QELXDynamicArray<Ve_FaceTag*>;
    left->Add(nullptr); // a face long gone
    Ve_DocumentTag::shellCacheMap.Put(as<Ve_ShellTag>(shell), left);
    Ve_DocumentTag::FillCache(as<Ve_BodyTag>(sheet));
    EXPECT_NE(Ve_DocumentTag::CachedBody(as<Ve_BodyTag>(sheet)), nullptr);
    EXPECT_NE(Ve_DocumentTag::CachedShellFaces(as<Ve_ShellTag>(shell)), nullptr);
    Ve_ShellTag* s = as<Ve_ShellTag>(shell);
    ASSERT_EQ(s->getNumberOfFaces(), 2);
    EXPECT_EQ(as<FACE>(s->getFaceAt(0)), shell->face());
    EXPECT_EQ(as<FACE>(s->getFaceAt(1)), shell->face()->next());
    EXPECT_EQ(Ve_DocumentTag::shellCacheMap.Count(), 1);
    Ve_DocumentTag::RemoveFromCache(as<Ve_BodyTag>(sheet));
    EXPECT_EQ(Ve_DocumentTag::shellCacheMap.Count(), 0);
}

// A shell rebuilt behind the caches' back: the body keeps its faces (its
// record stays good), its shell gives way to two, and where the allocator
// hands the old shell's place to the first of them (it takes the lowest free
// slot, outside the sanitizers) the old shell's array must not answer for it.
TEST_F(DocumentCaches, AShellRebuiltInTheOldOnesPlaceIsReadAfresh)
{
    const Owned box{testkit::make_box()};
    LUMP* lump = box->lump();
    SHELL* old = lump->shell();
    Ve_DocumentTag::FillCache(as<Ve_BodyTag>(box));
    ASSERT_EQ(as<Ve_ShellTag>(old)->getNumberOfFaces(), 6);

    FACE* first = old->face();
    FACE* fourth = first->next()->next()->next();
    first->next()->next()->set_next(nullptr);
    old->set_face(nullptr);
    old->set_lump(nullptr);
    lump->set_shell(nullptr);
    api_del_entity(old);
    auto* front = new SHELL(first, nullptr);
    auto* back = new SHELL(fourth, nullptr);
    front->set_next(back);
    front->set_lump(lump);
    back->set_lump(lump);
    lump->set_shell(front);
    for (SHELL* s : {front, back}) {
        int id = 0;
        ASSERT_TRUE(api_get_entity_id(s, id).ok()); // numbered, as the export numbers them
    }

    ASSERT_NE(Ve_DocumentTag::CachedBody(as<Ve_BodyTag>(box)), nullptr);
    for (SHELL* s : {front, back}) {
        Ve_ShellTag* view = as<Ve_ShellTag>(s);
        ASSERT_EQ(view->getNumberOfFaces(), 3);
        EXPECT_EQ(as<FACE>(view->getFaceAt(0)), s->face());
        EXPECT_EQ(as<FACE>(view->getFaceAt(2)), s->face()->next()->next());
    }
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

TEST_F(DocumentCaches, ADocumentStartsAndEndsWithEmptyCaches)
{
    const Owned box{testkit::make_box()};
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
    EXPECT_EQ(Ve_DocumentTag::bodyCacheMap.Count(), 0);
}

// The vertex arrays hold the distinct ends of the face edges and of the wire
// edges apart; a lone point's vertex is a dot vertex, in neither.
TEST_F(DocumentCaches, VertexArraysKeepFaceWireAndPointVerticesApart)
{
    const Owned box{testkit::make_box()};
    EDGE* loose = addWire(box, takeWire(testkit::make_wire_body(1)))->coedge()->edge();
    const Ve_BodyCache* record = filled(box);
    ASSERT_NE(record, nullptr);
    using Set = std::set<const void*>;
    const Seq all = seqOf([&] {
        ENTITY_LIST kernel;
        api_get_vertices(box, kernel);
        return kernel;
    }());
    const Set wireEnds{loose->start(), loose->end()};
    Set faceEnds(all.begin(), all.end());
    for (const void* v : wireEnds)
        faceEnds.erase(v);
    ASSERT_EQ(faceEnds.size(), 8u);
    const Seq cached = seqOf(record->vertices());
    EXPECT_EQ(cached.size(), 8u);
    EXPECT_EQ(Set(cached.begin(), cached.end()), faceEnds);
    const Seq cachedWire = seqOf(record->wireVertices());
    EXPECT_EQ(cachedWire.size(), 2u);
    EXPECT_EQ(Set(cachedWire.begin(), cachedWire.end()), wireEnds);

    const Owned dot{testkit::make_vertex_body(QELposition(1, 2, 3))};
    const Ve_BodyCache* point = filled(dot);
    ASSERT_NE(point, nullptr);
    EXPECT_EQ(seqOf(point->dotVertices()), Seq({dot->wire()->coedge()->edge()->start()}));
    EXPECT_EQ(point->wireEdges().Count(), 0);
    EXPECT_EQ(point->wireVertices().Count(), 0);
    EXPECT_EQ(point->vertices().Count(), 0);
}

namespace {

// A body's counted arrays and its shells' faces, as the views give them.
struct Answers {
    Seq faces, edges, wireEdges, dotVertices;
    std::vector<Seq> shellFaces;
    bool operator==(const Answers&) const = default;
};

Answers answersOf(BODY* b)
{
    Ve_BodyTag* v = as<Ve_BodyTag>(b);
    Answers a;
    for (int i = 0; i < v->getNumberOfFaces(); ++i)
        a.faces.push_back(v->getFaceAt(i));
    for (int i = 0; i < v->getNumberOfEdges(); ++i)
        a.edges.push_back(v->getEdgeAt(i));
    for (int i = 0; i < v->getNumberOfWireEdges(); ++i)
        a.wireEdges.push_back(v->getWireEdgeAt(i));
    for (int i = 0; i < v->getNumberOfDotVertices(); ++i)
        a.dotVertices.push_back(v->getDotVertexAt(i));
    for (LUMP* l = b->lump(); l; l = l->next())
        for (SHELL* s = l->shell(); s; s = s->next()) {
            Ve_ShellTag* shell = as<Ve_ShellTag>(s);
            a.shellFaces.emplace_back();
            for (int i = 0; i < shell->getNumberOfFaces(); ++i)
                a.shellFaces.back().push_back(shell->getFaceAt(i));
        }
    return a;
}

} // namespace

// A record answers as the kernel does, for a body whose face edges, wire edges
// and lone point are sorted apart and for one of two lumps; after the body
// changes, a refilled record shows the change.
TEST_F(DocumentCaches, ARecordAnswersAsTheKernelAndARefillSeesTheBodyChanged)
{
    const Owned box{testkit::make_box()};
    addWire(box, takeWire(testkit::make_wire_body(3)));
    const Owned two{testkit::make_two_lump_body()};
    for (BODY* b : {box.body, two.body}) {
        const Answers kernel = answersOf(b);
        ASSERT_NE(filled(b), nullptr);
        EXPECT_EQ(answersOf(b), kernel);
        Ve_DocumentTag::RemoveFromCache(as<Ve_BodyTag>(b));
    }
    const Answers before = answersOf(box);
    EXPECT_EQ(before.edges.size(), 12u);
    EXPECT_EQ(before.wireEdges.size(), 3u);
    EXPECT_EQ(before.shellFaces, std::vector<Seq>{before.faces});

    ASSERT_NE(filled(box), nullptr);
    Ve_DocumentTag::RemoveFromCache(as<Ve_BodyTag>(box));
    // A lone point joins the body's wires, ahead of the loose edges.
    WIRE* point = takeWire(testkit::make_vertex_body(QELposition(5, 5, 5)));
    point->set_next(box->wire());
    addWire(box, point);
    Answers changed = answersOf(box);
    ASSERT_EQ(changed.dotVertices, Seq({point->coedge()->edge()->start()}));
    // Asked of the kernel the point's edge is a wire edge too; a record keeps
    // it apart.
    ASSERT_EQ(changed.wireEdges.size(), 4u);
    EXPECT_EQ(changed.wireEdges.front(), point->coedge()->edge());
    changed.wireEdges.erase(changed.wireEdges.begin());
    ASSERT_NE(filled(box), nullptr);
    EXPECT_EQ(answersOf(box), changed);
}
