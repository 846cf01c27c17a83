// Cone faces whose edges miss the apex: their approximate intersection curves
// become exact B-spline curves with fresh pcurves and tolerances.
#include "geometry/seam_pcurves.hxx"
#include "model/entity_views.hxx"
#include "repair/post_process_internal.hxx"
#include "repair/post_process_util.hxx"
#include "velm/bspline.hxx"
#include "velm/insanity.hxx"
#include "velm/query.hxx"
#include "velm/spline_conversion.hxx"
#include "velm/tolerance_update.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology_api.hxx"

using namespace ve_repair;

void Ve_PostProcessUtil::CheckAndFixNullEdgeAtApexProb()
{
    if (!body)
        return;
    for (FACE* face : bodyFaces(kernelBody())) {
        if (!is_conical_face(face) || is_cylindrical_face(face))
            continue;
        bool apexFault = false;
        const bool checked = velmInnerCall([&] {
                                 insanity_list* found = sg_check_conical_face(face);
                                 apexFault = found->exist(qelvelm_insanity_errmod.message_code(insanity_bad_apex_edge));
                                 delete found;
                             }).ok();
        if (!checked || !apexFault)
            continue;
        ENTITY_LIST edges;
        api_get_edges(face, edges);
        // In a bracket rather than a bare guard: a failure half way would
        // leave some edges on new curves without pcurves or tolerances.
        velmInnerCall([&] { ReplaceEdgeCrvWithExactIntCurves(edges); });
    }
}

void Ve_PostProcessUtil::ReplaceEdgeCrvWithExactIntCurves(const ENTITY_LIST& edges)
{
    std::vector<EDGE*> replaced;
    for (EDGE* edge : ve_repair::listed<EDGE>(edges)) {
        const intcurve* ic = intcurveOf(edge);
        if (!ic || ic->get_int_cur().id() == exact_int_cur::id || !ic->cur())
            continue;
        intcurve exact(bs3_curve_copy(ic->cur()), QELresabs);
        if (ic->reversed())
            exact.negate();
        edge->set_geometry(nullptr, 1, 1);
        edge->set_geometry(make_curve(exact), 1, 1);
        replaced.push_back(edge);
    }
    for (EDGE* edge : replaced) {
        ENTITY_LIST coedges;
        const outcome listed = api_get_coedges(edge, coedges);
        if (!listed.ok())
            sys_error(listed.error_number());
        for (COEDGE* c : ve_repair::listed<COEDGE>(coedges)) {
            sg_rm_pcurves_from_entity(c, 0, 1);
            ve_refit_loop_pcurve(c);
        }
        for (VERTEX* v : {edge->start(), edge->end()})
            if (v && is_TVERTEX(v))
                static_cast<TVERTEX*>(v)->set_update(1);
        if (is_TEDGE(edge))
            update_edge_tolerance(static_cast<TEDGE*>(edge), 0);
        else
            tolerateOrUndo(edge, true);
    }
}
