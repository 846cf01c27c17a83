#include "model/math_types.hxx"

#include <algorithm>
#include <cmath>

#include "model/memory_init.hxx"

Ve_Pt3::Ve_Pt3(const QELposition& p) : QELXPoint3D(p.x(), p.y(), p.z()) {}
Ve_Pt3::Ve_Pt3(const QELvector& v) : QELXPoint3D(v.x(), v.y(), v.z()) {}
Ve_Pt3::Ve_Pt3(const QELXWeightPoint3D& p) : QELXPoint3D(p.GetCoords()) {}
Ve_Pt3::~Ve_Pt3() = default;

Ve_Pt3::operator QELposition() const { return QELposition((*this)[0], (*this)[1], (*this)[2]); }
Ve_Pt3::operator QELvector() const { return QELvector((*this)[0], (*this)[1], (*this)[2]); }

Ve_Pt3::operator QELunit_vector() const
{
    QELXPoint3D direction(*this);
    direction.Normalize();
    return QELunit_vector(direction[0], direction[1], direction[2]);
}

Ve_Vec3::Ve_Vec3(const QELvector& v) : QELXPoint3D(v.x(), v.y(), v.z()) {}
Ve_Vec3::~Ve_Vec3() = default;
Ve_Vec3::operator QELunit_vector() const { return QELunit_vector((*this)[0], (*this)[1], (*this)[2]); }

Ve_Pt2::Ve_Pt2(const QELpar_pos& p) : QELXPoint2D(p.u, p.v) {}
Ve_Pt2::~Ve_Pt2() = default;
Ve_Pt2::operator QELpar_pos() const { return QELpar_pos((*this)[0], (*this)[1]); }
Ve_Pt2::operator QELposition() const { return QELposition((*this)[0], (*this)[1], 0.0); }

Ve_Vec2::Ve_Vec2(const QELpar_vec& v) : QELXPoint2D(v.du, v.dv) {}
Ve_Vec2::~Ve_Vec2() = default;

Ve_Box3::Ve_Box3(const QELbox& b) : QELXBox3D(Ve_Pt3(b.low()), Ve_Pt3(b.high())) {}
Ve_Box3::~Ve_Box3() = default;
Ve_Box3::operator QELbox() const { return QELbox(Ve_Pt3(low()), Ve_Pt3(high())); }

Ve_Box2::~Ve_Box2() = default;

Ve_Domain::Ve_Domain(const QELinterval& i)
    : Gk_Domain((i.type() == interval_bounded || i.type() == interval_bounded_below ? Gk_Domain::LowBounded : 0) |
                    (i.type() == interval_bounded || i.type() == interval_bounded_above ? Gk_Domain::HighBounded : 0),
                i.start_pt(), i.end_pt(), Gk_Def::FuzzKnot)
{
}

Ve_Domain::operator QELinterval() const
{
    // A half-bounded domain keeps its finite end.
    interval_type type = interval_unbounded;
    if (isFinite())
        type = interval_bounded;
    else if (isLowBounded())
        type = interval_bounded_below;
    else if (isHighBounded())
        type = interval_bounded_above;
    return QELinterval(type, low(), high());
}

Ve_Span::Ve_Span(const QELpar_box& b) : Gk_Span(Ve_Domain(b.u_range()), Ve_Domain(b.v_range())) {}

namespace {

// Shear: the columns of the affine part are not orthogonal, or not of one length.
bool shears(const QELXAffine& a)
{
    const QELXAffine g = a.Transposed() * a;
    const double k = (g.GetElement(0, 0) + g.GetElement(1, 1) + g.GetElement(2, 2)) / 3.0;
    const double tol = Gk_Def::FuzzReal * std::max(1.0, k);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            if (std::fabs(g.GetElement(i, j) - (i == j ? k : 0.0)) > tol)
                return true;
    return false;
}

// Row i of the framework affine is column i of the kernel matrix.
QELXMorph3D morphFrom(const QELtransf& t)
{
    QELXAffine affine;
    for (int i = 0; i < 3; ++i)
        affine.SetRow(i, Ve_Pt3(t.affine().column(i)));
    return QELXMorph3D(affine, Ve_Pt3(t.translation()), t.scaling());
}

} // namespace

Ve_Morph::Ve_Morph(const QELtransf& t) : QELXMorph3D(morphFrom(t)) {}

Ve_Morph::operator QELtransf() const
{
    const QELXAffine& a = GetAffine();
    QELvector columns[3];
    for (int i = 0; i < 3; ++i)
        columns[i] = QELvector(a.GetElement(i, 0), a.GetElement(i, 1), a.GetElement(i, 2));
    // The flags are derived here rather than trusted to the kernel: a mirroring
    // morph must reverse senses when the kernel applies it.
    const bool reflect = a.Determinant() * scaleFactor() < 0.0;
    return restore_transf(QELmatrix(columns[0], columns[1], columns[2]), Ve_Pt3(GetTranslation()), scaleFactor(),
                          a.IsIdentity() ? 0 : 1, reflect ? 1 : 0, shears(a) ? 1 : 0);
}

Ve_BiLinMap::Ve_BiLinMap(const QELpar_transf& t)
    : Gk_BiLinMap(Gk_LinMap(t.uscale(), t.uoffset()), Gk_LinMap(t.vscale(), t.voffset()), false)
{
}

Ve_BiLinMap::operator QELpar_transf() const
{
    const Gk_LinMap& u = getLinUMap();
    const Gk_LinMap& v = getLinVMap();
    return QELpar_transf(u.slope(), v.slope(), u.abscissa(), v.abscissa());
}

namespace {
double clampUnit(double x) { return std::clamp(x, 0.0, 1.0); }
} // namespace

Ve_Color::Ve_Color(double red, double green, double blue)
    : m_red(clampUnit(red)), m_green(clampUnit(green)), m_blue(clampUnit(blue))
{
}
