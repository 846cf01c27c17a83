#pragma once
// Points in space hashed into cubic cells, so that the coedges starting
// near a point are found without looking at all of them.
#include <cmath>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "qelx/qelx_math.hxx"

class StitchGrid {
public:
    // Queries reach at least `cell` from the point asked.
    explicit StitchGrid(double cell) : m_cell(cell > 0.0 ? cell : 1.0) {}

    void insert(const QELXPoint3D& p, int id) { m_cells[key(p.x(), p.y(), p.z())].push_back(id); }

    // Every id inserted within the 3 x 3 x 3 cells around p (a superset of
    // those within `cell` of p), in insertion order per cell.
    template <class F>
    void near(const QELXPoint3D& p, F&& visit) const
    {
        const std::int64_t i = index(p.x()), j = index(p.y()), k = index(p.z());
        for (std::int64_t di = -1; di <= 1; ++di)
            for (std::int64_t dj = -1; dj <= 1; ++dj)
                for (std::int64_t dk = -1; dk <= 1; ++dk) {
                    const auto it = m_cells.find(pack(i + di, j + dj, k + dk));
                    if (it == m_cells.end())
                        continue;
                    for (int id : it->second)
                        visit(id);
                }
    }

private:
    std::int64_t index(double x) const
    {
        // Coordinates that are not numbers, or far out, share the outermost cells.
        const double c = std::floor(x / m_cell);
        if (!(c > -1e15))
            return static_cast<std::int64_t>(-1e15);
        return c < 1e15 ? static_cast<std::int64_t>(c) : static_cast<std::int64_t>(1e15);
    }
    static std::uint64_t pack(std::int64_t i, std::int64_t j, std::int64_t k)
    {
        // Spread each coordinate before combining, so that neighbouring cells differ in every byte.
        auto mix = [](std::uint64_t x) {
            x ^= x >> 33;
            x *= 0xff51afd7ed558ccdULL;
            x ^= x >> 33;
            return x;
        };
        return mix(static_cast<std::uint64_t>(i)) ^ (mix(static_cast<std::uint64_t>(j)) * 31) ^
               (mix(static_cast<std::uint64_t>(k)) * 1000003);
    }
    std::uint64_t key(double x, double y, double z) const { return pack(index(x), index(y), index(z)); }

    double m_cell;
    // Distinct cells may share a packed key; the visitors check what they get.
    std::unordered_map<std::uint64_t, std::vector<int>> m_cells;
};
