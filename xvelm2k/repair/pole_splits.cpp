// Edges through a pole of their face's surface are split there; coedges the
// kernel's coedge check finds out of tolerance get tolerant vertices or edges.
#include <algorithm>

#include "geometry/seam_pcurves.hxx"
#include "model/entity_views.hxx"
#include "repair/post_process_internal.hxx"
#include "repair/post_process_util.hxx"
#include "velm/insanity.hxx"
#include "velm/options.hxx"
#include "velm/query.hxx"
#include "velm/split.hxx"
#include "velm/tolerance_update.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology_api.hxx"

using namespace ve_repair;

namespace {

double endTolerance(const VERTEX* v)
{
    return v && is_TVERTEX(v) ? v->get_tolerance() : QELresabs;
}

// A fresh pcurve in place of the coedge's, when it has one, placed round
// the surface's period to join its loop.
void refitPcurve(COEDGE* c)
{
    if (!c || !c->geometry())
        return;
    c->set_geometry(nullptr, 1);
    ve_refit_loop_pcurve(c);
}

} // namespace

void Ve_PostProcessUtil::splitEdgesAtPole()
{
    if (!body)
        return;
    for (FACE* face : bodyFaces(kernelBody())) {
        SURFACE* s = face->geometry();
        if (!s || !s->has_equation())
            continue;
        QELposition poles[2];
        const int n = sg_surface_get_poles(s->equation(), poles);
        for (int i = 0; i < n; ++i) {
            ENTITY* at = nullptr;
            if (!sg_point_on_boundary(face, poles[i], QELresabs, at) || !at || !is_COEDGE(at))
                continue;
            auto* c = static_cast<COEDGE*>(at);
            EDGE* e = c->edge();
            if (!e)
                continue;
            const double ts = endTolerance(c->start());
            const double te = endTolerance(c->end());
            if (!(distance(poles[i], c->start_pos()) > ts + QELresabs) ||
                !(distance(poles[i], c->end_pos()) > te + QELresabs))
                continue;
            APOINT* point = VELM_MAKE(APOINT, poles[i]);
            VERTEX* v = is_TEDGE(e) ? VELM_MAKE(TVERTEX, point, 0.0) : VELM_MAKE(VERTEX, point);
            sg_split_edge_at_vertex(e, v, nullptr, 0);
            refitPcurve(c);
            refitPcurve(c->sense() == FORWARD ? c->next() : c->previous());
        }
    }
}

void Ve_PostProcessUtil::removeCoedgeTolErrors()
{
    if (!body)
        return;
    option_header* level = find_option("check_level");
    const int kept = level ? (level->type() == option_int ? level->count() : 0) : 0;
    if (level)
        level->set(30);
    ENTITY_LIST coedges;
    const bool listed = velmCall([&] { return api_get_coedges(kernelBody(), coedges); }).ok();
    if (listed && coedges.count() > 0) {
        const auto code = [](int entry) { return qelvelm_insanity_errmod.message_code(entry); };
        std::vector<COEDGE*> walk = ve_repair::listed<COEDGE>(coedges);
        std::vector<COEDGE*> skip;
        for (COEDGE* c : walk) {
            if (std::find(skip.begin(), skip.end(), c) != skip.end())
                continue;
            int id = -1;
            const bool checked = velmInnerCall([&] {
                                     insanity_list* found = sg_check_coedge(c);
                                     id = found->first() ? found->first()->get_insane_id() : -1;
                                     delete found;
                                 }).ok();
            if (!checked || id == -1)
                continue;
            if (id == code(insanity_coedge_start_off) || id == code(insanity_coedge_end_off)) {
                VERTEX* v = id == code(insanity_coedge_start_off) ? c->start() : c->end();
                TVERTEX* tv = nullptr;
                velmCall([&] { return api_replace_vertex_with_tvertex(v, tv); });
            } else if (id == code(insanity_start_vertex_tol) || id == code(insanity_end_vertex_tol)) {
                VERTEX* v = id == code(insanity_start_vertex_tol) ? c->start() : c->end();
                velmInnerCall([&] { update_vertex_tolerance(v, 0); });
            } else if (id == code(insanity_coedge_off_edge)) {
                ENTITY_LIST around;
                TEDGE* te = nullptr;
                const bool done = velmCall([&] {
                                      outcome r = api_get_coedges(c->edge(), around);
                                      return r.ok() ? api_replace_edge_with_tedge(c->edge(), te) : r;
                                  }).ok();
                if (done)
                    for (COEDGE* other : ve_repair::listed<COEDGE>(around))
                        skip.push_back(other);
            }
        }
    }
    if (level)
        level->set(kept);
    velmGuard([&] { stch_check_and_fix_tedges_in_entity(kernelBody()); });
}
