#pragma once
// VDA husk attributes: the source file and serial number that an earlier VDA
// translator left on entities. Kept so that such files restore.
#include "persist/persistent_class.hxx"
#include "velm/attrib.hxx"

extern XVELM2KA_API int ATTRIB_DOVA_VDA_TYPE;
extern XVELM2KA_API restore_def* ATTRIB_DOVA_VDA_subclasses;
extern XVELM2KA_API int ATTRIB_VDA_TYPE;
extern XVELM2KA_API restore_def* ATTRIB_VDA_subclasses;
XVELM2KA_API bool is_ATTRIB_DOVA_VDA(const ENTITY* e);
bool is_ATTRIB_VDA(const ENTITY* e);

class XVELM2KA_API ATTRIB_DOVA_VDA : public ATTRIB {
    VELM_ENTITY_DECL(ATTRIB_DOVA_VDA, ATTRIB, 2)
    explicit ATTRIB_DOVA_VDA(ENTITY* owner = nullptr) : ATTRIB(owner) {}
    ATTRIB_DOVA_VDA(const ATTRIB_DOVA_VDA&) = default;
    ATTRIB_DOVA_VDA& operator=(const ATTRIB_DOVA_VDA&) = default;
};

// Owns its path text: every copy gets its own.
class XVELM2KA_API ATTRIB_VDA : public ATTRIB_DOVA_VDA {
    VELM_ENTITY_DECL(ATTRIB_VDA, ATTRIB_DOVA_VDA, 3)
    ATTRIB_VDA() = default;
    ATTRIB_VDA(ENTITY* owner, char* path, int number);
    ATTRIB_VDA(const ATTRIB_VDA& other);
    ATTRIB_VDA& operator=(const ATTRIB_VDA& other);
    ~ATTRIB_VDA() override;

    bool is_deepcopyable() const override { return false; }
    const char* pathname() const { return m_path; }
    int number() const { return m_number; }
    void debug_ent(FILE* fp) const override;
    // A missing path is written as an empty text and read back as none.
    void save_common(ENTITY_LIST& list) const;
    void restore_common();
    void copy_common(ENTITY_LIST& list, const ATTRIB_VDA* from, pointer_map* pm = nullptr, int dpcpy_skip = 0,
                     SCAN_TYPE reason = scan_copy);

private:
    void setPath(const char* path);
    char* m_path = nullptr;
    int m_number = 0;
};
