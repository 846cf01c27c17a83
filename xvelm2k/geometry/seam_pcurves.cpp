#include "geometry/seam_pcurves.hxx"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "model/kernel_call_bracket.hxx"
#include "qelx/qelx_events.hxx"
#include "velm/bspline.hxx"
#include "velm/geometry.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/memory.hxx"
#include "velm/spline_conversion.hxx"
#include "velm/topology.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology_api.hxx"

namespace {

// A use of an edge whose other use bounds the same face.
bool isSeamUse(const COEDGE* c, const FACE* face)
{
    if (!c->edge())
        return false;
    for (const COEDGE* other : edge_coedges(c->edge()))
        if (other != c && other->loop() && other->loop()->face() == face)
            return true;
    return false;
}

// The coedge's pcurve at the start or the end of its range; false without one.
bool pcurveEnd(const COEDGE* c, bool atStart, QELpar_pos& uv)
{
    const PCURVE* pc = c->geometry();
    if (!pc || !pc->has_equation() || !pc->def().cur())
        return false;
    const QELinterval range = c->param_range();
    if (!range.finite())
        return false;
    uv = pc->def().eval_position(atStart ? range.start_pt() : range.end_pt());
    return std::isfinite(uv.u) && std::isfinite(uv.v);
}

// Whole periods that bring `from` nearest `to`.
double periodsBetween(double from, double to, double period)
{
    return period > 0.0 ? std::round((to - from) / period) * period : 0.0;
}

// The coedge's pcurve moved by (du, dv), as a pcurve of its own.
void movePCurve(COEDGE* c, double du, double dv)
{
    const pcurve& def = c->geometry()->def();
    // A copy that cannot be made is the kernel running out: the placement
    // is undone whole rather than left with this use where it was.
    bs2_curve copy = velm_require(bs2_curve_copy(def.cur()));
    if (def.reversed())
        bs2_curve_reverse(copy);
    bs2_curve_par_trans(copy, QELpar_transf(1.0, 1.0, du, dv));
    // The definition owns the copy from here on, also when the entity cannot be made.
    pcurve moved(copy, def.fitol(), def.surface());
    moved.set_offset(def.offset());
    c->set_geometry(velm_require(VELM_NEW PCURVE(moved)));
}

} // namespace

std::vector<const COEDGE*> ve_seam_walk_ring(const LOOP* loop)
{
    std::vector<const COEDGE*> ring;
    const COEDGE* first = loop ? loop->start() : nullptr;
    for (const COEDGE* c = first; c && ring.size() < 64; c = c->next() == first ? nullptr : c->next())
        ring.push_back(c);
    if (ring.size() % 2 != 0 || ring.size() >= 64)
        ring.clear();
    return ring;
}

double ve_closing_period(const surface& s, bool u)
{
    const double period = u ? s.param_period_u() : s.param_period_v();
    if (period > 0.0)
        return period;
    const QELinterval range = u ? s.param_range_u() : s.param_range_v();
    return (u ? s.closed_u() : s.closed_v()) && range.finite() ? range.length() : 0.0;
}

namespace {

// The placement of ve_place_loop_pcurves; a move the kernel refuses raises
// its error, for the caller's bracket to take back every move made before it.
void placeLoopPCurves(FACE* face)
{
    const SURFACE* s = face && face->geometry() && face->geometry()->has_equation() ? face->geometry() : nullptr;
    if (!s)
        return;
    const double pu = ve_closing_period(s->equation(), true), pv = ve_closing_period(s->equation(), false);
    if (!(pu > 0.0) && !(pv > 0.0))
        return;
    // Each loop's pcurves, each continuing the one before it.
    std::vector<std::vector<COEDGE*>> loops;
    for (LOOP* loop = face->loop(); loop; loop = loop->next()) {
        std::vector<COEDGE*>& uses = loops.emplace_back();
        COEDGE* first = loop->start();
        for (COEDGE* c = first; c; c = c->next()) {
            uses.push_back(c);
            if (c->next() == first || uses.size() > 1000000)
                break;
        }
        // Walked from a coedge that is not a seam use: its pcurve stays.
        std::size_t anchor = uses.size();
        for (std::size_t i = 0; i < uses.size() && anchor == uses.size(); ++i) {
            QELpar_pos unused;
            if (!isSeamUse(uses[i], face) && pcurveEnd(uses[i], false, unused))
                anchor = i;
        }
        if (anchor == uses.size())
            anchor = 0;
        // The pcurve of `c` moved to end where `after`'s starts (given one)
        // or to start where `before`'s ends. At a pole or apex the one
        // coordinate says nothing of where the loop runs on (the next use of a
        // seam goes on a period away across it): such a join places nothing
        // unless `anyJoin`. 1 when placed, -1 at such a join, 0 without pcurves.
        const surface& eq = s->equation();
        const auto place = [&](COEDGE* before, COEDGE* c, COEDGE* after, bool anyJoin) {
            QELpar_pos end, start;
            COEDGE* from = after ? c : before;
            COEDGE* to = after ? after : c;
            if (!pcurveEnd(from, false, end) || !pcurveEnd(to, true, start))
                return 0;
            if (!anyJoin && (eq.singular_u(end.u) || eq.singular_v(end.v)))
                return -1;
            double du = periodsBetween(start.u, end.u, pu), dv = periodsBetween(start.v, end.v, pv);
            if (after) {
                du = -du;
                dv = -dv;
            }
            if (du != 0.0 || dv != 0.0)
                movePCurve(c, du, dv);
            return 1;
        };
        const std::size_t n = uses.size();
        std::vector<bool> placed(n, false);
        placed[anchor] = true;
        // From the anchor on, then back from it, over joins that say where.
        // A use without pcurve ends a walk as such a join does: the use after
        // it has nothing to continue (left as fitted, a seam's two uses could
        // stay on one side), and is reached from the other side instead.
        for (std::size_t k = 1; k < n; ++k) {
            const std::size_t i = (anchor + k) % n;
            if (place(uses[(i + n - 1) % n], uses[i], nullptr, false) <= 0)
                break;
            placed[i] = true;
        }
        for (std::size_t k = 1; k < n; ++k) {
            const std::size_t i = (anchor + n - k) % n;
            if (placed[i] || place(nullptr, uses[i], uses[(i + 1) % n], false) <= 0)
                break;
            placed[i] = true;
        }
        // Uses between two such joins (pole to pole) continue the one before.
        for (std::size_t k = 1; k < n; ++k) {
            const std::size_t i = (anchor + k) % n;
            if (!placed[i])
                place(uses[(i + n - 1) % n], uses[i], nullptr, true);
        }
    }
    // Every other loop whole periods away from the first goes next to it.
    const auto middle = [](const std::vector<COEDGE*>& uses, QELpar_pos& at) {
        double u = 0.0, v = 0.0;
        int n = 0;
        for (const COEDGE* c : uses) {
            QELpar_pos start;
            if (pcurveEnd(c, true, start)) {
                u += start.u;
                v += start.v;
                ++n;
            }
        }
        at = QELpar_pos(u / std::max(n, 1), v / std::max(n, 1));
        return n > 0;
    };
    QELpar_pos reference, at;
    if (loops.size() > 1 && middle(loops.front(), reference))
        for (std::size_t l = 1; l < loops.size(); ++l) {
            if (!middle(loops[l], at))
                continue;
            const double du = periodsBetween(at.u, reference.u, pu), dv = periodsBetween(at.v, reference.v, pv);
            if (du == 0.0 && dv == 0.0)
                continue;
            for (COEDGE* c : loops[l])
                if (QELpar_pos unused; pcurveEnd(c, true, unused))
                    movePCurve(c, du, dv);
        }
}

// The placement in one bracket: all of it, or (refused) none of it.
outcome placedWhole(FACE* face)
{
    return velmCall([&] { placeLoopPCurves(face); });
}

} // namespace

bool ve_place_loop_pcurves(FACE* face)
{
    return placedWhole(face).ok();
}

bool ve_place_loop_pcurves(FACE* face, const std::string& faceName)
{
    const outcome placed = placedWhole(face);
    if (!placed.ok())
        QELXWarningEvent::Fire((faceName + ": its loops' pcurves could not be moved round the surface's period to join"
                                " up (kernel error " + std::to_string(placed.error_number()) +
                                "); none was moved, and healing judges the loops as fitted")
                                   .c_str());
    return placed.ok();
}

void ve_place_refitted(ENTITY* entity)
{
    FACE* face = nullptr;
    if (is_FACE(entity))
        face = static_cast<FACE*>(entity);
    else if (is_COEDGE(entity) && static_cast<COEDGE*>(entity)->loop())
        face = static_cast<COEDGE*>(entity)->loop()->face();
    if (face)
        raiseFailure(placedWhole(face));
}

void ve_add_loop_pcurves(ENTITY* entity)
{
    sg_add_pcurves_to_entity(entity);
    ve_place_refitted(entity);
}

bool ve_refit_loop_pcurve(COEDGE* coedge)
{
    if (!sg_add_pcurve_to_coedge(coedge))
        return false;
    ve_place_refitted(coedge);
    return true;
}

void ve_refit_straying_pcurves(EDGE* edge, bool dropOnPlanes)
{
    if (!edge || !edge->geometry() || !edge->geometry()->has_equation())
        return;
    const double tolerance = std::max(edge->get_tolerance(), QELresabs);
    for (COEDGE* c : edge_coedges(edge)) {
        const LOOP* loop = c->loop();
        const FACE* face = loop ? loop->face() : nullptr;
        const SURFACE* onto = face ? face->geometry() : nullptr;
        if (!onto || !onto->has_equation() || !c->geometry() || !c->geometry()->has_equation() ||
            pcurve_deviation(c) <= tolerance)
            continue;
        const surface& s = onto->equation();
        if (dropOnPlanes && !s.parametric()) {
            c->set_geometry(nullptr);
            continue;
        }
        const QELinterval range = c->param_range();
        const QELpar_pos was = c->geometry()->def().eval_position(range.start_pt());
        if (!sg_add_pcurve_to_coedge(c) || !c->geometry())
            continue;
        const QELpar_pos now = c->geometry()->def().eval_position(range.start_pt());
        const double du = std::isfinite(was.u) ? periodsBetween(now.u, was.u, ve_closing_period(s, true)) : 0.0;
        const double dv = std::isfinite(was.v) ? periodsBetween(now.v, was.v, ve_closing_period(s, false)) : 0.0;
        if (du != 0.0 || dv != 0.0)
            movePCurve(c, du, dv);
    }
}
