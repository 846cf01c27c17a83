#pragma once
// Any kernel curve as a kernel 3-D B-spline over a parameter range.
#include <vector>

#include "velm/bspline.hxx"
#include "velm/geometry.hxx"
#include "xvelm2k/export.hxx"

// Non-rational interpolation of a curve at its own parameters: ten samples
// with their first derivatives across the range, refined until the curve
// lies within the fit tolerance of the B-spline between the samples. The
// B-spline keeps the curve's parametrisation.
class XVELM2KA_API Ve_InterpNonRational {
public:
    Ve_InterpNonRational(const curve& c, const QELinterval& range, double fit);
    Ve_InterpNonRational(const Ve_InterpNonRational&) = delete;
    Ve_InterpNonRational& operator=(const Ve_InterpNonRational&) = delete;
    ~Ve_InterpNonRational();

    // Runs the fit; obj_bs then holds the result (null when none could be
    // made). Kernel errors pass out as kernel errors.
    void fit();

    // The result, owned by the caller once fit has run.
    bs3_curve obj_bs = nullptr;

    // Sample count, negative for a periodic curve.
    int npts() const { return m_npts; }
    const std::vector<double>& params() const { return m_params; }

private:
    curve* m_curve;
    double m_fit;
    int m_npts;
    std::vector<double> m_params;
    std::vector<QELposition> m_points;
    std::vector<QELvector> m_derivs;
};

// A new B-spline of the curve over the range (owned by the caller), or null
// when none can be made. Straights are made directly; an intcurve gives a
// piece of its own B-spline unless it is a non-exact fit tighter than asked
// or rational with weights; anything else is interpolated. Kernel errors
// give null.
XVELM2KA_API bs3_curve curveToBs3(const curve& c, const QELinterval& range, double fit);
