#pragma once
// One sub-assembly placed with a transformation.
#include "persist/ve_linked_entity.hxx"

class VE_ASSEMBLY;
class VE_FORMATION;
using VE_FORMATION_LINKS = VeLinkedEntity<VE_FORMATION, 2>;

extern int VE_FORMATION_TYPE;
bool is_VE_FORMATION(const ENTITY* e);

class XVELM2KA_API VE_FORMATION : public VE_FORMATION_LINKS {
    VELM_ENTITY_DECL(VE_FORMATION, VE_FORMATION_LINKS, 1)
    VE_FORMATION() = default;
    VE_FORMATION(VE_ASSEMBLY* assembly, const QELtransf& t);
    VE_FORMATION(const VE_FORMATION&) = default;
    VE_FORMATION& operator=(const VE_FORMATION&) = default;

    VE_ASSEMBLY* getAssembly() const;
    static const char* linkLabel(int i) { return i == 0 ? "assembly" : "transformation"; }
    static int linkType(int i);
};
