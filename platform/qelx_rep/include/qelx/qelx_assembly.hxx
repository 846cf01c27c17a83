#pragma once
// The framework's assembly library: the assembly exporter a source format
// offers (roots, instances, shared definitions, placements), its
// assembly-feature exporter, the component transform, and the importer bases
// a target format builds its assembly importer on.
#include "qelx/qelx_representation.hxx"

class QELXAssemblyFeatureExporter;

// Instances and definitions are identifiers of the exporter. Every operation
// answers 0x1000005 until an exporter overrides it.
class QELXAssemblyExporter : public QELXExportRepresentation {
public:
    using QELXExportRepresentation::QELXExportRepresentation;

    QELXRepType GetType() const override { return QELXRepType("Assembly"); }

    virtual QELIResult GetRootCount(int&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetRoot(int, QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    // Child instances of an assembly definition.
    virtual QELIResult GetComponentCount(const QELXIdentifier&, int&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetComponent(const QELXIdentifier&, int, QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    // The definition an instance places.
    virtual QELIResult GetDefinition(const QELXIdentifier&, QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult IsAssembly(const QELXIdentifier&, bool&) { return QELI_NOT_IMPLEMENTED; }
    // Parts under a definition (progress only).
    virtual QELIResult GetPartCount(const QELXIdentifier&, int&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetDefinitionName(const QELXIdentifier&, QELXString&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetDefinitionSourceName(const QELXIdentifier&, QELXString&) { return QELI_NOT_IMPLEMENTED; }
    // Fills an empty definition document (made by CreateDefinitionEmptyDocument)
    // with the definition's data.
    virtual QELIResult LoadDefinition(const QELXIdentifier&, QELXDocumentHandle&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetInstanceReference(const QELXIdentifier&, QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    // values: the 3x3 matrix row by row (row i the image of axis i, points
    // read as row vectors), then the translation; scale: the uniform scale.
    virtual QELIResult GetInstanceTransform(const QELXIdentifier&, double[12], double&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetInstanceName(const QELXIdentifier&, QELXString&) { return QELI_NOT_IMPLEMENTED; }
    // A new empty document of the exporter's own kind for the definition, in
    // the nested conversion `context`.
    virtual QELIResult CreateDefinitionEmptyDocument(const QELXIdentifier&, QELXConverter*, QELXDocumentHandle&)
    {
        return QELI_NOT_IMPLEMENTED;
    }
    // Lets go of a definition document; the handle is emptied.
    virtual QELIResult ReleaseDefinitionDocument(QELXDocumentHandle&) { return QELI_NOT_IMPLEMENTED; }
    // Null (and 0x1000005) when the source has no assembly features.
    virtual QELIResult GetAssemblyFeatureExporter(QELXAssemblyFeatureExporter*& out)
    {
        out = nullptr;
        return QELI_NOT_IMPLEMENTED;
    }

    const char* GetName() const override { return "QELXAssemblyExporter"; }
};
using QELXAssemblyExporterHandle = QELXTypedHandle<QELXAssemblyExporter>;

// Cut features of assembly definitions: tool bodies that act on chosen
// instances of the assembly. Owned by its assembly exporter.
class QELXAssemblyFeatureExporter {
public:
    virtual ~QELXAssemblyFeatureExporter() = default;
    virtual QELIResult GetFeatureCount(const QELXIdentifier&, int&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetFeature(const QELXIdentifier&, int, QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    // Fills an empty definition document with the feature's tool bodies.
    virtual QELIResult LoadFeatureTools(const QELXIdentifier&, QELXDocumentHandle&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetFeatureTargetCount(const QELXIdentifier&, int&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetFeatureTarget(const QELXIdentifier&, int, QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
};

// An instance's placement as the exporter hands it out: nine matrix values
// row by row, three translation values, and a scale.
class QELXAssemblyComponentTransform {
public:
    QELXAssemblyComponentTransform(const double values[12], double scale);
    void Get(double matrix[9], double translation[3]) const;
    double GetScale() const { return m_scale; }

private:
    double m_values[12];
    double m_scale;
};

class QELXAssemblyImporter : public QELXImportRepresentation {
public:
    using QELXImportRepresentation::QELXImportRepresentation;

    QELXRepType GetType() const override { return QELXRepType("Assembly"); }
    // A new converter for a nested conversion: no input document yet; its
    // assembly context, options, scale and document factory are this
    // importer's running conversion's. 0x1000001 when none could be made.
    QELIResult CreateDefinitionContext(QELXConverter*& context);
    // Deletes the converter and nulls the pointer; 0 (also for null).
    QELIResult ReleaseDefinitionContext(QELXConverter*& context);

    const char* GetName() const override { return "QELXAssemblyImporter"; }
};

class QELXDefaultAssemblyImporter : public QELXAssemblyImporter {
public:
    explicit QELXDefaultAssemblyImporter(QELXDocument* document) : QELXAssemblyImporter(document) {}

    // "BRep".
    virtual QELIResult GetPartPreferredRepresentation(QELXDocument* document, QELXRepType& type);
    // "BRep", then the types of the export representations the document
    // carries.
    virtual QELIResult GetPartRepresentations(QELXDocument* document, QELXRepTypes& types);
    // "VELM".
    virtual QELIResult GetPartImportDocumentType(QELXString& type);
    // Empty, 0x1000001: parts are not saved on their own.
    virtual QELIResult GetPartSavePath(QELXString& path);
    // Stores the scale; 0.
    virtual QELIResult Scale(double factor);
    double GetScale() const { return m_scale; }
    // Gives the document this importer's document unit (else the unit set by
    // SetUnit); 0x1000001 for a null document or when neither is known.
    virtual QELIResult UpdateUnitOf(QELXDocument* document);
    // The walk of the source's assembly; the base has none.
    virtual QELIResult TranslateAssemblyTree(QELXAssemblyExporter*) { return QELI_NOT_IMPLEMENTED; }

    const char* GetName() const override { return "QELXDefaultAssemblyImporter"; }

private:
    double m_scale = 1.0;
};
