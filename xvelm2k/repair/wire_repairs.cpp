// Wire bodies and edge curves repaired late in a healing recipe: a wire body
// the kernel's check finds faulty broken into one body per edge, wire edges
// split at their curve discontinuities, and self-intersecting curves of an
// unstitched body rebuilt on a grid with their pcurves.
#include <algorithm>
#include <vector>

#include "model/entity_views.hxx"
#include "model/kernel_call_bracket.hxx"
#include "repair/crv_approx_util.hxx"
#include "repair/post_process_internal.hxx"
#include "repair/post_process_util.hxx"
#include "repair/vertex_util.hxx"
#include "velm/bspline.hxx"
#include "velm/geometry.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/insanity.hxx"
#include "velm/memory.hxx"
#include "velm/split.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology_api.hxx"
#include "velm/topology_edit.hxx"

namespace {

int wireEdgeCount(BODY* body)
{
    return ve_view<Ve_BodyTag>(body)->getNumberOfWireEdges();
}

bool hasWire(BODY* body)
{
    if (body->wire())
        return true;
    for (LUMP* l = body->lump(); l; l = l->next())
        for (SHELL* s = l->shell(); s; s = s->next())
            if (s->wire())
                return true;
    return false;
}

// A wire body of its own for a copy of the edge.
outcome makeWireBodyFromEdge(EDGE* edge, BODY*& body)
{
    body = nullptr;
    const outcome failed(qelvelm_api_errmod.message_code(VELM_API_FAILED));
    if (!edge)
        return failed;
    EDGE* copy = nullptr;
    if (!velmInnerCall([&] { copy = static_cast<EDGE*>(copy_single_entity(edge)); }).ok() || !copy)
        return failed;
    // The kernel's wire maker gives the copy its coedge; it takes the sense
    // of the source edge's coedge.
    const outcome made = velmCall([&] {
        outcome r = api_make_ewire(1, &copy, body);
        if (r.ok() && edge->coedge() && body && copy->coedge())
            copy->coedge()->set_sense(edge->coedge()->sense());
        return r;
    });
    if (!made.ok()) {
        velmCall([&] { return api_del_entity(copy); });
        return made;
    }
    // A vertex that could not be made to cover its edge's end would leave
    // the new body as faulty as the old one: that counts as a failure.
    ENTITY_LIST vertices;
    velm_topology_walk(body, VERTEX_TYPE, vertices);
    for (VERTEX* v : ve_repair::listed<VERTEX>(vertices))
        ve_view<Ve_VertexTag>(v)->setTolerance_New();
    ENTITY_LIST now; // tolerant replacements stand where the plain vertices were
    velm_topology_walk(body, VERTEX_TYPE, now);
    for (const VERTEX* v : ve_repair::listed<VERTEX>(now))
        if (vertex_deviation(v) > std::max(v->get_tolerance(), QELresabs) * (1.0 + 1e-9))
            return failed;
    return made;
}

} // namespace

bool Ve_PostProcessUtil::ExplodeFaultyWireBody(ENTITY_LIST& bodies)
{
    BODY* b = kernelBody();
    if (!b)
        return false;
    std::vector<BODY*> made;
    const outcome exploded = velmCall([&] {
        if (!is_wire_body(b))
            return outcome();
        insanity_list* findings = nullptr;
        const outcome checked = api_check_entity(b, findings);
        if (!checked.ok())
            return checked;
        const int faults = findings ? findings->count() : 0;
        delete findings;
        if (faults == 0)
            return outcome();
        ENTITY_LIST wires;
        api_get_wires(b, wires);
        for (WIRE* wire : ve_repair::listed<WIRE>(wires)) {
            ENTITY_LIST edges;
            api_get_edges(wire, edges);
            for (EDGE* e : ve_repair::listed<EDGE>(edges)) {
                BODY* one = nullptr;
                if (!is_EDGE(e))
                    continue;
                // An edge left without a body would be lost with the faulty
                // body: then nothing is exploded at all.
                const outcome r = makeWireBodyFromEdge(e, one);
                if (!r.ok() || !one)
                    return r.ok() ? outcome(qelvelm_api_errmod.message_code(VELM_API_FAILED)) : r;
                made.push_back(one);
            }
        }
        if (!made.empty())
            return api_del_entity(b);
        return outcome();
    });
    if (!exploded.ok())
        made.clear(); // the frame took them back with everything else
    if (made.empty()) {
        if (b->lump())
            bodies.add(b);
    } else {
        for (BODY* one : made)
            bodies.add(one);
    }
    return true;
}

bool Ve_PostProcessUtil::SplitWireEdgeAtDisc()
{
    BODY* b = kernelBody();
    if (!b || !hasWire(b))
        return false;
    const int before = wireEdgeCount(b);
    // The list is taken once: pieces of a split are not split again, and no
    // edge is skipped because pieces moved it along.
    const QELXDynamicArray<Ve_EdgeTag*> edges = ve_view<Ve_BodyTag>(b)->getWireEdges();
    outcome last(qelvelm_api_errmod.message_code(VELM_API_FAILED));
    for (int i = 0; i < edges.Count(); ++i) {
        ENTITY_LIST pieces;
        velmGuard([&] { last = api_split_edge_at_disc(reinterpret_cast<EDGE*>(edges[i]), pieces, 1); });
    }
    if (wireEdgeCount(b) > before)
        Ve_VertexUtil(b).remDuplVerticesByChangeVertGeom();
    return last.ok();
}

bool Ve_PostProcessUtil::fixLeftOverCurveSelfIntTrim()
{
    BODY* b = kernelBody();
    if (!b)
        return false;
    bool changed = false;
    for (EDGE* edge : ve_repair::bodyEdges(b)) {
        COEDGE* coedge = edge->coedge();
        if (coedge && coedge->partner())
            return false; // a stitched body is left to the other repairs
        intcurve* ic = ve_repair::intcurveOf(edge);
        if (!ic || !Ve_CrvApproxUtil::crvSelfIntersects(ic))
            continue;
        // The part of the curve the edge uses is rebuilt and put back over the
        // edge's own range, with a pcurve fitted to it: a curve over other
        // parameters would leave the edge's ends and its pcurve behind.
        velmInnerCall([&] {
            const QELinterval used = ve_repair::bsplineRange(edge, *ic);
            const bool reversed = ic->reversed();
            bs3_curve rebuilt = ve_repair::regridUsedPart(edge, *ic);
            if (!rebuilt)
                return;
            if (coedge && coedge->geometry()) {
                if (!ve_repair::rebuildFaceEdge(edge, coedge, rebuilt, used, reversed))
                    velm_api_error_throw(VELM_API_FAILED); // the edge keeps its curve and pcurve
            } else {
                ve_repair::putOnEdge(edge, rebuilt, used, QELresfit, reversed);
            }
            changed = true;
        });
    }
    // New curves leave the sheet's tolerances and pcurves to be made good again.
    if (changed)
        body->doStandardRepair();
    return true;
}
