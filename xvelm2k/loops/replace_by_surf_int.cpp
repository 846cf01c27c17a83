#include "loops/replace_by_surf_int.hxx"
#include "model/memory_init.hxx"

#include "velm/bspline.hxx"
#include "velm/geometry.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/topology.hxx"

Ve_ReplaceBySurfInt::WorkerMap Ve_ReplaceBySurfInt::workerMap;

Ve_ReplaceBySurfInt::WorkerMap& Ve_ReplaceBySurfInt::getWorkerMap() { return workerMap; }

void Ve_ReplaceBySurfInt::replaceEdgeCurve(EDGE* edge, const surface* surf)
{
    if (!edge || workerMap.FindIndex(edge) >= 0)
        return;
    // A worker that could not replace still goes in: the edge is not tried again.
    workerMap.Add(edge, Ve_ReplaceBySurfIntWorkerHandle(new Ve_ReplaceBySurfIntWorker(edge, surf)));
}

CURVE* Ve_ReplaceBySurfInt::makeSurfaceIntersectionCurve(EDGE* edge, const surface* surf)
{
    if (!edge || !surf || !edge->geometry() || !edge->geometry()->has_equation())
        return nullptr;
    const curve& eq = edge->geometry()->equation();
    QELinterval range = edge->param_range();
    if (edge->sense() == REVERSED)
        range = -range;
    if (!range.finite() || range.empty())
        return nullptr;
    double fit3 = 0.0;
    bs3_curve cur = bs3_curve_make_cur(eq, range.start_pt(), range.end_pt(), QELresabs, &fit3);
    if (!cur)
        return nullptr;
    double fit2 = 0.0;
    QELpar_vec shift;
    bs2_curve pcur = nullptr;
    // The curve is ours until the intcurve takes it: a kernel error while
    // the pcurve is fitted (memory running out among them) must free it.
    try {
        pcur = fit_pcurve_bs2(eq, range, *surf, QELresfit, fit2, shift);
    } catch (...) {
        bs3_curve_delete(cur);
        throw;
    }
    if (!pcur) {
        bs3_curve_delete(cur);
        return nullptr;
    }
    // The fit comes back already moved by whole periods into the surface's
    // principal range, and `shift` says by how much: moving it again would put
    // a pcurve starting on the seam's upper copy a whole period below the range.
    const double fitol = 100.0 * (fit2 > QELresfit ? fit2 : QELresfit);
    const intcurve replacement(cur, fitol, surf, nullptr, pcur, nullptr, nullptr);
    return make_curve(replacement);
}

Ve_ReplaceBySurfInt::Ve_ReplaceBySurfIntWorker::Ve_ReplaceBySurfIntWorker(EDGE* edge, const surface* surf)
    : m_edge(edge)
{
    if (!edge || !edge->geometry() || !edge->geometry()->has_equation())
        return;
    const curve& eq = edge->geometry()->equation();
    // An approximate intcurve stays what it is.
    if (eq.type() == 11 && static_cast<const intcurve&>(eq).get_int_cur().type() != exact_int_cur_id())
        return;
    CURVE* replacement = makeSurfaceIntersectionCurve(edge, surf);
    if (!replacement)
        return;
    m_savedCurve = edge->geometry();
    m_savedCurve->add();
    m_savedRange = edge->param_range();
    edge->set_geometry(replacement);
}

Ve_ReplaceBySurfInt::Ve_ReplaceBySurfIntWorker::~Ve_ReplaceBySurfIntWorker()
{
    if (!m_savedCurve)
        return;
    m_edge->set_geometry(m_savedCurve);
    m_edge->set_param_range(&m_savedRange);
    m_savedCurve->remove();
}
