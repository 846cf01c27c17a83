// Tracked memory of the kernel. Every kernel object (entities, lists, error
// records, equations) comes from here, so the kernel can count what is alive,
// say where it was made, and make an allocation fail on purpose in tests.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

class VELM_OBJECT {
 public:
  // Plain form (`new X` or `new (0) X`). Returns null when the allocation fails,
  // really or injected; the new-expression then yields null without constructing.
  static void* operator new(std::size_t size) noexcept;
  static void* operator new(std::size_t size, int memory_kind) noexcept;
  // Tracked form: records the caller's file and line with the object.
  static void* operator new(std::size_t size, int memory_kind, const char* source_file, int line,
                            void* pass_on) noexcept;
  static void* operator new[](std::size_t size) noexcept;
  static void* operator new[](std::size_t size, int memory_kind) noexcept;
  static void* operator new[](std::size_t size, int memory_kind, const char* source_file, int line,
                              void* pass_on) noexcept;
  // Placement: the object lives in storage someone else owns.
  static void* operator new(std::size_t, void* where) noexcept { return where; }

  static void operator delete(void* p, std::size_t size) noexcept;
  static void operator delete(void* p, int memory_kind) noexcept;
  static void operator delete(void* p, int memory_kind, const char* source_file, int line,
                              void* pass_on) noexcept;
  static void operator delete[](void* p) noexcept;
  static void operator delete[](void* p, int memory_kind) noexcept;
  static void operator delete[](void* p, int memory_kind, const char* source_file, int line,
                                void* pass_on) noexcept;
  static void operator delete(void*, void*) noexcept {}
};

// Tracked allocation with the caller's file and line.
#define VELM_NEW new (0, __FILE__, __LINE__, nullptr)

// Reference-counted start and stop of the memory manager. The kernel starts its
// own user at load, so the order of static initialisers never matters.
void initialize_mmgr_system();
void terminate_mmgr_system();
int mmgr_system_users();

// Leak checks: live kernel objects, and where the ones made while the test
// kit recorded sites were made (plain allocations report a null file and
// line 0); see velm_test_record_object_sites.
long velm_live_object_count();
void velm_live_objects(std::vector<std::pair<const char*, int>>& where);

// The slabs entities live in (none in sanitizer builds, where every entity is a
// block of its own): chunks, their bytes on the C heap, slots taken.
struct velm_slab_figures {
  bool on = false;
  std::size_t chunks = 0;
  std::size_t bytes = 0;
  std::size_t slots_in_use = 0;
  std::size_t largest_chunk = 0;  // bytes of the largest chunk
};
velm_slab_figures velm_entity_slab_figures();

// Raw kernel storage (counted like objects); used for kernel-owned buffers.
void* velm_alloc(std::size_t size, const char* source_file = nullptr, int line = 0) noexcept;
void velm_free(void* p) noexcept;

// Raises the kernel's out-of-memory error (qelbase_mmgr_errmod entry 8).
[[noreturn]] void velm_out_of_memory();

// Kernel routines turn a null from their own allocation into the out-of-memory error.
template <class T>
T* velm_require(T* p) {
  if (!p) velm_out_of_memory();
  return p;
}
