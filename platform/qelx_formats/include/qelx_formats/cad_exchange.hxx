#pragma once
// The STEP, IGES and BREP files of cad_file.hxx and step_assembly.hxx as one
// table of functions, for a program that opens the library holding them only
// when it needs them (the library maps Open CASCADE's data exchange, dozens of
// libraries, when it loads). The library gives the table through one C entry
// point, looked up by name.
#include "qelx_formats/cad_file.hxx"
#include "qelx_formats/step_assembly.hxx"

namespace qelx_formats {

struct CadExchange {
    std::optional<CadFormat> (*formatOf)(const std::string& path);
    const char* (*sourceType)(CadFormat format);
    unsigned (*attributeFields)(CadFormat format);
    QELIResult (*readFile)(const std::string& path, qelx_test::TestModel& model, std::string& error);
    QELIResult (*readStepFile)(const std::string& path, qelx_test::TestModel& model, qelx_test::TestAssembly& assembly,
                               bool& isAssembly, int& faces, std::string& error);
    // writeCadFile letting go of the model.
    QELIResult (*writeFile)(qelx_test::TestModel&& model, const std::string& path, std::string& error,
                            CadWriteSummary* summary, const CadSourceMeasures* source);
    QELIResult (*checkModel)(const qelx_test::TestModel& model, CadFormat format, std::string& error,
                             const CadSourceMeasures* source);
};

// The library's file name and the name of its entry point.
inline constexpr const char* kCadExchangeLibrary = "libqelx_formats.so";
inline constexpr const char* kCadExchangeEntry = "qelx_formats_cad_exchange";

} // namespace qelx_formats

// The table, alive as long as the library is loaded.
extern "C" const qelx_formats::CadExchange* qelx_formats_cad_exchange();
