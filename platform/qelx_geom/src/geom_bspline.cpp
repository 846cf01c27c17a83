#include "qelx/gk_bspline.hxx"

#include "geom_nurbs.hxx"

#include <algorithm>
#include <cmath>

using gk_nurbs::HPoint;

namespace {

// Partition of the exporter layout: distinct knots with multiplicities.
Gk_Partition partitionFromBreaks(int degree, int knotCount, const double* knots, const int* mults)
{
    std::vector<Gk_BreakPt> breaks;
    for (int i = 0; knots && i < knotCount; ++i)
        breaks.push_back({knots[i], mults ? mults[i] : 1});
    const bool clamped = !breaks.empty() && breaks.front().multiplicity >= degree + 1 &&
                         breaks.back().multiplicity >= degree + 1;
    return Gk_Partition(degree, breaks, clamped);
}

// The full vector fits the polygon: n >= p + 1 points and n + p + 1 knots.
// Evaluation needs no more; with less it would read past the knots.
bool layoutFits(const Gk_Partition& part, int count)
{
    const int p = part.degree();
    return p >= 0 && count >= p + 1 && part.knotCount() == count + p + 1;
}

bool knotsValid(const Gk_Partition& part, int count)
{
    const int p = part.degree();
    if (p < 1 || !layoutFits(part, count))
        return false;
    const std::vector<double> E = part.knotList(false);
    return std::is_sorted(E.begin(), E.end()) && E[count] > E[p];
}

HPoint homogeneous(const QELXWeightPoint3D& q)
{
    const double w = q.GetWeight();
    const QELXPoint3D& p = q.GetCoords();
    return {w * p[0], w * p[1], w * p[2], w};
}

HPoint homogeneous(const QELXWeightPoint2D& q)
{
    const double w = q.GetWeight();
    return {w * q[0], w * q[1], 0.0, w};
}

template <class Polygon>
std::vector<HPoint> homogeneousPolygon(const Polygon& polygon)
{
    std::vector<HPoint> pw;
    pw.reserve(polygon.size());
    for (int i = 0; i < polygon.size(); ++i)
        pw.push_back(homogeneous(polygon.controlPoint(i)));
    return pw;
}

// Cartesian derivatives 0..nd of a definition at t (3 coordinates).
template <class Def>
std::vector<std::array<double, 3>> curveDerivs(const Def& def, double t, int nd)
{
    const std::vector<double> E = def.knots().knotList(false);
    const int p = def.degree(), n = def.numControlPoints();
    if (def.isPeriodic())
        t = gk_nurbs::wrapPeriodic(E, p, n, t);
    return gk_nurbs::rationalCurveDerivs(
        gk_nurbs::curveDerivsH(E, p, homogeneousPolygon(def.controlPoints()), t, nd));
}

int derivativesWanted(int size) { return size > 1 ? size - 1 : 0; }

} // namespace

void QELXPolygonWeight3D::reverse() { std::reverse(m_points.begin(), m_points.end()); }
void QELXPolygonWeight2D::reverse() { std::reverse(m_points.begin(), m_points.end()); }

bool QELXBSplineDef::isRational() const
{
    for (int i = 0; i < numControlPoints(); ++i)
        if (std::fabs(weight(i) - 1.0) > Gk_Def::FuzzReal)
            return true;
    return false;
}

Gk_Domain QELXBSplineDef::domain() const
{
    const int n = numControlPoints(), p = degree();
    if (!layoutFits(m_knots, n))
        return Gk_Domain();
    const std::vector<double> E = m_knots.knotList(false);
    return Gk_Domain(E[p], E[n]);
}

bool QELXBSplineDef::isValid() const
{
    for (int i = 0; i < numControlPoints(); ++i)
        if (!(weight(i) > 0.0))
            return false;
    return knotsValid(m_knots, numControlPoints());
}

void QELXBSplineDef::apply(const Gk_LinMap& map)
{
    m_knots.apply(map);
    if (map.slope() < 0.0)
        reversePolygon();
}

QELXBSplineDef3D::QELXBSplineDef3D(int degree, int count, const double* ctrlPts, int knotCount, const double* knots,
                                   const int* mults, const double* weights, bool periodic)
    : QELXBSplineDef(partitionFromBreaks(degree, knotCount, knots, mults), periodic)
{
    for (int i = 0; ctrlPts && i < count; ++i)
        m_polygon.Add(QELXWeightPoint3D(QELXPoint3D(ctrlPts[3 * i], ctrlPts[3 * i + 1], ctrlPts[3 * i + 2]),
                                        weights ? weights[i] : 1.0));
}

void QELXBSplineDef3D::Transform(const QELXMorph3D& morph, bool asVector)
{
    for (int i = 0; i < m_polygon.size(); ++i) {
        QELXWeightPoint3D& q = m_polygon.controlPoint(i);
        q = QELXWeightPoint3D(morph.Apply(q.GetCoords(), asVector), q.GetWeight());
    }
}

QELXPoint3D QELXBSplineDef3D::eval(double t, QELXCurveDerivatives3D* d) const
{
    if (!layoutFits(m_knots, numControlPoints()))
        return QELXPoint3D();
    const int nd = d ? derivativesWanted(d->size()) : 0;
    const auto c = curveDerivs(*this, t, nd);
    for (int k = 0; d && k <= nd; ++k)
        (*d)[k] = QELXPoint3D(c[k][0], c[k][1], c[k][2]);
    return QELXPoint3D(c[0][0], c[0][1], c[0][2]);
}

QELXBSplineDef2D::QELXBSplineDef2D(int degree, int count, const double* ctrlPts, int knotCount, const double* knots,
                                   const int* mults, const double* weights, bool periodic)
    : QELXBSplineDef(partitionFromBreaks(degree, knotCount, knots, mults), periodic)
{
    for (int i = 0; ctrlPts && i < count; ++i)
        m_polygon.Add(QELXWeightPoint2D(QELXPoint2D(ctrlPts[2 * i], ctrlPts[2 * i + 1]), weights ? weights[i] : 1.0));
}

QELXPoint2D QELXBSplineDef2D::eval(double t, QELXCurveDerivatives2D* d) const
{
    if (!layoutFits(m_knots, numControlPoints()))
        return QELXPoint2D();
    const int nd = d ? derivativesWanted(d->size()) : 0;
    const auto c = curveDerivs(*this, t, nd);
    for (int k = 0; d && k <= nd; ++k)
        (*d)[k] = QELXPoint2D(c[k][0], c[k][1]);
    return QELXPoint2D(c[0][0], c[0][1]);
}

QELXBSplineNetDef3D::QELXBSplineNetDef3D(const Gk_Partition& u, const Gk_Partition& v, const QELXPolygonNetWeight3D& net,
                                         bool closedU, bool closedV, int poleKindU, int poleKindV, bool flag)
    : m_u(u), m_v(v), m_net(net), m_closedU(closedU), m_closedV(closedV), m_poleU(poleKindU), m_poleV(poleKindV),
      m_flag(flag)
{
}

QELXBSplineNetDef3D::QELXBSplineNetDef3D(int uDegree, int vDegree, int uCount, int vCount, const double* ctrlPts,
                                         const double* weights, int uKnotCount, const double* uKnots,
                                         const int* uMults, int vKnotCount, const double* vKnots, const int* vMults,
                                         bool periodicU, bool periodicV, bool flag)
    : m_u(partitionFromBreaks(uDegree, uKnotCount, uKnots, uMults)),
      m_v(partitionFromBreaks(vDegree, vKnotCount, vKnots, vMults)), m_closedU(periodicU), m_closedV(periodicV),
      m_flag(flag)
{
    for (int i = 0; ctrlPts && i < uCount; ++i) {
        QELXPolygonWeight3D row;
        for (int j = 0; j < vCount; ++j) {
            const int k = i * vCount + j;
            row.Add(QELXWeightPoint3D(QELXPoint3D(ctrlPts[3 * k], ctrlPts[3 * k + 1], ctrlPts[3 * k + 2]),
                                      weights ? weights[k] : 1.0));
        }
        m_net.Add(row);
    }
}

bool QELXBSplineNetDef3D::isValid() const
{
    if (!layoutFits())
        return false;
    for (int i = 0; i < uSize(); ++i)
        for (int j = 0; j < vSize(); ++j)
            if (!(m_net.controlPoint(i, j).GetWeight() > 0.0))
                return false;
    return knotsValid(m_u, uSize()) && knotsValid(m_v, vSize());
}

bool QELXBSplineNetDef3D::layoutFits() const
{
    for (int i = 0; i < uSize(); ++i)
        if (m_net.polygon(i).size() != vSize())
            return false;
    return ::layoutFits(m_u, uSize()) && ::layoutFits(m_v, vSize());
}

bool QELXBSplineNetDef3D::isURational() const
{
    for (int i = 1; i < uSize(); ++i)
        for (int j = 0; j < vSize(); ++j)
            if (std::fabs(m_net.controlPoint(i, j).GetWeight() - m_net.controlPoint(0, j).GetWeight()) > Gk_Def::FuzzReal)
                return true;
    return false;
}

bool QELXBSplineNetDef3D::isVRational() const
{
    for (int i = 0; i < uSize(); ++i)
        for (int j = 1; j < vSize(); ++j)
            if (std::fabs(m_net.controlPoint(i, j).GetWeight() - m_net.controlPoint(i, 0).GetWeight()) > Gk_Def::FuzzReal)
                return true;
    return false;
}

Gk_Span QELXBSplineNetDef3D::span() const
{
    if (!layoutFits())
        return Gk_Span();
    const std::vector<double> U = m_u.knotList(false), V = m_v.knotList(false);
    return Gk_Span(Gk_Domain(U[uDegree()], U[uSize()]), Gk_Domain(V[vDegree()], V[vSize()]));
}

void QELXBSplineNetDef3D::Transform(const QELXMorph3D& morph, bool asVector)
{
    for (int i = 0; i < uSize(); ++i) {
        QELXPolygonWeight3D& row = m_net.polygon(i);
        for (int j = 0; j < row.size(); ++j) {
            QELXWeightPoint3D& q = row.controlPoint(j);
            q = QELXWeightPoint3D(morph.Apply(q.GetCoords(), asVector), q.GetWeight());
        }
    }
}

QELXPoint3D QELXBSplineNetDef3D::eval(const QELXPoint2D& uv, Gk_Flat3* flat) const
{
    if (!layoutFits())
        return QELXPoint3D();
    const std::vector<double> U = m_u.knotList(false), V = m_v.knotList(false);
    double u = uv[0], v = uv[1];
    if (m_closedU)
        u = gk_nurbs::wrapPeriodic(U, uDegree(), uSize(), u);
    if (m_closedV)
        v = gk_nurbs::wrapPeriodic(V, vDegree(), vSize(), v);
    std::vector<HPoint> pw;
    pw.reserve(uSize() * vSize());
    for (int i = 0; i < uSize(); ++i)
        for (int j = 0; j < vSize(); ++j)
            pw.push_back(homogeneous(m_net.controlPoint(i, j)));
    const int size = flat ? flat->size() : 1;
    if (flat)
        flat->setNormalFlipped(false);
    const auto s = gk_nurbs::surfaceDerivs(U, uDegree(), V, vDegree(), pw, vSize(), u, v, size);
    for (int k = 0; flat && k < size; ++k)
        for (int l = 0; l < size; ++l)
            flat->derivative(k, l) = QELXPoint3D(s[k][l][0], s[k][l][1], s[k][l][2]);
    return QELXPoint3D(s[0][0][0], s[0][0][1], s[0][0][2]);
}

QELXPoint3D QELXBSplineNetDef3D::normal(const QELXPoint2D& uv) const
{
    Gk_Flat3 flat(2);
    eval(uv, &flat);
    return flat.normal();
}
