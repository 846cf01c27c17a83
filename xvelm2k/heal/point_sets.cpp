// Point bodies grouped into point sets, and the product-data callback.
#include <cstring>
#include <memory>
#include <vector>

#include "heal/repair_utils.hxx"
#include "model/containers.hxx"
#include "model/entity_views.hxx"
#include "qelx/qelx_document.hxx"
#include "qelx/qelx_representation.hxx"
#include "qelx/qelx_string.hxx"
#include "qelx_velm/velm_document.hxx"
#include "repair/post_process_internal.hxx"
#include "velm/attrib.hxx"
#include "velm/groups.hxx"
#include "velm/topology_api.hxx"

namespace {

bool stringAttribute(const ENTITY* e, const char* name, Gk_String& value)
{
    ATTRIB_GEN_NAME* found = nullptr;
    if (!velmCall([&] { return api_find_named_attribute(e, name, found); }).ok() || !found)
        return false;
    const auto* text = dynamic_cast<const ATTRIB_GEN_STRING*>(found);
    if (!text)
        return false;
    value = Gk_String(text->value());
    return true;
}

// The vertex of a point body: a vertex body whose first coedge's edge starts
// and ends at one vertex. Null otherwise.
VERTEX* pointBodyVertex(ENTITY* e)
{
    if (!e || !is_BODY(e) || !ve_view<Ve_BodyTag>(static_cast<BODY*>(e))->isVertexBody())
        return nullptr;
    ENTITY_LIST coedges;
    velmCall([&] { return api_get_coedges(e, coedges); });
    const COEDGE* c = coedges.count() > 0 ? static_cast<const COEDGE*>(coedges[0]) : nullptr;
    const EDGE* edge = c ? c->edge() : nullptr;
    return edge && edge->start() == edge->end() ? edge->start() : nullptr;
}

const ATTRIB_GEN_VECTOR* vectorAttribute(const VERTEX* v)
{
    for (ATTRIB* a = v->attrib(); a; a = a->next())
        if (const auto* vec = dynamic_cast<const ATTRIB_GEN_VECTOR*>(a))
            return vec;
    return nullptr;
}

} // namespace

void QELXVeRepairUtils::groupPSET(ENTITY_LIST& entities)
{
    QELXHashMap<Gk_String, QELGROUP*> groups;
    entities.init();
    std::vector<ENTITY*> walk;
    for (ENTITY* e = entities.next(); e; e = entities.next())
        walk.push_back(e);
    for (ENTITY* e : walk) {
        VERTEX* v = pointBodyVertex(e);
        Gk_String name;
        if (!v || !v->geometry() || (!stringAttribute(e, "PSET", name) && !stringAttribute(e, "MDI", name)))
            continue;
        VERTEX* point = nullptr;
        const bool ok = velmCall([&] {
                            point = VELM_MAKE(VERTEX, VELM_MAKE(APOINT, v->geometry()->coords()));
                            if (const ATTRIB_GEN_VECTOR* vec = vectorAttribute(v))
                                VELM_MAKE(ATTRIB_GEN_VECTOR, point, "MDI_VECTOR", vec->value(), split_keep,
                                          merge_keep_survivor, trans_apply, copy_copy);
                            const int slot = groups.FindIndex(name);
                            QELGROUP* group = slot >= 0 ? groups.ValueAt(slot) : nullptr;
                            if (!group) {
                                group = VELM_MAKE(QELGROUP);
                                group->set_collection_save_behavior(1);
                            }
                            const outcome r = api_ct_add_to_group(point, group);
                            if (!r.ok())
                                sys_error(r.error_number());
                            if (slot < 0) {
                                groups.Add(name, group);
                            }
                        }).ok();
        // A point that could not be grouped keeps its body: the bracket undid the rest.
        if (!ok)
            continue;
        // The body leaves the list only once it is gone from the kernel.
        if (velmCall([&] { return api_del_entity(e); }).ok())
            entities.remove(e);
    }
    for (int slot = 0; slot < groups.Capacity(); ++slot)
        if (groups.IsUsed(slot))
            entities.add(groups.ValueAt(slot));
}

void QELXVeRepairUtils::MakeQELXVelmProductDataCallback(QELXVelmDocument* document, bool flag)
{
    if (!QELXVelmProductDataCallback_fct || !document)
        return;
    QELXString product;
    QELXString fileName;
    QELXConverter* context = document->GetTranslationContext();
    QELXDocument* input = context ? context->GetInputDocument() : nullptr;
    if (input) {
        QELXFile* file = nullptr;
        QELXFilePath path;
        if (input->GetFileHandle(file) == 0 && file && file->GetFilePath(path) == 0)
            path.GetName(fileName);
        QELXExportRepresentation* header = nullptr;
        if (input->GetExportRep(QELXRepType("Header"), header) == 0 && header)
            header->GetStringValue(QELXString("PRODUCT_NAME"), 0, product);
    }
    ENTITY_LIST* list = document->GetNativeEntityList();
    QELXString third;
    QELXVelmProductDataCallbackWrapper(list, product, fileName, third, flag);
}
