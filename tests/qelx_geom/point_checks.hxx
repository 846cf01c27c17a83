#pragma once
// Point comparisons shared by the geometry kernel's tests.
#include "qelx/qelx_math.hxx"

#include <gtest/gtest.h>

inline void expectNear(const QELXPoint3D& a, const QELXPoint3D& b, double tol)
{
    EXPECT_NEAR(a.Distance(b), 0.0, tol) << "(" << a.x() << "," << a.y() << "," << a.z() << ") vs (" << b.x() << ","
                                         << b.y() << "," << b.z() << ")";
}
