#include "geometry/spline_curve_build.hxx"

#include <cmath>
#include <memory>
#include <optional>
#include <vector>

#include "geometry/geometry_arrays.hxx"
#include "geometry/surface_utilities.hxx"
#include "model/kernel_call_bracket.hxx"
#include "model/math_types.hxx"
#include "qelx/gk_spline_utils.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "repair/crv_approx_util.hxx"
#include "repair/fix_pcurve.hxx"
#include "velm/check.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology_api.hxx"

namespace ve_spline_curve {

namespace {

bool finite3(const QELXPoint3D& p)
{
    return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]);
}

template <class Def>
bool layoutUsable(const Def& def)
{
    const int n = def.numControlPoints();
    const int p = def.degree();
    if (p < 1 || n < 2 || n < p + 1 || !def.isValid())
        return false;
    for (double k : def.knots().knotList(false))
        if (!std::isfinite(k))
            return false;
    for (int i = 0; i < n; ++i)
        if (!std::isfinite(def.weight(i)) || !(def.weight(i) > 0.0))
            return false;
    return true;
}

const SURFACE* faceSurface(const FACE* face)
{
    const SURFACE* s = face ? face->geometry() : nullptr;
    return s && s->has_equation() ? s : nullptr;
}

FACE* faceOf(const COEDGE* c)
{
    return c && c->loop() ? c->loop()->face() : nullptr;
}

// Owner of a B-spline copy until an intcurve takes it.
template <class B, void (*Delete)(B&)>
struct Owned {
    B b = nullptr;
    ~Owned()
    {
        if (b)
            Delete(b);
    }
    B release()
    {
        B r = b;
        b = nullptr;
        return r;
    }
};
void deleteBs3(bs3_curve& b) { bs3_curve_delete(b); }
void deleteBs2(bs2_curve& b) { bs2_curve_delete(b); }
using OwnedBs3 = Owned<bs3_curve, deleteBs3>;
using OwnedBs2 = Owned<bs2_curve, deleteBs2>;

QELinterval curveRangeOf(const EDGE* edge)
{
    return edge_curve_range(edge);
}

} // namespace

const SURFACE* coedgeFaceSurface(const COEDGE* coedge)
{
    return faceSurface(faceOf(coedge));
}

bool nurbsArraysFit(int degree, int count, const double* ctrlPts, int knotCount, const double* knots,
                    const int* mults)
{
    // More control points or knots than any real curve carries: data of that
    // size is damaged, and reading it would only exhaust memory.
    constexpr int maxCount = 1 << 22;
    if (!ctrlPts || !knots || !mults || count <= 0 || count >= maxCount || knotCount <= 0 ||
        knotCount >= maxCount || degree <= 0 || degree >= maxCount)
        return false;
    long long sum = 0;
    for (int i = 0; i < knotCount; ++i) {
        if (mults[i] < 0 || mults[i] >= maxCount)
            return false;
        sum += mults[i];
    }
    return sum == static_cast<long long>(count) + degree + 1;
}

double knotTolerance()
{
    if (Ve_OptionDoc::isOn(Ve_OptionDoc::UseDifferentKnotTol) && Ve_OptionDoc::KnotTol)
        return Ve_OptionDoc::KnotTol->value();
    return bs3_curve_knottol();
}

bool definitionUsable(const QELXBSplineDef3D& def)
{
    if (!layoutUsable(def))
        return false;
    for (int i = 0; i < def.numControlPoints(); ++i)
        if (!finite3(def.controlPoint(i).GetCoords()))
            return false;
    return true;
}

bool definitionUsable(const QELXBSplineDef2D& def)
{
    if (!layoutUsable(def))
        return false;
    for (int i = 0; i < def.numControlPoints(); ++i)
        if (!std::isfinite(def.controlPoint(i)[0]) || !std::isfinite(def.controlPoint(i)[1]))
            return false;
    return true;
}

void repairG1(QELXBSplineDef3D& def)
{
    if (def.degree() < 2 || !Ve_OptionDoc::isOn(Ve_OptionDoc::CheckAndFixG13dCrv))
        return;
    const double tol = Ve_OptionDoc::LinearityTolforG1 ? Ve_OptionDoc::LinearityTolforG1->value() : 0.0;
    QELXBSplineDiscUtil3D util(def, tol);
    if (Ve_OptionDoc::isOn(Ve_OptionDoc::MakeG13dCrvAlways) || !util.isG1AtAllKnotDegreeMultiplicities())
        util.makeG1();
}

int closureOf(const QELXBSplineDef3D& def)
{
    if (!def.isPeriodic())
        return 0;
    if (!def.isClamped())
        return 2;
    QELXBSplineDef3D copy = def;
    return QELXBSplineDiscUtil3D(copy, Gk_Def::FuzzSnap).isG1AtSeam() ? 2 : 1;
}

void buildCurve(QELXBSplineDef3D& def, const Gk_LinMap& map, const QELXMorph3D& morph, bool skipG1, bs3_curve& bs3,
                curve*& crv)
{
    // Bad data (non-finite values, falling knots, weights <= 0, arrays that do
    // not fit) builds nothing rather than a curve the kernel would reject later.
    if (def.numControlPoints() < 2 || !definitionUsable(def))
        return;
    // An open curve whose knots do not repeat at its ends is clamped by knot
    // insertion: the kernel's clamped layout would otherwise move it.
    if (!def.isPeriodic() && !def.isClamped() && def.knots().n_brk() >= 2)
        def = QELXBSplineSplitUtilWeight3D::subset(def);
    if (!skipG1)
        repairG1(def);
    def.apply(map);
    const int n = def.numControlPoints();
    const bool rational = def.isRational();
    std::vector<QELposition> points(static_cast<std::size_t>(n));
    std::vector<double> weights;
    for (int i = 0; i < n; ++i) {
        QELXPoint3D p = def.controlPoint(i).GetCoords();
        p.Transform(morph, false);
        points[i] = Ve_Pt3(p);
        if (rational)
            weights.push_back(def.weight(i));
    }
    const std::vector<double> knots = def.knots().knotList(!def.isPeriodic());
    const int closure = closureOf(def);
    bs3 = bs3_curve_from_ctrlpts(def.degree(), rational ? 1 : 0, closure >= 1 ? 1 : 0, closure == 2 ? 1 : 0, n,
                                 points.data(), rational ? weights.data() : nullptr, QELresabs,
                                 static_cast<int>(knots.size()), knots.data(), knotTolerance());
    if (!bs3)
        return;
    crv = VELM_ADOPT(intcurve, bs3, QELresabs);
    if (Ve_OptionDoc::isOn(Ve_OptionDoc::FixCrvSelfIntxn) &&
        (Ve_CrvApproxUtil::isCrvIrregular(crv) || Ve_CrvApproxUtil::crvSelfIntersects(crv))) {
        Ve_CrvApproxUtil util;
        if (!util.makeUsingGrid(bs3, crv, 20))
            util.makeUsingGrid(bs3, crv, 10);
    }
}

bool hasCoincidentControlPoints(bs3_curve bs3, const curve* crv)
{
    if (!bs3)
        return false;
    const intcurve* owner = crv && crv->type() == 11 ? static_cast<const intcurve*>(crv) : nullptr;
    check_status_list wanted(status_coincident_points);
    // A check that cannot run raises: taken for "none", it kept a spline the
    // fix would have rebuilt, and said nothing.
    const std::unique_ptr<check_status_list> found(bs3_curve_check(bs3, owner, &wanted));
    return found && found->status() == status_coincident_points;
}

bs3_curve makePeriodicBs3(bs3_curve b)
{
    if (!b || !bs3_curve_closed(b))
        return nullptr;
    int dim = 0, p = 0, rational = 0, n = 0, K = 0;
    QELposition* P = nullptr;
    double* w = nullptr;
    double* k = nullptr;
    bs3_curve_to_array(b, dim, p, rational, n, P, w, K, k);
    KernelArrays arrays(P, w, k);
    if (!P || !k || n < 5 || K != n + p + 1)
        return nullptr;
    const double t = knotTolerance();
    auto same = [t](double a, double c) { return std::fabs(a - c) <= t; };
    // Clamped ends: exactly p + 1 copies of the first and of the last knot.
    int startRun = 1;
    while (startRun < K && same(k[startRun], k[0]))
        ++startRun;
    int endRun = 1;
    while (endRun < K && same(k[K - 1 - endRun], k[K - 1]))
        ++endRun;
    if (startRun != p + 1 || endRun != p + 1 || startRun + endRun >= K)
        return nullptr;
    const int aFirst = startRun;
    int aCount = 1;
    while (aFirst + aCount < K && same(k[aFirst + aCount], k[aFirst]))
        ++aCount;
    const int cLast = K - 1 - endRun;
    int cCount = 1;
    while (cLast - cCount >= 0 && same(k[cLast - cCount], k[cLast]))
        ++cCount;
    const double a = k[aFirst];
    const double c = k[cLast];
    const double bNext = aFirst + aCount < K ? k[aFirst + aCount] : k[K - 1];
    const double e = cLast - cCount >= 0 ? k[cLast - cCount] : k[0];
    for (int d = 0; d < 3; ++d)
        if (std::fabs(P[0][d] - P[n - 1][d]) > QELresabs)
            return nullptr;
    const QELvector L0 = P[1] - P[0];
    const QELvector L1 = P[n - 2] - P[n - 1];
    if (L0.len() < QELresabs || L1.len() < QELresabs || !(a - k[0] > 0.0) || !(k[K - 1] - c > 0.0))
        return nullptr;
    const QELvector T0 = (p / (a - k[0])) * L0;
    const QELvector T1 = (p / (k[K - 1] - c)) * L1;
    if (std::fabs(T0.len() - T1.len()) > 0.2)
        return nullptr;
    // The seam leg mirrored: Q = 2 P0 - P1 becomes the last but one point.
    const QELposition Q = P[0] - L0;
    bool onPrevious = true;
    for (int d = 0; d < 3; ++d)
        onPrevious = onPrevious && std::fabs(Q[d] - P[n - 3][d]) <= QELresabs;
    if (onPrevious)
        return nullptr;
    P[n - 2] = Q;
    // Equal end spans.
    const double delta = (a - k[0]) - (k[K - 1] - c);
    double newA = a, newC = c;
    if (std::fabs(delta) > t) {
        const double h = delta / 2.0;
        if ((h > 0.0 && c - e > h) || (h < 0.0 && bNext - a > -h)) {
            newA -= h;
            newC -= h;
        } else if (h > 0.0) {
            newA -= delta;
        } else {
            newC -= delta;
        }
    }
    for (int i = 0; i < aCount; ++i)
        k[aFirst + i] = newA;
    for (int i = 0; i < cCount; ++i)
        k[cLast - i] = newC;
    bs3_curve periodic = bs3_curve_from_ctrlpts(p, rational, 1, 1, n, P, rational ? w : nullptr, QELresabs, K, k, t);
    if (periodic && !bs3_curve_periodic(periodic))
        bs3_curve_delete(periodic);
    return periodic;
}

int buildIntcurve(bs3_curve bs3, double fit, const surface* s1, const surface* s2, bs2_curve p1, bs2_curve p2,
                  intcurve*& result)
{
    Gk_ErrMgr::checkAbort();
    if (!Ve_OptionDoc::CreateIntCurve)
        Gk_ErrMgr::doAssert("ve_curvexltr", 486);
    if (!Ve_OptionDoc::isOn(Ve_OptionDoc::CreateIntCurve) || !bs3)
        return 1;
    // Once handed to the kernel's construction the B-splines are its own, freed
    // by it when the intcurve cannot be made; an error before frees them here.
    bool handed = false;
    const auto make = [&](const surface* a, const surface* b, bs2_curve pa, bs2_curve pb) {
        handed = true;
        result = velm_make_intcurve(bs3, fit, a, b, pa, pb, __FILE__, __LINE__);
    };
    int answer = 1;
    const int err = velmGuard([&] {
        if (!s1 && !s2) {
            make(nullptr, nullptr, nullptr, nullptr);
            answer = 0;
            return;
        }
        const QELinterval range = bs3_curve_range(bs3);
        for (bs2_curve pc : {p1, p2}) {
            if (!pc || bs2_curve_range(pc) == range)
                continue;
            bs2_curve_reparam(range.start_pt(), range.end_pt(), pc);
            if (!(bs2_curve_range(pc) == range))
                Gk_ErrMgr::trap("ve_curvexltr", 520);
        }
        if (!s1 || !s2) {
            make(s1 ? s1 : s2, nullptr, s1 ? p1 : p2, nullptr);
            answer = 0;
            return;
        }
        const double t = range.mid_pt();
        QELposition Q;
        QELvector T;
        bs3_curve_eval(t, bs3, Q, &T);
        auto normalAt = [&](const surface* s, bs2_curve p) {
            if (!p)
                return QELvector(s->eval_normal(s->param(Q)));
            QELpar_pos uv;
            bs2_curve_eval(t, p, uv);
            if (distance(s->eval_position(uv), Q) > QELresfit)
                Gk_ErrMgr::trap("ve_curvexltr", 540);
            QELpar_pos guess = uv;
            return QELvector(s->eval_normal(s->param(Q, &guess)));
        };
        const QELvector C = normalAt(s1, p1) * normalAt(s2, p2);
        if (C.len() < 0.1 || std::fabs(C % T) < QELresabs)
            return;
        if ((C % T) > QELresabs)
            make(s1, s2, p1, p2);
        else
            make(s2, s1, p2, p1);
        answer = 0;
    });
    if (!err)
        return answer;
    if (!handed) {
        bs3_curve_delete(bs3);
        bs2_curve_delete(p1);
        bs2_curve_delete(p2);
    }
    result = nullptr;
    return -1;
}

bool attachPCurveFromIntcurve(COEDGE* coedge, FACE* face, const char* source, int line)
{
    const SURFACE* fs = faceSurface(face);
    EDGE* edge = coedge ? coedge->edge() : nullptr;
    if (!fs || !edge || !fs->equation().parametric())
        return false;
    const CURVE* cu = edge->geometry();
    Gk_ErrMgr::checkAbort();
    if (!cu || !cu->has_equation() || cu->equation().type() != 11) {
        Gk_ErrMgr::doAssert(source, line);
        return false;
    }
    const intcurve& ic = static_cast<const intcurve&>(cu->equation());
    int index = 0;
    if (ic.surf1() && ic.pcur1() && isSameSurface(*ic.surf1(), fs->equation()))
        index = 1;
    else if (ic.surf2() && ic.pcur2() && isSameSurface(*ic.surf2(), fs->equation()))
        index = 2;
    if (index == 0)
        return false;
    if (coedge->sense() != edge->sense())
        index = -index;
    return velmCall([&] { coedge->set_geometry(VELM_MAKE(PCURVE, pcurve(ic, index))); }).ok();
}

void snapClosedEdgeVertices(EDGE* edge, const Gk_Domain& domain)
{
    if (!edge || !edge->closed() || !edge->geometry() || !edge->geometry()->has_equation())
        return;
    // Both ends in one bracket: a move the kernel refuses takes back the
    // other and raises, rather than leaving one end snapped in silence.
    const QELposition at = edge->geometry()->equation().eval_position(domain.low());
    raiseFailure(velmCall([&] {
        for (VERTEX* v : {edge->start(), edge->end()}) {
            APOINT* pt = v ? v->geometry() : nullptr;
            if (!pt)
                continue;
            const double d = distance(pt->coords(), at);
            if (QELresabs < d && d < Gk_Def::FuzzSnap)
                pt->set_coords(at);
        }
    }));
}

bool needsClosedReimport(EDGE* edge, const Gk_Domain& domain, const QELXBSplineDef3D& def)
{
    if (!edge || std::fabs(domain.length()) < 1e-5 || !def.isPeriodic())
        return false;
    const CURVE* cu = edge->geometry();
    if (!cu || !cu->has_equation() || cu->equation().type() != 11)
        return false;
    bs3_curve b = static_cast<const intcurve&>(cu->equation()).cur();
    if (!b || !bs3_curve_open(b))
        return false;
    // A range the kernel cannot give raises: taken for "no", it left a
    // periodic curve imported over part of its edge without a word.
    const double E = curveRangeOf(edge).length();
    const double L = domain.length();
    const double D = def.domain().length();
    const int n = def.numControlPoints();
    if (!(std::fabs(E - L) > 1e-4) || !(std::fabs(D - (E + L)) < 1e-5) || n < 2)
        return false;
    if (def.controlPoint(0).GetCoords().Distance(def.controlPoint(n - 1).GetCoords()) > 1e-4)
        return false;
    return bs3_curve_length(b) >= 10.0;
}

bool makePeriodicOverDomain(EDGE* edge, const Gk_Domain& domain, curve*& crv, bs3_curve& bs3, bool& changed)
{
    changed = false;
    if (!edge || !crv || crv->type() != 11)
        return false;
    bs3_curve b = static_cast<intcurve*>(crv)->cur();
    if (!b || !bs3_curve_closed(b) || bs3_curve_periodic(b))
        return false;
    const QELinterval r = crv->param_range();
    if (r.type() != interval_bounded)
        return false;
    Gk_Domain d = domain;
    if (!d.isFinite() || !(d.length() > 0.0))
        return false;
    if (edge->sense() == REVERSED)
        d = -d;
    const double d0 = d.low(), d1 = d.high(), r0 = r.start_pt(), r1 = r.end_pt();
    if (!(d0 - r0 < -0.01 || d1 - r1 > 0.01 || d1 - r0 < -0.01 || d0 - r1 > 0.01))
        return false;
    bs3_curve periodic = ve_spline_curve::makePeriodicBs3(b);
    if (!periodic)
        return true;
    // Made before the old curve goes, so that a failure leaves the caller's.
    curve* made = VELM_ADOPT(intcurve, periodic, QELresabs);
    delete crv;
    crv = made;
    bs3 = periodic;
    changed = true;
    return true;
}

bool startClosedSplineAt(EDGE* edge, const QELinterval& curveRange, bool periodicToo)
{
    const CURVE* cu = edge ? edge->geometry() : nullptr;
    if (!cu || !cu->has_equation() || cu->equation().type() != 11 || (cu->equation().periodic() && !periodicToo) ||
        !curveRange.finite())
        return false;
    const auto& ic = static_cast<const intcurve&>(cu->equation());
    const bs3_curve b = ic.cur();
    if (!b || (bs3_curve_periodic(b) && !periodicToo))
        return false;
    // A curve run against its B-spline is begun on the B-spline's own
    // parameter at the range's other end, and run against it again.
    const QELinterval range = ic.reversed() ? -curveRange : curveRange;
    const QELinterval own = bs3_curve_range(b);
    const double turn = own.length();
    if (!(turn > QELresabs) || (range.start_pt() >= own.start_pt() - QELresabs && range.end_pt() <= own.end_pt() + QELresabs) ||
        range.length() > turn + QELresabs ||
        distance(bs3_curve_position(own.start_pt(), b), bs3_curve_position(own.end_pt(), b)) > QELresabs)
        return false;
    // Where on the curve the range starts, and the curve from there round.
    const double from = own.start_pt() + (range.start_pt() - own.start_pt() - turn * std::floor((range.start_pt() - own.start_pt()) / turn));
    OwnedBs3 turned;
    if (from - own.start_pt() <= QELresabs || own.end_pt() - from <= QELresabs) {
        turned.b = bs3_curve_copy(b);
    } else {
        OwnedBs3 after, before;
        after.b = bs3_curve_subset(b, QELinterval(from, own.end_pt()));
        before.b = bs3_curve_subset(b, QELinterval(own.start_pt(), from));
        turned.b = after.b && before.b ? bs3_curve_join(after.b, before.b) : nullptr;
    }
    if (!turned.b)
        return false;
    bs3_curve_reparam(range.start_pt(), range.start_pt() + turn, turned.b);
    // The joint is where the source's curve began; the seam it was given a
    // period off at no definition made: it stays what the definition gave.
    if (bs3_curve_periodic(b))
        bs3_curve_set_periodic(turned.b);
    else if (bs3_curve_closed(b))
        bs3_curve_set_closed(turned.b);
    else
        bs3_curve_set_open(turned.b);
    intcurve made(turned.release(), QELresabs);
    if (ic.reversed())
        made.negate();
    edge->set_geometry(make_curve(made));
    return true;
}

bool approximateEllipse(EDGE* edge, const Gk_Domain& domain, curve*& crv, bool tinyArcs)
{
    if (!edge || !crv || crv->type() != 2)
        return false;
    const ellipse& ell = static_cast<const ellipse&>(*crv);
    Gk_Domain d = domain;
    if (edge->sense() == REVERSED)
        d = -d;
    bool approximate = ell.major_axis.len() > QELresabs / QELresmch;
    if (!approximate && tinyArcs && d.isFinite() && d.length() < 0.0006) {
        const QELvector gap = ell.eval_position(d.high()) - ell.eval_position(d.low());
        approximate = gap.len_sq() < QELresabs * QELresabs;
    }
    if (!approximate || !d.isFinite())
        return false;
    bs3_curve approx = nullptr;
    velmGuard([&] { approx = bs3_curve_make_ell(ell, d.low(), d.high(), QELresabs); });
    if (!approx)
        return false;
    curve* made = VELM_ADOPT(intcurve, approx, QELresabs);
    delete crv;
    crv = made;
    return true;
}

bs2_curve bs2FromDefinition(const QELXBSplineDef2D& def, bool alwaysRational, bool closed, bool periodic,
                            double knotTol, const std::function<QELXPoint2D(const QELXPoint2D&)>& uvMap)
{
    if (def.numControlPoints() < 2 || !definitionUsable(def))
        return nullptr;
    const int n = def.numControlPoints();
    const bool rational = alwaysRational || def.isRational();
    std::vector<QELposition> points(static_cast<std::size_t>(n));
    std::vector<double> weights(static_cast<std::size_t>(n), 1.0);
    for (int i = 0; i < n; ++i) {
        const QELXPoint2D uv = uvMap(def.controlPoint(i).GetCoords());
        if (!std::isfinite(uv[0]) || !std::isfinite(uv[1]))
            return nullptr;
        points[i] = QELposition(uv[0], uv[1], 0.0);
        weights[i] = def.weight(i);
    }
    const std::vector<double> knots = def.knots().knotList(true);
    bs2_curve result = nullptr;
    velmGuard([&] {
        result = bs2_curve_from_ctrlpts(def.degree(), rational ? 1 : 0, closed ? 1 : 0, periodic ? 1 : 0, n,
                                        points.data(), rational ? weights.data() : nullptr, QELresabs,
                                        static_cast<int>(knots.size()), knots.data(), knotTol);
    });
    return result;
}

void pcurveOntoRange(bs2_curve& pc, const QELinterval& range, const EDGE* edge, const surface* on, double period,
                     const QELpar_vec& offset)
{
    const QELinterval own = bs2_curve_range(pc);
    if (!(own == range) && edge && on && own.finite() && range.finite()) {
        const QELposition a = edge->start_pos(), b = edge->end_pos();
        // How far the surface's points at two parameters of the B-spline lie
        // from the edge's ends, either way round.
        const auto gap = [&](double t0, double t1) {
            QELpar_pos p0, p1;
            bs2_curve_eval(t0, pc, p0);
            bs2_curve_eval(t1, pc, p1);
            const QELposition q0 = on->eval_position(p0 + offset), q1 = on->eval_position(p1 + offset);
            return std::min(std::max(distance(q0, a), distance(q1, b)), std::max(distance(q0, b), distance(q1, a)));
        };
        // Reparameterised, its own ends go to the range's; cut, the part over
        // the range (moved by whole periods of a periodic curve, as the
        // edge's range may have been) is kept.
        double best = gap(own.start_pt(), own.end_pt());
        std::optional<double> shift;
        double first = 0.0, last = 0.0;
        if (period > 0.0) {
            first = std::ceil((range.end_pt() - own.end_pt() - QELresabs) / period);
            last = std::min(std::floor((range.start_pt() - own.start_pt() + QELresabs) / period), first + 2.0);
        }
        // At most three periods are tried: counted, since far out (a range
        // near the largest real) adding one to k no longer changes it.
        for (int step = 0; step <= 2 && first + step <= last; ++step) {
            const double by = (first + step) * period;
            if (!((own + by) >> range))
                continue;
            if (const double g = gap(range.start_pt() - by, range.end_pt() - by); g < best) {
                best = g;
                shift = by;
            }
        }
        if (shift) {
            bs2_curve_reparam(own.start_pt() + *shift, own.end_pt() + *shift, pc);
            if (bs2_curve piece = bs2_curve_subset(pc, range & (own + *shift), QELresabs)) {
                bs2_curve_delete(pc);
                pc = piece;
            }
        }
    }
    bs2_curve_reparam(range.start_pt(), range.end_pt(), pc);
}

void clearEdgeGeometry(EDGE* edge)
{
    velmCall([&] {
        edge->set_geometry(nullptr);
        for (COEDGE* c : edge_coedges(edge))
            c->set_geometry(nullptr);
    });
}

void fitToEdge(EDGE* edge, const Gk_Domain& domain, curve*& crv, bs3_curve& bs3,
               const std::function<void()>& install)
{
    COEDGE* first = edge ? edge->coedge() : nullptr;
    if (!first || !first->loop() || !crv || crv->type() != 11)
        return;
    const intcurve& ic = static_cast<const intcurve&>(*crv);
    OwnedBs3 space;
    space.b = ic.cur() ? bs3_curve_copy(ic.cur()) : nullptr;
    if (!space.b)
        return;
    COEDGE* partner = first->partner() && first->partner() != first ? first->partner() : nullptr;
    FACE* face1 = faceOf(first);
    FACE* face2 = faceOf(partner);
    const SURFACE* surf1 = faceSurface(face1);
    const SURFACE* surf2 = faceSurface(face2);
    // Every coedge gets a pcurve; a scar edge's may be made afresh.
    for (COEDGE* c : edge_coedges(edge)) {
        if (!c->geometry()) {
            Ve_FixPCurve::addPCurve(c);
        } else if (Ve_OptionDoc::isOn(Ve_OptionDoc::OverridePCurvesOnScarEdges) && c->partner() &&
                   c->partner() != c && c->partner()->loop() == c->loop()) {
            velmCall([&] { c->set_geometry(nullptr); });
            Ve_FixPCurve::addPCurve(c);
        }
    }
    auto pcurveCopy = [&](const COEDGE* c) {
        bs2_curve copy = nullptr;
        const PCURVE* pc = c ? c->geometry() : nullptr;
        if (pc && pc->has_equation()) {
            copy = bs2_curve_copy(pc->def().cur());
            if (pc->def().reversed() != (c->sense() != edge->sense()))
                bs2_curve_reverse(copy);
        }
        return copy;
    };
    OwnedBs2 pc1, pc2;
    pc1.b = pcurveCopy(first);
    pc2.b = pcurveCopy(partner);
    QELinterval range;
    if (!velmCall([&] { range = curveRangeOf(edge); }).ok())
        return;
    // An edge range that stops where the domain starts, and reaches from the
    // domain's end round the whole curve, was cut by a stale range: recompute it.
    if (std::fabs(range.end_pt() - domain.low()) < QELresabs) {
        std::unique_ptr<curve> unlimited(crv->copy_curve());
        unlimited->unlimit();
        const double full = unlimited->param_range().length();
        if (std::fabs(std::fabs(domain.high() - range.start_pt()) - full) < QELresabs) {
            velmCall([&] {
                edge->geometry()->equation_for_update().unlimit();
                edge->set_param_range(nullptr);
                range = curveRangeOf(edge);
            });
        }
    }
    for (const auto& [p, surf] : {std::pair{&pc1.b, surf1}, std::pair{&pc2.b, surf2}})
        if (*p && range.finite())
            velmGuard([&] { pcurveOntoRange(*p, range, edge, surf ? &surf->equation() : nullptr, crv->param_period()); });
    const QELinterval own = bs3_curve_range(space.b);
    if (!(own.length() > QELresabs) || !range.finite() || !(range.length() > QELresabs))
        return;
    if (!(own == range)) {
        bs3_curve piece = nullptr;
        velmGuard([&] { piece = bs3_curve_subset(space.b, range, QELresabs); });
        if (piece) {
            bs3_curve_delete(space.b);
            space.b = piece;
        }
    }
    intcurve* built = nullptr;
    const int answer = ve_spline_curve::buildIntcurve(space.b, QELresfit, surf1 ? &surf1->equation() : nullptr,
                                     surf2 ? &surf2->equation() : nullptr, pc1.b, pc2.b, built);
    if (answer == 0 && built) {
        // The new curve owns the copies.
        space.release();
        pc1.release();
        pc2.release();
        delete crv;
        crv = built;
        bs3 = built->cur();
    }
    // With -1 or 1 the copies stay with their owners and are freed here.
    install();
    attachPCurveFromIntcurve(first, face1);
    if (partner)
        attachPCurveFromIntcurve(partner, face2);
    Ve_FixPCurve::FixPCurveOnParametricSurface(edge);
}

} // namespace ve_spline_curve
