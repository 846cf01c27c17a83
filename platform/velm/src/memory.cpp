// Kernel allocation: a count of live blocks always; where each block was
// made only while a test asks for it, in a table beside the blocks, so that a
// block costs the allocator nothing beyond its own size.
#include <cstdlib>
#include <new>

#include "velm/address_table.hxx"
#include "velm/errors.hxx"
#include "velm/memory.hxx"
#include "velm/testkit.hxx"

namespace {

struct site {
  const char* file;
  int line;
};

long live_count = 0;
bool record_sites = false;

// Leaked on purpose: blocks may be released by other statics' destructors.
velm_address_map<site>& sites() {
  static auto* table = new velm_address_map<site>;
  return *table;
}

int mmgr_users = 0;

// The kernel is a user of its own memory manager from load to unload.
struct kernel_mmgr_user {
  kernel_mmgr_user() { initialize_mmgr_system(); }
  ~kernel_mmgr_user() { terminate_mmgr_system(); }
} kernel_user;

void* allocate(std::size_t size, const char* file, int line) noexcept {
  if (velm_take_injected_alloc_failure(file)) return nullptr;
  void* raw = std::malloc(size ? size : 1);
  if (!raw) return nullptr;
  ++live_count;
  if (record_sites) sites().insert(raw, site{file, line});
  return raw;
}

void release(void* p) noexcept {
  if (!p) return;
  --live_count;
  if (sites().size() != 0) sites().erase(p);
  std::free(p);
}

}  // namespace

void velm_test_record_object_sites(bool on) { record_sites = on; }

void* VELM_OBJECT::operator new(std::size_t size) noexcept { return allocate(size, nullptr, 0); }
void* VELM_OBJECT::operator new(std::size_t size, int) noexcept { return allocate(size, nullptr, 0); }
void* VELM_OBJECT::operator new(std::size_t size, int, const char* file, int line, void*) noexcept {
  return allocate(size, file, line);
}
void* VELM_OBJECT::operator new[](std::size_t size) noexcept { return allocate(size, nullptr, 0); }
void* VELM_OBJECT::operator new[](std::size_t size, int) noexcept { return allocate(size, nullptr, 0); }
void* VELM_OBJECT::operator new[](std::size_t size, int, const char* file, int line, void*) noexcept {
  return allocate(size, file, line);
}
void VELM_OBJECT::operator delete(void* p, std::size_t) noexcept { release(p); }
void VELM_OBJECT::operator delete(void* p, int) noexcept { release(p); }
void VELM_OBJECT::operator delete(void* p, int, const char*, int, void*) noexcept { release(p); }
void VELM_OBJECT::operator delete[](void* p) noexcept { release(p); }
void VELM_OBJECT::operator delete[](void* p, int) noexcept { release(p); }
void VELM_OBJECT::operator delete[](void* p, int, const char*, int, void*) noexcept { release(p); }

void* velm_alloc(std::size_t size, const char* source_file, int line) noexcept {
  return allocate(size, source_file, line);
}
void velm_free(void* p) noexcept { release(p); }

void initialize_mmgr_system() { ++mmgr_users; }
void terminate_mmgr_system() {
  if (mmgr_users > 0) --mmgr_users;
}
int mmgr_system_users() { return mmgr_users; }

long velm_live_object_count() { return live_count; }

void velm_live_objects(std::vector<std::pair<const char*, int>>& where) {
  where.clear();
  sites().for_each([&](const void*, const site& s) { where.emplace_back(s.file, s.line); });
}

void velm_out_of_memory() { sys_error(qelbase_mmgr_errmod.message_code(8)); }
