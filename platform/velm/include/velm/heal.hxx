// Healing operations: detecting short edges and sliver faces, and the
// tolerances they are judged by.
#pragma once

#include "velm/errors.hxx"
#include "velm/lists.hxx"
#include "velm/math.hxx"

class BODY;
class curve;

// 10 × QELresabs × max(1, the body box's diagonal / 1000); 10 × QELresabs
// for a body with nothing to box.
double determine_sliver_tolerance(const BODY* body);
// Edges of the body's faces and wires whose length is below tol; with flag 1
// also those whose two vertices lie within tol of each other. Kernel order.
outcome api_detect_short_edges(BODY* body, ENTITY_LIST& short_edges, double tol, int flag);
// Faces whose width is below tol: every sample of every edge of the face lies
// within tol of one of the face's other edges. Kernel order.
outcome api_detect_sliver_faces(BODY* body, ENTITY_LIST& slivers, double tol, int flag,
                                const void* options = nullptr);
// The largest distance from 33 even samples of a over range_a to the part of
// c over range_c (curve parameters).
double calculate_curve_tolerance(const curve& a, const QELinterval& range_a, const curve& c,
                                 const QELinterval& range_c);

class ENTITY;

// Removes the scribe edges in or around the entity: an edge without a
// no-merge attribute whose two coedges lie next to each other in one loop
// (a dangling edge, the face on both its sides). Its coedges leave the loop,
// the edge goes, and so does the vertex at its free end; repeated until none
// is left, so a dangling chain goes whole. Vertex merging and face merging
// are not done here.
outcome api_clean_entity(ENTITY* entity, const void* options = nullptr);
