#pragma once
// What the document-feature exporter and importer share: kernel entities as
// the framework's raw handles, and the live members of a collection.
#include <cstdint>
#include <new>
#include <vector>

#include "qelx_velm/velm_entity_utils.hxx"

class ENTITY;
class QELCOLLECTION;

namespace ve_docfeatures {

// A kernel entity's handle is its identifier word as a pointer value.
inline void* handleOf(const ENTITY* entity)
{
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(QELXVelmEntityUtils::GetIdentifier(entity)));
}
// The live entity a handle names, or null.
inline ENTITY* entityOf(const void* handle)
{
    return QELXVelmEntityUtils::GetEntity(static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(handle)));
}

// What the two factories do: the representation over the document, or
// null and 0x1000001 when it cannot be made.
template <class Representation, class Document, class Result>
Result makeRepresentation(Document* document, Representation** out)
{
    Representation* made = nullptr;
    try {
        made = new Representation(document);
    } catch (const std::bad_alloc&) {
        made = nullptr;
    }
    if (out)
        *out = made;
    return made ? Result(0) : Result(0x1000001);
}

// The collection's members in insertion order, without the places removed
// members left.
std::vector<ENTITY*> liveMembers(const QELCOLLECTION* collection);

} // namespace ve_docfeatures
