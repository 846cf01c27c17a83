#pragma once
// The in-memory source model as a framework source: a document and the
// B-rep, geometry and attribute exporters over it. Every call is logged;
// forced answers of the model (TestModel::forceAnswer) apply to all three.
#include "qelx/test_model.hxx"
#include "qelx/qelx_attribute_exporter.hxx"
#include "qelx/qelx_brep_exporter.hxx"
#include "qelx/qelx_document.hxx"
#include "qelx/qelx_geometry_exporter.hxx"

#include <memory>
#include <string>
#include <functional>
#include <vector>

namespace qelx_test {

// The model's document: XType and unit from the model, and a "Header"
// export representation answering the model's header values.
class TestDocument : public QELXDocument {
public:
    explicit TestDocument(TestModel model);
    TestModel& model() { return m_model; }
    const TestModel& model() const { return m_model; }

private:
    TestModel m_model;
};

class TestHeader : public QELXExportRepresentation {
public:
    TestHeader(QELXDocument* document, const TestModel& model) : QELXExportRepresentation(document), m_model(model) {}
    QELXRepType GetType() const override { return QELXRepType("Header"); }
    // The index-th value of that name; 0x1000001 when there is none.
    QELIResult GetStringValue(const QELXString& name, int index, QELXString& value) override;
    const char* GetName() const override { return "TestHeader"; }

private:
    const TestModel& m_model;
};

class TestBRepExporter;

// Shared by the three exporters: the model, the call log and forced answers.
// A driver that serves a large model turns the log off: a line a call would
// otherwise outgrow the model many times over.
class TestCallLog {
public:
    std::vector<std::string> lines;
    bool recording = true;
    int count(const std::string& operation) const;
    void clear() { lines.clear(); }
};

class TestGeometryExporter : public QELXGeometryExporter {
public:
    TestGeometryExporter(QELXDocument* document, const TestModel& model, TestCallLog& log,
                         QELXAttributeExporter* attributes);

    QELXIdentifier surfaceId(int index);
    QELXIdentifier curveId(int index);
    QELXIdentifier pcurveId(int index);
    QELXIdentifier pointId(int index);

    // Arrays handed out and not yet given back through a Delete call.
    int outstandingArrays() const { return m_outstanding; }
    int deleteCalls() const { return m_deletes; }

    QELIResult GetAttributeExporter(QELXAttributeExporter*& out) override;

    QELIResult GetSurfaceType(const QELXIdentifier& id, int& type) override;
    QELIResult GetSurfaceParameterization(const QELXIdentifier& id, double& uA, double& uB, double& uC, double& vA,
                                          double& vB, double& vC, bool& flag) override;
    QELIResult GetPlanarSurfaceData(const QELXIdentifier& id, double origin[3], double uVector[3],
                                    double normal[3]) override;
    QELIResult GetConicalSurfaceData(const QELXIdentifier& id, double& a, double& b, double& c, double origin[3],
                                     double refDir[3], double axis[3]) override;
    QELIResult GetSphericalSurfaceData(const QELXIdentifier& id, double& radius, double centre[3], double dir1[3],
                                       double dir2[3]) override;
    QELIResult GetToroidalSurfaceData(const QELXIdentifier& id, double& major, double& minor, int& toroidalType,
                                      double centre[3], double refDir[3], double axis[3]) override;
    QELIResult GetNurbsSurfaceData(const QELXIdentifier& id, int& uDegree, int& vDegree, int& uCount, int& vCount,
                                   double*& ctrlPts, double*& weights, int& uKnotCount, double*& uKnots,
                                   int*& uMults, int& vKnotCount, double*& vKnots, int*& vMults, int& uClosure,
                                   int& vClosure) override;
    QELIResult DeleteNurbsSurfaceData(double*& ctrlPts, double*& weights, double*& uKnots, int*& uMults,
                                      double*& vKnots, int*& vMults) override;
    QELIResult GetOffsetSurfaceData(const QELXIdentifier& id, double& distance, QELXIdentifier& base) override;
    QELIResult GetExtrudedSurfaceData(const QELXIdentifier& id, double direction[3],
                                      QELXIdentifier& profile) override;
    QELIResult GetRevolvedSurfaceData(const QELXIdentifier& id, double axisPoint[3], double axisDir[3],
                                      QELXIdentifier& profile) override;
    QELIResult GetSurfaceSpan(const QELXIdentifier& id, double uSpan[2], double vSpan[2]) override;
    QELIResult GetSurfaceDeviation(const QELXIdentifier& id, double& deviation) override;

    QELIResult GetCurveType(const QELXIdentifier& id, int& type) override;
    QELIResult GetCurveParameterization(const QELXIdentifier& id, double& scale, double& offset, bool& flag) override;
    QELIResult GetCurveDomain(const QELXIdentifier& id, double range[2]) override;
    QELIResult GetLinearCurveData(const QELXIdentifier& id, double point[3], double direction[3]) override;
    QELIResult GetEllipticalCurveData(const QELXIdentifier& id, double& majorRadius, double& minorRadius,
                                      double centre[3], double majorDir[3], double normal[3]) override;
    QELIResult GetNurbsCurveData(const QELXIdentifier& id, int& degree, int& ctrlCount, double*& ctrlPts,
                                 int& knotCount, double*& knots, int*& mults, double*& weights, int& form) override;
    QELIResult DeleteNurbsCurveData(double*& ctrlPts, double*& knots, int*& mults, double*& weights) override;

    QELIResult GetPCurveType(const QELXIdentifier& id, int& type) override;
    QELIResult GetPCurveParameterization(const QELXIdentifier& id, double& scale, double& offset, bool& flag) override;
    QELIResult GetNurbsPCurveData(const QELXIdentifier& id, int& degree, int& ctrlCount, double*& ctrlPts,
                                  int& knotCount, double*& knots, int*& mults, double*& weights, int& form) override;
    QELIResult DeleteNurbsPCurveData(double*& ctrlPts, double*& knots, int*& mults, double*& weights) override;

    QELIResult GetCartesianPointData(const QELXIdentifier& id, double xyz[3]) override;

private:
    template <class Write>
    QELIResult answer(const char* operation, const QELXIdentifier& id, Write&& write);
    const TestSurface* surface(const QELXIdentifier& id) const;
    const TestCurve* curve(const QELXIdentifier& id) const;
    const TestPCurve* pcurve(const QELXIdentifier& id) const;
    QELIResult nurbsData(const TestNurbs& n, int dim, int& degree, int& ctrlCount, double*& ctrlPts, int& knotCount,
                         double*& knots, int*& mults, double*& weights, int& form);
    QELIResult freeArrays(std::initializer_list<double**> reals, std::initializer_list<int**> ints);

    const TestModel& m_model;
    TestCallLog& m_log;
    QELXAttributeExporter* m_attributes;
    int m_outstanding = 0;
    int m_deletes = 0;
};

class TestAttributeExporter : public QELXODRAttributeExporter {
public:
    TestAttributeExporter(const TestModel& model, TestCallLog& log);
    bool corvane = true;

    bool IsCorvaneExporter() override { return corvane; }
    QELIResult GetColor(const QELXIdentifier& id, double* rgba) override;
    QELIResult GetLayer(const QELXIdentifier& id, int& layer) override;
    QELIResult GetName(const QELXIdentifier& id, QELXString& name) override;
    QELIResult GetAlias(const QELXIdentifier& entity, QELXIdentifier& second, QELXIdentifier& first, int& count,
                        QELXString*& texts) override;
    QELIResult GetThickness(const QELXIdentifier& id, double& thickness) override;
    QELIResult GetPick(const QELXIdentifier& id, bool& pick) override;
    QELIResult GetShow(const QELXIdentifier& id, bool& show) override;
    QELIResult GetId(const QELXIdentifier& id, int& value) override;
    QELIResult GetId(const QELXIdentifier& id, QELXString& value) override;
    QELIResult GetLineWeight(const QELXIdentifier& id, int& weight) override;
    QELIResult GetPlaneUnboundedness(const QELXIdentifier& id, bool& flag) override;
    QELIResult GetVdaPSETIdentifier(const QELXIdentifier& id, QELXString& value) override;
    QELIResult GetVdaMDIIdentifier(const QELXIdentifier& id, QELXString& value) override;
    QELIResult GetPID(const QELXIdentifier& id, QELXString& value) override;
    QELIResult GetPName(const QELXIdentifier& id, QELXString& value) override;
    QELIResult GetAlias2(const QELXIdentifier& id, QELXString& value) override;
    QELIResult GetNativePointer(const QELXIdentifier& id, void*& pointer) override;
    QELIResult GetSurfaceUnboundedness(const QELXIdentifier& id, bool& flag) override;
    QELIResult GetLayerColor(int layer, double* rgba) override;
    QELIResult GetLayerColor(const QELXIdentifier& id, double* rgba) override;
    QELIResult GetLayerName(int layer, QELXString& name) override;
    QELIResult GetLayerName(const QELXIdentifier& id, QELXString& name) override;
    QELIResult GetLayerState(int layer, bool& state) override;
    QELIResult GetLayerState(const QELXIdentifier& id, bool& state) override;
    QELIResult GetLineType(const QELXIdentifier& id, int& type) override;

private:
    template <class Field, class Write>
    QELIResult attribute(const char* operation, const QELXIdentifier& id, Field field, Write&& write);
    template <class Write>
    QELIResult layerOf(const char* operation, int layer, Write&& write);
    const TestModel& m_model;
    TestCallLog& m_log;
};

class TestBRepExporter : public QELXDefaultBRepExporter {
public:
    explicit TestBRepExporter(TestDocument* document);
    ~TestBRepExporter() override;

    TestModel& model() { return m_document->model(); }
    TestCallLog& log() { return m_log; }
    TestGeometryExporter& geometry() { return *m_geometry; }
    TestAttributeExporter& attributes() { return *m_attributeExporter; }
    QELXIdentifier id(EntityKind kind, int index);
    // PrepareBody calls not yet matched by ReleaseBody.
    int openBodies() const { return m_openBodies; }
    // For a driver that reads the model once: a geometry table of the model
    // goes as soon as every entity that names its records has released them
    // (each face its surface, edge its curve, coedge its pcurve) from every
    // body that reaches it (an edge two bodies share is read by both, a
    // release counting once per prepared body), and nothing else in the
    // model may still ask for one (no free surfaces or curves, no surface
    // made from a curve or another surface); later questions about its
    // records find nothing. Off unless set.
    void freeReleasedGeometry(bool on) { m_freeReleased = on; }

    QELIResult GetGeometryExporter(QELXGeometryExporter*& out) override;
    QELIResult GetAttributeExporter(QELXAttributeExporter*& out) override;
    QELIResult GetNumberOfBodies(int& count) override;
    QELIResult GetBody(int index, QELXIdentifier& body) override;
    QELIResult GetNumberOfFreeSurfaces(int& count) override;
    QELIResult GetFreeSurface(int index, QELXIdentifier& surface) override;
    QELIResult GetNumberOfFreeCurves(int& count) override;
    QELIResult GetFreeCurve(int index, QELXIdentifier& curve) override;
    QELIResult GetNumberOfFreePoints(int& count) override;
    QELIResult GetFreePoint(int index, QELXIdentifier& point) override;
    QELIResult PrepareBody(const QELXIdentifier& body) override;
    QELIResult ReleaseBody(const QELXIdentifier& body) override;
    QELIResult GetNumberOfLumpsFromBody(const QELXIdentifier& body, int& count) override;
    QELIResult GetLumpFromBody(const QELXIdentifier& body, int index, QELXIdentifier& lump) override;
    QELIResult GetNumberOf2DShellsFromBody(const QELXIdentifier& body, int& count) override;
    QELIResult Get2DShellFromBody(const QELXIdentifier& body, int index, QELXIdentifier& shell) override;
    QELIResult GetNumberOfWiresFromBody(const QELXIdentifier& body, int& count) override;
    QELIResult GetWireFromBody(const QELXIdentifier& body, int index, QELXIdentifier& wire) override;
    QELIResult GetNumberOfPointWiresFromBody(const QELXIdentifier& body, int& count) override;
    QELIResult GetPointWireFromBody(const QELXIdentifier& body, int index, QELXIdentifier& wire) override;
    QELIResult GetNumberOfFacesFromBody(const QELXIdentifier& body, int& count) override;
    QELIResult GetFaceFromBody(const QELXIdentifier& body, int index, QELXIdentifier& face) override;
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
    QELIResult IsFaceOrientationCorrect(const QELXIdentifier& face, bool& flag) override;
    QELIResult GetFaceSense(const QELXIdentifier& face, bool& forward) override;
    QELIResult GetFaceSurface(const QELXIdentifier& face, QELXIdentifier& surface) override;
    QELIResult GetFaceDomain(const QELXIdentifier& face, double uPair[2], double vPair[2]) override;
    QELIResult GetNumberOfLoopsFromFace(const QELXIdentifier& face, int& count) override;
    QELIResult GetLoopFromFace(const QELXIdentifier& face, int& index, QELXIdentifier& loop) override;
    QELIResult GetFaceCategory(const QELXIdentifier& face, int& category) override;
    QELIResult GetNumberOfCoedgesFromLoop(const QELXIdentifier& loop, int& count) override;
    QELIResult GetCoedgeFromLoop(const QELXIdentifier& loop, int& index, QELXIdentifier& coedge) override;
    QELIResult IsLoopDegenerate(const QELXIdentifier& loop, bool& flag) override;
    QELIResult IsOuterLoop(const QELXIdentifier& loop, bool& flag) override;
    QELIResult GetFaceFromLoop(const QELXIdentifier& loop, QELXIdentifier& face) override;
    QELIResult GetVertexFromDegenerateLoop(const QELXIdentifier& loop, QELXIdentifier& vertex) override;
    QELIResult GetCoedgeSense(const QELXIdentifier& coedge, bool& forward) override;
    QELIResult GetEdgeFromCoedge(const QELXIdentifier& coedge, QELXIdentifier& edge) override;
    QELIResult GetLoopFromCoedge(const QELXIdentifier& coedge, QELXIdentifier& loop) override;
    QELIResult GetCoedgePCurve(const QELXIdentifier& coedge, QELXIdentifier& pcurve) override;
    QELIResult GetCoedgePCurveSense(const QELXIdentifier& coedge, bool& forward) override;
    QELIResult GetCoedgeDomain(const QELXIdentifier& coedge, double& low, double& high) override;
    QELIResult GetPartnerCoedge(const QELXIdentifier& coedge, QELXIdentifier& partner) override;
    QELIResult GetNumberOfCoedgesFromEdge(const QELXIdentifier& edge, int& count) override;
    QELIResult GetCoedgeFromEdge(const QELXIdentifier& edge, int& index, QELXIdentifier& coedge) override;
    QELIResult GetStartVertexFromEdge(const QELXIdentifier& edge, QELXIdentifier& vertex) override;
    QELIResult GetEndVertexFromEdge(const QELXIdentifier& edge, QELXIdentifier& vertex) override;
    QELIResult GetEdgeDomain(const QELXIdentifier& edge, double& low, double& high) override;
    QELIResult GetEdgeCurve(const QELXIdentifier& edge, QELXIdentifier& curve) override;
    QELIResult GetEdgeSense(const QELXIdentifier& edge, bool& forward) override;
    QELIResult GetVertexPoint(const QELXIdentifier& vertex, QELXIdentifier& point) override;
    QELIResult GetNumberOfEdgesFromVertex(const QELXIdentifier& vertex, int& count) override;
    QELIResult GetEdgeFromVertex(const QELXIdentifier& vertex, int& index, QELXIdentifier& edge) override;
    QELIResult ReleaseGeometry(const QELXIdentifier& entity, int kind) override;

private:
    template <class Write>
    QELIResult answer(const char* operation, const QELXIdentifier& id, Write&& write);
    // The model index of an identifier of this kind, or -1.
    int indexOf(const QELXIdentifier& id, EntityKind kind) const;
    template <class T>
    const T* entity(const QELXIdentifier& id, EntityKind kind, const std::vector<T>& table) const;
    QELIResult count(const char* operation, const QELXIdentifier& id, EntityKind kind, int& out,
                     const std::vector<int>& (*list)(const TestModel&, int));
    QELIResult item(const char* operation, const QELXIdentifier& id, EntityKind kind, int index, QELXIdentifier& out,
                    EntityKind itemKind, const std::vector<int>& (*list)(const TestModel&, int));
    QELIResult freeItem(const char* operation, const std::vector<int>& list, int index, QELXIdentifier& out,
                        QELXIdentifier (TestGeometryExporter::*idOf)(int));

    // Which entities of one kind released their geometry.
    // Per entity of a table: how many of the bodies reaching it (at least
    // one) have not released it yet, and the body that released it last.
    struct Releases {
        std::vector<int> left, lastBody;
        std::size_t count = 0;
        // True when this release, made while `body` is prepared (-1: none),
        // was the last the table waited for. `reach` gives each of the
        // table's `entities` its number of bodies, asked on the first release.
        bool note(int index, int body, std::size_t entities, const std::function<std::vector<int>()>& reach);
    };
    // How many bodies reach each face, coedge and edge of the model.
    struct Reach {
        std::vector<int> faces, coedges, edges;
    };
    Reach bodyReach() const;
    // Frees what the release let go when freeing is on.
    void freeAfterRelease(const QELXIdentifier& entity, int kind);

    TestDocument* m_document;
    TestCallLog m_log;
    bool m_freeReleased = false;
    Releases m_surfaceReleases, m_curveReleases, m_pcurveReleases;
    std::unique_ptr<TestAttributeExporter> m_attributeExporter;
    std::unique_ptr<TestGeometryExporter> m_geometry;
    int m_openBodies = 0;
    int m_preparedBody = -1;
};

} // namespace qelx_test
