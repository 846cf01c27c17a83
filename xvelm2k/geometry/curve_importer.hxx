#pragma once
// One framework curve, read through a geometry exporter, as a kernel curve:
// lines as straights, ellipses as ellipses, B-splines as intcurves. Given an
// edge, the curve goes on it, the edge's sense follows a reversing
// parameterisation and the edge's pcurves are repaired.
//
// Parameters: the exporter states canonical = scale * t + offset for the
// source parameter t; the kernel curve runs in t (the edge domains the
// import roads read are in t), so the parameter map goes canonical -> kernel
// while the curve is made. Made, the curve holds the map and the map left
// (GetParamMap) takes t to the kernel curve's parameter: the identity, but
// for an ellipse whose t is not its angle, which runs in the canonical one.
#include "qelx/gk_bspline.hxx"
#include "qelx/gk_maps.hxx"
#include "qelx/qelx_geometry_exporter.hxx"
#include "qelx/qelx_identifier.hxx"
#include "velm/bspline.hxx"
#include "velm/geometry.hxx"
#include "velm/topology.hxx"
#include "xvelm2k/export.hxx"

// Internal to the import roads; visible so the tests can drive it.
class XVELM2KA_API QELXVelmCurveImporter {
public:
    // Edge form: fit tolerance QELresfit, not limited to the domain.
    QELXVelmCurveImporter(QELXGeometryExporter* exporter, const QELXIdentifier& curve, EDGE* edge, bool forward,
                          const Gk_Domain& domain, const QELXMorph3D& morph, bool skipG1Fix);
    // Free form: no edge, forward.
    QELXVelmCurveImporter(QELXGeometryExporter* exporter, const QELXIdentifier& curve, const Gk_Domain& domain,
                          double fitTolerance, const QELXMorph3D& morph, bool skipG1Fix, bool limitToDomain);
    QELXVelmCurveImporter(const QELXVelmCurveImporter&) = delete;
    QELXVelmCurveImporter& operator=(const QELXVelmCurveImporter&) = delete;
    ~QELXVelmCurveImporter();

    // The curve imported onto the edge (edge form) over the source domain.
    // A domain (finite, not empty) ranges the edge before the curve comes,
    // since the import fits the edge's pcurves over the edge's range, and the
    // range the vertices give moves with a vertex off the curve (past a
    // sphere's pole, a seam's pcurve swung round it and its loop no longer
    // closed). Where the curve runs in a parameter of its own (an ellipse's
    // angle) the range becomes the domain's image there, the pcurves
    // following; without a curve made the range is unset again. Returns the
    // domain's image (GetDomain).
    static Gk_Domain ImportOntoEdge(QELXGeometryExporter* exporter, const QELXIdentifier& curve, EDGE* edge,
                                    bool forward, const Gk_Domain& domain, const QELXMorph3D& morph);

    // Always success: callers test the curve (or the edge's geometry).
    QELIResult ImportCurve();
    QELIResult ImportLine();
    QELIResult ImportEllipse();
    QELIResult ImportBSpline();
    QELIResult ImportBSplineDef(const QELXBSplineDef3D& def);
    void BuildBSplineCurve(QELXBSplineDef3D& def);
    void FixControlPointCoincidence(const QELXBSplineDef3D& def);
    bool MakePeriodic();
    static bs3_curve MakeBs3Periodic(bs3_curve spline);
    bool NeedsClosedReimport(const QELXBSplineDef3D& def);
    int MakeIntcurve(bs3_curve spline, double fit, const surface* surface1, const surface* surface2,
                     bs2_curve pcurve1, bs2_curve pcurve2, intcurve*& result);
    bool AttachPCurveFromIntcurve(COEDGE* coedge, FACE* face);

    // A reversal of the map moves onto the edge (and the sense kept flag).
    virtual void FixOrientation();
    void AttachToEdge();
    void LimitToDomain();
    bool ReverseParamMap();
    bool IsReversed() const { return !m_senseKept; }
    Gk_LinMap GetParamMap() const { return m_map; }
    // The kernel curve's parameter at the source parameter t: the map's
    // image of t, negated first when the import reversed the curve.
    double MapParameter(double t) const;
    // The domain as the edge's range (in the kernel curve's parameter,
    // negated when the import turned the edge): the source's, but for an
    // ellipse whose source parameter is not its angle, which runs in the
    // canonical parameter.
    Gk_Domain GetDomain() const;
    curve* GetCurve() const { return m_curve; }

private:
    void ApproximateLargeEllipse();
    void ApproximateTinyArc();

    QELXGeometryExporter* m_exporter;
    QELXIdentifier m_identifier;
    curve* m_curve = nullptr;
    bs3_curve m_bs3 = nullptr; // the B-spline of m_curve, owned by it
    EDGE* m_edge = nullptr;
    bool m_forward = true;
    Gk_Domain m_domain;
    double m_fitTolerance;
    QELXMorph3D m_morph;
    Gk_LinMap m_map;
    bool m_senseKept = true;
    bool m_skipG1Fix;
    bool m_limitToDomain = false;
    bool m_mapUsable = true;
    bool m_reimported = false; // the closed re-import runs once
};
