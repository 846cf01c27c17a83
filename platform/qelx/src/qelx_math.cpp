#include "qelx/qelx_math.hxx"
#include "qelx/qelx_object_table.hxx"

#include <cmath>

bool Gk_Func::equal(double a, double b, double tol) { return std::fabs(a - b) <= tol; }

bool QELXPoint::IsWithinTolerance(const QELXPoint3D& a, const QELXPoint3D& b, double tol)
{
    return a.Distance(b) <= tol;
}

QELXPoint3D QELXPoint3D::VectorProduct(const QELXPoint3D& a, const QELXPoint3D& b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

double QELXPoint3D::Length() const { return std::sqrt(Dot(*this)); }

QELIResult QELXPoint3D::Normalize()
{
    const double length = Length();
    if (length == 0.0)
        return QELI_FAIL;
    *this = *this / length;
    return QELI_OK;
}

QELXPoint3D QELXPoint3D::Orthogonalize() const
{
    int smallest = 0;
    for (int i = 1; i < 3; ++i)
        if (std::fabs(m_c[i]) < std::fabs(m_c[smallest]))
            smallest = i;
    QELXPoint3D axis;
    axis[smallest] = 1.0;
    QELXPoint3D result = VectorProduct(*this, axis);
    result.Normalize();
    return result;
}

void QELXPoint3D::Transform(const QELXMorph3D& morph, bool isVector) { *this = morph.Apply(*this, isVector); }

double QELXPoint2D::Length() const { return std::sqrt(*this * *this); }

QELIResult QELXBox3D::Set(const QELXPoint3D& low, const QELXPoint3D& high)
{
    m_low = low;
    m_high = high;
    return QELI_OK;
}

QELIResult QELXBox2D::Set(const QELXPoint2D& low, const QELXPoint2D& high)
{
    m_low = low;
    m_high = high;
    return QELI_OK;
}

void QELXAffine::SetRow(int row, double x, double y, double z)
{
    m_a[row][0] = x;
    m_a[row][1] = y;
    m_a[row][2] = z;
}

bool QELXAffine::IsIdentity() const
{
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            if (!Gk_Func::equal(m_a[i][j], i == j ? 1.0 : 0.0, Gk_Def::FuzzReal))
                return false;
    return true;
}

double QELXAffine::Determinant() const
{
    return m_a[0][0] * (m_a[1][1] * m_a[2][2] - m_a[1][2] * m_a[2][1]) -
           m_a[0][1] * (m_a[1][0] * m_a[2][2] - m_a[1][2] * m_a[2][0]) +
           m_a[0][2] * (m_a[1][0] * m_a[2][1] - m_a[1][1] * m_a[2][0]);
}

QELXAffine QELXAffine::Transposed() const
{
    QELXAffine t;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            t.m_a[i][j] = m_a[j][i];
    return t;
}

QELIResult QELXAffine::Invert(QELXAffine& out) const
{
    const double det = Determinant();
    if (std::fabs(det) <= Gk_Def::FuzzReal)
        return QELI_FAIL;
    QELXAffine inv;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            // Cofactor of element (j, i), cyclic indices keep the sign.
            const int r1 = (j + 1) % 3, r2 = (j + 2) % 3, c1 = (i + 1) % 3, c2 = (i + 2) % 3;
            inv.m_a[i][j] = (m_a[r1][c1] * m_a[r2][c2] - m_a[r1][c2] * m_a[r2][c1]) / det;
        }
    out = inv;
    return QELI_OK;
}

QELXAffine QELXAffine::operator*(const QELXAffine& o) const
{
    QELXAffine r;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            r.m_a[i][j] = m_a[i][0] * o.m_a[0][j] + m_a[i][1] * o.m_a[1][j] + m_a[i][2] * o.m_a[2][j];
    return r;
}

QELXPoint3D QELXAffine::operator*(const QELXPoint3D& p) const
{
    QELXPoint3D r;
    for (int i = 0; i < 3; ++i)
        r[i] = m_a[i][0] * p[0] + m_a[i][1] * p[1] + m_a[i][2] * p[2];
    return r;
}

bool QELXMorph3D::IsIdentity() const
{
    return m_affine.IsIdentity() && Gk_Func::equal(m_scale, 1.0, Gk_Def::FuzzReal) &&
           m_translation.Length() <= Gk_Def::FuzzPos;
}

QELXPoint3D QELXMorph3D::Apply(const QELXPoint3D& p, bool isVector) const
{
    const QELXPoint3D image = (m_affine * p) * m_scale;
    return isVector ? image : image + m_translation;
}

QELXMorph3D QELXMorph3D::Compose(const QELXMorph3D& next) const
{
    // next(this(p)) = s2*A2*(s1*A1*p + t1) + t2
    return QELXMorph3D(next.m_affine * m_affine, next.Apply(m_translation), m_scale * next.m_scale);
}

QELIResult QELXMorph3D::Invert(QELXMorph3D& out) const
{
    QELXAffine inverse;
    if (m_scale == 0.0 || m_affine.Invert(inverse) != QELI_OK)
        return QELI_FAIL;
    // p = (1/s) * A^-1 * (p' - t)
    const double scale = 1.0 / m_scale;
    out = QELXMorph3D(inverse, -((inverse * m_translation) * scale), scale);
    return QELI_OK;
}

QELXMorph2D::QELXMorph2D(const double a[2][2], const QELXPoint2D& translation, double scale)
    : QELXMorph(scale), m_a{{a[0][0], a[0][1]}, {a[1][0], a[1][1]}}, m_translation(translation)
{
}

QELXPoint2D QELXMorph2D::Apply(const QELXPoint2D& p, bool isVector) const
{
    const QELXPoint2D image(m_scale * (m_a[0][0] * p[0] + m_a[0][1] * p[1]),
                            m_scale * (m_a[1][0] * p[0] + m_a[1][1] * p[1]));
    return isVector ? image : image + m_translation;
}

QELXRefPoint3D::QELXRefPoint3D(const QELXPoint3D& point) : m_point(point) { QELXObjectTable::enter(word(), this); }

QELXRefPoint3D::QELXRefPoint3D(const QELXRefPoint3D& other) : QELXReferenceCount(other), m_point(other.m_point)
{
    QELXObjectTable::enter(word(), this);
}

QELXRefPoint3D::~QELXRefPoint3D() { QELXObjectTable::leave(word(), this); }
