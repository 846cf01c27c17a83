// Collections and groups: entities holding an ordered list of member entities.
//
// Every member carries one ATTRIB_QELCOLLECTION per collection holding it, so
// a member that is lost leaves its collections by itself. Members may be any
// entities, collections included (nesting, even cycles, are allowed).
#pragma once

#include "velm/attrib.hxx"
#include "velm/entity.hxx"
#include "velm/lists.hxx"

class QELCOLLECTION : public ENTITY {
  VELM_ENTITY_DECL(QELCOLLECTION, ENTITY, 1)
  QELCOLLECTION() = default;
  QELCOLLECTION(const QELCOLLECTION&) = default;
  QELCOLLECTION& operator=(const QELCOLLECTION&) = default;

  void add_ent(ENTITY* e);     // no duplicates
  void remove_ent(ENTITY* e);  // nothing when e is not a member
  bool is_member(const ENTITY* e) const { return members_.contains(e); }
  // Members in insertion order (a removed member leaves a tombstone: walk with next()).
  const ENTITY_LIST& members() const { return members_; }

  // 0 (default): a save of the collection takes all its members with it;
  // 1: stored for the connector. Saving pulls every member in either way.
  void set_collection_save_behavior(int behaviour);
  int get_collection_save_behavior() const { return save_behaviour_; }
  // 0 (default): kept when it becomes empty; 1: lost when it becomes empty.
  void set_collection_empty_behavior(int behaviour);
  int get_collection_empty_behavior() const { return empty_behaviour_; }

  void lose() override;
  void copy_scan(ENTITY_LIST& list, SCAN_TYPE reason = scan_copy, int dpcpy_skip = 0) const override;
  void fix_pointers(ENTITY* array[], SCAN_TYPE reason) override;
  void debug_ent(FILE* fp) const override;
  void save_common(ENTITY_LIST& list) const;
  void restore_common();
  // A copy keeps the behaviours and attributes but has no members: copies of
  // members join it through the copy operations.
  void copy_common(ENTITY_LIST& list, const QELCOLLECTION* from, pointer_map* pm = nullptr,
                   int dpcpy_skip = 0, SCAN_TYPE reason = scan_copy);

 private:
  friend class ATTRIB_QELCOLLECTION;
  void member_gone(ENTITY* e);  // called by the back-link as it is lost
  ENTITY_LIST members_;
  int save_behaviour_ = 0;
  int empty_behaviour_ = 0;
};

// Layers, layer filters and selection sets.
class QELGROUP : public QELCOLLECTION {
  VELM_ENTITY_DECL(QELGROUP, QELCOLLECTION, 2)
  QELGROUP() = default;
  QELGROUP(const QELGROUP&) = default;
  QELGROUP& operator=(const QELGROUP&) = default;
};

// The back-link attribute of `member` for `collection`, or null.
ATTRIB_QELCOLLECTION* find_collection_link(const ENTITY* member, const QELCOLLECTION* collection);

outcome api_ct_add_to_group(ENTITY* member, QELGROUP* group);
outcome api_ct_remove_from_group(ENTITY* member, QELGROUP* group);  // error when not a member
outcome api_ct_return_ents(QELGROUP* group, ENTITY_LIST& members);
// Groups holding the entity, in the order the memberships were made.
outcome api_ct_return_groups(ENTITY* e, ENTITY_LIST& groups);
outcome api_ct_lose_group(QELGROUP* group);  // the members stay
// Cellular topology does not exist in this kernel: succeeds without change.
outcome api_ct_remove(ENTITY_LIST& bodies);
outcome api_add_to_collection(ENTITY_LIST& entities, QELCOLLECTION* collection);
outcome api_remove_from_collection(ENTITY* e, QELCOLLECTION* collection);
// Every collection holding the entity, groups included.
outcome api_return_collections(ENTITY* e, ENTITY_LIST& collections);
