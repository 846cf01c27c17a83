#pragma once
// Topology surgery behind the small-edge and vertex repairs: edge groups at a
// vertex, moving every use of one vertex onto another, and removing an edge
// by merging its two vertices. Callers that need roll-back run these inside
// their own kernel-call bracket.
#include "xvelm2k/export.hxx"

class EDGE;
class VERTEX;
class Ve_EdgeTag;
class Ve_VertexTag;

class XVELM2KA_API Ve_EdgeProcessor {
public:
    // The second edge's first coedge is reached from the first edge's first
    // coedge through partners and, at the vertex, previous and next coedges.
    static bool sameEdgeGroup(VERTEX* vertex, EDGE* first, EDGE* second);
    // Deletes the vertex's first reference in the edge's group; false when none.
    static bool removeEdgeGroup(VERTEX* vertex, EDGE* edge);
    // Every use of the old vertex moves onto the new one and the old vertex
    // goes. `edge` (may be null) is the edge whose collapse causes the move;
    // `singleContact` (may be null) receives whether that edge's two faces
    // then touch only at the new vertex.
    static void replaceVertex(VERTEX* oldVertex, VERTEX* newVertex, EDGE* edge, bool* singleContact);
    // Removes the edge, merging its vertices into the one of larger tolerance
    // (the start on a tie), and gives the survivor; null for a null edge, and
    // when no edge is left at the survivor (it goes with the edge then).
    static Ve_VertexTag* removeEdge(Ve_EdgeTag* edge, bool updateTolerances);
    // The edge's curve collapses to a point at the tolerance.
    static bool isEdgeCurveDegenerate(Ve_EdgeTag* edge, double tolerance);
};
