#pragma once
// What the small-edge and sliver removals share.
class ENTITY;
class EDGE;

namespace ve_repair {

// The entity still exists (a removal earlier in a walk may have deleted it).
bool alive(const ENTITY* e);
// Ve_EdgeProcessor::removeEdge in a kernel-call bracket of its own: a kernel
// error undoes the removal whole. False when nothing was removed.
bool removeEdgeAlone(EDGE* edge, bool updateTolerances);

} // namespace ve_repair
