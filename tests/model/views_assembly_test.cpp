// Part, assembly and formation views.
#include <gtest/gtest.h>

#include "model_test_support.hxx"
#include "persist/ve_assem_delete_mgr.hxx"
#include "persist/ve_assembly.hxx"

namespace {

VE_ASSEMBLY* newAssembly(const QELtransf& t = QELtransf()) { return new VE_ASSEMBLY(nullptr, nullptr, t); }
void place(VE_ASSEMBLY* in, VE_ASSEMBLY* sub) { in->appendFormation(new VE_FORMATION(sub, QELtransf())); }
void addPart(VE_ASSEMBLY* in, BODY* b, const QELtransf& t = QELtransf()) { in->appendPart(new VE_PART(b, t)); }

void deleteTree(VE_ASSEMBLY* root)
{
    Ve_AssemDeleteMgr manager(root);
    manager.loseAssem();
}

template <class T>
void expectList(const QELXDynamicArray<T*>& got, std::initializer_list<T*> expected)
{
    ASSERT_EQ(got.Count(), static_cast<int>(expected.size()));
    int i = 0;
    for (T* e : expected)
        EXPECT_EQ(got[i++], e) << i;
}

} // namespace

TEST(AssemblyView, PlacementsAndSubReferencesByIndex)
{
    BODY* b1 = testkit::make_box();
    VE_ASSEMBLY* sub = newAssembly();
    VE_ASSEMBLY* a = newAssembly(translate_transf(QELvector(0, 0, 5)));
    Ve_AssemblyTag* view = as<Ve_AssemblyTag>(a);
    EXPECT_EQ(view->getNumberOfPlacements(), 0); // no lists count as empty
    EXPECT_EQ(view->getPlacement(0), nullptr);
    EXPECT_EQ(view->getNumberOfSubReferences(), 0);
    addPart(a, b1, translate_transf(QELvector(1, 2, 3)));
    addPart(a, testkit::make_box());
    place(a, sub);

    ASSERT_EQ(view->getNumberOfPlacements(), 2);
    EXPECT_EQ(view->getPlacement(0)->getSolid(), as<Ve_BodyTag>(b1));
    EXPECT_EQ(view->getPlacement(2), nullptr);
    EXPECT_EQ(view->getPlacement(-1), nullptr);
    ASSERT_EQ(view->getNumberOfSubReferences(), 1);
    Ve_FormationTag* f = view->getSubReference(0);
    ASSERT_NE(f, nullptr);
    EXPECT_STREQ(as<ENTITY>(f)->type_name(), "ve_formation");
    EXPECT_EQ(f->getDefinition(), as<Ve_AssemblyTag>(sub));
    EXPECT_EQ(view->getSubReference(1), nullptr);

    const QELXMorph3D partMorph = view->getPlacement(0)->getMorph();
    EXPECT_DOUBLE_EQ(partMorph.GetTranslation().x(), 1.0);
    EXPECT_DOUBLE_EQ(partMorph.GetTranslation().z(), 3.0);
    EXPECT_TRUE(view->getPlacement(1)->getMorph().IsIdentity());
    EXPECT_DOUBLE_EQ(view->getMorph().GetTranslation().z(), 5.0);
    EXPECT_TRUE(f->getMorph().IsIdentity());
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
    VE_ASSEMBLY* a = newAssembly();
    VE_ASSEMBLY* b = newAssembly();
    VE_ASSEMBLY* c = newAssembly();
    QELXDynamicArray<Ve_BodyTag*> bodies;
    as<Ve_AssemblyTag>(a)->fetchReferredBodies(bodies);
    EXPECT_EQ(bodies.Count(), 0);
    place(a, b);
    place(a, c);
    place(b, c);
    addPart(a, b1);
    addPart(b, b2);
    addPart(c, b1);
    QELXDynamicArray<Ve_AssemblyTag*> below;
    as<Ve_AssemblyTag>(a)->fetchReferredCmpnts(below);
    expectList(below, {as<Ve_AssemblyTag>(b), as<Ve_AssemblyTag>(c)});
    as<Ve_AssemblyTag>(a)->fetchReferredBodies(bodies);
    expectList(bodies, {as<Ve_BodyTag>(b1), as<Ve_BodyTag>(b2)});
    deleteTree(a);

    // Two assemblies placing each other: the walks end.
    BODY* b3 = testkit::make_box();
    BODY* b4 = testkit::make_box();
    VE_ASSEMBLY* d = newAssembly();
    VE_ASSEMBLY* e = newAssembly();
    addPart(d, b3);
    addPart(e, b4);
    place(d, e);
    place(e, d);
    bodies.Clear();
    as<Ve_AssemblyTag>(d)->fetchReferredBodies(bodies);
    expectList(bodies, {as<Ve_BodyTag>(b3), as<Ve_BodyTag>(b4)});
    below.Clear();
    as<Ve_AssemblyTag>(d)->fetchReferredCmpnts(below);
    EXPECT_EQ(below.Count(), 2);
    deleteTree(d);
}
