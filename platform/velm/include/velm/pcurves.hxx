// Pcurve simplification and trimming of spline faces to their loops.
#pragma once

#include "velm/errors.hxx"
#include "velm/geometry.hxx"
#include "velm/topology.hxx"

// Replaces the coedge's pcurve by a straight 2-D line between its ends, run at
// even speed over the same range, when at every sampled parameter the line's
// point lies within tol of the pcurve's on the surface (so the pcurve still
// matches its edge parameter for parameter); otherwise
// (and for a pcurve that is a line already) the coedge keeps the same PCURVE.
outcome api_simplify_pcurve(COEDGE* coedge, double tol);

// A spline face gets the subset of its surface over its parameter box
// (sg_get_face_par_box), widened by 1 % of each range on both sides unless
// the option is "none" and kept inside the surface's range. Other faces, and
// faces whose box covers the whole surface, are left as they are. The
// subset keeps the parameters, so pcurves stay valid.
void trim_face(FACE* face, const char* option = nullptr);
void trim_body_faces(BODY* body, const char* option = nullptr);

// Fits the edge's curve to the edge: an intcurve becomes a new intcurve on the
// subset of its B-spline over the edge's range (same parameters; surfaces
// kept, their 2-D curves subsetted alike); any other curve, and an intcurve
// whose B-spline cannot be cut there, a copy limited to that range. The edge
// gets a curve of its own, so edges that shared the old one keep it whole.
// Edges without a curve or with an unbounded range are left alone.
void trim_edge_geom(EDGE* edge);

// limit_u and limit_v of the box's ranges.
void surface_limit(surface& srf, const QELpar_box& box);
