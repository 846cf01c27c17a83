// The face's surfaces handed to the framework: its own surface and the
// analytic surface it may carry.
#include "geometry/surface_adapter.hxx"
#include "model/entity_views.hxx"
#include "model/memory_init.hxx"
#include "persist/analytic_surface_attribute.hxx"
#include "velm/attrib.hxx"

namespace {

// An offset whose base is no kernel spline.
bool offsetOverNonSpline(const SURFACE* s)
{
    if (s->type() != 10)
        return false;
    const spl_sur& kind = static_cast<const spline&>(s->equation()).get_spl_sur();
    return kind.id() == off_spl_sur::id && static_cast<const off_spl_sur&>(kind).base().type() != 10;
}

Gk_Surface3Handle surfaceOf(SURFACE* s, const Gk_Span& span, bool sameSense)
{
    const Gk_BaseSurface3Handle base(new Ve_BaseSurface(Ve_SurfaceTag::view(s), span));
    return Gk_Surface3::Create(base, sameSense, Gk_BiLinMap());
}

Gk_Surface3Handle ownSurface(const Ve_FaceTag* face, bool sameSense)
{
    SURFACE* s = reinterpret_cast<SURFACE*>(face->getSurface());
    if (!s)
        return Gk_Surface3Handle();
    // Approximated surfaces and offsets over non-splines are bounded by the
    // face; the framework takes every other kind whole.
    const Gk_SurfaceType3::Enum type = Ve_SurfaceTag::view(s)->typeId();
    const bool bounded = type == Gk_SurfaceType3::None || (type == Gk_SurfaceType3::Offset && offsetOverNonSpline(s));
    return surfaceOf(s, bounded ? face->getSpan() : Gk_Span(), sameSense);
}

Gk_Surface3Handle analyticSurface(const Ve_FaceTag* face, bool sameSense)
{
    ENTITY* faceEntity = reinterpret_cast<ENTITY*>(const_cast<Ve_FaceTag*>(face));
    const auto* marker = static_cast<const ATTRIB_ANALYT_SURF*>(find_attrib(faceEntity, ATTRIB_ANALYT_SURF_TYPE));
    ENTITY* surface = marker ? marker->surface() : nullptr;
    if (!is_SURFACE(surface))
        return Gk_Surface3Handle();
    api_remove_generic_named_attribute(faceEntity, "ATTRIB_XVELM_ANALYTIC_SURFACE");
    return surfaceOf(static_cast<SURFACE*>(surface), Gk_Span(), sameSense);
}

} // namespace

Gk_Surface3Handle Ve_FaceTag::GetSurface() const
{
    return ownSurface(this, true);
}

Gk_Surface3Handle Ve_FaceTag::wrappedSurface() const
{
    return ownSurface(this, isForward());
}

Gk_Surface3Handle Ve_FaceTag::GetSurfaceAnalytic() const
{
    return analyticSurface(this, true);
}

Gk_Surface3Handle Ve_FaceTag::wrappedSurface2() const
{
    return analyticSurface(this, isForward());
}
