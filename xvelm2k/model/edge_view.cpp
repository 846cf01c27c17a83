// Edge view.
#include "geometry/curve_adapters.hxx"
#include "model/entity_views.hxx"
#include "model/kernel_call_bracket.hxx"
#include "model/math_types.hxx"
#include "model/memory_init.hxx"
#include "model/views_internal.hxx"
#include "velm/geometry_entity.hxx"

using namespace ve_views;

Ve_VertexTag* Ve_EdgeTag::getStartVertex() const
{
    return ve_view<Ve_VertexTag>(getDef()->start());
}

Ve_VertexTag* Ve_EdgeTag::getEndVertex() const
{
    return ve_view<Ve_VertexTag>(getDef()->end());
}

Ve_CoedgeTag* Ve_EdgeTag::getCoedge() const
{
    return ve_view<Ve_CoedgeTag>(getDef()->coedge());
}

Ve_CurveTag* Ve_EdgeTag::getCurve() const
{
    return ve_view<Ve_CurveTag>(getDef()->geometry());
}

bool Ve_EdgeTag::isForward() const
{
    return getDef()->sense() == FORWARD;
}

bool Ve_EdgeTag::isWire() const
{
    return isWireEdge(getDef());
}

int Ve_EdgeTag::getNumberOfCoedges() const
{
    return walkCount(getDef()->coedge(), partnerOf);
}

Ve_CoedgeTag* Ve_EdgeTag::getCoedgeAt(int i) const
{
    return walkAt<Ve_CoedgeTag>(getDef()->coedge(), partnerOf, i);
}

QELXDynamicArray<Ve_CoedgeTag*> Ve_EdgeTag::getCoedges() const
{
    return walkList<Ve_CoedgeTag>(getDef()->coedge(), partnerOf);
}

Gk_Domain Ve_EdgeTag::getDomain() const
{
    // A range the kernel cannot give leaves the empty starting interval.
    QELinterval range(1.0, 0.0);
    velmCall([&] { range = getDef()->param_range(); });
    return Ve_Domain(range);
}

double Ve_EdgeTag::getDistance(const QELXPoint3D& point) const
{
    const CURVE* c = getDef()->geometry();
    if (!c || !c->has_equation())
        return NoDistance;
    const QELposition p = Ve_Pt3(point);
    QELposition foot;
    QELvector tangent;
    if (velmGuard([&] { c->equation().point_perp(p, foot, tangent, nullptr, nullptr, 0); }) != 0)
        return NoDistance;
    return (p - foot).len();
}

namespace {

QELXCurve3DHandle curveOf(const Ve_EdgeTag* edge, bool mapped)
{
    Ve_CurveTag* curve = edge->getCurve();
    if (!curve || is_DEGENERATE_CURVE(reinterpret_cast<CURVE*>(curve)))
        return QELXCurve3DHandle();
    const Gk_Domain domain = edge->getDomain();
    const QELXBaseCurve3DHandle base(new Ve_BaseCurve(curve, edge->isForward() ? domain : -domain));
    if (!mapped)
        return QELXCurve3D::Create(base);
    Gk_LinMap map;
    if (!edge->isForward())
        map.negate();
    return QELXCurve3D::Create(base, map);
}

} // namespace

QELXCurve3DHandle Ve_EdgeTag::GetCurve() const
{
    return curveOf(this, false);
}

QELXCurve3DHandle Ve_EdgeTag::wrappedCurve() const
{
    return curveOf(this, true);
}

void Ve_EdgeTag::dump(QELXStreamFormatter&)
{
    Gk_ErrMgr::checkAbort();
    Gk_ErrMgr::doAssert("ve_edgetag", __LINE__);
}
