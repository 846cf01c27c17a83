#pragma once
// What the small-edge and sliver removals share.
class ENTITY;
class EDGE;

#include <vector>

class VERTEX;

namespace ve_repair {

// The distinct edges at the vertex (the kernel's walk around it); a kernel
// error is thrown, so that surgery never works from a list that came short.
std::vector<EDGE*> edgesAround(VERTEX* v);

// The entity still exists (a removal earlier in a walk may have deleted it).
bool alive(const ENTITY* e);
// Ve_EdgeProcessor::removeEdge in a kernel-call bracket of its own: a kernel
// error undoes the removal whole. False when nothing was removed.
bool removeEdgeAlone(EDGE* edge, bool updateTolerances);
// Every coedge of the edge leaves its loop (or wire) ring and goes; a loop
// left empty goes, and its face when that was the face's only loop.
void unlinkEdgeCoedges(EDGE* edge);

} // namespace ve_repair
