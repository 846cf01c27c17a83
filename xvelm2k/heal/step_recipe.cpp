// The STEP recipe of the post-import healing.
#include "heal/repair_utils.hxx"
#include "heal/repair_utils_internal.hxx"
#include "heal/step_healer.hxx"
#include "model/body_set.hxx"
#include "model/kernel_call_bracket.hxx"
#include "qelx/qelx_events.hxx"

void QELXVeRepairUtils::PostProcessRepairStep(Ve_CocoonTag* set)
{
    if (!set)
        return;
    QELXDynamicArray<Ve_BodyTag*> healed;
    const QELXDynamicArray<Ve_BodyTag*> bodies = set->getBodies();
    for (int i = 0; i < bodies.Count(); ++i) {
        QELXDynamicArray<Ve_BodyTag*> replacements;
        // A kernel error that no step of the healer confines to itself
        // undoes this body's healing (the bodies made on the way go with
        // it) and is said naming the body and the step; the body then
        // stands for itself.
        int handled = 0;
        if (!ve_recipes::healOneBody([&] {
                handled =
                    QELXStepVelmHealer::xstep_heal_body(bodies[i], replacements, true, ve_recipes::bodyLabel(i + 1));
            }))
            replacements.Clear();
        if (handled == 0 || replacements.Count() == 0)
            replacements.Add(bodies[i]);
        for (int k = 0; k < replacements.Count(); ++k)
            healed.Add(replacements[k]);
        QELXStartTranslateRepairEvent::Fire("ToVelmRepair", "BRep", i);
    }
    set->setBodies(healed);
}
