// Body sets and building bodies from loose faces.
#include <gtest/gtest.h>

#include <vector>

#include "model/body_set.hxx"
#include "support/model_builders.hxx"
#include "velm/memory.hxx"
#include "velm/testkit.hxx"

namespace {

template <class View, class Kernel>
View* as(Kernel* e)
{
    return reinterpret_cast<View*>(e);
}

// The faces of a fresh sheet taken out of their shell: loose faces that keep
// their edges, vertices and partner rings. The emptied sheet is deleted.
std::vector<FACE*> looseFaces(BODY* sheet)
{
    std::vector<FACE*> faces;
    SHELL* shell = sheet->lump()->shell();
    for (FACE* f = shell->face(); f;) {
        FACE* next = f->next();
        f->set_next(nullptr);
        f->set_shell(nullptr);
        faces.push_back(f);
        f = next;
    }
    shell->set_face(nullptr);
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

BODY* kernelBody(Ve_BodyTag* b)
{
    return reinterpret_cast<BODY*>(b);
}

int shellFaces(const SHELL* s)
{
    int n = 0;
    for (const FACE* f = s->face(); f; f = f->next())
        ++n;
    return n;
}

TEST(BodySet, LooseSheetBecomesOneConnectedBody)
{
    std::vector<FACE*> faces = looseFaces(testkit::make_sheet(3, 3));
    Ve_BodyCntl cntl;
    cntl.createFromFaceData(viewsOf(faces), false);

    const QELXDynamicArray<Ve_BodyTag*> bodies = cntl.getCocoon()->getBodies();
    ASSERT_EQ(bodies.Count(), 1);
    BODY* body = kernelBody(bodies[0]);
    ASSERT_NE(body->lump(), nullptr);
    EXPECT_EQ(body->lump()->next(), nullptr);
    SHELL* shell = body->lump()->shell();
    ASSERT_NE(shell, nullptr);
    EXPECT_EQ(shell->next(), nullptr);
    EXPECT_EQ(shellFaces(shell), 9);
    EXPECT_EQ(shell->face(), faces[0]);
    EXPECT_EQ(testkit::model_problems(body), "");
    api_del_entity(body);
}

TEST(BodySet, ConnectedAndApartFacesGiveTwoShells)
{
    std::vector<FACE*> pair = looseFaces(testkit::make_sheet(2, 1));
    std::vector<FACE*> apart = looseFaces(testkit::make_sheet(1, 1));
    // The lone face first: shells come in the order of their first faces.
    std::vector<FACE*> all = {apart[0], pair[0], pair[1]};
    Ve_BodyCntl cntl;
    cntl.createFromFaceData(viewsOf(all), false);

    ASSERT_EQ(cntl.getCocoon()->getNumberOfBodies(), 1);
    BODY* body = kernelBody(cntl.getCocoon()->getBodies()[0]);
    SHELL* first = body->lump()->shell();
    ASSERT_NE(first->next(), nullptr);
    EXPECT_EQ(first->next()->next(), nullptr);
    EXPECT_EQ(shellFaces(first), 1);
    EXPECT_EQ(shellFaces(first->next()), 2);
    EXPECT_EQ(first->lump(), body->lump());
    EXPECT_EQ(first->next()->lump(), body->lump());
    EXPECT_EQ(testkit::model_problems(body), "");
    api_del_entity(body);
}

TEST(BodySet, SeparateKeepsEveryBody)
{
    std::vector<FACE*> first = looseFaces(testkit::make_sheet(2, 2));
    std::vector<FACE*> second = looseFaces(testkit::make_sheet(1, 3));
    std::vector<FACE*> all = first;
    all.insert(all.end(), second.begin(), second.end());
    Ve_BodyCntl cntl;
    BODY* earlier = testkit::make_box();
    cntl.getCocoon()->appendBody(as<Ve_BodyTag>(earlier));
    cntl.createFromFaceData(viewsOf(all), true);

    // The earlier body stays; the two groups come out as two bodies.
    const QELXDynamicArray<Ve_BodyTag*> bodies = cntl.getCocoon()->getBodies();
    ASSERT_EQ(bodies.Count(), 3);
    EXPECT_EQ(kernelBody(bodies[0]), earlier);
    int faces = 0;
    for (int i = 1; i < 3; ++i) {
        BODY* b = kernelBody(bodies[i]);
        ASSERT_NE(b->lump(), nullptr);
        EXPECT_EQ(b->lump()->next(), nullptr);
        EXPECT_EQ(b->lump()->shell()->next(), nullptr);
        faces += shellFaces(b->lump()->shell());
        EXPECT_EQ(testkit::model_problems(b), "");
    }
    EXPECT_EQ(faces, 7);
    EXPECT_EQ(shellFaces(kernelBody(bodies[1])->lump()->shell()), 4);
    for (Ve_BodyTag* b : bodies)
        api_del_entity(kernelBody(b));
}

TEST(BodySet, FailedSeparationKeepsTheBodyAsBuilt)
{
    std::vector<FACE*> first = looseFaces(testkit::make_sheet(1, 1));
    std::vector<FACE*> second = looseFaces(testkit::make_sheet(1, 1));
    Ve_BodyCntl cntl;
    velm_test_fail_next("separate_body_shells", qelvelm_api_errmod.message_code(VELM_API_FAILED));
    cntl.createFromFaceData(viewsOf({first[0], second[0]}), true);
    velm_test_reset();
    ASSERT_EQ(cntl.getCocoon()->getNumberOfBodies(), 1);
    BODY* body = kernelBody(cntl.getCocoon()->getBodies()[0]);
    EXPECT_NE(body->lump()->shell()->next(), nullptr);
    api_del_entity(body);
}

TEST(BodySet, FacesOfAnotherShellAreNeitherMovedNorDuplicated)
{
    // One face of the sheet stays in the old shell; its loose neighbours must
    // not pull it over.
    BODY* sheet = testkit::make_sheet(3, 1);
    SHELL* old = sheet->lump()->shell();
    FACE* kept = old->face();
    std::vector<FACE*> loose;
    for (FACE* f = kept->next(); f;) {
        FACE* next = f->next();
        f->set_next(nullptr);
        f->set_shell(nullptr);
        loose.push_back(f);
        f = next;
    }
    kept->set_next(nullptr);
    std::vector<FACE*> given = loose;
    given.push_back(kept);
    Ve_BodyCntl cntl;
    cntl.createFromFaceData(viewsOf(given), false);

    EXPECT_EQ(kept->shell(), old);
    EXPECT_EQ(old->face(), kept);
    EXPECT_EQ(kept->next(), nullptr);
    BODY* body = kernelBody(cntl.getCocoon()->getBodies()[0]);
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

TEST(BodySet, EmptyOrTakenFacesBuildNothing)
{
    BODY* box = testkit::make_box();
    std::vector<FACE*> taken = {box->lump()->shell()->face()};
    QELXDynamicArray<Ve_FaceTag*> faces = viewsOf(taken);
    faces.Add(nullptr);
    Ve_BodyCntl cntl;
    const long before = velm_live_entity_count();
    cntl.createFromFaceData(faces, false);
    cntl.createFromFaceData(QELXDynamicArray<Ve_FaceTag*>(), true);
    EXPECT_EQ(cntl.getCocoon()->getNumberOfBodies(), 0);
    EXPECT_EQ(velm_live_entity_count(), before);
    api_del_entity(box);
}

TEST(BodySet, BodiesAppendInOrder)
{
    auto* cocoon = new Ve_CocoonTag;
    Ve_CocoonTagHandle handle(cocoon);
    BODY* b1 = testkit::make_box();
    BODY* b2 = testkit::make_box();
    cocoon->appendBody(as<Ve_BodyTag>(b1));
    QELXDynamicArray<Ve_BodyTag*> more;
    more.Add(as<Ve_BodyTag>(b2));
    more.Add(nullptr);
    cocoon->appendBodies(more);
    QELXDynamicArray<Ve_BodyTag*> got = cocoon->getBodies();
    ASSERT_EQ(got.Count(), 3);
    EXPECT_EQ(got[0], as<Ve_BodyTag>(b1));
    EXPECT_EQ(got[1], as<Ve_BodyTag>(b2));
    EXPECT_EQ(got[2], nullptr);
    // The returned array is a copy.
    got.Clear();
    EXPECT_EQ(cocoon->getNumberOfBodies(), 3);

    QELXDynamicArray<Ve_BodyTag*> only;
    only.Add(as<Ve_BodyTag>(b2));
    cocoon->setBodies(only);
    ASSERT_EQ(cocoon->getNumberOfBodies(), 1);
    EXPECT_EQ(cocoon->getBodies()[0], as<Ve_BodyTag>(b2));
    api_del_entity(b1);
    api_del_entity(b2);
}

// A set that reports its own end.
class WatchedCocoon : public Ve_CocoonTag {
public:
    explicit WatchedCocoon(bool& gone) : m_gone(gone) {}
    ~WatchedCocoon() override { m_gone = true; }

private:
    bool& m_gone;
};

TEST(BodySet, HandlesShareTheSetAndTheLastOneDeletesIt)
{
    bool gone = false;
    auto* cocoon = new WatchedCocoon(gone);
    {
        Ve_CocoonTagHandle first(cocoon);
        EXPECT_EQ(cocoon->GetReferenceCount(), 1);
        {
            Ve_BodyCntl cntl(first);
            EXPECT_EQ(cocoon->GetReferenceCount(), 2);
            Ve_CocoonTagHandle copy = cntl.getCocoon();
            EXPECT_EQ(copy, first);
            EXPECT_EQ(cocoon->GetReferenceCount(), 3);
            Ve_BodyCntl other = cntl;
            EXPECT_EQ(cocoon->GetReferenceCount(), 4);
            Ve_WireBodyCntl wire(cocoon, nullptr);
            EXPECT_EQ(cocoon->GetReferenceCount(), 5);
            EXPECT_EQ(wire.getBody(), nullptr);
        }
        EXPECT_EQ(cocoon->GetReferenceCount(), 1);
        EXPECT_FALSE(gone);
    }
    EXPECT_TRUE(gone);
    EXPECT_FALSE(Ve_CocoonTagHandle().IsValid());
    EXPECT_STREQ(Ve_CocoonTag().GetName(), "Ve_CocoonTag");
}

TEST(BodySet, WireBuilderBodyIsTheFirstOfTheSet)
{
    BODY* b1 = testkit::make_box();
    auto* cocoon = new Ve_CocoonTag;
    Ve_WireBodyCntl builder(cocoon, nullptr);
    cocoon->appendBody(as<Ve_BodyTag>(b1));
    EXPECT_EQ(builder.getBody(), as<Ve_BodyTag>(b1));
    EXPECT_EQ(builder.getCocoon().get(), cocoon);
    EXPECT_EQ(builder.getImportContext(), nullptr);
    api_del_entity(b1);
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

TEST(BodySet, LargeSheetFillsWithoutDeepRecursion)
{
    // A long strip: the depth-first fill reaches every face through one chain.
    std::vector<FACE*> faces = looseFaces(testkit::make_sheet(20000, 1));
    Ve_BodyCntl cntl;
    cntl.createFromFaceData(viewsOf(faces), false);
    ASSERT_EQ(cntl.getCocoon()->getNumberOfBodies(), 1);
    BODY* body = kernelBody(cntl.getCocoon()->getBodies()[0]);
    EXPECT_EQ(shellFaces(body->lump()->shell()), 20000);
    EXPECT_EQ(body->lump()->shell()->next(), nullptr);
    api_del_entity(body);
}

} // namespace
