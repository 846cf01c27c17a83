#include "model/memory_init.hxx"
#include "trim/trim_import_context.hxx"

#include "trim/trim_face_cntl.hxx"
#include "trim/trim_internal.hxx"
#include "qelx_velm/ve_option_doc.hxx"

Ve_TrimImportContext::Ve_TrimImportContext(Ve_SurfaceTag* surface, const Gk_BiLinMap& map,
                                           Gk_SurfApproxInfoHandle approx, Gk_ImportContext* context, bool prefPCurve)
    : m_prefPCurve(prefPCurve), m_map(map), m_approx(std::move(approx)), m_surface(surface), m_context(context)
{
}

const QELXMorph3D& Ve_TrimImportContext::getDesMorph() const
{
    static const QELXMorph3D identity;
    return m_context ? m_context->GetMorph() : identity;
}

// ---- the curve-to-source-edge map

bool trimEdgeBitSet(const Gk_Option* option) { return option && (option->count() & 2) != 0; }

bool trimEdgeAttributesWanted()
{
    // The map is filled whenever an edge would read it, so that the PID or
    // PName alone reach the edges too.
    return Ve_OptionDoc::isOn(Ve_OptionDoc::TransferAttribute) || trimEdgeBitSet(Ve_OptionDoc::TransferAttributePID) ||
           trimEdgeBitSet(Ve_OptionDoc::TransferAttributePName);
}

void trimCurveMapInsert(CURVE* curve, const QELXIdentifier& edge)
{
    // Add grows the table to twice its capacity first when the entry would
    // pass the load factor; a key already present keeps its entry.
    Ve_TrimFaceCntl::_velmCurveSourceEdgeMap.Add(curve, edge);
}

bool trimCurveMapFind(CURVE* curve, QELXIdentifier& edge)
{
    return curve && Ve_TrimFaceCntl::_velmCurveSourceEdgeMap.Get(curve, edge);
}

void trimCurveMapErase(CURVE* curve)
{
    if (curve)
        Ve_TrimFaceCntl::_velmCurveSourceEdgeMap.Remove(curve);
}
