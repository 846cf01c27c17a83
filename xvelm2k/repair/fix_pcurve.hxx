#pragma once
// Pcurves of coedges on parametric surfaces: made from the edge curve, and
// kept running over their edge's parameter range.
#include "qelx/gk_bspline.hxx"
#include "velm/bspline.hxx"
#include "xvelm2k/export.hxx"

class BODY;
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

// Steps run on a body after its periodic faces were split.
// Every closed edge of a face loop is cut in two at the middle of its range;
// then edge curves are trimmed to their edges: those that are periodic or
// closed, or all with the TrimAllEdgesAfterSplit switch on. Wire edges stay.
XVELM2KA_API void splitClosedLoopEdges(BODY* body);
// Edges on degree-one intcurves are split at their kinks.
XVELM2KA_API void splitDegreeOneEdgesAtDiscontinuities(BODY* body);
// Skin faces with three poles in u are split in half at u = 0.5, else those
// with three in v at v = 0.5; a face the kernel cannot split stays whole.
XVELM2KA_API void splitThreePoleSkinFaces(BODY* body);
