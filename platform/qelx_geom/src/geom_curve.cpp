#include "qelx/gk_surface.hxx"
#include "qelx/qelx_curve.hxx"
#include "qelx/qelx_errors.hxx"

#include "geom_solve.hxx"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

template <class Curve, class Point, class Derivs>
double newton(const Curve& curve, const Point& p, double t, Derivs* out)
{
    t = gk_solve::curveNewton<Curve, Point, Derivs>(curve, p, t);
    if (out)
        curve.eval(t, out);
    return t;
}

template <class Curve, class Point, class Derivs>
double sampleThenNewton(const Curve& curve, const Point& p, const Gk_Domain& domain, Derivs* out)
{
    double best = 0.0;
    if (domain.isFinite()) {
        constexpr int samples = 64;
        double bestDist = -1.0;
        for (int i = 0; i <= samples; ++i) {
            const double t = domain.low() + domain.length() * i / samples;
            const double dist = curve.eval(t, nullptr).Distance(p);
            if (bestDist < 0.0 || dist < bestDist) {
                bestDist = dist;
                best = t;
            }
        }
    }
    return curve.invertNewton(p, best, out);
}

// Composite 5-point Gauss-Legendre quadrature of |C'| over 32 pieces.
template <class Curve, class Derivs>
double arcLength(const Curve& curve, const Gk_Domain& domain)
{
    static const double x[5] = {0.0, -0.5384693101056831, 0.5384693101056831, -0.9061798459386640, 0.9061798459386640};
    static const double w[5] = {0.5688888888888889, 0.4786286704993665, 0.4786286704993665, 0.2369268850561891,
                                0.2369268850561891};
    constexpr int pieces = 32;
    const double h = domain.length() / pieces;
    double sum = 0.0;
    for (int k = 0; k < pieces; ++k) {
        const double mid = domain.low() + (k + 0.5) * h;
        for (int g = 0; g < 5; ++g) {
            Derivs d(2);
            curve.eval(mid + 0.5 * h * x[g], &d);
            sum += w[g] * 0.5 * h * d[1].Length();
        }
    }
    return sum;
}

template <int Dim, class Curve, class Point, class Box>
QELIResult sampledBox(const Curve& curve, const Gk_Domain& domain, Box& box)
{
    if (!domain.isFinite())
        return QELI_FAIL;
    constexpr int samples = 64;
    Point low = curve.eval(domain.low(), nullptr), high = low;
    for (int i = 1; i <= samples; ++i) {
        const Point p = curve.eval(domain.low() + domain.length() * i / samples, nullptr);
        for (int c = 0; c < Dim; ++c) {
            low[c] = std::min(low[c], p[c]);
            high[c] = std::max(high[c], p[c]);
        }
    }
    return box.Set(low, high);
}

template <class Derivs>
void scaleDerivatives(Derivs* d, double slope)
{
    double f = 1.0;
    for (int k = 1; d && k < d->size(); ++k) {
        f *= slope;
        (*d)[k] = (*d)[k] * f;
    }
}

unsigned long addressWord(const void* object) { return static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(object)); }

Gk_Domain periodicRange(const QELXBSplineDef& def) { return def.isPeriodic() ? def.domain() : Gk_Domain(0, 0.0, 0.0, Gk_Def::FuzzKnot); }

} // namespace

// ---- QELXBaseCurve3D / 2D defaults

bool QELXBaseCurve3D::GetParamScale(double&) const { return false; }

double QELXBaseCurve3D::invertNewton(const QELXPoint3D& p, double guess, QELXCurveDerivatives3D* d) const
{
    return newton(*this, p, guess, d);
}

QELXPoint3D QELXBaseCurve3D::snapToPoint(const QELXPoint3D& p) const
{
    const QELXSnapper3D* snapper = getSnapper();
    return snapper ? snapper->snap(p) : p;
}

double QELXBaseCurve3D::length(const Gk_Domain& domain) const
{
    return arcLength<QELXBaseCurve3D, QELXCurveDerivatives3D>(*this, domain);
}

void QELXBaseCurve3D::apply(const QELXMorph3D&) { Gk_ErrMgr::doAssert("qelx_curve", 1); }

QELIResult QELXBaseCurve3D::GetBoundingBox(const Gk_Domain& domain, QELXBox3D& box) const
{
    return sampledBox<3, QELXBaseCurve3D, QELXPoint3D>(*this, domain, box);
}

QELXBSplineDef3D QELXBaseCurve3D::bspline(double tol, double* achieved) const { return bspline(domain(), tol, achieved); }

QELXBSplineDef3D QELXBaseCurve3D::bspline(const Gk_Domain&, double, double*) const { return QELXBSplineDef3D(); }

void QELXBaseCurve3D::traverse(QELXCurveCallback3D* callback) const
{
    if (callback)
        callback->doDefaultCallback(*this);
}

void QELXBaseCurve3D::dump(QELXStreamFormatter& out) const { out << GetName(); }

double QELXBaseCurve3D::invertBySampling(const QELXPoint3D& p, const Gk_Domain& domain, QELXCurveDerivatives3D* d) const
{
    return sampleThenNewton(*this, p, domain, d);
}

double QELXBaseCurve2D::invertNewton(const QELXPoint2D& p, double guess, QELXCurveDerivatives2D* d) const
{
    return newton(*this, p, guess, d);
}

QELXPoint2D QELXBaseCurve2D::snapToPoint(const QELXPoint2D& p) const
{
    const QELXSnapper2D* snapper = getSnapper();
    return snapper ? snapper->snap(p) : p;
}

double QELXBaseCurve2D::length(const Gk_Domain& domain) const
{
    return arcLength<QELXBaseCurve2D, QELXCurveDerivatives2D>(*this, domain);
}

void QELXBaseCurve2D::apply(const QELXMorph2D&) { Gk_ErrMgr::doAssert("qelx_curve", 2); }

QELIResult QELXBaseCurve2D::GetBoundingBox(const Gk_Domain& domain, QELXBox2D& box) const
{
    return sampledBox<2, QELXBaseCurve2D, QELXPoint2D>(*this, domain, box);
}

QELXBSplineDef2D QELXBaseCurve2D::bspline(const Gk_Domain&, double, double*) const { return QELXBSplineDef2D(); }

void QELXBaseCurve2D::traverse(QELXCurveCallback2D* callback) const
{
    if (callback)
        callback->doDefaultCallback(*this);
}

void QELXBaseCurve2D::dump(QELXStreamFormatter& out) const { out << GetName(); }

double QELXBaseCurve2D::invertBySampling(const QELXPoint2D& p, const Gk_Domain& domain, QELXCurveDerivatives2D* d) const
{
    return sampleThenNewton(*this, p, domain, d);
}

// ---- callbacks

void QELXCurveCallback3D::doDefaultCallback(const QELXBaseCurve3D& curve)
{
    double achieved = 0.0;
    const QELXBSplineDef3D def = curve.bspline(m_domain, m_value, &achieved);
    if (!def.isEmpty())
        doCallback(QELXBSCurveDef3D(def));
}

void QELXCurveCallback2D::doDefaultCallback(const QELXBaseCurve2D& curve)
{
    double achieved = 0.0;
    const QELXBSplineDef2D def = curve.bspline(m_domain, m_value, &achieved);
    if (!def.isEmpty())
        doCallback(QELXBSCurveDef2D(def));
}

// ---- framework curves

QELXCurve3DHandle QELXCurve3D::Create(const QELXBaseCurve3DHandle& base) { return Create(base, Gk_LinMap()); }

QELXCurve3DHandle QELXCurve3D::Create(const QELXBaseCurve3DHandle& base, const Gk_LinMap& map)
{
    QELXCurve3D* curve = new QELXCurve3D(base, map);
    curve->m_word = curve->GetPersistentIdentifier();
    Gk_GeometryTable::enter(curve->m_word, curve);
    return curve;
}

QELXCurve3D::~QELXCurve3D() { Gk_GeometryTable::leave(m_word, this); }

QELXCurve3DHandle QELXCurve3D::Copy() const
{
    return Create(m_base.IsValid() ? m_base->clone() : QELXBaseCurve3DHandle(), m_map);
}

QELXPoint3D QELXCurve3D::eval(double t, QELXCurveDerivatives3D* d) const
{
    const QELXPoint3D p = m_base->eval(m_map(t), d);
    scaleDerivatives(d, m_map.slope());
    return p;
}

double QELXCurve3D::invert(const QELXPoint3D& p, QELXCurveDerivatives3D* d) const
{
    const double t = m_map.inverse()(m_base->invert(p, nullptr));
    if (d)
        eval(t, d);
    return t;
}

Gk_Domain QELXCurve3D::domain() const { return m_base->domain().apply(m_map.inverse()); }

void QELXCurve3D::traverse(QELXCurveCallback3D* callback) const
{
    if (!callback)
        return;
    callback->map() = m_map;
    m_base->traverse(callback);
}

unsigned long QELXCurve3D::GetPersistentIdentifier() const
{
    return m_base.IsValid() ? m_base->GetPersistentIdentifier() : 0;
}

QELXCurve2DHandle QELXCurve2D::Create(const QELXBaseCurve2DHandle& base) { return Create(base, Gk_LinMap()); }

QELXCurve2DHandle QELXCurve2D::Create(const QELXBaseCurve2DHandle& base, const Gk_LinMap& map)
{
    QELXCurve2D* curve = new QELXCurve2D(base, map);
    curve->m_word = curve->GetPersistentIdentifier();
    Gk_GeometryTable::enter(curve->m_word, curve);
    return curve;
}

QELXCurve2D::~QELXCurve2D() { Gk_GeometryTable::leave(m_word, this); }

QELXCurve2DHandle QELXCurve2D::Copy() const
{
    return Create(m_base.IsValid() ? m_base->clone() : QELXBaseCurve2DHandle(), m_map);
}

QELXPoint2D QELXCurve2D::eval(double t, QELXCurveDerivatives2D* d) const
{
    const QELXPoint2D p = m_base->eval(m_map(t), d);
    scaleDerivatives(d, m_map.slope());
    return p;
}

double QELXCurve2D::invert(const QELXPoint2D& p, QELXCurveDerivatives2D* d) const
{
    const double t = m_map.inverse()(m_base->invert(p, nullptr));
    if (d)
        eval(t, d);
    return t;
}

Gk_Domain QELXCurve2D::domain() const { return m_base->domain().apply(m_map.inverse()); }

void QELXCurve2D::traverse(QELXCurveCallback2D* callback) const
{
    if (!callback)
        return;
    callback->map() = m_map;
    m_base->traverse(callback);
}

unsigned long QELXCurve2D::GetPersistentIdentifier() const
{
    return m_base.IsValid() ? m_base->GetPersistentIdentifier() : 0;
}

// ---- base curves over definitions

double QELXLine3D::invert(const QELXPoint3D& p, QELXCurveDerivatives3D* d) const
{
    const double t = m_def.invert(p);
    if (d)
        m_def.eval(t, d);
    return t;
}

void QELXLine3D::traverse(QELXCurveCallback3D* callback) const
{
    if (callback)
        callback->doCallback(m_def);
}

unsigned long QELXLine3D::GetPersistentIdentifier() const { return addressWord(this); }

double QELXEllipse3D::invert(const QELXPoint3D& p, QELXCurveDerivatives3D* d) const
{
    const double t = m_def.invert(p);
    if (d)
        m_def.eval(t, d);
    return t;
}

Gk_Domain QELXEllipse3D::principalRange() const { return Gk_Domain(0.0, 2.0 * Gk_Def::QELXPI); }

void QELXEllipse3D::traverse(QELXCurveCallback3D* callback) const
{
    if (callback)
        callback->doCallback(m_def);
}

unsigned long QELXEllipse3D::GetPersistentIdentifier() const { return addressWord(this); }

double QELXBSplineCurve3D::invert(const QELXPoint3D& p, QELXCurveDerivatives3D* d) const
{
    return invertBySampling(p, m_def.domain(), d);
}

Gk_Domain QELXBSplineCurve3D::principalRange() const { return periodicRange(m_def); }

QELXBSplineDef3D QELXBSplineCurve3D::bspline(const Gk_Domain&, double, double* achieved) const
{
    if (achieved)
        *achieved = 0.0;
    return m_def;
}

void QELXBSplineCurve3D::traverse(QELXCurveCallback3D* callback) const
{
    if (callback)
        callback->doCallback(QELXBSCurveDef3D(m_def));
}

unsigned long QELXBSplineCurve3D::GetPersistentIdentifier() const { return addressWord(this); }

double QELXBSplineCurve2D::invert(const QELXPoint2D& p, QELXCurveDerivatives2D* d) const
{
    return invertBySampling(p, m_def.domain(), d);
}

Gk_Domain QELXBSplineCurve2D::principalRange() const { return periodicRange(m_def); }

QELXBSplineDef2D QELXBSplineCurve2D::bspline(const Gk_Domain&, double, double* achieved) const
{
    if (achieved)
        *achieved = 0.0;
    return m_def;
}

void QELXBSplineCurve2D::traverse(QELXCurveCallback2D* callback) const
{
    if (callback)
        callback->doCallback(QELXBSCurveDef2D(m_def));
}

unsigned long QELXBSplineCurve2D::GetPersistentIdentifier() const { return addressWord(this); }
