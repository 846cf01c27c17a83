#include "persist/brep_attrib_transfer.hxx"

#include <cstdio>
#include <cstring>
#include <string>

#include "model/kernel_call_bracket.hxx"
#include "persist/analytic_surface_attribute.hxx"
#include "persist/iges_husk_attributes.hxx"
#include "qelx/qelx_attribute_exporter.hxx"
#include "qelx/qelx_identifier.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "velm/attrib.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

namespace {

constexpr const char* kFreePoint = "QELATRIB_FREE_POINT";
constexpr const char* kFreeCurve = "QELATRIB_FREE_CURVE";
constexpr const char* kFreeSurface = "QELATRIB_FREE_SURFACE";
constexpr const char* kUnboundedPlane = "QELATTRIB_UNBOUNDED_PLANE";

// Walks the entity's attributes and hands each husk whose identifier is
// `husk` to `convert`. Each step has its own bracket, so a kernel error on one
// husk does not stop the others. Only a husk whose conversion went through
// joins the lose list: one that failed stays on its entity, since losing it
// would drop its data, and the answer is then false.
template <class Husk, class Convert>
bool convertHusks(ENTITY* entity, QELXHashList<ATTRIB*>& lose_list, const char* husk, Convert&& convert)
{
    if (!entity)
        return false;
    bool allConverted = true;
    ATTRIB* a = nullptr;
    allConverted = velmInnerCall([&] { a = find_attrib(entity, -1, -1, -1, -1); }).ok();
    while (a) {
        const char* name = a->type_name();
        if (name && std::strcmp(name, husk) == 0) {
            auto* h = static_cast<Husk*>(a);
            if (velmCall([&] { return convert(*h); }).ok())
                lose_list.Add(a);
            else
                allConverted = false;
        }
        ATTRIB* next = nullptr;
        allConverted = velmInnerCall([&] { next = find_next_attrib(a, -1, -1, -1, -1); }).ok() && allConverted;
        a = next;
    }
    return allConverted;
}

constexpr split_action kSplit = split_keep;
constexpr merge_action kMerge = merge_keep_survivor;
constexpr trans_action kTrans = trans_apply;
constexpr copy_action kCopy = copy_copy;

outcome addInteger(ENTITY* owner, const char* name, int value)
{
    return api_add_generic_named_attribute(owner, name, value, kSplit, kMerge, kTrans, kCopy);
}

outcome addString(ENTITY* owner, const char* name, const char* value)
{
    return api_add_generic_named_attribute(owner, name, value, kSplit, kMerge, kTrans, kCopy);
}

bool hasNamed(const ENTITY* entity, const char* name)
{
    ATTRIB_GEN_NAME* found = nullptr;
    return entity && api_find_named_attribute(entity, name, found).ok() && found;
}

void setMark(BODY* body, const char* name)
{
    if (body)
        Ve_AttribTransfer::SetIntegerAttrib(body, name, 1, true, split_copy, merge_keep_survivor, trans_apply,
                                            copy_copy);
}

// No owner, no mark: an attribute made on null would belong to nothing and
// live on unreachable.
bool setTextMark(ENTITY* entity, const char* name, const QELXString& text)
{
    if (text.isEmpty() || !entity)
        return true;
    std::string buffer(text.c_str(), static_cast<std::size_t>(text.length()));
    velmCall([&] { velm_require(VELM_NEW ATTRIB_GEN_STRING(entity, name, buffer.c_str(), kSplit, kMerge, kTrans, kCopy)); });
    return true;
}

}  // namespace

bool QELXVelmBRepAttribTransfer::transferOldIgesHuskID(ENTITY* e, QELXHashList<ATTRIB*>& lose)
{
    return convertHusks<ATTRIB_DOVA_IGES_DE_ENTRY>(e, lose, "attrib_dova_iges_de_entry", [&](auto& h) {
        if (h.get_de_entry() <= 0)
            return outcome();
        char text[32];
        std::snprintf(text, sizeof text, "DE:%d", h.get_de_entry());
        return addString(e, "ATTRIB_XVELM_ID", text);
    });
}

bool QELXVelmBRepAttribTransfer::transferOldIgesHuskLayers(ENTITY* e, QELXHashList<ATTRIB*>& lose)
{
    return convertHusks<ATTRIB_DOVA_IGES_LAYER>(e, lose, "attrib_dova_iges_layer", [&](auto& h) {
        // A multi-valued husk's field is its count of layers: the entity's
        // layer is the first stored one.
        int layer = h.get_layer_size();
        int layers[ATTRIB_DOVA_IGES_LAYER::max_layers] = {};
        int* out = layers;
        if (h.get_layer_type() == 1) {
            if (h.get_layer_size() <= 0 || !h.get_mult_layer(out))
                return outcome();
            layer = layers[0];
        }
        return layer >= 0 ? addInteger(e, "ATTRIB_XVELM_LAYER", layer) : outcome();
    });
}

bool QELXVelmBRepAttribTransfer::transferOldIgesHuskLabels(ENTITY* e, QELXHashList<ATTRIB*>& lose)
{
    return convertHusks<ATTRIB_DOVA_IGES_LABEL>(e, lose, "attrib_dova_iges_label", [&](auto& h) {
        const std::string label = h.get_label();
        return label.empty() ? outcome() : addString(e, "ATTRIB_XVELM_NAME", label.c_str());
    });
}

bool QELXVelmBRepAttribTransfer::transferOldIgesHuskColors(ENTITY* e, QELXHashList<ATTRIB*>& lose)
{
    return convertHusks<ATTRIB_DOVA_IGES_COLOR>(e, lose, "attrib_dova_iges_color", [&](auto& h) {
        if (Ve_AttribTransfer::setColor(e, rgb_color(h.red(), h.green(), h.blue())))
            return outcome();
        return outcome(qelvelm_api_errmod.message_code(VELM_API_FAILED));
    });
}

bool QELXVelmBRepAttribTransfer::transferOldIgesHuskLineFonts(ENTITY* e, QELXHashList<ATTRIB*>& lose)
{
    return convertHusks<ATTRIB_DOVA_IGES_LINEFONT>(e, lose, "attrib_dova_iges_linefont", [&](auto& h) {
        return h.get_line_font() >= 0 ? addInteger(e, "ATTRIB_XVELM_LINEFONT", h.get_line_font()) : outcome();
    });
}

bool QELXVelmBRepAttribTransfer::transferOldIgesHuskLineWeights(ENTITY* e, QELXHashList<ATTRIB*>& lose)
{
    return convertHusks<ATTRIB_DOVA_IGES_LINEWEIGHT>(e, lose, "attrib_dova_iges_LINEWEIGHT", [&](auto& h) {
        const double w = h.get_line_weight();
        // Truncated toward zero; a weight beyond the int range is not a weight.
        if (!(w > -1.0 && w < 2147483648.0))
            return outcome();
        return addInteger(e, "ATTRIB_XVELM_LINEWEIGHT", static_cast<int>(w));
    });
}

bool QELXVelmBRepAttribTransfer::transferOldIgesHuskAttributes(ENTITY* e, QELXHashList<ATTRIB*>& lose)
{
    if (!e)
        return false;
    bool converted = transferOldIgesHuskID(e, lose);
    converted = transferOldIgesHuskLayers(e, lose) && converted;
    converted = transferOldIgesHuskLabels(e, lose) && converted;
    converted = transferOldIgesHuskColors(e, lose) && converted;
    converted = transferOldIgesHuskLineFonts(e, lose) && converted;
    return transferOldIgesHuskLineWeights(e, lose) && converted;
}

// False when any husk could not be converted or lost, or an entity could not
// be listed: such husks stay where they were, nothing is dropped.
bool QELXVelmBRepAttribTransfer::transferOldIgesHuskAttributesRecursively(BODY* body)
{
    if (!body)
        return false;
    QELXHashList<ATTRIB*> lose;
    bool converted = transferOldIgesHuskAttributes(body, lose);
    using Getter = outcome (*)(const ENTITY*, ENTITY_LIST&);
    for (Getter get : {Getter(&api_get_faces), Getter(&api_get_edges), Getter(&api_get_vertices)}) {
        ENTITY_LIST list;
        converted = get(body, list).ok() && converted;
        for (int i = 0; i < list.count(); ++i)
            converted = transferOldIgesHuskAttributes(list[i], lose) && converted;
    }
    // Lost only now, so that no chain changes under the walks above.
    for (int slot = 0; slot < lose.Capacity(); ++slot)
        if (lose.IsUsed(slot)) {
            ATTRIB* husk = lose.KeyAt(slot);
            converted = velmInnerCall([&] { husk->lose(); }).ok() && converted;
        }
    return converted;
}

bool QELXVelmBRepAttribTransfer::IsFreePoint(BODY* body) { return hasNamed(body, kFreePoint); }
bool QELXVelmBRepAttribTransfer::IsFreeCurve(BODY* body) { return hasNamed(body, kFreeCurve); }
bool QELXVelmBRepAttribTransfer::IsFreeSurface(BODY* body) { return hasNamed(body, kFreeSurface); }
void QELXVelmBRepAttribTransfer::SetFreePoint(BODY* body) { setMark(body, kFreePoint); }
void QELXVelmBRepAttribTransfer::SetFreeCurve(BODY* body) { setMark(body, kFreeCurve); }
void QELXVelmBRepAttribTransfer::SetFreeSurface(BODY* body) { setMark(body, kFreeSurface); }

bool QELXVelmBRepAttribTransfer::SetMDIIndentifier(ENTITY* entity, QELXString& text)
{
    return setTextMark(entity, "MDI", text);
}

bool QELXVelmBRepAttribTransfer::SetPSETIndentifier(ENTITY* entity, QELXString& text)
{
    return setTextMark(entity, "PSET", text);
}

bool QELXVelmBRepAttribTransfer::SetPlaneUnboundedness(ENTITY* entity)
{
    if (!entity)
        return false;
    return velmCall([&] {
               velm_require(VELM_NEW ATTRIB_GEN_INTEGER(entity, kUnboundedPlane, 1, split_copy, merge_keep_survivor,
                                                        trans_apply, copy_copy));
           })
        .ok();
}

bool QELXVelmBRepAttribTransfer::transferPlaneUnboundedness(ENTITY* entity, const QELXIdentifier& source,
                                                            QELXAttributeExporter* exporter)
{
    if (!entity || !source.IsValid() || !exporter)
        return false;
    bool unbounded = false;
    if (exporter->GetPlaneUnboundedness(source, unbounded) == 0 && unbounded)
        SetPlaneUnboundedness(entity);
    return true;
}

bool QELXVelmBRepAttribTransfer::GetPlaneUnboundedness(ENTITY* entity)
{
    if (!entity)
        return false;
    ENTITY* face = nullptr;
    if (is_BODY(entity)) {
        auto* body = static_cast<BODY*>(entity);
        LUMP* lump = body->lump();
        SHELL* shell = lump ? lump->shell() : nullptr;
        FACE* first = shell ? shell->face() : nullptr;
        if (!first || first->next())
            return false;
        ENTITY_LIST faces;
        api_get_faces(body, faces);
        if (faces.iteration_count() != 1)
            return false;
        face = faces[0];
    } else if (is_FACE(entity)) {
        face = entity;
    } else {
        return false;
    }
    ATTRIB_GEN_NAME* found = nullptr;
    if (!velmCall([&] { return api_find_named_attribute(face, kUnboundedPlane, found); }).ok() || !found)
        return false;
    auto* value = dynamic_cast<ATTRIB_GEN_INTEGER*>(found);
    return value && value->value() == 1;
}

bool QELXVelmBRepAttribTransfer::setAnalyticSurface(ENTITY* owner, ENTITY* surface)
{
    if (!owner)
        return false;
    return velmCall([&] { velm_require(VELM_NEW ATTRIB_ANALYT_SURF(owner, surface)); }).ok();
}

bool QELXVelmBRepAttribTransfer::getAnalyticSurface(ENTITY* entity, ENTITY*& surface)
{
    surface = nullptr;
    ATTRIB* a = entity ? find_attrib(entity, ATTRIB_ANALYT_SURF_TYPE) : nullptr;
    if (!a)
        return false;
    surface = static_cast<ATTRIB_ANALYT_SURF*>(a)->surface();
    return true;
}
