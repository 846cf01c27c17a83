#pragma once
// What the vertex repairs share.
#include <vector>

class BODY;
class ENTITY;
class VERTEX;

namespace ve_repair {

// A tolerant vertex's own tolerance; QELresabs for a plain one.
double vertexTolerance(const VERTEX* v);
// The body's shells, or the body itself when it has none; false (roots
// empty) when the shells cannot be listed.
bool shellsOrBody(BODY* body, std::vector<ENTITY*>& roots);

} // namespace ve_repair
