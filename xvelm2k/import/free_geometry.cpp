// Free surfaces, curves and points: each a kernel body of its own.
//
// The roads are not built yet: each stage reports, in one warning, what it
// leaves out, and fails; the bodies of the source are imported all the same.
#include "import/brep_importer.hxx"

#include "qelx/qelx_brep_exporter.hxx"
#include "qelx/qelx_events.hxx"

#include <string>

namespace {

QELIResult refuseFreeStage(const char* what, int count)
{
    QELXWarningEvent::Fire((std::to_string(count) + " free " + what + ": not imported, free " + what +
                            " are not read yet")
                               .c_str());
    return QELI_FAIL;
}

} // namespace

QELIResult QELXVelmBRepImporter::ImportFreeSurfaces(QELXBRepExporter* source, Gk_ImportContext*)
{
    int n = 0;
    if (source)
        source->GetNumberOfFreeSurfaces(n);
    return refuseFreeStage("surfaces", n);
}

QELIResult QELXVelmBRepImporter::ImportFreeCurves(QELXBRepExporter* source, Gk_ImportContext*)
{
    int n = 0;
    if (source)
        source->GetNumberOfFreeCurves(n);
    return refuseFreeStage("curves", n);
}

QELIResult QELXVelmBRepImporter::ImportFreePoints(QELXBRepExporter* source, Gk_ImportContext*)
{
    int n = 0;
    if (source)
        source->GetNumberOfFreePoints(n);
    return refuseFreeStage("points", n);
}

QELIResult QELXVelmBRepImporter::ImportFreeSurface(QELXGeometryExporter*, const QELXIdentifier&, Gk_ImportContext*)
{
    return QELI_FAIL;
}

QELIResult QELXVelmBRepImporter::ImportFreeCurve(QELXGeometryExporter*, const QELXIdentifier&, Gk_ImportContext*)
{
    return QELI_FAIL;
}

QELIResult QELXVelmBRepImporter::ImportFreePoint(QELXGeometryExporter*, const QELXIdentifier&, Gk_ImportContext*)
{
    return QELI_FAIL;
}
