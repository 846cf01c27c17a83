// Entity checks that report findings: the coedge check, the conical face
// check and the whole-entity check. A finding's id is a message code of
// qelvelm_insanity_errmod (its entry number through message_code).
//
// Tolerances: a plain vertex or edge is held to QELresabs, a tolerant one to
// its own tolerance (never below QELresabs).
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "velm/errors.hxx"
#include "velm/lists.hxx"
#include "velm/math.hxx"
#include "velm/memory.hxx"
#include "velm/topology.hxx"

// Entries of qelvelm_insanity_errmod that the checks report.
enum insanity_entry {
  insanity_no_geometry = 1,         // an edge, face or vertex without its geometry
  insanity_vertex_off_edge = 2,     // a curve end farther from its vertex than their tolerances
  insanity_edge_off_face = 3,       // an edge curve off a face's surface
  insanity_open_loop = 4,           // a loop whose coedges do not chain end to start
  insanity_bad_partner_ring = 5,
  insanity_bad_next_ring = 6,
  insanity_bad_owner = 7,
  insanity_bad_vertex_edges = 8,
  insanity_bad_face_loops = 9,      // the face-loop check fails (api_check_face_loops)
  insanity_pcurve_outside_surface = 10,  // a pcurve leaves its spline surface's range
  insanity_bad_curve = 11,          // the curve check reports a status
  insanity_bad_surface = 12,        // the surface check reports a status
  insanity_not_finite = 13,         // a vertex point or an edge range that is not a finite number
  insanity_end_vertex_tol = 24,     // a TVERTEX at the coedge's end with a tolerance below its gap
  insanity_coedge_off_edge = 34,    // pcurve on surface farther than the edge tolerance from the curve
  insanity_start_vertex_tol = 37,   // the same at the start
  insanity_coedge_end_off = 69,     // a plain vertex off the coedge's end
  insanity_bad_apex_edge = 98,      // an edge at a cone apex that misses it
  insanity_coedge_start_off = 138   // a plain vertex off the coedge's start
};

class insanity_data : public VELM_OBJECT {
 public:
  insanity_data(int insane_id, ENTITY* ent, std::string words = std::string())
      : id_(insane_id), ent_(ent), words_(std::move(words)) {}
  int get_insane_id() const { return id_; }
  ENTITY* get_ent() const { return ent_; }
  // The finding's own words where the check has them (a structural finding:
  // "loop 0, coedge 2: end vertex is not the next coedge's start vertex"),
  // else its message's text.
  const char* get_message() const;

 private:
  int id_;
  ENTITY* ent_;
  std::string words_;
};

// Findings in the order found; deleting the list deletes them.
class insanity_list : public VELM_OBJECT {
 public:
  insanity_list() = default;
  insanity_list(const insanity_list&) = delete;
  insanity_list& operator=(const insanity_list&) = delete;
  ~insanity_list();
  int count() const { return static_cast<int>(data_.size()); }
  insanity_data* data(int i) const;
  insanity_data* first() const { return data_.empty() ? nullptr : data_.front(); }
  bool exist(int insane_id) const;
  // Adds the finding of that entry of qelvelm_insanity_errmod.
  void add(insanity_entry entry, ENTITY* ent);
  // The same, in words of its own.
  void add(insanity_entry entry, ENTITY* ent, std::string words);

 private:
  std::vector<insanity_data*> data_;
};

// Findings 138, 69 and 34 of the coedge (in that order), and 37 and 24 when
// the option "check_level" is 30 or more. Start and end are the pcurve's on
// the surface when the coedge has one, else the edge curve's. 34 compares
// nine samples. The caller deletes the list (never null).
insanity_list* sg_check_coedge(const COEDGE* coedge, const QELtransf* t = nullptr);
// Finding 98 on a cone face that is not a cylinder: an edge with a curve
// whose vertex lies at the apex (within the vertex's tolerance) but whose
// curve end there misses the apex by more than the edge's tolerance, or a
// curveless edge whose vertex is off the apex. Caller deletes (never null).
insanity_list* sg_check_conical_face(const FACE* face);

// Checks the entity and everything below it: the structure (rings, partners,
// owners, vertex edge lists), open loops, missing geometry, curve ends off
// their vertices, edges off their faces' surfaces, the coedge findings of
// sg_check_coedge and, on cones, those of sg_check_conical_face. Fails only
// for a null entity; findings are not errors.
outcome api_check_entity(const ENTITY* e, insanity_list*& findings);
outcome api_check_entity2(const ENTITY* e, insanity_list*& findings);
// The same; the faulty entities (once each) go into `insane`, one line per
// finding into `report`.
outcome api_check_entity(const ENTITY* e, ENTITY_LIST* insane = nullptr, FILE* report = nullptr,
                         const void* options = nullptr);

// While one lives on a thread, the entity checks there keep the curve and
// surface check of each B-spline by its data (degrees, knots, forms, poles,
// points, weights, tolerance), so a B-spline checked again unchanged is not
// tested again (its self-intersection tests are the checks' dearest part).
// Findings are the same with or without it. A caller that checks one model
// step after step holds one; the last to go forgets what was kept.
class check_geometry_memo {
 public:
  check_geometry_memo();
  ~check_geometry_memo();
  check_geometry_memo(const check_geometry_memo&) = delete;
  check_geometry_memo& operator=(const check_geometry_memo&) = delete;
};
