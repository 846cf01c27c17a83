#pragma once
// Marker attributes: a named framework marker and an opaque pointer tied to
// a kernel entity, for passes of sibling connectors that tag what they saw.
// Neither the marker nor the pointer survives a file.
#include "persist/persistent_class.hxx"
#include "qelx/gk_marker.hxx"
#include "velm/attrib.hxx"

extern XVELM2KA_API int ATTRIB_TARVO_GEOMETRIC_TYPE;
extern XVELM2KA_API restore_def* ATTRIB_TARVO_GEOMETRIC_subclasses;
extern XVELM2KA_API int AttDV_Tarvo_TYPE;
extern XVELM2KA_API int AttDV_Mark_TYPE;
XVELM2KA_API bool is_ATTRIB_TARVO_GEOMETRIC(const ENTITY* e);
bool is_AttDV_Tarvo(const ENTITY* e);
bool is_AttDV_Mark(const ENTITY* e);

class XVELM2KA_API ATTRIB_TARVO_GEOMETRIC : public ATTRIB {
    VELM_ENTITY_DECL(ATTRIB_TARVO_GEOMETRIC, ATTRIB, 2)
    explicit ATTRIB_TARVO_GEOMETRIC(ENTITY* owner = nullptr) : ATTRIB(owner) {}
    ATTRIB_TARVO_GEOMETRIC(const ATTRIB_TARVO_GEOMETRIC&) = default;
    ATTRIB_TARVO_GEOMETRIC& operator=(const ATTRIB_TARVO_GEOMETRIC&) = default;
};

class XVELM2KA_API AttDV_Tarvo : public ATTRIB_TARVO_GEOMETRIC {
    VELM_ENTITY_DECL(AttDV_Tarvo, ATTRIB_TARVO_GEOMETRIC, 3)
    explicit AttDV_Tarvo(ENTITY* owner = nullptr) : ATTRIB_TARVO_GEOMETRIC(owner) {}
    AttDV_Tarvo(const AttDV_Tarvo&) = default;
    AttDV_Tarvo& operator=(const AttDV_Tarvo&) = default;
    bool is_deepcopyable() const override { return false; }
};

class XVELM2KA_API AttDV_Mark : public AttDV_Tarvo {
    VELM_ENTITY_DECL(AttDV_Mark, AttDV_Tarvo, 4)
    explicit AttDV_Mark(ENTITY* owner = nullptr) : AttDV_Tarvo(owner) {}
    AttDV_Mark(ENTITY* owner, const Gk_Marker& marker) : AttDV_Tarvo(owner), m_marker(marker) {}
    AttDV_Mark(const AttDV_Mark&) = default;
    AttDV_Mark& operator=(const AttDV_Mark&) = default;

    bool is_deepcopyable() const override { return false; }
    void debug_ent(FILE* fp) const override;
    // Both pieces of a split carry the marker; the new piece's pointer is null.
    void split_owner(ENTITY* piece) override;
    // The mark goes to the survivor unless the survivor has one of its own.
    void merge_owner(ENTITY* other, int owner_deleted) override;
    // A new mark with the same marker and no pointer on `owner`.
    virtual AttDV_Mark* clone(ENTITY* owner) const;

    const Gk_Marker& getMarker() const { return m_marker; }

    // Only the first mark with the marker counts.
    static int testMark(ENTITY* e, const Gk_Marker& m);
    static void setMark(ENTITY* e, const Gk_Marker& m);
    static void deleteMark(ENTITY* e, const Gk_Marker& m);
    static void* getPtr(ENTITY* e, const Gk_Marker& m);
    // Present and null: the mark goes. Absent and non-null: a new mark with
    // the pointer. A present mark keeps the pointer it has.
    static void setPtr(ENTITY* e, const Gk_Marker& m, void* p);

private:
    static AttDV_Mark* find(ENTITY* e, const Gk_Marker& m);
    Gk_Marker m_marker;
    void* m_ptr = nullptr;
};
