// Entity checks with numbered findings: coedges against their edges and
// vertices, edges at cone apices, and the whole-entity check built on them.
#include "velm/insanity.hxx"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "bspline_data.hxx"
#include "query_internal.hxx"
#include "velm/math.hxx"  // before entity_internal.hxx, which names positions
#include "entity_internal.hxx"
#include "velm/api.hxx"
#include "velm/check.hxx"
#include "velm/geometry.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/options.hxx"
#include "velm/query.hxx"
#include "velm/testkit.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology_api.hxx"

const char* insanity_data::get_message() const {
  if (!words_.empty()) return words_.c_str();
  const char* text = message_module::find_message(id_);
  return text ? text : "unknown finding";
}

insanity_list::~insanity_list() {
  for (insanity_data* d : data_) delete d;
}

insanity_data* insanity_list::data(int i) const {
  return i >= 0 && i < count() ? data_[static_cast<std::size_t>(i)] : nullptr;
}

bool insanity_list::exist(int insane_id) const {
  return std::any_of(data_.begin(), data_.end(), [&](const insanity_data* d) { return d->get_insane_id() == insane_id; });
}

void insanity_list::add(insanity_entry entry, ENTITY* ent) {
  data_.push_back(VELM_MAKE(insanity_data, qelvelm_insanity_errmod.message_code(entry), ent));
}

void insanity_list::add(insanity_entry entry, ENTITY* ent, std::string words) {
  data_.push_back(VELM_MAKE(insanity_data, qelvelm_insanity_errmod.message_code(entry), ent, std::move(words)));
}

namespace {

constexpr int kCoedgeSamples = 8;  // nine samples

const surface* face_surface_of(const COEDGE* c) {
  const LOOP* loop = c ? c->loop() : nullptr;
  const FACE* face = loop ? loop->face() : nullptr;
  const SURFACE* s = face ? face->geometry() : nullptr;
  return s && s->has_equation() ? &s->equation() : nullptr;
}

double edge_tol(const EDGE* e) { return std::max(e->get_tolerance(), QELresabs); }
double vertex_tol(const VERTEX* v) { return std::max(v->get_tolerance(), QELresabs); }

bool finite_point(const QELposition& p) {
  return std::isfinite(p.x()) && std::isfinite(p.y()) && std::isfinite(p.z());
}

// Ends that are numbers: an end at infinity or NaN puts the edge's ends nowhere,
// and every comparison of a distance with a tolerance would pass it.
bool finite_ends(const QELinterval& r) {
  return r.finite() && std::isfinite(r.start_pt()) && std::isfinite(r.end_pt());
}

bool curve_of(const EDGE* e, const curve*& eq, QELinterval& range) {
  const CURVE* cu = e ? e->geometry() : nullptr;
  if (!cu || !cu->has_equation()) return false;
  range = edge_curve_range(e);
  if (!finite_ends(range) || range.length() < 0.0) return false;
  eq = &cu->equation();
  return true;
}

// The coedge's start and end: on the surface through its pcurve, else on the edge curve.
bool coedge_ends(const COEDGE* c, QELposition& start, QELposition& end) {
  const PCURVE* pc = c->geometry();
  const surface* srf = face_surface_of(c);
  const curve* eq = nullptr;
  QELinterval range;
  if (pc && pc->has_equation() && srf) {
    const pcurve p = pc->def();
    const QELinterval r = c->param_range();
    if (!finite_ends(r)) return false;
    start = srf->eval_position(p.eval_position(r.start_pt()));
    end = srf->eval_position(p.eval_position(r.end_pt()));
    return true;
  }
  if (!curve_of(c->edge(), eq, range)) return false;
  const bool along = c->sense() == c->edge()->sense();
  start = eq->eval_position(along ? range.start_pt() : range.end_pt());
  end = eq->eval_position(along ? range.end_pt() : range.start_pt());
  return true;
}

// A point evaluated on a curve or surface is known to a few units in the
// last place of its coordinates: far from the origin a vertex set at the
// tolerance's border measures a rounding past it, and is on.
bool past_tolerance(double gap, double tolerance, const QELposition& at) {
  const double rounding =
      16.0 * std::numeric_limits<double>::epsilon() * (std::fabs(at.x()) + std::fabs(at.y()) + std::fabs(at.z()));
  return gap > tolerance + rounding;
}

// For a coedge without pcurve: whether the edge curve leaves the face's
// surface, at the same samples, by more than the edge's tolerance (its
// vertices' at the ends).
bool curve_off_surface(const COEDGE* c) {
  const PCURVE* pc = c->geometry();
  const surface* srf = face_surface_of(c);
  const curve* eq = nullptr;
  QELinterval range;
  if ((pc && pc->has_equation()) || !srf || !curve_of(c->edge(), eq, range)) return false;
  const EDGE* e = c->edge();
  for (int k = 0; k <= kCoedgeSamples; ++k) {
    const QELposition p = eq->eval_position(range.interpolate(double(k) / kCoedgeSamples));
    QELposition foot;
    srf->point_perp(p, foot);
    double tol = edge_tol(e);
    const VERTEX* v = k == 0 ? (e->sense() == FORWARD ? e->start() : e->end())
                    : k == kCoedgeSamples ? (e->sense() == FORWARD ? e->end() : e->start()) : nullptr;
    if (v) tol = std::max(tol, vertex_tol(v));
    if (past_tolerance(distance(p, foot), tol, p)) return true;
  }
  return false;
}

void check_coedge_into(const COEDGE* c, bool tolerances, insanity_list& out) {
  if (!c || !c->edge()) return;
  auto* ent = const_cast<COEDGE*>(c);
  QELposition start, end;
  const bool ends = coedge_ends(c, start, end);
  const VERTEX* vs = c->start();
  const VERTEX* ve = c->end();
  // Whether v lies farther from p than the tolerance.
  const auto off = [](const VERTEX* v, const QELposition& p, double tolerance) {
    return v && v->geometry() && past_tolerance(distance(v->geometry()->coords(), p), tolerance, p);
  };
  if (ends) {
    if (vs && !is_TVERTEX(vs) && off(vs, start, QELresabs)) out.add(insanity_coedge_start_off, ent);
    if (ve && !is_TVERTEX(ve) && off(ve, end, QELresabs)) out.add(insanity_coedge_end_off, ent);
    if (tolerances && vs && is_TVERTEX(vs) && off(vs, start, vertex_tol(vs))) out.add(insanity_start_vertex_tol, ent);
    if (tolerances && ve && is_TVERTEX(ve) && off(ve, end, vertex_tol(ve))) out.add(insanity_end_vertex_tol, ent);
  }
  // At the even steps, the middle of each and the middle of every knot span
  // of the pcurve: a pcurve through the edge's points strays, if anywhere,
  // between them.
  if (pcurve_deviation(c, kCoedgeSamples) > edge_tol(c->edge())) out.add(insanity_coedge_off_edge, ent);
  if (curve_off_surface(c)) out.add(insanity_edge_off_face, ent);
}

bool check_level_30() {
  const option_header* level = find_option("check_level");
  return level && level->count() >= 30;
}

void check_cone_into(const FACE* face, insanity_list& out) {
  const SURFACE* s = face ? face->geometry() : nullptr;
  if (!s || !s->has_equation() || !is_CONE(&s->equation()) || is_cylindrical_face(face)) return;
  const QELposition apex = static_cast<const cone&>(s->equation()).get_apex();
  ENTITY_LIST edges;
  velm_topology_walk(face, EDGE_TYPE, edges);
  edges.init();
  while (ENTITY* en = edges.next()) {
    auto* e = static_cast<EDGE*>(en);
    const curve* eq = nullptr;
    QELinterval range;
    const bool has_curve = curve_of(e, eq, range);
    const bool fwd = e->sense() == FORWARD;
    for (int end = 0; end < 2; ++end) {
      const VERTEX* v = end == 0 ? e->start() : e->end();
      if (!v || !v->geometry()) continue;
      const double off = distance(v->geometry()->coords(), apex);
      if (!has_curve) {
        // A null edge stands for the apex itself.
        if (off > vertex_tol(v)) {
          out.add(insanity_bad_apex_edge, e);
          break;
        }
        continue;
      }
      if (off > vertex_tol(v)) continue;  // this end is not at the apex
      const double t = (end == 0) == fwd ? range.start_pt() : range.end_pt();
      if (distance(eq->eval_position(t), apex) > edge_tol(e)) {
        out.add(insanity_bad_apex_edge, e);
        break;
      }
    }
  }
}

// Non-periodic directions of the surface against the pcurve's box.
bool pcurve_outside_surface(const COEDGE* c) {
  const PCURVE* pc = c->geometry();
  const surface* srf = face_surface_of(c);
  if (!pc || !pc->has_equation() || !srf || srf->type() != 10) return false;
  const pcurve p = pc->def();
  const QELinterval r = c->param_range();
  if (!finite_ends(r)) return false;
  const QELpar_box box = srf->param_range();
  for (int k = 0; k <= 16; ++k) {
    const QELpar_pos uv = p.eval_position(r.interpolate(k / 16.0));
    if (!srf->periodic_u() && box.u_range().finite() &&
        (uv.u < box.u_range().start_pt() - QELresabs || uv.u > box.u_range().end_pt() + QELresabs))
      return true;
    if (!srf->periodic_v() && box.v_range().finite() &&
        (uv.v < box.v_range().start_pt() - QELresabs || uv.v > box.v_range().end_pt() + QELresabs))
      return true;
  }
  return false;
}

// ---- the memo of B-spline checks (check_geometry_memo) ----

using spline_key = std::vector<double>;

struct spline_key_hash {
  std::size_t operator()(const spline_key& k) const {
    std::uint64_t h = 1469598103934665603ull;
    for (double d : k) {
      std::uint64_t bits;
      std::memcpy(&bits, &d, sizeof bits);
      h = (h ^ bits) * 1099511628211ull;
    }
    return static_cast<std::size_t>(h);
  }
};

struct geometry_memo {
  int holders = 0;
  std::size_t kept = 0;  // numbers held in the keys
  std::unordered_map<spline_key, bool, spline_key_hash> found;
};

geometry_memo& memo() {
  thread_local geometry_memo m;
  return m;
}

// Enough for the splines of a large model (16 MB of keys); past it the memo
// starts afresh.
constexpr std::size_t kMemoCap = std::size_t(1) << 21;

void put_direction(spline_key& key, const bs_direction& d) {
  key.insert(key.end(), {double(d.degree), double(d.form), double(d.pole), double(d.knots.size())});
  key.insert(key.end(), d.knots.begin(), d.knots.end());
}

void put_net(spline_key& key, bool rational, double point_tol, const std::vector<QELposition>& pts,
             const std::vector<double>& weights) {
  key.insert(key.end(), {rational ? 1.0 : 0.0, point_tol, double(pts.size())});
  for (const QELposition& p : pts) key.insert(key.end(), {p.x(), p.y(), p.z()});
  key.push_back(double(weights.size()));
  key.insert(key.end(), weights.begin(), weights.end());
}

// Whether the check of the B-spline found a status, kept by its data (while a
// memo is held: the callers ask first). Data that is not all numbers is checked every time (it would
// not equal itself as a key).
template <class Check>
bool memo_found(spline_key key, Check check) {
  geometry_memo& m = memo();
  if (!std::all_of(key.begin(), key.end(), [](double d) { return std::isfinite(d); })) return check();
  for (double& d : key) d += 0.0;  // -0 and +0 are one key
  if (const auto it = m.found.find(key); it != m.found.end()) return it->second;
  const bool found = check();
  if (m.kept + key.size() > kMemoCap) m.found.clear(), m.kept = 0;
  m.kept += key.size();
  m.found.emplace(std::move(key), found);
  return found;
}

// Whether a check's list of statuses holds any (the list is the caller's to free).
bool any_status(check_status_list* found) {
  const bool any = found != nullptr;
  delete found;
  return any;
}

bool surface_check_finds(const surface& srf) {
  check_fix in, res;
  auto check = [&] { return any_status(d3_sf_check(const_cast<surface&>(srf), in, res, nullptr)); };
  if (srf.type() != 10 || memo().holders == 0) return check();
  const bs3_surface s = static_cast<const spline&>(srf).sur();
  if (!s) return check();
  spline_key key{10.0};
  put_direction(key, s->u);
  put_direction(key, s->v);
  put_net(key, s->rational, s->point_tol, s->pts, s->weights);
  return memo_found(std::move(key), check);
}

bool curve_check_finds(const curve& c) {
  check_fix in, res;
  auto check = [&] { return any_status(d3_cu_check(c, in, res, nullptr)); };
  if (c.type() != 11 || memo().holders == 0) return check();
  const bs3_curve b = static_cast<const intcurve&>(c).cur();
  if (!b) return check();
  spline_key key{11.0};
  put_direction(key, b->dir);
  put_net(key, b->rational, b->point_tol, b->pts, b->weights);
  return memo_found(std::move(key), check);
}

// A loop's place among its face's loops, a coedge's in its loop's ring (from
// the loop's start), from 0; -1 when the chain does not reach it.
template <class T, class Next>
int place_in(const T* first, const T* e, Next next) {
  std::size_t n = 0;
  const std::size_t limit = velm_walk_limit();
  for (const T* at = first; at && n < limit; at = next(at), ++n) {
    if (at == e) return static_cast<int>(n);
    if (n > 0 && at == first) break;
  }
  return -1;
}

// A structural finding in words, led by the place of the loop or coedge it
// is about within its face ("loop 0, coedge 2: ..."): the face is named by
// whoever knows where it came from.
std::string structural_words(const ENTITY* e, const std::string& what) {
  std::string place;
  const LOOP* loop = nullptr;
  if (is_COEDGE(e)) {
    loop = static_cast<const COEDGE*>(e)->loop();
    const int at = loop && velm_is_live_entity(loop)
                       ? place_in(loop->start(), static_cast<const COEDGE*>(e), [](const COEDGE* c) { return c->next(); })
                       : -1;
    place = at >= 0 ? "coedge " + std::to_string(at) : "a coedge outside its loop's ring";
  } else if (is_LOOP(e)) {
    loop = static_cast<const LOOP*>(e);
  }
  if (loop && velm_is_live_entity(loop) && loop->face() && velm_is_live_entity(loop->face())) {
    const int at = place_in(loop->face()->loop(), loop, [](const LOOP* l) { return l->next(); });
    if (at >= 0) place = "loop " + std::to_string(at) + (place.empty() ? "" : ", " + place);
  }
  return place.empty() ? what : place + ": " + what;
}

void check_entity_into(const ENTITY* root, insanity_list& out) {
  // Each structural finding in its own words, on the entity it is about
  // (the first finding of each entity).
  std::vector<velm_model_finding> structure;
  if (!velm_check_model_findings(root, structure)) {
    std::vector<const ENTITY*> told;
    for (const velm_model_finding& f : structure) {
      const ENTITY* at = f.entity ? f.entity : root;
      if (std::find(told.begin(), told.end(), at) != told.end()) continue;
      told.push_back(at);
      out.add(insanity_bad_owner, const_cast<ENTITY*>(at), structural_words(at, f.what));
    }
  }
  ENTITY_LIST all;
  velm_topology_walk(root, all);
  for (int i = 0; i < all.count(); ++i) {
    ENTITY* e = all[i];
    if (is_FACE(e)) {
      auto* face = static_cast<FACE*>(e);
      if (!face->geometry() || !face->geometry()->has_equation()) {
        out.add(insanity_no_geometry, face);
        continue;
      }
      int counts[5] = {0, 0, 0, 0, 0};
      if (face->loop()) {
        // Loops found wrong are a finding; a loop check that could not run
        // fails the whole check instead of passing for one.
        const outcome loops = api_check_face_loops(face, counts);
        if (!loops.ok() && loops.error_number() != qelvelm_api_errmod.message_code(VELM_BAD_FACE_LOOPS))
          sys_error(loops.error_number(), loops.get_error_info());
        if (!loops.ok()) out.add(insanity_bad_face_loops, face);
      }
      check_cone_into(face, out);
      if (surface_check_finds(face->geometry()->equation())) out.add(insanity_bad_surface, face);
    } else if (is_COEDGE(e)) {
      auto* c = static_cast<COEDGE*>(e);
      check_coedge_into(c, true, out);
      if (pcurve_outside_surface(c)) out.add(insanity_pcurve_outside_surface, c);
    } else if (is_EDGE(e)) {
      auto* edge = static_cast<EDGE*>(e);
      const curve* eq = nullptr;
      QELinterval range;
      const CURVE* cu = edge->geometry();
      if (cu && cu->has_equation() && !finite_ends(edge->param_range())) {
        out.add(insanity_not_finite, edge);
        continue;
      }
      if (!curve_of(edge, eq, range)) {
        if (edge->start() != edge->end()) out.add(insanity_no_geometry, edge);
        continue;
      }
      if (velm_query::edge_vertex_off_curve(edge).vertex) out.add(insanity_vertex_off_edge, edge);
      if (curve_check_finds(*eq)) out.add(insanity_bad_curve, edge);
    } else if (is_VERTEX(e)) {
      const APOINT* point = static_cast<VERTEX*>(e)->geometry();
      if (!point)
        out.add(insanity_no_geometry, e);
      else if (!finite_point(point->coords()))
        out.add(insanity_not_finite, e);
    }
  }
}

}  // namespace

velm_query::vertex_off_curve velm_query::edge_vertex_off_curve(const EDGE* edge) {
  const curve* eq = nullptr;
  QELinterval range;
  if (!curve_of(edge, eq, range)) return {};
  const bool fwd = edge->sense() == FORWARD;
  for (const bool start : {true, false}) {
    const VERTEX* v = start ? edge->start() : edge->end();
    if (!v || !v->geometry()) continue;
    const QELposition end = eq->eval_position(fwd == start ? range.start_pt() : range.end_pt());
    const double gap = distance(v->geometry()->coords(), end);
    const double tolerance = std::max(vertex_tol(v), edge_tol(edge));
    // An end that overflowed (a range far out on its curve) is on no vertex.
    if (!std::isfinite(gap) || past_tolerance(gap, tolerance, end)) return {v, start, gap, tolerance};
  }
  return {};
}

std::string velm_query::edge_unsavable(const EDGE* edge, const std::function<std::string(const ENTITY*)>& record) {
  const auto named = [&](const ENTITY* e) {
    const std::string r = record(e);
    return r.empty() ? std::string() : " (" + r + ")";
  };
  // Only an edge that starts where it ends (a cone's apex) may go without a
  // curve equation: the kernel's check refuses any other, and every reader
  // of the edge evaluates it.
  if (edge->start() != edge->end() && !edge->geometry()) return "has no curve, though it runs between two vertices";
  if (edge->start() != edge->end() && !edge->geometry()->has_equation())
    return "its curve" + named(edge->geometry()) + " carries no equation, though it runs between two vertices";
  const auto off = edge_vertex_off_curve(edge);
  if (!off.vertex) return "";
  char gap[32], tolerance[32];
  *std::to_chars(gap, gap + sizeof gap - 1, off.gap).ptr = '\0';
  *std::to_chars(tolerance, tolerance + sizeof tolerance - 1, off.tolerance).ptr = '\0';
  const char* end = off.at_start ? "start" : "end";
  return std::string("its ") + end + " vertex" + named(off.vertex) + " lies " + gap + " off its curve's " + end +
         ", beyond the tolerance of " + tolerance;
}

std::string velm_query::face_unsavable(const FACE* face, const std::function<std::string(const ENTITY*)>& record) {
  if (!face->geometry()) return "has no surface";
  if (face->geometry()->has_equation()) return "";
  const std::string r = record(face->geometry());
  return "its surface" + (r.empty() ? std::string() : " (" + r + ")") + " carries no equation";
}

insanity_list* sg_check_coedge(const COEDGE* coedge, const QELtransf*) {
  velm_check_call("sg_check_coedge");
  // Held until filled: a check that runs out of memory half-way leaks nothing.
  std::unique_ptr<insanity_list> list(VELM_MAKE(insanity_list));
  check_coedge_into(coedge, check_level_30(), *list);
  return list.release();
}

insanity_list* sg_check_conical_face(const FACE* face) {
  velm_check_call("sg_check_conical_face");
  std::unique_ptr<insanity_list> list(VELM_MAKE(insanity_list));
  check_cone_into(face, *list);
  return list.release();
}

check_geometry_memo::check_geometry_memo() { ++memo().holders; }

check_geometry_memo::~check_geometry_memo() {
  geometry_memo& m = memo();
  if (--m.holders == 0) m.found.clear(), m.kept = 0;
}

outcome api_check_entity(const ENTITY* e, insanity_list*& findings) {
  findings = nullptr;
  return velm_api("api_check_entity", [&] {
    if (!e) velm_api_error_throw(VELM_NULL_ENTITY);
    std::unique_ptr<insanity_list> list(VELM_MAKE(insanity_list));
    check_entity_into(e, *list);
    findings = list.release();
  });
}

outcome api_check_entity2(const ENTITY* e, insanity_list*& findings) { return api_check_entity(e, findings); }

outcome api_check_entity(const ENTITY* e, ENTITY_LIST* insane, FILE* report, const void*) {
  insanity_list* findings = nullptr;
  const outcome r = api_check_entity(e, findings);
  if (!findings) return r;
  for (int i = 0; i < findings->count(); ++i) {
    const insanity_data* d = findings->data(i);
    if (insane) insane->add(d->get_ent());
    if (report) std::fprintf(report, "%s %d: %s\n", d->get_ent()->type_name(), d->get_ent()->debug_number(), d->get_message());
  }
  delete findings;
  return r;
}
