#include "geometry/surface_law.hxx"

#include <algorithm>

#include "model/memory_init.hxx"
#include "qelx/qelx_math.hxx"

namespace {
// The law's kind, taken from the kernel on first use.
int g_lawId = 0;
} // namespace

Ve_GkSurfaceLaw::CacheData::CacheData() : flat(2) {}

Ve_GkSurfaceLaw::CacheData::CacheData(const CacheData& other)
    : QELXReferenceCount(other), point(other.point), flat(other.flat), filled(other.filled)
{
}

Ve_GkSurfaceLaw::CacheData::~CacheData() = default;

Ve_GkSurfaceLaw::Ve_GkSurfaceLaw(Gk_Surface3Handle surface)
    : unary_data_law(nullptr), m_cache(new CacheData), m_surface(surface)
{
}

Ve_GkSurfaceLaw::Ve_GkSurfaceLaw(Gk_Surface3Handle surface, CacheDataHandle cache, const int& uOrder,
                                 const int& vOrder)
    : unary_data_law(nullptr), m_cache(cache), m_surface(surface), m_uOrder(uOrder), m_vOrder(vOrder),
      m_cacheValid(true)
{
}

Ve_GkSurfaceLaw::Ve_GkSurfaceLaw(const Ve_GkSurfaceLaw& other)
    : unary_data_law(nullptr), m_cache(other.m_cache), m_surface(other.m_surface), m_uOrder(other.m_uOrder),
      m_vOrder(other.m_vOrder), m_cacheValid(other.m_cacheValid)
{
}

Ve_GkSurfaceLaw& Ve_GkSurfaceLaw::operator=(const Ve_GkSurfaceLaw& other)
{
    law::operator=(other);
    m_cache = other.m_cache;
    m_surface = other.m_surface;
    m_uOrder = other.m_uOrder;
    m_vOrder = other.m_vOrder;
    m_cacheValid = other.m_cacheValid;
    return *this;
}

Ve_GkSurfaceLaw::~Ve_GkSurfaceLaw() = default;

int Ve_GkSurfaceLaw::id()
{
    if (g_lawId == 0)
        g_lawId = new_law_id();
    return g_lawId;
}

bool Ve_GkSurfaceLaw::isa(int t) const { return t == id() || law::isa(t); }

law* Ve_GkSurfaceLaw::deriv(int which) const
{
    if (which == 0)
        return VELM_NEW Ve_GkSurfaceLaw(m_surface, m_cache, m_uOrder + 1, m_vOrder);
    if (which == 1)
        return VELM_NEW Ve_GkSurfaceLaw(m_surface, m_cache, m_uOrder, m_vOrder + 1);
    return nullptr;
}

bool Ve_GkSurfaceLaw::validateCache(const QELXPoint2D& p) const
{
    const CacheData& cache = *m_cache;
    return m_cacheValid && cache.filled && Gk_Func::equal(p.Distance(cache.point), 0.0, Gk_Def::FuzzPos) &&
           std::max(m_uOrder, m_vOrder) < cache.flat.size();
}

void Ve_GkSurfaceLaw::evaluate(const double* x, double* answer) const
{
    const QELXPoint2D p(x[0], x[1]);
    CacheData& cache = *m_cache;
    if (!validateCache(p)) {
        const int k = std::max(m_uOrder, m_vOrder);
        if (k >= cache.flat.size())
            cache.flat = Gk_Flat3(k + 1);
        if (m_surface.IsValid())
            m_surface->eval(p, &cache.flat);
        m_cacheValid = true;
        cache.point = p;
        cache.filled = true;
    }
    const QELXPoint3D& d = cache.flat.derivative(m_uOrder, m_vOrder);
    answer[0] = d.x();
    answer[1] = d.y();
    answer[2] = d.z();
}
