// The standard repair sequence of one body and its short steps.
#include <vector>

#include "heal/heal_internal.hxx"
#include "heal/repair_utils_internal.hxx"
#include "heal/step_watch.hxx"
#include "model/entity_views.hxx"
#include "model/body_set.hxx"
#include "repair/post_process_internal.hxx"
#include "repair/post_process_util.hxx"
#include "repair/vertex_util.hxx"
#include "velm/body_heal.hxx"
#include "velm/build.hxx"
#include "velm/bspline.hxx"
#include "velm/query.hxx"
#include "velm/resurface.hxx"
#include "velm/tolerance_update.hxx"
#include "velm/topology_api.hxx"

using namespace ve_heal;

namespace {

// A spline face's control-point counts are judged before it is refitted.
constexpr int kMaxResurfacePoints = 9100;
// One face with this many loops is left to its own repairs.
constexpr int kResurfaceLoopLimit = 100;

void resurfaceFaces(const std::vector<FACE*>& faces, bool& geometryChanged)
{
    // Put back afterwards whatever the resurfacing does to it.
    KernelOptionScope checkLevel("check_level");
    checkLevel.set(checkLevel.saved());
    for (FACE* face : faces) {
        spline* s = ve_repair::splineOf(face);
        if (!s)
            continue;
        const SURFACE* before = face->geometry();
        int nu = 0;
        int nv = 0;
        velmGuard([&] {
            // A spline the kernel has no B-spline of (a revolved line
            // without ends) has no control points to count.
            bs3_surface bs = s->sur(-1.0);
            if (!bs)
                return;
            QELposition* points = nullptr;
            bs3_surface_control_points(bs, nu, nv, points);
            delete[] points;
        });
        if (nu * nv > kMaxResurfacePoints || (nu == 0 && nv == 0))
            continue;
        FACE* resurfaced = nullptr;
        const bool ok = velmCall([&] {
                            resurface_options options;
                            options.set_use_R10_algorithm(0);
                            return api_spline_resurface(resurfaced, face, &options);
                        }).ok();
        if (!ok || !resurfaced || resurfaced->geometry() == before)
            continue;
        geometryChanged = true;
        Ve_FaceTag* view = ve_view<Ve_FaceTag>(resurfaced);
        QELXDynamicArray<Ve_EdgeTag*> edges = view->getEdges();
        // An edge made tolerant is replaced (the old one deleted): its
        // vertices are read from the tolerant edge.
        for (int i = 0; i < edges.Count(); ++i) {
            EDGE* replaced = nullptr;
            edges[i]->setTolerance_New(&replaced);
            if (replaced)
                edges[i] = ve_view<Ve_EdgeTag>(replaced);
        }
        QELXDynamicArray<Ve_VertexTag*> vertices;
        for (int i = 0; i < edges.Count(); ++i)
            for (Ve_VertexTag* v : {edges[i]->getStartVertex(), edges[i]->getEndVertex()})
                if (v && vertices.Find(v) < 0)
                    vertices.Add(v);
        for (int i = 0; i < vertices.Count(); ++i)
            vertices[i]->setTolerance_New();
    }
}

} // namespace

void Ve_CocoonTag::repairBodies()
{
    // A copy: a repair that replaced the set's array would not disturb the walk.
    // Each body's repair is kept only when it leaves the body no worse.
    const QELXDynamicArray<Ve_BodyTag*> bodies = getBodies();
    for (int i = 0; i < bodies.Count(); ++i)
        if (Ve_BodyTag* body = bodies[i])
            ve_recipes::healOneBody([&] {
                ve_heal::StepWatch(body, ve_recipes::bodyLabel(i + 1)).step("doStandardRepair",
                                                                          [&] { body->doStandardRepair(); });
            });
}

namespace {

void standardRepairSteps(Ve_BodyTag* body)
{
    // A kernel error in any step goes to the caller's bracket, which takes
    // the body's healing back whole and says so: absorbed here it would end
    // the sequence part way with nothing said.
    int resurfaceMode = 0;
    if (Ve_OptionDoc::isOn(Ve_OptionDoc::_checkAndFixReverseBody))
        body->CheckAndFixReverseBody();
    if (Ve_OptionDoc::isOn(Ve_OptionDoc::RemoveSliver))
        body->RemoveSliverFacesAndRedundantVertices();
    resurfaceMode = switchCount(Ve_OptionDoc::DoSplineResurface);
    if (resurfaceMode == 2)
        Ve_PostProcessUtil(body).extendSplineSurf(true);
    body->TrimFaces();
    if (Ve_OptionDoc::isOn(Ve_OptionDoc::PropEdgeReqd))
        body->SplitPeriodicSplineFaces();
    if (!body->isWireBody())
        body->TolerizeEdgesVerticesOfFaces();
    if (Ve_OptionDoc::isOn(Ve_OptionDoc::SplitEdgesAtPoles))
        body->SplitEdgesAtPoles();
    body->TolerizeWires();
    body->CorrectPlanarFaceSense();
    bool geometryChanged = false;
    if (Ve_OptionDoc::isOn(Ve_OptionDoc::FixTedgeErrors))
        body->FixTTIErrors(geometryChanged);
    if (resurfaceMode > 0)
        body->ResurfaceBadSurfaces(geometryChanged);
    if (geometryChanged)
        body->FixTTIErrorsByVELMAPI();
    if (Ve_OptionDoc::isOn(Ve_OptionDoc::FixNullEdgeAtApex))
        Ve_PostProcessUtil(body).CheckAndFixNullEdgeAtApexProb();
}

} // namespace

void Ve_BodyTag::doStandardRepair()
{
    inTask("StandardRepairStart", "StandardRepairEnd", "StandardRepair", [&] { standardRepairSteps(this); });
}

int Ve_BodyTag::CheckContainmentOf()
{
    BODY* body = getDef();
    point_containment containment = pc_unknown;
    if (!body)
        return containment;
    QELbox box;
    const int kept = velmGuard([&] {
        const QELtransf* t = body->transform() ? &body->transform()->transform() : nullptr;
        box = get_body_box(body, t, 0);
    });
    if (kept != 0 || box.empty())
        return containment;
    // Off every axis-aligned plane through the box and beyond its high corner.
    const QELposition beyond(box.high().x() + 1.2345, box.high().y() + 2.3456, box.high().z() + 3.4567);
    velmCall([&] { return api_point_in_body(beyond, body, containment, 0); });
    return containment;
}

void Ve_BodyTag::CheckAndFixReverseBody()
{
    if (CheckContainmentOf() == pc_inside)
        velmCall([&] { return api_reverse_body(getDef()); });
}

void Ve_BodyTag::RemoveSliverFacesAndRedundantVertices()
{
    inTask("RemoveSliverFacesAndRedundantVerticesStart", "RemoveSliverFacesAndRedundantVerticesEnd",
           "RemoveSliverFaces", [&] {
               Ve_VertexUtil(getDef()).removeRedundantVertices();
               double tolerance =
                   Ve_OptionDoc::RemoveSliverTolerance ? Ve_OptionDoc::RemoveSliverTolerance->value() : 0.0;
               if (!(tolerance > 0.0))
                   tolerance = QELresabs;
               // The toolbox's removal fires its own "RemoveSliverFaces" task.
               Ve_PostProcessUtil(this).removeSliverFaces(tolerance, false);
           });
}

void Ve_BodyTag::TrimFaces()
{
    inTask("TrimFacesStart", "TrimFacesEnd", "TrimFaces", [&] {
        const QELXDynamicArray<Ve_FaceTag*> faces = getFaces();
        for (int i = 0; i < faces.Count(); ++i)
            faces[i]->trim();
    });
}

void Ve_BodyTag::SplitEdgesAtPoles()
{
    velmCall([&] { return api_split_edges_at_poles(getDef()); });
}

void Ve_BodyTag::CorrectPlanarFaceSense()
{
    inTask("CorrectPlanarFaceSenseStart", "CorrectPlanarFaceSenseEnd", "CorrectPlanarFaceSense", [&] {
        if (!Ve_OptionDoc::isOn(Ve_OptionDoc::RemoveSliver))
            return;
        Ve_PostProcessUtil util(this);
        const QELXDynamicArray<Ve_FaceTag*> faces = getFaces();
        for (int i = 0; i < faces.Count(); ++i)
            util.correctFaceSense(reinterpret_cast<FACE*>(faces[i]));
    });
}

void Ve_BodyTag::FixTTIErrorsByVELMAPI()
{
    inTask("FixTTIErrorsByVELMAPIStart", "FixTTIErrorsByVELMAPIEnd", "FixTTIErrorsByVELMAPI",
           [&] { velmInnerCall([&] { stch_check_and_fix_tedges_in_entity(getDef()); }); });
}

void Ve_BodyTag::ResurfaceBadSurfaces(bool& geometryChanged)
{
    ENTITY_LIST listed;
    velmCall([&] { return api_get_faces(getDef(), listed); });
    const std::vector<FACE*> faces = ve_repair::listed<FACE>(listed);
    if (faces.size() == 1) {
        int loops = 0;
        for (LOOP* l = faces[0]->loop(); l; l = l->next())
            ++loops;
        if (loops >= kResurfaceLoopLimit)
            return;
    }
    inTask("ResurfacingStart", "ResurfacingEnd", "Resurfacing", [&] { resurfaceFaces(faces, geometryChanged); });
}

