// Stitch cycles, covers and envelopes.
//
// The envelope's passes find matching coedges through a grid of their start
// points: a coedge is only ever compared with the coedges that start near
// where it ends, so a pass costs about as much as there are coedges.
#include "trim/stitch_node.hxx"

#include <algorithm>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "loops/ring_walk.hxx"
#include "model/kernel_call_bracket.hxx"
#include "qelx/qelx_errors.hxx"
#include "qelx/qelx_math.hxx"
#include "trim/stitch_coedges.hxx"
#include "trim/stitch_index.hxx"
#include "velm/topology.hxx"

namespace {

constexpr double kFirstStitchTolerance = 1e-4;
constexpr double kLastStitchTolerance = 0.1;
constexpr double kStitchToleranceStep = 5.0;
// Grouping inside a cover is looser than matching between covers.
constexpr double kGroupFactor = 5.0;
// Passes that widen past one that joined nothing: the coedges joined are at
// least this many times as long as the tolerance.
constexpr double kWidenedLengthFactor = 10.0;

// Process-wide, as the passes and the covers built during them read it;
// stitching runs on one thread at a time.
double stitchTolerance = kFirstStitchTolerance;

// Covers built later (another envelope, another conversion) group at the
// first tolerance again, also when a pass is cut short by an abort or a
// kernel error.
struct FirstToleranceAfter {
    FirstToleranceAfter() { stitchTolerance = kFirstStitchTolerance; }
    ~FirstToleranceAfter() { stitchTolerance = kFirstStitchTolerance; }
};

double coedgeLength(const Ve_CoedgeTag* c)
{
    const Ve_EdgeTag* e = c ? c->getEdge() : nullptr;
    if (!e)
        return 0.0;
    double length = 0.0;
    velmGuard([&] { length = reinterpret_cast<const EDGE*>(e)->length(); });
    return length;
}

bool isShortCoedge(const Ve_CoedgeTag* c, double t) { return !c || Gk_Func::equal(coedgeLength(c), 0.0, t); }

QELXPoint3D startPointOf(const Ve_CoedgeTag* c)
{
    const Ve_VertexTag* v = c->startVertex();
    return v ? v->getPoint() : QELXPoint3D();
}

QELXPoint3D endPointOf(const Ve_CoedgeTag* c)
{
    const Ve_VertexTag* v = c->endVertex();
    return v ? v->getPoint() : QELXPoint3D();
}

// The next coedge without partner after d, going round the vertex at d's
// end through partners; null when the walk comes back to d.
Ve_CoedgeTag* nextFreeCoedge(Ve_CoedgeTag* d)
{
    Ve_CoedgeTag* n = d->getNext();
    const long limit = ve_loops::ringWalkLimit();
    for (long steps = 0; n && n->getPartner(); ++steps) {
        if (n->getPartner() == d || steps > limit)
            return nullptr;
        n = n->getPartner()->getNext();
    }
    return n;
}

// Chains of free coedges, one started at each leftover not yet walked. A walk
// that runs into a chain already made ends there.
QELXDynamicArray<Ve_StCycle> walkCycles(const std::vector<Ve_CoedgeTag*>& leftovers)
{
    QELXDynamicArray<Ve_StCycle> cycles;
    std::unordered_set<Ve_CoedgeTag*> visited;
    for (Ve_CoedgeTag* s : leftovers) {
        if (!s || visited.count(s))
            continue;
        QELXDynamicArray<Ve_CoedgeTag*> chain;
        for (Ve_CoedgeTag* d = s; d;) {
            visited.insert(d);
            chain.Add(d);
            Ve_CoedgeTag* n = nextFreeCoedge(d);
            if (!n || n == s || visited.count(n))
                break;
            d = n;
        }
        cycles.Add(Ve_StCycle(std::move(chain)));
    }
    return cycles;
}

void reportFailedJoin(int line)
{
    Gk_ErrMgr::checkAbort();
    Gk_ErrMgr::doAssert("ve_stitchnode", line);
}

// Pairs inside one group at five times the stitch tolerance, each coedge
// against those met before it, then the cycles of what is left.
QELXDynamicArray<Ve_StCycle> groupCoedgesIntoCycles(QELXDynamicArray<Ve_CoedgeTag*> coedges)
{
    const double t = kGroupFactor * stitchTolerance;
    std::vector<Ve_CoedgeTag*> kept;
    StitchGrid grid(2.0 * t);
    for (Ve_CoedgeTag* c : coedges) {
        bool joined = false;
        if (c && !isShortCoedge(c, t)) {
            int best = -1;
            grid.near(endPointOf(c), [&](int k) {
                if (kept[k] && (best < 0 || k < best) && matchCoedges(c, kept[k], t))
                    best = k;
            });
            if (best >= 0) {
                if (!joinCoedges(c, kept[best]))
                    reportFailedJoin(157);
                kept[best] = nullptr;
                joined = true;
            }
        }
        if (joined)
            continue;
        kept.push_back(c);
        if (c && !isShortCoedge(c, t))
            grid.insert(startPointOf(c), static_cast<int>(kept.size()) - 1);
    }
    return walkCycles(kept);
}

} // namespace

// ---- cycle

void Ve_StCycle::fetchCoedges(QELXDynamicArray<Ve_CoedgeTag*>& out) const
{
    for (Ve_CoedgeTag* c : m_coedges)
        if (c)
            out.Add(c);
}

bool Ve_StCycle::mergeCycle(Ve_StCycle& other)
{
    const double t = stitchTolerance;
    bool any = false;
    for (Ve_CoedgeTag*& a : m_coedges) {
        if (!a || isShortCoedge(a, t))
            continue;
        for (Ve_CoedgeTag*& b : other.m_coedges) {
            if (!b || isShortCoedge(b, t) || !matchCoedges(a, b, t))
                continue;
            if (!joinCoedges(a, b))
                reportFailedJoin(92);
            a = nullptr;
            b = nullptr;
            any = true;
            break;
        }
    }
    return any;
}

// ---- cover

Ve_StCover::Ve_StCover(QELXDynamicArray<Ve_CoedgeTag*> coedges) : m_cycles(groupCoedgesIntoCycles(std::move(coedges)))
{
}

void Ve_StCover::fetchCoedges(QELXDynamicArray<Ve_CoedgeTag*>& out) const
{
    for (const Ve_StCycle& cycle : m_cycles)
        cycle.fetchCoedges(out);
}

bool Ve_StCover::mergeCover(Ve_StCover& other)
{
    bool any = false;
    for (Ve_StCycle& mine : m_cycles)
        for (Ve_StCycle& theirs : other.m_cycles)
            any = mine.mergeCycle(theirs) || any;
    if (!any)
        return false;
    QELXDynamicArray<Ve_CoedgeTag*> left;
    fetchCoedges(left);
    other.fetchCoedges(left);
    m_cycles = groupCoedgesIntoCycles(std::move(left));
    other.m_cycles = QELXDynamicArray<Ve_StCycle>();
    return true;
}

// ---- envelope

Ve_StEnvelope::Ve_StEnvelope(QELXDynamicArray<Ve_FaceTag*> faces)
{
    for (Ve_FaceTag* face : faces) {
        QELXDynamicArray<Ve_CoedgeTag*> coedges;
        if (face)
            for (Ve_LoopTag* loop : face->getLoops())
                for (Ve_CoedgeTag* c : loop->getCoedges())
                    coedges.Add(c);
        m_covers.Add(Ve_StCover(std::move(coedges)));
    }
}

bool Ve_StEnvelope::doMerge()
{
    const FirstToleranceAfter reset;
    bool joinedBefore = false;
    for (;;) {
        const bool joined = runStitch();
        stitchTolerance *= kStitchToleranceStep;
        if (!(stitchTolerance <= kLastStitchTolerance) || (joinedBefore && !joined))
            break;
        joinedBefore = joinedBefore || joined;
    }
    return true;
}

bool Ve_StEnvelope::doMergeWidening()
{
    const FirstToleranceAfter reset;
    bool quietBefore = false;
    while (stitchTolerance <= kLastStitchTolerance && anyFreeCoedge()) {
        const double shortest = quietBefore ? kWidenedLengthFactor * stitchTolerance : 0.0;
        const bool joined = runStitch(shortest);
        quietBefore = quietBefore || !joined;
        stitchTolerance *= kStitchToleranceStep;
    }
    return true;
}

bool Ve_StEnvelope::anyFreeCoedge() const
{
    for (const Ve_StCover& cover : m_covers)
        for (const Ve_StCycle& cycle : cover.cycles())
            for (const Ve_CoedgeTag* c : cycle.coedges())
                if (c && !c->getPartner())
                    return true;
    return false;
}

namespace {

// One free coedge of a pass, in cover order (cover, cycle, position).
struct StitchRecord {
    Ve_CoedgeTag* coedge = nullptr;
    int cover = 0;
    bool free = true;
    double length = -1.0; // measured when first needed
};

// The state of one pass: every free coedge of the open covers, the grid of
// their start points and the group each cover has joined.
class StitchPass {
public:
    StitchPass(QELXDynamicArray<Ve_StCover>& covers, double t, double shortest)
        : m_covers(covers), m_t(t), m_shortest(std::max(t, shortest)), m_widened(shortest > 0.0),
          m_grid(2.0 * kGroupFactor * t), m_group(covers.Count()), m_members(covers.Count()),
          m_free(covers.Count(), 0), m_paired(covers.Count(), false)
    {
        for (int ci = 0; ci < covers.Count(); ++ci) {
            m_group[ci] = ci;
            m_members[ci].push_back(ci);
            for (Ve_StCycle& cycle : covers[ci].cycles())
                for (Ve_CoedgeTag* c : cycle.coedges()) {
                    if (!c || m_index.count(c))
                        continue;
                    const int id = static_cast<int>(m_records.size());
                    m_records.push_back(StitchRecord{c, ci});
                    m_index.emplace(c, id);
                    m_grid.insert(startPointOf(c), id);
                    ++m_free[ci];
                }
        }
        m_byCover.resize(covers.Count());
        for (int id = 0; id < static_cast<int>(m_records.size()); ++id)
            m_byCover[m_records[id].cover].push_back(id);
    }

    bool run()
    {
        bool any = false;
        for (int h = 0; h < m_covers.Count(); ++h) {
            if (m_group[h] != h || m_free[h] == 0)
                continue;
            // A widened pass pairs what a cover has left within itself
            // again first, at the pass tolerance: its faces were grouped at
            // a narrower one.
            if (m_widened) {
                const int before = m_free[h];
                pairInsideGroup(h, freeRecordsOf(h), m_t);
                m_paired[h] = m_free[h] < before;
                any = any || m_paired[h];
            }
            any = growGroup(h) || any;
        }
        rebuildCycles();
        return any;
    }

private:
    bool isShort(int id, double t)
    {
        StitchRecord& r = m_records[id];
        if (r.length < 0.0)
            r.length = coedgeLength(r.coedge);
        return Gk_Func::equal(r.length, 0.0, t);
    }

    // Free coedges of other records that start near where `id` ends.
    template <class F>
    void nearEnd(int id, F&& visit)
    {
        m_grid.near(endPointOf(m_records[id].coedge), [&](int x) {
            if (x != id && m_records[x].free)
                visit(x);
        });
    }

    std::vector<int> freeRecordsOf(int cover) const
    {
        std::vector<int> out;
        for (int id : m_byCover[cover])
            if (m_records[id].free)
                out.push_back(id);
        return out;
    }

    void join(int a, int b, int line)
    {
        if (!joinCoedges(m_records[a].coedge, m_records[b].coedge))
            reportFailedJoin(line);
        for (int id : {a, b}) {
            m_records[id].free = false;
            --m_free[m_group[m_records[id].cover]];
        }
    }

    // Later covers, not yet in a group, with a free coedge near one of these.
    void collectCandidates(int h, const std::vector<int>& ids, std::set<int>& pending)
    {
        for (int id : ids) {
            if (!m_records[id].free)
                continue;
            nearEnd(id, [&](int x) {
                const int c = m_records[x].cover;
                if (c > h && m_group[c] == c && m_free[c] > 0)
                    pending.insert(c);
            });
        }
    }

    // The first open cover takes every later cover it meets, and what those
    // meet in turn, in cover order.
    bool growGroup(int h)
    {
        std::set<int> pending;
        collectCandidates(h, freeRecordsOf(h), pending);
        bool any = false, mergedBefore = false;
        while (!pending.empty() && m_free[h] > 0) {
            const int other = *pending.begin();
            pending.erase(pending.begin());
            if (m_group[other] != other || m_free[other] == 0)
                continue;
            std::vector<std::pair<int, int>> joined;
            mergeInto(h, other, joined);
            if (joined.empty())
                continue;
            any = true;
            // The leftovers of the group are paired again, the first time
            // all of them, then those of the cover taken and those next to
            // the joins.
            std::vector<int> touched = freeRecordsOf(other);
            if (!mergedBefore)
                for (int member : m_members[h])
                    for (int id : freeRecordsOf(member))
                        touched.push_back(id);
            mergedBefore = true;
            for (auto [a, b] : joined)
                for (int id : {a, b})
                    for (Ve_CoedgeTag* n : {m_records[id].coedge->getNext(), m_records[id].coedge->getPrevious()})
                        if (auto it = m_index.find(n); it != m_index.end() && m_records[it->second].free)
                            touched.push_back(it->second);
            m_group[other] = h;
            m_free[h] += m_free[other];
            m_free[other] = 0;
            for (int member : m_members[other])
                m_members[h].push_back(member);
            m_members[other].clear();
            pairInsideGroup(h, touched, kGroupFactor * m_t);
            collectCandidates(h, touched, pending);
        }
        return any;
    }

    // Matching at the pass tolerance between the group and the cover, each
    // pair in cover order; a coedge of the group goes onto the cover's edge.
    void mergeInto(int h, int other, std::vector<std::pair<int, int>>& joined)
    {
        std::vector<std::pair<int, int>> pairs;
        for (int b : freeRecordsOf(other))
            nearEnd(b, [&](int a) {
                if (m_group[m_records[a].cover] == h)
                    pairs.emplace_back(a, b);
            });
        std::sort(pairs.begin(), pairs.end());
        pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
        for (auto [a, b] : pairs) {
            if (!m_records[a].free || !m_records[b].free || isShort(a, m_shortest) || isShort(b, m_shortest))
                continue;
            if (!matchCoedges(m_records[a].coedge, m_records[b].coedge, m_t))
                continue;
            join(a, b, 92);
            joined.emplace_back(a, b);
        }
    }

    // Each touched coedge against the group's others at t: a later coedge
    // goes onto an earlier one's edge.
    void pairInsideGroup(int h, const std::vector<int>& touched, double t)
    {
        const double shortest = std::max(t, m_shortest);
        std::vector<std::pair<int, int>> pairs; // (later, earlier)
        for (int y : touched) {
            if (!m_records[y].free)
                continue;
            auto add = [&](int x) {
                if (m_group[m_records[x].cover] == h)
                    pairs.emplace_back(std::max(x, y), std::min(x, y));
            };
            nearEnd(y, add);
            // And those that end near where this one starts.
            m_grid.near(startPointOf(m_records[y].coedge), [&](int x) {
                if (x != y && m_records[x].free)
                    add(x);
            });
        }
        std::sort(pairs.begin(), pairs.end());
        pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
        for (auto [c, k] : pairs) {
            if (!m_records[c].free || !m_records[k].free || isShort(c, shortest) || isShort(k, shortest))
                continue;
            if (matchCoedges(m_records[c].coedge, m_records[k].coedge, t))
                join(c, k, 157);
        }
    }

    // A group's cover gets the cycles of every free coedge of its members,
    // in cover order; the covers it took are left without cycles.
    void rebuildCycles()
    {
        for (int h = 0; h < m_covers.Count(); ++h) {
            if (m_group[h] != h || (m_members[h].size() < 2 && !m_paired[h]))
                continue;
            std::vector<int> ids;
            for (int member : m_members[h])
                for (int id : freeRecordsOf(member))
                    ids.push_back(id);
            std::sort(ids.begin(), ids.end());
            std::vector<Ve_CoedgeTag*> left;
            for (int id : ids)
                left.push_back(m_records[id].coedge);
            m_covers[h].cycles() = walkCycles(left);
            for (int member : m_members[h])
                if (member != h)
                    m_covers[member].cycles() = QELXDynamicArray<Ve_StCycle>();
        }
    }

    QELXDynamicArray<Ve_StCover>& m_covers;
    double m_t;
    double m_shortest;
    bool m_widened;
    StitchGrid m_grid;
    std::vector<StitchRecord> m_records;
    std::unordered_map<Ve_CoedgeTag*, int> m_index;
    std::vector<std::vector<int>> m_byCover;
    std::vector<int> m_group;                // the cover whose group a cover is in
    std::vector<std::vector<int>> m_members; // per group, its covers
    std::vector<int> m_free;                 // per group, its free coedges
    std::vector<bool> m_paired;              // per group, paired within itself this pass
};

} // namespace

bool Ve_StEnvelope::runStitch(double shortest)
{
    return StitchPass(m_covers, stitchTolerance, shortest).run();
}

// ---- shell

Ve_StitchShell::Ve_StitchShell(Ve_FaceTag* face)
{
    m_shell = new SHELL();
    if (m_shell)
        m_shell->set_face(reinterpret_cast<FACE*>(face));
}

Ve_ShellTag* Ve_StitchShell::getShell() const { return ve_view<Ve_ShellTag>(m_shell); }
