#include "qelx/gk_surface.hxx"
#include "qelx/qelx_errors.hxx"
#include "qelx/qelx_object_table.hxx"

#include "geom_solve.hxx"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <type_traits>
#include <unordered_map>

namespace {

using gk_solve::kTwoPi;

Gk_Domain unbounded() { return Gk_Domain(0, 0.0, 0.0, Gk_Def::FuzzKnot); }

template <class T>
QELXTypedHandle<T> findAs(std::uint64_t word)
{
    return QELXTypedHandle<T>(dynamic_cast<T*>(QELXObjectTable::find(word)));
}

void handOver(Gk_SurfaceCallback3* cb, const Gk_Plane3Def& d) { cb->doPlane(d, true); }
void handOver(Gk_SurfaceCallback3* cb, const Gk_Cone3Def& d) { cb->doCone(d, true); }
void handOver(Gk_SurfaceCallback3* cb, const Gk_Ellipsoid3Def& d) { cb->doEllipsoid(d, true); }
void handOver(Gk_SurfaceCallback3* cb, const Gk_Torus3Def& d) { cb->doTorus(d, true); }
void handOver(Gk_SurfaceCallback3* cb, const Gk_SpunSurface3Def& d) { cb->doSpun(d, true); }
void handOver(Gk_SurfaceCallback3* cb, const Gk_SweptSurface3Def& d) { cb->doSwept(d, true); }
void handOver(Gk_SurfaceCallback3* cb, const Gk_OffsetSurface3Def& d) { cb->doOffset(d, true); }
void handOver(Gk_SurfaceCallback3* cb, const Gk_BSSurface3Def& d) { cb->doBSpline(d, true); }

Gk_SurfaceType3::Enum typeOf(const Gk_Plane3Def&) { return Gk_SurfaceType3::Plane; }
// Cylinders report as cones, as the kernel adapter does.
Gk_SurfaceType3::Enum typeOf(const Gk_Cone3Def&) { return Gk_SurfaceType3::Cone; }
Gk_SurfaceType3::Enum typeOf(const Gk_Ellipsoid3Def& d)
{
    return d.isSphere() ? Gk_SurfaceType3::Sphere : Gk_SurfaceType3::Ellipsoid;
}
Gk_SurfaceType3::Enum typeOf(const Gk_Torus3Def&) { return Gk_SurfaceType3::Torus; }
Gk_SurfaceType3::Enum typeOf(const Gk_SpunSurface3Def&) { return Gk_SurfaceType3::Revolution; }
Gk_SurfaceType3::Enum typeOf(const Gk_SweptSurface3Def&) { return Gk_SurfaceType3::Swept; }
Gk_SurfaceType3::Enum typeOf(const Gk_OffsetSurface3Def&) { return Gk_SurfaceType3::Offset; }
Gk_SurfaceType3::Enum typeOf(const Gk_BSSurface3Def&) { return Gk_SurfaceType3::BSpline; }

// Principal ranges: [0, period] of periodic directions, else unbounded.
Gk_Span principal(const Gk_Plane3Def&) { return Gk_Span(unbounded(), unbounded()); }
Gk_Span principal(const Gk_Cone3Def&) { return Gk_Span(unbounded(), Gk_Domain(0.0, kTwoPi)); }
Gk_Span principal(const Gk_Ellipsoid3Def&) { return Gk_Span(Gk_Domain(0.0, kTwoPi), unbounded()); }
Gk_Span principal(const Gk_Torus3Def&) { return Gk_Span(Gk_Domain(0.0, kTwoPi), Gk_Domain(0.0, kTwoPi)); }
Gk_Span principal(const Gk_SpunSurface3Def&) { return Gk_Span(unbounded(), Gk_Domain(0.0, kTwoPi)); }
Gk_Span principal(const Gk_SweptSurface3Def&) { return Gk_Span(unbounded(), unbounded()); }
Gk_Span principal(const Gk_OffsetSurface3Def& d)
{
    if (d.isEmpty() || !d.ReferenceSurface()->getMap().isIdentity())
        return Gk_Span(unbounded(), unbounded());
    const Gk_BaseSurface3Handle& base = d.ReferenceSurface()->getBase();
    return Gk_Span(base->uPrincipalRange(), base->vPrincipalRange());
}
Gk_Span principal(const Gk_BSSurface3Def& d)
{
    const Gk_Span span = d.net().span();
    return Gk_Span(d.net().isUPeriodic() ? span.u() : unbounded(), d.net().isVPeriodic() ? span.v() : unbounded());
}

} // namespace

QELXPoint3D Gk_Flat3::normal() const
{
    if (m_size < 2)
        return QELXPoint3D();
    QELXPoint3D n = QELXPoint3D::VectorProduct(derivative(1, 0), derivative(0, 1));
    n.Normalize();
    return m_flipped ? -n : n;
}

// ---- Gk_BaseSurface3 defaults

QELXPoint2D Gk_BaseSurface3::invertNewton(const QELXPoint3D& p, const QELXPoint2D& guess, Gk_Flat3* derivatives) const
{
    const QELXPoint2D uv =
        gk_solve::newton([this](const QELXPoint2D& x, Gk_Flat3* f) { return eval(x, f); }, p, guess);
    if (derivatives)
        eval(uv, derivatives);
    return uv;
}

QELXPoint2D Gk_BaseSurface3::invertBySampling(const QELXPoint3D& p, const Gk_Span& span, Gk_Flat3* derivatives) const
{
    const QELXPoint2D uv =
        gk_solve::sampled([this](const QELXPoint2D& x, Gk_Flat3* f) { return eval(x, f); }, p, span);
    if (derivatives)
        eval(uv, derivatives);
    return uv;
}

Gk_Domain Gk_BaseSurface3::uPrincipalRange() const { return unbounded(); }
Gk_Domain Gk_BaseSurface3::vPrincipalRange() const { return unbounded(); }

QELXBSplineNetDef3D Gk_BaseSurface3::bspline(const Gk_Span& span) const
{
    Gk_SurfApproxInfoHandle discarded;
    return bspline(span, nullptr, &discarded);
}

QELXBSplineNetDef3D Gk_BaseSurface3::bspline(const Gk_ApproxInfo* info, Gk_SurfApproxInfoHandle* out) const
{
    return bspline(Gk_Span(), info, out);
}

QELXBSplineNetDef3D Gk_BaseSurface3::bspline(const Gk_Span&, const Gk_ApproxInfo*, Gk_SurfApproxInfoHandle* out) const
{
    if (out)
        *out = Gk_SurfApproxInfoHandle();
    return QELXBSplineNetDef3D();
}

QELIResult Gk_BaseSurface3::GetBoundingBox(const Gk_Span& span, QELXBox3D& box) const
{
    if (!span.u().isFinite() || !span.v().isFinite())
        return QELI_FAIL;
    constexpr int n = 16;
    QELXPoint3D low = eval(QELXPoint2D(span.u().low(), span.v().low()), nullptr), high = low;
    for (int i = 0; i <= n; ++i)
        for (int j = 0; j <= n; ++j) {
            const QELXPoint3D p = eval(QELXPoint2D(span.u().locate(double(i) / n), span.v().locate(double(j) / n)), nullptr);
            for (int c = 0; c < 3; ++c) {
                low[c] = std::min(low[c], p[c]);
                high[c] = std::max(high[c], p[c]);
            }
        }
    return box.Set(low, high);
}

void Gk_BaseSurface3::apply(const QELXMorph3D&) { Gk_ErrMgr::doAssert("gk_surface", 1); }

void Gk_BaseSurface3::traverse(Gk_SurfaceCallback3* callback) const
{
    if (callback)
        callback->doDefault(*this);
}

QELXPoint3D Gk_BaseSurface3::snapToPoint(const QELXPoint3D& p) const
{
    const QELXSnapper3D* snapper = getSnapper();
    return snapper ? snapper->snap(p) : p;
}

void Gk_BaseSurface3::dump(QELXStreamFormatter& out) const { out << GetName(); }

// ---- Gk_Surface3

Gk_Surface3Handle Gk_Surface3::Create(const Gk_BaseSurface3Handle& base, bool sameSense, const Gk_BiLinMap& map)
{
    Gk_Surface3* surface = new Gk_Surface3(base, sameSense, map);
    surface->m_word = surface->GetPersistentIdentifier();
    Gk_GeometryTable::enter(surface->m_word, surface);
    return surface;
}

Gk_Surface3::~Gk_Surface3() { Gk_GeometryTable::leave(m_word, this); }

Gk_Surface3Handle Gk_Surface3::Copy() const
{
    return Create(m_base.IsValid() ? m_base->clone() : Gk_BaseSurface3Handle(), m_sameSense, m_map);
}

QELXPoint3D Gk_Surface3::eval(const QELXPoint2D& uv, Gk_Flat3* flat) const
{
    if (flat)
        flat->setNormalFlipped(false);
    const QELXPoint3D p = m_base->eval(m_map.apply(uv), flat);
    if (!flat)
        return p;
    // Output u drives the base parameter fed by the u map's input.
    const double su = m_map.getLinUMap().slope(), sv = m_map.getLinVMap().slope();
    const bool cross = m_map.isCross();
    const Gk_Flat3 base = *flat;
    for (int i = 0; i < flat->size(); ++i)
        for (int j = 0; j < flat->size(); ++j) {
            if (cross) // U = mu(v), V = mv(u): d/du = sv d/dV, d/dv = su d/dU.
                flat->derivative(i, j) = base.derivative(j, i) * (std::pow(sv, i) * std::pow(su, j));
            else
                flat->derivative(i, j) = base.derivative(i, j) * (std::pow(su, i) * std::pow(sv, j));
        }
    // The normal stays the base's (reversed when not same sense), whatever
    // the map does to the orientation of the frame.
    if (!m_sameSense != !m_map.isForward())
        flat->flipNormal();
    return p;
}

QELXPoint2D Gk_Surface3::invert(const QELXPoint3D& p, Gk_Flat3* flat) const
{
    const QELXPoint2D uv = m_map.inverse().apply(m_base->invert(p, nullptr));
    if (flat)
        eval(uv, flat);
    return uv;
}

void Gk_Surface3::traverse(Gk_SurfaceCallback3* callback) const
{
    if (!callback)
        return;
    callback->map() = m_map;
    callback->setSpan(Gk_Span());
    m_base->traverse(callback);
}

unsigned long Gk_Surface3::GetPersistentIdentifier() const
{
    return m_base.IsValid() ? m_base->GetPersistentIdentifier() : 0;
}

// ---- Gk_DefSurface3

template <class Def>
Gk_SurfaceType3::Enum Gk_DefSurface3<Def>::GetGkSurfaceType3() const
{
    return typeOf(m_def);
}

template <class Def>
bool Gk_DefSurface3<Def>::isAnalytic() const
{
    const int type = typeOf(m_def);
    return type >= Gk_SurfaceType3::Plane && type <= Gk_SurfaceType3::Torus;
}

template <class Def>
QELXPoint2D Gk_DefSurface3<Def>::invert(const QELXPoint3D& p, Gk_Flat3* flat) const
{
    const QELXPoint2D uv = m_def.invert(p);
    if (flat)
        m_def.eval(uv, flat);
    return uv;
}

template <class Def>
Gk_Domain Gk_DefSurface3<Def>::uPrincipalRange() const
{
    return principal(m_def).u();
}

template <class Def>
Gk_Domain Gk_DefSurface3<Def>::vPrincipalRange() const
{
    return principal(m_def).v();
}

template <class Def>
QELXBSplineNetDef3D Gk_DefSurface3<Def>::bspline(const Gk_Span&, const Gk_ApproxInfo*, Gk_SurfApproxInfoHandle* out) const
{
    if (out)
        *out = Gk_SurfApproxInfoHandle();
    if constexpr (std::is_same_v<Def, Gk_BSSurface3Def>)
        return m_def.net();
    else
        return QELXBSplineNetDef3D();
}

template <class Def>
void Gk_DefSurface3<Def>::apply(const QELXMorph3D& morph)
{
    if constexpr (requires(Def d) { d.Transform(morph); })
        m_def.Transform(morph);
    else
        Gk_BaseSurface3::apply(morph);
}

template <class Def>
void Gk_DefSurface3<Def>::traverse(Gk_SurfaceCallback3* callback) const
{
    if (callback)
        handOver(callback, m_def);
}

template <class Def>
unsigned long Gk_DefSurface3<Def>::GetPersistentIdentifier() const
{
    return static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(this));
}

template class Gk_DefSurface3<Gk_Plane3Def>;
template class Gk_DefSurface3<Gk_Cone3Def>;
template class Gk_DefSurface3<Gk_Ellipsoid3Def>;
template class Gk_DefSurface3<Gk_Torus3Def>;
template class Gk_DefSurface3<Gk_SpunSurface3Def>;
template class Gk_DefSurface3<Gk_SweptSurface3Def>;
template class Gk_DefSurface3<Gk_OffsetSurface3Def>;
template class Gk_DefSurface3<Gk_BSSurface3Def>;

// ---- geometry-object table

Gk_Surface3Handle Gk_GeometryTable::findSurface(std::uint64_t word) { return findAs<Gk_Surface3>(word); }
QELXCurve3DHandle Gk_GeometryTable::findCurve(std::uint64_t word) { return findAs<QELXCurve3D>(word); }
QELXCurve2DHandle Gk_GeometryTable::findPCurve(std::uint64_t word) { return findAs<QELXCurve2D>(word); }
int Gk_GeometryTable::size() { return QELXObjectTable::size(); }

void Gk_GeometryTable::enter(std::uint64_t word, QELXReferenceCount* object) { QELXObjectTable::enter(word, object); }

void Gk_GeometryTable::leave(std::uint64_t word, const QELXReferenceCount* object)
{
    QELXObjectTable::leave(word, object);
}
