// Point wires (wires of vertices only) as acorn bodies, one per vertex, or as
// one polyline body per point wire.
#include "import/wire_creator.hxx"

#include "import/brep_importer.hxx"
#include "import/source_names.hxx"
#include "model/kernel_call_bracket.hxx"
#include "qelx/qelx_attribute_exporter.hxx"
#include "qelx/qelx_brep_exporter.hxx"
#include "qelx/qelx_events.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "velm/geometry.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace {

VERTEX* newPointVertex(const QELXPoint3D& p)
{
    APOINT* point = velm_require(new (0, "QELXVelmWireCreator", __LINE__, nullptr) APOINT(p.x(), p.y(), p.z()));
    return velm_require(new (0, "QELXVelmWireCreator", __LINE__, nullptr) VERTEX(point));
}

// An edge from the vertex to itself without a curve, as a point is held.
EDGE* newAcornEdge(VERTEX* vertex)
{
    return velm_require(new (0, "QELXVelmWireCreator", __LINE__, nullptr)
                            EDGE(vertex, vertex, nullptr, REVERSED, EDGE_cvty_unknown, nullptr));
}

} // namespace

void QELXVelmWireCreator::CreateAcornBodies(Ve_CocoonTagHandle& out, const QELXIdentifier& body)
{
    if (!openRoad(out, true))
        return;
    QELXBRepExporter* x = GetExporter();
    if (Ve_OptionDoc::isOn(Ve_OptionDoc::PsetToPolyline)) {
        // Without an attribute exporter there is no point-set name to ask for.
        QELXAttributeExporter* attributes = GetAttributeExporter();
        QELXString pset;
        if (attributes && attributes->GetVdaPSETIdentifier(body, pset) == QELI_OK)
            CreatePolylineBody(out, body);
        return;
    }
    int wires = 0;
    x->GetNumberOfPointWiresFromBody(body, wires);
    const Gk_ObsWraper vertexCallback = GetWireVertexCallback();
    const Gk_ObsWraper bodyCallback = GetWireBodyCallback();
    const Switches on;
    Ve_CocoonTag* cocoon = out.get();
    const outcome built = velmCall([&] {
        for (int i = 0; i < wires; ++i) {
            QELXIdentifier wire;
            x->GetPointWireFromBody(body, i, wire);
            int n = 0;
            x->GetNumberOfVerticesFromWire(wire, n);
            for (int j = 0; j < n; ++j) {
                QELXIdentifier source;
                int index = j;
                x->GetVertexFromWire(wire, index, source);
                QELXPoint3D p;
                if (!GetSourcePoint(source, p)) {
                    QELXWarningEvent::Fire((sourceEntityName("vertex", source) + " of " + sourceEntityName("body", body) +
                                            ": left out of its points, its point is not finite")
                                               .c_str());
                    continue;
                }
                VERTEX* vertex = newPointVertex(p);
                EDGE* edge = newAcornEdge(vertex);
                BODY* made = nullptr;
                const outcome wired = api_make_ewire(1, &edge, made);
                if (!wired.ok())
                    sys_error(wired.error_number(), wired.get_error_info());
                cocoon->appendBody(ve_view<Ve_BodyTag>(made));
                Gk_ObsWraper(vertexCallback).setEntityCallback(reinterpret_cast<const void*>(source.GetValue()), vertex);
                Gk_ObsWraper(bodyCallback).setEntityCallback(reinterpret_cast<const void*>(body.GetValue()), made);
                if (on.attributes) {
                    attributeStep(vertex, source);
                    attributeStep(made, body);
                    TransferAliases(source, vertex);
                    TransferAliases(body, made);
                }
                resultEvent(source, vertex, QELXBRepExporter::QELXBRepTypeVertex);
                resultEvent(body, made, QELXBRepExporter::QELXBRepTypeBody);
                pidAndPNameSteps(vertex, source, 1);
                layerStep(vertex, source, -1);
                if (Ve_OptionDoc::isOn(Ve_OptionDoc::OutputAcornBodyAsVERTEX))
                    layerStep(vertex, body, -1);
                else
                    layerStep(made, body, -1);
                psetAndMdiStep(made, body);
                x->ReleaseGeometry(source, QELXReleasePoint);
            }
        }
    });
    finishRoad(built, cocoon, body, false);
}

void QELXVelmWireCreator::CreatePolylineBody(Ve_CocoonTagHandle& out, const QELXIdentifier& sourceBody)
{
    if (!openRoad(out, true))
        return;
    QELXBRepExporter* x = GetExporter();
    int wires = 0;
    x->GetNumberOfPointWiresFromBody(sourceBody, wires);
    const Gk_ObsWraper bodyCallback = GetWireBodyCallback();
    const Switches on;
    Ve_CocoonTag* cocoon = out.get();
    const QELXIdentifier body = sourceBody;
    const outcome built = velmCall([&] {
        for (int i = 0; i < wires; ++i) {
            QELXDynamicArray<EDGE*> edges;
            QELXIdentifier wire;
            x->GetPointWireFromBody(body, i, wire);
            int n = 0;
            x->GetNumberOfVerticesFromWire(wire, n);
            // The points that are numbers, in order: one that is not is
            // left out, said, and the polyline runs on from the point before
            // it (never along a line through a point it did not keep).
            std::vector<std::pair<QELXIdentifier, QELXPoint3D>> points;
            for (int j = 0; j < n; ++j) {
                QELXIdentifier source;
                QELXPoint3D p;
                int index = j;
                x->GetVertexFromWire(wire, index, source);
                if (GetSourcePoint(source, p))
                    points.emplace_back(source, p);
                else
                    QELXWarningEvent::Fire((sourceEntityName("vertex", source) + " of " +
                                            sourceEntityName("body", body) +
                                            ": left out of its polyline, its point is not finite")
                                               .c_str());
            }
            // Each segment made starts at the end vertex of the one before;
            // a segment shorter than the kernel's resolution is skipped.
            VERTEX* last = nullptr;
            QELXPoint3D lastPoint;
            for (std::size_t j = 0; j + 1 < points.size(); ++j) {
                const auto& [a, pa] = points[j];
                const auto& [b, pb] = points[j + 1];
                const QELXPoint3D d(pb.x() - pa.x(), pb.y() - pa.y(), pb.z() - pa.z());
                const double length = std::sqrt(d.x() * d.x() + d.y() * d.y() + d.z() * d.z());
                if (length < QELresabs)
                    continue;
                if (!last) {
                    last = newPointVertex(pa);
                    lastPoint = pa;
                    FinishPointVertex(last, a, body);
                }
                const straight line(QELposition(pa.x(), pa.y(), pa.z()),
                                    QELunit_vector(d.x() / length, d.y() / length, d.z() / length), 1.0);
                const double t0 = line.param(QELposition(lastPoint.x(), lastPoint.y(), lastPoint.z()));
                const double t1 = line.param(QELposition(pb.x(), pb.y(), pb.z()));
                VERTEX* end = newPointVertex(pb);
                const QELinterval range(std::min(t0, t1), std::max(t0, t1));
                EDGE* edge = velm_require(new (0, "QELXVelmWireCreator", __LINE__, nullptr)
                                              EDGE(last, end, make_curve(line), t1 > t0 ? FORWARD : REVERSED,
                                                   EDGE_cvty_unknown, &range));
                velm_require(new (0, "QELXVelmWireCreator", __LINE__, nullptr) COEDGE(edge, FORWARD));
                edges.Add(edge);
                FinishPointVertex(end, b, body);
                last = end;
                lastPoint = pb;
            }
            // One point, or points that all coincide: one curveless edge on
            // one vertex, so that the point is not lost. A point wire without
            // a usable point makes no body.
            if (edges.Count() == 0 && !points.empty()) {
                last = newPointVertex(points[0].second);
                FinishPointVertex(last, points[0].first, body);
                EDGE* edge = newAcornEdge(last);
                velm_require(new (0, "QELXVelmWireCreator", __LINE__, nullptr) COEDGE(edge, FORWARD));
                edges.Add(edge);
            }
            if (edges.Count() == 0)
                continue;
            BODY* made = velm_require(new (0, "QELXVelmWireCreator", __LINE__, nullptr) BODY());
            WIRE* chain = MakeWireFromCoedges(edges);
            SHELL* shell = velm_require(new (0, "QELXVelmWireCreator", __LINE__, nullptr) SHELL());
            shell->set_wire(chain);
            chain->set_shell(shell);
            LUMP* lump = velm_require(new (0, "QELXVelmWireCreator", __LINE__, nullptr) LUMP(shell, nullptr));
            made->set_lump(lump);
            lump->set_body(made);
            cocoon->appendBody(ve_view<Ve_BodyTag>(made));
            Gk_ObsWraper(bodyCallback).setEntityCallback(reinterpret_cast<const void*>(body.GetValue()), made);
            if (on.attributes) {
                attributeStep(made, body);
                TransferAliases(body, made);
            }
            resultEvent(body, made, QELXBRepExporter::QELXBRepTypeBody);
            layerStep(made, body, -1);
            psetAndMdiStep(made, body);
        }
    });
    finishRoad(built, cocoon, body, false);
}

void QELXVelmWireCreator::FinishPointVertex(VERTEX* vertex, const QELXIdentifier& source, const QELXIdentifier& body)
{
    const Switches on;
    if (on.attributes) {
        attributeStep(vertex, source);
        TransferAliases(source, vertex);
    }
    resultEvent(source, vertex, QELXBRepExporter::QELXBRepTypeVertex);
    pidAndPNameSteps(vertex, source, 1);
    layerStep(vertex, source, -1);
    if (Ve_OptionDoc::isOn(Ve_OptionDoc::OutputAcornBodyAsVERTEX))
        layerStep(vertex, body, -1);
    if (GetExporter())
        GetExporter()->ReleaseGeometry(source, QELXReleasePoint);
}

WIRE* QELXVelmWireCreator::MakeWireFromCoedges(const QELXDynamicArray<EDGE*>& edges)
{
    if (edges.Count() == 0)
        return nullptr;
    WIRE* wire = velm_require(new (0, "QELXVelmWireCreator", __LINE__, nullptr) WIRE());
    COEDGE* previous = nullptr;
    for (EDGE* edge : edges) {
        COEDGE* coedge = edge->coedge();
        coedge->set_wire(wire);
        // Both links, so that the kernel can walk the chain either way.
        if (previous) {
            previous->set_next(coedge);
            coedge->set_previous(previous);
        }
        previous = coedge;
    }
    // One curveless edge on one vertex is a ring of one.
    COEDGE* first = edges[0]->coedge();
    if (edges.Count() == 1 && first->start() == first->end()) {
        first->set_next(first);
        first->set_previous(first);
    }
    wire->set_coedge(first);
    return wire;
}
