// After the import: the document tag heals what was made, point bodies become
// free vertices when asked, point sets are grouped, the source unit is stamped
// on the results, and everything is handed to the framework's kernel
// document, which the summary then counts.
#include "import/brep_importer.hxx"

#include <memory>
#include <string>
#include <vector>

#include "heal/repair_utils.hxx"
#include "heal/step_watch.hxx"
#include "model/document.hxx"
#include "model/entity_views.hxx"
#include "model/kernel_call_bracket.hxx"
#include "qelx/qelx_brep_exporter.hxx"
#include "qelx/qelx_events.hxx"
#include "qelx_velm/sending_unit.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "qelx_velm/velm_document.hxx"
#include "velm/attrib.hxx"
#include "velm/groups.hxx"
#include "velm/insanity.hxx"
#include "velm/memory.hxx"
#include "velm/topology.hxx"

namespace {

bool hasNamedAttribute(const ENTITY* entity, const char* name)
{
    ATTRIB_GEN_NAME* found = nullptr;
    return api_find_named_attribute(entity, name, found).ok() && found;
}

bool bodyHasWire(const BODY* body)
{
    if (body->wire())
        return true;
    for (const LUMP* l = body->lump(); l; l = l->next())
        for (const SHELL* s = l->shell(); s; s = s->next())
            if (s->wire())
                return true;
    return false;
}

int facesOfShell(const SHELL* shell)
{
    int n = 0;
    for (const FACE* f = shell ? shell->face() : nullptr; f && n < 2; f = f->next())
        ++n;
    return n;
}

} // namespace

QELIResult QELXVelmBRepImporter::PostImport()
{
    // Let go of on the way out: what the import checked is healed and checked now.
    const std::unique_ptr<check_geometry_memo> checks = std::move(m_checks);
    if (!m_document)
        return QELI_FAIL;
    QELIResult result = m_document->PostProcess();
    QELXVelmDocument* base = m_document->GetBaseDoc();
    const QELXConverter* converter = base ? base->GetTranslationContext() : nullptr;
    const bool healedLater = converter && converter->GetAssemblyContext() &&
                             Ve_OptionDoc::isOn(Ve_OptionDoc::HealAssemBodiesAfterCompleteTranslation);
    if (Ve_OptionDoc::isOn(Ve_OptionDoc::HealBody) && !healedLater) {
        std::vector<BODY*> healed;
        for (Ve_BodyTag* b : m_document->GetSolids())
            healed.push_back(reinterpret_cast<BODY*>(b));
        ve_heal::warnUnsoundHealedBodies(healed);
    }
    if (!base)
        return result;
    result = QELI_OK;

    const bool acornAsVertex = Ve_OptionDoc::isOn(Ve_OptionDoc::OutputAcornBodyAsVERTEX);
    const bool psetKept = Ve_OptionDoc::isOff(Ve_OptionDoc::PsetToPolyline);
    ENTITY_LIST handOver;
    // The solids that stay bodies, in order: a replaced body leaves them
    // (gathered once, so that many point bodies cost no more than few).
    ENTITY_LIST kept;
    const QELXDynamicArray<Ve_BodyTag*> solids = m_document->GetSolids();
    for (Ve_BodyTag* view : solids) {
        auto* body = reinterpret_cast<BODY*>(view);
        if (!body)
            continue;
        VERTEX* old = nullptr;
        if (acornAsVertex && view->isVertexBody())
            old = reinterpret_cast<VERTEX*>(view->getDotVertexAt(0));
        if (old && psetKept && (hasNamedAttribute(body, "PSET") || hasNamedAttribute(body, "MDI")))
            old = nullptr;
        VERTEX* made = nullptr;
        if (old) {
            const QELXPoint3D p = reinterpret_cast<Ve_VertexTag*>(old)->getPoint();
            const outcome replaced = velmCall([&] {
                VERTEX* v = velm_require(VELM_NEW VERTEX(velm_require(VELM_NEW APOINT(p[0], p[1], p[2]))));
                copy_attrib(old, v);
                // What the vertex says of itself wins over what its body says.
                for (const char* name : {"ATTRIB_XVELM_NAME", "ATTRIB_XVELM_ID", "ATTRIB_XVELM_LAYER",
                                         "ATTRIB_XVELM_SHOW", "ATTRIB_XVELM_ALIAS"})
                    if (hasNamedAttribute(v, name))
                        api_remove_generic_named_attribute(body, name);
                if (find_attrib(v, ATTRIB_ST_TYPE, ATTRIB_RGB_TYPE))
                    if (ATTRIB* colour = find_attrib(body, ATTRIB_ST_TYPE, ATTRIB_RGB_TYPE))
                        colour->lose();
                copy_attrib(body, v);
                made = v;
            });
            if (!replaced.ok())
                made = nullptr;
        }
        if (!made) {
            // Kept as a body: asked to, or its vertex could not be made (the
            // point is never lost).
            handOver.add(body);
            kept.add(body);
            continue;
        }
        QELXEndTranslateEntityEvent::Fire(
            QELI_OK, QELXIdentifier(old, QELXBRepExporter::QELXBRepTypeVertex, nullptr, "VERTEX"),
            QELXIdentifier(made, QELXBRepExporter::QELXBRepTypeVertex, nullptr, "VERTEX"));
        QELXEndTranslateEntityEvent::Fire(QELI_OK,
                                          QELXIdentifier(body, QELXBRepExporter::QELXBRepTypeBody, nullptr, "BODY"),
                                          QELXIdentifier(made, QELXBRepExporter::QELXBRepTypeVertex, nullptr, "VERTEX"));
        handOver.add(made);
        m_replacedBodies.add(body);
    }
    if (kept.count() != solids.Count()) {
        m_document->ClearBodies(false);
        m_document->appendSolids(kept);
    }

    if (psetKept) {
        const int before = handOver.count();
        QELXVeRepairUtils::groupPSET(handOver);
        // The groups hold the points as free vertices, which the document must
        // be given too: a group's members are not its to keep.
        for (int i = before, n = handOver.count(); i < n; ++i)
            if (ENTITY* e = handOver[i]; e && is_QELGROUP(e)) {
                const ENTITY_LIST& members = static_cast<QELGROUP*>(e)->members();
                for (int k = 0; k < members.count(); ++k)
                    if (ENTITY* m = members[k]; m && is_VERTEX(m))
                        handOver.add(m);
            }
        // Grouping deletes the point bodies it turned into vertices; the
        // document's solids must not name them any more.
        ENTITY_LIST live;
        bool gone = false;
        for (Ve_BodyTag* b : m_document->GetSolids())
            if (auto* solid = reinterpret_cast<ENTITY*>(b); solid && velm_is_live_entity(solid))
                live.add(solid);
            else
                gone = true;
        if (gone) {
            m_document->ClearBodies(false);
            m_document->appendSolids(live);
        }
    }

    if (Ve_OptionDoc::isOn(Ve_OptionDoc::AttachSrcFileUnitAsAttrib)) {
        QELXUnit unit = QELX_UNIT_UNSPECIFIED;
        double factor = -1.0;
        if (get_sending_system_unit(unit) == QELI_OK && GetUnitScaleFactor(unit, factor) == QELI_OK)
            for (int i = 0, n = handOver.count(); i < n; ++i) {
                ENTITY* e = handOver[i];
                if (e && (is_BODY(e) || is_VERTEX(e)))
                    velmCall([&] {
                        velm_require(VELM_NEW ATTRIB_GEN_REAL(e, "ATTRIB_XVELM_CONVFACT", factor, split_copy,
                                                              merge_keep_survivor, trans_apply, copy_copy));
                    });
            }
    }

    if (m_layerImporter)
        for (QELGROUP* layer : m_layerImporter->GetLayers())
            handOver.add(reinterpret_cast<ENTITY*>(layer));
    for (QELGROUP* layer : m_document->GetLayers())
        handOver.add(reinterpret_cast<ENTITY*>(layer));
    for (QELGROUP* filter : m_document->GetLayerFilters())
        handOver.add(reinterpret_cast<ENTITY*>(filter));
    base->AppendNativeEntityList(handOver);
    m_handedOver = true;

    if (Ve_OptionDoc::isOn(Ve_OptionDoc::HealBodyPostProcessV5))
        QELXVeRepairUtils::MakeQELXVelmProductDataCallback(base, false);
    FillSummary();
    return result;
}

void QELXVelmBRepImporter::FillSummary()
{
    QELXVelmDocument* base = m_document ? m_document->GetBaseDoc() : nullptr;
    if (!base)
        return;
    const ENTITY_LIST* native = base->GetNativeEntityList();
    int solids = 0, sheets = 0, wires = 0, acorns = 0, freeSurfaces = 0, freeCurves = 0, freePoints = 0;
    for (int i = 0, n = native ? native->count() : 0; i < n; ++i) {
        const ENTITY* e = (*native)[i];
        if (!e)
            continue;
        if (!is_BODY(e)) {
            if (is_FACE(e))
                ++sheets;
            else if (is_WIRE(e) || is_EDGE(e))
                ++wires;
            else if (is_VERTEX(e))
                ++acorns;
            continue;
        }
        const auto* body = static_cast<const BODY*>(e);
        if (hasNamedAttribute(body, "QELATRIB_FREE_SURFACE"))
            ++freeSurfaces;
        else if (hasNamedAttribute(body, "QELATRIB_FREE_CURVE"))
            ++freeCurves;
        else if (hasNamedAttribute(body, "QELATRIB_FREE_POINT"))
            ++freePoints;
        const SHELL* first = body->lump() ? body->lump()->shell() : nullptr;
        // A first shell of one face counts as a solid body too: "Sheet
        // Bodies" counts the loose faces of the list.
        if (facesOfShell(first) > 0)
            ++solids;
        else if (bodyHasWire(body))
            ++wires;
        else if (reinterpret_cast<const Ve_BodyTag*>(body)->isVertexBody())
            ++acorns;
    }

    QELXDefaultImporterSummary* summary = nullptr;
    GetSummary(summary);
    if (!summary) {
        InitializeQELXImporterSummary();
        if (GetSummary(summary) != QELI_OK || !summary)
            return;
    }
    summary->AddItem("Mixed Bodies", 0);
    summary->AddItem("Solid Bodies", solids);
    summary->AddItem("Sheet Bodies", sheets);
    summary->AddItem("Wire Bodies", wires);
    summary->AddItem("Acorn Bodies", acorns);
    summary->AddItem("Free Surfaces", freeSurfaces);
    summary->AddItem("Free Curves", freeCurves);
    summary->AddItem("Free Points", freePoints);
}
