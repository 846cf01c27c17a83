// Lump, shell and face views.
#include <algorithm>
#include <vector>

#include "model/document.hxx"
#include "model/entity_views.hxx"
#include "model/kernel_call_bracket.hxx"
#include "model/math_types.hxx"
#include "model/memory_init.hxx"
#include "model/views_internal.hxx"
#include "qelx/qelx_options.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/pcurves.hxx"
#include "velm/query.hxx"

using namespace ve_views;

// ---------------------------------------------------------------------------
// Ve_LumpTag

bool Ve_LumpTag::isSolid() const
{
    const BODY* body = getDef()->body();
    bool closed = false;
    if (body)
        velmGuard([&] { closed = is_closed_solid_body(body); });
    return closed;
}

int Ve_LumpTag::getNumberOfShells() const
{
    return walkCount(getDef()->shell(), nextOf);
}

Ve_ShellTag* Ve_LumpTag::getShellAt(int i) const
{
    return walkAt<Ve_ShellTag>(getDef()->shell(), nextOf, i);
}

QELXDynamicArray<Ve_ShellTag*> Ve_LumpTag::getShells() const
{
    return walkList<Ve_ShellTag>(getDef()->shell(), nextOf);
}

// ---------------------------------------------------------------------------
// Ve_ShellTag

Ve_ShellTag* Ve_ShellTag::getNext() const
{
    return ve_view<Ve_ShellTag>(getDef()->next(0));
}

Ve_FaceTag* Ve_ShellTag::getFace() const
{
    return ve_view<Ve_FaceTag>(getDef()->face());
}

Ve_LumpTag* Ve_ShellTag::getLump() const
{
    return ve_view<Ve_LumpTag>(getDef()->lump());
}

int Ve_ShellTag::getNumberOfFaces() const
{
    if (const QELXDynamicArray<Ve_FaceTag*>* faces = Ve_DocumentTag::CachedShellFaces(this))
        return faces->Count();
    return walkCount(getDef()->face(), nextOf);
}

Ve_FaceTag* Ve_ShellTag::getFaceAt(int i) const
{
    if (const QELXDynamicArray<Ve_FaceTag*>* faces = Ve_DocumentTag::CachedShellFaces(this))
        return Ve_BodyCache::at(*faces, i);
    return walkAt<Ve_FaceTag>(getDef()->face(), nextOf, i);
}

QELXDynamicArray<Ve_EdgeTag*> Ve_ShellTag::getEdges() const
{
    return collect<Ve_EdgeTag, EDGE>(query(api_get_edges, getDef()), isFaceEdge);
}

// ---------------------------------------------------------------------------
// Ve_FaceTag: topology

Ve_ShellTag* Ve_FaceTag::getShell() const
{
    return ve_view<Ve_ShellTag>(getDef()->shell());
}

Ve_SurfaceTag* Ve_FaceTag::getSurface() const
{
    return ve_view<Ve_SurfaceTag>(getDef()->geometry());
}

bool Ve_FaceTag::isForward() const
{
    return getDef()->sense() != REVERSED;
}

int Ve_FaceTag::getNumberOfLoops() const
{
    return walkCount(getDef()->loop(), nextOf);
}

Ve_LoopTag* Ve_FaceTag::getLoopAt(int i) const
{
    return walkAt<Ve_LoopTag>(getDef()->loop(), nextOf, i);
}

QELXDynamicArray<Ve_LoopTag*> Ve_FaceTag::getLoops() const
{
    return walkList<Ve_LoopTag>(getDef()->loop(), nextOf);
}

QELXDynamicArray<Ve_CoedgeTag*> Ve_FaceTag::getCoedges() const
{
    QELXDynamicArray<Ve_CoedgeTag*> out;
    for (Ve_LoopTag* loop : getLoops())
        out.Append(loop->getCoedges());
    return out;
}

QELXDynamicArray<Ve_EdgeTag*> Ve_FaceTag::getEdges() const
{
    return collect<Ve_EdgeTag>(query(api_get_edges, getDef()));
}

int Ve_FaceTag::getNumberOfEdges() const
{
    return countOf(query(api_get_edges, getDef()));
}

Ve_EdgeTag* Ve_FaceTag::getEdgeAt(int i) const
{
    return nthOf<Ve_EdgeTag>(query(api_get_edges, getDef()), i);
}

bool Ve_FaceTag::addLoop(Ve_LoopTag* loop)
{
    if (!loop)
        return true;
    FACE* face = getDef();
    LOOP* former = face->loop();
    LOOP* added = reinterpret_cast<LOOP*>(loop);
    face->set_loop(added, 1);
    added->set_next(former, 1);
    return true;
}

bool Ve_FaceTag::makeSingleSided()
{
    const outcome result = velmCall([&] { getDef()->set_sides(0, 1); });
    return result.ok();
}

double Ve_FaceTag::getDistance(const QELXPoint3D& point, QELXPoint2D* guess, QELXPoint2D* foot) const
{
    const SURFACE* s = getDef()->geometry();
    if (!s || !s->has_equation())
        return NoDistance;
    const QELposition p = Ve_Pt3(point);
    QELposition onSurface;
    QELpar_pos start;
    QELpar_pos actual;
    if (guess)
        start = Ve_Pt2(*guess);
    const outcome result = velmCall([&] { s->equation().point_perp(p, onSurface, guess ? &start : nullptr, &actual, 0); });
    // A failed projection must not read as a point on the face.
    if (!result.ok())
        return NoDistance;
    if (foot)
        *foot = Ve_Pt2(actual);
    return (p - onSurface).len();
}

bool Ve_FaceTag::trim()
{
    const Gk_Option* option = Gk_OptionDoc::fetchOption(Gk_ROString(QELXOptionName::XVelm_TrimFace));
    if (!option || !option->on())
        return false;
    return velmCall([&] { trim_face(getDef(), "none"); }).ok();
}

namespace {

// A singular point of the surface (a cone's apex, a sphere's pole, a
// collapsed end) that every loop of the face holds on its material side
// closes the face without a loop there: the box reaches it along the
// singular direction.
void reachSingularPoints(const FACE* face, const surface& srf, QELpar_box& box)
{
    if (!face->loop() || box.empty())
        return;
    const QELpar_box full = srf.param_range(nullptr);
    const QELinterval& u = box.u_range();
    const QELinterval& v = box.v_range();
    std::vector<std::pair<QELpar_pos, bool>> points; // (parameters, singular in u)
    auto atU = [&](double at) {
        if (srf.singular_u(at))
            points.push_back({QELpar_pos(at, v.mid_pt()), true});
    };
    auto atV = [&](double at) {
        if (srf.singular_v(at))
            points.push_back({QELpar_pos(u.mid_pt(), at), false});
    };
    if (full.u_range().bounded_below())
        atU(full.u_range().start_pt());
    if (full.u_range().bounded_above())
        atU(full.u_range().end_pt());
    if (full.v_range().bounded_below())
        atV(full.v_range().start_pt());
    if (full.v_range().bounded_above())
        atV(full.v_range().end_pt());
    if (srf.type() == 2 && !static_cast<const cone&>(srf).is_cylinder())
        atU(static_cast<const cone&>(srf).apex_u());
    for (const auto& [uv, alongU] : points) {
        const double at = alongU ? uv.u : uv.v;
        const QELinterval& own = alongU ? u : v;
        if (at >= own.start_pt() && at <= own.end_pt())
            continue;
        const QELposition p = srf.eval_position(uv);
        bool inside = true;
        for (const LOOP* l = face->loop(); l && inside; l = l->next())
            inside = point_in_loop(p, l) == pfc_inside;
        if (!inside)
            continue;
        const QELinterval wider(std::min(own.start_pt(), at), std::max(own.end_pt(), at));
        box = alongU ? QELpar_box(wider, v) : QELpar_box(u, wider);
    }
}

// On a surface closed all round (a ring torus) a face without an outer
// loop (holes alone, or a band between loops round the surface) reaches
// past its loops' box: the rest of the surface round the holes, or either
// way round from one band loop to the other. The surface's whole range
// stands for its box there, and where a loop's kind cannot be told (the
// refusal reported).
void reachRoundClosedSurface(const FACE* face, const surface& srf, QELpar_box& box)
{
    if (!face->loop() || !srf.closed_u() || !srf.closed_v())
        return;
    for (const LOOP* l = face->loop(); l; l = l->next()) {
        int type = loop_type_unknown;
        const outcome typed = api_loop_type(l, type);
        reportKernelError(typed.error_number(), "ve_facetag", __LINE__);
        if (typed.ok() && type == loop_type_periphery)
            return;
    }
    box = srf.param_range(nullptr);
}

} // namespace

Gk_Span Ve_FaceTag::getSpan() const
{
    const FACE* face = getDef();
    const SURFACE* s = face->geometry();
    if (!s)
        return Gk_Span();
    QELpar_box box;
    const outcome boxed = velmInnerCall([&] {
        if (sg_get_face_par_box(face, box) && s->has_equation()) {
            reachSingularPoints(face, s->equation(), box);
            reachRoundClosedSurface(face, s->equation(), box);
        }
    });
    if (!boxed.ok()) {
        // The whole surface stands in for the face's box: a wider span than
        // the face's, so the failure is reported, not only absorbed.
        reportKernelError(boxed.error_number(), "ve_facetag", __LINE__);
        if (s->has_equation())
            velmViewGuard("ve_facetag", __LINE__, [&] { box = s->equation().param_range(nullptr); });
    }
    return Ve_Span(box);
}

bool Ve_FaceTag::NeedsLoopAtConicalFaceApex() const
{
    FACE* face = getDef();
    const cone* apexCone = trueConeOf(face);
    if (!apexCone)
        return false;
    int axisLoops = 0;
    // Every kernel refusal below is reported, not only answered "no loop needed".
    walk(face->loop(), nextOf, [&](LOOP* l) {
        int type = loop_type_unknown;
        const outcome typed = api_loop_type(l, type);
        reportKernelError(typed.error_number(), "ve_facetag", __LINE__);
        if (typed.ok() && type == loop_type_v_sep)
            ++axisLoops;
        return true;
    });
    if (axisLoops % 2 == 0)
        return false;
    QELbox faceBox;
    QELposition apex;
    if (!velmViewGuard("ve_facetag", __LINE__, [&] {
            faceBox = get_face_box(face, nullptr, 0, nullptr);
            apex = apexCone->get_apex();
        }))
        return false;
    if (faceBox >> apex)
        return false;
    // The containment test honours the face's bound: widen it to the apex
    // for the test, then put the face's own box back.
    bool inside = false;
    const outcome tested = velmInnerCall([&] {
        face->set_bound(new QELbox(QELbox(apex) | faceBox));
        inside = point_in_face(apex, face, nullptr, nullptr, false, 10) == pfc_inside;
    });
    face->set_bound(new QELbox(faceBox));
    reportKernelError(tested.error_number(), "ve_facetag", __LINE__);
    return inside;
}
