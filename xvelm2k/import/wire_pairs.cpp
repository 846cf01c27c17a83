// The catalogue pairs of wire import: a source wire edge becomes a kernel edge
// with its end vertices, curve and one coedge; a source wire vertex a kernel
// vertex with its point, which then links the coedges meeting at it.
#include "model/memory_init.hxx"
#include "import/brep_creator.hxx"
#include "import/import_catalogues.hxx"
#include "qelx/gk_import.hxx"
#include "qelx/qelx_brep_exporter.hxx"
#include "qelx/qelx_geometry_exporter.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/topology.hxx"

#include <cmath>

// An edge or vertex the kernel cannot allocate raises its out-of-memory
// error: the wire would otherwise be made of the rest, one edge short.
QELXCatalogue::PairHandle QELXVelmWEdgeCatalogue::NewPair(const KeyHandle& key)
{
    return key.get() ? wrap(key, velm_require(new (0, "QELXVelmWEdgePair", __LINE__, nullptr) EDGE())) : PairHandle();
}

QELXCatalogue::PairHandle QELXVelmWVertexCatalogue::NewPair(const KeyHandle& key)
{
    return key.get() ? wrap(key, velm_require(new (0, "QELXVelmWVertexPair", __LINE__, nullptr) VERTEX(nullptr)))
                     : PairHandle();
}

// ---- wire vertex

void QELXVelmWVertexPair::Connect()
{
    const auto [creator, x, vertex] = parts<VERTEX>();
    if (!vertex)
        return;
    // A point that is not a number gives no point: the body's check then
    // refuses the body rather than carry a vertex nowhere.
    if (QELXPoint3D p; creator->GetSourcePoint(source(), p))
        vertex->set_geometry(velm_require(new (0, "QELXVelmWVertexPair", __LINE__, nullptr)
                                              APOINT(p.x(), p.y(), p.z())));
}

namespace {

// Calls fn(edge) for every catalogued wire edge at the source vertex, in the
// source's order.
template <class Fn>
void forEachEdgeAt(QELXVelmBRepCreator* creator, QELXBRepExporter* x, const QELXIdentifier& vertex, Fn&& fn)
{
    int n = 0;
    x->GetNumberOfEdgesFromVertex(vertex, n);
    for (int i = 0; i < n; ++i) {
        QELXIdentifier edgeId;
        int index = i;
        x->GetEdgeFromVertex(vertex, index, edgeId);
        if (EDGE* edge = creator->GetEdge(edgeId, false))
            fn(edge);
    }
}

// Links `after` behind `before` in a wire chain. A coedge is linked to itself
// only when its edge is closed (a ring of one): the kernel leaves the free end
// of an open wire without next and previous.
void linkNext(COEDGE* before, COEDGE* after)
{
    if (before != after || before->start() == before->end())
        before->set_next(after);
}
void linkPrevious(COEDGE* after, COEDGE* before)
{
    if (before != after || after->start() == after->end())
        after->set_previous(before);
}

} // namespace

void QELXVelmWVertexPair::Create()
{
    const auto [creator, x, vertex] = parts<VERTEX>();
    if (!vertex)
        return;
    if (Ve_OptionDoc::isOn(Ve_OptionDoc::CreateSingleEdgeWires)) {
        LinkSingleEdges();
        return;
    }
    COEDGE* previous = nullptr;
    bool previousStartsHere = true, previousEndsHere = true;
    forEachEdgeAt(creator, x, source(), [&](EDGE* edge) {
        if (vertex->count_edges() == 0)
            vertex->set_edge(edge);
        COEDGE* coedge = edge->coedge();
        if (!coedge)
            return;
        if (previous) {
            if (previousStartsHere)
                linkPrevious(previous, coedge);
            if (previousEndsHere)
                linkNext(previous, coedge);
        }
        previousStartsHere = coedge->start() == vertex;
        previousEndsHere = coedge->end() == vertex;
        previous = coedge;
    });
    COEDGE* first = vertex->edge() ? vertex->edge()->coedge() : nullptr;
    if (previous && first) {
        if (previousStartsHere)
            linkPrevious(previous, first);
        if (previousEndsHere)
            linkNext(previous, first);
    }
}

void QELXVelmWVertexPair::LinkSingleEdges()
{
    const auto [creator, x, vertex] = parts<VERTEX>();
    if (!vertex)
        return;
    forEachEdgeAt(creator, x, source(), [&](EDGE* edge) {
        vertex->add_edge(edge);
        if (COEDGE* coedge = edge->coedge()) {
            linkNext(coedge, coedge);
            linkPrevious(coedge, coedge);
        }
    });
}

// ---- wire edge

void QELXVelmWEdgePair::Connect()
{
    const auto [creator, x, edge] = parts<EDGE>();
    if (!edge)
        return;
    connectEdgeVertices(edge);
    creator->TransferAliases(source(), edge);
}

void QELXVelmWEdgePair::Create()
{
    const auto [creator, x, edge] = parts<EDGE>();
    if (!edge)
        return;
    QELXGeometryExporter* geometry = nullptr;
    x->GetGeometryExporter(geometry);
    if (!geometry || importEdgeCurve(edge, geometry) == EdgeCurveRoad::NotRead)
        return;
    COEDGE* coedge = velm_require(new (0, "QELXVelmWEdgePair", __LINE__, nullptr) COEDGE(edge, FORWARD));
    // A closed edge whose vertex its curve gave (the source has none) meets
    // no vertex pair to link it: it is a ring of one, as one with a vertex is.
    QELXIdentifier start;
    x->GetStartVertexFromEdge(source(), start);
    if (!start.IsValid() && edge->start() && edge->start() == edge->end()) {
        linkNext(coedge, coedge);
        linkPrevious(coedge, coedge);
    }
}
