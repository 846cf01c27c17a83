// Edge steps after periodic faces were split: closed loop edges in two,
// degree-one intcurve edges at their kinks, edge curves trimmed to their edges.
#include <vector>

#include "model/kernel_call_bracket.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "repair/fix_pcurve.hxx"
#include "velm/bspline.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/memory.hxx"
#include "velm/pcurves.hxx"
#include "velm/split.hxx"
#include "velm/topology_api.hxx"

namespace {

std::vector<EDGE*> bodyEdges(BODY* body, bool& ok)
{
    std::vector<EDGE*> out;
    ENTITY_LIST edges;
    ok = body && api_get_edges(body, edges).ok();
    if (!ok)
        return out;
    edges.init();
    while (ENTITY* e = edges.next())
        out.push_back(static_cast<EDGE*>(e));
    return out;
}

const curve* edgeEquation(const EDGE* edge)
{
    const CURVE* cu = edge->geometry();
    return cu && cu->has_equation() ? &cu->equation() : nullptr;
}

// A tolerant edge gets a tolerant vertex (tolerance 0, grown by later checks).
void splitEdgeAtMiddle(EDGE* edge)
{
    const curve& eq = *edgeEquation(edge);
    const double t = (edge->sense() == REVERSED ? -1.0 : 1.0) * edge->param_range().mid_pt();
    APOINT* point = velm_require(VELM_NEW APOINT(eq.eval_position(t)));
    VERTEX* vertex = is_TEDGE(edge) ? new (0, "ve_edgeutl", 622, nullptr) TVERTEX(point, 0.0)
                                    : new (0, "ve_edgeutl", 625, nullptr) VERTEX(point);
    if (!vertex) {
        delete point;
        velm_out_of_memory();
    }
    sg_split_edge_at_vertex(edge, vertex, t);
}

} // namespace

void splitClosedLoopEdges(BODY* body)
{
    bool ok = false;
    for (EDGE* edge : bodyEdges(body, ok)) {
        const COEDGE* first = edge->coedge();
        if (!first || !first->loop() || !edgeEquation(edge) || edge->start() != edge->end())
            continue;
        velmCall([&] { splitEdgeAtMiddle(edge); });
    }
    const bool all = Ve_OptionDoc::isOn(Ve_OptionDoc::TrimAllEdgesAfterSplit);
    for (EDGE* edge : bodyEdges(body, ok)) {
        const curve* eq = edgeEquation(edge);
        if (!eq || (!all && !eq->periodic() && !eq->closed()))
            continue;
        velmCall([&] { trim_edge_geom(edge); });
    }
}

void splitDegreeOneEdgesAtDiscontinuities(BODY* body)
{
    bool ok = false;
    for (EDGE* edge : bodyEdges(body, ok)) {
        const curve* eq = edgeEquation(edge);
        if (!eq || eq->type() != 11)
            continue;
        const bs3_curve spline = static_cast<const intcurve*>(eq)->cur();
        if (!spline || bs3_curve_degree(spline) != 1)
            continue;
        ENTITY_LIST pieces;
        velmCall([&] { return api_split_edge_at_disc(edge, pieces, 1); });
    }
}

void splitThreePoleSkinFaces(BODY* body)
{
    ENTITY_LIST faces;
    if (!body || !api_get_faces(body, faces).ok())
        return;
    faces.init();
    while (ENTITY* e = faces.next()) {
        auto* face = static_cast<FACE*>(e);
        const SURFACE* sf = face->geometry();
        if (!sf || !sf->has_equation() || sf->equation().type() != 10)
            continue;
        const spline& spl = static_cast<const spline&>(sf->equation());
        if (spl.get_spl_sur().id() != skin_spl_sur_id)
            continue;
        const bs3_surface poles = spl.sur();
        if (!poles)
            continue;
        // Three poles in u come first: a face with three both ways is split in u only.
        if (bs3_surface_num_ctrlpts_u(poles) == 3)
            velmCall([&] { return api_split_face(face, true, false, 0.5); });
        else if (bs3_surface_num_ctrlpts_v(poles) == 3)
            velmCall([&] { return api_split_face(face, false, false, 0.5); });
    }
}
