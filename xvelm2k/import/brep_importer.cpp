#include "import/brep_importer.hxx"

#include "qelx_velm/default_geometry_importer.hxx"

QELXVelmBRepImporter::QELXVelmBRepImporter() : m_layerImporter(std::make_unique<QELXVelmLayerImporter>()) {}

QELXVelmBRepImporter::~QELXVelmBRepImporter() = default;

void QELXVelmBRepImporter::SetGeometryImporter(QELXDefaultGeometryImporter* importer)
{
    m_geometryImporter.reset(importer);
}
