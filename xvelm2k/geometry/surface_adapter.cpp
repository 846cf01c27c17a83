#include "geometry/surface_adapter.hxx"

#include "qelx/qelx_errors.hxx"
#include "qelx/qelx_options.hxx"
#include "qelx_velm/velm_entity_utils.hxx"
#include "model/memory_init.hxx"

namespace {

// Degenerate kernel data leaves a definition empty; it goes nowhere.
template <class Def, class Hand>
void handOver(const Def& def, Hand&& hand)
{
    if (!def.isEmpty())
        hand(def);
}

} // namespace

Ve_BaseSurface::Ve_BaseSurface(Ve_SurfaceTag* surface, const Gk_Span& span) : m_surface(surface), m_span(span) {}

// Copies share the caches and take a use of their own.
Ve_BaseSurface::Ve_BaseSurface(const Ve_BaseSurface&) = default;
Ve_BaseSurface& Ve_BaseSurface::operator=(const Ve_BaseSurface&) = default;
Ve_BaseSurface::~Ve_BaseSurface() = default;

Gk_BaseSurface3Handle Ve_BaseSurface::clone() const
{
    // The new adapter's constructor takes the one use of the new surface.
    Ve_BaseSurface* twin = new Ve_BaseSurface(m_surface ? m_surface->copy() : nullptr, m_span);
    if (m_referenceSurface.IsValid())
        twin->m_referenceSurface = m_referenceSurface->Copy();
    if (m_revolvedCurve.IsValid())
        twin->m_revolvedCurve = m_revolvedCurve->Copy();
    return twin;
}

Gk_SurfaceType3::Enum Ve_BaseSurface::GetGkSurfaceType3() const
{
    switch (const Gk_SurfaceType3::Enum t = m_surface->typeId()) {
    case Gk_SurfaceType3::Plane:
    case Gk_SurfaceType3::Sphere:
    case Gk_SurfaceType3::Torus:
    case Gk_SurfaceType3::Revolution:
    case Gk_SurfaceType3::Offset:
    case Gk_SurfaceType3::BSpline:
        return t;
    case Gk_SurfaceType3::Cylinder:
    case Gk_SurfaceType3::Cone:
        return Gk_SurfaceType3::Cone;
    default:
        return Gk_SurfaceType3::None;
    }
}

bool Ve_BaseSurface::IsRightHandedUV() const
{
    return m_surface->IsRightHandedUV();
}

bool Ve_BaseSurface::isAnalytic() const
{
    return m_surface->isAnalytic();
}

QELXPoint3D Ve_BaseSurface::eval(const QELXPoint2D& uv, Gk_Flat3* derivatives) const
{
    return m_surface->eval(uv, derivatives);
}

QELXPoint2D Ve_BaseSurface::invert(const QELXPoint3D& point, Gk_Flat3* derivatives) const
{
    return m_surface->invert(point, derivatives);
}

Gk_Domain Ve_BaseSurface::uPrincipalRange() const
{
    return m_surface->uPrincipalRange();
}

Gk_Domain Ve_BaseSurface::vPrincipalRange() const
{
    return m_surface->vPrincipalRange();
}

QELXBSplineNetDef3D Ve_BaseSurface::bspline(const Gk_ApproxInfo* info, Gk_SurfApproxInfoHandle* infoOut) const
{
    const Gk_Option* limits = Gk_OptionDoc::fetchOption(Gk_ROString("/XVelm/UseSurfaceLimits"));
    if (limits && limits->on())
        return m_surface->getSplineSurface();
    return m_surface->bspline(m_span, info, infoOut);
}

QELXBSplineNetDef3D Ve_BaseSurface::bspline(const Gk_Span& span, const Gk_ApproxInfo* info,
                                            Gk_SurfApproxInfoHandle* infoOut) const
{
    return m_surface->bspline(span, info, infoOut);
}

QELIResult Ve_BaseSurface::GetBoundingBox(const Gk_Span& span, QELXBox3D& box) const
{
    return m_surface->GetBoundingBox(span, box);
}

void Ve_BaseSurface::apply(const QELXMorph3D&)
{
    Gk_ErrMgr::checkAbort();
    Gk_ErrMgr::doAssert("ve_surface", 99);
}

void Ve_BaseSurface::traverse(Gk_SurfaceCallback3* callback) const
{
    if (!callback)
        return;
    const Gk_SurfaceType3::Enum type = m_surface->typeId();
    callback->map().compose(m_surface->getMap(), false);
    const bool rightHanded = type == Gk_SurfaceType3::None ? true : m_surface->IsRightHandedUV();
    switch (type) {
    case Gk_SurfaceType3::Plane:
        handOver(m_surface->getPlane(), [&](const Gk_Plane3Def& d) { callback->doPlane(d, rightHanded); });
        break;
    case Gk_SurfaceType3::Cylinder:
    case Gk_SurfaceType3::Cone:
        handOver(m_surface->getCone(), [&](const Gk_Cone3Def& d) { callback->doCone(d, rightHanded); });
        break;
    case Gk_SurfaceType3::Sphere:
        handOver(m_surface->getSphere(), [&](const Gk_Ellipsoid3Def& d) { callback->doEllipsoid(d, rightHanded); });
        break;
    case Gk_SurfaceType3::Torus:
        handOver(m_surface->getTorus(), [&](const Gk_Torus3Def& d) { callback->doTorus(d, rightHanded); });
        break;
    case Gk_SurfaceType3::BSpline:
        handOver(Gk_BSSurface3Def(m_surface->getSplineSurface()),
                 [&](const Gk_BSSurface3Def& d) { callback->doBSpline(d, rightHanded); });
        break;
    case Gk_SurfaceType3::Revolution:
        handOver(m_surface->getSpunSurface(m_revolvedCurve), [&](const Gk_SpunSurface3Def& d) {
            if (!m_revolvedCurve.IsValid())
                m_revolvedCurve = d.RevolvedCurve();
            callback->doSpun(d, rightHanded);
        });
        break;
    case Gk_SurfaceType3::Offset:
        handOver(m_surface->getOffsetSurface(m_referenceSurface, m_span), [&](const Gk_OffsetSurface3Def& d) {
            if (!m_referenceSurface.IsValid())
                m_referenceSurface = d.ReferenceSurface();
            callback->doOffset(d, rightHanded);
        });
        break;
    case Gk_SurfaceType3::None: {
        Gk_Span mapped = m_span;
        mapped.apply(callback->map());
        callback->setSpan(mapped);
        callback->doDefault(*this);
        break;
    }
    default:
        break;
    }
}

Gk_SurfacePoleArray Ve_BaseSurface::getPoles() const
{
    const QELXDynamicArray<Gk_SurfacePole> poles = m_surface->getPoles();
    return Gk_SurfacePoleArray(poles.begin(), poles.end());
}

unsigned long Ve_BaseSurface::GetPersistentIdentifier() const
{
    return m_surface ? QELXVelmEntityUtils::GetIdentifier(m_surface->entity()) : 0;
}
