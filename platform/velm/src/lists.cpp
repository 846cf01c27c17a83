// ENTITY_LIST, the EE_LIST and TRANSFORM entities, and the deep-copy driver.
#include <cmath>
#include <cstdint>
#include <utility>

#include "entity_internal.hxx"
#include "velm/address_table.hxx"
#include "velm/lists.hxx"
#include "velm/save.hxx"
#include "velm/testkit.hxx"

namespace {
// A removed slot; distinct from null, which is a legal entry.
char tombstone_mark;
ENTITY* const tombstone = reinterpret_cast<ENTITY*>(&tombstone_mark);
}  // namespace

// A copy hashes; a stamped list's copy builds its index when first asked.
ENTITY_LIST::ENTITY_LIST(const ENTITY_LIST& other)
    : VELM_OBJECT(),
      slots_(other.slots_),
      index_(other.stamp_epoch_ ? std::vector<std::uint32_t>() : other.index_),
      live_(other.live_),
      duplicates_(other.duplicates_) {}

ENTITY_LIST& ENTITY_LIST::operator=(const ENTITY_LIST& other) {
  if (this != &other) {
    unstamp_entries();
    slots_ = other.slots_;
    if (other.stamp_epoch_)
      index_.clear();
    else
      index_ = other.index_;
    live_ = other.live_;
    duplicates_ = other.duplicates_;
    stamp_epoch_ = 0;
    null_slot_ = -1;
    cursor_ = 0;
  }
  return *this;
}

// The index holds, for each entity present, the slot of its first live entry.
int ENTITY_LIST::find_slot(const ENTITY* e) const {
  const std::size_t mask = index_.size() - 1;
  for (std::size_t i = velm_detail::address_hash(e, mask);; i = (i + 1) & mask) {
    std::uint32_t s = index_[i];
    if (s == 0) return -1;
    if (slots_[s - 1] == e) return static_cast<int>(i);
  }
}

void ENTITY_LIST::index_insert(int slot) const {
  const std::size_t mask = index_.size() - 1;
  std::size_t i = velm_detail::address_hash(slots_[static_cast<std::size_t>(slot)], mask);
  while (index_[i] != 0) i = (i + 1) & mask;
  index_[i] = static_cast<std::uint32_t>(slot) + 1;
}

void ENTITY_LIST::index_erase(int position) {
  const std::size_t mask = index_.size() - 1;
  std::size_t i = static_cast<std::size_t>(position);
  for (std::size_t j = (i + 1) & mask; index_[j] != 0; j = (j + 1) & mask) {
    std::size_t h = velm_detail::address_hash(slots_[index_[j] - 1], mask);
    if (((j - h) & mask) >= ((j - i) & mask)) {
      index_[i] = index_[j];
      i = j;
    }
  }
  index_[i] = 0;
}

// Sized for the slots (tombstones included) at most half full; the first live
// entry of each entity goes in.
void ENTITY_LIST::build_index() const {
  std::size_t n = 16;
  while (n < 2 * (slots_.size() + 1)) n *= 2;
  index_.assign(n, 0);
  for (int k = 0; k < count(); ++k)
    if (slots_[static_cast<std::size_t>(k)] != tombstone && find_slot(slots_[static_cast<std::size_t>(k)]) < 0)
      index_insert(k);
}

bool ENTITY_LIST::indexed() const {
  if (stamp_epoch_ || count() <= small_list) return false;
  if (index_.empty()) build_index();
  return true;
}

// The entity's scratch names its slot: only this list stamps with its epoch
// while it lives, and an entry removed or cleared loses its stamp, so the slot
// is not read back. Null has a slot of its own; the tombstone is never an entry.
int ENTITY_LIST::stamped_lookup(const ENTITY* e) const {
  if (!e) return null_slot_;
  if (e == tombstone) return -1;
  std::uint32_t slot = 0;
  if (velm_entity_access::stamped(e, stamp_epoch_, slot) && slot < slots_.size()) return static_cast<int>(slot);
  return -1;
}

// A later unchecked duplicate of a removed entry becomes the one found;
// without one the entity is no longer stamped.
void ENTITY_LIST::restamp_after(const ENTITY* e, int index) {
  if (e) velm_entity_access::unstamp(e, stamp_epoch_);
  if (!duplicates_) return;
  for (int k = index + 1; k < count(); ++k)
    if (slots_[static_cast<std::size_t>(k)] == e) {
      if (!e)
        null_slot_ = k;
      else
        velm_entity_access::stamp(e, stamp_epoch_, static_cast<std::uint32_t>(k));
      return;
    }
}

int ENTITY_LIST::lookup(const ENTITY* e) const {
  if (stamp_epoch_) return stamped_lookup(e);
  if (!indexed()) {
    for (int k = 0; k < count(); ++k)
      if (slots_[static_cast<std::size_t>(k)] == e) return k;
    return -1;
  }
  int position = find_slot(e);
  return position < 0 ? -1 : static_cast<int>(index_[static_cast<std::size_t>(position)]) - 1;
}

int ENTITY_LIST::add(ENTITY* e, bool check_duplicates) {
  if (stamp_epoch_) {
    const int present = stamped_lookup(e);
    if (present >= 0) {
      if (check_duplicates) return present;
      duplicates_ = true;  // the first entry stays the one found
    }
    const int index = count();
    slots_.push_back(e);
    ++live_;
    if (present < 0) {
      if (!e)
        null_slot_ = index;
      else
        velm_entity_access::stamp(e, stamp_epoch_, static_cast<std::uint32_t>(index));
    }
    return index;
  }
  if (!indexed()) {
    int present = lookup(e);
    if (check_duplicates && present >= 0) return present;
    if (present >= 0) duplicates_ = true;  // an unchecked duplicate keeps the first index
    slots_.push_back(e);
    ++live_;
    if (count() > small_list) build_index();
    return count() - 1;
  }
  // One probe finds the entity or the empty slot where it goes.
  const std::size_t mask = index_.size() - 1;
  std::size_t i = velm_detail::address_hash(e, mask);
  for (; index_[i] != 0; i = (i + 1) & mask)
    if (slots_[index_[i] - 1] == e) {
      if (check_duplicates) return static_cast<int>(index_[i]) - 1;
      duplicates_ = true;
      break;
    }
  const bool present = index_[i] != 0;
  int index = count();
  slots_.push_back(e);
  ++live_;
  if (2 * (slots_.size() + 1) > index_.size())
    build_index();
  else if (!present)
    index_[i] = static_cast<std::uint32_t>(index) + 1;
  return index;
}

void ENTITY_LIST::add(const ENTITY_LIST& other) {
  if (&other == this) return;
  for (ENTITY* e : other.slots_)
    if (e && e != tombstone) add(e);
}

int ENTITY_LIST::remove(ENTITY* e) {
  int index = lookup(e);
  if (index < 0) return -1;
  if (stamp_epoch_) {
    slots_[static_cast<std::size_t>(index)] = tombstone;
    --live_;
    if (!e) null_slot_ = -1;
    restamp_after(e, index);
    return index;
  }
  if (!index_.empty()) index_erase(find_slot(e));
  slots_[static_cast<std::size_t>(index)] = tombstone;
  --live_;
  // An unchecked duplicate further on becomes the entry that lookup and remove find.
  if (duplicates_ && !index_.empty())
    for (int k = index + 1; k < count(); ++k)
      if (slots_[static_cast<std::size_t>(k)] == e) {
        index_insert(k);
        break;
      }
  return index;
}

ENTITY* ENTITY_LIST::operator[](int index) const {
  if (index < 0 || index >= count()) return nullptr;
  ENTITY* e = slots_[static_cast<std::size_t>(index)];
  return e == tombstone ? nullptr : e;
}

ENTITY* ENTITY_LIST::next() const {
  while (cursor_ < count()) {
    ENTITY* e = slots_[static_cast<std::size_t>(cursor_++)];
    if (e && e != tombstone) return e;
  }
  return nullptr;
}

// Entries leaving a stamped list all at once take their stamps with them.
void ENTITY_LIST::unstamp_entries() {
  if (stamp_epoch_)
    for (ENTITY* e : slots_)
      if (e && e != tombstone) velm_entity_access::unstamp(e, stamp_epoch_);
}

void ENTITY_LIST::clear() {
  unstamp_entries();
  slots_.clear();
  index_.clear();
  live_ = 0;
  duplicates_ = false;
  null_slot_ = -1;
  cursor_ = 0;
}

// ---------------------------------------------------------------------------
namespace {
bool scratch_taken = false;
std::uint16_t last_epoch = 0;
}  // namespace

velm_scratch::velm_scratch() {
  if (scratch_taken) return;
  scratch_taken = true;
  if (++last_epoch == 0) {
    // Round again: no entity may still carry an epoch about to be reused.
    velm_registry_unstamp_all();
    ++last_epoch;
  }
  epoch_ = last_epoch;
}

velm_scratch::~velm_scratch() {
  if (epoch_) scratch_taken = false;
}

velm_stamped_list::velm_stamped_list(ENTITY_LIST& list) : list_(list) {
  if (!scratch_.held() || list.count() != 0) return;
  list.stamp_epoch_ = scratch_.epoch();
  list.null_slot_ = -1;
  list.index_.clear();
}

velm_stamped_list::~velm_stamped_list() {
  if (scratch_.held() && list_.stamp_epoch_ == scratch_.epoch()) list_.stamp_epoch_ = 0;
}

void velm_test_with_stamped_list(ENTITY_LIST& list, const std::function<void()>& body) {
  velm_stamped_list stamps(list);
  body();
}

// ---------------------------------------------------------------------------
VELM_ENTITY_DEF(EE_LIST, ENTITY, 1, "eelist", EE_LIST_TYPE)

EE_LIST::EE_LIST(int ownership) : ownership_(ownership) {}

void EE_LIST::add(ENTITY* e) {
  if (list_.contains(e)) return;
  backup();
  list_.add(e);
}

void EE_LIST::remove(ENTITY* e) {
  if (!list_.contains(e)) return;
  backup();
  list_.remove(e);
}

void EE_LIST::lose() {
  velm_lose_scope scope;
  if (is_lost()) return;
  if (ownership_) {
    ENTITY_LIST entries = list_;
    for (int i = 0; i < entries.count(); ++i)
      if (ENTITY* e = entries[i]; e && velm_is_live_entity(e)) e->lose();
  }
  ENTITY::lose();
}

void EE_LIST::copy_scan(ENTITY_LIST& list, SCAN_TYPE reason, int dpcpy_skip) const {
  ENTITY::copy_scan(list, reason, dpcpy_skip);
  for (int i = 0; i < list_.count(); ++i)
    if (ENTITY* e = list_[i]) list.add(e);
}

void EE_LIST::fix_pointers(ENTITY* array[], SCAN_TYPE reason) {
  fix_common(array, reason);
  ENTITY_LIST stored = list_;
  list_.clear();
  for (int i = 0; i < stored.count(); ++i)
    if (ENTITY* e = read_array(array, stored[i])) list_.add(e);
}

void EE_LIST::debug_ent(FILE* fp) const {
  ENTITY::debug_ent(fp);
  if (!fp) return;
  std::fprintf(fp, "\townership : %d\n\tcount : %d\n", ownership_, list_.iteration_count());
}

void EE_LIST::save_common(ENTITY_LIST& list) const {
  ENTITY::save_common(list);
  write_int(ownership_);
  int n = 0;
  for (int i = 0; i < list_.count(); ++i) n += list_[i] != nullptr;
  write_int(n);
  for (int i = 0; i < list_.count(); ++i)
    if (ENTITY* e = list_[i]) write_ptr(e, list);
}

void EE_LIST::restore_common() {
  ENTITY::restore_common();
  ownership_ = read_int();
  int n = read_int();
  if (n < 0) velm_save_damaged("a negative member count");
  list_.clear();
  // Stored indices; duplicates kept apart until fix_pointers resolves them.
  for (int i = 0; i < n; ++i) list_.add(read_ptr(), false);
}

void EE_LIST::copy_common(ENTITY_LIST& list, const EE_LIST* from, pointer_map* pm, int dpcpy_skip,
                          SCAN_TYPE reason) {
  ENTITY::copy_common(list, from, pm, dpcpy_skip, reason);
  ownership_ = from->ownership_;
  list_.clear();
  for (int i = 0; i < from->list_.count(); ++i)
    if (ENTITY* e = from->list_[i]) list_.add(copy_index(list, e), false);
}

// ---------------------------------------------------------------------------
VELM_ENTITY_DEF(TRANSFORM, ENTITY, 1, "transform", TRANSFORM_TYPE)

TRANSFORM::TRANSFORM(const QELtransf& t) : t_(t) {}

void TRANSFORM::set_transform(const QELtransf& t) {
  backup();
  t_ = t;
}

TRANSFORM& TRANSFORM::operator*=(const QELtransf& t) {
  backup();
  t_ = t_ * t;
  return *this;
}

bool TRANSFORM::apply_transform(const QELtransf& t, ENTITY_LIST& done, bool negate, bool reset_pattern) {
  if (done.lookup(this) >= 0) return true;
  *this *= t;
  return ENTITY::apply_transform(t, done, negate, reset_pattern);
}

void TRANSFORM::debug_ent(FILE* fp) const {
  ENTITY::debug_ent(fp);
  if (!fp) return;
  const QELvector& d = t_.translation();
  std::fprintf(fp, "\ttranslation : %g %g %g\n\tscale : %g\n", d.x(), d.y(), d.z(), t_.scaling());
}

void TRANSFORM::save_common(ENTITY_LIST& list) const {
  ENTITY::save_common(list);
  for (int i = 0; i < 3; ++i) write_vector(t_.affine().row(i));
  write_vector(t_.translation());
  write_real(t_.scaling());
  write_logical(t_.rotate());
  write_logical(t_.reflect());
  write_logical(t_.shear());
}

void TRANSFORM::restore_common() {
  ENTITY::restore_common();
  double rows[9];
  for (int i = 0; i < 3; ++i) {
    QELvector r = read_vector();
    for (int j = 0; j < 3; ++j) rows[3 * i + j] = r[j];
  }
  QELvector translation = read_vector();
  double scale = read_real();
  bool rotate = read_logical();
  bool reflect = read_logical();
  bool shear = read_logical();
  // A transform places a body: one that flattens space (a singular matrix,
  // no scale) or takes it beyond any model (a scale, matrix or move past
  // 1e10) would make the body's coordinates collapse or overflow wherever it
  // is applied, long after the file was read.
  const QELmatrix affine(rows);
  const double volume = std::fabs(affine.determinant() * scale * scale * scale);
  for (double x : rows)
    if (!(std::fabs(x) <= 1e10)) velm_save_damaged("a transform beyond any model");
  if (!(std::fabs(scale) <= 1e10 && translation.len() <= 1e10)) velm_save_damaged("a transform beyond any model");
  if (!(volume >= 1e-30 && volume <= 1e30)) velm_save_damaged("a transform that flattens space or takes it beyond any model");
  t_ = restore_transf(affine, translation, scale, rotate, reflect, shear);
}

void TRANSFORM::copy_common(ENTITY_LIST& list, const TRANSFORM* from, pointer_map* pm, int dpcpy_skip,
                            SCAN_TYPE reason) {
  ENTITY::copy_common(list, from, pm, dpcpy_skip, reason);
  t_ = from->t_;
}

// ---------------------------------------------------------------------------
void copy_closure(const ENTITY_LIST& roots, ENTITY_LIST& list, std::vector<ENTITY*>& array, pointer_map* pm,
                  SCAN_TYPE reason, std::vector<int>* attributes) {
  // Slot 0 is null, so that a null field encodes as index 0 (copy_index).
  list.clear();
  list.add(nullptr);
  for (int i = 0; i < roots.count(); ++i)
    if (ENTITY* e = roots[i]) list.add(e);
  // Closure: scanning may grow the list while it is walked.
  constexpr int ahead = static_cast<int>(velm_prefetch_ahead);
  for (int i = 1; i < list.count(); ++i) {
    velm_prefetch(list[i + ahead]);
    velm_prefetch_link_stamps(list[i + ahead / 2]);
    if (ENTITY* e = list[i]) e->copy_scan(list, reason, 0);
  }

  array.assign(static_cast<std::size_t>(list.count()), nullptr);
  try {
    for (int i = 1; i < list.count(); ++i) {
      velm_prefetch(list[i + ahead]);
      velm_prefetch_link_stamps(list[i + ahead / 2]);
      array[i] = velm_require(list[i]->copy_data(list, pm, 0, reason));
      if (pm) pm->add(list[i], array[i]);
      if (attributes && is_ATTRIB(list[i])) attributes->push_back(i);
    }
    velm_fix_scope scope(array.data(), array.size(), false);
    for (std::size_t i = 1; i < array.size(); ++i) {
      if (i + velm_prefetch_ahead < array.size()) velm_prefetch(array[i + velm_prefetch_ahead]);
      array[i]->fix_pointers(array.data(), reason);
    }
  } catch (...) {
    // Copies are not yet part of any model: destroy them without cascading.
    for (ENTITY*& e : array)
      if (e) velm_entity_access::destroy(std::exchange(e, nullptr));
    throw;
  }
}

void copy_entity_list(const ENTITY_LIST& roots, ENTITY_LIST& copies, pointer_map* pm, SCAN_TYPE reason) {
  ENTITY_LIST list;
  velm_stamped_list stamps(list);
  std::vector<ENTITY*> array;
  copy_closure(roots, list, array, pm, reason);
  for (int i = 0; i < roots.count(); ++i)
    if (ENTITY* e = roots[i]) copies.add(array[static_cast<std::size_t>(list.lookup(e))]);
}
