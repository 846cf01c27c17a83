#pragma once
// The framework's own converter of exporter geometry into kernel geometry
// (used when the connector's importers are switched off). The kernel
// surface it builds is parameterised in the exporter's FRAMEWORK
// parameters, so pcurves can keep their control points as they are.
#include "qelx/qelx_math.hxx"
#include "qelx/qelx_result.hxx"

class QELXGeometryExporter;
class QELXIdentifier;
class SURFACE;
class CURVE;
class PCURVE;

class QELXDefaultGeometryImporter {
public:
    // Lengths are multiplied by scale (source units to target units).
    QELXDefaultGeometryImporter(QELXGeometryExporter* exporter, double scale);
    // Everything is carried by the morph, as the import context carries the
    // source's points (its unit scale, and the frame imported into):
    // curves and surfaces keep their parameters, so pcurves stay as read.
    QELXDefaultGeometryImporter(QELXGeometryExporter* exporter, const QELXMorph3D& morph);

    // 0 with a new kernel entity (use count 0), or 0x1000001 with out null:
    // bad data, a kind without a kernel form here (offset, unknown), or an
    // ellipse whose parameterisation the kernel form cannot carry. Cones,
    // spheres and tori under a map other than the identity, and revolved and
    // extruded surfaces, become splines over the exporter's span.
    QELIResult ConvertSurface(const QELXIdentifier& surface, SURFACE*& out);
    // Whether the surface ConvertSurface makes of `surface` has the normal
    // the exporter's face senses refer to (the canonical frame's when the
    // parameterization's flag is true, else its opposite). Planes and the
    // kernel's own quadrics keep the canonical normal; a spline built in
    // framework parameters has it turned when one direction runs backwards.
    bool KeepsFaceNormal(const QELXIdentifier& surface) const;
    QELIResult ConvertCurve(const QELXIdentifier& curve, CURVE*& out);
    // The pcurve on the face surface `surface` (made by ConvertSurface), in
    // its coedge's parameter: read at the negated parameter when `sense` is
    // false (the coedge's pcurve sense), as the exporter's contract has it.
    QELIResult ConvertPCurve(const QELXIdentifier& pcurve, SURFACE* surface, PCURVE*& out, bool sense = true);

private:
    // In the source's own frame and units.
    QELIResult convertSurface(const QELXIdentifier& surface, int type, SURFACE*& out);
    QELIResult convertCurve(const QELXIdentifier& curve, int type, CURVE*& out);

    QELXGeometryExporter* m_exporter;
    QELXMorph3D m_morph;
};
