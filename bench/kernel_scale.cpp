// The kernel stand-in side by side with Open CASCADE on the same sheet of N
// unit squares (shared edges with partner coedges, one line per edge, one plane
// per face), N = 1,000 to 400,000: build, walk, cache fill and walk, save,
// restore, copy and delete, timed in one run. Prints the times, the ratios
// (stand-in / Open CASCADE), the heap each model takes, the transient heap
// of copy and delete (the peak during the operation above what is held before
// and after it), and each operation's growth time(4N) / time(N) in both systems.
//
// `bench_kernel_scale first-restore N` saves a sheet of N faces, then restores
// it twice in a fresh process of its own and prints both times: the first
// restore meets an empty heap and empty tables, the later one what the first
// left behind. `bench_kernel_scale save N FILE` saves a sheet of N faces and
// prints its model heap (for measuring the driver on it). `bench_kernel_scale
// one OPERATION N [REPEATS] [--cold]` repeats one stand-in operation on a sheet of N
// faces (the caches emptied before each with `--cold`), for a profiler.
// `bench_kernel_scale heap FILE` restores a save file
// (a driver's output, say) and prints the heap its model takes.
//
// Every operation is timed `--runs K` times (3 by default) at every size, and
// up to eight times as often at the small sizes, and the median kept; `--cold`
// empties the caches before each timed run. A one-shot comparison rather than a Google Benchmark fixture:
// every figure of a row comes from the same process and the same model.
#include <malloc.h>

#include <algorithm>
#include <cctype>
#include <atomic>
#include <cerrno>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <BRepBuilderAPI_Copy.hxx>
#include <BRepTools.hxx>
#include <BRep_Builder.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedDataMapOfShapeListOfShape.hxx>
#include <TopTools_IndexedMapOfShape.hxx>

#include "model/document.hxx"
#include "model/entity_views.hxx"
#include "sheets.hxx"
#include "velm/save.hxx"

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

// Processor time of the process (user and system, page faults and file
// writes included): on a machine shared with other work, the wall clock
// mostly measures the others.
double cpu_now() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

template <class F>
double seconds(F&& f) {
  const double t0 = cpu_now();
  f();
  return cpu_now() - t0;
}

// How each figure is taken. Every operation runs a fixed number of times at
// every size and its median is kept: a best of many runs at the small sizes and
// one run at the large ones would flatter the small sizes and inflate the
// growth. With `cold`, the caches are emptied before every timed run (a buffer
// larger than the last-level cache is streamed through), so that each size
// starts from memory as a model touched for the first time does, and the
// growth measures the work rather than whether the model still fits a cache.
// Small sizes take more runs (up to `small_runs_cap` times as many, so that
// each size's runs together cover at least `runs * faces_per_round` faces):
// a sub-millisecond time is at the mercy of one interrupt, and the median of
// three of them moves the growth by more than the work does.
struct measuring {
  int runs = 3;
  bool cold = false;
  int runs_now = 3;  // for the size being measured
  static constexpr long faces_per_round = 64000;
  static constexpr int small_runs_cap = 8;
  void size_is(long faces) {
    const long wanted = (runs * faces_per_round + faces - 1) / std::max(1L, faces);
    runs_now = static_cast<int>(std::clamp<long>(wanted, runs, static_cast<long>(runs) * small_runs_cap));
  }
};
measuring how;

std::vector<unsigned char>& eviction_buffer() {
  static std::vector<unsigned char> buffer;
  if (buffer.empty()) {
    long llc = sysconf(_SC_LEVEL3_CACHE_SIZE);
    if (llc <= 0) llc = sysconf(_SC_LEVEL2_CACHE_SIZE);
    if (llc <= 0) llc = 32L << 20;
    buffer.assign(static_cast<std::size_t>(std::clamp(2 * llc, 64L << 20, 1024L << 20)), 1);
  }
  return buffer;
}

void empty_caches() {
  if (!how.cold) return;
  auto& buffer = eviction_buffer();
  unsigned sum = 0;
  for (std::size_t i = 0; i < buffer.size(); i += 64) {
    sum += buffer[i];
    buffer[i] = static_cast<unsigned char>(sum);
  }
  // The sum is kept where the compiler cannot drop the loop.
  asm volatile("" : : "r"(sum) : "memory");
}

// Median of how.runs_now timed runs of `timed`; `between` runs untimed after each
// (to put back what the run made, e.g. delete a restored body), the last run's
// included, unless `keep_last`.
template <class F, class G>
double median_of(F&& timed, G&& between, bool keep_last = false) {
  std::vector<double> times;
  for (int k = 0; k < how.runs_now; ++k) {
    empty_caches();
    times.push_back(seconds(timed));
    if (!keep_last || k + 1 < how.runs_now) between();
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

template <class F>
double median_of(F&& timed) {
  return median_of(timed, [] {});
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
struct figures {
  double build = 0, walk = 0, cache = 0, save = 0, restore = 0, copy = 0, del = 0;
  long long model = 0, copy_peak = 0, delete_peak = 0;
};

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v[v.size() / 2];
}

figures run_velm(int nx, int ny, const std::string& path, long long& checksum) {
  figures r;
  BODY* body = nullptr;
  long long before = heap::now.load();
  r.build = median_of([&] { body = bench::velm_sheet(nx, ny); },
                      [&] { require(api_del_entity(body), "api_del_entity"); }, true);
  r.model = heap::now.load() - before;

  r.walk = median_of([&] {
    ENTITY_LIST faces, edges, vertices;
    require(api_get_faces(body, faces), "api_get_faces");
    require(api_get_edges(body, edges), "api_get_edges");
    require(api_get_vertices(body, vertices), "api_get_vertices");
    checksum += faces.count() + edges.count() + vertices.count();
  });

  auto* view = reinterpret_cast<Ve_BodyTag*>(body);
  r.cache = median_of([&] {
    Ve_DocumentTag::FillCache(view);
    for (int i = 0, n = view->getNumberOfFaces(); i < n; ++i) checksum += view->getFaceAt(i) != nullptr;
    for (int i = 0, n = view->getNumberOfEdges(); i < n; ++i) checksum += view->getEdgeAt(i) != nullptr;
    Ve_DocumentTag::RemoveFromCache(view);
  });

  ENTITY_LIST top;
  top.add(body);
  // The file of the run before is removed untimed: truncating it inside the
  // timed open would charge the save for dropping the last run's pages.
  r.save = median_of(
      [&] {
        FILE* fp = std::fopen(path.c_str(), "w");
        require(api_save_entity_list(fp, 1, top), "api_save_entity_list");
        std::fclose(fp);
      },
      [&] { std::remove(path.c_str()); }, true);
  ENTITY_LIST restored;
  r.restore = median_of(
      [&] {
        FILE* fp = std::fopen(path.c_str(), "r");
        require(api_restore_entity_list(fp, 1, restored), "api_restore_entity_list");
        std::fclose(fp);
      },
      [&] {
        require(api_del_entity_list(restored), "api_del_entity_list");
        restored.clear();
      });

  // Copy and delete in pairs; the transient heap is the last pair's.
  BODY* copy = nullptr;
  std::vector<double> del_runs;
  r.copy = median_of([&] { require(api_copy_body(body, copy), "api_copy_body"); },
                     [&] {
                       empty_caches();
                       del_runs.push_back(seconds([&] { require(api_del_entity(copy), "api_del_entity"); }));
                     });
  r.copy_peak = transient([&] { require(api_copy_body(body, copy), "api_copy_body"); });
  r.delete_peak = transient([&] { require(api_del_entity(copy), "api_del_entity"); });
  r.del = median(del_runs);
  require(api_del_entity(body), "api_del_entity");
  return r;
}

figures run_occ(int nx, int ny, const std::string& path, long long& checksum) {
  figures r;
  TopoDS_Shape shape;
  long long before = heap::now.load();
  r.build = median_of([&] { shape = bench::occ_sheet(nx, ny); }, [&] { shape.Nullify(); }, true);
  r.model = heap::now.load() - before;

  r.walk = median_of([&] {
    for (TopAbs_ShapeEnum kind : {TopAbs_FACE, TopAbs_EDGE, TopAbs_VERTEX})
      for (TopExp_Explorer x(shape, kind); x.More(); x.Next()) ++checksum;
  });

  r.cache = median_of([&] {
    TopTools_IndexedMapOfShape faces, edges;
    TopTools_IndexedDataMapOfShapeListOfShape edge_faces;
    TopExp::MapShapes(shape, TopAbs_FACE, faces);
    TopExp::MapShapes(shape, TopAbs_EDGE, edges);
    TopExp::MapShapesAndAncestors(shape, TopAbs_EDGE, TopAbs_FACE, edge_faces);
    for (int i = 1; i <= faces.Extent(); ++i) checksum += !faces(i).IsNull();
    for (int i = 1; i <= edges.Extent(); ++i) checksum += !edges(i).IsNull();
  });

  r.save = median_of([&] { if (!BRepTools::Write(shape, path.c_str())) std::exit(1); },
                     [&] { std::remove(path.c_str()); }, true);
  r.restore = median_of([&] {
    TopoDS_Shape read;
    BRep_Builder b;
    if (!BRepTools::Read(read, path.c_str(), b)) std::exit(1);
    checksum += !read.IsNull();
  });

  TopoDS_Shape copy;
  std::vector<double> del_runs;
  auto copy_shape = [&] {
    BRepBuilderAPI_Copy c(shape);
    copy = c.Shape();
  };
  r.copy = median_of(copy_shape, [&] {
    empty_caches();
    del_runs.push_back(seconds([&] { copy.Nullify(); }));
  });
  r.copy_peak = transient(copy_shape);
  r.delete_peak = transient([&] { copy.Nullify(); });
  r.del = median(del_runs);
  shape.Nullify();
  return r;
}

double mb(long long bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

}  // namespace

// Restores the file twice in this process; prints both times.
int restore_twice(const char* path) {
  double times[2];
  for (double& t : times) {
    ENTITY_LIST restored;
    t = seconds([&] {
      FILE* fp = std::fopen(path, "r");
      require(api_restore_entity_list(fp, 1, restored), "api_restore_entity_list");
      std::fclose(fp);
    });
    require(api_del_entity_list(restored), "api_del_entity_list");
  }
  std::printf("first restore %.4f s, later restore %.4f s, first / later %.2f\n", times[0], times[1],
              times[0] / times[1]);
  return 0;
}

// Saves a sheet of about n faces to the file; its face count.
int save_sheet(long n, const std::string& path) {
  const int ny = std::max(1, static_cast<int>(std::sqrt(static_cast<double>(n) / 1.6)));
  const int nx = std::max(1, static_cast<int>(n / ny));
  const long long before = heap::now.load();
  BODY* body = bench::velm_sheet(nx, ny);
  const long long model = heap::now.load() - before;
  ENTITY_LIST top;
  top.add(body);
  FILE* fp = std::fopen(path.c_str(), "w");
  require(api_save_entity_list(fp, 1, top), "api_save_entity_list");
  std::fclose(fp);
  require(api_del_entity(body), "api_del_entity");
  std::printf("%d faces, model heap %.1f MB: ", nx * ny, mb(model));
  return nx * ny;
}

// Restores a save file and prints the heap its entities take.
int model_heap(const char* path) {
  ENTITY_LIST restored;
  const long long before = heap::now.load();
  FILE* fp = std::fopen(path, "r");
  if (!fp) {
    std::perror(path);
    return 1;
  }
  require(api_restore_entity_list(fp, 1, restored), "api_restore_entity_list");
  std::fclose(fp);
  std::printf("%s: %d entities, model heap %.1f MB\n", path, restored.count(), mb(heap::now.load() - before));
  require(api_del_entity_list(restored), "api_del_entity_list");
  return 0;
}

// Saves a sheet of about n faces, then restores it in a fresh process.
int first_restore(const char* self, long n) {
  const std::string path = "/tmp/xvelm_bench_" + std::to_string(getpid()) + "_first.vlt";
  save_sheet(n, path);
  std::fflush(stdout);
  pid_t child = fork();
  if (child == 0) {
    execl(self, self, "restore-twice", path.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  std::remove(path.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

// Builds a sheet of about n faces and repeats one stand-in operation (build,
// walk, cache, save, restore, copy, delete), for a profiler; prints the mean.
int one_operation(const std::string& op, long n, int repeats) {
  const int ny = std::max(1, static_cast<int>(std::sqrt(static_cast<double>(n) / 1.6)));
  const int nx = std::max(1, static_cast<int>(n / ny));
  const std::string path = "/tmp/xvelm_bench_" + std::to_string(getpid()) + "_one.vlt";
  BODY* body = bench::velm_sheet(nx, ny);
  ENTITY_LIST top;
  top.add(body);
  if (op == "restore") {
    FILE* fp = std::fopen(path.c_str(), "w");
    require(api_save_entity_list(fp, 1, top), "api_save_entity_list");
    std::fclose(fp);
  }
  long long checksum = 0;
  double total = 0;
  for (int k = 0; k < repeats; ++k) {
    empty_caches();
    if (op == "build") {
      BODY* b = nullptr;
      total += seconds([&] { b = bench::velm_sheet(nx, ny); });
      require(api_del_entity(b), "api_del_entity");
    } else if (op == "walk") {
      total += seconds([&] {
        ENTITY_LIST faces, edges, vertices;
        require(api_get_faces(body, faces), "api_get_faces");
        require(api_get_edges(body, edges), "api_get_edges");
        require(api_get_vertices(body, vertices), "api_get_vertices");
        checksum += faces.count() + edges.count() + vertices.count();
      });
    } else if (op == "cache") {
      auto* view = reinterpret_cast<Ve_BodyTag*>(body);
      total += seconds([&] {
        Ve_DocumentTag::FillCache(view);
        for (int i = 0, m = view->getNumberOfFaces(); i < m; ++i) checksum += view->getFaceAt(i) != nullptr;
        for (int i = 0, m = view->getNumberOfEdges(); i < m; ++i) checksum += view->getEdgeAt(i) != nullptr;
        Ve_DocumentTag::RemoveFromCache(view);
      });
    } else if (op == "save") {
      std::remove(path.c_str());  // untimed, as in the side-by-side run
      total += seconds([&] {
        FILE* fp = std::fopen(path.c_str(), "w");
        require(api_save_entity_list(fp, 1, top), "api_save_entity_list");
        std::fclose(fp);
      });
    } else if (op == "restore") {
      ENTITY_LIST restored;
      total += seconds([&] {
        FILE* fp = std::fopen(path.c_str(), "r");
        require(api_restore_entity_list(fp, 1, restored), "api_restore_entity_list");
        std::fclose(fp);
      });
      require(api_del_entity_list(restored), "api_del_entity_list");
    } else if (op == "copy" || op == "delete") {
      BODY* copy = nullptr;
      const double c = seconds([&] { require(api_copy_body(body, copy), "api_copy_body"); });
      const double d = seconds([&] { require(api_del_entity(copy), "api_del_entity"); });
      total += op == "copy" ? c : d;
    } else {
      std::fprintf(stderr, "unknown operation %s\n", op.c_str());
      return 2;
    }
  }
  require(api_del_entity(body), "api_del_entity");
  std::remove(path.c_str());
  std::printf("%s of %d faces: %.5f s (mean of %d)\n", op.c_str(), nx * ny, total / repeats, repeats);
  return checksum >= 0 ? 0 : 1;
}

int main(int argc, char** argv) {
  if (argc > 3 && std::strcmp(argv[1], "one") == 0) {
    if (std::strcmp(argv[argc - 1], "--cold") == 0) {
      how.cold = true;
      eviction_buffer();
      --argc;
    }
    return one_operation(argv[2], std::strtol(argv[3], nullptr, 10), argc > 4 ? std::atoi(argv[4]) : 1);
  }
  if (argc > 2 && std::strcmp(argv[1], "restore-twice") == 0) return restore_twice(argv[2]);
  if (argc > 2 && std::strcmp(argv[1], "heap") == 0) return model_heap(argv[2]);
  if (argc > 3 && std::strcmp(argv[1], "save") == 0) {
    save_sheet(std::strtol(argv[2], nullptr, 10), argv[3]);
    std::printf("saved to %s\n", argv[3]);
    return 0;
  }
  if (argc > 2 && std::strcmp(argv[1], "first-restore") == 0)
    return first_restore("/proc/self/exe", std::strtol(argv[2], nullptr, 10));
  // Side lengths giving N = 1,000 to 256,000 faces in fourfold steps, and 100,000 and
  // 400,000 (the last two a fourfold step of their own).
  std::vector<std::pair<int, int>> sizes = {{40, 25},   {80, 50},   {160, 100}, {320, 200},
                                            {400, 250}, {640, 400}, {800, 500}};
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--cold") == 0) {
      how.cold = true;
    } else if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      how.runs = std::max(1, std::atoi(argv[++i]));
    } else if (std::isdigit(static_cast<unsigned char>(argv[i][0]))) {
      sizes.resize(std::min<std::size_t>(sizes.size(), std::strtoul(argv[i], nullptr, 10)));
    } else {
      std::fprintf(stderr, "usage: %s [--cold] [--runs K] [sizes]\n", argv[0]);
      return 2;
    }
  }
  if (how.cold) eviction_buffer();  // before any model heap is measured
  std::printf("median of %d runs of every operation (up to %d at sizes under %ld faces), caches %s before each\n",
              how.runs, how.runs * measuring::small_runs_cap, measuring::faces_per_round,
              how.cold ? "emptied" : "as the run before left them");
  const std::string base = "/tmp/xvelm_bench_" + std::to_string(getpid());
  long long checksum = 0;
  std::vector<std::pair<int, figures>> kept, kept_occ;

  std::printf("%8s %-9s %9s %9s %9s %9s %9s %9s %9s %9s %9s %9s\n", "faces", "", "build", "walk", "cache",
              "save", "restore", "copy", "delete", "model MB", "copy+MB", "delete+MB");
  for (auto [nx, ny] : sizes) {
    how.size_is(static_cast<long>(nx) * ny);
    figures k = run_velm(nx, ny, base + ".vlt", checksum);
    figures o = run_occ(nx, ny, base + ".brep", checksum);
    auto row = [&](const char* who, const figures& f) {
      std::printf("%8d %-9s %9.4f %9.4f %9.4f %9.4f %9.4f %9.4f %9.4f %9.1f %9.1f %9.1f\n", nx * ny, who, f.build,
                  f.walk, f.cache, f.save, f.restore, f.copy, f.del, mb(f.model), mb(f.copy_peak), mb(f.delete_peak));
    };
    row("stand-in", k);
    row("OCC", o);
    kept.emplace_back(nx * ny, k);
    kept_occ.emplace_back(nx * ny, o);
    std::printf("%8s %-9s %9.2f %9.2f %9.2f %9.2f %9.2f %9.2f %9.2f %9.2f %9.2f %9.2f\n", "", "ratio", k.build / o.build,
                k.walk / o.walk, k.cache / o.cache, k.save / o.save, k.restore / o.restore, k.copy / o.copy,
                k.del / o.del, static_cast<double>(k.model) / static_cast<double>(o.model),
                static_cast<double>(k.copy_peak) / static_cast<double>(k.model),
                static_cast<double>(k.delete_peak) / static_cast<double>(k.model));
    std::fflush(stdout);
  }
  std::printf("(processor seconds; ratio row: stand-in / OCC, model MB stand-in / OCC, and the stand-in's\n"
              " transient copy and delete heap over its model's own size)\n");
  // Growth of each system's times over each fourfold step of the run.
  auto growth = [](const char* who, const std::vector<std::pair<int, figures>>& rows) {
    for (const auto& [n, f] : rows)
      for (const auto& [m, g] : rows)
        if (m == 4 * n)
          std::printf("%8d %-9s %9.2f %9.2f %9.2f %9.2f %9.2f %9.2f %9.2f %9.2f\n", m, who, g.build / f.build,
                      g.walk / f.walk, g.cache / f.cache, g.save / f.save, g.restore / f.restore, g.copy / f.copy,
                      g.del / f.del, static_cast<double>(g.model) / static_cast<double>(f.model));
  };
  growth("growth", kept);
  growth("OCC grow", kept_occ);
  std::printf("(growth rows: time(N) / time(N / 4) of the stand-in, then of Open CASCADE, and the model heap likewise)\n");
  std::remove((base + ".vlt").c_str());
  std::remove((base + ".brep").c_str());
  return checksum > 0 ? 0 : 1;
}
