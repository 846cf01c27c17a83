// What a reader of a body would find in it, measured by the kernel: the
// checker's findings, area and volume, how far each coedge's pcurve lies from
// its edge's curve, and loops whose pcurves jump a period (a seam's two uses
// on one side). A round trip compares these before and after: a body can
// come back with the same topology and vertices and still be another solid.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "body_counts.hxx"
#include "geometry/seam_pcurves.hxx"
#include "velm/geometry.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/insanity.hxx"
#include "velm/query.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology.hxx"

namespace xvelm {
namespace roundtrip_detail {

struct BodyFacts {
  std::vector<std::string> findings;     // the checker's, "TYPE message"
  std::optional<double> area, volume;    // none when the kernel refused to measure
  double pcurveGap = 0.0;                // largest, over every coedge with a pcurve
  std::string pcurveGapAt;               // where it is
  std::vector<std::string> periodJumps;  // loops whose pcurves jump a period, by face
  std::string refused;                   // the first measuring call the kernel refused, with its reason
};

// Notes the first measuring call the kernel refused; true when it measured.
inline bool measured(BodyFacts& f, const char* call, const outcome& got) {
  if (got.ok()) return true;
  if (f.refused.empty()) {
    const char* why = message_module::find_message(got.error_number());
    f.refused = std::string(call) + " failed (" + (why ? why : "unknown error") + ")";
  }
  return false;
}

inline std::string number_text(double x) {
  char t[40];
  std::snprintf(t, sizeof t, "%.9g", x);
  return t;
}

inline bool pcurve_ends(const COEDGE* c, QELpar_pos& start, QELpar_pos& end) {
  const PCURVE* p = c->geometry();
  if (!p || !p->has_equation()) return false;
  // An edge with no range of its own and none its curve can give (no curve
  // equation) has no ends to evaluate the pcurve at: the kernel refuses the
  // range, which is no failure of the measure.
  QELinterval r;
  try {
    r = c->param_range();
  } catch (const velm_exception&) {
    return false;
  }
  if (!r.finite()) return false;
  start = p->def().eval_position(r.start_pt());
  end = p->def().eval_position(r.end_pt());
  return true;
}

// The coedge named for a reader: its face, loop and place in the loop, and
// the points its edge runs between (an edge without a curve has its vertices).
inline std::string coedge_place(std::size_t face, int loop, std::size_t k, const COEDGE* c) {
  std::string text = "face " + std::to_string(face) + ", loop " + std::to_string(loop) + ", coedge " +
                     std::to_string(k);
  const EDGE* e = c->edge();
  const VERTEX* ends[2] = {e ? e->start() : nullptr, e ? e->end() : nullptr};
  if (ends[0] && ends[1] && ends[0]->geometry() && ends[1]->geometry()) {
    char t[200];
    const QELposition a = ends[0]->geometry()->coords(), b = ends[1]->geometry()->coords();
    std::snprintf(t, sizeof t, " (edge from (%.9g, %.9g, %.9g) to (%.9g, %.9g, %.9g))", a.x(), a.y(), a.z(), b.x(),
                  b.y(), b.z());
    text += t;
  }
  return text;
}

// Measured with the kernel; list queries that fail stop the comparison
// (query_refused), measures that fail are left empty and noted. `at`, when
// given, says which face and coedge the walk was at, for a query that throws.
inline BodyFacts facts_of(const BODY* body, std::string* at = nullptr) {
  BodyFacts f;
  insanity_list* findings = nullptr;
  if (measured(f, "the kernel's check", api_check_entity(body, findings)) && findings)
    for (int i = 0; i < findings->count(); ++i)
      f.findings.push_back(std::string(findings->data(i)->get_ent()->type_name()) + " " +
                           findings->data(i)->get_message());
  delete findings;
  double value = 0.0, accuracy = 0.0;
  if (measured(f, "the area", api_ent_area(body, 1e-7, value, accuracy)) && std::isfinite(value)) f.area = value;
  const std::vector<ENTITY*> faces = listed(api_get_faces, body);
  // A wire body has no volume (one that comes back held by a lump neither).
  if (!faces.empty() && measured(f, "the volume", api_body_volume(body, 1e-7, value, accuracy)) && std::isfinite(value))
    f.volume = value;
  for (std::size_t i = 0; i < faces.size(); ++i) {
    const auto* face = static_cast<const FACE*>(faces[i]);
    if (!face->geometry() || !face->geometry()->has_equation()) continue;
    const surface& s = face->geometry()->equation();
    const double period[2] = {ve_closing_period(s, true), ve_closing_period(s, false)};
    int loopNumber = 0;
    for (const LOOP* loop = face->loop(); loop; loop = loop->next(), ++loopNumber) {
      const std::vector<ENTITY*> coedges = listed(api_get_coedges, loop);
      bool jumps = false;
      for (std::size_t k = 0; k < coedges.size(); ++k) {
        const auto* c = static_cast<const COEDGE*>(coedges[k]);
        if (at) *at = coedge_place(i, loopNumber, k, c);
        if (const double gap = pcurve_deviation(c); gap > f.pcurveGap) {
          f.pcurveGap = gap;
          f.pcurveGapAt = "face " + std::to_string(i);
        }
        // Each pcurve starts where the one before it ends, not a period away.
        QELpar_pos s0, e0, s1, e1;
        const auto* next = static_cast<const COEDGE*>(coedges[(k + 1) % coedges.size()]);
        if (coedges.size() > 1 && pcurve_ends(c, s0, e0) && pcurve_ends(next, s1, e1))
          jumps = jumps || (period[0] > 0.0 && std::fabs(s1.u - e0.u) >= 0.5 * period[0]) ||
                  (period[1] > 0.0 && std::fabs(s1.v - e0.v) >= 0.5 * period[1]);
      }
      if (jumps) f.periodJumps.push_back("face " + std::to_string(i));
    }
  }
  if (at) at->clear();
  return f;
}

// The differences between the facts of a body before and after, each a line;
// loops that jump a period are named wherever they are.
// A measure the kernel refused on one side only is a failed call, not a difference
// of the bodies: it stops the comparison (query_refused) as a refused list does.
inline std::vector<std::string> fact_differences(const BodyFacts& before, const BodyFacts& after, double tol) {
  if (before.refused.empty() != after.refused.empty())
    throw query_refused("measuring a body: " + (before.refused.empty() ? after.refused : before.refused));
  std::vector<std::string> out;
  for (const std::string& finding : before.findings) {
    bool still = false;
    for (const std::string& other : after.findings) still = still || other == finding;
    if (!still) out.push_back("checker before only: " + finding);
  }
  const auto measure = [&](const char* what, const std::optional<double>& a, const std::optional<double>& b) {
    if (a.has_value() != b.has_value())
      out.push_back(std::string(what) + (a ? " came back unmeasurable" : " could not be measured before"));
    else if (a && std::fabs(*a - *b) > 1e-6 * std::max({std::fabs(*a), std::fabs(*b), 1.0}))
      out.push_back(std::string(what) + " " + number_text(*a) + " came back as " + number_text(*b));
  };
  measure("area", before.area, after.area);
  measure("volume", before.volume, after.volume);
  if (after.pcurveGap > std::max(tol, 10.0 * before.pcurveGap))
    out.push_back("pcurves lie up to " + number_text(after.pcurveGap) + " off their edges (" + after.pcurveGapAt +
                  "; before " + number_text(before.pcurveGap) + ")");
  else if (before.pcurveGap > std::max(tol, 10.0 * after.pcurveGap))
    out.push_back("pcurves lay up to " + number_text(before.pcurveGap) + " off their edges before (" +
                  before.pcurveGapAt + ")");
  for (const std::string& where : before.periodJumps) out.push_back("before: " + where + ": pcurves of a loop jump a period");
  for (const std::string& where : after.periodJumps) out.push_back(where + ": pcurves of a loop jump a period");
  return out;
}

}  // namespace roundtrip_detail
}  // namespace xvelm
