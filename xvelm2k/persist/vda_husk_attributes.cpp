#include "persist/vda_husk_attributes.hxx"
#include "model/memory_init.hxx"

#include <cstring>

XVELM_PERSISTENT_DATA(XVELM2KA_API, ATTRIB_DOVA_VDA)
XVELM_PERSISTENT_DATA(XVELM2KA_API, ATTRIB_VDA)

XVELM_PERSISTENT_DEF(ATTRIB_DOVA_VDA, ATTRIB, 2, "attrib_dova_vda")
XVELM_PERSISTENT_DEF(ATTRIB_VDA, ATTRIB_DOVA_VDA, 3, "attrib_vda")

ATTRIB_VDA::ATTRIB_VDA(ENTITY* owner, char* path, int number) : ATTRIB_DOVA_VDA(owner), m_number(number)
{
    setPath(path);
}

ATTRIB_VDA::ATTRIB_VDA(const ATTRIB_VDA& other) : ATTRIB_DOVA_VDA(other), m_number(other.m_number)
{
    setPath(other.m_path);
}

ATTRIB_VDA& ATTRIB_VDA::operator=(const ATTRIB_VDA& other)
{
    if (this != &other) {
        ATTRIB_DOVA_VDA::operator=(other);
        setPath(other.m_path);
        m_number = other.m_number;
    }
    return *this;
}

ATTRIB_VDA::~ATTRIB_VDA() { delete[] m_path; }

void ATTRIB_VDA::setPath(const char* path)
{
    char* copy = nullptr;
    if (path) {
        const std::size_t n = std::strlen(path);
        copy = new char[n + 1];
        std::memcpy(copy, path, n + 1);
    }
    delete[] m_path;
    m_path = copy;
}

void ATTRIB_VDA::debug_ent(FILE* fp) const
{
    ATTRIB_DOVA_VDA::debug_ent(fp);
    if (!fp)
        return;
    if (m_path)
        std::fprintf(fp, "\tPath            : %s\n", m_path);
    else
        std::fprintf(fp, "\tPath            : (null) \n");
    std::fprintf(fp, "\tSerial #        : %d\n", m_number);
}

void ATTRIB_VDA::save_common(ENTITY_LIST& list) const
{
    ATTRIB_DOVA_VDA::save_common(list);
    write_int(m_number);
    write_literal(m_path ? m_path : "");
}

void ATTRIB_VDA::restore_common()
{
    ATTRIB_DOVA_VDA::restore_common();
    m_number = read_int();
    int length = 0;
    char* text = read_string(length);
    // The buffer comes sized to the text; an empty or null text is no path.
    delete[] m_path;
    m_path = nullptr;
    if (text && length > 0 && text[0] != '\0')
        m_path = text;
    else
        delete[] text;
}

void ATTRIB_VDA::copy_common(ENTITY_LIST& list, const ATTRIB_VDA* from, pointer_map* pm, int dpcpy_skip,
                             SCAN_TYPE reason)
{
    ATTRIB_DOVA_VDA::copy_common(list, from, pm, dpcpy_skip, reason);
    m_number = from->m_number;
    setPath(from->m_path);
}
