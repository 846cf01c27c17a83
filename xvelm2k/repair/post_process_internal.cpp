// Shared pieces of the toolbox's members.
#include "repair/post_process_internal.hxx"

#include <algorithm>

#include "model/entity_views.hxx"
#include "velm/bspline.hxx"
#include "velm/tolerant.hxx"
#include "velm/query.hxx"
#include "velm/topology_api.hxx"

namespace ve_repair {

spline* splineOf(const FACE* face)
{
    SURFACE* s = face ? face->geometry() : nullptr;
    if (!s || !s->has_equation() || s->equation().type() != 10)
        return nullptr;
    return const_cast<spline*>(static_cast<const spline*>(&s->equation()));
}

intcurve* intcurveOf(const EDGE* edge)
{
    CURVE* c = edge ? edge->geometry() : nullptr;
    if (!c || !c->has_equation() || c->equation().type() != 11)
        return nullptr;
    return const_cast<intcurve*>(static_cast<const intcurve*>(&c->equation()));
}

std::vector<FACE*> bodyFaces(BODY* body)
{
    ENTITY_LIST list;
    api_get_faces(body, list);
    return listed<FACE>(list);
}

std::vector<EDGE*> bodyEdges(BODY* body)
{
    ENTITY_LIST list;
    api_get_edges(body, list);
    std::vector<EDGE*> out;
    for (EDGE* e : listed<EDGE>(list))
        if (e->coedge() && e->coedge()->loop())
            out.push_back(e);
    return out;
}

std::vector<EDGE*> bodyWireEdges(BODY* body)
{
    ENTITY_LIST list;
    api_get_edges(body, list);
    std::vector<EDGE*> out;
    for (EDGE* e : listed<EDGE>(list))
        if (!e->coedge() || !e->coedge()->loop())
            out.push_back(e);
    return out;
}

bool faceArea(const FACE* face, double& area)
{
    double a = 0.0;
    if (velmGuard([&] { a = ent_area_prop(face, 0.001).area(); }) != 0)
        return false;
    area = a;
    return true;
}

void setEdgeIntcurve(EDGE* edge, bs3_curve bs, double fit)
{
    intcurve ic(bs, fit);
    edge->set_geometry(make_curve(ic), 1);
}

bs3_curve reinterpolate21(bs3_curve bs, double a, double b)
{
    QELposition pts[21];
    for (int k = 0; k <= 20; ++k)
        pts[k] = bs3_curve_position(a + (b - a) * k / 20.0, bs);
    return bs3_curve_interp(21, pts, bs3_curve_start_tangent(bs), bs3_curve_end_tangent(bs), 0.0);
}

void tolerateOrUndo(EDGE* edge, bool useNew)
{
    EDGE* replaced = nullptr;
    Ve_EdgeTag* tag = ve_view<Ve_EdgeTag>(edge);
    if (useNew)
        tag->setTolerance_New(&replaced);
    else
        tag->setTolerance_Old(&replaced);
    const EDGE* now = replaced ? replaced : edge;
    const double slack = 1.0 + 1e-9;
    bool covered = edge_deviation(now) <= std::max(now->get_tolerance(), QELresabs) * slack;
    for (const VERTEX* v : {now->start(), now->end()})
        if (v && !is_TVERTEX(v) && vertex_deviation(v) > QELresabs * slack)
            covered = false;
    if (!covered)
        velm_api_error_throw(VELM_API_FAILED);
}

} // namespace ve_repair
