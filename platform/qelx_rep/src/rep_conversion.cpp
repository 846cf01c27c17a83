#include "qelx/qeli_conversion.hxx"

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

std::map<std::pair<std::string, std::string>, QELXImporterFactory>& importerFactories()
{
    static std::map<std::pair<std::string, std::string>, QELXImporterFactory> factories;
    return factories;
}

// Registry values a nested run overwrites, put back when it ends, so that the
// options of one part's conversion do not leak into the rest of the process.
class RegistryRestore {
public:
    RegistryRestore() = default;
    RegistryRestore(const RegistryRestore&) = delete;
    RegistryRestore& operator=(const RegistryRestore&) = delete;
    ~RegistryRestore()
    {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
            if (it->second)
                Gk_OptionDoc::setOption(it->first, *it->second);
            else
                Gk_OptionDoc::removeOption(it->first);
        }
    }

    void remember(const QELXString& key)
    {
        std::optional<QELXValue> old;
        if (Gk_Option* option = Gk_OptionDoc::fetchOption(key)) {
            QELXValue value;
            if (option->GetValue(value) == QELI_OK)
                old = value;
        }
        m_saved.emplace_back(key, old);
    }

private:
    std::vector<std::pair<QELXString, std::optional<QELXValue>>> m_saved;
};

// The document's translation context for the length of a run.
class ContextScope {
public:
    ContextScope(QELXDocument* doc, QELXConverter* context) : m_doc(doc), m_old(doc->GetTranslationContext())
    {
        m_doc->SetTranslationContext(context);
    }
    ContextScope(const ContextScope&) = delete;
    ContextScope& operator=(const ContextScope&) = delete;
    ~ContextScope() { m_doc->SetTranslationContext(m_old); }

private:
    QELXDocument* m_doc;
    QELXConverter* m_old;
};

QELIResult runOne(QELXConverter& converter, QELXExportRepresentation* exporter, QELXImportRepresentation* importer)
{
    const QELXRepresentationHandle hold(importer);
    RegistryRestore restore;
    QELXOptions* options = converter.GetOptions();
    QELXOption* option = nullptr;
    options->InitEnumeration();
    while (options->GetNext(option) == QELI_OK && option) {
        QELXValue value;
        if (option->GetValue(value) != QELI_OK)
            continue;
        restore.remember(importer->OptionKey(option->name()));
        importer->SetOption(option->name(), value);
    }
    QELXOptions user = importer->UserOptions();
    importer->ProcessUserOptions(user);
    QELIResult result = importer->SetRequiredOptions(*options);
    result &= importer->ProcessExporterOptions(exporter);
    result &= exporter->PreProcess();
    result &= importer->Import(exporter);
    result &= importer->PostImport();
    result &= exporter->PostProcess();
    return result;
}

} // namespace

QELIDocument::QELIDocument(QELXDocumentHandle& handle) : m_document(handle) { handle = QELXDocumentHandle(); }

void QELIDocument::Detach(QELXDocumentHandle& handle)
{
    handle = m_document;
    m_document = QELXDocumentHandle();
}

void QELXRepresentationRegistry::RegisterImporter(const QELXString& documentType, const QELXRepType& type,
                                                  QELXImporterFactory factory)
{
    importerFactories()[{documentType.c_str(), type.GetName()}] = std::move(factory);
}

QELXImportRepresentation* QELXRepresentationRegistry::CreateImporter(const QELXString& documentType,
                                                                      const QELXRepType& type, QELXDocument* target)
{
    const auto it = importerFactories().find({documentType.c_str(), type.GetName()});
    return it != importerFactories().end() && it->second ? it->second(target) : nullptr;
}

void QELXRepresentationRegistry::Clear() { importerFactories().clear(); }

void QELIConverter::AppendOptions(QELIOptions& extra)
{
    if (!m_converter)
        return;
    QELXOptions& from = extra.Options();
    QELXOption* option = nullptr;
    from.InitEnumeration();
    while (from.GetNext(option) == QELI_OK && option) {
        QELXValue value;
        if (option->GetValue(value) == QELI_OK)
            m_converter->GetOptions()->AddOption(option->name(), value);
    }
}

QELIResult QELIConverter::Convert(QELIDocument& source, QELIDocument& target)
{
    QELXDocument* from = source.Get();
    QELXDocument* to = target.Get();
    if (!m_converter || !from || !to)
        return QELI_INVALID_ARG;
    QELXRepTypes types;
    m_converter->GetRepresentations(types);
    if (types.Count() == 0)
        types.Add(QELXRepType("BRep"));

    QELXDocument* oldInput = m_converter->GetInputDocument();
    m_converter->SetInputDocument(from);
    const ContextScope sourceScope(from, m_converter);
    const ContextScope targetScope(to, m_converter);
    QELIResult result = QELI_OK;
    int converted = 0;
    for (int i = 0; i < types.Count(); ++i) {
        QELXExportRepresentation* exporter = nullptr;
        if (from->GetExportRep(types.Get(i), exporter) != QELI_OK || !exporter)
            continue;
        QELXImportRepresentation* importer =
            QELXRepresentationRegistry::CreateImporter(to->GetDocumentType(), types.Get(i), to);
        if (!importer)
            continue;
        result &= runOne(*m_converter, exporter, importer);
        ++converted;
    }
    m_converter->SetInputDocument(oldInput);
    return converted > 0 ? result : QELI_FAIL;
}
