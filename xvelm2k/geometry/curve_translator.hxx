#pragma once
// Framework curves into kernel curves: the translator receives the exact
// line, ellipse or B-spline definition of a traversed framework curve and
// builds the matching kernel straight, ellipse or intcurve, moved by the
// callback's morph and running in the framework curve's own parameter.
//
// The small reference-counted owners keep a kernel B-spline alive until a
// kernel curve takes it (release) or they go.
#include "qelx/qelx_curve.hxx"
#include "velm/bspline.hxx"
#include "velm/geometry.hxx"
#include "xvelm2k/export.hxx"

template <class B, void (*Delete)(B&)>
class Ve_BsplineOwner : public QELXReferenceCount {
public:
    explicit Ve_BsplineOwner(B spline = nullptr) : QELXReferenceCount(0), m_spline(spline) {}
    Ve_BsplineOwner(const Ve_BsplineOwner&) = delete;
    Ve_BsplineOwner& operator=(const Ve_BsplineOwner&) = delete;
    ~Ve_BsplineOwner() override
    {
        if (m_spline)
            Delete(m_spline);
    }
    B get() const { return m_spline; }
    // Hands the B-spline over (to a kernel curve) without freeing it.
    B release()
    {
        B s = m_spline;
        m_spline = nullptr;
        return s;
    }

private:
    B m_spline;
};

namespace ve_owner_detail {
inline void deleteBs3(bs3_curve& b) { bs3_curve_delete(b); }
inline void deleteBs2(bs2_curve& b) { bs2_curve_delete(b); }
} // namespace ve_owner_detail

class Ve_Bs3Curve : public Ve_BsplineOwner<bs3_curve, ve_owner_detail::deleteBs3> {
    using Ve_BsplineOwner::Ve_BsplineOwner;
};
class Ve_Bs2Curve : public Ve_BsplineOwner<bs2_curve, ve_owner_detail::deleteBs2> {
    using Ve_BsplineOwner::Ve_BsplineOwner;
};
class QELXVeBs3Curve : public Ve_BsplineOwner<bs3_curve, ve_owner_detail::deleteBs3> {
    using Ve_BsplineOwner::Ve_BsplineOwner;
};
class QELXVeBs2Curve : public Ve_BsplineOwner<bs2_curve, ve_owner_detail::deleteBs2> {
    using Ve_BsplineOwner::Ve_BsplineOwner;
};

class XVELM2KA_API Ve_Bs3CurveHandle : public QELXTypedHandle<Ve_Bs3Curve> {
    using QELXTypedHandle::QELXTypedHandle;
};
class XVELM2KA_API Ve_Bs2CurveHandle : public QELXTypedHandle<Ve_Bs2Curve> {
    using QELXTypedHandle::QELXTypedHandle;
};
class XVELM2KA_API QELXVeBs3CurveHandle : public QELXTypedHandle<QELXVeBs3Curve> {
    using QELXTypedHandle::QELXTypedHandle;
};
class XVELM2KA_API QELXVeBs2CurveHandle : public QELXTypedHandle<QELXVeBs2Curve> {
    using QELXTypedHandle::QELXTypedHandle;
};

class XVELM2KA_API Ve_CurveTranslator : public QELXCurveCallback3D {
public:
    Ve_CurveTranslator(Gk_Domain& domain, double value, const QELXMorph3D& morph, bool noG1Repair);
    // Copies share nothing: the copy gets its own copy of the curve.
    Ve_CurveTranslator(const Ve_CurveTranslator& other);
    Ve_CurveTranslator& operator=(const Ve_CurveTranslator& other);
    ~Ve_CurveTranslator() override;

    void doCallback(const QELXBSCurveDef3D& bspline) override;
    void doCallback(const QELXEllipseDef3D& ellipse) override;
    void doCallback(const QELXLineDef3D& line) override;
    // The callback's map (framework -> definition) becomes its inverse.
    void preProcessMap() override;

    // The kernel curve of the last callback; the translator keeps it.
    curve* getCurve() const { return m_curve; }
    // A framework curve over a new kernel entity made from the curve, over
    // the callback's domain; null before a callback built a curve.
    QELXBaseCurve3DHandle getData();
    // Kernel B-spline and intcurve from the definition (changed in place:
    // G1 repair, parameters).
    void createSplineCurve(QELXBSplineDef3D& def);

protected:
    void replaceCurve(curve* c);
    curve* m_curve = nullptr;
    bool m_noG1Repair;
    bs3_curve m_spline = nullptr; // owned by m_curve
};
