#pragma once
// B-spline definitions: weighted control polygons and nets over knot
// partitions. Definitions are values: copies are deep and independent.
//
// Parameterisation: full knot vector E of n + p + 1 knots, domain
// [E[p], E[n]]; C(t) = sum N_i,p(t) w_i P_i / sum N_i,p(t) w_i. A periodic
// definition is either clamped with coincident ends or "wrapped" (unclamped,
// last p control points repeating the first p); evaluation takes a periodic
// parameter modulo the domain length, an open one outside the domain
// extends the end spans.
#include "qelx/gk_derivatives.hxx"
#include "qelx/gk_partition.hxx"

#include <vector>

class QELXPolygonWeight3D {
public:
    QELXPolygonWeight3D() = default;
    void Add(const QELXWeightPoint3D& point) { m_points.push_back(point); }
    int size() const { return static_cast<int>(m_points.size()); }
    QELXWeightPoint3D& controlPoint(int i) { return m_points[i]; }
    const QELXWeightPoint3D& controlPoint(int i) const { return m_points[i]; }
    void reverse();

private:
    std::vector<QELXWeightPoint3D> m_points;
};

class QELXPolygonWeight2D {
public:
    QELXPolygonWeight2D() = default;
    void Add(const QELXWeightPoint2D& point) { m_points.push_back(point); }
    int size() const { return static_cast<int>(m_points.size()); }
    QELXWeightPoint2D& controlPoint(int i) { return m_points[i]; }
    const QELXWeightPoint2D& controlPoint(int i) const { return m_points[i]; }
    void reverse();

private:
    std::vector<QELXWeightPoint2D> m_points;
};

// Row i = u index i, point j = v index j. Copies are deep.
class QELXPolygonNetWeight3D {
public:
    QELXPolygonNetWeight3D() = default;
    void Add(const QELXPolygonWeight3D& row) { m_rows.push_back(row); }
    int uSize() const { return static_cast<int>(m_rows.size()); }
    int vSize() const { return m_rows.empty() ? 0 : m_rows.front().size(); }
    QELXPolygonWeight3D& polygon(int i) { return m_rows[i]; }
    const QELXPolygonWeight3D& polygon(int i) const { return m_rows[i]; }
    QELXWeightPoint3D& controlPoint(int i, int j) { return m_rows[i].controlPoint(j); }
    const QELXWeightPoint3D& controlPoint(int i, int j) const { return m_rows[i].controlPoint(j); }

private:
    std::vector<QELXPolygonWeight3D> m_rows;
};

// 3-D definitions with a control polygon or net.
class QELXBSplineDefPolygon3D {
public:
    virtual ~QELXBSplineDefPolygon3D() = default;
    // Every control point as a point (asVector false) or as a vector.
    virtual void Transform(const QELXMorph3D& morph, bool asVector) = 0;
};

class QELXBSplineDef {
public:
    virtual ~QELXBSplineDef() = default;

    int degree() const { return m_knots.degree(); }
    const Gk_Partition& knots() const { return m_knots; }
    // Some weight differs from 1 by more than Gk_Def::FuzzReal.
    bool isRational() const;
    bool isPeriodic() const { return m_periodic; }
    bool isClamped() const { return m_knots.isClamped(); }
    // [E[p], E[n]]; (0, 0) unbounded for an empty definition or one whose
    // knot count is not n + p + 1.
    Gk_Domain domain() const;
    virtual int numControlPoints() const = 0;
    virtual double weight(int i) const = 0;
    bool isEmpty() const { return numControlPoints() == 0; }
    // Degree >= 1, n >= p + 1, n + p + 1 knots, knots non-decreasing, weights > 0.
    bool isValid() const;
    // Reparametrise: every knot t -> map(t); a negative slope also reverses
    // the control points, so the point set stays the same.
    void apply(const Gk_LinMap& map);

protected:
    QELXBSplineDef() = default;
    QELXBSplineDef(const Gk_Partition& knots, bool periodic) : m_knots(knots), m_periodic(periodic) {}
    QELXBSplineDef(const QELXBSplineDef&) = default;
    QELXBSplineDef& operator=(const QELXBSplineDef&) = default;
    virtual void reversePolygon() = 0;

    Gk_Partition m_knots;
    bool m_periodic = false;
};

class QELXBSplineDef3D : public QELXBSplineDef, public QELXBSplineDefPolygon3D {
public:
    QELXBSplineDef3D() = default;
    QELXBSplineDef3D(const Gk_Partition& knots, const QELXPolygonWeight3D& polygon, bool periodic)
        : QELXBSplineDef(knots, periodic), m_polygon(polygon) {}
    // Exporter layout: 3 * count coordinates, distinct knots with
    // multiplicities, weights or null; the clamped flag is computed.
    QELXBSplineDef3D(int degree, int count, const double* ctrlPts, int knotCount, const double* knots, const int* mults,
                     const double* weights, bool periodic);

    QELXBSplineDef3D Copy() const { return *this; }
    QELXPolygonWeight3D& controlPoints() { return m_polygon; }
    const QELXPolygonWeight3D& controlPoints() const { return m_polygon; }
    QELXWeightPoint3D& controlPoint(int i) { return m_polygon.controlPoint(i); }
    const QELXWeightPoint3D& controlPoint(int i) const { return m_polygon.controlPoint(i); }
    int numControlPoints() const override { return m_polygon.size(); }
    double weight(int i) const override { return m_polygon.controlPoint(i).GetWeight(); }
    void Transform(const QELXMorph3D& morph, bool asVector) override;

    // Point at t; d (when given) gets the point and d->size() - 1 derivatives.
    // A definition whose knot count is not n + p + 1 evaluates like an empty
    // one: the origin, d untouched.
    QELXPoint3D eval(double t, QELXCurveDerivatives3D* d = nullptr) const;

protected:
    void reversePolygon() override { m_polygon.reverse(); }

private:
    QELXPolygonWeight3D m_polygon;
};

class QELXBSplineDef2D : public QELXBSplineDef {
public:
    QELXBSplineDef2D() = default;
    QELXBSplineDef2D(const Gk_Partition& knots, const QELXPolygonWeight2D& polygon, bool closed)
        : QELXBSplineDef(knots, closed), m_polygon(polygon) {}
    // Exporter layout with 2 * count coordinates.
    QELXBSplineDef2D(int degree, int count, const double* ctrlPts, int knotCount, const double* knots, const int* mults,
                     const double* weights, bool periodic);

    QELXBSplineDef2D Copy() const { return *this; }
    QELXPolygonWeight2D& controlPoints() { return m_polygon; }
    const QELXPolygonWeight2D& controlPoints() const { return m_polygon; }
    QELXWeightPoint2D& controlPoint(int i) { return m_polygon.controlPoint(i); }
    const QELXWeightPoint2D& controlPoint(int i) const { return m_polygon.controlPoint(i); }
    int numControlPoints() const override { return m_polygon.size(); }
    double weight(int i) const override { return m_polygon.controlPoint(i).GetWeight(); }

    QELXPoint2D eval(double t, QELXCurveDerivatives2D* d = nullptr) const;

protected:
    void reversePolygon() override { m_polygon.reverse(); }

private:
    QELXPolygonWeight2D m_polygon;
};

// Tensor-product net. Pole kinds: 0 none, 1 low end, 2 high end, 3 both,
// 4 not marked in the net. The final flag ("net already smoothed") is kept
// and never read here.
class QELXBSplineNetDef3D : public QELXBSplineDefPolygon3D {
public:
    QELXBSplineNetDef3D() = default;
    QELXBSplineNetDef3D(const Gk_Partition& u, const Gk_Partition& v, const QELXPolygonNetWeight3D& net, bool closedU,
                        bool closedV, int poleKindU, int poleKindV, bool flag);
    // Exporter layout: control point (i, j) at 3 * (i * vCount + j).
    QELXBSplineNetDef3D(int uDegree, int vDegree, int uCount, int vCount, const double* ctrlPts, const double* weights,
                        int uKnotCount, const double* uKnots, const int* uMults, int vKnotCount, const double* vKnots,
                        const int* vMults, bool periodicU, bool periodicV, bool flag);

    QELXBSplineNetDef3D Copy() const { return *this; }
    bool isEmpty() const { return uSize() == 0 || vSize() == 0; }
    // Degrees >= 1, counts and knot counts agree, weights > 0, rows equal.
    bool isValid() const;
    // Rows equal and n + p + 1 knots in each direction: what evaluation
    // needs. A net without it evaluates like an empty one.
    bool layoutFits() const;
    // Weights vary along u within some column / along v within some row.
    bool isURational() const;
    bool isVRational() const;
    QELXPolygonNetWeight3D& controlNet() { return m_net; }
    const QELXPolygonNetWeight3D& controlNet() const { return m_net; }
    int uSize() const { return m_net.uSize(); }
    int vSize() const { return m_net.vSize(); }
    int uDegree() const { return m_u.degree(); }
    int vDegree() const { return m_v.degree(); }
    const Gk_Partition& uKnots() const { return m_u; }
    const Gk_Partition& vKnots() const { return m_v; }
    bool isUPeriodic() const { return m_closedU; }
    bool isVPeriodic() const { return m_closedV; }
    bool isClosedU() const { return m_closedU; }
    bool isClosedV() const { return m_closedV; }
    bool isUClamped() const { return m_u.isClamped(); }
    bool isVClamped() const { return m_v.isClamped(); }
    int poleKindU() const { return m_poleU; }
    int poleKindV() const { return m_poleV; }
    bool flag() const { return m_flag; }
    // [E[p], E[n]] in u and v.
    Gk_Span span() const;
    void Transform(const QELXMorph3D& morph, bool asVector) override;

    // Point at uv; flat (when given) gets every derivative it holds.
    QELXPoint3D eval(const QELXPoint2D& uv, Gk_Flat3* flat = nullptr) const;
    QELXPoint3D normal(const QELXPoint2D& uv) const;

private:
    Gk_Partition m_u, m_v;
    QELXPolygonNetWeight3D m_net;
    bool m_closedU = false, m_closedV = false;
    int m_poleU = 0, m_poleV = 0;
    bool m_flag = false;
};
