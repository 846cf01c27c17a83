// B-spline conversion of a body for targets that hold only B-spline geometry.
#include <algorithm>
#include <cmath>
#include <memory>

#include "geometry/seam_pcurves.hxx"
#include "geometry/surface_utilities.hxx"
#include "heal/heal_internal.hxx"
#include "model/entity_views.hxx"
#include "qelx/qelx_options.hxx"
#include "repair/post_process_internal.hxx"
#include "repair/post_process_util.hxx"
#include "velm/body_heal.hxx"
#include "velm/bspline.hxx"
#include "velm/insanity.hxx"
#include "velm/pcurves.hxx"
#include "velm/query.hxx"
#include "velm/resurface.hxx"
#include "velm/save.hxx"
#include "velm/spline_conversion.hxx"
#include "velm/tolerance_update.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology_api.hxx"

using namespace ve_heal;

namespace {

constexpr double kSimplifyTol = 0.0025;
constexpr double kQuinticTol = 0.001;
constexpr double kBoxScale = 1.1;
constexpr double kInexactFit = 0.1;
constexpr int kPcurveRefitVersion = 1600;

bool trulyRational(bs3_surface bs)
{
    if (!bs || (!bs3_surface_rational_u(bs) && !bs3_surface_rational_v(bs)))
        return false;
    int nu = 0;
    int nv = 0;
    double* weights = nullptr;
    bs3_surface_weights(bs, nu, nv, weights);
    bool differs = false;
    for (int i = 0; weights && i < nu * nv && !differs; ++i)
        differs = std::fabs(weights[i] - 1.0) > Gk_Def::FuzzReal;
    delete[] weights;
    return differs;
}

bool exactSpline(const spline* s) { return s && s->get_spl_sur().id() == exact_spl_sur::id; }

void refreshPcurves(FACE* face, int keepTolerant)
{
    sg_rm_pcurves_from_entity(face, 0, keepTolerant);
    ve_add_loop_pcurves(face);
    // A refitted surface holds its edges only within its fit: where the
    // close fit above found no pcurve (a circle on a polynomial refit of its
    // rational surface), the pcurve is fitted within the fit tolerance, kept
    // only where the checker finds no more in the face than without it, and
    // the loops' pcurves are placed again.
    ENTITY_LIST coedges;
    velmCall([&] { return api_get_coedges(face, coedges); });
    const auto findings = [face] {
        insanity_list* list = nullptr;
        const int n = api_check_entity(face, list).ok() && list ? list->count() : -1;
        delete list;
        return n;
    };
    bool added = false;
    int found = -2;
    for (COEDGE* c : ve_repair::listed<COEDGE>(coedges)) {
        if (c->geometry() || !c->edge() || !c->edge()->geometry())
            continue;
        if (found == -2)
            found = findings();
        if (!sg_add_pcurve_to_coedge(c))
            continue;
        const int now = findings();
        if (found < 0 || now < 0 || now > found)
            c->set_geometry(nullptr);
        else
            added = true;
    }
    if (added)
        ve_add_loop_pcurves(face);
}

int convertToQuinticNubs(BODY* body, bool tolerise, double tol)
{
    const outcome split = api_split_periodic_faces(body);
    if (!split.ok())
        sys_error(split.error_number());
    sg_split_edges_at_poles(body);
    if (tolerise) {
        ENTITY_LIST faces;
        api_get_faces(body, faces);
        for (FACE* face : ve_repair::listed<FACE>(faces)) {
            if (!ve_repair::splineOf(face))
                continue;
            ENTITY_LIST bad;
            check_edge_error(face, bad, QELresabs);
            for (EDGE* e : ve_repair::listed<EDGE>(bad)) {
                TEDGE* te = nullptr;
                if (!is_TEDGE(e))
                    api_replace_edge_with_tedge(e, te);
            }
            update_tolerance(face, 1);
        }
    }
    sg_convert_to_spline_quintic_nub(body, tol);
    return 1;
}

// The edge's curve and range, as they were, put back on every way out.
class HeldEdgeCurve {
public:
    explicit HeldEdgeCurve(EDGE* edge) : m_edge(edge), m_curve(edge->geometry()), m_range(edge->param_range())
    {
        m_curve->add();
    }
    HeldEdgeCurve(const HeldEdgeCurve&) = delete;
    HeldEdgeCurve& operator=(const HeldEdgeCurve&) = delete;
    ~HeldEdgeCurve()
    {
        velmGuard([&] {
            m_edge->set_geometry(m_curve, 1, 1);
            m_edge->set_param_range(&m_range);
        });
        m_curve->remove();
    }

private:
    EDGE* m_edge;
    CURVE* m_curve;
    QELinterval m_range;
};

// A tolerant coedge's pcurve carried over to the new spline of its face: on
// a plane mapped by the transform, on any other surface fitted again to the
// coedge's own curve.
void transferTCoedgeToSpline(COEDGE* coedge, const QELpar_transf& transform, const surface& oldSurface,
                             const spline& newSpline)
{
    if (!coedge)
        return;
    if (oldSurface.type() == 1) {
        if (!coedge->geometry() || !coedge->geometry()->has_equation())
            return;
        const pcurve& old = coedge->geometry()->def();
        bs2_curve copy = bs2_curve_copy(old.cur());
        const QELpar_vec offset = old.offset();
        if (offset.du * offset.du + offset.dv * offset.dv > QELresabs)
            bs2_curve_par_trans(copy, QELpar_transf(1.0, 1.0, offset.du, offset.dv));
        if (old.reversed())
            bs2_curve_reverse(copy);
        bs2_curve_par_trans(copy, transform);
        if (coedge->geometry()->use_count() > 1)
            coedge->set_geometry(velm_make_pcurve(copy, QELresfit, newSpline, __FILE__, __LINE__));
        else
            coedge->geometry()->set_def(copy, QELresfit, newSpline);
        return;
    }
    EDGE* edge = coedge->edge();
    if (!edge || !edge->geometry() || !edge->geometry()->has_equation() || !is_TCOEDGE(coedge))
        return;
    auto* tolerant = static_cast<TCOEDGE*>(coedge);
    const QELinterval own = tolerant->param_range();
    const HeldEdgeCurve held(edge);
    velmGuard([&] {
        // The pcurve follows the coedge's own curve where it has one.
        if (CURVE* own3d = tolerant->get_3D_curve(); own3d && own3d->has_equation()) {
            std::unique_ptr<curve> c(own3d->equation().make_copy());
            if (coedge->sense() != edge->sense())
                c->negate();
            edge->set_geometry(make_curve(*c), 1, 1);
        }
        // The coedge's own range runs its way: the edge's runs the edge's, which is the
        // coedge's when the coedge is forward on it, whatever the edge's own sense.
        const QELinterval onEdge = coedge->sense() == FORWARD ? own : -own;
        edge->set_param_range(&onEdge);
        coedge->set_geometry(nullptr);
        if (sg_add_pcurve_to_coedge(coedge, 0, 0, 0) && coedge->geometry())
            tolerant->set_param_range(coedge->geometry()->def().param_range());
    });
}

// Whether the spline's own normal points away from the surface's at the
// middle of the face: a surface of left-handed parameters has the other one.
bool normalTurned(const spline& made, const surface& old, const FACE* face)
{
    QELpar_box box;
    if (!sg_get_face_par_box(face, box) || box.empty())
        return false;
    const QELpar_pos mid = box.mid();
    return made.eval_normal(made.param(old.eval_position(mid))) % old.eval_normal(mid) < 0.0;
}

// The box round a face that nearly closes a turn of its surface (a wall of
// a cylinder round most of its axis) holds the whole turn, which a spline
// made over the box takes from the surface's own seam, wherever the face
// lies: the face would then cross the spline's ends, where no pcurve can
// follow it. There the surface is limited to the face's own stretch of that
// parameter, widened a little on both sides but short of a turn; null when
// the box keeps within a turn anyway or the face goes all the way round.
surface* keptToTheFacesTurn(const surface& old, const QELbox& box, const QELpar_box& stretch)
{
    if (stretch.empty())
        return nullptr;
    const QELpar_box boxed = old.param_range(&box);
    const auto limited = [](double period, const QELinterval& found, const QELinterval& own, QELinterval& out) {
        if (period <= 0.0 || found.length() < period - QELresnor || !own.finite() || own.length() >= period - QELresnor)
            return false;
        const double margin = std::min(0.05 * period, 0.45 * (period - own.length()));
        out = QELinterval(own.start_pt() - margin, own.end_pt() + margin);
        return true;
    };
    QELinterval u, v;
    const bool onU = limited(old.param_period_u(), boxed.u_range(), stretch.u_range(), u);
    const bool onV = limited(old.param_period_v(), boxed.v_range(), stretch.v_range(), v);
    if (!onU && !onV)
        return nullptr;
    surface* kept = old.make_copy();
    if (onU)
        kept->limit_u(u);
    if (onV)
        kept->limit_v(v);
    return kept;
}

void convertFaceToSplineInScaledBox(FACE* face)
{
    if (!face || !face->geometry() || !face->geometry()->has_equation() || ve_repair::splineOf(face))
        return;
    const surface& old = face->geometry()->equation();
    // The face's own stretch of the surface's parameters, read while its
    // pcurves still run unbroken across any seam.
    QELpar_box stretch;
    if (!sg_get_face_par_box(face, stretch))
        stretch = QELpar_box();
    // Exact coedges get their pcurves afresh at the end; the tolerant ones'
    // are carried over to the new surface.
    sg_rm_pcurves_from_entity(face, 0, 1);
    QELbox box = face->bound() ? *face->bound() : get_face_box(face);
    const QELposition mid = interpolate(0.5, box.low(), box.high());
    const QELvector half = (box.high() - box.low()) * (0.5 * kBoxScale);
    box = QELbox(mid - half, mid + half);
    const std::unique_ptr<surface> kept(keptToTheFacesTurn(old, box, stretch));
    QELpar_transf transform;
    bs3_surface bs = bs3_surface_make_sur(kept ? *kept : old, box, 0.0, nullptr, &transform);
    if (!bs)
        sys_error(qelvelm_api_errmod.message_code(0));
    spline made(bs);
    bs3_surface_delete(bs);
    // The face's sense refers to its surface's outward side: the spline
    // keeps the old surface's.
    if (normalTurned(made, old, face))
        made.negate();
    // The old surface stays referenced by the held entity until the face is rebuilt.
    SURFACE* held = face->geometry();
    held->add();
    face->set_geometry(make_surface(made));
    for (LOOP* l = face->loop(); l; l = l->next())
        for (COEDGE* c : ve_repair::listed<COEDGE>([&] {
                 ENTITY_LIST out;
                 api_get_coedges(l, out);
                 return out;
             }())) {
            EDGE* e = c->edge();
            if (is_TCOEDGE(c)) {
                if (transform.identity())
                    continue;
                transferTCoedgeToSpline(c, transform, held->equation(), made);
                static_cast<TCOEDGE*>(c)->set_3D_curve(nullptr);
                if (e)
                    for (VERTEX* v : {e->start(), e->end()})
                        if (v)
                            reset_boxes(v);
                continue;
            }
            if (!e || !e->geometry() || !e->geometry()->has_equation())
                continue;
            const curve& cu = e->geometry()->equation();
            const QELinterval r = e->param_range();
            if (cu.periodic() && r.finite() && std::fabs(cu.param_period() - r.length()) > QELresnor) {
                std::unique_ptr<curve> limited(cu.make_copy());
                limited->limit(e->sense() == REVERSED ? -r : r);
                e->set_geometry(make_curve(*limited), 1);
            }
        }
    held->remove();
    ve_add_loop_pcurves(face);
    option_header* trim = find_option(QELXOptionName::trim_faces);
    const bool trims = !trim || ((trim->type() == option_int || trim->type() == option_logical) && trim->count() != 0);
    if (trims)
        trim_face(face, nullptr);
}

bool convertToSplineInScaledBox(ENTITY*& entity)
{
    if (Ve_OptionDoc::isOn(Ve_OptionDoc::SplitPeriodic))
        sg_split_periodic_faces(entity);
    sg_split_edges_at_poles(entity);
    if (is_FACE(entity))
        return convert_face(static_cast<FACE*>(entity));
    if (!is_SHELL(entity) && !is_BODY(entity))
        return false;
    ENTITY_LIST faces;
    api_get_faces(entity, faces);
    for (FACE* f : ve_repair::listed<FACE>(faces))
        convertFaceToSplineInScaledBox(f);
    return true;
}

void fixCoedgeHullDistances(BODY* body)
{
    Ve_BodyTag* view = ve_view<Ve_BodyTag>(body);
    const QELXDynamicArray<Ve_FaceTag*> faces = view->getFaces();
    for (int i = 0; i < faces.Count(); ++i) {
        const FACE* f = reinterpret_cast<const FACE*>(faces[i]);
        const SURFACE* s = f->geometry();
        if (!s || !s->has_equation() || !(s->equation().periodic_u() || s->equation().periodic_v()))
            continue;
        const QELXDynamicArray<Ve_CoedgeTag*> coedges = faces[i]->getCoedges();
        for (int k = 0; k < coedges.Count(); ++k)
            coedges[k]->fixHullDistance();
    }
}

void convertBody(Ve_BodyTag* self, bool splitPeriodic, bool forceNonRational);

} // namespace

Ve_BodyTag* Ve_BodyTag::bspline(bool splitPeriodic, bool forceNonRational)
{
    inTask("PreprocessBsplineConvStart", "PreprocessBsplineConvEnd", "PreprocessBsplineConv",
           [&] { convertBody(this, splitPeriodic, forceNonRational); });
    return this;
}

namespace {

void convertBody(Ve_BodyTag* self, bool splitPeriodic, bool forceNonRational)
{
    BODY* body = reinterpret_cast<BODY*>(self);
    bool scaledOk = false;
    const bool converted = body && velmCall([&] {
                                       if (Ve_OptionDoc::isOn(Ve_OptionDoc::ScaleBndBoxCnvrtToSpline)) {
                                           ENTITY* e = body;
                                           scaledOk = convertToSplineInScaledBox(e);
                                       } else if (Ve_OptionDoc::isOn(Ve_OptionDoc::ConicAsNUBS)) {
                                           const bool curves = Ve_OptionDoc::isOn(Ve_OptionDoc::EnableCurveSimplification);
                                           const bool surfaces =
                                               Ve_OptionDoc::isOn(Ve_OptionDoc::EnableSurfaceSimplification);
                                           if (curves || surfaces) {
                                               simplify_options options;
                                               options.set_simplification_tol(kSimplifyTol);
                                               options.set_do_curve_simplification(curves);
                                               options.set_do_surface_simplification(surfaces);
                                               const outcome r = api_simplify_entity(body, &options);
                                               if (!r.ok())
                                                   sys_error(r.error_number());
                                           }
                                           convertToQuinticNubs(body, true, kQuinticTol);
                                       } else if (convert_to_spline(body) != 1) {
                                           sys_error(qelvelm_api_errmod.message_code(0));
                                       }
                                   }).ok();
    if (!converted && !scaledOk)
        return;
    if (splitPeriodic)
        self->splitPeriodics();
    const double smallEdge = Ve_OptionDoc::SmallEdgeTol ? Ve_OptionDoc::SmallEdgeTol->value() : 0.0;
    Ve_PostProcessUtil(self).removeSmallEdges(smallEdge, true);
    fixCoedgeHullDistances(body);
    if (!Ve_OptionDoc::isOn(Ve_OptionDoc::UseSurfaceLimits))
        velmInnerCall([&] { trim_body_faces(body, nullptr); });
    self->replaceInexactSurf();
    if (!Ve_OptionDoc::isOn(Ve_OptionDoc::SplineAsRational) || forceNonRational)
        self->replaceRationalSurf();
}

} // namespace

void Ve_BodyTag::replaceRationalSurf()
{
    ENTITY_LIST faces;
    velmCall([&] { return api_get_faces(getDef(), faces); });
    for (FACE* face : ve_repair::listed<FACE>(faces)) {
        const spline* s = ve_repair::splineOf(face);
        if (!exactSpline(s) || !trulyRational(s->sur(-1.0)))
            continue;
        // Each face alone: a fit or refresh that fails leaves that face as it was.
        velmInnerCall([&] {
            ::spline fitted;
            if (!replaceSplineSurface(*s, fitted, face))
                return;
            face->set_geometry(make_surface(fitted));
            // A face without loops (a closed surface bounding itself) keeps
            // its new surface and has nothing to refresh.
            if (!face->loop() || !face->loop()->start())
                return;
            refreshPcurves(face, 0);
            ENTITY_LIST edges, bad, made;
            ENTITY* worst = nullptr;
            double worstError = -1.0;
            api_get_edges(face, edges);
            const outcome r = api_check_edge_errors(edges, bad, worst, worstError, QELresabs, false, &made);
            if (!r.ok())
                sys_error(r.error_number());
            update_tolerance(face, 1);
        });
    }
}

void Ve_BodyTag::replaceInexactSurf()
{
    ENTITY_LIST faces;
    velmCall([&] { return api_get_faces(getDef(), faces); });
    FileInfo info;
    velmCall([&] { return api_get_file_info(info); });
    for (FACE* face : ve_repair::listed<FACE>(faces)) {
        const spline* s = ve_repair::splineOf(face);
        if (!s || exactSpline(s))
            continue;
        const bool vbl = s->get_spl_sur().id() == VBL_SURF::id;
        velmInnerCall([&] {
            const double tol = std::min(kInexactFit, s->get_spl_sur().fitol());
            bs3_surface bs = nullptr;
            const int kept = velmGuard([&] { bs = s->sur(tol); });
            const bool rational = trulyRational(bs);
            if (kept != 0 || !bs || (!Ve_OptionDoc::isOn(Ve_OptionDoc::SplineAsRational) && rational)) {
                ::spline fitted;
                // A surface that cannot be fitted is left as it is.
                if (replaceSplineSurface(*s, fitted, face))
                    face->set_geometry(make_surface(fitted));
            } else {
                ::spline copy(bs);
                if (s->reverse_v)
                    copy.negate();
                face->set_geometry(make_surface(copy));
                if (vbl) {
                    resurface_options options;
                    options.set_use_R10_algorithm(0);
                    FACE* resurfaced = nullptr;
                    const outcome r = api_spline_resurface(resurfaced, face, &options);
                    if (!r.ok())
                        sys_error(r.error_number());
                }
            }
            if (bs)
                bs3_surface_delete(bs);
            if (info.version() < kPcurveRefitVersion || rational)
                refreshPcurves(face, Ve_OptionDoc::isOn(Ve_OptionDoc::ConicAsNUBS) ? 1 : 0);
        });
    }
}
