#pragma once
// Value types that carry coordinates, parameter ranges and transforms across
// the border between framework and kernel. Each is its framework type plus
// constructors from, and conversions to, the kernel's types; none adds data.
#include "qelx/gk_maps.hxx"
#include "qelx/qelx_math.hxx"
#include "velm/math.hxx"
#include "xvelm2k/export.hxx"

class XVELM2KA_API Ve_Pt3 : public QELXPoint3D {
public:
    Ve_Pt3() = default;
    Ve_Pt3(const QELXPoint3D& p) : QELXPoint3D(p) {}
    Ve_Pt3(const QELposition& p);
    Ve_Pt3(const QELvector& v);
    Ve_Pt3(const QELXWeightPoint3D& p);
    Ve_Pt3(const Ve_Pt3&) = default;
    Ve_Pt3& operator=(const Ve_Pt3&) = default;
    virtual ~Ve_Pt3();

    operator QELposition() const;
    operator QELvector() const;
    // The direction of the point seen from the origin.
    operator QELunit_vector() const;
};

class XVELM2KA_API Ve_Vec3 : public QELXPoint3D {
public:
    Ve_Vec3() = default;
    Ve_Vec3(const QELXPoint3D& p) : QELXPoint3D(p) {}
    Ve_Vec3(const QELvector& v);
    Ve_Vec3(const Ve_Vec3&) = default;
    Ve_Vec3& operator=(const Ve_Vec3&) = default;
    virtual ~Ve_Vec3();

    operator QELunit_vector() const;
};

class XVELM2KA_API Ve_Pt2 : public QELXPoint2D {
public:
    Ve_Pt2() = default;
    Ve_Pt2(const QELXPoint2D& p) : QELXPoint2D(p) {}
    Ve_Pt2(const QELpar_pos& p);
    Ve_Pt2(const Ve_Pt2&) = default;
    Ve_Pt2& operator=(const Ve_Pt2&) = default;
    virtual ~Ve_Pt2();

    operator QELpar_pos() const;
    // The parameter point in the z = 0 plane.
    operator QELposition() const;
};

class XVELM2KA_API Ve_Vec2 : public QELXPoint2D {
public:
    Ve_Vec2() = default;
    Ve_Vec2(const QELpar_vec& v);
    Ve_Vec2(const Ve_Vec2&) = default;
    Ve_Vec2& operator=(const Ve_Vec2&) = default;
    virtual ~Ve_Vec2();
};

class XVELM2KA_API Ve_Box3 : public QELXBox3D {
public:
    Ve_Box3() = default;
    Ve_Box3(const QELXBox3D& b) : QELXBox3D(b) {}
    Ve_Box3(const QELbox& b);
    Ve_Box3(const Ve_Box3&) = default;
    Ve_Box3& operator=(const Ve_Box3&) = default;
    virtual ~Ve_Box3();

    operator QELbox() const;
};

class XVELM2KA_API Ve_Box2 : public QELXBox2D {
public:
    Ve_Box2() = default;
    Ve_Box2(const QELXBox2D& b) : QELXBox2D(b) {}
    Ve_Box2(const Ve_Box2&) = default;
    Ve_Box2& operator=(const Ve_Box2&) = default;
    virtual ~Ve_Box2();
};

// Interval types follow the bound bits: 1 both ends bounded, 2 only the low
// end, 3 only the high end, 4 neither.
class XVELM2KA_API Ve_Domain : public Gk_Domain {
public:
    Ve_Domain() = default;
    Ve_Domain(const Gk_Domain& d) : Gk_Domain(d) {}
    Ve_Domain(const QELinterval& i);

    operator QELinterval() const;
};

class XVELM2KA_API Ve_Span : public Gk_Span {
public:
    Ve_Span() = default;
    Ve_Span(const Gk_Span& s) : Gk_Span(s) {}
    Ve_Span(const QELpar_box& b);
};

// The framework applies its affine to column vectors, the kernel its matrix to
// row vectors, so the matrix crosses transposed.
class XVELM2KA_API Ve_Morph : public QELXMorph3D {
public:
    Ve_Morph() = default;
    Ve_Morph(const QELXMorph3D& m) : QELXMorph3D(m) {}
    Ve_Morph(const QELtransf& t);

    operator QELtransf() const;

    // A mirror: loops and surface sides turn round under it.
    bool reflects() const { return GetAffine().Determinant() < 0.0; }
};

class XVELM2KA_API Ve_BiLinMap : public Gk_BiLinMap {
public:
    Ve_BiLinMap() = default;
    Ve_BiLinMap(const Gk_BiLinMap& m) : Gk_BiLinMap(m) {}
    Ve_BiLinMap(const QELpar_transf& t);

    // A crossed map loses its crossing: the kernel transform has none.
    operator QELpar_transf() const;
};

// Colour triple, each component clamped into [0, 1].
class XVELM2KA_API Ve_Color {
public:
    Ve_Color() = default;
    Ve_Color(double red, double green, double blue);

    double red() const { return m_red; }
    double green() const { return m_green; }
    double blue() const { return m_blue; }
    operator rgb_color() const { return rgb_color(m_red, m_green, m_blue); }

private:
    double m_red = 0.0;
    double m_green = 0.0;
    double m_blue = 0.0;
};
