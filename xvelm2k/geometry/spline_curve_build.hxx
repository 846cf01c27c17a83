#pragma once
// The B-spline curve road shared by the curve translator, the edge curve
// creator and the curve importer: a framework definition becomes a kernel
// B-spline and intcurve, repaired where other systems' splines go wrong, and
// then fitted to its edge (vertex snap, pcurves, range, an intcurve over the
// edge's faces).
//
// Ownership: `crv` is an intcurve that owns the B-spline `bs3` points at (the
// B-spline is never freed on its own while the curve holds it).
#include <functional>

#include "qelx/gk_bspline.hxx"
#include "qelx/gk_maps.hxx"
#include "qelx/qelx_math.hxx"
#include "qelx/qelx_result.hxx"
#include "velm/bspline.hxx"
#include "velm/geometry.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/topology.hxx"
#include "xvelm2k/export.hxx"

class Ve_CrvApproxUtil;

namespace ve_spline_curve {

// The surface entity of the coedge's face (through its loop) when it has an
// equation; null otherwise.
const SURFACE* coedgeFaceSurface(const COEDGE* coedge);

// Exporter NURBS arrays that can make a definition: all present, sizes
// sane, multiplicities >= 0 adding up to count + degree + 1.
bool nurbsArraysFit(int degree, int count, const double* ctrlPts, int knotCount, const double* knots,
                    const int* mults);

// Reads a curve or pcurve's NURBS arrays through `get` (an exporter's
// Get...Data call: degree, count, points, knot count, knots, multiplicities,
// weights, form), makes the definition when they fit and hands them back
// through `release` in every case. The exporter's answer, or 0x1000001 when
// it answered success with arrays that cannot make a definition.
template <class Def, class Get, class Release>
QELIResult readNurbsDefinition(Get&& get, Release&& release, Def& def)
{
    int degree = 0, count = 0, knotCount = 0, form = 0;
    double* ctrlPts = nullptr;
    double* knots = nullptr;
    int* mults = nullptr;
    double* weights = nullptr;
    const QELIResult read = get(degree, count, ctrlPts, knotCount, knots, mults, weights, form);
    // The answer is tested before the arrays are read.
    const bool usable = read == 0 && nurbsArraysFit(degree, count, ctrlPts, knotCount, knots, mults);
    if (usable)
        def = Def(degree, count, ctrlPts, knotCount, knots, mults, weights, form == 2 || form == 3);
    release(ctrlPts, knots, mults, weights);
    if (read != 0)
        return read;
    return usable ? 0 : 0x1000001;
}

// bs3_curve_knottol(), or the KnotTol option when UseDifferentKnotTol is on.
double knotTolerance();

// Every coordinate, knot and weight finite, weights > 0, degree >= 1, at
// least 2 and degree + 1 control points, n + p + 1 non-decreasing knots.
bool definitionUsable(const QELXBSplineDef3D& def);
bool definitionUsable(const QELXBSplineDef2D& def);

// The G1 check and repair (CheckAndFixG13dCrv, MakeG13dCrvAlways) for degree >= 2.
void repairG1(QELXBSplineDef3D& def);

// 0 open, 1 closed (periodic but clamped and not G1 at the seam), 2 periodic.
int closureOf(const QELXBSplineDef3D& def);

// Builds bs3 and crv from the definition: G1 repair unless skipped, the map
// applied to the definition (changed in place), control points moved by the
// morph, FixCrvSelfIntxn rebuilds. Data the kernel cannot take builds nothing.
// Kernel errors propagate after the temporary arrays are freed.
void buildCurve(QELXBSplineDef3D& def, const Gk_LinMap& map, const QELXMorph3D& morph, bool skipG1, bs3_curve& bs3,
                curve*& crv);

// bs3_curve_check reports coincident control points (status 6) first. A
// check the kernel cannot run raises its error.
XVELM2KA_API bool hasCoincidentControlPoints(bs3_curve bs3, const curve* crv);

// A periodic rebuild of a closed, clamped B-spline with equal end tangents;
// null when it cannot be made.
bs3_curve makePeriodicBs3(bs3_curve b);

// The intcurve over the B-spline with up to two surfaces and pcurves: 0 built
// (result set, owning the B-splines), 1 not built (nothing taken), -1 kernel
// error (the B-splines freed: the kernel's construction takes them from the
// start, so that a failed one leaks nothing).
int buildIntcurve(bs3_curve bs3, double fit, const surface* s1, const surface* s2, bs2_curve p1, bs2_curve p2,
                  intcurve*& result);

// A pcurve's B-spline (a copy the caller owns, replaced when cut) onto its
// edge's range. Pcurves run on their edge's parameter, so one that runs on
// past the range (a file's pcurve may go on to its surface's edge, or over
// the rest of a circle, where its edge stops short) is cut to it, moved by
// whole periods of a periodic edge curve (`period`, 0 for none) where the
// edge's range was; one on other parameters is reparameterised onto it. The
// ends tell which: the surface's points (on `on`, the pcurve's offset added)
// at the ends of each candidate, the nearest to the edge's ends wins. Without
// an edge or surface it is reparameterised.
void pcurveOntoRange(bs2_curve& pc, const QELinterval& range, const EDGE* edge, const surface* on, double period,
                     const QELpar_vec& offset = QELpar_vec());

// The coedge's pcurve taken from the edge's intcurve (the surface index that
// matches the face's surface). False when there is nothing to take; an edge
// whose curve is not an intcurve is reported under the caller's source and line.
bool attachPCurveFromIntcurve(COEDGE* coedge, FACE* face, const char* source = "ve_curvexltr", int line = 1285);

// Closed-edge vertex snap onto the curve's point at the domain's start: both
// ends or neither; a kernel error raises (call it inside a bracket).
XVELM2KA_API void snapClosedEdgeVertices(EDGE* edge, const Gk_Domain& domain);

// A periodic definition imported onto an open edge covering only part of it.
// A kernel error raises.
XVELM2KA_API bool needsClosedReimport(EDGE* edge, const Gk_Domain& domain, const QELXBSplineDef3D& def);

// Steps after the curve is on the edge: pcurves for every coedge, range
// repair, an intcurve over the edge's faces (replacing crv, bs3 following it;
// `install` then puts the new curve on the edge) and the coedges' pcurves
// taken from it, ranges fixed last.
void fitToEdge(EDGE* edge, const Gk_Domain& domain, curve*& crv, bs3_curve& bs3,
               const std::function<void()>& install);

// A closed, not periodic intcurve whose range the domain (negated for a
// reversed edge) overruns by more than 0.01 is rebuilt periodic. True when
// the test applied (changed says whether the curve was replaced).
bool makePeriodicOverDomain(EDGE* edge, const Gk_Domain& domain, curve*& crv, bs3_curve& bs3, bool& changed);

// An edge's spline whose definition is not periodic has one range. A range
// past it on a curve whose ends meet (a whole turn from another start, or a
// piece across the ends, as a source whose closed curves are periodic gives
// it) is run on the same points by the curve begun at the range's start: its
// pieces either side of that point joined the other way round, over `range`
// (the curve's parameters) and its length's rest of a turn. The curve keeps
// its form (open or closed, never made periodic) and every point. True when
// the edge's curve was replaced; false when the range lies on the curve
// (within QELresabs), is longer than a turn, or the curve does not close.
// A periodic curve is left as it is, unless `periodicToo`: then it is begun
// anew the same way and stays periodic. Kernel errors raise (call it inside
// a bracket).
XVELM2KA_API bool startClosedSplineAt(EDGE* edge, const QELinterval& range, bool periodicToo = false);

// An ellipse on an edge as an intcurve over the domain (negated for a
// reversed edge) when it is huge (major axis above QELresabs / QELresmch) or
// a tiny arc (domain below 0.0006 with ends within QELresabs). True when crv
// was replaced.
bool approximateEllipse(EDGE* edge, const Gk_Domain& domain, curve*& crv, bool tinyArcs);

// A kernel 2-D B-spline of the definition with every control point taken
// through `uvMap`: rational when the definition is (or always), closed and
// periodic as given. Null when the data cannot make one.
bs2_curve bs2FromDefinition(const QELXBSplineDef2D& def, bool alwaysRational, bool closed, bool periodic,
                            double knotTol, const std::function<QELXPoint2D(const QELXPoint2D&)>& uvMap);

// Removes the edge's curve and every coedge's pcurve (before a re-import).
void clearEdgeGeometry(EDGE* edge);

} // namespace ve_spline_curve
