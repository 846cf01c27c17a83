// Trim import of solids and sheets: each source face built alone from its
// surface and loops and stitched into sheet bodies.
//
// The road itself is not built yet: a body sent down it fails alone, with a
// warning that names it.
#include "import/brep_importer.hxx"

#include "qelx/qelx_events.hxx"

#include <cstdio>
#include <string>

namespace {

QELIResult refuseTrimBody(const char* road, const QELXIdentifier& body)
{
    char text[160];
    std::snprintf(text, sizeof text, "BRep body %llx: not imported, the %s trim road is not available",
                  static_cast<unsigned long long>(body.GetValue()), road);
    QELXWarningEvent::Fire(text);
    return QELI_FAIL;
}

} // namespace

QELIResult QELXVelmBRepImporter::ImportSolidAsTrim(QELXBRepExporter*, const QELXIdentifier& body, Gk_ImportContext*)
{
    return refuseTrimBody("solid", body);
}

QELIResult QELXVelmBRepImporter::ImportSheetAsTrim(QELXBRepExporter*, const QELXIdentifier& body, Gk_ImportContext*)
{
    return refuseTrimBody("sheet", body);
}

Gk_ObsWraper QELXVelmBRepImporter::FetchFaceCallback(Gk_ImportContext* context)
{
    if (!context)
        return Gk_ObsWraper();
    return Gk_ImportMachine::fetchCallbackForEntity("Face", QELXDocumentUtils::GetXType(context->GetTargetDocument()),
                                                    QELXDocumentUtils::GetXType(context->GetSourceDocument()), false);
}

Gk_ObsWraper QELXVelmBRepImporter::FetchTrimBodyCallback(Gk_ImportContext* context)
{
    if (!context)
        return Gk_ObsWraper();
    return Gk_ImportMachine::fetchCallbackForEntity("TrimBody",
                                                    QELXDocumentUtils::GetXType(context->GetTargetDocument()),
                                                    QELXDocumentUtils::GetXType(context->GetSourceDocument()), false);
}
