// Kernel models for tests: topology with real vertex points and little geometry.
// Every builder returns a body whose structure passes velm_test_check_model;
// faces carry the planes of their corners, edges between two vertices the
// straight line between them at unit speed over a stored range [0, length].
#pragma once

#include <string>

#include "velm/attrib.hxx"
#include "velm/groups.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

namespace testkit {

// Axis-aligned box from `origin`: 6 faces, 12 edges, 8 vertices; loops run
// counter-clockwise seen from outside, every edge has two partner coedges of
// opposite sense.
BODY* make_box(double dx = 10.0, double dy = 20.0, double dz = 30.0,
               const QELposition& origin = QELposition());
// A flat open sheet of nx by ny unit squares in the z = 0 plane (one shell).
BODY* make_sheet(int nx = 2, int ny = 2);
// A wire body: a polyline of n edges along x, closed into a ring when asked
// (closed needs n >= 3: the points then go round a regular polygon).
BODY* make_wire_body(int n_edges = 3, bool closed = false);
// A vertex body: one wire whose single coedge is its own next and previous,
// on an edge without curve that starts and ends at one vertex.
BODY* make_vertex_body(const QELposition& at = QELposition());
// One body of two box lumps side by side.
BODY* make_two_lump_body();
// A curveless edge starting and ending at one new vertex at `at`, listed at
// that vertex: the edge of a point (degenerate) loop.
EDGE* make_point_edge(const QELposition& at);
// A loop of one coedge on `edge` (the coedge its own next and previous),
// added after the face's last loop: a point loop, or a hole on a closed edge.
LOOP* add_one_coedge_loop(FACE* face, EDGE* edge, sense_type sense = FORWARD);

// Number of entities of the kind in or around the entity (api_get_*).
int count_faces(const ENTITY* e);
int count_edges(const ENTITY* e);
int count_vertices(const ENTITY* e);
int count_coedges(const ENTITY* e);
int count_loops(const ENTITY* e);
int count_shells(const ENTITY* e);
int count_lumps(const ENTITY* e);
int count_wires(const ENTITY* e);

// velm_test_check_model's report, empty when the model is sound.
std::string model_problems(const ENTITY* root);

// True once the framework's reset also resets the kernel's test state.
bool framework_reset_includes_kernel();

}  // namespace testkit
