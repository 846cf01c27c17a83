// Geometry checks: statuses of curves, surfaces and their B-splines.
#pragma once

#include "velm/bspline.hxx"
#include "velm/math.hxx"
#include "velm/memory.hxx"

// Check statuses; an empty (null) result list means no problem was found.
enum check_status {
  status_irregular = 0,           // a derivative or the surface normal vanishes or reverses
  status_self_intersecting = 3,   // the curve or surface meets itself
  status_bad_closure = 4,         // closed or periodic form, but the seam does not close
  status_coincident_points = 6,   // consecutive control points coincide
  status_singular = 8,            // a degenerate boundary not marked as a pole, or inside the net
  status_bad_pole = 9             // a marked pole that does not collapse, or a fold-over
};

// Settings of a check (fix = 1 asks for repairs) and, in the result, what was fixed.
class check_fix {
 public:
  explicit check_fix(int fix_ = 0) : fix(fix_) {}
  int fix = 0;
  double tol1 = QELresfit;  // fit tolerance
  double tol2 = QELresabs;  // position tolerance
  unsigned mask = 65535;    // fixes allowed
  int fixed = 0;            // number of repairs made (results only)
};

// Singly linked list of statuses; deleting the head deletes the chain.
class check_status_list : public VELM_OBJECT {
 public:
  explicit check_status_list(int status = -1, check_status_list* next = nullptr) : status_(status), next_(next) {}
  ~check_status_list();
  check_status_list(const check_status_list&) = delete;
  check_status_list& operator=(const check_status_list&) = delete;
  int status() const { return status_; }
  check_status_list* next() const { return next_; }
  // Appends (once) and returns the head.
  check_status_list* add_error(int status);
  bool contains(int status) const;

 private:
  int status_;
  check_status_list* next_;
};

// Appends a status to a possibly null list; returns the head. When the
// status cannot be added (out of memory) the list is deleted and the error raised.
check_status_list* add_status(check_status_list* list, int status);

class curve;
class surface;

check_status_list* d3_cu_check(const curve&, const check_fix& input, check_fix& result,
                               const check_status_list* wanted, double tol = QELresabs);
check_status_list* d3_sf_check(surface&, const check_fix& input, check_fix& result,
                               const check_status_list* wanted);
