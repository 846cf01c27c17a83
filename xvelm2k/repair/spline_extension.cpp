// Spline surfaces extended so that they cover what their faces' pcurves need.
#include <algorithm>
#include <cmath>
#include <optional>

#include "geometry/seam_pcurves.hxx"
#include "qelx/qelx_math.hxx"
#include "repair/post_process_internal.hxx"
#include "repair/post_process_util.hxx"
#include "velm/bspline.hxx"
#include "velm/spline_conversion.hxx"
#include "velm/surface_build.hxx"
#include "velm/tolerant.hxx"

using namespace ve_repair;

namespace {

// The box of the coedge's pcurve at machine resolution, widened by the
// margin; nothing for a coedge without pcurve.
std::optional<QELpar_box> coedgeBox(const COEDGE* c, double margin)
{
    const PCURVE* pc = c ? c->geometry() : nullptr;
    if (!pc || !pc->has_equation())
        return std::nullopt;
    QELpar_box box = bs2_curve_box(pc->def().cur(), QELresmch);
    const QELpar_vec shift = pc->def().offset();
    box = QELpar_box(QELinterval(box.u_range().start_pt() + shift.du, box.u_range().end_pt() + shift.du),
                     QELinterval(box.v_range().start_pt() + shift.dv, box.v_range().end_pt() + shift.dv));
    if (margin != 0.0)
        box.enlarge(margin, margin);
    return box;
}

// The union of the boxes of every coedge of the face; nothing when none has a pcurve.
std::optional<QELpar_box> facePcurveBox(const FACE* face)
{
    std::optional<QELpar_box> all;
    for (LOOP* l = face->loop(); l; l = l->next()) {
        COEDGE* first = l->start();
        COEDGE* c = first;
        do {
            if (const auto box = coedgeBox(c, 0.0))
                all = all ? (*all | *box) : *box;
            c = c ? c->next() : nullptr;
        } while (c && c != first);
    }
    return all;
}

// The first distance above its edge's tolerance between an edge of the face's
// first loop and the face's spline surface; 0 when there is none.
double faceEdgeDeviation(const FACE* face)
{
    const LOOP* loop = face->loop();
    const spline* srf = splineOf(face);
    if (!loop || !srf)
        return 0.0;
    COEDGE* first = loop->start();
    COEDGE* c = first;
    do {
        const EDGE* e = c->edge();
        double tol = std::max(e ? e->get_tolerance() : 0.0, QELresabs);
        if (tol < QELresmch + QELresfit)
            tol = 2.0 * (QELresmch + QELresfit);
        const QELinterval r = e ? edge_curve_range(e) : QELinterval();
        if (!e || !e->geometry() || !e->geometry()->has_equation() || !r.finite() || r.length() <= QELresabs)
            return 0.0;
        // The last sample is taken at the edge's end, not 0.5 % beyond it,
        // where an edge lying on its surface would leave it.
        for (double f : {0.005, 0.205, 0.405, 0.605, 0.805, 1.0}) {
            const QELposition p = e->geometry()->equation().eval_position(r.interpolate(f));
            QELposition foot;
            srf->point_perp(p, foot);
            if (distance(p, foot) > tol)
                return distance(p, foot);
        }
        c = c->next();
    } while (c && c != first);
    return 0.0;
}

// Extends a copy of the face's spline to the box in the light guard, sets it
// on the face and fits the face's pcurves anew. When the extension failed the
// face keeps its surface and pcurves: an unextended copy would only refit
// the pcurves on the same surface.
bool extendFaceToBox(FACE* face, const QELpar_box& box)
{
    spline copy(*splineOf(face));
    copy.make_unique();
    if (velmGuard([&] {
            extension_info u, v;
            extend_surface(copy, box, 1, u, v);
        }) != 0)
        return false;
    face->set_geometry(make_surface(copy), 1);
    sg_rm_pcurves_from_entity(face);
    ve_add_loop_pcurves(face);
    return true;
}

// Extends a copy of the face's spline to the box; the face takes the
// extension only when it made no discontinuity of order degree + 1.
void extendIfSmooth(FACE* face, const QELpar_box& box)
{
    spline copy(*splineOf(face));
    copy.make_unique();
    extension_info u, v;
    // A failed extension leaves the face's own surface in place, not an equal copy of it.
    if (velmGuard([&] { extend_surface(copy, box, 1, u, v); }) != 0)
        return;
    bs3_surface b = bs3_surface_copy(copy.sur());
    const bool smooth = u.n_discontinuities(bs3_surface_degree_u(b) + 1) == 0 &&
                        v.n_discontinuities(bs3_surface_degree_v(b) + 1) == 0;
    bs3_surface_delete(b);
    if (smooth)
        face->set_geometry(make_surface(copy), 1);
}

} // namespace

void Ve_PostProcessUtil::extendSplineSurf(bool iterate)
{
    if (!body)
        return;
    for (FACE* face : bodyFaces(kernelBody())) {
        if (!splineOf(face))
            continue;
        const auto pcurves = facePcurveBox(face);
        if (!pcurves)
            continue;
        if (!iterate) {
            extendFaceToBox(face, *pcurves);
            continue;
        }
        // A pass whose extension failed undoes the face's whole iteration:
        // the passes after it would start from another surface than planned.
        velmInnerCall([&] {
            QELpar_box box = *pcurves;
            double previous = 0.0;
            int repeats = 0;
            for (int pass = 0; pass < 25; ++pass) {
                const double d = faceEdgeDeviation(face);
                if (Gk_Func::lesseq(std::fabs(previous - d), Gk_Def::FuzzPos) && ++repeats >= 4)
                    break;
                if (Gk_Func::lesseq(std::fabs(d), Gk_Def::FuzzPos))
                    break;
                previous = d;
                box.enlarge(std::fabs(box.u_range().length()) / 20.0, std::fabs(box.v_range().length()) / 50.0);
                if (!extendFaceToBox(face, box))
                    velm_api_error_throw(VELM_API_FAILED);
            }
        });
    }
}

void Ve_PostProcessUtil::extendSplineSurf(FACE* face)
{
    if (!body || !splineOf(face))
        return;
    const auto pcurves = facePcurveBox(face);
    if (!pcurves)
        return;
    const QELpar_box range = splineOf(face)->param_range();
    // The pcurves leave the surface wherever their box is not inside its
    // range, whatever the two boxes' sizes.
    const auto outside = [](const QELinterval& in, const QELinterval& out) {
        return in.start_pt() < out.start_pt() - Gk_Def::FuzzKnot || in.end_pt() > out.end_pt() + Gk_Def::FuzzKnot;
    };
    if (outside(pcurves->u_range(), range.u_range()) || outside(pcurves->v_range(), range.v_range()))
        extendIfSmooth(face, *pcurves);
}

void Ve_PostProcessUtil::extendSplineSurf(FACE* face, COEDGE* coedge, double t)
{
    if (!body || !coedge || !splineOf(face) || !coedge->geometry() || !coedge->geometry()->has_equation())
        return;
    const QELpar_pos uv = coedge->geometry()->def().eval_position(t);
    const QELpar_box range = splineOf(face)->param_range();
    double u0 = range.u_range().start_pt(), u1 = range.u_range().end_pt();
    double v0 = range.v_range().start_pt(), v1 = range.v_range().end_pt();
    if (uv.u >= u0 && uv.u <= u1 && uv.v >= v0 && uv.v <= v1)
        return;
    if (uv.u < u0)
        u0 = uv.u - std::fabs(0.01 * uv.u);
    if (uv.u > u1)
        u1 = uv.u + std::fabs(0.01 * uv.u);
    if (uv.v < v0)
        v0 = uv.v - std::fabs(0.01 * uv.v);
    if (uv.v > v1)
        v1 = uv.v + std::fabs(0.01 * uv.v);
    extendIfSmooth(face, QELpar_box(QELinterval(u0, u1), QELinterval(v0, v1)));
}
