#pragma once
// Shared by the trim classes: their assertion and allocation source, the
// tolerances of the road, the curve-to-source-edge map's operations and the
// kernel work behind segments (visible where the tests drive it).
#include <string>

#include "qelx/gk_maps.hxx"
#include "qelx/gk_partition.hxx"
#include "qelx/qelx_identifier.hxx"
#include "velm/bspline.hxx"
#include "velm/geometry.hxx"
#include "xvelm2k/export.hxx"

class CURVE;
class FACE;
class Gk_Option;
class PCURVE;
class QELXBRepExporter;
class SURFACE;
class Ve_CurveTag;
class Ve_PCurveTag;
class Ve_SurfaceTag;

// Assertions and tracked allocations of the trim road name this source.
inline constexpr const char* kTrimSource = "ve_trimfacecntl";
// Cosine of the largest turn a segment may take without being cut.
inline constexpr double kTrimTangentBreakCosine = 0.866;

inline CURVE* trimCurveEntity(Ve_CurveTag* c) { return reinterpret_cast<CURVE*>(c); }
inline PCURVE* trimPCurveEntity(Ve_PCurveTag* p) { return reinterpret_cast<PCURVE*>(p); }
inline SURFACE* trimSurfaceEntity(Ve_SurfaceTag* s) { return reinterpret_cast<SURFACE*>(s); }
inline Ve_CurveTag* trimCurveView(CURVE* c) { return reinterpret_cast<Ve_CurveTag*>(c); }
inline Ve_PCurveTag* trimPCurveView(PCURVE* p) { return reinterpret_cast<Ve_PCurveTag*>(p); }

// Whether edges take anything from their source edges: every attribute
// (TransferAttribute), or the PID or PName alone (edge bit 2 of those options).
bool trimEdgeAttributesWanted();
// The option's count has the edge bit (2) set.
bool trimEdgeBitSet(const Gk_Option* option);

// The curve-to-source-edge map (Ve_TrimFaceCntl::_velmCurveSourceEdgeMap).
void trimCurveMapInsert(CURVE* curve, const QELXIdentifier& edge);
bool trimCurveMapFind(CURVE* curve, QELXIdentifier& edge);
void trimCurveMapErase(CURVE* curve);

// Why the source face cannot be built, when a number it is built from is not
// finite (a coedge's domain, the point of a vertex its edges end at): the
// warning text naming the face and the entity; empty when all are numbers.
// NaN passes every "is the gap too large" test, so it is refused here, before
// any of it is read into a loop.
std::string trimNonFiniteInput(const QELXIdentifier& face, QELXBRepExporter* exporter);

// Whether a face without loops is its whole surface, bounded: a sphere, a
// torus, or a spline closed on itself (closed, or ending in poles, in each
// direction). Any other face needs loops to bound it.
bool trimFaceBoundsItself(const FACE* face);

// The gap above which the ends of trimming segments do not meet: QELresabs,
// or the value of the option TrimCurveGapTolerance where it is set.
double trimGapTolerance();

// Knot partition of a 2-D B-spline, clamped when its first degree + 1 knots agree.
Gk_Partition knotPartitionOfBs2(bs2_curve bs2);
// The B-spline's box is smaller than tol in both u and v.
bool trimBs2Degenerate(bs2_curve bs2, double tol);

// The kernel's check (with fixes) of a curve imported for a segment, skipped
// for curves shorter than 100 x QELresabs over their range, or over the
// segment's domain (in the curve's parameter) where their range is infinite.
// True when the check ran.
XVELM2KA_API bool checkImportedCurve(curve& c, const Gk_Domain& domain);
// First and last control points within QELresabs of a singular end of the
// surface's range move exactly onto it.
XVELM2KA_API void snapPCurveEndsToPoles(bs2_curve bs2, const surface& srf);

// The space curve of a pcurve on its surface, as a parameter-space intcurve
// that keeps the pcurve: the exact iso line where the pcurve is one, else a
// piecewise interpolation sampled span by span. Null when nothing was built.
XVELM2KA_API intcurve* trimSpaceCurveFromPCurve(const pcurve& pc);
// The exact iso line of the surface that the pcurve runs along, over the
// pcurve's range; null when the pcurve is no iso line or the surface has none.
XVELM2KA_API bs3_curve trimIsoCurveOfPCurve(const pcurve& pc);
