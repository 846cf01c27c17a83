#pragma once
// The connector's view of a kernel CURVE entity. A Ve_CurveTag* is the
// address of the entity itself; the view holds no data and owns nothing.
// Callers hold a non-null view: the adapters test for null before they ask.
#include "qelx/qelx_curve.hxx"
#include "velm/geometry_entity.hxx"
#include "xvelm2k/export.hxx"

class XVELM2KA_API Ve_CurveTag {
public:
    Ve_CurveTag& operator=(const Ve_CurveTag&) { return *this; }

    static Ve_CurveTag* view(CURVE* c) { return reinterpret_cast<Ve_CurveTag*>(c); }
    CURVE* entity() const { return getDef(); }

    // 1 straight, 2 ellipse, 3 intcurve, 0 anything else.
    QELXCurveType::Enum typeId() const;
    // (root, direction x parameter scale) of a straight; else empty.
    QELXLineDef3D getLine() const;
    // Major axis first: an ellipse stored with its minor radius larger is
    // turned a quarter. Empty for other kinds.
    QELXEllipseDef3D getEllipse() const;
    // Kernel parameter -> parameter of the definition above: an ellipse's
    // definition starts at the kernel's parameter offset and, when turned a
    // quarter, a quarter turn later; identity for every other kind.
    Gk_LinMap getMap() const;
    // An intcurve's own B-spline in the intcurve's direction; else empty.
    QELXBSplineDef3D getBSpline() const;
    // Approximation over the range, parametrised over exactly that range;
    // empty for a range that is unbounded or empty. tol is not read and
    // achieved is not written.
    QELXBSplineDef3D bspline(const Gk_Domain& range, double tol, double* achieved) const;
    // A straight's parameter scale; false (scale untouched) for other kinds.
    bool GetParamScale(double& scale) const;

    // Point at t; d (when given) gets the point and d->size() - 1 derivatives.
    QELXPoint3D eval(double t, QELXCurveDerivatives3D* d) const;
    // Parameter of the foot point of p on the whole curve.
    double invert(const QELXPoint3D& p, QELXCurveDerivatives3D* d) const;
    double length(const Gk_Domain& range) const;
    // (0, 0) unbounded for a non-periodic curve, else the curve's range.
    Gk_Domain principalRange() const;
    // Always 0.
    QELIResult GetBoundingBox(const Gk_Domain& range, QELXBox3D& box) const;

    void negate();
    void apply(const QELXMorph3D& m);
    // A new entity over a copy of the geometry (use count 0).
    Ve_CurveTag* copy() const;
    void raiseRef();
    // The kernel loses the entity when no use remains.
    void lowerRef();

    // A kernel B-spline as a framework definition.
    static QELXBSplineDef3D toDefinition(bs3_curve b);

protected:
    Ve_CurveTag() = default;
    CURVE* getDef() const { return reinterpret_cast<CURVE*>(const_cast<Ve_CurveTag*>(this)); }
    const curve& geometry() const { return getDef()->equation(); }
};
