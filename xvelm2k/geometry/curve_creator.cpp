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
    Ve_FixPCurve::FixPCurveOnParametricSurface(edgeEntity());
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
    curve* c = m_curve;
    m_curve = nullptr;
    ve_spline_curve::approximateEllipse(edgeEntity(), domain(), c, false);
    replaceCurve(c);
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
    curve* c = m_curve;
    bs3_curve spline = m_spline;
    m_curve = nullptr;
    const bool applied = ve_spline_curve::makePeriodicOverDomain(edgeEntity(), domain(), c, spline, changed);
    replaceCurve(c);
    return applied;
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
