// Collections and groups.
#include "velm/groups.hxx"

#include <unordered_set>
#include <vector>

#include "velm/api.hxx"
#include "velm/save.hxx"

VELM_ENTITY_DEF(QELCOLLECTION, ENTITY, 1, "collection", QELCOLLECTION_TYPE)
VELM_ENTITY_DEF(QELGROUP, QELCOLLECTION, 2, "group", QELGROUP_TYPE)

ATTRIB_QELCOLLECTION* find_collection_link(const ENTITY* member, const QELCOLLECTION* collection) {
  for (ATTRIB* a = find_attrib(member, ATTRIB_ST_TYPE, ATTRIB_QELCOLLECTION_TYPE); a;
       a = find_next_attrib(a, ATTRIB_ST_TYPE, ATTRIB_QELCOLLECTION_TYPE)) {
    auto* link = static_cast<ATTRIB_QELCOLLECTION*>(a);
    if (link->collection() == collection) return link;
  }
  return nullptr;
}

namespace {
// True when `c` holds `e`, directly or through collections among its members.
bool holds(const QELCOLLECTION* c, const ENTITY* e) {
  std::vector<const QELCOLLECTION*> todo{c};
  std::unordered_set<const QELCOLLECTION*> seen{c};
  while (!todo.empty()) {
    const ENTITY_LIST& members = todo.back()->members();
    todo.pop_back();
    for (int i = 0; i < members.count(); ++i) {
      const ENTITY* m = members[i];
      if (!m) continue;
      if (m == e) return true;
      if (is_QELCOLLECTION(m) && seen.insert(static_cast<const QELCOLLECTION*>(m)).second)
        todo.push_back(static_cast<const QELCOLLECTION*>(m));
    }
  }
  return false;
}
}  // namespace

void QELCOLLECTION::add_ent(ENTITY* e) {
  if (!e || members_.contains(e)) return;
  // A collection that held itself, however indirectly, could be saved but
  // never restored (and its walks would not end): refused when made.
  if (e == this || (is_QELCOLLECTION(e) && holds(static_cast<const QELCOLLECTION*>(e), this)))
    velm_api_error_throw(VELM_BAD_ARGUMENT);
  backup();
  members_.add(e);
  velm_require(VELM_NEW ATTRIB_QELCOLLECTION(e, this));
}

void QELCOLLECTION::remove_ent(ENTITY* e) {
  if (ATTRIB_QELCOLLECTION* link = find_collection_link(e, this)) {
    link->lose();  // calls member_gone
  } else if (members_.contains(e)) {
    member_gone(e);
  }
}

void QELCOLLECTION::member_gone(ENTITY* e) {
  backup();
  members_.remove(e);
  if (empty_behaviour_ == 1 && members_.iteration_count() == 0) lose();
}

void QELCOLLECTION::set_collection_save_behavior(int behaviour) {
  backup();
  save_behaviour_ = behaviour;
}

void QELCOLLECTION::set_collection_empty_behavior(int behaviour) {
  backup();
  empty_behaviour_ = behaviour;
}

void QELCOLLECTION::lose() {
  velm_lose_scope scope;
  if (is_lost() || is_backup_image()) return;
  std::vector<ENTITY*> members;
  members_.init();
  while (ENTITY* e = members_.next()) members.push_back(e);
  for (ENTITY* e : members)
    if (ATTRIB_QELCOLLECTION* link = find_collection_link(e, this)) {
      link->detach_collection();
      link->lose();
    }
  backup();
  members_.clear();
  ENTITY::lose();
}

void QELCOLLECTION::copy_scan(ENTITY_LIST& list, SCAN_TYPE reason, int dpcpy_skip) const {
  // Members are not scanned: copying a group must not copy the models it lists.
  ENTITY::copy_scan(list, reason, dpcpy_skip);
}

void QELCOLLECTION::fix_pointers(ENTITY* array[], SCAN_TYPE reason) {
  ENTITY::fix_pointers(array, reason);
  ENTITY_LIST resolved;
  for (int i = 0; i < members_.count(); ++i)
    if (ENTITY* e = read_array(array, members_[i])) resolved.add(e);
  members_ = resolved;
}

void QELCOLLECTION::debug_ent(FILE* fp) const {
  ENTITY::debug_ent(fp);
  if (fp) std::fprintf(fp, "\tmembers : %d\n", members_.iteration_count());
}

void QELCOLLECTION::save_common(ENTITY_LIST& list) const {
  ENTITY::save_common(list);
  write_int(save_behaviour_);
  write_int(empty_behaviour_);
  write_int(members_.iteration_count());
  members_.init();
  while (ENTITY* e = members_.next()) write_ptr(e, list);
}

void QELCOLLECTION::restore_common() {
  ENTITY::restore_common();
  save_behaviour_ = read_int();
  empty_behaviour_ = read_int();
  int n = read_int();
  if (n < 0) velm_save_damaged("a negative member count");
  members_.clear();
  // Encoded indices until fix_pointers; the same index twice is damage, not two members.
  for (int i = 0; i < n; ++i) members_.add(read_ptr(), false);
}

void QELCOLLECTION::copy_common(ENTITY_LIST& list, const QELCOLLECTION* from, pointer_map* pm,
                                int skip, SCAN_TYPE reason) {
  ENTITY::copy_common(list, from, pm, skip, reason);
  save_behaviour_ = from->save_behaviour_;
  empty_behaviour_ = from->empty_behaviour_;
}

// ---------------------------------------------------------------------------
namespace {
void require(const void* p) {
  if (!p) velm_api_error_throw(VELM_NULL_ENTITY);
}

void collections_of(const ENTITY* e, ENTITY_LIST& out, bool groups_only) {
  for (ATTRIB* a = find_attrib(e, ATTRIB_ST_TYPE, ATTRIB_QELCOLLECTION_TYPE); a;
       a = find_next_attrib(a, ATTRIB_ST_TYPE, ATTRIB_QELCOLLECTION_TYPE)) {
    QELCOLLECTION* c = static_cast<ATTRIB_QELCOLLECTION*>(a)->collection();
    if (c && (!groups_only || is_QELGROUP(c))) out.add(c);
  }
}
}  // namespace

outcome api_ct_add_to_group(ENTITY* member, QELGROUP* group) {
  return velm_api("api_ct_add_to_group", [&] {
    require(member);
    require(group);
    group->add_ent(member);
  });
}

outcome api_ct_remove_from_group(ENTITY* member, QELGROUP* group) {
  return velm_api("api_ct_remove_from_group", [&] {
    require(member);
    require(group);
    if (!group->is_member(member)) velm_api_error_throw(VELM_BAD_ARGUMENT);
    group->remove_ent(member);
  });
}

outcome api_ct_return_ents(QELGROUP* group, ENTITY_LIST& members) {
  return velm_api("api_ct_return_ents", [&] {
    require(group);
    members.add(group->members());
  });
}

outcome api_ct_return_groups(ENTITY* e, ENTITY_LIST& groups) {
  return velm_api("api_ct_return_groups", [&] {
    require(e);
    collections_of(e, groups, true);
  });
}

outcome api_ct_lose_group(QELGROUP* group) {
  return velm_api("api_ct_lose_group", [&] {
    require(group);
    group->lose();
  });
}

outcome api_ct_remove(ENTITY_LIST&) {
  return velm_api("api_ct_remove", [] {});
}

outcome api_add_to_collection(ENTITY_LIST& entities, QELCOLLECTION* collection) {
  return velm_api("api_add_to_collection", [&] {
    require(collection);
    for (int i = 0; i < entities.count(); ++i)
      if (ENTITY* e = entities[i]) collection->add_ent(e);
  });
}

outcome api_remove_from_collection(ENTITY* e, QELCOLLECTION* collection) {
  return velm_api("api_remove_from_collection", [&] {
    require(e);
    require(collection);
    collection->remove_ent(e);
  });
}

outcome api_return_collections(ENTITY* e, ENTITY_LIST& collections) {
  return velm_api("api_return_collections", [&] {
    require(e);
    collections_of(e, collections, false);
  });
}
