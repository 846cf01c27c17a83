#pragma once
// Exact surface definitions handed to surface callbacks, each evaluating
// itself in its own parameterisation (position, every derivative a flat
// holds, normal = normalise(dS/du x dS/dv)). Values; default constructors
// give the empty definitions.
#include "qelx/gk_curve_defs.hxx"
#include "qelx/qelx_curve.hxx"

class Gk_Surface3;
class Gk_BaseSurface3;
using Gk_Surface3Handle = QELXTypedHandle<Gk_Surface3>;
using Gk_BaseSurface3Handle = QELXTypedHandle<Gk_BaseSurface3>;

struct Gk_SurfaceType3 {
    enum Enum {
        None = 0,
        Plane = 1,
        Cylinder = 2,
        Cone = 3,
        Sphere = 4,
        Ellipsoid = 5,
        Torus = 6,
        Revolution = 7,
        Offset = 8,
        Swept = 9,
        BSpline = 10
    };
};

// Common part: the empty flag and the unbounded answer of non-periodic
// directions.
class Gk_SurfaceDef3 {
public:
    bool isEmpty() const { return !m_set; }
    QELXPoint3D normal(const QELXPoint2D& uv) const;

protected:
    explicit Gk_SurfaceDef3(bool set = false) : m_set(set) {}
    virtual ~Gk_SurfaceDef3() = default;
    Gk_SurfaceDef3(const Gk_SurfaceDef3&) = default;
    Gk_SurfaceDef3& operator=(const Gk_SurfaceDef3&) = default;
    virtual QELXPoint3D evalAny(const QELXPoint2D& uv, Gk_Flat3* flat) const = 0;

    bool m_set;
};

// S(u,v) = P + u U + v V.
class Gk_Plane3Def : public Gk_SurfaceDef3 {
public:
    Gk_Plane3Def() = default;
    Gk_Plane3Def(const QELXPoint3D& P, const QELXPoint3D& U, const QELXPoint3D& V)
        : Gk_SurfaceDef3(true), m_origin(P), m_u(U), m_v(V) {}
    const QELXPoint3D& origin() const { return m_origin; }
    const QELXPoint3D& uAxis() const { return m_u; }
    const QELXPoint3D& vAxis() const { return m_v; }
    QELXPoint3D eval(const QELXPoint2D& uv, Gk_Flat3* flat = nullptr) const;
    QELXPoint2D invert(const QELXPoint3D& p) const;
    void Transform(const QELXMorph3D& morph);

protected:
    QELXPoint3D evalAny(const QELXPoint2D& uv, Gk_Flat3* flat) const override { return eval(uv, flat); }

private:
    QELXPoint3D m_origin, m_u, m_v;
};

// Base ellipse (C, A, B), sine s >= 0 and cosine c >= 0 of the half angle;
// N = unit A x B, sigma = uScale or |A| when uScale is 0; u is the slant
// parameter, v the angle:
//   S(u,v) = C + (1 + s sigma u / |A|)(A cos v + B sin v) - c sigma u N.
// The cone narrows towards +N; a cylinder has s = 0, c = 1.
class Gk_Cone3Def : public Gk_SurfaceDef3 {
public:
    Gk_Cone3Def() = default;
    Gk_Cone3Def(const QELXEllipseDef3D& base, double sinAbs, double cosAbs, double uScale)
        : Gk_SurfaceDef3(true), m_base(base), m_sine(sinAbs), m_cosine(cosAbs), m_uScale(uScale) {}
    const QELXEllipseDef3D& base() const { return m_base; }
    double sine() const { return m_sine; }
    double cosine() const { return m_cosine; }
    double uScale() const { return m_uScale; }
    bool isCylinder() const { return m_sine == 0.0; }
    // sigma of the formula.
    double slantSpeed() const;
    QELXPoint3D eval(const QELXPoint2D& uv, Gk_Flat3* flat = nullptr) const;
    QELXPoint2D invert(const QELXPoint3D& p) const;
    void Transform(const QELXMorph3D& morph) { m_base.Transform(morph); }

protected:
    QELXPoint3D evalAny(const QELXPoint2D& uv, Gk_Flat3* flat) const override { return eval(uv, flat); }

private:
    QELXEllipseDef3D m_base;
    double m_sine = 0.0, m_cosine = 1.0, m_uScale = 0.0;
};

// Three semi-axis vectors; u = longitude from X turning away from Y, v =
// latitude towards -Z: E(u,v) = C + cos v (X cos u - Y sin u) - Z sin v.
class Gk_Ellipsoid3Def : public Gk_SurfaceDef3 {
public:
    Gk_Ellipsoid3Def() = default;
    Gk_Ellipsoid3Def(const QELXPoint3D& C, const QELXPoint3D& a1, const QELXPoint3D& a2, const QELXPoint3D& a3)
        : Gk_SurfaceDef3(true), m_centre(C), m_axes{a1, a2, a3} {}
    const QELXPoint3D& centre() const { return m_centre; }
    const QELXPoint3D& axis(int i) const { return m_axes[i]; }
    bool isSphere() const;
    QELXPoint3D eval(const QELXPoint2D& uv, Gk_Flat3* flat = nullptr) const;
    QELXPoint2D invert(const QELXPoint3D& p) const;
    void Transform(const QELXMorph3D& morph);

protected:
    QELXPoint3D evalAny(const QELXPoint2D& uv, Gk_Flat3* flat) const override { return eval(uv, flat); }

private:
    QELXPoint3D m_centre;
    QELXPoint3D m_axes[3];
};

// R' = |M|, negated when positiveMajor is false; O = M/|M|, N unit,
// W = O x N, D(v) = O cos v + W sin v:
//   T(u,v) = C + (R' + r cos u) D(v) + r sin u N
// u around the tube, v about N from O (clockwise seen from +N).
class Gk_Torus3Def : public Gk_SurfaceDef3 {
public:
    Gk_Torus3Def() = default;
    Gk_Torus3Def(const QELXPoint3D& C, const QELXPoint3D& N, const QELXPoint3D& majorVector, double minorRadius,
                 bool positiveMajor)
        : Gk_SurfaceDef3(true), m_centre(C), m_normal(N), m_major(majorVector), m_minor(minorRadius),
          m_positiveMajor(positiveMajor) {}
    const QELXPoint3D& centre() const { return m_centre; }
    const QELXPoint3D& axis() const { return m_normal; }
    const QELXPoint3D& majorVector() const { return m_major; }
    double minorRadius() const { return m_minor; }
    bool isPositiveMajor() const { return m_positiveMajor; }
    // Signed R'.
    double majorRadius() const;
    QELXPoint3D eval(const QELXPoint2D& uv, Gk_Flat3* flat = nullptr) const;
    QELXPoint2D invert(const QELXPoint3D& p) const;
    void Transform(const QELXMorph3D& morph);

protected:
    QELXPoint3D evalAny(const QELXPoint2D& uv, Gk_Flat3* flat) const override { return eval(uv, flat); }

private:
    QELXPoint3D m_centre, m_normal, m_major;
    double m_minor = 0.0;
    bool m_positiveMajor = true;
};

// profile(u) turned by the angle v about (P, D), right-handed; v = 0 is the
// profile itself, u runs over the domain.
class Gk_SpunSurface3Def : public Gk_SurfaceDef3 {
public:
    Gk_SpunSurface3Def() = default;
    Gk_SpunSurface3Def(const QELXCurve3DHandle& profile, const QELXPoint3D& axisPoint, const QELXPoint3D& axisDirection,
                       const Gk_Domain& domain);
    // Wraps the base curve with QELXCurve3D::Create(profile).
    Gk_SpunSurface3Def(const QELXBaseCurve3DHandle& profile, const QELXPoint3D& axisPoint,
                       const QELXPoint3D& axisDirection, const Gk_Domain& domain);
    QELXCurve3DHandle RevolvedCurve() const { return m_profile; }
    const QELXPoint3D& axisPoint() const { return m_point; }
    const QELXPoint3D& axisDirection() const { return m_direction; }
    const Gk_Domain& domain() const { return m_domain; }
    QELXPoint3D eval(const QELXPoint2D& uv, Gk_Flat3* flat = nullptr) const;
    QELXPoint2D invert(const QELXPoint3D& p) const;

protected:
    QELXPoint3D evalAny(const QELXPoint2D& uv, Gk_Flat3* flat) const override { return eval(uv, flat); }

private:
    QELXCurve3DHandle m_profile;
    QELXPoint3D m_point, m_direction;
    Gk_Domain m_domain;
};

// profile(u) + v direction.
class Gk_SweptSurface3Def : public Gk_SurfaceDef3 {
public:
    Gk_SweptSurface3Def() = default;
    Gk_SweptSurface3Def(const QELXCurve3DHandle& profile, const QELXPoint3D& direction)
        : Gk_SurfaceDef3(profile.IsValid()), m_profile(profile), m_direction(direction) {}
    const QELXCurve3DHandle& profile() const { return m_profile; }
    const QELXPoint3D& direction() const { return m_direction; }
    QELXPoint3D eval(const QELXPoint2D& uv, Gk_Flat3* flat = nullptr) const;
    QELXPoint2D invert(const QELXPoint3D& p) const;

protected:
    QELXPoint3D evalAny(const QELXPoint2D& uv, Gk_Flat3* flat) const override { return eval(uv, flat); }

private:
    QELXCurve3DHandle m_profile;
    QELXPoint3D m_direction;
};

// base(u,v) + d n(u,v), n the base's unit normal with its sense. Position
// and first derivatives are exact (they use the base's second
// derivatives); second derivatives are central differences of the first;
// a flat of size 3 or more gets zeros beyond the second order.
class Gk_OffsetSurface3Def : public Gk_SurfaceDef3 {
public:
    Gk_OffsetSurface3Def() = default;
    Gk_OffsetSurface3Def(const Gk_Surface3Handle& base, double d);
    // Wraps the base with Gk_Surface3::Create(base, true, identity).
    Gk_OffsetSurface3Def(const Gk_BaseSurface3Handle& base, double d);
    Gk_Surface3Handle ReferenceSurface() const { return m_base; }
    double distance() const { return m_distance; }
    QELXPoint3D eval(const QELXPoint2D& uv, Gk_Flat3* flat = nullptr) const;
    QELXPoint2D invert(const QELXPoint3D& p) const;

protected:
    QELXPoint3D evalAny(const QELXPoint2D& uv, Gk_Flat3* flat) const override { return eval(uv, flat); }

private:
    // Point and first derivatives of the offset.
    void firstOrder(const QELXPoint2D& uv, QELXPoint3D& s, QELXPoint3D& su, QELXPoint3D& sv) const;

    Gk_Surface3Handle m_base;
    double m_distance = 0.0;
};

class Gk_BSSurface3Def : public Gk_SurfaceDef3 {
public:
    Gk_BSSurface3Def() = default;
    explicit Gk_BSSurface3Def(const QELXBSplineNetDef3D& net) : Gk_SurfaceDef3(!net.isEmpty()), m_net(net) {}
    const QELXBSplineNetDef3D& net() const { return m_net; }
    QELXPoint3D eval(const QELXPoint2D& uv, Gk_Flat3* flat = nullptr) const { return m_net.eval(uv, flat); }
    QELXPoint2D invert(const QELXPoint3D& p) const;
    void Transform(const QELXMorph3D& morph) { m_net.Transform(morph, false); }

protected:
    QELXPoint3D evalAny(const QELXPoint2D& uv, Gk_Flat3* flat) const override { return eval(uv, flat); }

private:
    QELXBSplineNetDef3D m_net;
};
