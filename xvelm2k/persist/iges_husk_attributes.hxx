#pragma once
// IGES husk attributes: what an earlier IGES translator left on bodies,
// faces, edges and vertices. Kept so that such files restore and so that the
// husk transfer can turn them into generic named attributes.
#include "persist/persistent_class.hxx"
#include "velm/attrib.hxx"
#include "velm/math.hxx"

enum IGES_SRF_MAPPING : int { IGES_SRF_MAP_NONE = 0 };

#define XVELM_IGES_HUSK_CLASSES(X)                                                              \
    X(ATTRIB_DOVA_IGES_SRFMAP) X(ATTRIB_DOVA_IGES_SURF_RANGE) X(ATTRIB_DOVA_IGES_VELM_SURF_RANGE) \
    X(ATTRIB_DOVA_IGES_LINEFONT) X(ATTRIB_DOVA_IGES_DE_ENTRY) X(ATTRIB_DOVA_IGES_LINEWEIGHT)      \
    X(ATTRIB_DOVA_IGES_COLOR) X(ATTRIB_DOVA_IGES_LABEL) X(ATTRIB_DOVA_IGES_LAYER)

extern XVELM2KA_API int ATTRIB_DOVA_IGES_TYPE;
extern XVELM2KA_API restore_def* ATTRIB_DOVA_IGES_subclasses;
XVELM2KA_API bool is_ATTRIB_DOVA_IGES(const ENTITY* e);
#define XVELM_DECLARE_IGES_CHILD(CLASS)        \
    extern XVELM2KA_API int CLASS##_TYPE;       \
    XVELM2KA_API bool is_##CLASS(const ENTITY* e);
XVELM_IGES_HUSK_CLASSES(XVELM_DECLARE_IGES_CHILD)
#undef XVELM_DECLARE_IGES_CHILD
extern XVELM2KA_API restore_def* ATTRIB_DOVA_IGES_SRFMAP_subclasses;

class XVELM2KA_API ATTRIB_DOVA_IGES : public ATTRIB {
    VELM_ENTITY_DECL(ATTRIB_DOVA_IGES, ATTRIB, 2)
    explicit ATTRIB_DOVA_IGES(ENTITY* owner = nullptr) : ATTRIB(owner) {}
    ATTRIB_DOVA_IGES(const ATTRIB_DOVA_IGES&) = default;
    ATTRIB_DOVA_IGES& operator=(const ATTRIB_DOVA_IGES&) = default;
};

class XVELM2KA_API ATTRIB_DOVA_IGES_SRFMAP : public ATTRIB_DOVA_IGES {
    VELM_ENTITY_DECL(ATTRIB_DOVA_IGES_SRFMAP, ATTRIB_DOVA_IGES, 3)
    ATTRIB_DOVA_IGES_SRFMAP() = default;
    ATTRIB_DOVA_IGES_SRFMAP(ENTITY* owner, IGES_SRF_MAPPING mapping);
    ATTRIB_DOVA_IGES_SRFMAP(const ATTRIB_DOVA_IGES_SRFMAP&) = default;
    ATTRIB_DOVA_IGES_SRFMAP& operator=(const ATTRIB_DOVA_IGES_SRFMAP&) = default;
    bool is_deepcopyable() const override { return false; }
    IGES_SRF_MAPPING get_srf_mapping() const { return m_mapping; }
    void set_srf_mapping(IGES_SRF_MAPPING mapping) { m_mapping = mapping; }
    void debug(FILE*) const {}
    void copy_common(ENTITY_LIST& list, const ATTRIB_DOVA_IGES_SRFMAP* from, pointer_map* pm = nullptr,
                     int dpcpy_skip = 0, SCAN_TYPE reason = scan_copy);

private:
    IGES_SRF_MAPPING m_mapping = IGES_SRF_MAP_NONE;
};

// The two range husks differ only in their class: the ranges and their
// owner-change copies live here.
template <class D>
class IgesRangeHusk : public ATTRIB_DOVA_IGES {
public:
    explicit IgesRangeHusk(ENTITY* owner = nullptr) : ATTRIB_DOVA_IGES(owner) {}
    bool is_deepcopyable() const override { return false; }
    const QELinterval& u_range() const { return m_u; }
    const QELinterval& v_range() const { return m_v; }
    void set_ranges(const QELinterval& u, const QELinterval& v)
    {
        m_u = u;
        m_v = v;
    }
    // Ranges follow the owner into copies and both halves of splits and merges.
    void copy_owner(ENTITY* copy) override { replicate(copy); }
    void split_owner(ENTITY* piece) override { replicate(piece); }
    void merge_owner(ENTITY* other, int) override { replicate(other); }

private:
    void replicate(ENTITY* onto) const
    {
        if (!onto)
            return;
        D* twin = velm_require(VELM_NEW D(onto));
        twin->set_ranges(m_u, m_v);
    }
    QELinterval m_u;
    QELinterval m_v;
};

#define XVELM_IGES_RANGE_HUSK(CLASS)                                      \
    class XVELM2KA_API CLASS : public IgesRangeHusk<CLASS> {              \
        VELM_ENTITY_DECL(CLASS, IgesRangeHusk<CLASS>, 3)                  \
        explicit CLASS(ENTITY* owner = nullptr) : IgesRangeHusk(owner) {} \
        CLASS(const CLASS&) = default;                                    \
        CLASS& operator=(const CLASS&) = default;                         \
    };
XVELM_IGES_RANGE_HUSK(ATTRIB_DOVA_IGES_SURF_RANGE)
XVELM_IGES_RANGE_HUSK(ATTRIB_DOVA_IGES_VELM_SURF_RANGE)
#undef XVELM_IGES_RANGE_HUSK

class XVELM2KA_API ATTRIB_DOVA_IGES_LINEFONT : public ATTRIB_DOVA_IGES {
    VELM_ENTITY_DECL(ATTRIB_DOVA_IGES_LINEFONT, ATTRIB_DOVA_IGES, 3)
    explicit ATTRIB_DOVA_IGES_LINEFONT(ENTITY* owner = nullptr) : ATTRIB_DOVA_IGES(owner) {}
    ATTRIB_DOVA_IGES_LINEFONT(const ATTRIB_DOVA_IGES_LINEFONT&) = default;
    ATTRIB_DOVA_IGES_LINEFONT& operator=(const ATTRIB_DOVA_IGES_LINEFONT&) = default;
    bool is_deepcopyable() const override { return false; }
    int get_line_font() const { return m_font; }
    void set_line_font(int font) { m_font = font; }
    void save_common(ENTITY_LIST& list) const;
    void restore_common();
    void copy_common(ENTITY_LIST& list, const ATTRIB_DOVA_IGES_LINEFONT* from, pointer_map* pm = nullptr,
                     int dpcpy_skip = 0, SCAN_TYPE reason = scan_copy);

private:
    int m_font = 1;
};

class XVELM2KA_API ATTRIB_DOVA_IGES_DE_ENTRY : public ATTRIB_DOVA_IGES {
    VELM_ENTITY_DECL(ATTRIB_DOVA_IGES_DE_ENTRY, ATTRIB_DOVA_IGES, 3)
    ATTRIB_DOVA_IGES_DE_ENTRY() = default;
    ATTRIB_DOVA_IGES_DE_ENTRY(ENTITY* owner, int de_entry);
    ATTRIB_DOVA_IGES_DE_ENTRY(const ATTRIB_DOVA_IGES_DE_ENTRY&) = default;
    ATTRIB_DOVA_IGES_DE_ENTRY& operator=(const ATTRIB_DOVA_IGES_DE_ENTRY&) = default;
    bool is_deepcopyable() const override { return false; }
    int get_de_entry() const { return m_entry; }
    void set_de_entry(int de_entry) { m_entry = de_entry; }
    void debug(FILE*) const {}
    // The number follows the owner into copies and both halves of splits and merges.
    void copy_owner(ENTITY* copy) override;
    void split_owner(ENTITY* piece) override;
    void merge_owner(ENTITY* other, int) override;
    void save_common(ENTITY_LIST& list) const;
    void restore_common();
    void copy_common(ENTITY_LIST& list, const ATTRIB_DOVA_IGES_DE_ENTRY* from, pointer_map* pm = nullptr,
                     int dpcpy_skip = 0, SCAN_TYPE reason = scan_copy);

private:
    int m_entry = 0;
};

class XVELM2KA_API ATTRIB_DOVA_IGES_LINEWEIGHT : public ATTRIB_DOVA_IGES {
    VELM_ENTITY_DECL(ATTRIB_DOVA_IGES_LINEWEIGHT, ATTRIB_DOVA_IGES, 3)
    explicit ATTRIB_DOVA_IGES_LINEWEIGHT(ENTITY* owner = nullptr) : ATTRIB_DOVA_IGES(owner) {}
    ATTRIB_DOVA_IGES_LINEWEIGHT(const ATTRIB_DOVA_IGES_LINEWEIGHT&) = default;
    ATTRIB_DOVA_IGES_LINEWEIGHT& operator=(const ATTRIB_DOVA_IGES_LINEWEIGHT&) = default;
    bool is_deepcopyable() const override { return false; }
    double get_line_weight() const { return m_weight; }
    void set_line_weight(double weight) { m_weight = weight; }
    void save_common(ENTITY_LIST& list) const;
    void restore_common();
    void copy_common(ENTITY_LIST& list, const ATTRIB_DOVA_IGES_LINEWEIGHT* from, pointer_map* pm = nullptr,
                     int dpcpy_skip = 0, SCAN_TYPE reason = scan_copy);

private:
    double m_weight = 1.0;
};

class XVELM2KA_API ATTRIB_DOVA_IGES_COLOR : public ATTRIB_DOVA_IGES {
    VELM_ENTITY_DECL(ATTRIB_DOVA_IGES_COLOR, ATTRIB_DOVA_IGES, 3)
    static constexpr int name_size = 32;
    explicit ATTRIB_DOVA_IGES_COLOR(ENTITY* owner = nullptr) : ATTRIB_DOVA_IGES(owner) {}
    ATTRIB_DOVA_IGES_COLOR(const ATTRIB_DOVA_IGES_COLOR&) = default;
    ATTRIB_DOVA_IGES_COLOR& operator=(const ATTRIB_DOVA_IGES_COLOR&) = default;
    bool is_deepcopyable() const override { return false; }
    int get_color_number() const { return m_number; }
    double red() const { return m_red; }
    double green() const { return m_green; }
    double blue() const { return m_blue; }
    const char* get_color_name() const { return m_name; }
    // The name is cut to 31 characters.
    void set_color(int number, double red, double green, double blue, const char* name);
    void save_common(ENTITY_LIST& list) const;
    void restore_common();
    void copy_common(ENTITY_LIST& list, const ATTRIB_DOVA_IGES_COLOR* from, pointer_map* pm = nullptr,
                     int dpcpy_skip = 0, SCAN_TYPE reason = scan_copy);

private:
    int m_number = 0;
    double m_red = 0.0, m_green = 0.0, m_blue = 0.0;
    char m_name[name_size] = {};
};

class XVELM2KA_API ATTRIB_DOVA_IGES_LABEL : public ATTRIB_DOVA_IGES {
    VELM_ENTITY_DECL(ATTRIB_DOVA_IGES_LABEL, ATTRIB_DOVA_IGES, 3)
    static constexpr int label_size = 16;
    explicit ATTRIB_DOVA_IGES_LABEL(ENTITY* owner = nullptr) : ATTRIB_DOVA_IGES(owner) {}
    ATTRIB_DOVA_IGES_LABEL(const ATTRIB_DOVA_IGES_LABEL&) = default;
    ATTRIB_DOVA_IGES_LABEL& operator=(const ATTRIB_DOVA_IGES_LABEL&) = default;
    bool is_deepcopyable() const override { return false; }
    int get_label_number() const { return m_number; }
    const char* get_label() const { return m_label; }
    // The text is cut to 15 characters.
    void set_label(int number, const char* text);
    void save_common(ENTITY_LIST& list) const;
    void restore_common();
    void copy_common(ENTITY_LIST& list, const ATTRIB_DOVA_IGES_LABEL* from, pointer_map* pm = nullptr,
                     int dpcpy_skip = 0, SCAN_TYPE reason = scan_copy);

private:
    int m_number = 0;
    char m_label[label_size] = {};
};

class XVELM2KA_API ATTRIB_DOVA_IGES_LAYER : public ATTRIB_DOVA_IGES {
    VELM_ENTITY_DECL(ATTRIB_DOVA_IGES_LAYER, ATTRIB_DOVA_IGES, 3)
    static constexpr int max_layers = 10;
    explicit ATTRIB_DOVA_IGES_LAYER(ENTITY* owner = nullptr) : ATTRIB_DOVA_IGES(owner) {}
    ATTRIB_DOVA_IGES_LAYER(const ATTRIB_DOVA_IGES_LAYER&) = default;
    ATTRIB_DOVA_IGES_LAYER& operator=(const ATTRIB_DOVA_IGES_LAYER&) = default;
    bool is_deepcopyable() const override { return false; }
    // 0 single-valued, 1 multi-valued.
    int get_layer_type() const { return m_type; }
    // The layer number (single-valued) or the count of layers (multi-valued).
    int get_layer_size() const { return m_field; }
    void set_single_layer(int layer);
    // 0 for a single-valued husk; else copies the layers into `out` (ten entries) and 1.
    int get_mult_layer(int*& out) const;
    void set_mult_layer(const int& count, int* layers);
    bool operator==(const ATTRIB_DOVA_IGES_LAYER& other) const;
    void debug_ent(FILE* fp) const override;
    void save_common(ENTITY_LIST& list) const;
    void restore_common();
    void copy_common(ENTITY_LIST& list, const ATTRIB_DOVA_IGES_LAYER* from, pointer_map* pm = nullptr,
                     int dpcpy_skip = 0, SCAN_TYPE reason = scan_copy);

private:
    int storedCount() const;
    int m_field = 0;
    int m_layers[max_layers] = {};
    int m_type = 0;
};
