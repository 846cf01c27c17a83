#include "qelx/gk_surface.hxx"
#include "qelx/qelx_curve.hxx"
#include "qelx/qelx_geometry_exporter.hxx"
#include "qelx/qelx_object_table.hxx"

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>

// Every answer comes from one traversal of the framework object: the
// callback composes the maps on the way down, so at the definition its map
// T takes framework parameters to definition parameters. The canonical
// parameterisation of each kind differs from its definition's by a fixed
// map C (the "to canonical" map below); the exporter's parameterisation is
// C o T.

namespace {

constexpr double kPi = Gk_Def::QELXPI;
constexpr double kTwoPi = 2.0 * Gk_Def::QELXPI;

void put(double out[3], const QELXPoint3D& p)
{
    out[0] = p.x();
    out[1] = p.y();
    out[2] = p.z();
}

QELXPoint3D unit(QELXPoint3D v)
{
    v.Normalize();
    return v;
}

template <class T>
QELXTypedHandle<T> lookup(const QELXIdentifier& id)
{
    return QELXTypedHandle<T>(dynamic_cast<T*>(QELXObjectTable::find(id.GetValue())));
}

// Distinct knots with multiplicities as new[] arrays, held until handed out
// so that a failed allocation leaks nothing.
struct KnotArrays {
    explicit KnotArrays(const Gk_Partition& knots)
        : count(knots.n_brk()), values(new double[static_cast<std::size_t>(count)]),
          mults(new int[static_cast<std::size_t>(count)])
    {
        for (int k = 0; k < count; ++k) {
            values[k] = knots.breakValue(k);
            mults[k] = knots.multiplicity(k);
        }
    }
    void handOut(int& n, double*& v, int*& m)
    {
        n = count;
        v = values.release();
        m = mults.release();
    }
    int count;
    std::unique_ptr<double[]> values;
    std::unique_ptr<int[]> mults;
};

// Fills a direction the definition leaves unbounded with its natural range.
void fill(Gk_Domain& domain, const Gk_Domain& natural)
{
    if (!domain.isFinite() && natural.isFinite())
        domain = natural;
}

Gk_Domain angleRange() { return Gk_Domain(0.0, kTwoPi); }

// ---- surfaces

struct SurfaceFacts {
    int type = QELXSurfaceTypeUnknown;
    Gk_BiLinMap toDefinition; // T: framework -> definition parameters
    Gk_BiLinMap toCanonical;  // C: definition -> canonical parameters
    bool flag = true;
    double deviation = 0.0; // an approximation's largest distance from the base, when measured
    Gk_Span span; // definition parameters
    Gk_Plane3Def plane;
    Gk_Cone3Def cone;
    Gk_Ellipsoid3Def sphere;
    Gk_Torus3Def torus;
    QELXBSplineNetDef3D net;
    Gk_SpunSurface3Def spun;
    Gk_SweptSurface3Def swept;
    Gk_OffsetSurface3Def offset;

    // C o T.
    Gk_BiLinMap parameterisation() const
    {
        Gk_BiLinMap p = toDefinition;
        p.compose(toCanonical, false);
        return p;
    }
};

std::optional<SurfaceFacts> describe(const Gk_Surface3& surface, bool measure = false);

class SurfaceReader : public Gk_SurfaceCallback3 {
public:
    SurfaceReader(const Gk_Surface3& surface, SurfaceFacts& facts, bool measure)
        : m_surface(surface), m_facts(facts), m_measure(measure)
    {
    }
    bool found() const { return m_found; }

    void doPlane(const Gk_Plane3Def& d, bool rightHanded) override
    {
        m_facts.type = QELXSurfaceTypePlane;
        m_facts.plane = d;
        // The canonical v direction has the speed of u.
        const double u = d.uAxis().Length(), v = d.vAxis().Length();
        m_facts.toCanonical = Gk_BiLinMap(Gk_LinMap(), Gk_LinMap(u > 0.0 ? v / u : 1.0), false);
        finish(rightHanded);
    }
    void doCone(const Gk_Cone3Def& d, bool rightHanded) override
    {
        m_facts.type = d.isCylinder() ? QELXSurfaceTypeCylinder : QELXSurfaceTypeCone;
        m_facts.cone = d;
        const double a = d.base().major().Length();
        m_facts.toCanonical = Gk_BiLinMap(Gk_LinMap(a > 0.0 ? d.slantSpeed() / a : 1.0), Gk_LinMap(), false);
        finish(rightHanded);
        fill(m_facts.span.v(), angleRange());
    }
    void doEllipsoid(const Gk_Ellipsoid3Def& d, bool rightHanded) override
    {
        if (!d.isSphere()) {
            approximate(m_surface.getBase().IsValid() ? m_surface.getBase().get() : nullptr, rightHanded);
            return;
        }
        m_facts.type = QELXSurfaceTypeSphere;
        m_facts.sphere = d;
        // Canonical: the sphere in its own frame (dir1 = X, dir2 = Z):
        // latitude s towards Z, longitude t from X turning towards X x Z.
        // The definition turns from X away from Y, which is Z x X for every
        // definition the kernel gives and its opposite for a mirrored one.
        const QELXPoint3D X = unit(d.axis(0)), Y = unit(d.axis(1)), Z = unit(d.axis(2));
        const double turn = Y.Dot(QELXPoint3D::VectorProduct(Z, X)) >= 0.0 ? 1.0 : -1.0;
        m_facts.toCanonical = Gk_BiLinMap(Gk_LinMap(-1.0, 0.0), Gk_LinMap(turn, 0.0), true);
        finish(rightHanded);
        fill(m_facts.span.u(), angleRange());
        fill(m_facts.span.v(), Gk_Domain(-kPi / 2.0, kPi / 2.0));
    }
    void doTorus(const Gk_Torus3Def& d, bool rightHanded) override
    {
        m_facts.type = QELXSurfaceTypeTorus;
        m_facts.torus = d;
        finish(rightHanded);
        fill(m_facts.span.u(), angleRange());
        fill(m_facts.span.v(), angleRange());
    }
    void doBSpline(const Gk_BSSurface3Def& d, bool rightHanded) override
    {
        m_facts.type = QELXSurfaceTypeNurbs;
        m_facts.net = d.net();
        finish(rightHanded);
        fill(m_facts.span.u(), d.net().span().u());
        fill(m_facts.span.v(), d.net().span().v());
    }
    void doSpun(const Gk_SpunSurface3Def& d, bool rightHanded) override
    {
        m_facts.type = QELXSurfaceTypeRevolved;
        m_facts.spun = d;
        finish(rightHanded);
        fill(m_facts.span.u(), d.domain());
        fill(m_facts.span.v(), angleRange());
    }
    void doSwept(const Gk_SweptSurface3Def& d, bool rightHanded) override
    {
        m_facts.type = QELXSurfaceTypeExtruded;
        m_facts.swept = d;
        finish(rightHanded);
        if (d.profile().IsValid())
            fill(m_facts.span.u(), d.profile()->domain());
    }
    void doOffset(const Gk_OffsetSurface3Def& d, bool rightHanded) override
    {
        m_facts.type = QELXSurfaceTypeOffset;
        m_facts.offset = d;
        finish(rightHanded);
        // The offset's parameters are its reference surface's framework
        // parameters; it shares that surface's canonical ones, so its
        // frame turns with the reference surface's parameterisation.
        if (!d.ReferenceSurface().IsValid())
            return;
        const std::optional<SurfaceFacts> base = describe(*d.ReferenceSurface());
        if (!base)
            return;
        m_facts.toCanonical = base->parameterisation();
        m_facts.flag = m_facts.flag == m_facts.toCanonical.isForward();
    }
    void doDefault(const Gk_BaseSurface3& base) override { approximate(&base, base.IsRightHandedUV()); }

private:
    void finish(bool rightHanded)
    {
        m_facts.toDefinition = map();
        // The map from the base's parameters to the definition's.
        Gk_BiLinMap getMap = m_surface.getMap().inverse();
        getMap.compose(map(), false);
        // The canonical frame turns with the definition's unless the map to
        // it reverses (a mirrored sphere definition).
        m_facts.flag = ((rightHanded == getMap.isForward()) == m_surface.isSameSense()) ==
                       m_facts.toCanonical.isForward();
        m_facts.span = span();
        m_found = true;
    }

    // A kind without an exact form here goes as the base's B-spline net
    // over the span at this level (the base's principal ranges where that
    // is unbounded), in the base's own parameters.
    void approximate(const Gk_BaseSurface3* base, bool rightHanded)
    {
        if (!base)
            return;
        Gk_Span over = span();
        fill(over.u(), base->uPrincipalRange());
        fill(over.v(), base->vPrincipalRange());
        if (!over.u().isFinite() || !over.v().isFinite())
            return;
        QELXBSplineNetDef3D net = base->bspline(over, nullptr, nullptr);
        if (net.isEmpty())
            return;
        m_facts.type = QELXSurfaceTypeNurbs;
        m_facts.net = net;
        m_facts.toDefinition = map();
        m_facts.flag = rightHanded == m_surface.isSameSense();
        m_facts.span = over;
        m_found = true;
        if (m_measure)
            m_facts.deviation = deviation(*base, net, over);
    }

    // The largest distance between the base and its net at the nodes and
    // cell centres of a grid over the span (both in the base's parameters).
    static double deviation(const Gk_BaseSurface3& base, const QELXBSplineNetDef3D& net, const Gk_Span& over)
    {
        // Half steps: a net interpolated at the grid's own nodes is exact there,
        // and only the cell centres show how far it strays.
        constexpr int steps = 64;
        double worst = 0.0;
        for (int i = 0; i <= steps; ++i)
            for (int j = 0; j <= steps; ++j) {
                const QELXPoint2D uv(over.u().low() + over.u().length() * i / steps,
                                     over.v().low() + over.v().length() * j / steps);
                worst = std::max(worst, base.eval(uv, nullptr).Distance(net.eval(uv)));
            }
        return worst;
    }

    const Gk_Surface3& m_surface;
    SurfaceFacts& m_facts;
    bool m_measure;
    bool m_found = false;
};

std::optional<SurfaceFacts> describe(const Gk_Surface3& surface, bool measure)
{
    SurfaceFacts facts;
    SurfaceReader reader(surface, facts, measure);
    surface.traverse(&reader);
    if (!reader.found())
        return std::nullopt;
    return facts;
}

std::optional<SurfaceFacts> describe(const QELXIdentifier& id, bool measure = false)
{
    const Gk_Surface3Handle surface = lookup<Gk_Surface3>(id);
    if (!surface.IsValid())
        return std::nullopt;
    return describe(*surface, measure);
}

// ---- curves

struct CurveFacts {
    int type = QELXGeometryCurveTypeUnknown;
    Gk_LinMap toDefinition;
    Gk_LinMap toCanonical;
    QELXLineDef3D line;
    QELXEllipseDef3D ellipse;
    QELXBSplineDef3D bspline;

    Gk_LinMap parameterisation() const
    {
        Gk_LinMap p = toDefinition;
        p.compose(toCanonical);
        return p;
    }
};

class CurveReader : public QELXCurveCallback3D {
public:
    CurveReader(Gk_Domain& domain, CurveFacts& facts) : QELXCurveCallback3D(domain, Gk_Def::FuzzPos, QELXMorph3D()), m_facts(facts) {}

    void doCallback(const QELXLineDef3D& d) override
    {
        m_facts.type = QELXGeometryCurveTypeLine;
        m_facts.line = d;
        m_facts.toDefinition = map();
    }
    void doCallback(const QELXEllipseDef3D& d) override
    {
        m_facts.type = QELXGeometryCurveTypeEllipse;
        m_facts.toDefinition = map();
        if (d.minor().Length() > d.major().Length()) {
            // The data's major axis is the longer: (B, -A) a quarter turn on.
            m_facts.ellipse = QELXEllipseDef3D(d.centre(), d.minor(), -d.major());
            m_facts.toCanonical = Gk_LinMap(1.0, -kPi / 2.0);
        } else {
            m_facts.ellipse = d;
        }
    }
    void doCallback(const QELXBSCurveDef3D& d) override
    {
        m_facts.type = QELXGeometryCurveTypeNurbs;
        m_facts.bspline = d.getData();
        m_facts.toDefinition = map();
    }

private:
    CurveFacts& m_facts;
};

std::optional<CurveFacts> describeCurve(const QELXIdentifier& id)
{
    const QELXCurve3DHandle curve = lookup<QELXCurve3D>(id);
    if (!curve.IsValid() || !curve->getBase().IsValid())
        return std::nullopt;
    CurveFacts facts;
    // A curve without an exact form is approximated over its base's domain.
    Gk_Domain domain = curve->getBase()->domain();
    CurveReader reader(domain, facts);
    curve->traverse(&reader);
    if (facts.type == QELXGeometryCurveTypeUnknown)
        return std::nullopt;
    return facts;
}

struct PCurveFacts {
    Gk_LinMap toDefinition;
    QELXBSplineDef2D bspline;
    bool found = false;
};

class PCurveReader : public QELXCurveCallback2D {
public:
    PCurveReader(Gk_Domain& domain, PCurveFacts& facts) : QELXCurveCallback2D(domain, Gk_Def::FuzzPos), m_facts(facts) {}
    void doCallback(const QELXBSCurveDef2D& d) override
    {
        m_facts.bspline = d.getData();
        m_facts.toDefinition = map();
        m_facts.found = true;
    }

private:
    PCurveFacts& m_facts;
};

std::optional<PCurveFacts> describePCurve(const QELXIdentifier& id)
{
    const QELXCurve2DHandle pcurve = lookup<QELXCurve2D>(id);
    if (!pcurve.IsValid() || !pcurve->getBase().IsValid())
        return std::nullopt;
    PCurveFacts facts;
    Gk_Domain domain = pcurve->getBase()->domain();
    PCurveReader reader(domain, facts);
    pcurve->traverse(&reader);
    if (!facts.found)
        return std::nullopt;
    return facts;
}

// Open, closed (ends meet) or periodic.
int closureOf(bool periodic, bool endsMeet)
{
    if (periodic)
        return QELXParamClosurePeriodic;
    return endsMeet ? QELXParamClosureClosed : QELXParamClosureOpen;
}

void putMap(const Gk_LinMap& map, double& scale, double& offset)
{
    scale = map.slope();
    offset = map.abscissa();
}

} // namespace

void QELXGkGeometryExporter::hold(QELXReferenceCount* object)
{
    if (object && !m_handedOut.count(object))
        m_handedOut.emplace(object, QELXReferenceHandle(object));
}

// ---- surfaces

QELIResult QELXGkGeometryExporter::GetSurfaceType(const QELXIdentifier& id, int& type)
{
    if (!lookup<Gk_Surface3>(id).IsValid())
        return QELI_INVALID_ARG;
    const std::optional<SurfaceFacts> facts = describe(id);
    type = facts ? facts->type : QELXSurfaceTypeUnknown;
    return QELI_OK;
}

QELIResult QELXGkGeometryExporter::GetSurfaceParameterization(const QELXIdentifier& id, double& uA, double& uB,
                                                              double& uC, double& vA, double& vB, double& vC,
                                                              bool& flag)
{
    const std::optional<SurfaceFacts> facts = describe(id);
    if (!facts)
        return QELI_INVALID_ARG;
    const Gk_BiLinMap p = facts->parameterisation();
    // Triples cannot swap the parameters.
    if (p.isCross())
        return QELI_FAIL;
    const Gk_LinMapExt u = p.getUPart(), v = p.getVPart();
    uA = u.a(), uB = u.b(), uC = u.c();
    vA = v.a(), vB = v.b(), vC = v.c();
    flag = facts->flag;
    return QELI_OK;
}

QELIResult QELXGkGeometryExporter::GetPlanarSurfaceData(const QELXIdentifier& id, double origin[3],
                                                        double uVector[3], double normal[3])
{
    const std::optional<SurfaceFacts> facts = describe(id);
    if (!facts || facts->type != QELXSurfaceTypePlane)
        return QELI_INVALID_ARG;
    const Gk_Plane3Def& d = facts->plane;
    put(origin, d.origin());
    put(uVector, d.uAxis());
    put(normal, unit(QELXPoint3D::VectorProduct(d.uAxis(), d.vAxis())));
    return QELI_OK;
}

QELIResult QELXGkGeometryExporter::GetConicalSurfaceData(const QELXIdentifier& id, double& a, double& b, double& c,
                                                         double origin[3], double refDir[3], double axis[3])
{
    const std::optional<SurfaceFacts> facts = describe(id);
    if (!facts || (facts->type != QELXSurfaceTypeCone && facts->type != QELXSurfaceTypeCylinder))
        return QELI_INVALID_ARG;
    const Gk_Cone3Def& d = facts->cone;
    a = d.base().major().Length();
    b = std::atan2(d.sine(), d.cosine());
    // The definition narrows towards +axis: the signed sine is its own.
    c = d.sine();
    put(origin, d.base().centre());
    put(refDir, unit(d.base().major()));
    put(axis, d.base().normal());
    return QELI_OK;
}

QELIResult QELXGkGeometryExporter::GetSphericalSurfaceData(const QELXIdentifier& id, double& radius,
                                                           double centre[3], double dir1[3], double dir2[3])
{
    const std::optional<SurfaceFacts> facts = describe(id);
    if (!facts || facts->type != QELXSurfaceTypeSphere)
        return QELI_INVALID_ARG;
    const Gk_Ellipsoid3Def& d = facts->sphere;
    radius = d.axis(0).Length();
    put(centre, d.centre());
    put(dir1, unit(d.axis(0)));
    put(dir2, unit(d.axis(2)));
    return QELI_OK;
}

QELIResult QELXGkGeometryExporter::GetToroidalSurfaceData(const QELXIdentifier& id, double& major, double& minor,
                                                          int& toroidalType, double centre[3], double refDir[3],
                                                          double axis[3])
{
    const std::optional<SurfaceFacts> facts = describe(id);
    if (!facts || facts->type != QELXSurfaceTypeTorus)
        return QELI_INVALID_ARG;
    const Gk_Torus3Def& d = facts->torus;
    const double signedMajor = d.majorRadius();
    major = std::fabs(signedMajor);
    minor = std::fabs(d.minorRadius());
    if (signedMajor < 0.0)
        toroidalType = QELXToroidalSurfaceLemon;
    else
        toroidalType = major > minor ? QELXToroidalSurfaceRing : QELXToroidalSurfaceApple;
    put(centre, d.centre());
    put(refDir, unit(d.majorVector()));
    put(axis, unit(d.axis()));
    return QELI_OK;
}

QELIResult QELXGkGeometryExporter::GetNurbsSurfaceData(const QELXIdentifier& id, int& uDegree, int& vDegree,
                                                       int& uCount, int& vCount, double*& ctrlPts,
                                                       double*& weights, int& uKnotCount, double*& uKnots,
                                                       int*& uMults, int& vKnotCount, double*& vKnots,
                                                       int*& vMults, int& uClosure, int& vClosure)
{
    const std::optional<SurfaceFacts> facts = describe(id);
    if (!facts || facts->type != QELXSurfaceTypeNurbs || facts->net.isEmpty())
        return QELI_INVALID_ARG;
    const QELXBSplineNetDef3D& net = facts->net;
    // Rows of unequal length (or knots that do not fit them) have no layout
    // to hand out.
    if (!net.layoutFits())
        return QELI_FAIL;
    const int nu = net.uSize(), nv = net.vSize();
    const std::size_t n = static_cast<std::size_t>(nu) * static_cast<std::size_t>(nv);
    std::unique_ptr<double[]> points(new double[3 * n]);
    std::unique_ptr<double[]> w(net.isURational() || net.isVRational() ? new double[n] : nullptr);
    for (int i = 0; i < nu; ++i)
        for (int j = 0; j < nv; ++j) {
            const std::size_t k = static_cast<std::size_t>(i) * static_cast<std::size_t>(nv) + static_cast<std::size_t>(j);
            put(points.get() + 3 * k, net.controlNet().controlPoint(i, j).GetCoords());
            if (w)
                w[k] = net.controlNet().controlPoint(i, j).GetWeight();
        }
    KnotArrays u(net.uKnots()), v(net.vKnots());
    uDegree = net.uDegree();
    vDegree = net.vDegree();
    uCount = nu;
    vCount = nv;
    ctrlPts = points.release();
    weights = w.release();
    u.handOut(uKnotCount, uKnots, uMults);
    v.handOut(vKnotCount, vKnots, vMults);
    // Ends meet when the first and last rows (columns) coincide.
    auto rowsMeet = [&](bool alongU) {
        const int rows = alongU ? vCount : uCount;
        const int last = (alongU ? uCount : vCount) - 1;
        for (int r = 0; r < rows; ++r) {
            const QELXPoint3D a = alongU ? net.controlNet().controlPoint(0, r).GetCoords() : net.controlNet().controlPoint(r, 0).GetCoords();
            const QELXPoint3D b = alongU ? net.controlNet().controlPoint(last, r).GetCoords() : net.controlNet().controlPoint(r, last).GetCoords();
            if (a.Distance(b) > Gk_Def::FuzzPos)
                return false;
        }
        return true;
    };
    uClosure = closureOf(net.isUPeriodic(), rowsMeet(true));
    vClosure = closureOf(net.isVPeriodic(), rowsMeet(false));
    return QELI_OK;
}

QELIResult QELXGkGeometryExporter::GetOffsetSurfaceData(const QELXIdentifier& id, double& distance,
                                                        QELXIdentifier& base)
{
    const std::optional<SurfaceFacts> facts = describe(id);
    if (!facts || facts->type != QELXSurfaceTypeOffset || !facts->offset.ReferenceSurface().IsValid())
        return QELI_INVALID_ARG;
    const Gk_Surface3Handle& reference = facts->offset.ReferenceSurface();
    // Its word must keep naming it while the reader follows it.
    hold(reference.get());
    distance = facts->offset.distance();
    base = QELXIdentifier(static_cast<std::uint64_t>(reference->GetPersistentIdentifier()), QELXGeometryTypeSurface,
                          this, "Gk_Surface3");
    return QELI_OK;
}

QELIResult QELXGkGeometryExporter::GetExtrudedSurfaceData(const QELXIdentifier& id, double direction[3],
                                                          QELXIdentifier& profile)
{
    const std::optional<SurfaceFacts> facts = describe(id);
    if (!facts || facts->type != QELXSurfaceTypeExtruded || !facts->swept.profile().IsValid())
        return QELI_INVALID_ARG;
    const QELXCurve3DHandle& curve = facts->swept.profile();
    hold(curve.get());
    put(direction, facts->swept.direction());
    profile = QELXIdentifier(static_cast<std::uint64_t>(curve->GetPersistentIdentifier()), QELXGeometryTypeCurve, this,
                             "QELXCurve3D");
    return QELI_OK;
}

QELIResult QELXGkGeometryExporter::GetRevolvedSurfaceData(const QELXIdentifier& id, double axisPoint[3],
                                                          double axisDir[3], QELXIdentifier& profile)
{
    const std::optional<SurfaceFacts> facts = describe(id);
    if (!facts || facts->type != QELXSurfaceTypeRevolved || !facts->spun.RevolvedCurve().IsValid())
        return QELI_INVALID_ARG;
    const QELXCurve3DHandle curve = facts->spun.RevolvedCurve();
    hold(curve.get());
    put(axisPoint, facts->spun.axisPoint());
    put(axisDir, unit(facts->spun.axisDirection()));
    profile = QELXIdentifier(static_cast<std::uint64_t>(curve->GetPersistentIdentifier()), QELXGeometryTypeCurve, this,
                             "QELXCurve3D");
    return QELI_OK;
}

QELIResult QELXGkGeometryExporter::GetSurfaceSpan(const QELXIdentifier& id, double uSpan[2], double vSpan[2])
{
    const std::optional<SurfaceFacts> facts = describe(id);
    if (!facts)
        return QELI_INVALID_ARG;
    Gk_Span span = facts->span;
    span.apply(facts->toCanonical);
    // An unbounded surface has no box to give.
    if (!span.u().isFinite() || !span.v().isFinite())
        return QELI_FAIL;
    span.GetDoubles(uSpan, vSpan);
    return QELI_OK;
}

QELIResult QELXGkGeometryExporter::GetSurfaceDeviation(const QELXIdentifier& id, double& deviation)
{
    const std::optional<SurfaceFacts> facts = describe(id, true);
    if (!facts)
        return QELI_INVALID_ARG;
    deviation = facts->deviation;
    return QELI_OK;
}

// ---- curves

QELIResult QELXGkGeometryExporter::GetCurveType(const QELXIdentifier& id, int& type)
{
    if (!lookup<QELXCurve3D>(id).IsValid())
        return QELI_INVALID_ARG;
    const std::optional<CurveFacts> facts = describeCurve(id);
    type = facts ? facts->type : QELXGeometryCurveTypeUnknown;
    return QELI_OK;
}

QELIResult QELXGkGeometryExporter::GetCurveParameterization(const QELXIdentifier& id, double& scale, double& offset,
                                                            bool& flag)
{
    const std::optional<CurveFacts> facts = describeCurve(id);
    if (!facts)
        return QELI_INVALID_ARG;
    putMap(facts->parameterisation(), scale, offset);
    flag = true;
    return QELI_OK;
}

QELIResult QELXGkGeometryExporter::GetCurveDomain(const QELXIdentifier& id, double range[2])
{
    const QELXCurve3DHandle curve = lookup<QELXCurve3D>(id);
    if (!curve.IsValid())
        return QELI_INVALID_ARG;
    const Gk_Domain domain = curve->domain();
    if (!domain.isFinite())
        return QELI_FAIL;
    range[0] = domain.low();
    range[1] = domain.high();
    return QELI_OK;
}

QELIResult QELXGkGeometryExporter::GetLinearCurveData(const QELXIdentifier& id, double point[3], double direction[3])
{
    const std::optional<CurveFacts> facts = describeCurve(id);
    if (!facts || facts->type != QELXGeometryCurveTypeLine)
        return QELI_INVALID_ARG;
    put(point, facts->line.point());
    put(direction, facts->line.vector());
    return QELI_OK;
}

QELIResult QELXGkGeometryExporter::GetEllipticalCurveData(const QELXIdentifier& id, double& majorRadius,
                                                          double& minorRadius, double centre[3], double majorDir[3],
                                                          double normal[3])
{
    const std::optional<CurveFacts> facts = describeCurve(id);
    if (!facts || facts->type != QELXGeometryCurveTypeEllipse)
        return QELI_INVALID_ARG;
    const QELXEllipseDef3D& d = facts->ellipse;
    majorRadius = d.major().Length();
    minorRadius = d.minor().Length();
    put(centre, d.centre());
    put(majorDir, unit(d.major()));
    put(normal, d.normal());
    return QELI_OK;
}

QELIResult QELXGkGeometryExporter::GetNurbsCurveData(const QELXIdentifier& id, int& degree, int& ctrlCount,
                                                     double*& ctrlPts, int& knotCount, double*& knots, int*& mults,
                                                     double*& weights, int& form)
{
    const std::optional<CurveFacts> facts = describeCurve(id);
    if (!facts || facts->type != QELXGeometryCurveTypeNurbs || facts->bspline.isEmpty())
        return QELI_INVALID_ARG;
    const QELXBSplineDef3D& d = facts->bspline;
    const int count = d.numControlPoints();
    const std::size_t n = static_cast<std::size_t>(count);
    std::unique_ptr<double[]> points(new double[3 * n]);
    std::unique_ptr<double[]> w(d.isRational() ? new double[n] : nullptr);
    for (int i = 0; i < count; ++i) {
        put(points.get() + 3 * static_cast<std::size_t>(i), d.controlPoint(i).GetCoords());
        if (w)
            w[i] = d.weight(i);
    }
    KnotArrays k(d.knots());
    degree = d.degree();
    ctrlCount = count;
    ctrlPts = points.release();
    weights = w.release();
    k.handOut(knotCount, knots, mults);
    form = closureOf(d.isPeriodic(),
                     d.controlPoint(0).GetCoords().Distance(d.controlPoint(count - 1).GetCoords()) <= Gk_Def::FuzzPos);
    return QELI_OK;
}

QELIResult QELXGkGeometryExporter::GetCartesianPointData(const QELXIdentifier& id, double xyz[3])
{
    const QELXPoint3DHandle point = lookup<QELXRefPoint3D>(id);
    if (!point.IsValid())
        return QELI_INVALID_ARG;
    put(xyz, point->point());
    return QELI_OK;
}

// ---- parameter curves

QELIResult QELXGkGeometryExporter::GetPCurveType(const QELXIdentifier& id, int& type)
{
    if (!lookup<QELXCurve2D>(id).IsValid())
        return QELI_INVALID_ARG;
    type = describePCurve(id) ? QELXGeometryPCurveTypeNurbs : QELXGeometryPCurveTypeUnknown;
    return QELI_OK;
}

QELIResult QELXGkGeometryExporter::GetPCurveParameterization(const QELXIdentifier& id, double& scale,
                                                             double& offset, bool& flag)
{
    const std::optional<PCurveFacts> facts = describePCurve(id);
    if (!facts)
        return QELI_INVALID_ARG;
    putMap(facts->toDefinition, scale, offset);
    flag = true;
    return QELI_OK;
}

QELIResult QELXGkGeometryExporter::GetNurbsPCurveData(const QELXIdentifier& id, int& degree, int& ctrlCount,
                                                      double*& ctrlPts, int& knotCount, double*& knots, int*& mults,
                                                      double*& weights, int& form)
{
    const std::optional<PCurveFacts> facts = describePCurve(id);
    if (!facts || facts->bspline.isEmpty())
        return QELI_INVALID_ARG;
    const QELXBSplineDef2D& d = facts->bspline;
    const int count = d.numControlPoints();
    const std::size_t n = static_cast<std::size_t>(count);
    std::unique_ptr<double[]> points(new double[2 * n]);
    std::unique_ptr<double[]> w(d.isRational() ? new double[n] : nullptr);
    for (int i = 0; i < count; ++i) {
        const QELXPoint2D p = d.controlPoint(i).GetCoords();
        points[2 * static_cast<std::size_t>(i)] = p.u();
        points[2 * static_cast<std::size_t>(i) + 1] = p.v();
        if (w)
            w[i] = d.weight(i);
    }
    KnotArrays k(d.knots());
    degree = d.degree();
    ctrlCount = count;
    ctrlPts = points.release();
    weights = w.release();
    k.handOut(knotCount, knots, mults);
    const QELXPoint2D first = d.controlPoint(0).GetCoords(), last = d.controlPoint(count - 1).GetCoords();
    form = closureOf(d.isPeriodic(), std::hypot(first.u() - last.u(), first.v() - last.v()) <= Gk_Def::FuzzKnot);
    return QELI_OK;
}
