// The Ug, VDA and IGES recipes and the wire and surface operations they share.
#include <cmath>
#include <initializer_list>
#include <memory>

#include "heal/heal_internal.hxx"
#include "heal/repair_utils_internal.hxx"
#include "heal/step_watch.hxx"
#include "loops/loop_repair.hxx"
#include "loops/repair_loops.hxx"
#include "model/kernel_call_bracket.hxx"
#include "qelx/qelx_math.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "repair/body_cleaner.hxx"
#include "repair/post_process_util.hxx"
#include "repair/small_edges_internal.hxx"
#include "repair/vertex_util.hxx"
#include "velm/check.hxx"
#include "velm/geometry.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/pcurves.hxx"
#include "velm/query.hxx"
#include "velm/split.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

using namespace ve_recipes;

namespace {

constexpr const char* kRecipeSurfaceCheck = "SplineSurfaceCheck";

// The first shell of the first lump has exactly one face.
bool isOneFaceShell(Ve_BodyTag* body)
{
    const BODY* b = kernelOf(body);
    const LUMP* lump = b ? b->lump() : nullptr;
    const SHELL* shell = lump ? lump->shell() : nullptr;
    return shell && shell->face() && !shell->face()->next();
}

// The loop repair of a one-face body; the bodies it split off are appended.
void repairOneFaceLoops(Ve_BodyTag* body, QELXDynamicArray<Ve_BodyTag*>& walk)
{
    QELXVelmLoopRepair loops(kernelOf(body));
    loops.Repair();
    walk.Append(loops.getBodies());
}

void classifyAndRepairLoops(Ve_BodyTag* body)
{
    Ve_RepairLoops loops(body);
    if (!loops.canBeRepaired())
        return;
    Ve_FaceRepairInput input;
    loops.classify(input);
    loops.repair(input);
}

void dropMadeAfterSources(QELXDynamicArray<Ve_BodyTag*>& list, int count)
{
    while (list.Count() > count)
        list.RemoveAt(list.Count() - 1);
}

bool liveRecipeFace(Ve_FaceTag* face) { return ve_repair::alive(reinterpret_cast<ENTITY*>(face)); }
FACE* recipeKernelFace(Ve_FaceTag* face) { return reinterpret_cast<FACE*>(face); }

} // namespace

// The first status a guarded check of the surface reports for the wanted
// statuses, between its task events: -1 when it finds none, -2 when the
// check itself failed.
int ve_heal::firstSurfaceStatus(const surface& equation, std::initializer_list<int> statuses)
{
    int first = -1;
    ve_heal::inTask(kRecipeSurfaceCheck, kRecipeSurfaceCheck, kRecipeSurfaceCheck, [&] {
        const int failed = velmGuard([&] {
            check_status_list* wanted = nullptr;
            for (int s : statuses)
                wanted = add_status(wanted, s);
            const std::unique_ptr<check_status_list> wantedOwner(wanted);
            check_fix input;
            input.tol1 = QELresfit;
            check_fix result;
            const std::unique_ptr<check_status_list> found(
                d3_sf_check(const_cast<surface&>(equation), input, result, wanted));
            first = found ? found->status() : -1;
        });
        if (failed)
            first = -2;
    });
    return first;
}

void QELXVeRepairUtils::splitWireBody(Ve_BodyTag* body, bool mergeVertices)
{
    if (hasWire(body))
        for (Ve_EdgeTag* edge : body->getWireEdges()) {
            // A point's edge has no curve and so nothing to split at; the
            // kernel would refuse the call, and the step watch would take
            // that for a failure of the heal.
            const CURVE* curve = reinterpret_cast<EDGE*>(edge)->geometry();
            if (!curve || !curve->has_equation())
                continue;
            ENTITY_LIST pieces;
            api_split_edge_at_disc(reinterpret_cast<EDGE*>(edge), pieces, 1);
        }
    if (mergeVertices)
        mergeDuplicateVertices(body);
}

bool QELXVeRepairUtils::isWireSmall(Ve_BodyTag* body)
{
    if (!hasWire(body) || body->getNumberOfWireEdges() != 1)
        return false;
    const EDGE* edge = reinterpret_cast<const EDGE*>(body->getWireEdgeAt(0));
    return edge && Gk_Func::lesseq(edge->length(true), Gk_Def::FuzzPos);
}

void QELXVeRepairUtils::subsetSurfacesIfSingular(Ve_BodyTag* body)
{
    ENTITY_LIST faces;
    raiseFailure(api_get_faces(kernelOf(body), faces));
    for (int i = 0; i < faces.count(); ++i) {
        FACE* face = static_cast<FACE*>(faces[i]);
        if (!face || !is_spline_face(face))
            continue;
        if (ve_heal::firstSurfaceStatus(face->geometry()->equation(), {status_self_intersecting, status_singular}) !=
            status_singular)
            continue;
        QELpar_box box;
        bool boxed = false;
        velmCall([&] { boxed = sg_get_face_par_box(face, box); });
        if (!boxed)
            continue;
        velmCall([&] {
            const auto* equation = static_cast<const spline*>(&face->geometry()->equation());
            std::unique_ptr<spline> cut(equation->subset(box));
            if (cut)
                face->set_geometry(make_surface(*cut));
        });
    }
}

bool QELXVeRepairUtils::isSurfValid(const surface& equation)
{
    const int irregular = ve_heal::firstSurfaceStatus(equation, {status_irregular});
    if (irregular == -2 || irregular == status_irregular)
        return false;
    const int crossing = ve_heal::firstSurfaceStatus(equation, {status_self_intersecting});
    return crossing != -2 && crossing != status_self_intersecting;
}

void QELXVeRepairUtils::postProcessRepairUg(Ve_CocoonTag* set)
{
    const QELXDynamicArray<Ve_BodyTag*> bodies = set->getBodies();
    // The result starts as the whole working list and loses entries as the
    // walk drops them, so that the set is whole on every way out.
    QELXDynamicArray<Ve_BodyTag*> result = bodies;
    SetWriteBack writeBack(set, result);
    for (int i = 0, at = 0; i < bodies.Count(); ++i) {
        Ve_BodyTag* body = bodies[i];
        if (!body) {
            result.RemoveAt(at);
            repairEvent(i + 1);
            continue;
        }
        if (body->isVertexBody()) {
            ++at;
            repairEvent(i + 1);
            continue;
        }
        bool lost = false;
        int kept = result.Count();
        const bool healed = healOneBody([&] {
            ve_heal::StepWatch watch(body, bodyLabel(i + 1));
            if (hasWire(body))
                watch.step("splitWireBody", [&] { splitWireBody(body, false); });
            Ve_PostProcessUtil util(body);
            watch.step("fixCurveForms", [&] { util.fixCurveForms(); });
            watch.step("removeSmallEdges", [&] { util.removeSmallEdges(5.0 * Gk_Def::FuzzPos, true); });
            watch.step("doStandardRepair", [&] { body->doStandardRepair(); });
            watch.step("removeSmallTolerantEdges", [&] { Ve_BodyCleaner(body).removeSmallTolerantEdges(true); });
            watch.step("removeSliverFaces", [&] { removeSliverFaces(body, QELresabs); });
            watch.step("removeFacesWithoutArea", [&] { removeFacesWithoutSurface(body, true); });
            if (hasWire(body))
                watch.step("remDuplVerticesByReplaceVert", [&] { body->remDuplVerticesByReplaceVert(); });
            if (hasNoFace(body) && !hasWire(body))
                dropAndLose(result, at, kept, lost);
        });
        if (lost && !healed)
            result.InsertAt(at, body); // revived by the failed bracket
        if (lost && healed)
            continue;
        ++at;
        repairEvent(i + 1);
    }
}

void QELXVeRepairUtils::postProcessRepairVda(Ve_CocoonTag* set)
{
    QELXDynamicArray<Ve_BodyTag*> walk = set->getBodies();
    SetWriteBack writeBack(set, walk);
    for (int i = 0; i < walk.Count();) {
        Ve_BodyTag* body = walk[i];
        if (!body || body->isVertexBody()) {
            repairEvent(++i);
            continue;
        }
        if (hasWire(body) && isWireSmall(body)) {
            int count = walk.Count();
            bool dropped = false;
            if (healOneBody([&] { dropAndLose(walk, i, count, dropped); }))
                continue;
            if (dropped)
                walk.InsertAt(i, body);
        }
        int before = walk.Count();
        bool lost = false;
        const bool healed = healOneBody([&] {
            ve_heal::StepWatch watch(body, bodyLabel(i + 1));
            if (hasWire(body))
                watch.step("splitWireBody", [&] { splitWireBody(body, true); });
            const bool geometry = Ve_OptionDoc::isOn(Ve_OptionDoc::RepairGeometry);
            Ve_PostProcessUtil util(body);
            if (geometry) {
                watch.step("fixCurveForms", [&] { util.fixCurveForms(); });
                if (!hasWire(body)) {
                    watch.step("fixSurfaceForms", [&] { util.fixSurfaceForms(); });
                    watch.step("removeSmallEdges", [&] { util.removeSmallEdges(5.0 * Gk_Def::FuzzPos, true); });
                }
            }
            watch.step("doStandardRepair", [&] { body->doStandardRepair(); });
            const bool oneFace = isOneFaceShell(body);
            if (oneFace) {
                const int listed = walk.Count();
                if (!watch.step("QELXVelmLoopRepair", [&] { repairOneFaceLoops(body, walk); }))
                    dropMadeAfterSources(walk, listed);
                watch.step("fixLeftOverCurveSelfIntTrim", [&] { util.fixLeftOverCurveSelfIntTrim(); });
                watch.step("remDuplVerticesByChangeVertGeom",
                           [&] { Ve_VertexUtil(kernelOf(body)).remDuplVerticesByChangeVertGeom(); });
            }
            int edges = body->getNumberOfEdges();
            if (geometry && !hasWire(body)) {
                Ve_BodyCleaner cleaner(body);
                watch.step("removeSmallTolerantEdges", [&] { cleaner.removeSmallTolerantEdges(true); });
                for (int now = body->getNumberOfEdges(); now < edges; now = body->getNumberOfEdges()) {
                    edges = now;
                    watch.step("removeSmallTolerantEdges", [&] { cleaner.removeSmallTolerantEdges(true); });
                }
            }
            if (oneFace) {
                watch.step("removeSliverFaces", [&] { removeSliverFaces(body, 1.5e-5); });
                if (hasNoFace(body)) {
                    dropAndLose(walk, i, before, lost);
                    return;
                }
            }
            watch.step("subsetSurfacesIfSingular", [&] { subsetSurfacesIfSingular(body); });
            ENTITY_LIST faces;
            raiseFailure(api_get_faces(kernelOf(body), faces));
            ENTITY_LIST loops;
            if (faces.count() == 1)
                raiseFailure(api_get_loops(faces[0], loops));
            if (faces.count() == 1 && loops.count() == 1) {
                // The counts start at zero: a check that fails before writing
                // them leaves no chance value to decide on.
                int counts[5] = {0, 0, 0, 0, 0};
                const outcome checked = api_check_face_loops(static_cast<FACE*>(faces[0]), counts);
                if (!checked.ok() && counts[1] == 1)
                    watch.step("removeSmallEdges", [&] { util.removeSmallEdges(5e-5, true); });
            }
        });
        if (!healed) {
            if (lost)
                walk.InsertAt(i, body);
            dropMadeAfterSources(walk, before + (lost ? 1 : 0));
        } else if (lost) {
            continue;
        }
        repairEvent(++i);
    }
}

void QELXVeRepairUtils::postProcessRepairIges(Ve_CocoonTag* set)
{
    QELXDynamicArray<Ve_BodyTag*> walk = set->getBodies();
    const int entered = walk.Count();
    if (!Ve_OptionDoc::isOn(Ve_OptionDoc::HealBody)) {
        for (int i = 0; i < entered; ++i)
            repairEvent(i + 1);
        return;
    }
    // A dropped body leaves the list before it leaves the kernel: once lost
    // its address may be a new entity's, so nothing may judge it by that.
    SetWriteBack writeBack(set, walk);
    for (int i = 0, position = 0; i < walk.Count(); ++i, ++position) {
        Ve_BodyTag* body = walk[i];
        if (!body)
            continue;
        int before = walk.Count();
        bool lost = false;
        const bool healed = healOneBody([&] {
            ve_heal::StepWatch watch(body, bodyLabel(position + 1));
            const bool wire = hasWire(body);
            const bool oneFace = isOneFaceShell(body);
            if (wire)
                watch.step("splitWireBody", [&] { splitWireBody(body, false); });
            Ve_PostProcessUtil util(body);
            watch.step("fixCurveForms", [&] { util.fixCurveForms(); });
            if (!wire) {
                watch.step("fixSurfaceForms", [&] { util.fixSurfaceForms(); });
                watch.step("removeSmallEdges", [&] { util.removeSmallEdges(5.0 * Gk_Def::FuzzPos, true); });
            }
            watch.step("doStandardRepair", [&] { body->doStandardRepair(); });
            Ve_BodyCleaner cleaner(body);
            if (!wire) {
                watch.step("removeSmallTolerantEdges", [&] { cleaner.removeSmallTolerantEdges(true); });
                const int listed = walk.Count();
                if (oneFace) {
                    if (!watch.step("QELXVelmLoopRepair", [&] { repairOneFaceLoops(body, walk); }))
                        dropMadeAfterSources(walk, listed);
                } else {
                    watch.step("Ve_RepairLoops", [&] { classifyAndRepairLoops(body); });
                }
                watch.step("trim_face", [&] {
                    for (Ve_FaceTag* view : body->getFaces()) {
                        FACE* face = recipeKernelFace(view);
                        if (!liveRecipeFace(view) || !face->geometry() || !face->geometry()->has_equation())
                            continue;
                        const surface& equation = face->geometry()->equation();
                        if (equation.periodic_u() || equation.periodic_v())
                            continue;
                        velmCall([&] { trim_face(face, isSurfValid(equation) ? nullptr : "none"); });
                    }
                });
            }
            if (oneFace)
                watch.step("remDuplVerticesByChangeVertGeom",
                           [&] { Ve_VertexUtil(kernelOf(body)).remDuplVerticesByChangeVertGeom(); });
            watch.step("removeSingleVertexSmallLinearEdges",
                       [&] { cleaner.removeSingleVertexSmallLinearEdges(5.0 * Gk_Def::FuzzPos); });
            if (wire) {
                watch.step("fixfreeCurveIrregularity", [&] { util.fixfreeCurveIrregularity(); });
                watch.step("fixfreeCurveSelfInterxn", [&] { util.fixfreeCurveSelfInterxn(); });
            }
            watch.step("fixCurveCntrlPntCoincidence", [&] { util.fixCurveCntrlPntCoincidence(); });
            watch.step("fixSurfCntrlPntCoincidence", [&] { util.fixSurfCntrlPntCoincidence(); });
            watch.step("correctLoopSense", [&] {
                for (Ve_FaceTag* face : body->getFaces())
                    if (liveRecipeFace(face) && face->getLoops().Count() == 1)
                        util.correctLoopSense(recipeKernelFace(face));
            });
            if (oneFace && !Ve_OptionDoc::isOn(Ve_OptionDoc::AcceptBadData)) {
                for (Ve_FaceTag* face : body->getFaces())
                    if (liveRecipeFace(face))
                        cleaner.removeBadUVFace(recipeKernelFace(face));
                if (hasNoFace(body)) {
                    dropAndLose(walk, i, before, lost);
                    return;
                }
            }
            watch.step("subsetSurfacesIfSingular", [&] { subsetSurfacesIfSingular(body); });
            watch.step("fixLeftOverCurveIrreg", [&] { util.fixLeftOverCurveIrreg(); });
            watch.step("fixLeftOverCurveSelfInt", [&] { util.fixLeftOverCurveSelfInt(); });
        });
        if (!healed) {
            // The failed bracket revived a body it lost: back in its place.
            if (lost)
                walk.InsertAt(i, body);
            dropMadeAfterSources(walk, before + (lost ? 1 : 0));
        } else if (lost) {
            --i;
            continue;
        }
        if (position < entered)
            repairEvent(position + 1);
    }
}
