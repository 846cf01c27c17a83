#pragma once
// Framework curves: abstract base curves over foreign or defined geometry,
// framework curves (base + parameter map) and the callbacks their traversal
// hands exact definitions to.
#include "qelx/gk_curve_defs.hxx"
#include "qelx/qelx_result.hxx"
#include "qelx/qelx_stream.hxx"

#include <cstdint>

static_assert(sizeof(unsigned long) == 8, "persistent identifiers are 64-bit words and never narrowed");

class QELXCurveCallback3D;
class QELXCurveCallback2D;
class QELXBaseCurve3D;
class QELXBaseCurve2D;
class QELXCurve3D;
class QELXCurve2D;
using QELXBaseCurve3DHandle = QELXTypedHandle<QELXBaseCurve3D>;
using QELXBaseCurve2DHandle = QELXTypedHandle<QELXBaseCurve2D>;
using QELXCurve3DHandle = QELXTypedHandle<QELXCurve3D>;
using QELXCurve2DHandle = QELXTypedHandle<QELXCurve2D>;

class QELXSnapper3D {
public:
    virtual ~QELXSnapper3D() = default;
    virtual QELXPoint3D snap(const QELXPoint3D& p) const = 0;
};

class QELXSnapper2D {
public:
    virtual ~QELXSnapper2D() = default;
    virtual QELXPoint2D snap(const QELXPoint2D& p) const = 0;
};

// Abstract 3-D curve. Defaults: Newton inversion on |C - p|^2 (at most 20
// steps, stop below Gk_Def::FuzzKnot), length by Gauss quadrature of |C'|,
// box by sampling (finite domains only), no approximation, no transform.
class QELXBaseCurve3D : public QELXReferenceCount {
public:
    virtual QELXBaseCurve3DHandle clone() const = 0;
    virtual bool isDefined() const { return true; }
    virtual QELXCurveType::Enum GetQELXCurveType() const { return QELXCurveType::Other; }
    virtual bool GetParamScale(double& scale) const;
    virtual double GetParamShift() const { return 0.0; }
    virtual QELXPoint3D eval(double t, QELXCurveDerivatives3D* d) const = 0;
    virtual double invert(const QELXPoint3D& p, QELXCurveDerivatives3D* d) const = 0;
    virtual double invertNewton(const QELXPoint3D& p, double guess, QELXCurveDerivatives3D* d) const;
    virtual QELXPoint3D snapToPoint(const QELXPoint3D& p) const;
    virtual double length(const Gk_Domain& domain) const;
    virtual Gk_Domain principalRange() const { return Gk_Domain(); }
    // Asserts: a base curve without its own transform cannot be moved.
    virtual void apply(const QELXMorph3D& morph);
    virtual QELIResult GetBoundingBox(const Gk_Domain& domain, QELXBox3D& box) const;
    virtual QELXBSplineDef3D bspline(double tol, double* achieved) const;
    virtual QELXBSplineDef3D bspline(const Gk_Domain& domain, double tol, double* achieved) const;
    virtual void traverse(QELXCurveCallback3D* callback) const;
    virtual QELXSnapper3D* getSnapper() const { return nullptr; }
    virtual void dump(QELXStreamFormatter& out) const;
    virtual unsigned long GetPersistentIdentifier() const { return 0; }
    // The presented interval; unbounded by default.
    virtual Gk_Domain domain() const { return Gk_Domain(); }

    const char* GetName() const override { return "QELXBaseCurve3D"; }

protected:
    // Nearest of samples over a finite domain, polished by invertNewton.
    double invertBySampling(const QELXPoint3D& p, const Gk_Domain& domain, QELXCurveDerivatives3D* d) const;
};

class QELXBaseCurve2D : public QELXReferenceCount {
public:
    virtual QELXBaseCurve2DHandle clone() const = 0;
    virtual bool isDefined() const { return true; }
    virtual QELXPoint2D eval(double t, QELXCurveDerivatives2D* d) const = 0;
    virtual double invert(const QELXPoint2D& p, QELXCurveDerivatives2D* d) const = 0;
    virtual double invertNewton(const QELXPoint2D& p, double guess, QELXCurveDerivatives2D* d) const;
    virtual QELXPoint2D snapToPoint(const QELXPoint2D& p) const;
    virtual double length(const Gk_Domain& domain) const;
    virtual Gk_Domain principalRange() const { return Gk_Domain(); }
    virtual void apply(const QELXMorph2D& morph);
    virtual QELIResult GetBoundingBox(const Gk_Domain& domain, QELXBox2D& box) const;
    virtual QELXBSplineDef2D bspline(const Gk_Domain& domain, double tol, double* achieved) const;
    virtual void traverse(QELXCurveCallback2D* callback) const;
    virtual QELXSnapper2D* getSnapper() const { return nullptr; }
    virtual void dump(QELXStreamFormatter& out) const;
    virtual unsigned long GetPersistentIdentifier() const { return 0; }
    virtual Gk_Domain domain() const { return Gk_Domain(); }

    const char* GetName() const override { return "QELXBaseCurve2D"; }

protected:
    double invertBySampling(const QELXPoint2D& p, const Gk_Domain& domain, QELXCurveDerivatives2D* d) const;
};

// Receives the exact definition of a traversed 3-D curve. The map starts as
// the identity; a framework curve's traverse sets it to the curve's map
// (framework parameter -> base parameter).
class QELXCurveCallback3D {
public:
    QELXCurveCallback3D(Gk_Domain& domain, double value, const QELXMorph3D& morph)
        : m_domain(domain), m_value(value), m_morph(morph) {}
    virtual ~QELXCurveCallback3D() = default;

    virtual void doCallback(const QELXBSCurveDef3D&) {}
    virtual void doCallback(const QELXEllipseDef3D&) {}
    virtual void doCallback(const QELXLineDef3D&) {}
    // Approximates the curve over the callback's domain with the callback's
    // value as tolerance and hands on the B-spline.
    virtual void doDefaultCallback(const QELXBaseCurve3D& curve);
    virtual void preProcessMap() {}

    Gk_Domain& domain() { return m_domain; }
    const Gk_Domain& domain() const { return m_domain; }
    double value() const { return m_value; }
    const QELXMorph3D& morph() const { return m_morph; }
    Gk_LinMap& map() { return m_map; }
    const Gk_LinMap& map() const { return m_map; }

private:
    Gk_Domain m_domain;
    double m_value;
    QELXMorph3D m_morph;
    Gk_LinMap m_map;
};

class QELXCurveCallback2D {
public:
    QELXCurveCallback2D(Gk_Domain& domain, double value) : m_domain(domain), m_value(value) {}
    virtual ~QELXCurveCallback2D() = default;

    virtual void doCallback(const QELXBSCurveDef2D&) {}
    virtual void doDefaultCallback(const QELXBaseCurve2D& curve);
    virtual void preProcessMap() {}

    Gk_Domain& domain() { return m_domain; }
    const Gk_Domain& domain() const { return m_domain; }
    double value() const { return m_value; }
    Gk_LinMap& map() { return m_map; }
    const Gk_LinMap& map() const { return m_map; }

private:
    Gk_Domain m_domain;
    double m_value;
    Gk_LinMap m_map;
};

// Framework curve: base curve + map M (framework parameter -> base
// parameter). Created objects are entered in the geometry-object table.
class QELXCurve3D : public QELXReferenceCount {
public:
    static QELXCurve3DHandle Create(const QELXBaseCurve3DHandle& base);
    static QELXCurve3DHandle Create(const QELXBaseCurve3DHandle& base, const Gk_LinMap& map);
    ~QELXCurve3D() override;

    QELXCurve3DHandle Copy() const;
    // Base at M(t); the k-th derivative times slope^k.
    QELXPoint3D eval(double t, QELXCurveDerivatives3D* d) const;
    double invert(const QELXPoint3D& p, QELXCurveDerivatives3D* d) const;
    // M^-1 image of the base's domain.
    Gk_Domain domain() const;
    void traverse(QELXCurveCallback3D* callback) const;
    const QELXBaseCurve3DHandle& getBase() const { return m_base; }
    const Gk_LinMap& getMap() const { return m_map; }
    unsigned long GetPersistentIdentifier() const;
    const char* GetName() const override { return "QELXCurve3D"; }

private:
    QELXCurve3D(const QELXBaseCurve3DHandle& base, const Gk_LinMap& map) : m_base(base), m_map(map) {}

    QELXBaseCurve3DHandle m_base;
    Gk_LinMap m_map;
    std::uint64_t m_word = 0;
};

class QELXCurve2D : public QELXReferenceCount {
public:
    static QELXCurve2DHandle Create(const QELXBaseCurve2DHandle& base);
    static QELXCurve2DHandle Create(const QELXBaseCurve2DHandle& base, const Gk_LinMap& map);
    ~QELXCurve2D() override;

    QELXCurve2DHandle Copy() const;
    QELXPoint2D eval(double t, QELXCurveDerivatives2D* d) const;
    double invert(const QELXPoint2D& p, QELXCurveDerivatives2D* d) const;
    Gk_Domain domain() const;
    void traverse(QELXCurveCallback2D* callback) const;
    const QELXBaseCurve2DHandle& getBase() const { return m_base; }
    const Gk_LinMap& getMap() const { return m_map; }
    unsigned long GetPersistentIdentifier() const;
    const char* GetName() const override { return "QELXCurve2D"; }

private:
    QELXCurve2D(const QELXBaseCurve2DHandle& base, const Gk_LinMap& map) : m_base(base), m_map(map) {}

    QELXBaseCurve2DHandle m_base;
    Gk_LinMap m_map;
    std::uint64_t m_word = 0;
};

// Base curves over the framework's own definitions. Their persistent
// identifier is their address, so each is its own geometry word.

// The infinite line P + t e.
class QELXLine3D : public QELXBaseCurve3D {
public:
    QELXLine3D(const QELXPoint3D& point, const QELXPoint3D& direction) : m_def(point, direction) {}
    explicit QELXLine3D(const QELXLineDef3D& def) : m_def(def) {}
    const QELXLineDef3D& definition() const { return m_def; }

    QELXBaseCurve3DHandle clone() const override { return new QELXLine3D(*this); }
    QELXCurveType::Enum GetQELXCurveType() const override { return QELXCurveType::Line; }
    QELXPoint3D eval(double t, QELXCurveDerivatives3D* d) const override { return m_def.eval(t, d); }
    double invert(const QELXPoint3D& p, QELXCurveDerivatives3D* d) const override;
    void apply(const QELXMorph3D& morph) override { m_def.Transform(morph); }
    void traverse(QELXCurveCallback3D* callback) const override;
    unsigned long GetPersistentIdentifier() const override;
    const char* GetName() const override { return "QELXLine3D"; }

private:
    QELXLineDef3D m_def;
};

// The full ellipse over [0, 2pi].
class QELXEllipse3D : public QELXBaseCurve3D {
public:
    explicit QELXEllipse3D(const QELXEllipseDef3D& def) : m_def(def) {}
    const QELXEllipseDef3D& definition() const { return m_def; }

    QELXBaseCurve3DHandle clone() const override { return new QELXEllipse3D(*this); }
    QELXCurveType::Enum GetQELXCurveType() const override { return QELXCurveType::Ellipse; }
    QELXPoint3D eval(double t, QELXCurveDerivatives3D* d) const override { return m_def.eval(t, d); }
    double invert(const QELXPoint3D& p, QELXCurveDerivatives3D* d) const override;
    Gk_Domain principalRange() const override;
    Gk_Domain domain() const override { return principalRange(); }
    void apply(const QELXMorph3D& morph) override { m_def.Transform(morph); }
    void traverse(QELXCurveCallback3D* callback) const override;
    unsigned long GetPersistentIdentifier() const override;
    const char* GetName() const override { return "QELXEllipse3D"; }

private:
    QELXEllipseDef3D m_def;
};

class QELXBSplineCurve3D : public QELXBaseCurve3D {
public:
    explicit QELXBSplineCurve3D(const QELXBSplineDef3D& def) : m_def(def) {}
    const QELXBSplineDef3D& definition() const { return m_def; }

    QELXBaseCurve3DHandle clone() const override { return new QELXBSplineCurve3D(*this); }
    QELXCurveType::Enum GetQELXCurveType() const override { return QELXCurveType::BSpline; }
    QELXPoint3D eval(double t, QELXCurveDerivatives3D* d) const override { return m_def.eval(t, d); }
    double invert(const QELXPoint3D& p, QELXCurveDerivatives3D* d) const override;
    Gk_Domain principalRange() const override;
    Gk_Domain domain() const override { return m_def.domain(); }
    void apply(const QELXMorph3D& morph) override { m_def.Transform(morph, false); }
    // The definition itself, whatever the domain asked for; achieved 0.
    QELXBSplineDef3D bspline(const Gk_Domain& domain, double tol, double* achieved) const override;
    void traverse(QELXCurveCallback3D* callback) const override;
    unsigned long GetPersistentIdentifier() const override;
    const char* GetName() const override { return "QELXBSplineCurve3D"; }

private:
    QELXBSplineDef3D m_def;
};

class QELXBSplineCurve2D : public QELXBaseCurve2D {
public:
    explicit QELXBSplineCurve2D(const QELXBSplineDef2D& def) : m_def(def) {}
    const QELXBSplineDef2D& definition() const { return m_def; }

    QELXBaseCurve2DHandle clone() const override { return new QELXBSplineCurve2D(*this); }
    QELXPoint2D eval(double t, QELXCurveDerivatives2D* d) const override { return m_def.eval(t, d); }
    double invert(const QELXPoint2D& p, QELXCurveDerivatives2D* d) const override;
    Gk_Domain principalRange() const override;
    Gk_Domain domain() const override { return m_def.domain(); }
    QELXBSplineDef2D bspline(const Gk_Domain& domain, double tol, double* achieved) const override;
    void traverse(QELXCurveCallback2D* callback) const override;
    unsigned long GetPersistentIdentifier() const override;
    const char* GetName() const override { return "QELXBSplineCurve2D"; }

private:
    QELXBSplineDef2D m_def;
};
