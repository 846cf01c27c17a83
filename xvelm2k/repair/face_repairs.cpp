// Face repairs: a loop at a cone's apex, splits of faces on periodic
// surfaces, and scribe edges cleaned away.
#include "repair/face_repairs.hxx"

#include <algorithm>
#include <vector>

#include "geometry/surface_view.hxx"
#include "model/entity_views.hxx"
#include "model/kernel_call_bracket.hxx"
#include "repair/post_process_internal.hxx"
#include "velm/attrib.hxx"
#include "velm/geometry.hxx"
#include "velm/heal.hxx"
#include "velm/memory.hxx"
#include "velm/query.hxx"
#include "velm/split.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology_api.hxx"

namespace {

const cone* coneOf(const FACE* face)
{
    const SURFACE* s = face->geometry();
    if (!s || !s->has_equation() || s->equation().type() != 2)
        return nullptr;
    const auto* c = static_cast<const cone*>(&s->equation());
    return c->is_cylinder() ? nullptr : c;
}

bool isAnalytic(Ve_SurfaceTag* surface)
{
    const int type = static_cast<int>(surface->typeId());
    return type >= 1 && type <= 6;
}

} // namespace

void Ve_FaceTag::AddLoopAtConicalFaceApex()
{
    FACE* face = getDef();
    // The test leaves the face's box cached; a face that gets no loop is
    // left exactly as it was.
    const bool hadBound = face->bound() != nullptr;
    if (!NeedsLoopAtConicalFaceApex()) {
        if (!hadBound && face->bound())
            face->set_bound(nullptr);
        return;
    }
    const cone* apexCone = coneOf(face);
    if (!apexCone)
        return;
    QELposition apex;
    if (velmGuard([&] { apex = apexCone->get_apex(); }) != 0)
        return;
    const double near = 10.0 * Gk_Def::FuzzPos;
    for (LOOP* loop = face->loop(); loop; loop = loop->next()) {
        COEDGE* c = loop->start();
        VERTEX* v = c && c->edge() ? c->edge()->start() : nullptr;
        if (!v || !v->geometry() || !(distance(v->geometry()->coords(), apex) <= near))
            continue;
        // The boundary passes the apex already: the vertex moves onto it.
        v->geometry()->set_coords(apex);
        velmCall([&] {
            TEDGE* tolerant = nullptr;
            return api_replace_edge_with_tedge(c->edge(), tolerant);
        });
        velmInnerCall([&] {
            const QELbox widened = QELbox(apex) | get_face_box(face, nullptr, 0, nullptr);
            face->set_bound(new QELbox(widened));
        });
        if (!NeedsLoopAtConicalFaceApex())
            return;
        break;
    }
    // A degenerate loop at the apex, first among the face's loops; made
    // whole or not at all.
    velmInnerCall([&] {
        auto* vertex = velm_require(VELM_NEW VERTEX(velm_require(VELM_NEW APOINT(apex))));
        auto* edge = velm_require(VELM_NEW EDGE(vertex, vertex, nullptr, FORWARD));
        auto* coedge = velm_require(VELM_NEW COEDGE(edge, FORWARD, nullptr, nullptr));
        coedge->set_next(coedge);
        coedge->set_previous(coedge);
        auto* loop = velm_require(VELM_NEW LOOP(coedge, face->loop()));
        loop->set_face(face);
        face->set_loop(loop);
        face->set_bound(nullptr);
    });
}

void Ve_FaceTag::processForPeriodicity(bool force)
{
    FACE* face = getDef();
    Ve_SurfaceTag* view = getSurface();
    if (!view || !face->geometry()->has_equation())
        return;
    if (isAnalytic(view) && !force)
        return;
    const surface& eq = face->geometry()->equation();
    const bool periodicU = eq.periodic_u(), periodicV = eq.periodic_v();
    if (!periodicU && !periodicV)
        return;
    QELpar_box box;
    bool boxed = false;
    velmInnerCall([&] { boxed = sg_get_face_par_box(face, box); });
    if (!boxed)
        box = eq.param_range(nullptr);
    if (periodicV)
        velmInnerCall([&] { sg_split_face_at_parameter(face, 0, box.v_range().end_pt()); });
    if (periodicU)
        velmInnerCall([&] { sg_split_face_at_parameter(face, 1, box.u_range().mid_pt()); });
}

void removeScribeEdges(Ve_BodyTag* body, bool all)
{
    if (!body)
        return;
    BODY* b = reinterpret_cast<BODY*>(body);
    if (all) {
        ENTITY_LIST edges;
        for (EDGE* e : ve_repair::bodyEdges(b))
            edges.add(e);
        velmCall([&] { return api_remove_no_merge_attrib(edges); });
        velmCall([&] { return api_clean_entity(b); });
        return;
    }
    std::vector<FACE*> faces;
    const QELXDynamicArray<Ve_VertexTag*> vertices = body->getVertices();
    for (int i = 0; i < vertices.Count(); ++i) {
        if (vertices[i]->getNumberOfEdges() != 1)
            continue;
        const QELXDynamicArray<Ve_FaceTag*> around = vertices[i]->getFaces();
        for (int k = 0; k < around.Count(); ++k) {
            FACE* f = reinterpret_cast<FACE*>(around[k]);
            if (f && std::find(faces.begin(), faces.end(), f) == faces.end())
                faces.push_back(f);
        }
    }
    for (FACE* f : faces) {
        ENTITY_LIST edges;
        api_get_edges(f, edges);
        velmCall([&] { return api_remove_no_merge_attrib(edges); });
    }
    for (FACE* f : faces)
        velmCall([&] { return api_clean_entity(f); });
}
