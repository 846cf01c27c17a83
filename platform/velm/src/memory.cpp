// Kernel allocation: a count of live blocks always; where each block was
// made only while a test asks for it, in a table beside the blocks, so that a
// block costs the allocator nothing beyond its own size.
//
// Entities live in slabs: one pool per size (8-byte steps up to 512 bytes,
// so in practice one per class), each a list of chunks of equal slots, and a
// new entity takes the lowest free slot of its pool. A body built in one go
// thus lies by kind in creation order, a body built after another was deleted
// takes the same slots again, and walks, copies, saves and deletes touch memory
// in order whatever the heap looked like before. A chunk goes back to the C
// heap as soon as it is empty, so the heap in use is the entities' own.
// Sanitizer builds keep plain malloc and free, so that a use after free is seen.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "entity_internal.hxx"
#include "velm/address_table.hxx"
#include "velm/entity.hxx"
#include "velm/errors.hxx"
#include "velm/memory.hxx"
#include "velm/testkit.hxx"

#if defined(XVELM_SANITIZE) || defined(__SANITIZE_ADDRESS__)
#define VELM_ENTITY_SLABS 0
#else
#define VELM_ENTITY_SLABS 1
#endif

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

// ---------------------------------------------------------------------------
// Slabs of entities.
constexpr std::size_t slab_step = 8;
constexpr std::size_t slab_largest = 512;
constexpr std::size_t chunk_smallest = std::size_t(4) << 10;
constexpr std::size_t chunk_largest = std::size_t(256) << 10;
// What the C heap adds to a block, at most: a size word before it and the rounding to 16 bytes.
constexpr std::size_t heap_block_header = 32;

// One block of the C heap: this header, the bitmap of taken slots, the slots.
struct slab_chunk {
  char* slots;
  char* end;
  std::uint64_t* taken;
  std::size_t bytes;
  std::uint32_t slot_size;
  std::uint32_t count;
  std::uint32_t used;
  std::uint32_t first_open_word;  // no free slot in the words before it
  std::uint32_t index;            // in its pool
  std::uint32_t pool;
};

struct slab_pool {
  // Chunks by index; an index freed by an empty chunk is taken by the next new one.
  std::vector<slab_chunk*> chunks;
  std::vector<std::uint32_t> holes;
  // Bit i set: chunk i has a free slot; no bit set in the words before `first_open_word`.
  std::vector<std::uint64_t> open;
  std::size_t first_open_word = 0;
  std::size_t capacity = 0;  // slots in all chunks
  slab_chunk* last = nullptr;
};

struct slab_state {
  slab_pool pools[slab_largest / slab_step + 1];
  // Every chunk, by address: finds a slot's chunk.
  std::vector<slab_chunk*> by_address;
  std::size_t bytes = 0;
  std::size_t in_use = 0;
};

// Leaked on purpose, like the sites: entities may be freed during exit.
slab_state& slabs() {
  static auto* state = new slab_state;
  return *state;
}

void set_bit(std::vector<std::uint64_t>& bits, std::size_t i, bool on) {
  if (i / 64 >= bits.size()) bits.resize(i / 64 + 1, 0);
  const std::uint64_t m = std::uint64_t(1) << (i % 64);
  bits[i / 64] = on ? bits[i / 64] | m : bits[i / 64] & ~m;
}

slab_chunk* new_chunk(slab_pool& pool, std::uint32_t pool_number, std::size_t slot_size) {
  // Each chunk a quarter of the pool so far: a pool of a few chunks leaves at
  // most a fifth of its bytes unused, and a big model still takes few chunks.
  const std::size_t want = std::clamp(pool.capacity * slot_size / 4, chunk_smallest, chunk_largest);
  // The chunk with its header, its bitmap and the C heap's own header of the
  // block (two words, rounded to 16 bytes) fits `want` exactly: a large block
  // is a page mapping of its own, where a few bytes past a page would take a
  // whole page more of every chunk.
  auto head_of = [](std::size_t count) { return (sizeof(slab_chunk) + (count + 63) / 64 * 8 + 15) & ~std::size_t(15); };
  const std::size_t room = want - heap_block_header;
  std::size_t count = std::max<std::size_t>(1, room / slot_size);
  while (count > 1 && head_of(count) + count * slot_size > room) --count;
  const std::size_t words = (count + 63) / 64;
  const std::size_t head = head_of(count);
  const std::size_t bytes = head + count * slot_size;
  char* block = static_cast<char*>(std::malloc(bytes));
  if (!block) return nullptr;
  // Index and address lists grow before the chunk counts, so a failure leaves no trace.
  slab_state& s = slabs();
  try {
    s.by_address.reserve(s.by_address.size() + 1);
    if (pool.holes.empty()) {
      pool.chunks.reserve(pool.chunks.size() + 1);
      pool.open.reserve(pool.chunks.size() / 64 + 1);
    }
  } catch (...) {
    std::free(block);
    return nullptr;
  }
  auto* c = reinterpret_cast<slab_chunk*>(block);
  c->taken = reinterpret_cast<std::uint64_t*>(block + sizeof(slab_chunk));
  std::fill(c->taken, c->taken + words, std::uint64_t(0));
  // Bits past the last slot read as taken.
  if (count % 64) c->taken[words - 1] = ~std::uint64_t(0) << (count % 64);
  c->slots = block + head;
  c->end = c->slots + count * slot_size;
  c->bytes = bytes;
  c->slot_size = static_cast<std::uint32_t>(slot_size);
  c->count = static_cast<std::uint32_t>(count);
  c->used = 0;
  c->first_open_word = 0;
  c->pool = pool_number;
  if (pool.holes.empty()) {
    c->index = static_cast<std::uint32_t>(pool.chunks.size());
    pool.chunks.push_back(c);
  } else {
    c->index = pool.holes.back();
    pool.holes.pop_back();
    pool.chunks[c->index] = c;
  }
  set_bit(pool.open, c->index, true);
  pool.first_open_word = std::min<std::size_t>(pool.first_open_word, c->index / 64);
  pool.capacity += count;
  s.by_address.insert(std::upper_bound(s.by_address.begin(), s.by_address.end(), c,
                                       [](const slab_chunk* a, const slab_chunk* b) { return a->slots < b->slots; }),
                      c);
  s.bytes += bytes;
  return c;
}

void drop_chunk(slab_pool& pool, slab_chunk* c) {
  slab_state& s = slabs();
  auto at = std::lower_bound(s.by_address.begin(), s.by_address.end(), c,
                             [](const slab_chunk* a, const slab_chunk* b) { return a->slots < b->slots; });
  if (at != s.by_address.end() && *at == c) s.by_address.erase(at);
  pool.chunks[c->index] = nullptr;
  set_bit(pool.open, c->index, false);
  if (c->index + 1 == pool.chunks.size()) {
    pool.chunks.pop_back();
  } else {
    pool.holes.push_back(c->index);
  }
  // Holes at the end of the list go with it.
  while (!pool.chunks.empty() && !pool.chunks.back()) {
    const std::uint32_t last = static_cast<std::uint32_t>(pool.chunks.size() - 1);
    pool.chunks.pop_back();
    pool.holes.erase(std::find(pool.holes.begin(), pool.holes.end(), last));
  }
  if (pool.last == c) pool.last = nullptr;
  pool.capacity -= c->count;
  s.bytes -= c->bytes;
  std::free(c);
}

// The lowest free slot of the pool, in a new chunk when all are taken.
void* slab_take(std::size_t size) {
  const std::size_t number = (size + slab_step - 1) / slab_step;
  slab_pool& pool = slabs().pools[number];
  slab_chunk* c = nullptr;
  for (std::size_t w = pool.first_open_word; w < pool.open.size(); ++w)
    if (pool.open[w]) {
      pool.first_open_word = w;
      c = pool.chunks[w * 64 + static_cast<std::size_t>(std::countr_zero(pool.open[w]))];
      break;
    }
  if (!c) {
    pool.first_open_word = pool.open.size();
    c = new_chunk(pool, static_cast<std::uint32_t>(number), number * slab_step);
    if (!c) return nullptr;
  }
  std::uint32_t w = c->first_open_word;
  while (c->taken[w] == ~std::uint64_t(0)) ++w;
  c->first_open_word = w;
  const std::uint32_t bit = static_cast<std::uint32_t>(std::countr_zero(~c->taken[w]));
  c->taken[w] |= std::uint64_t(1) << bit;
  if (++c->used == c->count) set_bit(pool.open, c->index, false);
  ++slabs().in_use;
  pool.last = c;
  return c->slots + static_cast<std::size_t>(w * 64 + bit) * c->slot_size;
}

slab_chunk* chunk_of(const void* p, std::size_t size) {
  const char* q = static_cast<const char*>(p);
  slab_state& s = slabs();
  if (size && size <= slab_largest) {
    slab_chunk* last = s.pools[(size + slab_step - 1) / slab_step].last;
    if (last && q >= last->slots && q < last->end) return last;
  }
  auto at = std::upper_bound(s.by_address.begin(), s.by_address.end(), q,
                             [](const char* x, const slab_chunk* c) { return x < c->slots; });
  if (at == s.by_address.begin()) return nullptr;
  slab_chunk* c = *(at - 1);
  return q < c->end ? c : nullptr;
}

// Gives the slot back; false when the block is not in a slab.
bool slab_give(void* p, std::size_t size) {
  slab_chunk* c = chunk_of(p, size);
  if (!c) return false;
  slab_pool& pool = slabs().pools[c->pool];
  const std::size_t slot = static_cast<std::size_t>(static_cast<char*>(p) - c->slots) / c->slot_size;
  std::uint64_t& word = c->taken[slot / 64];
  const std::uint64_t m = std::uint64_t(1) << (slot % 64);
  if (!(word & m)) std::abort();  // freed twice
  word &= ~m;
  c->first_open_word = std::min<std::uint32_t>(c->first_open_word, static_cast<std::uint32_t>(slot / 64));
  if (c->used-- == c->count) set_bit(pool.open, c->index, true);
  pool.first_open_word = std::min<std::size_t>(pool.first_open_word, c->index / 64);
  --slabs().in_use;
  pool.last = c;
  if (c->used == 0) drop_chunk(pool, c);
  return true;
}

void* allocate(std::size_t size, const char* file, int line, bool entity) noexcept {
  if (velm_take_injected_alloc_failure(file)) return nullptr;
  void* raw = nullptr;
  // A before-image lives only as long as its frame: it stays out of the slabs.
  if (VELM_ENTITY_SLABS && entity && size && size <= slab_largest && !velm_image_expected())
    raw = slab_take(size);
  else
    raw = std::malloc(size ? size : 1);
  if (!raw) return nullptr;
  ++live_count;
  if (record_sites) sites().insert(raw, site{file, line});
  return raw;
}

void release(void* p, std::size_t entity_size) noexcept {
  if (!p) return;
  --live_count;
  if (sites().size() != 0) sites().erase(p);
  if (VELM_ENTITY_SLABS && entity_size && slab_give(p, entity_size)) return;
  std::free(p);
}

}  // namespace

void velm_test_record_object_sites(bool on) { record_sites = on; }

void* VELM_OBJECT::operator new(std::size_t size) noexcept { return allocate(size, nullptr, 0, false); }
void* VELM_OBJECT::operator new(std::size_t size, int) noexcept { return allocate(size, nullptr, 0, false); }
void* VELM_OBJECT::operator new(std::size_t size, int, const char* file, int line, void*) noexcept {
  return allocate(size, file, line, false);
}
void* VELM_OBJECT::operator new[](std::size_t size) noexcept { return allocate(size, nullptr, 0, false); }
void* VELM_OBJECT::operator new[](std::size_t size, int) noexcept { return allocate(size, nullptr, 0, false); }
void* VELM_OBJECT::operator new[](std::size_t size, int, const char* file, int line, void*) noexcept {
  return allocate(size, file, line, false);
}
void VELM_OBJECT::operator delete(void* p, std::size_t) noexcept { release(p, 0); }
void VELM_OBJECT::operator delete(void* p, int) noexcept { release(p, 0); }
void VELM_OBJECT::operator delete(void* p, int, const char*, int, void*) noexcept { release(p, 0); }
void VELM_OBJECT::operator delete[](void* p) noexcept { release(p, 0); }
void VELM_OBJECT::operator delete[](void* p, int) noexcept { release(p, 0); }
void VELM_OBJECT::operator delete[](void* p, int, const char*, int, void*) noexcept { release(p, 0); }

void* ENTITY::operator new(std::size_t size) noexcept { return allocate(size, nullptr, 0, true); }
void* ENTITY::operator new(std::size_t size, int) noexcept { return allocate(size, nullptr, 0, true); }
void* ENTITY::operator new(std::size_t size, int, const char* file, int line, void*) noexcept {
  return allocate(size, file, line, true);
}
// The destructor is virtual: the size is the whole entity's, which names its pool.
void ENTITY::operator delete(void* p, std::size_t size) noexcept { release(p, size ? size : 1); }
void ENTITY::operator delete(void* p, int) noexcept { release(p, slab_largest + 1); }
void ENTITY::operator delete(void* p, int, const char*, int, void*) noexcept { release(p, slab_largest + 1); }

void* velm_alloc(std::size_t size, const char* source_file, int line) noexcept {
  return allocate(size, source_file, line, false);
}
void velm_free(void* p) noexcept { release(p, 0); }

velm_slab_figures velm_entity_slab_figures() {
  velm_slab_figures f;
  f.on = VELM_ENTITY_SLABS != 0;
  const slab_state& s = slabs();
  f.chunks = s.by_address.size();
  f.bytes = s.bytes;
  f.slots_in_use = s.in_use;
  for (const slab_chunk* c : s.by_address) f.largest_chunk = std::max(f.largest_chunk, c->bytes);
  return f;
}

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
