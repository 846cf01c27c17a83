#pragma once
// Nested conversions: the wrappers an importer uses to have the framework
// convert one document into another inside its own conversion (a part of an
// assembly, the tools of a cut feature), and the registry of the importers
// the framework can run.
#include "qelx/qelx_representation.hxx"

#include <functional>
#include <string>
#include <vector>

// Options handed to a nested conversion, in the order added.
class QELIOptions {
public:
    void Add(const QELXString& name, const QELXValue& value) { m_options.AddOption(name, value); }
    void Add(const QELXString& name, bool value) { Add(name, QELXValue(value)); }
    QELXOptions& Options() { return m_options; }

private:
    QELXOptions m_options;
};

// A document taken out of its handle for the length of a conversion.
class QELIDocument {
public:
    QELIDocument() = default;
    // Takes the document the handle holds; the handle is emptied.
    explicit QELIDocument(QELXDocumentHandle& handle);
    QELIDocument(const QELIDocument&) = delete;
    QELIDocument& operator=(const QELIDocument&) = delete;
    virtual ~QELIDocument() = default;

    QELXDocument* Get() const { return m_document.get(); }
    // Hands the document (back) to the handle; this wrapper is then empty.
    void Detach(QELXDocumentHandle& handle);

protected:
    QELXDocumentHandle m_document;
};

// Makes the importer of a representation type for a target document.
using QELXImporterFactory = std::function<QELXImportRepresentation*(QELXDocument* target)>;

// The importers the framework can run, by the target document's type and the
// representation type. Process-wide; the framework reset empties it.
class QELXRepresentationRegistry {
public:
    static void RegisterImporter(const QELXString& documentType, const QELXRepType& type,
                                 QELXImporterFactory factory);
    // A new importer (reference count 0), or null when none is registered.
    static QELXImportRepresentation* CreateImporter(const QELXString& documentType, const QELXRepType& type,
                                                     QELXDocument* target);
    static void Clear();
};

// Runs the framework's conversion of one document into another with the
// options and representation types of a converter (a definition context).
class QELIConverter {
public:
    explicit QELIConverter(QELXConverter* converter) : m_converter(converter) {}

    // Adds the options to the converter's option set.
    void AppendOptions(QELIOptions& options);
    // For each representation type of the converter ("BRep" when it names
    // none): the source document's export representation of that type and a
    // registered importer over the target run the framework's protocol (user
    // options, required options, exporter options, pre-process, import,
    // post-import, post-process). The converter's options are set on the
    // importer for the length of the run and the registry is put back
    // afterwards. The first failure code met, 0x1000001 when no type could be
    // converted, 0x100000b for a missing converter or document.
    QELIResult Convert(QELIDocument& source, QELIDocument& target);

private:
    QELXConverter* m_converter;
};
