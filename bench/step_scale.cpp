// The driver's STEP conversions of one flat sheet beside Open CASCADE's own
// STEP writer and reader, at sizes growing fourfold (4,000 to 64,000 faces,
// or up to the size given: `bench_step_scale 256000`):
// - write: `xvelm convert SHEET.vlt SHEET.step` (restore, export walk, shapes,
//   names/colours/layers document, STEP writer) against Open CASCADE building
//   the same sheet and writing it through its document writer with the same
//   settings;
// - read: `xvelm convert SHEET.step BACK.vlt` (STEP reader, source model,
//   import, the STEP recipe's healing, save) against Open CASCADE reading the
//   same file into its document (its reader heals as it transfers).
// Each runs in a fresh process of its own (this program started again), so
// that its peak resident size is its own; the table gives processor seconds
// and peak MB per run, ours / Open CASCADE's, and time(4N) / time(N) of every
// column, all from the one run.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <IFSelect_ReturnStatus.hxx>
#include <STEPCAFControl_Reader.hxx>
#include <TDocStd_Document.hxx>
#include <XCAFApp_Application.hxx>

#include "convert_runs.hxx"

namespace {

int occRead(const char* path)
{
    Handle(TDocStd_Document) doc;
    XCAFApp_Application::GetApplication()->NewDocument("MDTV-XCAF", doc);
    STEPCAFControl_Reader reader;
    reader.SetColorMode(Standard_True);
    reader.SetNameMode(Standard_True);
    reader.SetLayerMode(Standard_True);
    if (reader.ReadFile(path) != IFSelect_RetDone || !reader.Transfer(doc))
        return 1;
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    using bench::Cost;
    using bench::ratio;
    if (argc == 4 && std::strcmp(argv[1], "ours") == 0)
        return bench::convertRun(argv[2], argv[3]);
    if (argc == 4 && std::strcmp(argv[1], "occ-write") == 0)
        return bench::occWrite("step", bench::gridOf(std::strtol(argv[2], nullptr, 10)), argv[3]);
    if (argc == 3 && std::strcmp(argv[1], "occ-read") == 0)
        return occRead(argv[2]);

    long largest = 64000;
    if (argc > 1)
        largest = std::strtol(argv[1], nullptr, 10);
    const std::string selfPath = bench::selfPath();
    if (selfPath.empty())
        return 1;
    const std::string base = "/tmp/bench_step_scale_" + std::to_string(getpid());

    struct Row {
        int faces;
        Cost ourWrite, occWrite, ourRead, occRead;
    };
    std::vector<Row> rows;
    for (long n = 4000; n <= largest; n *= 4) {
        const bench::Grid g = bench::gridOf(n);
        const std::string vlt = base + ".vlt", step = base + ".step", back = base + "_back.vlt",
                          occStep = base + "_occ.step";
        if (!bench::saveSheet(g, vlt)) {
            std::fprintf(stderr, "the sheet could not be saved\n");
            return 1;
        }
        Row r{g.nx * g.ny, {}, {}, {}, {}};
        r.ourWrite = bench::runChild(selfPath.c_str(), {"ours", vlt, step});
        r.occWrite = bench::runChild(selfPath.c_str(), {"occ-write", std::to_string(n), occStep});
        r.ourRead = bench::runChild(selfPath.c_str(), {"ours", step, back});
        r.occRead = bench::runChild(selfPath.c_str(), {"occ-read", step});
        for (const std::string& f : {vlt, step, back, occStep})
            std::remove(f.c_str());
        std::printf("%7d faces: write %7.2f s %7.0f MB (peer %7.2f s %7.0f MB)   read %7.2f s %7.0f MB (peer %7.2f s "
                    "%7.0f MB)%s\n",
                    r.faces, r.ourWrite.seconds, r.ourWrite.mb, r.occWrite.seconds, r.occWrite.mb, r.ourRead.seconds,
                    r.ourRead.mb, r.occRead.seconds, r.occRead.mb,
                    r.ourWrite.ok && r.occWrite.ok && r.ourRead.ok && r.occRead.ok ? "" : "  (a run failed)");
        rows.push_back(r);
    }
    std::printf("\n%7s  %-23s %-23s | %-23s %-23s\n", "faces", "write time ours/peer", "write MB ours/peer",
                "read time ours/peer", "read MB ours/peer");
    for (const Row& r : rows)
        std::printf("%7d  %-23.2f %-23.2f | %-23.2f %-23.2f\n", r.faces, ratio(r.ourWrite.seconds, r.occWrite.seconds),
                    ratio(r.ourWrite.mb, r.occWrite.mb), ratio(r.ourRead.seconds, r.occRead.seconds),
                    ratio(r.ourRead.mb, r.occRead.mb));
    std::printf("\ngrowth time(4N)/time(N): %-10s %-10s %-10s %-10s\n", "write", "peer", "read", "peer");
    for (std::size_t i = 1; i < rows.size(); ++i) {
        const Row &a = rows[i - 1], &b = rows[i];
        std::printf("%7d -> %-7d        %-10.2f %-10.2f %-10.2f %-10.2f\n", a.faces, b.faces,
                    ratio(b.ourWrite.seconds, a.ourWrite.seconds), ratio(b.occWrite.seconds, a.occWrite.seconds),
                    ratio(b.ourRead.seconds, a.ourRead.seconds), ratio(b.occRead.seconds, a.occRead.seconds));
    }
    return 0;
}
