// Part, assembly and formation views.
#include <gtest/gtest.h>

#include "model_test_support.hxx"
#include "persist/ve_assem_delete_mgr.hxx"
#include "persist/ve_assembly.hxx"

namespace {

// An assembly of the given parts (the bodies are taken over) placing the given assemblies.
VE_ASSEMBLY* assembly(std::initializer_list<BODY*> parts, std::initializer_list<VE_ASSEMBLY*> subs = {},
                      const QELtransf& t = QELtransf())
{
    auto* a = new VE_ASSEMBLY(nullptr, nullptr, t);
    for (BODY* b : parts)
        a->appendPart(new VE_PART(b, QELtransf()));
    for (VE_ASSEMBLY* s : subs)
        a->appendFormation(new VE_FORMATION(s, QELtransf()));
    return a;
}

void deleteTree(VE_ASSEMBLY* root)
{
    Ve_AssemDeleteMgr manager(root);
    manager.loseAssem();
}

Seq referredBodies(VE_ASSEMBLY* a)
{
    QELXDynamicArray<Ve_BodyTag*> bodies;
    as<Ve_AssemblyTag>(a)->fetchReferredBodies(bodies);
    return seqOf(bodies);
}

Seq referredAssemblies(VE_ASSEMBLY* a)
{
    QELXDynamicArray<Ve_AssemblyTag*> below;
    as<Ve_AssemblyTag>(a)->fetchReferredCmpnts(below);
    return seqOf(below);
}

} // namespace

TEST(AssemblyView, PlacementsAndSubReferencesByIndexWithTheirMorphs)
{
    VE_ASSEMBLY* sub = assembly({});
    VE_ASSEMBLY* a = assembly({}, {}, translate_transf(QELvector(0, 0, 5)));
    Ve_AssemblyTag* view = as<Ve_AssemblyTag>(a);
    EXPECT_EQ(view->getNumberOfPlacements(), 0); // no lists count as empty
    EXPECT_EQ(view->getPlacement(0), nullptr);
    EXPECT_EQ(view->getNumberOfSubReferences(), 0);
    EXPECT_EQ(referredBodies(a), Seq{});
    BODY* b1 = testkit::make_box();
    a->appendPart(new VE_PART(b1, translate_transf(QELvector(1, 2, 3))));
    a->appendPart(new VE_PART(testkit::make_box(), QELtransf()));
    a->appendFormation(new VE_FORMATION(sub, QELtransf()));
    ASSERT_EQ(view->getNumberOfPlacements(), 2);
    EXPECT_EQ(view->getPlacement(0)->getSolid(), as<Ve_BodyTag>(b1));
    EXPECT_EQ(view->getPlacement(2), nullptr);
    EXPECT_EQ(view->getPlacement(-1), nullptr);
    ASSERT_EQ(view->getNumberOfSubReferences(), 1);
    ASSERT_NE(view->getSubReference(0), nullptr);
    EXPECT_EQ(view->getSubReference(0)->getDefinition(), as<Ve_AssemblyTag>(sub));
    EXPECT_EQ(view->getSubReference(1), nullptr);
    EXPECT_DOUBLE_EQ(view->getPlacement(0)->getMorph().GetTranslation().y(), 2.0);
    EXPECT_TRUE(view->getPlacement(1)->getMorph().IsIdentity());
    EXPECT_DOUBLE_EQ(view->getMorph().GetTranslation().z(), 5.0);
    deleteTree(a);

    auto* bare = new VE_PART();
    EXPECT_TRUE(as<Ve_PartTag>(bare)->getMorph().IsIdentity());
    EXPECT_EQ(as<Ve_PartTag>(bare)->getSolid(), nullptr);
    bare->ENTITY::lose();
}

TEST(AssemblyView, ReferredAssembliesAndBodiesOnceEachEvenInCycles)
{
    BODY* b1 = testkit::make_box();
    BODY* b2 = testkit::make_box();
    VE_ASSEMBLY* c = assembly({b1});
    VE_ASSEMBLY* b = assembly({b2}, {c});
    VE_ASSEMBLY* a = assembly({b1}, {b, c});
    EXPECT_EQ(referredAssemblies(a), (Seq{b, c}));
    EXPECT_EQ(referredBodies(a), (Seq{b1, b2}));
    deleteTree(a);

    // Two assemblies placing each other: the walks end.
    BODY* b3 = testkit::make_box();
    BODY* b4 = testkit::make_box();
    VE_ASSEMBLY* e = assembly({b4});
    VE_ASSEMBLY* d = assembly({b3}, {e});
    e->appendFormation(new VE_FORMATION(d, QELtransf()));
    EXPECT_EQ(referredBodies(d), (Seq{b3, b4}));
    EXPECT_EQ(referredAssemblies(d).size(), 2u);
    deleteTree(d);
}
