// Tolerant topology: measuring how far an edge's curve strays from its faces
// and vertices, and replacing edges and vertices by their tolerant forms.
//
// Deviations are sampled: the edge curve against each coedge's pcurve on its
// surface (pcurve_deviation; at 33 even parameters of the edge's range, the
// foot on the face's surface when the coedge has no pcurve), and the curve's
// ends against the vertex points. A replacement keeps the coedges (plain COEDGEs; they are
// re-pointed at the new edge) and moves the old entity's attributes by
// replace_owner; the old entity is lost.
#pragma once

#include "velm/errors.hxx"
#include "velm/lists.hxx"
#include "velm/topology.hxx"

// The edge's range in its curve's parameters (negated for a reversed edge).
QELinterval edge_curve_range(const EDGE* edge);
// Largest sampled deviation of the edge's curve from its faces and vertices;
// 0 for an edge without curve.
double edge_deviation(const EDGE* edge);
// Largest distance of the coedge's pcurve, through its face's surface, from
// its edge's curve at the same parameter; 0 without a pcurve, a face surface
// or an edge curve over a finite range. Sampled at `steps` even steps of the
// edge's range and, `between` them, at the middle of each step and of each
// knot span of the pcurve's B-spline inside the range: a fitted pcurve passes
// through the points it was fitted to, and strays, if anywhere, between them.
// The one measure of a pcurve against its edge: the deviations above (32
// steps and between), the coedge check (8 steps and between) and the tools'
// measures use it.
double pcurve_deviation(const COEDGE* coedge, int steps = 32, bool between = true);
// Largest distance from the vertex's point to the ends of the curves of the
// edges around it; 0 without point.
double vertex_deviation(const VERTEX* vertex);

// In place; the TEDGE's tolerance is the edge's deviation. Fails for a null
// edge or one that is already tolerant.
outcome api_replace_edge_with_tedge(EDGE* edge, TEDGE*& tedge);
TEDGE* replace_edge_with_tedge(EDGE* edge);  // throws
// In place; the tolerance is the vertex's deviation.
outcome api_replace_vertex_with_tvertex(VERTEX* vertex, TVERTEX*& tvertex);

// Every edge of the list whose deviation exceeds tol goes into bad_edges;
// with new_edges, each is replaced by a TEDGE (a TEDGE gets its tolerance
// raised instead) and the replacement appended there. worst_* report the
// largest deviation met (-1.0 and null when no edge was measured).
outcome api_check_edge_errors(const ENTITY_LIST& edges, ENTITY_LIST& bad_edges, ENTITY*& worst_entity,
                              double& worst_error, double tol = QELresabs, bool stop_immediately = false,
                              ENTITY_LIST* new_edges = nullptr);
// The same for vertices; a bad vertex becomes a TVERTEX (listed in
// new_vertices) or, when tolerant already, gets its tolerance raised.
outcome api_check_vertex_errors(const ENTITY_LIST& vertices, ENTITY_LIST& bad_vertices, ENTITY*& worst_entity,
                                double& worst_error, double tol, bool stop_immediately, ENTITY_LIST& new_vertices);

// A pcurve for the coedge's edge curve on its face's surface, fitted within
// the edge's tolerance (QELresabs for a plain edge, at most QELresfit; within
// QELresfit where the surface does not carry the curve that closely) over the
// edge's range, run in the coedge's parameter (reversed
// when coedge and edge senses differ) and shifted by whole periods into the
// surface's principal range. False, pcurve unchanged, when none can be made.
bool sg_add_pcurve_to_coedge(COEDGE* coedge, int reverse_hint = 0, int boundary_type = 0, int reserved = 0);
