// Attributes: the ATTRIB base with its owner chain and owner-change
// notifications, the generic named attributes, and the kernel's own system,
// colour and rendering attributes.
//
// An attribute hangs in its owner's chain (ENTITY::attrib, then next()).
// Generic named attributes carry four actions that say what happens to them
// when the owner is split, merged, transformed or copied; the kernel's other
// attributes ignore those events unless a class says otherwise.
#pragma once

#include <string>

#include "velm/entity.hxx"
#include "velm/lists.hxx"
#include "velm/math.hxx"

class QELCOLLECTION;

enum split_action { split_lose = 0, split_keep = 1, split_copy = 2 };
enum merge_action { merge_lose = 0, merge_keep_survivor = 1, merge_keep_lost = 2, merge_keep_all = 3 };
enum trans_action { trans_lose = 0, trans_apply = 1, trans_ignore = 2 };
enum copy_action { copy_lose = 0, copy_link = 1, copy_copy = 2 };

class ATTRIB : public ENTITY {
  VELM_ENTITY_DECL(ATTRIB, ENTITY, 1)
  // Attaches at the end of the owner's chain; null: no owner.
  explicit ATTRIB(ENTITY* owner = nullptr);
  ATTRIB(const ATTRIB&) = default;
  ATTRIB& operator=(const ATTRIB&) = default;

  ENTITY* entity() const { return owner_; }
  ATTRIB* next() const { return next_; }
  ATTRIB* previous() const { return previous_; }
  // Takes the attribute out of its owner's chain without deleting it.
  void unhook();
  // Moves the attribute to the end of another entity's chain.
  void move(ENTITY* new_owner);

  // Owner-change notifications, in the kernel's slot order.
  virtual void split_owner(ENTITY* new_part);
  virtual void merge_owner(ENTITY* other, int owner_deleted);
  virtual void copy_owner(ENTITY* copy);
  virtual void trans_owner(const QELtransf& t);
  virtual void replace_owner(ENTITY* replacement);
  // False when a copy of the owner made by the kernel's copy operations must
  // not carry a copy of this attribute.
  virtual bool copied_with_owner() const { return true; }

  ENTITY* owner() const override { return owner_; }
  void lose() override;
  void copy_scan(ENTITY_LIST& list, SCAN_TYPE reason = scan_copy, int dpcpy_skip = 0) const override;
  void fix_pointers(ENTITY* array[], SCAN_TYPE reason) override;
  void debug_ent(FILE* fp) const override;
  void save_common(ENTITY_LIST& list) const;
  void restore_common();
  void copy_common(ENTITY_LIST& list, const ATTRIB* from, pointer_map* pm = nullptr,
                   int dpcpy_skip = 0, SCAN_TYPE reason = scan_copy);

 private:
  void attach(ENTITY* owner);
  void set_links(ENTITY* owner, ATTRIB* previous, ATTRIB* next);
  ENTITY* owner_ = nullptr;
  ATTRIB* next_ = nullptr;
  ATTRIB* previous_ = nullptr;
};

// First attribute of `e` whose identity at level 2, 3, ... equals the given
// numbers (-1: any); find_next_attrib goes on after `after` with the same filter.
ATTRIB* find_attrib(const ENTITY* e, int level2_type = -1, int level3_type = -1,
                    int level4_type = -1, int level5_type = -1);
ATTRIB* find_next_attrib(const ATTRIB* after, int level2_type = -1, int level3_type = -1,
                         int level4_type = -1, int level5_type = -1);
// trans_owner of every attribute of the entity.
void trans_attrib(ENTITY* owner, const QELtransf& t);
// Every attribute of `from` onto `to`: generic ones by their copy action, the
// others through copy_owner.
void copy_attrib(const ENTITY* from, ENTITY* to);
// merge_owner of the survivor's attributes (owner kept) and of the lost
// entity's attributes (owner deleted): what the merge actions keep ends on the survivor.
void merge_attrib(ENTITY* survivor, ENTITY* lost);
// split_owner of every attribute of `original`.
void split_attrib(ENTITY* original, ENTITY* new_part);

// ---------------------------------------------------------------------------
// Generic attributes.
class ATTRIB_GENERIC : public ATTRIB {
  VELM_ENTITY_DECL(ATTRIB_GENERIC, ATTRIB, 2)
  explicit ATTRIB_GENERIC(ENTITY* owner = nullptr) : ATTRIB(owner) {}
  ATTRIB_GENERIC(const ATTRIB_GENERIC&) = default;
  ATTRIB_GENERIC& operator=(const ATTRIB_GENERIC&) = default;
};

class ATTRIB_GEN_NAME : public ATTRIB_GENERIC {
  VELM_ENTITY_DECL(ATTRIB_GEN_NAME, ATTRIB_GENERIC, 3)
  ATTRIB_GEN_NAME() = default;
  ATTRIB_GEN_NAME(ENTITY* owner, const char* name, split_action s = split_keep,
                  merge_action m = merge_keep_survivor, trans_action t = trans_ignore,
                  copy_action c = copy_copy);
  ATTRIB_GEN_NAME(const ATTRIB_GEN_NAME&) = default;
  ATTRIB_GEN_NAME& operator=(const ATTRIB_GEN_NAME&) = default;

  const char* name() const { return name_.c_str(); }
  split_action split_owner_action() const { return split_; }
  merge_action merge_owner_action() const { return merge_; }
  trans_action trans_owner_action() const { return trans_; }
  copy_action copy_owner_action() const { return copy_; }
  // The value as text, for reports ("" for a pointer or for the family base).
  virtual std::string value_text() const { return std::string(); }
  // A new attribute of the same class, name, value and actions on `owner`.
  virtual ATTRIB_GEN_NAME* duplicate(ENTITY* owner) const;
  // trans_apply: the value follows the transform (vectors do; other values stay).
  virtual void transform_value(const QELtransf&) {}

  void split_owner(ENTITY* new_part) override;
  void merge_owner(ENTITY* other, int owner_deleted) override;
  void copy_owner(ENTITY* copy) override;
  void trans_owner(const QELtransf& t) override;
  void replace_owner(ENTITY* replacement) override;
  bool copied_with_owner() const override { return copy_ != copy_lose; }
  void debug_ent(FILE* fp) const override;
  void save_common(ENTITY_LIST& list) const;
  void restore_common();
  void copy_common(ENTITY_LIST& list, const ATTRIB_GEN_NAME* from, pointer_map* pm = nullptr,
                   int dpcpy_skip = 0, SCAN_TYPE reason = scan_copy);

 protected:
  // Name and actions of a duplicate.
  void copy_settings(const ATTRIB_GEN_NAME& from);

 private:
  std::string name_;
  split_action split_ = split_keep;
  merge_action merge_ = merge_keep_survivor;
  trans_action trans_ = trans_ignore;
  copy_action copy_ = copy_copy;
};

// The leaf classes of generic named attributes differ only in their value type.
#define VELM_GEN_ATTRIB_CLASS(CLASS, VALUE_TYPE, PARAM_TYPE, RETURN_TYPE)                       \
  class CLASS : public ATTRIB_GEN_NAME {                                                        \
    VELM_ENTITY_DECL(CLASS, ATTRIB_GEN_NAME, 4)                                                 \
    CLASS() = default;                                                                          \
    CLASS(ENTITY* owner, const char* name, PARAM_TYPE value, split_action s = split_keep,        \
          merge_action m = merge_keep_survivor, trans_action t = trans_ignore,                  \
          copy_action c = copy_copy);                                                           \
    CLASS(const CLASS&) = default;                                                              \
    CLASS& operator=(const CLASS&) = default;                                                   \
    RETURN_TYPE value() const;                                                                  \
    void set_value(PARAM_TYPE value);                                                           \
    std::string value_text() const override;                                                    \
    ATTRIB_GEN_NAME* duplicate(ENTITY* owner) const override;                                   \
    void save_common(ENTITY_LIST& list) const;                                                  \
    void restore_common();                                                                      \
    void copy_common(ENTITY_LIST& list, const CLASS* from, pointer_map* pm = nullptr,           \
                     int dpcpy_skip = 0, SCAN_TYPE reason = scan_copy);                         \
    void transform_value(const QELtransf& t) override;                                          \
   private:                                                                                     \
    VALUE_TYPE value_{};                                                                        \
  };

VELM_GEN_ATTRIB_CLASS(ATTRIB_GEN_STRING, std::string, const char*, const char*)
VELM_GEN_ATTRIB_CLASS(ATTRIB_GEN_WSTRING, std::wstring, const wchar_t*, const wchar_t*)
VELM_GEN_ATTRIB_CLASS(ATTRIB_GEN_INTEGER, int, int, int)
VELM_GEN_ATTRIB_CLASS(ATTRIB_GEN_REAL, double, double, double)
VELM_GEN_ATTRIB_CLASS(ATTRIB_GEN_VECTOR, QELvector, const QELvector&, const QELvector&)
// A native pointer; never saved (restores as null).
VELM_GEN_ATTRIB_CLASS(ATTRIB_GEN_POINTER, void*, void*, void*)

// Adds a generic named attribute; one of the same name already on the entity is replaced.
outcome api_add_generic_named_attribute(ENTITY* e, const char* name, const char* value,
                                        split_action s = split_keep,
                                        merge_action m = merge_keep_survivor,
                                        trans_action t = trans_ignore, copy_action c = copy_copy);
outcome api_add_generic_named_attribute(ENTITY* e, const char* name, const wchar_t* value,
                                        split_action s = split_keep,
                                        merge_action m = merge_keep_survivor,
                                        trans_action t = trans_ignore, copy_action c = copy_copy);
outcome api_add_generic_named_attribute(ENTITY* e, const char* name, int value,
                                        split_action s = split_keep,
                                        merge_action m = merge_keep_survivor,
                                        trans_action t = trans_ignore, copy_action c = copy_copy);
outcome api_add_generic_named_attribute(ENTITY* e, const char* name, double value,
                                        split_action s = split_keep,
                                        merge_action m = merge_keep_survivor,
                                        trans_action t = trans_ignore, copy_action c = copy_copy);
outcome api_add_generic_named_attribute(ENTITY* e, const char* name, const QELvector& value,
                                        split_action s = split_keep,
                                        merge_action m = merge_keep_survivor,
                                        trans_action t = trans_ignore, copy_action c = copy_copy);
// The first generic named attribute of that name; null (and success) when none.
outcome api_find_named_attribute(const ENTITY* e, const char* name, ATTRIB_GEN_NAME*& attribute);
// Loses every generic named attribute of that name; success when there was none.
outcome api_remove_generic_named_attribute(ENTITY* e, const char* name);

// ---------------------------------------------------------------------------
// System attributes.
class ATTRIB_ST : public ATTRIB {
  VELM_ENTITY_DECL(ATTRIB_ST, ATTRIB, 2)
  explicit ATTRIB_ST(ENTITY* owner = nullptr) : ATTRIB(owner) {}
  ATTRIB_ST(const ATTRIB_ST&) = default;
  ATTRIB_ST& operator=(const ATTRIB_ST&) = default;
};

// RGB colour; goes with copies and with both parts of a split.
class ATTRIB_RGB : public ATTRIB_ST {
  VELM_ENTITY_DECL(ATTRIB_RGB, ATTRIB_ST, 3)
  ATTRIB_RGB() = default;
  ATTRIB_RGB(ENTITY* owner, double red, double green, double blue);
  ATTRIB_RGB(const ATTRIB_RGB&) = default;
  ATTRIB_RGB& operator=(const ATTRIB_RGB&) = default;
  double red() const { return rgb_.red(); }
  double green() const { return rgb_.green(); }
  double blue() const { return rgb_.blue(); }
  void split_owner(ENTITY* new_part) override;
  void copy_owner(ENTITY* copy) override;
  void save_common(ENTITY_LIST& list) const;
  void restore_common();
  void copy_common(ENTITY_LIST& list, const ATTRIB_RGB* from, pointer_map* pm = nullptr,
                   int dpcpy_skip = 0, SCAN_TYPE reason = scan_copy);

 private:
  rgb_color rgb_;
};

// Marks an edge or vertex that clean-up operations must not merge away.
class NO_MERGE_ATTRIB : public ATTRIB_ST {
  VELM_ENTITY_DECL(NO_MERGE_ATTRIB, ATTRIB_ST, 3)
  explicit NO_MERGE_ATTRIB(ENTITY* owner = nullptr) : ATTRIB_ST(owner) {}
  NO_MERGE_ATTRIB(const NO_MERGE_ATTRIB&) = default;
  NO_MERGE_ATTRIB& operator=(const NO_MERGE_ATTRIB&) = default;
};

outcome api_remove_no_merge_attrib(ENTITY_LIST& entities);

// Back-link from a member to a collection holding it; made and lost by the
// collection. Losing it (with its owner, say) takes the member out of the collection.
class ATTRIB_QELCOLLECTION : public ATTRIB_ST {
  VELM_ENTITY_DECL(ATTRIB_QELCOLLECTION, ATTRIB_ST, 3)
  ATTRIB_QELCOLLECTION() = default;
  ATTRIB_QELCOLLECTION(ENTITY* owner, QELCOLLECTION* collection);
  ATTRIB_QELCOLLECTION(const ATTRIB_QELCOLLECTION&) = default;
  ATTRIB_QELCOLLECTION& operator=(const ATTRIB_QELCOLLECTION&) = default;
  QELCOLLECTION* collection() const { return collection_; }
  // Copies of the owner are not members: the copy operations decide about groups.
  bool copied_with_owner() const override { return false; }
  void lose() override;
  void fix_pointers(ENTITY* array[], SCAN_TYPE reason) override;
  void save_common(ENTITY_LIST& list) const;
  void restore_common();
  void copy_common(ENTITY_LIST& list, const ATTRIB_QELCOLLECTION* from, pointer_map* pm = nullptr,
                   int dpcpy_skip = 0, SCAN_TYPE reason = scan_copy);

 private:
  friend class QELCOLLECTION;
  void detach_collection();  // the collection is going: forget it without touching it
  QELCOLLECTION* collection_ = nullptr;
};

// Colour numbers.
class ATTRIB_TSL : public ATTRIB {
  VELM_ENTITY_DECL(ATTRIB_TSL, ATTRIB, 2)
  explicit ATTRIB_TSL(ENTITY* owner = nullptr) : ATTRIB(owner) {}
  ATTRIB_TSL(const ATTRIB_TSL&) = default;
  ATTRIB_TSL& operator=(const ATTRIB_TSL&) = default;
};

class ATTRIB_COL : public ATTRIB_TSL {
  VELM_ENTITY_DECL(ATTRIB_COL, ATTRIB_TSL, 3)
  ATTRIB_COL() = default;
  ATTRIB_COL(ENTITY* owner, int colour_number);
  ATTRIB_COL(const ATTRIB_COL&) = default;
  ATTRIB_COL& operator=(const ATTRIB_COL&) = default;
  int colour() const { return colour_; }
  void copy_owner(ENTITY* copy) override;
  void save_common(ENTITY_LIST& list) const;
  void restore_common();
  void copy_common(ENTITY_LIST& list, const ATTRIB_COL* from, pointer_map* pm = nullptr,
                   int dpcpy_skip = 0, SCAN_TYPE reason = scan_copy);

 private:
  int colour_ = 0;
};

// Rendering.
class render_material {
 public:
  render_material() = default;
  explicit render_material(const rgb_color& colour) : colour_(colour) {}
  const rgb_color& colour() const { return colour_; }

 private:
  rgb_color colour_;
};

bool rh_get_material_color(const render_material* material, double& red, double& green,
                           double& blue);

class ATTRIB_RH : public ATTRIB {
  VELM_ENTITY_DECL(ATTRIB_RH, ATTRIB, 2)
  explicit ATTRIB_RH(ENTITY* owner = nullptr) : ATTRIB(owner) {}
  ATTRIB_RH(const ATTRIB_RH&) = default;
  ATTRIB_RH& operator=(const ATTRIB_RH&) = default;
};

class ATTRIB_RENDER : public ATTRIB_RH {
  VELM_ENTITY_DECL(ATTRIB_RENDER, ATTRIB_RH, 3)
  ATTRIB_RENDER() = default;
  ATTRIB_RENDER(ENTITY* owner, const rgb_color& material_colour);
  ATTRIB_RENDER(const ATTRIB_RENDER&) = default;
  ATTRIB_RENDER& operator=(const ATTRIB_RENDER&) = default;
  render_material* material() const { return const_cast<render_material*>(&material_); }
  void copy_owner(ENTITY* copy) override;
  void save_common(ENTITY_LIST& list) const;
  void restore_common();
  void copy_common(ENTITY_LIST& list, const ATTRIB_RENDER* from, pointer_map* pm = nullptr,
                   int dpcpy_skip = 0, SCAN_TYPE reason = scan_copy);

 private:
  render_material material_;
};
