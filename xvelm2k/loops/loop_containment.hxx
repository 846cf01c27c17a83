#pragma once
// Whether one loop of a face encloses another, in the face's parameter
// space, without trusting either loop's orientation: one iso-parameter line
// of the surface is laid across both loops, intersected with each, and the
// stretches of the line inside each loop are compared.
#include "model/containers.hxx"
#include "qelx/gk_maps.hxx"
#include "qelx/qelx_result.hxx"
#include "velm/math.hxx"
#include "xvelm2k/export.hxx"

class LOOP;
class EDGE;
class FACE;
class surface;

class XVELM2KA_API Ve_LoopContainment {
public:
    // Codes of classify.
    enum { FirstEnclosesSecond = 0, SecondEnclosesFirst = 1, Neither = 2, Failed = 3 };

    // Both loops must be given (asserted).
    Ve_LoopContainment(LOOP* first, LOOP* second);
    virtual ~Ve_LoopContainment() = default;
    virtual int classify() = 0;

protected:
    LOOP* m_first;
    LOOP* m_second;
};

class XVELM2KA_API Ve_PeripheryOrHoleLoopContainment : public Ve_LoopContainment {
public:
    using Ve_LoopContainment::Ve_LoopContainment;
    int classify() override;
    // 0 and the answer, or 0x1000001 when the test cannot tell.
    QELIResult encloses(LOOP* outer, LOOP* inner, bool& result);
};

// The iso-parameter line a containment test runs along: constant u when
// constantU, else constant v.
struct Ve_IsoParameterLine {
    double value = 0.0;
    bool constantU = true;
};

namespace ve_loops {

// The equation of the face's surface of the loop; null when there is none.
XVELM2KA_API const surface* loopSurface(const LOOP* loop);
// The loop's box in its face's parameter space, unwrapped along the loop
// from sample to sample (six samples per coedge); empty when it has none.
XVELM2KA_API QELpar_box loopParameterBox(const LOOP* loop);
// The line across the loops (all of one face): direction by the surface's
// closure, singularities and the first loop's proportions (the other one with
// flip), placed in the middle of the widest gap between the loops' vertices.
XVELM2KA_API Ve_IsoParameterLine chooseIsoParameterLine(const QELXDynamicArray<LOOP*>& loops, bool flip);
// A free edge on the line, bounded by the loops' boxes (straight lines) or by
// the face's loops in a periodic direction; null when the surface gives no line.
XVELM2KA_API EDGE* makeIsoParameterEdge(const QELXDynamicArray<LOOP*>& loops, const Ve_IsoParameterLine& line);
// The stretches of the edge inside the loop, in order; false when the
// crossings cannot be paired.
XVELM2KA_API bool insideIntervals(LOOP* loop, EDGE* isoEdge, QELXDynamicArray<Gk_Domain>& intervals);

} // namespace ve_loops
