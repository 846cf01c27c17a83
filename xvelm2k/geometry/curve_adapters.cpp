#include "geometry/curve_adapters.hxx"

#include "geometry/kernel_use.hxx"
#include "qelx/qelx_errors.hxx"
#include "qelx_velm/velm_entity_utils.hxx"
#include "model/memory_init.hxx"

// ---- Ve_BaseCurve ----

Ve_BaseCurve::Ve_BaseCurve(Ve_CurveTag* curve, const Gk_Domain& domain) : m_curve(curve), m_domain(domain) {}

Ve_BaseCurve::Ve_BaseCurve(const Ve_BaseCurve&) = default;
Ve_BaseCurve& Ve_BaseCurve::operator=(const Ve_BaseCurve&) = default;
Ve_BaseCurve::~Ve_BaseCurve() = default;

QELXBaseCurve3DHandle Ve_BaseCurve::clone() const
{
    return new Ve_BaseCurve(m_curve ? m_curve->copy() : nullptr, m_domain);
}

QELXCurveType::Enum Ve_BaseCurve::GetQELXCurveType() const
{
    return m_curve->typeId();
}

bool Ve_BaseCurve::GetParamScale(double& scale) const
{
    return m_curve->GetParamScale(scale);
}

QELXPoint3D Ve_BaseCurve::eval(double t, QELXCurveDerivatives3D* derivatives) const
{
    return m_curve->eval(t, derivatives);
}

double Ve_BaseCurve::invert(const QELXPoint3D& p, QELXCurveDerivatives3D* derivatives) const
{
    return m_curve->invert(p, derivatives);
}

double Ve_BaseCurve::length(const Gk_Domain& d) const
{
    return m_curve ? m_curve->length(d) : 0.0;
}

Gk_Domain Ve_BaseCurve::principalRange() const
{
    return m_curve->principalRange();
}

void Ve_BaseCurve::apply(const QELXMorph3D&)
{
    Gk_ErrMgr::checkAbort();
    Gk_ErrMgr::doAssert("ve_curve", 93);
}

QELIResult Ve_BaseCurve::GetBoundingBox(const Gk_Domain& d, QELXBox3D& box) const
{
    return m_curve->GetBoundingBox(d, box);
}

QELXBSplineDef3D Ve_BaseCurve::bspline(double tolerance, double* achieved) const
{
    return bspline(m_domain, tolerance, achieved);
}

QELXBSplineDef3D Ve_BaseCurve::bspline(const Gk_Domain& d, double tolerance, double* achieved) const
{
    return m_curve->bspline(d, tolerance, achieved);
}

void Ve_BaseCurve::traverse(QELXCurveCallback3D* callback) const
{
    if (!m_curve || !callback)
        return;
    // Degenerate data leaves a definition empty; it goes nowhere.
    switch (m_curve->typeId()) {
    case QELXCurveType::Line:
        if (const QELXLineDef3D d = m_curve->getLine(); !d.isEmpty())
            callback->doCallback(d);
        break;
    case QELXCurveType::Ellipse:
        if (const QELXEllipseDef3D d = m_curve->getEllipse(); !d.isEmpty()) {
            // The callback reads the definition through its map: lead it on
            // from the kernel's parameter to the definition's.
            if (const Gk_LinMap shift = m_curve->getMap(); !shift.isIdentity())
                callback->map().compose(shift);
            callback->doCallback(d);
        }
        break;
    case QELXCurveType::BSpline:
        if (const QELXBSCurveDef3D d(m_curve->getBSpline()); !d.isEmpty())
            callback->doCallback(d);
        break;
    default:
        callback->doDefaultCallback(*this);
        break;
    }
}

unsigned long Ve_BaseCurve::GetPersistentIdentifier() const
{
    return m_curve ? QELXVelmEntityUtils::GetIdentifier(m_curve->entity()) : 0;
}

// ---- Ve_BasePCurve ----

Ve_BasePCurve::Ve_BasePCurve(Ve_PCurveTag* pcurve, const Gk_Domain& domain) : m_pcurve(pcurve), m_domain(domain) {}

Ve_BasePCurve::Ve_BasePCurve(const Ve_BasePCurve&) = default;
Ve_BasePCurve& Ve_BasePCurve::operator=(const Ve_BasePCurve&) = default;
Ve_BasePCurve::~Ve_BasePCurve() = default;

QELXBaseCurve2DHandle Ve_BasePCurve::clone() const
{
    return new Ve_BasePCurve(m_pcurve ? m_pcurve->copy() : nullptr, m_domain);
}

QELXPoint2D Ve_BasePCurve::eval(double t, QELXCurveDerivatives2D* derivatives) const
{
    return m_pcurve->eval(t, derivatives);
}

double Ve_BasePCurve::invert(const QELXPoint2D& p, QELXCurveDerivatives2D* derivatives) const
{
    return m_pcurve->invert(p, derivatives);
}

double Ve_BasePCurve::length(const Gk_Domain& d) const
{
    return m_pcurve->length(d);
}

Gk_Domain Ve_BasePCurve::principalRange() const
{
    return m_pcurve->principalRange();
}

void Ve_BasePCurve::apply(const QELXMorph2D&)
{
    Gk_ErrMgr::checkAbort();
    Gk_ErrMgr::doAssert("ve_pcurve", 70);
}

QELIResult Ve_BasePCurve::GetBoundingBox(const Gk_Domain& d, QELXBox2D& box) const
{
    return m_pcurve->GetBoundingBox(d, box);
}

QELXBSplineDef2D Ve_BasePCurve::bspline(const Gk_Domain& d, double tolerance, double* achieved) const
{
    return m_pcurve->bspline(d, tolerance, achieved);
}

void Ve_BasePCurve::traverse(QELXCurveCallback2D* callback) const
{
    if (!m_pcurve || !callback)
        return;
    // A pcurve without a B-spline has nothing to hand over.
    if (const QELXBSCurveDef2D d(m_pcurve->bspline(m_domain, QELresabs, nullptr)); !d.isEmpty())
        callback->doCallback(d);
}

unsigned long Ve_BasePCurve::GetPersistentIdentifier() const
{
    return m_pcurve ? QELXVelmEntityUtils::GetIdentifier(m_pcurve->entity()) : 0;
}

double veDotProduct(double x, double y, double z, double x2, double y2, double z2)
{
    return x * x2 + y * y2 + z * z2;
}
