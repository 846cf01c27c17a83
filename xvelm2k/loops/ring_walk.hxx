#pragma once
// Bounded walks of coedge rings: a ring ends when it comes back to its start
// or stops, and never takes more steps than there are live kernel objects, so
// a ring that a faulty routine broke cannot keep a walk going for ever.
#include "velm/memory.hxx"
#include "velm/topology.hxx"

namespace ve_loops {

inline long ringWalkLimit() { return velm_live_object_count() + 1; }

// visit(coedge) for every coedge of the ring from `first` along `step`;
// visit returns false to stop. False when the walk hit the bound.
template <class Step, class Visit>
bool walkRing(COEDGE* first, Step step, Visit visit)
{
    const long limit = ringWalkLimit();
    long steps = 0;
    for (COEDGE* c = first; c;) {
        if (++steps > limit)
            return false;
        if (!visit(c))
            return true;
        c = step(c);
        if (c == first)
            return true;
    }
    return true;
}

template <class Visit>
bool forEachLoopCoedge(const LOOP* loop, Visit visit)
{
    return walkRing(loop ? loop->start() : nullptr, [](COEDGE* c) { return c->next(); }, visit);
}

template <class Visit>
bool forEachPartner(COEDGE* first, Visit visit)
{
    return walkRing(first, [](COEDGE* c) { return c->partner(); }, visit);
}

} // namespace ve_loops
