// Entity core: the ENTITY base, type numbers and identity, the class registry
// used by restore, the by-name method protocol and the copy protocol.
//
// Pointer fields during copy and restore hold encoded indices, never real
// addresses: copy_data and restore_common store them (copy_index, read_ptr),
// fix_pointers turns them back with read_array. Index 0 always stands for null.
// A holder's fix_pointers raises the use count of the geometry it refers to, so
// copies and restored entities get correct use counts without saving them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <unordered_map>

#include "velm/address_table.hxx"
#include "velm/errors.hxx"
#include "velm/memory.hxx"

class ENTITY;
class ENTITY_LIST;
class ATTRIB;
class QELtransf;
class METHOD_ID;
class METHOD_ARGS;
class restore_def;

enum SCAN_TYPE { scan_copy = 0, scan_deep_copy = 1, scan_delete = 2, scan_distribute = 3 };

// ---------------------------------------------------------------------------
// Type numbers of the kernel's classes (row order of the class table) and their
// subclass-list heads. Classes registered from outside get 1000, 1001, ...
#define VELM_KERNEL_CLASSES(X)                                                                  \
  X(BODY, 1) X(LUMP, 2) X(SHELL, 3) X(FACE, 4) X(LOOP, 5) X(COEDGE, 6) X(TCOEDGE, 7) X(EDGE, 8)   \
  X(TEDGE, 9) X(VERTEX, 10) X(TVERTEX, 11) X(WIRE, 12) X(APOINT, 13) X(CURVE, 14)                \
  X(STRAIGHT, 15) X(ELLIPSE, 16) X(INTCURVE, 17) X(DEGENERATE_CURVE, 18) X(SURFACE, 19)          \
  X(PLANE, 20) X(CONE, 21) X(SPHERE, 22) X(TORUS, 23) X(SPLINE, 24) X(PCURVE, 25)               \
  X(TRANSFORM, 26) X(WCS, 27) X(EE_LIST, 28) X(QELCOLLECTION, 29) X(QELGROUP, 30) X(ATTRIB, 31) \
  X(ATTRIB_GENERIC, 32) X(ATTRIB_GEN_NAME, 33) X(ATTRIB_GEN_STRING, 34)                          \
  X(ATTRIB_GEN_WSTRING, 35) X(ATTRIB_GEN_INTEGER, 36) X(ATTRIB_GEN_REAL, 37)                     \
  X(ATTRIB_GEN_VECTOR, 38) X(ATTRIB_GEN_POINTER, 39) X(ATTRIB_ST, 40) X(ATTRIB_RGB, 41)          \
  X(NO_MERGE_ATTRIB, 42) X(ATTRIB_QELCOLLECTION, 43) X(ATTRIB_TSL, 44) X(ATTRIB_COL, 45)         \
  X(ATTRIB_RH, 46) X(ATTRIB_RENDER, 47)

#define VELM_DECLARE_KERNEL_CLASS(CLASS, NUMBER)   \
  constexpr int CLASS##_TYPE = NUMBER;             \
  extern restore_def* CLASS##_subclasses;          \
  bool is_##CLASS(const ENTITY* e);
VELM_KERNEL_CLASSES(VELM_DECLARE_KERNEL_CLASS)
#undef VELM_DECLARE_KERNEL_CLASS

constexpr int DEGENERATE_TYPE = DEGENERATE_CURVE_TYPE;
// The root; kept clear of the table's numbers and of the registered range.
constexpr int ENTITY_TYPE = 999;
constexpr int VELM_FIRST_EXTERNAL_TYPE = 1000;
extern restore_def* ENTITY_subclasses;

// ---------------------------------------------------------------------------
// By-name methods.
using METHOD_FN = int (*)(void* object, const METHOD_ARGS& args);

class METHOD_ID {
 public:
  METHOD_ID(const char* method_name, const char* argument_type_name)
      : name_(method_name), arg_(argument_type_name) {}
  const char* name() const { return name_; }
  const char* arg_type() const { return arg_; }
  bool operator==(const METHOD_ID& other) const;

 private:
  const char* name_;
  const char* arg_;
};

class METHOD_ARGS {
 public:
  virtual ~METHOD_ARGS() = default;
  virtual const char* id() const = 0;  // the argument-type name
};

// Per-class table. Constant-initialised: a static table is usable before any
// constructor runs (registrations may come first).
class METHOD_TABLE {
 public:
  constexpr METHOD_TABLE() = default;
  METHOD_TABLE(const METHOD_TABLE&) = delete;
  METHOD_TABLE& operator=(const METHOD_TABLE&) = delete;
  ~METHOD_TABLE();
  // 1 when added, 0 when an entry of that id was replaced.
  int add(const METHOD_ID& id, METHOD_FN fn);
  METHOD_FN find(const METHOD_ID& id) const;
  int count() const;

 private:
  struct entry;
  entry* head_ = nullptr;
};

// ---------------------------------------------------------------------------
// Original -> copy map of a deep copy.
class pointer_map {
 public:
  ENTITY* find(const ENTITY* original) const;
  void add(const ENTITY* original, ENTITY* copy);
  int count() const { return static_cast<int>(map_.size()); }

 private:
  velm_address_map<ENTITY*> map_;
};

// ---------------------------------------------------------------------------
class ENTITY : public VELM_OBJECT {
 public:
  static constexpr int velm_level = 0;

  // Virtual slots, in the kernel's order.
  virtual ENTITY* make_copy() const;                                               // 1
  virtual ~ENTITY();                                                               // 2
  virtual int identity(int level = 0) const;                                       // 3
  virtual const char* type_name() const;                                           // 4
  virtual int size() const;                                                        // 5
  virtual void debug_ent(FILE* fp) const;                                          // 6
  virtual void save(ENTITY_LIST& list) const;                                      // 7
  virtual void copy_scan(ENTITY_LIST& list, SCAN_TYPE reason = scan_copy,
                         int dpcpy_skip = 0) const;                                // 8
  virtual bool is_deepcopyable() const;                                            // 9
  virtual ENTITY* copy_data(ENTITY_LIST& list, pointer_map* pm = nullptr, int dpcpy_skip = 0,
                            SCAN_TYPE reason = scan_copy) const;                   // 10
  virtual void fix_pointers(ENTITY* array[], SCAN_TYPE reason);                    // 11
  virtual int call_method(const METHOD_ID& id, const METHOD_ARGS& args);          // 12
  virtual void lose();                                                             // 13
  virtual int lookup(int create) const;                                            // 14
  virtual bool apply_transform(const QELtransf& t, ENTITY_LIST& done, bool negate = false,
                               bool reset_pattern = true);                         // 15
  virtual void roll_back(ENTITY* before);                                          // 16
  virtual ENTITY* owner() const;                                                   // 17

  // Use count (geometry and other shared entities).
  void add();
  void remove(int lose_if_zero = 1);
  int use_count() const { return use_count_; }

  // Head of the attribute chain. The chain is walked by the attribute module.
  ATTRIB* attrib() const { return reinterpret_cast<ATTRIB*>(attrib_); }
  void set_attrib(ATTRIB* a);  // backs up
  ENTITY* attrib_entity() const { return attrib_; }

  // Persistence of the ENTITY part.
  void save_begin(int) const;                        // "-<index>"
  void save_common(ENTITY_LIST& list) const;         // kernel identifier, attribute head, id
  void save_end() const;                             // "#"
  void restore_common();
  void fix_common(ENTITY* array[], SCAN_TYPE reason);
  void copy_common(ENTITY_LIST& list, const ENTITY* from, pointer_map* pm = nullptr,
                   int dpcpy_skip = 0, SCAN_TYPE reason = scan_copy);
  void fixup_copy(ENTITY* copy) const;

  // Records a before-image in the open bulletin board; every setter calls it first.
  void backup();
  int debug_number() const { return lookup(1); }

  // Number of api_get_entity_id (0 until first asked for).
  int entity_id() const { return id_; }
  bool is_lost() const { return (state_ & state_lost) != 0; }
  bool is_backup_image() const { return (state_ & state_image) != 0; }

  static int add_method(const METHOD_ID& id, METHOD_FN fn);
  static void velm_write_ids() {}

  // Entities come from the kernel's slabs (memory.cpp); the forms are VELM_OBJECT's.
  static void* operator new(std::size_t size) noexcept;
  static void* operator new(std::size_t size, int memory_kind) noexcept;
  static void* operator new(std::size_t size, int memory_kind, const char* source_file, int line,
                            void* pass_on) noexcept;
  static void* operator new(std::size_t, void* where) noexcept { return where; }
  static void operator delete(void* p, std::size_t size) noexcept;
  static void operator delete(void* p, int memory_kind) noexcept;
  static void operator delete(void* p, int memory_kind, const char* source_file, int line,
                              void* pass_on) noexcept;
  static void operator delete(void*, void*) noexcept {}

 protected:
  ENTITY();
  ENTITY(const ENTITY& other);             // copies the ENTITY part
  ENTITY& operator=(const ENTITY& other);  // copies the ENTITY part

 private:
  friend class velm_entity_access;
  enum : unsigned char { state_lost = 1, state_image = 2, state_doomed = 4 };
  void enter();
  ENTITY* attrib_ = nullptr;
  int use_count_ = 0;
  int id_ = 0;
  unsigned char state_ = 0;
  // A word for the one pass that holds the scratch (velm_scratch), valid while
  // its epoch is the pass's; it fills what would otherwise be padding.
  std::uint16_t scratch_epoch_ = 0;
  std::uint32_t scratch_ = 0;
};

// Outside a bulletin board a lost entity is freed only when the outermost scope
// ends: a cascade may reach an entity again (through a partner, an owner or an
// attribute) while an outer lose() on it is still running. Every lose() that
// loses other entities opens one first. A board committed inside a scope (an
// api_del_entity while a caller deletes many models) hands what it lost to
// the scope too, so that nothing is freed while a later deletion may reach it.
class velm_lose_scope {
 public:
  velm_lose_scope();
  ~velm_lose_scope();
  velm_lose_scope(const velm_lose_scope&) = delete;
  velm_lose_scope& operator=(const velm_lose_scope&) = delete;
};

// True when the address is that of an existing entity that is not lost;
// never dereferences the address.
bool velm_is_live_entity(const void* address);
long velm_live_entity_count();

outcome api_get_entity_id(const ENTITY* entity, int& id);

// Attribute module hook: transforms an entity's attributes (trans_owner).
extern void (*velm_attrib_transform_hook)(ENTITY* owner, const QELtransf& t);

// ---------------------------------------------------------------------------
// Class registry. Definitions link into their parent's subclass list; a child
// may register before its parent because it keeps the address of its own head.
using RESTORE_FN = ENTITY* (*)();

class restore_def {
 public:
  // A class from outside the kernel: gets the next number from 1000 up.
  restore_def(restore_def** parent_subclass_head, const char* identifier, int* type_number_out,
              RESTORE_FN factory, restore_def** own_subclass_head);
  // A kernel class with its fixed number.
  restore_def(restore_def** parent_subclass_head, const char* identifier, int fixed_type,
              RESTORE_FN factory, restore_def** own_subclass_head);
  restore_def(const restore_def&) = delete;
  restore_def& operator=(const restore_def&) = delete;
  ~restore_def();  // unlinks; clears the type number it gave out

  const char* identifier() const { return identifier_; }
  int type_number() const { return type_; }
  RESTORE_FN factory() const { return factory_; }
  restore_def* next_sibling() const { return next_; }
  restore_def** subclass_head() const { return own_head_; }

  static const restore_def* find(const char* identifier);
  static const restore_def* find_type(int type_number);

 private:
  void link();
  restore_def** parent_head_;
  const char* identifier_;
  int* type_out_;
  int type_;
  RESTORE_FN factory_;
  restore_def** own_head_;
  restore_def* next_ = nullptr;
};

// ---------------------------------------------------------------------------
// Helpers of the copy and restore protocols.
void write_id_level(const char* identifier, int level);
// Encodes e as its index in a copy list (index 0 is null).
ENTITY* copy_index(ENTITY_LIST& list, const ENTITY* e);
// The entity that an encoded index stands for; null for null and for -1.
ENTITY* read_array(ENTITY* array[], ENTITY* stored_index);
// read_array for a typed field: an entity whose identity(level) is not `type`
// is damage (a save file pointing a face's surface at a vertex), never a cast.
ENTITY* read_array_checked(ENTITY* array[], ENTITY* stored_index, int level, int type);

// Typed fields hold encoded indices between copy_data/restore_common and
// fix_pointers: store and read them with these (a static_cast of an encoded
// index would be checked as a real object by the sanitizers).
template <class T>
void store_index(T*& field, ENTITY* encoded) {
  field = reinterpret_cast<T*>(encoded);
}
template <class T>
void fix_field(T*& field, ENTITY* array[], int level, int type) {
  field = static_cast<T*>(read_array_checked(array, reinterpret_cast<ENTITY*>(field), level, type));
}

// identity() of a class at own_level with own_type below BASE.
template <class BASE>
int velm_identity_of(const BASE* self, int level, int own_level, int own_type) {
  if (level == 0 || level == own_level) return own_type;
  if (level < 0) return self->BASE::identity(level + 1);
  if (level > own_level) return -1;
  return self->BASE::identity(level);
}

// call_method: argument types must agree; the own table first, then the base.
int velm_call_in_table(const METHOD_TABLE& table, void* object, const METHOD_ID& id,
                       const METHOD_ARGS& args, bool& found);

// ---------------------------------------------------------------------------
// Class plumbing. In the class body:   VELM_ENTITY_DECL(CLASS, BASE, LEVEL)
// The class provides a default constructor, copy constructor and assignment
// (assignment is the roll-back), and where it has fields: save_common,
// restore_common, copy_common(ENTITY_LIST&, const CLASS*, pointer_map*, int,
// SCAN_TYPE), fix_pointers, copy_scan, debug_ent, lose as needed.
// In one source file: VELM_ENTITY_DEF(CLASS, BASE, LEVEL, "identifier", TYPE)
// for a kernel class, or VELM_ENTITY_DEF_EXTERNAL(CLASS, BASE, LEVEL,
// "identifier") for a class whose `int CLASS_TYPE` and
// `restore_def* CLASS_subclasses` live outside the kernel.
#define VELM_ENTITY_DECL(CLASS, BASE, LEVEL)                                                    \
 public:                                                                                        \
  static constexpr int velm_level = LEVEL;                                                      \
  static void velm_write_ids();                                                                 \
  static ENTITY* velm_restore();                                                                \
  static METHOD_TABLE& velm_methods();                                                          \
  static int add_method(const METHOD_ID& id, METHOD_FN fn);                                     \
  ENTITY* make_copy() const override;                                                           \
  int identity(int level = 0) const override;                                                   \
  const char* type_name() const override;                                                       \
  int size() const override;                                                                    \
  void save(ENTITY_LIST& list) const override;                                                  \
  ENTITY* copy_data(ENTITY_LIST& list, pointer_map* pm = nullptr, int dpcpy_skip = 0,           \
                    SCAN_TYPE reason = scan_copy) const override;                               \
  int call_method(const METHOD_ID& id, const METHOD_ARGS& args) override;                       \
  void roll_back(ENTITY* before) override;

#define VELM_ENTITY_DEF_MEMBERS(CLASS, BASE, LEVEL, IDENT, TYPE)                                \
  void CLASS::velm_write_ids() {                                                                \
    /* A kernel level-1 identifier is written by ENTITY::save_common. */                        \
    if (LEVEL >= 2 || (TYPE) >= VELM_FIRST_EXTERNAL_TYPE) write_id_level(IDENT, LEVEL);          \
    BASE::velm_write_ids();                                                                     \
  }                                                                                             \
  ENTITY* CLASS::velm_restore() {                                                               \
    CLASS* e = velm_require(VELM_NEW CLASS());                                                  \
    e->restore_common();                                                                        \
    return e;                                                                                   \
  }                                                                                             \
  METHOD_TABLE& CLASS::velm_methods() {                                                         \
    static METHOD_TABLE table;                                                                  \
    return table;                                                                               \
  }                                                                                             \
  int CLASS::add_method(const METHOD_ID& id, METHOD_FN fn) { return velm_methods().add(id, fn); } \
  ENTITY* CLASS::make_copy() const {                                                            \
    CLASS* c = VELM_NEW CLASS(*this);                                                           \
    if (c) fixup_copy(c);                                                                       \
    return c;                                                                                   \
  }                                                                                             \
  int CLASS::identity(int level) const {                                                        \
    return velm_identity_of<BASE>(this, level, LEVEL, TYPE);                                    \
  }                                                                                             \
  const char* CLASS::type_name() const { return IDENT; }                                        \
  int CLASS::size() const { return static_cast<int>(sizeof(CLASS)); }                           \
  void CLASS::save(ENTITY_LIST& list) const {                                                   \
    save_begin(0);                                                                              \
    velm_write_ids();                                                                           \
    save_common(list);                                                                          \
    save_end();                                                                                 \
  }                                                                                             \
  ENTITY* CLASS::copy_data(ENTITY_LIST& list, pointer_map* pm, int dpcpy_skip,                  \
                           SCAN_TYPE reason) const {                                            \
    CLASS* c = VELM_NEW CLASS();                                                                \
    if (c) c->copy_common(list, this, pm, dpcpy_skip, reason);                                  \
    return c;                                                                                   \
  }                                                                                             \
  int CLASS::call_method(const METHOD_ID& id, const METHOD_ARGS& args) {                        \
    bool found = false;                                                                         \
    int r = velm_call_in_table(velm_methods(), this, id, args, found);                          \
    return found ? r : BASE::call_method(id, args);                                             \
  }                                                                                             \
  void CLASS::roll_back(ENTITY* before) { *this = *static_cast<const CLASS*>(before); }         \
  bool is_##CLASS(const ENTITY* e) { return e && e->identity(LEVEL) == (TYPE); }

#define VELM_ENTITY_DEF(CLASS, BASE, LEVEL, IDENT, TYPE)                                        \
  VELM_ENTITY_DEF_MEMBERS(CLASS, BASE, LEVEL, IDENT, TYPE)                                      \
  static restore_def CLASS##_restore_def(&BASE##_subclasses, IDENT, TYPE, &CLASS::velm_restore, \
                                         &CLASS##_subclasses);

#define VELM_ENTITY_DEF_EXTERNAL(CLASS, BASE, LEVEL, IDENT)                                     \
  VELM_ENTITY_DEF_MEMBERS(CLASS, BASE, LEVEL, IDENT, CLASS##_TYPE)                              \
  static restore_def CLASS##_restore_def(&BASE##_subclasses, IDENT, &CLASS##_TYPE,              \
                                         &CLASS::velm_restore, &CLASS##_subclasses);
