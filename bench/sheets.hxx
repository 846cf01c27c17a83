// The same flat sheet of nx x ny unit squares in the kernel stand-in and in
// Open CASCADE, for the benchmarks that compare the two: shared edges with
// partner coedges, one line per edge, one plane per face.
#pragma once

#include <vector>

#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <Geom_Line.hxx>
#include <Geom_Plane.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Edge.hxx>
#include <TopoDS_Face.hxx>
#include <TopoDS_Shell.hxx>
#include <TopoDS_Vertex.hxx>
#include <TopoDS_Wire.hxx>

#include "velm/geometry_entity.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

namespace bench {
// The sheet in the stand-in.
inline BODY* velm_sheet(int nx, int ny) {
  const int n = nx + 1;
  std::vector<VERTEX*> v;
  for (int j = 0; j <= ny; ++j)
    for (int i = 0; i <= nx; ++i) v.push_back(new VERTEX(new APOINT(i, j, 0.0)));
  const auto at = [n](int i, int j) { return j * n + i; };
  std::vector<EDGE*> along(static_cast<std::size_t>(n * (ny + 1)), nullptr);
  std::vector<EDGE*> up(static_cast<std::size_t>(n * (ny + 1)), nullptr);
  const QELinterval unit(0.0, 1.0);
  const auto edge = [&](int a, int b, const QELunit_vector& dir) {
    const QELposition& p = v[a]->geometry()->coords();
    EDGE* e = new EDGE(v[a], v[b], new STRAIGHT(straight(p, dir)), FORWARD, EDGE_cvty_unknown, &unit);
    return e;
  };
  for (int j = 0; j <= ny; ++j)
    for (int i = 0; i <= nx; ++i) {
      if (i < nx) along[at(i, j)] = edge(at(i, j), at(i + 1, j), QELunit_vector(1, 0, 0));
      if (j < ny) up[at(i, j)] = edge(at(i, j), at(i, j + 1), QELunit_vector(0, 1, 0));
    }
  FACE* first = nullptr;
  FACE* last = nullptr;
  for (int j = 0; j < ny; ++j)
    for (int i = 0; i < nx; ++i) {
      COEDGE* ring[4] = {new COEDGE(along[at(i, j)], FORWARD), new COEDGE(up[at(i + 1, j)], FORWARD),
                         new COEDGE(along[at(i, j + 1)], REVERSED), new COEDGE(up[at(i, j)], REVERSED)};
      for (int k = 0; k < 4; ++k) {
        ring[k]->set_next(ring[(k + 1) % 4]);
        ring[(k + 1) % 4]->set_previous(ring[k]);
        COEDGE* on_edge = ring[k]->edge()->coedge();
        if (on_edge != ring[k]) {
          on_edge->set_partner(ring[k]);
          ring[k]->set_partner(on_edge);
        }
      }
      auto* surface = new PLANE(plane(QELposition(i, j, 0.0), QELunit_vector(0, 0, 1)));
      FACE* f = new FACE(new LOOP(ring[0]), nullptr, surface, FORWARD);
      if (last)
        last->set_next(f);
      else
        first = f;
      last = f;
    }
  // As the body builders finish: each vertex refers to one edge per group.
  for (VERTEX* vertex : v) minimize_vertex_edges(vertex);
  return new BODY(new LUMP(new SHELL(first)));
}

// The same sheet in Open CASCADE.
inline TopoDS_Shape occ_sheet(int nx, int ny) {
  BRep_Builder b;
  const int n = nx + 1;
  const double tol = 1e-7;
  std::vector<TopoDS_Vertex> v(static_cast<std::size_t>(n * (ny + 1)));
  for (int j = 0; j <= ny; ++j)
    for (int i = 0; i <= nx; ++i) b.MakeVertex(v[j * n + i], gp_Pnt(i, j, 0.0), tol);
  const auto at = [n](int i, int j) { return j * n + i; };
  std::vector<TopoDS_Edge> along(v.size()), up(v.size());
  const auto edge = [&](int a, int c, const gp_Dir& dir) {
    TopoDS_Edge e;
    b.MakeEdge(e, new Geom_Line(BRep_Tool::Pnt(v[a]), dir), tol);
    b.Add(e, v[a].Oriented(TopAbs_FORWARD));
    b.Add(e, v[c].Oriented(TopAbs_REVERSED));
    b.Range(e, 0.0, 1.0);
    return e;
  };
  for (int j = 0; j <= ny; ++j)
    for (int i = 0; i <= nx; ++i) {
      if (i < nx) along[at(i, j)] = edge(at(i, j), at(i + 1, j), gp_Dir(1, 0, 0));
      if (j < ny) up[at(i, j)] = edge(at(i, j), at(i, j + 1), gp_Dir(0, 1, 0));
    }
  TopoDS_Shell shell;
  b.MakeShell(shell);
  for (int j = 0; j < ny; ++j)
    for (int i = 0; i < nx; ++i) {
      TopoDS_Wire w;
      b.MakeWire(w);
      b.Add(w, along[at(i, j)]);
      b.Add(w, up[at(i + 1, j)]);
      b.Add(w, along[at(i, j + 1)].Reversed());
      b.Add(w, up[at(i, j)].Reversed());
      TopoDS_Face f;
      b.MakeFace(f, new Geom_Plane(gp_Pnt(i, j, 0.0), gp_Dir(0, 0, 1)), tol);
      b.Add(f, w);
      b.Add(shell, f);
    }
  return shell;
}

}  // namespace bench
