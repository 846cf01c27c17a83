#pragma once
// Loop classification and repair of a body (or one face): every face gets a
// region chosen by its surface and lands on the clean list, the list to
// repair or the unclassified list; a chain of agents mends the faces to repair.
#include "loops/face_regions.hxx"
#include "model/containers.hxx"
#include "xvelm2k/export.hxx"

class FACE;
class Ve_BodyTag;
class Ve_FaceTag;
class Ve_LoopRepairAgent;

class XVELM2KA_API Ve_FaceRepairInput {
public:
    Ve_FaceRepairInput() = default;
    Ve_FaceRepairInput(const Ve_FaceRepairInput&) = default;
    Ve_FaceRepairInput& operator=(const Ve_FaceRepairInput&) = default;
    ~Ve_FaceRepairInput();

    // Clean faces, then faces to repair, then unclassified faces.
    QELXDynamicArray<Ve_FaceTag*> getFaces() const;
    // The face's region; a face without one raises "Unknown_Error".
    Ve_FaceRegionHandle getRegion(Ve_FaceTag* face) const;
    // The same without raising: an empty handle.
    Ve_FaceRegionHandle findRegion(Ve_FaceTag* face) const;
    void setRegion(Ve_FaceTag* face, const Ve_FaceRegionHandle& region);

    QELXDynamicArray<Ve_FaceTag*>& cleanFaces() { return m_clean; }
    QELXDynamicArray<Ve_FaceTag*>& facesToRepair() { return m_toRepair; }
    QELXDynamicArray<Ve_FaceTag*>& unclassifiedFaces() { return m_unclassified; }
    // The face moves to the clean list when its region is clean, else to the list to repair.
    void updateLists(const Ve_FaceRegionHandle& region);

private:
    QELXDynamicArray<Ve_FaceTag*> m_clean;
    QELXDynamicArray<Ve_FaceTag*> m_toRepair;
    QELXDynamicArray<Ve_FaceTag*> m_unclassified;
    QELXHashMap<Ve_FaceTag*, Ve_FaceRegionHandle> m_regions;
};

class XVELM2KA_API Ve_RepairLoops {
public:
    // Faces of more loops than this are left out.
    static constexpr int MaxLoops = 16;

    explicit Ve_RepairLoops(Ve_BodyTag* body);
    explicit Ve_RepairLoops(Ve_FaceTag* face);
    Ve_RepairLoops(const Ve_RepairLoops&) = default;
    Ve_RepairLoops& operator=(const Ve_RepairLoops&) = default;
    ~Ve_RepairLoops() = default;

    bool canBeRepaired() const { return m_repairable; }
    // Builds a region for every face and sorts it into one of the lists.
    bool classify(Ve_FaceRepairInput& input);
    // Runs the agent chain when faces wait for repair; every face of the input.
    QELXDynamicArray<Ve_FaceTag*> repair(Ve_FaceRepairInput& input);

    // The face's region by the kernel type of its surface; empty for a null face.
    Ve_FaceRegionHandle createRegion(FACE* face) const;

private:
    void setRepairAgents();
    void splitSphericalFaces(Ve_BodyTag* body);
    Ve_FaceRegionHandle createSplineRegion(FACE* face) const;

    QELXDynamicArray<Ve_FaceTag*> m_faces;
    bool m_repairable = false;
    QELXDynamicArray<Ve_LoopRepairAgent*> m_agents;
};
