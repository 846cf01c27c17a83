// Part, assembly and formation views, and the working coordinate system view.
#include <gtest/gtest.h>

#include <cstring>

#include "model/entity_views.hxx"
#include "persist/ve_assem_delete_mgr.hxx"
#include "persist/ve_assembly.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "support/model_builders.hxx"

namespace {

template <class View, class Kernel>
View* as(Kernel* e)
{
    return reinterpret_cast<View*>(e);
}

VE_ASSEMBLY* newAssembly()
{
    return new VE_ASSEMBLY(nullptr, nullptr, QELtransf());
}

void place(VE_ASSEMBLY* in, VE_ASSEMBLY* sub)
{
    in->appendFormation(new VE_FORMATION(sub, QELtransf()));
}

void deleteTree(VE_ASSEMBLY* root)
{
    Ve_AssemDeleteMgr manager(root);
    manager.loseAssem();
}

TEST(AssemblyView, PlacementsAndSubReferencesByIndex)
{
    BODY* b1 = testkit::make_box();
    BODY* b2 = testkit::make_box();
    VE_ASSEMBLY* sub = newAssembly();
    VE_ASSEMBLY* a = new VE_ASSEMBLY(nullptr, nullptr, translate_transf(QELvector(0, 0, 5)));
    a->appendPart(new VE_PART(b1, translate_transf(QELvector(1, 2, 3))));
    a->appendPart(new VE_PART(b2, QELtransf()));
    place(a, sub);

    Ve_AssemblyTag* view = as<Ve_AssemblyTag>(a);
    ASSERT_EQ(view->getNumberOfPlacements(), 2);
    EXPECT_EQ(view->getPlacement(0)->getSolid(), as<Ve_BodyTag>(b1));
    EXPECT_EQ(view->getPlacement(1)->getSolid(), as<Ve_BodyTag>(b2));
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
}

TEST(AssemblyView, NoListsCountAsEmpty)
{
    VE_ASSEMBLY* a = newAssembly();
    Ve_AssemblyTag* view = as<Ve_AssemblyTag>(a);
    EXPECT_EQ(view->getNumberOfPlacements(), 0);
    EXPECT_EQ(view->getPlacement(0), nullptr);
    EXPECT_EQ(view->getNumberOfSubReferences(), 0);
    QELXDynamicArray<Ve_BodyTag*> bodies;
    view->fetchReferredBodies(bodies);
    EXPECT_EQ(bodies.Count(), 0);
    auto* bare = new VE_PART();
    EXPECT_TRUE(as<Ve_PartTag>(bare)->getMorph().IsIdentity());
    EXPECT_EQ(as<Ve_PartTag>(bare)->getSolid(), nullptr);
    bare->ENTITY::lose();
    deleteTree(a);
}

TEST(AssemblyView, ReferredAssembliesAndBodiesOnceEach)
{
    BODY* b1 = testkit::make_box();
    BODY* b2 = testkit::make_box();
    VE_ASSEMBLY* a = newAssembly();
    VE_ASSEMBLY* b = newAssembly();
    VE_ASSEMBLY* c = newAssembly();
    place(a, b);
    place(a, c);
    place(b, c);
    a->appendPart(new VE_PART(b1, QELtransf()));
    b->appendPart(new VE_PART(b2, QELtransf()));
    c->appendPart(new VE_PART(b1, QELtransf()));

    QELXDynamicArray<Ve_AssemblyTag*> below;
    as<Ve_AssemblyTag>(a)->fetchReferredCmpnts(below);
    ASSERT_EQ(below.Count(), 2);
    EXPECT_EQ(below[0], as<Ve_AssemblyTag>(b));
    EXPECT_EQ(below[1], as<Ve_AssemblyTag>(c));

    QELXDynamicArray<Ve_BodyTag*> bodies;
    as<Ve_AssemblyTag>(a)->fetchReferredBodies(bodies);
    ASSERT_EQ(bodies.Count(), 2);
    EXPECT_EQ(bodies[0], as<Ve_BodyTag>(b1));
    EXPECT_EQ(bodies[1], as<Ve_BodyTag>(b2));
    deleteTree(a);
}

TEST(AssemblyView, CyclicFormationsEnd)
{
    BODY* b1 = testkit::make_box();
    BODY* b2 = testkit::make_box();
    VE_ASSEMBLY* a = newAssembly();
    VE_ASSEMBLY* b = newAssembly();
    a->appendPart(new VE_PART(b1, QELtransf()));
    b->appendPart(new VE_PART(b2, QELtransf()));
    place(a, b);
    place(b, a);

    QELXDynamicArray<Ve_BodyTag*> bodies;
    as<Ve_AssemblyTag>(a)->fetchReferredBodies(bodies);
    ASSERT_EQ(bodies.Count(), 2);
    EXPECT_EQ(bodies[0], as<Ve_BodyTag>(b1));
    EXPECT_EQ(bodies[1], as<Ve_BodyTag>(b2));
    QELXDynamicArray<Ve_AssemblyTag*> below;
    as<Ve_AssemblyTag>(a)->fetchReferredCmpnts(below);
    EXPECT_EQ(below.Count(), 2);

    deleteTree(a);
}

TEST(WcsView, ActiveStateAndMorph)
{
    auto* wcs = new WCS(translate_transf(QELvector(0, 7, 0)));
    QELXVeWCS* view = as<QELXVeWCS>(wcs);
    bool active = true;
    EXPECT_EQ(view->GetActiveState(active), QELI_OK);
    EXPECT_FALSE(active);
    EXPECT_EQ(view->SetActiveState(true), QELI_OK);
    EXPECT_EQ(view->GetActiveState(active), QELI_OK);
    EXPECT_TRUE(active);
    QELXMorph3D morph;
    EXPECT_EQ(view->GetMorph(morph), QELI_OK);
    EXPECT_DOUBLE_EQ(morph.GetTranslation().y(), 7.0);
    view->SetActiveState(false);
    api_del_entity(wcs);
}

} // namespace
