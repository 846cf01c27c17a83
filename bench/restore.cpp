// Restoring a large kernel save file (about 50 MB: a sheet of plane faces
// with straight edges and points), in time and peak memory, beside Open
// CASCADE reading its own BREP file of a shape with the same number of faces.
//
// Each read runs in a child process; peak memory is the rise of its resident
// high-water mark during the read, in MB.
#include <benchmark/benchmark.h>

#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepTools.hxx>
#include <BRep_Builder.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS_Compound.hxx>
#include <gp_Pln.hxx>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "velm/api.hxx"
#include "velm/bb.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/save.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

namespace {

constexpr int kSide = 258;  // faces per side: 66,564 faces, a save file of about 50 MB

long resident_kb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::string(field).size()));
  return 0;
}

struct measured {
  double seconds = 0.0;
  double peak_mb = 0.0;  // rise of the resident high-water mark
  bool ok = false;
};

// Runs `work` once in a child process, so that neither what the parent freed
// before (and its allocator keeps) nor its earlier peak hides the memory the
// work takes.
template <class Work>
measured in_child(Work work) {
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) return {};
  const pid_t child = fork();
  if (child == 0) {
    close(pipe_ends[0]);
    std::ofstream("/proc/self/clear_refs") << "5";
    const long start = resident_kb("VmRSS:");
    const auto t0 = std::chrono::steady_clock::now();
    measured m;
    m.ok = work();
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    m.peak_mb = static_cast<double>(resident_kb("VmHWM:") - start) / 1024.0;
    const ssize_t written = write(pipe_ends[1], &m, sizeof m);
    _exit(written == static_cast<ssize_t>(sizeof m) ? 0 : 1);
  }
  close(pipe_ends[1]);
  measured m;
  if (read(pipe_ends[0], &m, sizeof m) != static_cast<ssize_t>(sizeof m)) m = {};
  close(pipe_ends[0]);
  waitpid(child, nullptr, 0);
  return m;
}

void report(benchmark::State& state, const measured& m, const std::string& path, int faces) {
  if (!m.ok) state.SkipWithError("the read failed");
  state.SetIterationTime(m.seconds);
  std::ifstream in(path, std::ios::ate | std::ios::binary);
  state.counters["file_MB"] = static_cast<double>(in.tellg()) / (1 << 20);
  state.counters["faces"] = faces;
  state.counters["peak_MB"] = m.peak_mb;
}

// A flat sheet of kSide x kSide unit squares in one shell, every face on its
// own plane, every edge on its own straight line, shared edges with partners.
BODY* make_sheet() {
  const int n = kSide + 1;
  std::vector<VERTEX*> v;
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) v.push_back(new VERTEX(new APOINT(i, j, 0.0)));
  const auto at = [n](int i, int j) { return j * n + i; };
  std::vector<EDGE*> along(n * n, nullptr), up(n * n, nullptr);
  const QELinterval unit(0.0, 1.0);
  const auto edge = [&](int a, int b) {
    const QELposition p = v[a]->geometry()->coords(), q = v[b]->geometry()->coords();
    EDGE* e = new EDGE(v[a], v[b], new STRAIGHT(straight(p, QELunit_vector(q - p))), FORWARD, EDGE_cvty_unknown, &unit);
    v[b]->add_edge(e);
    return e;
  };
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) {
      if (i + 1 < n) along[at(i, j)] = edge(at(i, j), at(i + 1, j));
      if (j + 1 < n) up[at(i, j)] = edge(at(i, j), at(i, j + 1));
    }
  FACE* faces = nullptr;
  for (int j = kSide - 1; j >= 0; --j)
    for (int i = kSide - 1; i >= 0; --i) {
      EDGE* e[4] = {along[at(i, j)], up[at(i + 1, j)], along[at(i, j + 1)], up[at(i, j)]};
      const sense_type s[4] = {FORWARD, FORWARD, REVERSED, REVERSED};
      COEDGE* c[4];
      for (int k = 0; k < 4; ++k) c[k] = new COEDGE(e[k], s[k], nullptr, nullptr);
      for (int k = 0; k < 4; ++k) {
        c[k]->set_next(c[(k + 1) % 4]);
        c[k]->set_previous(c[(k + 3) % 4]);
        if (COEDGE* other = e[k]->coedge(); other != c[k]) {
          c[k]->set_partner(other);
          other->set_partner(c[k]);
        }
      }
      faces = new FACE(new LOOP(c[0], nullptr), faces,
                       new PLANE(plane(QELposition(i, j, 0.0), QELunit_vector(0.0, 0.0, 1.0))), FORWARD);
    }
  return new BODY(new LUMP(new SHELL(faces, nullptr), nullptr));
}

const std::string kSavePath = "/tmp/xvelm_bench_restore.vlt";

void RestoreSaveFile(benchmark::State& state) {
  // Made in a child too, so that the model's memory is not the reader's.
  in_child([] {
    BODY* sheet = make_sheet();
    ENTITY_LIST list;
    list.add(sheet);
    FILE* fp = std::fopen(kSavePath.c_str(), "w");
    const bool ok = api_save_entity_list(fp, 1, list).ok();
    std::fclose(fp);
    return ok;
  });
  for (auto _ : state) {
    const measured m = in_child([] {
      FILE* fp = std::fopen(kSavePath.c_str(), "r");
      ENTITY_LIST restored;
      const bool ok = fp && api_restore_entity_list(fp, 1, restored).ok();
      if (fp) std::fclose(fp);
      return ok;
    });
    report(state, m, kSavePath, kSide * kSide);
  }
}
BENCHMARK(RestoreSaveFile)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

// The same number of planar faces in Open CASCADE's own text format.
void OccReadBrepFile(benchmark::State& state) {
  const std::string path = "/tmp/xvelm_bench_restore.brep";
  in_child([&] {
    BRep_Builder builder;
    TopoDS_Compound all;
    builder.MakeCompound(all);
    for (int j = 0; j < kSide; ++j)
      for (int i = 0; i < kSide; ++i)
        builder.Add(all, BRepBuilderAPI_MakeFace(gp_Pln(), i, i + 1.0, j, j + 1.0).Face());
    return BRepTools::Write(all, path.c_str());
  });
  for (auto _ : state) {
    const measured m = in_child([&] {
      TopoDS_Shape shape;
      BRep_Builder builder;
      return BRepTools::Read(shape, path.c_str(), builder);
    });
    report(state, m, path, kSide * kSide);
  }
}
BENCHMARK(OccReadBrepFile)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

}  // namespace
