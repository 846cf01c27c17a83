// Kernel-style functions, the layer utility and the group helpers.
#include "model/kernel_functions.hxx"

#include <memory>

#include "model/kernel_call_bracket.hxx"
#include "model/memory_init.hxx"
#include "model/result_mapping.hxx"
#include "qelx/qelx_document.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "velm/api.hxx"
#include "velm/groups.hxx"
#include "velm/lists.hxx"
#include "velm/query.hxx"
#include "velm/topology_api.hxx"

QELXVelmProductDataCallback QELXVelmProductDataCallback_fct = nullptr;

long& caughtKernelErrors()
{
    static long caught = 0;
    return caught;
}

namespace {
long& answeredKernelFailures()
{
    static long answered = 0;
    return answered;
}
} // namespace

long kernelFailuresMet() { return velm_failed_api_calls() + caughtKernelErrors() - answeredKernelFailures(); }

void kernelFailuresAnswered(long mark)
{
    if (const long since = kernelFailuresMet() - mark; since > 0)
        answeredKernelFailures() += since;
}

namespace {

outcome apiError() { return outcome(qelvelm_api_errmod.message_code(VELM_API_FAILED)); }

outcome fromResult(QELIResult code)
{
    outcome result;
    mapQELXResultToOutcome(code, result);
    return result;
}

outcome groupQuery(bool (*query)(ENTITY*, bool&), ENTITY* entity, int& answer)
{
    bool flag = false;
    const bool worked = query(entity, flag);
    answer = flag ? 1 : 0;
    return worked ? outcome() : apiError();
}

bool isGroupOfKind(bool (*query)(ENTITY*, bool&), ENTITY* entity)
{
    bool flag = false;
    return query(entity, flag) && flag;
}

void addTo(ENTITY_LIST& list, const ENTITY_LIST& more)
{
    for (int i = 0, n = more.count(); i < n; ++i)
        if (more[i])
            list.add(more[i]);
}

// The entity's faces, then edges, then vertices, then the entity itself.
ENTITY_LIST withParts(ENTITY* entity)
{
    ENTITY_LIST all;
    for (auto q : {api_get_faces, api_get_edges, api_get_vertices}) {
        ENTITY_LIST part;
        q(entity, part);
        addTo(all, part);
    }
    all.add(entity);
    return all;
}

} // namespace

outcome api_xvelm_set_unspecified_file_unit(QELXUnit unit) { return fromResult(api_set_unspecified_file_unit(unit)); }
outcome api_xvelm_set_read_unit_callback(void (*callback)(QELXUnit))
{
    return fromResult(api_set_read_unit_callback(callback));
}
outcome api_xvelm_set_write_unit(QELXUnit unit) { return fromResult(api_set_write_unit(unit)); }
outcome api_xvelm_set_application_unit(QELXUnit unit) { return fromResult(api_set_application_unit(unit)); }

outcome api_get_file_properties(const wchar_t* path, const wchar_t* format, QELXFileProperties*& properties,
                                const wchar_t* password, int flags)
{
    return QELXGetFileProperties(path, format, properties, password, flags) == 0 ? outcome() : apiError();
}

outcome api_release_file_properties(QELXFileProperties*& properties)
{
    return QELXReleaseFileProperties(properties) == 0 ? outcome() : apiError();
}

outcome api_is_layer_entity(ENTITY* entity, int& answer)
{
    return groupQuery(Ve_AttribTransfer::isLayer, entity, answer);
}
outcome api_is_layer_filter_entity(ENTITY* entity, int& answer)
{
    return groupQuery(Ve_AttribTransfer::isLayerFilter, entity, answer);
}
outcome api_is_selection_set_entity(ENTITY* entity, int& answer)
{
    return groupQuery(Ve_AttribTransfer::isSelectionSet, entity, answer);
}
outcome api_get_current(ENTITY* entity, int& answer)
{
    return groupQuery(Ve_AttribTransfer::getCurrent, entity, answer);
}

outcome api_set_current(ENTITY* entity, int value)
{
    return Ve_AttribTransfer::setCurrent(entity, value == 1) ? outcome() : apiError();
}

outcome api_is_all_layer_filter(ENTITY* entity, int& answer)
{
    if (!isGroupOfKind(Ve_AttribTransfer::isLayerFilter, entity))
        return apiError();
    int type = -1;
    const bool read = Ve_AttribTransfer::getLayerFilterType(entity, type);
    answer = read && type == 0 ? 1 : 0;
    return read ? outcome() : apiError();
}

void QELXVelmLayerUtil::SeperateLayersAndLayerFilters(const ENTITY_LIST& in, ENTITY_LIST& others,
                                                      ENTITY_LIST& layers, ENTITY_LIST& layerFilters)
{
    for (int i = 0, n = in.count(); i < n; ++i) {
        ENTITY* e = in[i];
        if (!e)
            continue;
        if (isGroupOfKind(Ve_AttribTransfer::isLayer, e))
            layers.add(e);
        else if (isGroupOfKind(Ve_AttribTransfer::isLayerFilter, e))
            layerFilters.add(e);
        else
            others.add(e);
    }
}

void QELXVelmLayerUtil::SeperateLayersAndLayerFilters(ENTITY** entities, int count, ENTITY_LIST& others,
                                                      ENTITY_LIST& layers, ENTITY_LIST& layerFilters)
{
    if (!entities || count <= 0)
        return;
    ENTITY_LIST in;
    for (int i = 0; i < count; ++i)
        if (entities[i])
            in.add(entities[i]);
    SeperateLayersAndLayerFilters(in, others, layers, layerFilters);
}

bool isGroupEntity(ENTITY* entity)
{
    return isGroupOfKind(Ve_AttribTransfer::isSelectionSet, entity) ||
           isGroupOfKind(Ve_AttribTransfer::isLayer, entity);
}

bool isSameGroupEntity(ENTITY* first, ENTITY* second)
{
    if (isGroupOfKind(Ve_AttribTransfer::isSelectionSet, first) &&
        isGroupOfKind(Ve_AttribTransfer::isSelectionSet, second)) {
        QELXString a, b;
        return Ve_AttribTransfer::getLabel(first, a) && Ve_AttribTransfer::getLabel(second, b) && !a.isEmpty() &&
               !b.isEmpty() && a.equals(b);
    }
    if (isGroupOfKind(Ve_AttribTransfer::isLayer, first) && isGroupOfKind(Ve_AttribTransfer::isLayer, second)) {
        int a = -1, b = -1;
        return Ve_AttribTransfer::getID(first, a) && Ve_AttribTransfer::getID(second, b) && a >= 0 && b >= 0 &&
               a == b;
    }
    return false;
}

bool removeFromCollections(ENTITY* entity)
{
    if (!entity)
        return false;
    const ENTITY_LIST items = withParts(entity);
    for (int i = 0, n = items.count(); i < n; ++i) {
        ENTITY* item = items[i];
        ENTITY_LIST collections;
        api_return_collections(item, collections);
        for (int k = 0, m = collections.count(); k < m; ++k) {
            auto* collection = static_cast<QELCOLLECTION*>(collections[k]);
            if (!collection)
                continue;
            // Kept alive while we take the item out; the caller decides its fate.
            const int behaviour = collection->get_collection_empty_behavior();
            collection->set_collection_empty_behavior(0);
            api_remove_from_collection(item, collection);
            collection->set_collection_empty_behavior(behaviour);
        }
    }
    return true;
}

bool getGroupsOfEntity(ENTITY* entity, ENTITY_LIST& groups)
{
    const ENTITY_LIST items = withParts(entity);
    for (int i = 0, n = items.count(); i < n; ++i) {
        ENTITY_LIST found;
        api_ct_return_groups(items[i], found);
        addTo(groups, found);
    }
    return true;
}

int QELXVelmSetProductDataCallback(QELXVelmProductDataCallback callback)
{
    QELXVelmProductDataCallback_fct = callback;
    return 0;
}

int QELXVelmProductDataCallbackWrapper(ENTITY_LIST* list, QELXString& first, QELXString& second, QELXString& third,
                                       bool flag)
{
    if (!QELXVelmProductDataCallback_fct)
        return 0;
    auto buffer = [](const QELXString& text) -> std::unique_ptr<char[]> {
        if (text.isEmpty())
            return nullptr;
        std::unique_ptr<char[]> chars(new char[text.length() + 1]);
        text.getChars(chars.get(), text.length() + 1);
        chars[text.length()] = '\0';
        return chars;
    };
    const auto a = buffer(first), b = buffer(second), c = buffer(third);
    QELXVelmProductDataCallback_fct(list, a.get(), b.get(), c.get(), flag);
    return 0;
}

void QELXStartVeConversionTaskEvt::GetFormattedDescription(QELXOutputStream*) const {}

void QELXStartVeConversionTaskEvt::Fire()
{
    QELXStartVeConversionTaskEvt event;
    QELXEventBus::GetEventBus()->Fire(event);
}
