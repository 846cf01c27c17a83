// The trim road's face factory.
#include "trim/stitch_creator.hxx"

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "geometry/curve_importer.hxx"
#include "geometry/pcurve_importer.hxx"
#include "geometry/seam_pcurves.hxx"
#include "geometry/surface_importer.hxx"
#include "import/brep_importer.hxx"
#include "import/source_names.hxx"
#include "model/kernel_call_bracket.hxx"
#include "qelx/gk_import.hxx"
#include "qelx/qelx_brep_exporter.hxx"
#include "qelx/qelx_events.hxx"
#include "qelx/qelx_geometry_exporter.hxx"
#include "qelx_velm/default_geometry_importer.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "repair/fix_pcurve.hxx"
#include "trim/trim_face_cntl.hxx"
#include "trim/trim_internal.hxx"
#include "velm/geometry.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/memory.hxx"
#include "velm/surface_build.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"
#include "model/math_types.hxx"

namespace {

const char* const kCreatorSource = "ve_stitchcntl";

// Double-sided, both sides outside: what every face made here starts as.
void commonFinish(FACE* face)
{
    face->set_sides(1);
    face->set_cont(0);
}

template <class T, class... Args>
T* creatorTracked(int line, Args&&... args)
{
    return velm_require(new (0, kCreatorSource, line, nullptr) T(std::forward<Args>(args)...));
}

// A loop of one curveless edge from a vertex at the point to itself.
LOOP* degenerateLoop(const QELposition& at)
{
    VERTEX* vertex = creatorTracked<VERTEX>(__LINE__, creatorTracked<APOINT>(__LINE__, at));
    EDGE* edge = creatorTracked<EDGE>(__LINE__, vertex, vertex, nullptr, FORWARD, EDGE_cvty_unknown);
    COEDGE* coedge = creatorTracked<COEDGE>(__LINE__, edge, FORWARD, nullptr, nullptr);
    coedge->set_next(coedge);
    coedge->set_previous(coedge);
    return creatorTracked<LOOP>(__LINE__, coedge, nullptr);
}

QELXGeometryExporter* geometryExporterOf(QELXBRepExporter* exporter)
{
    QELXGeometryExporter* geometry = nullptr;
    if (exporter)
        exporter->GetGeometryExporter(geometry);
    return geometry;
}

bool defaultImporterOn() { return Ve_OptionDoc::isOn(Ve_OptionDoc::UseDefaultGeomImporter); }

// The converted surface goes once nothing holds it.
void loseUnused(SURFACE* s)
{
    if (s && s->use_count() == 0)
        s->lose();
}

QELposition sourceVertexPoint(QELXGeometryExporter* geometry, QELXBRepExporter* exporter, const QELXIdentifier& vertex,
                    const QELXMorph3D& morph)
{
    QELXIdentifier pointId;
    exporter->GetVertexPoint(vertex, pointId);
    double xyz[3] = {0.0, 0.0, 0.0};
    geometry->GetCartesianPointData(pointId, xyz);
    exporter->ReleaseGeometry(vertex, QELXReleaseVertex);
    const QELXPoint3D p = morph.Apply(QELXPoint3D(xyz[0], xyz[1], xyz[2]));
    return QELposition(p.x(), p.y(), p.z());
}

// Each edge of the ring runs to the next coedge's start vertex, which closes
// any ring. Where a coedge ends at a vertex of its own that lies farther from
// the next one's start than half the shorter of the two coedges' chords, the
// source's loop is open there (a coedge missing, one running the wrong way):
// it is still closed, for healing to judge, but said, naming the face.
void warnIfRingOpen(const QELXIdentifier& face, int loop, const std::vector<COEDGE*>& ring,
                    const std::vector<QELXIdentifier>& ends, QELXGeometryExporter* geometry,
                    QELXBRepExporter* exporter, const QELXMorph3D& morph)
{
    const std::size_t n = ring.size();
    const auto at = [](const VERTEX* v) { return v->geometry()->coords(); };
    std::vector<QELposition> endPoints(n);
    for (std::size_t j = 0; j < n; ++j)
        endPoints[j] = sourceVertexPoint(geometry, exporter, ends[j], morph);
    double widest = -1.0;
    for (std::size_t j = 0; j < n; ++j) {
        const std::size_t k = (j + 1) % n;
        if (!ends[j].IsValid() || !ends[k].IsValid())
            continue;
        const QELposition next = at(ring[k]->edge()->start());
        const double gap = distance(endPoints[j], next);
        const double chord = std::min(distance(at(ring[j]->edge()->start()), endPoints[j]),
                                      distance(next, endPoints[k]));
        if (gap > std::max(trimGapTolerance(), 0.5 * chord))
            widest = std::max(widest, gap);
    }
    if (widest >= 0.0)
        QELXWarningEvent::Fire((sourceEntityName("face", face) + ": loop " + std::to_string(loop + 1) +
                                " is open (its edges lie " + warningNumber(widest) + " apart); closed and " + kKeptForHealing)
                                   .c_str());
}

// A face with no loops yet on the source face's surface (its sense and the
// context's morph applied); null when the surface cannot be set. Without a
// context there is no morph: nothing is made (and nothing left behind).
// `map` receives the surface's parameter map, which the loops' pcurves take.
FACE* faceOnSourceSurface(const QELXIdentifier& faceId, QELXBRepExporter* exporter, Gk_ImportContext* context,
                          Gk_BiLinMap& map)
{
    if (!geometryExporterOf(exporter) || !context)
        return nullptr;
    if (const std::string refused = trimNonFiniteInput(faceId, exporter); !refused.empty()) {
        QELXWarningEvent::Fire(refused.c_str());
        return nullptr;
    }
    FACE* face = creatorTracked<FACE>(__LINE__);
    commonFinish(face);
    Gk_SurfApproxInfoHandle approx;
    if (!ve_view<Ve_FaceTag>(face)->addSurface(faceId, exporter, context->GetMorph(), &approx, &map)) {
        face->lose();
        return nullptr;
    }
    return face;
}

} // namespace

Ve_BaseStitchCreator::Ve_BaseStitchCreator(Ve_CocoonTagHandle cocoon, Gk_ImportContext* context,
                                           QELXVelmBRepImporter* importer)
    : m_cocoon(cocoon), m_context(context), m_importer(importer)
{
}

Ve_FaceTag* Ve_BaseStitchCreator::CreateFace(const QELXIdentifier& faceId, QELXBRepExporter* exporter)
{
    Gk_BiLinMap map;
    FACE* face = faceOnSourceSurface(faceId, exporter, m_context, map);
    if (!face)
        return nullptr;
    QELXGeometryExporter* geometry = geometryExporterOf(exporter);
    const QELXMorph3D morph = m_context->GetMorph();
    int loops = 0;
    exporter->GetNumberOfLoopsFromFace(faceId, loops);
    LOOP* lastLoop = nullptr;
    for (int i = 0; i < loops; ++i) {
        QELXIdentifier loopId;
        exporter->GetLoopFromFace(faceId, i, loopId);
        int count = 0;
        exporter->GetNumberOfCoedgesFromLoop(loopId, count);
        // A loop without coedges bounds nothing.
        if (count < 1)
            continue;
        LOOP* loop = creatorTracked<LOOP>(__LINE__);
        loop->set_face(face);
        if (lastLoop)
            lastLoop->set_next(loop);
        else
            face->set_loop(loop);
        lastLoop = loop;

        // First pass: a coedge, an edge and the coedge's start vertex each.
        std::vector<COEDGE*> ring;
        std::vector<QELXIdentifier> sources;
        // Where each coedge ends in the source, to tell a ring the source
        // leaves open from one closed through shared vertices.
        std::vector<QELXIdentifier> ends;
        for (int j = 0; j < count; ++j) {
            QELXIdentifier coedgeId, edgeId, vertexId;
            exporter->GetCoedgeFromLoop(loopId, j, coedgeId);
            bool forward = true;
            exporter->GetCoedgeSense(coedgeId, forward);
            exporter->GetEdgeFromCoedge(coedgeId, edgeId);
            COEDGE* coedge = creatorTracked<COEDGE>(__LINE__);
            coedge->set_loop(loop);
            if (ring.empty()) {
                loop->set_start(coedge);
            } else {
                coedge->set_previous(ring.back());
                ring.back()->set_next(coedge);
            }
            EDGE* edge = creatorTracked<EDGE>(__LINE__);
            edge->set_coedge(coedge);
            coedge->set_edge(edge);
            QELXIdentifier endId;
            if (forward) {
                exporter->GetStartVertexFromEdge(edgeId, vertexId);
                exporter->GetEndVertexFromEdge(edgeId, endId);
            } else {
                exporter->GetEndVertexFromEdge(edgeId, vertexId);
                exporter->GetStartVertexFromEdge(edgeId, endId);
            }
            ends.push_back(endId);
            VERTEX* vertex = creatorTracked<VERTEX>(__LINE__);
            vertex->set_geometry(creatorTracked<APOINT>(__LINE__, sourceVertexPoint(geometry, exporter, vertexId, morph)));
            edge->set_start(vertex);
            vertex->set_edge(edge);
            ring.push_back(coedge);
            sources.push_back(coedgeId);
        }
        ring.back()->set_next(ring.front());
        ring.front()->set_previous(ring.back());
        warnIfRingOpen(faceId, i, ring, ends, geometry, exporter, morph);

        // Second pass: every edge runs to the start of the next coedge's, and
        // gets its pcurve and curve.
        for (int j = 0; j < count; ++j) {
            COEDGE* coedge = ring[j];
            EDGE* edge = coedge->edge();
            const QELXIdentifier& coedgeId = sources[j];
            edge->set_end(ring[(j + 1) % count]->edge()->start());

            QELXIdentifier pcurveId;
            exporter->GetCoedgePCurve(coedgeId, pcurveId);
            double low = 0.0, high = 0.0;
            exporter->GetCoedgeDomain(coedgeId, low, high);
            const Gk_Domain domain(low, high, Gk_Def::FuzzKnot);
            if (pcurveId.IsValid()) {
                bool pcurveSense = true;
                exporter->GetCoedgePCurveSense(coedgeId, pcurveSense);
                int type = 0;
                geometry->GetPCurveType(pcurveId, type);
                if (type == 1) {
                    QELXVelmPCurveImporter importer(geometry, pcurveId, coedge, map, domain, pcurveSense);
                    importer.Import();
                }
            }
            exporter->ReleaseGeometry(coedgeId, QELXReleasePCurve);

            QELXIdentifier edgeId, curveId;
            exporter->GetEdgeFromCoedge(coedgeId, edgeId);
            exporter->GetEdgeCurve(edgeId, curveId);
            if (curveId.IsValid()) {
                bool forward = true, edgeSense = true;
                exporter->GetCoedgeSense(coedgeId, forward);
                QELXIdentifier startId, endId;
                exporter->GetStartVertexFromEdge(edgeId, startId);
                exporter->GetEndVertexFromEdge(edgeId, endId);
                for (const QELXIdentifier& v : {startId, endId}) {
                    QELXIdentifier pointId;
                    exporter->GetVertexPoint(v, pointId);
                    exporter->ReleaseGeometry(v, QELXReleaseVertex);
                }
                exporter->GetEdgeSense(edgeId, edgeSense);
                // The kernel edge runs along the coedge, over the coedge's
                // domain (a range read off the vertices of a closed curve may
                // lie a period away from the domain the pcurve was given in).
                QELXVelmCurveImporter::ImportOntoEdge(geometry, curveId, edge, forward == edgeSense, domain, morph);
            }
            QELXIdentifier partner;
            exporter->GetPartnerCoedge(coedgeId, partner);

            // A closed curve on an open edge is cut to the edge.
            CURVE* cu = edge->geometry();
            if (cu && cu->has_equation() && edge->start() != edge->end()) {
                const curve& c = cu->equation();
                if (c.periodic() || c.closed()) {
                    QELinterval range = edge->param_range();
                    if (edge->sense() == REVERSED)
                        range = -range;
                    if (!(c.param_range() == range))
                        cu->equation_for_update().limit(range);
                }
            }
            // The source's pcurve as it came, against the edge's curve: the
            // loops are trimmed by their pcurves, planes' too.
            velmInnerCall([&] { ve_refit_straying_pcurves(edge, false); });
        }
    }
    // A mirror turns every loop round its face: reversed, they run round the
    // outward side again.
    if (Ve_Morph(morph).reflects())
        for (LOOP* loop = face->loop(); loop; loop = loop->next())
            loop->reverse();
    Ve_FaceTag* made = ve_view<Ve_FaceTag>(face);
    m_faces.Add(made);
    return made;
}

Ve_FaceTag* Ve_BaseStitchCreator::CreateFaceFromFreeFaceSurface(const QELXIdentifier& faceId,
                                                                QELXBRepExporter* exporter)
{
    QELXGeometryExporter* geometry = geometryExporterOf(exporter);
    if (!geometry)
        return nullptr;
    QELXIdentifier surfaceId;
    // A face without loops on a surface that closes on itself (a whole sphere
    // or torus, a spline closed both ways) is that whole surface, bounded:
    // made so, as the kernel holds it. Only a plane stands for a sheet
    // without bounds, and becomes a square.
    int surfaceType = 0;
    if (exporter->GetFaceSurface(faceId, surfaceId) == QELI_OK && surfaceId.IsValid() &&
        geometry->GetSurfaceType(surfaceId, surfaceType) == QELI_OK && surfaceType != 1)
        if (Gk_BiLinMap map; FACE* whole = faceOnSourceSurface(faceId, exporter, m_context, map)) {
            if (!trimFaceBoundsItself(whole)) {
                api_delent(whole);
                return nullptr;
            }
            Ve_FaceTag* made = ve_view<Ve_FaceTag>(whole);
            m_faces.Add(made);
            return made;
        }
    surfaceId = QELXIdentifier();
    if (defaultImporterOn()) {
        QELXDefaultGeometryImporter* importer = m_importer ? m_importer->GetGeometryImporter() : nullptr;
        SURFACE* converted = nullptr;
        if (!importer || exporter->GetFaceSurface(faceId, surfaceId) != QELI_OK ||
            importer->ConvertSurface(surfaceId, converted) != QELI_OK || !converted)
            return nullptr;
        Ve_FaceTag* made = converted->type() == 1 ? CreateFaceFromPlane(converted, 1.0) : nullptr;
        loseUnused(converted);
        return made;
    }
    exporter->GetFaceSurface(faceId, surfaceId);
    if (!surfaceId.IsValid())
        return nullptr;
    int type = 0;
    geometry->GetSurfaceType(surfaceId, type);
    if (type != 1)
        return nullptr;
    const QELXMorph3D morph = m_context ? m_context->GetMorph() : QELXMorph3D();
    const double scale = m_context ? morph.scaleFactor() : 1.0;
    bool sense = true;
    exporter->GetFaceSense(faceId, sense);
    QELXVelmSurfaceImporter importer(geometry, surfaceId, sense, Gk_Span(), morph, QELresfit, 0);
    importer.ImportSurface();
    const std::unique_ptr<surface> imported(importer.GetSurface());
    if (!imported)
        return nullptr;
    SURFACE* plane = make_surface(*imported);
    Ve_FaceTag* made = CreateFaceFromPlane(plane, std::max(1.0, scale));
    loseUnused(plane);
    return made;
}

FACE* Ve_BaseStitchCreator::CreateFaceFromFreeSurface(QELXGeometryExporter* exporter, const QELXIdentifier& surfaceId)
{
    if (!exporter || !surfaceId.IsValid())
        return nullptr;
    FACE* face = nullptr;
    if (defaultImporterOn()) {
        QELXDefaultGeometryImporter* importer = m_importer ? m_importer->GetGeometryImporter() : nullptr;
        SURFACE* converted = nullptr;
        if (importer && importer->ConvertSurface(surfaceId, converted) == QELI_OK && converted) {
            if (converted->type() == 1)
                face = CreateFaceFromSurface(&converted->equation(), 1.0);
            loseUnused(converted);
        }
    } else {
        const QELXMorph3D morph = m_context ? m_context->GetMorph() : QELXMorph3D();
        const double size = m_context ? morph.scaleFactor() : 1.0;
        QELXVelmSurfaceImporter importer(exporter, surfaceId, true, Gk_Span(), morph, QELresfit, 0);
        importer.ImportSurface();
        const std::unique_ptr<surface> imported(importer.GetSurface());
        if (imported)
            face = CreateFaceFromSurface(imported.get(), size);
    }
    // Only a face that was made is reported as translated.
    if (face)
        QELXEndTranslateEntityEvent::Fire(0, surfaceId,
                                          QELXIdentifier(face, QELXBRepExporter::QELXBRepTypeFace, nullptr, "FACE",
                                                         QELXIdentifierCastHandle()));
    return face;
}

QELXDynamicArray<Ve_FaceTag*> Ve_BaseStitchCreator::CreateSheets(const QELXIdentifier& faceId,
                                                                 QELXBRepExporter* exporter)
{
    QELXDynamicArray<Ve_FaceTag*> result;
    Ve_TrimFaceCntl controller(m_context);
    if (controller.seed(faceId, exporter)) {
        result = controller.getSheets();
        for (Ve_FaceTag* face : result)
            m_faces.Add(face);
    }
    return result;
}

Ve_FaceTag* Ve_BaseStitchCreator::CreateFaceFromPlane(SURFACE* planeEntity, double size)
{
    if (!planeEntity || planeEntity->type() != 1)
        return nullptr;
    const plane& p = static_cast<const plane&>(planeEntity->equation());
    const QELvector normal = p.normal;
    FACE* face = nullptr;
    if (!api_face_plane(p.root_point, size, size, &normal, face).ok() || !face)
        return nullptr;
    Ve_FaceTag* made = ve_view<Ve_FaceTag>(face);
    m_faces.Add(made);
    return made;
}

FACE* Ve_BaseStitchCreator::CreateFaceFromSurface(const surface* s, double size)
{
    if (!s)
        return nullptr;
    FACE* face = nullptr;
    switch (s->type()) {
    case 10:
        face = make_face_spline(static_cast<const spline&>(*s));
        break;
    case 4: {
        const torus& t = static_cast<const torus&>(*s);
        const double R = t.major_radius, r = t.minor_radius;
        LOOP* loops = nullptr;
        if (R < std::fabs(r) + QELresabs) {
            const double d = t.apex_dist();
            if (d < QELresabs) {
                loops = degenerateLoop(t.centre);
            } else {
                loops = degenerateLoop(t.centre + d * t.normal);
                loops->set_next(degenerateLoop(t.centre - d * t.normal));
            }
        }
        face = creatorTracked<FACE>(__LINE__, loops, nullptr, make_surface(t), FORWARD);
        break;
    }
    case 3:
        face = creatorTracked<FACE>(__LINE__, nullptr, nullptr, make_surface(*s), FORWARD);
        break;
    case 1: {
        const plane& p = static_cast<const plane&>(*s);
        const QELvector normal = p.normal;
        if (!api_face_plane(p.root_point, size, size, &normal, face).ok())
            face = nullptr;
        break;
    }
    case 2: {
        const cone& c = static_cast<const cone&>(*s);
        LOOP* apex = c.is_cylinder() ? nullptr : degenerateLoop(c.get_apex());
        face = creatorTracked<FACE>(__LINE__, apex, nullptr, make_surface(c), FORWARD);
        face->set_bound(new QELbox(QELposition(-1, -1, -1), QELposition(1, 1, 1)));
        break;
    }
    default:
        break;
    }
    if (face)
        commonFinish(face);
    return face;
}

void Ve_BaseStitchCreator::MakeSheets()
{
    QELXDynamicArray<Ve_BodyTag*> bodies;
    // A face already in a body keeps it: that body is listed again, once.
    auto keepOwnBody = [&](FACE* face) {
        Ve_BodyTag* own = ve_view<Ve_FaceTag>(face)->getBody();
        for (Ve_BodyTag* b : bodies)
            if (b == own)
                return true;
        if (own)
            bodies.Add(own);
        return own != nullptr || face->shell() != nullptr;
    };
    if (Ve_OptionDoc::isOn(Ve_OptionDoc::AllSheetsInSingleBody) && m_faces.Count() > 0) {
        BODY* body = nullptr;
        LUMP* last = nullptr;
        for (Ve_FaceTag* tag : m_faces) {
            FACE* face = reinterpret_cast<FACE*>(tag);
            if (!face || keepOwnBody(face))
                continue;
            if (!body) {
                body = creatorTracked<BODY>(__LINE__);
                bodies.Add(ve_view<Ve_BodyTag>(body));
            }
            commonFinish(face);
            SHELL* shell = creatorTracked<SHELL>(__LINE__);
            shell->set_face(face);
            face->set_shell(shell);
            LUMP* lump = creatorTracked<LUMP>(__LINE__);
            lump->set_shell(shell);
            shell->set_lump(lump);
            if (last)
                last->set_next(lump);
            else
                body->set_lump(lump);
            lump->set_body(body);
            last = lump;
        }
    } else {
        QELXDynamicArray<Ve_FaceTag*> kept;
        for (Ve_FaceTag* tag : m_faces) {
            FACE* face = reinterpret_cast<FACE*>(tag);
            if (!face)
                continue;
            if (keepOwnBody(face)) {
                kept.Add(tag);
                continue;
            }
            BODY* body = nullptr;
            if (api_mk_by_faces(nullptr, 1, &face, body).ok() && body) {
                bodies.Add(ve_view<Ve_BodyTag>(body));
                kept.Add(tag);
            } else {
                // A face no body took would belong to nothing: it goes, said,
                // so that the import does not pass for whole without it.
                api_del_entity(face);
                QELXWarningEvent::Fire("a face could not be made a sheet body");
            }
        }
        m_faces = kept;
    }
    m_cocoon->setBodies(bodies);
    for (Ve_BodyTag* body : m_cocoon->getBodies())
        if (body)
            for (Ve_VertexTag* v : body->getVertices())
                v->minimizeReferals();
}
