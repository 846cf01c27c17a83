// Face and loop orientation: faces whose loops run against their sense are
// turned round, reversed first loops put back, spline faces with a negative
// area get fresh pcurves.
#include "geometry/seam_pcurves.hxx"
#include "model/entity_views.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "repair/post_process_internal.hxx"
#include "repair/post_process_util.hxx"
#include "velm/query.hxx"
#include "velm/spline_conversion.hxx"
#include "velm/tolerant.hxx"

using namespace ve_repair;

namespace {

void reverseSense(FACE* face)
{
    face->set_sense(face->sense() == FORWARD ? REVERSED : FORWARD, 1);
}

// B lies in A: B's first coedge starts inside A, or, when it does not and the
// edge has a curve, the coedge's mid point is.
bool liesIn(const LOOP* b, const LOOP* a)
{
    if (!a || !b || !b->start())
        return true;
    const COEDGE* c = b->start();
    if (point_in_loop(coedge_start_pos(c), a) == pfc_inside)
        return true;
    const EDGE* e = c->edge();
    if (!e || !e->geometry() || !e->geometry()->has_equation())
        return false;
    const QELinterval r = edge_curve_range(e);
    const QELposition mid = e->geometry()->equation().eval_position(r.interpolate(0.5));
    return point_in_loop(mid, a) == pfc_inside;
}

} // namespace

bool Ve_PostProcessUtil::correctFaceSense(FACE* face)
{
    if (!body || !face || !is_planar_face(face))
        return false;
    double area = 0.0;
    if (!faceArea(face, area))
        return false;
    if (area < 0.0)
        reverseSense(face);
    return true;
}

bool Ve_PostProcessUtil::correctLoopSense(FACE* face)
{
    if (!body || !face)
        return false;
    if (Ve_OptionDoc::isOn(Ve_OptionDoc::AcceptBadData) && !face->geometry())
        return false;
    int counts[5] = {0, 0, 0, 0, 0};
    if (api_check_face_loops(face, counts).ok())
        return true;
    double area = 0.0;
    if (!faceArea(face, area))
        return false;
    if (area < 0.0 && face->loop())
        face->loop()->reverse();
    return true;
}

bool Ve_PostProcessUtil::CorrectFaceAreaProblem()
{
    if (!body)
        return false;
    for (FACE* face : bodyFaces(kernelBody())) {
        if (!splineOf(face))
            continue;
        double area = 0.0;
        if (!faceArea(face, area) || !(area < 0.0))
            continue;
        velmInnerCall([&] {
            sg_rm_pcurves_from_entity(face, 0, 0);
            ve_add_loop_pcurves(face);
        });
    }
    return true;
}

void Ve_PostProcessUtil::fixFaceLoops()
{
    if (!body)
        return;
    for (FACE* face : bodyFaces(kernelBody())) {
        // A face without surface or loop cannot be judged; the others still can.
        if (!face->geometry() || !face->loop())
            continue;
        std::vector<LOOP*> loops;
        for (LOOP* l = face->loop(); l; l = l->next())
            loops.push_back(l);
        if (loops.size() >= 2) {
            velmInnerCall([&] {
                int misses = 0;
                for (std::size_t i = 0; i < loops.size(); ++i)
                    for (std::size_t j = i + 1; j < loops.size(); ++j) {
                        misses += liesIn(loops[j], loops[i]) ? 0 : 1;
                        misses += liesIn(loops[i], loops[j]) ? 0 : 1;
                    }
                if (misses == int(loops.size()))
                    reverseSense(face);
            });
        } else {
            velmInnerCall([&] {
                if (ps_polygon(loops[0]).get_type() == loop_type_hole)
                    reverseSense(face);
            });
        }
    }
}
