#include "persist/analytic_surface_attribute.hxx"

#include "model/kernel_call_bracket.hxx"
#include "velm/topology_api.hxx"

int ATTRIB_ANALYT_SURF_TYPE = 0;
XVELM2KA_API restore_def* ATTRIB_ANALYT_SURF_subclasses = nullptr;

XVELM_PERSISTENT_DEF(ATTRIB_ANALYT_SURF, ATTRIB, 2, "Attrib_Analytic_Srf")

ATTRIB_ANALYT_SURF::ATTRIB_ANALYT_SURF(ENTITY* owner, ENTITY* surface) : ATTRIB(owner), m_surface(surface)
{
    if (m_surface)
        m_surface->add();
}

void ATTRIB_ANALYT_SURF::lose()
{
    if (is_lost() || is_backup_image())
        return;
    if (m_surface) {
        backup();
        m_surface->remove(1);
        m_surface = nullptr;
    }
    ATTRIB::lose();
}

void ATTRIB_ANALYT_SURF::split_owner(ENTITY* piece)
{
    if (!piece || !m_surface)
        return;
    ENTITY* copy = nullptr;
    if (!api_copy_entity(m_surface, copy).ok() || !copy)
        return;
    const outcome made = velmCall([&] { velm_require(VELM_NEW ATTRIB_ANALYT_SURF(piece, copy)); });
    if (!made.ok() && copy->use_count() == 0)
        copy->lose();
}

void ATTRIB_ANALYT_SURF::copy_common(ENTITY_LIST& list, const ATTRIB_ANALYT_SURF* from, pointer_map* pm,
                                     int dpcpy_skip, SCAN_TYPE reason)
{
    ATTRIB::copy_common(list, from, pm, dpcpy_skip, reason);
    ENTITY* copy = nullptr;
    if (from->m_surface && api_copy_entity(from->m_surface, copy).ok() && copy) {
        m_surface = copy;
        m_surface->add();
    }
}
