// Matching and joining free coedges of separate faces.
#include "trim/stitch_coedges.hxx"

#include <algorithm>
#include <cmath>
#include <memory>
#include <unordered_set>

#include "geometry/spline_curve_build.hxx"
#include "model/entity_views.hxx"
#include "loops/ring_walk.hxx"
#include "model/kernel_call_bracket.hxx"
#include "qelx/qelx_errors.hxx"
#include "qelx/qelx_math.hxx"
#include "velm/attrib.hxx"
#include "velm/bspline.hxx"
#include "velm/geometry.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

namespace {

// One coedge as the matching reads it: its parameter range and where a
// parameter of it lies in space (edge curve, else pcurve on the surface).
class CoedgeTrack {
public:
    explicit CoedgeTrack(const COEDGE* c) : m_coedge(c)
    {
        const EDGE* e = c->edge();
        if (!e)
            return;
        const CURVE* cu = e->geometry();
        if (cu && cu->has_equation()) {
            m_curve = &cu->equation();
            m_flip = c->sense() != e->sense();
        } else if (const PCURVE* pc = c->geometry(); pc && pc->has_equation() && pc->def().has_surface()) {
            m_pcurve = &pc->def();
        } else {
            return;
        }
        m_range = c->param_range();
        m_usable = m_range.finite();
    }

    bool usable() const { return m_usable; }
    const QELinterval& range() const { return m_range; }
    double at(double fraction) const { return m_range.start_pt() + fraction * m_range.length(); }

    QELposition point(double c) const
    {
        if (m_curve)
            return m_curve->eval_position(m_flip ? -c : c);
        return m_pcurve->surface().eval_position(m_pcurve->eval_position(c));
    }

    // Distance from p to the coedge's stretch of its curve; `guess` is a
    // coedge parameter near the foot, `foot` (when given) gets the coedge
    // parameter of the nearest point found.
    double distanceTo(const QELposition& p, double guess, double* foot = nullptr) const
    {
        const double d0 = distance(p, point(m_range.start_pt()));
        const double d1 = distance(p, point(m_range.end_pt()));
        double best = std::min(d0, d1);
        double bestAt = d0 <= d1 ? m_range.start_pt() : m_range.end_pt();
        if (m_curve) {
            QELposition onCurve;
            const double g = m_flip ? -guess : guess;
            double t = g;
            m_curve->point_perp(p, onCurve, &g, &t);
            double c = m_flip ? -t : t;
            const double period = m_curve->param_period();
            if (period > 0.0 && !inside(c))
                c -= period * std::floor((c - m_range.start_pt()) / period);
            if (inside(c) && distance(p, onCurve) < best) {
                best = distance(p, onCurve);
                bestAt = c;
            }
        } else {
            // Without a curve: the pcurve's polygon on the surface.
            constexpr int n = 32;
            QELposition last = point(m_range.start_pt());
            for (int i = 1; i <= n; ++i) {
                const QELposition next = point(at(double(i) / n));
                const QELvector d = next - last;
                const double len2 = d % d;
                const double s = len2 > 0.0 ? std::clamp(((p - last) % d) / len2, 0.0, 1.0) : 0.0;
                const double gap = distance(p, last + s * d);
                if (gap < best) {
                    best = gap;
                    bestAt = at((i - 1 + s) / n);
                }
                last = next;
            }
        }
        if (foot)
            *foot = bestAt;
        return best;
    }

    // The way the coedge runs at parameter c, as a chord over a small
    // stretch of its range.
    QELvector heading(double c) const
    {
        const double h = 1e-3 * m_range.length();
        const double lo = std::max(m_range.start_pt(), c - h);
        const double hi = std::min(m_range.end_pt(), c + h);
        return point(hi) - point(lo);
    }

private:
    bool inside(double c) const
    {
        const double fuzz = 1e-9 * std::max(1.0, m_range.length());
        return c >= m_range.start_pt() - fuzz && c <= m_range.end_pt() + fuzz;
    }

    const COEDGE* m_coedge;
    const curve* m_curve = nullptr;
    const pcurve* m_pcurve = nullptr;
    bool m_flip = false;
    QELinterval m_range;
    bool m_usable = false;
};

// The quarter and middle points of `to` lie within t of `from`.
bool sampledClose(const CoedgeTrack& from, const CoedgeTrack& to, double t, bool opposite)
{
    for (double f : {0.25, 0.5}) {
        // Running opposite ways, the point at f of one lies near 1 - f of the other.
        if (from.distanceTo(to.point(to.at(f)), from.at(opposite ? 1.0 - f : f)) > t)
            return false;
    }
    return true;
}

// Whether the two run the same way (+1) or opposite ways (-1) at a's middle,
// 0 when either has no heading there. The ends cannot tell for a closed
// curve: two circles on one boundary meet at both ends whichever way they
// run.
int headingsAgree(const CoedgeTrack& a, const CoedgeTrack& b)
{
    const double mid = a.at(0.5);
    double foot = 0.0;
    b.distanceTo(a.point(mid), b.at(0.5), &foot);
    const double dot = a.heading(mid) % b.heading(foot);
    return dot > 0.0 ? 1 : dot < 0.0 ? -1 : 0;
}

// Parameter range of an edge in its own direction; false when it has none.
bool edgeRange(const EDGE* e, QELinterval& range)
{
    if (!e)
        return false;
    if (velmGuard([&] { range = e->param_range(); }) != 0)
        return false;
    return range.finite();
}

void pushUnique(std::vector<COEDGE*>& list, std::unordered_set<COEDGE*>& met, COEDGE* c)
{
    if (c && met.insert(c).second)
        list.push_back(c);
}

bool touches(const COEDGE* c, const VERTEX* v) { return c && (c->start() == v || c->end() == v); }

// Every coedge around v, flooded from each of v's edge references.
std::vector<COEDGE*> coedgesAround(VERTEX* v, std::vector<COEDGE*> seed)
{
    std::unordered_set<COEDGE*> met(seed.begin(), seed.end());
    for (int i = 0; const EDGE* e = v->edge(i); ++i)
        pushUnique(seed, met, e->coedge());
    for (std::size_t k = 0; k < seed.size(); ++k) {
        COEDGE* x = seed[k];
        pushUnique(seed, met, x->partner());
        if (touches(x->next(), v))
            pushUnique(seed, met, x->next());
        if (touches(x->previous(), v))
            pushUnique(seed, met, x->previous());
    }
    return seed;
}

struct Bs3Owner {
    bs3_curve b = nullptr;
    ~Bs3Owner()
    {
        if (b)
            bs3_curve_delete(b);
    }
};
struct Bs2Owner {
    bs2_curve b = nullptr;
    ~Bs2Owner()
    {
        if (b)
            bs2_curve_delete(b);
    }
};

FACE* faceOfCoedge(const COEDGE* c)
{
    const LOOP* l = c ? c->loop() : nullptr;
    return l ? l->face() : nullptr;
}

} // namespace

CoedgeWays coedgesOnOneBoundary(Ve_CoedgeTag* a, Ve_CoedgeTag* b, double t)
{
    if (!a || !b || a == b)
        return CoedgeWays::Apart;
    Ve_VertexTag* as = a->startVertex();
    Ve_VertexTag* ae = a->endVertex();
    Ve_VertexTag* bs = b->startVertex();
    Ve_VertexTag* be = b->endVertex();
    if (!as || !ae || !bs || !be)
        return CoedgeWays::Apart;
    const bool endsOpposite =
        as->getPoint().Distance(be->getPoint()) <= t && ae->getPoint().Distance(bs->getPoint()) <= t;
    const bool endsAlong =
        as->getPoint().Distance(bs->getPoint()) <= t && ae->getPoint().Distance(be->getPoint()) <= t;
    if (!endsOpposite && !endsAlong)
        return CoedgeWays::Apart;
    // Without geometry on either side the ends decide, opposite when they
    // cannot tell.
    CoedgeWays ways = endsOpposite ? CoedgeWays::Opposite : CoedgeWays::Along;
    const int kept = velmGuard([&] {
        const CoedgeTrack ta(reinterpret_cast<const COEDGE*>(a));
        const CoedgeTrack tb(reinterpret_cast<const COEDGE*>(b));
        if (!ta.usable() || !tb.usable())
            return;
        // Open coedges whose ends meet one way and whose curves agree run
        // that way; closed ones go by their headings.
        if (endsOpposite && endsAlong)
            ways = headingsAgree(ta, tb) > 0 ? CoedgeWays::Along : CoedgeWays::Opposite;
        const bool opposite = ways == CoedgeWays::Opposite;
        if (!(sampledClose(ta, tb, t, opposite) && sampledClose(tb, ta, t, opposite)))
            ways = CoedgeWays::Apart;
    });
    return kept == 0 ? ways : CoedgeWays::Apart;
}

bool matchCoedges(Ve_CoedgeTag* a, Ve_CoedgeTag* b, double t)
{
    return coedgesOnOneBoundary(a, b, t) == CoedgeWays::Opposite;
}

bool isInPartnerRing(const COEDGE* a, const COEDGE* b)
{
    if (!a || !b)
        return false;
    const long limit = ve_loops::ringWalkLimit();
    long steps = 0;
    for (const COEDGE* x = a->partner(); x && x != a && steps < limit; x = x->partner(), ++steps)
        if (x == b)
            return true;
    return false;
}

void updateVertexEdgeRefs(VERTEX* v, COEDGE* a, COEDGE* b, std::vector<COEDGE*>& coedges)
{
    if (!v || !a)
        return;
    std::unordered_set<COEDGE*> met(coedges.begin(), coedges.end());
    pushUnique(coedges, met, a);
    std::vector<EDGE*> edges;
    bool metB = false;
    for (std::size_t k = 0; k < coedges.size(); ++k) {
        COEDGE* x = coedges[k];
        if (x->edge())
            edges.push_back(x->edge());
        metB = metB || x == b;
        pushUnique(coedges, met, x->partner());
        if (touches(x->next(), v))
            pushUnique(coedges, met, x->next());
        if (touches(x->previous(), v))
            pushUnique(coedges, met, x->previous());
    }
    if (metB) {
        EDGE* ae = a->edge();
        bool refersToA = false;
        for (int i = 0; const EDGE* e = v->edge(i); ++i)
            refersToA = refersToA || e == ae;
        if (refersToA) {
            v->delete_edge(ae);
            v->add_edge(b->edge());
        }
        return;
    }
    for (int i = 0; EDGE* e = v->edge(i); ++i) {
        if (std::find(edges.begin(), edges.end(), e) != edges.end()) {
            v->delete_edge(e);
            return;
        }
    }
}

void mergeVertexInto(VERTEX* oldVertex, VERTEX* newVertex, const std::vector<COEDGE*>& coedges)
{
    if (!newVertex || !oldVertex || newVertex == oldVertex)
        return;
    merge_attrib(newVertex, oldVertex);
    for (int i = 0; EDGE* e = oldVertex->edge(i); ++i)
        newVertex->add_edge(e);
    // The listed coedges and every other group at the old vertex: no edge
    // may keep pointing at the vertex that goes.
    for (COEDGE* c : coedgesAround(oldVertex, coedges)) {
        EDGE* e = c->edge();
        if (!e)
            continue;
        if (e->start() == oldVertex)
            e->set_start(newVertex);
        if (e->end() == oldVertex)
            e->set_end(newVertex);
    }
    oldVertex->lose();
}

void reparamPCurveToEdge(PCURVE* pc, COEDGE* x, COEDGE* b, bool sensesDiffer)
{
    if (!pc || !x || !b || !pc->has_equation())
        return;
    if (pc->use_count() > 1) {
        PCURVE* copy = VELM_MAKE(PCURVE, pc->def());
        x->set_geometry(copy);
        pc = copy;
    }
    QELinterval ra, rb;
    if (!edgeRange(x->edge(), ra) || !edgeRange(b->edge(), rb))
        return;
    double a0 = ra.start_pt(), a1 = ra.end_pt(), b0 = rb.start_pt(), b1 = rb.end_pt();
    if (x->sense() == REVERSED)
        std::tie(a0, a1) = std::pair(-a1, -a0);
    if ((x->sense() == FORWARD) != sensesDiffer)
        std::tie(b0, b1) = std::pair(-b1, -b0);
    Gk_ErrMgr::checkAbort();
    if (std::fabs(a1 - a0) < Gk_Def::FuzzReal) {
        Gk_ErrMgr::doAssert("ve_stitchce", 273);
        return;
    }
    const double s = (b1 - b0) / (a1 - a0);
    const pcurve& def = pc->def();
    const QELinterval p = def.param_range();
    bs2_curve copy = bs2_curve_copy(def.cur());
    if (def.reversed())
        bs2_curve_reverse(copy);
    bs2_curve_reparam((p.start_pt() - a0) * s + b0, (p.end_pt() - a0) * s + b0, copy);
    pcurve moved(copy, def.fitol(), def.surface());
    moved.set_offset(def.offset());
    pc->set_def(moved);
}

bool setPCurveFromIntcurve(COEDGE* c, FACE* f)
{
    if (!c || !f)
        return false;
    return ve_spline_curve::attachPCurveFromIntcurve(c, f, "ve_stitchce", 123);
}

void rebuildIntcurveEdge(EDGE* e)
{
    CURVE* cu = e ? e->geometry() : nullptr;
    if (!cu || !cu->has_equation() || cu->equation().type() != 11)
        return;
    const intcurve& ic = static_cast<const intcurve&>(cu->equation());
    if (!ic.cur())
        return;
    COEDGE* c1 = e->coedge();
    if (!c1)
        return;
    COEDGE* c2 = c1->partner() && c1->partner() != c1 ? c1->partner() : nullptr;
    FACE* f1 = faceOfCoedge(c1);
    FACE* f2 = faceOfCoedge(c2);
    const SURFACE* s1 = f1 ? f1->geometry() : nullptr;
    const SURFACE* s2 = f2 ? f2->geometry() : nullptr;
    QELinterval range;
    if (!edgeRange(e, range))
        return;
    if (e->sense() == REVERSED)
        range = -range;

    // The copies are the kernel's to free unless the new intcurve takes them.
    Bs3Owner space;
    space.b = bs3_curve_copy(ic.cur());
    if (ic.reversed())
        bs3_curve_reverse(space.b);
    if (!(bs3_curve_range(space.b) == range)) {
        bs3_curve piece = bs3_curve_subset(space.b, range, QELresabs);
        if (piece) {
            bs3_curve_delete(space.b);
            space.b = piece;
        }
    }
    // A pcurve running on past the edge (as a file's may) is cut to it, not
    // squeezed onto it.
    auto pcurveCopy = [&](const COEDGE* c, const SURFACE* on) {
        bs2_curve copy = nullptr;
        const PCURVE* pc = c ? c->geometry() : nullptr;
        if (pc && pc->has_equation()) {
            copy = bs2_curve_copy(pc->def().cur());
            if (pc->def().reversed() != (c->sense() != e->sense()))
                bs2_curve_reverse(copy);
            ve_spline_curve::pcurveOntoRange(copy, range, e, on && on->has_equation() ? &on->equation() : nullptr,
                                             ic.param_period(), pc->def().offset());
        }
        return copy;
    };
    Bs2Owner p1, p2;
    p1.b = pcurveCopy(c1, s1);
    p2.b = pcurveCopy(c2, s2);
    intcurve* built = nullptr;
    const int answer = ve_spline_curve::buildIntcurve(space.b, QELresfit, s1 && s1->has_equation() ? &s1->equation() : nullptr,
                                                      s2 && s2->has_equation() ? &s2->equation() : nullptr, p1.b, p2.b,
                                                      built);
    if (answer != 1) {
        // Taken, by the intcurve or freed with the failure.
        space.b = nullptr;
        p1.b = nullptr;
        p2.b = nullptr;
    }
    if (answer == 0 && built) {
        const std::unique_ptr<intcurve> owner(built);
        e->set_geometry(make_curve(*built));
    }
    setPCurveFromIntcurve(c1, f1);
    if (c2)
        setPCurveFromIntcurve(c2, f2);
}

bool joinCoedges(Ve_CoedgeTag* aTag, Ve_CoedgeTag* bTag)
{
    COEDGE* a = reinterpret_cast<COEDGE*>(aTag);
    COEDGE* b = reinterpret_cast<COEDGE*>(bTag);
    if (!a || !b)
        return false;
    if (isInPartnerRing(a, b))
        return true;
    const outcome done = velmInnerCall([&] {
        EDGE* E = a->edge();
        EDGE* target = b->edge();
        VERTEX* aStart = a->start();
        VERTEX* aEnd = a->end();
        const bool closed = aStart == aEnd;
        std::vector<COEDGE*> l1, l2;
        updateVertexEdgeRefs(aStart, a, b, l1);
        if (!closed)
            updateVertexEdgeRefs(aEnd, a, b, l2);
        mergeVertexInto(aStart, b->end(), l1);
        if (!closed)
            mergeVertexInto(aEnd, b->start(), l2);
        // a runs against b: it keeps its sense on b's edge exactly when the
        // two edges run the same way, that is when the senses differ.
        const bool sensesDiffer = a->sense() != b->sense();
        std::vector<COEDGE*> ring;
        const long limit = ve_loops::ringWalkLimit();
        for (COEDGE* x = a; x && static_cast<long>(ring.size()) <= limit;) {
            ring.push_back(x);
            x = x->partner();
            if (x == a)
                break;
        }
        for (COEDGE* x : ring) {
            if (x->geometry())
                reparamPCurveToEdge(x->geometry(), x, b, sensesDiffer);
            if (!sensesDiffer)
                x->set_sense(x->sense() == FORWARD ? REVERSED : FORWARD);
            x->set_edge(target);
        }
        if (E && E != target) {
            merge_attrib(target, E);
            E->lose();
        }
        COEDGE* pa = a->partner();
        COEDGE* pb = b->partner();
        if (pa && pb) {
            b->set_partner(pa);
            a->set_partner(pb);
        } else if (pb) {
            a->set_partner(pb);
            b->set_partner(a);
        } else if (pa) {
            b->set_partner(pa);
            a->set_partner(b);
        } else {
            a->set_partner(b);
            b->set_partner(a);
        }
        rebuildIntcurveEdge(target);
    });
    return done.ok();
}
