// Loop and coedge views.
#include <memory>

#include "geometry/curve_adapters.hxx"
#include "geometry/surface_view.hxx"
#include "model/entity_views.hxx"
#include "model/kernel_call_bracket.hxx"
#include "model/memory_init.hxx"
#include "model/views_internal.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/pcurves.hxx"
#include "velm/query.hxx"

using namespace ve_views;


// ---------------------------------------------------------------------------
// Ve_LoopTag

Ve_FaceTag* Ve_LoopTag::getFace() const
{
    return ve_view<Ve_FaceTag>(getDef()->face());
}

int Ve_LoopTag::getNumberOfCoedges() const
{
    return walkCount(getDef()->start(), nextOf);
}

Ve_CoedgeTag* Ve_LoopTag::getCoedgeAt(int i) const
{
    return walkAt<Ve_CoedgeTag>(getDef()->start(), nextOf, i);
}

QELXDynamicArray<Ve_CoedgeTag*> Ve_LoopTag::getCoedges() const
{
    return walkList<Ve_CoedgeTag>(getDef()->start(), nextOf);
}

bool Ve_LoopTag::isOuterLoop() const
{
    const FACE* face = getDef()->face();
    if (!face)
        return false;
    if (!face->loop() || !face->loop()->next())
        return true;
    // Neither answer counts unless the kernel gave it, and a refusal is
    // reported: an inner loop is no answer for a loop the kernel could not type.
    int type = loop_type_unknown;
    int external = 0;
    const outcome typed = api_loop_type(getDef(), type);
    reportKernelError(typed.error_number(), "ve_looptag", __LINE__);
    const outcome placed = api_loop_external(getDef(), external);
    reportKernelError(placed.error_number(), "ve_looptag", __LINE__);
    return typed.ok() && placed.ok() && type == loop_type_periphery && external == 1;
}

bool Ve_LoopTag::isDegenerate() const
{
    const COEDGE* c = getDef()->start();
    if (!c || c->next() != c)
        return false;
    if (const cone* apexCone = trueConeOf(getDef()->face()); apexCone && !c->partner()) {
        const VERTEX* v = c->start();
        if (v && v->geometry()) {
            // The apex of a true cone never throws; the guard only keeps a
            // kernel surprise from leaving the view.
            bool atApex = false;
            velmGuard([&] { atApex = same_point(v->geometry()->coords(), apexCone->get_apex(), 10.0 * QELresabs); });
            if (atApex)
                return true;
        }
    }
    return !c->edge() || !c->edge()->geometry();
}

Ve_VertexTag* Ve_LoopTag::getVertex() const
{
    if (!isDegenerate())
        return nullptr;
    return ve_view<Ve_VertexTag>(getDef()->start()->start());
}

void Ve_LoopTag::reverse()
{
    COEDGE* start = getDef()->start();
    for (COEDGE* c = start; c;) {
        COEDGE* oldNext = c->next();
        COEDGE* oldPrevious = c->previous();
        c->set_next(oldPrevious, 0, 1);
        c->set_previous(oldNext, 0, 1);
        if (PCURVE* p = c->geometry())
            p->negate();
        c->set_sense(c->sense() == FORWARD ? REVERSED : FORWARD, 1);
        if (is_TCOEDGE(c)) {
            auto* t = static_cast<TCOEDGE*>(c);
            t->set_param_range(-t->param_range());
            if (CURVE* curve = t->get_3D_curve(); curve && curve->has_equation())
                curve->equation_for_update().negate();
        }
        c = oldNext == start ? nullptr : oldNext;
    }
    // The kernel's remembered loop type belongs to the old direction.
    getDef()->set_classification(0);
}

// ---------------------------------------------------------------------------
// Ve_CoedgeTag

Ve_CoedgeTag* Ve_CoedgeTag::getNext() const
{
    return ve_view<Ve_CoedgeTag>(getDef()->next());
}

Ve_CoedgeTag* Ve_CoedgeTag::getPrevious() const
{
    return ve_view<Ve_CoedgeTag>(getDef()->previous());
}

Ve_CoedgeTag* Ve_CoedgeTag::getPartner() const
{
    return ve_view<Ve_CoedgeTag>(getDef()->partner());
}

Ve_EdgeTag* Ve_CoedgeTag::getEdge() const
{
    return ve_view<Ve_EdgeTag>(getDef()->edge());
}

Ve_LoopTag* Ve_CoedgeTag::getLoop() const
{
    return ve_view<Ve_LoopTag>(getDef()->loop());
}

Ve_FaceTag* Ve_CoedgeTag::getFace() const
{
    const LOOP* loop = getDef()->loop();
    return loop ? ve_view<Ve_FaceTag>(loop->face()) : nullptr;
}

bool Ve_CoedgeTag::isForward() const
{
    return getDef()->sense() == FORWARD;
}

Ve_VertexTag* Ve_CoedgeTag::startVertex() const
{
    const EDGE* e = getDef()->edge();
    return e ? ve_view<Ve_VertexTag>(isForward() ? e->start() : e->end()) : nullptr;
}

Ve_VertexTag* Ve_CoedgeTag::endVertex() const
{
    const EDGE* e = getDef()->edge();
    return e ? ve_view<Ve_VertexTag>(isForward() ? e->end() : e->start()) : nullptr;
}

Ve_PCurveTag* Ve_CoedgeTag::getPCurve() const
{
    PCURVE* p = getDef()->geometry();
    const Ve_FaceTag* face = getFace();
    Ve_SurfaceTag* surface = face ? face->getSurface() : nullptr;
    if (!p || !surface || surface->isApproximated())
        return nullptr;
    return Ve_PCurveTag::view(p);
}

QELXCurve2DHandle Ve_CoedgeTag::GetPCurve() const
{
    Ve_PCurveTag* p = getPCurve();
    if (!p)
        return QELXCurve2DHandle();
    // The coedge's domain already carries its sense: no map.
    return QELXCurve2D::Create(QELXBaseCurve2DHandle(new Ve_BasePCurve(p, getDomain())), Gk_LinMap());
}

Gk_Domain Ve_CoedgeTag::getDomain() const
{
    const Gk_Domain d = getEdge()->getDomain();
    return isForward() ? d : -d;
}

void Ve_CoedgeTag::fixHullDistance()
{
    const COEDGE* c = getDef();
    const PCURVE* p = c->geometry();
    if (!p || !p->has_equation())
        return;
    // The 3-D curve running the coedge's way; an edge without curve has nothing to check against.
    const curve* along = nullptr;
    bool reverse = false;
    if (is_TCOEDGE(c)) {
        const CURVE* own = static_cast<const TCOEDGE*>(c)->get_3D_curve();
        along = own ? own->equation_ptr() : nullptr;
    } else if (const CURVE* edgeCurve = c->edge() ? c->edge()->geometry() : nullptr) {
        along = edgeCurve->equation_ptr();
        reverse = c->sense() != c->edge()->sense();
    }
    if (!along)
        return;
    velmGuard([&] {
        std::unique_ptr<curve> reversed(reverse ? trans_curve(*along, nullptr, 1) : nullptr);
        pcurve equation = p->equation(false);
        equation.check_hull_curve_enclosure(reversed ? *reversed : *along, nullptr, 0, 0, nullptr, 0, nullptr);
    });
}

bool Ve_CoedgeTag::simplifyPCurve(double tolerance)
{
    COEDGE* c = getDef();
    const PCURVE* before = c->geometry();
    if (!before || !before->has_equation())
        return false;
    const outcome result = velmCall([&] { return api_simplify_pcurve(c, tolerance); });
    return result.ok() && c->geometry() != before;
}

void Ve_CoedgeTag::dump(QELXStreamFormatter&)
{
    Gk_ErrMgr::checkAbort();
    Gk_ErrMgr::doAssert("ve_coedgetag", __LINE__);
}
