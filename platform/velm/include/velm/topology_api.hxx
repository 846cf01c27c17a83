// Topology queries in kernel order, deletion, copying and the body builders
// that need no geometry.
#pragma once

#include <functional>

#include "velm/entity.hxx"
#include "velm/errors.hxx"
#include "velm/lists.hxx"
#include "velm/topology.hxx"

// Entities of one kind in or around the entity, appended once each. Downwards
// (a body's faces, a face's edges) in kernel order (velm_topology_walk); an
// entity of the kind gives itself; upwards from an edge through its partner
// ring from EDGE::coedge(), from a vertex through the edges around it.
outcome api_get_lumps(const ENTITY* e, ENTITY_LIST& list);
outcome api_get_shells(const ENTITY* e, ENTITY_LIST& list);
outcome api_get_faces(const ENTITY* e, ENTITY_LIST& list);
outcome api_get_loops(const ENTITY* e, ENTITY_LIST& list);
outcome api_get_coedges(const ENTITY* e, ENTITY_LIST& list);
outcome api_get_edges(const ENTITY* e, ENTITY_LIST& list);
outcome api_get_vertices(const ENTITY* e, ENTITY_LIST& list);
outcome api_get_wires(const ENTITY* e, ENTITY_LIST& list);
// api_get_edges that also hands each edge to `listed` as it joins the list
// (once each, in list order), while the walk has the edge and the coedge it
// came by at hand: a caller that sorts the edges of a large body by what they
// point to reads them then, not in a second pass over memory. `listed` must
// not throw and must not change the model.
outcome api_get_edges(const ENTITY* e, ENTITY_LIST& list, const std::function<void(EDGE*)>& listed);

// Every edge with the vertex as an end that can be reached from one of its
// edge references through coedge next, previous and partner links at the vertex.
void sg_q_edges_around_vertex(const VERTEX* v, ENTITY_LIST* edges);
// The coedges starting or ending at the vertex, by the same flooding.
void sg_q_coedges_around_vertex(const VERTEX* v, ENTITY_LIST* coedges);
// The coedges of an edge's partner ring, from EDGE::coedge().
std::vector<COEDGE*> edge_coedges(const EDGE* e);
// Rebuilds the vertex's edge references: one per edge group around it.
void minimize_vertex_edges(VERTEX* v);

// Deletes the entity, everything it owns, and every edge and vertex that
// nothing outside the deleted set still uses; attributes and group
// memberships go with them. An edge or vertex still used by topology, and
// geometry still used, are refused.
outcome api_del_entity(ENTITY* e);
outcome api_delent(ENTITY* e);
// Each live entry in order; entries that went with earlier ones are skipped.
outcome api_del_entity_list(ENTITY_LIST& list);

// Copies of the body (or entity) with everything it owns: topology, geometry
// (shared within the original, shared within the copy), tolerant data and
// attributes by their copy actions. For every group an original belongs to,
// one duplicate group with the same attributes holds the copies.
outcome api_copy_body(BODY* body, BODY*& copy);
outcome api_copy_entity(const ENTITY* e, ENTITY*& copy);

// A wire body around the edges (not copied), in chain order: one coedge per
// edge, forward where the chain allows; a closed chain is a ring, a single
// closed edge's coedge its own next and previous. The edges must be free.
outcome api_make_ewire(int n_edges, EDGE* edges[], BODY*& body);
// One wire body per connected chain of edges; the array is the caller's (delete[]).
outcome api_make_ewires(int n_edges, EDGE* edges[], int& n_bodies, BODY**& bodies);
// A body holding the faces themselves (taken out of any shell first) in one
// shell of one lump; with `to_body`, that shell is added to to_body instead.
outcome api_mk_by_faces(BODY* to_body, int n_faces, FACE* faces[], BODY*& body);
