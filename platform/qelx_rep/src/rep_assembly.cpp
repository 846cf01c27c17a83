#include "qelx/qelx_assembly.hxx"

#include <algorithm>
#include <new>

QELXAssemblyComponentTransform::QELXAssemblyComponentTransform(const double values[12], double scale)
    : m_scale(scale)
{
    std::copy(values, values + 12, m_values);
}

void QELXAssemblyComponentTransform::Get(double matrix[9], double translation[3]) const
{
    std::copy(m_values, m_values + 9, matrix);
    std::copy(m_values + 9, m_values + 12, translation);
}

QELIResult QELXAssemblyImporter::CreateDefinitionContext(QELXConverter*& context)
{
    context = new (std::nothrow) QELXConverter();
    if (!context)
        return QELI_FAIL;
    if (QELXConverter* running = GetTranslationContext()) {
        context->SetAssemblyContext(running);
        context->SetScaleFactor(running->GetScaleFactor());
        context->SetDocumentFactory(running->GetDocumentFactory());
        QELXOptions* from = running->GetOptions();
        QELXOption* option = nullptr;
        from->InitEnumeration();
        while (from->GetNext(option) == QELI_OK && option) {
            QELXValue value;
            if (option->GetValue(value) == QELI_OK)
                context->GetOptions()->AddOption(option->name(), value);
        }
    }
    return QELI_OK;
}

QELIResult QELXAssemblyImporter::ReleaseDefinitionContext(QELXConverter*& context)
{
    delete context;
    context = nullptr;
    return QELI_OK;
}

QELIResult QELXDefaultAssemblyImporter::GetPartPreferredRepresentation(QELXDocument*, QELXRepType& type)
{
    type = QELXRepType("BRep");
    return QELI_OK;
}

QELIResult QELXDefaultAssemblyImporter::GetPartRepresentations(QELXDocument* document, QELXRepTypes& types)
{
    types.Add(QELXRepType("BRep"));
    if (document)
        for (const char* name : {"Header", "DocumentFeature"}) {
            QELXExportRepresentation* rep = nullptr;
            if (document->GetExportRep(QELXRepType(name), rep) == QELI_OK && rep)
                types.Add(QELXRepType(name));
        }
    return QELI_OK;
}

QELIResult QELXDefaultAssemblyImporter::GetPartImportDocumentType(QELXString& type)
{
    type = "VELM";
    return QELI_OK;
}

QELIResult QELXDefaultAssemblyImporter::GetPartSavePath(QELXString& path)
{
    path = QELXString();
    return QELI_FAIL;
}

QELIResult QELXDefaultAssemblyImporter::Scale(double factor)
{
    m_scale = factor;
    return QELI_OK;
}

QELIResult QELXDefaultAssemblyImporter::UpdateUnitOf(QELXDocument* document)
{
    if (!document)
        return QELI_FAIL;
    QELXUnit unit = QELX_UNIT_UNSPECIFIED;
    const QELXDocument* own = GetDocument();
    if (!own || own->GetUnit(unit) != QELI_OK) {
        unit = GetImportUnit();
        if (unit == QELX_UNIT_UNSPECIFIED)
            return QELI_FAIL;
    }
    document->SetUnit(unit);
    return QELI_OK;
}
