#include "import/wire_creator.hxx"

#include "import/brep_importer.hxx"
#include "model/kernel_call_bracket.hxx"
#include "persist/brep_attrib_transfer.hxx"
#include "qelx/qelx_attribute_exporter.hxx"
#include "qelx/qelx_brep_exporter.hxx"
#include "qelx/qelx_events.hxx"
#include "qelx/qelx_geometry_exporter.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "velm/lists.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <vector>

QELXVelmWireCreator::QELXVelmWireCreator(QELXBRepExporter* exporter, Gk_ImportContext* context,
                                         QELXVelmBRepImporter* importer)
    : QELXVelmBRepCreator(exporter, context, importer), m_wireEdges(this), m_wireVertices(this)
{
}

QELXVelmWireCreator::~QELXVelmWireCreator() = default;

namespace {

// An exporter may label the edges and vertices it hands out of a wire with
// the wire's type (this connector's own does) and the same entities met
// from a vertex or an edge with their own: one entity is keyed under one
// type whichever question named it.
QELXIdentifier keyedAs(const QELXIdentifier& id, const char* type)
{
    return QELXIdentifier(id.GetValue(), type, id.GetOwner(), id.GetTypeName());
}

} // namespace

VERTEX* QELXVelmWireCreator::GetVertex(const QELXIdentifier& vertex)
{
    if (!vertex.IsValid())
        return nullptr;
    const QELXIdentifier key = keyedAs(vertex, QELXBRepExporter::QELXBRepTypeVertex);
    return static_cast<VERTEX*>(catalogueEntity(m_wireVertices.FindOrCreateItem(catalogueKey(key))));
}

EDGE* QELXVelmWireCreator::GetEdge(const QELXIdentifier& edge, bool create)
{
    const QELXIdentifier key = keyedAs(edge, QELXBRepExporter::QELXBRepTypeEdge);
    if (create)
        return static_cast<EDGE*>(catalogueEntity(m_wireEdges.FindOrCreateItem(catalogueKey(key))));
    QELXItemHandle item;
    return m_wireEdges.Find(catalogueKey(key), item) ? static_cast<EDGE*>(catalogueEntity(item)) : nullptr;
}

Gk_ObsWraper QELXVelmWireCreator::GetWireVertexCallback() const
{
    return GetImportContext() ? callbackFor("WireVertex") : Gk_ObsWraper();
}

Gk_ObsWraper QELXVelmWireCreator::GetWireEdgeCallback() const
{
    return GetImportContext() ? callbackFor("WireEdge") : Gk_ObsWraper();
}

Gk_ObsWraper QELXVelmWireCreator::GetWireBodyCallback() const
{
    return GetImportContext() ? callbackFor("WireBody") : Gk_ObsWraper();
}

// ---- shared steps

void QELXVelmWireCreator::attributeStep(ENTITY* entity, const QELXIdentifier& source) const
{
    Ve_AttribTransfer::transferAttributes(entity, source, GetAttributeExporter(),
                                          Ve_OptionDoc::isOn(Ve_OptionDoc::TransferLayer));
}

void QELXVelmWireCreator::pidAndPNameSteps(ENTITY* entity, const QELXIdentifier& source, int bit) const
{
    const Switches on;
    if (on.pid & bit)
        Ve_AttribTransfer::transferPIDAttribute(entity, source, GetAttributeExporter());
    if (on.pname & bit)
        Ve_AttribTransfer::transferPNameAttribute(entity, source, GetAttributeExporter());
}

void QELXVelmWireCreator::layerStep(ENTITY* entity, const QELXIdentifier& source, int referenceLayer) const
{
    if (!Ve_OptionDoc::isOn(Ve_OptionDoc::TransferLayer) || !GetImporter())
        return;
    if (QELXVelmLayerImporter* layers = GetImporter()->GetLayerImporter())
        layers->ImportEntityLayer(entity, source, GetAttributeExporter(), referenceLayer);
}

void QELXVelmWireCreator::psetAndMdiStep(BODY* body, const QELXIdentifier& source) const
{
    QELXAttributeExporter* attributes = GetAttributeExporter();
    if (!attributes || !attributes->IsCorvaneExporter())
        return;
    QELXString pset;
    if (attributes->GetVdaPSETIdentifier(source, pset) == QELI_OK)
        QELXVelmBRepAttribTransfer::SetPSETIndentifier(body, pset);
    QELXString mdi;
    if (attributes->GetVdaMDIIdentifier(source, mdi) == QELI_OK)
        QELXVelmBRepAttribTransfer::SetMDIIndentifier(body, mdi);
}

void QELXVelmWireCreator::resultEvent(const QELXIdentifier& source, ENTITY* entity, const char* type)
{
    QELXEndTranslateEntityEvent::Fire(0, source, QELXIdentifier(entity, type, nullptr, "ENTITY"));
}

bool QELXVelmWireCreator::openRoad(Ve_CocoonTagHandle& out, bool needsGeometry)
{
    QELXGeometryExporter* geometry = nullptr;
    if (GetExporter() && needsGeometry)
        GetExporter()->GetGeometryExporter(geometry);
    if (!GetExporter() || (needsGeometry && !geometry)) {
        out = Ve_CocoonTagHandle();
        return false;
    }
    out = Ve_CocoonTagHandle(new Ve_CocoonTag());
    return true;
}

void QELXVelmWireCreator::finishRoad(const outcome& built, Ve_CocoonTag* cocoon, const QELXIdentifier& body,
                                     bool catalogued)
{
    // Only the wire road fills the catalogues; the point-wire roads make
    // every vertex afresh and must leave the wire road's entries alone.
    const std::initializer_list<QELXCatalogue*> none = {};
    const std::initializer_list<QELXCatalogue*> wires = {&m_wireEdges, &m_wireVertices};
    if (!built.ok()) {
        // The road's cocoon is its own, so everything in it went with the board.
        forgetAfterRollback(cocoon, catalogued ? wires : none, 0);
        warnNotImported(body, "the kernel failed while building its wires");
        return;
    }
    std::vector<BODY*> refused;
    dropBadBodies(cocoon, body, 0, refused);
    discardOrphans(cocoon, catalogued ? wires : none, refused);
}

// ---- wire bodies

void QELXVelmWireCreator::CreateWireBodies(Ve_CocoonTagHandle& out, const QELXIdentifier& sourceBody)
{
    if (!openRoad(out, false))
        return;
    QELXBRepExporter* x = GetExporter();
    int wires = 0;
    x->GetNumberOfWiresFromBody(sourceBody, wires);
    const QELXIdentifier body = sourceBody;
    QELXDynamicArray<QELXIdentifier> edges;
    for (int i = 0; i < wires; ++i) {
        QELXIdentifier wire;
        x->GetWireFromBody(body, i, wire);
        int n = 0;
        x->GetNumberOfEdgesFromWire(wire, n);
        for (int j = 0; j < n; ++j) {
            QELXIdentifier edge;
            int index = j;
            x->GetEdgeFromWire(wire, index, edge);
            edges.Add(edge);
        }
    }
    if (edges.Count() == 0)
        return;
    Ve_CocoonTag* cocoon = out.get();
    const outcome built = velmCall([&] {
        for (const QELXIdentifier& edge : edges) {
            GetEdge(edge, true);
            QELXIdentifier start, end;
            x->GetStartVertexFromEdge(edge, start);
            x->GetEndVertexFromEdge(edge, end);
            GetVertex(start);
            GetVertex(end);
        }
        BODY* kernelBody = velm_require(new (0, "QELXVelmWireCreator", __LINE__, nullptr) BODY());
        CreateWirePairs();
        WIRE* wire = MakeWires(edges, !Ve_OptionDoc::isOn(Ve_OptionDoc::CreateSingleEdgeWires));
        SHELL* firstShell = nullptr;
        SHELL* lastShell = nullptr;
        while (wire) {
            WIRE* next = wire->next();
            wire->set_next(nullptr);
            SHELL* shell = velm_require(new (0, "QELXVelmWireCreator", __LINE__, nullptr) SHELL());
            shell->set_wire(wire);
            wire->set_shell(shell);
            if (lastShell)
                lastShell->set_next(shell);
            else
                firstShell = shell;
            lastShell = shell;
            wire = next;
        }
        LUMP* lump = velm_require(new (0, "QELXVelmWireCreator", __LINE__, nullptr) LUMP(firstShell, nullptr));
        if (LUMP* last = kernelBody->lump()) {
            while (last->next())
                last = last->next();
            last->set_next(lump);
        } else {
            kernelBody->set_lump(lump);
        }
        lump->set_body(kernelBody);
        TransferAliases(body, kernelBody);

        const bool attributes = Ve_OptionDoc::isOn(Ve_OptionDoc::TransferAttribute);
        const int layer = Ve_OptionDoc::isOn(Ve_OptionDoc::TransferLayer) ? bodyLayer(body) : -1;
        const auto finishBody = [&](BODY* made, const Gk_ObsWraper& callback) {
            Gk_ObsWraper(callback).setEntityCallback(reinterpret_cast<const void*>(body.GetValue()), made);
            if (attributes)
                attributeStep(made, body);
            resultEvent(body, made, QELXBRepExporter::QELXBRepTypeBody);
            layerStep(made, body, -1);
        };
        if (Ve_OptionDoc::isOn(Ve_OptionDoc::CreateSeparateWireBodies)) {
            ENTITY_LIST listed;
            api_get_edges(kernelBody, listed);
            if (listed.count() > 1) {
                // The kernel makes wire bodies of free edges only: the combined
                // body gives its edges up and goes, so that nothing is left over.
                std::vector<EDGE*> free;
                for (int i = 0; i < listed.count(); ++i) {
                    auto* e = static_cast<EDGE*>(listed[i]);
                    if (COEDGE* c = e->coedge())
                        c->set_edge(nullptr);
                    e->set_coedge(nullptr);
                    free.push_back(e);
                }
                api_del_entity(kernelBody);
                int count = 0;
                BODY** made = nullptr;
                const outcome separated =
                    api_make_ewires(static_cast<int>(free.size()), free.data(), count, made);
                if (!separated.ok())
                    sys_error(separated.error_number(), separated.get_error_info());
                FinishWireEntities(layer);
                const Gk_ObsWraper callback = GetWireBodyCallback();
                for (int i = 0; i < count; ++i) {
                    cocoon->appendBody(ve_view<Ve_BodyTag>(made[i]));
                    finishBody(made[i], callback);
                }
                delete[] made;
                return;
            }
        }
        cocoon->appendBody(ve_view<Ve_BodyTag>(kernelBody));
        FinishWireEntities(layer);
        finishBody(kernelBody, GetWireBodyCallback());
    });
    finishRoad(built, cocoon, body, true);
}

void QELXVelmWireCreator::CreateWirePairs()
{
    const QELXDynamicArray<QELXCatalogue::Entry> edges = m_wireEdges.Entries();
    QELXStartConversionStageEvent stage("WireEdge", edges.Count(), 1.0, true);
    QELXEventBus::Fire(stage);
    if (!GetExporter())
        return;
    int n = 0;
    for (const QELXCatalogue::Entry& e : edges) {
        m_wireEdges.MakePair(e.key, e.item)->Create();
        QELXStartTranslateEntityEvent::Fire("WireEdge", "BRep", ++n);
    }
    stage.SetFinished();
    QELXEventBus::Fire(stage);
    for (const QELXCatalogue::Entry& e : m_wireVertices.Entries())
        m_wireVertices.MakePair(e.key, e.item)->Create();
}

namespace {

// The coedges reached from `start` through next and previous that belong to
// `wire` (none: to no wire yet), each once, in the order met.
std::vector<COEDGE*> linkedCoedges(COEDGE* start, const WIRE* wire)
{
    ENTITY_LIST list;
    list.add(start);
    for (int i = 0; i < list.count(); ++i) {
        auto* c = static_cast<COEDGE*>(list[i]);
        for (COEDGE* near : {c->next(), c->previous()})
            if (near && near->wire() == wire)
                list.add(near);
    }
    std::vector<COEDGE*> out;
    for (int i = 0; i < list.count(); ++i)
        out.push_back(static_cast<COEDGE*>(list[i]));
    return out;
}

// Whether every coedge of the list meets its next and previous end to start.
bool chainsEndToStart(const std::vector<COEDGE*>& coedges)
{
    for (COEDGE* c : coedges)
        if ((c->next() && c->next()->start() != c->end()) || (c->previous() && c->previous()->end() != c->start()))
            return false;
    return true;
}

// Whether three or more of the coedges' edge ends meet at one vertex.
bool branches(const std::vector<COEDGE*>& coedges)
{
    std::unordered_map<const VERTEX*, int> ends;
    for (COEDGE* c : coedges) {
        EDGE* e = c->edge();
        if (++ends[e->start()] > 2 || (e->end() != e->start() && ++ends[e->end()] > 2))
            return true;
    }
    return false;
}

// Chains the coedges of one connected wire that does not branch along their
// edges, each coedge's sense following the walk, for a source whose wire
// edges run against each other (the links made at the vertices then
// contradict the edges).
void chainAlongEdges(std::vector<COEDGE*>& coedges)
{
    std::unordered_map<const VERTEX*, std::vector<COEDGE*>> at;
    for (COEDGE* c : coedges) {
        at[c->edge()->start()].push_back(c);
        if (c->edge()->end() != c->edge()->start())
            at[c->edge()->end()].push_back(c);
    }
    COEDGE* first = coedges.front();
    for (const auto& [vertex, incident] : at) {
        if (incident.size() == 1)
            first = incident.front();
    }
    const VERTEX* from = at[first->edge()->start()].size() == 1 ? first->edge()->start() : first->edge()->end();
    if (at[from].size() != 1)
        from = first->edge()->start();
    std::vector<COEDGE*> chain;
    for (COEDGE* c = first; c && chain.size() < coedges.size();) {
        c->set_sense(c->edge()->start() == from ? FORWARD : REVERSED);
        chain.push_back(c);
        from = c->end();
        COEDGE* next = nullptr;
        for (COEDGE* other : at[from])
            if (other != c && std::find(chain.begin(), chain.end(), other) == chain.end())
                next = other;
        c = next;
    }
    if (chain.size() != coedges.size())
        return;
    const bool closed = chain.back()->end() == chain.front()->start();
    for (std::size_t i = 0; i < chain.size(); ++i) {
        chain[i]->set_next(i + 1 < chain.size() ? chain[i + 1] : closed ? chain.front() : nullptr);
        chain[i]->set_previous(i > 0 ? chain[i - 1] : closed ? chain.back() : nullptr);
    }
}

} // namespace

WIRE* QELXVelmWireCreator::MakeWires(const QELXDynamicArray<QELXIdentifier>& edges, bool connected)
{
    WIRE* head = nullptr;
    WIRE* last = nullptr;
    for (const QELXIdentifier& id : edges) {
        EDGE* edge = GetEdge(id, true);
        COEDGE* coedge = edge ? edge->coedge() : nullptr;
        if (!coedge || coedge->wire())
            continue;
        WIRE* wire = velm_require(new (0, "QELXVelmWireCreator", __LINE__, nullptr) WIRE());
        wire->set_coedge(coedge);
        if (last)
            last->set_next(wire);
        else
            head = wire;
        last = wire;
        if (!connected) {
            coedge->set_wire(wire);
            continue;
        }
        SpreadWire(wire, coedge);
        std::vector<COEDGE*> coedges = linkedCoedges(coedge, wire);
        if (branches(coedges)) {
            // A kernel wire is one chain: a branching one could not reach
            // all its coedges. Its edges become wires of one edge each, as
            // single-edge wires are, every edge listed at its vertices.
            for (COEDGE* c : coedges) {
                const bool closed = c->start() == c->end();
                c->set_next(closed ? c : nullptr);
                c->set_previous(closed ? c : nullptr);
                for (VERTEX* v : {c->edge()->start(), c->edge()->end()})
                    if (v)
                        v->add_edge(c->edge());
                if (c == coedge)
                    continue;
                WIRE* own = velm_require(new (0, "QELXVelmWireCreator", __LINE__, nullptr) WIRE());
                own->set_coedge(c);
                c->set_wire(own);
                last->set_next(own);
                last = own;
            }
        } else if (!chainsEndToStart(coedges)) {
            chainAlongEdges(coedges);
        }
    }
    return head;
}

void QELXVelmWireCreator::SpreadWire(WIRE* wire, COEDGE* coedge)
{
    if (!coedge || coedge->wire())
        return;
    for (COEDGE* c : linkedCoedges(coedge, nullptr))
        c->set_wire(wire);
}

void QELXVelmWireCreator::FinishWireEntities(int referenceLayer)
{
    if (!GetImporter())
        return;
    const Switches on;
    const Gk_ObsWraper edgeCallback = GetWireEdgeCallback();
    for (const QELXCatalogue::Entry& e : m_wireEdges.Entries()) {
        const QELXIdentifier source = catalogueSource(e.key);
        ENTITY* edge = catalogueEntity(e.item);
        if (on.attributes)
            attributeStep(edge, source);
        pidAndPNameSteps(edge, source, 4);
        layerStep(edge, source, referenceLayer);
        resultEvent(source, edge, QELXBRepExporter::QELXBRepTypeEdge);
        Gk_ObsWraper(edgeCallback).setEntityCallback(reinterpret_cast<const void*>(source.GetValue()), edge);
        GetExporter()->ReleaseGeometry(source, QELXReleaseCurve);
    }
    const Gk_ObsWraper vertexCallback = GetWireVertexCallback();
    for (const QELXCatalogue::Entry& e : m_wireVertices.Entries()) {
        const QELXIdentifier source = catalogueSource(e.key);
        ENTITY* vertex = catalogueEntity(e.item);
        if (on.attributes)
            attributeStep(vertex, source);
        pidAndPNameSteps(vertex, source, 1);
        resultEvent(source, vertex, QELXBRepExporter::QELXBRepTypeVertex);
        GetExporter()->ReleaseGeometry(source, QELXReleasePoint);
        layerStep(vertex, source, referenceLayer);
        Gk_ObsWraper(vertexCallback).setEntityCallback(reinterpret_cast<const void*>(source.GetValue()), vertex);
    }
}
