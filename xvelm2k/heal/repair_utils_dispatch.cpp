// Post-import healing: the choice of recipe, what the recipes share, and the
// two recipes that need nothing beyond the standard repair (Ps, Inventor).
#include <cstdlib>
#include <cstring>
#include <string>

#include "heal/heal_internal.hxx"
#include "heal/repair_utils_internal.hxx"
#include "heal/step_watch.hxx"
#include "model/document.hxx"
#include "qelx/qelx_events.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "repair/body_cleaner.hxx"
#include "repair/post_process_util.hxx"
#include "repair/small_edges_internal.hxx"
#include "repair/vertex_util.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"
#include "velm/topology_edit.hxx"
#include "velm/errors.hxx"
#include "velm/query.hxx"

namespace ve_recipes {

void repairEvent(int n)
{
    QELXStartTranslateRepairEvent::Fire("ToVelmRepair", "BRep", n);
}

std::string bodyLabel(int n) { return "body " + std::to_string(n); }

bool hasWire(Ve_BodyTag* body)
{
    BODY* b = kernelOf(body);
    if (!b)
        return false;
    if (b->wire())
        return true;
    for (LUMP* l = b->lump(); l; l = l->next())
        for (SHELL* s = l->shell(); s; s = s->next())
            if (s->wire())
                return true;
    return false;
}

bool hasNoFace(Ve_BodyTag* body)
{
    const BODY* b = kernelOf(body);
    for (const LUMP* l = b ? b->lump() : nullptr; l; l = l->next())
        for (const SHELL* s = l->shell(); s; s = s->next())
            if (s->face())
                return false;
    return true;
}

void removeSliverFaces(Ve_BodyTag* body, double tolerance)
{
    ve_heal::inTask("RemoveSliverFacesStart", "RemoveSliverFacesEnd", "RemoveSliverFaces",
                    [&] { Ve_BodyCleaner(body).removeSliverFaces(tolerance, false); });
}

void mergeDuplicateVertices(Ve_BodyTag* body)
{
    Ve_VertexUtil(kernelOf(body)).remDuplVerticesByChangeVertGeom();
}

bool isLive(Ve_BodyTag* body)
{
    return ve_repair::alive(reinterpret_cast<ENTITY*>(body));
}

void loseBody(Ve_BodyTag* body)
{
    Ve_DocumentTag::RemoveFromCache(body);
    const outcome gone = api_del_entity(kernelOf(body));
    if (!gone.ok())
        sys_error(gone.error_number(), gone.get_error_info());
}

void dropAndLose(QELXDynamicArray<Ve_BodyTag*>& list, int at, int& count, bool& dropped)
{
    Ve_BodyTag* body = list[at];
    list.RemoveAt(at);
    --count;
    dropped = true;
    loseBody(body);
}

void warnHealingStopped(const outcome& failure, const std::string& where)
{
    const char* why = message_module::find_message(failure.error_number());
    const std::string text = "Healing " + (where.empty() ? std::string("of a body") : where) +
                             " could not be done (" + (why ? why : "kernel error") +
                             "): the body's healing was undone and it is left as it came";
    QELXWarningEvent::Fire(text.c_str());
}

void warnStepSkipped(const outcome& failure, const char* step, const std::string& body)
{
    const char* why = message_module::find_message(failure.error_number());
    QELXWarningEvent::Fire(ve_heal::skippedStepText(body, step, why ? why : "kernel error").c_str());
}

void removeFacesWithoutSurface(Ve_BodyTag* body, bool alsoWithoutArea)
{
    const double r = QELresabs;
    for (Ve_FaceTag* view : body->getFaces()) {
        FACE* face = reinterpret_cast<FACE*>(view);
        if (!ve_repair::alive(face))
            continue;
        bool remove = face->geometry() == nullptr;
        if (!remove && alsoWithoutArea) {
            double area = 0.0;
            double achieved = 0.0;
            // A face of no area goes; one whose area comes out negative is
            // not thereby nothing (its loops or sense may be wrong, which the
            // checker reports), so the sign alone removes no face.
            if (api_ent_area(face, 0.001, area, achieved).ok())
                remove = std::abs(area) < r * r;
        }
        if (!remove)
            continue;
        BODY* alone = nullptr;
        if (api_unhook_face(face, alone).ok() && alone)
            api_delent(alone);
    }
}

void componentPass(const QELXDynamicArray<Ve_BodyTag*>& in, QELXDynamicArray<Ve_BodyTag*>& out)
{
    ENTITY_LIST l1;
    for (Ve_BodyTag* b : in)
        if (b)
            l1.add(reinterpret_cast<ENTITY*>(b));
    ENTITY_LIST l2;
    QELXVeRepairUtils::ve_separate_shells(l1, l2);
    for (int i = 0; i < l2.count(); ++i)
        if (l2[i])
            out.Add(reinterpret_cast<Ve_BodyTag*>(l2[i]));
}

SetWriteBack::~SetWriteBack()
{
    if (!m_set)
        return;
    QELXDynamicArray<Ve_BodyTag*> written;
    for (const QELXDynamicArray<Ve_BodyTag*>* list : {m_list, m_tail})
        if (list)
            written.Append(*list);
    m_set->setBodies(written);
}

} // namespace ve_recipes

using namespace ve_recipes;

namespace {

bool recipeSwitchOn(Gk_Option* option) { return Ve_OptionDoc::isOn(option); }

// The retired variable is only warned about: "1", "true" and "TRUE" count as set.
void warnOfRetiredVariable()
{
    const char* value = std::getenv("QEL_ExtendSplSurf");
    if (!value || (std::strcmp(value, "1") != 0 && std::strcmp(value, "true") != 0 && std::strcmp(value, "TRUE") != 0))
        return;
    QELXWarningEvent::Fire("The deprecated environment variable QEL_ExtendSplSurf has been omitted. Please use "
                           "'DoSplineResurface'  option or API to set spline resurface option instead\x94\n");
}

} // namespace

void QELXVeRepairUtils::postProcessHeal(Ve_CocoonTag* set)
{
    warnOfRetiredVariable();
    if (!set)
        return;
    using O = Ve_OptionDoc;
    using Recipe = void (*)(Ve_CocoonTag*);
    const struct {
        Gk_Option* option;
        Recipe recipe;
    } recipes[] = {
        {O::HealBodyPostProcessProE, &postProcessRepairProe},   {O::HealBodyPostProcessV4, &postProcessRepairV4},
        {O::HealBodyPostProcessV5, &postProcessRepairV5},       {O::HealBodyPostProcessUg, &postProcessRepairUg},
        {O::HealBodyPostProcessVda, &postProcessRepairVda},     {O::HealBodyPostProcessPs, &postProcessRepairPs},
        {O::HealBodyPostProcessStep, &PostProcessRepairStep},   {O::HealBodyPostProcessIges, &postProcessRepairIges},
        {O::HealBodyPostProcessIdeas, &postProcessRepairIdeas}, {O::HealBodyPostProcessInventor, &postProcessRepairInventor},
    };
    for (const auto& r : recipes)
        if (recipeSwitchOn(r.option)) {
            r.recipe(set);
            return;
        }
    set->repairBodies();
}

void QELXVeRepairUtils::postProcessHeal(Ve_BodyTag* body)
{
    if (body)
        healOneBody([&] { ve_heal::StepWatch(body, bodyLabel(1)).step("doStandardRepair", [&] { body->doStandardRepair(); }); });
}

void QELXVeRepairUtils::postProcessRepairPs(Ve_CocoonTag* set)
{
    const QELXDynamicArray<Ve_BodyTag*> bodies = set->getBodies();
    for (int i = 0; i < bodies.Count(); ++i) {
        if (bodies[i])
            healOneBody([&] { postProcessRepairPs(bodies[i], bodyLabel(i + 1)); });
        repairEvent(i + 1);
    }
}

void QELXVeRepairUtils::postProcessRepairPs(Ve_BodyTag* body, const std::string& label)
{
    if (!recipeSwitchOn(Ve_OptionDoc::HealBody))
        return;
    ve_heal::StepWatch watch(body, label);
    confinedStep(watch, label, "removeFacesWithoutSurface", [&] { removeFacesWithoutSurface(body, false); });
    watch.step("doStandardRepair", [&] { body->doStandardRepair(); });
    Ve_PostProcessUtil util(body);
    watch.step("removeSmallEdges", [&] { util.removeSmallEdges(5e-6, false); });
    watch.step("removeSliverFaces", [&] { removeSliverFaces(body, QELresabs); });
    watch.step("removeSmallTolerantEdges", [&] { Ve_BodyCleaner(body).removeSmallTolerantEdges(true); });
    watch.step("fixCurveCntrlPntCoincidence", [&] { util.fixCurveCntrlPntCoincidence(); });
    watch.step("fixSurfCntrlPntCoincidence", [&] { util.fixSurfCntrlPntCoincidence(); });
    watch.step("correctFaceSense", [&] {
        for (Ve_FaceTag* face : body->getFaces())
            if (ve_repair::alive(reinterpret_cast<FACE*>(face)) && face->getLoops().Count() == 1)
                util.correctFaceSense(reinterpret_cast<FACE*>(face));
    });
}

void QELXVeRepairUtils::postProcessRepairInventor(Ve_CocoonTag* set)
{
    if (!recipeSwitchOn(Ve_OptionDoc::TranslateAllStates)) {
        // Wire bodies leave the set; the model keeps them. A body with faces
        // stays whatever wires its shells also hold: its faces are model.
        QELXDynamicArray<Ve_BodyTag*> kept;
        for (Ve_BodyTag* b : set->getBodies())
            if (!hasWire(b) || !hasNoFace(b))
                kept.Add(b);
        set->setBodies(kept);
    }
    const QELXDynamicArray<Ve_BodyTag*> bodies = set->getBodies();
    for (int i = 0; i < bodies.Count(); ++i)
        if (Ve_BodyTag* b = bodies[i])
            healOneBody([&] {
                ve_heal::StepWatch(b, bodyLabel(i + 1)).step("doStandardRepair", [&] { b->doStandardRepair(); });
            });
}
