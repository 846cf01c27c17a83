// The topology walk by identifier: counts, children at an index, relations,
// senses and parameter ranges, from the document's bodies down to vertices.
// A valid identifier whose entity is gone (or was never there) has nothing:
// counts 0, children absent, outputs untouched.
#include "export/brep_exporter.hxx"
#include "export/brep_internal.hxx"
#include "model/document.hxx"
#include "model/memory_init.hxx"
#include "model/views_internal.hxx"
#include "qelx_velm/velm_document.hxx"
#include "qelx_velm/velm_entity_utils.hxx"
#include "velm/query.hxx"

using namespace ve_views;
using namespace ve_export;

namespace {


using B = QELXBRepExporter;

// A lone coedge whose edge runs from a vertex back to it without a curve.
bool isPointWire(const WIRE* wire)
{
    const ENTITY_LIST coedges = query(api_get_coedges, wire);
    for (int i = 0, n = coedges.count(); i < n; ++i) {
        auto* c = static_cast<COEDGE*>(coedges[i]);
        const EDGE* e = c ? c->edge() : nullptr;
        if (e && isLoneCoedge(c) && e->start() == e->end() && !e->geometry())
            return true;
    }
    return false;
}

// The index-th wire of the class, or the list's last wire when it ends first.
WIRE* wireOfClass(const BODY* body, int index, bool pointWires)
{
    const ENTITY_LIST wires = query(api_get_wires, body);
    WIRE* last = nullptr;
    int ordinal = 0;
    for (int i = 0, n = wires.count(); i < n; ++i) {
        auto* w = static_cast<WIRE*>(wires[i]);
        if (!w)
            continue;
        last = w;
        if (isPointWire(w) == pointWires && ordinal++ == index)
            return w;
    }
    return last;
}

int countWires(const BODY* body, bool pointWires)
{
    const ENTITY_LIST wires = query(api_get_wires, body);
    return countOf<WIRE>(wires, [&](const WIRE* w) { return isPointWire(w) == pointWires; });
}


// A count of a live entity's children; 0 when the entity is gone.
template <class Kernel, class Count>
QELIResult countOn(const QELXIdentifier& id, int& count, Count children)
{
    if (!id.IsValid())
        return kInvalid;
    const Kernel* k = as<Kernel>(id);
    count = k ? children(k) : 0;
    return 0;
}

// The related entity of a live entity, handed out even when null; a gone
// entity leaves the out identifier untouched. 0 only when something was found.
template <class Kernel, class Related>
QELIResult relatedTo(QELXVelmBRepExporter* x, const QELXIdentifier& id, QELXIdentifier& out, const char* type,
                     const char* typeName, Related related)
{
    if (!id.IsValid())
        return kInvalid;
    const Kernel* k = as<Kernel>(id);
    if (!k)
        return kNotFound;
    const ENTITY* found = related(k);
    out = x->identifierOf(found, type, typeName);
    return found ? QELI_OK : kNotFound;
}

} // namespace

QELXIdentifier QELXVelmBRepExporter::identifierOf(const ENTITY* entity, const char* type, const char* typeName)
{
    return QELXIdentifier(QELXVelmEntityUtils::GetIdentifier(entity), type, this, typeName,
                          QELXIdentifierCastHandle(new QELXVelmIdentifierCast));
}

QELIResult QELXVelmBRepExporter::GetNumberOfBodies(int& count)
{
    if (!m_documentTag)
        return kNotFound;
    count = m_documentTag->GetNumberOfSolids();
    return 0;
}

QELIResult QELXVelmBRepExporter::GetBody(int index, QELXIdentifier& body)
{
    if (!m_documentTag)
        return 0;
    body = identifierOf(static_cast<ENTITY*>(m_documentTag->GetSolidAt(index)), B::QELXBRepTypeBody, "Ve_BodyTag");
    return 0;
}

QELIResult QELXVelmBRepExporter::GetNumberOfLumpsFromBody(const QELXIdentifier& body, int& count)
{
    if (!body.IsValid())
        return kInvalid;
    const BODY* b = as<BODY>(body);
    if (b && is_closed_solid_body(b))
        count = ve_view<Ve_BodyTag>(b)->getNumberOfLumps();
    return 0;
}

QELIResult QELXVelmBRepExporter::GetLumpFromBody(const QELXIdentifier& body, int index, QELXIdentifier& lump)
{
    if (!body.IsValid())
        return kInvalid;
    const BODY* b = as<BODY>(body);
    if (b && is_closed_solid_body(b))
        lump = identifierOf(reinterpret_cast<ENTITY*>(ve_view<Ve_BodyTag>(b)->getLumpAt(index)), B::QELXBRepTypeLump,
                            "Ve_LumpTag");
    return 0;
}

QELIResult QELXVelmBRepExporter::GetNumberOf2DShellsFromBody(const QELXIdentifier& body, int& count)
{
    if (!body.IsValid())
        return kInvalid;
    const BODY* b = as<BODY>(body);
    if (!b)
        return 0;
    count = 0;
    if (is_closed_solid_body(b))
        return 0;
    const Ve_BodyTag* view = ve_view<Ve_BodyTag>(b);
    for (int i = 0, n = view->getNumberOfLumps(); i < n; ++i)
        if (const Ve_LumpTag* lump = view->getLumpAt(i))
            count += lump->getNumberOfShells();
    return 0;
}

QELIResult QELXVelmBRepExporter::Get2DShellFromBody(const QELXIdentifier& body, int index, QELXIdentifier& shell)
{
    if (!body.IsValid())
        return kInvalid;
    const BODY* b = as<BODY>(body);
    if (!b || is_closed_solid_body(b))
        return kNotFound;
    const ENTITY_LIST shells = query(api_get_shells, b);
    const int n = countOf(shells);
    if (n == 0)
        return kNotFound;
    ENTITY* found = nthOf<ENTITY>(shells, index >= 0 && index < n ? index : n - 1);
    shell = identifierOf(found, B::QELXBRepTypeShell, "Ve_ShellTag");
    return 0;
}

QELIResult QELXVelmBRepExporter::GetNumberOfWiresFromBody(const QELXIdentifier& body, int& count)
{
    return countOn<BODY>(body, count, [](const BODY* k) { return countWires(k, false); });
}

QELIResult QELXVelmBRepExporter::GetWireFromBody(const QELXIdentifier& body, int index, QELXIdentifier& wire)
{
    if (!body.IsValid())
        return kInvalid;
    const BODY* b = as<BODY>(body);
    WIRE* w = b ? wireOfClass(b, index, false) : nullptr;
    if (!w)
        return kNotFound;
    wire = identifierOf(w, B::QELXBRepTypeWire, "WIRE");
    return 0;
}

QELIResult QELXVelmBRepExporter::GetNumberOfPointWiresFromBody(const QELXIdentifier& body, int& count)
{
    return countOn<BODY>(body, count, [](const BODY* k) { return countWires(k, true); });
}

QELIResult QELXVelmBRepExporter::GetPointWireFromBody(const QELXIdentifier& body, int index, QELXIdentifier& wire)
{
    if (!body.IsValid())
        return kInvalid;
    const BODY* b = as<BODY>(body);
    WIRE* w = b ? wireOfClass(b, index, true) : nullptr;
    if (!w)
        return kNotFound;
    wire = identifierOf(w, B::QELXBRepTypeWire, "WIRE");
    return 0;
}

QELIResult QELXVelmBRepExporter::GetNumberOfFacesFromBody(const QELXIdentifier& body, int& count)
{
    count = 0;
    return body.IsValid() ? QELI_OK : kInvalid;
}

QELIResult QELXVelmBRepExporter::GetNumberOfVolumesFromLump(const QELXIdentifier& lump, int& count)
{
    if (!lump.IsValid())
        return kInvalid;
    count = 1;
    return 0;
}

QELIResult QELXVelmBRepExporter::GetVolumeFromLump(const QELXIdentifier& lump, int, QELXIdentifier& volume)
{
    if (!lump.IsValid())
        return kInvalid;
    LUMP* l = as<LUMP>(lump);
    if (!l)
        return kNotFound;
    volume = identifierOf(l, B::QELXBRepTypeVolume, "Ve_LumpTag");
    return 0;
}

QELIResult QELXVelmBRepExporter::GetNumberOfShellsFromVolume(const QELXIdentifier& volume, int& count)
{
    return countOn<LUMP>(volume, count, [](const LUMP* k) { return walkCount(k->shell(), nextOf); });
}

QELIResult QELXVelmBRepExporter::GetShellFromVolume(const QELXIdentifier& volume, int index, QELXIdentifier& shell)
{
    if (!volume.IsValid())
        return kInvalid;
    const LUMP* l = as<LUMP>(volume);
    auto* s = l ? walkAt<SHELL>(l->shell(), nextOf, index) : nullptr;
    if (!s)
        return kNotFound;
    shell = identifierOf(s, B::QELXBRepTypeShell, "Ve_ShellTag");
    return 0;
}

QELIResult QELXVelmBRepExporter::GetNumberOfFacesFromShell(const QELXIdentifier& shell, int& count)
{
    return countOn<SHELL>(shell, count, [](const SHELL* k) { return ve_view<Ve_ShellTag>(k)->getNumberOfFaces(); });
}

QELIResult QELXVelmBRepExporter::GetFaceFromShell(const QELXIdentifier& shell, int index, QELXIdentifier& face)
{
    if (!shell.IsValid())
        return kInvalid;
    const SHELL* s = as<SHELL>(shell);
    if (!s)
        return kNotFound;
    face = identifierOf(reinterpret_cast<ENTITY*>(ve_view<Ve_ShellTag>(s)->getFaceAt(index)), B::QELXBRepTypeFace,
                        "Ve_FaceTag");
    return 0;
}

QELIResult QELXVelmBRepExporter::IsShellClosed(const QELXIdentifier& shell, bool& flag)
{
    if (!shell.IsValid())
        return kInvalid;
    const SHELL* s = as<SHELL>(shell);
    if (s && s->is_closed() == 0) {
        flag = true;
        return 0;
    }
    return kNotFound;
}

QELIResult QELXVelmBRepExporter::GetNumberOfEdgesFromWire(const QELXIdentifier& wire, int& count)
{
    if (!wire.IsValid())
        return kInvalid;
    const WIRE* w = as<WIRE>(wire);
    const int n = w ? countOf(query(api_get_edges, w)) : 0;
    if (n <= 0)
        return kNotFound;
    count = n;
    return 0;
}

QELIResult QELXVelmBRepExporter::GetEdgeFromWire(const QELXIdentifier& wire, int& index, QELXIdentifier& edge)
{
    if (!wire.IsValid())
        return kInvalid;
    const WIRE* w = as<WIRE>(wire);
    ENTITY* e = w ? nthOf<ENTITY>(query(api_get_edges, w), index) : nullptr;
    edge = identifierOf(e, B::QELXBRepTypeWire, "EDGE");
    return 0;
}

QELIResult QELXVelmBRepExporter::GetNumberOfVerticesFromWire(const QELXIdentifier& wire, int& count)
{
    if (!wire.IsValid())
        return kInvalid;
    const WIRE* w = as<WIRE>(wire);
    const int n = w ? countOf(query(api_get_vertices, w)) : 0;
    if (n <= 0)
        return kNotFound;
    count = n;
    return 0;
}

QELIResult QELXVelmBRepExporter::GetVertexFromWire(const QELXIdentifier& wire, int& index, QELXIdentifier& vertex)
{
    if (!wire.IsValid())
        return kInvalid;
    const WIRE* w = as<WIRE>(wire);
    ENTITY* v = w ? nthOf<ENTITY>(query(api_get_vertices, w), index) : nullptr;
    vertex = identifierOf(v, B::QELXBRepTypeWire, "VERTEX");
    return 0;
}

QELIResult QELXVelmBRepExporter::GetFaceSense(const QELXIdentifier& face, bool& forward)
{
    const FACE* f = as<FACE>(face);
    if (!f)
        return kNotFound;
    forward = f->sense() == FORWARD;
    return 0;
}

QELIResult QELXVelmBRepExporter::GetFaceDomain(const QELXIdentifier& face, double uPair[2], double vPair[2])
{
    if (!face.IsValid())
        return kInvalid;
    const FACE* f = as<FACE>(face);
    if (!f)
        return kNotFound;
    faceDomain(f, uPair, vPair);
    return 0;
}

void QELXVelmBRepExporter::faceDomain(const FACE* face, double uPair[2], double vPair[2])
{
    FaceDomain known;
    if (!m_faceDomains.Get(face, known)) {
        ve_view<Ve_FaceTag>(face)->getSpan().GetDoubles(known.u, known.v);
        m_faceDomains.Add(face, known);
    }
    uPair[0] = known.u[0], uPair[1] = known.u[1];
    vPair[0] = known.v[0], vPair[1] = known.v[1];
}

QELIResult QELXVelmBRepExporter::GetNumberOfLoopsFromFace(const QELXIdentifier& face, int& count)
{
    return countOn<FACE>(face, count, [](const FACE* k) { return walkCount(k->loop(), nextOf); });
}

QELIResult QELXVelmBRepExporter::GetLoopFromFace(const QELXIdentifier& face, int& index, QELXIdentifier& loop)
{
    return relatedTo<FACE>(this, face, loop, B::QELXBRepTypeLoop, "Ve_LoopTag",
                               [&](const FACE* k) -> const ENTITY* { return walkAt<LOOP>(k->loop(), nextOf, index); });
}

QELIResult QELXVelmBRepExporter::GetNumberOfCoedgesFromLoop(const QELXIdentifier& loop, int& count)
{
    return countOn<LOOP>(loop, count, [](const LOOP* k) { return walkCount(k->start(), nextOf); });
}

QELIResult QELXVelmBRepExporter::GetCoedgeFromLoop(const QELXIdentifier& loop, int& index, QELXIdentifier& coedge)
{
    return relatedTo<LOOP>(this, loop, coedge, B::QELXBRepTypeCoedge, "Ve_CoedgeTag",
                           [&](const LOOP* k) -> const ENTITY* { return walkAt<COEDGE>(k->start(), nextOf, index); });
}

QELIResult QELXVelmBRepExporter::IsLoopDegenerate(const QELXIdentifier& loop, bool& flag)
{
    if (!loop.IsValid())
        return kInvalid;
    const LOOP* l = as<LOOP>(loop);
    if (!l)
        return kNotFound;
    flag = ve_view<Ve_LoopTag>(l)->isDegenerate();
    return 0;
}

QELIResult QELXVelmBRepExporter::IsOuterLoop(const QELXIdentifier& loop, bool& flag)
{
    if (!loop.IsValid())
        return kInvalid;
    if (const LOOP* l = as<LOOP>(loop))
        flag = ve_view<Ve_LoopTag>(l)->isOuterLoop();
    return 0;
}

QELIResult QELXVelmBRepExporter::GetFaceFromLoop(const QELXIdentifier& loop, QELXIdentifier& face)
{
    return relatedTo<LOOP>(this, loop, face, B::QELXBRepTypeFace, "Ve_FaceTag",
                               [&](const LOOP* k) -> const ENTITY* { return k->face(); });
}

QELIResult QELXVelmBRepExporter::GetVertexFromDegenerateLoop(const QELXIdentifier& loop, QELXIdentifier& vertex)
{
    if (!loop.IsValid())
        return kInvalid;
    const LOOP* l = as<LOOP>(loop);
    if (!l)
        return kNotFound;
    const VERTEX* v = ve_view<Ve_LoopTag>(l)->isDegenerate() && l->start() ? l->start()->start() : nullptr;
    vertex = identifierOf(v, B::QELXBRepTypeVertex, "Ve_VertexTag");
    return 0;
}

QELIResult QELXVelmBRepExporter::GetCoedgeSense(const QELXIdentifier& coedge, bool& forward)
{
    if (!coedge.IsValid())
        return kInvalid;
    if (const COEDGE* c = as<COEDGE>(coedge))
        forward = c->sense() == FORWARD;
    return 0;
}

QELIResult QELXVelmBRepExporter::GetEdgeFromCoedge(const QELXIdentifier& coedge, QELXIdentifier& edge)
{
    return relatedTo<COEDGE>(this, coedge, edge, B::QELXBRepTypeEdge, "Ve_EdgeTag",
                               [&](const COEDGE* k) -> const ENTITY* { return k->edge(); });
}

QELIResult QELXVelmBRepExporter::GetLoopFromCoedge(const QELXIdentifier& coedge, QELXIdentifier& loop)
{
    return relatedTo<COEDGE>(this, coedge, loop, B::QELXBRepTypeLoop, "Ve_LoopTag",
                               [&](const COEDGE* k) -> const ENTITY* { return k->loop(); });
}

QELIResult QELXVelmBRepExporter::GetCoedgeDomain(const QELXIdentifier& coedge, double& low, double& high)
{
    if (!coedge.IsValid())
        return kInvalid;
    const COEDGE* c = as<COEDGE>(coedge);
    if (!c)
        return kNotFound;
    const Gk_Domain d = ve_view<Ve_CoedgeTag>(c)->getDomain();
    low = d.low();
    high = d.high();
    return 0;
}

QELIResult QELXVelmBRepExporter::GetPartnerCoedge(const QELXIdentifier& coedge, QELXIdentifier& partner)
{
    return relatedTo<COEDGE>(this, coedge, partner, B::QELXBRepTypeCoedge, "Ve_CoedgeTag",
                               [&](const COEDGE* k) -> const ENTITY* { return k->partner(); });
}

QELIResult QELXVelmBRepExporter::GetNumberOfCoedgesFromEdge(const QELXIdentifier& edge, int& count)
{
    return countOn<EDGE>(edge, count, [](const EDGE* k) { return walkCount(k->coedge(), partnerOf); });
}

QELIResult QELXVelmBRepExporter::GetCoedgeFromEdge(const QELXIdentifier& edge, int& index, QELXIdentifier& coedge)
{
    return relatedTo<EDGE>(this, edge, coedge, B::QELXBRepTypeCoedge, "Ve_CoedgeTag",
                           [&](const EDGE* k) -> const ENTITY* {
                               return walkAt<COEDGE>(k->coedge(), partnerOf, index);
                           });
}

QELIResult QELXVelmBRepExporter::GetStartVertexFromEdge(const QELXIdentifier& edge, QELXIdentifier& vertex)
{
    return relatedTo<EDGE>(this, edge, vertex, B::QELXBRepTypeVertex, "Ve_VertexTag",
                               [&](const EDGE* k) -> const ENTITY* { return k->start(); });
}

QELIResult QELXVelmBRepExporter::GetEndVertexFromEdge(const QELXIdentifier& edge, QELXIdentifier& vertex)
{
    return relatedTo<EDGE>(this, edge, vertex, B::QELXBRepTypeVertex, "Ve_VertexTag",
                               [&](const EDGE* k) -> const ENTITY* { return k->end(); });
}

QELIResult QELXVelmBRepExporter::GetEdgeDomain(const QELXIdentifier& edge, double& low, double& high)
{
    if (!edge.IsValid())
        return kInvalid;
    const EDGE* e = as<EDGE>(edge);
    if (!e)
        return kNotFound;
    const Gk_Domain d = ve_view<Ve_EdgeTag>(e)->getDomain();
    low = d.low();
    high = d.high();
    return 0;
}

QELIResult QELXVelmBRepExporter::GetEdgeSense(const QELXIdentifier& edge, bool& forward)
{
    if (!edge.IsValid())
        return kInvalid;
    const EDGE* e = as<EDGE>(edge);
    if (!e)
        return kNotFound;
    forward = e->sense() == FORWARD;
    return 0;
}

QELIResult QELXVelmBRepExporter::GetNumberOfEdgesFromVertex(const QELXIdentifier& vertex, int& count)
{
    return countOn<VERTEX>(vertex, count, [](const VERTEX* k) { return ve_view<Ve_VertexTag>(k)->getNumberOfEdges(); });
}

QELIResult QELXVelmBRepExporter::GetEdgeFromVertex(const QELXIdentifier& vertex, int& index, QELXIdentifier& edge)
{
    return relatedTo<VERTEX>(this, vertex, edge, B::QELXBRepTypeEdge, "Ve_EdgeTag",
                               [&](const VERTEX* k) -> const ENTITY* {
                                   return reinterpret_cast<const ENTITY*>(ve_view<Ve_VertexTag>(k)->getEdgeAt(index));
                               });
}
