#include "qelx_velm/ve_attrib_transfer.hxx"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "qelx/qelx_attribute_exporter.hxx"
#include "qelx/qelx_events.hxx"
#include "velm/api.hxx"
#include "velm/entity.hxx"

namespace {

ATTRIB_GEN_NAME* findNamed(const ENTITY* entity, const char* name)
{
    ATTRIB_GEN_NAME* found = nullptr;
    if (!entity || !name || !api_find_named_attribute(entity, name, found).ok()) return nullptr;
    return found;
}

bool isGroupOfType(ENTITY* entity, int type)
{
    int stored = -1;
    return entity->identity(2) == QELGROUP_TYPE &&
           Ve_AttribTransfer::GetIntegerAttrib(entity, Ve_AttribTransfer::GroupTypeName, stored) &&
           stored == type;
}

bool groupKind(ENTITY* entity, bool& flag, int type)
{
    flag = false;
    if (!entity) return false;
    flag = isGroupOfType(entity, type);
    return true;
}

// Into [0, 1]; a component that is no number (a damaged file's "nan") is 0.
double unit(double v) { return v > 0.0 ? std::min(v, 1.0) : 0.0; }

}  // namespace

bool Ve_AttribTransfer::GetIntegerAttrib(const ENTITY* entity, const char* name, int& value)
{
    auto* a = dynamic_cast<ATTRIB_GEN_INTEGER*>(findNamed(entity, name));
    if (!a) return false;
    value = a->value();
    return true;
}

bool Ve_AttribTransfer::GetStringAttrib(const ENTITY* entity, const char* name, QELXString& value)
{
    auto* a = dynamic_cast<ATTRIB_GEN_STRING*>(findNamed(entity, name));
    if (!a) return false;
    value = QELXString(a->value());
    return true;
}

bool Ve_AttribTransfer::SetIntegerAttrib(ENTITY* entity, const char* name, int value, bool replace,
                                         split_action split, merge_action merge, trans_action trans,
                                         copy_action copy)
{
    if (!entity || !name) return false;
    if (!replace && findNamed(entity, name)) return false;
    return api_add_generic_named_attribute(entity, name, value, split, merge, trans, copy).ok();
}

bool Ve_AttribTransfer::SetStringAttrib(ENTITY* entity, const char* name, const char* value,
                                        split_action split, merge_action merge, trans_action trans,
                                        copy_action copy)
{
    if (!entity || !name) return false;
    return api_add_generic_named_attribute(entity, name, value ? value : "", split, merge, trans, copy)
        .ok();
}

bool Ve_AttribTransfer::IsAttribPresent(ENTITY* entity, const char* name)
{
    return findNamed(entity, name) != nullptr;
}

bool Ve_AttribTransfer::isLayer(ENTITY* entity, bool& flag) { return groupKind(entity, flag, Ve_GroupLayer); }

bool Ve_AttribTransfer::isLayerFilter(ENTITY* entity, bool& flag)
{
    return groupKind(entity, flag, Ve_GroupLayerFilter);
}

bool Ve_AttribTransfer::isSelectionSet(ENTITY* entity, bool& flag)
{
    return groupKind(entity, flag, Ve_GroupSelectionSet);
}

bool Ve_AttribTransfer::isQELCollection(ENTITY* entity)
{
    return entity && entity->identity(1) == QELCOLLECTION_TYPE;
}

bool Ve_AttribTransfer::setGroupType(ENTITY* entity, int type)
{
    return SetIntegerAttrib(entity, GroupTypeName, type, true);
}

bool Ve_AttribTransfer::setCollectionType(ENTITY* entity, int type)
{
    return SetIntegerAttrib(entity, CollectionTypeName, type, true);
}

bool Ve_AttribTransfer::getID(ENTITY* entity, int& id) { return GetIntegerAttrib(entity, IdNumberName, id); }

bool Ve_AttribTransfer::getID(ENTITY* entity, char*& text)
{
    text = nullptr;
    QELXString value;
    if (!GetStringAttrib(entity, IdTextName, value)) return false;
    text = new char[static_cast<std::size_t>(value.length()) + 1];
    std::memcpy(text, value.c_str(), static_cast<std::size_t>(value.length()) + 1);
    return true;
}

bool Ve_AttribTransfer::setID(ENTITY* entity, int id) { return SetIntegerAttrib(entity, IdNumberName, id, true); }

bool Ve_AttribTransfer::getLabel(ENTITY* entity, QELXString& label)
{
    return GetStringAttrib(entity, LabelName, label);
}

bool Ve_AttribTransfer::setLabel(ENTITY* entity, const QELXString& label)
{
    return SetStringAttrib(entity, LabelName, label.c_str());
}

bool Ve_AttribTransfer::getCurrent(ENTITY* entity, bool& current)
{
    int value = 0;
    if (!GetIntegerAttrib(entity, CurrentName, value)) return false;
    current = value != 0;
    return true;
}

bool Ve_AttribTransfer::setCurrent(ENTITY* entity, bool current)
{
    return SetIntegerAttrib(entity, CurrentName, current ? 1 : 0, true);
}

bool Ve_AttribTransfer::getLayerFilterType(ENTITY* entity, int& type)
{
    return GetIntegerAttrib(entity, LayerFilterTypeName, type);
}

bool Ve_AttribTransfer::setLayerFilterType(ENTITY* entity, int type)
{
    return SetIntegerAttrib(entity, LayerFilterTypeName, type, true);
}

bool Ve_AttribTransfer::setColor(ENTITY* entity, double red, double green, double blue)
{
    if (!entity) return false;
    // One colour per entity: the new one replaces the old.
    return velm_api("Ve_AttribTransfer::setColor", [&] {
               while (ATTRIB* old = find_attrib(entity, ATTRIB_ST_TYPE, ATTRIB_RGB_TYPE)) old->lose();
               velm_require(VELM_NEW ATTRIB_RGB(entity, unit(red), unit(green), unit(blue)));
           })
        .ok();
}

bool Ve_AttribTransfer::setColor(ENTITY* entity, const rgb_color& colour)
{
    return setColor(entity, colour.red(), colour.green(), colour.blue());
}

bool Ve_AttribTransfer::setShow(ENTITY* entity, int show) { return SetIntegerAttrib(entity, ShowName, show, true); }

bool Ve_AttribTransfer::SetValue(ENTITY* entity, const QELXString& value)
{
    return SetStringAttrib(entity, ValueName, value.c_str());
}

bool Ve_AttribTransfer::SetValueType(ENTITY* entity, int type)
{
    return SetIntegerAttrib(entity, ValueTypeName, type, true);
}

bool Ve_AttribTransfer::SetInstanceName(ENTITY* entity, const QELXString& name, bool isAssembly)
{
    return setLabel(entity, name) && SetIntegerAttrib(entity, InstanceAssemblyName, isAssembly ? 1 : 0, true);
}

bool Ve_AttribTransfer::IsAssemblyCutTool(ENTITY* entity)
{
    int value = 0;
    return GetIntegerAttrib(entity, CutToolName, value) && value == 1;
}

bool Ve_AttribTransfer::SetAssemblyCutToolAttrib(ENTITY* entity)
{
    return SetIntegerAttrib(entity, CutToolName, 1, true);
}

bool Ve_AttribTransfer::setSurfUnBoundness(ENTITY* entity)
{
    return SetIntegerAttrib(entity, UnboundedSurfaceName, 1, true, split_copy, merge_keep_survivor, trans_apply,
                            copy_copy);
}

bool Ve_AttribTransfer::transferSurfUnboundedness(ENTITY* entity, const QELXIdentifier& source,
                                                  QELXAttributeExporter* exporter)
{
    if (!entity || !exporter)
        return false;
    bool unbounded = false;
    if (exporter->GetSurfaceUnboundedness(source, unbounded) == 0 && unbounded)
        setSurfUnBoundness(entity);
    return true;
}

// ---- transfer from a source's attribute exporter ----
// Names as the connector's own attribute exporter reads them back, so a round
// trip keeps them.

bool Ve_AttribTransfer::transferAttributes(ENTITY* target, const QELXIdentifier& source,
                                           QELXAttributeExporter* exporter, bool layer)
{
    if (!target || !exporter) return false;
    // A fact the kernel would not write is warned of, naming it: the target
    // is then short of what the source said of it, and the import not whole.
    bool whole = true;
    const auto written = [&](bool ok, const char* what) {
        if (ok) return;
        whole = false;
        QELXWarningEvent::Fire((std::string("the ") + what + " of a " + target->type_name() +
                                " could not be written (the kernel refused it)")
                                   .c_str());
    };
    QELXString name;
    if (exporter->GetName(source, name) == QELI_OK) written(setLabel(target, name), "name");
    double rgba[4] = {0.0, 0.0, 0.0, 0.0};
    if (exporter->GetColor(source, rgba) == QELI_OK) written(setColor(target, rgba[0], rgba[1], rgba[2]), "colour");
    bool show = true;
    if (exporter->GetShow(source, show) == QELI_OK && !show) written(setShow(target, 0), "visibility");
    bool pick = true;
    if (exporter->GetPick(source, pick) == QELI_OK)
        written(SetIntegerAttrib(target, "PICK", pick ? 1 : 0, true), "pickability");
    double thickness = 0.0;
    if (exporter->GetThickness(source, thickness) == QELI_OK && std::isfinite(thickness))
        written(api_add_generic_named_attribute(target, "THICKNESS", thickness, split_keep, merge_keep_survivor,
                                                trans_apply, copy_copy)
                    .ok(),
                "thickness");
    int lineType = 0;
    if (exporter->GetLineType(source, lineType) == QELI_OK)
        written(SetIntegerAttrib(target, "ATTRIB_XVELM_LINEFONT", lineType, true), "line type");
    QELXString id;
    if (exporter->GetId(source, id) == QELI_OK) written(SetStringAttrib(target, IdTextName, id.c_str()), "id text");
    int layerNumber = -1;
    if (layer && exporter->GetLayer(source, layerNumber) == QELI_OK)
        written(SetIntegerAttrib(target, LayerName, layerNumber, true), "layer number");
    return whole;
}

bool Ve_AttribTransfer::transferPIDAttribute(ENTITY* target, const QELXIdentifier& source,
                                             QELXAttributeExporter* exporter)
{
    if (!target || !exporter) return false;
    QELXString value;
    return exporter->GetPID(source, value) == QELI_OK && SetStringAttrib(target, "ATTRIB_XVELM_PID", value.c_str());
}

bool Ve_AttribTransfer::transferPNameAttribute(ENTITY* target, const QELXIdentifier& source,
                                               QELXAttributeExporter* exporter)
{
    if (!target || !exporter) return false;
    QELXString value;
    return exporter->GetPName(source, value) == QELI_OK &&
           SetStringAttrib(target, "ATTRIB_XVELM_PNAME", value.c_str());
}
