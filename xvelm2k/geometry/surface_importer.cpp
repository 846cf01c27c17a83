// Surface import: dispatch, parameter map and the analytic builders.
#include "geometry/surface_importer.hxx"
#include "model/memory_init.hxx"

#include <cmath>

#include "geometry/surface_importer_internal.hxx"
#include "qelx/qelx_geometry_exporter.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "model/math_types.hxx"

using namespace surface_import;

QELXVelmSurfaceImporter::QELXVelmSurfaceImporter(QELXGeometryExporter* exporter, const QELXIdentifier& surface,
                                                 bool faceSense, const Gk_Span& span, const QELXMorph3D& morph,
                                                 double tolerance, int g1Mode)
    : m_exporter(exporter), m_surfaceId(surface), m_faceSense(faceSense), m_span(span), m_morph(morph),
      m_g1Mode(g1Mode), m_tolerance(tolerance)
{
}

QELXVelmSurfaceImporter::~QELXVelmSurfaceImporter()
{
    m_surface = nullptr;
    bs3_surface_delete(m_definition);
}

bool QELXVelmSurfaceImporter::UpdateSense()
{
    m_senseKept = m_faceSense == m_parameterizationSense;
    return m_senseKept;
}

Gk_BiLinMap QELXVelmSurfaceImporter::exporterParameterization(const QELXIdentifier& id, bool* sense) const
{
    double uA = 1.0, uB = 1.0, uC = 0.0, vA = 1.0, vB = 1.0, vC = 0.0;
    bool flag = true;
    m_exporter->GetSurfaceParameterization(id, uA, uB, uC, vA, vB, vC, flag);
    if (sense)
        *sense = flag;
    // A parameterization that is not a finite, invertible map is taken as none.
    const double values[] = {uA, uB, uC, vA, vB, vC};
    for (double v : values)
        if (!std::isfinite(v))
            return Gk_BiLinMap();
    if (uA * uB == 0.0 || vA * vB == 0.0)
        return Gk_BiLinMap();
    return Gk_BiLinMap(Gk_LinMapExt(uA, uB, uC), Gk_LinMapExt(vA, vB, vC));
}

void QELXVelmSurfaceImporter::SetupParamMap()
{
    bool flag = true;
    const Gk_BiLinMap parameterization = exporterParameterization(m_surfaceId, &flag);
    m_map.compose(parameterization, false);
    m_parameterizationSense = flag;
}

QELIResult QELXVelmSurfaceImporter::ImportSurface()
{
    QELIResult result = 0;
    if (!m_exporter)
        return 0x1000001;
    SetupParamMap();
    UpdateSense();
    int type = 0;
    m_exporter->GetSurfaceType(m_surfaceId, type);
    switch (type) {
    case 1:
        ImportPlane();
        break;
    case 2:
    case 3:
        ImportConical();
        break;
    case 4:
        ImportSphere();
        break;
    case 5:
        ImportTorus();
        break;
    case 7:
        ImportRevolved();
        break;
    case 8:
        ImportExtruded();
        break;
    case 9:
        ImportOffset();
        break;
    default:
        result = ImportBSpline();
        break;
    }
    return result;
}

bool QELXVelmSurfaceImporter::placeSurface(surface* made)
{
    dropSurface();
    m_surface = made;
    return made != nullptr;
}

void QELXVelmSurfaceImporter::dropSurface()
{
    delete m_surface;
    m_surface = nullptr;
}

QELIResult QELXVelmSurfaceImporter::ImportPlane()
{
    if (!m_exporter)
        return 0x1000001;
    double o[3] = {0, 0, 0}, u[3] = {0, 0, 0}, n[3] = {0, 0, 0};
    const QELIResult r = m_exporter->GetPlanarSurfaceData(m_surfaceId, o, u, n);
    if (r != 0)
        return r;
    if (!finite(o) || !finite(u) || !finite(n))
        return 0x1000001;
    QELXPoint3D normal = point(n);
    if (!normalise(normal))
        return 0x1000001;
    const QELXPoint3D uVector = point(u);
    const QELXPoint3D w = cross(normal, uVector);
    const QELXPoint3D origin = m_morph.Apply(point(o));
    const QELXPoint3D uMorphed = m_morph.Apply(uVector, true);
    const QELXPoint3D wMorphed = m_morph.Apply(w, true);
    normal = m_morph.Apply(normal, true);
    // A u vector along the normal leaves no v direction: no plane, rather
    // than one whose v scale is not a number.
    const double wLength = wMorphed.Length();
    if (!normalise(normal) || !(wLength > Gk_Def::FuzzPos) || !(uMorphed.Length() > Gk_Def::FuzzPos))
        return 0x1000001;
    plane* made = VELM_MAKE(plane, position(origin), unitVector(normal));
    made->u_deriv = vector(uMorphed);
    // A mirror turns the source's v direction round against normal x u.
    made->reverse_v = Ve_Morph(m_morph).reflects() ? 1 : 0;
    m_map.compose(Gk_BiLinMap(Gk_LinMap(), Gk_LinMap(uMorphed.Length() / wLength, 0.0), false), false);
    const double bound = Ve_OptionDoc::PlaneBound ? Ve_OptionDoc::PlaneBound->value() : 0.0;
    if (bound > 0.0) {
        made->limit_u(QELinterval(0.0, bound));
        made->limit_v(QELinterval(0.0, bound));
    }
    placeSurface(made);
    return 0;
}

QELIResult QELXVelmSurfaceImporter::ImportConical()
{
    if (!m_exporter)
        return 0x1000001;
    double a = 0.0, b = 0.0, c = 0.0;
    double o[3] = {0, 0, 0}, rd[3] = {0, 0, 0}, d[3] = {0, 0, 0};
    const QELIResult r = m_exporter->GetConicalSurfaceData(m_surfaceId, a, b, c, o, rd, d);
    if (r != 0)
        return r;
    if (!std::isfinite(a) || !std::isfinite(b) || !std::isfinite(c) || !finite(o) || !finite(rd) || !finite(d))
        return 0x1000001;
    double cosine = std::cos(b);
    const bool cylinder = Gk_Func::equal(c, 0.0, Gk_Def::FuzzReal);
    if (cylinder) {
        c = 0.0;
        cosine = 1.0;
    }
    const QELXPoint3D origin = m_morph.Apply(point(o));
    QELXPoint3D axis = m_morph.Apply(point(d), true);
    const QELXPoint3D major = m_morph.Apply(point(rd), true) * a;
    if (!normalise(axis))
        return 0x1000001;
    const bool checkAxis = Ve_OptionDoc::isOn(Ve_OptionDoc::CheckConeAxisDirection);
    if (checkAxis && cylinder)
        axis = -axis;
    const QELXPoint3D minor = cross(axis, major);
    // No radius, or a reference direction along the axis: no cone.
    if (!(major.Length() > Gk_Def::FuzzPos) || !(minor.Length() > Gk_Def::FuzzPos) || !(std::fabs(cosine) > 0.0))
        return 0x1000001;
    double ratio = 1.0;
    if (!Gk_Func::equal(major.Length(), minor.Length(), Gk_Def::FuzzPos))
        ratio = minor.Length() / major.Length();
    // Under a mirror each (u, v) stays on the image of its point when the
    // axis turns round with the sine and u, as the kernel mirrors cones.
    const bool mirrored = Ve_Morph(m_morph).reflects();
    cone* made = VELM_MAKE(cone, position(origin), unitVector(mirrored ? -axis : axis), vector(major), ratio,
                           mirrored ? c : -c, cosine, 0.0);
    made->reverse_u = checkAxis ? (m_map.getUPart().getUMap().isNegated() ? 1 : 0) : 1;
    if (mirrored)
        made->reverse_u = !made->reverse_u;
    placeSurface(made);
    return 0;
}

QELIResult QELXVelmSurfaceImporter::ImportSphere()
{
    if (!m_exporter)
        return 0x1000001;
    double radius = 0.0;
    double centre[3] = {0, 0, 0}, dir1[3] = {0, 0, 0}, dir2[3] = {0, 0, 0};
    const QELIResult r = m_exporter->GetSphericalSurfaceData(m_surfaceId, radius, centre, dir1, dir2);
    if (r != 0)
        return r;
    radius *= m_morph.scaleFactor();
    if (!finite(centre) || !finite(dir1) || !finite(dir2) || !std::isfinite(radius) ||
        !(std::fabs(radius) > Gk_Def::FuzzPos))
        return 0x1000001;
    // The data's frame is its canonical one (longitude 0 and pole), as the
    // torus's is: the sphere is built in it, turned as the torus is.
    QELXPoint3D pole = m_morph.Apply(point(dir2), true);
    QELXPoint3D origin = m_morph.Apply(point(dir1), true);
    if (!normalise(pole))
        return 0x1000001;
    origin -= pole * (origin * pole);
    if (!normalise(origin))
        return 0x1000001;
    sphere* made = VELM_MAKE(sphere, position(m_morph.Apply(point(centre))), radius);
    made->origin_dir = unitVector(origin);
    made->pole_dir = unitVector(pole);
    placeSurface(made);
    return 0;
}

QELIResult QELXVelmSurfaceImporter::ImportTorus()
{
    if (!m_exporter)
        return 0x1000001;
    double major = 0.0, minor = 0.0;
    int toroidalType = 0;
    double c[3] = {0, 0, 0}, rd[3] = {0, 0, 0}, d[3] = {0, 0, 0};
    const QELIResult r = m_exporter->GetToroidalSurfaceData(m_surfaceId, major, minor, toroidalType, c, rd, d);
    if (r != 0)
        return r;
    if (!std::isfinite(major) || !std::isfinite(minor) || !finite(c) || !finite(rd) || !finite(d))
        return 0x1000001;
    const QELXPoint3D centre = m_morph.Apply(point(c));
    const QELXPoint3D majorVector = m_morph.Apply(point(rd) * major, true);
    QELXPoint3D normal = m_morph.Apply(point(d), true);
    QELXPoint3D originDir = majorVector;
    // A torus without major radius still needs the direction of its u origin.
    if (!(originDir.Length() > Gk_Def::FuzzPos))
        originDir = m_morph.Apply(point(rd), true);
    const double minorRadius = minor * m_morph.scaleFactor();
    if (!normalise(normal) || !normalise(originDir) || !(std::fabs(minorRadius) > Gk_Def::FuzzPos))
        return 0x1000001;
    torus* made = VELM_MAKE(torus);
    made->centre = position(centre);
    made->normal = unitVector(normal);
    made->major_radius = majorVector.Length();
    made->minor_radius = minorRadius;
    made->origin_dir = unitVector(originDir);
    if (toroidalType == 3)
        made->major_radius = -made->major_radius;
    placeSurface(made);
    // The exporter's sense flag already compares the framework normal with
    // the torus's own frame, whatever the parameter map does, so the map's
    // direction does not touch the sense here.
    return 0;
}
