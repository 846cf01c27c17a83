#pragma once
// Kernel geometry for the geometry tests, and a holder that keeps one use of
// an entity for the length of a test, so the kernel loses it at the end.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "qelx/qelx_test.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/memory.hxx"
#include "velm/testkit.hxx"

namespace geomtest {

constexpr double kPi = std::numbers::pi;

// One use of the entity while the holder lives.
template <class E>
class Held {
public:
    explicit Held(E* e) : m_e(e) { m_e->add(); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    ~Held() { m_e->remove(); }
    E* get() const { return m_e; }
    E* operator->() const { return m_e; }

private:
    E* m_e;
};

// Clamped cubic through four control points per span count, knots on [t0, t1].
inline bs3_curve cubicCurve(const std::vector<QELposition>& pts, double t0 = 0.0, double t1 = 1.0,
                            const std::vector<double>* weights = nullptr)
{
    const int n = static_cast<int>(pts.size());
    const int p = 3;
    std::vector<double> knots;
    for (int i = 0; i <= p; ++i)
        knots.push_back(t0);
    for (int i = 1; i < n - p; ++i)
        knots.push_back(t0 + (t1 - t0) * i / (n - p));
    for (int i = 0; i <= p; ++i)
        knots.push_back(t1);
    return bs3_curve_from_ctrlpts(p, weights ? 1 : 0, 0, 0, n, pts.data(), weights ? weights->data() : nullptr,
                                  QELresabs, static_cast<int>(knots.size()), knots.data(), bs3_curve_knottol());
}

inline std::vector<QELposition> wavyPoints()
{
    return {QELposition(0, 0, 0), QELposition(1, 2, 0), QELposition(3, 3, 1),
            QELposition(4, 1, 2), QELposition(6, 0, 1), QELposition(7, 2, 0)};
}

// Quadratic 2-D B-spline on [0, 2] (points (u, v, 0)).
inline bs2_curve quadraticPCurve()
{
    const QELposition pts[] = {QELposition(0.1, 0.2, 0), QELposition(0.5, 0.9, 0), QELposition(1.2, 0.4, 0),
                               QELposition(1.6, 1.1, 0)};
    const double knots[] = {0, 0, 0, 1, 2, 2, 2};
    return bs2_curve_from_ctrlpts(2, 0, 0, 0, 4, pts, nullptr, QELresabs, 7, knots, bs3_curve_knottol());
}

// Between a framework point and a kernel position or vector.
template <class K>
double dist(const QELXPoint3D& a, const K& b)
{
    return std::hypot(a[0] - b.x(), a[1] - b.y(), a[2] - b.z());
}

// A rotation of 50 degrees about (1, 2, 2) / 3, followed by a mirror in x
// when asked, scaled by 2.5 and moved by (3, -1, 2): a frame that is neither
// the identity nor orthonormal nor right-handed.
inline QELXMorph3D tiltedMorph(bool mirror)
{
    const double a = 50.0 * kPi / 180.0, c = std::cos(a), s = std::sin(a);
    const double k[3] = {1.0 / 3.0, 2.0 / 3.0, 2.0 / 3.0};
    QELXAffine r;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            const double cross = (i == j) ? 0.0 : ((j == (i + 1) % 3) ? -k[3 - i - j] : k[3 - i - j]);
            r.SetElement(i, j, (i == j ? c : 0.0) + (1.0 - c) * k[i] * k[j] + s * cross);
        }
    if (mirror)
        for (int j = 0; j < 3; ++j)
            r.SetElement(0, j, -r.GetElement(0, j));
    return QELXMorph3D(r, QELXPoint3D(3.0, -1.0, 2.0), 2.5);
}

// The unbounded domain a traversal callback is made with.
inline Gk_Domain& unboundedDomain()
{
    static Gk_Domain d;
    return d;
}

// An adapter holds one use of its entity while it lives, and so does each
// copy, made or assigned; its clone owns a new entity with one use, lost with
// the clone. The persistent identifier is the entity's address, 0 without one.
template <class E, class Make, class EntityOf>
void expectAdapterUses(E* e, Make make, EntityOf entityOf)
{
    using Adapter = decltype(make());
    ASSERT_EQ(e->use_count(), 1);
    E* cloned = nullptr;
    {
        Adapter adapter = make();
        EXPECT_EQ(e->use_count(), 2);
        {
            Adapter copy(adapter);
            EXPECT_EQ(e->use_count(), 3);
            Adapter other(nullptr, {});
            EXPECT_EQ(other.GetPersistentIdentifier(), 0u);
            other = copy;
            EXPECT_EQ(e->use_count(), 4);
        }
        EXPECT_EQ(e->use_count(), 2);
        auto clone = adapter.clone();
        cloned = entityOf(static_cast<const Adapter&>(*clone.get()));
        EXPECT_NE(cloned, e);
        EXPECT_EQ(cloned->use_count(), 1);
        EXPECT_EQ(e->use_count(), 2);
        EXPECT_EQ(adapter.GetPersistentIdentifier(), reinterpret_cast<std::uintptr_t>(e));
    }
    EXPECT_EQ(e->use_count(), 1);
    EXPECT_FALSE(velm_is_live_entity(cloned));
}

// Kernel state and framework state back to load state around each test.
class GeometryTest : public ::testing::Test {
protected:
    void SetUp() override { qelx_test::resetFramework(); velm_test_reset(); }
    void TearDown() override { qelx_test::resetFramework(); }
};

} // namespace geomtest
