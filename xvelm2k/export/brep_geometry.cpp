// Geometry handles: the framework object of a face's surface, an edge's curve,
// a coedge's pcurve and a vertex's point, cached under the topology entity's
// identifier until the framework releases it, and named by a geometry
// identifier that the geometry exporter reads.
#include "export/brep_exporter.hxx"
#include "export/brep_internal.hxx"
#include "geometry/curve_adapters.hxx"
#include "geometry/surface_view.hxx"
#include "model/memory_init.hxx"
#include "model/views_internal.hxx"
#include "velm/query.hxx"

using namespace ve_views;
using namespace ve_export;

namespace {


// The cached handle of the entity, or a new one from the view. An empty
// cached handle counts as absent and is overwritten by the view's answer.
template <class Handle, class Make>
Handle cachedOrMade(QELXHashMap<QELXIdentifier, Handle>& cache, const QELXIdentifier& key, Make make)
{
    Handle handle;
    cache.Get(key, handle);
    if (handle.IsValid())
        return handle;
    handle = make();
    if (!cache.Set(key, handle))
        cache.Add(key, handle);
    return handle;
}

template <class Kernel, class Handle, class Make>
QELIResult geometryQuery(QELXHashMap<QELXIdentifier, Handle>& cache, const QELXIdentifier& entity,
                         QELXIdentifier& out, const char* type, QELXRepresentation* owner, const char* typeName,
                         Make make)
{
    if (!entity.IsValid())
        return kInvalid;
    Kernel* kernel = as<Kernel>(entity);
    if (!kernel)
        return kNotFound;
    const Handle handle = cachedOrMade(cache, entity, [&] { return make(kernel); });
    if (!handle.IsValid())
        return kNotFound;
    out = QELXIdentifier(static_cast<std::uint64_t>(handle->GetPersistentIdentifier()), type, owner, typeName);
    return out.IsValid() ? QELI_OK : kNotFound;
}

template <class Handle>
void release(QELXHashMap<QELXIdentifier, Handle>& cache, const QELXIdentifier& key)
{
    if (cache.Set(key, Handle()))
        cache.Remove(key);
}

// The coedge's pcurve. A surface without exact form goes out as a B-spline
// net made over the face's box in the surface's own (u, v), so the kernel
// pcurve lies on that net within its fit: the coedge keeps it there too, or
// a reader could not bound the face.
QELXCurve2DHandle pcurveOf(COEDGE* c)
{
    const FACE* f = c->loop() ? c->loop()->face() : nullptr;
    if (!f || !hasSurface(f))
        return QELXCurve2DHandle();
    Ve_CoedgeTag* coedge = ve_view<Ve_CoedgeTag>(c);
    QELXCurve2DHandle own = coedge->GetPCurve();
    PCURVE* kernel = c->geometry();
    if (own.IsValid() || !kernel || !kernel->has_equation() || !ve_view<Ve_SurfaceTag>(f->geometry())->isApproximated())
        return own;
    return QELXCurve2D::Create(QELXBaseCurve2DHandle(new Ve_BasePCurve(Ve_PCurveTag::view(kernel), coedge->getDomain())),
                               Gk_LinMap());
}

} // namespace

QELIResult QELXVelmBRepExporter::GetFaceSurface(const QELXIdentifier& face, QELXIdentifier& surface)
{
    return geometryQuery<FACE>(m_surfaces, face, surface, QELXGeometryExporter::QELXGeometryTypeSurface,
                               m_geometryExporter, "Gk_Surface3",
                               [](FACE* f) {
                                   return hasSurface(f) ? ve_view<Ve_FaceTag>(f)->GetSurface() : Gk_Surface3Handle();
                               });
}

QELIResult QELXVelmBRepExporter::GetFaceAnalyticSurface(const QELXIdentifier& face, QELXIdentifier& surface)
{
    return geometryQuery<FACE>(m_analyticSurfaces, face, surface, QELXGeometryExporter::QELXGeometryTypeSurface,
                               this, "Ve_Surface",
                               [](FACE* f) { return ve_view<Ve_FaceTag>(f)->GetSurfaceAnalytic(); });
}

QELIResult QELXVelmBRepExporter::GetEdgeCurve(const QELXIdentifier& edge, QELXIdentifier& curve)
{
    return geometryQuery<EDGE>(m_curves, edge, curve, QELXGeometryExporter::QELXGeometryTypeCurve, m_geometryExporter,
                               "QELXCurve3D", [](EDGE* e) {
                                   return hasCurve(e) ? ve_view<Ve_EdgeTag>(e)->GetCurve() : QELXCurve3DHandle();
                               });
}

QELIResult QELXVelmBRepExporter::GetCoedgePCurve(const QELXIdentifier& coedge, QELXIdentifier& pcurve)
{
    return geometryQuery<COEDGE>(m_pcurves, coedge, pcurve, QELXGeometryExporter::QELXGeometryTypePCurve,
                                 m_geometryExporter, "QELXCurve2D",
                                 [](COEDGE* c) { return pcurveOf(c); });
}

QELIResult QELXVelmBRepExporter::GetVertexPoint(const QELXIdentifier& vertex, QELXIdentifier& point)
{
    if (!vertex.IsValid())
        return kInvalid;
    const VERTEX* v = as<VERTEX>(vertex);
    if (!v)
        return 0;
    const QELXPoint3D position = ve_view<Ve_VertexTag>(v)->getPoint();
    const QELXPoint3DHandle handle =
        cachedOrMade(m_points, vertex, [&] { return QELXPoint3DHandle(new QELXRefPoint3D(position)); });
    if (handle.IsValid())
        point = QELXIdentifier(handle.get(), QELXGeometryExporter::QELXGeometryTypePoint, this, "Ve_Point");
    return 0;
}

QELIResult QELXVelmBRepExporter::ReleaseGeometry(const QELXIdentifier& entity, int kind)
{
    switch (kind) {
    case 0:
        release(m_points, entity);
        break;
    case 1:
        release(m_curves, entity);
        break;
    case 2:
        release(m_pcurves, entity);
        break;
    case 4:
        release(m_surfaces, entity);
        break;
    default:
        break;
    }
    return kNotFound;
}

void QELXVelmBRepExporter::dropGeometryOf(ENTITY* body)
{
    auto dropAll = [&](ListQuery q, auto&... caches) {
        const ENTITY_LIST list = query(q, body);
        for (int i = 0, n = list.count(); i < n; ++i) {
            if (!list[i])
                continue;
            const QELXIdentifier key(QELXVelmEntityUtils::GetIdentifier(list[i]), "", nullptr, "");
            (release(caches, key), ...);
        }
    };
    dropAll(api_get_faces, m_surfaces, m_analyticSurfaces);
    dropAll(api_get_edges, m_curves);
    dropAll(api_get_coedges, m_pcurves);
    dropAll(api_get_vertices, m_points);
}
