#include "geometry/pcurve_importer.hxx"

#include <utility>
#include <cmath>

#include "geometry/spline_curve_build.hxx"
#include "model/kernel_call_bracket.hxx"
#include "qelx/gk_curve_defs.hxx"
#include "qelx/gk_spline_utils.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "velm/check.hxx"
#include "velm/geometry_entity.hxx"

namespace {

constexpr QELIResult kPcurveFailure = 0x1000001;

} // namespace

QELXVelmPCurveImporter::QELXVelmPCurveImporter(QELXGeometryExporter* exporter, const QELXIdentifier& pcurve,
                                               COEDGE* coedge, const Gk_BiLinMap& surfaceMap, const Gk_Domain& domain,
                                               bool forward, Gk_SurfApproxInfoHandle)
    : m_exporter(exporter), m_identifier(pcurve), m_coedge(coedge), m_surfaceMap(surfaceMap), m_forward(forward),
      m_domain(domain)
{
}

QELXVelmPCurveImporter::QELXVelmPCurveImporter(QELXGeometryExporter* exporter, const QELXIdentifier& pcurve,
                                               const Gk_BiLinMap& surfaceMap, const Gk_Domain& domain,
                                               Gk_SurfApproxInfoHandle)
    : m_exporter(exporter), m_identifier(pcurve), m_surfaceMap(surfaceMap), m_domain(domain)
{
}

void QELXVelmPCurveImporter::composeParameterization()
{
    double scale = 1.0, offset = 0.0;
    bool flag = true;
    m_exporter->GetPCurveParameterization(m_identifier, scale, offset, flag);
    // Source -> canonical in the exporter; the control data is canonical.
    if (std::isfinite(scale) && std::isfinite(offset) && scale != 0.0)
        m_map.compose(Gk_LinMap(scale, offset).inverse());
    else
        m_map = Gk_LinMap(std::nan(""), std::nan(""));
}

QELIResult QELXVelmPCurveImporter::Import()
{
    composeParameterization();
    int type = 0;
    m_exporter->GetPCurveType(m_identifier, type);
    if (type != QELXGeometryPCurveTypeNurbs)
        return kPcurveFailure;
    ImportPCurve();
    return 0;
}

QELIResult QELXVelmPCurveImporter::ImportPCurve()
{
    QELXBSplineDef2D def;
    const QELIResult read = ve_spline_curve::readNurbsDefinition(
        [&](auto&... out) { return m_exporter->GetNurbsPCurveData(m_identifier, out...); },
        [&](auto&... arrays) { m_exporter->DeleteNurbsPCurveData(arrays...); }, def);
    if (read != 0)
        return read;
    const QELXBSCurveDef2D curveDef(def);
    BuildBs2Curve(curveDef);
    if (!m_bs2)
        return kPcurveFailure;
    FixControlPointCoincidence(curveDef);
    if (!m_coedge)
        return 0;
    const SURFACE* surface = ve_spline_curve::coedgeFaceSurface(m_coedge);
    if (!surface || !m_bs2) {
        // Nothing takes the B-spline: it must not outlive the import.
        if (m_bs2)
            bs2_curve_delete(m_bs2);
        return kPcurveFailure;
    }
    bs2_curve taken = m_bs2;
    COEDGE* coedge = m_coedge;
    const outcome attached = velmCall([&] {
        // Handed over before the making, which frees it when it fails.
        coedge->set_geometry(velm_make_pcurve(std::exchange(taken, nullptr), QELresfit, surface->equation(),
                                              __FILE__, __LINE__),
                             1);
    });
    if (taken)
        bs2_curve_delete(taken);
    m_bs2 = nullptr;
    return attached.ok() ? QELIResult(0) : kPcurveFailure;
}

void QELXVelmPCurveImporter::BuildBs2Curve(const QELXBSCurveDef2D& curveDef)
{
    QELXBSplineDef2D def = curveDef.getData().Copy();
    if (!std::isfinite(m_map.slope()) || !ve_spline_curve::definitionUsable(def))
        return;
    def.apply(m_map);
    m_appliedMap = m_map;
    m_map = Gk_LinMap(1.0, 0.0);
    def.apply(m_forward ? Gk_LinMap(1.0, 0.0) : Gk_LinMap(-1.0, 0.0));
    if (!def.isClamped()) {
        Gk_ErrMgr::checkAbort();
        Gk_ErrMgr::doAssert("QELXVelmPCurveImporter", 0);
        if (def.knots().n_brk() >= 2)
            def = QELXBSplineSplitUtilWeight2D::subset(def);
    }
    if (def.numControlPoints() < 2) {
        Gk_ErrMgr::doAssert("QELXVelmPCurveImporter", 1);
        return;
    }
    const Gk_BiLinMap& surfaceMap = m_surfaceMap;
    m_bs2 = ve_spline_curve::bs2FromDefinition(def, false, false, def.isPeriodic(), QELresnor,
                                               [&](const QELXPoint2D& uv) { return surfaceMap.apply(uv); });
}

void QELXVelmPCurveImporter::FixControlPointCoincidence(const QELXBSCurveDef2D& curveDef)
{
    if (!m_bs2 || !Ve_OptionDoc::isOn(Ve_OptionDoc::FixCtrlPtCoinOfPCurve))
        return;
    bool coincident = false;
    velmGuard([&] {
        intcurve lifted(bs2_curve_to_bs3_curve(m_bs2));
        check_status_list wanted(status_coincident_points);
        check_status_list* found = bs3_curve_check(lifted.cur(), &lifted, &wanted);
        coincident = found && found->status() == status_coincident_points;
        delete found;
    });
    if (!coincident)
        return;
    const QELXBSplineDef2D corrected =
        Gk_SplineUtil::correctCrvCoincidentVertices(curveDef.getData().Copy(), QELresabs / 10.0);
    bs2_curve_delete(m_bs2);
    m_bs2 = nullptr;
    // The rebuild runs in the same parameters as the first build.
    m_map = m_appliedMap;
    BuildBs2Curve(QELXBSCurveDef2D(corrected));
}
