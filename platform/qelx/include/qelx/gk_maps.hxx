#pragma once
// Parameter maps, domains and spans.
#include "qelx/qelx_math.hxx"

// t -> slope * t + abscissa. Constructors and operations keep the flags
// true to the slope: negated <=> slope < 0, first <=> |slope| == 1 (unit
// speed). The setters write one part each and leave the rest alone.
class Gk_LinMap {
public:
    Gk_LinMap(double slope = 1.0, double abscissa = 0.0);

    double slope() const { return m_slope; }
    double abscissa() const { return m_abscissa; }
    void setSlope(double slope) { m_slope = slope; }
    void setAbscissa(double abscissa) { m_abscissa = abscissa; }
    bool isFirst() const { return m_first; }
    void setFirst(bool first) { m_first = first; }
    bool isNegated() const { return m_negated; }
    void setNegated(bool negated) { m_negated = negated; }
    bool isIdentity() const { return m_slope == 1.0 && m_abscissa == 0.0; }

    Gk_LinMap inverse() const;
    Gk_LinMap& negate();
    // this := next o this (this applied first).
    Gk_LinMap& compose(const Gk_LinMap& next);
    double operator()(double t) const { return m_slope * t + m_abscissa; }

private:
    void updateFlags();

    double m_slope;
    double m_abscissa;
    bool m_first = true;
    bool m_negated = false;
};

// (a, b, c): t -> a*b*t + c; b is the direction sign.
class Gk_LinMapExt {
public:
    Gk_LinMapExt(double a = 1.0, double b = 1.0, double c = 0.0) : m_a(a), m_b(b), m_c(c) {}
    double a() const { return m_a; }
    double b() const { return m_b; }
    double c() const { return m_c; }
    Gk_LinMap getUMap() const { return Gk_LinMap(m_a * m_b, m_c); }

private:
    double m_a, m_b, m_c;
};

// M(u, v) = cross ? (mu(v), mv(u)) : (mu(u), mv(v)); mu makes the output u.
class Gk_BiLinMap {
public:
    Gk_BiLinMap() = default;
    Gk_BiLinMap(const Gk_LinMap& u, const Gk_LinMap& v, bool cross) : m_u(u), m_v(v), m_cross(cross) {}
    Gk_BiLinMap(const Gk_LinMapExt& u, const Gk_LinMapExt& v) : m_u(u.getUMap()), m_v(v.getUMap()) {}

    // before false: this := other o this (this first); true: this := this o other.
    Gk_BiLinMap& compose(const Gk_BiLinMap& other, bool before);
    Gk_BiLinMap inverse() const;
    bool isCross() const { return m_cross; }
    // Positive Jacobian. Uncrossed: forward unless exactly one direction is
    // reversed. Crossed: the swap alone turns the frame, so a crossed map is
    // forward with exactly one reversal ((u, v) -> (v, -u)), not with none or two.
    bool isForward() const;
    bool isIdentity() const { return !m_cross && m_u.isIdentity() && m_v.isIdentity(); }
    QELXPoint2D apply(const QELXPoint2D& p) const;
    const Gk_LinMap& getLinUMap() const { return m_u; }
    const Gk_LinMap& getLinVMap() const { return m_v; }
    Gk_LinMapExt getUPart() const;
    Gk_LinMapExt getVPart() const;

private:
    Gk_LinMap m_u, m_v;
    bool m_cross = false;
};

// Interval with end condition bits: 1 = low end bounded, 2 = high end bounded.
class Gk_Domain {
public:
    enum { LowBounded = 1, HighBounded = 2, Finite = 3 };

    Gk_Domain() = default;
    Gk_Domain(int endCondition, double low, double high, double fuzz)
        : m_low(low), m_high(high), m_condition(endCondition), m_fuzz(fuzz) {}
    Gk_Domain(double low, double high, double fuzz = Gk_Def::FuzzKnot)
        : m_low(low), m_high(high), m_condition(Finite), m_fuzz(fuzz) {}
    Gk_Domain(double low, double high, double fuzz, bool boundedLow, bool boundedHigh)
        : m_low(low), m_high(high), m_condition((boundedLow ? LowBounded : 0) | (boundedHigh ? HighBounded : 0)),
          m_fuzz(fuzz) {}

    double low() const { return m_low; }
    double high() const { return m_high; }
    int endCondition() const { return m_condition; }
    double fuzz() const { return m_fuzz; }
    bool isFinite() const { return m_condition == Finite; }
    bool isLowBounded() const { return (m_condition & LowBounded) != 0; }
    bool isHighBounded() const { return (m_condition & HighBounded) != 0; }
    double length() const { return m_high - m_low; }

    // [a, b] -> [-b, -a], bound bits swapped.
    Gk_Domain operator-() const;
    // Image under the map; ends and bound bits swap for a negative slope.
    Gk_Domain& apply(const Gk_LinMap& map);
    // other lies in this, within this fuzz; an unbounded end of this holds
    // anything, a bounded end holds no unbounded end of other.
    bool isContained(const Gk_Domain& other) const;
    bool isInside(const Gk_Domain& other) const { return isContained(other); }
    bool isInside(double x) const;
    // Same end condition and both bounded ends within tol (tol < 0: own fuzz).
    bool isSame(const Gk_Domain& other, double tol) const;
    // x shifted by whole lengths into [low, low + length); x itself when the
    // domain is shorter than its fuzz.
    double principalParam(double x) const;
    double locate(double fraction) const { return m_low + fraction * length(); }

private:
    double m_low = 0.0;
    double m_high = 0.0;
    int m_condition = 0;
    double m_fuzz = Gk_Def::FuzzKnot;
};

class Gk_Span {
public:
    Gk_Span() = default;
    Gk_Span(const Gk_Domain& u, const Gk_Domain& v) : m_u(u), m_v(v) {}
    Gk_Domain& u() { return m_u; }
    const Gk_Domain& u() const { return m_u; }
    Gk_Domain& v() { return m_v; }
    const Gk_Domain& v() const { return m_v; }
    // Image box under the map; the domains swap for a crossed map.
    Gk_Span& apply(const Gk_BiLinMap& map);
    void GetDoubles(double uPair[2], double vPair[2]) const;

private:
    Gk_Domain m_u, m_v;
};
