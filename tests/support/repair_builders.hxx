// Kernel models for the repair tests, each carrying exactly the fault its
// repair removes, and the measures the tests compare before and after.
#pragma once

#include <string>
#include <vector>

#include "velm/geometry_entity.hxx"
#include "velm/topology.hxx"

namespace testkit {

// One lump and shell of PLANE faces over the polygons (indices into the
// points, counter-clockwise seen from the side the normal points to), edges
// STRAIGHT from the lower to the higher point index with range [0, length],
// shared between faces that use the same pair; no pcurves.
BODY* make_polyhedron(const std::vector<QELposition>& points, const std::vector<std::vector<int>>& faces);
// The same faces standing alone: no shell, and every face with edges and
// vertices of its own, as a trimmed-surface source gives them.
std::vector<FACE*> make_loose_polygon_faces(const std::vector<QELposition>& points,
                                            const std::vector<std::vector<int>>& faces);
// The same faces each alone in a double-sided sheet body of its own, only
// its own corners for vertices: a file of unsewn faces as it imports.
std::vector<BODY*> make_loose_sheets(const std::vector<QELposition>& points,
                                     const std::vector<std::vector<int>>& faces);
// Faces that belong to no body, gone (through a body made of them).
void delete_loose_faces(const std::vector<FACE*>& faces);
// A PLANE box L x W x H from the origin whose top front edge carries an extra
// vertex `gap` from its corner at the origin's side: a small edge shared by
// the top and front faces.
BODY* make_box_with_small_edge(double gap, double L = 10.0, double W = 5.0, double H = 3.0);
// A PLANE box whose top is cut at x = a by a strip of the given width
// running across it in y: a four-sided sliver between two top faces.
BODY* make_box_with_sliver(double width, double a = 4.0, double L = 10.0, double W = 5.0, double H = 3.0);
// A flat sheet of nx by ny unit cells in z = 0; every `every`-th cell (none
// when 0) carries a fault: a sliver of the given width at its right side (kind
// 0), or a small edge of that length at the left end of its top side (kind 1).
BODY* make_faulty_grid(int nx, int ny, int every, int kind, double width);
// A wire body along the points, STRAIGHT edges.
BODY* make_polyline_wire(const std::vector<QELposition>& points);
// The model's save text without its dated header.
std::string saved_text(const ENTITY* e);
// Total face area, and the enclosed volume of a closed body of planar faces.
double body_area(const ENTITY* e);
double polyhedron_volume(const BODY* b);
// The kernel's entity check's findings as text (empty: sound), with the
// strict structural check's report after them.
std::string check_findings(const ENTITY* e);

}  // namespace testkit
