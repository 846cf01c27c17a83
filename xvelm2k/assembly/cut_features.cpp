// Assembly cut features: the tools are converted and marked, and a collection
// of group type 4 records them with the bodies of the target instances. No cut
// is performed; the collection is filled once the whole walk is done.
#include "assembly/flat_assembly_importer.hxx"

#include "model/kernel_call_bracket.hxx"
#include "qelx/qeli_conversion.hxx"
#include "qelx_velm/qeli_velm_document.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "qelx_velm/velm_document.hxx"
#include "velm/groups.hxx"
#include "velm/memory.hxx"
#include "velm/topology.hxx"

void QELXFlatVelmAssemblyImporter::registerPendingCollection(QELCOLLECTION* collection, ENTITY_LIST* members)
{
    if (!m_pendingCollections.Add(collection, members))
        delete members;
}

QELIResult QELXFlatVelmAssemblyImporter::processFeatures(const QELXIdentifier& definition, QELXVelmDocument* output)
{
    if (Ve_OptionDoc::isOff(Ve_OptionDoc::_translateAssemblyFeatures))
        return QELI_OK;
    if (!definition.IsValid() || !m_source)
        return QELI_INVALID_ARG;
    m_featureExporter = nullptr;
    if (m_source->GetAssemblyFeatureExporter(m_featureExporter) != QELI_OK || !m_featureExporter) {
        m_featureExporter = nullptr;
        return QELI_OK;
    }
    int f = 0;
    if (m_featureExporter->GetFeatureCount(definition, f) != QELI_OK)
        return QELI_OK;
    for (int k = 0; k < f; ++k) {
        QELXIdentifier feature;
        if (m_featureExporter->GetFeature(definition, k, feature) != QELI_OK || !feature.IsValid())
            continue;
        ENTITY_LIST tools;
        ENTITY_LIST targets;
        convertFeatureTools(feature, tools);
        collectFeatureTargets(feature, targets);
        recordCut(tools, targets, output);
    }
    return QELI_OK;
}

QELIResult QELXFlatVelmAssemblyImporter::convertFeatureTools(const QELXIdentifier& feature, ENTITY_LIST& tools)
{
    if (!feature.IsValid() || !m_featureExporter || !m_source)
        return QELI_INVALID_ARG;
    QELXConverter* context = nullptr;
    if (CreateDefinitionContext(context) != QELI_OK)
        context = nullptr;
    QELXDocumentHandle definitionDocument;
    QELIResult result = m_source->CreateDefinitionEmptyDocument(feature, context, definitionDocument);
    if (result == QELI_OK && definitionDocument.IsValid() &&
        m_featureExporter->LoadFeatureTools(feature, definitionDocument) == QELI_OK) {
        QELXRepTypes types;
        result = GetPartRepresentations(definitionDocument.get(), types);
        if (context)
            context->SetRepresentations(types);
        QELIConverter converter(context);
        QELIOptions options;
        options.Add(QELXString("CheckAndFixReverseBody"), true);
        converter.AppendOptions(options);
        QELIVelmDocument target;
        UpdateUnitOf(target.Get());
        QELIDocument sourceDocument(definitionDocument);
        converter.Convert(sourceDocument, target);
        sourceDocument.Detach(definitionDocument);
        QELXDocumentHandle made;
        target.Detach(made);
        if (auto* doc = dynamic_cast<QELXVelmDocument*>(made.get())) {
            // The tools live on in the cut's collection, not in this document.
            doc->HoldContent(false);
            tools.add(*doc->GetNativeEntityList());
        }
    }
    // The feature's document is released like a part's, on every path.
    if (definitionDocument.IsValid())
        m_source->ReleaseDefinitionDocument(definitionDocument);
    ReleaseDefinitionContext(context);
    return result;
}

QELIResult QELXFlatVelmAssemblyImporter::collectFeatureTargets(const QELXIdentifier& feature, ENTITY_LIST& targets)
{
    if (!feature.IsValid() || !m_featureExporter)
        return QELI_INVALID_ARG;
    int t = 0;
    if (m_featureExporter->GetFeatureTargetCount(feature, t) != QELI_OK)
        return QELI_OK;
    for (int i = 0; i < t; ++i) {
        QELXIdentifier target;
        ENTITY_LIST* placed = nullptr;
        if (m_featureExporter->GetFeatureTarget(feature, i, target) != QELI_OK || !target.IsValid() ||
            !m_instanceOutputs.Get(target, placed) || !placed)
            continue;
        for (int k = 0; k < placed->count(); ++k)
            if (ENTITY* e = (*placed)[k]; e && is_BODY(e))
                targets.add(e);
    }
    return QELI_OK;
}

QELIResult QELXFlatVelmAssemblyImporter::recordCut(ENTITY_LIST& tools, ENTITY_LIST& targets, QELXVelmDocument* output)
{
    if (tools.iteration_count() == 0 && targets.iteration_count() == 0)
        return QELI_FAIL;
    for (int i = 0; i < tools.count(); ++i)
        if (ENTITY* tool = tools[i]; tool && is_BODY(tool))
            velmCall([&] { Ve_AttribTransfer::SetAssemblyCutToolAttrib(tool); });
    if (!output) {
        // No document to keep the collection in: the tools would belong to nothing.
        for (int i = 0; i < tools.count(); ++i)
            if (ENTITY* tool = tools[i])
                velmCall([&] { return api_del_entity(tool); });
        return QELI_OK;
    }
    QELCOLLECTION* collection = nullptr;
    const outcome made = velmCall([&] {
        collection = velm_require(VELM_NEW QELCOLLECTION());
        Ve_AttribTransfer::setGroupType(collection, Ve_GroupCutFeatureCollection);
    });
    if (!made.ok() || !collection)
        return QELI_FAIL;
    ENTITY_LIST one;
    one.add(collection);
    output->AppendNativeEntityList(one);
    auto* members = velm_require(VELM_NEW ENTITY_LIST(tools));
    members->add(targets);
    registerPendingCollection(collection, members);
    return QELI_OK;
}
