#include "loops/face_regions.hxx"

#include "loops/loop_containment.hxx"
#include "loops/replace_by_surf_int.hxx"
#include "loops/loop_topology.hxx"
#include "model/kernel_call_bracket.hxx"
#include "qelx/qelx_errors.hxx"
#include "qelx/qelx_math.hxx"
#include "velm/geometry.hxx"
#include "velm/query.hxx"
#include "velm/topology.hxx"

using namespace ve_loops;

namespace {

// Two boxes that lie apart in either direction.
bool boxesApart(const QELpar_box& a, const QELpar_box& b)
{
    if (a.empty() || b.empty())
        return false;
    const double fuzz = Gk_Def::FuzzKnot;
    return a.u_range().end_pt() < b.u_range().start_pt() - fuzz || b.u_range().end_pt() < a.u_range().start_pt() - fuzz ||
           a.v_range().end_pt() < b.v_range().start_pt() - fuzz || b.v_range().end_pt() < a.v_range().start_pt() - fuzz;
}

bool surfaceWraps(const FACE* face)
{
    const SURFACE* s = face ? face->geometry() : nullptr;
    if (!s || !s->has_equation())
        return true;
    const surface& srf = s->equation();
    return srf.closed_u() || srf.closed_v() || srf.periodic_u() || srf.periodic_v();
}

} // namespace

bool Ve_LoopElement::computeType()
{
    if (m_typeKnown)
        return true;
    m_typeKnown = true;
    if (!m_loop)
        return true;
    int type = 0;
    double winding = 0.0;
    const outcome typed = velmCall([&] {
        const ps_polygon polygon(m_loop);
        type = polygon.get_type();
        winding = polygon.winding_number();
        FACE* face = m_loop->face();
        // A planar face's only loop: its area says which way it runs.
        if (is_planar_face(face) && face->loop() == m_loop && !m_loop->next()) {
            double area = 0.0, achieved = 0.0;
            if (api_ent_area(face, 0.001, area, achieved).ok()) {
                type = area > 0.0 ? 1 : 2;
                winding = 0.0;
            }
        }
    });
    if (!typed.ok()) {
        m_type = 0;
        m_winding = 0.0;
        return false;
    }
    m_type = type;
    m_winding = winding;
    return true;
}

const QELpar_box& Ve_LoopElement::parameterBox() const
{
    if (!m_boxKnown) {
        m_boxKnown = true;
        QELpar_box box;
        if (velmGuard([&] { box = ve_loops::loopParameterBox(m_loop); }) == 0)
            m_box = box;
    }
    return m_box;
}

Ve_FaceRegionHandle Ve_FaceRegion::adoptSubtree(Ve_ContainmentSetElement* node, FACE* face) const
{
    Ve_FaceRegionHandle region = newRegion(face);
    if (region.IsValid())
        region->setTopNode(node);
    return region;
}

bool Ve_PeripheryOrHoleBndryFaceRegion::wraps() const
{
    if (m_wraps < 0)
        m_wraps = surfaceWraps(face()) ? 1 : 0;
    return m_wraps == 1;
}

int Ve_PeripheryOrHoleBndryFaceRegion::compare(const Ve_BoundaryElement& element, const Ve_BoundaryElement& nodeElement)
{
    LOOP* loop = element.first().loop();
    LOOP* nodeLoop = nodeElement.first().loop();
    // On a face that does not wrap, a loop inside another lies inside its box.
    if (!wraps() && boxesApart(element.first().parameterBox(), nodeElement.first().parameterBox()))
        return 1;
    Ve_PeripheryOrHoleLoopContainment test(nodeLoop, loop);
    bool result = false;
    if (test.encloses(nodeLoop, loop, result) != 0)
        return 3;
    if (result)
        return 2;
    if (test.encloses(loop, nodeLoop, result) != 0)
        return 3;
    return result ? 0 : 1;
}

bool Ve_PeripheryOrHoleBndryFaceRegion::separatingBox(const Ve_BoundaryElement& element, QELpar_box& box) const
{
    if (wraps())
        return false;
    box = element.first().parameterBox();
    return !box.empty();
}

bool Ve_PeripheryOrHoleBndryFaceRegion::classifyLoops()
{
    Ve_ReplaceBySurfInt::getWorkerMap().Clear();
    QELXDynamicArray<Ve_BoundaryElement> elements;
    for (LOOP* loop : faceLoops(face())) {
        Ve_BoundaryElement element(loop);
        element.first().computeType();
        elements.Add(element);
    }
    // On a face that does not wrap, each loop meets only the loops its box meets.
    if (!wraps() && elements.Count() > 8) {
        QELpar_box extent;
        for (const Ve_BoundaryElement& element : elements) {
            const QELpar_box& box = element.first().parameterBox();
            if (!box.empty())
                extent = extent.empty() ? box : extent | box;
        }
        beginIndexedInsertion(extent, elements.Count());
    }
    for (const Ve_BoundaryElement& element : elements)
        insert(element);
    endIndexedInsertion();
    Ve_ReplaceBySurfInt::getWorkerMap().Clear();
    Ve_UpdatePeripheryOrHoleBndryType visitor;
    walk(visitor);
    if (visitor.visited() != count())
        Gk_ErrMgr::raise("Unknown_Error");
    return count() != 0 && !failures();
}

int Ve_SeparationBndryFaceRegion::compare(const Ve_BoundaryElement& element, const Ve_BoundaryElement& nodeElement)
{
    if (element.hasPartner() || nodeElement.hasPartner())
        return 3;
    return Ve_PeripheryOrHoleBndryFaceRegion::compare(element, nodeElement);
}

bool Ve_SeparationBndryFaceRegion::classifyLoops()
{
    const QELXDynamicArray<LOOP*> loops = faceLoops(face());
    QELXDynamicArray<Ve_BoundaryElement> elements;
    for (LOOP* loop : loops)
        elements.Add(Ve_BoundaryElement(loop));
    QELXDynamicArray<Ve_BoundaryElement> separations = ve_loops::separationFilter(elements);
    if (separations.Count() > 2)
        return false;
    if (separations.Count() > 0) {
        Ve_BoundaryElement pair = separations[0];
        if (separations.Count() == 2)
            pair.setPartner(separations[1].first());
        pair.first().computeType();
        insert(pair);
    }
    Ve_ReplaceBySurfInt::getWorkerMap().Clear();
    // Both separation loops are placed already (the second as the pair's partner).
    for (Ve_BoundaryElement& element : elements) {
        bool placed = false;
        for (const Ve_BoundaryElement& s : separations)
            placed = placed || s.first().loop() == element.first().loop();
        if (placed)
            continue;
        element.first().computeType();
        insert(element);
    }
    Ve_ReplaceBySurfInt::getWorkerMap().Clear();
    Ve_UpdateSeparationBndryType visitor;
    walk(visitor);
    if (visitor.visited() != loops.Count() - separations.Count() / 2)
        return false;
    return count() != 0 && !failures();
}

#define VE_REGION_NEW(CLASS)                                                                                           \
    Ve_FaceRegionHandle CLASS::newRegion(FACE* face) const { return Ve_FaceRegionHandle(new CLASS(face)); }
VE_REGION_NEW(Ve_PlanarFaceRegion)
VE_REGION_NEW(Ve_CylindricalFaceRegion)
VE_REGION_NEW(Ve_ConicalFaceRegion)
VE_REGION_NEW(Ve_SphericalFaceRegion)
VE_REGION_NEW(Ve_ToroidalFaceRegion)
#undef VE_REGION_NEW

QELXDynamicArray<Ve_BoundaryElement> ve_loops::separationFilter(QELXDynamicArray<Ve_BoundaryElement>& elements)
{
    QELXDynamicArray<Ve_BoundaryElement> out;
    for (Ve_BoundaryElement& element : elements)
        if (isSeparationType(element.first().type()))
            out.Add(element);
    return out;
}
