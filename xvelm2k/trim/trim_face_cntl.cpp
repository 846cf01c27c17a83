#include "trim/trim_face_cntl.hxx"

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "import/source_names.hxx"
#include "model/entity_views.hxx"
#include "model/kernel_call_bracket.hxx"
#include "qelx/qelx_brep_exporter.hxx"
#include "qelx/qelx_errors.hxx"
#include "qelx/qelx_events.hxx"
#include "qelx/qelx_geometry_exporter.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "geometry/seam_pcurves.hxx"
#include "trim/contour_cntl.hxx"
#include "trim/trim_internal.hxx"
#include "velm/check.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"
#include "model/math_types.hxx"

namespace {

constexpr const char* kSurfaceCheckTask = "SplineSurfaceCheck";
constexpr int kSurfaceCheckLevel = 50;

// The fixes of the kernel's surface check stay; what it reports does not
// matter here. A kernel error leaves the surface as the check left it.
void checkAndFixSurface(SURFACE* surfaceEntity)
{
    QELXStartTaskEvent::Fire(kSurfaceCheckTask, kSurfaceCheckTask, kSurfaceCheckLevel);
    velmGuard([&] {
        check_fix input(1);
        input.tol1 = QELresabs;
        input.tol2 = QELresabs;
        input.mask = 65535;
        check_fix result;
        std::unique_ptr<check_status_list> wanted(VELM_MAKE(check_status_list, status_bad_closure));
        std::unique_ptr<check_status_list> found(
            d3_sf_check(surfaceEntity->equation_for_update(), input, result, wanted.get()));
    });
    QELXEndTaskEvent::Fire(0, kSurfaceCheckTask, kSurfaceCheckTask, kSurfaceCheckLevel, true);
}

} // namespace

bool trimFaceBoundsItself(const FACE* face)
{
    const SURFACE* entity = face ? face->geometry() : nullptr;
    if (!entity || !entity->has_equation())
        return false;
    const int type = entity->identity();
    if (type == SPHERE_TYPE || type == TORUS_TYPE)
        return true;
    if (type != SPLINE_TYPE)
        return false;
    // A spline closes on itself where each direction is closed or ends in
    // poles at both ends (a sphere's form: closed round, poles along).
    const surface& s = entity->equation();
    const auto endsInPoles = [](const QELinterval& r, auto singular) {
        return r.finite() && singular(r.start_pt()) && singular(r.end_pt());
    };
    const bool uWhole = s.closed_u() || endsInPoles(s.param_range_u(), [&](double u) { return s.singular_u(u); });
    const bool vWhole = s.closed_v() || endsInPoles(s.param_range_v(), [&](double v) { return s.singular_v(v); });
    return uWhole && vWhole;
}

std::string trimNonFiniteInput(const QELXIdentifier& face, QELXBRepExporter* exporter)
{
    QELXGeometryExporter* geometry = nullptr;
    if (!exporter || exporter->GetGeometryExporter(geometry) != QELI_OK || !geometry)
        return "";
    const auto refused = [&](const char* kind, const QELXIdentifier& id, const char* what) {
        return sourceEntityName("face", face) + ": not imported, " + what + " of " + sourceEntityName(kind, id) +
               " is not finite";
    };
    int loops = 0;
    exporter->GetNumberOfLoopsFromFace(face, loops);
    for (int l = 0; l < loops; ++l) {
        QELXIdentifier loop;
        exporter->GetLoopFromFace(face, l, loop);
        int coedges = 0;
        exporter->GetNumberOfCoedgesFromLoop(loop, coedges);
        for (int c = 0; c < coedges; ++c) {
            QELXIdentifier coedge, edge;
            exporter->GetCoedgeFromLoop(loop, c, coedge);
            double low = 0.0, high = 0.0;
            if (exporter->GetCoedgeDomain(coedge, low, high) == QELI_OK && !(std::isfinite(low) && std::isfinite(high)))
                return refused("coedge", coedge, "the domain");
            exporter->GetEdgeFromCoedge(coedge, edge);
            QELXIdentifier ends[2];
            exporter->GetStartVertexFromEdge(edge, ends[0]);
            exporter->GetEndVertexFromEdge(edge, ends[1]);
            for (const QELXIdentifier& vertex : ends) {
                QELXIdentifier point;
                double xyz[3] = {0.0, 0.0, 0.0};
                if (!vertex.IsValid() || exporter->GetVertexPoint(vertex, point) != QELI_OK ||
                    geometry->GetCartesianPointData(point, xyz) != QELI_OK)
                    continue;
                if (!(std::isfinite(xyz[0]) && std::isfinite(xyz[1]) && std::isfinite(xyz[2])))
                    return refused("vertex", vertex, "the point");
            }
        }
    }
    return "";
}

Ve_TrimFaceCntl::Ve_TrimFaceCntl(Gk_ImportContext* context) : m_context(context)
{
    Gk_ErrMgr::checkAbort();
    if (!context)
        Gk_ErrMgr::doAssert(kTrimSource, 2352);
}

Ve_TrimFaceCntl::~Ve_TrimFaceCntl()
{
    _velmCurveSourceEdgeMap.Clear();
}

Ve_TrimImportContext Ve_TrimFaceCntl::addSurface(FACE* face, const QELXIdentifier& faceId, QELXBRepExporter* exporter)
{
    Gk_SurfApproxInfoHandle approx;
    Gk_BiLinMap map;
    if (face && m_context)
        ve_view<Ve_FaceTag>(face)->addSurface(faceId, exporter, m_context->GetMorph(), &approx, &map);
    int category = -1;
    exporter->GetFaceCategory(faceId, category);
    SURFACE* surfaceEntity = face ? face->geometry() : nullptr;
    if (surfaceEntity && surfaceEntity->has_equation())
        checkAndFixSurface(surfaceEntity);
    return Ve_TrimImportContext(reinterpret_cast<Ve_SurfaceTag*>(surfaceEntity), map, approx, m_context,
                                category == 0 || category == 1);
}

bool Ve_TrimFaceCntl::seed(const QELXIdentifier& faceId, QELXBRepExporter* exporter)
{
    if (!exporter)
        return false;
    if (const std::string refused = trimNonFiniteInput(faceId, exporter); !refused.empty()) {
        QELXWarningEvent::Fire(refused.c_str());
        return false;
    }
    FACE* face = new (0, kTrimSource, 2393, nullptr) FACE();
    if (!face)
        return false;
    face->set_sides(1);
    face->set_cont(0);

    Ve_TrimImportContext context = addSurface(face, faceId, exporter);
    if (!face->geometry()) {
        face->lose();
        return false;
    }

    QELXAttributeExporter* attributes = nullptr;
    exporter->GetAttributeExporter(attributes);
    const bool transfer = Ve_OptionDoc::isOn(Ve_OptionDoc::TransferAttribute);

    struct Seeded {
        Ve_ContourCntl contour;
        QELXIdentifier loop;
    };
    std::vector<Seeded> seeded;
    int n = 0;
    exporter->GetNumberOfLoopsFromFace(faceId, n);
    for (int i = 0; i < n; ++i) {
        QELXIdentifier loopId;
        int index = i;
        exporter->GetLoopFromFace(faceId, index, loopId);
        Ve_ContourCntl contour(&context);
        if (contour.seed(loopId, exporter))
            seeded.push_back({std::move(contour), loopId});
    }

    // A mirror turns every loop round its face: reversed, each runs round the
    // face's outward side again.
    const bool mirrored = Ve_Morph(context.getDesMorph()).reflects();
    LOOP* last = nullptr;
    int loopNumber = 0;
    for (const Seeded& s : seeded) {
        ++loopNumber;
        // A loop open where its source is (a coedge missing, pieces that
        // run past each other) is built closed all the same; healing judges
        // it, but not unwarned.
        double gap = 0.0;
        const bool open = s.contour.isOpen(gap);
        LOOP* loop = s.contour.makeLoop(face, exporter);
        if (loop && open)
            QELXWarningEvent::Fire((sourceEntityName("face", faceId) + ": loop " + std::to_string(loopNumber) +
                                    " is open (its edges lie " + warningNumber(gap) + " apart); closed and " + kKeptForHealing)
                                       .c_str());
        if (!loop)
            continue;
        if (mirrored)
            loop->reverse();
        if (transfer)
            Ve_AttribTransfer::transferAttributes(loop, s.loop, attributes, false);
        QELXEndTranslateEntityEvent::Fire(
            0, s.loop, QELXIdentifier(loop, QELXBRepExporter::QELXBRepTypeLoop, nullptr, "ENTITY"));
        if (last)
            last->set_next(loop);
        else
            face->set_loop(loop);
        last = loop;
    }
    seeded.clear(); // the segments let go of what the loops did not take
    // Each coedge's pcurve was fitted alone, in the surface's principal range:
    // the loops are joined up, a seam's two uses a period apart.
    ve_place_loop_pcurves(face, sourceEntityName("face", faceId));

    if (!face->loop() && !trimFaceBoundsItself(face)) {
        QELXWarningEvent::Fire("Ignoring face with invalid loop");
        api_delent(face);
        return false;
    }
    // A second seed adds its face rather than losing it to no one.
    m_faces.Add(ve_view<Ve_FaceTag>(face));
    return true;
}
