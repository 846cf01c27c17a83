#pragma once
// What the toolbox's member files share: the kinds of geometry the repairs
// look at and the body's lists taken once at the start of a member.
#include <vector>

#include "model/kernel_call_bracket.hxx"
#include "velm/bspline.hxx"
#include "velm/geometry.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/lists.hxx"
#include "velm/topology.hxx"

namespace ve_repair {

// The face's spline equation; null unless the face is on a spline surface.
spline* splineOf(const FACE* face);
// The edge's intcurve; null unless the edge's curve is an intcurve.
intcurve* intcurveOf(const EDGE* edge);

// Faces, face edges (first coedge in a loop) and wire edges of the body, in
// kernel order; null entries never appear.
std::vector<FACE*> bodyFaces(BODY* body);
std::vector<EDGE*> bodyEdges(BODY* body);
std::vector<EDGE*> bodyWireEdges(BODY* body);
// The entities a kernel list holds, as a vector of that kind.
template <class T>
std::vector<T*> listed(const ENTITY_LIST& list)
{
    std::vector<T*> out;
    for (int i = 0; i < list.count(); ++i)
        if (list[i])
            out.push_back(static_cast<T*>(list[i]));
    return out;
}

// Signed face area inside the light guard; false when the kernel failed.
bool faceArea(const FACE* face, double& area);

// A new intcurve of the B-spline (taken) with the fit tolerance, set as the
// edge's curve.
void setEdgeIntcurve(EDGE* edge, bs3_curve bs, double fit);

// 21 even samples of the B-spline over [a, b] interpolated with the old
// curve's start and end tangents; null when the interpolation fails.
bs3_curve reinterpolate21(bs3_curve bs, double a, double b);

// The edge's range in the parameters of its intcurve's B-spline.
QELinterval bsplineRange(const EDGE* edge, const intcurve& ic);
// The part of the intcurve's B-spline the edge uses (caller deletes); null
// when the kernel cannot cut it.
bs3_curve usedPart(const EDGE* edge, const intcurve& ic);
// That part rebuilt on a grid of 20 intervals, or 10 when that fails, over
// the part's own parameters (caller deletes); null when no grid mends it.
bs3_curve regridUsedPart(const EDGE* edge, const intcurve& ic);
// The B-spline (taken), over `range` in its own parameters, set as the edge's
// curve: an intcurve of the fit tolerance, reversed as the old one was.
void putOnEdge(EDGE* edge, bs3_curve bs, const QELinterval& range, double fit, bool reversed);
// The same for a face edge with one coedge, which gets a pcurve fitted to
// the new curve on its face's surface, run the coedge's way. False, and
// nothing set, when no pcurve fits.
bool rebuildFaceEdge(EDGE* edge, COEDGE* c, bs3_curve bs, const QELinterval& range, bool reversed);

// Makes the edge tolerant where its curve strays (Ve_EdgeTag::setTolerance_New
// or _Old). When the edge or its vertices still do not cover the curve
// afterwards, throws the kernel's failure so that the bracket around the
// item undoes the whole item rather than leave an edge off its faces.
void tolerateOrUndo(EDGE* edge, bool useNew);

// A plain vertex that lies on its faces while a coedge's pcurve at it ends
// farther than QELresabs from it (the kernel's check holds a plain vertex
// to its coedges' ends as to its edges' curves) is made tolerant, wide
// enough for those ends. True when it was replaced.
bool tolerateWhereCoedgesEndAway(VERTEX* vertex);

} // namespace ve_repair
