// Loose faces joined into sheets and solids: the trim road and many
// exporters hand every face over alone, with edges and vertices of its own.
// The healing recipes do not call it; a caller holding loose sheets may.
#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "heal/repair_utils.hxx"
#include "heal/repair_utils_internal.hxx"
#include "model/body_set.hxx"
#include "model/document.hxx"
#include "model/entity_views.hxx"
#include "model/kernel_call_bracket.hxx"
#include "qelx/qelx_errors.hxx"
#include "qelx/qelx_events.hxx"
#include "qelx/qelx_options.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "trim/stitch_coedges.hxx"
#include "trim/stitch_index.hxx"
#include "trim/stitch_node.hxx"
#include "velm/body_heal.hxx"
#include "velm/build.hxx"
#include "velm/errors.hxx"
#include "velm/insanity.hxx"
#include "velm/query.hxx"
#include "velm/tolerance_update.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

namespace {

constexpr int kJoiningAttempts = 4;
// The stitcher's passes: ends this far apart at most are joined, the
// tolerance growing fivefold from the first.
constexpr double kFirstJoinTolerance = 1e-4;
constexpr double kLastJoinTolerance = 0.1;
constexpr double kJoinToleranceStep = 5.0;

std::vector<FACE*> facesOfBody(BODY* body)
{
    std::vector<FACE*> out;
    for (LUMP* l = body->lump(); l; l = l->next())
        for (SHELL* s = l->shell(); s; s = s->next())
            for (FACE* f = s->face(); f; f = f->next())
                out.push_back(f);
    return out;
}

template <class F>
void forEachCoedge(FACE* face, F&& visit)
{
    for (LOOP* l = face->loop(); l; l = l->next()) {
        COEDGE* first = l->start();
        for (COEDGE* c = first; c;) {
            visit(c);
            c = c->next();
            if (c == first)
                break;
        }
    }
}

// A body of faces only, open, placed where its geometry says: the kind the
// joining takes.
bool isLooseSheet(BODY* body)
{
    if (!body || body->wire() || body->transform() || is_closed_solid_body(body))
        return false;
    bool anyFace = false;
    for (LUMP* l = body->lump(); l; l = l->next())
        for (SHELL* s = l->shell(); s; s = s->next()) {
            if (s->wire() || s->is_closed())
                return false;
            anyFace = anyFace || s->face() != nullptr;
        }
    return anyFace;
}

// A face without loops is its whole surface: it bounds something only where
// the surface is bounded both ways (a sphere, a torus, a spline closed on
// itself), never on a plane or a cylinder taken whole.
bool boundsAlone(const FACE* face)
{
    if (face->loop())
        return true;
    const SURFACE* geometry = face->geometry();
    const surface* equation = geometry ? geometry->equation_ptr() : nullptr;
    if (!equation)
        return false;
    const QELpar_box range = equation->param_range();
    return range.u_range().finite() && range.v_range().finite();
}

struct Components {
    explicit Components(std::size_t n) : parent(n) { std::iota(parent.begin(), parent.end(), 0); }
    std::vector<int> parent;
    int find(int i) { return parent[i] == i ? i : parent[i] = find(parent[i]); }
    void unite(int a, int b) { parent[find(a)] = find(b); }
};

QELXPoint3D gridPoint(const QELposition& p) { return QELXPoint3D(p.x(), p.y(), p.z()); }

// Groups that may each be turned over: which of two joined groups is turned
// relative to the other, kept with the union.
struct TurnableGroups {
    explicit TurnableGroups(std::size_t n) : parent(n), size(n, 1), turned(n, false)
    {
        std::iota(parent.begin(), parent.end(), 0);
    }
    std::vector<int> parent;
    std::vector<int> size;
    std::vector<bool> turned; // against the parent

    int find(int i)
    {
        int root = i;
        bool turnedToRoot = false;
        while (parent[root] != root) {
            turnedToRoot = turnedToRoot != turned[root];
            root = parent[root];
        }
        // Every group on the way now hangs off the root directly.
        for (bool t = turnedToRoot; parent[i] != i;) {
            const int next = parent[i];
            const bool nextT = t != turned[i];
            parent[i] = root;
            turned[i] = t;
            i = next;
            t = nextT;
        }
        return root;
    }
    // Whether i is turned against its root (after find).
    bool turnedFromRoot(int i)
    {
        find(i);
        return parent[i] == i ? false : turned[i];
    }
    // Records that a and b face apart (one must turn for them to agree) or
    // alike; false when that contradicts what is known already.
    bool relate(int a, int b, bool apart)
    {
        const int ra = find(a), rb = find(b);
        const bool ta = turnedFromRoot(a), tb = turnedFromRoot(b);
        if (ra == rb)
            return (ta != tb) == apart;
        const auto [small, large] = size[ra] < size[rb] ? std::pair(ra, rb) : std::pair(rb, ra);
        parent[small] = large;
        turned[small] = (ta != tb) != apart;
        size[large] += size[small];
        return true;
    }
};

// A joined edge on spline faces is rebuilt as an intersection curve, which
// notes that the option switching those on is absent and keeps the edge's
// curve as it is: a note on the setup, not on the join.
bool absentOptionNote(const Gk_AssertRecord& r)
{
    return !Ve_OptionDoc::CreateIntCurve && r.source == "ve_curvexltr" && r.line == 486;
}

// One joining of the sheets not left out, run inside one bracket: any kernel
// failure raised out of it takes the whole joining back. What it was doing
// when the failure came names the failure.
class Joining {
public:
    Joining(const std::vector<BODY*>& sheets, const std::vector<bool>& leftOut)
        : m_sheets(sheets), m_leftOut(leftOut)
    {
        gone.assign(sheets.size(), false);
        declined.assign(sheets.size(), false);
    }
    Joining(const Joining&) = delete;
    Joining& operator=(const Joining&) = delete;

    void run();

    // The call or stage the joining was in.
    const char* step = "checking the sheets";
    // Set when the joining was taken back by choice rather than by failure:
    // the sheets of a group the join made worse (declined), or all of them.
    bool declining = false;
    bool declinedAll = false;
    // What became of each sheet: gone into another, or the pieces it was
    // separated into after it (itself first).
    std::vector<bool> gone;
    std::vector<bool> declined;
    std::map<const BODY*, std::vector<BODY*>> pieces;

private:
    [[noreturn]] void fail(const char* call, const outcome& failed)
    {
        step = call;
        // An error number 0 would let the bracket keep what was done.
        sys_error(failed.error_number() != 0 ? failed.error_number() : VELM_BAD_ARGUMENT, failed.get_error_info());
    }
    void turnFacesAlike(const std::vector<FACE*>& faces);
    void tolerateJoinedEdges(const std::vector<COEDGE*>& wereFree);
    int findingsOf(const BODY* body);
    double enclosedVolume(const BODY* body);
    bool facesAgree(BODY* body, double volume);
    bool makeSolidWhereClosed(BODY* body);

    const std::vector<BODY*>& m_sheets;
    const std::vector<bool>& m_leftOut;
};

// Loose faces may come facing either way (a format or exporter that drops
// the face's sense), and the stitcher only pairs edges running opposite
// ways. The groups of faces already joined are turned over where their free
// edges meet others running the same way: whichever side of a meeting turns
// fewer faces. Groups whose meetings disagree keep the first said, tightest
// meetings first.
void Joining::turnFacesAlike(const std::vector<FACE*>& faces)
{
    std::unordered_map<const FACE*, int> faceIndex;
    for (std::size_t i = 0; i < faces.size(); ++i)
        faceIndex.emplace(faces[i], static_cast<int>(i));
    Components joined(faces.size());
    struct Free {
        COEDGE* coedge;
        int face;
        QELposition start, end;
    };
    std::vector<Free> free;
    for (std::size_t i = 0; i < faces.size(); ++i)
        forEachCoedge(faces[i], [&](COEDGE* c) {
            const COEDGE* p = c->partner();
            const LOOP* loop = p ? p->loop() : nullptr;
            if (const auto other = loop ? faceIndex.find(loop->face()) : faceIndex.end(); other != faceIndex.end())
                joined.unite(static_cast<int>(i), other->second);
            const VERTEX* s = c->start();
            const VERTEX* e = c->end();
            if (!p && s && e && s->geometry() && e->geometry())
                free.push_back(Free{c, static_cast<int>(i), s->geometry()->coords(), e->geometry()->coords()});
        });

    // Meetings by the ends first: only a pair whose ends meet along, or a
    // closed pair, can say that a group faces the wrong way.
    struct Meeting {
        int a, b;
        double gap;
        bool along;
    };
    std::vector<Meeting> meetings;
    bool anyAlong = false;
    StitchGrid grid(kLastJoinTolerance);
    for (std::size_t k = 0; k < free.size(); ++k)
        grid.insert(gridPoint(free[k].start), static_cast<int>(k));
    // Pairs whose ends meet along (b starts near a's start) or opposite ways
    // (b starts near a's end), each pair once.
    const auto meetAll = [&](bool along) {
        for (std::size_t k = 0; k < free.size(); ++k) {
            const Free& a = free[k];
            grid.near(gridPoint(along ? a.start : a.end), [&](int j) {
                const Free& b = free[j];
                if (j <= static_cast<int>(k) || joined.find(a.face) == joined.find(b.face))
                    return;
                const double gap = along ? std::max(distance(a.start, b.start), distance(a.end, b.end))
                                         : std::max(distance(a.start, b.end), distance(a.end, b.start));
                if (gap > kLastJoinTolerance)
                    return;
                const bool closed = distance(a.start, a.end) <= kLastJoinTolerance;
                anyAlong = anyAlong || along || closed;
                if (!along || !closed) // a closed pair is met once
                    meetings.push_back(Meeting{static_cast<int>(k), j, gap, along});
            });
        }
    };
    // Faces that all agree meet only opposite ways: those meetings are only
    // looked for when some group may have to turn.
    meetAll(true);
    if (!anyAlong)
        return;
    meetAll(false);

    // Each meeting at the first pass tolerance its ends allow at which the
    // edges lie on one boundary, and which way they run there.
    struct Said {
        double t;
        int a, b;
        bool opposite;
    };
    std::vector<Said> said;
    for (const Meeting& m : meetings)
        for (double t = kFirstJoinTolerance; t <= kLastJoinTolerance; t *= kJoinToleranceStep) {
            if (t < m.gap)
                continue;
            const CoedgeWays ways = coedgesOnOneBoundary(ve_view<Ve_CoedgeTag>(free[m.a].coedge),
                                                         ve_view<Ve_CoedgeTag>(free[m.b].coedge), t);
            if (ways == CoedgeWays::Apart)
                continue;
            said.push_back(Said{t, joined.find(free[m.a].face), joined.find(free[m.b].face),
                                ways == CoedgeWays::Opposite});
            break;
        }
    std::stable_sort(said.begin(), said.end(), [](const Said& x, const Said& y) { return x.t < y.t; });
    TurnableGroups sides(faces.size());
    bool anyTurn = false;
    for (const Said& s : said) {
        // Edges running the same way: the groups face apart.
        sides.relate(s.a, s.b, !s.opposite);
        anyTurn = anyTurn || !s.opposite;
    }
    if (!anyTurn)
        return;
    // Per set of groups that met: the faces that would turn either way.
    std::vector<std::size_t> turnedCount(faces.size(), 0), keptCount(faces.size(), 0);
    for (std::size_t i = 0; i < faces.size(); ++i) {
        const int g = joined.find(static_cast<int>(i));
        (sides.turnedFromRoot(g) ? turnedCount : keptCount)[sides.find(g)] += 1;
    }
    for (std::size_t i = 0; i < faces.size(); ++i) {
        const int g = joined.find(static_cast<int>(i));
        const int root = sides.find(g);
        const bool turnTheTurned = turnedCount[root] <= keptCount[root];
        if (sides.turnedFromRoot(g) != turnTheTurned)
            continue;
        const outcome reversed = api_reverse_face(faces[i]);
        if (!reversed.ok())
            fail("api_reverse_face", reversed);
    }
}

// A join bridges gaps up to the last tolerance: the edge kept is one side's
// curve, the other side's pcurve and vertex end stay where its face put them.
// Each joined edge that now strays from its faces or vertices is made
// tolerant to what it strays by, and so are its vertices, so that the
// checker judges the join by what it is.
void Joining::tolerateJoinedEdges(const std::vector<COEDGE*>& wereFree)
{
    std::vector<EDGE*> edges;
    std::unordered_set<const EDGE*> met;
    for (COEDGE* c : wereFree)
        if (c->partner() && c->edge() && met.insert(c->edge()).second)
            edges.push_back(c->edge());
    std::vector<VERTEX*> ends;
    std::unordered_set<const VERTEX*> endsMet;
    for (EDGE* e : edges) {
        if (edge_deviation(e) <= QELresabs)
            continue;
        if (!is_TEDGE(e)) {
            TEDGE* tolerant = nullptr;
            const outcome replaced = api_replace_edge_with_tedge(e, tolerant);
            if (!replaced.ok())
                fail("api_replace_edge_with_tedge", replaced);
            e = tolerant;
        }
        update_edge_tolerance(static_cast<TEDGE*>(e));
        for (VERTEX* v : {e->start(), e->end()})
            if (v && endsMet.insert(v).second)
                ends.push_back(v);
    }
    for (VERTEX* v : ends) {
        if (!is_TVERTEX(v)) {
            TVERTEX* tolerant = nullptr;
            const outcome replaced = api_replace_vertex_with_tvertex(v, tolerant);
            if (!replaced.ok())
                fail("api_replace_vertex_with_tvertex", replaced);
            v = tolerant;
        }
        update_vertex_tolerance(v);
    }
}

// What the kernel's checker finds in the body.
int Joining::findingsOf(const BODY* body)
{
    ENTITY_LIST insane;
    const outcome checked = api_check_entity(body, &insane, nullptr, nullptr);
    if (!checked.ok())
        fail("api_check_entity", checked);
    return insane.count();
}

double Joining::enclosedVolume(const BODY* body)
{
    double volume = 0.0, achieved = 0.0;
    const outcome measured = api_body_volume(body, 1e-7, volume, achieved);
    if (!measured.ok())
        fail("api_body_volume", measured);
    return volume;
}

// A closed surface whose faces all face one way encloses the same volume
// wherever it stands: the flux of the position through it does not change
// when it moves. A face turned against its neighbours changes it by the
// move times twice that face's vector area.
bool Joining::facesAgree(BODY* body, double volume)
{
    ENTITY_LIST one;
    one.add(body);
    QELposition lo, hi;
    const outcome boxed = api_get_entity_box(one, nullptr, lo, hi);
    if (!boxed.ok())
        fail("api_get_entity_box", boxed);
    const double size = distance(lo, hi);
    BODY* moved = nullptr;
    const outcome copied = api_copy_body(body, moved);
    if (!copied.ok() || !moved)
        fail("api_copy_body", copied);
    // The copy is made inside the joining's bracket: a failure from here on
    // takes it back with the rest.
    const outcome shifted = api_apply_transf(moved, translate_transf(QELvector(0.9, -0.7, 0.5) * size));
    if (!shifted.ok())
        fail("api_apply_transf", shifted);
    const outcome baked = api_change_body_trans(moved, nullptr);
    if (!baked.ok())
        fail("api_change_body_trans", baked);
    const double there = enclosedVolume(moved);
    const outcome deleted = api_del_entity(moved);
    if (!deleted.ok())
        fail("api_del_entity", deleted);
    return std::abs(there - volume) <= 1e-4 * std::max(std::abs(volume), size * size * size * 1e-6);
}

// A body whose faces, taken single-sided, close and face one way: a solid
// facing outwards. Otherwise the faces keep their sides; false when the faces
// close but disagree on their outside.
bool Joining::makeSolidWhereClosed(BODY* body)
{
    const std::vector<FACE*> faces = facesOfBody(body);
    std::vector<int> sides;
    for (FACE* f : faces) {
        sides.push_back(f->sides());
        f->set_sides(0);
    }
    const auto keepSheet = [&] {
        for (std::size_t i = 0; i < faces.size(); ++i)
            faces[i]->set_sides(sides[i]);
    };
    if (!is_closed_solid_body(body)) {
        keepSheet();
        return true;
    }
    const double volume = enclosedVolume(body);
    if (!facesAgree(body, volume)) {
        keepSheet();
        return false;
    }
    if (volume < 0.0) {
        const outcome reversed = api_reverse_body(body);
        if (!reversed.ok())
            fail("api_reverse_body", reversed);
    }
    return true;
}

void Joining::run()
{
    std::unordered_map<const FACE*, int> owner;
    std::vector<int> freeBefore(m_sheets.size(), 0);
    std::vector<int> findingsBefore(m_sheets.size(), 0);
    QELXDynamicArray<Ve_FaceTag*> faces;
    std::vector<FACE*> allFaces;
    for (std::size_t i = 0; i < m_sheets.size(); ++i) {
        if (m_leftOut[i])
            continue;
        findingsBefore[i] = findingsOf(m_sheets[i]);
        for (FACE* f : facesOfBody(m_sheets[i])) {
            owner[f] = static_cast<int>(i);
            faces.Add(ve_view<Ve_FaceTag>(f));
            allFaces.push_back(f);
            forEachCoedge(f, [&](COEDGE* c) { freeBefore[i] += c->partner() ? 0 : 1; });
        }
    }
    step = "turning the faces alike";
    turnFacesAlike(allFaces);
    std::vector<COEDGE*> wereFree;
    for (FACE* f : allFaces)
        forEachCoedge(f, [&](COEDGE* c) {
            if (!c->partner())
                wereFree.push_back(c);
        });
    // The stitcher records what went wrong and goes on. A join it could
    // not make (a kernel failure inside the join) is a failure; anything
    // else it met declines the joining. Either way the whole joining is
    // taken back rather than leave half-joined faces.
    step = "joining free edges";
    const std::size_t assertions = Gk_ErrMgr::assertions().size();
    Ve_StEnvelope(faces).doMergeWidening();
    const std::vector<Gk_AssertRecord>& log = Gk_ErrMgr::assertions();
    bool joinFailed = false, anyFinding = false;
    for (std::size_t k = assertions; k < log.size(); ++k) {
        joinFailed = joinFailed || log[k].source == "ve_stitchnode";
        anyFinding = anyFinding || !absentOptionNote(log[k]);
    }
    if (joinFailed || anyFinding) {
        declining = declinedAll = !joinFailed;
        sys_error(VELM_BAD_FACE_LOOPS);
    }

    step = "tolerating the joined edges";
    tolerateJoinedEdges(wereFree);

    // Sheets joined to one another become one body; a sheet joined only
    // within itself is regrouped alone.
    step = "regrouping the joined faces";
    Components parts(m_sheets.size());
    std::vector<int> freeAfter(m_sheets.size(), 0);
    for (const auto& [face, i] : owner)
        forEachCoedge(const_cast<FACE*>(face), [&, i = i](COEDGE* c) {
            const COEDGE* p = c->partner();
            freeAfter[i] += p ? 0 : 1;
            const LOOP* loop = p ? p->loop() : nullptr;
            const auto other = loop ? owner.find(loop->face()) : owner.end();
            if (other != owner.end())
                parts.unite(i, other->second);
        });
    std::map<int, std::vector<int>> groups;
    for (std::size_t i = 0; i < m_sheets.size(); ++i)
        if (!m_leftOut[i])
            groups[parts.find(static_cast<int>(i))].push_back(static_cast<int>(i));
    bool anyDeclined = false;
    for (const auto& group : groups) {
        const std::vector<int>& members = group.second;
        // A group that closes is taken on even when the join changed
        // nothing in it: a whole sphere or torus is one face that closes on
        // itself alone, and such a sheet is a solid as much as a sewn box.
        bool changed = members.size() > 1, closes = true;
        for (int i : members) {
            changed = changed || freeAfter[i] != freeBefore[i];
            closes = closes && freeAfter[i] == 0;
            for (FACE* f : facesOfBody(m_sheets[i]))
                closes = closes && boundsAlone(f);
        }
        if (!changed && !closes)
            continue;
        BODY* target = m_sheets[members[0]];
        LUMP* tail = target->lump();
        while (tail->next())
            tail = tail->next();
        for (std::size_t k = 1; k < members.size(); ++k) {
            BODY* other = m_sheets[members[k]];
            LUMP* moved = other->lump();
            other->set_lump(nullptr);
            tail->set_next(moved);
            for (LUMP* l = moved; l; l = l->next()) {
                l->set_body(target);
                tail = l;
            }
            gone[members[k]] = true;
            ve_recipes::loseBody(ve_view<Ve_BodyTag>(other));
        }
        step = "api_flatten_body";
        const outcome flat = api_flatten_body(target);
        if (!flat.ok())
            fail("api_flatten_body", flat);
        ENTITY_LIST split;
        step = "separating the joined shells";
        separate_body_shells(target, split);
        separate_body_lumps(target, split);
        std::vector<BODY*>& made = pieces[target];
        made.push_back(target);
        for (int k = 0; k < split.count(); ++k)
            made.push_back(static_cast<BODY*>(split[k]));
        int before = 0, after = 0;
        for (int i : members)
            before += findingsBefore[i];
        step = "closing the joined shells";
        bool agree = true;
        for (BODY* b : made) {
            agree = makeSolidWhereClosed(b) && agree;
            after += findingsOf(b);
        }
        // Valid sheets are never traded for a body the checker finds more
        // wrong with, nor for a closed one whose faces disagree on their
        // outside: that group's sheets stay as they came.
        if (!agree || after > before) {
            anyDeclined = true;
            for (int i : members)
                declined[i] = true;
        }
    }
    if (anyDeclined) {
        declining = true;
        sys_error(VELM_BAD_FACE_LOOPS);
    }
}

// The warning a failed joining gives: what failed and the kernel's word.
void warnJoiningFailed(const Joining& joining, const outcome& failed)
{
    const char* why = message_module::find_message(failed.error_number());
    const std::string text = std::string(QELXVeRepairUtils::SheetJoiningFailed) + ": " + joining.step +
                             " failed (" + (why ? why : "error " + std::to_string(failed.error_number())) +
                             "); they are left as they came";
    QELXWarningEvent::Fire(text.c_str());
}

} // namespace

void QELXVeRepairUtils::stitchSheetBodies(Ve_CocoonTag* set)
{
    if (!set || Ve_OptionDoc::isOff(Ve_OptionDoc::StitchSheetBodies))
        return;
    const QELXDynamicArray<Ve_BodyTag*> bodies = set->getBodies();
    std::vector<BODY*> sheets;
    std::map<const BODY*, int> indexOf;
    std::vector<std::size_t> facesOf;
    for (Ve_BodyTag* view : bodies) {
        BODY* b = ve_recipes::isLive(view) ? ve_recipes::kernelOf(view) : nullptr;
        if (b && !indexOf.count(b) && isLooseSheet(b)) {
            indexOf[b] = static_cast<int>(sheets.size());
            sheets.push_back(b);
            facesOf.push_back(facesOfBody(b).size());
        }
    }

    // A group whose join the checker finds worse is left out and the rest
    // joined again; a failure takes the whole joining back, warned of, and
    // the recipe then heals the sheets as they came.
    std::vector<bool> leftOut(sheets.size(), false);
    for (int attempt = 0; attempt < kJoiningAttempts; ++attempt) {
        std::size_t faceCount = 0;
        for (std::size_t i = 0; i < sheets.size(); ++i)
            faceCount += leftOut[i] ? 0 : facesOf[i];
        // One face is joined too: its own edges may meet (a seam), or it
        // may close alone.
        if (faceCount == 0)
            return;
        Joining joining(sheets, leftOut);
        const outcome joined = velmInnerCall([&] { joining.run(); });
        if (!joined.ok()) {
            if (!joining.declining) {
                warnJoiningFailed(joining, joined);
                return;
            }
            if (joining.declinedAll)
                return;
            for (std::size_t i = 0; i < sheets.size(); ++i)
                leftOut[i] = leftOut[i] || joining.declined[i];
            continue;
        }
        if (joining.pieces.empty())
            return;
        QELXDynamicArray<Ve_BodyTag*> result;
        for (Ve_BodyTag* view : bodies) {
            const BODY* b = ve_recipes::kernelOf(view);
            const auto sheet = indexOf.find(b);
            if (sheet != indexOf.end() && joining.gone[sheet->second])
                continue;
            const auto made = joining.pieces.find(b);
            if (made == joining.pieces.end()) {
                result.Add(view);
                continue;
            }
            for (BODY* piece : made->second)
                result.Add(ve_view<Ve_BodyTag>(piece));
            // A body the joining changed is described afresh.
            Ve_DocumentTag::RemoveFromCache(view);
        }
        set->setBodies(result);
        return;
    }
}
