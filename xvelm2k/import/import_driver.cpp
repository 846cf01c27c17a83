// The importer object, its options, its entry point and the import driver:
// the stages over another format's B-rep, or the direct copy of a kernel
// document's bodies.
#include "import/brep_importer.hxx"

#include "heal/repair_utils.hxx"
#include "import/brep_creator.hxx"
#include "import/item_guard.hxx"
#include "model/document.hxx"
#include "model/kernel_call_bracket.hxx"
#include "model/math_types.hxx"
#include "qelx/qelx_brep_exporter.hxx"
#include "qelx/qelx_errors.hxx"
#include "qelx/qelx_events.hxx"
#include "qelx/qelx_units.hxx"
#include "qelx_velm/default_geometry_importer.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "qelx_velm/velm_document.hxx"
#include "qelx_velm/velm_entity_utils.hxx"
#include "velm/build.hxx"
#include "velm/groups.hxx"
#include "velm/insanity.hxx"
#include "velm/save.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

#include <new>

namespace {

// User option -> internal option, read and set as they are.
struct OptionRow {
    const char* user;
    const char* internal;
};

constexpr OptionRow plainOptionsBefore[] = {
    {QELXOptionName::ChangeVertexGeom, QELXOptionName::ChangeVertexGeom},
    {"ExtendSurfIfPCrvOutsideSrf", QELXOptionName::Import_ExtendIfPCrvOutsideSrf},
    {QELXOptionName::TranslateAttributes, "TransferAttribute"},
    {QELXOptionName::TranslateAttributePID, "PID"},
    {QELXOptionName::TranslateAttributePName, "PName"},
    {"TranslateOldVelmGenericAttributes", "TranslateOldVelmGenericAttributes"},
    {QELXOptionName::AcceptBadData, QELXOptionName::AcceptBadData},
    {"SplitAtG1Disc", "SplitAtG1Disc"},
    {"CheckAndFixG1ThreeDCrv", "CheckAndFixG13dCrv"},
};

constexpr OptionRow plainOptionsMiddle[] = {
    {QELXOptionName::TranslateFreePoints, QELXOptionName::Import_Mode_Solid_Point},
    {"TranslateFreeCurves", QELXOptionName::Import_Mode_Solid_Wire},
    {"TranslateSheetBodies", QELXOptionName::Import_Mode_Solid_Trim},
    {QELXOptionName::SourceUnitAsAttrib, "AttachSrcFileUnitAsAttrib"},
    {QELXOptionName::TranslateLayersAndFilters, "TransferLayer"},
    {QELXOptionName::TranslateSelectionSets, "TransferSelectionSets"},
    {"EnableWideCharAttribs", "EnableWideCharAttribs"},
    {"Healing", "HealBody"},
    {"SaveMajorVersion", "MajorSaveVersion"},
    {"SaveMinorVersion", "MinorSaveVersion"},
    {"SaveMode", "SaveMode"},
    {"HealBodyPostProcess", QELXOptionName::HealBodyPostProcess_XStep},
    {"SplitAllNonG1ContinuousFaces", "SplitAllNonG1ContinuousFaces"},
};

constexpr OptionRow plainOptionsAfter[] = {
    {"DoCheckVelmModel", QELXOptionName::CheckBody},
    {QELXOptionName::ElementNameOption, QELXOptionName::ElementNameOption},
    {"ExportUseSurfaceLimits", QELXOptionName::UseSurfaceLimits},
    {QELXOptionName::MergeC1Edges, "MergeC1Edges"},
    {"PsetToPolyline", "PsetToPolyline"},
    {QELXOptionName::TranslateGroupAsAssemblies, QELXOptionName::TranslateGroupAsAssemblies},
};

bool sameKindOfDocument(const QELXString& target, const QELXString& source)
{
    if (!target.isEmpty() && !source.isEmpty() && QELXCompareUtil::isEqual(target, source))
        return true;
    return QELXCompareUtil::isEqual(source, "XInventor") && QELXCompareUtil::isEqual(target, "XVelm");
}

} // namespace

// ---- object, factory

QELXVelmBRepImporter::QELXVelmBRepImporter(QELXDocument* document)
    : QELXDefaultBRepImporter(document), m_result(new Ve_CocoonTag)
{
    m_document = new Ve_DocumentTag(dynamic_cast<QELXVelmDocument*>(document));
    m_layerImporter = new QELXVelmLayerImporter;
    if (!document)
        return;
    // A document that has no entity list yet has no layers either.
    const auto* native = static_cast<const ENTITY_LIST*>(document->GetNativeData(QELXString()));
    if (!native)
        return;
    QELXDynamicArray<QELGROUP*> layers;
    for (int i = 0, n = native->count(); i < n; ++i) {
        ENTITY* e = (*native)[i];
        bool isLayer = false;
        if (e && e->identity() == QELGROUP_TYPE && Ve_AttribTransfer::isLayer(e, isLayer) && isLayer)
            layers.Add(static_cast<QELGROUP*>(e));
    }
    m_layerImporter->SetLayers(layers);
}

QELXVelmBRepImporter::~QELXVelmBRepImporter()
{
    if (!m_handedOver) {
        // Bodies no document received go with the importer.
        ENTITY_LIST made;
        for (Ve_BodyTag* b : m_result->getBodies())
            made.add(reinterpret_cast<ENTITY*>(b));
        if (m_document)
            for (Ve_BodyTag* b : m_document->GetSolids())
                made.add(reinterpret_cast<ENTITY*>(b));
        for (int i = 0, n = made.count(); i < n; ++i)
            if (ENTITY* body = made[i]; body && velm_is_live_entity(body) && is_BODY(body)) {
                Ve_DocumentTag::RemoveFromCache(reinterpret_cast<Ve_BodyTag*>(body));
                api_del_entity(body);
            }
        // So do the layer groups this import made (the document's own stay).
        const auto* native =
            GetDocument() ? static_cast<const ENTITY_LIST*>(GetDocument()->GetNativeData(QELXString())) : nullptr;
        if (m_layerImporter)
            for (QELGROUP* layer : m_layerImporter->GetLayers())
                if (layer && velm_is_live_entity(layer) && !(native && native->lookup(layer) >= 0))
                    api_del_entity(layer);
    }
    delete m_document;
    delete m_topologyCreator;
    delete m_geometryImporter;
    delete m_layerImporter;
    for (int i = 0, n = m_replacedBodies.count(); i < n; ++i)
        if (ENTITY* body = m_replacedBodies[i])
            api_del_entity(body);
    // Faces made only to answer a question, and never put into a body since.
    for (int i = 0, n = m_answeredFaces.count(); i < n; ++i) {
        auto* face = static_cast<FACE*>(m_answeredFaces[i]);
        if (face && velm_is_live_entity(face) && !face->shell())
            api_del_entity(face);
    }
}

extern "C" QELIResult QELXCreateVelmBRepImporter(QELXDocument* document, QELXBRepImporter** out)
{
    if (!out)
        return QELI_FAIL;
    *out = new (std::nothrow) QELXVelmBRepImporter(document);
    return *out ? QELI_OK : QELI_FAIL;
}

void QELXVelmBRepImporter::ReleaseSourceLookups()
{
    delete m_topologyCreator;
    m_topologyCreator = nullptr;
}

void QELXVelmBRepImporter::SetGeometryImporter(QELXDefaultGeometryImporter* importer)
{
    if (importer == m_geometryImporter)
        return;
    delete m_geometryImporter;
    m_geometryImporter = importer;
}

// ---- options

QELIResult QELXVelmBRepImporter::ProcessUserOptions(QELXOptions&)
{
    const auto copyAsRead = [this](const OptionRow& row) {
        QELXOption* option = nullptr;
        QELXValue value;
        if (GetUserOption(row.user, option) == QELI_OK && option && option->GetValue(value) == QELI_OK)
            SetOption(row.internal, value);
    };
    for (const OptionRow& row : plainOptionsBefore)
        copyAsRead(row);

    // A boolean spline-resurface switch reaches the kernel side as 1 or 0.
    {
        QELXOption* option = nullptr;
        QELXValue value;
        if (GetUserOption(QELXOptionName::DoSplineResurface, option) == QELI_OK && option &&
            option->GetValue(value) == QELI_OK) {
            if (option->GetValueType() == QELXValue::Bool) {
                bool on = true;
                option->GetValue(on);
                SetOption(QELXOptionName::DoSplineResurface, QELXValue(on ? 1 : 0));
            } else {
                SetOption(QELXOptionName::DoSplineResurface, value);
            }
        }
    }

    for (const OptionRow& row : plainOptionsMiddle)
        copyAsRead(row);

    // Solids as sheets: the topology road off and its trim fallback on, or the reverse.
    {
        QELXOption* option = nullptr;
        bool asSheets = false;
        if (GetUserOption("TranslateSolidAsSheets", option) == QELI_OK && option &&
            option->GetValue(asSheets) == QELI_OK) {
            SetOption(QELXOptionName::Import_Mode_Solid_Tplgy, QELXValue(!asSheets));
            SetOption(QELXOptionName::Import_Mode_Solid_Tplgy_false_Trim, QELXValue(asSheets));
        }
    }

    for (const OptionRow& row : plainOptionsAfter)
        copyAsRead(row);
    return QELI_OK;
}

QELIResult QELXVelmBRepImporter::SetRequiredOptions(QELXOptions& options)
{
    const QELIResult base = QELXImportRepresentation::SetRequiredOptions(options);
    if (base != QELI_OK)
        return base;
    QELIResult result = base;
    result &= Ve_DocumentTag::SetRequiredOptionsOfKernel(options);
    return result;
}

QELIResult QELXVelmBRepImporter::ProcessExporterOptions(QELXExportRepresentation* source)
{
    return Ve_DocumentTag::SetExporterOptions(source);
}

// ---- bodies handed to the document

bool QELXVelmBRepImporter::AddCreatedBody(void* body)
{
    if (!m_document)
        return false;
    if (!body)
        return true;
    // The document tag carries old IGES husks over as attributes when asked.
    m_document->AddBody(body);
    return true;
}

bool QELXVelmBRepImporter::AddCreatedEntity(void* entity)
{
    if (!m_document)
        return false;
    m_document->appendAssembly(static_cast<Ve_AssemblyTag*>(entity));
    return true;
}

QELIResult QELXVelmBRepImporter::GetCreatedEntities(const QELXIdentifier& source, QELXIdentifiers& created)
{
    if (!m_topologyCreator)
        return QELI_FAIL;
    // The creator's face lookup answers for every identifier: a face it has
    // not met is made on the spot (loops and coedges from the source, no
    // body). The framework relies on that answer; such a face is deleted with
    // the importer unless a body took it meanwhile.
    FACE* face = nullptr;
    // A kernel error (an allocation that failed) ends the answer, never the
    // caller: what the lookup had made goes with the importer.
    const int failed = velmGuard([&] { face = m_topologyCreator->GetFace(source); });
    if (failed != 0) {
        velmGuard([&] {
            if (FACE* made = m_topologyCreator->GetFace(source); made && !made->shell())
                m_answeredFaces.add(made);
        });
        return QELI_FAIL;
    }
    if (!face)
        return QELI_FAIL;
    if (!face->shell())
        m_answeredFaces.add(face);
    QELXIdentifier id;
    id.SetEntityPointer(face);
    created.Add(id);
    return QELI_OK;
}

void QELXVelmBRepImporter::TransferEntityLayer(ENTITY* entity, const QELXIdentifier& source,
                                               QELXAttributeExporter* attributes, ENTITY*, int bodyLayer)
{
    if (Ve_OptionDoc::isOn(Ve_OptionDoc::TransferLayer) && m_layerImporter)
        m_layerImporter->ImportEntityLayer(entity, source, attributes, bodyLayer);
}

int QELXVelmBRepImporter::GetNumberOfImportedBodies() const
{
    return m_result.get() ? m_result->getNumberOfBodies() : 0;
}

Ve_BodyTag* QELXVelmBRepImporter::GetImportedBodyAt(int index) const
{
    if (!m_result.get() || index < 0 || index >= m_result->getNumberOfBodies())
        return nullptr;
    return m_result->getBodies()[index];
}

// ---- entry and driver

QELIResult QELXVelmBRepImporter::Import(QELXExportRepresentation* source)
{
    if (!source)
        return QELI_NO_SOURCE;
    QELXUnit unit = QELX_UNIT_UNSPECIFIED;
    if (const QELXDocument* own = GetDocument(); own && own->GetUnit(unit) == QELI_OK && save_info)
        save_info->set_units(GetGkUnitFromQELXUnit(unit).value());
    return DoImport(source);
}

QELIResult QELXVelmBRepImporter::DoImport(QELXExportRepresentation* source)
{
    if (!source)
        return QELI_NO_SOURCE;
    m_checks = std::make_unique<check_geometry_memo>();
    QELXDocument* sourceDocument = source->GetDocument();
    QELXDocument* targetDocument = GetDocument();
    if (!sourceDocument || !targetDocument)
        return QELI_FAIL;
    // Deleted on every way out, the framework's abort among them.
    std::unique_ptr<Gk_ImportContext> context(new (std::nothrow) Gk_ImportContext(targetDocument, sourceDocument));
    if (!context)
        return QELI_FAIL;
    if (!m_frame.IsIdentity())
        context->SetMorph(context->GetMorph().Compose(m_frame));
    auto* exporter = dynamic_cast<QELXBRepExporter*>(source);
    if (!(source->GetType() == QELXRepType("BRep")) || !exporter)
        return QELI_FAIL;

    if (Ve_OptionDoc::isOn(Ve_OptionDoc::UseDefaultGeomImporter)) {
        QELXGeometryExporter* geometry = nullptr;
        // The context's morph, as the roads' own points take it: the scale
        // between the documents' units and the frame imported into.
        if (exporter->GetGeometryExporter(geometry) == QELI_OK && geometry)
            SetGeometryImporter(new QELXDefaultGeometryImporter(geometry, context->GetMorph()));
    }
    if (Ve_OptionDoc::isOn(Ve_OptionDoc::TransferLayer) && m_document && m_layerImporter)
        m_layerImporter->SetLayerMap(*m_document->GetLayerAttMap());

    QELIResult result = QELI_OK;
    const QELXString target = QELXDocumentUtils::GetXType(context->GetTargetDocument());
    const QELXString sourceType = QELXDocumentUtils::GetXType(context->GetSourceDocument());
    // Copying needs kernel bodies behind the source: a document of another
    // kind that only records a kernel type (a neutral document written from
    // one) takes the full roads, or nothing of it would be imported.
    if (sameKindOfDocument(target, sourceType) && dynamic_cast<QELXVelmDocument*>(context->GetSourceDocument())) {
        CopyBodies(exporter, context.get());
        RepairCopiedBodies();
        return QELI_OK;
    }

    int bodies = 0, surfaces = 0, curves = 0, points = 0;
    exporter->GetNumberOfBodies(bodies);
    exporter->GetNumberOfFreeSurfaces(surfaces);
    exporter->GetNumberOfFreeCurves(curves);
    exporter->GetNumberOfFreePoints(points);
    const double total = static_cast<double>(bodies) + surfaces + curves + points;
    using Stage = QELIResult (QELXVelmBRepImporter::*)(QELXBRepExporter*, Gk_ImportContext*);
    const struct {
        const char* name;
        int count;
        Stage run;
    } stages[] = {
        {"Body", bodies, &QELXVelmBRepImporter::ImportBodies},
        {"FreeSurface", surfaces, &QELXVelmBRepImporter::ImportFreeSurfaces},
        {"FreeCurve", curves, &QELXVelmBRepImporter::ImportFreeCurves},
        {"FreePoint", points, &QELXVelmBRepImporter::ImportFreePoints},
    };
    for (const auto& s : stages) {
        if (s.count <= 0)
            continue;
        QELXStartConversionStageEvent stage(s.name, s.count, s.count * 0.6 / total, false);
        QELXEventBus::Fire(stage);
        result &= (this->*s.run)(exporter, context.get());
        stage.SetFinished();
        QELXEventBus::Fire(stage);
    }

    for (Ve_BodyTag* body : m_result->getBodies())
        AddCreatedBody(body);
    const int made = m_result->getNumberOfBodies();
    const int filters = m_document ? m_document->GetNumberOfLayerFilters() : 0;
    // Failures of single items were reported by their stages; what counts now
    // is whether anything came of the source.
    return made == 0 && filters == 0 ? QELIResult(2) : QELI_OK;
}

QELIResult QELXVelmBRepImporter::CopyBodies(QELXBRepExporter* source, Gk_ImportContext* context)
{
    if (!source || !context)
        return QELI_FAIL;
    int n = 0;
    source->GetNumberOfBodies(n);
    const Gk_Option* productLevel = Gk_OptionDoc::fetchOption(QELXOptionName::Pilon_Import_CallAtProductLevel);
    const bool atProductLevel = Ve_OptionDoc::isOn(productLevel);
    if (!atProductLevel)
        Gk_ObserverUtil::CoreTplgyBodyTransPhase.setMax(n);
    QELXStartConversionStageEvent stage("Body", n, 0.6, false);
    QELXEventBus::Fire(stage);
    const QELtransf transform = Ve_Morph(context->GetMorph());
    for (int i = 0; i < n; ++i) {
        QELXIdentifier id;
        source->GetBody(i, id);
        if (auto* body = static_cast<BODY*>(QELXVelmEntityUtils::GetEntity(id)); body && is_BODY(body)) {
            BODY* copy = nullptr;
            const outcome copied = api_copy_body(body, copy);
            Gk_ErrMgr::checkAbort();
            if (!copied.ok())
                Gk_ErrMgr::doAssert("ve_bodytag", 258);
            if (copied.ok() && copy) {
                // A copy that cannot be placed is no copy: it goes, and the
                // source body is reported as not copied.
                const outcome placed = velmCall([&] {
                    outcome r = api_apply_transf(copy, transform);
                    return r.ok() ? api_change_body_trans(copy, nullptr) : r;
                });
                if (placed.ok()) {
                    AddCreatedBody(copy);
                    m_result->appendBody(reinterpret_cast<Ve_BodyTag*>(copy));
                } else {
                    api_del_entity(copy);
                    Gk_ErrMgr::doAssert("ve_bodytag", 258);
                }
            }
        }
        if (!atProductLevel)
            Gk_ObserverUtil::CoreTplgyBodyTransPhase.setDone(i + 1);
        QELXStartTranslateEntityEvent::Fire("Body", "BRep", i + 1);
    }
    stage.SetFinished();
    QELXEventBus::Fire(stage);
    if (!atProductLevel)
        Gk_ObserverUtil::CoreTplgyBodyTransPhase.setOver();
    return QELI_OK;
}

QELIResult QELXVelmBRepImporter::RepairCopiedBodies()
{
    QELXStartConversionStageEvent stage("ToVelmRepair", m_result->getNumberOfBodies(), 0.4, true);
    QELXEventBus::Fire(stage);
    const QELXDynamicArray<Ve_BodyTag*> copies = m_result->getBodies();
    QELXVeRepairUtils::postProcessHeal(m_result.get());
    // Healing may replace or remove a copy: the document's solids follow the
    // result, so that nothing later reads a body healing deleted.
    if (m_document) {
        QELXHashList<Ve_BodyTag*> copied;
        for (Ve_BodyTag* b : copies)
            copied.Add(b);
        ENTITY_LIST solids;
        for (Ve_BodyTag* b : m_document->GetSolids())
            if (b && !copied.Contains(b))
                solids.add(reinterpret_cast<ENTITY*>(b));
        for (Ve_BodyTag* b : m_result->getBodies())
            solids.add(reinterpret_cast<ENTITY*>(b));
        m_document->ClearBodies(false);
        m_document->appendSolids(solids);
    }
    stage.SetFinished();
    QELXEventBus::Fire(stage);
    return QELI_OK;
}
