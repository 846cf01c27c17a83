// Tolerising of the edges and vertices of faces and of wires.
#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "heal/heal_internal.hxx"
#include "heal/step_watch.hxx"
#include "model/entity_views.hxx"
#include "model/kernel_call_bracket.hxx"
#include "qelx/qelx_events.hxx"
#include "velm/api.hxx"
#include "repair/post_process_internal.hxx"
#include "velm/body_heal.hxx"
#include "velm/bspline.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology_api.hxx"

using namespace ve_heal;

namespace {

// Whether the coedges of the face's loops join end to start.
bool loopsJoin(Ve_FaceTag* face)
{
    const QELXDynamicArray<Ve_CoedgeTag*> coedges = face->getCoedges();
    for (int i = 0; i < coedges.Count(); ++i) {
        const COEDGE* c = reinterpret_cast<const COEDGE*>(coedges[i]);
        if (!c->loop())
            continue;
        if (c->next() && c->next()->start() != c->end())
            return false;
        if (c->previous() && c->previous()->end() != c->start())
            return false;
    }
    return true;
}

// A periodic edge curve used over its whole period gets periodic pcurves.
void markPeriodicPcurves(EDGE* edge)
{
    const CURVE* cu = edge->geometry();
    if (!cu || !cu->has_equation() || !cu->equation().periodic())
        return;
    const QELinterval edgeRange = edge->param_range();
    if (!edgeRange.finite() || std::fabs(cu->equation().param_period() - edgeRange.length()) >= QELresabs)
        return;
    COEDGE* first = edge->coedge();
    COEDGE* c = first;
    do {
        if (c->geometry() && c->geometry()->has_equation() && c->geometry()->def().cur())
            bs2_curve_set_periodic(c->geometry()->def().cur());
        c = c->partner();
    } while (c && c != first);
}

// The vertex moved to `p` on a point of its own. A point never attached is
// freed: it would outlive the step that failed.
void placeVertex(VERTEX* vertex, const QELposition& p)
{
    APOINT* at = velm_require(VELM_NEW APOINT(p));
    try {
        vertex->set_geometry(at);
    } catch (...) {
        at->lose();
        throw;
    }
}

// The solution of m x = rhs, for m the sum of `n` projections across unit
// directions; none when m is nearly singular (directions that nearly all run
// one way leave the point free along them).
std::optional<QELposition> solved3(const double m[3][3], const double rhs[3], double n)
{
    auto det = [](const double a[3][3]) {
        return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) - a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
               a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    };
    const double whole = det(m);
    // Two directions 1e-3 radians apart give a determinant near n * 1e-6 / 2.
    if (!(std::fabs(whole) > 1e-7 * n * n))
        return std::nullopt;
    double x[3];
    for (int k = 0; k < 3; ++k) {
        double a[3][3];
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                a[r][c] = c == k ? rhs[r] : m[r][c];
        x[k] = det(a) / whole;
    }
    return QELposition(x[0], x[1], x[2]);
}

// Where the curves of a vertex's edges, bounded by the vertex's own feet on
// them (a STEP file's edges are bounded by their vertices), pass through one
// point near it, the vertex goes to that point and each edge is bounded anew
// there: the corner the sender moved the vertex off. Left as it is (then
// tolerated where it lies) unless every curve passes within the kernel's
// resolution of one point no farther from the vertex than a few times its
// distance from them (and, given `nearby`, within `within` of it): curves
// running along one another near the corner (a tangent join) do not tell
// where it is. A closed edge keeps its turn.
bool moveVertexToCurvesMeeting(VERTEX* vertex, ENTITY_LIST& edges, double away, const QELposition* nearby = nullptr,
                               double within = 0.0)
{
    struct End {
        EDGE* edge;
        bool start;
        double guess; // the end's parameter on the curve's own equation
    };
    std::vector<End> ends;
    for (int i = 0; i < edges.count(); ++i) {
        auto* e = static_cast<EDGE*>(edges[i]);
        if (is_TEDGE(e))
            return false;
        const double sign = e->sense() == REVERSED ? -1.0 : 1.0;
        const QELinterval r = e->param_range();
        if (e->start() == vertex)
            ends.push_back({e, true, sign * r.start_pt()});
        if (e->end() == vertex)
            ends.push_back({e, false, sign * r.end_pt()});
    }
    // The point nearest all the curves, by least squares over the lines
    // that touch them at the feet of the point on them (Gauss-Newton): for
    // curves that cross at an angle this closes in within a few rounds,
    // where averaging the feet alone may crawl and stop short of the corner
    // (an arc and two lines at some of a sample exhaust's corners). Where
    // the tangents all run one way the least squares say nothing along
    // them, and the feet are averaged.
    const QELposition written = vertex->geometry()->coords();
    QELposition p = written;
    double worst = 0.0;
    for (int round = 0; round < 200; ++round) {
        double m[3][3] = {}, rhs[3] = {};
        QELvector average;
        worst = 0.0;
        for (End& end : ends) {
            const curve& eq = end.edge->geometry()->equation();
            QELposition foot;
            double t = end.guess;
            eq.point_perp(p, foot, &end.guess, &t);
            end.guess = t;
            average = average + (foot - p);
            worst = std::max(worst, distance(foot, p));
            const QELvector d = eq.eval_deriv(t);
            const double length = d.len();
            const double u[3] = {length > 0.0 ? d.x() / length : 0.0, length > 0.0 ? d.y() / length : 0.0,
                                 length > 0.0 ? d.z() / length : 0.0};
            const double f[3] = {foot.x(), foot.y(), foot.z()};
            for (int r = 0; r < 3; ++r)
                for (int c = 0; c < 3; ++c) {
                    const double across = (r == c ? 1.0 : 0.0) - u[r] * u[c];
                    m[r][c] += across;
                    rhs[r] += across * f[c];
                }
        }
        if (worst < 1e-7 * QELresabs)
            break;
        if (const std::optional<QELposition> solved = solved3(m, rhs, static_cast<double>(ends.size())))
            p = *solved;
        else
            p = p + (1.0 / static_cast<double>(ends.size())) * average;
    }
    if (!(worst < 0.1 * QELresabs) || distance(p, written) > 4.0 * away || (nearby && distance(p, *nearby) > within))
        return false;
    // Each edge's new bounds, worked out before anything changes.
    std::vector<std::pair<EDGE*, QELinterval>> bounded;
    for (const End& end : ends) {
        EDGE* e = end.edge;
        const curve& eq = e->geometry()->equation();
        const double sign = e->sense() == REVERSED ? -1.0 : 1.0;
        double t = eq.param(p, &end.guess);
        if (const double period = eq.param_period(); period > 0.0)
            t += period * std::round((end.guess - t) / period);
        auto was = std::find_if(bounded.begin(), bounded.end(), [e](const auto& b) { return b.first == e; });
        if (was == bounded.end())
            was = bounded.insert(bounded.end(), {e, e->param_range()});
        const double at = sign * t;
        was->second = end.start ? QELinterval(at, was->second.end_pt()) : QELinterval(was->second.start_pt(), at);
        if (!(was->second.end_pt() > was->second.start_pt()))
            return false;
    }
    placeVertex(vertex, p);
    // The coedges' pcurves were fitted over the old bounds: made anew over
    // the new ones, as the surfaces' own curves of the edges.
    for (auto& [e, range] : bounded) {
        e->set_param_range(&range);
        COEDGE* first = e->coedge();
        for (COEDGE* c = first; c;) {
            if (c->geometry()) {
                c->set_geometry(nullptr);
                sg_add_pcurve_to_coedge(c);
            }
            c = c->partner();
            if (c == first)
                break;
        }
    }
    return true;
}

// Where the curves of a vertex's edges end together, over the edges' ranges,
// but away from the vertex (a sender moved the vertex and kept the curves and
// the edges' bounds), the vertex goes where they end, rather than taking a
// tolerance as wide as its distance: a STEP file carries one uncertainty for
// the whole model and its reader bounds the edges by the vertices again, the
// faces' area moving with them. Ends that stray from one another about as far
// as from the vertex (edges bounded by the vertex's own feet) say nothing of
// where the corner is, and the vertex stays.
void moveVertexToCurveEnds(VERTEX* vertex)
{
    const APOINT* point = vertex->geometry();
    ENTITY_LIST edges;
    if (!point)
        return;
    raiseFailure(api_get_edges(vertex, edges));
    std::vector<QELposition> ends;
    for (int i = 0; i < edges.count(); ++i) {
        const EDGE* e = static_cast<const EDGE*>(edges[i]);
        const CURVE* cu = e->geometry();
        if (!cu || !cu->has_equation())
            return;
        const QELinterval r = e->param_range();
        if (!r.finite())
            return;
        const double sign = e->sense() == REVERSED ? -1.0 : 1.0;
        if (e->start() == vertex)
            ends.push_back(cu->equation().eval_position(sign * r.start_pt()));
        if (e->end() == vertex)
            ends.push_back(cu->equation().eval_position(sign * r.end_pt()));
    }
    if (ends.empty())
        return;
    QELvector sum;
    for (const QELposition& p : ends)
        sum = sum + (p - ends.front());
    const QELposition meet = ends.front() + (1.0 / static_cast<double>(ends.size())) * sum;
    double away = 0.0, spread = 0.0;
    for (const QELposition& p : ends) {
        away = std::max(away, distance(p, point->coords()));
        spread = std::max(spread, distance(p, meet));
    }
    if (!(away > QELresabs))
        return;
    // Ends that meet within the kernel's resolution mark the corner. Ends
    // that come near one another only (a corner moved less than it was cut
    // short) leave it to where the curves cross near them, and mark it where
    // the curves do not cross there: a crossing farther off is another place
    // the curves meet, not this corner. Ends apart leave it to where the
    // curves cross.
    if (spread <= QELresabs) {
        placeVertex(vertex, meet);
    } else if (spread <= 0.1 * away) {
        if (!moveVertexToCurvesMeeting(vertex, edges, away, &meet, 4.0 * spread))
            placeVertex(vertex, meet);
    } else {
        moveVertexToCurvesMeeting(vertex, edges, away);
    }
}

void tolerizeFaces(Ve_BodyTag* self);

// An edge whose tolerising the kernel refused (a call that threw, or one
// refused and passed over inside the step) keeps a plain edge where a clean
// run makes a tolerant one: that is said, with the body and the step, never
// left to look like a clean result. `failed` edges of `edges`, `kept` the
// first kernel error that was thrown (0 when every refusal was passed over).
void warnTolerizingFellShort(int failed, int edges, int kept)
{
    const char* why = kept ? message_module::find_message(kept) : nullptr;
    const std::string text = "Tolerizing the edges of " + ve_heal::StepWatch::runningBody("a body") +
                             " could not be done for " + std::to_string(failed) + " of its " +
                             std::to_string(edges) + " edges (the kernel refused sorting their coedges or " +
                             "making them tolerant" + (why ? std::string(": ") + why : std::string()) +
                             "); they are left as they came";
    QELXWarningEvent::Fire(text.c_str());
}

} // namespace

void Ve_BodyTag::TolerizeEdgesVerticesOfFaces()
{
    inTask("TolerizeEdgesVerticesOfFacesStart", "TolerizeEdgesVerticesOfFacesEnd", "Tolerizing",
           [&] { tolerizeFaces(this); });
}

namespace {

void tolerizeFaces(Ve_BodyTag* self)
{
    const bool checkUsable = Ve_OptionDoc::isOn(Ve_OptionDoc::CheckVelmTolerizeUsability);
    bool loopsContinuous = true;
    const QELXDynamicArray<Ve_FaceTag*> faces = self->getFaces();
    for (int i = 0; i < faces.Count(); ++i) {
        faces[i]->AddLoopAtConicalFaceApex();
        if (checkUsable && !loopsJoin(faces[i]))
            loopsContinuous = false;
    }
    const bool useNewMethod = checkUsable && loopsContinuous;

    bool tolerizeEdges = true;
    BODY* body = reinterpret_cast<BODY*>(self);
    if (Ve_OptionDoc::isOn(Ve_OptionDoc::AcceptBadData) && self->isTrimBody()) {
        ENTITY_LIST first;
        velmCall([&] { return api_get_faces(body, first); });
        const FACE* face = first.count() > 0 ? static_cast<const FACE*>(first[0]) : nullptr;
        tolerizeEdges = face && face->geometry();
    }
    if (tolerizeEdges) {
        const QELXDynamicArray<Ve_VertexTag*> vertices = self->getVertices();
        for (int i = 0; i < vertices.Count(); ++i)
            velmGuard([&] { moveVertexToCurveEnds(reinterpret_cast<VERTEX*>(vertices[i])); });
        const QELXDynamicArray<Ve_EdgeTag*> edges = self->getEdges();
        int failed = 0, firstError = 0;
        for (int i = 0; i < edges.Count(); ++i) {
            EDGE* edge = reinterpret_cast<EDGE*>(edges[i]);
            const long refusedBefore = velm_failed_api_calls();
            // One bracket per edge: an edge whose tolerancing failed half way
            // is put back as it came, as the warning says.
            const int kept = velmInnerCall([&] {
                                 sort_coedges(edge);
                                 markPeriodicPcurves(edge);
                                 if (useNewMethod)
                                     edges[i]->setTolerance_New(nullptr);
                                 else
                                     edges[i]->setTolerance_Old(nullptr);
                             }).error_number();
            // Running out of kernel memory ends the body's healing, which is
            // then undone whole (and said) by the body's bracket.
            if (kept == qelbase_mmgr_errmod.message_code(8))
                sys_error(kept);
            if (kept != 0 || velm_failed_api_calls() != refusedBefore) {
                ++failed;
                if (firstError == 0)
                    firstError = kept;
            }
        }
        if (failed > 0)
            warnTolerizingFellShort(failed, edges.Count(), firstError);
    }
    const QELXDynamicArray<Ve_VertexTag*> vertices = self->getVertices();
    for (int i = 0; i < vertices.Count(); ++i) {
        if (useNewMethod)
            vertices[i]->setTolerance_New();
        else
            vertices[i]->setTolerance_Old();
    }
}

} // namespace

void Ve_BodyTag::TolerizeWires()
{
    const bool useNewMethod = Ve_OptionDoc::isOn(Ve_OptionDoc::CheckVelmTolerizeUsability);
    const QELXDynamicArray<Ve_VertexTag*> vertices = getWireVertices();
    for (int i = 0; i < vertices.Count(); ++i) {
        if (useNewMethod)
            vertices[i]->setTolerance_New();
        else
            vertices[i]->setTolerance_Old();
    }
    if (Ve_OptionDoc::isOn(Ve_OptionDoc::FixCurveSense))
        FixWireEdgeSense();
    if (!isWireBody() || isVertexBody())
        return;
    ENTITY_LIST all;
    ENTITY_LIST bad;
    ENTITY_LIST made;
    ENTITY* worst = nullptr;
    double worstError = -1.0;
    BODY* body = getDef();
    velmCall([&] { return api_get_vertices(body, all); });
    velmCall([&] { return api_check_vertex_errors(all, bad, worst, worstError, QELresabs, false, made); });
}

bool Ve_BodyTag::FixWireEdgeSense()
{
    const QELXDynamicArray<Ve_EdgeTag*> edges = getWireEdges();
    for (int i = 0; i < edges.Count(); ++i) {
        EDGE* edge = reinterpret_cast<EDGE*>(edges[i]);
        const CURVE* cu = edge->geometry();
        if (!cu || !cu->has_equation() || !edge->start() || !edge->end() || !edge->start()->geometry() ||
            !edge->end()->geometry())
            continue;
        const QELinterval r = edge->param_range();
        if (!r.finite())
            continue;
        const double sign = edge->sense() == REVERSED ? -1.0 : 1.0;
        const QELposition atStart = cu->equation().eval_position(sign * r.start_pt());
        const QELposition atEnd = cu->equation().eval_position(sign * r.end_pt());
        const QELposition v1 = edge->start()->geometry()->coords();
        const QELposition v2 = edge->end()->geometry()->coords();
        if (distance(v1, v2) >= QELresabs && distance(atEnd, v1) < QELresabs && distance(atStart, v2) < QELresabs)
            velmCall([&] {
                edge->set_sense(edge->sense() == FORWARD ? REVERSED : FORWARD, true);
                // The range follows: worked out again between the vertices on the turned curve.
                edge->set_param_range(nullptr);
            });
    }
    return true;
}
