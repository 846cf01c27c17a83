#pragma once
// The geometry exporter: every surface, curve, pcurve and point of a source,
// read by identifier in fixed data layouts. Each surface, curve and pcurve
// has a canonical parameterisation defined by its data; the
// Get...Parameterization answers map the source's (framework) parameters to
// the canonical ones. Arrays are allocated with new[] by the exporter and
// freed by the matching Delete... call.
#include "qelx/qelx_representation.hxx"

#include <map>

// GetSurfaceType answers.
enum QELXSurfaceType {
    QELXSurfaceTypeUnknown = 0,
    QELXSurfaceTypePlane = 1,
    QELXSurfaceTypeCylinder = 2,
    QELXSurfaceTypeCone = 3,
    QELXSurfaceTypeSphere = 4,
    QELXSurfaceTypeTorus = 5,
    QELXSurfaceTypeNurbs = 6,
    QELXSurfaceTypeRevolved = 7,
    QELXSurfaceTypeExtruded = 8,
    QELXSurfaceTypeOffset = 9,
};

// GetCurveType answers (2 is never produced; readers ignore it).
enum QELXGeometryCurveType {
    QELXGeometryCurveTypeUnknown = 0,
    QELXGeometryCurveTypeLine = 1,
    QELXGeometryCurveTypeOther = 2,
    QELXGeometryCurveTypeEllipse = 3,
    QELXGeometryCurveTypeNurbs = 4,
};

// GetPCurveType answers.
enum QELXGeometryPCurveType {
    QELXGeometryPCurveTypeUnknown = 0,
    QELXGeometryPCurveTypeNurbs = 1,
};

// NURBS forms: 2 and 3 both read as periodic.
enum QELXParamClosureType {
    QELXParamClosureOpen = 0,
    QELXParamClosureClosed = 1,
    QELXParamClosurePeriodic = 2,
    QELXParamClosurePeriodicSmooth = 3,
};

enum QELXToroidalSurfaceType {
    QELXToroidalSurfaceRing = 1,  // R > r
    QELXToroidalSurfaceApple = 2, // 0 <= R <= r
    QELXToroidalSurfaceLemon = 3, // negative major radius, handed as |R|
};

class QELXGeometryExporter : public QELXExportRepresentation {
public:
    static constexpr const char* QELXGeometryTypeSurface = "QELXGeometryTypeSurface";
    static constexpr const char* QELXGeometryTypeCurve = "QELXGeometryTypeCurve";
    static constexpr const char* QELXGeometryTypePCurve = "QELXGeometryTypePCurve";
    static constexpr const char* QELXGeometryTypePoint = "QELXGeometryTypePoint";

    using QELXExportRepresentation::QELXExportRepresentation;
    QELXRepType GetType() const override { return QELXRepType("Geometry"); }

    // ---- surfaces
    virtual QELIResult GetSurfaceType(const QELXIdentifier&, int& type) = 0;
    // (uA, uB, uC), (vA, vB, vC): Gk_LinMapExt triples s = uA*uB*u + uC,
    // t = vA*vB*v + vC. flag: the source surface's normal equals
    // dC/ds x dC/dt of the canonical parameterisation.
    virtual QELIResult GetSurfaceParameterization(const QELXIdentifier&, double& uA, double& uB, double& uC,
                                                  double& vA, double& vB, double& vC, bool& flag) = 0;
    // C(s,t) = o + s u' + t (n x u)|u|/|n x u|, u' = u - (u.n)n (n unit).
    virtual QELIResult GetPlanarSurfaceData(const QELXIdentifier&, double origin[3], double uVector[3],
                                            double normal[3]) = 0;
    // a radius through origin, b half-angle, c the signed sine (+sin b when
    // the radius shrinks along +axis, 0 for a cylinder):
    // C(s,t) = o + (1 + c s) a (r cos t + (d x r) sin t) - a cos(b) s d.
    virtual QELIResult GetConicalSurfaceData(const QELXIdentifier&, double& a, double& b, double& c,
                                             double origin[3], double refDir[3], double axis[3]) = 0;
    // Canonical: the default sphere at (centre, radius), u latitude, v
    // longitude from +x about +z.
    virtual QELIResult GetSphericalSurfaceData(const QELXIdentifier&, double& radius, double centre[3],
                                               double dir1[3], double dir2[3]) = 0;
    virtual QELIResult GetToroidalSurfaceData(const QELXIdentifier&, double& major, double& minor,
                                              int& toroidalType, double centre[3], double refDir[3],
                                              double axis[3]) = 0;
    // Control point (i, j) at 3*(i*vCount + j); weights null when
    // non-rational; knots distinct with multiplicities; closures
    // QELXParamClosureType.
    virtual QELIResult GetNurbsSurfaceData(const QELXIdentifier&, int& uDegree, int& vDegree, int& uCount,
                                           int& vCount, double*& ctrlPts, double*& weights, int& uKnotCount,
                                           double*& uKnots, int*& uMults, int& vKnotCount, double*& vKnots,
                                           int*& vMults, int& uClosure, int& vClosure) = 0;
    virtual QELIResult DeleteNurbsSurfaceData(double*& ctrlPts, double*& weights, double*& uKnots, int*& uMults,
                                              double*& vKnots, int*& vMults);
    virtual QELIResult GetOffsetSurfaceData(const QELXIdentifier&, double& distance, QELXIdentifier& base) = 0;
    virtual QELIResult GetExtrudedSurfaceData(const QELXIdentifier&, double direction[3],
                                              QELXIdentifier& profile) = 0;
    virtual QELIResult GetRevolvedSurfaceData(const QELXIdentifier&, double axisPoint[3], double axisDir[3],
                                              QELXIdentifier& profile) = 0;
    // The parameter box in canonical parameters.
    virtual QELIResult GetSurfaceSpan(const QELXIdentifier&, double uSpan[2], double vSpan[2]) = 0;
    // How far the surface handed out lies from the source's own at most: 0
    // for an exact form, the largest distance measured for an approximation.
    virtual QELIResult GetSurfaceDeviation(const QELXIdentifier&, double& deviation)
    {
        deviation = 0.0;
        return QELI_OK;
    }

    // ---- curves
    virtual QELIResult GetCurveType(const QELXIdentifier&, int& type) = 0;
    // Canonical parameter = scale*t + offset.
    virtual QELIResult GetCurveParameterization(const QELXIdentifier&, double& scale, double& offset,
                                                bool& flag) = 0;
    virtual QELIResult GetCurveDomain(const QELXIdentifier&, double range[2]) = 0;
    virtual QELIResult GetLinearCurveData(const QELXIdentifier&, double point[3], double direction[3]) = 0;
    // C(t) = centre + a cos t M + b sin t (N x M), a >= b.
    virtual QELIResult GetEllipticalCurveData(const QELXIdentifier&, double& majorRadius, double& minorRadius,
                                              double centre[3], double majorDir[3], double normal[3]) = 0;
    virtual QELIResult GetNurbsCurveData(const QELXIdentifier&, int& degree, int& ctrlCount, double*& ctrlPts,
                                         int& knotCount, double*& knots, int*& mults, double*& weights,
                                         int& form) = 0;
    virtual QELIResult DeleteNurbsCurveData(double*& ctrlPts, double*& knots, int*& mults, double*& weights);
    virtual QELIResult GetCartesianPointData(const QELXIdentifier&, double xyz[3]) = 0;

    // ---- parameter curves (control points in the face surface's source
    // parameters)
    virtual QELIResult GetPCurveType(const QELXIdentifier&, int& type) = 0;
    virtual QELIResult GetPCurveParameterization(const QELXIdentifier&, double& scale, double& offset,
                                                 bool& flag) = 0;
    virtual QELIResult GetNurbsPCurveData(const QELXIdentifier&, int& degree, int& ctrlCount, double*& ctrlPts,
                                          int& knotCount, double*& knots, int*& mults, double*& weights,
                                          int& form) = 0;
    virtual QELIResult DeleteNurbsPCurveData(double*& ctrlPts, double*& knots, int*& mults, double*& weights);

    const char* GetName() const override { return "QELXGeometryExporter"; }
};

// The framework's own geometry exporter: answers for the words of live
// framework geometry objects (Gk_Surface3, QELXCurve3D, QELXCurve2D,
// QELXRefPoint3D) found in the process-wide geometry-object table. A word
// not in the table, or of another kind, answers 0x100000b.
class QELXGkGeometryExporter : public QELXGeometryExporter {
public:
    explicit QELXGkGeometryExporter(QELXDocument* document) : QELXGeometryExporter(document) {}

    QELIResult GetSurfaceType(const QELXIdentifier&, int& type) override;
    QELIResult GetSurfaceParameterization(const QELXIdentifier&, double& uA, double& uB, double& uC, double& vA,
                                          double& vB, double& vC, bool& flag) override;
    QELIResult GetPlanarSurfaceData(const QELXIdentifier&, double origin[3], double uVector[3],
                                    double normal[3]) override;
    QELIResult GetConicalSurfaceData(const QELXIdentifier&, double& a, double& b, double& c, double origin[3],
                                     double refDir[3], double axis[3]) override;
    QELIResult GetSphericalSurfaceData(const QELXIdentifier&, double& radius, double centre[3], double dir1[3],
                                       double dir2[3]) override;
    QELIResult GetToroidalSurfaceData(const QELXIdentifier&, double& major, double& minor, int& toroidalType,
                                      double centre[3], double refDir[3], double axis[3]) override;
    QELIResult GetNurbsSurfaceData(const QELXIdentifier&, int& uDegree, int& vDegree, int& uCount, int& vCount,
                                   double*& ctrlPts, double*& weights, int& uKnotCount, double*& uKnots,
                                   int*& uMults, int& vKnotCount, double*& vKnots, int*& vMults, int& uClosure,
                                   int& vClosure) override;
    QELIResult GetOffsetSurfaceData(const QELXIdentifier&, double& distance, QELXIdentifier& base) override;
    QELIResult GetExtrudedSurfaceData(const QELXIdentifier&, double direction[3], QELXIdentifier& profile) override;
    QELIResult GetRevolvedSurfaceData(const QELXIdentifier&, double axisPoint[3], double axisDir[3],
                                      QELXIdentifier& profile) override;
    QELIResult GetSurfaceSpan(const QELXIdentifier&, double uSpan[2], double vSpan[2]) override;
    QELIResult GetSurfaceDeviation(const QELXIdentifier&, double& deviation) override;

    QELIResult GetCurveType(const QELXIdentifier&, int& type) override;
    QELIResult GetCurveParameterization(const QELXIdentifier&, double& scale, double& offset, bool& flag) override;
    QELIResult GetCurveDomain(const QELXIdentifier&, double range[2]) override;
    QELIResult GetLinearCurveData(const QELXIdentifier&, double point[3], double direction[3]) override;
    QELIResult GetEllipticalCurveData(const QELXIdentifier&, double& majorRadius, double& minorRadius,
                                      double centre[3], double majorDir[3], double normal[3]) override;
    QELIResult GetNurbsCurveData(const QELXIdentifier&, int& degree, int& ctrlCount, double*& ctrlPts,
                                 int& knotCount, double*& knots, int*& mults, double*& weights, int& form) override;
    QELIResult GetCartesianPointData(const QELXIdentifier&, double xyz[3]) override;

    QELIResult GetPCurveType(const QELXIdentifier&, int& type) override;
    QELIResult GetPCurveParameterization(const QELXIdentifier&, double& scale, double& offset, bool& flag) override;
    QELIResult GetNurbsPCurveData(const QELXIdentifier&, int& degree, int& ctrlCount, double*& ctrlPts,
                                  int& knotCount, double*& knots, int*& mults, double*& weights, int& form) override;

    const char* GetName() const override { return "QELXGkGeometryExporter"; }

private:
    // Profiles and reference surfaces whose words were handed out: held
    // (and so kept in the table) as long as the exporter, each once.
    void hold(QELXReferenceCount* object);
    std::map<const QELXReferenceCount*, QELXReferenceHandle> m_handedOut;
};
