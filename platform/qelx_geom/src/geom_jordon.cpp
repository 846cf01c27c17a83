#include "qelx/gk_jordon.hxx"

#include <algorithm>
#include <cmath>

QELXPoint3D Gk_Jordon::frame(double t) const
{
    return m_curve.get() ? m_curve->eval(t, nullptr) : QELXPoint3D(0.0, 0.0, 0.0);
}

QELXPoint3D Gk_Jordon::nearest(const QELXPoint3D& p) const
{
    if (!m_curve.get())
        return p;
    if (!m_domain.isFinite()) {
        const double t = m_curve->invert(p, nullptr);
        return std::isfinite(t) ? m_curve->eval(t, nullptr) : p;
    }
    // Enough samples that the best lies in the right valley for the
    // curve's inversion to finish.
    constexpr int kSamples = 32;
    double bestT = m_domain.low();
    double best = m_curve->eval(bestT, nullptr).Distance(p);
    for (int i = 1; i <= kSamples; ++i) {
        const double t = m_domain.locate(static_cast<double>(i) / kSamples);
        const double d = m_curve->eval(t, nullptr).Distance(p);
        if (d < best) {
            best = d;
            bestT = t;
        }
    }
    QELXPoint3D answer = m_curve->eval(bestT, nullptr);
    const double t = m_curve->invert(p, nullptr);
    if (std::isfinite(t) && t >= m_domain.low() - m_domain.fuzz() && t <= m_domain.high() + m_domain.fuzz()) {
        const QELXPoint3D q = m_curve->eval(std::clamp(t, m_domain.low(), m_domain.high()), nullptr);
        if (q.Distance(p) < best)
            answer = q;
    }
    return answer;
}
