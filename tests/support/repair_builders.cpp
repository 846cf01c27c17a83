// Kernel models for the repair tests.
#include "support/repair_builders.hxx"

#include <algorithm>
#include <cstdio>
#include <map>
#include <stdexcept>
#include <utility>

#include "velm/insanity.hxx"
#include "velm/query.hxx"
#include "velm/save.hxx"
#include "velm/testkit.hxx"
#include "velm/topology_api.hxx"

namespace testkit {
namespace {

QELunit_vector polygon_normal(const std::vector<QELposition>& p) {
  QELvector n(0.0, 0.0, 0.0);
  for (std::size_t k = 0; k < p.size(); ++k) {
    const QELposition& a = p[k];
    const QELposition& b = p[(k + 1) % p.size()];
    n = n + QELvector((a.y() - b.y()) * (a.z() + b.z()), (a.z() - b.z()) * (a.x() + b.x()),
                      (a.x() - b.x()) * (a.y() + b.y()));
  }
  return normalise(n);
}

}  // namespace

BODY* make_polyhedron(const std::vector<QELposition>& points, const std::vector<std::vector<int>>& faces) {
  std::vector<VERTEX*> vertices;
  for (const QELposition& p : points) vertices.push_back(new VERTEX(new APOINT(p)));
  std::map<std::pair<int, int>, EDGE*> edges;
  FACE* first = nullptr;
  FACE* last = nullptr;
  for (const auto& poly : faces) {
    std::vector<QELposition> at;
    for (int i : poly) at.push_back(points[i]);
    std::vector<COEDGE*> ring;
    for (std::size_t k = 0; k < poly.size(); ++k) {
      const int a = poly[k], b = poly[(k + 1) % poly.size()];
      const std::pair<int, int> key(std::min(a, b), std::max(a, b));
      EDGE*& e = edges[key];
      if (!e) {
        const QELposition& p = points[key.first];
        const QELposition& q = points[key.second];
        const QELinterval range(0.0, distance(p, q));
        e = new EDGE(vertices[key.first], vertices[key.second], make_curve(straight(p, normalise(q - p))), FORWARD,
                     EDGE_cvty_unknown, &range);
      }
      auto* c = new COEDGE(e, a < b ? FORWARD : REVERSED, nullptr, nullptr);
      if (COEDGE* head = e->coedge(); head != c) {
        c->set_partner(head->partner() ? head->partner() : head);
        head->set_partner(c);
      }
      ring.push_back(c);
    }
    for (std::size_t k = 0; k < ring.size(); ++k) {
      ring[k]->set_next(ring[(k + 1) % ring.size()]);
      ring[(k + 1) % ring.size()]->set_previous(ring[k]);
    }
    auto* face = new FACE(new LOOP(ring.front(), nullptr), nullptr, make_surface(plane(at.front(), polygon_normal(at))),
                          FORWARD);
    if (last) last->set_next(face);
    if (!first) first = face;
    last = face;
  }
  for (auto& [key, e] : edges) {
    e->start()->add_edge(e);
    e->end()->add_edge(e);
  }
  for (VERTEX* v : vertices) minimize_vertex_edges(v);
  return new BODY(new LUMP(new SHELL(first, nullptr), nullptr));
}

std::vector<FACE*> make_loose_polygon_faces(const std::vector<QELposition>& points,
                                            const std::vector<std::vector<int>>& faces) {
  std::vector<FACE*> out;
  for (const auto& poly : faces) {
    std::vector<QELposition> at;
    for (int i : poly) at.push_back(points[i]);
    std::vector<VERTEX*> vertices;
    for (const QELposition& p : at) vertices.push_back(new VERTEX(new APOINT(p)));
    std::vector<COEDGE*> ring;
    for (std::size_t k = 0; k < at.size(); ++k) {
      const std::size_t n = (k + 1) % at.size();
      const QELinterval range(0.0, distance(at[k], at[n]));
      auto* e = new EDGE(vertices[k], vertices[n], make_curve(straight(at[k], normalise(at[n] - at[k]))), FORWARD,
                         EDGE_cvty_unknown, &range);
      vertices[k]->add_edge(e);
      ring.push_back(new COEDGE(e, FORWARD, nullptr, nullptr));
    }
    for (std::size_t k = 0; k < ring.size(); ++k) {
      ring[k]->set_next(ring[(k + 1) % ring.size()]);
      ring[(k + 1) % ring.size()]->set_previous(ring[k]);
    }
    out.push_back(new FACE(new LOOP(ring.front(), nullptr), nullptr,
                           make_surface(plane(at.front(), polygon_normal(at))), FORWARD));
  }
  return out;
}

std::vector<BODY*> make_loose_sheets(const std::vector<QELposition>& points,
                                     const std::vector<std::vector<int>>& faces)
{
    std::vector<BODY*> sheets;
    for (const std::vector<int>& face : faces) {
        // Only the face's own corners: a point the face does not use would
        // be a vertex no edge holds.
        std::vector<QELposition> corners;
        std::vector<int> loop;
        for (int k : face) {
            loop.push_back(static_cast<int>(corners.size()));
            corners.push_back(points[k]);
        }
        BODY* sheet = make_polyhedron(corners, {loop});
        sheet->lump()->shell()->face()->set_sides(1);
        sheets.push_back(sheet);
    }
    return sheets;
}

void delete_loose_faces(const std::vector<FACE*>& faces) {
  if (faces.empty()) return;
  std::vector<FACE*> loose(faces);
  BODY* body = nullptr;
  if (!api_mk_by_faces(nullptr, int(loose.size()), loose.data(), body).ok() || !api_del_entity(body).ok())
    throw std::runtime_error("delete_loose_faces");
}

BODY* make_box_with_small_edge(double gap, double L, double W, double H) {
  return make_polyhedron({{0, 0, 0}, {L, 0, 0}, {L, W, 0}, {0, W, 0}, {0, 0, H}, {L, 0, H}, {L, W, H}, {0, W, H},
                          {gap, 0, H}},
                         {{0, 3, 2, 1}, {4, 8, 5, 6, 7}, {0, 1, 5, 8, 4}, {3, 7, 6, 2}, {0, 4, 7, 3}, {1, 2, 6, 5}});
}

BODY* make_box_with_sliver(double width, double a, double L, double W, double H) {
  return make_polyhedron({{0, 0, 0}, {L, 0, 0}, {L, W, 0}, {0, W, 0}, {0, 0, H}, {L, 0, H}, {L, W, H}, {0, W, H},
                          {a, 0, H}, {a + width, 0, H}, {a + width, W, H}, {a, W, H}},
                         {{0, 3, 2, 1},
                          {4, 8, 11, 7},
                          // The sliver starts on a long side, as imported strips do.
                          {9, 10, 11, 8},
                          {9, 5, 6, 10},
                          {0, 1, 5, 9, 8, 4},
                          {3, 7, 11, 10, 6, 2},
                          {0, 4, 7, 3},
                          {1, 2, 6, 5}});
}

BODY* make_faulty_grid(int nx, int ny, int every, int kind, double width) {
  std::vector<QELposition> points;
  for (int j = 0; j <= ny; ++j)
    for (int i = 0; i <= nx; ++i) points.emplace_back(double(i), double(j), 0.0);
  auto corner = [&](int i, int j) { return j * (nx + 1) + i; };
  // Extra points on the horizontal side from (i, j) to (i + 1, j), by x.
  std::map<std::pair<int, int>, std::vector<std::pair<double, int>>> extra;
  auto add_extra = [&](int i, int j, double x) {
    points.emplace_back(x, double(j), 0.0);
    extra[{i, j}].emplace_back(x, int(points.size()) - 1);
    return int(points.size()) - 1;
  };
  std::vector<std::vector<int>> sliver_of(static_cast<std::size_t>(nx * ny));
  int candidates = 0;
  for (int j = 0; j < ny; ++j)
    for (int i = 0; i < nx; ++i) {
      if (every <= 0 || i % 3 != 1 || j % 3 != 1 || i + 1 >= nx || j + 1 >= ny) continue;
      if (candidates++ % every != 0) continue;
      if (kind == 0) {
        const int b = add_extra(i, j, i + 1 - width);
        const int t = add_extra(i, j + 1, i + 1 - width);
        sliver_of[j * nx + i] = {corner(i + 1, j), corner(i + 1, j + 1), t, b};
      } else {
        add_extra(i, j + 1, i + width);
      }
    }
  std::vector<std::vector<int>> faces;
  for (int j = 0; j < ny; ++j)
    for (int i = 0; i < nx; ++i) {
      std::vector<int> poly{corner(i, j)};
      auto bottom = extra.count({i, j}) ? extra[{i, j}] : std::vector<std::pair<double, int>>{};
      auto top = extra.count({i, j + 1}) ? extra[{i, j + 1}] : std::vector<std::pair<double, int>>{};
      const std::vector<int>& sliver = sliver_of[j * nx + i];
      if (!sliver.empty()) {
        // The cell keeps its part left of the strip; the strip is a face of its own.
        faces.push_back({corner(i, j), sliver[3], sliver[2], corner(i, j + 1)});
        faces.push_back(sliver);
        continue;
      }
      std::sort(bottom.begin(), bottom.end());
      for (const auto& [x, k] : bottom) poly.push_back(k);
      poly.push_back(corner(i + 1, j));
      poly.push_back(corner(i + 1, j + 1));
      std::sort(top.rbegin(), top.rend());
      for (const auto& [x, k] : top) poly.push_back(k);
      poly.push_back(corner(i, j + 1));
      faces.push_back(poly);
    }
  return make_polyhedron(points, faces);
}

BODY* make_polyline_wire(const std::vector<QELposition>& points) {
  std::vector<VERTEX*> vertices;
  for (const QELposition& p : points) vertices.push_back(new VERTEX(new APOINT(p)));
  std::vector<EDGE*> edges;
  for (std::size_t k = 0; k + 1 < points.size(); ++k) {
    const QELinterval range(0.0, distance(points[k], points[k + 1]));
    edges.push_back(new EDGE(vertices[k], vertices[k + 1],
                             make_curve(straight(points[k], normalise(points[k + 1] - points[k]))), FORWARD,
                             EDGE_cvty_unknown, &range));
  }
  BODY* body = nullptr;
  if (!api_make_ewire(int(edges.size()), edges.data(), body).ok()) throw std::runtime_error("api_make_ewire");
  return body;
}

std::string saved_text(const ENTITY* e) {
  ENTITY_LIST list;
  list.add(const_cast<ENTITY*>(e));
  FILE* fp = std::tmpfile();
  std::string text;
  if (api_save_entity_list(fp, 1, list).ok()) {
    std::rewind(fp);
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, fp)) > 0;) text.append(buf, n);
  }
  std::fclose(fp);
  const std::size_t dated = text.find('\n');
  return dated == std::string::npos ? text : text.substr(text.find('\n', dated + 1) + 1);
}

double body_area(const ENTITY* e) {
  ENTITY_LIST faces;
  api_get_faces(e, faces);
  double total = 0.0;
  for (int i = 0; i < faces.count(); ++i) total += ent_area_prop(faces[i], 1e-9).area();
  return total;
}

double polyhedron_volume(const BODY* b) {
  ENTITY_LIST loops;
  api_get_loops(b, loops);
  double six = 0.0;
  for (int i = 0; i < loops.count(); ++i) {
    std::vector<QELposition> p;
    const auto* l = static_cast<const LOOP*>(loops[i]);
    const COEDGE* c = l->start();
    do {
      p.push_back(c->start()->geometry()->coords());
      c = c->next();
    } while (c && c != l->start());
    const QELvector o = p[0] - QELposition();
    for (std::size_t k = 1; k + 1 < p.size(); ++k)
      six += o % ((p[k] - QELposition()) * (p[k + 1] - QELposition()));
  }
  return six / 6.0;
}

std::string check_findings(const ENTITY* e) {
  std::string text;
  insanity_list* found = nullptr;
  if (!api_check_entity(e, found).ok()) return "the check failed\n";
  for (int i = 0; found && i < found->count(); ++i)
    text += std::string(found->data(i)->get_ent()->type_name()) + ": " + found->data(i)->get_message() + "\n";
  delete found;
  std::string report;
  if (!velm_test_check_model(e, &report)) text += report;
  return text;
}

}  // namespace testkit
