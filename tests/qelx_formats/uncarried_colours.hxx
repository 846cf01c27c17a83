// Colour values no file carries (red, green or blue outside 0 to 1, or no
// number), each with the text a refusal gives it: the shortest that reads
// back as the value.
#pragma once

#include <array>
#include <limits>

namespace uncarried_colours {

struct Value {
    double value;
    const char* written;
};

inline std::array<Value, 6> values()
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    return {{{-1e-320, "-1e-320"}, {-0.25, "-0.25"}, {1.5, "1.5"}, {nan, "nan"}, {inf, "inf"}, {-inf, "-inf"}}};
}

} // namespace uncarried_colours
