#pragma once
// Ties an analytic surface entity to a face. The attribute holds one use of
// the surface and gives it back when it is lost; the surface is not saved.
#include "persist/persistent_class.hxx"
#include "velm/attrib.hxx"

extern int ATTRIB_ANALYT_SURF_TYPE;
extern XVELM2KA_API restore_def* ATTRIB_ANALYT_SURF_subclasses;
XVELM2KA_API bool is_ATTRIB_ANALYT_SURF(const ENTITY* e);

class XVELM2KA_API ATTRIB_ANALYT_SURF : public ATTRIB {
    VELM_ENTITY_DECL(ATTRIB_ANALYT_SURF, ATTRIB, 2)
    ATTRIB_ANALYT_SURF() = default;
    ATTRIB_ANALYT_SURF(ENTITY* owner, ENTITY* surface);
    // Roll-back copies share the surface without a use of their own.
    ATTRIB_ANALYT_SURF(const ATTRIB_ANALYT_SURF&) = default;
    ATTRIB_ANALYT_SURF& operator=(const ATTRIB_ANALYT_SURF&) = default;

    ENTITY* surface() const { return m_surface; }
    bool is_deepcopyable() const override { return false; }
    void lose() override;
    // The new piece gets its own copy of the surface.
    void split_owner(ENTITY* piece) override;
    // A copy of the attribute holds a copy of the surface.
    void copy_common(ENTITY_LIST& list, const ATTRIB_ANALYT_SURF* from, pointer_map* pm = nullptr,
                     int dpcpy_skip = 0, SCAN_TYPE reason = scan_copy);

private:
    ENTITY* m_surface = nullptr;
};
