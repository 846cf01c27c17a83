// The framework's default geometry importer: exporter data -> kernel
// plane, cone, sphere, torus and spline surfaces (splines also for the
// analytic kinds under a map, and for revolved and extruded surfaces),
// straight, ellipse and intcurve curves, and pcurves, each in the
// exporter's framework parameters.
#include "qelx_velm/default_geometry_importer.hxx"

#include "qelx/qelx_geometry_exporter.hxx"
#include "qelx/qelx_identifier.hxx"

#include "velm/bspline.hxx"
#include "velm/errors.hxx"
#include "velm/geometry.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/memory.hxx"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

bool finite(std::initializer_list<double> values)
{
    for (double v : values)
        if (!std::isfinite(v))
            return false;
    return true;
}
bool finite3(const double v[3]) { return finite({v[0], v[1], v[2]}); }
double length(const double v[3]) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }
QELposition pos(const double p[3], double k) { return QELposition(p[0] * k, p[1] * k, p[2] * k); }

// One direction of exporter B-spline data, checked and expanded to a full
// knot vector in framework parameters t = (s - offset) / slope.
struct Knots {
    std::vector<double> full;
    bool reversed = false;
};
bool expand(int degree, int count, int knotCount, const double* knots, const int* mults, double slope,
            double offset, Knots& out)
{
    if (degree < 1 || count < degree + 1 || knotCount < 2 || !knots || !mults || !finite({slope, offset}) ||
        std::fabs(slope) < 1e-12)
        return false;
    for (int i = 0; i < knotCount; ++i) {
        if (!std::isfinite(knots[i]) || mults[i] < 1 || mults[i] > degree + 1 || (i && knots[i] <= knots[i - 1]))
            return false;
        for (int m = 0; m < mults[i]; ++m)
            out.full.push_back((knots[i] - offset) / slope);
    }
    if (static_cast<int>(out.full.size()) != count + degree + 1)
        return false;
    out.reversed = slope < 0;
    if (out.reversed)
        std::reverse(out.full.begin(), out.full.end());
    return true;
}

// One direction of a B-spline surface as the exporter hands it, with the
// map from framework to canonical parameters (canonical = slope t + offset).
struct Side {
    int degree, count, knotCount;
    const double* knots;
    const int* mults;
    int closure;
    double slope, offset;
};

// The kernel spline of exporter net data in framework parameters; null when
// the data do not make a B-spline.
SURFACE* splineSurface(const Side& u, const Side& v, const double* ctrl, const double* w, double k)
{
    Knots U, V;
    bool good = ctrl && expand(u.degree, u.count, u.knotCount, u.knots, u.mults, u.slope, u.offset, U) &&
                expand(v.degree, v.count, v.knotCount, v.knots, v.mults, v.slope, v.offset, V);
    const int nu = u.count, nv = v.count;
    std::vector<QELposition> points;
    std::vector<double> weights;
    for (int i = 0; good && i < nu; ++i)
        for (int j = 0; good && j < nv; ++j) {
            // Reversed directions take their rows and columns backwards.
            const int si = U.reversed ? nu - 1 - i : i, sj = V.reversed ? nv - 1 - j : j;
            const double* p = ctrl + 3 * (si * nv + sj);
            good = finite3(p) && (!w || (std::isfinite(w[si * nv + sj]) && w[si * nv + sj] > 0));
            points.emplace_back(p[0] * k, p[1] * k, p[2] * k);
            weights.push_back(w ? w[si * nv + sj] : 1.0);
        }
    if (!good)
        return nullptr;
    const bool rational = w != nullptr;
    // A boundary row that collapses to a point is a pole (a sphere's, a
    // cone's apex): unmarked, the kernel's check calls the net singular.
    int uPole = 0, vPole = 0;
    set_poles(points.data(), nu, nv, QELresabs * k, uPole, vPole);
    bs3_surface bs = bs3_surface_from_ctrlpts(
        u.degree, rational, u.closure >= 2 ? 2 : u.closure, uPole, nu, v.degree, rational,
        v.closure >= 2 ? 2 : v.closure, vPole, nv, points.data(), rational ? weights.data() : nullptr, QELresabs, static_cast<int>(U.full.size()),
        U.full.data(), static_cast<int>(V.full.size()), V.full.data(), 1e-10);
    if (!bs)
        return nullptr;
    spline sp(bs); // copies the B-spline
    bs3_surface_delete(bs);
    return make_surface(sp);
}

// The analytic surfaces are affine in (1, cos, sin) of an angular parameter
// and in the parameter itself along a generator. A direction's control values
// stand in for (cos, sin), or for the parameter in c, so the formula applied to
// them gives the control points (the basis sums to one).
struct Ctrl {
    double c, s;
};
struct Direction {
    int degree = 1;
    std::vector<double> knots;
    std::vector<int> mults;
    std::vector<Ctrl> ctrl;
    std::vector<double> weights; // empty when non-rational
    int closure = 0;
    std::size_t count() const { return ctrl.size(); }
};

// A generator: exact at degree 1. An angle: no rational B-spline follows the
// angle itself (the exact conic arcs move the parameter inside each arc, which
// would put pcurves off their edges), so each span of at most pi/4 is the
// degree 9 Bezier meeting cos and sin with four derivatives at both ends:
// each of cos and sin within (pi/8)^10 / 10! = 2.4e-11 at every angle.
bool direction(bool angular, double a, double b, Direction& d)
{
    if (!finite({a, b}) || !(a < b))
        return false;
    if (!angular) {
        d.knots = {a, b};
        d.mults = {2, 2};
        d.ctrl = {{a, 0.0}, {b, 0.0}};
        return true;
    }
    const double turn = 2.0 * M_PI;
    if (b - a > turn * (1.0 + 1e-12))
        return false;
    constexpr int m = 4, n = 2 * m + 1;
    const int spans = std::max(1, static_cast<int>(std::ceil((b - a) / (M_PI / 4) - 1e-9)));
    double binom[n + 1][n + 1] = {};
    for (int i = 0; i <= n; ++i) {
        binom[i][0] = 1.0;
        for (int j = 1; j <= i; ++j)
            binom[i][j] = binom[i - 1][j - 1] + (j < i ? binom[i - 1][j] : 0.0);
    }
    // j-th derivative of (cos, sin) at t, times h^j / j!.
    auto taylor = [](double t, int j, double h) {
        double f = 1.0;
        for (int i = 1; i <= j; ++i)
            f *= h / i;
        const double c = std::cos(t), s = std::sin(t);
        const Ctrl turns[4] = {{c, s}, {-s, c}, {-c, -s}, {s, -c}};
        return Ctrl{turns[j % 4].c * f, turns[j % 4].s * f};
    };
    auto hermite = [&](double t, double h, int i) { // control point i of the end at t
        Ctrl p{0.0, 0.0};
        for (int j = 0; j <= i; ++j) {
            const Ctrl q = taylor(t, j, h);
            const double f = binom[i][j] / binom[n][j];
            p.c += f * q.c;
            p.s += f * q.s;
        }
        return p;
    };
    d.degree = n;
    d.closure = b - a >= turn * (1.0 - 1e-12) ? 1 : 0;
    for (int i = 0; i <= spans; ++i) {
        d.knots.push_back(i == spans ? b : a + (b - a) * i / spans);
        d.mults.push_back(i == 0 || i == spans ? n + 1 : n);
    }
    d.ctrl.push_back(hermite(a, 0.0, 0));
    for (int i = 0; i < spans; ++i) {
        const double t0 = d.knots[i], t1 = d.knots[i + 1], h = t1 - t0;
        for (int j = 1; j <= m; ++j)
            d.ctrl.push_back(hermite(t0, h, j));
        for (int j = m; j >= 0; --j)
            d.ctrl.push_back(hermite(t1, -h, j));
    }
    return true;
}

// The spline over two directions; point(i, j) gives control point (i, j) and
// the u direction's weights, if any, apply to every column.
template <class Point>
SURFACE* netSurface(const Direction& U, double su, double uC, const Direction& V, double sv, double vC, double k,
                    Point point)
{
    const std::size_t nu = U.count(), nv = V.count();
    std::vector<double> ctrl, weights;
    ctrl.reserve(3 * nu * nv);
    for (std::size_t i = 0; i < nu; ++i)
        for (std::size_t j = 0; j < nv; ++j) {
            const QELposition p = point(i, j);
            ctrl.insert(ctrl.end(), {p.x(), p.y(), p.z()});
            if (!U.weights.empty())
                weights.push_back(U.weights[i]);
        }
    const auto side = [](const Direction& d, double slope, double offset) {
        return Side{d.degree, static_cast<int>(d.count()), static_cast<int>(d.knots.size()), d.knots.data(),
                    d.mults.data(), d.closure, slope, offset};
    };
    return splineSurface(side(U, su, uC), side(V, sv, vC), ctrl.data(), weights.empty() ? nullptr : weights.data(),
                         k);
}

// The spline of an analytic surface over its canonical span, in framework
// parameters; null when the span is not a finite box (or an angle exceeds a
// turn).
template <class Point>
SURFACE* analyticNet(QELXGeometryExporter& g, const QELXIdentifier& id, bool uAngular, bool vAngular, double su,
                     double uC, double sv, double vC, double k, Point point)
{
    double us[2] = {0, 0}, vs[2] = {0, 0};
    Direction U, V;
    if (g.GetSurfaceSpan(id, us, vs) != QELI_OK || !direction(uAngular, us[0], us[1], U) ||
        !direction(vAngular, vs[0], vs[1], V))
        return nullptr;
    return netSurface(U, su, uC, V, sv, vC, k,
                      [&](std::size_t i, std::size_t j) { return point(U.ctrl[i], V.ctrl[j]); });
}

// A profile curve as a net direction in its CANONICAL parameter, with the
// curve's own map (canonical = scale t + offset) to compose with the
// surface's. Lines and elliptical arcs cover the framework range [s0, s1];
// a B-spline keeps its whole range.
struct Profile {
    Direction d;
    std::vector<QELposition> points;
    double scale = 1.0, offset = 0.0;
};
bool profile(QELXGeometryExporter& g, const QELXIdentifier& id, double s0, double s1, Profile& out)
{
    int type = 0;
    bool flag = true;
    if (g.GetCurveType(id, type) != QELI_OK)
        return false;
    g.GetCurveParameterization(id, out.scale, out.offset, flag);
    if (!finite({out.scale, out.offset, s0, s1}) || out.scale == 0.0)
        return false;
    const double a = out.scale * s0 + out.offset, b = out.scale * s1 + out.offset;
    const double lo = std::min(a, b), hi = std::max(a, b);
    if (type == 1) {
        double p[3], d[3];
        if (g.GetLinearCurveData(id, p, d) != QELI_OK || !finite3(p) || !finite3(d) || length(d) == 0.0 ||
            !direction(false, lo, hi, out.d))
            return false;
        for (const Ctrl& c : out.d.ctrl)
            out.points.push_back(pos(p, 1.0) + QELvector(d[0], d[1], d[2]) * c.c);
        return true;
    }
    if (type == 3) {
        double ra = 0, rb = 0, c[3], m[3], n[3];
        if (g.GetEllipticalCurveData(id, ra, rb, c, m, n) != QELI_OK || !finite({ra, rb}) || !finite3(c) ||
            !finite3(m) || !finite3(n) || ra <= 0 || rb <= 0 || length(m) == 0.0 || length(n) == 0.0 ||
            !direction(true, lo, hi, out.d))
            return false;
        const QELunit_vector M = normalise(QELvector(m[0], m[1], m[2]));
        const QELvector B = normalise(QELvector(n[0], n[1], n[2])) * M;
        if (B.len() == 0.0)
            return false;
        for (const Ctrl& e : out.d.ctrl)
            out.points.push_back(pos(c, 1.0) + M * (ra * e.c) + normalise(B) * (rb * e.s));
        return true;
    }
    if (type != 4)
        return false;
    int count = 0, knotCount = 0, form = 0;
    double *ctrl = nullptr, *knots = nullptr, *w = nullptr;
    int* mults = nullptr;
    bool good = g.GetNurbsCurveData(id, out.d.degree, count, ctrl, knotCount, knots, mults, w, form) == QELI_OK &&
                ctrl && knots && mults && count > 0 && knotCount > 0;
    if (good) { // checked in full when the surface is built
        out.d.knots.assign(knots, knots + knotCount);
        out.d.mults.assign(mults, mults + knotCount);
        for (int i = 0; i < count; ++i)
            out.points.emplace_back(ctrl[3 * i], ctrl[3 * i + 1], ctrl[3 * i + 2]);
        if (w)
            out.d.weights.assign(w, w + count);
        out.d.ctrl.assign(static_cast<std::size_t>(count), Ctrl{0.0, 0.0});
        out.d.closure = form;
    }
    g.DeleteNurbsCurveData(ctrl, knots, mults, w);
    return good;
}

// Extruded and revolved surfaces: the profile's net swept along the second
// direction. The surface's u map composes with the profile's own.
template <class Point>
SURFACE* sweptNet(QELXGeometryExporter& g, const QELXIdentifier& id, const QELXIdentifier& profileId, bool angular,
                  double su, double uC, double sv, double vC, double k, Point point)
{
    double us[2] = {0, 0}, vs[2] = {0, 0};
    Profile p;
    Direction V;
    if (g.GetSurfaceSpan(id, us, vs) != QELI_OK || !profile(g, profileId, us[0], us[1], p) ||
        !direction(angular, vs[0], vs[1], V))
        return nullptr;
    return netSurface(p.d, p.scale * su, p.scale * uC + p.offset, V, sv, vC, k,
                      [&](std::size_t i, std::size_t j) { return point(p.points[i], V.ctrl[j]); });
}

// The morph as a usable map: a positive finite scale, a finite affine of
// nonzero determinant and a finite translation.
bool usable(const QELXMorph3D& m)
{
    const QELXAffine& a = m.GetAffine();
    bool good = std::isfinite(m.scaleFactor()) && m.scaleFactor() > 0;
    for (int i = 0; i < 3; ++i)
        good = good && finite({a.GetElement(i, 0), a.GetElement(i, 1), a.GetElement(i, 2), m.GetTranslation()[i]});
    return good && a.Determinant() != 0.0 && std::isfinite(a.Determinant());
}

bool reflects(const QELXMorph3D& m) { return m.GetAffine().Determinant() < 0.0; }

// The kernel transform of the morph: the framework applies its affine to
// column vectors, the kernel its matrix to row vectors, so row i of the one
// is column i of the other.
QELtransf transfOf(const QELXMorph3D& m)
{
    const QELXAffine& a = m.GetAffine();
    QELvector rows[3];
    for (int i = 0; i < 3; ++i)
        rows[i] = QELvector(a.GetElement(i, 0), a.GetElement(i, 1), a.GetElement(i, 2));
    const QELXPoint3D& t = m.GetTranslation();
    return restore_transf(QELmatrix(rows[0], rows[1], rows[2]), QELvector(t[0], t[1], t[2]), m.scaleFactor(),
                          a.IsIdentity() ? 0 : 1, reflects(m) ? 1 : 0, 0);
}

} // namespace

QELXDefaultGeometryImporter::QELXDefaultGeometryImporter(QELXGeometryExporter* exporter, double scale)
    : m_exporter(exporter), m_morph(QELXAffine(), QELXPoint3D(0, 0, 0), scale)
{
}

QELXDefaultGeometryImporter::QELXDefaultGeometryImporter(QELXGeometryExporter* exporter, const QELXMorph3D& morph)
    : m_exporter(exporter), m_morph(morph)
{
}

namespace {

// Geometry is built in the source's units and frame, then carried by the import's
// morph as a whole, so that its parameters stay those of the source; a transform the
// kernel refuses loses what was built.
template <class Entity>
bool placedByMorph(Entity*& out, const QELXMorph3D& morph)
{
    if (!out || morph.IsIdentity())
        return true;
    try {
        out->equation_for_update() *= transfOf(morph);
        return true;
    } catch (const velm_exception&) {
        out->lose();
        out = nullptr;
        return false;
    }
}

} // namespace

QELIResult QELXDefaultGeometryImporter::ConvertSurface(const QELXIdentifier& id, SURFACE*& out)
{
    out = nullptr;
    int type = 0;
    if (!m_exporter || m_exporter->GetSurfaceType(id, type) != QELI_OK || !usable(m_morph))
        return QELI_FAIL;
    const QELIResult made = convertSurface(id, type, out);
    return made == QELI_OK && !placedByMorph(out, m_morph) ? QELI_FAIL : made;
}

bool QELXDefaultGeometryImporter::KeepsFaceNormal(const QELXIdentifier& id) const
{
    int type = 0;
    double uA = 1, uB = 1, uC = 0, vA = 1, vB = 1, vC = 0;
    bool flag = true;
    if (!m_exporter || m_exporter->GetSurfaceType(id, type) != QELI_OK ||
        m_exporter->GetSurfaceParameterization(id, uA, uB, uC, vA, vB, vC, flag) != QELI_OK)
        return true;
    // Every kind but the plane is either built canonical (then su = sv = 1)
    // or as a net over the framework parameters, whose normal is su sv times
    // the canonical one.
    const bool canonical = type == 1 || uA * uB * vA * vB > 0.0;
    return flag == canonical;
}

QELIResult QELXDefaultGeometryImporter::convertSurface(const QELXIdentifier& id, int type, SURFACE*& out)
{
    double uA = 1, uB = 1, uC = 0, vA = 1, vB = 1, vC = 0;
    bool flag = true;
    m_exporter->GetSurfaceParameterization(id, uA, uB, uC, vA, vB, vC, flag);
    const double su = uA * uB, sv = vA * vB; // canonical = s * framework + c
    if (!finite({su, sv, uC, vC}))
        return QELI_FAIL;
    // A mirror takes the point of a sphere or torus at (u, v) to the image's
    // (u, -v). A sphere stays a sphere, its pcurves turned to match (see
    // ConvertPCurve); a torus goes through its net, which keeps every
    // parameter.
    const bool identity = su == 1.0 && sv == 1.0 && uC == 0.0 && vC == 0.0 && !(reflects(m_morph) && type == 5);
    const double k = 1.0; // the morph scales after
    try {
        switch (type) {
        case 1: { // plane: root o + C_u u' + C_v w, U' = s_u u', V = s_v w
            double o[3], u[3], n[3];
            if (m_exporter->GetPlanarSurfaceData(id, o, u, n) != QELI_OK || !finite3(o) || !finite3(u) ||
                !finite3(n) || length(n) == 0.0 || length(u) == 0.0 || std::fabs(std::fabs(su) - std::fabs(sv)) > 1e-12)
                return QELI_FAIL;
            const QELunit_vector N = normalise(QELvector(n[0], n[1], n[2]));
            QELvector U(u[0], u[1], u[2]);
            // The kernel plane's v speed is its u speed: u must lie in the plane.
            if (std::fabs(U % N) > 1e-12 * U.len())
                return QELI_FAIL;
            const QELvector W = (N * U) * (QELvector(u[0], u[1], u[2]).len() / (N * U).len());
            plane p(pos(o, k) + (U * uC + W * vC) * k, N);
            p.u_deriv = U * (su * k);
            p.reverse_v = (sv / su) < 0 ? 1 : 0;
            out = make_surface(p);
            return QELI_OK;
        }
        case 2:
        case 3: { // the cone the contract reads: sine -c, cosine cos b, reverse-u
            double a = 0, b = 0, c = 0, o[3], r[3], d[3];
            if (m_exporter->GetConicalSurfaceData(id, a, b, c, o, r, d) != QELI_OK || !finite({a, b, c}) ||
                !finite3(o) || !finite3(r) || !finite3(d) || a <= 0 || length(r) == 0.0 || length(d) == 0.0)
                return QELI_FAIL;
            const QELunit_vector D = normalise(QELvector(d[0], d[1], d[2]));
            const QELunit_vector R = normalise(QELvector(r[0], r[1], r[2]));
            const bool cylinder = std::fabs(c) <= 1e-9;
            const double sine = cylinder ? 0.0 : c, cosine = cylinder ? 1.0 : std::cos(b);
            if (!identity) {
                const QELvector W = D * R;
                out = analyticNet(*m_exporter, id, false, true, su, uC, sv, vC, k, [&](Ctrl u, Ctrl v) {
                    return pos(o, 1.0) + (R * v.c + W * v.s) * ((1.0 + sine * u.c) * a) - D * (a * cosine * u.c);
                });
                return out ? QELI_OK : QELI_FAIL;
            }
            cone cn(pos(o, k), D, R * (a * k), 1.0, -sine, cosine, 0.0);
            cn.reverse_u = 1;
            cn.cylinder = cylinder ? 1 : 0;
            out = make_surface(cn);
            return QELI_OK;
        }
        case 4: { // the sphere in its own frame: longitude 0 along dir1, the pole along dir2
            double radius = 0, centre[3], d1[3], d2[3];
            if (m_exporter->GetSphericalSurfaceData(id, radius, centre, d1, d2) != QELI_OK ||
                !std::isfinite(radius) || radius <= 0 || !finite3(centre) || !finite3(d1) || !finite3(d2) ||
                length(d2) == 0.0)
                return QELI_FAIL;
            const QELunit_vector Z = normalise(QELvector(d2[0], d2[1], d2[2]));
            QELvector zero(d1[0], d1[1], d1[2]);
            zero = zero - Z * (zero % Z);
            if (zero.len() == 0.0)
                return QELI_FAIL;
            const QELunit_vector X = normalise(zero);
            if (!identity) { // u latitude, v longitude from X towards X x Z
                const QELvector W = X * Z;
                out = analyticNet(*m_exporter, id, true, true, su, uC, sv, vC, k, [&](Ctrl u, Ctrl v) {
                    return pos(centre, 1.0) + ((X * v.c + W * v.s) * u.c + Z * u.s) * radius;
                });
                return out ? QELI_OK : QELI_FAIL;
            }
            sphere ball(pos(centre, k), radius * k);
            ball.origin_dir = X;
            ball.pole_dir = Z;
            out = make_surface(ball);
            return QELI_OK;
        }
        case 5: {
            double major = 0, minor = 0, centre[3], ref[3], axis[3];
            int kind = 0;
            if (m_exporter->GetToroidalSurfaceData(id, major, minor, kind, centre, ref, axis) != QELI_OK ||
                !finite({major, minor}) || !finite3(centre) || !finite3(ref) || !finite3(axis) || minor <= 0 ||
                major < 0 || length(ref) == 0.0 || length(axis) == 0.0)
                return QELI_FAIL;
            const double signedMajor = kind == 3 ? -major : major;
            const QELunit_vector N = normalise(QELvector(axis[0], axis[1], axis[2]));
            const QELunit_vector O = normalise(QELvector(ref[0], ref[1], ref[2]));
            if (!identity) { // u around the tube, v about the axis from O towards O x N
                const QELvector W = O * N;
                out = analyticNet(*m_exporter, id, true, true, su, uC, sv, vC, k, [&](Ctrl u, Ctrl v) {
                    return pos(centre, 1.0) + (O * v.c + W * v.s) * (signedMajor + minor * u.c) +
                           N * (minor * u.s);
                });
                return out ? QELI_OK : QELI_FAIL;
            }
            torus t(pos(centre, k), N, signedMajor * k, minor * k);
            t.origin_dir = O;
            out = make_surface(t);
            return QELI_OK;
        }
        case 6: {
            int ud = 0, vd = 0, nu = 0, nv = 0, nuk = 0, nvk = 0, uClosure = 0, vClosure = 0;
            double *ctrl = nullptr, *w = nullptr, *uk = nullptr, *vk = nullptr;
            int *um = nullptr, *vm = nullptr;
            if (m_exporter->GetNurbsSurfaceData(id, ud, vd, nu, nv, ctrl, w, nuk, uk, um, nvk, vk, vm, uClosure,
                                                vClosure) == QELI_OK) {
                try {
                    out = splineSurface({ud, nu, nuk, uk, um, uClosure, su, uC},
                                        {vd, nv, nvk, vk, vm, vClosure, sv, vC}, ctrl, w, k);
                } catch (const velm_exception&) {
                    m_exporter->DeleteNurbsSurfaceData(ctrl, w, uk, um, vk, vm);
                    throw;
                }
            }
            m_exporter->DeleteNurbsSurfaceData(ctrl, w, uk, um, vk, vm);
            return out ? QELI_OK : QELI_FAIL;
        }
        case 7: { // the profile at angle t about the axis, right-handed
            double point[3], axis[3];
            QELXIdentifier profileId;
            if (m_exporter->GetRevolvedSurfaceData(id, point, axis, profileId) != QELI_OK || !finite3(point) ||
                !finite3(axis) || length(axis) == 0.0)
                return QELI_FAIL;
            const QELposition A = pos(point, 1.0);
            const QELunit_vector D = normalise(QELvector(axis[0], axis[1], axis[2]));
            out = sweptNet(*m_exporter, id, profileId, true, su, uC, sv, vC, k, [&](const QELposition& q, Ctrl v) {
                const QELvector along = D * ((q - A) % D), across = (q - A) - along;
                return A + along + across * v.c + (D * across) * v.s;
            });
            return out ? QELI_OK : QELI_FAIL;
        }
        case 8: { // the profile moved by t times the direction
            double direction[3];
            QELXIdentifier profileId;
            if (m_exporter->GetExtrudedSurfaceData(id, direction, profileId) != QELI_OK || !finite3(direction) ||
                length(direction) == 0.0)
                return QELI_FAIL;
            const QELvector D(direction[0], direction[1], direction[2]);
            out = sweptNet(*m_exporter, id, profileId, false, su, uC, sv, vC, k,
                           [&](const QELposition& q, Ctrl v) { return q + D * v.c; });
            return out ? QELI_OK : QELI_FAIL;
        }
        default:
            return QELI_FAIL;
        }
    } catch (const velm_exception&) {
        out = nullptr;
        return QELI_FAIL;
    }
}

namespace {
// Curve and pcurve B-spline data in framework parameters.
template <class Get, class Delete>
bool splineData(int dim, double slope, double offset, double k, Get get, Delete del, int& degree, int& count,
                int& form, std::vector<QELposition>& points, std::vector<double>& weights, Knots& knots,
                bool& rational)
{
    int knotCount = 0;
    double *ctrl = nullptr, *knotValues = nullptr, *w = nullptr;
    int* mults = nullptr;
    const bool answered = get(degree, count, ctrl, knotCount, knotValues, mults, w, form) == QELI_OK;
    bool good = answered && ctrl && expand(degree, count, knotCount, knotValues, mults, slope, offset, knots);
    for (int i = 0; good && i < count; ++i) {
        const int s = knots.reversed ? count - 1 - i : i;
        const double* p = ctrl + dim * s;
        const double z = dim == 3 ? p[2] : 0.0;
        good = finite({p[0], p[1], z}) && (!w || (std::isfinite(w[s]) && w[s] > 0));
        points.emplace_back(p[0] * k, p[1] * k, z * k);
        weights.push_back(w ? w[s] : 1.0);
    }
    rational = w != nullptr;
    del(ctrl, knotValues, mults, w);
    return good;
}
} // namespace

QELIResult QELXDefaultGeometryImporter::ConvertCurve(const QELXIdentifier& id, CURVE*& out)
{
    out = nullptr;
    int type = 0;
    if (!m_exporter || m_exporter->GetCurveType(id, type) != QELI_OK || !usable(m_morph))
        return QELI_FAIL;
    const QELIResult made = convertCurve(id, type, out);
    return made == QELI_OK && !placedByMorph(out, m_morph) ? QELI_FAIL : made;
}

QELIResult QELXDefaultGeometryImporter::convertCurve(const QELXIdentifier& id, int type, CURVE*& out)
{
    double scale = 1, offset = 0;
    bool flag = true;
    m_exporter->GetCurveParameterization(id, scale, offset, flag);
    if (!finite({scale, offset}) || scale == 0.0)
        return QELI_FAIL;
    const double k = 1.0; // the morph scales after
    try {
        if (type == 1) { // p + (scale t + offset) d
            double p[3], d[3];
            if (m_exporter->GetLinearCurveData(id, p, d) != QELI_OK || !finite3(p) || !finite3(d) || length(d) == 0.0)
                return QELI_FAIL;
            const QELvector D(d[0], d[1], d[2]);
            const QELposition root = pos(p, k) + D * (offset * k);
            out = make_curve(straight(root, normalise(D), scale * D.len() * k));
            return QELI_OK;
        }
        if (type == 3) { // a unit-speed map only: t + offset, or a reversal
            double a = 0, b = 0, c[3], m[3], n[3];
            if (std::fabs(scale) != 1.0 || m_exporter->GetEllipticalCurveData(id, a, b, c, m, n) != QELI_OK ||
                !finite({a, b}) || !finite3(c) || !finite3(m) || !finite3(n) || a <= 0 || b <= 0 ||
                length(m) == 0.0 || length(n) == 0.0)
                return QELI_FAIL;
            QELunit_vector N = normalise(QELvector(n[0], n[1], n[2]));
            if (scale < 0)
                N = -N;
            const QELvector A = normalise(QELvector(m[0], m[1], m[2])) * (a * k);
            out = make_curve(ellipse(pos(c, k), N, A, b / a, scale * offset));
            return QELI_OK;
        }
        if (type != 4)
            return QELI_FAIL;
        int degree = 0, count = 0, form = 0;
        std::vector<QELposition> points;
        std::vector<double> weights;
        Knots knots;
        bool rational = false;
        const bool good = splineData(
            3, scale, offset, k,
            [&](int& dg, int& n, double*& ctrl, int& nk, double*& kv, int*& mu, double*& w, int& f) {
                return m_exporter->GetNurbsCurveData(id, dg, n, ctrl, nk, kv, mu, w, f);
            },
            [&](double*& ctrl, double*& kv, int*& mu, double*& w) { m_exporter->DeleteNurbsCurveData(ctrl, kv, mu, w); },
            degree, count, form, points, weights, knots, rational);
        if (!good)
            return QELI_FAIL;
        bs3_curve bs = bs3_curve_from_ctrlpts(degree, rational ? 1 : 0, form == 1 ? 1 : 0, form >= 2 ? 1 : 0, count,
                                              points.data(), rational ? weights.data() : nullptr, QELresabs,
                                              static_cast<int>(knots.full.size()), knots.full.data(), 1e-10);
        if (!bs)
            return QELI_FAIL;
        out = make_curve(intcurve(bs)); // the intcurve takes the B-spline
        return QELI_OK;
    } catch (const velm_exception&) {
        out = nullptr;
        return QELI_FAIL;
    }
}

QELIResult QELXDefaultGeometryImporter::ConvertPCurve(const QELXIdentifier& id, SURFACE* surface, PCURVE*& out,
                                                     bool sense)
{
    out = nullptr;
    int type = 0;
    if (!m_exporter || !surface || !surface->has_equation() || m_exporter->GetPCurveType(id, type) != QELI_OK ||
        type != 1)
        return QELI_FAIL;
    double scale = 1, offset = 0;
    bool flag = true;
    m_exporter->GetPCurveParameterization(id, scale, offset, flag);
    if (!finite({scale, offset}) || scale == 0.0)
        return QELI_FAIL;
    // Read at -t: the framework parameter -t is canonical -scale t + offset.
    if (!sense)
        scale = -scale;
    try {
        int degree = 0, count = 0, form = 0;
        std::vector<QELposition> points;
        std::vector<double> weights;
        Knots knots;
        bool rational = false;
        // Control points are surface parameters: never scaled.
        const bool good = splineData(
            2, scale, offset, 1.0,
            [&](int& dg, int& n, double*& ctrl, int& nk, double*& kv, int*& mu, double*& w, int& f) {
                return m_exporter->GetNurbsPCurveData(id, dg, n, ctrl, nk, kv, mu, w, f);
            },
            [&](double*& ctrl, double*& kv, int*& mu, double*& w) { m_exporter->DeleteNurbsPCurveData(ctrl, kv, mu, w); },
            degree, count, form, points, weights, knots, rational);
        if (!good)
            return QELI_FAIL;
        // A sphere carried through a mirror has the source's (u, v) at its (u, -v).
        if (surface->equation().type() == 3 && reflects(m_morph))
            for (QELposition& p : points)
                p = QELposition(p.x(), -p.y(), p.z());
        bs2_curve bs = bs2_curve_from_ctrlpts(degree, rational ? 1 : 0, form == 1 ? 1 : 0, form >= 2 ? 1 : 0, count,
                                              points.data(), rational ? weights.data() : nullptr, QELresabs,
                                              static_cast<int>(knots.full.size()), knots.full.data(), 1e-10);
        if (!bs)
            return QELI_FAIL;
        const pcurve definition(bs, 0.0, surface->equation()); // takes the B-spline
        out = VELM_NEW PCURVE(definition);
        return out ? QELI_OK : QELI_FAIL;
    } catch (const velm_exception&) {
        out = nullptr;
        return QELI_FAIL;
    }
}
