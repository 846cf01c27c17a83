// Coincident control points of edge curves and spline surfaces, found by the
// kernel's B-spline checks and put right by the kernel's own fixes.
#include "model/entity_views.hxx"
#include "qelx/qelx_events.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "repair/post_process_internal.hxx"
#include "repair/post_process_util.hxx"
#include "velm/bspline.hxx"
#include "velm/check.hxx"
#include "velm/options.hxx"
#include "velm/query.hxx"
#include "velm/resurface.hxx"
#include "qelx/qelx_options.hxx"

using namespace ve_repair;

namespace {

constexpr const char* kSplineCheck = "SplineSurfaceCheck";

// The first status of a check result, -1 for none; the result is freed.
int firstStatus(check_status_list* found)
{
    const int status = found ? found->status() : -1;
    delete found;
    return status;
}

} // namespace

bool Ve_PostProcessUtil::fixCurveCntrlPntCoincidence()
{
    if (!body)
        return false;
    for (EDGE* edge : bodyEdges(kernelBody())) {
        if (!intcurveOf(edge))
            continue;
        velmInnerCall([&] {
            auto& ic = static_cast<intcurve&>(edge->geometry()->equation_for_update());
            bs3_curve b = ic.cur();
            int status = -1;
            velmGuard([&] {
                check_status_list wanted(status_coincident_points);
                status = firstStatus(bs3_curve_check(b, &ic, &wanted));
            });
            if (status != status_coincident_points)
                return;
            const bool fixed = velmInnerCall([&] {
                                   bs3_curve copy = bs3_curve_copy(b);
                                   check_fix fix(1), done(0);
                                   bs3_curve_fix_coi_verts(copy, fix, &done);
                                   ic.set_cur(copy, -1.0);
                               }).ok();
            if (!fixed)
                return;
            tolerateOrUndo(edge, Ve_OptionDoc::isOn(Ve_OptionDoc::CheckVelmTolerizeUsability));
        });
    }
    return true;
}

bool Ve_PostProcessUtil::fixSurfCntrlPntCoincidence()
{
    if (!body)
        return false;
    for (FACE* face : bodyFaces(kernelBody())) {
        if (!splineOf(face))
            continue;
        spline copy;
        bs3_surface b = nullptr;
        // Taken for update: the copy shares its definition with the face's
        // surface, so the surface is backed up before the fix changes it.
        if (velmGuard([&] {
                copy = static_cast<spline&>(face->geometry()->equation_for_update());
                b = copy.sur();
            }) != 0 ||
            !b)
            continue;
        check_fix fix(1), done(0);
        QELXStartTaskEvent::Fire(kSplineCheck, kSplineCheck, 50);
        int status = -1;
        velmGuard([&] {
            check_status_list wanted(status_coincident_points);
            status = firstStatus(bs3_surface_check(b, &copy, fix, done, &wanted));
        });
        QELXEndTaskEvent::Fire(0, kSplineCheck, kSplineCheck, 50, true);
        if (status == status_coincident_points)
            velmInnerCall([&] { bs3_surface_fix_degeneracy(b, fix, &done); });
    }
    return true;
}

void Ve_PostProcessUtil::resurfaceWithOldPCurves()
{
    if (!body)
        return;
    for (FACE* face : bodyFaces(kernelBody())) {
        if (!is_spline_face(face))
            continue;
        int status = -1;
        QELXStartTaskEvent::Fire(kSplineCheck, kSplineCheck, 50);
        velmGuard([&] {
            check_status_list wanted(status_self_intersecting);
            wanted.add_error(status_singular);
            check_fix none, result;
            status = firstStatus(d3_sf_check(const_cast<surface&>(face->geometry()->equation()), none, result, &wanted));
        });
        QELXEndTaskEvent::Fire(0, kSplineCheck, kSplineCheck, 50, true);
        if (status != status_singular)
            continue;
        option_header* newPcurve = find_option(QELXOptionName::new_pcurve);
        if (!newPcurve)
            continue;
        const int wasOn = newPcurve->type() == option_int || newPcurve->type() == option_logical ? newPcurve->count() : 0;
        newPcurve->set(wasOn ? 0 : 1);
        velmInnerCall([&] {
            resurface_options options;
            options.set_use_R10_algorithm(0);
            FACE* resurfaced = nullptr;
            const outcome r = api_spline_resurface(resurfaced, face, &options);
            if (!r.ok())
                sys_error(r.error_number());
        });
        newPcurve->set(wasOn);
    }
}
