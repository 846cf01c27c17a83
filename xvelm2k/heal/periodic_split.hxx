#pragma once
// Splitting closed and periodic spline faces so that no face wraps.
#include "xvelm2k/export.hxx"

class FACE;

// Splits a closed or periodic spline face in u (inU) or v at the middle of
// its parameter box and then at its high end (the seam), each split in its
// own kernel bracket and refused where it would leave a tiny edge or run
// along an existing edge (with ChkForSmallEdges on). Other faces are left.
XVELM2KA_API void splitFaceAtMidParameter(FACE* face, bool inU);
