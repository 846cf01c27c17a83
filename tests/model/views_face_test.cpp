// Lump, shell and face views.
#include <gtest/gtest.h>

#include "model_test_support.hxx"

using ShellView = CachesCleared;

TEST(LumpView, ShellsInChainOrder)
{
    const Owned box{testkit::make_box()};
    LUMP* lump = box->lump();
    SHELL* first = lump->shell();
    auto* second = new SHELL(nullptr);
    first->set_next(second);
    second->set_lump(lump);
    Ve_LumpTag* l = as<Ve_LumpTag>(lump);
    expectIndexed(l, &Ve_LumpTag::getNumberOfShells, &Ve_LumpTag::getShellAt, &Ve_LumpTag::getShells, {first, second});
    EXPECT_EQ(as<Ve_ShellTag>(first)->getNext(), as<Ve_ShellTag>(second));
    EXPECT_EQ(as<Ve_ShellTag>(second)->getLump(), l);
}

TEST_F(ShellView, FacesFromTheChainOrAsCached)
{
    const Owned sheet{testkit::make_sheet(3, 2)}, extraBody{testkit::make_sheet(1, 1)};
    SHELL* shell = sheet->lump()->shell();
    Ve_ShellTag* s = as<Ve_ShellTag>(shell);
    Seq chain;
    for (FACE* f = shell->face(); f; f = f->next())
        chain.push_back(f);
    expectIndexed(s, &Ve_ShellTag::getNumberOfFaces, &Ve_ShellTag::getFaceAt, nullptr, chain);
    EXPECT_EQ(s->getEdges().Count(), testkit::count_edges(shell));

    Ve_DocumentTag::FillCache(as<Ve_BodyTag>(sheet));
    // A face added to the kernel shell after filling is not seen: the cache
    // shows the shell as it was.
    FACE* extra = firstFace(extraBody);
    extra->shell()->set_face(nullptr);
    extra->set_shell(shell);
    extra->set_next(shell->face());
    shell->set_face(extra);
    expectIndexed(s, &Ve_ShellTag::getNumberOfFaces, &Ve_ShellTag::getFaceAt, nullptr, chain);
    Ve_DocumentTag::RemoveFromCache(as<Ve_BodyTag>(sheet));
    chain.insert(chain.begin(), extra);
    expectIndexed(s, &Ve_ShellTag::getNumberOfFaces, &Ve_ShellTag::getFaceAt, nullptr, chain);
}

TEST(FaceView, EdgesSenseAndLoopsInChainOrderWithAnAddedLoopFirst)
{
    const Owned box{testkit::make_box()};
    FACE* face = firstFace(box)->next();
    Ve_FaceTag* f = as<Ve_FaceTag>(face);
    ENTITY_LIST kernel;
    api_get_edges(face, kernel);
    expectIndexed(f, &Ve_FaceTag::getNumberOfEdges, &Ve_FaceTag::getEdgeAt, &Ve_FaceTag::getEdges, seqOf(kernel));
    EXPECT_EQ(f->getShell(), as<Ve_ShellTag>(box->lump()->shell()));
    EXPECT_TRUE(f->isForward());
    face->set_sense(REVERSED);
    EXPECT_FALSE(f->isForward());

    LOOP* l1 = face->loop();
    auto* l2 = new LOOP(nullptr);
    l1->set_next(l2);
    l2->set_face(face);
    auto* added = new LOOP(nullptr);
    added->set_face(face);
    EXPECT_TRUE(f->addLoop(as<Ve_LoopTag>(added)));
    EXPECT_TRUE(f->addLoop(nullptr));
    expectIndexed(f, &Ve_FaceTag::getNumberOfLoops, &Ve_FaceTag::getLoopAt, &Ve_FaceTag::getLoops, {added, l1, l2});
    // Only the first loop has coedges.
    const QELXDynamicArray<Ve_CoedgeTag*> coedges = f->getCoedges();
    ASSERT_EQ(coedges.Count(), 4);
    EXPECT_EQ(as<COEDGE>(coedges[0]), l1->start());
    EXPECT_FALSE(f->isTrimFace());
}

TEST(FaceView, MakeSingleSidedReportsTheKernelResult)
{
    const Owned box{testkit::make_box()};
    FACE* face = firstFace(box);
    face->set_sides(1);
    EXPECT_TRUE(as<Ve_FaceTag>(face)->makeSingleSided());
    EXPECT_EQ(face->sides(), 0);
    // The backup of the face inside the bracket runs out of memory: the
    // change is taken back and the answer says so.
    face->set_sides(1);
    velm_test_fail_alloc("topology", 1);
    EXPECT_FALSE(as<Ve_FaceTag>(face)->makeSingleSided());
    velm_test_reset();
    EXPECT_EQ(face->sides(), 1);
}
