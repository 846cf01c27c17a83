// The connector's fixed option tables: required options with defaults, two
// framework options copied into kernel options, and the options set on a
// source exporter before an import reads it.
#include "model/document.hxx"
#include "model/memory_init.hxx"
#include "qelx/qelx_options.hxx"
#include "qelx/qelx_representation.hxx"
#include "velm/options.hxx"

QELIResult Ve_DocumentTag::GetRequiredOptions(QELXOptions& options)
{
    options.AddOption(QELXOptionName::Import_Mode_Solid_Point, true);
    options.AddOption(QELXOptionName::WriteProcessor, "VELM/IGES");
    options.AddOption("WriteTolInMm", 1e-6);
    options.AddOption("DefaultWriteScaleFactor", 1.0);
    options.AddOption(QELXOptionName::DefaultUnitFactor, 1.0);
    options.AddOption("HealByLoftingSurf", true);
    options.AddOption("HealBodyPostProcess|XVelm", true);
    options.AddOption("TranslateOldVelmGenericAttributes", true);
    options.AddOption(QELXOptionName::SplitPeriodic, true);
    options.AddOption("ManageExoticTopology", true);
    options.AddOption("StitchSheetBodies", true);
    options.AddOption("ImportSingleFace2DShellAsTopology", true);
    return 0;
}

QELIResult Ve_DocumentTag::SetRequiredOptionsOfKernel(const QELXOptions& options)
{
    // The enumeration cursor is the set's own; walking it changes nothing else.
    QELXOptions& set = const_cast<QELXOptions&>(options);
    set.InitEnumeration();
    QELXOption* option = nullptr;
    while (set.GetNext(option) == 0 && option) {
        QELXString name;
        if (option->GetName(name) != 0)
            continue;
        const char* target = nullptr;
        if (name.equals(QELXString("UseNewPCurve")))
            target = QELXOptionName::new_pcurve;
        else if (name.equals(QELXString("NewPCurveFit")))
            target = QELXOptionName::new_pcurve_fit;
        else
            continue;
        if (option_header* kernelOption = find_option(target)) {
            bool value = false;
            option->GetValue(value);
            kernelOption->set(value ? 1 : 0);
        }
    }
    return 0;
}

QELIResult Ve_DocumentTag::SetExporterOptions(QELXExportRepresentation* exporter)
{
    if (!exporter)
        return 0x1000001;
    struct Row {
        const char* name;
        QELXValue value;
    };
    using N = QELXOptionName;
    const Row rows[] = {
        {N::Export_LumpSupported, false},
        {N::System_Read, true},
        {N::Export_SmoothenPCurve, false},
        {"UsePCurvesOnSurfaceType", 2},
        {"ShareGeometry", true},
        {"ShareTopology", false},
        {N::Read_MergeWireDuplVertices, false},
        {"OptionProductID", false},
        {N::VdaImport_Preprocess_Split, false},
        {N::SplitAnalytics_XVelm, false},
        {N::Import_Preprocess_Split_PropEdge, true},
        {N::ChkSeam, false},
        {N::SplitRingEdge, false},
        {N::Import_Preprocess_Split_SplineCnt, true},
        {N::ChkImprintCrvInterSection, true},
        {N::IgnoreInvalidfaces, true},
        {"ReadProcessor", QELXValue(QELXString("VELM"))},
        {N::ReadVisibleLayerOnly, true},
        {N::ReadNonBlankedParts, true},
        {N::PreProcessGenericData, true},
        {N::Import_Preprocess_Split_PropEdge, true},
        {N::ExposeDegeneracies, true},
        {N::SplitAnalytics_XVelm, false},
        {N::SplitRingEdge, false},
        {"SplitinBothParams", false},
        {N::ChkSeam, false},
        {N::Import_Preprocess_Split_PropEdge, true},
        {N::Import_Preprocess_Split_SplineCnt, true},
        {N::ChkImprintCrvInterSection, false},
        {"CheckOffsetBeforeTrimming", true},
        {N::PreprocessBodyPreProcess_XVelm, true},
    };
    for (const Row& row : rows)
        exporter->SetOption(QELXString(row.name), row.value);
    return 0;
}
