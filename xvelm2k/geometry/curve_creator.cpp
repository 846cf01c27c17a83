#include "geometry/curve_creator.hxx"

#include <cmath>
#include <memory>

#include "geometry/spline_curve_build.hxx"
#include "model/kernel_call_bracket.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "repair/fix_pcurve.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology_api.hxx"

bs3_curve makePeriodicBs3(bs3_curve spline)
{
    return ve_spline_curve::makePeriodicBs3(spline);
}

int buildIntcurve(bs3_curve spline, double fit, const surface* surface1, const surface* surface2, bs2_curve pcurve1,
                  bs2_curve pcurve2, intcurve*& result)
{
    return ve_spline_curve::buildIntcurve(spline, fit, surface1, surface2, pcurve1, pcurve2, result);
}

Ve_CurveCreator::Ve_CurveCreator(Ve_EdgeTag* edge, Gk_Domain& domain, const QELXMorph3D& morph, bool noG1Repair)
    : Ve_CurveTranslator(domain, QELresfit, morph, noG1Repair), m_edge(edge)
{
}

EDGE* Ve_CurveCreator::edgeEntity() const
{
    return reinterpret_cast<EDGE*>(m_edge);
}

void Ve_CurveCreator::preProcessMap()
{
    Ve_CurveTranslator::preProcessMap();
    if (!map().isNegated())
        return;
    if (EDGE* e = edgeEntity())
        velmCall([&] { e->set_sense(e->sense() == FORWARD ? REVERSED : FORWARD); });
    map().setSlope(-map().slope());
    map().setAbscissa(-map().abscissa());
    map().setNegated(false);
}

void Ve_CurveCreator::fixCurve()
{
    Gk_ErrMgr::checkAbort();
    if (!m_curve) {
        Gk_ErrMgr::doAssert("ve_curvexltr", 418);
        return;
    }
    if (EDGE* e = edgeEntity()) {
        curve* c = m_curve;
        velmCall([&] { e->set_geometry(make_curve(*c)); });
    }
}

void Ve_CurveCreator::installAndRefresh()
{
    fixCurve();
    EDGE* e = edgeEntity();
    if (!e || !e->geometry())
        return;
    ENTITY_LIST coedges;
    api_get_coedges(e, coedges);
    coedges.init();
    while (ENTITY* c = coedges.next())
        Ve_FixPCurve::FixPCurveOnParametricSurface(static_cast<COEDGE*>(c));
}

void Ve_CurveCreator::doCallback(const QELXLineDef3D& line)
{
    Ve_CurveTranslator::doCallback(line);
    installAndRefresh();
}

void Ve_CurveCreator::doCallback(const QELXEllipseDef3D& ellipse)
{
    Ve_CurveTranslator::doCallback(ellipse);
    FixBigEllipses();
    installAndRefresh();
}

void Ve_CurveCreator::FixBigEllipses()
{
    EDGE* e = edgeEntity();
    if (!e || !m_curve || m_curve->type() != 2)
        return;
    const ellipse& ell = static_cast<const ellipse&>(*m_curve);
    if (!(ell.major_axis.len() > QELresabs / QELresmch))
        return;
    Gk_Domain d = domain();
    if (e->sense() == REVERSED)
        d = -d;
    bs3_curve approx = nullptr;
    velmGuard([&] { approx = bs3_curve_make_ell(ell, d.low(), d.high(), QELresabs); });
    if (approx)
        replaceCurve(VELM_MAKE(intcurve, approx, QELresabs));
}

void Ve_CurveCreator::doCallback(const QELXBSCurveDef3D& def)
{
    InternalCallBack(def);
    if (!NeedToCloseBSCurve(def))
        return;
    QELXBSplineDef3D closed = def.getData().Copy();
    const int n = closed.numControlPoints();
    closed.controlPoint(n - 1) = closed.controlPoint(0);
    const QELXBSCurveDef3D closedDef(closed);
    if (EDGE* e = edgeEntity())
        ve_spline_curve::clearEdgeGeometry(e);
    InternalCallBack(closedDef);
}

bool Ve_CurveCreator::NeedToCloseBSCurve(const QELXBSCurveDef3D& def)
{
    return ve_spline_curve::needsClosedReimport(edgeEntity(), domain(), def.getData());
}

bool Ve_CurveCreator::FixIntcurvePeriodicity(bool& changed)
{
    changed = false;
    EDGE* e = edgeEntity();
    if (!e || !m_curve || m_curve->type() != 11)
        return false;
    bs3_curve b = static_cast<intcurve*>(m_curve)->cur();
    if (!b || !bs3_curve_closed(b) || bs3_curve_periodic(b))
        return false;
    const QELinterval r = m_curve->param_range();
    if (r.type() != interval_bounded)
        return false;
    Gk_Domain d = domain();
    if (!d.isFinite() || !(d.length() > 0.0))
        return false;
    if (e->sense() == REVERSED)
        d = -d;
    const double d0 = d.low(), d1 = d.high(), r0 = r.start_pt(), r1 = r.end_pt();
    if (!(d0 - r0 < -0.01 || d1 - r1 > 0.01 || d1 - r0 < -0.01 || d0 - r1 > 0.01))
        return false;
    bs3_curve periodic = makePeriodicBs3(b);
    if (!periodic)
        return true;
    replaceCurve(VELM_MAKE(intcurve, periodic, QELresabs));
    changed = true;
    return true;
}

bool Ve_CurveCreator::fixPCurve(COEDGE* coedge, FACE* face)
{
    if (!face || !face->geometry() || !coedge || !coedge->edge())
        return false;
    return ve_spline_curve::attachPCurveFromIntcurve(coedge, face);
}

void Ve_CurveCreator::InternalCallBack(const QELXBSCurveDef3D& def)
{
    EDGE* e = edgeEntity();
    if (!e)
        return;
    Ve_CurveTranslator::doCallback(def);
    if (Ve_OptionDoc::isOn(Ve_OptionDoc::MakeBs3CrvPeriodic)) {
        bool changed = false;
        FixIntcurvePeriodicity(changed);
    }
    Gk_ErrMgr::checkAbort();
    if (!m_curve) {
        Gk_ErrMgr::doAssert("ve_curvexltr", 418);
        return;
    }
    fixCurve();
    ve_spline_curve::snapClosedEdgeVertices(e, domain());
    bs3_curve spline = m_spline;
    ve_spline_curve::fitToEdge(e, domain(), m_curve, spline, [this] { fixCurve(); });
    m_spline = spline;
}
