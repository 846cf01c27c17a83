// Recomputing the tolerances of tolerant edges and vertices after their
// geometry changed. Each tolerance becomes the measured deviation (at least
// QELresabs); the setters back the entities up, so a failed frame restores
// the old tolerances.
#pragma once

#include "velm/topology.hxx"

// The edge's deviation (velm/tolerant.hxx); then its TVERTEXes flagged for
// update (set_update(1)) are recomputed too. Nothing for a null edge.
void update_edge_tolerance(TEDGE* edge, int reserved = 0);
// A TVERTEX covers its point's distance to the curve ends of its edges and to
// the ends of its coedges on their surfaces; its update flag is cleared. No
// effect on a plain vertex.
void update_vertex_tolerance(VERTEX* vertex, int reserved = 0);
// Every TEDGE and TVERTEX in the entity (an edge, a vertex, or anything holding them).
void update_tolerance(ENTITY* e, int reserved = 0);
// Every TEDGE in the entity gets its tolerance recomputed, and so do its
// TVERTEXes; a TEDGE whose curve deviates from its faces and vertices by less
// than QELresabs is replaced by a plain EDGE (api_replace_tedge_with_edge:
// coedges and attributes move over, the TVERTEXes stay). (Tolerant coedges
// here have no curves or ranges of their own, so there is nothing else to put
// right.)
void stch_check_and_fix_tedges_in_entity(ENTITY* e);
