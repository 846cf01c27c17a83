#pragma once
// The curve translator bound to one kernel edge: the curve it builds goes on
// the edge, and what the new curve breaks is repaired there (edge sense for a
// reversing map, huge ellipses as B-splines, closed and periodic B-splines,
// closed-edge vertices, an intcurve over the edge's faces and its pcurves).
#include "geometry/curve_translator.hxx"
#include "model/entity_views.hxx"

class COEDGE;
class FACE;

class XVELM2KA_API Ve_CurveCreator : public Ve_CurveTranslator {
public:
    Ve_CurveCreator(Ve_EdgeTag* edge, Gk_Domain& domain, const QELXMorph3D& morph, bool noG1Repair);
    Ve_CurveCreator(const Ve_CurveCreator&) = default;
    Ve_CurveCreator& operator=(const Ve_CurveCreator&) = default;
    ~Ve_CurveCreator() override = default;

    void doCallback(const QELXBSCurveDef3D& bspline) override;
    void doCallback(const QELXEllipseDef3D& ellipse) override;
    void doCallback(const QELXLineDef3D& line) override;

private:
    // Inverts the map; a reversing one flips the edge and is made forward.
    void preProcessMap() override;
    void InternalCallBack(const QELXBSCurveDef3D& def);
    bool NeedToCloseBSCurve(const QELXBSCurveDef3D& def);
    bool FixIntcurvePeriodicity(bool& changed);
    void FixBigEllipses();
    bool fixPCurve(COEDGE* coedge, FACE* face);
    // Puts the curve on the edge (a new CURVE entity made from it).
    void fixCurve();
    void installAndRefresh();
    EDGE* edgeEntity() const;

    Ve_EdgeTag* m_edge;
};

// A periodic form of a closed, clamped kernel B-spline with equal end
// tangents; null when it cannot be made.
bs3_curve makePeriodicBs3(bs3_curve spline);

// 0 built into result, 1 not built, -1 kernel error. The B-splines are taken
// (by the intcurve, or freed) unless the answer is 1.
XVELM2KA_API int buildIntcurve(bs3_curve spline, double fit, const surface* surface1, const surface* surface2,
                               bs2_curve pcurve1, bs2_curve pcurve2, intcurve*& result);
