#pragma once
#include <cstdint>
// Framework math value types: points, boxes, affine maps and morphs, the
// fuzz values. All are plain values and bitwise relocatable.
#include "qelx/qelx_result.hxx"
#include "qelx/qelx_refcount.hxx"

struct Gk_Def {
    static constexpr double FuzzPos = 1e-6;   // positions
    static constexpr double FuzzKnot = 1e-10; // knots and parameters
    static constexpr double FuzzReal = 1e-9;  // dimensionless reals
    static constexpr double FuzzSnap = 1e-4;  // vertex snapping and closure
    static constexpr double QELXPI = 3.14159265358979323846;
};
inline constexpr double Gk_Def_FuzzPos = Gk_Def::FuzzPos;
inline constexpr double Gk_Def_FuzzKnot = Gk_Def::FuzzKnot;
inline constexpr double Gk_Def_FuzzReal = Gk_Def::FuzzReal;

struct Gk_Func {
    static bool equal(double a, double b, double tol);
    static bool lesseq(double a, double b, double tol = 0.0) { return a <= b + tol; }
};

class QELXMorph3D;
class QELXPoint3D;

class QELXPoint {
public:
    static bool IsWithinTolerance(const QELXPoint3D& a, const QELXPoint3D& b, double tol);
};

class QELXPoint3D : public QELXPoint {
public:
    QELXPoint3D() = default;
    QELXPoint3D(double x, double y, double z) : m_c{x, y, z} {}

    double& operator[](int i) { return m_c[i]; }
    double operator[](int i) const { return m_c[i]; }
    double x() const { return m_c[0]; }
    double y() const { return m_c[1]; }
    double z() const { return m_c[2]; }

    QELXPoint3D operator+(const QELXPoint3D& o) const { return {m_c[0] + o.m_c[0], m_c[1] + o.m_c[1], m_c[2] + o.m_c[2]}; }
    QELXPoint3D operator-(const QELXPoint3D& o) const { return {m_c[0] - o.m_c[0], m_c[1] - o.m_c[1], m_c[2] - o.m_c[2]}; }
    QELXPoint3D operator-() const { return {-m_c[0], -m_c[1], -m_c[2]}; }
    QELXPoint3D operator*(double s) const { return {m_c[0] * s, m_c[1] * s, m_c[2] * s}; }
    QELXPoint3D operator/(double s) const { return {m_c[0] / s, m_c[1] / s, m_c[2] / s}; }
    QELXPoint3D& operator+=(const QELXPoint3D& o) { return *this = *this + o; }
    QELXPoint3D& operator-=(const QELXPoint3D& o) { return *this = *this - o; }
    double operator*(const QELXPoint3D& o) const { return Dot(o); }
    double Dot(const QELXPoint3D& o) const { return m_c[0] * o.m_c[0] + m_c[1] * o.m_c[1] + m_c[2] * o.m_c[2]; }

    static QELXPoint3D VectorProduct(const QELXPoint3D& a, const QELXPoint3D& b);
    double Length() const;
    double Distance(const QELXPoint3D& o) const { return (*this - o).Length(); }
    // In place; a zero vector is left unchanged and gives 0x1000001.
    QELIResult Normalize();
    // A unit vector perpendicular to this one.
    QELXPoint3D Orthogonalize() const;
    // Point: p := s*A*p + t; vector: v := s*A*v.
    void Transform(const QELXMorph3D& morph, bool isVector);

private:
    double m_c[3] = {0.0, 0.0, 0.0};
};

inline QELXPoint3D operator*(double s, const QELXPoint3D& p) { return p * s; }

// Shared point for point identifiers. Each lives in the object table under
// its own address, the word of its identifiers.
class QELXRefPoint3D : public QELXReferenceCount {
public:
    explicit QELXRefPoint3D(const QELXPoint3D& point);
    QELXRefPoint3D(const QELXRefPoint3D& other);
    QELXRefPoint3D& operator=(const QELXRefPoint3D& other) = default;
    ~QELXRefPoint3D() override;
    std::uint64_t word() const { return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(this)); }
    const QELXPoint3D& point() const { return m_point; }
    const char* GetName() const override { return "QELXRefPoint3D"; }

private:
    QELXPoint3D m_point;
};
using QELXPoint3DHandle = QELXTypedHandle<QELXRefPoint3D>;

class QELXPoint2D {
public:
    QELXPoint2D() = default;
    QELXPoint2D(double u, double v) : m_c{u, v} {}

    double& operator[](int i) { return m_c[i]; }
    double operator[](int i) const { return m_c[i]; }
    double u() const { return m_c[0]; }
    double v() const { return m_c[1]; }

    QELXPoint2D operator+(const QELXPoint2D& o) const { return {m_c[0] + o.m_c[0], m_c[1] + o.m_c[1]}; }
    QELXPoint2D operator-(const QELXPoint2D& o) const { return {m_c[0] - o.m_c[0], m_c[1] - o.m_c[1]}; }
    QELXPoint2D operator-() const { return {-m_c[0], -m_c[1]}; }
    QELXPoint2D operator*(double s) const { return {m_c[0] * s, m_c[1] * s}; }
    QELXPoint2D operator/(double s) const { return {m_c[0] / s, m_c[1] / s}; }
    double operator*(const QELXPoint2D& o) const { return m_c[0] * o.m_c[0] + m_c[1] * o.m_c[1]; }
    double Length() const;
    double Distance(const QELXPoint2D& o) const { return (*this - o).Length(); }

private:
    double m_c[2] = {0.0, 0.0};
};

class QELXWeightPoint3D {
public:
    QELXWeightPoint3D() = default;
    QELXWeightPoint3D(const QELXPoint3D& p, double w = 1.0) : m_point(p), m_weight(w) {}
    const QELXPoint3D& GetCoords() const { return m_point; }
    double GetWeight() const { return m_weight; }

private:
    QELXPoint3D m_point;
    double m_weight = 1.0;
};

class QELXWeightPoint2D {
public:
    QELXWeightPoint2D() = default;
    QELXWeightPoint2D(const QELXPoint2D& p, double w = 1.0) : m_point(p), m_weight(w) {}
    const QELXPoint2D& GetCoords() const { return m_point; }
    double GetWeight() const { return m_weight; }
    double operator[](int i) const { return m_point[i]; }

private:
    QELXPoint2D m_point;
    double m_weight = 1.0;
};

class QELXBox3D {
public:
    QELXBox3D() = default;
    QELXBox3D(const QELXPoint3D& low, const QELXPoint3D& high) : m_low(low), m_high(high) {}
    const QELXPoint3D& low() const { return m_low; }
    const QELXPoint3D& high() const { return m_high; }
    QELIResult Set(const QELXPoint3D& low, const QELXPoint3D& high);

private:
    QELXPoint3D m_low, m_high;
};

class QELXBox2D {
public:
    QELXBox2D() = default;
    QELXBox2D(const QELXPoint2D& low, const QELXPoint2D& high) : m_low(low), m_high(high) {}
    const QELXPoint2D& low() const { return m_low; }
    const QELXPoint2D& high() const { return m_high; }
    QELIResult Set(const QELXPoint2D& low, const QELXPoint2D& high);

private:
    QELXPoint2D m_low, m_high;
};

// 3x3 matrix, applied to column vectors: p' = A p.
class QELXAffine {
public:
    QELXAffine() = default; // identity
    double GetElement(int row, int col) const { return m_a[row][col]; }
    void SetElement(int row, int col, double value) { m_a[row][col] = value; }
    void SetRow(int row, double x, double y, double z);
    void SetRow(int row, const QELXPoint3D& values) { SetRow(row, values[0], values[1], values[2]); }
    bool IsIdentity() const;
    double Determinant() const;
    QELXAffine Transposed() const;
    // 0x1000001 and out untouched for a singular matrix.
    QELIResult Invert(QELXAffine& out) const;
    QELXAffine operator*(const QELXAffine& o) const; // (this * o) p = this(o(p))
    QELXPoint3D operator*(const QELXPoint3D& p) const;

private:
    double m_a[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
};

class QELXMorph {
public:
    explicit QELXMorph(double scale = 1.0) : m_scale(scale) {}
    double scaleFactor() const { return m_scale; }

protected:
    double m_scale;
};

// p -> scale * (A p) + t; vectors v -> scale * (A v).
class QELXMorph3D : public QELXMorph {
public:
    QELXMorph3D() = default;
    QELXMorph3D(const QELXAffine& affine, const QELXPoint3D& translation, double scale)
        : QELXMorph(scale), m_affine(affine), m_translation(translation) {}

    const QELXAffine& GetAffine() const { return m_affine; }
    const QELXPoint3D& GetTranslation() const { return m_translation; }
    bool IsIdentity() const;

    QELXPoint3D Apply(const QELXPoint3D& p, bool isVector = false) const;
    // The morph that applies this one first, then next.
    QELXMorph3D Compose(const QELXMorph3D& next) const;
    // 0x1000001 and out untouched when the morph cannot be inverted.
    QELIResult Invert(QELXMorph3D& out) const;

private:
    QELXAffine m_affine;
    QELXPoint3D m_translation;
};

// 2-D analogue: p -> scale * (A p) + t with a 2x2 A.
class QELXMorph2D : public QELXMorph {
public:
    QELXMorph2D() = default;
    QELXMorph2D(const double a[2][2], const QELXPoint2D& translation, double scale);
    QELXPoint2D Apply(const QELXPoint2D& p, bool isVector = false) const;

private:
    double m_a[2][2] = {{1, 0}, {0, 1}};
    QELXPoint2D m_translation;
};
