// Classification of the loops of one planar face: a square periphery with a
// grid of 10 to 10,000 square holes. The per-hole time shows how the cost
// grows with the number of holes.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "loops/face_regions.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

namespace {

// A ring of straight edges through the points, in order.
LOOP* polygon(const std::vector<QELposition>& pts)
{
    std::vector<VERTEX*> v;
    for (const QELposition& p : pts)
        v.push_back(new VERTEX(new APOINT(p.x(), p.y(), p.z())));
    std::vector<COEDGE*> ring;
    for (std::size_t k = 0; k < v.size(); ++k) {
        const QELposition a = pts[k], b = pts[(k + 1) % pts.size()];
        const QELinterval range(0.0, distance(a, b));
        auto* e = new EDGE(v[k], v[(k + 1) % v.size()], new STRAIGHT(straight(a, QELunit_vector(b - a))), FORWARD,
                           EDGE_cvty_unknown, &range);
        ring.push_back(new COEDGE(e, FORWARD, nullptr, nullptr));
    }
    for (std::size_t k = 0; k < ring.size(); ++k) {
        ring[k]->set_next(ring[(k + 1) % ring.size()]);
        ring[(k + 1) % ring.size()]->set_previous(ring[k]);
    }
    return new LOOP(ring.front(), nullptr);
}

std::vector<QELposition> square(double x0, double y0, double side, bool ccw)
{
    std::vector<QELposition> p = {{x0, y0, 0}, {x0 + side, y0, 0}, {x0 + side, y0 + side, 0}, {x0, y0 + side, 0}};
    if (!ccw)
        std::swap(p[1], p[3]);
    return p;
}

BODY* face_with_holes(int holes)
{
    const int per_row = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(holes))));
    LOOP* first = polygon(square(0.0, 0.0, 3.0 * per_row + 1.0, true));
    LOOP* last = first;
    for (int i = 0; i < holes; ++i) {
        LOOP* hole = polygon(square(1.0 + 3.0 * (i % per_row), 1.0 + 3.0 * (i / per_row), 1.0, false));
        last->set_next(hole);
        last = hole;
    }
    auto* surface = new PLANE(plane(QELposition(), QELunit_vector(0.0, 0.0, 1.0)));
    return new BODY(new LUMP(new SHELL(new FACE(first, nullptr, surface, FORWARD), nullptr), nullptr));
}

void ClassifyHoles(benchmark::State& state)
{
    const int holes = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        BODY* body = face_with_holes(holes);
        state.ResumeTiming();
        Ve_FaceRegionHandle region(new Ve_PlanarFaceRegion(body->lump()->shell()->face()));
        const bool classified = region->classifyLoops();
        benchmark::DoNotOptimize(classified);
        if (!classified || region->count() != holes + 1 || !region->isClean())
            state.SkipWithError("the face did not classify as one periphery with its holes");
        state.PauseTiming();
        region = Ve_FaceRegionHandle();
        api_del_entity(body);
        state.ResumeTiming();
    }
    state.counters["per_hole"] = benchmark::Counter(static_cast<double>(holes), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

} // namespace

BENCHMARK(ClassifyHoles)->Arg(10)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(1);
