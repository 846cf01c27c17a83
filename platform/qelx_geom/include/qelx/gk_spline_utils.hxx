#pragma once
// Repairs and checks on B-spline definitions and control nets.
#include "qelx/gk_bspline.hxx"

// G1 tools for a 3-D definition. The measure at a joint is 1 - cos of the
// angle between the unit control legs meeting there; a joint passes when it
// is at most tol. Zero-length legs carry no direction and pass.
class QELXBSplineDiscUtil3D {
public:
    QELXBSplineDiscUtil3D(QELXBSplineDef3D& def, double tol) : m_def(def), m_tol(tol) {}
    // Every interior knot of multiplicity >= degree.
    bool isG1AtAllKnotDegreeMultiplicities() const;
    // At each failing joint the two neighbouring control points move onto the
    // line through the joint along the mean unit leg, keeping their distances.
    void makeG1();
    // Periodic definitions only: a wrapped one is smooth by construction, a
    // clamped one is tested on its end legs. False for open definitions.
    bool isG1AtSeam() const;

private:
    QELXBSplineDef3D& m_def;
    double m_tol;
};

// The same for nets, every u line (fixed v index) and v line (fixed u index)
// taken as a curve.
class Gk_BSplNetDiscUtil {
public:
    Gk_BSplNetDiscUtil(QELXBSplineNetDef3D& net, double tol) : m_net(net), m_tol(tol) {}
    void makeG1();
    bool isG1AtUSeam() const;
    bool isG1AtVSeam() const;

private:
    QELXBSplineNetDef3D& m_net;
    double m_tol;
};

class Gk_SplineUtil {
public:
    // Afterwards no two consecutive control points lie within tol where the
    // polygon allows it: a coincident pair is pulled apart by 1.5 tol
    // towards the outer neighbour, a longer run is spread evenly towards it.
    // End points stay fixed.
    static QELXBSplineDef3D correctCrvCoincidentVertices(const QELXBSplineDef3D& def, double tol);
    static QELXBSplineDef2D correctCrvCoincidentVertices(const QELXBSplineDef2D& def, double tol);
    // The same along every row and column.
    static QELXBSplineNetDef3D correctSrfCoincidentVertices(const QELXBSplineNetDef3D& net, double tol);
    // For each periodic direction the seam rows (columns) are replaced by
    // their mean: first and last of a clamped layout, the p wrapped pairs of
    // an unclamped one.
    static QELXBSplineNetDef3D correctSrfClosure(const QELXBSplineNetDef3D& net);
};

class Gk_PolygonUtil {
public:
    // Weights not all equal (within Gk_Def::FuzzReal).
    static bool checkRationality(const QELXPolygonNetWeight3D& net);
    // Some weight differs from 1 (within Gk_Def::FuzzReal).
    static bool checkCrossRationality(const QELXPolygonNetWeight3D& net);
};

class QELXPolynetUtil {
public:
    // Row index (u polygon) / column index (v polygon): every point becomes
    // the weighted mean of the polygon; weights are kept.
    static void collapseUPlgn(QELXPolygonNetWeight3D& net, int index);
    static void collapseVPlgn(QELXPolygonNetWeight3D& net, int index);
};

class QELXBSplineSplitUtilWeight2D {
public:
    // Clamped to its domain [E[p], E[n]] by knot insertion at both ends;
    // unchanged when already clamped, with fewer than 2 breaks or not valid.
    static QELXBSplineDef2D subset(const QELXBSplineDef2D& def);
};

class QELXBSplineSplitUtilWeight3D {
public:
    static QELXBSplineDef3D subset(const QELXBSplineDef3D& def);
};
