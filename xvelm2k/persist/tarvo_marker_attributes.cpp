#include "persist/tarvo_marker_attributes.hxx"
#include "model/memory_init.hxx"

XVELM_PERSISTENT_DATA(XVELM2KA_API, ATTRIB_TARVO_GEOMETRIC)
XVELM2KA_API int AttDV_Tarvo_TYPE = 0;
XVELM2KA_API int AttDV_Mark_TYPE = 0;
restore_def* AttDV_Tarvo_subclasses = nullptr;
restore_def* AttDV_Mark_subclasses = nullptr;

XVELM_PERSISTENT_DEF(ATTRIB_TARVO_GEOMETRIC, ATTRIB, 2, "Attrib_Tarvo_Geometric")
XVELM_PERSISTENT_DEF(AttDV_Tarvo, ATTRIB_TARVO_GEOMETRIC, 3, "AttDV_Tarvo")
XVELM_PERSISTENT_DEF(AttDV_Mark, AttDV_Tarvo, 4, "AttDV_Mark")

void AttDV_Mark::debug_ent(FILE* fp) const
{
    AttDV_Tarvo::debug_ent(fp);
    if (fp)
        std::fprintf(fp, "\tMarker Desc\t: ");
}

AttDV_Mark* AttDV_Mark::clone(ENTITY* owner) const { return new AttDV_Mark(owner, m_marker); }

void AttDV_Mark::split_owner(ENTITY* piece)
{
    if (piece)
        clone(piece);
}

void AttDV_Mark::merge_owner(ENTITY* other, int owner_deleted)
{
    if (!owner_deleted || !other || testMark(other, m_marker))
        return;
    backup();
    move(other);
}

AttDV_Mark* AttDV_Mark::find(ENTITY* e, const Gk_Marker& m)
{
    if (!e)
        return nullptr;
    for (ATTRIB* a = find_attrib(e, ATTRIB_TARVO_GEOMETRIC_TYPE, AttDV_Tarvo_TYPE, AttDV_Mark_TYPE); a;
         a = find_next_attrib(a, ATTRIB_TARVO_GEOMETRIC_TYPE, AttDV_Tarvo_TYPE, AttDV_Mark_TYPE)) {
        auto* mark = static_cast<AttDV_Mark*>(a);
        if (mark->m_marker == m)
            return mark;
    }
    return nullptr;
}

int AttDV_Mark::testMark(ENTITY* e, const Gk_Marker& m) { return find(e, m) ? 1 : 0; }

void AttDV_Mark::setMark(ENTITY* e, const Gk_Marker& m)
{
    if (e && !find(e, m))
        new AttDV_Mark(e, m);
}

void AttDV_Mark::deleteMark(ENTITY* e, const Gk_Marker& m)
{
    if (AttDV_Mark* mark = find(e, m))
        mark->lose();
}

void* AttDV_Mark::getPtr(ENTITY* e, const Gk_Marker& m)
{
    AttDV_Mark* mark = find(e, m);
    return mark ? mark->m_ptr : nullptr;
}

void AttDV_Mark::setPtr(ENTITY* e, const Gk_Marker& m, void* p)
{
    if (!e)
        return;
    if (AttDV_Mark* mark = find(e, m)) {
        if (!p)
            mark->lose();
        return;
    }
    if (!p)
        return;
    if (AttDV_Mark* mark = new AttDV_Mark(e, m))
        mark->m_ptr = p;
}
