// The B-rep exporter: factory, life cycle, options, export preprocessing,
// links of selection sets and collections, and the bracket around each body.
#include "export/brep_exporter.hxx"

#include <functional>
#include <new>

#include "export/attribute_exporter.hxx"
#include "heal/preprocess_utils.hxx"
#include "model/document.hxx"
#include "model/kernel_functions.hxx"
#include "model/memory_init.hxx"
#include "qelx/qelx_document.hxx"
#include "qelx/qelx_document_feature.hxx"
#include "qelx_velm/velm_document.hxx"
#include "qelx_velm/velm_entity_utils.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "velm/groups.hxx"
#include "velm/lists.hxx"
#include "velm/topology_api.hxx"

namespace {

// Conversions carrying these representations read the bodies again after
// the B-rep walk, so a released body must stay in the document.
const QELXRepType& pmiType()
{
    static const QELXRepType type("PMI");
    return type;
}
const QELXRepType& manufacturingType()
{
    static const QELXRepType type("Manufacturing");
    return type;
}
const QELXRepType& documentFeatureType()
{
    static const QELXRepType type("DocumentFeature");
    return type;
}

} // namespace

QELIResult QELXCreateVelmBRepExporter(QELXDocument* document, QELXBRepExporter** out)
{
    auto* exporter = new (std::nothrow) QELXVelmBRepExporter(document);
    if (out)
        *out = exporter;
    return exporter ? QELI_OK : QELI_FAIL;
}

QELXVelmBRepExporter::QELXVelmBRepExporter(QELXDocument* document) : QELXDefaultBRepExporter(document)
{
    try {
        m_documentTag = new Ve_DocumentTag(dynamic_cast<QELXVelmDocument*>(document));
        // Held by one reference: geometry identifiers name it as their owner,
        // and a reader that keeps it longer raises its own.
        m_geometryExporter = new QELXGkGeometryExporter(document);
        m_geometryExporter->RaiseReference();
        m_attributeExporter = new QELXVelmAttributeExporter(m_documentTag);
    } catch (...) {
        if (m_geometryExporter)
            m_geometryExporter->LowerReference();
        delete m_documentTag;
        throw;
    }
}

QELXVelmBRepExporter::~QELXVelmBRepExporter()
{
    QELXPreprocessVelmUtils::exportEnded();
    delete m_attributeExporter;
    m_attributeExporter = nullptr;
    delete m_documentTag;
    m_documentTag = nullptr;
    if (m_geometryExporter)
        m_geometryExporter->LowerReference();
    m_geometryExporter = nullptr;
}

QELIResult QELXVelmBRepExporter::GetOption(QELXString name, QELXOption*& option)
{
    if (!m_documentTag)
        return 0x1000002;
    const QELXString type = QELXDocumentUtils::GetXType(m_documentTag->GetBaseDoc());
    if (!type.isEmpty()) {
        const QELXString qualified =
            QELXString("/") + (type.equals(QELXString("XInventor")) ? QELXString("XVelm") : type) + "/" + name;
        if (Gk_Option* found = Gk_OptionDoc::fetchOption(Gk_ROString(qualified.c_str()))) {
            option = found;
            return 0;
        }
    }
    QELIResult result = QELXExportRepresentation::GetOption(name, option);
    if (option && result != 0)
        result = 0;
    return result;
}

QELIResult QELXVelmBRepExporter::ProcessUserOptions(QELXOptions&)
{
    struct Passed {
        const char* user;
        const char* internal;
    };
    const Passed passed[] = {
        {QELXOptionName::UseAnalyticSurfaceDef, "NeedAnalyticWhileSplining"},
        {QELXOptionName::SplitPeriodic, "SplitPeriodicPreProcess"},
        {"TranslateOldVelmGenericAttributes", "TranslateOldVelmGenericAttributes"},
        {QELXOptionName::CleanModel, "Export/Preprocess/CleanModel"},
        {"DoCheckVelmModel", QELXOptionName::CheckBody},
        {"ExportUseSurfaceLimits", QELXOptionName::UseSurfaceLimits},
    };
    for (const Passed& row : passed) {
        QELXOption* option = nullptr;
        QELXValue value;
        if (GetUserOption(QELXString(row.user), option) == 0 && option && option->GetValue(value) == 0)
            SetOption(QELXString(row.internal), value);
    }
    struct Switched {
        const char* user;
        Gk_Option** first;
        Gk_Option** second;
    };
    const Switched switched[] = {
        {"ConvertSpline", &Ve_OptionDoc::ConvertSpline, &Ve_OptionDoc::SplineAsRational},
        {"EnableSurfaceSimplification", &Ve_OptionDoc::EnableSurfaceSimplification, nullptr},
        {"EnableCurveSimplification", &Ve_OptionDoc::EnableCurveSimplification, nullptr},
        {"TranslateAllStates", &Ve_OptionDoc::TranslateAllStates, nullptr},
    };
    for (const Switched& row : switched) {
        QELXOption* option = nullptr;
        bool value = false;
        if (GetUserOption(QELXString(row.user), option) != 0 || !option || option->GetValue(value) != 0)
            continue;
        for (Gk_Option** target : {row.first, row.second})
            if (target && *target)
                (*target)->set(value, nullptr);
    }
    if (QELXDocument* document = GetDocument()) {
        if (document->GetDocumentType().equals(QELXString("INVENTOR")) && Ve_OptionDoc::HealBodyPostProcessInventor)
            Ve_OptionDoc::HealBodyPostProcessInventor->set(true, nullptr);
    }
    return 0;
}

QELIResult QELXVelmBRepExporter::GetRequiredOptions(QELXOptions& options)
{
    return Ve_DocumentTag::GetRequiredOptions(options);
}

QELIResult QELXVelmBRepExporter::GetAttributeExporter(QELXAttributeExporter*& out)
{
    out = m_attributeExporter;
    return 0;
}

QELIResult QELXVelmBRepExporter::GetGeometryExporter(QELXGeometryExporter*& out)
{
    out = m_geometryExporter;
    return m_geometryExporter ? QELI_OK : QELI_FAIL;
}

// ---------------------------------------------------------------------------
// Preprocessing and links

QELIResult QELXVelmBRepExporter::DoPreProcess()
{
    if (!m_documentTag)
        return 0x1000001;
    m_faceDomains.Clear();
    QELIResult result = 0;
    if (m_state == 1)
        m_documentTag->Clear();
    if (m_documentTag->IsPreprocessDone()) {
        result = m_documentTag->GetNumberOfEntities() == 0 ? 2 : 0;
    } else {
        if (m_state == -1) {
            m_documentTag->GetBRepEntities();
            m_state = 0;
        }
        QELXPreprocessVelmUtils::preProcessBodies(m_documentTag);
        if (m_documentTag->GetNumberOfEntities() == 0)
            result = 2;
    }
    declareLinks();
    return result;
}

namespace {

// Collections and groups reached while linking, so a collection holding
// itself, or two holding each other, is walked once.
void linkCollection(QELCOLLECTION* collection, QELXHashList<QELCOLLECTION*>& seen,
                    const std::function<void(ENTITY*)>& link)
{
    if (!seen.Add(collection))
        return;
    const ENTITY_LIST& members = collection->members();
    for (int i = 0, n = members.count(); i < n; ++i) {
        ENTITY* member = members[i];
        if (!member)
            continue;
        if (is_QELCOLLECTION(member))
            linkCollection(static_cast<QELCOLLECTION*>(member), seen, link);
        else
            link(member);
    }
}

} // namespace

void QELXVelmBRepExporter::declareLinks()
{
    QELXDocument* document = GetDocument();
    if (!document)
        return;
    document->Update();
    QELXRepLinker* linker = document->GetRepLinker();
    auto* velmDocument = dynamic_cast<QELXVelmDocument*>(document);
    ENTITY_LIST* native = nullptr;
    if (!linker || !velmDocument || velmDocument->GetNativeEntityList(native) != 0 || !native)
        return;
    // From the start, wherever an earlier walk left the list's cursor.
    auto link = [&](ENTITY* member, const QELXIdentifierCastHandle& cast) {
        const QELXIdentifier id(QELXVelmEntityUtils::GetIdentifier(member),
                                QELXDocumentFeatureExporter::QELXDocumentFeatureTypeAssociativeGroup, this, "ENTITY",
                                cast);
        QELXIdentifiers targets;
        targets.Add(id);
        linker->AddLink(QELXRepLink(id, targets));
    };
    for (int i = 0, n = native->count(); i < n; ++i) {
        ENTITY* e = (*native)[i];
        if (!e)
            continue;
        bool selectionSet = false;
        if (e->identity(0) == QELGROUP_TYPE && Ve_AttribTransfer::isSelectionSet(e, selectionSet) && selectionSet) {
            const ENTITY_LIST& members = static_cast<QELGROUP*>(e)->members();
            for (int k = 0, m = members.count(); k < m; ++k)
                if (members[k] && QELXVelmEntityUtils::GetIdentifier(members[k]) != 0)
                    link(members[k], QELXIdentifierCastHandle());
        }
        if (is_QELCOLLECTION(e)) {
            QELXHashList<QELCOLLECTION*> seen;
            linkCollection(static_cast<QELCOLLECTION*>(e), seen, [&](ENTITY* member) {
                link(member, QELXIdentifierCastHandle(new QELXVelmIdentifierCast));
            });
        }
    }
}

// ---------------------------------------------------------------------------
// Bodies

QELIResult QELXVelmBRepExporter::PrepareBody(const QELXIdentifier& body)
{
    ENTITY* e = QELXVelmEntityUtils::GetEntity(body);
    if (!is_BODY(e))
        return 0;
    auto* view = reinterpret_cast<Ve_BodyTag*>(e);
    QELXPreprocessVelmUtils::PreProcessBody(view);
    m_faceDomains.Clear();
    if (m_documentTag)
        Ve_DocumentTag::FillCache(view);
    return 0;
}

QELIResult QELXVelmBRepExporter::ReleaseBody(const QELXIdentifier& body)
{
    ENTITY* e = QELXVelmEntityUtils::GetEntity(body);
    if (!is_BODY(e))
        return 0x1000001;
    auto* view = reinterpret_cast<Ve_BodyTag*>(e);
    // The record knows the shells it cached, so both caches go in one step.
    Ve_DocumentTag::RemoveFromCache(view);
    m_faceDomains.Clear();

    QELXOption* option = nullptr;
    bool optimise = true;
    if (GetOption(QELXString("OptimizeMemoryUsage"), option) == 0 && option && option->GetValue(optimise) == 0 &&
        !optimise)
        return 0;
    QELXConverter* conversion = GetTranslationContext();
    if (!conversion)
        return 0;
    QELXRepTypes types;
    conversion->GetRepresentations(types);
    if (types.Count() > 1 &&
        (types.Contains(pmiType()) || types.Contains(manufacturingType()) || types.Contains(documentFeatureType())))
        return 0;

    dropGeometryOf(e);
    if (m_documentTag)
        m_documentTag->RemoveBody(view, true);
    removeFromCollections(e);
    ENTITY_LIST doomed;
    doomed.add(e);
    api_del_entity_list(doomed);
    if (QELXDocument* document = GetDocument()) {
        m_state = 1;
        QELXVelmDocument::SetLoadStatus(document, static_cast<QELXLoadStatus>(1));
    }
    return 0;
}
