#include "qelx/gk_surface.hxx"

#include "geom_solve.hxx"

#include <cmath>

namespace {

using gk_solve::kTwoPi;

// k-th derivatives of cos and sin.
double cosk(double x, int k) { return std::cos(x + k * Gk_Def::QELXPI / 2.0); }
double sink(double x, int k) { return std::sin(x + k * Gk_Def::QELXPI / 2.0); }

QELXPoint3D unit(QELXPoint3D v)
{
    v.Normalize();
    return v;
}

// Fills every derivative of the flat from term(i, j) (the (0,0) term is the
// point) and returns the point.
template <class Term>
QELXPoint3D fill(Gk_Flat3* flat, const Term& term)
{
    if (flat)
        flat->setNormalFlipped(false);
    for (int i = 0; flat && i < flat->size(); ++i)
        for (int j = 0; j < flat->size(); ++j)
            flat->derivative(i, j) = term(i, j);
    return flat ? flat->derivative(0, 0) : term(0, 0);
}

template <class Def>
auto evaluator(const Def& def)
{
    return [&def](const QELXPoint2D& uv, Gk_Flat3* f) { return def.eval(uv, f); };
}

double wrapAngle(double a) { return a < 0.0 ? a + kTwoPi : a; }

} // namespace

QELXPoint3D Gk_SurfaceDef3::normal(const QELXPoint2D& uv) const
{
    Gk_Flat3 flat(2);
    evalAny(uv, &flat);
    return flat.normal();
}

// ---- plane

QELXPoint3D Gk_Plane3Def::eval(const QELXPoint2D& uv, Gk_Flat3* flat) const
{
    return fill(flat, [&](int i, int j) {
        if (i == 0 && j == 0)
            return m_origin + m_u * uv[0] + m_v * uv[1];
        if (i + j == 1)
            return i == 1 ? m_u : m_v;
        return QELXPoint3D();
    });
}

QELXPoint2D Gk_Plane3Def::invert(const QELXPoint3D& p) const
{
    // Least squares through the Gram matrix: U and V need not be orthogonal.
    const QELXPoint3D q = p - m_origin;
    const double a = m_u * m_u, b = m_u * m_v, c = m_v * m_v, det = a * c - b * b;
    if (det <= 0.0)
        return QELXPoint2D();
    const double qu = q * m_u, qv = q * m_v;
    return QELXPoint2D((c * qu - b * qv) / det, (a * qv - b * qu) / det);
}

void Gk_Plane3Def::Transform(const QELXMorph3D& morph)
{
    m_origin.Transform(morph, false);
    m_u.Transform(morph, true);
    m_v.Transform(morph, true);
}

// ---- cone

double Gk_Cone3Def::slantSpeed() const { return m_uScale != 0.0 ? m_uScale : m_base.major().Length(); }

QELXPoint3D Gk_Cone3Def::eval(const QELXPoint2D& uv, Gk_Flat3* flat) const
{
    const QELXPoint3D& A = m_base.major();
    const QELXPoint3D& B = m_base.minor();
    const double sigma = slantSpeed(), lenA = A.Length();
    const double a = lenA > 0.0 ? m_sine * sigma / lenA : 0.0, b = m_cosine * sigma;
    const QELXPoint3D N = m_base.normal();
    const double u = uv[0], v = uv[1];
    auto R = [&](int j) { return A * cosk(v, j) + B * sink(v, j); };
    return fill(flat, [&](int i, int j) {
        if (i == 0)
            return j == 0 ? m_base.centre() + R(0) * (1.0 + a * u) - N * (b * u) : R(j) * (1.0 + a * u);
        if (i == 1)
            return j == 0 ? R(0) * a - N * b : R(j) * a;
        return QELXPoint3D();
    });
}

QELXPoint2D Gk_Cone3Def::invert(const QELXPoint3D& p) const
{
    const QELXPoint3D& A = m_base.major();
    const QELXPoint3D& B = m_base.minor();
    const QELXPoint3D N = m_base.normal();
    const QELXPoint3D q = p - m_base.centre();
    const double a2 = A * A, b2 = B * B, sigma = slantSpeed();
    const double v = wrapAngle(std::atan2(b2 > 0.0 ? (q * B) / b2 : 0.0, a2 > 0.0 ? (q * A) / a2 : 0.0));
    double u = 0.0;
    if (m_cosine > Gk_Def::FuzzReal && sigma > 0.0) {
        u = -(q * N) / (m_cosine * sigma);
    } else if (m_sine > Gk_Def::FuzzReal && sigma > 0.0 && a2 > 0.0) {
        const QELXPoint3D radial = q - N * (q * N);
        u = (radial.Length() / std::sqrt(a2) - 1.0) * std::sqrt(a2) / (m_sine * sigma);
    }
    return gk_solve::newton(evaluator(*this), p, QELXPoint2D(u, v));
}

// ---- ellipsoid

bool Gk_Ellipsoid3Def::isSphere() const
{
    const double r = m_axes[0].Length();
    return std::fabs(m_axes[1].Length() - r) <= Gk_Def::FuzzPos && std::fabs(m_axes[2].Length() - r) <= Gk_Def::FuzzPos;
}

QELXPoint3D Gk_Ellipsoid3Def::eval(const QELXPoint2D& uv, Gk_Flat3* flat) const
{
    const QELXPoint3D &X = m_axes[0], &Y = m_axes[1], &Z = m_axes[2];
    const double u = uv[0], v = uv[1];
    return fill(flat, [&](int i, int j) {
        QELXPoint3D d = (X * cosk(u, i) - Y * sink(u, i)) * cosk(v, j);
        if (i == 0)
            d -= Z * sink(v, j);
        if (i == 0 && j == 0)
            d += m_centre;
        return d;
    });
}

QELXPoint2D Gk_Ellipsoid3Def::invert(const QELXPoint3D& p) const
{
    const QELXPoint3D q = p - m_centre;
    auto coord = [&](const QELXPoint3D& axis) {
        const double l2 = axis * axis;
        return l2 > 0.0 ? (q * axis) / l2 : 0.0;
    };
    const double x = coord(m_axes[0]), y = coord(m_axes[1]), z = coord(m_axes[2]);
    const QELXPoint2D seed(wrapAngle(std::atan2(-y, x)), std::atan2(-z, std::hypot(x, y)));
    return gk_solve::newton(evaluator(*this), p, seed);
}

void Gk_Ellipsoid3Def::Transform(const QELXMorph3D& morph)
{
    m_centre.Transform(morph, false);
    for (QELXPoint3D& axis : m_axes)
        axis.Transform(morph, true);
}

// ---- torus

double Gk_Torus3Def::majorRadius() const { return m_positiveMajor ? m_major.Length() : -m_major.Length(); }

QELXPoint3D Gk_Torus3Def::eval(const QELXPoint2D& uv, Gk_Flat3* flat) const
{
    const QELXPoint3D O = unit(m_major), N = unit(m_normal);
    const QELXPoint3D W = QELXPoint3D::VectorProduct(O, N);
    const double R = majorRadius(), r = m_minor, u = uv[0], v = uv[1];
    auto D = [&](int j) { return O * cosk(v, j) + W * sink(v, j); };
    return fill(flat, [&](int i, int j) {
        QELXPoint3D d = D(j) * (r * cosk(u, i));
        if (i == 0)
            d += D(j) * R;
        if (j == 0)
            d += N * (r * sink(u, i));
        if (i == 0 && j == 0)
            d += m_centre;
        return d;
    });
}

QELXPoint2D Gk_Torus3Def::invert(const QELXPoint3D& p) const
{
    const QELXPoint3D O = unit(m_major), N = unit(m_normal);
    const QELXPoint3D W = QELXPoint3D::VectorProduct(O, N);
    const QELXPoint3D q = p - m_centre;
    const double v = wrapAngle(std::atan2(q * W, q * O));
    const QELXPoint3D D = O * std::cos(v) + W * std::sin(v);
    const double u = wrapAngle(std::atan2(q * N, q * D - majorRadius()));
    return gk_solve::newton(evaluator(*this), p, QELXPoint2D(u, v));
}

void Gk_Torus3Def::Transform(const QELXMorph3D& morph)
{
    m_centre.Transform(morph, false);
    m_normal.Transform(morph, true);
    m_major.Transform(morph, true);
    m_minor *= morph.scaleFactor();
}

// ---- surface of revolution

Gk_SpunSurface3Def::Gk_SpunSurface3Def(const QELXCurve3DHandle& profile, const QELXPoint3D& axisPoint,
                                       const QELXPoint3D& axisDirection, const Gk_Domain& domain)
    : Gk_SurfaceDef3(profile.IsValid()), m_profile(profile), m_point(axisPoint), m_direction(axisDirection),
      m_domain(domain)
{
}

Gk_SpunSurface3Def::Gk_SpunSurface3Def(const QELXBaseCurve3DHandle& profile, const QELXPoint3D& axisPoint,
                                       const QELXPoint3D& axisDirection, const Gk_Domain& domain)
    : Gk_SpunSurface3Def(profile.IsValid() ? QELXCurve3D::Create(profile) : QELXCurve3DHandle(), axisPoint,
                         axisDirection, domain)
{
}

QELXPoint3D Gk_SpunSurface3Def::eval(const QELXPoint2D& uv, Gk_Flat3* flat) const
{
    if (isEmpty())
        return QELXPoint3D();
    const int size = flat ? flat->size() : 1;
    QELXCurveDerivatives3D c(size);
    m_profile->eval(uv[0], &c);
    const QELXPoint3D d = unit(m_direction);
    const double v = uv[1];
    return fill(flat, [&](int i, int j) {
        // Rotation of q = c^(i) - [i == 0] P about d by the angle v, derived j times.
        const QELXPoint3D q = i == 0 ? c[0] - m_point : c[i];
        const QELXPoint3D along = d * (q * d);
        QELXPoint3D r = (q - along) * cosk(v, j) + QELXPoint3D::VectorProduct(d, q) * sink(v, j);
        if (j == 0)
            r += along;
        if (i == 0 && j == 0)
            r += m_point;
        return r;
    });
}

QELXPoint2D Gk_SpunSurface3Def::invert(const QELXPoint3D& p) const
{
    const Gk_Domain u = m_domain.isFinite() ? m_domain : m_profile->domain();
    return gk_solve::sampled(evaluator(*this), p, Gk_Span(u, Gk_Domain(0.0, kTwoPi)));
}

// ---- swept surface

QELXPoint3D Gk_SweptSurface3Def::eval(const QELXPoint2D& uv, Gk_Flat3* flat) const
{
    if (isEmpty())
        return QELXPoint3D();
    QELXCurveDerivatives3D c(flat ? flat->size() : 1);
    m_profile->eval(uv[0], &c);
    return fill(flat, [&](int i, int j) {
        if (j == 0)
            return i == 0 ? c[0] + m_direction * uv[1] : c[i];
        return i == 0 && j == 1 ? m_direction : QELXPoint3D();
    });
}

QELXPoint2D Gk_SweptSurface3Def::invert(const QELXPoint3D& p) const
{
    if (isEmpty())
        return QELXPoint2D();
    // The profile's foot point of p taken along the direction, then Newton.
    const double l2 = m_direction * m_direction;
    const double t = m_profile->invert(p, nullptr);
    const double v = l2 > 0.0 ? ((p - m_profile->eval(t, nullptr)) * m_direction) / l2 : 0.0;
    return gk_solve::newton(evaluator(*this), p, QELXPoint2D(t, v));
}

// ---- offset surface

Gk_OffsetSurface3Def::Gk_OffsetSurface3Def(const Gk_Surface3Handle& base, double d)
    : Gk_SurfaceDef3(base.IsValid()), m_base(base), m_distance(d)
{
}

Gk_OffsetSurface3Def::Gk_OffsetSurface3Def(const Gk_BaseSurface3Handle& base, double d)
    : Gk_OffsetSurface3Def(base.IsValid() ? Gk_Surface3::Create(base, true, Gk_BiLinMap()) : Gk_Surface3Handle(), d)
{
}

void Gk_OffsetSurface3Def::firstOrder(const QELXPoint2D& uv, QELXPoint3D& s, QELXPoint3D& su, QELXPoint3D& sv) const
{
    Gk_Flat3 f(3);
    m_base->eval(uv, &f);
    const QELXPoint3D n = QELXPoint3D::VectorProduct(f.derivative(1, 0), f.derivative(0, 1));
    const double len = n.Length();
    s = f.derivative(0, 0);
    su = f.derivative(1, 0);
    sv = f.derivative(0, 1);
    if (len <= 0.0)
        return;
    const double sign = f.isNormalFlipped() ? -1.0 : 1.0;
    const QELXPoint3D m = n / len;
    // d(n/|n|) = (dn - (dn.m) m) / |n|.
    const QELXPoint3D nu = QELXPoint3D::VectorProduct(f.derivative(2, 0), f.derivative(0, 1)) +
                           QELXPoint3D::VectorProduct(f.derivative(1, 0), f.derivative(1, 1));
    const QELXPoint3D nv = QELXPoint3D::VectorProduct(f.derivative(1, 1), f.derivative(0, 1)) +
                           QELXPoint3D::VectorProduct(f.derivative(1, 0), f.derivative(0, 2));
    const double k = sign * m_distance / len;
    s += m * (sign * m_distance);
    su += (nu - m * (nu * m)) * k;
    sv += (nv - m * (nv * m)) * k;
}

QELXPoint3D Gk_OffsetSurface3Def::eval(const QELXPoint2D& uv, Gk_Flat3* flat) const
{
    if (isEmpty())
        return QELXPoint3D();
    QELXPoint3D s, su, sv;
    firstOrder(uv, s, su, sv);
    if (!flat)
        return s;
    constexpr double h = 1e-5;
    QELXPoint3D up[2], um[2], vp[2], vm[2], x;
    if (flat->size() > 1) {
        firstOrder(QELXPoint2D(uv[0] + h, uv[1]), x, up[0], up[1]);
        firstOrder(QELXPoint2D(uv[0] - h, uv[1]), x, um[0], um[1]);
        firstOrder(QELXPoint2D(uv[0], uv[1] + h), x, vp[0], vp[1]);
        firstOrder(QELXPoint2D(uv[0], uv[1] - h), x, vm[0], vm[1]);
    }
    return fill(flat, [&](int i, int j) {
        if (i + j == 0)
            return s;
        if (i + j == 1)
            return i == 1 ? su : sv;
        if (i + j == 2)
            return i == 2 ? (up[0] - um[0]) / (2 * h) : j == 2 ? (vp[1] - vm[1]) / (2 * h) : (vp[0] - vm[0]) / (2 * h);
        return QELXPoint3D();
    });
}

QELXPoint2D Gk_OffsetSurface3Def::invert(const QELXPoint3D& p) const
{
    if (isEmpty())
        return QELXPoint2D();
    return gk_solve::newton(evaluator(*this), p, m_base->invert(p, nullptr));
}

// ---- B-spline surface

QELXPoint2D Gk_BSSurface3Def::invert(const QELXPoint3D& p) const
{
    return gk_solve::sampled(evaluator(*this), p, m_net.span());
}
