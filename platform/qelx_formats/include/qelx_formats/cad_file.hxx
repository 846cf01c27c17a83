#pragma once
// STEP, IGES and BREP files as source documents. The file's shapes are read
// into the in-memory source model, in the layouts the geometry exporter
// hands out (every surface in its canonical parameterisation, the face
// domains and pcurves carried over), whose test exporters then serve as the
// file's B-rep, geometry and attribute exporters.
#include "qelx/test_model.hxx"

#include <optional>
#include <string>

namespace qelx_formats {

enum class CadFormat { Step, Iges, Brep };

// By the path's extension (.step/.stp, .iges/.igs, .brep; any case).
std::optional<CadFormat> cadFormatOf(const std::string& path);
// The source document's XType: "XStep", "XIges", "XBrep".
const char* cadSourceType(CadFormat format);

// Reads the file into `model` (untouched on failure). 0, or 0x1000001 with
// `error` one line naming the file and what is wrong with it; a file that
// cannot be opened gives 0x100000e.
QELIResult readCadFile(const std::string& path, qelx_test::TestModel& model, std::string& error);

} // namespace qelx_formats
