// What the driver-against-peer benchmarks share: the sheet of about n faces
// saved as a kernel save file, the driver's convert run in this process, and
// a run of the benchmark program itself in a fresh process, measured.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <BRepTools.hxx>
#include <IFSelect_ReturnStatus.hxx>
#include <IGESCAFControl_Writer.hxx>
#include <IGESControl_Controller.hxx>
#include <Interface_Static.hxx>
#include <STEPCAFControl_Writer.hxx>
#include <TDocStd_Document.hxx>
#include <XCAFApp_Application.hxx>
#include <XCAFDoc_DocumentTool.hxx>
#include <XCAFDoc_ShapeTool.hxx>

#include "convert_verb.hxx"
#include "import_verb.hxx"
#include "sheets.hxx"
#include "velm/save.hxx"

namespace bench {

struct Grid {
    int nx = 1, ny = 1;
};

// As bench_kernel_scale lays out about n faces.
inline Grid gridOf(long n)
{
    Grid g;
    g.ny = std::max(1, static_cast<int>(std::sqrt(static_cast<double>(n) / 1.6)));
    g.nx = std::max(1, static_cast<int>(n / g.ny));
    return g;
}

inline bool saveSheet(const Grid& g, const std::string& path)
{
    BODY* body = velm_sheet(g.nx, g.ny);
    ENTITY_LIST top;
    top.add(body);
    FILE* fp = std::fopen(path.c_str(), "w");
    const bool ok = fp && api_save_entity_list(fp, 1, top).ok();
    if (fp)
        std::fclose(fp);
    api_del_entity(body);
    return ok;
}

// `xvelm convert IN OUT`, its summary dropped.
inline int convertRun(const char* in, const char* out)
{
    FILE* quiet = std::fopen("/dev/null", "w");
    const int status = xvelm::convert(in, out, nullptr, quiet, stderr);
    std::fclose(quiet);
    return status;
}

// `xvelm import IN.json OUT.vlt`, its summary dropped.
inline int importRun(const char* in, const char* out)
{
    FILE* quiet = std::fopen("/dev/null", "w");
    const int status = xvelm::importNeutral(in, out, quiet, stderr);
    std::fclose(quiet);
    return status;
}

inline Handle(TDocStd_Document) occDocumentOf(const TopoDS_Shape& shape)
{
    Handle(TDocStd_Document) doc;
    XCAFApp_Application::GetApplication()->NewDocument("MDTV-XCAF", doc);
    XCAFDoc_DocumentTool::ShapeTool(doc->Main())->AddShape(shape, Standard_False);
    return doc;
}

// Open CASCADE building the same sheet and writing it as `kind` ("step",
// "iges" or "brep") with the settings the driver's writer uses: STEP and IGES
// through the document writers (names, colours, layers), BREP as the shape;
// 0 when written.
inline int occWrite(const std::string& kind, const Grid& g, const char* path)
{
    const TopoDS_Shape sheet = occ_sheet(g.nx, g.ny);
    if (kind == "brep")
        return BRepTools::Write(sheet, path) ? 0 : 1;
    if (kind == "iges") {
        IGESControl_Controller::Init();
        Interface_Static::SetIVal("write.iges.brep.mode", 1);
        Interface_Static::SetCVal("write.iges.unit", "MM");
        Interface_Static::SetIVal("write.surfacecurve.mode", 1);
        IGESCAFControl_Writer writer;
        writer.SetColorMode(Standard_True);
        writer.SetNameMode(Standard_True);
        writer.SetLayerMode(Standard_True);
        return writer.Transfer(occDocumentOf(sheet)) && writer.Write(path) ? 0 : 1;
    }
    Interface_Static::SetIVal("write.surfacecurve.mode", 1);
    Interface_Static::SetCVal("write.step.unit", "MM");
    STEPCAFControl_Writer writer;
    writer.SetColorMode(Standard_True);
    writer.SetNameMode(Standard_True);
    writer.SetLayerMode(Standard_True);
    return writer.Transfer(occDocumentOf(sheet), STEPControl_AsIs) && writer.Write(path) == IFSelect_RetDone ? 0 : 1;
}

struct Cost {
    double seconds = 0.0; // processor, user and system
    double mb = 0.0;      // peak resident
    bool ok = false;
};

// This program (`self`) run again with `args` in a fresh process of its own,
// so that its peak resident size is its own.
inline Cost runChild(const char* self, const std::vector<std::string>& args)
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

// The path of this program, for runChild ("" when it cannot be found).
inline std::string selfPath()
{
    std::string path(4096, '\0');
    const ssize_t len = readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (len <= 0)
        return std::string();
    path.resize(static_cast<std::size_t>(len));
    return path;
}

inline double ratio(double a, double b) { return b > 0.0 ? a / b : 0.0; }

} // namespace bench
