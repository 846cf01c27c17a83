#pragma once
// The two uses of a seam on one face lie a period apart in the surface's
// parameters (the length of its range, for a surface closed without being
// periodic). A pcurve the kernel fits to an edge curve lands in the
// surface's principal range whatever the use, so both uses of a seam come
// out on the same side, and a face across the principal range's edge has
// pcurves on both sides of it; these put each where its loop runs on.
#include <string>
#include <vector>

#include "xvelm2k/export.hxx"

class COEDGE;
class EDGE;
class ENTITY;
class FACE;
class LOOP;
class surface;

// The period of a direction in which the surface closes on itself: its own
// period, or the length of its range when it is closed without being
// periodic (a spline fitted round a turn); 0 when it does not close.
XVELM2KA_API double ve_closing_period(const surface& s, bool u);

// The loop's coedges from its start, when they could walk seams both ways:
// an even number of them, fewer than 64; empty otherwise.
XVELM2KA_API std::vector<const COEDGE*> ve_seam_walk_ring(const LOOP* loop);

// Moves pcurves of the face's loops by whole periods so that each starts
// where the coedge before it in its loop ends (walked from a coedge that is
// not a seam use, whose pcurve stays where it is), and each loop after the
// first lies next to the first rather than whole periods away. All or
// nothing: false when the kernel refused a move, and the face is then as it
// was before the call (the caller says so, naming the face).
XVELM2KA_API bool ve_place_loop_pcurves(FACE* face);
// As above, warning when the kernel refused the placement, naming the face
// by `faceName` (its source's name): the face keeps the pcurves as fitted.
XVELM2KA_API bool ve_place_loop_pcurves(FACE* face, const std::string& faceName);

// The kernel's pcurves fitted to the entity's coedges (a face's, a coedge's:
// sg_add_pcurves_to_entity), then the loops of the faces they bound placed
// as ve_place_loop_pcurves places them: every refit of loop pcurves goes
// through here, so that none leaves a seam's two uses on one side. Throws as
// the kernel's fit does, and the kernel's error when the placement was
// refused (call it inside a bracket, which takes back the fit too).
XVELM2KA_API void ve_add_loop_pcurves(ENTITY* entity);
// The kernel's pcurve fitted afresh to the coedge (sg_add_pcurve_to_coedge,
// in place of any it had), then the loops of its face placed as above: the
// refit of one use goes through here. False, and nothing placed, when the
// kernel fitted none. Throws as ve_add_loop_pcurves.
XVELM2KA_API bool ve_refit_loop_pcurve(COEDGE* coedge);
// A source's pcurve may run along its edge's curve at a parameter of its own
// (a circle given as rational quadratic arcs, whose parameter is the
// circle's angle only at the knots): it lies on the edge at its knots and
// strays between them. Each pcurve of the edge's coedges that strays from
// the edge by more than the edge's tolerance is fitted afresh to the edge
// and moved by whole periods to start where the old one did, so that its
// loop still joins up; on a plane, `dropOnPlanes` leaves the coedge without
// (a plane's parameters follow from any point, and the fit would hold a
// small circle only to the absolute tolerance). One the kernel cannot fit
// is kept as it came (the check names it). Throws as the kernel's fit does
// (call it inside a bracket, which takes back the rest).
XVELM2KA_API void ve_refit_straying_pcurves(EDGE* edge, bool dropOnPlanes);
// The loops of the face the entity (a face, or a coedge of one) bounds placed
// again after its pcurves were made some other way; throws the kernel's error
// when the placement was refused. The placement every refit ends with.
XVELM2KA_API void ve_place_refitted(ENTITY* entity);
