#pragma once
// The product structure of STEP files as an assembly source: products with
// shapes of their own are part definitions, assembly products place
// instances of other products, products used in several places are one
// shared definition. The assembly is read into the in-memory source model's
// assembly, whose assembly exporter then serves as the file's.
#include "qelx/test_assembly.hxx"

#include <string>

namespace qelx_formats {

// Reads the file's products: each part's shape into a source model (as
// readCadFile reads a file, names, colours and layers aside), each assembly
// product with its instances and their placements as the file gives them,
// the file's free products as roots (placed where the file puts them).
// `assembly` is untouched on failure. 0, or 0x1000001 / 0x100000e with
// `error` one line naming the file.
QELIResult readStepAssembly(const std::string& path, qelx_test::TestAssembly& assembly, std::string& error);

// Writes the source assembly as a STEP file with its product structure: one
// product per part definition (built from its model) and per assembly
// definition, one component per instance, named as the definitions and
// instances are; the roots are the components of one top product. The file
// is written as the other documents are. Placements must be rigid (turns
// and moves). 0, or 0x1000001 / 0x100000f with `error`.
QELIResult writeStepAssembly(const qelx_test::TestAssembly& assembly, const std::string& path, std::string& error);

// What Open CASCADE reads of the file as one shape: the solids it places
// (each placement once) and their total volume.
QELIResult measureStepSolids(const std::string& path, int& solids, double& volume, std::string& error);

} // namespace qelx_formats
