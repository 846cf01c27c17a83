#include "loops/loop_containment.hxx"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "loops/containment_classifier.hxx"
#include "loops/replace_by_surf_int.hxx"
#include "loops/ring_walk.hxx"
#include "model/kernel_call_bracket.hxx"
#include "qelx/qelx_errors.hxx"
#include "qelx/qelx_math.hxx"
#include "velm/bspline.hxx"
#include "velm/geometry.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/memory.hxx"
#include "velm/query.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"
#include "velm/topology_edit.hxx"

namespace {

constexpr QELIResult kContainmentFailure = 0x1000001;

// Whole periods of a direction the surface closes (0 when it does not).
double closedPeriod(const surface& srf, bool u)
{
    if (!(u ? srf.closed_u() : srf.closed_v()))
        return 0.0;
    const QELinterval r = u ? srf.param_range_u() : srf.param_range_v();
    return r.finite() ? r.length() : 0.0;
}

double shiftNear(double x, double reference, double period)
{
    if (period <= 0.0)
        return x;
    const double half = 0.5 * period + Gk_Def::FuzzReal;
    while (x > reference + half)
        x -= period;
    while (x < reference - half)
        x += period;
    return x;
}

void addToBox(QELpar_box& box, const QELpar_pos& p, bool& empty)
{
    const QELpar_box point(QELinterval(p.u, p.u), QELinterval(p.v, p.v));
    box = empty ? point : box | point;
    empty = false;
}

// The coedge's pcurve at the curve parameter t of its edge, when it has one.
bool pcurveAt(const COEDGE* coedge, double t, QELpar_pos& uv)
{
    const PCURVE* pc = coedge->geometry();
    if (!pc || !pc->has_equation())
        return false;
    const bool agree = coedge->sense() == coedge->edge()->sense();
    uv = pc->def().eval_position(agree ? t : -t);
    return true;
}

// The edge's range on its curve.
QELinterval curveRange(const EDGE* edge)
{
    const QELinterval r = edge->param_range();
    return edge->sense() == REVERSED ? -r : r;
}

bool edgeHasCurve(const EDGE* edge) { return edge && edge->geometry() && edge->geometry()->has_equation(); }

void addUnique(QELXDynamicArray<double>& list, double value)
{
    if (list.Find(value) < 0)
        list.Add(value);
}

// Pairs the sorted crossings into the inside stretches.
void pairUp(QELXDynamicArray<double>& params, QELXDynamicArray<Gk_Domain>& intervals)
{
    std::sort(params.begin(), params.end());
    for (int i = 0; i + 1 < params.Count(); i += 2)
        intervals.Add(Gk_Domain(params[i], params[i + 1], Gk_Def::FuzzKnot));
}

} // namespace

namespace ve_loops {

const surface* loopSurface(const LOOP* loop)
{
    const FACE* face = loop ? loop->face() : nullptr;
    const SURFACE* s = face ? face->geometry() : nullptr;
    return s && s->has_equation() ? &s->equation() : nullptr;
}

QELpar_box loopParameterBox(const LOOP* loop)
{
    QELpar_box box;
    const surface* srf = loopSurface(loop);
    COEDGE* first = loop ? loop->start() : nullptr;
    if (!srf || !first)
        return box;
    if ((!first->next() || first->next() == first) && !edgeHasCurve(first->edge())) {
        const VERTEX* v = first->start();
        if (v && v->geometry()) {
            const QELpar_pos uv = srf->param(v->geometry()->coords());
            box = QELpar_box(QELinterval(uv.u, uv.u), QELinterval(uv.v, uv.v));
        }
        return box;
    }
    const double pu = closedPeriod(*srf, true), pv = closedPeriod(*srf, false);
    const bool sphere = srf->type() == 3;
    bool empty = true, haveReference = false;
    QELpar_pos reference;
    forEachLoopCoedge(loop, [&](COEDGE* c) {
        EDGE* edge = c->edge();
        if (edgeHasCurve(edge)) {
            const curve& eq = edge->geometry()->equation();
            const QELinterval range = curveRange(edge);
            const Gk_Domain domain(range.start_pt(), range.end_pt(), Gk_Def::FuzzKnot);
            if (sphere && !haveReference) {
                // Into the face from the middle of the first edge: which copy of the
                // longitude the loop starts on.
                const double mid = range.mid_pt();
                const QELposition inside = eq.eval_position(mid) + into_face(c, mid) * (10.0 * QELresabs);
                reference = srf->param(inside);
                haveReference = true;
            }
            // Along the coedge, so that each sample follows its neighbour on the loop.
            const bool alongCurve = c->sense() == edge->sense();
            for (int k = 1; k <= 6; ++k) {
                const double t = domain.locate(alongCurve ? k / 6.0 : 1.0 - k / 6.0);
                QELpar_pos guess;
                const bool guessed = pcurveAt(c, t, guess);
                QELpar_pos uv = srf->param(eq.eval_position(t), guessed ? &guess : nullptr);
                if (sphere && std::fabs(std::fabs(uv.u) - 0.5 * Gk_Def::QELXPI) <= Gk_Def::FuzzReal)
                    continue; // a pole has every longitude
                if (haveReference) {
                    uv.u = shiftNear(uv.u, reference.u, pu);
                    uv.v = shiftNear(uv.v, reference.v, pv);
                }
                reference = uv;
                haveReference = true;
                addToBox(box, uv, empty);
            }
        }
        return true;
    });
    return box;
}

namespace {

// The stretch the loops' boxes span along v (or u), each box moved by whole periods
// to lie within half a period of the first loop's.
QELinterval loopsSpan(const QELXDynamicArray<LOOP*>& loops, bool alongV, double period, bool& empty)
{
    QELinterval span;
    double reference = 0.0;
    empty = true;
    for (LOOP* l : loops) {
        const QELpar_box b = loopParameterBox(l);
        if (b.empty())
            continue;
        QELinterval r = alongV ? b.v_range() : b.u_range();
        if (empty) {
            reference = r.mid_pt();
        } else {
            const double shift = shiftNear(r.mid_pt(), reference, period) - r.mid_pt();
            r = QELinterval(r.start_pt() + shift, r.end_pt() + shift);
        }
        span = empty ? r : span | r;
        empty = false;
    }
    return span;
}

} // namespace

Ve_IsoParameterLine chooseIsoParameterLine(const QELXDynamicArray<LOOP*>& loops, bool flip)
{
    Ve_IsoParameterLine line;
    const surface* srf = loops.Count() > 0 ? loopSurface(loops[0]) : nullptr;
    if (!srf)
        return line;
    const QELpar_box box = loopParameterBox(loops[0]);
    const QELpar_box range = srf->param_range();
    auto singularAtEnds = [&](bool u) {
        const QELinterval r = u ? range.u_range() : range.v_range();
        if (u)
            return (r.bounded_below() && srf->singular_u(r.start_pt())) || (r.bounded_above() && srf->singular_u(r.end_pt()));
        return (r.bounded_below() && srf->singular_v(r.start_pt())) || (r.bounded_above() && srf->singular_v(r.end_pt()));
    };
    if (srf->periodic_u() || srf->closed_u())
        line.constantU = true;
    else if (srf->periodic_v() || srf->closed_v())
        line.constantU = false;
    else if (singularAtEnds(true))
        line.constantU = true;
    else if (singularAtEnds(false))
        line.constantU = false;
    else
        line.constantU = box.u_range().length() > box.v_range().length();
    if (flip)
        line.constantU = !line.constantU;

    const bool u = line.constantU;
    const QELinterval along = u ? box.u_range() : box.v_range();
    const double period = closedPeriod(*srf, u);
    QELXDynamicArray<double> values;
    addUnique(values, along.start_pt());
    addUnique(values, along.end_pt());
    for (LOOP* loop : loops) {
        forEachLoopCoedge(loop, [&](COEDGE* c) {
            if (edgeHasCurve(c->edge()) && c->start() && c->start()->geometry()) {
                QELpar_pos guess;
                const bool guessed = c->geometry() && c->geometry()->has_equation();
                if (guessed)
                    guess = c->geometry()->def().eval_position(c->param_range().start_pt());
                const QELpar_pos uv = srf->param(c->start()->geometry()->coords(), guessed ? &guess : nullptr);
                const double value = shiftNear(u ? uv.u : uv.v, along.mid_pt(), period);
                if (value >= along.start_pt() - Gk_Def::FuzzKnot && value <= along.end_pt() + Gk_Def::FuzzKnot)
                    addUnique(values, value);
            }
            return true;
        });
    }
    std::sort(values.begin(), values.end());
    int widest = 0;
    for (int i = 1; i + 1 < values.Count(); ++i)
        if (values[i + 1] - values[i] > values[widest + 1] - values[widest])
            widest = i;
    line.value = values.Count() > 1 ? 0.5 * (values[widest] + values[widest + 1]) : values[0];
    const QELinterval surfaceRange = u ? range.u_range() : range.v_range();
    if (surfaceRange.finite())
        line.value = Gk_Domain(surfaceRange.start_pt(), surfaceRange.end_pt(), Gk_Def::FuzzKnot, true, true)
                         .principalParam(line.value);
    return line;
}

EDGE* makeIsoParameterEdge(const QELXDynamicArray<LOOP*>& loops, const Ve_IsoParameterLine& line)
{
    const surface* srf = loops.Count() > 0 ? loopSurface(loops[0]) : nullptr;
    if (!srf)
        return nullptr;
    std::unique_ptr<curve> iso(line.constantU ? srf->v_param_line(line.value) : srf->u_param_line(line.value));
    if (!iso)
        return nullptr;
    const bool periodicLine = line.constantU ? srf->periodic_v() : srf->periodic_u();
    if (periodicLine) {
        // Only the stretch the face's loops span, so the line starts and ends off them. A
        // whole turn would start at the surface's seam, inside any loop across it, and the
        // crossings paired from there would give that loop's outside: where the face's
        // loops span a whole period, the stretch of the two loops the line meets serves.
        const double period = line.constantU ? srf->param_period_v() : srf->param_period_u();
        QELXDynamicArray<LOOP*> faceLoops;
        for (LOOP* l = loops[0]->face()->loop(); l && faceLoops.Count() < ringWalkLimit(); l = l->next())
            faceLoops.Add(l);
        bool empty = true;
        QELinterval span = loopsSpan(faceLoops, line.constantU, period, empty);
        if (!empty && !(span.length() < period - Gk_Def::FuzzKnot))
            span = loopsSpan(loops, line.constantU, period, empty);
        if (!empty && span.length() < period - Gk_Def::FuzzKnot && !(iso->param_range() == span))
            iso->limit(span);
    }
    EDGE* edge = nullptr;
    if (iso->type() != 1) {
        const outcome made = api_make_edge_from_curve(iso.get(), edge);
        return made.ok() ? edge : nullptr;
    }
    // A straight line: bounded by the loops' box grown by its own diagonal.
    QELbox box;
    for (LOOP* l : loops)
        box |= get_loop_box(l);
    box = enlarge_box(box, box.diagonal());
    double low = 0.0, high = 0.0;
    for (int k = 0; k < 8; ++k) {
        const QELposition corner((k & 1) ? box.high().x() : box.low().x(), (k & 2) ? box.high().y() : box.low().y(),
                                 (k & 4) ? box.high().z() : box.low().z());
        const double t = iso->param(corner);
        low = k == 0 ? t : std::min(low, t);
        high = k == 0 ? t : std::max(high, t);
    }
    const QELinterval range(low, high);
    // Made piece by piece: when one cannot be made (memory running out), the
    // pieces made before it are freed.
    CURVE* straightCurve = nullptr;
    APOINT* point = nullptr;
    VERTEX* ends[2] = {nullptr, nullptr};
    try {
        straightCurve = make_curve(*iso);
        for (int k = 0; k < 2; ++k) {
            point = velm_require(VELM_NEW APOINT(iso->eval_position(k == 0 ? low : high)));
            ends[k] = velm_require(VELM_NEW VERTEX(point));
            point = nullptr; // the vertex holds it
        }
        return velm_require(VELM_NEW EDGE(ends[0], ends[1], straightCurve, FORWARD, EDGE_cvty_unknown, &range));
    } catch (...) {
        for (VERTEX* v : ends)
            if (v)
                v->lose();
        if (point)
            point->lose();
        if (straightCurve)
            straightCurve->lose();
        throw;
    }
}

bool insideIntervals(LOOP* loop, EDGE* isoEdge, QELXDynamicArray<Gk_Domain>& intervals)
{
    if (!loop || !loop->start() || !isoEdge)
        return false;
    const surface* srf = loopSurface(loop);
    QELXDynamicArray<double> params;
    bool paired = false;
    const int kept = velmGuard([&] {
        forEachLoopCoedge(loop, [&](COEDGE* c) {
            Ve_ReplaceBySurfInt::replaceEdgeCurve(c->edge(), srf);
            auto* rel = VELM_NEW edge_entity_rel(isoEdge, c->edge());
            if (rel->status() == 0)
                for (int i = 0; i < rel->n_contacts(); ++i) {
                    const contact_record& r = rel->contact(i);
                    if (r.kind == 1 || (r.kind == 0 && r.entity && is_VERTEX(r.entity)))
                        addUnique(params, r.param);
                }
            rel->lose();
            return true;
        });
        if (params.Count() > 0 && params.Count() % 2 == 0) {
            paired = true;
            return;
        }
        // Proper crossings of the curves alone.
        params.Clear();
        forEachLoopCoedge(loop, [&](COEDGE* c) {
            cc_intersection* hits = nullptr;
            const outcome r = api_intersect_curves(isoEdge, c->edge(), true, hits);
            for (cc_intersection* h = hits; h; h = h->next)
                if (h->rel == 1)
                    addUnique(params, h->param1);
            delete_cc_intersections(hits);
            if (!r.ok())
                sys_error(r.error_number());
            return true;
        });
        paired = params.Count() % 2 == 0;
    });
    if (kept != 0 || !paired)
        return false;
    pairUp(params, intervals);
    return true;
}

} // namespace ve_loops

Ve_LoopContainment::Ve_LoopContainment(LOOP* first, LOOP* second) : m_first(first), m_second(second)
{
    if (!first || !second)
        Gk_ErrMgr::doAssert("ve_loopcontainment", 388);
}

int Ve_PeripheryOrHoleLoopContainment::classify()
{
    bool result = false;
    if (encloses(m_first, m_second, result) != 0)
        return Failed;
    if (result)
        return FirstEnclosesSecond;
    if (encloses(m_second, m_first, result) != 0)
        return Failed;
    return result ? SecondEnclosesFirst : Neither;
}

namespace {

// The inside stretches of both loops along one line (the flip flag picks the
// other direction).
void intervalsAlongLine(LOOP* outer, LOOP* inner, bool flip, QELXDynamicArray<Gk_Domain>& outerIntervals,
                        QELXDynamicArray<Gk_Domain>& innerIntervals)
{
    QELXDynamicArray<LOOP*> loops;
    loops.Add(inner);
    loops.Add(outer);
    EDGE* iso = nullptr;
    velmGuard([&] { iso = ve_loops::makeIsoParameterEdge(loops, ve_loops::chooseIsoParameterLine(loops, flip)); });
    if (!iso)
        return;
    {
        // The line's own curve on the surface, for as long as it is intersected.
        Ve_ReplaceBySurfInt::Ve_ReplaceBySurfIntWorker onSurface(iso, ve_loops::loopSurface(outer));
        if (ve_loops::insideIntervals(outer, iso, outerIntervals))
            ve_loops::insideIntervals(inner, iso, innerIntervals);
    }
    api_del_entity(iso);
}

} // namespace

QELIResult Ve_PeripheryOrHoleLoopContainment::encloses(LOOP* outer, LOOP* inner, bool& result)
{
    if (!outer || !inner)
        return kContainmentFailure;
    QELXDynamicArray<Gk_Domain> outerIntervals, innerIntervals;
    intervalsAlongLine(outer, inner, false, outerIntervals, innerIntervals);
    if (outerIntervals.Count() == 0 || innerIntervals.Count() == 0) {
        outerIntervals.Clear();
        innerIntervals.Clear();
        intervalsAlongLine(outer, inner, true, outerIntervals, innerIntervals);
    }
    result = true;
    QELIResult code = innerIntervals.Count() > 0 ? QELIResult(0) : kContainmentFailure;
    const surface* srf = ve_loops::loopSurface(outer);
    const bool periodic = srf && (srf->periodic_u() || srf->periodic_v());
    for (const Gk_Domain& in : innerIntervals) {
        if (!result)
            break;
        bool contained = false, partial = false;
        for (const Gk_Domain& out : outerIntervals) {
            const bool same = out.isSame(in, -1.0);
            contained = (periodic ? out.isInside(in) : out.isContained(in)) && !same;
            partial = (in.isInside(out.low()) || in.isInside(out.high())) &&
                      (out.isInside(in.low()) || out.isInside(in.high())) && !same && !contained;
            if (contained)
                break;
        }
        if (partial)
            code = kContainmentFailure;
        if (!contained)
            result = false;
    }
    if (outerIntervals.Count() == 0)
        result = false;
    return code;
}

bool Ve_ContainmentClassifier::insert(const Ve_BoundaryElement& element, Ve_ContainmentSetElement* start)
{
    if (!m_top) {
        m_top = new Ve_ContainmentSetElement(element);
        indexAdd(m_top);
        ++m_count;
        return true;
    }
    Ve_ContainmentSetElement* head = start ? start : m_top;
    Ve_ContainmentSetElement* const levelParent = head->parent();
    // The level's nodes in order; with the index only those the element's box meets.
    std::vector<Ve_ContainmentSetElement*> level;
    if (!indexCandidates(levelParent, element, level)) {
        level.clear();
        for (Ve_ContainmentSetElement* node = head; node; node = node->next())
            level.push_back(node);
    }
    QELXDynamicArray<Ve_ContainmentSetElement*> enclosed;
    for (Ve_ContainmentSetElement* node : level) {
        switch (compare(element, node->element())) {
        case 3: {
            auto* failed = new Ve_ContainmentSetElement(element);
            failed->setNext(m_failures);
            m_failures = failed;
            ++m_count;
            return false;
        }
        case 2:
            if (node->child())
                return insert(element, node->child());
            node->setChild(new Ve_ContainmentSetElement(element, node));
            indexAdd(node->child());
            ++m_count;
            return true;
        case 0:
            enclosed.Add(node);
            break;
        default:
            break;
        }
    }
    auto* added = new Ve_ContainmentSetElement(element, levelParent);
    // The level's head lives in the parent (or is the top pointer): unlinking an
    // enclosed head must move it on, or the nodes after it would be lost.
    auto levelHead = [&]() -> Ve_ContainmentSetElement*& { return levelParent ? levelParent->m_child : m_top; };
    Ve_ContainmentSetElement* lastChild = nullptr;
    for (Ve_ContainmentSetElement* node : enclosed) {
        Ve_ContainmentSetElement*& first = levelHead();
        if (first == node) {
            first = node->next();
        } else {
            Ve_ContainmentSetElement* before = first;
            while (before->next() != node)
                before = before->next();
            before->setNext(node->next());
        }
        node->setNext(nullptr);
        node->setParent(added);
        if (lastChild)
            lastChild->setNext(node);
        else
            added->setChild(node);
        lastChild = node;
        indexMove(node);
    }
    Ve_ContainmentSetElement*& first = levelHead();
    if (!first) {
        first = added;
    } else {
        Ve_ContainmentSetElement* last = indexTail(levelParent);
        if (!last)
            last = first;
        while (last->next())
            last = last->next();
        last->setNext(added);
    }
    indexAdd(added);
    while (m_top->parent())
        m_top = m_top->parent();
    ++m_count;
    return true;
}
