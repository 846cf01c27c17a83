#pragma once
// The one persistence scheme of the connector's kernel classes.
//
// In the class body:  VELM_ENTITY_DECL(CLASS, BASE, LEVEL)   (the kernel's declaration)
// In one source file: XVELM_PERSISTENT_DEF(CLASS, BASE, LEVEL, "identifier")
//
// The definition gives the class its identifier chain, restore factory,
// method table, identity, copy and roll-back members and its type test
// is_CLASS. `int CLASS_TYPE` and `restore_def* CLASS_subclasses` are defined
// beside it (exported or not, as the class's header declares them). The
// restore definitions themselves are made in one place, in a fixed order, by
// registerPersistentClasses and registerPartClass (persist_registrations.cpp).
#include <string>
#include <vector>

#include "velm/entity.hxx"
#include "velm/lists.hxx"
#include "velm/save.hxx"
#include "xvelm2k/export.hxx"

// The kernel's own member definitions for a class from outside it: the
// identifier chain is the class itself, then each of the connector's bases down
// to the family base (a kernel base writes nothing here: the kernel completes
// the chain with its own level-1 class). The restore definition is not made
// here but in persist_registrations.cpp, in the load order, from the one
// identifier text defined here.
#define XVELM_PERSISTENT_DEF(CLASS, BASE, LEVEL, IDENT)  \
    extern const char CLASS##_identifier[];               \
    const char CLASS##_identifier[] = IDENT;              \
    VELM_ENTITY_DEF_MEMBERS(CLASS, BASE, LEVEL, CLASS##_identifier, CLASS##_TYPE)

// Type number and subclass-list head of a class, zero until registered.
#define XVELM_PERSISTENT_DATA(API, CLASS) \
    API int CLASS##_TYPE = 0;             \
    API restore_def* CLASS##_subclasses = nullptr;

// Restore definitions of the classes in their load order (all but VE_PART,
// which registers later, after the surface-intersection worker map). Both
// pairs may be called more than once: registering what is registered, or
// unregistering what is not, does nothing.
XVELM2KA_API void registerPersistentClasses();
XVELM2KA_API void unregisterPersistentClasses();
XVELM2KA_API void registerPartClass();
XVELM2KA_API void unregisterPartClass();

// Static objects for the start-up translation unit: construction registers,
// destruction (at exit, in reverse order) unregisters.
struct XVELM2KA_API PersistentClassesAtLoad {
    PersistentClassesAtLoad() { registerPersistentClasses(); }
    ~PersistentClassesAtLoad() { unregisterPersistentClasses(); }
    PersistentClassesAtLoad(const PersistentClassesAtLoad&) = delete;
    PersistentClassesAtLoad& operator=(const PersistentClassesAtLoad&) = delete;
};
struct XVELM2KA_API PartClassAtLoad {
    PartClassAtLoad() { registerPartClass(); }
    ~PartClassAtLoad() { unregisterPartClass(); }
    PartClassAtLoad(const PartClassAtLoad&) = delete;
    PartClassAtLoad& operator=(const PartClassAtLoad&) = delete;
};

// Registration events ("+identifier", "-identifier") since the last clear;
// lets tests see the order.
XVELM2KA_API const std::vector<std::string>& persistentRegistrationTrace();
XVELM2KA_API void clearPersistentRegistrationTrace();
