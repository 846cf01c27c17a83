#pragma once
// The records a face region keeps in its containment tree: one loop with its
// kernel type, and a boundary element of one loop or a pair of separation
// loops.
#include "velm/math.hxx"
#include "xvelm2k/export.hxx"

class LOOP;

class XVELM2KA_API Ve_LoopElement {
public:
    Ve_LoopElement() = default;
    explicit Ve_LoopElement(LOOP* loop) : m_loop(loop) {}

    LOOP* loop() const { return m_loop; }
    // Computes the type when it is not known yet.
    int type()
    {
        computeType();
        return m_type;
    }
    int knownType() const { return m_type; }
    void setType(int type)
    {
        m_type = type;
        m_typeKnown = true;
    }
    double winding() const { return m_winding; }
    bool isMisclassified() const { return m_misclassified; }
    void setMisclassified(bool misclassified) { m_misclassified = misclassified; }
    // True when the type is known afterwards without a kernel error.
    bool computeType();
    // The loop's parameter box, kept once found: comparisons of loops whose
    // boxes lie apart need no iso-line on faces that do not wrap.
    const QELpar_box& parameterBox() const;
    // Periphery and hole trade places; other types stay.
    void swapPeripheryHole()
    {
        if (m_type == 1)
            m_type = 2;
        else if (m_type == 2)
            m_type = 1;
    }

private:
    LOOP* m_loop = nullptr;
    bool m_misclassified = false;
    int m_type = 0; // the kernel's loop_type
    double m_winding = 0.0;
    bool m_typeKnown = false;
    mutable bool m_boxKnown = false;
    mutable QELpar_box m_box;
};

class Ve_BoundaryElement {
public:
    Ve_BoundaryElement() = default;
    explicit Ve_BoundaryElement(LOOP* loop) : m_first(loop) {}

    Ve_LoopElement& first() { return m_first; }
    const Ve_LoopElement& first() const { return m_first; }
    Ve_LoopElement& partner() { return m_partner; }
    const Ve_LoopElement& partner() const { return m_partner; }
    bool hasPartner() const { return m_partner.loop() != nullptr; }
    void setPartner(const Ve_LoopElement& partner) { m_partner = partner; }

private:
    Ve_LoopElement m_first;
    Ve_LoopElement m_partner;
};
