#pragma once
// Exact curve definitions handed to curve callbacks. Values; the default
// constructors give the empty definitions.
#include "qelx/gk_bspline.hxx"

struct QELXCurveType {
    enum Enum { Other = 0, Line = 1, Ellipse = 2, BSpline = 3 };
};

// C(t) = P + t V; |V| is the parameter speed.
class QELXLineDef3D {
public:
    QELXLineDef3D() = default;
    QELXLineDef3D(const QELXPoint3D& point, const QELXPoint3D& vector) : m_point(point), m_vector(vector), m_set(true) {}
    bool isEmpty() const { return !m_set; }
    const QELXPoint3D& point() const { return m_point; }
    const QELXPoint3D& vector() const { return m_vector; }
    QELXPoint3D eval(double t, QELXCurveDerivatives3D* d = nullptr) const;
    // Foot of the perpendicular; 0 for a zero vector.
    double invert(const QELXPoint3D& p) const;
    void Transform(const QELXMorph3D& morph);

private:
    QELXPoint3D m_point, m_vector;
    bool m_set = false;
};

// C(t) = C + A cos t + B sin t; A the major, B the minor semi-axis vector.
class QELXEllipseDef3D {
public:
    QELXEllipseDef3D() = default;
    QELXEllipseDef3D(const QELXPoint3D& centre, const QELXPoint3D& major, const QELXPoint3D& minor)
        : m_centre(centre), m_major(major), m_minor(minor), m_set(true) {}
    bool isEmpty() const { return !m_set; }
    const QELXPoint3D& centre() const { return m_centre; }
    const QELXPoint3D& major() const { return m_major; }
    const QELXPoint3D& minor() const { return m_minor; }
    // |minor| / |major|; 0 for a zero major axis.
    double radiusRatio() const;
    // Unit A x B.
    QELXPoint3D normal() const;
    QELXPoint3D eval(double t, QELXCurveDerivatives3D* d = nullptr) const;
    // Angle in [0, 2pi) of the nearest point.
    double invert(const QELXPoint3D& p) const;
    void Transform(const QELXMorph3D& morph);

private:
    QELXPoint3D m_centre, m_major, m_minor;
    bool m_set = false;
};

class QELXBSCurveDef3D {
public:
    QELXBSCurveDef3D() = default;
    explicit QELXBSCurveDef3D(const QELXBSplineDef3D& data) : m_data(data) {}
    bool isEmpty() const { return m_data.isEmpty(); }
    const QELXBSplineDef3D& getData() const { return m_data; }

private:
    QELXBSplineDef3D m_data;
};

class QELXBSCurveDef2D {
public:
    QELXBSCurveDef2D() = default;
    explicit QELXBSCurveDef2D(const QELXBSplineDef2D& data) : m_data(data) {}
    bool isEmpty() const { return m_data.isEmpty(); }
    const QELXBSplineDef2D& getData() const { return m_data; }

private:
    QELXBSplineDef2D m_data;
};
