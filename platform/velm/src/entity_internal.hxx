// Internal links between the entity core, the bulletin board, the registry of
// live entities and the save files. Not part of the kernel's interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "velm/entity.hxx"

#include "velm/memory.hxx"

class ENTITY;

// No chain or ring can hold more entities than exist: a walk that takes more
// steps has met a loop that a restore or a kernel routine should never leave.
inline std::size_t velm_walk_limit() { return static_cast<std::size_t>(velm_live_object_count()) + 1; }

// Passes over a list of entities ask for the entity a few steps ahead: on a
// model larger than the caches each entity's first lines then come from memory
// while the pass works on the ones before it, instead of one wait per entity.
constexpr std::size_t velm_prefetch_ahead = 12;
inline void velm_prefetch(const void* e) {
  __builtin_prefetch(e);
  __builtin_prefetch(static_cast<const char*>(e) + 64);
}

// A walk along links meets the entities of each kind in about the order they
// lie in their slab (creation order), a stream the hardware follows only
// inside a 4 KiB page: asking for the page after an entity starts that page's
// translation and first line while the walk works on this one, instead of a
// wait at every page boundary of every kind. A prefetch never faults, so the
// page after the last entity of a chunk costs nothing but the asking.
inline void velm_prefetch_next_page(const void* e) {
  __builtin_prefetch(reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(e) + 4096));
}

// A pass that looks each entity's links up in a stamped list (a copy, a save)
// reads every link's target: on a large model one wait per link. Half the
// prefetch distance ahead, the entity asked for earlier has come, and its
// links' stamps are asked for in turn (topology.cpp; other classes: the
// attribute only).
void velm_prefetch_link_stamps(const ENTITY* e);
// Every live entity's scratch epoch back to none (when the epochs come round).
void velm_registry_unstamp_all();

// Live registry (registry.cpp).
void velm_registry_add(const ENTITY* e);
void velm_registry_remove(const ENTITY* e);
// Inside a velm_lose_scope, hands a lost entity to the scope to be freed when
// the outermost one ends (true); outside one, false: the caller frees it.
bool velm_free_with_scope(ENTITY* e);
void velm_debug_forget(const ENTITY* e);

// The next ENTITY constructed is a before-image (set around make_copy by the board).
void velm_expect_image(bool on);
bool velm_take_image_expectation();
bool velm_image_expected();  // without taking it

// Bulletin-board access to an entity's state.
class velm_entity_access {
 public:
  static void mark_lost(ENTITY* e, bool lost);
  // Marks an entity that goes together with its owner (a body being lost):
  // its attributes leave their chain as it stands.
  static void set_doomed(ENTITY* e, bool doomed);
  static bool is_doomed(const ENTITY* e);
  static void destroy(ENTITY* e);
  static int ensure_id(ENTITY* e);  // api_get_entity_id numbering
  static void stamp(const ENTITY* e, std::uint16_t epoch, std::uint32_t value) {
    auto* m = const_cast<ENTITY*>(e);
    m->scratch_epoch_ = epoch;
    m->scratch_ = value;
  }
  static void unstamp(const ENTITY* e, std::uint16_t epoch) {
    if (e->scratch_epoch_ == epoch) const_cast<ENTITY*>(e)->scratch_epoch_ = 0;
  }
  static void unstamp(const ENTITY* e) { const_cast<ENTITY*>(e)->scratch_epoch_ = 0; }
  static const void* stamp_line(const ENTITY* e) { return &e->scratch_epoch_; }
  static bool stamped(const ENTITY* e, std::uint16_t epoch, std::uint32_t& value) {
    if (e->scratch_epoch_ != epoch) return false;
    value = e->scratch_;
    return true;
  }
};

// One word of scratch in every entity, for one pass at a time: a pass that
// takes it gets an epoch of its own and reads an entity's word only while the
// entity carries that epoch. Entities start without one; an epoch comes back
// after 65,535 passes, when every live entity's epoch is put back to none (a
// lost entity gets none when it is revived), so a pass reads only entities it
// stamped itself. A pass that finds the scratch taken (a nested one) does
// without: held() is false.
class velm_scratch {
 public:
  velm_scratch();
  ~velm_scratch();
  velm_scratch(const velm_scratch&) = delete;
  velm_scratch& operator=(const velm_scratch&) = delete;
  bool held() const { return epoch_ != 0; }
  std::uint16_t epoch() const { return epoch_; }
  void set(const ENTITY* e, std::uint32_t value) const { velm_entity_access::stamp(e, epoch_, value); }
  bool get(const ENTITY* e, std::uint32_t& value) const { return velm_entity_access::stamped(e, epoch_, value); }

 private:
  std::uint16_t epoch_ = 0;
};

// While it lives, an empty list finds its entries through the entities' scratch
// (their slot; an entry removed or cleared loses its stamp) instead of its hashed index, so a
// list of a million entities costs no table at all; after it, the list builds
// its index when first asked. Without the scratch the list hashes as always.
class velm_stamped_list {
 public:
  explicit velm_stamped_list(ENTITY_LIST& list);
  ~velm_stamped_list();
  velm_stamped_list(const velm_stamped_list&) = delete;
  velm_stamped_list& operator=(const velm_stamped_list&) = delete;

 private:
  ENTITY_LIST& list_;
  velm_scratch scratch_;
};

// Save records (save.cpp).
void velm_save_record_begin(const ENTITY* e);
void velm_save_record_end();
constexpr int VELM_MAX_ENTITY_ID = 1 << 30;
// Structure check of a restore before anyone walks it (restore_check.cpp):
// `records` are the restored entities in file order, the first `top_level` of
// them the ones asked for. Throws the damage error naming the record.
void velm_check_restored(ENTITY* const* records, int count, int top_level);
[[noreturn]] void velm_restore_damaged_at(int record, const char* identifier, const char* what);
// The largest coordinate or length a saved model's geometry holds (the bound
// transforms have too); the save refuses and the restore reports one beyond it.
constexpr double VELM_MODEL_EXTENT = 1e10;
// How far from the origin a point of a saved model lies on any axis, as every
// file reader holds a point: ten kilometres in millimetres.
constexpr double VELM_MODEL_POINT_EXTENT = 1e7;
void write_model_position(const QELposition& p);
void write_model_length(double value);
QELposition read_model_position();
double read_model_length();
void velm_note_restored_id(int id);
int velm_next_entity_id();

// Bounds of the array that read_array resolves against (copy and restore
// drivers). A restore checks the class of every link it resolves (a file may
// link anything to anything); a copy's links point at copies of what the
// original's same fields pointed at, so it skips the check, which would touch
// every linked copy once more.
class velm_fix_scope {
 public:
  velm_fix_scope(ENTITY** array, std::size_t size, bool check_classes);
  ~velm_fix_scope();
  velm_fix_scope(const velm_fix_scope&) = delete;
  velm_fix_scope& operator=(const velm_fix_scope&) = delete;

 private:
  ENTITY** saved_array_;
  std::size_t saved_size_;
  bool saved_check_;
};
// Whether the links being resolved need their classes checked (true outside any scope).
bool velm_fix_checks_classes();

// The deep copy's core: scans the closure of the roots (copy_scan) into
// `originals`, slot 0 null, and copies every entity into `copies`, slot for
// slot. Throws after destroying whatever copies it made. `attributes`, when
// given, gets the slots that hold attributes, in order (found while each
// original is at hand, so that nobody walks the originals again for them).
void copy_closure(const ENTITY_LIST& roots, ENTITY_LIST& originals, std::vector<ENTITY*>& copies,
                  pointer_map* pm = nullptr, SCAN_TYPE reason = scan_copy,
                  std::vector<int>* attributes = nullptr);
