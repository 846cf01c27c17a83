#pragma once
// Deletes a whole assembly tree: every assembly, formation, part, placed body
// and transformation below the root, each once even where the tree shares
// them. The traversal records (and loses the trees' entity lists); the
// destructor deletes what was recorded. The manager owns what it recorded, so
// it can be moved but not copied: two owners would delete the same entities.
#include "model/containers.hxx"
#include "persist/ve_assembly.hxx"

class BODY;

class XVELM2KA_API Ve_AssemDeleteMgr {
public:
    explicit Ve_AssemDeleteMgr(VE_ASSEMBLY* root);
    Ve_AssemDeleteMgr(const Ve_AssemDeleteMgr&) = delete;
    Ve_AssemDeleteMgr& operator=(const Ve_AssemDeleteMgr&) = delete;
    // The moved-from manager is left empty and deletes nothing.
    Ve_AssemDeleteMgr(Ve_AssemDeleteMgr&& other) noexcept;
    Ve_AssemDeleteMgr& operator=(Ve_AssemDeleteMgr&& other) noexcept;
    ~Ve_AssemDeleteMgr();

    // Records the tree of the root; false without a root.
    bool loseAssem();
    void traverseAssembly(VE_ASSEMBLY* assembly);
    void collectElems();

    int recordedCount() const;

private:
    void walk(VE_ASSEMBLY* assembly, QELXHashList<EE_LIST*>& lists);
    void destroyRecorded();
    void reset();

    VE_ASSEMBLY* m_root = nullptr;
    QELXHashList<BODY*> m_bodies;
    QELXHashList<VE_FORMATION*> m_formations;
    QELXHashList<VE_PART*> m_parts;
    QELXHashList<VE_ASSEMBLY*> m_assemblies;
    QELXHashList<TRANSFORM*> m_transforms;
};
