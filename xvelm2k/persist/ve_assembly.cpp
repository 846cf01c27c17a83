#include "persist/ve_assembly.hxx"
#include "model/memory_init.hxx"

XVELM2KA_API int VE_ASSEMBLY_TYPE = 0;
restore_def* VE_ASSEMBLY_subclasses = nullptr;

XVELM_PERSISTENT_DEF(VE_ASSEMBLY, VE_ASSEMBLY_LINKS, 1, "ve_assembly")

VE_ASSEMBLY::VE_ASSEMBLY(EE_LIST* parts, EE_LIST* formations, const QELtransf& t)
{
    initLinks(parts, t);
    initLink(1, formations);
}

const char* VE_ASSEMBLY::linkLabel(int i)
{
    static const char* const labels[] = {"part-list", "formation-list", "transformation"};
    return labels[i];
}

void VE_ASSEMBLY::append(int which, ENTITY* entry)
{
    auto* list = static_cast<EE_LIST*>(link(which));
    if (!list) {
        list = velm_require(VELM_NEW EE_LIST(1));
        setLink(which, list);
    }
    list->add(entry);
}

void VE_ASSEMBLY::appendPart(VE_PART* part) { append(0, part); }

void VE_ASSEMBLY::appendFormation(VE_FORMATION* formation) { append(1, formation); }

void VE_ASSEMBLY::detachLists(EE_LIST*& parts, EE_LIST*& formations)
{
    parts = static_cast<EE_LIST*>(link(0));
    formations = static_cast<EE_LIST*>(link(1));
    if (parts)
        setLink(0, nullptr);
    if (formations)
        setLink(1, nullptr);
}
