// Building bodies from loose faces: shells by face connectivity, one lump for
// all shells, then (on request) the kernel's separation into bodies.
#include "model/body_set.hxx"
#include "model/kernel_call_bracket.hxx"
#include "model/memory_init.hxx"
#include "velm/build.hxx"
#include "velm/topology.hxx"

namespace {

// The partner coedges seen from one face, in the order loops (chain), their
// coedges (ring from the start), the partners around each coedge (ring).
// Resumable, so the depth-first fill keeps its order on an explicit stack.
class NeighbourWalk {
public:
    NeighbourWalk() = default;
    explicit NeighbourWalk(const FACE* face) : m_loop(face->loop()), m_coedge(m_loop ? m_loop->start() : nullptr) {}

    COEDGE* next()
    {
        while (m_loop) {
            if (m_coedge) {
                COEDGE* p = m_partner ? m_partner->partner() : m_coedge->partner();
                if (p && p != m_coedge) {
                    m_partner = p;
                    return p;
                }
                m_partner = nullptr;
                COEDGE* n = m_coedge->next();
                m_coedge = n != m_loop->start() ? n : nullptr;
                if (m_coedge)
                    continue;
            }
            m_loop = m_loop->next();
            m_coedge = m_loop ? m_loop->start() : nullptr;
            m_partner = nullptr;
        }
        return nullptr;
    }

private:
    const LOOP* m_loop = nullptr;
    COEDGE* m_coedge = nullptr;
    COEDGE* m_partner = nullptr;
};

} // namespace

// ---------------------------------------------------------------------------
// Static builders

void Ve_BodyCntl::fillShell(FACE* face, FACE*& tail, SHELL* shell)
{
    // Depth-first, as a recursion over the faces would go, but on an explicit
    // stack: a connected sheet of 100,000 faces stays off the call stack.
    QELXDynamicArray<NeighbourWalk> stack;
    stack.Add(NeighbourWalk(face));
    while (stack.Count() > 0) {
        COEDGE* partner = stack[stack.Count() - 1].next();
        if (!partner) {
            stack.RemoveAt(stack.Count() - 1);
            continue;
        }
        const LOOP* loop = partner->loop();
        FACE* neighbour = loop ? loop->face() : nullptr;
        // Only loose faces join: a face of another shell is never moved.
        if (!neighbour || neighbour->shell())
            continue;
        neighbour->set_next(nullptr);
        neighbour->set_shell(shell);
        tail->set_next(neighbour);
        tail = neighbour;
        stack.Add(NeighbourWalk(neighbour));
    }
}

SHELL* Ve_BodyCntl::newShell(FACE* face)
{
    if (!face || face->shell())
        return nullptr;
    SHELL* shell = velm_require(VELM_NEW SHELL());
    // A loose face may still point at a former neighbour; the shell's chain starts clean.
    face->set_next(nullptr);
    shell->set_face(face);
    face->set_shell(shell);
    FACE* tail = face;
    fillShell(face, tail, shell);
    return shell;
}

LUMP* Ve_BodyCntl::newLump(BODY* body, SHELL* firstShell)
{
    if (!body)
        return nullptr;
    LUMP* lump = velm_require(VELM_NEW LUMP());
    lump->set_shell(firstShell);
    for (SHELL* s = firstShell; s; s = s->next())
        s->set_lump(lump);
    lump->set_body(body);
    lump->set_next(body->lump());
    body->set_lump(lump);
    return lump;
}

// ---------------------------------------------------------------------------
// Ve_BodyCntl

Ve_BodyCntl::Ve_BodyCntl() : m_cocoon(new Ve_CocoonTag) {}

void Ve_BodyCntl::minimizeVertexReferals(Ve_VertexTag* vertex)
{
    if (vertex)
        vertex->minimizeReferals();
}

void Ve_BodyCntl::createFromFaceData(const QELXDynamicArray<Ve_FaceTag*>& faces, bool separate)
{
    Ve_CocoonTag* cocoon = m_cocoon.get();
    if (!cocoon)
        return;
    BODY* body = nullptr;
    // Built in one bracket: a kernel failure part way takes every new shell back.
    const outcome built = velmInnerCall([&] {
        SHELL* first = nullptr;
        SHELL* last = nullptr;
        for (Ve_FaceTag* f : faces) {
            SHELL* shell = newShell(reinterpret_cast<FACE*>(f));
            if (!shell)
                continue;
            if (last)
                last->set_next(shell);
            else
                first = shell;
            last = shell;
        }
        if (!first)
            return;
        body = velm_require(VELM_NEW BODY());
        newLump(body, first);
    });
    if (!built.ok() || !body)
        return;

    ENTITY_LIST split;
    if (separate) {
        // A failed separation is rolled back: the body stays as built, and
        // the pieces it had begun to make are gone.
        const outcome separated = velmInnerCall([&] {
            separate_body_shells(body, split);
            separate_body_lumps(body, split);
        });
        if (!separated.ok())
            split.clear();
    }
    // The body and every body the separation made: none is dropped.
    cocoon->appendBody(ve_view<Ve_BodyTag>(body));
    for (int i = 0, n = split.count(); i < n; ++i)
        if (ENTITY* piece = split[i])
            cocoon->appendBody(ve_view<Ve_BodyTag>(piece));
}
