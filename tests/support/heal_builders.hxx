// Kernel models for the healing tests and the frames they are placed in.
#pragma once

#include <string>
#include <vector>

#include "qelx/qelx_test.hxx"
#include "velm/math.hxx"
#include "velm/topology.hxx"

namespace testkit {

// The frames a healing test runs in: identity, a rotation with a shift, and
// a mirror with a shift.
std::vector<QELtransf> heal_frames();
// A plane box of make_plane_box with the frame applied to its geometry.
BODY* make_framed_box(const QELtransf& frame, double dx = 10.0, double dy = 20.0, double dz = 30.0);
// The faces of a dx x dy x dz plane box placed in the frame, each alone in a
// sheet body of its own (double-sided, edges and vertices of its own), as a
// file of unsewn faces imports. A mirroring frame leaves them facing inwards.
std::vector<BODY*> make_loose_box_sheets(const QELtransf& frame, double dx = 10.0, double dy = 20.0, double dz = 30.0);
// make_loose_box_sheets with the corner (dx, dy, dz) of the side x = dx
// moved `gap` into that side: the side meets its neighbours there across
// gaps of up to `gap`.
std::vector<BODY*> make_gapped_box_sheets(const QELtransf& frame, double gap, double dx = 10.0, double dy = 20.0,
                                          double dz = 30.0);
// Two plane unit-ish boxes as two lumps of one body, the second moved so that
// one of its corners lies `gap` from a corner of the first (distinct vertex
// entities).
BODY* make_corner_touching_lumps(double gap);
// Two plane cubes in one shell sharing one edge (a non-manifold edge with four
// coedges), twelve faces.
BODY* make_cubes_sharing_edge();
// A 4 x 3 polygon sheet whose shell also holds the wire of a polyline wire
// body through the points (a body of a face and a wire).
BODY* make_sheet_with_shell_wire(const std::vector<QELposition>& wire = {{10, 0, 0}, {12, 0, 0}, {12, 2, 0}});
// A two-edge loop from the vertex `from` (already on the face, or new) to a
// new vertex at `to` and straight back, added to the face after its other
// loops (or as its only one): a slit, no area.
// The slit's first edge is appended to the edges `from` lists.
LOOP* add_slit_loop(FACE* face, VERTEX* from, const QELposition& to);
// A plane box whose vertex at the far corner is moved by `offset` off the ends
// of its three edges.
BODY* make_box_with_moved_vertex(double offset);
// A sheet folded along u = 0.5: two flat degree-1 halves meeting at a
// tangent break; of the skin kind or an exact B-spline.
BODY* make_folded_sheet(bool skin);
// A wire body of one edge on a degree-1 intcurve through the points (a
// tangent break at every inner point), the edge running along the points
// for FORWARD and against them for REVERSED.
BODY* make_kinked_wire(const std::vector<QELposition>& points, sense_type sense);
// The coedge replaced in its loop, partner ring and edge by a tolerant one
// of the same sense and pcurve; the old one is lost.
TCOEDGE* make_coedge_tolerant(COEDGE* c);
// The names of the task events recorded, "+name" for a start and "-name" for
// an end, in firing order.
std::vector<std::string> task_trace(const std::vector<qelx_test::EventRecord>& records);

}  // namespace testkit
