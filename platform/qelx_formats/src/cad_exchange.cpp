// The library's table of its file functions (cad_exchange.hxx).
#include "qelx_formats/cad_exchange.hxx"

extern "C" const qelx_formats::CadExchange* qelx_formats_cad_exchange()
{
    using namespace qelx_formats;
    QELIResult (*writeLettingGo)(qelx_test::TestModel&&, const std::string&, std::string&, CadWriteSummary*,
                                 const CadSourceMeasures*) = &writeCadFile;
    static const CadExchange table{&cadFormatOf,  &cadSourceType, &cadAttributeFields, &readCadFile,
                                   &readStepFile, writeLettingGo, &checkCadModel};
    return &table;
}
