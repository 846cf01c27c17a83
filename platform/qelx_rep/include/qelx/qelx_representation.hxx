#pragma once
// Representation bases: every exporter and importer is a representation of
// a document with an own option set and a user option set.
#include "qelx/qelx_document.hxx"

class QELXAttributeExporter;
class QELXBRepExporter;

class QELXRepresentation : public QELXReferenceCount {
public:
    explicit QELXRepresentation(QELXDocument* document) : m_document(document) {}
    ~QELXRepresentation() override = default;

    virtual QELXRepType GetType() const = 0;
    virtual bool IsExporter() const = 0;
    virtual QELXDocument* GetDocument() const { return m_document; }
    // The document's running conversion, or null.
    virtual QELXConverter* GetTranslationContext() const;
    // The conversion's document factory, or null.
    virtual QELXDocumentFactory* GetDocumentFactory() const;
    // Clears the own option set.
    virtual QELIResult InitializeOptions();
    virtual QELIResult GetOptions(QELXOptions*& options);
    // Replaces the option of that name in the own set and publishes the value
    // to the registry under OptionKey(name).
    virtual QELIResult SetOption(const QELXString& name, const QELXValue& value);
    // Own set, last match; 0x1000001 (option untouched) when absent.
    virtual QELIResult GetOption(QELXString name, QELXOption*& option);
    // User set, last match; 0x1000001 when absent.
    virtual QELIResult GetUserOption(const QELXString& name, QELXOption*& option);
    virtual QELIResult ProcessUserOptions(QELXOptions& userOptions);

    void SetUserOptions(const QELXOptions& options) { m_userOptions = options; }
    QELXOptions& UserOptions() { return m_userOptions; }
    // Registry key of an option name: the name itself when it starts with
    // "/", else "/" + the document's XType + "/" + name ("/" + name without
    // a document).
    QELXString OptionKey(const QELXString& name) const;

    const char* GetName() const override { return "QELXRepresentation"; }

private:
    QELXDocument* m_document;
    QELXOptions m_options;
    QELXOptions m_userOptions;
};
using QELXRepresentationHandle = QELXTypedHandle<QELXRepresentation>;

class QELXExportRepresentation : public QELXRepresentation {
public:
    using QELXRepresentation::QELXRepresentation;

    bool IsExporter() const override { return true; }
    // None by default: null and 0x1000001.
    virtual QELIResult GetAttributeExporter(QELXAttributeExporter*& out);
    // Own set, then the registry under OptionKey(name).
    QELIResult GetOption(QELXString name, QELXOption*& option) override;
    // A named text value (the "Header" representation's); 0x1000001 by default.
    virtual QELIResult GetStringValue(const QELXString& name, int index, QELXString& value);

    // What the framework calls around a conversion.
    QELIResult PreProcess() { return DoPreProcess(); }
    QELIResult PostProcess() { return DoPostProcess(); }

protected:
    virtual QELIResult DoPreProcess() { return QELI_OK; }
    virtual QELIResult DoPostProcess() { return QELI_OK; }
};
using QELXExportRepresentationHandle = QELXTypedHandle<QELXExportRepresentation>;

// Items an importer reports at its end, kept in the order added; an item
// added again adds to its count.
class QELXDefaultImporterSummary {
public:
    void AddItem(const QELXString& name, int count);
    int Count() const { return static_cast<int>(m_items.size()); }
    const QELXString& Name(int i) const { return m_items[static_cast<std::size_t>(i)].first; }
    int Value(int i) const { return m_items[static_cast<std::size_t>(i)].second; }
    // The count of that item; 0 when absent.
    int Value(const QELXString& name) const;

private:
    std::vector<std::pair<QELXString, int>> m_items;
};

class QELXImportRepresentation : public QELXRepresentation {
public:
    using QELXRepresentation::QELXRepresentation;
    ~QELXImportRepresentation() override;

    bool IsExporter() const override { return false; }
    virtual QELIResult DeclareLinks() { return QELI_OK; }
    // The document linker's targets of the source.
    virtual QELIResult GetEntitiesCreatedFrom(const QELXIdentifier& source, QELXIdentifiers& created);
    virtual QELIResult ProcessOptions() { return QELI_OK; }
    // Null and 0x1000001 until InitializeQELXImporterSummary.
    virtual QELIResult GetSummary(QELXDefaultImporterSummary*& summary);
    virtual QELIResult SetRequiredOptions(QELXOptions&) { return QELI_OK; }
    virtual QELIResult ProcessExporterOptions(QELXExportRepresentation*) { return QELI_OK; }
    virtual QELIResult Import(QELXExportRepresentation*) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult SetUnit(QELXUnit unit);
    virtual QELIResult PostImport() { return QELI_OK; }

    // Creates the summary (a second call starts a new, empty one).
    QELIResult InitializeQELXImporterSummary();
    // The unit set by SetUnit; QELX_UNIT_UNSPECIFIED before.
    QELXUnit GetImportUnit() const { return m_unit; }

private:
    std::unique_ptr<QELXDefaultImporterSummary> m_summary;
    QELXUnit m_unit = QELX_UNIT_UNSPECIFIED;
};

// The framework's B-rep importer interface: what it calls on an importer after
// the import representation's own slots.
class QELXBRepImporter : public QELXImportRepresentation {
public:
    using QELXImportRepresentation::QELXImportRepresentation;

    virtual bool AddCreatedBody(void* body) = 0;
    virtual bool AddCopiedBodyToLayer(void*, int) { return false; }
    virtual QELIResult ImportSolid(QELXBRepExporter*, const QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult ImportTopology(QELXBRepExporter*, const QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult ImportTrim(QELXBRepExporter*, const QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult ImportWire(QELXBRepExporter*, const QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult ImportTopologyAsTrim(QELXBRepExporter*, const QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult ImportTopologyAsWire(QELXBRepExporter*, const QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult ImportProperly(QELXBRepExporter*, const QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetCreatedEntities(const QELXIdentifier& source, QELXIdentifiers& created) = 0;
    virtual bool AddCreatedEntity(void* entity) = 0;

    const char* GetName() const override { return "QELXBRepImporter"; }
};
using QELXBRepImporterHandle = QELXTypedHandle<QELXBRepImporter>;

// Defaults for every slot: 0 for option and link operations, 0x1000005 for
// import operations, false for the bool operations. Its type is "BRep".
class QELXDefaultBRepImporter : public QELXBRepImporter {
public:
    explicit QELXDefaultBRepImporter(QELXDocument* document) : QELXBRepImporter(document) {}

    QELXRepType GetType() const override { return QELXRepType("BRep"); }
    bool AddCreatedBody(void*) override { return false; }
    QELIResult GetCreatedEntities(const QELXIdentifier&, QELXIdentifiers&) override { return QELI_NOT_IMPLEMENTED; }
    bool AddCreatedEntity(void*) override { return false; }

    const char* GetName() const override { return "QELXDefaultBRepImporter"; }
};
