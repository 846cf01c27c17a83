// Stitching N loose faces back together: a shuffled sheet of planar quads
// (N = 100 to 10,000) and the B-spline patches of a closed quilt made through
// the trim road's face factory (N = 100 to 6,400); and the healing's joining
// of a closed box's faces, each a sheet body of its own (N = 1,000 to
// 16,000), into one solid. Only the stitching or joining is timed; time(4N) / time(N) shows how the cost grows (N log N or better
// means each coedge meets only the few that start near its end).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "heal/repair_utils.hxx"
#include "import/brep_importer.hxx"
#include "model/body_set.hxx"
#include "model/entity_views.hxx"
#include "qelx/gk_import.hxx"
#include "qelx/test_exporters.hxx"
#include "qelx_velm/velm_document.hxx"
#include "support/quilt_builders.hxx"
#include "support/repair_builders.hxx"
#include "trim/stitch_creator.hxx"
#include "trim/stitch_node.hxx"
#include "velm/topology_api.hxx"

namespace {

QELXDynamicArray<Ve_FaceTag*> tagsOf(const std::vector<FACE*>& faces)
{
    QELXDynamicArray<Ve_FaceTag*> out;
    for (FACE* f : faces)
        out.Add(ve_view<Ve_FaceTag>(f));
    return out;
}

// side x side unit quads in a gently waved sheet, in shuffled order.
std::vector<FACE*> shuffledSheet(int side)
{
    std::vector<QELposition> points;
    for (int j = 0; j <= side; ++j)
        for (int i = 0; i <= side; ++i)
            points.emplace_back(i, j, 0.0);
    std::vector<std::vector<int>> quads;
    for (int j = 0; j < side; ++j)
        for (int i = 0; i < side; ++i) {
            const int k = j * (side + 1) + i;
            quads.push_back({k, k + 1, k + side + 2, k + side + 1});
        }
    std::shuffle(quads.begin(), quads.end(), std::mt19937(11));
    return testkit::make_loose_polygon_faces(points, quads);
}

void BM_StitchShuffledSheet(benchmark::State& state)
{
    const int side = static_cast<int>(std::lround(std::sqrt(double(state.range(0)))));
    for (auto _ : state) {
        state.PauseTiming();
        const std::vector<FACE*> faces = shuffledSheet(side);
        state.ResumeTiming();
        Ve_StEnvelope(tagsOf(faces)).doMerge();
        state.PauseTiming();
        testkit::delete_loose_faces(faces);
        state.ResumeTiming();
    }
    state.counters["faces"] = double(side * side);
}

// The quilt's faces made by the face factory, as the trim road makes them.
std::vector<FACE*> quiltFaces(int nx, int ny)
{
    qelx_test::TestDocument document(testkit::lens_quilt(nx, ny));
    qelx_test::TestBRepExporter source(&document);
    QELXVelmDocument target;
    Gk_ImportContext context(&target, &document);
    QELXVelmBRepImporter importer;
    Ve_BaseStitchCreator creator(Ve_CocoonTagHandle(new Ve_CocoonTag()), &context, &importer);
    std::vector<FACE*> faces;
    for (int i = 0; i < 2 * nx * ny; ++i)
        faces.push_back(reinterpret_cast<FACE*>(creator.CreateFace(source.id(qelx_test::KindFace, i), &source)));
    return faces;
}

void BM_StitchSplineQuilt(benchmark::State& state)
{
    // 2 nx ny faces with nx = 2 ny.
    const int ny = static_cast<int>(std::lround(std::sqrt(double(state.range(0)) / 4.0)));
    for (auto _ : state) {
        state.PauseTiming();
        const std::vector<FACE*> faces = quiltFaces(2 * ny, ny);
        state.ResumeTiming();
        Ve_StEnvelope(tagsOf(faces)).doMerge();
        state.PauseTiming();
        testkit::delete_loose_faces(faces);
        state.ResumeTiming();
    }
    state.counters["faces"] = double(4 * ny * ny);
}

// The faces of a box whose sides are each cut into side x side unit quads,
// every face facing outwards and a sheet body of its own, in shuffled order.
std::vector<BODY*> looseBoxSheets(int side)
{
    const double l = side;
    const struct {
        QELposition origin;
        QELvector u, v; // u x v points out of the box
    } sides[] = {
        {{0, 0, 0}, {0, 1, 0}, {1, 0, 0}}, {{0, 0, l}, {1, 0, 0}, {0, 1, 0}}, {{0, 0, 0}, {1, 0, 0}, {0, 0, 1}},
        {{0, l, 0}, {0, 0, 1}, {1, 0, 0}}, {{0, 0, 0}, {0, 0, 1}, {0, 1, 0}}, {{l, 0, 0}, {0, 1, 0}, {0, 0, 1}},
    };
    std::vector<QELposition> points;
    std::vector<std::vector<int>> quads;
    for (const auto& s : sides) {
        const int first = static_cast<int>(points.size());
        for (int j = 0; j <= side; ++j)
            for (int i = 0; i <= side; ++i)
                points.push_back(s.origin + s.u * double(i) + s.v * double(j));
        for (int j = 0; j < side; ++j)
            for (int i = 0; i < side; ++i) {
                const int k = first + j * (side + 1) + i;
                quads.push_back({k, k + 1, k + side + 2, k + side + 1});
            }
    }
    std::shuffle(quads.begin(), quads.end(), std::mt19937(7));
    return testkit::make_loose_sheets(points, quads);
}

void BM_JoinLooseBoxSheets(benchmark::State& state)
{
    const int side = static_cast<int>(std::lround(std::sqrt(double(state.range(0)) / 6.0)));
    for (auto _ : state) {
        state.PauseTiming();
        const std::vector<BODY*> sheets = looseBoxSheets(side);
        Ve_CocoonTagHandle set(new Ve_CocoonTag());
        for (BODY* b : sheets)
            set->appendBody(reinterpret_cast<Ve_BodyTag*>(b));
        state.ResumeTiming();
        QELXVeRepairUtils::stitchSheetBodies(static_cast<Ve_CocoonTag*>(set));
        state.PauseTiming();
        if (set->getBodies().Count() != 1)
            state.SkipWithError("the box's faces were not joined into one body");
        for (Ve_BodyTag* b : set->getBodies())
            api_del_entity(reinterpret_cast<BODY*>(b));
        state.ResumeTiming();
    }
    state.counters["faces"] = double(6 * side * side);
}

} // namespace

BENCHMARK(BM_StitchShuffledSheet)->Arg(100)->Arg(400)->Arg(1600)->Arg(6400)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JoinLooseBoxSheets)->Arg(1000)->Arg(4000)->Arg(16000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StitchSplineQuilt)->Arg(100)->Arg(400)->Arg(1600)->Arg(6400)->Unit(benchmark::kMillisecond);
