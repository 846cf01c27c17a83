#pragma once
// The loops of one face arranged by containment in its parameter space, and
// the rules that say which loops have the wrong role: periphery-or-hole rules
// on faces that do not wrap, separation rules (up to two loops round the
// closed direction) on cylinders, cones, spheres, tori and closed splines.
#include "loops/containment_classifier.hxx"
#include "model/containers.hxx"
#include "qelx/qelx_refcount.hxx"
#include "xvelm2k/export.hxx"

class FACE;
class Ve_FaceRegionHandle;

class XVELM2KA_API Ve_FaceRegion : public Ve_ContainmentClassifier, public QELXReferenceCount {
public:
    Ve_FaceRegion(FACE* face, int kind) : m_face(face), m_kind(kind) {}
    const char* GetName() const override { return "Ve_FaceRegion"; }

    FACE* face() const { return m_face; }
    int kind() const { return m_kind; }

    // A new, empty region of the same class for the face.
    virtual Ve_FaceRegionHandle newRegion(FACE* face) const = 0;
    // Builds the tree from the face's loops and marks misclassified loops;
    // true when every loop found its place.
    virtual bool classifyLoops() = 0;

    // A new region of this class for the face, holding the node (detached
    // by the caller) as its first top-level node.
    Ve_FaceRegionHandle adoptSubtree(Ve_ContainmentSetElement* node, FACE* face) const;

private:
    FACE* m_face;
    int m_kind;
};

class XVELM2KA_API Ve_FaceRegionHandle : public QELXTypedHandle<Ve_FaceRegion> {
public:
    Ve_FaceRegionHandle() = default;
    Ve_FaceRegionHandle(Ve_FaceRegion* region) : QELXTypedHandle<Ve_FaceRegion>(region) {}
    Ve_FaceRegionHandle(const Ve_FaceRegionHandle&) = default;
    Ve_FaceRegionHandle& operator=(const Ve_FaceRegionHandle&) = default;
    ~Ve_FaceRegionHandle() override = default;
};

class XVELM2KA_API Ve_PeripheryOrHoleBndryFaceRegion : public Ve_FaceRegion {
public:
    using Ve_FaceRegion::Ve_FaceRegion;
    int compare(const Ve_BoundaryElement& element, const Ve_BoundaryElement& nodeElement) override;
    bool classifyLoops() override;

protected:
    bool separatingBox(const Ve_BoundaryElement& element, QELpar_box& box) const override;

private:
    // Whether the face's surface closes in a direction, asked once: every
    // comparison of loops with boxes apart reads it.
    bool wraps() const;
    mutable int m_wraps = -1;
};

class XVELM2KA_API Ve_PlanarFaceRegion : public Ve_PeripheryOrHoleBndryFaceRegion {
public:
    explicit Ve_PlanarFaceRegion(FACE* face) : Ve_PeripheryOrHoleBndryFaceRegion(face, 1) {}
    Ve_FaceRegionHandle newRegion(FACE* face) const override;
};

class XVELM2KA_API Ve_SeparationBndryFaceRegion : public Ve_PeripheryOrHoleBndryFaceRegion {
public:
    using Ve_PeripheryOrHoleBndryFaceRegion::Ve_PeripheryOrHoleBndryFaceRegion;
    int compare(const Ve_BoundaryElement& element, const Ve_BoundaryElement& nodeElement) override;
    bool classifyLoops() override;

protected:
    // Pairs fail every comparison, boxes or not.
    bool separatingBox(const Ve_BoundaryElement&, QELpar_box&) const override { return false; }
};

class XVELM2KA_API Ve_CylindricalFaceRegion : public Ve_SeparationBndryFaceRegion {
public:
    explicit Ve_CylindricalFaceRegion(FACE* face) : Ve_SeparationBndryFaceRegion(face, 2) {}
    Ve_FaceRegionHandle newRegion(FACE* face) const override;
};

class XVELM2KA_API Ve_ConicalFaceRegion : public Ve_SeparationBndryFaceRegion {
public:
    explicit Ve_ConicalFaceRegion(FACE* face) : Ve_SeparationBndryFaceRegion(face, 3) {}
    Ve_FaceRegionHandle newRegion(FACE* face) const override;
};

class XVELM2KA_API Ve_SphericalFaceRegion : public Ve_SeparationBndryFaceRegion {
public:
    explicit Ve_SphericalFaceRegion(FACE* face) : Ve_SeparationBndryFaceRegion(face, 4) {}
    Ve_FaceRegionHandle newRegion(FACE* face) const override;
};

class XVELM2KA_API Ve_ToroidalFaceRegion : public Ve_SeparationBndryFaceRegion {
public:
    explicit Ve_ToroidalFaceRegion(FACE* face) : Ve_SeparationBndryFaceRegion(face, 6) {}
    Ve_FaceRegionHandle newRegion(FACE* face) const override;
};

namespace ve_loops {
// Copies of the elements whose first loop is a separation loop (types 3 to 6).
XVELM2KA_API QELXDynamicArray<Ve_BoundaryElement> separationFilter(QELXDynamicArray<Ve_BoundaryElement>& elements);
} // namespace ve_loops
