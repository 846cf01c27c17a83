#pragma once
// Ve_BaseSurface presents one kernel surface, bounded by a parameter span,
// as the framework's abstract surface. It forwards every query to the
// surface view and adds the type mapping, the choice between span and the
// surface's own limits for B-spline export, the traversal by type with two
// caches, and one kernel use count on the surface while it lives.
#include "geometry/kernel_use.hxx"
#include "geometry/surface_view.hxx"
#include "xvelm2k/export.hxx"

class XVELM2KA_API Ve_BaseSurface : public Gk_BaseSurface3 {
public:
    Ve_BaseSurface(Ve_SurfaceTag* surface, const Gk_Span& span);
    // Shares the caches, takes a use of its own.
    Ve_BaseSurface(const Ve_BaseSurface& other);
    Ve_BaseSurface& operator=(const Ve_BaseSurface& other);
    ~Ve_BaseSurface() override;

    // Over a new kernel surface of its own, with copies of the caches.
    Gk_BaseSurface3Handle clone() const override;
    // 2 and 3 both as 3; 1, 4, 6, 7, 8, 10 as they are; the rest 0.
    Gk_SurfaceType3::Enum GetGkSurfaceType3() const override;
    bool IsRightHandedUV() const override;
    bool isAnalytic() const override;
    QELXPoint3D eval(const QELXPoint2D& uv, Gk_Flat3* derivatives) const override;
    QELXPoint2D invert(const QELXPoint3D& point, Gk_Flat3* derivatives) const override;
    Gk_Domain uPrincipalRange() const override;
    Gk_Domain vPrincipalRange() const override;
    using Gk_BaseSurface3::bspline;
    // Over the adapter's span, or the surface's own net when the option
    // "/XVelm/UseSurfaceLimits" is present and on.
    QELXBSplineNetDef3D bspline(const Gk_ApproxInfo* info, Gk_SurfApproxInfoHandle* infoOut) const override;
    QELXBSplineNetDef3D bspline(const Gk_Span& span, const Gk_ApproxInfo* info,
                                Gk_SurfApproxInfoHandle* infoOut) const override;
    QELIResult GetBoundingBox(const Gk_Span& span, QELXBox3D& box) const override;
    // Kernel surfaces are never moved through the adapter: asserts.
    void apply(const QELXMorph3D& morph) override;
    // The exact definition to the callback's operation for the type; a
    // surface without exact form through its default operation; nothing for
    // a null callback or a definition that degenerate data left empty.
    void traverse(Gk_SurfaceCallback3* callback) const override;
    QELXSnapper3D* getSnapper() const override { return nullptr; }
    Gk_SurfacePoleArray getPoles() const override;
    // The entity's full identifier word; 0 without a surface.
    unsigned long GetPersistentIdentifier() const override;
    const char* GetName() const override { return "Ve_BaseSurface"; }

    Ve_SurfaceTag* surface() const { return m_surface.get(); }
    const Gk_Span& span() const { return m_span; }
    const Gk_Surface3Handle& referenceSurfaceCache() const { return m_referenceSurface; }
    const QELXCurve3DHandle& revolvedCurveCache() const { return m_revolvedCurve; }

private:
    KernelUse<Ve_SurfaceTag> m_surface;
    // Filled by the first traversal of an offset or revolved surface.
    mutable Gk_Surface3Handle m_referenceSurface;
    mutable QELXCurve3DHandle m_revolvedCurve;
    Gk_Span m_span;
};

class XVELM2KA_API Ve_BaseSurfaceHandle : public QELXTypedHandle<Ve_BaseSurface> {
public:
    Ve_BaseSurfaceHandle() = default;
    Ve_BaseSurfaceHandle(Ve_BaseSurface* surface) : QELXTypedHandle<Ve_BaseSurface>(surface) {}
    Ve_BaseSurfaceHandle(const Ve_BaseSurfaceHandle&) = default;
    Ve_BaseSurfaceHandle& operator=(const Ve_BaseSurfaceHandle&) = default;
    ~Ve_BaseSurfaceHandle() override = default;
};
