#pragma once
// STEP, IGES and BREP files as source documents. The file's shapes are read
// into the in-memory source model, in the layouts the geometry exporter
// hands out (every surface in its canonical parameterisation, the face
// domains and pcurves carried over), whose test exporters then serve as the
// file's B-rep, geometry and attribute exporters.
#include "qelx/framework_walk.hxx"
#include "qelx/test_model.hxx"

#include <optional>
#include <string>
#include <vector>

class TopoDS_Shape;

namespace qelx_formats {

enum class CadFormat { Step, Iges, Brep };

// By the path's extension (.step/.stp, .iges/.igs, .brep; any case).
std::optional<CadFormat> cadFormatOf(const std::string& path);
// The source document's XType: "XStep", "XIges", "XBrep".
const char* cadSourceType(CadFormat format);
// The attribute fields a file of the format carries, for the walk that feeds
// its writer (qelx_test::WalkAttributeField bits): names, colours and layers
// for STEP and IGES (of bodies and faces; the writer warns about those of
// edges and vertices it leaves out), none for BREP.
unsigned cadAttributeFields(CadFormat format);

// Reads the file into `model` (untouched on failure). 0, or 0x1000001 with
// `error` one line naming the file and what is wrong with it; a file that
// cannot be opened gives 0x100000e.
QELIResult readCadFile(const std::string& path, qelx_test::TestModel& model, std::string& error);

// What a write made.
struct CadWriteSummary {
    int bodies = 0, faces = 0;
};

// What the model's source measured of one of its bodies (a kernel's own
// measures of the body it handed over), for a writer to hold the shapes it
// built against: the area of each face, in the order of the body's faces in
// the model (none when the source could not pair its faces with the model's;
// NaN for a face it could not measure), a solid's volume, and its widest
// edge or vertex tolerance.
struct CadBodyMeasures {
    std::vector<double> faceAreas;
    // How far each face's boundary, as the source holds it, strays from its
    // edges (pcurves through the surface against the edges' curves): the
    // face's area is known only within a band that wide.
    std::vector<double> faceStrays;
    // The relative accuracy the source claims for each face's area.
    std::vector<double> faceAccuracies;
    std::optional<double> volume;
    double tolerance = 0.0;
};
// By model body index; a body without measures is written unjudged.
using CadSourceMeasures = std::vector<std::optional<CadBodyMeasures>>;

// Builds Open CASCADE shapes of every body of `model` and writes them in
// the format of the path's extension: STEP and IGES with the names,
// colours and layers the attribute records give bodies and faces; BREP
// (which holds none) with the shapes alone. The file is written as the
// neutral documents are (a temporary name renamed on success, never a
// FIFO, device or directory). 0, or 0x1000001 / 0x100000f with `error`
// one line naming the file. Given `source`, what was built is held against
// it and refused (naming the body and face) where it parts from it: a face
// covering another area, a solid of another volume, an edge or vertex
// tolerance far wider than the body's (checkAgainstSource).
QELIResult writeCadFile(const qelx_test::TestModel& model, const std::string& path, std::string& error,
                        CadWriteSummary* summary = nullptr, const CadSourceMeasures* source = nullptr);
// The same, letting go of the model (left empty) as soon as its shapes and
// their names, colours and layers are built: the writer's own model of them
// is then the only one in memory.
QELIResult writeCadFile(qelx_test::TestModel&& model, const std::string& path, std::string& error,
                        CadWriteSummary* summary = nullptr, const CadSourceMeasures* source = nullptr);
// Every check a write of `model` in `format` makes of what it builds (the
// shapes' validity, `source` where given, and for STEP and IGES the text read
// back where the write would read it back), without keeping a file: 0, or
// 0x1000001 with `error` saying what the writer would refuse, as it would.
QELIResult checkCadModel(const qelx_test::TestModel& model, CadFormat format, std::string& error,
                         const CadSourceMeasures* source = nullptr);
// The framework importer over any B-rep exporter: walks it (firing the
// framework's stage events) and writes what it answered.
QELIResult writeCadDocument(QELXBRepExporter* exporter, const std::string& path, std::string& error,
                            CadWriteSummary* summary = nullptr, qelx_test::WalkSummary* walk = nullptr);

// The shape with every sphere face that is whole but for holes reaching the
// sphere's seam set on the sphere turned half a turn about its axis, as this
// library's STEP writer sets them: Open CASCADE's STEP writer and reader
// carry such a face as its holes, its complement. For a STEP file of Open
// CASCADE's own writer that holds the shape it was given.
TopoDS_Shape withSeamHolesReseated(const TopoDS_Shape& shape);

} // namespace qelx_formats
