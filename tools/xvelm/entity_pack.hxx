// What a restore made, kept in order until the verb deletes it. A large model
// has millions of entities made one after another, so neighbours lie close:
// each address is kept as its difference from the one before, zigzag-coded
// in bytes of seven bits (one to three bytes an entity where eight would be
// a pointer; never more than eight, since addresses have 48 bits).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class ENTITY;

namespace xvelm {

class packed_entities {
 public:
  // Replaces the contents with `list`, in its order; `list` is emptied and
  // its memory given back.
  void assign(std::vector<ENTITY*>&& list) {
    std::vector<ENTITY*> taken;
    taken.swap(list);
    std::size_t size = 0;
    std::uintptr_t before = 0;
    for (ENTITY* e : taken) size += width(code(before, e)), before = address(e);
    bytes_.clear();
    bytes_.shrink_to_fit();
    bytes_.reserve(size);
    before = 0;
    for (ENTITY* e : taken) {
      for (std::uint64_t c = code(before, e);; c >>= 7) {
        if (c < 0x80) {
          bytes_.push_back(static_cast<std::uint8_t>(c));
          break;
        }
        bytes_.push_back(static_cast<std::uint8_t>(c | 0x80));
      }
      before = address(e);
    }
    count_ = taken.size();
  }

  std::size_t size() const { return count_; }
  std::size_t bytes() const { return bytes_.size(); }

  // Calls `visit(ENTITY*)` for each entity, in the order given.
  template <class Visit>
  void for_each(Visit visit) const {
    std::uintptr_t at = 0;
    for (std::size_t i = 0; i < bytes_.size();) {
      std::uint64_t c = 0;
      for (int shift = 0;; shift += 7) {
        const std::uint8_t b = bytes_[i++];
        c |= static_cast<std::uint64_t>(b & 0x7f) << shift;
        if (!(b & 0x80)) break;
      }
      const auto delta = static_cast<std::int64_t>((c >> 1) ^ (~(c & 1) + 1));
      at += static_cast<std::uintptr_t>(delta);
      visit(reinterpret_cast<ENTITY*>(at));
    }
  }

 private:
  static std::uintptr_t address(const ENTITY* e) { return reinterpret_cast<std::uintptr_t>(e); }
  // The difference from the address before, zigzag-coded: small either way.
  static std::uint64_t code(std::uintptr_t before, const ENTITY* e) {
    const auto delta = static_cast<std::int64_t>(address(e) - before);
    return (static_cast<std::uint64_t>(delta) << 1) ^ static_cast<std::uint64_t>(delta >> 63);
  }
  static std::size_t width(std::uint64_t c) {
    std::size_t n = 1;
    while (c >= 0x80) c >>= 7, ++n;
    return n;
  }

  std::vector<std::uint8_t> bytes_;
  std::size_t count_ = 0;
};

}  // namespace xvelm
