#pragma once
// The simple loop repair: per face, the periphery is found with the kernel's
// point-in-loop test, loops are reversed so that one periphery and holes
// remain, the periphery goes first; a face without a consistent periphery is
// split into one face per loop (bodies of their own for a one-face body).
#include "model/containers.hxx"
#include "xvelm2k/export.hxx"

class BODY;
class FACE;
class LOOP;
class Ve_BodyTag;

class XVELM2KA_API QELXVelmLoopEntry {
public:
    QELXVelmLoopEntry() = default;
    QELXVelmLoopEntry(LOOP* loop, int type) : m_loop(loop), m_type(type) {}
    bool operator==(const QELXVelmLoopEntry& other) const { return m_loop == other.m_loop && m_type == other.m_type; }

    LOOP* loop() const { return m_loop; }
    int type() const { return m_type; }
    void setType(int type) { m_type = type; }

private:
    LOOP* m_loop = nullptr;
    int m_type = 0;
};

class XVELM2KA_API QELXVelmFaceLoops {
public:
    QELXVelmFaceLoops(FACE* face, bool multiFace);
    bool repair();
    QELXDynamicArray<FACE*> getNewFaces() const { return m_newFaces; }
    int holeCount() const { return m_holes; }
    int peripheryCount() const { return m_peripheries; }

private:
    bool splitLoopsIntoFaces();
    // Loops that do not nest as one periphery with its holes: sorted by
    // containment into faces of one periphery each; false when that cannot run.
    bool repairByContainment();
    void reverse(const QELXVelmLoopEntry& entry);

    FACE* m_face;
    bool m_multiFace;
    QELXDynamicArray<QELXVelmLoopEntry> m_entries;
    QELXDynamicArray<FACE*> m_newFaces;
    QELXVelmLoopEntry m_periphery;
    QELXVelmLoopEntry m_separation;
    int m_loops = 0;
    int m_peripheries = 0;
    int m_holes = 0;
    int m_separations = 0;
    int m_unclassified = 0;
};

class XVELM2KA_API QELXVelmLoopRepair {
public:
    explicit QELXVelmLoopRepair(BODY* body) : m_body(body) {}
    bool Repair();
    // The bodies made from faces split off a one-face body.
    QELXDynamicArray<Ve_BodyTag*> getBodies() const { return m_bodies; }

private:
    BODY* m_body;
    bool m_multiFace = false;
    QELXDynamicArray<Ve_BodyTag*> m_bodies;
};
