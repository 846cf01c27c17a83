// Body-level restructuring and healing used by the healing pipelines:
// separation, flattening, unstitching at non-manifold places, box and cache
// resets, radial coedge order, periodic and pole splits, tolerant-coedge
// checks and the reverse tolerant replacement, body cleaning and the spline
// conversions of whole bodies.
#pragma once
#include "velm/errors.hxx"
#include "velm/lists.hxx"
#include "velm/math.hxx"
#include "velm/options.hxx"
#include "velm/topology.hxx"

// ---- Restructuring -------------------------------------------------------

// Splits the body into its connected pieces: faces connected through edges
// or vertices, wires through vertices, voids staying with the shell that
// encloses them. The first piece in kernel order stays in `body` and is
// bodies[0]; the others are new bodies, each of one lump, carrying copies of
// the body's attributes. The array (n_bodies >= 1) is freed by the caller
// with delete[].
outcome api_separate_body(BODY* body, int& n_bodies, BODY**& bodies);
// Moves every face and wire of the body into one shell of one lump (the
// first); emptied shells and lumps go.
outcome api_flatten_body(BODY* body);
// Splits the body at its non-manifold edges (more than two coedges, or two
// of one sense) and vertices (more than one edge group), each side getting
// its own copy of the edge or vertex, and sorts the face groups into a body
// of closed solid shells, one of open sheets, one of double-sided faces
// (laminas) and one of wires; each is null when empty. The input body is
// emptied (and is not one of the four).
outcome api_unstitch_nonmani(BODY* body, BODY*& solids, BODY*& sheets, BODY*& laminas, BODY*& wires);
// Drops cached boxes and evaluation caches of the listed entities and what
// lies below them; the model itself is unchanged.
outcome api_minimize_entities(ENTITY_LIST& entities, const void* options = nullptr);
// Clears the cached boxes of the entity and of everything below it.
outcome api_reset_boxes(ENTITY* entity);
void reset_boxes(ENTITY* entity);
// Orders the edge's partner ring radially around the edge: by the angle of
// each face's into-face direction at the edge's middle, measured round the
// edge's direction from the first coedge, which stays first.
void sort_coedges(EDGE* edge);

// ---- Splits --------------------------------------------------------------

// Every face that wraps around a periodic or closed direction of its surface
// (a seam edge used twice by one loop, or two separation loops) is split so
// that no face wraps: a separation-loop face first gets its seam, then every
// seamed face is split along the iso-line half a period from the seam.
// Faces the splitter cannot handle are left whole (the call still succeeds
// for the others; sg_ throws at the first failure).
outcome api_split_periodic_faces(BODY* body);
void sg_split_periodic_faces(ENTITY* entity);
// Splits every edge of a face of the entity that passes through a pole of
// the face's surface (a collapsed parameter line) away from its vertices, at
// the curve parameter nearest the pole.
outcome api_split_edges_at_poles(BODY* body);
void sg_split_edges_at_poles(ENTITY* entity);

// ---- Tolerant checks ------------------------------------------------------

// Base of the tolerant-topology check reports; kinds compare by id().
class tm_check_result {
 public:
  virtual ~tm_check_result() = default;
  virtual int id() const = 0;
};
// A TCOEDGE whose pcurve leaves its surface's parameter range; param() is
// the pcurve parameter of the worst sample outside.
class tcoedge_bs2_outside_sf : public tm_check_result {
 public:
  explicit tcoedge_bs2_outside_sf(double param) : param_(param) {}
  static int id_of() { return 1; }
  int id() const override { return id_of(); }
  double param() const { return param_; }

 private:
  double param_;
};
// The coedge's own range does not match the edge's beyond QELresabs.
class tedge_tcoedge_ranges : public tm_check_result {
 public:
  static int id_of() { return 2; }
  int id() const override { return id_of(); }
};
// The coedge's 3-D curve strays from the edge curve beyond the tolerance.
class tedge_tcoedge_bad_geom : public tm_check_result {
 public:
  static int id_of() { return 3; }
  int id() const override { return id_of(); }
};
// Null when fine or when the coedge is not a TCOEDGE with a pcurve; the
// caller deletes the report.
tm_check_result* tm_check_tcoedge_bs2_outside_sf(const COEDGE* coedge);
tm_check_result* tm_check_tedge_tcoedge_bad_geom(const COEDGE* coedge);
// In place: the TEDGE becomes a plain EDGE on the same curve and vertices;
// its TCOEDGEs become plain coedges keeping their pcurves; attributes move.
outcome api_replace_tedge_with_edge(TEDGE* tedge, EDGE*& edge);
// The edges of the face whose deviation exceeds tol, in loop order, without
// replacing them.
void check_edge_error(const FACE* face, ENTITY_LIST& bad_edges, double tol = QELresabs);

// ---- Cleaning and conversions ----------------------------------------------

// Spline surfaces that lie within the options' tolerance of a plane become
// that plane, and edge curves within it of a straight line become the line
// over the same parameters, each as its option says; pcurves are fitted
// afresh. Other simplifications are not made.
outcome api_simplify_entity(ENTITY* entity, const simplify_options* options);
// api_clean_entity on the body.
outcome api_clean_body(BODY* body);
// Every analytic surface and curve of the entity becomes an exact B-spline
// (rational where the form needs it), pcurves fitted afresh; 1 on success,
// 0 when a face or edge could not be converted (those already converted stay).
int convert_to_spline(ENTITY* entity);
// The same for one face and its edges; false when it could not be converted.
bool convert_face(FACE* face);
// Every surface and curve of the entity becomes a non-rational B-spline of
// degree at most five approximating it within tol; throws when a surface
// cannot be met within tol.
void sg_convert_to_spline_quintic_nub(ENTITY* entity, double tol);
