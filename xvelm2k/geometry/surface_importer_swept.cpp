// Surface import: extruded and revolved surfaces over an imported profile.
//
// Parameters: the face span is in framework parameters; the parameter map
// takes it to the canonical ones, in which u is the profile's own parameter
// and v the extrusion length or the angle. The profile map then takes u on
// to the kernel profile's parameter, so the final map is the surface map
// followed by the profile map.
#include <cmath>
#include <memory>

#include "geometry/curve_importer.hxx"
#include "geometry/surface_importer.hxx"
#include "geometry/surface_importer_internal.hxx"
#include "model/kernel_call_bracket.hxx"
#include "qelx/qelx_geometry_exporter.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "velm/law.hxx"
#include "model/math_types.hxx"

using namespace surface_import;

namespace {

QELinterval intervalOf(const Gk_Domain& d)
{
    if (d.isFinite())
        return QELinterval(d.low(), d.high());
    if (d.isLowBounded())
        return QELinterval(interval_bounded_below, d.low(), 0.0);
    if (d.isHighBounded())
        return QELinterval(interval_bounded_above, 0.0, d.high());
    return QELinterval(interval_unbounded, 0.0, 0.0);
}

// A periodic profile covers one period from the later of its own start and
// the domain's start.
Gk_Domain onePeriod(const curve& profile, const Gk_Domain& domain)
{
    const double period = profile.param_period();
    if (!(period > 0.0) || !domain.isFinite() || !(domain.length() > period))
        return domain;
    const double start = std::max(profile.param_range().start_pt(), domain.low());
    return Gk_Domain(start, start + period, Gk_Def::FuzzKnot);
}

// The profile direction's part of the final map reverses the surface's u.
bool reverses(const Gk_LinMap& profileMap) { return profileMap.slope() < 0.0; }

} // namespace

curve* QELXVelmSurfaceImporter::importProfile(const QELXIdentifier& profile, const Gk_Domain& domain,
                                              Gk_LinMap& profileMap)
{
    QELXVelmCurveImporter importer(m_exporter, profile, domain, m_tolerance, m_morph, false, false);
    importer.ImportCurve();
    const curve* made = importer.GetCurve();
    profileMap = importer.GetParamMap();
    // Reversed, the curve runs in the negated source parameter: the negation
    // comes before the importer's map (an ellipse's scale), not after it.
    if (importer.IsReversed())
        profileMap = Gk_LinMap(-1.0, 0.0).compose(profileMap);
    return made ? made->make_copy() : nullptr;
}

QELIResult QELXVelmSurfaceImporter::ImportExtruded()
{
    if (!m_exporter)
        return kFailed;
    double e[3] = {0, 0, 0};
    QELXIdentifier profileId;
    m_exporter->GetExtrudedSurfaceData(m_surfaceId, e, profileId);
    if (!finite(e))
        return kFailed;
    Gk_Span mapped(m_span);
    mapped.apply(m_map);
    Gk_LinMap profileMap;
    std::unique_ptr<curve> profile(importProfile(profileId, mapped.u(), profileMap));
    // No profile, or no direction to extrude along: no surface.
    const QELXPoint3D direction = m_morph.Apply(point(e), true);
    if (!profile || !(direction.Length() > Gk_Def::FuzzPos))
        return kFailed;
    QELXPoint3D unitDirection = direction;
    normalise(unitDirection);
    // The rail only gives the sweep its direction; where it starts does not move the surface.
    const double uStart = mapped.u().isLowBounded() ? mapped.u().low() : 0.0;
    surface* made = nullptr;
    const outcome r = velmInnerCall([&] {
        const QELposition start = profile->eval_position(profileMap(uStart));
        const straight rail(start, unitVector(unitDirection), direction.Length());
        if (profile->type() == 1 && Ve_OptionDoc::isOn(Ve_OptionDoc::ApproximateSurf)) {
            const straight& line = static_cast<const straight&>(*profile);
            QELXPoint3D normal = cross(point(QELvector(line.direction)), unitDirection);
            if (normalise(normal)) {
                made = VELM_MAKE(plane, line.root_point, unitVector(normal));
                return;
            }
        }
        Gk_Span span(onePeriod(*profile, mapped.u()), mapped.v());
        span.u().apply(profileMap);
        const double vStart = span.v().isLowBounded() ? span.v().low() : 0.0;
        *profile *= translate_transf(vector(direction) * vStart);
        law* railLaw = VELM_NEW vector_law(vector(unitDirection.Orthogonalize()));
        law* taper = VELM_NEW constant_law(0.0);
        law* scale = VELM_NEW vector_law(QELvector(1.0, 1.0, 1.0));
        spl_sur* sweep = railLaw && taper && scale ? VELM_NEW sweep_spl_sur(*profile, rail, railLaw, taper, scale,
                                                                              intervalOf(span.u()), intervalOf(span.v()))
                                                   : nullptr;
        // The sweep holds the laws it uses; none is left behind when it could not be made.
        for (law* l : {railLaw, taper, scale})
            if (l)
                l->remove();
        made = VELM_ADOPT(spline, velm_require(sweep));
        m_span = span;
        m_map.compose(Gk_BiLinMap(profileMap, Gk_LinMap(), false), false);
        // A profile that runs against the surface's u turns the frame round.
        if (reverses(profileMap))
            m_senseKept = !m_senseKept;
    });
    if (!r.ok() || !made) {
        delete made;
        return kFailed;
    }
    // A mirrored profile and rail turn Su x Sv inwards; the normal keeps to
    // the image of the source's, as for a spline net, so that a face and an
    // offset over this surface stay on the moved side.
    if (Ve_Morph(m_morph).reflects() && !velmInnerCall([&] { made->negate(); }).ok()) {
        delete made;
        return kFailed;
    }
    placeSurface(made);
    return 0;
}

QELIResult QELXVelmSurfaceImporter::ImportRevolved()
{
    if (!m_exporter)
        return kFailed;
    double p[3] = {0, 0, 0}, a[3] = {0, 0, 0};
    QELXIdentifier profileId;
    m_exporter->GetRevolvedSurfaceData(m_surfaceId, p, a, profileId);
    if (!finite(p) || !finite(a))
        return kFailed;
    const QELXPoint3D axisPoint = m_morph.Apply(point(p));
    QELXPoint3D axis = m_morph.Apply(point(a), true);
    if (!normalise(axis))
        return kFailed;
    Gk_Span mapped(m_span);
    mapped.apply(m_map);
    double uPair[2] = {0, 0}, vPair[2] = {0, 0};
    m_exporter->GetSurfaceSpan(m_surfaceId, uPair, vPair);
    const Gk_Domain surfaceU(uPair[0], uPair[1], Gk_Def::FuzzKnot);
    int profileType = 0;
    m_exporter->GetCurveType(profileId, profileType);
    const Gk_Domain profileDomain =
        mapped.u().isFinite() && (surfaceU.isContained(mapped.u()) || profileType == 3) ? mapped.u() : surfaceU;
    Gk_LinMap profileMap;
    std::unique_ptr<curve> profile(importProfile(profileId, profileDomain, profileMap));
    if (!profile)
        return kFailed;
    surface* made = nullptr;
    const outcome r = velmInnerCall([&] {
        if (profile->type() == 1 && Ve_OptionDoc::isOn(Ve_OptionDoc::ApproximateSurf)) {
            made = revolvedLine(static_cast<const straight&>(*profile), axisPoint, axis);
            if (made)
                return;
        }
        const Gk_Domain kernelU = onePeriod(*profile, Gk_Domain(profileDomain).apply(profileMap));
        const QELinterval uRange = intervalOf(kernelU);
        spl_sur* rot = Gk_Func::equal(kernelU.length(), 0.0, Gk_Def::FuzzReal)
                           ? VELM_NEW rot_spl_sur(*profile, position(axisPoint), vector(axis))
                           : VELM_NEW rot_spl_sur(*profile, position(axisPoint), vector(axis), &uRange);
        made = VELM_ADOPT(spline, velm_require(rot));
    });
    if (!r.ok() || !made) {
        delete made;
        return kFailed;
    }
    Gk_Span span(profileDomain, mapped.v());
    m_span = span;
    m_map.compose(Gk_BiLinMap(profileMap, Gk_LinMap(), false), false);
    if (reverses(profileMap))
        m_senseKept = !m_senseKept;
    placeSurface(made);
    return 0;
}

surface* QELXVelmSurfaceImporter::revolvedLine(const straight& line, const QELXPoint3D& axisPoint,
                                               const QELXPoint3D& axis)
{
    const QELvector d = line.direction;
    double cosine = d % vector(axis);
    double sine = 0.0;
    if (Gk_Func::equal(cosine, 1.0, Gk_Def::FuzzReal))
        cosine = 1.0;
    else if (Gk_Func::equal(cosine, -1.0, Gk_Def::FuzzReal))
        cosine = -1.0;
    else
        sine = std::sqrt(std::max(0.0, 1.0 - cosine * cosine));
    const straight axisLine(position(axisPoint), unitVector(axis), 1.0);
    const QELposition q = axisLine.eval_position(1.0);
    QELposition foot, g0, g1;
    axisLine.point_perp(line.root_point, foot);
    line.point_perp(position(axisPoint), g0);
    line.point_perp(q, g1);
    const double r0 = (g0 - position(axisPoint)).len(), r1 = (g1 - q).len();
    const double s = (r1 > r0 && cosine >= 0.0) || (r1 <= r0 && cosine < 0.0) ? sine : -sine;
    const QELvector major = line.root_point - foot;
    // A line through the axis sweeps no cone.
    if (!(major.len() > QELresabs) || cosine == 0.0)
        return nullptr;
    return VELM_MAKE(cone, foot, unitVector(axis), major, 1.0, s, cosine, 0.0);
}
