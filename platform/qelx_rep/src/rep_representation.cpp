#include "qelx/qelx_attribute_exporter.hxx"
#include "qelx/qelx_representation.hxx"

namespace {

// Last option of that name in the set; null when none.
QELXOption* lastOption(QELXOptions& options, const QELXString& name)
{
    QELXOption* found = nullptr;
    return options.GetOption(name, found) == QELI_OK ? found : nullptr;
}

} // namespace

QELXConverter* QELXRepresentation::GetTranslationContext() const
{
    const QELXDocument* doc = GetDocument();
    return doc ? doc->GetTranslationContext() : nullptr;
}

QELXDocumentFactory* QELXRepresentation::GetDocumentFactory() const
{
    const QELXConverter* context = GetTranslationContext();
    return context ? context->GetDocumentFactory() : nullptr;
}

QELIResult QELXRepresentation::InitializeOptions()
{
    m_options.Clear();
    return QELI_OK;
}

QELIResult QELXRepresentation::GetOptions(QELXOptions*& options)
{
    options = &m_options;
    return QELI_OK;
}

QELXString QELXRepresentation::OptionKey(const QELXString& name) const
{
    if (name.view().starts_with('/'))
        return name;
    const QELXString xType = QELXDocumentUtils::GetXType(GetDocument());
    return xType.isEmpty() ? "/" + name : "/" + xType + "/" + name;
}

QELIResult QELXRepresentation::SetOption(const QELXString& name, const QELXValue& value)
{
    if (name.isEmpty())
        return QELI_INVALID_ARG;
    if (QELXOption* existing = lastOption(m_options, name))
        existing->SetValue(value);
    else
        m_options.AddOption(name, value);
    Gk_OptionDoc::setOption(OptionKey(name), value);
    return QELI_OK;
}

QELIResult QELXRepresentation::GetOption(QELXString name, QELXOption*& option)
{
    QELXOption* found = lastOption(m_options, name);
    if (!found)
        return QELI_FAIL;
    option = found;
    return QELI_OK;
}

QELIResult QELXRepresentation::GetUserOption(const QELXString& name, QELXOption*& option)
{
    QELXOption* found = lastOption(m_userOptions, name);
    if (!found)
        return QELI_FAIL;
    option = found;
    return QELI_OK;
}

QELIResult QELXRepresentation::ProcessUserOptions(QELXOptions&) { return QELI_OK; }

QELIResult QELXExportRepresentation::GetAttributeExporter(QELXAttributeExporter*& out)
{
    out = nullptr;
    return QELI_FAIL;
}

QELIResult QELXExportRepresentation::GetOption(QELXString name, QELXOption*& option)
{
    if (QELXRepresentation::GetOption(name, option) == QELI_OK)
        return QELI_OK;
    if (Gk_Option* published = Gk_OptionDoc::fetchOption(OptionKey(name))) {
        option = published;
        return QELI_OK;
    }
    return QELI_FAIL;
}

QELIResult QELXExportRepresentation::GetStringValue(const QELXString&, int, QELXString&) { return QELI_FAIL; }

void QELXDefaultImporterSummary::AddItem(const QELXString& name, int count)
{
    for (auto& item : m_items)
        if (item.first.equals(name)) {
            item.second += count;
            return;
        }
    m_items.emplace_back(name, count);
}

int QELXDefaultImporterSummary::Value(const QELXString& name) const
{
    for (const auto& item : m_items)
        if (item.first.equals(name))
            return item.second;
    return 0;
}

QELXImportRepresentation::~QELXImportRepresentation() = default;

QELIResult QELXImportRepresentation::GetEntitiesCreatedFrom(const QELXIdentifier& source, QELXIdentifiers& created)
{
    QELXDocument* doc = GetDocument();
    return doc ? doc->GetRepLinker()->GetLinks(source, created) : QELIResult(QELI_FAIL);
}

QELIResult QELXImportRepresentation::GetSummary(QELXDefaultImporterSummary*& summary)
{
    summary = m_summary.get();
    return summary ? QELI_OK : QELI_FAIL;
}

QELIResult QELXImportRepresentation::SetUnit(QELXUnit unit)
{
    m_unit = unit;
    return QELI_OK;
}

QELIResult QELXImportRepresentation::InitializeQELXImporterSummary()
{
    m_summary = std::make_unique<QELXDefaultImporterSummary>();
    return QELI_OK;
}
