// Conversions between the kernel's B-spline arrays (full knot vectors) and
// Open CASCADE's (distinct knots with multiplicities). Private to the kernel.
#pragma once

#include <Geom_BSplineCurve.hxx>
#include <Geom_BSplineSurface.hxx>
#include <TColStd_HArray1OfInteger.hxx>
#include <TColStd_HArray1OfReal.hxx>
#include <gp_Pnt.hxx>

#include <vector>

#include "bspline_data.hxx"

gp_Pnt to_gp(const QELposition& p);
QELposition from_gp(const gp_Pnt& p);

// A full knot vector as distinct knots and multiplicities.
void split_knots(const std::vector<double>& full, Handle(TColStd_HArray1OfReal)& k,
                 Handle(TColStd_HArray1OfInteger)& m);

// Both throw Standard_ConstructionError for arrays bs_curve_problem or
// bs_surface_problem refuses.
Handle(Geom_BSplineCurve) to_occ(const bs_curve_data& c);
void from_occ(const Handle(Geom_BSplineCurve)& h, bs_curve_data& c, bool keep_rational);

Handle(Geom_BSplineSurface) to_occ(const bs3_surf_def& s);
// Fills degrees, full knot vectors, points and, when s.rational is set, weights.
void from_occ(const Handle(Geom_BSplineSurface)& h, bs3_surf_def& s);
