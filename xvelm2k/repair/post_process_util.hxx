#pragma once
// The toolbox of single repair steps that the healing recipes chain after an
// import. One toolbox is bound to one body; each member repairs one kind of
// defect on it and changes nothing where that defect is absent.
//
// Every member takes the body's entities once at its start and works through
// that list; entities a repair creates are not visited by the same pass. A
// kernel error fails only the item being repaired (each item runs in its own
// kernel-call bracket or guard) unless a member says otherwise. A toolbox
// holding no body does nothing: its members change nothing and the bool
// members give false.
#include "xvelm2k/export.hxx"

class BODY;
class FACE;
class COEDGE;
class EDGE;
class ENTITY_LIST;
class Ve_BodyTag;

// Cuts the edge's intcurve down to the edge's range (a new intcurve on the
// subset of its B-spline, fit QELresabs, same parameters). Nothing for a null
// edge, another kind of curve, or when the subset cannot be made.
XVELM2KA_API void trimEdgeIntcurveToRange(EDGE* edge);

class XVELM2KA_API Ve_PostProcessUtil {
public:
    // Asserts ("ve_edgeutl", 162) when the body is null.
    explicit Ve_PostProcessUtil(Ve_BodyTag* body);
    Ve_PostProcessUtil(const Ve_PostProcessUtil&) = default;
    Ve_PostProcessUtil& operator=(const Ve_PostProcessUtil& other);

    Ve_BodyTag* getBody() const { return body; }

    // Spline surfaces extended to cover their faces' pcurves (spline_extension.cpp).
    void extendSplineSurf(bool iterate);
    void extendSplineSurf(FACE* face);
    void extendSplineSurf(FACE* face, COEDGE* coedge, double t);

    // Closed and periodic flags of B-splines set to match their shape (bspline_forms.cpp).
    void fixSurfaceForms();
    void fixCurveForms();
    void MakeCurvesClosed();

    // Face and loop orientation (orientation.cpp).
    bool correctFaceSense(FACE* face);
    bool correctLoopSense(FACE* face);
    bool CorrectFaceAreaProblem();
    void fixFaceLoops();

    // Self-intersecting and irregular edge curves (curve_repairs.cpp).
    bool fixCurveSelfInterxn();
    bool fixCurveIrregularity();
    bool fixfreeCurveSelfInterxn();
    bool fixfreeCurveIrregularity();
    bool fixLeftOverCurveSelfInt();
    bool fixLeftOverCurveIrreg();

    // Edges through surface poles and coedges out of tolerance (pole_splits.cpp).
    void splitEdgesAtPole();
    void removeCoedgeTolErrors();

    // Control-point coincidence and spline surface checks (control_points.cpp).
    bool fixSurfCntrlPntCoincidence();
    bool fixCurveCntrlPntCoincidence();
    void resurfaceWithOldPCurves();

    // Null edges at cone apices (apex_edges.cpp).
    void CheckAndFixNullEdgeAtApexProb();

    // Small edges, sliver faces and faces with an empty parameter range.
    void removeSliverFaces(double tolerance, bool sliverToleranceOnly);
    void removeBadUVFaces();
    void removeSmallEdges(double tolerance, bool byGeometry);
    void removeSmallTolerantEdges(bool byGeometry);
    void removeSingleVertexSmallLinearEdge(double tolerance);

    // Wire bodies and edge curves.
    bool fixLeftOverCurveSelfIntTrim();
    bool ExplodeFaultyWireBody(ENTITY_LIST& bodies);
    bool SplitWireEdgeAtDisc();
    // Approximate intcurves of the listed edges made exact, with fresh
    // pcurves and tolerances; the STEP healer's apex fix uses it too.
    void ReplaceEdgeCrvWithExactIntCurves(const ENTITY_LIST& edges);

private:

    BODY* kernelBody() const;

    Ve_BodyTag* body;
};
