#pragma once
// Process-wide table from a word to the most recently entered live framework
// object with that word: how geometry identifiers find the surface, curve,
// pcurve or point they name. Word 0 is never entered.
#include "qelx/qelx_refcount.hxx"

#include <cstdint>

class QELXObjectTable {
public:
    static QELXReferenceCount* find(std::uint64_t word);
    // A later entry under the same word replaces the earlier one.
    static void enter(std::uint64_t word, QELXReferenceCount* object);
    // Removes the entry only while it still names the object.
    static void leave(std::uint64_t word, const QELXReferenceCount* object);
    static int size();
};
