// Splitting edges at vertices and at their curves' discontinuities.
#pragma once

#include "velm/entity.hxx"
#include "velm/errors.hxx"
#include "velm/lists.hxx"
#include "velm/topology.hxx"

// The edge keeps the piece from its start to the vertex; the returned new
// edge takes the rest, on the same curve (shared), with the same sense (a
// TEDGE gives a TEDGE). Every coedge gets a partner piece, inserted after it
// when forward and before it when reversed, sharing its pcurve; the new
// coedges go into the list, and the edge's attributes follow their split
// actions. The parameter is on the edge's curve and must lie strictly inside
// the edge; without one the vertex's point is projected onto the curve.
// Throws on failure (VELM_BAD_ARGUMENT outside the edge, VELM_NOT_IMPLEMENTED
// for tolerant coedges with their own ranges). `flags` is accepted and has no
// effect: every split behaves as described here.
EDGE* sg_split_edge_at_vertex(EDGE* edge, VERTEX* new_vertex, ENTITY_LIST* new_coedges = nullptr, int flags = 0);
EDGE* sg_split_edge_at_vertex(EDGE* edge, VERTEX* new_vertex, double param, ENTITY_LIST* new_coedges = nullptr);
// Splits the edge at its curve's discontinuities of that order (new vertices
// there). The list receives every piece in order along the edge, the
// original (which keeps the first piece) first. `options` is accepted and has
// no effect.
outcome api_split_edge_at_disc(EDGE* edge, ENTITY_LIST& new_edges, int continuity = 1, const void* options = nullptr);
// Splits the face along an iso-line of its surface: the line of constant u
// when u_direction, else of constant v; with fraction the parameter is read
// over the face's parameter box, else as a parameter value. Only a face of
// one loop that the line crosses exactly twice, inside two of its edges, is
// split: both crossed edges are split there, a new edge on the iso-line (with
// straight pcurves on both sides) joins them, the face keeps the part from
// the first crossing round to the second and a new face on the same surface,
// next after it in its shell, takes the rest. A line that misses the face does
// nothing; anything else fails with VELM_NOT_IMPLEMENTED.
outcome api_split_face(FACE* face, bool u_direction, bool fraction, double parameter);
// The parameter form of the face split along an iso-line (direction 1: the
// line of constant u at `parameter`, 0: of constant v), returning the new
// face, or null when the line misses the face. A face on a surface closed in
// that direction whose only loops are two separation loops gets the seam
// ("propagation") edge instead: one edge on the iso-line joins the loops
// into one loop of the face, and the result is null. Throws on failure.
FACE* sg_split_face_at_parameter(FACE* face, int direction, double parameter);
