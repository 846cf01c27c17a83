// The ENTITY base: construction and destruction bookkeeping, use counts,
// backup, the ENTITY part of persistence and copy, and by-name methods.
#include <cstring>
#include <deque>
#include <vector>
#include <string>

#include "entity_internal.hxx"
#include "velm/api.hxx"
#include "velm/attrib.hxx"
#include "velm/bb.hxx"
#include "velm/lists.hxx"
#include "velm/save.hxx"

void (*velm_attrib_transform_hook)(ENTITY* owner, const QELtransf& t) = nullptr;

void ENTITY::enter() {
  if (velm_take_image_expectation()) {
    state_ |= state_image;
    return;
  }
  velm_registry_add(this);
  bb_record_creation(this);
}

ENTITY::ENTITY() { enter(); }

ENTITY::ENTITY(const ENTITY& other) : VELM_OBJECT() {
  enter();
  // Only a before-image takes over the ENTITY part; a new entity starts free.
  if (is_backup_image()) {
    attrib_ = other.attrib_;
    use_count_ = other.use_count_;
  }
}

ENTITY& ENTITY::operator=(const ENTITY& other) {
  // Assigning from a before-image is the roll-back of the ENTITY part; between
  // two live entities it would share an attribute chain, so it leaves it alone.
  if (this != &other && other.is_backup_image()) {
    attrib_ = other.attrib_;
    use_count_ = other.use_count_;
  }
  return *this;
}

ENTITY::~ENTITY() {
  if (is_backup_image()) return;
  if (!is_lost()) velm_registry_remove(this);  // a lost entity left the registry then
  bb_forget(this);
  velm_debug_forget(this);
}

ENTITY* ENTITY::make_copy() const {
  ENTITY* c = VELM_NEW ENTITY(*this);
  if (c) fixup_copy(c);
  return c;
}

int ENTITY::identity(int level) const { return level == 0 ? ENTITY_TYPE : -1; }
const char* ENTITY::type_name() const { return "entity"; }
int ENTITY::size() const { return static_cast<int>(sizeof(ENTITY)); }

void ENTITY::debug_ent(FILE* fp) const {
  if (!fp) return;
  std::fprintf(fp, "%s %d\n", type_name(), debug_number());
  std::fprintf(fp, "\tattrib : %ld\n", attrib_ ? static_cast<long>(attrib_->debug_number()) : -1L);
  std::fprintf(fp, "\tuse count : %ld\n", static_cast<long>(use_count_));
}

void ENTITY::save(ENTITY_LIST& list) const {
  save_begin(0);
  save_common(list);
  save_end();
}

void ENTITY::copy_scan(ENTITY_LIST& list, SCAN_TYPE, int) const {
  if (attrib_) list.add(attrib_);
}

bool ENTITY::is_deepcopyable() const { return true; }

ENTITY* ENTITY::copy_data(ENTITY_LIST& list, pointer_map* pm, int dpcpy_skip, SCAN_TYPE reason) const {
  ENTITY* c = VELM_NEW ENTITY();
  if (c) c->copy_common(list, this, pm, dpcpy_skip, reason);
  return c;
}

void ENTITY::fix_pointers(ENTITY* array[], SCAN_TYPE reason) { fix_common(array, reason); }

namespace {
METHOD_TABLE& entity_methods() {
  static METHOD_TABLE table;
  return table;
}
}  // namespace

int ENTITY::add_method(const METHOD_ID& id, METHOD_FN fn) { return entity_methods().add(id, fn); }

int ENTITY::call_method(const METHOD_ID& id, const METHOD_ARGS& args) {
  bool found = false;
  int r = velm_call_in_table(entity_methods(), this, id, args, found);
  return found ? r : 0;
}

namespace {
int lose_depth = 0;
// In blocks: a body of millions is freed without the list ever being copied to grow.
std::deque<ENTITY*>& pending_frees() {
  static std::deque<ENTITY*> list;
  return list;
}
}  // namespace

velm_lose_scope::velm_lose_scope() { ++lose_depth; }

bool velm_free_with_scope(ENTITY* e) {
  if (lose_depth == 0) return false;
  pending_frees().push_back(e);
  return true;
}

velm_lose_scope::~velm_lose_scope() {
  if (--lose_depth != 0) return;
  std::deque<ENTITY*> doomed;
  doomed.swap(pending_frees());
  for (ENTITY* e : doomed) velm_entity_access::destroy(e);
}

void ENTITY::lose() {
  if (is_lost() || is_backup_image()) return;
  velm_lose_scope scope;
  if (state_ & state_doomed) {
    // Going with its owner: the chain stays as it is and every attribute on it
    // goes. Collected first: losing one may lose others on it (a collection
    // that goes with its last member takes its other links along).
    std::vector<ENTITY*> chain;
    const std::size_t limit = velm_walk_limit();
    for (ENTITY* a = attrib_; a && chain.size() < limit; a = static_cast<ATTRIB*>(a)->next()) {
      chain.push_back(a);
      if (static_cast<ATTRIB*>(a)->next() == attrib_) break;
    }
    for (ENTITY* a : chain)
      if (!a->is_lost()) a->lose();
  } else {
    // Attributes unhook themselves from this entity as they are lost.
    while (ENTITY* a = attrib_) {
      a->lose();
      if (attrib_ == a) break;  // an attribute that does not unhook: stop, never spin
    }
  }
  if (!bb_record_loss(this)) {
    velm_entity_access::mark_lost(this, true);
    pending_frees().push_back(this);
  }
}

int ENTITY::lookup(int create) const {
  DEBUG_LIST* list = debug_list_for_type(identity(0), type_name(), create != 0);
  return list ? list->lookup(this, create != 0) : -1;
}

bool ENTITY::apply_transform(const QELtransf& t, ENTITY_LIST& done, bool, bool) {
  if (done.lookup(this) >= 0) return true;
  done.add(this);
  if (velm_attrib_transform_hook) velm_attrib_transform_hook(this, t);
  return true;
}

void ENTITY::roll_back(ENTITY* before) {
  if (!before) return;
  attrib_ = before->attrib_;
  use_count_ = before->use_count_;
}

ENTITY* ENTITY::owner() const { return const_cast<ENTITY*>(this); }

void ENTITY::add() {
  backup();
  ++use_count_;
}

void ENTITY::remove(int lose_if_zero) {
  if (use_count_ <= 0) return;  // only the last use loses, once
  backup();
  if (--use_count_ == 0 && lose_if_zero) lose();
}

void ENTITY::set_attrib(ATTRIB* a) {
  backup();
  attrib_ = reinterpret_cast<ENTITY*>(a);
}

void ENTITY::backup() { bb_record_backup(this); }

// ---------------------------------------------------------------------------
void ENTITY::save_begin(int) const { velm_save_record_begin(this); }

void ENTITY::save_common(ENTITY_LIST& list) const {
  // Completes the identifier chain with the kernel's level-1 class; classes
  // registered from outside at level 1 have written their own identifier.
  int level1 = identity(1);
  if (level1 > 0 && level1 < VELM_FIRST_EXTERNAL_TYPE) {
    const restore_def* def = restore_def::find_type(level1);
    if (!def) velm_api_error_throw(VELM_SAVE_UNKNOWN_CLASS);
    write_id_level(def->identifier(), 1);
  }
  write_ptr(attrib_, list);
  write_int(id_);
}

void ENTITY::save_end() const { velm_save_record_end(); }

void ENTITY::restore_common() {
  attrib_ = read_ptr();
  id_ = read_int();
  if (id_ < 0 || id_ > VELM_MAX_ENTITY_ID)
    velm_save_damaged(("an entity id outside 0 .. " + std::to_string(VELM_MAX_ENTITY_ID)).c_str());
  velm_note_restored_id(id_);
}

void ENTITY::fix_common(ENTITY* array[], SCAN_TYPE) {
  attrib_ = read_array_checked(array, attrib_, 1, ATTRIB_TYPE);
}

void ENTITY::copy_common(ENTITY_LIST& list, const ENTITY* from, pointer_map*, int, SCAN_TYPE) {
  attrib_ = from ? copy_index(list, from->attrib_) : nullptr;
}

void ENTITY::fixup_copy(ENTITY*) const {}

// ---------------------------------------------------------------------------
void velm_entity_access::mark_lost(ENTITY* e, bool lost) {
  if (lost) {
    e->state_ |= ENTITY::state_lost;
    velm_registry_remove(e);
  } else {
    // A revived entity is no longer going with anything.
    e->state_ &= static_cast<unsigned char>(~(ENTITY::state_lost | ENTITY::state_doomed));
    // Stamped while it was lost, the epochs may have come round since.
    e->scratch_epoch_ = 0;
    velm_registry_add(e);
  }
}

void velm_entity_access::set_doomed(ENTITY* e, bool doomed) {
  if (doomed)
    e->state_ |= ENTITY::state_doomed;
  else
    e->state_ &= static_cast<unsigned char>(~ENTITY::state_doomed);
}

bool velm_entity_access::is_doomed(const ENTITY* e) { return (e->state_ & ENTITY::state_doomed) != 0; }

void velm_entity_access::destroy(ENTITY* e) { delete e; }

int velm_entity_access::ensure_id(ENTITY* e) {
  if (e->id_ == 0) e->id_ = velm_next_entity_id();
  return e->id_;
}

outcome api_get_entity_id(const ENTITY* entity, int& id) {
  return velm_api("api_get_entity_id", [&] {
    if (!entity) velm_api_error_throw(VELM_NULL_ENTITY);
    if (!velm_is_live_entity(entity)) velm_api_error_throw(VELM_NOT_LIVE);
    id = velm_entity_access::ensure_id(const_cast<ENTITY*>(entity));
  });
}
