// Surface import: extruded and revolved surfaces (pending the curve importer).
#include "geometry/surface_importer.hxx"
#include "model/memory_init.hxx"

QELIResult QELXVelmSurfaceImporter::ImportExtruded() { return 0x1000001; }
QELIResult QELXVelmSurfaceImporter::ImportRevolved() { return 0x1000001; }
curve* QELXVelmSurfaceImporter::importProfile(const QELXIdentifier&, const Gk_Domain&, Gk_LinMap&) { return nullptr; }
surface* QELXVelmSurfaceImporter::revolvedLine(const straight&, const QELXPoint3D&, const QELXPoint3D&) { return nullptr; }
