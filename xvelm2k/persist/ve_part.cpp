#include "persist/ve_part.hxx"

#include "velm/topology.hxx"
#include "model/memory_init.hxx"

int VE_PART_TYPE = 0;
restore_def* VE_PART_subclasses = nullptr;

XVELM_PERSISTENT_DEF(VE_PART, VE_PART_LINKS, 1, "ve_part")

VE_PART::VE_PART(BODY* body, const QELtransf& t)
{
    initLinks(body, t);
}

BODY* VE_PART::getSolid() const { return static_cast<BODY*>(link(0)); }

void VE_PART::setSolid(BODY* body) { setLink(0, body); }

int VE_PART::linkType(int i) { return i == 0 ? BODY_TYPE : TRANSFORM_TYPE; }
