#pragma once
// The sample models of Debian's occt-misc and Open CASCADE's own reading
// and measures of a file: the peer that judges what our files hold.
#include "qelx_formats/cad_file.hxx"

#include <BRepCheck_Analyzer.hxx>
#include <BRepGProp.hxx>
#include <BRepLib.hxx>
#include <BRepTools.hxx>
#include <BRep_Builder.hxx>
#include <GProp_GProps.hxx>
#include <IGESControl_Reader.hxx>
#include <STEPControl_Reader.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedMapOfShape.hxx>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace cad_samples {

inline const char* const SampleFolder = "/usr/share/opencascade/data";

inline std::vector<std::string> sampleFiles()
{
    namespace fs = std::filesystem;
    std::vector<std::string> files;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(SampleFolder, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file() && qelx_formats::cadFormatOf(it->path().string()))
            files.push_back(it->path().string());
    std::sort(files.begin(), files.end());
    return files;
}

// Samples above this size are walked only in the plain builds: under the
// sanitizers the large models would cost CI minutes (XVELM_ALL_SAMPLES walks
// them there too).
inline std::uintmax_t sampleSizeCap()
{
#if defined(XVELM_SAMPLE_SIZE_CAP)
    if (!std::getenv("XVELM_ALL_SAMPLES"))
        return XVELM_SAMPLE_SIZE_CAP;
#endif
    return UINTMAX_MAX;
}

// The sample models within that size.
inline std::vector<std::string> sampleFilesWithinCap()
{
    std::vector<std::string> files = sampleFiles();
    std::erase_if(files, [](const std::string& path) { return std::filesystem::file_size(path) > sampleSizeCap(); });
    return files;
}

} // namespace cad_samples

namespace qelx_formats {
// A STEP or IGES file's loose faces sewn as the reader sews them (cad_sewing.cpp).
TopoDS_Shape looseFacesSewn(const TopoDS_Shape& shape);
} // namespace qelx_formats

namespace cad_samples {

inline TopoDS_Shape peerRead(const std::string& path)
{
    TopoDS_Shape shape;
    switch (*qelx_formats::cadFormatOf(path)) {
    case qelx_formats::CadFormat::Step: {
        STEPControl_Reader r;
        if (r.ReadFile(path.c_str()) == IFSelect_RetDone && r.TransferRoots() > 0)
            shape = r.OneShape();
        break;
    }
    case qelx_formats::CadFormat::Iges: {
        IGESControl_Reader r;
        if (r.ReadFile(path.c_str()) == IFSelect_RetDone && r.TransferRoots() > 0)
            shape = r.OneShape();
        break;
    }
    case qelx_formats::CadFormat::Brep: {
        BRep_Builder b;
        BRepTools::Read(shape, path.c_str(), b);
        break;
    }
    }
    if (!shape.IsNull())
        BRepLib::BuildCurves3d(shape);
    return shape;
}

// What the peer measures of a shape: solids (with faces), faces, the volume of the
// solids and the area of every face (integrated to a relative error
// of 1e-8, so that two forms of one surface measure alike).
struct Measures {
    int solids = 0, faces = 0;
    double volume = 0.0, area = 0.0;
    bool valid = false;
};

inline Measures measure(const TopoDS_Shape& shape)
{
    Measures m;
    if (shape.IsNull())
        return m;
    TopTools_IndexedMapOfShape solids, faces;
    TopExp::MapShapes(shape, TopAbs_SOLID, solids);
    TopExp::MapShapes(shape, TopAbs_FACE, faces);
    // A solid without faces holds nothing (a file may carry one); it is not
    // counted.
    for (int i = 1; i <= solids.Extent(); ++i)
        m.solids += TopExp_Explorer(solids(i), TopAbs_FACE).More() ? 1 : 0;
    m.faces = faces.Extent();
    for (int i = 1; i <= solids.Extent(); ++i) {
        GProp_GProps props;
        BRepGProp::VolumeProperties(solids(i), props, 1e-8);
        m.volume += props.Mass();
    }
    for (int i = 1; i <= faces.Extent(); ++i) {
        GProp_GProps props;
        BRepGProp::SurfaceProperties(faces(i), props, 1e-8);
        m.area += props.Mass();
    }
    m.valid = BRepCheck_Analyzer(shape).IsValid();
    return m;
}

// What a written file holds, without the writer's time stamp (a STEP file's
// header, an IGES file's global section).
inline std::string writtenContent(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string content, line;
    bool data = path.extension() != ".step";
    while (std::getline(in, line)) {
        data = data || line == "DATA;";
        const bool igesGlobal = path.extension() == ".igs" && line.size() >= 73 && line[72] == 'G';
        if (data && !igesGlobal)
            content += line + '\n';
    }
    return content;
}

inline double relativeGap(double a, double b) { return std::abs(a - b) / std::max({std::abs(a), std::abs(b), 1e-300}); }

} // namespace cad_samples
