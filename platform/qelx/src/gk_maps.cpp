#include "qelx/gk_maps.hxx"

#include <cmath>
#include <utility>

Gk_LinMap::Gk_LinMap(double slope, double abscissa) : m_slope(slope), m_abscissa(abscissa) { updateFlags(); }

void Gk_LinMap::updateFlags()
{
    m_negated = m_slope < 0.0;
    m_first = Gk_Func::equal(std::fabs(m_slope), 1.0, Gk_Def::FuzzReal);
}

Gk_LinMap Gk_LinMap::inverse() const { return Gk_LinMap(1.0 / m_slope, -m_abscissa / m_slope); }

Gk_LinMap& Gk_LinMap::negate()
{
    m_slope = -m_slope;
    m_abscissa = -m_abscissa;
    updateFlags();
    return *this;
}

Gk_LinMap& Gk_LinMap::compose(const Gk_LinMap& next)
{
    m_abscissa = next.m_slope * m_abscissa + next.m_abscissa;
    m_slope *= next.m_slope;
    updateFlags();
    return *this;
}

Gk_BiLinMap& Gk_BiLinMap::compose(const Gk_BiLinMap& other, bool before)
{
    if (before) {
        Gk_BiLinMap result = other;
        result.compose(*this, false);
        return *this = result;
    }
    // other o this: a crossed other reads the output v of this as its input u.
    Gk_LinMap u = other.m_cross ? m_v : m_u;
    Gk_LinMap v = other.m_cross ? m_u : m_v;
    m_u = u.compose(other.m_u);
    m_v = v.compose(other.m_v);
    m_cross = m_cross != other.m_cross;
    return *this;
}

Gk_BiLinMap Gk_BiLinMap::inverse() const
{
    // Crossed: (U, V) = (mu(v), mv(u)) gives u = mv^-1(V), v = mu^-1(U).
    if (m_cross)
        return Gk_BiLinMap(m_v.inverse(), m_u.inverse(), true);
    return Gk_BiLinMap(m_u.inverse(), m_v.inverse(), false);
}

bool Gk_BiLinMap::isForward() const
{
    const double product = m_u.slope() * m_v.slope();
    return m_cross ? product < 0.0 : product > 0.0;
}

QELXPoint2D Gk_BiLinMap::apply(const QELXPoint2D& p) const
{
    return m_cross ? QELXPoint2D(m_u(p[1]), m_v(p[0])) : QELXPoint2D(m_u(p[0]), m_v(p[1]));
}

namespace {
Gk_LinMapExt toExt(const Gk_LinMap& m)
{
    return Gk_LinMapExt(std::fabs(m.slope()), m.slope() < 0.0 ? -1.0 : 1.0, m.abscissa());
}
} // namespace

Gk_LinMapExt Gk_BiLinMap::getUPart() const { return toExt(m_u); }
Gk_LinMapExt Gk_BiLinMap::getVPart() const { return toExt(m_v); }

namespace {
int swapBounds(int condition)
{
    return ((condition & Gk_Domain::LowBounded) ? Gk_Domain::HighBounded : 0) |
           ((condition & Gk_Domain::HighBounded) ? Gk_Domain::LowBounded : 0);
}
} // namespace

Gk_Domain Gk_Domain::operator-() const { return Gk_Domain(swapBounds(m_condition), -m_high, -m_low, m_fuzz); }

Gk_Domain& Gk_Domain::apply(const Gk_LinMap& map)
{
    double low = map(m_low);
    double high = map(m_high);
    if (map.slope() < 0.0) {
        std::swap(low, high);
        m_condition = swapBounds(m_condition);
    }
    m_low = low;
    m_high = high;
    return *this;
}

bool Gk_Domain::isContained(const Gk_Domain& other) const
{
    if (isLowBounded() && (!other.isLowBounded() || other.m_low < m_low - m_fuzz))
        return false;
    if (isHighBounded() && (!other.isHighBounded() || other.m_high > m_high + m_fuzz))
        return false;
    return true;
}

bool Gk_Domain::isInside(double x) const
{
    if (isLowBounded() && x < m_low - m_fuzz)
        return false;
    if (isHighBounded() && x > m_high + m_fuzz)
        return false;
    return true;
}

bool Gk_Domain::isSame(const Gk_Domain& other, double tol) const
{
    if (tol < 0.0)
        tol = m_fuzz;
    if (m_condition != other.m_condition)
        return false;
    if (isLowBounded() && !Gk_Func::equal(m_low, other.m_low, tol))
        return false;
    if (isHighBounded() && !Gk_Func::equal(m_high, other.m_high, tol))
        return false;
    return true;
}

double Gk_Domain::principalParam(double x) const
{
    const double period = length();
    if (period <= m_fuzz)
        return x;
    double reduced = x - std::floor((x - m_low) / period) * period;
    // Rounding can land on the open end.
    if (reduced >= m_low + period)
        reduced -= period;
    return reduced;
}

Gk_Span& Gk_Span::apply(const Gk_BiLinMap& map)
{
    Gk_Domain u = map.isCross() ? m_v : m_u;
    Gk_Domain v = map.isCross() ? m_u : m_v;
    m_u = u.apply(map.getLinUMap());
    m_v = v.apply(map.getLinVMap());
    return *this;
}

void Gk_Span::GetDoubles(double uPair[2], double vPair[2]) const
{
    uPair[0] = m_u.low();
    uPair[1] = m_u.high();
    vPair[0] = m_v.low();
    vPair[1] = m_v.high();
}
