#pragma once
// The part road of the assembly tests and benchmark: the connector's B-rep
// importer, registered with the framework for the nested conversions of part
// definitions into kernel documents.
#include "import/brep_importer.hxx"
#include "qelx/qeli_conversion.hxx"

namespace asmtest {

inline void registerPartImporter()
{
    QELXRepresentationRegistry::RegisterImporter(QELXString("VELM"), QELXRepType("BRep"),
                                                 [](QELXDocument* doc) -> QELXImportRepresentation* {
                                                     QELXBRepImporter* importer = nullptr;
                                                     return QELXCreateVelmBRepImporter(doc, &importer) == QELI_OK
                                                                ? importer
                                                                : nullptr;
                                                 });
}

} // namespace asmtest
