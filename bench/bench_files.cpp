// Real files side by side with Open CASCADE, in one run, per model:
// - read_heal: a STEP file read and healed into the kernel through the
//   connector (the framework's reader, the B-rep importer, the STEP recipe)
//   against Open CASCADE's STEPControl_Reader transfer and ShapeFix_Shape;
// - round_trip: the kernel bodies walked through the connector's exporter and
//   built and written as a BREP file, against BRepBuilderAPI_Copy of the
//   peer's shape written the same way.
// The models: the STEP samples of Debian's occt-misc, our own example, and a
// few of the BREP samples written as STEP by Open CASCADE at start-up. The
// ratios (connector / peer) are printed per model at the end; the goal for
// read_heal is 1.5 or less.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

#include <BRepBuilderAPI_Copy.hxx>
#include <BRepTools.hxx>
#include <BRep_Builder.hxx>
#include <Message.hxx>
#include <Message_PrinterOStream.hxx>
#include <STEPControl_Reader.hxx>
#include <STEPControl_Writer.hxx>
#include <ShapeFix_Shape.hxx>

#include "../tools/xvelm/body_measures.hxx"
#include "../tools/xvelm/import_verb.hxx"
#include "qelx_formats/cad_file.hxx"

namespace fs = std::filesystem;

namespace {

const char* const kSamples = "/usr/share/opencascade/data";

struct Model {
    std::string name, step;
};

fs::path scratch()
{
    static const fs::path dir = fs::temp_directory_path() / ("bench_files_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    return dir;
}

std::vector<Model> models()
{
    std::vector<Model> out;
    for (const char* s : {"step/screw.step", "step/linkrods.step"})
        if (fs::exists(fs::path(kSamples) / s))
            out.push_back({fs::path(s).stem().string(), (fs::path(kSamples) / s).string()});
    const fs::path example = fs::path(XVELM_EXAMPLES_DIR) / "bracket.step";
    if (fs::exists(example))
        out.push_back({"bracket", example.string()});
    // BREP samples as STEP files, written by the peer.
    for (const char* b : {"occ/Pump_Nut.brep", "occ/CrankArm.brep", "occ/Motor-c.brep", "occ/Bottom.brep"}) {
        const fs::path brep = fs::path(kSamples) / b;
        if (!fs::exists(brep))
            continue;
        TopoDS_Shape shape;
        BRep_Builder builder;
        if (!BRepTools::Read(shape, brep.c_str(), builder))
            continue;
        const fs::path step = scratch() / (brep.stem().string() + ".step");
        STEPControl_Writer writer;
        if (writer.Transfer(shape, STEPControl_AsIs) == IFSelect_RetDone && writer.Write(step.c_str()) == IFSelect_RetDone)
            out.push_back({brep.stem().string(), step.string()});
    }
    return out;
}

// The connector's read and heal of a STEP file into `target`.
bool connectorRead(const std::string& path, QELXVelmDocument& target)
{
    qelx_test::TestModel model;
    std::string error;
    if (qelx_formats::readCadFile(path, model, error) != QELI_OK)
        return false;
    xvelm::ImportCounts counts;
    std::string failure;
    return xvelm::prepare_import_target(target, model.xType, failure) &&
           xvelm::import_model(std::move(model), target, counts, failure);
}

TopoDS_Shape peerRead(const std::string& path)
{
    STEPControl_Reader reader;
    if (reader.ReadFile(path.c_str()) != IFSelect_RetDone || reader.TransferRoots() == 0)
        return {};
    ShapeFix_Shape fix(reader.OneShape());
    fix.Perform();
    return fix.Shape();
}

void readHealConnector(benchmark::State& state, const std::string& path)
{
    for (auto _ : state) {
        QELXVelmDocument target;
        if (!connectorRead(path, target))
            state.SkipWithError("the connector could not read it");
    }
}

void readHealPeer(benchmark::State& state, const std::string& path)
{
    for (auto _ : state) {
        const TopoDS_Shape shape = peerRead(path);
        if (shape.IsNull())
            state.SkipWithError("the peer could not read it");
        benchmark::DoNotOptimize(shape);
    }
}

void roundTripConnector(benchmark::State& state, const std::string& path)
{
    QELXVelmDocument target;
    if (!connectorRead(path, target)) {
        state.SkipWithError("the connector could not read it");
        return;
    }
    const std::string out = (scratch() / "connector.brep").string();
    for (auto _ : state) {
        qelx_test::TestModel walked;
        xvelm::ExportCounts counts;
        std::string failure, error;
        std::vector<const BODY*> bodies;
        ENTITY_LIST* top = target.GetNativeEntityList();
        if (!top || !xvelm::walk_document(*top, walked, counts, failure, qelx_test::kWalkAllAttributes, &bodies)) {
            state.SkipWithError("the round trip failed");
            continue;
        }
        // As the driver writes: held against the kernel's measures.
        const qelx_formats::CadSourceMeasures measures = xvelm::kernel_measures(bodies, walked);
        if (qelx_formats::writeCadFile(walked, out, error, nullptr, &measures) != QELI_OK)
            state.SkipWithError("the round trip failed");
    }
}

void roundTripPeer(benchmark::State& state, const std::string& path)
{
    const TopoDS_Shape shape = peerRead(path);
    const std::string out = (scratch() / "peer.brep").string();
    for (auto _ : state) {
        const TopoDS_Shape copy = BRepBuilderAPI_Copy(shape).Shape();
        if (!BRepTools::Write(copy, out.c_str()))
            state.SkipWithError("the peer could not write it");
    }
}

// Keeps every run's time per iteration and prints the ratios at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (!run.error_occurred && run.iterations > 0)
                m_seconds[run.benchmark_name()] = run.real_accumulated_time / static_cast<double>(run.iterations);
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        std::printf("\n%-14s %14s %14s\n", "model", "read_heal", "round_trip");
        std::map<std::string, std::pair<double, double>> ratios;
        for (const auto& [name, seconds] : m_seconds) {
            // name: <what>/connector/<model> or <what>/peer/<model>
            const auto a = name.find('/'), b = name.find('/', a + 1);
            if (a == std::string::npos || b == std::string::npos || name.substr(a + 1, b - a - 1) != "connector")
                continue;
            const std::string what = name.substr(0, a), model = name.substr(b + 1);
            const auto peer = m_seconds.find(what + "/peer/" + model);
            if (peer == m_seconds.end() || peer->second <= 0.0)
                continue;
            (what == "read_heal" ? ratios[model].first : ratios[model].second) = seconds / peer->second;
        }
        for (const auto& [model, r] : ratios)
            std::printf("%-14s %13.2fx %13.2fx\n", model.c_str(), r.first, r.second);
        std::fflush(stdout);
    }

private:
    std::map<std::string, double> m_seconds;
};

} // namespace

int main(int argc, char** argv)
{
    Message::DefaultMessenger()->RemovePrinters(STANDARD_TYPE(Message_PrinterOStream));
    const std::vector<Model> all = models();
    // Both readers set up their data-exchange tables once per process: not
    // the first model's cost.
    if (!all.empty()) {
        QELXVelmDocument warm;
        connectorRead(all.front().step, warm);
        peerRead(all.front().step);
    }
    for (const Model& m : all) {
        benchmark::RegisterBenchmark(("read_heal/connector/" + m.name).c_str(), readHealConnector, m.step)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("read_heal/peer/" + m.name).c_str(), readHealPeer, m.step)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("round_trip/connector/" + m.name).c_str(), roundTripConnector, m.step)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("round_trip/peer/" + m.name).c_str(), roundTripPeer, m.step)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    fs::remove_all(scratch());
    return 0;
}
