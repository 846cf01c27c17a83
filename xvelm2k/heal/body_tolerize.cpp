// Tolerising of the edges and vertices of faces and of wires.
#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "geometry/seam_pcurves.hxx"
#include "geometry/spline_curve_build.hxx"
#include "heal/heal_internal.hxx"
#include "heal/step_watch.hxx"
#include "model/entity_views.hxx"
#include "model/kernel_call_bracket.hxx"
#include "qelx/qelx_events.hxx"
#include "velm/api.hxx"
#include "repair/post_process_internal.hxx"
#include "velm/body_heal.hxx"
#include "velm/bspline.hxx"
#include "velm/check.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/insanity.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology_api.hxx"

using namespace ve_heal;

namespace {

// Whether the coedges of the face's loops join end to start.
bool loopsJoin(Ve_FaceTag* face)
{
    const QELXDynamicArray<Ve_CoedgeTag*> coedges = face->getCoedges();
    for (int i = 0; i < coedges.Count(); ++i) {
        const COEDGE* c = reinterpret_cast<const COEDGE*>(coedges[i]);
        if (!c->loop())
            continue;
        if (c->next() && c->next()->start() != c->end())
            return false;
        if (c->previous() && c->previous()->end() != c->start())
            return false;
    }
    return true;
}

// A periodic edge curve used over its whole period gets periodic pcurves.
void markPeriodicPcurves(EDGE* edge)
{
    const CURVE* cu = edge->geometry();
    if (!cu || !cu->has_equation() || !cu->equation().periodic())
        return;
    const QELinterval edgeRange = edge->param_range();
    if (!edgeRange.finite() || std::fabs(cu->equation().param_period() - edgeRange.length()) >= QELresabs)
        return;
    COEDGE* first = edge->coedge();
    COEDGE* c = first;
    do {
        if (c->geometry() && c->geometry()->has_equation() && c->geometry()->def().cur())
            bs2_curve_set_periodic(c->geometry()->def().cur());
        c = c->partner();
    } while (c && c != first);
}

// The vertex moved to `p` on a point of its own. A point never attached is
// freed: it would outlive the step that failed.
void placeVertex(VERTEX* vertex, const QELposition& p)
{
    APOINT* at = velm_require(VELM_NEW APOINT(p));
    try {
        vertex->set_geometry(at);
    } catch (...) {
        at->lose();
        throw;
    }
}

// The solution of m x = rhs, for m the sum of `n` projections across unit
// directions; none when m is nearly singular (directions that nearly all run
// one way leave the point free along them).
std::optional<QELposition> solved3(const double m[3][3], const double rhs[3], double n)
{
    auto det = [](const double a[3][3]) {
        return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) - a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
               a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    };
    const double whole = det(m);
    // Two directions 1e-3 radians apart give a determinant near n * 1e-6 / 2.
    if (!(std::fabs(whole) > 1e-7 * n * n))
        return std::nullopt;
    double x[3];
    for (int k = 0; k < 3; ++k) {
        double a[3][3];
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                a[r][c] = c == k ? rhs[r] : m[r][c];
        x[k] = det(a) / whole;
    }
    return QELposition(x[0], x[1], x[2]);
}

// The ends of an edge's curve that may be followed past: a B-spline's ends
// where the edge reaches them (1 its start, 2 its end, on the curve's
// equation). A reader that cut such a curve at vertices the sender moved
// along it left the corners past its ends, where its end pieces still run.
int openSplineEnds(const EDGE* e)
{
    const CURVE* cu = e->geometry();
    if (!cu || !cu->has_equation() || cu->equation().type() != 11 ||
        !static_cast<const intcurve&>(cu->equation()).cur_present())
        return 0;
    const auto& ic = static_cast<const intcurve&>(cu->equation());
    const QELinterval own = ic.param_range();
    QELinterval r = e->param_range();
    if (!own.finite() || !(own.length() > 0.0) || !r.finite())
        return 0;
    // Only a curve that is its B-spline: one already taken past its knots
    // (a range the file stretched) is no piece to follow further.
    QELinterval knots = bs3_curve_range(ic.cur());
    if (ic.reversed())
        knots = -knots;
    const double slack = 1e-9 * (1.0 + std::fabs(knots.start_pt()) + std::fabs(knots.end_pt()));
    if (own.start_pt() < knots.start_pt() - slack || own.end_pt() > knots.end_pt() + slack)
        return 0;
    if (e->sense() == REVERSED)
        r = -r;
    const double near = 1e-9 * (1.0 + std::fabs(own.start_pt()) + std::fabs(own.end_pt()));
    return (std::fabs(r.start_pt() - own.start_pt()) <= near ? 1 : 0) |
           (std::fabs(r.end_pt() - own.end_pt()) <= near ? 2 : 0);
}

// Whether the edge is closed on itself and runs a whole turn of a B-spline
// whose ends meet, from its start to its end (a circle a file gave as a
// clamped spline, begun where the sender put the edge's vertex, and perhaps
// made periodic since): where such a curve starts is nothing of the model's,
// and a corner past its end lies just inside its start.
bool wholeTurnOfClosedSpline(const EDGE* e)
{
    if (e->start() != e->end())
        return false;
    const CURVE* cu = e->geometry();
    if (!cu || !cu->has_equation() || cu->equation().type() != 11 ||
        !static_cast<const intcurve&>(cu->equation()).cur_present())
        return false;
    const auto& ic = static_cast<const intcurve&>(cu->equation());
    const bs3_curve bs = ic.cur();
    if (!bs)
        return false;
    const QELinterval own = ic.param_range();
    QELinterval r = e->param_range();
    if (!own.finite() || !r.finite() || !(own.length() > QELresabs))
        return false;
    if (e->sense() == REVERSED)
        r = -r;
    QELinterval knots = bs3_curve_range(bs);
    if (ic.reversed())
        knots = -knots;
    const double near = 1e-9 * (1.0 + std::fabs(own.start_pt()) + std::fabs(own.end_pt()));
    return std::fabs(r.start_pt() - own.start_pt()) <= near && std::fabs(r.end_pt() - own.end_pt()) <= near &&
           std::fabs(knots.start_pt() - own.start_pt()) <= near && std::fabs(knots.end_pt() - own.end_pt()) <= near &&
           distance(ic.eval_position(own.start_pt()), ic.eval_position(own.end_pt())) <= 0.1 * QELresabs;
}

// The foot of `p` on a whole turn of a closed spline (wholeTurnOfClosedSpline)
// sought round the curve: from `guess` and from both ends, which are one
// point, the nearest found. Its parameter; the foot in `foot`.
double footRoundClosedSpline(const curve& eq, const QELposition& p, double guess, QELposition& foot)
{
    const QELinterval own = eq.param_range();
    double best = guess;
    double bestDistance = -1.0;
    for (const double from : {guess, own.start_pt(), own.end_pt()}) {
        QELposition at;
        double t = from;
        eq.point_perp(p, at, &from, &t);
        if (bestDistance < 0.0 || distance(at, p) < bestDistance) {
            bestDistance = distance(at, p);
            best = t;
            foot = at;
        }
    }
    return best;
}

// The foot of `p` on the B-spline's curve, followed past the ends `open`
// allows along its end pieces by about `reach` in space; its parameter, the
// foot in `foot`.
double footBeyondEnd(const curve& eq, const QELposition& p, double guess, int open, double reach, QELposition& foot)
{
    const QELinterval own = eq.param_range();
    auto past = [&](double at) {
        const double speed = eq.eval_deriv(at).len();
        return speed > 0.0 ? reach / speed : 0.0;
    };
    // The curve's own foot, unless it stops at an end that may be passed.
    double t = guess;
    eq.point_perp(p, foot, &guess, &t);
    const double near = 1e-9 * (1.0 + std::fabs(own.start_pt()) + std::fabs(own.end_pt()));
    const bool atOpenEnd = ((open & 1) && t <= own.start_pt() + near) || ((open & 2) && t >= own.end_pt() - near);
    if (!atOpenEnd)
        return t;
    const double low = (open & 1) ? own.start_pt() - past(own.start_pt()) : own.start_pt();
    const double high = (open & 2) ? own.end_pt() + past(own.end_pt()) : own.end_pt();
    for (int round = 0; round < 60; ++round) {
        QELposition at;
        QELvector d1, d2;
        eq.eval(t, at, &d1, &d2);
        const QELvector off = at - p;
        const double slope = d1 % d1 + off % d2;
        if (!(slope > 0.0))
            break;
        const double next = std::clamp(t - (off % d1) / slope, low, high);
        const bool settled = std::fabs(next - t) <= 1e-15 * (1.0 + std::fabs(t));
        t = next;
        if (settled)
            break;
    }
    // A step past the end shorter than the kernel's resolution is none.
    const QELinterval held(own.start_pt(), own.end_pt());
    const double inside = std::clamp(t, held.start_pt(), held.end_pt());
    if (inside != t && distance(eq.eval_position(inside), eq.eval_position(t)) <= 0.1 * QELresabs)
        t = inside;
    foot = eq.eval_position(t);
    return t;
}

// The B-spline `bs` continued past the end of its range to `to`: its last
// polynomial piece taken on in homogeneous coordinates (weights and all, so
// that a rational spline stays the curve it was, a circle's arc a circle),
// which is what evaluating the spline past its end gives: the same curve
// over its range, the old end's knot taken out where the pieces join
// smoothly. Null unless that end is clamped and the weights stay positive
// out to `to`.
bs3_curve continuedPastEnd(bs3_curve bs, double to)
{
    int dim = 0, p = 0, rational = 0, n = 0, nk = 0;
    QELposition* points = nullptr;
    double* weights = nullptr;
    double* knots = nullptr;
    bs3_curve_to_array(bs, dim, p, rational, n, points, weights, nk, knots);
    const std::vector<QELposition> P(points, points + n);
    const std::vector<double> W = weights ? std::vector<double>(weights, weights + n) : std::vector<double>(n, 1.0);
    const std::vector<double> U(knots, knots + nk);
    delete[] points;
    delete[] weights;
    delete[] knots;
    if (p < 1 || n <= p || nk != n + p + 1 || bs3_curve_periodic(bs))
        return nullptr;
    const double b = U[n];
    const int k = n - 1; // the last span, [U[k], b]
    if (!(to > b) || !(U[k] < b) || std::any_of(U.begin() + n, U.end(), [b](double u) { return u != b; }))
        return nullptr;
    // The blossom of the last piece at (b, ..., b, to, ..., to), `ends` of
    // them `to` (de Boor's triangle on the homogeneous points, each level at
    // its own parameter).
    auto blossom = [&](int ends) {
        std::vector<std::array<double, 4>> d(p + 1);
        for (int j = 0; j <= p; ++j) {
            const int i = k - p + j;
            d[j] = {W[i] * P[i].x(), W[i] * P[i].y(), W[i] * P[i].z(), W[i]};
        }
        for (int r = 1; r <= p; ++r) {
            const double x = r <= ends ? to : b;
            for (int j = p; j >= r; --j) {
                const int i = k - p + j;
                const double a = (x - U[i]) / (U[i + p + 1 - r] - U[i]);
                for (int c = 0; c < 4; ++c)
                    d[j][c] = (1.0 - a) * d[j - 1][c] + a * d[j][c];
            }
        }
        return d[p];
    };
    std::vector<QELposition> ctrl(P);
    std::vector<double> w(W);
    for (int ends = 1; ends <= p; ++ends) {
        const std::array<double, 4> h = blossom(ends);
        if (!(h[3] > 0.0) || !std::isfinite(h[0] / h[3]) || !std::isfinite(h[1] / h[3]) || !std::isfinite(h[2] / h[3]))
            return nullptr;
        ctrl.emplace_back(h[0] / h[3], h[1] / h[3], h[2] / h[3]);
        w.push_back(h[3]);
    }
    std::vector<double> vector(U.begin(), U.begin() + n + p);
    vector.insert(vector.end(), p + 1, to);
    bs3_curve made = bs3_curve_from_ctrlpts(p, rational ? 1 : 0, 0, 0, static_cast<int>(ctrl.size()), ctrl.data(),
                                            rational ? w.data() : nullptr, QELresabs,
                                            static_cast<int>(vector.size()), vector.data(), 0.0);
    // The old end's knot joins two pieces of one polynomial: taken out, so
    // that a short continuation leaves no control points bunched at it.
    if (made)
        bs3_curve_fix_extra_knots(made, 1e-3 * QELresabs);
    return made;
}

// The edge's B-spline continued past its end to `t` (parameters on the
// curve's equation, which it keeps); null when the spline's end is not
// clamped or it does not stay the curve it was (see continuedPastEnd), and
// `refused` when the continuation is a curve the check finds fault with.
bs3_curve splineContinued(const EDGE* e, double t, bool& refused)
{
    refused = false;
    const auto& ic = static_cast<const intcurve&>(e->geometry()->equation());
    bs3_curve bs = bs3_curve_copy(ic.cur());
    if (ic.reversed())
        bs3_curve_reverse(bs);
    // Past the start: the end of the spline run the other way.
    const bool start = t < bs3_curve_range(bs).start_pt();
    if (start)
        bs3_curve_reverse(bs);
    bs3_curve made = continuedPastEnd(bs, start ? -t : t);
    bs3_curve_delete(bs);
    if (made && start)
        bs3_curve_reverse(made);
    if (!made)
        return nullptr;
    // A continuation the curve check finds fault with where the curve had
    // none (a closed curve run on over its own start) is no curve to take.
    const std::unique_ptr<check_status_list> found(bs3_curve_check(made, nullptr, nullptr));
    if (found && !std::unique_ptr<check_status_list>(bs3_curve_check(ic.cur(), nullptr, nullptr))) {
        bs3_curve_delete(made);
        refused = true;
        return nullptr;
    }
    // What the edge's curve gives past its end, and where it joins.
    const QELinterval own = ic.param_range();
    for (const double s : {t, own.start_pt(), own.end_pt(), 0.5 * (t + (start ? own.start_pt() : own.end_pt()))})
        if (!(distance(bs3_curve_position(s, made), ic.eval_position(s)) <= 0.01 * QELresabs)) {
            bs3_curve_delete(made);
            return nullptr;
        }
    return made;
}

// A B-spline following the edge's curve and its own polynomial pieces on to
// `t` (past its end; parameters on the curve's equation, which it keeps);
// null when none within the kernel's resolution of them was made. The
// spline itself continued where it can be; else one interpolated through
// the curve.
bs3_curve splineReaching(const EDGE* e, double t)
{
    bool refused = false;
    if (bs3_curve continued = splineContinued(e, t, refused))
        return continued;
    if (refused)
        return nullptr;
    const curve& eq = e->geometry()->equation();
    const QELinterval own = eq.param_range();
    const double s0 = std::min(own.start_pt(), t), s1 = std::max(own.end_pt(), t);
    auto at = [&](double s) { return eq.eval_position(s); };
    for (int n = 9; n <= 257; n = 2 * n - 1) {
        std::vector<QELposition> points(n);
        std::vector<double> params(n);
        for (int i = 0; i < n; ++i) {
            params[i] = s0 + (s1 - s0) * i / (n - 1);
            points[i] = at(params[i]);
        }
        bs3_curve made = bs3_curve_interp_knots(n, points.data(), params.data());
        if (!made)
            return nullptr;
        double error = 0.0;
        for (int i = 0; i + 1 < n; ++i) {
            const double s = 0.5 * (params[i] + params[i + 1]);
            error = std::max(error, distance(bs3_curve_position(s, made), at(s)));
        }
        if (error <= 0.1 * QELresabs)
            return made;
        bs3_curve_delete(made);
    }
    return nullptr;
}

// The coedges of every face of the edges (each once), whose pcurves a new
// corner may refit or place again.
std::vector<COEDGE*> coedgesOfFacesAt(const std::vector<std::pair<EDGE*, QELinterval>>& edges)
{
    std::vector<FACE*> faces;
    for (const auto& [e, range] : edges) {
        ENTITY_LIST at;
        raiseFailure(api_get_faces(e, at));
        for (int i = 0; i < at.count(); ++i)
            if (std::find(faces.begin(), faces.end(), at[i]) == faces.end())
                faces.push_back(static_cast<FACE*>(at[i]));
    }
    std::vector<COEDGE*> coedges;
    for (FACE* face : faces)
        for (LOOP* l = face->loop(); l; l = l->next()) {
            COEDGE* first = l->start();
            for (COEDGE* c = first; c;) {
                coedges.push_back(c);
                c = c->next();
                if (c == first)
                    break;
            }
        }
    return coedges;
}

// Per coedge, whether the kernel's check finds its pcurve running off its
// spline surface's parameter range.
std::vector<bool> pcurvesOffSplines(const std::vector<COEDGE*>& coedges)
{
    const int off = qelvelm_insanity_errmod.message_code(insanity_pcurve_outside_surface);
    std::vector<bool> found(coedges.size(), false);
    for (std::size_t i = 0; i < coedges.size(); ++i) {
        const FACE* face = coedges[i]->loop() ? coedges[i]->loop()->face() : nullptr;
        if (!coedges[i]->geometry() || !face || !face->geometry() || !face->geometry()->has_equation() ||
            face->geometry()->equation().type() != 10)
            continue;
        insanity_list* findings = nullptr;
        raiseFailure(api_check_entity(coedges[i], findings));
        const std::unique_ptr<insanity_list> held(findings);
        for (int k = 0; findings && k < findings->count(); ++k)
            if (findings->data(k)->get_insane_id() == off && findings->data(k)->get_ent() == coedges[i])
                found[i] = true;
    }
    return found;
}

// Where two curves that join smoothly (a line running into an arc along its
// tangent) touch near the point of `a` at `s`: no line across either tangent
// tells where, and the feet of a moved vertex on them lie close together
// wherever along the join it was moved. The gap between them is sought
// along `a`, over `reach` either way in space (within `a`'s own range), for
// its least. The gap there, with `s` and `t` (on `b`, from its guess) the
// curves' parameters at it; -1 where the curves do not touch at one place
// (a gap as small at the ends of the reach: they run along one another).
double smoothJoin(const curve& a, const curve& b, double reach, double& s, double& t)
{
    const double speed = a.eval_deriv(s).len();
    if (!(speed > 0.0))
        return -1.0;
    double low = s - reach / speed, high = s + reach / speed;
    const QELinterval own = a.param_range();
    // Where `a` ends within the reach the join may lie at its end: the gap
    // need not rise there.
    bool lowOwn = false, highOwn = false;
    if (!a.periodic() && own.finite()) {
        lowOwn = own.start_pt() >= low;
        highOwn = own.end_pt() <= high;
        low = std::max(low, own.start_pt());
        high = std::min(high, own.end_pt());
    }
    if (!(high > low))
        return -1.0;
    const double from = t;
    auto gap = [&](double at, double& on) {
        const QELposition pa = a.eval_position(at);
        QELposition pb;
        on = from;
        b.point_perp(pa, pb, &from, &on);
        return distance(pa, pb);
    };
    double ignored = 0.0;
    const double atLow = gap(low, ignored), atHigh = gap(high, ignored);
    // Golden section: the gap falls to its least and rises again past it.
    const double golden = 0.5 * (std::sqrt(5.0) - 1.0);
    double x1 = high - golden * (high - low), x2 = low + golden * (high - low);
    double t1 = 0.0, t2 = 0.0;
    double g1 = gap(x1, t1), g2 = gap(x2, t2);
    for (int round = 0; round < 100 && high - low > 1e-15 * (1.0 + std::fabs(low) + std::fabs(high)); ++round) {
        if (g1 <= g2) {
            high = x2;
            x2 = x1;
            g2 = g1;
            t2 = t1;
            x1 = high - golden * (high - low);
            g1 = gap(x1, t1);
        } else {
            low = x1;
            x1 = x2;
            g1 = g2;
            t1 = t2;
            x2 = low + golden * (high - low);
            g2 = gap(x2, t2);
        }
    }
    const bool first = g1 <= g2;
    const double least = first ? g1 : g2;
    if ((lowOwn && highOwn) || !(lowOwn || atLow > QELresabs + least) || !(highOwn || atHigh > QELresabs + least))
        return -1.0;
    s = first ? x1 : x2;
    t = first ? t1 : t2;
    return least;
}

// Where the curves of a vertex's edges, bounded by the vertex's own feet on
// them (a STEP file's edges are bounded by their vertices), pass through one
// point near it, the vertex goes to that point and each edge is bounded anew
// there: the corner the sender moved the vertex off. Left as it is (then
// tolerated where it lies) unless every curve passes within the kernel's
// resolution of one point no farther from the vertex than a few times its
// distance from them (and, given `nearby`, within `within` of it). Where
// two curves join smoothly the place they touch is the corner, sought as far
// as half the shorter edge: the vertex's feet on them lie near one another,
// and near the vertex, wherever along the join it was moved. Curves running
// along one another near the corner (one circle or line continued) do not
// tell where it is. A closed edge keeps its turn: one that runs a whole turn
// of a closed spline that is not periodic has its corner sought round the
// curve, and its curve is begun there anew when the corner lies off the
// curve's ends (the vertex then on the curve, where a reader that began the
// curve at the vertex's foot left the corner just inside its start).
bool moveVertexToCurvesMeeting(VERTEX* vertex, ENTITY_LIST& edges, double away, const QELposition* nearby = nullptr,
                               double within = 0.0)
{
    struct End {
        EDGE* edge;
        bool start;
        double guess; // the end's parameter on the curve's own equation
        int beyond;   // the ends of a B-spline followed past (openSplineEnds)
        double from;  // where the edge ended, on the curve's equation
        bool round = false; // a whole turn of a closed spline (wholeTurnOfClosedSpline)
    };
    std::vector<End> ends;
    for (int i = 0; i < edges.count(); ++i) {
        auto* e = static_cast<EDGE*>(edges[i]);
        if (is_TEDGE(e))
            return false;
        const double sign = e->sense() == REVERSED ? -1.0 : 1.0;
        const QELinterval r = e->param_range();
        // Its two ends are one point of its curve: one end stands for both.
        if (wholeTurnOfClosedSpline(e)) {
            ends.push_back({e, true, sign * r.start_pt(), 0, sign * r.start_pt(), true});
            continue;
        }
        if (e->start() == vertex)
            ends.push_back({e, true, sign * r.start_pt(), openSplineEnds(e), sign * r.start_pt()});
        if (e->end() == vertex)
            ends.push_back({e, false, sign * r.end_pt(), openSplineEnds(e), sign * r.end_pt()});
    }
    // The point nearest all the curves, by least squares over the lines
    // that touch them at the feet of the point on them (Gauss-Newton): for
    // curves that cross at an angle this closes in within a few rounds,
    // where averaging the feet alone may crawl and stop short of the corner
    // (an arc and two lines at some of a sample exhaust's corners). Where
    // the tangents all run one way the least squares say nothing along
    // them, and the feet are averaged.
    const QELposition written = vertex->geometry()->coords();
    QELposition p = written;
    double worst = 0.0;
    // First over the curves as they are; only where they do not meet so,
    // again over B-splines followed past their ends (which would take the
    // search elsewhere at a corner where a spline ends as it should).
    std::vector<int> open;
    for (End& end : ends) {
        open.push_back(end.beyond);
        end.beyond = 0;
    }
    for (int tries = 0; tries < 2; ++tries) {
        if (tries == 1) {
            if (worst < 0.1 * QELresabs || std::all_of(open.begin(), open.end(), [](int o) { return o == 0; }))
                break;
            p = written;
            for (std::size_t i = 0; i < ends.size(); ++i) {
                ends[i].beyond = open[i];
                ends[i].guess = ends[i].from;
            }
        }
    for (int round = 0; round < 200; ++round) {
        double m[3][3] = {}, rhs[3] = {};
        QELvector average;
        worst = 0.0;
        for (End& end : ends) {
            const curve& eq = end.edge->geometry()->equation();
            QELposition foot;
            double t = end.guess;
            if (end.beyond != 0)
                t = footBeyondEnd(eq, p, end.guess, end.beyond, 4.0 * away, foot);
            else if (end.round)
                t = footRoundClosedSpline(eq, p, end.guess, foot);
            else
                eq.point_perp(p, foot, &end.guess, &t);
            end.guess = t;
            average = average + (foot - p);
            worst = std::max(worst, distance(foot, p));
            const QELvector d = eq.eval_deriv(t);
            const double length = d.len();
            const double u[3] = {length > 0.0 ? d.x() / length : 0.0, length > 0.0 ? d.y() / length : 0.0,
                                 length > 0.0 ? d.z() / length : 0.0};
            const double f[3] = {foot.x(), foot.y(), foot.z()};
            for (int r = 0; r < 3; ++r)
                for (int c = 0; c < 3; ++c) {
                    const double across = (r == c ? 1.0 : 0.0) - u[r] * u[c];
                    m[r][c] += across;
                    rhs[r] += across * f[c];
                }
        }
        if (worst < 1e-7 * QELresabs)
            break;
        if (const std::optional<QELposition> solved = solved3(m, rhs, static_cast<double>(ends.size())))
            p = *solved;
        else
            p = p + (1.0 / static_cast<double>(ends.size())) * average;
    }
    }
    // Two curves that join smoothly (their tangents at the feet of the point
    // found run one way): where they touch is the corner, however far along
    // the join from the feet it lies (the feet mark nothing there), and the
    // averaging above only crawls towards it. Sought along the curve that
    // runs on past the join where one does (a line or a conic, rather than a
    // spline that may end at the join).
    bool smooth = false;
    double smoothReach = 0.0;
    if (ends.size() == 2 && ends[0].edge != ends[1].edge && !ends[0].round && !ends[1].round) {
        const bool swap = !ends[1].edge->geometry()->equation().param_range().finite() ||
                          ends[1].edge->geometry()->equation().periodic();
        End& first = ends[swap ? 1 : 0];
        End& second = ends[swap ? 0 : 1];
        const curve& a = first.edge->geometry()->equation();
        const curve& b = second.edge->geometry()->equation();
        auto across = [&](double s, double t) {
            const QELvector da = a.eval_deriv(s), db = b.eval_deriv(t);
            const double la = da.len(), lb = db.len();
            return la > 0.0 && lb > 0.0 ? (da * db).len() / (la * lb) : 1.0;
        };
        // The vertex's distance from the feet shows nothing of a move along
        // the join: the corner is sought as far as half the shorter edge.
        auto chord = [](const End& end) {
            const curve& eq = end.edge->geometry()->equation();
            const double sign = end.edge->sense() == REVERSED ? -1.0 : 1.0;
            const QELinterval r = end.edge->param_range();
            return distance(eq.eval_position(sign * r.start_pt()), eq.eval_position(sign * r.end_pt()));
        };
        smoothReach = std::max(4.0 * away, 0.5 * std::min(chord(first), chord(second)));
        double s = first.guess, t = second.guess;
        const double least = across(s, t) < 1e-2 ? smoothJoin(a, b, smoothReach, s, t) : -1.0;
        if (least >= 0.0 && least < 0.2 * QELresabs && across(s, t) < 1e-2) {
            const QELposition pa = a.eval_position(s), pb = b.eval_position(t);
            p = pa + 0.5 * (pb - pa);
            first.guess = s;
            second.guess = t;
            worst = 0.5 * least;
            smooth = true;
        }
    }
    if (!(worst < 0.1 * QELresabs) || distance(p, written) > (smooth ? smoothReach : 4.0 * away) ||
        (nearby && !smooth && distance(p, *nearby) > within))
        return false;
    // A curve followed past its end must lie on the edge's faces out to the
    // corner: a spline's last piece that leaves them there makes no corner
    // of the faces, and the vertex would stand as far off them as it was.
    auto onFaces = [&](const End& end, double from, double t) {
        ENTITY_LIST faces;
        raiseFailure(api_get_faces(end.edge, faces));
        const curve& eq = end.edge->geometry()->equation();
        for (int k = 0; k < faces.count(); ++k) {
            const SURFACE* s = static_cast<const FACE*>(faces[k])->geometry();
            if (!s || !s->has_equation())
                return false;
            for (int step = 1; step <= 4; ++step) {
                const QELposition at = eq.eval_position(from + (t - from) * step / 4.0);
                QELposition on;
                s->equation().point_perp(at, on);
                if (!(distance(on, at) <= QELresabs))
                    return false;
            }
        }
        return true;
    };
    // Each edge's new bounds, worked out before anything changes.
    std::vector<std::pair<EDGE*, QELinterval>> bounded;
    // Splines taken past their ends, made anew to reach the corner.
    std::vector<std::pair<EDGE*, bs3_curve>> reaching;
    // A whole turn of a closed spline begun anew at the corner: the curve's
    // new range (on its equation).
    std::vector<std::pair<EDGE*, QELinterval>> reseated;
    struct Freed {
        std::vector<std::pair<EDGE*, bs3_curve>>& made;
        ~Freed()
        {
            for (auto& [e, b] : made)
                if (b)
                    bs3_curve_delete(b);
        }
    } freed{reaching};
    for (End& end : ends) {
        EDGE* e = end.edge;
        const curve& eq = e->geometry()->equation();
        const double sign = e->sense() == REVERSED ? -1.0 : 1.0;
        double t = end.guess;
        if (end.round) {
            QELposition foot;
            t = footRoundClosedSpline(eq, p, end.guess, foot);
            const QELinterval own = eq.param_range();
            // A corner at the curve's ends leaves the edge as it is.
            if (distance(eq.eval_position(own.start_pt()), foot) <= 0.1 * QELresabs ||
                distance(eq.eval_position(own.end_pt()), foot) <= 0.1 * QELresabs)
                continue;
            const QELinterval turned(t, t + own.length());
            reseated.push_back({e, turned});
            bounded.push_back({e, e->sense() == REVERSED ? -turned : turned});
            continue;
        }
        if (end.beyond != 0) {
            QELposition foot;
            t = footBeyondEnd(eq, p, end.guess, end.beyond, 4.0 * away, foot);
            const QELinterval own = eq.param_range();
            if (t < own.start_pt() || t > own.end_pt()) {
                if (!onFaces(end, std::clamp(t, own.start_pt(), own.end_pt()), t))
                    return false;
                // A closed edge taken past both its ends is left as it is.
                for (auto& [was, b] : reaching)
                    if (was == e)
                        return false;
                bs3_curve made = splineReaching(e, t);
                if (!made)
                    return false;
                reaching.push_back({e, made});
            }
        } else {
            t = eq.param(p, &end.guess);
        }
        if (const double period = eq.param_period(); period > 0.0)
            t += period * std::round((end.guess - t) / period);
        auto was = std::find_if(bounded.begin(), bounded.end(), [e](const auto& b) { return b.first == e; });
        if (was == bounded.end())
            was = bounded.insert(bounded.end(), {e, e->param_range()});
        const double at = sign * t;
        was->second = end.start ? QELinterval(at, was->second.end_pt()) : QELinterval(was->second.start_pt(), at);
        if (!(was->second.end_pt() > was->second.start_pt()))
            return false;
    }
    // Curves followed past their ends that run on along the others (edges
    // that join smoothly there) meet all along their overlap, not at one
    // corner.
    if (!reaching.empty() && ends.size() < 3)
        return false;
    if (!reaching.empty()) {
        double across = 0.0;
        for (std::size_t i = 0; i < ends.size(); ++i)
            for (std::size_t j = i + 1; j < ends.size(); ++j) {
                const curve& a = ends[i].edge->geometry()->equation();
                const curve& b = ends[j].edge->geometry()->equation();
                QELvector da = a.eval_deriv(ends[i].guess), db = b.eval_deriv(ends[j].guess);
                const double la = da.len(), lb = db.len();
                if (la > 0.0 && lb > 0.0)
                    across = std::max(across, (da * db).len() / (la * lb));
            }
        if (!(across > 1e-2))
            return false;
    }
    // The corner is taken only where the coedges' pcurves, fitted anew out
    // to it, stay on their spline surfaces: a corner just past the edge of a
    // spline face would leave the face's pcurves running off its surface,
    // which no tolerance mends. The vertex then stays where it is, to be
    // made tolerant there.
    const std::vector<COEDGE*> around = coedgesOfFacesAt(bounded);
    const std::vector<bool> offBefore = pcurvesOffSplines(around);
    const long failuresBefore = kernelFailuresMet();
    bool placed = false, refused = false;
    const outcome moved = velmInnerCall([&] {
        // One closed spline begun anew at the corner (two would leave the first
        // begun anew when the second cannot be).
        if (reseated.size() > 1)
            return;
        for (const auto& [e, turned] : reseated)
            if (!ve_spline_curve::startClosedSplineAt(e, turned, true))
                return;
        // The new curve carries no pcurves of its own: those of the old one
        // stop where it stopped, and the coedges' pcurves are made anew below.
        for (auto& [e, made] : reaching) {
            const intcurve reached(made, QELresabs);
            made = nullptr;
            e->set_geometry(make_curve(reached));
        }
        placeVertex(vertex, p);
        // The coedges' pcurves were fitted over the old bounds: made anew over
        // the new ones, as the surfaces' own curves of the edges. The kernel
        // fits each into its surface's principal range: the loops they bound are
        // placed again, so that a seam's two uses and the coedges beside them
        // join up round a periodic surface as they did.
        std::vector<FACE*> refitted;
        for (auto& [e, range] : bounded) {
            e->set_param_range(&range);
            COEDGE* first = e->coedge();
            for (COEDGE* c = first; c;) {
                if (c->geometry()) {
                    c->set_geometry(nullptr);
                    sg_add_pcurve_to_coedge(c);
                    if (FACE* face = c->loop() ? c->loop()->face() : nullptr;
                        face && std::find(refitted.begin(), refitted.end(), face) == refitted.end())
                        refitted.push_back(face);
                }
                c = c->partner();
                if (c == first)
                    break;
            }
        }
        // A placement the kernel refuses leaves the face's pcurves as fitted.
        for (FACE* face : refitted)
            ve_place_loop_pcurves(face);
        const std::vector<bool> offAfter = pcurvesOffSplines(around);
        for (std::size_t i = 0; i < around.size(); ++i)
            if (offAfter[i] && !offBefore[i]) {
                refused = true;
                sys_error(qelvelm_api_errmod.message_code(VELM_API_FAILED));
            }
        placed = true;
    });
    if (refused) {
        // Taken back whole: the refusal is this step's own answer.
        kernelFailuresAnswered(failuresBefore);
        return false;
    }
    if (!moved.ok())
        sys_error(moved.error_number(), moved.get_error_info());
    return placed;
}

// Where the curves of a vertex's edges end together, over the edges' ranges,
// but away from the vertex (a sender moved the vertex and kept the curves and
// the edges' bounds), the vertex goes where they end, rather than taking a
// tolerance as wide as its distance: a STEP file carries one uncertainty for
// the whole model and its reader bounds the edges by the vertices again, the
// faces' area moving with them. Ends that stray from one another about as far
// as from the vertex (edges bounded by the vertex's own feet) say nothing of
// where the corner is, and the vertex stays. Ends near one another whose
// curves were not found to meet mark the corner only when `settle` (the
// last pass): an earlier pass leaves the vertex where the sender put it.
void moveVertexToCurveEnds(VERTEX* vertex, bool settle)
{
    const APOINT* point = vertex->geometry();
    ENTITY_LIST edges;
    if (!point)
        return;
    raiseFailure(api_get_edges(vertex, edges));
    std::vector<QELposition> ends;
    for (int i = 0; i < edges.count(); ++i) {
        const EDGE* e = static_cast<const EDGE*>(edges[i]);
        const CURVE* cu = e->geometry();
        if (!cu || !cu->has_equation())
            return;
        const QELinterval r = e->param_range();
        if (!r.finite())
            return;
        const double sign = e->sense() == REVERSED ? -1.0 : 1.0;
        if (e->start() == vertex)
            ends.push_back(cu->equation().eval_position(sign * r.start_pt()));
        if (e->end() == vertex)
            ends.push_back(cu->equation().eval_position(sign * r.end_pt()));
    }
    if (ends.empty())
        return;
    QELvector sum;
    for (const QELposition& p : ends)
        sum = sum + (p - ends.front());
    const QELposition meet = ends.front() + (1.0 / static_cast<double>(ends.size())) * sum;
    double away = 0.0, spread = 0.0;
    for (const QELposition& p : ends) {
        away = std::max(away, distance(p, point->coords()));
        spread = std::max(spread, distance(p, meet));
    }
    if (!(away > QELresabs))
        return;
    // Ends that meet within the kernel's resolution mark the corner. Ends
    // that come near one another only (a corner moved less than it was cut
    // short) leave it to where the curves cross near them, and mark it where
    // the curves do not cross there: a crossing farther off is another place
    // the curves meet, not this corner. Ends apart leave it to where the
    // curves cross.
    if (spread <= QELresabs) {
        placeVertex(vertex, meet);
    } else if (spread <= 0.1 * away) {
        if (!moveVertexToCurvesMeeting(vertex, edges, away, &meet, 4.0 * spread) && settle)
            placeVertex(vertex, meet);
    } else {
        moveVertexToCurvesMeeting(vertex, edges, away);
    }
}

void tolerizeFaces(Ve_BodyTag* self);

// An edge whose tolerising the kernel refused (a call that threw, or one
// refused and passed over inside the step) keeps a plain edge where a clean
// run makes a tolerant one: that is said, with the body and the step, never
// left to look like a clean result. `failed` edges of `edges`, `kept` the
// first kernel error that was thrown (0 when every refusal was passed over).
void warnTolerizingFellShort(int failed, int edges, int kept)
{
    const char* why = kept ? message_module::find_message(kept) : nullptr;
    const std::string text = "Tolerizing the edges of " + ve_heal::StepWatch::runningBody("a body") +
                             " could not be done for " + std::to_string(failed) + " of its " +
                             std::to_string(edges) + " edges (the kernel refused sorting their coedges or " +
                             "making them tolerant" + (why ? std::string(": ") + why : std::string()) +
                             "); they are left as they came";
    QELXWarningEvent::Fire(text.c_str());
}

} // namespace

void Ve_BodyTag::TolerizeEdgesVerticesOfFaces()
{
    inTask("TolerizeEdgesVerticesOfFacesStart", "TolerizeEdgesVerticesOfFacesEnd", "Tolerizing",
           [&] { tolerizeFaces(this); });
}

namespace {

void tolerizeFaces(Ve_BodyTag* self)
{
    const bool checkUsable = Ve_OptionDoc::isOn(Ve_OptionDoc::CheckVelmTolerizeUsability);
    bool loopsContinuous = true;
    const QELXDynamicArray<Ve_FaceTag*> faces = self->getFaces();
    for (int i = 0; i < faces.Count(); ++i) {
        faces[i]->AddLoopAtConicalFaceApex();
        if (checkUsable && !loopsJoin(faces[i]))
            loopsContinuous = false;
    }
    const bool useNewMethod = checkUsable && loopsContinuous;

    bool tolerizeEdges = true;
    BODY* body = reinterpret_cast<BODY*>(self);
    if (Ve_OptionDoc::isOn(Ve_OptionDoc::AcceptBadData) && self->isTrimBody()) {
        ENTITY_LIST first;
        velmCall([&] { return api_get_faces(body, first); });
        const FACE* face = first.count() > 0 ? static_cast<const FACE*>(first[0]) : nullptr;
        tolerizeEdges = face && face->geometry();
    }
    if (tolerizeEdges) {
        // Twice: a short edge whose both vertices were moved past one end
        // of its curve is bounded anew only once the vertex on that side
        // has gone back, which lets the other find its corner. A vertex
        // whose curves were not found to meet is put at their ends' mean
        // only on the second pass, so that it does not lose its place first.
        const QELXDynamicArray<Ve_VertexTag*> vertices = self->getVertices();
        constexpr int passes = 2;
        for (int pass = 0; pass < passes; ++pass)
            for (int i = 0; i < vertices.Count(); ++i)
                velmGuard([&] { moveVertexToCurveEnds(reinterpret_cast<VERTEX*>(vertices[i]), pass == passes - 1); });
        const QELXDynamicArray<Ve_EdgeTag*> edges = self->getEdges();
        int failed = 0, firstError = 0;
        for (int i = 0; i < edges.Count(); ++i) {
            EDGE* edge = reinterpret_cast<EDGE*>(edges[i]);
            const long refusedBefore = velm_failed_api_calls();
            // One bracket per edge: an edge whose tolerancing failed half way
            // is put back as it came, as the warning says.
            const int kept = velmInnerCall([&] {
                                 sort_coedges(edge);
                                 markPeriodicPcurves(edge);
                                 if (useNewMethod)
                                     edges[i]->setTolerance_New(nullptr);
                                 else
                                     edges[i]->setTolerance_Old(nullptr);
                             }).error_number();
            // Running out of kernel memory ends the body's healing, which is
            // then undone whole (and said) by the body's bracket.
            if (kept == qelbase_mmgr_errmod.message_code(8))
                sys_error(kept);
            if (kept != 0 || velm_failed_api_calls() != refusedBefore) {
                ++failed;
                if (firstError == 0)
                    firstError = kept;
            }
        }
        if (failed > 0)
            warnTolerizingFellShort(failed, edges.Count(), firstError);
    }
    const QELXDynamicArray<Ve_VertexTag*> vertices = self->getVertices();
    for (int i = 0; i < vertices.Count(); ++i) {
        if (useNewMethod)
            vertices[i]->setTolerance_New();
        else
            vertices[i]->setTolerance_Old();
    }
    // A vertex on its faces is judged plain by both methods even where the
    // coedges' pcurves end away from it (a sender's corner whose pcurves stop
    // short of it): left so, the checker finds it, and the save refuses it
    // wherever its curves miss it too. Read again: the methods replace
    // vertices.
    const QELXDynamicArray<Ve_VertexTag*> judged = self->getVertices();
    for (int i = 0; i < judged.Count(); ++i)
        ve_repair::tolerateWhereCoedgesEndAway(reinterpret_cast<VERTEX*>(judged[i]));
}

} // namespace

void Ve_BodyTag::TolerizeWires()
{
    const bool useNewMethod = Ve_OptionDoc::isOn(Ve_OptionDoc::CheckVelmTolerizeUsability);
    const QELXDynamicArray<Ve_VertexTag*> vertices = getWireVertices();
    for (int i = 0; i < vertices.Count(); ++i) {
        if (useNewMethod)
            vertices[i]->setTolerance_New();
        else
            vertices[i]->setTolerance_Old();
    }
    if (Ve_OptionDoc::isOn(Ve_OptionDoc::FixCurveSense))
        FixWireEdgeSense();
    if (!isWireBody() || isVertexBody())
        return;
    ENTITY_LIST all;
    ENTITY_LIST bad;
    ENTITY_LIST made;
    ENTITY* worst = nullptr;
    double worstError = -1.0;
    BODY* body = getDef();
    velmCall([&] { return api_get_vertices(body, all); });
    velmCall([&] { return api_check_vertex_errors(all, bad, worst, worstError, QELresabs, false, made); });
}

bool Ve_BodyTag::FixWireEdgeSense()
{
    const QELXDynamicArray<Ve_EdgeTag*> edges = getWireEdges();
    for (int i = 0; i < edges.Count(); ++i) {
        EDGE* edge = reinterpret_cast<EDGE*>(edges[i]);
        const CURVE* cu = edge->geometry();
        if (!cu || !cu->has_equation() || !edge->start() || !edge->end() || !edge->start()->geometry() ||
            !edge->end()->geometry())
            continue;
        const QELinterval r = edge->param_range();
        if (!r.finite())
            continue;
        const double sign = edge->sense() == REVERSED ? -1.0 : 1.0;
        const QELposition atStart = cu->equation().eval_position(sign * r.start_pt());
        const QELposition atEnd = cu->equation().eval_position(sign * r.end_pt());
        const QELposition v1 = edge->start()->geometry()->coords();
        const QELposition v2 = edge->end()->geometry()->coords();
        if (distance(v1, v2) >= QELresabs && distance(atEnd, v1) < QELresabs && distance(atStart, v2) < QELresabs)
            velmCall([&] {
                edge->set_sense(edge->sense() == FORWARD ? REVERSED : FORWARD, true);
                // The range follows: worked out again between the vertices on the turned curve.
                edge->set_param_range(nullptr);
            });
    }
    return true;
}
