// Restructuring and transforming bodies: manifold classification, separation
// into shells, lumps and bodies, transforms and face reversal.
//
// Transforms: a reflection maps every surface onto its image with the image of
// its outward side (the geometry module's rule), which turns each loop the
// wrong way round as seen from outside; every loop of a transformed face is
// therefore reversed, so a solid stays a solid with its faces pointing out.
#pragma once

#include "velm/entity.hxx"
#include "velm/errors.hxx"
#include "velm/lists.hxx"
#include "velm/math.hxx"
#include "velm/topology.hxx"

// Edge-connected face groups of the body, and the wire groups (wire edges
// connected through vertices), counted together in n_groups. Each of the four
// arrays has n_groups lists (new[], freed by the caller with delete[]); group k
// in kernel order is entry k of the array of its kind (solid: every edge of the
// group has two coedges of opposite sense in it; lamina: double-sided faces;
// sheet: the rest; wire), and entry k of the other arrays is empty.
// Non-manifold edges have more than two coedges, or two of the same sense;
// non-manifold vertices have more than one group of face coedges around them.
outcome api_manifold_class(BODY* body, int& n_groups, ENTITY_LIST*& solid_groups,
                           ENTITY_LIST*& sheet_groups, ENTITY_LIST*& lamina_groups,
                           ENTITY_LIST& nonmanifold_edges, ENTITY_LIST& nonmanifold_vertices,
                           ENTITY_LIST*& wire_groups);

// Regroups every shell's faces into shells of edge-connected faces; each
// shell that no closed shell encloses forms a piece with the shells it
// encloses (its voids). Shells that share a vertex stay in one piece. The
// first piece in kernel order stays in `body` in one lump; every further piece
// moves into a new body (one lump, a copy of the body's transform), appended to
// new_bodies in kernel order. Throws on failure.
void separate_body_shells(BODY* body, ENTITY_LIST& new_bodies);
// Every lump after the first moves into a new body of its own, appended to
// new_bodies in lump order. Throws on failure.
void separate_body_lumps(BODY* body, ENTITY_LIST& new_bodies);

// A body: the transform is composed after its TRANSFORM (made when missing,
// copied when shared) and the body's own attributes get trans_owner; the
// geometry, and the attributes of what the body owns, wait for
// api_change_body_trans. Any other entity: its
// geometry and that of everything it owns is transformed at once (shared
// geometry once), its attributes by trans_owner.
outcome api_apply_transf(ENTITY* entity, const QELtransf& t);
// Bakes the body's transform into its geometry and points, then gives the
// body `new_transform` (null: none); the attributes of what the body owns get
// trans_owner with it. The body stays where it is: with a new
// transform the geometry receives old * new^-1. With `negate` the body's new
// transform is the inverse of `new_transform` (a TRANSFORM of its own; the
// given one is not attached), so the geometry receives old * new.
outcome api_change_body_trans(BODY* body, TRANSFORM* new_transform = nullptr, bool negate = false);
// The transform of the entity's body; the identity when it has none.
QELtransf get_owner_transf(const ENTITY* entity);

// Toggles the face sense and reverses each of its loops.
outcome api_reverse_face(FACE* face);
// Reverses every face of the body, so that inside and outside swap.
outcome api_reverse_body(BODY* body);
void reverse_loop(LOOP* loop);
