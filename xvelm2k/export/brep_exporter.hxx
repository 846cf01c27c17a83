#pragma once
// The framework's B-rep exporter over one kernel document: the framework
// preprocesses the document through it, walks every body level by level by
// identifiers (or by entity pointers), and reads geometry and attributes.
#include <cstdint>
#include <vector>

#include "model/containers.hxx"
#include "model/identifier_hash.hxx"
#include "qelx/qelx_brep_exporter.hxx"
#include "qelx/qelx_geometry_exporter.hxx"
#include "xvelm2k/export.hxx"

class ENTITY;
class FACE;
class Ve_DocumentTag;
class QELXVelmAttributeExporter;

extern "C" XVELM2KA_API QELIResult QELXCreateVelmBRepExporter(QELXDocument* document, QELXBRepExporter** out);

class QELXVelmBRepExporter : public QELXDefaultBRepExporter {
public:
    explicit QELXVelmBRepExporter(QELXDocument* document);
    ~QELXVelmBRepExporter() override;
    QELXVelmBRepExporter(const QELXVelmBRepExporter&) = delete;
    QELXVelmBRepExporter& operator=(const QELXVelmBRepExporter&) = delete;

    // Options, lifecycle (brep_exporter.cpp).
    QELIResult GetOption(QELXString name, QELXOption*& option) override;
    // Reads the user options through GetUserOption; the argument is not used.
    QELIResult ProcessUserOptions(QELXOptions& userOptions) override;
    QELIResult GetRequiredOptions(QELXOptions& options) override;
    QELIResult GetAttributeExporter(QELXAttributeExporter*& out) override;
    QELIResult GetGeometryExporter(QELXGeometryExporter*& out) override;
    QELIResult PrepareBody(const QELXIdentifier& body) override;
    QELIResult ReleaseBody(const QELXIdentifier& body) override;

    // Topology walk by identifier (brep_walk.cpp).
    QELIResult GetNumberOfBodies(int& count) override;
    QELIResult GetBody(int index, QELXIdentifier& body) override;
    QELIResult GetNumberOfLumpsFromBody(const QELXIdentifier& body, int& count) override;
    QELIResult GetLumpFromBody(const QELXIdentifier& body, int index, QELXIdentifier& lump) override;
    QELIResult GetNumberOf2DShellsFromBody(const QELXIdentifier& body, int& count) override;
    QELIResult Get2DShellFromBody(const QELXIdentifier& body, int index, QELXIdentifier& shell) override;
    QELIResult GetNumberOfWiresFromBody(const QELXIdentifier& body, int& count) override;
    QELIResult GetWireFromBody(const QELXIdentifier& body, int index, QELXIdentifier& wire) override;
    QELIResult GetNumberOfPointWiresFromBody(const QELXIdentifier& body, int& count) override;
    QELIResult GetPointWireFromBody(const QELXIdentifier& body, int index, QELXIdentifier& wire) override;
    QELIResult GetNumberOfFacesFromBody(const QELXIdentifier& body, int& count) override;
    QELIResult GetNumberOfVolumesFromLump(const QELXIdentifier& lump, int& count) override;
    QELIResult GetVolumeFromLump(const QELXIdentifier& lump, int index, QELXIdentifier& volume) override;
    QELIResult GetNumberOfShellsFromVolume(const QELXIdentifier& volume, int& count) override;
    QELIResult GetShellFromVolume(const QELXIdentifier& volume, int index, QELXIdentifier& shell) override;
    QELIResult GetNumberOfFacesFromShell(const QELXIdentifier& shell, int& count) override;
    QELIResult GetFaceFromShell(const QELXIdentifier& shell, int index, QELXIdentifier& face) override;
    QELIResult IsShellClosed(const QELXIdentifier& shell, bool& flag) override;
    QELIResult GetNumberOfEdgesFromWire(const QELXIdentifier& wire, int& count) override;
    QELIResult GetEdgeFromWire(const QELXIdentifier& wire, int& index, QELXIdentifier& edge) override;
    QELIResult GetNumberOfVerticesFromWire(const QELXIdentifier& wire, int& count) override;
    QELIResult GetVertexFromWire(const QELXIdentifier& wire, int& index, QELXIdentifier& vertex) override;
    QELIResult GetFaceSense(const QELXIdentifier& face, bool& forward) override;
    QELIResult GetFaceDomain(const QELXIdentifier& face, double uPair[2], double vPair[2]) override;
    QELIResult GetNumberOfLoopsFromFace(const QELXIdentifier& face, int& count) override;
    QELIResult GetLoopFromFace(const QELXIdentifier& face, int& index, QELXIdentifier& loop) override;
    QELIResult GetNumberOfCoedgesFromLoop(const QELXIdentifier& loop, int& count) override;
    QELIResult GetCoedgeFromLoop(const QELXIdentifier& loop, int& index, QELXIdentifier& coedge) override;
    QELIResult IsLoopDegenerate(const QELXIdentifier& loop, bool& flag) override;
    QELIResult IsOuterLoop(const QELXIdentifier& loop, bool& flag) override;
    QELIResult GetFaceFromLoop(const QELXIdentifier& loop, QELXIdentifier& face) override;
    QELIResult GetVertexFromDegenerateLoop(const QELXIdentifier& loop, QELXIdentifier& vertex) override;
    QELIResult GetCoedgeSense(const QELXIdentifier& coedge, bool& forward) override;
    QELIResult GetEdgeFromCoedge(const QELXIdentifier& coedge, QELXIdentifier& edge) override;
    QELIResult GetLoopFromCoedge(const QELXIdentifier& coedge, QELXIdentifier& loop) override;
    QELIResult GetCoedgeDomain(const QELXIdentifier& coedge, double& low, double& high) override;
    QELIResult GetPartnerCoedge(const QELXIdentifier& coedge, QELXIdentifier& partner) override;
    QELIResult GetNumberOfCoedgesFromEdge(const QELXIdentifier& edge, int& count) override;
    QELIResult GetCoedgeFromEdge(const QELXIdentifier& edge, int& index, QELXIdentifier& coedge) override;
    QELIResult GetStartVertexFromEdge(const QELXIdentifier& edge, QELXIdentifier& vertex) override;
    QELIResult GetEndVertexFromEdge(const QELXIdentifier& edge, QELXIdentifier& vertex) override;
    QELIResult GetEdgeDomain(const QELXIdentifier& edge, double& low, double& high) override;
    QELIResult GetEdgeSense(const QELXIdentifier& edge, bool& forward) override;
    QELIResult GetNumberOfEdgesFromVertex(const QELXIdentifier& vertex, int& count) override;
    QELIResult GetEdgeFromVertex(const QELXIdentifier& vertex, int& index, QELXIdentifier& edge) override;

    // Geometry handles and their caches (brep_geometry.cpp).
    QELIResult GetFaceSurface(const QELXIdentifier& face, QELXIdentifier& surface) override;
    QELIResult GetFaceAnalyticSurface(const QELXIdentifier& face, QELXIdentifier& surface) override;
    QELIResult GetEdgeCurve(const QELXIdentifier& edge, QELXIdentifier& curve) override;
    QELIResult GetCoedgePCurve(const QELXIdentifier& coedge, QELXIdentifier& pcurve) override;
    QELIResult GetVertexPoint(const QELXIdentifier& vertex, QELXIdentifier& point) override;
    QELIResult ReleaseGeometry(const QELXIdentifier& entity, int kind) override;

    // Constant answers, boxes, iso-lines and the pointer road (brep_pointers.cpp).
    QELIResult GetNumberOfFreeSurfaces(int& count) override;
    QELIResult GetFreeSurface(int index, QELXIdentifier& surface) override;
    QELIResult GetNumberOfFreeCurves(int& count) override;
    QELIResult GetFreeCurve(int index, QELXIdentifier& curve) override;
    QELIResult GetNumberOfFreePoints(int& count) override;
    QELIResult GetFreePoint(int index, QELXIdentifier& point) override;
    QELIResult GetFaceFromBody(const QELXIdentifier& body, int index, QELXIdentifier& face) override;
    QELIResult IsFaceOrientationCorrect(const QELXIdentifier& face, bool& flag) override;
    QELIResult GetFaceCategory(const QELXIdentifier& face, int& category) override;
    QELIResult GetCoedgePCurveSense(const QELXIdentifier& coedge, bool& forward) override;
    QELIResult GetBoundingBoxA(const QELXIdentifier& entity, double low[3], double high[3]) override;
    QELIResult GetBoundingBoxB(const QELXIdentifier& entity, double low[3], double high[3]) override;
    QELIResult GetBoundingBoxC(const QELXIdentifier& entity, double low[3], double high[3]) override;
    QELIResult GetIsoParametricCurves(const QELXIdentifier& face, bool vLines, int count, int& n,
                                      double*& array) override;
    QELIResult ReleaseIsoParametricCurves(double*& array) override;

    int GetNumberOfBodiesPtr() override;
    void* GetBodyPtr(int index) override;
    int GetNumberOfLumpsFromBodyPtr(void* body) override;
    void* GetLumpFromBodyPtr(void* body, int index) override;
    int GetNumberOfFacesFromBodyPtr(void* body) override;
    void* GetFaceFromBodyPtr(void* body, int index) override;
    int GetNumberOfFacesFromShellPtr(void* shell) override;
    void* GetFaceFromShellPtr(void* shell, int index) override;
    QELIResult GetFaceDomainPtr(void* face, double uPair[2], double vPair[2]) override;
    int GetNumberOfLoopsFromFacePtr(void* face) override;
    void* GetLoopFromFacePtr(void* face, int index) override;
    int GetNumberOfCoedgesFromLoopPtr(void* loop) override;
    void* GetCoedgeFromLoopPtr(void* loop, int index) override;
    bool IsLoopDegeneratePtr(void* loop) override;
    bool IsOuterLoopPtr(void* loop) override;
    void* GetFaceFromLoopPtr(void* loop) override;
    void* GetEdgeFromCoedgePtr(void* coedge) override;
    void* GetLoopFromCoedgePtr(void* coedge) override;
    void* GetPartnerCoedgePtr(void* coedge) override;
    int GetNumberOfCoedgesFromEdgePtr(void* edge) override;
    void* GetCoedgeFromEdgePtr(void* edge, int index) override;
    void* GetStartVertexFromEdgePtr(void* edge) override;
    void* GetEndVertexFromEdgePtr(void* edge) override;
    QELIResult GetEdgeDomainPtr(void* edge, double range[2]) override;
    int GetNumberOfEdgesFromVertexPtr(void* vertex) override;
    void* GetEdgeFromVertexPtr(void* vertex, int index) override;
    bool HasBoundedFacesPtr(void* body) override;
    bool IsUnboundedPlaneBodyPtr(void* body) override;
    bool IsWireBodyPtr(void* body) override;
    bool IsVertexBodyPtr(void* body) override;
    void* GetEdgeFromBodyPtr(void* body, int index) override;
    int GetNumberOfEdgesFromBodyPtr(void* body) override;
    void* GetShellFromLumpPtr(void* lump, int index) override;
    int GetNumberOfShellsFromLumpPtr(void* lump) override;
    bool IsOwnerClosedSolidPtr(void* entity) override;
    bool GetFaceSensePtr(void* face) override;
    Gk_Surface3Handle GetFaceSurfacePtr(void* face) override;
    Gk_Surface3Handle GetFaceAnalyticSurfacePtr(void* face) override;
    void* GetVertexFromDegenerateLoopPtr(void* loop) override;
    bool GetCoedgeSensePtr(void* coedge) override;
    QELXCurve2DHandle GetCoedgePCurvePtr(void* coedge) override;
    QELXCurve3DHandle GetEdgeCurvePtr(void* edge) override;
    QELIResult GetVertexPointPtr(void* vertex, double xyz[3]) override;
    int GetNumberOfFreeSurfacesFromBodyPtr(void* body) override;
    void* GetFreeSurfaceFromBodyPtr(void* body, int index) override;
    void* GetLoopFromFace2Ptr(void* face, int index) override;
    int GetNumberOfLoopsFromFace2Ptr(void* face) override;
    QELIResult GetTypeCodePtr(void* entity, int& code) override;
    int GetTypeCodeValuePtr(void* entity) override;
    void* GetWireEdgeFromBodyPtr(void* body, int index) override;
    int GetNumberOfWireEdgesFromBodyPtr(void* body) override;
    void* GetDotVertexFromBodyPtr(void* body, int index) override;
    int GetNumberOfDotVerticesFromBodyPtr(void* body) override;
    QELIResult GetIsoParametricCurvesPtr(void* face, bool vLines, int count, int& n, double*& array) override;
    QELIResult ReleaseIsoParametricCurvesPtr(double*& array) override;
    QELIResult GetPersistentIdPtr(void* entity, int& id) override;

    Ve_DocumentTag* documentTag() const { return m_documentTag; }
    // A topology identifier owned by this exporter, with a kernel-side cast.
    QELXIdentifier identifierOf(const ENTITY* entity, const char* type, const char* typeName);

protected:
    QELIResult DoPreProcess() override;

private:
    void declareLinks();
    // Every cached geometry of the body's faces, edges, coedges and vertices
    // dropped: the entities go, and their addresses may come back.
    void dropGeometryOf(ENTITY* body);
    QELIResult isoLines(FACE* face, bool vLines, int count, int& n, double*& array);
    // The face's parameter box, worked out once per body walk: the box comes
    // from sampling the loops, and a walk asks for it more than once.
    void faceDomain(const FACE* face, double uPair[2], double vPair[2]);

    Ve_DocumentTag* m_documentTag = nullptr;
    QELXVelmAttributeExporter* m_attributeExporter = nullptr;
    QELXGkGeometryExporter* m_geometryExporter = nullptr;
    int m_state = -1;
    QELXHashMap<QELXIdentifier, Gk_Surface3Handle> m_surfaces;
    QELXHashMap<QELXIdentifier, Gk_Surface3Handle> m_analyticSurfaces;
    QELXHashMap<QELXIdentifier, QELXCurve3DHandle> m_curves;
    QELXHashMap<QELXIdentifier, QELXCurve2DHandle> m_pcurves;
    QELXHashMap<QELXIdentifier, QELXPoint3DHandle> m_points;
    struct FaceDomain {
        double u[2] = {0.0, 0.0};
        double v[2] = {0.0, 0.0};
    };
    // The boxes of the faces asked about last, a slot per face address:
    // the questions about one face come close together, and a body of a
    // million faces keeps a few kilobytes, not a box each. Emptied when a
    // body walk starts or ends and before preprocessing, when faces may
    // change.
    class FaceDomainCache {
    public:
        bool Get(const FACE* face, FaceDomain& box) const
        {
            if (m_slots.empty())
                return false;
            const Slot& slot = m_slots[slotOf(face)];
            if (slot.face != face || slot.generation != m_generation)
                return false;
            box = slot.box;
            return true;
        }
        void Add(const FACE* face, const FaceDomain& box)
        {
            if (m_slots.empty())
                m_slots.resize(kSlots);
            m_slots[slotOf(face)] = {face, m_generation, box};
        }
        // Every slot of an earlier generation reads as empty.
        void Clear() { ++m_generation; }

    private:
        static constexpr std::size_t kSlots = 4096;
        struct Slot {
            const FACE* face = nullptr;
            unsigned generation = 0;
            FaceDomain box;
        };
        static std::size_t slotOf(const FACE* face)
        {
            auto x = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(face));
            x ^= x >> 29;
            x *= 0x9E3779B97F4A7C15ull;
            return static_cast<std::size_t>(x >> 52) & (kSlots - 1);
        }
        std::vector<Slot> m_slots;
        unsigned m_generation = 1;
    };
    FaceDomainCache m_faceDomains;
};
