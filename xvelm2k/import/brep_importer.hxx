#pragma once
// What the body creators use of the B-rep importer: its default geometry
// importer (when the framework's is switched on) and its layer importer.
#include "import/layer_importer.hxx"
#include "xvelm2k/export.hxx"

#include <memory>

class QELXDefaultGeometryImporter;

class XVELM2KA_API QELXVelmBRepImporter {
public:
    QELXVelmBRepImporter();
    QELXVelmBRepImporter(const QELXVelmBRepImporter&) = delete;
    QELXVelmBRepImporter& operator=(const QELXVelmBRepImporter&) = delete;
    virtual ~QELXVelmBRepImporter();

    QELXDefaultGeometryImporter* GetGeometryImporter() const { return m_geometryImporter.get(); }
    // Takes ownership.
    void SetGeometryImporter(QELXDefaultGeometryImporter* importer);
    QELXVelmLayerImporter* GetLayerImporter() const { return m_layerImporter.get(); }

private:
    std::unique_ptr<QELXDefaultGeometryImporter> m_geometryImporter;
    std::unique_ptr<QELXVelmLayerImporter> m_layerImporter;
};
