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

// The kernel's own check looks inside an assembly: the bodies of its parts and
// sub-assemblies are checked, and topology two of them share is reported.
TEST_F(AssemblyDeletion, TheKernelCheckLooksInsideAssemblies)
{
    BODY* first = testkit::make_box();
    BODY* second = testkit::make_box(4, 5, 6);
    VE_ASSEMBLY* sub = assemblyOf({second}, {});
    VE_ASSEMBLY* root = assemblyOf({first}, {sub});
    std::string report;
    EXPECT_TRUE(velm_test_check_model(root, &report)) << report;

    // The second body's first edge made to start at the first body's vertex.
    EDGE* edge = second->lump()->shell()->face()->loop()->start()->edge();
    VERTEX* own = edge->start();
    VERTEX* borrowed = first->lump()->shell()->face()->loop()->start()->edge()->start();
    edge->set_start(borrowed);
    report.clear();
    EXPECT_FALSE(velm_test_check_model(root, &report));
    EXPECT_NE(report.find("belongs to two bodies"), std::string::npos) << report;
    edge->set_start(own);

    // A broken ring in the sub-assembly's body is found from the root.
    LOOP* loop = second->lump()->shell()->face()->loop();
    COEDGE* start = loop->start();
    loop->set_start(nullptr);
    report.clear();
    EXPECT_FALSE(velm_test_check_model(root, &report));
    EXPECT_NE(report.find("no start coedge"), std::string::npos) << report;
    loop->set_start(start);

    Ve_AssemDeleteMgr tree(root);
    tree.loseAssem();
}
