#pragma once
// Surface services of the repair toolbox: equality of two kernel surfaces,
// the fitted replacement of a spline surface, and the checks and iso-curve
// rebuilds that the surface importer runs on suspicious B-spline surfaces.
#include "velm/bspline.hxx"
#include "velm/geometry.hxx"
#include "xvelm2k/export.hxx"

class FACE;

// The task that the spline surface checks announce by start and end events.
namespace spline_surface_check {
constexpr const char* kCheckTask = "SplineSurfaceCheck";
constexpr int kTaskLevel = 50;
} // namespace spline_surface_check

// Same kernel type and equal within the kernel's resolutions: planes, cones,
// spheres and tori by their data, splines by the kernel's comparison; any
// other type is never equal.
XVELM2KA_API bool isSameSurface(const surface& a, const surface& b);

// Fits a B-spline to the source over its whole parameter box (at QELresfit,
// a tenth of it when the face has an edge shorter than half of it) and makes
// the target a spline over it, negated when the source is. False when no
// fit could be made: the target is then left as it was.
XVELM2KA_API bool replaceSplineSurface(const surface& source, spline& target, FACE* face = nullptr);

class XVELM2KA_API Ve_SurfApproxUtil {
public:
    Ve_SurfApproxUtil() = default;
    Ve_SurfApproxUtil& operator=(const Ve_SurfApproxUtil&) { return *this; }

    // The kernel's surface check asked for one status; false when the check
    // itself fails.
    static bool isSurfIrregular(surface* srf);
    static bool srfSelfIntersects(surface* srf);

    // Rebuild from count + 1 iso-parameter curves across u (v) of the
    // B-spline, interpolated on a (count + 1)-square grid. Accepted only when
    // the result is neither irregular nor self-intersecting: then the old
    // surface and the old B-spline are deleted and both references receive
    // the new ones (each owned by the caller on its own). Otherwise nothing
    // changes and the answer is false.
    bool makeUsingUisoparams(surface*& srf, bs3_surface& definition, int count);
    bool makeUsingVisoparams(surface*& srf, bs3_surface& definition, int count);
    // Across u, and across v when that fails, with the same count.
    bool replaceSurface(bs3_surface& definition, surface*& srf, int count);

private:
    bool makeUsingIsoparams(surface*& srf, bs3_surface& definition, int count, bool acrossU);
};
