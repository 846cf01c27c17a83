// Opening a kernel save file for a verb: the system's reason when it cannot be
// opened, a plain word for a directory or an empty file, and the record and
// field of any damage the restore found.
#pragma once

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "entity_pack.hxx"
#include "persist/ve_assem_delete_mgr.hxx"
#include "text.hxx"
#include "velm/groups.hxx"
#include "velm/topology.hxx"
#include "velm/errors.hxx"
#include "velm/save.hxx"

namespace xvelm {

// Restores `path` into `restored` (the top-level entities) and `every` (all
// it made); on failure writes one line to `err` and returns false.
inline bool restore_file(const char* path, ENTITY_LIST& restored, packed_entities& every, FILE* err) {
  const std::string name = printable(path);
  struct stat about {};
  if (stat(path, &about) != 0) {
    std::fprintf(err, "xvelm: cannot open %s: %s\n", name.c_str(), std::strerror(errno));
    return false;
  }
  if (S_ISDIR(about.st_mode)) {
    std::fprintf(err, "xvelm: %s is a directory, not a save file\n", name.c_str());
    return false;
  }
  FILE* fp = std::fopen(path, "rb");
  if (!fp) {
    std::fprintf(err, "xvelm: cannot open %s: %s\n", name.c_str(), std::strerror(errno));
    return false;
  }
  if (S_ISREG(about.st_mode) && about.st_size == 0) {
    std::fclose(fp);
    std::fprintf(err, "xvelm: %s is empty\n", name.c_str());
    return false;
  }
  std::vector<ENTITY*> made;
  outcome result = api_restore_entity_list(fp, 1, restored, &made);
  const bool read_error = std::ferror(fp) != 0;
  std::fclose(fp);
  if (result.ok()) {
    every.assign(std::move(made));
    return true;
  }
  if (read_error) {
    std::fprintf(err, "xvelm: cannot read %s\n", name.c_str());
    return false;
  }
  const char* why = message_module::find_message(result.error_number());
  std::string line = "xvelm: " + name + ": " + (why ? why : "unknown error");
  if (const char* where = velm_last_restore_damage(); where && *where) line += ": " + printable(where);
  std::fprintf(err, "%s\n", line.c_str());
  return false;
}

// Deletes everything a restore made: assembly trees through the connector's
// own deletion (their entities do nothing when lost on their own), then the
// rest, all freed together once the last is lost, so that links between them
// never meet a freed entity: a damaged file may leave an entity outside the
// body whose deletion frees what it links to (a coedge of a deleted loop, on
// an edge of a body an assembly holds). Deleting this way cannot fail half
// done: what an assembly's deletion could not take goes with the rest.
// `made` are bodies the run made around restored entities (an export makes
// a body of each loose face, edge or point it hands on): they go too, with
// all they reach, found before anything is lost.
inline void delete_restored(const ENTITY_LIST& restored, const packed_entities& every,
                            const ENTITY_LIST& made = ENTITY_LIST()) {
  velm_lose_scope once;
  ENTITY_LIST around;
  for (int i = 0; i < made.count(); ++i)
    if (ENTITY* e = made[i]; velm_is_live_entity(e)) velm_save_reach(e, around);
  for (int i = 0; i < restored.count(); ++i)
    if (ENTITY* e = restored[i]; velm_is_live_entity(e) && e->identity(1) == VE_ASSEMBLY_TYPE) {
      Ve_AssemDeleteMgr tree(static_cast<VE_ASSEMBLY*>(e));
      tree.loseAssem();
    }
  every.for_each([](ENTITY* e) {
    if (velm_is_live_entity(e)) e->lose();
  });
  for (int i = 0; i < around.count(); ++i)
    if (ENTITY* e = around[i]; velm_is_live_entity(e)) e->lose();
}

// What one restore made, deleted when it goes, on every way out of a verb.
class restored_model {
 public:
  restored_model() = default;
  restored_model(const restored_model&) = delete;
  restored_model& operator=(const restored_model&) = delete;
  // The model goes, and with it the error record the kernel keeps of the
  // last call that failed (a refused restore's, say) until a later call
  // replaces it: a run leaves no kernel object of its own behind, for a later
  // run in the same process to see freed.
  ~restored_model() {
    delete_restored(top, every, made);
    set_global_error_info(nullptr);
  }

  ENTITY_LIST top;
  packed_entities every;
  // Bodies a verb made of restored entities (walk_document's).
  ENTITY_LIST made;
};

}  // namespace xvelm
