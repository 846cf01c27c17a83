// The trim road's face builder over the B-spline patches of a closed quilt
// (N = 128 to 8,192 faces): every face built by its own trimmed-face
// controller, as the source gives it (pcurves and curves) and with its 3-D
// curves dropped (each lifted from its pcurve). The time per face should not
// grow with N: each face is built from its own loops alone.
#include <benchmark/benchmark.h>

#include <vector>

#include "model/kernel_call_bracket.hxx"
#include "qelx/gk_import.hxx"
#include "qelx/test_exporters.hxx"
#include "qelx_velm/velm_document.hxx"
#include "support/quilt_builders.hxx"
#include "trim/trim_face_cntl.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

namespace {

void trimQuilt(benchmark::State& state, bool dropCurves)
{
    const int n = static_cast<int>(state.range(0));
    int side = 1;
    while (2 * side * side < n)
        side *= 2;
    qelx_test::TestModel model = testkit::lens_quilt(side, side);
    if (dropCurves)
        for (int e = 0; e < static_cast<int>(model.edges.size()); ++e)
            model.dropCurve(e);
    qelx_test::TestDocument document(model);
    qelx_test::TestBRepExporter source(&document);
    QELXVelmDocument target;
    Gk_ImportContext context(&target, &document);
    const int faces = static_cast<int>(document.model().faces.size());
    for (auto _ : state) {
        std::vector<FACE*> made;
        made.reserve(static_cast<std::size_t>(faces));
        for (int f = 0; f < faces; ++f) {
            Ve_TrimFaceCntl controller(&context);
            velmGuard([&] { controller.seed(source.id(qelx_test::KindFace, f), &source); });
            for (Ve_FaceTag* face : controller.getSheets())
                made.push_back(reinterpret_cast<FACE*>(face));
        }
        state.PauseTiming();
        for (FACE* face : made)
            api_del_entity(face);
        state.ResumeTiming();
    }
    state.counters["faces"] = faces;
    state.counters["s_per_face"] =
        benchmark::Counter(static_cast<double>(faces), benchmark::Counter::kIsIterationInvariantRate |
                                                           benchmark::Counter::kInvert);
}

void BM_TrimQuilt(benchmark::State& state) { trimQuilt(state, false); }
void BM_TrimQuiltFromPCurves(benchmark::State& state) { trimQuilt(state, true); }

} // namespace

// Faces 2 x side x side for side 8, 16, 32, 64.
BENCHMARK(BM_TrimQuilt)->Arg(128)->Arg(512)->Arg(2048)->Arg(8192)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TrimQuiltFromPCurves)->Arg(128)->Arg(512)->Arg(2048)->Arg(8192)->Unit(benchmark::kMillisecond);
