#include "geometry/surface_utilities.hxx"

#include <cmath>
#include <memory>
#include <vector>

#include "model/kernel_call_bracket.hxx"
#include "qelx/qelx_events.hxx"
#include "velm/check.hxx"
#include "velm/topology.hxx"

namespace {

using spline_surface_check::kCheckTask;
using spline_surface_check::kTaskLevel;

bool samePlane(const plane& a, const plane& b)
{
    return (QELvector(a.normal) - QELvector(b.normal)).len() <= QELresnor &&
           std::fabs((a.root_point - b.root_point) % a.normal) < QELresabs;
}

bool sameCone(const cone& a, const cone& b)
{
    const QELvector za = a.base.normal, zb = b.base.normal;
    if ((za * zb).len() > QELresnor)
        return false;
    const QELvector shift = a.base.centre - b.base.centre;
    if ((shift * za).len() > QELresnor)
        return false;
    if (std::fabs(a.base.radius_ratio - b.base.radius_ratio) > QELresnor)
        return false;
    if (a.base.radius_ratio < 1.0 - QELresnor) {
        const QELvector ma = a.base.major_axis, mb = b.base.major_axis;
        if (ma.len() <= 0.0 || mb.len() <= 0.0 || ((ma / ma.len()) * (mb / mb.len())).len() > QELresnor)
            return false;
    }
    const double sineB = za % zb <= 0.0 ? -b.sine : b.sine;
    if (std::fabs(a.cosine - b.cosine) > QELresnor || std::fabs(a.sine - sineB) > QELresnor)
        return false;
    if (a.cosine == 0.0)
        return false;
    // The radii agree once one base is carried along the axis to the other.
    const double d = shift % za;
    return std::fabs(a.base.major_axis.len() - b.base.major_axis.len() - d * a.sine / a.cosine) <= QELresabs;
}

bool sameSphere(const sphere& a, const sphere& b)
{
    return (a.centre - b.centre).len() <= QELresabs && std::fabs(a.radius - b.radius) < QELresabs;
}

bool sameTorus(const torus& a, const torus& b)
{
    return (a.centre - b.centre).len() <= QELresabs &&
           (QELvector(a.normal) * QELvector(b.normal)).len() <= QELresnor &&
           std::fabs(a.major_radius - b.major_radius) <= QELresabs &&
           std::fabs(a.minor_radius - b.minor_radius) < QELresabs;
}

// The first reported status of a full surface check asking for one status.
// A check that cannot run answers "not found".
bool surfaceReports(surface* srf, int status)
{
    if (!srf)
        return false;
    bool found = false;
    velmInnerCall([&] {
        check_fix input;
        check_fix result;
        input.tol1 = QELresfit;
        input.tol2 = QELresfit;
        std::unique_ptr<check_status_list> wanted(VELM_MAKE(check_status_list, status));
        QELXStartTaskEvent::Fire(kCheckTask, kCheckTask, kTaskLevel);
        std::unique_ptr<check_status_list> found_list(d3_sf_check(*srf, input, result, wanted.get()));
        QELXEndTaskEvent::Fire(0, kCheckTask, kCheckTask, kTaskLevel, true);
        found = found_list && found_list->status() == status;
    });
    return found;
}

// n + 5 knots: the n + 1 values from `low` in steps of `step` at positions
// 2..n + 2, two more at each end with the same spacing.
std::vector<double> extendedKnots(double low, double step, int n)
{
    std::vector<double> knots(n + 5);
    for (int i = 0; i < n + 5; ++i)
        knots[i] = low + (i - 2) * step;
    return knots;
}

// Evaluators of the fit of replaceSplineSurface.
QELvector positionAt(const QELpar_pos& uv, void* data)
{
    return static_cast<const surface*>(data)->eval_position(uv) - QELposition(0.0, 0.0, 0.0);
}
QELvector derivativeAt(const QELpar_pos& uv, void* data, int which)
{
    QELposition p;
    QELvector d1[2];
    QELvector d2[3];
    static_cast<const surface*>(data)->eval(uv, p, d1, which == 2 ? d2 : nullptr);
    return which == 2 ? d2[1] : d1[which];
}
QELvector duAt(const QELpar_pos& uv, void* data) { return derivativeAt(uv, data, 0); }
QELvector dvAt(const QELpar_pos& uv, void* data) { return derivativeAt(uv, data, 1); }
QELvector duvAt(const QELpar_pos& uv, void* data) { return derivativeAt(uv, data, 2); }

// The fit tolerance of a replacement: a tenth of QELresfit when the face has
// an edge whose distinct vertices lie closer than half of it.
double replacementFit(FACE* face)
{
    double fit = QELresfit;
    if (!face)
        return fit;
    for (LOOP* loop = face->loop(); loop; loop = loop->next()) {
        COEDGE* first = loop->start();
        COEDGE* ce = first;
        while (ce) {
            EDGE* edge = ce->edge();
            if (edge && edge->start() && edge->end() && edge->start() != edge->end()) {
                const double gap =
                    (edge->start()->geometry()->coords() - edge->end()->geometry()->coords()).len();
                if (gap < fit / 2.0)
                    return fit * 0.1;
            }
            ce = ce->next();
            if (ce == first)
                break;
        }
    }
    return fit;
}

} // namespace

bool isSameSurface(const surface& a, const surface& b)
{
    if (a.type() != b.type())
        return false;
    switch (a.type()) {
    case 1:
        return samePlane(static_cast<const plane&>(a), static_cast<const plane&>(b));
    case 2:
        return sameCone(static_cast<const cone&>(a), static_cast<const cone&>(b));
    case 3:
        return sameSphere(static_cast<const sphere&>(a), static_cast<const sphere&>(b));
    case 4:
        return sameTorus(static_cast<const torus&>(a), static_cast<const torus&>(b));
    case 10:
        return !(a != b);
    default:
        return false;
    }
}

bool replaceSplineSurface(const surface& source, spline& target, FACE* face)
{
    const double fit = replacementFit(face);
    const QELpar_box box = source.param_range();
    bs3_surface fitted = nullptr;
    const outcome r = velmInnerCall([&] {
        fitted = bs3_surface_proc(positionAt, duAt, dvAt, duvAt, const_cast<surface*>(&source), box.u_range(),
                                  box.v_range(), fit);
        if (!fitted)
            return;
        set_poles(fitted, QELresabs);
        bs3_surface_determine_form_u(fitted);
        bs3_surface_determine_form_v(fitted);
    });
    if (!r.ok() || !fitted) {
        // Nothing was made: the target keeps its surface, and is not negated.
        bs3_surface_delete(fitted);
        return false;
    }
    spline made(fitted);
    bs3_surface_delete(fitted);
    if (source.left_handed_uv() != made.left_handed_uv())
        made.negate();
    target = made;
    return true;
}

bool Ve_SurfApproxUtil::isSurfIrregular(surface* srf) { return surfaceReports(srf, status_irregular); }

bool Ve_SurfApproxUtil::srfSelfIntersects(surface* srf) { return surfaceReports(srf, status_self_intersecting); }

bool Ve_SurfApproxUtil::makeUsingUisoparams(surface*& srf, bs3_surface& definition, int count)
{
    return makeUsingIsoparams(srf, definition, count, true);
}

bool Ve_SurfApproxUtil::makeUsingVisoparams(surface*& srf, bs3_surface& definition, int count)
{
    return makeUsingIsoparams(srf, definition, count, false);
}

bool Ve_SurfApproxUtil::replaceSurface(bs3_surface& definition, surface*& srf, int count)
{
    return makeUsingUisoparams(srf, definition, count) || makeUsingVisoparams(srf, definition, count);
}

bool Ve_SurfApproxUtil::makeUsingIsoparams(surface*& srf, bs3_surface& definition, int count, bool acrossU)
{
    if (!definition || count < 1)
        return false;
    const int n = count;
    const QELpar_box range = bs3_surface_range(definition);
    const QELinterval across = acrossU ? range.u_range() : range.v_range();
    const double h = across.length() / n;
    // Grid row i holds the samples of the i-th iso-curve; the curve parameter
    // range is that of the last curve taken.
    std::vector<QELposition> grid((n + 1) * (n + 1));
    double c0 = 0.0, k = 0.0;
    bs3_surface rebuilt = nullptr;
    const outcome r = velmInnerCall([&] {
        for (int i = 0; i <= n; ++i) {
            const double at = across.start_pt() + i * h;
            bs3_curve iso = acrossU ? bs3_curve_v_param_line(definition, at) : bs3_curve_u_param_line(definition, at);
            if (!iso)
                return;
            const QELinterval cr = bs3_curve_range(iso);
            c0 = cr.start_pt();
            k = cr.length() / n;
            for (int j = 0; j <= n; ++j)
                grid[i * (n + 1) + j] = bs3_curve_position(c0 + j * k, iso);
            bs3_curve_delete(iso);
        }
        const std::vector<double> acrossKnots = extendedKnots(across.start_pt(), h, n);
        const std::vector<double> alongKnots = extendedKnots(c0, k, n);
        std::vector<QELposition> pts(grid.size());
        // The grid is u-major for the interpolation: across v the curves are
        // the columns.
        for (int i = 0; i <= n; ++i)
            for (int j = 0; j <= n; ++j)
                pts[acrossU ? i * (n + 1) + j : j * (n + 1) + i] = grid[i * (n + 1) + j];
        std::vector<QELvector> zeros(n + 1);
        const QELvector twist[4];
        const double* uk = (acrossU ? acrossKnots : alongKnots).data() + 2;
        const double* vk = (acrossU ? alongKnots : acrossKnots).data() + 2;
        rebuilt = bs3_surface_interp_knots(n + 1, n + 1, pts.data(), uk, vk, zeros.data(), zeros.data(),
                                           zeros.data(), zeros.data(), twist);
    });
    if (!r.ok() || !rebuilt) {
        bs3_surface_delete(rebuilt);
        return false;
    }
    surface* made = nullptr;
    velmInnerCall([&] { made = VELM_MAKE(spline, rebuilt); });
    if (!made || isSurfIrregular(made) || srfSelfIntersects(made)) {
        delete made;
        bs3_surface_delete(rebuilt);
        return false;
    }
    delete srf;
    bs3_surface_delete(definition);
    srf = made;
    definition = rebuilt;
    return true;
}
