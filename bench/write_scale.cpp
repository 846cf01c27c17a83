// The driver's writes of one flat sheet as BREP, IGES and STEP beside Open
// CASCADE's own writers, at sizes growing fourfold (4,000 to 64,000 faces,
// or up to the size given: `bench_write_scale 256000`; `--formats brep,iges`
// narrows the kinds, `--sizes 64000,256000,400000` gives the sizes instead):
// - ours: `xvelm convert SHEET.vlt SHEET.KIND` (restore, export walk, shapes,
//   the writer's checks, names/colours/layers document, Open CASCADE writer);
// - peer: Open CASCADE building the same sheet and writing it with the same
//   settings (BRepTools for BREP, the document writers for IGES and STEP).
// With `--read` each file our write made is read back too:
// - ours: `xvelm convert SHEET.KIND BACK.vlt` (reader, source model, import,
//   the recipe's healing, kernel save);
// - peer: Open CASCADE reading the same file (BRepTools, its IGES and STEP
//   document readers, which heal as they transfer).
// `bench_write_scale sheet N SHEET.vlt` saves the sheet of about N faces
// alone (for a profiler's run of `xvelm convert`).
// The kind `json` is the neutral document: written by `xvelm convert`, read
// back by `xvelm import` (no peer; the peer columns stay empty).
// Each runs in a fresh process of its own (this program started again), so
// that its peak resident size is its own; the table gives processor seconds
// and peak MB per run, ours / Open CASCADE's, and time(4N) / time(N) of both,
// all from the one run.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <BRep_Builder.hxx>
#include <IFSelect_ReturnStatus.hxx>
#include <IGESCAFControl_Reader.hxx>
#include <STEPCAFControl_Reader.hxx>
#include <TDocStd_Document.hxx>
#include <TopoDS_Shape.hxx>
#include <XCAFApp_Application.hxx>

#include "convert_runs.hxx"

namespace {

// Open CASCADE reading a file of the kind as its readers take it; 0 when read.
int occRead(const std::string& kind, const char* path)
{
    if (kind == "brep") {
        TopoDS_Shape shape;
        BRep_Builder builder;
        return BRepTools::Read(shape, path, builder) && !shape.IsNull() ? 0 : 1;
    }
    Handle(TDocStd_Document) doc;
    XCAFApp_Application::GetApplication()->NewDocument("MDTV-XCAF", doc);
    if (kind == "iges") {
        IGESControl_Controller::Init();
        IGESCAFControl_Reader reader;
        reader.SetColorMode(Standard_True);
        reader.SetNameMode(Standard_True);
        reader.SetLayerMode(Standard_True);
        return reader.ReadFile(path) == IFSelect_RetDone && reader.Transfer(doc) ? 0 : 1;
    }
    STEPCAFControl_Reader reader;
    reader.SetColorMode(Standard_True);
    reader.SetNameMode(Standard_True);
    reader.SetLayerMode(Standard_True);
    return reader.ReadFile(path) == IFSelect_RetDone && reader.Transfer(doc) ? 0 : 1;
}

std::vector<std::string> commaList(const std::string& list)
{
    std::vector<std::string> items;
    for (std::size_t at = 0; at <= list.size();) {
        const std::size_t comma = std::min(list.find(',', at), list.size());
        if (comma > at)
            items.push_back(list.substr(at, comma - at));
        at = comma + 1;
    }
    return items;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "ours") == 0)
        return bench::convertRun(argv[2], argv[3]);
    if (argc == 5 && std::strcmp(argv[1], "occ-write") == 0)
        return bench::occWrite(argv[2], bench::gridOf(std::strtol(argv[3], nullptr, 10)), argv[4]);
    if (argc == 4 && std::strcmp(argv[1], "ours-import") == 0)
        return bench::importRun(argv[2], argv[3]);
    if (argc == 4 && std::strcmp(argv[1], "occ-read") == 0)
        return occRead(argv[2], argv[3]);
    // The sheet alone, for a profiler's run of `xvelm convert` on it.
    if (argc == 4 && std::strcmp(argv[1], "sheet") == 0)
        return bench::saveSheet(bench::gridOf(std::strtol(argv[2], nullptr, 10)), argv[3]) ? 0 : 1;

    long largest = 64000;
    std::vector<long> sizes;
    bool read = false;
    std::vector<std::string> kinds{"brep", "iges", "step"};
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--formats") == 0 && i + 1 < argc) {
            kinds = commaList(argv[++i]);
        } else if (std::strcmp(argv[i], "--sizes") == 0 && i + 1 < argc) {
            for (const std::string& n : commaList(argv[++i]))
                sizes.push_back(std::strtol(n.c_str(), nullptr, 10));
        } else if (std::strcmp(argv[i], "--read") == 0) {
            read = true;
        } else {
            largest = std::strtol(argv[i], nullptr, 10);
        }
    }
    if (sizes.empty())
        for (long n = 4000; n <= largest; n *= 4)
            sizes.push_back(n);
    const std::string self = bench::selfPath();
    if (self.empty())
        return 1;
    const std::string base = "/tmp/bench_write_scale_" + std::to_string(getpid());

    struct Row {
        int faces;
        bench::Cost ours, peer, ourRead, peerRead;
    };
    std::map<std::string, std::vector<Row>> rows;
    for (long n : sizes) {
        const bench::Grid g = bench::gridOf(n);
        const std::string vlt = base + ".vlt", back = base + "_back.vlt";
        if (!bench::saveSheet(g, vlt)) {
            std::fprintf(stderr, "the sheet could not be saved\n");
            return 1;
        }
        for (const std::string& kind : kinds) {
            const bool neutral = kind == "json";
            const std::string out = base + "." + kind, peerOut = base + "_occ." + kind;
            Row r{g.nx * g.ny, bench::runChild(self.c_str(), {"ours", vlt, out}), {}, {}, {}};
            if (!neutral)
                r.peer = bench::runChild(self.c_str(), {"occ-write", kind, std::to_string(n), peerOut});
            if (read) {
                r.ourRead = bench::runChild(self.c_str(), {neutral ? "ours-import" : "ours", out, back});
                if (!neutral)
                    r.peerRead = bench::runChild(self.c_str(), {"occ-read", kind, out});
            }
            for (const std::string& f : {out, peerOut, back})
                std::remove(f.c_str());
            const bool ok = r.ours.ok && (neutral || r.peer.ok) && (!read || (r.ourRead.ok && (neutral || r.peerRead.ok)));
            std::printf("%7d faces %-4s: write ours %7.2f s %7.0f MB peer %7.2f s %7.0f MB", r.faces, kind.c_str(),
                        r.ours.seconds, r.ours.mb, r.peer.seconds, r.peer.mb);
            if (read)
                std::printf("   read ours %7.2f s %7.0f MB peer %7.2f s %7.0f MB", r.ourRead.seconds, r.ourRead.mb,
                            r.peerRead.seconds, r.peerRead.mb);
            std::printf("%s\n", ok ? "" : "  (a run failed)");
            rows[kind].push_back(r);
        }
        std::remove(vlt.c_str());
    }
    for (const std::string& kind : kinds) {
        std::printf("\n%-4s %7s  %-10s %-10s | %-10s %-10s", kind.c_str(), "faces", "time o/p", "MB o/p", "growth",
                    "peer");
        if (read)
            std::printf(" || read: %-10s %-10s | %-10s %-10s", "time o/p", "MB o/p", "growth", "peer");
        std::printf("\n");
        const std::vector<Row>& rs = rows[kind];
        for (std::size_t i = 0; i < rs.size(); ++i) {
            // time(N) / time(previous N); nothing printed for the first size.
            const auto growth = [&](bench::Cost Row::*cost) {
                return i > 0 ? bench::ratio((rs[i].*cost).seconds, (rs[i - 1].*cost).seconds) : 0.0;
            };
            std::printf("     %7d  %-10.2f %-10.2f | %-10.2f %-10.2f", rs[i].faces,
                        bench::ratio(rs[i].ours.seconds, rs[i].peer.seconds), bench::ratio(rs[i].ours.mb, rs[i].peer.mb),
                        growth(&Row::ours), growth(&Row::peer));
            if (read)
                std::printf(" ||       %-10.2f %-10.2f | %-10.2f %-10.2f",
                            bench::ratio(rs[i].ourRead.seconds, rs[i].peerRead.seconds),
                            bench::ratio(rs[i].ourRead.mb, rs[i].peerRead.mb), growth(&Row::ourRead),
                            growth(&Row::peerRead));
            std::printf("\n");
        }
    }
    std::printf("\n(growth is time(N) / time(previous N): 4 for a fourfold step that stays linear)\n");
    return 0;
}
