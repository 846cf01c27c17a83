#include "model/memory_init.hxx"
#include "trim/jordon_discontinuity.hxx"

#include <cmath>
#include <memory>

#include "qelx/qelx_errors.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "trim/trim_import_context.hxx"
#include "trim/trim_internal.hxx"
#include "velm/geometry_entity.hxx"

namespace {

// Strictly inside the domain by more than QELresnor at both ends.
bool interiorOf(const Gk_Domain& d, double t) { return t >= d.low() + QELresnor && t <= d.high() - QELresnor; }

// The tangent turns by more than the threshold allows between the two sides.
bool turnsAt(const QELvector& below, const QELvector& above, double threshold)
{
    return below % above < below.len() * above.len() * threshold;
}

bool turnsAt(const QELpar_vec& below, const QELpar_vec& above, double threshold)
{
    return turnsAt(QELvector(below.du, below.dv, 0.0), QELvector(above.du, above.dv, 0.0), threshold);
}

void insertSorted(QELXDynamicArray<double>& list, double t)
{
    int at = 0;
    for (; at < list.Count(); ++at) {
        if (std::fabs(list[at] - t) <= Gk_Def::FuzzPos)
            return;
        if (list[at] > t)
            break;
    }
    list.InsertAt(at, t);
}

} // namespace

Gk_Partition knotPartitionOfBs2(bs2_curve bs2)
{
    int n = 0;
    double* knots = nullptr;
    bs2_curve_knots(bs2, n, knots);
    std::unique_ptr<double[]> keep(knots);
    const int degree = bs2_curve_degree(bs2);
    bool clamped = n >= degree + 1;
    for (int i = 1; clamped && i <= degree; ++i)
        clamped = std::fabs(knots[i] - knots[0]) <= Gk_Def::FuzzKnot;
    return Gk_Partition(degree, knots, n, clamped, Gk_Def::FuzzKnot);
}

bool trimBs2Degenerate(bs2_curve bs2, double tol)
{
    if (!bs2)
        return false;
    const QELpar_box box = bs2_curve_box(bs2, 0.0);
    return box.u_range().length() < tol && box.v_range().length() < tol;
}

Ve_JordonDiscontinuity::Ve_JordonDiscontinuity(Ve_JordonCntlHandle segment, double threshold)
    : m_threshold(threshold), m_segment(std::move(segment))
{
    if (!m_segment.IsValid())
        Gk_ErrMgr::doAssert(kTrimSource, 963);
}

QELXDynamicArray<Ve_JordonCntlHandle> Ve_JordonDiscontinuity::splitNonG1()
{
    const Ve_JordonCntl* s = m_segment.get();
    if (s && s->getContext() && s->getContext()->prefPCurve())
        return splitNonG1PCrv();
    return splitNonG1Crv();
}

QELXDynamicArray<double> Ve_JordonDiscontinuity::crvDiscontinuities() const
{
    QELXDynamicArray<double> out;
    const Ve_JordonCntl* s = m_segment.get();
    const CURVE* cu = s ? trimCurveEntity(s->cur()) : nullptr;
    if (!cu || !cu->has_equation())
        return out;
    const curve& c = cu->equation();
    int n = 0;
    const double* breaks = c.discontinuities(n, 1);
    for (int i = 0; i < n; ++i) {
        const double t = breaks[i];
        if (!interiorOf(s->getDomain(), t))
            continue;
        QELposition p;
        QELvector d1, d2;
        QELvector* above[1] = {&d1};
        QELvector* below[1] = {&d2};
        c.evaluate(t, p, above, 1, side_above);
        c.evaluate(t, p, below, 1, side_below);
        if (turnsAt(d1, d2, m_threshold))
            out.Add(t);
    }
    return out;
}

QELXDynamicArray<double> Ve_JordonDiscontinuity::pcrvDiscontinuities() const
{
    QELXDynamicArray<double> out;
    const Ve_JordonCntl* s = m_segment.get();
    const PCURVE* pc = s ? trimPCurveEntity(s->pcur()) : nullptr;
    if (!pc || !pc->has_equation())
        return out;
    bs2_curve bs2 = pc->def().cur();
    if (bs2_curve_degree(bs2) == 1)
        return pcrvDiscontinuitiesOld();
    // The B-spline runs in its own parameter s; the segment reads it at
    // t = -s when the pcurve is reversed. Breaks go out in t.
    const double sign = pc->reversed() ? -1.0 : 1.0;
    const Gk_Domain& domain = s->getDomain();
    {
        // Read in the segment's parameter they come in falling order on a
        // reversed pcurve; the cuts want them rising.
        const intcurve lifted(bs3_curve_from_bs2(bs2), 0.0);
        int n = 0;
        const double* breaks = lifted.discontinuities(n, 1);
        for (int i = 0; i < n; ++i)
            if (interiorOf(domain, sign * breaks[i]))
                insertSorted(out, sign * breaks[i]);
    }
    const Gk_Partition partition = knotPartitionOfBs2(bs2);
    const int p = partition.degree();
    for (int k = 1; k + 1 < partition.n_brk(); ++k) {
        const double at = partition.breakValue(k);
        bool candidate = partition.multiplicity(k) > p;
        if (!candidate) {
            QELpar_pos uv;
            QELpar_vec below, above;
            bs2_curve_eval(at, bs2, uv, &below, nullptr, -1);
            bs2_curve_eval(at, bs2, uv, &above, nullptr, 1);
            candidate = !Gk_Func::equal(below.len(), above.len(), Gk_Def::FuzzPos);
        }
        if (candidate && interiorOf(domain, sign * at))
            insertSorted(out, sign * at);
    }
    return out;
}

QELXDynamicArray<double> Ve_JordonDiscontinuity::pcrvDiscontinuitiesOld() const
{
    QELXDynamicArray<double> out;
    const Ve_JordonCntl* s = m_segment.get();
    const PCURVE* pc = s ? trimPCurveEntity(s->pcur()) : nullptr;
    if (!pc || !pc->has_equation())
        return out;
    bs2_curve bs2 = pc->def().cur();
    const double sign = pc->reversed() ? -1.0 : 1.0;
    const Gk_Domain& domain = s->getDomain();
    const Gk_Partition partition = knotPartitionOfBs2(bs2);
    const int p = partition.degree();
    for (int k = 1; k + 1 < partition.n_brk(); ++k) {
        const double at = partition.breakValue(k);
        bool take = false;
        if (p < 2 || partition.multiplicity(k) != p) {
            QELpar_pos uv;
            QELpar_vec below, above;
            bs2_curve_eval(at, bs2, uv, &below, nullptr, -1);
            bs2_curve_eval(at, bs2, uv, &above, nullptr, 1);
            take = turnsAt(below, above, m_threshold);
        } else {
            take = true;
        }
        // No margin here, but a cut must fall inside the segment.
        const double t = sign * at;
        if (take && t > domain.low() && t < domain.high())
            insertSorted(out, t);
    }
    return out;
}

QELXDynamicArray<Ve_JordonCntlHandle> Ve_JordonDiscontinuity::splitNonG1Crv()
{
    QELXDynamicArray<Ve_JordonCntlHandle> pieces;
    Ve_JordonCntl* s = m_segment.get();
    if (!s)
        return pieces;
    const QELXDynamicArray<double> breaks = crvDiscontinuities();
    CURVE* cu = trimCurveEntity(s->cur());
    for (double t : breaks) {
        curve& c = cu->equation_for_update();
        const bool periodic = c.periodic();
        std::unique_ptr<curve> before(c.split(t));
        if (!before) {
            Gk_ErrMgr::doAssert(kTrimSource, 1269);
            continue;
        }
        const Gk_Domain d = s->getDomain();
        if (!periodic) {
            auto* piece = new Ve_JordonCntl(s->getContext());
            piece->setDomain(Gk_Domain(d.low(), t, Gk_Def::FuzzKnot));
            piece->setCur(trimCurveView(make_curve(*before)));
            pieces.Add(Ve_JordonCntlHandle(piece));
            s->setDomain(Gk_Domain(t, d.high(), Gk_Def::FuzzKnot));
        } else {
            // A closed curve is not cut: it starts at its break instead.
            s->setDomain(Gk_Domain(t, t + d.length(), Gk_Def::FuzzKnot));
        }
    }
    if (breaks.Count() > 0)
        s->losePcur();
    pieces.Add(m_segment);
    return pieces;
}

QELXDynamicArray<Ve_JordonCntlHandle> Ve_JordonDiscontinuity::splitNonG1PCrv()
{
    QELXDynamicArray<Ve_JordonCntlHandle> pieces;
    Ve_JordonCntl* s = m_segment.get();
    if (!s)
        return pieces;
    const QELXDynamicArray<double> breaks = pcrvDiscontinuities();
    PCURVE* pc = trimPCurveEntity(s->pcur());
    for (double t : breaks) {
        if (!Ve_OptionDoc::isOn(Ve_OptionDoc::SplitAtG1Disc))
            break;
        pcurve rest = pc->def();
        if (bs2_curve_periodic(rest.cur()))
            bs2_curve_set_open(rest.cur());
        std::unique_ptr<pcurve> before(rest.split(t));
        if (!before || !before->cur()) {
            Gk_ErrMgr::doAssert(kTrimSource, 1343);
            continue;
        }
        PCURVE* made = new (0, kTrimSource, 1348, nullptr) PCURVE(*before);
        if (!made)
            continue;
        const Gk_Domain d = s->getDomain();
        auto* piece = new Ve_JordonCntl(s->getContext());
        piece->setDomain(Gk_Domain(d.low(), t, Gk_Def::FuzzKnot));
        piece->setPcur(trimPCurveView(made));
        pieces.Add(Ve_JordonCntlHandle(piece));
        pc->set_def(rest);
        s->setDomain(Gk_Domain(t, d.high(), Gk_Def::FuzzKnot));
    }
    // The 3-D curve goes whether or not the pcurve was cut: it is rebuilt
    // from the pcurve afterwards.
    if (breaks.Count() > 0)
        s->loseCur();
    pieces.Add(m_segment);
    return pieces;
}
