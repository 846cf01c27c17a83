// Entity lists, the EE_LIST and TRANSFORM entities, debug numbering and the
// deep-copy driver.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "velm/entity.hxx"
#include "velm/math.hxx"

// Ordered set of entities. Insertion order is iteration order; a removed entry
// leaves a tombstone so indices never move and a walk in progress skips nothing.
// Short lists are searched in place; longer ones keep an open-addressed index of
// slot numbers beside the slots (the entity is read from its slot), so the
// index costs four bytes a slot and never a node.
class ENTITY_LIST : public VELM_OBJECT {
 public:
  ENTITY_LIST() = default;
  ENTITY_LIST(const ENTITY_LIST& other);
  ENTITY_LIST& operator=(const ENTITY_LIST& other);
  ~ENTITY_LIST() = default;

  // Index of the entity; one already present is not added again (null is
  // accepted and added once). Without the check the entry is always appended.
  int add(ENTITY* e, bool check_duplicates = true);
  void add(const ENTITY_LIST& other);  // appends every live entry
  int remove(ENTITY* e);               // former index, or -1
  int lookup(const ENTITY* e) const;   // index, or -1
  bool contains(const ENTITY* e) const { return lookup(e) >= 0; }
  int count() const { return static_cast<int>(slots_.size()); }  // tombstones included
  int iteration_count() const { return live_; }                  // live entries
  // Null for a tombstone and for any index outside 0 .. count()-1.
  ENTITY* operator[](int index) const;
  void init() const { cursor_ = 0; }
  ENTITY* next() const;  // next live, non-null entry; null at the end
  void clear();

 private:
  friend class velm_stamped_list;
  static constexpr int small_list = 8;  // no index up to this many slots
  int find_slot(const ENTITY* e) const;  // index table position, or -1
  void index_insert(int slot) const;
  void index_erase(int position);
  void build_index() const;
  bool indexed() const;  // hashing, with the index built when more than small_list slots
  int stamped_lookup(const ENTITY* e) const;
  void restamp_after(const ENTITY* e, int index);
  void unstamp_entries();

  std::vector<ENTITY*> slots_;
  mutable std::vector<std::uint32_t> index_;  // slot number + 1; 0 is empty; built when first needed
  int live_ = 0;
  bool duplicates_ = false;  // an unchecked add met an entry already present
  std::uint16_t stamp_epoch_ = 0;  // entries found through the entities' scratch (velm_stamped_list)
  int null_slot_ = -1;             // while stamped: the first live null entry
  mutable int cursor_ = 0;
};

// An entity holding a list of entities; with ownership, losing it loses them.
class EE_LIST : public ENTITY {
  VELM_ENTITY_DECL(EE_LIST, ENTITY, 1)
  explicit EE_LIST(int ownership = 0);
  EE_LIST(const EE_LIST&) = default;
  EE_LIST& operator=(const EE_LIST&) = default;

  using ENTITY::add;  // the use count
  using ENTITY::remove;
  void add(ENTITY* e);
  void remove(ENTITY* e);
  void init() const { list_.init(); }
  ENTITY* next() const { return list_.next(); }
  int count() const { return list_.count(); }
  ENTITY* operator[](int index) const { return list_[index]; }
  ENTITY_LIST& list() { return list_; }
  const ENTITY_LIST& list() const { return list_; }
  int ownership() const { return ownership_; }

  void lose() override;
  void copy_scan(ENTITY_LIST& list, SCAN_TYPE reason = scan_copy, int dpcpy_skip = 0) const override;
  void fix_pointers(ENTITY* array[], SCAN_TYPE reason) override;
  void debug_ent(FILE* fp) const override;
  void save_common(ENTITY_LIST& list) const;
  void restore_common();
  void copy_common(ENTITY_LIST& list, const EE_LIST* from, pointer_map* pm = nullptr,
                   int dpcpy_skip = 0, SCAN_TYPE reason = scan_copy);

 private:
  ENTITY_LIST list_;
  int ownership_ = 0;
};

// A use-counted transform entity.
class TRANSFORM : public ENTITY {
  VELM_ENTITY_DECL(TRANSFORM, ENTITY, 1)
  TRANSFORM() = default;
  explicit TRANSFORM(const QELtransf& t);
  TRANSFORM(const TRANSFORM&) = default;
  TRANSFORM& operator=(const TRANSFORM&) = default;

  const QELtransf& transform() const { return t_; }
  void set_transform(const QELtransf& t);
  TRANSFORM& operator*=(const QELtransf& t);  // this, then t

  bool apply_transform(const QELtransf& t, ENTITY_LIST& done, bool negate = false,
                       bool reset_pattern = true) override;
  void debug_ent(FILE* fp) const override;
  void save_common(ENTITY_LIST& list) const;
  void restore_common();
  void copy_common(ENTITY_LIST& list, const TRANSFORM* from, pointer_map* pm = nullptr,
                   int dpcpy_skip = 0, SCAN_TYPE reason = scan_copy);

 private:
  QELtransf t_;
};

// Per-class debug numbering: entities numbered from 0 in order of first lookup.
class DEBUG_LIST {
 public:
  explicit DEBUG_LIST(const char* name);
  const char* name() const { return name_; }
  int lookup(const ENTITY* e, bool add);  // -1 when absent and not added
  void forget(const ENTITY* e);

 private:
  const char* name_;
  std::unordered_map<const ENTITY*, int> numbers_;
  int next_ = 0;
};

DEBUG_LIST* debug_list_for_type(int type, const char* name, bool create);

// Deep copy: scans from the roots until closure (copy_scan), copies each entity
// (copy_data), then resolves indices (fix_pointers). The copies of the roots go
// to `copies` in root order. Throws velm_exception on failure, after destroying
// whatever copies it made.
void copy_entity_list(const ENTITY_LIST& roots, ENTITY_LIST& copies, pointer_map* pm = nullptr,
                      SCAN_TYPE reason = scan_copy);
