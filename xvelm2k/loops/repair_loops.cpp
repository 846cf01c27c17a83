#include "loops/repair_loops.hxx"

#include "loops/loop_repair_agents.hxx"
#include "loops/loop_topology.hxx"
#include "model/entity_views.hxx"
#include "model/kernel_call_bracket.hxx"
#include "qelx/qelx_errors.hxx"
#include "qelx/qelx_math.hxx"
#include "velm/geometry.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/query.hxx"
#include "velm/split.hxx"
#include "velm/topology.hxx"

using namespace ve_loops;

namespace {

// Every coedge of every loop ends where the next one starts.
bool loopsClose(Ve_BodyTag* body)
{
    for (Ve_FaceTag* face : body->getFaces())
        for (LOOP* loop = kernelFace(face)->loop(); loop; loop = loop->next()) {
            bool closes = true;
            const bool bounded = ve_loops::forEachLoopCoedge(loop, [&](COEDGE* c) {
                closes = !c->next() || c->next()->start() == c->end();
                return closes;
            });
            if (!closes || !bounded)
                return false;
        }
    return true;
}

// No edge is used by two more coedges of one sense than of the other.
bool edgeUsesBalance(Ve_BodyTag* body)
{
    for (Ve_EdgeTag* edge : body->getEdges()) {
        int forward = 0, reversed = 0;
        const bool bounded = ve_loops::forEachPartner(reinterpret_cast<EDGE*>(edge)->coedge(), [&](COEDGE* c) {
            (c->sense() == FORWARD ? forward : reversed) += 1;
            return true;
        });
        if (!bounded || forward - reversed > 1 || reversed - forward > 1)
            return false;
    }
    return true;
}

} // namespace

// ---------------------------------------------------------------------------
// Ve_FaceRepairInput

Ve_FaceRepairInput::~Ve_FaceRepairInput() { m_regions.Clear(); }

QELXDynamicArray<Ve_FaceTag*> Ve_FaceRepairInput::getFaces() const
{
    QELXDynamicArray<Ve_FaceTag*> faces(m_clean);
    faces.Append(m_toRepair);
    faces.Append(m_unclassified);
    return faces;
}

Ve_FaceRegionHandle Ve_FaceRepairInput::findRegion(Ve_FaceTag* face) const
{
    Ve_FaceRegionHandle region;
    m_regions.Get(face, region);
    return region;
}

Ve_FaceRegionHandle Ve_FaceRepairInput::getRegion(Ve_FaceTag* face) const
{
    Ve_FaceRegionHandle region;
    if (!m_regions.Get(face, region))
        Gk_ErrMgr::raise("Unknown_Error");
    return region;
}

void Ve_FaceRepairInput::setRegion(Ve_FaceTag* face, const Ve_FaceRegionHandle& region)
{
    if (!m_regions.Set(face, region))
        m_regions.Add(face, region);
}

void Ve_FaceRepairInput::updateLists(const Ve_FaceRegionHandle& region)
{
    if (!region.IsValid())
        return;
    Ve_FaceTag* face = ve_view<Ve_FaceTag>(region->face());
    if (region->isClean()) {
        m_clean.AddUnique(face);
        removeFirst(m_toRepair, face);
    } else {
        m_toRepair.AddUnique(face);
        removeFirst(m_clean, face);
    }
}

// ---------------------------------------------------------------------------
// Ve_RepairLoops

Ve_RepairLoops::Ve_RepairLoops(Ve_BodyTag* body)
{
    if (body && loopsClose(body) && edgeUsesBalance(body)) {
        m_repairable = true;
        splitSphericalFaces(body);
        for (Ve_FaceTag* face : body->getFaces())
            if (faceLoopCount(kernelFace(face)) <= MaxLoops)
                m_faces.Add(face);
    }
    setRepairAgents();
}

Ve_RepairLoops::Ve_RepairLoops(Ve_FaceTag* face)
{
    if (face && faceLoopCount(kernelFace(face)) <= MaxLoops) {
        m_faces.Add(face);
        m_repairable = true;
    }
    setRepairAgents();
}

void Ve_RepairLoops::setRepairAgents()
{
    Ve_LoopRepairAgent& propagation = Ve_LoopRepairAgent::addPropEdgeOnPeriodicFaces();
    Ve_LoopRepairAgent& faceSense = Ve_LoopRepairAgent::repairFaceSenseReversals();
    Ve_LoopRepairAgent& loopReversals = Ve_LoopRepairAgent::repairLoopReversals();
    Ve_LoopRepairAgent& split = Ve_LoopRepairAgent::splitPeripheryLoops();
    m_agents.Clear();
    m_agents.Add(&propagation);
    m_agents.Add(&faceSense);
    m_agents.Add(&loopReversals);
    m_agents.Add(&split);
    propagation.setNext(nullptr);
    faceSense.setNext(&propagation);
    loopReversals.setNext(&faceSense);
    split.setNext(&loopReversals);
}

void Ve_RepairLoops::splitSphericalFaces(Ve_BodyTag* body)
{
    const double pi = Gk_Def::QELXPI;
    for (Ve_FaceTag* view : body->getFaces()) {
        FACE* face = kernelFace(view);
        const surface* srf = faceSurface(face);
        if (!srf || srf->type() != 3)
            continue;
        QELpar_box box;
        if (velmGuard([&] { sg_get_face_par_box(face, box); }) != 0 || box.empty())
            continue;
        // Strictly inside: a face whose longitudes end at -pi or pi is not cut at its own side.
        const bool hasPi = box.v_range() >> pi;
        const bool hasMinusPi = box.v_range() >> -pi;
        if (!hasPi && !hasMinusPi)
            continue;
        // A split the kernel refuses leaves the face whole, and the loops are
        // classified on it as it is: the refusal is answered here, not a
        // failure a watching healing step should take the repair back for.
        const long failuresBefore = kernelFailuresMet();
        if (!velmCall([&] { return api_split_face(face, false, false, hasMinusPi ? -pi : pi); }).ok())
            kernelFailuresAnswered(failuresBefore);
    }
}

Ve_FaceRegionHandle Ve_RepairLoops::createRegion(FACE* face) const
{
    const surface* srf = faceSurface(face);
    if (!face)
        return Ve_FaceRegionHandle();
    switch (srf ? srf->type() : 0) {
    case 1:
        return Ve_FaceRegionHandle(new Ve_PlanarFaceRegion(face));
    case 2:
        if (static_cast<const cone*>(srf)->is_cylinder())
            return Ve_FaceRegionHandle(new Ve_CylindricalFaceRegion(face));
        return Ve_FaceRegionHandle(new Ve_ConicalFaceRegion(face));
    case 3:
        return Ve_FaceRegionHandle(new Ve_SphericalFaceRegion(face));
    case 4:
        return Ve_FaceRegionHandle(new Ve_ToroidalFaceRegion(face));
    default:
        return createSplineRegion(face);
    }
}

Ve_FaceRegionHandle Ve_RepairLoops::createSplineRegion(FACE* face) const
{
    const surface* srf = faceSurface(face);
    if (!srf || srf->type() != 10)
        return Ve_FaceRegionHandle();
    const bool closedU = srf->closed_u(), closedV = srf->closed_v();
    if (closedU && closedV)
        return Ve_FaceRegionHandle(new Ve_ToroidalFaceRegion(face));
    if (!closedU && !closedV)
        return Ve_FaceRegionHandle(new Ve_PlanarFaceRegion(face));
    const QELpar_box range = srf->param_range();
    const QELinterval ends = closedU ? range.v_range() : range.u_range();
    auto singular = [&](double at) { return closedU ? srf->singular_v(at) : srf->singular_u(at); };
    const int singularEnds = (ends.bounded_below() && singular(ends.start_pt()) ? 1 : 0) +
                             (ends.bounded_above() && singular(ends.end_pt()) ? 1 : 0);
    if (singularEnds == 2)
        return Ve_FaceRegionHandle(new Ve_SphericalFaceRegion(face));
    if (singularEnds == 0)
        return Ve_FaceRegionHandle(new Ve_CylindricalFaceRegion(face));
    return Ve_FaceRegionHandle(new Ve_ConicalFaceRegion(face));
}

bool Ve_RepairLoops::classify(Ve_FaceRepairInput& input)
{
    for (Ve_FaceTag* face : m_faces) {
        const Ve_FaceRegionHandle region = createRegion(kernelFace(face));
        input.setRegion(face, region);
        if (!region.IsValid() || !region->classifyLoops())
            input.unclassifiedFaces().Add(face);
        else if (region->isClean())
            input.cleanFaces().Add(face);
        else
            input.facesToRepair().Add(face);
    }
    return true;
}

QELXDynamicArray<Ve_FaceTag*> Ve_RepairLoops::repair(Ve_FaceRepairInput& input)
{
    if (input.facesToRepair().Count() > 0 && m_agents.Count() > 0)
        m_agents[m_agents.Count() - 1]->repair(input);
    return input.getFaces();
}
