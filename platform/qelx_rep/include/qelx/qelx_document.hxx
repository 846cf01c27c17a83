#pragma once
// Framework documents and what hangs off them: representation types, the
// running conversion (converter), links between source and target
// identifiers, files and file properties.
#include "qelx/qelx_identifier.hxx"
#include "qelx/qelx_options.hxx"
#include "qelx/qelx_refcount.hxx"
#include "qelx/qelx_result.hxx"
#include "qelx/qelx_string.hxx"
#include "qelx/qelx_units.hxx"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QELXConverter;
class QELXDocument;
class QELXDocumentFactory;
class QELXExportRepresentation;

// Representation type, compared by its name ("BRep", "Assembly", "Header",
// "PMI", "Manufacturing", "DocumentFeature", "Geometry").
class QELXRepType {
public:
    explicit QELXRepType(const char* name = "") : m_name(name ? name : "") {}
    const char* GetName() const { return m_name.c_str(); }
    bool operator==(const QELXRepType& other) const { return m_name == other.m_name; }
    bool operator!=(const QELXRepType& other) const { return !(*this == other); }

private:
    std::string m_name;
};

// A set: adding a type already present changes nothing.
class QELXRepTypes {
public:
    void Add(const QELXRepType& type);
    int Count() const { return static_cast<int>(m_types.size()); }
    bool Contains(const QELXRepType& type) const;
    const QELXRepType& Get(int i) const { return m_types[static_cast<std::size_t>(i)]; }

private:
    std::vector<QELXRepType> m_types;
};

enum QELXLoadStatus {
    QELX_LOAD_STATUS_COMPLETE = 0,
    // Some of the document's bodies were deleted after their export.
    QELX_LOAD_STATUS_PARTLY_UNLOADED = 1,
};

// One source identifier and the identifiers made from it.
class QELXRepLink {
public:
    QELXRepLink(const QELXIdentifier& source, const QELXIdentifiers& targets) : m_source(source), m_targets(targets) {}
    const QELXIdentifier& GetSource() const { return m_source; }
    const QELXIdentifiers& GetTargets() const { return m_targets; }

private:
    QELXIdentifier m_source;
    QELXIdentifiers m_targets;
};

// Links keyed by the source word; links of one source accumulate in the
// order they were added.
class QELXRepLinker {
public:
    QELIResult AddLink(const QELXRepLink& link);
    // Every target linked to the source's word, appended to targets;
    // 0x1000001 when the word has none.
    QELIResult GetLinks(const QELXIdentifier& source, QELXIdentifiers& targets) const;
    int GetNumberOfSources() const { return static_cast<int>(m_links.size()); }
    void Clear() { m_links.clear(); }

private:
    std::map<std::uint64_t, QELXIdentifiers> m_links;
};

class QELXFilePath {
public:
    explicit QELXFilePath(const QELXString& path = QELXString()) : m_path(path) {}
    // The file name without its folder; 0x1000001 for an empty path.
    QELIResult GetName(QELXString& name) const;
    const QELXString& GetPath() const { return m_path; }

private:
    QELXString m_path;
};

class QELXFile {
public:
    explicit QELXFile(const QELXString& path) : m_path(path) {}
    QELIResult GetFilePath(QELXFilePath& path) const;

private:
    QELXFilePath m_path;
};

// What the framework can tell of a file before reading it.
struct QELXFileProperties {
    std::wstring path;
    std::wstring format;
    QELXUnit unit = QELX_UNIT_UNSPECIFIED;
    std::uintmax_t size = 0;
};
// 0 and a new record on success; 0x100000d (nothing made) when the file does
// not exist or is not a regular file; 0x100000b for a null path.
int QELXGetFileProperties(const wchar_t* path, const wchar_t* format, QELXFileProperties*& props,
                          const wchar_t* password, int flags);
// Frees the record and nulls the pointer; 0.
int QELXReleaseFileProperties(QELXFileProperties*& props);

// Framework document. Reference-counted; representations hold it by a plain
// pointer, its owner by a handle.
class QELXDocument : public QELXReferenceCount {
public:
    QELXDocument();
    ~QELXDocument() override;
    QELXDocument(const QELXDocument&) = delete;
    QELXDocument& operator=(const QELXDocument&) = delete;

    // The document's native data of that type name; the base has none.
    virtual void* GetNativeData(const QELXString& typeName);
    // 0 when the document has a unit, else 0x1000001 (unit untouched).
    virtual QELIResult GetUnit(QELXUnit& unit) const;
    QELXConverter* GetTranslationContext() const { return m_context; }
    // Never null.
    QELXRepLinker* GetRepLinker() { return &m_linker; }
    // 0x1000001 (file null) when the document has no file.
    QELIResult GetFileHandle(QELXFile*& file);
    // The last export representation of that type added; 0x1000001 when none.
    QELIResult GetExportRep(const QELXRepType& type, QELXExportRepresentation*& rep);
    QELXString GetDocumentType() const { return m_documentType; }
    QELXString GetXType() const { return m_xType; }
    // With false the document gives up its content: it no longer deletes its
    // native entities when destroyed.
    virtual void HoldContent(bool hold) { m_holdContent = hold; }
    bool HoldsContent() const { return m_holdContent; }
    virtual QELIResult Update() { return QELI_OK; }

    void SetXType(const QELXString& xType) { m_xType = xType; }
    void SetDocumentType(const QELXString& type) { m_documentType = type; }
    void SetUnit(QELXUnit unit);
    void SetTranslationContext(QELXConverter* context) { m_context = context; }
    // An empty path removes the file.
    void SetFile(const QELXString& path);
    // The document keeps a reference to the representation.
    void AddExportRep(QELXExportRepresentation* rep);

    const char* GetName() const override { return "QELXDocument"; }

private:
    QELXString m_xType;
    QELXString m_documentType;
    bool m_hasUnit = false;
    QELXUnit m_unit = QELX_UNIT_UNSPECIFIED;
    QELXConverter* m_context = nullptr;
    QELXRepLinker m_linker;
    std::unique_ptr<QELXFile> m_file;
    std::vector<QELXReferenceHandle> m_exportReps;
    bool m_holdContent = true;
};
using QELXDocumentHandle = QELXTypedHandle<QELXDocument>;

class QELXDocumentFactory {
public:
    virtual ~QELXDocumentFactory() = default;
    virtual QELIResult CreateDocument(const QELXString& type, QELXConverter* converter, QELXDocumentHandle& out) = 0;
};

class QELXDocumentUtils {
public:
    // The document's XType; empty for null.
    static QELXString GetXType(const QELXDocument* doc);
};

class QELXCompareUtil {
public:
    static bool isEqual(const QELXString& a, const QELXString& b);
};

// The running conversion ("translation context").
class QELXConverter {
public:
    QELXConverter() = default;
    virtual ~QELXConverter() = default;

    QELXOptions* GetOptions() { return &m_options; }
    QELXConverter* GetAssemblyContext() const { return m_assemblyContext; }
    void SetAssemblyContext(QELXConverter* context) { m_assemblyContext = context; }
    QELIResult GetRepresentations(QELXRepTypes& types) const;
    void SetRepresentations(const QELXRepTypes& types) { m_types = types; }
    // Source-to-target length scale.
    double GetScaleFactor() const { return m_scale; }
    void SetScaleFactor(double scale) { m_scale = scale; }
    QELXDocument* GetInputDocument() const { return m_input; }
    void SetInputDocument(QELXDocument* doc) { m_input = doc; }
    QELXDocumentFactory* GetDocumentFactory() const { return m_factory; }
    void SetDocumentFactory(QELXDocumentFactory* factory) { m_factory = factory; }

    // The conversion running in this process (set by whoever runs it), or
    // null.
    static QELXConverter* GetCurrentContext();
    static void SetCurrentContext(QELXConverter* context);

private:
    QELXOptions m_options;
    QELXConverter* m_assemblyContext = nullptr;
    QELXRepTypes m_types;
    double m_scale = 1.0;
    QELXDocument* m_input = nullptr;
    QELXDocumentFactory* m_factory = nullptr;
};
