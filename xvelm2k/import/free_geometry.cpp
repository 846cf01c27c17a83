// Free surfaces, curves and points: each becomes a kernel body of its own,
// marked so that the summary and a later export know it for what it was.
#include "import/brep_importer.hxx"

#include "geometry/curve_importer.hxx"
#include "import/item_guard.hxx"
#include "model/body_set.hxx"
#include "model/kernel_call_bracket.hxx"
#include "persist/brep_attrib_transfer.hxx"
#include "qelx/qelx_attribute_exporter.hxx"
#include "qelx/qelx_brep_exporter.hxx"
#include "qelx/qelx_events.hxx"
#include "qelx/qelx_geometry_exporter.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "trim/stitch_creator.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"
#include "velm/topology_edit.hxx"

#include <cmath>
#include <cstdio>
#include <string>

namespace {

// One free stage: every entity under the item guard, the last failing
// item's code kept, a translate event after each.
template <class Count, class At, class Item>
QELIResult runFreeStage(QELXBRepExporter* source, const char* name, Count count, At at, Item item)
{
    if (!source)
        return QELI_FAIL;
    int n = 0;
    (source->*count)(n);
    QELXGeometryExporter* geometry = nullptr;
    if (n > 0)
        source->GetGeometryExporter(geometry);
    QELIResult result = QELI_OK;
    for (int i = 0; i < n; ++i) {
        QELXIdentifier entity;
        (source->*at)(i, entity);
        const QELIResult one = importItemGuard([&] { return item(geometry, entity); });
        if (one != QELI_OK)
            result = one;
        QELXStartTranslateEntityEvent::Fire(name, "BRep", i + 1);
        QELXCallbackShared::IsAborted();
    }
    return result;
}

void warnFreeItem(const char* what, const QELXIdentifier& item, const char* why)
{
    char text[200];
    std::snprintf(text, sizeof text, "%s %llx: not imported, %s", what, static_cast<unsigned long long>(item.GetValue()),
                  why);
    QELXWarningEvent::Fire(text);
}

QELXAttributeExporter* attributesOf(QELXGeometryExporter* geometry)
{
    QELXAttributeExporter* attributes = nullptr;
    if (geometry)
        geometry->GetAttributeExporter(attributes);
    return attributes;
}

int bitsOf(Gk_Option* option) { return option ? option->count() : 0; }

} // namespace

QELIResult QELXVelmBRepImporter::ImportFreeSurfaces(QELXBRepExporter* source, Gk_ImportContext* context)
{
    return runFreeStage(source, "FreeSurface", &QELXBRepExporter::GetNumberOfFreeSurfaces,
                        &QELXBRepExporter::GetFreeSurface, [&](QELXGeometryExporter* geometry, const QELXIdentifier& id) {
                            return ImportFreeSurface(geometry, id, context);
                        });
}

QELIResult QELXVelmBRepImporter::ImportFreeCurves(QELXBRepExporter* source, Gk_ImportContext* context)
{
    return runFreeStage(source, "FreeCurve", &QELXBRepExporter::GetNumberOfFreeCurves, &QELXBRepExporter::GetFreeCurve,
                        [&](QELXGeometryExporter* geometry, const QELXIdentifier& id) {
                            return ImportFreeCurve(geometry, id, context);
                        });
}

QELIResult QELXVelmBRepImporter::ImportFreePoints(QELXBRepExporter* source, Gk_ImportContext* context)
{
    return runFreeStage(source, "FreePoint", &QELXBRepExporter::GetNumberOfFreePoints, &QELXBRepExporter::GetFreePoint,
                        [&](QELXGeometryExporter* geometry, const QELXIdentifier& id) {
                            return ImportFreePoint(geometry, id, context);
                        });
}

QELIResult QELXVelmBRepImporter::ImportFreeSurface(QELXGeometryExporter* geometry, const QELXIdentifier& surfaceId,
                                                   Gk_ImportContext* context)
{
    if (!geometry)
        return QELI_FAIL;
    QELXAttributeExporter* attributes = attributesOf(geometry);
    const bool transfer = Ve_OptionDoc::isOn(Ve_OptionDoc::TransferAttribute);
    const bool layer = Ve_OptionDoc::isOn(Ve_OptionDoc::TransferLayer);
    Ve_BaseStitchCreator creator(Ve_CocoonTagHandle(new Ve_CocoonTag()), context, this);
    BODY* body = nullptr;
    const outcome built = velmCall([&] {
        // The stitch creator reports the face itself.
        FACE* face = creator.CreateFaceFromFreeSurface(geometry, surfaceId);
        if (face && face->geometry() && is_PLANE(face->geometry())) {
            QELXVelmBRepAttribTransfer::SetPlaneUnboundedness(face);
            Ve_AttribTransfer::setSurfUnBoundness(face);
            if (transfer)
                Ve_AttribTransfer::transferAttributes(face, surfaceId, attributes, layer);
        }
        if (face && (bitsOf(Ve_OptionDoc::TransferAttributePID) & 4))
            Ve_AttribTransfer::transferPIDAttribute(face, surfaceId, attributes);
        if (face && (bitsOf(Ve_OptionDoc::TransferAttributePName) & 4))
            Ve_AttribTransfer::transferPNameAttribute(face, surfaceId, attributes);
        QELXStartTranslateEntityEvent::Fire("FreeSurface", "BRep", 1);
        if (!face)
            return;
        const outcome sheet = api_mk_by_faces(nullptr, 1, &face, body);
        if (!sheet.ok())
            sys_error(sheet.error_number(), sheet.get_error_info());
    });
    if (!built.ok() || !body) {
        warnFreeItem("free surface", surfaceId, built.ok() ? "no face could be made of it" : "the kernel failed");
        return QELI_OK;
    }
    QELXVelmBRepAttribTransfer::SetFreeSurface(body);
    if (transfer)
        Ve_AttribTransfer::transferAttributes(body, surfaceId, attributes, layer);
    TransferEntityLayer(body, surfaceId, attributes, nullptr, -1);
    m_result->appendBody(ve_view<Ve_BodyTag>(body));
    return QELI_OK;
}

QELIResult QELXVelmBRepImporter::ImportFreeCurve(QELXGeometryExporter* geometry, const QELXIdentifier& curveId,
                                                 Gk_ImportContext* context)
{
    // Nothing to read the curve with: the item fails, the stage goes on.
    if (!geometry)
        return QELI_FAIL;
    double range[2] = {0.0, 0.0};
    geometry->GetCurveDomain(curveId, range);
    const Gk_Domain domain(range[0], range[1], Gk_Def::FuzzKnot);
    const QELXMorph3D morph = context ? context->GetMorph() : QELXMorph3D();
    BODY* body = nullptr;
    const outcome built = velmCall([&] {
        // The importer owns the curve it made and deletes it with itself; the
        // edge holds a copy: one owner, freed once.
        QELXVelmCurveImporter importer(geometry, curveId, domain, QELresfit, morph, false, true);
        importer.ImportCurve();
        const curve* made = importer.GetCurve();
        if (!made)
            return;
        EDGE* edge = nullptr;
        const outcome edged = api_make_edge_from_curve(made, edge);
        if (!edged.ok())
            sys_error(edged.error_number(), edged.get_error_info());
        const outcome wired = api_make_ewire(1, &edge, body);
        if (!wired.ok())
            sys_error(wired.error_number(), wired.get_error_info());
    });
    if (!built.ok() || !body) {
        body = nullptr;
        warnFreeItem("free curve", curveId, built.ok() ? "no curve could be made of it" : "the kernel failed");
        return built.ok() ? QELI_OK : QELI_FAIL;
    }
    QELXVelmBRepAttribTransfer::SetFreeCurve(body);
    if (Ve_OptionDoc::isOn(Ve_OptionDoc::TransferAttribute))
        if (QELXAttributeExporter* attributes = attributesOf(geometry)) {
            Ve_AttribTransfer::transferAttributes(body, curveId, attributes,
                                                  Ve_OptionDoc::isOn(Ve_OptionDoc::TransferLayer));
            TransferEntityLayer(body, curveId, attributes, nullptr, -1);
        }
    m_result->appendBody(ve_view<Ve_BodyTag>(body));
    return QELI_OK;
}

QELIResult QELXVelmBRepImporter::ImportFreePoint(QELXGeometryExporter* geometry, const QELXIdentifier& pointId,
                                                 Gk_ImportContext* context)
{
    if (!geometry)
        return QELI_FAIL;
    double xyz[3] = {0.0, 0.0, 0.0};
    geometry->GetCartesianPointData(pointId, xyz);
    QELXPoint3D p(xyz[0], xyz[1], xyz[2]);
    if (context)
        p = context->GetMorph().Apply(p);
    if (!std::isfinite(p.x()) || !std::isfinite(p.y()) || !std::isfinite(p.z())) {
        warnFreeItem("free point", pointId, "its coordinates are not numbers");
        return QELI_FAIL;
    }
    VERTEX* vertex = nullptr;
    BODY* body = nullptr;
    const outcome built = velmCall([&] {
        APOINT* point = velm_require(new (0, "QELXVelmBRepImporter", __LINE__, nullptr) APOINT(p.x(), p.y(), p.z()));
        vertex = velm_require(new (0, "QELXVelmBRepImporter", __LINE__, nullptr) VERTEX(point));
        EDGE* edge = velm_require(new (0, "QELXVelmBRepImporter", __LINE__, nullptr)
                                      EDGE(vertex, vertex, nullptr, REVERSED, EDGE_cvty_unknown, nullptr));
        const outcome wired = api_make_ewire(1, &edge, body);
        if (!wired.ok())
            sys_error(wired.error_number(), wired.get_error_info());
    });
    if (!built.ok() || !body) {
        warnFreeItem("free point", pointId, "the kernel failed");
        return QELI_FAIL;
    }
    QELXVelmBRepAttribTransfer::SetFreePoint(body);
    const bool transfer = Ve_OptionDoc::isOn(Ve_OptionDoc::TransferAttribute);
    const bool layer = Ve_OptionDoc::isOn(Ve_OptionDoc::TransferLayer);
    QELXAttributeExporter* attributes = attributesOf(geometry);
    if (transfer && attributes) {
        Ve_AttribTransfer::transferAttributes(vertex, pointId, attributes, layer);
        Ve_AttribTransfer::transferAttributes(body, pointId, attributes, layer);
    }
    if (bitsOf(Ve_OptionDoc::TransferAttributePID) & 1)
        Ve_AttribTransfer::transferPIDAttribute(vertex, pointId, attributes);
    if (bitsOf(Ve_OptionDoc::TransferAttributePName) & 1)
        Ve_AttribTransfer::transferPNameAttribute(vertex, pointId, attributes);
    if (attributes) {
        TransferEntityLayer(vertex, pointId, attributes, nullptr, -1);
        // The commit turns the body into its vertex when asked to: then the
        // vertex carries the layer, else the body.
        TransferEntityLayer(Ve_OptionDoc::isOn(Ve_OptionDoc::OutputAcornBodyAsVERTEX) ? static_cast<ENTITY*>(vertex)
                                                                                       : body,
                            pointId, attributes, nullptr, -1);
        if (attributes->IsCorvaneExporter()) {
            QELXString pset, mdi;
            if (attributes->GetVdaPSETIdentifier(pointId, pset) == QELI_OK)
                QELXVelmBRepAttribTransfer::SetPSETIndentifier(body, pset);
            if (attributes->GetVdaMDIIdentifier(pointId, mdi) == QELI_OK)
                QELXVelmBRepAttribTransfer::SetMDIIndentifier(body, mdi);
        }
    }
    m_result->appendBody(ve_view<Ve_BodyTag>(body));
    return QELI_OK;
}
