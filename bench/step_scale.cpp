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
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <IFSelect_ReturnStatus.hxx>
#include <Interface_Static.hxx>
#include <STEPCAFControl_Reader.hxx>
#include <STEPCAFControl_Writer.hxx>
#include <TDocStd_Document.hxx>
#include <XCAFApp_Application.hxx>
#include <XCAFDoc_DocumentTool.hxx>
#include <XCAFDoc_ShapeTool.hxx>

#include "../tools/xvelm/convert_verb.hxx"
#include "sheets.hxx"
#include "velm/save.hxx"

namespace {

struct Grid {
    int nx = 1, ny = 1;
};

// As bench_kernel_scale lays out about n faces.
Grid gridOf(long n)
{
    Grid g;
    g.ny = std::max(1, static_cast<int>(std::sqrt(static_cast<double>(n) / 1.6)));
    g.nx = std::max(1, static_cast<int>(n / g.ny));
    return g;
}

bool saveSheet(const Grid& g, const std::string& path)
{
    BODY* body = bench::velm_sheet(g.nx, g.ny);
    ENTITY_LIST top;
    top.add(body);
    FILE* fp = std::fopen(path.c_str(), "w");
    const bool ok = fp && api_save_entity_list(fp, 1, top).ok();
    if (fp)
        std::fclose(fp);
    api_del_entity(body);
    return ok;
}

Handle(TDocStd_Document) newDocument()
{
    Handle(TDocStd_Document) doc;
    XCAFApp_Application::GetApplication()->NewDocument("MDTV-XCAF", doc);
    return doc;
}

int occWrite(const Grid& g, const char* path)
{
    Interface_Static::SetIVal("write.surfacecurve.mode", 1);
    Interface_Static::SetCVal("write.step.unit", "MM");
    Handle(TDocStd_Document) doc = newDocument();
    XCAFDoc_DocumentTool::ShapeTool(doc->Main())->AddShape(bench::occ_sheet(g.nx, g.ny), Standard_False);
    STEPCAFControl_Writer writer;
    writer.SetColorMode(Standard_True);
    writer.SetNameMode(Standard_True);
    writer.SetLayerMode(Standard_True);
    if (!writer.Transfer(doc, STEPControl_AsIs) || writer.Write(path) != IFSelect_RetDone)
        return 1;
    return 0;
}

int occRead(const char* path)
{
    Handle(TDocStd_Document) doc = newDocument();
    STEPCAFControl_Reader reader;
    reader.SetColorMode(Standard_True);
    reader.SetNameMode(Standard_True);
    reader.SetLayerMode(Standard_True);
    if (reader.ReadFile(path) != IFSelect_RetDone || !reader.Transfer(doc))
        return 1;
    return 0;
}

int ours(const char* in, const char* out)
{
    FILE* quiet = std::fopen("/dev/null", "w");
    const int status = xvelm::convert(in, out, nullptr, quiet, stderr);
    std::fclose(quiet);
    return status;
}

struct Cost {
    double seconds = 0.0; // processor, user and system
    double mb = 0.0;      // peak resident
    bool ok = false;
};

Cost runChild(const char* self, const std::vector<std::string>& args)
{
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        // Progress and the peer's own reports would bury the table.
        if (const int quiet = open("/dev/null", O_WRONLY); quiet >= 0) {
            dup2(quiet, 1);
            dup2(quiet, 2);
        }
        std::vector<char*> argv{const_cast<char*>(self)};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(self, argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    Cost cost;
    if (child < 0 || wait4(child, &status, 0, &usage) != child)
        return cost;
    cost.seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   1e-6 * static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
    cost.mb = static_cast<double>(usage.ru_maxrss) / 1024.0;
    cost.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return cost;
}

double ratio(double a, double b) { return b > 0.0 ? a / b : 0.0; }

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "ours") == 0)
        return ours(argv[2], argv[3]);
    if (argc == 4 && std::strcmp(argv[1], "occ-write") == 0)
        return occWrite(gridOf(std::strtol(argv[2], nullptr, 10)), argv[3]);
    if (argc == 3 && std::strcmp(argv[1], "occ-read") == 0)
        return occRead(argv[2]);

    long largest = 64000;
    if (argc > 1)
        largest = std::strtol(argv[1], nullptr, 10);
    std::string selfPath(4096, '\0');
    const ssize_t len = readlink("/proc/self/exe", selfPath.data(), selfPath.size() - 1);
    if (len <= 0)
        return 1;
    selfPath.resize(static_cast<std::size_t>(len));
    const std::string base = "/tmp/bench_step_scale_" + std::to_string(getpid());

    struct Row {
        int faces;
        Cost ourWrite, occWrite, ourRead, occRead;
    };
    std::vector<Row> rows;
    for (long n = 4000; n <= largest; n *= 4) {
        const Grid g = gridOf(n);
        const std::string vlt = base + ".vlt", step = base + ".step", back = base + "_back.vlt",
                          occStep = base + "_occ.step";
        if (!saveSheet(g, vlt)) {
            std::fprintf(stderr, "the sheet could not be saved\n");
            return 1;
        }
        Row r{g.nx * g.ny, {}, {}, {}, {}};
        r.ourWrite = runChild(selfPath.c_str(), {"ours", vlt, step});
        r.occWrite = runChild(selfPath.c_str(), {"occ-write", std::to_string(n), occStep});
        r.ourRead = runChild(selfPath.c_str(), {"ours", step, back});
        r.occRead = runChild(selfPath.c_str(), {"occ-read", step});
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
