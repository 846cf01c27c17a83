#include "persist/ve_assem_delete_mgr.hxx"

#include <utility>

#include "velm/topology_api.hxx"
#include "model/memory_init.hxx"

namespace {

template <class T, class F>
void forEach(const QELXHashList<T>& set, F&& f)
{
    for (int slot = 0; slot < set.Capacity(); ++slot)
        if (set.IsUsed(slot))
            f(set.KeyAt(slot));
}

// The assembly entities do nothing in lose; their own deletion goes through
// the kernel's entity deletion, which takes their attributes along and, inside
// an open bulletin board, defers the delete to the board's end.
void destroyAssemblyEntity(ENTITY* e)
{
    if (e)
        e->ENTITY::lose();
}

template <class T>
T* entryOf(ENTITY* e, int type)
{
    return e && e->identity(1) == type ? static_cast<T*>(e) : nullptr;
}

}  // namespace

Ve_AssemDeleteMgr::Ve_AssemDeleteMgr(VE_ASSEMBLY* root) : m_root(root) {}

Ve_AssemDeleteMgr::Ve_AssemDeleteMgr(Ve_AssemDeleteMgr&& other) noexcept
    : m_root(other.m_root),
      m_bodies(std::move(other.m_bodies)),
      m_formations(std::move(other.m_formations)),
      m_parts(std::move(other.m_parts)),
      m_assemblies(std::move(other.m_assemblies)),
      m_transforms(std::move(other.m_transforms))
{
    other.reset();
}

Ve_AssemDeleteMgr& Ve_AssemDeleteMgr::operator=(Ve_AssemDeleteMgr&& other) noexcept
{
    if (this != &other) {
        destroyRecorded();
        m_root = other.m_root;
        m_bodies = std::move(other.m_bodies);
        m_formations = std::move(other.m_formations);
        m_parts = std::move(other.m_parts);
        m_assemblies = std::move(other.m_assemblies);
        m_transforms = std::move(other.m_transforms);
        other.reset();
    }
    return *this;
}

Ve_AssemDeleteMgr::~Ve_AssemDeleteMgr() { destroyRecorded(); }

void Ve_AssemDeleteMgr::reset()
{
    m_root = nullptr;
    m_bodies.Clear();
    m_formations.Clear();
    m_parts.Clear();
    m_assemblies.Clear();
    m_transforms.Clear();
}

bool Ve_AssemDeleteMgr::loseAssem()
{
    if (!m_root)
        return false;
    traverseAssembly(m_root);
    return true;
}

void Ve_AssemDeleteMgr::collectElems()
{
    if (m_root)
        traverseAssembly(m_root);
}

int Ve_AssemDeleteMgr::recordedCount() const
{
    return m_bodies.Count() + m_formations.Count() + m_parts.Count() + m_assemblies.Count() +
           m_transforms.Count();
}

void Ve_AssemDeleteMgr::traverseAssembly(VE_ASSEMBLY* assembly)
{
    // The lists are lost only after the walk, once each: a damaged file can
    // give two assemblies one list, and the second must not meet it freed.
    QELXHashList<EE_LIST*> lists;
    walk(assembly, lists);
    forEach(lists, [](EE_LIST* list) { list->lose(); });
}

void Ve_AssemDeleteMgr::walk(VE_ASSEMBLY* assembly, QELXHashList<EE_LIST*>& lists)
{
    if (!m_assemblies.Add(assembly) || !assembly)
        return;
    if (TRANSFORM* t = assembly->getTransform())
        m_transforms.Add(t);
    EE_LIST* parts = nullptr;
    EE_LIST* formations = nullptr;
    assembly->detachLists(parts, formations);
    if (parts) {
        lists.Add(parts);
        for (int i = 0; i < parts->count(); ++i) {
            auto* part = entryOf<VE_PART>((*parts)[i], VE_PART_TYPE);
            if (!part || !m_parts.Add(part))
                continue;
            if (BODY* body = part->getSolid())
                m_bodies.Add(body);
            if (TRANSFORM* t = part->getTransform())
                m_transforms.Add(t);
        }
    }
    if (formations) {
        lists.Add(formations);
        for (int i = 0; i < formations->count(); ++i) {
            auto* formation = entryOf<VE_FORMATION>((*formations)[i], VE_FORMATION_TYPE);
            if (!formation || !m_formations.Add(formation))
                continue;
            if (TRANSFORM* t = formation->getTransform())
                m_transforms.Add(t);
            walk(entryOf<VE_ASSEMBLY>(formation->getAssembly(), VE_ASSEMBLY_TYPE), lists);
        }
    }
}

void Ve_AssemDeleteMgr::destroyRecorded()
{
    forEach(m_bodies, [](BODY* body) { api_del_entity(body); });
    forEach(m_parts, [](VE_PART* part) { destroyAssemblyEntity(part); });
    forEach(m_formations, [](VE_FORMATION* formation) { destroyAssemblyEntity(formation); });
    forEach(m_assemblies, [](VE_ASSEMBLY* assembly) { destroyAssemblyEntity(assembly); });
    forEach(m_transforms, [](TRANSFORM* t) { api_del_entity(t); });
    reset();
}
