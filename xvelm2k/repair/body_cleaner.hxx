#pragma once
// The working object behind the toolbox's small-edge and sliver-face
// removal: the tests (small tolerant edge, sliver face, empty parameter
// range) and the removal loops, bound to one body.
//
// Every removal runs in a kernel-call bracket of its own: a kernel error
// undoes that one removal whole and the walk goes on. Entities a removal
// deleted are skipped when the walk reaches them.
#include "xvelm2k/export.hxx"

class EDGE;
class FACE;
class Ve_BodyTag;
class Ve_EdgeTag;

class XVELM2KA_API Ve_BodyCleaner {
public:
    // Asserts ("ve_edgeutl", 1125) when the body is null; a cleaner without a
    // body does nothing.
    explicit Ve_BodyCleaner(Ve_BodyTag* body);

    // Collapses every four-sided sliver face narrower than the tolerance
    // (the body's sliver tolerance alone when sliverToleranceOnly is set,
    // else the smaller of the two) into the face across its dropped long edge.
    void removeSliverFaces(double tolerance, bool sliverToleranceOnly);
    // One loop of exactly four edges, all with curves, two opposite straight
    // long sides within the tolerance of each other, short sides below
    // 20 x tolerance and area below 10 x tolerance.
    bool isSliverFace(FACE* face, double tolerance);
    // False, nothing changed, when a neighbour is missing or the face across
    // the dropped edge also borders another side.
    bool collapseSliverFace(FACE* face, double tolerance);
    // The face on the other side of the edge, or null.
    FACE* faceAcrossEdge(EDGE* edge, FACE* face);

    // Removes, loop by loop, the edges between tolerant vertices whose
    // tolerances swallow them; the flag selects nothing.
    void removeSmallTolerantEdges(bool flag);
    bool isSmallTolerantEdge(Ve_EdgeTag* edge);
    // Removes the closed straight face edges shorter than the length.
    void removeSingleVertexSmallLinearEdges(double length);

    // A spline face whose parameter box is empty in u or v: split when its
    // surface is closed or periodic and the split adds faces, else removed.
    bool removeBadUVFace(FACE* face);
    void removeBadUVFaces();

private:
    // The passes started by splits, bounded in depth so that they end.
    enum { BadFaceKept, BadFaceRemoved, BadFaceSplit };
    int removeBadUVFaceAt(FACE* face, int depth);
    void removeBadUVFaces(int depth);

    Ve_BodyTag* body;
};
