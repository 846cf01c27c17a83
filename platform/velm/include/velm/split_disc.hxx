// Splitting faces at the discontinuities of their surfaces.
#pragma once

#include "velm/errors.hxx"
#include "velm/lists.hxx"
#include "velm/topology.hxx"

// Splits a spline face along the iso-lines of its surface's discontinuities
// of that order (1: tangent) that cross the face's parameter box strictly
// inside: u-lines first, then v-lines, each through every piece it crosses.
// The list receives the face and every new face, each once. Any other face,
// or one without such breaks, is left alone (the list gets nothing). A piece
// the iso-line split refuses fails the call, and the bulletin board takes
// every split back.
outcome api_split_face_at_disc(FACE* face, ENTITY_LIST& faces, int continuity = 1);
