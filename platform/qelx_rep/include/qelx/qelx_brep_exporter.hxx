#pragma once
// The B-rep exporter interface: how the framework walks a source's topology,
// by identifier (the road every reader uses) or by entity pointer.
#include "qelx/gk_surface.hxx"
#include "qelx/qelx_curve.hxx"
#include "qelx/qelx_representation.hxx"

class QELXGeometryExporter;

// Kinds of ReleaseGeometry.
enum QELXReleaseKind {
    QELXReleasePoint = 0,
    QELXReleaseCurve = 1,
    QELXReleasePCurve = 2,
    QELXReleaseLoop = 3,
    QELXReleaseSurface = 4,
    QELXReleaseVertex = 5,
};

// Every operation answers 0x1000005 (not implemented) unless an exporter
// says otherwise; pointer-road operations answer 0, null or false. Outputs
// are written only by exporters that answer.
class QELXBRepExporter : public QELXExportRepresentation {
public:
    static constexpr const char* QELXBRepTypeBody = "QELXBRepTypeBody";
    static constexpr const char* QELXBRepTypeLump = "QELXBRepTypeLump";
    static constexpr const char* QELXBRepTypeVolume = "QELXBRepTypeVolume";
    static constexpr const char* QELXBRepTypeShell = "QELXBRepTypeShell";
    static constexpr const char* QELXBRepTypeFace = "QELXBRepTypeFace";
    static constexpr const char* QELXBRepTypeLoop = "QELXBRepTypeLoop";
    static constexpr const char* QELXBRepTypeCoedge = "QELXBRepTypeCoedge";
    static constexpr const char* QELXBRepTypeEdge = "QELXBRepTypeEdge";
    static constexpr const char* QELXBRepTypeVertex = "QELXBRepTypeVertex";
    static constexpr const char* QELXBRepTypeWire = "QELXBRepTypeWire";

    using QELXExportRepresentation::QELXExportRepresentation;

    virtual QELIResult GetRequiredOptions(QELXOptions&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetGeometryExporter(QELXGeometryExporter*&) { return QELI_NOT_IMPLEMENTED; }

    // ---- identifier road
    virtual QELIResult GetNumberOfBodies(int&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetBody(int, QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetNumberOfFreeSurfaces(int&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetFreeSurface(int, QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetNumberOfFreeCurves(int&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetFreeCurve(int, QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetNumberOfFreePoints(int&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetFreePoint(int, QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult PrepareBody(const QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult ReleaseBody(const QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetNumberOfLumpsFromBody(const QELXIdentifier&, int&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetLumpFromBody(const QELXIdentifier&, int, QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetNumberOf2DShellsFromBody(const QELXIdentifier&, int&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult Get2DShellFromBody(const QELXIdentifier&, int, QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetNumberOfWiresFromBody(const QELXIdentifier&, int&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetWireFromBody(const QELXIdentifier&, int, QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetNumberOfPointWiresFromBody(const QELXIdentifier&, int&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetPointWireFromBody(const QELXIdentifier&, int, QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetNumberOfFacesFromBody(const QELXIdentifier&, int&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetFaceFromBody(const QELXIdentifier&, int, QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetNumberOfVolumesFromLump(const QELXIdentifier&, int&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetVolumeFromLump(const QELXIdentifier&, int, QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetNumberOfShellsFromVolume(const QELXIdentifier&, int&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetShellFromVolume(const QELXIdentifier&, int, QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetNumberOfFacesFromShell(const QELXIdentifier&, int&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetFaceFromShell(const QELXIdentifier&, int, QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    // The framework's reading: QELI_OK with the flag set for a shell with a
    // free boundary (open); QELI_FAIL, flag untouched, for a closed shell.
    virtual QELIResult IsShellClosed(const QELXIdentifier&, bool&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetNumberOfEdgesFromWire(const QELXIdentifier&, int&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetEdgeFromWire(const QELXIdentifier&, int&, QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetNumberOfVerticesFromWire(const QELXIdentifier&, int&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetVertexFromWire(const QELXIdentifier&, int&, QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult IsFaceOrientationCorrect(const QELXIdentifier&, bool&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetFaceSense(const QELXIdentifier&, bool&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetFaceSurface(const QELXIdentifier&, QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetFaceDomain(const QELXIdentifier&, double[2], double[2]) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetNumberOfLoopsFromFace(const QELXIdentifier&, int&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetLoopFromFace(const QELXIdentifier&, int&, QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetFaceCategory(const QELXIdentifier&, int&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetNumberOfCoedgesFromLoop(const QELXIdentifier&, int&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetCoedgeFromLoop(const QELXIdentifier&, int&, QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult IsLoopDegenerate(const QELXIdentifier&, bool&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult IsOuterLoop(const QELXIdentifier&, bool&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetFaceFromLoop(const QELXIdentifier&, QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetVertexFromDegenerateLoop(const QELXIdentifier&, QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetCoedgeSense(const QELXIdentifier&, bool&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetEdgeFromCoedge(const QELXIdentifier&, QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetLoopFromCoedge(const QELXIdentifier&, QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetCoedgePCurve(const QELXIdentifier&, QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetCoedgePCurveSense(const QELXIdentifier&, bool&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetCoedgeDomain(const QELXIdentifier&, double&, double&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetPartnerCoedge(const QELXIdentifier&, QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetNumberOfCoedgesFromEdge(const QELXIdentifier&, int&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetCoedgeFromEdge(const QELXIdentifier&, int&, QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetStartVertexFromEdge(const QELXIdentifier&, QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetEndVertexFromEdge(const QELXIdentifier&, QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetEdgeDomain(const QELXIdentifier&, double&, double&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetEdgeCurve(const QELXIdentifier&, QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetEdgeSense(const QELXIdentifier&, bool&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetVertexPoint(const QELXIdentifier&, QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetNumberOfEdgesFromVertex(const QELXIdentifier&, int&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetEdgeFromVertex(const QELXIdentifier&, int&, QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    // kind: a QELXReleaseKind.
    virtual QELIResult ReleaseGeometry(const QELXIdentifier&, int) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetBoundingBoxA(const QELXIdentifier&, double[3], double[3]) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetBoundingBoxB(const QELXIdentifier&, double[3], double[3]) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetBoundingBoxC(const QELXIdentifier&, double[3], double[3]) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetIsoParametricCurves(const QELXIdentifier&, bool, int, int&, double*&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult ReleaseIsoParametricCurves(double*&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetFaceAnalyticSurface(const QELXIdentifier&, QELXIdentifier&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult Copy(QELXBRepExporter*&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult Copy(QELXDocument*, QELXBRepExporter*&) { return QELI_NOT_IMPLEMENTED; }
    virtual bool IsSupplyingCorrectOrientations() const { return true; }

    // ---- pointer road (entity pointers are opaque)
    virtual int GetNumberOfBodiesPtr() { return 0; }
    virtual void* GetBodyPtr(int) { return nullptr; }
    virtual int GetNumberOfLumpsFromBodyPtr(void*) { return 0; }
    virtual void* GetLumpFromBodyPtr(void*, int) { return nullptr; }
    virtual int GetNumberOfFacesFromBodyPtr(void*) { return 0; }
    virtual void* GetFaceFromBodyPtr(void*, int) { return nullptr; }
    virtual int GetNumberOfFacesFromShellPtr(void*) { return 0; }
    virtual void* GetFaceFromShellPtr(void*, int) { return nullptr; }
    virtual QELIResult GetFaceDomainPtr(void*, double[2], double[2]) { return QELI_NOT_IMPLEMENTED; }
    virtual int GetNumberOfLoopsFromFacePtr(void*) { return 0; }
    virtual void* GetLoopFromFacePtr(void*, int) { return nullptr; }
    virtual int GetNumberOfCoedgesFromLoopPtr(void*) { return 0; }
    virtual void* GetCoedgeFromLoopPtr(void*, int) { return nullptr; }
    virtual bool IsLoopDegeneratePtr(void*) { return false; }
    virtual bool IsOuterLoopPtr(void*) { return false; }
    virtual void* GetFaceFromLoopPtr(void*) { return nullptr; }
    virtual void* GetEdgeFromCoedgePtr(void*) { return nullptr; }
    virtual void* GetLoopFromCoedgePtr(void*) { return nullptr; }
    virtual void* GetPartnerCoedgePtr(void*) { return nullptr; }
    virtual int GetNumberOfCoedgesFromEdgePtr(void*) { return 0; }
    virtual void* GetCoedgeFromEdgePtr(void*, int) { return nullptr; }
    virtual void* GetStartVertexFromEdgePtr(void*) { return nullptr; }
    virtual void* GetEndVertexFromEdgePtr(void*) { return nullptr; }
    virtual QELIResult GetEdgeDomainPtr(void*, double[2]) { return QELI_NOT_IMPLEMENTED; }
    virtual int GetNumberOfEdgesFromVertexPtr(void*) { return 0; }
    virtual void* GetEdgeFromVertexPtr(void*, int) { return nullptr; }
    virtual bool HasBoundedFacesPtr(void*) { return false; }
    virtual bool IsUnboundedPlaneBodyPtr(void*) { return false; }
    virtual bool IsWireBodyPtr(void*) { return false; }
    virtual bool IsVertexBodyPtr(void*) { return false; }
    virtual void* GetEdgeFromBodyPtr(void*, int) { return nullptr; }
    virtual int GetNumberOfEdgesFromBodyPtr(void*) { return 0; }
    virtual void* GetShellFromLumpPtr(void*, int) { return nullptr; }
    virtual int GetNumberOfShellsFromLumpPtr(void*) { return 0; }
    virtual bool IsOwnerClosedSolidPtr(void*) { return false; }
    virtual bool GetFaceSensePtr(void*) { return false; }
    virtual Gk_Surface3Handle GetFaceSurfacePtr(void*) { return Gk_Surface3Handle(); }
    virtual Gk_Surface3Handle GetFaceAnalyticSurfacePtr(void*) { return Gk_Surface3Handle(); }
    virtual void* GetVertexFromDegenerateLoopPtr(void*) { return nullptr; }
    virtual bool GetCoedgeSensePtr(void*) { return false; }
    virtual QELXCurve2DHandle GetCoedgePCurvePtr(void*) { return QELXCurve2DHandle(); }
    virtual QELXCurve3DHandle GetEdgeCurvePtr(void*) { return QELXCurve3DHandle(); }
    virtual QELIResult GetVertexPointPtr(void*, double[3]) { return QELI_NOT_IMPLEMENTED; }
    virtual int GetNumberOfFreeSurfacesFromBodyPtr(void*) { return 0; }
    virtual void* GetFreeSurfaceFromBodyPtr(void*, int) { return nullptr; }
    virtual void* GetLoopFromFace2Ptr(void*, int) { return nullptr; }
    virtual int GetNumberOfLoopsFromFace2Ptr(void*) { return 0; }
    virtual QELIResult GetTypeCodePtr(void*, int&) { return QELI_NOT_IMPLEMENTED; }
    virtual int GetTypeCodeValuePtr(void*) { return 0; }
    virtual void* GetWireEdgeFromBodyPtr(void*, int) { return nullptr; }
    virtual int GetNumberOfWireEdgesFromBodyPtr(void*) { return 0; }
    virtual void* GetDotVertexFromBodyPtr(void*, int) { return nullptr; }
    virtual int GetNumberOfDotVerticesFromBodyPtr(void*) { return 0; }
    virtual QELIResult GetIsoParametricCurvesPtr(void*, bool, int, int&, double*&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult ReleaseIsoParametricCurvesPtr(double*&) { return QELI_NOT_IMPLEMENTED; }
    virtual QELIResult GetPersistentIdPtr(void*, int&) { return QELI_NOT_IMPLEMENTED; }

    const char* GetName() const override { return "QELXBRepExporter"; }
};
using QELXBRepExporterHandle = QELXTypedHandle<QELXBRepExporter>;

// Base of concrete B-rep exporters.
class QELXDefaultBRepExporter : public QELXBRepExporter {
public:
    explicit QELXDefaultBRepExporter(QELXDocument* document) : QELXBRepExporter(document) {}
    QELXRepType GetType() const override { return QELXRepType("BRep"); }
    const char* GetName() const override { return "QELXDefaultBRepExporter"; }

protected:
    QELIResult DoPostProcess() override { return QELI_OK; }
};

class QELXBRepExporterUtils {
public:
    // Faces of all the body's 2-D shells; a failed count counts 0.
    static int GetNumberOfFacesIn2DShellsFromBody(QELXBRepExporter* exporter, const QELXIdentifier& body);
    // Releases, for every face of every 2-D shell, the face's surface, each
    // coedge's pcurve, its edge's curve and the edge's vertex points; 0.
    static QELIResult ReleaseGeometryOf2DShells(QELXBRepExporter* exporter, const QELXIdentifier& body);
};
