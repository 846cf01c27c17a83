// What a restore made, kept in order until the verb deletes it. A large model
// has millions of entities made one after another, so neighbours lie close:
// their addresses are kept as packed words (one to three bytes an entity
// where a pointer takes eight).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "qelx/packed_words.hxx"

class ENTITY;

namespace xvelm {

class packed_entities {
 public:
  // Replaces the contents with `list`, in its order; `list` is emptied and
  // its memory given back.
  void assign(std::vector<ENTITY*>&& list) {
    std::vector<ENTITY*> taken;
    taken.swap(list);
    words_.clear();
    std::size_t size = 0;
    std::uint64_t before = 0;
    for (ENTITY* e : taken) size += qelx_test::PackedWords::width(before, word(e)), before = word(e);
    words_.reserve(size);
    for (ENTITY* e : taken) words_.push_back(word(e));
  }

  std::size_t size() const { return words_.size(); }
  std::size_t bytes() const { return words_.bytes(); }

  // Calls `visit(ENTITY*)` for each entity, in the order given.
  template <class Visit>
  void for_each(Visit visit) const {
    for (qelx_test::PackedWords::Reader read(words_); !read.done();)
      visit(reinterpret_cast<ENTITY*>(static_cast<std::uintptr_t>(read.next())));
  }

 private:
  static std::uint64_t word(const ENTITY* e) { return reinterpret_cast<std::uintptr_t>(e); }

  qelx_test::PackedWords words_;
};

}  // namespace xvelm
