#pragma once
// Cuts a trimming segment where its tangent turns by more than the threshold
// allows (the cosine of the turn at most `threshold`), so that every edge of
// the imported loop is smooth. Works on the pcurve when the face prefers its
// pcurves, otherwise on the 3-D curve.
#include "model/containers.hxx"
#include "trim/jordon_cntl.hxx"
#include "xvelm2k/export.hxx"

class XVELM2KA_API Ve_JordonDiscontinuity {
public:
    Ve_JordonDiscontinuity(Ve_JordonCntlHandle segment, double threshold);
    Ve_JordonDiscontinuity(const Ve_JordonDiscontinuity&) = default;
    Ve_JordonDiscontinuity& operator=(const Ve_JordonDiscontinuity&) = default;
    ~Ve_JordonDiscontinuity() = default;

    // The pieces in order along the segment, the segment itself last.
    QELXDynamicArray<Ve_JordonCntlHandle> splitNonG1();
    // Break parameters inside the segment's domain, in the segment's parameter.
    QELXDynamicArray<double> crvDiscontinuities() const;
    QELXDynamicArray<double> pcrvDiscontinuities() const;
    // The older angle test at every interior knot; used for degree-1 pcurves.
    QELXDynamicArray<double> pcrvDiscontinuitiesOld() const;

private:
    QELXDynamicArray<Ve_JordonCntlHandle> splitNonG1PCrv();
    QELXDynamicArray<Ve_JordonCntlHandle> splitNonG1Crv();

    double m_threshold;
    Ve_JordonCntlHandle m_segment;
};
