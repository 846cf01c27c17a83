#pragma once
// Vertex clean-up of one body after import: redundant vertices dissolved,
// duplicate vertices merged by replacement or by changing vertex geometry.
// Every repair keeps one edge reference per edge group at each vertex.
#include "model/containers.hxx"
#include "xvelm2k/export.hxx"

class BODY;
class EDGE;
class ENTITY;
class ENTITY_LIST;
class LOOP;
class VERTEX;

class XVELM2KA_API Ve_VertexUtil {
public:
    explicit Ve_VertexUtil(BODY* b) : body(b) {}

    // A vertex where exactly two straight or two elliptic edges join smoothly
    // goes, and its two edges become one; shell by shell.
    void removeRedundantVertices();
    // Every vertex within QELresabs of a later one is replaced by it; per
    // shell (the body itself without shells).
    void remDuplVerticesByReplaceVert();
    // Overlapping loop edges joined, then coincident vertices merged, moving
    // tolerant vertices or collapsing tiny edges; between task events.
    void remDuplVerticesByChangeVertGeom();

    // The two strategies within one entity; the healing steps call them with a body.
    void remEntityDuplVerticesByReplaceVert(ENTITY* entity);
    void remEntityDuplVerticesByChangeVertGeom(ENTITY* entity);

private:
    bool getPole(EDGE* edge, VERTEX* vertex);
    bool sameEdgeGroup(VERTEX* vertex, EDGE* first, EDGE* second) const;
    bool removeEdgeGroup(VERTEX* vertex, EDGE* edge) const;
    void loops_around_vertex(VERTEX* vertex, ENTITY_LIST* loops) const;
    int BelongToSameLoop(VERTEX* a, VERTEX* b, LOOP*& loop);
    int HaveCommonEdge(VERTEX* a, VERTEX* b);
    bool checkAndFixEdgeGroup(EDGE* edge);
    void UpdateTolerance(VERTEX* vertex);
    void replaceVertex(VERTEX* oldVertex, VERTEX* newVertex, EDGE* edge) const;
    int FixOverlappingEdges(LOOP* loop);
    int WillReplacementLeadToNMVer(VERTEX* a, VERTEX* b);
    void replaceVtxByAdjacentVtx(VERTEX* a, VERTEX* b, bool bTolerant, QELXDynamicArray<ENTITY*>& candidates, int j);
    // The redundant-vertex merge of item 9: e1 ends and e2 starts at v.
    void mergeAcross(VERTEX* v, EDGE* e1, EDGE* e2, bool straight);

    BODY* body;
};

// The decorated name of the kernel's api_check_entity2 as sibling libraries
// look it up.
class XVELM2KA_API Ve_FuncName {
public:
    static const char* getapi_entity_check2();
};
