#pragma once
// One framework parameter-space curve (a 2-D B-spline on a face's surface),
// read through a geometry exporter, as a kernel 2-D B-spline; given a
// coedge, attached to it as a pcurve on its face's surface.
#include "qelx/gk_bspline.hxx"
#include "qelx/gk_maps.hxx"
#include "qelx/qelx_geometry_exporter.hxx"
#include "qelx/qelx_identifier.hxx"
#include "velm/bspline.hxx"
#include "velm/topology.hxx"
#include "xvelm2k/export.hxx"

#include "qelx/gk_surface.hxx"

class QELXBSCurveDef2D;

// Internal to the import roads; visible so the tests can drive it.
class XVELM2KA_API QELXVelmPCurveImporter {
public:
    QELXVelmPCurveImporter(QELXGeometryExporter* exporter, const QELXIdentifier& pcurve, COEDGE* coedge,
                           const Gk_BiLinMap& surfaceMap, const Gk_Domain& domain, bool forward,
                           Gk_SurfApproxInfoHandle approximation = Gk_SurfApproxInfoHandle());
    QELXVelmPCurveImporter(QELXGeometryExporter* exporter, const QELXIdentifier& pcurve, const Gk_BiLinMap& surfaceMap,
                           const Gk_Domain& domain, Gk_SurfApproxInfoHandle approximation = Gk_SurfApproxInfoHandle());
    QELXVelmPCurveImporter(const QELXVelmPCurveImporter&) = delete;
    QELXVelmPCurveImporter& operator=(const QELXVelmPCurveImporter&) = delete;
    ~QELXVelmPCurveImporter() = default;

    // Reads and builds the B-spline; with a coedge, attaches it.
    QELIResult ImportPCurve();
    // Composes the exporter's parameterisation first; B-splines only.
    QELIResult Import();
    void BuildBs2Curve(const QELXBSCurveDef2D& def);
    void FixControlPointCoincidence(const QELXBSCurveDef2D& def);
    // The built B-spline when it was not attached (the caller's then).
    bs2_curve GetBs2Curve() const { return m_bs2; }
    Gk_LinMap GetParamMap() const { return m_map; }
    Gk_Domain GetDomain() const { return m_domain; }

private:
    void composeParameterization();

    QELXGeometryExporter* m_exporter;
    QELXIdentifier m_identifier;
    COEDGE* m_coedge = nullptr;
    Gk_BiLinMap m_surfaceMap;
    bool m_forward = true;
    bs2_curve m_bs2 = nullptr;
    Gk_LinMap m_map;
    Gk_LinMap m_appliedMap; // what the last build applied, for a rebuild
    Gk_Domain m_domain;
    double m_tolerance = 0.01;
};
