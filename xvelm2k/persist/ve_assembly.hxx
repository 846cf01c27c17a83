#pragma once
// A node of an imported assembly tree: the parts it places directly, the
// sub-assemblies it places, and its own transformation.
#include "persist/ve_formation.hxx"
#include "persist/ve_linked_entity.hxx"
#include "persist/ve_part.hxx"

class VE_ASSEMBLY;
using VE_ASSEMBLY_LINKS = VeLinkedEntity<VE_ASSEMBLY, 3>;

extern XVELM2KA_API int VE_ASSEMBLY_TYPE;
bool is_VE_ASSEMBLY(const ENTITY* e);

class XVELM2KA_API VE_ASSEMBLY : public VE_ASSEMBLY_LINKS {
    VELM_ENTITY_DECL(VE_ASSEMBLY, VE_ASSEMBLY_LINKS, 1)
    VE_ASSEMBLY() = default;
    VE_ASSEMBLY(EE_LIST* parts, EE_LIST* formations, const QELtransf& t);
    VE_ASSEMBLY(const VE_ASSEMBLY&) = default;
    VE_ASSEMBLY& operator=(const VE_ASSEMBLY&) = default;

    const EE_LIST* getPartList() const { return static_cast<const EE_LIST*>(link(0)); }
    const EE_LIST* getFormationList() const { return static_cast<const EE_LIST*>(link(1)); }
    // Creates the list on first use.
    void appendPart(VE_PART* part);
    void appendFormation(VE_FORMATION* formation);
    // Hands the lists over and forgets them here: the traversal of a deletion
    // loses them itself, once each, after the whole tree is walked.
    void detachLists(EE_LIST*& parts, EE_LIST*& formations);

    static const char* linkLabel(int i);
    static int linkType(int i) { return i == transform_link ? TRANSFORM_TYPE : EE_LIST_TYPE; }

private:
    void append(int which, ENTITY* entry);
};
