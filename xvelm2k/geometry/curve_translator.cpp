#include "geometry/curve_translator.hxx"

#include <cmath>

#include "geometry/curve_adapters.hxx"
#include "geometry/spline_curve_build.hxx"
#include "model/kernel_call_bracket.hxx"
#include "model/math_types.hxx"
#include "qelx/gk_spline_utils.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "velm/geometry_entity.hxx"

Ve_CurveTranslator::Ve_CurveTranslator(Gk_Domain& domain, double value, const QELXMorph3D& morph, bool noG1Repair)
    : QELXCurveCallback3D(domain, value, morph), m_noG1Repair(noG1Repair)
{
}

Ve_CurveTranslator::Ve_CurveTranslator(const Ve_CurveTranslator& other)
    : QELXCurveCallback3D(other), m_noG1Repair(other.m_noG1Repair)
{
    if (other.m_curve)
        replaceCurve(other.m_curve->copy_curve());
}

Ve_CurveTranslator& Ve_CurveTranslator::operator=(const Ve_CurveTranslator& other)
{
    if (this != &other) {
        QELXCurveCallback3D::operator=(other);
        m_noG1Repair = other.m_noG1Repair;
        replaceCurve(other.m_curve ? other.m_curve->copy_curve() : nullptr);
    }
    return *this;
}

Ve_CurveTranslator::~Ve_CurveTranslator()
{
    replaceCurve(nullptr);
}

void Ve_CurveTranslator::replaceCurve(curve* c)
{
    delete m_curve;
    m_curve = c;
    m_spline = c && c->type() == 11 ? static_cast<intcurve*>(c)->cur() : nullptr;
}

void Ve_CurveTranslator::preProcessMap()
{
    map() = map().inverse();
}

void Ve_CurveTranslator::doCallback(const QELXLineDef3D& line)
{
    preProcessMap();
    QELXPoint3D root = line.point();
    QELXPoint3D dir = line.vector();
    root.Transform(morph(), false);
    dir.Transform(morph(), true);
    // The map now goes definition -> framework; the kernel runs in framework
    // parameters, so the line's own parameter is the forward map's image.
    const Gk_LinMap forward = map().inverse();
    const double speed = dir.Length();
    if (!(speed > 0.0) || !std::isfinite(speed) || !std::isfinite(forward.slope()))
        return; // a zero or broken direction makes no line
    root += dir * forward.abscissa();
    replaceCurve(VELM_MAKE(straight, Ve_Pt3(root), QELunit_vector(Ve_Vec3(dir / speed)), speed * forward.slope()));
}

void Ve_CurveTranslator::doCallback(const QELXEllipseDef3D& def)
{
    preProcessMap();
    Gk_ErrMgr::checkAbort();
    if (!map().isFirst() || map().isNegated())
        Gk_ErrMgr::doAssert("ve_curvexltr", 98);
    QELXPoint3D centre = def.centre();
    QELXPoint3D major = def.major();
    QELXPoint3D minor = def.minor();
    centre.Transform(morph(), false);
    major.Transform(morph(), true);
    minor.Transform(morph(), true);
    QELXPoint3D normal = QELXPoint3D::VectorProduct(major, minor);
    const double ratio = def.radiusRatio();
    // A shift of the parameter is the ellipse's own start offset.
    const double offset = map().inverse().abscissa();
    if (normal.Normalize() == 0 && major.Length() > 0.0 && ratio > 0.0 && std::isfinite(ratio) && std::isfinite(offset))
        replaceCurve(
            VELM_MAKE(ellipse, Ve_Pt3(centre), QELunit_vector(Ve_Vec3(normal)), QELvector(major[0], major[1], major[2]),
                      ratio, offset));
    map() = map().inverse();
}

void Ve_CurveTranslator::doCallback(const QELXBSCurveDef3D& bspline)
{
    preProcessMap();
    QELXBSplineDef3D def = bspline.getData().Copy();
    const Gk_LinMap kept = map();
    createSplineCurve(def);
    if (!m_spline && !m_curve)
        return;
    if (Ve_OptionDoc::isOn(Ve_OptionDoc::FixCntrlPtCoincidence) &&
        ve_spline_curve::hasCoincidentControlPoints(m_spline, m_curve)) {
        replaceCurve(nullptr);
        const QELXBSplineDef3D source = bspline.getData().Copy();
        QELXBSplineDef3D corrected =
            Gk_SplineUtil::correctCrvCoincidentVertices(source, QELresabs / source.degree() * 2.7);
        // The rebuild keeps the parameter map of the first build.
        map() = kept;
        createSplineCurve(corrected);
    }
}

void Ve_CurveTranslator::createSplineCurve(QELXBSplineDef3D& def)
{
    if (def.numControlPoints() < 2)
        return;
    bs3_curve bs3 = nullptr;
    curve* built = nullptr;
    const bool skipG1 = m_noG1Repair;
    const int err = velmGuard([&] { ve_spline_curve::buildCurve(def, Gk_LinMap(map()), morph(), skipG1, bs3, built); });
    if (err != 0) {
        delete built;
        built = nullptr;
    }
    if (built) {
        replaceCurve(built);
        map() = Gk_LinMap(1.0, 0.0);
    }
}

QELXBaseCurve3DHandle Ve_CurveTranslator::getData()
{
    if (!m_curve)
        return QELXBaseCurve3DHandle();
    CURVE* entity = nullptr;
    velmCall([&] { entity = make_curve(*m_curve); });
    if (!entity)
        return QELXBaseCurve3DHandle();
    return QELXBaseCurve3DHandle(new Ve_BaseCurve(Ve_CurveTag::view(entity), domain()));
}
