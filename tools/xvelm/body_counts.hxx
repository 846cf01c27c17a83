// What a body holds, counted: the round trip compares these per body, and the
// import tests read them.
#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "velm/errors.hxx"
#include "velm/query.hxx"
#include "velm/topology_api.hxx"

namespace xvelm {
namespace roundtrip_detail {

// A list query the kernel refused: a comparison made over a short list
// would report differences that are not there, so it stops with this.
struct query_refused : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Throws query_refused, saying `what` failed and why, when the kernel
// refused a query.
inline void throw_if_refused(const outcome& got, const char* what) {
  if (got.ok()) return;
  const char* why = message_module::find_message(got.error_number());
  throw query_refused(std::string(what) + " failed (" + (why ? why : "unknown error") + ")");
}

// The query's list; throws query_refused when the kernel refuses it.
inline void list_or_throw(outcome (*get)(const ENTITY*, ENTITY_LIST&), const ENTITY* owner, ENTITY_LIST& list) {
  throw_if_refused(get(owner, list), "a topology query");
}

inline std::vector<ENTITY*> listed(outcome (*get)(const ENTITY*, ENTITY_LIST&), const ENTITY* owner) {
  ENTITY_LIST list;
  list_or_throw(get, owner, list);
  std::vector<ENTITY*> out;
  for (int i = 0; i < list.count(); ++i) out.push_back(list[i]);
  return out;
}

struct Counts {
  int faces = 0, loops = 0, coedges = 0, edges = 0, vertices = 0, wires = 0;
  bool operator==(const Counts&) const = default;
  std::string text() const {
    char t[160];
    std::snprintf(t, sizeof t, "faces %d, loops %d, coedges %d, edges %d, vertices %d, wires %d", faces, loops,
                  coedges, edges, vertices, wires);
    return t;
  }
};

// What a body holds (query_refused when the kernel refuses a count); lumps and shells are left out, since a wire held by its
// body comes back held by a shell of a lump.
inline Counts counts_of(const BODY* body) {
  const auto count = [body](outcome (*get)(const ENTITY*, ENTITY_LIST&)) {
    ENTITY_LIST list;
    list_or_throw(get, body, list);
    return list.count();
  };
  Counts c;
  c.faces = count(api_get_faces);
  c.loops = count(api_get_loops);
  c.coedges = count(api_get_coedges);
  c.edges = count(api_get_edges);
  c.vertices = count(api_get_vertices);
  c.wires = count(api_get_wires);
  return c;
}

}  // namespace roundtrip_detail
}  // namespace xvelm
