#pragma once
// Pcurves of coedges on parametric surfaces: made from the edge curve, and
// kept running over their edge's parameter range.
#include "qelx/gk_bspline.hxx"
#include "velm/bspline.hxx"
#include "xvelm2k/export.hxx"

class COEDGE;
class EDGE;

class XVELM2KA_API Ve_FixPCurve {
public:
    // A new kernel 2-D B-spline of the definition (rational; closed and
    // periodic as the definition is periodic), owned by the caller; null when
    // the data cannot make one.
    static bs2_curve createBs2Curve(const QELXBSplineDef2D& definition);
    // Gives the coedge a pcurve on its face's parametric surface; nothing when
    // none can be fitted.
    static void addPCurve(COEDGE* coedge);
    // Makes the coedge's pcurve run over the edge's range (negated for a
    // reversed coedge), adding one when the coedge has none.
    static void FixPCurveOnParametricSurface(COEDGE* coedge);
    static void FixPCurveOnParametricSurface(EDGE* edge);
};
