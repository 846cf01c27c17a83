#include "persist/ve_assem_delete_mgr.hxx"
#include "persist_test_support.hxx"
#include "support/model_builders.hxx"

using namespace persist_test;

namespace {

VE_ASSEMBLY* assemblyOf(std::initializer_list<BODY*> bodies, std::initializer_list<VE_ASSEMBLY*> subs)
{
    auto* a = new VE_ASSEMBLY(nullptr, nullptr, QELtransf());
    for (BODY* b : bodies)
        a->appendPart(new VE_PART(b, translate_transf(QELvector(1, 0, 0))));
    for (VE_ASSEMBLY* s : subs)
        a->appendFormation(new VE_FORMATION(s, QELtransf()));
    return a;
}

}  // namespace

class AssemblyDeletion : public PersistTest {};

TEST_F(AssemblyDeletion, SharedSubAssembliesAreDeletedOnce)
{
    const long before = velm_live_entity_count();
    VE_ASSEMBLY* shared = assemblyOf({testkit::make_box(), nullptr}, {});
    VE_ASSEMBLY* middle = assemblyOf({testkit::make_box()}, {shared, shared});
    VE_ASSEMBLY* root = assemblyOf({}, {middle, shared});
    EXPECT_GT(velm_live_entity_count(), before);
    {
        Ve_AssemDeleteMgr manager(root);
        EXPECT_TRUE(manager.loseAssem());
        // 3 assemblies, 3 formations... each once: 3 + 4 formations + 3 parts + 2 bodies + 10 transforms.
        EXPECT_EQ(manager.recordedCount(), 3 + 4 + 3 + 2 + 10);
        // The lists went with the traversal.
        EXPECT_EQ(root->getFormationList(), nullptr);
        EXPECT_EQ(shared->getPartList(), nullptr);
        // Moving hands the ownership over; the moved-from manager deletes nothing.
        Ve_AssemDeleteMgr taken(std::move(manager));
        EXPECT_EQ(manager.recordedCount(), 0);
    }
    EXPECT_EQ(velm_live_entity_count(), before);
}

TEST_F(AssemblyDeletion, LeafNullAndUntraversedManagers)
{
    Ve_AssemDeleteMgr none(nullptr);
    EXPECT_FALSE(none.loseAssem());
    EXPECT_EQ(none.recordedCount(), 0);
    auto* leaf = new VE_ASSEMBLY(nullptr, nullptr, QELtransf());
    {
        Ve_AssemDeleteMgr idle(leaf);
    }
    EXPECT_TRUE(velm_is_live_entity(leaf));
    Ve_AssemDeleteMgr manager(leaf);
    manager.collectElems();
    EXPECT_EQ(manager.recordedCount(), 2);  // itself and its transform
}

TEST_F(AssemblyDeletion, TransformsAndLoseOfAssemblyEntities)
{
    auto* part = new VE_PART(nullptr, QELtransf());
    part->lose();  // does nothing: only the manager deletes
    EXPECT_TRUE(velm_is_live_entity(part));
    auto* bare = new VE_ASSEMBLY();
    EXPECT_TRUE(bare->getTransformation().identity());
    EXPECT_EQ(bare->getTransform(), nullptr);
    bare->setTransformation(translate_transf(QELvector(0, 2, 0)));
    ASSERT_NE(bare->getTransform(), nullptr);
    EXPECT_EQ(bare->getTransformation().translation().y(), 2.0);

    ENTITY_LIST done;
    bare->apply_transform(translate_transf(QELvector(0, 0, 3)), done);
    bare->apply_transform(translate_transf(QELvector(0, 0, 3)), done);
    EXPECT_EQ(bare->getTransformation().translation().z(), 3.0);

    bare->appendPart(part);
    ASSERT_NE(bare->getPartList(), nullptr);
    EXPECT_EQ(bare->getPartList()->count(), 1);
    Ve_AssemDeleteMgr manager(bare);
    manager.loseAssem();
}

TEST_F(AssemblyDeletion, ListSharedByTwoAssembliesIsWalkedOnce)
{
    // Only a damaged file gives two assemblies one list; the first walk loses it.
    auto* parts = new EE_LIST(1);
    parts->add(new VE_PART(testkit::make_box(), QELtransf()));
    auto* a = new VE_ASSEMBLY(parts, nullptr, QELtransf());
    auto* b = new VE_ASSEMBLY(parts, nullptr, QELtransf());
    VE_ASSEMBLY* root = assemblyOf({}, {a, b});
    Ve_AssemDeleteMgr manager(root);
    EXPECT_TRUE(manager.loseAssem());
    // 3 assemblies, 2 formations, 1 part, 1 body, 6 transforms.
    EXPECT_EQ(manager.recordedCount(), 3 + 2 + 1 + 1 + 6);
}
