#include "trim/contour_cntl.hxx"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "model/kernel_call_bracket.hxx"
#include "qelx/qelx_brep_exporter.hxx"
#include "qelx/qelx_errors.hxx"
#include "qelx/qelx_events.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "trim/trim_import_context.hxx"
#include "trim/trim_internal.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

namespace {

QELposition positionOf(const QELXPoint3D& p) { return QELposition(p.x(), p.y(), p.z()); }

// The segment's 3-D curve, when it is long enough over the domain to make an edge.
CURVE* edgeCurveOf(const Ve_JordonCntl& s)
{
    CURVE* cu = trimCurveEntity(s.cur());
    if (!cu || !cu->has_equation())
        return nullptr;
    const Gk_Domain& d = s.getDomain();
    return cu->equation().length(d.low(), d.high(), true) >= QELresabs ? cu : nullptr;
}

// Where the segment's edge ends: on a closed segment its own end; before a
// closed segment, that segment's start; else the end of its pcurve on the
// surface.
QELXPoint3D endVertexPosition(const Ve_JordonCntl& s, const Ve_JordonCntl& next)
{
    const QELXPoint3D e = s.end(false);
    if (s.start(false).Distance(e) <= Gk_Def::FuzzReal)
        return e;
    if (edgeCurveOf(next) && next.start(false).Distance(next.end(false)) <= Gk_Def::FuzzReal)
        return next.start(false);
    return s.end(true);
}

// Source edge attributes for an edge built on a curve the map knows.
void transferEdgeAttributes(EDGE* edge, CURVE* curve, QELXBRepExporter* exporter)
{
    const bool all = Ve_OptionDoc::isOn(Ve_OptionDoc::TransferAttribute);
    const bool pid = trimEdgeBitSet(Ve_OptionDoc::TransferAttributePID);
    const bool pname = trimEdgeBitSet(Ve_OptionDoc::TransferAttributePName);
    QELXIdentifier source;
    if (!trimEdgeAttributesWanted() || !trimCurveMapFind(curve, source))
        return;
    QELXAttributeExporter* attributes = nullptr;
    exporter->GetAttributeExporter(attributes);
    if (all)
        Ve_AttribTransfer::transferAttributes(edge, source, attributes, false);
    if (pid)
        Ve_AttribTransfer::transferPIDAttribute(edge, source, attributes);
    if (pname)
        Ve_AttribTransfer::transferPNameAttribute(edge, source, attributes);
    QELXEndTranslateEntityEvent::Fire(
        0, source, QELXIdentifier(edge, QELXBRepExporter::QELXBRepTypeEdge, nullptr, "ENTITY"));
}

// The edge's range in its curve's parameter.
QELinterval curveRangeOf(const EDGE* edge)
{
    const QELinterval r = edge->param_range();
    return edge->sense() == REVERSED ? -r : r;
}

// An intcurve edge gets a curve bound to the coedge's pcurve on the face's
// surface; true when the edge's curve was replaced.
bool bindIntcurveToPCurve(COEDGE* coedge)
{
    EDGE* edge = coedge->edge();
    CURVE* cu = edge ? edge->geometry() : nullptr;
    LOOP* loop = coedge->loop();
    FACE* face = loop ? loop->face() : nullptr;
    PCURVE* pc = coedge->geometry();
    if (!cu || !face || !face->geometry() || !pc || !pc->has_equation() || cu->identity() != INTCURVE_TYPE)
        return false;
    const intcurve& ic = static_cast<const INTCURVE*>(cu)->equation();
    if (ic.get_int_cur().id() == par_int_cur_id || !ic.cur_present())
        return false;
    const QELinterval r = curveRangeOf(edge);
    if (!r.finite() || r.length() < QELresabs || !(ic.param_range().length() >= QELresabs))
        return false;

    bs2_curve bs2 = bs2_curve_copy(pc->def().cur());
    if (coedge->sense() != edge->sense())
        bs2_curve_reverse(bs2);
    bs2_curve_reparam(r.start_pt(), r.end_pt(), bs2);

    bs3_curve bs3 = bs3_curve_copy(ic.cur());
    if (ic.reversed())
        bs3_curve_reverse(bs3);
    if (!(bs3_curve_range(bs3) == r)) {
        if (edge->start() && edge->end() && same_point(edge->start_pos(), edge->end_pos())) {
            bs3_curve_reparam(r.start_pt(), r.end_pt(), bs3);
        } else if (bs3_curve subset = bs3_curve_subset(bs3, r, QELresabs)) {
            bs3_curve_delete(bs3);
            bs3 = subset;
        }
    }
    const intcurve bound(bs3, 10.0 * QELresfit, &face->geometry()->equation(), nullptr, bs2, nullptr);
    edge->set_geometry(make_curve(bound));
    return true;
}

// A closed intcurve whose B-spline lies a period away from the edge's range
// is moved onto it.
void alignClosedIntcurve(EDGE* edge)
{
    CURVE* cu = edge->geometry();
    if (!cu || cu->identity() != INTCURVE_TYPE || !cu->equation().closed())
        return;
    intcurve& ic = static_cast<INTCURVE*>(cu)->equation_for_update();
    QELinterval r = edge->param_range();
    if ((edge->sense() == REVERSED) != ic.reversed())
        r = -r;
    const QELinterval own = bs3_curve_range(ic.cur());
    const bool holdsMiddle = own.start_pt() <= r.mid_pt() && r.mid_pt() <= own.end_pt();
    if (holdsMiddle || !Gk_Func::equal(own.length(), r.length(), Gk_Def::FuzzReal))
        return;
    bs3_curve moved = bs3_curve_copy(ic.cur());
    bs3_curve_reparam(r.start_pt(), r.end_pt(), moved);
    ic.set_cur(moved, -1.0);
}

} // namespace

Ve_ContourCntl::Ve_ContourCntl() = default;

Ve_ContourCntl::Ve_ContourCntl(Ve_TrimImportContext* context) : m_context(context) {}

bool Ve_ContourCntl::seed(const QELXIdentifier& loop, QELXBRepExporter* exporter)
{
    int n = 0;
    exporter->GetNumberOfCoedgesFromLoop(loop, n);
    for (int i = 0; i < n; ++i) {
        QELXIdentifier coedge;
        int index = i;
        exporter->GetCoedgeFromLoop(loop, index, coedge);
        Ve_JordonCntlHandle segment(new Ve_JordonCntl(m_context));
        const bool seeded = segment->seed(coedge, exporter);
        Gk_ErrMgr::checkAbort();
        if (!seeded) {
            Gk_ErrMgr::doAssert(kTrimSource, 1881);
            continue;
        }
        for (const Ve_JordonCntlHandle& piece : segment->repair())
            m_segments.Add(piece);
    }
    bool outer = true;
    if (exporter->IsOuterLoop(loop, outer) == QELI_OK)
        m_outer = outer;
    return m_segments.Count() > 0;
}

bool Ve_ContourCntl::isOpen(double& gap) const
{
    gap = 0.0;
    const auto reach = [](const Ve_JordonCntl& s) {
        const QELXPoint3D a = s.start(false), b = s.mid(false), c = s.end(false);
        return a.Distance(b) + b.Distance(c);
    };
    // The pieces that make edges, as makeLoop takes them.
    std::vector<const Ve_JordonCntl*> edges;
    for (const Ve_JordonCntlHandle& s : m_segments)
        if (edgeCurveOf(*s))
            edges.push_back(s.get());
    bool open = false;
    for (std::size_t i = 0, n = edges.size(); i < n && n > 1; ++i) {
        const Ve_JordonCntl& a = *edges[i];
        const Ve_JordonCntl& b = *edges[(i + 1) % n];
        const double apart = a.end(false).Distance(b.start(false));
        // Not a number is as open as can be.
        if (!(apart <= std::max(trimGapTolerance(), 0.5 * std::min(reach(a), reach(b))))) {
            open = true;
            gap = std::isnan(apart) || std::isnan(gap) ? apart : std::max(gap, apart);
        }
    }
    return open;
}

bool Ve_ContourCntl::isVertexLoop() const
{
    for (const Ve_JordonCntlHandle& s : m_segments)
        if (!s->isPole())
            return false;
    return true;
}

LOOP* Ve_ContourCntl::makeLoop(FACE* face, QELXBRepExporter* exporter) const
{
    const int n = m_segments.Count();
    if (n == 0)
        return nullptr;
    if (n == 1 && m_segments[0]->isUnbounded()) {
        for (const Ve_JordonCntlHandle& s : m_segments)
            s->setOwner(true);
        return nullptr;
    }
    LOOP* loop = new (0, kTrimSource, 2182, nullptr) LOOP();
    if (!loop)
        return nullptr;
    loop->set_face(face);

    COEDGE* previous = nullptr;
    if (isVertexLoop()) {
        COEDGE* coedge = new (0, kTrimSource, 2192, nullptr) COEDGE();
        EDGE* edge = new (0, kTrimSource, 2193, nullptr) EDGE();
        const QELXPoint3D p = m_segments[0]->start(true);
        APOINT* point = new (0, kTrimSource, 2201, nullptr) APOINT(positionOf(p));
        VERTEX* vertex = point ? new (0, kTrimSource, 2199, nullptr) VERTEX(point) : nullptr;
        if (coedge && edge && vertex) {
            coedge->set_edge(edge);
            edge->set_coedge(coedge);
            edge->set_end(vertex);
            vertex->set_edge(edge);
            coedge->set_owner(loop);
            loop->set_start(coedge);
            previous = coedge;
        } else {
            // What was made of the vertex loop goes again.
            for (ENTITY* e : {static_cast<ENTITY*>(coedge), static_cast<ENTITY*>(edge),
                              static_cast<ENTITY*>(vertex)})
                if (e)
                    e->lose();
            if (point && !vertex)
                point->lose();
        }
        for (const Ve_JordonCntlHandle& s : m_segments)
            s->setOwner(true);
    } else {
        for (int i = 0; i < n; ++i) {
            Ve_JordonCntl& s = *m_segments[i];
            CURVE* curve = edgeCurveOf(s);
            COEDGE* coedge = curve ? new (0, kTrimSource, 2238, nullptr) COEDGE() : nullptr;
            EDGE* edge = coedge ? new (0, kTrimSource, 2248, nullptr) EDGE() : nullptr;
            if (!edge) {
                // Nothing is made of it: its curves go now.
                if (coedge)
                    coedge->lose();
                s.losePcur();
                s.loseCur();
                continue;
            }
            coedge->set_owner(loop);
            if (previous) {
                previous->set_next(coedge);
                coedge->set_previous(previous);
            } else {
                loop->set_start(coedge);
            }
            coedge->set_edge(edge);
            edge->set_coedge(coedge);
            edge->set_geometry(curve);
            coedge->set_geometry(trimPCurveEntity(s.pcur()));
            const Gk_Domain& d = s.getDomain();
            const QELinterval range(d.low(), d.high());
            edge->set_param_range(&range);
            transferEdgeAttributes(edge, curve, exporter);

            const QELXPoint3D p = endVertexPosition(s, *m_segments[(i + 1) % n]);
            APOINT* point = new (0, kTrimSource, 2307, nullptr) APOINT(positionOf(p));
            VERTEX* vertex = point ? new (0, kTrimSource, 2305, nullptr) VERTEX(point) : nullptr;
            if (vertex) {
                edge->set_end(vertex);
                vertex->set_edge(edge);
            }
            if (previous)
                edge->set_start(previous->edge()->end());
            previous = coedge;
        }
    }

    if (previous) {
        COEDGE* start = loop->start();
        previous->set_next(start);
        start->set_previous(previous);
        start->edge()->set_start(previous->edge()->end());
    }
    if (loop->start())
        return postProcess(loop);
    for (const Ve_JordonCntlHandle& s : m_segments)
        s->setOwner(true);
    loop->lose();
    return nullptr;
}

LOOP* Ve_ContourCntl::postProcess(LOOP* loop) const
{
    COEDGE* start = loop->start();
    COEDGE* coedge = start;
    do {
        EDGE* edge = coedge->edge();
        // The curveless edge of a vertex loop has no range to read.
        if (edge && edge->geometry()) {
            const outcome read = velmInnerCall([&] { edge->param_range(); });
            if (!read.ok()) {
                api_delent(loop);
                return nullptr;
            }
        }
        // A fit the kernel cannot make leaves the coedge as it was.
        velmGuard([&] { sg_add_pcurve_to_coedge(coedge, 0, 0, 0); });
        if (!edge) {
            coedge = coedge->next();
            continue;
        }
        PCURVE* pc = coedge->geometry();
        if (pc && pc->has_equation() && edge->geometry()) {
            if (bindIntcurveToPCurve(coedge))
                alignClosedIntcurve(edge);
            QELinterval r = edge->param_range();
            if ((coedge->sense() == REVERSED) != pc->reversed())
                r = -r;
            const QELinterval own = bs2_curve_range(pc->def().cur());
            if (own.finite() && own.start_pt() == own.end_pt()) {
                if (edge->geometry()->identity() != INTCURVE_TYPE)
                    coedge->set_geometry(nullptr);
                coedge = coedge->next();
                continue;
            }
            pcurve def = pc->def();
            bs2_curve_reparam(r.start_pt(), r.end_pt(), def.cur());
            pc->set_def(def);
        }
        CURVE* cu = edge->geometry();
        if (cu && cu->has_equation() && (cu->equation().periodic() || cu->equation().closed()) &&
            edge->start() != edge->end()) {
            const QELinterval r = curveRangeOf(edge);
            if (!(cu->equation().param_range() == r))
                cu->equation_for_update().limit(r);
        }
        pc = coedge->geometry();
        if (pc && pc->has_equation() && cu && cu->has_equation()) {
            pcurve def = pc->def();
            if (cu->equation().periodic())
                bs2_curve_set_periodic(def.cur());
            else if (cu->equation().closed())
                bs2_curve_set_closed(def.cur());
            else
                bs2_curve_set_open(def.cur());
            pc->set_def(def);
        }
        coedge = coedge->next();
    } while (coedge && coedge != start);
    return loop;
}
