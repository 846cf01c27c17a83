#pragma once
// A bipartite graph of face regions and loop groups (loops joined through
// coedges sharing an edge): a dendrite ties a region to the group of one of
// its loops. One region stands for each connected part.
#include "loops/face_regions.hxx"
#include "model/containers.hxx"
#include "xvelm2k/export.hxx"

class LOOP;
class Ve_Dendrite;

class XVELM2KA_API Ve_AxonHeapEntity {
public:
    Ve_AxonHeapEntity(int index, const QELXDynamicArray<LOOP*>& group) : m_index(index), m_group(group) {}
    Ve_AxonHeapEntity(int index, const Ve_FaceRegionHandle& region) : m_index(index), m_region(region) {}

    QELXDynamicArray<Ve_Dendrite*>& dendrites() { return m_dendrites; }
    int index() const { return m_index; }
    bool visited() const { return m_visited; }
    void setVisited(bool visited) { m_visited = visited; }
    const QELXDynamicArray<LOOP*>& group() const { return m_group; }
    const Ve_FaceRegionHandle& region() const { return m_region; }

private:
    QELXDynamicArray<Ve_Dendrite*> m_dendrites;
    int m_index;
    bool m_visited = false;
    QELXDynamicArray<LOOP*> m_group;
    Ve_FaceRegionHandle m_region;
};

class XVELM2KA_API Ve_Dendrite {
public:
    Ve_Dendrite(Ve_AxonHeapEntity* group, Ve_AxonHeapEntity* region, LOOP* loop)
        : m_group(group), m_region(region), m_loop(loop)
    {
    }
    Ve_AxonHeapEntity* groupEntity() const { return m_group; }
    Ve_AxonHeapEntity* regionEntity() const { return m_region; }
    LOOP* loop() const { return m_loop; }

private:
    Ve_AxonHeapEntity* m_group;
    Ve_AxonHeapEntity* m_region;
    LOOP* m_loop;
};

class XVELM2KA_API Ve_AxonHeap {
public:
    class XVELM2KA_API Ve_AxonHeapVisitor {
    public:
        virtual bool visitDendrite(Ve_Dendrite* dendrite, Ve_AxonHeapEntity* groupEntity) = 0;
        virtual bool visitEntity(Ve_AxonHeapEntity* regionEntity) = 0;
        virtual ~Ve_AxonHeapVisitor() = default;
    };

    class XVELM2KA_API Ve_CollectAxonHeapEntities : public Ve_AxonHeapVisitor {
    public:
        bool visitDendrite(Ve_Dendrite* dendrite, Ve_AxonHeapEntity* groupEntity) override;
        bool visitEntity(Ve_AxonHeapEntity* regionEntity) override;

    protected:
        QELXDynamicArray<Ve_AxonHeapEntity*> m_groups;
        QELXDynamicArray<Ve_AxonHeapEntity*> m_regions;
        QELXDynamicArray<Ve_Dendrite*> m_dendrites;
    };

    // Deletes everything it collected when it dies.
    class XVELM2KA_API Ve_DestroyHeap : public Ve_CollectAxonHeapEntities {
    public:
        ~Ve_DestroyHeap() override;
    };

    class XVELM2KA_API Ve_RemoveConnectedAxonHeapEntities : public Ve_AxonHeapVisitor {
    public:
        Ve_RemoveConnectedAxonHeapEntities(QELXDynamicArray<Ve_AxonHeapEntity*>& groups,
                                           QELXDynamicArray<Ve_AxonHeapEntity*>& regions)
            : m_groups(groups), m_regions(regions)
        {
        }
        bool visitDendrite(Ve_Dendrite* dendrite, Ve_AxonHeapEntity* groupEntity) override;
        bool visitEntity(Ve_AxonHeapEntity* regionEntity) override;

    private:
        QELXDynamicArray<Ve_AxonHeapEntity*>& m_groups;
        QELXDynamicArray<Ve_AxonHeapEntity*>& m_regions;
    };

    Ve_AxonHeap() = default;
    Ve_AxonHeap(const Ve_AxonHeap&) = delete;
    Ve_AxonHeap& operator=(const Ve_AxonHeap&) = delete;
    virtual ~Ve_AxonHeap();

    virtual void connect(Ve_AxonHeapEntity* regionEntity, QELXDynamicArray<Ve_AxonHeapEntity*>& groupEntities) = 0;

    // Depth first from the region entity; false when a visitor stopped it.
    bool walk(Ve_AxonHeapVisitor& visitor, Ve_AxonHeapEntity* regionEntity);
    void clearVisited(Ve_AxonHeapEntity* regionEntity);
    bool walkAll(Ve_AxonHeapVisitor& visitor);
    // One region entity per connected part, the first region of each part.
    const QELXDynamicArray<Ve_AxonHeapEntity*>& entities() const { return m_entities; }

protected:
    void build(const QELXDynamicArray<QELXDynamicArray<LOOP*>>& groups, const QELXDynamicArray<Ve_FaceRegionHandle>& regions);

    QELXDynamicArray<Ve_AxonHeapEntity*> m_entities;
};

class XVELM2KA_API Ve_RepairLoopAxonHeap : public Ve_AxonHeap {
public:
    Ve_RepairLoopAxonHeap(const QELXDynamicArray<QELXDynamicArray<LOOP*>>& groups,
                          const QELXDynamicArray<Ve_FaceRegionHandle>& regions);
    void connect(Ve_AxonHeapEntity* regionEntity, QELXDynamicArray<Ve_AxonHeapEntity*>& groupEntities) override;
};

// Makes the dendrites of a region's loops while walking its tree.
class XVELM2KA_API Ve_DendriteCreationWorker : public Ve_ContainmentClassifier::Ve_ContainmentSetElementVisitor {
public:
    Ve_DendriteCreationWorker(Ve_AxonHeapEntity* regionEntity, const QELXDynamicArray<Ve_AxonHeapEntity*>& groups)
        : m_region(regionEntity), m_groups(groups)
    {
    }
    bool visit(Ve_ContainmentSetElement* node, int depth) override;
    int visited() const { return m_visited; }

private:
    void makeDendrite(LOOP* loop);

    int m_visited = 0;
    Ve_AxonHeapEntity* m_region;
    QELXDynamicArray<Ve_AxonHeapEntity*> m_groups;
};
