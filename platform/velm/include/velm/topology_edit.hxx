// Removing faces and loops, unhooking a face into a body of its own, loop
// order, single-entity copies and free edges from curves.
#pragma once

#include "velm/entity.hxx"
#include "velm/errors.hxx"
#include "velm/topology.hxx"

class curve;

// Kills the face: it leaves its shell, its loops and coedges go, each coedge
// leaving its edge's partner ring (an edge keeps a remaining coedge as its
// first). With the flag, edges left without coedges go, and vertices left
// without edges; the vertices that stay keep one reference per edge group.
// A shell left empty goes, and a lump left without shells. Throws on failure.
void kf(FACE* face, int delete_free_edges = 1);
// kf with free edges deleted: the neighbours' edges keep one coedge (a gap).
outcome api_remove_face(FACE* face);
void sg_remove_face_from_body(FACE* face);
// Unlinks the loop from its face and loses it; edges left without coedges go
// with it, and vertices left without edges.
void remove_loop(LOOP* loop);
// Unlinks the loop from its face; the caller deletes it.
void extract_loop(LOOP* loop);
// Moves the face's loop to the head of its loop chain, the others keeping
// their order. Throws when the loop is not the face's.
void set_periphery_first_loop(FACE* face, LOOP* periphery);
// Takes the face out of its shell into a new body (one lump, one shell, a
// copy of the old body's transform). Edges it shares with other faces are
// duplicated for it, on copies of their curves, and vertices shared with what
// stays behind likewise (tolerant ones as tolerant ones), so both sides stay
// valid. A shell left empty goes, and a lump left without shells.
outcome api_unhook_face(FACE* face, BODY*& new_body);
// A copy of one entity without owners: a vertex (new point), an edge (copy of
// its curve, new vertices, one for a closed edge), a face (copy of its
// surface, no loops), geometry and other non-topology entities as
// api_copy_entity copies them. Null for bodies, lumps, shells, loops,
// coedges and wires, and on failure. The map is not used.
ENTITY* copy_single_entity(const ENTITY* e, pointer_map* pm = nullptr);
// A free edge on a copy of the curve over its (finite) range, with a vertex
// at each end; one vertex when the ends meet.
outcome api_make_edge_from_curve(const curve* cur, EDGE*& edge);
