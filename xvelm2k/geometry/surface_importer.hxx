#pragma once
// Import of one framework surface, read through a geometry exporter, as one
// kernel surface. Besides the surface the importer delivers the parameter
// map from framework (u, v) to kernel (u, v) and whether the face keeps the
// framework surface's orientation on the kernel surface.
//
// The importer is made on the caller's stack for one surface: construct,
// ImportSurface, take the surface (the caller owns it), the map and the
// sense, destroy. A result of success does not promise a surface: callers
// test GetSurface().
#include "qelx/gk_bspline.hxx"
#include "qelx/gk_maps.hxx"
#include "qelx/gk_surface.hxx"
#include "qelx/qelx_identifier.hxx"
#include "qelx/qelx_math.hxx"
#include "qelx/qelx_result.hxx"
#include "velm/bspline.hxx"
#include "velm/geometry.hxx"
#include "xvelm2k/export.hxx"

class QELXGeometryExporter;

class XVELM2KA_API QELXVelmSurfaceImporter {
public:
    QELXVelmSurfaceImporter(QELXGeometryExporter* exporter, const QELXIdentifier& surface, bool faceSense,
                            const Gk_Span& span, const QELXMorph3D& morph, double tolerance, int g1Mode);
    QELXVelmSurfaceImporter(const QELXVelmSurfaceImporter&) = delete;
    QELXVelmSurfaceImporter& operator=(const QELXVelmSurfaceImporter&) = delete;
    // Leaves the surface to whoever took it; frees the importer's own B-spline.
    virtual ~QELXVelmSurfaceImporter();

    QELIResult ImportSurface();

    surface* GetSurface() const { return m_surface; }
    bool IsSenseKept() const { return m_senseKept; }
    bool UpdateSense();
    Gk_BiLinMap GetParamMap() const { return m_map; }
    Gk_SurfApproxInfoHandle GetApproxInfo() const { return m_approxInfo; }
    bool IsAnalyticReplacement() const { return m_analyticReplacement; }

    // Builders, one per surface kind of the exporter.
    QELIResult ImportPlane();
    QELIResult ImportConical();
    QELIResult ImportSphere();
    QELIResult ImportTorus();
    QELIResult ImportBSpline();
    QELIResult ImportOffset();
    QELIResult ImportExtruded();
    QELIResult ImportRevolved();

    // Builds the B-spline definition and the spline surface of a net (changed
    // in place: morph, G1 smoothing, pole collapse). On success both replace
    // what the importer held; on failure the surface is left as it was.
    QELIResult BuildBSpline(QELXBSplineNetDef3D& net, bool selfIntersectionRepair);
    // Replace an unusable spline by a cylinder or a plane when one fits the
    // B-spline within 0.001 on an 11 x 11 grid.
    bool FitCylinder(bs3_surface definition, surface*& srf);
    bool FitPlane(bs3_surface definition, surface*& srf);
    // Collapses u polygon 0 (code 1), the last (2) or both (3); likewise v.
    void CollapsePoles(QELXPolygonNetWeight3D& net, int uPoleCode, int vPoleCode);
    // Irregular, or with a bad pole or fold-over, at the fit tolerance.
    bool IsBadSurface(surface* srf);
    // Debug dump of a one-face body on the spline ("spline<n>.vlt" without a path).
    void DumpSurface(const spline& srf, const char* path);

protected:
    void SetupParamMap();

private:
    // Kernel plane, cone or sphere from analytic data; null when the data is degenerate.
    bool placeSurface(surface* made);
    void dropSurface();
    QELIResult checkDefinition(int status, bool& found);
    // The exporter's own parameterization of the surface (framework -> canonical).
    Gk_BiLinMap exporterParameterization(const QELXIdentifier& id, bool* sense) const;
    void resurface();
    // Imports the profile of an extrusion or revolution over the domain and
    // hands back the kernel curve (owned by the caller) and its map.
    curve* importProfile(const QELXIdentifier& profile, const Gk_Domain& domain, Gk_LinMap& profileMap);
    // The cone (or cylinder) a straight profile sweeps about the axis; null
    // for a line through the axis.
    surface* revolvedLine(const straight& line, const QELXPoint3D& axisPoint, const QELXPoint3D& axis);

    QELXGeometryExporter* m_exporter;
    QELXIdentifier m_surfaceId;
    surface* m_surface = nullptr;
    bs3_surface m_definition = nullptr;
    bool m_faceSense;
    bool m_parameterizationSense = true;
    bool m_senseKept = true;
    Gk_Span m_span;
    Gk_BiLinMap m_map;
    QELXMorph3D m_morph;
    int m_g1Mode;
    bool m_analyticReplacement = false;
    double m_tolerance;
    Gk_SurfApproxInfoHandle m_approxInfo;
};
