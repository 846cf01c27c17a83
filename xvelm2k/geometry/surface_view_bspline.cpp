// B-spline export and poles of the surface view.
#include <memory>
#include <numbers>

#include "geometry/geometry_arrays.hxx"
#include "geometry/surface_view.hxx"
#include "model/kernel_call_bracket.hxx"
#include "model/math_types.hxx"
#include "qelx/qelx_errors.hxx"

namespace {

// Fit of the coarse approximation a spline gets before it is exported.
constexpr double kExportFit = 0.1;
// Fit asked of the kernel's approximation of the exported surface. A surface handed out
// in place of another must stay near the edges and pcurves on it: a fit of 1.0 moved
// the faces of elliptical cones by hundredths while their edges stayed put.
constexpr double kApproximationFit = 1e-5;


} // namespace

QELXBSplineNetDef3D Ve_SurfaceTag::toNet(bs3_surface b)
{
    int dim = 0, ratU = 0, ratV = 0, formU = 0, formV = 0, poleU = 0, poleV = 0, nu = 0, nv = 0;
    int degU = 0, degV = 0, nku = 0, nkv = 0;
    QELposition* points = nullptr;
    double* weights = nullptr;
    double* uknots = nullptr;
    double* vknots = nullptr;
    bs3_surface_to_array(b, dim, ratU, ratV, formU, formV, poleU, poleV, nu, nv, points, weights, degU, nku, uknots,
                         degV, nkv, vknots);
    const KernelArrays arrays(points, weights, uknots, vknots);
    const bool rational = (ratU || ratV) && weights;
    QELXPolygonNetWeight3D net;
    for (int i = 0; i < nu; ++i) {
        QELXPolygonWeight3D row;
        for (int j = 0; j < nv; ++j) {
            const int k = i * nv + j;
            row.Add(QELXWeightPoint3D(Ve_Pt3(points[k]), rational ? weights[k] : 1.0));
        }
        net.Add(row);
    }
    const Gk_Partition u(degU, uknots, nku, startsClamped(uknots, nku, degU, Gk_Def::FuzzKnot), Gk_Def::FuzzKnot);
    const Gk_Partition v(degV, vknots, nkv, startsClamped(vknots, nkv, degV, Gk_Def::FuzzKnot), Gk_Def::FuzzKnot);
    return QELXBSplineNetDef3D(u, v, net, formU == 1 || formU == 2, formV == 1 || formV == 2, 4, 4, false);
}

QELXBSplineNetDef3D Ve_SurfaceTag::getSplineSurface() const
{
    if (typeId() != Gk_SurfaceType3::BSpline)
        return QELXBSplineNetDef3D();
    bs3_surface own = nullptr;
    const outcome r = velmInnerCall([&] { own = static_cast<const spline&>(geometry()).sur(-1.0); });
    if (!r.ok() || !own) {
        Gk_ErrMgr::doAssert("ve_surfacetag", 768);
        return QELXBSplineNetDef3D();
    }
    return toNet(own);
}

bs3_surface Ve_SurfaceTag::bspline_bs3(const Gk_Span& span) const
{
    // A spline is approximated through a copy, refitted first when its own
    // fit is coarse; the entity keeps its geometry.
    std::unique_ptr<spline> copy;
    if (getDef()->type() == 10) {
        velmInnerCall([&] {
            copy.reset(new spline(static_cast<const spline&>(geometry())));
            if (copy->fitol() > kExportFit)
                if (bs3_surface finer = copy->sur(kExportFit))
                    copy->set_sur(finer, kExportFit);
        });
    }
    QELXBox3D fwBox;
    GetBoundingBox(span, fwBox);
    const QELbox region(Ve_Pt3(fwBox.low()), Ve_Pt3(fwBox.high()));
    bs3_surface result = nullptr;
    const int kept = velmGuard([&] {
        const surface* target = copy ? static_cast<const surface*>(copy.get()) : &geometry();
        const off_spl_sur* off =
            copy && copy->get_spl_sur().id() == off_spl_sur::id ? static_cast<const off_spl_sur*>(&copy->get_spl_sur())
                                                               : nullptr;
        if (target->subsetted()) {
            if (getDef()->type() == 2)
                getDef()->equation_for_update().unlimit();
            else if (off && off->base().type() == 2)
                copy->unlimit();
        }
        result = bs3_surface_make_sur(*target, region, kApproximationFit, nullptr, nullptr);
    });
    // No net for want of memory is no answer about the surface.
    if (kept == qelbase_mmgr_errmod.message_code(8)) {
        if (result)
            bs3_surface_delete(result);
        throw QELXAllocException();
    }
    return result;
}

QELXBSplineNetDef3D Ve_SurfaceTag::bspline(const Gk_Span& span, const Gk_ApproxInfo*,
                                           Gk_SurfApproxInfoHandle* approx) const
{
    if (approx)
        *approx = nullptr;
    QELXBSplineNetDef3D net;
    if (bs3_surface b = bspline_bs3(span)) {
        net = toNet(b);
        bs3_surface_delete(b);
    }
    if (approx) {
        const Gk_SurfApproxInfo::Enum kind = getDef()->type() == 2 ? Gk_SurfApproxInfo::Cone : Gk_SurfApproxInfo::General;
        *approx = new Gk_SurfApproxInfo(span, span, kind, QELresfit, Gk_ApproxInfo::Any);
    }
    return net;
}

QELXDynamicArray<Gk_SurfacePole> Ve_SurfaceTag::getPoles() const
{
    QELXDynamicArray<Gk_SurfacePole> poles;
    const int t = typeId();
    if (t == Gk_SurfaceType3::Cone) {
        const QELXPoint3D apex = Ve_Pt3(static_cast<const cone&>(geometry()).get_apex());
        const double u = invert(apex, nullptr)[0];
        poles.Add(Gk_SurfacePole{apex, QELXPoint2D(u, 0.0), QELXPoint2D(u, 2 * std::numbers::pi)});
        return poles;
    }
    if (t != Gk_SurfaceType3::BSpline)
        return poles;
    bs3_surface own = nullptr;
    if (!velmViewGuard("ve_surfacetag", __LINE__, [&] { own = static_cast<const spline&>(geometry()).sur(-1.0); }) ||
        !own)
        return poles;
    int dim = 0, ratU = 0, ratV = 0, formU = 0, formV = 0, poleU = 0, poleV = 0, nu = 0, nv = 0;
    int degU = 0, degV = 0, nku = 0, nkv = 0;
    QELposition* points = nullptr;
    double *weights = nullptr, *uknots = nullptr, *vknots = nullptr;
    bs3_surface_to_array(own, dim, ratU, ratV, formU, formV, poleU, poleV, nu, nv, points, weights, degU, nku, uknots,
                         degV, nkv, vknots);
    const KernelArrays arrays(points, weights, uknots, vknots);
    // The span ends are the B-spline's own range, whatever its knot layout.
    const QELpar_box range = bs3_surface_range(own);
    const double u0 = range.u_range().start_pt(), u1 = range.u_range().end_pt();
    const double v0 = range.v_range().start_pt(), v1 = range.v_range().end_pt();
    auto point = [&](int i, int j) { return QELXPoint3D(Ve_Pt3(points[i * nv + j])); };
    if (poleU & 1)
        poles.Add(Gk_SurfacePole{point(0, 0), QELXPoint2D(u0, v0), QELXPoint2D(u0, v1)});
    if (poleU & 2)
        poles.Add(Gk_SurfacePole{point(nu - 1, 0), QELXPoint2D(u1, v0), QELXPoint2D(u1, v1)});
    if (poleV & 1)
        poles.Add(Gk_SurfacePole{point(0, 0), QELXPoint2D(u0, v0), QELXPoint2D(u1, v0)});
    if (poleV & 2)
        poles.Add(Gk_SurfacePole{point(0, nv - 1), QELXPoint2D(u0, v1), QELXPoint2D(u1, v1)});
    return poles;
}
