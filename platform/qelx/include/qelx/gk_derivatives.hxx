#pragma once
// Derivative holders filled by curve and surface evaluation.
#include "qelx/qelx_math.hxx"

#include <vector>

// Point and derivatives of a 3-D curve: [0] is the point, [k] the k-th
// derivative; size = 1 + number of derivatives.
class QELXCurveDerivatives3D {
public:
    explicit QELXCurveDerivatives3D(int size = 2) : m_d(size > 0 ? size : 1) {}
    int size() const { return static_cast<int>(m_d.size()); }
    QELXPoint3D& operator[](int i) { return m_d[i]; }
    const QELXPoint3D& operator[](int i) const { return m_d[i]; }

private:
    std::vector<QELXPoint3D> m_d;
};

class QELXCurveDerivatives2D {
public:
    explicit QELXCurveDerivatives2D(int size = 2) : m_d(size > 0 ? size : 1) {}
    int size() const { return static_cast<int>(m_d.size()); }
    QELXPoint2D& operator[](int i) { return m_d[i]; }
    const QELXPoint2D& operator[](int i) const { return m_d[i]; }

private:
    std::vector<QELXPoint2D> m_d;
};

// Derivative grid of a surface point: derivative(i, j) = d^(i+j)S / du^i dv^j
// for 0 <= i, j < size. The normal-reversed flag never touches the
// derivatives; it only turns the normal round.
class Gk_Flat3 {
public:
    explicit Gk_Flat3(int size = 2) : m_size(size > 0 ? size : 1), m_d(m_size * m_size) {}
    int size() const { return m_size; }
    QELXPoint3D& derivative(int i, int j) { return m_d[i * m_size + j]; }
    const QELXPoint3D& derivative(int i, int j) const { return m_d[i * m_size + j]; }
    void flipNormal() { m_flipped = !m_flipped; }
    // Evaluators that fill a whole flat start from an unflipped normal, so a
    // reused flat carries no flip over from an earlier point.
    void setNormalFlipped(bool flipped) { m_flipped = flipped; }
    bool isNormalFlipped() const { return m_flipped; }
    // +-normalise(dS/du x dS/dv); the zero vector at a degenerate point or
    // for a flat of size 1.
    QELXPoint3D normal() const;

private:
    int m_size;
    std::vector<QELXPoint3D> m_d;
    bool m_flipped = false;
};
