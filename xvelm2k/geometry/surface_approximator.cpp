#include "geometry/surface_approximator.hxx"

#include "geometry/seam_pcurves.hxx"
#include "model/kernel_call_bracket.hxx"
#include "model/math_types.hxx"
#include "repair/post_process_internal.hxx"
#include "velm/errors.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/law.hxx"
#include "velm/pcurves.hxx"
#include "velm/query.hxx"
#include "velm/spline_conversion.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

namespace {

// The face's parameter box: its 3-D box taken back to its surface's parameters.
QELpar_box faceParameterBox(const FACE* face)
{
    if (!face || !face->geometry())
        return QELpar_box();
    const QELbox box = get_face_box(face);
    return face->geometry()->equation().param_range(&box);
}

void limitToFace(FACE* face)
{
    const QELpar_box box = faceParameterBox(face);
    if (!box.empty())
        surface_limit(face->geometry()->equation_for_update(), box);
}

bool nonRational(bs3_surface b) { return !bs3_surface_rational_u(b) && !bs3_surface_rational_v(b); }

bool isExactSpline(const surface& s)
{
    return s.type() == 10 && static_cast<const spline&>(s).get_spl_sur().id() == exact_spl_sur::id;
}

void handOut(Gk_SurfApproxInfoHandle* out, const Gk_Span& box, const Gk_Span& span, double tol, int form)
{
    if (out)
        *out = new Gk_SurfApproxInfo(box, span, Gk_SurfApproxInfo::General, tol,
                                     static_cast<Gk_ApproxInfo::Form>(form));
}

// A fit within its tolerance still moves the surface off the face's edges
// (a non-rational fit of a circle cannot pass through it): each edge becomes
// tolerant as far as it needs, or the whole change is undone.
void coverEdges(FACE* face)
{
    ENTITY_LIST edges;
    const outcome listed = api_get_edges(face, edges);
    if (!listed.ok())
        throw velm_exception(listed.error_number());
    for (EDGE* e : ve_repair::listed<EDGE>(edges))
        ve_repair::tolerateOrUndo(e, true);
}

} // namespace

ENTITY* Ve_SurfaceApproximator::bspline(const Gk_Span& span, Gk_SurfApproxInfoHandle* info)
{
    if (m_approxInfo && m_approxInfo->getForm() == Gk_ApproxInfo::NonRational)
        return bsplineNonrational(span, info);
    return bsplineGeneric(span, info);
}

ENTITY* Ve_SurfaceApproximator::bsplineGeneric(const Gk_Span& span, Gk_SurfApproxInfoHandle* info)
{
    if (!m_face || !m_face->geometry())
        return nullptr;
    velmInnerCall([&] { limitToFace(m_face); });
    const surface& srf = m_face->geometry()->equation();
    if (m_approxInfo && srf.type() == 10) {
        bs3_surface fitted = nullptr;
        const outcome r = velmCall(
            [&] { return api_accurate_bs3_approximation(m_face, m_approxInfo->getTolerance(), fitted); });
        if (r.ok() && fitted) {
            const double oldFit = static_cast<const spline&>(srf).fitol();
            const bool plain = nonRational(fitted);
            const outcome set = velmInnerCall([&] {
                const bool flipped = srf.left_handed_uv();
                spline made(fitted);
                if (made.left_handed_uv() != flipped)
                    made.negate();
                sg_rm_pcurves_from_entity(m_face);
                m_face->set_geometry(make_surface(made));
                ve_add_loop_pcurves(m_face);
                coverEdges(m_face);
            });
            bs3_surface_delete(fitted);
            if (!set.ok())
                return nullptr;
            handOut(info, Ve_Span(faceParameterBox(m_face)), span, oldFit, plain ? 1 : 0);
            return m_face;
        }
        bs3_surface_delete(fitted);
    }
    ENTITY* out = nullptr;
    velmCall([&] { return api_convert_to_spline(m_face, out); });
    return out;
}

ENTITY* Ve_SurfaceApproximator::bsplineNonrational(const Gk_Span& span, Gk_SurfApproxInfoHandle* info)
{
    if (!m_face || !m_approxInfo || !m_face->geometry())
        return nullptr;
    velmInnerCall([&] { limitToFace(m_face); });
    double tol = m_approxInfo->getTolerance();
    const surface& srf = m_face->geometry()->equation();
    if (srf.type() == 10 && !isExactSpline(srf)) {
        // A generic fit that does not come out non-rational is undone.
        bool passed = false;
        velmCall([&] {
            Gk_SurfApproxInfoHandle fresh;
            passed = bsplineGeneric(span, &fresh) && fresh.IsValid() && fresh->getForm() == Gk_ApproxInfo::NonRational;
            return passed ? outcome(0, nullptr) : outcome(qelvelm_api_errmod.message_code(VELM_API_FAILED), nullptr);
        });
        if (passed) {
            handOut(info, span, span, tol, 0);
            return m_face;
        }
    } else if (isExactSpline(srf) && nonRational(static_cast<const spline&>(srf).sur())) {
        handOut(info, span, span, QELresabs, 0);
        return m_face;
    }
    // Anything else is fitted through a law over the surface first. The law
    // gives points only: the fit keeps the source's outward side by taking
    // its handedness, as the generic road does, or the face turns inside out.
    const QELpar_box box = faceParameterBox(m_face);
    const bool leftHanded = m_face->geometry()->equation().left_handed_uv();
    // The law's surface and the fit of it stand or fall together: a face
    // left on the law alone would be changed under a failure.
    ENTITY* result = nullptr;
    const outcome r = velmInnerCall([&] {
        // Each piece is freed when the next cannot be made (a bare VELM_NEW
        // handed a null on, and left the law's use behind).
        surface_law* l = VELM_ADOPT(surface_law, VELM_MAKE(surface_law_data, m_face->geometry()->equation(), box));
        law_add(l);
        spl_sur* def = nullptr;
        try {
            def = VELM_MAKE(law_spl_sur, l, box, tol);
        } catch (...) {
            l->remove();
            throw;
        }
        l->remove();
        spline made(def);
        if (made.left_handed_uv() != leftHanded)
            made.negate();
        m_face->set_geometry(make_surface(made));
        result = bsplineGeneric(span, info);
        if (!result)
            velm_api_error_throw(VELM_API_FAILED);
    });
    return r.ok() ? result : nullptr;
}
