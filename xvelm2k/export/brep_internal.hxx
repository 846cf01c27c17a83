#pragma once
// Shared by the exporter's sources: an identifier's or pointer's kernel
// entity, taken only when it is live and of the expected kind.
#include "qelx/qelx_identifier.hxx"
#include "qelx_velm/velm_entity_utils.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/topology.hxx"

namespace ve_export {

// What the exporter's queries answer for an entity of the wrong kind, resp. for
// nothing found.
constexpr QELIResult kInvalid = 0x100000b;
constexpr QELIResult kNotFound = 0x1000001;

template <class Kernel>
bool isKind(const ENTITY* e);
#define VE_KIND(K)                                                                                                     \
    template <>                                                                                                        \
    inline bool isKind<K>(const ENTITY* e)                                                                             \
    {                                                                                                                  \
        return is_##K(e);                                                                                              \
    }
VE_KIND(BODY)
VE_KIND(LUMP)
VE_KIND(SHELL)
VE_KIND(FACE)
VE_KIND(LOOP)
VE_KIND(COEDGE)
VE_KIND(EDGE)
VE_KIND(VERTEX)
VE_KIND(WIRE)
#undef VE_KIND

// The identifier's live entity when it is of that kind; null otherwise.
template <class Kernel>
Kernel* as(const QELXIdentifier& id)
{
    ENTITY* e = QELXVelmEntityUtils::GetEntity(id);
    return isKind<Kernel>(e) ? static_cast<Kernel*>(e) : nullptr;
}

// The same for an entity pointer of the pointer road.
template <class Kernel>
Kernel* asPtr(void* pointer)
{
    auto* e = static_cast<ENTITY*>(pointer);
    return isKind<Kernel>(e) ? static_cast<Kernel*>(e) : nullptr;
}

// Geometry entities that carry no equation have nothing to hand out: the
// framework reads geometry by evaluating it.
inline bool hasSurface(const FACE* f) { return f->geometry() && f->geometry()->has_equation(); }
inline bool hasCurve(const EDGE* e) { return e->geometry() && e->geometry()->has_equation(); }

} // namespace ve_export
