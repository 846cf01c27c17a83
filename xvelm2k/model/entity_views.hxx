#pragma once
// Views over kernel entities. A view has no data and no virtual operations:
// a view pointer IS the kernel entity pointer, converted by pointer cast, and
// a view is never constructed, copied or destroyed by the connector. Views own
// nothing; lists come back as fresh arrays that the caller owns.
//
// The member functions read the kernel entity behind `this`; they are called on
// views of existing entities only (a null view is never dereferenced).
#include "model/containers.hxx"
#include "qelx/gk_maps.hxx"
#include "qelx/gk_surface.hxx"
#include "qelx/qelx_curve.hxx"
#include "qelx/qelx_math.hxx"
#include "qelx/qelx_result.hxx"
#include "xvelm2k/export.hxx"

class ENTITY;
class BODY;
class LUMP;
class SHELL;
class FACE;
class LOOP;
class COEDGE;
class EDGE;
class VERTEX;
class VE_PART;
class VE_ASSEMBLY;
class VE_FORMATION;
class QELXStreamFormatter;
class QELXBRepExporter;
class QELXIdentifier;

class Ve_BodyTag;
class Ve_LumpTag;
class Ve_ShellTag;
class Ve_FaceTag;
class Ve_LoopTag;
class Ve_CoedgeTag;
class Ve_EdgeTag;
class Ve_VertexTag;
class Ve_PartTag;
class Ve_AssemblyTag;
class Ve_FormationTag;
class Ve_SurfaceTag;
class Ve_CurveTag;
class Ve_PCurveTag;

// View <-> kernel pointer; null stays null.
template <class View, class Kernel>
inline View* ve_view(Kernel* entity)
{
    return reinterpret_cast<View*>(entity);
}
template <class View, class Kernel>
inline const View* ve_view(const Kernel* entity)
{
    return reinterpret_cast<const View*>(entity);
}

// Shared frame of every view: the do-nothing constructor, destructor and
// assignment, and getDef() giving the kernel entity.
#define VE_VIEW_FRAME(VIEW, KERNEL)                                                                \
public:                                                                                            \
    VIEW& operator=(const VIEW&) { return *this; }                                                 \
                                                                                                   \
protected:                                                                                         \
    VIEW() {}                                                                                      \
    ~VIEW() {}                                                                                     \
    KERNEL* getDef() const { return reinterpret_cast<KERNEL*>(const_cast<VIEW*>(this)); }          \
                                                                                                   \
public:

class XVELM2KA_API Ve_EntityTag {
    VE_VIEW_FRAME(Ve_EntityTag, ENTITY)

    // The body that owns the entity; null for entities outside bodies.
    Ve_BodyTag* getBody() const;
    // The kernel box; a failed kernel query asserts and gives the zero box and 0x1000001.
    QELIResult GetBoundingBox(QELXBox3D& box) const;
};

class XVELM2KA_API Ve_BodyTag : public Ve_EntityTag {
    VE_VIEW_FRAME(Ve_BodyTag, BODY)

    enum NonManifoldType { NonManifoldEdges = 0, NonManifoldVertices = 1, NonManifoldBoth = 2, Manifold = 3 };

    bool isSolidBody() const;
    bool isTrimBody() const;
    bool isWireBody() const;
    bool isVertexBody() const;
    NonManifoldType isNonManifold() const;
    int getNumberOfTrimFaces() const { return 0; }
    Ve_FaceTag* getTrimFaceAt(int) const { return nullptr; }

    void applyTrans();
    void apply(const QELXMorph3D& morph);
    // 0x1000001 and the zero box when the kernel cannot box the body.
    QELIResult GetBoundingBox(QELXBox3D& box) const;
    Ve_BodyTag* Copy() const;
    // Deletes the body; its cache entries go first.
    void release();

    // Lists, always from the kernel.
    QELXDynamicArray<Ve_FaceTag*> getFaces() const;
    QELXDynamicArray<Ve_EdgeTag*> getEdges() const;
    QELXDynamicArray<Ve_EdgeTag*> getWireEdges() const;
    QELXDynamicArray<Ve_LumpTag*> getLumps() const;
    QELXDynamicArray<Ve_VertexTag*> getVertices() const;
    QELXDynamicArray<Ve_VertexTag*> getWireVertices() const;
    QELXDynamicArray<Ve_VertexTag*> getDotVertices() const;

    // Counts and at-index access: from the body cache when the body has a
    // record, else from the kernel. Out-of-range indices give null.
    int getNumberOfFaces() const;
    Ve_FaceTag* getFaceAt(int i) const;
    int getNumberOfEdges() const;
    Ve_EdgeTag* getEdgeAt(int i) const;
    int getNumberOfWireEdges() const;
    Ve_EdgeTag* getWireEdgeAt(int i) const;
    int getNumberOfLumps() const;
    Ve_LumpTag* getLumpAt(int i) const;
    int getNumberOfDotVertices() const;
    Ve_VertexTag* getDotVertexAt(int i) const;

    // ---- Healing (heal/body_repair*.cpp) ----
    // The default healing of one body: the repair steps below, each behind
    // its switch, with task events around each.
    void doStandardRepair();
    // The manifold pieces of the body: flattened, unstitched and separated;
    // never loses a piece, and the body itself alone when that fails.
    QELXDynamicArray<Ve_EntityTag*> unstitchNonManifold();
    void mergeVertices();
    void remDuplVerticesByReplaceVert();
    void remDuplVerticesByChangeVertGeom();
    void removeScribes(bool cleanFirst);
    void CheckAndFixNullEdgeAtConicalApex();
    // Each analytic face keeps a copy of its surface as an attribute.
    void attachAnalyticSurfaceAsAttribOnFaces();
    // Every surface and curve made a B-spline for targets that hold nothing
    // else; returns this body.
    Ve_BodyTag* bspline(bool splitPeriodic, bool forceNonRational);
    void replaceRationalSurf();
    void replaceInexactSurf();
    // Periodic faces split for targets that cannot hold them.
    void splitPeriodics();

    // Steps of doStandardRepair; public so that the recipes and their
    // tests can run one alone.
    void CheckAndFixReverseBody();
    // The kernel's containment of a point beyond the high corner of the
    // body's box (0 when the box cannot be had).
    int CheckContainmentOf();
    void RemoveSliverFacesAndRedundantVertices();
    void TrimFaces();
    void SplitEdgesAtPoles();
    void CorrectPlanarFaceSense();
    void ResurfaceBadSurfaces(bool& geometryChanged);
    void FixTTIErrorsByVELMAPI();
    void TolerizeEdgesVerticesOfFaces();
    void TolerizeWires();
    bool FixWireEdgeSense();
    void FixTTIErrors(bool& geometryChanged);
    void SplitPeriodicSplineFaces();
};

class XVELM2KA_API Ve_LumpTag : public Ve_EntityTag {
    VE_VIEW_FRAME(Ve_LumpTag, LUMP)

    // Whether the owning body (not only this lump) is a closed solid.
    bool isSolid() const;
    int getNumberOfShells() const;
    Ve_ShellTag* getShellAt(int i) const;
    QELXDynamicArray<Ve_ShellTag*> getShells() const;
};

class XVELM2KA_API Ve_ShellTag : public Ve_EntityTag {
    VE_VIEW_FRAME(Ve_ShellTag, SHELL)

    Ve_ShellTag* getNext() const;
    Ve_FaceTag* getFace() const;
    Ve_LumpTag* getLump() const;
    // From the shell cache when the shell has an entry, else the face chain.
    int getNumberOfFaces() const;
    Ve_FaceTag* getFaceAt(int i) const;
    QELXDynamicArray<Ve_EdgeTag*> getEdges() const;
};

class XVELM2KA_API Ve_FaceTag : public Ve_EntityTag {
    VE_VIEW_FRAME(Ve_FaceTag, FACE)

    // What getDistance answers when it cannot measure: farther than anything.
    static constexpr double NoDistance = 1.7976931348623157e308;

    Ve_ShellTag* getShell() const;
    Ve_SurfaceTag* getSurface() const;
    bool isForward() const;
    bool isTrimFace() const { return false; }
    int getNumberOfLoops() const;
    Ve_LoopTag* getLoopAt(int i) const;
    QELXDynamicArray<Ve_LoopTag*> getLoops() const;
    int getNumberOfTrimLoops() const { return getNumberOfLoops(); }
    Ve_LoopTag* getTrimLoopAt(int i) const { return getLoopAt(i); }
    QELXDynamicArray<Ve_LoopTag*> getTrimLoops() const { return getLoops(); }
    // Parameter curves preferred (the framework's curve preference 1).
    int getTrimCrvPref() const { return 1; }
    QELXDynamicArray<Ve_CoedgeTag*> getCoedges() const;
    QELXDynamicArray<Ve_EdgeTag*> getEdges() const;
    int getNumberOfEdges() const;
    Ve_EdgeTag* getEdgeAt(int i) const;

    // Puts the loop first in the face's chain; the loop's face is the caller's.
    bool addLoop(Ve_LoopTag* loop);
    // Whether the kernel made the face single-sided.
    bool makeSingleSided();
    // Trims the surface to the face's loops when the option XVelm_TrimFace is on.
    bool trim();
    // Distance from the point to its foot on the surface; NoDistance when the
    // face has no surface or the projection fails (the foot is then untouched).
    double getDistance(const QELXPoint3D& point, QELXPoint2D* guess = nullptr, QELXPoint2D* foot = nullptr) const;
    Gk_Span getSpan() const;
    bool NeedsLoopAtConicalFaceApex() const;
    // Face repairs (repair/face_repairs.cpp): a degenerate loop at a cone's
    // apex inside the face, or the boundary's vertex snapped onto it; a split
    // of a face on a periodic surface (analytic ones only when forced).
    void AddLoopAtConicalFaceApex();
    void processForPeriodicity(bool force);

    // The face's surface for the framework: bounded by the face's parameter
    // box where the framework needs bounds, unbounded otherwise. Same sense
    // always (GetSurface) or when the face is forward (wrappedSurface). A
    // null handle for a face without surface.
    Gk_Surface3Handle GetSurface() const;
    Gk_Surface3Handle wrappedSurface() const;
    // The analytic surface the face carries, if any; the face's generic
    // marker of it is removed.
    Gk_Surface3Handle GetSurfaceAnalytic() const;
    Gk_Surface3Handle wrappedSurface2() const;

    // The surface of the exporter's face imported onto this face, with the
    // face sense that keeps its outward side; map receives the framework ->
    // kernel parameter map, approx the approximation record (face_surface_attach.cpp).
    bool addSurface(const QELXIdentifier& face, QELXBRepExporter* exporter, const QELXMorph3D& morph,
                    Gk_SurfApproxInfoHandle* approx, Gk_BiLinMap* map);
    // addSurface, then the pcurves of the face's coedges.
    bool attachSurface(const QELXIdentifier& face, QELXBRepExporter* exporter, const QELXMorph3D& morph);
    QELIResult GetBoundingBox(QELXBox3D& box) const { return Ve_EntityTag::GetBoundingBox(box); }
};

class XVELM2KA_API Ve_LoopTag : public Ve_EntityTag {
    VE_VIEW_FRAME(Ve_LoopTag, LOOP)

    Ve_FaceTag* getFace() const;
    int getNumberOfCoedges() const;
    Ve_CoedgeTag* getCoedgeAt(int i) const;
    QELXDynamicArray<Ve_CoedgeTag*> getCoedges() const;
    bool isOuterLoop() const;
    bool isDegenerate() const;
    // The start vertex of a degenerate loop; null otherwise.
    Ve_VertexTag* getVertex() const;
    // Reverses the loop in place (links, senses, pcurves, tolerant ranges and curves).
    void reverse();
};

class XVELM2KA_API Ve_CoedgeTag : public Ve_EntityTag {
    VE_VIEW_FRAME(Ve_CoedgeTag, COEDGE)

    Ve_CoedgeTag* getNext() const;
    Ve_CoedgeTag* getPrevious() const;
    Ve_CoedgeTag* getPartner() const;
    Ve_EdgeTag* getEdge() const;
    Ve_LoopTag* getLoop() const;
    Ve_FaceTag* getFace() const;
    bool isForward() const;
    Ve_VertexTag* startVertex() const;
    Ve_VertexTag* endVertex() const;
    // The pcurve when the face has a surface the framework takes exactly; else null.
    Ve_PCurveTag* getPCurve() const;
    // The edge's domain, negated for a reversed coedge.
    Gk_Domain getDomain() const;
    // The pcurve over the coedge's domain; null where getPCurve is.
    QELXCurve2DHandle GetPCurve() const;
    QELXCurve2DHandle wrappedPCurve() const { return GetPCurve(); }
    void fixHullDistance();
    bool simplifyPCurve(double tolerance);
    // Not supported: asserts and writes nothing.
    void dump(QELXStreamFormatter& out);
};

class XVELM2KA_API Ve_EdgeTag : public Ve_EntityTag {
    VE_VIEW_FRAME(Ve_EdgeTag, EDGE)

    // What getDistance answers when it cannot measure: farther than anything.
    static constexpr double NoDistance = 1.7976931348623157e308;

    Ve_VertexTag* getStartVertex() const;
    Ve_VertexTag* getEndVertex() const;
    Ve_CoedgeTag* getCoedge() const;
    Ve_CurveTag* getCurve() const;
    bool isForward() const;
    // No coedge, or the first coedge lies on a wire.
    bool isWire() const;
    int getNumberOfCoedges() const;
    Ve_CoedgeTag* getCoedgeAt(int i) const;
    QELXDynamicArray<Ve_CoedgeTag*> getCoedges() const;
    Gk_Domain getDomain() const;
    // Distance to the whole curve; NoDistance without curve or when the projection fails.
    double getDistance(const QELXPoint3D& point) const;
    // The curve over the edge's domain (negated for a reversed edge); null
    // without curve or for a degenerate one. wrappedCurve maps the parameter
    // back by -1 for a reversed edge.
    QELXCurve3DHandle GetCurve() const;
    QELXCurve3DHandle wrappedCurve() const;
    // Tolerant replacement of an edge whose curve strays from its faces or
    // vertices by more than QELresabs: _New relies on the kernel's checks,
    // _Old tests and replaces itself. newEdge (may be null) receives the
    // replacing edge; setTolerance passes it on to the member it chooses.
    bool setTolerance(EDGE** newEdge, bool useNew);
    bool setTolerance_New(EDGE** newEdge);
    bool setTolerance_Old(EDGE** newEdge);
    // Not supported: asserts and writes nothing.
    void dump(QELXStreamFormatter& out);
};

class XVELM2KA_API Ve_VertexTag : public Ve_EntityTag {
    VE_VIEW_FRAME(Ve_VertexTag, VERTEX)

    // The origin when the vertex has no point.
    QELXPoint3D getPoint() const;
    void apply(const QELXMorph3D& morph);
    // `order`, when given, gets each coedge newly added, in the order met.
    void fetchCoedgeGroup(Ve_CoedgeTag* start, QELXHashList<Ve_CoedgeTag*>& set,
                          QELXDynamicArray<Ve_CoedgeTag*>* order = nullptr) const;
    void fetchIncidentCoedgeList(QELXHashList<Ve_CoedgeTag*>& set,
                                 QELXDynamicArray<Ve_CoedgeTag*>* order = nullptr) const;
    // Distinct neighbours in the order first met: the vertex's own edge list,
    // each edge's coedges flooded through next, previous and partner links.
    // Never by address, so that a written document is the same on every run.
    QELXDynamicArray<Ve_EdgeTag*> getEdges() const;
    int getNumberOfEdges() const;
    Ve_EdgeTag* getEdgeAt(int i) const;
    QELXDynamicArray<Ve_FaceTag*> getFaces() const;
    // One edge reference per connected coedge group around the vertex.
    void minimizeReferals();
    // A vertex off one of its faces becomes tolerant; true for a vertex that
    // is tolerant already.
    bool setTolerance(bool useNew);
    bool setTolerance_New();
    bool setTolerance_Old();
};

class XVELM2KA_API Ve_PartTag : public Ve_EntityTag {
    VE_VIEW_FRAME(Ve_PartTag, VE_PART)

    Ve_BodyTag* getSolid() const;
    QELXMorph3D getMorph() const;
};

class XVELM2KA_API Ve_FormationTag : public Ve_EntityTag {
    VE_VIEW_FRAME(Ve_FormationTag, VE_FORMATION)

    Ve_AssemblyTag* getDefinition() const;
    QELXMorph3D getMorph() const;
};

class XVELM2KA_API Ve_AssemblyTag : public Ve_EntityTag {
    VE_VIEW_FRAME(Ve_AssemblyTag, VE_ASSEMBLY)

    QELXMorph3D getMorph() const;
    int getNumberOfPlacements() const;
    Ve_PartTag* getPlacement(int i) const;
    int getNumberOfSubReferences() const;
    Ve_FormationTag* getSubReference(int i) const;
    // Every assembly below this one, once each, depth-first pre-order.
    void fetchReferredCmpnts(QELXDynamicArray<Ve_AssemblyTag*>& list) const;
    // The bodies of this assembly and of every assembly below it, once each;
    // every assembly is walked once, however often it is referred to.
    void fetchReferredBodies(QELXDynamicArray<Ve_BodyTag*>& list) const;
};

// View of a kernel working coordinate system.
class XVELM2KA_API QELXVeWCS {
    VE_VIEW_FRAME(QELXVeWCS, ENTITY)

    QELIResult GetActiveState(bool& active) const;
    QELIResult SetActiveState(bool active);
    QELIResult GetMorph(QELXMorph3D& morph) const;
};

#undef VE_VIEW_FRAME
