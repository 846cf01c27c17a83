#pragma once
// How far from the origin a point of a read model may lie, on any axis,
// in every reader (STEP, IGES, BREP, neutral documents): ten kilometres in
// millimetres. A vertex's tolerance is 1e-7 at least; the doubles' spacing
// reaches a fiftieth of that at 1e7 and passes it above 5e8, where an edge
// whose ends are written exactly no longer meets its vertices in the
// peer's check (a vertex at z = 2147483647 made an invalid BREP file).
#include <iomanip>
#include <sstream>
#include <string>

namespace qelx_formats {

inline constexpr double MaxModelCoordinate = 1e7;

// The axis (0, 1, 2) of `xyz` beyond MaxModelCoordinate (or not a
// number), or -1.
inline int axisBeyondAnyModel(const double* xyz)
{
    for (int k = 0; k < 3; ++k)
        if (!(xyz[k] <= MaxModelCoordinate && xyz[k] >= -MaxModelCoordinate))
            return k;
    return -1;
}

// "z = 2147483647, beyond any model" for the first axis of `xyz` beyond
// MaxModelCoordinate; empty when none is.
inline std::string coordinateBeyondAnyModel(const double* xyz)
{
    const int axis = axisBeyondAnyModel(xyz);
    if (axis < 0)
        return std::string();
    std::ostringstream text;
    text << "xyz"[axis] << " = " << std::setprecision(17) << xyz[axis] << ", beyond any model";
    return text.str();
}

} // namespace qelx_formats
