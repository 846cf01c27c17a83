// The assembly importer's frame: factory, construction and destruction, the
// option mapping, the import entry and the commit with its repair stage.
#include "assembly/flat_assembly_importer.hxx"

#include "heal/repair_utils.hxx"
#include "heal/step_watch.hxx"
#include "import/brep_importer.hxx"
#include "model/body_set.hxx"
#include "model/document.hxx"
#include "model/kernel_call_bracket.hxx"
#include "qelx/qeli_conversion.hxx"
#include "qelx/qelx_events.hxx"
#include "qelx/qelx_units.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "qelx_velm/velm_document.hxx"
#include "velm/groups.hxx"
#include "velm/save.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

#include <new>
#include <vector>

void QELXFlatVelmAssemblyImporter::RegisterPartImporter()
{
    QELXRepresentationRegistry::RegisterImporter(QELXString("VELM"), QELXRepType("BRep"),
                                                 [](QELXDocument* doc) -> QELXImportRepresentation* {
                                                     QELXBRepImporter* made = nullptr;
                                                     return QELXCreateVelmBRepImporter(doc, &made) == QELI_OK
                                                                ? made
                                                                : nullptr;
                                                 });
}

QELIResult QELXCreateVelmAssemblyImporter(QELXDocument* document, QELXAssemblyImporter** out)
{
    QELXAssemblyImporter* made = new (std::nothrow) QELXFlatVelmAssemblyImporter(document);
    if (out)
        *out = made;
    return made ? QELI_OK : QELI_FAIL;
}

namespace {

const QELXRepType& assemblyType()
{
    static const QELXRepType type("Assembly");
    return type;
}

// Groups of the list: selection sets into one list, layers into the other
// (a group can be both).
void sortGroups(ENTITY_LIST* list, ENTITY_LIST& selectionSets, ENTITY_LIST& layers, ENTITY_LIST* all)
{
    if (!list)
        return;
    for (int i = 0; i < list->count(); ++i) {
        ENTITY* e = (*list)[i];
        if (!e)
            continue;
        if (all)
            all->add(e);
        if (!is_QELGROUP(e))
            continue;
        bool flag = false;
        if (Ve_AttribTransfer::isSelectionSet(e, flag) && flag)
            selectionSets.add(e);
        flag = false;
        if (Ve_AttribTransfer::isLayer(e, flag) && flag)
            layers.add(e);
    }
}

ENTITY_LIST* nativeList(QELXVelmDocument* doc, const char* typeName)
{
    return doc ? static_cast<ENTITY_LIST*>(doc->GetNativeData(QELXString(typeName))) : nullptr;
}

} // namespace

QELXFlatVelmAssemblyImporter::QELXFlatVelmAssemblyImporter(QELXDocument* document)
    : QELXDefaultAssemblyImporter(document), m_document(dynamic_cast<QELXVelmDocument*>(document))
{
    sortGroups(nativeList(m_document, ""), m_selectionSets, m_layers, nullptr);
}

QELXFlatVelmAssemblyImporter::~QELXFlatVelmAssemblyImporter()
{
    Ve_PartDocumentCache::Clear();
    releaseWalkLists();
}

void QELXFlatVelmAssemblyImporter::releaseWalkLists()
{
    for (int slot = 0; slot < m_instanceOutputs.Capacity(); ++slot)
        if (m_instanceOutputs.IsUsed(slot))
            delete m_instanceOutputs.ValueAt(slot);
    m_instanceOutputs.Clear();
    for (int slot = 0; slot < m_pendingCollections.Capacity(); ++slot)
        if (m_pendingCollections.IsUsed(slot))
            delete m_pendingCollections.ValueAt(slot);
    m_pendingCollections.Clear();
}

QELXRepType QELXFlatVelmAssemblyImporter::GetType() const { return assemblyType(); }

QELIResult QELXFlatVelmAssemblyImporter::ProcessUserOptions(QELXOptions&)
{
    using N = QELXOptionName;
    struct Row {
        const char* user;
        const char* internal;
    };
    static const Row rows[] = {
        {N::ChangeVertexGeom, N::ChangeVertexGeom},
        {"ExtendSurfIfPCrvOutsideSrf", N::Import_ExtendIfPCrvOutsideSrf},
        {N::TranslateAttributes, "TransferAttribute"},
        {"TranslateOldVelmGenericAttributes", "TranslateOldVelmGenericAttributes"},
        {N::AcceptBadData, N::AcceptBadData},
        {"SplitAtG1Disc", "SplitAtG1Disc"},
        {"CheckAndFixG1ThreeDCrv", "CheckAndFixG13dCrv"},
        {N::DoSplineResurface, N::DoSplineResurface},
        {N::TranslateFreePoints, N::Import_Mode_Solid_Point},
        {"TranslateFreeCurves", N::Import_Mode_Solid_Wire},
        {"TranslateSheetBodies", N::Import_Mode_Solid_Trim},
        {N::SourceUnitAsAttrib, "AttachSrcFileUnitAsAttrib"},
        {N::TranslateLayersAndFilters, "TransferLayer"},
        {N::TranslateSelectionSets, "TransferSelectionSets"},
        {"Healing", "HealBody"},
        {"SaveMajorVersion", "MajorSaveVersion"},
        {"SaveMinorVersion", "MinorSaveVersion"},
        {"SaveMode", "SaveMode"},
        {"HealBodyPostProcess", N::HealBodyPostProcess_XStep},
        {"SplitAllNonG1ContinuousFaces", "SplitAllNonG1ContinuousFaces"},
        {"TranslateSolidAsSheets", nullptr}, // two options, below
        {"DoCheckVelmModel", N::CheckBody},
        {N::ElementNameOption, N::ElementNameOption},
        {"TranslateAssemblyFeatures", "TranslateAssemblyFeatures"},
    };
    for (const Row& row : rows) {
        QELXOption* option = nullptr;
        if (GetUserOption(QELXString(row.user), option) != QELI_OK || !option)
            continue;
        if (!row.internal) {
            bool sheets = false;
            if (option->GetValue(sheets) != QELI_OK)
                continue;
            SetOption(QELXString(N::Import_Mode_Solid_Tplgy), QELXValue(!sheets));
            SetOption(QELXString(N::Import_Mode_Solid_Tplgy_false_Trim), QELXValue(sheets));
            continue;
        }
        QELXValue value;
        if (option->GetValue(value) != QELI_OK)
            continue;
        SetOption(QELXString(row.internal), value);
    }
    return QELI_OK;
}

QELIResult QELXFlatVelmAssemblyImporter::SetRequiredOptions(QELXOptions& options)
{
    QELIResult result = QELXDefaultAssemblyImporter::SetRequiredOptions(options);
    if (result == QELI_OK)
        result &= Ve_DocumentTag::SetRequiredOptionsOfKernel(options);
    return result;
}

QELIResult QELXFlatVelmAssemblyImporter::ProcessExporterOptions(QELXExportRepresentation* source)
{
    return Ve_DocumentTag::SetExporterOptions(source);
}

void QELXFlatVelmAssemblyImporter::readTargetGroups(bool recordStart)
{
    sortGroups(nativeList(m_document, "ENTITY_LIST"), m_selectionSets, m_layers,
               recordStart ? &m_entitiesAtStart : nullptr);
}

QELIResult QELXFlatVelmAssemblyImporter::Import(QELXExportRepresentation* source)
{
    if (!source || source->GetType() != assemblyType())
        return QELI_INVALID_ARG;
    auto* assembly = dynamic_cast<QELXAssemblyExporter*>(source);
    if (!assembly)
        return QELI_INVALID_ARG;

    QELXUnit unit = QELX_UNIT_UNSPECIFIED;
    if (m_document && m_document->GetUnit(unit) == QELI_OK && save_info)
        save_info->set_units(GetGkUnitFromQELXUnit(unit).value());

    readTargetGroups(true);
    const QELIResult result = TranslateAssemblyTree(assembly);

    // Cut-feature collections get their members now that every instance is placed.
    ENTITY_LIST* target = nativeList(m_document, "ENTITY_LIST");
    ENTITY_LIST tools;
    ENTITY_LIST unplacedGroups;
    for (int slot = 0; slot < m_pendingCollections.Capacity(); ++slot) {
        if (!m_pendingCollections.IsUsed(slot))
            continue;
        QELCOLLECTION* collection = m_pendingCollections.KeyAt(slot);
        ENTITY_LIST* members = m_pendingCollections.ValueAt(slot);
        if (!collection || !members)
            continue;
        velmCall([&] { return api_add_to_collection(*members, collection); });
        // The tools stay in the result as ordinary bodies, and the groups
        // their documents came with (a tool's layer) with them: nothing else
        // holds either. Those of a collection that was never placed belong
        // to nothing and go; a group only when no placed collection holds it
        // too (the collections of a cell's placements share its groups).
        const bool placed = target && target->contains(collection);
        for (int i = 0; i < members->count(); ++i) {
            ENTITY* e = (*members)[i];
            if (e && is_QELGROUP(e)) {
                (placed ? tools : unplacedGroups).add(e);
                continue;
            }
            if (!e || !is_BODY(e) || !Ve_AttribTransfer::IsAssemblyCutTool(e))
                continue;
            if (placed)
                tools.add(e);
            else if (!target || !target->contains(e))
                velmCall([&] { return api_del_entity(e); });
        }
    }
    for (int i = 0; i < unplacedGroups.count(); ++i)
        if (ENTITY* group = unplacedGroups[i];
            group && !tools.contains(group) && (!target || !target->contains(group)))
            velmCall([&] { return api_del_entity(group); });
    if (m_document && tools.iteration_count() > 0)
        m_document->AppendNativeEntityList(tools);
    return result;
}

QELIResult QELXFlatVelmAssemblyImporter::PostImport()
{
    if (Ve_OptionDoc::isOn(Ve_OptionDoc::HealBodyPostProcessV5))
        QELXVeRepairUtils::MakeQELXVelmProductDataCallback(m_document, true);
    if (Ve_OptionDoc::isOn(Ve_OptionDoc::HealAssemBodiesAfterCompleteTranslation))
        return repairAssembly();
    return QELI_OK;
}

void QELXFlatVelmAssemblyImporter::healBody(BODY* body, ENTITY_LIST& healed)
{
    Ve_CocoonTag cocoon;
    cocoon.appendBody(reinterpret_cast<Ve_BodyTag*>(body));
    if (Ve_OptionDoc::isOn(Ve_OptionDoc::HealBody))
        velmCall([&] { QELXVeRepairUtils::postProcessHeal(&cocoon); });
    const QELXDynamicArray<Ve_BodyTag*> bodies = cocoon.getBodies();
    for (Ve_BodyTag* b : bodies)
        if (b)
            healed.add(reinterpret_cast<ENTITY*>(b));
}

QELIResult QELXFlatVelmAssemblyImporter::repairAssembly()
{
    ENTITY_LIST* list = nativeList(m_document, "ENTITY_LIST");
    if (!list)
        return QELI_FAIL;
    QELXStartConversionStageEvent stage("ToVelmRepairAssembly", list->iteration_count(), 0.4, false);
    QELXEventBus::Fire(stage);
    ENTITY_LIST rebuilt;
    std::vector<BODY*> healedBodies;
    int k = 0;
    for (int i = 0; i < list->count(); ++i) {
        ENTITY* e = (*list)[i];
        if (!e)
            continue;
        if (m_entitiesAtStart.contains(e) || !is_BODY(e)) {
            rebuilt.add(e);
        } else {
            QELXStartConversionStageEvent one("ToVelmRepair", 1, 1.0, true);
            QELXEventBus::Fire(one);
            ENTITY_LIST healed;
            healBody(static_cast<BODY*>(e), healed);
            one.SetFinished();
            QELXEventBus::Fire(one);
            rebuilt.add(healed);
            for (int h = 0; h < healed.count(); ++h)
                healedBodies.push_back(static_cast<BODY*>(healed[h]));
        }
        QELXStartTranslateRepairEvent::Fire("ToVelmRepairAssembly", "BRep", ++k);
    }
    // Judged as a single import judges what it healed: each body the
    // healing left, by its place among them and its instance's name.
    if (Ve_OptionDoc::isOn(Ve_OptionDoc::HealBody))
        ve_heal::warnUnsoundHealedBodies(healedBodies);
    stage.SetFinished();
    QELXEventBus::Fire(stage);
    list->clear();
    list->add(rebuilt);
    return QELI_OK;
}
