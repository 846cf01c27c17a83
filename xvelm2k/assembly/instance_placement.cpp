// One instance of a converted definition placed into the assembly's result.
#include "assembly/flat_assembly_importer.hxx"

#include "import/alias_attribute_importer.hxx"
#include "model/kernel_call_bracket.hxx"
#include "model/kernel_functions.hxx"
#include "qelx/qelx_attribute_exporter.hxx"
#include "qelx/qelx_events.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "qelx_velm/velm_document.hxx"
#include "velm/build.hxx"
#include "velm/groups.hxx"
#include "velm/memory.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

#include <cmath>
#include <cstring>
#include <memory>
#include <string>

namespace {

bool isGroupOf(ENTITY* e, bool (*test)(ENTITY*, bool&))
{
    bool flag = false;
    return test(e, flag) && flag;
}

bool isSelectionSetGroup(ENTITY* e) { return is_QELGROUP(e) && isGroupOf(e, Ve_AttribTransfer::isSelectionSet); }
bool isLayerGroup(ENTITY* e) { return is_QELGROUP(e) && isGroupOf(e, Ve_AttribTransfer::isLayer); }
bool isMergeableGroup(ENTITY* e) { return isSelectionSetGroup(e) || isLayerGroup(e); }

bool isCutFeatureCollection(ENTITY* e)
{
    int type = -1;
    return is_QELCOLLECTION(e) && !is_QELGROUP(e) &&
           Ve_AttribTransfer::GetIntegerAttrib(e, Ve_AttribTransfer::GroupTypeName, type) &&
           type == Ve_GroupCutFeatureCollection;
}

// A text buffer for the callback: null for an empty text.
std::unique_ptr<char[]> callbackText(const QELXString& text)
{
    if (text.length() == 0)
        return nullptr;
    std::unique_ptr<char[]> buffer(new char[text.length() + 1]);
    std::memcpy(buffer.get(), text.c_str(), text.length());
    buffer[text.length()] = '\0';
    return buffer;
}

bool allFinite(const double* values, int n)
{
    for (int i = 0; i < n; ++i)
        if (!std::isfinite(values[i]))
            return false;
    return true;
}

} // namespace

bool QELXFlatVelmAssemblyImporter::InstanceTransform(const double values[12], double sourceScale, double unitScale,
                                                     QELtransf& out)
{
    const QELXAssemblyComponentTransform component(values, sourceScale);
    double m[9];
    double t[3];
    component.Get(m, t);
    double s = component.GetScale();
    if (!allFinite(m, 9) || !allFinite(t, 3) || !std::isfinite(s) || !std::isfinite(unitScale))
        return false;
    QELmatrix matrix(m);
    const QELvector translation(t[0] * unitScale, t[1] * unitScale, t[2] * unitScale);
    const double d = std::fabs(matrix.determinant());
    // A matrix or scale that flattens space would flatten every body placed with it.
    if (!(d > 0.0) || s == 0.0)
        return false;
    if (!(std::fabs(d - 1.0) < 9.9999998245167e-15)) {
        double c = std::pow(d, 0.3333333333333333);
        if (!(c > 0.0) || !std::isfinite(c))
            return false;
        if (s < 0.0)
            c = -c;
        double divided[9];
        for (int i = 0; i < 9; ++i)
            divided[i] = m[i] * (1.0 / c);
        matrix = QELmatrix(divided);
        s *= c;
    }
    out = QELtransf(matrix, translation, s, !matrix.is_identity(), matrix.determinant() < 0.0, false);
    return true;
}

void QELXFlatVelmAssemblyImporter::mergeGroups(const ENTITY_LIST& into, ENTITY_LIST& held)
{
    for (int g = 0; g < into.count(); ++g) {
        ENTITY* target = into[g];
        if (!target || !isMergeableGroup(target))
            continue;
        for (int h = 0; h < held.count(); ++h) {
            ENTITY* group = held[h];
            if (!group || group == target || !isMergeableGroup(group) || !isSameGroupEntity(target, group))
                continue;
            held.remove(group);
            ENTITY_LIST members;
            velmCall([&] { return api_ct_return_ents(static_cast<QELGROUP*>(group), members); });
            for (int k = 0; k < members.count(); ++k) {
                ENTITY* member = members[k];
                if (!member)
                    continue;
                velmCall([&] { return api_ct_remove_from_group(member, static_cast<QELGROUP*>(group)); });
                velmCall([&] { return api_ct_add_to_group(member, static_cast<QELGROUP*>(target)); });
            }
        }
    }
}

void QELXFlatVelmAssemblyImporter::mergeCopyGroups(ENTITY* definitionEntity, ENTITY* copy)
{
    ENTITY_LIST definitionGroups;
    getGroupsOfEntity(definitionEntity, definitionGroups);
    // A kernel copy duplicates only the groups its original is in: with none
    // there is nothing to fold back.
    if (definitionGroups.iteration_count() == 0)
        return;
    ENTITY_LIST held;
    getGroupsOfEntity(copy, held);
    // Into the assembly's selection sets first, then into the original's own groups.
    mergeGroups(m_selectionSets, held);
    mergeGroups(definitionGroups, held);
}

void QELXFlatVelmAssemblyImporter::transferAliases(QELXAttributeExporter* attributes, const QELXIdentifier& instance,
                                                   const QELXIdentifier& identifier, ENTITY* entity)
{
    if (!attributes || !entity)
        return;
    QELXVelmAliasAttributeImporter aliases(false);
    aliases.SetAttributeExporter(attributes);
    aliases.SetFirstAliasIdentifier(instance);
    QELXIdentifier second;
    second.SetEntityPointer(identifier.GetEntityPointer());
    aliases.SetSecondAliasIdentifier(second);
    ENTITY_LIST vertices, edges, faces;
    velmCall([&] {
        outcome o = api_get_vertices(entity, vertices);
        if (o.ok())
            o = api_get_edges(entity, edges);
        return o.ok() ? api_get_faces(entity, faces) : o;
    });
    QELIResult ignored;
    for (const ENTITY_LIST* list : {&vertices, &edges, &faces})
        for (int i = 0; i < list->count(); ++i)
            if (ENTITY* e = (*list)[i])
                aliases.TransferAlias(ignored, e);
    aliases.TransferAlias(ignored, entity);
}

QELCOLLECTION* QELXFlatVelmAssemblyImporter::placeCollection(QELCOLLECTION* collection,
                                                             QELXHashMap<ENTITY*, ENTITY*>& bodyMap,
                                                             const QELtransf& transform, bool keep,
                                                             const QELXString& name)
{
    ENTITY_LIST* members = nullptr;
    if (!m_pendingCollections.Get(collection, members) || !members)
        return collection;
    QELCOLLECTION* output = collection;
    ENTITY_LIST* newMembers = nullptr;
    if (keep && members->iteration_count() > 0) {
        const outcome made = velmCall([&] {
            output = velm_require(VELM_NEW QELCOLLECTION());
            Ve_AttribTransfer::setGroupType(output, Ve_GroupCutFeatureCollection);
        });
        if (!made.ok())
            return nullptr;
        newMembers = velm_require(VELM_NEW ENTITY_LIST());
        registerPendingCollection(output, newMembers);
    }
    for (int i = 0; i < members->count(); ++i) {
        ENTITY* member = (*members)[i];
        if (!member)
            continue;
        if (is_BODY(member) && !Ve_AttribTransfer::IsAssemblyCutTool(member)) {
            // Without the keep flag the bodies were placed in place: the member stays.
            ENTITY* placed = nullptr;
            if (bodyMap.Get(member, placed) && placed)
                member = placed;
            if (newMembers)
                newMembers->add(member);
        } else if (is_BODY(member)) {
            ENTITY* tool = member;
            const outcome o = velmCall([&]() -> outcome {
                if (keep) {
                    ENTITY* copy = nullptr;
                    outcome c = api_copy_entity(member, copy);
                    if (!c.ok())
                        return c;
                    tool = copy;
                }
                outcome moved = api_apply_transf(tool, transform);
                if (moved.ok())
                    moved = api_change_body_trans(static_cast<BODY*>(tool), nullptr, false);
                if (moved.ok())
                    Ve_AttribTransfer::SetInstanceName(tool, name, true);
                return moved;
            });
            if (o.ok() && newMembers)
                newMembers->add(tool);
        } else if (is_QELGROUP(member) && newMembers) {
            newMembers->add(member);
        }
    }
    return output;
}

namespace {

// An entity of the instance the kernel would not place is passed over, and
// said so: the instance is not whole.
void notPlaced(const QELXString& instance)
{
    QELXWarningEvent::Fire((std::string("instance ") + instance.c_str() + ": an entity could not be placed").c_str());
}

} // namespace

QELIResult QELXFlatVelmAssemblyImporter::PlaceInstance(const QELXDocumentHandle& definitionDocument,
                                                       const QELXIdentifier& instance, QELXAssemblyExporter* source,
                                                       bool keep, const QELXMorph3D& unitMorph, ENTITY_LIST& out,
                                                       bool isAssembly)
{
    auto* doc = dynamic_cast<QELXVelmDocument*>(definitionDocument.get());
    if (!definitionDocument.IsValid() || !source || !doc)
        return QELI_FAIL;

    QELXAttributeExporter* attributes = nullptr;
    if (source->GetAttributeExporter(attributes) != QELI_OK)
        attributes = nullptr;
    QELXIdentifier a;
    QELXIdentifier b;
    QELIResult result = source->GetInstanceReference(instance, a);
    result = source->GetDefinition(a, b);

    double values[12] = {};
    double sourceScale = 1.0;
    result = source->GetInstanceTransform(instance, values, sourceScale);
    QELtransf transform;
    if (!InstanceTransform(values, sourceScale, unitMorph.scaleFactor(), transform)) {
        // Refused: on the last use the document keeps its entities and deletes them when let go.
        doc->HoldContent(true);
        return QELI_FAIL;
    }

    ENTITY_LIST local;
    local.add(*doc->GetNativeEntityList());
    for (int i = 0; i < local.count(); ++i) {
        ENTITY* e = local[i];
        if (isSelectionSetGroup(e)) {
            m_selectionSets.add(e);
            doc->RemoveEntity(e);
        } else if (isLayerGroup(e)) {
            m_layers.add(e);
            doc->RemoveEntity(e);
        }
    }

    double rgba[4] = {};
    bool haveColour = false;
    bool show = true;
    bool haveShow = false;
    if (attributes) {
        haveColour = attributes->GetColor(instance, rgba) == QELI_OK;
        haveShow = attributes->GetShow(instance, show) == QELI_OK;
    }
    rgb_color colour(std::clamp(rgba[0], 0.0, 1.0), std::clamp(rgba[1], 0.0, 1.0), std::clamp(rgba[2], 0.0, 1.0));
    QELXString name;
    source->GetInstanceName(instance, name);
    const bool transferAttributes = Ve_OptionDoc::isOn(Ve_OptionDoc::TransferAttribute);
    const bool callback = QELXVelmProductDataCallback_fct != nullptr;
    ENTITY_LIST callbackList;
    QELXHashMap<ENTITY*, ENTITY*> bodyMap;

    // On the last use the entities move: the document lets go of each one it hands over.
    auto taken = [&](ENTITY* e) {
        if (!keep)
            doc->RemoveEntity(e);
    };

    for (int i = 0; i < local.count(); ++i) {
        ENTITY* e = local[i];
        if (!e)
            continue;
        if (is_BODY(e)) {
            BODY* definitionBody = static_cast<BODY*>(e);
            BODY* placed = nullptr;
            const outcome o = velmCall([&]() -> outcome {
                if (keep) {
                    outcome copied = api_copy_body(definitionBody, placed);
                    if (!copied.ok())
                        return copied;
                } else {
                    placed = definitionBody;
                }
                if (!placed)
                    return outcome();
                outcome moved = api_apply_transf(placed, transform);
                if (moved.ok())
                    moved = api_change_body_trans(placed, nullptr, false);
                if (!moved.ok())
                    return moved;
                if (transferAttributes) {
                    if (haveColour)
                        Ve_AttribTransfer::setColor(placed, colour);
                    if (haveShow && !show)
                        Ve_AttribTransfer::setShow(placed, 0);
                }
                Ve_AttribTransfer::SetInstanceName(placed, name, isAssembly);
                return outcome();
            });
            if (!o.ok()) {
                placed = nullptr; // a copy made inside a failed call is gone with it
                notPlaced(name);
            }
            bodyMap.Add(definitionBody, placed);
            if (placed) {
                if (attributes) {
                    transferAliases(attributes, instance, instance, placed);
                    if (b.IsValid() && a.GetValue() != instance.GetValue())
                        transferAliases(attributes, instance, b, placed);
                }
                if (placed != definitionBody) {
                    mergeCopyGroups(definitionBody, placed);
                }
                if (callback)
                    callbackList.add(placed);
                out.add(placed);
                taken(e);
            }
            result = QELI_OK;
        } else if (is_WCS(e) || is_VERTEX(e)) {
            ENTITY* placed = e;
            const outcome o = velmCall([&]() -> outcome {
                if (keep) {
                    outcome copied = api_copy_entity(e, placed);
                    if (!copied.ok())
                        return copied;
                }
                return api_apply_transf(placed, transform);
            });
            if (!o.ok() || !placed) {
                notPlaced(name);
                continue;
            }
            if (placed != e) {
                mergeCopyGroups(e, placed);
            }
            out.add(placed);
            QELXString again;
            source->GetInstanceName(instance, again);
            velmCall([&] { Ve_AttribTransfer::SetInstanceName(placed, again, isAssembly); });
            taken(e);
        } else if (is_QELCOLLECTION(e) && !is_QELGROUP(e)) {
            if (!isCutFeatureCollection(e))
                continue;
            if (QELCOLLECTION* placed =
                    placeCollection(static_cast<QELCOLLECTION*>(e), bodyMap, transform, keep, name)) {
                out.add(placed);
                if (placed == e)
                    taken(e);
            }
        } else if (is_QELGROUP(e)) {
            if (isSelectionSetGroup(e))
                continue;
            out.add(e);
            taken(e);
        } else {
            out.add(e);
            taken(e);
        }
    }
    // Whatever could not be placed stays the document's, to be deleted with it.
    if (!keep)
        doc->HoldContent(true);

    if (callback) {
        QELXString instanceName;
        if (source->GetInstanceName(instance, instanceName) == QELI_OK) {
            QELXIdentifier definition;
            bool definitionIsAssembly = false;
            if (source->GetDefinition(instance, definition) != QELI_OK ||
                source->IsAssembly(definition, definitionIsAssembly) != QELI_OK)
                definitionIsAssembly = false;
            const std::unique_ptr<char[]> text = callbackText(instanceName);
            QELXVelmProductDataCallback_fct(&callbackList, nullptr, nullptr, text.get(), definitionIsAssembly);
        }
        callbackList.clear();
    }
    return result;
}
