#pragma once
// Kernel entities as framework identifier words and back. A word is the
// entity's full 64-bit address, never narrowed.
#include <cstdint>

class ENTITY;
class QELXIdentifier;

class QELXVelmEntityUtils {
public:
    // The entity's address; 0 for null.
    static std::uint64_t GetIdentifier(const ENTITY* entity);
    // The entity the word names when the kernel reports it live; null otherwise
    // (a stale or foreign word is never dereferenced).
    static ENTITY* GetEntity(std::uint64_t word);
    static ENTITY* GetEntity(const QELXIdentifier& id);
};
