#include "qelx/gk_curve_defs.hxx"

#include "geom_solve.hxx"

#include <cmath>

QELXPoint3D QELXLineDef3D::eval(double t, QELXCurveDerivatives3D* d) const
{
    const QELXPoint3D p = m_point + m_vector * t;
    if (d) {
        (*d)[0] = p;
        for (int k = 1; k < d->size(); ++k)
            (*d)[k] = k == 1 ? m_vector : QELXPoint3D();
    }
    return p;
}

double QELXLineDef3D::invert(const QELXPoint3D& p) const
{
    const double speed2 = m_vector * m_vector;
    return speed2 > 0.0 ? ((p - m_point) * m_vector) / speed2 : 0.0;
}

void QELXLineDef3D::Transform(const QELXMorph3D& morph)
{
    m_point.Transform(morph, false);
    m_vector.Transform(morph, true);
}

double QELXEllipseDef3D::radiusRatio() const
{
    const double a = m_major.Length();
    return a > 0.0 ? m_minor.Length() / a : 0.0;
}

QELXPoint3D QELXEllipseDef3D::normal() const
{
    QELXPoint3D n = QELXPoint3D::VectorProduct(m_major, m_minor);
    n.Normalize();
    return n;
}

QELXPoint3D QELXEllipseDef3D::eval(double t, QELXCurveDerivatives3D* d) const
{
    // The k-th derivative of cos t is cos(t + k pi/2), of sin t sin(t + k pi/2).
    const int n = d ? d->size() : 1;
    QELXPoint3D p;
    for (int k = 0; k < n; ++k) {
        const double s = t + k * Gk_Def::QELXPI / 2.0;
        const QELXPoint3D dk = m_major * std::cos(s) + m_minor * std::sin(s) + (k == 0 ? m_centre : QELXPoint3D());
        if (k == 0)
            p = dk;
        if (d)
            (*d)[k] = dk;
    }
    return p;
}

double QELXEllipseDef3D::invert(const QELXPoint3D& p) const
{
    const double a2 = m_major * m_major, b2 = m_minor * m_minor;
    if (a2 <= 0.0 || b2 <= 0.0)
        return 0.0;
    const QELXPoint3D q = p - m_centre;
    // Exact for a circle; a start for Newton on an ellipse.
    double t = std::atan2((q * m_minor) / b2, (q * m_major) / a2);
    t = gk_solve::curveNewton<QELXEllipseDef3D, QELXPoint3D, QELXCurveDerivatives3D>(*this, p, t, 30);
    const double twoPi = 2.0 * Gk_Def::QELXPI;
    t = std::fmod(t, twoPi);
    return t < 0.0 ? t + twoPi : t;
}

void QELXEllipseDef3D::Transform(const QELXMorph3D& morph)
{
    m_centre.Transform(morph, false);
    m_major.Transform(morph, true);
    m_minor.Transform(morph, true);
}
