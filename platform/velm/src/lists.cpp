// ENTITY_LIST, the EE_LIST and TRANSFORM entities, and the deep-copy driver.
#include <cstdint>

#include "entity_internal.hxx"
#include "velm/lists.hxx"
#include "velm/save.hxx"

namespace {
// A removed slot; distinct from null, which is a legal entry.
char tombstone_mark;
ENTITY* const tombstone = reinterpret_cast<ENTITY*>(&tombstone_mark);
}  // namespace

ENTITY_LIST::ENTITY_LIST(const ENTITY_LIST& other)
    : VELM_OBJECT(),
      slots_(other.slots_),
      index_(other.index_),
      live_(other.live_),
      duplicates_(other.duplicates_) {}

ENTITY_LIST& ENTITY_LIST::operator=(const ENTITY_LIST& other) {
  if (this != &other) {
    slots_ = other.slots_;
    index_ = other.index_;
    live_ = other.live_;
    duplicates_ = other.duplicates_;
    cursor_ = 0;
  }
  return *this;
}

int ENTITY_LIST::add(ENTITY* e, bool check_duplicates) {
  if (check_duplicates) {
    auto it = index_.find(e);
    if (it != index_.end()) return it->second;
  }
  int index = count();
  slots_.push_back(e);
  // Keeps the first index of an unchecked duplicate.
  if (!index_.emplace(e, index).second) duplicates_ = true;
  ++live_;
  return index;
}

void ENTITY_LIST::add(const ENTITY_LIST& other) {
  if (&other == this) return;
  for (ENTITY* e : other.slots_)
    if (e && e != tombstone) add(e);
}

int ENTITY_LIST::remove(ENTITY* e) {
  auto it = index_.find(e);
  if (it == index_.end()) return -1;
  int index = it->second;
  index_.erase(it);
  slots_[index] = tombstone;
  --live_;
  // An unchecked duplicate further on becomes the entry that lookup and remove find.
  if (duplicates_)
    for (int k = index + 1; k < count(); ++k)
      if (slots_[k] == e) {
        index_.emplace(e, k);
        break;
      }
  return index;
}

int ENTITY_LIST::lookup(const ENTITY* e) const {
  auto it = index_.find(e);
  return it == index_.end() ? -1 : it->second;
}

ENTITY* ENTITY_LIST::operator[](int index) const {
  if (index < 0 || index >= count()) return nullptr;
  ENTITY* e = slots_[index];
  return e == tombstone ? nullptr : e;
}

ENTITY* ENTITY_LIST::next() const {
  while (cursor_ < count()) {
    ENTITY* e = slots_[cursor_++];
    if (e && e != tombstone) return e;
  }
  return nullptr;
}

void ENTITY_LIST::clear() {
  slots_.clear();
  index_.clear();
  live_ = 0;
  duplicates_ = false;
  cursor_ = 0;
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
  if (n < 0) velm_api_error_throw(VELM_SAVE_FILE_DAMAGED);
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
  t_ = restore_transf(QELmatrix(rows), translation, scale, rotate, reflect, shear);
}

void TRANSFORM::copy_common(ENTITY_LIST& list, const TRANSFORM* from, pointer_map* pm, int dpcpy_skip,
                            SCAN_TYPE reason) {
  ENTITY::copy_common(list, from, pm, dpcpy_skip, reason);
  t_ = from->t_;
}

// ---------------------------------------------------------------------------
void copy_entity_list(const ENTITY_LIST& roots, ENTITY_LIST& copies, pointer_map* pm, SCAN_TYPE reason) {
  // Slot 0 is null, so that a null field encodes as index 0 (copy_index).
  ENTITY_LIST list;
  list.add(nullptr);
  for (int i = 0; i < roots.count(); ++i)
    if (ENTITY* e = roots[i]) list.add(e);
  // Closure: scanning may grow the list while it is walked.
  for (int i = 1; i < list.count(); ++i)
    if (ENTITY* e = list[i]) e->copy_scan(list, reason, 0);

  std::vector<ENTITY*> array(static_cast<std::size_t>(list.count()), nullptr);
  try {
    for (int i = 1; i < list.count(); ++i) {
      array[i] = velm_require(list[i]->copy_data(list, pm, 0, reason));
      if (pm) pm->add(list[i], array[i]);
    }
    velm_fix_scope scope(array.data(), array.size());
    for (int i = 1; i < list.count(); ++i) array[i]->fix_pointers(array.data(), reason);
  } catch (...) {
    // Copies are not yet part of any model: destroy them without cascading.
    for (ENTITY* e : array)
      if (e) velm_entity_access::destroy(e);
    throw;
  }
  for (int i = 0; i < roots.count(); ++i)
    if (ENTITY* e = roots[i]) copies.add(array[list.lookup(e)]);
}
