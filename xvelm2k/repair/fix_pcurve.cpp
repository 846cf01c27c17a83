#include "repair/fix_pcurve.hxx"

#include <utility>
#include <vector>

#include "geometry/seam_pcurves.hxx"
#include "geometry/spline_curve_build.hxx"
#include "model/kernel_call_bracket.hxx"
#include "velm/errors.hxx"
#include "qelx/qelx_errors.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology_api.hxx"

using ve_spline_curve::coedgeFaceSurface;

namespace {

// A pcurve left over another range than its coedge's is lost on export (the
// face goes with it): a kernel failure on the way is the caller's.
void raiseFixFailure(const outcome& result)
{
    if (!result.ok())
        sys_error(result.error_number() != 0 ? result.error_number() : qelvelm_api_errmod.message_code(0),
                  result.get_error_info());
}

} // namespace

bs2_curve Ve_FixPCurve::createBs2Curve(const QELXBSplineDef2D& definition)
{
    const bool periodic = definition.isPeriodic();
    return ve_spline_curve::bs2FromDefinition(definition, true, periodic, periodic, QELresnor,
                                              [](const QELXPoint2D& uv) { return uv; });
}

void Ve_FixPCurve::addPCurve(COEDGE* coedge)
{
    const SURFACE* surface = coedgeFaceSurface(coedge);
    if (!surface || !surface->equation().parametric())
        return;
    // A failure of the first fit is answered by the fallback when that
    // makes the pcurve: a healing step running this has then done its work.
    const long failuresBefore = kernelFailuresMet();
    outcome added = velmCall([&] {
        if (!ve_refit_loop_pcurve(coedge))
            velm_api_error_throw(VELM_NO_CONVERGENCE);
    });
    if (added.ok() || surface->type() != 10)
        return;
    const long failuresOfFirstFit = kernelFailuresMet();
    // The fallback fits the edge curve's B-spline on the spline's own B-spline surface.
    const spline& spl = static_cast<const spline&>(surface->equation());
    const EDGE* edge = coedge->edge();
    const CURVE* cu = edge ? edge->geometry() : nullptr;
    if (!cu || !cu->has_equation())
        return;
    bs3_curve space = nullptr;
    bs2_curve fitted = nullptr;
    velmCall([&] {
        const QELinterval range = cu->equation().param_range();
        space = bs3_curve_make_cur(cu->equation(), range.start_pt(), range.end_pt(), 0.0);
        if (space)
            fitted = bs2_curve_for_curve_on_surf(space, bs3_curve_range(space), spl.sur(), QELresabs);
    });
    if (space)
        bs3_curve_delete(space);
    // No fit, no pcurve: a pcurve without a 2-D curve would break every later reader.
    if (!fitted)
        return;
    const outcome made = velmCall([&] {
        // Handed over before the making, which frees it when it fails.
        pcurve fit(std::exchange(fitted, nullptr), QELresfit, spl);
        if (coedge->sense() != edge->sense())
            fit.negate();
        coedge->set_geometry(VELM_MAKE(PCURVE, fit));
        ve_place_refitted(coedge);
    });
    if (fitted)
        bs2_curve_delete(fitted);
    // Only the first fit's failures: any the fallback met still count.
    if (made.ok() && coedge->geometry() && kernelFailuresMet() == failuresOfFirstFit)
        kernelFailuresAnswered(failuresBefore);
}

void Ve_FixPCurve::FixPCurveOnParametricSurface(COEDGE* coedge)
{
    const SURFACE* surface = coedgeFaceSurface(coedge);
    if (!surface)
        return;
    if (!coedge->geometry() && surface->equation().parametric())
        addPCurve(coedge);
    PCURVE* pc = coedge->geometry();
    if (!pc || !pc->has_equation())
        return;
    QELinterval target;
    raiseFixFailure(velmCall([&] { target = coedge->param_range(); }));
    // A pcurve that already runs over the coedge's range is left alone,
    // also one taken from the edge's intcurve.
    if (pc->def().param_range() == target)
        return;
    Gk_ErrMgr::checkAbort();
    if (pc->index() != 0) {
        Gk_ErrMgr::doAssert("ve_edgeutl", 966);
        return;
    }
    const outcome fixed = velmCall([&] {
        const pcurve& def = pc->def();
        bs2_curve copy = bs2_curve_copy(def.cur());
        if (def.reversed())
            bs2_curve_reverse(copy);
        const CURVE* along = coedge->edge() ? coedge->edge()->geometry() : nullptr;
        const double period = along && along->has_equation() ? along->equation().param_period() : 0.0;
        ve_spline_curve::pcurveOntoRange(copy, target, coedge->edge(), &surface->equation(), period, def.offset());
        pcurve replaced(copy, def.fitol(), def.surface());
        replaced.set_offset(def.offset());
        pc->set_def(replaced);
    });
    raiseFixFailure(fixed);
}

void Ve_FixPCurve::FixPCurveOnParametricSurface(EDGE* edge)
{
    if (!edge || !edge->geometry())
        return;
    // A coedge the list missed would keep its pcurve over the old range.
    ENTITY_LIST coedges;
    raiseFixFailure(api_get_coedges(edge, coedges));
    coedges.init();
    while (ENTITY* c = coedges.next())
        FixPCurveOnParametricSurface(static_cast<COEDGE*>(c));
}
