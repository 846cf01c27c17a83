#include "persist/ve_formation.hxx"

#include "persist/ve_assembly.hxx"
#include "model/memory_init.hxx"

int VE_FORMATION_TYPE = 0;
restore_def* VE_FORMATION_subclasses = nullptr;

XVELM_PERSISTENT_DEF(VE_FORMATION, VE_FORMATION_LINKS, 1, "ve_formation")

VE_FORMATION::VE_FORMATION(VE_ASSEMBLY* assembly, const QELtransf& t)
{
    initLinks(assembly, t);
}

VE_ASSEMBLY* VE_FORMATION::getAssembly() const { return static_cast<VE_ASSEMBLY*>(link(0)); }

int VE_FORMATION::linkType(int i) { return i == 0 ? VE_ASSEMBLY_TYPE : TRANSFORM_TYPE; }
