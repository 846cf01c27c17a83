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

// Builds Open CASCADE shapes of every body of `model` and writes them in
// the format of the path's extension: STEP and IGES with the names,
// colours and layers the attribute records give bodies and faces; BREP
// (which holds none) with the shapes alone. The file is written as the
// neutral documents are (a temporary name renamed on success, never a
// FIFO, device or directory). 0, or 0x1000001 / 0x100000f with `error`
// one line naming the file.
QELIResult writeCadFile(const qelx_test::TestModel& model, const std::string& path, std::string& error,
                        CadWriteSummary* summary = nullptr);
// The same, letting go of the model (left empty) as soon as its shapes and
// their names, colours and layers are built: the writer's own model of them
// is then the only one in memory.
QELIResult writeCadFile(qelx_test::TestModel&& model, const std::string& path, std::string& error,
                        CadWriteSummary* summary = nullptr);
// The framework importer over any B-rep exporter: walks it (firing the
// framework's stage events) and writes what it answered.
QELIResult writeCadDocument(QELXBRepExporter* exporter, const std::string& path, std::string& error,
                            CadWriteSummary* summary = nullptr, qelx_test::WalkSummary* walk = nullptr);

} // namespace qelx_formats
