// Body sets and building bodies from loose faces.
#include <gtest/gtest.h>

#include <vector>

#include "model/body_set.hxx"
#include "model_test_support.hxx"
#include "velm/memory.hxx"

namespace {

// The faces of a fresh sheet from the given one on, taken out of their shell:
// loose faces that keep their edges, vertices and partner rings. An emptied
// sheet is deleted.
std::vector<FACE*> looseFaces(BODY* sheet, int from = 0)
{
    std::vector<FACE*> faces;
    SHELL* shell = sheet->lump()->shell();
    FACE* f = shell->face();
    for (int i = 0; i < from; ++i)
        f = f->next();
    if (from == 0)
        shell->set_face(nullptr);
    while (f) {
        FACE* next = f->next();
        f->set_next(nullptr);
        f->set_shell(nullptr);
        faces.push_back(f);
        f = next;
    }
    if (from == 0)
        api_del_entity(sheet);
    return faces;
}

QELXDynamicArray<Ve_FaceTag*> viewsOf(const std::vector<FACE*>& faces)
{
    QELXDynamicArray<Ve_FaceTag*> out;
    for (FACE* f : faces)
        out.Add(as<Ve_FaceTag>(f));
    return out;
}

BODY* bodyAt(const Ve_BodyCntl& cntl, int i) { return as<BODY>(cntl.getCocoon()->getBodies()[i]); }

int shellFaces(const SHELL* s)
{
    int n = 0;
    for (const FACE* f = s->face(); f; f = f->next())
        ++n;
    return n;
}

} // namespace

TEST(BodySet, LooseFacesBecomeOneBodyWithAShellPerConnectedGroup)
{
    std::vector<FACE*> grid = looseFaces(testkit::make_sheet(3, 3));
    std::vector<FACE*> all = looseFaces(testkit::make_sheet(1, 1));
    // The lone face first: shells come in the order of their first faces.
    all.insert(all.end(), grid.begin(), grid.end());
    Ve_BodyCntl cntl;
    cntl.createFromFaceData(viewsOf(all), false);

    ASSERT_EQ(cntl.getCocoon()->getNumberOfBodies(), 1);
    BODY* body = bodyAt(cntl, 0);
    ASSERT_NE(body->lump(), nullptr);
    EXPECT_EQ(body->lump()->next(), nullptr);
    SHELL* first = body->lump()->shell();
    ASSERT_NE(first->next(), nullptr);
    EXPECT_EQ(first->next()->next(), nullptr);
    EXPECT_EQ(shellFaces(first), 1);
    EXPECT_EQ(shellFaces(first->next()), 9);
    EXPECT_EQ(first->face(), all[0]);
    EXPECT_EQ(first->next()->face(), grid[0]);
    EXPECT_EQ(first->lump(), body->lump());
    EXPECT_EQ(first->next()->lump(), body->lump());
    EXPECT_EQ(testkit::model_problems(body), "");
    api_del_entity(body);
}

TEST(BodySet, LargeSheetFillsWithoutDeepRecursion)
{
    // A long strip: the depth-first fill reaches every face through one chain.
    Ve_BodyCntl cntl;
    cntl.createFromFaceData(viewsOf(looseFaces(testkit::make_sheet(20000, 1))), false);
    ASSERT_EQ(cntl.getCocoon()->getNumberOfBodies(), 1);
    BODY* body = bodyAt(cntl, 0);
    EXPECT_EQ(shellFaces(body->lump()->shell()), 20000);
    EXPECT_EQ(body->lump()->shell()->next(), nullptr);
    api_del_entity(body);
}

TEST(BodySet, SeparationKeepsEveryBodyAndAFailedOneTheBodyAsBuilt)
{
    std::vector<FACE*> all = looseFaces(testkit::make_sheet(2, 2));
    for (FACE* f : looseFaces(testkit::make_sheet(1, 3)))
        all.push_back(f);
    Ve_BodyCntl cntl;
    BODY* earlier = testkit::make_box();
    cntl.getCocoon()->appendBody(as<Ve_BodyTag>(earlier));
    cntl.createFromFaceData(viewsOf(all), true);
    // The earlier body stays; the two groups come out as two bodies.
    ASSERT_EQ(cntl.getCocoon()->getNumberOfBodies(), 3);
    EXPECT_EQ(bodyAt(cntl, 0), earlier);
    for (int i = 1; i < 3; ++i) {
        BODY* b = bodyAt(cntl, i);
        ASSERT_NE(b->lump(), nullptr);
        EXPECT_EQ(b->lump()->next(), nullptr);
        EXPECT_EQ(b->lump()->shell()->next(), nullptr);
        EXPECT_EQ(shellFaces(b->lump()->shell()), i == 1 ? 4 : 3);
        EXPECT_EQ(testkit::model_problems(b), "");
    }
    for (int i = 0; i < 3; ++i)
        api_del_entity(bodyAt(cntl, i));

    Ve_BodyCntl failed;
    velm_test_fail_next("separate_body_shells", apiFailure());
    failed.createFromFaceData(viewsOf({looseFaces(testkit::make_sheet(1, 1))[0],
                                       looseFaces(testkit::make_sheet(1, 1))[0]}), true);
    velm_test_reset();
    ASSERT_EQ(failed.getCocoon()->getNumberOfBodies(), 1);
    EXPECT_NE(bodyAt(failed, 0)->lump()->shell()->next(), nullptr);
    api_del_entity(bodyAt(failed, 0));
}

TEST(BodySet, FacesOfAnotherShellAreNeitherMovedNorDuplicated)
{
    // One face of the sheet stays in the old shell; its loose neighbours must
    // not pull it over.
    BODY* sheet = testkit::make_sheet(3, 1);
    SHELL* old = sheet->lump()->shell();
    FACE* kept = old->face();
    std::vector<FACE*> given = looseFaces(sheet, 1);
    kept->set_next(nullptr);
    given.push_back(kept);
    Ve_BodyCntl cntl;
    cntl.createFromFaceData(viewsOf(given), false);

    EXPECT_EQ(kept->shell(), old);
    EXPECT_EQ(old->face(), kept);
    EXPECT_EQ(kept->next(), nullptr);
    BODY* body = bodyAt(cntl, 0);
    EXPECT_EQ(shellFaces(body->lump()->shell()), 2);
    EXPECT_EQ(body->lump()->shell()->next(), nullptr);
    // The two bodies share an edge: one body takes both lumps before deleting.
    LUMP* moved = body->lump();
    body->set_lump(nullptr);
    moved->set_body(sheet);
    sheet->lump()->set_next(moved);
    api_del_entity(body);
    api_del_entity(sheet);
}

// The new lump goes first; the lumps the body had follow it unchanged.
TEST(BodySet, NewLumpOnABodyWithLumpsGoesAtTheHead)
{
    const Owned body{testkit::make_two_lump_body()};
    LUMP* first = body->lump();
    LUMP* second = first->next();
    BODY* donor = testkit::make_sheet(1, 1);
    SHELL* shell = donor->lump()->shell();
    donor->lump()->set_shell(nullptr);
    api_del_entity(donor);
    LUMP* added = Ve_BodyCntl::newLump(body, shell);
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(body->lump(), added);
    EXPECT_EQ(added->next(), first);
    EXPECT_EQ(first->next(), second);
    EXPECT_EQ(shell->lump(), added);
    EXPECT_EQ(as<Ve_BodyTag>(body)->getNumberOfLumps(), 3);
    EXPECT_EQ(testkit::model_problems(body), "");
}

TEST(BodySet, EmptyOrTakenFacesBuildNothing)
{
    const Owned box{testkit::make_box()};
    QELXDynamicArray<Ve_FaceTag*> faces = viewsOf({firstFace(box)});
    faces.Add(nullptr);
    Ve_BodyCntl cntl;
    const long before = velm_live_entity_count();
    cntl.createFromFaceData(faces, false);
    cntl.createFromFaceData(QELXDynamicArray<Ve_FaceTag*>(), true);
    EXPECT_EQ(cntl.getCocoon()->getNumberOfBodies(), 0);
    EXPECT_EQ(velm_live_entity_count(), before);
}

namespace {

// A set that reports its own end.
class WatchedCocoon : public Ve_CocoonTag {
public:
    explicit WatchedCocoon(bool& gone) : m_gone(gone) {}
    ~WatchedCocoon() override { m_gone = true; }

private:
    bool& m_gone;
};

} // namespace

TEST(BodySet, BodiesKeepTheirOrderAndTheLastHandleDeletesTheSet)
{
    const Owned b1{testkit::make_box()}, b2{testkit::make_box()};
    bool gone = false;
    auto* cocoon = new WatchedCocoon(gone);
    {
        Ve_CocoonTagHandle first(cocoon);
        {
            Ve_BodyCntl cntl(first);
            Ve_BodyCntl other = cntl;
            EXPECT_EQ(cntl.getCocoon(), first);
            Ve_WireBodyCntl wire(cocoon, nullptr);
            EXPECT_EQ(cocoon->GetReferenceCount(), 4);
            EXPECT_EQ(wire.getBody(), nullptr);
            cocoon->appendBody(as<Ve_BodyTag>(b1));
            EXPECT_EQ(wire.getBody(), as<Ve_BodyTag>(b1)); // the first of the set
            QELXDynamicArray<Ve_BodyTag*> more;
            more.Add(as<Ve_BodyTag>(b2));
            more.Add(nullptr);
            cocoon->appendBodies(more);
            QELXDynamicArray<Ve_BodyTag*> got = cocoon->getBodies();
            EXPECT_EQ(seqOf(got), (Seq{b1, b2, nullptr}));
            got.Clear(); // the returned array is a copy
            EXPECT_EQ(cocoon->getNumberOfBodies(), 3);
            cocoon->setBodies(more);
            EXPECT_EQ(seqOf(cocoon->getBodies()), (Seq{b2, nullptr}));
        }
        EXPECT_EQ(cocoon->GetReferenceCount(), 1);
        EXPECT_FALSE(gone);
    }
    EXPECT_TRUE(gone);
}

TEST(BodySet, ConnectWireReachesEveryCoedgeWithoutWire)
{
    BODY* body = testkit::make_wire_body(5);
    WIRE* w = body->wire();
    std::vector<COEDGE*> coedges = wire_coedges(w);
    ASSERT_EQ(coedges.size(), 5u);
    for (COEDGE* c : coedges)
        c->set_wire(nullptr);
    // From the middle: backwards to the start and forwards to the end.
    Ve_WireBodyCntl builder(new Ve_CocoonTag, nullptr);
    builder.connectWire(w, coedges[2]);
    for (COEDGE* c : coedges)
        EXPECT_EQ(c->wire(), w);

    // A coedge that has a wire ends the walk: neither it nor what lies beyond it is taken.
    BODY* other = testkit::make_wire_body(1);
    for (COEDGE* c : coedges)
        c->set_wire(nullptr);
    coedges[1]->set_wire(other->wire());
    builder.connectWire(w, coedges[3]);
    EXPECT_EQ(coedges[0]->wire(), nullptr);
    EXPECT_EQ(coedges[1]->wire(), other->wire());
    for (int i = 2; i < 5; ++i)
        EXPECT_EQ(coedges[i]->wire(), w) << i;
    for (COEDGE* c : coedges)
        c->set_wire(w);
    api_del_entity(other);
    api_del_entity(body);
}
