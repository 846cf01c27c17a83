#pragma once
// Stitching loose faces by pairing their free coedges. An envelope holds one
// cover per face; a cover holds the free boundary of its faces as cycles,
// chains of free coedges. Merging joins matching coedges of two covers onto
// shared edges, pass after pass with a growing tolerance.
#include "model/containers.hxx"
#include "model/entity_views.hxx"
#include "xvelm2k/export.hxx"

class SHELL;

class XVELM2KA_API Ve_StCycle {
public:
    Ve_StCycle() = default;
    explicit Ve_StCycle(QELXDynamicArray<Ve_CoedgeTag*> coedges) : m_coedges(std::move(coedges)) {}
    Ve_StCycle(const Ve_StCycle&) = default;
    Ve_StCycle& operator=(const Ve_StCycle&) = default;
    ~Ve_StCycle() = default;

    // Cycles are never taken for one another.
    bool operator==(const Ve_StCycle&) const { return false; }

    // The coedges not joined yet, in walking order.
    void fetchCoedges(QELXDynamicArray<Ve_CoedgeTag*>& out) const;
    // Joins matching coedges of the two cycles at the stitch tolerance; true
    // when at least one pair was joined.
    bool mergeCycle(Ve_StCycle& other);

    QELXDynamicArray<Ve_CoedgeTag*>& coedges() { return m_coedges; }
    const QELXDynamicArray<Ve_CoedgeTag*>& coedges() const { return m_coedges; }

private:
    QELXDynamicArray<Ve_CoedgeTag*> m_coedges; // null once joined
};

class XVELM2KA_API Ve_StCover {
public:
    Ve_StCover() = default;
    // Groups the coedges into cycles, pairing those of the group that match
    // at five times the stitch tolerance first (a seam closes here).
    explicit Ve_StCover(QELXDynamicArray<Ve_CoedgeTag*> coedges);
    Ve_StCover(const Ve_StCover&) = default;
    Ve_StCover& operator=(const Ve_StCover&) = default;
    ~Ve_StCover() = default;

    bool operator==(const Ve_StCover&) const { return false; }

    void fetchCoedges(QELXDynamicArray<Ve_CoedgeTag*>& out) const;
    bool isValid() const { return m_cycles.Count() > 0; }
    // Every cycle of this cover against every cycle of the other; when any
    // pair joined, the leftovers of both are regrouped here and the other
    // cover is left without cycles.
    bool mergeCover(Ve_StCover& other);

    QELXDynamicArray<Ve_StCycle>& cycles() { return m_cycles; }
    const QELXDynamicArray<Ve_StCycle>& cycles() const { return m_cycles; }

private:
    QELXDynamicArray<Ve_StCycle> m_cycles;
};

class XVELM2KA_API Ve_StEnvelope {
public:
    Ve_StEnvelope() = default;
    // One cover per face, from the coedges of all its loops.
    explicit Ve_StEnvelope(QELXDynamicArray<Ve_FaceTag*> faces);
    Ve_StEnvelope(const Ve_StEnvelope&) = default;
    Ve_StEnvelope& operator=(const Ve_StEnvelope&) = default;
    ~Ve_StEnvelope() = default;

    // Passes at tolerances 1e-4, 5e-4, ... up to 0.1, until a pass joins
    // nothing after an earlier one did. The stitch tolerance is 1e-4 again
    // afterwards. Always true.
    bool doMerge();
    // As doMerge, but a pass that joins nothing does not end the passes
    // while free coedges are left: the tolerance grows on up to 0.1. After
    // a pass that joined nothing, each cover's leftovers are paired within
    // it again too, and coedges only join where they are at least ten times
    // as long as the tolerance, so that a gap is bridged but not a narrow
    // feature. Always true.
    bool doMergeWidening();

private:
    // One pass at the current tolerance; true when anything was joined.
    // Coedges no longer than `shortest` (or the tolerance) are left alone.
    bool runStitch(double shortest = 0.0);
    bool anyFreeCoedge() const;

    QELXDynamicArray<Ve_StCover> m_covers;
};

// A new shell whose face list starts with the face; it owns nothing.
class XVELM2KA_API Ve_StitchShell {
public:
    explicit Ve_StitchShell(Ve_FaceTag* face);
    Ve_StitchShell(const Ve_StitchShell&) = default;
    Ve_StitchShell& operator=(const Ve_StitchShell&) = default;
    ~Ve_StitchShell() = default;

    Ve_ShellTag* getShell() const;

private:
    SHELL* m_shell = nullptr;
};
