// The framework walk over any B-rep exporter. Topology is collected once
// per identifier word; geometry is read afresh at every reference, since
// one word may stand for differently parameterised uses of one object.
#include "qelx/framework_walk.hxx"

#include "qelx/qelx_attribute_exporter.hxx"
#include "qelx/qelx_brep_exporter.hxx"
#include "qelx/qelx_document.hxx"
#include "qelx/qelx_events.hxx"
#include "qelx/qelx_geometry_exporter.hxx"
#include "qelx/packed_words.hxx"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <cstring>
#include <set>
#include <unordered_set>

namespace qelx_test {

namespace {

Vec3 vec(const double v[3]) { return {v[0], v[1], v[2]}; }

// One kind's collected entities in index order: each one's source word and
// the identifier it is like (Walker::likeOf), and the index of a word
// through an open-addressed table of indices, whose words are read from
// `words` (a model of a million entities keeps a few flat arrays, some 14
// bytes an entity, not a node each). The identifier an entity is like is
// kept as runs, since a kind's entities are nearly always alike.
class KindTable {
public:
    std::vector<std::uint64_t> words;

    // The identifier entity `index` is like.
    std::uint32_t like(std::size_t index) const
    {
        const auto after = std::upper_bound(m_likeRuns.begin(), m_likeRuns.end(), index,
                                            [](std::size_t i, const LikeRun& run) { return i < run.first; });
        return std::prev(after)->like;
    }

    // The index of the word, or -1.
    int find(std::uint64_t word) const
    {
        if (m_slots.empty() || word == 0)
            return -1;
        const std::size_t mask = m_slots.size() - 1;
        for (std::size_t i = home(word, mask);; i = (i + 1) & mask) {
            if (m_slots[i] == 0)
                return -1;
            if (words[m_slots[i] - 1] == word)
                return static_cast<int>(m_slots[i] - 1);
        }
    }
    // A new entity of the kind; found by its word when `indexed`.
    int add(std::uint64_t word, std::uint32_t likeIndex, bool indexed)
    {
        const int index = static_cast<int>(words.size());
        words.push_back(word);
        if (m_likeRuns.empty() || m_likeRuns.back().like != likeIndex)
            m_likeRuns.push_back({static_cast<std::uint32_t>(index), likeIndex});
        if (indexed && word != 0) {
            if (4 * (m_indexed + 1) > 3 * m_slots.size())
                grow();
            place(static_cast<std::uint32_t>(index));
            ++m_indexed;
        }
        return index;
    }

    // Indexes every entity collected so far, for a kind collected without
    // its index; a word collected twice is found at its first index.
    void indexAll()
    {
        std::size_t size = 64;
        while (4 * words.size() > 3 * size)
            size *= 2;
        m_slots.assign(size, 0);
        m_indexed = 0;
        for (std::size_t i = 0; i < words.size(); ++i)
            if (words[i] != 0) {
                place(static_cast<std::uint32_t>(i));
                ++m_indexed;
            }
    }
    // Gives the index's memory back; `find` finds nothing until it is rebuilt.
    void dropIndex()
    {
        std::vector<std::uint32_t>().swap(m_slots);
        m_indexed = 0;
    }

private:
    static std::size_t home(std::uint64_t x, std::size_t mask)
    {
        x ^= x >> 33;
        x *= 0xFF51AFD7ED558CCDull;
        x ^= x >> 33;
        return static_cast<std::size_t>(x) & mask;
    }
    void place(std::uint32_t index)
    {
        const std::size_t mask = m_slots.size() - 1;
        std::size_t i = home(words[index], mask);
        while (m_slots[i] != 0)
            i = (i + 1) & mask;
        m_slots[i] = index + 1;
    }
    void grow()
    {
        std::vector<std::uint32_t> old;
        old.swap(m_slots);
        m_slots.assign(old.empty() ? 64 : 2 * old.size(), 0);
        for (std::uint32_t s : old)
            if (s != 0)
                place(s - 1);
    }
    // Entities first .. of the next run are like `like`.
    struct LikeRun {
        std::uint32_t first;
        std::uint32_t like;
    };
    std::vector<LikeRun> m_likeRuns;
    std::vector<std::uint32_t> m_slots; // index + 1; 0 is empty
    std::size_t m_indexed = 0;
};

// Words of one kind's lists, packed one after another (the ring of one edge
// lies close to the next one's): list k has counts[k] words. Read back in
// order, list by list.
struct WordLists {
    PackedWords words;
    std::vector<std::uint32_t> counts;
    std::uint32_t open = 0;
    void add(std::uint64_t word)
    {
        words.push_back(word);
        ++open;
    }
    void close()
    {
        counts.push_back(open);
        open = 0;
    }
};

// A free entity collected, for the attribute pass: its word in the walk's
// model, its source word and the identifier it is like.
struct FreeSource {
    std::uint64_t ours;
    std::uint64_t word;
    std::uint32_t like;
};

class Walker {
public:
    Walker(QELXBRepExporter* exporter, WalkSink& sink, WalkSummary& summary, unsigned attributeFields)
        : m_x(exporter), m_m(sink), m_s(summary), m_fields(attributeFields)
    {
        m_x->GetGeometryExporter(m_g);
        m_x->GetAttributeExporter(m_a);
    }

    QELIResult run();

private:
    bool ok(QELIResult r)
    {
        if (r != QELI_OK)
            ++m_s.failedCalls;
        return r == QELI_OK;
    }
    // The identifier a source is like, for the attribute pass: it is made
    // again from its word and that one. A cast answers for whatever
    // identifier it is given, so one of each class serves every source of the
    // same type and owner.
    std::uint32_t likeOf(const QELXIdentifier& source)
    {
        auto castName = [](const QELXIdentifier& id) { return id.GetCast().IsValid() ? id.GetCast()->GetName() : ""; };
        for (std::size_t k = m_like.size(); k-- > 0;)
            if (m_like[k].GetOwner() == source.GetOwner() && std::strcmp(m_like[k].GetType(), source.GetType()) == 0 &&
                std::strcmp(m_like[k].GetTypeName(), source.GetTypeName()) == 0 &&
                std::strcmp(castName(m_like[k]), castName(source)) == 0)
                return static_cast<std::uint32_t>(k);
        m_like.push_back(source);
        return static_cast<std::uint32_t>(m_like.size() - 1);
    }
    QELXIdentifier sourceOf(std::uint64_t word, std::uint32_t like) const
    {
        const QELXIdentifier& as = m_like[like];
        return QELXIdentifier(word, as.GetType(), as.GetOwner(), as.GetTypeName(), as.GetCast());
    }
    void attributesOf(const QELXIdentifier& source, std::uint64_t word, std::vector<int>& layers);

    int body(const QELXIdentifier& id);
    int shell(const QELXIdentifier& id);
    int face(const QELXIdentifier& id);
    int loop(const QELXIdentifier& id, int face);
    int coedge(const QELXIdentifier& id, int loop, const std::vector<int>& before,
               std::unordered_set<std::uint64_t>& seen);
    int edge(const QELXIdentifier& id);
    int vertex(const QELXIdentifier& id);
    int wire(const QELXIdentifier& id);
    int surface(const QELXIdentifier& id, int depth = 0);
    int curve(const QELXIdentifier& id);
    int pcurve(const QELXIdentifier& id);
    int point(const QELXIdentifier& id);
    bool nurbs(TestNurbs& n, int dim, bool pcurve, const QELXIdentifier& id);
    void attributes();
    void resolveRings();

    // Walks a counted list: count(parent, n), then item(parent, i, out).
    template <class Count, class Item, class Visit>
    void list(const QELXIdentifier& parent, Count count, Item item, Visit visit)
    {
        int n = 0;
        if (!ok((m_x->*count)(parent, n)))
            return;
        for (int i = 0; i < n; ++i) {
            QELXIdentifier child;
            int index = i;
            if (ok(item(m_x, parent, index, child)) && child.IsValid())
                visit(child);
        }
    }

    // Looks a word up in its kind's table, or numbers a new element of that
    // kind, records it and has `make` read it.
    template <class Make>
    int once(EntityKind kind, const QELXIdentifier& id, Make make)
    {
        KindTable& table = m_tables[kind];
        const int known = table.find(id.GetValue());
        if (known >= 0)
            return known;
        const int index = table.add(id.GetValue(), likeOf(id), true);
        make(index);
        return index;
    }

    QELXBRepExporter* m_x;
    QELXGeometryExporter* m_g = nullptr;
    QELXAttributeExporter* m_a = nullptr;
    WalkSink& m_m;
    WalkSummary& m_s;
    unsigned m_fields; // WalkAttributeField bits
    KindTable m_tables[KindWire + 1]; // bodies to wires, by kind
    int m_nSurfaces = 0, m_nCurves = 0, m_nPCurves = 0, m_nPoints = 0;
    WordLists m_edgeRings, m_vertexEdges; // words, resolved at the end
    std::vector<FreeSource> m_free;
    std::vector<QELXIdentifier> m_like;
};

} // namespace

QELIResult Walker::run()
{
    int bodies = 0;
    if (!ok(m_x->GetNumberOfBodies(bodies)))
        return QELI_FAIL;
    {
        QELXStartConversionStageEvent stage("Bodies", bodies, 0.9, false);
        QELXEventBus::Fire(stage);
        for (int b = 0; b < bodies; ++b) {
            QELXStartConversionStageEvent one("Body", b + 1, bodies ? 0.9 / bodies : 0.0, false);
            QELXEventBus::Fire(one);
            QELXIdentifier id;
            if (ok(m_x->GetBody(b, id)) && id.IsValid())
                body(id);
            one.SetFinished();
            QELXEventBus::Fire(one);
        }
        stage.SetFinished();
        QELXEventBus::Fire(stage);
    }
    resolveRings();
    {
        int ns = 0, nc = 0, np = 0;
        ok(m_x->GetNumberOfFreeSurfaces(ns));
        ok(m_x->GetNumberOfFreeCurves(nc));
        ok(m_x->GetNumberOfFreePoints(np));
        QELXStartConversionStageEvent stage("Free entities", ns + nc + np, 0.05, false);
        QELXEventBus::Fire(stage);
        // Free entities: read each, keep what could be read, remember it for its attributes.
        std::vector<int> freeSurfaces, freeCurves, freePoints;
        auto readFree = [&](int n, QELIResult (QELXBRepExporter::*get)(int, QELXIdentifier&), auto read,
                        std::vector<int>& into, EntityKind kind) {
            for (int i = 0; i < n; ++i) {
                QELXIdentifier id;
                if (!ok((m_x->*get)(i, id)) || !id.IsValid())
                    continue;
                const int index = read(id);
                if (index >= 0) {
                    into.push_back(index);
                    m_free.push_back({wordOf(kind, index), id.GetValue(), likeOf(id)});
                }
            }
        };
        readFree(ns, &QELXBRepExporter::GetFreeSurface, [&](const QELXIdentifier& id) { return surface(id); },
             freeSurfaces, KindSurface);
        readFree(nc, &QELXBRepExporter::GetFreeCurve, [&](const QELXIdentifier& id) { return curve(id); }, freeCurves,
             KindCurve);
        readFree(np, &QELXBRepExporter::GetFreePoint, [&](const QELXIdentifier& id) { return point(id); }, freePoints,
             KindPoint);
        m_m.freeEntities(freeSurfaces, freeCurves, freePoints);
        stage.SetFinished();
        QELXEventBus::Fire(stage);
    }
    {
        std::size_t sources = m_free.size();
        for (const KindTable& table : m_tables)
            sources += table.words.size();
        QELXStartConversionStageEvent stage("Attributes", static_cast<int>(sources), 0.05, true);
        QELXEventBus::Fire(stage);
        attributes();
        stage.SetFinished();
        QELXEventBus::Fire(stage);
    }
    auto count = [&](EntityKind kind) { return static_cast<int>(m_tables[kind].words.size()); };
    m_s.bodies = count(KindBody);
    m_s.faces = count(KindFace);
    m_s.loops = count(KindLoop);
    m_s.coedges = count(KindCoedge);
    m_s.edges = count(KindEdge);
    m_s.vertices = count(KindVertex);
    m_s.wires = count(KindWire);
    m_s.surfaces = m_nSurfaces;
    m_s.curves = m_nCurves;
    m_s.pcurves = m_nPCurves;
    m_s.points = m_nPoints;
    return QELI_OK;
}

int Walker::body(const QELXIdentifier& id)
{
    const int b = m_tables[KindBody].add(id.GetValue(), likeOf(id), false);
    TestBody data;
    m_x->PrepareBody(id);
    list(id, &QELXBRepExporter::GetNumberOfLumpsFromBody,
         [](QELXBRepExporter* x, const QELXIdentifier& p, int& i, QELXIdentifier& o) { return x->GetLumpFromBody(p, i, o); },
         [&](const QELXIdentifier& l) {
             const int lump = once(KindLump, l, [&](int) {
                 TestLump lumpData;
                 list(l, &QELXBRepExporter::GetNumberOfVolumesFromLump,
                      [](QELXBRepExporter* x, const QELXIdentifier& p, int& i, QELXIdentifier& o) {
                          return x->GetVolumeFromLump(p, i, o);
                      },
                      [&](const QELXIdentifier& v) {
                          const int volume = once(KindVolume, v, [&](int) {
                              TestVolume volumeData;
                              list(v, &QELXBRepExporter::GetNumberOfShellsFromVolume,
                                   [](QELXBRepExporter* x, const QELXIdentifier& p, int& i, QELXIdentifier& o) {
                                       return x->GetShellFromVolume(p, i, o);
                                   },
                                   [&](const QELXIdentifier& s) { volumeData.shells.push_back(shell(s)); });
                              m_m.volume(volumeData);
                          });
                          lumpData.volumes.push_back(volume);
                      });
                 m_m.lump(lumpData);
             });
             data.lumps.push_back(lump);
         });
    list(id, &QELXBRepExporter::GetNumberOf2DShellsFromBody,
         [](QELXBRepExporter* x, const QELXIdentifier& p, int& i, QELXIdentifier& o) { return x->Get2DShellFromBody(p, i, o); },
         [&](const QELXIdentifier& s) { data.shells2D.push_back(shell(s)); });
    list(id, &QELXBRepExporter::GetNumberOfFacesFromBody,
         [](QELXBRepExporter* x, const QELXIdentifier& p, int& i, QELXIdentifier& o) { return x->GetFaceFromBody(p, i, o); },
         [&](const QELXIdentifier& f) { data.faces.push_back(face(f)); });
    list(id, &QELXBRepExporter::GetNumberOfWiresFromBody,
         [](QELXBRepExporter* x, const QELXIdentifier& p, int& i, QELXIdentifier& o) { return x->GetWireFromBody(p, i, o); },
         [&](const QELXIdentifier& w) { data.wires.push_back(wire(w)); });
    list(id, &QELXBRepExporter::GetNumberOfPointWiresFromBody,
         [](QELXBRepExporter* x, const QELXIdentifier& p, int& i, QELXIdentifier& o) {
             return x->GetPointWireFromBody(p, i, o);
         },
         [&](const QELXIdentifier& w) { data.pointWires.push_back(wire(w)); });
    m_x->ReleaseBody(id);
    m_m.body(data);
    return b;
}

int Walker::shell(const QELXIdentifier& id)
{
    return once(KindShell, id, [&](int) {
        TestShell data;
        // The exporter answers "open" for a shell with a free boundary and
        // fails for a closed one; other answers say nothing.
        bool open = false;
        const QELIResult r = m_x->IsShellClosed(id, open);
        if (r == QELI_OK)
            data.closed = !open;
        else if (r == QELI_FAIL)
            data.closed = true;
        else
            ok(r);
        list(id, &QELXBRepExporter::GetNumberOfFacesFromShell,
             [](QELXBRepExporter* x, const QELXIdentifier& p, int& i, QELXIdentifier& o) { return x->GetFaceFromShell(p, i, o); },
             [&](const QELXIdentifier& f) { data.faces.push_back(face(f)); });
        m_m.shell(data);
    });
}

int Walker::face(const QELXIdentifier& id)
{
    return once(KindFace, id, [&](int f) {
        TestFace data;
        data.uDomain[0] = data.uDomain[1] = data.vDomain[0] = data.vDomain[1] = 0.0;
        ok(m_x->IsFaceOrientationCorrect(id, data.orientationCorrect));
        ok(m_x->GetFaceSense(id, data.sense));
        QELXIdentifier s;
        if (ok(m_x->GetFaceSurface(id, s)) && s.IsValid())
            data.surface = surface(s);
        m_x->ReleaseGeometry(id, 4);
        ok(m_x->GetFaceDomain(id, data.uDomain, data.vDomain));
        ok(m_x->GetFaceCategory(id, data.category));
        list(id, &QELXBRepExporter::GetNumberOfLoopsFromFace,
             [](QELXBRepExporter* x, const QELXIdentifier& p, int& i, QELXIdentifier& o) { return x->GetLoopFromFace(p, i, o); },
             [&](const QELXIdentifier& l) { data.loops.push_back(loop(l, f)); });
        m_m.face(data);
    });
}

int Walker::loop(const QELXIdentifier& id, int face)
{
    return once(KindLoop, id, [&](int l) {
        TestLoop data;
        data.face = face;
        bool flag = false;
        if (ok(m_x->IsOuterLoop(id, flag)))
            data.outer = flag;
        flag = false;
        if (ok(m_x->IsLoopDegenerate(id, flag)) && flag) {
            data.degenerate = true;
            QELXIdentifier v;
            if (ok(m_x->GetVertexFromDegenerateLoop(id, v)) && v.IsValid())
                data.vertex = vertex(v);
        }
        std::unordered_set<std::uint64_t> seen;
        list(id, &QELXBRepExporter::GetNumberOfCoedgesFromLoop,
             [](QELXBRepExporter* x, const QELXIdentifier& p, int& i, QELXIdentifier& o) { return x->GetCoedgeFromLoop(p, i, o); },
             [&](const QELXIdentifier& c) { data.coedges.push_back(coedge(c, l, data.coedges, seen)); });
        m_m.loop(data);
    });
}

// A coedge is reached through its loop only, so it is looked for among the
// loop's coedges before it (by a set once the loop is long), not in a table
// of every coedge: that one is built only when the rings are resolved, after
// the bodies, when the walk's other tables have gone.
int Walker::coedge(const QELXIdentifier& id, int loop, const std::vector<int>& before,
                   std::unordered_set<std::uint64_t>& seen)
{
    KindTable& table = m_tables[KindCoedge];
    const std::uint64_t word = id.GetValue();
    constexpr std::size_t kScanned = 32;
    if (word == 0) {
        // Never the same as another: a word of 0 is not looked up.
    } else if (before.size() < kScanned) {
        for (int k : before)
            if (k >= 0 && table.words[static_cast<std::size_t>(k)] == word)
                return k;
    } else {
        if (seen.empty())
            for (int k : before)
                if (k >= 0)
                    seen.insert(table.words[static_cast<std::size_t>(k)]);
        if (seen.count(word))
            for (int k : before)
                if (k >= 0 && table.words[static_cast<std::size_t>(k)] == word)
                    return k;
        seen.insert(word);
    }
    const int index = table.add(word, likeOf(id), false);
    {
        TestCoedge data;
        data.loop = loop;
        data.domain[0] = data.domain[1] = 0.0;
        ok(m_x->GetCoedgeSense(id, data.sense));
        ok(m_x->GetCoedgeDomain(id, data.domain[0], data.domain[1]));
        QELXIdentifier p;
        if (ok(m_x->GetCoedgePCurve(id, p)) && p.IsValid())
            data.pcurve = pcurve(p);
        m_x->ReleaseGeometry(id, 2);
        ok(m_x->GetCoedgePCurveSense(id, data.pcurveSense));
        QELXIdentifier e;
        if (ok(m_x->GetEdgeFromCoedge(id, e)) && e.IsValid())
            data.edge = edge(e);
        m_m.coedge(data);
    }
    return index;
}

int Walker::edge(const QELXIdentifier& id)
{
    return once(KindEdge, id, [&](int) {
        TestEdge data;
        data.domain[0] = data.domain[1] = 0.0;
        ok(m_x->GetEdgeDomain(id, data.domain[0], data.domain[1]));
        QELXIdentifier c;
        if (ok(m_x->GetEdgeCurve(id, c)) && c.IsValid())
            data.curve = curve(c);
        m_x->ReleaseGeometry(id, 1);
        ok(m_x->GetEdgeSense(id, data.sense));
        QELXIdentifier v;
        if (ok(m_x->GetStartVertexFromEdge(id, v)) && v.IsValid())
            data.start = vertex(v);
        v = QELXIdentifier();
        if (ok(m_x->GetEndVertexFromEdge(id, v)) && v.IsValid())
            data.end = vertex(v);
        list(id, &QELXBRepExporter::GetNumberOfCoedgesFromEdge,
             [](QELXBRepExporter* x, const QELXIdentifier& p, int& i, QELXIdentifier& o) { return x->GetCoedgeFromEdge(p, i, o); },
             [&](const QELXIdentifier& co) { m_edgeRings.add(co.GetValue()); });
        m_edgeRings.close();
        m_m.edge(data);
    });
}

int Walker::vertex(const QELXIdentifier& id)
{
    return once(KindVertex, id, [&](int) {
        TestVertex data;
        QELXIdentifier p;
        if (ok(m_x->GetVertexPoint(id, p)) && p.IsValid())
            data.point = point(p);
        m_x->ReleaseGeometry(id, 0);
        list(id, &QELXBRepExporter::GetNumberOfEdgesFromVertex,
             [](QELXBRepExporter* x, const QELXIdentifier& p, int& i, QELXIdentifier& o) { return x->GetEdgeFromVertex(p, i, o); },
             [&](const QELXIdentifier& e) { m_vertexEdges.add(e.GetValue()); });
        m_vertexEdges.close();
        m_m.vertex(data);
    });
}

int Walker::wire(const QELXIdentifier& id)
{
    return once(KindWire, id, [&](int) {
        TestWire data;
        list(id, &QELXBRepExporter::GetNumberOfEdgesFromWire,
             [](QELXBRepExporter* x, const QELXIdentifier& p, int& i, QELXIdentifier& o) { return x->GetEdgeFromWire(p, i, o); },
             [&](const QELXIdentifier& e) { data.edges.push_back(edge(e)); });
        list(id, &QELXBRepExporter::GetNumberOfVerticesFromWire,
             [](QELXBRepExporter* x, const QELXIdentifier& p, int& i, QELXIdentifier& o) { return x->GetVertexFromWire(p, i, o); },
             [&](const QELXIdentifier& v) { data.vertices.push_back(vertex(v)); });
        m_m.wire(data);
    });
}

// Partner rings and vertex edge lists name entities by word; entities the
// walk never reached through a loop or wire are left out. Nothing is looked
// up by word after the bodies but here, so every index goes as soon as it has
// served (the edges' after the vertex lists), and each list once resolved:
// the coedges' index is built over the room the others gave back.
void Walker::resolveRings()
{
    for (int kind = KindBody; kind <= KindWire; ++kind)
        if (kind != KindEdge)
            m_tables[kind].dropIndex();
    std::vector<int> resolved;
    auto resolve = [&](PackedWords::Reader& read, std::uint32_t count, const KindTable& index) {
        resolved.clear();
        for (std::uint32_t i = 0; i < count; ++i)
            if (const int found = index.find(read.next()); found >= 0)
                resolved.push_back(found);
    };
    m_tables[KindCoedge].indexAll();
    {
        PackedWords::Reader rings(m_edgeRings.words);
        for (std::size_t e = 0; e < m_edgeRings.counts.size(); ++e) {
            resolve(rings, m_edgeRings.counts[e], m_tables[KindCoedge]);
            m_m.edgeCoedges(static_cast<int>(e), resolved);
        }
    }
    m_tables[KindCoedge].dropIndex();
    m_edgeRings = WordLists();
    {
        PackedWords::Reader edges(m_vertexEdges.words);
        for (std::size_t v = 0; v < m_vertexEdges.counts.size(); ++v) {
            resolve(edges, m_vertexEdges.counts[v], m_tables[KindEdge]);
            m_m.vertexEdges(static_cast<int>(v), resolved);
        }
    }
    m_tables[KindEdge].dropIndex();
    m_vertexEdges = WordLists();
}

// ------------------------------------------------------------------ geometry

bool Walker::nurbs(TestNurbs& n, int dim, bool isPCurve, const QELXIdentifier& id)
{
    int degree = 0, count = 0, knotCount = 0, form = 0;
    double *ctrl = nullptr, *knots = nullptr, *weights = nullptr;
    int* mults = nullptr;
    const QELIResult r = isPCurve
                             ? m_g->GetNurbsPCurveData(id, degree, count, ctrl, knotCount, knots, mults, weights, form)
                             : m_g->GetNurbsCurveData(id, degree, count, ctrl, knotCount, knots, mults, weights, form);
    const bool usable = ok(r) && count >= 0 && knotCount >= 0 && (ctrl || count == 0) && (knots || knotCount == 0) &&
                        (mults || knotCount == 0);
    if (usable) {
        n.degree = degree;
        n.count = count;
        n.form = form;
        n.ctrl.assign(ctrl, ctrl + static_cast<std::size_t>(dim) * static_cast<std::size_t>(count));
        if (weights)
            n.weights.assign(weights, weights + count);
        n.knots.assign(knots, knots + knotCount);
        n.mults.assign(mults, mults + knotCount);
    }
    // Whatever was answered goes back, even when it was unusable.
    if (ctrl || knots || mults || weights) {
        if (isPCurve)
            m_g->DeleteNurbsPCurveData(ctrl, knots, mults, weights);
        else
            m_g->DeleteNurbsCurveData(ctrl, knots, mults, weights);
    }
    return usable;
}

int Walker::surface(const QELXIdentifier& id, int depth)
{
    if (!m_g || depth > 8)
        return -1;
    TestSurface s;
    if (!ok(m_g->GetSurfaceType(id, s.type)))
        return -1;
    ok(m_g->GetSurfaceParameterization(id, s.uA, s.uB, s.uC, s.vA, s.vB, s.vC, s.flag));
    // A surface that gives no box is unbounded; that is its answer, not a fault.
    const QELIResult span = m_g->GetSurfaceSpan(id, s.uSpan, s.vSpan);
    if (span == QELI_FAIL)
        s.bounded = false;
    else
        ok(span);
    ok(m_g->GetSurfaceDeviation(id, s.deviation));
    double p[3] = {0, 0, 0}, d1[3] = {0, 0, 0}, d2[3] = {0, 0, 0};
    QELXIdentifier ref;
    switch (s.type) {
    case SurfPlane:
        ok(m_g->GetPlanarSurfaceData(id, p, d1, d2));
        break;
    case SurfCylinder:
    case SurfCone:
        ok(m_g->GetConicalSurfaceData(id, s.a, s.b, s.c, p, d1, d2));
        break;
    case SurfSphere:
        ok(m_g->GetSphericalSurfaceData(id, s.a, p, d1, d2));
        break;
    case SurfTorus:
        ok(m_g->GetToroidalSurfaceData(id, s.a, s.b, s.toroidalType, p, d1, d2));
        break;
    case SurfRevolved:
        if (ok(m_g->GetRevolvedSurfaceData(id, p, d1, ref)) && ref.IsValid())
            s.ref = curve(ref);
        break;
    case SurfExtruded:
        if (ok(m_g->GetExtrudedSurfaceData(id, d1, ref)) && ref.IsValid())
            s.ref = curve(ref);
        break;
    case SurfOffset:
        if (ok(m_g->GetOffsetSurfaceData(id, s.a, ref)) && ref.IsValid())
            s.ref = surface(ref, depth + 1);
        break;
    default: {
        double *ctrl = nullptr, *weights = nullptr, *uKnots = nullptr, *vKnots = nullptr;
        int *uMults = nullptr, *vMults = nullptr;
        int uKnotCount = 0, vKnotCount = 0;
        const QELIResult r =
            m_g->GetNurbsSurfaceData(id, s.uDegree, s.vDegree, s.uCount, s.vCount, ctrl, weights, uKnotCount, uKnots,
                                     uMults, vKnotCount, vKnots, vMults, s.uClosure, s.vClosure);
        // An unknown surface may answer no NURBS data; that is not a failure.
        const bool usable = (s.type == SurfNurbs ? ok(r) : r == QELI_OK) && s.uCount >= 0 && s.vCount >= 0 &&
                            uKnotCount >= 0 && vKnotCount >= 0 && (ctrl || s.uCount * s.vCount == 0) &&
                            (uKnots || uKnotCount == 0) && (uMults || uKnotCount == 0) &&
                            (vKnots || vKnotCount == 0) && (vMults || vKnotCount == 0);
        if (usable) {
            const std::size_t n = static_cast<std::size_t>(s.uCount) * static_cast<std::size_t>(s.vCount);
            s.ctrl.assign(ctrl, ctrl + 3 * n);
            if (weights)
                s.weights.assign(weights, weights + n);
            s.uKnots.assign(uKnots, uKnots + uKnotCount);
            s.uMults.assign(uMults, uMults + uKnotCount);
            s.vKnots.assign(vKnots, vKnots + vKnotCount);
            s.vMults.assign(vMults, vMults + vKnotCount);
        } else {
            s.uDegree = s.vDegree = s.uCount = s.vCount = s.uClosure = s.vClosure = 0;
        }
        if (ctrl || weights || uKnots || uMults || vKnots || vMults)
            m_g->DeleteNurbsSurfaceData(ctrl, weights, uKnots, uMults, vKnots, vMults);
        break;
    }
    }
    s.p = vec(p);
    s.d1 = vec(d1);
    s.d2 = vec(d2);
    m_m.surface(s);
    return m_nSurfaces++;
}

int Walker::curve(const QELXIdentifier& id)
{
    if (!m_g)
        return -1;
    TestCurve c;
    if (!ok(m_g->GetCurveType(id, c.type)))
        return -1;
    ok(m_g->GetCurveParameterization(id, c.scale, c.offset, c.flag));
    ok(m_g->GetCurveDomain(id, c.domain));
    double p[3] = {0, 0, 0}, d1[3] = {0, 0, 0}, d2[3] = {0, 0, 0};
    if (c.type == CurvLine)
        ok(m_g->GetLinearCurveData(id, p, d1));
    else if (c.type == CurvEllipse)
        ok(m_g->GetEllipticalCurveData(id, c.major, c.minor, p, d1, d2));
    else if (!nurbs(c.nurbs, 3, false, id) && c.type == CurvNurbs)
        c.nurbs = TestNurbs();
    c.p = vec(p);
    c.d1 = vec(d1);
    c.d2 = vec(d2);
    m_m.curve(c);
    return m_nCurves++;
}

int Walker::pcurve(const QELXIdentifier& id)
{
    if (!m_g)
        return -1;
    TestPCurve c;
    int type = 0;
    if (!ok(m_g->GetPCurveType(id, type)) || type != PCurvNurbs)
        return -1;
    ok(m_g->GetPCurveParameterization(id, c.scale, c.offset, c.flag));
    if (!nurbs(c.nurbs, 2, true, id))
        return -1;
    m_m.pcurve(c);
    return m_nPCurves++;
}

int Walker::point(const QELXIdentifier& id)
{
    double xyz[3] = {0, 0, 0};
    if (!m_g || !ok(m_g->GetCartesianPointData(id, xyz)))
        return -1;
    m_m.point(vec(xyz));
    return m_nPoints++;
}

// ------------------------------------------------------------------ attributes

void Walker::attributesOf(const QELXIdentifier& source, std::uint64_t word, std::vector<int>& layers)
{
    TestAttributes a;
    int i = 0;
    double d = 0.0, rgba[4] = {0, 0, 0, 0};
    bool flag = false;
    QELXString text;
    if ((m_fields & WalkLayer) && m_a->GetLayer(source, i) == QELI_OK) {
        a.layer = i;
        layers.push_back(i);
    }
    if ((m_fields & WalkName) && m_a->GetName(source, text) == QELI_OK)
        a.name = text.c_str();
    if ((m_fields & WalkColor) && m_a->GetColor(source, rgba) == QELI_OK)
        a.color = std::array<double, 4>{rgba[0], rgba[1], rgba[2], rgba[3]};
    if (!(m_fields & WalkOtherAttributes)) {
        if (a.layer || a.name || a.color)
            m_m.attributes(word, a);
        return;
    }
    if (m_a->GetShow(source, flag) == QELI_OK)
        a.show = flag;
    if (m_a->GetPick(source, flag) == QELI_OK)
        a.pick = flag;
    if (m_a->GetPlaneUnboundedness(source, flag) == QELI_OK)
        a.planeUnbounded = flag;
    if (m_a->GetSurfaceUnboundedness(source, flag) == QELI_OK)
        a.surfaceUnbounded = flag;
    if (m_a->GetThickness(source, d) == QELI_OK)
        a.thickness = d;
    if (m_a->GetLineType(source, i) == QELI_OK)
        a.lineType = i;
    if (m_a->GetLineWeight(source, i) == QELI_OK)
        a.lineWeight = i;
    if (m_a->GetId(source, i) == QELI_OK)
        a.id = i;
    text = QELXString();
    if (m_a->GetId(source, text) == QELI_OK)
        a.textId = text.c_str();
    if (m_a->GetPID(source, text) == QELI_OK)
        a.pid = text.c_str();
    if (m_a->GetPName(source, text) == QELI_OK)
        a.pname = text.c_str();
    if (m_a->GetVdaPSETIdentifier(source, text) == QELI_OK)
        a.pset = text.c_str();
    if (m_a->GetVdaMDIIdentifier(source, text) == QELI_OK)
        a.mdi = text.c_str();
    if (m_a->GetAlias2(source, text) == QELI_OK)
        a.alias2 = text.c_str();
    QELXIdentifier first, second;
    int count = 0;
    QELXString* texts = nullptr;
    if (m_a->GetAlias(source, second, first, count, texts) == QELI_OK && texts)
        for (int k = 0; k < count; ++k)
            a.aliases.emplace_back(texts[k].c_str());
    if (texts)
        m_a->ReleaseAlias(count, texts);
    if (a.layer || a.name || a.color || a.show || a.pick || a.planeUnbounded || a.surfaceUnbounded || a.thickness ||
        a.lineType || a.lineWeight || a.id || a.textId || a.pid || a.pname || a.pset || a.mdi || a.alias2 ||
        !a.aliases.empty())
        m_m.attributes(word, a);
}

// Kind by kind, each in index order, so that a writer meets the attributes in
// word order.
void Walker::attributes()
{
    if (!m_a || m_fields == 0)
        return;
    std::vector<int> layers;
    for (int kind = KindBody; kind <= KindWire; ++kind) {
        const KindTable& table = m_tables[kind];
        for (std::size_t i = 0; i < table.words.size(); ++i)
            attributesOf(sourceOf(table.words[i], table.like(i)),
                         wordOf(static_cast<EntityKind>(kind), static_cast<int>(i)), layers);
    }
    for (const FreeSource& from : m_free)
        attributesOf(sourceOf(from.word, from.like), from.ours, layers);
    std::set<int> named;
    for (int number : layers) {
        if (named.count(number))
            continue;
        TestLayer l;
        QELXString name;
        bool answered = false;
        if (m_a->GetLayerName(number, name) == QELI_OK) {
            l.name = name.c_str();
            answered = true;
        }
        double rgba[4] = {0, 0, 0, 0};
        if (m_a->GetLayerColor(number, rgba) == QELI_OK) {
            l.color = {rgba[0], rgba[1], rgba[2], rgba[3]};
            answered = true;
        }
        if (m_a->GetLayerState(number, l.state) == QELI_OK)
            answered = true;
        if (answered) {
            named.insert(number);
            m_m.layer(number, l);
        }
    }
}

namespace {

// Collects the walk into a source model.
class ModelSink : public WalkSink {
public:
    explicit ModelSink(TestModel& m) : m_m(m) {}
    void document(const std::string& xType, int unit) override
    {
        m_m.xType = xType;
        m_m.unit = unit;
    }
    void body(const TestBody& b) override { m_m.bodies.push_back(b); }
    void lump(const TestLump& l) override { m_m.lumps.push_back(l); }
    void volume(const TestVolume& v) override { m_m.volumes.push_back(v); }
    void shell(const TestShell& s) override { m_m.shells.push_back(s); }
    void face(const TestFace& f) override { m_m.faces.push_back(f); }
    void loop(const TestLoop& l) override { m_m.loops.push_back(l); }
    void coedge(const TestCoedge& c) override { m_m.coedges.push_back(c); }
    void edge(const TestEdge& e) override { m_m.edges.push_back(e); }
    void vertex(const TestVertex& v) override { m_m.vertices.push_back(v); }
    void wire(const TestWire& w) override { m_m.wires.push_back(w); }
    void surface(const TestSurface& s) override { m_m.surfaces.push_back(s); }
    void curve(const TestCurve& c) override { m_m.curves.push_back(c); }
    void pcurve(const TestPCurve& p) override { m_m.pcurves.push_back(p); }
    void point(const Vec3& p) override { m_m.addPoint(p); }
    void edgeCoedges(int edge, const std::vector<int>& coedges) override
    {
        m_m.edges[static_cast<std::size_t>(edge)].coedges = coedges;
    }
    void vertexEdges(int vertex, const std::vector<int>& edges) override
    {
        m_m.vertices[static_cast<std::size_t>(vertex)].edges = edges;
    }
    void freeEntities(const std::vector<int>& surfaces, const std::vector<int>& curves,
                      const std::vector<int>& points) override
    {
        m_m.freeSurfaces = surfaces;
        m_m.freeCurves = curves;
        m_m.freePoints = points;
    }
    void attributes(std::uint64_t word, const TestAttributes& a) override { m_m.attributes.set(word, a); }
    void layer(int number, const TestLayer& l) override { m_m.layers[number] = l; }

private:
    TestModel& m_m;
};

} // namespace

QELIResult walkExporter(QELXBRepExporter* exporter, WalkSink& sink, WalkSummary* summary, unsigned attributeFields)
{
    if (!exporter)
        return QELI_FAIL;
    QELXDocument* document = exporter->GetDocument();
    int unitCode = 1;
    QELXUnit unit;
    if (document && document->GetUnit(unit) == QELI_OK)
        unitCode = static_cast<int>(unit);
    sink.document(QELXDocumentUtils::GetXType(document).c_str(), unitCode);
    WalkSummary local;
    Walker walker(exporter, sink, summary ? *summary : local, attributeFields);
    return walker.run();
}

QELIResult walkExporter(QELXBRepExporter* exporter, TestModel& out, WalkSummary* summary, unsigned attributeFields)
{
    if (!exporter)
        return QELI_FAIL;
    TestModel model;
    ModelSink sink(model);
    const QELIResult result = walkExporter(exporter, sink, summary, attributeFields);
    if (result == QELI_OK)
        out = std::move(model);
    return result;
}

} // namespace qelx_test
