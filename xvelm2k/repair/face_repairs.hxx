#pragma once
// Scribe edges taken out of a body: with `all`, every edge of the body is
// freed of its no-merge attributes and the kernel cleans the whole body;
// without, only the faces around vertices that have a single edge are freed
// and cleaned, one by one. Nothing for a null body.
#include "xvelm2k/export.hxx"

class Ve_BodyTag;

XVELM2KA_API void removeScribeEdges(Ve_BodyTag* body, bool all);
