#include "qelx/gk_maps.hxx"
#include "qelx/qelx_math.hxx"

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr double kTol = 1e-12;

void expectNear(const QELXPoint3D& a, const QELXPoint3D& b, double tol = kTol)
{
    EXPECT_NEAR(a[0], b[0], tol);
    EXPECT_NEAR(a[1], b[1], tol);
    EXPECT_NEAR(a[2], b[2], tol);
}

QELXAffine rotationZ(double angle)
{
    QELXAffine a;
    a.SetRow(0, std::cos(angle), -std::sin(angle), 0);
    a.SetRow(1, std::sin(angle), std::cos(angle), 0);
    a.SetRow(2, 0, 0, 1);
    return a;
}

} // namespace

TEST(QelxPoint3D, VectorAlgebra)
{
    const QELXPoint3D x(1, 0, 0), y(0, 1, 0);
    expectNear(QELXPoint3D::VectorProduct(x, y), QELXPoint3D(0, 0, 1));
    EXPECT_DOUBLE_EQ(QELXPoint3D(3, 0, 4).Length(), 5.0);
    EXPECT_DOUBLE_EQ(x * y, 0.0);

    QELXPoint3D v(3, 0, 4);
    EXPECT_EQ(v.Normalize(), QELI_OK);
    expectNear(v, QELXPoint3D(0.6, 0, 0.8));
    QELXPoint3D zero;
    EXPECT_EQ(zero.Normalize(), QELI_FAIL);
    expectNear(zero, QELXPoint3D());

    for (const QELXPoint3D& d : {QELXPoint3D(0, 0, 2), QELXPoint3D(1, 2, 3), QELXPoint3D(-5, 0.1, 0)}) {
        const QELXPoint3D n = d.Orthogonalize();
        EXPECT_NEAR(n.Length(), 1.0, kTol);
        EXPECT_NEAR(n * d, 0.0, kTol);
    }
    EXPECT_TRUE(QELXPoint::IsWithinTolerance(QELXPoint3D(1, 1, 1), QELXPoint3D(1, 1, 1 + 5e-7), Gk_Def::FuzzPos));
    EXPECT_FALSE(QELXPoint::IsWithinTolerance(QELXPoint3D(1, 1, 1), QELXPoint3D(1, 1, 1 + 2e-6), Gk_Def::FuzzPos));
}

TEST(QelxMorph3D, PointsGetTranslationVectorsDoNot)
{
    const QELXMorph3D m(rotationZ(M_PI / 2), QELXPoint3D(10, 0, 0), 2.0);
    expectNear(m.Apply(QELXPoint3D(1, 0, 0)), QELXPoint3D(10, 2, 0));
    expectNear(m.Apply(QELXPoint3D(1, 0, 0), true), QELXPoint3D(0, 2, 0));
    QELXPoint3D p(0, 1, 0);
    p.Transform(m, false);
    expectNear(p, QELXPoint3D(8, 0, 0));
    EXPECT_DOUBLE_EQ(m.scaleFactor(), 2.0);
    EXPECT_FALSE(m.GetAffine().IsIdentity());
    EXPECT_TRUE(QELXMorph3D().IsIdentity());
}

TEST(QelxMorph3D, CompositionAppliesThisFirst)
{
    const QELXMorph3D rotate(rotationZ(M_PI / 2), QELXPoint3D(), 1.0);
    const QELXMorph3D shift(QELXAffine(), QELXPoint3D(5, 0, 0), 3.0);
    const QELXMorph3D both = rotate.Compose(shift);
    for (const QELXPoint3D& p : {QELXPoint3D(1, 2, 3), QELXPoint3D(-4, 0, 1)})
        expectNear(both.Apply(p), shift.Apply(rotate.Apply(p)));
    // Order matters: shifting first gives another map.
    const QELXPoint3D p(1, 0, 0);
    EXPECT_GT(shift.Compose(rotate).Apply(p).Distance(both.Apply(p)), 1.0);
}

TEST(QelxMorph3D, InverseUndoesTheMorph)
{
    QELXAffine shear;
    shear.SetRow(0, 1, 0.5, 0);
    const QELXMorph3D m = QELXMorph3D(rotationZ(0.3), QELXPoint3D(1, -2, 3), 2.5)
                              .Compose(QELXMorph3D(shear, QELXPoint3D(0, 0, 1), 1.0));
    QELXMorph3D inverse;
    ASSERT_EQ(m.Invert(inverse), QELI_OK);
    const QELXPoint3D p(0.7, -1.1, 4.2);
    expectNear(inverse.Apply(m.Apply(p)), p, 1e-12);
    expectNear(m.Apply(inverse.Apply(p)), p, 1e-12);
    EXPECT_TRUE(m.Compose(inverse).IsIdentity());
    EXPECT_NEAR(inverse.scaleFactor(), 0.4, kTol);
}

TEST(QelxMorph3D, SingularMorphHasNoInverse)
{
    QELXAffine flat;
    flat.SetRow(2, 0, 0, 0);
    const QELXMorph3D original(rotationZ(1.0), QELXPoint3D(1, 1, 1), 1.0);
    QELXMorph3D out = original;
    EXPECT_EQ(QELXMorph3D(flat, QELXPoint3D(), 1.0).Invert(out), QELI_FAIL);
    EXPECT_EQ(QELXMorph3D(QELXAffine(), QELXPoint3D(), 0.0).Invert(out), QELI_FAIL);
    expectNear(out.GetTranslation(), original.GetTranslation());
}

TEST(QelxAffine, ElementsRowsAndDeterminant)
{
    QELXAffine a = rotationZ(M_PI / 2);
    EXPECT_NEAR(a.GetElement(0, 1), -1.0, kTol);
    EXPECT_NEAR(a.GetElement(1, 0), 1.0, kTol);
    EXPECT_NEAR(a.Determinant(), 1.0, kTol);
    EXPECT_NEAR(a.Transposed().GetElement(0, 1), 1.0, kTol);
    EXPECT_TRUE((a * a.Transposed()).IsIdentity());

    QELXAffine mirror;
    mirror.SetRow(0, QELXPoint3D(-1, 0, 0));
    EXPECT_NEAR(mirror.Determinant(), -1.0, kTol);
    QELXAffine nearlyIdentity;
    nearlyIdentity.SetRow(1, 0, 1 + 1e-12, 0);
    EXPECT_TRUE(nearlyIdentity.IsIdentity());
}

TEST(QelxBox, SetReturnsSuccessAndStoresCorners)
{
    QELXBox3D box;
    EXPECT_EQ(box.Set(QELXPoint3D(-1, -2, -3), QELXPoint3D(1, 2, 3)), QELI_OK);
    EXPECT_DOUBLE_EQ(box.high()[2], 3.0);
    QELXBox2D box2;
    EXPECT_EQ(box2.Set(QELXPoint2D(0, 1), QELXPoint2D(2, 3)), QELI_OK);
    EXPECT_DOUBLE_EQ(box2.low()[1], 1.0);
}
