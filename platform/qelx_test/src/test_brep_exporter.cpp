// B-rep exporter over the source model: the identifier road, every call
// logged, forced answers honoured. Identifier words are (kind << 48) |
// (index + 1); an identifier of another kind or out of range answers
// 0x100000b, an index past a list's end 0x1000001, both with nothing written.
#include "qelx/test_exporters.hxx"
#include "test_answer.hxx"

#include <algorithm>

namespace qelx_test {

TestDocument::TestDocument(TestModel model) : m_model(std::move(model))
{
    SetXType(QELXString(m_model.xType));
    SetDocumentType("TEST");
    SetUnit(static_cast<QELXUnit>(m_model.unit));
    AddExportRep(new TestHeader(this, m_model));
}

QELIResult TestHeader::GetStringValue(const QELXString& name, int index, QELXString& value)
{
    auto it = m_model.header.find(name.c_str());
    if (it == m_model.header.end() || index < 0 || index >= static_cast<int>(it->second.size()))
        return QELI_FAIL;
    value = QELXString(it->second[static_cast<std::size_t>(index)]);
    return QELI_OK;
}

namespace {

const char* typeOf(EntityKind kind)
{
    switch (kind) {
    case KindBody: return QELXBRepExporter::QELXBRepTypeBody;
    case KindLump: return QELXBRepExporter::QELXBRepTypeLump;
    case KindVolume: return QELXBRepExporter::QELXBRepTypeVolume;
    case KindShell: return QELXBRepExporter::QELXBRepTypeShell;
    case KindFace: return QELXBRepExporter::QELXBRepTypeFace;
    case KindLoop: return QELXBRepExporter::QELXBRepTypeLoop;
    case KindCoedge: return QELXBRepExporter::QELXBRepTypeCoedge;
    case KindEdge: return QELXBRepExporter::QELXBRepTypeEdge;
    case KindVertex: return QELXBRepExporter::QELXBRepTypeVertex;
    case KindWire: return QELXBRepExporter::QELXBRepTypeWire;
    default: return "";
    }
}

const char* typeNameOf(EntityKind kind)
{
    static const char* const names[] = {"",         "TestBody", "TestLump",   "TestVolume", "TestShell",
                                        "TestFace", "TestLoop", "TestCoedge", "TestEdge",   "TestVertex",
                                        "TestWire"};
    return kind >= KindBody && kind <= KindWire ? names[kind] : "";
}

int tableSize(const TestModel& m, EntityKind kind)
{
    switch (kind) {
    case KindBody: return static_cast<int>(m.bodies.size());
    case KindLump: return static_cast<int>(m.lumps.size());
    case KindVolume: return static_cast<int>(m.volumes.size());
    case KindShell: return static_cast<int>(m.shells.size());
    case KindFace: return static_cast<int>(m.faces.size());
    case KindLoop: return static_cast<int>(m.loops.size());
    case KindCoedge: return static_cast<int>(m.coedges.size());
    case KindEdge: return static_cast<int>(m.edges.size());
    case KindVertex: return static_cast<int>(m.vertices.size());
    case KindWire: return static_cast<int>(m.wires.size());
    default: return 0;
    }
}

using ListOf = const std::vector<int>& (*)(const TestModel&, int);

} // namespace

TestBRepExporter::TestBRepExporter(TestDocument* document)
    : QELXDefaultBRepExporter(document), m_document(document),
      m_attributeExporter(std::make_unique<TestAttributeExporter>(document->model(), m_log)),
      m_geometry(std::make_unique<TestGeometryExporter>(document, document->model(), m_log, m_attributeExporter.get()))
{
}

TestBRepExporter::~TestBRepExporter() = default;

QELXIdentifier TestBRepExporter::id(EntityKind kind, int index)
{
    if (index < 0)
        return QELXIdentifier();
    return QELXIdentifier(wordOf(kind, index), typeOf(kind), this, typeNameOf(kind));
}

template <class Write>
QELIResult TestBRepExporter::answer(const char* operation, const QELXIdentifier& id, Write&& write)
{
    return answerCall(model(), m_log, operation, id.GetValue(), std::forward<Write>(write));
}

int TestBRepExporter::indexOf(const QELXIdentifier& id, EntityKind kind) const
{
    const int i = indexOfWord(id.GetValue());
    if (kindOfWord(id.GetValue()) != kind || i < 0 || i >= tableSize(m_document->model(), kind))
        return -1;
    return i;
}

QELIResult TestBRepExporter::count(const char* operation, const QELXIdentifier& id, EntityKind kind, int& out,
                                   ListOf list)
{
    return answer(operation, id, [&]() -> QELIResult {
        const int i = indexOf(id, kind);
        if (i < 0)
            return QELI_INVALID_ARG;
        out = static_cast<int>(list(model(), i).size());
        return QELI_OK;
    });
}

QELIResult TestBRepExporter::item(const char* operation, const QELXIdentifier& id, EntityKind kind, int index,
                                  QELXIdentifier& out, EntityKind itemKind, ListOf list)
{
    return answer(operation, id, [&]() -> QELIResult {
        const int i = indexOf(id, kind);
        if (i < 0)
            return QELI_INVALID_ARG;
        const std::vector<int>& items = list(model(), i);
        if (index < 0 || index >= static_cast<int>(items.size()))
            return QELI_FAIL;
        out = this->id(itemKind, items[static_cast<std::size_t>(index)]);
        return QELI_OK;
    });
}

QELIResult TestBRepExporter::GetGeometryExporter(QELXGeometryExporter*& out)
{
    out = m_geometry.get();
    logCall(m_log, "GetGeometryExporter", 0, QELI_OK);
    return QELI_OK;
}

QELIResult TestBRepExporter::GetAttributeExporter(QELXAttributeExporter*& out)
{
    out = m_attributeExporter.get();
    logCall(m_log, "GetAttributeExporter", 0, QELI_OK);
    return QELI_OK;
}

// ------------------------------------------------------------------ top level

namespace {
template <class Vec>
QELIResult countOf(const Vec& v, int& out)
{
    out = static_cast<int>(v.size());
    return QELI_OK;
}
} // namespace

QELIResult TestBRepExporter::GetNumberOfBodies(int& count)
{
    return answer("GetNumberOfBodies", QELXIdentifier(), [&] { return countOf(model().bodies, count); });
}

QELIResult TestBRepExporter::GetBody(int index, QELXIdentifier& body)
{
    return answer("GetBody", QELXIdentifier(), [&]() -> QELIResult {
        if (index < 0 || index >= static_cast<int>(model().bodies.size()))
            return QELI_FAIL;
        body = id(KindBody, index);
        return QELI_OK;
    });
}

QELIResult TestBRepExporter::freeItem(const char* operation, const std::vector<int>& list, int index,
                                      QELXIdentifier& out, QELXIdentifier (TestGeometryExporter::*idOf)(int))
{
    return answer(operation, QELXIdentifier(), [&]() -> QELIResult {
        if (index < 0 || index >= static_cast<int>(list.size()))
            return QELI_FAIL;
        out = (m_geometry.get()->*idOf)(list[static_cast<std::size_t>(index)]);
        return QELI_OK;
    });
}

QELIResult TestBRepExporter::GetNumberOfFreeSurfaces(int& count)
{
    return answer("GetNumberOfFreeSurfaces", QELXIdentifier(), [&] { return countOf(model().freeSurfaces, count); });
}
QELIResult TestBRepExporter::GetFreeSurface(int index, QELXIdentifier& surface)
{
    return freeItem("GetFreeSurface", model().freeSurfaces, index, surface, &TestGeometryExporter::surfaceId);
}
QELIResult TestBRepExporter::GetNumberOfFreeCurves(int& count)
{
    return answer("GetNumberOfFreeCurves", QELXIdentifier(), [&] { return countOf(model().freeCurves, count); });
}
QELIResult TestBRepExporter::GetFreeCurve(int index, QELXIdentifier& curve)
{
    return freeItem("GetFreeCurve", model().freeCurves, index, curve, &TestGeometryExporter::curveId);
}
QELIResult TestBRepExporter::GetNumberOfFreePoints(int& count)
{
    return answer("GetNumberOfFreePoints", QELXIdentifier(), [&] { return countOf(model().freePoints, count); });
}
QELIResult TestBRepExporter::GetFreePoint(int index, QELXIdentifier& point)
{
    return freeItem("GetFreePoint", model().freePoints, index, point, &TestGeometryExporter::pointId);
}

QELIResult TestBRepExporter::PrepareBody(const QELXIdentifier& body)
{
    return answer("PrepareBody", body, [&]() -> QELIResult {
        if (indexOf(body, KindBody) < 0)
            return QELI_INVALID_ARG;
        ++m_openBodies;
        m_preparedBody = indexOf(body, KindBody);
        return QELI_OK;
    });
}

QELIResult TestBRepExporter::ReleaseBody(const QELXIdentifier& body)
{
    return answer("ReleaseBody", body, [&]() -> QELIResult {
        if (indexOf(body, KindBody) < 0)
            return QELI_INVALID_ARG;
        --m_openBodies;
        m_preparedBody = -1;
        return QELI_OK;
    });
}

// ------------------------------------------------------------------ bodies, lumps, shells, wires

#define TEST_LIST(table, field) \
    [](const TestModel& m, int i) -> const std::vector<int>& { return m.table[static_cast<std::size_t>(i)].field; }

QELIResult TestBRepExporter::GetNumberOfLumpsFromBody(const QELXIdentifier& body, int& n)
{
    return count("GetNumberOfLumpsFromBody", body, KindBody, n, TEST_LIST(bodies, lumps));
}
QELIResult TestBRepExporter::GetLumpFromBody(const QELXIdentifier& body, int index, QELXIdentifier& lump)
{
    return item("GetLumpFromBody", body, KindBody, index, lump, KindLump, TEST_LIST(bodies, lumps));
}
QELIResult TestBRepExporter::GetNumberOf2DShellsFromBody(const QELXIdentifier& body, int& n)
{
    return count("GetNumberOf2DShellsFromBody", body, KindBody, n, TEST_LIST(bodies, shells2D));
}
QELIResult TestBRepExporter::Get2DShellFromBody(const QELXIdentifier& body, int index, QELXIdentifier& shell)
{
    return item("Get2DShellFromBody", body, KindBody, index, shell, KindShell, TEST_LIST(bodies, shells2D));
}
QELIResult TestBRepExporter::GetNumberOfWiresFromBody(const QELXIdentifier& body, int& n)
{
    return count("GetNumberOfWiresFromBody", body, KindBody, n, TEST_LIST(bodies, wires));
}
QELIResult TestBRepExporter::GetWireFromBody(const QELXIdentifier& body, int index, QELXIdentifier& wire)
{
    return item("GetWireFromBody", body, KindBody, index, wire, KindWire, TEST_LIST(bodies, wires));
}
QELIResult TestBRepExporter::GetNumberOfPointWiresFromBody(const QELXIdentifier& body, int& n)
{
    return count("GetNumberOfPointWiresFromBody", body, KindBody, n, TEST_LIST(bodies, pointWires));
}
QELIResult TestBRepExporter::GetPointWireFromBody(const QELXIdentifier& body, int index, QELXIdentifier& wire)
{
    return item("GetPointWireFromBody", body, KindBody, index, wire, KindWire,
                TEST_LIST(bodies, pointWires));
}
QELIResult TestBRepExporter::GetNumberOfFacesFromBody(const QELXIdentifier& body, int& n)
{
    return count("GetNumberOfFacesFromBody", body, KindBody, n, TEST_LIST(bodies, faces));
}
QELIResult TestBRepExporter::GetFaceFromBody(const QELXIdentifier& body, int index, QELXIdentifier& face)
{
    return item("GetFaceFromBody", body, KindBody, index, face, KindFace, TEST_LIST(bodies, faces));
}
QELIResult TestBRepExporter::GetNumberOfVolumesFromLump(const QELXIdentifier& lump, int& n)
{
    return count("GetNumberOfVolumesFromLump", lump, KindLump, n, TEST_LIST(lumps, volumes));
}
QELIResult TestBRepExporter::GetVolumeFromLump(const QELXIdentifier& lump, int index, QELXIdentifier& volume)
{
    return item("GetVolumeFromLump", lump, KindLump, index, volume, KindVolume, TEST_LIST(lumps, volumes));
}
QELIResult TestBRepExporter::GetNumberOfShellsFromVolume(const QELXIdentifier& volume, int& n)
{
    return count("GetNumberOfShellsFromVolume", volume, KindVolume, n, TEST_LIST(volumes, shells));
}
QELIResult TestBRepExporter::GetShellFromVolume(const QELXIdentifier& volume, int index, QELXIdentifier& shell)
{
    return item("GetShellFromVolume", volume, KindVolume, index, shell, KindShell,
                TEST_LIST(volumes, shells));
}
QELIResult TestBRepExporter::GetNumberOfFacesFromShell(const QELXIdentifier& shell, int& n)
{
    return count("GetNumberOfFacesFromShell", shell, KindShell, n, TEST_LIST(shells, faces));
}
QELIResult TestBRepExporter::GetFaceFromShell(const QELXIdentifier& shell, int index, QELXIdentifier& face)
{
    return item("GetFaceFromShell", shell, KindShell, index, face, KindFace, TEST_LIST(shells, faces));
}
QELIResult TestBRepExporter::IsShellClosed(const QELXIdentifier& shell, bool& flag)
{
    return answer("IsShellClosed", shell, [&]() -> QELIResult {
        const int i = indexOf(shell, KindShell);
        if (i < 0)
            return QELI_INVALID_ARG;
        // The framework's reading: "open" answered, a closed shell refused.
        if (model().shells[static_cast<std::size_t>(i)].closed)
            return QELI_FAIL;
        flag = true;
        return QELI_OK;
    });
}
QELIResult TestBRepExporter::GetNumberOfEdgesFromWire(const QELXIdentifier& wire, int& n)
{
    return count("GetNumberOfEdgesFromWire", wire, KindWire, n, TEST_LIST(wires, edges));
}
QELIResult TestBRepExporter::GetEdgeFromWire(const QELXIdentifier& wire, int& index, QELXIdentifier& edge)
{
    return item("GetEdgeFromWire", wire, KindWire, index, edge, KindEdge, TEST_LIST(wires, edges));
}
QELIResult TestBRepExporter::GetNumberOfVerticesFromWire(const QELXIdentifier& wire, int& n)
{
    return count("GetNumberOfVerticesFromWire", wire, KindWire, n, TEST_LIST(wires, vertices));
}
QELIResult TestBRepExporter::GetVertexFromWire(const QELXIdentifier& wire, int& index, QELXIdentifier& vertex)
{
    return item("GetVertexFromWire", wire, KindWire, index, vertex, KindVertex, TEST_LIST(wires, vertices));
}

// ------------------------------------------------------------------ faces and loops

#define TEST_FIELD(operation, idArg, kind, table, body)                      \
    answer(operation, idArg, [&]() -> QELIResult {                           \
        const int i = indexOf(idArg, kind);                                  \
        if (i < 0)                                                           \
            return QELI_INVALID_ARG;                                         \
        const auto& e = model().table[static_cast<std::size_t>(i)];          \
        (void)e;                                                             \
        body;                                                                \
        return QELI_OK;                                                      \
    })

QELIResult TestBRepExporter::IsFaceOrientationCorrect(const QELXIdentifier& face, bool& flag)
{
    return TEST_FIELD("IsFaceOrientationCorrect", face, KindFace, faces, flag = e.orientationCorrect);
}
QELIResult TestBRepExporter::GetFaceSense(const QELXIdentifier& face, bool& forward)
{
    return TEST_FIELD("GetFaceSense", face, KindFace, faces, forward = e.sense);
}
QELIResult TestBRepExporter::GetFaceSurface(const QELXIdentifier& face, QELXIdentifier& surface)
{
    return TEST_FIELD("GetFaceSurface", face, KindFace, faces, surface = m_geometry->surfaceId(e.surface));
}
QELIResult TestBRepExporter::GetFaceDomain(const QELXIdentifier& face, double uPair[2], double vPair[2])
{
    return TEST_FIELD("GetFaceDomain", face, KindFace, faces,
                      (uPair[0] = e.uDomain[0], uPair[1] = e.uDomain[1], vPair[0] = e.vDomain[0],
                       vPair[1] = e.vDomain[1]));
}
QELIResult TestBRepExporter::GetNumberOfLoopsFromFace(const QELXIdentifier& face, int& n)
{
    return count("GetNumberOfLoopsFromFace", face, KindFace, n, TEST_LIST(faces, loops));
}
QELIResult TestBRepExporter::GetLoopFromFace(const QELXIdentifier& face, int& index, QELXIdentifier& loop)
{
    return item("GetLoopFromFace", face, KindFace, index, loop, KindLoop, TEST_LIST(faces, loops));
}
QELIResult TestBRepExporter::GetFaceCategory(const QELXIdentifier& face, int& category)
{
    return TEST_FIELD("GetFaceCategory", face, KindFace, faces, category = e.category);
}
QELIResult TestBRepExporter::GetNumberOfCoedgesFromLoop(const QELXIdentifier& loop, int& n)
{
    return count("GetNumberOfCoedgesFromLoop", loop, KindLoop, n, TEST_LIST(loops, coedges));
}
QELIResult TestBRepExporter::GetCoedgeFromLoop(const QELXIdentifier& loop, int& index, QELXIdentifier& coedge)
{
    return item("GetCoedgeFromLoop", loop, KindLoop, index, coedge, KindCoedge, TEST_LIST(loops, coedges));
}
QELIResult TestBRepExporter::IsLoopDegenerate(const QELXIdentifier& loop, bool& flag)
{
    return TEST_FIELD("IsLoopDegenerate", loop, KindLoop, loops, flag = e.degenerate);
}
QELIResult TestBRepExporter::IsOuterLoop(const QELXIdentifier& loop, bool& flag)
{
    return TEST_FIELD("IsOuterLoop", loop, KindLoop, loops, flag = e.outer);
}
QELIResult TestBRepExporter::GetFaceFromLoop(const QELXIdentifier& loop, QELXIdentifier& face)
{
    return TEST_FIELD("GetFaceFromLoop", loop, KindLoop, loops, face = id(KindFace, e.face));
}
QELIResult TestBRepExporter::GetVertexFromDegenerateLoop(const QELXIdentifier& loop, QELXIdentifier& vertex)
{
    return TEST_FIELD("GetVertexFromDegenerateLoop", loop, KindLoop, loops, vertex = id(KindVertex, e.vertex));
}

// ------------------------------------------------------------------ coedges, edges, vertices

QELIResult TestBRepExporter::GetCoedgeSense(const QELXIdentifier& coedge, bool& forward)
{
    return TEST_FIELD("GetCoedgeSense", coedge, KindCoedge, coedges, forward = e.sense);
}
QELIResult TestBRepExporter::GetEdgeFromCoedge(const QELXIdentifier& coedge, QELXIdentifier& edge)
{
    return TEST_FIELD("GetEdgeFromCoedge", coedge, KindCoedge, coedges, edge = id(KindEdge, e.edge));
}
QELIResult TestBRepExporter::GetLoopFromCoedge(const QELXIdentifier& coedge, QELXIdentifier& loop)
{
    return TEST_FIELD("GetLoopFromCoedge", coedge, KindCoedge, coedges, loop = id(KindLoop, e.loop));
}
QELIResult TestBRepExporter::GetCoedgePCurve(const QELXIdentifier& coedge, QELXIdentifier& pcurve)
{
    return TEST_FIELD("GetCoedgePCurve", coedge, KindCoedge, coedges, pcurve = m_geometry->pcurveId(e.pcurve));
}
QELIResult TestBRepExporter::GetCoedgePCurveSense(const QELXIdentifier& coedge, bool& forward)
{
    return TEST_FIELD("GetCoedgePCurveSense", coedge, KindCoedge, coedges, forward = e.pcurveSense);
}
QELIResult TestBRepExporter::GetCoedgeDomain(const QELXIdentifier& coedge, double& low, double& high)
{
    return TEST_FIELD("GetCoedgeDomain", coedge, KindCoedge, coedges, (low = e.domain[0], high = e.domain[1]));
}
QELIResult TestBRepExporter::GetPartnerCoedge(const QELXIdentifier& coedge, QELXIdentifier& partner)
{
    return TEST_FIELD("GetPartnerCoedge", coedge, KindCoedge, coedges, {
        // The next coedge in the edge's ring; none when the coedge is alone.
        // A dangling edge index has no ring: the coedge counts as alone.
        static const std::vector<int> none;
        const bool known = e.edge >= 0 && e.edge < static_cast<int>(model().edges.size());
        const std::vector<int>& ring = known ? model().edges[static_cast<std::size_t>(e.edge)].coedges : none;
        partner = QELXIdentifier();
        for (std::size_t k = 0; k < ring.size(); ++k)
            if (ring[k] == i && ring.size() > 1)
                partner = id(KindCoedge, ring[(k + 1) % ring.size()]);
    });
}
QELIResult TestBRepExporter::GetNumberOfCoedgesFromEdge(const QELXIdentifier& edge, int& n)
{
    return count("GetNumberOfCoedgesFromEdge", edge, KindEdge, n, TEST_LIST(edges, coedges));
}
QELIResult TestBRepExporter::GetCoedgeFromEdge(const QELXIdentifier& edge, int& index, QELXIdentifier& coedge)
{
    return item("GetCoedgeFromEdge", edge, KindEdge, index, coedge, KindCoedge, TEST_LIST(edges, coedges));
}
QELIResult TestBRepExporter::GetStartVertexFromEdge(const QELXIdentifier& edge, QELXIdentifier& vertex)
{
    return TEST_FIELD("GetStartVertexFromEdge", edge, KindEdge, edges, vertex = id(KindVertex, e.start));
}
QELIResult TestBRepExporter::GetEndVertexFromEdge(const QELXIdentifier& edge, QELXIdentifier& vertex)
{
    return TEST_FIELD("GetEndVertexFromEdge", edge, KindEdge, edges, vertex = id(KindVertex, e.end));
}
QELIResult TestBRepExporter::GetEdgeDomain(const QELXIdentifier& edge, double& low, double& high)
{
    return TEST_FIELD("GetEdgeDomain", edge, KindEdge, edges, (low = e.domain[0], high = e.domain[1]));
}
QELIResult TestBRepExporter::GetEdgeCurve(const QELXIdentifier& edge, QELXIdentifier& curve)
{
    return TEST_FIELD("GetEdgeCurve", edge, KindEdge, edges, curve = m_geometry->curveId(e.curve));
}
QELIResult TestBRepExporter::GetEdgeSense(const QELXIdentifier& edge, bool& forward)
{
    return TEST_FIELD("GetEdgeSense", edge, KindEdge, edges, forward = e.sense);
}
QELIResult TestBRepExporter::GetVertexPoint(const QELXIdentifier& vertex, QELXIdentifier& point)
{
    return TEST_FIELD("GetVertexPoint", vertex, KindVertex, vertices, point = m_geometry->pointId(e.point));
}
QELIResult TestBRepExporter::GetNumberOfEdgesFromVertex(const QELXIdentifier& vertex, int& n)
{
    return count("GetNumberOfEdgesFromVertex", vertex, KindVertex, n, TEST_LIST(vertices, edges));
}
QELIResult TestBRepExporter::GetEdgeFromVertex(const QELXIdentifier& vertex, int& index, QELXIdentifier& edge)
{
    return item("GetEdgeFromVertex", vertex, KindVertex, index, edge, KindEdge,
                TEST_LIST(vertices, edges));
}

QELIResult TestBRepExporter::ReleaseGeometry(const QELXIdentifier& entity, int kind)
{
    // The log keeps the kind so tests can check which releases were asked for.
    const std::string operation = "ReleaseGeometry" + std::to_string(kind);
    const QELIResult result = answer(operation.c_str(), entity, [&]() -> QELIResult {
        if (!entity.IsValid() || kindOfWord(entity.GetValue()) < KindBody ||
            kindOfWord(entity.GetValue()) > KindWire)
            return QELI_INVALID_ARG;
        return kind >= 0 && kind <= 5 ? QELI_OK : QELI_INVALID_ARG;
    });
    if (result == QELI_OK && m_freeReleased)
        freeAfterRelease(entity, kind);
    return result;
}

bool TestBRepExporter::Releases::note(int index, int body, std::size_t entities,
                                      const std::function<std::vector<int>()>& reach)
{
    if (index < 0 || static_cast<std::size_t>(index) >= entities)
        return false;
    if (left.size() != entities) {
        left = reach();
        left.resize(entities);
        for (int& n : left)
            n = std::max(n, 1);
        lastBody.assign(entities, -2);
        count = 0;
    }
    const auto i = static_cast<std::size_t>(index);
    // A body's repeated releases (one per coedge on the trim road) count
    // once; a release outside any prepared body counts for them all.
    if (left[i] == 0 || lastBody[i] == body)
        return false;
    lastBody[i] = body;
    left[i] = body < 0 ? 0 : left[i] - 1;
    return left[i] == 0 && ++count == entities;
}

TestBRepExporter::Reach TestBRepExporter::bodyReach() const
{
    const TestModel& m = m_document->model();
    Reach r;
    r.faces.assign(m.faces.size(), 0);
    r.coedges.assign(m.coedges.size(), 0);
    r.edges.assign(m.edges.size(), 0);
    const auto valid = [](int i, std::size_t n) { return i >= 0 && static_cast<std::size_t>(i) < n; };
    std::vector<int> faceSeen(m.faces.size(), -1), coedgeSeen(m.coedges.size(), -1), edgeSeen(m.edges.size(), -1);
    const auto reachEdge = [&](int e, int b) {
        if (valid(e, m.edges.size()) && edgeSeen[static_cast<std::size_t>(e)] != b) {
            edgeSeen[static_cast<std::size_t>(e)] = b;
            ++r.edges[static_cast<std::size_t>(e)];
        }
    };
    const auto reachFace = [&](int f, int b) {
        if (!valid(f, m.faces.size()) || faceSeen[static_cast<std::size_t>(f)] == b)
            return;
        faceSeen[static_cast<std::size_t>(f)] = b;
        ++r.faces[static_cast<std::size_t>(f)];
        for (int l : m.faces[static_cast<std::size_t>(f)].loops) {
            if (!valid(l, m.loops.size()))
                continue;
            for (int c : m.loops[static_cast<std::size_t>(l)].coedges) {
                if (!valid(c, m.coedges.size()) || coedgeSeen[static_cast<std::size_t>(c)] == b)
                    continue;
                coedgeSeen[static_cast<std::size_t>(c)] = b;
                ++r.coedges[static_cast<std::size_t>(c)];
                reachEdge(m.coedges[static_cast<std::size_t>(c)].edge, b);
            }
        }
    };
    const auto reachShell = [&](int s, int b) {
        if (valid(s, m.shells.size()))
            for (int f : m.shells[static_cast<std::size_t>(s)].faces)
                reachFace(f, b);
    };
    for (std::size_t bi = 0; bi < m.bodies.size(); ++bi) {
        const TestBody& body = m.bodies[bi];
        const int b = static_cast<int>(bi);
        for (int l : body.lumps)
            if (valid(l, m.lumps.size()))
                for (int v : m.lumps[static_cast<std::size_t>(l)].volumes)
                    if (valid(v, m.volumes.size()))
                        for (int s : m.volumes[static_cast<std::size_t>(v)].shells)
                            reachShell(s, b);
        for (int s : body.shells2D)
            reachShell(s, b);
        for (int f : body.faces)
            reachFace(f, b);
        for (int w : body.wires)
            if (valid(w, m.wires.size()))
                for (int e : m.wires[static_cast<std::size_t>(w)].edges)
                    reachEdge(e, b);
    }
    return r;
}

void TestBRepExporter::freeAfterRelease(const QELXIdentifier& entity, int kind)
{
    TestModel& m = model();
    const std::uint64_t word = entity.GetValue();
    const int index = indexOfWord(word);
    const auto madeFromOthers = [&] {
        return std::any_of(m.surfaces.begin(), m.surfaces.end(), [](const TestSurface& s) {
            return s.type == SurfRevolved || s.type == SurfExtruded || s.type == SurfOffset;
        });
    };
    const auto reach = [this](std::vector<int> Reach::*table) {
        return [this, table] { return bodyReach().*table; };
    };
    const int body = m_preparedBody;
    if (kind == QELXReleaseSurface && kindOfWord(word) == KindFace &&
        m_surfaceReleases.note(index, body, m.faces.size(), reach(&Reach::faces)) && m.freeSurfaces.empty() &&
        !madeFromOthers()) {
        std::vector<TestSurface>().swap(m.surfaces);
        m_surfaceReleases = Releases();
    } else if (kind == QELXReleaseCurve && kindOfWord(word) == KindEdge &&
               m_curveReleases.note(index, body, m.edges.size(), reach(&Reach::edges)) && m.freeCurves.empty() &&
               !madeFromOthers()) {
        std::vector<TestCurve>().swap(m.curves);
        m_curveReleases = Releases();
    } else if (kind == QELXReleasePCurve && kindOfWord(word) == KindCoedge &&
               m_pcurveReleases.note(index, body, m.coedges.size(), reach(&Reach::coedges))) {
        std::vector<TestPCurve>().swap(m.pcurves);
        m_pcurveReleases = Releases();
    }
}

#undef TEST_FIELD
#undef TEST_LIST

} // namespace qelx_test
