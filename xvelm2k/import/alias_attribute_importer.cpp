#include "import/alias_attribute_importer.hxx"

#include "model/kernel_call_bracket.hxx"
#include "qelx/qelx_attribute_exporter.hxx"
#include "qelx/qelx_options.hxx"
#include "qelx_velm/source_object_attrib.hxx"
#include "velm/topology.hxx"

#include <cstring>
#include <memory>

namespace {
constexpr const char* kEntitySourceName = "entity source";
constexpr const char* kAliasName = "ATTRIB_XVELM_ALIAS";
} // namespace

QELXVelmAliasAttributeImporter::QELXVelmAliasAttributeImporter() { ReadUseOption(); }

QELXVelmAliasAttributeImporter::QELXVelmAliasAttributeImporter(bool readOption)
{
    if (readOption)
        ReadUseOption();
}

QELIResult QELXVelmAliasAttributeImporter::ReadUseOption()
{
    if (Gk_Option* option = Gk_OptionDoc::fetchOption(Gk_ROString(QELXOptionName::XVelm_UseAttributeImporter))) {
        bool use = false;
        option->fetchValue(use);
        m_disabled = !use;
    }
    return QELI_OK;
}

QELIResult QELXVelmAliasAttributeImporter::SetAttributeExporter(QELXAttributeExporter* exporter)
{
    m_exporter = exporter;
    return exporter ? QELI_OK : QELI_FAIL;
}

QELIResult QELXVelmAliasAttributeImporter::SetFirstAliasIdentifier(const QELXIdentifier& identifier)
{
    m_firstAlias = identifier;
    return QELI_OK;
}

QELIResult QELXVelmAliasAttributeImporter::SetSecondAliasIdentifier(const QELXIdentifier& identifier)
{
    m_secondAlias = identifier;
    return QELI_OK;
}

void QELXVelmAliasAttributeImporter::AddSourceObjectAttribute(QELIResult& result, const QELXIdentifier& source,
                                                              ENTITY* entity)
{
    result = QELI_FAIL;
    if (!m_exporter || !entity || !m_exporter->IsCorvaneExporter())
        return;
    void* native = nullptr;
    if (m_exporter->GetNativePointer(source, native) != QELI_OK || !native)
        return;
    QELX_SOURCE_OBJECT_ATTRIB* made = nullptr;
    const outcome o = velmCall([&] {
        made = new (0, "QELXVelmAliasAttributeImporter", __LINE__, nullptr)
            QELX_SOURCE_OBJECT_ATTRIB(entity, kEntitySourceName, native, split_keep, merge_keep_survivor,
                                      trans_apply, copy_copy);
    });
    if (o.ok() && made)
        result = QELI_OK;
}

void QELXVelmAliasAttributeImporter::TransferAlias(QELIResult& result, ENTITY* entity)
{
    result = QELI_OK;
    if (!m_exporter || !entity)
        return;
    ATTRIB_GEN_NAME* found = nullptr;
    velmCall([&] { return api_find_named_attribute(entity, kEntitySourceName, found); });
    const auto* source = dynamic_cast<const QELX_SOURCE_OBJECT_ATTRIB*>(found);
    if (!source)
        return;
    QELXIdentifier identifier;
    identifier.SetEntityPointer(source->value());
    if (is_BODY(entity))
        identifier.SetTypeName("body");
    int count = 0;
    QELXString* texts = nullptr;
    if (m_exporter->GetAlias(identifier, m_secondAlias, m_firstAlias, count, texts) != QELI_OK)
        return;
    for (int i = 0; i < count && texts; ++i) {
        if (texts[i].length() == 0)
            continue;
        const std::size_t n = texts[i].length();
        std::unique_ptr<char[]> text(new char[n + 1]);
        std::memcpy(text.get(), texts[i].c_str(), n);
        text[n] = '\0';
        // One attribute per alias: the kernel's add call would replace the
        // previous alias of the same name, so the attribute is made here.
        velmCall([&] {
            velm_require(new (0, "QELXVelmAliasAttributeImporter", __LINE__, nullptr)
                             ATTRIB_GEN_STRING(entity, kAliasName, text.get(), split_keep, merge_keep_survivor,
                                               trans_apply, copy_copy));
        });
    }
    m_exporter->ReleaseAlias(count, texts);
}
