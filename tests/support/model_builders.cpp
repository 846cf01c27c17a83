// Geometry-free kernel models for tests.
#include "support/model_builders.hxx"

#include <cmath>
#include <numbers>
#include <map>
#include <stdexcept>
#include <vector>

#include "velm/geometry_entity.hxx"
#include "velm/testkit.hxx"

namespace testkit {
namespace {
void check(const outcome& o, const char* what) {
  if (!o.ok()) throw std::runtime_error(std::string(what) + " failed");
}

// The line from a to b at unit speed over [0, length]: a save of the model
// restores only where every edge between two vertices has a curve equation.
EDGE* straight_edge(VERTEX* a, VERTEX* b) {
  const QELposition from = a->geometry()->coords(), to = b->geometry()->coords();
  QELinterval range(0.0, distance(from, to));
  return new EDGE(a, b, new STRAIGHT(straight(from, QELunit_vector(to - from))), FORWARD, EDGE_cvty_unknown, &range);
}

// Faces over a shared set of points; edges are made on first use and the
// second face to use an edge joins its partner ring.
class face_builder {
 public:
  explicit face_builder(const std::vector<QELposition>& points) {
    for (const QELposition& p : points) vertices_.push_back(new VERTEX(new APOINT(p)));
  }

  // The points, counter-clockwise seen from the face's outside.
  FACE* face(const std::vector<int>& corners) {
    std::vector<COEDGE*> coedges;
    for (std::size_t k = 0; k < corners.size(); ++k) {
      int a = corners[k], b = corners[(k + 1) % corners.size()];
      EDGE* e = edge(a, b);
      auto* c = new COEDGE(e, e->start() == vertices_[a] ? FORWARD : REVERSED, nullptr, nullptr);
      if (COEDGE* first = e->coedge(); first != c) {
        c->set_partner(first->partner() ? first->partner() : first);
        first->set_partner(c);
      }
      coedges.push_back(c);
    }
    for (std::size_t k = 0; k < coedges.size(); ++k) {
      coedges[k]->set_next(coedges[(k + 1) % coedges.size()]);
      coedges[(k + 1) % coedges.size()]->set_previous(coedges[k]);
    }
    return new FACE(new LOOP(coedges.front(), nullptr), nullptr, new PLANE(plane_through(corners)), FORWARD);
  }

  // The plane of the corners, facing the side they run counter-clockwise
  // round (Newell's normal): a save of the model restores only where every
  // face's surface carries an equation.
  plane plane_through(const std::vector<int>& corners) const {
    QELvector normal(0.0, 0.0, 0.0);
    for (std::size_t k = 0; k < corners.size(); ++k) {
      const QELposition& a = vertices_[corners[k]]->geometry()->coords();
      const QELposition& b = vertices_[corners[(k + 1) % corners.size()]]->geometry()->coords();
      normal += QELvector((a.y() - b.y()) * (a.z() + b.z()), (a.z() - b.z()) * (a.x() + b.x()),
                          (a.x() - b.x()) * (a.y() + b.y()));
    }
    return plane(vertices_[corners.front()]->geometry()->coords(), QELunit_vector(normal));
  }

  // A lump of one shell holding the faces in order.
  LUMP* lump(const std::vector<FACE*>& faces) {
    for (std::size_t k = 0; k + 1 < faces.size(); ++k) faces[k]->set_next(faces[k + 1]);
    finish_vertices();
    return new LUMP(new SHELL(faces.front(), nullptr), nullptr);
  }

 private:
  EDGE* edge(int a, int b) {
    auto key = std::make_pair(std::min(a, b), std::max(a, b));
    EDGE*& e = edges_[key];
    if (!e) e = straight_edge(vertices_[a], vertices_[b]);
    return e;
  }

  // One reference per edge group at every vertex.
  void finish_vertices() {
    for (auto& [key, e] : edges_) {
      e->start()->add_edge(e);
      e->end()->add_edge(e);
    }
    for (VERTEX* v : vertices_) minimize_vertex_edges(v);
  }

  std::vector<VERTEX*> vertices_;
  std::map<std::pair<int, int>, EDGE*> edges_;
};

LUMP* box_lump(double dx, double dy, double dz, const QELposition& o) {
  std::vector<QELposition> p;
  const double corners[4][2] = {{0.0, 0.0}, {dx, 0.0}, {dx, dy}, {0.0, dy}};
  for (double z : {0.0, dz})
    for (const auto& c : corners) p.emplace_back(o.x() + c[0], o.y() + c[1], o.z() + z);
  face_builder b(p);
  std::vector<FACE*> faces = {b.face({0, 3, 2, 1}), b.face({4, 5, 6, 7}), b.face({0, 1, 5, 4}),
                              b.face({1, 2, 6, 5}), b.face({2, 3, 7, 6}), b.face({3, 0, 4, 7})};
  return b.lump(faces);
}

int count(outcome (*query)(const ENTITY*, ENTITY_LIST&), const ENTITY* e) {
  ENTITY_LIST list;
  check(query(e, list), "query");
  return list.iteration_count();
}
}  // namespace

BODY* make_box(double dx, double dy, double dz, const QELposition& origin) {
  return new BODY(box_lump(dx, dy, dz, origin));
}

BODY* make_sheet(int nx, int ny) {
  std::vector<QELposition> p;
  for (int j = 0; j <= ny; ++j)
    for (int i = 0; i <= nx; ++i) p.emplace_back(i, j, 0.0);
  face_builder b(p);
  std::vector<FACE*> faces;
  auto at = [&](int i, int j) { return j * (nx + 1) + i; };
  for (int j = 0; j < ny; ++j)
    for (int i = 0; i < nx; ++i)
      faces.push_back(b.face({at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i, j + 1)}));
  return new BODY(b.lump(faces));
}

BODY* make_wire_body(int n_edges, bool closed) {
  std::vector<VERTEX*> v;
  int n_points = closed ? n_edges : n_edges + 1;
  for (int k = 0; k < n_points; ++k) {
    double a = 2.0 * std::numbers::pi * k / n_edges;
    QELposition p = closed ? QELposition(10.0 * std::cos(a), 10.0 * std::sin(a), 0.0)
                           : QELposition(10.0 * k, 0.0, 0.0);
    v.push_back(new VERTEX(new APOINT(p)));
  }
  std::vector<EDGE*> edges;
  for (int k = 0; k < n_edges; ++k) edges.push_back(straight_edge(v[k], v[(k + 1) % n_points]));
  BODY* body = nullptr;
  check(api_make_ewire(n_edges, edges.data(), body), "api_make_ewire");
  return body;
}

BODY* make_vertex_body(const QELposition& at) {
  auto* v = new VERTEX(new APOINT(at));
  EDGE* e = new EDGE(v, v, nullptr, FORWARD);
  BODY* body = nullptr;
  check(api_make_ewire(1, &e, body), "api_make_ewire");
  return body;
}

EDGE* make_point_edge(const QELposition& at) {
  auto* v = new VERTEX(new APOINT(at));
  auto* e = new EDGE(v, v, nullptr, FORWARD);
  v->add_edge(e);
  return e;
}

LOOP* add_one_coedge_loop(FACE* face, EDGE* edge, sense_type sense) {
  auto* c = new COEDGE(edge, sense, nullptr, nullptr);
  c->set_next(c);
  c->set_previous(c);
  auto* loop = new LOOP(c, nullptr);
  loop->set_face(face);
  LOOP* last = face->loop();
  if (!last) {
    face->set_loop(loop);
    return loop;
  }
  while (last->next())
    last = last->next();
  last->set_next(loop);
  return loop;
}

BODY* make_two_lump_body() {
  LUMP* first = box_lump(10.0, 10.0, 10.0, QELposition());
  first->set_next(box_lump(5.0, 5.0, 5.0, QELposition(20.0, 0.0, 0.0)));
  return new BODY(first);
}

int count_faces(const ENTITY* e) { return count(api_get_faces, e); }
int count_edges(const ENTITY* e) { return count(api_get_edges, e); }
int count_vertices(const ENTITY* e) { return count(api_get_vertices, e); }
int count_coedges(const ENTITY* e) { return count(api_get_coedges, e); }
int count_loops(const ENTITY* e) { return count(api_get_loops, e); }
int count_shells(const ENTITY* e) { return count(api_get_shells, e); }
int count_lumps(const ENTITY* e) { return count(api_get_lumps, e); }
int count_wires(const ENTITY* e) { return count(api_get_wires, e); }

std::string model_problems(const ENTITY* root) {
  std::string report;
  velm_test_check_model(root, &report);
  return report;
}

}  // namespace testkit
