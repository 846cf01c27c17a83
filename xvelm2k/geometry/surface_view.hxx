#pragma once
// The connector's view of a kernel SURFACE entity: its framework surface
// type, the exact framework definition of that type, evaluation, inversion,
// and the parameter-space facts the framework needs to read the kernel's
// parametrisation. A Ve_SurfaceTag* is the address of the entity; callers
// hold a non-null view.
//
// Parameters: the kernel point at (u, v) is the definition's point at
// getMap()(u, v); IsRightHandedUV() tells whether the kernel's (u, v) frame
// turns with the surface normal.
#include "model/containers.hxx"
#include "qelx/gk_surface.hxx"
#include "velm/geometry_entity.hxx"
#include "xvelm2k/export.hxx"

class XVELM2KA_API Ve_SurfaceTag {
public:
    Ve_SurfaceTag& operator=(const Ve_SurfaceTag&) { return *this; }

    static Ve_SurfaceTag* view(SURFACE* s) { return reinterpret_cast<Ve_SurfaceTag*>(s); }
    SURFACE* entity() const { return getDef(); }

    // 0 approximate, 1 plane, 2 cylinder, 3 cone, 4 sphere, 6 torus,
    // 7 revolution, 8 offset, 10 B-spline.
    Gk_SurfaceType3::Enum typeId() const;
    bool isApproximated() const;
    bool isAnalytic() const;

    // Exact definitions; the empty definition for a surface of another type
    // and for degenerate data (a zero axis, radius or direction).
    Gk_Plane3Def getPlane() const;
    Gk_Cone3Def getCone() const;
    Gk_Cone3Def getCylinder() const;
    Gk_Ellipsoid3Def getSphere() const;
    Gk_Torus3Def getTorus() const;
    // Around the given profile when it is valid, else around a new framework
    // curve over the kernel profile.
    Gk_SpunSurface3Def getSpunSurface(const QELXCurve3DHandle& profile) const;
    Gk_SweptSurface3Def getSweptSurface(const QELXCurve3DHandle& profile) const;
    // Around the given base when it is valid, else around a new adapter over
    // the kernel base surface bounded by the span.
    Gk_OffsetSurface3Def getOffsetSurface(const Gk_Surface3Handle& base, const Gk_Span& span) const;

    // Point at (u, v); the flat gets (0,0), (1,0), (0,1), (1,1) and, when it
    // is larger, (2,0) and (0,2); its normal is flipped for a left-handed
    // frame, so that it is the surface's outward normal.
    QELXPoint3D eval(const QELXPoint2D& uv, Gk_Flat3* flat) const;
    QELXPoint2D invert(const QELXPoint3D& p, Gk_Flat3* flat) const;
    // [0, period]; (0, 0) for a direction that is not periodic. Removes any
    // subset range from the entity first.
    Gk_Domain uPrincipalRange() const;
    Gk_Domain vPrincipalRange() const;
    // Always 0.
    QELIResult GetBoundingBox(const Gk_Span& span, QELXBox3D& box) const;
    Gk_BiLinMap getMap() const;
    bool IsRightHandedUV() const;

    void apply(const QELXMorph3D& m);
    // A new entity over a copy of the geometry (use count 0).
    Ve_SurfaceTag* copy() const;
    void raiseRef();
    void lowerRef();

    // B-spline export (surface_view_bspline.cpp).
    // The surface's own B-spline when typeId is 10, else an empty net.
    QELXBSplineNetDef3D getSplineSurface() const;
    // Approximation over the span; *approx gets a new approximation record.
    QELXBSplineNetDef3D bspline(const Gk_Span& span, const Gk_ApproxInfo* info,
                                Gk_SurfApproxInfoHandle* approx) const;
    // Kernel B-spline approximation over the span (caller owns), or null.
    bs3_surface bspline_bs3(const Gk_Span& span) const;
    // Degenerate boundaries of a B-spline, the apex of a cone; else none.
    QELXDynamicArray<Gk_SurfacePole> getPoles() const;

    static QELXBSplineNetDef3D toNet(bs3_surface b);

protected:
    Ve_SurfaceTag() = default;
    SURFACE* getDef() const { return reinterpret_cast<SURFACE*>(const_cast<Ve_SurfaceTag*>(this)); }
    const surface& geometry() const { return getDef()->equation(); }
    Gk_Domain principalRange(bool alongU) const;
};
