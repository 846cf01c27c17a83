// Geometry records, evaluation, topology helpers and fault editors of the
// in-memory source model.
#include "qelx/test_model.hxx"

#include "qelx/gk_bspline.hxx"

#include <algorithm>
#include <cmath>
#include <set>
#include <stdexcept>

namespace qelx_test {

namespace {

QELXPoint3D P(const Vec3& v) { return {v[0], v[1], v[2]}; }
Vec3 V(const QELXPoint3D& p) { return {p[0], p[1], p[2]}; }
QELXPoint3D cross(const QELXPoint3D& a, const QELXPoint3D& b) { return QELXPoint3D::VectorProduct(a, b); }
QELXPoint3D unitVec(QELXPoint3D v)
{
    v.Normalize();
    return v;
}

// Rotation of v by angle about the unit axis k (right-handed).
QELXPoint3D rotate(const QELXPoint3D& v, const QELXPoint3D& k, double angle)
{
    const double c = std::cos(angle), s = std::sin(angle);
    return v * c + cross(k, v) * s + k * ((k * v) * (1.0 - c));
}

// Affine knot map t -> slope * t + shift; a negative slope also reverses
// the control polygon so the knots keep rising.
void mapNurbs(TestNurbs& nurbs, int dim, double slope, double shift)
{
    for (double& k : nurbs.knots)
        k = slope * k + shift;
    if (slope >= 0.0)
        return;
    std::reverse(nurbs.knots.begin(), nurbs.knots.end());
    std::reverse(nurbs.mults.begin(), nurbs.mults.end());
    std::reverse(nurbs.weights.begin(), nurbs.weights.end());
    std::vector<double> ctrl(nurbs.ctrl.size());
    for (int i = 0; i < nurbs.count; ++i)
        for (int k = 0; k < dim; ++k)
            ctrl[static_cast<std::size_t>((nurbs.count - 1 - i) * dim + k)] =
                nurbs.ctrl[static_cast<std::size_t>(i * dim + k)];
    nurbs.ctrl = std::move(ctrl);
}

// Knot domain [E[p], E[n]] of a spline.
std::pair<double, double> nurbsDomain(const TestNurbs& nurbs)
{
    const std::vector<double> full = expandKnots(nurbs.knots, nurbs.mults);
    if (full.size() != static_cast<std::size_t>(nurbs.count + nurbs.degree + 1) || nurbs.degree < 0)
        return {0.0, 0.0};
    return {full[static_cast<std::size_t>(nurbs.degree)], full[static_cast<std::size_t>(nurbs.count)]};
}

// Inserts t until its multiplicity reaches the degree; returns the index of
// the control point that sits on the curve at t.
int breakAt(TestNurbs& nurbs, int dim, double t)
{
    for (;;) {
        const std::vector<double> full = expandKnots(nurbs.knots, nurbs.mults);
        int first = -1, mult = 0;
        for (std::size_t j = 0; j < full.size(); ++j)
            if (full[j] == t) {
                if (first < 0)
                    first = static_cast<int>(j);
                ++mult;
            }
        if (mult >= nurbs.degree)
            return first - 1;
        insertKnot(nurbs, dim, t);
    }
}

} // namespace

std::vector<double> expandKnots(const std::vector<double>& knots, const std::vector<int>& mults)
{
    std::vector<double> full;
    for (std::size_t i = 0; i < knots.size() && i < mults.size(); ++i)
        for (int m = 0; m < mults[i]; ++m)
            full.push_back(knots[i]);
    return full;
}

void reverseNurbs(TestNurbs& nurbs, int dim)
{
    const auto [a, b] = nurbsDomain(nurbs);
    mapNurbs(nurbs, dim, -1.0, a + b);
}

void insertKnot(TestNurbs& nurbs, int dim, double t)
{
    const int p = nurbs.degree, n = nurbs.count;
    const std::vector<double> U = expandKnots(nurbs.knots, nurbs.mults);
    if (p < 1 || U.size() != static_cast<std::size_t>(n + p + 1))
        throw std::invalid_argument("insertKnot: malformed spline");
    int k = p; // span: U[k] <= t < U[k + 1]
    while (k + 1 < n && U[static_cast<std::size_t>(k + 1)] <= t)
        ++k;
    const bool rational = !nurbs.weights.empty();
    auto w = [&](int i) { return rational ? nurbs.weights[static_cast<std::size_t>(i)] : 1.0; };
    std::vector<double> ctrl;
    std::vector<double> weights;
    for (int i = 0; i <= n; ++i) {
        double alpha;
        if (i <= k - p)
            alpha = 1.0;
        else if (i > k)
            alpha = 0.0;
        else
            alpha = (t - U[static_cast<std::size_t>(i)]) /
                    (U[static_cast<std::size_t>(i + p)] - U[static_cast<std::size_t>(i)]);
        const int lo = std::max(i - 1, 0), hi = std::min(i, n - 1);
        const double wl = w(lo), wh = w(hi);
        const double wi = (i == 0) ? wh : (i == n) ? wl : alpha * wh + (1.0 - alpha) * wl;
        for (int c = 0; c < dim; ++c) {
            const double ph = nurbs.ctrl[static_cast<std::size_t>(hi * dim + c)] * wh;
            const double pl = nurbs.ctrl[static_cast<std::size_t>(lo * dim + c)] * wl;
            const double v = (i == 0) ? ph : (i == n) ? pl : alpha * ph + (1.0 - alpha) * pl;
            ctrl.push_back(v / wi);
        }
        weights.push_back(wi);
    }
    nurbs.ctrl = std::move(ctrl);
    if (rational)
        nurbs.weights = std::move(weights);
    nurbs.count = n + 1;
    auto it = std::find(nurbs.knots.begin(), nurbs.knots.end(), t);
    if (it != nurbs.knots.end()) {
        ++nurbs.mults[static_cast<std::size_t>(it - nurbs.knots.begin())];
    } else {
        auto pos = std::upper_bound(nurbs.knots.begin(), nurbs.knots.end(), t);
        const auto idx = pos - nurbs.knots.begin();
        nurbs.knots.insert(pos, t);
        nurbs.mults.insert(nurbs.mults.begin() + idx, 1);
    }
}

const TestOverride* findOverride(const TestOverrides& overrides, const char* operation, std::uint64_t word)
{
    if (overrides.empty())
        return nullptr;
    auto op = overrides.find(operation);
    if (op == overrides.end())
        return nullptr;
    auto it = op->second.find(word);
    if (it == op->second.end())
        it = op->second.find(0);
    return it == op->second.end() ? nullptr : &it->second;
}

const TestOverride* TestModel::overrideFor(const char* operation, std::uint64_t word) const
{
    return findOverride(overrides, operation, word);
}

// ---------------------------------------------------------------- records

int TestModel::addPoint(const Vec3& p)
{
    points.push_back(p);
    return static_cast<int>(points.size()) - 1;
}

namespace {
int push(std::vector<TestSurface>& table, TestSurface s)
{
    table.push_back(std::move(s));
    return static_cast<int>(table.size()) - 1;
}
} // namespace

int TestModel::addPlane(const Vec3& origin, const Vec3& uVector, const Vec3& normal)
{
    TestSurface s;
    s.type = SurfPlane;
    s.p = origin;
    s.d1 = uVector;
    s.d2 = V(unitVec(P(normal)));
    s.uSpan[0] = s.vSpan[0] = -1e3;
    s.uSpan[1] = s.vSpan[1] = 1e3;
    return push(surfaces, s);
}

int TestModel::addCone(const Vec3& origin, const Vec3& refDir, const Vec3& axis, double radius, double halfAngle)
{
    TestSurface s;
    s.type = halfAngle == 0.0 ? SurfCylinder : SurfCone;
    s.p = origin;
    s.d1 = V(unitVec(P(refDir)));
    s.d2 = V(unitVec(P(axis)));
    s.a = radius;
    s.b = halfAngle;
    s.c = std::sin(halfAngle);
    // Canonical s runs from the apex (-1/c) through the base circle (0).
    s.uSpan[0] = halfAngle == 0.0 ? -1e3 : -1.0 / s.c;
    s.uSpan[1] = halfAngle == 0.0 ? 1e3 : 0.0;
    s.vSpan[0] = 0.0;
    s.vSpan[1] = 2.0 * M_PI;
    return push(surfaces, s);
}

int TestModel::addSphere(const Vec3& centre, double radius)
{
    TestSurface s;
    s.type = SurfSphere;
    s.p = centre;
    s.d1 = {1.0, 0.0, 0.0};
    s.d2 = {0.0, 0.0, 1.0};
    s.a = radius;
    s.uSpan[0] = -M_PI / 2;
    s.uSpan[1] = M_PI / 2;
    s.vSpan[0] = -M_PI;
    s.vSpan[1] = M_PI;
    return push(surfaces, s);
}

int TestModel::addTorus(const Vec3& centre, const Vec3& refDir, const Vec3& axis, double major, double minor,
                        bool lemon)
{
    TestSurface s;
    s.type = SurfTorus;
    s.p = centre;
    s.d1 = V(unitVec(P(refDir)));
    s.d2 = V(unitVec(P(axis)));
    s.a = major;
    s.b = minor;
    s.toroidalType = lemon ? 3 : (major > minor ? 1 : 2);
    const double reach = lemon ? std::acos(std::min(1.0, major / minor)) : M_PI;
    s.uSpan[0] = -reach;
    s.uSpan[1] = reach;
    s.vSpan[0] = 0.0;
    s.vSpan[1] = 2.0 * M_PI;
    return push(surfaces, s);
}

int TestModel::addNurbsSurface(int uDegree, int vDegree, int uCount, int vCount, std::vector<double> ctrl,
                               std::vector<double> uKnots, std::vector<int> uMults, std::vector<double> vKnots,
                               std::vector<int> vMults, std::vector<double> weights)
{
    TestSurface s;
    s.type = SurfNurbs;
    s.uDegree = uDegree;
    s.vDegree = vDegree;
    s.uCount = uCount;
    s.vCount = vCount;
    s.ctrl = std::move(ctrl);
    s.weights = std::move(weights);
    s.uKnots = std::move(uKnots);
    s.uMults = std::move(uMults);
    s.vKnots = std::move(vKnots);
    s.vMults = std::move(vMults);
    const std::vector<double> U = expandKnots(s.uKnots, s.uMults), W = expandKnots(s.vKnots, s.vMults);
    if (U.size() == static_cast<std::size_t>(uCount + uDegree + 1) && uDegree >= 0) {
        s.uSpan[0] = U[static_cast<std::size_t>(uDegree)];
        s.uSpan[1] = U[static_cast<std::size_t>(uCount)];
    }
    if (W.size() == static_cast<std::size_t>(vCount + vDegree + 1) && vDegree >= 0) {
        s.vSpan[0] = W[static_cast<std::size_t>(vDegree)];
        s.vSpan[1] = W[static_cast<std::size_t>(vCount)];
    }
    return push(surfaces, s);
}

int TestModel::addRevolved(int profileCurve, const Vec3& axisPoint, const Vec3& axisDir, double angle0,
                           double angle1)
{
    TestSurface s;
    s.type = SurfRevolved;
    s.ref = profileCurve;
    s.p = axisPoint;
    s.d1 = V(unitVec(P(axisDir)));
    s.uSpan[0] = curves[profileCurve].domain[0];
    s.uSpan[1] = curves[profileCurve].domain[1];
    s.vSpan[0] = angle0;
    s.vSpan[1] = angle1;
    return push(surfaces, s);
}

int TestModel::addExtruded(int profileCurve, const Vec3& direction, double t0, double t1)
{
    TestSurface s;
    s.type = SurfExtruded;
    s.ref = profileCurve;
    s.d1 = direction;
    s.uSpan[0] = curves[profileCurve].domain[0];
    s.uSpan[1] = curves[profileCurve].domain[1];
    s.vSpan[0] = t0;
    s.vSpan[1] = t1;
    return push(surfaces, s);
}

int TestModel::addOffset(int baseSurface, double distance)
{
    TestSurface s = surfaces[baseSurface];
    TestSurface o;
    o.type = SurfOffset;
    o.ref = baseSurface;
    o.a = distance;
    // The offset shares its base's canonical parameters.
    o.uSpan[0] = s.uSpan[0];
    o.uSpan[1] = s.uSpan[1];
    o.vSpan[0] = s.vSpan[0];
    o.vSpan[1] = s.vSpan[1];
    return push(surfaces, o);
}

int TestModel::addLine(const Vec3& from, const Vec3& to)
{
    TestCurve c;
    c.type = CurvLine;
    const QELXPoint3D d = P(to) - P(from);
    c.p = from;
    c.d1 = V(unitVec(d));
    c.domain[0] = 0.0;
    c.domain[1] = d.Length();
    curves.push_back(c);
    return static_cast<int>(curves.size()) - 1;
}

int TestModel::addEllipse(const Vec3& centre, const Vec3& majorDir, const Vec3& normal, double major, double minor,
                          double t0, double t1)
{
    TestCurve c;
    c.type = CurvEllipse;
    c.p = centre;
    c.d1 = V(unitVec(P(majorDir)));
    c.d2 = V(unitVec(P(normal)));
    c.major = major;
    c.minor = minor;
    c.domain[0] = t0;
    c.domain[1] = t1;
    curves.push_back(c);
    return static_cast<int>(curves.size()) - 1;
}

int TestModel::addNurbsCurve(TestNurbs nurbs)
{
    TestCurve c;
    c.type = CurvNurbs;
    const auto [a, b] = nurbsDomain(nurbs);
    c.domain[0] = a;
    c.domain[1] = b;
    c.nurbs = std::move(nurbs);
    curves.push_back(c);
    return static_cast<int>(curves.size()) - 1;
}

int TestModel::addLinePCurve(const QELXPoint2D& a, const QELXPoint2D& b, double t0, double t1)
{
    TestNurbs n;
    n.degree = 1;
    n.count = 2;
    n.ctrl = {a.u(), a.v(), b.u(), b.v()};
    n.knots = {t0, t1};
    n.mults = {2, 2};
    return addPCurve(std::move(n));
}

int TestModel::addPCurve(TestNurbs nurbs)
{
    TestPCurve p;
    p.nurbs = std::move(nurbs);
    pcurves.push_back(std::move(p));
    return static_cast<int>(pcurves.size()) - 1;
}

// ---------------------------------------------------------------- evaluation

QELXPoint3D TestModel::point(int index) const { return P(points[index]); }

QELXPoint3D TestModel::canonicalCurvePoint(int curve, double s) const
{
    const TestCurve& c = curves[curve];
    switch (c.type) {
    case CurvLine:
        return P(c.p) + P(c.d1) * s;
    case CurvEllipse: {
        const QELXPoint3D M = unitVec(P(c.d1)), N = unitVec(P(c.d2));
        return P(c.p) + M * (c.major * std::cos(s)) + cross(N, M) * (c.minor * std::sin(s));
    }
    default: {
        const TestNurbs& n = c.nurbs;
        const QELXBSplineDef3D def(n.degree, n.count, n.ctrl.data(), static_cast<int>(n.knots.size()),
                                   n.knots.data(), n.mults.data(), n.weights.empty() ? nullptr : n.weights.data(),
                                   n.form >= 2);
        return def.eval(s);
    }
    }
}

QELXPoint3D TestModel::curvePoint(int curve, double t) const
{
    const TestCurve& c = curves[curve];
    return canonicalCurvePoint(curve, c.scale * t + c.offset);
}

QELXPoint3D TestModel::edgePoint(int edge, double t) const
{
    const TestEdge& e = edges[edge];
    return curvePoint(e.curve, e.sense ? t : -t);
}

QELXPoint2D TestModel::pcurvePoint(int pcurve, double t) const
{
    const TestPCurve& p = pcurves[pcurve];
    const TestNurbs& n = p.nurbs;
    const QELXBSplineDef2D def(n.degree, n.count, n.ctrl.data(), static_cast<int>(n.knots.size()), n.knots.data(),
                               n.mults.data(), n.weights.empty() ? nullptr : n.weights.data(), n.form >= 2);
    return def.eval(p.scale * t + p.offset);
}

namespace {
// Unit normal of the canonical frame by central differences.
QELXPoint3D frameNormal(const TestModel& m, int surface, double s, double t)
{
    const double h = 1e-6;
    const QELXPoint3D du = m.canonicalSurfacePoint(surface, s + h, t) - m.canonicalSurfacePoint(surface, s - h, t);
    const QELXPoint3D dv = m.canonicalSurfacePoint(surface, s, t + h) - m.canonicalSurfacePoint(surface, s, t - h);
    return unitVec(cross(du, dv));
}
} // namespace

QELXPoint3D TestModel::canonicalSurfacePoint(int surface, double s, double t) const
{
    const TestSurface& f = surfaces[surface];
    switch (f.type) {
    case SurfPlane: {
        const QELXPoint3D n = unitVec(P(f.d2)), u = P(f.d1);
        const QELXPoint3D up = u - n * (u * n);
        const QELXPoint3D nu = cross(n, u);
        const QELXPoint3D w = nu * (u.Length() / nu.Length());
        return P(f.p) + up * s + w * t;
    }
    case SurfCylinder:
    case SurfCone: {
        const QELXPoint3D r = unitVec(P(f.d1)), d = unitVec(P(f.d2));
        const double c = f.type == SurfCylinder ? 0.0 : f.c;
        return P(f.p) + (r * std::cos(t) + cross(d, r) * std::sin(t)) * ((1.0 + c * s) * f.a) -
               d * (f.a * std::cos(f.b) * s);
    }
    case SurfSphere: {
        // The sphere in its own frame: latitude s towards the pole Pd,
        // longitude t from O (longitude 0) turning towards O x Pd.
        const QELXPoint3D O = unitVec(P(f.d1)), Pd = unitVec(P(f.d2));
        return P(f.p) + ((O * std::cos(t) + cross(O, Pd) * std::sin(t)) * std::cos(s) + Pd * std::sin(s)) * f.a;
    }
    case SurfTorus: {
        const QELXPoint3D O = unitVec(P(f.d1)), N = unitVec(P(f.d2));
        const QELXPoint3D W = cross(O, N);
        const double R = f.toroidalType == 3 ? -f.a : f.a;
        return P(f.p) + (O * std::cos(t) + W * std::sin(t)) * (R + f.b * std::cos(s)) + N * (f.b * std::sin(s));
    }
    case SurfRevolved: {
        const QELXPoint3D q = curvePoint(f.ref, s) - P(f.p);
        return P(f.p) + rotate(q, unitVec(P(f.d1)), t);
    }
    case SurfExtruded:
        return curvePoint(f.ref, s) + P(f.d1) * t;
    case SurfOffset: {
        const TestSurface& base = surfaces[f.ref];
        const QELXPoint3D n = frameNormal(*this, f.ref, s, t) * (base.flag ? 1.0 : -1.0);
        return canonicalSurfacePoint(f.ref, s, t) + n * f.a;
    }
    default: {
        const QELXBSplineNetDef3D net(f.uDegree, f.vDegree, f.uCount, f.vCount, f.ctrl.data(),
                                      f.weights.empty() ? nullptr : f.weights.data(),
                                      static_cast<int>(f.uKnots.size()), f.uKnots.data(), f.uMults.data(),
                                      static_cast<int>(f.vKnots.size()), f.vKnots.data(), f.vMults.data(),
                                      f.uClosure >= 2, f.vClosure >= 2, false);
        return net.eval(QELXPoint2D(s, t));
    }
    }
}

QELXPoint3D TestModel::surfacePoint(int surface, double u, double v) const
{
    const TestSurface& f = surfaces[surface];
    return canonicalSurfacePoint(surface, f.uA * f.uB * u + f.uC, f.vA * f.vB * v + f.vC);
}

QELXPoint3D TestModel::surfaceNormal(int surface, double u, double v) const
{
    const TestSurface& f = surfaces[surface];
    return frameNormal(*this, surface, f.uA * f.uB * u + f.uC, f.vA * f.vB * v + f.vC) * (f.flag ? 1.0 : -1.0);
}

double TestModel::maxGap() const
{
    double worst = 0.0;
    for (const TestEdge& e : edges) {
        if (e.curve < 0)
            continue;
        if (e.start >= 0 && vertices[e.start].point >= 0)
            worst = std::max(worst, edgePoint(static_cast<int>(&e - edges.data()), e.domain[0])
                                        .Distance(point(vertices[e.start].point)));
        if (e.end >= 0 && vertices[e.end].point >= 0)
            worst = std::max(worst, edgePoint(static_cast<int>(&e - edges.data()), e.domain[1])
                                        .Distance(point(vertices[e.end].point)));
    }
    for (const TestCoedge& c : coedges) {
        if (c.pcurve < 0 || c.edge < 0 || edges[c.edge].curve < 0 || c.loop < 0 || loops[c.loop].face < 0)
            continue;
        const int surface = faces[loops[c.loop].face].surface;
        if (surface < 0)
            continue;
        for (int k = 0; k <= 4; ++k) {
            const double t = c.domain[0] + (c.domain[1] - c.domain[0]) * k / 4.0;
            const QELXPoint2D uv = pcurvePoint(c.pcurve, c.pcurveSense ? t : -t);
            worst = std::max(worst, surfacePoint(surface, uv.u(), uv.v()).Distance(edgePoint(c.edge, c.sense ? t : -t)));
        }
    }
    return worst;
}

// ---------------------------------------------------------------- topology

int TestModel::addSolidBody(int& shell)
{
    const int body = addBody();
    lumps.emplace_back();
    volumes.emplace_back();
    shells.emplace_back();
    shell = static_cast<int>(shells.size()) - 1;
    shells[shell].closed = true;
    volumes.back().shells.push_back(shell);
    lumps.back().volumes.push_back(static_cast<int>(volumes.size()) - 1);
    bodies[body].lumps.push_back(static_cast<int>(lumps.size()) - 1);
    return body;
}

int TestModel::addSheetBody(int& shell)
{
    const int body = addBody();
    shells.emplace_back();
    shell = static_cast<int>(shells.size()) - 1;
    bodies[body].shells2D.push_back(shell);
    return body;
}

int TestModel::addVertex(const Vec3& p)
{
    TestVertex v;
    v.point = addPoint(p);
    vertices.push_back(v);
    return static_cast<int>(vertices.size()) - 1;
}

int TestModel::addEdge(int curve, int start, int end, double t0, double t1)
{
    TestEdge e;
    e.curve = curve;
    e.start = start;
    e.end = end;
    e.domain[0] = t0;
    e.domain[1] = t1;
    edges.push_back(e);
    const int index = static_cast<int>(edges.size()) - 1;
    if (start >= 0)
        vertices[start].edges.push_back(index);
    if (end >= 0 && end != start)
        vertices[end].edges.push_back(index);
    return index;
}

int TestModel::addFace(int shell, int surface, bool sense)
{
    TestFace f;
    f.surface = surface;
    f.sense = sense;
    const TestSurface& s = surfaces[surface];
    // The face covers the surface's box, read back into framework parameters.
    const double u0 = (s.uSpan[0] - s.uC) / (s.uA * s.uB), u1 = (s.uSpan[1] - s.uC) / (s.uA * s.uB);
    const double v0 = (s.vSpan[0] - s.vC) / (s.vA * s.vB), v1 = (s.vSpan[1] - s.vC) / (s.vA * s.vB);
    f.uDomain[0] = std::min(u0, u1);
    f.uDomain[1] = std::max(u0, u1);
    f.vDomain[0] = std::min(v0, v1);
    f.vDomain[1] = std::max(v0, v1);
    faces.push_back(f);
    const int index = static_cast<int>(faces.size()) - 1;
    if (shell >= 0)
        shells[shell].faces.push_back(index);
    return index;
}

int TestModel::addLoop(int face)
{
    TestLoop l;
    l.face = face;
    l.outer = faces[face].loops.empty();
    loops.push_back(l);
    const int index = static_cast<int>(loops.size()) - 1;
    faces[face].loops.push_back(index);
    return index;
}

int TestModel::addCoedge(int loop, int edge, bool sense, int pcurve)
{
    TestCoedge c;
    c.loop = loop;
    c.edge = edge;
    c.sense = sense;
    c.pcurve = pcurve;
    const TestEdge& e = edges[edge];
    c.domain[0] = sense ? e.domain[0] : -e.domain[1];
    c.domain[1] = sense ? e.domain[1] : -e.domain[0];
    coedges.push_back(c);
    const int index = static_cast<int>(coedges.size()) - 1;
    if (loop >= 0)
        loops[loop].coedges.push_back(index);
    edges[edge].coedges.push_back(index);
    return index;
}

QELXPoint2D TestModel::planeParams(int plane, const Vec3& p) const
{
    const TestSurface& f = surfaces[plane];
    const QELXPoint3D n = unitVec(P(f.d2)), u = P(f.d1);
    const QELXPoint3D up = u - n * (u * n);
    const QELXPoint3D nu = cross(n, u);
    const QELXPoint3D w = nu * (u.Length() / nu.Length());
    const QELXPoint3D q = P(p) - P(f.p);
    const double s = (q * up) / (up * up), t = (q * w) / (w * w);
    return {(s - f.uC) / (f.uA * f.uB), (t - f.vC) / (f.vA * f.vB)};
}

int TestModel::addPolygonFace(int shell, int plane, const std::vector<std::vector<int>>& loopVertices)
{
    const int face = addFace(shell, plane, true);
    for (const std::vector<int>& ring : loopVertices) {
        const int loop = addLoop(face);
        for (std::size_t i = 0; i < ring.size(); ++i) {
            const int a = ring[i], b = ring[(i + 1) % ring.size()];
            int edge = -1;
            bool sense = true;
            for (int e : vertices[a].edges) {
                const TestEdge& ed = edges[e];
                if (ed.start == b && ed.end == a && curves[ed.curve].type == CurvLine) {
                    edge = e;
                    sense = false;
                }
            }
            if (edge < 0) {
                const int curve = addLine(points[vertices[a].point], points[vertices[b].point]);
                edge = addEdge(curve, a, b, 0.0, curves[curve].domain[1]);
            }
            const TestEdge& ed = edges[edge];
            const double t0 = sense ? ed.domain[0] : -ed.domain[1], t1 = sense ? ed.domain[1] : -ed.domain[0];
            const int pc = addLinePCurve(planeParams(plane, points[vertices[a].point]),
                                         planeParams(plane, points[vertices[b].point]), t0, t1);
            addCoedge(loop, edge, sense, pc);
        }
    }
    return face;
}

// ---------------------------------------------------------------- fault editors

void TestModel::reversePCurve(int coedge)
{
    const int pc = coedges[coedge].pcurve;
    if (pc >= 0)
        reverseNurbs(pcurves[pc].nurbs, 2);
}

void TestModel::turnPCurve(int coedge)
{
    const int pc = coedges[coedge].pcurve;
    if (pc < 0)
        return;
    mapNurbs(pcurves[pc].nurbs, 2, -1.0, 0.0);
    coedges[coedge].pcurveSense = !coedges[coedge].pcurveSense;
}

void TestModel::moveVertexOffCurve(int vertex, double d)
{
    TestVertex& v = vertices[vertex];
    QELXPoint3D across(1.0, 0.0, 0.0);
    if (!v.edges.empty() && edges[v.edges.front()].curve >= 0) {
        const TestEdge& e = edges[v.edges.front()];
        const double t = e.start == vertex ? e.domain[0] : e.domain[1];
        const double h = 1e-6 * std::max(1.0, e.domain[1] - e.domain[0]);
        const QELXPoint3D tangent = curvePoint(e.curve, t + h) - curvePoint(e.curve, t - h);
        across = unitVec(tangent).Orthogonalize();
    }
    points[v.point] = V(P(points[v.point]) + across * d);
}

namespace {
void kink(TestNurbs& n, int dim, double d)
{
    const auto [a, b] = nurbsDomain(n);
    const double mid = 0.5 * (a + b);
    const int k = breakAt(n, dim, mid);
    if (k <= 0 || k + 1 >= n.count)
        throw std::invalid_argument("kink: no interior control point");
    // Push the break point across the chord of its neighbours.
    double chord[3] = {0, 0, 0}, len = 0.0;
    for (int c = 0; c < dim; ++c) {
        chord[c] = n.ctrl[static_cast<std::size_t>((k + 1) * dim + c)] - n.ctrl[static_cast<std::size_t>((k - 1) * dim + c)];
        len += chord[c] * chord[c];
    }
    len = std::sqrt(len);
    double across[3] = {0, 0, 0};
    if (dim == 2) {
        across[0] = -chord[1] / len;
        across[1] = chord[0] / len;
    } else {
        const QELXPoint3D o = unitVec(QELXPoint3D(chord[0], chord[1], chord[2])).Orthogonalize();
        across[0] = o[0];
        across[1] = o[1];
        across[2] = o[2];
    }
    for (int c = 0; c < dim; ++c)
        n.ctrl[static_cast<std::size_t>(k * dim + c)] += d * across[c];
}
} // namespace

void TestModel::kinkCurve(int curve, double d)
{
    TestCurve& c = curves[curve];
    if (c.type == CurvLine) {
        // The line over its canonical domain as a degree-1 spline.
        const double s0 = c.scale * c.domain[0] + c.offset, s1 = c.scale * c.domain[1] + c.offset;
        const QELXPoint3D a = canonicalCurvePoint(curve, std::min(s0, s1)),
                          b = canonicalCurvePoint(curve, std::max(s0, s1));
        TestNurbs n;
        n.degree = 1;
        n.count = 2;
        n.ctrl = {a[0], a[1], a[2], b[0], b[1], b[2]};
        n.knots = {std::min(s0, s1), std::max(s0, s1)};
        n.mults = {2, 2};
        c.nurbs = n;
        c.type = CurvNurbs;
    }
    if (c.type != CurvNurbs)
        throw std::invalid_argument("kinkCurve: not a line or spline");
    kink(c.nurbs, 3, d);
}

void TestModel::kinkPCurve(int pcurve, double d) { kink(pcurves[pcurve].nurbs, 2, d); }

void TestModel::shiftCurve(int curve, const Vec3& by)
{
    TestCurve& c = curves[curve];
    if (c.type == CurvLine || c.type == CurvEllipse) {
        for (int k = 0; k < 3; ++k)
            c.p[static_cast<std::size_t>(k)] += by[static_cast<std::size_t>(k)];
        return;
    }
    for (std::size_t i = 0; i < c.nurbs.ctrl.size(); ++i)
        c.nurbs.ctrl[i] += by[i % 3];
}

namespace {
void coincide(TestNurbs& n, int dim, int i)
{
    if (i < 0 || i + 1 >= n.count)
        throw std::invalid_argument("coincide: index out of range");
    for (int c = 0; c < dim; ++c)
        n.ctrl[static_cast<std::size_t>((i + 1) * dim + c)] = n.ctrl[static_cast<std::size_t>(i * dim + c)];
    if (!n.weights.empty())
        n.weights[static_cast<std::size_t>(i + 1)] = n.weights[static_cast<std::size_t>(i)];
}
} // namespace

void TestModel::coincideControlPoints(int curve, int i) { coincide(curves[curve].nurbs, 3, i); }
void TestModel::coincidePCurveControlPoints(int pcurve, int i) { coincide(pcurves[pcurve].nurbs, 2, i); }

void TestModel::coincideSurfaceControlPoints(int surface, int i, int j)
{
    TestSurface& s = surfaces[surface];
    if (i < 0 || i + 1 >= s.uCount || j < 0 || j >= s.vCount)
        throw std::invalid_argument("coincideSurfaceControlPoints: index out of range");
    const auto at = [&](int a, int b) { return static_cast<std::size_t>(3 * (a * s.vCount + b)); };
    for (int c = 0; c < 3; ++c)
        s.ctrl[at(i + 1, j) + c] = s.ctrl[at(i, j) + c];
    if (!s.weights.empty())
        s.weights[at(i + 1, j) / 3] = s.weights[at(i, j) / 3];
}

int TestModel::addThirdCoedge(int edge)
{
    const TestEdge& e = edges[edge];
    const TestCoedge first = coedges[e.coedges.front()];
    const int loop = addLoop(loops[first.loop].face);
    return addCoedge(loop, edge, first.sense, first.pcurve);
}

int TestModel::addEmptyLoop(int face) { return addLoop(face); }

void TestModel::reparametriseSurface(int surface, double ua, double uc, double va, double vc)
{
    TestSurface& s = surfaces[surface];
    // Old framework u -> new framework u: (A u + C - uc) / ua.
    const double su = s.uA * s.uB / ua, cu = (s.uC - uc) / ua;
    const double sv = s.vA * s.vB / va, cv = (s.vC - vc) / va;
    s.uA = std::fabs(ua);
    s.uB = ua < 0 ? -1.0 : 1.0;
    s.uC = uc;
    s.vA = std::fabs(va);
    s.vB = va < 0 ? -1.0 : 1.0;
    s.vC = vc;
    std::set<int> done;
    for (TestFace& f : faces) {
        if (f.surface != surface)
            continue;
        const double u0 = su * f.uDomain[0] + cu, u1 = su * f.uDomain[1] + cu;
        const double v0 = sv * f.vDomain[0] + cv, v1 = sv * f.vDomain[1] + cv;
        f.uDomain[0] = std::min(u0, u1);
        f.uDomain[1] = std::max(u0, u1);
        f.vDomain[0] = std::min(v0, v1);
        f.vDomain[1] = std::max(v0, v1);
        for (int l : f.loops)
            for (int c : loops[l].coedges) {
                const int pc = coedges[c].pcurve;
                if (pc < 0 || !done.insert(pc).second)
                    continue;
                TestNurbs& n = pcurves[pc].nurbs;
                for (int i = 0; i < n.count; ++i) {
                    n.ctrl[static_cast<std::size_t>(2 * i)] = su * n.ctrl[static_cast<std::size_t>(2 * i)] + cu;
                    n.ctrl[static_cast<std::size_t>(2 * i + 1)] =
                        sv * n.ctrl[static_cast<std::size_t>(2 * i + 1)] + cv;
                }
            }
    }
}

void TestModel::reparametriseCurve(int curve, double a, double c)
{
    TestCurve& cu = curves[curve];
    // Old framework t -> new framework t: (S t + O - c) / a.
    const double slope = cu.scale / a, shift = (cu.offset - c) / a;
    cu.scale = a;
    cu.offset = c;
    auto mapRange = [&](double range[2], double k, double m) {
        const double r0 = k * range[0] + m, r1 = k * range[1] + m;
        range[0] = std::min(r0, r1);
        range[1] = std::max(r0, r1);
    };
    mapRange(cu.domain, slope, shift);
    std::set<int> done;
    for (TestEdge& e : edges) {
        if (e.curve != curve)
            continue;
        // The curve at sigma t, sigma the edge's sense: the new edge
        // parameter |slope| t + sigma' shift keeps the edge's direction, and
        // the sense becomes sigma' = sigma sign(slope).
        if (slope < 0)
            e.sense = !e.sense;
        const double k = std::fabs(slope), edgeShift = e.sense ? shift : -shift;
        mapRange(e.domain, k, edgeShift);
        for (int ci : e.coedges) {
            TestCoedge& co = coedges[ci];
            // A reversed coedge's parameter is the edge's negated.
            const double m = co.sense ? edgeShift : -edgeShift;
            mapRange(co.domain, k, m);
            if (co.pcurve >= 0 && done.insert(co.pcurve).second)
                mapNurbs(pcurves[co.pcurve].nurbs, 2, k, m);
        }
    }
}

int TestModel::addCoordinateSystem(const QELXMorph3D& morph, bool current, const std::string& name)
{
    coordinateSystems.push_back(TestCoordinateSystem{morph, current});
    const int index = static_cast<int>(coordinateSystems.size()) - 1;
    attributes[wordOf(KindCoordinateSystem, index)].name = name;
    return index;
}

int TestModel::addSelectionSet(const std::string& name, bool current, std::vector<std::uint64_t> members)
{
    selectionSets.push_back(TestSelectionSet{current, std::move(members)});
    const int index = static_cast<int>(selectionSets.size()) - 1;
    attributes[wordOf(KindSelectionSet, index)].name = name;
    return index;
}

} // namespace qelx_test
