// Single clean-up operations of a body: manifold pieces, vertex merges,
// scribe edges, apex edges and analytic-surface records.
#include "heal/heal_internal.hxx"
#include "model/entity_views.hxx"
#include "model/kernel_call_bracket.hxx"
#include "persist/brep_attrib_transfer.hxx"
#include "repair/face_repairs.hxx"
#include "repair/post_process_internal.hxx"
#include "repair/post_process_util.hxx"
#include "repair/vertex_util.hxx"
#include "velm/body_heal.hxx"
#include "velm/topology_api.hxx"

namespace {

// The separated pieces of one body appended; the body itself when the kernel
// cannot separate it, so that no piece is lost.
void separateBodyInto(BODY* body, QELXDynamicArray<Ve_EntityTag*>& result)
{
    int count = 0;
    BODY** pieces = nullptr;
    const bool ok = velmCall([&] { return api_separate_body(body, count, pieces); }).ok();
    if (!ok || !pieces) {
        result.Add(ve_view<Ve_EntityTag>(body));
    } else {
        for (int i = 0; i < count; ++i)
            result.Add(ve_view<Ve_EntityTag>(pieces[i]));
    }
    delete[] pieces;
}

} // namespace

QELXDynamicArray<Ve_EntityTag*> Ve_BodyTag::unstitchNonManifold()
{
    QELXDynamicArray<Ve_EntityTag*> result;
    BODY* body = getDef();
    BODY* parts[4] = {};
    const bool unstitched = velmCall([&] {
                                const outcome flat = api_flatten_body(body);
                                if (!flat.ok())
                                    return flat;
                                return api_unstitch_nonmani(body, parts[0], parts[1], parts[2], parts[3]);
                            }).ok();
    if (!unstitched) {
        result.Add(this);
    } else {
        for (int k = 0; k < 3; ++k)
            if (parts[k])
                separateBodyInto(parts[k], result);
        if (parts[3])
            result.Add(ve_view<Ve_EntityTag>(parts[3]));
        // The kernel emptied the body; what it held is in the pieces.
        velmCall([&] { return api_del_entity(body); });
    }
    for (int i = 0; i < result.Count(); ++i) {
        Ve_BodyTag* piece = reinterpret_cast<Ve_BodyTag*>(result[i]);
        if (unstitched && piece->isNonManifold() == Manifold) {
            const QELXDynamicArray<Ve_FaceTag*> faces = piece->getFaces();
            for (int f = 0; f < faces.Count(); ++f)
                faces[f]->makeSingleSided();
        }
        BODY* kernelPiece = reinterpret_cast<BODY*>(piece);
        velmCall([&] { return api_clean_body(kernelPiece); });
    }
    return result;
}

void Ve_BodyTag::mergeVertices()
{
    Ve_VertexUtil(getDef()).removeRedundantVertices();
}

void Ve_BodyTag::remDuplVerticesByReplaceVert()
{
    ENTITY_LIST shells;
    raiseFailure(api_get_shells(getDef(), shells));
    Ve_VertexUtil util(getDef());
    if (shells.count() == 0) {
        util.remEntityDuplVerticesByReplaceVert(getDef());
        return;
    }
    for (SHELL* s : ve_repair::listed<SHELL>(shells))
        util.remEntityDuplVerticesByReplaceVert(s);
}

void Ve_BodyTag::remDuplVerticesByChangeVertGeom()
{
    Ve_VertexUtil(getDef()).remDuplVerticesByChangeVertGeom();
}

void Ve_BodyTag::removeScribes(bool cleanFirst)
{
    if (getDef())
        removeScribeEdges(this, cleanFirst);
}

void Ve_BodyTag::CheckAndFixNullEdgeAtConicalApex()
{
    Ve_PostProcessUtil(this).CheckAndFixNullEdgeAtApexProb();
}

void Ve_BodyTag::attachAnalyticSurfaceAsAttribOnFaces()
{
    ENTITY_LIST faces;
    velmCall([&] { return api_get_faces(getDef(), faces); });
    for (FACE* face : ve_repair::listed<FACE>(faces)) {
        const SURFACE* s = face->geometry();
        if (!s || !s->has_equation())
            continue;
        const int kind = s->equation().type();
        if (kind < 1 || kind > 4)
            continue;
        ENTITY* copy = nullptr;
        if (!velmCall([&] { return api_copy_entity(s, copy); }).ok() || !copy)
            continue;
        // A copy the face does not take would be left over.
        if (!QELXVelmBRepAttribTransfer::setAnalyticSurface(face, copy))
            velmCall([&] { return api_del_entity(copy); });
    }
}
