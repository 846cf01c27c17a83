#pragma once
// Framework curves over kernel geometry: Ve_BaseCurve presents a kernel
// CURVE over a domain as a QELXBaseCurve3D, Ve_BasePCurve a kernel PCURVE as
// a QELXBaseCurve2D. Each holds one kernel use count of its entity while it
// lives and never changes the entity.
#include "geometry/curve_view.hxx"
#include "geometry/kernel_use.hxx"
#include "geometry/pcurve_view.hxx"
#include "xvelm2k/export.hxx"

class XVELM2KA_API Ve_BaseCurve : public QELXBaseCurve3D {
public:
    Ve_BaseCurve(Ve_CurveTag* curve, const Gk_Domain& domain);
    Ve_BaseCurve(const Ve_BaseCurve& other);
    Ve_BaseCurve& operator=(const Ve_BaseCurve& other);
    ~Ve_BaseCurve() override;

    QELXBaseCurve3DHandle clone() const override;
    QELXCurveType::Enum GetQELXCurveType() const override;
    bool GetParamScale(double& scale) const override;
    QELXPoint3D eval(double t, QELXCurveDerivatives3D* derivatives) const override;
    double invert(const QELXPoint3D& p, QELXCurveDerivatives3D* derivatives) const override;
    // 0.0 without a curve.
    double length(const Gk_Domain& d) const override;
    Gk_Domain principalRange() const override;
    // Kernel curves are never moved through the adapter: asserts.
    void apply(const QELXMorph3D& morph) override;
    QELIResult GetBoundingBox(const Gk_Domain& d, QELXBox3D& box) const override;
    // Over the adapter's domain.
    QELXBSplineDef3D bspline(double tolerance, double* achieved) const override;
    QELXBSplineDef3D bspline(const Gk_Domain& d, double tolerance, double* achieved) const override;
    // Line, ellipse or B-spline definition; other kinds through the
    // callback's default operation. Nothing without a curve or callback.
    // The callback's map is composed with the view's, so that it leads to
    // the definition's parameter.
    void traverse(QELXCurveCallback3D* callback) const override;
    QELXSnapper3D* getSnapper() const override { return nullptr; }
    void dump(QELXStreamFormatter&) const override {}
    // The entity's full identifier word; 0 without a curve.
    unsigned long GetPersistentIdentifier() const override;
    Gk_Domain domain() const override { return m_domain; }
    const char* GetName() const override { return "Ve_BaseCurve"; }

    Ve_CurveTag* curve() const { return m_curve.get(); }

private:
    KernelUse<Ve_CurveTag> m_curve;
    Gk_Domain m_domain;
};

class XVELM2KA_API Ve_BasePCurve : public QELXBaseCurve2D {
public:
    Ve_BasePCurve(Ve_PCurveTag* pcurve, const Gk_Domain& domain);
    Ve_BasePCurve(const Ve_BasePCurve& other);
    Ve_BasePCurve& operator=(const Ve_BasePCurve& other);
    ~Ve_BasePCurve() override;

    QELXBaseCurve2DHandle clone() const override;
    QELXPoint2D eval(double t, QELXCurveDerivatives2D* derivatives) const override;
    // Not supported: asserts and answers 0.0.
    double invert(const QELXPoint2D& p, QELXCurveDerivatives2D* derivatives) const override;
    double length(const Gk_Domain& d) const override;
    Gk_Domain principalRange() const override;
    void apply(const QELXMorph2D& morph) override;
    QELIResult GetBoundingBox(const Gk_Domain& d, QELXBox2D& box) const override;
    QELXBSplineDef2D bspline(const Gk_Domain& d, double tolerance, double* achieved) const override;
    // The B-spline over the adapter's domain to the callback's B-spline
    // operation; nothing without a pcurve, its B-spline or a callback.
    void traverse(QELXCurveCallback2D* callback) const override;
    QELXSnapper2D* getSnapper() const override { return nullptr; }
    void dump(QELXStreamFormatter&) const override {}
    unsigned long GetPersistentIdentifier() const override;
    Gk_Domain domain() const override { return m_domain; }
    const char* GetName() const override { return "Ve_BasePCurve"; }

    Ve_PCurveTag* pcurve() const { return m_pcurve.get(); }

private:
    KernelUse<Ve_PCurveTag> m_pcurve;
    Gk_Domain m_domain;
};

// x . x' for two 3-D vectors given by their coordinates.
XVELM2KA_API double veDotProduct(double x, double y, double z, double x2, double y2, double z2);
