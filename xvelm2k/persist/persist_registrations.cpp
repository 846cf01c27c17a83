// Restore definitions of the connector's persistent classes, made in the
// fixed load order and removed in the reverse order.
#include <optional>

#include "persist/analytic_surface_attribute.hxx"
#include "persist/iges_husk_attributes.hxx"
#include "persist/tarvo_marker_attributes.hxx"
#include "persist/vda_husk_attributes.hxx"
#include "persist/ve_assembly.hxx"
#include "model/memory_init.hxx"

// The load order. AttDV_Mark links into the head of AttDV_Tarvo before that
// class registers: a definition keeps the address of its own head, so the
// parent finds the child there.
#define XVELM_PERSISTENT_LOAD_ORDER(X)                             \
    X(ATTRIB_DOVA_IGES, ATTRIB_subclasses)                         \
    X(ATTRIB_DOVA_IGES_LAYER, ATTRIB_DOVA_IGES_subclasses)         \
    X(ATTRIB_DOVA_IGES_LABEL, ATTRIB_DOVA_IGES_subclasses)         \
    X(ATTRIB_DOVA_IGES_COLOR, ATTRIB_DOVA_IGES_subclasses)         \
    X(ATTRIB_DOVA_IGES_LINEWEIGHT, ATTRIB_DOVA_IGES_subclasses)    \
    X(ATTRIB_DOVA_IGES_DE_ENTRY, ATTRIB_DOVA_IGES_subclasses)      \
    X(ATTRIB_DOVA_IGES_LINEFONT, ATTRIB_DOVA_IGES_subclasses)      \
    X(ATTRIB_DOVA_IGES_VELM_SURF_RANGE, ATTRIB_DOVA_IGES_subclasses) \
    X(ATTRIB_DOVA_IGES_SURF_RANGE, ATTRIB_DOVA_IGES_subclasses)    \
    X(ATTRIB_DOVA_IGES_SRFMAP, ATTRIB_DOVA_IGES_subclasses)        \
    X(ATTRIB_DOVA_VDA, ATTRIB_subclasses)                          \
    X(ATTRIB_VDA, ATTRIB_DOVA_VDA_subclasses)                      \
    X(VE_ASSEMBLY, ENTITY_subclasses)                              \
    X(ATTRIB_TARVO_GEOMETRIC, ATTRIB_subclasses)                   \
    X(AttDV_Mark, AttDV_Tarvo_subclasses)                          \
    X(ATTRIB_ANALYT_SURF, ATTRIB_subclasses)                       \
    X(AttDV_Tarvo, ATTRIB_TARVO_GEOMETRIC_subclasses)              \
    X(VE_FORMATION, ENTITY_subclasses)

#define XVELM_DECLARE_LINKS(CLASS, PARENT)      \
    extern restore_def* CLASS##_subclasses;      \
    extern const char CLASS##_identifier[];
XVELM_PERSISTENT_LOAD_ORDER(XVELM_DECLARE_LINKS)
XVELM_DECLARE_LINKS(VE_PART, ENTITY_subclasses)
#undef XVELM_DECLARE_LINKS

namespace {

struct Registration {
    restore_def** parent;
    const char* identifier;
    int* type;
    RESTORE_FN factory;
    restore_def** own;
};

#define XVELM_REGISTRATION(CLASS, PARENT) \
    Registration{&PARENT, CLASS##_identifier, &CLASS##_TYPE, &CLASS::velm_restore, &CLASS##_subclasses}
#define XVELM_REGISTRATION_ROW(CLASS, PARENT) XVELM_REGISTRATION(CLASS, PARENT),
const Registration classOrder[] = {XVELM_PERSISTENT_LOAD_ORDER(XVELM_REGISTRATION_ROW)};
const Registration partClass = XVELM_REGISTRATION(VE_PART, ENTITY_subclasses);
#undef XVELM_REGISTRATION_ROW
#undef XVELM_REGISTRATION

constexpr int classCount = static_cast<int>(sizeof classOrder / sizeof classOrder[0]);

// The registered definitions; constructed and destroyed by the calls below,
// never by the loader, so their order is ours alone.
struct Slots {
    std::optional<restore_def> classes[classCount];
    std::optional<restore_def> part;
};

Slots& slots()
{
    static Slots* s = new Slots();  // outlives every static destructor that unregisters
    return *s;
}

std::vector<std::string>& trace()
{
    static auto* t = new std::vector<std::string>();
    return *t;
}

void registerOne(std::optional<restore_def>& slot, const Registration& r)
{
    if (slot)
        return;
    slot.emplace(r.parent, r.identifier, r.type, r.factory, r.own);
    trace().push_back(std::string("+") + r.identifier);
}

void unregisterOne(std::optional<restore_def>& slot)
{
    if (!slot)
        return;
    trace().push_back(std::string("-") + slot->identifier());
    slot.reset();
}

}  // namespace

void registerPersistentClasses()
{
    for (int i = 0; i < classCount; ++i)
        registerOne(slots().classes[i], classOrder[i]);
}

void unregisterPersistentClasses()
{
    for (int i = classCount - 1; i >= 0; --i)
        unregisterOne(slots().classes[i]);
}

void registerPartClass() { registerOne(slots().part, partClass); }

void unregisterPartClass() { unregisterOne(slots().part); }

const std::vector<std::string>& persistentRegistrationTrace() { return trace(); }

void clearPersistentRegistrationTrace() { trace().clear(); }
