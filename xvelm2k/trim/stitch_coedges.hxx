#pragma once
// The topological work of stitching: whether two free coedges of separate
// faces lie on one boundary, and the join that puts the first onto the
// second one's edge (vertices merged at both ends, pcurves carried over to
// the edge's parameters, the two made partners). Kernel entities are changed
// in place.
#include <vector>

#include "xvelm2k/export.hxx"

class COEDGE;
class EDGE;
class VERTEX;
class FACE;
class PCURVE;
class Ve_CoedgeTag;

// How two coedges lie: on one boundary running opposite ways (the ends
// within t crosswise: a's start near b's end and a's end near b's start), or
// the same way (a's start near b's start, a's end near b's end), with the
// quarter and middle points of each within t of the other's curve; a closed
// pair's headings at the middle tell the two apart. Apart otherwise, and for
// a coedge with itself.
enum class CoedgeWays { Apart, Opposite, Along };
XVELM2KA_API CoedgeWays coedgesOnOneBoundary(Ve_CoedgeTag* a, Ve_CoedgeTag* b, double t);

// The coedges lie on one boundary running opposite ways: the pairs a join takes.
XVELM2KA_API bool matchCoedges(Ve_CoedgeTag* a, Ve_CoedgeTag* b, double t);

// Joins a onto b's edge; true when done or when b is already in a's partner
// ring, false for a missing coedge or when the kernel refused (then nothing
// is changed).
XVELM2KA_API bool joinCoedges(Ve_CoedgeTag* a, Ve_CoedgeTag* b);

// b is reached from a through partner links before coming back to a.
XVELM2KA_API bool isInPartnerRing(const COEDGE* a, const COEDGE* b);

// The old vertex's attributes and edge references go to the new one, every
// edge at the old vertex is re-pointed, and the old vertex is lost.
void mergeVertexInto(VERTEX* oldVertex, VERTEX* newVertex, const std::vector<COEDGE*>& coedges);

// The coedges around v reached from a (filled into `coedges`), and v's edge
// references made right for a's group once it joins b's.
void updateVertexEdgeRefs(VERTEX* v, COEDGE* a, COEDGE* b, std::vector<COEDGE*>& coedges);

// The pcurve of x carried from x's edge range onto b's edge range (in the
// sense x will have there).
void reparamPCurveToEdge(PCURVE* pc, COEDGE* x, COEDGE* b, bool sensesDiffer);

// An edge on an intcurve gets the intcurve built over both its faces'
// surfaces, and its coedges the pcurves of that intcurve.
XVELM2KA_API void rebuildIntcurveEdge(EDGE* e);
bool setPCurveFromIntcurve(COEDGE* c, FACE* f);
