// The driver's writes of one flat sheet as BREP, IGES and STEP beside Open
// CASCADE's own writers, at sizes growing fourfold (4,000 to 64,000 faces,
// or up to the size given: `bench_write_scale 256000`; `--formats brep,iges`
// narrows the kinds):
// - ours: `xvelm convert SHEET.vlt SHEET.KIND` (restore, export walk, shapes,
//   the writer's checks, names/colours/layers document, Open CASCADE writer);
// - peer: Open CASCADE building the same sheet and writing it with the same
//   settings (BRepTools for BREP, the document writers for IGES and STEP).
// Each runs in a fresh process of its own (this program started again), so
// that its peak resident size is its own; the table gives processor seconds
// and peak MB per run, ours / Open CASCADE's, and time(4N) / time(N) of both,
// all from the one run.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "convert_runs.hxx"

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "ours") == 0)
        return bench::convertRun(argv[2], argv[3]);
    if (argc == 5 && std::strcmp(argv[1], "occ-write") == 0)
        return bench::occWrite(argv[2], bench::gridOf(std::strtol(argv[3], nullptr, 10)), argv[4]);

    long largest = 64000;
    std::vector<std::string> kinds{"brep", "iges", "step"};
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--formats") == 0 && i + 1 < argc) {
            kinds.clear();
            std::string list = argv[++i];
            for (std::size_t at = 0; at <= list.size();) {
                const std::size_t comma = std::min(list.find(',', at), list.size());
                if (comma > at)
                    kinds.push_back(list.substr(at, comma - at));
                at = comma + 1;
            }
        } else {
            largest = std::strtol(argv[i], nullptr, 10);
        }
    }
    const std::string self = bench::selfPath();
    if (self.empty())
        return 1;
    const std::string base = "/tmp/bench_write_scale_" + std::to_string(getpid());

    struct Row {
        int faces;
        bench::Cost ours, peer;
    };
    std::map<std::string, std::vector<Row>> rows;
    for (long n = 4000; n <= largest; n *= 4) {
        const bench::Grid g = bench::gridOf(n);
        const std::string vlt = base + ".vlt";
        if (!bench::saveSheet(g, vlt)) {
            std::fprintf(stderr, "the sheet could not be saved\n");
            return 1;
        }
        for (const std::string& kind : kinds) {
            const std::string out = base + "." + kind, peerOut = base + "_occ." + kind;
            Row r{g.nx * g.ny, bench::runChild(self.c_str(), {"ours", vlt, out}),
                  bench::runChild(self.c_str(), {"occ-write", kind, std::to_string(n), peerOut})};
            std::remove(out.c_str());
            std::remove(peerOut.c_str());
            std::printf("%7d faces %-4s: ours %7.2f s %7.0f MB   peer %7.2f s %7.0f MB%s\n", r.faces, kind.c_str(),
                        r.ours.seconds, r.ours.mb, r.peer.seconds, r.peer.mb,
                        r.ours.ok && r.peer.ok ? "" : "  (a run failed)");
            rows[kind].push_back(r);
        }
        std::remove(vlt.c_str());
    }
    for (const std::string& kind : kinds) {
        std::printf("\n%s  %7s  %-10s %-10s | %-10s %-10s\n", kind.c_str(), "faces", "time o/p", "MB o/p",
                    "growth", "peer");
        const std::vector<Row>& rs = rows[kind];
        for (std::size_t i = 0; i < rs.size(); ++i) {
            std::printf("      %7d  %-10.2f %-10.2f |", rs[i].faces, bench::ratio(rs[i].ours.seconds, rs[i].peer.seconds),
                        bench::ratio(rs[i].ours.mb, rs[i].peer.mb));
            if (i > 0)
                std::printf(" %-10.2f %-10.2f", bench::ratio(rs[i].ours.seconds, rs[i - 1].ours.seconds),
                            bench::ratio(rs[i].peer.seconds, rs[i - 1].peer.seconds));
            std::printf("\n");
        }
    }
    return 0;
}
