#pragma once
// Builds kernel bodies topologically from one source body: every face, loop,
// coedge, edge and vertex of the source becomes one kernel entity, found again
// through the catalogues wherever the source shares it, so faces meet in shared
// edges and vertices. Geometry comes through the pairs; attributes, aliases and
// layers are carried over; faces left without a surface are dropped.
#include "import/import_catalogues.hxx"
#include "model/body_set.hxx"
#include "qelx/gk_import.hxx"

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

class BODY;
class COEDGE;
class EDGE;
class FACE;
class LOOP;
class LUMP;
class SHELL;
class VERTEX;
class Gk_ImportContext;
class QELXAttributeExporter;
class QELXVelmAliasAttributeImporter;
class QELXVelmBRepImporter;

class XVELM2KA_API QELXVelmBRepCreator : public Ve_BodyCntl {
public:
    QELXVelmBRepCreator(QELXBRepExporter* exporter, Gk_ImportContext* context, QELXVelmBRepImporter* importer);
    QELXVelmBRepCreator(const QELXVelmBRepCreator&) = delete;
    QELXVelmBRepCreator& operator=(const QELXVelmBRepCreator&) = delete;
    virtual ~QELXVelmBRepCreator();

    virtual Ve_CocoonTagHandle GetCocoon();
    // Find or make: a source face or loop never seen gets a new entity at once.
    virtual FACE* GetFace(const QELXIdentifier& face);
    virtual LOOP* GetLoop(const QELXIdentifier& loop);
    // The loop made for the identifier so far, or null (nothing is made).
    LOOP* FindLoop(const QELXIdentifier& loop) const;
    // Null for an identifier that is not valid.
    virtual VERTEX* GetVertex(const QELXIdentifier& vertex);
    // Without create: a lookup only.
    virtual COEDGE* GetCoedge(const QELXIdentifier& coedge, bool create);
    virtual EDGE* GetEdge(const QELXIdentifier& edge, bool create);

    void CreateSolidBody(const QELXIdentifier& body);
    void CreateSheetBody(const QELXIdentifier& body);
    void CreateFaceBodies(const QELXIdentifier& body);

    void CreateLumpShells(const QELXIdentifier& lump, LUMP* kernelLump);
    void FillShell(const QELXIdentifier& shell, SHELL* kernelShell, bool solid);
    void CreatePairs(const QELXIdentifier& body);
    void FinishEntities(const QELXIdentifier& body);
    void TransferAliases(const QELXIdentifier& source, ENTITY* entity);
    // The point of a source vertex moved by the import morph (as a point);
    // false without geometry exporter or when it is not a number, so that no
    // vertex is placed nowhere.
    bool GetSourcePoint(const QELXIdentifier& vertex, QELXPoint3D& point) const;

    QELXBRepExporter* GetExporter() const { return m_exporter; }
    Gk_ImportContext* GetImportContext() const { return m_context; }
    QELXVelmBRepImporter* GetImporter() const { return m_importer; }
    QELXAttributeExporter* GetAttributeExporter() const { return m_attributes; }

    // Catalogue sizes (entries met so far).
    int GetNumberOfFaces() const { return m_faces.Count(); }
    int GetNumberOfEdges() const { return m_edges.Count(); }
    int GetNumberOfVertices() const { return m_vertices.Count(); }

    // A warning naming the source body that was not (wholly) imported, and
    // why (the trim roads' too).
    static void warnNotImported(const QELXIdentifier& body, const char* why);

protected:
    // The switches the finishing steps read (the PID and PName counts are bit
    // sets by entity kind).
    struct Switches {
        Switches();
        bool attributes;
        int pid;
        int pname;
        bool layer;
    };
    // The source body's own layer, -1 when not answered.
    int bodyLayer(const QELXIdentifier& body) const;
    // The framework's progress callback for that entity word.
    Gk_ObsWraper callbackFor(const char* entity) const;
    // Bodies of the cocoon from `firstBody` on that the kernel's checker finds
    // structurally broken leave it for `refused`, each with a warning naming
    // the source body.
    void dropBadBodies(Ve_CocoonTag* cocoon, const QELXIdentifier& body, int firstBody, std::vector<BODY*>& refused);
    // " at BRep edge 3000000000001": the source entity a kernel entity was
    // made from, as a refusal names it; "" when it was made from none.
    std::string sourcePlaceOf(const ENTITY* entity) const;
    // The refused bodies, and catalogued entities that ended in no body of the
    // cocoon, are deleted and forgotten, so that bad source data leaves
    // nothing behind and takes nothing of the kept bodies along.
    void discardOrphans(Ve_CocoonTag* cocoon, std::initializer_list<QELXCatalogue*> catalogues,
                        const std::vector<BODY*>& refused);
    // After a failed bracket the board took back everything made: the catalogues
    // forget it and the cocoon drops the bodies from `firstBody` on.
    void forgetAfterRollback(Ve_CocoonTag* cocoon, std::initializer_list<QELXCatalogue*> catalogues, int firstBody);

private:
    enum class Road { Solid, Sheet, Faces };
    void build(const QELXIdentifier& body, Road road);
    // Calls fn(face identifier) for every face of the body on that road.
    template <class Fn>
    void forEachFace(const QELXIdentifier& body, Road road, Fn&& fn);
    int facePass(const QELXIdentifier& body, Road road);
    void edgePass(const QELXIdentifier& body, Road road);
    void assemble(const QELXIdentifier& body, Road road);
    void relinkVertices();
    void turnLoopsUnderReflection();
    // Takes a loop without coedges off its face and loses it.
    static void dropEmptyLoop(LOOP* loop);
    // Loops that only walk seams both ways, on faces the kernel's loop check
    // refuses for them, go from the bodies of the cocoon from `firstBody` on.
    void dropSlitLoops(Ve_CocoonTag* cocoon, int firstBody,
                       std::initializer_list<QELXCatalogue*> catalogues);
    void removeFacesWithoutSurface(const char* warning);
    void finishEntity(ENTITY* entity, const QELXIdentifier& source, int bit, const Gk_ObsWraper& callback,
                      int referenceLayer);

    QELXVelmFaceCatalogue m_faces;
    QELXVelmLoopCatalogue m_loops;
    QELXVelmCoedgeCatalogue m_coedges;
    QELXVelmEdgeCatalogue m_edges;
    QELXVelmVertexCatalogue m_vertices;
    struct LumpEntry {
        QELXIdentifier source;
        LUMP* lump = nullptr;
    };
    QELXDynamicArray<LumpEntry> m_lumps;
    // Faces of the body being built whose every loop was empty, taken off
    // their bodies with the faces without a surface.
    std::vector<FACE*> m_boundingNothing;
    QELXBRepExporter* m_exporter;
    QELXAttributeExporter* m_attributes = nullptr;
    Gk_ImportContext* m_context;
    QELXVelmBRepImporter* m_importer;
    std::unique_ptr<QELXVelmAliasAttributeImporter> m_aliases;
};
