#include "qelx/gk_partition.hxx"

#include <algorithm>
#include <cmath>

Gk_Partition::Gk_Partition(int degree, const double* knots, int knotCount, bool clampedStart, double knotTol)
    : m_degree(degree), m_clamped(clampedStart), m_tol(knotTol)
{
    for (int i = 0; i < knotCount; ++i) {
        if (!m_breaks.empty() && std::fabs(knots[i] - m_breaks.back().value) <= knotTol)
            ++m_breaks.back().multiplicity;
        else
            m_breaks.push_back({knots[i], 1});
    }
}

Gk_Partition::Gk_Partition(int degree, const std::vector<Gk_BreakPt>& breaks, bool clampedStart, double knotTol)
    : m_degree(degree), m_breaks(breaks), m_clamped(clampedStart), m_tol(knotTol)
{
    // Foreign multiplicities below 1 count as 0: the expanded vector never
    // gets a negative length, and a count check then finds the fault.
    for (Gk_BreakPt& b : m_breaks)
        b.multiplicity = std::max(b.multiplicity, 0);
}

int Gk_Partition::knotCount() const
{
    int count = 0;
    for (const Gk_BreakPt& b : m_breaks)
        count += b.multiplicity;
    return count;
}

std::vector<double> Gk_Partition::knotList(bool clamped) const
{
    std::vector<double> knots;
    knots.reserve(knotCount());
    for (const Gk_BreakPt& b : m_breaks)
        knots.insert(knots.end(), b.multiplicity, b.value);
    const int p = m_degree;
    const int n = static_cast<int>(knots.size()) - p - 1;
    if (clamped && !m_clamped && n > p) {
        std::fill(knots.begin(), knots.begin() + p + 1, knots[p]);
        std::fill(knots.begin() + n, knots.end(), knots[n]);
    }
    return knots;
}

Gk_Partition Gk_Partition::reversed() const
{
    Gk_Partition r(*this);
    r.apply(Gk_LinMap(-1.0, 0.0));
    return r;
}

Gk_Partition& Gk_Partition::apply(const Gk_LinMap& map)
{
    for (Gk_BreakPt& b : m_breaks)
        b.value = map(b.value);
    if (map.slope() < 0.0)
        std::reverse(m_breaks.begin(), m_breaks.end());
    return *this;
}
