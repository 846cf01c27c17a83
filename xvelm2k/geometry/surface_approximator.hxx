#pragma once
// Replaces the surface of one kernel face by a B-spline surface, for
// consumers that take B-spline surfaces only, and describes the result to
// the framework.
#include "qelx/gk_surface.hxx"
#include "xvelm2k/export.hxx"

class ENTITY;
class FACE;

class XVELM2KA_API Ve_SurfaceApproximator {
public:
    // Neither is owned; the request may be null.
    Ve_SurfaceApproximator(FACE* face, const Gk_ApproxInfo* approxInfo) : m_face(face), m_approxInfo(approxInfo) {}
    Ve_SurfaceApproximator& operator=(const Ve_SurfaceApproximator& other) = default;

    // The non-rational road when the request asks for form 1, else the generic one.
    ENTITY* bspline(const Gk_Span& span, Gk_SurfApproxInfoHandle* info);
    // An accurate fit of a spline face when a request is given; any other
    // face is converted to a spline. Null when that fails.
    ENTITY* bsplineGeneric(const Gk_Span& span, Gk_SurfApproxInfoHandle* info);
    // The face on a non-rational B-spline surface, or null.
    ENTITY* bsplineNonrational(const Gk_Span& span, Gk_SurfApproxInfoHandle* info);

private:
    FACE* m_face;
    const Gk_ApproxInfo* m_approxInfo;
};
