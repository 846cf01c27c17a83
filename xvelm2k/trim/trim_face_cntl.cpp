#include "trim/trim_face_cntl.hxx"

#include <memory>
#include <vector>

#include "model/entity_views.hxx"
#include "model/kernel_call_bracket.hxx"
#include "qelx/qelx_brep_exporter.hxx"
#include "qelx/qelx_errors.hxx"
#include "qelx/qelx_events.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "qelx_velm/ve_option_doc.hxx"
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

// A closed surface bounds itself: a face on it needs no loop.
bool boundsItself(const FACE* face)
{
    const SURFACE* s = face->geometry();
    const int type = s ? s->identity() : -1;
    return type == SPHERE_TYPE || type == TORUS_TYPE;
}

} // namespace

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
    for (const Seeded& s : seeded) {
        LOOP* loop = s.contour.makeLoop(face, exporter);
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

    if (!face->loop() && !boundsItself(face)) {
        QELXWarningEvent::Fire("Ignoring face with invalid loop");
        api_delent(face);
        return false;
    }
    // A second seed adds its face rather than losing it to no one.
    m_faces.Add(ve_view<Ve_FaceTag>(face));
    return true;
}
