#include "trim/jordon_cntl.hxx"

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>

#include "geometry/curve_importer.hxx"
#include "geometry/pcurve_importer.hxx"
#include "model/kernel_call_bracket.hxx"
#include "qelx/qelx_brep_exporter.hxx"
#include "qelx/qelx_errors.hxx"
#include "qelx/qelx_geometry_exporter.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "trim/jordon_discontinuity.hxx"
#include "trim/trim_import_context.hxx"
#include "trim/trim_internal.hxx"
#include "velm/check.hxx"
#include "velm/geometry_entity.hxx"

namespace {

QELXPoint3D pointOf(const QELposition& p) { return QELXPoint3D(p.x(), p.y(), p.z()); }

QELinterval intervalOf(const Gk_Domain& d) { return QELinterval(d.low(), d.high()); }

// The range reaches over the domain, within the knot fuzz scaled to the range.
bool holdsDomain(const QELinterval& range, const Gk_Domain& d)
{
    if (!range.finite() || !d.isFinite())
        return true;
    const double tol = Gk_Def::FuzzKnot * std::max({1.0, std::fabs(range.start_pt()), std::fabs(range.end_pt())});
    return d.low() >= range.start_pt() - tol && d.high() <= range.end_pt() + tol;
}

// The B-spline's parameter carried by the increasing linear map that takes
// `from` onto `to` (the whole B-spline, which may reach past `from`).
void moveAlongDomain(bs2_curve bs2, const Gk_Domain& from, const Gk_Domain& to)
{
    if (!from.isFinite() || !to.isFinite() || !(from.length() > 0.0))
        return;
    const double slope = to.length() / from.length();
    const QELinterval own = bs2_curve_range(bs2);
    const auto map = [&](double t) { return to.low() + slope * (t - from.low()); };
    velmGuard([&] { bs2_curve_reparam(map(own.start_pt()), map(own.end_pt()), bs2); });
}

} // namespace

// ---- file-local kernel work shared with the tests

double trimGapTolerance()
{
    return Ve_OptionDoc::TrimCurveGapTolerance ? Ve_OptionDoc::TrimCurveGapTolerance->value() : QELresabs;
}

bool checkImportedCurve(curve& c, const Gk_Domain& domain)
{
    bool ran = false;
    velmInnerCall([&] {
        const QELinterval range = c.param_range();
        // Lengths are only ever taken over finite ranges: an unbounded curve
        // is measured over the part the segment uses.
        QELinterval measured = range;
        if (!range.finite()) {
            if (!domain.isFinite())
                return;
            measured = intervalOf(domain);
        }
        const bool inverted = measured.start_pt() > measured.end_pt();
        if (!inverted && c.length(measured.start_pt(), measured.end_pt(), true) < 100.0 * QELresabs)
            return;
        check_fix input(1);
        input.tol1 = 10.0 * QELresabs;
        input.tol2 = 10.0 * QELresabs;
        input.mask = 65535;
        check_fix result;
        check_status_list* wanted = add_status(add_status(nullptr, status_bad_closure), status_coincident_points);
        std::unique_ptr<check_status_list> keepWanted(wanted);
        std::unique_ptr<check_status_list> found(c.check(input, &result, wanted));
        ran = true;
    });
    return ran;
}

void snapPCurveEndsToPoles(bs2_curve bs2, const surface& srf)
{
    if (!bs2)
        return;
    velmInnerCall([&] {
        const QELpar_box range = srf.param_range();
        int dim = 0, degree = 0, rational = 0, n = 0, nk = 0;
        QELposition* pts = nullptr;
        double* weights = nullptr;
        double* knots = nullptr;
        bs2_curve_to_array(bs2, dim, degree, rational, n, pts, weights, nk, knots);
        std::unique_ptr<QELposition[]> keepPts(pts);
        std::unique_ptr<double[]> keepWeights(weights), keepKnots(knots);
        const auto snap = [](double x, const QELinterval& r, auto singular) {
            if (!r.finite())
                return x;
            if (std::fabs(x - r.start_pt()) <= QELresabs && singular(r.start_pt()))
                return r.start_pt();
            if (std::fabs(x - r.end_pt()) <= QELresabs && singular(r.end_pt()))
                return r.end_pt();
            return x;
        };
        for (int i : {0, n - 1}) {
            if (i < 0)
                continue;
            const double u = snap(pts[i].x(), range.u_range(), [&](double at) { return srf.singular_u(at); });
            const double v = snap(pts[i].y(), range.v_range(), [&](double at) { return srf.singular_v(at); });
            bs2_curve_set_ctrlpt(bs2, i, QELpar_pos(u, v), rational && weights ? weights[i] : 1.0);
        }
    });
}

// ---- the segment

Ve_JordonCntl::Ve_JordonCntl(Ve_TrimImportContext* context) : m_context(context)
{
    if (context)
        m_surface = context->getSurface();
    Gk_ErrMgr::checkAbort();
    if (!m_surface)
        Gk_ErrMgr::doAssert(kTrimSource, 1399);
}

Ve_JordonCntl::Ve_JordonCntl(const Ve_JordonCntl& other)
    : QELXReferenceCount(other), m_surface(other.m_surface), m_pcurve(other.m_pcurve), m_curve(other.m_curve),
      m_domain(other.m_domain), m_context(other.m_context), m_owner(false)
{
}

Ve_JordonCntl& Ve_JordonCntl::operator=(const Ve_JordonCntl& other)
{
    if (this == &other)
        return *this;
    if (m_owner)
        cleanUp();
    m_surface = other.m_surface;
    m_pcurve = other.m_pcurve;
    m_curve = other.m_curve;
    m_domain = other.m_domain;
    m_context = other.m_context;
    m_owner = false;
    return *this;
}

Ve_JordonCntl::~Ve_JordonCntl()
{
    if (m_owner)
        cleanUp();
}

void Ve_JordonCntl::cleanUp()
{
    losePcur();
    loseCur();
}

void Ve_JordonCntl::loseCur()
{
    if (CURVE* c = trimCurveEntity(m_curve)) {
        trimCurveMapErase(c);
        c->lose();
    }
    m_curve = nullptr;
}

void Ve_JordonCntl::losePcur()
{
    if (PCURVE* p = trimPCurveEntity(m_pcurve))
        p->lose();
    m_pcurve = nullptr;
}

QELXPoint3D Ve_JordonCntl::eval(double t, bool throughPCurve) const
{
    const PCURVE* pc = trimPCurveEntity(m_pcurve);
    const CURVE* cu = trimCurveEntity(m_curve);
    const SURFACE* sf = trimSurfaceEntity(m_surface);
    const bool curveUsable = cu && cu->has_equation();
    if (pc && pc->has_equation() && sf && sf->has_equation() && (throughPCurve || !curveUsable))
        return pointOf(sf->equation().eval_position(pc->def().eval_position(t)));
    if (curveUsable)
        return pointOf(cu->equation().eval_position(t));
    Gk_ErrMgr::doAssert(kTrimSource, 1658);
    return QELXPoint3D(0.0, 0.0, 0.0);
}

QELXPoint3D Ve_JordonCntl::start(bool throughPCurve) const { return eval(m_domain.low(), throughPCurve); }
QELXPoint3D Ve_JordonCntl::mid(bool throughPCurve) const
{
    return eval(0.5 * (m_domain.low() + m_domain.high()), throughPCurve);
}
QELXPoint3D Ve_JordonCntl::end(bool throughPCurve) const { return eval(m_domain.high(), throughPCurve); }

bool Ve_JordonCntl::seed(const QELXIdentifier& coedge, QELXBRepExporter* exporter)
{
    QELXGeometryExporter* g = nullptr;
    if (exporter)
        exporter->GetGeometryExporter(g);
    if (!g)
        return false;
    QELXIdentifier pcurveId;
    exporter->GetCoedgePCurve(coedge, pcurveId);
    double low = 0.0, high = 0.0;
    exporter->GetCoedgeDomain(coedge, low, high);
    m_domain = Gk_Domain(low, high, Gk_Def::FuzzKnot);

    const SURFACE* sf = trimSurfaceEntity(m_surface);
    // Made into the segment's pcurve once the curve is in: the curve may move
    // the segment's parameter, and the pcurve moves with it.
    bs2_curve bs2 = nullptr;
    if (pcurveId.IsValid()) {
        // A pcurve whose sense is false runs against the coedge: it is read at
        // the negated coedge parameter, so it is turned to run with it.
        bool pcurveForward = true;
        exporter->GetCoedgePCurveSense(coedge, pcurveForward);
        static const Gk_BiLinMap identity;
        QELXVelmPCurveImporter importer(g, pcurveId, m_context ? m_context->getMap() : identity,
                                        pcurveForward ? m_domain : -m_domain, Gk_SurfApproxInfoHandle());
        if (importer.Import() == 0)
            bs2 = importer.GetBs2Curve();
        if (bs2 && !pcurveForward)
            bs2_curve_reverse(bs2);
        // A pcurve that does not reach over the coedge's domain cannot
        // describe it (its sense or parameters are wrong): the segment does
        // without it rather than read it where it is not defined.
        if (bs2 && !bs2_curve_periodic(bs2) && !holdsDomain(bs2_curve_range(bs2), m_domain)) {
            bs2_curve_delete(bs2);
            bs2 = nullptr;
        }
    }

    QELXIdentifier edge, curveId;
    exporter->GetEdgeFromCoedge(coedge, edge);
    exporter->GetEdgeCurve(edge, curveId);
    if (curveId.IsValid()) {
        bool coedgeForward = true, edgeForward = true;
        exporter->GetCoedgeSense(coedge, coedgeForward);
        QELXIdentifier vertices[2];
        exporter->GetStartVertexFromEdge(edge, vertices[coedgeForward ? 0 : 1]);
        exporter->GetEndVertexFromEdge(edge, vertices[coedgeForward ? 1 : 0]);
        for (const QELXIdentifier& vertex : vertices) {
            // Read, as the source expects, though the points play no part here.
            QELXIdentifier point;
            double xyz[3] = {0.0, 0.0, 0.0};
            if (exporter->GetVertexPoint(vertex, point) == QELI_OK)
                g->GetCartesianPointData(point, xyz);
            exporter->ReleaseGeometry(vertex, QELXReleaseVertex);
        }
        exporter->GetEdgeSense(edge, edgeForward);
        // The curve runs in the edge's parameter; turned, it runs in the coedge's.
        const bool turn = coedgeForward != edgeForward;
        static const QELXMorph3D noMorph;
        QELXVelmCurveImporter importer(g, curveId, turn ? -m_domain : m_domain, QELresfit,
                                       m_context ? m_context->getDesMorph() : noMorph, false, false);
        importer.ImportCurve();
        if (const curve* made = importer.GetCurve()) {
            // The curve runs in the importer's image of the parameter it was
            // given (an ellipse whose source parameter is not its angle runs
            // in its angle; a reversed curve the other way): the segment
            // runs in the curve's parameter, the curve turned to run with
            // the coedge.
            bool negate = turn;
            Gk_Domain moved = m_domain;
            if (m_domain.isFinite()) {
                const double a = importer.MapParameter(turn ? -m_domain.low() : m_domain.low());
                const double b = importer.MapParameter(turn ? -m_domain.high() : m_domain.high());
                negate = a != b ? a > b : turn;
                moved = negate ? Gk_Domain(-a, -b, Gk_Def::FuzzKnot) : Gk_Domain(a, b, Gk_Def::FuzzKnot);
            }
            std::unique_ptr<curve> copy(made->make_copy());
            if (negate)
                copy->negate();
            if (bs2 && (moved.low() != m_domain.low() || moved.high() != m_domain.high()))
                moveAlongDomain(bs2, m_domain, moved);
            m_domain = moved;
            checkImportedCurve(*copy, m_domain);
            CURVE* entity = make_curve(*copy);
            m_curve = trimCurveView(entity);
            if (trimEdgeAttributesWanted())
                trimCurveMapInsert(entity, edge);
        }
    }
    if (bs2 && sf && sf->has_equation()) {
        snapPCurveEndsToPoles(bs2, sf->equation());
        const pcurve def(bs2, QELresfit, sf->equation(), -1, -1, -1, -1, true, -1.0);
        m_pcurve = trimPCurveView(new (0, kTrimSource, 1477, nullptr) PCURVE(def));
    } else if (bs2) {
        bs2_curve_delete(bs2);
    }
    return m_pcurve || m_curve;
}

bool Ve_JordonCntl::doMatch() const
{
    const PCURVE* pc = trimPCurveEntity(m_pcurve);
    const CURVE* cu = trimCurveEntity(m_curve);
    const SURFACE* sf = trimSurfaceEntity(m_surface);
    if (!pc || !cu || !sf || !pc->has_equation() || !cu->has_equation() || !sf->has_equation())
        return false;
    const pcurve& p = pc->def();
    const curve& c = cu->equation();
    const surface& s = sf->equation();
    double maxDev = -1.0, chord = 0.0;
    QELposition samples[7];
    for (int i = 0; i <= 6; ++i) {
        double t = m_domain.locate(i / 6.0);
        QELpar_pos uv;
        QELpar_vec duv;
        p.eval(t, uv, &duv);
        QELposition C;
        QELvector dC;
        c.eval(t, C, &dC);

        QELposition foot;
        QELpar_pos onSurface = uv;
        s.point_perp(C, foot, &uv, &onSurface);
        QELposition S;
        QELvector d1[2];
        s.eval(onSurface, S, d1);
        maxDev = std::max(maxDev, distance(C, S));

        const QELposition Q = s.eval_position(uv);
        QELposition F;
        c.point_perp(Q, F, &t);
        maxDev = std::max(maxDev, distance(Q, F));

        // Running opposite or across: no amount of closeness makes them one boundary.
        const QELvector T = duv.du * d1[0] + duv.dv * d1[1];
        if (dC % T < Gk_Def::FuzzReal)
            return false;
        samples[i] = S;
        if (i > 0)
            chord += distance(samples[i], samples[i - 1]);
    }
    const double tol = std::max(0.01 * chord, QELresfit);
    return bs3_curve_set_fitol(7, samples, tol) > maxDev;
}

bool Ve_JordonCntl::isPole() const
{
    const PCURVE* pc = trimPCurveEntity(m_pcurve);
    const SURFACE* sf = trimSurfaceEntity(m_surface);
    QELXPoint3D a, b, c;
    if (pc && pc->has_equation() && sf && sf->has_equation()) {
        a = start(true);
        b = mid(true);
        c = end(true);
    } else {
        const CURVE* cu = trimCurveEntity(m_curve);
        if (!cu || !cu->has_equation())
            return true;
        a = start(false);
        b = mid(false);
        c = end(false);
    }
    return Gk_Func::equal(a.Distance(b), 0.0, Gk_Def::FuzzPos) && Gk_Func::equal(a.Distance(c), 0.0, Gk_Def::FuzzPos);
}

bool Ve_JordonCntl::isUnbounded() const
{
    const CURVE* cu = trimCurveEntity(m_curve);
    if (cu && cu->has_equation() && is_STRAIGHT(&cu->equation()))
        return true;
    return start(false).Distance(end(false)) > trimGapTolerance();
}

bool Ve_JordonCntl::isDegenerate(bool use2D, double tol) const
{
    if (use2D) {
        const PCURVE* pc = trimPCurveEntity(m_pcurve);
        return pc && pc->has_equation() && trimBs2Degenerate(pc->def().cur(), tol);
    }
    const CURVE* cu = trimCurveEntity(m_curve);
    return cu && cu->has_equation() && cu->equation().length(m_domain.low(), m_domain.high(), true) < tol;
}

void Ve_JordonCntl::reverse()
{
    if (CURVE* cu = trimCurveEntity(m_curve); cu && cu->has_equation())
        cu->equation_for_update().negate();
    if (PCURVE* pc = trimPCurveEntity(m_pcurve); pc && pc->has_equation()) {
        pcurve def = pc->def();
        def.negate();
        pc->set_def(def);
    }
    m_domain = -m_domain;
}

QELXDynamicArray<Ve_JordonCntlHandle> Ve_JordonCntl::repair()
{
    const bool prefPCurve = m_context && m_context->prefPCurve();
    if (!doMatch()) {
        if (prefPCurve && m_pcurve && !isDegenerate(true, QELresabs))
            loseCur();
        // The curve stays when the pcurve was not preferred, or could not be
        // (collapsed to a point): then the pcurve that disagrees with it goes.
        if (m_curve)
            losePcur();
    }
    Ve_JordonDiscontinuity split(Ve_JordonCntlHandle(this), kTrimTangentBreakCosine);
    QELXDynamicArray<Ve_JordonCntlHandle> pieces = split.splitNonG1();
    for (Ve_JordonCntlHandle& piece : pieces) {
        Ve_JordonCntl* s = piece.get();
        if (!s || s->m_curve || !s->m_pcurve || s->isPole() || s->isDegenerate(true, QELresabs))
            continue;
        const PCURVE* pc = trimPCurveEntity(s->m_pcurve);
        if (!pc->has_equation())
            continue;
        std::unique_ptr<intcurve> built(trimSpaceCurveFromPCurve(pc->def()));
        if (!built || !built->cur_present())
            continue;
        const QELinterval domain = s->m_domain.isFinite() ? intervalOf(s->m_domain) : QELinterval();
        if (s->m_domain.isFinite() && !(built->param_range() == domain))
            built->limit(domain);
        s->m_curve = trimCurveView(make_curve(*built));
    }
    return pieces;
}
