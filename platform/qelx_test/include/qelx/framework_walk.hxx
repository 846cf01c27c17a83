#pragma once
// The framework walk: reads any B-rep exporter level by level the way a
// target format would (PrepareBody/ReleaseBody around each body,
// ReleaseGeometry after each geometry read, every surface, curve, pcurve
// and point through the geometry exporter, every attribute through the
// attribute exporter) and collects what it was told into a source model.
//
// Stage events ("Stage" kind) let a driver show progress: "Bodies" (count =
// number of bodies), one "Body" stage per body (count = its ordinal,
// weight = its share), then "Free entities" and "Attributes" (last stage).
// Each is fired at its start and again when finished.
#include "qelx/test_model.hxx"

class QELXBRepExporter;

namespace qelx_test {

struct WalkSummary {
    int bodies = 0, faces = 0, loops = 0, coedges = 0, edges = 0, vertices = 0, wires = 0;
    int surfaces = 0, curves = 0, pcurves = 0, points = 0;
    int failedCalls = 0; // answers other than 0 (the walk goes on with the preset value)
};

// Receives what the walk reads as it goes, so that a writer never needs the
// whole model at once. Each table's elements arrive once, in index order (the
// walk numbers an element when it first meets it and hands it over when its
// own lists are complete; no element holds another of its own table). Edges
// arrive without their partner coedges and vertices without their edges:
// those name entities met later, and follow once every body is walked.
class WalkSink {
public:
    virtual ~WalkSink() = default;
    // The source document's XType and unit, before anything else.
    virtual void document(const std::string& xType, int unit) = 0;
    virtual void body(const TestBody& b) = 0;
    virtual void lump(const TestLump& l) = 0;
    virtual void volume(const TestVolume& v) = 0;
    virtual void shell(const TestShell& s) = 0;
    virtual void face(const TestFace& f) = 0;
    virtual void loop(const TestLoop& l) = 0;
    virtual void coedge(const TestCoedge& c) = 0;
    virtual void edge(const TestEdge& e) = 0;
    virtual void vertex(const TestVertex& v) = 0;
    virtual void wire(const TestWire& w) = 0;
    virtual void surface(const TestSurface& s) = 0;
    virtual void curve(const TestCurve& c) = 0;
    virtual void pcurve(const TestPCurve& p) = 0;
    virtual void point(const Vec3& p) = 0;
    // After the bodies, in edge and vertex order: the partner ring and the
    // edge list (entities the walk reached through a loop or wire only).
    virtual void edgeCoedges(int edge, const std::vector<int>& coedges) = 0;
    virtual void vertexEdges(int vertex, const std::vector<int>& edges) = 0;
    virtual void freeEntities(const std::vector<int>& surfaces, const std::vector<int>& curves,
                              const std::vector<int>& points) = 0;
    // In increasing word order within each entity kind.
    virtual void attributes(std::uint64_t word, const TestAttributes& a) = 0;
    // Each layer number once, in the order the attributes named them.
    virtual void layer(int number, const TestLayer& l) = 0;
};

// The attribute fields a walk asks the attribute exporter for, one bit a
// group of getters: a target that carries only some of them (a BREP file
// none, STEP and IGES names, colours and layers) names those, and the walk
// asks for nothing else (at 64,000 faces the seventeen getters an entity
// cost a second). Layer names, colours and states are read with the layers.
enum WalkAttributeField : unsigned {
    WalkLayer = 1u << 0,
    WalkName = 1u << 1,
    WalkColor = 1u << 2,
    WalkOtherAttributes = 1u << 3, // show, pick, unboundedness, thickness, lines, ids, aliases
};
inline constexpr unsigned kWalkAllAttributes = WalkLayer | WalkName | WalkColor | WalkOtherAttributes;

// 0 when the exporter could be walked (individual failed answers are
// counted, not fatal); 0x1000001 for a null exporter or no body count.
// `out` receives the collected model on success and is untouched otherwise.
// `attributeFields` (WalkAttributeField bits) are the attributes read.
QELIResult walkExporter(QELXBRepExporter* exporter, TestModel& out, WalkSummary* summary = nullptr,
                        unsigned attributeFields = kWalkAllAttributes);
// The same walk handed to `sink` as it goes (the sink may have received part
// of the model when the walk fails).
QELIResult walkExporter(QELXBRepExporter* exporter, WalkSink& sink, WalkSummary* summary = nullptr,
                        unsigned attributeFields = kWalkAllAttributes);

} // namespace qelx_test
