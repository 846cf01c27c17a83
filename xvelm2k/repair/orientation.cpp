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
        // A face is turned only when its loops are wrong as they run and
        // right once every one of them runs the other way, whatever their
        // count (outer loop and holes all reversed): a right face stays,
        // a sphere less its holes included, and so does a face whose fault
        // is one loop's, which turning the face would not mend.
        // Only the check's verdict on the loops counts: a check that failed
        // for another reason says nothing of the face's side. (The checks are
        // API calls of their own, each with its own bracket.)
        int counts[5] = {0, 0, 0, 0, 0};
        if (api_check_face_loops(face, counts).error_number() != qelvelm_api_errmod.message_code(VELM_BAD_FACE_LOOPS))
            continue;
        reverseSense(face);
        if (!api_check_face_loops(face, counts).ok())
            reverseSense(face);
    }
}
