// Lump, shell and face views.
#include <gtest/gtest.h>

#include "model/document.hxx"
#include "model/entity_views.hxx"
#include "qelx/qelx_errors.hxx"
#include "support/model_builders.hxx"
#include "velm/testkit.hxx"

namespace {

template <class View, class Kernel>
View* as(Kernel* e)
{
    return reinterpret_cast<View*>(e);
}

TEST(LumpView, ShellsInChainOrder)
{
    BODY* box = testkit::make_box();
    LUMP* lump = box->lump();
    SHELL* first = lump->shell();
    auto* second = new SHELL(nullptr);
    first->set_next(second);
    second->set_lump(lump);

    Ve_LumpTag* l = as<Ve_LumpTag>(lump);
    EXPECT_EQ(l->getNumberOfShells(), 2);
    EXPECT_EQ(as<SHELL>(l->getShellAt(0)), first);
    EXPECT_EQ(as<SHELL>(l->getShellAt(1)), second);
    EXPECT_EQ(l->getShellAt(2), nullptr);
    EXPECT_EQ(l->getShellAt(-1), nullptr);
    const QELXDynamicArray<Ve_ShellTag*> shells = l->getShells();
    ASSERT_EQ(shells.Count(), 2);
    EXPECT_EQ(shells[1], as<Ve_ShellTag>(second));
    EXPECT_EQ(as<Ve_ShellTag>(first)->getNext(), as<Ve_ShellTag>(second));
    EXPECT_EQ(as<Ve_ShellTag>(second)->getLump(), l);
    api_del_entity(box);
}

TEST(ShellView, FacesFromChainOrCache)
{
    Ve_DocumentTag::ClearCaches();
    BODY* sheet = testkit::make_sheet(3, 2);
    SHELL* shell = sheet->lump()->shell();
    Ve_ShellTag* s = as<Ve_ShellTag>(shell);
    ASSERT_EQ(s->getNumberOfFaces(), 6);
    EXPECT_EQ(as<FACE>(s->getFaceAt(0)), shell->face());
    EXPECT_EQ(as<FACE>(s->getFaceAt(1)), shell->face()->next());
    EXPECT_EQ(s->getFaceAt(6), nullptr);
    EXPECT_EQ(s->getFaceAt(-1), nullptr);
    EXPECT_EQ(s->getFace(), as<Ve_FaceTag>(shell->face()));
    EXPECT_EQ(s->getEdges().Count(), testkit::count_edges(shell));

    Ve_DocumentTag::FillCache(as<Ve_BodyTag>(sheet));
    // A face added to the kernel shell after filling is not seen: the cache
    // shows the shell as it was.
    BODY* extraBody = testkit::make_sheet(1, 1);
    FACE* extra = extraBody->lump()->shell()->face();
    SHELL* extraShell = extra->shell();
    extraShell->set_face(nullptr);
    extra->set_shell(shell);
    extra->set_next(shell->face());
    shell->set_face(extra);
    EXPECT_EQ(s->getNumberOfFaces(), 6);
    EXPECT_NE(as<FACE>(s->getFaceAt(0)), extra);
    Ve_DocumentTag::RemoveFromCache(as<Ve_BodyTag>(sheet));
    EXPECT_EQ(s->getNumberOfFaces(), 7);
    EXPECT_EQ(as<FACE>(s->getFaceAt(0)), extra);
    api_del_entity(sheet);
    api_del_entity(extraBody);
    Ve_DocumentTag::ClearCaches();
}

TEST(FaceView, LoopsInChainOrderAndAddLoopPutsTheNewOneFirst)
{
    BODY* box = testkit::make_box();
    FACE* face = box->lump()->shell()->face();
    LOOP* l1 = face->loop();
    auto* l2 = new LOOP(nullptr);
    l1->set_next(l2);
    l2->set_face(face);
    Ve_FaceTag* f = as<Ve_FaceTag>(face);

    auto* added = new LOOP(nullptr);
    added->set_face(face);
    EXPECT_TRUE(f->addLoop(as<Ve_LoopTag>(added)));
    EXPECT_TRUE(f->addLoop(nullptr));
    ASSERT_EQ(f->getNumberOfLoops(), 3);
    EXPECT_EQ(as<LOOP>(f->getLoopAt(0)), added);
    EXPECT_EQ(as<LOOP>(f->getLoopAt(1)), l1);
    EXPECT_EQ(as<LOOP>(f->getLoopAt(2)), l2);
    EXPECT_EQ(f->getLoopAt(3), nullptr);
    EXPECT_EQ(f->getLoopAt(-1), nullptr);

    const QELXDynamicArray<Ve_LoopTag*> loops = f->getLoops();
    const QELXDynamicArray<Ve_LoopTag*> trimLoops = f->getTrimLoops();
    ASSERT_EQ(trimLoops.Count(), loops.Count());
    for (int i = 0; i < loops.Count(); ++i)
        EXPECT_EQ(trimLoops[i], loops[i]);
    EXPECT_EQ(f->getNumberOfTrimLoops(), 3);
    EXPECT_EQ(f->getTrimLoopAt(1), loops[1]);
    // Only the first loop has coedges.
    const QELXDynamicArray<Ve_CoedgeTag*> coedges = f->getCoedges();
    ASSERT_EQ(coedges.Count(), 4);
    EXPECT_EQ(as<COEDGE>(coedges[0]), l1->start());
    EXPECT_FALSE(f->isTrimFace());
    EXPECT_EQ(f->getTrimCrvPref(), 1);
    api_del_entity(box);
}

TEST(FaceView, EdgesInKernelOrder)
{
    BODY* box = testkit::make_box();
    FACE* face = box->lump()->shell()->face()->next();
    ENTITY_LIST kernel;
    api_get_edges(face, kernel);
    Ve_FaceTag* f = as<Ve_FaceTag>(face);
    ASSERT_EQ(f->getNumberOfEdges(), 4);
    const QELXDynamicArray<Ve_EdgeTag*> edges = f->getEdges();
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(as<ENTITY>(f->getEdgeAt(i)), kernel[i]);
        EXPECT_EQ(as<ENTITY>(edges[i]), kernel[i]);
    }
    EXPECT_EQ(f->getEdgeAt(4), nullptr);
    EXPECT_EQ(f->getEdgeAt(-1), nullptr);
    EXPECT_EQ(f->getShell(), as<Ve_ShellTag>(box->lump()->shell()));
    api_del_entity(box);
}

TEST(FaceView, SenseAndSurface)
{
    BODY* box = testkit::make_box();
    FACE* face = box->lump()->shell()->face();
    Ve_FaceTag* f = as<Ve_FaceTag>(face);
    EXPECT_TRUE(f->isForward());
    EXPECT_EQ(as<SURFACE>(f->getSurface()), face->geometry());
    face->set_sense(REVERSED);
    EXPECT_FALSE(f->isForward());
    api_del_entity(box);
}

TEST(FaceView, MakeSingleSidedReportsTheKernelResult)
{
    BODY* box = testkit::make_box();
    FACE* face = box->lump()->shell()->face();
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
    api_del_entity(box);
}

TEST(FaceView, DistanceWithoutSurfaceIsNoDistance)
{
    BODY* box = testkit::make_box();
    FACE* face = box->lump()->shell()->face();
    QELXPoint2D foot(7.0, 8.0);
    // The kit's faces carry bare surfaces: nothing to project on.
    EXPECT_EQ(as<Ve_FaceTag>(face)->getDistance(QELXPoint3D(1, 1, 1), nullptr, &foot), Ve_FaceTag::NoDistance);
    face->set_geometry(nullptr);
    EXPECT_EQ(as<Ve_FaceTag>(face)->getDistance(QELXPoint3D(1, 1, 1), nullptr, &foot), Ve_FaceTag::NoDistance);
    EXPECT_EQ(foot.u(), 7.0);
    EXPECT_EQ(foot.v(), 8.0);
    api_del_entity(box);
}

} // namespace
