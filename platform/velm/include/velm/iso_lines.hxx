// Iso-parameter lines of surfaces, trimmed to faces.
//
// An iso-line is made over the surface's own range in its direction, or, for
// an unbounded direction (plane, cylinder and cone rulings), over the part of
// the line inside the region box. Its curve is parametrised like the surface:
// a u-line at v runs through surface(t, v) at curve parameter t.
// Trimming keeps the pieces whose points lie in the face or on its boundary,
// judged in the surface's parameter space against the face's loops.
#pragma once

#include "velm/bspline.hxx"
#include "velm/geometry.hxx"
#include "velm/lists.hxx"
#include "velm/math.hxx"
#include "velm/memory.hxx"
#include "velm/surface_intersect.hxx"
#include "velm/topology.hxx"

// What a trim leaves besides the curves: how many pieces were cut from how
// many curves.
struct ff_header : public VELM_OBJECT {
  int curves_in = 0;
  int pieces_out = 0;
};

// Along u at constant v, resp. along v at constant u; null when the line is
// degenerate there or misses the region.
ss_curve_record* sg_surface_u_param_line(const surface& srf, double v, const QELbox& region);
ss_curve_record* sg_surface_v_param_line(const surface& srf, double u, const QELbox& region);
// Replaces the list by the pieces of its curves inside the face, in order
// (along each curve, curves in list order). Throws for a face without surface.
ff_header* sg_trim_curves_to_face(ss_curve_record*& curves, const FACE* face);
// One free edge per record (its curve over the record's range, a vertex at
// each end), in list order.
void sg_make_curve_edges(ss_curve_record* curves, ENTITY_LIST& edges);
void sg_delete_ff_header(ff_header*& header);
