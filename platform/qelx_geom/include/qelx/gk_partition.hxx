#pragma once
// Knot partitions: distinct break values with multiplicities. The expanded
// (full) knot vector of n control points and degree p has n + p + 1 knots.
#include "qelx/gk_maps.hxx"

#include <vector>

struct Gk_BreakPt {
    double value;
    int multiplicity;
};

class Gk_Partition {
public:
    Gk_Partition() = default;
    // From a full knot vector: consecutive knots within knotTol merge into
    // one break point (its value is the first of them) with summed
    // multiplicity.
    Gk_Partition(int degree, const double* knots, int knotCount, bool clampedStart, double knotTol);
    // Multiplicities below 1 are taken as 0.
    Gk_Partition(int degree, const std::vector<Gk_BreakPt>& breaks, bool clampedStart, double knotTol = Gk_Def::FuzzKnot);

    int degree() const { return m_degree; }
    int n_brk() const { return static_cast<int>(m_breaks.size()); }
    double breakValue(int k) const { return m_breaks[k].value; }
    int multiplicity(int k) const { return m_breaks[k].multiplicity; }
    const Gk_BreakPt& breakPoint(int k) const { return m_breaks[k]; }
    bool isClamped() const { return m_clamped; }
    double knotTolerance() const { return m_tol; }
    // Sum of the multiplicities: the length of the full vector.
    int knotCount() const;

    // The full vector. With clamped true an unclamped vector gets its first
    // p + 1 knots set to E[p] and its last p + 1 to E[n]; the count stays
    // n + p + 1 (that changes the curve: hand clamped partitions only).
    std::vector<double> knotList(bool clamped) const;

    // t -> -t, order reversed.
    Gk_Partition reversed() const;
    // Every break b -> map(b); a negative slope reverses the order.
    Gk_Partition& apply(const Gk_LinMap& map);

private:
    int m_degree = 0;
    std::vector<Gk_BreakPt> m_breaks;
    bool m_clamped = false;
    double m_tol = Gk_Def::FuzzKnot;
};
