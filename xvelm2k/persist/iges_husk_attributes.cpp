#include "persist/iges_husk_attributes.hxx"
#include "model/memory_init.hxx"

#include <algorithm>
#include <cstring>

XVELM_PERSISTENT_DATA(XVELM2KA_API, ATTRIB_DOVA_IGES)
XVELM_PERSISTENT_DATA(XVELM2KA_API, ATTRIB_DOVA_IGES_SRFMAP)
#define XVELM_IGES_CHILD_DATA(CLASS) XVELM2KA_API int CLASS##_TYPE = 0;
XVELM_IGES_CHILD_DATA(ATTRIB_DOVA_IGES_SURF_RANGE)
XVELM_IGES_CHILD_DATA(ATTRIB_DOVA_IGES_VELM_SURF_RANGE)
XVELM_IGES_CHILD_DATA(ATTRIB_DOVA_IGES_LINEFONT)
XVELM_IGES_CHILD_DATA(ATTRIB_DOVA_IGES_DE_ENTRY)
XVELM_IGES_CHILD_DATA(ATTRIB_DOVA_IGES_LINEWEIGHT)
XVELM_IGES_CHILD_DATA(ATTRIB_DOVA_IGES_COLOR)
XVELM_IGES_CHILD_DATA(ATTRIB_DOVA_IGES_LABEL)
XVELM_IGES_CHILD_DATA(ATTRIB_DOVA_IGES_LAYER)
#undef XVELM_IGES_CHILD_DATA
restore_def* ATTRIB_DOVA_IGES_SURF_RANGE_subclasses = nullptr;
restore_def* ATTRIB_DOVA_IGES_VELM_SURF_RANGE_subclasses = nullptr;
restore_def* ATTRIB_DOVA_IGES_LINEFONT_subclasses = nullptr;
restore_def* ATTRIB_DOVA_IGES_DE_ENTRY_subclasses = nullptr;
restore_def* ATTRIB_DOVA_IGES_LINEWEIGHT_subclasses = nullptr;
restore_def* ATTRIB_DOVA_IGES_COLOR_subclasses = nullptr;
restore_def* ATTRIB_DOVA_IGES_LABEL_subclasses = nullptr;
restore_def* ATTRIB_DOVA_IGES_LAYER_subclasses = nullptr;

XVELM_PERSISTENT_DEF(ATTRIB_DOVA_IGES, ATTRIB, 2, "attrib_dova_iges")
XVELM_PERSISTENT_DEF(ATTRIB_DOVA_IGES_SRFMAP, ATTRIB_DOVA_IGES, 3, "attrib_dova_iges_srfmap")
XVELM_PERSISTENT_DEF(ATTRIB_DOVA_IGES_SURF_RANGE, IgesRangeHusk<ATTRIB_DOVA_IGES_SURF_RANGE>, 3,
                     "attrib_dova_iges_surf_range")
XVELM_PERSISTENT_DEF(ATTRIB_DOVA_IGES_VELM_SURF_RANGE, IgesRangeHusk<ATTRIB_DOVA_IGES_VELM_SURF_RANGE>, 3,
                     "attrib_dova_iges_velm_surf_range")
XVELM_PERSISTENT_DEF(ATTRIB_DOVA_IGES_LINEFONT, ATTRIB_DOVA_IGES, 3, "attrib_dova_iges_linefont")
XVELM_PERSISTENT_DEF(ATTRIB_DOVA_IGES_DE_ENTRY, ATTRIB_DOVA_IGES, 3, "attrib_dova_iges_de_entry")
XVELM_PERSISTENT_DEF(ATTRIB_DOVA_IGES_LINEWEIGHT, ATTRIB_DOVA_IGES, 3, "attrib_dova_iges_LINEWEIGHT")
XVELM_PERSISTENT_DEF(ATTRIB_DOVA_IGES_COLOR, ATTRIB_DOVA_IGES, 3, "attrib_dova_iges_color")
XVELM_PERSISTENT_DEF(ATTRIB_DOVA_IGES_LABEL, ATTRIB_DOVA_IGES, 3, "attrib_dova_iges_label")
XVELM_PERSISTENT_DEF(ATTRIB_DOVA_IGES_LAYER, ATTRIB_DOVA_IGES, 3, "attrib_dova_iges_layer")

namespace {

// Copies text into a fixed field, cut to fit and always terminated.
template <std::size_t N>
void copyBounded(char (&field)[N], const char* text)
{
    std::size_t n = text ? std::strlen(text) : 0;
    n = std::min(n, N - 1);
    if (n)
        std::memcpy(field, text, n);
    std::memset(field + n, 0, N - n);
}

}  // namespace

// --- SRFMAP: the mapping is copied, never saved.
ATTRIB_DOVA_IGES_SRFMAP::ATTRIB_DOVA_IGES_SRFMAP(ENTITY* owner, IGES_SRF_MAPPING mapping)
    : ATTRIB_DOVA_IGES(owner), m_mapping(mapping)
{
}

void ATTRIB_DOVA_IGES_SRFMAP::copy_common(ENTITY_LIST& list, const ATTRIB_DOVA_IGES_SRFMAP* from,
                                          pointer_map* pm, int dpcpy_skip, SCAN_TYPE reason)
{
    ATTRIB_DOVA_IGES::copy_common(list, from, pm, dpcpy_skip, reason);
    m_mapping = from->m_mapping;
}

// --- LINEFONT
void ATTRIB_DOVA_IGES_LINEFONT::save_common(ENTITY_LIST& list) const
{
    ATTRIB_DOVA_IGES::save_common(list);
    write_int(m_font);
}

void ATTRIB_DOVA_IGES_LINEFONT::restore_common()
{
    ATTRIB_DOVA_IGES::restore_common();
    m_font = read_int();
}

void ATTRIB_DOVA_IGES_LINEFONT::copy_common(ENTITY_LIST& list, const ATTRIB_DOVA_IGES_LINEFONT* from,
                                            pointer_map* pm, int dpcpy_skip, SCAN_TYPE reason)
{
    ATTRIB_DOVA_IGES::copy_common(list, from, pm, dpcpy_skip, reason);
    m_font = from->m_font;
}

// --- DE_ENTRY
ATTRIB_DOVA_IGES_DE_ENTRY::ATTRIB_DOVA_IGES_DE_ENTRY(ENTITY* owner, int de_entry)
    : ATTRIB_DOVA_IGES(owner), m_entry(de_entry)
{
}

void ATTRIB_DOVA_IGES_DE_ENTRY::copy_owner(ENTITY* copy)
{
    if (copy)
        velm_require(VELM_NEW ATTRIB_DOVA_IGES_DE_ENTRY(copy, m_entry));
}

void ATTRIB_DOVA_IGES_DE_ENTRY::split_owner(ENTITY* piece) { copy_owner(piece); }

void ATTRIB_DOVA_IGES_DE_ENTRY::merge_owner(ENTITY* other, int) { copy_owner(other); }

void ATTRIB_DOVA_IGES_DE_ENTRY::save_common(ENTITY_LIST& list) const
{
    ATTRIB_DOVA_IGES::save_common(list);
    write_int(m_entry);
}

void ATTRIB_DOVA_IGES_DE_ENTRY::restore_common()
{
    ATTRIB_DOVA_IGES::restore_common();
    m_entry = read_int();
}

void ATTRIB_DOVA_IGES_DE_ENTRY::copy_common(ENTITY_LIST& list, const ATTRIB_DOVA_IGES_DE_ENTRY* from,
                                            pointer_map* pm, int dpcpy_skip, SCAN_TYPE reason)
{
    ATTRIB_DOVA_IGES::copy_common(list, from, pm, dpcpy_skip, reason);
    m_entry = from->m_entry;
}

// --- LINEWEIGHT
void ATTRIB_DOVA_IGES_LINEWEIGHT::save_common(ENTITY_LIST& list) const
{
    ATTRIB_DOVA_IGES::save_common(list);
    write_real(m_weight);
}

void ATTRIB_DOVA_IGES_LINEWEIGHT::restore_common()
{
    ATTRIB_DOVA_IGES::restore_common();
    m_weight = read_real();
}

void ATTRIB_DOVA_IGES_LINEWEIGHT::copy_common(ENTITY_LIST& list, const ATTRIB_DOVA_IGES_LINEWEIGHT* from,
                                              pointer_map* pm, int dpcpy_skip, SCAN_TYPE reason)
{
    ATTRIB_DOVA_IGES::copy_common(list, from, pm, dpcpy_skip, reason);
    m_weight = from->m_weight;
}

// --- COLOR
void ATTRIB_DOVA_IGES_COLOR::set_color(int number, double red, double green, double blue, const char* name)
{
    m_number = number;
    m_red = red;
    m_green = green;
    m_blue = blue;
    copyBounded(m_name, name);
}

void ATTRIB_DOVA_IGES_COLOR::save_common(ENTITY_LIST& list) const
{
    ATTRIB_DOVA_IGES::save_common(list);
    write_int(m_number);
    write_real(m_red);
    write_real(m_green);
    write_real(m_blue);
    write_literal(m_name);
}

void ATTRIB_DOVA_IGES_COLOR::restore_common()
{
    // The IGES standard's colour numbers 1 to 8.
    static constexpr double table[8][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1},
                                           {1, 1, 0}, {1, 0, 1}, {0, 1, 1}, {1, 1, 1}};
    ATTRIB_DOVA_IGES::restore_common();
    m_number = read_int();
    m_red = read_real();
    m_green = read_real();
    m_blue = read_real();
    if (m_number >= 1 && m_number <= 8) {
        m_red = table[m_number - 1][0];
        m_green = table[m_number - 1][1];
        m_blue = table[m_number - 1][2];
    }
    read_string(m_name, sizeof m_name);
}

void ATTRIB_DOVA_IGES_COLOR::copy_common(ENTITY_LIST& list, const ATTRIB_DOVA_IGES_COLOR* from,
                                         pointer_map* pm, int dpcpy_skip, SCAN_TYPE reason)
{
    ATTRIB_DOVA_IGES::copy_common(list, from, pm, dpcpy_skip, reason);
    set_color(from->m_number, from->m_red, from->m_green, from->m_blue, from->m_name);
}

// --- LABEL
void ATTRIB_DOVA_IGES_LABEL::set_label(int number, const char* text)
{
    m_number = number;
    copyBounded(m_label, text);
}

void ATTRIB_DOVA_IGES_LABEL::save_common(ENTITY_LIST& list) const
{
    ATTRIB_DOVA_IGES::save_common(list);
    write_int(m_number);
    write_literal(m_label);
}

void ATTRIB_DOVA_IGES_LABEL::restore_common()
{
    ATTRIB_DOVA_IGES::restore_common();
    m_number = read_int();
    read_string(m_label, sizeof m_label);
}

void ATTRIB_DOVA_IGES_LABEL::copy_common(ENTITY_LIST& list, const ATTRIB_DOVA_IGES_LABEL* from,
                                         pointer_map* pm, int dpcpy_skip, SCAN_TYPE reason)
{
    ATTRIB_DOVA_IGES::copy_common(list, from, pm, dpcpy_skip, reason);
    set_label(from->m_number, from->m_label);
}

// --- LAYER
int ATTRIB_DOVA_IGES_LAYER::storedCount() const
{
    return m_type == 1 ? std::clamp(m_field, 0, max_layers) : 0;
}

void ATTRIB_DOVA_IGES_LAYER::set_single_layer(int layer)
{
    m_field = layer;
    m_type = 0;
}

int ATTRIB_DOVA_IGES_LAYER::get_mult_layer(int*& out) const
{
    if (m_type == 0)
        return 0;
    if (out)
        std::copy_n(m_layers, storedCount(), out);
    return 1;
}

void ATTRIB_DOVA_IGES_LAYER::set_mult_layer(const int& count, int* layers)
{
    m_type = 1;
    m_field = std::min(count, max_layers);
    if (layers)
        std::copy_n(layers, storedCount(), m_layers);
}

bool ATTRIB_DOVA_IGES_LAYER::operator==(const ATTRIB_DOVA_IGES_LAYER& other) const
{
    if (m_type != other.m_type || m_field != other.m_field)
        return false;
    const int n = std::clamp(m_field, 0, max_layers);
    return std::equal(m_layers, m_layers + n, other.m_layers);
}

void ATTRIB_DOVA_IGES_LAYER::debug_ent(FILE* fp) const
{
    ATTRIB_DOVA_IGES::debug_ent(fp);
    if (!fp)
        return;
    std::fprintf(fp, "\tIGES_LAYER Attr : %ld\n", static_cast<long>(reinterpret_cast<std::intptr_t>(this)));
    std::fprintf(fp, "\t\tSize : %d", m_field);
    std::fprintf(fp, "\t: %s\n", m_type == 1 ? "MultiValued" : "SingleValued");
    const int n = storedCount();
    if (m_type != 1 || n == 0)
        return;
    std::fprintf(fp, "\t\tValues : ");
    for (int i = 0; i < n; ++i)
        std::fprintf(fp, i + 1 < n ? "%d, " : "%d\n", m_layers[i]);
}

void ATTRIB_DOVA_IGES_LAYER::save_common(ENTITY_LIST& list) const
{
    ATTRIB_DOVA_IGES::save_common(list);
    write_int(m_field);
    write_int(m_type == 1 ? 1 : 0);
    for (int i = 0; i < storedCount(); ++i)
        write_int(m_layers[i]);
}

void ATTRIB_DOVA_IGES_LAYER::restore_common()
{
    ATTRIB_DOVA_IGES::restore_common();
    m_field = read_int();
    const int type = read_int();
    m_type = type == 1 ? 1 : 0;
    const int wanted = storedCount();
    for (int i = 0; i < wanted; ++i)
        m_layers[i] = read_int();
    if (wanted > 0)
        m_field = wanted;
}

void ATTRIB_DOVA_IGES_LAYER::copy_common(ENTITY_LIST& list, const ATTRIB_DOVA_IGES_LAYER* from,
                                         pointer_map* pm, int dpcpy_skip, SCAN_TYPE reason)
{
    ATTRIB_DOVA_IGES::copy_common(list, from, pm, dpcpy_skip, reason);
    m_field = from->m_field;
    m_type = from->m_type;
    const int n = storedCount();
    std::copy_n(from->m_layers, n, m_layers);
    std::fill(m_layers + n, m_layers + max_layers, 0);
    if (m_type == 1 && m_field > 0)
        m_field = n;
}
