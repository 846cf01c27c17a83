// Post-import processing of a document: the optional check of its solids and
// the healing stage.
#include "heal/repair_utils.hxx"
#include "model/document.hxx"
#include "model/kernel_call_bracket.hxx"
#include "model/memory_init.hxx"
#include "persist/ve_assembly.hxx"
#include "persist/ve_part.hxx"
#include "qelx/qelx_errors.hxx"
#include "qelx/qelx_events.hxx"
#include "qelx_velm/velm_document.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "velm/insanity.hxx"
#include "velm/lists.hxx"

namespace {

// The assembly import heals every body once at its end instead.
bool healingDeferred(const QELXVelmDocument* base)
{
    const QELXConverter* context = base ? base->GetTranslationContext() : nullptr;
    return context && context->GetAssemblyContext() &&
           Ve_OptionDoc::isOn(Ve_OptionDoc::HealAssemBodiesAfterCompleteTranslation);
}

// Every assembly of the document and below it, once each.
QELXDynamicArray<Ve_AssemblyTag*> postProcessAssemblies(const QELXDynamicArray<Ve_AssemblyTag*>& roots)
{
    QELXDynamicArray<Ve_AssemblyTag*> all;
    for (Ve_AssemblyTag* root : roots)
        if (root && all.AddUnique(root))
            root->fetchReferredCmpnts(all);
    return all;
}

// A part and the assembly that holds it, taken before healing.
struct HealedPlacement {
    VE_ASSEMBLY* assembly;
    VE_PART* part;
    Ve_BodyTag* body;
};

QELXDynamicArray<HealedPlacement> healedPlacementsOf(const QELXDynamicArray<Ve_AssemblyTag*>& assemblies)
{
    QELXDynamicArray<HealedPlacement> out;
    for (Ve_AssemblyTag* assembly : assemblies)
        for (int i = 0, n = assembly->getNumberOfPlacements(); i < n; ++i)
            if (Ve_PartTag* part = assembly->getPlacement(i))
                out.Add({reinterpret_cast<VE_ASSEMBLY*>(assembly), reinterpret_cast<VE_PART*>(part), part->getSolid()});
    return out;
}

// The part now places the first body its body became; further bodies get
// parts of their own with the same placement. A body that became nothing
// leaves its part without a body rather than pointing at a deleted one.
void writeBackPlacement(const HealedPlacement& placement, const QELXHashMap<Ve_BodyTag*, QELXDynamicArray<Ve_BodyTag*>>& became)
{
    QELXDynamicArray<Ve_BodyTag*> result;
    if (!placement.body || !became.Get(placement.body, result) ||
        (result.Count() == 1 && result[0] == placement.body))
        return;
    VE_PART* part = placement.part;
    velmCall([&] {
        part->setSolid(result.Count() > 0 ? reinterpret_cast<BODY*>(result[0]) : nullptr);
        for (int k = 1; k < result.Count(); ++k)
            placement.assembly->appendPart(
                velm_require(VELM_NEW VE_PART(reinterpret_cast<BODY*>(result[k]), part->getTransformation())));
    });
}

} // namespace

QELIResult Ve_DocumentTag::Validate(bool)
{
    const QELXDynamicArray<Ve_BodyTag*> solids = GetSolids();
    int bad = 0;
    for (Ve_BodyTag* body : solids) {
        if (!body) {
            ++bad;
            continue;
        }
        ENTITY_LIST insane;
        const outcome checked = api_check_entity(reinterpret_cast<ENTITY*>(body), &insane, nullptr, nullptr);
        Gk_ErrMgr::checkAbort();
        if (!checked.ok())
            Gk_ErrMgr::doAssert("ve_doctag", __LINE__);
        if (insane.iteration_count() != 0)
            ++bad;
    }
    QELXConversionSummaryEvent::Fire(solids.Count(), solids.Count() - bad, QELXString("XVelm"));
    return 0;
}

QELIResult Ve_DocumentTag::PostProcess()
{
    if (Ve_OptionDoc::isOn(Ve_OptionDoc::CheckBody))
        Validate(false);
    QELXStartConversionStageEvent stage("ToVelmRepair", m_solids.Count(), 0.4, true);
    QELXEventBus::Fire(stage);
    if (Ve_OptionDoc::isOn(Ve_OptionDoc::HealBody) && !healingDeferred(m_baseDoc)) {
        const QELXDynamicArray<Ve_AssemblyTag*> assemblies = postProcessAssemblies(m_assemblies);
        QELXDynamicArray<Ve_BodyTag*> placed;
        for (Ve_AssemblyTag* assembly : assemblies)
            assembly->fetchReferredBodies(placed);
        const QELXDynamicArray<HealedPlacement> placements = healedPlacementsOf(assemblies);
        QELXHashList<Ve_BodyTag*> isPlaced;
        for (Ve_BodyTag* b : placed)
            isPlaced.Add(b);

        // The solids no part places are healed together, as one set.
        QELXDynamicArray<Ve_BodyTag*> loose;
        for (Ve_BodyTag* b : m_solids)
            if (!b || !isPlaced.Contains(b))
                loose.Add(b);
        Ve_CocoonTag set(loose);
        QELXVeRepairUtils::postProcessHeal(&set);
        QELXDynamicArray<Ve_BodyTag*> solids = set.getBodies();

        // A placed body is healed alone, so that what it became is known.
        QELXHashMap<Ve_BodyTag*, QELXDynamicArray<Ve_BodyTag*>> became;
        for (Ve_BodyTag* b : placed) {
            Ve_CocoonTag one;
            one.appendBody(b);
            velmCall([&] { QELXVeRepairUtils::postProcessHeal(&one); });
            became.Add(b, one.getBodies());
        }
        for (Ve_BodyTag* b : m_solids) {
            QELXDynamicArray<Ve_BodyTag*> result;
            if (b && isPlaced.Contains(b) && became.Get(b, result))
                solids.Append(result);
        }
        m_solids = solids;
        for (const HealedPlacement& placement : placements)
            writeBackPlacement(placement, became);
    }
    stage.SetFinished();
    QELXEventBus::Fire(stage);
    return 0;
}
