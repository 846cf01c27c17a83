// The watch over the recipes' repair steps: see step_watch.hxx.
#include "heal/step_watch.hxx"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <sstream>
#include <utility>
#include <unordered_set>
#include <vector>

#include "qelx/qelx_events.hxx"
#include "qelx/qelx_write_bounds.hxx"
#include "velm/api.hxx"
#include "velm/attrib.hxx"
#include "velm/bb.hxx"
#include "velm/errors.hxx"
#include "velm/insanity.hxx"
#include "velm/memory.hxx"
#include "velm/query.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology.hxx"

namespace ve_heal {

namespace {

// Faces are integrated to this relative accuracy (the estimated error of each
// measure is added to what a comparison allows), and a change beyond ten
// times it is a change of the model: what replacing geometry by an
// approximation of it may cost at most.
constexpr double kMeasureAccuracy = 1e-5;
constexpr double kKeptWithin = 1e-4;
// Loops whose integrals agree to this part of the body's size (and square)
// are the same loops.
constexpr double kShapeAccuracy = 1e-8;
// Boundaries whose lengths and middles agree to this part of them are the
// same curves (edges split in two integrate a little differently).
constexpr double kBoundaryAccuracy = 1e-7;
// A tolerance over this part of the body's size hides damage instead of
// mending it.
constexpr double kToleranceShare = 0.01;
// A tolerance raised past this many times the widest gap the body had (an
// edge's curve off its pcurves, surfaces or vertices, a tolerance it already
// held) covers more than the fault: it was not what the mend needed, however
// clean it leaves the checker. Below this part of the
// body's size a tolerance is what fitting geometry costs.
constexpr double kGapFactor = 2.0;
constexpr double kFitShare = 1e-4;
// Area a step may take or give at no cost: a strip this wide across the body
// (a sliver of the kernel's own resolution).
constexpr double kResolution = 1e-6;

template <class F>
void forEachFace(BODY* body, F&& visit)
{
    for (LUMP* l = body->lump(); l; l = l->next())
        for (SHELL* s = l->shell(); s; s = s->next())
            for (FACE* f = s->face(); f; f = f->next())
                visit(f);
}

template <class F>
void forEachCoedge(const FACE* face, F&& visit)
{
    for (LOOP* loop = face->loop(); loop; loop = loop->next()) {
        COEDGE* first = loop->start();
        for (COEDGE* c = first; c;) {
            visit(loop, c);
            c = c->next();
            if (c == first)
                break;
        }
    }
}

// Gauss-Legendre on [0, 1], for the loop integrals.
constexpr double kNodes[8] = {0.019855071751231856, 0.10166676129318664, 0.2372337950418355, 0.4082826787521751,
                              0.5917173212478249,   0.7627662049581645,  0.8983332387068134, 0.9801449282487681};
constexpr double kWeights[8] = {0.05061426814518813, 0.11119051722668724, 0.15685332293894363, 0.18134189168918100,
                                0.18134189168918100, 0.15685332293894363, 0.11119051722668724, 0.05061426814518813};

// The widest gap on the body a tolerance could be needed to close: an
// edge's curve from its coedges' pcurves on their surfaces and from its
// vertices (the kernel's deviation). An edge ranged past the end of its
// curve strays from its pcurves by as much as the curve is wrong there, no
// gap of the body's shape: its vertices' distance from its curve and its
// curve's from its faces' surfaces are what count of it.
double widestGap(BODY* body)
{
    constexpr int kSamples = 8;
    double gap = 0.0;
    std::unordered_set<const EDGE*> seen;
    forEachFace(body, [&](FACE* face) {
        const surface* on =
            face->geometry() && face->geometry()->has_equation() ? &face->geometry()->equation() : nullptr;
        forEachCoedge(face, [&](const LOOP*, const COEDGE* c) {
            const EDGE* e = c->edge();
            if (!e || !e->geometry() || !e->geometry()->has_equation())
                return;
            const curve& along = e->geometry()->equation();
            const QELinterval range = edge_curve_range(e);
            const QELinterval own = along.param_range();
            const double slack = 1e-6 * (own.finite() ? own.length() : 1.0);
            const bool runsOff = !along.periodic() && own.finite() && range.finite() &&
                                 (range.start_pt() < own.start_pt() - slack || range.end_pt() > own.end_pt() + slack);
            if (!runsOff) {
                if (seen.insert(e).second)
                    gap = std::max(gap, edge_deviation(e));
                return;
            }
            for (const VERTEX* v : {e->start(), e->end()})
                if (v && v->geometry()) {
                    QELposition foot;
                    along.point_perp(v->geometry()->coords(), foot);
                    gap = std::max(gap, distance(foot, v->geometry()->coords()));
                }
            if (!on)
                return;
            for (int k = 0; k <= kSamples; ++k) {
                const QELposition p = along.eval_position(range.interpolate(static_cast<double>(k) / kSamples));
                QELposition foot;
                on->point_perp(p, foot);
                gap = std::max(gap, distance(foot, p));
            }
        });
    });
    return gap;
}

} // namespace

// What the face's area and flux follow: its surface (which one, and a few of
// its points, for an equation changed in place), its sense, and its loops
// through integrals over them that an edge split in two, a tolerant edge put
// in an edge's place or loops listed in another order leave as they were:
// the vector area (P x dP / 2), length and first moment (P |dP|) of all
// loops together. Not the pcurves: the checker holds each to its edge (a
// coedge off its edge is a finding). So the steps that only split edges,
// make them tolerant or add pcurves, as most of the healing does on every
// face, cost no integration.
FaceShape shapeOf(const FACE* face)
{
    FaceShape out;
    out.surface = face->geometry();
    out.reversed = face->sense() == REVERSED;
    if (const SURFACE* s = face->geometry(); s && s->has_equation()) {
        const surface& equation = s->equation();
        const QELpar_box range = equation.param_range();
        auto at = [](const QELinterval& r, double share) {
            return r.finite() ? r.start_pt() + share * r.length() : share;
        };
        for (const auto& [su, sv] : {std::pair{0.31, 0.47}, std::pair{0.73, 0.59}}) {
            const QELposition p = equation.eval_position(QELpar_pos(at(range.u_range(), su), at(range.v_range(), sv)));
            out.surfacePoints.insert(out.surfacePoints.end(), {p.x(), p.y(), p.z()});
        }
    }
    for (LOOP* loop = face->loop(); loop; loop = loop->next())
        ++out.loops;
    forEachCoedge(face, [&](const LOOP*, const COEDGE* c) {
        const EDGE* e = c->edge();
        const CURVE* geometry = e ? e->geometry() : nullptr;
        if (!geometry || !geometry->has_equation())
            return;
        const QELinterval r = e->param_range();
        if (!r.finite())
            return;
        const curve& equation = geometry->equation();
        const double along = e->sense() == FORWARD ? 1.0 : -1.0;
        const double way = c->sense() == FORWARD ? 1.0 : -1.0;
        for (int i = 0; i < 8; ++i) {
            QELposition p;
            QELvector d;
            equation.eval(along * (r.start_pt() + kNodes[i] * r.length()), p, &d);
            const QELvector dp = (along * kWeights[i] * r.length()) * d;
            const QELvector at(p.x(), p.y(), p.z());
            const QELvector area = at * dp;
            const double length = dp.len();
            const double sums[7] = {0.5 * way * area.x(), 0.5 * way * area.y(), 0.5 * way * area.z(), length,
                                    p.x() * length,        p.y() * length,        p.z() * length};
            for (int k = 0; k < 7; ++k)
                out.loopSums[k] += sums[k];
        }
    });
    return out;
}

bool sameShape(const FaceShape& a, const FaceShape& b, double size)
{
    if (a.surface != b.surface || a.reversed != b.reversed || a.loops != b.loops || a.surfacePoints != b.surfacePoints)
        return false;
    // Within what the integrals' own error may move them on a loop of the
    // body's size: far below any area a comparison would notice.
    const double reach = std::max(size, 1e-6);
    for (int k = 0; k < 7; ++k) {
        const double scale = k == 3 ? reach : reach * reach;
        if (std::fabs(a.loopSums[k] - b.loopSums[k]) > kShapeAccuracy * scale)
            return false;
    }
    return true;
}

namespace {

// The checker's findings on the face; none known when the check failed.
std::optional<std::map<int, int>> findingsOf(FACE* face)
{
    std::map<int, int> findings;
    insanity_list* found = nullptr;
    const bool checked = api_check_entity(face, found).ok();
    if (checked && found)
        for (int i = 0; i < found->count(); ++i)
            ++findings[found->data(i)->get_insane_id()];
    delete found;
    if (!checked)
        return std::nullopt;
    return findings;
}

// The body as a whole, each face's state taken from `known` unless `fresh`
// says it must be seen again (then it loses its measure when its shape
// changed). `reshaped` gets those faces and the new ones.
BodyState walkBody(BODY* body, const std::map<FACE*, FaceState>& known, const std::function<bool(FACE*)>& fresh,
                   double reach, std::map<FACE*, FaceState>& now, std::vector<FACE*>* reshaped)
{
    BodyState state;
    now.clear();
    if (!body)
        return state;
    bool freeEdge = false;
    QELposition low(std::numeric_limits<double>::max(), std::numeric_limits<double>::max(),
                    std::numeric_limits<double>::max());
    QELposition high(-low.x(), -low.y(), -low.z());
    auto seeVertex = [&](const VERTEX* v) {
        if (!v)
            return;
        state.tolerance = std::max(state.tolerance, v->get_tolerance());
        if (!v->geometry())
            return;
        const QELposition p = v->geometry()->coords();
        low = QELposition(std::min(low.x(), p.x()), std::min(low.y(), p.y()), std::min(low.z(), p.z()));
        high = QELposition(std::max(high.x(), p.x()), std::max(high.y(), p.y()), std::max(high.z(), p.z()));
    };
    forEachFace(body, [&](FACE* face) {
        state.faces = true;
        forEachCoedge(face, [&](const LOOP*, const COEDGE* c) {
            if (!c->partner())
                freeEdge = true;
            if (const EDGE* e = c->edge()) {
                state.tolerance = std::max(state.tolerance, e->get_tolerance());
                seeVertex(e->start());
                seeVertex(e->end());
            }
        });
        const auto was = known.find(face);
        FaceState f;
        if (was != known.end() && !fresh(face)) {
            f = was->second;
        } else {
            const std::optional<std::map<int, int>> findings = findingsOf(face);
            f.checked = findings.has_value();
            if (findings)
                f.findings = *findings;
            f.reversed = face->sense() == REVERSED;
            f.surface = face->geometry();
            f.shape = shapeOf(face);
            if (was != known.end() && sameShape(was->second.shape, f.shape, reach)) {
                f.measured = was->second.measured;
                f.unmeasurable = was->second.unmeasurable;
            } else if (reshaped) {
                reshaped->push_back(face);
            }
        }
        state.checked = state.checked && f.checked;
        for (const auto& [id, n] : f.findings)
            state.findings[id] += n;
        now.emplace(face, std::move(f));
    });
    state.closed = state.faces && !freeEdge;
    if (low.x() <= high.x())
        state.size = (high - low).len();
    return state;
}

// The loop repairs: what they are for is to choose which side of each loop
// its face lies on, and to move loops onto faces of their own.
bool picksLoopSides(const char* step)
{
    return std::strcmp(step, "QELXVelmLoopRepair") == 0 || std::strcmp(step, "Ve_RepairLoops") == 0;
}

// The faces `after` are bounded by the curves that bounded `before`, each
// taken either way: their loops' lengths and first moments, which do not
// follow a loop's sense, add up to the same.
bool sameBoundary(const std::vector<const FaceShape*>& before, const std::vector<const FaceShape*>& after, double size)
{
    double was[4] = {}, is[4] = {};
    for (const FaceShape* s : before)
        for (int k = 0; k < 4; ++k)
            was[k] += s->loopSums[3 + k];
    for (const FaceShape* s : after)
        for (int k = 0; k < 4; ++k)
            is[k] += s->loopSums[3 + k];
    // The same length, and the same middle (the first moment over the
    // length, so that a body far from the origin is judged as one near it),
    // to far below any curve gained or lost.
    if (before.empty() || was[0] <= 0.0 || std::fabs(is[0] - was[0]) > kBoundaryAccuracy * was[0])
        return false;
    for (int k = 1; k < 4; ++k)
        if (std::fabs(is[k] / is[0] - was[k] / was[0]) > kBoundaryAccuracy * std::max(size, 1e-6))
            return false;
    return true;
}

std::string figure(double d)
{
    std::ostringstream out;
    out.precision(6);
    out << d;
    return out.str();
}

} // namespace

BodyState measureBody(BODY* body)
{
    std::map<FACE*, FaceState> faces;
    return walkBody(body, {}, [](FACE*) { return true; }, 1.0, faces, nullptr);
}

std::string worseThan(const BodyState& before, const BodyState& after)
{
    std::ostringstream what;
    // A check that failed on either side knows nothing to compare.
    for (const auto& [id, n] : before.checked && after.checked ? after.findings : std::map<int, int>()) {
        const auto was = before.findings.find(id);
        if (n > (was == before.findings.end() ? 0 : was->second)) {
            what << "new checker finding " << id;
            return what.str();
        }
    }
    if (before.closed && !after.closed)
        return "a closed body lost a face or came open";
    // A tolerance that leaves the checker nothing to find on a body it found
    // fault with is what the mend needed; one that mends nothing hides damage.
    const bool mended = (!before.checked || !before.findings.empty()) && after.checked && after.findings.empty();
    const double size = std::max(before.size, after.size);
    if (after.tolerance > before.tolerance && after.tolerance > kToleranceShare * size && size > 0.0 && !mended) {
        what << "tolerance raised to " << after.tolerance << " on a body " << size << " across";
        return what.str();
    }
    return "";
}

std::string tooTolerant(double held, double gap, double raised)
{
    const double needed = kGapFactor * std::max(held, gap) + QELresabs;
    if (!(raised > needed))
        return "";
    return "tolerance raised to " + figure(raised) + " where the widest gap it closed was " +
           figure(std::max(held, gap));
}

std::string worseShape(const ShapeChange& change, double size, bool solid)
{
    if (!change.measured)
        return "";
    const double slack = kResolution * size;
    // A face whose area was negative (loops against its sense) and comes out
    // positive was mended: its size is what counts then.
    auto areaMoved = [](double before, double after) {
        return before >= 0.0 ? std::fabs(after - before) : std::fabs(std::fabs(after) - std::fabs(before));
    };
    if (change.sameFaces && !change.regrouped)
        for (const auto& [face, was] : change.before) {
            const auto is = change.after.find(face);
            if (is == change.after.end() || change.faulty.count(face))
                continue;
            const double allowed = kKeptWithin * std::max(std::fabs(was.area), std::fabs(is->second.area)) + slack +
                                   was.area_error + is->second.area_error;
            if (areaMoved(was.area, is->second.area) > allowed)
                return "a face's area " + figure(was.area) + " became " + figure(is->second.area);
        }
    double sizeBefore = 0.0, sizeAfter = 0.0, signedBefore = 0.0, signedAfter = 0.0, areaError = 0.0;
    double fluxBefore = 0.0, fluxAfter = 0.0, fluxError = 0.0;
    for (const auto& [face, m] : change.before) {
        sizeBefore += std::fabs(m.area), signedBefore += m.area, areaError += m.area_error;
        fluxBefore += m.flux, fluxError += m.flux_error;
    }
    for (const auto& [face, m] : change.after) {
        sizeAfter += std::fabs(m.area), signedAfter += m.area, areaError += m.area_error;
        fluxAfter += m.flux, fluxError += m.flux_error;
    }
    const double allowed = kKeptWithin * std::max(sizeBefore, sizeAfter) + slack + areaError;
    if (!change.faulty.empty())
        return "";
    if (!change.regrouped && std::fabs(sizeAfter - sizeBefore) > allowed)
        return "the area of the faces it reshaped " + figure(sizeBefore) + " became " + figure(sizeAfter);
    if (!change.regrouped && signedAfter < signedBefore - allowed)
        return "faces turned inside out (signed area " + figure(signedBefore) + " became " + figure(signedAfter) + ")";
    // The volume a region of faces may gain or lose: the region moved by the
    // accuracy asked of the body's size.
    if (solid && std::fabs(fluxAfter - fluxBefore) > (kKeptWithin + kResolution) * size * std::max(sizeBefore, sizeAfter) +
                                                         fluxError)
        return "volume changed by " + figure(fluxAfter - fluxBefore);
    return "";
}

namespace {

// A spline edge's curve range and its own range on the curve, both
// bounded; false for any other edge.
bool splineRanges(const EDGE* e, QELinterval& own, QELinterval& range)
{
    if (!e->geometry() || !e->geometry()->has_equation() || e->geometry()->identity() != INTCURVE_TYPE)
        return false;
    own = e->geometry()->equation().param_range();
    range = edge_curve_range(e);
    return own.finite() && range.finite() && own.length() > 0.0;
}

// How far a spline edge's vertex lies from its curve's end where the edge
// is ranged a little past it (`own` and `range` as splineRanges gives
// them, the range held in): a writer holds the range in to the curve's ends
// (QELXRangeAsHeldIn) and widens the vertex there to reach the curve's
// point at the end, a tolerance it raises as it builds its shapes that
// nothing of the body claims (a periodic spline circle ranged from its seam
// a few thousandths of a turn before its first knot had its vertex widened
// to 0.036 on a body 34 across).
double heldInReach(const EDGE* e, const QELinterval& own, const QELinterval& range)
{
    const curve& along = e->geometry()->equation();
    double w0 = range.start_pt(), w1 = range.end_pt();
    QELXRangeAsHeldIn(own.start_pt(), own.end_pt(), w0, w1);
    // The curve's range runs from the edge's start unless the edge is
    // reversed on it.
    const bool forward = e->sense() == FORWARD;
    double reach = 0.0;
    const auto reaching = [&](const VERTEX* v, double was, double held) {
        if (held != was && v && v->geometry())
            reach = std::max(reach, distance(along.eval_position(held), v->geometry()->coords()));
    };
    reaching(forward ? e->start() : e->end(), range.start_pt(), w0);
    reaching(forward ? e->end() : e->start(), range.end_pt(), w1);
    return reach;
}

// What one walk over a body's edges and vertices tells of how a writer
// would take it.
struct WritersView {
    WidestTolerance widest;
    double held = QELresfit; // the widest tolerance the body claims (or the kernel's fits)
    int pastAt = 0;          // the first spline edge ranged past its curve by more than a file holds in
    double past = 0.0;       // by how much, of the curve's span
    int widenedAt = 0;       // the spline edge whose vertex a writer widens most, holding its range in
    double widened = 0.0;
};

WritersView writersView(BODY* body)
{
    WritersView view;
    if (!body)
        return view;
    WidestTolerance& widest = view.widest;
    ENTITY_LIST edges, vertices;
    velm_topology_walk(body, EDGE_TYPE, edges);
    velm_topology_walk(body, VERTEX_TYPE, vertices);
    // An edge is known as closely as its curve keeps to its faces and
    // vertices, whatever tolerance it claims, and as its vertices reach its
    // spline's ends where a writer holds its range in to them (as a writer
    // measures and widens it).
    QELposition low(std::numeric_limits<double>::max(), std::numeric_limits<double>::max(),
                    std::numeric_limits<double>::max());
    QELposition high(-low.x(), -low.y(), -low.z());
    const auto reach = [&](const QELposition& p) {
        low = QELposition(std::min(low.x(), p.x()), std::min(low.y(), p.y()), std::min(low.z(), p.z()));
        high = QELposition(std::max(high.x(), p.x()), std::max(high.y(), p.y()), std::max(high.z(), p.z()));
    };
    // The extent takes each edge's middle too: a closed edge's one vertex
    // alone spans nothing.
    for (int i = 0; i < edges.count(); ++i) {
        const EDGE* e = static_cast<const EDGE*>(edges[i]);
        view.held = std::max(view.held, e->get_tolerance());
        // A spline goes out on its knots whether the kernel takes it as
        // periodic or not; a conic goes out periodic, ranged as it is. One
        // ranged further past than a file holds in is refused outright.
        double heldIn = 0.0;
        QELinterval own, range;
        if (splineRanges(e, own, range)) {
            if (QELXRangeHeldIn(own.start_pt(), own.end_pt(), range.start_pt(), range.end_pt()))
                heldIn = heldInReach(e, own, range);
            else if (view.pastAt == 0) {
                view.pastAt = i + 1;
                view.past = std::max(own.start_pt() - range.start_pt(), range.end_pt() - own.end_pt()) / own.length();
            }
        }
        if (heldIn > view.widened) {
            view.widened = heldIn;
            view.widenedAt = i + 1;
        }
        if (const double t = std::max({e->get_tolerance(), edge_deviation(e), heldIn}); t > widest.tolerance)
            widest = {t, 0.0, false, i + 1};
        if (!e->geometry() || !e->geometry()->has_equation())
            continue;
        if (const QELinterval middle = edge_curve_range(e); middle.finite())
            reach(e->geometry()->equation().eval_position(middle.interpolate(0.5)));
    }
    for (int i = 0; i < vertices.count(); ++i) {
        const VERTEX* v = static_cast<const VERTEX*>(vertices[i]);
        view.held = std::max(view.held, v->get_tolerance());
        if (const double t = v->get_tolerance(); t > widest.tolerance)
            widest = {t, 0.0, true, i + 1};
        if (v->geometry())
            reach(v->geometry()->coords());
    }
    if (low.x() <= high.x())
        widest.extent = (high - low).len();
    return view;
}

} // namespace

WidestTolerance widestTolerance(BODY* body)
{
    return writersView(body).widest;
}

std::string writersRefusal(BODY* body)
{
    const WritersView view = writersView(body);
    const WidestTolerance& widest = view.widest;
    // Below the kernel's resolution a place is exact, however small the body.
    if (widest.tolerance > QELresabs && !QELXToleranceCarried(widest.tolerance, widest.extent))
        return "known only within " + figure(widest.tolerance) + " at " + (widest.atVertex ? "vertex " : "edge ") +
               std::to_string(widest.index) + ", wider than the " + figure(QELXCarriedTolerance(widest.extent)) +
               " a file carries, a thousandth of its extent " + figure(widest.extent);
    if (view.pastAt != 0)
        return "edge " + std::to_string(view.pastAt) + " ranged past its curve's end by " + figure(view.past) +
               " of the curve's span, more than a file holds in";
    // What the body's data allows a writer to make of its edges and
    // vertices: its own tolerances, and the kernel's fits. The vertex a
    // writer widens most is named.
    if (view.widened > QELXWidestWritten(view.held))
        return "edge " + std::to_string(view.widenedAt) +
               " ranged past its curve's end, held in to it with its vertex widened to " + figure(view.widened) +
               ", past the " + figure(QELXWidestWritten(view.held)) + " the body's tolerances allow";
    return "";
}

// Healing's verdict is the kernel's and the writers': a healed body its
// own checks still refuse, or one a file writer would refuse on the way out
// (known more loosely than a file carries, an edge ranged past its spline's
// end or held in to it by more than its tolerances allow), is no sound
// body, whatever the recipe said. Each is said, by its place among the
// bodies and its name where it has one, with what refuses it; the body
// stays for the caller to judge.
void warnUnsoundHealedBodies(const std::vector<BODY*>& bodies)
{
    const int count = static_cast<int>(bodies.size());
    for (int i = 0; i < count; ++i) {
        BODY* body = bodies[static_cast<std::size_t>(i)];
        if (!body || !velm_is_live_entity(body))
            continue;
        insanity_list* findings = nullptr;
        const outcome checked = api_check_entity(body, findings);
        const std::unique_ptr<insanity_list> held(findings);
        std::string why;
        if (!checked.ok())
            why = "the kernel's checks refuse it (the check itself failed)";
        else if (findings && findings->count() > 0)
            why = "the kernel's checks refuse it (" + std::string(findings->data(0)->get_message()) +
                  (findings->count() > 1 ? ", and " + std::to_string(findings->count() - 1) + " more findings" : "") +
                  ")";
        std::string refused;
        if (!velmCall([&] { refused = writersRefusal(body); }).ok())
            refused = "it could not be measured";
        if (!refused.empty())
            why += (why.empty() ? "" : "; ") + std::string("a file cannot carry it as it is (") + refused + ")";
        if (why.empty())
            continue;
        std::string text = "healed body " + std::to_string(i) + " of " + std::to_string(count);
        ATTRIB_GEN_NAME* name = nullptr;
        if (api_find_named_attribute(body, "ATTRIB_XVELM_NAME", name).ok() && name)
            text += " (\"" + name->value_text() + "\")";
        text += " is not sound: " + why;
        QELXWarningEvent::Fire(text.c_str());
    }
}

std::string undoneStepText(const std::string& body, const char* step, const std::string& what)
{
    return "Healing step " + std::string(step) + " made " + body + " worse (" + what + "): the step was undone";
}

std::string skippedStepText(const std::string& body, const char* step, const std::string& why)
{
    return "Healing step " + std::string(step) + " on " + (body.empty() ? std::string("a body") : body) +
           " could not be done (" + why + "): the step was undone and the body's healing went on";
}

StepWatch::StepWatch(Ve_BodyTag* body, std::string label)
    : StepWatch(reinterpret_cast<BODY*>(body), std::move(label))
{
}

StepWatch::StepWatch(BODY* body, std::string label) : m_body(body), m_label(std::move(label)) {}

std::function<void(BODY*, const char*)>& StepWatch::stepDouble()
{
    static std::function<void(BODY*, const char*)> work;
    return work;
}

std::optional<face_measures> StepWatch::measure(FACE* face) const
{
    face_measures m;
    if (!api_face_measures(face, m_origin, kMeasureAccuracy, m_reach, m).ok())
        return std::nullopt;
    return m;
}

void StepWatch::baseline()
{
    // Seen again before every step: what ran between two steps (outside the
    // watch) must not count against the next one. Faces whose shape stands
    // keep what was known of them.
    std::map<FACE*, FaceState> now;
    BodyState state = walkBody(
        m_body, m_faces,
        [&](FACE* face) { return !m_state || !sameShape(m_faces.at(face).shape, shapeOf(face), m_reach); }, m_reach,
        now, nullptr);
    if (!m_state) {
        // Fluxes are taken about the middle of the body, where they are small.
        QELposition low(std::numeric_limits<double>::max(), 0, 0), high(-low.x(), 0, 0);
        bool any = false;
        forEachFace(m_body, [&](FACE* face) {
            forEachCoedge(face, [&](const LOOP*, const COEDGE* c) {
                const EDGE* e = c->edge();
                for (const VERTEX* v : {e ? e->start() : nullptr, e ? e->end() : nullptr}) {
                    if (!v || !v->geometry())
                        continue;
                    const QELposition p = v->geometry()->coords();
                    low = any ? QELposition(std::min(low.x(), p.x()), std::min(low.y(), p.y()), std::min(low.z(), p.z())) : p;
                    high = any ? QELposition(std::max(high.x(), p.x()), std::max(high.y(), p.y()), std::max(high.z(), p.z())) : p;
                    any = true;
                }
            });
        });
        if (any)
            m_origin = QELposition(0.5 * (low.x() + high.x()), 0.5 * (low.y() + high.y()), 0.5 * (low.z() + high.z()));
        m_reach = state.size > 0.0 ? state.size : 1.0;
    }
    m_state = std::move(state);
    m_faces = std::move(now);
}

void StepWatch::judge(std::string& what, const char* step)
{
    // Nothing recorded: the body is as it was.
    if (!bb_frame_changed())
        return;
    // A face is touched when it, its loops, coedges, edges, vertices or the
    // geometry of any of them changed, came or went in the step.
    std::vector<ENTITY*> recorded;
    bb_frame_entities(recorded);
    const std::unordered_set<const void*> changed(recorded.begin(), recorded.end());
    auto in = [&](const void* e) { return e && changed.count(e) > 0; };
    auto touched = [&](FACE* face) {
        if (in(face) || in(face->geometry()))
            return true;
        bool found = false;
        forEachCoedge(face, [&](const LOOP* loop, const COEDGE* c) {
            const EDGE* e = c->edge();
            found = found || in(loop) || in(c) || in(c->geometry()) || in(e);
            if (e)
                for (const VERTEX* v : {e->start(), e->end()})
                    found = found || in(v) || (v && in(v->geometry()));
            found = found || (e && in(e->geometry()));
        });
        return found;
    };
    std::map<FACE*, FaceState> faces;
    std::vector<FACE*> reshaped;
    BodyState now = walkBody(m_body, m_faces, touched, m_reach, faces, &reshaped);
    what = worseThan(*m_state, now);
    if (what.empty() && now.tolerance > m_state->tolerance &&
        now.tolerance > kFitShare * std::max(m_state->size, now.size)) {
        double gap = 0.0;
        bb_frame_look_back([&] { gap = widestGap(m_body); });
        what = tooTolerant(m_state->tolerance, gap, now.tolerance);
    }

    ShapeChange change;
    if (what.empty()) {
        // Before: the faces reshaped or gone; after: the faces reshaped or
        // made, with faces the step moved into bodies of their own.
        std::vector<FACE*> needed;
        std::vector<const FaceShape*> shapesBefore, shapesAfter;
        for (const auto& [face, state] : m_faces) {
            const auto is = faces.find(face);
            const bool gone = is == faces.end();
            if (!gone && std::find(reshaped.begin(), reshaped.end(), face) == reshaped.end())
                continue;
            change.sameFaces = change.sameFaces && !gone;
            shapesBefore.push_back(&state.shape);
            if (!state.findings.empty() || !state.checked)
                change.faulty.insert(face);
            else if (state.unmeasurable)
                change.measured = false;
            else if (state.measured)
                change.before.emplace(face, *state.measured);
            else
                needed.push_back(face);
        }
        std::vector<FACE*> after = reshaped;
        for (ENTITY* e : recorded)
            if (is_FACE(e) && !e->is_lost() && !faces.count(static_cast<FACE*>(e)) &&
                std::find(after.begin(), after.end(), e) == after.end()) {
                after.push_back(static_cast<FACE*>(e));
                change.sameFaces = false;
            }
        const double size = std::max(m_state->size, now.size);
        const bool solid = m_state->closed && m_state->checked && m_state->findings.empty() && now.closed;
        if (picksLoopSides(step)) {
            std::vector<FaceShape> made;
            made.reserve(after.size());
            for (FACE* face : after) {
                const auto is = faces.find(face);
                if (is == faces.end())
                    made.push_back(shapeOf(face));
                shapesAfter.push_back(is == faces.end() ? &made.back() : &is->second.shape);
            }
            change.regrouped = sameBoundary(shapesBefore, shapesAfter, size);
        }
        // Only the volume of a solid is left to compare then.
        if (change.regrouped && !solid)
            change.measured = false;
        for (FACE* face : after) {
            if (!m_faces.count(face))
                change.sameFaces = false;
            if (!change.measured)
                break;
            const std::optional<face_measures> m = measure(face);
            if (!m) {
                change.measured = false;
                break;
            }
            change.after.emplace(face, *m);
            if (const auto is = faces.find(face); is != faces.end())
                is->second.measured = m;
        }
        if (change.measured && change.faulty.empty() && !needed.empty())
            bb_frame_look_back([&] {
                for (FACE* face : needed) {
                    const std::optional<face_measures> m = measure(face);
                    if (!m) {
                        change.measured = false;
                        return;
                    }
                    change.before.emplace(face, *m);
                }
            });
        if (!change.measured)
            for (FACE* face : after)
                if (const auto is = faces.find(face); is != faces.end()) {
                    is->second.measured.reset();
                    is->second.unmeasurable = true;
                }
        what = worseShape(change, size, solid);
        // A solid that was inside out (negative volume) and is turned right
        // was mended, whatever its volume did.
        if (what.rfind("volume", 0) == 0 && insideOut(faces, change))
            what.clear();
    }
    if (what.empty()) {
        m_state = std::move(now);
        m_faces = std::move(faces);
        return;
    }
    sys_error(qelvelm_api_errmod.message_code(VELM_API_FAILED));
}

bool StepWatch::insideOut(std::map<FACE*, FaceState>& faces, const ShapeChange& change) const
{
    // Faces the step left alone are the same on both sides.
    double before = 0.0;
    for (const auto& [face, m] : change.before)
        before += m.flux;
    for (auto& [face, state] : faces) {
        if (change.after.count(face))
            continue;
        if (!state.measured)
            state.measured = measure(face);
        if (!state.measured)
            return false;
        before += state.measured->flux;
    }
    return before < 0.0;
}

std::string StepWatch::label() const
{
    if (!m_label.empty())
        return m_label;
    int faces = 0;
    forEachFace(m_body, [&](FACE*) { ++faces; });
    return "a body of " + std::to_string(faces) + (faces == 1 ? " face" : " faces");
}

void StepWatch::undone(const char* step, const std::string& what)
{
    QELXWarningEvent::Fire(undoneStepText(label(), step, what).c_str());
}

namespace {
std::string& failedStep()
{
    static std::string text;
    return text;
}
} // namespace

void StepWatch::failed(const char* step)
{
    // The innermost step keeps its name as the error passes the outer ones.
    if (failedStep().empty())
        failedStep() = "step " + std::string(step) + " on " + label();
}

std::string StepWatch::takeFailedStep()
{
    return std::exchange(failedStep(), std::string());
}

namespace {
long& failuresSaid()
{
    static long said = 0;
    return said;
}
} // namespace

long StepWatch::failuresMet()
{
    return kernelFailuresMet() - failuresSaid();
}

void StepWatch::failuresTold(long met)
{
    failuresSaid() += failuresMet() - met;
}

void StepWatch::skipped(const char* step)
{
    QELXWarningEvent::Fire(skippedStepText(label(), step, "a kernel failure met and passed over inside it").c_str());
}

std::vector<const StepWatch*>& StepWatch::running()
{
    static std::vector<const StepWatch*> watches;
    return watches;
}

std::string StepWatch::runningBody(const std::string& fallback)
{
    return running().empty() ? fallback : running().back()->label();
}

} // namespace ve_heal
