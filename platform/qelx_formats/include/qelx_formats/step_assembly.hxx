#pragma once
// The product structure of STEP files as an assembly source: products with
// shapes of their own are part definitions, assembly products place
// instances of other products, products used in several places are one
// shared definition. The assembly is read into the in-memory source model's
// assembly, whose assembly exporter then serves as the file's.
#include "qelx/test_assembly.hxx"
#include "qelx/test_model.hxx"
#include "qelx_formats/cad_file.hxx"

#include <string>
#include <vector>

namespace qelx_formats {

// Reads the file's products: each part's shape into a source model as
// readCadFile reads a file (the product's name, surface colour and first
// layer onto its bodies, a sub-shape's onto its faces, which wins; layers
// numbered from 1 across the whole file in the order met), each assembly
// product with its instances, their names, own colours and placements as the
// file gives them, the file's free products as roots (placed where the file
// puts them).
// `assembly` is untouched on failure. 0, or 0x1000001 / 0x100000e with
// `error` one line naming the file.
QELIResult readStepAssembly(const std::string& path, qelx_test::TestAssembly& assembly, std::string& error);

// Whether an assembly read from a file is worth converting as one: some
// product places others, or one product is placed more than once (the
// file's top product is no definition of its own: its components are the
// roots). Then its shared products are converted once.
bool placesProducts(const qelx_test::TestAssembly& assembly);

// The file read once for either road: when its products are worth reading
// as an assembly (placesProducts), into `assembly` as readStepAssembly reads
// it (`isAssembly` true, `model` untouched), else into `model` as
// readCadFile reads it (`assembly` untouched); `faces` is the number of
// faces readCadFile would have read either way. Refused as readCadFile
// refuses.
QELIResult readStepFile(const std::string& path, qelx_test::TestModel& model, qelx_test::TestAssembly& assembly,
                        bool& isAssembly, int& faces, std::string& error);

// Writes the source assembly as a STEP file with its product structure: one
// product per part definition (built from its model) and per assembly
// definition, one component per instance, named as the definitions and
// instances are, with the instances' colours and, for parts of one body,
// the colours and layers of the body and its faces (and the faces' names);
// the roots are the components of one top product. The file
// is written as the other documents are. Placements are turns and moves, or
// mirrors: STEP places rigidly, so a mirroring instance places a mirrored
// copy of its product (one per product, mirrored in x = 0). 0, or 0x1000001 / 0x100000f with `error`.
// Given `sources` (by definition index, as the source measured each part's
// bodies), each part's shapes are held against its measures as a single
// model's are by writeCadFile, and the file refused where they part, naming
// the product, body and face ("product \"bolt\": body 0, face 3: ...").
QELIResult writeStepAssembly(const qelx_test::TestAssembly& assembly, const std::string& path, std::string& error,
                             const std::vector<CadSourceMeasures>* sources = nullptr);

// What Open CASCADE reads of the file as one shape: the solids it places
// (each placement once) and their total volume.
QELIResult measureStepSolids(const std::string& path, int& solids, double& volume, std::string& error);

} // namespace qelx_formats
