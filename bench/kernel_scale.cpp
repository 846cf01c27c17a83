// The kernel stand-in side by side with Open CASCADE on the same sheet of N
// unit squares (shared edges with partner coedges, one line per edge, one plane
// per face), N = 1,000 to 100,000: build, walk, cache fill and walk, save,
// restore, copy and delete, timed in one run. Prints the times, the ratios
// (stand-in / Open CASCADE), the heap each model takes and the transient heap
// of copy and delete (the peak during the operation above what is held before
// and after it).
//
// A one-shot comparison rather than a Google Benchmark fixture: every figure
// of a row comes from the same process and the same model.
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include <BRepBuilderAPI_Copy.hxx>
#include <BRepTools.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <Geom_Line.hxx>
#include <Geom_Plane.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedDataMapOfShapeListOfShape.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Edge.hxx>
#include <TopoDS_Face.hxx>
#include <TopoDS_Shell.hxx>
#include <TopoDS_Vertex.hxx>
#include <TopoDS_Wire.hxx>

#include "model/document.hxx"
#include "model/entity_views.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/save.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

// ---------------------------------------------------------------------------
// Heap in use, through the C allocator that both systems end in.
extern "C" {
void* __libc_malloc(size_t);
void __libc_free(void*);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
}

namespace heap {
std::atomic<long long> now{0};
std::atomic<long long> peak{0};
void taken(void* p) {
  if (!p) return;
  long long n = now.fetch_add(static_cast<long long>(malloc_usable_size(p))) +
                static_cast<long long>(malloc_usable_size(p));
  long long seen = peak.load();
  while (n > seen && !peak.compare_exchange_weak(seen, n)) {
  }
}
void given(void* p) {
  if (p) now.fetch_sub(static_cast<long long>(malloc_usable_size(p)));
}
}  // namespace heap

extern "C" {
void* malloc(size_t n) {
  void* p = __libc_malloc(n);
  heap::taken(p);
  return p;
}
void free(void* p) {
  heap::given(p);
  __libc_free(p);
}
void* calloc(size_t n, size_t size) {
  void* p = __libc_calloc(n, size);
  heap::taken(p);
  return p;
}
void* realloc(void* p, size_t n) {
  heap::given(p);
  void* q = __libc_realloc(p, n);
  heap::taken(q ? q : (n ? p : nullptr));
  return q;
}
void* memalign(size_t alignment, size_t n) {
  void* p = __libc_memalign(alignment, n);
  heap::taken(p);
  return p;
}
void* aligned_alloc(size_t alignment, size_t n) { return memalign(alignment, n); }
int posix_memalign(void** out, size_t alignment, size_t n) {
  void* p = memalign(alignment, n);
  if (!p) return ENOMEM;
  *out = p;
  return 0;
}
}

namespace {

using clock_type = std::chrono::steady_clock;

template <class F>
double seconds(F&& f) {
  auto t0 = clock_type::now();
  f();
  return std::chrono::duration<double>(clock_type::now() - t0).count();
}

// Best of a few runs for the short operations on small models.
template <class F>
double best_of(int runs, F&& f) {
  double best = 1e300;
  for (int k = 0; k < runs; ++k) best = std::min(best, seconds(f));
  return best;
}

// Heap the operation holds at its peak beyond what is held before and after it.
template <class F>
long long transient(F&& f) {
  long long before = heap::now.load();
  heap::peak.store(before);
  f();
  return heap::peak.load() - std::max(before, heap::now.load());
}

void require(const outcome& o, const char* what) {
  if (!o.ok()) {
    std::fprintf(stderr, "%s failed\n", what);
    std::exit(1);
  }
}

// ---------------------------------------------------------------------------
// The sheet in the stand-in.
BODY* velm_sheet(int nx, int ny) {
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
  return new BODY(new LUMP(new SHELL(first)));
}

// The same sheet in Open CASCADE.
TopoDS_Shape occ_sheet(int nx, int ny) {
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

// ---------------------------------------------------------------------------
struct figures {
  double build = 0, walk = 0, cache = 0, save = 0, restore = 0, copy = 0, del = 0;
  long long model = 0, copy_peak = 0, delete_peak = 0;
};

figures run_velm(int nx, int ny, int runs, const std::string& path, long long& checksum) {
  figures r;
  BODY* body = nullptr;
  long long before = heap::now.load();
  r.build = seconds([&] { body = velm_sheet(nx, ny); });
  r.model = heap::now.load() - before;

  r.walk = best_of(runs, [&] {
    ENTITY_LIST faces, edges, vertices;
    require(api_get_faces(body, faces), "api_get_faces");
    require(api_get_edges(body, edges), "api_get_edges");
    require(api_get_vertices(body, vertices), "api_get_vertices");
    checksum += faces.count() + edges.count() + vertices.count();
  });

  auto* view = reinterpret_cast<Ve_BodyTag*>(body);
  r.cache = best_of(runs, [&] {
    Ve_DocumentTag::FillCache(view);
    for (int i = 0, n = view->getNumberOfFaces(); i < n; ++i) checksum += view->getFaceAt(i) != nullptr;
    for (int i = 0, n = view->getNumberOfEdges(); i < n; ++i) checksum += view->getEdgeAt(i) != nullptr;
    Ve_DocumentTag::RemoveFromCache(view);
  });

  ENTITY_LIST top;
  top.add(body);
  r.save = seconds([&] {
    FILE* fp = std::fopen(path.c_str(), "w");
    require(api_save_entity_list(fp, 1, top), "api_save_entity_list");
    std::fclose(fp);
  });
  ENTITY_LIST restored;
  r.restore = seconds([&] {
    FILE* fp = std::fopen(path.c_str(), "r");
    require(api_restore_entity_list(fp, 1, restored), "api_restore_entity_list");
    std::fclose(fp);
  });
  require(api_del_entity_list(restored), "api_del_entity_list");

  BODY* copy = nullptr;
  r.copy_peak = transient([&] { r.copy = seconds([&] { require(api_copy_body(body, copy), "api_copy_body"); }); });
  r.delete_peak = transient([&] { r.del = seconds([&] { require(api_del_entity(copy), "api_del_entity"); }); });
  require(api_del_entity(body), "api_del_entity");
  return r;
}

figures run_occ(int nx, int ny, int runs, const std::string& path, long long& checksum) {
  figures r;
  TopoDS_Shape shape;
  long long before = heap::now.load();
  r.build = seconds([&] { shape = occ_sheet(nx, ny); });
  r.model = heap::now.load() - before;

  r.walk = best_of(runs, [&] {
    for (TopAbs_ShapeEnum kind : {TopAbs_FACE, TopAbs_EDGE, TopAbs_VERTEX})
      for (TopExp_Explorer x(shape, kind); x.More(); x.Next()) ++checksum;
  });

  r.cache = best_of(runs, [&] {
    TopTools_IndexedMapOfShape faces, edges;
    TopTools_IndexedDataMapOfShapeListOfShape edge_faces;
    TopExp::MapShapes(shape, TopAbs_FACE, faces);
    TopExp::MapShapes(shape, TopAbs_EDGE, edges);
    TopExp::MapShapesAndAncestors(shape, TopAbs_EDGE, TopAbs_FACE, edge_faces);
    for (int i = 1; i <= faces.Extent(); ++i) checksum += !faces(i).IsNull();
    for (int i = 1; i <= edges.Extent(); ++i) checksum += !edges(i).IsNull();
  });

  r.save = seconds([&] {
    if (!BRepTools::Write(shape, path.c_str())) std::exit(1);
  });
  r.restore = seconds([&] {
    TopoDS_Shape read;
    BRep_Builder b;
    if (!BRepTools::Read(read, path.c_str(), b)) std::exit(1);
    checksum += !read.IsNull();
  });

  TopoDS_Shape copy;
  r.copy_peak = transient([&] {
    r.copy = seconds([&] {
      BRepBuilderAPI_Copy c(shape);
      copy = c.Shape();
    });
  });
  r.delete_peak = transient([&] { r.del = seconds([&] { copy.Nullify(); }); });
  shape.Nullify();
  return r;
}

double mb(long long bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

}  // namespace

int main(int argc, char** argv) {
  // Side lengths giving N = 1,000 to 100,000 faces in fourfold steps (and 100,000).
  std::vector<std::pair<int, int>> sizes = {{40, 25}, {80, 50}, {160, 100}, {320, 200}, {400, 250}};
  if (argc > 1) sizes.resize(std::min<std::size_t>(sizes.size(), std::strtoul(argv[1], nullptr, 10)));
  const std::string base = "/tmp/xvelm_bench_" + std::to_string(getpid());
  long long checksum = 0;

  std::printf("%8s %-9s %9s %9s %9s %9s %9s %9s %9s %9s %9s %9s\n", "faces", "", "build", "walk", "cache",
              "save", "restore", "copy", "delete", "model MB", "copy+MB", "delete+MB");
  for (auto [nx, ny] : sizes) {
    const int runs = std::max(1, 20000 / (nx * ny));
    figures k = run_velm(nx, ny, runs, base + ".vlt", checksum);
    figures o = run_occ(nx, ny, runs, base + ".brep", checksum);
    auto row = [&](const char* who, const figures& f) {
      std::printf("%8d %-9s %9.4f %9.4f %9.4f %9.4f %9.4f %9.4f %9.4f %9.1f %9.1f %9.1f\n", nx * ny, who, f.build,
                  f.walk, f.cache, f.save, f.restore, f.copy, f.del, mb(f.model), mb(f.copy_peak), mb(f.delete_peak));
    };
    row("stand-in", k);
    row("OCC", o);
    std::printf("%8s %-9s %9.2f %9.2f %9.2f %9.2f %9.2f %9.2f %9.2f %9.2f %9.2f %9.2f\n", "", "ratio", k.build / o.build,
                k.walk / o.walk, k.cache / o.cache, k.save / o.save, k.restore / o.restore, k.copy / o.copy,
                k.del / o.del, static_cast<double>(k.model) / static_cast<double>(o.model),
                static_cast<double>(k.copy_peak) / static_cast<double>(k.model),
                static_cast<double>(k.delete_peak) / static_cast<double>(k.model));
    std::fflush(stdout);
  }
  std::printf("(times in seconds; ratio row: stand-in / OCC, model MB stand-in / OCC, and the stand-in's\n"
              " transient copy and delete heap over its model's own size)\n");
  std::remove((base + ".vlt").c_str());
  std::remove((base + ".brep").c_str());
  return checksum > 0 ? 0 : 1;
}
