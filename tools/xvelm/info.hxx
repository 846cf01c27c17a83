// `xvelm info`: what a kernel save file holds, body by body. Header-only so
// that the driver and its tests share one implementation.
#pragma once

#include <cstdio>
#include <string>

#include "run_warnings.hxx"
#include "save_file.hxx"
#include "streams.hxx"
#include "text.hxx"
#include "velm/attrib.hxx"
#include "velm/groups.hxx"
#include "velm/save.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

namespace xvelm {

// One line per attribute: its class, and for a generic named one its name and value.
inline std::string attribute_line(const ENTITY* owner, int owner_index, const ATTRIB* a) {
  std::string line = std::string("    ") + owner->type_name() + " " + std::to_string(owner_index) +
                     ": " + a->type_name();
  if (is_ATTRIB_GEN_NAME(a)) {
    auto* named = static_cast<const ATTRIB_GEN_NAME*>(a);
    line += " \"" + printable(named->name()) + "\" = " + printable(named->value_text());
  } else if (is_ATTRIB_RGB(a)) {
    auto* colour = static_cast<const ATTRIB_RGB*>(a);
    char rgb[96];
    std::snprintf(rgb, sizeof rgb, " %g %g %g", colour->red(), colour->green(), colour->blue());
    line += rgb;
  }
  return line + "\n";
}

// Counts and attributes of one body.
inline std::string body_summary(const BODY* body) {
  ENTITY_LIST all;
  velm_topology_walk(body, all);
  int counts[8] = {};
  const int types[8] = {LUMP_TYPE, SHELL_TYPE, FACE_TYPE, LOOP_TYPE,
                        COEDGE_TYPE, EDGE_TYPE, VERTEX_TYPE, WIRE_TYPE};
  std::string attributes;
  for (int i = 0; i < all.count(); ++i) {
    const ENTITY* e = all[i];
    int index = 0;
    for (int k = 0; k < 8; ++k)
      if (e->identity(1) == types[k]) index = counts[k]++;
    for (const ATTRIB* a = e->attrib(); a; a = a->next()) attributes += attribute_line(e, index, a);
  }
  char line[256];
  std::snprintf(line, sizeof line,
                "  lumps %d, shells %d, faces %d, loops %d, coedges %d, edges %d, vertices %d, "
                "wires %d\n",
                counts[0], counts[1], counts[2], counts[3], counts[4], counts[5], counts[6], counts[7]);
  return line + (attributes.empty() ? std::string("    no attributes\n") : attributes);
}

// Restores the file, writes the summary to `out`, deletes what it restored.
// Returns 0; 1 with one line on `err` when the file cannot be read or the
// summary cannot be written.
inline int info(const char* path, FILE* out, FILE* err) {
  const RunWarnings warnings;
  restored_model model;
  if (!restore_file(path, model.top, model.every, err)) return 1;
  const ENTITY_LIST& restored = model.top;
  std::fprintf(out, "%s: %d top-level entities\n", printable(path).c_str(), restored.iteration_count());
  int bodies = 0;
  for (int i = 0; i < restored.count(); ++i) {
    const ENTITY* e = restored[i];
    if (is_BODY(e)) {
      std::fprintf(out, "body %d\n%s", bodies++, body_summary(static_cast<const BODY*>(e)).c_str());
    } else if (is_QELCOLLECTION(e)) {
      std::fprintf(out, "%s with %d members\n", e->type_name(),
                   static_cast<const QELCOLLECTION*>(e)->members().iteration_count());
      for (const ATTRIB* a = e->attrib(); a; a = a->next())
        std::fputs(attribute_line(e, 0, a).c_str(), out);
    } else {
      std::fprintf(out, "%s\n", e->type_name());
    }
  }
  warnings.print(err, printable(path));
  return output_written(out, err) ? 0 : 1;
}

}  // namespace xvelm
