// The connector document: life cycle, kernel settings, members, groups and
// assemblies. Gathering is in document_gather.cpp, the option tables in
// document_options.cpp, the caches in document_caches.cpp.
#include "model/document.hxx"

#include <cmath>
#include <cstring>

#include "model/kernel_call_bracket.hxx"
#include "model/math_types.hxx"
#include "model/memory_init.hxx"
#include "model/views_internal.hxx"
#include "persist/brep_attrib_transfer.hxx"
#include "persist/ve_assem_delete_mgr.hxx"
#include "persist/ve_assembly.hxx"
#include "qelx/qelx_errors.hxx"
#include "qelx/qelx_options.hxx"
#include "qelx_velm/velm_document.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "velm/build.hxx"
#include "velm/groups.hxx"
#include "velm/options.hxx"
#include "velm/save.hxx"

using namespace ve_views;

namespace {

// An option counts as on when it exists and holds a non-zero integer or logical value.
int optionOn(const char* name)
{
    const option_header* option = find_option(name);
    return option && (option->type() == option_int || option->type() == option_logical) && option->count() != 0
               ? 1
               : 0;
}

char* copyLabel(const char* text)
{
    const std::size_t n = std::strlen(text);
    char* copy = new char[n + 1];
    std::memcpy(copy, text, n + 1);
    return copy;
}

// The identity where a morph is missing.
QELtransf morphAt(const QELXDynamicArray<QELXMorph3D>& morphs, int i)
{
    return i < morphs.Count() ? QELtransf(Ve_Morph(morphs[i])) : QELtransf();
}

} // namespace

// ---------------------------------------------------------------------------
// Life cycle

Ve_DocumentTag::Ve_DocumentTag(QELXVelmDocument* doc) : m_baseDoc(doc)
{
    ClearCaches();
    GetOriginalKernelOptionsValues();
}

Ve_DocumentTag::Ve_DocumentTag(const Ve_DocumentTag& other)
{
    copyFrom(other);
}

Ve_DocumentTag& Ve_DocumentTag::operator=(const Ve_DocumentTag& other)
{
    if (this != &other) {
        freeLabels();
        copyFrom(other);
    }
    return *this;
}

void Ve_DocumentTag::copyFrom(const Ve_DocumentTag& other)
{
    m_solids = other.m_solids;
    m_assemblies = other.m_assemblies;
    m_layers = other.m_layers;
    m_layerNumbers = other.m_layerNumbers;
    m_layerFilters = other.m_layerFilters;
    m_layerFilterLabels.Clear();
    for (const char* label : other.m_layerFilterLabels)
        m_layerFilterLabels.Add(copyLabel(label));
    m_layerAttMap = other.m_layerAttMap;
    m_collections = other.m_collections;
    m_baseDoc = other.m_baseDoc;
    m_preprocessDone = other.m_preprocessDone;
    m_savedUnits = other.m_savedUnits;
    m_savedNewPCurve = other.m_savedNewPCurve;
    m_savedNewPCurveFit = other.m_savedNewPCurveFit;
    m_isCopy = true;
}

Ve_DocumentTag::~Ve_DocumentTag()
{
    if (m_isCopy) {
        freeLabels();
        return;
    }
    Clear();
    m_baseDoc = nullptr;
    ResetOriginalKernelOptionsValues();
}

void Ve_DocumentTag::GetOriginalKernelOptionsValues()
{
    if (save_info)
        m_savedUnits = save_info->units();
    if (find_option(QELXOptionName::new_pcurve))
        m_savedNewPCurve = optionOn(QELXOptionName::new_pcurve);
    if (find_option(QELXOptionName::new_pcurve_fit))
        m_savedNewPCurveFit = optionOn(QELXOptionName::new_pcurve_fit);
}

void Ve_DocumentTag::ResetOriginalKernelOptionsValues()
{
    if (option_header* option = find_option(QELXOptionName::new_pcurve))
        option->set(m_savedNewPCurve);
    if (option_header* option = find_option(QELXOptionName::new_pcurve_fit))
        option->set(m_savedNewPCurveFit);
    if (save_info && std::fabs(m_savedUnits - 0.0) > 1e-6)
        save_info->set_units(m_savedUnits);
}

// ---------------------------------------------------------------------------
// Members

int Ve_DocumentTag::GetNumberOfEntities() const
{
    return m_solids.Count() + m_assemblies.Count() + m_layers.Count() + m_layerFilters.Count();
}

namespace {

template <class T>
QELIResult addAll(const QELXDynamicArray<T*>& array, ENTITY_LIST& list)
{
    for (T* e : array)
        list.add(reinterpret_cast<ENTITY*>(e));
    return 0;
}

} // namespace

QELIResult Ve_DocumentTag::GetSolidEntityList(ENTITY_LIST& list) const { return addAll(m_solids, list); }
QELIResult Ve_DocumentTag::GetLayerEntityList(ENTITY_LIST& list) const { return addAll(m_layers, list); }
QELIResult Ve_DocumentTag::GetLayerFilterEntityList(ENTITY_LIST& list) const { return addAll(m_layerFilters, list); }

QELIResult Ve_DocumentTag::GetLayerVec(QELXDynamicArray<QELGROUP*>& out) const
{
    out.Append(m_layers);
    return 0;
}

QELIResult Ve_DocumentTag::GetLayerFilterVec(QELXDynamicArray<QELGROUP*>& out) const
{
    out.Append(m_layerFilters);
    return 0;
}

void Ve_DocumentTag::transferHusks(Ve_BodyTag* body)
{
    if (Ve_OptionDoc::isOn(Ve_OptionDoc::TransferOldIgesHuskAsAttribs))
        QELXVelmBRepAttribTransfer::transferOldIgesHuskAttributesRecursively(reinterpret_cast<BODY*>(body));
}

bool Ve_DocumentTag::AddBody(void* body)
{
    if (!body)
        return true;
    auto* view = static_cast<Ve_BodyTag*>(body);
    transferHusks(view);
    m_solids.Add(view);
    return true;
}

bool Ve_DocumentTag::appendSolid(Ve_BodyTag* body, bool native)
{
    if (!body)
        return true;
    AddBody(body);
    if (native && m_baseDoc) {
        ENTITY_LIST one;
        one.add(reinterpret_cast<ENTITY*>(body));
        m_baseDoc->AppendNativeEntityList(&one);
    }
    return true;
}

bool Ve_DocumentTag::appendSolids(const ENTITY_LIST& list)
{
    for (int i = 0, n = list.count(); i < n; ++i)
        if (ENTITY* e = list[i])
            m_solids.Add(ve_view<Ve_BodyTag>(e));
    return true;
}

bool Ve_DocumentTag::AddAssembly(void* assembly)
{
    m_assemblies.Add(static_cast<Ve_AssemblyTag*>(assembly));
    return true;
}

bool Ve_DocumentTag::appendAssembly(Ve_AssemblyTag* assembly)
{
    m_assemblies.Add(assembly);
    return true;
}

void Ve_DocumentTag::AddCollection(QELCOLLECTION* collection) { m_collections.Add(collection); }

bool Ve_DocumentTag::AppendCollection(QELCOLLECTION* collection)
{
    if (!collection)
        return false;
    m_collections.Add(collection);
    return true;
}

bool Ve_DocumentTag::AddLayer(QELGROUP* layer)
{
    if (!layer)
        return false;
    m_layers.Add(layer);
    return true;
}

bool Ve_DocumentTag::AddLayerFilter(QELGROUP* filter)
{
    if (!filter)
        return false;
    m_layerFilters.Add(filter);
    return true;
}

// ---------------------------------------------------------------------------
// Removing and emptying

void Ve_DocumentTag::RemoveBody(Ve_BodyTag* body, bool fromDocument)
{
    const int slot = m_solids.Find(body);
    if (slot >= 0)
        m_solids[slot] = nullptr;
    if (fromDocument && m_baseDoc)
        m_baseDoc->RemoveEntity(reinterpret_cast<ENTITY*>(body));
}

void Ve_DocumentTag::RemoveBodyAt(int i) { m_solids.RemoveAt(i); }

void Ve_DocumentTag::ClearBodies(bool fromDocument)
{
    ENTITY_LIST* native = nullptr;
    if (fromDocument && m_baseDoc && m_baseDoc->GetNativeEntityList(native) == 0 && native) {
        for (Ve_BodyTag* body : m_solids)
            native->remove(reinterpret_cast<ENTITY*>(body));
    }
    m_solids.Clear();
}

void Ve_DocumentTag::freeLabels()
{
    for (char* label : m_layerFilterLabels)
        delete[] label;
    m_layerFilterLabels.Clear();
}

void Ve_DocumentTag::Clear()
{
    ClearCaches();
    m_solids.Clear();
    m_assemblies.Clear();
    m_layers.Clear();
    m_layerNumbers.Clear();
    m_layerFilters.Clear();
    freeLabels();
    m_layerAttMap.Clear();
    m_preprocessDone = false;
}

void Ve_DocumentTag::empty()
{
    // Everything to delete is gathered first, each entity once: a body placed
    // by an assembly goes with its assembly, a sub-assembly with its parent,
    // a body or assembly listed twice once.
    QELXHashList<Ve_BodyTag*> placed;
    QELXHashList<Ve_AssemblyTag*> below;
    QELXHashList<Ve_AssemblyTag*> roots;
    for (Ve_AssemblyTag* assembly : m_assemblies) {
        if (!assembly)
            continue;
        QELXDynamicArray<Ve_BodyTag*> bodies;
        assembly->fetchReferredBodies(bodies);
        for (Ve_BodyTag* b : bodies)
            placed.Add(b);
        QELXDynamicArray<Ve_AssemblyTag*> subs;
        assembly->fetchReferredCmpnts(subs);
        for (Ve_AssemblyTag* sub : subs)
            if (sub != assembly)
                below.Add(sub);
    }
    QELXHashList<Ve_BodyTag*> deleted;
    for (Ve_BodyTag* body : m_solids) {
        if (!body || placed.Contains(body) || !deleted.Add(body))
            continue;
        RemoveFromCache(body);
        const outcome result = api_del_entity(reinterpret_cast<ENTITY*>(body));
        Gk_ErrMgr::checkAbort();
        if (!result.ok())
            Gk_ErrMgr::doAssert("ve_bodytag", 0);
    }
    // One manager over every root: it records each shared part of the trees
    // once and deletes what it recorded when it goes.
    Ve_AssemDeleteMgr* manager = nullptr;
    for (Ve_AssemblyTag* assembly : m_assemblies) {
        if (!assembly || below.Contains(assembly) || !roots.Add(assembly))
            continue;
        auto* kernel = reinterpret_cast<VE_ASSEMBLY*>(assembly);
        if (!manager)
            manager = new Ve_AssemDeleteMgr(kernel);
        manager->traverseAssembly(kernel);
    }
    if (manager) {
        for (Ve_BodyTag* b : m_solids)
            if (b && placed.Contains(b))
                RemoveFromCache(b);
        delete manager;
    }
    m_solids = QELXDynamicArray<Ve_BodyTag*>();
    m_assemblies = QELXDynamicArray<Ve_AssemblyTag*>();
    m_layers.Clear();
    m_layerFilters.Clear();
    m_layerAttMap.Clear();
}

void Ve_DocumentTag::ClearLayerAndLayerFilters()
{
    m_layers.Clear();
    m_layerFilters.Clear();
    m_layerAttMap.Clear();
}

void Ve_DocumentTag::ReleaseLayerAndLayerFilters()
{
    m_layerAttMap.Clear();
    for (int i = m_layers.Count() - 1; i >= 0; --i)
        api_ct_lose_group(m_layers[i]);
    for (int i = m_layerFilters.Count() - 1; i >= 0; --i)
        api_ct_lose_group(m_layerFilters[i]);
    m_layers.Clear();
    m_layerFilters.Clear();
}

// ---------------------------------------------------------------------------
// Body sets and assemblies

Ve_CocoonTag* Ve_DocumentTag::createCocoon() const { return new Ve_CocoonTag(QELXDynamicArray<Ve_BodyTag*>()); }

QELXDynamicArray<Ve_BodyTag*> Ve_DocumentTag::extractSolids(Ve_CocoonTagHandle cocoon) const
{
    return cocoon.IsValid() ? cocoon->getBodies() : QELXDynamicArray<Ve_BodyTag*>();
}

Ve_AssemblyTag* Ve_DocumentTag::createAssembly(const QELXMorph3D& assemblyMorph,
                                               QELXDynamicArray<QELXMorph3D> partMorphs,
                                               QELXDynamicArray<QELXDynamicArray<Ve_BodyTag*>> partBodies,
                                               QELXDynamicArray<QELXMorph3D> formationMorphs,
                                               QELXDynamicArray<Ve_AssemblyTag*> subAssemblies)
{
    VE_ASSEMBLY* assembly = nullptr;
    const outcome result = velmCall([&] {
        auto* parts = velm_require(VELM_NEW EE_LIST(1));
        for (int i = 0; i < partBodies.Count(); ++i) {
            const QELtransf t = morphAt(partMorphs, i);
            for (Ve_BodyTag* body : partBodies[i])
                if (body)
                    parts->add(velm_require(VELM_NEW VE_PART(reinterpret_cast<BODY*>(body), t)));
        }
        auto* formations = velm_require(VELM_NEW EE_LIST(1));
        for (int i = 0; i < subAssemblies.Count(); ++i) {
            const QELtransf t = morphAt(formationMorphs, i);
            if (subAssemblies[i])
                formations->add(
                    velm_require(VELM_NEW VE_FORMATION(reinterpret_cast<VE_ASSEMBLY*>(subAssemblies[i]), t)));
        }
        assembly = velm_require(VELM_NEW VE_ASSEMBLY(parts, formations, Ve_Morph(assemblyMorph)));
    });
    Gk_ErrMgr::checkAbort();
    if (!result.ok()) {
        Gk_ErrMgr::doAssert("ve_doctag", 0);
        // The failed bracket rolled back everything it made.
        return nullptr;
    }
    return ve_view<Ve_AssemblyTag>(assembly);
}

// ---------------------------------------------------------------------------
// Groups

bool Ve_DocumentTag::findGroupByName(const char* name, QELGROUP*& group)
{
    for (QELGROUP* layer : m_layers) {
        QELXString label;
        if (Ve_AttribTransfer::getLabel(layer, label) && !label.isEmpty() && std::strcmp(label.c_str(), name) == 0) {
            group = layer;
            return true;
        }
    }
    return false;
}

bool Ve_DocumentTag::findGroupById(int id, QELGROUP*& group)
{
    for (QELGROUP* layer : m_layers) {
        int number = 0;
        if (Ve_AttribTransfer::getID(layer, number) && number == id) {
            group = layer;
            return true;
        }
    }
    return false;
}

void Ve_DocumentTag::moveEntitiesFromOneGroupToAnother(QELGROUP* from, QELGROUP* to)
{
    if (!from || !to)
        return;
    // A copy of the members: each removal changes the group's own list.
    ENTITY_LIST members;
    api_ct_return_ents(from, members);
    for (int i = 0, n = members.count(); i < n; ++i) {
        ENTITY* member = members[i];
        if (member && api_ct_remove_from_group(member, from).ok())
            api_ct_add_to_group(member, to);
    }
}

void Ve_DocumentTag::mergeRepeatLayer(QELGROUP* group, int number)
{
    QELGROUP* existing = nullptr;
    if (findGroupById(number, existing))
        moveEntitiesFromOneGroupToAnother(group, existing);
}

// ---------------------------------------------------------------------------
// Whole-body edits

void Ve_DocumentTag::fixEntityTransform()
{
    for (Ve_BodyTag* body : m_solids)
        if (body)
            api_change_body_trans(reinterpret_cast<BODY*>(body), nullptr, false);
}

void Ve_DocumentTag::RemoveCellularTopology()
{
    ENTITY_LIST bodies;
    for (Ve_BodyTag* body : m_solids)
        if (body)
            bodies.add(reinterpret_cast<ENTITY*>(body));
    api_ct_remove(bodies);
}
