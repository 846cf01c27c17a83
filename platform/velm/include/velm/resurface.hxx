// Refitting a face's spline surface.
#pragma once

#include "velm/errors.hxx"
#include "velm/options.hxx"
#include "velm/topology.hxx"

// The face's spline surface becomes a bicubic B-spline interpolating the old
// surface on a grid of its parameters, with its end derivatives and twists:
// the grid starts at the old surface's distinct knots, which reproduces a
// cubic surface exactly, and is refined until every cell centre lies within
// QELresabs. Boundary rows that collapse become poles. Parameters are kept,
// so the face's pcurves are fitted again on the new surface. new_face is the
// face itself. Fails for
// a face that is not on a spline or a surface the grid cannot meet.
outcome api_spline_resurface(FACE*& new_face, FACE* face, resurface_options* options = nullptr);
