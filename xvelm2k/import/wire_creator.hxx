#pragma once
// Builds kernel bodies from the wire content of one source body: its wires
// (curve edges and their vertices, shared through two catalogues so that an
// edge or vertex met by several wires is made once) become one wire body or
// one body per connected wire; its point wires become acorn bodies, or with
// the polyline switch one polyline body per point wire.
#include "import/brep_creator.hxx"

class WIRE;

class XVELM2KA_API QELXVelmWireCreator : public QELXVelmBRepCreator {
public:
    QELXVelmWireCreator(QELXBRepExporter* exporter, Gk_ImportContext* context, QELXVelmBRepImporter* importer);
    ~QELXVelmWireCreator() override;

    // Null for an identifier that is not valid; else found or made (with its point).
    VERTEX* GetVertex(const QELXIdentifier& vertex) override;
    // With create, found or made (with its end vertices); else a lookup only.
    EDGE* GetEdge(const QELXIdentifier& edge, bool create) override;

    // Each hands back a new cocoon with what it made (a null handle without
    // source exporter).
    void CreateWireBodies(Ve_CocoonTagHandle& out, const QELXIdentifier& body);
    void CreateAcornBodies(Ve_CocoonTagHandle& out, const QELXIdentifier& body);
    void CreatePolylineBody(Ve_CocoonTagHandle& out, const QELXIdentifier& body);

    Gk_ObsWraper GetWireVertexCallback() const;
    Gk_ObsWraper GetWireEdgeCallback() const;
    Gk_ObsWraper GetWireBodyCallback() const;

    // The "WireEdge" stage over every wire edge, then every wire vertex's links.
    void CreateWirePairs();
    // One wire per connected coedge group (or per edge); the head of the chain.
    WIRE* MakeWires(const QELXDynamicArray<QELXIdentifier>& edges, bool connected);
    // Gives the wire to the coedge and everything linked to it.
    static void SpreadWire(WIRE* wire, COEDGE* coedge);
    void FinishWireEntities(int referenceLayer);
    void FinishPointVertex(VERTEX* vertex, const QELXIdentifier& source, const QELXIdentifier& body);
    // One wire over the edges' coedges in array order.
    static WIRE* MakeWireFromCoedges(const QELXDynamicArray<EDGE*>& edges);

    int GetNumberOfWireEdges() const { return m_wireEdges.Count(); }
    int GetNumberOfWireVertices() const { return m_wireVertices.Count(); }

private:
    // The shared steps of the roads.
    void attributeStep(ENTITY* entity, const QELXIdentifier& source) const;
    void pidAndPNameSteps(ENTITY* entity, const QELXIdentifier& source, int bit) const;
    void layerStep(ENTITY* entity, const QELXIdentifier& source, int referenceLayer) const;
    void psetAndMdiStep(BODY* body, const QELXIdentifier& source) const;
    static void resultEvent(const QELXIdentifier& source, ENTITY* entity, const char* type);
    // Starts a road: a new cocoon in `out`; false with a null handle without
    // source exporter, or without geometry exporter when the road needs one.
    bool openRoad(Ve_CocoonTagHandle& out, bool needsGeometry);
    // Wraps up a road's bracket: a failed one took everything back; broken
    // bodies are dropped, and the wire road's leftovers deleted.
    void finishRoad(const outcome& built, Ve_CocoonTag* cocoon, const QELXIdentifier& body, bool catalogued);

    QELXVelmWEdgeCatalogue m_wireEdges;
    QELXVelmWVertexCatalogue m_wireVertices;
};
