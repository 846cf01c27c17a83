#pragma once
// One body placed with a transformation.
#include "persist/ve_linked_entity.hxx"

class BODY;
class VE_PART;
using VE_PART_LINKS = VeLinkedEntity<VE_PART, 2>;

extern int VE_PART_TYPE;
bool is_VE_PART(const ENTITY* e);

class XVELM2KA_API VE_PART : public VE_PART_LINKS {
    VELM_ENTITY_DECL(VE_PART, VE_PART_LINKS, 1)
    VE_PART() = default;
    VE_PART(BODY* body, const QELtransf& t);
    VE_PART(const VE_PART&) = default;
    VE_PART& operator=(const VE_PART&) = default;

    BODY* getSolid() const;
    // The placed body changes (backed up first); healing writes its results back.
    void setSolid(BODY* body);
    static const char* linkLabel(int i) { return i == 0 ? "body" : "transform"; }
    static int linkType(int i);
};
