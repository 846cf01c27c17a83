#include "geometry/curve_importer.hxx"

#include <algorithm>
#include <cmath>

#include "geometry/spline_curve_build.hxx"
#include "model/kernel_call_bracket.hxx"
#include "model/math_types.hxx"
#include "qelx/gk_spline_utils.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "repair/fix_pcurve.hxx"
#include "velm/geometry_entity.hxx"

namespace {

constexpr QELIResult kFailure = 0x1000001;

QELXPoint3D point3(const double xyz[3])
{
    return QELXPoint3D(xyz[0], xyz[1], xyz[2]);
}

bool finite3(const QELXPoint3D& p)
{
    return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]);
}

QELvector vec(const QELXPoint3D& p)
{
    return QELvector(p[0], p[1], p[2]);
}

} // namespace

QELXVelmCurveImporter::QELXVelmCurveImporter(QELXGeometryExporter* exporter, const QELXIdentifier& curve, EDGE* edge,
                                             bool forward, const Gk_Domain& domain, const QELXMorph3D& morph,
                                             bool skipG1Fix)
    : m_exporter(exporter), m_identifier(curve), m_edge(edge), m_forward(forward), m_domain(domain),
      m_fitTolerance(QELresfit), m_morph(morph), m_skipG1Fix(skipG1Fix)
{
}

QELXVelmCurveImporter::QELXVelmCurveImporter(QELXGeometryExporter* exporter, const QELXIdentifier& curve,
                                             const Gk_Domain& domain, double fitTolerance, const QELXMorph3D& morph,
                                             bool skipG1Fix, bool limitToDomain)
    : m_exporter(exporter), m_identifier(curve), m_domain(domain), m_fitTolerance(fitTolerance), m_morph(morph),
      m_skipG1Fix(skipG1Fix), m_limitToDomain(limitToDomain)
{
}

QELXVelmCurveImporter::~QELXVelmCurveImporter()
{
    delete m_curve;
}

QELIResult QELXVelmCurveImporter::ImportCurve()
{
    double scale = 1.0, offset = 0.0;
    bool flag = true;
    m_exporter->GetCurveParameterization(m_identifier, scale, offset, flag);
    // The exporter's map goes source -> canonical; the data is canonical, so
    // the importer's map is its inverse. A map that cannot be inverted builds nothing.
    m_mapUsable = std::isfinite(scale) && std::isfinite(offset) && scale != 0.0;
    if (m_mapUsable)
        m_map.compose(Gk_LinMap(scale, offset).inverse());
    if (!m_forward)
        ReverseParamMap();
    int type = 0;
    m_exporter->GetCurveType(m_identifier, type);
    FixOrientation();
    if (!m_mapUsable)
        return 0;
    switch (type) {
    case QELXGeometryCurveTypeLine:
        ImportLine();
        break;
    case QELXGeometryCurveTypeEllipse:
        ImportEllipse();
        break;
    case QELXGeometryCurveTypeNurbs:
        ImportBSpline();
        break;
    default:
        break;
    }
    if (!m_edge && m_curve && m_limitToDomain)
        LimitToDomain();
    return 0;
}

bool QELXVelmCurveImporter::ReverseParamMap()
{
    m_map.setSlope(-m_map.slope());
    m_map.setAbscissa(-m_map.abscissa());
    m_map.setNegated(!m_map.isNegated());
    return m_map.isNegated();
}

void QELXVelmCurveImporter::FixOrientation()
{
    if (!m_map.isNegated())
        return;
    // The reversal moves onto the edge only when the edge takes it: a map
    // turned round under an edge the kernel failed to turn would build the
    // curve backwards. Then nothing is built, as for a map that cannot be used.
    if (EDGE* e = m_edge) {
        const outcome turned = velmCall([&] { e->set_sense(e->sense() == FORWARD ? REVERSED : FORWARD, 1); });
        if (!turned.ok()) {
            m_mapUsable = false;
            return;
        }
    }
    m_senseKept = !m_senseKept;
    m_map.setSlope(-m_map.slope());
    m_map.setAbscissa(-m_map.abscissa());
    m_map.setNegated(false);
}

Gk_Domain QELXVelmCurveImporter::ImportOntoEdge(QELXGeometryExporter* exporter, const QELXIdentifier& curve,
                                                EDGE* edge, bool forward, const Gk_Domain& domain,
                                                const QELXMorph3D& morph)
{
    const bool ranged = edge && domain.isFinite() && domain.length() > 0.0;
    if (ranged) {
        const QELinterval range(domain.low(), domain.high());
        edge->set_param_range(&range);
    }
    QELXVelmCurveImporter importer(exporter, curve, edge, forward, domain, morph, false);
    importer.ImportCurve();
    const Gk_Domain mapped = importer.GetDomain();
    if (!ranged)
        return mapped;
    const CURVE* made = edge->geometry();
    if (!(made && made->has_equation())) {
        edge->set_param_range(nullptr);
    } else if (mapped.low() != domain.low() || mapped.high() != domain.high()) {
        const QELinterval range(mapped.low(), mapped.high());
        edge->set_param_range(&range);
        Ve_FixPCurve::FixPCurveOnParametricSurface(edge);
    }
    return mapped;
}

void QELXVelmCurveImporter::AttachToEdge()
{
    Gk_ErrMgr::checkAbort();
    if (!m_curve) {
        Gk_ErrMgr::doAssert("QELXVelmCurveImporter", 0);
        return;
    }
    if (EDGE* e = m_edge) {
        curve* c = m_curve;
        velmCall([&] { e->set_geometry(make_curve(*c), 1, 1); });
    }
}

double QELXVelmCurveImporter::MapParameter(double t) const
{
    return m_map(m_senseKept ? t : -t);
}

Gk_Domain QELXVelmCurveImporter::GetDomain() const
{
    if (!m_curve || m_map.isIdentity() || !m_domain.isFinite())
        return m_domain;
    // The domain runs along the edge. When the import turned the edge, the
    // curve runs the other way: its parameters are negated back onto the edge.
    const double sign = m_senseKept ? 1.0 : -1.0;
    const double a = sign * MapParameter(m_domain.low()), b = sign * MapParameter(m_domain.high());
    return Gk_Domain(std::min(a, b), std::max(a, b), Gk_Def::FuzzKnot);
}

void QELXVelmCurveImporter::LimitToDomain()
{
    if (!m_curve || !m_limitToDomain || !m_domain.isFinite())
        return;
    const double a = MapParameter(m_domain.low()), b = MapParameter(m_domain.high());
    velmGuard([&] { m_curve->limit(QELinterval(std::min(a, b), std::max(a, b))); });
}

QELIResult QELXVelmCurveImporter::ImportLine()
{
    double point[3] = {0, 0, 0}, direction[3] = {0, 0, 0};
    const QELIResult read = m_exporter->GetLinearCurveData(m_identifier, point, direction);
    if (read != 0)
        return read;
    QELXPoint3D p = point3(point), d = point3(direction);
    p.Transform(m_morph, false);
    d.Transform(m_morph, true);
    const double speed = d.Length();
    // The map goes canonical -> kernel; the line needs kernel -> canonical.
    const Gk_LinMap toCanonical = m_map.inverse();
    // A zero or broken direction makes no line rather than a NaN one.
    if (!finite3(p) || !std::isfinite(speed) || !(speed > 0.0) || !std::isfinite(toCanonical.slope()))
        return kFailure;
    const QELXPoint3D root = p + d * toCanonical.abscissa();
    delete m_curve;
    m_curve = VELM_MAKE(straight, Ve_Pt3(root), QELunit_vector(vec(d / speed)), speed * toCanonical.slope());
    // The map now lives in the line: its parameter is the source's (negated
    // when the orientation was turned), so the map left for the caller is the
    // identity, as for a spline built with the map in its control data.
    m_map = Gk_LinMap(1.0, 0.0);
    if (m_edge) {
        AttachToEdge();
        Ve_FixPCurve::FixPCurveOnParametricSurface(m_edge);
    }
    return 0;
}

QELIResult QELXVelmCurveImporter::ImportEllipse()
{
    double a = 0.0, b = 0.0, centre[3] = {0, 0, 0}, majorDir[3] = {0, 0, 0}, normal[3] = {0, 0, 0};
    const QELIResult read = m_exporter->GetEllipticalCurveData(m_identifier, a, b, centre, majorDir, normal);
    if (read != 0)
        return read;
    QELXPoint3D c = point3(centre), m = point3(majorDir), n = point3(normal);
    // Degenerate data (zero radius or axis, axis along the normal) makes no ellipse.
    if (!std::isfinite(a) || !std::isfinite(b) || !(a > 0.0) || !(b > 0.0) || m.Normalize() != 0 ||
        n.Normalize() != 0)
        return kFailure;
    QELXPoint3D minor = QELXPoint3D::VectorProduct(n, m);
    if (minor.Normalize() != 0)
        return kFailure;
    c.Transform(m_morph, false);
    m.Transform(m_morph, true);
    minor.Transform(m_morph, true);
    // The normal follows the moved axes, so a mirroring morph keeps the sense of rotation.
    QELXPoint3D moved = QELXPoint3D::VectorProduct(m, minor);
    if (moved.Normalize() != 0 || !finite3(c))
        return kFailure;
    const double ratio = Gk_Func::equal(a, b, Gk_Def::FuzzPos) ? 1.0 : b / a;
    // A shift of the source parameter is the ellipse's own start offset, and
    // no longer the caller's to apply. A scale cannot be expressed by an
    // ellipse, whose parameter is its angle: the ellipse then runs in the
    // canonical parameter, and the map left for the caller takes the source's
    // parameter there.
    const Gk_LinMap toCanonical = m_map.inverse();
    const bool unitSpeed = toCanonical.slope() == 1.0;
    delete m_curve;
    m_curve = VELM_MAKE(ellipse, Ve_Pt3(c), QELunit_vector(vec(moved)), vec(m * a), ratio,
                        unitSpeed ? toCanonical.abscissa() : 0.0);
    m_map = unitSpeed ? Gk_LinMap(1.0, 0.0) : toCanonical;
    if (m_edge) {
        ApproximateLargeEllipse();
        ApproximateTinyArc();
        AttachToEdge();
        Ve_FixPCurve::FixPCurveOnParametricSurface(m_edge);
    }
    return 0;
}

void QELXVelmCurveImporter::ApproximateLargeEllipse()
{
    if (m_curve && m_curve->type() == 2 &&
        static_cast<const ellipse*>(m_curve)->major_axis.len() > QELresabs / QELresmch)
        ve_spline_curve::approximateEllipse(m_edge, GetDomain(), m_curve, false);
}

void QELXVelmCurveImporter::ApproximateTinyArc()
{
    ve_spline_curve::approximateEllipse(m_edge, GetDomain(), m_curve, true);
}

QELIResult QELXVelmCurveImporter::ImportBSpline()
{
    QELXBSplineDef3D def;
    const QELIResult read = ve_spline_curve::readNurbsDefinition(
        [&](auto&... out) { return m_exporter->GetNurbsCurveData(m_identifier, out...); },
        [&](auto&... arrays) { m_exporter->DeleteNurbsCurveData(arrays...); }, def);
    if (read != 0)
        return read;
    return ImportBSplineDef(def);
}

void QELXVelmCurveImporter::BuildBSplineCurve(QELXBSplineDef3D& def)
{
    if (def.numControlPoints() < 2)
        return;
    bs3_curve bs3 = nullptr;
    curve* built = nullptr;
    const int err =
        velmGuard([&] { ve_spline_curve::buildCurve(def, m_map, m_morph, m_skipG1Fix, bs3, built); });
    if (err != 0) {
        delete built;
        built = nullptr;
        bs3 = nullptr;
    }
    if (built) {
        delete m_curve;
        m_curve = built;
        m_bs3 = bs3;
        // The map now lives in the control data.
        m_map = Gk_LinMap(1.0, 0.0);
    }
}

void QELXVelmCurveImporter::FixControlPointCoincidence(const QELXBSplineDef3D& def)
{
    if (!Ve_OptionDoc::isOn(Ve_OptionDoc::FixCntrlPtCoincidence) ||
        !ve_spline_curve::hasCoincidentControlPoints(m_bs3, m_curve))
        return;
    // The definition already carries the map, which the first build reset.
    QELXBSplineDef3D corrected =
        Gk_SplineUtil::correctCrvCoincidentVertices(def, QELresabs / def.degree() * 2.7);
    BuildBSplineCurve(corrected);
}

bool QELXVelmCurveImporter::MakePeriodic()
{
    bool changed = false;
    ve_spline_curve::makePeriodicOverDomain(m_edge, m_domain, m_curve, m_bs3, changed);
    return changed;
}

bs3_curve QELXVelmCurveImporter::MakeBs3Periodic(bs3_curve spline)
{
    return ve_spline_curve::makePeriodicBs3(spline);
}

bool QELXVelmCurveImporter::NeedsClosedReimport(const QELXBSplineDef3D& def)
{
    return ve_spline_curve::needsClosedReimport(m_edge, m_domain, def);
}

int QELXVelmCurveImporter::MakeIntcurve(bs3_curve spline, double fit, const surface* surface1,
                                        const surface* surface2, bs2_curve pcurve1, bs2_curve pcurve2,
                                        intcurve*& result)
{
    return ve_spline_curve::buildIntcurve(spline, fit, surface1, surface2, pcurve1, pcurve2, result);
}

bool QELXVelmCurveImporter::AttachPCurveFromIntcurve(COEDGE* coedge, FACE* face)
{
    return ve_spline_curve::attachPCurveFromIntcurve(coedge, face);
}

QELIResult QELXVelmCurveImporter::ImportBSplineDef(const QELXBSplineDef3D& def)
{
    QELXBSplineDef3D copy = def.Copy();
    BuildBSplineCurve(copy);
    if (!m_bs3 && !m_curve)
        return kFailure;
    FixControlPointCoincidence(copy);
    if (!m_edge)
        return 0;
    if (Ve_OptionDoc::isOn(Ve_OptionDoc::MakeBs3CrvPeriodic) && m_curve)
        MakePeriodic();
    AttachToEdge();
    ve_spline_curve::snapClosedEdgeVertices(m_edge, m_domain);
    ve_spline_curve::fitToEdge(m_edge, m_domain, m_curve, m_bs3, [this] { AttachToEdge(); });
    // A periodic definition on an open edge covering only part of it is
    // closed and imported once more, once only.
    if (!m_reimported && NeedsClosedReimport(copy)) {
        m_reimported = true;
        const int n = copy.numControlPoints();
        copy.controlPoint(n - 1) = copy.controlPoint(0);
        ve_spline_curve::clearEdgeGeometry(m_edge);
        return ImportBSplineDef(copy);
    }
    return 0;
}
