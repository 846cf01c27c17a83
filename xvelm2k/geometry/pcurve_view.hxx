#pragma once
// The connector's view of a kernel PCURVE entity: the curve of a coedge in
// the (u, v) space of its face's surface. A Ve_PCurveTag* is the address of
// the entity; callers hold a non-null view. Each operation reads a copy of
// the entity's geometry.
#include "qelx/qelx_curve.hxx"
#include "velm/geometry_entity.hxx"
#include "xvelm2k/export.hxx"

class XVELM2KA_API Ve_PCurveTag {
public:
    Ve_PCurveTag& operator=(const Ve_PCurveTag&) { return *this; }

    static Ve_PCurveTag* view(PCURVE* p) { return reinterpret_cast<Ve_PCurveTag*>(p); }
    PCURVE* entity() const { return getDef(); }

    // Always 3 (a B-spline).
    QELXCurveType::Enum typeId() const { return QELXCurveType::BSpline; }
    // The pcurve over the range as a 2-D B-spline (its offset added, in the
    // pcurve's direction); the whole B-spline when the range is no subset of
    // it. Writes 0.0 to achieved; tol is not read.
    QELXBSplineDef2D bspline(const Gk_Domain& range, double tol, double* achieved) const;
    // (u, v) at t; d gets the first derivative and zero higher ones.
    QELXPoint2D eval(double t, QELXCurveDerivatives2D* d) const;
    QELIResult GetBoundingBox(const Gk_Domain& range, QELXBox2D& box) const;
    // [0, period]; (0, 0) for a pcurve that is not periodic.
    Gk_Domain principalRange() const;
    // Always (0, 0) unbounded.
    Gk_Domain getDomain() const { return Gk_Domain(); }
    // Not supported: both assert and answer 0.0.
    double length(const Gk_Domain& range) const;
    double invert(const QELXPoint2D& p, QELXCurveDerivatives2D* d) const;

    void negate();
    // A new entity over a copy of the geometry; null when allocation fails.
    Ve_PCurveTag* copy() const;
    void raiseRef();
    void lowerRef();

protected:
    Ve_PCurveTag() = default;
    PCURVE* getDef() const { return reinterpret_cast<PCURVE*>(const_cast<Ve_PCurveTag*>(this)); }
};
