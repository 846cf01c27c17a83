#pragma once
// Checks of kernel curves for irregularity and self-intersection, and the
// rebuild of a bad B-spline from an even grid of its points.
#include "velm/bspline.hxx"
#include "velm/geometry.hxx"
#include "xvelm2k/export.hxx"

class XVELM2KA_API Ve_CrvApproxUtil {
public:
    Ve_CrvApproxUtil() {}

    // The kernel's curve check at QELresabs reports the curve irregular.
    static bool isCrvIrregular(curve* c);
    // The check reports it self-intersecting (or irregular, which the check
    // cannot tell apart from a curve meeting itself at a cusp).
    static bool crvSelfIntersects(curve* c);

    // Interpolates steps + 1 even samples of the B-spline (per stretch between
    // its self-intersections, the loops left out) and accepts the result only
    // when it passes both checks. On success `bspline` receives the new
    // B-spline; a curve in `crv` is replaced by a new intcurve that owns it,
    // an empty slot stays empty and the caller owns the B-spline. On failure
    // both are left as they were.
    bool makeUsingGrid(bs3_curve& bspline, curve*& crv, int steps);
    bool replaceCurve(bs3_curve& bspline, curve*& crv, int steps) { return makeUsingGrid(bspline, crv, steps); }

    // The grid fit tolerance.
    static constexpr double GridFit = 0.0001;
};
