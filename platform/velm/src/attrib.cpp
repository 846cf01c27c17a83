// Attributes: owner chains, notifications and the kernel's attribute classes.
#include "velm/attrib.hxx"

#include <cstring>
#include <memory>
#include <string>

#include "entity_internal.hxx"
#include "velm/api.hxx"
#include "velm/groups.hxx"
#include "velm/save.hxx"

VELM_ENTITY_DEF(ATTRIB, ENTITY, 1, "attrib", ATTRIB_TYPE)
VELM_ENTITY_DEF(ATTRIB_GENERIC, ATTRIB, 2, "generic", ATTRIB_GENERIC_TYPE)
VELM_ENTITY_DEF(ATTRIB_GEN_NAME, ATTRIB_GENERIC, 3, "name", ATTRIB_GEN_NAME_TYPE)
VELM_ENTITY_DEF(ATTRIB_GEN_STRING, ATTRIB_GEN_NAME, 4, "string", ATTRIB_GEN_STRING_TYPE)
VELM_ENTITY_DEF(ATTRIB_GEN_WSTRING, ATTRIB_GEN_NAME, 4, "wstring", ATTRIB_GEN_WSTRING_TYPE)
VELM_ENTITY_DEF(ATTRIB_GEN_INTEGER, ATTRIB_GEN_NAME, 4, "integer", ATTRIB_GEN_INTEGER_TYPE)
VELM_ENTITY_DEF(ATTRIB_GEN_REAL, ATTRIB_GEN_NAME, 4, "real", ATTRIB_GEN_REAL_TYPE)
VELM_ENTITY_DEF(ATTRIB_GEN_VECTOR, ATTRIB_GEN_NAME, 4, "vector", ATTRIB_GEN_VECTOR_TYPE)
VELM_ENTITY_DEF(ATTRIB_GEN_POINTER, ATTRIB_GEN_NAME, 4, "pointer", ATTRIB_GEN_POINTER_TYPE)
VELM_ENTITY_DEF(ATTRIB_ST, ATTRIB, 2, "st", ATTRIB_ST_TYPE)
VELM_ENTITY_DEF(ATTRIB_RGB, ATTRIB_ST, 3, "rgb", ATTRIB_RGB_TYPE)
VELM_ENTITY_DEF(NO_MERGE_ATTRIB, ATTRIB_ST, 3, "no_merge", NO_MERGE_ATTRIB_TYPE)
VELM_ENTITY_DEF(ATTRIB_QELCOLLECTION, ATTRIB_ST, 3, "collection_attrib", ATTRIB_QELCOLLECTION_TYPE)
VELM_ENTITY_DEF(ATTRIB_TSL, ATTRIB, 2, "tsl", ATTRIB_TSL_TYPE)
VELM_ENTITY_DEF(ATTRIB_COL, ATTRIB_TSL, 3, "col", ATTRIB_COL_TYPE)
VELM_ENTITY_DEF(ATTRIB_RH, ATTRIB, 2, "rh", ATTRIB_RH_TYPE)
VELM_ENTITY_DEF(ATTRIB_RENDER, ATTRIB_RH, 3, "render", ATTRIB_RENDER_TYPE)

namespace {
// ENTITY::apply_transform reaches the attributes through this hook.
const bool transform_hook_installed = (velm_attrib_transform_hook = &trans_attrib, true);

template <class T>
T* as(ENTITY* index) {
  return reinterpret_cast<T*>(index);
}

// Each notification may lose or move the attribute it is called on: take the
// next one first.
template <class F>
void for_each_attrib(const ENTITY* owner, F&& f) {
  for (ATTRIB* a = owner ? owner->attrib() : nullptr; a;) {
    ATTRIB* next = a->next();
    f(a);
    a = next;
  }
}

std::string read_text() {
  int length = 0;
  std::unique_ptr<char[]> text(read_string(length));
  return text ? std::string(text.get(), static_cast<std::size_t>(length)) : std::string();
}
}  // namespace

// ---------------------------------------------------------------------------
ATTRIB::ATTRIB(ENTITY* owner) { attach(owner); }

void ATTRIB::set_links(ENTITY* owner, ATTRIB* previous, ATTRIB* next) {
  backup();
  owner_ = owner;
  previous_ = previous;
  next_ = next;
}

void ATTRIB::attach(ENTITY* owner) {
  if (!owner) return;
  ATTRIB* last = owner->attrib();
  while (last && last->next_) last = last->next_;
  if (last) {
    last->set_links(last->owner_, last->previous_, this);
  } else {
    owner->set_attrib(this);
  }
  set_links(owner, last, nullptr);
}

void ATTRIB::unhook() {
  // An owner going as a whole takes its chain along as it stands.
  if (owner_ && velm_entity_access::is_doomed(owner_)) return;
  if (previous_) {
    previous_->set_links(previous_->owner_, previous_->previous_, next_);
  } else if (owner_ && owner_->attrib() == this) {
    owner_->set_attrib(next_);
  }
  if (next_) next_->set_links(next_->owner_, previous_, next_->next_);
  set_links(nullptr, nullptr, nullptr);
}

void ATTRIB::move(ENTITY* new_owner) {
  unhook();
  attach(new_owner);
}

void ATTRIB::split_owner(ENTITY*) {}
void ATTRIB::merge_owner(ENTITY*, int) {}
void ATTRIB::copy_owner(ENTITY*) {}
void ATTRIB::trans_owner(const QELtransf&) {}
void ATTRIB::replace_owner(ENTITY* replacement) { move(replacement); }

void ATTRIB::lose() {
  if (is_lost() || is_backup_image()) return;
  unhook();
  ENTITY::lose();
}

void ATTRIB::copy_scan(ENTITY_LIST& list, SCAN_TYPE reason, int dpcpy_skip) const {
  ENTITY::copy_scan(list, reason, dpcpy_skip);
  if (next_) list.add(next_);
}

void ATTRIB::fix_pointers(ENTITY* array[], SCAN_TYPE reason) {
  ENTITY::fix_pointers(array, reason);
  owner_ = read_array(array, owner_);
  fix_field(next_, array, 1, ATTRIB_TYPE);
  fix_field(previous_, array, 1, ATTRIB_TYPE);
}

void ATTRIB::debug_ent(FILE* fp) const {
  ENTITY::debug_ent(fp);
  if (!fp) return;
  std::fprintf(fp, "\towner : %ld\n", owner_ ? static_cast<long>(owner_->debug_number()) : -1L);
  std::fprintf(fp, "\tnext : %ld\n", next_ ? static_cast<long>(next_->debug_number()) : -1L);
}

void ATTRIB::save_common(ENTITY_LIST& list) const {
  ENTITY::save_common(list);
  write_ptr(owner_, list);
  write_ptr(next_, list);
  write_ptr(previous_, list);
}

void ATTRIB::restore_common() {
  ENTITY::restore_common();
  owner_ = read_ptr();
  next_ = as<ATTRIB>(read_ptr());
  previous_ = as<ATTRIB>(read_ptr());
}

void ATTRIB::copy_common(ENTITY_LIST& list, const ATTRIB* from, pointer_map* pm, int skip,
                         SCAN_TYPE reason) {
  ENTITY::copy_common(list, from, pm, skip, reason);
  owner_ = copy_index(list, from->owner_);
  next_ = as<ATTRIB>(copy_index(list, from->next_));
  previous_ = as<ATTRIB>(copy_index(list, from->previous_));
}

// ---------------------------------------------------------------------------
namespace {
bool level_matches(const ATTRIB* a, const int types[4]) {
  for (int i = 0; i < 4; ++i)
    if (types[i] != -1 && a->identity(i + 2) != types[i]) return false;
  return true;
}

ATTRIB* first_match(ATTRIB* a, const int types[4]) {
  while (a && !level_matches(a, types)) a = a->next();
  return a;
}
}  // namespace

ATTRIB* find_attrib(const ENTITY* e, int t2, int t3, int t4, int t5) {
  const int types[4] = {t2, t3, t4, t5};
  return e ? first_match(e->attrib(), types) : nullptr;
}

ATTRIB* find_next_attrib(const ATTRIB* after, int t2, int t3, int t4, int t5) {
  const int types[4] = {t2, t3, t4, t5};
  return after ? first_match(after->next(), types) : nullptr;
}

void trans_attrib(ENTITY* owner, const QELtransf& t) {
  for_each_attrib(owner, [&](ATTRIB* a) { a->trans_owner(t); });
}

void copy_attrib(const ENTITY* from, ENTITY* to) {
  if (!to) return;
  // copy_owner of generic attributes applies their copy action.
  for_each_attrib(from, [&](ATTRIB* a) { a->copy_owner(to); });
}

void merge_attrib(ENTITY* survivor, ENTITY* lost) {
  if (!survivor || !lost || survivor == lost) return;
  for_each_attrib(survivor, [&](ATTRIB* a) { a->merge_owner(lost, 0); });
  for_each_attrib(lost, [&](ATTRIB* a) { a->merge_owner(survivor, 1); });
}

void split_attrib(ENTITY* original, ENTITY* new_part) {
  for_each_attrib(original, [&](ATTRIB* a) { a->split_owner(new_part); });
}

// ---------------------------------------------------------------------------
ATTRIB_GEN_NAME::ATTRIB_GEN_NAME(ENTITY* owner, const char* name, split_action s, merge_action m,
                                 trans_action t, copy_action c)
    : ATTRIB_GENERIC(owner), name_(name ? name : ""), split_(s), merge_(m), trans_(t), copy_(c) {}

void ATTRIB_GEN_NAME::copy_settings(const ATTRIB_GEN_NAME& from) {
  name_ = from.name_;
  split_ = from.split_;
  merge_ = from.merge_;
  trans_ = from.trans_;
  copy_ = from.copy_;
}

ATTRIB_GEN_NAME* ATTRIB_GEN_NAME::duplicate(ENTITY* owner) const {
  return velm_require(VELM_NEW ATTRIB_GEN_NAME(owner, name(), split_, merge_, trans_, copy_));
}

namespace {
// A generic named attribute of that name on the entity, other than `self`.
ATTRIB_GEN_NAME* named_on(const ENTITY* e, const char* name, const ATTRIB* self) {
  for (ATTRIB* a = find_attrib(e, ATTRIB_GENERIC_TYPE, ATTRIB_GEN_NAME_TYPE); a;
       a = find_next_attrib(a, ATTRIB_GENERIC_TYPE, ATTRIB_GEN_NAME_TYPE)) {
    auto* g = static_cast<ATTRIB_GEN_NAME*>(a);
    if (a != self && std::strcmp(g->name(), name) == 0) return g;
  }
  return nullptr;
}
}  // namespace

void ATTRIB_GEN_NAME::split_owner(ENTITY* new_part) {
  if (split_ == split_copy) {
    duplicate(new_part);
  } else if (split_ == split_lose) {
    lose();
  }
}

void ATTRIB_GEN_NAME::merge_owner(ENTITY* other, int owner_deleted) {
  switch (merge_) {
    case merge_lose:
      lose();
      break;
    case merge_keep_survivor:
      break;  // the survivor's stays; the lost one's dies with its owner
    case merge_keep_lost:
      if (owner_deleted) {
        if (ATTRIB_GEN_NAME* there = named_on(other, name(), this)) there->lose();
        move(other);
      } else if (named_on(other, name(), this)) {
        lose();
      }
      break;
    case merge_keep_all:
      if (owner_deleted) move(other);
      break;
  }
}

void ATTRIB_GEN_NAME::copy_owner(ENTITY* copy) {
  if (copy_ != copy_lose && copy) duplicate(copy);
}

void ATTRIB_GEN_NAME::trans_owner(const QELtransf& t) {
  if (trans_ == trans_lose) {
    lose();
  } else if (trans_ == trans_apply) {
    transform_value(t);
  }
}

void ATTRIB_GEN_NAME::replace_owner(ENTITY* replacement) { move(replacement); }

void ATTRIB_GEN_NAME::debug_ent(FILE* fp) const {
  ATTRIB::debug_ent(fp);
  if (fp) std::fprintf(fp, "\tname : %s\n\tvalue : %s\n", name(), value_text().c_str());
}

void ATTRIB_GEN_NAME::save_common(ENTITY_LIST& list) const {
  ATTRIB_GENERIC::save_common(list);
  write_literal(name_.c_str());
  write_enum(split_);
  write_enum(merge_);
  write_enum(trans_);
  write_enum(copy_);
}

void ATTRIB_GEN_NAME::restore_common() {
  ATTRIB_GENERIC::restore_common();
  name_ = read_text();
  // Each flag checked as it is read, so that a refusal names its field.
  const auto action = [](int high, const char* which) {
    const int v = read_enum();
    if (v < 0 || v > high)
      velm_save_damaged((std::string("its ") + which + " action " + std::to_string(v) + " is outside 0 .. " +
                         std::to_string(high))
                            .c_str());
    return v;
  };
  const int s = action(2, "split"), m = action(3, "merge"), t = action(2, "transform"), c = action(2, "copy");
  split_ = static_cast<split_action>(s);
  merge_ = static_cast<merge_action>(m);
  trans_ = static_cast<trans_action>(t);
  copy_ = static_cast<copy_action>(c);
}

void ATTRIB_GEN_NAME::copy_common(ENTITY_LIST& list, const ATTRIB_GEN_NAME* from, pointer_map* pm,
                                  int skip, SCAN_TYPE reason) {
  ATTRIB_GENERIC::copy_common(list, from, pm, skip, reason);
  copy_settings(*from);
}

// ---------------------------------------------------------------------------
// Value handling of the leaf classes.
namespace {
void write_value(const std::string& v) { write_literal(v.c_str()); }
void write_value(const std::wstring& v) {
  write_int(static_cast<int>(v.size()));
  for (wchar_t c : v) write_long(static_cast<long>(c));
}
void write_value(int v) { write_int(v); }
void write_value(double v) { write_real(v); }
void write_value(const QELvector& v) { write_vector(v); }
void write_value(void*) { write_int(0); }

void read_value(std::string& v) { v = read_text(); }
void read_value(std::wstring& v) {
  int n = read_int();
  if (n < 0) velm_save_damaged("a negative length of a wide text");
  v.clear();
  for (int i = 0; i < n; ++i) v.push_back(static_cast<wchar_t>(read_long()));
}
void read_value(int& v) { v = read_int(); }
void read_value(double& v) { v = read_real(); }
void read_value(QELvector& v) { v = read_vector(); }
void read_value(void*& v) {
  read_int();
  v = nullptr;
}

std::string text_of(const std::string& v) { return v; }
std::string text_of(const std::wstring& v) {
  std::string s;
  for (wchar_t c : v) s.push_back(c >= 0x20 && c < 0x7f ? static_cast<char>(c) : '?');
  return s;
}
std::string text_of(int v) { return std::to_string(v); }
std::string text_of(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}
std::string text_of(const QELvector& v) {
  char buf[200];
  std::snprintf(buf, sizeof buf, "(%.17g, %.17g, %.17g)", v.x(), v.y(), v.z());
  return buf;
}
std::string text_of(void*) { return std::string(); }

void transform_of(QELvector& v, const QELtransf& t) { v *= t; }
template <class T>
void transform_of(T&, const QELtransf&) {}

std::string stored(const char* v) { return v ? v : ""; }
std::wstring stored(const wchar_t* v) { return v ? v : L""; }
template <class T>
T stored(T v) {
  return v;
}

const char* exposed(const std::string& v) { return v.c_str(); }
const wchar_t* exposed(const std::wstring& v) { return v.c_str(); }
template <class T>
const T& exposed(const T& v) {
  return v;
}
}  // namespace

#define VELM_GEN_ATTRIB_DEF(CLASS, PARAM_TYPE, RETURN_TYPE)                                     \
  CLASS::CLASS(ENTITY* owner, const char* name, PARAM_TYPE value, split_action s,               \
               merge_action m, trans_action t, copy_action c)                                   \
      : ATTRIB_GEN_NAME(owner, name, s, m, t, c), value_(stored(value)) {}                      \
  RETURN_TYPE CLASS::value() const { return exposed(value_); }                                  \
  void CLASS::set_value(PARAM_TYPE value) {                                                     \
    backup();                                                                                   \
    value_ = stored(value);                                                                     \
  }                                                                                             \
  std::string CLASS::value_text() const { return text_of(value_); }                             \
  void CLASS::transform_value(const QELtransf& t) {                                             \
    backup();                                                                                   \
    transform_of(value_, t);                                                                    \
  }                                                                                             \
  ATTRIB_GEN_NAME* CLASS::duplicate(ENTITY* owner) const {                                      \
    return velm_require(VELM_NEW CLASS(owner, name(), exposed(value_), split_owner_action(),    \
                                       merge_owner_action(), trans_owner_action(),              \
                                       copy_owner_action()));                                   \
  }                                                                                             \
  void CLASS::save_common(ENTITY_LIST& list) const {                                            \
    ATTRIB_GEN_NAME::save_common(list);                                                         \
    write_value(value_);                                                                        \
  }                                                                                             \
  void CLASS::restore_common() {                                                                \
    ATTRIB_GEN_NAME::restore_common();                                                          \
    read_value(value_);                                                                         \
  }                                                                                             \
  void CLASS::copy_common(ENTITY_LIST& list, const CLASS* from, pointer_map* pm, int skip,      \
                          SCAN_TYPE reason) {                                                   \
    ATTRIB_GEN_NAME::copy_common(list, from, pm, skip, reason);                                 \
    value_ = from->value_;                                                                      \
  }

VELM_GEN_ATTRIB_DEF(ATTRIB_GEN_STRING, const char*, const char*)
VELM_GEN_ATTRIB_DEF(ATTRIB_GEN_WSTRING, const wchar_t*, const wchar_t*)
VELM_GEN_ATTRIB_DEF(ATTRIB_GEN_INTEGER, int, int)
VELM_GEN_ATTRIB_DEF(ATTRIB_GEN_REAL, double, double)
VELM_GEN_ATTRIB_DEF(ATTRIB_GEN_VECTOR, const QELvector&, const QELvector&)
VELM_GEN_ATTRIB_DEF(ATTRIB_GEN_POINTER, void*, void*)

// ---------------------------------------------------------------------------
namespace {
void remove_named(ENTITY* e, const char* name) {
  while (ATTRIB_GEN_NAME* a = named_on(e, name, nullptr)) a->lose();
}

template <class CLASS, class VALUE>
outcome add_named(const char* api, ENTITY* e, const char* name, VALUE value, split_action s,
                  merge_action m, trans_action t, copy_action c) {
  return velm_api(api, [&] {
    if (!e || !name) velm_api_error_throw(VELM_NULL_ENTITY);
    remove_named(e, name);
    velm_require(VELM_NEW CLASS(e, name, value, s, m, t, c));
  });
}
}  // namespace

outcome api_add_generic_named_attribute(ENTITY* e, const char* name, const char* value,
                                        split_action s, merge_action m, trans_action t,
                                        copy_action c) {
  return add_named<ATTRIB_GEN_STRING>("api_add_generic_named_attribute", e, name, value, s, m, t, c);
}

outcome api_add_generic_named_attribute(ENTITY* e, const char* name, const wchar_t* value,
                                        split_action s, merge_action m, trans_action t,
                                        copy_action c) {
  return add_named<ATTRIB_GEN_WSTRING>("api_add_generic_named_attribute", e, name, value, s, m, t, c);
}

outcome api_add_generic_named_attribute(ENTITY* e, const char* name, int value, split_action s,
                                        merge_action m, trans_action t, copy_action c) {
  return add_named<ATTRIB_GEN_INTEGER>("api_add_generic_named_attribute", e, name, value, s, m, t, c);
}

outcome api_add_generic_named_attribute(ENTITY* e, const char* name, double value, split_action s,
                                        merge_action m, trans_action t, copy_action c) {
  return add_named<ATTRIB_GEN_REAL>("api_add_generic_named_attribute", e, name, value, s, m, t, c);
}

outcome api_add_generic_named_attribute(ENTITY* e, const char* name, const QELvector& value,
                                        split_action s, merge_action m, trans_action t,
                                        copy_action c) {
  return add_named<ATTRIB_GEN_VECTOR>("api_add_generic_named_attribute", e, name, value, s, m, t, c);
}

outcome api_find_named_attribute(const ENTITY* e, const char* name, ATTRIB_GEN_NAME*& attribute) {
  attribute = nullptr;
  return velm_api("api_find_named_attribute", [&] {
    if (!e || !name) velm_api_error_throw(VELM_NULL_ENTITY);
    attribute = named_on(e, name, nullptr);
  });
}

outcome api_remove_generic_named_attribute(ENTITY* e, const char* name) {
  return velm_api("api_remove_generic_named_attribute", [&] {
    if (!e || !name) velm_api_error_throw(VELM_NULL_ENTITY);
    remove_named(e, name);
  });
}

// ---------------------------------------------------------------------------
ATTRIB_RGB::ATTRIB_RGB(ENTITY* owner, double red, double green, double blue)
    : ATTRIB_ST(owner), rgb_(red, green, blue) {}

void ATTRIB_RGB::split_owner(ENTITY* new_part) { copy_owner(new_part); }

void ATTRIB_RGB::copy_owner(ENTITY* copy) {
  if (copy) velm_require(VELM_NEW ATTRIB_RGB(copy, red(), green(), blue()));
}

void ATTRIB_RGB::save_common(ENTITY_LIST& list) const {
  ATTRIB_ST::save_common(list);
  write_real(rgb_.red());
  write_real(rgb_.green());
  write_real(rgb_.blue());
}

void ATTRIB_RGB::restore_common() {
  ATTRIB_ST::restore_common();
  double r = read_real(), g = read_real(), b = read_real();
  rgb_ = rgb_color(r, g, b);
}

void ATTRIB_RGB::copy_common(ENTITY_LIST& list, const ATTRIB_RGB* from, pointer_map* pm, int skip,
                             SCAN_TYPE reason) {
  ATTRIB_ST::copy_common(list, from, pm, skip, reason);
  rgb_ = from->rgb_;
}

outcome api_remove_no_merge_attrib(ENTITY_LIST& entities) {
  return velm_api("api_remove_no_merge_attrib", [&] {
    for (int i = 0; i < entities.count(); ++i)
      if (ENTITY* e = entities[i])
        while (ATTRIB* a = find_attrib(e, ATTRIB_ST_TYPE, NO_MERGE_ATTRIB_TYPE)) a->lose();
  });
}

// ---------------------------------------------------------------------------
ATTRIB_QELCOLLECTION::ATTRIB_QELCOLLECTION(ENTITY* owner, QELCOLLECTION* collection)
    : ATTRIB_ST(owner), collection_(collection) {}

void ATTRIB_QELCOLLECTION::detach_collection() {
  backup();
  collection_ = nullptr;
}

void ATTRIB_QELCOLLECTION::lose() {
  velm_lose_scope scope;
  if (is_lost() || is_backup_image()) return;
  // The member leaves the collection with its back-link.
  if (QELCOLLECTION* c = collection_) {
    detach_collection();
    c->member_gone(entity());
  }
  ATTRIB_ST::lose();
}

void ATTRIB_QELCOLLECTION::fix_pointers(ENTITY* array[], SCAN_TYPE reason) {
  ATTRIB_ST::fix_pointers(array, reason);
  fix_field(collection_, array, 1, QELCOLLECTION_TYPE);
}

void ATTRIB_QELCOLLECTION::save_common(ENTITY_LIST& list) const {
  ATTRIB_ST::save_common(list);
  write_ptr(collection_, list);
}

void ATTRIB_QELCOLLECTION::restore_common() {
  ATTRIB_ST::restore_common();
  collection_ = as<QELCOLLECTION>(read_ptr());
}

void ATTRIB_QELCOLLECTION::copy_common(ENTITY_LIST& list, const ATTRIB_QELCOLLECTION* from,
                                       pointer_map* pm, int skip, SCAN_TYPE reason) {
  ATTRIB_ST::copy_common(list, from, pm, skip, reason);
  // Never scanned, so a copy holds the collection only when the copy took it too.
  collection_ = as<QELCOLLECTION>(copy_index(list, from->collection_));
}

// ---------------------------------------------------------------------------
ATTRIB_COL::ATTRIB_COL(ENTITY* owner, int colour_number) : ATTRIB_TSL(owner), colour_(colour_number) {}

void ATTRIB_COL::copy_owner(ENTITY* copy) {
  if (copy) velm_require(VELM_NEW ATTRIB_COL(copy, colour_));
}

void ATTRIB_COL::save_common(ENTITY_LIST& list) const {
  ATTRIB_TSL::save_common(list);
  write_int(colour_);
}

void ATTRIB_COL::restore_common() {
  ATTRIB_TSL::restore_common();
  colour_ = read_int();
}

void ATTRIB_COL::copy_common(ENTITY_LIST& list, const ATTRIB_COL* from, pointer_map* pm, int skip,
                             SCAN_TYPE reason) {
  ATTRIB_TSL::copy_common(list, from, pm, skip, reason);
  colour_ = from->colour_;
}

// ---------------------------------------------------------------------------
bool rh_get_material_color(const render_material* material, double& red, double& green,
                           double& blue) {
  if (!material) return false;
  red = material->colour().red();
  green = material->colour().green();
  blue = material->colour().blue();
  return true;
}

ATTRIB_RENDER::ATTRIB_RENDER(ENTITY* owner, const rgb_color& material_colour)
    : ATTRIB_RH(owner), material_(material_colour) {}

void ATTRIB_RENDER::copy_owner(ENTITY* copy) {
  if (copy) velm_require(VELM_NEW ATTRIB_RENDER(copy, material_.colour()));
}

void ATTRIB_RENDER::save_common(ENTITY_LIST& list) const {
  ATTRIB_RH::save_common(list);
  const rgb_color& c = material_.colour();
  write_real(c.red());
  write_real(c.green());
  write_real(c.blue());
}

void ATTRIB_RENDER::restore_common() {
  ATTRIB_RH::restore_common();
  double r = read_real(), g = read_real(), b = read_real();
  material_ = render_material(rgb_color(r, g, b));
}

void ATTRIB_RENDER::copy_common(ENTITY_LIST& list, const ATTRIB_RENDER* from, pointer_map* pm,
                                int skip, SCAN_TYPE reason) {
  ATTRIB_RH::copy_common(list, from, pm, skip, reason);
  material_ = from->material_;
}
