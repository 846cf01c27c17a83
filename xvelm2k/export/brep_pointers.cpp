// The exporter's constant answers, bounding boxes, iso-parameter lines,
// persistent numbers and the second road of the walk, by entity pointers.
// Pointer operations take what the walk handed out; null answers null.
#include "export/brep_exporter.hxx"
#include "export/brep_internal.hxx"
#include "model/document.hxx"
#include "model/kernel_call_bracket.hxx"
#include "model/memory_init.hxx"
#include "model/views_internal.hxx"
#include "persist/brep_attrib_transfer.hxx"
#include "velm/iso_lines.hxx"
#include "velm/query.hxx"

using namespace ve_views;
using namespace ve_export;

namespace {


void corners(const QELXBox3D& box, double low[3], double high[3])
{
    for (int k = 0; k < 3; ++k) {
        low[k] = box.low()[k];
        high[k] = box.high()[k];
    }
}

template <class View, class Kernel>
View* viewOf(void* pointer)
{
    return ve_view<View>(asPtr<Kernel>(pointer));
}

} // namespace

// ---------------------------------------------------------------------------
// Constant answers

QELIResult QELXVelmBRepExporter::GetNumberOfFreeSurfaces(int&) { return kNotFound; }
QELIResult QELXVelmBRepExporter::GetFreeSurface(int, QELXIdentifier&) { return kNotFound; }
QELIResult QELXVelmBRepExporter::GetNumberOfFreeCurves(int&) { return kNotFound; }
QELIResult QELXVelmBRepExporter::GetFreeCurve(int, QELXIdentifier&) { return kNotFound; }
QELIResult QELXVelmBRepExporter::GetNumberOfFreePoints(int&) { return kNotFound; }
QELIResult QELXVelmBRepExporter::GetFreePoint(int, QELXIdentifier&) { return kNotFound; }
QELIResult QELXVelmBRepExporter::GetFaceFromBody(const QELXIdentifier&, int, QELXIdentifier&) { return kNotFound; }

QELIResult QELXVelmBRepExporter::IsFaceOrientationCorrect(const QELXIdentifier&, bool& flag)
{
    flag = true;
    return 0;
}

QELIResult QELXVelmBRepExporter::GetFaceCategory(const QELXIdentifier&, int& category)
{
    category = 2;
    return 0;
}

QELIResult QELXVelmBRepExporter::GetCoedgePCurveSense(const QELXIdentifier&, bool& forward)
{
    forward = true;
    return 0;
}

// ---------------------------------------------------------------------------
// Boxes: an identifier whose entity is gone has no box.

QELIResult QELXVelmBRepExporter::GetBoundingBoxA(const QELXIdentifier& entity, double low[3], double high[3])
{
    if (!entity.IsValid())
        return kInvalid;
    const ENTITY* e = QELXVelmEntityUtils::GetEntity(entity);
    if (!e)
        return kNotFound;
    QELXBox3D box;
    const QELIResult result = ve_view<Ve_EntityTag>(e)->GetBoundingBox(box);
    if (result == 0)
        corners(box, low, high);
    return result;
}

QELIResult QELXVelmBRepExporter::GetBoundingBoxB(const QELXIdentifier& entity, double low[3], double high[3])
{
    if (!entity.IsValid())
        return kInvalid;
    const BODY* b = as<BODY>(entity);
    if (!b)
        return kNotFound;
    QELXBox3D box;
    const QELIResult result = ve_view<Ve_BodyTag>(b)->GetBoundingBox(box);
    if (result == 0)
        corners(box, low, high);
    return result;
}

QELIResult QELXVelmBRepExporter::GetBoundingBoxC(const QELXIdentifier& entity, double low[3], double high[3])
{
    return GetBoundingBoxA(entity, low, high);
}

// ---------------------------------------------------------------------------
// Iso-parameter lines

QELIResult QELXVelmBRepExporter::GetIsoParametricCurves(const QELXIdentifier& face, bool vLines, int count, int& n,
                                                        double*& array)
{
    return isoLines(as<FACE>(face), vLines, count, n, array);
}

QELIResult QELXVelmBRepExporter::GetIsoParametricCurvesPtr(void* face, bool vLines, int count, int& n,
                                                           double*& array)
{
    return isoLines(asPtr<FACE>(face), vLines, count, n, array);
}

QELIResult QELXVelmBRepExporter::ReleaseIsoParametricCurves(double*& array)
{
    delete[] array;
    array = nullptr;
    return 0;
}

QELIResult QELXVelmBRepExporter::ReleaseIsoParametricCurvesPtr(double*& array)
{
    return ReleaseIsoParametricCurves(array);
}

QELIResult QELXVelmBRepExporter::isoLines(FACE* face, bool vLines, int count, int& n, double*& array)
{
    if (!face || !hasSurface(face) || count < 1)
        return kNotFound;
    QELIResult result = 0;
    QELXDynamicArray<double> triples;
    velmInnerCall([&] {
        surface* copy = velm_require(face->geometry()->equation().make_copy());
        ss_curve_record* curves = nullptr;
        ff_header* header = nullptr;
        ENTITY_LIST edges;
        // Whatever a failed line leaves is freed here; its edges go with the frame.
        auto cleanUp = [&] {
            sg_delete_ss_list(curves);
            sg_delete_ff_header(header);
            delete copy;
        };
        try {
            if (face->sense() == REVERSED)
                copy->negate();
            const QELbox faceBox = get_face_box(face);
            QELpar_box parBox;
            sg_get_face_par_box(face, parBox);
            const QELinterval range = vLines ? parBox.u_range() : parBox.v_range();
            const double step = range.length() / (count + 1);
            for (int i = 1; i <= count; ++i) {
                const double value = range.start_pt() + i * step;
                curves = vLines ? sg_surface_v_param_line(*copy, value, faceBox)
                                : sg_surface_u_param_line(*copy, value, faceBox);
                if (curves) {
                    header = sg_trim_curves_to_face(curves, face);
                    sg_make_curve_edges(curves, edges);
                    for (int k = 0, m = edges.count(); k < m; ++k) {
                        const auto* e = static_cast<const EDGE*>(edges[k]);
                        triples.Add(value);
                        triples.Add(e->start_param());
                        triples.Add(e->end_param());
                    }
                    api_del_entity_list(edges);
                    edges.clear();
                }
                sg_delete_ss_list(curves);
                sg_delete_ff_header(header);
            }
        } catch (...) {
            result = kNotFound;
            cleanUp();
            throw;
        }
        cleanUp();
    });
    n = triples.Count() / 3;
    array = new double[static_cast<std::size_t>(triples.Count())];
    for (int i = 0; i < n * 3; ++i)
        array[i] = triples[i];
    return result;
}

// ---------------------------------------------------------------------------
// Persistent numbers

QELIResult QELXVelmBRepExporter::GetPersistentIdPtr(void* entity, int& id)
{
    if (!entity)
        return kNotFound;
    int number = 0;
    const outcome result = velmCall([&] { return api_get_entity_id(static_cast<ENTITY*>(entity), number); });
    if (!result.ok())
        return kNotFound;
    id = number;
    return 0;
}

// ---------------------------------------------------------------------------
// The pointer road

int QELXVelmBRepExporter::GetNumberOfBodiesPtr() { return m_documentTag ? m_documentTag->GetNumberOfSolids() : 0; }

void* QELXVelmBRepExporter::GetBodyPtr(int index) { return m_documentTag ? m_documentTag->GetSolidAt(index) : nullptr; }

int QELXVelmBRepExporter::GetNumberOfLumpsFromBodyPtr(void* body)
{
    const Ve_BodyTag* b = viewOf<Ve_BodyTag, BODY>(body);
    return b ? b->getNumberOfLumps() : 0;
}

void* QELXVelmBRepExporter::GetLumpFromBodyPtr(void* body, int index)
{
    const Ve_BodyTag* b = viewOf<Ve_BodyTag, BODY>(body);
    return b ? b->getLumpAt(index) : nullptr;
}

int QELXVelmBRepExporter::GetNumberOfFacesFromBodyPtr(void* body)
{
    const Ve_BodyTag* b = viewOf<Ve_BodyTag, BODY>(body);
    return b ? b->getNumberOfFaces() : 0;
}

void* QELXVelmBRepExporter::GetFaceFromBodyPtr(void* body, int index)
{
    const Ve_BodyTag* b = viewOf<Ve_BodyTag, BODY>(body);
    return b ? b->getFaceAt(index) : nullptr;
}

int QELXVelmBRepExporter::GetNumberOfFacesFromShellPtr(void* shell)
{
    const Ve_ShellTag* s = viewOf<Ve_ShellTag, SHELL>(shell);
    return s ? s->getNumberOfFaces() : 0;
}

void* QELXVelmBRepExporter::GetFaceFromShellPtr(void* shell, int index)
{
    const Ve_ShellTag* s = viewOf<Ve_ShellTag, SHELL>(shell);
    return s ? s->getFaceAt(index) : nullptr;
}

QELIResult QELXVelmBRepExporter::GetFaceDomainPtr(void* face, double uPair[2], double vPair[2])
{
    const Ve_FaceTag* f = viewOf<Ve_FaceTag, FACE>(face);
    if (!f)
        return kNotFound;
    faceDomain(reinterpret_cast<const FACE*>(f), uPair, vPair);
    return 0;
}

int QELXVelmBRepExporter::GetNumberOfLoopsFromFacePtr(void* face)
{
    const FACE* f = asPtr<FACE>(face);
    return f ? walkCount(f->loop(), nextOf) : 0;
}

void* QELXVelmBRepExporter::GetLoopFromFacePtr(void* face, int index)
{
    const FACE* f = asPtr<FACE>(face);
    return f ? walkAt<LOOP>(f->loop(), nextOf, index) : nullptr;
}

int QELXVelmBRepExporter::GetNumberOfCoedgesFromLoopPtr(void* loop)
{
    const LOOP* l = asPtr<LOOP>(loop);
    return l ? walkCount(l->start(), nextOf) : 0;
}

void* QELXVelmBRepExporter::GetCoedgeFromLoopPtr(void* loop, int index)
{
    const LOOP* l = asPtr<LOOP>(loop);
    return l ? walkAt<COEDGE>(l->start(), nextOf, index) : nullptr;
}

bool QELXVelmBRepExporter::IsLoopDegeneratePtr(void* loop)
{
    const Ve_LoopTag* l = viewOf<Ve_LoopTag, LOOP>(loop);
    return l ? l->isDegenerate() : true;
}

bool QELXVelmBRepExporter::IsOuterLoopPtr(void* loop)
{
    const Ve_LoopTag* l = viewOf<Ve_LoopTag, LOOP>(loop);
    return l ? l->isOuterLoop() : false;
}

void* QELXVelmBRepExporter::GetFaceFromLoopPtr(void* loop)
{
    const LOOP* l = asPtr<LOOP>(loop);
    return l ? l->face() : nullptr;
}

void* QELXVelmBRepExporter::GetEdgeFromCoedgePtr(void* coedge)
{
    const COEDGE* c = asPtr<COEDGE>(coedge);
    return c ? c->edge() : nullptr;
}

void* QELXVelmBRepExporter::GetLoopFromCoedgePtr(void* coedge)
{
    const COEDGE* c = asPtr<COEDGE>(coedge);
    return c ? c->loop() : nullptr;
}

void* QELXVelmBRepExporter::GetPartnerCoedgePtr(void* coedge)
{
    const COEDGE* c = asPtr<COEDGE>(coedge);
    return c ? c->partner() : nullptr;
}

int QELXVelmBRepExporter::GetNumberOfCoedgesFromEdgePtr(void* edge)
{
    const EDGE* e = asPtr<EDGE>(edge);
    return e ? walkCount(e->coedge(), partnerOf) : 0;
}

void* QELXVelmBRepExporter::GetCoedgeFromEdgePtr(void* edge, int index)
{
    const EDGE* e = asPtr<EDGE>(edge);
    return e ? walkAt<COEDGE>(e->coedge(), partnerOf, index) : nullptr;
}

void* QELXVelmBRepExporter::GetStartVertexFromEdgePtr(void* edge)
{
    const EDGE* e = asPtr<EDGE>(edge);
    return e ? e->start() : nullptr;
}

void* QELXVelmBRepExporter::GetEndVertexFromEdgePtr(void* edge)
{
    const EDGE* e = asPtr<EDGE>(edge);
    return e ? e->end() : nullptr;
}

QELIResult QELXVelmBRepExporter::GetEdgeDomainPtr(void* edge, double range[2])
{
    const Ve_EdgeTag* e = viewOf<Ve_EdgeTag, EDGE>(edge);
    if (!e)
        return kNotFound;
    const Gk_Domain d = e->getDomain();
    range[0] = d.low();
    range[1] = d.high();
    return 0;
}

int QELXVelmBRepExporter::GetNumberOfEdgesFromVertexPtr(void* vertex)
{
    const Ve_VertexTag* v = viewOf<Ve_VertexTag, VERTEX>(vertex);
    return v ? v->getNumberOfEdges() : 0;
}

void* QELXVelmBRepExporter::GetEdgeFromVertexPtr(void* vertex, int index)
{
    const Ve_VertexTag* v = viewOf<Ve_VertexTag, VERTEX>(vertex);
    return v ? v->getEdgeAt(index) : nullptr;
}

bool QELXVelmBRepExporter::HasBoundedFacesPtr(void* body)
{
    const BODY* b = asPtr<BODY>(body);
    const LUMP* l = b ? b->lump() : nullptr;
    return l && l->shell() && l->shell()->face() && !IsUnboundedPlaneBodyPtr(body);
}

bool QELXVelmBRepExporter::IsUnboundedPlaneBodyPtr(void* body)
{
    BODY* b = asPtr<BODY>(body);
    return b && QELXVelmBRepAttribTransfer::GetPlaneUnboundedness(b);
}

bool QELXVelmBRepExporter::IsWireBodyPtr(void* body)
{
    const BODY* b = asPtr<BODY>(body);
    if (!b || ve_view<Ve_BodyTag>(b)->isVertexBody())
        return false;
    if (b->wire())
        return true;
    for (const LUMP* l = b->lump(); l; l = l->next())
        for (const SHELL* s = l->shell(); s; s = s->next())
            if (s->wire())
                return true;
    return false;
}

bool QELXVelmBRepExporter::IsVertexBodyPtr(void* body)
{
    const Ve_BodyTag* b = viewOf<Ve_BodyTag, BODY>(body);
    return b && b->isVertexBody();
}

void* QELXVelmBRepExporter::GetEdgeFromBodyPtr(void* body, int index)
{
    const Ve_BodyTag* b = viewOf<Ve_BodyTag, BODY>(body);
    return b ? b->getEdgeAt(index) : nullptr;
}

int QELXVelmBRepExporter::GetNumberOfEdgesFromBodyPtr(void* body)
{
    const Ve_BodyTag* b = viewOf<Ve_BodyTag, BODY>(body);
    return b ? b->getNumberOfEdges() : 0;
}

void* QELXVelmBRepExporter::GetShellFromLumpPtr(void* lump, int index)
{
    const LUMP* l = asPtr<LUMP>(lump);
    return l ? walkAt<SHELL>(l->shell(), nextOf, index) : nullptr;
}

int QELXVelmBRepExporter::GetNumberOfShellsFromLumpPtr(void* lump)
{
    const LUMP* l = asPtr<LUMP>(lump);
    return l ? walkCount(l->shell(), nextOf) : 0;
}

bool QELXVelmBRepExporter::IsOwnerClosedSolidPtr(void* entity)
{
    auto* e = static_cast<ENTITY*>(entity);
    if (!e)
        return false;
    const ENTITY* owner = is_LUMP(e) ? static_cast<LUMP*>(e)->body() : e->owner();
    return is_BODY(owner) && is_closed_solid_body(static_cast<const BODY*>(owner));
}

bool QELXVelmBRepExporter::GetFaceSensePtr(void* face)
{
    const FACE* f = asPtr<FACE>(face);
    return f ? f->sense() == FORWARD : true;
}

Gk_Surface3Handle QELXVelmBRepExporter::GetFaceSurfacePtr(void* face)
{
    const Ve_FaceTag* f = viewOf<Ve_FaceTag, FACE>(face);
    return f ? f->wrappedSurface() : Gk_Surface3Handle();
}

Gk_Surface3Handle QELXVelmBRepExporter::GetFaceAnalyticSurfacePtr(void* face)
{
    const Ve_FaceTag* f = viewOf<Ve_FaceTag, FACE>(face);
    return f ? f->wrappedSurface2() : Gk_Surface3Handle();
}

void* QELXVelmBRepExporter::GetVertexFromDegenerateLoopPtr(void* loop)
{
    const LOOP* l = asPtr<LOOP>(loop);
    if (!l || !l->start() || !ve_view<Ve_LoopTag>(l)->isDegenerate())
        return nullptr;
    return l->start()->start();
}

bool QELXVelmBRepExporter::GetCoedgeSensePtr(void* coedge)
{
    const COEDGE* c = asPtr<COEDGE>(coedge);
    return c && c->sense() == FORWARD;
}

QELXCurve2DHandle QELXVelmBRepExporter::GetCoedgePCurvePtr(void* coedge)
{
    const Ve_CoedgeTag* c = viewOf<Ve_CoedgeTag, COEDGE>(coedge);
    return c ? c->wrappedPCurve() : QELXCurve2DHandle();
}

QELXCurve3DHandle QELXVelmBRepExporter::GetEdgeCurvePtr(void* edge)
{
    const Ve_EdgeTag* e = viewOf<Ve_EdgeTag, EDGE>(edge);
    return e ? e->wrappedCurve() : QELXCurve3DHandle();
}

QELIResult QELXVelmBRepExporter::GetVertexPointPtr(void* vertex, double xyz[3])
{
    const Ve_VertexTag* v = viewOf<Ve_VertexTag, VERTEX>(vertex);
    if (!v)
        return kNotFound;
    const QELXPoint3D p = v->getPoint();
    for (int k = 0; k < 3; ++k)
        xyz[k] = p[k];
    return 0;
}

int QELXVelmBRepExporter::GetNumberOfFreeSurfacesFromBodyPtr(void* body)
{
    const Ve_BodyTag* b = viewOf<Ve_BodyTag, BODY>(body);
    return b && IsUnboundedPlaneBodyPtr(body) ? b->getNumberOfFaces() : 0;
}

void* QELXVelmBRepExporter::GetFreeSurfaceFromBodyPtr(void* body, int index)
{
    const Ve_BodyTag* b = viewOf<Ve_BodyTag, BODY>(body);
    return b && IsUnboundedPlaneBodyPtr(body) ? b->getFaceAt(index) : nullptr;
}

void* QELXVelmBRepExporter::GetLoopFromFace2Ptr(void* face, int index) { return GetLoopFromFacePtr(face, index); }

int QELXVelmBRepExporter::GetNumberOfLoopsFromFace2Ptr(void* face) { return GetNumberOfLoopsFromFacePtr(face); }

QELIResult QELXVelmBRepExporter::GetTypeCodePtr(void* entity, int& code)
{
    code = entity ? 1 : 2;
    return entity ? QELI_OK : kNotFound;
}

int QELXVelmBRepExporter::GetTypeCodeValuePtr(void* entity) { return entity ? 1 : 2; }

void* QELXVelmBRepExporter::GetWireEdgeFromBodyPtr(void* body, int index)
{
    const Ve_BodyTag* b = viewOf<Ve_BodyTag, BODY>(body);
    return b ? b->getWireEdgeAt(index) : nullptr;
}

int QELXVelmBRepExporter::GetNumberOfWireEdgesFromBodyPtr(void* body)
{
    const Ve_BodyTag* b = viewOf<Ve_BodyTag, BODY>(body);
    return b ? b->getNumberOfWireEdges() : 0;
}

void* QELXVelmBRepExporter::GetDotVertexFromBodyPtr(void* body, int index)
{
    const Ve_BodyTag* b = viewOf<Ve_BodyTag, BODY>(body);
    return b ? b->getDotVertexAt(index) : nullptr;
}

int QELXVelmBRepExporter::GetNumberOfDotVerticesFromBodyPtr(void* body)
{
    const Ve_BodyTag* b = viewOf<Ve_BodyTag, BODY>(body);
    return b ? b->getNumberOfDotVertices() : 0;
}
