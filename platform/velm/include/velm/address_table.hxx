// Open-addressed tables keyed by object address: the live-entity registry, the
// copy maps and the bulletin board's records. One flat array per table, linear
// probing, deletion by backward shift (no tombstones), at most three quarters
// full (a hash that spreads every address keeps the runs short that far).
// Iteration order is slot order and carries no meaning; callers that promise
// an order keep it in a vector beside the table.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace velm_detail {

// Every bit of the address takes part, so where the allocator puts entities
// (one arena or many, neighbours or not, randomised or not) does not shape the
// probe runs: entities made one after another land on unrelated slots, and a
// table at most half full keeps its runs short whatever the heap looks like.
// Keys that are not addresses (the small encoded indices a restore keeps in
// lists until it resolves them) spread the same way.
inline std::size_t address_hash(const void* p, std::size_t mask) {
  std::uint64_t x = reinterpret_cast<std::uintptr_t>(p);
  x ^= x >> 33;
  x *= 0xFF51AFD7ED558CCDull;
  x ^= x >> 33;
  x *= 0xC4CEB9FE1A85EC53ull;
  x ^= x >> 33;
  return static_cast<std::size_t>(x) & mask;
}

// Slot layout: a key (null = empty) and, for maps, a value.
template <class V>
struct address_slot {
  const void* key;
  [[no_unique_address]] V value;  // a set's slot is its key alone
};
struct no_value {};

template <class V>
class address_table {
 public:
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  // The value of the key, or null.
  V* find(const void* key) {
    if (!key || size_ == 0) return nullptr;
    for (std::size_t i = home(key);; i = (i + 1) & mask()) {
      if (slots_[i].key == key) return &slots_[i].value;
      if (!slots_[i].key) return nullptr;
    }
  }
  const V* find(const void* key) const { return const_cast<address_table*>(this)->find(key); }
  bool contains(const void* key) const { return find(key) != nullptr; }

  // Inserts (key, value) unless the key is there; the slot's value and whether
  // it was inserted. A null key is never stored.
  std::pair<V*, bool> insert(const void* key, const V& value) {
    if (!key) return {nullptr, false};
    if (4 * (size_ + 1) > 3 * slots_.size()) grow();
    for (std::size_t i = home(key);; i = (i + 1) & mask()) {
      if (slots_[i].key == key) return {&slots_[i].value, false};
      if (!slots_[i].key) {
        slots_[i] = {key, value};
        ++size_;
        return {&slots_[i].value, true};
      }
    }
  }

  bool erase(const void* key) {
    if (!key || size_ == 0) return false;
    std::size_t i = home(key);
    while (slots_[i].key != key) {
      if (!slots_[i].key) return false;
      i = (i + 1) & mask();
    }
    // Backward shift: pull later entries of the probe run into the hole.
    for (std::size_t j = (i + 1) & mask(); slots_[j].key; j = (j + 1) & mask()) {
      std::size_t h = home(slots_[j].key);
      // j's entry may move to i when its home does not lie in (i, j].
      if (((j - h) & mask()) >= ((j - i) & mask())) {
        slots_[i] = slots_[j];
        i = j;
      }
    }
    slots_[i].key = nullptr;
    --size_;
    return true;
  }

  void clear() {
    slots_.clear();
    slots_.shrink_to_fit();
    size_ = 0;
  }

  // The slots a find of every key passes beyond the key's home, summed (how
  // long the probe runs are).
  std::size_t displacement() const {
    std::size_t total = 0;
    for (std::size_t i = 0; i < slots_.size(); ++i)
      if (slots_[i].key) total += (i - home(slots_[i].key)) & mask();
    return total;
  }

  // Every (key, value) in slot order.
  template <class F>
  void for_each(F&& f) {
    for (auto& s : slots_)
      if (s.key) f(s.key, s.value);
  }

 private:
  std::size_t mask() const { return slots_.size() - 1; }
  std::size_t home(const void* key) const { return address_hash(key, mask()); }

  void grow() {
    std::vector<address_slot<V>> old;
    old.swap(slots_);
    std::size_t n = old.empty() ? 16 : 2 * old.size();
    slots_.assign(n, address_slot<V>{nullptr, V{}});
    for (auto& s : old)
      if (s.key)
        for (std::size_t i = home(s.key);; i = (i + 1) & mask())
          if (!slots_[i].key) {
            slots_[i] = s;
            break;
          }
  }

  std::vector<address_slot<V>> slots_;
  std::size_t size_ = 0;
};

}  // namespace velm_detail

// A set of addresses.
class velm_address_set {
 public:
  bool insert(const void* p) { return table_.insert(p, {}).second; }
  bool erase(const void* p) { return table_.erase(p); }
  bool contains(const void* p) const { return table_.contains(p); }
  std::size_t size() const { return table_.size(); }
  std::size_t displacement() const { return table_.displacement(); }
  void clear() { table_.clear(); }

 private:
  velm_detail::address_table<velm_detail::no_value> table_;
};

// A map from addresses to values.
template <class V>
class velm_address_map {
 public:
  V* find(const void* key) { return table_.find(key); }
  const V* find(const void* key) const { return table_.find(key); }
  bool contains(const void* key) const { return table_.contains(key); }
  std::pair<V*, bool> insert(const void* key, const V& value) { return table_.insert(key, value); }
  bool erase(const void* key) { return table_.erase(key); }
  std::size_t size() const { return table_.size(); }
  void clear() { table_.clear(); }
  template <class F>
  void for_each(F&& f) {
    table_.for_each(f);
  }

 private:
  velm_detail::address_table<V> table_;
};

// A set of object addresses as one bit per 8 bytes of address space, in
// bitmaps of 64 KiB pages found through a small table of pages. Objects made
// together lie in one page, so adding, finding and removing them touch the
// same few cache lines whatever the heap looks like, and there are no probe
// runs at all. Addresses that are not 8-byte aligned, or lie in the first
// page, are never members (no C++ object with a virtual table lives there).
class velm_address_bits {
 public:
  velm_address_bits() = default;
  velm_address_bits(const velm_address_bits&) = delete;
  velm_address_bits& operator=(const velm_address_bits&) = delete;
  ~velm_address_bits() { clear(); }

  bool insert(const void* p) {
    std::uint64_t bit;
    const void* key;
    if (!split(p, key, bit)) return false;
    page* pg = find_page(key);
    if (!pg) {
      pg = new page();
      pages_.insert(key, pg);
      last_key_ = key;
      last_page_ = pg;
    }
    std::uint64_t& w = pg->words[bit >> 6];
    const std::uint64_t m = std::uint64_t(1) << (bit & 63);
    if (w & m) return false;
    w |= m;
    ++pg->count;
    ++size_;
    return true;
  }

  bool erase(const void* p) {
    std::uint64_t bit;
    const void* key;
    if (!split(p, key, bit)) return false;
    page* pg = find_page(key);
    if (!pg) return false;
    std::uint64_t& w = pg->words[bit >> 6];
    const std::uint64_t m = std::uint64_t(1) << (bit & 63);
    if (!(w & m)) return false;
    w &= ~m;
    --size_;
    if (--pg->count == 0) {
      pages_.erase(key);
      delete pg;
      last_key_ = nullptr;
      last_page_ = nullptr;
    }
    return true;
  }

  bool contains(const void* p) const {
    std::uint64_t bit;
    const void* key;
    if (!split(p, key, bit)) return false;
    const page* pg = find_page(key);
    return pg && (pg->words[bit >> 6] >> (bit & 63) & 1u);
  }

  std::size_t size() const { return size_; }

  // Every member, page by page (in no particular order).
  template <class F>
  void for_each(F&& f) {
    pages_.for_each([&](const void* key, page*& pg) {
      const std::uintptr_t base = reinterpret_cast<std::uintptr_t>(key);
      for (std::size_t w = 0; w < sizeof(pg->words) / sizeof(pg->words[0]); ++w)
        for (std::uint64_t bits = pg->words[w]; bits; bits &= bits - 1) {
          const std::uintptr_t bit = w * 64 + static_cast<std::uintptr_t>(std::countr_zero(bits));
          f(reinterpret_cast<const void*>(base + (bit << 3)));
        }
    });
  }

  void clear() {
    pages_.for_each([](const void*, page*& pg) { delete pg; });
    pages_.clear();
    last_key_ = nullptr;
    last_page_ = nullptr;
    size_ = 0;
  }

 private:
  static constexpr unsigned page_shift = 16;
  struct page {
    std::uint64_t words[(std::size_t(1) << page_shift) / 8 / 64] = {};
    std::size_t count = 0;
  };

  static bool split(const void* p, const void*& key, std::uint64_t& bit) {
    const std::uintptr_t x = reinterpret_cast<std::uintptr_t>(p);
    if ((x & 7u) != 0 || (x >> page_shift) == 0) return false;
    key = reinterpret_cast<const void*>(x & ~((std::uintptr_t(1) << page_shift) - 1));
    bit = (x & ((std::uintptr_t(1) << page_shift) - 1)) >> 3;
    return true;
  }

  page* find_page(const void* key) const {
    if (key == last_key_) return last_page_;
    page* const* found = pages_.find(key);
    if (!found) return nullptr;
    last_key_ = key;
    last_page_ = *found;
    return *found;
  }

  velm_address_map<page*> pages_;
  mutable const void* last_key_ = nullptr;
  mutable page* last_page_ = nullptr;
  std::size_t size_ = 0;
};
