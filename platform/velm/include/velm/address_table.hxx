// Open-addressed tables keyed by object address: the live-entity registry, the
// copy maps and the bulletin board's records. One flat array per table, linear
// probing, deletion by backward shift (no tombstones), at most half full.
// Iteration order is slot order and carries no meaning; callers that promise
// an order keep it in a vector beside the table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace velm_detail {

// Heap addresses are aligned, so the low four bits say nothing. Entities made
// one after another lie close together and are mostly visited in that order
// again (a copy, a deletion, a registry check per entity), so the address keeps
// its place within each megabyte, and each megabyte goes to a spread-out offset:
// neighbours share cache lines of the table and distant blocks do not pile up.
// Keys that are not aligned (the small encoded indices a restore keeps in lists
// until it resolves them) spread by their low bits the same way.
inline std::size_t address_hash(const void* p, std::size_t mask) {
  const std::uint64_t x = reinterpret_cast<std::uintptr_t>(p);
  const std::uint64_t block = (x >> 20) ^ ((x & 15u) << 44);
  return static_cast<std::size_t>((x >> 4) ^ ((block * 0x9E3779B97F4A7C15ull) >> 32)) & mask;
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
    if (2 * (size_ + 1) > slots_.size()) grow();
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
