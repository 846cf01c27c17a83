#include "qelx/qelx_document.hxx"
#include "qelx/qelx_representation.hxx"

#include <filesystem>
#include <system_error>

void QELXRepTypes::Add(const QELXRepType& type)
{
    if (!Contains(type))
        m_types.push_back(type);
}

bool QELXRepTypes::Contains(const QELXRepType& type) const
{
    for (const QELXRepType& t : m_types)
        if (t == type)
            return true;
    return false;
}

QELIResult QELXRepLinker::AddLink(const QELXRepLink& link)
{
    QELXIdentifiers& targets = m_links[link.GetSource().GetValue()];
    for (int i = 0; i < link.GetTargets().Count(); ++i)
        targets.Add(link.GetTargets().Get(i));
    return QELI_OK;
}

QELIResult QELXRepLinker::GetLinks(const QELXIdentifier& source, QELXIdentifiers& targets) const
{
    const auto it = m_links.find(source.GetValue());
    if (it == m_links.end() || it->second.Count() == 0)
        return QELI_FAIL;
    for (int i = 0; i < it->second.Count(); ++i)
        targets.Add(it->second.Get(i));
    return QELI_OK;
}

QELIResult QELXFilePath::GetName(QELXString& name) const
{
    if (m_path.isEmpty())
        return QELI_FAIL;
    name = QELXString(std::filesystem::path(std::string(m_path.view())).filename().string());
    return QELI_OK;
}

QELIResult QELXFile::GetFilePath(QELXFilePath& path) const
{
    path = m_path;
    return QELI_OK;
}

int QELXGetFileProperties(const wchar_t* path, const wchar_t* format, QELXFileProperties*& props,
                          const wchar_t*, int)
{
    props = nullptr;
    if (!path)
        return static_cast<int>(QELI_INVALID_ARG);
    // The wide text is converted the framework's way (UTF-32 -> UTF-8).
    const std::filesystem::path file(std::string(QELXString(path).view()));
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec))
        return static_cast<int>(QELI_FILE_NOT_FOUND);
    props = new QELXFileProperties;
    props->path = path;
    props->format = format ? format : L"";
    props->size = std::filesystem::file_size(file, ec);
    return 0;
}

int QELXReleaseFileProperties(QELXFileProperties*& props)
{
    delete props;
    props = nullptr;
    return 0;
}

QELXDocument::QELXDocument() = default;
QELXDocument::~QELXDocument() = default;

void* QELXDocument::GetNativeData(const QELXString&) { return nullptr; }

QELIResult QELXDocument::GetUnit(QELXUnit& unit) const
{
    if (!m_hasUnit)
        return QELI_FAIL;
    unit = m_unit;
    return QELI_OK;
}

void QELXDocument::SetUnit(QELXUnit unit)
{
    m_unit = unit;
    m_hasUnit = true;
}

QELIResult QELXDocument::GetFileHandle(QELXFile*& file)
{
    file = m_file.get();
    return file ? QELI_OK : QELI_FAIL;
}

void QELXDocument::SetFile(const QELXString& path)
{
    m_file.reset(path.isEmpty() ? nullptr : new QELXFile(path));
}

QELIResult QELXDocument::GetExportRep(const QELXRepType& type, QELXExportRepresentation*& rep)
{
    for (auto it = m_exportReps.rbegin(); it != m_exportReps.rend(); ++it) {
        auto* candidate = static_cast<QELXExportRepresentation*>(it->get());
        if (candidate->GetType() == type) {
            rep = candidate;
            return QELI_OK;
        }
    }
    return QELI_FAIL;
}

void QELXDocument::AddExportRep(QELXExportRepresentation* rep)
{
    if (rep)
        m_exportReps.emplace_back(rep);
}

QELXString QELXDocumentUtils::GetXType(const QELXDocument* doc) { return doc ? doc->GetXType() : QELXString(); }

bool QELXCompareUtil::isEqual(const QELXString& a, const QELXString& b) { return a.view() == b.view(); }

QELIResult QELXConverter::GetRepresentations(QELXRepTypes& types) const
{
    types = m_types;
    return QELI_OK;
}

namespace {
QELXConverter* g_currentContext = nullptr;
}

QELXConverter* QELXConverter::GetCurrentContext() { return g_currentContext; }
void QELXConverter::SetCurrentContext(QELXConverter* context) { g_currentContext = context; }
