#include "qelx/gk_spline_utils.hxx"

#include "geom_nurbs.hxx"

#include <algorithm>
#include <cmath>
#include <type_traits>

namespace {

// ---- polylines taken out of definitions and nets and written back

template <class Def>
auto pointsOf(const Def& def)
{
    std::vector<std::remove_cvref_t<decltype(def.controlPoint(0).GetCoords())>> pts;
    for (int i = 0; i < def.numControlPoints(); ++i)
        pts.push_back(def.controlPoint(i).GetCoords());
    return pts;
}

template <class Def, class Points>
void setPoints(Def& def, const Points& pts)
{
    for (int i = 0; i < def.numControlPoints(); ++i) {
        auto& q = def.controlPoint(i);
        q = std::remove_cvref_t<decltype(q)>(pts[i], q.GetWeight());
    }
}

std::vector<QELXPoint3D> netLine(const QELXBSplineNetDef3D& net, bool alongU, int index)
{
    std::vector<QELXPoint3D> pts;
    const int n = alongU ? net.uSize() : net.vSize();
    for (int k = 0; k < n; ++k)
        pts.push_back((alongU ? net.controlNet().controlPoint(k, index) : net.controlNet().controlPoint(index, k)).GetCoords());
    return pts;
}

void setNetLine(QELXBSplineNetDef3D& net, bool alongU, int index, const std::vector<QELXPoint3D>& pts)
{
    for (int k = 0; k < static_cast<int>(pts.size()); ++k) {
        QELXWeightPoint3D& q = alongU ? net.controlNet().controlPoint(k, index) : net.controlNet().controlPoint(index, k);
        q = QELXWeightPoint3D(pts[k], q.GetWeight());
    }
}

// ---- G1

// 1 - cos of the angle between the legs; 0 when either has no length.
double legMeasure(const QELXPoint3D& in, const QELXPoint3D& out)
{
    const double li = in.Length(), lo = out.Length();
    return li > 0.0 && lo > 0.0 ? 1.0 - (in * out) / (li * lo) : 0.0;
}

// Joint between P[a] (end of the incoming leg) and P[b] (start of the
// outgoing one); a == b unless the knot has full multiplicity.
bool joint(std::vector<QELXPoint3D>& pts, int a, int b, double tol, bool fix)
{
    const QELXPoint3D in = pts[a] - pts[a - 1], out = pts[b + 1] - pts[b];
    if (legMeasure(in, out) <= tol)
        return true;
    if (fix) {
        QELXPoint3D dir = in / in.Length() + out / out.Length();
        if (dir.Normalize() == QELI_OK) {
            pts[a - 1] = pts[a] - dir * in.Length();
            pts[b + 1] = pts[b] + dir * out.Length();
        }
    }
    return false;
}

// Every interior break of multiplicity >= p; true when all pass.
bool interiorJoints(std::vector<QELXPoint3D>& pts, const Gk_Partition& part, double tol, bool fix)
{
    const int p = part.degree(), n = static_cast<int>(pts.size());
    bool all = true;
    int s = part.n_brk() > 0 ? part.multiplicity(0) : 0;
    for (int k = 1; k + 1 < part.n_brk(); s += part.multiplicity(k), ++k) {
        const int m = part.multiplicity(k);
        if (m < p)
            continue;
        const int a = s - 1, b = s + m - p - 1;
        if (a >= 1 && b + 1 < n && !joint(pts, a, b, tol, fix))
            all = false;
    }
    return all;
}

bool seamPasses(const std::vector<QELXPoint3D>& pts, const Gk_Partition& part, bool periodic, double tol)
{
    if (!periodic)
        return false;
    if (!part.isClamped())
        return true;
    const int n = static_cast<int>(pts.size());
    return n < 3 || legMeasure(pts[n - 1] - pts[n - 2], pts[1] - pts[0]) <= tol;
}

// ---- coincident control points

template <class Point>
void separateCoincident(std::vector<Point>& pts, double tol)
{
    const int n = static_cast<int>(pts.size());
    int i = 0;
    while (i + 1 < n) {
        int j = i;
        while (j + 1 < n && pts[j].Distance(pts[j + 1]) <= tol)
            ++j;
        if (j == i) {
            ++i;
            continue;
        }
        // Run i..j: the anchor stays, the others move towards the outer
        // neighbour; at the end of the polygon the run turns round.
        const bool atEnd = j + 1 >= n;
        if (atEnd && i == 0)
            return; // every point coincides: nothing to spread towards
        const int anchor = atEnd ? j : i;
        const Point target = atEnd ? pts[i - 1] : pts[j + 1];
        const int count = j - i;
        const Point span = target - pts[anchor];
        const double len = span.Length();
        for (int k = 1; k <= count; ++k) {
            const int idx = atEnd ? j - k : i + k;
            const double f = count == 1 ? std::min(1.5 * tol / len, 0.5) : double(k) / (count + 1);
            pts[idx] = pts[anchor] + span * f;
        }
        i = j + 1;
    }
}

template <class Def>
Def correctedCurve(const Def& def, double tol)
{
    Def out = def.Copy();
    auto pts = pointsOf(out);
    separateCoincident(pts, tol);
    setPoints(out, pts);
    return out;
}

// ---- clamping by knot insertion

template <class Def, class WeightPoint, class MakePoint>
Def clampedCopy(const Def& def, const MakePoint& makePoint)
{
    if (def.isClamped() || def.knots().n_brk() < 2 || !def.isValid())
        return def.Copy();
    const int p = def.degree();
    const double tol = def.knots().knotTolerance();
    std::vector<double> E = def.knots().knotList(false);
    std::vector<gk_nurbs::HPoint> pw;
    for (int i = 0; i < def.numControlPoints(); ++i) {
        const auto& q = def.controlPoint(i);
        const auto c = q.GetCoords();
        const double w = q.GetWeight();
        gk_nurbs::HPoint h{0.0, 0.0, 0.0, w};
        for (int k = 0; k < static_cast<int>(sizeof(c) / sizeof(double)); ++k)
            h[k] = w * c[k];
        pw.push_back(h);
    }
    auto mirror = [&] {
        std::reverse(E.begin(), E.end());
        for (double& k : E)
            k = -k;
        std::reverse(pw.begin(), pw.end());
    };
    gk_nurbs::clampStart(E, p, pw, tol);
    mirror();
    gk_nurbs::clampStart(E, p, pw, tol);
    mirror();
    typename std::remove_cvref_t<decltype(def.controlPoints())> polygon;
    for (const gk_nurbs::HPoint& h : pw)
        polygon.Add(WeightPoint(makePoint(h), h[3]));
    return Def(Gk_Partition(p, E.data(), static_cast<int>(E.size()), true, tol), polygon, def.isPeriodic());
}

} // namespace

// ---- QELXBSplineDiscUtil3D

bool QELXBSplineDiscUtil3D::isG1AtAllKnotDegreeMultiplicities() const
{
    std::vector<QELXPoint3D> pts = pointsOf(m_def);
    return interiorJoints(pts, m_def.knots(), m_tol, false);
}

void QELXBSplineDiscUtil3D::makeG1()
{
    std::vector<QELXPoint3D> pts = pointsOf(m_def);
    interiorJoints(pts, m_def.knots(), m_tol, true);
    setPoints(m_def, pts);
}

bool QELXBSplineDiscUtil3D::isG1AtSeam() const
{
    return seamPasses(pointsOf(m_def), m_def.knots(), m_def.isPeriodic(), m_tol);
}

// ---- Gk_BSplNetDiscUtil

void Gk_BSplNetDiscUtil::makeG1()
{
    for (int j = 0; j < m_net.vSize(); ++j) {
        std::vector<QELXPoint3D> pts = netLine(m_net, true, j);
        interiorJoints(pts, m_net.uKnots(), m_tol, true);
        setNetLine(m_net, true, j, pts);
    }
    for (int i = 0; i < m_net.uSize(); ++i) {
        std::vector<QELXPoint3D> pts = netLine(m_net, false, i);
        interiorJoints(pts, m_net.vKnots(), m_tol, true);
        setNetLine(m_net, false, i, pts);
    }
}

bool Gk_BSplNetDiscUtil::isG1AtUSeam() const
{
    for (int j = 0; j < m_net.vSize(); ++j)
        if (!seamPasses(netLine(m_net, true, j), m_net.uKnots(), m_net.isUPeriodic(), m_tol))
            return false;
    return m_net.vSize() > 0;
}

bool Gk_BSplNetDiscUtil::isG1AtVSeam() const
{
    for (int i = 0; i < m_net.uSize(); ++i)
        if (!seamPasses(netLine(m_net, false, i), m_net.vKnots(), m_net.isVPeriodic(), m_tol))
            return false;
    return m_net.uSize() > 0;
}

// ---- Gk_SplineUtil

QELXBSplineDef3D Gk_SplineUtil::correctCrvCoincidentVertices(const QELXBSplineDef3D& def, double tol)
{
    return correctedCurve(def, tol);
}

QELXBSplineDef2D Gk_SplineUtil::correctCrvCoincidentVertices(const QELXBSplineDef2D& def, double tol)
{
    return correctedCurve(def, tol);
}

QELXBSplineNetDef3D Gk_SplineUtil::correctSrfCoincidentVertices(const QELXBSplineNetDef3D& net, double tol)
{
    QELXBSplineNetDef3D out = net.Copy();
    for (int i = 0; i < out.uSize(); ++i) {
        std::vector<QELXPoint3D> pts = netLine(out, false, i);
        separateCoincident(pts, tol);
        setNetLine(out, false, i, pts);
    }
    for (int j = 0; j < out.vSize(); ++j) {
        std::vector<QELXPoint3D> pts = netLine(out, true, j);
        separateCoincident(pts, tol);
        setNetLine(out, true, j, pts);
    }
    return out;
}

QELXBSplineNetDef3D Gk_SplineUtil::correctSrfClosure(const QELXBSplineNetDef3D& net)
{
    QELXBSplineNetDef3D out = net.Copy();
    auto closeDirection = [&](bool alongU) {
        const Gk_Partition& part = alongU ? out.uKnots() : out.vKnots();
        const int n = alongU ? out.uSize() : out.vSize(), across = alongU ? out.vSize() : out.uSize();
        const int pairs = part.isClamped() ? 1 : part.degree();
        for (int r = 0; r < pairs && r < n - pairs; ++r) {
            const int first = part.isClamped() ? 0 : r, last = part.isClamped() ? n - 1 : n - pairs + r;
            for (int k = 0; k < across; ++k) {
                QELXWeightPoint3D& a = alongU ? out.controlNet().controlPoint(first, k) : out.controlNet().controlPoint(k, first);
                QELXWeightPoint3D& b = alongU ? out.controlNet().controlPoint(last, k) : out.controlNet().controlPoint(k, last);
                const QELXPoint3D mean = (a.GetCoords() + b.GetCoords()) * 0.5;
                a = QELXWeightPoint3D(mean, a.GetWeight());
                b = QELXWeightPoint3D(mean, b.GetWeight());
            }
        }
    };
    if (out.isUPeriodic())
        closeDirection(true);
    if (out.isVPeriodic())
        closeDirection(false);
    return out;
}

// ---- Gk_PolygonUtil, QELXPolynetUtil

bool Gk_PolygonUtil::checkRationality(const QELXPolygonNetWeight3D& net)
{
    if (net.uSize() == 0 || net.vSize() == 0)
        return false;
    const double w0 = net.controlPoint(0, 0).GetWeight();
    for (int i = 0; i < net.uSize(); ++i)
        for (int j = 0; j < net.polygon(i).size(); ++j)
            if (std::fabs(net.controlPoint(i, j).GetWeight() - w0) > Gk_Def::FuzzReal)
                return true;
    return false;
}

bool Gk_PolygonUtil::checkCrossRationality(const QELXPolygonNetWeight3D& net)
{
    for (int i = 0; i < net.uSize(); ++i)
        for (int j = 0; j < net.polygon(i).size(); ++j)
            if (std::fabs(net.controlPoint(i, j).GetWeight() - 1.0) > Gk_Def::FuzzReal)
                return true;
    return false;
}

namespace {

template <class At>
void collapse(int count, const At& at)
{
    QELXPoint3D sum;
    double total = 0.0;
    for (int k = 0; k < count; ++k) {
        sum += at(k).GetCoords() * at(k).GetWeight();
        total += at(k).GetWeight();
    }
    if (count == 0 || total <= 0.0)
        return;
    for (int k = 0; k < count; ++k)
        at(k) = QELXWeightPoint3D(sum / total, at(k).GetWeight());
}

} // namespace

void QELXPolynetUtil::collapseUPlgn(QELXPolygonNetWeight3D& net, int index)
{
    if (index >= 0 && index < net.uSize())
        collapse(net.polygon(index).size(), [&](int j) -> QELXWeightPoint3D& { return net.controlPoint(index, j); });
}

void QELXPolynetUtil::collapseVPlgn(QELXPolygonNetWeight3D& net, int index)
{
    if (index >= 0 && index < net.vSize())
        collapse(net.uSize(), [&](int i) -> QELXWeightPoint3D& { return net.controlPoint(i, index); });
}

// ---- subsets

QELXBSplineDef2D QELXBSplineSplitUtilWeight2D::subset(const QELXBSplineDef2D& def)
{
    return clampedCopy<QELXBSplineDef2D, QELXWeightPoint2D>(
        def, [](const gk_nurbs::HPoint& h) { return QELXPoint2D(h[0] / h[3], h[1] / h[3]); });
}

QELXBSplineDef3D QELXBSplineSplitUtilWeight3D::subset(const QELXBSplineDef3D& def)
{
    return clampedCopy<QELXBSplineDef3D, QELXWeightPoint3D>(
        def, [](const gk_nurbs::HPoint& h) { return QELXPoint3D(h[0] / h[3], h[1] / h[3], h[2] / h[3]); });
}
