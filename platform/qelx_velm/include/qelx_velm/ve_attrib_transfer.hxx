#pragma once
// Group and attribute facts of kernel entities. Every fact is a generic named
// attribute on the entity (colour: the kernel's RGB attribute), so whatever
// the import side writes, the attribute exporter reads back.
//
// A bool result says the call worked: false for a null entity, or when a
// fact that is read is absent. Answers come back in the out parameters.
#include "qelx/qelx_string.hxx"
#include "velm/attrib.hxx"

class ENTITY;
class QELXAttributeExporter;
class QELXIdentifier;

// Group types stored under "QELATTRIB_GROUP_TYPE".
enum Ve_GroupType : int {
    Ve_GroupLayer = 0,
    Ve_GroupLayerFilter = 1,
    Ve_GroupSelectionSet = 2,
    Ve_GroupAssociative = 3,
    Ve_GroupCutFeatureCollection = 4
};

class Ve_AttribTransfer {
public:
    // Attribute names of the stored facts.
    static constexpr const char* GroupTypeName = "QELATTRIB_GROUP_TYPE";
    static constexpr const char* IdNumberName = "QELATTRIB_ID";
    static constexpr const char* IdTextName = "ATTRIB_XVELM_ID";
    static constexpr const char* LabelName = "ATTRIB_XVELM_NAME";
    static constexpr const char* CurrentName = "QELATTRIB_CURRENT";
    static constexpr const char* ShowName = "ATTRIB_XVELM_SHOW";
    static constexpr const char* LayerFilterTypeName = "QELATTRIB_LAYER_FILTER_TYPE";
    static constexpr const char* CollectionTypeName = "QELATTRIB_COLLECTION_TYPE";
    static constexpr const char* ValueName = "QELATTRIB_VALUE";
    static constexpr const char* ValueTypeName = "QELATTRIB_VALUE_TYPE";
    static constexpr const char* InstanceAssemblyName = "ATTRIB_XVELM_INSTANCE_ASSEMBLY";
    static constexpr const char* CutToolName = "ATTRIB_XVELM_ASSEMBLY_CUT_TOOL";
    static constexpr const char* LayerName = "ATTRIB_XVELM_LAYER";
    static constexpr const char* UnboundedSurfaceName = "QELATTRIB_UNBOUNDED_SURFACE";

    // Group kind: true for any entity; the flag says whether it is a group of that type.
    static bool isLayer(ENTITY* entity, bool& flag);
    static bool isLayerFilter(ENTITY* entity, bool& flag);
    static bool isSelectionSet(ENTITY* entity, bool& flag);
    static bool isQELCollection(ENTITY* entity);
    static bool setGroupType(ENTITY* entity, int type);
    static bool setCollectionType(ENTITY* entity, int type);

    // Number ("QELATTRIB_ID") and id text ("ATTRIB_XVELM_ID"; the caller frees it with delete[]).
    static bool getID(ENTITY* entity, int& id);
    static bool getID(ENTITY* entity, char*& text);
    static bool setID(ENTITY* entity, int id);

    static bool getLabel(ENTITY* entity, QELXString& label);
    static bool setLabel(ENTITY* entity, const QELXString& label);

    static bool getCurrent(ENTITY* entity, bool& current);
    static bool setCurrent(ENTITY* entity, bool current);

    static bool getLayerFilterType(ENTITY* entity, int& type);
    static bool setLayerFilterType(ENTITY* entity, int type);

    // Colour components are clamped to [0, 1]; one that is not a number is 0.
    static bool setColor(ENTITY* entity, double red, double green, double blue);
    static bool setColor(ENTITY* entity, const rgb_color& colour);
    static bool setShow(ENTITY* entity, int show);

    static bool SetValue(ENTITY* entity, const QELXString& value);
    static bool SetValueType(ENTITY* entity, int type);
    static bool SetInstanceName(ENTITY* entity, const QELXString& name, bool isAssembly);

    static bool IsAssemblyCutTool(ENTITY* entity);
    static bool SetAssemblyCutToolAttrib(ENTITY* entity);

    // The facts the source's attribute exporter answers for `source` (name,
    // colour, show when false, pick, thickness, line type, id text and, with
    // `layer`, the layer number) written on the target; false for a null
    // target or exporter.
    static bool transferAttributes(ENTITY* target, const QELXIdentifier& source, QELXAttributeExporter* exporter,
                                   bool layer);
    // "ATTRIB_XVELM_PID" / "ATTRIB_XVELM_PNAME" from GetPID / GetPName.
    static bool transferPIDAttribute(ENTITY* target, const QELXIdentifier& source, QELXAttributeExporter* exporter);
    static bool transferPNameAttribute(ENTITY* target, const QELXIdentifier& source, QELXAttributeExporter* exporter);

    // A generic named attribute of that name is on the entity.
    static bool IsAttribPresent(ENTITY* entity, const char* name);
    // Writes an integer attribute; with replace false an existing one of that
    // name is kept and the call answers false.
    static bool SetIntegerAttrib(ENTITY* entity, const char* name, int value, bool replace,
                                 split_action split = split_keep,
                                 merge_action merge = merge_keep_survivor,
                                 trans_action trans = trans_apply, copy_action copy = copy_copy);
    // "QELATTRIB_UNBOUNDED_SURFACE" = 1.
    static bool setSurfUnBoundness(ENTITY* entity);
    // The source marks the entity's surface unbounded: the entity gets the mark.
    // False for a null entity or exporter.
    static bool transferSurfUnboundedness(ENTITY* entity, const QELXIdentifier& source,
                                          QELXAttributeExporter* exporter);

    // Readers shared with the connector: the value of a generic named attribute
    // of that name and kind; false when absent or of another kind.
    static bool GetIntegerAttrib(const ENTITY* entity, const char* name, int& value);
    static bool GetStringAttrib(const ENTITY* entity, const char* name, QELXString& value);
    // Writes a string attribute, replacing one of the same name.
    static bool SetStringAttrib(ENTITY* entity, const char* name, const char* value,
                                split_action split = split_keep,
                                merge_action merge = merge_keep_survivor,
                                trans_action trans = trans_apply, copy_action copy = copy_copy);
};
