#pragma once
// Body sets and body builders. A Ve_CocoonTag is the set of kernel bodies that
// import, stitching, healing and the assembly importer hand to one another,
// always through a Ve_CocoonTagHandle; the bodies are not owned by the set.
#include "model/containers.hxx"
#include "model/entity_views.hxx"
#include "qelx/qelx_refcount.hxx"
#include "xvelm2k/export.hxx"

class BODY;
class LUMP;
class SHELL;
class FACE;
class WIRE;
class COEDGE;
class Gk_ImportContext;

// Exported so that sibling connectors and the tests can hold sets directly.
class XVELM2KA_API Ve_CocoonTag : public QELXReferenceCount {
public:
    Ve_CocoonTag() = default;
    explicit Ve_CocoonTag(QELXDynamicArray<Ve_BodyTag*> bodies);
    ~Ve_CocoonTag() override;

    const char* GetName() const override { return "Ve_CocoonTag"; }

    void setBodies(QELXDynamicArray<Ve_BodyTag*> bodies);
    QELXDynamicArray<Ve_BodyTag*> getBodies() const;
    int getNumberOfBodies() const { return m_bodies.Count(); }
    // In order, after the bodies already held (null entries included).
    void appendBodies(QELXDynamicArray<Ve_BodyTag*> bodies);
    void appendBody(Ve_BodyTag* body);
    // The standard repair of each body, in order (the healing used when no
    // recipe switch is set).
    void repairBodies();

private:
    QELXDynamicArray<Ve_BodyTag*> m_bodies;
};

class XVELM2KA_API Ve_CocoonTagHandle : public QELXTypedHandle<Ve_CocoonTag> {
public:
    Ve_CocoonTagHandle() = default;
    Ve_CocoonTagHandle(Ve_CocoonTag* cocoon) : QELXTypedHandle<Ve_CocoonTag>(cocoon) {}
    Ve_CocoonTagHandle(const Ve_CocoonTagHandle&) = default;
    Ve_CocoonTagHandle& operator=(const Ve_CocoonTagHandle&) = default;
    ~Ve_CocoonTagHandle() override = default;
};

// Builds bodies from loose faces into the set it holds.
class XVELM2KA_API Ve_BodyCntl {
public:
    // Holds a new, empty set.
    Ve_BodyCntl();
    explicit Ve_BodyCntl(Ve_CocoonTagHandle& cocoon) : m_cocoon(cocoon) {}
    Ve_BodyCntl(const Ve_BodyCntl&) = default;
    Ve_BodyCntl& operator=(const Ve_BodyCntl&) = default;
    ~Ve_BodyCntl() = default;

    Ve_CocoonTagHandle getCocoon() const { return m_cocoon; }

    // One body from the faces that belong to no shell: each such face starts a
    // shell of the faces connected to it, all shells in one lump. With
    // `separate` the kernel then splits it into bodies by shells and lumps.
    // Every body made is appended to the set.
    void createFromFaceData(const QELXDynamicArray<Ve_FaceTag*>& faces, bool separate);
    void minimizeVertexReferals(Ve_VertexTag* vertex);

    // A new lump at the head of the body's lumps, holding the shell chain.
    static LUMP* newLump(BODY* body, SHELL* firstShell);
    // A new shell of the face and every loose face connected to it through
    // shared edges (depth-first); null when the face is null or in a shell.
    static SHELL* newShell(FACE* face);
    // Pulls into the shell every face without shell reachable from `face`
    // through partner coedges, linking each after `tail` (which moves on).
    static void fillShell(FACE* face, FACE*& tail, SHELL* shell);

private:
    Ve_CocoonTagHandle m_cocoon;
};

// The small builder used while wires are assembled.
class XVELM2KA_API Ve_WireBodyCntl {
public:
    Ve_WireBodyCntl(Ve_CocoonTag* cocoon, Gk_ImportContext* context) : m_cocoon(cocoon), m_context(context) {}
    Ve_WireBodyCntl(const Ve_WireBodyCntl&) = default;
    Ve_WireBodyCntl& operator=(const Ve_WireBodyCntl&) = default;
    ~Ve_WireBodyCntl() = default;

    Ve_CocoonTagHandle getCocoon() const { return m_cocoon; }
    Gk_ImportContext* getImportContext() const { return m_context; }
    // The first body of the set; null for an empty set.
    Ve_BodyTag* getBody() const;
    // From the coedge backwards (previous links), every coedge without wire
    // gets the wire, and the walk goes on forwards (next links) from each;
    // it stops at coedges that already have a wire.
    void connectWire(WIRE* wire, COEDGE* coedge);

private:
    Ve_CocoonTagHandle m_cocoon;
    Gk_ImportContext* m_context;
};
