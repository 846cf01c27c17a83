// Face surface attachment: a kernel face's surface (and pcurves) built from
// a face of a framework B-rep exporter.
#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "geometry/pcurve_importer.hxx"
#include "geometry/surface_importer.hxx"
#include "geometry/surface_view.hxx"
#include "import/source_names.hxx"
#include "model/entity_views.hxx"
#include "model/kernel_call_bracket.hxx"
#include "qelx/qelx_brep_exporter.hxx"
#include "qelx/qelx_errors.hxx"
#include "qelx/qelx_events.hxx"
#include "qelx/qelx_geometry_exporter.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/topology.hxx"

bool Ve_FaceTag::addSurface(const QELXIdentifier& face, QELXBRepExporter* exporter, const QELXMorph3D& morph,
                            Gk_SurfApproxInfoHandle* approx, Gk_BiLinMap* map)
{
    if (!face.IsValid() || !exporter)
        return false;
    QELXGeometryExporter* geometry = nullptr;
    if (exporter->GetGeometryExporter(geometry) != 0 || !geometry)
        return false;
    QELXIdentifier surfaceId;
    exporter->GetFaceSurface(face, surfaceId);
    double uPair[2] = {0.0, 0.0}, vPair[2] = {0.0, 0.0};
    exporter->GetFaceDomain(face, uPair, vPair);
    bool forward = true;
    exporter->GetFaceSense(face, forward);
    const Gk_Span span(Gk_Domain(uPair[0], uPair[1]), Gk_Domain(vPair[0], vPair[1]));

    QELXVelmSurfaceImporter importer(geometry, surfaceId, forward, span, morph, QELresfit, 0);
    importer.ImportSurface();
    if (map)
        *map = importer.GetParamMap();
    if (approx)
        *approx = importer.GetApproxInfo();
    const std::unique_ptr<surface> made(importer.GetSurface());
    const bool acceptBad = Ve_OptionDoc::isOn(Ve_OptionDoc::AcceptBadData);
    FACE* kernelFace = getDef();
    const outcome r = velmInnerCall([&] {
        kernelFace->set_sense(importer.IsSenseKept() ? FORWARD : REVERSED);
        if (made)
            kernelFace->set_geometry(make_surface(*made));
        else if (acceptBad)
            kernelFace->set_geometry(nullptr);
    });
    if (!made && !acceptBad) {
        Gk_ErrMgr::checkAbort();
        Gk_ErrMgr::doAssert("ve_facetag", 399);
    }
    if (!made && acceptBad)
        return r.ok();
    return r.ok() && kernelFace->geometry() != nullptr;
}

bool Ve_FaceTag::attachSurface(const QELXIdentifier& face, QELXBRepExporter* exporter, const QELXMorph3D& morph)
{
    Gk_SurfApproxInfoHandle approx;
    Gk_BiLinMap map;
    if (!addSurface(face, exporter, morph, &approx, &map) || !getDef()->geometry())
        return false;
    const int type = getSurface()->typeId();
    if (type >= 1 && type <= 6 && !Ve_OptionDoc::isOn(Ve_OptionDoc::AcceptPCurvesForAnalytics))
        return true;
    if (approx.IsValid() && approx->getPCurveState() == 1)
        return true;
    QELXGeometryExporter* geometry = nullptr;
    exporter->GetGeometryExporter(geometry);
    const QELXDynamicArray<Ve_CoedgeTag*> kernelCoedges = getCoedges();
    // The exporter's coedges of the face, loop by loop, in the order the
    // kernel face was built from them.
    std::vector<QELXIdentifier> sourceCoedges;
    int loops = 0;
    exporter->GetNumberOfLoopsFromFace(face, loops);
    for (int l = 0; l < loops; ++l) {
        int index = l;
        QELXIdentifier loop;
        exporter->GetLoopFromFace(face, index, loop);
        int count = 0;
        exporter->GetNumberOfCoedgesFromLoop(loop, count);
        for (int c = 0; c < count; ++c) {
            int at = c;
            QELXIdentifier coedge;
            exporter->GetCoedgeFromLoop(loop, at, coedge);
            sourceCoedges.push_back(coedge);
        }
    }
    // Paired by position; neither list is read beyond its end.
    const int pairs = std::min(static_cast<int>(sourceCoedges.size()), kernelCoedges.Count());
    for (int i = 0; i < pairs; ++i) {
        QELXIdentifier pcurve;
        exporter->GetCoedgePCurve(sourceCoedges[i], pcurve);
        double low = 0.0, high = 0.0;
        exporter->GetCoedgeDomain(sourceCoedges[i], low, high);
        if (!pcurve.IsValid())
            continue;
        // A pcurve over a domain that is not finite would be read nowhere:
        // the coedge does without it (the edge's curve stands).
        if (!(std::isfinite(low) && std::isfinite(high))) {
            QELXWarningEvent::Fire((sourceEntityName("coedge", sourceCoedges[i]) +
                                    ": its pcurve is left out, its domain is not finite; the coedge is " + kKeptForHealing)
                                       .c_str());
            continue;
        }
        int pcurveType = 0;
        geometry->GetPCurveType(pcurve, pcurveType);
        if (pcurveType != 1)
            continue;
        bool sense = true;
        exporter->GetCoedgePCurveSense(sourceCoedges[i], sense);
        QELXVelmPCurveImporter importer(geometry, pcurve, reinterpret_cast<COEDGE*>(kernelCoedges[i]), map,
                                        Gk_Domain(low, high, Gk_Def::FuzzKnot), sense);
        importer.Import();
    }
    return true;
}
