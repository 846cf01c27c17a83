#pragma once
// A round trip through the connector's own exporter: its B-rep exporter (with
// the geometry and attribute exporters it hands out) seen through a document
// of another system (XType "XTest"), so that an importer takes its full roads
// rather than copying bodies of its own kind. Every identifier-road question
// goes to the wrapped exporter unchanged.
#include "qelx/qelx_brep_exporter.hxx"
#include "qelx/qelx_document.hxx"

namespace qelx_test {

class ForeignView : public QELXDefaultBRepExporter {
public:
    static constexpr const char* ForeignXType = "XTest";

    // The wrapped exporter is held for the life of the view; the view's
    // document takes the unit of the exporter's own.
    explicit ForeignView(QELXBRepExporter* inner);
    ForeignView(const ForeignView&) = delete;
    ForeignView& operator=(const ForeignView&) = delete;
    ~ForeignView() override;

    const char* GetName() const override { return "ForeignView"; }
    QELXBRepExporter* inner() const { return m_inner; }

    QELIResult GetRequiredOptions(QELXOptions& options) override { return m_inner->GetRequiredOptions(options); }
    QELIResult GetGeometryExporter(QELXGeometryExporter*& out) override { return m_inner->GetGeometryExporter(out); }
    QELIResult GetAttributeExporter(QELXAttributeExporter*& out) override { return m_inner->GetAttributeExporter(out); }

    QELIResult GetNumberOfBodies(int& a0) override { return m_inner->GetNumberOfBodies(a0); }
    QELIResult GetBody(int a0, QELXIdentifier& a1) override { return m_inner->GetBody(a0, a1); }
    QELIResult GetNumberOfFreeSurfaces(int& a0) override { return m_inner->GetNumberOfFreeSurfaces(a0); }
    QELIResult GetFreeSurface(int a0, QELXIdentifier& a1) override { return m_inner->GetFreeSurface(a0, a1); }
    QELIResult GetNumberOfFreeCurves(int& a0) override { return m_inner->GetNumberOfFreeCurves(a0); }
    QELIResult GetFreeCurve(int a0, QELXIdentifier& a1) override { return m_inner->GetFreeCurve(a0, a1); }
    QELIResult GetNumberOfFreePoints(int& a0) override { return m_inner->GetNumberOfFreePoints(a0); }
    QELIResult GetFreePoint(int a0, QELXIdentifier& a1) override { return m_inner->GetFreePoint(a0, a1); }
    QELIResult PrepareBody(const QELXIdentifier& a0) override { return m_inner->PrepareBody(a0); }
    QELIResult ReleaseBody(const QELXIdentifier& a0) override { return m_inner->ReleaseBody(a0); }
    QELIResult GetNumberOfLumpsFromBody(const QELXIdentifier& a0, int& a1) override
    {
        return m_inner->GetNumberOfLumpsFromBody(a0, a1);
    }
    QELIResult GetLumpFromBody(const QELXIdentifier& a0, int a1, QELXIdentifier& a2) override
    {
        return m_inner->GetLumpFromBody(a0, a1, a2);
    }
    QELIResult GetNumberOf2DShellsFromBody(const QELXIdentifier& a0, int& a1) override
    {
        return m_inner->GetNumberOf2DShellsFromBody(a0, a1);
    }
    QELIResult Get2DShellFromBody(const QELXIdentifier& a0, int a1, QELXIdentifier& a2) override
    {
        return m_inner->Get2DShellFromBody(a0, a1, a2);
    }
    QELIResult GetNumberOfWiresFromBody(const QELXIdentifier& a0, int& a1) override
    {
        return m_inner->GetNumberOfWiresFromBody(a0, a1);
    }
    QELIResult GetWireFromBody(const QELXIdentifier& a0, int a1, QELXIdentifier& a2) override
    {
        return m_inner->GetWireFromBody(a0, a1, a2);
    }
    QELIResult GetNumberOfPointWiresFromBody(const QELXIdentifier& a0, int& a1) override
    {
        return m_inner->GetNumberOfPointWiresFromBody(a0, a1);
    }
    QELIResult GetPointWireFromBody(const QELXIdentifier& a0, int a1, QELXIdentifier& a2) override
    {
        return m_inner->GetPointWireFromBody(a0, a1, a2);
    }
    QELIResult GetNumberOfFacesFromBody(const QELXIdentifier& a0, int& a1) override
    {
        return m_inner->GetNumberOfFacesFromBody(a0, a1);
    }
    QELIResult GetFaceFromBody(const QELXIdentifier& a0, int a1, QELXIdentifier& a2) override
    {
        return m_inner->GetFaceFromBody(a0, a1, a2);
    }
    QELIResult GetNumberOfVolumesFromLump(const QELXIdentifier& a0, int& a1) override
    {
        return m_inner->GetNumberOfVolumesFromLump(a0, a1);
    }
    QELIResult GetVolumeFromLump(const QELXIdentifier& a0, int a1, QELXIdentifier& a2) override
    {
        return m_inner->GetVolumeFromLump(a0, a1, a2);
    }
    QELIResult GetNumberOfShellsFromVolume(const QELXIdentifier& a0, int& a1) override
    {
        return m_inner->GetNumberOfShellsFromVolume(a0, a1);
    }
    QELIResult GetShellFromVolume(const QELXIdentifier& a0, int a1, QELXIdentifier& a2) override
    {
        return m_inner->GetShellFromVolume(a0, a1, a2);
    }
    QELIResult GetNumberOfFacesFromShell(const QELXIdentifier& a0, int& a1) override
    {
        return m_inner->GetNumberOfFacesFromShell(a0, a1);
    }
    QELIResult GetFaceFromShell(const QELXIdentifier& a0, int a1, QELXIdentifier& a2) override
    {
        return m_inner->GetFaceFromShell(a0, a1, a2);
    }
    QELIResult IsShellClosed(const QELXIdentifier& a0, bool& a1) override { return m_inner->IsShellClosed(a0, a1); }
    QELIResult GetNumberOfEdgesFromWire(const QELXIdentifier& a0, int& a1) override
    {
        return m_inner->GetNumberOfEdgesFromWire(a0, a1);
    }
    QELIResult GetEdgeFromWire(const QELXIdentifier& a0, int& a1, QELXIdentifier& a2) override
    {
        return m_inner->GetEdgeFromWire(a0, a1, a2);
    }
    QELIResult GetNumberOfVerticesFromWire(const QELXIdentifier& a0, int& a1) override
    {
        return m_inner->GetNumberOfVerticesFromWire(a0, a1);
    }
    QELIResult GetVertexFromWire(const QELXIdentifier& a0, int& a1, QELXIdentifier& a2) override
    {
        return m_inner->GetVertexFromWire(a0, a1, a2);
    }
    QELIResult IsFaceOrientationCorrect(const QELXIdentifier& a0, bool& a1) override
    {
        return m_inner->IsFaceOrientationCorrect(a0, a1);
    }
    QELIResult GetFaceSense(const QELXIdentifier& a0, bool& a1) override { return m_inner->GetFaceSense(a0, a1); }
    QELIResult GetFaceSurface(const QELXIdentifier& a0, QELXIdentifier& a1) override
    {
        return m_inner->GetFaceSurface(a0, a1);
    }
    QELIResult GetFaceDomain(const QELXIdentifier& a0, double a1[2], double a2[2]) override
    {
        return m_inner->GetFaceDomain(a0, a1, a2);
    }
    QELIResult GetNumberOfLoopsFromFace(const QELXIdentifier& a0, int& a1) override
    {
        return m_inner->GetNumberOfLoopsFromFace(a0, a1);
    }
    QELIResult GetLoopFromFace(const QELXIdentifier& a0, int& a1, QELXIdentifier& a2) override
    {
        return m_inner->GetLoopFromFace(a0, a1, a2);
    }
    QELIResult GetFaceCategory(const QELXIdentifier& a0, int& a1) override { return m_inner->GetFaceCategory(a0, a1); }
    QELIResult GetNumberOfCoedgesFromLoop(const QELXIdentifier& a0, int& a1) override
    {
        return m_inner->GetNumberOfCoedgesFromLoop(a0, a1);
    }
    QELIResult GetCoedgeFromLoop(const QELXIdentifier& a0, int& a1, QELXIdentifier& a2) override
    {
        return m_inner->GetCoedgeFromLoop(a0, a1, a2);
    }
    QELIResult IsLoopDegenerate(const QELXIdentifier& a0, bool& a1) override
    {
        return m_inner->IsLoopDegenerate(a0, a1);
    }
    QELIResult IsOuterLoop(const QELXIdentifier& a0, bool& a1) override { return m_inner->IsOuterLoop(a0, a1); }
    QELIResult GetFaceFromLoop(const QELXIdentifier& a0, QELXIdentifier& a1) override
    {
        return m_inner->GetFaceFromLoop(a0, a1);
    }
    QELIResult GetVertexFromDegenerateLoop(const QELXIdentifier& a0, QELXIdentifier& a1) override
    {
        return m_inner->GetVertexFromDegenerateLoop(a0, a1);
    }
    QELIResult GetCoedgeSense(const QELXIdentifier& a0, bool& a1) override { return m_inner->GetCoedgeSense(a0, a1); }
    QELIResult GetEdgeFromCoedge(const QELXIdentifier& a0, QELXIdentifier& a1) override
    {
        return m_inner->GetEdgeFromCoedge(a0, a1);
    }
    QELIResult GetLoopFromCoedge(const QELXIdentifier& a0, QELXIdentifier& a1) override
    {
        return m_inner->GetLoopFromCoedge(a0, a1);
    }
    QELIResult GetCoedgePCurve(const QELXIdentifier& a0, QELXIdentifier& a1) override
    {
        return m_inner->GetCoedgePCurve(a0, a1);
    }
    QELIResult GetCoedgePCurveSense(const QELXIdentifier& a0, bool& a1) override
    {
        return m_inner->GetCoedgePCurveSense(a0, a1);
    }
    QELIResult GetCoedgeDomain(const QELXIdentifier& a0, double& a1, double& a2) override
    {
        return m_inner->GetCoedgeDomain(a0, a1, a2);
    }
    QELIResult GetPartnerCoedge(const QELXIdentifier& a0, QELXIdentifier& a1) override
    {
        return m_inner->GetPartnerCoedge(a0, a1);
    }
    QELIResult GetNumberOfCoedgesFromEdge(const QELXIdentifier& a0, int& a1) override
    {
        return m_inner->GetNumberOfCoedgesFromEdge(a0, a1);
    }
    QELIResult GetCoedgeFromEdge(const QELXIdentifier& a0, int& a1, QELXIdentifier& a2) override
    {
        return m_inner->GetCoedgeFromEdge(a0, a1, a2);
    }
    QELIResult GetStartVertexFromEdge(const QELXIdentifier& a0, QELXIdentifier& a1) override
    {
        return m_inner->GetStartVertexFromEdge(a0, a1);
    }
    QELIResult GetEndVertexFromEdge(const QELXIdentifier& a0, QELXIdentifier& a1) override
    {
        return m_inner->GetEndVertexFromEdge(a0, a1);
    }
    QELIResult GetEdgeDomain(const QELXIdentifier& a0, double& a1, double& a2) override
    {
        return m_inner->GetEdgeDomain(a0, a1, a2);
    }
    QELIResult GetEdgeCurve(const QELXIdentifier& a0, QELXIdentifier& a1) override
    {
        return m_inner->GetEdgeCurve(a0, a1);
    }
    QELIResult GetEdgeSense(const QELXIdentifier& a0, bool& a1) override { return m_inner->GetEdgeSense(a0, a1); }
    QELIResult GetVertexPoint(const QELXIdentifier& a0, QELXIdentifier& a1) override
    {
        return m_inner->GetVertexPoint(a0, a1);
    }
    QELIResult GetNumberOfEdgesFromVertex(const QELXIdentifier& a0, int& a1) override
    {
        return m_inner->GetNumberOfEdgesFromVertex(a0, a1);
    }
    QELIResult GetEdgeFromVertex(const QELXIdentifier& a0, int& a1, QELXIdentifier& a2) override
    {
        return m_inner->GetEdgeFromVertex(a0, a1, a2);
    }
    QELIResult ReleaseGeometry(const QELXIdentifier& a0, int a1) override { return m_inner->ReleaseGeometry(a0, a1); }
    QELIResult GetBoundingBoxA(const QELXIdentifier& a0, double a1[3], double a2[3]) override
    {
        return m_inner->GetBoundingBoxA(a0, a1, a2);
    }
    QELIResult GetBoundingBoxB(const QELXIdentifier& a0, double a1[3], double a2[3]) override
    {
        return m_inner->GetBoundingBoxB(a0, a1, a2);
    }
    QELIResult GetBoundingBoxC(const QELXIdentifier& a0, double a1[3], double a2[3]) override
    {
        return m_inner->GetBoundingBoxC(a0, a1, a2);
    }
    QELIResult GetIsoParametricCurves(const QELXIdentifier& a0, bool a1, int a2, int& a3, double*& a4) override
    {
        return m_inner->GetIsoParametricCurves(a0, a1, a2, a3, a4);
    }
    QELIResult ReleaseIsoParametricCurves(double*& a0) override { return m_inner->ReleaseIsoParametricCurves(a0); }
    QELIResult GetFaceAnalyticSurface(const QELXIdentifier& a0, QELXIdentifier& a1) override
    {
        return m_inner->GetFaceAnalyticSurface(a0, a1);
    }
    bool IsSupplyingCorrectOrientations() const override { return m_inner->IsSupplyingCorrectOrientations(); }

private:
    QELXDocumentHandle m_document;
    QELXBRepExporter* m_inner;
};

} // namespace qelx_test
