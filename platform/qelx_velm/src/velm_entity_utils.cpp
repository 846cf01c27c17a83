#include "qelx_velm/velm_entity_utils.hxx"

#include "qelx/qelx_identifier.hxx"
#include "velm/entity.hxx"

std::uint64_t QELXVelmEntityUtils::GetIdentifier(const ENTITY* entity)
{
    static_assert(sizeof(std::uintptr_t) <= sizeof(std::uint64_t), "addresses fit an identifier word");
    return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(entity));
}

ENTITY* QELXVelmEntityUtils::GetEntity(std::uint64_t word)
{
    const void* address = reinterpret_cast<const void*>(static_cast<std::uintptr_t>(word));
    if (!word || !velm_is_live_entity(address)) return nullptr;
    return static_cast<ENTITY*>(const_cast<void*>(address));
}

ENTITY* QELXVelmEntityUtils::GetEntity(const QELXIdentifier& id) { return GetEntity(id.GetValue()); }
