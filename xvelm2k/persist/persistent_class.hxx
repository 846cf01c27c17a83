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

// Identifier chain: the class itself, then each of the connector's bases down
// to the family base. A kernel base writes nothing here: the kernel completes
// the chain with its own level-1 class (ENTITY::save_common).
#define XVELM_PERSISTENT_DEF(CLASS, BASE, LEVEL, IDENT)                                              \
    extern const char CLASS##_identifier[];                                                          \
    const char CLASS##_identifier[] = IDENT;                                                         \
    void CLASS::velm_write_ids()                                                                     \
    {                                                                                                \
        write_id_level(CLASS##_identifier, LEVEL);                                                   \
        BASE::velm_write_ids();                                                                      \
    }                                                                                                \
    ENTITY* CLASS::velm_restore()                                                                    \
    {                                                                                                \
        /* Made inside the restore's frame: a failure further on destroys it. */                    \
        CLASS* e = velm_require(VELM_NEW CLASS());                                                   \
        e->restore_common();                                                                         \
        return e;                                                                                    \
    }                                                                                                \
    METHOD_TABLE& CLASS::velm_methods()                                                              \
    {                                                                                                \
        static METHOD_TABLE table;                                                                   \
        return table;                                                                                \
    }                                                                                                \
    int CLASS::add_method(const METHOD_ID& id, METHOD_FN fn) { return velm_methods().add(id, fn); } \
    ENTITY* CLASS::make_copy() const                                                                 \
    {                                                                                                \
        CLASS* c = VELM_NEW CLASS(*this);                                                            \
        if (c)                                                                                       \
            fixup_copy(c);                                                                           \
        return c;                                                                                    \
    }                                                                                                \
    int CLASS::identity(int level) const { return velm_identity_of<BASE>(this, level, LEVEL, CLASS##_TYPE); } \
    const char* CLASS::type_name() const { return CLASS##_identifier; }                                         \
    int CLASS::size() const { return static_cast<int>(sizeof(CLASS)); }                              \
    void CLASS::save(ENTITY_LIST& list) const                                                        \
    {                                                                                                \
        save_begin(0);                                                                               \
        velm_write_ids();                                                                            \
        save_common(list);                                                                           \
        save_end();                                                                                  \
    }                                                                                                \
    ENTITY* CLASS::copy_data(ENTITY_LIST& list, pointer_map* pm, int dpcpy_skip, SCAN_TYPE reason) const \
    {                                                                                                \
        CLASS* c = VELM_NEW CLASS();                                                                 \
        if (c)                                                                                       \
            c->copy_common(list, this, pm, dpcpy_skip, reason);                                      \
        return c;                                                                                    \
    }                                                                                                \
    int CLASS::call_method(const METHOD_ID& id, const METHOD_ARGS& args)                             \
    {                                                                                                \
        bool found = false;                                                                          \
        const int r = velm_call_in_table(velm_methods(), this, id, args, found);                     \
        return found ? r : BASE::call_method(id, args);                                              \
    }                                                                                                \
    void CLASS::roll_back(ENTITY* before) { *this = *static_cast<const CLASS*>(before); }            \
    bool is_##CLASS(const ENTITY* e) { return e && e->identity(LEVEL) == CLASS##_TYPE; }

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
