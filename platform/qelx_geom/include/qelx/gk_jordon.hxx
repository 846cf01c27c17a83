#pragma once
// A trimming curve of the framework: a 3-D curve over a domain. An unbound
// object (default-constructed) answers the origin for every frame and the
// point itself as its nearest, so a comparison against it never fails.
#include "qelx/gk_maps.hxx"
#include "qelx/qelx_curve.hxx"
#include "qelx/qelx_math.hxx"

class Gk_Jordon {
public:
    Gk_Jordon() = default;
    Gk_Jordon(const QELXCurve3DHandle& curve, const Gk_Domain& domain) : m_curve(curve), m_domain(domain) {}

    bool isBound() const { return m_curve.get() != nullptr; }
    const Gk_Domain& domain() const { return m_domain; }
    // The point at t.
    QELXPoint3D frame(double t) const;
    // The nearest point of the curve over its domain: samples, then the
    // curve's inversion from the best of them, kept inside the domain.
    QELXPoint3D nearest(const QELXPoint3D& p) const;

private:
    QELXCurve3DHandle m_curve;
    Gk_Domain m_domain;
};
