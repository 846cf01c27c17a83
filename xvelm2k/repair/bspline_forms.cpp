// Open, closed and periodic flags of B-splines set to what their shape says.
// The flags are never changed on the B-spline a geometry holds: a changed
// copy is handed to the geometry, which was taken for update (backed up).
#include <cmath>
#include <memory>

#include "qelx/qelx_math.hxx"
#include "repair/post_process_internal.hxx"
#include "repair/post_process_util.hxx"
#include "velm/bspline.hxx"
#include "velm/topology_api.hxx"

using namespace ve_repair;

namespace {

enum class Form { Open, Closed, Periodic };

spline& splineForUpdate(FACE* face)
{
    return static_cast<spline&>(face->geometry()->equation_for_update());
}

// Sets the form in one direction on a fresh copy of the face's B-spline.
void setSurfaceForm(FACE* face, bool inU, Form form)
{
    spline& sp = splineForUpdate(face);
    bs3_surface copy = bs3_surface_copy(sp.sur());
    if (form == Form::Open)
        inU ? bs3_surface_set_open_u(copy) : bs3_surface_set_open_v(copy);
    else if (form == Form::Closed)
        inU ? bs3_surface_set_closed_u(copy) : bs3_surface_set_closed_v(copy);
    else
        inU ? bs3_surface_set_periodic_u(copy) : bs3_surface_set_periodic_v(copy);
    sp.set_sur(copy, -1.0);
}

struct Seam {
    bool closed = true;
    bool periodic = true;
};

// Samples one seam of the surface: the v seam (v low against v high at 11
// values of u) or the u seam. A sample where the line across the seam
// collapses (the surface's own singularity test, asked with the sample's
// parameter along the seam) cannot be periodic.
Seam sampleSeam(bs3_surface s, const spline& sp, bool vSeam)
{
    Seam seam;
    const QELpar_box box = bs3_surface_range(s);
    const QELinterval along = vSeam ? box.u_range() : box.v_range();
    const QELinterval across = vSeam ? box.v_range() : box.u_range();
    for (int k = 0; k <= 10; ++k) {
        const double a = along.start_pt() + k * (along.end_pt() - along.start_pt()) / 10.0;
        const QELpar_pos lo = vSeam ? QELpar_pos(a, across.start_pt()) : QELpar_pos(across.start_pt(), a);
        const QELpar_pos hi = vSeam ? QELpar_pos(a, across.end_pt()) : QELpar_pos(across.end_pt(), a);
        QELposition p0, p1;
        QELvector d0[2], d1[2];
        bs3_surface_eval(lo, s, p0, d0);
        bs3_surface_eval(hi, s, p1, d1);
        if (!same_point(p0, p1, QELresabs)) {
            seam.closed = seam.periodic = false;
            break;
        }
        if (!seam.periodic)
            continue;
        const QELvector& t0 = vSeam ? d0[1] : d0[0];
        const QELvector& t1 = vSeam ? d1[1] : d1[0];
        const bool singular = vSeam ? sp.singular_u(a) : sp.singular_v(a);
        if (singular || t0.len() <= 0.0 || t1.len() <= 0.0 || std::fabs(t0.len() - t1.len()) > QELresabs ||
            !same_vector(t0 / t0.len(), t1 / t1.len(), QELresnor))
            seam.periodic = false;
    }
    return seam;
}

// Phase A: the seams as the surface's points and derivatives show them.
void formsFromSeams(FACE* face)
{
    const spline& sp = *splineOf(face);
    bs3_surface s = bs3_surface_copy(sp.sur());
    Seam u, v;
    try {
        v = sampleSeam(s, sp, true);
        u = sampleSeam(s, sp, false);
    } catch (const velm_exception&) {
        // A sample the kernel cannot evaluate ends this phase for the face.
        bs3_surface_delete(s);
        return;
    }
    bs3_surface_delete(s);
    const auto current = [&] { return splineOf(face)->sur(); };
    if ((bs3_surface_closed_u(current()) != 0) != u.closed) {
        if (u.closed)
            setSurfaceForm(face, true, Form::Closed);
        else if (!bs3_surface_periodic_u(current()))
            setSurfaceForm(face, true, Form::Open);
    }
    if ((bs3_surface_closed_v(current()) != 0) != v.closed) {
        if (v.closed)
            setSurfaceForm(face, false, Form::Closed);
        else if (!bs3_surface_periodic_v(current()))
            setSurfaceForm(face, false, Form::Open);
    }
    if (bs3_surface_periodic_u(current()) && !u.periodic)
        setSurfaceForm(face, true, u.closed ? Form::Closed : Form::Open);
    if ((bs3_surface_periodic_v(current()) != 0) != v.periodic)
        setSurfaceForm(face, false, v.periodic ? Form::Periodic : v.closed ? Form::Closed : Form::Open);
}

// Phase B: the control net's end rows. A periodic direction is left alone:
// its net wraps round and need not repeat its first row at the end.
void formsFromNet(FACE* face)
{
    bs3_surface s = splineOf(face)->sur();
    int nu = 0, nv = 0;
    QELposition* pts = nullptr;
    bs3_surface_control_points(s, nu, nv, pts);
    bool openU = false, openV = false;
    for (int j = 0; j < nv; ++j)
        openU = openU || !same_point(pts[j], pts[(nu - 1) * nv + j], QELresabs);
    for (int i = 0; i < nu; ++i)
        openV = openV || !same_point(pts[i * nv], pts[i * nv + nv - 1], QELresabs);
    delete[] pts;
    if (!bs3_surface_periodic_u(s) && (bs3_surface_closed_u(s) != 0) == openU)
        setSurfaceForm(face, true, openU ? Form::Open : Form::Closed);
    s = splineOf(face)->sur();
    if (!bs3_surface_periodic_v(s) && (bs3_surface_closed_v(s) != 0) == openV)
        setSurfaceForm(face, false, openV ? Form::Open : Form::Closed);
}

bool exactSplineFace(const FACE* face)
{
    const spline* sp = splineOf(face);
    return sp && sp->get_spl_sur().id() == exact_spl_sur::id;
}

} // namespace

void Ve_PostProcessUtil::fixSurfaceForms()
{
    if (!body)
        return;
    for (FACE* face : bodyFaces(kernelBody())) {
        if (!exactSplineFace(face) || !splineOf(face)->sur())
            continue;
        // Errors outside the sampling pass on to the caller once the guard closed.
        const int kept = velmGuard([&] { formsFromSeams(face); });
        if (kept != 0)
            sys_error(kept);
        if (splineOf(face)->sur())
            formsFromNet(face);
    }
}

void Ve_PostProcessUtil::fixCurveForms()
{
    if (!body)
        return;
    for (EDGE* edge : bodyEdges(kernelBody())) {
        const intcurve* ic = intcurveOf(edge);
        if (!ic || !ic->cur())
            continue;
        bs3_curve b = ic->cur();
        const QELinterval r = bs3_curve_range(b);
        QELposition p0, p1;
        QELvector d0, d1;
        bs3_curve_eval(r.start_pt(), b, p0, &d0);
        bs3_curve_eval(r.end_pt(), b, p1, &d1);
        const QELvector t0 = d0.len() >= Gk_Def::FuzzReal ? d0 / d0.len() : QELvector();
        const QELvector t1 = d1.len() >= Gk_Def::FuzzReal ? d1 / d1.len() : QELvector();
        bs3_curve n = nullptr;
        const bool meet = same_point(p0, p1, QELresabs);
        if (meet && bs3_curve_open(b)) {
            n = bs3_curve_copy(b);
            bs3_curve_set_closed(n);
        } else if (!meet && !bs3_curve_open(b)) {
            n = bs3_curve_copy(b);
            bs3_curve_set_open(n);
        }
        // The copy is ours until the curve takes it: a kernel error on the way frees it.
        std::unique_ptr<bs3_curve_def, void (*)(bs3_curve_def*)> held(n, [](bs3_curve_def* c) { bs3_curve_delete(c); });
        bs3_curve c = n ? n : b;
        if (bs3_curve_closed(c) && (t0 - t1).len() <= Gk_Def::FuzzReal &&
            std::fabs(d0.len() - d1.len()) <= QELresabs && !bs3_curve_periodic(c)) {
            bs3_curve p = bs3_curve_copy(c);
            bs3_curve_set_periodic(p);
            held.reset(p);
            n = p;
        }
        if (n) {
            auto& target = static_cast<intcurve&>(edge->geometry()->equation_for_update());
            target.set_cur(held.release(), target.fitol(), 1, 0);
        }
    }
}

void Ve_PostProcessUtil::MakeCurvesClosed()
{
    if (!body)
        return;
    for (EDGE* edge : bodyEdges(kernelBody())) {
        ENTITY_LIST vertices;
        api_get_vertices(edge, vertices);
        const intcurve* ic = intcurveOf(edge);
        if (!edge->closed() || vertices.count() != 1 || !ic || !ic->cur() || bs3_curve_closed(ic->cur()) ||
            bs3_curve_periodic(ic->cur()))
            continue;
        int dim = 0, degree = 0, rational = 0, n = 0, nk = 0;
        QELposition* pts = nullptr;
        double* weights = nullptr;
        double* knots = nullptr;
        bs3_curve_to_array(ic->cur(), dim, degree, rational, n, pts, weights, nk, knots);
        const QELposition f = pts[0];
        const QELposition l = pts[n - 1];
        const double w = rational && weights ? weights[0] : 1.0;
        delete[] pts;
        delete[] weights;
        delete[] knots;
        if (!(distance(f, l) < Gk_Def::FuzzSnap))
            continue;
        auto& old = static_cast<intcurve&>(edge->geometry()->equation_for_update());
        bs3_curve b = old.cur();
        bs3_curve_set_closed(b);
        bs3_curve_set_ctrlpt(b, n - 1, f, w);
        const QELinterval range = old.full_range();
        intcurve fresh(bs3_curve_copy(b), old.fitol(), old.surf1(), old.surf2(),
                       old.pcur1() ? bs2_curve_copy(old.pcur1()) : nullptr,
                       old.pcur2() ? bs2_curve_copy(old.pcur2()) : nullptr, &range);
        if (old.reversed())
            fresh.negate();
        edge->set_geometry(make_curve(fresh), 1, 1);
        VERTEX* v = static_cast<VERTEX*>(vertices[0]);
        if (v->geometry() && distance(v->geometry()->coords(), f) < Gk_Def::FuzzSnap)
            v->geometry()->set_coords(f);
    }
}
