// Tracked kernel allocation: every block carries a small header that links it
// into the list of live blocks and remembers where it was made.
#include <cstdlib>
#include <new>

#include "velm/errors.hxx"
#include "velm/memory.hxx"
#include "velm/testkit.hxx"

namespace {

struct alignas(std::max_align_t) block_header {
  block_header* prev;
  block_header* next;
  const char* file;
  int line;
};

struct live_blocks {
  block_header head{&head, &head, nullptr, 0};
  long count = 0;
};

live_blocks& blocks() {
  static live_blocks b;
  return b;
}

int mmgr_users = 0;

// The kernel is a user of its own memory manager from load to unload.
struct kernel_mmgr_user {
  kernel_mmgr_user() { initialize_mmgr_system(); }
  ~kernel_mmgr_user() { terminate_mmgr_system(); }
} kernel_user;

void* allocate(std::size_t size, const char* file, int line) noexcept {
  if (velm_take_injected_alloc_failure(file)) return nullptr;
  void* raw = std::malloc(sizeof(block_header) + (size ? size : 1));
  if (!raw) return nullptr;
  auto* h = static_cast<block_header*>(raw);
  live_blocks& b = blocks();
  h->file = file;
  h->line = line;
  h->prev = &b.head;
  h->next = b.head.next;
  b.head.next->prev = h;
  b.head.next = h;
  ++b.count;
  return h + 1;
}

void release(void* p) noexcept {
  if (!p) return;
  auto* h = static_cast<block_header*>(p) - 1;
  h->prev->next = h->next;
  h->next->prev = h->prev;
  --blocks().count;
  std::free(h);
}

}  // namespace

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

long velm_live_object_count() { return blocks().count; }

void velm_live_objects(std::vector<std::pair<const char*, int>>& where) {
  where.clear();
  live_blocks& b = blocks();
  for (block_header* h = b.head.next; h != &b.head; h = h->next) where.emplace_back(h->file, h->line);
}

void velm_out_of_memory() { sys_error(qelbase_mmgr_errmod.message_code(8)); }
