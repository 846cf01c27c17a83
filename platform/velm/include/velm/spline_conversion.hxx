// Faces put on B-spline surfaces, and the pcurves that go with them.
#pragma once

#include "velm/bspline.hxx"
#include "velm/errors.hxx"
#include "velm/topology.hxx"

// Removes the pcurves of every coedge in the entity (coedge, edge, face,
// shell, lump or body): with spline_faces_only only on faces whose surface is
// a spline; with keep_tolerant not those of tolerant coedges.
void sg_rm_pcurves_from_entity(ENTITY* e, int spline_faces_only = 0, int keep_tolerant = 0);
// Every coedge in the entity that has none gets a pcurve fitted to its edge
// curve on its face's surface (reversed for a coedge against its edge);
// coedges without an edge curve or face surface, and fits that fail, get none.
void sg_add_pcurves_to_entity(ENTITY* e);

// A B-spline of the face's surface over the face's parameter box within tol;
// `achieved` receives the error reached. Fails for a face without surface.
outcome api_accurate_bs3_approximation(const FACE* face, double tol, bs3_surface& result,
                                       double* achieved = nullptr);
// Every face of the entity (a face, or any entity holding faces) moves onto
// a spline surface: analytic surfaces become their exact rational forms,
// procedural splines their B-splines; parameters change, so the pcurves are
// fitted afresh. out is the entity itself.
outcome api_convert_to_spline(ENTITY* in, ENTITY*& out);
