// Registries of the entity core: live entities, restore definitions, method
// tables, debug numbering, entity ids and the index encoding of copy/restore.
#include <cstring>
#include <memory>
#include <vector>

#include "entity_internal.hxx"
#include "velm/address_table.hxx"
#include "velm/lists.hxx"
#include "velm/save.hxx"

// Subclass-list heads of the kernel's classes.
restore_def* ENTITY_subclasses = nullptr;
#define VELM_DEFINE_HEAD(CLASS, NUMBER) restore_def* CLASS##_subclasses = nullptr;
VELM_KERNEL_CLASSES(VELM_DEFINE_HEAD)
#undef VELM_DEFINE_HEAD

// ---------------------------------------------------------------------------
namespace {
// Leaked on purpose: entities and definitions may outlive any static's destructor.
velm_address_bits& live() {
  static auto* set = new velm_address_bits;
  return *set;
}
bool image_expected = false;
int entity_id_counter = 0;
}  // namespace

void velm_registry_add(const ENTITY* e) { live().insert(e); }
void velm_registry_remove(const ENTITY* e) { live().erase(e); }
void velm_registry_unstamp_all() {
  live().for_each([](const void* p) { velm_entity_access::unstamp(static_cast<const ENTITY*>(p)); });
}
bool velm_is_live_entity(const void* address) { return address && live().contains(address); }
long velm_live_entity_count() { return static_cast<long>(live().size()); }

void velm_expect_image(bool on) { image_expected = on; }
bool velm_image_expected() { return image_expected; }
bool velm_take_image_expectation() {
  bool was = image_expected;
  image_expected = false;
  return was;
}

// Entity numbers stay within [1, VELM_MAX_ENTITY_ID]: a restored number above it
// is damage, and running out fails the request instead of overflowing.
int velm_next_entity_id() {
  if (entity_id_counter >= VELM_MAX_ENTITY_ID) velm_api_error_throw(VELM_API_FAILED);
  return ++entity_id_counter;
}
void velm_note_restored_id(int id) {
  if (id > entity_id_counter) entity_id_counter = id;
}

// ---------------------------------------------------------------------------
namespace {
std::vector<restore_def*>& definitions() {
  static auto* defs = new std::vector<restore_def*>;
  return *defs;
}
int next_external_type = VELM_FIRST_EXTERNAL_TYPE;
unsigned long definitions_changed = 0;  // counts registrations and removals
}  // namespace

restore_def::restore_def(restore_def** parent_subclass_head, const char* identifier,
                         int* type_number_out, RESTORE_FN factory, restore_def** own_subclass_head)
    : parent_head_(parent_subclass_head),
      identifier_(identifier),
      type_out_(type_number_out),
      type_(next_external_type++),
      factory_(factory),
      own_head_(own_subclass_head) {
  if (type_out_) *type_out_ = type_;
  link();
}

restore_def::restore_def(restore_def** parent_subclass_head, const char* identifier, int fixed_type,
                         RESTORE_FN factory, restore_def** own_subclass_head)
    : parent_head_(parent_subclass_head),
      identifier_(identifier),
      type_out_(nullptr),
      type_(fixed_type),
      factory_(factory),
      own_head_(own_subclass_head) {
  link();
}

void restore_def::link() {
  if (parent_head_) {
    next_ = *parent_head_;
    *parent_head_ = this;
  }
  definitions().push_back(this);
  ++definitions_changed;
}

restore_def::~restore_def() {
  if (parent_head_) {
    for (restore_def** p = parent_head_; *p; p = &(*p)->next_)
      if (*p == this) {
        *p = next_;
        break;
      }
  }
  auto& defs = definitions();
  for (auto it = defs.begin(); it != defs.end(); ++it)
    if (*it == this) {
      defs.erase(it);
      break;
    }
  ++definitions_changed;
  if (type_out_ && *type_out_ == type_) *type_out_ = 0;
}

// The first registered definition of that identifier.
const restore_def* restore_def::find(const char* identifier) {
  if (!identifier) return nullptr;
  for (const restore_def* d : definitions())
    if (d->identifier_ && std::strcmp(d->identifier_, identifier) == 0) return d;
  return nullptr;
}

const restore_def* restore_def::find_type(int type_number) {
  // Every record of a save asks for its kernel base class: kernel numbers are
  // answered from a table by number, rebuilt whenever a definition came or went.
  static std::vector<const restore_def*> by_type;
  static unsigned long built_for = ~0ul;
  const auto& defs = definitions();
  if (type_number >= 0 && type_number < VELM_FIRST_EXTERNAL_TYPE) {
    if (built_for != definitions_changed) {
      by_type.assign(VELM_FIRST_EXTERNAL_TYPE, nullptr);
      for (auto it = defs.rbegin(); it != defs.rend(); ++it)  // the first registered wins
        if ((*it)->type_ >= 0 && (*it)->type_ < VELM_FIRST_EXTERNAL_TYPE) by_type[(*it)->type_] = *it;
      built_for = definitions_changed;
    }
    return by_type[static_cast<std::size_t>(type_number)];
  }
  for (const restore_def* d : defs)
    if (d->type_ == type_number) return d;
  return nullptr;
}

// ---------------------------------------------------------------------------
bool METHOD_ID::operator==(const METHOD_ID& other) const {
  auto same = [](const char* a, const char* b) {
    return a == b || (a && b && std::strcmp(a, b) == 0);
  };
  return same(name_, other.name_) && same(arg_, other.arg_);
}

struct METHOD_TABLE::entry {
  METHOD_ID id;
  METHOD_FN fn;
  entry* next;
};

METHOD_TABLE::~METHOD_TABLE() {
  while (entry* e = head_) {
    head_ = e->next;
    delete e;
  }
}

int METHOD_TABLE::add(const METHOD_ID& id, METHOD_FN fn) {
  for (entry* e = head_; e; e = e->next)
    if (e->id == id) {
      e->fn = fn;
      return 0;
    }
  head_ = new entry{id, fn, head_};
  return 1;
}

METHOD_FN METHOD_TABLE::find(const METHOD_ID& id) const {
  for (entry* e = head_; e; e = e->next)
    if (e->id == id) return e->fn;
  return nullptr;
}

int METHOD_TABLE::count() const {
  int n = 0;
  for (entry* e = head_; e; e = e->next) ++n;
  return n;
}

int velm_call_in_table(const METHOD_TABLE& table, void* object, const METHOD_ID& id,
                       const METHOD_ARGS& args, bool& found) {
  const char* wanted = id.arg_type();
  const char* given = args.id();
  // A call whose argument type does not match is answered 0 without any lookup.
  if (!wanted || !given || std::strcmp(wanted, given) != 0) {
    found = true;
    return 0;
  }
  METHOD_FN fn = table.find(id);
  found = fn != nullptr;
  return fn ? fn(object, args) : 0;
}

// ---------------------------------------------------------------------------
ENTITY* pointer_map::find(const ENTITY* original) const {
  ENTITY* const* copy = map_.find(original);
  return copy ? *copy : nullptr;
}

void pointer_map::add(const ENTITY* original, ENTITY* copy) {
  auto [slot, inserted] = map_.insert(original, copy);
  if (!inserted && slot) *slot = copy;
}

// ---------------------------------------------------------------------------
namespace {
ENTITY** fix_array = nullptr;
std::size_t fix_size = 0;
bool fix_check = true;
}  // namespace

velm_fix_scope::velm_fix_scope(ENTITY** array, std::size_t size, bool check_classes)
    : saved_array_(fix_array), saved_size_(fix_size), saved_check_(fix_check) {
  fix_array = array;
  fix_size = size;
  fix_check = check_classes;
}

velm_fix_scope::~velm_fix_scope() {
  fix_array = saved_array_;
  fix_size = saved_size_;
  fix_check = saved_check_;
}

bool velm_fix_checks_classes() { return fix_check; }

ENTITY* copy_index(ENTITY_LIST& list, const ENTITY* e) {
  return reinterpret_cast<ENTITY*>(static_cast<std::intptr_t>(list.lookup(e)));
}

ENTITY* read_array(ENTITY* array[], ENTITY* stored_index) {
  std::intptr_t n = reinterpret_cast<std::intptr_t>(stored_index);
  if (!array || n < 0) return nullptr;
  // Against the driver's array an index out of range is damage, never a read.
  if (array == fix_array && static_cast<std::size_t>(n) >= fix_size)
    velm_api_error_throw(VELM_SAVE_FILE_DAMAGED);
  return array[n];
}

ENTITY* read_array_checked(ENTITY* array[], ENTITY* stored_index, int level, int type) {
  ENTITY* e = read_array(array, stored_index);
  if (e && fix_check && e->identity(level) != type) velm_api_error_throw(VELM_SAVE_FILE_DAMAGED);
  return e;
}

// ---------------------------------------------------------------------------
namespace {
std::unordered_map<int, std::unique_ptr<DEBUG_LIST>>& debug_lists() {
  static auto* lists = new std::unordered_map<int, std::unique_ptr<DEBUG_LIST>>;
  return *lists;
}
}  // namespace

DEBUG_LIST::DEBUG_LIST(const char* name) : name_(name) {}

int DEBUG_LIST::lookup(const ENTITY* e, bool add) {
  auto it = numbers_.find(e);
  if (it != numbers_.end()) return it->second;
  if (!add) return -1;
  numbers_.emplace(e, next_);
  return next_++;
}

void DEBUG_LIST::forget(const ENTITY* e) { numbers_.erase(e); }

DEBUG_LIST* debug_list_for_type(int type, const char* name, bool create) {
  auto& lists = debug_lists();
  auto it = lists.find(type);
  if (it != lists.end()) return it->second.get();
  if (!create) return nullptr;
  return (lists[type] = std::make_unique<DEBUG_LIST>(name)).get();
}

void velm_debug_forget(const ENTITY* e) {
  for (auto& [type, list] : debug_lists()) list->forget(e);
}
