#pragma once
// The part road of the assembly tests and benchmark: the connector's B-rep
// importer, registered with the framework for the nested conversions of part
// definitions into kernel documents.
#include "assembly/flat_assembly_importer.hxx"

namespace asmtest {

inline void registerPartImporter() { QELXFlatVelmAssemblyImporter::RegisterPartImporter(); }

} // namespace asmtest
