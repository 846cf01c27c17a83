#pragma once
// Small helpers shared by the surface importer's builders.
#include <cmath>

#include "qelx/qelx_math.hxx"
#include "velm/math.hxx"

namespace surface_import {

constexpr QELIResult kFailed = 0x1000001;

inline QELXPoint3D point(const double c[3]) { return QELXPoint3D(c[0], c[1], c[2]); }
inline QELposition position(const QELXPoint3D& p) { return QELposition(p.x(), p.y(), p.z()); }
inline QELvector vector(const QELXPoint3D& p) { return QELvector(p.x(), p.y(), p.z()); }
inline QELXPoint3D point(const QELposition& p) { return QELXPoint3D(p[0], p[1], p[2]); }
inline QELXPoint3D point(const QELvector& v) { return QELXPoint3D(v[0], v[1], v[2]); }
// The caller has normalised p.
inline QELunit_vector unitVector(const QELXPoint3D& p) { return QELunit_vector(p.x(), p.y(), p.z()); }
inline QELXPoint3D cross(const QELXPoint3D& a, const QELXPoint3D& b) { return QELXPoint3D::VectorProduct(a, b); }
inline bool finite(const double c[3]) { return std::isfinite(c[0]) && std::isfinite(c[1]) && std::isfinite(c[2]); }
// False, leaving p alone, for a vector too short to carry a direction.
inline bool normalise(QELXPoint3D& p)
{
    const double len = p.Length();
    if (!std::isfinite(len) || !(len > 1e-12))
        return false;
    p = p / len;
    return true;
}

} // namespace surface_import
