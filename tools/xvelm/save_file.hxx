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

#include "text.hxx"
#include "velm/errors.hxx"
#include "velm/save.hxx"

namespace xvelm {

// Restores `path` into `restored` (the top-level entities) and `every` (all
// it made); on failure writes one line to `err` and returns false.
inline bool restore_file(const char* path, ENTITY_LIST& restored, std::vector<ENTITY*>& every, FILE* err) {
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
  outcome result = api_restore_entity_list(fp, 1, restored, &every);
  const bool read_error = std::ferror(fp) != 0;
  std::fclose(fp);
  if (result.ok()) return true;
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

}  // namespace xvelm
