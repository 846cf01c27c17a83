// `xvelm roundtrip IN.vlt`: a kernel save file exported through the
// connector into a neutral document, read back as another system's document
// and imported through the full import roads, then compared with what it
// came from. Header-only so that the driver, its tests and the benchmark
// share one implementation.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <utility>
#include <chrono>
#include <cmath>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "body_counts.hxx"
#include "body_facts.hxx"
#include "export_verb.hxx"
#include "import_verb.hxx"
#include "import/brep_importer.hxx"
#include "qelx/foreign_view.hxx"
#include "qelx/test_exporters.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "velm/attrib.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/groups.hxx"
#include "velm/insanity.hxx"
#include "velm/query.hxx"

namespace xvelm {

// The document type the neutral document is read back under: another
// system's, so that the importer takes its full roads (topology, wire, free
// entities) rather than copying bodies of its own kind.
inline constexpr const char* foreign_xtype = "XTest";

// Seconds each step of a round trip took.
struct RoundTripTimes {
  double export_walk = 0.0, neutral_text = 0.0, import = 0.0, compare = 0.0;
  double total() const { return export_walk + neutral_text + import + compare; }
};

namespace roundtrip_detail {

inline double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

inline std::string point_text(const QELposition& p) {
  char text[96];
  std::snprintf(text, sizeof text, "(%.9g, %.9g, %.9g)", p.x(), p.y(), p.z());
  return text;
}

inline QELposition centre_of(const BODY* body) {
  double x = 0, y = 0, z = 0;
  const std::vector<ENTITY*> vertices = listed(api_get_vertices, body);
  for (ENTITY* v : vertices)
    if (const APOINT* p = static_cast<VERTEX*>(v)->geometry()) {
      x += p->coords().x();
      y += p->coords().y();
      z += p->coords().z();
    }
  const double n = vertices.empty() ? 1.0 : static_cast<double>(vertices.size());
  return QELposition(x / n, y / n, z / n);
}

// The edge at its own parameter t: the curve at t, or at -t when reversed.
inline QELposition edge_point(const EDGE* edge, double t) {
  return edge->geometry()->equation().eval_position(edge->sense() == REVERSED ? -t : t);
}

inline bool has_curve(const EDGE* edge) {
  return edge->geometry() && edge->geometry()->has_equation() && !edge->param_range().infinite() &&
         !edge->param_range().empty();
}

// A named attribute of one kind, or null when the entity has none of that
// name. A look-up the kernel refuses stops the comparison (query_refused):
// a name it could not read is not a name that went missing.
template <class Kind>
inline const Kind* named_or_throw(const ENTITY* e, const char* name) {
  ATTRIB_GEN_NAME* found = nullptr;
  throw_if_refused(api_find_named_attribute(e, name, found), "looking up an attribute");
  return dynamic_cast<const Kind*>(found);
}

// Name, colour and layer of an entity, and the numbers of the layers it is in.
inline std::string attributes_of(ENTITY* e) {
  using Names = Ve_AttribTransfer;
  std::string text;
  if (const auto* name = named_or_throw<ATTRIB_GEN_STRING>(e, Names::LabelName))
    text += "name \"" + printable(name->value()) + "\" ";
  for (const ATTRIB* a = e->attrib(); a; a = a->next())
    if (is_ATTRIB_RGB(a)) {
      const auto* colour = static_cast<const ATTRIB_RGB*>(a);
      char rgb[80];
      std::snprintf(rgb, sizeof rgb, "colour %.6g %.6g %.6g ", colour->red(), colour->green(), colour->blue());
      text += rgb;
    }
  if (const auto* layer = named_or_throw<ATTRIB_GEN_INTEGER>(e, Names::LayerName))
    text += "layer " + std::to_string(layer->value()) + " ";
  ENTITY_LIST groups;
  throw_if_refused(api_ct_return_groups(e, groups), "looking up the groups");
  std::vector<int> layers;
  for (int i = 0; i < groups.count(); ++i) {
    if (groups[i]->identity(2) != QELGROUP_TYPE) continue;
    const auto* type = named_or_throw<ATTRIB_GEN_INTEGER>(groups[i], Names::GroupTypeName);
    if (!type || type->value() != Ve_GroupLayer) continue;
    if (const auto* id = named_or_throw<ATTRIB_GEN_INTEGER>(groups[i], Names::IdNumberName))
      layers.push_back(id->value());
  }
  std::sort(layers.begin(), layers.end());
  for (int id : layers) text += "on layer " + std::to_string(id) + " ";
  return text.empty() ? "none" : text.substr(0, text.size() - 1);
}

// Entities found by a point near them: cells of a grid much coarser than the
// tolerance, a lookup searching the cell and its neighbours, so that finding
// every vertex and edge again costs time in proportion to their number. The
// items lie in one array, each cell's chained in the order they were added,
// and the cells in one open-addressed table: no allocation per point or per
// cell, whatever the size of the model.
template <class T>
class PointIndex {
 public:
  explicit PointIndex(double cell) : cell_(cell) {}
  void add(const QELposition& p, T item) {
    const int index = static_cast<int>(items_.size());
    items_.push_back({p, item, -1});
    Cell& c = cell_at(key(cell_of(p)));
    if (c.last < 0)
      c.first = index;
    else
      items_[static_cast<std::size_t>(c.last)].next = index;
    c.last = index;
  }
  // The items within `tol` of p, nearest first.
  std::vector<T> near(const QELposition& p, double tol) const {
    std::vector<std::pair<double, T>> found;
    const auto c = cell_of(p);
    for (long dx = -1; dx <= 1; ++dx)
      for (long dy = -1; dy <= 1; ++dy)
        for (long dz = -1; dz <= 1; ++dz) {
          const Cell* cell = find(key({c[0] + dx, c[1] + dy, c[2] + dz}));
          for (int i = cell ? cell->first : -1; i >= 0; i = items_[static_cast<std::size_t>(i)].next) {
            const Item& it = items_[static_cast<std::size_t>(i)];
            if (const double d = (it.at - p).len(); d <= tol) found.push_back({d, it.item});
          }
        }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<T> out;
    out.reserve(found.size());
    for (const auto& f : found) out.push_back(f.second);
    return out;
  }

 private:
  struct Item {
    QELposition at;
    T item;
    int next;  // the next item of the same cell, or -1
  };
  struct Cell {
    std::uint64_t key = 0;
    int first = -1, last = -1;  // last < 0: a free slot
  };

  std::array<long, 3> cell_of(const QELposition& p) const {
    return {std::lround(std::floor(p.x() / cell_)), std::lround(std::floor(p.y() / cell_)),
            std::lround(std::floor(p.z() / cell_))};
  }
  static std::uint64_t key(const std::array<long, 3>& c) {
    std::uint64_t h = 1469598103934665603ull;
    for (long v : c) h = (h ^ static_cast<std::uint64_t>(v)) * 1099511628211ull;
    return h;
  }
  std::size_t home(std::uint64_t k) const {
    k ^= k >> 33;
    k *= 0xFF51AFD7ED558CCDull;
    k ^= k >> 33;
    return static_cast<std::size_t>(k) & (cells_.size() - 1);
  }
  const Cell* find(std::uint64_t k) const {
    if (cells_.empty()) return nullptr;
    for (std::size_t i = home(k);; i = (i + 1) & (cells_.size() - 1)) {
      const Cell& c = cells_[i];
      if (c.last < 0) return nullptr;
      if (c.key == k) return &c;
    }
  }
  // The cell of the key, made empty when new; the table stays at most half full.
  Cell& cell_at(std::uint64_t k) {
    if (2 * (used_ + 1) > cells_.size()) {
      std::vector<Cell> old(cells_.empty() ? 16 : 2 * cells_.size());
      old.swap(cells_);
      for (const Cell& c : old)
        if (c.last >= 0) slot(c.key) = c;
    }
    Cell& c = slot(k);
    if (c.last < 0) {
      c.key = k;
      ++used_;
    }
    return c;
  }
  Cell& slot(std::uint64_t k) {
    for (std::size_t i = home(k);; i = (i + 1) & (cells_.size() - 1))
      if (cells_[i].last < 0 || cells_[i].key == k) return cells_[i];
  }

  double cell_;
  std::vector<Item> items_;
  std::vector<Cell> cells_;
  std::size_t used_ = 0;
};

// Compares one body with what came back for it; each difference a line.
class BodyComparison {
 public:
  BodyComparison(const std::string& name, const BODY* before, const BODY* after, double tol)
      : name_(name), before_(before), after_(after), tol_(tol) {}

  void run(std::vector<std::string>& out) {
    out_ = &out;
    at_ = "counting its entities";
    const Counts a = counts_of(before_), b = counts_of(after_);
    if (!(a == b)) say("topology " + a.text() + " came back as " + b.text());
    at_ = "its attributes";
    attributes(const_cast<BODY*>(before_), const_cast<BODY*>(after_), "");
    at_ = "its vertices";
    vertices();
    at_ = "its edges";
    edges();
    at_ = "its faces";
    faces();
    at_ = "the checker on what came back";
    checker();
    std::string walk;
    const auto measure = [&](const BODY* body, const char* side) {
      at_ = std::string("measuring it ") + side;
      return facts_of(body, &walk);
    };
    try {
      const BodyFacts went = measure(before_, "as it went out"), came = measure(after_, "as it came back");
      at_ = "comparing its measures";
      for (const std::string& d : fact_differences(went, came, tol_)) say(d);
    } catch (...) {
      if (!walk.empty()) at_ += ", at " + walk;
      throw;
    }
    at_.clear();
  }

  // Where the comparison was when a query threw: the body's name and the step
  // (and face, edge or coedge) it was at.
  std::string place() const { return at_.empty() ? name_ : name_ + ", " + at_; }

 private:
  void say(const std::string& what) { out_->push_back(name_ + ": " + what); }

  void attributes(ENTITY* a, ENTITY* b, const std::string& where) {
    const std::string before = attributes_of(a), after = attributes_of(b);
    if (before != after) say(where + (where.empty() ? "" : " ") + "attributes " + before + " came back as " + after);
  }

  void vertices() {
    PointIndex<const VERTEX*> after(cell());
    for (ENTITY* w : listed(api_get_vertices, after_))
      if (const APOINT* q = static_cast<VERTEX*>(w)->geometry()) after.add(q->coords(), static_cast<VERTEX*>(w));
    for (ENTITY* v : listed(api_get_vertices, before_)) {
      const APOINT* p = static_cast<VERTEX*>(v)->geometry();
      if (p && after.near(p->coords(), tol_).empty()) say("vertex at " + point_text(p->coords()) + " not found");
    }
  }

  double cell() const { return std::max(1e3 * tol_, 1e-9); }

  // Each curve edge is found again by its ends and middle, then compared at
  // the same parameters.
  void edges() {
    // Edges after, by their middle points.
    PointIndex<std::size_t> middles(cell());
    const std::vector<ENTITY*> after = listed(api_get_edges, after_);
    std::vector<bool> taken(after.size(), false);
    for (std::size_t i = 0; i < after.size(); ++i)
      if (const auto* other = static_cast<EDGE*>(after[i]); has_curve(other))
        middles.add(edge_point(other, other->param_range().interpolate(0.5)), i);
    for (ENTITY* e : listed(api_get_edges, before_)) {
      const auto* edge = static_cast<EDGE*>(e);
      if (!has_curve(edge)) continue;
      const QELinterval r = edge->param_range();
      const QELposition ends[3] = {edge_point(edge, r.start_pt()), edge_point(edge, r.interpolate(0.5)),
                                   edge_point(edge, r.end_pt())};
      const EDGE* match = nullptr;
      for (std::size_t i : middles.near(ends[1], tol_)) {
        const auto* other = static_cast<EDGE*>(after[i]);
        const QELinterval s = other->param_range();
        if (!taken[i] && (edge_point(other, s.start_pt()) - ends[0]).len() <= tol_ &&
            (edge_point(other, s.end_pt()) - ends[2]).len() <= tol_) {
          match = other;
          taken[i] = true;
          break;
        }
      }
      const std::string which = "edge from " + point_text(ends[0]) + " to " + point_text(ends[2]);
      at_ = which;
      if (!match) {
        say(which + " not found");
        continue;
      }
      const QELinterval s = match->param_range();
      const double scale = std::max(1.0, std::max(std::fabs(r.start_pt()), std::fabs(r.end_pt())));
      if (std::fabs(s.start_pt() - r.start_pt()) > tol_ * scale || std::fabs(s.end_pt() - r.end_pt()) > tol_ * scale) {
        char t[160];
        std::snprintf(t, sizeof t, " runs over [%.9g, %.9g], came back over [%.9g, %.9g]", r.start_pt(), r.end_pt(),
                      s.start_pt(), s.end_pt());
        say(which + t);
        continue;
      }
      for (double f : {0.1, 1.0 / 3.0, 0.7}) {
        const double t = r.interpolate(f);
        const double gap = (edge_point(match, t) - edge_point(edge, t)).len();
        if (gap > tol_) {
          char text[96];
          std::snprintf(text, sizeof text, " is %.3g off at parameter %.9g", gap, t);
          say(which + text);
          break;
        }
      }
      attributes(e, const_cast<EDGE*>(match), which);
    }
  }

  // Faces in the order the bodies list them. A surface may come back
  // parameterised otherwise (a cylinder's angle running the other way), so
  // points of the face before are found on the surface after, each with the
  // face's outward normal.
  void faces() {
    const std::vector<ENTITY*> before = listed(api_get_faces, before_), after = listed(api_get_faces, after_);
    for (std::size_t i = 0; i < before.size() && i < after.size(); ++i) {
      const auto* a = static_cast<FACE*>(before[i]);
      const auto* b = static_cast<FACE*>(after[i]);
      const std::string which = "face " + std::to_string(i);
      at_ = which;
      attributes(before[i], after[i], which);
      if (!a->geometry() || !a->geometry()->has_equation()) continue;
      if (!b->geometry() || !b->geometry()->has_equation()) {
        say(which + " came back without a surface");
        continue;
      }
      QELpar_box box;
      if (!sg_get_face_par_box(a, box) || box.u_range().infinite() || box.v_range().infinite()) continue;
      const surface& sa = a->geometry()->equation();
      const surface& sb = b->geometry()->equation();
      const double na = a->sense() == REVERSED ? -1.0 : 1.0, nb = b->sense() == REVERSED ? -1.0 : 1.0;
      for (double fu : {0.25, 0.5, 0.75})
        for (double fv : {0.25, 0.5, 0.75}) {
          const QELpar_pos uv(box.u_range().interpolate(fu), box.v_range().interpolate(fv));
          const QELposition p = sa.eval_position(uv);
          QELposition foot;
          QELunit_vector normal;
          sb.point_perp(p, foot, normal);
          const double gap = (foot - p).len();
          const double turn = na * nb * (sa.eval_normal(uv) % normal);
          if (gap > tol_ || turn < 0.0) {
            say(which + (gap > tol_ ? " is " + std::to_string(gap) + " off" : std::string(" faces the other way")) +
                " at " + point_text(p));
            return;
          }
        }
    }
  }

  void checker() {
    insanity_list* findings = nullptr;
    if (api_check_entity(after_, findings).ok() && findings)
      for (int i = 0; i < findings->count(); ++i)
        say(std::string("checker: ") + findings->data(i)->get_ent()->type_name() + " " +
            findings->data(i)->get_message());
    delete findings;
  }

  std::string name_;
  std::string at_;
  const BODY* before_;
  const BODY* after_;
  double tol_;
  std::vector<std::string>* out_ = nullptr;
};

}  // namespace roundtrip_detail

// Pairs each body before with one after (the same topology counts first, then
// the nearest) and lists what differs: topology counts, vertex positions,
// edge and face geometry at matching parameters, names, colours and layers,
// what the kernel's checker finds in the bodies after (and found only
// before), area, volume, how far pcurves lie from their edges, and loops
// whose pcurves jump a period on either side.
inline std::vector<std::string> compare_bodies(const std::vector<BODY*>& before, const std::vector<BODY*>& after,
                                               double tol) {
  using namespace roundtrip_detail;
  std::vector<std::string> out;
  std::vector<bool> taken(after.size(), false);
  std::vector<Counts> afterCounts;
  std::vector<QELposition> afterCentres;
  for (const BODY* b : after) {
    afterCounts.push_back(counts_of(b));
    afterCentres.push_back(centre_of(b));
  }
  for (std::size_t i = 0; i < before.size(); ++i) {
    const Counts want = counts_of(before[i]);
    const QELposition centre = centre_of(before[i]);
    int pick = -1;
    double best = 1e300;
    bool sameCounts = false;
    for (std::size_t j = 0; j < after.size(); ++j) {
      if (taken[j]) continue;
      const bool same = afterCounts[j] == want;
      const double d = (afterCentres[j] - centre).len();
      if ((same && !sameCounts) || (same == sameCounts && d < best)) {
        pick = static_cast<int>(j);
        best = d;
        sameCounts = same;
      }
    }
    const std::string name = "body " + std::to_string(i);
    if (pick < 0) {
      out.push_back(name + ": did not come back");
      continue;
    }
    taken[pick] = true;
    // A query the kernel refuses stops the comparison, naming where it was.
    BodyComparison comparison(name, before[i], after[pick], tol);
    try {
      comparison.run(out);
    } catch (const query_refused& refused) {
      throw query_refused(comparison.place() + ": " + refused.what());
    } catch (...) {
      throw query_refused(comparison.place() + ": " + failure_in_flight());
    }
  }
  const auto extra = std::count(taken.begin(), taken.end(), false);
  if (extra > 0) out.push_back(std::to_string(extra) + " more bodies came back than went out");
  return out;
}

// One round trip of the bodies of a kernel model: export through the
// connector, the framework walk into a neutral document, the document read
// back under another system's type, imported through the full roads and
// committed into a kernel document that lives as long as this object.
class RoundTrip {
 public:
  RoundTrip() = default;
  RoundTrip(const RoundTrip&) = delete;
  RoundTrip& operator=(const RoundTrip&) = delete;

  // False with failure() set when a step failed. The bodies the export
  // makes of loose entities of `top` are added to `made` (a restored
  // model's, deleted with it), as walk_document adds them.
  bool run(ENTITY_LIST& top, const std::string& name, ENTITY_LIST* made = nullptr) {
    using roundtrip_detail::seconds_since;
    auto start = std::chrono::steady_clock::now();
    // The document goes through unnamed temporary files of the system's
    // temporary folder: its tables while the walk goes, then its whole text,
    // read back in pieces. Neither a walked model nor the text nor a tree of
    // it is ever whole in memory.
    std::unique_ptr<FILE, int (*)(FILE*)> text(nullptr, &std::fclose);
    {
      std::error_code no;
      qelx_formats::NeutralDocumentStream document((std::filesystem::temp_directory_path(no) / "roundtrip.json").string());
      ExportCounts counts;
      // What went out is what the walk exported: a body made of a loose
      // point, edge or face among them, in its place.
      std::vector<const BODY*> walked;
      if (!walk_document(top, document, counts, failure_, qelx_test::kWalkAllAttributes, &walked, made)) return false;
      for (const BODY* body : walked)
        if (body) before_.push_back(const_cast<BODY*>(body));
      times.export_walk = seconds_since(start);
      start = std::chrono::steady_clock::now();
      text.reset(std::tmpfile());
      std::string reason = text ? "" : std::strerror(errno);
      const auto put = [&](const char* data, std::size_t size) {
        if (std::fwrite(data, 1, size, text.get()) == size) return true;
        reason = std::strerror(errno);
        return false;
      };
      if (!text || !document.produce(put, reason) || std::fflush(text.get()) != 0 ||
          std::fseek(text.get(), 0, SEEK_SET) != 0) {
        failure_ = "the neutral document could not be written (" + reason + ")";
        return false;
      }
    }
    qelx_test::TestModel back;
    std::string error;
    if (qelx_formats::readNeutralDocument(fileno(text.get()), name, back, error) != QELI_OK) {
      failure_ = "the neutral document could not be read back (" + error + ")";
      return false;
    }
    text.reset();
    back.xType = foreign_xtype;
    times.neutral_text = seconds_since(start);
    return import(std::move(back));
  }

  // The same trip without the neutral document: the importer reads the
  // connector's exporter itself, seen as another system's.
  bool run_through_foreign_view(ENTITY_LIST& top) {
    using roundtrip_detail::seconds_since;
    for (int i = 0; i < top.count(); ++i)
      if (is_BODY(top[i])) before_.push_back(static_cast<BODY*>(top[i]));
    const auto start = std::chrono::steady_clock::now();
    if (!open_exporter(top, kernel_, connector_, failure_)) return false;
    view_ = std::make_unique<qelx_test::ForeignView>(connector_.get());
    times.export_walk = seconds_since(start);
    return import_from(view_.get());
  }

  // Imports a neutral model through the full roads; false with failure() set.
  bool import(qelx_test::TestModel model) {
    source_ = std::make_unique<qelx_test::TestDocument>(std::move(model));
    exporter_ = std::make_unique<qelx_test::TestBRepExporter>(source_.get());
    exporter_->log().recording = false;
    return import_from(exporter_.get());
  }

 private:
  // The importer's full roads and its commit, which heals by the recipe of
  // the source's system; names, colours and layers travel with the bodies,
  // and a sheet of one face comes back through the topology road like any
  // other, so that its edges come back shared.
  bool import_from(QELXBRepExporter* source) {
    const auto start = std::chrono::steady_clock::now();
    auto* target = new QELXVelmDocument;
    target_ = QELXDocumentHandle(target);
    target->SetUnit(QELX_UNIT_MILLIMETER);
    SwitchesForRun switches;
    for (const char* name : {"TransferAttribute", "TransferLayer", "ImportSingleFace2DShellAsTopology"})
      switches.on(Ve_OptionDoc::keyOf(name));
    ImportCounts counts;
    // A neutral source model goes as soon as it is imported, before the
    // commit heals (the exporter, still alive, then finds no entity).
    const bool imported = import_source(source, foreign_xtype, *target, counts, failure_, std::nullopt, [&] {
      if (source_) source_->model() = qelx_test::TestModel();
    });
    times.import = roundtrip_detail::seconds_since(start);
    // The importer is gone and with it every use of the source: the source
    // model (as large as the document) goes before the comparison.
    exporter_.reset();
    source_.reset();
    view_.reset();
    connector_ = QELXBRepExporterHandle();
    kernel_ = QELXDocumentHandle();
    if (!imported) return false;
    if (ENTITY_LIST* list = target->GetNativeEntityList())
      for (int i = 0; i < list->count(); ++i)
        if (is_BODY((*list)[i])) after_.push_back(static_cast<BODY*>((*list)[i]));
    return true;
  }

 public:
  std::vector<std::string> differences(double tol) {
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::string> out = compare_bodies(before_, after_, tol);
    times.compare = roundtrip_detail::seconds_since(start);
    return out;
  }

  const std::vector<BODY*>& before() const { return before_; }
  const std::vector<BODY*>& after() const { return after_; }
  const std::string& failure() const { return failure_; }
  RoundTripTimes times;

 private:
  std::vector<BODY*> before_, after_;
  std::string failure_;
  // Declared in the order they may go: the importer, the imported bodies
  // (which belong to the target document), then the sources it read.
  QELXDocumentHandle kernel_;
  QELXBRepExporterHandle connector_;
  std::unique_ptr<qelx_test::ForeignView> view_;
  std::unique_ptr<qelx_test::TestDocument> source_;
  std::unique_ptr<qelx_test::TestBRepExporter> exporter_;
  QELXDocumentHandle target_;
};

// Restores the save file, takes it round and prints what differs on `out`.
// 0 when everything came back as it went; 1 with the differences, or with
// one line on `err` when a step failed.
inline int roundtrip(const char* inPath, FILE* out, FILE* err) {
  const std::string inName = printable(inPath);
  // Declared first, so that it goes last.
  restored_model model;
  if (!restore_file(inPath, model.top, model.every, err)) return 1;
  std::vector<std::string> differences;
  RoundTripTimes times;
  std::size_t before = 0, after = 0;
  {
    StageProgress progress(err);
    RoundTrip trip;
    if (!trip.run(model.top, inName, &model.made)) {
      std::fprintf(err, "xvelm: round trip of %s failed: %s\n", inName.c_str(), trip.failure().c_str());
      return 1;
    }
    try {
      differences = trip.differences(1e-6);
    } catch (const roundtrip_detail::query_refused& refused) {
      std::fprintf(err, "xvelm: round trip of %s failed: comparing the bodies: %s\n", inName.c_str(), refused.what());
      return 1;
    } catch (...) {
      // A body the kernel cannot query (an edge without its curve) stops the comparison too.
      std::fprintf(err, "xvelm: round trip of %s failed: comparing the bodies: %s\n", inName.c_str(),
                   failure_in_flight().c_str());
      return 1;
    }
    times = trip.times;
    before = trip.before().size();
    after = trip.after().size();
  }
  std::fprintf(out, "%s: %zu bodies out, %zu back in %.2f s\n", inName.c_str(), before, after, times.total());
  for (const std::string& d : differences) std::fprintf(out, "  %s\n", printable(d.c_str()).c_str());
  if (differences.empty())
    std::fprintf(out, "no differences\n");
  else
    std::fprintf(out, "%zu differences\n", differences.size());
  if (!output_written(out, err)) return 1;
  return differences.empty() ? 0 : 1;
}

}  // namespace xvelm
