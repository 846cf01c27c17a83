// Attribute answers from kernel entities: generic named attributes first (the
// framework's names, then the connector's, then, when asked for, the old
// ones), then the kernel's colour attributes and layer collections.
#include "export/attribute_exporter.hxx"

#include <cstdlib>
#include <cstring>

#include "model/document.hxx"
#include "model/kernel_call_bracket.hxx"
#include "model/memory_init.hxx"
#include "persist/brep_attrib_transfer.hxx"
#include "qelx_velm/velm_entity_utils.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "velm/attrib.hxx"
#include "velm/groups.hxx"

namespace {

constexpr QELIResult kNothing = 0x1000002;
constexpr QELIResult kFailed = 0x1000001;
constexpr QELIResult kNoEntity = 0x100000b;
constexpr const char* kSource = "attribute_exporter";

ENTITY* entityOf(const QELXIdentifier& id) { return QELXVelmEntityUtils::GetEntity(id); }

QELXIdentifier identifierOf(const ENTITY* e)
{
    return QELXIdentifier(QELXVelmEntityUtils::GetIdentifier(e), "", nullptr, "");
}

bool oldAttributesOn() { return Ve_OptionDoc::isOn(Ve_OptionDoc::TranslateOldVelmGenericAttributes); }

// A look-up's answer: null when the name is absent or the kernel refused the
// look-up. A refusal is reported, so that the walk never takes a name it
// could not read for a name that is not there.
ATTRIB_GEN_NAME* answered(const outcome& result, ATTRIB_GEN_NAME* found, int line)
{
    if (result.ok())
        return found;
    reportKernelError(result.error_number(), kSource, line);
    return nullptr;
}

ATTRIB_GEN_NAME* findNamed(const ENTITY* e, const char* name)
{
    ATTRIB_GEN_NAME* found = nullptr;
    const outcome result = api_find_named_attribute(e, name, found);
    return answered(result, found, __LINE__);
}

// The named attribute of that kind, looked up directly; null when absent
// or of another kind.
template <class Kind>
const Kind* named(const ENTITY* e, const char* name)
{
    return dynamic_cast<const Kind*>(findNamed(e, name));
}

// The same inside the kernel-call bracket, for the old attributes of earlier releases.
template <class Kind>
const Kind* namedInBracket(const ENTITY* e, const char* name)
{
    ATTRIB_GEN_NAME* found = nullptr;
    const outcome result = velmCall([&] { return api_find_named_attribute(e, name, found); });
    return dynamic_cast<const Kind*>(answered(result, found, __LINE__));
}

// The three names of one attribute word in lookup order; the old one only
// when old attributes are translated.
template <class Kind>
const Kind* lookup(const ENTITY* e, const char* word, const char* oldName)
{
    const std::string framework = std::string("QELX_") + word;
    const std::string connector = std::string("ATTRIB_XVELM_") + word;
    if (const Kind* a = named<Kind>(e, framework.c_str()))
        return a;
    if (const Kind* a = named<Kind>(e, connector.c_str()))
        return a;
    if (oldName && oldAttributesOn())
        return namedInBracket<Kind>(e, oldName);
    return nullptr;
}

const double kColourTable[8][3] = {{0.0, 0.0, 0.0}, {1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0},
                                   {0.0, 1.0, 1.0}, {1.0, 1.0, 0.0}, {1.0, 0.0, 1.0}, {1.0, 1.0, 1.0}};

} // namespace

QELXVelmAttributeExporter::QELXVelmAttributeExporter(Ve_DocumentTag* document) : m_document(document) {}

QELXVelmAttributeExporter::QELXVelmAttributeExporter(const QELXVelmAttributeExporter& other)
    : QELXODRAttributeExporter(other), m_layerMap(other.m_layerMap), m_document(other.m_document)
{
}

QELXVelmAttributeExporter& QELXVelmAttributeExporter::operator=(const QELXVelmAttributeExporter& other)
{
    if (this != &other) {
        m_layerMap = other.m_layerMap;
        m_document = other.m_document;
    }
    return *this;
}

QELXVelmAttributeExporter::~QELXVelmAttributeExporter() { m_document = nullptr; }

void QELXVelmAttributeExporter::SetLayerMap(QELXHashMap<int, QELGROUP*>& map) { m_layerMap = map; }

void QELXVelmAttributeExporter::colourOfIndex(int number, double rgb[3])
{
    // The most negative number has no absolute value; it selects entry 0.
    const int entry = number == (-2147483647 - 1) ? 0 : std::abs(number) % 8;
    for (int k = 0; k < 3; ++k)
        rgb[k] = kColourTable[entry][k];
}

QELIResult QELXVelmAttributeExporter::GetColor(const QELXIdentifier& id, double* rgba)
{
    ENTITY* e = entityOf(id);
    if (!e)
        return kNoEntity;
    QELIResult result = kNothing;
    double rgb[3] = {0.0, 0.0, 0.0};
    // Later kinds win: colour index over RGB over rendering material.
    if (auto* render = static_cast<ATTRIB_RENDER*>(find_attrib(e, ATTRIB_RH_TYPE, ATTRIB_RENDER_TYPE))) {
        if (rh_get_material_color(render->material(), rgb[0], rgb[1], rgb[2]))
            result = 0;
    }
    if (auto* colour = static_cast<ATTRIB_RGB*>(find_attrib(e, ATTRIB_ST_TYPE, ATTRIB_RGB_TYPE))) {
        rgb[0] = colour->red();
        rgb[1] = colour->green();
        rgb[2] = colour->blue();
        result = 0;
    }
    if (auto* index = static_cast<ATTRIB_COL*>(find_attrib(e, ATTRIB_TSL_TYPE, ATTRIB_COL_TYPE))) {
        colourOfIndex(index->colour(), rgb);
        result = 0;
    }
    if (result == 0) {
        rgba[0] = rgb[0];
        rgba[1] = rgb[1];
        rgba[2] = rgb[2];
        rgba[3] = 0.0;
        return 0;
    }
    ENTITY* owner = e->owner();
    if (!owner || owner == e)
        return result;
    if ((is_VERTEX(e) || is_EDGE(e)) && !is_BODY(owner))
        return result;
    return GetColor(identifierOf(owner), rgba) == 0 ? QELI_OK : result;
}

QELIResult QELXVelmAttributeExporter::GetShow(const QELXIdentifier& id, bool& show)
{
    const ENTITY* e = entityOf(id);
    if (!e)
        return kNothing;
    show = false;
    if (const auto* a = lookup<ATTRIB_GEN_INTEGER>(e, "SHOW", "AttDV_Ps_Show")) {
        show = a->value() != 0;
        return 0;
    }
    show = true;
    return 0;
}

QELIResult QELXVelmAttributeExporter::GetPick(const QELXIdentifier& id, bool& pick)
{
    const ENTITY* e = entityOf(id);
    if (!e)
        return kNothing;
    pick = false;
    if (const auto* a = lookup<ATTRIB_GEN_INTEGER>(e, "PICK", "AttDV_Ps_Pick")) {
        pick = a->value() != 0;
        return 0;
    }
    return kNothing;
}

QELIResult QELXVelmAttributeExporter::GetThickness(const QELXIdentifier& id, double& thickness)
{
    const ENTITY* e = entityOf(id);
    if (!e)
        return kNothing;
    thickness = -1.0;
    if (const auto* a = lookup<ATTRIB_GEN_REAL>(e, "THICKNESS", "AttDV_Ps_Thickness")) {
        thickness = a->value();
        return 0;
    }
    return kNothing;
}

QELIResult QELXVelmAttributeExporter::GetLineType(const QELXIdentifier& id, int& type)
{
    const ENTITY* e = entityOf(id);
    if (!e)
        return kNothing;
    if (const auto* a = lookup<ATTRIB_GEN_INTEGER>(e, "LINETYPE", "AttDV_Ps_LineType")) {
        type = a->value();
        return 0;
    }
    return kNothing;
}

QELIResult QELXVelmAttributeExporter::GetLineFont(const QELXIdentifier& id, int& font)
{
    const ENTITY* e = entityOf(id);
    if (!e)
        return kNothing;
    if (const auto* a = lookup<ATTRIB_GEN_INTEGER>(e, "LINEFONT", nullptr)) {
        font = a->value();
        return 0;
    }
    return kNothing;
}

QELIResult QELXVelmAttributeExporter::GetLineStyle(const QELXIdentifier& id, QELX_Attribute_Line_Font& font,
                                                   QELX_Attribute_Line_Cap&, QELX_Attribute_Line_Cap&,
                                                   QELX_Attribute_Line_Join&, QELX_Attribute_Line_Cap&,
                                                   QELX_Attribute_Line_Cap&)
{
    int value = 0;
    const QELIResult result = GetLineFont(id, value);
    font = static_cast<QELX_Attribute_Line_Font>(value);
    return result;
}

QELIResult QELXVelmAttributeExporter::GetLineWeight(const QELXIdentifier&, int&) { return kNothing; }
QELIResult QELXVelmAttributeExporter::GetFillPattern(const QELXIdentifier&, QELX_Attribute_Fill_Pattern&)
{
    return kNothing;
}
QELIResult QELXVelmAttributeExporter::GetPenPattern(const QELXIdentifier&, QELX_Attribute_Pen_Pattern&)
{
    return kNothing;
}
QELIResult QELXVelmAttributeExporter::GetOverlapControl(const QELXIdentifier&, QELX_Attribute_Overlap_Control&)
{
    return kNothing;
}

QELIResult QELXVelmAttributeExporter::GetLayer(const QELXIdentifier& id, int& layer)
{
    const ENTITY* e = entityOf(id);
    if (!e)
        return kNoEntity;
    layer = 0;
    if (const auto* a = lookup<ATTRIB_GEN_INTEGER>(e, "LAYER", nullptr)) {
        layer = a->value();
        return 0;
    }
    QELGROUP* group = nullptr;
    const QELIResult found = GetLayer(id, group);
    if (found == 0 && group)
        return GetID(identifierOf(group), layer);
    if (oldAttributesOn()) {
        if (const auto* a = namedInBracket<ATTRIB_GEN_INTEGER>(e, "AttDV_Ps_Layer")) {
            layer = a->value();
            return 0;
        }
    }
    return found;
}

QELIResult QELXVelmAttributeExporter::GetName(const QELXIdentifier& id, QELXString& name)
{
    const ENTITY* e = entityOf(id);
    if (!e)
        return kNoEntity;
    const bool wide = Ve_OptionDoc::isOn(Ve_OptionDoc::EnableWideCharAttribute);
    ATTRIB_GEN_NAME* found = findNamed(e, "QELX_NAME");
    const bool fromFramework = found != nullptr;
    if (!found)
        found = findNamed(e, "ATTRIB_XVELM_NAME");
    if (found && !wide) {
        if (const auto* text = dynamic_cast<const ATTRIB_GEN_STRING*>(found)) {
            name = QELXString(text->value());
            return 0;
        }
    }
    if (found && wide && !fromFramework) {
        if (const auto* text = dynamic_cast<const ATTRIB_GEN_WSTRING*>(found)) {
            name = QELXString(text->value());
            return 0;
        }
    }
    if (oldAttributesOn()) {
        if (const auto* text = namedInBracket<ATTRIB_GEN_STRING>(e, "AttDV_Ps_Label")) {
            name = QELXString(text->value());
            return 0;
        }
    }
    return kNothing;
}

QELIResult QELXVelmAttributeExporter::GetAlias(const QELXIdentifier& id, QELXIdentifier&, QELXIdentifier&, int& count,
                                               QELXString*& texts)
{
    const ENTITY* e = entityOf(id);
    if (!e)
        return kNoEntity;
    QELXDynamicArray<const ATTRIB_GEN_STRING*> names;
    for (ATTRIB* a = find_attrib(e, ATTRIB_GENERIC_TYPE); a; a = find_next_attrib(a, ATTRIB_GENERIC_TYPE)) {
        const auto* text = dynamic_cast<const ATTRIB_GEN_STRING*>(a);
        if (text && std::strcmp(text->name(), "ATTRIB_XVELM_NAME") == 0)
            names.Add(text);
    }
    count = names.Count();
    if (count == 0)
        return kFailed;
    texts = new QELXString[static_cast<std::size_t>(count)];
    for (int i = 0; i < count; ++i)
        texts[i] = QELXString(names[i]->value());
    return 0;
}

QELIResult QELXVelmAttributeExporter::GetAlias2(const QELXIdentifier& id, QELXString& alias)
{
    const ENTITY* e = entityOf(id);
    if (!e)
        return kNoEntity;
    const auto* text = dynamic_cast<const ATTRIB_GEN_STRING*>(findNamed(e, "ATTRIB_XVELM_ALIAS"));
    if (!text || !*text->value())
        return kFailed;
    alias = QELXString(text->value());
    return 0;
}

QELIResult QELXVelmAttributeExporter::GetId(const QELXIdentifier& id, QELXString& text)
{
    char* buffer = nullptr;
    if (!Ve_AttribTransfer::getID(entityOf(id), buffer))
        return kFailed;
    text = QELXString(buffer ? buffer : "");
    delete[] buffer;
    return 0;
}

QELIResult QELXVelmAttributeExporter::GetID(const QELXIdentifier& id, int& number)
{
    return Ve_AttribTransfer::getID(entityOf(id), number) ? QELI_OK : kFailed;
}

QELIResult QELXVelmAttributeExporter::GetSurfaceUnboundedness(const QELXIdentifier& id, bool& unbounded)
{
    const ENTITY* e = entityOf(id);
    if (!e)
        return kNothing;
    unbounded = false;
    int value = 0;
    if (Ve_AttribTransfer::GetIntegerAttrib(e, Ve_AttribTransfer::UnboundedSurfaceName, value) && value != 0) {
        unbounded = true;
        return 0;
    }
    return kNothing;
}

QELIResult QELXVelmAttributeExporter::GetPlaneUnboundedness(const QELXIdentifier& id, bool& unbounded)
{
    ENTITY* e = entityOf(id);
    if (!is_BODY(e) && !is_FACE(e))
        return kFailed;
    unbounded = QELXVelmBRepAttribTransfer::GetPlaneUnboundedness(e);
    return 0;
}

// ---------------------------------------------------------------------------
// Layers

QELIResult QELXVelmAttributeExporter::GetLayer(const QELXIdentifier& id, QELGROUP*& group)
{
    ENTITY* e = entityOf(id);
    if (!e)
        return kFailed;
    // Absent counts as on: a layer on a shell holds for its faces.
    const bool climb = !Ve_OptionDoc::isOff(Ve_OptionDoc::SearchLayersThruMultipleLevels);
    for (ENTITY* at = e; at;) {
        for (ATTRIB* a = find_attrib(at, ATTRIB_ST_TYPE, ATTRIB_QELCOLLECTION_TYPE); a;
             a = find_next_attrib(a, ATTRIB_ST_TYPE, ATTRIB_QELCOLLECTION_TYPE)) {
            QELCOLLECTION* collection = static_cast<ATTRIB_QELCOLLECTION*>(a)->collection();
            bool layer = false;
            if (is_QELGROUP(collection) && Ve_AttribTransfer::isLayer(collection, layer) && layer) {
                group = static_cast<QELGROUP*>(collection);
                return 0;
            }
        }
        ENTITY* owner = at->owner();
        if (!climb || !owner || owner == at)
            break;
        at = owner;
    }
    return kFailed;
}

bool QELXVelmAttributeExporter::GetLayer(int number, QELGROUP*& group)
{
    group = nullptr;
    if (m_document) {
        for (QELGROUP* layer : m_document->GetLayers()) {
            int own = 0;
            if (GetID(identifierOf(layer), own) == 0 && own == number) {
                group = layer;
                return true;
            }
        }
        return false;
    }
    return m_layerMap.Get(number, group) && group;
}

QELIResult QELXVelmAttributeExporter::GetLayerName(int layer, QELXString& name)
{
    QELGROUP* group = nullptr;
    return GetLayer(layer, group) ? GetName(identifierOf(group), name) : kFailed;
}

QELIResult QELXVelmAttributeExporter::GetLayerName(const QELXIdentifier& id, QELXString& name)
{
    if (Ve_AttribTransfer::GetStringAttrib(entityOf(id), "ATTRIB_XVELM_LAYER_NAME", name))
        return 0;
    QELGROUP* group = nullptr;
    const QELIResult found = GetLayer(id, group);
    return found == 0 && group ? GetName(identifierOf(group), name) : found;
}

QELIResult QELXVelmAttributeExporter::GetLayerColor(int layer, double* rgba)
{
    QELGROUP* group = nullptr;
    return GetLayer(layer, group) ? GetColor(identifierOf(group), rgba) : kFailed;
}

QELIResult QELXVelmAttributeExporter::GetLayerColor(const QELXIdentifier& id, double* rgba)
{
    QELGROUP* group = nullptr;
    const QELIResult found = GetLayer(id, group);
    return found == 0 && group ? GetColor(identifierOf(group), rgba) : found;
}

QELIResult QELXVelmAttributeExporter::GetLayerState(int layer, bool& current)
{
    QELGROUP* group = nullptr;
    if (!GetLayer(layer, group))
        return kFailed;
    return Ve_AttribTransfer::getCurrent(group, current) ? QELI_OK : kFailed;
}

QELIResult QELXVelmAttributeExporter::GetLayerState(const QELXIdentifier& id, bool& current)
{
    QELGROUP* group = nullptr;
    const QELIResult found = GetLayer(id, group);
    if (found != 0 || !group)
        return found;
    Ve_AttribTransfer::getCurrent(group, current);
    return 0;
}
