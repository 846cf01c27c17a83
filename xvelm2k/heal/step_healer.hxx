#pragma once
// Healing of bodies read from STEP: the general repairs, splits of faces at
// tangent breaks, fresh pcurves, face-loop fixes and duplicate vertices, then
// the bodies that stand for the input. Static members only.
#include <string>

#include "model/containers.hxx"
#include "xvelm2k/export.hxx"

class BODY;
class COEDGE;
class EDGE;
class ENTITY;
class ENTITY_LIST;
class FACE;
class VERTEX;
class Ve_BodyTag;
class QELposition;
class curve;
class outcome;
class surface;

class XVELM2KA_API QELXStepVelmHealer {
public:
    // Heals the body and appends to `result` the bodies that stand for it:
    // the new bodies of a one-face body's loop repair, then the body; or the
    // per-edge pieces of an exploded wire body; then pieces split off at
    // touching shells. 0 for a null body (result untouched), else 1. The
    // flag has no effect; `label` names the body in the warnings of steps
    // taken back.
    static int xstep_heal_body(Ve_BodyTag* body, QELXDynamicArray<Ve_BodyTag*>& result, bool flag,
                               const std::string& label = "the body");

    // Tolerant vertices where an edge curve misses its vertex, tolerant
    // vertices widened to reach their coedges, and (with fixCurveGaps) edges
    // split at the breaks of their curves. `entity` is a body or a face.
    static void makeVertTolIfReqd(ENTITY* entity, bool fixCurveGaps);
    // Spline faces split at the tangent breaks of their surfaces (faces on
    // exact splines left alone with skipExact); the new faces' edges made
    // tolerant.
    static void splitG1DiscFaces(Ve_BodyTag* body, bool skipExact);
    // Face by face: retracing wire loops, tiny faces, reversed faces and
    // apex faults, by the kernel's loop check of each face.
    static void ve_repair_face_loops(BODY* body);
    // The face's surface reversed and its loops left unclassified.
    static void negateFaceGeom(FACE* face);

    // Edge curve breaks: tangent breaks (knots of full multiplicity that the
    // curve reports as discontinuities), position breaks, and both.
    static void getG1Discont(EDGE* edge, QELXDynamicArray<double>& params, bool& extraKnots);
    static bool getG0Discont(EDGE* edge, QELXDynamicArray<double>& params);
    static bool getG0G1DiscCont(EDGE* edge, QELXDynamicArray<double>& params);
    // The edge split at the breaks of its curve, each piece tolerant with
    // fresh pcurves; pieces shorter than 1e-4 removed.
    static void fixCurveG0Errors(EDGE* edge);
    // Whether the point lies at either vertex (within QELresabs or the
    // vertex's tolerance); false without both vertices.
    static bool isCloseInTolerance(const QELposition& point, VERTEX* start, VERTEX* end);
    static bool arePositionsEqual(const QELposition& a, const QELposition& b);
    static double getDistance(const QELposition& a, const QELposition& b);
    static bool hasPCurveErrors(COEDGE* coedge, FACE* face);
    static void regenPCurve(COEDGE* coedge);
    // A tolerant start (else end) vertex widened to reach its tolerant coedge.
    static void fixCoedgeStartEndTolErrors(COEDGE* coedge);
    static bool isEdgeNonMani(EDGE* edge);

    // Two-edge loops that retrace themselves, removed unless every loop of
    // the face is one; true when some were removed.
    static bool checkAndRemoveWireLoops(FACE* face);
    // A conical face with an apex fault gets exact edge curves.
    static void checkAndFixNullEdgeAtApexProb(FACE* face);
    static void changeEdgeCrvToExactIntCurves(const ENTITY_LIST& edges);
    // Discontinuity records refreshed on the spline surfaces under the
    // face's intcurve edges.
    static void updateFaceDisContInfo(FACE* face);
    // The face-loop rules in callable form, over the five counts of the
    // kernel's face-loop check.
    static bool needsSplineFaceSplit(FACE* face, const int* counts);
    static bool removeFaceIfNeeded(FACE* face, const int* counts);

    // Each spline face's surface cut down to the face's parameter box; the
    // coedges get fresh pcurves unless the old surface was irregular or met
    // itself.
    static void subsetFaces(const QELXDynamicArray<FACE*>& faces);
    // False as soon as one of three checks (coincident control points, then
    // irregularity, then self-intersection) reports what it was asked for.
    static bool isSurfValid(const surface& srf);
    // A degree-1 intcurve of three control points loses its middle one;
    // true when the edge was changed.
    static bool changeGeomIfReqdForDeg1(EDGE* edge);
    // A wire body made of a copy of the edge (with a coedge of the edge's
    // coedge's kind and sense); error number 1 for a null edge or a failed
    // copy.
    static outcome CreateNewWireBody(EDGE* edge, BODY*& body);

    // Debug saves a developer calls by hand: the entity alone, in the
    // kernel's text format, to "<prefix><n>.vlt" (or "Body<n>.vlt") in the
    // current directory, n counting every dump of the process from 0. A file
    // that cannot be opened writes nothing.
    static void dump_body(ENTITY* entity, const char* prefix);
    // The curve saved as a one-edge wire body, prefix "wire"; the body made
    // for the file is deleted again.
    static void debug_wire_body_dump(const curve* c);
};
