#pragma once
// Helpers of the B-spline conversions: the arrays the kernel's *_to_array
// calls hand out, freed on every way out, and the clamped-start test.
#include "qelx/qelx_math.hxx"
#include "velm/math.hxx"

class KernelArrays {
public:
    KernelArrays(QELposition* points, double* weights, double* knots, double* knots2 = nullptr)
        : m_points(points), m_weights(weights), m_knots(knots), m_knots2(knots2)
    {
    }
    KernelArrays(const KernelArrays&) = delete;
    KernelArrays& operator=(const KernelArrays&) = delete;
    ~KernelArrays()
    {
        delete[] m_points;
        delete[] m_weights;
        delete[] m_knots;
        delete[] m_knots2;
    }

private:
    QELposition* m_points;
    double* m_weights;
    double* m_knots;
    double* m_knots2;
};

// The first degree + 1 knots all equal the first one within tol.
inline bool startsClamped(const double* knots, int count, int degree, double tol)
{
    if (!knots || count < degree + 1)
        return false;
    for (int i = 1; i <= degree; ++i)
        if (!Gk_Func::equal(knots[i], knots[0], tol))
            return false;
    return true;
}
