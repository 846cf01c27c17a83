#pragma once
// What the toolbox's member files share: the kinds of geometry the repairs
// look at and the body's lists taken once at the start of a member.
#include <vector>

#include "model/kernel_call_bracket.hxx"
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

// Makes the edge tolerant where its curve strays (Ve_EdgeTag::setTolerance_New
// or _Old). When the edge or its vertices still do not cover the curve
// afterwards, throws the kernel's failure so that the bracket around the
// item undoes the whole item rather than leave an edge off its faces.
void tolerateOrUndo(EDGE* edge, bool useNew);

} // namespace ve_repair
