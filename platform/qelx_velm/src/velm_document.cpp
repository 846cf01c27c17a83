#include "qelx_velm/velm_document.hxx"

#include "qelx_velm/velm_entity_utils.hxx"
#include "velm/entity.hxx"
#include "velm/groups.hxx"
#include "velm/save.hxx"
#include "velm/topology_api.hxx"

QELXVelmDocument::QELXVelmDocument()
{
    SetDocumentType("VELM");
    SetXType("XVelm");
}

QELXVelmDocument::~QELXVelmDocument()
{
    if (!HoldsContent())
        return;
    // Only top-level entities (their own owners): deleting a body takes its
    // faces along, and an owned entry would be a second deletion.
    ENTITY_LIST owned;
    m_entities.init();
    for (ENTITY* e = m_entities.next(); e; e = m_entities.next())
        if (velm_is_live_entity(e) && e->owner() == e)
            owned.add(e);
    // Collections nested in a listed one (a group's inner groups, a note's
    // parameters) live only through it: they go with it.
    for (int i = 0; i < owned.count(); ++i) {
        const auto* holder = dynamic_cast<const QELCOLLECTION*>(owned[i]);
        if (!holder)
            continue;
        const ENTITY_LIST& members = holder->members();
        for (int k = 0, n = members.count(); k < n; ++k)
            if (ENTITY* m = members[k]; m && velm_is_live_entity(m) && is_QELCOLLECTION(m) && !is_QELGROUP(m))
                owned.add(m);
    }
    if (api_del_entity_list(owned).ok())
        return;
    // The kernel refused the deletion: the document still goes, and takes
    // along everything its entities reach, lost together so that links
    // between them never meet a freed entity.
    ENTITY_LIST reached;
    for (int i = 0; i < owned.count(); ++i)
        if (velm_is_live_entity(owned[i]))
            velm_save_reach(owned[i], reached);
    velm_lose_scope once;
    for (int i = 0; i < reached.count(); ++i)
        if (ENTITY* e = reached[i]; velm_is_live_entity(e))
            e->lose();
}

void* QELXVelmDocument::GetNativeData(const QELXString& typeName)
{
    if (!typeName.isEmpty() && !typeName.equals("ENTITY_LIST"))
        return nullptr;
    return GetNativeEntityList();
}

QELIResult QELXVelmDocument::GetNativeEntityList(ENTITY_LIST*& list)
{
    list = GetNativeEntityList();
    return QELI_OK;
}

ENTITY_LIST* QELXVelmDocument::GetNativeEntityList()
{
    m_entities.init();
    return &m_entities;
}

QELIResult QELXVelmDocument::AppendNativeEntityList(ENTITY_LIST* list)
{
    return list ? AppendNativeEntityList(*list) : QELIResult(QELI_INVALID_ARG);
}

QELIResult QELXVelmDocument::AppendNativeEntityList(ENTITY_LIST& list)
{
    // By index, so the caller's iteration cursor is left where it was.
    for (int i = 0; i < list.count(); ++i)
        if (ENTITY* e = list[i])
            m_entities.add(e);
    return QELI_OK;
}

QELIResult QELXVelmDocument::RemoveEntity(ENTITY* entity)
{
    return entity && m_entities.remove(entity) >= 0 ? QELI_OK : QELI_FAIL;
}

QELIResult QELXVelmDocument::SetLoadStatus(QELXDocument* doc, QELXLoadStatus status)
{
    auto* velmDoc = dynamic_cast<QELXVelmDocument*>(doc);
    if (!velmDoc)
        return QELI_INVALID_ARG;
    velmDoc->m_loadStatus = status;
    return QELI_OK;
}

void* QELXVelmIdentifierCast::Cast(const QELXIdentifier& id) const { return QELXVelmEntityUtils::GetEntity(id); }
