// The walk of the source assembly: use counts, definition conversion (parts
// through a nested framework conversion, sub-assemblies by placing their
// children) and the part-document cache.
#include "model/memory_init.hxx"
#include "assembly/flat_assembly_importer.hxx"

#include "model/kernel_functions.hxx"
#include "qelx/gk_import.hxx"
#include "qelx/qeli_conversion.hxx"
#include "qelx/qelx_events.hxx"
#include "qelx_velm/qeli_velm_document.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "qelx_velm/velm_document.hxx"
#include "velm/groups.hxx"
#include "velm/memory.hxx"

namespace {

struct PartDocumentCache {
    QELXHashMap<QELXIdentifier, QELXDocumentHandle> documents;
    int hits = 0;
    int insertions = 0;
};

PartDocumentCache& partCache()
{
    static PartDocumentCache cache;
    return cache;
}

// Parts converted under the current root (the conversion events count them).
int rootPartCounter = 0;

bool isGroupKind(ENTITY* e, bool (*test)(ENTITY*, bool&))
{
    bool flag = false;
    return is_QELGROUP(e) && test(e, flag) && flag;
}

} // namespace

QELIResult Ve_PartDocumentCache::Lookup(const QELXIdentifier& definition, QELXDocumentHandle& handle)
{
    if (!partCache().documents.Get(definition, handle))
        return QELI_FAIL;
    ++partCache().hits;
    return QELI_OK;
}

QELIResult Ve_PartDocumentCache::Insert(const QELXIdentifier& definition, const QELXDocumentHandle& handle)
{
    if (partCache().documents.Add(definition, handle))
        ++partCache().insertions;
    return QELI_OK;
}

int Ve_PartDocumentCache::Count() { return partCache().documents.Count(); }
int Ve_PartDocumentCache::Hits() { return partCache().hits; }
int Ve_PartDocumentCache::Insertions() { return partCache().insertions; }

void Ve_PartDocumentCache::Clear()
{
    partCache().documents.Clear();
    partCache().hits = 0;
    partCache().insertions = 0;
}

// ---------------------------------------------------------------------------
// Use counts

void QELXFlatVelmAssemblyImporter::countUsesBelow(const QELXIdentifier& definition, QELIResult&)
{
    int m = 0;
    if (m_source->GetComponentCount(definition, m) != QELI_OK)
        return;
    for (int j = 0; j < m; ++j) {
        QELXIdentifier child;
        QELXIdentifier childDefinition;
        bool isAssembly = false;
        if (m_source->GetComponent(definition, j, child) != QELI_OK || !child.IsValid() ||
            m_source->GetDefinition(child, childDefinition) != QELI_OK || !childDefinition.IsValid() ||
            m_source->IsAssembly(childDefinition, isAssembly) != QELI_OK)
            continue;
        int uses = 0;
        const bool isNew = !m_totalUses.Get(childDefinition, uses);
        if (isNew)
            m_totalUses.Add(childDefinition, 1);
        else
            m_totalUses.Set(childDefinition, uses + 1);
        // Each distinct assembly contributes its children once, as the walk converts it once.
        QELIResult ignored;
        if (isAssembly && isNew)
            countUsesBelow(childDefinition, ignored);
    }
}

QELIResult QELXFlatVelmAssemblyImporter::countUses()
{
    if (!m_source || m_source->GetType() != GetType())
        return QELI_INVALID_ARG;
    // A walk counts afresh: counts left by an earlier walk would never reach the last use.
    m_totalUses.Clear();
    m_usesSoFar.Clear();
    int n = 0;
    m_source->GetRootCount(n);
    if (n <= 0)
        return QELI_NOTHING;
    QELIResult result = QELI_OK;
    for (int i = 0; i < n; ++i) {
        QELXIdentifier root;
        result = m_source->GetRoot(i, root);
        QELXIdentifier definition;
        bool isAssembly = false;
        if (result != QELI_OK || !root.IsValid() || m_source->GetDefinition(root, definition) != QELI_OK ||
            !definition.IsValid() || m_source->IsAssembly(definition, isAssembly) != QELI_OK)
            continue;
        int uses = 0;
        const bool isNew = !m_totalUses.Get(definition, uses);
        if (isNew)
            m_totalUses.Add(definition, 1);
        else
            m_totalUses.Set(definition, uses + 1);
        QELIResult ignored;
        if (isAssembly && isNew)
            countUsesBelow(definition, ignored);
    }
    return result;
}

bool QELXFlatVelmAssemblyImporter::recordUse(const QELXIdentifier& definition)
{
    int soFar = 0;
    if (m_usesSoFar.Get(definition, soFar))
        m_usesSoFar.Set(definition, ++soFar);
    else
        m_usesSoFar.Add(definition, soFar = 1);
    int total = 0;
    return !(m_totalUses.Get(definition, total) && total == soFar);
}

// ---------------------------------------------------------------------------
// Definition conversion

QELIResult QELXFlatVelmAssemblyImporter::definitionDocument(const QELXIdentifier& definition,
                                                            QELXDocumentHandle& handle)
{
    QELIResult result = Ve_PartDocumentCache::Lookup(definition, handle);
    if (result == QELI_OK && handle.IsValid())
        return result;
    handle = QELXDocumentHandle();
    return convertDefinition(definition, handle);
}

QELIResult QELXFlatVelmAssemblyImporter::convertDefinition(const QELXIdentifier& definition,
                                                           QELXDocumentHandle& handle)
{
    if (!m_source)
        return QELI_FAIL;
    bool isAssembly = false;
    QELIResult result = m_source->IsAssembly(definition, isAssembly);
    if (result != QELI_OK)
        return result;
    if (isAssembly) {
        result = convertAssembly(definition, handle);
    } else {
        result = convertPart(definition, handle);
        QELXStartTranslateEntityEvent::Fire("AssemblyRootPart", "Assembly", rootPartCounter++);
    }
    if (handle.IsValid()) {
        const QELIResult inserted = Ve_PartDocumentCache::Insert(definition, handle);
        if (result == QELI_OK)
            result = inserted;
        else
            result &= inserted;
    }
    return result;
}

QELIResult QELXFlatVelmAssemblyImporter::convertPart(const QELXIdentifier& definition, QELXDocumentHandle& handle)
{
    QELIResult result = QELI_FAIL;
    QELXStartConversionStageEvent stage("QELXStackedTranslationStage", 1, 1.0, false);
    QELXEventBus::Fire(stage);
    QELXString name;
    if (m_source->GetDefinitionSourceName(definition, name) != QELI_OK)
        name = QELXString("UNKNOWN");
    QELXStartTranslationTaskEvent::Fire(name, "VELM", true, nullptr, nullptr, nullptr);

    QELXConverter* context = nullptr;
    QELXDocumentHandle part;
    if (CreateDefinitionContext(context) != QELI_OK)
        context = nullptr;
    result = m_source->CreateDefinitionEmptyDocument(definition, context, part);
    if (result != QELI_OK || !part.IsValid()) {
        result &= QELI_NO_SOURCE;
    } else if (const QELIResult loaded = m_source->LoadDefinition(definition, part); loaded != QELI_OK) {
        result = loaded;
    } else {
        // The part's own layers and selection sets meet the assembly's.
        ENTITY_LIST groups;
        for (int i = 0; i < m_selectionSets.count(); ++i)
            if (isGroupKind(m_selectionSets[i], Ve_AttribTransfer::isSelectionSet))
                groups.add(m_selectionSets[i]);
        for (int i = 0; i < m_layers.count(); ++i)
            if (isGroupKind(m_layers[i], Ve_AttribTransfer::isLayer))
                groups.add(m_layers[i]);
        QELIVelmDocument target(groups);
        UpdateUnitOf(target.Get());
        QELIDocument sourceDocument(part);
        QELIConverter converter(context);
        result &= converter.Convert(sourceDocument, target);
        sourceDocument.Detach(part);
        target.Detach(handle);
    }
    // Released on every path once made.
    if (part.IsValid())
        m_source->ReleaseDefinitionDocument(part);
    ReleaseDefinitionContext(context);

    QELXEndTranslationTaskEvent::Fire(QELI_OK, true);
    stage.SetFinished();
    QELXEventBus::Fire(stage);
    return result;
}

bool QELXFlatVelmAssemblyImporter::makeOutputDocument(QELXDocumentHandle& handle)
{
    auto converter = std::make_unique<QELXConverter>();
    converter->SetAssemblyContext(GetTranslationContext());
    if (QELXDocumentFactory* factory = GetDocumentFactory())
        factory->CreateDocument(QELXString("VELM"), converter.get(), handle);
    m_outputContexts.push_back(std::move(converter));
    // Without a factory the placed entities still need a document to stand in.
    if (!dynamic_cast<QELXVelmDocument*>(handle.get()))
        handle = new QELXVelmDocument();
    return handle.IsValid();
}

QELIResult QELXFlatVelmAssemblyImporter::convertAssembly(const QELXIdentifier& definition,
                                                         QELXDocumentHandle& handle)
{
    if (!m_source)
        return QELI_FAIL;
    int m = 0;
    QELIResult result = m_source->GetComponentCount(definition, m);
    if (m == 0)
        return result;
    const Gk_ImportContext context(m_document, m_source->GetDocument());
    const QELXMorph3D morph = context.GetMorph();
    const bool keepOutputs = Ve_OptionDoc::isOn(Ve_OptionDoc::_translateAssemblyFeatures);
    const bool counted = result == QELI_OK;
    for (int j = 0; counted && j < m; ++j) {
        QELXIdentifier child;
        QELXIdentifier childDefinition;
        if (m_source->GetComponent(definition, j, child) != QELI_OK || !child.IsValid() ||
            m_source->GetDefinition(child, childDefinition) != QELI_OK || !childDefinition.IsValid())
            continue;
        QELXDocumentHandle childDocument;
        result = definitionDocument(childDefinition, childDocument);
        bool isAssembly = false;
        if (m_source->IsAssembly(childDefinition, isAssembly) != QELI_OK)
            isAssembly = false;
        const bool keep = recordUse(childDefinition);
        if (!keep && childDocument.IsValid())
            childDocument->HoldContent(false);
        if (!childDocument.IsValid())
            continue;
        ENTITY_LIST placed;
        result = PlaceInstance(childDocument, child, m_source, keep, morph, placed, isAssembly);
        if (result != QELI_OK || placed.iteration_count() == 0)
            continue;
        if (!handle.IsValid())
            makeOutputDocument(handle);
        if (auto* output = dynamic_cast<QELXVelmDocument*>(handle.get()))
            output->AppendNativeEntityList(placed);
        if (keepOutputs) {
            ENTITY_LIST* copy = velm_require(VELM_NEW ENTITY_LIST(placed));
            if (!m_instanceOutputs.Add(child, copy))
                delete copy;
        }
    }
    processFeatures(definition, dynamic_cast<QELXVelmDocument*>(handle.get()));
    if (QELXVelmProductDataCallback_fct && handle.IsValid()) {
        QELXString name;
        if (m_source->GetDefinitionName(definition, name) == QELI_OK) {
            auto* output = dynamic_cast<QELXVelmDocument*>(handle.get());
            ENTITY_LIST* list =
                output ? static_cast<ENTITY_LIST*>(output->GetNativeData(QELXString("ENTITY_LIST"))) : nullptr;
            QELXString none;
            QELXString none2;
            QELXVelmProductDataCallbackWrapper(list, name, none, none2, true);
        }
    }
    return result;
}

// ---------------------------------------------------------------------------
// The walk

void QELXFlatVelmAssemblyImporter::appendGroupsToTarget()
{
    if (!m_document)
        return;
    m_document->AppendNativeEntityList(m_selectionSets);
    m_document->AppendNativeEntityList(m_layers);
}

QELIResult QELXFlatVelmAssemblyImporter::TranslateAssemblyTree(QELXAssemblyExporter* source)
{
    QELIResult result = QELI_FAIL;
    int n = 0;
    m_source = source;
    m_placedRoots = 0;
    result = countUses();
    if (!source)
        return result;
    // Documents a former walk handed over are empty shells now, and its
    // instance outputs and member lists name what it placed: start afresh.
    Ve_PartDocumentCache::Clear();
    releaseWalkLists();

    const Gk_ImportContext context(m_document, source->GetDocument());
    m_unitMorph = context.GetMorph();
    const QELIResult counted = source->GetRootCount(n);
    if (n <= 0)
        return QELI_NOTHING;
    if (counted != QELI_OK)
        return counted;

    const double weight = Ve_OptionDoc::isOn(Ve_OptionDoc::HealAssemBodiesAfterCompleteTranslation) &&
                                  Ve_OptionDoc::isOn(Ve_OptionDoc::HealBody)
                              ? 0.6
                              : 1.0;
    QELXStartConversionStageEvent stage("AssemblyRoot", n, weight, false);
    QELXEventBus::Fire(stage);
    for (int i = 0; i < n; ++i) {
        QELXIdentifier root;
        QELXIdentifier definition;
        if (source->GetRoot(i, root) == QELI_OK && root.IsValid() &&
            source->GetDefinition(root, definition) == QELI_OK && definition.IsValid()) {
            rootPartCounter = 0;
            int p = 0;
            source->GetPartCount(definition, p);
            QELXStartConversionStageEvent partStage("AssemblyRootPart", p, 1.0, false);
            if (p > 0)
                QELXEventBus::Fire(partStage);
            QELXDocumentHandle handle;
            result = definitionDocument(definition, handle);
            bool isAssembly = false;
            if (source->IsAssembly(definition, isAssembly) != QELI_OK)
                isAssembly = false;
            const bool keep = recordUse(definition);
            // Without a document to place into, the cached one keeps its
            // entities and deletes them when it is let go.
            if (handle.IsValid() && m_document) {
                if (!keep)
                    handle->HoldContent(false);
                ENTITY_LIST placed;
                result = PlaceInstance(handle, root, source, keep, m_unitMorph, placed, isAssembly);
                if (result == QELI_OK && placed.iteration_count() > 0) {
                    ++m_placedRoots;
                    m_document->AppendNativeEntityList(placed);
                }
            }
            appendGroupsToTarget();
            if (p > 0) {
                partStage.SetFinished();
                QELXEventBus::Fire(partStage);
            }
        }
        QELXStartTranslateEntityEvent::Fire("AssemblyRoot", "Assembly", i + 1);
    }
    stage.SetFinished();
    QELXEventBus::Fire(stage);
    // Success only when a root was placed: a walk that placed nothing failed.
    if (m_placedRoots > 0 && result == QELI_FAIL)
        result = QELI_OK;
    else if (m_placedRoots == 0 && result == QELI_OK)
        result = QELI_FAIL;
    return result;
}
