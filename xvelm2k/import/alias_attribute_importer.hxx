#pragma once
// Records on an imported kernel entity which source entity it came from
// ("entity source", the source's native pointer) and the alias texts the
// source knows for it ("ATTRIB_XVELM_ALIAS", one per non-empty alias).
#include "qelx/qelx_identifier.hxx"
#include "qelx/qelx_result.hxx"
#include "xvelm2k/export.hxx"

class ENTITY;
class QELXAttributeExporter;

class XVELM2KA_API QELXVelmAliasAttributeImporter {
public:
    // Disabled unless the option XVelm_UseAttributeImporter is present and on.
    QELXVelmAliasAttributeImporter();
    // Stays disabled until ReadUseOption.
    explicit QELXVelmAliasAttributeImporter(bool readOption);
    QELXVelmAliasAttributeImporter(const QELXVelmAliasAttributeImporter&) = delete;
    QELXVelmAliasAttributeImporter& operator=(const QELXVelmAliasAttributeImporter&) = delete;
    virtual ~QELXVelmAliasAttributeImporter() = default;

    QELIResult ReadUseOption();
    bool IsDisabled() const { return m_disabled; }
    QELIResult SetAttributeExporter(QELXAttributeExporter* exporter);
    QELIResult SetFirstAliasIdentifier(const QELXIdentifier& identifier);
    QELIResult SetSecondAliasIdentifier(const QELXIdentifier& identifier);
    // 0x1000001 when no attribute was made.
    void AddSourceObjectAttribute(QELIResult& result, const QELXIdentifier& source, ENTITY* entity);
    // Always 0.
    void TransferAlias(QELIResult& result, ENTITY* entity);

private:
    QELXAttributeExporter* m_exporter = nullptr;
    QELXIdentifier m_firstAlias;
    QELXIdentifier m_secondAlias;
    bool m_disabled = true;
};
