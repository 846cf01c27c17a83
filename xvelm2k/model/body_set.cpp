// Body sets and the wire body builder.
#include "model/body_set.hxx"

#include "model/memory_init.hxx"
#include "velm/topology.hxx"

// ---------------------------------------------------------------------------
// Ve_CocoonTag

Ve_CocoonTag::Ve_CocoonTag(QELXDynamicArray<Ve_BodyTag*> bodies) : m_bodies(std::move(bodies)) {}

Ve_CocoonTag::~Ve_CocoonTag() = default;

void Ve_CocoonTag::setBodies(QELXDynamicArray<Ve_BodyTag*> bodies)
{
    m_bodies = std::move(bodies);
}

QELXDynamicArray<Ve_BodyTag*> Ve_CocoonTag::getBodies() const
{
    return m_bodies;
}

void Ve_CocoonTag::appendBodies(QELXDynamicArray<Ve_BodyTag*> bodies)
{
    m_bodies.Append(bodies);
}

void Ve_CocoonTag::appendBody(Ve_BodyTag* body)
{
    m_bodies.Add(body);
}

// ---------------------------------------------------------------------------
// Ve_WireBodyCntl

Ve_BodyTag* Ve_WireBodyCntl::getBody() const
{
    const Ve_CocoonTag* cocoon = m_cocoon.get();
    if (!cocoon || cocoon->getNumberOfBodies() == 0)
        return nullptr;
    return cocoon->getBodies()[0];
}

void Ve_WireBodyCntl::connectWire(WIRE* wire, COEDGE* coedge)
{
    // Every coedge linked to the start through coedges without wire gets the
    // wire. A pending stack instead of recursion: a wire of many thousand
    // coedges must not exhaust the call stack.
    QELXDynamicArray<COEDGE*> pending;
    pending.Add(coedge);
    while (pending.Count() > 0) {
        COEDGE* c = pending[pending.Count() - 1];
        pending.RemoveAt(pending.Count() - 1);
        for (; c && !c->wire(); c = c->previous()) {
            c->set_wire(wire);
            if (c->next())
                pending.Add(c->next());
        }
    }
}
