#pragma once
// Shared body of the assembly entities: a fixed row of links to other kernel
// entities, saved, copied and fixed in order, the last of which is the
// entity's TRANSFORM (null: the identity). The entities own nothing they
// link to and do nothing in lose: only Ve_AssemDeleteMgr deletes a tree.
#include <cstdint>
#include <cstdio>

#include "persist/persistent_class.hxx"
#include "velm/attrib.hxx"
#include "velm/lists.hxx"

// D provides, for each link i: static const char* linkLabel(int i) and
// static int linkType(int i) (the level-1 type a restored link must have).
template <class D, int N>
class VeLinkedEntity : public ENTITY {
public:
    static constexpr int transform_link = N - 1;

    QELtransf getTransformation() const { return getTransform() ? getTransform()->transform() : QELtransf(); }
    TRANSFORM* getTransform() const { return static_cast<TRANSFORM*>(m_links[transform_link]); }
    void setTransformation(const QELtransf& t)
    {
        if (TRANSFORM* own = getTransform()) {
            own->set_transform(t);
            return;
        }
        setLink(transform_link, velm_require(VELM_NEW TRANSFORM(t)));
    }

    bool is_deepcopyable() const override { return false; }
    void lose() override {}

    void copy_scan(ENTITY_LIST& list, SCAN_TYPE reason = scan_copy, int dpcpy_skip = 0) const override
    {
        ENTITY::copy_scan(list, reason, dpcpy_skip);
        for (ENTITY* link : m_links)
            if (link)
                list.add(link);
    }

    // fix_common fixes the ENTITY part too: ENTITY::fix_pointers first would
    // read the already fixed attribute pointer as an index a second time.
    void fix_pointers(ENTITY* array[], SCAN_TYPE reason) override { fix_common(array, reason); }
    void fix_common(ENTITY* array[], SCAN_TYPE reason)
    {
        ENTITY::fix_common(array, reason);
        // Checked: a damaged file must not make a part's body a vertex.
        for (int i = 0; i < N; ++i)
            m_links[i] = read_array_checked(array, m_links[i], 1, D::linkType(i));
    }

    // Once per list; the placed body and sub-assemblies are not transformed.
    bool apply_transform(const QELtransf& t, ENTITY_LIST& done, bool negate = false,
                         bool reset_pattern = true) override
    {
        if (done.lookup(this) >= 0)
            return true;
        ENTITY::apply_transform(t, done, negate, reset_pattern);
        if (!getTransform())
            setLink(transform_link, velm_require(VELM_NEW TRANSFORM(QELtransf())));
        *getTransform() *= t;
        return true;
    }

    void debug_ent(FILE* fp) const override
    {
        ENTITY::debug_ent(fp);
        if (!fp)
            return;
        for (int i = 0; i < N; ++i)
            std::fprintf(fp, "\t%s : %ld\n", D::linkLabel(i),
                         m_links[i] ? static_cast<long>(m_links[i]->debug_number()) : -1L);
    }

    void save_common(ENTITY_LIST& list) const
    {
        ENTITY::save_common(list);
        for (ENTITY* link : m_links)
            write_ptr(link, list);
    }
    void restore_common()
    {
        ENTITY::restore_common();
        for (ENTITY*& link : m_links)
            link = read_ptr();
    }
    void copy_common(ENTITY_LIST& list, const D* from, pointer_map* pm = nullptr, int dpcpy_skip = 0,
                     SCAN_TYPE reason = scan_copy)
    {
        ENTITY::copy_common(list, from, pm, dpcpy_skip, reason);
        for (int i = 0; i < N; ++i)
            m_links[i] = copy_index(list, from->m_links[i]);
    }

protected:
    VeLinkedEntity() = default;
    VeLinkedEntity(const VeLinkedEntity&) = default;
    VeLinkedEntity& operator=(const VeLinkedEntity&) = default;
    ~VeLinkedEntity() override
    {
        for (ENTITY*& link : m_links)
            link = nullptr;
    }

    ENTITY* link(int i) const { return m_links[i]; }
    void initLink(int i, ENTITY* e) { m_links[i] = e; }
    // Constructors: a new entity has nothing to back up.
    void initLinks(ENTITY* first, const QELtransf& t)
    {
        m_links[0] = first;
        m_links[transform_link] = velm_require(VELM_NEW TRANSFORM(t));
    }
    void setLink(int i, ENTITY* e)
    {
        backup();
        m_links[i] = e;
    }

private:
    ENTITY* m_links[N] = {};
};
