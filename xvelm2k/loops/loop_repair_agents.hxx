#pragma once
// The chain of loop repair agents: each takes the faces to repair it can
// handle, mends them, moves every face that became clean to the clean list
// and hands what is left to the next agent. Four process-wide agents; the
// driver links them: split periphery loops, loop reversals, face-sense
// reversals, propagation edges on periodic faces.
#include "loops/axon_heap.hxx"
#include "loops/repair_loops.hxx"
#include "model/containers.hxx"
#include "xvelm2k/export.hxx"

class Ve_FaceTag;

class XVELM2KA_API Ve_LoopRepairAgent {
public:
    Ve_LoopRepairAgent() = default;
    Ve_LoopRepairAgent(const Ve_LoopRepairAgent&) = delete;
    Ve_LoopRepairAgent& operator=(const Ve_LoopRepairAgent&) = delete;

    virtual bool isApplicable(Ve_FaceTag* face, Ve_FaceRepairInput& input);
    // The faces to look at again.
    virtual QELXDynamicArray<Ve_FaceTag*> repairFace(Ve_FaceTag* face, Ve_FaceRepairInput& input);
    virtual ~Ve_LoopRepairAgent() = default;
    virtual bool repair(Ve_FaceRepairInput& input);

    Ve_LoopRepairAgent* next() const { return m_next; }
    void setNext(Ve_LoopRepairAgent* next) { m_next = next; }

    static Ve_LoopRepairAgent& splitPeripheryLoops();
    static Ve_LoopRepairAgent& repairLoopReversals();
    static Ve_LoopRepairAgent& repairFaceSenseReversals();
    static Ve_LoopRepairAgent& addPropEdgeOnPeriodicFaces();

protected:
    bool passOn(Ve_FaceRepairInput& input);

private:
    Ve_LoopRepairAgent* m_next = nullptr;
};

// Extra peripheries and islands inside holes become faces of their own.
class XVELM2KA_API Ve_SplitPeripheryLoops : public Ve_LoopRepairAgent {
public:
    bool isApplicable(Ve_FaceTag* face, Ve_FaceRepairInput& input) override;
    QELXDynamicArray<Ve_FaceTag*> repairFace(Ve_FaceTag* face, Ve_FaceRepairInput& input) override;

private:
    void split(FACE* face, QELXDynamicArray<Ve_FaceTag*>& result, Ve_FaceRepairInput& input);
    FACE* makeFace(FACE* from, Ve_ContainmentSetElement* node, Ve_FaceRepairInput& input);
};

// Loop orientations made to agree across shared edges, from a reference face.
class XVELM2KA_API Ve_RepairLoopReversals : public Ve_LoopRepairAgent {
public:
    bool repair(Ve_FaceRepairInput& input) override;
};

// A face whose every loop runs the wrong way gets the other sense.
class XVELM2KA_API Ve_RepairFaceSenseReversals : public Ve_LoopRepairAgent {
public:
    bool isApplicable(Ve_FaceTag* face, Ve_FaceRepairInput& input) override;
    QELXDynamicArray<Ve_FaceTag*> repairFace(Ve_FaceTag* face, Ve_FaceRepairInput& input) override;
    // Sense flipped, marks and periphery/hole types swapped on every element.
    static void flipFace(const Ve_FaceRegionHandle& region);
};

// A periodic face bounded by two separation loops gets its seam edge.
class XVELM2KA_API Ve_AddPropEdgeOnPeriodicFaces : public Ve_LoopRepairAgent {
public:
    bool isApplicable(Ve_FaceTag* face, Ve_FaceRepairInput& input) override;
    QELXDynamicArray<Ve_FaceTag*> repairFace(Ve_FaceTag* face, Ve_FaceRepairInput& input) override;
};

class XVELM2KA_API Ve_RepairFaceSenseReversalWorker : public Ve_ContainmentClassifier::Ve_ContainmentSetElementVisitor {
public:
    explicit Ve_RepairFaceSenseReversalWorker(bool checkOnly) : m_checkOnly(checkOnly) {}
    bool visit(Ve_ContainmentSetElement* node, int depth) override;
    int visited() const { return m_visited; }

private:
    int m_visited = 0;
    bool m_checkOnly;
};

class XVELM2KA_API Ve_RepairLoopReversalsWorker : public Ve_AxonHeap::Ve_AxonHeapVisitor {
public:
    explicit Ve_RepairLoopReversalsWorker(Ve_FaceRepairInput& input) : m_input(input) {}
    bool visitDendrite(Ve_Dendrite* dendrite, Ve_AxonHeapEntity* groupEntity) override;
    bool visitEntity(Ve_AxonHeapEntity*) override { return true; }

private:
    Ve_FaceRepairInput& m_input;
};
