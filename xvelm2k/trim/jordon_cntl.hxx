#pragma once
// One trimming segment of a loop being imported: the part of the boundary one
// source coedge describes, as a kernel 3-D curve (CURVE), a kernel curve in the
// face surface's parameters (PCURVE) and a parameter domain. Both curves run
// in the coedge's parameter over the domain.
//
// Ownership: a CURVE or PCURVE has one owner. While `owner` is false the
// curves belong to whoever took them (the edge and coedge of the loop built);
// an owning segment loses them when it dies. Copies never own.
#include "model/containers.hxx"
#include "qelx/gk_maps.hxx"
#include "qelx/qelx_identifier.hxx"
#include "qelx/qelx_math.hxx"
#include "qelx/qelx_refcount.hxx"
#include "xvelm2k/export.hxx"

class QELXBRepExporter;
class Ve_CurveTag;
class Ve_PCurveTag;
class Ve_SurfaceTag;
class Ve_TrimImportContext;
class Ve_JordonCntlHandle;

class XVELM2KA_API Ve_JordonCntl : public QELXReferenceCount {
public:
    explicit Ve_JordonCntl(Ve_TrimImportContext* context);
    // Copies share the curves but never own them: one owner loses them once.
    Ve_JordonCntl(const Ve_JordonCntl& other);
    Ve_JordonCntl& operator=(const Ve_JordonCntl& other);
    ~Ve_JordonCntl() override;
    const char* GetName() const override { return "Ve_JordonCntl"; }

    void setCur(Ve_CurveTag* curve) { m_curve = curve; }
    void setPcur(Ve_PCurveTag* pcurve) { m_pcurve = pcurve; }
    void setDomain(const Gk_Domain& domain) { m_domain = domain; }
    const Gk_Domain& getDomain() const { return m_domain; }
    Ve_TrimImportContext* getContext() const { return m_context; }
    Ve_CurveTag* cur() const { return m_curve; }
    Ve_PCurveTag* pcur() const { return m_pcurve; }
    void setOwner(bool owner) { m_owner = owner; }
    bool isOwner() const { return m_owner; }

    // Imports the coedge's pcurve and its edge's curve; true when either was made.
    bool seed(const QELXIdentifier& coedge, QELXBRepExporter* exporter);
    // Chooses between pcurve and curve when they disagree, splits at tangent
    // breaks and rebuilds a missing 3-D curve: the pieces in order along the
    // segment, this segment last.
    QELXDynamicArray<Ve_JordonCntlHandle> repair();

    bool isPole() const;
    bool isUnbounded() const;
    bool isDegenerate(bool use2D, double tol) const;
    void reverse();

    // The 3-D point at the domain's start, middle or end, through the pcurve
    // on the surface when asked (and always when there is no 3-D curve).
    QELXPoint3D start(bool throughPCurve) const;
    QELXPoint3D mid(bool throughPCurve) const;
    QELXPoint3D end(bool throughPCurve) const;

    // Loses the curve (or pcurve) and forgets it; the curve's entry in the
    // curve-to-source-edge map goes with it, so a curve made later at the
    // same address cannot inherit it.
    void loseCur();
    void losePcur();

private:
    bool doMatch() const;
    QELXPoint3D eval(double t, bool throughPCurve) const;
    void cleanUp();

    Ve_SurfaceTag* m_surface = nullptr;
    Ve_PCurveTag* m_pcurve = nullptr;
    Ve_CurveTag* m_curve = nullptr;
    Gk_Domain m_domain{0.0, 0.0, Gk_Def::FuzzKnot};
    Ve_TrimImportContext* m_context = nullptr;
    bool m_owner = false;
};

class XVELM2KA_API Ve_JordonCntlHandle : public QELXTypedHandle<Ve_JordonCntl> {
public:
    Ve_JordonCntlHandle() = default;
    Ve_JordonCntlHandle(Ve_JordonCntl* segment) : QELXTypedHandle<Ve_JordonCntl>(segment) {}
    Ve_JordonCntlHandle(const Ve_JordonCntlHandle&) = default;
    Ve_JordonCntlHandle& operator=(const Ve_JordonCntlHandle&) = default;
    ~Ve_JordonCntlHandle() override = default;
    bool IsValid() const override { return get() != nullptr; }
};
