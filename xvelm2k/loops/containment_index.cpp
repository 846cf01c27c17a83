// The grid that finds, for an element going into the containment tree, the
// nodes of one level whose boxes meet its box, in level order.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "loops/containment_classifier.hxx"
#include "model/memory_init.hxx"
#include "qelx/qelx_math.hxx"

class Ve_ContainmentLevelIndex {
public:
    Ve_ContainmentLevelIndex(const QELpar_box& extent, int elements)
        : m_u0(extent.u_range().start_pt()), m_v0(extent.v_range().start_pt())
    {
        const double side = std::max(extent.u_range().length(), extent.v_range().length());
        const double perSide = std::max(1.0, std::sqrt(static_cast<double>(std::max(elements, 1))));
        m_cell = side > 0.0 ? side / perSide : 1.0;
    }

    // The node joins its parent's level; boxless nodes are met by every search.
    void add(Ve_ContainmentSetElement* node, const QELpar_box* box)
    {
        Entry& e = m_entries[node];
        e.level = node->parent();
        e.seq = m_nextSeq++;
        e.boxed = box && cellsOf(*box, e.cells);
        m_tails[e.level] = node;
        if (e.boxed) {
            for (const CellKey& k : e.cells)
                m_cells[keyed(e.level, k)].push_back(node);
        } else {
            m_unboxed[e.level].push_back(node);
        }
    }

    void remove(Ve_ContainmentSetElement* node)
    {
        const auto it = m_entries.find(node);
        if (it == m_entries.end())
            return;
        const Entry& e = it->second;
        if (e.boxed) {
            for (const CellKey& k : e.cells)
                erase(m_cells[keyed(e.level, k)], node);
        } else {
            erase(m_unboxed[e.level], node);
        }
        if (const auto t = m_tails.find(e.level); t != m_tails.end() && t->second == node)
            m_tails.erase(t);
        m_entries.erase(it);
    }

    Ve_ContainmentSetElement* tail(const Ve_ContainmentSetElement* level) const
    {
        const auto t = m_tails.find(level);
        return t == m_tails.end() ? nullptr : t->second;
    }

    // The nodes of the level whose boxes may meet the box, in level order;
    // false when the box spans too much of the grid to be worth it.
    bool candidates(const Ve_ContainmentSetElement* level, const QELpar_box& box,
                    std::vector<Ve_ContainmentSetElement*>& out) const
    {
        std::vector<CellKey> cells;
        if (!cellsOf(box, cells))
            return false;
        out.clear();
        for (const CellKey& k : cells)
            if (const auto it = m_cells.find(keyed(level, k)); it != m_cells.end())
                out.insert(out.end(), it->second.begin(), it->second.end());
        if (const auto it = m_unboxed.find(level); it != m_unboxed.end())
            out.insert(out.end(), it->second.begin(), it->second.end());
        std::sort(out.begin(), out.end(), [&](auto* a, auto* b) { return seq(a) < seq(b); });
        out.erase(std::unique(out.begin(), out.end()), out.end());
        return true;
    }

private:
    struct CellKey {
        std::int64_t u, v;
    };
    struct LevelCell {
        const Ve_ContainmentSetElement* level;
        std::int64_t u, v;
        bool operator==(const LevelCell& o) const { return level == o.level && u == o.u && v == o.v; }
    };
    struct LevelCellHash {
        std::size_t operator()(const LevelCell& k) const
        {
            const std::size_t h = std::hash<const void*>()(k.level);
            return h ^ (static_cast<std::size_t>(k.u) * 0x9E3779B97F4A7C15ull) ^ (static_cast<std::size_t>(k.v) * 0xC2B2AE3D27D4EB4Full);
        }
    };
    struct Entry {
        const Ve_ContainmentSetElement* level = nullptr;
        long seq = 0;
        bool boxed = false;
        std::vector<CellKey> cells;
    };
    // A box spanning more cells than this is searched for, or kept, without the grid.
    static constexpr std::int64_t kMaxCells = 256;

    static LevelCell keyed(const Ve_ContainmentSetElement* level, const CellKey& k) { return {level, k.u, k.v}; }

    static void erase(std::vector<Ve_ContainmentSetElement*>& nodes, Ve_ContainmentSetElement* node)
    {
        nodes.erase(std::remove(nodes.begin(), nodes.end(), node), nodes.end());
    }

    long seq(const Ve_ContainmentSetElement* node) const { return m_entries.at(const_cast<Ve_ContainmentSetElement*>(node)).seq; }

    // The cells the box meets, widened by the comparison's fuzz.
    bool cellsOf(const QELpar_box& box, std::vector<CellKey>& cells) const
    {
        if (box.empty())
            return false;
        const double fuzz = 2.0 * Gk_Def::FuzzKnot;
        const double u0 = (box.u_range().start_pt() - fuzz - m_u0) / m_cell, u1 = (box.u_range().end_pt() + fuzz - m_u0) / m_cell;
        const double v0 = (box.v_range().start_pt() - fuzz - m_v0) / m_cell, v1 = (box.v_range().end_pt() + fuzz - m_v0) / m_cell;
        if (!(std::fabs(u0) < 1e15 && std::fabs(u1) < 1e15 && std::fabs(v0) < 1e15 && std::fabs(v1) < 1e15))
            return false;
        const std::int64_t a = static_cast<std::int64_t>(std::floor(u0)), b = static_cast<std::int64_t>(std::floor(u1));
        const std::int64_t c = static_cast<std::int64_t>(std::floor(v0)), d = static_cast<std::int64_t>(std::floor(v1));
        if ((b - a + 1) * (d - c + 1) > kMaxCells)
            return false;
        cells.clear();
        for (std::int64_t u = a; u <= b; ++u)
            for (std::int64_t v = c; v <= d; ++v)
                cells.push_back({u, v});
        return true;
    }

    double m_u0, m_v0, m_cell = 1.0;
    long m_nextSeq = 0;
    std::unordered_map<LevelCell, std::vector<Ve_ContainmentSetElement*>, LevelCellHash> m_cells;
    std::unordered_map<const Ve_ContainmentSetElement*, std::vector<Ve_ContainmentSetElement*>> m_unboxed;
    std::unordered_map<Ve_ContainmentSetElement*, Entry> m_entries;
    // The node added last to each level, which is its last node until it leaves.
    std::unordered_map<const Ve_ContainmentSetElement*, Ve_ContainmentSetElement*> m_tails;
};

Ve_ContainmentClassifier::Ve_ContainmentClassifier() = default;

Ve_ContainmentClassifier::~Ve_ContainmentClassifier()
{
    freeNodes(m_top);
    freeNodes(m_failures);
}

bool Ve_ContainmentClassifier::separatingBox(const Ve_BoundaryElement&, QELpar_box&) const { return false; }

void Ve_ContainmentClassifier::beginIndexedInsertion(const QELpar_box& extent, int elements)
{
    if (extent.empty())
        return;
    m_index = std::make_unique<Ve_ContainmentLevelIndex>(extent, elements);
    // Nodes already in the tree join their levels in level order.
    std::vector<Ve_ContainmentSetElement*> level;
    std::vector<Ve_ContainmentSetElement*> heads;
    if (m_top)
        heads.push_back(m_top);
    while (!heads.empty()) {
        Ve_ContainmentSetElement* head = heads.back();
        heads.pop_back();
        for (Ve_ContainmentSetElement* n = head; n; n = n->next()) {
            indexAdd(n);
            if (n->child())
                heads.push_back(n->child());
        }
    }
}

void Ve_ContainmentClassifier::endIndexedInsertion() { m_index.reset(); }

void Ve_ContainmentClassifier::indexAdd(Ve_ContainmentSetElement* node)
{
    if (!m_index)
        return;
    QELpar_box box;
    const bool boxed = separatingBox(node->element(), box);
    m_index->add(node, boxed ? &box : nullptr);
}

void Ve_ContainmentClassifier::indexMove(Ve_ContainmentSetElement* node)
{
    if (!m_index)
        return;
    m_index->remove(node);
    indexAdd(node);
}

bool Ve_ContainmentClassifier::indexCandidates(const Ve_ContainmentSetElement* levelParent,
                                               const Ve_BoundaryElement& element,
                                               std::vector<Ve_ContainmentSetElement*>& nodes) const
{
    QELpar_box box;
    return m_index && separatingBox(element, box) && m_index->candidates(levelParent, box, nodes);
}

Ve_ContainmentSetElement* Ve_ContainmentClassifier::indexTail(const Ve_ContainmentSetElement* levelParent) const
{
    return m_index ? m_index->tail(levelParent) : nullptr;
}
