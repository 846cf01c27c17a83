#include "loops/containment_classifier.hxx"
#include "model/memory_init.hxx"
#include "velm/geometry.hxx"
#include "velm/topology.hxx"

#include <vector>

// Walks are iterative over sibling chains, so a face with thousands of holes
// costs no deep recursion; recursion goes only as deep as the tree.

void Ve_ContainmentClassifier::freeNodes(Ve_ContainmentSetElement* head)
{
    std::vector<Ve_ContainmentSetElement*> stack;
    if (head)
        stack.push_back(head);
    while (!stack.empty()) {
        Ve_ContainmentSetElement* node = stack.back();
        stack.pop_back();
        if (node->next())
            stack.push_back(node->next());
        if (node->child())
            stack.push_back(node->child());
        delete node;
    }
}

bool Ve_ContainmentClassifier::walk(Ve_ContainmentSetElementVisitor& visitor, Ve_ContainmentSetElement* node, int depth)
{
    if (!node) {
        if (m_failures && !walk(visitor, m_failures, depth))
            return false;
        if (!m_top)
            return true;
        node = m_top;
    }
    std::vector<Ve_ContainmentSetElement*> level;
    for (Ve_ContainmentSetElement* n = node; n; n = n->next()) {
        if (!visitor.visit(n, depth))
            return false;
        level.push_back(n);
    }
    for (auto it = level.rbegin(); it != level.rend(); ++it)
        if ((*it)->child() && !walk(visitor, (*it)->child(), depth + 1))
            return false;
    return true;
}

Ve_BoundaryElement* Ve_ContainmentClassifier::findEntry(const LOOP* loop)
{
    if (!loop)
        return nullptr;
    std::vector<Ve_ContainmentSetElement*> stack;
    if (m_top)
        stack.push_back(m_top);
    if (m_failures)
        stack.push_back(m_failures); // searched first
    while (!stack.empty()) {
        Ve_ContainmentSetElement* node = stack.back();
        stack.pop_back();
        Ve_BoundaryElement& e = node->element();
        if (e.first().loop() == loop || e.partner().loop() == loop)
            return &e;
        if (node->child())
            stack.push_back(node->child());
        if (node->next())
            stack.push_back(node->next());
    }
    return nullptr;
}

bool Ve_ContainmentClassifier::hasNestedFault(Ve_ContainmentSetElement* node, int depth) const
{
    for (Ve_ContainmentSetElement* n = node; n; n = n->next()) {
        const Ve_BoundaryElement& e = n->element();
        if (e.hasPartner() || e.first().isMisclassified() || e.partner().isMisclassified())
            return true;
    }
    for (Ve_ContainmentSetElement* n = node; n; n = n->next()) {
        if (!n->child())
            continue;
        if (depth + 1 > 1 || hasNestedFault(n->child(), depth + 1))
            return true;
    }
    return false;
}

bool Ve_ContainmentClassifier::isClean() const
{
    if (m_failures || !m_top || m_top->next())
        return false;
    const Ve_BoundaryElement& e = m_top->element();
    if (e.hasPartner() || e.first().isMisclassified())
        return false;
    return !hasNestedFault(m_top->child(), 1);
}

void Ve_UpdatePeripheryOrHoleBndryType::mark(Ve_ContainmentSetElement* node, int depth)
{
    Ve_LoopElement& first = node->element().first();
    const int type = first.type();
    if ((depth % 2 == 0 && type == 2) || (depth % 2 == 1 && type == 1))
        first.setMisclassified(true);
}

bool Ve_UpdatePeripheryOrHoleBndryType::visit(Ve_ContainmentSetElement* node, int depth)
{
    ++m_visited;
    mark(node, depth);
    return true;
}

namespace {

// Loops round this surface's parameters close up all round it (a sphere, a
// torus): a face there is bounded by holes alone as well as by a periphery.
bool closesUpAllRound(const LOOP* loop)
{
    const FACE* face = loop ? loop->face() : nullptr;
    const SURFACE* s = face ? face->geometry() : nullptr;
    if (!s || !s->has_equation())
        return false;
    const surface& srf = s->equation();
    auto endsSingular = [&](bool inU) {
        const QELinterval r = inU ? srf.param_range_u() : srf.param_range_v();
        if (!r.finite())
            return false;
        return inU ? srf.singular_u(r.start_pt()) && srf.singular_u(r.end_pt())
                   : srf.singular_v(r.start_pt()) && srf.singular_v(r.end_pt());
    };
    return (srf.closed_u() || srf.periodic_u() || endsSingular(true)) &&
           (srf.closed_v() || srf.periodic_v() || endsSingular(false));
}

// Every coedge of the loop meets a partner running the other way along
// their edge (the face beside it, or the face itself across its seam): the
// loop agrees with its neighbours about the side its face lies on.
bool agreesWithItsNeighbours(const LOOP* loop)
{
    const COEDGE* start = loop ? loop->start() : nullptr;
    if (!start)
        return false;
    const COEDGE* c = start;
    do {
        const COEDGE* partner = c->partner();
        if (!partner || partner == c || partner->partner() != c || partner->sense() == c->sense())
            return false;
        c = c->next();
    } while (c && c != start);
    return c == start;
}

} // namespace

bool Ve_UpdateSeparationBndryType::visit(Ve_ContainmentSetElement* node, int depth)
{
    ++m_visited;
    if (node->element().hasPartner())
        return true;
    // A hole at the top of a face on a surface that closes up all round is
    // a sound boundary when the faces beside it agree: marking it would turn
    // the face into its complement (a sphere less a cap into the cap).
    Ve_LoopElement& first = node->element().first();
    if (depth == 0 && first.type() == 2 && closesUpAllRound(first.loop()) &&
        agreesWithItsNeighbours(first.loop()))
        return true;
    mark(node, depth);
    return true;
}
