#pragma once
// What Open CASCADE's B-spline constructors check, checked before they are
// called: they throw only after allocating, and what they allocated is lost
// (a damaged file's spline would leak at every conversion that met it).
#include <TColStd_Array1OfInteger.hxx>
#include <TColStd_Array1OfReal.hxx>
#include <Standard_Real.hxx>

#include <cmath>
#include <cstddef>

namespace qelx_formats {

// Null when Open CASCADE takes a spline (not periodic) of `degree`, at most
// `maxDegree`, over `poles` control points with these knots and
// multiplicities; else what it would refuse. The knots must rise by more
// than a rounding of their size, as its constructors ask.
inline const char* splineFault(int degree, int maxDegree, int poles, const TColStd_Array1OfReal& knots,
                               const TColStd_Array1OfInteger& mults)
{
    if (degree < 1 || degree > maxDegree)
        return "a degree out of range";
    if (poles < 2)
        return "fewer than two control points";
    if (knots.Length() < 2 || knots.Length() != mults.Length())
        return "knots and multiplicities that do not pair";
    for (int i = knots.Lower(); i <= knots.Upper(); ++i)
        if (!std::isfinite(knots(i)))
            return "a knot that is not finite";
    for (int i = knots.Lower(); i < knots.Upper(); ++i)
        if (!(knots(i + 1) - knots(i) > Epsilon(std::abs(knots(i)))))
            return "knots that do not rise";
    long sum = 0;
    for (int i = mults.Lower(); i <= mults.Upper(); ++i) {
        const bool end = i == mults.Lower() || i == mults.Upper();
        if (mults(i) < 1 || mults(i) > degree + (end ? 1 : 0))
            return "a multiplicity out of range";
        sum += mults(i);
    }
    if (sum - degree - 1 != poles)
        return "a count of control points that does not match its knots";
    return nullptr;
}

// Null when every value is finite and every weight positive, as the
// constructors (and everything after them) need.
inline const char* valuesFault(const double* values, std::size_t count, const double* weights, std::size_t weightCount)
{
    for (std::size_t i = 0; i < count; ++i)
        if (!std::isfinite(values[i]))
            return "a control point that is not finite";
    for (std::size_t i = 0; i < weightCount; ++i)
        if (!std::isfinite(weights[i]) || !(weights[i] > 1e-300))
            return "a weight that is not positive";
    return nullptr;
}

} // namespace qelx_formats
