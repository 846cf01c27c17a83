#pragma once
// Any kernel curve as a kernel 3-D B-spline over a parameter range.
#include "velm/bspline.hxx"
#include "velm/geometry.hxx"
#include "xvelm2k/export.hxx"

// Non-rational interpolation of a curve for the kernel's curve fit: ten
// samples across the range with their first derivatives; the fit projects
// its mid-span points back onto a copy of the curve.
class XVELM2KA_API Ve_InterpNonRational : public curve_interp {
public:
    Ve_InterpNonRational(const curve& c, const QELinterval& range, double fit);
    ~Ve_InterpNonRational() override;

    // The foot of the record's position on the curve, searched from the
    // record's parameter, then the curve's direction there and 1.0.
    point_data* point_perp(const point_record& rec) override;

    // Sample count, negative for a periodic curve.
    int sampleCount() const { return npts; }

private:
    curve* m_curve;
};

// A new B-spline of the curve over the range (owned by the caller), or null
// when none can be made. Straights are made directly; an intcurve gives a
// piece of its own B-spline unless it is a non-exact fit tighter than asked
// or rational with weights; anything else is interpolated. Kernel errors
// give null.
XVELM2KA_API bs3_curve curveToBs3(const curve& c, const QELinterval& range, double fit);
